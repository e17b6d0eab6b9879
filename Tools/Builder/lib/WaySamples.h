#pragma once

#include "WayFileWriter.h"

#include "Core/String.h"

#include <functional>
#include <utility>
#include <vector>

// The sample level's ways: a closed race course with curbstones on the
// valley floor east of the lake, a paved shortcut across it (a branch of the
// course that ends linked to the course's other side), and a hollow dirt
// track along the western slopes.
namespace WaySamples {

// The ground height (world units) at world (x, z).
using Ground = std::function<float(float x, float z)>;

// The course's first point lies on its west straight; its last point lies on
// the first, closing the loop.
constexpr float westX = 200.0f;
constexpr float eastX = 650.0f;

// How a way is made: its modeler, width, height above the ground, the
// steps of its mesh and its colour.
struct Layout
{
    const wchar_t* modeler;
    float width;
    float heightOffset;
    float stepsPerLength;
    float thinTolerance;
    uint8_t colour[4]; // blue, green, red, alpha
};

// The valley course's width: room for a race of quads side by side, as
// the championship's race tracks have.
constexpr float courseWidth = 30.0f;
// Curbstones, 12 wide, a little above the ground.
constexpr Layout curbstones{L"Curbstone1", 12.0f, 0.25f, 0.1f, 0.5f, {255, 255, 255, 255}};
// Paved with border strips, 10 wide.
constexpr Layout paved{L"SimpleWayBorderPaver1", 10.0f, 0.25f, 0.1f, 0.5f, {255, 255, 255, 255}};
// A dirt hollow 20 wide, tinting the ground a light brown.
constexpr Layout dirt{L"TerrainHollow1", 20.0f, 0.0f, 0.1f, 0.5f, {60, 120, 170, 255}};

// A point of layout at (x, z) on the ground (id -1).
WayFileWriter::Point point(const Layout& layout, float x, float z, const Ground& ground);
// A closed course through the (x, z) pairs of corners, in order: its last
// point lies on the first; ids count from firstId.
WayFileWriter::Way loop(const Layout& layout, const std::vector<std::pair<float, float>>& corners,
                        const Ground& ground, int32_t firstId = 0);
// A loop's first and last segments have no point beyond its closing point:
// each leaves it along its own chord, so at a corner they meet at the
// corner's angle, where every other corner's segments meet along the line
// through its neighbours. A hollow way then leaves a thin wedge of ground
// outside the bend in neither segment, unlowered between two lowered floors.
// Closed instead at the middle of the leg into its first corner, the two
// chords lie on one line. The ids count on from the first point's.
void closeMidLeg(WayFileWriter::Way& loop, const Layout& layout, const Ground& ground);

// The valley course's points (x, z) in driving order, the first again last.
std::vector<std::pair<float, float>> valleyCourse();
std::vector<WayFileWriter::Way> valley(const Ground& ground);
// "Data\Map\Valley.way" under root (the folders exist).
bool save(const String& root, const Ground& ground);

}
