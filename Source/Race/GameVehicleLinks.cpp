// What a vehicle's race state asks of the object functions of its quad and
// of the race's other objects: the head-up display, the vehicle camera, the
// fires, the rockets, the oil puddles and the gates' marks.
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"

#include "Objects/CollectGate.h"
#include "Objects/DynObject.h"
#include "Objects/HUD.h"
#include "Objects/VehicleCamera.h"
#include "Physics/neRigidBody.h"
#include "Vehicle/QuadInstance.h"

#include "Landscape/Scene.h"
#include "Render/Camera.h"
#include "Render/SwapChain.h"

#include "Core/Language.h"

namespace {

constexpr uint32_t vehicleCameraFlag = 0x4;
constexpr uint32_t gateFlag = 0x40;

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
    setCameraMode1();
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

void Game::Vehicle::setDamageFires(uint32_t on)
{
    (void)on;
}

void Game::Vehicle::setNitroFlame(uint32_t on)
{
    (void)on;
}

void Game::Vehicle::launchRocket(DynObject& rocket, QuadInstance& quad)
{
    (void)rocket, (void)quad;
}

void Game::Vehicle::spillOil(DynObject& puddle, QuadInstance& quad)
{
    (void)puddle, (void)quad;
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

void Game::removeSpentRockets() {}

void Game::updateOilPuddles() {}

void Game::resetCaptureFlag() {}

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
