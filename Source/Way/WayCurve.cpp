// The curve of a segment and its cross-sections.
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Landscape/Terrain.h"

#include "Core/Math.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace Way {

namespace {

constexpr float pi = 3.1415927f;

// The cosine blend between the two ends of a segment at t.
float ease(float t) { return (1.0f - floatCos(t * pi)) * 0.5f; }

float chord(const vec3d& a, const vec3d& b) { return fastSqrt((b - a).lengthSq()); }

}

vec3d unit(const vec3d& v)
{
    const float lengthSq = v.lengthSq();
    // The table root is undefined below the smallest normal float.
    if (!(lengthSq > 1.0e-30f))
        return {};
    return v / fastSqrt(lengthSq);
}

float groundHeight(float x, float z)
{
    const float h = gTerrain.getHeight(x, z, 3);
    return h == Terrain::missing ? 0.0f : h;
}

vec3d Curve::pointAt(float t) const
{
    const float s = 1.0f - t;
    return p0 * (s * s * s) + c1 * (3.0f * s * s * t) + c2 * (3.0f * s * t * t) + p3 * (t * t * t);
}

void Segment::buildCurve(Curve& curve, const PointNode* start, const PointNode* end)
{
    curve.valid = 0;
    if (!start || !end || !start->item || !end->item)
        return;
    const Point& s = *start->item;
    const Point& e = *end->item;
    const Point* before = start->prev ? start->prev->item : nullptr;
    const Point* after = end->next ? end->next->item : nullptr;
    curve.p0 = s.position;
    curve.p3 = e.position;
    const vec3d previous = before ? before->position : s.position;
    const vec3d next = after ? after->position : e.position;
    // The inner control points lie a third of the chord from the ends, along
    // the chord from the previous point to the end point and from the start
    // point to the next. A tangent of no length keeps its control point on
    // its end point.
    const vec3d t0 = curve.p3 - previous;
    const vec3d t1 = next - curve.p0;
    const float third = chord(curve.p0, curve.p3) / 3.0f;
    const float l0 = fastSqrt(t0.lengthSq()), l1 = fastSqrt(t1.lengthSq());
    curve.c1 = l0 > 0.0f ? curve.p0 + t0 * (third / l0) : curve.p0;
    curve.c2 = l1 > 0.0f ? curve.p3 - t1 * (third / l1) : curve.p3;
    curve.heightOffsets[0] = (before ? before : &s)->heightOffset;
    curve.heightOffsets[1] = s.heightOffset;
    curve.heightOffsets[2] = e.heightOffset;
    curve.heightOffsets[3] = (after ? after : &e)->heightOffset;

    curve.length = 0.0f;
    vec3d last = curve.pointAt(0.0f);
    for (float t = 0.1f; t < 1.05f; t += 0.1f) {
        const vec3d p = curve.pointAt(t);
        curve.length += chord(last, p);
        last = p;
    }
    const double n = std::trunc(double(curve.length) * double(s.stepsPerLength));
    curve.steps = n > 1.0 ? (n < 4294967295.0 ? uint32_t(n) : 4294967295u) : 1u;
    curve.step = 1.0f / float(curve.steps);
    curve.valid = 1;
}

void Segment::initCurve(Curve& curve, const PointNode* start, const PointNode* end)
{
    curve.c1 = curve.c2 = curve.p0 = curve.p3 = {};
    curve.length = 0.0f;
    curve.step = 0.0f;
    curve.steps = 0;
    curve.valid = 0;
    buildCurve(curve, start, end);
}

void Segment::crossSection(const Curve& curve, const Curve* next, float t, float width, vec3d& forward,
                           vec3d& side, vec3d& left, vec3d& right)
{
    const float h = width * 0.5f;
    const vec3d p = curve.pointAt(t);
    const vec3d q = t + 0.01f <= 1.0f || !next || !next->valid ? curve.pointAt(t + 0.01f) : next->pointAt(0.01f);
    forward = unit(q - p);
    side = unit(vec3d{forward.z, 0.0f, -forward.x});
    left.x = p.x - h * side.x;
    left.z = p.z - h * side.z;
    right.x = p.x + h * side.x;
    right.z = p.z + h * side.z;
}

void Segment::crossSectionAt(Pos& pos, const Segment& segment, float t)
{
    const Point& s = segment.startPoint();
    const Point& e = segment.endPoint();
    const float blend = ease(t);
    const float width = s.width * (1.0f - blend) + e.width * blend;
    crossSection(segment, e.segment, t, width, pos.forward, pos.side, pos.left, pos.right);
    pos.centre = (pos.left + pos.right) * 0.5f;
    pos.t = t;
    pos.distance = t * segment.length;
}

namespace {

// The road heights at the two ends of a segment that does not follow the
// ground: the ground under the ends' edges plus their offsets, or the height
// of the way an end hangs from.
void endHeights(const Segment& segment, float& start, float& end)
{
    Pos a, b;
    Segment::crossSectionAt(a, segment, 0.0f);
    Segment::crossSectionAt(b, segment, 1.0f);
    start = std::max(groundHeight(a.left.x, a.left.z), groundHeight(a.right.x, a.right.z));
    end = std::max(groundHeight(b.left.x, b.left.z), groundHeight(b.right.x, b.right.z));
    const Point& s = segment.startPoint();
    const Point& e = segment.endPoint();
    start = s.parentNode ? wayHeightAtNode(s.parentNode) : start + s.heightOffset;
    end = e.parentNode ? wayHeightAtNode(e.parentNode) : end + e.heightOffset;
}

void fitHeights(Pos& pos, const Segment& segment, uint32_t followGround, const float* ends)
{
    const float t = pos.t;
    const float blend = ease(t);
    pos.heightOffset = segment.startPoint().heightOffset * (1.0f - blend) + segment.endPoint().heightOffset * blend;
    if (followGround) {
        const float y = std::max(groundHeight(pos.left.x, pos.left.z), groundHeight(pos.right.x, pos.right.z)) +
                        pos.heightOffset;
        pos.left.y = pos.right.y = y;
    } else {
        float start = ends ? ends[0] : 0.0f, end = ends ? ends[1] : 0.0f;
        if (!ends)
            endHeights(segment, start, end);
        // Between the trims: a segment joined at both ends over its whole
        // length would divide by nothing, and blends over t instead.
        const float span = 1.0f - (segment.endTrim + segment.startTrim);
        float u = span > 1.0e-6f ? (t - segment.startTrim) / span : t;
        u = u < 0.0f ? 0.0f : u > 1.0f ? 1.0f : u;
        const float s = ease(u);
        pos.left.y = pos.right.y = start * (1.0f - s) + end * s;
    }
    pos.centre = (pos.left + pos.right) * 0.5f;
}

}

void Segment::groundCrossSectionAt(Pos& pos, const Segment& segment, uint32_t followGround)
{
    fitHeights(pos, segment, followGround, nullptr);
}

float wayHeightAtNode(const PointNode* node)
{
    if (!node)
        return 0.0f;
    const PointNode* first = node;
    const PointNode* second = node->next;
    bool atEnd = false;
    if (!second) {
        first = node->prev;
        second = node;
        atEnd = true;
    }
    if (!first)
        return 0.0f;
    Curve curve;
    Segment::initCurve(curve, first, second);
    // At t = 0 the look-ahead stays on the curve; at t = 1 the node ends its
    // list, with no curve after it.
    vec3d forward, side, left, right;
    Segment::crossSection(curve, nullptr, atEnd ? 1.0f : 0.0f, node->item->width, forward, side, left, right);
    return std::max(groundHeight(left.x, left.z), groundHeight(right.x, right.z)) + node->item->heightOffset;
}

void Segment::fitToGround()
{
    edgeBoxes.clear();
    const uint32_t follow = followsGround();
    float ends[2] = {};
    if (!follow)
        endHeights(*this, ends[0], ends[1]);
    const float tolerance = startPoint().thinTolerance * step;
    size_t kept = 0;
    for (size_t i = 0; i < positions.size(); ++i) {
        Pos pos = positions[i];
        fitHeights(pos, *this, follow, ends);
        positions[kept++] = pos;
        if (kept < 3)
            continue;
        // The middle one of the last three goes when it lies on the line
        // through the other two (within the tolerance), unless it is kept.
        const Pos& a = positions[kept - 3];
        const Pos& b = positions[kept - 2];
        const Pos& c = positions[kept - 1];
        bool drop = b.drop != 0;
        if (!drop && !b.keep) {
            const vec3d line = c.centre - a.centre;
            const vec3d off = b.centre - a.centre;
            const float lineLength = fastSqrt(line.lengthSq());
            const float distance =
                lineLength > 0.0f ? fastSqrt(off.cross(line).lengthSq()) / lineLength : fastSqrt(off.lengthSq());
            drop = distance < tolerance;
        }
        if (drop) {
            positions[kept - 2] = c;
            --kept;
        }
    }
    positions.resize(kept);
    indexCrossSections();
}

void Segment::indexCrossSections()
{
    const size_t planes = positions.empty() ? 0 : positions.size() - 1;
    const size_t blocks = (planes + 4) / 4;
    halfways.assign(blocks * 12, 0.0f);
    for (size_t b = 0; b < blocks; ++b)
        for (size_t k = 0; k < 4; ++k) {
            const size_t i = b * 4 + k;
            float* block = &halfways[b * 12];
            if (i >= planes) {
                block[8 + k] = FLT_MAX;
                continue;
            }
            const vec3d& a = positions[i].centre;
            const vec3d& c = positions[i + 1].centre;
            const float nx = c.x - a.x, nz = c.z - a.z;
            block[k] = nx;
            block[4 + k] = nz;
            block[8 + k] = ((a.x + c.x) * nx + (a.z + c.z) * nz) * 0.5f;
        }
    edgeScales.assign(2 * planes, 0.0f);
    for (size_t i = 0; i < planes; ++i)
        for (int right = 0; right < 2; ++right) {
            const vec3d& u = right ? positions[i].right : positions[i].left;
            const vec3d& v = right ? positions[i + 1].right : positions[i + 1].left;
            const float length = fastSqrt((u.x - v.x) * (u.x - v.x) + (u.z - v.z) * (u.z - v.z));
            edgeScales[2 * i + size_t(right)] = length > 0.0f ? 1.0f / length : 0.0f;
        }
}

}
