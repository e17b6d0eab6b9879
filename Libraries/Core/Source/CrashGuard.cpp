#include "Core/CrashGuard.h"

#include "Core/CrashTrace.h"

#include <malloc.h>

#include <atomic>
#include <csetjmp>
#include <cstring>
#include <mutex>

namespace {

// Stack kept back for the exception dispatch when a thread overflows its stack.
// Wine raises the overflow with about a page left whatever is asked for, which
// is why the overflow is handled by copying alone.
constexpr ULONG stackGuarantee = 64 * 1024;

struct Frame {
    jmp_buf jump;
    Frame* outer;
    void* record;
    // Copied by the filter at the fault; the protocol is formatted from them
    // after the jump, on the guard's own part of the stack.
    EXCEPTION_RECORD exception;
    CONTEXT context;
    CrashTrace::Snapshot trace;
};

thread_local Frame* innermost = nullptr;
std::atomic<CrashGuard::Interface*> handler{nullptr};
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;
std::once_flag filterInstalled;

// Copies the fault into the guard frame. Runs on what is left of the faulting
// thread's stack, which after a stack overflow is very little: no formatting.
void copyFault(Frame* frame, EXCEPTION_POINTERS* pointers)
{
    frame->exception = *pointers->ExceptionRecord;
    frame->exception.ExceptionRecord = nullptr; // the chain may live in the unwound frames
    frame->context = *pointers->ContextRecord;
    CrashTrace::save(frame->trace);
}

LONG WINAPI guardFilter(EXCEPTION_POINTERS* pointers)
{
    Frame* frame = innermost;
    if (!frame)
        return previousFilter ? previousFilter(pointers) : EXCEPTION_CONTINUE_SEARCH;
    copyFault(frame, pointers);
    // Unwinds the faulting frames back into run().
    longjmp(frame->jump, 1);
}

// Makes the thread resume where run() called setjmp, with setjmp returning 1:
// a longjmp that unwinds nothing.
void resumeAtGuard(const jmp_buf& jump, CONTEXT& context)
{
    const auto& saved = reinterpret_cast<const _JUMP_BUFFER&>(jump);
    context.Rbx = saved.Rbx;
    context.Rsp = saved.Rsp;
    context.Rbp = saved.Rbp;
    context.Rsi = saved.Rsi;
    context.Rdi = saved.Rdi;
    context.R12 = saved.R12;
    context.R13 = saved.R13;
    context.R14 = saved.R14;
    context.R15 = saved.R15;
    context.Rip = saved.Rip;
    context.Rax = 1;
    context.MxCsr = saved.MxCsr;
    context.FltSave.MxCsr = saved.MxCsr;
    context.FltSave.ControlWord = saved.FpCsr;
    memcpy(&context.Xmm6, &saved.Xmm6, 10 * sizeof(M128A));
}

// A stack overflow is taken before the search through the frames: no handler
// of a frame could run on the page that is left (under Wine not even the
// search fits there), and neither could an unwinding jump. The copies are
// made and the thread resumes in run(); the overflowed frames are abandoned
// without their destructors.
LONG WINAPI overflowHandler(EXCEPTION_POINTERS* pointers)
{
    Frame* frame = innermost;
    if (!frame || pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    copyFault(frame, pointers);
    resumeAtGuard(frame->jump, *pointers->ContextRecord);
    return EXCEPTION_CONTINUE_EXECUTION;
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
    std::call_once(filterInstalled, [] {
        previousFilter = SetUnhandledExceptionFilter(guardFilter);
        AddVectoredExceptionHandler(1, overflowHandler);
    });
    // Only ever raises the thread's guarantee.
    ULONG guarantee = stackGuarantee;
    SetThreadStackGuarantee(&guarantee);

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
    // The overflow used up the guard page: put it back, or the next overflow
    // of this thread would end the process without a word.
    if (frame.exception.ExceptionCode == EXCEPTION_STACK_OVERFLOW)
        _resetstkoflw();
    // Marks made since the fault (by cleanups the unwinding may run) must not
    // stand in for the fault's.
    CrashTrace::restore(frame.trace);
    if (Interface* now = handler.load()) {
        EXCEPTION_POINTERS pointers{&frame.exception, &frame.context};
        now->writeProtocol(frame.record, &pointers);
        now->report(frame.record);
        now->leaveGuard(frame.record);
    }
    return false;
}
