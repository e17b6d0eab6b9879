// A guarded program that faults on purpose: "CrashProbe <folder> mode", mode
// thread, main or overflow (a runaway recursion in the main run, twice). It
// answers the report's boxes itself, keeps the protocols in <folder> and must
// end by itself with exit code 0.
#include "Application/CrashProtection.h"

#include "Core/CrashGuard.h"
#include "Core/CrashTrace.h"
#include "Core/Thread.h"

#include "../../Core/RunawayRecursion.h"

#include <windows.h>

namespace {

DWORD mainThread;
bool onThread, overflow;
int shutdowns = 0;

int answerNo(HWND, const wchar_t*, const wchar_t*, UINT type) { return (type & MB_YESNO) ? IDNO : IDOK; }
void shutdownHere() { ++shutdowns; }
void afterReport() { CrashProtection::endApplication(mainThread, shutdownHere); }

struct Faulting : Thread::Method {
    uint32_t run(Thread&, uint32_t) override
    {
        CRASH_TRACE();
        volatile int* volatile nowhere = nullptr;
        *nowhere = 1;
        return 0;
    }
};

void mainRun(void*)
{
    CRASH_TRACE();
    if (overflow)
        runawayRecursion(0);
    if (!onThread)
        RaiseException(0xC0000094, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    Faulting method;
    Thread worker(&method);
    worker.start();
    // The main loop ends when the crash report posts WM_QUIT (a minute at
    // most: only a report that never comes takes that long).
    MSG message;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(1)) {
        if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE) && message.message == WM_QUIT) {
            worker.stop();
            shutdownHere();
            return;
        }
    }
    ExitProcess(3); // never answered
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    mainThread = GetCurrentThreadId();
    onThread = lstrcmpW(argv[2], L"thread") == 0;
    overflow = lstrcmpW(argv[2], L"overflow") == 0;
    CrashProtection::configure(L"Korvanta", L"1.0", afterReport);
    CrashProtection::setServer({});
    CrashProtection::setMessageBox(answerNo);
    CrashProtection::setLocalFolder(String(argv[1]).addBackslash());
    // A second overflow on the same thread must be caught as well as the first.
    const int runs = overflow ? 2 : 1;
    for (int i = 0; i < runs; ++i)
        CrashGuard::run(mainRun, nullptr);
    return shutdowns == runs ? 0 : 1;
}
