#pragma once

#include <cstdint>
#include <vector>

// Encodes 16-bit PCM as the Ogg Vorbis files the game reads.
namespace OggWriter {

// The whole file for frames of interleaved samples (channels per frame), at
// a variable bit rate of quality -0.1 (smallest) to 1.0 (best). Empty when
// the encoder refuses the format.
std::vector<uint8_t> ogg(uint16_t channels, uint32_t samplesPerSecond, const int16_t* samples, uint32_t frames,
                         float quality = 0.5f);

}
