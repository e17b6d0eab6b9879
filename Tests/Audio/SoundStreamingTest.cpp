#include "FakeSoundBuffer.h"
#include "SoundTestSupport.h"

#include "Audio/Sound2D.h"
#include "Audio/SoundEventHandler.h"


using namespace SoundTest;
using Audio::AudioFile;
using Audio::Sound2D;
using Audio::SoundInterface;

namespace {

constexpr uint32_t half = AudioFile::streamHalfBytes;

// A streamed sound refilled by hand: the test moves the play cursor across
// the halves and runs the refill as the event thread would.
struct HandStream
{
    HandStream(AudioFile* file, bool loop) : sound(file)
    {
        sound.loop = loop ? 1 : 0;
        sound.buffer = &buffer;
        sound.state = SoundInterface::playing;
        EXPECT_TRUE(sound.startStream());
    }
    ~HandStream()
    {
        sound.buffer = nullptr;
        sound.state = SoundInterface::stopped;
    }
    // The cursor enters half h and the half just left is refilled.
    void enter(uint32_t h)
    {
        buffer.playCursor = h * half + 100;
        sound.onStreamEvent();
    }
    Bytes halfBytes(uint32_t h) const
    {
        return Bytes(buffer.bytes.begin() + h * half, buffer.bytes.begin() + (h + 1) * half);
    }

    FakeSoundBuffer buffer{AudioFile::streamBufferBytes};
    Sound2D sound;
};

// The decoded data from offset on, wrapping at its end, for n bytes.
Bytes dataFrom(const Bytes& whole, uint64_t offset, uint32_t n)
{
    Bytes out(n);
    for (uint32_t i = 0; i < n; ++i)
        out[i] = whole[(offset + i) % whole.size()];
    return out;
}

template <class Done>
bool waitFor(Done done, int milliseconds = 20000)
{
    for (int i = 0; i < milliseconds && !done(); ++i) {
        Audio::update();
        Sleep(1);
    }
    return done();
}

}

// Runs the notifications of a one-shot stream from its start to its stop:
// each half just left is refilled with the data that follows, the last data
// ends in silence, and the stop comes once the half holding it has played.
void checkOneShot(HandStream& stream, const Bytes& whole)
{
    const uint64_t size = whole.size();
    uint64_t written = 2 * half;
    uint32_t entering = 1;
    while (written < size) {
        stream.enter(entering);
        const uint32_t filled = 1 - entering;
        const Bytes got = stream.halfBytes(filled);
        const uint64_t data = std::min<uint64_t>(half, size - written);
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + long(data), whole.begin() + long(written)));
        EXPECT_EQ(std::count(got.begin() + long(data), got.end(), 0), long(half - data));
        stream.enter(entering); // a second signal for the same half changes nothing
        written += half;
        entering = filled;
    }
    // The half with the last data, just filled, is the next one entered: it
    // must be heard; the other one falls silent meanwhile.
    const uint32_t last = entering;
    EXPECT_EQ(stream.sound.endReached, 1u);
    stream.enter(last);
    EXPECT_EQ(stream.buffer.stops, 0);
    EXPECT_EQ(stream.halfBytes(1 - last), Bytes(half, 0)) << "silence behind the last data";
    stream.enter(1 - last);
    EXPECT_EQ(stream.buffer.stops, 1) << "stopped once it has played";
    EXPECT_TRUE(stream.buffer.canaryIntact());
}

TEST(SoundStreaming, RefilledHalvesContinueTheDecodedFile)
{
    // 3.4 and 2.4 halves: the one-shots end in either half.
    for (const SoundSamples::Pcm& pcm : {SoundSamples::tone(10.0, 1), SoundSamples::tone(7.0, 1)})
    for (const auto& [bytes, type] : {std::pair{SoundSamples::wav(pcm), AudioFile::typeWav},
                                      std::pair{SoundSamples::ogg(pcm), AudioFile::typeOgg}}) {
        MemorySound sound(bytes, type, L"stream");
        sound.file->setupBuffers(true, false, false, false);
        ASSERT_EQ(sound.file->streamed, 1u);
        const Bytes whole = sound.readAll();
        const uint32_t size = uint32_t(whole.size());

        // A one-shot: the last, partial half plays out before the stop.
        {
            HandStream stream(sound.file, false);
            EXPECT_EQ(stream.halfBytes(0), dataFrom(whole, 0, half));
            EXPECT_EQ(stream.halfBytes(1), dataFrom(whole, half, half));
            checkOneShot(stream, whole);
        }
        // A loop wraps three times, each half going on where the last ended.
        {
            HandStream stream(sound.file, true);
            uint64_t written = 2 * half;
            while (written < 3ull * size + half) {
                const uint32_t entering = uint32_t(written / half) % 2 == 0 ? 1 : 0;
                stream.enter(entering);
                EXPECT_EQ(stream.halfBytes(1 - entering), dataFrom(whole, written, half)) << "at " << written;
                written += half;
            }
            EXPECT_EQ(stream.buffer.stops, 0);
        }
    }
}

TEST(SoundStreaming, OneShotsStopAfterTheirLastHalfAndLoopsPlayOn)
{
    Device device;
    ASSERT_TRUE(device.ready());
    // Two and a half halves of mono data: the one-shot ends in its fifth
    // notification's refill.
    MemorySound sound(SoundSamples::wav(SoundSamples::tone(7.5, 1)), AudioFile::typeWav, L"long", 0, 1, 1);
    sound.file->setupBuffers(true, false, false, false);
    ASSERT_EQ(sound.file->streamed, 1u);
    Sound2D loop(sound.file), once(sound.file);
    loop.play(true);
    for (int round = 0; round < 2; ++round) {
        once.play(false);
        ASSERT_EQ(once.state, SoundInterface::playing);
        EXPECT_EQ(Audio::gSoundEvents.count(), 2);
        EXPECT_TRUE(Audio::gSoundEvents.thread.isRunning());
        ASSERT_TRUE(waitFor([&] { return once.state == SoundInterface::stopped; })) << "round " << round;
        EXPECT_EQ(once.buffer, nullptr);
        EXPECT_EQ(once.eventEntry, nullptr);
        EXPECT_EQ(loop.state, SoundInterface::playing) << "the loop went round and plays on";
    }
    loop.stop();
    EXPECT_EQ(Audio::gSoundEvents.count(), 0);
    EXPECT_FALSE(Audio::gSoundEvents.thread.isRunning()) << "the last stream stops the thread";
    loop.play(true);
    EXPECT_TRUE(Audio::gSoundEvents.thread.isRunning()) << "and the next one starts a new one";
    loop.stop();
}

TEST(SoundStreaming, AThirtyThirdStreamGetsNoBufferAndStartsAndStopsHoldUp)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::tone(6.5, 1)), AudioFile::typeWav, L"many", 0, 1, 1);
    sound.file->setupBuffers(true, false, false, false);
    std::vector<std::unique_ptr<Sound2D>> streams;
    for (int i = 0; i < 33; ++i) {
        streams.push_back(std::make_unique<Sound2D>(sound.file));
        streams.back()->play(true);
    }
    EXPECT_EQ(Audio::gSoundEvents.count(), 32);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(streams[size_t(i)]->state, SoundInterface::playing);
    EXPECT_EQ(streams.back()->state, SoundInterface::paused);
    EXPECT_EQ(streams.back()->buffer, nullptr);

    // Keep a few streams refilling while one is started and stopped again
    // and again: every change waits for the event thread, never for ever.
    streams.resize(4);
    Sound2D cycled(sound.file);
    for (int i = 0; i < 200; ++i) {
        cycled.play(i % 2 == 0);
        ASSERT_EQ(cycled.state, SoundInterface::playing);
        if (i % 10 == 0)
            Sleep(5);
        cycled.stop();
    }
    EXPECT_EQ(Audio::gSoundEvents.count(), 4);
    streams.clear();
    EXPECT_EQ(Audio::gSoundEvents.count(), 0);
}

TEST(SoundStreaming, UnloadingAPlayingFileDetachesItsSoundsAndTheirStreams)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::tone(7.0, 1)), AudioFile::typeWav, L"gone", 0, 1, 1);
    sound.file->setupBuffers(true, false, false, false);
    Sound2D playing(sound.file);
    playing.play(true);
    ASSERT_EQ(Audio::gSoundEvents.count(), 1);
    AudioFile::unloadByRef(sound.ref);
    EXPECT_EQ(playing.file, nullptr);
    EXPECT_EQ(playing.buffer, nullptr);
    EXPECT_EQ(playing.eventEntry, nullptr);
    EXPECT_EQ(playing.state, SoundInterface::stopped);
    EXPECT_EQ(Audio::gSoundEvents.count(), 0);
}

TEST(SoundStreaming, AOneShotResumedAfterItsLastRefillGetsItsLastDataBack)
{
    // Two halves and a little more: the first refill reaches the end.
    MemorySound sound(SoundSamples::wav(SoundSamples::tone(7.0, 1)), AudioFile::typeWav, L"resumed");
    sound.file->setupBuffers(true, false, false, false);
    const Bytes whole = sound.readAll();
    const uint32_t rest = uint32_t(whole.size()) - 2 * half;
    ASSERT_LT(rest, half);
    HandStream stream(sound.file, false);
    stream.enter(1);
    ASSERT_EQ(stream.sound.endReached, 1u);

    // A resume fills a fresh buffer from where its halves were filled.
    std::fill(stream.buffer.bytes.begin(), stream.buffer.bytes.begin() + stream.buffer.size, uint8_t(0xEE));
    EXPECT_TRUE(stream.sound.startStream());
    Bytes expected(whole.end() - rest, whole.end());
    expected.resize(half, 0);
    EXPECT_EQ(stream.halfBytes(0), expected);
    EXPECT_EQ(stream.halfBytes(1), Bytes(half, 0)) << "silence behind the last data";
    EXPECT_EQ(stream.sound.endReached, 1u);
}

TEST(SoundEventThread, StopsFromItsIdleWait)
{
    // A registration whose buffer never signals: the thread waits for the
    // update event alone, and the stop has to wake it.
    Sound2D idle;
    ASSERT_NE(Audio::gSoundEvents.registerEvent(idle), nullptr);
    ASSERT_TRUE(Audio::gSoundEvents.thread.isRunning());
    Sleep(50);
    // Stopped from a helper thread while this one waits, so that a stop that
    // never comes through fails the test instead of hanging it.
    HANDLE stopper = CreateThread(
        nullptr, 0, [](void*) -> DWORD { Audio::gSoundEvents.stop(); return 0; }, nullptr, 0, nullptr);
    ASSERT_NE(stopper, nullptr);
    // A minute: only a stop that never comes through takes that long.
    EXPECT_EQ(WaitForSingleObject(stopper, 60000), WAIT_OBJECT_0) << "the stop came through";
    CloseHandle(stopper);
    EXPECT_FALSE(Audio::gSoundEvents.thread.isRunning());
    Audio::gSoundEvents.unregisterEvent(idle.eventEntry);
    EXPECT_EQ(idle.eventEntry, nullptr);
    EXPECT_EQ(Audio::gSoundEvents.count(), 0);
}
