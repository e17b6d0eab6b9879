#include "Objects/Inventory.h"

#include "Objects/CollectGate.h"
#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageFields.h"
#include "Objects/PackageSounds.h"

#include "Audio/AudioFile.h"
#include "Audio/Sound3D.h"
#include "Entity/StaticEntity.h"
#include "Landscape/Scene.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"

#include <algorithm>
#include <new>

namespace {

using Inventory = ObjPkgManager::Functions::Inventory;

constexpr uint32_t collectFlag = 0x8;

enum Item : int32_t { nitroItem = 1, oilItem = 2, repairItem = 3, rocketItem = 4, flagItem = 5 };

bool isPast(uint32_t now, uint32_t deadline)
{
    return int32_t(now - deadline) > 0;
}

ObjPkgManager::Functions::Collect::Instance* collectOf(StaticEntity& entity)
{
    auto* dyn = dynamic_cast<DynObject*>(entity.instance);
    DynObject::FunctionManager::Function* entry = dyn && dyn->functions ? dyn->functions->find(collectFlag) : nullptr;
    return entry ? dynamic_cast<ObjPkgManager::Functions::Collect::Instance*>(entry->instance) : nullptr;
}

}

ObjPkgManager::Functions::Inventory::~Inventory()
{
    PackageSounds::drop(soundRef);
}

bool ObjPkgManager::Functions::Inventory::load(FileInterface& stream)
{
    CRASH_TRACE();
    return PackageFields::readBlock(stream, [&](uint32_t tag) {
        if (tag != 1)
            return true;
        PackageSounds::drop(soundRef);
        if (!FileInterface::copyBlockTo(stream, sound))
            return false;
        soundRef = PackageSounds::referTo(sound);
        return true;
    });
}

ObjPkgManager::Functions::Inventory::Instance* ObjPkgManager::Functions::Inventory::createInstance(
    D3D::Device::SwapChain* chain, Scene* scene, DynObject* owner)
{
    return new (std::nothrow) Instance(this, chain, scene, owner);
}

ObjPkgManager::Functions::Inventory::Instance::Instance(Inventory* inventory, D3D::Device::SwapChain* swapChain,
                                                        Scene* ownerScene, DynObject* dyn)
    : inventoryTemplate(inventory), chain(swapChain), scene(ownerScene), owner(dyn)
{
    if (owner && owner->object)
        vehicle = dynamic_cast<Game::Vehicle*>(owner->object->observer);
    if (!inventory || !inventory->soundRef)
        return;
    pickUpSound = Audio::AudioFile::get(inventory->soundRef.get(), 5, 5, 1);
    if (pickUpSound && pickUpSound->type != Audio::AudioFile::typeNone)
        pickUpSound->setupBuffers(true, true, false, false);
    else
        pickUpSound = nullptr;
}

bool ObjPkgManager::Functions::Inventory::Instance::isRaceVehicle(const DynObject* dyn) const
{
    if (!dyn || dyn == owner || !scene)
        return false;
    for (auto* node = scene->game.vehicles.head(); node; node = node->next)
        if (node->item && node->item->getDynObject() == dyn)
            return true;
    return false;
}

void ObjPkgManager::Functions::Inventory::Instance::update()
{
    CRASH_TRACE();
    if (!vehicle || !owner)
        return;
    // Pick-ups: at most one a frame, the query ends at the first answer.
    // A quad far from the camera is hidden from the view, not from the
    // race: only one with no sound placement takes nothing.
    if (chain && chain->staticEntities && !owner->unplaced) {
        StaticEntityManager::CircleQuery circle;
        circle.x = owner->worldBounds.center.x;
        circle.z = owner->worldBounds.center.z;
        circle.radius = owner->worldBounds.radius;
        chain->staticEntities->findInCircle(circle, *this);
    }

    // The contact was recorded on the physics thread; whether the flag
    // passes is decided here. The other side is looked up among the race's
    // vehicles before it is touched, so one that left meanwhile is ignored.
    DynObject* other = touched.exchange(nullptr);
    if (other && vehicle->carriedItem && handOver == 0 && isRaceVehicle(other) && other->functions) {
        DynObject::FunctionManager::Function* entry = other->functions->find(flag);
        auto* receiver = entry ? dynamic_cast<Instance*>(entry->instance) : nullptr;
        if (receiver && receiver->vehicle && receiver->vehicle != vehicle) {
            ::Object* item = vehicle->carriedItem;
            vehicle->setCarriedItem(nullptr);
            receiver->takeFlag(item);
        }
    }

    if (vehicle->carriedItem && handOver != 0 && isPast(raceNow(), handOver)) {
        handOver = 0;
        if (auto* flagObject = dynamic_cast<DynObject*>(vehicle->carriedItem->instance))
            flagObject->setAlpha(1.0f);
    }
}

void ObjPkgManager::Functions::Inventory::Instance::onCollision(EntityManager::Physics::Collision& contact)
{
    // The vehicle is set once, at construction: reading it here is safe.
    if (!vehicle || contact.otherType != EntityManager::Physics::rigidContact)
        return;
    auto* other = dynamic_cast<DynObject*>(contact.otherOwner);
    if (other && other != owner && other->functions && (other->functions->mask & flag))
        touched.store(other);
}

uint32_t ObjPkgManager::Functions::Inventory::Instance::found(StaticEntity& entity)
{
    if (!vehicle || !owner || entity.state == StaticEntity::instanceFlagged)
        return 0;
    auto* package = dynamic_cast<ObjPkgManager::Package*>(entity.object);
    if (!package || !package->functions.collect)
        return 0;
    // Within reach: the item's horizontal distance to the quad's centre is
    // at most the quad's bounding radius.
    const vec3d at = entity.getPosition();
    const float dx = at.x - owner->worldBounds.center.x, dz = at.z - owner->worldBounds.center.z;
    if (dx * dx + dz * dz > owner->worldBounds.radiusSq)
        return 0;
    auto* collect = collectOf(entity);
    if (!collect)
        return 0;

    // An item away (taken, returning or carried) is passed over, so that it
    // does not keep the query from a shown one beside it.
    using Collect = ObjPkgManager::Functions::Collect::Instance;
    if (collect->state != Collect::shown || !collect->collectTemplate)
        return 0;
    const int32_t kind =
        collect->collectTemplate->value == Collect::flagValue ? int32_t(Collect::flagValue) : collect->collect();
    if (kind == Collect::noItem)
        return 0;

    if (pickUpSound) {
        if (Audio::Sound3D* sound = Audio::Sound3D::create(pickUpSound)) {
            sound->setPosition(collect->owner ? collect->owner->world.row(3) : at)->setDistances(1000.0f, 0.42f);
            sound->play(false);
        }
    }
    switch (kind) {
    case nitroItem: vehicle->nitro = std::min(vehicle->nitro + nitroPerItem, 1.0f); break;
    case oilItem:
        if (vehicle->oil < maxCount)
            ++vehicle->oil;
        break;
    case repairItem: vehicle->repair(); break;
    case rocketItem:
        if (vehicle->rockets < maxCount)
            ++vehicle->rockets;
        break;
    case flagItem:
        collect->state = Collect::carried;
        takeFlag(dynamic_cast<::Object*>(&entity));
        break;
    default: break;
    }
    return 1;
}

void ObjPkgManager::Functions::Inventory::Instance::takeFlag(::Object* item)
{
    if (!vehicle)
        return;
    vehicle->setCarriedItem(item);
    // A running hand-over is never 0.
    handOver = std::max<uint32_t>(raceNow() + handOverTime, 1);
    if (auto* flagObject = item ? dynamic_cast<DynObject*>(item->instance) : nullptr)
        flagObject->setAlpha(0.5f);
}
