#include "ScenarioSupport.h"

#include <gtest/gtest.h>

namespace
{

void expectVec(const vec3d& actual, const vec3d& expected, float tolerance = 1e-5f)
{
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

// A contact of a unit-mass body that does not turn on the still ground,
// normal up: its effective mass is 1 along every axis of the contact frame.
struct GroundContact
{
    TestSimulator t;
    neRigidBody* body;
    neCollisionResult r{};

    explicit GroundContact(vec3d velocity)
    {
        body = t->createRigidBody();
        body->inverseInertiaBody = neM3::zero();
        body->updateDerived();
        body->velocity = velocity;
        r.reset();
        r.kind = neCollisionResult::contact;
        r.bodyA = body;
        r.weight = 1.0f;
        r.setNormal({0, 1, 0});
        r.prepare(false);
        r.relativeVelocity = velocity;
    }
};

TEST(Solver, CollisionImpulseSticksOrSlidesWithTheSmallerMaterials)
{
    struct Case
    {
        const char* name;
        vec3d velocity; // world; the contact frame's normal is y
        bool restitution;
        vec3d impulse; // world
    };
    // Materials 1 (friction 0.5, restitution 0.4) and 2 (0.3, 0.2): mu 0.3, e 0.2.
    const Case cases[] = {
        {"sticks, bounces", {0.1f, -2, 0}, true, {-0.1f, 2.4f, 0}},
        {"sticks, no bounce", {0.1f, -2, 0}, false, {-0.1f, 2.0f, 0}},
        {"slides at mu", {3, -2, 0}, true, {-0.72f, 2.4f, 0}},
        {"slides, no bounce", {0, -2, 4}, false, {0, 2.0f, -0.6f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GroundContact g(c.velocity);
        g.t->materials[1][0] = 0.5f;
        g.t->materials[1][1] = 0.4f;
        g.t->materials[2][0] = 0.3f;
        g.t->materials[2][1] = 0.2f;
        g.r.userDataA = 2;
        g.r.userDataB = 1;
        const vec3d j = g.t->collisionImpulse(g.r, c.restitution);
        expectVec(g.r.frameTransposed * j, c.impulse);
    }
}

TEST(Solver, MaterialsPastTheTableTakeItsFirstValues)
{
    GroundContact g({5, -2, 0});
    g.t->materials[1][0] = 0.9f;
    g.t->materials[1][1] = 0.9f;
    g.r.userDataA = 300;
    g.r.userDataB = 1;
    EXPECT_EQ(g.t->material(300)[0], 0.5f);
    EXPECT_EQ(g.t->material(300)[1], 0.4f);
    EXPECT_EQ(g.t->material(255), g.t->materials[255]);
    // mu 0.5 and e 0.4, not 0.9.
    expectVec(g.r.frameTransposed * g.t->collisionImpulse(g.r, true), {-0.5f * 2.8f, 2.8f, 0});
}

TEST(Solver, RestitutionOnlyInTheFirstPass)
{
    for (uint32_t pass : {0u, 1u}) {
        GroundContact g({0, -2, 0});
        g.t->passFlag = pass;
        g.t->applyContact(g.r, 2);
        EXPECT_NEAR(g.body->velocity.y, pass == 0 ? 0.8f : 0.0f, 1e-5f) << "pass " << pass;
    }
    // A contact that moves apart gets no impulse, and one that only nearly
    // touches stops its share of the approach.
    GroundContact apart({0, 1, 0});
    apart.t->applyContact(apart.r, 2);
    EXPECT_EQ(apart.body->velocity.y, 1.0f);
    GroundContact near({0, -2, 0});
    near.t->passFlag = 1;
    near.r.weight = 0.125f;
    near.t->applyContact(near.r, 2);
    EXPECT_NEAR(near.body->velocity.y, -1.75f, 1e-5f);
}

TEST(Solver, DepthIsPushedOutInTheSecondPassUpToItsLimit)
{
    struct Case
    {
        float depth;
        uint32_t pass;
        float speed; // after the term
    };
    const float g = 9.81f, rate = 75.0f;
    const Case cases[] = {
        {0.03f, 1, (0.03f - 0.001f * g) * rate * 0.5f},
        {0.5f, 1, (0.05f - 0.001f * g) * rate * 0.5f}, // as if it were 0.05
        {0.03f, 0, 0.0f},
        {0.005f, 1, 0.0f}, // within what gravity presses in
    };
    for (const Case& c : cases) {
        GroundContact contact({0, 0, 0});
        contact.t->setGravity({0, -g, 0});
        contact.t->inverseStepLength = rate;
        contact.t->passFlag = c.pass;
        contact.r.depth = c.depth;
        // The term gives back the speed it corrected.
        EXPECT_NEAR(contact.t->solveRecord(contact.r), c.speed, 1e-4f);
        EXPECT_NEAR(contact.body->velocity.y, c.speed, 1e-4f) << c.depth << " in pass " << c.pass;
    }
}

TEST(Solver, BasisAndEffectiveMass)
{
    for (const vec3d n : {vec3d(0, 1, 0), vec3d(0, 0, -1), vec3d(1, 0, 0), vec3d(0.6f, 0.0f, 0.8f), vec3d(0.48f, -0.6f, 0.64f)}) {
        const neM3 f = neSimulator::basis(n);
        EXPECT_EQ(f.r[0], n);
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(f.r[i].length(), 1.0f, 1e-5f);
            EXPECT_NEAR(f.r[i].dot(f.r[(i + 1) % 3]), 0.0f, 1e-5f);
        }
    }
    // A sphere-like body of mass 2 and inertia 0.5 hit at 1 from its centre
    // along x, pushed along y: K = 1/2 + 1^2 / 0.5 across the arm, 1/2 along it.
    TestSimulator t;
    neRigidBody* b = t->createRigidBody();
    b->mass = 2.0f;
    b->inverseMass = 0.5f;
    b->setInertiaTensor({0.5f, 0.5f, 0.5f});
    b->updateDerived();
    neCollisionResult r{};
    r.reset();
    r.kind = neCollisionResult::point;
    r.bodyA = b;
    r.pointA = {1, 0, 0};
    r.prepare(false);
    const neM3& k = r.kInverse;
    EXPECT_NEAR(k.r[0].x, 2.0f, 1e-5f);
    EXPECT_NEAR(k.r[1].y, 1.0f / 2.5f, 1e-5f);
    EXPECT_NEAR(k.r[2].z, 1.0f / 2.5f, 1e-5f);
    // A slide motor between a rigid body of mass 2 and an animated body.
    r.kind = neCollisionResult::slideMotor;
    r.bodyB = t->createAnimatedBody();
    r.prepare(false);
    EXPECT_FLOAT_EQ(r.effectiveMass, 2.0f);
    // B left out of a contact row: the row answers to A alone.
    neRigidBody* other = t->createRigidBody();
    r.kind = neCollisionResult::contact;
    r.pointA = {};
    r.bodyB = other;
    r.setNormal({0, 1, 0});
    r.prepare(false);
    EXPECT_NEAR(r.normalMass, 0.5f + 1.0f, 1e-5f);
    r.prepare(true);
    EXPECT_NEAR(r.normalMass, 0.5f, 1e-5f);
}

TEST(Solver, RowArrayGrowsAndKeepsItsRows)
{
    TestSimulator t;
    ASSERT_EQ(t->rows.capacity(), 100);
    for (int i = 0; i < 101; ++i) {
        neCollisionResult* row = t->rows.append();
        ASSERT_NE(row, nullptr);
        row->depth = float(i);
    }
    EXPECT_EQ(t->rows.capacity(), 200);
    for (int i = 0; i < 101; ++i)
        EXPECT_EQ(t->rows[i].depth, float(i));
    ASSERT_EQ(t->contacts.capacity(), 100);
    for (int i = 0; i < 101; ++i)
        t->contacts.append();
    EXPECT_EQ(t->contacts.capacity(), 200);
}

} // namespace
