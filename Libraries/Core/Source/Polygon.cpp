#include "Core/Polygon.h"

#include <algorithm>
#include <vector>

namespace {

// Positive when p lies left of the directed line a-b.
float side(const vec2d& a, const vec2d& b, const vec2d& p) { return (b - a).cross(p - a); }

// Appends the hull points strictly between a and b, in order, taken from
// candidates (all strictly outside the edge a-b).
void hullBetween(const vec2d& a, const vec2d& b, const std::vector<vec2d>& candidates, std::vector<vec2d>& out)
{
    if (candidates.empty())
        return;
    size_t farthest = 0;
    float best = side(a, b, candidates[0]);
    for (size_t i = 1; i < candidates.size(); ++i) {
        const float s = side(a, b, candidates[i]);
        if (s > best) {
            best = s;
            farthest = i;
        }
    }
    const vec2d f = candidates[farthest];
    std::vector<vec2d> before;
    std::vector<vec2d> after;
    for (const vec2d& p : candidates) {
        if (side(a, f, p) > 0.0f)
            before.push_back(p);
        else if (side(f, b, p) > 0.0f)
            after.push_back(p);
    }
    hullBetween(a, f, before, out);
    out.push_back(f);
    hullBetween(f, b, after, out);
}

}

bool polygon2d::add(const vec2d& p)
{
    vec2d* slot = points.at(count);
    if (!slot)
        return false;
    *slot = p;
    ++count;
    return true;
}

void polygon2d::makeConvexHull()
{
    const int32_t n = std::min(count, points.count());
    if (n <= 3)
        return;
    const vec2d* p = points.data();

    // Highest y, highest x, lowest y, lowest x; the first point wins ties.
    int extreme[4] = {0, 0, 0, 0};
    for (int i = 1; i < n; ++i) {
        if (p[i].y > p[extreme[0]].y)
            extreme[0] = i;
        if (p[i].x > p[extreme[1]].x)
            extreme[1] = i;
        if (p[i].y < p[extreme[2]].y)
            extreme[2] = i;
        if (p[i].x < p[extreme[3]].x)
            extreme[3] = i;
    }

    std::vector<vec2d> hull;
    bool emitted[4] = {};
    for (int e = 0; e < 4; ++e) {
        const int from = extreme[e];
        const int to = extreme[(e + 1) % 4];
        if (from == to)
            continue;
        // An extreme that is also another one (a degenerate outline) is listed once.
        bool seen = false;
        for (int k = 0; k < 4; ++k)
            seen = seen || (emitted[k] && extreme[k] == from);
        if (!seen) {
            hull.push_back(p[from]);
            emitted[e] = true;
        }
        std::vector<vec2d> outside;
        for (int i = 0; i < n; ++i)
            if (side(p[from], p[to], p[i]) > 0.0f)
                outside.push_back(p[i]);
        hullBetween(p[from], p[to], outside, hull);
    }
    if (hull.empty())
        return; // all points coincide

    // The hull never has more points than the outline, so no growth is needed.
    vec2d* target = points.data();
    for (size_t i = 0; i < hull.size(); ++i)
        target[i] = hull[i];
    count = int32_t(hull.size());
}

bool polygon3d::fromPolygon2d(const polygon2d& source, const matrix3d& m)
{
    const int64_t held = int64_t(source.points.blocks()) * source.points.blockSize();
    const int32_t n = int32_t(std::min<int64_t>(std::max(source.count, 0), held));
    if (n > 0 && !points.reserve(uint32_t(n))) {
        count = 0;
        return false;
    }
    const vec2d* from = source.pointData();
    vec3d* to = points.data();
    for (int32_t i = 0; i < n; ++i)
        to[i] = m.transformPoint({from[i].x, from[i].y, 0.0f});
    count = n;
    return true;
}

int segmentIntersect2d(const vec2d& a0, const vec2d& a1, const vec2d& b0, const vec2d& b1, vec2d& out)
{
    const vec2d da = a1 - a0;
    const vec2d db = b1 - b0;
    const float det = da.cross(db);
    if (det == 0.0f)
        return 0;
    const float s = (b0 - a0).cross(db) / det;
    out = a0 + da * s;
    auto within = [](float v, float e0, float e1) { return v >= std::min(e0, e1) && v <= std::max(e0, e1); };
    const bool onA = within(out.x, a0.x, a1.x) && within(out.y, a0.y, a1.y);
    const bool onB = within(out.x, b0.x, b1.x) && within(out.y, b0.y, b1.y);
    return onA && onB ? 1 : 0;
}
