#pragma once

#include "Physics/neTriangle.h"

#include "Core/DynArray.h"
#include "Core/Vector.h"

#include <cstdint>

// The physics thread's collision query: the region a body asks about (a
// sphere and a box) and the triangles found under it. The entity contact pass
// and the terrain append triangles, their vertices and one candidate index per
// triangle, and raise the counts; the arrays only grow, the counts say how
// much of them is in use. Used on the physics thread only, apart from clear.
struct CollisionQuery
{
    DynArray<int> candidates{64};
    DynArray<neTriangle> triangles{64};
    DynArray<vec3d> vertices{64};
    uint32_t triangleCount = 0;
    uint32_t vertexCount = 0;
    vec3d centre;
    float radius = 1.0f;
    float radiusSq = 1.0f;
    vec3d boxMin;
    vec3d boxMax;
    int32_t minLayer = 0; // sub-entities below this layer are left out

    // Frees the three arrays' storage and zeroes the counts (device release
    // and exit).
    void clear();
};

// The one query block of the program.
extern CollisionQuery gCollisionQuery;
