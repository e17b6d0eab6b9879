// The quad's ground and exhaust effects, set up once its swap chain is known.
#include "Vehicle/QuadInstance.h"

#include "Objects/ObjectPackage.h"
#include "Objects/PackageLight.h"

#include "Entity/StaticEntity.h"

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;

// The outlet's transform: the third light of the placed object's package
// (a light of a kind that projects nothing marks it).
const matrix3d* exhaustOutlet(const Object* placed)
{
    const auto* package = placed ? dynamic_cast<const ObjPkgManager::Package*>(placed->object) : nullptr;
    if (!package)
        return nullptr;
    int32_t index = 0;
    for (auto* node = package->lights.head(); node; node = node->next, ++index)
        if (index == 2)
            return node->item ? &node->item->transform : nullptr;
    return nullptr;
}

}

void QuadPhysics::Instance::startEffects()
{
    QuadPhysics::Contact* const contacts[WheelDirt::trackCount] = {
        &wheels[Wheel::frontLeft].contacts[0], &wheels[Wheel::frontRight].contacts[0],
        &wheels[Wheel::rearAxle].contacts[0], &wheels[Wheel::rearAxle].contacts[1]};
    const TextureRef none;
    wheelDirt.setUp(this, swapChain, templ ? templ->dustTexture : none, templ ? templ->dirtTexture : none, contacts);
    exhaustSmoke.init(swapChain, entity, &engineSound);
    if (const matrix3d* outlet = exhaustOutlet(placed))
        exhaustSmoke.create(*outlet);
}
