#include "Core/ThreadManager.h"

#include <windows.h>
#include <mmsystem.h>

ThreadManager::ThreadManager()
    : thread(this, 0)
{
}

ThreadManager::~ThreadManager()
{
    stop();
}

uint32_t ThreadManager::run(Thread& /*thread*/, uint32_t /*userValue*/)
{
    DWORD start = timeGetTime();

    for (SCList<Interface>::Node* node = jobs.head(); node; node = node->next) {
        if (state.load(std::memory_order_acquire) == statePauseAsked)
            break;
        if (node->item)
            node->item->cycle();
    }

    // Rounds are measured from their start; a long round is followed at once.
    int32_t remaining = static_cast<int32_t>(start + roundMilliseconds - timeGetTime());
    if (remaining > 0 && state.load(std::memory_order_acquire) != statePauseAsked)
        SleepEx(static_cast<DWORD>(remaining), TRUE);

    uint32_t expected = statePauseAsked;
    if (state.compare_exchange_strong(expected, stateHeld, std::memory_order_acq_rel)) {
        // A held manager still heeds a stop request, so that stop() never
        // waits for ever on a manager that nobody resumes.
        while (state.load(std::memory_order_acquire) != stateResumeGranted
               && thread.stopRequested.load(std::memory_order_acquire) == 0)
            SleepEx(1, TRUE);
        expected = stateResumeGranted;
        state.compare_exchange_strong(expected, stateRunning, std::memory_order_acq_rel);
    }
    return 1;
}

void ThreadManager::stop()
{
    thread.stop();
    state.store(stateStopped, std::memory_order_release);
    jobs.clearWith([](Interface*) {});
}

void ThreadManager::resumeHeld()
{
    if (!thread.isRunning())
        return;
    uint32_t expected = stateHeld;
    if (!state.compare_exchange_strong(expected, stateResumeGranted, std::memory_order_acq_rel))
        return;
    while (state.load(std::memory_order_acquire) != stateRunning && thread.isRunning())
        Sleep(0);
}

void ThreadManager::holdForListChange()
{
    if (!thread.isRunning())
        return;
    uint32_t expected = stateRunning;
    if (!state.compare_exchange_strong(expected, statePauseAsked, std::memory_order_acq_rel))
        return;
    // A thread that ends meanwhile (a crash in a job) holds nothing any more.
    while (state.load(std::memory_order_acquire) != stateHeld && thread.isRunning())
        Sleep(0);
}

void ThreadManager::Interface::attach()
{
    if (manager == nullptr)
        return;
    manager->holdForListChange();
    manager->jobs.append(this);
}

void ThreadManager::Interface::detach()
{
    if (manager == nullptr)
        return;
    manager->holdForListChange();
    for (SCList<Interface>::Node* node = manager->jobs.head(); node; node = node->next) {
        if (node->item == this) {
            manager->jobs.unlink(node);
            return;
        }
    }
}
