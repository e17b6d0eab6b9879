#include "SoundTestSupport.h"

#include "Audio/Sound2D.h"
#include "Audio/Sound3D.h"
#include "Audio/SoundEventHandler.h"

#include <random>
#include <set>

using namespace SoundTest;
using Audio::AudioFile;
using Audio::Sound2D;
using Audio::Sound3D;
using Audio::SoundInterface;

namespace {

DWORD playCursorOf(IDirectSoundBuffer8* buffer)
{
    DWORD play = 0, write = 0;
    return buffer && SUCCEEDED(buffer->GetCurrentPosition(&play, &write)) ? play : 0;
}

bool isListed(const SoundInterface* sound)
{
    for (auto* node = SoundInterface::list().head(); node; node = node->next)
        if (node->item == sound)
            return node == sound->listNode;
    return false;
}

// Waits (on status, never on time: Wine's silent device runs fast) until the
// buffer's play cursor has passed bytes.
bool waitForCursor(IDirectSoundBuffer8* buffer, DWORD bytes)
{
    for (int i = 0; i < 2000 && playCursorOf(buffer) < bytes; ++i)
        Sleep(1);
    return playCursorOf(buffer) >= bytes;
}

}

TEST(SoundObjects, QuietVolumePausesALoopAndLouderResumesItWhereItStood)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::tone(2.0, 1)), AudioFile::typeWav, L"loop", 1, 2, 1);
    sound.file->setupBuffers(true, false, true, false);
    Sound2D loop(sound.file);
    loop.play(true);
    ASSERT_EQ(loop.state, SoundInterface::playing);
    ASSERT_TRUE(waitForCursor(loop.buffer, 20000));

    loop.setVolume(0.01f);
    EXPECT_EQ(loop.state, SoundInterface::paused);
    EXPECT_EQ(loop.buffer, nullptr) << "the buffer went back";
    EXPECT_EQ(sound.file->freeCount, 1);
    EXPECT_GE(loop.playCursor, 20000u);
    const uint32_t kept = loop.playCursor;

    loop.setVolume(0.25f);
    ASSERT_EQ(loop.state, SoundInterface::playing);
    ASSERT_NE(loop.buffer, nullptr);
    EXPECT_GE(playCursorOf(loop.buffer), kept) << "resumed where it stood";
    LONG volume = 0;
    loop.buffer->GetVolume(&volume);
    EXPECT_EQ(volume, -5000);
    loop.setFrequencyScale(2.0f);
    DWORD frequency = 0;
    loop.buffer->GetFrequency(&frequency);
    EXPECT_EQ(frequency, 88200u);
    loop.stop();
    EXPECT_EQ(sound.file->freeCount, 1);
}

TEST(SoundObjects, VolumesClampToOneAndReachTheBufferAsAttenuation)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::tone(2.0, 1)), AudioFile::typeWav, L"volume", 1, 1, 1);
    sound.file->setupBuffers(true, false, false, false);
    Sound2D loop(sound.file);
    loop.play(true);
    const struct
    {
        float set, kept;
        LONG hundredthsOfDecibel; // 1: paused, no buffer
    } cases[] = {{1.0f, 1.0f, 0},     {0.25f, 0.25f, -5000}, {0.04f, 0.04f, -8000}, {2.0f, 1.0f, 0},
                 {-1.0f, 0.0f, 1},    {0.5f, 0.5f, -2929},   {NAN, 0.0f, 1},        {INFINITY, 0.0f, 1},
                 {0.0126f, 0.0126f, -8878}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.set);
        loop.setVolume(c.set);
        EXPECT_EQ(loop.volume, c.kept);
        if (c.hundredthsOfDecibel == 1) {
            EXPECT_EQ(loop.state, SoundInterface::paused);
            EXPECT_EQ(loop.buffer, nullptr);
            continue;
        }
        ASSERT_EQ(loop.state, SoundInterface::playing);
        LONG volume = 1;
        loop.buffer->GetVolume(&volume);
        EXPECT_NEAR(volume, c.hundredthsOfDecibel, 2);
    }
    loop.stop();
}

TEST(SoundObjects, PauseAllDropsOneShotsAndKeepsLoopsForResumeAll)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::tone(2.0, 1)), AudioFile::typeWav, L"all", 3, 3, 3);
    sound.file->setupBuffers(true, true, false, false);
    Sound3D* oneShot = Sound3D::create(sound.file);
    ASSERT_NE(oneShot, &Sound3D::dummySound());
    oneShot->play(false);
    Sound2D loop(sound.file);
    loop.play(true);
    Sound2D exempt(sound.file);
    exempt.exempt = 1;
    exempt.play(true);
    ASSERT_EQ(sound.file->freeCount, 0);

    SoundInterface::pauseAll();
    EXPECT_EQ(oneShot->state, SoundInterface::stopped);
    EXPECT_EQ(oneShot->recycles, 0u) << "back in its pool";
    EXPECT_EQ(loop.state, SoundInterface::paused);
    EXPECT_EQ(exempt.state, SoundInterface::playing);
    EXPECT_EQ(sound.file->freeCount, 2);

    SoundInterface::resumeAll();
    EXPECT_EQ(oneShot->state, SoundInterface::stopped) << "a recycled one-shot stays gone";
    EXPECT_EQ(loop.state, SoundInterface::playing);
    EXPECT_EQ(sound.file->freeCount, 1);

    // A spent pool gives the dummy, which does nothing at all.
    Sound3D* a = Sound3D::create(sound.file);
    a->play(true);
    Sound3D* b = Sound3D::create(sound.file);
    EXPECT_EQ(b, &Sound3D::dummySound());
    b->play(true)->setVolume(1.0f);
    EXPECT_EQ(b->state, SoundInterface::stopped);
    EXPECT_FALSE(isListed(b));
    a->stop();
    EXPECT_EQ(Sound2D::create(nullptr), &Sound2D::dummySound()) << "no file, no sound";
}

TEST(SoundObjects, PositionalDefaultsAndDistancesReachTheBuffer)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::click()), AudioFile::typeWav, L"3d", 1, 1, 1);
    sound.file->setupBuffers(true, true, false, false);
    Sound3D positional(sound.file);
    EXPECT_FLOAT_EQ(positional.maxDistance, 100.0f);
    EXPECT_NEAR(positional.minDistance, std::pow(100.0f, 0.1f), 1e-5f);
    vec3d source{5.0f, 6.0f, 7.0f};
    positional.attachPosition(&source)->setDistances(1000.0f, 0.42f)->setPosition(vec3d{1.0f, 1.0f, 1.0f});
    positional.play(true);
    ASSERT_NE(positional.buffer3D, nullptr);
    D3DVALUE minimum = 0, maximum = 0;
    positional.buffer3D->GetMinDistance(&minimum);
    positional.buffer3D->GetMaxDistance(&maximum);
    EXPECT_NEAR(minimum, std::pow(1000.0f, 0.42f), 1e-3f);
    EXPECT_FLOAT_EQ(maximum, 1000.0f);
    positional.setDistances(200.0f, 0.5f);
    positional.buffer3D->GetMaxDistance(&maximum);
    EXPECT_FLOAT_EQ(maximum, 200.0f) << "a playing sound takes new distances at once";
    source = vec3d{8.0f, 9.0f, 10.0f};
    SoundInterface::updateAll();
    D3DVECTOR at{};
    positional.buffer3D->GetPosition(&at);
    EXPECT_EQ((vec3d{at.x, at.y, at.z}), source) << "follows the attached vector, not its own";

    // A pooled sound handed out again follows nothing of its former life.
    Sound3D* first = Sound3D::create(sound.file);
    first->attachPosition(&source)->setDistances(50.0f, 0.5f);
    first->stop();
    Sound3D* again = Sound3D::create(sound.file);
    ASSERT_EQ(again, first);
    EXPECT_EQ(again->positionSource, &again->ownPosition);
    EXPECT_FLOAT_EQ(again->maxDistance, 100.0f);
}

TEST(SoundObjects, ReleaseAllDetachesSoundsOutsideThePoolsAndKeepsThemListed)
{
    Device device;
    ASSERT_TRUE(device.ready());
    auto* stream = new MemorySound(SoundSamples::wav(SoundSamples::tone(1.0, 1)), AudioFile::typeWav, L"level", 2,
                                   4, 1);
    stream->file->setupBuffers(true, true, false, false);
    auto* carrier = new Sound3D(stream->file);
    auto* kept = new Sound2D(stream->file);
    carrier->play(true);
    kept->play(true);
    Sound3D::create(stream->file)->play(false);
    const int32_t listed = SoundInterface::list().count();

    Audio::releaseAll();
    for (SoundInterface* sound : {static_cast<SoundInterface*>(carrier), static_cast<SoundInterface*>(kept)}) {
        EXPECT_EQ(sound->file, nullptr);
        EXPECT_EQ(sound->buffer, nullptr);
        EXPECT_EQ(sound->state, SoundInterface::stopped);
        EXPECT_TRUE(isListed(sound));
    }
    EXPECT_EQ(carrier->buffer3D, nullptr);
    EXPECT_EQ(Sound3D::pool().blockCount(), 0);
    EXPECT_EQ(SoundInterface::list().count(), listed - 16) << "the pool's block went, the others stay";
    carrier->play(true);
    EXPECT_EQ(carrier->state, SoundInterface::stopped) << "no file, no sound";
    delete carrier;
    delete kept;
    EXPECT_EQ(SoundInterface::list().count(), listed - 18);
    delete stream;
}

// Every operation at random over 200 sounds, with the pools' bookkeeping
// checked after each step: in-use counts match the objects handed out, a
// sound back in its pool is stopped and holds nothing, and every listed node
// belongs to a live sound.
TEST(SoundObjects, RandomOperationsKeepPoolsAndListConsistent)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound one(SoundSamples::wav(SoundSamples::click()), AudioFile::typeWav, L"a", 4, 12, 4);
    MemorySound two(SoundSamples::wav(SoundSamples::tone(0.3, 1)), AudioFile::typeWav, L"b", 0, 8, 1);
    one.file->setupBuffers(true, true, false, false);
    two.file->setupBuffers(true, false, true, false);
    AudioFile* files[] = {one.file, two.file};
    std::vector<std::unique_ptr<SoundInterface>> owned;
    std::vector<SoundInterface*> held;
    std::mt19937 random(1500);

    const auto check = [&](int step) {
        SCOPED_TRACE(testing::Message() << "step " << step);
        const auto checkPool = [](auto& pool) {
            for (int32_t b = 0; b < pool.blockCount(); ++b) {
                auto* block = pool.block(b);
                int32_t inUse = 0;
                for (int i = 0; i < 16; ++i) {
                    inUse += block->inUse[i] ? 1 : 0;
                    if (!block->inUse[i]) {
                        EXPECT_EQ(block->objects[i].state, SoundInterface::stopped);
                        EXPECT_EQ(block->objects[i].buffer, nullptr);
                        EXPECT_EQ(block->objects[i].recycles, 0u);
                    }
                    EXPECT_TRUE(isListed(&block->objects[i]));
                }
                EXPECT_EQ(block->inUseCount, inUse);
            }
        };
        checkPool(Sound2D::pool());
        checkPool(Sound3D::pool());
        int32_t nodes = 0;
        for (auto* node = SoundInterface::list().head(); node; node = node->next, ++nodes)
            ASSERT_EQ(node->item->listNode, node);
        EXPECT_EQ(nodes, SoundInterface::list().count());
        for (AudioFile* f : files) {
            EXPECT_LE(f->freeCount, f->duplicateCount);
            EXPECT_LE(f->duplicateCount, f->capacity);
        }
    };

    for (int step = 0; step < 3000 && !HasFailure(); ++step) {
        // A one-shot is the caller's only until it goes back to its pool.
        std::erase_if(held, [](SoundInterface* s) { return s->recycles == 0; });
        AudioFile* file = files[random() % 2];
        SoundInterface* some = nullptr;
        if (!held.empty() && random() % 2)
            some = held[random() % held.size()];
        else if (!owned.empty())
            some = owned[random() % owned.size()].get();
        switch (random() % 12) {
        case 0:
            if (held.size() + owned.size() < 200) {
                SoundInterface* s = random() % 2 ? static_cast<SoundInterface*>(Sound2D::create(file))
                                                 : static_cast<SoundInterface*>(Sound3D::create(file));
                if (!s->dummy)
                    held.push_back(s);
            }
            break;
        case 1:
            if (held.size() + owned.size() < 200) {
                if (random() % 2)
                    owned.push_back(std::make_unique<Sound2D>(file));
                else
                    owned.push_back(std::make_unique<Sound3D>(file));
            }
            break;
        case 2:
            if (!owned.empty())
                owned.erase(owned.begin() + random() % owned.size());
            break;
        case 3: case 4:
            if (some)
                some->play(random() % 2);
            break;
        case 5:
            if (some)
                some->stop();
            break;
        case 6:
            if (some)
                some->pause();
            break;
        case 7:
            if (some)
                some->resume();
            break;
        case 8:
            if (some)
                some->setVolume(float(random() % 5) * 0.01f + (random() % 2 ? 0.5f : 0.0f));
            break;
        case 9:
            SoundInterface::pauseAll();
            break;
        case 10:
            SoundInterface::resumeAll();
            break;
        default:
            SoundInterface::updateAll();
            break;
        }
        check(step);
    }
    for (SoundInterface* s : held)
        s->stop();
    owned.clear();
    SoundInterface::updateAll();
    EXPECT_EQ(Sound2D::pool().blockCount() + Sound3D::pool().blockCount(), 0) << "idle blocks are freed";
    EXPECT_EQ(one.file->freeCount, one.file->duplicateCount);
    EXPECT_EQ(two.file->freeCount, two.file->duplicateCount);
}

TEST(SoundObjects, WithoutAudioEverySoundIsTheSilentDummy)
{
    Audio::release();
    MemorySound sound(SoundSamples::wav(SoundSamples::click()), AudioFile::typeWav, L"off", 1, 1, 1);
    sound.file->setupBuffers(true, true, false, false);
    EXPECT_EQ(Sound2D::create(sound.file), &Sound2D::dummySound());
    EXPECT_EQ(Sound3D::create(sound.file), &Sound3D::dummySound());
    Sound3D standing(sound.file);
    standing.play(true);
    EXPECT_EQ(standing.state, SoundInterface::stopped);
    EXPECT_EQ(standing.buffer, nullptr);
    Sound3D::dummySound().attachPosition(nullptr)->setDistances(1.0f, 1.0f);
    EXPECT_FLOAT_EQ(Sound3D::dummySound().maxDistance, 100.0f) << "the dummy keeps nothing";
}

TEST(SoundObjects, TheExitTeardownStopsTheThreadAndLeavesLiveSoundsSafeToDelete)
{
    Device device;
    ASSERT_TRUE(device.ready());
    MemorySound sound(SoundSamples::wav(SoundSamples::tone(7.0, 1)), AudioFile::typeWav, L"exit", 1, 2, 1);
    sound.file->setupBuffers(true, false, false, false);
    auto* standing = new Sound2D(sound.file);
    standing->play(true);
    Sound2D::create(sound.file)->play(false);
    Sound3D::create(sound.file)->play(false);
    ASSERT_TRUE(Audio::gSoundEvents.thread.isRunning());

    Audio::destroyAtExit();
    EXPECT_FALSE(Audio::gSoundEvents.thread.isRunning());
    EXPECT_EQ(Audio::gSoundEvents.count(), 0);
    EXPECT_EQ(AudioFile::list().count(), 0);
    EXPECT_EQ(SoundInterface::list().count(), 0);
    EXPECT_EQ(Sound2D::pool().blockCount(), 0);
    EXPECT_EQ(Sound3D::pool().blockCount(), 0);
    EXPECT_EQ(standing->file, nullptr);
    EXPECT_EQ(standing->listNode, nullptr);
    delete standing;
}
