#include "ScenarioSupport.h"

#include "Physics/PhysicsManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace
{

constexpr float dt = 1.0f / 75.0f;

// How far the lowest corner of the body's boxes stands above the ground straight beneath it.
float lowestOverGround(neRigidBody& body)
{
    const matrix3d& world = body.state().transform;
    float lowest = 1e30f;
    for (const neGeometry* g = body.geometryHead; g; g = g->next)
        for (int k = 0; k < 8; ++k) {
            vec3d corner = neFromFrame(world, g->position());
            for (int i = 0; i < 3; ++i)
                corner += neAxis(world, i) * ((k >> i & 1) ? g->halfExtents()[i] : -g->halfExtents()[i]);
            lowest = std::min(lowest, corner.y - TestGround::height(corner.x));
        }
    return lowest;
}

// Boxes as the game makes its bodies (turning like a cube of their largest
// half size) on ground of three-unit cells, as the terrain gives it, after
// 5 s at every step length the physics manager takes at 60 down to 5 frames
// a second: on the ground within half their thickness, and, started at
// rest, where they settled. The hollow is an off-road course's: a floor 80
// wide between 45 degree walls; a gate's two posts stand 75.6 apart.
TEST(Scenario, BodiesStayOnTheGroundAtEveryStepLengthOfTheGame)
{
    struct Row
    {
        std::string name;
        vec3d size; // of the box, or of each post
        float mass, floorHalf; // floorHalf 0: flat ground
        vec3d at, velocity;
        std::vector<float> boxes = {0.0f}; // the boxes' middles along x
    };
    const vec3d quad{1.0f, 0.36f, 1.8f}, large{4.5f, 1.8f, 8.5f}, post{8.4f, 84.0f, 0.84f};
    const std::vector<float> gate = {-37.8f, 37.8f};
    std::vector<Row> rows = {{"quad box resting", quad, 250.0f, 0.0f, {0.3f, 0.18f, 0.2f}, {}},
                             {"quad box dropped at 30", quad, 250.0f, 0.0f, {0.3f, 2.0f, 0.2f}, {0, -30, 0}},
                             {"large box resting", large, 1500.0f, 0.0f, {0.3f, 0.9f, 0.2f}, {}},
                             {"large box sliding at 60", large, 1500.0f, 0.0f, {0.3f, 0.9f, 0.2f}, {48, 0, 36}},
                             {"gate with its posts 2 into the walls", post, 0.5f, 40.0f, {0.0f, 42.0f, 0.3f}, {}, gate},
                             {"gate on a floor clear of the walls", post, 0.5f, 45.0f, {0.0f, 42.0f, 0.3f}, {}, gate}};
    for (const float speed : {5.0f, 20.0f, 40.0f, 60.0f}) {
        rows.push_back({"quad box sliding at " + std::to_string(speed), quad, 250.0f, 0.0f, {0.3f, 0.18f, 0.2f},
                        vec3d(0.8f, 0.0f, 0.6f) * speed});
        rows.push_back({"quad box into the wall at " + std::to_string(speed), quad, 250.0f, 40.0f, {30.0f, 0.18f, 0.2f},
                        {speed, 0.0f, 0.0f}});
    }
    using Manager = EntityManager::PhysicsManager;
    for (const Row& row : rows)
        for (const float fps : {60.0f, 45.0f, 35.0f, 32.0f, 31.0f, 30.0f, 25.0f, 20.0f, 15.0f, 10.0f, 7.0f, 5.0f}) {
            // A frame cut into pieces of at most longestBatch, each three steps of 1.4 times its length.
            const float frame = std::max(1.0f / fps, Manager::shortestFrame);
            const float step = frame / std::ceil(frame / Manager::longestBatch - 1e-3f) * 1.4f;
            SCOPED_TRACE(row.name + ", steps of " + std::to_string(step));
            TestSimulator t = TestGround::make();
            TestGround::floorHalf = row.floorHalf;
            TestGround::cell = 3.0f;
            neRigidBody* body = t->createRigidBody();
            for (const float x : row.boxes) {
                neGeometry* g = body->addGeometry();
                g->setBoxSize(row.size.x, row.size.y, row.size.z);
                neSetRow(g->transform, 3, {x, 0.0f, 0.0f});
            }
            body->updateBounds();
            body->mass = row.mass;
            body->inverseMass = 1.0f / row.mass;
            const vec3d half = row.size * 0.5f + vec3d(row.boxes.back(), 0.0f, 0.0f);
            body->setInertiaTensor(cubeInertiaTensor(half.x, half.y, half.z, row.mass));
            body->setPose(translation(row.at));
            body->updateDerived();
            body->velocity = row.velocity;
            vec3d settled; // after a second
            const int batches = int(5.0f / (3.0f * step) + 0.5f);
            for (int batch = 0; batch < batches; ++batch) {
                t->advanceThreeSteps(nullptr, 3.0f * step);
                if (batch == batches / 5)
                    settled = body->position();
            }
            const float thickness = std::min({row.size.x, row.size.y, row.size.z});
            EXPECT_GT(lowestOverGround(*body), -0.5f * thickness) << "under the ground";
            EXPECT_LT(lowestOverGround(*body), 0.5f * thickness) << "off the ground";
            if (row.velocity.lengthSq() == 0.0f && row.floorHalf != 40.0f) {
                EXPECT_LT((settled - row.at).length(), 0.05f) << "it moved as it settled";
                EXPECT_LT((body->position() - settled).length(), 0.01f) << "it moved at rest";
            }
        }
}

TEST(Scenario, BoxDroppedOnAPlaneComesToRestAndStays)
{
    TestSimulator t = TestGround::make();
    neRigidBody* box = dynamicBox(t, {0.2f, 0.6f, -0.3f}, {1, 1, 1}, 1.0f);
    int steps = 0;
    while (box->restState != neAtRest && steps < 2000) {
        t.step(dt);
        ++steps;
    }
    ASSERT_EQ(box->restState, neAtRest) << "after " << steps << " steps";
    const vec3d rested = box->position();
    EXPECT_NEAR(rested.y, 0.5f, 0.02f);
    for (int i = 0; i < 2000; ++i)
        t.step(dt);
    EXPECT_LT((box->position() - rested).length(), 0.001f);
}

TEST(Scenario, StackOfFiveSettlesAndStays)
{
    TestSimulator t = TestGround::make();
    std::vector<neRigidBody*> boxes;
    for (int i = 0; i < 5; ++i)
        boxes.push_back(dynamicBox(t, {0.01f * float(i), 0.5f + 1.02f * float(i), 0}, {1, 1, 1}, 1.0f));
    int steps = 0;
    const auto allRest = [&] {
        for (neRigidBody* b : boxes)
            if (b->restState != neAtRest)
                return false;
        return true;
    };
    while (!allRest() && steps < 3000) {
        t.step(dt);
        ++steps;
    }
    ASSERT_TRUE(allRest()) << "after " << steps << " steps";
    const vec3d top = boxes.back()->position();
    EXPECT_NEAR(top.y, 4.5f, 0.1f);
    for (int i = 0; i < 2000; ++i)
        t.step(dt);
    EXPECT_LT((boxes.back()->position() - top).length(), 0.01f);
}

// A sphere never rests on its one contact; the resting contacts keep it
// from sinking into the ground step by step.
TEST(Scenario, SphereOnFlatGroundStaysOnIt)
{
    TestSimulator t = TestGround::make();
    neRigidBody* ball = t->createRigidBody();
    ball->addGeometry()->setSphere(0.5f);
    ball->updateBounds();
    ball->setInertiaTensor({0.1f, 0.1f, 0.1f});
    ball->setPose(translation({0.3f, 0.49f, 0.2f}));
    for (int i = 0; i < 300; ++i)
        t.step(dt);
    EXPECT_NEAR(ball->position().y, 0.5f, 0.015f);
}

TEST(Scenario, SphereRollsDownASlopeAtFiveSeventhsOfGSinTheta)
{
    const float theta = 20.0f * 3.1415927f / 180.0f;
    TestSimulator t = TestGround::make(-std::tan(theta));
    const float r = 0.5f, m = 2.0f;
    neRigidBody* ball = t->createRigidBody();
    ball->addGeometry()->setSphere(r);
    ball->updateBounds();
    ball->mass = m;
    ball->inverseMass = 1.0f / m;
    const float inertia = 0.4f * m * r * r;
    ball->setInertiaTensor({inertia, inertia, inertia});
    const vec3d normal{std::sin(theta), std::cos(theta), 0};
    const vec3d down{std::cos(theta), -std::sin(theta), 0};
    const vec3d start = normal * (r - 0.002f);
    ball->setPose(translation(start));
    ball->updateDerived();
    const int steps = 75;
    for (int i = 0; i < steps; ++i)
        t.step(dt);
    const float time = steps * dt;
    const float a = 5.0f / 7.0f * 9.81f * std::sin(theta);
    const float travelled = (ball->position() - start).dot(down);
    EXPECT_NEAR(travelled, 0.5f * a * time * time, 0.05f * 0.5f * a * time * time);
    EXPECT_NEAR(ball->velocity.dot(down), a * time, 0.05f * a * time);
    // Rolling: the contact point stands still.
    EXPECT_NEAR(ball->velocity.dot(down), -ball->angularVelocity.z * r, 0.05f * a * time);
}

// A joint from the simulator's pools: the engine makes none itself.
neConstraint* makeJoint(TestSimulator& t, neRigidBody* a, neRigidBodyBase* b, uint32_t type)
{
    neConstraintGroup* group = t->constraintGroups.takeListed();
    neConstraint* c = t->constraints.take();
    const uint8_t inUse = c->inUse;
    *c = neConstraint{};
    c->inUse = inUse;
    c->simulator = t.sim.get();
    c->bodyA = a;
    c->bodyB = b;
    c->type = type;
    c->enabled = 1;
    c->iterations = -1;
    c->frameA = c->frameB = matrix3d::identity();
    group->first = c;
    group->appendMember(a);
    if (b && b->isRigid())
        group->appendMember(b);
    return c;
}

matrix3d frame(vec3d x, vec3d y, vec3d at)
{
    matrix3d m = matrix3d::identity();
    neSetRow(m, 0, x);
    neSetRow(m, 1, y);
    neSetRow(m, 2, x.cross(y));
    neSetRow(m, 3, at);
    return m;
}

TEST(Scenario, HingedBarSwingsBetweenItsLimits)
{
    TestSimulator t = TestGround::make();
    const vec3d pivot{0, 5, 0};
    const float start = 0.5f; // tilted up by the limit
    neRigidBody* bar = dynamicBox(t, {}, {2.0f, 0.1f, 0.1f}, 1.0f);
    bar->setPose(rotation({0, 0, 1}, start, pivot + vec3d(std::cos(start), std::sin(start), 0)));
    bar->updateDerived();
    neConstraint* hinge = makeJoint(t, bar, nullptr, neHinge);
    hinge->frameA = frame({1, 0, 0}, {0, 0, 1}, {-1, 0, 0});
    hinge->frameB = frame({1, 0, 0}, {0, 0, 1}, pivot);
    hinge->pointCount = 2;
    hinge->pointOffsets[0] = {0, 0, 0}; // the pivot, and one along the hinge axis
    hinge->pointOffsets[1] = {0, 1, 0};
    hinge->limit.enabled = 1;
    hinge->limit.lower = -0.5f;
    hinge->limit.upper = 0.5f;
    float lowest = 1.0f, highest = -1.0f, worstAnchor = 0.0f;
    for (int i = 0; i < 600; ++i) {
        t.step(dt);
        hinge->update();
        const float angle = hinge->measure[1];
        lowest = std::min(lowest, angle);
        highest = std::max(highest, angle);
        worstAnchor = std::max(worstAnchor, (hinge->worldPointsA[0] - hinge->worldPointsB[0]).length());
        worstAnchor = std::max(worstAnchor, (hinge->worldPointsA[1] - hinge->worldPointsB[1]).length());
    }
    EXPECT_GT(highest, 0.45f); // it swung over to the other limit
    EXPECT_LT(highest, 0.55f);
    EXPECT_GT(lowest, -0.55f);
    EXPECT_LT(worstAnchor, 0.02f);
}

// A scene of boxes, spheres and cylinders falling into a heap on a slope.
uint64_t runScene(int steps)
{
    TestSimulator t = TestGround::make(-0.1f);
    std::mt19937 random(99);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<neRigidBody*> bodies;
    for (int i = 0; i < 30; ++i) {
        neRigidBody* b = t->createRigidBody();
        neGeometry* g = b->addGeometry();
        switch (i % 3) {
        case 0: g->setBoxSize(0.5f + 0.3f * u(random), 0.5f, 0.6f); break;
        case 1: g->setSphere(0.3f + 0.1f * u(random)); break;
        default: g->setCylinder(0.2f, 0.3f); break;
        }
        b->updateBounds();
        b->setInertiaTensor(cubeInertiaTensor(0.4f, 0.4f, 0.4f, 1.0f));
        b->setPose(rotation({u(random), u(random), 1.0f}, u(random) * 3.0f, {u(random) * 1.5f, 1.0f + float(i) * 0.4f, u(random) * 1.5f}));
        b->updateDerived();
        bodies.push_back(b);
    }
    for (int i = 0; i < steps; ++i)
        t.step(dt);
    // FNV-1a over every body's pose and velocities, bit for bit.
    uint64_t hash = 1469598103934665603ull;
    const auto mix = [&](const void* data, size_t size) {
        for (size_t k = 0; k < size; ++k) {
            hash ^= static_cast<const unsigned char*>(data)[k];
            hash *= 1099511628211ull;
        }
    };
    for (neRigidBody* b : bodies) {
        mix(b->state().transform.m, sizeof(b->state().transform.m));
        mix(&b->velocity, sizeof(b->velocity));
        mix(&b->angularVelocity, sizeof(b->angularVelocity));
        mix(&b->restState, sizeof(b->restState));
    }
    return hash;
}

TEST(Scenario, SameSceneSameState)
{
    EXPECT_EQ(runScene(500), runScene(500));
}

} // namespace
