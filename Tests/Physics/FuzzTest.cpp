#include "ScenarioSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace
{

template <class T>
void expectPoolBalanced(const nePool<T>& pool, const char* name)
{
    EXPECT_EQ(pool.freeCount() + pool.usedCount(), pool.size()) << name;
}

// Masses, sizes and poses come from package files: a scene of wild values
// (NaN and 1e30 among them) must step without crash or hang and keep every
// pool and axis list consistent.
TEST(Fuzz, WildBodiesStepSafely)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    std::mt19937 random(99);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::uniform_int_distribution<int> wild(0, 19);
    const auto value = [&](float scale) {
        switch (wild(random)) {
        case 0: return std::nanf("");
        case 1: return 1e30f;
        case 2: return -1e30f;
        case 3: return 0.0f;
        default: return u(random) * scale;
        }
    };
    const auto vector = [&](float scale) { return vec3d{value(scale), value(scale), value(scale)}; };

    std::vector<neRigidBody*> bodies;
    for (int i = 0; i < 128; ++i) {
        neRigidBody* b = t->createRigidBody();
        ASSERT_NE(b, nullptr);
        const int shapes = 1 + i % 3;
        for (int k = 0; k < shapes; ++k) {
            neGeometry* g = b->addGeometry();
            switch ((i + k) % 3) {
            case 0: g->setBoxSize(value(3), value(3), value(3)); break;
            case 1: g->setSphere(value(2)); break;
            default: g->setCylinder(value(2), value(2)); break;
            }
            g->transform = rotation(vector(1), value(3), vector(2));
        }
        b->updateBounds();
        b->mass = value(50);
        b->inverseMass = 1.0f / b->mass;
        b->setInertiaTensor(vector(10));
        b->setPose(rotation(vector(1), value(3), vector(30)));
        b->velocity = vector(20);
        b->setAngularMomentum(vector(5));
        bodies.push_back(b);
    }
    for (int i = 0; i < 16; ++i) {
        neAnimatedBody* a = t->createAnimatedBody();
        a->addGeometry()->setBoxSize(value(5), value(5), value(5));
        a->updateBounds();
        a->transform = rotation(vector(1), value(3), vector(30));
        a->moved = 1;
    }

    for (int step = 0; step < 1000; ++step) {
        if (step % 100 == 50) {
            // Churn: bodies leave and come back between steps.
            for (int k = 0; k < 8; ++k) {
                neRigidBody* b = bodies[size_t((step + k * 13) % 128)];
                b->switchActive();
                if (k % 2)
                    b->switchActive();
            }
        }
        t.step();
    }

    expectPoolBalanced(t->rigidBodies, "rigid bodies");
    expectPoolBalanced(t->animatedBodies, "animated bodies");
    expectPoolBalanced(t->geometries, "geometries");
    expectPoolBalanced(t->controllers, "controllers");
    expectPoolBalanced(t->sensors, "sensors");
    expectPoolBalanced(t->region.overlapPairPool(), "overlap pairs");
    expectPoolBalanced(t->stackElements, "stack elements");
    expectPoolBalanced(t->stacks, "stacks");
    int inRegion = 0;
    for (const neRegionNode* n = t->region.bodies().head; n; n = n->next)
        ++inRegion;
    EXPECT_EQ(inRegion, t->region.bodies().count);
    for (int k = 0; k < 3; ++k) {
        expectPoolBalanced(t->region.axisPool(k), "axis ends");
        EXPECT_EQ(t->region.axisList(k).count, 2 * inRegion);
        int walked = 0;
        for (const neRegionEnd* e = t->region.axisList(k).head; e; e = e->next)
            ++walked;
        EXPECT_EQ(walked, 2 * inRegion);
    }
    for (neRigidBody* b : bodies)
        t->freeBody(b);
    EXPECT_EQ(t->rigidBodies.usedCount(), 0);
    EXPECT_EQ(t->geometries.usedCount(), 16);
    EXPECT_EQ(t->stackElements.usedCount(), 0);
    EXPECT_EQ(t->rootStack.elements.count, 0);
}

bool finite(const neRigidBody& b)
{
    for (float f : b.state().transform.m)
        if (!std::isfinite(f))
            return false;
    return neFinite(b.velocity) && neFinite(b.angularVelocity);
}

// Content brings masses and sizes far apart: piles of boxes, spheres and
// cylinders of 0.001 to 10,000 kg and 0.05 to 20 m, dropped on the ground and
// on each other, keep finite poses and velocities.
TEST(Fuzz, WildPilesStayFinite)
{
    TestSimulator t = TestGround::make(-0.05f);
    std::mt19937 random(2026);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const auto between = [&](float low, float high) { return low * std::pow(high / low, u(random)); };
    std::vector<neRigidBody*> bodies;
    for (int i = 0; i < 60; ++i) {
        neRigidBody* b = t->createRigidBody();
        neGeometry* g = b->addGeometry();
        const float size = between(0.05f, 20.0f);
        switch (i % 3) {
        case 0: g->setBoxSize(size, between(0.05f, 20.0f), between(0.05f, 20.0f)); break;
        case 1: g->setSphere(size * 0.5f); break;
        default: g->setCylinder(size * 0.3f, between(0.05f, 10.0f)); break;
        }
        b->updateBounds();
        const float mass = between(0.001f, 10000.0f);
        b->mass = mass;
        b->inverseMass = 1.0f / mass;
        b->setInertiaTensor(cubeInertiaTensor(size * 0.5f, size * 0.5f, size * 0.5f, mass));
        // Three piles.
        const float x = float(i % 3) * 15.0f - 15.0f;
        b->setPose(rotation({u(random), u(random), u(random) + 0.1f}, u(random) * 6.0f,
                            {x + u(random) * 4.0f, 2.0f + float(i) * 1.5f, u(random) * 4.0f}));
        b->updateDerived();
        bodies.push_back(b);
    }
    static int pairContacts, groundContacts;
    pairContacts = groundContacts = 0;
    t->groupResponse[0][0] = t->terrainResponse[0] = 3;
    t->collisionCallback = [](neCollisionReport* r) { ++(r->typeB == neCollisionReport::terrain ? groundContacts : pairContacts); };
    for (int step = 0; step < 2000; ++step) {
        t.step(1.0f / 75.0f);
        if (step % 50 == 0 || step == 1999) {
            for (const neRigidBody* b : bodies)
                ASSERT_TRUE(finite(*b)) << "step " << step;
        }
    }
    EXPECT_GT(pairContacts, 1000); // they really pile up
    EXPECT_GT(groundContacts, 1000);
    expectPoolBalanced(t->stackElements, "stack elements");
    expectPoolBalanced(t->stacks, "stacks");
}

} // namespace
