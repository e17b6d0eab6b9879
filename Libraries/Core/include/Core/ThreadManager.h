#pragma once

#include "Core/SCList.h"
#include "Core/Thread.h"

#include <atomic>
#include <cstdint>

// Runs a list of small jobs in 20 ms rounds on one thread of its own.
//
// The job list is changed only while the manager is held or not running. The
// hold is a handshake through one state word:
//   0 not running, 1 running rounds, 2 pause asked, 3 held, 4 resume granted.
// A job's attach or detach asks for the pause (1 -> 2), waits until the manager
// holds (3), changes the list and returns with the manager still held; the main
// thread's per-frame step (resumeHeld) grants the resume (3 -> 4) and waits
// until the manager runs again (1). So the jobs never run while the list
// changes, and at most one list change passes per frame.
//
// Thread: attach, detach, resumeHeld, stop and the destructor run on the
// owner's thread (the main thread); the jobs' cycles run on the manager's thread.
class ThreadManager final : public Thread::Method {
public:
    class Interface {
    public:
        // One step of the job, called once per round on the manager's thread.
        virtual void cycle() = 0;

        // Holds the manager (when it runs), then appends this job to its list.
        void attach();
        // Holds the manager (when it runs), then removes this job from its
        // list; a job that is not in the list changes nothing.
        void detach();

        virtual ~Interface() = default;

        // Set by the job's implementer before attach.
        ThreadManager* manager = nullptr;
    };

    // State 0, no jobs, the thread not started. The owner attaches the first
    // job, starts `thread` and then sets `state` to 1.
    ThreadManager();
    // Stops the thread and frees the list's nodes; the jobs are not deleted.
    ~ThreadManager();

    // One round on the manager's thread; always asks to be called again.
    uint32_t run(Thread& thread, uint32_t userValue) override;

    // Ends the thread (also when it is held), sets state 0 and empties the
    // list without deleting the jobs.
    void stop();

    // The resumer's half of the handshake: when the thread runs and is held,
    // grants the resume and waits until the manager runs its rounds again.
    void resumeHeld();

    // The requester's half of the handshake (attach, detach and any other
    // change of what the jobs read): when the thread runs, asks for the
    // pause and returns once the manager holds; a held manager stays held.
    void holdForListChange();

    static constexpr uint32_t stateStopped = 0;
    static constexpr uint32_t stateRunning = 1;
    static constexpr uint32_t statePauseAsked = 2;
    static constexpr uint32_t stateHeld = 3;
    static constexpr uint32_t stateResumeGranted = 4;
    static constexpr uint32_t roundMilliseconds = 20;

    std::atomic<uint32_t> state{stateStopped};
    Thread thread;
    SCList<Interface> jobs; // not owned
};
