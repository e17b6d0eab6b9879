// Races all 39 championship maps (13 countries, course types 1 to 3, as the
// level tests choose them), each an eight-quad race to the finish with the
// player's quad standing on the grid, inside the game started as it starts,
// the physics stepped on this thread frame by frame at a chosen pace. Prints
// for each map what every opponent did (finish time in world ms, put-backs,
// overturns, back-outs, gates missed) and then a summary: the opponents that
// did not finish, put-backs per lap on average, the slowest map and the
// run's time. The races run without pick-ups, with them, or both.
//
// With --race flag or checkpoint it races each country's championship flag
// race or checkpoint race instead, with the quads asked for (the player's
// driven by an opponent's driver), until one wins or 15 minutes have passed:
// how long each took, the winner's points and the put-backs per quad-minute.
// --player standing leaves the player's quad on the grid there too, and
// --player driven drives it in the courses too.
//
// CourseBench [--difficulty 0|1|2|all] [--pace 35|7|5|uneven|all] [--map FILTER]
//             [--items off|on|both] [--race courses|flag|checkpoint] [--quads N]
//             [--player driven|standing]
// FILTER is a country ("DE"), a country and course type ("DE2") or a part of
// the map's file name; by default medium, 35 fps, every map, no pick-ups,
// the courses, and the schedule's six quads in the points races.
#include "CourseRace.h"
#include "GameInProcess.h"

#include "Core/File.h"
#include "Core/Timer.h"

#include "BenchWindow.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using CourseRace::CourseRun;
using CourseRace::Pace;

// The races a run drives: the eight-quad courses, or the championship's
// points race of a schedule number.
enum class Races { courses, flag, checkpoint };

struct Options
{
    std::vector<int32_t> difficulties{1};
    std::vector<Pace> paces{CourseRace::steady35};
    std::string filter;
    std::vector<int32_t> items{0};
    Races races = Races::courses;
    int32_t quads = 6;
    // Whether the player's quad is driven by an opponent's driver; by
    // default standing in the courses and driven in the points races.
    int32_t playerDriven = -1;
    bool valid = true;
};

Options readOptions(int argc, char** argv)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const std::string value = i + 1 < argc ? argv[i + 1] : "";
        if (option == "--difficulty" && (value == "0" || value == "1" || value == "2")) {
            options.difficulties = {value[0] - '0'};
        } else if (option == "--difficulty" && value == "all") {
            options.difficulties = {0, 1, 2};
        } else if (option == "--pace" && value == "35") {
            options.paces = {CourseRace::steady35};
        } else if (option == "--pace" && value == "7") {
            options.paces = {CourseRace::steady7};
        } else if (option == "--pace" && value == "5") {
            options.paces = {CourseRace::steady5};
        } else if (option == "--pace" && value == "uneven") {
            options.paces = {CourseRace::uneven};
        } else if (option == "--pace" && value == "all") {
            options.paces = {CourseRace::steady35, CourseRace::steady7, CourseRace::steady5, CourseRace::uneven};
        } else if (option == "--map" && !value.empty()) {
            options.filter = value;
        } else if (option == "--items" && (value == "off" || value == "on" || value == "both")) {
            options.items = value == "off" ? std::vector<int32_t>{0} : value == "on" ? std::vector<int32_t>{1}
                                                                                     : std::vector<int32_t>{0, 1};
        } else if (option == "--race" && (value == "courses" || value == "flag" || value == "checkpoint")) {
            options.races = value == "flag" ? Races::flag : value == "checkpoint" ? Races::checkpoint : Races::courses;
        } else if (option == "--quads" && value.size() == 1 && value[0] >= '2' && value[0] <= '8') {
            options.quads = value[0] - '0';
        } else if (option == "--player" && (value == "driven" || value == "standing")) {
            options.playerDriven = value == "driven" ? 1 : 0;
        } else {
            options.valid = false;
            return options;
        }
        ++i;
    }
    return options;
}

std::string narrow(const String& text)
{
    std::string out;
    for (int32_t i = 0; i < text.length(); ++i)
        out += char(text.text()[i] < 128 ? text.text()[i] : L'?');
    return out;
}

std::string upper(std::string text)
{
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Whether the filter takes a country's map of a course type.
bool chosen(const std::string& filter, const char* country, int32_t courseType, const std::string& file)
{
    if (filter.empty())
        return true;
    const std::string key = upper(filter);
    return key == country || key == std::string(country) + char('0' + courseType) ||
           upper(file).find(key) != std::string::npos;
}

// Where a map's put-backs took the quads from, the places 25 units apart
// with the most first.
void printPutBackPlaces(const CourseRun& run)
{
    std::map<std::pair<int, int>, int> places;
    for (const CourseRun::Opponent& opponent : run.opponents)
        for (const vec3d& at : opponent.putBackFrom)
            ++places[{int(std::floor(at.x / 25.0f)), int(std::floor(at.z / 25.0f))}];
    if (places.empty())
        return;
    std::vector<std::pair<int, std::pair<int, int>>> byCount;
    for (const auto& [place, count] : places)
        byCount.push_back({count, place});
    std::sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    std::printf("  put back from:");
    for (size_t k = 0; k < byCount.size() && k < 6; ++k)
        std::printf(" (%d %d) %dx", byCount[k].second.first * 25 + 12, byCount[k].second.second * 25 + 12,
                    byCount[k].first);
    std::printf("\n");
}

const char* const difficultyNames[3] = {"easy", "medium", "hard"};

// The put-backs of opponents by what set them back.
struct PutBackKinds
{
    int overturned = 0, offWay = 0, oiledOffWay = 0, hitOffWay = 0, damagedOffWay = 0, wedged = 0;

    void add(const CourseRun::Opponent& opponent)
    {
        overturned += opponent.overturnPuttings;
        offWay += opponent.offWayPuttings;
        oiledOffWay += opponent.oiledOffWayPuttings;
        hitOffWay += opponent.hitOffWayPuttings;
        damagedOffWay += opponent.damagedOffWayPuttings;
        wedged += opponent.wedgedPuttings;
    }
    void print() const
    {
        std::printf("%d of them overturned, %d off the way (%d on oil, %d hit within 3 s, %d damaged), %d wedged",
                    overturned, offWay, oiledOffWay, hitOffWay, damagedOffWay, wedged);
    }
};

// What the runs of one difficulty and pace add up to.
struct Tally
{
    int maps = 0, opponents = 0, finishers = 0, laps = 0, puttings = 0, overturns = 0, reversals = 0, missed = 0;
    PutBackKinds kinds;
    std::vector<std::string> notFinished;
    std::string slowestMap;
    double slowestSeconds = 0.0, seconds = 0.0;

    void add(const std::string& name, const CourseRun& run, double runSeconds)
    {
        ++maps;
        seconds += runSeconds;
        if (runSeconds > slowestSeconds) {
            slowestSeconds = runSeconds;
            slowestMap = name;
        }
        if (!run.failure.empty())
            notFinished.push_back(name + ": not raced, " + run.failure);
        puttings += run.puttings();
        for (const CourseRun::Opponent& opponent : run.opponents) {
            ++opponents;
            laps += run.laps;
            kinds.add(opponent);
            overturns += opponent.overturns;
            reversals += opponent.reversals;
            missed += run.missedGates(opponent);
            if (opponent.finishedAt) {
                ++finishers;
                continue;
            }
            char line[256];
            std::snprintf(line, sizeof(line),
                          ": opponent %s at %d of %d gates (the last at %u ms of %u), %d put back, %d overturned, "
                          "last at (%.0f %.0f %.0f)",
                          opponent.name.c_str(), int(opponent.gates.size()), run.gateCount * run.laps,
                          opponent.lastGateAt, run.worldMs, opponent.puttings, opponent.overturns, opponent.at.x,
                          opponent.at.y, opponent.at.z);
            notFinished.push_back(name + line);
        }
    }

    void print(const char* title) const
    {
        std::printf("summary, %s: %d maps, %d of %d opponents finished, %.3f put-backs per lap (%d in %d laps, ",
                    title, maps, finishers, opponents, laps ? double(puttings) / double(laps) : 0.0, puttings, laps);
        kinds.print();
        std::printf("), %d judged overturned, %d backed out, %d gates missed\n", overturns, reversals, missed);
        for (const std::string& line : notFinished)
            std::printf("  did not finish: %s\n", line.c_str());
        std::printf("  slowest map %s, %.1f s; the run %.1f s\n", slowestMap.c_str(), slowestSeconds, seconds);
    }
};

// What the points races of one difficulty and pace add up to.
struct PointsTally
{
    int races = 0, decided = 0, puttings = 0;
    PutBackKinds kinds;
    double quadMinutes = 0.0;
    std::vector<double> minutes;
    std::vector<std::string> undecided;

    void add(const std::string& name, const CourseRun& run)
    {
        ++races;
        const double runMinutes = double(run.worldMs) / 60000.0;
        int best = 0;
        bool won = false;
        for (const CourseRun::Opponent& opponent : run.opponents) {
            best = std::max(best, opponent.points);
            won = won || opponent.finishedAt != 0;
            kinds.add(opponent);
        }
        puttings += run.puttings();
        quadMinutes += double(run.opponents.size()) * runMinutes;
        if (won) {
            ++decided;
            minutes.push_back(runMinutes);
        } else {
            char line[160];
            std::snprintf(line, sizeof(line), ": %s, the leader at %d points after %.1f min", run.failure.c_str(),
                          best, runMinutes);
            undecided.push_back(name + line);
        }
    }

    void print(const char* title) const
    {
        std::vector<double> sorted = minutes;
        std::sort(sorted.begin(), sorted.end());
        std::printf("summary, %s: %d races, %d won within the limit (minutes: shortest %.1f, median %.1f, longest "
                    "%.1f), %.2f put-backs per quad-minute (%d in %.0f quad-minutes, ",
                    title, races, decided, sorted.empty() ? 0.0 : sorted.front(),
                    sorted.empty() ? 0.0 : sorted[sorted.size() / 2], sorted.empty() ? 0.0 : sorted.back(),
                    quadMinutes > 0.0 ? double(puttings) / quadMinutes : 0.0, puttings, quadMinutes);
        kinds.print();
        std::printf(")\n");
        for (const std::string& line : undecided)
            std::printf("  not won: %s\n", line.c_str());
    }
};

// Each country's championship flag or checkpoint race with quads quads, the
// player's driven too, for at most 15 minutes.
void racePoints(Korvanta& app, const Options& options, int32_t difficulty, const Pace& pace, PointsTally& tally)
{
    const uint8_t raceNumber = options.races == Races::flag ? 5 : 3;
    for (const char* country : CourseRace::countries) {
        RaceChoice race = CourseRace::championshipChoice(country, raceNumber, difficulty);
        race.vehicleCount = options.quads;
        const std::string file = narrow(race.mapFile);
        if (!chosen(options.filter, country, race.courseType, file))
            continue;
        const std::string name = std::string(country) + " " + file.substr(file.find_last_of('\\') + 1) + " " +
                                 difficultyNames[difficulty] + " " + std::to_string(options.quads) + " quads";
        CourseRace::Extras extras;
        extras.playerDriven = options.playerDriven != 0;
        const double from = BenchWindow::now();
        const CourseRun run = CourseRace::raceCourse(app, race, pace, 15u * 60u * 1000u, extras);
        CourseRace::print(stdout, name.c_str(), pace, run);
        printPutBackPlaces(run);
        std::printf("  raced in %.1f s\n", BenchWindow::now() - from);
        std::fflush(stdout);
        tally.add(name, run);
    }
}

}

int main(int argc, char** argv)
{
    const Options options = readOptions(argc, argv);
    if (!options.valid) {
        std::printf("CourseBench [--difficulty 0|1|2|all] [--pace 35|7|5|uneven|all] [--map FILTER] [--items "
                    "off|on|both] [--race courses|flag|checkpoint] [--quads 2..8] [--player driven|standing]\n");
        return 2;
    }
    GameInProcess game;
    game.start(L"CourseBench", 1024, 768, std::wstring(getModuleFolder().text()) + L"..\\..");
    if (!game.app) {
        std::printf("the game did not start\n");
        return 1;
    }
    gFrameFactor.store(1.0f);
    const double runStart = BenchWindow::now();
    const auto summarise = [&](const auto& tallies) {
        for (const auto& [title, tally] : tallies)
            tally.print(title.c_str());
        std::printf("the whole run %.1f s\n", BenchWindow::now() - runStart);
        std::fflush(stdout);
        game.stop();
        return 0;
    };
    if (options.races != Races::courses) {
        std::vector<std::pair<std::string, PointsTally>> tallies;
        for (const int32_t difficulty : options.difficulties)
            for (const Pace& pace : options.paces) {
                PointsTally tally;
                racePoints(*game.app, options, difficulty, pace, tally);
                tallies.emplace_back(std::string(options.races == Races::flag ? "flag races, " : "checkpoint races, ") +
                                         difficultyNames[difficulty] + ", " + pace.name + ", " +
                                         std::to_string(options.quads) + " quads",
                                     tally);
            }
        return summarise(tallies);
    }
    std::vector<std::pair<std::string, Tally>> tallies;
    for (const int32_t difficulty : options.difficulties)
        for (const Pace& pace : options.paces)
            for (const int32_t items : options.items) {
                const std::string title = std::string(difficultyNames[difficulty]) + ", " + pace.name +
                                          (items ? ", pick-ups on" : ", pick-ups off");
                Tally tally;
                for (const char* country : CourseRace::countries)
                    for (int32_t courseType = 1; courseType <= 3; ++courseType) {
                        RaceChoice race = CourseRace::eightQuadRace(country, courseType, difficulty);
                        race.items = items;
                        const std::string file = narrow(race.mapFile);
                        if (!chosen(options.filter, country, courseType, file))
                            continue;
                        const std::string name = std::string(country) + " " + std::to_string(courseType) + " " +
                                                 file.substr(file.find_last_of('\\') + 1) + " " +
                                                 difficultyNames[difficulty] + (items ? " pick-ups" : "");
                        CourseRace::Extras extras;
                        extras.playerDriven = options.playerDriven == 1;
                        const double from = BenchWindow::now();
                        const CourseRun run =
                            CourseRace::raceCourse(*game.app, race, pace, 10u * 60u * 1000u, extras);
                        const double seconds = BenchWindow::now() - from;
                        CourseRace::print(stdout, name.c_str(), pace, run);
                        printPutBackPlaces(run);
                        std::printf("  raced in %.1f s\n", seconds);
                        std::fflush(stdout);
                        tally.add(name, run, seconds);
                    }
                tallies.emplace_back(title, tally);
            }
    return summarise(tallies);
}
