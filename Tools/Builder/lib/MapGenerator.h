#pragma once

#include "CourseTrack.h"
#include "LevelFileWriter.h"
#include "MeadowFileWriter.h"
#include "StaticObjectWriter.h"
#include "TerrainMapWriter.h"
#include "WaterFileWriter.h"
#include "WayFileWriter.h"

#include "Core/String.h"

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

// Race levels made from a seed: a floor of rolling ground ringed by hills,
// a lake inside the course, the course road, and everything a race places
// on it (the grid, Start and Goal, gates, pick-ups, parking slots, the
// podium with a bonfire beside it, camera objects, trees and bushes). The same settings give the
// same bytes on every run.
namespace MapGenerator {

// The colours of the ground, low to high.
enum class Palette : uint8_t { Green, Dry, Cold, Snow };

struct Settings
{
    String base{L""};        // the files' name under "Data\Map\", without extension
    String name{L""};        // the map's name (tag 1)
    String code{L""};        // the country code (tag 3), empty for a solo map
    int32_t courseType = 1;  // 1 off-road, 2 race track, 3 rally
    uint32_t seed = 1;
    int32_t size = 256;      // terrain grid samples per side
    Palette palette = Palette::Green;
    float hills = 110.0f;    // the hills' height over the floor, height units
    float rolling = 6.0f;    // the floor's rise and fall, height units
    bool lake = true;        // a lake inside a closed course
    float timeOfDay = 12.5f;
    float season = 0.5f;
    // The course's corners (x, z) in driving order; empty for a loop made
    // from the seed. An open course (closed false) runs from the first
    // corner to the last; its first leg must hold the grid (130 units).
    std::vector<std::pair<float, float>> course;
    bool closed = true;
};

// One level's content, as its writers take it.
struct Map
{
    LevelFileWriter::Level level;
    TerrainMapWriter::Map terrain;
    std::vector<WaterFileWriter::Area> water;
    std::vector<MeadowFileWriter::Layer> meadow;
    std::vector<WayFileWriter::Way> ways;
    std::vector<StaticObjectWriter::Object> objects;
    float courseLength = 0.0f; // world units along the course road
};

// The grid, gates and markers of a race.
constexpr int32_t gridSlots = 8;
constexpr int32_t parkingSlots = 7;
// Group 0, numbers 1 to 8 on race tracks, rally courses and open courses.
constexpr int32_t courseGates = 8;
// An off-road loop's group 0, numbers 1 up to this: its races drive
// straight from gate to gate, so its gates stand close enough that the line
// between two of them keeps near the road's middle (at most gateLineOff
// from it where the road allows).
constexpr int32_t mostOffRoadGates = 31;
constexpr float gateLineOff = 5.0f;
constexpr int32_t flagGates = 3;    // group 1, numbers 10 to 12
constexpr int32_t cameraObjects = 18;
// The course road's width: room for a race of eight quads side by side in
// pairs with room to pass; the ground under it and a margin beside it lies
// level across it.
constexpr float courseWidth = 30.0f;
constexpr float levelMargin = 6.0f;
// The ground (height units) at world (x, z), whose own height is units:
// across a road of roadWidth along the track and levelMargin beside it,
// the height of the track's line beside the place (as height gives the
// ground anywhere), blending into the place's own over the next 24 units.
float levelledAcross(const Track& track, float roadWidth, float x, float z, float units,
                     const std::function<float(float x, float z)>& height);
// An off-road course is a dirt hollow: the game sinks the ground inside it
// by hollowDepth height units, hollowSlope of that per unit in from its
// edges, so only beyond hollowWall from an edge does its floor lie level.
// Its way is wider than its floor by a wall on each side, and the race's
// objects stand on that floor.
constexpr float hollowDepth = 9.0f;
constexpr float hollowSlope = 0.06f;
constexpr float hollowWall = 1.0f / hollowSlope;
// An off-road course's floor is wider than a road: its races drive
// straight from gate to gate and slide wide in the bends, and a quad that
// reaches the hollow's wall (as steep as 45 degrees) tips over on it.
constexpr float offRoadFloor = 80.0f;
// How far in from the floor's edges an off-road gate's posts stand: the
// floor the game makes lies level to at least 36 from a gate's place, as
// the way's curve runs a few units off the course's line in the bends.
constexpr float gateWallClearance = 8.0f;
// The level width a race drives on: the road, or the hollow's floor.
constexpr float floorWidth(int32_t courseType)
{
    return courseType == 1 ? offRoadFloor : courseWidth;
}
// The width of the course's way: its floor and, on a dirt hollow, its walls.
constexpr float wayWidth(int32_t courseType)
{
    return courseType == 1 ? floorWidth(courseType) + 2.0f * hollowWall : courseWidth;
}

Map generate(const Settings& settings);
// "<base>.tee", ".map", ".wtr", ".mdw", ".way" and ".obj" into folder
// (which ends in a backslash and exists).
bool save(const Map& map, const String& folder, const String& base);

// The championship's maps: a map of each course type 1, 2 and 3 for each
// of the 13 countries, named after the country's code ("DE Waldweg").
std::vector<Settings> championship();
// The championship's maps into root's "Data\Map" folder (which exists).
bool saveChampionship(const String& root);

}
