#pragma once

#include <cstdint>
#include <vector>

// Writes PCM sound as the "wav" files the game reads: "RIFF", its size,
// "WAVE", a 16-byte PCM "fmt " chunk and the "data" chunk, nothing between
// them (the game's reader takes no other chunk before the data).
namespace WavWriter {

struct Format
{
    uint16_t channels = 1;
    uint32_t samplesPerSecond = 44100;
    uint16_t bitsPerSample = 16;

    uint16_t blockAlign() const { return uint16_t(channels * (bitsPerSample / 8)); }
};

// The whole file for bytes of interleaved samples; an odd data size gets the
// pad byte RIFF asks for. Empty for a format without channels, rate or
// whole-byte samples.
std::vector<uint8_t> wav(const Format& format, const void* data, uint32_t bytes);

}
