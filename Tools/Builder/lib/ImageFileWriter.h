#pragma once

#include <cstdint>
#include <vector>

// Writes texture image files for the game's texture loaders: BMP (24-bit),
// TGA (32-bit, uncompressed), DDS (A8R8G8B8, one level; 2D or cube map) and
// PNG (8-bit RGBA, stored without compression).
namespace ImageFileWriter {

// Texels as 0xAARRGGBB, top row first.
struct Image
{
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> argb;

    uint32_t at(uint32_t x, uint32_t y) const { return argb[size_t(y) * width + x]; }
};

// Each gives the whole file; empty for an image without texels or whose
// texel count does not match its size. BMP drops the alpha channel.
std::vector<uint8_t> bmp(const Image& image);
std::vector<uint8_t> tga(const Image& image);
std::vector<uint8_t> dds(const Image& image);
// A cube map of six square faces of one size, in the order +X, -X, +Y, -Y,
// +Z, -Z; empty when they differ.
std::vector<uint8_t> ddsCube(const Image (&faces)[6]);
std::vector<uint8_t> png(const Image& image);
// An icon file with one 32-bit image (sides up to 256) and its mask.
std::vector<uint8_t> ico(const Image& image);

}
