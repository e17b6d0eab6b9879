// Three opponents race the one-lap sprint to its finish in the game itself:
// the player waits beside their lanes while they drive to the Goal, then
// drives there, and the results show every opponent's time above the
// player's line, the last of four.
#include "PlayRoads.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Play;

namespace {

// The opponents need 12 to 14 s of the world's time from their grid to the
// Goal, and up to 47 s at uneven frames when they leave the road and are put
// back. The wait counts the game's clock, by which the world moves (below
// five frames a second it runs slower than the wall's); the quad that waited
// needs some 19 s of it to the Goal after the wait.
constexpr DWORD opponentsRace = 75000;

}

TEST(PlayOpponents, ThreeOpponentsFinishTheSprintAheadOfAPlayerWhoWaitedAndTheResultsShowTheirTimes)
{
    ASSERT_FALSE(programFolder().empty());
    forgetPlayer();
    Game game;
    introToMain(game, "opponents", true);
    if (HasFatalFailure())
        return;
    mainToRace(game, "opponents");
    if (HasFatalFailure())
        return;
    const auto [raceFrames, frames] = standOnTheRoad(game, "opponents-11-wait", opponentsRace);
    EXPECT_GT(raceFrames, frames / 2) << frames;
    raceToResults(game, "opponents");
    if (HasFatalFailure())
        return;
    const std::vector<Frame> settled = settledResults(game);
    ASSERT_EQ(settled.size(), 12u) << "the results stood still";
    for (size_t k = 0; k < settled.size(); k += 4)
        game.keep(settled[k], "opponents-14-standings-" + std::to_string(k / 4));
    const std::vector<Screens::ResultsRow> rows = Screens::resultsRows(settled, 5);
    for (int k = 0; k < 4; ++k) {
        SCOPED_TRACE(k + 1);
        EXPECT_TRUE(rows[size_t(k)].shown);
        EXPECT_TRUE(rows[size_t(k)].timed) << "a finished race's time, not a dash";
        EXPECT_EQ(rows[size_t(k)].player, k == 3) << "the player's line comes last";
    }
    EXPECT_FALSE(rows[4].shown) << "one line for each of the four quads";
    resultsToMain(game, "opponents");
    if (HasFatalFailure())
        return;
    mainToQuit(game, "opponents");
}
