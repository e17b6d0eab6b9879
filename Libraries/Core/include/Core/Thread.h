#pragma once

#include <atomic>
#include <cstdint>

// A worker thread that calls one Method again and again until the method
// returns 0 or its owner asks it to stop.
//
// Ownership: the Thread record belongs to its owner, who keeps the thread
// handle and closes it (stop(), a later start(), or the destructor). The
// thread itself never touches the handle; when it ends it only clears the
// running and stop words. So an owner can always wait on the handle it holds.
//
// Thread: start(), stop() and the destructor are called by the owner's thread;
// isRunning() and stopRequested may be read from any thread.
class Thread {
public:
    class Method {
    public:
        // Called on the worker thread. Non-zero asks to be called again; 0 ends the thread.
        virtual uint32_t run(Thread& thread, uint32_t userValue) = 0;

    protected:
        ~Method() = default;
    };

    explicit Thread(Method* method = nullptr, uint32_t userValue = 0);
    // Stops a thread that still runs and closes the handle.
    virtual ~Thread();

    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Starts the thread unless one is already running. A thread that ended by
    // itself is reaped first, so a record can be started again. When the
    // thread cannot be created, isRunning() stays false.
    Thread& start();

    // The stop handshake: asks the thread to end after the method's current
    // call, waits for it without limit and closes the handle. Does nothing
    // when the thread was never started.
    void stop();

    // True from start() until the thread's body has ended (the "has a handle"
    // test of the thread's users).
    bool isRunning() const { return running.load(std::memory_order_acquire) != 0; }

    // Set to 1 by the owner to ask the thread to end; cleared when it ends.
    std::atomic<uint32_t> stopRequested{0};
    uint32_t userValue = 0;
    Method* method = nullptr; // not owned

private:
    static unsigned __stdcall procedure(void* argument);
    // The thread body inside the crash guard: calls the method until it is
    // done or a stop is asked.
    static void runMethod(Thread& thread);
    void closeHandle();

    void* handle = nullptr; // owned by the Thread record, closed by its owner's thread
    std::atomic<uint32_t> running{0};
};
