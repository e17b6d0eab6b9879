// The course of a race: distances along the road of the Start object, the
// gates a target is drawn from, a gate's passage window and the parking
// slots of eliminated vehicles.
#include "Race/Game.h"

#include "Race/GameGate.h"
#include "Race/GameVehicle.h"

#include "Entity/Entity.h"
#include "Entity/StaticEntity.h"

#include "Objects/ObjectPackage.h"

#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/CrashTrace.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

// 1 behind the plane, 2 on it (within a thousandth), 0 in front.
int sideOf(float distance)
{
    if (distance < -0.001f)
        return 1;
    return distance <= 0.001f ? 2 : 0;
}

}

Game::Gate::Window::Window(const BoundingBox& box, const matrix3d& transform)
    : centre(transform.transformPoint(box.center))
{
    const vec3d half = box.maximum - box.center;
    const float halves[3] = {half.x, half.y, half.z};
    for (int i = 0; i < 3; ++i) {
        const vec3d row = transform.row(i);
        axes[i] = row.normalised();
        extents[i] = halves[i] * row.length();
    }
}

bool Game::Gate::Window::isPassedBy(const vec3d& from, const vec3d& to, float radius, float* share) const
{
    // A gate of no size has no passage (a zero extent would still let a
    // motion exactly through the centre pass).
    if (!passable())
        return false;
    const vec3d& ax = axes[0];
    const vec3d& ay = axes[1];
    const vec3d& az = axes[2];
    // Most motions stay on one side of a gate: that is told first.
    const vec3d toCentre = centre - from;
    const float before = toCentre.dot(az);
    if (sideOf((centre - to).dot(az)) == sideOf(before))
        return false;
    // Near enough anywhere along the motion: in a slow machine's long frame
    // a quad at full speed ends farther past a gate than the gate's size.
    const float reach = (ax * extents[0] + ay * extents[1] + az * extents[2]).length();
    const vec3d motion = to - from;
    const float lengthSq = motion.lengthSq();
    const float nearest = lengthSq > 0.0f ? std::clamp(toCentre.dot(motion) / lengthSq, 0.0f, 1.0f) : 1.0f;
    if ((motion * nearest - toCentre).lengthSq() > (radius + reach) * (radius + reach))
        return false;
    // Where the motion crosses the gate's plane.
    const float across = motion.dot(az);
    const float crossing = across != 0.0f ? before / across : 0.0f;
    const vec3d offset = motion * crossing - toCentre;
    if (std::abs(offset.dot(ax)) > extents[0] || std::abs(offset.dot(ay)) > 2.0f * extents[1] ||
        std::abs(offset.dot(az)) > extents[2])
        return false;
    if (share)
        *share = std::clamp(crossing, 0.0f, 1.0f);
    return true;
}

bool Game::Gate::windowOf(const Object& placed, Window& window)
{
    const auto* package = dynamic_cast<const ObjPkgManager::Package*>(placed.getObject());
    if (!package)
        return false;
    BoundingBox box = ObjPkgManager::Package::originBox();
    package->calcBoundingBox(box);
    matrix3d transform;
    placed.getTransform(transform, false);
    window = Window(box, transform);
    return true;
}

const Game::Gate::Window* Game::Gate::window()
{
    if (!object || !object->getObject())
        return nullptr;
    const vec3d position = object->getPosition();
    if (keptPackage != object->getObject() || keptPosition != position || keptRotation != object->rotation ||
        keptScale != object->scale) {
        if (!getWindow(kept))
            return nullptr;
        keptPackage = object->getObject();
        keptPosition = position;
        keptRotation = object->rotation;
        keptScale = object->scale;
    }
    return &kept;
}

float Game::courseDistanceOf(const vec3d& point) const
{
    if (!course)
        return 0.0f;
    float before = 0.0f;
    for (const Way::PointNode* node = course->head(); node; node = node->next) {
        const Way::Point* entry = node->item;
        if (!entry || !entry->segment)
            continue;
        Way::Pos crossSection;
        if (!entry->segment->positions.empty() && entry->segment->holds(point, &crossSection))
            return before + crossSection.distance;
        before += entry->segment->length;
    }
    return before;
}

float Game::courseOffsetFrom(const vec3d& point, const Way::PointNode* node) const
{
    if (!course || !course->head())
        return 0.0f;
    const Way::PointNode* start = node ? node : course->head();
    // Each walker wraps from one end of the list to the other.
    auto forward = [this](const Way::PointNode* n) { return n->next ? n->next : course->head(); };
    auto backward = [this](const Way::PointNode* n) { return n->prev ? n->prev : course->tail(); };
    const Way::PointNode* ahead = start;
    const Way::PointNode* behind = start;
    float aheadCount = 0.0f;
    float behindCount = 0.0f;
    // Both walkers are back at the start after one round of the list.
    for (int32_t steps = 0; steps <= course->count(); ++steps) {
        Way::Pos crossSection;
        if (const Way::Segment* segment = Way::segmentOf(ahead)) {
            if (segment->holds(point, &crossSection))
                return aheadCount + crossSection.t;
            aheadCount += 1.0f;
        }
        if (const Way::Segment* segment = Way::segmentOf(behind)) {
            if (segment->holds(point, &crossSection))
                return behindCount - crossSection.t;
            behindCount -= 1.0f;
        }
        ahead = forward(ahead);
        behind = backward(behind);
        if (ahead == start || behind == start)
            return 0.0f;
    }
    return 0.0f;
}

void Game::collectGates(std::vector<Gate*>& candidates) const
{
    candidates.clear();
    for (auto* node = gates.head(); node; node = node->next)
        if (node->item && node->item->object)
            candidates.push_back(node->item);
    // Before the first target only the gates that do not lie behind the
    // player; all of them when every gate does.
    const Vehicle* player = getPlayerVehicle();
    const EntityManager::Entity* quad = player ? player->entity() : nullptr;
    if (targetGate || !quad)
        return;
    const vec3d position = quad->world.row(3);
    const vec3d facing = quad->world.row(2).normalised();
    std::vector<Gate*> ahead;
    for (Gate* gate : candidates)
        if ((gate->object->getPosition() - position).dot(facing) >= 0.0f)
            ahead.push_back(gate);
    if (!ahead.empty())
        candidates = std::move(ahead);
}

void Game::sortGatesByDistance(std::vector<Gate*>& candidates, const vec3d& from)
{
    std::vector<std::pair<float, Gate*>> keyed;
    keyed.reserve(candidates.size());
    for (Gate* gate : candidates)
        keyed.emplace_back((gate->object->getPosition() - from).lengthSq(), gate);
    std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    candidates.clear();
    for (const auto& [distanceSq, gate] : keyed)
        candidates.push_back(gate);
}

void Game::pickTargetGate(int32_t limit, const Vehicle* nearVehicle)
{
    CRASH_TRACE();
    std::vector<Gate*> candidates;
    collectGates(candidates);
    const EntityManager::Entity* nearQuad = nearVehicle ? nearVehicle->entity() : nullptr;
    if (limit >= 0 && nearQuad) {
        sortGatesByDistance(candidates, nearQuad->world.row(3));
        if (candidates.size() > size_t(limit))
            candidates.resize(size_t(limit));
    }
    // The new target is drawn among the others: without another gate the
    // target stays as it is.
    Gate* previous = targetGate;
    candidates.erase(std::remove(candidates.begin(), candidates.end(), previous), candidates.end());
    if (candidates.empty())
        return;
    if (previous)
        previous->setMarked(0);
    targetGate = candidates[size_t(std::rand()) % candidates.size()];
    targetGate->setMarked(1);
}

void Game::claimTargetGate(Vehicle& vehicle, float share)
{
    if (!targetPasser || share < targetPassShare) {
        targetPasser = &vehicle;
        targetPassShare = share;
    }
}

void Game::scoreTargetGate()
{
    Vehicle* passer = targetPasser;
    targetPasser = nullptr;
    if (passer)
        passer->passGate(targetPassShare);
}

Object* Game::findFreeParkingSlot() const
{
    for (auto* slot = parkingSlots.head(); slot; slot = slot->next) {
        bool held = false;
        for (auto* node = vehicles.head(); node && !held; node = node->next)
            held = node->item && node->item->parkingSlot == slot->item;
        if (!held)
            return slot->item;
    }
    return nullptr;
}
