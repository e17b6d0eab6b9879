// The separating-axis search over feature tables: every face normal of
// either shape, then every pair of edges whose arcs cross on the sphere of
// directions (the faces of the shapes' difference), keeping the axis of
// least penetration; any axis without penetration separates the shapes.
#include "Physics/neConvex.h"

#include "Physics/neTerrainLoop.h"

#include <algorithm>

namespace
{

const neConvexFace boxFaces[6] = {{{0, 1, 0}, 0}, {{0, -1, 0}, 0}, {{1, 0, 0}, 0},
                                  {{-1, 0, 0}, 0}, {{0, 0, 1}, 0}, {{0, 0, -1}, 0}};
const uint8_t boxNeighbours[24] = {2, 3, 4, 5, 2, 3, 4, 5, 0, 1, 4, 5, 0, 1, 4, 5, 0, 1, 2, 3, 0, 1, 2, 3};
const uint8_t boxFaceVertices[24] = {2, 3, 6, 7, 0, 1, 4, 5, 4, 5, 6, 7, 0, 1, 2, 3, 1, 3, 5, 7, 0, 2, 4, 6};
const uint8_t boxFaceEdges[24] = {0, 1, 2, 3, 4, 5, 6, 7, 0, 4, 8, 9, 1, 5, 10, 11, 2, 8, 6, 10, 3, 7, 9, 11};
const uint8_t boxVertexEdges[32] = {5, 7, 11, 255, 5, 6, 10, 255, 1, 3, 11, 255, 1, 2, 10, 255,
                                    4, 7, 9,  255, 4, 6, 8,  255, 0, 3, 9,  255, 0, 2, 8,  255};
const uint16_t boxVertexEdgeStart[8] = {0, 4, 8, 12, 16, 20, 24, 28};
const neConvexEdge boxEdges[12] = {{{0, 2}, {6, 7}}, {{0, 3}, {2, 3}}, {{0, 4}, {3, 7}}, {{0, 5}, {2, 6}},
                                   {{1, 2}, {4, 5}}, {{1, 3}, {0, 1}}, {{1, 4}, {1, 5}}, {{1, 5}, {0, 4}},
                                   {{2, 4}, {5, 7}}, {{2, 5}, {4, 6}}, {{3, 4}, {1, 3}}, {{3, 5}, {0, 2}}};

const uint8_t triangleNeighbours[6] = {0, 1, 0, 1, 0, 0};
const uint8_t triangleFaceLists[6] = {0, 1, 2, 0, 1, 2};
const uint8_t triangleVertexEdges[9] = {0, 2, 255, 0, 1, 255, 1, 2, 255};
const uint16_t triangleVertexEdgeStart[3] = {0, 3, 6};
const neConvexEdge triangleEdges[3] = {{{0, 1}, {0, 1}}, {{0, 1}, {1, 2}}, {{0, 1}, {2, 0}}};

bool validBlock(const neConvexBlock& b)
{
    const auto counted = [](int32_t n) { return n > 0 && n < 255; };
    if (!counted(b.faceCount) || !counted(b.vertexCount) || !counted(b.edgeCount) || b.vertexEdgeLength <= 0)
        return false;
    if (!b.faces || !b.vertices || !b.faceNeighbours || !b.faceVertices || !b.faceEdges || !b.vertexEdgeStart
        || !b.vertexEdges || !b.edges)
        return false;
    for (int32_t i = 0; i < b.faceCount * 3; ++i)
        if (b.faceNeighbours[i] >= b.faceCount || b.faceVertices[i] >= b.vertexCount || b.faceEdges[i] >= b.edgeCount)
            return false;
    for (int32_t e = 0; e < b.edgeCount; ++e)
        for (int k = 0; k < 2; ++k)
            if (b.edges[e].face[k] >= b.faceCount || b.edges[e].vertex[k] >= b.vertexCount)
                return false;
    // Every vertex list ends inside the array, names only edges that exist and holds at least one.
    for (int32_t v = 0; v < b.vertexCount; ++v) {
        int32_t i = b.vertexEdgeStart[v];
        if (i >= b.vertexEdgeLength || b.vertexEdges[i] == neConvexListEnd)
            return false;
        for (; i < b.vertexEdgeLength && b.vertexEdges[i] != neConvexListEnd; ++i)
            if (b.vertexEdges[i] >= b.edgeCount)
                return false;
        if (i >= b.vertexEdgeLength)
            return false;
    }
    return true;
}

} // namespace

bool neConvexFeatures::init(const neGeometry& g, vec3d boxVertices[8])
{
    if (g.type == neShapeBox) {
        const vec3d h = g.halfExtents();
        for (int k = 0; k < 8; ++k)
            boxVertices[k] = {k & 4 ? h.x : -h.x, k & 2 ? h.y : -h.y, k & 1 ? h.z : -h.z};
        *this = {6, 8, 4, boxFaces, boxVertices, boxNeighbours, boxFaceVertices, boxFaceEdges, boxVertexEdgeStart,
                 boxVertexEdges, boxEdges, 12, true};
        return true;
    }
    if (g.type != neShapeConvex || !g.shape.convex || !validBlock(*g.shape.convex))
        return false;
    const neConvexBlock& b = *g.shape.convex;
    *this = {b.faceCount, b.vertexCount, 3, b.faces, b.vertices, b.faceNeighbours, b.faceVertices, b.faceEdges,
             b.vertexEdgeStart, b.vertexEdges, b.edges, b.edgeCount, false};
    return true;
}

namespace
{

// A triangle as a convex shape of two faces, in world coordinates.
struct TriangleFeatures
{
    neConvexFeatures features;
    neConvexFace faces[2];
    vec3d sideNormals[3]; // across each edge, in the triangle's plane

    explicit TriangleFeatures(const neTriangleWork& t)
    {
        faces[0] = {t.normal, 0.0f};
        faces[1] = {-t.normal, 0.0f};
        for (int k = 0; k < 3; ++k) {
            const vec3d side = t.normal.cross(t.edges[k]);
            const float length = neLength(side);
            sideNormals[k] = length > 0.0f ? side / length : side;
        }
        features = {2, 3, 3, faces, t.v, triangleNeighbours, triangleFaceLists, triangleFaceLists,
                    triangleVertexEdgeStart, triangleVertexEdges, triangleEdges, 3, false};
    }
};

// The search's working buffers, one set for the engine (the narrow phase runs
// on the thread that steps the simulator only): each side's features in world
// coordinates, and the turned face normals of B's edges.
struct Buffers
{
    vec3d normals[2][255];
    vec3d vertices[2][255];
    vec3d first[255], second[255], crossB[255];
    float side[255];
};
Buffers buffers;

// One shape of the search with its features carried into world coordinates.
struct Side
{
    const neConvexFeatures* f;
    vec3d centre;
    vec3d axes[3];
    vec3d* normals;
    vec3d* vertices;

    void prepare(const neConvexFeatures& features, const matrix3d& world)
    {
        f = &features;
        centre = nePosition(world);
        for (int i = 0; i < 3; ++i)
            axes[i] = neAxis(world, i);
        for (int i = 0; i < features.faceCount; ++i)
            normals[i] = neDirectionFromFrame(world, features.faces[i].normal);
        for (int i = 0; i < features.vertexCount; ++i)
            vertices[i] = neFromFrame(world, features.vertices[i]);
    }

    // The vertex farthest along -u: a box's from the signs of u in its axes,
    // any other shape's by climbing its vertices along their edges.
    int support(const vec3d& u) const
    {
        if (f->isBox)
            return 4 * (u.dot(axes[0]) <= 0.0f) + 2 * (u.dot(axes[1]) <= 0.0f) + (u.dot(axes[2]) <= 0.0f);
        int current = 0;
        float best = -u.dot(vertices[0]);
        for (bool moved = true; moved;) {
            moved = false;
            for (const uint8_t* e = f->edgesAt(current); *e != neConvexListEnd; ++e) {
                const neConvexEdge& edge = f->edges[*e];
                const int other = edge.vertex[0] == current ? edge.vertex[1] : edge.vertex[0];
                const float value = -u.dot(vertices[other]);
                if (value > best) {
                    best = value;
                    current = other;
                    moved = true;
                    break;
                }
            }
        }
        return current;
    }
};

// The least penetrating face found so far, with the other side's vertex
// that lies deepest behind it.
struct FaceBest
{
    int side = -1;
    int face = 0;
    int support = 0;
    float depth = 0.0f;
};

class Search
{
public:
    Side sides[2];

    Search()
    {
        for (int k = 0; k < 2; ++k) {
            sides[k].normals = buffers.normals[k];
            sides[k].vertices = buffers.vertices[k];
        }
    }

    const vec3d* sideNormals = nullptr; // set for a triangle B: bends its opposite faces apart

    // False when a face separates the shapes.
    bool testFaces(int side, FaceBest& best) const
    {
        const Side& s = sides[side];
        const Side& o = sides[1 - side];
        for (int face = 0; face < s.f->faceCount; ++face) {
            const vec3d& n = s.normals[face];
            const float plane = n.dot(s.vertices[s.f->faceVertices[face * s.f->perFace]]);
            const int v = o.support(n);
            const float depth = plane - n.dot(o.vertices[v]);
            if (!(depth > 0.0f))
                return false;
            if (best.side < 0 || depth < best.depth)
                best = {side, face, v, depth};
        }
        return true;
    }

    // False when an edge pair separates the shapes; edgeDepth below the
    // best face's depth marks a deeper-reaching edge pair.
    bool testEdges(float& edgeDepth, int& edgeA, int& edgeB, vec3d& edgeAxis) const
    {
        const Side& a = sides[0];
        const Side& b = sides[1];
        const float limit = sideNormals ? 1e-6f : 0.0f;
        // B's edges: their face normals turned round (a triangle's bent apart
        // by its side normals) and the normal of their arc, b2 x b1.
        vec3d* first = buffers.first;
        vec3d* second = buffers.second;
        vec3d* crossB = buffers.crossB;
        for (int j = 0; j < b.f->edgeCount; ++j) {
            const neConvexEdge& eb = b.f->edges[j];
            vec3d b1 = -b.normals[eb.face[0]], b2 = -b.normals[eb.face[1]];
            if (sideNormals) {
                b1 += sideNormals[j] * 0.01f;
                b2 += sideNormals[j] * 0.01f;
            }
            first[j] = b1;
            second[j] = b2;
            crossB[j] = b2.cross(b1);
        }
        // Which side of each of B's arcs every face normal of A lies on.
        float arcSide[16][16];
        const bool tabled = a.f->faceCount <= 16 && b.f->edgeCount <= 16;
        if (tabled)
            for (int f = 0; f < a.f->faceCount; ++f)
                for (int j = 0; j < b.f->edgeCount; ++j)
                    arcSide[f][j] = a.normals[f].dot(crossB[j]);
        float* side = buffers.side;
        for (int i = 0; i < a.f->edgeCount; ++i) {
            const neConvexEdge& ea = a.f->edges[i];
            const vec3d& a1 = a.normals[ea.face[0]];
            const vec3d& a2 = a.normals[ea.face[1]];
            const vec3d crossA = a2.cross(a1);
            const vec3d a0 = a.vertices[ea.vertex[0]];
            const vec3d directionA = a.vertices[ea.vertex[1]] - a0;
            const vec3d outOfA = a0 - a.centre;
            // Which side of this edge's great circle each of B's turned face
            // normals lies on (a triangle's are bent per edge, so they are not shared).
            if (!sideNormals)
                for (int f = 0; f < b.f->faceCount; ++f)
                    side[f] = -b.normals[f].dot(crossA);
            for (int j = 0; j < b.f->edgeCount; ++j) {
                // Only edges whose arcs cross on the sphere of directions
                // form a face of the shapes' difference.
                const neConvexEdge& eb = b.f->edges[j];
                const float p = sideNormals ? first[j].dot(crossA) : side[eb.face[0]];
                const float q = sideNormals ? second[j].dot(crossA) : side[eb.face[1]];
                if (!(p * q < -limit))
                    continue;
                const float r = tabled ? arcSide[ea.face[0]][j] : a1.dot(crossB[j]);
                const float s = tabled ? arcSide[ea.face[1]][j] : a2.dot(crossB[j]);
                if (!(r * s < -limit && p * s > limit))
                    continue;
                // The axis is left at its length until it wins: the depths only compare.
                const vec3d b0 = b.vertices[eb.vertex[0]];
                vec3d axis = directionA.cross(b.vertices[eb.vertex[1]] - b0);
                const float lengthSq = axis.lengthSq();
                if (lengthSq < 1e-12f)
                    continue;
                if (axis.dot(outOfA) < 0.0f)
                    axis = -axis; // out of A
                const float depth = axis.dot(a0 - b0);
                if (!(depth > 0.0f))
                    return false;
                if (depth * depth < edgeDepth * edgeDepth * lengthSq) {
                    const float length = fastSqrt(lengthSq);
                    edgeDepth = depth / length;
                    edgeA = i;
                    edgeB = j;
                    edgeAxis = axis / length;
                }
            }
        }
        return true;
    }

    bool run(neContactSlot& out)
    {
        FaceBest face;
        if (!testFaces(0, face) || !testFaces(1, face))
            return false;
        float edgeDepth = face.depth;
        int edgeA = -1, edgeB = -1;
        vec3d edgeAxis;
        if (!testEdges(edgeDepth, edgeA, edgeB, edgeAxis))
            return false;
        if (edgeA >= 0) {
            // The closest points of the two edges; where they lie beyond an
            // edge the pair is no contact feature and the best face stands.
            const Side& a = sides[0];
            const Side& b = sides[1];
            const vec3d a0 = a.vertices[a.f->edges[edgeA].vertex[0]], a1 = a.vertices[a.f->edges[edgeA].vertex[1]];
            const vec3d b0 = b.vertices[b.f->edges[edgeB].vertex[0]], b1 = b.vertices[b.f->edges[edgeB].vertex[1]];
            float s, t;
            if (neSegmentParameters(a0, a1, b0, b1, s, t) && s >= 0.0f && s < 1.0f && t >= 0.0f && t < 1.0f) {
                out = {a0 + (a1 - a0) * s, b0 + (b1 - b0) * t, -edgeAxis, edgeDepth, true};
                return true;
            }
        }
        const vec3d n = sides[face.side].normals[face.face];
        const vec3d p = sides[1 - face.side].vertices[face.support];
        if (face.side == 0)
            out = {p + n * face.depth, p, -n, face.depth, true};
        else
            out = {p, p + n * face.depth, n, face.depth, true};
        return true;
    }
};

} // namespace

void neCollideConvex(neCollisionResult& r, const neGeometry& a, const matrix3d& wa, const neGeometry& b,
                     const matrix3d& wb)
{
    r.collided = 0;
    vec3d verticesA[8], verticesB[8];
    neConvexFeatures fa, fb;
    if (!fa.init(a, verticesA) || !fb.init(b, verticesB))
        return;
    Search search;
    search.sides[0].prepare(fa, wa);
    search.sides[1].prepare(fb, wb);
    neContactSlot slot;
    if (search.run(slot))
        r.set(slot.normal, slot.depth, slot.pointA, slot.pointB);
}

void neCollideConvexTerrain(neCollisionResult& r, const neGeometry& convex, const matrix3d& world,
                            const neGeometry& terrain)
{
    vec3d vertices[8];
    neConvexFeatures fa;
    if (!fa.init(convex, vertices)) {
        r.collided = 0;
        return;
    }
    Search search;
    search.sides[0].prepare(fa, world);
    vec3d lo = search.sides[0].vertices[0], hi = lo;
    for (int i = 1; i < fa.vertexCount; ++i)
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], search.sides[0].vertices[i][k]);
            hi[k] = std::max(hi[k], search.sides[0].vertices[i][k]);
        }
    neTerrainLoop(r, terrain, lo, hi, false, [&](const neTriangleWork& t, const neTriangle&, neContactSlot& slot, float, const neContactSlot*) {
        TriangleFeatures triangle(t);
        search.sides[1].prepare(triangle.features, matrix3d::identity());
        search.sideNormals = triangle.sideNormals;
        return search.run(slot);
    });
}
