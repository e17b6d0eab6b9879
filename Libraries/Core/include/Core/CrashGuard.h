#pragma once
// The structured-exception guard around the main run and every thread body.
// GCC has no __try/__except, so the guard is a process-wide unhandled-exception
// filter plus a per-thread chain of guard frames: a fault escaping a guarded
// body lets the crash handler write its protocol while the faulting state is
// still there, then unwinds back into CrashGuard::run, which reports the crash
// on a sound stack and returns false.
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
        // The filter: record the exception while its context is intact.
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
