// The ".map" file through the game's reader and writer, and damaged files.
#include "LandscapeTestFiles.h"
#include "TerrainTestMaps.h"

#include "Landscape/Scene.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {

using namespace TerrainTestMaps;

TerrainMapWriter::Map layeredMap(uint32_t seed)
{
    auto map = randomMap(128, seed);
    map.layers.push_back(flatLayer(0x07E0, 0, 90));
    map.layers.push_back(flatLayer(0x8410, 70, 255));
    return map;
}

size_t rangesOffset(const TerrainMapWriter::Map& map, size_t overlayBytes = 0)
{
    return 20 + overlayBytes + map.layers.size() * (4 + 131072 + 2);
}

// Bytes equal apart from the patch height ranges, which may move by rounding.
void expectSameMap(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t ranges, size_t count)
{
    ASSERT_EQ(a.size(), b.size());
    const size_t end = ranges + count * 4;
    EXPECT_TRUE(std::equal(a.begin(), a.begin() + ptrdiff_t(ranges), b.begin()));
    EXPECT_TRUE(std::equal(a.begin() + ptrdiff_t(end), a.end(), b.begin() + ptrdiff_t(end)));
    for (size_t k = 0; k < count; ++k) {
        float x, y;
        std::memcpy(&x, &a[ranges + 4 * k], 4);
        std::memcpy(&y, &b[ranges + 4 * k], 4);
        ASSERT_NEAR(x, y, 1e-3f * std::max(1.0f, std::fabs(x))) << k;
    }
}

TEST(TerrainMap, TheBuildersMapLoadsAndSavesBack)
{
    const auto map = layeredMap(31);
    const std::vector<uint8_t> bytes = mapBytes(map);
    const auto terrain = load(bytes, settings(2.0f, 3.0f));
    ASSERT_TRUE(terrain->isLoaded());
    EXPECT_EQ(terrain->size, 128);
    EXPECT_EQ(terrain->patchesPerSide, 32);
    EXPECT_EQ(terrain->heights, map.heights);
    ASSERT_EQ(terrain->layers.size(), 2u);
    EXPECT_EQ(terrain->layers[1].low, 70);
    EXPECT_EQ(terrain->layers[1].pixels, map.layers[1].pixels);
    // A patch whose lowest height is 0 reaches 8 height units lower.
    const auto ranges = TerrainMapWriter::patchRanges(map);
    const Terrain::Patch& patch = terrain->patches[77];
    EXPECT_FLOAT_EQ(patch.leaf->minimum.y, (ranges[154] - 8.0f) * 3.0f);
    EXPECT_FLOAT_EQ(patch.leaf->maximum.y, ranges[155] * 3.0f);
    EXPECT_FLOAT_EQ(terrain->box.maximum.x, 16.0f * 32 * 2.0f);

    FileArray out(1 << 16);
    ASSERT_TRUE(terrain->write(out));
    expectSameMap(bytes, LandscapeTestFiles::bytesOf(out), rangesOffset(map), ranges.size());
    Terrain empty;
    EXPECT_FALSE(empty.write(out));
}

// Damaged files: the load fails cleanly and the next good file loads.
void expectRefused(Terrain& terrain, const std::vector<uint8_t>& bytes, const std::vector<uint8_t>& good)
{
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    terrain.load(nullptr, settings(), stream);
    ASSERT_FALSE(terrain.isLoaded());
    EXPECT_TRUE(terrain.patches.empty());
    EXPECT_TRUE(terrain.heights.empty());
    stream.close();
    stream.write(good.data(), uint32_t(good.size()));
    stream.seek(0, 0);
    ASSERT_TRUE(terrain.load(nullptr, settings(), stream));
    terrain.clear();
}

void put16(std::vector<uint8_t>& bytes, size_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); }
void put32(std::vector<uint8_t>& bytes, size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); }

TEST(TerrainMap, BrokenFilesAreRefused)
{
    auto map = layeredMap(32);
    map.layers.pop_back();
    map.overlays[0].width = map.overlays[0].height = 8;
    map.overlays[0].argb.assign(64, 0xFF336699u);
    const std::vector<uint8_t> good = mapBytes(map);
    const size_t ranges = rangesOffset(map, 8 * 8 * 4);
    const size_t coded = ranges + 32 * 32 * 8;
    const float nan = std::nanf("");
    uint32_t nanBits;
    std::memcpy(&nanBits, &nan, 4);
    const std::vector<std::function<void(std::vector<uint8_t>&)>> damages = {
        [](auto& b) { put16(b, 18, 0); },             // S = 0
        [](auto& b) { put16(b, 18, 100); },           // not a multiple of 128
        [](auto& b) { put16(b, 18, 384); },           // no power of two of tiles
        [](auto& b) { put16(b, 18, 4096); },          // beyond 2048
        [](auto& b) { put16(b, 18, 256); },           // more patches than the file holds
        [](auto& b) { put16(b, 16, 0xFFFF); },        // layers beyond the data
        [](auto& b) { put32(b, 8, 99); },             // an overlay format nobody knows
        [](auto& b) { put16(b, 0, 0xFFFF); put16(b, 4, 0xFFFF); }, // overlay beyond the data
        [&](auto& b) { put32(b, ranges + 12, nanBits); },          // a range that is no number
        [&](auto& b) { put32(b, coded, 0xFFFFFFF0u); },            // coded block beyond the data
        [&](auto& b) { put32(b, coded, 3); },                      // coded block too short
        [&](auto& b) { b.resize(coded + 10); },
        [&](auto& b) { // a 256 x 256 grid in a file of S = 128
            const auto big = mapBytes(heightMap(256, [](int32_t, int32_t) { return 7.0f; }));
            const size_t bigCoded = 20 + 64 * 64 * 8;
            b.resize(coded);
            b.insert(b.end(), big.begin() + ptrdiff_t(bigCoded), big.end());
        },
    };
    Terrain terrain;
    for (size_t k = 0; k < damages.size(); ++k) {
        SCOPED_TRACE(k);
        std::vector<uint8_t> bytes = good;
        damages[k](bytes);
        expectRefused(terrain, bytes, good);
    }
    // Cut anywhere, and random damage with a fixed seed: never a crash.
    for (size_t cut = 0; cut < good.size(); cut += cut < 200 ? 1 : 997) {
        FileArray stream(4096);
        stream.write(good.data(), uint32_t(cut));
        stream.seek(0, 0);
        EXPECT_FALSE(terrain.load(nullptr, settings(), stream)) << cut;
    }
    std::mt19937 random(22);
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = good;
        for (int i = 0; i < 6; ++i)
            bytes[random() % (round % 2 ? 40 : bytes.size())] = uint8_t(random());
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        if (terrain.load(nullptr, settings(), stream)) {
            EXPECT_NE(terrain.getHeight(1.0f, 2.0f, 3), Terrain::missing);
        }
        terrain.clear();
    }
}

TEST(SceneTerrain, TheLevelsLimitsAndColoursGoToTheLoadedTerrain)
{
    const std::wstring folder = LandscapeTestFiles::freshFolder(L"sceneterrain");
    ASSERT_TRUE(LandscapeTestFiles::write(folder + L"Hills.map", mapBytes(randomMap(128, 40))));
    Scene scene(String(L"Korvanta"), 3500.0f);
    Terrain terrain;
    scene.terrainLayer.terrain = &terrain;
    scene.fileName = String((folder + L"Hills.tee").c_str());
    const std::vector<std::tuple<int, int, int, int>> cases = {{7, 3, 3, 3}, {-2, 9, 0, 5}, {1, 4, 1, 4}, {4, 2, 2, 2}};
    for (const auto& [lowest, highest, wantLowest, wantHighest] : cases) {
        scene.terrainLayer.lowestLod = lowest;
        scene.terrainLayer.highestLod = highest;
        scene.terrainLayer.diffuse[1] = 0.25f;
        scene.terrainLayer.ambient[2] = 0.75f;
        ASSERT_TRUE(scene.terrainLayer.build());
        EXPECT_EQ(terrain.lowestLod, wantLowest);
        EXPECT_EQ(terrain.highestLod, wantHighest);
        EXPECT_EQ(terrain.material.Diffuse.g, 0.25f);
        EXPECT_EQ(terrain.material.Ambient.b, 0.75f);
    }
    // A scene with its terrain saves the ".map" beside the level, and the
    // saved pair loads again.
    scene.terrainLayer.lowestLod = 0;
    scene.terrainLayer.highestLod = 5;
    ASSERT_TRUE(scene.save(String((folder + L"Copy.tee").c_str())));
    const std::vector<uint8_t> savedMap = LandscapeTestFiles::read(folder + L"Copy.map");
    const std::vector<uint8_t> original = LandscapeTestFiles::read(folder + L"Hills.map");
    ASSERT_EQ(savedMap.size(), original.size());
    EXPECT_TRUE(std::equal(original.end() - 2000, original.end(), savedMap.end() - 2000));
    terrain.clear();
    Scene copy(String(L"Korvanta"), 3500.0f);
    copy.terrainLayer.terrain = &terrain;
    ASSERT_TRUE(copy.load(String((folder + L"Copy.tee").c_str())));
    EXPECT_TRUE(terrain.isLoaded());
    EXPECT_EQ(terrain.heights, randomMap(128, 40).heights);
    copy.clear();
    EXPECT_FALSE(terrain.isLoaded());

    // Without its ".map" file the terrain stays empty and keeps its limits.
    scene.terrainLayer.lowestLod = 3;
    ASSERT_TRUE(scene.terrainLayer.build());
    scene.fileName = String((folder + L"None.tee").c_str());
    scene.terrainLayer.lowestLod = 0;
    EXPECT_FALSE(scene.terrainLayer.build());
    EXPECT_FALSE(terrain.isLoaded());
    EXPECT_EQ(terrain.lowestLod, 3);
}

}
