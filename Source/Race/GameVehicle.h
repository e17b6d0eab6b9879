#pragma once

#include "Race/Game.h"

#include "Entity/EntityManager.h"

#include "Way/WayTypes.h"

#include "Core/Color.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cstdint>

namespace Audio {
class Sound3D;
}

// The race state of one vehicle, the player's or an opponent's: made per
// start slot by the race set-up, kept in the race's vehicle list, ranked
// every frame. It owns the placed object of its quad. Main thread only.
class Game::Vehicle
{
public:
    // The state of a new vehicle: the slot's number, colour and opponent
    // name (slot 0 is the first; a slot above 7 gives number 1, slot 0's
    // colour and an empty name). The race set-up makes the player's.
    Vehicle(Game* game, Object* object, uint32_t slot);
    // Takes the object out of the scene and deletes it.
    virtual ~Vehicle();
    Vehicle(const Vehicle&) = delete;
    Vehicle& operator=(const Vehicle&) = delete;

    // Where a driver or the compass heads: a point, the direction in which
    // to pass it (unit or zero) and how far beyond it along that direction a
    // driver may aim.
    struct Target
    {
        enum Kind : uint32_t { CourseGate = 0, Flag = 1, RaceGate = 2, ParkingSlot = 3 };
        vec3d position;
        vec3d direction;
        float lead = 0.0f;
        // What the target belongs to, by kind: the Game::Gate (0 and 2), the
        // flag's Object (1), the parking slot's Object (3); the vehicle's own
        // wayPoint when it is led back to the way (kind 0).
        const void* object = nullptr;
        uint32_t kind = CourseGate;
    };
    // Course states that lead the vehicle back along the way (off the way
    // and warned; driving the wrong way).
    static constexpr uint32_t offWayWarned = 3;
    static constexpr uint32_t wrongWayShown = 5;

    // Whether the vehicle has somewhere to head: back to the way in course
    // states 3 and 5, else by mode (the next gate, the flag, the race's
    // target gate, or in KnockOut the parking slot too).
    bool hasTarget() const;
    // Fills out with the target; out stays as the caller prepared it when
    // the gate or object needed is missing. Returns out.
    Target& getTargetPosition(Target& out) const;

    // The other vehicles with a quad that stand beside this one: the
    // direction from each to this quad within about 45 degrees of its side
    // axis (|cosine| above 0.7).
    int32_t countVehiclesAlongside() const;
    // Where across the road to drive, 0..1: between the middle and the
    // start lane, kept the more firmly the more vehicles are alongside.
    float getLanePreference() const;

    // Progress along the race's way list: (lap - 1) x its entries + the
    // index of the way node + the fraction along its segment; -1 on the
    // list's first or last node or without one.
    float getTrackProgress() const;
    // The distance driven along the way list from its head: the lengths of
    // the segments before the way node, the distance along its own, and
    // (lap - 1) course lengths. 0 without a way node, and, unless anyNode is
    // set, on the list's first or last node.
    float getDrivenDistance(uint32_t anyNode) const;
    // The live entity of the quad, or null.
    EntityManager::Entity* entity() const;

    uint32_t slot;
    vec3d position;
    uint32_t isPlayer = 0;
    String name{L"Player"};
    Color color{255, 255, 255, 255};
    int32_t points = 0;
    int32_t place = 1; // 99 after giving up
    uint8_t oil = 0;
    uint8_t rockets = 0;
    float nitro = 0.0f;
    float damage = 0.0f;
    float repairLeft = 0.0f;
    Object* carriedItem = nullptr; // not owned
    uint32_t courseState = 0;
    uint32_t finished = 0;
    int32_t lap = 1;
    int32_t gatesPassed = 0;
    SCList<Gate>::Node* nextGate = nullptr;
    Gate* lastGate = nullptr;
    uint32_t raceStart = 0;
    uint32_t lapStart = 0;
    uint32_t bestLap = 0;
    RaceTime lapTime;
    RaceTime raceTime;
    float nextGateDistSq = 0.0f;
    uint32_t rocketHeld = 0;
    uint32_t oilHeld = 0;
    uint32_t nitroOn = 0;
    Object* parkingSlot = nullptr; // KnockOut: set once eliminated
    Game* game;
    Object* object; // owned
    uint32_t overturnTime = 0;
    uint32_t offWayTime = 0;
    uint32_t wrongWayTime = 0;
    uint32_t missedGateTime = 0;
    uint32_t itemTime = 0;
    uint32_t damageTime = 0;
    Audio::Sound3D* nitroSound = nullptr; // owned
    Way::PointNode* wayNode = nullptr;
    Way::Pos wayPoint;
    float startLane = 0.0f;
};
