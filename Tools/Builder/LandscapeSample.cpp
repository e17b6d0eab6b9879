// The sample level: a valley between hills, seen at midday.
#include "LandscapeSample.h"

#include "ImageFileWriter.h"
#include "LevelFileWriter.h"
#include "RaceSamples.h"
#include "RecordsFileWriter.h"
#include "TerrainMapWriter.h"
#include "ValueNoise.h"

#include "Core/HeightSurface.h"

#include <windows.h>

#include <cmath>
#include <cstdint>

namespace {

uint16_t packR5G6B5(float r, float g, float b)
{
    auto channel = [](float v, int bits) {
        const int top = (1 << bits) - 1;
        const int k = int(v * float(top) + 0.5f);
        return k < 0 ? 0 : k > top ? top : k;
    };
    return uint16_t(channel(r, 5) << 11 | channel(g, 6) << 5 | channel(b, 5));
}

// A colour layer: a base colour with a grain of noise, used within a band of heights.
TerrainMapWriter::Layer layer(float r, float g, float b, uint8_t low, uint8_t high, uint32_t seed)
{
    TerrainMapWriter::Layer out;
    out.low = low;
    out.high = high;
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            // The layers repeat every 256 texels: the grain wraps round.
            const float grain = 0.75f + 0.25f * valueNoise(float(x), float(y), 8.0f, seed) +
                                0.1f * (valueNoise(float(x), float(y), 2.0f, seed + 7) - 0.5f);
            out.pixels.push_back(packR5G6B5(r * grain, g * grain, b * grain));
        }
    return out;
}

// Overlay detail: bright speckles to modulate the colour with, or faint ones to add.
TerrainMapWriter::Overlay overlay(float base, float spread, uint32_t seed)
{
    TerrainMapWriter::Overlay out;
    out.width = out.height = 128;
    for (uint32_t y = 0; y < 128; ++y)
        for (uint32_t x = 0; x < 128; ++x) {
            const float v = base + spread * (valueNoise(float(x), float(y), 4.0f, seed) - 0.5f);
            const uint32_t k = uint32_t(v < 0 ? 0 : v > 1 ? 255 : v * 255.0f);
            out.argb.push_back(0xFF000000u | k << 16 | k << 8 | k);
        }
    return out;
}

// S = 256: a valley along z between two ranges of hills, with rolling ground.
// The floor (|x| below about 500) holds the lake and the pond; beyond it the
// hills climb within sight of the floor and round off below the top height.
TerrainMapWriter::Map valleyMap()
{
    TerrainMapWriter::Map map;
    map.size = 256;
    const float half = float(map.size) / 2.0f;
    for (int32_t i = 0; i < map.size; ++i)
        for (int32_t j = 0; j < map.size; ++j) {
            const float across = (float(i) - half) / half; // -1 .. 1 along x
            const float along = (float(j) - half) / half;
            const float valley = across * across;           // 0 on the valley floor
            const float ridges = 0.5f + 0.5f * std::sin(along * 3.1f + across * 1.3f);
            float units = 18.0f + 150.0f * valley * (0.55f + 0.45f * ridges);
            units += 22.0f * valueNoise(float(i), float(j), 24.0f, 3) + 6.0f * valueNoise(float(i), float(j), 6.0f, 5);
            float t = (std::fabs(across) - 0.16f) / 0.5f;
            t = t < 0.0f ? 0.0f : t > 1.0f ? 1.0f : t;
            units += (70.0f + 30.0f * ridges) * t * t * (3.0f - 2.0f * t);
            if (units > 190.0f)
                units = 190.0f + 60.0f * std::tanh((units - 190.0f) / 60.0f);
            const float raw = units * 256.0f;
            map.heights.push_back(uint16_t(raw < 0 ? 0 : raw > 65535 ? 65535 : raw));
        }
    map.layers.push_back(layer(0.30f, 0.55f, 0.20f, 0, 70, 11));    // meadow on the valley floor
    map.layers.push_back(layer(0.50f, 0.40f, 0.25f, 50, 130, 13));  // earth on the slopes
    map.layers.push_back(layer(0.62f, 0.60f, 0.58f, 110, 255, 17)); // rock on the hills
    map.overlays[0] = overlay(0.85f, 0.3f, 19);
    map.overlays[1] = overlay(0.08f, 0.12f, 23);
    return map;
}

// The map list's picture: a green valley floor between brown slopes under a
// blue sky (64 x 64, sides a multiple of 4 as the list's compressed copy needs).
std::vector<uint8_t> previewImage(uint32_t sky = 0xFF6FA8DCu)
{
    ImageFileWriter::Image image;
    image.width = 64;
    image.height = 64;
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            const float across = (float(x) - 31.5f) / 31.5f;
            const float ridge = 20.0f + 14.0f * across * across;
            uint32_t colour = sky;
            if (float(y) > ridge)
                colour = float(y) > 44.0f - 6.0f * std::fabs(across) ? 0xFF4E8A3Au : 0xFF8A6E4Bu;
            image.argb.push_back(colour);
        }
    return ImageFileWriter::png(image);
}

}

float valleyGround(float x, float z)
{
    static const TerrainMapWriter::Map map = valleyMap();
    const LevelFileWriter::Terrain scales;
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

static LevelFileWriter::Level valleyLevel()
{
    LevelFileWriter::Level valley;
    valley.name = String(L"Valley");
    valley.description = String(L"Hills around a green valley");
    valley.preview = previewImage();
    valley.courseType = 1;
    valley.referenceTime = RecordsFileWriter::Time::fromMilliseconds(RaceSamples::valleyReferenceLap).word();
    valley.timeOfDay = 12.5f;
    valley.animatedSky = 1;
    valley.terrain.barrierFlag = 1;
    // The start view, handed to the race's camera: low over the southern
    // floor, looking north along the valley to the lake; the haze of the
    // distance is the sky's pale blue.
    LevelFileWriter::Camera& camera = valley.camera;
    camera.mode = 3;
    camera.targetHeight = camera.currentHeight = 40.0f;
    camera.position[0] = -150.0f;
    camera.position[1] = 95.0f;
    camera.position[2] = -1300.0f;
    camera.pitch = 8.0f;
    const uint8_t haze[4] = {0xF4, 0xE4, 0xCC, 0xFF}; // blue, green, red, alpha
    for (int i = 0; i < 4; ++i)
        camera.fogColour[i] = haze[i];
    camera.fogAmount = 0.35f;
    return valley;
}

bool writeLandscapeSample(const String& root)
{
    return LevelFileWriter::save(valleyLevel(), root + L"Data\\Map\\Valley.tee") &&
           TerrainMapWriter::save(valleyMap(), root + L"Data\\Map\\Valley.map");
}

bool writeChampionshipSamples(const String& root)
{
    // One country of three maps, a map of each kind under the skies of
    // morning, noon and evening; each is the valley under a name of its own.
    struct Map
    {
        const wchar_t* base;
        const wchar_t* name;
        int32_t courseType;
        uint32_t sky;
    };
    const Map maps[] = {
        {L"DEValleyOffRoad", L"DE Valley Off-Road", 1, 0xFFE0A070u},
        {L"DEValleyTrack", L"DE Valley Track", 2, 0xFF6FA8DCu},
        {L"DEValleyRally", L"DE Valley Rally", 3, 0xFF8060B0u},
    };
    const wchar_t* const sideFiles[] = {L".map", L".mdw", L".obj", L".way", L".wtr"};
    const String folder = root + L"Data\\Map\\";
    for (const Map& map : maps) {
        LevelFileWriter::Level level = valleyLevel();
        level.name = String(map.name);
        level.description = String(L"DE");
        level.courseType = map.courseType;
        level.preview = previewImage(map.sky);
        if (!LevelFileWriter::save(level, folder + map.base + L".tee"))
            return false;
        for (const wchar_t* side : sideFiles) {
            const String from = folder + L"Valley" + side;
            const String to = folder + map.base + side;
            if (GetFileAttributesW(from.text()) != INVALID_FILE_ATTRIBUTES && !CopyFileW(from.text(), to.text(), FALSE))
                return false;
        }
    }
    return true;
}
