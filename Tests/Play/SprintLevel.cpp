#include "SprintLevel.h"

#include "ImageFileWriter.h"
#include "LevelFileWriter.h"
#include "RecordsFileWriter.h"
#include "StaticObjectWriter.h"
#include "TerrainMapWriter.h"
#include "WayFileWriter.h"

#include "Core/HeightSurface.h"

#include <cstdint>
#include <vector>

namespace {

// The flat ground in height units.
constexpr uint16_t groundRaw = 20 * 256;

TerrainMapWriter::Layer meadow()
{
    TerrainMapWriter::Layer layer;
    // A plain meadow green with a faint checker, R5G6B5.
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x)
            layer.pixels.push_back(((x / 16 + y / 16) % 2) ? uint16_t(6 << 11 | 36 << 5 | 4) : uint16_t(7 << 11 | 40 << 5 | 5));
    return layer;
}

TerrainMapWriter::Overlay plainOverlay(uint32_t grey)
{
    TerrainMapWriter::Overlay overlay;
    overlay.width = overlay.height = 128;
    overlay.argb.assign(128 * 128, 0xFF000000u | grey << 16 | grey << 8 | grey);
    return overlay;
}

TerrainMapWriter::Map flatMap()
{
    TerrainMapWriter::Map map;
    map.size = 128;
    map.heights.assign(size_t(map.size) * size_t(map.size), groundRaw);
    map.layers.push_back(meadow());
    map.overlays[0] = plainOverlay(220);
    map.overlays[1] = plainOverlay(10);
    return map;
}

std::vector<uint8_t> preview()
{
    // Sky over a meadow with the grey road running to the horizon.
    ImageFileWriter::Image image{64, 64, {}};
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            const float half = 2.0f + float(y > 24 ? y - 24 : 0) * 0.5f;
            const bool road = y > 24 && float(x) > 31.5f - half && float(x) < 31.5f + half;
            image.argb.push_back(y <= 24 ? 0xFF6FA8DCu : road ? 0xFF707070u : 0xFF4E8A3Au);
        }
    return ImageFileWriter::png(image);
}

LevelFileWriter::Level level()
{
    LevelFileWriter::Level sprint;
    sprint.name = String(L"Sprint");
    // The description field is the map's country for the championship.
    sprint.description = String(L"DE");
    sprint.preview = preview();
    sprint.courseType = 2;
    sprint.referenceTime = RecordsFileWriter::Time::fromMilliseconds(30000).word();
    sprint.timeOfDay = 12.5f;
    LevelFileWriter::Camera& camera = sprint.camera;
    camera.mode = 3;
    camera.targetHeight = camera.currentHeight = 30.0f;
    camera.position[1] = SprintLevel::ground() + 30.0f;
    camera.position[2] = SprintLevel::startZ - 150.0f;
    camera.pitch = 8.0f;
    return sprint;
}

StaticObjectWriter::Object placed(const wchar_t* package, float x, float lift, float z, float rotation, uint8_t state,
                                  uint8_t flag)
{
    StaticObjectWriter::Object o;
    o.package = String(package);
    o.position[0] = x;
    o.position[1] = SprintLevel::ground() + lift;
    o.position[2] = z;
    o.rotation = rotation;
    o.state = state;
    o.flag = flag;
    return o;
}

std::vector<StaticObjectWriter::Object> objects()
{
    using namespace SprintLevel;
    std::vector<StaticObjectWriter::Object> out;
    // The start view and a flight of three views along the road for the
    // menu's tours (the flag is the view's tilt).
    for (uint8_t n = 0; n < 4; ++n)
        out.push_back(placed(L"Camera", n % 2 ? 80.0f : -80.0f, 60.0f, startZ - 200.0f + 150.0f * float(n), 0.0f, n,
                             uint8_t(70 - 5 * n)));
    // The Start stands over the road behind the grid: its post would stop a
    // quad driving straight ahead.
    out.push_back(placed(L"Start", 0.0f, 0.0f, startZ - 150.0f, 0.0f, 0, 0));
    // The player's slot alone in the middle of the road, the opponents'
    // well behind it: a quad driven by keys alone must not be pushed off
    // the road at the start.
    for (uint8_t slot = 0; slot < 8; ++slot)
        out.push_back(placed(L"PlayerSlot", slot == 0 ? 0.0f : slot % 2 ? 3.5f : -3.5f, 3.0f,
                             startZ - 20.0f - (slot == 0 ? 0.0f : 40.0f + 14.0f * float(slot)), 0.0f, 0, slot));
    for (uint8_t i = 0; i < 3; ++i) {
        out.push_back(placed(L"Gate", 0.0f, 0.0f, gateZ[i], 0.0f, uint8_t(i + 1), 0));
        out.back().scale = 4.0f;
    }
    out.push_back(placed(L"Goal", 0.0f, 0.0f, goalZ, 0.0f, 0, 0));
    for (uint8_t slot = 0; slot < 7; ++slot)
        out.push_back(placed(L"PlayerParkingSlot", -25.0f, 0.0f, startZ - 20.0f - 14.0f * float(slot), 0.0f, 0, slot));
    out.push_back(placed(L"Podium", -40.0f, 0.0f, startZ + 120.0f, 90.0f, 0, 0));
    return out;
}

std::vector<WayFileWriter::Way> road()
{
    WayFileWriter::Way way;
    int32_t id = 0;
    for (float z = SprintLevel::roadSouth; z <= SprintLevel::roadNorth; z += 150.0f) {
        WayFileWriter::Point p;
        p.id = id++;
        p.position[1] = SprintLevel::ground() + 0.25f;
        p.position[2] = z;
        p.side[0] = 1.0f;
        p.width = 12.0f;
        p.heightOffset = 0.25f;
        p.stepsPerLength = 0.1f;
        p.thinTolerance = 0.5f;
        p.name = String(L"Curbstone1");
        way.push_back(p);
    }
    return {way};
}

}

float SprintLevel::ground()
{
    static const TerrainMapWriter::Map map = flatMap();
    return HeightSurface::height(map.heights.data(), map.size, map.size / 2, map.size / 2) *
           LevelFileWriter::Terrain().verticalScale;
}

bool SprintLevel::save(const String& folder)
{
    return LevelFileWriter::save(level(), folder + L"Sprint.tee") &&
           TerrainMapWriter::save(flatMap(), folder + L"Sprint.map") &&
           StaticObjectWriter::save(objects(), folder + L"Sprint.obj") &&
           WayFileWriter::save(road(), folder + L"Sprint.way");
}
