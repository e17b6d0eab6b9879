#include "SprintLevel.h"

#include "ImageFileWriter.h"
#include "MapGenerator.h"
#include "StaticObjectWriter.h"
#include "TerrainSamples.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

MapGenerator::Settings settings()
{
    MapGenerator::Settings sprint;
    sprint.base = L"Sprint";
    sprint.name = L"Sprint";
    // The country whose championship the map belongs to.
    sprint.code = L"DE";
    sprint.courseType = 2;
    sprint.size = 256;
    sprint.hills = 0.0f;
    sprint.rolling = 0.0f;
    sprint.lake = false;
    // The road in legs of at most 150 units, the first ending at the Start
    // (the generator puts it at the first corner): a race ranks the quads by
    // the way point they have reached, and on the first of the way's points
    // not at all, so one leg from end to end kept them in their start order
    // all race long. The race finds its way where a way's bounds hold the
    // Start strictly, which the bounds of two legs in line along z, meeting
    // at it, do not: that corner lies half a unit aside.
    sprint.course = {{0.0f, SprintLevel::roadSouth}, {0.5f, SprintLevel::startZ}};
    for (float z = SprintLevel::startZ + 150.0f; z < SprintLevel::roadNorth; z += 150.0f)
        sprint.course.emplace_back(0.0f, z);
    sprint.course.emplace_back(0.0f, SprintLevel::roadNorth);
    sprint.closed = false;
    return sprint;
}

// The map choice's picture: sky over a meadow with the grey road running to
// the horizon (the screens of the play tests know its blue sky).
std::vector<uint8_t> preview()
{
    ImageFileWriter::Image image{64, 64, {}};
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            const float half = 2.0f + float(y > 24 ? y - 24 : 0) * 0.5f;
            const bool road = y > 24 && float(x) > 31.5f - half && float(x) < 31.5f + half;
            image.argb.push_back(y <= 24 ? 0xFF6FA8DCu : road ? 0xFF707070u : 0xFF4E8A3Au);
        }
    return ImageFileWriter::png(image);
}

const MapGenerator::Map& sprint()
{
    static const MapGenerator::Map map = [] {
        MapGenerator::Map made = MapGenerator::generate(settings());
        made.level.preview = preview();
        // The player's quad alone on the road, ahead of the Start, beside
        // the opponents' lanes, and their grid farther back: they start
        // faster, and from the grid as made they caught up within three
        // seconds and pushed a quad driven by the throttle alone off its
        // line; passing a quad that stood in the middle of the road they
        // pushed it off or turned it round.
        for (StaticObjectWriter::Object& o : made.objects) {
            const std::wstring package(o.package.text());
            if (package == L"PlayerSlot" && o.flag == 0) {
                o.position[0] = SprintLevel::playerX;
                o.position[2] = SprintLevel::playerZ;
            } else if (package == L"PlayerSlot") {
                o.position[2] -= SprintLevel::gridBack;
            } else if (package == L"Gate") {
                o.scale = SprintLevel::gateScale;
            }
        }
        // No pick-ups: they lie beside the middle of the road, and an
        // opponent turning across the player's line to take one knocked the
        // quad off the road.
        std::erase_if(made.objects, [](const StaticObjectWriter::Object& o) {
            const std::wstring package(o.package.text());
            return package == L"Nitro" || package == L"RepairKit" || package == L"RocketPack" || package == L"Oil";
        });
        return made;
    }();
    return map;
}

}

float SprintLevel::ground()
{
    const MapGenerator::Map& map = sprint();
    return TerrainSamples::groundHeight(map.terrain, map.level.terrain, 0.0f, 0.0f);
}

bool SprintLevel::save(const String& folder)
{
    return MapGenerator::save(sprint(), folder, L"Sprint");
}
