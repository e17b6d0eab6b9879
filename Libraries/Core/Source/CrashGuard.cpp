#include "Core/CrashGuard.h"

#include <atomic>
#include <csetjmp>
#include <mutex>

namespace {

struct Frame {
    jmp_buf jump;
    Frame* outer;
    void* record;
};

thread_local Frame* innermost = nullptr;
std::atomic<CrashGuard::Interface*> handler{nullptr};
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
std::once_flag filterInstalled;

LONG WINAPI guardFilter(EXCEPTION_POINTERS* pointers)
{
    Frame* frame = innermost;
    if (!frame)
        return previousFilter ? previousFilter(pointers) : EXCEPTION_CONTINUE_SEARCH;
    if (CrashGuard::Interface* h = handler.load())
        h->writeProtocol(frame->record, pointers);
    // Unwinds the faulting frames (running their destructors) back into run().
    longjmp(frame->jump, 1);
}

}

void CrashGuard::setInterface(Interface* h)
{
    handler.store(h);
}

CrashGuard::Interface* CrashGuard::getInterface()
{
    return handler.load();
}

bool CrashGuard::run(void (*body)(void*), void* context)
{
    std::call_once(filterInstalled, [] { previousFilter = SetUnhandledExceptionFilter(guardFilter); });

    Interface* h = handler.load();
    Frame frame;
    frame.outer = innermost;
    frame.record = h ? h->enterGuard() : nullptr;

    // Everything the crash path reads after the jump lives in 'frame', which is
    // not modified between setjmp and longjmp.
    if (setjmp(frame.jump) == 0) {
        innermost = &frame;
        body(context);
        innermost = frame.outer;
        if (h)
            h->leaveGuard(frame.record);
        return true;
    }

    innermost = frame.outer;
    if (Interface* now = handler.load()) {
        now->report(frame.record);
        now->leaveGuard(frame.record);
    }
    return false;
}
