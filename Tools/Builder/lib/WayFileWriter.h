#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

// Writes a level's way file (".way" beside the level file): a u32 way count,
// then per way a u32 point count and the point records, each field in its
// fixed width: i32 id, position, side, width, height offset, steps per
// length, thinning tolerance, follow-ground flag, colour (blue, green, red,
// alpha), the branch and link counts, the modeler's name, the branches'
// records (each list after its point count) and the ids of the points that
// hang from this one. No header, no tags. The defaults are those of a new
// point of the game.
class WayFileWriter
{
public:
    struct Point;
    using Way = std::vector<Point>;

    struct Point
    {
        int32_t id = -1;
        float position[3] = {};
        float side[3] = {};
        float width = 0.0f;
        float heightOffset = 0.0f;
        float stepsPerLength = 0.0f;
        float thinTolerance = 0.0f;
        uint32_t followGround = 1;
        uint8_t colour[4] = {255, 255, 255, 255}; // blue, green, red, alpha
        String name{L"Undefined"};
        std::vector<Way> branches;
        std::vector<int32_t> links; // ids of the points that hang from this one
    };

    // What the game works out from the points and writes in place of what
    // it read: each point's side, the unit side of the way's curve there,
    // across it in the ground plane (a point that starts a segment takes the
    // side at the segment's start, the last point of a list the side at the
    // end of the list's last segment), and the name "Undefined" for the last
    // point of each list, which starts no segment. A level saved unchanged
    // then gives back the file.
    static void deriveAsTheGame(std::vector<Way>& ways);
    // False when the target refuses a write.
    static bool write(const std::vector<Way>& ways, FileInterface& target);
    static bool save(const std::vector<Way>& ways, const String& path);
};
