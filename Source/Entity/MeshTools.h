#pragma once
// The mesh view that owns a triangle tree (a box hierarchy over the mesh's
// triangles).

#include "Entity/MeshInterface.h"

#include "Core/BoundingBox.h"
#include "Core/Math.h"
#include "Core/Triangle3dex.h"

#include <cstdint>
#include <memory>


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

// (p1 - p0) x (p2 - p0) at unit length (fast square root); zero stays zero.
inline vec3d faceNormal(const vec3d& p0, const vec3d& p1, const vec3d& p2)
{
    const vec3d n = (p1 - p0).cross(p2 - p0);
    if (n.x == 0.0f && n.y == 0.0f && n.z == 0.0f)
        return n;
    return n / fastSqrt(n.lengthSq());
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
    };

    virtual ~MeshTools();

    // The mesh's tree, null until buildTriangleTree made one.
    virtual BinaryTiangleTree* getTriangleTree() { return triangleTree_.get(); }
    // Hands the tree to the caller (who deletes it); the mesh has none after.
    BinaryTiangleTree* takeTriangleTree() { return triangleTree_.release(); }

protected:
    MeshTools() = default;

private:
    std::unique_ptr<BinaryTiangleTree> triangleTree_;
};
