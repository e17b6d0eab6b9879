#pragma once

#include "PhysicsTestSupport.h"

#include "Physics/neCollideShapes.h"
#include "Physics/neConvex.h"
#include "Physics/neTerrainLoop.h"
#include "Physics/neTriangle.h"

#include <array>
#include <map>
#include <vector>

inline neGeometry makeBox(vec3d half)
{
    neGeometry g{};
    g.reset();
    g.setBoxSize(2 * half.x, 2 * half.y, 2 * half.z);
    return g;
}

inline neGeometry makeSphere(float r)
{
    neGeometry g{};
    g.reset();
    g.setSphere(r);
    return g;
}

inline neGeometry makeCylinder(float r, float halfLength)
{
    neGeometry g{};
    g.reset();
    g.setCylinder(r, halfLength);
    return g;
}

inline neCollisionResult collide(const neGeometry& a, const matrix3d& wa, const neGeometry& b, const matrix3d& wb)
{
    neCollisionResult r{};
    r.reset();
    neCollideGeometries(r, a, b, wa, wb);
    return r;
}

// Triangles as the terrain query hands them over.
struct QueryTriangles
{
    std::vector<vec3d> vertices;
    std::vector<neTriangle> triangles;
    std::vector<int32_t> candidates;
    neGeometry geometry{};

    void add(vec3d a, vec3d b, vec3d c, uint32_t userData = 0, int32_t mode = neTrianglePlain)
    {
        const int32_t first = int32_t(vertices.size());
        vertices.insert(vertices.end(), {a, b, c});
        candidates.push_back(int32_t(triangles.size()));
        triangles.push_back({{first, first + 1, first + 2}, userData, mode, nullptr});
    }

    const neGeometry& finish()
    {
        geometry.reset();
        geometry.type = neShapeTerrain;
        geometry.shape.terrain = {candidates.data(), int32_t(candidates.size()), triangles.data(),
                                  int32_t(triangles.size()), vertices.data(), int32_t(vertices.size()), 0};
        return geometry;
    }
};

// A convex block of triangles given counter-clockwise from outside.
struct ConvexBlock
{
    std::vector<vec3d> vertices;
    std::vector<neConvexFace> faces;
    std::vector<uint8_t> neighbours, faceVertices, faceEdges, vertexEdges;
    std::vector<uint16_t> vertexEdgeStart;
    std::vector<neConvexEdge> edges;
    neConvexBlock block{};
    neGeometry geometry{};

    ConvexBlock(std::vector<vec3d> points, const std::vector<std::array<int, 3>>& triangles) : vertices(std::move(points))
    {
        std::map<std::pair<int, int>, int> edgeOf;
        for (size_t f = 0; f < triangles.size(); ++f) {
            const auto& t = triangles[f];
            const vec3d n = (vertices[size_t(t[1])] - vertices[size_t(t[0])]).cross(vertices[size_t(t[2])] - vertices[size_t(t[1])]);
            faces.push_back({n.normalised(), 0.0f});
            for (int k = 0; k < 3; ++k) {
                const int a = t[size_t(k)], b = t[size_t((k + 1) % 3)];
                faceVertices.push_back(uint8_t(a));
                const auto key = std::make_pair(std::min(a, b), std::max(a, b));
                auto found = edgeOf.find(key);
                if (found == edgeOf.end()) {
                    found = edgeOf.emplace(key, int(edges.size())).first;
                    edges.push_back({{uint8_t(f), 255}, {uint8_t(a), uint8_t(b)}});
                } else {
                    edges[size_t(found->second)].face[1] = uint8_t(f);
                }
                faceEdges.push_back(uint8_t(found->second));
            }
        }
        for (size_t f = 0; f < triangles.size(); ++f)
            for (int k = 0; k < 3; ++k) {
                const neConvexEdge& e = edges[faceEdges[f * 3 + size_t(k)]];
                neighbours.push_back(e.face[0] == f ? e.face[1] : e.face[0]);
            }
        for (size_t v = 0; v < vertices.size(); ++v) {
            vertexEdgeStart.push_back(uint16_t(vertexEdges.size()));
            for (size_t e = 0; e < edges.size(); ++e)
                if (edges[e].vertex[0] == v || edges[e].vertex[1] == v)
                    vertexEdges.push_back(uint8_t(e));
            vertexEdges.push_back(neConvexListEnd);
        }
        block = {int32_t(faces.size()), int32_t(vertices.size()), {0, 0}, faces.data(), vertices.data(),
                 neighbours.data(), faceVertices.data(), faceEdges.data(), vertexEdgeStart.data(),
                 vertexEdges.data(), int32_t(vertexEdges.size()), edges.data(), int32_t(edges.size())};
        geometry.reset();
        geometry.type = neShapeConvex;
        geometry.shape.convex = &block;
    }

    // A box of these half extents, two triangles to a face.
    static ConvexBlock box(vec3d h)
    {
        std::vector<vec3d> v;
        for (int k = 0; k < 8; ++k)
            v.push_back({k & 4 ? h.x : -h.x, k & 2 ? h.y : -h.y, k & 1 ? h.z : -h.z});
        return ConvexBlock(v, {{0, 1, 3}, {0, 3, 2}, {4, 6, 7}, {4, 7, 5}, {0, 4, 5}, {0, 5, 1},
                               {2, 3, 7}, {2, 7, 6}, {0, 2, 6}, {0, 6, 4}, {1, 5, 7}, {1, 7, 3}});
    }
};
