#pragma once

#include "Race/RaceRecords.h"
#include "Race/RaceTime.h"

#include "Landscape/CameraPath.h"

#include "Entity/EntityManager.h"
#include "Entity/StaticEntityManager.h"

#include "Way/WayTypes.h"

#include "Core/Color.h"
#include "Core/SCList.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cstdint>
#include <vector>

class Control;
class FileInterface;
class StaticEntity;
class GlobalSettings;
class Object;
class Scene;

namespace Audio {
class FileRef;
class Sound2D;
}

// What the menu chooses before a race; Game::applyRaceChoice copies it whole.
struct RaceChoice
{
    String mapFile{L""};
    // 1 the gates alone, 2 then the Goal as the final gate, 3 then the Start
    // (course distances taken between Goal and Start). Also read from the
    // map's race settings; other values are kept as read.
    int32_t courseType = 0;
    int32_t gameMode = 0;     // Game::Mode
    int32_t difficulty = 0;   // 0 Easy, 1 Medium, 2 Hard
    int32_t items = 1;        // 0: the pick-ups are taken out of the race
    int32_t vehicleCount = 3; // the player included
    int32_t goal = 2;         // laps, points to win or checkpoints, by mode
    int32_t daytime = 0;      // 0 Day, 1 Sunrise, 2 Sunset
    int32_t championship = 0; // 1 for a championship race
    int8_t championshipKey[2] = {0, 0};
};

// The race logic: the player's race choice, the standings, race times,
// points and championship progress, and each map's lap and race records.
// One instance, a member of the scene, built with it before the program's
// entry function runs: the constructor touches no device, language or
// resource. It reaches the application through Game::Interface.
// Main thread only.
class Game
{
public:
    // The application's side (it owns the settings file).
    class Interface
    {
    public:
        // The player's name and colour from the settings.
        virtual String getSettingNameGame() = 0;
        virtual Color getSettingCharGame() = 0;
        // Saves the settings file; the championship table goes with it.
        virtual void saveSettings() = 0;
        // The player's controls, which the player's quad reads; null for none.
        virtual Control* getPlayerControls() { return nullptr; }
        // Hides (or shows) the mouse cursor where the display lets a race
        // hide it.
        virtual void setCursorShown(bool shown) { (void)shown; }

    protected:
        ~Interface() = default;
    };

    using Records = RaceRecords;
    class Vehicle;
    class Gate;
    // One level of the map folder as the country choice lists it (GameMapInfo.h).
    struct MapInfo;

    enum Mode : int32_t {
        OffRoadRace = 1,
        CaptureTheFlag = 2,
        Jamboree = 3,
        KnockOut = 4,
        Circuit = 5,
        TimeTrial = 6,
    };

    // The object packages the race places, in the order of packages[].
    enum Package : int32_t {
        QuadPackage,
        PlayerSlotPackage,
        GatePackage,
        CaptureFlagPackage,
        RocketPackage,
        NitroPackage,
        RepairKitPackage,
        RocketPackPackage,
        OilPackage,
        OilPuddlePackage,
        StartPackage,
        GoalPackage,
        PlayerParkingSlotPackage,
        PodiumPackage,
        packageCount
    };
    // The names the application looks the packages up by, in that order.
    static const wchar_t* const packageNames[packageCount];
    static constexpr float startVehicleScale = 5.0f;

    // The progress of one championship (13 bytes, stored field by field): a
    // record whose two key bytes are 0 is free. points[0] is the player's,
    // 1 to 7 the opponents' in slot order.
    struct ChampionshipEntry
    {
        int8_t key0 = 0;
        int8_t key1 = 0;
        uint8_t difficulty = 0; // being played
        uint8_t unlocked = 0;   // highest difficulty won so far
        uint8_t raceNumber = 0; // the next race, 0..6
        uint8_t points[8] = {};

        bool operator==(const ChampionshipEntry&) const = default;
    };
    static_assert(sizeof(ChampionshipEntry) == 13, "the championship record is 13 bytes");
    static constexpr int championshipCount = 32;
    static constexpr int championshipRaces = 7;
    static constexpr int maxRanked = 8;
    // The key of "no time".
    static constexpr int32_t noTime = 5940000;

    // The race's sounds, in the order of sounds[].
    enum Sound : int32_t {
        StartSound,
        DingSound,
        GateSound,
        WrongGateSound,
        RepairSound,
        NitroSound,
        WrongWaySound,
        soundCount
    };

    // Neither the scene nor the callbacks are used before the program runs.
    Game(Scene* scene, Interface* callbacks);
    // Deletes the vehicles left in the list.
    ~Game();
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // The language texts of a mode's name and its goal label ("Laps",
    // "MaxPoints", "Checkpoints"); empty for another mode or a missing text.
    static String getModeName(int32_t mode);
    static String getModeGoalText(int32_t mode);
    // Whether a mode's quads keep to the course's way: not in the points
    // modes, whose flag and target gates are reached across the country.
    // Where they keep to it, the course watch sets back a quad off it.
    static bool followsTheWay(int32_t mode);

    // Looks each name up (null when missing); scale becomes vehicleScale.
    void loadObjectTypes(StaticEntityManager::PackageFinder& finder, const wchar_t* const (&names)[packageCount],
                         float scale);
    // Copies choice and settles its mode's vehicles and laps, then sets the
    // scene's time of day by its daytime (Day 12.5, Sunrise 9.2, Sunset 18.5
    // hours; another value keeps the level's) and applies it.
    void applyRaceChoice(const RaceChoice& newChoice);
    // What a mode fixes of a race: TimeTrial runs alone, 3 laps on a course
    // of type 1 or 2 and 1 of type 3; a KnockOut runs one lap fewer than it
    // has vehicles, the last of each lap going out.
    static void applyModeRules(RaceChoice& race);
    // Fills choice for the entry's next race: the schedule's course type,
    // mode, vehicles, goal, daytime and (by the entry's difficulty) items,
    // the map of the entry's country and course type from folder, the
    // entry's difficulty and key, championship 1.
    static void makeChampionshipChoice(const ChampionshipEntry& entry, RaceChoice& choice, const String& folder);
    // The first "*.tee" of folder whose map name starts with the two key
    // characters and whose course type is courseType; empty when none. Reads
    // each map's head into a record of its own: no race state changes.
    static String findChampionshipMap(const String& folder, const int8_t (&key)[2], int32_t courseType);

    // The race settings block of a level: tag 1 the course type (into
    // choice), tag 2 the reference lap time, tag 0. A tag not known carries
    // no field. In header mode the read stops right after tag 1. False when
    // the data ended first (a header-mode stop counts as read).
    bool readSceneSettings(FileInterface& stream, bool headerOnly);
    void writeSceneSettings(FileInterface& stream) const;
    // The same block into the given fields.
    static bool readRaceSettings(FileInterface& stream, bool headerOnly, int32_t& courseType, RaceTime& reference);
    // What a level without race settings has.
    void clearSceneSettings();

    // Player slot tables for slots 0..7; another slot gives slot 0's colour,
    // number 1 and an empty name.
    static Color getPlayerColor(int32_t slot);
    // 1..8 for the first table colour equal in all four bytes, else 0.
    static int32_t findPlayerColorIndex(const Color& color);
    static int32_t getPlayerNumber(int32_t slot);
    static String getOpponentName(int32_t slot);
    // The first vehicle of the list that is the player's, or null.
    Vehicle* getPlayerVehicle() const;
    // The race clock less what the scene's physics has fallen behind it: the
    // clock that judges how the quads move (stuck, off the way, the wrong
    // way, overturned), so that a world stepped slower than the clock (below
    // five frames a second, or frames of uneven length) is given the time it
    // takes. The race clock itself without physics.
    uint32_t worldNow() const;
    // Whether a quad of the race is standing (Vehicle::standing). Every driver asks each frame,
    // so the quads are looked at once for a race clock's millisecond now.
    bool quadStanding(float speed, uint32_t now) const;

    // Plays a race sound (nothing when it is not loaded): one-shots at
    // their volume; the repair and wrong-way sounds loop in sound objects of
    // their own and do not restart while they play.
    void playSound(int32_t index);
    // The looping repair or wrong-way sound stops and goes.
    void stopRepairSound();
    void stopWrongWaySound();

    // The race's frame (GamePhases.cpp), nothing while paused: the intro
    // flight's end starts the countdown (clocks set, the player's camera and
    // head-up display on), 3000 ms later the race runs (a decided race at
    // once, without the start sound), a decided race ends a frame later;
    // then the standings, every vehicle's update, the knock-out rounds that
    // ended, spent rockets and oil.
    void update();
    // Between two pieces of a frame the physics steps in pieces: every
    // driver drives again and every quad turns its steering by its share of
    // the frame, as at thirty frames a second. Nothing while paused.
    void steerBetweenPieces();
    // The reference frames (1/35 s) of world one piece of this frame steps:
    // each quad follows its controls once a piece by it, as far as the world
    // moves meanwhile (by the frame's own factor it would steer ahead of a
    // world held back, or behind a world catching up). 0 while paused, and
    // without a simulator that has measured a frame.
    float pieceFactor() const;
    // Steering and throttle on and the quads released; each vehicle's
    // driven distance at the start noted.
    void startVehicles();
    // The player finishes out of the race: place 99 with no time, or -1
    // points in the points modes. Nothing without a player.
    void giveUpRace();
    // The race's seven sounds from the resource archive ("SNDStart",
    // "SNDDing", "SNDGateOK", "SNDWrongGate", "SNDRepair", "SNDNitro",
    // "SNDWrongWay"), after releasing those held; a missing one stays null.
    void loadSounds();
    // The sounds go, then clearRace.
    void releaseSounds();
    // Everything of a race goes: vehicles (the physics held meanwhile),
    // gates, rockets, oil, kept sounds, marks and splits; flag, parking
    // slots, podium and pick-ups taken out; phase 0. Nothing without the
    // scene's entities.
    void clearRace();
    // The player slots given back, the scene camera freed from the player,
    // the vehicles deleted.
    void removeRaceVehicles();
    // The parking slots given back and the list emptied.
    void releaseParkingSlots();
    // The objects of a kind taken out of the race (hide 1: state 255 and
    // hidden) or given back (0). The flag given back returns home.
    void hideItems(uint32_t hide);
    void hideParkingSlots(uint32_t hide);
    void hidePodium(uint32_t hide);
    void hideCaptureFlag(uint32_t hide);
    // The player's vehicle camera in its finish view.
    void setPlayerCameraMode1();
    // The scene's pause notes when the race clock stopped; its resume moves
    // every stamp and deadline on the race clock on by the paused time, so
    // that the pause passes for none of them.
    void pauseClock(uint32_t now);
    void resumeClock(uint32_t now);
    // Every stamp and deadline on the race clock moved on by ms: the start,
    // each vehicle's stamps, course watch, item and damage times, its quad's
    // wheels, driver, display, camera and inventory, the flying rockets,
    // the spilling oil and the pick-ups waiting to come back.
    void shiftDeadlines(uint32_t ms);

    // Whether the loaded level holds a race a player can drive: ground, the
    // quad package, a player slot, a Start object on a way (the course), and
    // gates: at least one, and every gate, Start and Goal one a quad can
    // pass. A level whose side files or packages are damaged may lack any of
    // them; the menu then refuses the race instead of starting one that
    // never moves or never ends.
    bool canRace() const;
    // The race from the scene's objects (GameSetup.cpp), once, in phase 0:
    // the mode's vehicle count and laps, the course and its vehicles, the
    // flag, parking slots, gates and target, the quads held at the grid,
    // the intro flight, one physics step, target times; then phase 1.
    void setupRace();
    // The road under the first Start object and its length.
    void findCourse();
    // A vehicle on a new quad at each player slot (by slot number) up to
    // the vehicle count and eight, the first the player's; every slot
    // marker taken out of the race.
    void createVehicles();
    void findCaptureFlag();
    // Every pick-up the race shows (the flag among them) alive for the whole
    // race, wherever the camera is: a quad takes one through its live
    // instance, and opponents race far from the camera.
    void bringPickUpsToLife();
    // The parking slots, taken out of the race, by number.
    void collectParkingSlots();
    // The gates of group (-1 all) by number, then Start or Goal by course
    // type.
    void setupGates(int32_t group);
    // count opponents' times around the reference lap by difficulty, for
    // laps laps, in random order.
    void makeTargetTimes(int32_t count, int32_t laps);
    // The intro flight over the Start object to the player's chase view.
    void setupIntroCamera();
    // The championship's end: the player's quad set down on the ground 5
    // ahead of the first Podium object, turned 220 degrees on from facing
    // it; its vehicle joins the list. Nothing without a loaded scene, the
    // Quad package or a Podium object.
    void placePlayerQuad();

    // Standings (GameRanking.cpp). rankVehicles gives the first eight
    // vehicles of the list places 1..8 in race order (a vehicle beyond the
    // eighth follows them in list order). compareVehicles: negative when a
    // ranks before b, positive after, 0 equal.
    void rankVehicles();
    int32_t compareVehicles(const Vehicle& a, const Vehicle& b) const;
    // 1 when no other vehicle still racing has a greater place number.
    uint32_t isLastInRace(const Vehicle& vehicle) const;
    // KnockOut: a round ends when every quad still in the race but one has
    // completed the round's lap, and that one is knocked out at once,
    // wherever it stands: it takes the last place among those in the race
    // and the first free parking slot; the player knocked out finishes.
    // When all have completed the lap, the one that completed it last (see
    // Vehicle::Crossing) is out. Rounds that end together are ended in turn.
    void endKnockOutRounds();
    // The vehicle to aim items at: the nearest one ahead within minCosine of
    // the forward axis (aheadOnly; always in the points modes), else the
    // nearest one placed before this one; without aheadOnly the nearest of
    // all when neither is found. Null for a vehicle without an entity.
    Vehicle* findRival(const Vehicle& vehicle, bool aheadOnly, float minCosine) const;

    // The course (GameCourse.cpp). courseDistanceOf: the distance along the
    // segments of course from its first to where the point's (x, z) lies on
    // one; their whole length when it lies on none.
    float courseDistanceOf(const vec3d& point) const;
    // The signed distance in segments (whole segments and the fraction of
    // the one the point lies on) from node (null: the first) to the point,
    // searched forward and backward at once around the course: positive
    // ahead, negative behind, 0 when the point lies on no segment.
    float courseOffsetFrom(const vec3d& point, const Way::PointNode* node) const;
    // The gates a target may be drawn from: all that have an object; before
    // the first target only those not behind the player's quad (all when
    // every gate is).
    void collectGates(std::vector<Gate*>& candidates) const;
    // The farthest from `from` first; equal distances keep their order.
    static void sortGatesByDistance(std::vector<Gate*>& candidates, const vec3d& from);
    // Marks a new target gate drawn with rand() among the candidates, the
    // limit farthest from nearVehicle's quad when a limit (not -1) and a
    // vehicle are given; never the current target, which stays when no
    // other gate is left to draw.
    void pickTargetGate(int32_t limit, const Vehicle* nearVehicle);
    // Jamboree: vehicle passed the target gate at share of its frame's
    // motion; of this frame's passes the earliest is kept (the first updated
    // of equal ones).
    void claimTargetGate(Vehicle& vehicle, float share);
    // The frame's earliest pass of the target scores and draws the next
    // target; the others passed a gate that is no longer the target.
    void scoreTargetGate();
    // The first parking slot no vehicle holds, or null.
    Object* findFreeParkingSlot() const;

    // Race times (RaceTime.cpp). Milliseconds to a record; a time beyond the
    // minutes byte reads 255:59.99.
    static void splitRaceTime(int32_t milliseconds, RaceTime& record);
    static uint32_t isZeroTime(const RaceTime& record);
    // (60 minutes + seconds) x 1000 + hundredths: orders records; "no time" is noTime.
    static int32_t raceTimeKey(const RaceTime& record);
    // (60 minutes + seconds) x 1000 + 10 hundredths.
    static int32_t raceTimeMilliseconds(const RaceTime& record);
    // "-" for no time, else "mm:ss.hh" (the sign is not shown).
    static String formatRaceTime(const RaceTime& record);
    // The key of the player's projected final time, moved a quarter of the
    // way towards each new projection at most every 3000 ms; noTime when
    // there is no player or it is too early to tell.
    int32_t estimateFinalTime();

    // Championship progress (Championship.cpp). findChampionshipEntry looks
    // the key up and claims the first free record for a new key; the key
    // (0, 0) and a full table give null. getChampionshipEntry only looks the
    // current key up.
    ChampionshipEntry* findChampionshipEntry(int8_t key0, int8_t key1);
    ChampionshipEntry* getChampionshipEntry();
    // 16, 11, 7, 4, 2, 1 for places 1..6 (index 0..5); 0 otherwise.
    static int32_t getPointsForPlace(int32_t index);
    // The player's points needed before raceNumber at the choice's difficulty.
    int32_t getNeededPoints(int32_t raceNumber) const;
    // The worst place that still qualifies, 1 when none does, -1 when the
    // player already has the points.
    int32_t getMinPlace();
    // After a race: the next race, or after the seventh a new start (with
    // the next difficulty unlocked when this was the highest); then saves.
    void advanceChampionship();
    // The game over: the championship starts again from its first race with
    // no points (the difficulties won stay); then saves, so that a lost
    // championship does not come back at the next start.
    void restartChampionship();
    // One record of the settings file's game records: tag 1 the key, 2 the
    // difficulty, 3 unlocked, 4 the race number, 5 the points, 0. Unknown
    // tags carry no field; difficulties and the race number are kept in
    // range. False when the data ended inside a field.
    static bool readSettings(FileInterface& stream, ChampionshipEntry& record);
    static void writeSettings(FileInterface& stream, const ChampionshipEntry& record);
    // The table from the settings' kept records (after they load), and back
    // (before every save).
    void readSettings(const GlobalSettings& settings);
    void writeSettings(GlobalSettings& settings) const;

    Scene* scene;
    Interface* callbacks;
    RaceChoice choice;
    RaceTime referenceTime;
    RaceTime targetTimes[8];
    uint32_t targetTimeCount = 0;
    uint32_t paused = 0;
    uint32_t pausedAt = 0; // the race clock when the pause began
    uint32_t phase = 0; // 0..4: none, intro, countdown, running, over
    // The race's frames, counted by update: what happens in one frame is
    // ordered by where in the frame's motion it happened, not by the clock.
    uint32_t frame = 0;
    // The quads knocked out so far: the next round is knockOuts + 1.
    int32_t knockOuts = 0;
    StaticEntityManager::Method* packages[packageCount] = {};
    CameraPath cameraPath;
    float vehicleScale = 1.0f;
    SCList<Vehicle> vehicles;
    SCList<Gate> gates; // in course order
    SCList<Object> parkingSlots;
    Object* captureFlag = nullptr;
    Gate* targetGate = nullptr;
    // Jamboree: the quad that passed the target gate earliest in this frame
    // and how far along its motion; it scores when the frame's updates are
    // done (scoreTargetGate), so that until then every quad is judged
    // against the target the frame began with.
    Vehicle* targetPasser = nullptr;
    float targetPassShare = 1.0f;
    vec3d captureFlagHome;
    uint32_t startTime = 0;
    uint8_t lastCountdownSecond = 0;
    Audio::FileRef* sounds[soundCount] = {};
    Audio::Sound2D* repairSound = nullptr;
    Audio::Sound2D* wrongWaySound = nullptr;
    Records records;
    uint32_t raceOver = 0;
    SCList<Object> rockets;
    SCList<Object> oilPuddles;
    Way::PointList* course = nullptr; // the road of the Start object
    ChampionshipEntry championshipTable[championshipCount];
    float goalDistance = 0.0f;
    float startDistance = 0.0f;
    float courseLength = 0.0f;
    // The smoothed projection in milliseconds and when it may change next.
    int32_t estimate = 0;
    uint32_t estimateDue = 0;

private:
    // The last answer of quadSlowerThan, and what it was asked.
    mutable struct SlowLook
    {
        uint32_t now = 0;
        float speed = -1.0f;
        bool seen = false;
    } slowLook;
    // The scene's physics, or null.
    EntityManager::PhysicsManager* physics() const;
    // The scene's objects of one package, in depth order.
    void collectObjects(int32_t package, SCList<StaticEntity>& out) const;
    // The road under the first Start object; null without one.
    Way::PointList* courseAtStart() const;
    bool coursePassable() const;
    void hideObjects(int32_t package, uint32_t hide);
    // The "Camera" package's race flag.
    void setCameraRaceFlag(uint32_t on);
    // The flag back at rest where it stands: its body still, no longer
    // carried.
    void resetCaptureFlag();
    // The countdown's start: the vehicle camera and head-up display on the
    // player's quad, the scene camera following it; and their removal.
    void followPlayer();
    void unfollowPlayer();
    // The pose the chase camera takes behind the vehicle's quad; false
    // without the camera's computation.
    bool chaseView(const Vehicle& vehicle, matrix3d& pose) const;
    // The rockets whose flight is over leave the scene; wheels on oil are
    // oiled for 3000 ms; finished puddles go.
    void removeSpentRockets();
    void updateOilPuddles();
    // Every rocket and puddle leaves the scene and goes: first of a race's
    // release, while the vehicles they follow or hit still exist.
    void removeItemObjects();
    int32_t compareRanked(const Vehicle& a, float progressA, const Vehicle& b, float progressB) const;
    void keepOffCoursePlaces(Vehicle** table, const float* progress, int32_t count) const;
};
