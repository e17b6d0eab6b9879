#pragma once

#include <cstdint>
#include <span>

class ImageData;

// TGA decoder: true-colour images of 24 or 32 bits, uncompressed (type 2) or
// run-length coded (type 10). Rows are placed by the image's origin bit, so
// both types come out the same way up. Colour-mapped, grey and 16-bit images
// are refused.
// Called through ImageData::decode, which turns a failed allocation into a
// clean failure.
class TgaDecoder
{
public:
    static bool decode(ImageData& image, std::span<const uint8_t> data);
};
