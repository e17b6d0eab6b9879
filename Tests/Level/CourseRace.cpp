#include "CourseRace.h"

#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Race/AIDriver.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Vehicle/QuadInstance.h"

#include "Core/Timer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>

namespace CourseRace {

uint32_t raceClockNow = 100000;
DWORD WINAPI raceClock() { return raceClockNow; }

uint32_t Pace::nextMs()
{
    if (frame > 0.0f)
        return uint32_t(frame * 1000.0f + 0.5f);
    seed = seed * 1664525u + 1013904223u;
    const float u = float(seed >> 8) / 16777216.0f;
    return uint32_t(30.0f * std::pow(0.5f / 0.03f, u) + 0.5f);
}

const Pace steady35{"35 fps", 1.0f / 35.0f};
const Pace steady7{"7 fps", 1.0f / 7.0f};
const Pace steady5{"5 fps", 0.2f};
const Pace uneven{"uneven 0.03 to 0.5 s", 0.0f, 78};

const char* const countries[13] = {"AF", "DE", "FR", "ES", "IT", "US", "CA", "GL", "CN", "IN", "AU", "BR", "RU"};

std::vector<int> CourseRun::everyGate() const
{
    std::vector<int> every;
    for (int lap = 0; lap < laps; ++lap)
        for (int gate = 0; gate < gateCount; ++gate)
            every.push_back(gate);
    return every;
}

int CourseRun::missedGates(const Opponent& opponent) const
{
    return gateCount * laps - int(opponent.gates.size());
}

int CourseRun::puttings() const
{
    int sum = 0;
    for (const Opponent& opponent : opponents)
        sum += opponent.puttings;
    return sum;
}

double CourseRun::puttingsPerLap() const
{
    const int lapsDriven = int(opponents.size()) * laps;
    return lapsDriven > 0 ? double(puttings()) / double(lapsDriven) : 0.0;
}

double CourseRun::puttingsPerQuadMinute() const
{
    const double quadMinutes = double(opponents.size()) * double(worldMs) / 60000.0;
    return quadMinutes > 0.0 ? double(puttings()) / quadMinutes : 0.0;
}

// Whether a wheel of the vehicle's quad touches oil.
static bool isOiled(const Game::Vehicle& vehicle)
{
    const Game::Vehicle::QuadInstance* quad = vehicle.getQuad();
    if (!quad)
        return false;
    for (const auto& wheel : quad->wheels)
        for (const auto& contact : wheel.contacts)
            if (contact.oiled)
                return true;
    return false;
}

bool loadLevel(Korvanta& app, const std::wstring& path)
{
    if (!app.scene.load(String(path.c_str())))
        return false;
    // The load's warm-up ran on the real clock; the frames run on a steady one.
    gFrameFactor.store(1.0f);
    auto draws = std::make_shared<std::mt19937>(1);
    app.swapChain->meadow->random = [draws] { return int32_t((*draws)() % 32768u); };
    app.swapChain->meadow->load(app.scene.baseName() + L".mdw");
    return true;
}

void raceOpponentsToTheFinish(Korvanta& app, const RaceChoice& choice, Pace pace, uint32_t limitMs, CourseRun& out,
                              const Extras& extras)
{
    Game& game = app.scene.game;
    PhysicsOnTestThread physics(app);
    if (!physics.ready()) {
        out.failure = "the physics could not be stepped here";
        return;
    }
    EntityManager::PhysicsManager& manager = *app.physicsManager();
    game.applyRaceChoice(choice);
    game.setupRace();
    if (game.phase != 1 || game.vehicles.count() != choice.vehicleCount || game.gates.count() < 2) {
        out.failure = "the race was not set up: phase " + std::to_string(game.phase) + ", " +
                      std::to_string(game.vehicles.count()) + " vehicles, " + std::to_string(game.gates.count()) +
                      " gates";
        return;
    }
    std::vector<const Game::Gate*> gates;
    for (auto* node = game.gates.head(); node; node = node->next)
        gates.push_back(node->item);
    out.gateCount = int(gates.size());
    out.laps = game.choice.goal;
    if (extras.playerDriven)
        if (Game::Vehicle* player = game.getPlayerVehicle(); player && player->getDynObject())
            player->createAIDriver(player->getDynObject());

    Timer frameClock;
    frameClock.usePerformanceCounter = 0;
    frameClock.secondsPerTick = 0.001f;
    frameClock.lastCounter = raceClockNow;
    const auto frame = [&] {
        const uint32_t ms = pace.nextMs();
        raceClockNow += ms;
        frameClock.advance(raceClockNow, 0);
        manager.stepBatch(nullptr);
        app.pumpMessages();
        // Set last, so that the manager measures the frame's length and not
        // also what a loaded machine took for the messages: a frame of the
        // longest length would lose that time to the world.
        LARGE_INTEGER counter;
        QueryPerformanceCounter(&counter);
        manager.lastCounter = counter.QuadPart - int64_t(double(ms) * 0.001 * double(manager.counterFrequency));
        app.update();
    };
    int frames = 0;
    while (game.phase < 3 && frames++ < 20000)
        frame();
    if (game.phase != 3) {
        out.failure = "the intro and the countdown did not end";
        return;
    }
    const uint32_t start = raceClockNow, worldStart = game.worldNow();

    struct Watch
    {
        Game::Vehicle* vehicle;
        const SCList<Game::Gate>::Node* nextGate;
        uint32_t reverseState;
        uint32_t courseState;
        // The states a frame earlier: a quad set back moves in the frame
        // after the one that set it back.
        uint32_t earlierReverseState;
        uint32_t earlierCourseState;
        // Whether a wheel was on oil as the quad last left the way, whether
        // its damage had risen within 3 s before, and whether it was damaged.
        bool oiledOffTheWay;
        vec3d lastSeen;
        float lastMove; // units a world millisecond over the frame before
        bool hitOffTheWay;
        bool damagedOffTheWay;
        float damage;   // the quad's damage a frame earlier
        uint32_t hitAt; // the world clock when its damage last rose
    };
    std::vector<Watch> watches;
    for (auto* node = game.vehicles.head(); node; node = node->next) {
        if (node->item->isPlayer && !extras.playerDriven)
            continue;
        if (!node->item->getAIDriver() || !node->item->entity()) {
            out.failure = "opponent " + std::to_string(node->item->slot) + " has no driver or no quad";
            return;
        }
        watches.push_back(
            {node->item, node->item->nextGate, 0, 0, 0, 0, false, node->item->entity()->world.row(3), 0.0f,
             false, false, node->item->damage, 0});
        CourseRun::Opponent opponent;
        opponent.name = node->item->isPlayer ? "player" : std::to_string(node->item->slot);
        out.opponents.push_back(opponent);
    }
    const auto gateIndex = [&](const SCList<Game::Gate>::Node* node) {
        const auto found = std::find(gates.begin(), gates.end(), node ? node->item : nullptr);
        return found == gates.end() ? -1 : int(found - gates.begin());
    };
    size_t finished = 0;
    uint32_t worldBefore = game.worldNow();
    // A points race is over when one quad has won it.
    const bool pointsRace = game.choice.gameMode == Game::CaptureTheFlag || game.choice.gameMode == Game::Jamboree;
    bool decided = false;
    while (finished < watches.size() && !decided && game.worldNow() - worldStart < limitMs) {
        frame();
        if (extras.afterFrame && !extras.afterFrame(game))
            break;
        decided = pointsRace && game.phase == 4;
        const float worldMs = float(std::max(game.worldNow() - worldBefore, 1u));
        worldBefore = game.worldNow();
        finished = 0;
        for (size_t k = 0; k < watches.size(); ++k) {
            Watch& watch = watches[k];
            CourseRun::Opponent& opponent = out.opponents[k];
            Game::Vehicle& vehicle = *watch.vehicle;
            if (vehicle.nextGate != watch.nextGate) {
                // The gate it was heading for is behind it now; what it
                // passes after its finish no longer counts.
                if (!opponent.finishedAt) {
                    opponent.gates.push_back(gateIndex(watch.nextGate));
                    opponent.lastGateAt = game.worldNow() - worldStart;
                }
                watch.nextGate = vehicle.nextGate;
            }
            const vec3d at = vehicle.entity() ? vehicle.entity()->world.row(3) : watch.lastSeen;
            // A jump of more than 30 units in a frame, and more than half as
            // far again as the quad went a millisecond before: it was set
            // back. A quad at full speed goes some 30 units in a frame of a
            // fifth of a second.
            const float jump = (at - watch.lastSeen).length();
            if (jump > 30.0f && jump > watch.lastMove * worldMs * 1.5f + 5.0f && !opponent.finishedAt) {
                ++opponent.puttings;
                opponent.putBackFrom.push_back(watch.lastSeen);
                const auto wasIn = [&watch](uint32_t state) {
                    return watch.courseState == state || watch.earlierCourseState == state;
                };
                // A wedged driver is set back as its stall turns to a back-out,
                // which the set-back ends at once: stalled, then driving.
                const uint32_t reverse = vehicle.getAIDriver() ? vehicle.getAIDriver()->reverseState : 0;
                const bool overturned = wasIn(1), offWay = !overturned && wasIn(Game::Vehicle::offWayWarned);
                const bool wedged = !overturned && !offWay &&
                                    ((watch.reverseState == 1 && reverse == 0) ||
                                     (watch.earlierReverseState == 1 && watch.reverseState == 0));
                opponent.overturnPuttings += overturned ? 1 : 0;
                opponent.offWayPuttings += offWay ? 1 : 0;
                opponent.oiledOffWayPuttings += offWay && watch.oiledOffTheWay ? 1 : 0;
                opponent.hitOffWayPuttings += offWay && watch.hitOffTheWay ? 1 : 0;
                opponent.damagedOffWayPuttings += offWay && watch.damagedOffTheWay ? 1 : 0;
                opponent.wedgedPuttings += wedged ? 1 : 0;
                watch.lastMove = 0.0f;
            } else {
                watch.lastMove = jump / worldMs;
            }
            watch.lastSeen = opponent.at = at;
            opponent.points = vehicle.points;
            if (vehicle.courseState == 1 && watch.courseState != 1 && !opponent.finishedAt)
                ++opponent.overturns;
            if (vehicle.damage > watch.damage)
                watch.hitAt = game.worldNow();
            watch.damage = vehicle.damage;
            if (vehicle.courseState == 2 && watch.courseState != 2) {
                watch.oiledOffTheWay = isOiled(vehicle);
                watch.hitOffTheWay = watch.hitAt != 0 && game.worldNow() - watch.hitAt <= 3000;
                watch.damagedOffTheWay = vehicle.damage >= 0.1f;
            }
            watch.earlierCourseState = watch.courseState;
            watch.courseState = vehicle.courseState;
            if (const auto* driver = vehicle.getAIDriver()) {
                if (driver->reverseState == 2 && watch.reverseState != 2 && !opponent.finishedAt)
                    ++opponent.reversals;
                watch.earlierReverseState = watch.reverseState;
                watch.reverseState = driver->reverseState;
            }
            if (vehicle.finished && !opponent.finishedAt)
                opponent.finishedAt = game.worldNow() - worldStart;
            finished += vehicle.finished || vehicle.knockedOut ? 1 : 0;
        }
    }
    out.raceMs = raceClockNow - start;
    out.worldMs = game.worldNow() - worldStart;
}

CourseRun raceCourse(Korvanta& app, const RaceChoice& race, Pace pace, uint32_t limitMs, const Extras& extras)
{
    CourseRun run;
    if (race.mapFile.length() == 0) {
        run.failure = "no map of the course type";
        return run;
    }
    const RaceClock previousClock = gRaceClock;
    gRaceClock = raceClock;
    app.scene.clear();
    if (!loadLevel(app, std::wstring(race.mapFile.text()))) {
        run.failure = "the map did not load";
    } else {
        // Every run drives from the same random numbers.
        std::srand(51);
        raceOpponentsToTheFinish(app, race, pace, limitMs, run, extras);
    }
    Game& game = app.scene.game;
    game.removeRaceVehicles();
    game.releaseParkingSlots();
    game.clearRace();
    gRaceClock = previousClock;
    return run;
}

RaceChoice championshipChoice(const char* country, uint8_t raceNumber, int32_t difficulty)
{
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);
    const std::wstring maps = std::wstring(folder) + L"\\Data\\Map\\";
    RaceChoice choice;
    Game::ChampionshipEntry entry;
    entry.key0 = int8_t(country[0]);
    entry.key1 = int8_t(country[1]);
    entry.difficulty = uint8_t(difficulty);
    entry.raceNumber = raceNumber;
    Game::makeChampionshipChoice(entry, choice, String(maps.c_str()));
    return choice;
}

RaceChoice eightQuadRace(const char* country, int32_t courseType, int32_t difficulty)
{
    RaceChoice choice = championshipChoice(country, courseType == 1 ? 1 : courseType == 2 ? 6 : 2, difficulty);
    if (courseType == 3) {
        choice.gameMode = Game::Circuit;
        choice.goal = 2;
    }
    choice.vehicleCount = 8;
    return choice;
}

void print(std::FILE* to, const char* name, const Pace& pace, const CourseRun& run)
{
    std::fprintf(to,
                 "%s at %s: %d gates x %d laps, %u ms of race clock, %u of world clock, %.2f put-backs a lap, %.2f a "
                 "quad-minute\n",
                 name, pace.name, run.gateCount, run.laps, run.raceMs, run.worldMs, run.puttingsPerLap(),
                 run.puttingsPerQuadMinute());
    if (!run.failure.empty())
        std::fprintf(to, "  not raced: %s\n", run.failure.c_str());
    for (const CourseRun::Opponent& opponent : run.opponents)
        std::fprintf(to,
                     "  opponent %s: finished at %u ms, %d put back (%d of them overturned, %d off the way (%d on "
                     "oil, %d hit within 3 s, %d damaged), %d wedged), %d overturned, %d backed out, %d of %d "
                     "gates missed, last gate at %u ms, %d points, last at (%.0f %.0f %.0f)\n",
                     opponent.name.c_str(), opponent.finishedAt, opponent.puttings, opponent.overturnPuttings,
                     opponent.offWayPuttings, opponent.oiledOffWayPuttings, opponent.hitOffWayPuttings,
                     opponent.damagedOffWayPuttings, opponent.wedgedPuttings, opponent.overturns, opponent.reversals,
                     run.missedGates(opponent),
                     run.gateCount * run.laps, opponent.lastGateAt, opponent.points, opponent.at.x, opponent.at.y,
                     opponent.at.z);
}

}
