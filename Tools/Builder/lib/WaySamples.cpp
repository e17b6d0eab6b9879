#include "WaySamples.h"

#include <cmath>

namespace {

using Point = WayFileWriter::Point;
using Way = WayFileWriter::Way;

constexpr float pi = 3.14159265f;

using WaySamples::Layout;

// The valley's course (curbstones as wide as a race needs), its shortcut
// and its dirt track.
constexpr Layout course{WaySamples::curbstones.modeler,      WaySamples::courseWidth,
                        WaySamples::curbstones.heightOffset, WaySamples::curbstones.stepsPerLength,
                        WaySamples::curbstones.thinTolerance, {255, 255, 255, 255}};
constexpr const Layout& shortcut = WaySamples::paved;
constexpr const Layout& dirt = WaySamples::dirt;

}

namespace WaySamples {

Point point(const Layout& layout, float x, float z, const Ground& ground)
{
    Point p;
    p.position[0] = x;
    p.position[1] = ground(x, z) + layout.heightOffset;
    p.position[2] = z;
    p.side[0] = 1.0f;
    p.width = layout.width;
    p.heightOffset = layout.heightOffset;
    p.stepsPerLength = layout.stepsPerLength;
    p.thinTolerance = layout.thinTolerance;
    p.name = String(layout.modeler);
    for (int i = 0; i < 4; ++i)
        p.colour[i] = layout.colour[i];
    return p;
}

Way loop(const Layout& layout, const std::vector<std::pair<float, float>>& corners, const Ground& ground,
         int32_t firstId)
{
    Way way;
    if (corners.empty())
        return way;
    for (const auto& [x, z] : corners)
        way.push_back(point(layout, x, z, ground));
    way.push_back(point(layout, corners.front().first, corners.front().second, ground));
    for (Point& p : way)
        p.id = firstId++;
    return way;
}

void closeMidLeg(Way& loop, const Layout& layout, const Ground& ground)
{
    // The first corner, the last before it, and the closing point on it.
    if (loop.size() < 4)
        return;
    const Point& first = loop.front();
    const Point& last = loop[loop.size() - 2];
    const float x = (first.position[0] + last.position[0]) * 0.5f, z = (first.position[2] + last.position[2]) * 0.5f;
    const Point closing = point(layout, x, z, ground);
    loop.back() = closing;
    loop.insert(loop.begin(), closing);
    int32_t id = loop[1].id;
    for (Point& p : loop)
        p.id = id++;
}

std::vector<std::pair<float, float>> valleyCourse()
{
    constexpr float turnX = (westX + eastX) * 0.5f, radius = (eastX - westX) * 0.5f;
    std::vector<std::pair<float, float>> points;
    // North along the west straight. Segments that meet a junction do not
    // follow the ground (they run level between their ends): short pieces
    // beside the junction at z = 0 keep the ground from rising through them.
    for (float z : {-450.0f, -300.0f, -150.0f, -15.0f, 0.0f, 15.0f, 150.0f, 300.0f, 450.0f, 600.0f, 750.0f, 900.0f})
        points.emplace_back(westX, z);
    for (int i = 1; i < 6; ++i) {
        const float a = pi - pi * float(i) / 6.0f;
        points.emplace_back(turnX + radius * std::cos(a), 900.0f + radius * std::sin(a));
    }
    for (float z : {900.0f, 750.0f, 600.0f, 450.0f, 300.0f, 150.0f, 15.0f, 0.0f, -15.0f, -150.0f, -300.0f, -450.0f,
                    -600.0f, -750.0f, -900.0f})
        points.emplace_back(eastX, z);
    for (int i = 1; i < 6; ++i) {
        const float a = -pi * float(i) / 6.0f;
        points.emplace_back(turnX + radius * std::cos(a), -900.0f + radius * std::sin(a));
    }
    for (float z : {-900.0f, -750.0f, -600.0f, -450.0f})
        points.emplace_back(westX, z);
    return points;
}

std::vector<WayFileWriter::Way> valley(const Ground& ground)
{
    constexpr float westX = WaySamples::westX, eastX = WaySamples::eastX;
    constexpr float turnX = (westX + eastX) * 0.5f;
    Way loop;
    for (const auto& [x, z] : valleyCourse())
        loop.push_back(point(course, x, z, ground));

    // The shortcut leaves the west straight at z = 0 and ends on the east
    // straight's point at z = 0, which links to its last point.
    Way cut;
    const float cutPoints[][2] = {{westX, 0.0f},   {westX + 20.0f, 0.0f}, {westX + 40.0f, 0.0f}, {330.0f, 15.0f},
                                  {turnX, 25.0f},  {520.0f, 15.0f},       {eastX - 40.0f, 0.0f}, {eastX - 20.0f, 0.0f},
                                  {eastX, 0.0f}};
    for (const auto& xz : cutPoints)
        cut.push_back(point(shortcut, xz[0], xz[1], ground));

    // Ids: the course's points in order, then the shortcut's.
    int32_t id = 0;
    for (Point& p : loop)
        p.id = id++;
    for (Point& p : cut)
        p.id = id++;
    for (Point& p : loop) {
        if (p.position[0] == westX && p.position[2] == 0.0f)
            p.branches.push_back(cut);
        if (p.position[0] == eastX && p.position[2] == 0.0f)
            p.links.push_back(cut.back().id);
    }

    Way track;
    const float trackPoints[][2] = {{-900.0f, -1700.0f}, {-830.0f, -1350.0f}, {-720.0f, -1020.0f},
                                    {-640.0f, -720.0f},  {-610.0f, -380.0f},  {-650.0f, -20.0f},
                                    {-580.0f, 380.0f},   {-470.0f, 760.0f},   {-540.0f, 1150.0f},
                                    {-720.0f, 1500.0f}};
    for (const auto& xz : trackPoints)
        track.push_back(point(dirt, xz[0], xz[1], ground));
    for (Point& p : track)
        p.id = id++;
    std::vector<WayFileWriter::Way> ways = {loop, track};
    WayFileWriter::deriveAsTheGame(ways);
    return ways;
}

bool save(const String& root, const Ground& ground)
{
    return WayFileWriter::save(valley(ground), root + L"Data\\Map\\Valley.way");
}

}
