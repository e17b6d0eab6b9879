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
    // The same with p carried vertically; for a triangle that faces up.
    bool containsFromAbove(const vec3d& p) const;
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
    // Of contacts as deep, those of the lower rank stand: a box's own face
    // or corner (0) before a triangle's vertex (1) or edge (2), which lie
    // wherever the triangles' corners happen to be.
    int32_t rank = 0;
    // Set when the contact follows from the triangle's plane alone: a box's
    // corner, or the middle of tied ones, below it.
    bool fromPlane = false;
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

// Runs test(triangle work, triangle, slot, floor, held) -> collided over every
// candidate that names a triangle and vertices that exist, has an area and
// reaches into the shape's world box (lo, hi), keeping the deepest contact;
// writes it into the result with the triangle's user data (and geometry,
// when wanted). Contacts as deep within the tie (a share neDepthTie of the
// box's size) are one contact at their middle, with the user data of the
// earliest triangle among them. A
// symmetric body over ground that mirrors it meets mirrored triangles
// equally deep, and taking either would turn it off its line. floor is the
// depth a contact must exceed to count: a test may report no contact as
// soon as it knows its contact would be no deeper; held is the deepest
// contact in hand (null before the first). Which modes are tested is the
// test's business: it reports no contact for the others.
//
// With a bound (triangle) -> the deepest contact the test could find there
// (-infinity for none, infinity when it cannot tell), worked out before the
// triangle is built, the triangles are tested deepest bound first, and the
// loop stops as soon as no bound left can reach the contact in hand.
//
// With groundBelow, the ground's triangles wholly above the shape's box are
// tested too: a shape that went through the ground's surface in one step
// lies under them.
template <class Test, class Bound = neNoBound>
void neTerrainLoop(neCollisionResult& r, const neGeometry& terrain, const vec3d& lo, const vec3d& hi,
                   bool keepGeometry, Test test, Bound bound = {}, bool groundBelow = false)
{
    using neTerrainDetail::waiting;
    constexpr bool bounded = !std::is_same_v<Bound, neNoBound>;
    r.collided = 0;
    const neTerrainTriangles& t = terrain.shape.terrain;
    if (!t.candidates || !t.triangles || !t.vertices)
        return;
    const vec3d size = hi - lo;
    const float tie = neDepthTie * std::max({size.x, size.y, size.z, 0.0f});
    // The contact in hand (the first of the tied ones in candidate order)
    // and the box around the points and normals of all tied with it: their
    // middle is the same in any order.
    neContactSlot slots[2];
    int best = 0;
    bool found = false;
    int32_t firstPosition = INT32_MAX;
    const neTriangle* first = nullptr;
    vec3d lowA, highA, lowB, highB, lowN, highN;
    int32_t tiedCount = 0;
    float deepest = -1000000.0f;
    int32_t waitingCount = 0;

    const auto widen = [](vec3d& low, vec3d& high, const vec3d& p) {
        for (int k = 0; k < 3; ++k) {
            low[k] = std::min(low[k], p[k]);
            high[k] = std::max(high[k], p[k]);
        }
    };
    // Builds and tests one triangle: a contact deeper by more than the tie,
    // or as deep and of a lower rank, replaces the ones in hand; one as deep
    // and of their rank joins them.
    const auto run = [&](const neTriangle& triangle, int32_t position) {
        const vec3d& a = t.vertices[triangle.indices[0]];
        const vec3d& b = t.vertices[triangle.indices[1]];
        const vec3d& c = t.vertices[triangle.indices[2]];
        // A triangle in the plane of the face contact in hand (the next one
        // of a flat stretch of ground) gives that contact again, or a
        // shallower one: it adds nothing.
        if (found && slots[best].fromPlane && triangle.mode == neTrianglePlain) {
            const neContactSlot& held = slots[best];
            const float plane = held.normal.dot(held.pointA + held.restShift) + held.depth;
            if (absFloat(held.normal.dot(a) - plane) <= tie && absFloat(held.normal.dot(b) - plane) <= tie
                && absFloat(held.normal.dot(c) - plane) <= tie)
                return;
        }
        neTriangleWork work;
        work.build(a, b, c);
        if (work.normal.lengthSq() == 0.0f)
            return;
        const neContactSlot* held = found ? &slots[best] : nullptr;
        neContactSlot& candidate = slots[1 - best];
        candidate.collided = false;
        if (!test(work, triangle, candidate, deepest - tie, held))
            return;
        const bool deeper = candidate.depth > deepest + tie;
        const bool asDeep = !deeper && candidate.depth >= deepest - tie;
        if (deeper || (asDeep && candidate.rank < held->rank)) {
            best = 1 - best;
            found = true;
            first = &triangle;
            firstPosition = position;
            lowA = highA = candidate.pointA;
            lowB = highB = candidate.pointB;
            lowN = highN = candidate.normal;
            tiedCount = 1;
            deepest = candidate.depth;
            return;
        }
        if (!asDeep || candidate.rank > held->rank)
            return;
        widen(lowA, highA, candidate.pointA);
        widen(lowB, highB, candidate.pointB);
        widen(lowN, highN, candidate.normal);
        ++tiedCount;
        deepest = std::max(deepest, candidate.depth);
        if (position < firstPosition) {
            best = 1 - best;
            first = &triangle;
            firstPosition = position;
        }
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
        // height-field triangle wholly above it still pushes it up, and so
        // does the ground straight above the shape's middle.
        const auto aboveMiddle = [&] {
            const float x = (lo.x + hi.x) * 0.5f, z = (lo.z + hi.z) * 0.5f;
            return groundBelow && t.isGround(index) && std::min({a.x, b.x, c.x}) <= x && std::max({a.x, b.x, c.x}) >= x
                   && std::min({a.z, b.z, c.z}) <= z && std::max({a.z, b.z, c.z}) >= z;
        };
        if ((a.x > hi.x && b.x > hi.x && c.x > hi.x) || (a.x < lo.x && b.x < lo.x && c.x < lo.x)
            || (a.y > hi.y && b.y > hi.y && c.y > hi.y && triangle.mode != neTriangleHeightField && !aboveMiddle())
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
    if (!found)
        return;
    const neContactSlot& held = slots[best];
    if (tiedCount == 1) {
        r.set(held.normal, held.depth, held.pointA, held.pointB);
        r.restShift = held.restShift;
    } else {
        vec3d normal = (lowN + highN) * 0.5f;
        const float length = fastSqrt(normal.lengthSq());
        normal = length > 0.0f ? normal * (1.0f / length) : held.normal;
        const vec3d middle = (lowA + highA) * 0.5f;
        r.set(normal, deepest, middle, (lowB + highB) * 0.5f);
        // A resting contact stands where the first tied triangle's would.
        r.restShift = held.pointA + held.restShift - middle;
    }
    r.userDataB = first->userData;
    if (keepGeometry)
        r.geometryB = first->geometry;
}
