#pragma once

#include "Audio/AudioFile.h"
#include "Audio/SoundInterface.h"

namespace Audio::SoundPool {

// A pooled sound of class T bound to file that recycles itself, or T's
// shared dummy when the sound could get no buffer: audio off, no file, or the
// file's pool spent.
template <class T>
T* create(AudioFile* file)
{
    if (!file || !file->canLendBuffer())
        return &T::dummySound();
    T* sound = T::pool().create();
    if (!sound)
        return &T::dummySound();
    sound->bind(file);
    sound->recycles = 1;
    return sound;
}

// Puts sound back into T's pool. Final: the sound is stopped there and no
// later stop, pause or resume reaches the pool again until create hands it
// out anew.
template <class T>
void recycle(T& sound)
{
    if (sound.dummy || !sound.recycles)
        return;
    sound.recycles = 0;
    sound.state = SoundInterface::stopped;
    T::pool().release(&sound);
}

}
