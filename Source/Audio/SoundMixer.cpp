#include "Audio/SoundMixer.h"

#include "Audio/AudioFile.h"
#include "Audio/BufferLock.h"
#include "Audio/Sound3D.h"

#include <algorithm>
#include <cmath>

namespace Audio {

namespace {

float clampSample(float v)
{
    return std::clamp(v, -32767.0f, 32767.0f);
}

}

SoundMixer::SoundMixer()
{
    open();
}

void SoundMixer::open()
{
    if (file)
        return;
    lastCursor = 0;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 88200;
    format.nBlockAlign = 2;
    format.wBitsPerSample = 16;
    file = new AudioFile(String(L"Mixer"), format, uint32_t(length) * 2, nullptr, 0, 4, 1);
    file->ownerSlot = &file;
    file->setupBuffers(true, true, true, false);
}

SoundMixer::~SoundMixer()
{
    clear();
}

SoundMixer::Sound* SoundMixer::addSound(const FileRef* ref, float gain)
{
    auto sound = std::make_unique<Sound>();
    sound->mixer = this;
    sound->samples = std::make_unique<int16_t[]>(size_t(length));
    if (AudioFile* source = AudioFile::get(ref, 0, 4, 1)) {
        // Engines share their loop files: each reads the loop from its start.
        std::lock_guard<std::mutex> lock(source->decoderLock);
        source->seek(0);
        source->read(sound->samples.get(), uint32_t(length) * 2, false);
    }
    if (!std::isfinite(gain))
        gain = 0.0f;
    for (int32_t i = 0; i < length; ++i)
        sound->samples[i] = int16_t(clampSample(float(sound->samples[i]) * gain));
    sounds.push_back(std::move(sound));
    return sounds.back().get();
}

void SoundMixer::mix(Sound3D* carrier)
{
    if (!carrier || !carrier->buffer || sounds.empty())
        return;
    IDirectSoundBuffer8* target = carrier->buffer;
    DWORD play = 0;
    DWORD write = 0;
    if (FAILED(target->GetCurrentPosition(&play, &write)))
        return;
    const uint32_t n = uint32_t(length);
    const uint32_t cursor = std::min<uint32_t>(play / 2, n - 1);
    uint32_t played = cursor >= lastCursor ? cursor - lastCursor : n - lastCursor + cursor;
    played = std::clamp<uint32_t>(played, 1024, n);
    uint32_t start = 0;
    uint32_t count = n;
    if (lastCursor != 0) {
        start = uint32_t((int64_t(cursor) - 2 * int64_t(played) + 2 * int64_t(n)) % n);
        count = std::min<uint32_t>(6 * played, n);
    }

    float sum = 0.0f;
    for (const auto& sound : sounds)
        sum += std::isfinite(sound->level) ? sound->level : 0.0f;
    for (const auto& sound : sounds)
        sound->weight = sum > 0.0f && std::isfinite(sound->level) ? sound->level / sum : 0.0f;

    AudioFile::restoreBuffer(target);
    BufferLock lock(target, 0, n * 2);
    if (lock.locked() && lock.firstBytes >= n * 2) {
        int16_t* out = reinterpret_cast<int16_t*>(lock.first);
        float accumulator[1024];
        // In runs that neither wrap nor outgrow the accumulator, sound by sound.
        for (uint32_t done = 0; done < count;) {
            const uint32_t at = (start + done) % n;
            const uint32_t run = std::min({count - done, n - at, uint32_t(std::size(accumulator))});
            std::fill(accumulator, accumulator + run, 0.0f);
            for (const auto& sound : sounds) {
                const int16_t* in = sound->samples.get() + at;
                const float w = sound->weight;
                for (uint32_t i = 0; i < run; ++i)
                    accumulator[i] += float(in[i]) * w;
            }
            for (uint32_t i = 0; i < run; ++i)
                out[at + i] = int16_t(clampSample(volume * clampSample(accumulator[i])));
            done += run;
        }
    }
    lastCursor = cursor;
}

void SoundMixer::clear()
{
    sounds.clear();
    if (file) {
        file->ownerSlot = nullptr;
        delete file;
        file = nullptr;
    }
}

}
