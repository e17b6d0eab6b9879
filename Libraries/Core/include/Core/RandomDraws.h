#pragma once

#include "Core/ArrayHeap.h"

// Fills array with n integers drawn with rand() from low .. high - 1 without
// repetition: the first min(n, high - low) draws are distinct, and values
// repeat only between whole passes over the range. The array is resized to
// n elements when its count differs.
// n <= 0 leaves the array unchanged and returns true. An empty range
// (high <= low) with n > 0, or a failed allocation, returns false with the
// array unchanged.
bool fillRandomUnique(ArrayHeap<int>& array, int low, int high, int n);
