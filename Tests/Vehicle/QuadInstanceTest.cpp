// A quad built from the builder's sample on an entity with a rigid body:
// its parts, inertia, controller and wheel units; its steering and throttle;
// the speed, overturn test and placement the race asks of it.
#include "Vehicle/QuadInstance.h"

#include "../Landscape/TerrainTestMaps.h"

#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "Application/ControlBindings.h"
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/SoundInterface.h"
#include "Application/UserInput.h"
#include "Entity/Entity.h"
#include "Entity/StoredMesh.h"
#include "Landscape/Terrain.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Race/GameVehicle.h"

#include "ObjectPackageWriter.h"
#include "QuadSample.h"
#include "QuadSamplePackage.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <thread>
#include <vector>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
using Instance = QuadPhysics::Instance;
using Wheel = QuadPhysics::Wheel;

// The sample quad's package, an entity showing all of its meshes (or copies
// renamed by rename) on a body of the package's mass.
struct Rig
{
    explicit Rig(bool withBody = true, void (*rename)(String&) = nullptr) : package(quadSamplePackage())
    {
        entities.physicsManager->start(8);
        if (withBody)
            entity.physics = new EntityManager::Physics(entity, package->physics.mass);
        for (auto* node = package->meshes.head(); node; node = node->next) {
            ObjPkgManager::Mesh& mesh = *node->item;
            if (rename) {
                auto copy = std::make_unique<EntityManager::Entity::SourceMesh>(String(L"copy"));
                mesh.copyTo(*copy);
                rename(*copy->getName());
                entity.addStoredMesh(*copy, true, true, nullptr, nullptr);
                copies.push_back(std::move(copy));
            } else {
                entity.addStoredMesh(mesh, true, true, nullptr, nullptr);
            }
        }
    }
    QuadPhysics& quad() const { return *package->functions.quadPhysics; }
    EntityManager::SubEntity* partOf(int32_t role) const
    {
        for (auto* node = entity.subEntities.head(); node; node = node->next)
            if (node->item->mesh().name.sameText(*quad().mesh(role)->getName()))
                return node->item;
        return nullptr;
    }

    std::unique_ptr<ObjPkgManager::Package> package;
    EntityManager entities;
    EntityManager::Entity entity{entities};
    std::vector<std::unique_ptr<EntityManager::Entity::SourceMesh>> copies;
};

TEST(QuadInstance, BuiltFromTheSample)
{
    Rig rig;
    neRigidBody* body = rig.entity.physics->rigidBody->body;
    EntityManager::Physics::RigidBody& record = *rig.entity.physics->rigidBody;
    body->getTransform()->m[3] = 9.0f; // a fourth column the quad puts right
    body->getTransform()->m[15] = 0.5f;
    {
        Instance quad(&rig.quad(), &rig.entity, 5.0f);
        EXPECT_EQ(quad.body(), body);
        // Parts by role.
        const int32_t units[3][Wheel::partCount] = {{4, 5, 6, 7}, {8, 9, 10, 11}, {1, 2, 0, 3}};
        for (int32_t unit = 0; unit < 3; ++unit) {
            EXPECT_EQ(quad.wheels[unit].index, unit);
            for (int32_t part = 0; part < Wheel::partCount; ++part) {
                const int32_t role = units[unit][part];
                EXPECT_EQ(quad.wheels[unit].parts[part], role ? rig.partOf(role) : nullptr) << unit << part;
                EXPECT_EQ(quad.wheels[unit].partMeshes[part], role ? rig.quad().mesh(role) : nullptr);
                if (role) {
                    EXPECT_NE(quad.wheels[unit].parts[part], nullptr);
                    EXPECT_EQ(quad.wheels[unit].parts[part]->followsEntity, 0u);
                }
            }
        }
        for (int32_t i = 0; i < Instance::bodyPartCount; ++i) {
            EXPECT_EQ(quad.bodyParts[i], rig.partOf(12 + i)) << i;
            EXPECT_NE(quad.bodyParts[i], nullptr);
        }
        EXPECT_EQ(quad.bodyParts[1]->followsEntity, 0u) << "the rear follower is placed by the quad";
        EXPECT_EQ(quad.bodyParts[2]->followsEntity, 1u);
        // Springs from the template; probe lengths from the wheels' height
        // (0.6 in the package) at scale 5.
        EXPECT_EQ(quad.wheels[0].spring, rig.quad().frontSpring);
        EXPECT_EQ(quad.wheels[2].damper, rig.quad().rearDamper);
        EXPECT_NEAR(quad.wheels[0].contacts[0].rayLength, 3.0f, 1e-4f);
        EXPECT_NEAR(quad.wheels[2].contacts[1].rayLength, 3.0f, 1e-4f);
        // A cube of half size 1.368 x 5: 2/3 r^2 m about every axis.
        const float r = 1.368f * 5.0f, inertia = 2.0f * r * r * body->mass / 3.0f;
        EXPECT_NEAR(body->inertiaBody.r[0].x, inertia, inertia * 1e-5f);
        EXPECT_NEAR(body->inertiaBody.r[1].y, inertia, inertia * 1e-5f);
        EXPECT_NEAR(body->inertiaBody.r[2].z, inertia, inertia * 1e-5f);
        EXPECT_EQ(body->getTransform()->m[3], 0.0f);
        EXPECT_EQ(body->getTransform()->m[15], 1.0f);
        // The body's controllers: the quad, once.
        ASSERT_EQ(record.controllerCount, 1u);
        EXPECT_EQ(*record.controllers.data(), &quad);
    }
    EXPECT_EQ(record.controllerCount, 0u) << "no controller left after the quad";
    {
        // At a small scale the largest half size is still the third.
        Instance small(&rig.quad(), &rig.entity, 0.5f);
        const float r = 1.368f * 0.5f, inertia = 2.0f * r * r * body->mass / 3.0f;
        EXPECT_NEAR(body->inertiaBody.r[1].y, inertia, inertia * 1e-5f);
    }

    // Names that differ only in case match no role; a body-less entity gets
    // parts but nothing of a body.
    Rig shouting(true, [](String& name) { name.toLower(); });
    Instance none(&shouting.quad(), &shouting.entity, 1.0f);
    for (const Wheel& wheel : none.wheels)
        for (EntityManager::SubEntity* part : wheel.parts) {
            EXPECT_EQ(part, nullptr);
        }
    EXPECT_EQ(std::count(none.bodyParts, none.bodyParts + Instance::bodyPartCount, nullptr), 6);
    EXPECT_EQ(none.wheels[0].contacts[0].rayLength, 0.0f) << "no wheel mesh, no probe";
    Rig bodiless(false);
    Instance loose(&bodiless.quad(), &bodiless.entity, 1.0f);
    EXPECT_EQ(loose.body(), nullptr);
    EXPECT_NE(loose.bodyParts[2], nullptr);
    Instance nothing(&bodiless.quad(), nullptr, 1.0f);
    EXPECT_EQ(nothing.getSpeed(), 0);
    EXPECT_EQ(nothing.wheels[0].index, Wheel::notSetUp);
}

TEST(QuadInstance, SteeringAndThrottle)
{
    Rig rig(false);
    auto input = std::make_unique<UserInput>();
    Control control(*input);
    control.joystickSet.axes[0] = &input->state.keyAxisX; // steering
    control.joystickSet.axes[1] = &input->state.keyAxisY; // throttle
    Instance quad(&rig.quad(), &rig.entity, 1.0f);
    rig.entity.world = matrix3d::identity(); // forward is +z

    struct SteerCase
    {
        const char* what;
        bool controls;
        uint32_t opponent, mode, enabled;
        float axis, steer, frames, expected;
    };
    const SteerCase steering[] = {
        {"an opponent, linearly at 0.1", true, 1, 2, ~0u, 0.5f, 0.0f, 1.0f, 0.05f},
        {"an opponent over two frames", true, 1, 2, ~0u, -1.0f, 0.0f, 2.0f, -0.2f},
        {"the player, exponent 2", true, 0, 2, ~0u, 0.5f, 0.0f, 1.0f, 0.07f * 0.25f},
        {"the player, exponent 1", true, 0, 1, ~0u, 0.5f, 0.0f, 1.0f, 0.07f * 0.5f},
        {"the player near the middle, linearly", true, 0, 2, ~0u, 0.05f, 0.5f, 1.0f, 0.5f - 0.07f * 0.45f},
        {"steering switched off relaxes", true, 0, 2, ~0u & ~1u, 0.5f, 0.5f, 1.0f, 0.5f - 0.07f * 0.5f},
        {"without controls, rate 0.07, exponent 1", false, 0, 2, ~0u, 0.0f, 0.4f, 1.0f, 0.4f - 0.07f * 0.4f},
    };
    for (const SteerCase& c : steering) {
        quad.controls = c.controls ? &control : nullptr;
        quad.opponent = c.opponent;
        control.steeringMode = c.mode;
        control.enabledActions = c.enabled;
        input->state.keyAxisX = c.axis;
        quad.steer = c.steer;
        quad.updateSteering(c.frames);
        EXPECT_NEAR(quad.steer, c.expected, 1e-6f) << c.what;
    }
    // Full lock turns the front wheels 32 degrees about the upright axis.
    quad.steer = 1.0f;
    const matrix3d turn = quad.steerRotation();
    EXPECT_NEAR(std::atan2(turn.m[8], turn.m[10]) * 57.29578f, 32.0f, 1e-3f);
    EXPECT_NEAR(std::atan2(-turn.m[2], turn.m[0]) * 57.29578f, 32.0f, 1e-3f);

    // The nitro button (action 0x10) on the N key.
    control.joystickSet.keys[6] = &input->state.keyHeld[DIK_N];
    Game::Vehicle race(nullptr, nullptr, 0);
    struct ThrottleCase
    {
        const char* what;
        bool controls, bound, nitroHeld;
        float nitroLeft;
        uint32_t enabled;
        float axis, forward;
        float expected;
    };
    const ThrottleCase throttle[] = {
        {"forward", true, false, false, 0.0f, ~0u, 0.8f, 10.0f, 0.8f},
        {"pulling back at speed 3 reverses", true, false, false, 0.0f, ~0u, -0.6f, 3.0f, -0.6f},
        {"pulling back above forward speed 3 brakes", true, false, false, 0.0f, ~0u, -0.6f, 3.5f, 0.0f},
        {"pulling back rolling backwards", true, false, false, 0.0f, ~0u, -1.0f, -8.0f, -1.0f},
        {"throttle switched off", true, false, false, 0.0f, ~0u & ~2u, 0.8f, 0.0f, 0.0f},
        {"without controls", false, false, false, 0.0f, ~0u, 0.8f, 0.0f, 0.0f},
        {"nitro held opens it fully", true, true, true, 0.5f, ~0u & ~2u, -0.6f, 10.0f, 1.0f},
        {"nitro not held", true, true, false, 0.5f, ~0u, 0.3f, 10.0f, 0.3f},
        {"nitro held with too little left", true, true, true, 0.05f, ~0u, 0.3f, 10.0f, 0.3f},
        {"nitro held without a race state", true, false, true, 0.5f, ~0u, 0.3f, 10.0f, 0.3f},
    };
    for (const ThrottleCase& c : throttle) {
        quad.controls = c.controls ? &control : nullptr;
        quad.vehicle = c.bound ? &race : nullptr;
        race.nitro = c.nitroLeft;
        input->state.keyHeld[DIK_N] = c.nitroHeld ? 1 : 0;
        control.enabledActions = c.enabled;
        input->state.keyAxisY = c.axis;
        quad.velocity = {0.0f, 0.0f, c.forward};
        EXPECT_EQ(quad.throttleInput(), c.expected) << c.what;
    }
}

// A frame stepped in pieces: between them the quad follows its controls by
// each piece's share and hands the step its turn, brake and gear at once;
// five pieces of one reference frame steer and open the throttle as five
// frames do, not as one.
TEST(QuadInstance, APieceOfAFrameFollowsTheControlsAndHandsTheStepItsTurn)
{
    Rig rig(false);
    auto input = std::make_unique<UserInput>();
    Control control(*input);
    control.joystickSet.axes[0] = &input->state.keyAxisX;
    control.joystickSet.axes[1] = &input->state.keyAxisY;
    Instance quad(&rig.quad(), &rig.entity, 1.0f);
    rig.entity.world = matrix3d::identity();
    quad.controls = &control;
    quad.opponent = 1;
    struct Row
    {
        float axis, throttleAxis, forward;
        int pieces;
        float share;
    };
    const Row rows[] = {{1.0f, 1.0f, 10.0f, 5, 1.0f}, {-0.6f, 1.0f, 10.0f, 3, 0.8f}, {0.3f, -1.0f, 10.0f, 2, 1.0f}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.axis);
        input->state.keyAxisX = row.axis;
        input->state.keyAxisY = row.throttleAxis;
        quad.velocity = {0.0f, 0.0f, row.forward};
        quad.steer = 0.0f;
        quad.engineSound.throttle = 0.0f;
        float steer = 0.0f;
        for (int piece = 0; piece < row.pieces; ++piece) {
            quad.drivePiece(row.share);
            steer += (row.axis - steer) * 0.1f * row.share;
            ASSERT_NEAR(quad.steer, steer, 1e-5f) << piece;
            const float turn = steer * 32.0f * 3.14159265f / 180.0f;
            EXPECT_NEAR(float(quad.published.steerSin), std::sin(turn), 1e-5f) << piece;
            EXPECT_NEAR(float(quad.published.steerCos), std::cos(turn), 1e-5f) << piece;
        }
        const float open = row.throttleAxis > 0.0f ? 1.0f - std::pow(1.0f - 0.1f * row.share, float(row.pieces)) : 0.0f;
        EXPECT_NEAR(quad.engineSound.throttle, open, 1e-5f);
        // Pulling back at speed brakes, and the step is told at once.
        EXPECT_EQ(float(quad.published.brake), row.throttleAxis < 0.0f ? 1.0f : 0.0f);
    }
}

// The global terrain loaded from a generated map, for as long as this lives.
struct Ground
{
    explicit Ground(const TerrainMapWriter::Map& map)
    {
        const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(map);
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        loaded = gTerrain.load(nullptr, TerrainTestMaps::settings(1.0f), stream);
    }
    ~Ground() { gTerrain.clear(); }
    bool loaded = false;
};

TEST(QuadInstance, SpeedOverturnAndPlacement)
{
    // A slope rising along x.
    Ground ground(TerrainTestMaps::heightMap(128, [](int32_t i, int32_t) { return 20000.0f + 350.0f * float(i); }));
    ASSERT_TRUE(ground.loaded);
    Rig rig;
    Instance quad(&rig.quad(), &rig.entity, 1.0f);
    const vec3d middle = gTerrain.box.center;
    rig.entity.world = matrix3d::identity();

    // 10.4 along the rolling direction gives 24, backwards too.
    quad.wheels[Wheel::rearAxle].contacts[0].synced.groundNormal = {0.0f, 1.0f, 0.0f};
    for (float v : {10.4f, -10.4f}) {
        quad.velocity = {0.0f, 0.0f, v};
        EXPECT_EQ(quad.getSpeed(), 24) << v;
    }
    quad.velocity = {5.0f, 3.0f, 0.0f};
    EXPECT_EQ(quad.getSpeed(), 0) << "across the rolling direction";

    // The overturn rules, with the box centre high above the ground unless said.
    const float groundHeight = gTerrain.getHeight(middle.x, middle.z, 3);
    struct Case
    {
        const char* what;
        vec3d up;
        bool grounded, steep, centreUnderground;
        uint32_t overturned;
    };
    const Case cases[] = {
        {"upright on its wheels", {0, 1, 0}, true, false, false, 0},
        {"on its side, up y 0.05, no wheel down", {1, 0.05f, 0}, false, false, false, 1},
        {"on its side, up y 0.2, no wheel down", {1, 0.2f, 0}, false, false, false, 0},
        {"up y 0.2 with a wheel on steep ground", {1, 0.2f, 0}, true, true, false, 1},
        {"the ground covers its centre", {0, 1, 0}, true, false, true, 1},
        {"upside down high above the ground", {0, -1, 0}, true, false, false, 0},
    };
    for (const Case& c : cases) {
        rig.entity.world.setRow(1, c.up);
        rig.entity.world.setRow(3, {middle.x, groundHeight + 50.0f, middle.z});
        rig.entity.worldBox.center = {middle.x, c.centreUnderground ? groundHeight - 1.0f : groundHeight + 50.0f,
                                      middle.z};
        for (Wheel& wheel : quad.wheels) {
            wheel.grounded = c.grounded;
            wheel.steep = 0;
        }
        quad.wheels[1].steep = c.steep;
        EXPECT_EQ(quad.isOverturned(), c.overturned) << c.what;
    }
    // Upside down: the box's up axis points down, so its top lies below its
    // centre; overturned once the ground rises above that top.
    rig.entity.world.setRow(1, {0, -1, 0});
    rig.entity.world.setRow(3, {middle.x, groundHeight + 1.5f, middle.z});
    rig.entity.worldBox.axes[1] = {0, -1, 0};
    rig.entity.worldBox.halfExtents = {1, 0.5f, 1};
    for (Wheel& wheel : quad.wheels)
        wheel.steep = 0;
    rig.entity.worldBox.center.y = groundHeight + 1.5f;
    EXPECT_EQ(quad.isOverturned(), 0u) << "its top above the ground";
    rig.entity.worldBox.center.y = groundHeight + 0.5f;
    EXPECT_EQ(quad.isOverturned(), 1u) << "the ground above its top";

    // Placed on the slope: at the ground plus 0.6 of its height, upright on
    // the slope's normal, still and awake.
    neRigidBody* body = quad.body();
    rig.entity.worldBox.axes[1] = {0, 1, 0};
    rig.entity.worldBox.halfExtents = {0.5f, 0.4f, 1.0f};
    body->velocity = {3, 4, 5};
    body->setAngularMomentum({1, 2, 3});
    const vec3d p{middle.x + 7.0f, 0.0f, middle.z - 3.0f};
    const float g = gTerrain.getHeight(p.x, p.z, 3);
    const vec3d n = Terrain::lastGroundNormal().normalised();
    EXPECT_LT(n.y, 0.98f) << "a slope";
    const vec3d left{0, 0, -1};
    for (const vec3d* side : {static_cast<const vec3d*>(nullptr), &left}) {
        quad.placeOnTerrain(p, side);
        const matrix3d& t = *body->getTransform();
        EXPECT_NEAR(t.at(3, 0), p.x, 1e-4f);
        EXPECT_NEAR(t.at(3, 1), g + 0.6f * 0.8f, 1e-3f);
        EXPECT_NEAR(t.at(3, 2), p.z, 1e-4f);
        EXPECT_NEAR((t.row(1) - n).length(), 0.0f, 1e-3f) << "up along the normal";
        EXPECT_NEAR(t.row(0).dot(n), 0.0f, 1e-3f);
        EXPECT_NEAR(t.row(2).dot(n), 0.0f, 1e-3f);
        EXPECT_NEAR((t.row(0).cross(t.row(1)) - t.row(2)).length(), 0.0f, 1e-3f) << "a turn, not a mirror";
        if (side) {
            EXPECT_GT(t.row(0).dot(*side), 0.99f) << "right along the side";
        } else {
            EXPECT_GT(t.row(2).z, 0.99f) << "facing as before";
        }
        EXPECT_EQ(body->velocity, vec3d());
        EXPECT_EQ(body->state().angularMomentum, vec3d());
        EXPECT_EQ(body->angularVelocity, vec3d());
    }
}

}

namespace {

// The collision sounds of file that play.
std::vector<Audio::SoundInterface*> playing(const Audio::AudioFile* file)
{
    std::vector<Audio::SoundInterface*> found;
    for (auto* node = Audio::SoundInterface::list().head(); node; node = node->next)
        if (file && node->item->file == file && node->item->state == Audio::SoundInterface::playing)
            found.push_back(node->item);
    return found;
}

TEST(QuadInstance, CollisionsRecordedOnThePhysicsThreadPlayOnTheMainThread)
{
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    {
        Rig rig;
        Instance quad(&rig.quad(), &rig.entity, 1.0f);
        ASSERT_NE(quad.collisionSound, nullptr);
        ASSERT_NE(quad.wheelCollisionSound, nullptr);
        rig.entity.world.setRow(3, {5, 6, 7});
        struct Case
        {
            const char* what;
            std::vector<vec3d> velocities; // against the normal (0, 1, 0), one batch
            uint32_t kind;
            float volume; // 0: silent
            float damage;
        };
        const Case cases[] = {
            {"an impact of 1.0", {{3, -1, 0}}, 1, 0.0f, 0.0f},
            {"an impact of 21", {{0, -21, 0}}, 1, 1.0f, 0.15f},
            {"an impact of 21 on the ground", {{0, -21, 0}}, 0, 1.0f, 0.0f},
            {"an impact of 9 (k 0.4)", {{0, -9, 0}}, 1, std::pow(0.4f, 0.65f), 0.0f},
            {"the strongest of a batch", {{0, -2, 0}, {0, 11, 0}, {0, -3, 0}}, 0, std::pow(0.5f, 0.65f), 0.0f},
        };
        Game::Vehicle race(nullptr, nullptr, 0);
        quad.vehicle = &race;
        for (const Case& c : cases) {
            race.damage = 0.0f;
            race.damageTime = 0;
            std::thread physics([&] {
                for (const vec3d& v : c.velocities) {
                    EntityManager::Physics::Collision hit{{}, {}, v, {0, 1, 0}, c.kind, nullptr};
                    quad.onCollision(hit);
                }
            });
            physics.join();
            EXPECT_TRUE(playing(quad.collisionSound).empty()) << c.what << ": nothing plays on the physics thread";
            quad.playCollision();
            const std::vector<Audio::SoundInterface*> sounds = playing(quad.collisionSound);
            ASSERT_EQ(sounds.size(), c.volume > 0 ? 1u : 0u) << c.what;
            if (!sounds.empty()) {
                EXPECT_NEAR(sounds[0]->volume, c.volume, 1e-5f) << c.what;
                EXPECT_TRUE(sounds[0]->is3D()) << c.what;
                EXPECT_EQ(quad.impactKind.load(), c.kind) << c.what;
                sounds[0]->stop();
            }
            EXPECT_NEAR(race.damage, c.damage, 1e-6f) << c.what;
            quad.playCollision();
            EXPECT_TRUE(playing(quad.collisionSound).empty()) << c.what << ": one sound per impact";
        }
        quad.vehicle = nullptr;
    }
    Audio::release();
    // Without a device nothing plays and nothing fails.
    Rig silent;
    Instance quiet(&silent.quad(), &silent.entity, 1.0f);
    Game::Vehicle race(nullptr, nullptr, 0);
    quiet.vehicle = &race;
    EntityManager::Physics::Collision hit{{}, {}, {0, -21, 0}, {0, 1, 0}, 1, nullptr};
    quiet.onCollision(hit);
    quiet.playCollision();
    EXPECT_EQ(quiet.strongestImpact.load(), 0.0f);
    EXPECT_NEAR(race.damage, 0.15f, 1e-6f) << "damage whether or not it is heard";
    quiet.vehicle = nullptr;
}

}
