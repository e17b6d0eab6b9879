// The rocket: its block, the launch and the flight over generated ground,
// the nose test against dynamic and static objects, the explosion's effect
// on the target, its particles by hand, and damaged blocks and poses (no
// device; the race clock, the frame factor and rand set by the tests).
#include "EffectsTestSupport.h"

#include "EffectPackageSamples.h"
#include "FunctionsRecordWriter.h"
#include "SoundSamples.h"

#include "Objects/Fire.h"
#include "Objects/Rocket.h"

#include "Audio/Sound3D.h"
#include "Audio/SoundInterface.h"
#include "Entity/Entity.h"
#include "Entity/ParticleSystem.h"
#include "Physics/EntityPhysics.h"
#include "Physics/neRigidBody.h"

#include <limits>
#include <random>

using namespace EffectsTests;
using ObjectsTests::Bytes;
using Rocket = ObjPkgManager::Functions::Rocket;
using Flight = Rocket::Instance;

namespace {

struct RecordingVictim final : Rocket::Victim
{
    void addDamage(float amount) override { damage += amount; }
    uint32_t forceFeedback() const override { return 0; }
    float damage = 0.0f;
};

Bytes rocketBytes(const FunctionsRecordWriter::Rocket& rocket)
{
    return ObjectsTests::bytesOf(FunctionsRecordWriter::writeRocket, rocket);
}

// A rocket object over the ground, a launcher standing at from facing +z and
// a target box at to.
struct Range
{
    Range(World& world, const vec3d& from, const vec3d& to)
        : launcher(*world.chain.entities), target(*world.chain.entities)
    {
        object = world.place(L"Rocket", from);
        rocket = World::instanceOf<Flight>(object, Rocket::flag);
        launcher.world = matrix3d::identity();
        launcher.world.setRow(3, from);
        target.world = matrix3d::identity();
        target.world.setRow(3, to);
        target.worldBox.center = to;
        target.worldBox.halfExtents = {1.0f, 1.0f, 1.0f};
    }
    // One frame: the clock on by 10 ms, the object's prepare (the instance's
    // update and the entity's placement).
    void frame(int count = 1)
    {
        for (int i = 0; i < count; ++i) {
            Clock::now += 10;
            object->prepare();
        }
    }

    DynObject* object = nullptr;
    Flight* rocket = nullptr;
    EntityManager::Entity launcher;
    EntityManager::Entity target;
};

// Past the launch: flying from at along +z at speed 2.
void inFlight(Range& range, const vec3d& at)
{
    range.rocket->state = Flight::flying;
    range.rocket->direction = {0.0f, 0.0f, 1.0f};
    range.rocket->speed = 2.0f;
    range.object->world.setRow(3, at);
    range.object->onMoved();
}

Particle newParticle(ParticleSystem& system)
{
    Particle p;
    p.system = &system;
    return p;
}

// The texture turned about its middle: a rotation in the first two rows.
void expectTurned(const Particle& p, const char* what)
{
    const float* t = p.textureTransform;
    EXPECT_EQ(t[0], t[4]) << what;
    EXPECT_EQ(t[1], -t[3]) << what;
    EXPECT_NEAR(t[0] * t[0] + t[1] * t[1], 1.0f, 1e-5f) << what;
    EXPECT_EQ(t[2], 0.0f) << what;
}

}

TEST(Rocket, SampleBlockRoundTripAndDamage)
{
    const FunctionsRecordWriter::Rocket written = EffectPackageSamples::rocketEffects();
    {
        Rocket rocket(nullptr);
        auto stream = ObjectsTests::streamOf(rocketBytes(written));
        ASSERT_TRUE(rocket.load(*stream));
        const wchar_t* names[4] = {L"RocketLaunch", L"RocketFlyVehicle", L"RocketFly", L"RocketExplo"};
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(ObjectsTests::narrow(rocket.imageNames[i]), written.imageNames[size_t(i)]);
            EXPECT_EQ(rocket.images[i].size(), written.images[size_t(i)].size());
        }
        for (int i = 0; i < Rocket::soundCount; ++i) {
            ASSERT_NE(rocket.soundRefs[i], nullptr) << i;
            EXPECT_TRUE(rocket.soundRefs[i]->name.sameText(String::borrowed(names[i]))) << i;
            EXPECT_EQ(rocket.soundRefs[i]->type, Audio::FileRef::typeWav) << i;
            EXPECT_EQ(rocket.sounds[i].size(), written.sounds[size_t(i)].size()) << i;
        }
        rocket.clear();
        for (int i = 0; i < Rocket::soundCount; ++i) {
            EXPECT_EQ(rocket.soundRefs[i], nullptr);
            EXPECT_EQ(rocket.sounds[i].size(), 0u);
        }
    }
    struct Case
    {
        const char* what;
        ObjectsTests::BlockBytes bytes;
        bool whole;
        bool sound;
    };
    std::vector<Case> cases;
    {
        Case c{"a sound that is neither wav nor ogg is left out", {}, true, false};
        c.bytes << uint32_t(9) << uint32_t(4) << uint32_t(0x12345678) << uint32_t(0);
        cases.push_back(std::move(c));
    }
    {
        Case c{"an image block past the data", {}, false, false};
        c.bytes << uint32_t(2) << uint32_t(100000) << uint32_t(1);
        cases.push_back(std::move(c));
    }
    {
        Case c{"an image nobody can read keeps the stand-in", {}, true, false};
        c.bytes << uint32_t(4) << uint32_t(4) << uint32_t(0xDEADBEEF) << uint32_t(0);
        cases.push_back(std::move(c));
    }
    {
        Case c{"unknown tags carry nothing", {}, true, true};
        const Bytes wav = SoundSamples::wav(SoundSamples::click());
        c.bytes << uint32_t(44) << uint32_t(9) << uint32_t(wav.size());
        c.bytes.append(wav) << uint32_t(0);
        cases.push_back(std::move(c));
    }
    {
        Case c{"a name cut short", {}, false, false};
        c.bytes << uint32_t(1) << uint32_t(40) << uint32_t(0x41414141);
        cases.push_back(std::move(c));
    }
    for (const Case& c : cases) {
        Rocket rocket(nullptr);
        auto stream = ObjectsTests::streamOf(c.bytes.bytes);
        EXPECT_EQ(rocket.load(*stream), c.whole) << c.what;
        EXPECT_EQ(rocket.soundRefs[Rocket::fly] != nullptr, c.sound) << c.what;
        EXPECT_FALSE(rocket.textures[1].isBound()) << c.what;
    }
}

TEST(Rocket, LaunchesRisesAndFlies)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle();
    Range range(world, middle + vec3d(0.0f, 1.0f, 0.0f), middle + vec3d(0.0f, 1.0f, 200.0f));
    ASSERT_NE(range.rocket, nullptr);
    Flight& r = *range.rocket;
    r.fire(&range.launcher, &range.target, 0.0f, 3.0f);
    // A standing launcher: speed 8, the launcher's axes at scale 3, 0.8 up
    // and 1 ahead of it.
    EXPECT_EQ(r.state, Flight::launching);
    EXPECT_EQ(r.speed, 8.0f);
    ObjectsTests::expectNear(r.position(), middle + vec3d(0.0f, 1.8f, 1.0f), 1e-4f, "start");
    EXPECT_NEAR(range.object->world.row(0).length(), 3.0f, 1e-5f);

    // Rising: the speed eases to 0.5 as the direction turns up towards 0.9,
    // and the rocket moves by the eased speed along the turned direction.
    float previousSpeed = r.speed;
    const vec3d start = r.position();
    range.frame();
    EXPECT_NEAR(r.speed, 8.0f + (0.5f - 8.0f) * 0.25f, 1e-5f);
    EXPECT_NEAR(r.direction.length(), 1.0f, 1e-5f);
    EXPECT_GT(r.direction.y, 0.0f);
    const vec3d turned = vec3d(0.0f, 0.9f * 0.18f, 1.0f).normalised();
    ObjectsTests::expectNear(r.direction, turned, 1e-5f, "turned up");
    ObjectsTests::expectNear(r.position(), start + turned * 6.125f, 1e-4f, "first launch step");
    ObjectsTests::expectNear(range.object->object->position, r.position(), 1e-4f, "placed while rising");
    for (int i = 0; i < 48; ++i) {
        previousSpeed = r.speed;
        range.frame();
        EXPECT_LE(r.speed, previousSpeed);
        EXPECT_EQ(r.state, Flight::launching) << i;
    }
    EXPECT_NEAR(r.speed, 0.5f, 0.01f);
    // 500 ms after the fire call is not yet past it; the next frame is.
    range.frame();
    EXPECT_EQ(r.state, Flight::launching);
    range.frame();
    EXPECT_EQ(r.state, Flight::flying);
    // Its fire burns from then on.
    auto* fires = World::instanceOf<ObjPkgManager::Functions::Fire::Instance>(range.object,
                                                                               ObjPkgManager::Functions::Fire::flag);
    ASSERT_NE(fires, nullptr);
    EXPECT_TRUE(fires->object(0)->isBurning());

    // In flight the speed eases towards 8: 0.5 becomes 1.025 in one frame.
    r.speed = 0.5f;
    range.frame();
    EXPECT_NEAR(r.speed, 1.025f, 1e-5f);
    // The pose follows the direction: unit axes at scale 3, z along it.
    const vec3d z = range.object->world.row(2);
    EXPECT_NEAR(z.length(), 3.0f * r.direction.length(), 1e-4f);
    EXPECT_NEAR(range.object->world.row(0).dot(z), 0.0f, 1e-4f);
    EXPECT_NEAR(range.object->world.row(1).dot(z), 0.0f, 1e-4f);
    ObjectsTests::expectNear(range.object->object->position, r.position(), 1e-4f, "placed object");
}

// At five frames a second (frame factor 7) one frame eases the rocket's
// speed as seven frames at 35 do, rising and in flight, and its nose turns
// up towards 0.9 without passing it.
TEST(Rocket, OneLongFrameEasesAsSevenShortOnes)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    float seen[2][3];
    for (int k = 0; k < 2; ++k) {
        const vec3d from = ground.middle() + vec3d(40.0f * float(k), 1.0f, 0.0f);
        Range range(world, from, from + vec3d(0.0f, 0.0f, 200.0f));
        ASSERT_NE(range.rocket, nullptr);
        range.rocket->fire(&range.launcher, &range.target, 0.0f, 3.0f);
        gFrameFactor.store(k == 0 ? 1.0f : 7.0f);
        range.frame(k == 0 ? 7 : 1);
        seen[k][0] = range.rocket->speed;
        seen[k][1] = range.rocket->direction.y;
        inFlight(range, from + vec3d(0.0f, 20.0f, 0.0f));
        range.frame(k == 0 ? 7 : 1);
        seen[k][2] = range.rocket->speed;
    }
    gFrameFactor.store(1.0f);
    EXPECT_NEAR(seen[1][0], seen[0][0], 1e-4f);
    EXPECT_NEAR(seen[1][1], seen[0][1], 0.05f);
    EXPECT_NEAR(seen[1][2], seen[0][2], 1e-4f);
}

TEST(Rocket, HugsSlopingGround)
{
    Clock clock;
    // Ground rising along x.
    Ground ground(TerrainTestMaps::heightMap(128, [](int32_t i, int32_t) { return 20000.0f + 300.0f * float(i); }));
    ASSERT_TRUE(ground.loaded);
    World world;
    const vec3d middle = ground.middle();
    Range range(world, middle + vec3d(0.0f, 30.0f, 0.0f), middle + vec3d(0.0f, 30.0f, 200.0f));
    ASSERT_NE(range.rocket, nullptr);
    Flight& r = *range.rocket;
    r.fire(&range.launcher, &range.target, 0.0f, 3.0f);
    r.state = Flight::flying;
    const float h = gTerrain.getHeight(middle.x, middle.z, 3);
    const vec3d n = Terrain::lastGroundNormal().normalised();
    ASSERT_LT(n.y, 0.999f);
    // Below h + 1: lifted there, with no step this frame.
    vec3d low = middle;
    low.y = h - 3.0f;
    range.object->world.setRow(3, low);
    gFrameFactor.store(0.0f);
    range.frame();
    EXPECT_NEAR(r.position().y, h + 1.0f, 1e-3f);
    // The direction turns towards a desired direction in the ground's plane.
    gFrameFactor.store(1.0f);
    range.object->world.setRow(3, low);
    const vec3d before = r.direction;
    r.speed = 0.0f;
    range.frame();
    const vec3d desired = before + (r.direction - before) * (1.0f / 0.06f);
    EXPECT_NEAR(desired.length(), 1.0f, 1e-3f);
    EXPECT_NEAR(desired.dot(n), 0.0f, 1e-3f);
}

TEST(Rocket, TheNoseRayMeetsWhatLiesWithinOneStep)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle() + vec3d(0.0f, 5.0f, 0.0f);
    Range range(world, middle, middle + vec3d(0.0f, 0.0f, 200.0f));
    ASSERT_NE(range.rocket, nullptr);
    Flight& r = *range.rocket;
    r.fire(&range.launcher, &range.target, 0.0f, 3.0f);
    r.state = Flight::flying;
    r.direction = {0.0f, 0.0f, 1.0f};
    range.frame();
    // Nothing but its own box near it.
    EXPECT_FALSE(r.testHit());
    // Axis-aligned along z from here.
    matrix3d pose = matrix3d::identity();
    for (int i = 0; i < 3; ++i)
        pose.at(i, i) = 3.0f;
    pose.setRow(3, middle);
    range.object->world = pose;
    range.object->onMoved();
    const OrientedBox& box = range.object->worldBox;
    const vec3d nose = box.center + box.axes[2] * box.halfExtents.z;

    EntityManager::Entity wall(*world.chain.entities);
    ASSERT_TRUE(world.chain.entities->listEntity(wall));
    wall.worldBox.axes[0] = {1.0f, 0.0f, 0.0f};
    wall.worldBox.axes[1] = {0.0f, 1.0f, 0.0f};
    wall.worldBox.axes[2] = {0.0f, 0.0f, 1.0f};
    wall.worldBox.halfExtents = {5.0f, 5.0f, 1.0f};
    wall.worldBox.center = nose + vec3d(0.0f, 0.0f, 4.0f);
    float t = 0.0f;
    ASSERT_NE(wall.worldBox.intersectRay(nose, box.axes[2], t), 7);
    ASSERT_NEAR(t, 3.0f, 1e-3f);
    struct Case
    {
        const char* what;
        float speed;
        bool hit;
    };
    const Case cases[] = {{"entered at the step", t, false},
                          {"just below the step", std::nextafter(t, 10.0f), true},
                          {"two steps ahead", t * 0.5f, false},
                          {"half a step ahead", t * 2.0f, true}};
    for (const Case& c : cases) {
        r.speed = c.speed;
        EXPECT_EQ(r.testHit(), c.hit) << c.what;
    }
    wall.worldBox.center = nose - vec3d(0.0f, 0.0f, 3.0f);
    r.speed = 10.0f;
    EXPECT_FALSE(r.testHit()) << "behind the nose";
    wall.worldBox.center = nose + vec3d(0.0f, 0.0f, 4.0f);
    wall.hidden = 1;
    EXPECT_FALSE(r.testHit()) << "a hidden object";
    EXPECT_EQ(r.targetHit, 0u);
}

TEST(Rocket, HitsAWallOrItsTarget)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle() + vec3d(0.0f, 2.0f, 0.0f);
    const size_t systems = world.chain.particles->systems.count();

    // A crate between the rocket and its target: the rocket explodes there,
    // the target takes nothing.
    {
        Range range(world, middle, middle + vec3d(0.0f, 0.0f, 200.0f));
        ASSERT_NE(range.rocket, nullptr);
        DynObject* crate = world.place(L"Crate", middle + vec3d(0.0f, 0.0f, 30.0f), 3.0f);
        ASSERT_NE(crate, nullptr);
        RecordingVictim victim;
        range.rocket->fire(&range.launcher, &range.target, 0.0f, 3.0f, &victim);
        inFlight(range, middle);
        for (int i = 0; i < 300 && !range.rocket->isFinished(); ++i)
            range.frame();
        EXPECT_TRUE(range.rocket->isFinished());
        EXPECT_EQ(range.object->hidden, 1u);
        EXPECT_EQ(range.rocket->targetHit, 0u);
        EXPECT_EQ(victim.damage, 0.0f);
        // Exploded at the crate: within one step past it, where the nose
        // ray of the frame before found it.
        const float farSide = crate->worldBox.center.z + crate->worldBox.halfExtents.z;
        EXPECT_LT(range.rocket->position().z, farSide + range.rocket->speed);
        EXPECT_GT(range.rocket->position().z, farSide - 2.0f * crate->worldBox.halfExtents.z - 3.0f);
        EXPECT_EQ(world.chain.particles->systems.count(), systems + 3) << "burst, embers, smoke";
        Object* placed = crate->object;
        placed->destroyInstance(crate);
        placed->instance = nullptr;
    }
    // A target 200 away: damage 0.5 and a push of 10 against the flight.
    {
        DynObject* target = world.place(L"Crate", middle + vec3d(0.0f, 0.0f, 200.0f), 2.0f);
        ASSERT_NE(target, nullptr);
        ASSERT_NE(target->physics, nullptr);
        neRigidBody* body = target->physics->rigidBody->body;
        Range range(world, middle, middle + vec3d(0.0f, 0.0f, 200.0f));
        RecordingVictim victim;
        range.rocket->fire(&range.launcher, target, 0.0f, 3.0f, &victim);
        inFlight(range, middle);
        const vec3d before = body->velocity;
        for (int i = 0; i < 600 && !range.rocket->isFinished(); ++i)
            range.frame();
        EXPECT_TRUE(range.rocket->isFinished());
        EXPECT_EQ(range.rocket->targetHit, 1u);
        EXPECT_EQ(victim.damage, 0.5f);
        const vec3d push = (body->velocity - before) * body->mass;
        EXPECT_NEAR(push.length(), 10.0f, 1e-2f);
        const vec3d flight = range.object->world.row(2).normalised();
        EXPECT_LT(push.dot(flight), -9.9f) << "against the flight";
        // Finished: further frames change nothing.
        const vec3d at = range.rocket->position();
        range.frame(5);
        EXPECT_EQ(range.rocket->position(), at);
        EXPECT_EQ(victim.damage, 0.5f);
    }
}

TEST(Rocket, TheHitSphereMeetsAStretchedMeshAlongItsLength)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle() + vec3d(0.0f, 2.0f, 0.0f);
    Range range(world, middle, middle + vec3d(0.0f, 0.0f, 200.0f));
    ASSERT_NE(range.rocket, nullptr);
    DynObject* crate = world.place(L"Crate", middle + vec3d(0.0f, 0.0f, 30.0f), 1.0f);
    ASSERT_NE(crate, nullptr);
    // Ten times longer along its first axis.
    crate->world.setRow(0, crate->world.row(0) * 10.0f);
    crate->onMoved();
    const OrientedBox& box = crate->worldBox;
    const vec3d top = box.center + box.axes[1] * box.halfExtents.y;
    struct Case
    {
        const char* what;
        float along;
        uint32_t hit;
    };
    const Case cases[] = {{"on its top near the far end", box.halfExtents.x - 0.3f, 1u},
                          {"on its top in the middle", 0.0f, 1u},
                          {"past the far end", box.halfExtents.x + 2.0f, 0u}};
    for (const Case& c : cases) {
        range.rocket->hitCentre = top + box.axes[0] * c.along;
        range.rocket->hitRadius = 0.5f;
        range.rocket->hitRadiusSq = 0.25f;
        EXPECT_EQ(range.rocket->found(*crate->object), c.hit) << c.what;
    }
    Object* placed = crate->object;
    placed->destroyInstance(crate);
    placed->instance = nullptr;
}

TEST(Rocket, NoTargetNoLauncherOrNoPoseFinishes)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle() + vec3d(0.0f, 2.0f, 0.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        const char* what;
        bool launcher, target;
        bool nanLauncher, nanTarget;
    };
    const Case cases[] = {{"no target", true, false, false, false},
                          {"no launcher", false, true, false, false},
                          {"a launcher at no finite pose", true, true, true, false},
                          {"a target at no finite place", true, true, false, true}};
    const size_t sounds = Audio::SoundInterface::list().count();
    const size_t systems = world.chain.particles->systems.count();
    for (const Case& c : cases) {
        Range range(world, middle, middle + vec3d(0.0f, 0.0f, 50.0f));
        ASSERT_NE(range.rocket, nullptr);
        if (c.nanLauncher)
            range.launcher.world.m[5] = nan;
        if (c.nanTarget)
            range.target.worldBox.center.x = nan;
        range.rocket->fire(c.launcher ? &range.launcher : nullptr, c.target ? &range.target : nullptr, 0.0f, 3.0f);
        range.frame(3);
        EXPECT_TRUE(range.rocket->isFinished()) << c.what;
        EXPECT_EQ(Audio::SoundInterface::list().count(), sounds) << c.what;
        EXPECT_EQ(world.chain.particles->systems.count(), systems) << c.what;
        for (float v : range.object->world.m)
            EXPECT_TRUE(std::isfinite(v)) << c.what;
    }
    // A target that leaves every finite place in flight: the rocket ends
    // there, its sounds stopped and freed, its flame out.
    {
        Range range(world, middle, middle + vec3d(0.0f, 0.0f, 300.0f));
        range.rocket->fire(&range.launcher, &range.target, 0.0f, 3.0f);
        range.frame(60);
        ASSERT_EQ(range.rocket->state, Flight::flying);
        EXPECT_GT(Audio::SoundInterface::list().count(), sounds);
        range.target.worldBox.center.y = nan;
        range.frame();
        EXPECT_TRUE(range.rocket->isFinished());
        EXPECT_EQ(range.object->hidden, 1u);
        EXPECT_EQ(Audio::SoundInterface::list().count(), sounds);
        EXPECT_EQ(range.rocket->flySound, nullptr);
        auto* fires = World::instanceOf<ObjPkgManager::Functions::Fire::Instance>(
            range.object, ObjPkgManager::Functions::Fire::flag);
        ASSERT_NE(fires, nullptr);
        EXPECT_FALSE(fires->object(0)->isBurning());
    }
    // Never fired: finished at the first update.
    Range idle(world, middle, middle);
    idle.frame();
    EXPECT_TRUE(idle.rocket->isFinished());
    // A target at the rocket's nose: the direction stays, the pose finite.
    Range close(world, middle, middle);
    close.rocket->fire(&close.launcher, &close.target, 0.0f, 3.0f);
    close.rocket->state = Flight::flying;
    close.rocket->direction = {};
    close.frame();
    for (float v : close.object->world.m)
        EXPECT_TRUE(std::isfinite(v));
}

TEST(Rocket, ADeletedRocketFreesItsSounds)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle() + vec3d(0.0f, 2.0f, 0.0f);
    const size_t sounds = Audio::SoundInterface::list().count();
    Range range(world, middle, middle + vec3d(0.0f, 0.0f, 300.0f));
    ASSERT_NE(range.rocket, nullptr);
    range.rocket->fire(&range.launcher, &range.target, 0.0f, 3.0f);
    range.frame(60);
    ASSERT_EQ(range.rocket->state, Flight::flying);
    ASSERT_NE(range.rocket->flyVehicleSound, nullptr);
    ASSERT_NE(range.rocket->flySound, nullptr);
    // The sounds follow copies the rocket keeps, not the entities.
    EXPECT_EQ(range.rocket->flyVehicleSound->positionSource, &range.rocket->launcherPosition);
    EXPECT_EQ(range.rocket->flySound->positionSource, &range.rocket->rocketPosition);
    EXPECT_EQ(Audio::SoundInterface::list().count(), sounds + 2) << "the two flights";
    Object* placed = range.object->object;
    placed->destroyInstance(range.object);
    placed->instance = nullptr;
    EXPECT_EQ(Audio::SoundInterface::list().count(), sounds);
}

TEST(Rocket, ParticlesByHand)
{
    Clock clock;
    World world;
    ParticleSystem system(nullptr, D3DBLEND_SRCALPHA, world.chain, TextureRef(), 0, D3DBLEND_ONE, 1, false, true,
                          true);
    system.emitterPosition = {1.0f, 2.0f, 3.0f};
    system.emitterDirection = {0.0f, 0.0f, -1.0f};
    system.emitterValues[0] = 2.0f;

    // The burst: out along the emitter, shrinking with distance, fading in
    // three frames, then ended.
    Particle burst = newParticle(system);
    ASSERT_EQ(Flight::burstParticle(burst), 1u);
    EXPECT_EQ(burst.hidden, 0u);
    const vec3d moved = burst.position - system.emitterPosition;
    const float speed = moved.length() / 1.8f;
    EXPECT_LE(speed, 2.0f + 1e-4f);
    EXPECT_NEAR(burst.width, std::max(0.0f, (18.0f - moved.lengthSq()) * 0.2f), 1e-3f);
    EXPECT_EQ(burst.colour.a, 255);
    EXPECT_EQ(burst.velocity, vec3d());
    expectTurned(burst, "burst");
    burst.age = 1.5f;
    Flight::burstParticle(burst);
    EXPECT_EQ(burst.colour.a, uint8_t(255.0f * std::pow(0.5f, 0.4f * speed) * std::pow(0.5f, 0.5f)));
    burst.age = 3.01f;
    EXPECT_EQ(Flight::burstParticle(burst), 0u);

    // Embers: moved by the manager at their velocity, alpha to 0 at 35.
    Particle ember = newParticle(system);
    ASSERT_EQ(Flight::emberParticle(ember), 1u);
    EXPECT_EQ(ember.colour.a, 255);
    EXPECT_NEAR(ember.velocity.y, 0.0f, 1.0f);
    expectTurned(ember, "ember");
    const vec3d v = ember.velocity;
    ember.position += v;
    ember.age = 17.5f;
    ASSERT_EQ(Flight::emberParticle(ember), 1u);
    EXPECT_EQ(ember.colour.a, uint8_t(255.0f * std::pow(0.5f, 7.5f)));
    ember.age = 35.0f;
    EXPECT_EQ(Flight::emberParticle(ember), 0u);

    // Smoke: alpha 200 at most, ended at 250.
    system.emitterValues[1] = 0.1f;
    system.emitterValues[3] = 0.1f;
    for (int i = 0; i < 20; ++i) {
        Particle smoke = newParticle(system);
        ASSERT_EQ(Flight::smokeParticle(smoke), 1u);
        EXPECT_GT(smoke.velocity.lengthSq(), 0.0f) << "the puff moves with its anchor";
        EXPECT_LE(smoke.colour.a, 200);
        EXPECT_LE(smoke.width, 10.0f);
        expectTurned(smoke, "smoke");
        smoke.age = 249.0f;
        ASSERT_EQ(Flight::smokeParticle(smoke), 1u);
        smoke.age = 250.0f;
        EXPECT_EQ(Flight::smokeParticle(smoke), 0u);
    }
    // The texture turns by the same angle every frame through a whole life,
    // and stays a rotation.
    const struct
    {
        const char* name;
        ParticleSystem::Callback callback;
        int frames;
    } spins[] = {{"ember", &Flight::emberParticle, 34}, {"smoke", &Flight::smokeParticle, 249}};
    for (const auto& kind : spins) {
        // Each particle starts at an angle of its own.
        float lowest = 10.0f, highest = -10.0f;
        for (int i = 0; i < 10; ++i) {
            Particle p = newParticle(system);
            ASSERT_EQ(kind.callback(p), 1u);
            const float first = std::atan2(p.textureTransform[1], p.textureTransform[0]);
            lowest = std::min(lowest, first);
            highest = std::max(highest, first);
            p.age = 1.0f;
            ASSERT_EQ(kind.callback(p), 1u);
            const float step = std::remainder(std::atan2(p.textureTransform[1], p.textureTransform[0]) - first,
                                              2.0f * 3.14159265f);
            for (int f = 2; f <= kind.frames; ++f) {
                p.age = float(f);
                ASSERT_EQ(kind.callback(p), 1u) << kind.name << " " << f;
            }
            expectTurned(p, kind.name);
            const float turned = std::atan2(p.textureTransform[1], p.textureTransform[0]) - first;
            EXPECT_NEAR(std::remainder(turned - step * float(kind.frames), 2.0f * 3.14159265f), 0.0f, 2e-3f)
                << kind.name << " spin " << step;
        }
        EXPECT_GT(highest - lowest, 1.0f) << kind.name;
    }

    // Numbers only in the particle's words: none holds an address.
    Particle smoke = newParticle(system);
    Flight::smokeParticle(smoke);
    for (uintptr_t word : smoke.words)
        EXPECT_LE(word, 0xFFFFFFFFu);
}

// Random damage to the sample's block through the reader, then a flight.
TEST(Rocket, FuzzedBlocksAndFlight)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const Bytes good = rocketBytes(EffectPackageSamples::rocketEffects());
    std::mt19937 random(4505);
    for (int i = 0; i < 60; ++i) {
        Bytes bytes = good;
        for (int k = 0; k < 4; ++k) {
            // Mostly the tags and sizes near the start of each block.
            const size_t at = random() % 2 == 0 ? random() % 64 : random() % bytes.size();
            bytes[at] = uint8_t(random());
        }
        if (random() % 3 == 0)
            bytes.resize(random() % bytes.size());
        Rocket rocket(nullptr);
        auto stream = ObjectsTests::streamOf(bytes);
        rocket.load(*stream);
        EXPECT_LE(stream->tell(), stream->size());
    }
    const vec3d middle = ground.middle() + vec3d(0.0f, 2.0f, 0.0f);
    for (int i = 0; i < 5; ++i) {
        std::uniform_real_distribution<float> spread(-100.0f, 100.0f);
        Range range(world, middle, middle + vec3d(spread(random), spread(random), spread(random)));
        range.rocket->fire(&range.launcher, &range.target, spread(random), 3.0f);
        range.frame(200);
        for (float v : range.object->world.m)
            EXPECT_TRUE(std::isfinite(v));
    }
}
