#include "FakeSoundBuffer.h"
#include "SoundTestSupport.h"

#include "Render/Camera.h"

using namespace SoundTest;
using Audio::AudioFile;

namespace {

DWORD bufferBytesOf(IDirectSoundBuffer8* buffer)
{
    DSBCAPS caps{};
    caps.dwSize = sizeof(caps);
    return buffer && SUCCEEDED(buffer->GetCaps(&caps)) ? caps.dwBufferBytes : 0;
}

// Takes n buffers (nulls included) from file.
std::vector<IDirectSoundBuffer8*> take(AudioFile& file, int n)
{
    std::vector<IDirectSoundBuffer8*> out;
    for (int i = 0; i < n; ++i)
        out.push_back(file.takeBuffer());
    return out;
}

void giveBack(AudioFile& file, std::vector<IDirectSoundBuffer8*>& buffers)
{
    for (IDirectSoundBuffer8*& b : buffers)
        file.returnBuffer(b);
}

}

TEST(SoundBuffers, MasterHoldsTheDecodedSoundBehindItsPad)
{
    Device device;
    ASSERT_TRUE(device.ready());
    const SoundSamples::Pcm pcm = SoundSamples::tone(0.5, 1);
    const SoundSamples::Pcm chime = SoundSamples::chime();
    const struct
    {
        const char* what;
        Bytes bytes;
        uint32_t type;
        bool pad;
        Bytes expected;
    } cases[] = {
        {"wav", SoundSamples::wav(pcm), AudioFile::typeWav, false, pcmBytes(pcm)},
        {"wav with pad", SoundSamples::wav(pcm), AudioFile::typeWav, true, pcmBytes(pcm)},
        {"ogg", SoundSamples::ogg(chime), AudioFile::typeOgg, false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MemorySound sound(c.bytes, c.type, L"master", 1, 1, 1);
        const Bytes expected = c.expected.empty() ? sound.readAll() : c.expected;
        sound.file->setupBuffers(true, false, false, c.pad);
        ASSERT_NE(sound.file->master, nullptr);
        const uint32_t pad = c.pad ? 256 : 0;
        EXPECT_EQ(sound.file->padBytes, pad);
        ASSERT_EQ(bufferBytesOf(sound.file->master), expected.size() + pad);
        const Bytes held = bufferBytes(sound.file->master, 0, uint32_t(expected.size() + pad));
        ASSERT_EQ(held.size(), expected.size() + pad);
        EXPECT_EQ(std::count(held.begin(), held.begin() + pad, 0), pad);
        EXPECT_TRUE(std::equal(held.begin() + pad, held.end(), expected.begin())) << "the whole sound, to its end";
    }
}

TEST(SoundBuffers, PoolsGrowByTheirStepUpToTheirCapacity)
{
    Device device;
    ASSERT_TRUE(device.ready());
    const Bytes wav = SoundSamples::wav(SoundSamples::click());
    const struct
    {
        int32_t initial, capacity, step;
        std::vector<int32_t> freeAfterEachTake; // -1: no buffer
    } cases[] = {
        {3, 3, 3, {2, 1, 0, -1}},
        {0, 8, 1, {0, 0, 0, 0, 0, 0, 0, 0, -1}},
        {2, 6, 2, {1, 0, 1, 0, 1, 0, -1}},
        // Counts that do not add up: a step past the capacity makes only
        // what fits, a step below 1 counts as 1.
        {1, 4, 3, {0, 2, 1, 0, -1}},
        {2, 3, 2, {1, 0, 0, -1}},
        {0, 2, 0, {0, 0, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "(" << c.initial << ", " << c.capacity << ", " << c.step << ")");
        MemorySound sound(wav, AudioFile::typeWav, L"pool", c.initial, c.capacity, c.step);
        AudioFile& file = *sound.file;
        file.setupBuffers(true, false, false, false);
        EXPECT_EQ(file.master != nullptr, c.initial > 0) << "a master comes with initial duplicates";
        EXPECT_EQ(file.freeCount, c.initial);
        std::vector<IDirectSoundBuffer8*> taken;
        for (int32_t expectedFree : c.freeAfterEachTake) {
            taken.push_back(file.takeBuffer());
            EXPECT_EQ(taken.back() != nullptr, expectedFree >= 0);
            EXPECT_EQ(file.freeCount, std::max(expectedFree, 0));
            EXPECT_LE(file.duplicateCount, file.capacity);
        }
        EXPECT_NE(file.master, nullptr);
        EXPECT_EQ(file.duplicateCount, c.capacity);
        // Duplicates share the master's sound.
        EXPECT_EQ(bufferBytes(taken.front(), 0, 64), bufferBytes(file.master, 0, 64));
        giveBack(file, taken);
        EXPECT_EQ(file.freeCount, c.capacity);
        for (IDirectSoundBuffer8* b : taken)
            EXPECT_EQ(b, nullptr) << "returning clears the holder";
    }
}

TEST(SoundBuffers, PoolsShrinkOneStepPerIntervalDownToTheirInitialCount)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::click()), AudioFile::typeWav, L"shrink", 2, 8, 2);
    AudioFile& file = *sound.file;
    file.setupBuffers(true, false, false, false);
    std::vector<IDirectSoundBuffer8*> taken = take(file, 8);
    giveBack(file, taken);
    ASSERT_EQ(file.freeCount, 8);

    Audio::gSystem.lastStreamStep = 0;
    const struct
    {
        uint32_t now;
        int32_t free;
    } steps[] = {{500, 8}, {1000, 6}, {1999, 6}, {2000, 4}, {2100, 4}, {5000, 2}, {9000, 2}};
    for (const auto& s : steps) {
        Audio::updateAt(s.now);
        EXPECT_EQ(file.freeCount, s.free) << "at " << s.now;
        EXPECT_EQ(file.duplicateCount, s.free);
    }
    // A shrunk pool grows again.
    taken = take(file, 8);
    EXPECT_EQ(std::count(taken.begin(), taken.end(), nullptr), 0);
    giveBack(file, taken);
}

TEST(SoundBuffers, UnloadingAFileReleasesItsMasterAndEveryPooledDuplicate)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::click()), AudioFile::typeWav, L"owned", 3, 4, 1);
    AudioFile& file = *sound.file;
    file.setupBuffers(true, false, false, false);
    IDirectSoundBuffer8* lent = file.takeBuffer();
    ASSERT_NE(lent, nullptr);
    ASSERT_EQ(file.freeCount, 2);
    // A reference of the test's own on each: the file's release leaves only it.
    std::vector<IDirectSoundBuffer8*> held = {file.master, file.pool[0], file.pool[1], lent};
    for (IDirectSoundBuffer8* b : held)
        b->AddRef();
    AudioFile::unloadByRef(sound.ref);
    sound.file = nullptr;
    for (size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ(held[i]->Release(), i + 1 < held.size() ? 0u : 1u) << "buffer " << i;
    lent->Release();
}

TEST(SoundBuffers, PlainPositionalAndMixerDescriptionsAreAccepted)
{
    Device device;
    ASSERT_TRUE(device.ready());
    const Bytes wav = SoundSamples::wav(SoundSamples::click());
    const struct
    {
        bool volume, threeD, frequency;
        DWORD flags;
    } cases[] = {{true, false, false, 0x48180}, {true, true, false, 0x68190}, {true, true, true, 0x681B0}};
    for (const auto& c : cases) {
        MemorySound sound(wav, AudioFile::typeWav, L"flags", 1, 1, 1);
        sound.file->setupBuffers(c.volume, c.threeD, c.frequency, false);
        EXPECT_EQ(sound.file->description.dwFlags, c.flags);
        EXPECT_EQ(sound.file->description.dwSize, sizeof(DSBUFFERDESC));
        EXPECT_TRUE(IsEqualGUID(sound.file->description.guid3DAlgorithm,
                                c.threeD ? DS3DALG_HRTF_LIGHT : DS3DALG_DEFAULT));
        EXPECT_NE(sound.file->master, nullptr) << std::hex << c.flags;
        EXPECT_EQ(sound.file->freeCount, 1);
    }
}

TEST(SoundBuffers, FilesLoadedWithAudioOffGetTheirBuffersWhenItOpens)
{
    Audio::release();
    ASSERT_FALSE(Audio::isEnabled());
    MemorySound sound(SoundSamples::wav(SoundSamples::click()), AudioFile::typeWav, L"early", 3, 3, 3);
    sound.file->setupBuffers(true, true, false, false);
    EXPECT_EQ(sound.file->master, nullptr);
    EXPECT_EQ(sound.file->takeBuffer(), nullptr) << "no buffer while audio is off";
    {
        Device device;
        ASSERT_TRUE(device.ready());
        EXPECT_NE(sound.file->master, nullptr);
        EXPECT_EQ(sound.file->freeCount, 3);
        IDirectSound8* first = Audio::gSystem.device;
        Audio::init(GetDesktopWindow());
        EXPECT_EQ(Audio::gSystem.device, first) << "a second init changes nothing";
    }
    // The device's release destroyed the file with its buffers, and let go
    // of every interface.
    EXPECT_EQ(AudioFile::list().count(), 0);
    EXPECT_FALSE(Audio::isEnabled());
    EXPECT_EQ(Audio::gSystem.listener, nullptr);
    EXPECT_EQ(Audio::gSystem.primary, nullptr);
    EXPECT_EQ(Audio::gSystem.device, nullptr);
    EXPECT_EQ(Audio::gSystem.created, 1u) << "created stays";
}

TEST(SoundBuffers, StreamedFilesGiveEachPlayerABufferOfItsOwnFilledByHalves)
{
    Device device;
    ASSERT_TRUE(device.ready());
    const SoundSamples::Pcm pcm = SoundSamples::tone(10.0, 1);
    for (const auto& [bytes, type] : {std::pair{SoundSamples::wav(pcm), AudioFile::typeWav},
                                      std::pair{SoundSamples::ogg(pcm), AudioFile::typeOgg}}) {
        MemorySound sound(bytes, type, L"long", 3, 3, 3);
        AudioFile& file = *sound.file;
        const Bytes whole = sound.readAll();
        file.setupBuffers(true, false, false, true);
        ASSERT_EQ(file.streamed, 1u);
        EXPECT_EQ(file.master, nullptr);
        EXPECT_EQ(file.padBytes, 0u);
        EXPECT_EQ(file.description.dwFlags & DSBCAPS_GETCURRENTPOSITION2, DWORD(DSBCAPS_GETCURRENTPOSITION2));
        IDirectSoundBuffer8* a = file.takeBuffer();
        IDirectSoundBuffer8* b = file.takeBuffer();
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, a);
        EXPECT_EQ(bufferBytesOf(a), AudioFile::streamBufferBytes);
        const uint32_t half = AudioFile::streamHalfBytes;
        EXPECT_EQ(file.fillBuffer(a, 0, 0, half, false), half);
        EXPECT_EQ(file.fillBuffer(a, AudioFile::currentPosition, half, half, false), half);
        const Bytes held = bufferBytes(a, 0, AudioFile::streamBufferBytes);
        EXPECT_TRUE(std::equal(held.begin(), held.end(), whole.begin())) << "both halves in order";
        file.returnBuffer(a);
        file.returnBuffer(b);
        EXPECT_EQ(a, nullptr);
        EXPECT_EQ(file.freeCount, 0) << "stream buffers are not pooled";
    }
}

TEST(AudioDevice, ListenerFollowsAUsableCamera)
{
    Device device;
    ASSERT_TRUE(device.ready());
    ASSERT_NE(Audio::gSystem.listener, nullptr);
    Camera camera;
    camera.position = vec3d{1.0f, 2.0f, 3.0f};
    camera.forward = vec3d{1.0f, 0.0f, 0.0f};
    Camera* const saved = gCamera;
    const auto listened = [] {
        D3DVECTOR p{};
        Audio::gSystem.listener->GetPosition(&p);
        return vec3d{p.x, p.y, p.z};
    };
    gCamera = &camera;
    Audio::update();
    EXPECT_EQ(listened(), camera.position);
    D3DVECTOR front{}, top{};
    Audio::gSystem.listener->GetOrientation(&front, &top);
    EXPECT_EQ(front.x, 1.0f);
    EXPECT_EQ(top.y, 1.0f);

    camera.position = vec3d{NAN, 0.0f, 0.0f};
    Audio::update();
    EXPECT_EQ(listened(), (vec3d{1.0f, 2.0f, 3.0f})) << "a broken camera is passed by";
    gCamera = nullptr;
    Audio::update();
    EXPECT_EQ(listened(), (vec3d{1.0f, 2.0f, 3.0f})) << "without a camera the listener stays";
    gCamera = saved;
}

TEST(SoundBuffers, LostBuffersAreRestoredOrGivenUpWithinHalfASecond)
{
    const struct
    {
        const char* what;
        bool lost, failStatus;
        int refusals;
        bool restored;
        int restoreCalls;
    } cases[] = {
        {"not lost", false, false, 0, true, 0},
        {"lost, back at the first try", true, false, 0, true, 1},
        {"lost, back after three refusals", true, false, 3, true, 4},
        {"lost for good", true, false, 1000, false, 50},
        {"no status", false, true, 0, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        FakeSoundBuffer buffer(64);
        buffer.lost = c.lost;
        buffer.failStatus = c.failStatus;
        buffer.refusedRestores = c.refusals;
        EXPECT_EQ(AudioFile::restoreBuffer(&buffer), c.restored);
        EXPECT_EQ(buffer.restoreCalls, c.restoreCalls);
    }
    EXPECT_FALSE(AudioFile::restoreBuffer(nullptr));
}

TEST(SoundBuffers, FillsLockThePadWithTheDataAndNothingBeyond)
{
    const Bytes data = pattern(1000);
    MemorySound sound(wavBytes({}, data), AudioFile::typeWav, L"pad");
    AudioFile& file = *sound.file;
    file.setupBuffers(true, false, false, true);
    ASSERT_EQ(file.padBytes, 256u);

    FakeSoundBuffer buffer(1256);
    EXPECT_EQ(file.fillBuffer(&buffer, 0, 0, 1000, false), 1000u);
    EXPECT_EQ(buffer.lockedBytes, 1256u) << "pad and data locked together";
    EXPECT_EQ(std::count(buffer.bytes.begin(), buffer.bytes.begin() + 256, 0), 256);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), buffer.bytes.begin() + 256));
    EXPECT_TRUE(buffer.canaryIntact());

    // A buffer that stays lost or refuses its lock is left as it is.
    for (bool lost : {true, false}) {
        FakeSoundBuffer refusing(1256);
        refusing.lost = lost;
        refusing.refusedRestores = 1000;
        refusing.failLock = !lost;
        EXPECT_EQ(file.fillBuffer(&refusing, 0, 0, 1000, false), 0u);
        EXPECT_EQ(std::count(refusing.bytes.begin(), refusing.bytes.end(), FakeSoundBuffer::canary),
                  long(refusing.bytes.size()));
    }
}
