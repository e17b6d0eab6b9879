#include "Race/GameVehicle.h"

#include "Entity/StaticEntity.h"

#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

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
