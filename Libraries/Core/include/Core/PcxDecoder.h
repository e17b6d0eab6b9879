#pragma once

#include <cstdint>
#include <span>

class ImageData;

// PCX decoder: run-length coded 8-bit images with one plane (palette, read
// from the end of version 5 files) or three planes (24-bit colour).
// Called through ImageData::decode, which turns a failed allocation into a
// clean failure.
class PcxDecoder
{
public:
    static bool decode(ImageData& image, std::span<const uint8_t> data);
};
