#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

// Writes a level's terrain file (".map"): the 20-byte header, two overlay
// textures stored as A8R8G8B8, the colour layers (256 x 256 R5G6B5 with
// their height bands), the lowest and highest height of every patch of 4 x 4
// grid cells, and the height grid coded losslessly by the engine's image
// codec.
class TerrainMapWriter
{
public:
    struct Overlay
    {
        uint32_t width = 0;
        uint32_t height = 0;
        std::vector<uint32_t> argb; // row after row
    };

    struct Layer
    {
        std::vector<uint16_t> pixels; // 256 x 256 R5G6B5, row after row
        uint8_t low = 0;              // the height band, in height units
        uint8_t high = 255;
    };

    struct Map
    {
        int32_t size = 0; // grid samples per side: 128, 256, 512, 1024 or 2048
        // size x size heights, [i * size + j]: i along x, j against z
        std::vector<uint16_t> heights;
        Overlay overlays[2];
        std::vector<Layer> layers;
    };

    // The lowest and highest height of each patch's smooth surface, in
    // height units, patch p = row x n + column (n = size / 4), as the game
    // computes them.
    static std::vector<float> patchRanges(const Map& map);
    // False for a map the game would refuse or when the target refuses a write.
    static bool write(const Map& map, FileInterface& target);
    static bool save(const Map& map, const String& path);
};
