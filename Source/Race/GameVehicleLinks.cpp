// What a vehicle's race state asks of the object functions of its quad and
// of the race's other objects: the head-up display, the vehicle camera, the
// fires, the rockets, the oil puddles and the gates' marks.
#include "Race/AIDriver.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Objects/Cloths.h"
#include "Objects/CollectGate.h"
#include "Objects/DynObject.h"
#include "Objects/Fire.h"
#include "Objects/HUD.h"
#include "Objects/Inventory.h"
#include "Objects/OilPuddle.h"
#include "Objects/Rocket.h"
#include "Objects/VehicleCamera.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Vehicle/QuadWheel.h"
#include "Vehicle/QuadInstance.h"

#include "Landscape/Scene.h"
#include "Render/Camera.h"
#include "Render/SwapChain.h"

#include "Core/Language.h"
#include "Core/Timer.h"

#include <new>

namespace {

constexpr uint32_t vehicleCameraFlag = 0x4;
constexpr uint32_t gateFlag = 0x40;
constexpr uint32_t collectFlag = 0x8;

using Contact = ObjPkgManager::Functions::QuadPhysics::Contact;

// Each ground contact of the quad's wheels: one for each front wheel, two
// for the rear axle.
template <class Visit>
void forEachContact(Game::Vehicle::QuadInstance& quad, Visit visit)
{
    using Wheel = ObjPkgManager::Functions::QuadPhysics::Wheel;
    for (int32_t w = 0; w < 3; ++w)
        for (int32_t c = 0; c < (w == Wheel::rearAxle ? 2 : 1); ++c)
            visit(quad.wheels[w].contacts[c]);
}

// The instance of kind T that dyn carries under flag, or null.
template <class T>
T* functionOf(const DynObject* dyn, uint32_t flag)
{
    DynObject::FunctionManager::Function* entry = dyn && dyn->functions ? dyn->functions->find(flag) : nullptr;
    return entry ? dynamic_cast<T*>(entry->instance) : nullptr;
}

}

Game::Gate::Gate(Game* owner, Object* placed) : object(placed), game(owner)
{
    if (object)
        object->observer = this;
}

Game::Gate::~Gate()
{
    if (object && object->observer == this)
        object->observer = nullptr;
}

void Game::Gate::instanceCreated(StaticEntity::Instance& instance)
{
    attachToEntity(dynamic_cast<DynObject*>(&instance));
}

void Game::Gate::attachToEntity(DynObject* dyn)
{
    if (auto* gate = functionOf<ObjPkgManager::Functions::Gate::Instance>(dyn, gateFlag))
        gate->setMarked(marked != 0);
}

void Game::Gate::setMarked(uint32_t on)
{
    marked = on;
    if (object)
        attachToEntity(dynamic_cast<DynObject*>(object->instance));
}

ObjPkgManager::Functions::VehicleCamera* Game::Vehicle::getCamera() const
{
    return functionOf<ObjPkgManager::Functions::VehicleCamera>(getDynObject(), vehicleCameraFlag);
}

ObjPkgManager::Functions::HUD* Game::Vehicle::getHUD() const
{
    return functionOf<ObjPkgManager::Functions::HUD>(getDynObject(), hudFlag);
}

void Game::Vehicle::showMessage(const wchar_t* key, uint32_t duration)
{
    if (ObjPkgManager::Functions::HUD* hud = getHUD())
        hud->showMessage(gLanguage ? gLanguage->getText(nullptr, String::borrowed(key)) : String(key), duration);
}

void Game::Vehicle::hideMessage()
{
    if (ObjPkgManager::Functions::HUD* hud = getHUD())
        hud->hideMessage();
}

void Game::Vehicle::showCompass(bool show)
{
    if (ObjPkgManager::Functions::HUD* hud = getHUD())
        hud->showCompass(show);
}

void Game::Vehicle::showBeam()
{
    if (ObjPkgManager::Functions::HUD* hud = getHUD())
        hud->createBeam();
}

void Game::Vehicle::showLapTimes(int32_t lapMs, int32_t differenceMs)
{
    if (ObjPkgManager::Functions::HUD* hud = getHUD())
        hud->showLapTimes(lapMs, differenceMs);
}

void Game::Vehicle::updateRecordTexts(bool lap)
{
    ObjPkgManager::Functions::HUD* hud = getHUD();
    if (!hud)
        return;
    if (lap)
        hud->updateLapTimeText();
    else
        hud->updateBestTimeText();
}

void Game::Vehicle::lookAlongQuad(QuadInstance& quad)
{
    auto* camera = getCamera();
    if (!camera)
        return;
    if (const neRigidBody* body = quad.body())
        camera->viewDirection = body->state().transform.row(2);
    else if (quad.entity)
        camera->viewDirection = quad.entity->world.row(2);
}

void Game::Vehicle::handToDriver()
{
    createAIDriver(getDynObject());
    setCameraMode1();
}

void Game::Vehicle::createAIDriver(DynObject* dyn)
{
    QuadInstance* quad = quadOf(dyn);
    if (!quad || dyn->functions->find(aiDriverFlag))
        return;
    auto* driver = new (std::nothrow) ObjPkgManager::Functions::AI(game ? game->scene : nullptr, dyn);
    if (!driver)
        return;
    const DynObject::FunctionManager::Function* entry = dyn->functions->add(aiDriverFlag, driver);
    if (!entry || entry->instance != driver) {
        delete driver;
        return;
    }
    quad->controls = &driver->controls;
}

ObjPkgManager::Functions::AI* Game::Vehicle::getAIDriver() const
{
    return functionOf<ObjPkgManager::Functions::AI>(getDynObject(), aiDriverFlag);
}

void Game::Vehicle::setCameraMode1()
{
    if (auto* camera = getCamera())
        camera->setMode(ObjPkgManager::Functions::VehicleCamera::orbit);
}

void Game::Vehicle::applyMotorFactor(QuadInstance& quad, float factor)
{
    quad.engineSound.speedScale = factor;
}

namespace {

// Switches fire i of the quad's fires, when the package has it.
void setFire(const DynObject* dyn, int32_t i, uint32_t on)
{
    auto* fires = functionOf<ObjPkgManager::Functions::Fire::Instance>(dyn, ObjPkgManager::Functions::Fire::flag);
    if (auto* fire = fires ? fires->object(i) : nullptr)
        fire->setBurning(on != 0);
}

}

void Game::Vehicle::setDamageFires(uint32_t on)
{
    const DynObject* dyn = getDynObject();
    setFire(dyn, 0, on);
    setFire(dyn, 1, on);
}

void Game::Vehicle::setNitroFlame(uint32_t on)
{
    setFire(getDynObject(), 2, on);
}

uint32_t Game::Vehicle::forceFeedback() const
{
    return isPlayer ? 1u : 0u;
}

void Game::Vehicle::launchRocket(DynObject& rocket, QuadInstance& quad)
{
    using Rocket = ObjPkgManager::Functions::Rocket;
    Vehicle* target = game ? game->findRival(*this, false, 0.5f) : nullptr;
    DynObject* targetObject = target ? target->getDynObject() : nullptr;
    auto* instance = functionOf<Rocket::Instance>(&rocket, Rocket::flag);
    if (!targetObject || !instance || !quad.entity)
        return;
    // The launcher's speed is how far the quad moved since the last update,
    // per 1/35 s as the rocket's own speed is: a slow frame moves it further.
    const float moved = (quad.entity->worldBounds.center - position).length();
    const float factor = gFrameFactor.load(std::memory_order_relaxed);
    instance->fire(quad.entity, targetObject, factor > 0.0f ? moved / factor : moved, 3.0f, target);
}

void Game::Vehicle::spillOil(DynObject& puddle, QuadInstance& quad)
{
    auto* instance =
        functionOf<ObjPkgManager::Functions::OilPuddle::Instance>(&puddle, ObjPkgManager::Functions::OilPuddle::flag);
    if (!instance || !quad.entity)
        return;
    instance->source = quad.entity;
    instance->spill(true);
}

void Game::setPlayerCameraMode1()
{
    if (Vehicle* player = getPlayerVehicle())
        player->setCameraMode1();
}

void Game::followPlayer()
{
    Vehicle* player = getPlayerVehicle();
    DynObject* dyn = player ? player->getDynObject() : nullptr;
    if (!dyn || !dyn->functions || !scene || scene->camera.mode == SceneCamera::vehicleMode)
        return;
    if (!dyn->functions->find(vehicleCameraFlag)) {
        auto* camera = new ObjPkgManager::Functions::VehicleCamera(scene->camera.deviceCamera(), dyn);
        if (!dyn->functions->add(vehicleCameraFlag, camera))
            delete camera;
    }
    if (!dyn->functions->find(Vehicle::hudFlag)) {
        UserInterface::Root* root = scene->swapChain ? scene->swapChain->userInterface : nullptr;
        auto* hud = new ObjPkgManager::Functions::HUD(root, scene, dyn);
        if (!dyn->functions->add(Vehicle::hudFlag, hud))
            delete hud;
    }
    scene->camera.mode = SceneCamera::vehicleMode;
}

void Game::unfollowPlayer()
{
    Vehicle* player = getPlayerVehicle();
    DynObject* dyn = player ? player->getDynObject() : nullptr;
    if (!dyn || !dyn->functions)
        return;
    dyn->functions->remove(vehicleCameraFlag);
    dyn->functions->remove(Vehicle::hudFlag);
}

void Game::removeSpentRockets()
{
    using Rocket = ObjPkgManager::Functions::Rocket;
    for (auto* node = rockets.head(); node;) {
        auto* next = node->next;
        auto* dyn = node->item ? dynamic_cast<DynObject*>(node->item->instance) : nullptr;
        const auto* rocket = functionOf<Rocket::Instance>(dyn, Rocket::flag);
        if (rocket && rocket->isFinished()) {
            node->item->remove();
            SCList<Object>::removeAndDelete(node);
        }
        node = next;
    }
}

void Game::updateOilPuddles()
{
    using OilPuddle = ObjPkgManager::Functions::OilPuddle;
    const uint32_t oiledUntil = raceNow() + 3000;
    for (auto* node = oilPuddles.head(); node;) {
        auto* next = node->next;
        auto* dyn = node->item ? dynamic_cast<DynObject*>(node->item->instance) : nullptr;
        auto* puddle = functionOf<OilPuddle::Instance>(dyn, OilPuddle::flag);
        if (!puddle) {
            node = next;
            continue;
        }
        for (auto* v = vehicles.head(); v; v = v->next) {
            Vehicle::QuadInstance* quad = v->item ? v->item->getQuad() : nullptr;
            if (!quad)
                continue;
            forEachContact(*quad, [&](Contact& contact) {
                if (!puddle->hitTest(contact.synced.contactPoint, quad->entity))
                    return;
                contact.setOiled(oiledUntil);
                // A touch starts the sinking; a puddle already gone under
                // stays gone.
                if (puddle->state != OilPuddle::Instance::sunk)
                    puddle->state = OilPuddle::Instance::sinking;
            });
        }
        if (puddle->state == OilPuddle::Instance::sunk) {
            node->item->remove();
            SCList<Object>::removeAndDelete(node);
        }
        node = next;
    }
}

void Game::removeItemObjects()
{
    for (SCList<Object>* list : {&rockets, &oilPuddles}) {
        for (auto* node = list->head(); node; node = node->next)
            node->item->remove();
        list->deleteAll();
    }
}

void Game::resetCaptureFlag()
{
    auto* dyn = captureFlag ? dynamic_cast<DynObject*>(captureFlag->instance) : nullptr;
    if (!dyn)
        return;
    if (EntityManager::Physics* physics = dyn->physics; physics && physics->rigidBody && physics->rigidBody->body) {
        if (dyn->manager)
            dyn->manager->physicsManager->waitForStepEnd();
        neRigidBody* body = physics->rigidBody->body;
        matrix3d pose;
        captureFlag->getTransform(pose, false);
        body->setPose(pose);
        body->stopMotion();
        body->wakeUp();
    }
    using Collect = ObjPkgManager::Functions::Collect;
    if (auto* item = functionOf<Collect::Instance>(dyn, collectFlag); item && item->state == Collect::Instance::carried)
        item->state = Collect::Instance::shown;
    // At home the cloth no longer follows a carrier.
    using Cloths = ObjPkgManager::Functions::Cloths;
    if (auto* cloth = functionOf<Cloths::Instance>(dyn, Cloths::flag))
        cloth->windFromMotion.store(0, std::memory_order_relaxed);
}

bool Game::chaseView(const Vehicle& vehicle, matrix3d& pose) const
{
    DynObject* dyn = vehicle.getDynObject();
    if (!dyn)
        return false;
    // A camera of its own, not the one the scene draws with.
    Camera unused;
    ObjPkgManager::Functions::VehicleCamera chase(&unused, dyn);
    chase.update(vec3d(), pose);
    return true;
}

void Game::shiftDeadlines(uint32_t ms)
{
    startTime += ms;
    for (auto* node = vehicles.head(); node; node = node->next)
        node->item->shiftDeadlines(ms);
    for (auto* node = rockets.head(); node; node = node->next) {
        auto* dyn = node->item ? dynamic_cast<DynObject*>(node->item->instance) : nullptr;
        if (auto* rocket = functionOf<ObjPkgManager::Functions::Rocket::Instance>(dyn, ObjPkgManager::Functions::Rocket::flag))
            moveDeadline(rocket->launchTime, ms);
    }
    for (auto* node = oilPuddles.head(); node; node = node->next) {
        using OilPuddle = ObjPkgManager::Functions::OilPuddle;
        auto* dyn = node->item ? dynamic_cast<DynObject*>(node->item->instance) : nullptr;
        if (auto* puddle = functionOf<OilPuddle::Instance>(dyn, OilPuddle::flag))
            moveDeadline(puddle->spillDeadline, ms);
    }
    for (int32_t package : {NitroPackage, RepairKitPackage, RocketPackPackage, OilPackage}) {
        if (!packages[package])
            continue;
        SCList<StaticEntity> objects;
        collectObjects(package, objects);
        for (auto* node = objects.head(); node; node = node->next) {
            auto* dyn = dynamic_cast<DynObject*>(node->item->instance);
            if (auto* pickup = functionOf<ObjPkgManager::Functions::Collect::Instance>(dyn, collectFlag))
                moveDeadline(pickup->deadline, ms);
        }
        objects.clear(false);
    }
}

void Game::Vehicle::shiftDeadlines(uint32_t ms)
{
    // Stamps: the times measured from them go on where they stopped.
    raceStart += ms;
    lapStart += ms;
    for (uint32_t* deadline :
         {&itemTime, &overturnTime, &offWayTime, &wrongWayTime, &missedGateTime, &damageTime})
        moveDeadline(*deadline, ms);
    if (QuadInstance* quad = getQuad())
        forEachContact(*quad, [ms](Contact& contact) {
            if (contact.oiled)
                contact.oiledUntil = contact.oiledUntil + ms;
        });
    if (ObjPkgManager::Functions::AI* driver = getAIDriver())
        for (uint32_t* deadline : {&driver->refreshTime, &driver->countdownTime, &driver->reverseTime,
                                   &driver->rocketTime, &driver->nitroTime, &driver->oilTime})
            moveDeadline(*deadline, ms);
    if (ObjPkgManager::Functions::HUD* hud = getHUD()) {
        moveDeadline(hud->messageEnd, ms);
        moveDeadline(hud->lapTimeEnd, ms);
    }
    if (ObjPkgManager::Functions::VehicleCamera* camera = getCamera())
        moveDeadline(camera->stillTimer, ms);
    using Inventory = ObjPkgManager::Functions::Inventory;
    if (auto* inventory = functionOf<Inventory::Instance>(getDynObject(), Inventory::flag))
        moveDeadline(inventory->handOver, ms);
}
