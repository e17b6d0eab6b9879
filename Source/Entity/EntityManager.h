#pragma once
// The entity manager: every object that carries meshes.

#include "Core/Vector.h"

class EntityManager
{
public:
    // The vertex of entity and package meshes: flexible vertex format 274
    // (position, normal, one uv pair).
    struct MeshVertex
    {
        vec3d position;
        vec3d normal;
        vec2d uv;
    };
};
static_assert(sizeof(EntityManager::MeshVertex) == 32);
