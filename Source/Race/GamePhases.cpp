// The race's frame: the intro flight, the countdown, the running race and
// its end; the start and give-up of vehicles; the race's sounds loaded and
// released; and the release of a race for the menu.
#include "Race/Game.h"

#include "Race/AIDriver.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Application/Globals.h"
#include "Audio/AudioFile.h"
#include "Audio/Sound2D.h"
#include "Entity/StaticEntity.h"
#include "Landscape/CameraPath.h"
#include "Landscape/Scene.h"
#include "Objects/ObjectPackage.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"
#include "Vehicle/QuadInstance.h"

#include "Core/AudioFileRef.h"
#include "Core/CrashTrace.h"
#include "Core/ResourceManager.h"

namespace {

constexpr const wchar_t* soundNames[Game::soundCount] = {L"SNDStart",  L"SNDDing",  L"SNDGateOK", L"SNDWrongGate",
                                                         L"SNDRepair", L"SNDNitro", L"SNDWrongWay"};

// An object taken out of the race (state 255, hidden) or given back.
void hideObject(StaticEntity& object, uint32_t hide)
{
    object.setState(hide ? StaticEntity::instanceFlagged : 0);
    if (object.instance)
        object.instance->hidden = hide;
}

}

void Game::update()
{
    CRASH_TRACE();
    if (paused)
        return;
    ++frame;
    const uint32_t now = raceNow();
    switch (phase) {
    case 1:
        if (scene && scene->camera.path && scene->camera.path->finished) {
            phase = 2;
            startTime = now + 3000;
            for (auto* node = vehicles.head(); node; node = node->next) {
                node->item->raceStart = node->item->lapStart = startTime;
                node->item->update();
            }
            followPlayer();
        }
        break;
    case 2: {
        if (now >= startTime || raceOver) {
            phase = 3;
            startVehicles();
            if (!raceOver)
                playSound(StartSound);
        }
        RaceTime countdown;
        splitRaceTime(int32_t(now - startTime), countdown);
        if (countdown.seconds != lastCountdownSecond)
            playSound(DingSound);
        lastCountdownSecond = countdown.seconds;
        break;
    }
    case 3:
        if (raceOver) {
            phase = 4;
            raceOver = 0;
        }
        break;
    default: break;
    }
    rankVehicles();
    for (auto* node = vehicles.head(); node; node = node->next)
        node->item->update();
    if (choice.gameMode == Jamboree)
        scoreTargetGate();
    if (choice.gameMode == KnockOut)
        endKnockOutRounds();
    removeSpentRockets();
    updateOilPuddles();
}

void Game::steerBetweenPieces()
{
    if (paused)
        return;
    const float factor = pieceFactor();
    for (auto* node = vehicles.head(); node; node = node->next) {
        if (ObjPkgManager::Functions::AI* driver = node->item->getAIDriver())
            driver->driveBetweenPieces();
        if (Vehicle::QuadInstance* quad = node->item->getQuad())
            quad->drivePiece(factor);
    }
}

void Game::pauseClock(uint32_t now)
{
    paused = 1;
    pausedAt = now;
}

void Game::resumeClock(uint32_t now)
{
    paused = 0;
    shiftDeadlines(now - pausedAt);
}

void Game::startVehicles()
{
    for (auto* node = vehicles.head(); node; node = node->next) {
        node->item->enableControls(1, 0);
        node->item->drivenAtStart = node->item->getDrivenDistance();
    }
}

void Game::giveUpRace()
{
    Vehicle* player = getPlayerVehicle();
    if (!player)
        return;
    player->finish();
    player->finishOrder = Vehicle::gaveUp;
    switch (choice.gameMode) {
    case OffRoadRace:
    case KnockOut:
    case Circuit:
    case TimeTrial:
        player->place = 99;
        splitRaceTime(noTime, player->raceTime);
        break;
    case CaptureTheFlag:
    case Jamboree:
        player->place = 99;
        player->points = -1;
        break;
    default: break;
    }
    rankVehicles();
}

void Game::loadSounds()
{
    releaseSounds();
    for (int32_t i = 0; i < soundCount; ++i)
        sounds[i] = gResourceManager ? ResourceManager::createSoundSource(gResourceManager->find(String(soundNames[i])))
                                     : nullptr;
}

void Game::releaseSounds()
{
    stopRepairSound();
    stopWrongWaySound();
    for (Audio::FileRef*& ref : sounds) {
        if (!ref)
            continue;
        Audio::AudioFile::unloadByRef(*ref);
        ref->release();
        delete ref;
        ref = nullptr;
    }
    clearRace();
}

void Game::clearRace()
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = scene ? scene->swapChain : nullptr;
    EntityManager* entities = chain ? chain->entities : nullptr;
    if (!entities)
        return;
    stopRepairSound();
    stopWrongWaySound();
    if (captureFlag) {
        hideCaptureFlag(0);
        hideCaptureFlag(1);
        captureFlag = nullptr;
    }
    hideParkingSlots(1);
    hidePodium(1);
    if (targetGate) {
        targetGate->setMarked(0);
        targetGate = nullptr;
    }
    targetPasser = nullptr;
    // The physics thread steps the quads of the vehicles: it is held at the
    // end of its batch until they are gone.
    EntityManager::PhysicsManager* physics = entities->physicsManager.get();
    if (physics)
        physics->waitForStepEnd();
    removeItemObjects();
    vehicles.deleteAll();
    parkingSlots.clear(false);
    if (physics)
        physics->stepState = 3;
    gates.deleteAll();
    for (RaceTime& split : records.splits)
        split = RaceTime{};
    phase = 0;
    raceOver = 0;
    course = nullptr;
    choice.championship = 0;
    hideItems(1);
    setCameraRaceFlag(0);
}

void Game::removeRaceVehicles()
{
    if (packages[PlayerSlotPackage] && scene && scene->swapChain && scene->swapChain->staticEntities) {
        SCList<StaticEntity> slots;
        StaticEntityManager::collectByObject(scene->swapChain->staticEntities->root, packages[PlayerSlotPackage], slots);
        for (auto* node = slots.head(); node; node = node->next)
            hideObject(*node->item, 0);
        slots.clear(false);
    }
    if (scene && scene->camera.mode != SceneCamera::freeMode) {
        if (scene->camera.mode == SceneCamera::vehicleMode)
            unfollowPlayer();
        scene->camera.mode = SceneCamera::freeMode;
        scene->camera.apply();
    }
    EntityManager::PhysicsManager* world = physics();
    if (world)
        world->waitForStepEnd();
    removeItemObjects();
    vehicles.deleteAll();
    targetPasser = nullptr;
    if (world)
        world->stepState = 3;
}

void Game::releaseParkingSlots()
{
    for (auto* node = parkingSlots.head(); node; node = node->next)
        hideObject(*node->item, 0);
    parkingSlots.clear(false);
}

void Game::collectObjects(int32_t package, SCList<StaticEntity>& out) const
{
    D3D::Device::SwapChain* chain = scene ? scene->swapChain : nullptr;
    if (!packages[package] || !chain || !chain->staticEntities)
        return;
    StaticEntityManager::collectByObject(chain->staticEntities->root, packages[package], out);
}

void Game::hideObjects(int32_t package, uint32_t hide)
{
    SCList<StaticEntity> objects;
    collectObjects(package, objects);
    for (auto* node = objects.head(); node; node = node->next)
        hideObject(*node->item, hide);
    objects.clear(false);
}

void Game::hideItems(uint32_t hide)
{
    if (!packages[NitroPackage] || !packages[RepairKitPackage] || !packages[RocketPackPackage] ||
        !packages[OilPackage])
        return;
    for (int32_t package : {NitroPackage, RepairKitPackage, RocketPackPackage, OilPackage})
        hideObjects(package, hide);
}

void Game::hideParkingSlots(uint32_t hide)
{
    hideObjects(PlayerParkingSlotPackage, hide);
}

void Game::hidePodium(uint32_t hide)
{
    hideObjects(PodiumPackage, hide);
}

void Game::hideCaptureFlag(uint32_t hide)
{
    if (!captureFlag)
        return;
    hideObject(*captureFlag, hide);
    if (hide)
        return;
    captureFlag->setPosition(captureFlagHome, true);
    resetCaptureFlag();
}

void Game::setCameraRaceFlag(uint32_t on)
{
    if (scene && scene->cameraType)
        scene->cameraType->raceFlag = on;
}
