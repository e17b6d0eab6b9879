#include "PhysicsTestSupport.h"

#include <gtest/gtest.h>

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
}

} // namespace
