// Dynamic objects with the physics thread running: crates dropped on flat
// ground come to rest on it, the rigid-body budget hides what it cannot
// carry, and objects that come and go never meet a contact pass.
#include "DynObjectWorld.h"
#include "ObjectsTestSupport.h"

#include "../Landscape/TerrainTestMaps.h"

#include "Landscape/Terrain.h"
#include "Physics/neRigidBody.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <random>
#include <thread>
#include <vector>

using namespace ObjectsTests;

namespace {

// The global terrain flat at one height while this lives.
struct FlatGround
{
    FlatGround()
    {
        loaded =
            TerrainTestMaps::loadGlobal(TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 20000.0f; }));
        centre = gTerrain.box.center;
        height = gTerrain.getHeight(centre.x, centre.z, 3);
    }
    ~FlatGround() { gTerrain.clear(); }

    bool loaded = false;
    vec3d centre;
    float height = 0.0f;
};

neRigidBody* bodyOf(const DynObject* object)
{
    return object && object->physics && object->physics->rigidBody ? object->physics->rigidBody->body : nullptr;
}

// The lowest world point of the body's shapes (boxes and spheres).
float lowestPoint(const neRigidBody& body)
{
    const matrix3d& pose = body.state().transform;
    float lowest = FLT_MAX;
    for (const neGeometry* g = body.geometryHead; g; g = g->next) {
        const matrix3d placed = g->transform * pose;
        if (g->type == neShapeSphere) {
            lowest = std::min(lowest, placed.row(3).y - g->shape.round.radius);
            continue;
        }
        const vec3d h = g->halfExtents();
        for (int corner = 0; corner < 8; ++corner) {
            const vec3d local{corner & 1 ? h.x : -h.x, corner & 2 ? h.y : -h.y, corner & 4 ? h.z : -h.z};
            lowest = std::min(lowest, placed.transformPoint(local).y);
        }
    }
    return lowest;
}

// The largest box of the body's shapes: its full size along x.
float boxSize(const neRigidBody& body)
{
    float size = 0.0f;
    for (const neGeometry* g = body.geometryHead; g; g = g->next)
        if (g->type == neShapeBox)
            size = std::max(size, 2.0f * g->halfExtents().x);
    return size;
}

// Frames of the main loop, a millisecond apart, until every body has been
// still for 30 frames (or at most frames).
void runUntilAtRest(EntityManager::PhysicsManager& physics, const std::vector<DynObject*>& objects, int frames)
{
    int still = 0;
    for (int frame = 0; frame < frames && still < 30; ++frame) {
        physics.update();
        Sleep(1);
        physics.waitForStepEnd();
        bool moving = false;
        for (const DynObject* object : objects)
            if (const neRigidBody* body = bodyOf(object))
                moving |= body->velocity.lengthSq() > 1e-4f || body->angularVelocity.lengthSq() > 1e-4f;
        still = moving ? 0 : still + 1;
    }
}

}

// A crate and a crate at twice the scale, dropped from 3 units above flat
// ground, rest on it; the large one's engine box is twice the size.
TEST(DynObjectPhysics, CratesDroppedOnFlatGroundRestOnIt)
{
    FlatGround ground;
    ASSERT_TRUE(ground.loaded);
    World world;
    const vec3d above = ground.centre + vec3d{0.0f, ground.height - ground.centre.y + 3.0f, 0.0f};
    DynObject* crate = world.place(L"Crate", above);
    DynObject* large = world.place(L"Crate", above + vec3d{20.0f, 0.0f, 0.0f}, 2.0f);
    ASSERT_NE(bodyOf(crate), nullptr);
    ASSERT_NE(bodyOf(large), nullptr);
    EXPECT_NEAR(boxSize(*bodyOf(large)), 2.0f * boxSize(*bodyOf(crate)), 1e-4f);
    EXPECT_GT(lowestPoint(*bodyOf(crate)), ground.height + 1.0f) << "it starts in the air";
    // Drawn at its placed scale before the thread ever stepped.
    for (int row = 0; row < 3; ++row) {
        EXPECT_NEAR(crate->world.row(row).length(), 1.0f, 1e-4f) << row;
        EXPECT_NEAR(large->world.row(row).length(), 2.0f, 1e-4f) << row;
    }

    world.physics().thread.start();
    ASSERT_TRUE(world.physics().thread.isRunning());
    runUntilAtRest(world.physics(), {crate, large}, 3000);
    world.physics().thread.stop();

    for (DynObject* object : {crate, large}) {
        SCOPED_TRACE(object == crate ? "crate" : "large crate");
        EXPECT_NEAR(lowestPoint(*bodyOf(object)), ground.height, 0.05f) << "resting on the ground";
        // The entity follows its body, to within the sync's dead band: a
        // body settling below 0.005 a frame is not synced again.
        expectNear(object->world.row(3), bodyOf(object)->position(), 5e-3f, "entity");
    }
    EXPECT_NEAR(boxSize(*bodyOf(large)), 2.0f * boxSize(*bodyOf(crate)), 1e-4f) << "after the syncs";
}

// 130 crates on a budget of 128 bodies, with the thread stepping: two are
// hidden without a record; one deleted gives its body to the next.
TEST(DynObjectPhysics, TheBudgetHidesWhatItCannotCarry)
{
    FlatGround ground;
    ASSERT_TRUE(ground.loaded);
    World world(128);
    world.physics().thread.start();
    std::vector<DynObject*> crates;
    for (int i = 0; i < 130; ++i) {
        world.physics().update();
        const vec3d at{ground.centre.x + float(i % 13) * 4.0f - 24.0f, ground.height + 2.0f,
                       ground.centre.z + float(i / 13) * 4.0f - 20.0f};
        crates.push_back(world.place(L"Crate", at));
        ASSERT_NE(crates.back(), nullptr) << i;
    }
    const auto withBodies = [&] {
        return std::count_if(crates.begin(), crates.end(), [](const DynObject* c) { return bodyOf(c) != nullptr; });
    };
    EXPECT_EQ(withBodies(), 128);
    EXPECT_EQ(std::count_if(crates.begin(), crates.end(), [](const DynObject* c) { return c->hidden != 0; }), 2);
    for (size_t i = 128; i < crates.size(); ++i) {
        EXPECT_EQ(crates[i]->physics, nullptr) << i;
        EXPECT_EQ(crates[i]->hidden, 1u) << i;
    }
    EXPECT_EQ(world.physics().rigidBodyBudget, 0);
    EXPECT_EQ(world.physics().entities.count(), 128);

    for (int frame = 0; frame < 20; ++frame)
        world.physics().update();
    World::destroy(crates[5]);
    crates.erase(crates.begin() + 5);
    EXPECT_EQ(world.physics().rigidBodyBudget, 1);
    DynObject* next = world.place(L"Crate", ground.centre + vec3d{0.0f, ground.height - ground.centre.y + 30.0f, 0.0f});
    ASSERT_NE(bodyOf(next), nullptr) << "the body given back";
    EXPECT_EQ(next->hidden, 0u);
    EXPECT_EQ(world.physics().rigidBodyBudget, 0);
    world.physics().thread.stop();
}

// A thread looping the contact pass while 1,000 objects (with and without
// bodies) come and go: whatever the objects change, no pass sees it
// change under it.
TEST(DynObjectPhysics, ObjectsComingAndGoingNeverMeetAContactPass)
{
    World world(64);
    EntityManager& entities = *world.chain.entities;
    std::atomic<bool> stop{false};
    std::atomic<int> started{0}, passes{0}, overlaps{0};
    const auto readOnce = [](const int32_t& value) { return *static_cast<const volatile int32_t*>(&value); };
    std::thread contacts([&] {
        while (!stop.load()) {
            if (!entities.beginContactPass()) {
                Sleep(0);
                continue;
            }
            started.fetch_add(1);
            // What a change alters, read at the start and the end of a pass
            // that lasts a while.
            const int32_t listed = entities.entities.count(), budget = readOnce(world.physics().rigidBodyBudget);
            for (int i = 0; i < 2000; ++i) {
                std::atomic_signal_fence(std::memory_order_seq_cst);
                YieldProcessor();
            }
            std::atomic_signal_fence(std::memory_order_seq_cst);
            if (entities.entities.count() != listed || readOnce(world.physics().rigidBodyBudget) != budget)
                overlaps.fetch_add(1);
            passes.fetch_add(1);
            entities.endContactPass();
            Sleep(1);
        }
    });

    std::mt19937 random(3902);
    const wchar_t* kinds[] = {L"Crate", L"Camera", L"Gate"};
    std::vector<DynObject*> alive;
    for (int made = 0; made < 1000; ++made) {
        // Every fourth change comes while a pass has just begun (waited for a
        // minute at most: only a pass that never comes takes that long).
        if (made % 4 == 0) {
            const int before = started.load();
            const DWORD since = GetTickCount();
            while (started.load() == before && GetTickCount() - since < 60000)
                Sleep(0);
        }
        if (alive.size() >= 24 || (!alive.empty() && random() % 3 == 0)) {
            const size_t which = random() % alive.size();
            World::destroy(alive[which]);
            alive.erase(alive.begin() + std::ptrdiff_t(which));
        }
        const vec3d at{float(random() % 400), 5.0f, float(random() % 400)};
        alive.push_back(world.place(kinds[random() % 3], at));
        ASSERT_NE(alive.back(), nullptr);
    }
    while (!alive.empty()) {
        World::destroy(alive.back());
        alive.pop_back();
    }
    stop = true;
    contacts.join();
    EXPECT_GE(passes.load(), 250) << "the pass ran between the changes";
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(entities.changing.load(), 0u);
    EXPECT_EQ(world.physics().rigidBodyBudget, 64);
}
