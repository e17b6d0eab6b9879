// The physics manager: the frame time it measures, the hand-over with a real
// physics thread, the budget of bodies and the spare animated bodies.
#include "ManagerTestSupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace ManagerTest;

int64_t counterNow()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

// The simulator's time so far: whole steps and what waits for the next.
float advancedTime(const neSimulator& sim)
{
    return float(sim.stepCount) / 75.0f + sim.accumulator;
}

TEST(PhysicsManagerFrameTime, ShortFramesLongFramesAndTheLimitOfChange)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(8));
    EXPECT_EQ(m.previousFrameTime, 0.03f);
    m.threaded = 0;
    struct Case
    {
        float previous;
        double gap; // seconds since the last update
        float expected;
        int32_t pieces; // of at most 1/30 s
    };
    const Case cases[] = {
        {0.0f, 0.001, 0.015f, 1},                         // a short frame counts as 0.015 s
        {0.0f, 0.5, 0.2f, 6},                             // without a previous frame only the bounds limit it
        {0.2f, 1.0, 0.2f, 6},                             // also when it may grow by 12 %
        {0.03f, 0.001, float(0.03f * double(0.88f)), 1},  // the first frame after start
        {0.03f, 1.0, float(0.03f * double(1.12f)), 2},
        {0.1f, 0.001, float(0.1f * double(0.88f)), 3},    // a shorter frame falls 12 %
        {0.15f, 1.0, 0.168f, 6},
        {0.015f, 0.001, 0.015f, 1},
    };
    for (const Case& c : cases) {
        m.previousFrameTime = c.previous;
        m.lastCounter = counterNow() - int64_t(c.gap * double(m.counterFrequency));
        const uint32_t steps = m.simulator->stepCount;
        EXPECT_EQ(m.update(), c.pieces) << c.previous << " " << c.gap;
        EXPECT_EQ(m.framePieces.load(), c.pieces);
        if (c.gap >= 0.1)
            EXPECT_NEAR(m.frameTime.load(), c.expected, 2e-3f) << c.previous << " " << c.gap;
        else
            EXPECT_EQ(m.frameTime.load(), c.expected) << c.previous << " " << c.gap;
        EXPECT_EQ(m.previousFrameTime, m.frameTime.load());
        EXPECT_GT(m.simulator->stepCount, steps) << "threaded clear: update steps itself";
    }

    // Frame after frame of 1 ms, the time falls by 12 % a frame down to 0.015 s.
    m.previousFrameTime = 0.05f;
    float expected = 0.05f;
    for (int frame = 0; frame < 20; ++frame) {
        m.lastCounter = counterNow();
        m.update();
        expected = std::max(0.015f, float(expected * double(0.88f)));
        ASSERT_EQ(m.frameTime.load(), expected) << frame;
    }

    // With threaded clear the simulator advances by three frame times.
    m.previousFrameTime = float((1.0 / 60.0) / double(1.12f));
    const float before = advancedTime(*m.simulator);
    m.lastCounter = counterNow() - m.counterFrequency;
    m.update();
    EXPECT_NEAR(m.frameTime.load(), 1.0f / 60.0f, 1e-6f);
    EXPECT_NEAR(advancedTime(*m.simulator) - before, 0.05f, 1e-5f);

    // Paused, an update leaves the clock, the hand-over word and the simulator.
    m.paused = 1;
    m.stepState = PhysicsManager::done;
    const int64_t last = m.lastCounter, now = m.nowCounter;
    const float frame = m.frameTime, previous = m.previousFrameTime;
    const uint32_t steps = m.simulator->stepCount;
    m.updated = 0;
    Sleep(20);
    m.update();
    EXPECT_EQ(m.lastCounter, last);
    EXPECT_EQ(m.nowCounter, now);
    EXPECT_EQ(m.frameTime.load(), frame);
    EXPECT_EQ(m.previousFrameTime, previous);
    EXPECT_EQ(m.stepState.load(), PhysicsManager::done);
    EXPECT_EQ(m.simulator->stepCount, steps);
    EXPECT_EQ(m.updated, 0u);
    m.paused = 0;
    m.update();
    EXPECT_EQ(m.stepState.load(), PhysicsManager::released);
    EXPECT_EQ(m.updated, 1u);
}

// The world's lag behind the clock: what the frames measured less what the
// batches stepped. Frames of 0.03 to 0.5 s as a loaded machine draws them,
// each stepped piece by piece as the application's frame steps it: a frame
// up to 0.2 s long steps all of it, a longer one 0.2 s, and the rest is lag.
// A pause adds none, and a batch stepped as the thread steps it counts what
// it stepped.
TEST(PhysicsManagerFrameTime, TheWorldLagsByWhatLongFramesDidNotStep)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(8));
    struct Frame
    {
        double seconds;
        float stepped;
        int32_t pieces;
    };
    const Frame frames[] = {{0.1, 0.1f, 3},      {0.5, 0.2f, 6},  {0.3, 0.2f, 6}, {1.0 / 7.0, 1.0f / 7.0f, 5},
                            {0.2, 0.2f, 6},      {0.03, 0.03f, 1}, {0.15, 0.15f, 5}};
    double lag = m.worldLag;
    float steppedBefore = 0.0f;
    for (const Frame& f : frames) {
        SCOPED_TRACE(f.seconds);
        // No limit of change here: each frame as long as it measures.
        m.previousFrameTime = f.stepped;
        m.lastCounter = counterNow() - int64_t(f.seconds * double(m.counterFrequency));
        const uint32_t batches = m.simulator->stepCount;
        ASSERT_EQ(m.update(), f.pieces);
        EXPECT_NEAR(m.frameTime.load(), f.stepped, 1e-3f);
        for (int32_t piece = 1; piece < f.pieces; ++piece)
            m.stepPiece();
        // The last piece as the thread steps it; it counts at the next update.
        m.stepBatch(nullptr);
        EXPECT_EQ(m.simulator->stepCount - batches, uint32_t(f.pieces)) << "a batch a piece";
        EXPECT_NEAR(m.simulator->stepLength * 3.0f, m.frameTime.load() / float(f.pieces) * 4.2f, 1e-5f);
        lag += f.seconds - steppedBefore;
        steppedBefore = m.frameTime.load();
    }
    m.previousFrameTime = 0.1f;
    m.lastCounter = counterNow() - int64_t(0.1 * double(m.counterFrequency));
    m.update();
    lag += 0.1 - steppedBefore;
    EXPECT_NEAR(m.worldLag, lag, 2e-3);
    EXPECT_NEAR(double(m.worldLagMs()), lag * 1000.0, 2.5);

    // Paused for a second: the frame that ends the pause adds no lag, and
    // nothing is stepped in pieces while paused.
    const double before = m.worldLag;
    m.paused = 1;
    EXPECT_EQ(m.update(), 1);
    const uint32_t pausedSteps = m.simulator->stepCount;
    m.stepPiece();
    EXPECT_EQ(m.simulator->stepCount, pausedSteps);
    m.paused = 0;
    m.stepBatch(nullptr);
    m.lastCounter = counterNow() - m.counterFrequency;
    m.update();
    EXPECT_NEAR(m.worldLag, before, 1e-9);
    // The next frame counts again, less what the batch stepped meanwhile:
    // a short frame after a long one lets the world catch up.
    const double stepped = m.frameTime.load() / float(m.framePieces.load());
    m.stepBatch(nullptr);
    m.lastCounter = counterNow() - int64_t(0.05 * double(m.counterFrequency));
    m.update();
    EXPECT_NEAR(m.worldLag, before + 0.05 - stepped, 2e-3);
}

// A frame longer than longestBatch is stepped in equal batches of three
// steps no longer than the batch allows, so a slow frame rate steps the
// world as finely as thirty frames a second; together they step the whole
// frame, 4.2 times its length.
TEST(PhysicsManagerFrameTime, ALongFrameIsSteppedInShortBatches)
{
    struct Row
    {
        float frame;
        uint32_t batches;
    };
    const Row rows[] = {{0.015f, 1}, {1.0f / 35.0f, 1}, {1.0f / 30.0f, 1}, {0.034f, 2},
                        {0.05f, 2},  {1.0f / 14.0f, 3}, {0.1f, 3}};
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(8));
    for (const Row& row : rows) {
        SCOPED_TRACE(row.frame);
        m.frameTime.store(row.frame);
        const uint32_t before = m.simulator->stepCount;
        m.stepBatch(nullptr);
        EXPECT_EQ(m.simulator->stepCount - before, row.batches);
        EXPECT_NEAR(m.simulator->stepLength * 3.0f * float(row.batches), row.frame * 4.2f, 1e-5f);
        EXPECT_LE(m.simulator->stepLength, PhysicsManager::longestBatch * 1.4f + 1e-6f);
    }
}

// A long frame stepped piece by piece by the simulator's own steps (threaded
// clear) and by a real physics thread: every piece is a batch of its own,
// the entities follow the bodies after each, and the world steps the whole
// frame, no lag added.
TEST(PhysicsManagerFrameTime, ALongFrameIsSteppedPieceByPiece)
{
    for (const bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "physics thread" : "threaded clear");
        EntityManager entities;
        PhysicsManager& m = *entities.physicsManager;
        ASSERT_TRUE(m.start(8));
        BoxEntity box(entities, vec3d{0.0f, 50.0f, 0.0f});
        StepCounter counter;
        ASSERT_TRUE(box.physics->rigidBody->addController(&counter));
        m.threaded = threaded ? 1 : 0;
        if (threaded)
            m.thread.start();
        m.update();
        m.waitForStepEnd();
        for (const double seconds : {1.0 / 7.0, 0.2, 0.1, 1.0 / 14.0}) {
            SCOPED_TRACE(seconds);
            m.waitForStepEnd();
            const double lag = m.worldLag;
            const float before = threaded ? 0.0f : advancedTime(*m.simulator);
            const uint32_t steps = counter.steps.load();
            m.previousFrameTime = float(seconds);
            m.lastCounter = counterNow() - int64_t(seconds * double(m.counterFrequency));
            const int32_t pieces = m.update();
            ASSERT_EQ(pieces, int32_t(std::ceil(seconds * 30.0 - 1e-3)));
            for (int32_t piece = 1; piece < pieces; ++piece) {
                const int moves = box.moves;
                m.stepPiece();
                EXPECT_GT(box.moves, moves) << "the entity follows after piece " << piece;
            }
            m.waitForStepEnd();
            if (threaded) {
                EXPECT_EQ(counter.steps.load() - steps, 3u * uint32_t(pieces)) << "three steps a piece";
            } else {
                EXPECT_NEAR(advancedTime(*m.simulator) - before, float(seconds) * 3.0f, 2e-3f);
                EXPECT_NEAR(m.worldLag, lag, 2e-3) << "the whole frame stepped";
            }
        }
        m.thread.stop();
    }
}

// A record that notes whether it went while a step batch was running.
class WatchedRecord : public Physics
{
public:
    WatchedRecord(EntityManager::Entity& owner, PhysicsManager& manager) : Physics(owner, 1.0f), manager_(manager) {}
    ~WatchedRecord() override
    {
        if (manager_.thread.isRunning() && manager_.stepState.load() != PhysicsManager::done)
            ++releasedDuringABatch;
    }
    static inline int releasedDuringABatch = 0;

private:
    PhysicsManager& manager_;
};

// A real physics thread under frames of random length: the thread runs at
// most one batch per frame beyond the one in progress, stepOnce always waits
// for a batch of its own, and a stop ends the thread at once.
TEST(PhysicsManagerThread, HandsOverWithTheMainLoop)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(64));
    // Falling boxes that never land: every step steps them all; the first
    // one counts the steps.
    std::vector<std::unique_ptr<BoxEntity>> boxes;
    for (int i = 0; i < 40; ++i)
        boxes.push_back(std::make_unique<BoxEntity>(entities, vec3d{float(i % 8) * 3.0f, 0.0f, float(i / 8) * 3.0f}));
    StepCounter counter;
    ASSERT_TRUE(boxes[0]->physics->rigidBody->addController(&counter));
    std::vector<std::unique_ptr<EntityManager::Entity>> watched;
    for (int i = 0; i < 20; ++i) {
        watched.push_back(std::make_unique<EntityManager::Entity>(entities));
        watched.back()->physics = new WatchedRecord(*watched.back(), m);
    }
    m.thread.start();
    ASSERT_TRUE(m.thread.isRunning());

    std::mt19937 random(29);
    const int frames = 1000;
    for (int frame = 0; frame < frames; ++frame) {
        const uint32_t pause = random() % 4;
        if (pause == 3)
            Sleep(1);
        else
            for (uint32_t i = 0; i < pause * 20000; ++i)
                YieldProcessor();
        m.update();
    }
    m.waitForStepEnd();
    const uint32_t batches = m.simulator->stepCount;
    EXPECT_LE(batches, uint32_t(frames) + 1);
    EXPECT_GT(batches, 0u);
    EXPECT_EQ(counter.steps.load(), 3 * batches) << "every batch is three steps";
    EXPECT_GT(boxes[0]->moves, 0) << "the boxes' entities follow their bodies";
    EXPECT_EQ(boxes[0]->position().y, boxes[0]->physics->pose.at(3, 1));

    // stepOnce in the middle of a running batch (held there until a moment
    // after the call), and while the thread waits.
    for (int call = 0; call < 200; ++call) {
        std::thread release;
        if (call % 2) {
            counter.hold = true;
            m.update();
            while (!counter.holding.load())
                Sleep(0);
        }
        const uint32_t before = counter.steps.load();
        if (call % 2)
            release = std::thread([&counter] {
                Sleep(2);
                counter.hold = false;
            });
        m.stepOnce();
        if (release.joinable())
            release.join();
        ASSERT_EQ(before % 3, call % 2 ? 1u : 0u) << call;
        const uint32_t after = counter.steps.load();
        const uint32_t firstFreshBatch = (before + 2) / 3 * 3;
        ASSERT_GE(after, firstFreshBatch + 3) << "a batch that began after the call, call " << call;
        EXPECT_EQ(m.stepState.load(), PhysicsManager::done);
        if (call % 2 == 0) {
            EXPECT_EQ(after, before + 3) << "the thread waited: exactly one batch";
        }
    }

    // Entities cleared between frames give their bodies back while the
    // thread steps the others: each record goes only once the running batch
    // has ended.
    const int32_t budget = m.rigidBodyBudget;
    for (auto& entity : watched) {
        m.update();
        entity->clear();
        EXPECT_EQ(entity->physics, nullptr);
    }
    EXPECT_EQ(WatchedRecord::releasedDuringABatch, 0);
    m.update();
    m.waitForStepEnd();
    EXPECT_EQ(m.rigidBodyBudget, budget + int32_t(watched.size()));
    EXPECT_EQ(m.entities.count(), int32_t(boxes.size()));

    m.thread.stop();
    EXPECT_FALSE(m.thread.isRunning());
    // Without a thread nothing waits.
    m.stepState = PhysicsManager::running;
    m.waitForStepEnd();
    m.stepOnce();
}

TEST(PhysicsManagerThread, RunWithoutASimulatorStepsNothing)
{
    PhysicsManager m;
    m.threaded = 1;
    m.thread.start();
    m.waitForStepEnd();
    EXPECT_EQ(m.stepState.load(), PhysicsManager::done);
    m.stepState = PhysicsManager::released;
    m.waitForStepEnd();
    m.thread.stop();
    EXPECT_FALSE(m.thread.isRunning());
}

// Records take bodies while the budget lasts; one that finds no body gives
// its unit back; release returns everything.
TEST(PhysicsManagerBodies, BudgetAndRecords)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    {
        EntityManager::Entity none(entities);
        Physics record(none, 1.0f);
        EXPECT_EQ(record.rigidBody, nullptr) << "no simulator, no body";
    }
    ASSERT_TRUE(m.start(3));
    EXPECT_EQ(m.rigidBodyBudget, 3);
    EXPECT_EQ(m.rigidBodyCount, 3);
    EXPECT_EQ(m.simulator->sizes.rigidBodiesCount, 3);
    EXPECT_EQ(m.simulator->sizes.geometriesCount, 3 * 2 + 32);
    EXPECT_EQ(m.simulator->groupResponse[0][0], 3u);
    EXPECT_EQ(m.simulator->groupResponse[0][1], 1u);
    EXPECT_EQ(m.simulator->terrainResponse[0], 3u);
    EXPECT_EQ(m.simulator->gravity.y, -9.81f);

    std::vector<std::unique_ptr<BoxEntity>> boxes;
    for (int i = 0; i < 4; ++i)
        boxes.push_back(std::make_unique<BoxEntity>(entities, vec3d{float(i) * 2, 0, 0}, vec3d{1, 1, 1}, 4.0f));
    for (int i = 0; i < 3; ++i) {
        neRigidBody* body = boxes[size_t(i)]->body();
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(body->mass, 4.0f);
        EXPECT_EQ(body->inverseMass, 0.25f);
        EXPECT_EQ(body->owner[0], &entities);
        EXPECT_EQ(body->owner[1], boxes[size_t(i)]->physics);
    }
    EXPECT_EQ(boxes[3]->body(), nullptr) << "the budget is spent";
    EXPECT_EQ(m.rigidBodyBudget, 0);
    EXPECT_EQ(m.entities.count(), 3);

    // A budget larger than the pool: the failed take gives its unit back.
    boxes.pop_back();
    m.rigidBodyBudget = 2;
    BoxEntity extra(entities, {9, 0, 0});
    EXPECT_EQ(extra.body(), nullptr);
    EXPECT_EQ(m.rigidBodyBudget, 2);

    boxes[1]->shape.clear();
    boxes[1]->clear();
    EXPECT_EQ(boxes[1]->physics, nullptr);
    EXPECT_EQ(m.rigidBodyBudget, 3);
    EXPECT_EQ(m.entities.count(), 2);
    EXPECT_EQ(m.simulator->rigidBodies.usedCount(), 2);

    // The manager's release takes every body back; the records stay, bodiless.
    for (auto& box : boxes)
        box->shape.clear();
    m.release();
    EXPECT_EQ(m.simulator, nullptr);
    EXPECT_EQ(m.entities.count(), 0);
    EXPECT_EQ(boxes[0]->physics->rigidBody, nullptr);
    boxes[0]->physics->update();
}

TEST(PhysicsManagerBodies, SpareAnimatedBodies)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    EXPECT_EQ(m.takeAnimatedBody(), nullptr);
    ASSERT_TRUE(m.start(4));
    ASSERT_EQ(m.spareAnimatedTop, 16);
    std::vector<neAnimatedBody*> taken;
    while (neAnimatedBody* body = m.takeAnimatedBody()) {
        EXPECT_EQ(body->active, 0u);
        taken.push_back(body);
    }
    ASSERT_EQ(taken.size(), 16u);
    EXPECT_EQ(m.simulator->animatedBodies.usedCount(), 16);

    // A body comes back inactive and without its geometries.
    neAnimatedBody* walls = taken.back();
    walls->switchActive();
    for (int i = 0; i < 3; ++i)
        walls->addGeometry()->setBoxSize(1, 1, 1);
    walls->updateBounds();
    const int32_t geometries = m.simulator->geometries.usedCount();
    m.returnAnimatedBody(walls);
    EXPECT_EQ(walls->active, 0u);
    EXPECT_EQ(walls->geometryCount, 0);
    EXPECT_EQ(m.simulator->geometries.usedCount(), geometries - 3);
    EXPECT_EQ(m.spareAnimatedTop, 1);

    // Given back twice, or to a full stack: the stack never holds a body
    // twice nor grows past its sixteen places.
    m.returnAnimatedBody(walls);
    EXPECT_EQ(m.spareAnimatedTop, 1);
    for (size_t i = 0; i + 1 < taken.size(); ++i)
        m.returnAnimatedBody(taken[i]);
    ASSERT_EQ(m.spareAnimatedTop, 16);
    for (neAnimatedBody* body : taken)
        m.returnAnimatedBody(body);
    EXPECT_EQ(m.spareAnimatedTop, 16);
    std::vector<neAnimatedBody*> again;
    while (neAnimatedBody* body = m.takeAnimatedBody())
        again.push_back(body);
    std::sort(again.begin(), again.end());
    std::sort(taken.begin(), taken.end());
    EXPECT_EQ(again, taken);
    for (neAnimatedBody* body : again)
        m.returnAnimatedBody(body);

    // A stack with fewer places than bodies out: once it is full, a body
    // coming back goes to the simulator, its geometries with it, and the
    // storage past the last place is never written.
    ASSERT_TRUE(m.spareAnimated.resize(8));
    m.spareAnimatedTop = 8;
    const std::vector<neAnimatedBody*> out(again.begin() + 8, again.end()); // past the kept places
    out[0]->addGeometry()->setBoxSize(1, 1, 1);
    const int32_t withExtra = m.simulator->geometries.usedCount();
    for (neAnimatedBody* body : out)
        m.returnAnimatedBody(body);
    EXPECT_EQ(m.spareAnimatedTop, 8);
    EXPECT_EQ(m.simulator->animatedBodies.usedCount(), 8);
    EXPECT_EQ(m.simulator->geometries.usedCount(), withExtra - 1);
    m.release();
    EXPECT_EQ(m.spareAnimatedTop, 0);
    EXPECT_EQ(m.takeAnimatedBody(), nullptr);
}

}

// A body taken, given back, taken and given back again goes back on the
// stack each time: the slot above the top still names it, and counts for
// nothing.
TEST(PhysicsManagerBodies, ASpareBodyTakenTwiceComesBackTwice)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(4));
    for (int round = 0; round < 2; ++round) {
        neAnimatedBody* body = m.takeAnimatedBody();
        ASSERT_NE(body, nullptr);
        EXPECT_EQ(m.spareAnimatedTop, 15);
        m.returnAnimatedBody(body);
        EXPECT_EQ(m.spareAnimatedTop, 16) << round;
    }
}
