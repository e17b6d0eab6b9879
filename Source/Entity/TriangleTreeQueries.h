#pragma once
// Walks of a mesh's triangle tree in the mesh's own space: the nearest
// triangle along a ray, and the leaves whose boxes meet a box. The entity
// octree walks and the tree's own box tests end in them. Any thread; a tree
// is read only.

#include "Entity/MeshTools.h"

#include "Core/BoundingBox.h"
#include "Core/DynArray.h"
#include "Core/Triangle3dex.h"
#include "Core/Vector.h"

#include <utility>

namespace TriangleTree {

using Tree = MeshTools::BinaryTiangleTree;

// One-sided ray test of a triangle A, B, C: with clockwise clear it faces
// along (C - A) x (B - A), with it set along (B - A) x (C - A), and a ray
// meets only the side facing back at it. A hit at 0 < t < best becomes best.
bool rayTriangle(const triangle3dex& triangle, const vec3d& origin, const vec3d& direction, bool clockwise,
                 float& best);

// A ray with the reciprocals of its direction, for box tests.
struct Ray
{
    Ray(const vec3d& from, const vec3d& towards)
        : origin(from), direction(towards), inverse(1.0f / towards.x, 1.0f / towards.y, 1.0f / towards.z)
    {
    }
    vec3d origin, direction, inverse;
};

// Whether the ray meets the box between 0 and limit; entry is where it
// enters (0 from inside). A component of 0 in the direction divides to an
// infinity, which the comparisons handle.
inline bool rayMeetsBox(const Ray& ray, const vec3d& minimum, const vec3d& maximum, float limit, float& entry)
{
    float enter = 0.0f, leave = limit;
    for (int a = 0; a < 3; ++a) {
        float low = (minimum[a] - ray.origin[a]) * ray.inverse[a];
        float high = (maximum[a] - ray.origin[a]) * ray.inverse[a];
        if (low > high)
            std::swap(low, high);
        // A NaN (origin on a face plane, no motion across it) limits nothing.
        if (low > enter)
            enter = low;
        if (high < leave)
            leave = high;
        if (enter > leave)
            return false;
    }
    entry = enter;
    return true;
}

// The nearest triangle below node that the ray meets before best (which
// becomes its distance); nodes the ray misses or enters beyond best are
// skipped. Null when none.
const triangle3dex* nearestOnRay(const Tree* node, const Ray& ray, bool clockwise, float& best);

// Closed-interval overlap of two axis-aligned boxes.
inline bool overlaps(const BoundingBox& a, const vec3d& minimum, const vec3d& maximum)
{
    return a.minimum.x <= maximum.x && minimum.x <= a.maximum.x && a.minimum.y <= maximum.y &&
           minimum.y <= a.maximum.y && a.minimum.z <= maximum.z && minimum.z <= a.maximum.z;
}

// Calls visit(leaf) for each leaf whose box passes meets(node box), visiting
// only below nodes that pass; visit returns false to end the walk. stack is
// scratch.
template <class Meets, class Visit>
void forEachLeaf(const Tree* root, DynArray<const Tree*>& stack, Meets meets, Visit visit)
{
    if (!root || !meets(root->box) || !stack.reserve(2))
        return;
    uint32_t top = 0;
    stack.data()[top++] = root;
    while (top > 0) {
        const Tree* node = stack.data()[--top];
        if (node->triangle) {
            if (!visit(*node))
                return;
            continue;
        }
        // Room for both children before either is written.
        if (!stack.reserve(top + 2))
            return;
        const Tree** slots = stack.data();
        for (const Tree* child : node->children)
            if (child && meets(child->box))
                slots[top++] = child;
    }
}

}
