#pragma once

#include "PhysicsTestSupport.h"

#include "Physics/neTriangle.h"

#include <algorithm>
#include <cmath>
#include <vector>

// The ground of the scenarios, handed to the simulator through its terrain
// query: the plane y = slope * x (a slope falls along +x when negative), or
// a hollow's floor at y = 0 between walls rising at 45 degrees, as cells of
// two triangles under every queried box, with a material.
struct TestGround
{
    static inline float slope = 0.0f;
    static inline float floorHalf = 0.0f; // > 0: the hollow's floor reaches this far from x = 0
    // > 0: level ground that rises by stepHeight over stepRun from x = 0 on, level again above.
    static inline float stepHeight = 0.0f;
    static inline float stepRun = 0.0f;
    // > 0: level ground with a ridge along x = 0 this high, falling to the
    // level over ridgeHalf on either side.
    static inline float ridgeHeight = 0.0f;
    static inline float ridgeHalf = 0.0f;
    static inline float cell = 1.0f;
    static inline uint32_t material = 0;
    // Each cell's diagonal runs away from the line x = 0 on both sides, so
    // that the plane x = 0 mirrors the triangles too.
    static inline bool mirrored = false;
    static inline int queries = 0;
    static inline std::vector<vec3d> vertices;
    static inline std::vector<neTriangle> triangles;
    static inline std::vector<int32_t> candidates;

    static float height(float x)
    {
        if (ridgeHeight > 0.0f)
            return ridgeHeight * std::max(0.0f, 1.0f - std::fabs(x) / ridgeHalf);
        if (stepHeight > 0.0f)
            return stepRun > 0.0f ? stepHeight * std::clamp(x / stepRun, 0.0f, 1.0f) : x >= 0.0f ? stepHeight : 0.0f;
        if (floorHalf > 0.0f)
            return std::fabs(x) > floorHalf ? std::fabs(x) - floorHalf : 0.0f;
        return slope * x;
    }

    static void query(const vec3d& lo, const vec3d& hi, neTerrainTriangles& found, neRigidBodyBase*)
    {
        ++queries;
        vertices.clear();
        triangles.clear();
        candidates.clear();
        const int x0 = int(std::floor(lo.x / cell)) - 1, x1 = int(std::ceil(hi.x / cell)) + 1;
        const int z0 = int(std::floor(lo.z / cell)) - 1, z1 = int(std::ceil(hi.z / cell)) + 1;
        for (int x = x0; x < x1; ++x)
            for (int z = z0; z < z1; ++z) {
                const int32_t first = int32_t(vertices.size());
                for (int k = 0; k < 4; ++k) {
                    const float vx = float(x + (k & 1)) * cell, vz = float(z + (k >> 1)) * cell;
                    vertices.push_back({vx, height(vx), vz});
                }
                // (x, z), (x + 1, z), (x, z + 1), (x + 1, z + 1), wound to face up.
                const bool across = mirrored && x >= 0;
                const neTriangle cut[2] = {
                    across ? neTriangle{{first, first + 3, first + 1}, material, 0, nullptr}
                           : neTriangle{{first, first + 2, first + 1}, material, 0, nullptr},
                    across ? neTriangle{{first, first + 2, first + 3}, material, 0, nullptr}
                           : neTriangle{{first + 1, first + 2, first + 3}, material, 0, nullptr}};
                for (const neTriangle& t : cut) {
                    candidates.push_back(int32_t(triangles.size()));
                    triangles.push_back(t);
                }
            }
        found = {candidates.data(), int32_t(candidates.size()), triangles.data(), int32_t(triangles.size()),
                 vertices.data(), int32_t(vertices.size()), int32_t(triangles.size())};
    }

    // A simulator of the game's sizes with gravity along -y on this ground.
    static TestSimulator make(float groundSlope = 0.0f, bool mirroredCells = false)
    {
        slope = groundSlope;
        floorHalf = 0.0f;
        stepHeight = stepRun = 0.0f;
        ridgeHeight = ridgeHalf = 0.0f;
        cell = 1.0f;
        mirrored = mirroredCells;
        material = 0;
        queries = 0;
        TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
        t->terrainTriangleQueryCallback = query;
        return t;
    }
};

// A box of full size s and mass m with a box's inertia, at p.
inline neRigidBody* dynamicBox(TestSimulator& t, vec3d p, vec3d s, float m)
{
    neRigidBody* b = t.box(p, s);
    b->mass = m;
    b->inverseMass = 1.0f / m;
    b->setInertiaTensor({m * (s.y * s.y + s.z * s.z) / 12.0f, m * (s.x * s.x + s.z * s.z) / 12.0f,
                         m * (s.x * s.x + s.y * s.y) / 12.0f});
    b->updateDerived();
    return b;
}
