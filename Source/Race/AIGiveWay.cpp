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

// Below this forward speed (units a second) a quad counts as standing.
constexpr float standingSpeed = 3.0f;
// A quad closing in by less than this (units a second) on one ahead that
// moves is not catching it up.
constexpr float closingSpeed = 1.0f;
// The gap kept behind a quad waited for, in units.
constexpr float waitingGap = 3.0f;

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

}

AI::GiveWay AI::giveWay(const Game& race, Game::Vehicle& own, const vec3d& here) const
{
    GiveWay out;
    const QuadPhysics::Instance* quad = own.getQuad();
    const EntityManager::Entity* body = quad ? quad->entity : nullptr;
    if (!body || !object)
        return out;
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
    };
    Blocker blocker;
    bool found = false;
    for (auto* node = race.vehicles.head(); node; node = node->next) {
        const Game::Vehicle* other = node->item;
        const QuadPhysics::Instance* otherQuad = other && other != &own ? other->getQuad() : nullptr;
        const EntityManager::Entity* otherBody = otherQuad ? otherQuad->entity : nullptr;
        // The flag's carrier is what the others head for: a touch takes
        // the flag from it.
        if (!otherBody || other->carriedItem)
            continue;
        const vec3d at = otherBody->world.row(3);
        const vec3d offset(at.x - here.x, 0.0f, at.z - here.z);
        const float ahead = offset.dot(forward);
        if (ahead <= 0.0f || (found && ahead >= blocker.ahead))
            continue;
        const float clearance = halfWidth + halfWidthOf(*otherBody) + passingClearance;
        const float across = offset.dot(right);
        if (std::fabs(across) >= clearance)
            continue;
        const float theirSpeed = otherQuad->velocity.dot(forward);
        const float closing = ownSpeed - theirSpeed;
        const bool standing = std::fabs(theirSpeed) < standingSpeed;
        if (!standing && closing <= closingSpeed)
            continue;
        const float gap = ahead - halfLength - halfLengthOf(*otherBody);
        if (gap > waitingGap + std::max(closing, 0.0f) * lookAheadTime)
            continue;
        blocker = {at, ahead, across, clearance, gap};
        found = true;
    }
    if (!found)
        return out;

    // The points beside it on either side, the far side first; along a way
    // a side must keep the own quad on the road.
    const bool alongWay = Game::followsTheWay(race.choice.gameMode) && own.wayNode && race.course &&
                          own.wayNode->owner == race.course;
    const Way::Pos road = alongWay ? own.wayPointBesideQuad() : Way::Pos{};
    const vec3d roadSide = horizontalUnit(road.side);
    const float roadHalf = 0.5f * vec3d(road.right.x - road.left.x, 0.0f, road.right.z - road.left.z).length();
    const float first = blocker.across > 0.0f ? -1.0f : 1.0f;
    for (const float side : {first, -first}) {
        // Beside it, and half its length on, so that the line stays clear
        // until the own quad is past.
        const vec3d beside = blocker.at + right * (side * (blocker.clearance + 0.5f)) + forward * halfLength;
        if (alongWay) {
            const float off = std::fabs(vec3d(beside.x - road.centre.x, 0.0f, beside.z - road.centre.z).dot(roadSide));
            if (off + halfWidth > roadHalf)
                continue;
        }
        const vec3d towards = horizontalUnit(beside - here);
        out.kind = GiveWay::round;
        out.steering = std::clamp(towards.dot(right), -1.0f, 1.0f);
        return out;
    }
    // No room: brake while rolling on, then hold behind it.
    out.kind = GiveWay::behind;
    out.throttle = ownSpeed > QuadPhysics::Instance::brakeSpeed ? -1.0f : 0.0f;
    return out;
}

float AI::keepClearAlongside(const Game& race, const Game::Vehicle& own, const vec3d& here, float wanted) const
{
    const QuadPhysics::Instance* quad = own.getQuad();
    const EntityManager::Entity* body = quad ? quad->entity : nullptr;
    if (!body || !object || wanted == 0.0f)
        return wanted;
    const vec3d forward = horizontalUnit(object->world.row(2));
    const vec3d right = horizontalUnit(object->world.row(0));
    const float halfWidth = halfWidthOf(*body), halfLength = halfLengthOf(*body);
    for (auto* node = race.vehicles.head(); node; node = node->next) {
        const Game::Vehicle* other = node->item;
        const QuadPhysics::Instance* otherQuad = other && other != &own ? other->getQuad() : nullptr;
        const EntityManager::Entity* otherBody = otherQuad ? otherQuad->entity : nullptr;
        if (!otherBody)
            continue;
        // A quad that moves keeps its own line; one that stands is passed.
        if (std::fabs(otherQuad->velocity.dot(forward)) >= standingSpeed)
            continue;
        const vec3d at = otherBody->world.row(3);
        const vec3d offset(at.x - here.x, 0.0f, at.z - here.z);
        const float across = offset.dot(right);
        // Turning towards it, beside the own quad and within the clearance.
        if ((across > 0.0f) != (wanted > 0.0f))
            continue;
        if (std::fabs(offset.dot(forward)) > halfLength + halfLengthOf(*otherBody) + waitingGap)
            continue;
        if (std::fabs(across) < halfWidth + halfWidthOf(*otherBody) + passingClearance + 0.5f)
            return 0.0f;
    }
    return wanted;
}
