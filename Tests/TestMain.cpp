// The test programs' entry: GoogleTest's run, then an end that runs no exit
// handler of the native libraries beneath Wine.
//
// Wine gives a process half a second from the end of its last thread to the
// end of its native exit handlers, then kills it (status 137). Mesa's handler
// joins the shader cache's writer thread, which runs at the lowest priority:
// on a busy machine, after a run that wrote new shaders, that thread waits
// for the processor longer than that. Ending through TerminateProcess once
// the results are written leaves the process by _exit, with the exit code
// of the tests.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::fflush(nullptr);
    TerminateProcess(GetCurrentProcess(), UINT(result));
    return result;
}
