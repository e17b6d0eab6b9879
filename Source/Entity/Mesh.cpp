#include "Entity/Mesh.h"

#include "Entity/Bone.h"
#include "Entity/EntityManager.h"

#include <windows.h>

bool MeshSkinning::outOfRange(const vec3d& p)
{
    return p.x < -10.0f || p.x > 10.0f || p.y < -10.0f || p.y > 10.0f || p.z < -10.0f || p.z > 10.0f;
}

void MeshSkinning::beep()
{
    MessageBeep(0);
}

template class Mesh<vec3d, 2>;
template class Mesh<Joint::Vertex, 18>;
template class Mesh<EntityManager::MeshVertex, 274>;
