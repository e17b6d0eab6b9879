#include "WavWriter.h"

#include <cstring>

namespace WavWriter {

namespace {

void put(std::vector<uint8_t>& out, uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out.push_back(uint8_t(value >> (8 * i)));
}

void putId(std::vector<uint8_t>& out, const char* id)
{
    out.insert(out.end(), id, id + 4);
}

}

std::vector<uint8_t> wav(const Format& format, const void* data, uint32_t bytes)
{
    if (format.channels == 0 || format.samplesPerSecond == 0 || format.bitsPerSample == 0 ||
        format.bitsPerSample % 8 != 0 || (bytes && !data))
        return {};
    const uint32_t padded = bytes + (bytes & 1);
    std::vector<uint8_t> out;
    out.reserve(44 + padded);
    putId(out, "RIFF");
    put(out, 36 + padded, 4);
    putId(out, "WAVE");
    putId(out, "fmt ");
    put(out, 16, 4);
    put(out, 1, 2); // PCM
    put(out, format.channels, 2);
    put(out, format.samplesPerSecond, 4);
    put(out, format.samplesPerSecond * format.blockAlign(), 4);
    put(out, format.blockAlign(), 2);
    put(out, format.bitsPerSample, 2);
    putId(out, "data");
    put(out, bytes, 4);
    const uint8_t* bytesIn = static_cast<const uint8_t*>(data);
    out.insert(out.end(), bytesIn, bytesIn + bytes);
    if (bytes & 1)
        out.push_back(0);
    return out;
}

}
