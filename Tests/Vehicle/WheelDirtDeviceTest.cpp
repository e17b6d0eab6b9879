// The sample quad's wheel dirt and exhaust smoke on the real device of the
// test window: the wheels' dirt textures soiled texel by texel, another
// object's dirt texture wetted while its colour texture and the quad's own
// textures stay whole, the splash and slide sounds on the silent sound
// device, and dust and smoke drawn by the particle pass.
#include "../Render/TestDevice.h"

#include "Vehicle/ExhaustSmoke.h"
#include "Vehicle/QuadInstance.h"
#include "Vehicle/WheelDirt.h"

#include "QuadSample.h"
#include "QuadSamplePackage.h"

#include "Objects/DynObject.h"
#include "Objects/PackageLight.h"
#include "Objects/PackageMesh.h"

#include "Audio/Audio.h"
#include "Audio/Sound3D.h"
#include "Entity/Entity.h"
#include "Entity/SubEntity.h"
#include "Landscape/Water.h"
#include "Landscape/WaterArea.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

using namespace TestDevice;

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
using Track = WheelDirt::Track;

struct Clock
{
    Clock()
    {
        now = 100000;
        previous = gRaceClock;
        previousTime = gFrameTime.load();
        previousFactor = gFrameFactor.load();
        gRaceClock = &read;
        gFrameTime.store(0.04f);
        gFrameFactor.store(1.0f);
        std::srand(5002);
    }
    ~Clock()
    {
        gRaceClock = previous;
        gFrameTime.store(previousTime);
        gFrameFactor.store(previousFactor);
    }
    static DWORD WINAPI read() { return now; }
    static inline DWORD now = 0;
    RaceClock previous;
    float previousTime, previousFactor;
};

class WheelDirtDevice : public DeviceSuite
{
protected:
    // The sample quad on an entity of the window's swap chain at at.
    void build(const vec3d& at)
    {
        package = quadSamplePackage();
        entity = std::make_unique<EntityManager::Entity>(*chain().entities);
        for (auto* node = package->meshes.head(); node; node = node->next)
            entity->addStoredMesh(*node->item, true, true, nullptr, nullptr);
        entity->world.setRow(3, at);
        entity->onMoved();
        quad = std::make_unique<QuadPhysics::Instance>(package->functions.quadPhysics, entity.get(), 1.0f);
        quad->swapChain = &chain();
        quad->startEffects();
        for (Track& track : quad->wheelDirt.tracks)
            track.contact->synced.contactPoint = track.contact->synced.centre = at;
    }
    void TearDown() override
    {
        quad.reset();
        entity.reset();
        package.reset();
        gWater.clear();
    }

    std::unique_ptr<ObjPkgManager::Package> package;
    std::unique_ptr<EntityManager::Entity> entity;
    std::unique_ptr<QuadPhysics::Instance> quad;
};

// A 32 x 32 texture on ref, every texel colour.
void makeTexture(TextureRef& ref, const wchar_t* name, uint32_t colour)
{
    ASSERT_TRUE(Texture::create(ref, String(name), 32, 32, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    const uint8_t bytes[4] = {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour >> 16), uint8_t(colour >> 24)};
    Texture::fillRect(ref, -1, -1, -1, -1, bytes, 0, false, true);
}

int changed(const Level& before, const Level& after)
{
    int count = 0;
    for (size_t i = 0; i < before.texels.size(); ++i)
        count += before.texels[i] != after.texels[i] ? 1 : 0;
    return count;
}

}

TEST_F(WheelDirtDevice, SoilingPaintsTheWheelsDirtTexture)
{
    Clock clock;
    build({0.0f, 0.0f, 0.0f});
    WheelDirt& dirt = quad->wheelDirt;
    Track& track = dirt.tracks[2];
    EntityManager::SubEntity* wheel = track.contact->wheel->parts[3];
    ASSERT_NE(wheel, nullptr);
    const TextureRef& texture = wheel->material.textures[DynObject::overlaySlot];
    ASSERT_TRUE(texture.isBound());
    track.colour[0] = 0.5f;
    track.colour[1] = 0.25f;
    track.colour[2] = 0.75f;
    const uint32_t want = 0x80u << 16 | 0x40u << 8 | 0xBFu;
    for (float rate : {0.5f, 1.0f, 0.1f}) {
        track.rate = rate;
        const Level before = readLevel(texture);
        const uint32_t soiledAt = Clock::now;
        dirt.soilWheel(track);
        // Chosen now, painted once the delay has passed.
        EXPECT_EQ(track.pendingCount, int(rate * 40.0f)) << rate;
        EXPECT_EQ(track.uploadTime, Clock::now + WheelDirt::soilUploadDelay);
        Clock::now += WheelDirt::soilUploadDelay - 1;
        dirt.uploadSoiling(false);
        EXPECT_EQ(changed(before, readLevel(texture)), 0) << rate;
        Clock::now += 1;
        dirt.uploadSoiling(false);
        EXPECT_EQ(track.pendingCount, 0);
        const Level after = readLevel(texture);
        EXPECT_LE(changed(before, after), int(rate * 40.0f)) << rate;
        EXPECT_GT(changed(before, after), 0) << rate;
        for (size_t i = 0; i < after.texels.size(); ++i) {
            if (after.texels[i] == before.texels[i])
                continue;
            EXPECT_EQ(after.texels[i] & 0xFFFFFFu, want);
            // Each touch adds 15 to 54 to the alpha, at most 160.
            EXPECT_GE((after.texels[i] >> 24), std::min((before.texels[i] >> 24) + 15u, 160u));
            EXPECT_LE((after.texels[i] >> 24), 160u);
        }
        EXPECT_EQ(track.nextSoilTime, soiledAt + 300u);
    }
    // Soiled again and again, the dirt never passes alpha 160. Four soilings
    // at the top rate wait; a fifth brings them to the device first.
    track.rate = 1.0f;
    for (int i = 0; i < 4; ++i)
        dirt.soilWheel(track);
    const Level waiting = readLevel(texture);
    EXPECT_EQ(track.pendingCount, WheelDirt::pendingCapacity);
    dirt.soilWheel(track);
    EXPECT_EQ(track.pendingCount, 40);
    EXPECT_GT(changed(waiting, readLevel(texture)), 40);
    for (int i = 0; i < 200; ++i)
        dirt.soilWheel(track);
    dirt.uploadSoiling(true);
    int capped = 0;
    for (uint32_t texel : readLevel(texture).texels) {
        EXPECT_LE(texel >> 24, 160u);
        capped += texel >> 24 == 160u ? 1 : 0;
    }
    EXPECT_GT(capped, 100);
}

// Both rear tracks soil the rear wheels' one texture: their waiting texels
// reach it in one upload, due by the earlier of the two; the update brings
// them. A wheel whose dirt slot is empty is never soiled, so the shared
// stand-in texture keeps every texel.
TEST_F(WheelDirtDevice, RearTracksShareOneUploadAndAnEmptySlotStaysClean)
{
    Clock clock;
    build({0.0f, 0.0f, 0.0f});
    WheelDirt& dirt = quad->wheelDirt;
    Track& left = dirt.tracks[2];
    Track& right = dirt.tracks[3];
    ASSERT_EQ(left.contact->wheel, right.contact->wheel) << "one rear unit";
    const TextureRef& texture = left.contact->wheel->parts[3]->material.textures[DynObject::overlaySlot];
    const Level clean = readLevel(texture);
    left.rate = right.rate = 1.0f;
    left.colour[0] = 1.0f;
    right.colour[1] = 1.0f;
    dirt.soilWheel(left);
    Clock::now += 400;
    dirt.soilWheel(right);
    EXPECT_EQ(right.uploadTime, Clock::now + WheelDirt::soilUploadDelay);
    Clock::now += WheelDirt::soilUploadDelay - 400;
    dirt.update();
    EXPECT_EQ(left.pendingCount + right.pendingCount, 0) << "the left one was due, the right went with it";
    int red = 0, green = 0;
    for (uint32_t texel : readLevel(texture).texels) {
        red += (texel & 0xFFFFFFu) == 0xFF0000u ? 1 : 0;
        green += (texel & 0xFFFFFFu) == 0x00FF00u ? 1 : 0;
    }
    EXPECT_GT(red, 20);
    EXPECT_GT(green, 20);
    EXPECT_GT(changed(clean, readLevel(texture)), 60);

    // The front left wheel without its dirt texture.
    Track& front = dirt.tracks[0];
    front.contact->wheel->parts[3]->material.textures[DynObject::overlaySlot].release();
    const TextureRef empty;
    const Level standIn = readLevel(empty);
    ASSERT_FALSE(standIn.texels.empty()) << "the device's stand-in";
    front.rate = 1.0f;
    dirt.soilWheel(front);
    EXPECT_EQ(front.pendingCount, 0);
    EXPECT_EQ(front.nextSoilTime, 0u);
    dirt.uploadSoiling(true);
    EXPECT_EQ(changed(standIn, readLevel(empty)), 0);
}

TEST_F(WheelDirtDevice, WettingDarkensAnotherObjectsDirtTextureOnly)
{
    Clock clock;
    build({0.0f, 0.0f, 0.0f});
    WheelDirt& dirt = quad->wheelDirt;
    Track& track = dirt.tracks[0];
    // A wide slab under the wheel: the sample's body stretched flat.
    auto other = std::make_unique<EntityManager::Entity>(*chain().entities);
    ObjPkgManager::Mesh* body = package->functions.quadPhysics->mesh(QuadPhysics::body);
    ASSERT_NE(body, nullptr);
    other->addStoredMesh(*body, true, true, nullptr, nullptr);
    other->world = matrix3d::identity();
    for (int i : {0, 10})
        other->world.m[i] = 60.0f;
    other->world.m[5] = 4.0f;
    other->world.setRow(3, {0.0f, -8.0f, 0.0f});
    other->onMoved();
    EntityManager::SubEntity* slab = other->subEntities.head()->item;
    makeTexture(slab->material.textures[0], L"SharedColour", 0xFF336699u);
    makeTexture(slab->material.textures[DynObject::overlaySlot], L"SlabDirt", 0x00000000u);
    const Level colourBefore = readLevel(slab->material.textures[0]);
    EntityManager::SubEntity* ownWheel = track.contact->wheel->parts[3];
    const Level ownBefore = readLevel(ownWheel->material.textures[DynObject::overlaySlot]);

    int tries = 0;
    while (readLevel(slab->material.textures[DynObject::overlaySlot]).texels[0] == 0 && tries < 200) {
        track.nextSoilTime = 0;
        dirt.wetNearbyObject(track, &chain());
        EXPECT_EQ(track.nextSoilTime, Clock::now + 500u);
        ++tries;
    }
    ASSERT_LT(tries, 200) << "a ray meets the slab";
    for (uint32_t texel : readLevel(slab->material.textures[DynObject::overlaySlot]).texels)
        EXPECT_EQ(texel, 0x1E000000u);
    EXPECT_EQ(changed(colourBefore, readLevel(slab->material.textures[0])), 0) << "the shared colour texture";
    EXPECT_EQ(changed(ownBefore, readLevel(ownWheel->material.textures[DynObject::overlaySlot])), 0) << "the quad's own wheel";
    // Not before the soil time.
    const uint8_t clear[4] = {};
    Texture::fillRect(slab->material.textures[DynObject::overlaySlot], -1, -1, -1, -1, clear, 0, false, true);
    track.nextSoilTime = Clock::now + 1;
    for (int i = 0; i < 50; ++i)
        dirt.wetNearbyObject(track, &chain());
    EXPECT_EQ(readLevel(slab->material.textures[DynObject::overlaySlot]).texels[0], 0u);
    other.reset();
}

TEST_F(WheelDirtDevice, SplashAndSlideSoundsOnTheSilentDevice)
{
    Clock clock;
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    {
        build({0.0f, 0.0f, 0.0f});
        WheelDirt& dirt = quad->wheelDirt;
        ASSERT_NE(dirt.splashSound, nullptr);
        ASSERT_NE(dirt.slideSound, nullptr);
        EXPECT_EQ(dirt.splashSound->maxDistance, 1000.0f);
        EXPECT_NEAR(dirt.slideSound->minDistance, std::pow(1000.0f, 0.42f), 1e-3f);
        EXPECT_EQ(dirt.splashSound->positionSource, &dirt.soundPosition);
        const auto step = [&](float dz) {
            Clock::now += 20;
            vec3d at = entity->world.row(3);
            at.z += dz;
            entity->world.setRow(3, at);
            for (Track& track : dirt.tracks)
                track.contact->synced.contactPoint.z += dz;
            dirt.update();
            Audio::update();
        };
        // Standing and dry: both silent.
        step(0.0f);
        step(0.0f);
        EXPECT_NE(dirt.splashSound->state, Audio::SoundInterface::playing);
        EXPECT_NE(dirt.slideSound->state, Audio::SoundInterface::playing);

        // Through water 2 deep at speed 2: at least half loud, then louder
        // with depth and speed.
        auto* lake = new WaterArea(nullptr);
        const vec2d corners[4] = {{-50.0f, -50.0f}, {50.0f, -50.0f}, {50.0f, 50.0f}, {-50.0f, 50.0f}};
        for (int i = 0; i < 4; ++i)
            *lake->outline.at(i) = corners[i];
        lake->outlineCount = 4;
        const uint16_t triangles[6] = {0, 1, 2, 0, 2, 3};
        for (int i = 0; i < 6; ++i)
            *lake->triangles.at(i) = triangles[i];
        lake->indexCount = 6;
        lake->box.minimum = {-50.0f, -20.0f, -50.0f};
        lake->box.maximum = {50.0f, 2.0f, 50.0f};
        lake->level = 2.0f;
        gWater.dormant.append(lake);
        step(2.0f);
        EXPECT_EQ(dirt.tracks[0].inWater, 1);
        EXPECT_EQ(dirt.splashSound->state, Audio::SoundInterface::playing);
        EXPECT_NEAR(dirt.splashSound->volume, dirt.splashLevel * 0.9f, 1e-6f);
        EXPECT_GE(dirt.splashLevel, 0.5f);
        gFrameTime.store(5.0f);
        const float target = std::pow(2.0f * 0.4f * 0.6f, 0.3f);
        for (int i = 0; i < 20; ++i)
            step(2.0f);
        EXPECT_NEAR(dirt.splashLevel, target, 0.02f);
        EXPECT_NEAR(dirt.splashSound->volume, dirt.splashLevel * 0.9f, 1e-6f);
        gWater.clear();
        dirt.splashLevel = 0.05f;
        step(0.0f);
        EXPECT_NE(dirt.splashSound->state, Audio::SoundInterface::playing);

        // One rear contact sliding at 20: s = 0.6, volume 0.54, pitch 1.1.
        gFrameTime.store(0.04f);
        dirt.tracks[2].contact->grounded = 1;
        dirt.tracks[2].contact->slideSpeed = 20.0f;
        step(0.0f);
        EXPECT_EQ(dirt.slideSound->state, Audio::SoundInterface::playing);
        EXPECT_NEAR(dirt.slideSound->volume, 0.54f, 1e-5f);
        EXPECT_NEAR(dirt.slideSound->frequencyScale, 1.1f, 1e-5f);
        dirt.tracks[2].contact->slideSpeed = 3.0f;
        step(0.0f);
        EXPECT_NE(dirt.slideSound->state, Audio::SoundInterface::playing);
        TearDown();
    }
    Audio::release();
}

TEST_F(WheelDirtDevice, DustAndSmokeShowBehindTheQuad)
{
    Clock clock;
    const vec3d at(0.0f, 0.0f, 40.0f);
    build(at);
    chain().fogEnabled = 0;
    lookAlongZ(chain(), {0.0f, 3.0f, 20.0f});
    WheelDirt& dirt = quad->wheelDirt;
    ExhaustSmoke& smoke = quad->exhaustSmoke;
    // A bare entity has no placed object to find its package through: the
    // outlet is the sample package's third light, which projects nothing.
    const ObjPkgManager::Light* third = nullptr;
    int index = 0;
    for (auto* node = package->lights.head(); node; node = node->next, ++index)
        if (index == 2)
            third = node->item;
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(third->kind, 2u);
    EXPECT_EQ(third->disabled, 1u);
    EXPECT_EQ(third->transform.row(3), QuadSample::exhaustOutlet);
    smoke.create(third->transform);
    ASSERT_NE(smoke.system, nullptr);
    matrix3d outlet;
    smoke.emitterTransform(outlet);
    EXPECT_NEAR(outlet.m[12], at.x + 0.3f, 1e-4f);
    EXPECT_NEAR(outlet.m[14], at.z - 0.95f, 1e-4f);

    // The rear wheels spin on grey ground and the throttle opens: frames
    // with the systems shown against frames with them stopped.
    const auto frames = [&](bool shown) {
        std::srand(5003);
        for (ParticleSystem* system : {static_cast<ParticleSystem*>(dirt.dust),
                                       static_cast<ParticleSystem*>(dirt.clods),
                                       static_cast<ParticleSystem*>(smoke.system)})
            system->stopped = shown ? 0 : 1;
        for (Track& track : dirt.tracks) {
            track.contact->grounded = 1;
            track.colour[0] = track.colour[1] = track.colour[2] = 0.6f;
            track.colour[3] = 1.0f;
        }
        quad->engineSound.load = 1.0f;
        Level last;
        for (int f = 0; f < 12; ++f) {
            Clock::now += 20;
            entity->world.m[14] = at.z + float(f % 2);
            for (Track& track : dirt.tracks) {
                track.contact->synced.contactPoint = at + vec3d(0.0f, 0.0f, float(f) * 16.0f);
                track.contact->wheel->spinAngle = float(f) * 40.0f;
            }
            dirt.update();
            smoke.update();
            if (!shown)
                for (ParticleSystem* system : {static_cast<ParticleSystem*>(dirt.dust),
                                               static_cast<ParticleSystem*>(dirt.clods),
                                               static_cast<ParticleSystem*>(smoke.system)})
                    system->stopped = 1;
            last = drawFrame(chain(), 0xFF000000u);
        }
        return last;
    };
    const Level quiet = frames(false);
    const Level busy = frames(true);
    ASSERT_EQ(quiet.texels.size(), busy.texels.size());
    EXPECT_GT(changed(quiet, busy), 50);
    // Smoke above the outlet.
    const vec2d above = screenPoint(chain(), outlet.row(3) + vec3d(0.0f, 1.0f, 0.0f));
    int lit = 0;
    for (int dy = -8; dy <= 8; ++dy)
        for (int dx = -8; dx <= 8; ++dx) {
            const int x = int(above.x) + dx, y = int(above.y) + dy;
            if (x < 0 || y < 0 || x >= int(busy.width) || y >= int(busy.height))
                continue;
            lit += busy.at(uint32_t(x), uint32_t(y)) != quiet.at(uint32_t(x), uint32_t(y)) ? 1 : 0;
        }
    EXPECT_GT(lit, 0);
}
