// A race made from the loaded scene's objects: the player slots give the
// grid and its vehicles, the gates the course, Start and Goal close it; the
// flag, parking slots and podium serve their modes; target times and the
// intro flight open it.
#include "Race/Game.h"

#include "Race/GameGate.h"
#include "Race/GameVehicle.h"

#include "Entity/StaticEntity.h"
#include "Landscape/CameraPath.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"
#include "Way/WayNetwork.h"
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"
#include "Vehicle/QuadInstance.h"

#include "Core/CrashTrace.h"
#include "Core/Matrix.h"

#include <windows.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

// Inserts object into list by its number: after the last whose number is
// lower, before the first whose number is equal or higher.
template <class T>
void insertByNumber(SCList<T>& list, T* item, uint8_t (*number)(const T&))
{
    typename SCList<T>::Node* after = nullptr;
    for (auto* node = list.head(); node && number(*node->item) < number(*item); node = node->next)
        after = node;
    if (after)
        list.insertAfter(after, item);
    else
        list.prepend(item);
}

uint8_t slotNumber(const StaticEntity& object)
{
    return object.flag;
}

uint8_t gateNumber(const Game::Gate& gate)
{
    return gate.object ? gate.object->state : 0;
}

// A row (x, y, z) turned about the vertical by degrees.
vec3d turnedAboutVertical(const vec3d& r, float degrees)
{
    const float a = degrees * 3.14159265f / 180.0f, c = std::cos(a), s = std::sin(a);
    return {r.x * c + r.z * s, r.y, -r.x * s + r.z * c};
}

vec3d turnedAboutZ(const vec3d& r, float degrees)
{
    const float a = degrees * 3.14159265f / 180.0f, c = std::cos(a), s = std::sin(a);
    return {r.x * c - r.y * s, r.x * s + r.y * c, r.z};
}

void turnRows(matrix3d& m, vec3d (*turn)(const vec3d&, float), float degrees)
{
    for (int row = 0; row < 3; ++row)
        m.setRow(row, turn(m.row(row), degrees));
}

}

void Game::setupRace()
{
    CRASH_TRACE();
    if (phase != 0)
        return;
    applyModeRules(choice);
    // The projection of the last race says nothing of this one.
    estimate = 0;
    estimateDue = 0;
    knockOuts = 0;
    findCourse();
    createVehicles();
    findCaptureFlag();
    setCameraRaceFlag(1);
    if (choice.gameMode == KnockOut)
        collectParkingSlots();
    if (choice.items == 0)
        hideItems(1);
    switch (choice.gameMode) {
    case OffRoadRace:
    case KnockOut:
    case Circuit:
    case TimeTrial:
        setupGates(0);
        hideCaptureFlag(1);
        hideParkingSlots(1);
        hidePodium(1);
        for (auto* node = vehicles.head(); node; node = node->next) {
            if (choice.courseType == 2 && gates.tail())
                node->item->lastGate = gates.tail()->item;
            node->item->passGate();
        }
        break;
    case CaptureTheFlag: setupGates(-1); break;
    case Jamboree:
        setupGates(-1);
        hideCaptureFlag(1);
        pickTargetGate(-1, nullptr);
        break;
    default: break;
    }
    bringPickUpsToLife();
    phase = 1;
    for (auto* node = vehicles.head(); node; node = node->next)
        node->item->enableControls(1, 1);
    setupIntroCamera();
    if (EntityManager* entities = scene && scene->swapChain ? scene->swapChain->entities : nullptr) {
        if (entities->physicsManager)
            entities->physicsManager->stepOnce();
        if (StaticEntityManager* statics = scene->swapChain->staticEntities)
            statics->updateActivation(statics->root);
    }
    if (choice.gameMode == TimeTrial && choice.championship)
        makeTargetTimes(5, choice.goal);
    if (callbacks)
        callbacks->setCursorShown(false);
}

void Game::applyModeRules(RaceChoice& race)
{
    if (race.gameMode == TimeTrial) {
        race.vehicleCount = 1;
        if (race.courseType == 1 || race.courseType == 2)
            race.goal = 3;
        else if (race.courseType == 3)
            race.goal = 1;
    } else if (race.gameMode == KnockOut) {
        race.goal = race.vehicleCount - 1;
    }
}

bool Game::canRace() const
{
    const Terrain* ground = scene ? scene->terrainLayer.terrain : nullptr;
    if (!scene || !scene->loaded || !ground || !ground->isLoaded() || !packages[QuadPackage])
        return false;
    SCList<StaticEntity> slots;
    collectObjects(PlayerSlotPackage, slots);
    const bool grid = slots.head() != nullptr;
    slots.clear(false);
    return grid && courseAtStart() && coursePassable();
}

// A package cut short, or of bytes that are no package, may read no part:
// its objects stand with no box, and a quad passes them never. The course
// needs every gate, Start and Goal the map places passable, and a gate.
bool Game::coursePassable() const
{
    int32_t gateCount = 0;
    bool passable = true;
    for (int32_t package : {GatePackage, StartPackage, GoalPackage}) {
        SCList<StaticEntity> found;
        collectObjects(package, found);
        for (auto* node = found.head(); node; node = node->next) {
            const auto* object = dynamic_cast<const Object*>(node->item);
            Gate::Window window{BoundingBox{}, matrix3d::identity()};
            passable = passable && object && Gate::windowOf(*object, window) && window.passable();
            gateCount += package == GatePackage ? 1 : 0;
        }
        found.clear(false);
    }
    return passable && gateCount > 0;
}

Way::PointList* Game::courseAtStart() const
{
    SCList<StaticEntity> starts;
    collectObjects(StartPackage, starts);
    Way::PointList* road = nullptr;
    if (starts.head()) {
        const vec3d at = starts.head()->item->getPosition();
        road = gWayNetwork.findSegmentAt(vec2d(at.x, at.z));
    }
    starts.clear(false);
    return road;
}

void Game::findCourse()
{
    course = courseAtStart();
    courseLength = 0.0f;
    if (!course)
        return;
    for (auto* node = course->head(); node; node = node->next)
        if (node->item && node->item->segment)
            courseLength += node->item->segment->length;
}

void Game::createVehicles()
{
    auto* quads = packages[QuadPackage] ? dynamic_cast<ObjPkgManager::Package*>(packages[QuadPackage]) : nullptr;
    if (!quads || !scene)
        return;
    SCList<StaticEntity> found;
    collectObjects(PlayerSlotPackage, found);
    SCList<StaticEntity> slots;
    for (auto* node = found.head(); node; node = node->next)
        insertByNumber(slots, node->item, slotNumber);
    found.clear(false);
    // The standings and the display hold eight vehicles at most.
    const int32_t wanted = std::min(choice.vehicleCount, int32_t(maxRanked));
    int32_t i = 0;
    for (auto* node = slots.head(); node; node = node->next, ++i) {
        StaticEntity& slot = *node->item;
        if (i < wanted) {
            if (Object* placed = scene->objectPackages.createObject(quads, slot.getPosition(), vehicleScale)) {
                auto* vehicle = new Vehicle(this, placed, uint32_t(i));
                if (const auto* marker = dynamic_cast<const Object*>(&slot))
                    placed->rotation = marker->rotation;
                placed->setState(StaticEntity::alwaysActive);
                if (placed->instance) {
                    matrix3d world = placed->instance->world;
                    placed->instance->place(*placed, world);
                }
                vehicle->wayNode = course ? course->head() : nullptr;
                if (i == 0) {
                    vehicle->isPlayer = 1;
                    if (callbacks) {
                        vehicle->name = callbacks->getSettingNameGame();
                        vehicle->color = callbacks->getSettingCharGame();
                    }
                }
                vehicles.append(vehicle);
                if (placed->instance)
                    vehicle->attachToEntity(dynamic_cast<DynObject*>(placed->instance));
            }
        }
        slot.setState(StaticEntity::instanceFlagged);
        if (slot.instance)
            slot.instance->hidden = 1;
    }
    slots.clear(false);
    if (StaticEntityManager* statics = scene->swapChain ? scene->swapChain->staticEntities : nullptr) {
        if (Vehicle* first = vehicles.head() ? vehicles.head()->item : nullptr; first && first->object)
            statics->referencePoint = first->object->getPosition();
        statics->updateActivation(statics->root);
    }
    if (choice.courseType == 2 || choice.courseType == 3) {
        for (auto* node = vehicles.head(); node; node = node->next) {
            Vehicle& vehicle = *node->item;
            vehicle.updateCourse();
            if (const EntityManager::Entity* quad = vehicle.entity())
                vehicle.startLane = wayDistanceRatio(quad->world.row(3), vehicle.wayPointBesideQuad());
        }
    }
}

void Game::placePlayerQuad()
{
    CRASH_TRACE();
    auto* quads = packages[QuadPackage] ? dynamic_cast<ObjPkgManager::Package*>(packages[QuadPackage]) : nullptr;
    if (!quads || !scene || !scene->loaded)
        return;
    SCList<StaticEntity> podiums;
    collectObjects(PodiumPackage, podiums);
    auto* podium = podiums.head() ? dynamic_cast<Object*>(podiums.head()->item) : nullptr;
    podiums.clear(false);
    if (!podium)
        return;
    matrix3d transform;
    podium->getTransform(transform, true);
    vec3d at = transform.row(3) + transform.row(2).normalised() * 5.0f;
    at.y = gTerrain.getHeight(at.x, at.z, 3);
    Object* placed = scene->objectPackages.createObject(quads, at, vehicleScale);
    if (!placed)
        return;
    auto* vehicle = new Vehicle(this, placed, 0);
    vehicle->isPlayer = 1;
    if (callbacks) {
        vehicle->name = callbacks->getSettingNameGame();
        vehicle->color = callbacks->getSettingCharGame();
    }
    const vec3d toPodium = transform.row(3) - at;
    placed->rotation = std::atan2(toPodium.x, toPodium.z) * 180.0f / 3.14159265f + 220.0f;
    placed->setState(StaticEntity::alwaysActive);
    vehicles.append(vehicle);
    // Made now rather than at the scene's next activation, turned as above;
    // its vehicle takes it as it is made.
    if (!placed->instance)
        placed->instance = placed->createInstance();
    // Its wheels stand on the ground rather than its centre in it.
    if (Vehicle::QuadInstance* quad = vehicle->getQuad())
        quad->placeOnTerrain(at, nullptr);
}

void Game::findCaptureFlag()
{
    SCList<StaticEntity> flags;
    collectObjects(CaptureFlagPackage, flags);
    captureFlag = flags.head() ? dynamic_cast<Object*>(flags.head()->item) : nullptr;
    if (captureFlag)
        captureFlagHome = captureFlag->getPosition();
    flags.clear(false);
}

void Game::bringPickUpsToLife()
{
    for (int32_t package : {NitroPackage, RepairKitPackage, RocketPackPackage, OilPackage, CaptureFlagPackage}) {
        SCList<StaticEntity> items;
        collectObjects(package, items);
        for (auto* node = items.head(); node; node = node->next) {
            StaticEntity& item = *node->item;
            // Taken out of the race.
            if (item.state == StaticEntity::instanceFlagged)
                continue;
            // As a pick-up's own function keeps it once it lives; the
            // activation walks then never take it away.
            item.setState(StaticEntity::alwaysActive);
            if (!item.instance)
                item.instance = item.createInstance();
        }
        items.clear(false);
    }
}

void Game::collectParkingSlots()
{
    parkingSlots.clear(false);
    SCList<StaticEntity> found;
    collectObjects(PlayerParkingSlotPackage, found);
    SCList<StaticEntity> sorted;
    for (auto* node = found.head(); node; node = node->next) {
        node->item->setState(StaticEntity::instanceFlagged);
        if (node->item->instance)
            node->item->instance->hidden = 1;
        insertByNumber(sorted, node->item, slotNumber);
    }
    for (auto* node = sorted.head(); node; node = node->next)
        if (auto* slot = dynamic_cast<Object*>(node->item))
            parkingSlots.append(slot);
    found.clear(false);
    sorted.clear(false);
}

void Game::setupGates(int32_t group)
{
    SCList<StaticEntity> found, starts, goals;
    collectObjects(GatePackage, found);
    collectObjects(StartPackage, starts);
    collectObjects(GoalPackage, goals);
    Object* start = starts.head() ? dynamic_cast<Object*>(starts.head()->item) : nullptr;
    Object* goal = goals.head() ? dynamic_cast<Object*>(goals.head()->item) : nullptr;
    targetGate = nullptr;
    gates.deleteAll();
    for (auto* node = found.head(); node; node = node->next) {
        auto* object = dynamic_cast<Object*>(node->item);
        if (object && (group == -1 || object->flag == uint32_t(group)))
            insertByNumber(gates, new Gate(this, object), gateNumber);
    }
    if (choice.courseType == 3 && start)
        gates.append(new Gate(this, start));
    if (choice.courseType == 2 && goal)
        gates.append(new Gate(this, goal));
    if (choice.courseType == 3 && start && goal) {
        goalDistance = courseDistanceOf(goal->getPosition());
        startDistance = courseDistanceOf(start->getPosition());
    }
    found.clear(false);
    starts.clear(false);
    goals.clear(false);
}

void Game::makeTargetTimes(int32_t count, int32_t laps)
{
    count = std::max(0, std::min(count, 8));
    const int32_t t = raceTimeMilliseconds(referenceTime);
    const int32_t u = t / 100;
    int32_t order[8] = {};
    for (int32_t i = 0; i < count; ++i) {
        bool drawn = true;
        while (drawn) {
            order[i] = std::rand() % count;
            drawn = false;
            for (int32_t j = 0; j < i; ++j)
                drawn = drawn || order[j] == order[i];
        }
    }
    int32_t low = 0, step = 0;
    switch (choice.difficulty) {
    case 0: low = t + 3 * u, step = 3 * u; break;
    case 1: low = t + int32_t(1.5f * float(u)), step = (t + 3 * u) - low; break;
    case 2: low = t, step = int32_t(1.5f * float(u)); break;
    default: break;
    }
    for (int32_t i = 0; i < count; ++i)
        splitRaceTime((order[i] * step + low) * laps, targetTimes[i]);
    targetTimeCount = uint32_t(count);
}

void Game::setupIntroCamera()
{
    Vehicle* player = getPlayerVehicle();
    SCList<StaticEntity> starts;
    collectObjects(StartPackage, starts);
    auto* start = starts.head() ? dynamic_cast<Object*>(starts.head()->item) : nullptr;
    starts.clear(false);
    const EntityManager::Entity* quad = player ? player->entity() : nullptr;
    if (!start || !quad || !scene)
        return;
    matrix3d m = matrix3d::identity();
    start->getTransform(m, false);
    const vec3d p = m.row(3);
    matrix3d a = m;
    turnRows(a, turnedAboutVertical, 90.0f);
    matrix3d first = a;
    first.setRow(3, p + (a.row(2) - a.row(0)) * 10.0f + a.row(1) * 5.0f);
    turnRows(first, turnedAboutZ, -20.0f);
    turnRows(first, turnedAboutVertical, 110.0f);
    matrix3d second = a;
    second.setRow(3, p + a.row(0) * 14.0f + a.row(2) * 10.0f + a.row(1) * 7.0f);
    turnRows(second, turnedAboutZ, -20.0f);
    turnRows(second, turnedAboutVertical, 215.0f);
    cameraPath.reset(3.0f);
    cameraPath.build(first);
    cameraPath.build(second);
    matrix3d last = matrix3d::identity();
    if (chaseView(*player, last))
        cameraPath.build(last);
    if (scene->camera.mode == SceneCamera::vehicleMode)
        unfollowPlayer();
    scene->camera.path = &cameraPath;
    scene->camera.mode = SceneCamera::pathMode;
    scene->camera.apply();
}
