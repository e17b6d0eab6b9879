#pragma once
// What the sound benchmarks share: a clock and a sound reference over a
// memory stream, as the resource manager's entries are.
#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace SoundBench {

inline double now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
}

// Prints the minimum and the median of repeated timings (in seconds) as
// milliseconds: the minimum is what the code costs, the median what a
// frame on a busy machine sees.
inline void printTimes(const char* what, std::vector<double> seconds, const char* limit = nullptr)
{
    if (seconds.empty())
        return;
    std::sort(seconds.begin(), seconds.end());
    std::printf("%s: min %.4f ms, median %.4f ms over %zu", what, seconds.front() * 1e3,
                seconds[seconds.size() / 2] * 1e3, seconds.size());
    if (limit)
        std::printf(" (limit %s)", limit);
    std::printf("\n");
}

struct Sound
{
    Sound(const std::vector<uint8_t>& bytes, uint32_t type, const wchar_t* name)
    {
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        ref.set(&stream, type, String(name), 0);
    }
    FileArray stream{4096};
    Audio::FileRef ref;
};

}
