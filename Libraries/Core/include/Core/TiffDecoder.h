#pragma once

#include <cstdint>
#include <span>

class ImageData;

// TIFF decoder: little-endian ("II") files with uncompressed strips of 16-bit
// (R5G6B5) or 24-bit RGB pixels, the first row in the file being the top one.
// The bit depth is one bits-per-sample value of 16 or 24, or three values of 8.
// Called through ImageData::decode, which turns a failed allocation into a
// clean failure.
class TiffDecoder
{
public:
    static bool decode(ImageData& image, std::span<const uint8_t> data);
};
