// A Windows program that ends at once: what starting any program costs under
// Wine, the baseline of PlayBench's start-up figure.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
