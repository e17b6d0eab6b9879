// Prints what playing sounds cost the main thread on one core: eight engine
// sounds updated and mixed at 35 frames a second, the per-frame update of 64
// playing sounds, and that update while streamed sounds are being refilled
// (on the sound event thread, which the main thread never waits for).
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/EngineSound.h"
#include "Audio/Sound2D.h"
#include "Audio/Sound3D.h"
#include "Audio/SoundEventHandler.h"

#include "SoundBenchSupport.h"
#include "SoundSamples.h"

#include "Core/FileArray.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

using SoundBench::now;
using SoundBench::Sound;

// Mean milliseconds of Audio::update over frames paced at 35 a second. The
// core stays busy between frames, as the game's rendering keeps it.
double updateMilliseconds(int frames, void (*beforeUpdate)() = nullptr)
{
    double total = 0;
    for (int i = 0; i < frames; ++i) {
        const double t0 = now();
        if (beforeUpdate)
            beforeUpdate();
        Audio::update();
        const double t1 = now();
        total += t1 - t0;
        while (now() - t0 < 1.0 / 35.0) {
        }
    }
    return total / frames * 1e3;
}

std::vector<std::unique_ptr<Audio::EngineSound>> engines;
float ramp = 0.0f;

void driveEngines()
{
    ramp = ramp > 3.5f ? 0.0f : ramp + 0.02f;
    for (auto& e : engines) {
        e->smoothThrottle(1.0f);
        e->speed = ramp;
        e->update();
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
    const double engineFrame = updateMilliseconds(200, driveEngines) - updateMilliseconds(50);
    std::printf("eight engine sounds, update and mix: %.3f ms per frame (limit 0.2 ms)\n", engineFrame);
    // Wine's silent device plays about three times too fast, so the windows
    // above are about three times what a real device gives. The mix alone
    // with the window of real time: 2142 samples played per frame (35 frames
    // a second at pitch 1.7), so 6 x 2142 rewritten.
    double mixTotal = 0;
    constexpr int mixFrames = 200;
    for (int frame = 0; frame < mixFrames; ++frame) {
        for (auto& e : engines) {
            DWORD play = 0, write = 0;
            e->carrier->buffer->GetCurrentPosition(&play, &write);
            const uint32_t n = Audio::SoundMixer::loopLength;
            e->lastCursor = (play / 2 + n - 2142) % n;
            const double t0 = now();
            e->mix(e->carrier);
            mixTotal += now() - t0;
        }
    }
    std::printf("eight mixes at a real-time window (12852 samples): %.3f ms per frame\n", mixTotal / mixFrames * 1e3);
    for (auto& e : engines)
        e->release();
    engines.clear();

    // 64 one-shots and loops playing at once.
    Sound shortSound(SoundSamples::wav(SoundSamples::tone(3.0, 1)), Audio::FileRef::typeWav, L"tone.wav");
    Audio::AudioFile* file = Audio::AudioFile::get(&shortSound.ref, 8, 64, 8);
    file->setupBuffers(true, true, true, false);
    for (int i = 0; i < 64; ++i)
        Audio::Sound3D::create(file)->setPosition(vec3d{float(i), 0.0f, 0.0f})->play(true);
    std::printf("Audio::update with 64 playing sounds: %.4f ms per frame (limit 0.05 ms)\n", updateMilliseconds(100));

    // Four streams refilled on the event thread meanwhile.
    Sound longSound(SoundSamples::wav(SoundSamples::tone(12.0, 2)), Audio::FileRef::typeWav, L"long.wav");
    Audio::AudioFile* streamed = Audio::AudioFile::get(&longSound.ref, 0, 1, 1);
    streamed->setupBuffers(true, false, false, false);
    std::vector<std::unique_ptr<Audio::Sound2D>> streams;
    for (int i = 0; i < 4; ++i) {
        streams.push_back(std::make_unique<Audio::Sound2D>(streamed));
        streams.back()->play(true);
    }
    std::printf("the same with four streams refilling on the event thread (%d registered): %.4f ms per frame\n",
                Audio::gSoundEvents.count(), updateMilliseconds(100));
    streams.clear();
    Audio::release();
    return 0;
}
