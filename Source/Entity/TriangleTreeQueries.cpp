#include "Entity/TriangleTreeQueries.h"

#include "Core/Math.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"

bool TriangleTree::rayTriangle(const triangle3dex& triangle, const vec3d& origin, const vec3d& direction,
                               bool clockwise, float& best)
{
    const vec3d& a = triangle.corners[0];
    const vec3d toB = triangle.corners[1] - a, toC = triangle.corners[2] - a;
    const vec3d& e1 = clockwise ? toB : toC;
    const vec3d& e2 = clockwise ? toC : toB;
    const vec3d p = direction.cross(e2);
    const float det = e1.dot(p);
    if (!(det > 0.0f))
        return false;
    const vec3d s = origin - a;
    const float u = s.dot(p);
    if (u < 0.0f || u > det)
        return false;
    const vec3d q = s.cross(e1);
    const float v = direction.dot(q);
    if (v < 0.0f || u + v > det)
        return false;
    const float t = e2.dot(q) / det;
    if (!(t > 0.0f && t < best))
        return false;
    best = t;
    return true;
}

const triangle3dex* TriangleTree::nearestOnRay(const Tree* node, const Ray& ray, bool clockwise, float& best)
{
    const triangle3dex* nearest = nullptr;
    while (node) {
        float entry = 0.0f;
        if (!rayMeetsBox(ray, node->box.minimum, node->box.maximum, best, entry))
            break;
        if (node->triangle) {
            if (rayTriangle(*node->triangle, ray.origin, ray.direction, clockwise, best))
                nearest = node->triangle;
            break;
        }
        if (const triangle3dex* hit = nearestOnRay(node->children[0], ray, clockwise, best))
            nearest = hit;
        node = node->children[1];
    }
    return nearest;
}

bool MeshTools::BinaryTiangleTree::intersectsBox(const matrix3d& world, const OrientedBox& box) const
{
    vec3d axes[3];
    float scales[3];
    for (int k = 0; k < 3; ++k) {
        const vec3d row = world.row(k);
        scales[k] = fastSqrt(row.lengthSq());
        axes[k] = scales[k] > 0.0f ? row / scales[k] : row;
    }
    DynArray<const BinaryTiangleTree*> stack(32);
    bool found = false;
    TriangleTree::forEachLeaf(
        this, stack,
        [&](const BoundingBox& nodeBox) {
            OrientedBox placed;
            placed.center = world.transformPoint(nodeBox.center);
            for (int k = 0; k < 3; ++k) {
                placed.axes[k] = axes[k];
                placed.halfExtents[k] = (nodeBox.maximum[k] - nodeBox.minimum[k]) * 0.5f * scales[k];
            }
            return OrientedBox::overlaps(placed, box);
        },
        [&](const BinaryTiangleTree&) {
            found = true;
            return false;
        });
    return found;
}

bool MeshTools::BinaryTiangleTree::overlapsAlignedBox(const matrix3d& world, const BoundingBox& box) const
{
    matrix3d inverse;
    if (!world.inverseAffine(inverse))
        return false;
    const BoundingBox local = box.carried(inverse);
    DynArray<const BinaryTiangleTree*> stack(32);
    bool found = false;
    TriangleTree::forEachLeaf(
        this, stack,
        [&](const BoundingBox& nodeBox) { return TriangleTree::overlaps(nodeBox, local.minimum, local.maximum); },
        [&](const BinaryTiangleTree&) {
            found = true;
            return false;
        });
    return found;
}
