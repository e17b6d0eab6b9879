#pragma once

#include "Physics/neCollision.h"
#include "Physics/neTriangle.h"

#include <climits>
#include <cmath>
#include <type_traits>

// What the terrain tests share: one triangle prepared for testing, the
// contact slot a per-triangle test fills, and the loop over the candidates.

// A triangle's modes (other values are skipped).
constexpr int32_t neTrianglePlain = 0;       // tested as a triangle
constexpr int32_t neTriangleHeightField = 1; // a box's corners are pushed up vertically out of it

struct neTriangleWork
{
    vec3d v[3];
    vec3d edges[3]; // v1 - v0, v2 - v1, v0 - v2
    vec3d normal;   // unit, or zero for a triangle without area
    float d;        // normal . v0

    void build(const vec3d& a, const vec3d& b, const vec3d& c);
    // Whether p, carried along the normal into the plane, lies on the triangle (edges included).
    bool contains(const vec3d& p) const;
};

struct neContactSlot
{
    vec3d pointA;
    vec3d pointB;
    vec3d normal;
    float depth;
    bool collided;
};

// No bound: every triangle is tested in candidate order.
struct neNoBound
{
};

namespace neTerrainDetail
{

// A triangle waiting for its test, with the deepest contact it could give.
struct Waiting
{
    int32_t position; // in the candidate list: the first of equal contacts wins
    int32_t index;
    float bound;
};

// One list for the engine: the narrow phase runs on the stepping thread only.
constexpr int32_t waitingCapacity = 256;
inline Waiting waiting[waitingCapacity];

} // namespace neTerrainDetail

// Runs test(triangle work, triangle, slot, floor) -> collided over every
// candidate that names a triangle and vertices that exist, has an area and
// reaches into the shape's world box (lo, hi), keeping the deepest contact
// (the first in candidate order of equal ones); writes it into the result
// with the triangle's user data (and geometry, when wanted). floor is the
// depth to beat: a test may report no contact as soon as it knows its
// contact would be no deeper. Which modes are tested is the test's business:
// it reports no contact for the others.
//
// With a bound (triangle) -> the deepest contact the test could find there
// (-infinity for none, infinity when it cannot tell), worked out before the
// triangle is built, the triangles are tested deepest bound first, and the
// loop stops as soon as no bound left can beat the contact in hand.
template <class Test, class Bound = neNoBound>
void neTerrainLoop(neCollisionResult& r, const neGeometry& terrain, const vec3d& lo, const vec3d& hi,
                   bool keepGeometry, Test test, Bound bound = {})
{
    using neTerrainDetail::waiting;
    constexpr bool bounded = !std::is_same_v<Bound, neNoBound>;
    r.collided = 0;
    const neTerrainTriangles& t = terrain.shape.terrain;
    if (!t.candidates || !t.triangles || !t.vertices)
        return;
    neContactSlot slots[2];
    int best = 0;
    slots[0].depth = -1000000.0f;
    slots[0].collided = false;
    const neTriangle* winner = nullptr;
    int32_t winnerPosition = INT32_MAX;
    int32_t waitingCount = 0;

    // Builds and tests one triangle; an earlier one wins a tie.
    const auto run = [&](const neTriangle& triangle, int32_t position) {
        neTriangleWork work;
        work.build(t.vertices[triangle.indices[0]], t.vertices[triangle.indices[1]], t.vertices[triangle.indices[2]]);
        if (work.normal.lengthSq() == 0.0f)
            return;
        const float depth = slots[best].depth;
        const bool earlier = position < winnerPosition;
        const float floor = earlier && bounded ? std::nextafter(depth, -1e30f) : depth;
        neContactSlot& candidate = slots[1 - best];
        candidate.collided = false;
        if (test(work, triangle, candidate, floor) && (candidate.depth > depth || (candidate.depth == depth && earlier && bounded))) {
            best = 1 - best;
            winner = &triangle;
            winnerPosition = position;
        }
    };
    // The waiting triangles, deepest bound first (the earlier of equal ones
    // first), until none left can beat the contact in hand.
    const auto settle = [&] {
        while (waitingCount > 0) {
            int32_t next = 0;
            for (int32_t i = 1; i < waitingCount; ++i) {
                const neTerrainDetail::Waiting& w = waiting[i];
                if (w.bound > waiting[next].bound || (w.bound == waiting[next].bound && w.position < waiting[next].position))
                    next = i;
            }
            const neTerrainDetail::Waiting w = waiting[next];
            const float depth = slots[best].depth;
            if (w.bound < depth || (w.bound == depth && w.position > winnerPosition))
                break;
            waiting[next] = waiting[--waitingCount];
            run(t.triangles[w.index], w.position);
        }
        waitingCount = 0;
    };

    for (int32_t k = 0; k < t.candidateCount; ++k) {
        const int32_t index = t.candidates[k];
        if (index < 0 || index >= t.triangleCount)
            continue;
        const neTriangle& triangle = t.triangles[index];
        bool valid = true;
        for (int32_t i : triangle.indices)
            valid = valid && i >= 0 && i < t.vertexCount;
        if (!valid)
            continue;
        const vec3d& a = t.vertices[triangle.indices[0]];
        const vec3d& b = t.vertices[triangle.indices[1]];
        const vec3d& c = t.vertices[triangle.indices[2]];
        // A triangle wholly beside the shape's box cannot touch the shape. A
        // height-field triangle wholly above it still pushes it up.
        if ((a.x > hi.x && b.x > hi.x && c.x > hi.x) || (a.x < lo.x && b.x < lo.x && c.x < lo.x)
            || (a.y > hi.y && b.y > hi.y && c.y > hi.y && triangle.mode != neTriangleHeightField)
            || (a.y < lo.y && b.y < lo.y && c.y < lo.y) || (a.z > hi.z && b.z > hi.z && c.z > hi.z)
            || (a.z < lo.z && b.z < lo.z && c.z < lo.z))
            continue;
        if constexpr (bounded) {
            float deepest = bound(triangle);
            if (std::isnan(deepest))
                deepest = 1e30f; // no telling: test it
            if (deepest < slots[best].depth)
                continue;
            waiting[waitingCount++] = {k, index, deepest};
            if (waitingCount == neTerrainDetail::waitingCapacity)
                settle();
        } else {
            run(triangle, k);
        }
    }
    if constexpr (bounded)
        settle();
    const neContactSlot& s = slots[best];
    if (!s.collided || !winner)
        return;
    r.set(s.normal, s.depth, s.pointA, s.pointB);
    r.userDataB = winner->userData;
    if (keepGeometry)
        r.geometryB = winner->geometry;
}
