#pragma once

#include "Core/FileInterface.h"

#include <cstdint>

// Writes the two forms in which level files carry textures.
namespace TextureBlockWriter {

// Texture block: u32 levelCount, u32 byteCount, then byteCount bytes of an
// image file (PNG, DDS, ...). False when a write fails.
bool writeTextureBlock(FileInterface& target, uint32_t levelCount, const void* imageFile, uint32_t byteCount);

// The level-0 description of a raw block (Direct3D format and pool values).
struct RawDescription
{
    uint32_t format = 21; // A8R8G8B8
    uint32_t usage = 0;
    uint32_t pool = 1;    // managed
    uint32_t width = 0;
    uint32_t height = 0;
};

// Raw texture block: u32 levelCount, the description as eight u32 in the
// order format, type (surface), usage, pool, multisample type and quality,
// width, height; then the level-0 texels, rows packed (byteCount bytes).
bool writeRawTextureBlock(FileInterface& target, uint32_t levelCount, const RawDescription& description,
                          const void* texels, uint32_t byteCount);

}
