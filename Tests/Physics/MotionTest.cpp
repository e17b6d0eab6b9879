#include "PhysicsTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

constexpr float dt = 1.0f / 75.0f;

TEST(Motion, FreeFallFollowsHalfGTSquared)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    neRigidBody* b = t.box({0, 100, 0});
    b->mass = 3.0f;
    b->inverseMass = 1.0f / 3.0f;
    for (int i = 0; i < 300; ++i)
        t.step(dt);
    const float time = 300 * dt;
    const float fallen = 100.0f - b->position().y;
    EXPECT_NEAR(fallen, 0.5f * 9.81f * time * time, 0.01f * 0.5f * 9.81f * time * time);
    EXPECT_NEAR(b->velocity.y, -9.81f * time, 0.01f * 9.81f * time);
    EXPECT_EQ(b->position().x, 0.0f);
}

TEST(Motion, FreeSpinAboutAPrincipalAxisKeepsMomentum)
{
    TestSimulator t;
    neRigidBody* b = t.box({});
    b->setInertiaTensor({1.0f, 2.0f, 3.0f});
    // The body's y axis points along world x; spin about it.
    b->setPose(rotation({0, 0, 1}, -1.5707964f));
    b->updateDerived();
    const float omega = 1.5f;
    b->setAngularMomentum({2.0f * omega, 0, 0});
    EXPECT_NEAR(b->angularVelocity.x, omega, 1e-4f);
    EXPECT_NEAR(b->angularVelocity.y, 0.0f, 1e-4f);
    const int steps = 150;
    for (int i = 0; i < steps; ++i)
        t.step(dt);
    const vec3d l = b->state().angularMomentum;
    EXPECT_NEAR(l.x, 2.0f * omega, 1e-4f);
    EXPECT_NEAR(l.y, 0.0f, 1e-4f);
    EXPECT_NEAR(l.z, 0.0f, 1e-4f);
    const quaternion& q = b->state().orientation;
    EXPECT_NEAR(q.dot(q), 1.0f, 1e-5f);
    // The body's x axis turned about world x by omega t, from (0, -1, 0).
    const float angle = omega * steps * dt;
    const vec3d x = neAxis(b->state().transform, 0);
    EXPECT_NEAR(x.y, -std::cos(angle), 2e-3f);
    EXPECT_NEAR(x.z, -std::sin(angle), 2e-3f);
}

// A constant torque about a principal axis turns the body by T t^2 / (2 I);
// the orientation steps with the momentum at the end of each step, so N steps
// give (N + 1) / N of that. Within the step the solver sees the angular
// velocity of the momentum half a step on.
TEST(Motion, ConstantTorqueFollowsTheClosedForm)
{
    TestSimulator t;
    neRigidBody* b = t.box({});
    b->setInertiaTensor({1.0f, 2.0f, 3.0f});
    b->setPose(rotation({0, 0, 1}, -1.5707964f)); // the body's y axis along world x
    b->updateDerived();
    const float torque = 0.8f;
    b->externalTorque = {torque, 0, 0};
    const int steps = 300;
    for (int i = 0; i < steps; ++i)
        t.step(dt);
    const float time = steps * dt;
    EXPECT_NEAR(b->state().angularMomentum.x, torque * time, 1e-3f);
    EXPECT_NEAR(b->state().angularMomentum.y, 0.0f, 1e-4f);
    const float angle = torque * time * time / (2.0f * 2.0f);
    const vec3d x = neAxis(b->state().transform, 0); // (0, -1, 0) turned about world x
    const float turned = std::atan2(-x.z, -x.y);
    const float wrapped = angle - 2.0f * 3.1415927f * std::round(angle / (2.0f * 3.1415927f));
    EXPECT_NEAR(turned, wrapped, 0.01f * angle);
    EXPECT_NEAR(x.x, 0.0f, 1e-3f);

    b->totalForce = b->totalTorque = {};
    const float momentum = b->state().angularMomentum.x;
    b->advanceVelocity(dt);
    EXPECT_NEAR(b->angularVelocity.x, (momentum + torque * dt * 0.5f) / 2.0f, 1e-4f);
    EXPECT_NEAR(b->state().angularMomentum.x, momentum + torque * dt, 1e-4f);
}

struct CountingController : neRigidBodyControllerCallback
{
    std::vector<uint32_t> calls;
    uint32_t* stepCounter = nullptr;
    vec3d force;
    void onControllerStep(neController* c, float) override
    {
        calls.push_back(*stepCounter + 1);
        c->force = force;
    }
};

// The solver works with the angular velocity of the middle of the step.
TEST(Motion, TumblingBodyGetsItsMidStepAngularVelocity)
{
    TestSimulator t;
    neRigidBody* b = t.box({});
    b->setInertiaTensor({1, 2, 3});
    b->setPose(rotation({1, 2, 3}, 0.8f));
    b->updateDerived();
    b->setAngularMomentum({4, 6, -5});
    t.step(dt);
    const vec3d before = b->angularVelocity;
    b->totalForce = b->totalTorque = {};
    b->advanceVelocity(dt);
    const vec3d middle = b->angularVelocity;
    b->advancePosition(dt);
    const vec3d after = b->angularVelocity;
    const vec3d average = (before + after) * 0.5f;
    EXPECT_GT((after - before).length(), 0.1f); // it really tumbles
    EXPECT_LT((middle - average).length(), 0.01f) << (middle - average).length();
    EXPECT_NEAR(b->state().angularMomentum.y, 6.0f, 1e-5f);
}

TEST(Motion, ControllerPeriodAndForce)
{
    TestSimulator t;
    neRigidBody* b = t.box({});
    b->mass = 2.0f;
    b->inverseMass = 0.5f;
    CountingController cb;
    cb.stepCounter = &t->stepCount;
    cb.force = {4.0f, 0, 0};
    neController* c = b->addController(&cb);
    ASSERT_NE(c, nullptr);
    c->period = 2;
    // The constant force accelerates the body at F / m from the step after the first call.
    for (int i = 0; i < 9; ++i)
        t.step(dt);
    EXPECT_EQ(cb.calls, (std::vector<uint32_t>{1, 4, 7}));
    EXPECT_NEAR(b->velocity.x, 2.0f * 8 * dt, 1e-5f);
}

TEST(Motion, ControllerForceWakesARestingBody)
{
    TestSimulator t;
    neRigidBody* b = t.box({});
    CountingController cb;
    cb.stepCounter = &t->stepCount;
    b->addController(&cb);
    t.step(dt);
    b->putToRest();
    for (int i = 0; i < 3; ++i)
        t.step(dt);
    EXPECT_EQ(b->restState, neAtRest);
    EXPECT_EQ(b->position(), vec3d());

    cb.force = {0, 1, 0};
    b->clearRest();
    t.step(dt); // the callback writes the force at the end of this step
    b->putToRest();
    t.step(dt);
    EXPECT_EQ(b->restState, neMoving);
    EXPECT_GT(b->velocity.y, 0.0f);
}

TEST(Motion, RestingBodyFeelsNoGravity)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    neRigidBody* b = t.box({0, 5, 0});
    t.step(dt);
    b->putToRest();
    for (int i = 0; i < 10; ++i)
        t.step(dt);
    EXPECT_EQ(b->restState, neAtRest);
    EXPECT_EQ(b->position().y, 5.0f);
    b->restCounter = 4;
    b->stepsSinceSaved = 9;
    b->wakeUp();
    EXPECT_EQ(b->restState, neMoving);
    EXPECT_EQ(b->restCounter, 0);
    EXPECT_EQ(b->stepsSinceSaved, 0); // the pose saved afresh
    t.step(dt);
    t.step(dt);
    EXPECT_LT(b->position().y, 5.0f);

    // Knocked while at rest: it leaves rest and takes this step's forces at once.
    b->putToRest();
    b->externalForce = {2, 0, 0};
    b->velocity = {0, 0, 5};
    t.step(dt);
    EXPECT_EQ(b->restState, neMoving);
    EXPECT_NEAR(b->velocity.x, 2.0f * dt, 1e-6f);
    b->externalForce = {};

    // Placing a body wakes it too, and saves the new pose.
    b->putToRest();
    b->restCounter = 7;
    b->setPose(translation({1, 2, 3}));
    EXPECT_EQ(b->restState, neMoving);
    EXPECT_EQ(b->restCounter, 0);
    EXPECT_EQ(b->saved.position, vec3d(1, 2, 3));
}

TEST(Motion, FullDampingStopsTheVelocityEveryStep)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -10, 0}};
    neRigidBody* b = t.box({});
    b->linearDamping = 1.0f;
    t.step(dt);
    t.step(dt);
    const float y = b->position().y;
    t.step(dt);
    EXPECT_EQ(b->velocity.y, 0.0f);
    EXPECT_EQ(b->position().y, y) << "a body that does not move stays where it is";
}

TEST(Motion, ZeroQuaternionStaysZero)
{
    TestSimulator t;
    neRigidBody* b = t.box({});
    b->state().orientation = {0, 0, 0, 0};
    b->updateDerived();
    const quaternion& q = b->state().orientation;
    EXPECT_EQ(q.x, 0.0f);
    EXPECT_EQ(q.w, 0.0f);
    EXPECT_FALSE(std::isnan(b->worldInverseInertia.r[0].x));
}

TEST(Motion, ImpulsesAndPointVelocity)
{
    TestSimulator t;
    neRigidBody* b = t.box({1, 2, 3});
    b->mass = 2.0f;
    b->inverseMass = 0.5f;
    b->updateDerived();
    b->putToRest();
    b->applyImpulseAtPosition({0, 0, 4}, {1, 2, 3});
    EXPECT_EQ(b->velocity, vec3d(0, 0, 2));
    EXPECT_EQ(b->angularVelocity, vec3d());
    EXPECT_EQ(b->restState, neMoving);

    b->applyImpulseAtPosition({0, 0, 4}, {2, 2, 3});
    EXPECT_EQ(b->state().angularMomentum, vec3d(0, -4, 0));
    EXPECT_EQ(b->angularVelocity, vec3d(0, -4, 0));
    const vec3d v = b->getVelocityAtPoint({1, 0, 0});
    EXPECT_EQ(v, vec3d(0, 0, 4 + 4));

    b->putToRest();
    b->applyImpulse({2, 0, 0});
    EXPECT_EQ(b->velocity.x, 1.0f);
    EXPECT_EQ(b->restState, neMoving);

    neAnimatedBody* a = t->createAnimatedBody();
    EXPECT_EQ(a->getVelocityAtPoint({1, 1, 1}), vec3d());
}

TEST(Motion, SolverImpulsesAndCorrections)
{
    TestSimulator t;
    neRigidBody* b = t.box({});
    b->mass = 4.0f;
    b->inverseMass = 0.25f;
    b->setInertiaTensor({2, 2, 2});
    b->updateDerived();
    t->stepIndexMod10 = 3;
    EXPECT_EQ(b->applyImpulseAtArm({0, 8, 0}, {1, 0, 0}), 1);
    EXPECT_EQ(b->velocity, vec3d(0, 2, 0));
    EXPECT_EQ(b->velocityChanges[3], vec3d(0, 2, 0));
    EXPECT_EQ(b->state().angularMomentum, vec3d(0, 0, 8));
    EXPECT_EQ(b->angularChanges[3], vec3d(0, 0, 4));
    EXPECT_EQ(b->angularVelocity, vec3d(0, 0, 4));

    b->linearCorrection = {3, 0, 0};
    b->linearCorrectionCount = 3;
    b->applyLinearCorrection();
    EXPECT_EQ(b->velocity, vec3d(1, 2, 0));
    EXPECT_EQ(b->linearCorrectionCount, 0);
    b->angularCorrection = {0, 0, -4};
    b->angularCorrectionCount = 2;
    b->applyAngularCorrection();
    EXPECT_EQ(b->state().angularMomentum, vec3d(0, 0, 6));
    EXPECT_EQ(b->angularVelocity, vec3d(0, 0, 3));
    EXPECT_EQ(b->angularCorrection, vec3d());
}

TEST(Motion, InertiaTensorAndCube)
{
    TestSimulator t;
    neRigidBody* b = t->createRigidBody();
    b->setInertiaTensor({2, 4, 8});
    EXPECT_FLOAT_EQ(b->inverseInertiaBody.r[0].x, 0.5f);
    EXPECT_FLOAT_EQ(b->inverseInertiaBody.r[1].y, 0.25f);
    EXPECT_FLOAT_EQ(b->inverseInertiaBody.r[2].z, 0.125f);
    b->setInertiaTensor({0, 4, 8});
    EXPECT_FLOAT_EQ(b->inverseInertiaBody.r[0].x, 0.5f); // kept
    EXPECT_EQ(b->inertiaBody.r[0].x, 0.0f);
    EXPECT_EQ(cubeInertiaTensor(0.5f, 1.0f, 0.25f, 3.0f), vec3d(2, 2, 2));
}

TEST(Motion, WakeUpClearsEveryRigidMemberOfTheGroup)
{
    TestSimulator t;
    neConstraintGroup* group = t->constraintGroups.takeListed();
    neRigidBody* bodies[3];
    for (neRigidBody*& b : bodies) {
        b = t->createRigidBody();
        b->putToRest();
        group->appendMember(b);
    }
    neAnimatedBody* a = t->createAnimatedBody();
    group->appendMember(a);
    neRigidBody* outsider = t->createRigidBody();
    outsider->putToRest();

    bodies[1]->wakeUp();
    for (neRigidBody* b : bodies)
        EXPECT_EQ(b->restState, neMoving);
    EXPECT_EQ(outsider->restState, neAtRest);

    // Leaving: the last member out returns the group to its pool.
    for (neRigidBody* b : bodies)
        b->leaveConstraintGroup();
    EXPECT_EQ(group->state, uint32_t(neConstraintGroup::stateMemberLeft));
    EXPECT_EQ(t->constraintGroups.usedCount(), 1);
    a->leaveConstraintGroup();
    EXPECT_EQ(t->constraintGroups.usedCount(), 0);
    EXPECT_EQ(a->constraintGroup, nullptr);
}

TEST(Motion, ReusedRecordStartsClean)
{
    TestSimulator t;
    neRigidBody* b = t.box({4, 5, 6});
    EXPECT_EQ(b->saved.position, vec3d(4, 5, 6));
    b->mass = 7.0f;
    b->velocity = {1, 2, 3};
    b->separated = 1;
    b->solverMark = 1;
    b->restCounter = 9;
    b->linearDamping = 0.5f;
    b->gravityOn = 0;
    b->externalForce = {1, 1, 1};
    b->collisionGroup = 3;
    b->owner[0] = b;
    b->contact.velocities[4] = {1, 1, 1};
    b->quaternionRate = {0, 2, 0, 0};
    t->freeBody(b);
    neRigidBody* again = t->createRigidBody();
    ASSERT_EQ(again, b);
    EXPECT_EQ(again->mass, 1.0f);
    EXPECT_EQ(again->velocity, vec3d());
    EXPECT_EQ(again->position(), vec3d());
    EXPECT_EQ(again->separated, 0u);
    EXPECT_EQ(again->solverMark, 0u);
    EXPECT_EQ(again->restCounter, 0);
    EXPECT_EQ(again->linearDamping, 0.0f);
    EXPECT_EQ(again->gravityOn, 1u);
    EXPECT_EQ(again->externalForce, vec3d());
    EXPECT_EQ(again->collisionGroup, 0);
    EXPECT_EQ(again->owner[0], nullptr);
    EXPECT_EQ(again->contact.velocities[4], vec3d());
    EXPECT_EQ(again->restTolerance, 0.2f);
    EXPECT_EQ(again->orientedBox.row(3), vec3d()); // the unit frame until it has geometry
    EXPECT_EQ(again->orientedBox.row(0), vec3d(1, 0, 0));
    EXPECT_EQ(again->quaternionRate.y, 0.0f);
}

TEST(Motion, SensorsStartEachStepEmpty)
{
    neSimulatorSizes sizes = TestSimulator::gameSizes();
    sizes.rigidParticlesCount = 2;
    TestSimulator t(sizes);
    neRigidBody* particle = t->rigidParticles.take();
    particle->reset();
    particle->particle = 1;
    particle->simulator = t.sim.get();
    t->activeParticles.pushBack(particle);
    neRigidBodyBase* bodies[] = {t->createRigidBody(), t->createAnimatedBody(), particle};
    for (neRigidBodyBase* b : bodies) {
        neSensor* s = t->sensors.take();
        s->next = nullptr;
        s->depth = 2.0f;
        s->detected = b;
        b->sensorHead = s;
        if (b->isRigid())
            b->asRigid()->putToRest(); // integration would clear them too

    }
    t.step();
    for (neRigidBodyBase* b : bodies) {
        EXPECT_EQ(b->sensorHead->depth, 0.0f);
        EXPECT_EQ(b->sensorHead->detected, nullptr);
    }
}

TEST(Motion, FreedPartnerTakesTheContactsRestingOnIt)
{
    TestSimulator t;
    neRigidBody* lower = t->createRigidBody();
    neRigidBody* upper = t->createRigidBody();
    neRestingContact& slot = upper->contact.slots[0];
    slot.kind = neRestingOnRigid;
    slot.partner = lower;
    lower->restingOnThis.pushBack(&slot);

    slot.stepStamp = 12;
    t->freeBody(lower);
    EXPECT_EQ(slot.partner, nullptr);
    EXPECT_EQ(slot.kind, uint32_t(neRestingEmpty));
    EXPECT_EQ(slot.stepStamp, 0u);
    neRigidBody* reused = t->createRigidBody();
    EXPECT_EQ(reused->restingOnThis.count, 0);
}

} // namespace
