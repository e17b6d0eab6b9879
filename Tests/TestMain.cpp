// The test programs' main. Once every result is printed the process ends at
// once instead of through the runtime's exit: under Wine on a loaded machine,
// programs at times hung in that exit after all their tests had passed (the
// threads the graphics and sound drivers start are stopped there, then their
// libraries detached), and the hang turned a passing run into a timeout.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(stdout);
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), UINT(result));
    return result;
}
