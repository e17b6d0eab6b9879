#include "Race/GameVehicle.h"

#include "Race/GameGate.h"

#include "Entity/StaticEntity.h"

#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/Matrix.h"

#include <cmath>

Game::Vehicle::Vehicle(Game* owner, Object* placed, uint32_t startSlot)
    : slot(startSlot), game(owner), object(placed)
{
    const int32_t number = getPlayerNumber(startSlot < 8 ? int32_t(startSlot) : -1);
    color = getPlayerColor(number - 1);
    name = getOpponentName(startSlot < 8 ? int32_t(startSlot) : -1);
}

Game::Vehicle::~Vehicle()
{
    if (object) {
        object->remove();
        delete object;
    }
}

EntityManager::Entity* Game::Vehicle::entity() const
{
    return object ? object->instance : nullptr;
}

float Game::Vehicle::getTrackProgress() const
{
    const Way::PointList* course = game ? game->course : nullptr;
    if (!course || !wayNode || wayNode->owner != course || !wayNode->prev || !wayNode->next)
        return -1.0f;
    int32_t index = 0;
    for (const Way::PointNode* node = course->head(); node && node != wayNode; node = node->next)
        ++index;
    return float(lap - 1) * float(course->count()) + float(index) + wayPoint.t;
}

float Game::Vehicle::getDrivenDistance(uint32_t anyNode) const
{
    const Way::PointList* course = game ? game->course : nullptr;
    if (!course || !wayNode || wayNode->owner != course)
        return 0.0f;
    if (!anyNode && (!wayNode->prev || !wayNode->next))
        return 0.0f;
    float distance = 0.0f;
    for (const Way::PointNode* node = course->head(); node; node = node->next) {
        if (node == wayNode) {
            distance += wayPoint.distance;
            break;
        }
        if (const Way::Point* point = node->item; point && point->segment)
            distance += point->segment->length;
    }
    return distance + float(lap - 1) * game->courseLength;
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

bool gateTarget(const Game::Gate* gate, uint32_t kind, Game::Vehicle::Target& out)
{
    if (!gate || !gate->object)
        return false;
    objectTarget(*gate->object, gate, kind, out);
    return true;
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
    case KnockOut: return nextGate != nullptr || parkingSlot != nullptr;
    default: return false;
    }
}

Game::Vehicle::Target& Game::Vehicle::getTargetPosition(Target& out) const
{
    if (courseState == offWayWarned || courseState == wrongWayShown) {
        out.position = wayPoint.centre;
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
