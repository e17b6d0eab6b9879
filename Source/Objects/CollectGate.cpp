#include "Objects/CollectGate.h"

#include "Objects/DynObject.h"
#include "Objects/LensFlare.h"
#include "Objects/PackageMesh.h"

#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"
#include "Race/RaceClock.h"

#include <new>

namespace {

constexpr uint32_t spinFlag = 0x1;
// The query level of the carried flag's parts: below every query's.
constexpr int32_t flagLayer = -2;

bool isPast(uint32_t now, uint32_t deadline)
{
    return int32_t(now - deadline) > 0;
}

}

ObjPkgManager::Functions::Collect::Instance* ObjPkgManager::Functions::Collect::createInstance(DynObject* owner)
{
    return new (std::nothrow) Instance(this, owner);
}

ObjPkgManager::Functions::Collect::Instance::Instance(Collect* collect, DynObject* owner)
    : collectTemplate(collect), owner(owner)
{
    if (!owner)
        return;
    if (owner->object && owner->object->state != StaticEntity::instanceFlagged)
        owner->object->setState(StaticEntity::alwaysActive);
    if (collect && collect->value == flagValue)
        for (auto* node = owner->subEntities.head(); node; node = node->next)
            node->item->layer = flagLayer;
}

int32_t ObjPkgManager::Functions::Collect::Instance::collect()
{
    if (!owner || state != shown)
        return noItem;
    owner->hidden = 1;
    deadline = raceNow() + hiddenTime;
    state = taken;
    return collectTemplate ? int32_t(collectTemplate->value) : noItem;
}

float ObjPkgManager::Functions::Collect::Instance::popInFactor(int32_t remaining)
{
    const float u = (1.0f - float(remaining) / float(returnTime)) - 1.0f;
    return (2.701580047607422f * u + 1.7015800476074219f) * u * u + 1.0f;
}

void ObjPkgManager::Functions::Collect::Instance::update()
{
    // Shown and carried items have nothing to time.
    if (!owner || (state != taken && state != returning))
        return;
    const uint32_t now = raceNow();
    if (state == taken) {
        owner->hidden = 1;
        if (isPast(now, deadline)) {
            state = returning;
            deadline = now + returnTime;
        }
    } else if (state == returning) {
        if (isPast(now, deadline))
            state = shown;
        int32_t remaining = int32_t(deadline - now);
        if (remaining < 0)
            remaining = 0;
        owner->hidden = 0;
        // A spin function builds the rotation anew every frame, so the scale
        // does not pile up.
        if (owner->functions && (owner->functions->mask & spinFlag)) {
            const float f = popInFactor(remaining);
            for (int row = 0; row < 3; ++row)
                for (int c = 0; c < 3; ++c)
                    owner->world.m[row * 4 + c] *= f;
        }
    }
}

ObjPkgManager::Functions::Gate::Instance* ObjPkgManager::Functions::Gate::createInstance(
    D3D::Device::SwapChain* chain, DynObject* owner)
{
    return new (std::nothrow) Instance(this, chain, owner);
}

ObjPkgManager::Functions::Gate::Instance::Instance(Gate* gate, D3D::Device::SwapChain* swapChain, DynObject* owner)
    : gateTemplate(gate), swapChain(swapChain), owner(owner)
{
    // A gate starts unmarked: no flare either.
    if (owner && owner->functions)
        owner->functions->remove(LensFlare::flag);
    if (!owner || !gate || !gate->mesh)
        return;
    const String& name = *gate->mesh->getName();
    for (auto* node = owner->subEntities.head(); node; node = node->next)
        if (node->item->mesh().name.sameText(name))
            marker = node->item;
    if (marker)
        marker->hidden = 1;
}

void ObjPkgManager::Functions::Gate::Instance::setMarked(bool on)
{
    if (marker)
        marker->hidden = on ? 0 : 1;
    if (!owner || !owner->functions)
        return;
    DynObject::FunctionManager& functions = *owner->functions;
    if (!on) {
        functions.remove(LensFlare::flag);
        return;
    }
    LensFlare* flares = gateTemplate && gateTemplate->record ? gateTemplate->record->lensFlare : nullptr;
    if (!flares || (functions.mask & LensFlare::flag))
        return;
    LensFlare::Instance* flare = flares->createInstance(swapChain, owner);
    const DynObject::FunctionManager::Function* entry = flare ? functions.add(LensFlare::flag, flare) : nullptr;
    if (!entry || entry->instance != flare)
        delete flare;
}
