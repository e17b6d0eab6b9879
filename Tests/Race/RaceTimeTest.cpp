#include "RaceTestSupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using namespace RaceTest;

TEST(RaceTime, SplitsKeysAndTexts)
{
    struct Case
    {
        int32_t ms;
        RaceTime record;
        int32_t key;
        const wchar_t* text;
    };
    const Case cases[] = {
        {-2999, {'-', 0, 2, 99}, 2099, L"00:02.99"},
        {0, {' ', 0, 0, 0}, 0, L"00:00.00"},
        {61234, {' ', 1, 1, 23}, 61023, L"01:01.23"},
        {5940000, {' ', 99, 0, 0}, Game::noTime, L"-"},
        {5940010, {' ', 99, 0, 1}, 5940001, L"99:00.01"},
        {15359990, {' ', 255, 59, 99}, 15359099, L"255:59.99"},
        // Beyond the minutes byte: the longest time, never a short one.
        {15360000, {' ', 255, 59, 99}, 15359099, L"255:59.99"},
        {INT_MIN, {'-', 255, 59, 99}, 15359099, L"255:59.99"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        RaceTime record{'x', 7, 7, 7};
        Game::splitRaceTime(c.ms, record);
        EXPECT_TRUE(record == c.record) << record.sign << int(record.minutes) << ":" << int(record.seconds) << "."
                                        << int(record.hundredths);
        EXPECT_EQ(Game::raceTimeKey(record), c.key);
        EXPECT_EQ(std::wstring(Game::formatRaceTime(record).text()), c.text);
    }
    EXPECT_EQ(Game::raceTimeMilliseconds({' ', 1, 1, 23}), 61230);
    EXPECT_EQ(Game::isZeroTime({'-', 0, 0, 0}), 1u);
    EXPECT_EQ(Game::isZeroTime({' ', 0, 0, 1}), 0u);
    EXPECT_EQ(Game::isZeroTime({' ', 1, 0, 0}), 0u);
}

// A TimeTrial of three laps of 1000 units on course type 1, the player on the
// middle node of a way list with no segments: the driven distance is the
// way point's distance.
struct Estimate : ::testing::Test
{
    Estimate()
    {
        game.choice.courseType = 1;
        game.choice.goal = 3;
        game.courseLength = 1000.0f;
        game.course = way.list;
        player.isPlayer = 1;
        player.wayNode = way.node(1);
    }
    int32_t at(uint32_t now, int32_t raceMs, float driven)
    {
        TestClock::now = now;
        Game::splitRaceTime(raceMs, player.raceTime);
        player.wayPoint.distance = driven;
        return game.estimateFinalTime();
    }

    TestClock clock{1000};
    Game game{nullptr, nullptr};
    WayList way{3, 10.0f, false};
    Game::Vehicle& opponent = addVehicle(game, 1);
    Game::Vehicle& player = addVehicle(game, 0);
};

TEST_F(Estimate, ScalesMillisecondsHoldsThreeSecondsAndMovesAQuarterOfTheWay)
{
    // A quarter driven in 1:00.50: 4:02.00 (scaling the key would give the
    // key 240200, which is no time at all).
    EXPECT_EQ(at(10000, 60500, 750.0f), 242000);
    EXPECT_EQ(game.estimateDue, 13000u);
    EXPECT_EQ(at(13000, 90000, 1000.0f), 242000); // still held
    // A third in 1:30.00 projects 4:30.00; the estimate moves a quarter:
    // 242000 + 28000 / 4 ms = 4:09.00.
    EXPECT_EQ(at(13001, 90000, 1000.0f), 249000);
    // The quarter step rounds toward minus infinity: 247523 + (-53 >> 2)
    // gives 4:07.50, a division 4:07.51.
    game.estimate = 247523;
    EXPECT_EQ(at(20000, 247470, 3000.0f), 247050);
}

TEST_F(Estimate, NoTimeEarlyWithoutAPlayerAndBeyondTheLimit)
{
    EXPECT_EQ(at(5000, 2000, 1.0f), Game::noTime);  // too early to tell
    EXPECT_EQ(at(5000, 2000, 0.25f), Game::noTime);
    EXPECT_EQ(game.estimateDue, 0u);
    // Driven further than the race: clamped to the whole distance.
    EXPECT_EQ(at(5000, 300000, 9000.0f), 300000);
    // A projection past 99 minutes is no time and kept unsmoothed.
    EXPECT_EQ(at(9000, 60000, 1.5f), Game::noTime);
    EXPECT_EQ(game.estimate, Game::noTime);
    // The list's first node counts as any other; the distance counts from
    // where the race started.
    player.wayNode = way.node(0);
    game.estimate = 0;
    EXPECT_EQ(at(20000, 60000, 500.0f), 360000);
    player.drivenAtStart = 250.0f;
    game.estimate = 0;
    EXPECT_EQ(at(30000, 60000, 500.0f), 720000);
    player.isPlayer = 0;
    EXPECT_EQ(at(30000, 60000, 500.0f), Game::noTime);
}

TEST_F(Estimate, FinishedPlayerAndCourseTypeThree)
{
    // Course type 3 runs from the Goal (200) to the Start (1200) and takes
    // any node: 700 on the list's head is half of the way.
    game.choice.courseType = 3;
    game.goalDistance = 200.0f;
    game.startDistance = 1200.0f;
    player.wayNode = way.node(0);
    EXPECT_EQ(at(1000, 30000, 700.0f), 60000);
    // A closed course whose Goal (300) stands past the Start (200): the run
    // goes round through the list's end, 900 long; 800 driven a round on.
    game.goalDistance = 300.0f;
    game.startDistance = 200.0f;
    game.estimate = 0;
    player.wayRounds = 1;
    EXPECT_EQ(at(5000, 40000, 100.0f), 45000);
    game.choice.courseType = 4; // no course: no distance
    EXPECT_EQ(at(9000, 30000, 700.0f), Game::noTime);
    player.finished = 1;
    EXPECT_EQ(at(9000, 125370, 0.0f), 125037);
}

}
