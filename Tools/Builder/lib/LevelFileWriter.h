#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

// Writes a level's main file ("*.tee" under "Data\Map\") field by field in
// its fixed widths: "v1.0", tags 1 to 9 in order (name, preview image,
// description, race settings, terrain block with its five layer blocks, time
// of day, season, animated sky, camera block) and tag 0. The defaults are
// those of a new scene.
class LevelFileWriter
{
public:
    struct Layer
    {
        uint32_t first = 0;
        String text{L""};
        uint32_t third = 0;
        uint32_t fourth = 0;
    };

    struct Terrain
    {
        String text1{L""};
        String text2{L""};
        int32_t value3 = 512;
        int32_t value4 = 400;
        Layer layers[5];
        String text6{L""};
        String text7{L""};
        int32_t firstRepeat = 4;
        float secondRepeat = 0.4f;
        float horizontalScale = 3.0f;
        float verticalScale = 1.75f;
        float lodDistance = 4.0f;
        int32_t lowestLod = 0;
        int32_t highestLod = 5;
        uint32_t colourOps[4] = {2, 4, 4, 11};
        float ambient[4] = {0.45f, 0.45f, 0.45f, 1.0f};
        float diffuse[4] = {1.0f, 1.0f, 1.0f, 1.0f};
        uint32_t barrierFlag = 0;
    };

    struct Camera
    {
        uint32_t mode = 0;
        float targetHeight = 100.0f;
        float currentHeight = 100.0f;
        float position[3] = {0.0f, 0.0f, 0.0f};
        float turn = 0.0f;
        float pitch = 75.0f;
        uint8_t fogColour[4] = {0xFF, 0xF7, 0xCD, 0xFF}; // blue, green, red, alpha
        float fogAmount = 0.3f;
    };

    struct Level
    {
        String name{L""};
        std::vector<uint8_t> preview; // an image file the texture loader reads
        String description{L""};
        int32_t courseType = 0;      // the race settings' tag 1
        uint32_t referenceTime = 0;  // and tag 2
        Terrain terrain;
        float timeOfDay = 12.0f;
        float season = 0.5f;
        uint32_t animatedSky = 0;
        Camera camera;
    };

    // False when the target refuses a write.
    static bool write(const Level& level, FileInterface& target);
    static bool save(const Level& level, const String& path);
};
