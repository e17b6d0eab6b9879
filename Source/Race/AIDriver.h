#pragma once
// The computer driver of an opponent's quad: the object function of flag
// 0x400 on the opponent's dynamic object. The quad reads its steering,
// throttle and item buttons through the driver's own Control record, the
// same way the player's quad reads the player's bindings. Each frame it
// revs on the grid during the countdown; while the race runs it keeps a
// path to its next target, steers along it, takes a speed from the bend
// ahead and the difficulty, backs out when stuck, detours to pick-ups it
// needs and fires its rockets, drops its oil and burns its nitro.
//
// Every timer reads the race clock and every draw the C run-time rand().
// Main thread, but for onCollision (physics thread), which only sets the
// contact mark. The quad's step never reads the Control record, so a
// deleted driver is never touched by the physics.

#include "Race/AIPath.h"
#include "Race/Game.h"

#include "Objects/ObjectFuncInst.h"

#include "Application/ControlBindings.h"

#include "Core/ConvexVolume.h"
#include "Core/Vector.h"

#include <atomic>
#include <cstdint>

class DynObject;
class Scene;

class ObjPkgManager::Functions::AI final : public ObjectFuncInstInterface
{
public:
    static constexpr uint32_t flag = 0x400;

    // The pick-up kinds, as their packages' Collect values name them.
    enum PickUpKind : int32_t { NitroKind = 1, OilKind = 2, RepairKitKind = 3, RocketPackKind = 4 };

    // The target as the path takes it: a plane through the target point
    // whose normal faces the side the driver comes from.
    struct TargetPlane
    {
        ConvexVolume::Plane plane;
        vec3d approachPoint;
        uint32_t kind = 0;            // the target point's path type
        const void* target = nullptr; // what the target belongs to
    };

    // A driver of the race of scene for the quad of driven; its Control
    // record binds the item buttons and both axes to the driver's fields.
    AI(Scene* scene, DynObject* driven);
    // The quad's controls stop pointing here, then the path goes.
    ~AI() override;

    // The frame, by the race's phase: revving on the grid (1 and 2) or
    // driving (3 and 4).
    void update() override;
    // Between the pieces of a long frame, while the race runs: the driving of
    // a frame from where the quad stands now, but for pick-ups and items,
    // which wait for the frame (an item's button is held a whole frame).
    void driveBetweenPieces();
    // Physics thread: the contact mark, and the body hit.
    void onCollision(EntityManager::Physics::Collision& contact) override;

    // The target plane of the vehicle's target; false when it has none.
    bool targetPlane(TargetPlane& out) const;
    // start = the object's position, the rest from the target plane; the
    // target's owner, or null without a target.
    const void* readTarget(vec3d& start, TargetPlane& plane) const;
    // Rebuilds the path towards the target (forced or only for a new one);
    // a build clears needsPath. Whether the path was built.
    bool replan(bool force);
    // Whether the object moves less than 0.25 units per 1/35 s.
    bool isStalled() const;
    // The pick-up of kind in view ahead of the driver, on this side of the
    // target and towards it, nearest to the path; false when none. A pick-up
    // given up on the way to the present target is not taken again.
    bool findPickup(int32_t kind, vec3d& position) const;
    // Detours to position when it lies near enough the path for weight.
    void tryDetour(const vec3d& position, float weight);
    // The course watch put the quad back: the stall and reverse start over.
    void clearStuckTimers();

    // What the driver does about a quad in its lane ahead that it closes on
    // or that stands (AIGiveWay.cpp): nothing when there is none, steer
    // round it on a side with room, or, with room on neither, stop behind
    // it. Pushed along, a standing quad is driven down the road or off it.
    struct GiveWay
    {
        // slowing: one on the path round a bend ahead, not yet on the heading
        enum Kind { none, round, behind, slowing } kind = none;
        float steering = 0.0f; // round: towards the point beside it
        // round and slowing: the most throttle (backing off where it touches,
        // braking where it could not stop short); behind: braking, then holding
        float throttle = 0.0f;
    };
    static constexpr float passingClearance = 1.5f; // units between the quads' sides
    static constexpr float lookAheadTime = 2.5f;    // s of closing speed looked ahead
    // The driver steers at the place on its path it reaches in aimTime at
    // its speed, nearestAim units on at least: aimed at a point only a few
    // units ahead, a quad at speed swings across the road and back again.
    static constexpr float aimTime = 0.45f;
    static constexpr float nearestAim = 25.0f;
    // The sideways pull (units a second squared) a driver asks of the
    // wheels in a turn, and the speed above a turn's over which it lifts
    // off the throttle fully.
    static constexpr float turnGrip = 30.0f;
    static constexpr float arcEase = 8.0f;
    // Also keeps backingOff: set where the quads touch or stand too close to
    // turn out, cleared once a quad's length lies between them.
    GiveWay giveWay(const Game& race, Game::Vehicle& own, const vec3d& here, uint32_t now, bool wholeFrame);
    uint32_t backingOff = 0;
    // Whether giveWay last saw another quad standing or crawling.
    bool slowQuadNear = false;
    // wanted, or none where it would turn the quad nearer a standing one
    // alongside it within the clearance; looks only where giveWay (called
    // first) saw one.
    float keepClearAlongside(const Game& race, const Game::Vehicle& own, const vec3d& here, float wanted) const;
    // Whether a standing or crawling quad lies behind the own one, in the
    // line it backs along, within the way it backs in lookAheadTime (and
    // the waiting gap); looks only where giveWay saw one.
    bool standingQuadBehind(const Game& race, const Game::Vehicle& own, const vec3d& here) const;
    // The own quad as the looks for a standing one see it: its body, its
    // velocity, its level heading and right.
    struct OwnQuad
    {
        const EntityManager::Entity& body;
        vec3d velocity, forward, right;
    };
    template <typename Test>
    bool anyStandingQuad(const Game& race, const Game::Vehicle& own, const vec3d& here, Test test) const;

    // The race state of the driven quad, or null.
    Game::Vehicle* vehicle() const;
    Game* game() const;

    Scene* scene;
    DynObject* object;
    Control controls;
    float steering = 0.0f;
    float throttle = 0.0f;
    float nitroStopLevel = 0.0f;
    uint8_t fireRocket = 0;
    uint8_t dropOil = 0;
    uint8_t useNitro = 0;
    uint32_t refreshTime = 0;
    uint32_t countdownTime = 0;
    uint32_t reverseTime = 0;
    uint32_t rocketTime = 0;
    uint32_t nitroTime = 0;
    uint32_t oilTime = 0;
    uint32_t needsPath = 1;
    uint32_t reverseState = 0; // 0 driving, 1 stalled, 2 reversing
    // The back-outs in a row begun within backOutReach of backOutPlace.
    uint32_t backOuts = 0;
    vec3d backOutPlace;
    static constexpr uint32_t mostBackOuts = 3;
    static constexpr float backOutReach = 10.0f;
    Path path;
    vec3d detourPoint;
    uint32_t detourActive = 0;
    uint32_t countdownState = 0;
    // The pick-up whose detour bent the path back on itself, and the target
    // it was given up for: fetched again at once, the driver would turn to
    // it and away from it every frame and get nowhere.
    vec3d givenUpPickup;
    const void* givenUpTarget = nullptr;
    std::atomic<uint32_t> contact{0};
    // The body the quad last hit (physics thread), taken each whole frame
    // into touchedQuad: the quad it pushes, if it pushes one.
    std::atomic<const EntityManager::Entity*> lastHit{nullptr};
    const EntityManager::Entity* touchedQuad = nullptr;

private:
    void revOnGrid(uint32_t now);
    // The race's driving; wholeFrame clear leaves the stall, pick-ups and
    // items alone.
    void drive(Game& race, Game::Vehicle& own, uint32_t now, bool wholeFrame);
    // The stall and back-out states of a whole frame at here, on the world's
    // clock; a driver wedged where it stood is set back on the way.
    void judgeStall(Game::Vehicle& own, const vec3d& here, uint32_t worldNow);
    // The steering towards ahead, the place on its path the driver steers
    // at (before the first path, at the target), across the road's
    // direction near the current point along roads; then the points passed.
    void steerAt(const vec3d& here, const vec3d& ahead, bool alongRoads);
    // The speed (units a second) at which the quad can make the arc from
    // here, along its heading, to ahead; infinite while it heads straight
    // at it or stands on it.
    float turnSpeed(const vec3d& here, const vec3d& ahead) const;
    // Steps 14 to 17 of the frame: pick-ups, rockets, oil and nitro.
    void seekPickups(Game& race, Game::Vehicle& own, const Game::Vehicle* ahead);
    void useItems(Game& race, Game::Vehicle& own, uint32_t now);
    // Where the object stands and its axes.
    vec3d position() const;
};
