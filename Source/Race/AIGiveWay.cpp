// A driver and the quads in its lane ahead: one it closes on, or one that
// stands (a player who never started, or stopped after a crash), is passed
// on a side where the road leaves room, or, where neither side has room,
// waited behind. A driver that only eased off would shove a standing quad
// along the road, and off it, at its own speed.
#include "Race/AIDriver.h"

#include "Race/GameVehicle.h"

#include "Objects/DynObject.h"
#include "Vehicle/QuadInstance.h"

#include "Way/WayPoint.h"

#include <algorithm>
#include <cmath>

namespace {

using AI = ObjPkgManager::Functions::AI;
using Path = ObjPkgManager::Functions::Path;
using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;

// Below this speed over the ground (units a second, about a quarter of a driver's
// on a straight), without throttle of its own, a quad counts as standing:
// it is passed, not followed. A standing quad once shoved rolls on at a
// walking pace.
constexpr float slowSpeed = 10.0f;
// The gap kept behind a quad waited for, in units.
constexpr float waitingGap = 3.0f;
// The throttle while passing close behind a quad (within a quad's length).
constexpr float closeThrottle = 0.4f;
// How hard a driver turns out towards the point beside the quad it passes:
// a plain aim at a point a few units aside turns a quad too little to clear
// it before it is there.
constexpr float turnOutGain = 2.5f;
// The braking the driver counts on (units a second squared): it closes in
// no faster than it could stop in the gap left. A quad brakes with its
// rear wheels only: counting on more, drivers still ran into a standing
// quad while braking.
constexpr float brakingRate = 4.0f;
// Beyond the clearance, the band (units) in which a driver passing a quad
// still holds its line beside it: its path would draw it back in.
constexpr float passingBand = 3.0f;

// The way (units) the own quad needs to stop when closing at closing.
float stoppingDistance(float closing)
{
    const float c = std::max(closing, 0.0f);
    return c * c / (2.0f * brakingRate);
}

// The most throttle while closing at closing on a quad gap units ahead:
// none once the own quad needs more than liftOffShare of the gap to stop,
// braking once it needs all of it. Under throttle up to the last moment, a
// slow frame's travel (a seventh of a second) carries it past the point
// where braking still stops it.
constexpr float liftOffShare = 0.6f;
float closingThrottle(float closing, float gap)
{
    const float stopping = stoppingDistance(closing);
    const float room = std::max(gap, 0.0f);
    if (stopping > room)
        return -1.0f;
    return stopping > liftOffShare * room ? 0.0f : 1.0f;
}

// How far ahead (units) a driver closing at closing looks for a quad in
// its way: lookAheadTime's worth, and at speed as far as it lifts off for
// one. Found nearer than it needs to stop, the quad is met braking with
// locked wheels, which neither stop the own quad in time nor let it turn
// out.
float lookingReach(float closing)
{
    const float c = std::max(closing, 0.0f);
    return waitingGap + std::max(c * AI::lookAheadTime, stoppingDistance(c) / liftOffShare);
}

// Another quad still in the race. One that finished or was knocked out
// stands where its driver stopped it, on the road before the Goal too, and
// is not waited for: it is pushed aside as before.
bool inTheRace(const Game::Vehicle* other, const Game::Vehicle& own)
{
    return other && other != &own && other->stillRacing();
}

vec3d horizontalUnit(const vec3d& v)
{
    return vec3d(v.x, 0.0f, v.z).normalised();
}

// Half the box's extent across its first (side) and third (forward) axes.
float halfWidthOf(const EntityManager::Entity& body)
{
    const OrientedBox& box = body.worldBox;
    return box.halfExtents.x * box.axes[0].length();
}

float halfLengthOf(const EntityManager::Entity& body)
{
    const OrientedBox& box = body.worldBox;
    return box.halfExtents.z * box.axes[2].length();
}

// The nearest of the quads whose centre lies within its clearance of the
// path's line (from here through the points not yet passed), looked along
// no further than reach: how far along the line it is, or below zero with
// none. On a bend a quad standing on the line lies off the own heading
// until the driver is nearly on it, too late to stop at a racing speed.
float alongPathTo(const Path& path, const vec3d& here, const QuadPhysics::Instance* const* quads, int32_t count,
                  float halfWidth, float clearanceBeyond, float reach)
{
    const Path::Point* current = path.currentPoint();
    if (!current)
        return -1.0f;
    float nearest = -1.0f;
    float walked = 0.0f;
    vec3d from = here;
    for (int32_t i = int32_t(current - path.points); i < path.count && walked < reach; ++i) {
        const vec3d& to = path.points[i].position;
        const vec3d chord(to.x - from.x, 0.0f, to.z - from.z);
        const float length = chord.length();
        if (length < 0.001f)
            continue;
        const vec3d along = chord / length;
        for (int32_t q = 0; q < count; ++q) {
            const EntityManager::Entity* body = quads[q]->entity;
            const vec3d at = body->world.row(3);
            const vec3d offset(at.x - from.x, 0.0f, at.z - from.z);
            const float t = std::clamp(offset.dot(along), 0.0f, length);
            // Behind the own quad: not in its way.
            if (walked + t <= 0.0f || walked + t > reach || (nearest >= 0.0f && walked + t >= nearest))
                continue;
            const float clearance = halfWidth + halfWidthOf(*body) + clearanceBeyond;
            if ((offset - along * t).lengthSq() < clearance * clearance)
                nearest = walked + t;
        }
        walked += length;
        from = to;
    }
    return nearest;
}

}

AI::GiveWay AI::giveWay(const Game& race, Game::Vehicle& own, const vec3d& here, uint32_t now, bool wholeFrame)
{
    GiveWay out;
    slowQuadNear = false;
    const QuadPhysics::Instance* quad = own.getQuad();
    const EntityManager::Entity* body = quad ? quad->entity : nullptr;
    // In the flag race every quad heads for the flag or its carrier, and a
    // touch is how the flag passes: no one gives way there.
    if (!body || race.choice.gameMode == Game::CaptureTheFlag)
        return out;
    // Most frames no quad stands, none touched the own: the race looks once
    // a frame for all its drivers (between the physics' pieces the quads
    // have moved since, and each driver looks for itself).
    if (wholeFrame && !touchedQuad && !race.quadStanding(slowSpeed, now)) {
        backingOff = 0;
        return out;
    }

    // Only a quad that stands or crawls without throttle of its own is in
    // the way, or one the own quad pushes while it has none (a standing
    // quad pushed along moves at the pusher's speed). A quad under its own
    // power keeps its line, pulling away from the grid too: easing off
    // behind a rival does for it. Most frames none stands, and the look
    // ends here.
    constexpr int32_t mostCandidates = 16;
    const QuadPhysics::Instance* candidates[mostCandidates];
    int32_t count = 0;
    for (auto* node = race.vehicles.head(); node && count < mostCandidates; node = node->next) {
        const Game::Vehicle* other = node->item;
        const QuadPhysics::Instance* otherQuad = inTheRace(other, own) ? other->getQuad() : nullptr;
        if (!otherQuad || !otherQuad->entity)
            continue;
        const bool slow = Game::Vehicle::standing(*otherQuad, slowSpeed);
        slowQuadNear = slowQuadNear || slow;
        // The flag's carrier is what the others head for: a touch takes
        // the flag from it.
        if (other->carriedItem)
            continue;
        if (slow || (otherQuad->entity == touchedQuad && otherQuad->throttleInput() <= 0.0f))
            candidates[count++] = otherQuad;
    }
    if (count == 0) {
        backingOff = 0;
        return out;
    }

    const vec3d forward = horizontalUnit(object->world.row(2));
    const vec3d right = horizontalUnit(object->world.row(0));
    const float ownSpeed = quad->velocity.dot(forward);
    const float halfWidth = halfWidthOf(*body), halfLength = halfLengthOf(*body);

    // The nearest quad ahead whose side the own quad would meet on its line.
    struct Blocker
    {
        vec3d at;
        float ahead = 0.0f;  // centre to centre along the own heading
        float across = 0.0f; // its centre beside the own line, to the right
        float clearance = 0.0f;
        float gap = 0.0f; // between the two boxes along the heading
        bool touching = false;
        float closing = 0.0f; // units a second
        const Game::Vehicle* vehicle = nullptr;
    };
    Blocker blocker;
    bool found = false;
    for (int32_t i = 0; i < count; ++i) {
        const QuadPhysics::Instance* otherQuad = candidates[i];
        const EntityManager::Entity* otherBody = otherQuad->entity;
        const float theirSpeed = otherQuad->velocity.dot(forward);
        const bool touching = otherBody == touchedQuad;
        const vec3d at = otherBody->world.row(3);
        const vec3d offset(at.x - here.x, 0.0f, at.z - here.z);
        const float ahead = offset.dot(forward);
        if (ahead <= 0.0f)
            continue;
        const float clearance = halfWidth + halfWidthOf(*otherBody) + passingClearance;
        const float across = offset.dot(right);
        if (std::fabs(across) >= clearance + passingBand)
            continue;
        // The nearest on the own line goes first; one already passed beside
        // only while none is on the line.
        const bool onLine = std::fabs(across) < clearance;
        const bool foundOnLine = found && std::fabs(blocker.across) < blocker.clearance;
        if (found && ((foundOnLine && !onLine) || (foundOnLine == onLine && ahead >= blocker.ahead)))
            continue;
        const float closing = ownSpeed - theirSpeed;
        const float gap = ahead - halfLength - halfLengthOf(*otherBody);
        if (gap > lookingReach(closing) && !touching)
            continue;
        blocker = {at, ahead, across, clearance, gap, touching, closing, otherQuad->vehicle};
        found = true;
    }
    if (!found) {
        backingOff = 0;
        // None on the heading: one on the line the driver follows round a
        // bend is slowed for, so that it can stop short of it until its
        // heading finds it and it turns out.
        const float closing = std::max(ownSpeed, 0.0f);
        const float reach = lookingReach(closing) + 4.0f * halfLength;
        // Along the path none is nearer than straight across: those beyond
        // reach are not walked for.
        const QuadPhysics::Instance* inReach[mostCandidates];
        int32_t nearCount = 0;
        for (int32_t i = 0; i < count; ++i) {
            const vec3d at = candidates[i]->entity->world.row(3);
            const float within = reach + halfWidth + halfWidthOf(*candidates[i]->entity) + passingClearance;
            const vec3d offset(at.x - here.x, 0.0f, at.z - here.z);
            if (offset.lengthSq() < within * within)
                inReach[nearCount++] = candidates[i];
        }
        const float along =
            nearCount ? alongPathTo(path, here, inReach, nearCount, halfWidth, passingClearance, reach) : -1.0f;
        if (along >= 0.0f) {
            const float gap = along - 2.0f * halfLength;
            out.kind = GiveWay::slowing;
            out.throttle = closingThrottle(closing, gap);
        }
        return out;
    }

    // Touching it, or with no room to turn out before it (the boxes meet
    // along the heading, as on a tight grid), the driver backs off until a
    // quad's length lies between them: a standing quad once touched rolls
    // on, and a quad can turn out only while it moves.
    const float roomToTurn = 2.0f * halfLength;
    // Beside its line by the clearance: passing it, held there by the band.
    const bool clear = std::fabs(blocker.across) >= blocker.clearance;
    if (blocker.touching || (blocker.gap < 0.0f && !clear))
        backingOff = 1;
    else if (blocker.gap >= roomToTurn)
        backingOff = 0;

    // The points beside it on either side, the far side first; along a way
    // a side must keep the own quad on the road: the road there, where the
    // quad stands on the course (seen from far off, the road beside the own
    // quad may run another way or be another width).
    const auto onCourse = [&race](const Game::Vehicle* v) {
        return v && v->wayNode && race.course && v->wayNode->owner == race.course;
    };
    const bool alongWay = Game::followsTheWay(race.choice.gameMode) && onCourse(&own);
    const Way::Pos road = !alongWay                 ? Way::Pos{}
                          : onCourse(blocker.vehicle) ? blocker.vehicle->wayPointBesideQuad()
                                                      : own.wayPointBesideQuad();
    const vec3d roadSide = horizontalUnit(road.side);
    const float roadHalf = 0.5f * vec3d(road.right.x - road.left.x, 0.0f, road.right.z - road.left.z).length();
    const float first = blocker.across > 0.0f ? -1.0f : 1.0f;
    for (const float side : {first, -first}) {
        // Beside it, and half its length on, so that the line stays clear
        // until the own quad is past.
        const vec3d beside = blocker.at + right * (side * (blocker.clearance + 0.5f)) + forward * halfLength;
        // Already beside it, the driver holds the near side, wherever the
        // road's edge lies: the far side would take it across its front.
        if (alongWay && !(clear && side == first)) {
            const float off = std::fabs(vec3d(beside.x - road.centre.x, 0.0f, beside.z - road.centre.z).dot(roadSide));
            if (off + halfWidth > roadHalf)
                continue;
        }
        const vec3d towards = horizontalUnit(beside - here);
        out.kind = GiveWay::round;
        out.steering = std::clamp(turnOutGain * towards.dot(right), -1.0f, 1.0f);
        out.throttle = blocker.gap < roomToTurn && !clear ? closeThrottle : 1.0f;
        // Not yet clear of it: no faster than it could stop short of it.
        if (!clear)
            out.throttle = std::min(out.throttle, closingThrottle(blocker.closing, blocker.gap));
        if (backingOff) {
            // Braking, then backing off at full lock the other way, so that
            // the nose swings out towards the side it passes on.
            out.throttle = -1.0f;
            if (ownSpeed <= QuadPhysics::Instance::brakeSpeed)
                out.steering = side > 0.0f ? -1.0f : 1.0f;
        }
        return out;
    }
    // No room: closing in no faster than it could stop the waiting gap short
    // of it, then braking and holding behind it.
    out.kind = GiveWay::behind;
    if (backingOff)
        out.throttle = -1.0f;
    else if (blocker.gap > waitingGap)
        out.throttle = closingThrottle(blocker.closing, blocker.gap - waitingGap);
    else
        out.throttle = ownSpeed > QuadPhysics::Instance::brakeSpeed ? -1.0f : 0.0f;
    return out;
}

// Whether test holds for any quad still in the race that stands or crawls:
// test(self, other, offset) with the own quad and its level heading, the
// other's body and its centre's offset (horizontal) from here. Looks only
// where giveWay (called first) saw one standing: not in the flag race,
// where no one gives way. Like giveWay, called from drive, which has the
// driver's object.
template <typename Test>
bool AI::anyStandingQuad(const Game& race, const Game::Vehicle& own, const vec3d& here, Test test) const
{
    const QuadPhysics::Instance* quad = own.getQuad();
    if (!slowQuadNear || !quad || !quad->entity)
        return false;
    const OwnQuad self{*quad->entity, quad->velocity, horizontalUnit(object->world.row(2)),
                       horizontalUnit(object->world.row(0))};
    for (auto* node = race.vehicles.head(); node; node = node->next) {
        const Game::Vehicle* other = node->item;
        const QuadPhysics::Instance* otherQuad = inTheRace(other, own) ? other->getQuad() : nullptr;
        const EntityManager::Entity* otherBody = otherQuad ? otherQuad->entity : nullptr;
        // A quad that moves keeps its own line; one that stands is passed.
        if (!otherBody || !Game::Vehicle::standing(*otherQuad, slowSpeed))
            continue;
        const vec3d at = otherBody->world.row(3);
        if (test(self, *otherBody, vec3d(at.x - here.x, 0.0f, at.z - here.z)))
            return true;
    }
    return false;
}

float AI::keepClearAlongside(const Game& race, const Game::Vehicle& own, const vec3d& here, float wanted) const
{
    if (wanted == 0.0f)
        return wanted;
    const auto alongside = [wanted](const OwnQuad& self, const EntityManager::Entity& other, const vec3d& offset) {
        const float across = offset.dot(self.right);
        // Turning towards it, beside the own quad and within the clearance.
        return (across > 0.0f) == (wanted > 0.0f) &&
               std::fabs(offset.dot(self.forward)) <= halfLengthOf(self.body) + halfLengthOf(other) + waitingGap &&
               std::fabs(across) < halfWidthOf(self.body) + halfWidthOf(other) + passingClearance + 0.5f;
    };
    return anyStandingQuad(race, own, here, alongside) ? 0.0f : wanted;
}

bool AI::standingQuadBehind(const Game& race, const Game::Vehicle& own, const vec3d& here) const
{
    const auto behindInLine = [](const OwnQuad& self, const EntityManager::Entity& other, const vec3d& offset) {
        const float behind = -offset.dot(self.forward);
        const float backing = std::max(-self.velocity.dot(self.forward), 0.0f);
        const float gap = behind - halfLengthOf(self.body) - halfLengthOf(other);
        const float clearance = halfWidthOf(self.body) + halfWidthOf(other) + passingClearance;
        return behind > 0.0f && gap < waitingGap + backing * lookAheadTime &&
               std::fabs(offset.dot(self.right)) < clearance;
    };
    return anyStandingQuad(race, own, here, behindInLine);
}
