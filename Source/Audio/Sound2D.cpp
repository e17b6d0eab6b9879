#include "Audio/Sound2D.h"

#include "Audio/SoundPool.h"

namespace Audio {

Sound2D::Sound2D(AudioFile* file_)
{
    bind(file_);
}

Sound2D::~Sound2D()
{
    stop();
}

MemoryFactory<Sound2D, 16>& Sound2D::pool()
{
    static MemoryFactory<Sound2D, 16> sounds;
    return sounds;
}

Sound2D& Sound2D::dummySound()
{
    static Sound2D dummy{DummyTag{}};
    return dummy;
}

Sound2D* Sound2D::create(AudioFile* file)
{
    return SoundPool::create<Sound2D>(file);
}

void Sound2D::recycle()
{
    SoundPool::recycle(*this);
}

}
