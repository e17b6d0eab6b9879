// The race's phases with a set clock: the intro flight's end, the
// countdown, the running race, its end, a pause and the player giving up.
#include "RaceTestSupport.h"

#include "Landscape/CameraPath.h"
#include "Landscape/Scene.h"

#include <gtest/gtest.h>

namespace {

using namespace RaceTest;

struct PhaseRace
{
    PhaseRace()
    {
        game().phase = 1;
        game().choice.gameMode = Game::OffRoadRace;
        scene.camera.path = &path;
        path.reset(1.0f);
    }
    ~PhaseRace() { game().vehicles.deleteAll(); }
    Game& game() { return scene.game; }

    TestClock clock{50000};
    CameraPath path;
    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

}

// The flight's end starts a countdown of 3000 ms that sets every vehicle's
// clocks; the race runs from the start time; a decided race ends a frame
// later; nothing moves while paused.
TEST(GamePhases, IntroCountdownRunAndEnd)
{
    PhaseRace race;
    Game& game = race.game();
    Game::Vehicle& player = addVehicle(game, 0);
    Game::Vehicle& other = addVehicle(game, 1);
    player.isPlayer = 1;
    game.update();
    EXPECT_EQ(game.phase, 1u) << "the flight goes on";
    race.path.finished = 1;
    game.paused = 1;
    game.update();
    EXPECT_EQ(game.phase, 1u) << "paused";
    game.paused = 0;
    game.update();
    ASSERT_EQ(game.phase, 2u);
    EXPECT_EQ(game.startTime, 53000u);
    EXPECT_EQ(player.raceStart, 53000u);
    EXPECT_EQ(other.lapStart, 53000u);
    struct Step
    {
        uint32_t at;
        uint32_t phase;
        uint8_t second;
    };
    for (const Step& s : {Step{50000, 2, 3}, Step{51001, 2, 1}, Step{52999, 2, 0}, Step{53000, 3, 0}}) {
        TestClock::now = s.at;
        game.update();
        EXPECT_EQ(game.phase, s.phase) << "at " << s.at;
    }
    TestClock::now += 60000;
    game.update();
    EXPECT_EQ(game.phase, 3u);
    game.raceOver = 1;
    game.paused = 1;
    game.update();
    EXPECT_EQ(game.phase, 3u);
    game.paused = 0;
    game.update();
    EXPECT_EQ(game.phase, 4u);
    EXPECT_EQ(game.raceOver, 0u);
}

// A race decided during the countdown runs at once and ends a frame later.
TEST(GamePhases, ARaceDecidedInTheCountdown)
{
    PhaseRace race;
    Game& game = race.game();
    game.phase = 2;
    game.startTime = TestClock::now + 3000;
    game.raceOver = 1;
    game.update();
    EXPECT_EQ(game.phase, 3u);
    game.update();
    EXPECT_EQ(game.phase, 4u);
}

// Giving up: place 99 with no time in the lap modes, -1 points in the
// points modes, which the standings then put last; the race is over;
// nothing without a player.
TEST(GamePhases, GivingUp)
{
    struct Case
    {
        int32_t mode;
        int32_t points;
        bool noTime;
    };
    for (const Case& c : {Case{Game::OffRoadRace, 5, true}, Case{Game::TimeTrial, 5, true},
                          Case{Game::CaptureTheFlag, -1, false}, Case{Game::Jamboree, -1, false}}) {
        SCOPED_TRACE(c.mode);
        PhaseRace race;
        Game& game = race.game();
        game.phase = 3;
        game.choice.gameMode = c.mode;
        game.giveUpRace();
        EXPECT_EQ(game.raceOver, 0u) << "no player";
        Game::Vehicle& player = addVehicle(game, 0);
        player.isPlayer = 1;
        player.points = 5;
        addVehicle(game, 1);
        game.giveUpRace();
        EXPECT_EQ(player.finished, 1u);
        EXPECT_EQ(game.raceOver, 1u);
        EXPECT_EQ(player.place, 2) << "ranked behind the other";
        EXPECT_EQ(player.points, c.points);
        EXPECT_EQ(Game::formatRaceTime(player.raceTime).sameText(String(L"-")), c.noTime);
    }
}
