#include "Objects/BaseFunction.h"

#include <cmath>

ObjPkgManager::Functions::BaseFunction::BaseFunction(Record* record) : owner(record)
{
    box.radius = 1.0f;
    box.radiusSq = 1.0f;
    box.axes[0] = {1.0f, 0.0f, 0.0f};
    box.axes[1] = {0.0f, 1.0f, 0.0f};
    box.axes[2] = {0.0f, 0.0f, 1.0f};
}

bool ObjPkgManager::Functions::BaseFuncEditor::picks(const OrientedBox& box, const vec3d& origin,
                                                     const vec3d& direction, float& distance)
{
    float t = 0.0f;
    const int face = box.intersectRay(origin, direction, t);
    if (face == 7)
        return false;
    if (face == 6) {
        const vec3d rel = origin - box.center;
        for (int axis = 0; axis < 3; ++axis)
            if (std::fabs(box.axes[axis].dot(rel)) > box.halfExtents[axis])
                return false;
    }
    distance = t;
    return true;
}

bool ObjPkgManager::Functions::BaseFunction::hitTest(const vec3d& origin, const vec3d& direction, float& distance)
{
    return picks(box, origin, direction, distance);
}

void ObjPkgManager::Functions::BaseFunction::updateTransform()
{
    rotation = matrix3d::fromAngles(angles);
    placement = matrix3d::identity();
    for (int r = 0; r < 3; ++r)
        placement.setRow(r, rotation.row(r) * scale[r]);
    placement.setRow(3, position);
}

void ObjPkgManager::Functions::BaseFunction::changed()
{
    updateTransform();
    applySettings();
}

void ObjPkgManager::Functions::BaseFunction::setPosition(const vec3d& at)
{
    position = at;
    changed();
}

void ObjPkgManager::Functions::BaseFunction::setScaleX(float value)
{
    const uint32_t locks = scaleLocks();
    scale.x = value;
    if (!(locks & 2))
        scale.y = value;
    if (!(locks & 4))
        scale.z = value;
    changed();
}

void ObjPkgManager::Functions::BaseFunction::setScaleY(float value)
{
    scale.y = value;
    changed();
}

void ObjPkgManager::Functions::BaseFunction::setScaleZ(float value)
{
    scale.z = value;
    changed();
}

void ObjPkgManager::Functions::BaseFunction::setRotation(const vec3d& degrees)
{
    angles = degrees;
    changed();
}
