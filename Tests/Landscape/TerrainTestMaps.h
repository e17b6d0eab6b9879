#pragma once
// Terrains for the tests: maps made with the content builder's writer and
// loaded into a terrain of the test's own.
#include "TerrainMapWriter.h"

#include "Landscape/Terrain.h"

#include "Core/FileArray.h"
#include "Core/HeightSurface.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

namespace TerrainTestMaps {

// size x size heights from raw(i, j): i along x, j against z.
inline TerrainMapWriter::Map heightMap(int32_t size, const std::function<float(int32_t, int32_t)>& raw)
{
    TerrainMapWriter::Map map;
    map.size = size;
    for (int32_t i = 0; i < size; ++i)
        for (int32_t j = 0; j < size; ++j) {
            const float v = raw(i, j);
            map.heights.push_back(uint16_t(v < 0 ? 0 : v > 65535 ? 65535 : v));
        }
    return map;
}

// Rolling random ground: smooth hills of up to about 200 height units.
inline TerrainMapWriter::Map randomMap(int32_t size, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> phase(0.0f, 6.283f);
    const float a = phase(random), b = phase(random), c = phase(random);
    return heightMap(size, [&](int32_t i, int32_t j) {
        return 25000.0f + 12000.0f * std::sin(float(i) * 0.11f + a) * std::cos(float(j) * 0.07f + b) +
               8000.0f * std::sin(float(i + 2 * j) * 0.23f + c) + float(random() % 1500);
    });
}

// A layer of one colour over a band of heights.
inline TerrainMapWriter::Layer flatLayer(uint16_t colour, uint8_t low, uint8_t high)
{
    TerrainMapWriter::Layer layer;
    layer.pixels.assign(256 * 256, colour);
    layer.low = low;
    layer.high = high;
    return layer;
}

inline std::vector<uint8_t> mapBytes(const TerrainMapWriter::Map& map)
{
    FileArray out(1 << 16);
    if (!TerrainMapWriter::write(map, out))
        return {};
    return std::vector<uint8_t>(out.memory(), out.memory() + out.size());
}

inline Terrain::Settings settings(float horizontal = 3.0f, float vertical = 1.75f)
{
    Terrain::Settings s;
    s.horizontalScale = horizontal;
    s.verticalScale = vertical;
    return s;
}

// Loads terrain from the bytes of a ".map" file; false when it refuses them.
inline bool loadInto(Terrain& terrain, const std::vector<uint8_t>& bytes, const Terrain::Settings& s)
{
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    return terrain.load(nullptr, s, stream);
}

// A terrain of the test's own, loaded from the bytes of a ".map" file.
inline std::unique_ptr<Terrain> load(const std::vector<uint8_t>& bytes, const Terrain::Settings& s = settings())
{
    auto terrain = std::make_unique<Terrain>();
    loadInto(*terrain, bytes, s);
    return terrain;
}

inline std::unique_ptr<Terrain> load(const TerrainMapWriter::Map& map, const Terrain::Settings& s = settings())
{
    return load(mapBytes(map), s);
}

// The global terrain loaded from map; false when it refuses the map.
inline bool loadGlobal(const TerrainMapWriter::Map& map, const Terrain::Settings& s = settings())
{
    return loadInto(gTerrain, mapBytes(map), s);
}

}
