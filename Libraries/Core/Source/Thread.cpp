#include "Core/Thread.h"

#include "Core/CrashGuard.h"

#include <windows.h>
#include <mmsystem.h>
#include <ole2.h>
#include <process.h>

#include <cstdlib>

Thread::Thread(Method* threadMethod, uint32_t value)
    : userValue(value), method(threadMethod)
{
}

Thread::~Thread()
{
    stop();
}

Thread& Thread::start()
{
    if (isRunning())
        return *this;
    // A thread that ended by itself leaves its handle for us to close.
    closeHandle();

    stopRequested.store(0, std::memory_order_release);
    running.store(1, std::memory_order_release);
    uintptr_t created = _beginthreadex(nullptr, 0, &Thread::procedure, this, 0, nullptr);
    if (created == 0) {
        running.store(0, std::memory_order_release);
        return *this;
    }
    handle = reinterpret_cast<void*>(created);
    return *this;
}

void Thread::stop()
{
    if (handle == nullptr)
        return;
    stopRequested.store(1, std::memory_order_release);
    closeHandle();
    stopRequested.store(0, std::memory_order_release);
}

void Thread::closeHandle()
{
    if (handle == nullptr)
        return;
    // Waits for the thread to end (after a stop request, or for the last
    // instructions of a body that ended by itself) before the handle goes.
    WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
    CloseHandle(static_cast<HANDLE>(handle));
    handle = nullptr;
}

void Thread::runMethod(Thread& thread)
{
    while (thread.stopRequested.load(std::memory_order_acquire) == 0) {
        if (thread.method == nullptr || thread.method->run(thread, thread.userValue) == 0)
            break;
    }
}

unsigned __stdcall Thread::procedure(void* argument)
{
    Thread& thread = *static_cast<Thread*>(argument);

    OleInitialize(nullptr);
    // Each thread draws from its own random sequence.
    srand(timeGetTime());

    // A fault inside the method is reported by the crash protection and ends
    // only this thread; the guard makes the thread's crash record.
    CrashGuard::run([](void* context) { runMethod(*static_cast<Thread*>(context)); }, &thread);

    OleUninitialize();
    thread.stopRequested.store(0, std::memory_order_release);
    thread.running.store(0, std::memory_order_release);
    return 0;
}
