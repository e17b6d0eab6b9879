#pragma once

#include <cstdint>

// DXT3 blocks: 4 x 4 texels in 16 bytes, 64 bits of explicit 4-bit alpha
// (texel 0 in the low nibble of byte 0) followed by the colour half: two
// R5G6B5 ends, the first one the larger, and a 2-bit index per texel into
// the ends and the two colours a third and two thirds between them.
namespace BlockCompression
{

constexpr uint32_t dxt3BlockBytes = 16;

// Encodes 16 A8R8G8B8 texels (0xAARRGGBB, rows of four) into one block.
void encodeDxt3Block(const uint32_t texels[16], uint8_t block[dxt3BlockBytes]);

// Encodes a width x height A8R8G8B8 image (rows `pitch` bytes apart) into
// rows of blocks `blockPitch` bytes apart. Blocks that reach past the right
// or bottom edge repeat the edge texels. False for an empty image.
bool encodeDxt3(const uint8_t* texels, int32_t pitch, uint32_t width, uint32_t height, uint8_t* blocks,
                int32_t blockPitch);

} // namespace BlockCompression
