#include "WayTextures.h"

#include "ResourceArchiveWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// A value in 0..1 from a hashed lattice, smooth over `scale` texels and
// repeating every `period` texels (the textures tile).
float noise(float x, float y, float scale, int32_t period, uint32_t seed)
{
    auto lattice = [&](int32_t i, int32_t j) {
        const int32_t cells = std::max(1, int32_t(float(period) / scale));
        i = ((i % cells) + cells) % cells;
        j = ((j % cells) + cells) % cells;
        uint32_t h = uint32_t(i) * 374761393u + uint32_t(j) * 668265263u + seed * 2246822519u;
        h = (h ^ (h >> 13)) * 1274126177u;
        return float((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
    };
    const float u = x / scale, v = y / scale;
    const int32_t i = int32_t(std::floor(u)), j = int32_t(std::floor(v));
    const float fu = u - float(i), fv = v - float(j);
    const float su = fu * fu * (3 - 2 * fu), sv = fv * fv * (3 - 2 * fv);
    const float top = lattice(i, j) + (lattice(i + 1, j) - lattice(i, j)) * su;
    const float bottom = lattice(i, j + 1) + (lattice(i + 1, j + 1) - lattice(i, j + 1)) * su;
    return top + (bottom - top) * sv;
}

uint32_t argb(float r, float g, float b)
{
    auto channel = [](float v) { return uint32_t(std::clamp(v, 0.0f, 1.0f) * 255.0f + 0.5f); };
    return 0xFF000000u | channel(r) << 16 | channel(g) << 8 | channel(b);
}

template <class Texel>
ImageFileWriter::Image image(uint32_t side, Texel texel)
{
    ImageFileWriter::Image out;
    out.width = out.height = side;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x)
            out.argb.push_back(texel(float(x), float(y)));
    return out;
}

// Asphalt: a grey of the given brightness with a fine grain and lighter chips.
ImageFileWriter::Image asphalt(float base, uint32_t seed)
{
    return image(128, [=](float x, float y) {
        const float grain = 0.85f + 0.2f * noise(x, y, 2.0f, 128, seed) + 0.1f * noise(x, y, 16.0f, 128, seed + 1);
        const float chip = noise(x, y, 1.0f, 128, seed + 2) > 0.93f ? 0.12f : 0.0f;
        const float v = base * grain + chip;
        return argb(v, v, v * 1.03f);
    });
}

}

namespace WayTextures {

ImageFileWriter::Image road() { return asphalt(0.42f, 31); }

ImageFileWriter::Image track() { return asphalt(0.3f, 37); }

ImageFileWriter::Image borderPaver()
{
    // u runs along the way, v across the strip: rows of bricks laid along
    // the way, every other row shifted by half a brick, in grey mortar.
    return image(128, [](float x, float y) {
        const int32_t row = int32_t(y) / 32;
        const float shifted = x + (row % 2 ? 32.0f : 0.0f);
        const float bx = std::fmod(shifted, 64.0f), by = std::fmod(y, 32.0f);
        const bool mortar = bx < 3.0f || by < 3.0f;
        const float grain = 0.85f + 0.25f * noise(x, y, 4.0f, 128, 41);
        if (mortar)
            return argb(0.55f * grain, 0.53f * grain, 0.5f * grain);
        const float tone = 0.8f + 0.2f * noise(float(int32_t(shifted) / 64), float(row), 1.0f, 4, 43);
        return argb(0.62f * tone * grain, 0.36f * tone * grain, 0.28f * tone * grain);
    });
}

ImageFileWriter::Image curbstone()
{
    // Along the way (u) one red and one white stone per repeat.
    return image(64, [](float x, float y) {
        const float grain = 0.9f + 0.15f * noise(x, y, 4.0f, 64, 47);
        const bool joint = std::fmod(x, 32.0f) < 1.5f;
        if (joint)
            return argb(0.35f, 0.33f, 0.32f);
        return x < 32.0f ? argb(0.78f * grain, 0.12f * grain, 0.1f * grain) : argb(0.92f * grain, 0.92f * grain, 0.9f * grain);
    });
}

std::vector<Named> all()
{
    return {{L"WayRoad", road()}, {L"WayBorderPaver", borderPaver()}, {L"WayTrack", track()},
            {L"WayCurbstone", curbstone()}};
}

bool addArchiveTextures(ResourceArchiveWriter& archive)
{
    for (const Named& texture : all()) {
        const std::vector<uint8_t> bytes = ImageFileWriter::png(texture.image);
        const String name(texture.name);
        if (bytes.empty() || !archive.addEntry(name + L".png", name, bytes.data(), uint32_t(bytes.size()), 0, 0))
            return false;
    }
    return true;
}

}
