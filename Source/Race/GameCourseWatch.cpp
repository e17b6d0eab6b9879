// How a vehicle goes round the course: the gates it passes, its laps,
// splits, points and finish, and the warnings and help of the player who
// leaves the way, drives the wrong way, misses a gate or lies overturned.
#include "Race/AIDriver.h"
#include "Race/AIPath.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Objects/DynObject.h"
#include "Vehicle/QuadInstance.h"

#include "Entity/StaticEntity.h"
#include "Landscape/Terrain.h"
#include "Physics/neRigidBody.h"

#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/CrashTrace.h"
#include "Core/Language.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// The course states of the watch.
enum CourseState : uint32_t {
    onCourse = 0,
    overturned = 1,
    offWay = 2,
    offWayWarned = 3,
    wrongWay = 4,
    wrongWayShown = 5,
    gateMissed = 6,
    gateMissedShown = 7,
};

bool isGateMode(int32_t mode)
{
    return mode == Game::OffRoadRace || mode == Game::KnockOut || mode == Game::Circuit || mode == Game::TimeTrial;
}

vec3d horizontalUnit(const vec3d& v)
{
    return vec3d(v.x, 0.0f, v.z).normalised();
}

float horizontalLength(const vec3d& v)
{
    return vec3d(v.x, 0.0f, v.z).length();
}

// The way point's centre and edges moved to the quad's place at on the line
// from the nearest cross-section (at along on the segment) to its neighbour
// on the quad's side.
void moveBesideQuad(const Way::Segment& segment, float along, const vec3d& at, Way::Pos& point)
{
    const std::vector<Way::Pos>& sections = segment.positions;
    if (sections.size() < 2)
        return;
    const size_t nearest = size_t(along * float(sections.size() - 1) + 0.5f);
    const Way::Pos& from = sections[std::min(nearest, sections.size() - 1)];
    const vec3d offset = at - from.centre;
    const bool ahead = offset.x * from.forward.x + offset.z * from.forward.z >= 0.0f;
    if (ahead ? nearest + 1 >= sections.size() : nearest == 0)
        return;
    const Way::Pos& to = sections[ahead ? nearest + 1 : nearest - 1];
    const vec3d step = to.centre - from.centre;
    const float lengthSq = step.x * step.x + step.z * step.z;
    if (!(lengthSq > 0.0f))
        return;
    const float u = std::clamp((offset.x * step.x + offset.z * step.z) / lengthSq, 0.0f, 1.0f);
    point.centre = from.centre + step * u;
    point.left = from.left + (to.left - from.left) * u;
    point.right = from.right + (to.right - from.right) * u;
}

}

bool Game::followsTheWay(int32_t mode)
{
    return mode != CaptureTheFlag && mode != Jamboree;
}

void Game::Vehicle::checkGates()
{
    Gate* target = nextGate ? nextGate->item : game->targetGate;
    const EntityManager::Entity* quad = entity();
    if (!target || !game->gates.head() || !quad)
        return;
    const vec3d now = quad->worldBounds.center;
    const float radius = quad->worldBounds.radius;
    Gate* crossed = nullptr;
    float share = 1.0f;
    for (auto* node = game->gates.head(); node && !crossed; node = node->next) {
        const Gate::Window* window = node->item ? node->item->window() : nullptr;
        if (window && window->isPassedBy(position, now, radius, &share))
            crossed = node->item;
    }
    if (!crossed || crossed == lastGate)
        return;
    if (crossed == target) {
        lastGate = crossed;
        // Of the quads that pass the checkpoint in one frame the one that
        // passed it first scores, whatever the order of their updates.
        if (game->choice.gameMode == Jamboree)
            game->claimTargetGate(*this, share);
        else
            passGate(share);
        return;
    }
    if (isPlayer) {
        showMessage(L"WrongGate", 2000);
        game->playSound(WrongGateSound);
    }
}

void Game::Vehicle::passGate(float share)
{
    CRASH_TRACE();
    const int32_t mode = game->choice.gameMode;
    if (isGateMode(mode)) {
        const bool start = nextGate == nullptr;
        const uint32_t now = raceNow();
        if (start) {
            nextGate = game->gates.head();
        } else {
            markGate(nextGate->item, 0);
            nextGate = nextGate->next;
            gatesPassed += 1;
            if (nextGate && isPlayer)
                takeSplit(now);
        }
        if (!start && !nextGate)
            completeLap(now, share);
        if (nextGate)
            markGate(nextGate->item, 1);
        return;
    }
    if (mode == CaptureTheFlag) {
        const bool first = game->targetGate == nullptr;
        game->pickTargetGate(5, this);
        if (first || game->phase == 4)
            return;
        if (isPlayer)
            game->playSound(GateSound);
        // The bonus counts towards the goal as the time with the flag does:
        // a quad past it wins even when no one holds the flag again.
        score(15, share);
        return;
    }
    if (mode == Jamboree) {
        game->pickTargetGate(-1, nullptr);
        if (game->phase == 4)
            return;
        if (isPlayer)
            game->playSound(GateSound);
        score(1, share);
    }
}

void Game::Vehicle::score(int32_t gained, float share)
{
    points += gained;
    if (points >= game->choice.goal)
        finish(share);
}

void Game::Vehicle::takeSplit(uint32_t now)
{
    const Gate* gate = nextGate->item;
    const int32_t t = int32_t(now - lapStart);
    // Split records exist for the gate numbers 0 to 31 only.
    const uint32_t number = gate && gate->object ? gate->object->state : Records::splitCount;
    if (number < uint32_t(Records::splitCount)) {
        RaceTime& record = game->records.splits[number];
        const bool held = !isZeroTime(record);
        const int32_t difference = held ? t - raceTimeMilliseconds(record) : 0;
        if (!finished)
            showLapTimes(t, difference);
        if (!held || t < raceTimeMilliseconds(record))
            splitRaceTime(t, record);
    }
    if (!finished)
        game->playSound(GateSound);
}

void Game::Vehicle::completeLap(uint32_t now, float share)
{
    nextGate = game->gates.head();
    if (isPlayer && !finished)
        game->playSound(GateSound);
    const int32_t laps = game->choice.goal;
    if (lap <= laps && !finished && isPlayer) {
        const uint32_t lapMs = now - lapStart;
        if (game->choice.gameMode == TimeTrial) {
            game->records.insertLap(name, lapTime);
            if (lap == laps)
                game->records.insertRace(name, raceTime);
            updateRecordTexts(false);
        }
        if (lapMs < bestLap || bestLap == 0) {
            bestLap = lapMs;
            updateRecordTexts(true);
        }
    }
    if (!finished) {
        lapsDone += 1;
        lapCrossing = {game->frame, share};
    }
    if (lap < laps) {
        lap += 1;
        lapStart = now;
        if (lap == laps)
            showMessage(L"FinalLap", 2000);
    } else {
        finish(share);
    }
}

void Game::Vehicle::markGate(Gate* gate, uint32_t on)
{
    if (!gate)
        return;
    if (isGateMode(game->choice.gameMode) && !isPlayer)
        return;
    gate->setMarked(on);
}

void Game::Vehicle::finish(float share)
{
    const int32_t mode = game->choice.gameMode;
    if (mode == OffRoadRace || mode == KnockOut || mode == Circuit) {
        if (isPlayer && !finished) {
            handToDriver();
            game->raceOver = 1;
        }
    } else if (mode == TimeTrial) {
        if (isPlayer && !finished) {
            enableControls(0, 0);
            setCameraMode1();
            game->raceOver = 1;
        }
    } else if (mode == CaptureTheFlag || mode == Jamboree) {
        game->raceOver = 1;
        if (Vehicle* player = game->getPlayerVehicle())
            player->handToDriver();
    }
    if (!finished) {
        // After those that finished in earlier frames; of those finishing in
        // this one, the ones that crossed the line later in it go behind.
        const Crossing crossing{game->frame, share};
        uint32_t before = 0;
        for (auto* node = game->vehicles.head(); node; node = node->next) {
            Vehicle* other = node->item;
            if (!other || other == this || other->finishOrder == 0)
                continue;
            if (other->finishOrder != gaveUp && other->finishCrossing.laterThan(crossing))
                other->finishOrder += 1;
            else
                before += 1;
        }
        finishOrder = before + 1;
        finishCrossing = crossing;
    }
    finished = 1;
}

bool Game::Vehicle::isOverturned() const
{
    const QuadInstance* quad = getQuad();
    return quad && quad->isOverturned();
}

void Game::Vehicle::updateOverturn()
{
    QuadInstance* quad = getQuad();
    if (!quad)
        return;
    if (courseState == onCourse) {
        if ((game->phase == 3 || game->phase == 4) && quad->isOverturned()) {
            overturnTime = game->worldNow() + 2000;
            courseState = overturned;
        }
        return;
    }
    if (courseState != overturned)
        return;
    if (!quad->isOverturned()) {
        courseState = onCourse;
        return;
    }
    if (!passed(game->worldNow(), overturnTime))
        return;
    // Where no way is followed, the way point is where the quad last crossed
    // a road, however far off: it is set down where it lies.
    const bool alongWay = (game->choice.courseType == 2 || game->choice.courseType == 3) &&
                          followsTheWay(game->choice.gameMode);
    if (quad->body()) {
        if (alongWay) {
            quad->placeOnTerrain(freeSpotOnWay(*quad), &wayPoint.side);
        } else if (quad->entity) {
            // Where it lies, unless it lies in a static object or on another
            // quad: set back there, it would be held and overturned again.
            const matrix3d& pose = quad->entity->world;
            const vec3d forward = horizontalUnit(pose.row(2)), side = horizontalUnit(pose.row(0));
            const OrientedBox& box = quad->entity->worldBox;
            const float reach = 4.0f * box.halfExtents.x * box.axes[0].length() + 1.0f;
            quad->placeOnTerrain(freeSpotNear(*quad, pose.row(3), forward, side, reach), nullptr);
        }
    }
    if (isPlayer) {
        showBeam();
        if (alongWay)
            lookAlongQuad(*quad);
    }
    if (ObjPkgManager::Functions::AI* driver = getAIDriver())
        driver->clearStuckTimers();
    courseState = onCourse;
}

void Game::Vehicle::cancelWarning()
{
    if (isPlayer) {
        showCompass(false);
        game->stopWrongWaySound();
    }
    courseState = onCourse;
}

Way::Pos Game::Vehicle::wayPointBesideQuad() const
{
    Way::Pos point = wayPoint;
    if (const Way::Segment* segment = Way::segmentOf(wayNode))
        moveBesideQuad(*segment, wayAlong, wayAt, point);
    return point;
}

vec3d Game::Vehicle::freeSpotOnWay(const QuadInstance& quad) const
{
    const Way::Pos point = wayPointBesideQuad();
    const EntityManager::Entity* own = quad.entity;
    if (!own)
        return point.centre;
    const OrientedBox& box = own->worldBox;
    const float halfWidth = box.halfExtents.x * box.axes[0].length() + 0.5f;
    const float roadHalf = 0.5f * horizontalLength(point.right - point.left);
    return freeSpotNear(quad, point.centre, horizontalUnit(point.forward), horizontalUnit(point.side),
                        std::max(roadHalf - halfWidth, 0.0f));
}

vec3d Game::Vehicle::freeSpotNear(const QuadInstance& quad, const vec3d& centre, const vec3d& forward,
                                  const vec3d& side, float reach) const
{
    const EntityManager::Entity* own = quad.entity;
    if (!own || forward.lengthSq() == 0.0f || side.lengthSq() == 0.0f)
        return centre;
    // The quad's own box, a little widened, standing on the ground; reaching
    // ahead by clearAhead it tells whether a static object stands in the way
    // of a quad set down there: one that drives on would run into it.
    const OrientedBox& box = own->worldBox;
    const float halfWidth = box.halfExtents.x * box.axes[0].length() + 0.5f;
    const float halfHeight = box.halfExtents.y * box.axes[1].length();
    const float halfLength = box.halfExtents.z * box.axes[2].length() + 0.5f;
    const auto boxAt = [&](const vec3d& at, float clearAhead) {
        vec3d middle = at;
        middle.y = gTerrain.getHeight(at.x, at.z, 3) + 0.2f + halfHeight;
        return ObjPkgManager::Functions::Path::boxBetween(middle - forward * 0.5f,
                                                          middle + forward * (0.5f + clearAhead),
                                                          vec3d(halfWidth, halfHeight, halfLength - 0.5f));
    };
    const float clearAhead = 4.0f * halfLength;
    // The static objects round the places tried, gathered once.
    constexpr int rowsBack = 3;
    const float rowStep = 2.0f * halfLength + 1.0f;
    ObjPkgManager::Functions::Path statics(getDynObject());
    statics.points[0].position = centre + forward * (rowStep + clearAhead);
    statics.points[1].position = centre - forward * (rowStep * float(rowsBack) + rowStep);
    statics.count = 2;
    // No target: no object is driven through here.
    statics.targetPoint = vec3d(NAN, NAN, NAN);
    statics.collectObstacles();
    const auto isFree = [&](const vec3d& at) {
        const OrientedBox candidate = boxAt(at, 0.0f);
        for (const auto* node = game->vehicles.head(); node; node = node->next) {
            const EntityManager::Entity* other = node->item != this ? node->item->entity() : nullptr;
            if (other && other != own && OrientedBox::overlaps(candidate, other->worldBox))
                return false;
        }
        return !statics.boxBlocked(boxAt(at, clearAhead));
    };
    const float step = 2.0f * halfWidth;
    for (int row = 0; row <= rowsBack; ++row) {
        const vec3d across = centre - forward * (rowStep * float(row));
        for (float offset = 0.0f; offset <= reach + 0.001f; offset += step) {
            for (const float sign : {1.0f, -1.0f}) {
                const vec3d at = across + side * (sign * offset);
                if (isFree(at))
                    return vec3d(at.x, centre.y, at.z);
                if (offset == 0.0f)
                    break;
            }
        }
    }
    return centre;
}

void Game::Vehicle::putBackOnWay(QuadInstance& quad)
{
    if (quad.body())
        quad.placeOnTerrain(freeSpotOnWay(quad), &wayPoint.side);
    if (isPlayer) {
        showBeam();
        showCompass(false);
        lookAlongQuad(quad);
        game->stopWrongWaySound();
    }
    if (ObjPkgManager::Functions::AI* driver = getAIDriver())
        driver->clearStuckTimers();
    courseState = onCourse;
}

void Game::Vehicle::freeWedgedQuad(QuadInstance& quad)
{
    // Off the way the way point is not followed: it stays where the quad
    // last crossed a road, however far off. The cross-section nearest the
    // quad is taken, and beside it the place on the way nearest the quad.
    const Way::PointList* list = game->course;
    if (!followsTheWay(game->choice.gameMode) && list && quad.entity) {
        const vec3d here = quad.entity->worldBounds.center;
        float best = INFINITY;
        for (Way::PointNode* node = list->head(); node; node = node->next) {
            const Way::Segment* segment = Way::segmentOf(node);
            if (!segment)
                continue;
            const size_t count = segment->positions.size();
            for (size_t i = 0; i < count; ++i) {
                const float distance = horizontalLength(segment->positions[i].centre - here);
                if (distance < best) {
                    best = distance;
                    wayNode = node;
                    wayPoint = segment->positions[i];
                    wayAlong = count > 1 ? float(i) / float(count - 1) : 0.0f;
                    wayAt = here;
                }
            }
        }
    }
    putBackOnWay(quad);
}

void Game::Vehicle::updateCourse()
{
    QuadInstance* quad = getQuad();
    Way::PointList* list = game->course;
    if (!quad || !quad->entity || !wayNode || !Way::segmentOf(wayNode) || !list)
        return;
    const vec3d centre = quad->entity->worldBounds.center;
    // Way tracking: the node last found, then its next and its previous
    // neighbour, wrapping round a closed course.
    bool onWay = false;
    auto lies = [&centre, this](const Way::PointNode* node) {
        const Way::Segment* segment = Way::segmentOf(node);
        if (!segment)
            return false;
        uint32_t inside = 0;
        float along = 0.0f;
        Way::Pos nearest;
        segment->projectPoint(centre.x, centre.z, inside, along, &nearest);
        if (!inside)
            return false;
        wayPoint = nearest;
        wayAlong = along;
        wayAt = centre;
        return true;
    };
    if (lies(wayNode)) {
        onWay = true;
    } else {
        Way::PointNode* next = wayNode->next;
        const bool nextWraps = !next || next == list->tail();
        if (nextWraps)
            next = list->head();
        Way::PointNode* previous = wayNode->prev;
        const bool previousWraps = !previous;
        if (previousWraps)
            previous = list->tail() ? list->tail()->prev : nullptr;
        if (next && lies(next)) {
            wayNode = next;
            wayRounds += nextWraps ? 1 : 0;
            onWay = true;
        } else if (previous && lies(previous)) {
            wayNode = previous;
            wayRounds -= previousWraps ? 1 : 0;
            onWay = true;
        }
    }
    const bool backwards = isPlayer && quad->entity->world.row(2).dot(wayPoint.forward) < 0.0f;
    // Only the player is told of a missed gate: only its distance counts.
    float ahead = 0.0f;
    if (isPlayer && nextGate && nextGate->item && nextGate->item->object)
        ahead = game->courseOffsetFrom(nextGate->item->object->getPosition(), wayNode);
    const bool missed = isPlayer && ahead != 0.0f && wayPoint.t > ahead;
    const uint32_t now = game->worldNow();
    switch (courseState) {
    case onCourse:
        if (game->phase != 3 || !followsTheWay(game->choice.gameMode))
            break;
        if (missed && onWay) {
            missedGateTime = now + 1000;
            courseState = gateMissed;
        } else if (!onWay) {
            offWayTime = now + 1000;
            courseState = offWay;
        } else if (backwards) {
            wrongWayTime = now + 1000;
            courseState = wrongWay;
        }
        break;
    case offWay:
        if (onWay || quad->isOverturned()) {
            cancelWarning();
        } else if (passed(now, offWayTime)) {
            offWayTime = now + (isPlayer ? 2800 : 1000);
            courseState = offWayWarned;
            if (isPlayer) {
                showCompass(true);
                game->playSound(WrongWaySound);
            }
        }
        break;
    case offWayWarned:
        if (onWay || quad->isOverturned())
            cancelWarning();
        else if (passed(now, offWayTime))
            putBackOnWay(*quad);
        break;
    case wrongWay:
        if (!backwards || quad->isOverturned() || !onWay) {
            courseState = onCourse;
        } else if (passed(now, wrongWayTime)) {
            if (isPlayer) {
                showMessage(L"WrongWay", 300000);
                showCompass(true);
                game->playSound(WrongWaySound);
            }
            courseState = wrongWayShown;
        }
        break;
    case wrongWayShown:
        if (!(backwards && !quad->isOverturned() && onWay))
            endShownWarning();
        break;
    case gateMissed:
        if (!missed || quad->isOverturned()) {
            cancelWarning();
        } else if (passed(now, missedGateTime)) {
            missedGateTime = now + 1000;
            courseState = gateMissedShown;
            if (isPlayer) {
                showMessage(L"GateMissed", 300000);
                showCompass(true);
                game->playSound(WrongWaySound);
            }
        }
        break;
    case gateMissedShown:
        if (!(missed && !quad->isOverturned() && onWay))
            endShownWarning();
        break;
    default: break;
    }
}

void Game::Vehicle::endShownWarning()
{
    if (isPlayer) {
        showCompass(false);
        hideMessage();
        game->stopWrongWaySound();
    }
    courseState = onCourse;
}
