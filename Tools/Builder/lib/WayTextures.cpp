#include "WayTextures.h"

#include "ValueNoise.h"

#include "ResourceArchiveWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

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
        const float grain =
            0.85f + 0.2f * valueNoise(x, y, 2.0f, seed, 128) + 0.1f * valueNoise(x, y, 16.0f, seed + 1, 128);
        const float chip = valueNoise(x, y, 1.0f, seed + 2, 128) > 0.93f ? 0.12f : 0.0f;
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
        const float grain = 0.85f + 0.25f * valueNoise(x, y, 4.0f, 41, 128);
        if (mortar)
            return argb(0.55f * grain, 0.53f * grain, 0.5f * grain);
        const float tone = 0.8f + 0.2f * valueNoise(float(int32_t(shifted) / 64), float(row), 1.0f, 43, 4);
        return argb(0.62f * tone * grain, 0.36f * tone * grain, 0.28f * tone * grain);
    });
}

ImageFileWriter::Image curbstone()
{
    // Along the way (u) one red and one white stone per repeat.
    return image(64, [](float x, float y) {
        const float grain = 0.9f + 0.15f * valueNoise(x, y, 4.0f, 47, 64);
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
