#pragma once
// The mesh view that owns a triangle tree, and the geometry tools that work
// on any mesh through it: the tree build (a box hierarchy over the
// triangles), the median split, welding, the posed box, the uv copy and the
// four stored model encodings.
//
// Tools run on the thread that owns the mesh; two threads may build trees of
// different meshes at once. Loading work: none of them runs per frame.

#include "Entity/MeshInterface.h"

#include "Core/BoundingBox.h"
#include "Core/Math.h"
#include "Core/Triangle3dex.h"

#include <cstdint>
#include <memory>

class FileInterface;
struct OrientedBox;
struct matrix3d;

// Small geometry shared by the mesh code.
namespace MeshGeometry {

// Grows a box over a point: strict comparisons, so equal values (and NaN
// coordinates) change nothing.
inline void widen(vec3d& minimum, vec3d& maximum, const vec3d& p)
{
    if (p.x < minimum.x)
        minimum.x = p.x;
    if (p.y < minimum.y)
        minimum.y = p.y;
    if (p.z < minimum.z)
        minimum.z = p.z;
    if (p.x > maximum.x)
        maximum.x = p.x;
    if (p.y > maximum.y)
        maximum.y = p.y;
    if (p.z > maximum.z)
        maximum.z = p.z;
}

// Stores the corners and the centre between them; the radius fields stay.
inline void setCorners(BoundingBox& box, const vec3d& minimum, const vec3d& maximum)
{
    box.minimum = minimum;
    box.maximum = maximum;
    box.center = (minimum + maximum) * 0.5f;
}

// v at unit length (fast square root); zero stays zero.
inline vec3d unit(const vec3d& v)
{
    if (v.x == 0.0f && v.y == 0.0f && v.z == 0.0f)
        return v;
    return v / fastSqrt(v.lengthSq());
}

// (p1 - p0) x (p2 - p0) at unit length (fast square root); zero stays zero.
inline vec3d faceNormal(const vec3d& p0, const vec3d& p1, const vec3d& p2)
{
    return unit((p1 - p0).cross(p2 - p0));
}

}

class MeshTools : public MeshInterface
{
public:
    // One node of a triangle tree. A leaf holds exactly one triangle (a copy)
    // and depth 0; an inner node has two children and its depth. Each node's
    // box holds every corner of the triangles below it. Deleting a node
    // deletes its subtree.
    struct BinaryTiangleTree
    {
        BinaryTiangleTree* children[2] = {};
        triangle3dex* triangle = nullptr;
        BoundingBox box{{}, 1.0f, 1.0f, {}, {}};
        uint32_t depth = 0;

        BinaryTiangleTree() = default;
        BinaryTiangleTree(const BinaryTiangleTree&) = delete;
        BinaryTiangleTree& operator=(const BinaryTiangleTree&) = delete;
        ~BinaryTiangleTree();

        // Box tests against the mesh placed by world (row vectors). Each
        // accepts a leaf by its node box; the triangles are not tested.
        // A leaf whose box, carried into world space, overlaps box.
        bool intersectsBox(const matrix3d& world, const OrientedBox& box) const;
        // A leaf whose box overlaps the axis-aligned box holding box carried
        // into the mesh's space; false when world is singular.
        bool overlapsAlignedBox(const matrix3d& world, const BoundingBox& box) const;
    };

    virtual ~MeshTools();

    // The mesh's tree, null until buildTriangleTree made one.
    virtual BinaryTiangleTree* getTriangleTree() { return triangleTree_.get(); }
    // Hands the tree to the caller (who deletes it); the mesh has none after.
    BinaryTiangleTree* takeTriangleTree() { return triangleTree_.release(); }

    // Builds (or rebuilds) the mesh's tree over its counted triangles and
    // returns the root. Null, keeping any tree the mesh has, when there is no
    // triangle. Allocation failures leave a node's child or triangle null.
    static BinaryTiangleTree* buildTriangleTree(MeshTools& mesh);

    // Splits count triangles at the median centroid along the longest axis of
    // box (ties choose x before y before z): sorts them in place, ascending
    // on that axis, and copies the lower count / 2 into first and the rest
    // into second, both new arrays (delete[]). On a failed allocation both
    // are null and both counts 0.
    static void sortTriangles(triangle3dex* triangles, int32_t count, const BoundingBox& box, triangle3dex*& first,
                              triangle3dex*& second, int32_t& firstCount, int32_t& secondCount);

    // Minimum, maximum and centre of every corner; the radius fields are left
    // alone. Nothing for count <= 0.
    static void boundTriangles(const triangle3dex* triangles, int32_t count, BoundingBox& box);

    // Merges vertices of exactly equal position, normal and uv (where the
    // vertex type has them) that the tree's triangles use, and rewrites the
    // indices: the kept vertices take the order of first appearance, keep the
    // colour of the first of their group, and vertices no triangle uses are
    // dropped. Nothing without a tree, or for more indices than the tree's
    // 16-bit index positions can name. The tree names the old vertex numbers
    // afterwards: the caller deletes or rebuilds it.
    static void weldVertices(MeshTools& mesh);

    // Minimum, maximum and centre of the posed vertices: each bone's vertices
    // through its matrices, or, without bones, every counted position. The
    // radius fields are left alone. Bone vertex numbers at or past the vertex
    // count are skipped.
    static void calcSkinnedBounds(MeshTools& mesh, BoundingBox& box);

    // Every counted vertex's uv, in vertex order; null without vertices.
    static std::unique_ptr<vec2d[]> copyUVs(MeshTools& mesh);

    // Decodes a stored model from the stream's position into the mesh:
    // mode 1 the 84-byte-header model (versions "3" to "5", version 5 with
    // 16-bit textures), mode 2 the 68-byte-header model with frames, mode 3
    // the text model, mode 4 the engine's mesh record; points go through
    // transform (row vectors). Any other mode, a null or closed stream, and a
    // mode-1 version other than "3" to "5" leave the mesh untouched. A model
    // that is damaged (short, or with counts or indices outside its tables)
    // leaves the mesh's counts at 0. Returns the mesh.
    static MeshTools& processMode(MeshTools& mesh, FileInterface* stream, const matrix3d& transform, int32_t mode);

protected:
    MeshTools() = default;

private:
    std::unique_ptr<BinaryTiangleTree> triangleTree_;
};
