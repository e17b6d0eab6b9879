#pragma once
// What the sound benchmarks share: a clock and a sound reference over a
// memory stream, as the resource manager's entries are.
#include "Core/AudioFileRef.h"
#include "Core/FileArray.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace SoundBench {

inline double now()
{
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return double(counter.QuadPart) / double(frequency.QuadPart);
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
