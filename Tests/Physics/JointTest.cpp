#include "ScenarioSupport.h"

#include <gtest/gtest.h>

namespace
{

constexpr float dt = 1.0f / 75.0f;

// A joint from the simulator's pools in a group of its own: the engine makes none itself.
neConstraint* makeJoint(TestSimulator& t, neRigidBody* a, neRigidBodyBase* b, uint32_t type,
                        neConstraintGroup* group = nullptr)
{
    if (!group) {
        group = t->constraintGroups.takeListed();
        group->appendMember(a);
        if (b && b->isRigid())
            group->appendMember(b);
    }
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
    c->pointCount = 1;
    c->nextInGroup = group->first;
    group->first = c;
    return c;
}

TEST(Joint, GroupToleranceAndIterations)
{
    TestSimulator t;
    neRigidBody* a = t.box({});
    neRigidBody* b = t.box({0, 2, 0});
    neConstraint* first = makeJoint(t, a, b, neBallJoint);
    neConstraintGroup* group = a->constraintGroup;
    neConstraint* second = makeJoint(t, a, nullptr, neBallJoint, group);
    second->frameB = translation({0, 0.3f, 0}); // held 0.3 above A's centre
    float tolerance;
    int32_t iterations;
    group->buildRows(tolerance, iterations);
    EXPECT_EQ(tolerance, -1.0f);
    EXPECT_EQ(iterations, -1);
    EXPECT_EQ(group->built, 1u);
    EXPECT_EQ(t->rows.count(), 2);
    first->tolerance = 0.5f;
    second->tolerance = 0.2f;
    first->iterations = 6;
    second->enabled = 0; // a disabled joint counts for nothing
    t->rows.clear();
    group->buildRows(tolerance, iterations);
    EXPECT_EQ(tolerance, 0.5f);
    EXPECT_EQ(iterations, 6);
    EXPECT_EQ(t->rows.count(), 1);
    second->enabled = 1;
    t->rows.clear();
    group->buildRows(tolerance, iterations);
    EXPECT_EQ(tolerance, 0.2f);
    // Point rows: arms from each body, the separation as error.
    const neCollisionResult& row = t->rows[0]; // the last joint made is the group's first
    EXPECT_EQ(row.kind, uint32_t(neCollisionResult::point));
    EXPECT_EQ(row.bodyA, a);
    EXPECT_EQ(row.bodyB, nullptr);
    EXPECT_EQ(row.pointB, vec3d(0, 0.3f, 0)); // the world point, without B
    EXPECT_EQ(row.error, vec3d(0, -0.3f, 0));
    EXPECT_NEAR(row.depth, 0.3f, 1e-4f);
}

TEST(Joint, DampingBrakesTheRelativeTurning)
{
    TestSimulator t;
    neRigidBody* a = t.box({});
    neRigidBody* b = t.box({3, 0, 0});
    a->angularVelocity = {1, 2, 3};
    b->angularVelocity = {0, 0, 1};
    neConstraint* ball = makeJoint(t, a, nullptr, neBallJoint);
    ball->damping = 0.5f;
    ball->dampRotation();
    EXPECT_EQ(a->totalTorque, vec3d(-0.5f, -1.0f, -1.5f)); // to the world: A's own turning
    a->totalTorque = {};
    // A hinge about z brakes only the turning about z, A's less B's.
    neConstraint* hinge = makeJoint(t, a, b, neHinge, a->constraintGroup);
    a->constraintGroup->appendMember(b);
    hinge->frameA = rotation({1, 0, 0}, -1.5707964f); // y onto world z
    hinge->frameB = rotation({1, 0, 0}, -1.5707964f);
    hinge->damping = 0.5f;
    hinge->dampRotation();
    EXPECT_NEAR(a->totalTorque.z, -1.0f, 1e-4f);
    EXPECT_NEAR(a->totalTorque.x, 0.0f, 1e-4f);
    EXPECT_NEAR(b->totalTorque.z, 1.0f, 1e-4f);
}

TEST(Joint, HingeMotorTurnsAtItsSpeed)
{
    TestSimulator t;
    neRigidBody* wheel = dynamicBox(t, {}, {1, 0.2f, 1}, 2.0f);
    neConstraint* hinge = makeJoint(t, wheel, nullptr, neHinge);
    hinge->pointCount = 2;
    hinge->pointOffsets[1] = {0, 1, 0};
    hinge->motor.enabled = 1;
    hinge->motor.targetSpeed = 1.5f;
    hinge->motor.maximum = 100.0f;
    for (int i = 0; i < 30; ++i)
        t.step(dt);
    hinge->update();
    const float before = hinge->measure[0];
    t.step(dt);
    hinge->update();
    // The measure grows at the motor's speed.
    EXPECT_NEAR(hinge->measure[0] - before, 1.5f * dt, 0.1f * 1.5f * dt);

    // A weak motor gives no more than its maximum per step.
    TestSimulator u;
    neRigidBody* heavy = dynamicBox(u, {}, {1, 0.2f, 1}, 2.0f);
    neConstraint* weak = makeJoint(u, heavy, nullptr, neHinge);
    weak->pointCount = 2;
    weak->pointOffsets[1] = {0, 1, 0};
    weak->motor.enabled = 1;
    weak->motor.targetSpeed = 100.0f;
    weak->motor.maximum = 0.5f;
    u.step(dt);
    EXPECT_NEAR(heavy->state().angularMomentum.length(), 0.5f * dt * 8.0f, 1e-4f); // 4 sweeps, 2 passes
}

TEST(Joint, SlideStopsAtItsLimit)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    neRigidBody* carriage = dynamicBox(t, {0, 1, 0}, {0.5f, 0.5f, 0.5f}, 1.0f);
    neConstraint* slide = makeJoint(t, carriage, nullptr, neSlide);
    slide->frameB = translation({0, 1, 0});
    slide->pointCount = 3;
    slide->pointOffsets[1] = {1, 0, 0};
    slide->pointOffsets[2] = {0, 0, 1};
    slide->limit.enabled = 1;
    slide->limit.lower = -0.5f;
    slide->limit.upper = 0.5f;
    for (int i = 0; i < 150; ++i)
        t.step(dt);
    // Down along the rail to the lower limit, and no further.
    EXPECT_NEAR(carriage->position().y, 0.5f, 0.06f);
    EXPECT_NEAR(carriage->position().x, 0.0f, 0.01f);
    EXPECT_NEAR(carriage->position().z, 0.0f, 0.01f);
}

TEST(Joint, TwistAndSwingLimitRows)
{
    TestSimulator t;
    neRigidBody* a = t.box({});
    a->updateDerived();
    neConstraint* ball = makeJoint(t, a, nullptr, neBallJoint);
    ball->frameB = rotation({1, 0, 0}, 0.5f); // B twisted about the shared x axis
    ball->twistLimit.enabled = 1;
    ball->twistLimit.lower = 0.3f;
    ball->update();
    EXPECT_EQ(ball->measure[0], 0.0f); // no swing
    ball->buildRows();
    ASSERT_EQ(t->rows.count(), 2);
    const neCollisionResult& twist = t->rows[0];
    EXPECT_EQ(twist.kind, uint32_t(neCollisionResult::twistLimit));
    EXPECT_NEAR(twist.depth, -0.2f, 1e-4f);
    EXPECT_EQ(ball->twistLimit.active, 1u);
    EXPECT_FLOAT_EQ(twist.effectiveMass, 1.0f); // A's unit inertia about its x axis, to the world

    // A swing past the limit: one angular row along the turned-round swing axis.
    t->rows.clear();
    ball->twistLimit.enabled = 0;
    ball->frameB = rotation({0, 0, 1}, 0.8f);
    ball->limit.enabled = 1;
    ball->limit.upper = 0.6f;
    ball->update();
    EXPECT_NEAR(ball->measure[0], 0.8f, 1e-4f);
    ball->buildRows();
    ASSERT_EQ(t->rows.count(), 2);
    EXPECT_EQ(t->rows[0].kind, uint32_t(neCollisionResult::angularLimit));
    EXPECT_NEAR(t->rows[0].depth, 0.2f, 1e-4f);
    EXPECT_NEAR(t->rows[0].axis.z, -1.0f, 1e-4f);
    EXPECT_NEAR(t->rows[0].effectiveMass, 1.0f, 1e-4f);
}

TEST(Joint, HingeLimitRowsOnEitherSide)
{
    TestSimulator t;
    neRigidBody* a = t.box({});
    neConstraint* hinge = makeJoint(t, a, nullptr, neHinge);
    hinge->frameA = hinge->frameB = rotation({1, 0, 0}, -1.5707964f); // the hinge axis along world z
    hinge->limit.enabled = 1;
    hinge->limit.lower = -0.6f;
    hinge->limit.upper = 0.6f;
    struct Case
    {
        float turn; // of A about z
        bool active;
        uint32_t atLower;
        float violation;
    };
    for (const Case& c : {Case{0.8f, true, 0, 0.2f}, Case{-0.7f, true, 1, -0.1f}, Case{0.3f, false, 0, 0.0f}}) {
        SCOPED_TRACE(c.turn);
        a->setPose(rotation({0, 0, 1}, c.turn));
        t->rows.clear();
        hinge->update();
        hinge->buildRows();
        EXPECT_EQ(hinge->limit.active, uint32_t(c.active));
        EXPECT_EQ(t->rows.count(), c.active ? 2 : 1);
        if (!c.active)
            continue;
        EXPECT_EQ(hinge->limit.atLower, c.atLower);
        EXPECT_NEAR(hinge->limit.violation, c.violation, 1e-4f);
        EXPECT_EQ(t->rows[0].kind, uint32_t(neCollisionResult::angularLimit));
        EXPECT_NEAR(t->rows[0].depth, c.violation, 1e-4f);
    }
}

TEST(Joint, ControllersOfAJointPushBothBodies)
{
    TestSimulator t;
    neRigidBody* a = t.box({});
    neRigidBody* b = t.box({0, 3, 0});
    neConstraint* joint = makeJoint(t, a, b, neBallJoint);
    struct Push : neRigidBodyControllerCallback
    {
        int calls = 0;
        void onControllerStep(neController* c, float) override
        {
            ++calls;
            c->force = {1, 0, 0};
            c->forceB = {0, 2, 0};
            c->torqueB = {0, 0, 3};
        }
    } push;
    neController* c = t->controllers.take();
    *c = neController{};
    c->inUse = 1;
    c->constraintCallback = &push;
    c->constraint = joint;
    c->period = 1;
    joint->controllers.pushBack(c);
    joint->stepControllers();
    EXPECT_EQ(push.calls, 1);
    EXPECT_EQ(a->controllerForce, vec3d(1, 0, 0));
    EXPECT_EQ(b->controllerForce, vec3d(0, 2, 0));
    EXPECT_EQ(b->controllerTorque, vec3d(0, 0, 3));
    joint->stepControllers(); // counting down: no call, the force still acts
    EXPECT_EQ(push.calls, 1);
    EXPECT_EQ(a->controllerForce, vec3d(2, 0, 0));
}

} // namespace
