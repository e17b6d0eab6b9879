#pragma once
// Files for the landscape tests: levels made with the content builder's
// writers, whole-file reads, and a fresh folder per test.
#include "../Application/AppTestFiles.h"
#include "LevelFileWriter.h"

#include "Core/FileArray.h"

#include <cstdint>
#include <string>
#include <vector>

namespace LandscapeTestFiles {

using AppTestFiles::freshFolder;
using AppTestFiles::putU32;
using AppTestFiles::read;
using AppTestFiles::write;

inline std::vector<uint8_t> bytesOf(FileArray& stream)
{
    const uint8_t* data = stream.memory();
    return data ? std::vector<uint8_t>(data, data + stream.size()) : std::vector<uint8_t>();
}

inline std::vector<uint8_t> levelBytes(const LevelFileWriter::Level& level)
{
    FileArray out(4096);
    LevelFileWriter::write(level, out);
    return bytesOf(out);
}

inline FileArray& streamOf(FileArray& stream, const std::vector<uint8_t>& bytes)
{
    stream.close();
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    return stream;
}

// A level in which every field differs from a new scene's value.
inline LevelFileWriter::Level unusualLevel()
{
    LevelFileWriter::Level level;
    level.name = String(L"Quarry");
    level.preview = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5};
    level.description = String(L"Dust and rocks");
    level.courseType = 3;
    level.referenceTime = 123456;
    LevelFileWriter::Terrain& t = level.terrain;
    t.text1 = String(L"ground");
    t.text2 = String(L"detail");
    t.value3 = 1024;
    t.value4 = 77;
    for (uint32_t i = 0; i < 5; ++i)
        t.layers[i] = {10 + i, String(i % 2 ? L"grass" : L"rock"), 20 + i, 30 + i};
    t.text6 = String(L"six");
    t.text7 = String(L"seven");
    t.firstRepeat = 9;
    t.secondRepeat = 0.75f;
    t.horizontalScale = 2.5f;
    t.verticalScale = 1.25f;
    t.lodDistance = 6.5f;
    t.lowestLod = 1;
    t.highestLod = 4;
    const uint32_t ops[4] = {4, 7, 8, 10};
    const float ambient[4] = {0.2f, 0.3f, 0.4f, 0.5f}, diffuse[4] = {0.9f, 0.8f, 0.7f, 0.6f};
    for (int i = 0; i < 4; ++i) {
        t.colourOps[i] = ops[i];
        t.ambient[i] = ambient[i];
        t.diffuse[i] = diffuse[i];
    }
    t.barrierFlag = 1;
    level.timeOfDay = 18.5f;
    level.season = 0.25f;
    level.animatedSky = 1;
    LevelFileWriter::Camera& c = level.camera;
    c.mode = 4;
    c.targetHeight = 250.0f;
    c.currentHeight = 240.0f;
    c.position[0] = 11.0f;
    c.position[1] = 22.0f;
    c.position[2] = -33.0f;
    c.turn = 45.0f;
    c.pitch = 60.0f;
    const uint8_t fog[4] = {0x10, 0x20, 0x30, 0x40};
    for (int i = 0; i < 4; ++i)
        c.fogColour[i] = fog[i];
    c.fogAmount = 0.9f;
    return level;
}

}
