#pragma once

#include "Core/ImageCodec.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// Writes images in the engine's own codec (read back by ImageCodec::decompress).
//
// Per 8 x 8 block and channel the base value is the block minimum; a block whose
// channels are all constant is stored flat, any other block stores per-pixel
// values with the fewest bits its range needs, or as row-wise differences when
// those need fewer bits. Quality 5 is lossless; lower qualities drop up to 5
// low-order bits of wide channels. Edge blocks of images whose sides are not a
// multiple of 8 are padded by repeating the last column and row; the decoder
// writes only the pixels inside the image.
class ImageCodecEncoder
{
public:
    // Codes `pixels` (`size` bytes, laid out as ImageCodec describes) into `stream`.
    // Returns false, leaving `stream` empty, when the pixels are missing or too
    // few, a side is outside 1 to 16383, or channels (1 to 3), bytes per channel
    // (1 to 4) or quality (0 to 5) are out of range.
    static bool compress(const ImageCodec::Description& description, const uint8_t* pixels,
                         size_t size, std::vector<uint8_t>& stream);
};
