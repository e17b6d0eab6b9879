// Prints what playing sounds cost the main thread on one core, as the
// minimum and the median over the frames: eight engine sounds updated and
// mixed at 35 frames a second, the per-frame update of 64 playing sounds, and
// that update while streamed sounds are being refilled (on the sound event
// thread, which the main thread never waits for).
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/EngineSound.h"
#include "Audio/Sound2D.h"
#include "Audio/Sound3D.h"
#include "Audio/SoundEventHandler.h"

#include "BenchFigures.h"
#include "SoundBenchSupport.h"
#include "SoundSamples.h"

#include "Core/FileArray.h"
#include "Core/Timer.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using SoundBench::now;
using SoundBench::Sound;

// Times of frames paced at 35 a second, each running beforeFrame (untimed),
// then work and Audio::update (timed). The core stays busy between frames, as
// the game's rendering keeps it.
std::vector<double> frameTimes(int frames, void (*work)() = nullptr, void (*beforeFrame)() = nullptr)
{
    std::vector<double> times;
    for (int i = 0; i < frames; ++i) {
        const double start = now();
        if (beforeFrame)
            beforeFrame();
        const double t0 = now();
        if (work)
            work();
        Audio::update();
        times.push_back(now() - t0);
        while (now() - start < 1.0 / 35.0) {
        }
    }
    return times;
}

std::vector<std::unique_ptr<Audio::EngineSound>> engines;
float ramp = 0.0f;

// A throttle held open over a speed ramp through the gears, again and again.
void driveEngines()
{
    ramp = ramp > 3.5f ? 0.0f : ramp + 0.02f;
    for (auto& e : engines) {
        e->smoothThrottle(1.0f, gFrameFactor.load());
        e->speed = ramp;
        e->update();
    }
}

// Each engine's last mix as far behind its play cursor as a device playing
// in real time leaves it after a frame of 35 a second at the engine's pitch.
void realTimeCursor()
{
    for (auto& e : engines) {
        DWORD play = 0, write = 0;
        e->carrier->buffer->GetCurrentPosition(&play, &write);
        const uint32_t n = Audio::SoundMixer::loopLength;
        const uint32_t played = uint32_t(44100.0f * e->carrier->frequencyScale / 35.0f);
        e->lastCursor = (play / 2 + n - played) % n;
    }
}

}

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    Audio::init(GetDesktopWindow());
    std::printf("sound device: %s\n", Audio::isEnabled() ? "open" : "none");

    std::vector<std::unique_ptr<Sound>> loops;
    for (int i = 0; i < 4; ++i)
        loops.push_back(std::make_unique<Sound>(SoundSamples::wav(SoundSamples::engineLoop(i)),
                                                Audio::FileRef::typeWav, SoundSamples::engineLoopNames[i]));
    std::vector<vec3d> positions(8);
    for (int i = 0; i < 8; ++i) {
        positions[size_t(i)] = vec3d{float(i) * 10.0f, 0.0f, 0.0f};
        engines.push_back(std::make_unique<Audio::EngineSound>());
        engines.back()->init(&loops[0]->ref, &loops[1]->ref, &loops[2]->ref, &loops[3]->ref, &positions[size_t(i)]);
    }
    // Eight engine sounds updated and mixed per frame. Wine's silent device
    // plays about three times faster than real time, and each mix rewrites
    // six times what was played since the last one: its windows are about
    // three times what a real device gives, whose pace the second figure takes.
    BenchFigures::print("8 engines, update and mix, silent device (limit 0.2 ms)",
                        BenchFigures::of(frameTimes(400, driveEngines)), 1e3, "ms");
    BenchFigures::print("8 engines, update and mix, real-time device (limit 0.2 ms)",
                        BenchFigures::of(frameTimes(400, driveEngines, realTimeCursor)), 1e3, "ms");
    for (auto& e : engines)
        e->release();
    engines.clear();

    // 64 positional sounds playing at once.
    Sound shortSound(SoundSamples::wav(SoundSamples::tone(3.0, 1)), Audio::FileRef::typeWav, L"tone.wav");
    Audio::AudioFile* file = Audio::AudioFile::get(&shortSound.ref, 8, 64, 8);
    file->setupBuffers(true, true, true, false);
    for (int i = 0; i < 64; ++i)
        Audio::Sound3D::create(file)->setPosition(vec3d{float(i), 0.0f, 0.0f})->play(true);
    BenchFigures::print("Audio::update with 64 playing sounds (limit 0.05 ms)",
                        BenchFigures::of(frameTimes(200)), 1e3, "ms");

    // Four streams refilled on the event thread meanwhile.
    Sound longSound(SoundSamples::wav(SoundSamples::tone(12.0, 2)), Audio::FileRef::typeWav, L"long.wav");
    Audio::AudioFile* streamed = Audio::AudioFile::get(&longSound.ref, 0, 1, 1);
    streamed->setupBuffers(true, false, false, false);
    std::vector<std::unique_ptr<Audio::Sound2D>> streams;
    for (int i = 0; i < 4; ++i) {
        streams.push_back(std::make_unique<Audio::Sound2D>(streamed));
        streams.back()->play(true);
    }
    std::printf("four streams registered with the event thread: %d\n", Audio::gSoundEvents.count());
    BenchFigures::print("the same while the event thread refills them (limit 0.05 ms)",
                        BenchFigures::of(frameTimes(200)), 1e3, "ms");
    streams.clear();
    Audio::release();
    return 0;
}
