#include "ScenarioSupport.h"

#include <gtest/gtest.h>

#include <cmath>

#include <algorithm>

#include <vector>

namespace
{

constexpr float dt = 1.0f / 75.0f;

struct Reports
{
    static inline std::vector<neCollisionReport> seen;
    static void collect(neCollisionReport* r) { seen.push_back(*r); }
};

// Two boxes meeting head on along x, A on the right moving left.
struct HeadOn
{
    TestSimulator t;
    neRigidBody* a;
    neRigidBody* b;

    explicit HeadOn(uint32_t flags)
    {
        Reports::seen.clear();
        t->collisionCallback = Reports::collect;
        t->groupResponse[0][0] = flags;
        a = dynamicBox(t, {0.95f, 0, 0}, {1, 1, 1}, 1.0f);
        b = dynamicBox(t, {0, 0, 0}, {1, 1, 1}, 1.0f);
        a->velocity = {-1, 0, 0};
        b->velocity = {1, 0, 0};
        t.step(dt);
    }
};

TEST(ContactStage, ResponseFlagsResolveAndReport)
{
    struct Case
    {
        uint32_t flags;
        bool resolved, reported;
    };
    for (const Case& c : {Case{3, true, true}, Case{1, true, false}, Case{2, false, true}, Case{0, false, false}}) {
        SCOPED_TRACE(c.flags);
        HeadOn h(c.flags);
        EXPECT_EQ(h.a->velocity.x > -1.0f, c.resolved) << h.a->velocity.x;
        EXPECT_EQ(h.b->velocity.x < 1.0f, c.resolved);
        ASSERT_EQ(Reports::seen.size(), c.reported ? 1u : 0u);
        if (!c.reported)
            continue;
        const neCollisionReport& r = Reports::seen[0];
        EXPECT_TRUE((r.bodyA == h.a && r.bodyB == h.b) || (r.bodyA == h.b && r.bodyB == h.a));
        EXPECT_EQ(r.typeA, uint32_t(neCollisionReport::rigid));
        EXPECT_EQ(r.typeB, uint32_t(neCollisionReport::rigid));
        EXPECT_EQ(r.geometryA, r.bodyA->geometryHead);
        // Each point on its own box's surface, in the box's frame.
        for (const vec3d& local : {r.localPointA, r.localPointB})
            EXPECT_NEAR(std::max({absFloat(local.x), absFloat(local.y), absFloat(local.z)}), 0.5f, 1e-5f);
        // The normal from B towards A.
        EXPECT_NEAR(r.normal.x, r.bodyA == h.a ? 1.0f : -1.0f, 1e-5f);
        // Approaching: A's point moves against the normal relative to B's; an
        // unresolved contact reports no velocity.
        if (c.resolved)
            EXPECT_NEAR(r.relativeVelocity.dot(r.normal), -2.0f, 1e-4f);
        else
            EXPECT_EQ(r.relativeVelocity, vec3d());
    }
}

TEST(ContactStage, PairsDecidedByTheTablesEveryStep)
{
    // Two bodies that overlap from the start while their groups answer 0:
    // no contact, until the table answers 1.
    TestSimulator t;
    Reports::seen.clear();
    t->collisionCallback = Reports::collect;
    t->groupResponse[1][2] = t->groupResponse[2][1] = 0;
    neRigidBody* a = t.box({0.8f, 0, 0});
    neRigidBody* b = t.box({0, 0, 0});
    a->collisionGroup = 1;
    b->collisionGroup = 2;
    t.step(dt);
    EXPECT_TRUE(Reports::seen.empty());
    EXPECT_EQ(a->velocity, vec3d());
    t->groupResponse[1][2] = t->groupResponse[2][1] = 3;
    t.step(dt);
    EXPECT_EQ(Reports::seen.size(), 1u);
}

TEST(ContactStage, TerrainContactsAndGroupsWithoutTerrain)
{
    TestSimulator t = TestGround::make();
    Reports::seen.clear();
    t->collisionCallback = Reports::collect;
    t->terrainResponse[0] = 3;
    TestGround::material = 12;
    neRigidBody* box = dynamicBox(t, {0, 0.45f, 0}, {1, 1, 1}, 1.0f);
    box->geometryHead->userData = 4;
    neRigidBody* ghost = dynamicBox(t, {5, 0.45f, 0}, {1, 1, 1}, 1.0f);
    ghost->collisionGroup = -1;
    t.step(dt);
    ASSERT_EQ(Reports::seen.size(), 1u);
    const neCollisionReport& r = Reports::seen[0];
    EXPECT_EQ(r.bodyA, box);
    EXPECT_EQ(r.bodyB, nullptr);
    EXPECT_EQ(r.typeB, uint32_t(neCollisionReport::terrain));
    EXPECT_EQ(r.geometryB, nullptr);
    EXPECT_EQ(r.userDataA, 4u);
    EXPECT_EQ(r.userDataB, 12u);
    EXPECT_NEAR(r.normal.y, 1.0f, 1e-5f);
    EXPECT_NEAR(r.worldPointB.y, 0.0f, 1e-5f); // on the ground
    EXPECT_NEAR(r.worldPointA.y, -0.05f, 1e-5f); // the box's corner in it
    // The box rests on the ground: a resting contact on the terrain's body.
    ASSERT_NE(box->stackElement, nullptr);
    EXPECT_EQ(box->stackElement->stack, &t->rootStack);
    // A body of no group falls through the ground.
    for (int i = 0; i < 60; ++i)
        t.step(dt);
    EXPECT_LT(ghost->position().y, -2.0f);
    EXPECT_NEAR(box->position().y, 0.5f, 0.02f);
    for (const neCollisionReport& seen : Reports::seen)
        EXPECT_NE(seen.bodyA, ghost);
}

struct Custom
{
    static inline int calls = 0;
    static int collide(neRigidBody* first, neRigidBody* second, neCustomCollision* result)
    {
        ++calls;
        result->normal = first->position().y > second->position().y ? vec3d(0, 1, 0) : vec3d(0, -1, 0);
        result->pointFirst = first->position() - result->normal * 0.5f;
        result->pointSecond = result->pointFirst + result->normal * 0.1f;
        result->depth = 0.1f;
        result->userDataFirst = result->userDataSecond = 7;
        return 1;
    }
    static int animated(neRigidBody* rigid, neAnimatedBody*, neCustomCollision* result)
    {
        ++calls;
        result->normal = {0, 1, 0}; // from the animated body towards the rigid one
        result->pointFirst = rigid->position();
        result->pointSecond = rigid->position();
        result->depth = 0.05f;
        return 1;
    }
};

TEST(ContactStage, CustomContactsAreResolvedNotReported)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    Reports::seen.clear();
    Custom::calls = 0;
    t->collisionCallback = Reports::collect;
    t->groupResponse[0][0] = 3;
    t->customCollisionCallback = Custom::collide;
    neRigidBody* upper = dynamicBox(t, {0, 0.9f, 0}, {1, 1, 1}, 1.0f);
    neRigidBody* lower = dynamicBox(t, {0, 0, 0}, {1, 1, 1}, 1.0f);
    upper->customCollision = 1;
    upper->velocity = {0, -1, 0};
    t.step(dt);
    EXPECT_EQ(Custom::calls, 1);
    EXPECT_TRUE(Reports::seen.empty());
    EXPECT_GT(upper->velocity.y, -1.0f); // resolved
    EXPECT_LT(lower->velocity.y, -0.2f);
    ASSERT_EQ(upper->contact.slots[2].kind, uint32_t(neRestingOnRigid)); // and it rests on the lower one
    EXPECT_EQ(upper->contact.slots[2].materials[0], 7u);

    // Without a callback a custom body meets nothing; with the animated one
    // the contact is seen from the pair's order.
    TestSimulator u{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    neRigidBody* rider = dynamicBox(u, {0, 0.95f, 0}, {1, 1, 1}, 1.0f);
    rider->customCollision = 1;
    neAnimatedBody* deck = u->createAnimatedBody();
    deck->addGeometry();
    deck->updateBounds();
    deck->moved = 1;
    u.step(dt);
    EXPECT_EQ(rider->contact.slots[2].kind, uint32_t(neRestingEmpty));
    u->customAnimatedCollisionCallback = Custom::animated;
    u.step(dt);
    EXPECT_EQ(rider->contact.slots[2].kind, uint32_t(neRestingOnAnimated));
    EXPECT_EQ(rider->contact.slots[2].partner, deck);
}

TEST(ContactStage, ContactsWithoutAFiniteDepthAreNotResolved)
{
    TestSimulator t;
    t->customCollisionCallback = [](neRigidBody*, neRigidBody*, neCustomCollision* result) {
        result->normal = {0, 1, 0};
        result->depth = std::nanf("");
        return 1;
    };
    neRigidBody* a = dynamicBox(t, {0, 0.9f, 0}, {1, 1, 1}, 1.0f);
    neRigidBody* b = dynamicBox(t, {0, 0, 0}, {1, 1, 1}, 1.0f);
    a->customCollision = 1;
    a->velocity = {0, -1, 0};
    t.step(dt);
    EXPECT_EQ(a->velocity, vec3d(0, -1, 0));
    EXPECT_EQ(b->velocity, vec3d());
    EXPECT_EQ(a->contact.slots[2].kind, uint32_t(neRestingEmpty));
}

TEST(ContactStage, RigidBodyOnAnAnimatedBodyIsTheUpperOneEitherWay)
{
    for (bool rigidFirst : {true, false}) {
        SCOPED_TRACE(rigidFirst);
        TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
        neRigidBody* box = dynamicBox(t, {0, 0.95f, 0}, {1, 1, 1}, 1.0f);
        neAnimatedBody* deck = t->createAnimatedBody();
        deck->addGeometry();
        deck->updateBounds();
        neRigidBodyBase* first = rigidFirst ? static_cast<neRigidBodyBase*>(box) : deck;
        neRigidBodyBase* second = rigidFirst ? static_cast<neRigidBodyBase*>(deck) : box;
        neCollisionResult r{};
        r.reset();
        neCollideBodies(r, first->collisionView(), second->collisionView(), *first->getTransform(),
                        *second->getTransform(), t->collisionScratch);
        ASSERT_EQ(r.collided, 1u);
        r.kind = neCollisionResult::collision;
        r.bodyA = first;
        r.bodyB = second;
        r.weight = 1.0f;
        t->respondToContact(r, first, second);
        ASSERT_EQ(box->contact.slots[2].kind, uint32_t(neRestingOnAnimated));
        EXPECT_EQ(box->contact.slots[2].partner, deck);
        EXPECT_NEAR(box->contact.slots[2].partnerNormal.y, 1.0f, 1e-5f); // up, in the deck's frame
        EXPECT_EQ(deck->restingOnThis.count, 1);
    }
}

TEST(ContactStage, ParticleIsPushedOutOfTheOverlap)
{
    neSimulatorSizes sizes = TestSimulator::gameSizes();
    sizes.rigidParticlesCount = 2;
    TestSimulator t(sizes);
    neRigidBody* box = t.box({0, 0, 0});
    neRigidBody* particle = t->rigidParticles.take();
    particle->reset();
    particle->particle = 1;
    particle->simulator = t.sim.get();
    particle->addGeometry()->setSphere(0.2f);
    particle->updateBounds();
    particle->setPose(translation({0, 0.6f, 0}));
    particle->velocity = {0, -1, 0};
    neCollisionResult r{};
    r.reset();
    neCollideBodies(r, box->collisionView(), particle->collisionView(), box->state().transform,
                    particle->state().transform, t->collisionScratch);
    ASSERT_EQ(r.collided, 1u);
    r.kind = neCollisionResult::collision;
    r.bodyA = box;
    r.bodyB = particle;
    r.weight = 1.0f;
    t->respondToContact(r, box, particle);
    EXPECT_NEAR(particle->position().y, 0.7f, 1e-5f); // by the depth, away from the box
    EXPECT_GT(particle->velocity.y, -1.0f);
}

TEST(ContactStage, SensorsSeeBoxesAndTerrainOnly)
{
    TestSimulator t = TestGround::make();
    TestGround::material = 5;
    neRigidBody* probe = t->createRigidBody();
    probe->gravityOn = 0;
    probe->addGeometry()->setSphere(0.1f);
    neSensor* down = t->sensors.take();
    *down = neSensor{};
    down->inUse = 1;
    down->start = {0, 0, 0};
    down->vector = {0, -2, 0};
    down->length = 2.0f;
    probe->sensorHead = down;
    probe->updateBounds();
    probe->setPose(translation({0.3f, 1.5f, 0.2f}));
    // The sensor's hit of the step, as the body's controller sees it.
    struct Reader : neRigidBodyControllerCallback
    {
        neSensor seen{};
        void onControllerStep(neController* c, float) override { seen = *c->body->sensorHead; }
    } reader;
    probe->addController(&reader);
    const neSensor& seen = reader.seen;
    t.step(dt);
    EXPECT_NEAR(seen.depth, 0.5f, 1e-4f); // the ground 1.5 below, on a segment of 2
    EXPECT_EQ(seen.detected, nullptr);
    EXPECT_NEAR(seen.point.y, 0.0f, 1e-5f);
    EXPECT_NEAR(seen.normal.y, 1.0f, 1e-5f);
    EXPECT_EQ(seen.userData, 5u);
    EXPECT_EQ(down->depth, 0.0f); // gone once the body has moved on

    // A box between the probe and the ground: its top face, entered half way.
    neAnimatedBody* crate = t->createAnimatedBody();
    neGeometry* lid = crate->addGeometry();
    lid->setBoxSize(1, 1, 1);
    lid->userData = 9;
    crate->updateBounds();
    crate->transform = translation({0, 0, 0});
    crate->moved = 1;
    // A sphere the segment also crosses is not seen.
    neAnimatedBody* ball = t->createAnimatedBody();
    ball->addGeometry()->setSphere(0.3f);
    ball->updateBounds();
    ball->transform = translation({0.3f, 1.0f, 0.2f});
    ball->moved = 1;
    t.step(dt);
    EXPECT_NEAR(seen.depth, 1.0f, 1e-4f); // the lid half way down
    EXPECT_EQ(seen.detected, crate);
    EXPECT_NEAR(seen.normal.y, 1.0f, 1e-5f);
    EXPECT_EQ(seen.userData, 9u);
}

// The mesh's nodes hold every triangle, the last of a count one past a
// full node too: a box dropped on it alone comes to rest on it.
TEST(ContactStage, StaticTerrainMeshHoldsItsLastTriangle)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    std::vector<vec3d> vertices;
    std::vector<neTriangle> triangles;
    for (int32_t i = 0; i < 17; ++i) {
        // Sixteen small triangles far away, the last one under the box.
        const float x = i < 16 ? 100.0f + 3.0f * float(i) : 0.0f, size = i < 16 ? 1.0f : 10.0f;
        const int32_t first = int32_t(vertices.size());
        vertices.insert(vertices.end(), {{x - size, 0, -size}, {x - size, 0, size}, {x + size, 0, 0}});
        triangles.push_back({{first, first + 1, first + 2}, 0, 0, nullptr});
    }
    ASSERT_TRUE(t->setTerrainMesh({vertices.data(), int32_t(vertices.size()), triangles.data(), int32_t(triangles.size())}));
    neRigidBody* box = dynamicBox(t, {0, 0.6f, 0}, {1, 1, 1}, 1.0f);
    for (int i = 0; i < 150; ++i)
        t.step(dt);
    EXPECT_NEAR(box->position().y, 0.5f, 0.02f);
}

TEST(ContactStage, StaticTerrainMeshWithoutAQuery)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    const std::vector<vec3d> vertices = {{-10, 0, -10}, {10, 0, -10}, {-10, 0, 10}, {10, 0, 10}, {30, 0, 30}};
    const std::vector<neTriangle> triangles = {{{0, 2, 1}, 3, 0, nullptr}, {{1, 2, 3}, 3, 0, nullptr},
                                               {{1, 2, 9}, 3, 0, nullptr}}; // past the vertices: no triangle
    ASSERT_TRUE(t->setTerrainMesh({vertices.data(), int32_t(vertices.size()), triangles.data(), int32_t(triangles.size())}));
    neRigidBody* box = dynamicBox(t, {1, 0.6f, 2}, {1, 1, 1}, 1.0f);
    for (int i = 0; i < 150 && box->restState != neAtRest; ++i)
        t.step(dt);
    EXPECT_EQ(box->restState, neAtRest);
    EXPECT_NEAR(box->position().y, 0.5f, 0.02f);
    // Removed again (a mesh of no triangles is none): a box lifted off its
    // old supports falls through.
    ASSERT_TRUE(t->setTerrainMesh({vertices.data(), int32_t(vertices.size()), triangles.data(), 0}));
    box->setPose(translation({1, 1.5f, 2}));
    for (int i = 0; i < 60; ++i)
        t.step(dt);
    EXPECT_LT(box->position().y, 0.0f);
}

} // namespace
