#pragma once
// The structured-exception guard around the main run and every thread body.
// GCC has no __try/__except, so the guard is a process-wide unhandled-exception
// filter plus a per-thread chain of guard frames. A fault escaping a guarded
// body makes the filter copy the exception record, the context and the crash
// trace, then unwind back into CrashGuard::run, which has the protocol written
// and the crash reported on a sound stack and returns false. The filter does
// no more than copy because after a stack overflow it runs on the few
// kilobytes the guard keeps back for it.
#include <windows.h>

class CrashGuard {
public:
    // Implemented by the application's crash protection. Every call runs on the
    // guarded thread.
    class Interface {
    public:
        virtual ~Interface() = default;
        // A new crash record for the thread entering a guard; may return null.
        virtual void* enterGuard() = 0;
        // Record the exception from the copies of its record and context made
        // at the fault; the crash trace holds the marks of that moment again.
        virtual void writeProtocol(void* record, EXCEPTION_POINTERS* pointers) = 0;
        // The handler: tell the user, keep or send the protocol, shut down.
        virtual void report(void* record) = 0;
        // The guard is left, normally or after a report: release the record.
        virtual void leaveGuard(void* record) = 0;
    };

    // Sets the crash protection (null: faults are still caught, nothing is written).
    static void setInterface(Interface* handler);
    static Interface* getInterface();

    // Runs body(context) under the guard. Returns true when it returned, false
    // after a fault was caught and reported.
    static bool run(void (*body)(void* context), void* context);
};
