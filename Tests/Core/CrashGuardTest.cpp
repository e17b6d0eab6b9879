#include "Core/CrashGuard.h"
#include "Core/CrashTrace.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

struct Recorder : CrashGuard::Interface {
    int entered = 0, left = 0, reported = 0;
    DWORD code = 0;
    void* address = nullptr;
    std::wstring source;
    uint32_t line = 0;
    std::vector<std::string> order;

    void* enterGuard() override { ++entered; return this; }
    void writeProtocol(void* record, EXCEPTION_POINTERS* p) override
    {
        EXPECT_EQ(record, this);
        code = p->ExceptionRecord->ExceptionCode;
        address = p->ExceptionRecord->ExceptionAddress;
        source = CrashTrace::source() ? CrashTrace::source() : L"";
        line = CrashTrace::line();
        order.push_back("protocol");
    }
    void report(void*) override { ++reported; order.push_back("report"); }
    void leaveGuard(void*) override { ++left; order.push_back("leave"); }
};

struct Guarded {
    Recorder recorder;
    Guarded() { CrashGuard::setInterface(&recorder); }
    ~Guarded() { CrashGuard::setInterface(nullptr); }
};

struct Witness {
    bool* destroyed;
    ~Witness() { *destroyed = true; }
};

void accessViolation(void* context)
{
    bool* destroyed = static_cast<bool*>(context);
    Witness w{destroyed};
    CRASH_TRACE();
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
}

void raiseUserException(void*)
{
    RaiseException(0xC000034E, EXCEPTION_NONCONTINUABLE, 0, nullptr);
}

void returnsNormally(void* context) { *static_cast<int*>(context) = 42; }

}

TEST(CrashGuard, BodyThatReturnsLeavesWithoutReport)
{
    Guarded g;
    int value = 0;
    EXPECT_TRUE(CrashGuard::run(returnsNormally, &value));
    EXPECT_EQ(value, 42);
    EXPECT_EQ(g.recorder.entered, 1);
    EXPECT_EQ(g.recorder.left, 1);
    EXPECT_EQ(g.recorder.reported, 0);
}

TEST(CrashGuard, AccessViolationIsCaughtWithTraceAndUnwound)
{
    Guarded g;
    CrashTrace::clear();
    bool destroyed = false;
    EXPECT_FALSE(CrashGuard::run(accessViolation, &destroyed));
    EXPECT_EQ(g.recorder.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
    EXPECT_NE(g.recorder.address, nullptr);
    EXPECT_EQ(g.recorder.source, L".\\Source\\CrashGuardTest.cpp");
    EXPECT_GT(g.recorder.line, 0u);
    EXPECT_TRUE(destroyed) << "frames between the fault and the guard are unwound";
    EXPECT_EQ(g.recorder.order, (std::vector<std::string>{"protocol", "report", "leave"}));
}

TEST(CrashGuard, FaultOnAnotherThreadEndsOnlyThatBody)
{
    Guarded g;
    bool crashed = true;
    std::thread t([&] { crashed = !CrashGuard::run(raiseUserException, nullptr); });
    t.join();
    EXPECT_TRUE(crashed);
    EXPECT_EQ(g.recorder.code, 0xC000034Eu);
    // The guard still works on this thread afterwards.
    int value = 0;
    EXPECT_TRUE(CrashGuard::run(returnsNormally, &value));
    EXPECT_EQ(value, 42);
}

TEST(CrashGuard, NestedGuardCatchesInnermostFirst)
{
    Guarded g;
    struct Outer {
        static void body(void* ctx)
        {
            bool* innerResult = static_cast<bool*>(ctx);
            *innerResult = CrashGuard::run(raiseUserException, nullptr);
        }
    };
    bool innerResult = true;
    EXPECT_TRUE(CrashGuard::run(Outer::body, &innerResult));
    EXPECT_FALSE(innerResult);
    EXPECT_EQ(g.recorder.reported, 1);
}

TEST(CrashTrace, LastStringIsBounded)
{
    std::wstring longText(2000, L'x');
    CrashTrace::setLastString(longText.c_str());
    wchar_t buffer[1024];
    CrashTrace::copyLastString(buffer, 1024);
    EXPECT_EQ(std::wstring(buffer).size(), size_t(CrashTrace::lastStringCapacity - 1));
    CrashTrace::setLastValues(1, -2, 3, INTPTR_MAX);
    EXPECT_EQ(CrashTrace::lastValue(1), -2);
    EXPECT_EQ(CrashTrace::lastValue(3), INTPTR_MAX);
    EXPECT_EQ(CrashTrace::lastValue(7), 0);
}
