#include "FakeSoundBuffer.h"
#include "SoundTestSupport.h"

#include "Audio/EngineSound.h"
#include "Audio/Sound3D.h"
#include "Core/Timer.h"

using namespace SoundTest;
using Audio::AudioFile;
using Audio::EngineSound;
using Audio::SoundMixer;

namespace {

DWORD fakeNow = 0;
DWORD WINAPI fakeClock()
{
    return fakeNow;
}

float levelOf(const EngineSound& e, int i)
{
    return e.loops[i]->level;
}

// The engine's four loops as wav files in memory, by the names the vehicle
// gives them.
struct Loops
{
    explicit Loops(const std::vector<SoundSamples::Pcm>& pcm)
    {
        for (size_t i = 0; i < 4; ++i)
            sounds[i] = std::make_unique<MemorySound>(SoundSamples::wav(pcm[i]), AudioFile::typeWav,
                                                      SoundSamples::engineLoopNames[i]);
    }
    const Audio::FileRef* ref(int i) const { return &sounds[size_t(i)]->ref; }
    std::unique_ptr<MemorySound> sounds[4];
};

SoundSamples::Pcm constant(int16_t value, uint32_t frames = SoundMixer::loopLength)
{
    SoundSamples::Pcm pcm;
    pcm.samples.assign(frames, value);
    return pcm;
}

void initEngine(EngineSound& engine, const Loops& loops, const vec3d* at = nullptr)
{
    engine.clock = fakeClock;
    engine.init(loops.ref(0), loops.ref(1), loops.ref(2), loops.ref(3), at);
}

}

TEST(EngineModel, LevelsCrossFadeAndAlwaysAddUpToOne)
{
    Loops loops({SoundSamples::engineLoop(0), SoundSamples::engineLoop(1), SoundSamples::engineLoop(2),
                 SoundSamples::engineLoop(3)});
    EngineSound engine;
    initEngine(engine, loops);
    for (float speed = -3.0f; speed <= 4.0f; speed += 0.25f) {
        for (float gas = 0.0f; gas <= 1.0f; gas += 0.125f) {
            engine.speed = speed;
            engine.throttle = gas;
            engine.update();
            float sum = 0.0f;
            for (int i = 0; i < 4; ++i) {
                EXPECT_GE(levelOf(engine, i), 0.0f);
                sum += levelOf(engine, i);
            }
            EXPECT_NEAR(sum, 1.0f, 1e-5f) << speed << " " << gas;
        }
    }
    // At rest off throttle only the low idle loop sounds.
    engine.speed = 0.0f;
    engine.throttle = 0.0f;
    engine.gear = 1;
    engine.update();
    EXPECT_EQ(levelOf(engine, 0), 1.0f);
    EXPECT_EQ(levelOf(engine, 1) + levelOf(engine, 2) + levelOf(engine, 3), 0.0f);
    // Full throttle atop gear 4: only the high load loop, pitch 1.7.
    engine.gear = 4;
    engine.gearOffset = 2.0f;
    engine.gearScale = 1.4f;
    engine.speed = 4.0f;
    engine.throttle = 1.0f;
    engine.update();
    EXPECT_EQ(levelOf(engine, 3), 1.0f);
    EXPECT_EQ(engine.gear, 4);
    EXPECT_FLOAT_EQ(engine.pitchTerm, 1.0f);
    EXPECT_FLOAT_EQ(engine.carrier->frequencyScale, 1.7f);
    // Nothing that is not a number reaches the model.
    engine.smoothThrottle(NAN, gFrameFactor.load());
    engine.speed = INFINITY;
    engine.update();
    EXPECT_TRUE(std::isfinite(engine.throttle));
    EXPECT_TRUE(std::isfinite(engine.getGearRatio()));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(std::isfinite(levelOf(engine, i)));
}

TEST(EngineModel, GearsShiftUpAndDownASecondApartAndHoldInReverse)
{
    Loops loops({constant(0), constant(0), constant(0), constant(0)});
    EngineSound engine;
    initEngine(engine, loops);
    engine.throttle = 1.0f;
    fakeNow = 5000;
    std::vector<std::pair<uint32_t, int32_t>> shifts;
    // A speed ramp: 0 to 3.6 in 6 s of 35 frames a second, then back down.
    for (int frame = 0; frame <= 420; ++frame) {
        fakeNow = 5000 + uint32_t(frame * 1000 / 35);
        engine.speed = frame <= 210 ? 3.6f * frame / 210.0f : 3.6f * (420 - frame) / 210.0f;
        const int32_t before = engine.gear;
        engine.update();
        if (engine.gear != before)
            shifts.emplace_back(fakeNow, engine.gear);
    }
    ASSERT_GE(shifts.size(), 6u);
    EXPECT_EQ(shifts[0].second, 2);
    EXPECT_EQ(shifts[1].second, 3);
    EXPECT_EQ(shifts[2].second, 4);
    EXPECT_EQ(shifts.back().second, 1);
    for (size_t i = 1; i < shifts.size(); ++i)
        EXPECT_GE(shifts[i].first - shifts[i - 1].first, 1000u) << "shift " << i;

    // Reverse: gear 1 with its reverse range, whatever the speed.
    engine.gear = 3;
    engine.speed = -2.5f;
    fakeNow += 5000;
    engine.update();
    EXPECT_EQ(engine.gear, 1);
    EXPECT_FLOAT_EQ(engine.gearScale, 1.8f);
    engine.update();
    EXPECT_EQ(engine.gear, 1);
}

TEST(EngineModel, GearRatioFollowsTheDriveCurveAndIsZeroWhileFree)
{
    Loops loops({constant(0), constant(0), constant(0), constant(0)});
    EngineSound engine;
    initEngine(engine, loops);
    const struct
    {
        int32_t gear;
        float offset, scale, top, exponent;
    } gears[] = {{1, 0.0f, 2.6f, 2.05f, 0.4f}, {2, 0.35f, 1.7f, 2.05f, 0.5f}, {3, 1.1f, 1.4f, 2.05f, 0.5f},
                 {4, 2.0f, 1.4f, 2.4f, 1.4f}};
    for (const auto& g : gears) {
        for (float speed : {-1.0f, 0.0f, 0.5f, 1.2f, 2.2f, 3.5f}) {
            for (float gas : {-1.0f, -0.3f, 0.0f, 0.6f, 1.0f}) {
                engine.gear = g.gear;
                engine.gearOffset = g.offset;
                engine.gearScale = g.scale;
                engine.speed = speed;
                engine.throttle = gas;
                const float x = (speed - g.offset) * g.scale;
                const float d = g.top - (gas >= 0.0f ? x : std::fabs(x));
                const float expected = d > 0.001f ? g.top * std::pow(d / g.top, g.exponent) * gas : d * gas;
                EXPECT_NEAR(engine.getGearRatio(), expected, 1e-5f) << g.gear << " " << speed << " " << gas;
            }
        }
    }
    engine.free = 1;
    EXPECT_EQ(engine.getGearRatio(), 0.0f);
}

TEST(EngineModel, ThrottleSmoothsWithTheFrameFactorAndDrivesAFreeEngine)
{
    Loops loops({constant(0), constant(0), constant(0), constant(0)});
    EngineSound engine;
    initEngine(engine, loops);
    const float savedFactor = gFrameFactor.load();
    gFrameFactor = 2.0f;
    engine.smoothThrottle(1.0f, gFrameFactor.load());
    EXPECT_FLOAT_EQ(engine.throttle, 0.2f);
    EXPECT_FLOAT_EQ(engine.load, 0.8f);
    EXPECT_EQ(engine.speed, 0.0f) << "coupled: the vehicle sets the speed";
    engine.free = 1;
    engine.gearOffset = 0.35f; // runs free in gear 2: towards twice the throttle above the gear's start
    engine.smoothThrottle(1.0f, gFrameFactor.load());
    EXPECT_FLOAT_EQ(engine.throttle, 0.36f);
    EXPECT_FLOAT_EQ(engine.speed, (2.0f * 0.36f + 0.35f) * 2.0f * 0.04f);
    engine.smoothThrottle(0.05f, gFrameFactor.load());
    EXPECT_EQ(engine.load, 0.0f) << "no load for an input within 0.1";
    gFrameFactor = savedFactor;
}

TEST(EngineMixer, WritesTheWeightedClampedSumInItsWindowOnly)
{
    // Gains 2.5, 1.8, 1.8, 1.8 scale the loops; the last one clamps.
    Loops loops({constant(1000), constant(2000), constant(-3000), constant(20000)});
    EngineSound engine;
    initEngine(engine, loops);
    EXPECT_EQ(engine.loops[0]->samples[100], 2500);
    EXPECT_EQ(engine.loops[1]->samples[100], 3600);
    EXPECT_EQ(engine.loops[3]->samples[100], 32767);

    FakeSoundBuffer buffer(SoundMixer::loopLength * 2);
    engine.carrier->buffer = &buffer;
    const float levels[4] = {1.0f, 1.0f, 2.0f, 0.0f}; // weights 0.25, 0.25, 0.5, 0
    for (int i = 0; i < 4; ++i)
        engine.loops[i]->level = levels[i];
    const auto sampleAt = [&](uint32_t j) {
        int16_t v;
        memcpy(&v, &buffer.bytes[j * 2], 2);
        return v;
    };
    const int16_t mixed = int16_t(2500 * 0.25f + 3600 * 0.25f + -5400 * 0.5f);

    buffer.playCursor = 20000;
    engine.mix(engine.carrier);
    for (uint32_t j = 0; j < SoundMixer::loopLength; j += 997)
        EXPECT_EQ(sampleAt(j), mixed) << "the first mix writes everything";
    EXPECT_EQ(sampleAt(SoundMixer::loopLength - 1), mixed);

    // The next mix: 3000 samples played, so from 6000 behind the cursor to
    // 12000 ahead of it, wrapping past the end.
    std::fill(buffer.bytes.begin(), buffer.bytes.begin() + buffer.size, uint8_t(0));
    engine.lastCursor = 62000;
    buffer.playCursor = (62000 + 3000 - SoundMixer::loopLength) * 2;
    const uint32_t cursor = buffer.playCursor / 2;
    engine.loops[3]->level = 4.0f; // the clamped loop: 32767 * 0.5 dominates
    engine.mix(engine.carrier);
    const int16_t withD = int16_t(std::clamp(2500 * 0.125f + 3600 * 0.125f - 5400 * 0.25f + 32767 * 0.5f, -32767.0f,
                                             32767.0f));
    const uint32_t n = SoundMixer::loopLength;
    for (int64_t k = -6000; k < 12000; k += 7)
        ASSERT_EQ(sampleAt(uint32_t((int64_t(cursor) + k + n) % n)), withD) << k;
    EXPECT_EQ(sampleAt((cursor + 12000) % n), 0) << "nothing beyond the window";
    EXPECT_EQ(sampleAt((cursor + n - 6001) % n), 0);
    EXPECT_EQ(engine.lastCursor, cursor);
    EXPECT_TRUE(buffer.canaryIntact());
    engine.carrier->buffer = nullptr;
}

TEST(EngineMixer, ARealBufferHoldsTheMixOverItsWindowAroundThePlayCursor)
{
    Device device;
    ASSERT_TRUE(device.ready());
    Loops loops({constant(1000), constant(2000), constant(-3000), constant(20000)});
    EngineSound engine;
    initEngine(engine, loops);
    IDirectSoundBuffer8* buffer = engine.carrier->buffer;
    ASSERT_NE(buffer, nullptr);
    const float levels[4] = {1.0f, 1.0f, 2.0f, 0.0f};
    for (int i = 0; i < 4; ++i)
        engine.loops[i]->level = levels[i];
    const int16_t mixed = int16_t(2500 * 0.25f + 3600 * 0.25f - 5400 * 0.5f);
    const uint32_t n = SoundMixer::loopLength;
    const auto samples = [&] {
        const Bytes bytes = bufferBytes(buffer, 0, n * 2);
        std::vector<int16_t> out(n);
        memcpy(out.data(), bytes.data(), std::min<size_t>(bytes.size(), n * 2));
        return out;
    };

    // Once the device has begun to play (waiting on its cursor, never on time).
    DWORD play = 0, write = 0;
    for (int i = 0; i < 2000 && play < 4000; ++i) {
        Sleep(1);
        buffer->GetCurrentPosition(&play, &write);
    }
    ASSERT_GE(play, 4000u);
    engine.lastCursor = 0;
    engine.mix(engine.carrier);
    std::vector<int16_t> held = samples();
    EXPECT_EQ(std::count(held.begin(), held.end(), mixed), long(n)) << "the first mix writes all of it";

    AudioFile::clearBuffer(buffer, 0, n * 2);
    const uint32_t before = engine.lastCursor;
    ASSERT_NE(before, 0u);
    engine.mix(engine.carrier);
    const uint32_t cursor = engine.lastCursor;
    const uint32_t d = std::clamp<uint32_t>((cursor + n - before) % n, 1024, n);
    held = samples();
    // A machine that stalled long enough between the two mixes gets the whole ring.
    const uint32_t window = std::min(6 * d, n);
    EXPECT_EQ(std::count(held.begin(), held.end(), mixed), long(window));
    if (window == n)
        return;
    for (int64_t k = -int64_t(2 * d) - 2; k < int64_t(4 * d) + 2; ++k) {
        const bool inside = k >= -int64_t(2 * d) && k < int64_t(4 * d);
        ASSERT_EQ(held[size_t((int64_t(cursor) + k + n) % n)], inside ? mixed : 0) << k;
    }
}

// The mix on each of its paths (fixed point for each number of loop pairs;
// float at another volume or with more loops than the fixed-point kernel
// pairs): the first mix fills the
// whole ring, a later one exactly its window, wrapping past the ring's end,
// and nothing is written beyond the buffer.
TEST(EngineMixer, EveryMixPathKeepsToItsWindowAndTheBuffer)
{
    const struct
    {
        const char* what;
        float volume;
        int loops;
    } cases[] = {{"one loop at full weight", 1.0f, 1}, {"four loops", 1.0f, 4},   {"seven loops", 1.0f, 7},
                 {"eight loops", 1.0f, 8},            {"sixteen loops", 1.0f, 16}, {"half volume", 0.5f, 4},
                 {"seventeen loops", 1.0f, 17}};
    const uint32_t n = SoundMixer::loopLength;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::unique_ptr<MemorySound>> files;
        SoundMixer mixer;
        mixer.volume = c.volume;
        float sum = 0.0f;
        for (int k = 0; k < c.loops; ++k) {
            const std::wstring name = L"mixloop" + std::to_wstring(k);
            const int16_t value = int16_t((k % 2 ? -1 : 1) * (3000 + 500 * k));
            files.push_back(std::make_unique<MemorySound>(SoundSamples::wav(constant(value)), AudioFile::typeWav,
                                                          name.c_str()));
            mixer.addSound(&files.back()->ref, 1.0f)->level = 1.0f;
            sum += float(value) / float(c.loops);
        }
        const int16_t expected = int16_t(c.volume * sum);
        FakeSoundBuffer buffer(n * 2);
        Audio::Sound3D carrier;
        carrier.buffer = &buffer;
        const auto sampleAt = [&](int64_t j) {
            int16_t v;
            memcpy(&v, &buffer.bytes[size_t((j % n + n) % n) * 2], 2);
            return v;
        };

        buffer.playCursor = 30000;
        mixer.mix(&carrier);
        for (uint32_t j : {0u, 1u, 7u, 8u, 15000u, n - 9, n - 8, n - 1})
            ASSERT_NEAR(sampleAt(j), expected, 1) << j;
        EXPECT_TRUE(buffer.canaryIntact()) << "the first mix ends with the ring";

        // 2000 samples played since: from 4000 behind the cursor to 8000
        // ahead, across the ring's end.
        std::fill(buffer.bytes.begin(), buffer.bytes.begin() + buffer.size, uint8_t(0));
        const int64_t cursor = n - 3000;
        mixer.lastCursor = uint32_t(cursor - 2000);
        buffer.playCursor = uint32_t(cursor * 2);
        mixer.mix(&carrier);
        EXPECT_EQ(sampleAt(cursor - 4001), 0) << "the sample before the window";
        EXPECT_NEAR(sampleAt(cursor - 4000), expected, 1);
        EXPECT_NEAR(sampleAt(n - 1), expected, 1);
        EXPECT_NEAR(sampleAt(0), expected, 1);
        EXPECT_NEAR(sampleAt(cursor + 7999), expected, 1);
        EXPECT_EQ(sampleAt(cursor + 8000), 0) << "the sample after the window";
        EXPECT_EQ(std::count(buffer.bytes.begin(), buffer.bytes.begin() + buffer.size, uint8_t(0)),
                  long(buffer.size - 2 * 12000)) << "nothing but the window";
        EXPECT_TRUE(buffer.canaryIntact()) << "nothing past the ring's end";
        carrier.buffer = nullptr;
    }
}

// Each loop is the start of its file scaled by its gain, read from the start
// however far the file was read before, silent past a short file's end, and
// shared by the engines playing the same files.
TEST(EngineMixer, LoopsAreTheirFilesStartScaledAndSilentPastTheirEnd)
{
    std::vector<SoundSamples::Pcm> pcm = {SoundSamples::engineLoop(0), SoundSamples::engineLoop(1),
                                          SoundSamples::engineLoop(2), SoundSamples::engineLoop(3)};
    pcm[2].samples.resize(1000); // a short loop
    Loops loops(pcm);
    const float gains[4] = {2.5f, 1.8f, 1.8f, 1.8f};
    const auto expectLoops = [&](const EngineSound& engine) {
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(testing::Message() << "loop " << i);
            for (uint32_t j = 0; j < SoundMixer::loopLength; ++j) {
                const float source = j < pcm[size_t(i)].samples.size() ? float(pcm[size_t(i)].samples[j]) : 0.0f;
                ASSERT_EQ(engine.loops[i]->samples[j], int16_t(std::clamp(source * gains[i], -32767.0f, 32767.0f)))
                    << j;
            }
        }
    };
    {
        EngineSound first, second;
        initEngine(first, loops);
        initEngine(second, loops);
        expectLoops(first);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(first.loops[i]->samples.get(), second.loops[i]->samples.get()) << "loop " << i;
        EXPECT_NE(first.file, second.file) << "each engine mixes into its own file";
    }
    // The files stand wherever they were last read; a new engine reads each
    // loop afresh from its start.
    for (int i = 0; i < 4; ++i)
        loops.sounds[size_t(i)]->file->seek(5000);
    EngineSound third;
    initEngine(third, loops);
    expectLoops(third);

    // Without a file a loop is silence.
    SoundMixer mixer;
    const SoundMixer::Sound* none = mixer.addSound(nullptr, 2.5f);
    EXPECT_EQ(std::count(none->samples.get(), none->samples.get() + SoundMixer::loopLength, 0),
              SoundMixer::loopLength);
}

TEST(EngineMixer, GeneratedLoopsPlayWithPitchFollowingTheThrottle)
{
    Device device;
    ASSERT_TRUE(device.ready());
    Loops loops({SoundSamples::engineLoop(0), SoundSamples::engineLoop(1), SoundSamples::engineLoop(2),
                 SoundSamples::engineLoop(3)});
    vec3d position{0.0f, 0.0f, 10.0f};
    EngineSound engine;
    initEngine(engine, loops, &position);
    ASSERT_NE(engine.carrier->buffer, nullptr);
    EXPECT_EQ(engine.carrier->state, Audio::SoundInterface::playing);
    ASSERT_NE(engine.file, nullptr);
    EXPECT_EQ(engine.file->description.dwFlags, DWORD(0x681B0));

    fakeNow = 0;
    float lastPitch = 0.0f;
    for (int frame = 0; frame < 140; ++frame) {
        fakeNow = uint32_t(frame * 1000 / 35);
        engine.smoothThrottle(frame < 100 ? 1.0f : 0.0f, gFrameFactor.load());
        engine.speed = std::min(3.0f, frame * 0.03f);
        engine.update();
        DWORD frequency = 0;
        engine.carrier->buffer->GetFrequency(&frequency);
        EXPECT_EQ(frequency, DWORD(std::lround(44100.0 * engine.carrier->frequencyScale)));
        lastPitch = std::max(lastPitch, engine.carrier->frequencyScale);
    }
    EXPECT_GT(lastPitch, 1.2f) << "the pitch rose with the engine";
    const Bytes mixed = bufferBytes(engine.carrier->buffer, 0, SoundMixer::loopLength * 2);
    EXPECT_GT(std::count_if(mixed.begin(), mixed.end(), [](uint8_t b) { return b != 0; }), 10000) << "not silent";
    engine.release();
    EXPECT_EQ(engine.file, nullptr);
    EXPECT_EQ(engine.carrier, nullptr);
}
