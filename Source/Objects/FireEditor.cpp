#include "Objects/Fire.h"

ObjPkgManager::Functions::Fire::Entry* ObjPkgManager::Functions::Fire::selectedFire() const
{
    return selected >= 0 && size_t(selected) < fires.size() ? fires[size_t(selected)].get() : nullptr;
}

const OrientedBox& ObjPkgManager::Functions::Fire::getBox()
{
    static const OrientedBox none{};
    const Entry* fire = selectedFire();
    return fire ? fire->box : none;
}

bool ObjPkgManager::Functions::Fire::hitTest(const vec3d& origin, const vec3d& direction, float& distance)
{
    for (size_t i = 0; i < fires.size(); ++i) {
        if (picks(fires[i]->box, origin, direction, distance)) {
            picked = int32_t(i);
            return true;
        }
    }
    return false;
}

void ObjPkgManager::Functions::Fire::markModified()
{
    // The page's sliders and controls follow the selection.
    selectFire(picked >= 0 && size_t(picked) < fires.size() ? picked : selected);
    refreshControls();
    modified = 1;
}

void ObjPkgManager::Functions::Fire::getPosition(vec3d& out)
{
    if (const Entry* fire = selectedFire())
        out = fire->position;
}

void ObjPkgManager::Functions::Fire::setPosition(const vec3d& at)
{
    if (Entry* fire = selectedFire()) {
        fire->position = at;
        fire->place();
    }
}

float ObjPkgManager::Functions::Fire::getScaleX()
{
    const Entry* fire = selectedFire();
    return fire ? fire->scale.x : 0.0f;
}

void ObjPkgManager::Functions::Fire::setScaleX(float value)
{
    if (Entry* fire = selectedFire()) {
        fire->scale = {value, value, value};
        fire->place();
    }
}

void ObjPkgManager::Functions::Fire::getAngles(vec3d& out)
{
    if (const Entry* fire = selectedFire())
        out = fire->angles;
}

void ObjPkgManager::Functions::Fire::setRotation(const vec3d& degrees)
{
    if (Entry* fire = selectedFire()) {
        fire->angles = degrees;
        fire->place();
    }
}
