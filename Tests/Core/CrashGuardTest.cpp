#include "Core/CrashGuard.h"
#include "Core/CrashTrace.h"

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

void accessViolation(void* context)
{
    struct Witness
    {
        bool* destroyed;
        ~Witness() { *destroyed = true; }
    } witness{static_cast<bool*>(context)};
    CRASH_TRACE(), traceLine = __LINE__;
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

// An access violation under the guard: caught, traced and unwound, in order.
void expectCaughtAndUnwound(Recorder& recorder)
{
    CrashTrace::clear();
    recorder.calls.clear();
    bool destroyed = false;
    EXPECT_FALSE(CrashGuard::run(accessViolation, &destroyed));
    EXPECT_TRUE(destroyed) << "frames between the fault and the guard are unwound";
    const std::wstring protocol = std::to_wstring(EXCEPTION_ACCESS_VIOLATION) + L" .\\Source\\CrashGuardTest.cpp:" +
                                  std::to_wstring(traceLine);
    EXPECT_EQ(recorder.calls, (std::vector<std::wstring>{L"enter", protocol, L"report", L"leave"}));
}
}

TEST(CrashGuard, AccessViolationIsCaughtWithTheTraceOnTheMainRunAndAnotherThread)
{
    Recorder recorder;
    CrashGuard::setInterface(&recorder);
    int value = 0;
    EXPECT_TRUE(CrashGuard::run([](void* context) { *static_cast<int*>(context) = 42; }, &value));
    EXPECT_EQ(value, 42);
    EXPECT_EQ(recorder.calls, (std::vector<std::wstring>{L"enter", L"leave"}));

    expectCaughtAndUnwound(recorder);
    std::thread other([&] { expectCaughtAndUnwound(recorder); });
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
