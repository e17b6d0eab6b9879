#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

// Writes a level's water file (".wtr" beside the level file) field by field:
// "v1.0", then single-byte tags: the header (1: a float 0, 2: the area count,
// 3: the area records, 0), each area record with tags 1 to 15 and 0, and
// inside it the wave settings (tags 1 to 13 and 0). The defaults are the
// game's.
class WaterFileWriter
{
public:
    struct Point
    {
        float x = 0.0f, z = 0.0f;
    };

    // A rectangle of the wave grid and its macro cells (column, row).
    struct Patch
    {
        float minimum[2] = {};
        float maximum[2] = {};
        std::vector<int32_t> cells; // x, z pairs
    };

    struct Waves
    {
        float spare[4] = {0.0f, 0.0f, 1.0f, 1.0f};
        float grid[4] = {}; // minimum x, minimum z, maximum x, maximum z
        float lightGain = 0.0004f;
        float lightBias = 0.01f;
        float alphaGain = 0.25f;
        float heightScale = 0.0004f;
        int32_t noiseShift = 9;
        float waveRange = 0.0f;  // squared distance; 0 keeps the area flat
        float patchRange = 0.0f; // squared distance
        float macroFactor = 0.0f;
        int32_t cellsPerMacro = 4;
        int32_t shifts[5] = {1, 1, 1, 26, 1};
        std::vector<Patch> patches;
    };

    struct Area
    {
        String name{L""};
        float spare[2] = {};
        float box[11] = {0, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0}; // centre, radius, radius squared, minimum, maximum
        float level = 0.0f;
        uint8_t colour[4] = {128, 128, 128, 128};           // blue, green, red, alpha
        float depthGain = 64.0f;
        float reflectionRange = 3600.0f;
        float reflectionGain = 1020.0f;
        float spareFloat = 0.0f;
        std::vector<Point> outline;
        std::vector<uint16_t> indices; // counter-clockwise triangles into the outline
        Waves waves;
        float macroSize = 16.0f;

        // The box over x and z from level - depth to level, or around the
        // outline.
        void setBox(float minimumX, float minimumZ, float maximumX, float maximumZ, float depth);
        void boxAroundOutline(float depth);
    };

    static bool write(const std::vector<Area>& areas, FileInterface& out);
    static bool save(const std::vector<Area>& areas, const String& path);
};
