// The sample level: a valley between hills, seen at midday.
#include "LandscapeSample.h"

#include "ImageFileWriter.h"
#include "LevelFileWriter.h"
#include "MapGenerator.h"
#include "RaceSamples.h"
#include "RecordsFileWriter.h"
#include "TerrainMapWriter.h"
#include "TerrainSamples.h"
#include "ValueNoise.h"
#include "WaySamples.h"

#include <windows.h>

#include <cmath>
#include <cstdint>

namespace {

using TerrainSamples::layer;
using TerrainSamples::overlay;

// S = 256: a valley along z between two ranges of hills, with rolling ground.
// The floor (|x| below about 500) holds the lake and the pond; beyond it the
// hills climb within sight of the floor and round off below the top height.
// Across the race course the ground lies level, as on the championship's
// maps: the course's curve, not its corners, so that its turns lie level too.
TerrainMapWriter::Map valleyMap()
{
    TerrainMapWriter::Map map;
    map.size = 256;
    const float half = float(map.size) / 2.0f;
    // The height (height units) at grid place (i, j), whole or between samples.
    const auto heightAt = [half](float i, float j) {
        const float across = (i - half) / half; // -1 .. 1 along x
        const float along = (j - half) / half;
        const float valley = across * across;   // 0 on the valley floor
        const float ridges = 0.5f + 0.5f * std::sin(along * 3.1f + across * 1.3f);
        float units = 18.0f + 150.0f * valley * (0.55f + 0.45f * ridges);
        units += 22.0f * valueNoise(i, j, 24.0f, 3) + 6.0f * valueNoise(i, j, 6.0f, 5);
        float t = (std::fabs(across) - 0.16f) / 0.5f;
        t = t < 0.0f ? 0.0f : t > 1.0f ? 1.0f : t;
        units += (70.0f + 30.0f * ridges) * t * t * (3.0f - 2.0f * t);
        return units;
    };
    const LevelFileWriter::Terrain scales;
    const float cell = 8.0f * scales.horizontalScale, edge = TerrainSamples::halfWidth(map, scales);
    const auto heightAtPlace = [&](float x, float z) { return heightAt((x + edge) / cell, (edge - z) / cell); };
    const MapGenerator::Track corners(WaySamples::valleyCourse(), false);
    std::vector<std::pair<float, float>> curve;
    for (float s = 0.0f; s < corners.length(); s += 5.0f) {
        const MapGenerator::Track::Place p = corners.onRoad(s);
        curve.emplace_back(p.x, p.z);
    }
    const MapGenerator::Track course(curve, true);
    for (int32_t i = 0; i < map.size; ++i)
        for (int32_t j = 0; j < map.size; ++j) {
            const float x = float(i) * cell - edge, z = edge - float(j) * cell;
            float units = MapGenerator::levelledAcross(course, WaySamples::courseWidth, x, z,
                                                       heightAt(float(i), float(j)), heightAtPlace);
            if (units > 190.0f)
                units = 190.0f + 60.0f * std::tanh((units - 190.0f) / 60.0f);
            map.heights.push_back(TerrainSamples::rawHeight(units));
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
    return TerrainSamples::groundHeight(map, LevelFileWriter::Terrain{}, x, z);
}

static LevelFileWriter::Level valleyLevel()
{
    LevelFileWriter::Level valley;
    valley.name = String(L"Valley");
    // The solo map belongs to no country: its tag 3 stays empty.
    valley.description = String(L"");
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
