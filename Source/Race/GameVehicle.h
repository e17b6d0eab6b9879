#pragma once

#include "Race/Game.h"

#include "Entity/EntityManager.h"
#include "Entity/StaticEntity.h"
#include "Objects/Rocket.h"
#include "Vehicle/QuadPhysics.h"

#include "Way/WayTypes.h"

#include "Core/Color.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cstdint>

class Control;
class DynObject;

namespace Audio {
class Sound3D;
}

// The race state of one vehicle, the player's or an opponent's: made per
// start slot by the race set-up, kept in the race's vehicle list, ranked
// every frame. It owns the placed object of its quad and watches it come
// alive, to bind its quad then. It is also what a rocket hit damages.
// Main thread only.
class Game::Vehicle : public Object::Observer, public ObjPkgManager::Functions::Rocket::Victim
{
public:
    using QuadInstance = ObjPkgManager::Functions::QuadPhysics::Instance;

    // The state of a new vehicle: the slot's number, colour and opponent
    // name (slot 0 is the first; a slot above 7 gives number 1, slot 0's
    // colour and an empty name). The race set-up makes the player's. The
    // vehicle watches object's instances from now on.
    Vehicle(Game* game, Object* object, uint32_t slot);
    // release.
    virtual ~Vehicle();
    Vehicle(const Vehicle&) = delete;
    Vehicle& operator=(const Vehicle&) = delete;

    // The nitro sound stops; the object leaves the scene and goes; the next
    // gate is unmarked and forgotten.
    void release();
    // The object made its live instance: a dynamic object binds its quad.
    void instanceCreated(StaticEntity::Instance& instance) override;
    // Binds the quad of dyn (nothing without one): the player's quad reads
    // the application's controls, the vehicle's colours are painted and
    // position starts at the quad's centre.
    void attachToEntity(DynObject* dyn);

    // Once per frame while a race runs: the clocks, the course watch, the
    // carried flag and its points, the repair, the items and the fires.
    // Nothing without a dynamic object or its quad.
    void update();
    // Picks up the flag (or puts it down with null): its points start 1000
    // ms later, the quad slows to 0.8 while it carries; the race's target
    // gate is marked for it, or the first one chosen.
    void setCarriedItem(Object* item);
    // The quad's motor factor: 1 / ((1 - 0.4 x damage) x multiplier).
    void setMotorFactor(float multiplier);
    // A rocket of the race's package over the quad, fired at the rival
    // found for it; kept in the race's rocket list either way.
    void fireRocket();
    // An oil puddle of the race's package under the quad, spilt once.
    void dropOil();
    // Damage by amount (within 0..1), unless the race has damage off or a
    // hit came less than 1000 ms ago; the motor factor follows.
    void addDamage(float amount) override;
    // A hit pulses the player's force feedback: non-zero for the player's
    // vehicle, whose quad runs the rumble.
    uint32_t forceFeedback() const override;
    // A repair kit: up to 0.5 of the damage is healed over the next frames
    // (the player hears the repair while it lasts, above 0.05 damage).
    void repair();
    // The quad's fires 0 and 1 (damage) and 2 (nitro), those it has.
    void setDamageFires(uint32_t on);
    void setNitroFlame(uint32_t on);
    void stopNitroSound();
    // Steering and throttle on or off (unless finished) and the quad held
    // at its place or released; nothing without the quad's controls.
    void enableControls(uint32_t enabled, uint32_t hold);
    // The player's quad after the finish: the finish view.
    void handToDriver();
    // Hands the quad of dyn to an opponent driver, unless it has one: the
    // driver is added under its flag and the quad reads its controls.
    void createAIDriver(DynObject* dyn);
    void setCameraMode1();

    // The course watch (GameCourseWatch.cpp). checkGates: the first gate
    // the quad went through since the last update is passed when it is the
    // target; another than the last one passed warns the player.
    void checkGates();
    // The next gate, lap, split, points or finish of a passed gate, by mode;
    // share: how far along the frame's motion the quad went through it.
    void passGate(float share = 1.0f);
    // Marks or unmarks gate for the player (for every vehicle in the
    // points modes).
    void markGate(Gate* gate, uint32_t on);
    // The vehicle has finished; the race is over when it decides the race.
    // share orders it among those finishing in the same frame (see
    // Crossing).
    void finish(float share = 1.0f);
    // Points in the points modes, however they are won (a gate, time with
    // the flag): reaching the race's goal finishes the vehicle, share as
    // for finish.
    void score(int32_t gained, float share = 1.0f);
    // Puts a quad back that lay overturned for 2000 ms while the race runs.
    void updateOverturn();
    // Follows the quad along the race's way list and warns about, then
    // mends, leaving the way, driving the wrong way and missing a gate.
    void updateCourse();
    // The vehicle's own stamps and deadlines, and those of its quad's
    // wheels, driver, display, camera and inventory, moved on by ms.
    void shiftDeadlines(uint32_t ms);

    // The instances of the quad's dynamic object: the quad, the head-up
    // display, the vehicle camera; null without them.
    DynObject* getDynObject() const;
    QuadInstance* getQuad() const;
    // Whether the quad stands in the way: slower than speed (units a second
    // over the ground) without throttle of its own, as a player's quad that
    // never started or stopped after a crash, or a quad backing out. Quads
    // pulling away (from the grid, or after a put-back) are not.
    static bool standing(const QuadInstance& quad, float speed);
    // Neither finished, knocked out nor given up (giving up finishes too).
    bool stillRacing() const { return !finished && !knockedOut && finishOrder != gaveUp; }
    ObjPkgManager::Functions::HUD* getHUD() const;
    ObjPkgManager::Functions::VehicleCamera* getCamera() const;
    ObjPkgManager::Functions::AI* getAIDriver() const;

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

    // Progress along the race's way list: wayRounds x its entries + the
    // index of the way node + the fraction along its segment, on any node of
    // the list; -1 without a way node on the race's course.
    float getTrackProgress() const;
    // The distance driven along the way list from its head, counted as the
    // progress is: wayRounds course lengths, the lengths of the segments
    // before the way node and how far along its own the quad last stood on
    // the way, on any node of the list; 0 without a way node on the race's
    // course.
    float getDrivenDistance() const;
    // The live entity of the quad, or null.
    EntityManager::Entity* entity() const;

    // The flags of the object functions the vehicle asks for.
    static constexpr uint32_t quadFlag = 0x2;
    static constexpr uint32_t cameraFlag = 0x4;
    static constexpr uint32_t hudFlag = 0x20;
    static constexpr uint32_t gateFlag = 0x40;
    static constexpr uint32_t fireFlag = 0x800;
    static constexpr uint32_t rocketFlag = 0x1000;
    static constexpr uint32_t oilPuddleFlag = 0x2000;
    static constexpr uint32_t aiDriverFlag = 0x400;
    // The item actions of the controls.
    static constexpr uint32_t rocketAction = 0x4;
    static constexpr uint32_t oilAction = 0x8;
    static constexpr uint32_t nitroAction = 0x10;

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
    // The order of the finish among the race's vehicles (1 the first), 0
    // while still racing; gaveUp for the player who gave the race up.
    uint32_t finishOrder = 0;
    static constexpr uint32_t gaveUp = 0xFFFFFFFFu;
    // When the quad crossed the line: the race's frame, and how far along
    // that frame's motion (1 for a crossing that is no gate's). Of two that
    // cross in one frame, the one that crossed later is behind, whatever
    // the order in which the race updated them.
    struct Crossing
    {
        uint32_t frame = 0;
        float share = 1.0f;
        bool laterThan(const Crossing& other) const
        {
            return frame != other.frame ? frame > other.frame : share > other.share;
        }
    };
    Crossing finishCrossing;
    // The laps completed up to the finish, and when the last of them was. A
    // lap completed stays completed, wherever the quad goes after it.
    int32_t lapsDone = 0;
    Crossing lapCrossing;
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
    // KnockOut: set once eliminated, whether or not a parking slot was free
    // for it (the slot is the one it drives to, null without one).
    uint32_t knockedOut = 0;
    Object* parkingSlot = nullptr;
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
    // How often the way tracking carried the quad over the way list's end:
    // +1 from its last node on to its head, -1 back. A lap's gate need not
    // stand where the list wraps, so the progress counts these rounds.
    int32_t wayRounds = 0;
    // The nearest cross-section of wayNode's segment when the quad last lay
    // on the way, at along (0 to 1) on it, the quad's centre then at wayAt.
    Way::Pos wayPoint;
    float wayAlong = 0.0f;
    vec3d wayAt;
    float startLane = 0.0f;
    // getDrivenDistance when the race started: the projection of the final
    // time counts the distance driven from the grid, not from the way
    // list's head.
    float drivenAtStart = 0.0f;

    // The quad set back on the way where it was last found, facing along
    // it: by the course watch, or by a driver wedged where it stands.
    void putBackOnWay(QuadInstance& quad);
    // A driver wedged where it stands is set back on the way: where it was
    // last found on it, or where no way is followed (the points modes), at
    // the way's cross-section nearest to it.
    void freeWedgedQuad(QuadInstance& quad);
    // wayPoint with its centre and edges beside where the quad last lay on
    // the way: the way keeps a straight run's cross-sections at its ends
    // only, so the nearest one can lie half the straight away from the quad.
    // Put back there, a quad skipped gates or lost half a straight, and at an
    // open way's last cross-section it was off the way again at once. The
    // fraction, heading and distance stay the nearest cross-section's, as
    // the gates' are. Worked out when asked, for a put-back or a set-up.
    Way::Pos wayPointBesideQuad() const;

private:
    // The quad of a dynamic object, or null.
    static QuadInstance* quadOf(DynObject* dyn);
    // update's steps: the flag follows the quad and scores; the repair runs
    // on; the item keys are read.
    void carryItem(const EntityManager::Entity& body);
    void updateRepair();
    void useItems(QuadInstance& quad);
    // Whether the mode lets this vehicle fire now.
    bool mayFireRocket() const;
    void startNitroSound();
    // The rocket is sent at the rival found for it; the puddle is spilt.
    void launchRocket(DynObject& rocket, QuadInstance& quad);
    void spillOil(DynObject& puddle, QuadInstance& quad);
    // The course watch's talk to the player: a message of the language for
    // duration ms, the compass, the flash, the camera turned along the
    // quad; each only where the instance exists.
    void showMessage(const wchar_t* key, uint32_t duration);
    void hideMessage();
    void showCompass(bool show);
    void showBeam();
    void lookAlongQuad(QuadInstance& quad);
    // Leaves a warning: the compass off and the wrong-way sound stopped for
    // the player, then course state 0.
    void cancelWarning();
    // Leaves a warning that is shown: the message hidden too.
    void endShownWarning();
    // passGate's steps: the split of the new next gate (player), the lap
    // the last gate completed.
    void takeSplit(uint32_t now);
    void completeLap(uint32_t now, float share);
    void showLapTimes(int32_t lapMs, int32_t differenceMs);
    // The head-up display's best-lap text (lap) or record texts (else).
    void updateRecordTexts(bool lap);
    // The quad's motor factor.
    void applyMotorFactor(QuadInstance& quad, float factor);
    // Where a quad set back on the way lands: the way point's centre unless
    // another quad stands there or a static object there or a few lengths
    // ahead (a post it would drive into); then the nearest free place across
    // the road, or a little further back along it. The centre when the road
    // is full.
    vec3d freeSpotOnWay(const QuadInstance& quad) const;
    // The same search round centre, rows back against forward and places
    // out to reach on both sides; centre when none is free.
    vec3d freeSpotNear(const QuadInstance& quad, const vec3d& centre, const vec3d& forward, const vec3d& side,
                       float reach) const;
    bool isOverturned() const;
    // The live object whose quad getQuad found last, and that quad.
    mutable StaticEntity::Instance* boundObject = nullptr;
    mutable QuadInstance* boundQuad = nullptr;
    // The place of wayNode in the course's list as getTrackProgress last
    // counted it: the node changes seldom, and the ranking asks every frame.
    mutable const Way::PointNode* indexedNode = nullptr;
    mutable const Way::PointList* indexedList = nullptr;
    mutable int32_t wayIndex = 0;

};
