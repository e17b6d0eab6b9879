#include "Landscape/Scene.h"

#include "Landscape/AnimatedSky.h"
#include "Landscape/FreeCamera.h"
#include "Landscape/HLod.h"
#include "Landscape/Meadow.h"
#include "Landscape/SceneView.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"

#include "Application/UserInput.h"
#include "Audio/Audio.h"
#include "Audio/SoundInterface.h"
#include "Application/WinShell.h"
#include "Entity/StaticEntityManager.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"

#include "Race/RaceClock.h"

#include "Core/CrashTrace.h"
#include "Core/Timer.h"

namespace {

// A level main file is a few kilobytes plus its preview image; anything far
// beyond is not one and is not read into memory.
constexpr uint32_t maxLevelFileSize = 64u << 20;

// The meadow's question where the ways lie, answered by the road network:
// no grass grows on the tracks that lower the ground, nor on paved roads.
class NetworkWays final : public Meadow::Ways
{
public:
    int32_t isOnWay(float x, float z) override { return int32_t(gWayNetwork.isOnWay(x, z)); }
    int32_t isOnPavement(float x, float z) override { return int32_t(gWayNetwork.isOnPavement(x, z)); }
};

NetworkWays networkWays;

}

Scene::Scene(const String& folderName, float sceneRange, Game::Interface* gameCallbacks)
    : recordsFolder((WinShell::getAppDataFolder().addBackslash() + folderName).addBackslash()), camera(this),
      terrainLayer(this, &gTerrain), range(sceneRange), game(this, gameCallbacks)
{
    weight = 1.0f;
    done = 0.0f;
    shadowManager.ground = terrainLayer.terrain;
    shadowManager.roads = &gWayNetwork;
    setDefaults();
}

Scene::~Scene() { release(); }

bool Scene::load(const String& path)
{
    CRASH_TRACE();
    if (loaded)
        return true;
    // Entries left from an earlier load, failed or not, would count twice.
    if (swapChain) {
        swapChain->clearLoadProcess();
        D3D::LoadProcessInterface* entries[] = {terrainLayer.terrain, &gWater, swapChain->staticEntities, this};
        for (D3D::LoadProcessInterface* entry : entries)
            if (entry) {
                entry->done = 0.0f;
                swapChain->loadProcesses.append(entry);
            }
        swapChain->beginLoadProcess();
    }
    const String name = path;
    FileArray bytes;
    bool opened = false;
    if (name.length() > 0)
        if (FileInterface* file = openFile(name, 0, 1, 1)) {
            opened = file->isOpen && file->size() <= maxLevelFileSize && bytes.loadFrom(*file);
            file->close();
        }
    if (!opened) {
        if (swapChain)
            swapChain->clearLoadProcess();
        return false;
    }
    setDefaults();
    const bool mainWhole = readLevel(bytes) && bytes.remaining() == 0;

    setLoadProgress(*this, 0.05f);
    objectPackages.buildPackages();
    setLoadProgress(*this, 0.4f);
    fileName = name;
    game.loadSounds();
    camera.apply();
    // A file of the level the load reads only in part (or not at all) is kept
    // as it is by a save over the level, rather than replaced by the part.
    keptFiles.clear();
    keepUnlessWhole(mainWhole, name);
    keepUnlessWhole(terrainLayer.build(), terrainLayer.mapFileName());
    gWater.init();
    const String waterFile = baseName() + L".wtr";
    keepUnlessWhole(gWater.load(swapChain, waterFile), waterFile);
    if (swapChain && swapChain->meadow) {
        swapChain->meadow->ways = &networkWays;
        const String meadowFile = baseName() + L".mdw";
        keepUnlessWhole(swapChain->meadow->load(meadowFile), meadowFile);
    }
    // The ways fit themselves to the ground just built; the terrain's first
    // patches are made after them, with their hollows.
    const String wayFile = baseName() + L".way";
    keepUnlessWhole(loadWayFile(wayFile), wayFile);
    if (terrainLayer.terrain)
        terrainLayer.terrain->startLod(swapChain);
    const String objectFile = baseName() + L".obj";
    keepUnlessWhole(objectManager.load(), objectFile);
    applyTimeOfDay();
    camera.apply();
    setLoadProgress(*this, 0.5f);
    placeCameraAtStart();
    if (swapChain) {
        swapChain->update();
        warmUp(this, 0.5f, 1.0f, 0.5f);
    }
    String records = fileName.getFileName();
    records.removeExtension();
    game.records.load(recordsFolder + records + L".rec");
    loaded = 1;
    return true;
}

String Scene::baseName() const
{
    String base = fileName;
    base.removeExtension();
    return base;
}

void Scene::applyTimeOfDay()
{
    float t = timeOfDay;
    if (!(t >= 0.0f))
        t = 0.0f;
    if (t > 255.0f)
        t = 255.0f;
    const uint8_t hour = uint8_t(int32_t(t));
    const uint8_t minute = uint8_t(int32_t((t - float(hour)) * 60.0f));
    gTimer.hour = hour > 23 ? 23 : hour;
    gTimer.minute = minute > 59 ? 59 : minute;
    gTimer.second = 0;
    gTimer.millisecond = 0;
    if (AnimatedSky* sky = swapChain ? swapChain->sky : nullptr) {
        if (!animatedSky)
            sky->release();
        else if (!sky->root)
            sky->build(&sun, -255.0f, 1.2f, 650.0f);
    }
    // The far field's pictures show the new light.
    if (swapChain && swapChain->farField)
        swapChain->farField->rerender = 1;
}

void Scene::pause()
{
    if (!swapChain || pausedByScene)
        return;
    gTimer.paused = 1;
    gTimer.savedFactor = gFrameFactor.load();
    gFrameFactor.store(0.0f);
    gFrameTime.store(0.0f);
    gFramesPerSecond.store(0);
    pausedByScene = 1;
    // The bodies stand where they are and the sounds fall silent: engines,
    // fires and splashes would otherwise go on behind the pause screen.
    if (EntityManager::PhysicsManager* physics = terrainLayer.physicsManager())
        physics->paused = 1;
    Audio::SoundInterface::pauseAll();
    game.pauseClock(raceNow());
}

void Scene::resume()
{
    // A resume without a pause would give the race clock time it never lost.
    if (!swapChain || !pausedByScene)
        return;
    gTimer.paused = 0;
    pausedByScene = 0;
    // The deadlines move while the physics still stands: it reads the
    // wheels' oiled times.
    game.resumeClock(raceNow());
    if (EntityManager::PhysicsManager* physics = terrainLayer.physicsManager())
        physics->paused = 0;
    Audio::SoundInterface::resumeAll();
}

void Scene::updateCamera()
{
    CRASH_TRACE();
    if (swapChain)
        sun.update(gTimer, swapChain->sun, season, 1.0f, 1.0f);
    if (camera.mode == SceneCamera::freeMode)
        FreeCamera::update(camera);
    else if (camera.mode == SceneCamera::pathMode && camera.path && swapChain)
        camera.path->updateView(*swapChain, gFrameFactor.load());
    // A job change of the object functions' worker holds it until now.
    objectPackages.threads.resumeHeld();
    runTours();
}

void Scene::clear()
{
    CRASH_TRACE();
    if (!loaded)
        return;
    // The race goes with its sounds while the objects it holds still exist.
    game.releaseSounds();
    if (terrainLayer.terrain)
        terrainLayer.terrain->clear();
    terrainLayer.releaseBarriers();
    if (swapChain && swapChain->meadow)
        swapChain->meadow->clear();
    gWater.clear();
    if (swapChain && swapChain->staticEntities)
        swapChain->staticEntities->clear();
    gWayNetwork.clearWays();
    Audio::releaseAll();
    shadowManager.releaseSectors();
    loaded = 0;
}

void Scene::release()
{
    CRASH_TRACE();
    if (!swapChain)
        return;
    objectPackages.threads.stop();
    if (HLod* farField = swapChain->farField; farField && farField->objects == &objectManager)
        farField->objects = nullptr;
    clear();
    // The packages' meshes and lights hold device objects: they go while
    // the device lives, after the objects that show them.
    if (swapChain->staticEntities)
        swapChain->staticEntities->clear();
    cameraObjects = nullptr;
    cameraType = nullptr;
    objectPackages.clear();
    // Barriers built outside a load go too, while their body's physics lives.
    terrainLayer.releaseBarriers();
    shadowManager.releaseSectors();
    WayModelerSet::destroy();
    gWayNetwork.clear();
    lightTexture.release();
    // The dome tells this scene's sun of its colours; it goes with the scene.
    if (AnimatedSky* sky = swapChain->sky; sky && sky->listener == &sun)
        sky->release();
    swapChain = nullptr;
}

void Scene::setLoadProgress(D3D::LoadProcessInterface& entry, float p)
{
    if (swapChain)
        swapChain->advanceLoadProcess(entry, p);
}

void Scene::warmUp(D3D::LoadProcessInterface* entry, float base, float end, float span)
{
    CRASH_TRACE();
    auto progress = [&](float p) {
        if (entry)
            setLoadProgress(*entry, p);
    };
    gTimer.update(1);
    gUserInput.update();
    progress(base + span * 0.1f);
    // One hand-over with the physics: the loaded bodies take their first
    // step and the entities their poses before the first frame.
    if (swapChain && swapChain->entities)
        swapChain->entities->physicsManager->update();
    progress(base + span * 0.3f);
    if (swapChain && swapChain->viewRecord)
        updateSky(*swapChain->viewRecord);
    progress(base + span * 0.5f);
    gWater.update(1);
    progress(base + span * 0.7f);
    if (swapChain && gDevice) {
        swapChain->beginFrame();
        gDevice->BeginScene();
        if (swapChain->meadow)
            swapChain->meadow->render(0);
        gWater.render(*swapChain);
        gDevice->EndScene();
    }
    progress(end);
}
