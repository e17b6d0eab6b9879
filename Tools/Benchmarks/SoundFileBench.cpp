// Prints what sound files cost on one core, as the minimum and the median
// over the repeats: decoding one half of an Ogg
// stream buffer (0x40002 bytes, 1.5 s of 44.1 kHz stereo) as the sound event
// thread does per refill, loading twenty short wavs with their buffers, and
// the per-frame Audio::update with 64 files loaded.
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"

#include "BenchFigures.h"
#include "SoundBenchSupport.h"
#include "SoundSamples.h"

#include "Core/FileArray.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

using SoundBench::now;
using SoundBench::Sound;

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    Audio::init(GetDesktopWindow());
    std::printf("sound device: %s\n", Audio::isEnabled() ? "open" : "none (buffers are not made)");

    // One stream half, decoded again and again from the middle of a long file.
    Sound ogg(SoundSamples::ogg(SoundSamples::tone(12.0, 2)), Audio::AudioFile::typeOgg, L"long.ogg");
    Audio::AudioFile* file = Audio::AudioFile::get(&ogg.ref, 0, 1, 1);
    std::vector<uint8_t> half(Audio::AudioFile::streamHalfBytes);
    std::vector<double> halfTimes;
    for (int i = 0; i < 20; ++i) {
        file->seek(uint32_t(i % 5) * 66150);
        const double t0 = now();
        file->read(half.data(), uint32_t(half.size()), true);
        halfTimes.push_back(now() - t0);
    }
    BenchFigures::print("ogg stream half (0x40002 bytes, 1.5 s stereo) (limit 10 ms)",
                        BenchFigures::of(halfTimes), 1e3, "ms");

    // Twenty short wavs: parse, hold in memory, master and three duplicates.
    const std::vector<uint8_t> click = SoundSamples::wav(SoundSamples::click());
    const std::vector<uint8_t> knock = SoundSamples::wav(SoundSamples::collision());
    std::vector<std::unique_ptr<Sound>> shorts;
    for (int i = 0; i < 20; ++i) {
        wchar_t name[32];
        _snwprintf(name, 32, L"short%d.wav", i);
        shorts.push_back(std::make_unique<Sound>(i % 2 ? click : knock, Audio::AudioFile::typeWav, name));
    }
    std::vector<double> loadTimes;
    for (int round = 0; round < 10; ++round) {
        const double t0 = now();
        for (auto& s : shorts)
            Audio::AudioFile::get(&s->ref, 3, 3, 3)->setupBuffers(true, true, false, false);
        loadTimes.push_back(now() - t0);
        for (auto& s : shorts)
            Audio::AudioFile::unloadByRef(s->ref);
    }
    BenchFigures::print("twenty short wavs loaded and buffered (limit 5 ms)",
                        BenchFigures::of(loadTimes), 1e3, "ms");

    // The frame step with 64 files listed (the shrink step runs once a second).
    std::vector<std::unique_ptr<Sound>> many;
    for (int i = 0; i < 64; ++i) {
        wchar_t name[32];
        _snwprintf(name, 32, L"file%d.wav", i);
        many.push_back(std::make_unique<Sound>(click, Audio::AudioFile::typeWav, name));
        Audio::AudioFile::get(&many.back()->ref, 1, 4, 1)->setupBuffers(true, false, false, false);
    }
    std::vector<double> frameTimes;
    for (int i = 0; i < 2000; ++i) {
        const double t0 = now();
        Audio::update();
        frameTimes.push_back(now() - t0);
    }
    BenchFigures::print("Audio::update with 64 files (limit 0.05 ms)",
                        BenchFigures::of(frameTimes), 1e3, "ms");
    Audio::release();
    return 0;
}
