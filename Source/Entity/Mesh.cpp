#include "Entity/Mesh.h"

#include "Entity/Bone.h"
#include "Entity/EntityManager.h"

#include <windows.h>

#include <atomic>

namespace {
std::atomic<uint32_t> outOfRangeVertices{0};
}

void MeshSkinning::beep()
{
    outOfRangeVertices.fetch_add(1, std::memory_order_relaxed);
#ifndef NDEBUG
    MessageBeep(0);
#endif
}

uint32_t MeshSkinning::outOfRangeCount()
{
    return outOfRangeVertices.load(std::memory_order_relaxed);
}

template class Mesh<vec3d, 2>;
template class Mesh<Joint::Vertex, 18>;
template class Mesh<EntityManager::MeshVertex, 274>;
