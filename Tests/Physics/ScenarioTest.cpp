#include "ScenarioSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace
{

constexpr float dt = 1.0f / 75.0f;

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
