#include "TerrainSamples.h"

#include "ValueNoise.h"

#include "Core/HeightSurface.h"

#include <algorithm>
#include <cmath>

namespace TerrainSamples {

uint16_t packR5G6B5(float r, float g, float b)
{
    auto channel = [](float v, int bits) {
        const int top = (1 << bits) - 1;
        const int k = int(v * float(top) + 0.5f);
        return k < 0 ? 0 : k > top ? top : k;
    };
    return uint16_t(channel(r, 5) << 11 | channel(g, 6) << 5 | channel(b, 5));
}

TerrainMapWriter::Layer layer(float r, float g, float b, uint8_t low, uint8_t high, uint32_t seed)
{
    TerrainMapWriter::Layer out;
    out.low = low;
    out.high = high;
    out.pixels.reserve(256 * 256);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            // The layers repeat every 256 texels: the grain wraps round.
            const float grain = 0.75f + 0.25f * valueNoise(float(x), float(y), 8.0f, seed) +
                                0.1f * (valueNoise(float(x), float(y), 2.0f, seed + 7) - 0.5f);
            out.pixels.push_back(packR5G6B5(r * grain, g * grain, b * grain));
        }
    return out;
}

TerrainMapWriter::Overlay overlay(float base, float spread, uint32_t seed)
{
    TerrainMapWriter::Overlay out;
    out.width = out.height = 128;
    out.argb.reserve(128 * 128);
    for (uint32_t y = 0; y < 128; ++y)
        for (uint32_t x = 0; x < 128; ++x) {
            const float v = base + spread * (valueNoise(float(x), float(y), 4.0f, seed) - 0.5f);
            const uint32_t k = uint32_t(v < 0 ? 0 : v > 1 ? 255 : v * 255.0f);
            out.argb.push_back(0xFF000000u | k << 16 | k << 8 | k);
        }
    return out;
}

uint16_t rawHeight(float units)
{
    const float raw = units * 256.0f;
    return uint16_t(raw < 0 ? 0 : raw > 65535 ? 65535 : raw);
}

float halfWidth(const TerrainMapWriter::Map& map, const LevelFileWriter::Terrain& scales)
{
    return 4.0f * float(map.size) * scales.horizontalScale;
}

float groundHeight(const TerrainMapWriter::Map& map, const LevelFileWriter::Terrain& scales, float x, float z)
{
    // Fine points from the low-x edge and from the high-z edge.
    const float half = 4.0f * float(map.size);
    const float fi = x / scales.horizontalScale + half, fj = half - z / scales.horizontalScale;
    const int32_t i = int32_t(std::floor(fi)), j = int32_t(std::floor(fj));
    const float ti = fi - float(i), tj = fj - float(j);
    auto at = [&](int32_t a, int32_t b) { return HeightSurface::height(map.heights.data(), map.size, a, b); };
    const float h = (at(i, j) * (1.0f - ti) + at(i + 1, j) * ti) * (1.0f - tj) +
                    (at(i, j + 1) * (1.0f - ti) + at(i + 1, j + 1) * ti) * tj;
    return h * scales.verticalScale;
}

namespace {

bool insideOutline(const std::vector<WaterFileWriter::Point>& outline, float x, float z)
{
    bool inside = false;
    for (size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
        const WaterFileWriter::Point& a = outline[i];
        const WaterFileWriter::Point& b = outline[j];
        if ((a.z > z) != (b.z > z) && x < (b.x - a.x) * (z - a.z) / (b.z - a.z) + a.x)
            inside = !inside;
    }
    return inside;
}

}

ImageFileWriter::Image shadedPicture(const TerrainMapWriter::Map& map, const LevelFileWriter::Terrain& scales,
                                     const std::vector<WaterFileWriter::Area>& water, uint32_t width,
                                     uint32_t height)
{
    ImageFileWriter::Image image;
    image.width = width;
    image.height = height;
    image.argb.reserve(size_t(width) * height);
    const int32_t size = map.size;
    auto sample = [&](int32_t i, int32_t j) {
        i = std::clamp(i, 0, size - 1);
        j = std::clamp(j, 0, size - 1);
        return float(map.heights[size_t(i) * size + j]) * HeightSurface::unit;
    };
    // The layer's mean colour at a height: the last layer whose band holds it.
    auto layerColour = [&](float units, float rgb[3]) {
        rgb[0] = rgb[1] = rgb[2] = 0.5f;
        for (const TerrainMapWriter::Layer& l : map.layers)
            if (units >= float(l.low) && !l.pixels.empty()) {
                const uint16_t p = l.pixels[0];
                rgb[0] = float(p >> 11) / 31.0f;
                rgb[1] = float(p >> 5 & 63) / 63.0f;
                rgb[2] = float(p & 31) / 31.0f;
            }
    };
    // The picture covers the map's width and the middle of its depth.
    const float step = float(size) / float(width);
    const float top = (float(size) - step * float(height)) * 0.5f;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            // Grid i runs along x; j against z, so the picture's top is the map's high z.
            const int32_t i = int32_t(float(x) * step), j = int32_t(top + float(y) * step);
            const float h = sample(i, j);
            const float slopeX = sample(i + 1, j) - sample(i - 1, j);
            const float slopeZ = sample(i, j + 1) - sample(i, j - 1);
            // Light from the north-west: high ground towards it darkens.
            const float light = std::clamp(0.8f - 0.05f * (slopeX + slopeZ), 0.35f, 1.15f);
            const float worldX = float(8 * i) * scales.horizontalScale - halfWidth(map, scales);
            const float worldZ = halfWidth(map, scales) - float(8 * j) * scales.horizontalScale;
            bool wet = false;
            for (const WaterFileWriter::Area& area : water)
                wet = wet || (h * scales.verticalScale < area.level && area.outline.size() > 2 &&
                              insideOutline(area.outline, worldX, worldZ));
            float rgb[3];
            if (wet) {
                rgb[0] = 0.15f;
                rgb[1] = 0.35f;
                rgb[2] = 0.6f;
            } else {
                layerColour(h, rgb);
                for (float& c : rgb)
                    c *= light;
            }
            uint32_t argb = 0xFF000000u;
            for (int c = 0; c < 3; ++c)
                argb |= uint32_t(std::clamp(rgb[c], 0.0f, 1.0f) * 255.0f) << (16 - 8 * c);
            image.argb.push_back(argb);
        }
    return image;
}

}
