#include "Core/Thread.h"
#include "Core/ThreadManager.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace
{
// Polls until the condition holds, or a minute passes: only a thread that
// never comes takes that long, however busy the machine.
bool waitUntil(const std::function<bool()>& condition)
{
    for (const DWORD start = GetTickCount(); !condition(); Sleep(1))
        if (GetTickCount() - start > 60000)
            return false;
    return true;
}

// Runs a call that may block for ever on a helper thread and reports whether
// it returned in time. On a time-out the helper is left behind, so whatever
// the call touches must outlive the test (tests leak it then).
bool returnsInTime(std::function<void()> call)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread helper([call, done] { call(), done->store(true); });
    const bool finished = waitUntil([&] { return done->load(); });
    finished ? helper.join() : helper.detach();
    return finished;
}

struct CountingMethod : Thread::Method
{
    uint32_t run(Thread&, uint32_t userValue) override { return ++count < userValue ? 1u : 0u; }
    std::atomic<uint32_t> count{0};
};

struct CountingJob : ThreadManager::Interface
{
    explicit CountingJob(ThreadManager* owner) { manager = owner; }
    void cycle() override
    {
        ++count;
        if (workMs)
            Sleep(workMs);
    }
    std::atomic<uint32_t> count{0};
    DWORD workMs = 0;
};

// Holds the manager's round at its own step until a pause has been asked.
struct PauseWaitingJob : ThreadManager::Interface
{
    explicit PauseWaitingJob(ThreadManager* owner) { manager = owner; }
    void cycle() override
    {
        if (!armed.exchange(false))
            return;
        entered.store(true);
        waitUntil([this] { return manager->state.load() == ThreadManager::statePauseAsked; });
    }
    std::atomic<bool> armed{false};
    std::atomic<bool> entered{false};
};

// A manager running its rounds with a first job, as its owner starts it.
void startManager(ThreadManager& manager, ThreadManager::Interface& firstJob)
{
    firstJob.attach();
    manager.thread.start();
    manager.state.store(ThreadManager::stateRunning);
}
}

TEST(ThreadTest, AThreadStopsOnRequestAndAfterItsMethodIsDone)
{
    CountingMethod method;
    auto* thread = new Thread(&method, UINT32_MAX); // the user value: calls until the method is done
    thread->start();
    ASSERT_TRUE(waitUntil([&] { return method.count.load() > 3; }));
    ASSERT_TRUE(returnsInTime([&] { thread->stop(); }));
    EXPECT_FALSE(thread->isRunning());
    const uint32_t countAtStop = method.count.load();
    Sleep(20);
    EXPECT_EQ(method.count.load(), countAtStop);

    // Destroying a running thread stops it too.
    thread->start();
    ASSERT_TRUE(waitUntil([&] { return method.count.load() > countAtStop; }));
    ASSERT_TRUE(returnsInTime([&] { delete thread; }));

    CountingMethod once;
    Thread done(&once, 1);
    done.start();
    ASSERT_TRUE(waitUntil([&] { return !done.isRunning(); }));
    EXPECT_EQ(once.count.load(), 1u);
    ASSERT_TRUE(returnsInTime([&] { done.stop(); })) << "the owner can still wait on a thread that ended";
}

TEST(ThreadTest, FaultInAMethodEndsOnlyItsThread)
{
    struct FaultingMethod : Thread::Method
    {
        uint32_t run(Thread&, uint32_t) override { return RaiseException(0xE0000001, 0, 0, nullptr), 1; }
    } faulting;
    CountingMethod counting;
    Thread crashing(&faulting), healthy(&counting, UINT32_MAX);
    healthy.start();
    crashing.start();
    ASSERT_TRUE(waitUntil([&] { return !crashing.isRunning(); }));
    const uint32_t count = counting.count.load();
    ASSERT_TRUE(waitUntil([&] { return counting.count.load() > count + 3; }));
    ASSERT_TRUE(returnsInTime([&] { healthy.stop(); crashing.stop(); }));
}

// Each round runs every job once and sleeps the rest of its twenty
// milliseconds: rounds are paced, not spun. (Wine's sleeps overshoot, so only
// the upper bound of the rate is checked.)
TEST(ThreadManagerTest, RoundsRunEveryJobAndSleepTheRestOfTwentyMilliseconds)
{
    ThreadManager manager;
    CountingJob quick(&manager), other(&manager);
    quick.workMs = 5;
    other.attach();
    startManager(manager, quick);
    const DWORD start = GetTickCount();
    ASSERT_TRUE(waitUntil([&] { return quick.count.load() >= 10; }));
    const DWORD elapsed = GetTickCount() - start;
    const uint32_t rounds = quick.count.load();
    EXPECT_LE(rounds, elapsed / ThreadManager::roundMilliseconds + 3);
    EXPECT_GE(other.count.load() + 1, rounds);
    EXPECT_LE(other.count.load(), rounds + 2);
    ASSERT_TRUE(returnsInTime([&] { manager.stop(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateStopped);
}

// A pause asked in the middle of a round skips the jobs after the current one.
TEST(ThreadManagerTest, PauseRequestSkipsTheRestOfTheRound)
{
    ThreadManager manager;
    PauseWaitingJob first(&manager);
    CountingJob second(&manager), third(&manager);
    startManager(manager, first);
    ASSERT_TRUE(returnsInTime([&] { second.attach(); }));
    manager.resumeHeld();
    ASSERT_TRUE(waitUntil([&] { return second.count.load() > 2; }));

    first.armed.store(true);
    ASSERT_TRUE(waitUntil([&] { return first.entered.load(); }));
    const uint32_t before = second.count.load();
    ASSERT_TRUE(returnsInTime([&] { third.attach(); }));
    EXPECT_EQ(second.count.load(), before);
    EXPECT_EQ(manager.state.load(), ThreadManager::stateHeld);
    manager.resumeHeld();
    ASSERT_TRUE(waitUntil([&] { return third.count.load() > 0 && second.count.load() > before; }));
    ASSERT_TRUE(returnsInTime([&] { manager.stop(); }));
}

TEST(ThreadManagerTest, AttachAndDetachHoldTheManagerUntilResumed)
{
    ThreadManager manager;
    CountingJob running(&manager), added(&manager);
    startManager(manager, running);
    ASSERT_TRUE(waitUntil([&] { return running.count.load() > 2; }));

    ASSERT_TRUE(returnsInTime([&] { added.attach(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateHeld);
    EXPECT_EQ(manager.jobs.count(), 2);
    const uint32_t held = running.count.load();
    Sleep(60);
    EXPECT_EQ(running.count.load(), held) << "no job runs until the main thread resumes";
    EXPECT_EQ(added.count.load(), 0u);

    ASSERT_TRUE(returnsInTime([&] { manager.resumeHeld(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateRunning);
    ASSERT_TRUE(waitUntil([&] { return added.count.load() > 2; }));

    ASSERT_TRUE(returnsInTime([&] { added.detach(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateHeld);
    EXPECT_EQ(manager.jobs.count(), 1);
    manager.resumeHeld();
    const uint32_t afterDetach = added.count.load();
    ASSERT_TRUE(waitUntil([&] { return running.count.load() > held + 5; }));
    EXPECT_EQ(added.count.load(), afterDetach);
    ASSERT_TRUE(returnsInTime([&] { manager.stop(); }));
    EXPECT_EQ(manager.jobs.count(), 0);
}

TEST(ThreadManagerTest, StopEndsAHeldManager)
{
    // Heap objects: a hang would leave the helper thread using them.
    auto* manager = new ThreadManager;
    auto* job = new CountingJob(manager);
    auto* late = new CountingJob(manager);
    startManager(*manager, *job);
    ASSERT_TRUE(waitUntil([&] { return job->count.load() > 0; }));
    ASSERT_TRUE(returnsInTime([&] { late->attach(); }));
    ASSERT_EQ(manager->state.load(), ThreadManager::stateHeld);

    ASSERT_TRUE(returnsInTime([&] { manager->stop(); }));
    EXPECT_EQ(manager->state.load(), ThreadManager::stateStopped);
    EXPECT_FALSE(manager->thread.isRunning());

    // The manager can run again.
    startManager(*manager, *late);
    ASSERT_TRUE(waitUntil([&] { return late->count.load() > 0; }));
    ASSERT_TRUE(returnsInTime([&] { delete manager; }));
    delete job;
    delete late;
}
