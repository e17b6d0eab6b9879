#pragma once

#include "Physics/neCollision.h"
#include "Physics/neTriangle.h"

#include <algorithm>
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
    // From the points to where the contact stands as a resting contact: a
    // single corner of a face whose corners are tied (see neCollisionResult).
    vec3d restShift{};
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
// reaches into the shape's world box (lo, hi), keeping the deepest contact;
// writes it into the result with the triangle's user data (and geometry,
// when wanted). Contacts as deep within the tie (a share neDepthTie of the
// box's size) are one contact at their middle, with the user data of the
// earliest triangle among them. A
// symmetric body over ground that mirrors it meets mirrored triangles
// equally deep, and taking either would turn it off its line. floor is the
// depth a contact must exceed to count: a test may report no contact as
// soon as it knows its contact would be no deeper. Which modes are tested is
// the test's business: it reports no contact for the others.
//
// With a bound (triangle) -> the deepest contact the test could find there
// (-infinity for none, infinity when it cannot tell), worked out before the
// triangle is built, the triangles are tested deepest bound first, and the
// loop stops as soon as no bound left can reach the contact in hand.
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
    const vec3d size = hi - lo;
    const float tie = neDepthTie * std::max({size.x, size.y, size.z, 0.0f});
    // The contacts within the tie of the deepest so far, with their
    // triangles' places in the candidate list.
    constexpr int32_t tiedCapacity = 16;
    neContactSlot tied[tiedCapacity];
    int32_t tiedPositions[tiedCapacity];
    const neTriangle* tiedTriangles[tiedCapacity];
    int32_t tiedCount = 0;
    float deepest = -1000000.0f;
    int32_t waitingCount = 0;

    // Builds and tests one triangle: a contact deeper by more than the tie
    // replaces those in hand, one within it joins them.
    const auto run = [&](const neTriangle& triangle, int32_t position) {
        neTriangleWork work;
        work.build(t.vertices[triangle.indices[0]], t.vertices[triangle.indices[1]], t.vertices[triangle.indices[2]]);
        if (work.normal.lengthSq() == 0.0f)
            return;
        neContactSlot candidate;
        candidate.collided = false;
        if (!test(work, triangle, candidate, deepest - tie))
            return;
        if (candidate.depth > deepest + tie)
            tiedCount = 0;
        else if (candidate.depth < deepest - tie || tiedCount == tiedCapacity)
            return;
        tied[tiedCount] = candidate;
        tiedPositions[tiedCount] = position;
        tiedTriangles[tiedCount++] = &triangle;
        deepest = std::max(deepest, candidate.depth);
    };
    // The waiting triangles, deepest bound first (the earlier of equal ones
    // first), until none left can reach the contact in hand.
    const auto settle = [&] {
        while (waitingCount > 0) {
            int32_t next = 0;
            for (int32_t i = 1; i < waitingCount; ++i) {
                const neTerrainDetail::Waiting& w = waiting[i];
                if (w.bound > waiting[next].bound || (w.bound == waiting[next].bound && w.position < waiting[next].position))
                    next = i;
            }
            const neTerrainDetail::Waiting w = waiting[next];
            if (w.bound < deepest - tie)
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
            float reach = bound(triangle);
            if (std::isnan(reach))
                reach = 1e30f; // no telling: test it
            if (reach < deepest - tie)
                continue;
            waiting[waitingCount++] = {k, index, reach};
            if (waitingCount == neTerrainDetail::waitingCapacity)
                settle();
        } else {
            run(triangle, k);
        }
    }
    if constexpr (bounded)
        settle();
    // The contacts within the tie of the deepest: their middle (of the box
    // around their points, normals and shifts, the same in any order), the
    // deepest depth, and the earliest triangle's user data.
    const neTriangle* winner = nullptr;
    int32_t winnerPosition = INT32_MAX;
    neContactSlot low, high;
    int32_t taken = 0;
    for (int32_t i = 0; i < tiedCount; ++i) {
        const neContactSlot& c = tied[i];
        if (c.depth < deepest - tie)
            continue;
        if (tiedPositions[i] < winnerPosition) {
            winner = tiedTriangles[i];
            winnerPosition = tiedPositions[i];
        }
        if (taken++ == 0) {
            low = high = c;
            continue;
        }
        for (int k = 0; k < 3; ++k) {
            low.pointA[k] = std::min(low.pointA[k], c.pointA[k]);
            high.pointA[k] = std::max(high.pointA[k], c.pointA[k]);
            low.pointB[k] = std::min(low.pointB[k], c.pointB[k]);
            high.pointB[k] = std::max(high.pointB[k], c.pointB[k]);
            low.normal[k] = std::min(low.normal[k], c.normal[k]);
            high.normal[k] = std::max(high.normal[k], c.normal[k]);
            low.restShift[k] = std::min(low.restShift[k], c.restShift[k]);
            high.restShift[k] = std::max(high.restShift[k], c.restShift[k]);
        }
    }
    if (!winner)
        return;
    vec3d normal = (low.normal + high.normal) * 0.5f;
    const float length = fastSqrt(normal.lengthSq());
    normal = length > 0.0f ? normal * (1.0f / length) : tied[0].normal;
    r.set(normal, deepest, (low.pointA + high.pointA) * 0.5f, (low.pointB + high.pointB) * 0.5f);
    r.restShift = (low.restShift + high.restShift) * 0.5f;
    r.userDataB = winner->userData;
    if (keepGeometry)
        r.geometryB = winner->geometry;
}
