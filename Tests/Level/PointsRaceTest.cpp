// The championship's flag race and checkpoint race, each with the six quads
// of the schedule on Medium, raced in the game started as it starts, to
// their end: the checkpoint race with the player's quad driven by an
// opponent's driver, the flag race with the player's quad left standing on
// the grid, so that the flag is won far from the camera.
#include "CourseRace.h"
#include "InstalledGameSuite.h"

#include "Race/GameVehicle.h"

#include "Core/FileInterface.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using CourseRace::CourseRun;

class LevelPointsRaces : public InstalledGameSuite<LevelPointsRaces>
{
public:
    static constexpr const wchar_t* settingsName = L"LevelPointsSettings";
};

}

// Races a points race of the championship with its six quads on Medium and
// its pick-ups, at a pace, until one quad has won it, at most 15 minutes of
// race time.
// The flag and the checkpoints are reached across the country, where the
// drivers and a player head for them: no quad is warned off the way or of
// the wrong way, and none is set back but an overturned one or a driver
// wedged where it stood. The winner has reached the goal.
static void raceToTheWin(Korvanta& app, const RaceChoice& race, const char* name, const CourseRace::Pace& pace,
                         bool playerDriven)
{
    ASSERT_EQ(race.vehicleCount, 6);
    ASSERT_EQ(race.difficulty, 1);
    int warnedFrames = 0;
    CourseRace::Extras extras;
    extras.playerDriven = playerDriven;
    extras.afterFrame = [&warnedFrames](Game& game) {
        for (auto* node = game.vehicles.head(); node; node = node->next)
            warnedFrames += node->item->courseState > 1 ? 1 : 0;
        return true;
    };
    const CourseRun run = CourseRace::raceCourse(app, race, pace, 15u * 60u * 1000u, extras);
    CourseRace::print(stdout, name, pace, run);
    ASSERT_EQ(run.failure, "");
    ASSERT_EQ(run.opponents.size(), playerDriven ? 6u : 5u);
    EXPECT_EQ(warnedFrames, 0) << "frames of a quad warned about the way";
    std::vector<std::string> winners;
    for (const CourseRun::Opponent& quad : run.opponents) {
        EXPECT_EQ(quad.puttings, quad.overturnPuttings + quad.wedgedPuttings) << "quad " << quad.name;
        if (quad.finishedAt) {
            winners.push_back(quad.name);
            EXPECT_GE(quad.points, race.goal) << "quad " << quad.name;
        }
    }
    EXPECT_EQ(winners.size(), 1u) << "not won within 15 minutes";
    EXPECT_LT(run.worldMs, 15u * 60u * 1000u);
}

// Five checkpoints, as scheduled.
TEST_F(LevelPointsRaces, TheCheckpointRaceIsWonWithoutQuadsSetBackForTheWay)
{
    const RaceChoice race = CourseRace::championshipChoice("DE", 3);
    ASSERT_EQ(race.gameMode, Game::Jamboree);
    ASSERT_EQ(race.goal, 5);
    raceToTheWin(*app, race, "DE checkpoint race", CourseRace::steady35, true);
}

// The schedule's 250 points take the leading driver four to fifteen minutes
// of race time, and as long again of the machine's: the race here is won at
// 50, at 7 frames a second. The player's quad stands on the grid: the camera
// stays there, and the flag is taken and carried far from it.
TEST_F(LevelPointsRaces, TheFlagRaceIsWonWithoutQuadsSetBackForTheWay)
{
    RaceChoice race = CourseRace::championshipChoice("DE", 5);
    ASSERT_EQ(race.gameMode, Game::CaptureTheFlag);
    ASSERT_EQ(race.goal, 250);
    race.goal = 50;
    raceToTheWin(*app, race, "DE flag race to 50, the player standing", CourseRace::steady7, false);
}
