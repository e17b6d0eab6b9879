#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

// Writes a level's meadow file (".mdw" beside the level file) field by field:
// "v1.0", then single-byte tags: 1 the layer count, 2 the layer records, 0.
// A layer record holds tags 1 to 21 and 0: the name, the texture block (u32
// level count, u32 byte count, the image file; 0 bytes for a layer without a
// texture), the settings and the colour. The defaults are the game's.
class MeadowFileWriter
{
public:
    struct Layer
    {
        String name{L""};
        std::vector<uint8_t> texture; // an image file (PNG), empty for none
        uint32_t textureLevels = 1;
        float minimumHeight = 5.0f;
        float maximumHeight = 6.5f;
        float width = 8.0f;
        float fadeStart = 400.0f;
        float range = 800.0f;
        uint32_t tilt = 15;
        uint32_t colourVariation = 15;
        float brightness = 1.2f;
        uint32_t lighting = 1;
        uint32_t bladesPerPatch = 70;
        uint32_t shape = 2;
        float minimumNormal = 0.985f;
        float maximumNormal = 1.0f;
        float minimumGround = 0.0f;
        float maximumGround = 150.0f;
        uint32_t onWater = 0;
        uint32_t onWay = 0;
        float sinkDepth = 0.0f;
        uint8_t colour[4] = {255, 255, 255, 255}; // blue, green, red, alpha
    };

    static bool write(const std::vector<Layer>& layers, FileInterface& out);
    static bool save(const std::vector<Layer>& layers, const String& path);
};
