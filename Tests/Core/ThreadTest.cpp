#include "Core/Thread.h"
#include "Core/ThreadManager.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

namespace {

constexpr DWORD kWaitLimitMs = 5000;

// Polls until the condition holds or the limit passes.
bool waitUntil(const std::function<bool()>& condition, DWORD limitMs = kWaitLimitMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > limitMs)
            return false;
        Sleep(1);
    }
    return true;
}

// Runs a call that may block for ever on a helper thread and reports whether
// it returned in time. On a time-out the helper is left behind, so whatever
// the call touches must outlive the test (tests leak it then).
bool returnsWithin(std::function<void()> call, DWORD limitMs = kWaitLimitMs)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread helper([call, done] {
        call();
        done->store(true);
    });
    bool finished = waitUntil([&] { return done->load(); }, limitMs);
    if (finished)
        helper.join();
    else
        helper.detach();
    return finished;
}

class CountingMethod : public Thread::Method {
public:
    uint32_t run(Thread& /*thread*/, uint32_t userValue) override
    {
        lastUserValue.store(userValue);
        lastThreadId.store(GetCurrentThreadId());
        uint32_t calls = ++count;
        return calls < callsBeforeDone ? 1u : 0u;
    }

    std::atomic<uint32_t> count{0};
    std::atomic<uint32_t> lastUserValue{0};
    std::atomic<DWORD> lastThreadId{0};
    uint32_t callsBeforeDone = UINT32_MAX;
};

class CountingJob : public ThreadManager::Interface {
public:
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
class PauseWaitingJob : public ThreadManager::Interface {
public:
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

bool jobListHolds(ThreadManager& manager, ThreadManager::Interface* job)
{
    for (auto* node = manager.jobs.head(); node; node = node->next)
        if (node->item == job)
            return true;
    return false;
}

// A manager running its rounds with the given first job, as its owner starts it.
void startManager(ThreadManager& manager, ThreadManager::Interface& firstJob)
{
    firstJob.attach();
    manager.thread.start();
    manager.state.store(ThreadManager::stateRunning);
}

} // namespace

TEST(ThreadTest, StopHandshakeEndsARunningThread)
{
    CountingMethod method;
    Thread thread(&method, 77);
    EXPECT_FALSE(thread.isRunning());

    thread.start();
    ASSERT_TRUE(thread.isRunning());
    ASSERT_TRUE(waitUntil([&] { return method.count.load() > 3; }));
    DWORD firstThread = method.lastThreadId.load();
    EXPECT_NE(firstThread, GetCurrentThreadId());
    EXPECT_EQ(method.lastUserValue.load(), 77u);

    // A second start while it runs changes nothing.
    thread.start();
    ASSERT_TRUE(waitUntil([&] { return method.count.load() > 10; }));
    EXPECT_EQ(method.lastThreadId.load(), firstThread);

    ASSERT_TRUE(returnsWithin([&] { thread.stop(); }));
    EXPECT_FALSE(thread.isRunning());
    EXPECT_EQ(thread.stopRequested.load(), 0u);
    uint32_t countAtStop = method.count.load();
    Sleep(20);
    EXPECT_EQ(method.count.load(), countAtStop);

    // Stopping again, or a thread never started, is harmless.
    thread.stop();
    Thread idle(&method);
    idle.stop();
}

TEST(ThreadTest, MethodThatIsDoneEndsTheThreadWhichCanStartAgain)
{
    CountingMethod method;
    method.callsBeforeDone = 1;
    Thread thread(&method);

    thread.start();
    ASSERT_TRUE(waitUntil([&] { return !thread.isRunning(); }));
    EXPECT_EQ(method.count.load(), 1u);
    EXPECT_EQ(thread.stopRequested.load(), 0u);

    thread.start();
    ASSERT_TRUE(waitUntil([&] { return !thread.isRunning(); }));
    EXPECT_EQ(method.count.load(), 2u);

    // The owner can still wait on a thread that ended by itself.
    ASSERT_TRUE(returnsWithin([&] { thread.stop(); }));
}

TEST(ThreadTest, DestroyingARunningThreadStopsIt)
{
    CountingMethod method;
    auto* thread = new Thread(&method);
    thread->start();
    ASSERT_TRUE(waitUntil([&] { return method.count.load() > 0; }));
    ASSERT_TRUE(returnsWithin([&] { delete thread; }));
    uint32_t countAfter = method.count.load();
    Sleep(20);
    EXPECT_EQ(method.count.load(), countAfter);
}

TEST(ThreadTest, FaultInAMethodEndsOnlyItsThread)
{
    class FaultingMethod : public Thread::Method {
    public:
        uint32_t run(Thread&, uint32_t) override
        {
            RaiseException(0xE0000001, EXCEPTION_NONCONTINUABLE, 0, nullptr);
            return 1;
        }
    } faulting;
    CountingMethod counting;
    Thread crashing(&faulting);
    Thread healthy(&counting);
    healthy.start();
    crashing.start();
    ASSERT_TRUE(waitUntil([&] { return !crashing.isRunning(); }));
    uint32_t count = counting.count.load();
    ASSERT_TRUE(waitUntil([&] { return counting.count.load() > count + 3; }));
    EXPECT_TRUE(healthy.isRunning());
    ASSERT_TRUE(returnsWithin([&] { healthy.stop(); crashing.stop(); }));
}

TEST(ThreadManagerTest, AttachBeforeTheThreadRunsAppendsAtOnce)
{
    ThreadManager manager;
    CountingJob first(&manager);
    CountingJob second(&manager);
    first.attach();
    second.attach();
    EXPECT_EQ(manager.state.load(), ThreadManager::stateStopped);
    ASSERT_EQ(manager.jobs.count(), 2);
    EXPECT_EQ(manager.jobs.head()->item, &first);
    EXPECT_EQ(manager.jobs.tail()->item, &second);

    second.detach();
    EXPECT_EQ(manager.jobs.count(), 1);
    EXPECT_FALSE(jobListHolds(manager, &second));
    EXPECT_EQ(first.count.load(), 0u);
}

TEST(ThreadManagerTest, RoundsRunEveryJobAndSleepTheRestOfTwentyMilliseconds)
{
    ThreadManager manager;
    CountingJob quick(&manager);
    quick.workMs = 5;
    CountingJob other(&manager);
    other.attach();
    startManager(manager, quick);

    DWORD start = GetTickCount();
    ASSERT_TRUE(waitUntil([&] { return quick.count.load() >= 10; }));
    DWORD elapsed = GetTickCount() - start;
    uint32_t rounds = quick.count.load();
    // Both jobs run once per round; rounds are paced, not spun.
    EXPECT_LE(rounds, elapsed / ThreadManager::roundMilliseconds + 3);
    EXPECT_GE(other.count.load() + 1, rounds);
    EXPECT_LE(other.count.load(), rounds + 2);

    ASSERT_TRUE(returnsWithin([&] { manager.stop(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateStopped);
    EXPECT_EQ(manager.jobs.count(), 0);
    EXPECT_FALSE(manager.thread.isRunning());
}

TEST(ThreadManagerTest, AttachAndDetachHoldTheManagerUntilResumed)
{
    ThreadManager manager;
    CountingJob running(&manager);
    startManager(manager, running);
    ASSERT_TRUE(waitUntil([&] { return running.count.load() > 2; }));

    CountingJob added(&manager);
    ASSERT_TRUE(returnsWithin([&] { added.attach(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateHeld);
    EXPECT_TRUE(jobListHolds(manager, &added));

    // Held: no job runs until the main thread grants the resume.
    uint32_t held = running.count.load();
    Sleep(60);
    EXPECT_EQ(running.count.load(), held);
    EXPECT_EQ(added.count.load(), 0u);

    ASSERT_TRUE(returnsWithin([&] { manager.resumeHeld(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateRunning);
    ASSERT_TRUE(waitUntil([&] { return added.count.load() > 2; }));

    ASSERT_TRUE(returnsWithin([&] { added.detach(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateHeld);
    EXPECT_FALSE(jobListHolds(manager, &added));
    manager.resumeHeld();
    uint32_t afterDetach = added.count.load();
    ASSERT_TRUE(waitUntil([&] { return running.count.load() > held + 5; }));
    EXPECT_EQ(added.count.load(), afterDetach);

    // A job that is not in the list still holds the manager and changes nothing.
    ASSERT_TRUE(returnsWithin([&] { added.detach(); }));
    EXPECT_EQ(manager.state.load(), ThreadManager::stateHeld);
    EXPECT_EQ(manager.jobs.count(), 1);
    manager.resumeHeld();
    // Resuming a manager that is not held does nothing.
    manager.resumeHeld();
    EXPECT_EQ(manager.state.load(), ThreadManager::stateRunning);
    manager.stop();
}

TEST(ThreadManagerTest, PauseRequestSkipsTheRestOfTheRound)
{
    ThreadManager manager;
    PauseWaitingJob first(&manager);
    CountingJob second(&manager);
    startManager(manager, first);
    second.attach();
    manager.resumeHeld();
    ASSERT_TRUE(waitUntil([&] { return second.count.load() > 2; }));

    first.armed.store(true);
    ASSERT_TRUE(waitUntil([&] { return first.entered.load(); }));
    uint32_t before = second.count.load();
    CountingJob third(&manager);
    ASSERT_TRUE(returnsWithin([&] { third.attach(); }));
    EXPECT_EQ(second.count.load(), before);
    EXPECT_EQ(manager.state.load(), ThreadManager::stateHeld);
    manager.resumeHeld();
    ASSERT_TRUE(waitUntil([&] { return third.count.load() > 0; }));
    manager.stop();
}

TEST(ThreadManagerTest, StopEndsAHeldManager)
{
    // Heap objects: a hang would leave the helper thread using them.
    auto* manager = new ThreadManager;
    auto* job = new CountingJob(manager);
    auto* late = new CountingJob(manager);
    startManager(*manager, *job);
    ASSERT_TRUE(waitUntil([&] { return job->count.load() > 0; }));
    ASSERT_TRUE(returnsWithin([&] { late->attach(); }));
    ASSERT_EQ(manager->state.load(), ThreadManager::stateHeld);

    ASSERT_TRUE(returnsWithin([&] { manager->stop(); }));
    EXPECT_EQ(manager->state.load(), ThreadManager::stateStopped);
    EXPECT_EQ(manager->jobs.count(), 0);
    EXPECT_FALSE(manager->thread.isRunning());

    // The jobs outlive the list; the manager can run again.
    startManager(*manager, *late);
    ASSERT_TRUE(waitUntil([&] { return late->count.load() > 0; }));
    ASSERT_TRUE(returnsWithin([&] { delete manager; }));
    delete job;
    delete late;
}
