#pragma once

#include "Core/AudioFileRef.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace Audio {

class AudioFile;
class Sound3D;

// Mixes looping sources into one playing buffer: the mixer owns a sound file
// of raw 16-bit mono PCM ("Mixer", 44100 Hz, loopLength samples) that a
// carrier sound plays looped, and each frame rewrites the part of the
// carrier's buffer around its play cursor as the weighted sum of the loops.
// Main thread only.
class SoundMixer
{
public:
    static constexpr int32_t loopLength = 63107;

    // One source loop: loopLength samples scaled by its gain, and the level
    // its owner sets; the mix weighs it by level / the sum of levels. Mixers
    // that read the same file with the same gain share the samples (every
    // quad plays the same four loops), which keeps the mix in the cache.
    struct Sound
    {
        SoundMixer* mixer = nullptr;
        std::shared_ptr<const int16_t[]> samples;
        uint32_t kind = 0;
        float level = 0.0f;
        float weight = 0.0f;
        uint32_t changed = 0;
    };

    // Makes the mixer's file (open).
    SoundMixer();
    SoundMixer(const SoundMixer&) = delete;
    SoundMixer& operator=(const SoundMixer&) = delete;
    virtual ~SoundMixer();

    // The first loopLength samples of the sound ref names, read from its
    // start as 16-bit values (silence where it is shorter or missing), times
    // gain within -32767..32767.
    Sound* addSound(const FileRef* ref, float gain);
    // Rewrites the carrier's buffer around its play cursor: from 2d samples
    // behind it to 4d ahead, d the samples played since the last mix (1024
    // at least); the first mix writes the whole buffer. Nothing while the
    // carrier has no buffer.
    void mix(Sound3D* carrier);
    // Makes the mixer's file with its buffer description (volume, 3D and
    // frequency control) when there is none; no buffer is made before a
    // sound asks for one.
    void open();
    // Frees the loops and destroys the mixer's file.
    void clear();

    std::vector<std::unique_ptr<Sound>> sounds;
    int32_t length = loopLength;
    // Null once the file is gone (cleared here, or released with all files).
    AudioFile* file = nullptr;
    float volume = 1.0f;
    uint32_t lastCursor = 0; // samples
};

}
