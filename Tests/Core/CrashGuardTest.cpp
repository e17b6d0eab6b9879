#include "Core/CrashGuard.h"
#include "Core/CrashTrace.h"

#include "RunawayRecursion.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace
{
struct Recorder : CrashGuard::Interface
{
    std::vector<std::wstring> calls;

    void* enterGuard() override { return calls.push_back(L"enter"), this; }
    // The fault's code and the latest trace mark, as the protocol shows them.
    void writeProtocol(void*, EXCEPTION_POINTERS* p) override
    {
        calls.push_back(std::to_wstring(p->ExceptionRecord->ExceptionCode) + L" " +
                        (CrashTrace::source() ? CrashTrace::source() : L"") + L":" + std::to_wstring(CrashTrace::line()));
    }
    void report(void*) override { calls.push_back(L"report"); }
    void leaveGuard(void*) override { calls.push_back(L"leave"); }
};

uint32_t traceLine = 0;

void accessViolation(void*)
{
    CRASH_TRACE(), traceLine = __LINE__;
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

uint32_t recursionLine = 0;

void runaway(void*)
{
    CRASH_TRACE(), recursionLine = __LINE__;
    runawayRecursion(0);
}

// Faults under the guard, each twice on one thread (a stack overflow uses up
// the stack's guard page, which must come back): caught and traced, in order.
void expectCaught(Recorder& recorder)
{
    const struct {
        void (*body)(void*);
        DWORD code;
        const uint32_t& line;
    } faults[] = {{accessViolation, EXCEPTION_ACCESS_VIOLATION, traceLine},
                  {runaway, EXCEPTION_STACK_OVERFLOW, recursionLine}};
    for (const auto& fault : faults)
        for (int round = 0; round < 2; ++round) {
            CrashTrace::clear();
            recorder.calls.clear();
            EXPECT_FALSE(CrashGuard::run(fault.body, nullptr));
            const std::wstring protocol = std::to_wstring(fault.code) + L" .\\Source\\CrashGuardTest.cpp:" +
                                          std::to_wstring(fault.line);
            EXPECT_EQ(recorder.calls, (std::vector<std::wstring>{L"enter", protocol, L"report", L"leave"}))
                << fault.code << " round " << round;
        }
}
}

TEST(CrashGuard, FaultsAreCaughtWithTheTraceOnTheMainRunAndAnotherThread)
{
    Recorder recorder;
    CrashGuard::setInterface(&recorder);
    int value = 0;
    EXPECT_TRUE(CrashGuard::run([](void* context) { *static_cast<int*>(context) = 42; }, &value));
    EXPECT_EQ(value, 42);
    EXPECT_EQ(recorder.calls, (std::vector<std::wstring>{L"enter", L"leave"}));

    expectCaught(recorder);
    std::thread other([&] { expectCaught(recorder); });
    other.join();
    EXPECT_TRUE(CrashGuard::run([](void*) {}, nullptr)) << "the guard still works on this thread afterwards";
    CrashGuard::setInterface(nullptr);
}

TEST(CrashTrace, LastStringAndValuesAreBounded)
{
    const std::wstring longText(2000, L'x');
    CrashTrace::setLastString(longText.c_str());
    wchar_t buffer[1024];
    CrashTrace::copyLastString(buffer, 1024);
    EXPECT_EQ(std::wstring(buffer).size(), size_t(CrashTrace::lastStringCapacity - 1));
    CrashTrace::setLastValues(1, -2, 3, INTPTR_MAX);
    EXPECT_EQ(CrashTrace::lastValue(3), INTPTR_MAX);
    EXPECT_EQ(CrashTrace::lastValue(7), 0);
}
