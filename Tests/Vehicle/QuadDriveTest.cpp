// The sample quad driving on the real rigid-body engine, stepped on the
// test's thread as the physics manager steps it without its thread: placed
// from the builder's package as a dynamic object (its quad made under flag
// 0x2), at scale 5 on generated terrains, a frame of 1/35 s on the race
// clock of the test. It stands, accelerates through its gears, brakes,
// steers, lands and waits frozen; and its step by hand.
#include "Vehicle/QuadInstance.h"

#include "../Application/AppTestFiles.h"
#include "../Landscape/SceneFrames.h"
#include "../Landscape/TerrainTestMaps.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"
#include "Entity/StoredMesh.h"

#include "Application/ControlBindings.h"
#include "Application/ForceFeedback.h"
#include "Application/UserInput.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Physics/neSimulator.h"
#include "Audio/Audio.h"
#include "Audio/EngineSound.h"
#include "Audio/SoundInterface.h"
#include "Race/Game.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"

#include "QuadSample.h"
#include "WayFileWriter.h"

#include "Core/FileArray.h"
#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <mmsystem.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
using Instance = QuadPhysics::Instance;
using Wheel = QuadPhysics::Wheel;

constexpr float frameTime = 1.0f / 35.0f;
constexpr float degrees = 3.14159265f / 180.0f;
constexpr float sampleScale = 5.0f;

uint32_t testNow = 1000;
DWORD WINAPI testClock()
{
    return testNow;
}

// The global terrain from a generated map of S = 128, for as long as this
// lives.
struct Ground
{
    explicit Ground(const TerrainMapWriter::Map& map, const Terrain::Settings& settings = TerrainTestMaps::settings())
    {
        const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(map);
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        loaded = gTerrain.load(nullptr, settings, stream);
    }
    ~Ground() { gTerrain.clear(); }
    bool loaded = false;
};

TerrainMapWriter::Map flatMap()
{
    return TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 20000.0f; });
}

// Rising along x by rise raw height units per map cell, through the middle
// of the height range at the middle of the map.
TerrainMapWriter::Map slopeMap(float rise)
{
    return TerrainTestMaps::heightMap(128, [rise](int32_t i, int32_t) { return 32768.0f + rise * float(i - 64); });
}

// The builder's quad package in a fresh folder, listed and built by a scene
// whose swap chain has no device; the physics manager without its thread.
struct Track
{
    explicit Track(const TerrainMapWriter::Map& map, const Terrain::Settings& settings = TerrainTestMaps::settings())
        : ground(map, settings)
    {
        gRaceClock = testClock;
        testNow = 1000;
        gFrameFactor = 1.0f;
        gFrameTime = frameTime;
        const std::wstring folder = AppTestFiles::freshFolder(L"quaddrive");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        QuadSample::save(String(folder.c_str()));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        physics().start(16);
        control.joystickSet.axes[0] = &input->state.keyAxisX; // steering
        control.joystickSet.axes[1] = &input->state.keyAxisY; // throttle
    }
    ~Track()
    {
        scene.release();
        gRaceClock = timeGetTime;
        gUserInput.state.keyHeld[Instance::rightingKey] = 0;
    }

    EntityManager::PhysicsManager& physics() { return *chain.entities->physicsManager; }

    // The sample quad placed at (x, ground + lift, z) facing +z (turned by
    // heading degrees about the vertical), driven by the test's controls.
    Instance* place(float x, float z, float lift, float heading = 0.0f)
    {
        ObjPkgManager::Package* package = scene.objectPackages.findPackage(String(L"Quad"));
        if (!package)
            return nullptr;
        const vec3d at{x, gTerrain.getHeight(x, z, 3) + lift, z};
        placed = scene.objectPackages.createObject(package, at, sampleScale);
        if (!placed)
            return nullptr;
        placed->rotation = heading;
        placed->heightOffset = 0.0f;
        placed->instance = placed->createInstance();
        object = dynamic_cast<DynObject*>(placed->instance);
        if (!object || !object->functions)
            return nullptr;
        auto* entry = object->functions->find(DynObject::FunctionManager::quadFlag);
        quad = entry ? dynamic_cast<Instance*>(entry->instance) : nullptr;
        if (quad)
            quad->controls = &control;
        return quad;
    }

    neRigidBody* body() const { return quad->body(); }
    vec3d position() const { return body()->getTransform()->row(3); }
    vec3d up() const { return body()->getTransform()->row(1); }
    vec3d forward() const { return body()->getTransform()->row(2); }
    // The body's tilt from the vertical, degrees.
    float tilt() const { return std::acos(std::clamp(up().normalised().y, -1.0f, 1.0f)) / degrees; }

    // One frame as the game runs it without the physics thread: the
    // simulator advances three frame times in steps of 1/75 s, the entities
    // take their bodies' poses, the quad updates and prepares its drawing.
    // One frame; a quad out of view is not prepared for drawing.
    void frame(bool inView = true)
    {
        testNow += 1000 / 35;
        physics().simulator->advance(frameTime * 3.0f, 1.0f / 30.0f, 1.0f / 75.0f);
        object->physics->update();
        quad->update();
        if (inView)
            quad->prepareRender();
    }
    void frames(int n)
    {
        for (int i = 0; i < n; ++i)
            frame();
    }
    // One batch of the physics thread, of the given seconds: the simulator
    // steps it, the entities take their bodies' poses and the quad updates.
    void batch(float seconds)
    {
        physics().frameTime.store(seconds);
        physics().stepBatch(nullptr);
        object->physics->update();
        quad->update();
    }
    void throttle(float value) { input->state.keyAxisY = value; }
    void steer(float value) { input->state.keyAxisX = value; }
    uint32_t contactsDown() const
    {
        return quad->wheels[0].contacts[0].grounded + quad->wheels[1].contacts[0].grounded +
               quad->wheels[2].contacts[0].grounded + quad->wheels[2].contacts[1].grounded;
    }

    Ground ground;
    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f};
    std::unique_ptr<UserInput> input = std::make_unique<UserInput>();
    Control control{*input};
    Object* placed = nullptr;
    DynObject* object = nullptr;
    Instance* quad = nullptr;
};

// Simulated seconds per frame: the physics runs three frame times a frame.
constexpr float simulatedPerFrame = 3.0f * frameTime;
int framesFor(float simulatedSeconds)
{
    return int(std::ceil(simulatedSeconds / simulatedPerFrame));
}

}

TEST(QuadDrive, StandsOnItsFourWheels)
{
    Track track(flatMap());
    ASSERT_TRUE(track.ground.loaded);
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 1.0f), nullptr);
    EXPECT_EQ(track.object->shaderInterface, static_cast<ObjPkgManager::ShaderInterface*>(track.quad));
    track.frames(framesFor(2.0f));
    EXPECT_EQ(track.contactsDown(), 4u);
    EXPECT_LT(track.tilt(), 2.0f);
    const float height = track.position().y;
    for (int i = 0; i < framesFor(2.0f); ++i) {
        track.frame();
        EXPECT_NEAR(track.position().y, height, 0.05f) << i;
    }
    EXPECT_EQ(track.quad->getSpeed(), 0);
    EXPECT_EQ(track.quad->isOverturned(), 0u);
}

namespace {

// The speed at which full throttle in gear balances the rolling resistance
// of the four contacts and the ground damping of all four down, from the
// drive's formulas and the engine model's drive term: the rear wheels roll
// with the ground (spin 4 / scale x the speed), the engine follows them at
// 0.11 of their spin; the damping takes linearDamping of the velocity each
// step of 1/75 s.
float balanceSpeed(int32_t gear, float mass, float motorFactor)
{
    const float damping = 0.012f * 0.146f, stepLength = 1.0f / 75.0f;
    const auto excess = [&](float v) {
        Audio::EngineSound engine;
        engine.clock = testClock;
        engine.holdUntil = testNow + 100000; // no gear change while asked
        engine.gear = gear;
        engine.throttle = 1.0f;
        engine.speed = (4.0f / sampleScale) * v * 0.11f * motorFactor;
        engine.update();
        engine.gear = gear;
        return 6.0f * engine.getGearRatio() - 4.0f * 0.4f - mass * v * damping / stepLength;
    };
    float low = 0.5f, high = 100.0f;
    for (int i = 0; i < 60; ++i) {
        const float mid = 0.5f * (low + high);
        (excess(mid) > 0.0f ? low : high) = mid;
    }
    return 0.5f * (low + high);
}

// The heading of the forward axis about the vertical, degrees (towards +x
// positive).
float headingOf(const vec3d& forward)
{
    return std::atan2(forward.x, forward.z) / degrees;
}

}

TEST(QuadDrive, AcceleratesThroughItsGearsToTheSpeedTheDriveBalances)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z - 1300.0f, 0.0f), nullptr);
    track.frames(30);
    track.throttle(1.0f);
    int32_t gear = track.quad->engineSound.gear;
    EXPECT_EQ(gear, 1);
    uint32_t lastShift = 0;
    int32_t topSpeed = 0;
    std::vector<int32_t> gears{gear};
    for (int i = 0; i < 700; ++i) {
        track.frame();
        const int32_t now = track.quad->engineSound.gear;
        if (now != gear) {
            EXPECT_EQ(now, gear + 1) << "one gear up at a time, never down";
            if (lastShift)
                EXPECT_GE(testNow - lastShift, 1000u);
            lastShift = testNow;
            gear = now;
            gears.push_back(now);
        }
        topSpeed = std::max(topSpeed, track.quad->getSpeed());
        ASSERT_LE(track.quad->getSpeed(), 102);
    }
    // The sample quad tops out in third gear: the fourth lies beyond the
    // speed at which third gear's drive meets the resistance.
    EXPECT_EQ(gears, (std::vector<int32_t>{1, 2, 3}));
    const float balance = balanceSpeed(gear, track.body()->mass, 1.0f);
    const float expected = balance * 2.4f;
    EXPECT_NEAR(float(topSpeed), expected, 0.1f * expected) << "balance " << balance;
    EXPECT_EQ(track.contactsDown(), 4u);
    EXPECT_LT(std::fabs(track.position().x - middle.x), 1.0f) << "straight on";
    // The wheels roll with the ground: 4 / scale turns per unit of speed.
    const Wheel& rear = track.quad->wheels[Wheel::rearAxle];
    const float speed = track.body()->velocity.length();
    EXPECT_NEAR(rear.rollRate, 0.8f * speed, 0.02f * speed);
    EXPECT_NEAR(float(rear.spin), rear.rollRate, 1e-4f);
}

TEST(QuadDrive, BrakesLockedToAStandstillThenReverses)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z - 1300.0f, 0.0f), nullptr);
    track.frames(30);
    track.throttle(1.0f);
    track.frames(200);
    const float heading = headingOf(track.forward());
    const vec3d from = track.position();
    const float v0 = track.body()->velocity.dot(track.forward().normalised());
    ASSERT_GT(v0, 20.0f);
    track.throttle(-1.0f);
    bool locked = false;
    float spinAboveGround = 0.0f;
    int frames = 0;
    while (track.body()->velocity.dot(track.forward().normalised()) > 0.0f && frames < 600) {
        track.frame();
        ++frames;
        const Wheel& rear = track.quad->wheels[Wheel::rearAxle];
        if (rear.contacts[0].sliding && rear.contacts[1].sliding && rear.contacts[0].slideSpeed > 5.0f) {
            locked = true;
            // Locked, the rear wheels slow down on their own, not with the ground.
            spinAboveGround = std::max(spinAboveGround, rear.spin - rear.rollRate);
        }
        EXPECT_LT(std::fabs(headingOf(track.forward()) - heading), 10.0f) << frames;
    }
    EXPECT_TRUE(locked) << "the rear wheels lock above 15";
    EXPECT_GT(spinAboveGround, 1.0f);
    // Locked rear wheels brake with their rolling resistance and the brake
    // (0.4 + 2 each), the front wheels roll (0.4 each); the damping only
    // shortens that.
    const float mass = track.body()->mass;
    const float deceleration = (2.0f * (0.4f + 2.0f) + 2.0f * 0.4f) / mass;
    const float distance = (track.position() - from).length();
    EXPECT_LE(distance, 1.3f * v0 * v0 / (2.0f * deceleration)) << frames << " frames";
    // Still pulling back: below 3 it reverses.
    track.frames(150);
    EXPECT_LT(track.body()->velocity.dot(track.forward().normalised()), -1.0f);
}

namespace {

// Full throttle up to 40 % of the sample's top speed, then full right: the
// mean yaw rate of the turn's second half against v tan 32 / wheelbase, and
// how fast the rear contacts slip sideways then (oiled: every contact in oil
// for that half; the front wheels, turned by 32 degrees, slip either way).
struct Turn
{
    float yawRatio = 0.0f;
    float slide = 0.0f;
    bool overturned = false;
};

Turn turnRight(bool oiled)
{
    Turn result;
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    if (!track.place(middle.x, middle.z - 600.0f, 0.0f))
        return result;
    track.quad->opponent = 1; // steering follows the axis linearly
    track.frames(30);
    track.throttle(1.0f);
    const float target = 0.4f * balanceSpeed(3, track.body()->mass, 1.0f);
    for (int i = 0; i < 300 && track.body()->velocity.length() < target; ++i)
        track.frame();
    track.throttle(0.3f);
    track.steer(1.0f);
    const float wheelbase = (0.75f + 0.7f) * sampleScale;
    int samples = 0;
    for (int i = 0; i < 2 * 12; ++i) {
        if (oiled && i >= 12)
            for (Wheel& wheel : track.quad->wheels)
                for (QuadPhysics::Contact& contact : wheel.contacts)
                    contact.setOiled(testNow + 1000);
        const float before = headingOf(track.forward());
        const float v = track.body()->velocity.length();
        track.frame();
        result.overturned = result.overturned || track.quad->isOverturned();
        if (i < 12)
            continue;
        float turned = headingOf(track.forward()) - before;
        turned = turned > 180.0f ? turned - 360.0f : turned < -180.0f ? turned + 360.0f : turned;
        const float rate = turned * degrees / simulatedPerFrame;
        result.yawRatio += rate / (v * std::tan(32.0f * degrees) / wheelbase);
        const Wheel& rear = track.quad->wheels[Wheel::rearAxle];
        result.slide += rear.contacts[0].slideSpeed + rear.contacts[1].slideSpeed;
        ++samples;
    }
    result.yawRatio /= float(samples);
    result.slide /= float(samples);
    return result;
}

}

TEST(QuadDrive, SteersRightAndSlipsInOil)
{
    const Turn dry = turnRight(false);
    EXPECT_GE(dry.yawRatio, 0.3f);
    EXPECT_LE(dry.yawRatio, 1.2f);
    EXPECT_FALSE(dry.overturned);
    const Turn oiled = turnRight(true);
    EXPECT_GE(oiled.slide, 3.0f * dry.slide) << "dry " << dry.slide << ", oiled " << oiled.slide;
}

TEST(QuadDrive, LandsFromThreeWheelHeights)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    const float drop = 3.0f * 0.6f * sampleScale;
    ASSERT_NE(track.place(middle.x, middle.z - 600.0f, drop), nullptr);
    track.body()->velocity = {0.0f, 0.0f, 10.0f};
    const float start = track.position().y;
    int downAt = -1;
    float lowest = start, rebound = -1e9f;
    for (int i = 0; i < framesFor(3.0f); ++i) {
        track.frame();
        const float y = track.position().y;
        if (downAt < 0 && track.contactsDown() == 4)
            downAt = i;
        if (downAt >= 0) {
            lowest = std::min(lowest, y);
            if (y > lowest)
                rebound = std::max(rebound, y - lowest);
        }
    }
    ASSERT_GE(downAt, 0);
    EXPECT_LE(float(downAt + 1) * simulatedPerFrame, 1.5f);
    EXPECT_LT(rebound, drop / 3.0f);
    // A landing harder than 7 sounded (and took the impact).
    EXPECT_GT(track.quad->nextCollisionSoundTime, 0u);
    EXPECT_LE(float(track.quad->impact), 7.0f);
    EXPECT_EQ(track.quad->isOverturned(), 0u);
    EXPECT_LT(track.tilt(), 10.0f);
}

TEST(QuadDrive, FrozenItWaitsAtItsPlacementReleasedItDrives)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 2.0f, 30.0f), nullptr);
    track.quad->frozen = 1; // as the race freezes it: published by the update
    track.quad->update();
    track.throttle(1.0f);
    matrix3d placement = matrix3d::identity();
    track.placed->getTransform(placement, true);
    for (int i = 0; i < 30; ++i) {
        track.frame();
        EXPECT_EQ(track.quad->force, vec3d());
        EXPECT_EQ(track.quad->torque, vec3d());
    }
    EXPECT_EQ(track.body()->gravityOn, 0u);
    for (int row = 0; row < 4; ++row)
        EXPECT_NEAR((track.body()->getTransform()->row(row) - placement.row(row)).length(), 0.0f, 1e-3f) << row;
    EXPECT_EQ(track.quad->getSpeed(), 0);

    track.quad->setFrozen(0);
    const vec3d from = track.position();
    track.frames(100);
    EXPECT_EQ(track.body()->gravityOn, 1u);
    const vec3d moved = track.position() - from;
    EXPECT_GT(moved.dot(placement.row(2)), 50.0f) << "driven forward, turned 30 degrees";
    // The placed object follows the quad, 3 above it.
    EXPECT_NEAR((track.placed->position - (track.position() + vec3d(0, 3, 0))).length(), 0.0f, 1.0f);

    // Out of view the quad is never prepared for drawing: its frame alone
    // keeps its speed, up and down again (its driver steers by it), turns
    // its rear wheels with the ground (its engine follows them) and moves
    // its placed object along.
    const auto speedOfBody = [&] {
        neRigidBody* body = track.body();
        const vec3d across = body->getTransform()->row(0).cross(
            vec3d(track.quad->wheels[Wheel::rearAxle].contacts[0].groundNormal));
        return int32_t(std::fabs(across.normalised().dot(body->velocity)) * 2.4f);
    };
    for (float throttle : {1.0f, -1.0f}) {
        track.throttle(throttle);
        for (int i = 0; i < 40; ++i)
            track.frame(false);
        EXPECT_GT(track.quad->getSpeed(), 0) << throttle;
        EXPECT_NEAR(track.quad->getSpeed(), speedOfBody(), 1) << throttle;
        const Wheel& rear = track.quad->wheels[Wheel::rearAxle];
        EXPECT_GT(std::fabs(rear.rollRate), 0.5f) << throttle;
        EXPECT_NEAR(float(rear.spin), rear.rollRate, 0.05f * std::fabs(rear.rollRate)) << throttle;
        EXPECT_NEAR((track.placed->position - (track.position() + vec3d(0, 3, 0))).length(), 0.0f, 1.0f);
    }
}

TEST(QuadDrive, ReturnRightsAQuadOnItsSide)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 3.0f), nullptr);
    neRigidBody* body = track.body();
    // On its side: up along -x, forward along +z.
    matrix3d side = matrix3d::identity();
    side.setRow(0, {0, 1, 0});
    side.setRow(1, {-1, 0, 0});
    side.setRow(2, {0, 0, 1});
    side.setRow(3, track.position());
    body->setPose(side);
    gUserInput.state.keyHeld[Instance::rightingKey] = 1;
    track.quad->update();
    track.quad->step(body);
    EXPECT_NEAR(track.quad->torque.z, 10.0f, 1e-3f);
    EXPECT_NEAR(track.quad->torque.x, 0.0f, 1e-4f);
    EXPECT_NEAR(track.quad->torque.y, 0.0f, 1e-4f);
    gUserInput.state.keyHeld[Instance::rightingKey] = 0;
    track.quad->update();
    track.quad->step(body);
    EXPECT_NE(track.quad->torque, vec3d(0, 0, 10)) << "released, the wheels act again";
}

TEST(QuadDrive, DrivesWithoutASoundDevice)
{
    // The sound system as a start that failed leaves it: not enabled.
    Audio::release();
    ASSERT_FALSE(Audio::isEnabled());
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z - 600.0f, 0.0f), nullptr);
    track.frames(20);
    track.throttle(1.0f);
    const vec3d from = track.position();
    track.frames(100);
    EXPECT_GT((track.position() - from).z, 50.0f);
    EXPECT_GE(track.quad->engineSound.gear, 2);
}

namespace {

// The sample quad settled on flat ground, for steps by hand: the drive and
// brake are set in published, the body's state directly.
struct Bench : Track
{
    Bench() : Track(flatMap())
    {
        const vec3d middle = gTerrain.box.center;
        if (!place(middle.x, middle.z, 0.0f))
            return;
        frames(40);
        rest = *body()->getTransform();
    }
    // The body at rest, level, turned by roll degrees about its forward
    // axis (the left side down for positive roll), moving at velocity.
    void pose(float roll, const vec3d& velocity)
    {
        matrix3d t = rest;
        const float c = std::cos(roll * degrees), s = std::sin(roll * degrees);
        t.setRow(0, {c, s, 0.0f});
        t.setRow(1, {-s, c, 0.0f});
        t.setRow(2, {0.0f, 0.0f, 1.0f});
        body()->setPose(t);
        body()->velocity = velocity;
        body()->angularVelocity = {};
    }
    // The force along the body's forward axis of one step.
    float forwardForce(float gearRatio)
    {
        quad->published.gearRatio = gearRatio;
        quad->step(body());
        return quad->force.z;
    }
    matrix3d rest;
};

}

namespace {

// The rear axle's probe end and ground point: the two contacts' blended by
// t = 0.5 - (left ground distance - right ground distance), within 0..1.
void expectRearBlend(const Wheel& rear, float what)
{
    const QuadPhysics::Contact &left = rear.contacts[0], &right = rear.contacts[1];
    const float t = std::clamp(0.5f - (left.groundDistance - right.groundDistance), 0.0f, 1.0f);
    const vec3d end = left.rayEnd * t + right.rayEnd * (1.0f - t);
    const vec3d ground = left.contactPoint * t + right.contactPoint * (1.0f - t);
    EXPECT_NEAR((vec3d(rear.suspensionEnd) - end).length(), 0.0f, 1e-3f) << what;
    EXPECT_NEAR((vec3d(rear.groundPoint) - ground).length(), 0.0f, 1e-3f) << what;
}

}

TEST(QuadStep, HandValues)
{
    Bench bench;
    ASSERT_NE(bench.quad, nullptr);
    Instance& quad = *bench.quad;
    neRigidBody* body = bench.body();
    ASSERT_EQ(bench.contactsDown(), 4u);
    quad.published.brake = 0.0f;

    // Ground damping by the contacts down at the last step.
    bench.pose(0.0f, {});
    quad.step(body);
    EXPECT_NEAR(body->linearDamping, 0.012f * 0.146f, 1e-8f);
    matrix3d high = bench.rest;
    high.setRow(3, bench.rest.row(3) + vec3d(0.0f, 50.0f, 0.0f));
    body->setPose(high);
    quad.step(body);
    EXPECT_EQ(bench.contactsDown(), 0u);
    quad.step(body);
    EXPECT_EQ(body->linearDamping, 0.0f) << "no contact down";
    EXPECT_EQ(quad.force, vec3d()) << "nothing pushes a quad in the air";
    const Wheel& front = quad.wheels[Wheel::frontLeft];
    EXPECT_EQ(front.axisRight, high.row(0)) << "a front wheel in the air is not turned";

    // The rear axle's blend: level, half and half; rolled so that the left
    // contact lies 0.5 or more nearer the ground, all on the left.
    const Wheel& rear = quad.wheels[Wheel::rearAxle];
    bench.pose(0.0f, {});
    quad.step(body);
    EXPECT_NEAR(rear.contacts[0].groundDistance, rear.contacts[1].groundDistance, 1e-4f);
    EXPECT_NEAR((vec3d(rear.suspensionEnd) - (rear.contacts[0].rayEnd + rear.contacts[1].rayEnd) * 0.5f).length(), 0.0f, 1e-4f);
    bench.pose(10.0f, {});
    quad.step(body);
    EXPECT_LE(rear.contacts[0].groundDistance - rear.contacts[1].groundDistance, -0.5f);
    EXPECT_NEAR((vec3d(rear.suspensionEnd) - rear.contacts[0].rayEnd).length(), 0.0f, 1e-4f);
    bench.pose(-10.0f, {});
    quad.step(body);
    EXPECT_NEAR((vec3d(rear.suspensionEnd) - rear.contacts[1].rayEnd).length(), 0.0f, 1e-4f);
    // Rolled a little, both sides share the axle: the probe's end and the
    // ground point are blended by how much nearer the ground the left side is.
    for (const float roll : {0.0f, 0.5f, -0.5f, 1.5f, -1.5f, 10.0f, -10.0f}) {
        bench.pose(roll, {});
        quad.step(body);
        expectRearBlend(rear, roll);
    }

    // Only a landing raises the impact: down for longer than a landing's
    // 20 ms, a push down raises nothing.
    bench.pose(0.0f, {});
    testNow += 100;
    quad.step(body);
    quad.impact = 0.0f;
    bench.pose(0.0f, {0.0f, -2.0f, 0.0f});
    quad.step(body);
    EXPECT_EQ(float(quad.impact), 0.0f);

    // Braking locks the rear wheels only above a forward speed of 15; a
    // lateral sliding speed of exactly 5 is not sliding.
    struct Case
    {
        const char* what;
        float brake;
        vec3d velocity;
        uint32_t rearSliding, frontSliding;
    };
    const Case cases[] = {
        {"braking at 15", 1.0f, {0, 0, 15}, 0, 0},
        {"braking at 15.5", 1.0f, {0, 0, 15.5f}, 1, 0},
        {"rolling at 15.5", 0.0f, {0, 0, 15.5f}, 0, 0},
        {"sideways at exactly 5", 0.0f, {5, 0, 0}, 0, 0},
        {"sideways at 5.01", 0.0f, {5.01f, 0, 0}, 1, 1},
    };
    for (const Case& c : cases) {
        for (Wheel& wheel : quad.wheels)
            for (QuadPhysics::Contact& contact : wheel.contacts)
                contact.sliding = 0;
        quad.published.brake = c.brake;
        bench.pose(0.0f, c.velocity);
        quad.step(body);
        EXPECT_EQ(uint32_t(rear.contacts[0].sliding), c.rearSliding) << c.what;
        EXPECT_EQ(uint32_t(rear.contacts[1].sliding), c.rearSliding) << c.what;
        EXPECT_EQ(uint32_t(front.contacts[0].sliding), c.frontSliding) << c.what;
    }
    // Locked, the rear wheels unlock only below a forward speed of 1.
    for (const float speed : {1.0f, 0.99f}) {
        for (QuadPhysics::Contact& contact : quad.wheels[Wheel::rearAxle].contacts)
            contact.sliding = 1;
        quad.published.brake = 1.0f;
        bench.pose(0.0f, {0.0f, 0.0f, speed});
        quad.step(body);
        EXPECT_EQ(uint32_t(rear.contacts[0].sliding), speed < 1.0f ? 0u : 1u) << speed;
    }
    quad.published.brake = 0.0f;

    // The drive: both rear contacts down, each gets half; past 0.8 of a
    // contact's load the wheels spin and the drive is halved, until it
    // falls below 0.6 of a load (halved once more on that step).
    bench.pose(0.0f, {});
    const float load = rear.contacts[0].load;
    EXPECT_NEAR(load, body->mass * 9.81f, 0.1f * body->mass * 9.81f);
    const float idle = bench.forwardForce(0.0f);
    // Drive terms whose half push (3 e) is 0.7, 0.9 and 0.5 of the load.
    const float gripping = 0.7f * load / 3.0f;
    EXPECT_NEAR(bench.forwardForce(gripping) - idle, 6.0f * gripping, 1e-3f);
    EXPECT_EQ(uint32_t(rear.spinning), 0u);
    const float spinning = 0.9f * load / 3.0f;
    quad.wheels[Wheel::rearAxle].spin = 2.0f;
    EXPECT_NEAR(bench.forwardForce(spinning) - idle, 0.5f * 6.0f * spinning, 1e-3f);
    EXPECT_EQ(uint32_t(rear.spinning), 1u);
    EXPECT_NEAR(float(rear.spin), 2.0f + (15.0f * spinning - 2.0f) * 0.009f, 1e-5f) << "spinning, the wheels spin up";
    EXPECT_NEAR(bench.forwardForce(gripping) - idle, 0.5f * 6.0f * gripping, 1e-3f) << "still spinning above 0.6";
    const float calm = 0.5f * load / 3.0f;
    EXPECT_NEAR(bench.forwardForce(calm) - idle, 0.5f * 6.0f * calm, 1e-3f) << "cleared, halved once more";
    EXPECT_EQ(uint32_t(rear.spinning), 0u);
    EXPECT_NEAR(bench.forwardForce(calm) - idle, 6.0f * calm, 1e-3f);

    // One rear contact in the air: the other takes the whole drive, pushing
    // 0.7 inside its contact point, towards the quad's middle.
    for (const float roll : {25.0f, -25.0f}) {
        SCOPED_TRACE(roll);
        bench.pose(roll, {});
        quad.published.gearRatio = 0.0f;
        quad.wheels[Wheel::rearAxle].spinning = 0;
        quad.step(body);
        const QuadPhysics::Contact& down = rear.contacts[roll > 0.0f ? 0 : 1];
        ASSERT_TRUE(down.grounded);
        ASSERT_FALSE(rear.contacts[roll > 0.0f ? 1 : 0].grounded);
        const vec3d idleTorque = quad.torque, idleForce = quad.force;
        const float gear = 0.3f * down.load / 6.0f;
        bench.pose(roll, {});
        quad.published.gearRatio = gear;
        quad.step(body);
        ASSERT_EQ(uint32_t(rear.spinning), 0u);
        const matrix3d& pose = *body->getTransform();
        const vec3d thrust = pose.row(2) * (6.0f * gear);
        const vec3d at = down.contactPoint + pose.row(0) * (roll > 0.0f ? 0.7f : -0.7f);
        const vec3d expected = (at - pose.row(3)).cross(thrust);
        EXPECT_NEAR((quad.force - idleForce - thrust).length(), 0.0f, 1e-3f);
        EXPECT_NEAR((quad.torque - idleTorque - expected).length(), 0.0f, 1e-3f);
    }

    // Every component within 200: a quad hitting the ground at 1000.
    quad.published.gearRatio = 0.0f;
    bench.pose(0.0f, {0.0f, -1000.0f, 0.0f});
    quad.step(body);
    EXPECT_EQ(quad.force.y, 200.0f);
    bench.pose(0.0f, {0.0f, 1000.0f, 0.0f});
    quad.step(body);
    EXPECT_EQ(quad.force.y, -200.0f);
}

// The ground straight above a probe's end carries its wheel only within the
// probe's reach: up the probe no higher than its top, across it no farther
// than its length (and never while the probe ends above it). The body level
// or rolled (left side down for a positive roll), lowered until the front
// left probe's end lies rise probe lengths under the level ground.
TEST(QuadStep, TheGroundCarriesAWheelOnlyWithinItsProbesReach)
{
    Bench bench;
    ASSERT_NE(bench.quad, nullptr);
    neRigidBody* body = bench.body();
    const QuadPhysics::Contact& probe = bench.quad->wheels[Wheel::frontLeft].contacts[0];
    const float length = probe.rayLength;
    ASSERT_GT(length, 0.0f);
    const float ground = gTerrain.getHeight(probe.rayEnd.x, probe.rayEnd.z, 3);
    struct Row
    {
        float roll, rise;
        bool grounded;
    };
    // Rolled by 70 degrees the probe runs 0.94 across for 0.34 up: the
    // ground leaves its reach across it at a rise of 1.06 lengths.
    const Row rows[] = {{0.0f, -0.2f, false}, {0.0f, 0.5f, true},    {0.0f, 0.99f, true},   {0.0f, 1.02f, false},
                        {0.0f, 3.0f, false},  {20.0f, 0.9f, true},   {20.0f, 1.1f, false},  {70.0f, 1.0f, true},
                        {70.0f, 1.1f, false}, {-70.0f, 1.0f, true}, {-70.0f, 1.1f, false}, {70.0f, 3.0f, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.roll) + " degrees, " + std::to_string(row.rise) + " lengths under");
        bench.pose(row.roll, {});
        bench.quad->step(body);
        matrix3d t = *body->getTransform();
        t.m[13] += ground - row.rise * length - probe.rayEnd.y;
        body->setPose(t);
        bench.quad->step(body);
        ASSERT_NEAR(ground - probe.rayEnd.y, row.rise * length, 1e-3f);
        EXPECT_EQ(uint32_t(probe.grounded), row.grounded ? 1u : 0u);
        if (row.grounded) {
            EXPECT_GE(probe.groundDistance, 0.0f) << "pressed in no farther than its top";
            EXPECT_NEAR(probe.contactPoint.y, ground, 1e-3f);
        }
    }
}

TEST(QuadStep, RandomStatesGiveFiniteLimitedPushes)
{
    Bench bench;
    ASSERT_NE(bench.quad, nullptr);
    Instance& quad = *bench.quad;
    neRigidBody* body = bench.body();
    std::mt19937 random(41);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const float extremes[] = {0.0f, 1e-30f, 1e30f, -1e30f, INFINITY, -INFINITY, NAN, 3.0e38f};
    const auto value = [&](float scale) {
        return random() % 16 == 0 ? extremes[random() % 8] : unit(random) * scale;
    };
    const auto vector = [&](float scale) { return vec3d(value(scale), value(scale), value(scale)); };
    int tried = 0;
    for (int i = 0; i < 10000; ++i) {
        // A random turn (a unit quaternion's rows) near the ground.
        float q[4] = {unit(random), unit(random), unit(random), unit(random)};
        const float n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]) + 1e-6f;
        for (float& x : q)
            x /= n;
        const float x = q[0], y = q[1], z = q[2], w = q[3];
        matrix3d t = matrix3d::identity();
        t.setRow(0, {1 - 2 * (y * y + z * z), 2 * (x * y + w * z), 2 * (x * z - w * y)});
        t.setRow(1, {2 * (x * y - w * z), 1 - 2 * (x * x + z * z), 2 * (y * z + w * x)});
        t.setRow(2, {2 * (x * z + w * y), 2 * (y * z - w * x), 1 - 2 * (x * x + y * y)});
        t.setRow(3, bench.rest.row(3) + vec3d(unit(random) * 20.0f, unit(random) * 8.0f, unit(random) * 20.0f));
        if (random() % 50 == 0)
            t.m[random() % 16] = extremes[random() % 8];
        body->setPose(t);
        body->velocity = vector(60.0f);
        body->angularVelocity = vector(10.0f);
        for (Wheel& wheel : quad.wheels) {
            wheel.spinning = random() % 2;
            wheel.spin = value(50.0f);
            wheel.spinAngle = value(720.0f);
            wheel.visualUpdated = random() % 2;
            for (QuadPhysics::Contact& contact : wheel.contacts) {
                contact.grounded = random() % 2;
                contact.sliding = random() % 2;
                contact.landed = random() % 2;
                contact.groundDistance = value(5.0f);
                if (random() % 4 == 0)
                    contact.setOiled(testNow + random() % 200);
            }
        }
        const float turn = value(1.5f) * 32.0f * degrees;
        quad.published.steerCos = std::cos(turn);
        quad.published.steerSin = std::sin(turn);
        quad.published.brake = std::fabs(value(1.0f));
        quad.published.gearRatio = value(3.0f);
        quad.published.damage = std::fabs(value(1.0f));
        quad.published.frozen = random() % 8 == 0;
        quad.published.rightingHeld = random() % 8 == 0;
        testNow += random() % 40;
        quad.step(body);
        for (int k = 0; k < 3; ++k) {
            ASSERT_TRUE(std::isfinite(quad.force[k]) && std::isfinite(quad.torque[k])) << i;
            ASSERT_LE(std::fabs(quad.force[k]), 200.0f) << i;
            ASSERT_LE(std::fabs(quad.torque[k]), 200.0f) << i;
        }
        ++tried;
    }
    EXPECT_EQ(tried, 10000);
    quad.published.frozen = 0;
}

namespace {

// The raw height rise per map cell that makes a slope of the given angle.
float riseFor(float angleDegrees)
{
    const float probe = 400.0f;
    Ground ground(slopeMap(probe));
    const vec3d middle = gTerrain.box.center;
    gTerrain.getHeight(middle.x, middle.z, 3);
    const vec3d n = Terrain::lastGroundNormal().normalised();
    const float gain = std::sqrt(std::max(0.0f, 1.0f - n.y * n.y)) / n.y;
    return probe * std::tan(angleDegrees * degrees) / gain;
}

}

// Across a slope the rear contacts meet the ground at different heights:
// the axle carries the blend of both.
// A quad turning on the spot: each wheel rolls with the ground's speed under
// its own centre, the left ones one way and the right ones the other.
TEST(QuadStep, EachWheelRollsWithTheSpeedAtItsOwnCentre)
{
    Bench bench;
    ASSERT_NE(bench.quad, nullptr);
    Instance& quad = *bench.quad;
    neRigidBody* body = bench.body();
    bench.pose(0.0f, {});
    body->angularVelocity = {0.0f, 1.0f, 0.0f};
    quad.step(body);
    quad.sync(*body);
    for (Wheel& wheel : quad.wheels) {
        ASSERT_TRUE(wheel.grounded);
        wheel.updateWheelVisual(quad.synced, matrix3d::identity(), 0.0f, 1.0f);
    }
    const float frontLeft = quad.wheels[Wheel::frontLeft].rollRate, frontRight = quad.wheels[Wheel::frontRight].rollRate;
    const float rearLeft = quad.wheels[Wheel::rearAxle].rollRate; // the rear axle rolls with its left wheel
    EXPECT_GT(std::fabs(frontLeft), 0.01f);
    EXPECT_NEAR(frontLeft, -frontRight, 1e-3f);
    EXPECT_GT(rearLeft * frontLeft, 0.0f) << "both left wheels roll the same way";
}

// A contact's motion along the ground splits into rolling (along the
// wheel's forward axis laid into the ground) and sliding across it (along
// its axle laid into the ground), also for a body rolled against the ground.
TEST(QuadStep, AContactRollsAlongTheGroundAndSlidesAcrossIt)
{
    Bench bench;
    ASSERT_NE(bench.quad, nullptr);
    neRigidBody* body = bench.body();
    const QuadPhysics::Contact& contact = bench.quad->wheels[Wheel::frontLeft].contacts[0];
    struct Row
    {
        float roll;
        vec3d velocity, rolling, sliding;
    };
    const Row rows[] = {{0.0f, {5, 0, 0}, {}, {5, 0, 0}},
                        {0.0f, {0, 0, 5}, {0, 0, 5}, {}},
                        {15.0f, {5, 0, 0}, {}, {5, 0, 0}},
                        {15.0f, {3, 0, 4}, {0, 0, 4}, {3, 0, 0}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.roll) + " degrees");
        bench.pose(row.roll, row.velocity);
        bench.quad->step(body);
        ASSERT_TRUE(contact.grounded);
        EXPECT_NEAR((contact.rollVelocity - row.rolling).length(), 0.0f, 1e-3f);
        EXPECT_NEAR((contact.lateralVelocity - row.sliding).length(), 0.0f, 1e-3f);
    }
}

// A damaged quad rolls with the turn of its wheels: each unit posed since
// the last step pushes 50 x damage x sin(spin angle) about the forward
// axis, once.
TEST(QuadStep, ADamagedQuadWobblesWithItsPosedWheels)
{
    Bench bench;
    ASSERT_NE(bench.quad, nullptr);
    Instance& quad = *bench.quad;
    neRigidBody* body = bench.body();
    const auto torque = [&](float damage, bool posed) {
        bench.pose(0.0f, {});
        quad.published.damage = damage;
        Wheel& wheel = quad.wheels[Wheel::frontLeft];
        wheel.spinAngle = 30.0f;
        wheel.visualUpdated = posed ? 1u : 0u;
        quad.step(body);
        return quad.torque;
    };
    const vec3d calm = torque(0.0f, true);
    const vec3d forward = body->getTransform()->row(2);
    EXPECT_NEAR((torque(0.5f, true) - calm - forward * (50.0f * 0.5f * 0.5f)).length(), 0.0f, 1e-3f);
    EXPECT_NEAR((torque(0.25f, true) - calm - forward * (50.0f * 0.25f * 0.5f)).length(), 0.0f, 1e-3f);
    EXPECT_NEAR((torque(0.5f, false) - calm).length(), 0.0f, 1e-3f) << "not posed since";
    EXPECT_EQ(uint32_t(quad.wheels[Wheel::frontLeft].visualUpdated), 0u) << "one push per posed frame";
}

// A unit stepped by itself reads the body's pose as the quad's step hands it
// over: the same push.
TEST(QuadStep, AUnitSteppedOnItsOwnPushesAsInTheQuadsStep)
{
    Bench bench;
    ASSERT_NE(bench.quad, nullptr);
    neRigidBody* body = bench.body();
    bench.pose(10.0f, {1.0f, -0.5f, 4.0f});
    for (Wheel& wheel : bench.quad->wheels) {
        vec3d force, torque, handedForce, handedTorque;
        wheel.stepWheel(body, force, torque);
        wheel.stepWheel(body, *body->getTransform(), handedForce, handedTorque);
        EXPECT_NE(force, vec3d()) << wheel.index;
        EXPECT_NEAR((force - handedForce).length(), 0.0f, 1e-4f) << wheel.index;
        EXPECT_NEAR((torque - handedTorque).length(), 0.0f, 1e-4f) << wheel.index;
    }
}

// The sync hands the main thread the points of the step: what the wheel
// visuals read.
TEST(QuadStep, TheSyncCopiesTheStepsPointsForTheVisuals)
{
    Bench bench;
    ASSERT_NE(bench.quad, nullptr);
    neRigidBody* body = bench.body();
    bench.pose(10.0f, {});
    bench.quad->step(body);
    bench.quad->sync(*body);
    for (const Wheel& wheel : bench.quad->wheels) {
        EXPECT_EQ(wheel.syncedSuspensionEnd, vec3d(wheel.suspensionEnd)) << wheel.index;
        EXPECT_EQ(wheel.syncedGroundPoint, vec3d(wheel.groundPoint)) << wheel.index;
        EXPECT_EQ(wheel.contacts[0].synced.contactPoint, wheel.contacts[0].contactPoint) << wheel.index;
    }
}

TEST(QuadStep, TheRearAxleBlendsContactsAtDifferentHeights)
{
    Track track(slopeMap(riseFor(10.0f)));
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 0.0f), nullptr); // its axle across the rise
    track.frames(framesFor(2.0f));
    ASSERT_EQ(track.contactsDown(), 4u);
    Instance& quad = *track.quad;
    const Wheel& rear = quad.wheels[Wheel::rearAxle];
    const matrix3d rest = *track.body()->getTransform();
    for (const float lift : {0.0f, 0.02f, 0.05f, -0.05f}) {
        matrix3d pose = rest;
        pose.setRow(3, rest.row(3) + vec3d(0.0f, lift * sampleScale, 0.0f));
        track.body()->setPose(pose);
        track.body()->velocity = {};
        track.body()->angularVelocity = {};
        quad.step(track.body());
        const QuadPhysics::Contact &left = rear.contacts[0], &right = rear.contacts[1];
        ASSERT_TRUE(left.grounded && right.grounded) << lift;
        EXPECT_GT(right.contactPoint.y - left.contactPoint.y, 0.5f) << "the ground rises to the right";
        expectRearBlend(rear, lift);
    }
}

// The rear axle stands on its contacts' ground normals blended by the weight
// of its probe ends: half and half at equal distances, all on the nearer
// side from a difference of 0.5. Left wheel on a 60 degree slope (up .
// normal 0.5), right on level ground (cells of 1 unit, bent between x = -2.5
// and 1): steep (below 0.7) at weights 1 and 0.75 on the left only.
TEST(QuadStep, TheRearAxleBlendsTheGroundNormalsOfItsContacts)
{
    Track track(flatMap());
    gTerrain.clear();
    ASSERT_TRUE(TerrainTestMaps::loadGlobal(TerrainTestMaps::heightMap(128, [](int32_t i, int32_t) {
        return 20000.0f + 253.0f * float(i <= 63 ? 63 - i : 2);
    }), TerrainTestMaps::settings(0.125f)));
    ASSERT_NE(track.place(0.0f, 0.0f, 0.0f), nullptr);
    const Wheel& rear = track.quad->wheels[Wheel::rearAxle];
    const QuadPhysics::Contact &left = rear.contacts[0], &right = rear.contacts[1];
    const float level = gTerrain.getHeight(3.0f, 0.0f, 3), halfRise = gTerrain.getHeight(-3.5f, 0.0f, 3) - level;
    const std::tuple<float, float, uint32_t> cases[] = {{0.0f, 0.5f, 0}, {0.6f, 1.0f, 1}, {-0.6f, 0.0f, 0}, {0.25f, 0.75f, 1}};
    for (const auto& [nearer, t, steep] : cases) {
        matrix3d pose = matrix3d::identity();
        pose.setRow(3, {-nearer / (2.0f * halfRise), level - 1.0f, 0.0f}); // the left's ground `nearer` higher
        track.body()->setPose(pose);
        track.quad->step(track.body());
        ASSERT_TRUE(left.grounded && right.grounded && vec3d(right.groundNormal).y > 0.9999f) << t;
        ASSERT_NEAR(vec3d(left.groundNormal).y, 0.5f, 0.01f) << t;
        EXPECT_NEAR(std::clamp(0.5f - (left.groundDistance - right.groundDistance), 0.0f, 1.0f), t, 0.02f);
        EXPECT_EQ(uint32_t(rear.steep), steep) << t;
    }
}

TEST(QuadDrive, ClimbsAFifteenDegreeSlope)
{
    const float rise = riseFor(15.0f);
    Track track(slopeMap(rise));
    ASSERT_TRUE(track.ground.loaded);
    const vec3d middle = gTerrain.box.center;
    // Facing up the slope (+x).
    ASSERT_NE(track.place(middle.x - 300.0f, middle.z, 0.5f, 90.0f), nullptr);
    gTerrain.getHeight(middle.x - 300.0f, middle.z, 3);
    const float slope = std::acos(Terrain::lastGroundNormal().normalised().y) / degrees;
    EXPECT_NEAR(slope, 15.0f, 0.5f);
    track.frames(framesFor(2.0f));
    EXPECT_EQ(track.contactsDown(), 4u);
    EXPECT_NEAR(track.tilt(), 15.0f, 5.0f) << "lying on the slope, its rear pressed in";
    EXPECT_EQ(track.quad->isOverturned(), 0u);
    const float from = track.position().y;
    track.throttle(1.0f);
    track.frames(150);
    EXPECT_GT(track.position().y - from, 30.0f) << "it climbs";
    EXPECT_EQ(track.quad->isOverturned(), 0u);
}

TEST(QuadStep, SteepGroundPushesTheWheelsSideways)
{
    // A 50 degree slope rising along x: every unit down is steep.
    const float rise = riseFor(50.0f);
    Track track(slopeMap(rise));
    // Away from the world's origin, so that the push depends on the offset
    // across the body and not on where the quad stands.
    const vec3d at = gTerrain.box.center + vec3d(120.0f, 0.0f, 400.0f);
    ASSERT_NE(track.place(at.x, at.z, 0.0f), nullptr);
    neRigidBody* body = track.body();
    // Level, its wheels' probe ends in the slope, at rest.
    matrix3d t = matrix3d::identity();
    t.setRow(3, {at.x, gTerrain.getHeight(at.x, at.z, 3) + 1.0f, at.z});
    body->setPose(t);
    body->velocity = {};
    body->angularVelocity = {};
    track.quad->step(body);
    track.quad->step(body);
    int down = 0;
    for (const Wheel& wheel : track.quad->wheels)
        if (wheel.grounded) {
            EXPECT_EQ(uint32_t(wheel.steep), 1u);
            ++down;
        }
    EXPECT_GE(down, 2) << "the uphill wheels";
    EXPECT_EQ(track.quad->isOverturned(), 1u) << "a steep wheel counts as overturned";
    // The push follows the probe's offset across the body, well inside the
    // limits.
    EXPECT_LT(std::fabs(track.quad->force.x), 150.0f);
    EXPECT_GT(track.quad->force.y, 0.0f);
}

namespace {

// A force-feedback effect that notes what it was asked.
class NotedEffect : public IDirectInputEffect
{
public:
    HRESULT WINAPI QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG WINAPI AddRef() override { return 1; }
    ULONG WINAPI Release() override { return 1; }
    HRESULT WINAPI Initialize(HINSTANCE, DWORD, REFGUID) override { return DI_OK; }
    HRESULT WINAPI GetEffectGuid(LPGUID) override { return DI_OK; }
    HRESULT WINAPI GetParameters(LPDIEFFECT, DWORD) override { return DI_OK; }
    HRESULT WINAPI SetParameters(LPCDIEFFECT effect, DWORD) override
    {
        calls.push_back("gain " + std::to_string(effect->dwGain));
        return DI_OK;
    }
    HRESULT WINAPI Start(DWORD iterations, DWORD) override
    {
        calls.push_back(iterations == INFINITE ? "start looping" : "start");
        return DI_OK;
    }
    HRESULT WINAPI Stop() override
    {
        calls.push_back("stop");
        return DI_OK;
    }
    HRESULT WINAPI GetEffectStatus(LPDWORD) override { return DI_OK; }
    HRESULT WINAPI Download() override { return DI_OK; }
    HRESULT WINAPI Unload() override { return DI_OK; }
    HRESULT WINAPI Escape(LPDIEFFESCAPE) override { return DI_OK; }

    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

}

TEST(QuadObject, TheRaceStateBindsTheRumbleAndTheQuadLeavesNothingBehind)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 0.0f), nullptr);
    NotedEffect rumble;
    gUserInput.rumbleEffect = &rumble;
    Game::Vehicle player(nullptr, nullptr, 0), rival(nullptr, nullptr, 1);
    player.isPlayer = 1;

    // An opponent's race state starts nothing; the player's starts the
    // rumble looping at gain 0; bound to another, it stops.
    track.quad->bindVehicle(&rival);
    EXPECT_TRUE(rumble.calls.empty());
    EXPECT_FALSE(track.quad->isPlayer());
    track.quad->bindVehicle(&player);
    EXPECT_TRUE(track.quad->isPlayer());
    EXPECT_EQ(rumble.calls, (Calls{"start looping", "gain 0"}));
    track.quad->bindVehicle(&rival);
    EXPECT_EQ(rumble.calls, (Calls{"start looping", "gain 0", "stop"}));
    // Bound directly, the next frame follows.
    track.quad->vehicle = &player;
    track.quad->update();
    const std::string engineGain =
        "gain " + std::to_string(ForceFeedback::gainUnits(0.2f + 0.16f * track.quad->engineSound.pitchTerm));
    EXPECT_EQ(rumble.calls, (Calls{"start looping", "gain 0", "stop", "start looping", "gain 0", engineGain}));
    EXPECT_EQ(track.quad->published.damage, 0.0f);
    player.damage = 0.5f;
    track.quad->update();
    EXPECT_EQ(track.quad->published.damage, 0.5f) << "the step's wobble reads the damage published";

    // An opponent driver among the object's functions steers it as an
    // opponent.
    EXPECT_FALSE(track.quad->isOpponent());
    ASSERT_NE(track.object->functions->add(DynObject::FunctionManager::aiDriverFlag, new ObjectFuncInstInterface), nullptr);
    EXPECT_TRUE(track.quad->isOpponent());
    track.object->functions->remove(DynObject::FunctionManager::aiDriverFlag);

    // The quad goes with its function: the rumble stops, the body has no
    // controller and the object's meshes no shader interface.
    EntityManager::Physics::RigidBody& record = *track.object->physics->rigidBody;
    ASSERT_EQ(record.controllerCount, 1u);
    rumble.calls.clear();
    track.object->functions->remove(DynObject::FunctionManager::quadFlag);
    EXPECT_EQ(rumble.calls, (Calls{"stop"}));
    EXPECT_EQ(record.controllerCount, 0u);
    EXPECT_EQ(track.object->shaderInterface, nullptr);
    gUserInput.rumbleEffect = nullptr;
}

// The sounds of the quad's wheels playing now.
std::vector<Audio::SoundInterface*> playingOf(const Audio::AudioFile* file)
{
    std::vector<Audio::SoundInterface*> found;
    for (auto* node = Audio::SoundInterface::list().head(); node; node = node->next)
        if (file && node->item->file == file && node->item->state == Audio::SoundInterface::playing)
            found.push_back(node->item);
    return found;
}

TEST(QuadObject, LandingsSoundOnceTheWheelsHaveSettled)
{
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    {
        Track track(flatMap());
        const vec3d middle = gTerrain.box.center;
        ASSERT_NE(track.place(middle.x, middle.z, 0.0f), nullptr);
        Instance& quad = *track.quad;
        ASSERT_NE(quad.wheelCollisionSound, nullptr);
        NotedEffect pulse;
        gUserInput.pulseEffect = &pulse;
        Game::Vehicle player(nullptr, nullptr, 0);
        player.isPlayer = 1;
        quad.vehicle = &player;
        Relaxed<uint32_t>& landing = quad.wheels[Wheel::rearAxle].contacts[1].landed;
        struct Case
        {
            const char* what;
            float impact;
            bool landing;      // a wheel still touching down
            uint32_t later;    // ms since the last case
            float volume;      // 0: silent
            float impactAfter; // what is left
            Calls pulse;
        };
        const Case cases[] = {
            {"exactly 7 stays", 7.0f, false, 100, 0.0f, 7.0f, {}},
            {"7.1 waits for the wheels", 7.1f, true, 100, 0.0f, 7.1f, {}},
            {"7.1 once settled", 7.1f, false, 0, 0.4015f, 0.0f, {"gain 15", "start"}},
            {"70 at the limit", 70.0f, false, 100, 0.95f, 0.0f, {"gain 9450", "start"}},
            {"30 ms later: held back, emptied", 20.0f, false, 30, 0.0f, 0.0f, {}},
            {"60 ms later: heard", 20.0f, false, 30, 0.595f, 0.0f, {"gain 1950", "start"}},
        };
        for (const Case& c : cases) {
            testNow += c.later;
            quad.impact = c.impact;
            landing = c.landing ? 1u : 0u;
            pulse.calls.clear();
            quad.playLanding();
            const std::vector<Audio::SoundInterface*> sounds = playingOf(quad.wheelCollisionSound);
            ASSERT_EQ(sounds.size(), c.volume > 0.0f ? 1u : 0u) << c.what;
            if (!sounds.empty()) {
                EXPECT_NEAR(sounds[0]->volume, c.volume, 1e-5f) << c.what;
                EXPECT_TRUE(sounds[0]->is3D()) << c.what;
                sounds[0]->stop();
            }
            EXPECT_EQ(float(quad.impact), c.impactAfter) << c.what;
            EXPECT_EQ(pulse.calls, c.pulse) << c.what;
        }
        landing = 0;
        // An opponent's landing sounds without the pulse.
        quad.vehicle = nullptr;
        testNow += 100;
        quad.impact = 30.0f;
        pulse.calls.clear();
        quad.playLanding();
        EXPECT_EQ(playingOf(quad.wheelCollisionSound).size(), 1u);
        EXPECT_TRUE(pulse.calls.empty());
        gUserInput.pulseEffect = nullptr;
    }
    Audio::release();
}

TEST(QuadObject, TheFrameKeepsTheSlidingTheRadiusAndAFrozenEngine)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 0.0f), nullptr);
    Instance& quad = *track.quad;
    Wheel* wheels = quad.wheels;
    wheels[Wheel::rearAxle].contacts[0].slideSpeed = 1.0f;
    wheels[Wheel::rearAxle].contacts[1].slideSpeed = 2.0f;
    wheels[Wheel::frontLeft].contacts[0].slideSpeed = 3.0f;
    wheels[Wheel::frontRight].contacts[0].slideSpeed = 4.0f;
    const struct
    {
        uint32_t rear, frontLeft, frontRight;
        float sliding[4];
    } cases[] = {
        {1, 1, 1, {1, 2, 3, 4}},
        {1, 0, 1, {1, 2, 0, 4}},
        {0, 1, 0, {0, 0, 3, 0}},
    };
    for (const auto& c : cases) {
        wheels[Wheel::rearAxle].grounded = c.rear;
        wheels[Wheel::frontLeft].grounded = c.frontLeft;
        wheels[Wheel::frontRight].grounded = c.frontRight;
        quad.update();
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(quad.slidingInputs[i], c.sliding[i]) << c.rear << c.frontLeft << c.frontRight << " " << i;
    }

    // The bounding sphere holds the corners of the entity's box.
    OrientedBox& box = quad.entity->worldBox;
    box.axes[0] = {0.0f, 0.0f, 2.0f};
    box.axes[1] = {0.0f, 1.0f, 0.0f};
    box.axes[2] = {-1.0f, 0.0f, 0.0f};
    box.halfExtents = {1.0f, 2.0f, 2.0f};
    quad.update();
    EXPECT_FLOAT_EQ(quad.entity->worldBounds.radiusSq, 2.0f * 2.0f + 2.0f * 2.0f + 2.0f * 2.0f);
    EXPECT_FLOAT_EQ(quad.entity->worldBounds.radius, std::sqrt(12.0f));

    // Frozen, the engine revs on its own: the wheels do not set its speed.
    quad.wheels[Wheel::rearAxle].spin = 50.0f;
    quad.engineSound.speed = 0.25f;
    quad.frozen = 1;
    quad.update();
    EXPECT_NE(quad.engineSound.speed, 50.0f * 0.11f * quad.engineSound.speedScale);
    quad.frozen = 0;
    quad.update();
    EXPECT_NE(quad.engineSound.speed, 0.25f);
}

TEST(QuadObject, TheRumbleFollowsThePlayersEngineAndStillsWhilePaused)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 0.0f), nullptr);
    NotedEffect rumble;
    gUserInput.rumbleEffect = &rumble;
    Game game(nullptr, nullptr);
    Game::Vehicle player(&game, nullptr, 0), rival(&game, nullptr, 1);
    player.isPlayer = 1;
    Instance& quad = *track.quad;
    quad.bindVehicle(&player);
    quad.engineSound.pitchTerm = 0.5f;
    struct Case
    {
        const char* what;
        bool paused, steering, player;
        Calls calls;
    };
    const Case cases[] = {
        {"driving", false, true, true, {}},
        {"paused", true, true, true, {"gain 0"}},
        {"steering off", false, false, true, {"gain 0"}},
        {"an opponent's quad leaves it", false, true, false, {"stop"}},
    };
    for (const Case& c : cases) {
        rumble.calls.clear();
        quad.bindVehicle(c.player ? &player : &rival);
        game.paused = c.paused ? 1 : 0;
        track.control.enabledActions = c.steering ? 0xFFFFFFFFu : ~uint32_t(Control::Steering);
        // The engine's update sets the pitch from its speed: the gain follows
        // the pitch the frame leaves.
        quad.update();
        if (c.player && !c.paused && c.steering)
            EXPECT_EQ(rumble.calls, (Calls{"gain " + std::to_string(ForceFeedback::gainUnits(
                                                         0.2f + 0.16f * quad.engineSound.pitchTerm))}))
                << c.what;
        else
            EXPECT_EQ(rumble.calls, c.calls) << c.what;
    }
    track.control.enabledActions = 0xFFFFFFFFu;

    // The gain rises with the engine's pitch: 0.2 at none, 0.36 at full. A
    // held quad keeps the engine speed it is given; one is found whose pitch
    // lies well inside its range.
    rumble.calls.clear();
    quad.bindVehicle(&player);
    game.paused = 0;
    quad.frozen = 1;
    float pitch = 0.0f;
    for (float speed = 0.1f; speed < 400.0f && !(pitch > 0.2f && pitch < 0.8f); speed *= 1.002f) {
        quad.engineSound.speed = speed;
        quad.update();
        pitch = quad.engineSound.pitchTerm;
    }
    ASSERT_GT(pitch, 0.2f);
    ASSERT_LT(pitch, 0.8f);
    ASSERT_FALSE(rumble.calls.empty());
    EXPECT_EQ(rumble.calls.back(), "gain " + std::to_string(ForceFeedback::gainUnits(0.2f + 0.16f * pitch)));
    quad.frozen = 0;
    quad.bindVehicle(nullptr);
    gUserInput.rumbleEffect = nullptr;
}

TEST(QuadPose, TheWheelPartsFollowTheSuspensionAndTheSpin)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 0.3f, 30.0f), nullptr); // turned: no axis row lies on the map's
    track.frames(framesFor(2.0f));
    ASSERT_EQ(track.contactsDown(), 4u);
    Instance& quad = *track.quad;
    const QuadPhysics& templ = *quad.templ;
    const matrix3d B = *track.body()->getTransform();
    const vec3d U = B.row(1);
    // Steered: the front arms swing across the forward axis as the wheels turn it.
    quad.steer = 0.6f;
    const float turn = quad.steer * 32.0f * degrees;
    const vec3d F = B.row(2);
    const vec3d steeredForward{std::cos(turn) * F.x + std::sin(turn) * F.z, F.y,
                               std::cos(turn) * F.z - std::sin(turn) * F.x};

    for (int32_t index : {Wheel::frontLeft, Wheel::rearAxle}) {
        Wheel& wheel = quad.wheels[index];
        const bool rear = index == Wheel::rearAxle;
        // The ground raised by half the probe under the probe's end.
        const vec3d end = wheel.suspensionEnd;
        const vec3d ground = end + U * wheel.halfRayLength;
        wheel.syncedSuspensionEnd = end;
        wheel.syncedGroundPoint = ground;
        quad.prepareRender();
        // By hand: 1.2 x the angle at the pivot between the probe's end and the
        // ground, across the unit's axis (the front-left arm the other way).
        const vec3d pivot = B.transformPoint(wheel.partMeshes[0]->world.row(3) * sampleScale);
        const vec3d n = rear ? B.row(0) : steeredForward;
        const auto across = [&](const vec3d& p) {
            const vec3d d = p - pivot;
            return (d - n * (d.dot(n) / n.dot(n))).normalised();
        };
        const float want = std::acos(std::clamp(across(end).dot(across(ground)), -1.0f, 1.0f)) / degrees * 1.2f;
        EXPECT_NEAR(wheel.swingAngle, rear ? want : -want, 0.05f) << index;
        EXPECT_GT(std::fabs(wheel.swingAngle), 5.0f) << index;
        // The arm turns about its pivot: the pivot stays.
        const matrix3d& arm = wheel.parts[0]->own;
        EXPECT_NEAR((arm.row(3) - pivot).length(), 0.0f, 1e-3f) << index;

        // The shock spans its mounts: its rest length is the mesh's y half
        // size along its second axis (its width and depth play no part), and
        // its middle plus or minus that along its up row is the upper mount,
        // fixed to the body, and the lower one, turned about the pivot with
        // the arm.
        const ObjPkgManager::Mesh& shockMesh = *wheel.partMeshes[1];
        const matrix3d& shock = wheel.parts[1]->own;
        ASSERT_GT(shockMesh.worldBox.halfExtents.x, 0.0f);
        ASSERT_GT(shockMesh.worldBox.halfExtents.z, 0.0f);
        const float rest = shockMesh.worldBox.halfExtents.y * shockMesh.worldBox.axes[1].length();
        const vec3d halfShock(0.0f, wheel.partLength * 0.5f, 0.0f);
        const vec3d upper = B.transformPoint(shockMesh.world.row(3) * sampleScale + halfShock);
        const vec3d lowerAtRest = B.transformPoint(shockMesh.world.row(3) * sampleScale - halfShock);
        EXPECT_NEAR((shock.row(3) + shock.row(1) * rest - upper).length(), 0.0f, 1e-3f) << index;
        const vec3d lower = shock.row(3) - shock.row(1) * rest;
        EXPECT_NEAR((lower - pivot).length(), (lowerAtRest - pivot).length(), 1e-3f) << index;
        EXPECT_GT((lower - lowerAtRest).length(), 1e-3f) << index << " the lower mount moved with the arm";
        // The lower mount rode up with the arm, shortening the shock.
        EXPECT_LT(shock.row(1).length() * 2.0f * rest, wheel.partLength * 0.999f) << index;
        // Its frame keeps the body's forward row (front) or right row (rear)
        // at the quad's scale, and stays affine.
        const vec3d kept = rear ? B.row(0) : B.row(2);
        EXPECT_NEAR((shock.row(rear ? 0 : 2) - kept * sampleScale).length(), 0.0f, 1e-3f) << index;
        EXPECT_NEAR(shock.row(rear ? 2 : 0).dot(kept), 0.0f, 1e-3f) << index;
        EXPECT_NEAR(shock.row(rear ? 2 : 0).length(), sampleScale, 1e-3f) << index << " the frame is not flattened";
        for (int r = 0; r < 4; ++r)
            EXPECT_EQ(shock.at(r, 3), r == 3 ? 1.0f : 0.0f) << index;
    }

    // The wheels turn by their spin each frame, about their axle.
    quad.steer = 0.0f;
    Wheel& rear = quad.wheels[Wheel::rearAxle];
    rear.spinAngle = 0.0f;
    quad.prepareRender(); // posed at 0, then turned by the spin
    const float spin = rear.spin;
    quad.prepareRender(); // posed at spin
    const matrix3d& wheelWorld = rear.parts[3]->own;
    const vec3d axle = B.row(0).normalised();
    const vec3d along = wheelWorld.row(1).normalised();
    // The mesh's up row turned by the spin about the axle (row-vector turn
    // (0, c, s) in the body's frame).
    const float c = std::cos(spin * degrees), s = std::sin(spin * degrees);
    const vec3d want = (B.row(1) * c + B.row(2) * s).normalised();
    EXPECT_NEAR((along - want).length(), 0.0f, 1e-3f) << spin;
    EXPECT_NEAR(along.dot(axle), 0.0f, 1e-3f);
    EXPECT_NEAR(wheelWorld.row(0).length(), sampleScale, 1e-3f);
    EXPECT_FLOAT_EQ(float(rear.spinAngle), 2.0f * spin);
    // Posed at a turn of 40 degrees (standing, they all but stop spinning),
    // each wheel's middle on its arm where the mesh places it; a front
    // wheel's steering part turns with it only as the steering does.
    const vec3d turned = (B.row(1) * std::cos(40.0f * degrees) + B.row(2) * std::sin(40.0f * degrees)).normalised();
    for (Wheel* wheel : {&rear, &quad.wheels[Wheel::frontLeft]}) {
        wheel->spinAngle = 40.0f;
        quad.prepareRender();
        ASSERT_LT(std::fabs(float(wheel->spin)), 1e-3f);
        const matrix3d& posed = wheel->parts[3]->own;
        EXPECT_NEAR((posed.row(1).normalised() - turned).length(), 0.0f, 1e-3f) << wheel->index;
        const vec3d armPivot = B.transformPoint(wheel->partMeshes[0]->world.row(3) * sampleScale);
        EXPECT_NEAR((posed.row(3) - armPivot).length(),
                    (wheel->partMeshes[3]->world.row(3) - wheel->partMeshes[0]->world.row(3)).length() * sampleScale,
                    1e-3f) << wheel->index;
    }
    const matrix3d& hub = quad.wheels[Wheel::frontLeft].parts[2]->own;
    EXPECT_NEAR((hub.row(1) - B.row(1) * sampleScale).length(), 0.0f, 1e-3f) << "the steering part does not spin";

    // The handlebar turns with the steering about its own place.
    quad.steer = 1.0f;
    quad.prepareRender();
    const matrix3d& bar = quad.bodyParts[0]->local;
    const matrix3d& barMesh = templ.mesh(QuadPhysics::handlebar)->world;
    const float barScale = barMesh.row(1).length();
    EXPECT_NEAR(bar.at(0, 0) / barScale, std::cos(32.0f * degrees), 1e-4f);
    EXPECT_NEAR(bar.at(0, 2) / barScale, -std::sin(32.0f * degrees), 1e-4f);
    EXPECT_EQ(bar.row(3), barMesh.row(3));
    EXPECT_NEAR((quad.bodyParts[0]->own.row(3) - quad.entity->world.transformPoint(barMesh.row(3))).length(), 0.0f,
                1e-3f);
}

TEST(QuadPose, TheRiderSitsLeansAndStandsUp)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 0.0f), nullptr);
    Instance& quad = *track.quad;
    ASSERT_NE(quad.driverSkeleton, nullptr);
    const BoneAnim& skeleton = *quad.driverSkeleton;
    const auto frameOf = [&](const wchar_t* name) { return skeleton.findAnimation(String(name))->frame(0); };
    const auto shows = [&](const BoneAnim::Frame& want) {
        float worst = 0.0f;
        for (int32_t b = 0; b < skeleton.boneCount; ++b) {
            const quaternion &a = quad.poseFrame.rotations[b], &w = want.rotations[b];
            const float d = std::fabs(a.x * w.x + a.y * w.y + a.z * w.z + a.w * w.w);
            worst = std::max(worst, 1.0f - d);
        }
        return worst < 1e-5f;
    };
    for (Wheel& wheel : quad.wheels)
        wheel.grounded = 1;
    struct Case
    {
        const char* what;
        bool throttleOn;
        float speed, steer;
        const wchar_t* shown;
    };
    const Case cases[] = {
        {"still while driving", true, 0.0f, 0.7f, L"Sit"},
        {"nobody at the throttle", false, 30.0f, 1.0f, L"Sit"},
        {"at speed, steering right", true, 30.0f, 1.0f, L"LeanRight"},
        {"at speed, steering left", true, 25.0f, -1.0f, L"LeanLeft"},
    };
    for (const Case& c : cases) {
        track.control.enabledActions = c.throttleOn ? 0xFFFFFFFFu : ~uint32_t(Control::Throttle);
        quad.velocity = {0.0f, 0.0f, c.speed};
        quad.steer = c.steer;
        quad.standBlend = 0.0f;
        quad.poseRider();
        EXPECT_TRUE(shows(*frameOf(c.shown))) << c.what;
        EXPECT_FALSE(shows(*frameOf(c.steer > 0.0f ? L"LeanLeft" : L"LeanRight"))) << c.what;
    }

    // In the air the rider stands up by frame time x 0.12 of the way each
    // frame (frame time in seconds, as written).
    for (Wheel& wheel : quad.wheels)
        wheel.grounded = 0;
    track.control.enabledActions = 0xFFFFFFFFu;
    quad.steer = 0.0f;
    quad.standBlend = 0.5f;
    quad.poseRider();
    EXPECT_FLOAT_EQ(quad.standBlend, 0.5f + 0.5f * frameTime * 0.12f);
    // Back on the ground it sits down again the same way.
    quad.wheels[Wheel::rearAxle].grounded = 1;
    const float standing = quad.standBlend;
    quad.poseRider();
    EXPECT_FLOAT_EQ(quad.standBlend, standing - standing * frameTime * 0.12f);
}

// However many passes of a frame draw the quad (its own, the water's
// mirror, the effect scene), its wheels turn by their spin once a frame and
// the rider stands up in the air, or sits down, by one step of the blend.
TEST(QuadPose, TheFramesPassesPoseTheQuadOnce)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 6.0f), nullptr); // dropped, then driven
    Instance& quad = *track.quad;
    const Wheel& rear = quad.wheels[Wheel::rearAxle];
    track.frame();
    track.throttle(1.0f);
    track.chain.setProjection({640, 480});
    Camera* const previous = std::exchange(gCamera, &track.chain);
    for (int frame = 0; frame < 60; ++frame) {
        const float spinAngle = rear.spinAngle, blend = quad.standBlend;
        track.frame(false);
        SceneFrames::look(track.chain, track.position() + vec3d(0.0f, 8.0f, -30.0f), 0.0f, -10.0f);
        track.chain.entities->beginFrame();
        for (int pass = 0; pass <= frame % 3; ++pass)
            track.chain.entities->render(pass == 0 ? 1 : 0);
        EXPECT_NEAR(rear.spinAngle - spinAngle, float(rear.spin), 1e-3f) << frame;
        const bool airborne = !quad.wheels[0].grounded && !quad.wheels[1].grounded && !rear.grounded;
        EXPECT_NEAR(quad.standBlend, blend + ((airborne ? 1.0f : 0.0f) - blend) * frameTime * 0.12f, 1e-6f) << frame;
    }
    gCamera = previous;
    EXPECT_GT(quad.standBlend, 0.0f) << "it stood up in the air";
    EXPECT_GT(std::fabs(float(rear.spin)), 1.0f);
}

// Seated on a quad standing still (turned on the map), the rider's hands hold
// the grips, left on the left, in the grips' turn; the grips lie on the drawn
// handlebar as it steers; the helmet sits over the head with its visor in
// front.
TEST(QuadPose, TheHandsHoldTheGripsAndTheHelmetSitsOnTheHead)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z, 0.0f, 30.0f), nullptr);
    track.frames(framesFor(1.5f));
    Instance& quad = *track.quad;
    ASSERT_NE(quad.driverSkeleton, nullptr);
    ASSERT_TRUE(quad.leftArm.enabled && quad.rightArm.enabled);
    const ObjPkgManager::Mesh& driverMesh = *quad.templ->mesh(QuadPhysics::driver);
    const EntityManager::SubEntity& bar = *quad.bodyParts[0];
    const auto onTheBar = [&](const matrix3d& grip) {
        matrix3d inverse;
        if (!bar.own.inverseAffine(inverse))
            return false;
        const vec3d p = inverse.transformPoint(grip.row(3));
        const OrientedBox& box = bar.mesh().box;
        for (int a = 0; a < 3; ++a)
            if (std::fabs((p - box.center).dot(box.axes[a])) > box.halfExtents[a] * 1.01f)
                return false;
        return true;
    };
    for (const float steer : {0.0f, 1.0f, -1.0f}) {
        quad.steer = steer;
        quad.prepareRender();
        EXPECT_TRUE(onTheBar(quad.leftGrip)) << steer;
        EXPECT_TRUE(onTheBar(quad.rightGrip)) << steer;
    }

    // Straight ahead, the second frame's solve (the first starts from no
    // earlier solve) puts each hand on its grip.
    quad.steer = 0.0f;
    quad.velocity = {};
    quad.prepareRender();
    quad.prepareRender();
    const matrix3d W = driverMesh.world * quad.entity->world;
    const float scale = W.row(0).length();
    const vec3d R = quad.entity->world.row(0), P = quad.entity->world.row(3);
    const struct
    {
        const char* what;
        const BoneAnim::PoseChain& arm;
        const matrix3d& grip;
        float side;
    } hands[] = {{"left", quad.leftArm, quad.leftGrip, -1.0f}, {"right", quad.rightArm, quad.rightGrip, 1.0f}};
    for (const auto& h : hands) {
        const Bone& hand = *h.arm.bones[0];
        const vec3d at = W.transformPoint(hand.position());
        EXPECT_NEAR((at - h.grip.row(3)).length(), 0.0f, 0.05f) << h.what;
        EXPECT_GT((at - P).dot(R) * h.side, 0.0f) << h.what << " hand on its own side";
        // The rider reaches forward to the bar: the shoulder behind the
        // elbow, the elbow behind the hand.
        const vec3d ahead = quad.entity->world.row(2).normalised();
        const vec3d elbow = W.transformPoint(h.arm.bones[1]->position());
        const vec3d shoulder = W.transformPoint(h.arm.bones[2]->position());
        EXPECT_LT((elbow - at).dot(ahead), 0.0f) << h.what;
        EXPECT_LT((shoulder - elbow).dot(ahead), 0.0f) << h.what;
        const matrix3d frame = static_cast<const matrix3d&>(hand) * W;
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR((frame.row(r) * (1.0f / scale) - h.grip.row(r)).length(), 0.0f, 2e-2f) << h.what << r;
    }

    // The helmet around the head (bone 8), the visor before the face.
    const Bone& head = *quad.driverSkeleton->getBoneByIndex(8);
    const vec3d headCentre = W.transformPoint((head.position() + head.tip()) * 0.5f);
    const auto centreOf = [](const EntityManager::SubEntity& part) {
        return part.own.transformPoint(part.mesh().box.center);
    };
    const vec3d helmet = centreOf(*quad.bodyParts[4]);
    EXPECT_NEAR((helmet - headCentre).length(), 0.0f, 0.02f * scale);
    const vec3d F = quad.entity->world.row(2).normalised();
    EXPECT_GT((centreOf(*quad.bodyParts[5]) - helmet).dot(F), 0.1f * scale) << "the visor in front";
    EXPECT_NEAR(quad.bodyParts[4]->own.row(1).normalised().dot(quad.entity->world.row(1).normalised()), 1.0f, 0.05f)
        << "the helmet upright";
}

// The game's physics thread steps the world by the manager's frame time x
// 4.2, in batches of three steps: a game drawing four frames a second (a slow machine, a
// loaded one) still drives its quad on its wheels, at speeds the drive
// reaches, on level and on rolling ground.
TEST(QuadDrive, StaysOnItsWheelsWhenTheGameDrawsFourFramesASecond)
{
    constexpr double frameSeconds = 0.25;
    for (int rolling = 0; rolling < 2; ++rolling) {
        SCOPED_TRACE(rolling ? "rolling" : "level");
        Track track(rolling ? TerrainTestMaps::heightMap(128, [](int32_t i, int32_t j) {
            return 30000.0f + 2500.0f * std::sin(float(i) * 0.7f) * std::cos(float(j) * 0.5f);
        })
                            : flatMap());
        const vec3d middle = gTerrain.box.center;
        ASSERT_NE(track.place(middle.x, middle.z - 1300.0f, 0.0f), nullptr);
        EntityManager::PhysicsManager& manager = track.physics();
        gFrameTime = float(frameSeconds);
        gFrameFactor = 4.0f;
        float tilt = 0.0f;
        int32_t speed = 0;
        for (int frame = 0; frame < 80; ++frame) {
            if (frame == 4)
                track.throttle(1.0f);
            testNow += uint32_t(frameSeconds * 1000.0);
            manager.lastCounter -= int64_t(frameSeconds * double(manager.counterFrequency));
            manager.update();
            manager.stepBatch(nullptr);
            track.object->physics->update();
            track.quad->update();
            track.quad->prepareRender();
            tilt = std::max(tilt, track.tilt());
            speed = std::max(speed, track.quad->getSpeed());
        }
        EXPECT_LT(tilt, 80.0f);
        EXPECT_GT(speed, 40);
        EXPECT_LE(speed, 120);
    }
}

// A frame of a fifth of a second is stepped in six pieces, and the drivers
// look between them: after each piece the quad gives the speed its body has
// then, as the frame's own following of the body would.
TEST(QuadDrive, BetweenThePiecesOfALongFrameItsSpeedIsThePieces)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z - 1300.0f, 0.0f), nullptr);
    track.frames(framesFor(1.0f));
    track.throttle(1.0f);
    track.frames(framesFor(0.5f));
    EntityManager::PhysicsManager& manager = track.physics();
    manager.previousFrameTime = 0.2f;
    manager.lastCounter -= int64_t(10.0 * double(manager.counterFrequency));
    ASSERT_EQ(manager.update(), 6);
    std::vector<int32_t> speeds;
    for (int piece = 1; piece < 6; ++piece) {
        manager.stepPiece();
        speeds.push_back(track.quad->getSpeed());
        track.quad->followBody();
        EXPECT_EQ(speeds.back(), track.quad->getSpeed()) << piece;
    }
    EXPECT_GT(speeds.back(), speeds.front()) << "it pulls away piece by piece";
}

// With the physics thread stepping, the frame reads the quad as the last
// sync left it, never the body the thread steps meanwhile: its speed and
// velocity, its wheels' roll, its posed arms and shocks and the contacts'
// points stay as they were until the next sync, however far the batch went.
TEST(QuadThreads, TheFrameReadsTheQuadAsTheSyncLeftIt)
{
    Track track(flatMap());
    const vec3d middle = gTerrain.box.center;
    ASSERT_NE(track.place(middle.x, middle.z - 1300.0f, 0.0f), nullptr);
    EntityManager::PhysicsManager& manager = track.physics();
    manager.thread.start();
    track.throttle(1.0f);
    struct Seen
    {
        int32_t speed;
        vec3d velocity;
        float roll;
        matrix3d arm, shock;
        vec3d contact;
    };
    const auto seen = [&] {
        track.quad->followBody();
        const Wheel& rear = track.quad->wheels[Wheel::rearAxle];
        return Seen{track.quad->getSpeed(), track.quad->velocity, rear.rollRate, rear.parts[0]->own,
                    rear.parts[1]->own, rear.contacts[0].synced.contactPoint};
    };
    const auto same = [](const matrix3d& a, const matrix3d& b) { return std::memcmp(&a, &b, sizeof(a)) == 0; };
    int moved = 0;
    Seen last{};
    for (int frame = 0; frame < 60; ++frame) {
        testNow += 1000 / 35;
        // Syncs the batch that ended and releases the next one.
        manager.update();
        track.quad->update();
        const Seen before = seen();
        manager.waitForStepEnd();
        const Seen after = seen();
        EXPECT_EQ(after.speed, before.speed) << frame;
        EXPECT_EQ(after.velocity, before.velocity) << frame;
        EXPECT_EQ(after.roll, before.roll) << frame;
        EXPECT_TRUE(same(after.arm, before.arm)) << frame;
        EXPECT_TRUE(same(after.shock, before.shock)) << frame;
        EXPECT_EQ(after.contact, before.contact) << frame;
        moved += before.velocity != last.velocity && !same(before.arm, last.arm) ? 1 : 0;
        last = before;
    }
    EXPECT_GT(moved, 50) << "each sync brings the batch's quad";
    manager.thread.stop();
}

// A quad that leaves steep ground for the air is judged by how it lies in
// the air: a wheel in the air stands on no ground, steep or level, so level
// in the air and level where it lands it is not overturned. (A steep flag
// kept from the last contact counted every leap off a crest's slope.)
TEST(QuadDrive, LevelInTheAirAfterSteepGroundItIsNotOverturned)
{
    const float rise = riseFor(55.0f);
    Track track(TerrainTestMaps::heightMap(
        128, [rise](int32_t i, int32_t) { return 20000.0f + (i > 64 ? rise * float(i - 64) : 0.0f); }));
    const vec3d middle = gTerrain.box.center;
    // Upright over the steep side, facing up it, high enough for its front
    // wheels to reach the ground: they find it far steeper than the body.
    ASSERT_NE(track.place(middle.x + 150.0f, middle.z, 2.0f, 90.0f), nullptr);
    track.frame();
    bool steep = false;
    for (const Wheel& wheel : track.quad->wheels)
        steep = steep || (wheel.grounded && wheel.steep);
    ASSERT_TRUE(steep) << "the wheels stood on steep ground";
    // Lifted level over the level side, 12 units up, at rest: it falls and
    // lands on its wheels.
    const vec3d over{middle.x - 150.0f, 0.0f, middle.z};
    track.quad->placeOnTerrain(over, nullptr);
    matrix3d pose = *track.body()->getTransform();
    pose.m[13] += 12.0f;
    track.body()->setPose(pose);
    bool airborne = false;
    for (int i = 0; i < framesFor(3.0f); ++i) {
        track.frame();
        airborne = airborne || track.contactsDown() == 0;
        ASSERT_EQ(track.quad->isOverturned(), 0u) << "frame " << i << ", tilt " << track.tilt();
    }
    EXPECT_TRUE(airborne);
    EXPECT_EQ(track.contactsDown(), 4u);
    EXPECT_LT(track.tilt(), 30.0f) << "on its wheels";
}

namespace {

// A wall of ground across the track: level ground that rises by rise raw
// height units (1170 make 8 units) at the map's middle, smoothed by the
// terrain's surface over some two of the map's cells, whose width the
// horizontal scale sets (4 units at 0.5).
TerrainMapWriter::Map stepMap(float rise)
{
    return TerrainTestMaps::heightMap(128, [rise](int32_t i, int32_t) { return 20000.0f + (i >= 64 ? rise : 0.0f); });
}

}

// Driven at full throttle into steps and slopes, head on and at a slant,
// at 60 to 5 frames a second (each frame stepped as the physics thread
// steps it, in pieces of at most a thirtieth of a second): the quad climbs,
// slides along or stops, but never rises faster than it drove, never
// stands higher over the highest ground within 5 units than its own
// length, and never sinks more than 2 units below its resting height over
// the lowest ground there. The 8 unit step rises over
// about 7 units, as the off-road maps' steepest; the 16 unit one over the
// same run; the slope over some 28 units throws a quad at full speed off
// its crest.
TEST(QuadDrive, IntoStepsAndSlopesItIsNeverThrownUp)
{
    using Manager = EntityManager::PhysicsManager;
    struct Shape
    {
        const char* name;
        float rise, horizontalScale;
    };
    const Shape shapes[] = {{"8 over 7", 1170.0f, 0.5f}, {"16 over 7", 2340.0f, 0.5f}, {"8 over 28", 1170.0f, 2.0f}};
    for (const Shape& shape : shapes)
        for (const float heading : {90.0f, 30.0f})
            for (const float start : {5.0f, 30.0f})
                for (const float fps : {60.0f, 7.0f, 5.0f}) {
                    SCOPED_TRACE(std::string(shape.name) + ", heading " + std::to_string(heading) + ", from " +
                                 std::to_string(start) + ", " + std::to_string(fps) + " fps");
                    Track track(stepMap(shape.rise), TerrainTestMaps::settings(shape.horizontalScale, 1.75f));
                    ASSERT_TRUE(track.ground.loaded);
                    const vec3d middle = gTerrain.box.center;
                    ASSERT_NE(track.place(middle.x - 40.0f, middle.z, 0.0f, heading), nullptr);
                    track.frames(30);
                    const auto groundUnder = [](const vec3d& p) { return gTerrain.getHeight(p.x, p.z, 3); };
                    const float rest = track.position().y - groundUnder(track.position());
                    track.body()->velocity = track.forward().normalised() * start;
                    track.throttle(1.0f);
                    const float frame = std::max(1.0f / fps, Manager::shortestFrame);
                    const int pieces = int(std::ceil(frame / Manager::longestBatch - 1e-3f));
                    float fastest = 0.0f, climb = 0.0f, highest = -1e9f, lowest = 1e9f;
                    for (int f = 0; f < int(5.0f / frame); ++f) {
                        testNow += uint32_t(frame * 1000.0f);
                        for (int k = 0; k < pieces; ++k)
                            track.batch(frame / float(pieces));
                        const vec3d p = track.position(), v = track.body()->velocity;
                        const float room = 0.4f * (gTerrain.box.maximum.x - gTerrain.box.minimum.x);
                        if (std::fabs(p.x - middle.x) > room || std::fabs(p.z - middle.z) > room)
                            break;
                        fastest = std::max(fastest, std::sqrt(v.x * v.x + v.z * v.z));
                        climb = std::max(climb, v.y);
                        // The ground within 5 units: over the highest, over the lowest.
                        float top = -1e30f, floor = 1e30f;
                        for (const float dx : {-5.0f, 0.0f, 5.0f})
                            for (const float dz : {-5.0f, 0.0f, 5.0f}) {
                                const float ground = groundUnder(p + vec3d(dx, 0.0f, dz));
                                top = std::max(top, ground);
                                floor = std::min(floor, ground);
                            }
                        highest = std::max(highest, p.y - top - rest);
                        lowest = std::min(lowest, p.y - floor - rest);
                    }
                    EXPECT_LE(climb, fastest) << "thrown up";
                    EXPECT_LT(highest, 8.5f) << "above the ground";
                    EXPECT_GT(lowest, -2.0f) << "under the ground";
                }
}

namespace {

// A thin ridge across the track: one row of the map's samples rise raw
// height units above the level ground (2340 make 16 units), which the
// terrain's surface turns into a ridge some 3 units across at half its
// height at a horizontal scale of 0.375 (a sample every 3 units), steep on
// both sides.
TerrainMapWriter::Map ridgeMap(float rise)
{
    return TerrainTestMaps::heightMap(128, [rise](int32_t i, int32_t) { return 20000.0f + (i == 64 ? rise : 0.0f); });
}

// Two hollow ways as wide as an off-road course's, meeting at the terrain's
// middle at an angle: one along +x up to it, the other on from it turned
// 10 degrees towards +z. Each ends along its own line, so outside the bend
// (towards -z) a thin wedge of ground lies in neither and keeps its
// height, 16 units over the hollows' floors on both sides (some 4 units
// across, 25 units out from the middle): the ridge the course's loop left
// where its ends met.
void meetingHollows()
{
    if (!gWayModelerSet)
        createWayModelerSet();
    const vec3d middle = gTerrain.box.center;
    const float turn = 10.0f * degrees;
    const auto way = [&](float x0, float z0, float x1, float z1) {
        WayFileWriter::Way points;
        for (const auto& [x, z] : {std::pair{x0, z0}, std::pair{x1, z1}}) {
            WayFileWriter::Point p;
            p.position[0] = x;
            p.position[1] = gTerrain.getHeight(x, z, 3);
            p.position[2] = z;
            p.width = 113.333f;
            p.stepsPerLength = 0.1f;
            p.thinTolerance = 0.5f;
            p.name = String(L"TerrainHollow1");
            points.push_back(p);
        }
        return points;
    };
    FileArray ways(4096);
    WayFileWriter::write({way(middle.x - 300.0f, middle.z, middle.x, middle.z),
                          way(middle.x, middle.z, middle.x + 300.0f * std::cos(turn), middle.z + 300.0f * std::sin(turn))},
                         ways);
    ways.seek(0, 0);
    gWayNetwork.read(ways);
}

}

// Driven at full throttle into ground it cannot climb, a 16 unit ridge, the
// ridge two hollows leave where they meet at a corner and the steps of 8
// and 16 units over 7, head on and slanted 60 degrees either way (aimed at
// the same place from 40 units off; on the hollows it comes off the
// hollow's outer wall, or from its floor), from rest, at 30 and at its top
// speed, at 60, 35 and 5 frames a second and in frames of mixed length
// (each frame stepped as the physics thread steps it): the quad meets it as
// a wall. It stops, slides
// along, climbs or tips over against it; its box never goes into the ground
// (its middle never lies under the ground straight beneath it), its origin
// never more than 6 units under that ground while it stands on its wheels
// (a quad sinking into a ridge or passing through one does) nor more than
// 40 over it.
TEST(QuadDrive, IntoGroundItCannotClimbItMeetsAWall)
{
    using Manager = EntityManager::PhysicsManager;
    struct Shape
    {
        const char* name;
        TerrainMapWriter::Map map;
        float horizontalScale;
        float across; // from the middle, where the quad drives at it
    };
    const Shape shapes[] = {{"ridge", ridgeMap(2340.0f), 0.375f, 0.0f},
                            {"hollows' ridge", flatMap(), 3.0f, -25.0f},
                            {"8 over 7", stepMap(1170.0f), 0.5f, 0.0f},
                            {"16 over 7", stepMap(2340.0f), 0.5f, 0.0f}};
    for (const Shape& shape : shapes)
        for (const float heading : {90.0f, 30.0f, 150.0f})
            for (const float start : {0.0f, 30.0f, -1.0f}) // -1: its top speed
                for (const float fps : {60.0f, 35.0f, 5.0f, 0.0f}) { // 0: frames of mixed length
                    SCOPED_TRACE(std::string(shape.name) + ", heading " + std::to_string(heading) + ", from " +
                                 std::to_string(start) + ", " + std::to_string(fps) + " fps");
                    Track track(shape.map, TerrainTestMaps::settings(shape.horizontalScale, 1.75f));
                    ASSERT_TRUE(track.ground.loaded);
                    if (shape.across != 0.0f)
                        meetingHollows();
                    // 40 units before the place it drives at.
                    const vec3d middle = gTerrain.box.center + vec3d(0.0f, 0.0f, shape.across);
                    const vec3d from = middle - vec3d(std::sin(heading * degrees), 0.0f, std::cos(heading * degrees)) * 40.0f;
                    ASSERT_NE(track.place(from.x, from.z, 0.0f, heading), nullptr);
                    track.frames(30);
                    const float speed = start >= 0.0f ? start : balanceSpeed(3, track.body()->mass, 1.0f);
                    track.body()->velocity = track.forward().normalised() * speed;
                    track.throttle(1.0f);
                    const float mixed[] = {1.0f / 60.0f, 0.2f, 1.0f / 35.0f, 1.0f / 12.0f, 1.0f / 7.0f};
                    const auto frameAt = [&](int f) {
                        return fps > 0.0f ? std::max(1.0f / fps, Manager::shortestFrame) : mixed[f % 5];
                    };
                    // The body's box, in its frame.
                    const neGeometry* box = track.body()->geometryHead;
                    ASSERT_NE(box, nullptr);
                    const vec3d boxAt = box->position();
                    float highest = -1e9f, lowest = 1e9f, boxLowest = 1e9f;
                    const float room = 0.4f * (gTerrain.box.maximum.x - gTerrain.box.minimum.x);
                    bool away = false;
                    float elapsed = 0.0f;
                    for (int f = 0; elapsed < 5.0f && !away; ++f) {
                        const float frame = frameAt(f);
                        const int pieces = int(std::ceil(frame / Manager::longestBatch - 1e-3f));
                        elapsed += frame;
                        testNow += uint32_t(frame * 1000.0f);
                        for (int k = 0; k < pieces; ++k) {
                            track.batch(frame / float(pieces));
                            const vec3d p = track.position();
                            away = std::fabs(p.x - middle.x) > room || std::fabs(p.z - middle.z) > room;
                            if (away)
                                break;
                            const float over = p.y - gTerrain.getHeight(p.x, p.z, 3);
                            highest = std::max(highest, over);
                            // The origin lies under the wheels: a quad on its
                            // side leaning on a ridge has it in the ridge.
                            if (track.up().normalised().y > 0.7f)
                                lowest = std::min(lowest, over);
                            const vec3d c = p + track.body()->getTransform()->row(0) * boxAt.x +
                                            track.up() * boxAt.y + track.forward() * boxAt.z;
                            boxLowest = std::min(boxLowest, c.y - gTerrain.getHeight(c.x, c.z, 3));
                        }
                    }
                    std::printf("  %s, heading %.0f, from %.0f, %.0f fps: origin %.1f to %.1f over the ground, box %.1f\n",
                                shape.name, heading, start, fps, lowest, highest, boxLowest);
                    EXPECT_GT(lowest, -6.0f) << "into the ground";
                    EXPECT_GT(boxLowest, 0.0f) << "the box into the ground";
                    EXPECT_LT(highest, 40.0f) << "thrown up";
                }
}
