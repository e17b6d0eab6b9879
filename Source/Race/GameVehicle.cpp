#include "Race/GameVehicle.h"

#include "Race/GameGate.h"
#include "Race/RaceClock.h"

#include "Objects/Cloths.h"
#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Vehicle/QuadInstance.h"

#include "Application/ControlBindings.h"
#include "Audio/AudioFile.h"
#include "Audio/Sound3D.h"
#include "Entity/StaticEntity.h"
#include "Landscape/HLod.h"
#include "Landscape/Scene.h"
#include "Render/SwapChain.h"

#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/AudioFileRef.h"
#include "Core/Matrix.h"
#include "Core/Timer.h"

#include <algorithm>
#include <cmath>

Game::Vehicle::Vehicle(Game* owner, Object* placed, uint32_t startSlot)
    : slot(startSlot), game(owner), object(placed)
{
    const int32_t number = getPlayerNumber(startSlot < 8 ? int32_t(startSlot) : -1);
    color = getPlayerColor(number - 1);
    name = getOpponentName(startSlot < 8 ? int32_t(startSlot) : -1);
    if (object)
        object->observer = this;
}

Game::Vehicle::~Vehicle()
{
    release();
}

void Game::Vehicle::release()
{
    stopNitroSound();
    if (QuadInstance* quad = getQuad(); quad && quad->vehicle == this)
        quad->bindVehicle(nullptr);
    if (object) {
        object->observer = nullptr;
        object->remove();
        delete object;
        object = nullptr;
    }
    if (nextGate)
        markGate(nextGate->item, 0);
    nextGate = nullptr;
}

void Game::Vehicle::instanceCreated(StaticEntity::Instance& instance)
{
    attachToEntity(dynamic_cast<DynObject*>(&instance));
}

void Game::Vehicle::attachToEntity(DynObject* dyn)
{
    // A new live object (perhaps where an old one was): its quad is looked up anew.
    boundObject = nullptr;
    QuadInstance* quad = quadOf(dyn);
    if (!quad)
        return;
    quad->bindVehicle(this);
    if (isPlayer)
        quad->controls = game && game->callbacks ? game->callbacks->getPlayerControls() : nullptr;
    else
        createAIDriver(dyn);
    quad->setColors(uint32_t(color.b) | uint32_t(color.g) << 8 | uint32_t(color.r) << 16 | uint32_t(color.a) << 24);
    position = dyn->worldBounds.center;
}

Game::Vehicle::QuadInstance* Game::Vehicle::quadOf(DynObject* dyn)
{
    if (!dyn || !dyn->functions)
        return nullptr;
    // A package without the quad function makes no vehicle of its object.
    DynObject::FunctionManager::Function* found = dyn->functions->find(quadFlag);
    return found ? dynamic_cast<QuadInstance*>(found->instance) : nullptr;
}

DynObject* Game::Vehicle::getDynObject() const
{
    return object ? dynamic_cast<DynObject*>(object->instance) : nullptr;
}

bool Game::Vehicle::standing(const QuadInstance& quad, float speed)
{
    const vec3d& v = quad.velocity;
    return v.x * v.x + v.z * v.z < speed * speed && quad.throttleInput() <= 0.0f;
}

bool Game::quadStanding(float speed, uint32_t now) const
{
    if (now == slowLook.now && speed == slowLook.speed)
        return slowLook.seen;
    slowLook = {now, speed, false};
    for (auto* node = vehicles.head(); node && !slowLook.seen; node = node->next) {
        const Vehicle::QuadInstance* quad = node->item ? node->item->getQuad() : nullptr;
        slowLook.seen = quad && quad->entity && Vehicle::standing(*quad, speed);
    }
    return slowLook.seen;
}

Game::Vehicle::QuadInstance* Game::Vehicle::getQuad() const
{
    // The quad found when the live object was made, while that object lives.
    StaticEntity::Instance* live = object ? object->instance : nullptr;
    if (!live)
        return nullptr;
    if (live != boundObject) {
        boundObject = live;
        boundQuad = quadOf(dynamic_cast<DynObject*>(live));
    }
    return boundQuad;
}

EntityManager::Entity* Game::Vehicle::entity() const
{
    return object ? object->instance : nullptr;
}

float Game::Vehicle::getTrackProgress() const
{
    const Way::PointList* course = game ? game->course : nullptr;
    if (!course || !wayNode || wayNode->owner != course)
        return -1.0f;
    if (indexedNode != wayNode || indexedList != course) {
        int32_t index = 0;
        for (const Way::PointNode* node = course->head(); node && node != wayNode; node = node->next)
            ++index;
        indexedNode = wayNode;
        indexedList = course;
        wayIndex = index;
    }
    const float progress = float(wayRounds) * float(course->count()) + float(wayIndex) + wayPoint.t;
    // -1 says "no way node": a quad a round behind the list's head can come
    // to it exactly.
    return progress == -1.0f ? std::nextafter(-1.0f, 0.0f) : progress;
}

float Game::Vehicle::getDrivenDistance() const
{
    const Way::PointList* course = game ? game->course : nullptr;
    if (!course || !wayNode || wayNode->owner != course)
        return 0.0f;
    float distance = 0.0f;
    for (const Way::PointNode* node = course->head(); node; node = node->next) {
        const Way::Segment* segment = node->item ? node->item->segment : nullptr;
        if (node != wayNode) {
            distance += segment ? segment->length : 0.0f;
            continue;
        }
        // Where the quad stood along the way from the nearest cross-section:
        // a straight keeps cross-sections at its ends only, and the nearest
        // one can lie half the straight from the quad.
        const vec3d offset = wayAt - wayPoint.centre;
        const float beside = offset.x * wayPoint.forward.x + offset.z * wayPoint.forward.z;
        distance += segment ? std::clamp(wayPoint.distance + beside, 0.0f, segment->length) : wayPoint.distance;
        break;
    }
    return distance + float(wayRounds) * game->courseLength;
}

namespace {

// The gate or object target: its position and minus the normalised depth
// axis of its transform.
void objectTarget(const Object& placed, const void* owner, uint32_t kind, Game::Vehicle::Target& out)
{
    matrix3d transform;
    placed.getTransform(transform, false);
    out.position = placed.getPosition();
    out.direction = -transform.row(2).normalised();
    out.lead = 0.0f;
    out.object = owner;
    out.kind = kind;
}

void gateTarget(const Game::Gate* gate, uint32_t kind, Game::Vehicle::Target& out)
{
    if (gate && gate->object)
        objectTarget(*gate->object, gate, kind, out);
}

Game::Gate* gateOf(SCList<Game::Gate>::Node* node) { return node ? node->item : nullptr; }

}

bool Game::Vehicle::hasTarget() const
{
    if (courseState == offWayWarned || courseState == wrongWayShown)
        return true;
    switch (game ? game->choice.gameMode : 0) {
    case OffRoadRace:
    case Circuit:
    case TimeTrial: return nextGate != nullptr;
    case CaptureTheFlag: return game->captureFlag != nullptr;
    case Jamboree: return game->targetGate != nullptr;
    // Out of the race, a quad heads for its parking slot, or for nothing.
    case KnockOut: return knockedOut ? parkingSlot != nullptr : nextGate != nullptr;
    default: return false;
    }
}

Game::Vehicle::Target& Game::Vehicle::getTargetPosition(Target& out) const
{
    if (courseState == offWayWarned || courseState == wrongWayShown) {
        out.position = wayPointBesideQuad().centre;
        if (courseState == wrongWayShown)
            out.position = out.position + wayPoint.forward * 200.0f;
        out.direction = wayPoint.forward;
        out.lead = 100.0f;
        out.object = &wayPoint;
        out.kind = Target::CourseGate;
        return out;
    }
    switch (game ? game->choice.gameMode : 0) {
    case OffRoadRace:
    case TimeTrial: gateTarget(gateOf(nextGate), Target::CourseGate, out); break;
    case CaptureTheFlag:
        if (!carriedItem) {
            if (game->captureFlag) {
                out.position = game->captureFlag->getPosition();
                out.direction = vec3d();
                out.lead = 0.0f;
                out.object = game->captureFlag;
                out.kind = Target::Flag;
            }
        } else {
            gateTarget(game->targetGate, Target::CourseGate, out);
        }
        break;
    case Jamboree: gateTarget(game->targetGate, Target::CourseGate, out); break;
    case KnockOut:
    case Circuit:
        if (parkingSlot)
            objectTarget(*parkingSlot, parkingSlot, Target::ParkingSlot, out);
        else
            gateTarget(gateOf(nextGate), Target::RaceGate, out);
        break;
    default: break;
    }
    return out;
}

int32_t Game::Vehicle::countVehiclesAlongside() const
{
    const EntityManager::Entity* own = entity();
    if (!own || !game)
        return 0;
    const vec3d here = own->world.row(3);
    int32_t count = 0;
    for (auto* node = game->vehicles.head(); node; node = node->next) {
        const Vehicle* other = node->item;
        const EntityManager::Entity* quad = other && other != this ? other->entity() : nullptr;
        if (!quad)
            continue;
        const float cosine = quad->world.row(0).normalised().dot((here - quad->world.row(3)).normalised());
        if (std::abs(cosine) > 0.7f)
            ++count;
    }
    return count;
}

float Game::Vehicle::getLanePreference() const
{
    const int32_t alongside = countVehiclesAlongside();
    const float f = alongside == 0 ? 0.3f : (alongside <= 2 ? 0.7f : 1.0f);
    return f * startLane + (1.0f - f) * 0.5f;
}

namespace {

float frameFactor()
{
    return gFrameFactor.load(std::memory_order_relaxed);
}

}

void Game::Vehicle::update()
{
    QuadInstance* quad = getQuad();
    if (!quad || !quad->entity)
        return;
    const EntityManager::Entity& body = *quad->entity;
    const uint32_t now = raceNow();
    if (!finished) {
        if (game->phase != 4)
            splitRaceTime(int32_t(now - lapStart), lapTime);
        splitRaceTime(int32_t(now - raceStart), raceTime);
    }
    checkGates();
    updateOverturn();
    if (!parkingSlot)
        updateCourse();
    if (nextGate && nextGate->item && nextGate->item->object)
        nextGateDistSq = (nextGate->item->object->getPosition() - body.world.row(3)).lengthSq();
    carryItem(body);
    updateRepair();
    if (quad->controls)
        useItems(*quad);
    setDamageFires(damage > 0.7f ? 1 : 0);
    position = body.worldBounds.center;
}

void Game::Vehicle::carryItem(const EntityManager::Entity& body)
{
    auto* flag = carriedItem ? dynamic_cast<DynObject*>(carriedItem->instance) : nullptr;
    if (!flag)
        return;
    matrix3d world = body.world;
    const vec3d at = world.row(3) - body.world.row(2) * 1.6f - body.world.row(0) * 0.6f + body.world.row(1) * 0.3f;
    world.setRow(3, at);
    flag->world = world;
    carriedItem->setPosition(at, false);
    // The flag's cloth blows back from the carrier's motion.
    using Cloths = ObjPkgManager::Functions::Cloths;
    if (const auto* entry = flag->functions ? flag->functions->find(Cloths::flag) : nullptr)
        if (auto* cloth = dynamic_cast<Cloths::Instance*>(entry->instance))
            cloth->windFromMotion.store(1, std::memory_order_relaxed);
    if (game->phase != 4 && passed(raceNow(), itemTime)) {
        score(1);
        itemTime += 2000;
    }
}

void Game::Vehicle::updateRepair()
{
    if (!(repairLeft > 0.0f))
        return;
    const float step = frameFactor() * 0.004f;
    if (repairLeft - step > 0.0f) {
        repairLeft -= step;
        damage -= step;
        return;
    }
    const float applied = repairLeft;
    repairLeft = 0.0f;
    setMotorFactor(1.0f);
    if (isPlayer)
        game->stopRepairSound();
    damage = std::max(0.0f, damage - applied);
}

void Game::Vehicle::useItems(QuadInstance& quad)
{
    const Control& controls = *quad.controls;
    const uint32_t rocketPressed = controls.getStrongerValue(rocketAction) > 0.0f ? 1 : 0;
    const uint32_t oilPressed = controls.getStrongerValue(oilAction) > 0.0f ? 1 : 0;
    const bool nitroPressed = controls.getStrongerValue(nitroAction) > 0.0f;
    if (rocketPressed && !rocketHeld && rockets > 0 && mayFireRocket()) {
        rockets -= 1;
        fireRocket();
    }
    if (oilPressed && !oilHeld && oil > 0) {
        oil -= 1;
        dropOil();
    }
    uint32_t burning = nitroPressed ? 1 : 0;
    if (burning) {
        nitro -= frameFactor() * 0.004f;
        if (!(nitro > 0.0f)) {
            nitro = 0.0f;
            burning = 0;
        }
    }
    if (burning != nitroOn) {
        setMotorFactor(burning ? 1.6f : 1.0f);
        setNitroFlame(burning);
        if (burning)
            startNitroSound();
        else
            stopNitroSound();
    }
    rocketHeld = rocketPressed;
    oilHeld = oilPressed;
    nitroOn = burning;
}

bool Game::Vehicle::mayFireRocket() const
{
    switch (game->choice.gameMode) {
    case CaptureTheFlag:
    case Jamboree: return game->findRival(*this, true, 0.5f) != nullptr;
    case OffRoadRace:
    case KnockOut:
    case Circuit: return place > 1;
    default: return false;
    }
}

void Game::Vehicle::startNitroSound()
{
    if (nitroSound)
        return;
    Audio::FileRef* ref = game->sounds[NitroSound];
    Audio::AudioFile* file = ref ? Audio::AudioFile::get(ref, 3, 3, 3) : nullptr;
    if (!file)
        return;
    if (file->description.dwSize == 0)
        file->setupBuffers(true, true, false, false);
    else
        file->createBuffers();
    nitroSound = new Audio::Sound3D(file);
    nitroSound->attachPosition(&position);
    nitroSound->setDistances(800.0f, 0.42f);
    nitroSound->setVolume(1.0f);
    nitroSound->play(true);
}

void Game::Vehicle::stopNitroSound()
{
    if (!nitroSound)
        return;
    nitroSound->stop();
    delete nitroSound;
    nitroSound = nullptr;
}

void Game::Vehicle::setCarriedItem(Object* item)
{
    carriedItem = item;
    itemTime = raceNow() + 1000;
    setMotorFactor(item ? 0.8f : 1.0f);
    if (!item)
        return;
    if (game->targetGate)
        markGate(game->targetGate, 1);
    else
        passGate();
}

void Game::Vehicle::setMotorFactor(float multiplier)
{
    if (QuadInstance* quad = getQuad())
        applyMotorFactor(*quad, 1.0f / ((1.0f - 0.4f * damage) * multiplier));
}

void Game::Vehicle::addDamage(float amount)
{
    if (damageTime && !passed(raceNow(), damageTime))
        return;
    damage = std::clamp(damage + amount, 0.0f, 1.0f);
    damageTime = raceNow() + 1000;
    setMotorFactor(1.0f);
}

void Game::Vehicle::repair()
{
    if (isPlayer && damage > 0.05f)
        game->playSound(RepairSound);
    repairLeft = std::min(damage, 0.5f);
}

void Game::Vehicle::enableControls(uint32_t enabled, uint32_t hold)
{
    QuadInstance* quad = getQuad();
    if (!quad || !quad->controls)
        return;
    if (!finished) {
        if (enabled)
            quad->controls->enabledActions |= Control::Steering | Control::Throttle;
        else
            quad->controls->enabledActions &= ~uint32_t(Control::Steering | Control::Throttle);
    }
    quad->setFrozen(hold);
}

namespace {

// A new object of package over the quad, always alive, given its dynamic
// object at once.
Object* placeItemObject(Game& game, int32_t package, const vec3d& at, float scale)
{
    auto* items = game.packages[package] ? dynamic_cast<ObjPkgManager::Package*>(game.packages[package]) : nullptr;
    if (!items || !game.scene)
        return nullptr;
    Object* placed = game.scene->objectPackages.createObject(items, at, scale);
    if (!placed)
        return nullptr;
    placed->setState(StaticEntity::alwaysActive);
    if (D3D::Device::SwapChain* chain = game.scene->swapChain) {
        if (chain->staticEntities)
            chain->staticEntities->updateActivation(chain->staticEntities->root);
        if (chain->farField)
            chain->farField->rerender = 1;
    }
    return placed;
}

}

void Game::Vehicle::fireRocket()
{
    QuadInstance* quad = getQuad();
    if (!quad || !quad->entity)
        return;
    const vec3d at = quad->entity->world.row(3) + vec3d(0.0f, 4.0f, 0.0f);
    Object* rocket = placeItemObject(*game, RocketPackage, at, game->vehicleScale);
    if (!rocket)
        return;
    if (auto* dyn = dynamic_cast<DynObject*>(rocket->instance))
        launchRocket(*dyn, *quad);
    game->rockets.append(rocket);
}

void Game::Vehicle::dropOil()
{
    QuadInstance* quad = getQuad();
    if (!quad || !quad->entity)
        return;
    Object* puddle = placeItemObject(*game, OilPuddlePackage, quad->entity->world.row(3), 1.0f);
    if (!puddle)
        return;
    if (auto* dyn = dynamic_cast<DynObject*>(puddle->instance))
        spillOil(*dyn, *quad);
    game->oilPuddles.append(puddle);
}
