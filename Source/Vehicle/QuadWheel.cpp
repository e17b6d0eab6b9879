#include "Vehicle/QuadWheel.h"

#include "Objects/PackageMesh.h"

#include "Entity/SubEntity.h"

#include <cmath>

namespace {

// Twice the placed half height of a part mesh (its box's y axis and half
// size) at the quad's scale; 0 without the mesh.
float heightOf(const ObjPkgManager::Mesh* mesh, float scale)
{
    if (!mesh)
        return 0.0f;
    const OrientedBox& box = mesh->worldBox;
    return 2.0f * box.axes[1].length() * box.halfExtents.y * scale;
}

}

ObjPkgManager::Functions::QuadPhysics::Wheel::Wheel()
{
    for (Contact& contact : contacts)
        contact.wheel = this;
}

void ObjPkgManager::Functions::QuadPhysics::Wheel::setUpWheel(Instance* owner, int32_t unit, float scaleFactor,
                                                            float springConstant, float damperConstant)
{
    instance = owner;
    index = unit;
    scale = scaleFactor;
    spring = springConstant;
    damper = damperConstant;
    for (EntityManager::SubEntity* part : parts)
        if (part)
            part->followsEntity = 0;
    dirAxis = unit == rearAxle ? &axisRight : &axisForward;
    const float rayLength = heightOf(partMeshes[3], scale);
    contacts[0].rayLength = rayLength;
    if (unit == rearAxle)
        contacts[1].rayLength = rayLength;
    halfRayLength = rayLength * 0.5f;
    partLength = heightOf(partMeshes[1], scale);
}
