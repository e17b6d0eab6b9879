// Physics noises on the sound device (a silent one under the tests): impact
// sounds by strength, made on the main thread only; the drag sound following
// the sliding, also when the physics thread steps.
#include "ManagerTestSupport.h"

#include "SoundSamples.h"

#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/Sound2D.h"
#include "Audio/Sound3D.h"
#include "Physics/PhysicsNoise.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace ManagerTest;

// The sound device through the desktop window, with every file gone at the end.
struct SoundDevice
{
    SoundDevice() { Audio::init(GetDesktopWindow()); }
    ~SoundDevice() { Audio::release(); }
};

// A sound file of the builder's over a memory stream, with volume and 3D control.
struct MemorySound
{
    MemorySound(const SoundSamples::Pcm& pcm, const wchar_t* name)
    {
        const std::vector<uint8_t> bytes = SoundSamples::wav(pcm);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        ref.set(&stream, Audio::FileRef::typeWav, String(name), 0);
        file = Audio::AudioFile::get(&ref, 0, 8, 1);
        if (file)
            file->setupBuffers(true, true, false, false);
    }
    ~MemorySound() { Audio::AudioFile::unloadByRef(ref); }

    FileArray stream{4096};
    Audio::FileRef ref;
    Audio::AudioFile* file = nullptr;
};

// The sounds of file that play.
std::vector<Audio::SoundInterface*> playing(const Audio::AudioFile* file)
{
    std::vector<Audio::SoundInterface*> found;
    for (auto* node = Audio::SoundInterface::list().head(); node; node = node->next)
        if (node->item->file == file && node->item->state == Audio::SoundInterface::playing)
            found.push_back(node->item);
    return found;
}

// One-shots handed out by the two sound pools.
int32_t pooledInUse()
{
    int32_t n = 0;
    for (int32_t b = 0; b < Audio::Sound2D::pool().blockCount(); ++b)
        n += Audio::Sound2D::pool().block(b)->inUseCount;
    for (int32_t b = 0; b < Audio::Sound3D::pool().blockCount(); ++b)
        n += Audio::Sound3D::pool().block(b)->inUseCount;
    return n;
}

void stopAll(const Audio::AudioFile* file)
{
    for (Audio::SoundInterface* sound : playing(file))
        sound->stop();
}

// The frame factor as the timer would publish it, for the drag's smoothing.
struct FrameFactor
{
    explicit FrameFactor(float factor) : kept(gFrameFactor.load()) { gFrameFactor.store(factor); }
    ~FrameFactor() { gFrameFactor.store(kept); }
    float kept;
};

Physics::Collision hit(vec3d velocity, vec3d normal, uint32_t otherType)
{
    return {{}, {}, velocity, normal, otherType, nullptr};
}

TEST(PhysicsNoiseSounds, ImpactsPlayByTheirStrengthOnTheMainThread)
{
    SoundDevice device;
    ASSERT_TRUE(Audio::isEnabled());
    MemorySound bodySound(SoundSamples::tone(1.0, 1), L"body.wav");
    MemorySound groundSound(SoundSamples::tone(1.0, 1, 22050), L"ground.wav");
    vec3d position{1, 2, 3};
    PhysicsNoise noise(&position, bodySound.file, groundSound.file, nullptr, false);

    struct Case
    {
        const char* what;
        std::vector<Physics::Collision> hits; // in one step batch
        const Audio::AudioFile* heard;        // null: nothing
        float volume;
    };
    const vec3d up{0, 1, 0};
    const float quiet = std::pow(0.1f * 0.3f, 0.65f);
    const Case cases[] = {
        {"0.5 on the ground", {hit({0, -0.5f, 0}, up, 0)}, nullptr, 0},
        {"0.6 on the ground", {hit({0, -0.6f, 0}, up, 0)}, groundSound.file, quiet},
        {"3.84 against a body", {hit({0, 3.84f, 0}, up, 1)}, bodySound.file, 1.0f},
        {"20 against walls", {hit({0, -20, 0}, up, 2)}, bodySound.file, 1.0f},
        {"against something else", {hit({0, -20, 0}, up, 7)}, nullptr, 0},
        {"along the normal only", {hit({5, -0.6f, 0}, up, 0)}, groundSound.file, quiet},
        {"the strongest of a batch", {hit({0, -0.6f, 0}, up, 0), hit({0, -9, 0}, up, 0), hit({0, -1, 0}, up, 0)},
         groundSound.file, 1.0f},
    };
    for (const Case& c : cases) {
        const int32_t pooled = pooledInUse();
        // The physics thread only records.
        std::thread physics([&] {
            for (const Physics::Collision& collision : c.hits)
                noise.onCollision(collision);
        });
        physics.join();
        EXPECT_EQ(pooledInUse(), pooled) << c.what;
        EXPECT_TRUE(playing(bodySound.file).empty() && playing(groundSound.file).empty()) << c.what;

        noise.update();
        for (const Audio::AudioFile* file : {bodySound.file, groundSound.file}) {
            const std::vector<Audio::SoundInterface*> sounds = playing(file);
            ASSERT_EQ(sounds.size(), file == c.heard ? 1u : 0u) << c.what;
            if (!sounds.empty()) {
                EXPECT_TRUE(sounds[0]->is2D()) << c.what;
                EXPECT_FALSE(sounds[0]->loop) << c.what;
                EXPECT_NEAR(sounds[0]->volume, c.volume, 1e-5f) << c.what;
            }
        }
        noise.update();
        EXPECT_EQ(playing(bodySound.file).size() + playing(groundSound.file).size(), c.heard ? 1u : 0u)
            << c.what << ": one sound per impact";
        stopAll(bodySound.file);
        stopAll(groundSound.file);
    }

    // As positional sounds, at the owner's place, reaching impactMinDistance.
    noise.impact3D = 1;
    noise.impactMinDistance = 40.0f;
    noise.onCollision(hit({0, -5, 0}, up, 0));
    noise.update();
    position = {7, 7, 7};
    const std::vector<Audio::SoundInterface*> sounds = playing(groundSound.file);
    ASSERT_EQ(sounds.size(), 1u);
    ASSERT_TRUE(sounds[0]->is3D());
    auto* sound = static_cast<Audio::Sound3D*>(sounds[0]);
    EXPECT_EQ(sound->maxDistance, 40.0f);
    EXPECT_NEAR(sound->minDistance, std::pow(40.0f, 0.1f), 1e-5f);
    EXPECT_EQ(*sound->positionSource, vec3d(1, 2, 3)) << "a copy of the place at the impact";
    stopAll(groundSound.file);
}

TEST(PhysicsNoiseSounds, DragFollowsTheSliding)
{
    SoundDevice device;
    ASSERT_TRUE(Audio::isEnabled());
    MemorySound dragSound(SoundSamples::drag(), L"drag.wav");
    vec3d position{};
    PhysicsNoise noise(&position, nullptr, nullptr, dragSound.file, false);
    ASSERT_NE(noise.dragSound2D, nullptr);
    FrameFactor immediate(2.0f); // the level reaches the target in one frame
    const vec3d up{0, 1, 0};
    const auto level = [](float slide) { return std::pow((slide - 0.05f) * 0.1f, 0.55f); };
    struct Case
    {
        const char* what;
        std::vector<float> slides; // sliding speeds of one step batch
        float volume;              // 0: stopped
    };
    const Case cases[] = {
        {"resting", {}, 0},
        {"sliding at 0.05", {0.05f}, 0},
        {"sliding at 1", {1.0f}, level(1.0f) + 0.4f},
        {"the fastest slide of a batch", {0.3f, 2.0f, 1.0f}, level(2.0f) + 0.4f},
        {"the slide ended", {}, 0},
        {"too slow to hear", {0.1f}, 0},
        {"sliding fast", {20.0f}, 1.0f},
    };
    for (const Case& c : cases) {
        std::thread physics([&] {
            for (float slide : c.slides)
                noise.onCollision(hit({slide, -0.01f, 0}, up, 0));
        });
        physics.join();
        noise.update();
        Audio::Sound2D& drag = *noise.dragSound2D;
        EXPECT_EQ(drag.state, c.volume > 0 ? Audio::SoundInterface::playing : Audio::SoundInterface::stopped)
            << c.what;
        if (c.volume > 0) {
            EXPECT_NEAR(drag.volume, c.volume, 1e-5f) << c.what;
            EXPECT_TRUE(drag.loop) << c.what;
        }
    }

    // At a lower frame rate the level moves part of the way per frame.
    {
        FrameFactor slow(0.5f);
        noise.dragLevel = 0.0f;
        noise.addDrag(1.0f);
        noise.update();
        EXPECT_NEAR(noise.dragLevel, 0.4f, 1e-6f);
    }
    // Disabled, the drag sound is left as it is.
    noise.dragDisabled = 1;
    noise.addDrag(0.0f);
    noise.update();
    EXPECT_EQ(noise.dragSound2D->state, Audio::SoundInterface::playing);
    noise.dragDisabled = 0;
    noise.update();
    EXPECT_EQ(noise.dragSound2D->state, Audio::SoundInterface::stopped);
}

TEST(PhysicsNoiseSounds, WithoutADeviceNothingIsRecorded)
{
    ASSERT_FALSE(Audio::isEnabled());
    vec3d position{};
    PhysicsNoise noise(&position, nullptr, nullptr, nullptr, true);
    noise.onCollision(hit({3, -9, 0}, {0, 1, 0}, 0));
    EXPECT_EQ(noise.terrainImpact.load(), 0.0f);
    EXPECT_EQ(noise.dragTarget.load(), 0.0f);
    noise.update();
}

// The physics thread steps a box that drops onto the ground and slides: its
// impact is heard at full volume, its drag while it slides and no longer
// once it has stopped. Each frame measures 2 ms, however busy the machine.
TEST(PhysicsNoiseSounds, ABoxDroppedSlidingOnTheGroundWithThePhysicsThread)
{
    SoundDevice device;
    ASSERT_TRUE(Audio::isEnabled());
    MemorySound knock(SoundSamples::collision(), L"knock.wav");
    MemorySound scrape(SoundSamples::drag(), L"scrape.wav");
    FrameFactor normal(1.0f);
    FlatGround ground;
    ASSERT_TRUE(ground.loaded);
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(4));
    const vec3d c{ground.centre.x, ground.height, ground.centre.z};
    BoxEntity box(entities, c + vec3d(0, 1.5f, 0), {1, 1, 1}, 10.0f);
    vec3d position = c;
    box.physics->noise = new PhysicsNoise(&position, nullptr, knock.file, scrape.file, false);
    box.body()->velocity = {6, 0, 0};
    m.thread.start();

    float loudestKnock = 0.0f;
    int dragFrames = 0;
    for (int frame = 0; frame < 600 && (frame < 50 || box.physics->unchanged == 0); ++frame) {
        Sleep(2);
        frameOf(m, 2.0);
        m.update();
        for (Audio::SoundInterface* sound : playing(knock.file))
            loudestKnock = std::max(loudestKnock, sound->volume);
        dragFrames += box.physics->noise->dragSound2D->state == Audio::SoundInterface::playing;
    }
    EXPECT_EQ(loudestKnock, 1.0f);
    EXPECT_GT(dragFrames, 3);
    EXPECT_GT(box.position().x, c.x + 0.5f) << "it slid";
    for (int frame = 0; frame < 20; ++frame) {
        Sleep(2);
        frameOf(m, 2.0);
        m.update();
    }
    EXPECT_EQ(box.physics->noise->dragSound2D->state, Audio::SoundInterface::stopped) << "at rest, no drag";
    m.thread.stop();
}

}
