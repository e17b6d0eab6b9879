// The sample quad's wheel dirt and exhaust smoke without a device: when a
// track throws dirt and how much, the clods' rim angles, the oil and water
// tints, the dust's colours, growth and fade and the placed quad's speed that
// starts it, the splash level and the water depth the contacts get, and the
// smoke's puffs (the race clock, the frame time and rand set by the tests;
// the particle pass done by hand).
#include "Vehicle/ExhaustSmoke.h"
#include "Vehicle/QuadInstance.h"
#include "Vehicle/WheelDirt.h"

#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"
#include "QuadSamplePackage.h"

#include "Objects/DynObject.h"
#include "Objects/PackageMesh.h"

#include "Audio/EngineSound.h"
#include "Entity/Entity.h"
#include "Entity/ParticleSystem.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Landscape/WaterArea.h"
#include "Physics/PhysicsManager.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
using Track = WheelDirt::Track;

// The race clock at a time the test moves, the frame factor 1, the frame
// time 0.04 s and rand seeded; all back at the end.
struct Clock
{
    explicit Clock(uint32_t seed = 5001)
    {
        now = 100000;
        previous = gRaceClock;
        previousFactor = gFrameFactor.load();
        previousTime = gFrameTime.load();
        gRaceClock = &read;
        gFrameFactor.store(1.0f);
        gFrameTime.store(0.04f);
        std::srand(seed);
    }
    ~Clock()
    {
        gRaceClock = previous;
        gFrameFactor.store(previousFactor);
        gFrameTime.store(previousTime);
    }
    static DWORD WINAPI read() { return now; }
    static inline DWORD now = 0;
    RaceClock previous;
    float previousFactor, previousTime;
};

// The sample quad on an entity of a swap chain without a device, its
// effects set up as the quad's construction sets them up.
struct Rig
{
    Rig() : package(quadSamplePackage())
    {
        gTerrain.clear();
        chain.entities->physicsManager->start(8);
        for (auto* node = package->meshes.head(); node; node = node->next)
            entity.addStoredMesh(*node->item, true, true, nullptr, nullptr);
        entity.world.setRow(3, {100.0f, 0.0f, 100.0f});
        quad = std::make_unique<QuadPhysics::Instance>(package->functions.quadPhysics, &entity, 1.0f);
        quad->swapChain = &chain;
        quad->startEffects();
        for (Track& track : dirt().tracks)
            track.contact->synced.contactPoint = entity.world.row(3);
    }
    WheelDirt& dirt() { return quad->wheelDirt; }
    // The entity moved by step along z, the clock on by 20 ms, the update.
    void frame(float step = 0.0f)
    {
        Clock::now += 20;
        vec3d at = entity.world.row(3);
        at.z += step;
        entity.world.setRow(3, at);
        for (Track& track : dirt().tracks)
            track.contact->synced.contactPoint.z += step;
        dirt().update();
    }

    std::unique_ptr<ObjPkgManager::Package> package;
    D3D::Device::SwapChain chain{nullptr};
    EntityManager::Entity entity{*chain.entities};
    std::unique_ptr<QuadPhysics::Instance> quad;
};

// The particle manager's advance, by hand: the callback, then age and
// movement by the frame factor 1 unless frozen.
void pass(ParticleSystem* system)
{
    ASSERT_NE(system, nullptr);
    for (auto* node = system->particles.head(); node; node = node->next) {
        Particle& p = *node->item;
        EXPECT_EQ(system->callback(p), 1u);
        if (!p.frozen) {
            p.age += 1.0f;
            p.position += p.velocity;
        }
    }
}

int shown(ParticleSystem* system)
{
    int count = 0;
    for (auto* node = system->particles.head(); node; node = node->next)
        count += node->item->hidden ? 0 : 1;
    return count;
}

// The sample quad placed as a dynamic object on level ground by a scene
// whose swap chain has no device, as a race places it.
struct PlacedRig
{
    PlacedRig()
    {
        EXPECT_TRUE(
            TerrainTestMaps::loadGlobal(TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 20000.0f; })));
        const std::wstring folder = AppTestFiles::freshFolder(L"wheeldirt");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(QuadSample::save(String(folder.c_str())));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(8);
        Object* placed = scene.objectPackages.createObject(scene.objectPackages.findPackage(String(L"Quad")),
                                                           {0.0f, gTerrain.getHeight(0.0f, 0.0f, 3), 0.0f}, 1.0f);
        if (!placed)
            return;
        placed->instance = placed->createInstance();
        object = dynamic_cast<DynObject*>(placed->instance);
        auto* entry = object && object->functions ? object->functions->find(DynObject::FunctionManager::quadFlag)
                                                  : nullptr;
        quad = entry ? dynamic_cast<QuadPhysics::Instance*>(entry->instance) : nullptr;
    }
    ~PlacedRig()
    {
        scene.release();
        gTerrain.clear();
    }

    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f};
    DynObject* object = nullptr;
    QuadPhysics::Instance* quad = nullptr;
};

void setColour(Track& track, float r, float g, float b)
{
    track.colour[0] = r / 255.0f;
    track.colour[1] = g / 255.0f;
    track.colour[2] = b / 255.0f;
    track.colour[3] = 1.0f;
}

// A square of water of side 40 at level around (x, z).
WaterArea* pond(float x, float z, float level)
{
    auto* area = new WaterArea(nullptr);
    const vec2d corners[4] = {{x - 20.0f, z - 20.0f}, {x + 20.0f, z - 20.0f}, {x + 20.0f, z + 20.0f},
                              {x - 20.0f, z + 20.0f}};
    for (int i = 0; i < 4; ++i)
        *area->outline.at(i) = corners[i];
    area->outlineCount = 4;
    const uint16_t triangles[6] = {0, 1, 2, 0, 2, 3};
    for (int i = 0; i < 6; ++i)
        *area->triangles.at(i) = triangles[i];
    area->indexCount = 6;
    area->box.minimum = {x - 20.0f, level - 50.0f, z - 20.0f};
    area->box.maximum = {x + 20.0f, level, z + 20.0f};
    area->box.center = (area->box.minimum + area->box.maximum) * 0.5f;
    area->level = level;
    return area;
}

}

TEST(WheelDirt, SetUpOnTheSampleQuad)
{
    Clock clock;
    Rig rig;
    WheelDirt& dirt = rig.dirt();
    ASSERT_NE(dirt.dust, nullptr);
    ASSERT_NE(dirt.clods, nullptr);
    EXPECT_EQ(dirt.dust->particles.count(), 70u);
    EXPECT_EQ(dirt.clods->particles.count(), 120u);
    EXPECT_EQ(dirt.dust->stopped, 0u);
    EXPECT_EQ(dirt.dust->sourceBlend, uint32_t(D3DBLEND_SRCALPHA));
    EXPECT_EQ(dirt.clods->destinationBlend, uint32_t(D3DBLEND_INVSRCALPHA));
    EXPECT_EQ(dirt.dust->deleteWhenEmpty, 0u);
    EXPECT_EQ(dirt.dust->owner, &dirt);
    EXPECT_EQ(dirt.swapChain, &rig.chain);
    EXPECT_EQ(dirt.instance, rig.quad.get());
    // Front left, front right, rear left, rear right.
    QuadPhysics::Instance& quad = *rig.quad;
    EXPECT_EQ(dirt.tracks[0].contact, &quad.wheels[0].contacts[0]);
    EXPECT_EQ(dirt.tracks[1].contact, &quad.wheels[1].contacts[0]);
    EXPECT_EQ(dirt.tracks[2].contact, &quad.wheels[2].contacts[0]);
    EXPECT_EQ(dirt.tracks[3].contact, &quad.wheels[2].contacts[1]);
    for (const Track& track : dirt.tracks)
        EXPECT_EQ(track.rate, 0.5f);
    // Released twice: harmless.
    dirt.release();
    dirt.release();
    EXPECT_EQ(dirt.dust, nullptr);
    EXPECT_EQ(dirt.splashSound, nullptr);
}

TEST(WheelDirt, AStandingQuadThrowsNothing)
{
    Clock clock;
    Rig rig;
    WheelDirt& dirt = rig.dirt();
    for (Track& track : dirt.tracks)
        track.contact->grounded = 1;
    for (int i = 0; i < 30; ++i) {
        rig.frame();
        pass(dirt.dust);
        pass(dirt.clods);
        for (const Track& track : dirt.tracks)
            EXPECT_EQ(track.emitted, 0) << i;
    }
    EXPECT_EQ(dirt.speedRoot, 0.0f);
    EXPECT_LE(dirt.splashLevel, 0.05f);
    EXPECT_EQ(shown(dirt.dust), 0);
    EXPECT_EQ(shown(dirt.clods), 0);
}

// Rate = min(spin travel x 0.03, amount x 0.7 + (1 - amount) x 0.1), amount
// from the ground's likeness to soil, spinning (+1), the slide and the tint.
TEST(WheelDirt, EmissionFollowsTheGroundTheSpinAndTheSlide)
{
    struct Case
    {
        const char* what;
        float r, g, b;
        bool spinning;
        float spinStep, slide;
        bool emits;
        float rate;
    };
    const float white = 1.0f - 5.0f * ((255.0f - 96.0f) + (255.0f - 14.0f) + (255.0f - 10.0f)) / 255.0f / 3.0f;
    const float slidAmount = 30.0f * 0.12f + white;
    const Case cases[] = {
        {"a wheel spinning on soil: the top rate", 96, 14, 10, true, 40.0f, 0.0f, true, 0.7f},
        {"rolling on soil, 20 degrees a frame", 96, 14, 10, false, 20.0f, 0.0f, true, 0.6f},
        {"rolling on soil, 15 degrees: no dirt", 96, 14, 10, false, 15.0f, 0.0f, false, 0.5f},
        {"on white ground only a trickle", 255, 255, 255, false, 40.0f, 0.0f, true, 0.1f},
        {"on white ground the slide keeps it alive", 255, 255, 255, false, 40.0f, 30.0f, true,
         slidAmount * 0.7f + (1.0f - slidAmount) * 0.1f},
        {"spin travel caps the rate", 96, 14, 10, true, 16.0f, 0.0f, true, 16.0f * 0.03f},
    };
    for (const Case& c : cases) {
        Clock clock;
        Rig rig;
        WheelDirt& dirt = rig.dirt();
        Track& track = dirt.tracks[0];
        QuadPhysics::Contact& contact = *track.contact;
        contact.grounded = 1;
        contact.slideSpeed = c.slide;
        contact.wheel->spinning = c.spinning ? 1u : 0u;
        setColour(track, c.r, c.g, c.b);
        contact.wheel->spinAngle = c.spinStep;
        rig.frame();
        EXPECT_EQ(track.emitted, c.emits ? 1 : 0) << c.what;
        EXPECT_NEAR(track.rate, c.rate, 1e-4f) << c.what;
        if (!c.emits)
            continue;
        EXPECT_EQ(track.nextEmitTime, Clock::now + uint32_t(std::lrint(100.0f / c.rate))) << c.what;
        EXPECT_EQ(track.lastSpinAngle, c.spinStep) << c.what;
        // Clods of the turn due leave that frame in the track's colour.
        pass(dirt.clods);
        int flying = 0;
        for (auto* node = dirt.clods->particles.head(); node; node = node->next) {
            const Particle& p = *node->item;
            if (p.hidden)
                continue;
            ++flying;
            EXPECT_EQ(p.colour.r, uint8_t(c.r)) << c.what;
            EXPECT_EQ(p.colour.b, uint8_t(c.b)) << c.what;
            // Thrown off the rim, within the wheel's radius of its centre.
            EXPECT_LE((p.position - p.velocity - contact.synced.centre).length(), contact.wheel->halfRayLength + 1e-3f);
            // Its size runs from 5 r (alpha 100) towards 10 r to 15 r as
            // the alpha fades, r the rate (at least 0.3): one frame's fade.
            const float r = std::max(c.rate, 0.3f), f = 1.0f - 0.04f * 0.12f;
            EXPECT_GE(p.width, f * 5.0f * r + (1.0f - f) * 10.0f * r - 1e-5f) << c.what;
            EXPECT_LE(p.width, f * 5.0f * r + (1.0f - f) * 15.0f * r + 1e-5f) << c.what;
            // It shows as sin(f pi) of its peak alpha (185 to 254): faint
            // as it leaves, at its peak half way through the fade.
            const float shows = std::sin(f * 3.14159265f);
            EXPECT_GE(p.colour.a, uint8_t(std::lrint(shows * 185.0f))) << c.what;
            EXPECT_LE(p.colour.a, uint8_t(std::lrint(shows * 254.0f))) << c.what;
            // Thrown along the rim's turn at the spin's pace: the direction
            // from the centre to where it left, turned a right angle forwards
            // over the top; each axis within the jitter and one frame's drag.
            const vec3d radial = (p.position - p.velocity - contact.synced.centre).normalised();
            const vec3d along(0.0f, -radial.z, radial.y);
            const float pace = track.spinTravel * track.rate * 0.015f;
            if (pace > 0.2f) {
                const vec3d rest = p.velocity - dirt.frameMove - along * pace;
                EXPECT_LT(std::fabs(rest.x), 0.035f) << c.what;
                EXPECT_LT(std::fabs(rest.y), 0.035f) << c.what;
                EXPECT_LT(std::fabs(rest.z), 0.035f) << c.what;
            }
        }
        EXPECT_GT(flying, 0) << c.what;
        EXPECT_LE(flying, 6) << c.what;
        // The next frame the cycle moves on; nothing more before the deadline.
        contact.wheel->spinAngle = c.spinStep * 2.0f;
        rig.frame();
        EXPECT_EQ(track.cycle, 1) << c.what;
        EXPECT_EQ(track.emitted, 0) << c.what;
    }
}

TEST(WheelDirt, ClodsTakeRimAnglesInTurnsOfSix)
{
    Clock clock;
    Rig rig;
    WheelDirt& dirt = rig.dirt();
    pass(dirt.clods);
    int total = 0;
    for (const Track& track : dirt.tracks) {
        EXPECT_EQ(track.rimAngle % 60, 0);
        EXPECT_GE(track.rimAngle, 0);
        EXPECT_LE(track.rimAngle, 300);
        total += track.rimTurn * 6 + track.rimAngle / 60;
    }
    EXPECT_EQ(total, 120);
    // A clod takes its rim angle once: the next pass takes no more.
    pass(dirt.clods);
    int again = 0;
    for (const Track& track : dirt.tracks)
        again += track.rimTurn * 6 + track.rimAngle / 60;
    EXPECT_EQ(again, 120);
    // One more clod: 300 wraps to 0 with the next turn.
    Track& track = dirt.tracks[1];
    track.rimAngle = 300;
    track.rimTurn = 4;
    for (int i = 0; i < 50 && track.rimAngle == 300; ++i) {
        Particle p;
        p.system = dirt.clods;
        WheelDirt::clodParticle(p);
        EXPECT_EQ(p.hidden, 1u);
    }
    EXPECT_EQ(track.rimAngle, 0);
    EXPECT_EQ(track.rimTurn, 5);
}

TEST(WheelDirt, OilBlackensTheDirtAndItsTintFades)
{
    Clock clock;
    Rig rig;
    WheelDirt& dirt = rig.dirt();
    Track& track = dirt.tracks[2];
    track.contact->oiled = 1;
    rig.frame();
    EXPECT_EQ(track.tintWeight, 1.0f);
    EXPECT_EQ(track.tint[0], 0.0f);
    EXPECT_EQ(track.tint[3], 1.0f);
    track.contact->oiled = 0;
    gFrameTime.store(0.5f);
    float weight = 1.0f;
    for (int i = 0; i < 5; ++i) {
        rig.frame();
        weight -= 0.5f * weight * 0.1f;
        EXPECT_NEAR(track.tintWeight, weight, 1e-6f) << i;
    }
    // Thrown now (the tint lets even an airborne wheel throw), the dirt is
    // the ground's colour darkened by the tint's weight.
    setColour(track, 200, 100, 50);
    track.contact->wheel->spinAngle = 100.0f;
    rig.frame();
    weight -= 0.5f * weight * 0.1f;
    ASSERT_EQ(track.emitted, 1);
    EXPECT_NEAR(track.colour[0], 200.0f / 255.0f * (1.0f - weight), 1e-5f);
    EXPECT_NEAR(track.colour[3], 1.0f, 1e-5f);
}

TEST(WheelDirt, DustInTheGroundsColourAndBlueWhiteInWater)
{
    struct Case
    {
        const char* what;
        float r, g, b;
        bool water;
        uint8_t wantR, wantG, wantB, alpha;
        float fall, growTo;
    };
    // Moving 1 a frame: speed factor 0.3, its root the dust's growth.
    const float root = std::sqrt(0.3f);
    const Case cases[] = {
        {"soil, 15 lighter", 96, 14, 10, false, 111, 29, 25, 120, 0.0f, root * 12.0f},
        {"white ground stays white", 250, 245, 255, false, 255, 255, 255, 120, 0.0f, root * 12.0f},
        {"water spray", 96, 14, 10, true, 200, 220, 238, 160, -1.7f, root * 23.0f},
    };
    for (const Case& c : cases) {
        Clock clock;
        gWater.clear();
        Rig rig;
        WheelDirt& dirt = rig.dirt();
        Track& track = dirt.tracks[3];
        track.contact->grounded = 1;
        setColour(track, c.r, c.g, c.b);
        if (c.water)
            gWater.dormant.append(pond(100.0f, 100.0f, 3.0f));
        rig.frame(1.0f);
        rig.frame(1.0f);
        EXPECT_NEAR(dirt.speedRoot, root, 1e-4f) << c.what;
        EXPECT_EQ(track.inWater, c.water ? 1 : 0) << c.what;
        EXPECT_EQ(track.waterDepth, c.water ? 3.0f : 0.0f) << c.what;
        EXPECT_EQ(float(track.contact->waterDepth), track.waterDepth) << c.what;
        if (c.water) {
            // Held at half at once, then easing towards its target.
            const float target = std::pow(3.0f * 0.4f * 0.3f, 0.3f);
            EXPECT_NEAR(dirt.splashLevel, 0.5f + (target - 0.5f) * 0.04f * 0.08f, 1e-5f) << c.what;
        }
        pass(dirt.dust);
        // One puff for the track (the spacing holds the rest back).
        const Particle* puff = nullptr;
        int puffs = 0;
        for (auto* node = dirt.dust->particles.head(); node; node = node->next)
            if (!node->item->hidden) {
                puff = node->item;
                ++puffs;
            }
        ASSERT_EQ(puffs, 1) << c.what;
        EXPECT_EQ(puff->colour.r, c.wantR) << c.what;
        EXPECT_EQ(puff->colour.g, c.wantG) << c.what;
        EXPECT_EQ(puff->colour.b, c.wantB) << c.what;
        const float dt = 0.04f;
        EXPECT_EQ(puff->colour.a, uint8_t(std::lrint(float(c.alpha) * (1.0f - (c.water ? 0.08f : 0.035f) * dt))))
            << c.what;
        // Thrown up from the contact with a jitter of at most half a unit
        // on each axis (the quad stands upright).
        EXPECT_LE(std::fabs(puff->velocity.x), 0.5f) << c.what;
        EXPECT_LE(std::fabs(puff->velocity.z), 0.5f) << c.what;
        // Falling towards its target speed and growing towards its size.
        const vec3d v = puff->velocity;
        const float size = puff->width;
        pass(dirt.dust);
        EXPECT_NEAR(puff->velocity.y, v.y + (c.fall - v.y) * 0.07f * dt, 1e-5f) << c.what;
        EXPECT_NEAR(puff->velocity.x, v.x * (1.0f - dt * 0.1f), 1e-6f) << c.what;
        EXPECT_NEAR(puff->velocity.z, v.z * (1.0f - dt * 0.1f), 1e-6f) << c.what;
        EXPECT_NEAR(puff->width, size + (c.growTo - size) * dt * 0.04f, 1e-5f) << c.what;
        // Fading at its rate: a frame of a whole second takes that share of
        // what is left.
        const float fade = c.water ? 0.08f : 0.035f;
        const float left = float(c.alpha) * (1.0f - fade * dt) * (1.0f - fade * dt);
        gFrameTime.store(1.0f);
        pass(dirt.dust);
        gFrameTime.store(dt);
        EXPECT_NEAR(float(puff->colour.a), left * (1.0f - fade), 0.51f) << c.what;
        // Dirt thrown now is mixed half and half with the water's blue-white.
        track.contact->wheel->spinAngle = 100.0f;
        rig.frame(1.0f);
        ASSERT_EQ(track.emitted, 1) << c.what;
        const float tint[3] = {200.0f, 220.0f, 238.0f};
        const float ground[3] = {c.r, c.g, c.b};
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(track.colour[k] * 255.0f, c.water ? (ground[k] + tint[k]) * 0.5f : ground[k], 1e-3f)
                << c.what << k;
        gWater.clear();
    }
}

// On a dynamic object the dust follows the object's speed (its move since
// the last prepare over the frame factor), not the entity's move in the
// frame; the dust starts above a speed root of 0.05.
TEST(WheelDirt, ThePlacedQuadsSpeedStartsTheDust)
{
    struct Case
    {
        const char* what;
        float moved;
        float root;
    };
    const Case cases[] = {
        {"standing", 0.0f, 0.0f},
        {"creeping: below the dust's start", 0.008f, std::sqrt(0.008f * 0.3f)},
        {"just above the start", 0.01f, std::sqrt(0.01f * 0.3f)},
        {"one unit a frame", 1.0f, std::sqrt(0.3f)},
        {"fast: the factor stops at 1", 10.0f, 1.0f},
    };
    for (const Case& c : cases) {
        Clock clock;
        PlacedRig rig;
        ASSERT_NE(rig.quad, nullptr) << c.what;
        WheelDirt& dirt = rig.quad->wheelDirt;
        ASSERT_NE(dirt.dust, nullptr) << c.what;
        const vec3d at = rig.object->world.row(3);
        for (Track& track : dirt.tracks) {
            track.contact->grounded = 1;
            track.contact->synced.contactPoint = at;
            track.lastDustPos = at + vec3d(100.0f, 0.0f, 0.0f);
        }
        rig.object->previousPosition = at - vec3d(0.0f, 0.0f, c.moved);
        Clock::now += 20;
        dirt.update();
        dirt.update(); // the entity itself stands still between the two
        EXPECT_NEAR(dirt.speedRoot, c.root, 1e-3f) << c.what;
        pass(dirt.dust);
        EXPECT_EQ(shown(dirt.dust) > 0, c.root > 0.05f) << c.what;
    }
}

TEST(WheelDirt, AQuadWithoutWheelsOrEffectsIsHarmless)
{
    Clock clock;
    Rig rig;
    WheelDirt& dirt = rig.dirt();
    // No device: the wheels' dirt textures hold nothing to paint.
    Track& track = dirt.tracks[0];
    track.rate = 1.0f;
    dirt.soilWheel(track);
    EXPECT_EQ(track.nextSoilTime, 0u);
    Track loose;
    dirt.soilWheel(loose);
    dirt.wetNearbyObject(loose, &rig.chain);
    // Released: an update and the callbacks of a stray particle do nothing.
    dirt.release();
    rig.frame(1.0f);
    Particle stray;
    EXPECT_EQ(WheelDirt::dustParticle(stray), 1u);
    EXPECT_EQ(WheelDirt::clodParticle(stray), 1u);
}

TEST(ExhaustSmoke, PuffsOnlyWhileTheThrottleRunsAhead)
{
    Clock clock;
    D3D::Device::SwapChain chain{nullptr};
    EntityManager::Entity entity(*chain.entities);
    entity.world.setRow(3, {10.0f, 0.0f, 10.0f});
    Audio::EngineSound engine;
    ExhaustSmoke smoke;
    smoke.init(&chain, &entity, &engine);
    matrix3d outlet = matrix3d::identity();
    outlet.setRow(3, {0.3f, 0.5f, -1.0f});
    smoke.create(outlet);
    ASSERT_NE(smoke.system, nullptr);
    EXPECT_EQ(smoke.system->particles.count(), 25u);
    EXPECT_EQ(smoke.system->scale, 6.0f);
    matrix3d world;
    smoke.emitterTransform(world);
    EXPECT_NEAR(world.m[12], 10.3f, 1e-5f);
    EXPECT_NEAR(world.m[13], 0.5f, 1e-5f);
    EXPECT_NEAR(world.m[14], 9.0f, 1e-5f);

    // No load: level 0, no puff.
    engine.load = 0.0f;
    for (int i = 0; i < 20; ++i) {
        Clock::now += 20;
        smoke.update();
        pass(smoke.system);
    }
    EXPECT_EQ(smoke.throttleLevel, 0.0f);
    EXPECT_EQ(shown(smoke.system), 0);

    // Full load: at most one puff every 40 ms.
    engine.load = 1.0f;
    smoke.update();
    EXPECT_EQ(smoke.throttleLevel, 1.0f);
    // Each puff sets the next time: 10 ms frames give one every 50 ms.
    int puffs = 0;
    uint32_t last = smoke.system->nextPuffTime;
    for (int i = 0; i < 40; ++i) {
        Clock::now += 10;
        const int before = shown(smoke.system);
        pass(smoke.system);
        EXPECT_LE(shown(smoke.system) - before, 1) << i;
        if (smoke.system->nextPuffTime != last) {
            EXPECT_GE(smoke.system->nextPuffTime - last, 40u) << i;
            EXPECT_EQ(smoke.system->nextPuffTime, Clock::now + 40) << i;
            last = smoke.system->nextPuffTime;
            ++puffs;
        }
    }
    EXPECT_EQ(puffs, 8);
    engine.load = 0.5f;
    smoke.update();
    EXPECT_NEAR(smoke.throttleLevel, std::pow(0.5f, 0.3f), 1e-6f);

    // Beyond the view's range the system stops.
    chain.position = entity.world.row(3) + vec3d(0.0f, 0.0f, chain.range + 1.0f);
    smoke.update();
    EXPECT_EQ(smoke.system->stopped, 1u);
    chain.position = entity.world.row(3);
    smoke.update();
    EXPECT_EQ(smoke.system->stopped, 0u);
}

// A puff leaves from the outlet where the quad stands, not from the world's
// origin: the outlet's transform times the vehicle's.
TEST(ExhaustSmoke, APuffLeavesFromTheOutletOfTheMovedQuad)
{
    Clock clock;
    D3D::Device::SwapChain chain{nullptr};
    EntityManager::Entity entity(*chain.entities);
    entity.world.setRow(3, {40.0f, 12.0f, -25.0f});
    Audio::EngineSound engine;
    engine.load = 1.0f;
    ExhaustSmoke smoke;
    smoke.init(&chain, &entity, &engine);
    matrix3d outlet = matrix3d::identity();
    outlet.setRow(3, {0.3f, 0.6f, -1.1f});
    smoke.create(outlet);
    smoke.update();
    ASSERT_NE(smoke.system, nullptr);
    Particle p;
    p.system = smoke.system;
    for (int i = 0; i < 100 && p.hidden; ++i) {
        Clock::now += 50;
        ExhaustSmoke::smokeParticle(p);
    }
    ASSERT_EQ(p.hidden, 0u);
    EXPECT_NEAR(p.position.x, 40.3f, 1e-4f);
    EXPECT_NEAR(p.position.y, 12.6f, 1e-4f);
    EXPECT_NEAR(p.position.z, -26.1f, 1e-4f);
    EXPECT_NEAR(smoke.system->emitterPosition.x, 40.3f, 1e-4f);
}

// The exhaust of a quad standing at the origin, its outlet at the quad's
// centre, the engine at full load, after its first frame.
struct FullLoadExhaust {
    Clock clock;
    D3D::Device::SwapChain chain{nullptr};
    EntityManager::Entity entity{*chain.entities};
    Audio::EngineSound engine;
    ExhaustSmoke smoke;

    FullLoadExhaust()
    {
        engine.load = 1.0f;
        smoke.init(&chain, &entity, &engine);
        smoke.create(matrix3d::identity());
        smoke.update();
    }
};

// A puff's picture turns by its spin each frame: a spin of at most 4
// degrees either way that slows by 3 % of the frame time. Puffs start at
// angles all round the circle and spin both ways.
TEST(ExhaustSmoke, APuffTurnsByASpinThatSlows)
{
    FullLoadExhaust exhaust;
    ExhaustSmoke& smoke = exhaust.smoke;
    const auto angleOf = [](const Particle& p) {
        return std::atan2(p.textureTransform[1], p.textureTransform[0]) * 57.29578f;
    };
    const auto turn = [](float from, float to) {
        float d = to - from;
        while (d > 180.0f)
            d -= 360.0f;
        while (d <= -180.0f)
            d += 360.0f;
        return d;
    };
    const float slowing = 1.0f - 0.04f * 0.03f;
    float lowest = 360.0f, highest = -360.0f;
    int leftwards = 0, rightwards = 0;
    for (int puff = 0; puff < 60; ++puff) {
        Particle p;
        p.system = smoke.system;
        while (p.hidden) {
            Clock::now += 50;
            ExhaustSmoke::smokeParticle(p);
        }
        const float first = angleOf(p);
        lowest = std::min(lowest, first < 0.0f ? first + 360.0f : first);
        highest = std::max(highest, first < 0.0f ? first + 360.0f : first);
        float previous = first, step = 0.0f;
        for (int frame = 0; frame < 6; ++frame) {
            ExhaustSmoke::smokeParticle(p);
            const float now = angleOf(p), d = turn(previous, now);
            EXPECT_LE(std::fabs(d), 4.0f + 1e-3f) << puff;
            if (frame > 0) {
                EXPECT_NEAR(d, step * slowing, 2e-4f) << puff << " frame " << frame;
            }
            step = d;
            previous = now;
        }
        (step < 0.0f ? rightwards : leftwards) += 1;
    }
    EXPECT_LT(lowest, 45.0f);
    EXPECT_GT(highest, 315.0f);
    EXPECT_GT(leftwards, 5);
    EXPECT_GT(rightwards, 5);
}

TEST(ExhaustSmoke, APuffFadesOutSixUnitsFromItsOutlet)
{
    FullLoadExhaust exhaust;
    ExhaustSmoke& smoke = exhaust.smoke;
    Particle p;
    p.system = smoke.system;
    while (p.hidden) {
        Clock::now += 50;
        ExhaustSmoke::smokeParticle(p);
    }
    // Rising at 0.2 to 0.6 a frame, mostly upwards.
    const float speed = p.velocity.length();
    EXPECT_GE(speed, 0.2f - 1e-4f);
    EXPECT_LE(speed, 0.6f + 1e-4f);
    EXPECT_GT(p.velocity.y, 0.5f * speed);
    // The written growth: 0.1 towards 0.7 by a tenth of the frame time.
    EXPECT_NEAR(p.width, (0.1f + 0.6f * 0.1f * 0.04f) * 6.0f, 1e-5f);
    EXPECT_EQ(p.colour.a, 255);
    // The texture turned about its middle: a rotation.
    const float* t = p.textureTransform;
    EXPECT_EQ(t[0], t[4]);
    EXPECT_EQ(t[1], -t[3]);
    EXPECT_NEAR(t[0] * t[0] + t[1] * t[1], 1.0f, 1e-5f);
    // The air slows it sideways by a hundredth of the frame time each frame.
    const vec3d before = p.velocity;
    ExhaustSmoke::smokeParticle(p);
    EXPECT_NEAR(p.velocity.x, before.x * (1.0f - 0.04f * 0.01f), 1e-6f);
    EXPECT_NEAR(p.velocity.z, before.z * (1.0f - 0.04f * 0.01f), 1e-6f);
    // Carried straight up: alpha (1 - d / 6) x 255, 0 and marked at 6.
    p.velocity = {};
    for (float d : {1.5f, 3.0f, 4.5f, 5.9f, 6.0f}) {
        p.position = vec3d(0.0f, d, 0.0f);
        ExhaustSmoke::smokeParticle(p);
        EXPECT_EQ(p.colour.a, uint8_t(std::lrint((1.0f - d / 6.0f) * 255.0f))) << d;
        EXPECT_EQ(p.hidden, d >= 6.0f ? 1u : 0u) << d;
    }
    // Without its smoke the callback does nothing.
    Particle stray;
    EXPECT_EQ(ExhaustSmoke::smokeParticle(stray), 1u);
}
