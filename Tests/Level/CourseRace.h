#pragma once
// Races of eight on the championship's maps, run frame by frame on the
// calling thread at a chosen pace inside a started game: what each opponent
// did, from its gates to its finish. The level tests and the course
// benchmark race through these.
#include "Application/Korvanta.h"
#include "Physics/PhysicsManager.h"
#include "Race/Game.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace CourseRace {

// The race's clock while a race here runs: it moves only when the caller
// moves it.
extern uint32_t raceClockNow;
DWORD WINAPI raceClock();

// The physics thread held: the caller steps the simulator on its own thread,
// and the frame's update only hands the poses over. The thread runs again
// afterwards.
class PhysicsOnTestThread
{
public:
    explicit PhysicsOnTestThread(Korvanta& game) : physics(game.physicsManager())
    {
        if (physics)
            physics->thread.stop();
    }
    ~PhysicsOnTestThread()
    {
        if (physics && physics->threaded)
            physics->thread.start();
    }
    PhysicsOnTestThread(const PhysicsOnTestThread&) = delete;
    PhysicsOnTestThread& operator=(const PhysicsOnTestThread&) = delete;

    bool ready() const { return physics && physics->simulator && !physics->thread.isRunning(); }
    // The simulator's three frame times, one steady frame of 1/35 s.
    void step() { physics->simulator->advance(3.0f / 35.0f, 1.0f / 30.0f, 1.0f / 75.0f); }
    // One frame of frameTime as the physics thread steps it.
    void stepThreaded(float frameTime)
    {
        physics->frameTime.store(frameTime);
        physics->stepBatch(nullptr);
    }

private:
    EntityManager::PhysicsManager* physics;
};

// How long the frames of a race are: steady, or uneven from 0.03 to 0.5 s
// (evenly spread over their logarithm, seeded) as a loaded machine draws them.
struct Pace
{
    const char* name;
    float frame; // seconds; 0: uneven
    uint32_t seed = 0;

    // The next frame's length in whole milliseconds, as the race clock moves.
    uint32_t nextMs();
};

extern const Pace steady35;
extern const Pace steady7;
extern const Pace steady5;
extern const Pace uneven;

// A race of eight on a level as the menu chooses it, the player's quad left
// standing on the grid: what each opponent did.
struct CourseRun
{
    struct Opponent
    {
        std::string name;
        std::vector<int> gates;       // the gates passed in turn, by list index
        uint32_t finishedAt = 0;      // world ms from the start; 0 while racing
        int puttings = 0;             // set back on the way by the course watch
        int overturns = 0;            // judged overturned by the course watch
        int overturnPuttings = 0;     // of the put-backs, those of a quad still judged overturned
        int offWayPuttings = 0;       // of the put-backs, those of a quad warned off the way
        int oiledOffWayPuttings = 0;  // of those, the quads on oil as they left the way
        int hitOffWayPuttings = 0;    // of those, the quads whose damage rose within 3 s before they left it
        int damagedOffWayPuttings = 0; // of those, the quads with a tenth of damage or more as they left it
        int wedgedPuttings = 0;       // of the put-backs, those of a driver wedged where it backed out
        uint32_t lastGateAt = 0;      // world ms from the start when it passed its last gate
        std::vector<vec3d> putBackFrom; // where each put-back took it from
        int reversals = 0;            // backed out after a stall
        int points = 0;               // the score of the points modes at the end
        vec3d at;
    };
    std::vector<Opponent> opponents;
    int gateCount = 0;
    int laps = 0;
    uint32_t raceMs = 0;  // race clock from the start to the end of the run
    uint32_t worldMs = 0; // world clock over the same frames
    // Why the race could not be run to its end; empty when it was.
    std::string failure;

    // Every gate of every lap in turn, as a finisher passes them.
    std::vector<int> everyGate() const;
    // The gates of the course an opponent did not pass in turn.
    int missedGates(const Opponent& opponent) const;
    // The put-backs of all opponents over all the laps they had to drive,
    // and over the minutes of world clock they raced.
    int puttings() const;
    double puttingsPerLap() const;
    double puttingsPerQuadMinute() const;
};

// Loads a level into the game's scene. The meadow scatters its blades where
// the camera first sees them: read again with random numbers from one seed,
// it draws the same grass for the same views.
bool loadLevel(Korvanta& app, const std::wstring& path);

// What a race of the level tests adds to the game's own frames: the player's
// quad driven by an opponent's driver (an opponent of the run then, named
// "player"), and a look at the race after every frame of the running race,
// which ends the run when it answers false.
struct Extras
{
    bool playerDriven = false;
    std::function<bool(Game&)> afterFrame;
};

// The frames of a race from its set-up until every opponent has finished or
// been knocked out (in the points modes: until one has won), or the world's
// clock has run limitMs past the start.
// Each frame goes as in the game: the frame clock and the race clock move by
// the pace's length, the caller's thread steps the batch the physics thread
// would step, and the physics manager measures the same length. The race
// clock must be raceClock.
void raceOpponentsToTheFinish(Korvanta& app, const RaceChoice& choice, Pace pace, uint32_t limitMs, CourseRun& out,
                              const Extras& extras = {});

// The race on its own map, loaded afresh, with the race clock and the random
// numbers set as every run sets them, and the race cleared afterwards.
CourseRun raceCourse(Korvanta& app, const RaceChoice& race, Pace pace, uint32_t limitMs, const Extras& extras = {});

// Race raceNumber of a country's championship at a difficulty (0 easy,
// 1 medium, 2 hard), as the championship chooses it from the maps of the
// game's folder (the working folder, as the game runs).
RaceChoice championshipChoice(const char* country, uint8_t raceNumber, int32_t difficulty = 1);

// A race of eight to the finish on each course type of a country's
// championship: its off-road race (race 2 of the schedule, course type 1),
// its circuit (race 7, course type 2), and on its rally course (course
// type 3, which the championship drives as a time trial) a circuit of two
// laps.
RaceChoice eightQuadRace(const char* country, int32_t courseType, int32_t difficulty = 1);

// The championship's countries, by their keys.
extern const char* const countries[13];

// What each opponent of a run did: a line for the race, one for each opponent.
void print(std::FILE* to, const char* name, const Pace& pace, const CourseRun& run);

}
