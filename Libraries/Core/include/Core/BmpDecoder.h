#pragma once

#include <cstdint>
#include <span>

class ImageData;

// BMP/DIB decoder: uncompressed 8-bit palette and 24-bit images, bottom-up or
// top-down. With fileHeader the data starts with the 14-byte "BM" header (a
// .bmp file); without it, with the bitmap header (a bitmap resource), and the
// pixels follow the palette. Other depths and compressed files are refused.
// Called through ImageData::decode, which turns a failed allocation into a
// clean failure.
class BmpDecoder
{
public:
    static bool decode(ImageData& image, std::span<const uint8_t> data, bool fileHeader);
};
