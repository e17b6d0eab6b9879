#include "PhysicsTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace
{

TEST(Simulator, DefaultSizesGiveIdsInPoolOrder)
{
    TestSimulator t{neSimulatorSizes()};
    for (uint32_t i = 0; i < 50; ++i)
        ASSERT_EQ(t->createRigidBody()->id, i);
    EXPECT_EQ(t->createRigidBody(), nullptr);
    EXPECT_EQ(t->createAnimatedBody()->id, 50u);
    EXPECT_EQ(t->createAnimatedBody()->id, 51u);
}

TEST(Simulator, PoolsRunOutWithTheirMessagesAndFreeCleanly)
{
    TestSimulator t;
    std::vector<neRigidBody*> bodies;
    for (int i = 0; i < 128; ++i)
        bodies.push_back(t->createRigidBody());
    EXPECT_EQ(t->createRigidBody(), nullptr);
    ASSERT_EQ(TestSimulator::messages.size(), 1u);
    EXPECT_EQ(TestSimulator::messages[0], "Run out of RigidBodies. Increase 'rigidBodiesCount'.\n");

    EXPECT_EQ(t->rigidParticles.size(), 0);
    for (int i = 0; i < 16; ++i)
        ASSERT_NE(t->createAnimatedBody(), nullptr);
    EXPECT_EQ(t->createAnimatedBody(), nullptr);
    EXPECT_EQ(TestSimulator::messages.size(), 1u); // the animated pool runs out silently

    // Geometries: 288 in all.
    int made = 0;
    for (neRigidBody* b : bodies)
        for (int k = 0; k < 3; ++k)
            made += b->addGeometry() != nullptr;
    EXPECT_EQ(made, 288);
    EXPECT_EQ(TestSimulator::messages.back(), "Run out of Geometries. Increase 'geometriesCount'.\n");
    for (int k = 0; k < 128; ++k)
        bodies[0]->addController(nullptr);
    EXPECT_EQ(bodies[1]->addController(nullptr), nullptr);
    EXPECT_EQ(TestSimulator::messages.back(), "Run out of Controllers. Increase 'constraintSetsCount'.\n");

    // A double free is refused and keeps every count.
    neRigidBody* victim = bodies[5];
    t->freeBody(victim);
    EXPECT_EQ(t->rigidBodies.usedCount(), 127);
    EXPECT_EQ(t->geometries.usedCount(), 288 - 3);
    t->freeBody(victim);
    EXPECT_EQ(TestSimulator::messages.back(), "Trying to Free invalid RigidBody.\n");
    EXPECT_EQ(t->rigidBodies.usedCount(), 127);
    EXPECT_EQ(t->rigidBodies.freeCount(), 1);
    EXPECT_EQ(t->activeRigidBodies.count, 127);
    neAnimatedBody* animated = &t->animatedBodies[3];
    t->freeBody(animated);
    t->freeBody(animated);
    EXPECT_EQ(TestSimulator::messages.back(), "Trying to Free invalid AnimatedBody.\n");
    EXPECT_EQ(t->animatedBodies.usedCount(), 15);
    EXPECT_EQ(t->activeAnimatedBodies.count, 15);
    int stranger = 0;
    t->freeBody(reinterpret_cast<neRigidBodyBase*>(&stranger));
    EXPECT_EQ(TestSimulator::messages.back(), "Trying to Free invalid RigidBody.\n");

    // The freed record comes back first, reset, with its old id.
    neRigidBody* again = t->createRigidBody();
    EXPECT_EQ(again, victim);
    EXPECT_EQ(again->id, 5u);
    EXPECT_EQ(again->geometryCount, 0);

    t->freeBody(bodies[0]);
    EXPECT_EQ(t->controllers.usedCount(), 0);
    for (neRigidBody* b : bodies)
        if (b != bodies[0])
            t->freeBody(b);
    EXPECT_EQ(t->rigidBodies.usedCount(), 0);
    EXPECT_EQ(t->geometries.usedCount(), 0);
    EXPECT_EQ(t->region.bodies().count, 0);
}

TEST(Simulator, OwnAllocatorTakesEveryPoolOnce)
{
    neAllocatorDefault allocator;
    std::unique_ptr<neSimulator> sim(neSimulator::createSimulator(TestSimulator::gameSizes(), &allocator, nullptr));
    const size_t taken = allocator.allocatedBytes();
    EXPECT_GT(taken, 128 * sizeof(neRigidBody) + 288 * sizeof(neGeometry));
    for (int i = 0; i < 100; ++i)
        sim->createRigidBody()->addGeometry();
    sim->advance(1.0f, 1.0f / 30, 1.0f / 75);
    EXPECT_EQ(allocator.allocatedBytes(), taken);
}

// An allocator that knows what is still out.
struct CountingAllocator : neAllocatorAbstract
{
    std::set<void*> out;
    void* alloc(size_t size, int32_t) override
    {
        void* p = std::malloc(size);
        out.insert(p);
        return p;
    }
    void free(void* p) override
    {
        EXPECT_EQ(out.erase(p), 1u);
        std::free(p);
    }
};

TEST(Simulator, GivesEveryBlockBack)
{
    CountingAllocator allocator;
    neSimulator* sim = neSimulator::createSimulator(TestSimulator::gameSizes(), &allocator, nullptr);
    EXPECT_GT(allocator.out.size(), 10u);
    for (int i = 0; i < 20; ++i)
        sim->createRigidBody()->addGeometry();
    sim->advance(0.1f, 1.0f / 30, 1.0f / 75);
    delete sim;
    EXPECT_TRUE(allocator.out.empty());
}

TEST(Simulator, LogStaysSilentBelowLevelOne)
{
    TestSimulator t{neSimulatorSizes()};
    t->logLevel = 0;
    for (int i = 0; i < 51; ++i)
        t->createRigidBody();
    EXPECT_TRUE(TestSimulator::messages.empty());
}

TEST(Simulator, GravityDirectionAndMagnitude)
{
    TestSimulator t;
    EXPECT_EQ(t->gravityDirection, vec3d());
    EXPECT_EQ(t->gravityMagnitude, 0.0f);
    t->setGravity({0, -9.81f, 0});
    EXPECT_NEAR(t->gravityMagnitude, 9.81f, 1e-3f);
    EXPECT_NEAR(t->gravityDirection.y, -1.0f, 1e-4f);
    EXPECT_NEAR(t->gravityMagnitudeScaled, 9.81f * 0.3f, 1e-3f);
}

TEST(Simulator, AdvanceRunsWholeStepsAndCarriesTheRest)
{
    TestSimulator t;
    t->advance(0.05f, 1.0f / 30, 1.0f / 75);
    EXPECT_EQ(t->stepCount, 3u);
    EXPECT_NEAR(t->accumulator, 0.01f, 1e-5f);
    t->advance(0.02f, 1.0f / 30, 1.0f / 75);
    EXPECT_EQ(t->stepCount, 3u);
    EXPECT_NEAR(t->accumulator, 0.03f, 1e-5f);

    // A new step length is approached by a fifth at most.
    TestSimulator u;
    u->advance(1.0f / 75, 1.0f / 75, 1.0f / 75);
    EXPECT_FLOAT_EQ(u->lastStepLength, 1.0f / 75);
    u->advance(1.0f / 30, 1.0f / 30, 1.0f / 30);
    EXPECT_FLOAT_EQ(u->lastStepLength, 1.0f / 75 * 1.2f);
    TestSimulator v;
    v->advance(1.0f / 30, 1.0f / 30, 1.0f / 30);
    v->advance(1.0f / 75, 1.0f / 75, 1.0f / 75);
    EXPECT_FLOAT_EQ(v->lastStepLength, 1.0f / 30 * 0.8f);

    // Times that cannot be consumed do nothing instead of spinning.
    for (float bad : {-1.0f, std::nanf(""), INFINITY}) {
        const uint32_t before = u->stepCount;
        u->advance(bad, 1.0f / 30, 1.0f / 75);
        EXPECT_EQ(u->stepCount, before);
    }
    u->advance(1.0f, 1.0f / 30, 0.0f);
    u->advance(1e30f, 1e-30f, 1e-30f);
    EXPECT_TRUE(std::isfinite(u->accumulator));
}

TEST(Simulator, ThreeStepBatchReportsItsCost)
{
    // Readings shift right until the frequency fits 32 bits.
    EXPECT_EQ(PerfTimer::shiftFor(10'000'000), 0u);
    EXPECT_EQ(PerfTimer::shiftFor(1ull << 32), 1u);
    EXPECT_EQ(PerfTimer::shiftFor(0x5'0000'0000ull), 3u);
    EXPECT_EQ(PerfTimer::shiftFor(~0ull), 32u);

    TestSimulator t;
    for (int i = 0; i < 20; ++i)
        t.box({float(i) * 0.5f, 0, 0});
    nePerformanceReport report{};
    report.mode = nePerformanceReport::lastCall;
    t->advanceThreeSteps(&report, 0.05f);
    EXPECT_EQ(t->stepCount, 1u);
    EXPECT_FLOAT_EQ(t->stepLength, 0.05f / 3);
    EXPECT_GT(report.values[0], 0.0f);
    EXPECT_LT(report.values[0], 1.0f);

    report.mode = 0;
    t->advanceThreeSteps(&report, 0.05f);
    t->advanceThreeSteps(&report, 0.05f);
    EXPECT_EQ(report.samples, 2);
    EXPECT_FLOAT_EQ(report.values[0], report.accumulated / 2);
}

} // namespace
