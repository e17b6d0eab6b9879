#pragma once

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

// Writes a level's static-object file (".obj" beside the level file) field
// by field: "v1.0", then one record per object with the single-byte tags 1
// (package name), 2 (position), 3 (scale), 4 (height offset), 5 (rotation in
// degrees), 6 (state), 7 (flag) and 0. The defaults are the game's.
class StaticObjectWriter
{
public:
    struct Object
    {
        String package{L""};
        float position[3] = {};
        float scale = 1.0f;
        float heightOffset = -0.1f;
        float rotation = 0.0f;
        uint8_t state = 0; // 254: always active
        uint8_t flag = 0;
        // Tags of a later writer, written before the end tag: bytes outside
        // 0 to 7 that carry nothing.
        std::vector<uint8_t> laterTags;
    };

    static bool writeRecord(const Object& object, FileInterface& out);
    static bool write(const std::vector<Object>& objects, FileInterface& out);
    static bool save(const std::vector<Object>& objects, const String& path);
};
