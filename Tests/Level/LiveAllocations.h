#pragma once
// What the program's operator new has handed out and operator delete not yet
// taken back (LiveAllocations.cpp replaces them for the level tests): the
// blocks and the bytes the heap gave for them.
#include <cstdint>

namespace LiveAllocations {

int64_t blocks();
int64_t bytes();

}
