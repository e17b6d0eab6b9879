#include "WayFileWriter.h"

#include "Core/FileArray.h"

#include <array>
#include <cmath>

namespace {

using Vector = std::array<double, 3>;

Vector positionOf(const WayFileWriter::Point& p) { return {p.position[0], p.position[1], p.position[2]}; }

Vector operator-(const Vector& a, const Vector& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

double length(const Vector& v) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

// The game's curve of the segment from list[i] to list[i + 1] at t: a cubic
// whose inner control points lie a third of the chord from its ends, along
// the chords from the point before to the end and from the start to the
// point after.
Vector curveAt(const WayFileWriter::Way& list, size_t i, double t)
{
    const Vector p0 = positionOf(list[i]), p3 = positionOf(list[i + 1]);
    const Vector before = i > 0 ? positionOf(list[i - 1]) : p0;
    const Vector after = i + 2 < list.size() ? positionOf(list[i + 2]) : p3;
    const Vector t0 = p3 - before, t1 = after - p0;
    const double third = length(p3 - p0) / 3.0, l0 = length(t0), l1 = length(t1);
    const double u = 1.0 - t;
    Vector at{};
    for (int k = 0; k < 3; ++k) {
        const double c1 = l0 > 0.0 ? p0[k] + t0[k] * third / l0 : p0[k];
        const double c2 = l1 > 0.0 ? p3[k] - t1[k] * third / l1 : p3[k];
        at[k] = p0[k] * u * u * u + c1 * 3.0 * u * u * t + c2 * 3.0 * u * t * t + p3[k] * t * t * t;
    }
    return at;
}

// The side the game takes at a curve point from the step to a point a
// hundredth further on.
void setSide(WayFileWriter::Point& point, const Vector& from, const Vector& to)
{
    const double x = to[2] - from[2], z = from[0] - to[0], l = std::hypot(x, z);
    point.side[0] = l > 0.0 ? float(x / l) : 0.0f;
    point.side[1] = 0.0f;
    point.side[2] = l > 0.0 ? float(z / l) : 0.0f;
}

void derive(WayFileWriter::Way& list)
{
    for (size_t i = 0; i + 1 < list.size(); ++i)
        setSide(list[i], curveAt(list, i, 0.0), curveAt(list, i, 0.01));
    if (list.size() >= 2)
        setSide(list.back(), curveAt(list, list.size() - 2, 1.0), curveAt(list, list.size() - 2, 1.01));
    if (!list.empty())
        list.back().name = String(L"Undefined");
    for (WayFileWriter::Point& p : list)
        for (WayFileWriter::Way& branch : p.branches)
            derive(branch);
}

bool writePoints(const WayFileWriter::Way& way, FileInterface& out)
{
    bool ok = out.writeValue(uint32_t(way.size()));
    for (const WayFileWriter::Point& p : way) {
        ok = out.writeValue(p.id) && ok;
        ok = out.write(p.position, sizeof(p.position)) == sizeof(p.position) && ok;
        ok = out.write(p.side, sizeof(p.side)) == sizeof(p.side) && ok;
        ok = out.writeValue(p.width) && out.writeValue(p.heightOffset) && out.writeValue(p.stepsPerLength) &&
             out.writeValue(p.thinTolerance) && out.writeValue(p.followGround) && ok;
        ok = out.write(p.colour, sizeof(p.colour)) == sizeof(p.colour) && ok;
        ok = out.writeValue(uint32_t(p.branches.size())) && out.writeValue(uint32_t(p.links.size())) && ok;
        ok = out.writeString(p.name) && ok;
        for (const WayFileWriter::Way& branch : p.branches)
            ok = writePoints(branch, out) && ok;
        for (int32_t id : p.links)
            ok = out.writeValue(id) && ok;
    }
    return ok;
}

}

void WayFileWriter::deriveAsTheGame(std::vector<Way>& ways)
{
    for (Way& way : ways)
        derive(way);
}

bool WayFileWriter::write(const std::vector<Way>& ways, FileInterface& target)
{
    bool ok = target.writeValue(uint32_t(ways.size()));
    for (const Way& way : ways)
        ok = writePoints(way, target) && ok;
    return ok;
}

bool WayFileWriter::save(const std::vector<Way>& ways, const String& path)
{
    FileArray bytes(256);
    return write(ways, bytes) && FileInterface::saveToFile(bytes, path);
}
