#include "Objects/Spin.h"

#include "Objects/DynObject.h"
#include "Objects/PackageFields.h"

#include "Core/Math.h"
#include "Core/Timer.h"

#include <new>

bool ObjPkgManager::Functions::Spin::load(FileInterface& stream)
{
    return PackageFields::readBlock(stream, [&](uint32_t tag) {
        if (tag < 1 || tag > uint32_t(parameterCount))
            return true;
        return PackageFields::readFloat(stream, parameters[tag - 1], PackageFields::maxAngle);
    });
}

ObjPkgManager::Functions::Spin::Instance* ObjPkgManager::Functions::Spin::createInstance(DynObject* owner)
{
    return new (std::nothrow) Instance(this, owner);
}

void ObjPkgManager::Functions::Spin::Instance::frameStep()
{
    const float* p = spinTemplate->parameters;
    const float t = time;
    const matrix3d turn = matrix3d::fromAngles({p[turnX] * t, p[turnY] * t, p[turnZ] * t});
    for (int r = 0; r < 3; ++r) {
        local.setRow(r, turn.row(r));
        local.at(r, 3) = 0.0f;
    }
    local.setRow(3, {p[amplitudeX] * floatSin(p[frequencyX] * t), p[amplitudeY] * floatSin(p[frequencyY] * t),
                     p[amplitudeZ] * floatSin(p[frequencyZ] * t)});
    local.at(3, 3) = 1.0f;
    time = t + gFrameFactor.load(std::memory_order_relaxed) * 0.1f;
    if (!owner || !owner->object)
        return;
    matrix3d placed = matrix3d::identity();
    owner->object->getTransform(placed, false);
    owner->world = local * placed;
}
