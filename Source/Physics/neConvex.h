#pragma once

#include "Physics/neCollision.h"

#include <cstdint>

// A face of a convex shape: its outward normal in the shape's frame, and a spare word.
struct neConvexFace
{
    vec3d normal;
    float spare;
};
static_assert(sizeof(neConvexFace) == 16);

// An edge: the two faces that meet at it and its two vertices.
struct neConvexEdge
{
    uint8_t face[2];
    uint8_t vertex[2];
};

constexpr uint8_t neConvexListEnd = 255;

// The feature tables of a convex geometry (shape type 8): faces with their
// neighbours, vertices and edges (three each), vertices with their edges,
// and edges with their faces and vertices. Feature indices are bytes, so a
// shape has at most 255 faces, vertices and edges. The block is the owner's;
// it is checked before every use and a damaged one collides with nothing.
struct neConvexBlock
{
    int32_t faceCount;
    int32_t vertexCount;
    uint32_t spare[2];
    const neConvexFace* faces;
    const vec3d* vertices;
    const uint8_t* faceNeighbours; // faceCount x 3
    const uint8_t* faceVertices;   // faceCount x 3
    const uint8_t* faceEdges;      // faceCount x 3
    const uint16_t* vertexEdgeStart; // per vertex, where its list starts in vertexEdges
    const uint8_t* vertexEdges;      // the lists, each ended by neConvexListEnd
    int32_t vertexEdgeLength;
    const neConvexEdge* edges;
    int32_t edgeCount;
};

// One shape as the feature search sees it: a box, a convex block or a triangle.
struct neConvexFeatures
{
    int32_t faceCount;
    int32_t vertexCount;
    int32_t perFace; // entries of each face's lists: 4 for a box, else 3
    const neConvexFace* faces;
    const vec3d* vertices;
    const uint8_t* faceNeighbours;
    const uint8_t* faceVertices;
    const uint8_t* faceEdges;
    const uint16_t* vertexEdgeStart;
    const uint8_t* vertexEdges;
    const neConvexEdge* edges;
    int32_t edgeCount;
    bool isBox;

    // A box (its eight vertices built into boxVertices) or a checked convex
    // block; false for anything else or a damaged block.
    bool init(const neGeometry& geometry, vec3d boxVertices[8]);

    const uint8_t* edgesAt(int vertex) const { return vertexEdges + vertexEdgeStart[vertex]; }
};

// The separating-axis search of box / convex and convex / convex pairs (A is
// the box or the first convex); the caller swaps a convex / box pair.
void neCollideConvex(neCollisionResult& r, const neGeometry& a, const matrix3d& worldA, const neGeometry& b,
                     const matrix3d& worldB);
void neCollideConvexTerrain(neCollisionResult& r, const neGeometry& convex, const matrix3d& world,
                            const neGeometry& terrain);
