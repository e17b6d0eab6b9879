#include "Race/AIDriver.h"

#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Physics/EntityPhysics.h"
#include "Vehicle/QuadInstance.h"

#include "Entity/StaticEntity.h"
#include "Entity/StaticEntityManager.h"
#include "Landscape/Scene.h"
#include "Render/SwapChain.h"
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/DynArray.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

using AI = ObjPkgManager::Functions::AI;
using Path = ObjPkgManager::Functions::Path;

float randomFraction()
{
    return float(std::rand()) / 32767.0f;
}

// 1 to 15 whole seconds from now, at random.
uint32_t itemDelay(uint32_t now)
{
    return now + 1000u + uint32_t(std::rand() % 15) * 1000u;
}

vec3d horizontal(const vec3d& v)
{
    return vec3d(v.x, 0.0f, v.z);
}

// The path point type of a target kind: gate 4, flag 5, a gate reached
// along the road 7, parking slot 8.
uint32_t pointTypeOf(uint32_t kind)
{
    switch (kind) {
    case Game::Vehicle::Target::Flag: return Path::FlagTarget;
    case Game::Vehicle::Target::RaceGate: return Path::RoadGateTarget;
    case Game::Vehicle::Target::ParkingSlot: return Path::ParkingSlotTarget;
    default: return Path::GateTarget;
    }
}

bool holds(const Way::PointNode* node, const vec3d& point)
{
    const Way::Segment* segment = Way::segmentOf(node);
    return segment && segment->holds(point);
}

// Whether point lies on the way from the node from on towards target, before
// the segment that holds the target or on it: a pick-up there is fetched
// without leaving the way. A closed course's list is walked round once.
bool liesOnTheWayAhead(const Way::PointNode* from, const vec3d& point, const vec3d& target)
{
    const Way::PointList* list = from->owner;
    const Way::PointNode* node = from;
    for (int32_t i = 0; list && node && i < list->count(); ++i) {
        if (holds(node, point))
            return true;
        if (holds(node, target))
            return false;
        node = node->next ? node->next : list->head();
    }
    return false;
}

// A perspective projection for a driver's view when the swap chain has
// none yet: 60 degrees high, 4:3, from 1 to 4000 units.
matrix3d defaultProjection()
{
    matrix3d p{};
    const float yScale = 1.0f / std::tan(3.14159265f / 6.0f);
    const float nearZ = 1.0f, farZ = 4000.0f;
    p.m[0] = yScale * 0.75f;
    p.m[5] = yScale;
    p.m[10] = farZ / (farZ - nearZ);
    p.m[11] = 1.0f;
    p.m[14] = -nearZ * farZ / (farZ - nearZ);
    return p;
}

}

AI::AI(Scene* raceScene, DynObject* driven) : scene(raceScene), object(driven), path(driven)
{
    controls.keyboardSet.keys[4] = &fireRocket;
    controls.keyboardSet.keys[5] = &dropOil;
    controls.keyboardSet.keys[6] = &useNitro;
    controls.keyboardSet.axes[0] = &steering;
    controls.keyboardSet.axes[1] = &throttle;
    controls.steeringMode = 2;
}

AI::~AI()
{
    // The quad may outlive its driver (the driver removed alone): it must
    // not keep reading a record that goes now.
    DynObject::FunctionManager::Function* entry =
        object && object->functions ? object->functions->find(DynObject::FunctionManager::quadFlag) : nullptr;
    auto* quad = entry ? dynamic_cast<QuadPhysics::Instance*>(entry->instance) : nullptr;
    if (quad && quad->controls == &controls)
        quad->controls = nullptr;
}

Game* AI::game() const
{
    return scene ? &scene->game : nullptr;
}

Game::Vehicle* AI::vehicle() const
{
    DynObject::FunctionManager::Function* entry =
        object && object->functions ? object->functions->find(DynObject::FunctionManager::quadFlag) : nullptr;
    auto* quad = entry ? dynamic_cast<QuadPhysics::Instance*>(entry->instance) : nullptr;
    return quad ? quad->vehicle : nullptr;
}

vec3d AI::position() const
{
    return object ? object->world.row(3) : vec3d();
}

void AI::onCollision(EntityManager::Physics::Collision& collision)
{
    contact.store(1, std::memory_order_relaxed);
    if (collision.otherType == EntityManager::Physics::rigidContact && collision.otherOwner)
        lastHit.store(collision.otherOwner, std::memory_order_relaxed);
}

void AI::clearStuckTimers()
{
    reverseState = 0;
    reverseTime = 0;
}

bool AI::isStalled() const
{
    // getSpeed is already the distance per 1/35 s: scaled once more by the
    // frame factor the bar would rise with the square of a frame's length,
    // and at seven frames a second a quad climbing at a third of its speed
    // would back out.
    return object && object->getSpeed() < 0.25f;
}

bool AI::targetPlane(TargetPlane& out) const
{
    const Game::Vehicle* own = vehicle();
    if (!own || !object || !own->hasTarget())
        return false;
    Game::Vehicle::Target target;
    own->getTargetPosition(target);
    const vec3d h = horizontal(target.position - position());
    const float distance = h.length();
    const vec3d towards = h.normalised();
    vec3d normal;
    float offset = 0.0f;
    if (target.direction == vec3d()) {
        normal = -towards;
    } else {
        vec3d direction = target.direction;
        if (direction.dot(towards) > 0.0f)
            direction = -direction;
        const float w = std::clamp((800.0f - distance) / 800.0f, 0.0f, 1.0f);
        normal = direction * (1.0f - w) + (-towards) * w;
        offset = 120.0f;
    }
    out.plane.normal = normal;
    out.plane.point = target.position;
    out.plane.distance = normal.dot(target.position);
    out.approachPoint = target.position + normal * offset;
    out.kind = pointTypeOf(target.kind);
    out.target = target.object;
    return true;
}

const void* AI::readTarget(vec3d& start, TargetPlane& plane) const
{
    if (!targetPlane(plane))
        return nullptr;
    start = position();
    return plane.target;
}

bool AI::replan(bool force)
{
    vec3d start;
    TargetPlane plane;
    const void* target = readTarget(start, plane);
    const Game::Vehicle* own = vehicle();
    if (!target || !own)
        return false;
    const bool built =
        path.build(detourActive ? &detourPoint : nullptr, start, target, plane.approachPoint, plane.plane.point,
                   plane.plane.normal, plane.kind, force, own->wayNode, own->getLanePreference());
    if (built)
        needsPath = 0;
    return built;
}

void AI::update()
{
    Game* race = game();
    Game::Vehicle* own = vehicle();
    if (!race || !own || !object)
        return;
    const uint32_t now = raceNow();
    if (race->phase == 1 || race->phase == 2)
        revOnGrid(now);
    else if (race->phase == 3 || race->phase == 4)
        drive(*race, *own, now, true);
}

void AI::driveBetweenPieces()
{
    Game* race = game();
    Game::Vehicle* own = vehicle();
    if (race && own && object && (race->phase == 3 || race->phase == 4))
        drive(*race, *own, raceNow(), false);
}

void AI::revOnGrid(uint32_t now)
{
    switch (countdownState) {
    case 0:
        countdownTime = now + 300u + uint32_t(std::rand() % 5) * 500u;
        countdownState = 1;
        break;
    case 1:
        if (passed(now, countdownTime)) {
            countdownState = 2;
            countdownTime = now + 500u + uint32_t(std::rand() % 500);
            throttle = 0.5f + 0.5f * randomFraction();
        }
        break;
    default:
        if (passed(now, countdownTime)) {
            countdownState = 0;
            throttle = 0.0f;
        }
        break;
    }
}

void AI::drive(Game& race, Game::Vehicle& own, uint32_t now, bool wholeFrame)
{
    // Most frames the quad hit no other: a plain read, no exchange.
    if (wholeFrame)
        touchedQuad = lastHit.load(std::memory_order_relaxed) ? lastHit.exchange(nullptr, std::memory_order_relaxed)
                                                               : nullptr;
    const vec3d here = position();
    const Game::Vehicle* ahead = race.findRival(own, true, 0.8f);
    const QuadPhysics::Instance* quad = own.getQuad();
    const float speed = quad ? float(quad->getSpeed()) : 0.0f;
    float distAhead = 1000.0f;
    if (const EntityManager::Entity* other = ahead ? ahead->entity() : nullptr)
        distAhead = (other->world.row(3) - here).length();
    const int32_t courseType = race.choice.courseType;
    const bool alongRoads = courseType == 2 || courseType == 3;
    const float deviationLimit = courseType == 1 ? 600.0f : alongRoads ? 1000.0f : 400.0f;
    const int32_t mode = race.choice.gameMode;

    // A path built here without a detour is the one a forced build for its
    // bend would make again from the same place this frame.
    const bool builtPlain = needsPath && mode != Game::TimeTrial && replan(mode == Game::CaptureTheFlag) &&
                            !detourActive;

    if (passed(now, refreshTime)) {
        vec3d start;
        TargetPlane plane;
        if (readTarget(start, plane)) {
            if (plane.kind == Path::GateTarget)
                path.setPointOfType(Path::ApproachPoint, plane.approachPoint);
            else if (plane.kind == Path::FlagTarget)
                path.setPointOfType(Path::FlagTarget, plane.plane.point);
        }
        refreshTime = now + (plane.kind == Path::FlagTarget ? 250u : 500u);
    }

    // The speed the bend ahead allows at this difficulty.
    const float bend = path.bendAngle();
    static constexpr float exponents[3] = {1.4f, 1.7f, 2.0f};
    static constexpr float topSpeeds[3] = {65.0f, 77.0f, 90.0f};
    const int32_t level = std::clamp(race.choice.difficulty, 0, 2);
    const float p = std::pow(std::clamp((bend - 15.0f) / 75.0f, 0.0f, 1.0f), exponents[level]);
    const float wanted = 30.0f * p + topSpeeds[level] * (1.0f - p);
    throttle = 1.0f - std::clamp((speed - wanted) / 2.0f, 0.0f, 1.0f);
    // However gentle the bends between its points, the turn the driver
    // steers through now is slowed for: at its speed it must make the arc
    // from here to the place it steers at.
    const float moving = object->getSpeed() * 35.0f;
    const float reach = std::max(nearestAim, moving * aimTime);
    vec3d aimAt = path.pointAhead(here, reach);
    const float arcSpeed = turnSpeed(here, aimAt);
    if (moving > arcSpeed)
        throttle = std::min(throttle, 1.0f - std::clamp((moving - arcSpeed) / arcEase, 0.0f, 1.0f));
    if (distAhead < 20.0f)
        throttle = 0.6f;
    else if (distAhead < 35.0f)
        throttle = 0.7f;
    if (bend > 90.0f) {
        if (detourActive) {
            TargetPlane plane;
            givenUpPickup = detourPoint;
            givenUpTarget = targetPlane(plane) ? plane.target : nullptr;
        }
        detourActive = 0;
        if (!builtPlain) {
            replan(true);
            aimAt = path.pointAhead(here, reach);
        }
    }
    const GiveWay yielding = giveWay(race, own, here, now, wholeFrame);
    if (yielding.kind == GiveWay::behind)
        throttle = yielding.throttle;
    else if (speed < 5.0f)
        throttle = 1.0f;
    if (yielding.kind == GiveWay::round || yielding.kind == GiveWay::slowing)
        throttle = std::min(throttle, yielding.throttle);

    steerAt(here, aimAt, alongRoads);
    if (yielding.kind == GiveWay::round)
        steering = yielding.steering;
    else
        steering = keepClearAlongside(race, own, here, steering);

    if (path.distanceSquaredTo(here) > deviationLimit) {
        replan(true);
        throttle = std::max(throttle - 0.3f, 0.3f);
    }

    // Knocked out with no parking slot free, a driver is done as a finisher
    // is: it rolls to its path's end and stands.
    const bool done = own.finished || (own.knockedOut && !own.parkingSlot);
    if (done && path.count > 0) {
        const Path::Point& last = path.points[path.count - 1];
        const float toEnd = (last.position - here).length();
        throttle = 0.0f;
        if (toEnd > 130.0f && speed < 40.0f)
            throttle = 0.5f;
        if ((toEnd < 130.0f && speed < 20.0f) || (toEnd < 70.0f && speed < 10.0f))
            throttle = 0.3f;
        if (toEnd < 30.0f || last.passed)
            throttle = 0.0f;
        throttle = std::min(throttle, 0.5f);
    }

    // Only a whole frame judges a stall (the way moved since the last frame,
    // which a piece has not yet gone all of); between pieces a back-out under
    // way goes on, the steering mirrored.
    const bool backingOut = reverseState == 2;
    if (wholeFrame)
        judgeStall(own, here, race.worldNow());
    if (backingOut) {
        throttle = -1.0f;
        steering = -steering;
        // Not into a quad standing behind (the player's on the grid): the
        // back-out stops, and a quad still wedged is judged stalled again.
        if (standingQuadBehind(race, own, here))
            throttle = 0.0f;
    }

    if (done || !wholeFrame)
        return;
    if (race.choice.items != 0)
        seekPickups(race, own, ahead);
    useItems(race, own, now);
}

void AI::judgeStall(Game::Vehicle& own, const vec3d& here, uint32_t worldNow)
{
    // Stuck: 500 ms without moving under throttle, then 1500 ms backing out
    // with the steering mirrored; both on the world's clock, which a slow
    // frame rate holds back with the world.
    if (reverseState == 0) {
        if (throttle > 0.0f && isStalled()) {
            reverseTime = worldNow + 500u;
            reverseState = 1;
        }
    } else if (reverseState == 1) {
        if (throttle <= 0.0f || !isStalled()) {
            reverseState = 0;
        } else if (passed(worldNow, reverseTime)) {
            reverseState = 2;
            reverseTime = worldNow + 1500u;
            // Backing out again and again where it stood, the quad is wedged
            // (against a hollow's wall, across a gate's post) and would turn
            // back into the same place for ever: it is set back on the way,
            // facing along it, as the course watch sets back a quad that
            // left the way.
            if (backOuts > 0 && (here - backOutPlace).lengthSq() <= backOutReach * backOutReach) {
                ++backOuts;
            } else {
                backOuts = 1;
                backOutPlace = here;
            }
            if (backOuts >= mostBackOuts) {
                backOuts = 0;
                if (QuadPhysics::Instance* wedged = own.getQuad())
                    own.freeWedgedQuad(*wedged);
            }
        }
    } else if (passed(worldNow, reverseTime)) {
        reverseState = 0;
    }
}

float AI::turnSpeed(const vec3d& here, const vec3d& ahead) const
{
    const vec3d to = horizontal(ahead - here);
    const float reach = to.length();
    if (!object || !(reach > 0.001f))
        return INFINITY;
    const vec3d heading = horizontal(object->world.row(2)).normalised();
    const float sine = std::fabs(heading.x * to.z - heading.z * to.x) / reach;
    if (!(sine > 0.001f))
        return INFINITY;
    // The circle through here, tangent to the heading, through the aim.
    const float radius = reach / (2.0f * sine);
    return std::sqrt(turnGrip * radius);
}

void AI::steerAt(const vec3d& here, const vec3d& ahead, bool alongRoads)
{
    // Steering at the place ahead on the path; before the first path, at the
    // target.
    vec3d aim = here;
    vec3d aimDirection;
    if (const Path::Point* point = path.currentPoint()) {
        aim = ahead;
        aimDirection = point->direction;
    } else {
        TargetPlane plane;
        if (targetPlane(plane))
            aim = plane.plane.point;
    }
    vec3d d = horizontal(aim - here);
    const float dist = d.length();
    if (dist > 0.001f)
        d = d / dist;
    const vec3d across = horizontal(-aimDirection);
    if (alongRoads && across.lengthSq() > 0.0f) {
        const float w = std::clamp(dist / 150.0f, 0.0f, 1.0f);
        d = across.normalised() * (1.0f - w) + d * w;
    }
    steering = d.dot(object->world.row(0).normalised());
    if (d.dot(object->world.row(2).normalised()) < 0.0f) {
        if (steering < 0.0f)
            steering = -1.0f;
        else if (steering > 0.0f)
            steering = 1.0f;
    }

    if (path.updatePassed(here))
        needsPath = 1;
}

void AI::seekPickups(Game& race, Game::Vehicle& own, const Game::Vehicle* ahead)
{
    // A pick-up given up for a target may be fetched on the way to the next.
    if (givenUpTarget) {
        TargetPlane plane;
        if (!targetPlane(plane) || plane.target != givenUpTarget)
            givenUpTarget = nullptr;
    }
    if (detourActive) {
        TargetPlane plane;
        const bool beyondTarget =
            targetPlane(plane) && (plane.plane.point - detourPoint).dot(plane.plane.normal) > 0.001f;
        if (beyondTarget || path.detourPassed()) {
            detourActive = 0;
            needsPath = 1;
        }
        return;
    }
    // What the driver needs: repair by its damage, rockets and nitro the
    // further back it lies, oil the further ahead.
    const int32_t vehicles = race.choice.vehicleCount;
    const float rank =
        vehicles > 1 ? std::clamp(float(own.place - 1) / float(vehicles - 1), 0.0f, 1.0f) : 0.0f;
    const float damageWeight = std::sqrt(std::max(own.damage, 0.0f));
    const float leadWeight = 1.0f - rank;
    const float nitroWeight = std::max(rank - damageWeight, 0.0f);
    float rocketWeight = rank;
    if (const EntityManager::Entity* other = ahead ? ahead->entity() : nullptr) {
        const EntityManager::Entity* mine = own.entity();
        const float apart = mine ? (other->world.row(3) - mine->world.row(3)).length() : 0.0f;
        rocketWeight *= std::min(apart / 400.0f, 1.0f);
    }
    const struct
    {
        int32_t kind;
        float weight;
    } wants[] = {{RepairKitKind, damageWeight}, {RocketPackKind, rocketWeight}, {NitroKind, nitroWeight},
                 {OilKind, leadWeight}};
    for (const auto& want : wants) {
        if (detourActive)
            break;
        vec3d found;
        if (want.weight > 0.001f && findPickup(want.kind, found))
            tryDetour(found, want.weight);
    }
}

void AI::useItems(Game& race, Game::Vehicle& own, uint32_t now)
{
    (void)race;
    // Rockets: armed for 1 to 15 s while there are rockets and someone
    // leads; the button is held one frame.
    if (rocketTime == 0)
        fireRocket = 0;
    if (own.place == 1 || own.rockets == 0) {
        rocketTime = 0;
    } else if (rocketTime == 0) {
        rocketTime = itemDelay(now);
    } else if (fireRocket == 0 && passed(now, rocketTime)) {
        fireRocket = 1;
        rocketTime = 0;
    }

    // Oil in a sharp turn, unless last.
    if (dropOil == 1 && std::abs(steering) <= 0.6f)
        dropOil = 0;
    if (own.place != race.choice.vehicleCount && own.oil != 0) {
        if (oilTime == 0) {
            oilTime = itemDelay(now);
        } else if (dropOil == 0 && std::abs(steering) > 0.6f && passed(now, oilTime)) {
            dropOil = 1;
            oilTime = 0;
        }
    }

    // Nitro on a straight, unless leading, until half of it is burnt.
    if (useNitro == 1 && (own.nitro < nitroStopLevel || std::abs(steering) >= 0.35f))
        useNitro = 0;
    if (own.place != 1 && own.nitro > 0.001f) {
        if (nitroTime == 0) {
            nitroTime = itemDelay(now);
        } else if (useNitro == 0 && std::abs(steering) < 0.35f && passed(now, nitroTime)) {
            useNitro = 1;
            nitroTime = 0;
            nitroStopLevel = own.nitro * 0.5f;
            if (nitroStopLevel < 0.2f)
                nitroStopLevel = 0.0f;
        }
    }
}

bool AI::findPickup(int32_t kind, vec3d& found) const
{
    Game* race = game();
    if (!race || !object)
        return false;
    static constexpr int32_t packages[5] = {-1, Game::NitroPackage, Game::OilPackage, Game::RepairKitPackage,
                                            Game::RocketPackPackage};
    if (kind < 1 || kind > 4 || !race->packages[packages[kind]])
        return false;
    StaticEntityManager* statics = scene && scene->swapChain && scene->swapChain->staticEntities
                                       ? scene->swapChain->staticEntities
                                       : path.statics();
    TargetPlane target;
    if (!statics || !targetPlane(target))
        return false;

    // The driver's view: its object's axes and place with the camera's
    // projection; the near plane pushed out ahead.
    const vec3d here = position();
    matrix3d pose = matrix3d::identity();
    pose.setRow(0, object->world.row(0).normalised());
    pose.setRow(1, object->world.row(1).normalised());
    pose.setRow(2, object->world.row(2).normalised());
    pose.setRow(3, here);
    matrix3d view;
    if (!pose.inverseAffine(view))
        return false;
    const bool perspective = scene && scene->swapChain && scene->swapChain->projection.m[11] != 0.0f;
    const matrix3d projection = perspective ? scene->swapChain->projection : defaultProjection();
    ConvexVolume volume;
    volume.setFromMatrix(view * projection);
    ConvexVolume::Plane& nearPlane = volume.planes[0];
    const int32_t courseType = race->choice.courseType;
    nearPlane.point = nearPlane.point + nearPlane.normal * (courseType == 2 || courseType == 3 ? 10.0f : 130.0f);
    nearPlane.distance = nearPlane.normal.dot(nearPlane.point);

    const vec3d towards = (target.plane.point - here).normalised();
    // Where the course watch sets back a quad off the way, a pick-up off it,
    // or on a stretch of it beyond the target, is left where it lies.
    const Game::Vehicle* own = vehicle();
    const Way::PointNode* wayNode = own && race->course && own->wayNode && own->wayNode->owner == race->course
                                        ? own->wayNode
                                        : nullptr;
    const bool keepToTheWay = wayNode && Game::followsTheWay(race->choice.gameMode);
    DynArray<StaticEntity*> candidates(32);
    int32_t n = 0;
    statics->collectInVolume(volume, candidates, n, race->packages[packages[kind]]);
    bool any = false;
    float best = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        StaticEntity* const* entry = candidates.at(i);
        const StaticEntity* candidate = entry ? *entry : nullptr;
        if (!candidate || candidate->state == StaticEntity::instanceFlagged)
            continue;
        const vec3d at = candidate->getPosition();
        if ((target.plane.point - at).dot(target.plane.normal) > 0.001f)
            continue;
        if (givenUpTarget && target.target == givenUpTarget && at == givenUpPickup)
            continue;
        if ((at - here).normalised().dot(towards) < 0.0f)
            continue;
        if (keepToTheWay && !liesOnTheWayAhead(wayNode, at, target.plane.point))
            continue;
        const float distanceSq = path.distanceSquaredTo(at);
        if (!any || distanceSq < best) {
            any = true;
            best = distanceSq;
            found = at;
        }
    }
    return any;
}

void AI::tryDetour(const vec3d& at, float weight)
{
    const float dist = std::sqrt(path.distanceSquaredTo(at));
    if (dist == 0.0f)
        return;
    const int32_t mode = scene ? scene->game.choice.gameMode : 0;
    const bool wide = mode == Game::CaptureTheFlag || mode == Game::Jamboree;
    const float reach = wide ? 550.0f : 350.0f;
    const float cutOff = wide ? 875.0f : 220.0f;
    if (dist <= cutOff && std::min(dist / reach, 1.0f) <= weight) {
        detourPoint = at;
        detourActive = 1;
        replan(true);
    }
}
