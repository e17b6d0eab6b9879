#pragma once
// A recursion that never ends (the compiler cannot see that): each call keeps
// 256 bytes of its own on the stack until the stack overflows.

__attribute__((noinline)) inline int runawayRecursion(int depth)
{
    volatile char pad[256];
    pad[depth % 256] = char(depth);
    if (depth == -1)
        return 0;
    return runawayRecursion(depth + 1) + pad[depth % 256];
}
