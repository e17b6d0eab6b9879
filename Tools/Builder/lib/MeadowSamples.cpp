#include "MeadowSamples.h"

#include <cmath>

namespace {

constexpr uint32_t side = 64;

// A blade: from its root on the bottom row to its tip, tapering.
struct Stroke
{
    float rootX, tipX, tipY, width;
};

}

namespace MeadowSamples {

ImageFileWriter::Image tuft()
{
    const Stroke strokes[] = {{30, 6, 14, 5.0f},  {31, 18, 3, 5.5f},  {32, 30, 0, 6.0f}, {33, 45, 4, 5.5f},
                              {34, 58, 16, 5.0f}, {29, 12, 28, 4.5f}, {35, 52, 26, 4.5f}};
    ImageFileWriter::Image image;
    image.width = image.height = side;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x) {
            const float px = float(x) + 0.5f, py = float(y) + 0.5f;
            bool covered = false;
            for (const Stroke& s : strokes) {
                // Where the blade's centre line crosses this row, and its width there.
                const float bottom = float(side);
                if (py < s.tipY)
                    continue;
                const float along = (bottom - py) / (bottom - s.tipY); // 0 at the root, 1 at the tip
                const float centre = s.rootX + (s.tipX - s.rootX) * along;
                const float halfWidth = 0.5f * s.width * (1.0f - along);
                covered = covered || std::fabs(px - centre) <= halfWidth + 0.35f;
            }
            // Darker towards the roots, pale towards the tips.
            const float light = 0.6f + 0.4f * (1.0f - py / float(side));
            const uint32_t r = uint32_t(215.0f * light), g = uint32_t(245.0f * light), b = uint32_t(200.0f * light);
            image.argb.push_back((covered ? 0xFF000000u : 0u) | r << 16 | g << 8 | b);
        }
    return image;
}

std::vector<MeadowFileWriter::Layer> meadow(float grassLow, float grassHigh, float waterLevel)
{
    const std::vector<uint8_t> texture = ImageFileWriter::png(tuft());

    MeadowFileWriter::Layer grass;
    grass.name = String(L"Grass");
    grass.texture = texture;
    grass.minimumHeight = 5.0f;
    grass.maximumHeight = 8.0f;
    grass.width = 9.0f;
    grass.fadeStart = 300.0f;
    grass.range = 550.0f;
    grass.colourVariation = 25;
    grass.brightness = 1.3f;
    grass.bladesPerPatch = 45;
    grass.minimumNormal = 0.97f;
    grass.minimumGround = grassLow;
    grass.maximumGround = grassHigh;
    const uint8_t meadow[4] = {150, 235, 200, 255}; // blue, green, red, alpha
    for (int i = 0; i < 4; ++i)
        grass.colour[i] = meadow[i];

    // Reeds in the shallow water of the lake: tall, thin, three-sided.
    MeadowFileWriter::Layer reeds;
    reeds.name = String(L"Reeds");
    reeds.texture = texture;
    reeds.minimumHeight = 12.0f;
    reeds.maximumHeight = 18.0f;
    reeds.width = 5.0f;
    reeds.fadeStart = 250.0f;
    reeds.range = 450.0f;
    reeds.tilt = 10;
    reeds.colourVariation = 20;
    reeds.brightness = 1.1f;
    reeds.lighting = 0;
    reeds.bladesPerPatch = 60;
    reeds.shape = 3;
    reeds.minimumNormal = 0.8f;
    reeds.minimumGround = waterLevel - 6.0f; // the lake's shallow rim
    reeds.maximumGround = waterLevel;
    reeds.onWater = 1;
    const uint8_t reed[4] = {90, 170, 150, 255};
    for (int i = 0; i < 4; ++i)
        reeds.colour[i] = reed[i];
    if (waterLevel < 0.0f)
        return {grass};
    return {grass, reeds};
}

std::vector<MeadowFileWriter::Layer> valley() { return meadow(20.0f, 140.0f, 47.0f); }

bool save(const String& root) { return MeadowFileWriter::save(valley(), root + L"Data\\Map\\Valley.mdw"); }

}
