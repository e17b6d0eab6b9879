// The screens that frame a race, without a device: the race results, the
// championship points, the game over, the pause, the exit question and the
// quad customising screen, alone and through the state machine.
#include "RaceScreensSupport.h"

#include "../Race/RaceTestSupport.h"

#include "Menu/GameMenuControl.h"
#include "Menu/GameMenuEditField.h"
#include "Menu/GameMenuMyQuad.h"
#include "Menu/GameMenuOverlays.h"
#include "Menu/GameMenuPause.h"
#include "Menu/GameMenuPoints.h"
#include "Menu/GameMenuRaceResults.h"

#include "Render/RenderTexture.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

using namespace RaceScreenTest;
using MenuStandIn::calls;

namespace {

using Results = RaceScreens;
using PointsScreen = RaceScreens;
using PauseScreen = RaceScreens;
using SmallScreens = RaceScreens;

RaceTime timeOf(int minutes, int seconds, int hundredths)
{
    RaceTime t;
    t.minutes = uint8_t(minutes);
    t.seconds = uint8_t(seconds);
    t.hundredths = uint8_t(hundredths);
    return t;
}

std::unique_ptr<RaceRecords::Entry> record(const wchar_t* name, int seconds, uint32_t isNew = 0)
{
    auto entry = std::make_unique<RaceRecords::Entry>();
    entry->name = String(name);
    entry->date.set(5, 6, 2024);
    entry->time = timeOf(1, seconds, 3);
    entry->isNew = isNew;
    return entry;
}

}

TEST_F(Results, EightOfNineVehiclesAreRankedByPlaceAndEqualPlacesKeepTheirOrder)
{
    world.race.choice.gameMode = Game::OffRoadRace;
    const int32_t places[] = {3, 1, 2, 2, 5, 4, 8, 7, 6};
    for (int32_t i = 0; i < 9; ++i)
        addVehicle(places[i], i == 4).name = String(std::to_wstring(i).c_str());
    GameMenu::RaceResults results(menu);
    ASSERT_EQ(results.standingCount, 8);
    std::wstring order, ranks;
    for (int32_t k = 0; k < results.standingCount; ++k) {
        order += textOf(results.standings[k]->name);
        ranks += textOf(results.standings[k]->rank);
        EXPECT_EQ(results.standings[k]->place, k);
    }
    EXPECT_EQ(order, L"12305476");
    EXPECT_EQ(ranks, L"1.2.3.4.5.6.7.8.");
    // The slot stays the vehicle's position in the list.
    EXPECT_EQ(results.standings[0]->slot, 1);

    results.enter(GameMenu::noScreen);
    EXPECT_EQ(textOf(results.titleText), L"RACE RESULTS");
    EXPECT_EQ(textOf(results.valueHeader), L"BEST TIME  ");
    EXPECT_EQ(results.dateHeader, nullptr);
    EXPECT_EQ(results.minPlaceButton, nullptr);
    // A finished vehicle shows its time, the others "-"; the ranking follows
    // the race's places every frame outside a championship.
    Game::Vehicle& second = *world.race.vehicles.head()->next->item;
    second.finished = 1;
    second.raceTime = timeOf(2, 5, 7);
    world.race.vehicles.head()->item->place = 1;
    second.place = 3;
    results.update();
    results.layoutRows();
    EXPECT_EQ(textOf(results.standings[0]->name), L"0");
    EXPECT_EQ(textOf(results.standings[1]->name), L"2");
    EXPECT_EQ(textOf(results.standings[3]->name), L"1");
    EXPECT_EQ(textOf(results.standings[3]->value), L"02:05.07");
    EXPECT_EQ(textOf(results.standings[0]->value), L"-");
    // Without the "HUDEliminated" picture no icon shows.
    world.race.vehicles.head()->item->parkingSlot = reinterpret_cast<Object*>(&results);
    world.race.vehicles.head()->item->knockedOut = 1;
    results.sortStandings();
    EXPECT_FALSE(results.standings[0]->icon->enabled);
    world.race.vehicles.head()->item->parkingSlot = nullptr;
    world.race.vehicles.head()->item->knockedOut = 0;
}

TEST_F(Results, TheRowsSlideInFromAlternateSidesAndSitBehindBars)
{
    world.race.choice.gameMode = Game::Jamboree;
    for (int32_t i = 0; i < 3; ++i)
        addVehicle(i + 1, i == 1).points = 10 * i;
    GameMenu::RaceResults results(menu);
    results.enter(GameMenu::noScreen);
    EXPECT_EQ(textOf(results.valueHeader), L"POINTS     ");
    EXPECT_EQ(textOf(results.standings[2]->value), L"20");
    const int32_t W = 1024;
    for (float fade : {0.0f, 0.5f, 1.0f}) {
        results.opacity = fade;
        results.update();
        results.layoutRows();
        const float slide = float(W) * (1.0f - GameMenuBars::ease(fade));
        EXPECT_EQ(results.rankColumn, (W - GameMenuOverlay::measure(*results.rankHeader).width) / 8);
        EXPECT_EQ(results.valueColumn, 7 * (W - GameMenuOverlay::measure(*results.valueHeader).width) / 8);
        EXPECT_EQ(results.rankHeader->x, results.rankColumn + int32_t(slide));
        EXPECT_EQ(results.standings[0]->rank->x, results.rankColumn - int32_t(slide));
        EXPECT_EQ(results.standings[1]->rank->x, results.rankColumn + int32_t(slide));
        EXPECT_EQ(results.standings[2]->rank->y, results.rankHeader->y + 50 + 120);
        EXPECT_EQ(results.rankHeader->colour.a, uint8_t(fade * 255.0f));
    }
    EXPECT_EQ(GameMenuBars::ease(1.0f), 1.0f);
    EXPECT_GT(GameMenuBars::ease(0.8f), 1.0f); // it overshoots before it settles
    // Title, header line and three rows.
    ASSERT_EQ(results.buildBars(), 5u);
    const GameMenuBars::Vertex* row = results.barVertices + 6 * 3;
    const UserInterface::Text& rank = *results.standings[1]->rank;
    EXPECT_EQ(row[0].x, float(rank.x - 10));
    EXPECT_EQ(row[0].y, float(rank.y - 10));
    EXPECT_EQ(row[5].y, float(rank.y + GameMenuOverlay::measure(*results.rankHeader).height + 10));
    EXPECT_EQ(row[0].rhw, 1.0f);
    // The player's row pulses, the others keep their colour.
    const Color before = results.standings[1]->name->colour;
    results.layoutRows();
    results.layoutRows();
    EXPECT_NE(results.standings[1]->name->colour, results.standings[0]->name->colour);
    (void)before;
}

TEST_F(Results, ATimeTrialListsEightLapRecordsAndTheRacesOwnTimeWithADash)
{
    world.race.choice.gameMode = Game::TimeTrial;
    RaceRecords& records = world.race.records;
    for (int32_t i = 0; i < 10; ++i)
        records.laps[i] = record(i == 2 ? L"Fast" : L"Other", 10 + i, i == 2);
    records.laps[10] = record(L"Slow", 50, 0);
    records.lapCount = 10;
    GameMenu::RaceResults results(menu);
    ASSERT_EQ(results.recordCount, 9);
    EXPECT_EQ(textOf(results.records[0]->rank), L"1.");
    EXPECT_EQ(textOf(results.records[7]->rank), L"8.");
    EXPECT_EQ(textOf(results.records[8]->rank), L"-");
    EXPECT_EQ(textOf(results.records[8]->name), L"Fast");
    EXPECT_EQ(textOf(results.records[1]->date), L"05.06.2024");
    EXPECT_EQ(textOf(results.records[1]->time), L"01:11.03");
    results.enter(GameMenu::noScreen);
    EXPECT_EQ(textOf(results.titleText), L"LAP RECORDS");
    EXPECT_EQ(textOf(results.dateHeader), L"DATE");
    results.update();
    EXPECT_EQ(results.dateColumn, 2 * (1024 - GameMenuOverlay::measure(*results.dateHeader).width) / 8);
    EXPECT_EQ(results.playerColumn, 4 * (1024 - GameMenuOverlay::measure(*results.playerHeader).width) / 8);
    // Title, header line and nine rows: all 66 vertices.
    EXPECT_EQ(results.buildBars(), 11u);
    // The record set in this race pulses on both of its lines.
    results.layoutRows();
    results.layoutRows();
    EXPECT_NE(results.records[2]->name->colour, results.records[1]->name->colour);
    EXPECT_EQ(results.records[8]->name->colour, results.records[2]->name->colour);
}

TEST_F(Results, InAChampionshipThePlacesPayTheirPointsOnceToEachSlot)
{
    Game::ChampionshipEntry& entry = championship(Game::Circuit);
    entry.raceNumber = 2;
    const uint8_t before[8] = {3, 0, 9, 1, 250, 0, 0, 0};
    std::copy(before, before + 8, entry.points);
    const int32_t places[] = {2, 1, 4, 3, 5};
    for (int32_t i = 0; i < 5; ++i)
        addVehicle(places[i], i == 0);
    GameMenu::RaceResults results(menu);
    results.enter(GameMenu::noScreen);
    EXPECT_EQ(textOf(results.valueHeader), L"POINTS     ");
    EXPECT_EQ(textOf(results.standings[0]->value), L"16");
    EXPECT_EQ(textOf(results.standings[3]->value), L"4");
    ASSERT_NE(results.minPlaceButton, nullptr);
    EXPECT_EQ(textOf(results.minPlaceButton), L"MIN: 2.");
    EXPECT_EQ(results.nextScreen(), GameMenu::pointsState);
    results.close();
    results.close();
    const int32_t paid[] = {11, 16, 4, 7, 2};
    for (int32_t slot = 0; slot < 5; ++slot)
        EXPECT_EQ(entry.points[slot], std::min(255, before[slot] + paid[slot])) << slot;
    EXPECT_EQ(entry.points[5], 0);
    EXPECT_TRUE(results.isDone());
    EXPECT_EQ(results.titleText, nullptr);
}

// The player (slot 0) leads, a lap or far along the way ahead of A, B and
// C (slots 1 to 3); C passes A while B is off the way, on no way node
// (where a lap counts, C comes nearer the gate); A and B finish, then the
// player: the standings, the results and their points follow the finish,
// C still racing last.
TEST_F(Results, ALeaderWhoFinishesAfterTwoOthersRanksThirdInEveryMode)
{
    RaceTest::WayList way(10, 50.0f, false);
    world.race.course = way.list;
    world.race.phase = 3;
    for (int32_t mode : {Game::OffRoadRace, Game::TimeTrial, Game::KnockOut, Game::Circuit}) {
        SCOPED_TRACE(mode);
        world.race.vehicles.deleteAll();
        Game::ChampionshipEntry& entry = championship(mode);
        Game::Vehicle* v[4];
        for (int i = 0; i < 4; ++i) {
            v[i] = &addVehicle(1, i == 0);
            v[i]->lap = i == 0 ? 2 : 1;
            v[i]->wayNode = way.node(i == 0 ? 8 : 7 - i);
            v[i]->nextGateDistSq = 10.0f * float(i);
        }
        const auto standing = [&] {
            world.race.rankVehicles();
            std::string slots(4, '?');
            for (Game::Vehicle* vehicle : v)
                slots[size_t(vehicle->place - 1)] = char('0' + vehicle->slot);
            return slots;
        };
        EXPECT_EQ(standing(), "0123");
        v[2]->wayNode = nullptr;
        v[3]->wayNode = way.node(7);
        v[3]->nextGateDistSq = 5.0f;
        EXPECT_EQ(standing(), mode == Game::KnockOut || mode == Game::Circuit ? "0321" : "0312");
        v[1]->finish();
        standing();
        v[2]->finish();
        EXPECT_EQ(standing(), "1203");
        v[0]->finish();
        EXPECT_EQ(standing(), "1203");
        if (mode == Game::TimeTrial)
            continue; // its results list times
        GameMenu::RaceResults results(menu);
        EXPECT_EQ(results.standings[2]->vehicle, v[0]);
        results.close();
        EXPECT_EQ(std::vector<int>(entry.points, entry.points + 4), (std::vector<int>{7, 16, 11, 4}));
        std::fill(std::begin(entry.points), std::end(entry.points), uint8_t(0));
        // A player who gave up is listed last and earns nothing.
        world.race.giveUpRace();
        GameMenu::RaceResults givenUp(menu);
        EXPECT_EQ(givenUp.standings[3]->vehicle, v[0]);
        EXPECT_EQ(textOf(givenUp.standings[3]->value), L"0");
        givenUp.close();
        EXPECT_EQ(std::vector<int>(entry.points, entry.points + 4), (std::vector<int>{0, 16, 11, 7}));
        std::fill(std::begin(entry.points), std::end(entry.points), uint8_t(0));
    }
    world.race.course = nullptr;
}

TEST_F(Results, AChampionshipTimeTrialRanksThePlayerAmongEveryOpponentTime)
{
    Game::ChampionshipEntry& entry = championship(Game::TimeTrial);
    Game::Vehicle& player = addVehicle(1, true);
    player.raceTime = timeOf(1, 30, 0);
    world.race.targetTimeCount = 8;
    for (int32_t i = 0; i < 8; ++i)
        world.race.targetTimes[i] = timeOf(1, 20 + 3 * i, 0); // 1:20, 1:23, ... 1:41
    GameMenu::RaceResults results(menu);
    // The player and seven opponents; the eighth time is not listed.
    ASSERT_EQ(results.timeTrialCount, 8);
    std::vector<int32_t> slots;
    for (int32_t k = 0; k < results.timeTrialCount; ++k)
        slots.push_back(results.timeTrials[k]->slot);
    EXPECT_EQ(slots, (std::vector<int32_t>{1, 2, 3, 4, 0, 5, 6, 7}));
    EXPECT_EQ(textOf(results.timeTrials[4]->rank), L"5.");
    EXPECT_EQ(textOf(results.timeTrials[4]->points), L"2");
    EXPECT_EQ(textOf(results.timeTrials[0]->time), L"01:20.00");
    results.enter(GameMenu::noScreen);
    EXPECT_EQ(textOf(results.titleText), L"RACE RESULTS");
    EXPECT_EQ(textOf(results.timeHeader), L"TIME");
    // One line a place, under the headers.
    results.layoutRows();
    for (int32_t k = 0; k < results.timeTrialCount; ++k) {
        const GameMenu::RaceResults::TimeTrialRow& row = *results.timeTrials[k];
        const int32_t y = results.rankHeader->y + 50 + 60 * k;
        for (GameMenu::Text* text : {row.rank, row.nameText, row.time, row.points})
            EXPECT_EQ(text->y, y) << k;
    }
    results.close();
    const int32_t paid[] = {2, 16, 11, 7, 4, 1, 0, 0};
    for (int32_t slot = 0; slot < 8; ++slot)
        EXPECT_EQ(entry.points[slot], paid[slot]) << slot;
    // Given up, the player has no time, comes last and earns nothing.
    world.race.giveUpRace();
    GameMenu::RaceResults givenUp(menu);
    EXPECT_EQ(givenUp.timeTrials[7]->slot, 0);
    EXPECT_EQ(textOf(givenUp.timeTrials[7]->points), L"0");
    givenUp.close();
    EXPECT_EQ(entry.points[0], 2);
}

TEST_F(Results, ConfirmBackAndAnEarlyAccelerateDoNothingThenAccelerateLeadsToTheMapChoice)
{
    raceOver();
    menu.onRaceFinished();
    ASSERT_NE(menu.raceResultsScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::raceResultsState);
    auto& results = static_cast<GameMenu::RaceResults&>(*menu.raceResultsScreen);
    EXPECT_NE(results.titleText, nullptr);
    menu.onKeyConfirm();
    menu.onKeyBack();
    results.opacity = 0.99f;
    menu.onRaceFinished();
    menu.update();
    EXPECT_EQ(menu.raceResultsScreen, &results);
    EXPECT_FALSE(results.isDone());
    EXPECT_EQ(sounds(), "0 0 0");
    calls.clear();
    results.opacity = 1.0f;
    menu.onRaceFinished();
    menu.update();
    EXPECT_EQ(menu.raceResultsScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
    EXPECT_NE(MenuStandIn::joined().find("world:releaseRace"), std::string::npos) << MenuStandIn::joined();
}

// The pause key once the race is over is the results' key, as Up is: it
// shows them and pauses nothing.
TEST_F(Results, ThePauseKeyAfterTheRaceShowsTheResults)
{
    raceOver();
    menu.onKeyPause();
    EXPECT_NE(menu.raceResultsScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::raceResultsState);
    EXPECT_EQ(menu.pauseScreen, nullptr);
}

// Points.

TEST_F(PointsScreen, RowsShowTheirOwnSlotsPointsAndTiesKeepTheirCreationOrder)
{
    Game::ChampionshipEntry& entry = championship(Game::OffRoadRace);
    const uint8_t points[] = {5, 7, 5, 7, 0, 0, 0, 0};
    std::copy(points, points + 8, entry.points);
    for (int32_t i = 0; i < 4; ++i)
        addVehicle(1, i == 0).name = String(std::to_wstring(i).c_str());
    GameMenu::Points screen(menu);
    ASSERT_EQ(screen.rowCount, 4);
    std::wstring order, ranks;
    for (int32_t k = 0; k < 4; ++k) {
        order += textOf(screen.rows[k]->name);
        ranks += textOf(screen.rows[k]->rank);
        EXPECT_EQ(textOf(screen.rows[k]->pointsText), std::to_wstring(points[screen.rows[k]->slot]));
    }
    EXPECT_EQ(order, L"1302");
    EXPECT_EQ(ranks, L"1.2.3.4.");
    EXPECT_EQ(screen.nextScreen(), GameMenu::gameOverState);
}

TEST_F(PointsScreen, ATimeTrialListsThePlayerAndEveryOpponentTheResultsPaid)
{
    struct Case
    {
        uint32_t opponentTimes;
        bool player;
        int32_t rows;
    };
    const Case cases[] = {{7, true, 8}, {3, true, 4}, {8, true, 8}, {2, false, 2}, {0, false, 0}};
    for (const Case& c : cases) {
        world.race.vehicles.deleteAll();
        Game::ChampionshipEntry& entry = championship(Game::TimeTrial);
        for (int32_t slot = 0; slot < 8; ++slot)
            entry.points[slot] = uint8_t(40 - 3 * slot);
        if (c.player)
            addVehicle(1, true);
        world.race.targetTimeCount = c.opponentTimes;
        GameMenu::Points screen(menu);
        ASSERT_EQ(screen.rowCount, c.rows) << c.opponentTimes;
        for (int32_t k = 0; k < screen.rowCount; ++k) {
            const int32_t slot = screen.rows[k]->slot;
            EXPECT_EQ(slot, c.player ? k : k + 1);
            EXPECT_EQ(screen.rows[k]->points, 40 - 3 * slot);
            EXPECT_EQ(screen.rows[k]->isPlayer, slot == 0 ? 1u : 0u);
            if (slot > 0) {
                EXPECT_EQ(textOf(screen.rows[k]->name), std::wstring(Game::getOpponentName(slot).text()));
            }
        }
    }
}

TEST_F(PointsScreen, TheNeededPointsAreHighlightedExactlyWhileThePlayerIsBelowThem)
{
    for (int32_t difference : {-1, 0, 1}) {
        Game::ChampionshipEntry& entry = championship(Game::OffRoadRace);
        world.race.choice.difficulty = 1;
        entry.raceNumber = 4;
        const int32_t needed = world.race.getNeededPoints(4);
        entry.points[0] = uint8_t(needed + difference);
        addVehicle(1, true);
        GameMenu::Points screen(menu);
        screen.enter(GameMenu::noScreen);
        EXPECT_EQ(screen.notQualified(), difference < 0);
        EXPECT_EQ(textOf(screen.neededValue), std::to_wstring(needed));
        EXPECT_EQ(textOf(screen.neededLabel), L"NEEDED POINTS:");
        screen.update();
        screen.update();
        EXPECT_EQ(screen.neededValue->colour == Color(255, 255, 255, 0), difference >= 0) << difference;
        EXPECT_EQ(screen.neededLabel->y, 60 + 40 + screen.rankHeader->y);
        // Title, headers, one row and the needed line.
        EXPECT_EQ(screen.layoutRows(), 4u);
        screen.close();
        EXPECT_EQ(screen.titleText, nullptr);
        EXPECT_EQ(screen.rowCount, 0);
        world.race.vehicles.deleteAll();
    }
}

// Eight rows sliding in: each box frames its line, the rows' boxes move
// with their rows, and the needed-points box takes the last row's edges (the
// last six of the 66 vertices).
TEST_F(PointsScreen, EveryBoxFramesItsLineAndTheNeededBoxTakesTheLastRowsEdges)
{
    championship(Game::OffRoadRace);
    for (int32_t i = 0; i < 8; ++i)
        addVehicle(1, i == 0);
    GameMenu::Points screen(menu);
    screen.enter(GameMenu::noScreen);
    ASSERT_EQ(screen.rowCount, 8);
    const auto size = [](UserInterface::Text* text) { return GameMenuOverlay::measure(*text); };
    const int32_t rankHeight = size(screen.rankHeader).height;
    const int32_t pointsWidth = size(screen.pointsHeader).width;
    const auto expectBox = [&](int32_t k, int32_t left, int32_t top, int32_t right, int32_t bottom) {
        const GameMenuBars::Vertex* v = screen.boxVertices + 6 * k;
        EXPECT_EQ(v[0].x, float(left)) << "box " << k;
        EXPECT_EQ(v[0].y, float(top)) << "box " << k;
        EXPECT_EQ(v[5].x, float(right)) << "box " << k;
        EXPECT_EQ(v[5].y, float(bottom)) << "box " << k;
    };
    for (float fade : {0.2f, 1.0f}) {
        screen.opacity = fade;
        screen.update();
        ASSERT_EQ(screen.layoutRows(), 11u);
        const UserInterface::Size title = size(screen.titleText);
        expectBox(0, screen.titleText->x - 10, screen.titleText->y, screen.titleText->x + title.width + 10,
                  screen.titleText->y + title.height);
        expectBox(1, screen.rankHeader->x - 10, screen.rankHeader->y, screen.pointsHeader->x + pointsWidth + 10,
                  screen.rankHeader->y + rankHeight);
        for (int32_t k = 0; k < 8; ++k) {
            const GameMenu::Points::Row& row = *screen.rows[k];
            EXPECT_EQ(row.rank->y, 60 * k + 50 + screen.rankHeader->y);
            EXPECT_EQ(row.rank->x, screen.rankColumn + row.offset);
            // Even rows come from the left, odd ones from the right.
            if (fade < 1.0f) {
                EXPECT_EQ(row.offset < 0, k % 2 == 0) << k;
            }
            expectBox(2 + k, row.rank->x - 10, row.rank->y - 10, row.pointsText->x + pointsWidth + 10,
                      row.rank->y + rankHeight + 10);
        }
        const GameMenu::Points::Row& last = *screen.rows[7];
        expectBox(10, last.rank->x - 10, screen.neededLabel->y, last.pointsText->x + pointsWidth + 10,
                  screen.neededLabel->y + size(screen.neededLabel).height);
    }
}

TEST_F(PointsScreen, WithoutAProgressRecordThereAreNoRowsAndOutsideAChampionshipNothing)
{
    world.race.choice.gameMode = Game::OffRoadRace;
    world.race.choice.championship = 1;
    world.race.choice.championshipKey[0] = 'Q';
    world.race.choice.championshipKey[1] = 'Q';
    addVehicle(1, true);
    {
        GameMenu::Points screen(menu);
        EXPECT_EQ(screen.rowCount, 0);
        EXPECT_FALSE(screen.notQualified());
    }
    world.race.choice.championship = 0;
    GameMenu::Points solo(menu);
    EXPECT_EQ(solo.rowCount, 0);
    EXPECT_EQ(solo.neededPoints, 0);
}

// Bad input: random races, places, times and progress bytes.

TEST_F(Results, RandomRacesGiveBoundedTablesAndTouchOnlyTheirRecord)
{
    std::mt19937 random(56);
    for (int round = 0; round < 300; ++round) {
        world.race.vehicles.deleteAll();
        world.race.records.clear();
        for (auto& record : world.race.championshipTable)
            record = Game::ChampionshipEntry{};
        world.race.choice = RaceChoice{};
        world.race.choice.gameMode = int32_t(random() % 8); // 0 and 7 are no modes
        world.race.choice.difficulty = int32_t(random() % 3);
        const bool inChampionship = random() % 2;
        Game::ChampionshipEntry* entry = nullptr;
        if (inChampionship) {
            world.race.choice.championship = 1;
            world.race.choice.championshipKey[0] = 'D';
            world.race.choice.championshipKey[1] = 'E';
            if (random() % 4)
                entry = world.race.findChampionshipEntry('D', 'E');
        }
        Game::ChampionshipEntry neighbour;
        neighbour.key0 = 'A';
        neighbour.key1 = 'T';
        for (uint8_t& b : neighbour.points)
            b = uint8_t(random());
        world.race.championshipTable[31] = neighbour;
        if (entry) {
            entry->raceNumber = uint8_t(random() % 7);
            for (uint8_t& b : entry->points)
                b = uint8_t(random());
        }
        const int vehicles = int(random() % 13);
        for (int i = 0; i < vehicles; ++i) {
            Game::Vehicle& v = addVehicle(random() % 5 ? int32_t(random() % 10) : 99, random() % 6 == 0);
            v.finished = random() % 2;
            v.raceTime = timeOf(int(random() % 256), int(random() % 60), int(random() % 100));
            v.points = int32_t(random() % 2000) - 1000;
        }
        world.race.targetTimeCount = random() % 9;
        for (RaceTime& t : world.race.targetTimes)
            t = timeOf(int(random() % 256), int(random() % 60), int(random() % 100));
        const int laps = int(random() % 12);
        for (int i = 0; i < laps; ++i)
            world.race.records.laps[i] = record(L"R", int(random() % 60), random() % 5 == 0);
        world.race.records.lapCount = uint32_t(std::min(laps, 10));

        GameMenu::RaceResults results(menu);
        EXPECT_LE(results.standingCount, 8);
        EXPECT_LE(results.recordCount, 9);
        EXPECT_LE(results.timeTrialCount, 8);
        results.enter(GameMenu::noScreen);
        results.opacity = float(random() % 100) / 99.0f;
        results.update();
        results.layoutRows();
        EXPECT_LE(results.buildBars(), 11u);
        results.close();

        GameMenu::Points points(menu);
        EXPECT_LE(points.rowCount, 8);
        points.enter(GameMenu::noScreen);
        points.update();
        EXPECT_LE(points.layoutRows(), 11u);
        for (int32_t k = 0; k < points.rowCount; ++k)
            EXPECT_EQ(points.rows[k]->points, entry->points[points.rows[k]->slot]);
        EXPECT_TRUE(world.race.championshipTable[31] == neighbour);
    }
}

// Game over.

// A player below the needed points after each race of each difficulty: the
// throttle closes the points, and the game over repeats their needed points
// and the player's; the lost championship unlocks nothing.
TEST_F(SmallScreens, TheGameOverRepeatsTheNeededPointsOfThePointsScreen)
{
    struct Advancing : World
    {
        void advanceChampionship() override { race.advanceChampionship(); }
    } advancing;
    menu.world = &advancing;
    Game& race = advancing.race;
    race.phase = 4;
    for (uint8_t difficulty = 0; difficulty < 3; ++difficulty)
        for (uint8_t number = difficulty == 0 ? 1 : 0; number < Game::championshipRaces; ++number) {
            SCOPED_TRACE(std::to_string(difficulty) + " " + std::to_string(number));
            race.choice = {.difficulty = difficulty, .championship = 1, .championshipKey = {'D', 'E'}};
            const int32_t needed = race.getNeededPoints(number);
            *race.findChampionshipEntry('D', 'E') = {'D', 'E', difficulty, difficulty, number, {uint8_t(needed - 1)}};
            menu.showPoints(true);
            menu.openScreen(GameMenu::pointsState);
            const std::wstring shown = textOf(static_cast<GameMenu::Points*>(menu.pointsScreen)->neededValue);
            EXPECT_EQ(shown, std::to_wstring(needed));
            menu.onRaceFinished();
            menu.update();
            ASSERT_NE(menu.gameOverScreen, nullptr);
            const auto* over = static_cast<GameMenu::GameOver*>(menu.gameOverScreen);
            EXPECT_EQ(textOf(over->neededValue), shown);
            EXPECT_EQ(textOf(over->pointsValue), std::to_wstring(needed - 1));
            EXPECT_EQ(race.getChampionshipEntry()->unlocked, difficulty);
            menu.showGameOver(false);
        }
    menu.world = &world;
}

TEST_F(SmallScreens, GameOverMovesBetweenItsTwoButtonsAndLeadsToMainOrTheRestart)
{
    Game::ChampionshipEntry& entry = championship(Game::OffRoadRace);
    entry.points[0] = 12;
    struct Case
    {
        std::vector<void (GameMenu::GameOver::*)()> keys;
        std::string sounds;
        int32_t next;
    };
    using G = GameMenu::GameOver;
    const Case cases[] = {{{}, "0 0 0", GameMenu::championshipRestartState},
                          {{&G::onKeyDown, &G::onKeyUp}, "0 2 0", GameMenu::championshipRestartState},
                          {{&G::onKeyDown, &G::onKeyDown}, "0 1 0", GameMenu::mainState},
                          {{&G::onKeyUp}, "0 0 0", GameMenu::championshipRestartState}};
    for (const Case& c : cases) {
        GameMenu::GameOver screen(menu);
        screen.enter(GameMenu::noScreen);
        EXPECT_EQ(textOf(screen.titleText), L"GAME OVER");
        EXPECT_EQ(textOf(screen.pointsValue), L"12");
        EXPECT_EQ(screen.titleText->scale, 2.5f);
        // Everything fades in with the background.
        EXPECT_EQ(screen.restartButton->colour.a, 0);
        screen.update();
        screen.draw();
        EXPECT_LT(screen.opacity, 0.5f);
        EXPECT_EQ(screen.endButton->colour.a, uint8_t(screen.opacity * 255.0f));
        // The layout table at 1024 x 768 (h = 48).
        const auto width = [](UserInterface::Text* text) { return GameMenuOverlay::measure(*text).width; };
        struct Place
        {
            UserInterface::Text* text;
            int32_t x, y;
        };
        const int32_t neededX = ((1024 - width(screen.neededLabel)) >> 4) * 7;
        const int32_t valueX = ((1024 - width(screen.neededValue)) >> 4) * 10;
        const Place places[] = {{screen.titleText, (1024 - width(screen.titleText)) >> 1, 2 * 48},
                                {screen.neededLabel, neededX, 6 * 48},
                                {screen.neededValue, valueX, 6 * 48},
                                {screen.pointsLabel, neededX, 7 * 48},
                                {screen.pointsValue, valueX, 7 * 48},
                                {screen.restartButton, (1024 - width(screen.restartButton)) >> 1, 10 * 48},
                                {screen.endButton, (1024 - width(screen.endButton)) >> 1, 11 * 48}};
        for (const Place& place : places) {
            EXPECT_EQ(place.text->x, place.x) << textOf(place.text).c_str();
            EXPECT_EQ(place.text->y, place.y) << textOf(place.text).c_str();
        }
        for (auto key : c.keys)
            (screen.*key)();
        EXPECT_EQ(sounds(), c.sounds);
        RenderTexture target;
        menu.smoothTarget = &target;
        screen.onKeyConfirm();
        EXPECT_EQ(menu.smoothTarget, nullptr) << "the blur goes with the screen";
        EXPECT_EQ(sounds(), "0 1 0");
        EXPECT_TRUE(screen.isDone());
        EXPECT_EQ(screen.nextScreen(), c.next);
        EXPECT_EQ(screen.titleText, nullptr);
    }
}

// Exit.

TEST_F(SmallScreens, TheExitQuestionStartsOnNoAndKeepsNoAfterBack)
{
    GameMenu::Exit screen(menu);
    screen.enter(GameMenu::noScreen);
    EXPECT_EQ(textOf(screen.titleText), L"Exit game?");
    EXPECT_EQ(screen.yesButton->x, 2 * (1024 - GameMenuOverlay::measure(*screen.yesButton).width) / 5);
    EXPECT_EQ(screen.noButton->x, 3 * (1024 - GameMenuOverlay::measure(*screen.noButton).width) / 5);
    EXPECT_EQ(screen.focusValue, GameMenu::Exit::noValue);
    screen.onKeyConfirm();
    EXPECT_EQ(screen.nextScreen(), GameMenu::mainState);
    EXPECT_EQ(sounds(), "0 1 0");
    screen.reset();
    screen.enter(GameMenu::noScreen);
    screen.onKeyLeft();
    EXPECT_EQ(screen.nextScreen(), GameMenu::quitState);
    screen.onKeyRight();
    screen.onKeyRight();
    EXPECT_EQ(sounds(), "3 0 0");
    screen.onKeyBack();
    EXPECT_EQ(sounds(), "0 0 1");
    EXPECT_EQ(screen.nextScreen(), GameMenu::mainState);
    EXPECT_EQ(screen.focusValue, GameMenu::Exit::noValue);
    EXPECT_TRUE(screen.isDone());
}

TEST_F(SmallScreens, YesThroughTheStateMachineQuitsTheGame)
{
    menu.createExit();
    menu.openScreen(GameMenu::exitState);
    menu.onKeyRight();
    menu.onKeyConfirm();
    menu.update();
    EXPECT_EQ(menu.menuState, GameMenu::quitState);
    EXPECT_EQ(MenuStandIn::count("app:quit"), 1);
}

// Pause.

TEST_F(PauseScreen, FocusRunsOverThePresentButtonsAndTheSettingsSitInTheirTwelfths)
{
    struct Case
    {
        bool championship;
        std::vector<int32_t> down;
        std::vector<int32_t> up;
        int32_t controlTwelfth;
    };
    const Case cases[] = {{false, {32, 34, 35, 31}, {35, 34, 32, 31}, 7},
                          {true, {32, 33, 34, 35, 31}, {35, 34, 33, 32, 31}, 8}};
    for (const Case& c : cases) {
        world.race.choice.championship = c.championship ? 1 : 0;
        GameMenu::Pause pause(menu);
        EXPECT_EQ(pause.exitChampionshipButton != nullptr, c.championship);
        pause.update();
        const int32_t h = GameMenuOverlay::measure(*pause.controlButton).height;
        EXPECT_EQ(pause.controlButton->y, (768 - h) * c.controlTwelfth / 12);
        EXPECT_EQ(pause.continueButton->y, (768 - h) * 5 / 12);
        EXPECT_EQ(pause.titleText->y, 80);
        for (int32_t expected : c.down) {
            pause.onKeyDown();
            EXPECT_EQ(pause.focusValue, expected);
        }
        for (int32_t expected : c.up) {
            pause.onKeyUp();
            EXPECT_EQ(pause.focusValue, expected);
        }
        EXPECT_EQ(sounds(), std::to_string(c.down.size() + c.up.size()) + " 0 0");
    }
}

TEST_F(PauseScreen, ThePauseStopsTheSceneUntilItGoesAndShowsTheCursorMeanwhile)
{
    struct Case
    {
        bool championship;
        int32_t focus;
        const char* key;
        const char* after;    // the calls after the key
        int32_t state;        // the menu state after the next frame
    };
    const Case cases[] = {
        {false, 31, "confirm", "world:resume app:cursorOff", GameMenu::noScreen},
        {false, 31, "back", "world:resume app:cursorOff", GameMenu::noScreen},
        {true, 32, "confirm", "world:giveUpRace world:resume app:cursorOff", GameMenu::noScreen},
        {false, 32, "confirm", "world:releaseRace app:cursorOn world:clear world:resume", GameMenu::mainState},
        {true, 33, "confirm", "world:releaseRace app:cursorOn world:clear world:resume", GameMenu::mainState},
    };
    for (const Case& c : cases) {
        world.race.choice.championship = c.championship ? 1 : 0;
        world.race.phase = 3;
        menu.menuState = GameMenu::noScreen;
        calls.clear();
        menu.onKeyPause();
        ASSERT_NE(menu.pauseScreen, nullptr);
        EXPECT_EQ(MenuStandIn::joined(), "world:pause app:cursorOn");
        auto& pause = static_cast<GameMenu::Pause&>(*menu.pauseScreen);
        pause.focusValue = c.focus;
        // The blurred still's target as the device would have made it.
        RenderTexture target;
        menu.smoothTarget = &target;
        calls.clear();
        if (std::string(c.key) == "confirm")
            menu.onKeyConfirm();
        else
            menu.onKeyBack();
        menu.update();
        EXPECT_EQ(menu.pauseScreen, nullptr);
        EXPECT_EQ(menu.smoothTarget, nullptr) << "the blur goes with the pause";
        EXPECT_EQ(MenuStandIn::joined().substr(MenuStandIn::joined().find("world:")), c.after)
            << c.focus << c.key;
        EXPECT_EQ(menu.menuState, c.state);
        menu.releaseScreens();
    }
}

TEST_F(PauseScreen, TheSettingsScreensOpenOverThePauseAndComeBackToIt)
{
    MenuStandIn::useStandIns(menu);
    menu.makers[GameMenu::pauseKind] = GameMenu::Pause::make;
    world.race.phase = 3;
    menu.menuState = GameMenu::noScreen;
    // A widget of the settings screens' layer listed before the pause (the
    // settings screens are made when the menu loads), and one of the race's.
    UserInterface::Panel settingsWidget(chain.get(), GameMenu::Control::widgetLayer, 1.0f, 0.1f);
    UserInterface::Panel raceWidget(chain.get(), 2, 1.0f, 0.1f);
    menu.onKeyPause();
    auto& pause = static_cast<GameMenu::Pause&>(*menu.pauseScreen);
    for (int32_t focus : {GameMenu::Pause::controlValue, GameMenu::Pause::graphicsValue}) {
        pause.focusValue = focus;
        sounds();
        menu.onKeyConfirm();
        EXPECT_EQ(sounds(), "0 1 0");
        const int32_t state = focus == GameMenu::Pause::controlValue ? GameMenu::controlState : GameMenu::graphicsState;
        EXPECT_EQ(menu.menuState, state);
        EXPECT_FALSE(pause.titleText->enabled);
        EXPECT_FALSE(pause.continueButton->enabled);
        // The still stays as the settings screen's background: drawn after
        // the race's widgets and before every widget of the settings screens.
        EXPECT_TRUE(pause.enabled);
        const std::vector<UserInterface::Widget*> order = MenuTest::listed(*chain->userInterface);
        const auto still = std::find(order.begin(), order.end(), static_cast<UserInterface::Widget*>(&pause));
        const auto index = [&](UserInterface::Widget* w) { return std::find(order.begin(), order.end(), w); };
        EXPECT_LT(index(&raceWidget), still);
        EXPECT_LT(still, index(&settingsWidget));
        auto* settings = MenuStandIn::as(menu.screenOf(state));
        ASSERT_NE(settings, nullptr);
        EXPECT_EQ(settings->entered, GameMenu::pauseState);
        // The pause key leaves the pause in place under the settings screen,
        // and the race paused.
        const uint32_t pauseSounds = menu.soundCounts[3];
        menu.onKeyPause();
        EXPECT_EQ(menu.pauseScreen, &pause);
        EXPECT_EQ(menu.menuState, state);
        EXPECT_EQ(menu.soundCounts[3], pauseSounds);
        // The settings screen going back returns to the pause, which shows
        // again with its focus.
        settings->next = GameMenu::pauseState;
        settings->close();
        menu.update();
        EXPECT_EQ(menu.menuState, GameMenu::pauseState);
        EXPECT_TRUE(pause.titleText->enabled);
        EXPECT_TRUE(pause.graphicsButton->enabled);
        EXPECT_TRUE(pause.enabled);
        EXPECT_EQ(pause.focusValue, focus);
        EXPECT_EQ(menu.pauseScreen, &pause);
    }
    // The pause key closes it there too, and the race is the state again.
    menu.onKeyPause();
    EXPECT_EQ(menu.pauseScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::noScreen);
}

// Continued after a settings screen came back to it, the pause goes and
// the race is the state again, not the pause.
TEST_F(PauseScreen, ContinuedAfterASettingsScreenTheRaceIsTheStateAgain)
{
    MenuStandIn::useStandIns(menu);
    menu.makers[GameMenu::pauseKind] = GameMenu::Pause::make;
    world.race.phase = 3;
    menu.menuState = GameMenu::noScreen;
    menu.onKeyPause();
    auto& pause = static_cast<GameMenu::Pause&>(*menu.pauseScreen);
    pause.focusValue = GameMenu::Pause::controlValue;
    menu.onKeyConfirm();
    auto* settings = MenuStandIn::as(menu.screenOf(GameMenu::controlState));
    ASSERT_NE(settings, nullptr);
    settings->next = GameMenu::pauseState;
    settings->close();
    menu.update();
    ASSERT_EQ(menu.menuState, GameMenu::pauseState);
    pause.focusValue = 31;
    menu.onKeyBack();
    menu.update();
    EXPECT_EQ(menu.pauseScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::noScreen);
}

// The pause key bound to the menu's back or confirm input, on the keyboard
// or the gamepad, as the control screen allows: one press pauses, the next
// resumes, and the pause's rows stay in reach down to its give-up.
TEST_F(PauseScreen, APauseKeySharedWithBackOrConfirmPausesResumesAndGivesUp)
{
    struct Case
    {
        bool gamepad;
        int pause, confirm; // key codes or button numbers
    };
    constexpr int pauseSlot = 7, confirmSlot = 12, backSlot = 13;
    world.race.choice.championship = 1;
    world.race.phase = 3;
    for (const Case& c : {Case{false, DIK_ESCAPE, DIK_RETURN}, Case{false, DIK_RETURN, DIK_RETURN}, Case{true, 2, 1}}) {
        SCOPED_TRACE(c.pause);
        MenuStandIn::Keys keys;
        Control::BindingSet& set = c.gamepad ? keys.control.joystickSet : keys.control.keyboardSet;
        set.base = &keys.state;
        if (c.gamepad)
            Control::setDefaultJoystick(set);
        set.keys[pauseSlot] = set.keys[c.pause == c.confirm ? confirmSlot : backSlot];
        menu.controls = &keys.control;
        const auto press = [&](int code) {
            (c.gamepad && code != DIK_DOWN ? keys.state.joyHeld[code] : keys.state.keyHeld[code]) = 0x80;
            menu.update();
            keys.state = {};
            menu.update();
        };
        calls.clear();
        press(c.pause);
        ASSERT_NE(menu.pauseScreen, nullptr);
        press(c.pause);
        EXPECT_EQ(menu.pauseScreen, nullptr);
        EXPECT_EQ(MenuStandIn::joined(), "world:pause app:cursorOn world:resume app:cursorOff");
        press(c.pause);
        press(DIK_DOWN);
        calls.clear();
        press(c.confirm);
        EXPECT_EQ(MenuStandIn::joined(), "world:giveUpRace world:resume app:cursorOff");
        menu.controls = nullptr;
    }
}

// Quad customising.

TEST_F(SmallScreens, MyQuadOpensOnThePaletteNameOfTheSettingsColour)
{
    struct Case
    {
        uint8_t bgra[4];
        int32_t colorId;
        const wchar_t* name;
    };
    // Blue 9, 90, 255 and orange 250, 124, 0 (bytes blue, green, red, alpha).
    const Case cases[] = {{{255, 90, 9, 255}, 86, L"BLUE"},
                          {{0, 124, 250, 255}, 93, L"ORANGE"},
                          {{0, 124, 250, 254}, 85, L"CUSTOM"},
                          {{1, 2, 3, 255}, 85, L"CUSTOM"}};
    const int32_t listed = chain->userInterface->widgets.count();
    for (const Case& c : cases) {
        std::copy(c.bgra, c.bgra + 4, app.colour);
        GameMenu::MyQuad screen(menu);
        screen.enter(GameMenu::noScreen);
        EXPECT_EQ(screen.colorId, c.colorId);
        EXPECT_EQ(textOf(screen.colorSelector), c.name);
        EXPECT_EQ(textOf(screen.nicknameField), L"Rider");
        EXPECT_EQ(screen.sliderColor(), Color(c.bgra[2], c.bgra[1], c.bgra[0], 255));
        EXPECT_EQ(screen.colorLabel->colour, Color(150, 150, 150, 255));
        EXPECT_EQ(screen.blueSlider->y, 520);
        EXPECT_GT(chain->userInterface->widgets.count(), listed);
    }
    EXPECT_EQ(chain->userInterface->widgets.count(), listed) << "a screen deleted while shown takes its widgets";
    EXPECT_EQ(GameMenu::MyQuad::colorName(94).length(), 0);
    EXPECT_EQ(std::wstring(GameMenu::MyQuad::colorName(90).text()), L"PINK");
}

TEST_F(SmallScreens, MyQuadsKeysStepColoursSlidersAndFocusWithinTheirBounds)
{
    GameMenu::MyQuad screen(menu);
    screen.enter(GameMenu::noScreen);
    // Up from the nickname focuses the blue slider, down comes back round.
    screen.onKeyUp();
    EXPECT_EQ(screen.focusId, GameMenu::MyQuad::blueId);
    screen.onKeyDown();
    EXPECT_EQ(screen.focusId, GameMenu::MyQuad::nicknameId);
    screen.onKeyDown();
    EXPECT_EQ(screen.focusId, GameMenu::MyQuad::selectorId);
    EXPECT_EQ(sounds(), "3 0 0");
    // The selector stops at 85 and 93 and sounds every press.
    screen.onKeyLeft();
    EXPECT_EQ(screen.colorId, 85);
    for (int i = 0; i < 10; ++i)
        screen.onKeyRight();
    EXPECT_EQ(screen.colorId, 93);
    EXPECT_EQ(textOf(screen.colorSelector), L"ORANGE");
    EXPECT_EQ(sounds(), "11 0 0");
    EXPECT_EQ(screen.sliderColor(), Color(250, 124, 0, 255));
    // Typing while the selector has the focus edits the nickname.
    screen.inputChar(L'!');
    EXPECT_EQ(textOf(screen.nicknameField), L"Rider!");
    // Sliders stop silently at their bounds.
    screen.onKeyDown();
    sounds();
    screen.onKeyRight();
    EXPECT_EQ(screen.redSlider->value, 1.0f);
    EXPECT_EQ(sounds(), "0 0 0");
    screen.onKeyDown();
    screen.onKeyDown();
    sounds();
    screen.onKeyLeft();
    EXPECT_EQ(screen.blueSlider->value, 0.0f);
    EXPECT_EQ(sounds(), "0 0 0");
    for (int i = 0; i < 20; ++i)
        screen.onKeyRight();
    EXPECT_EQ(screen.blueSlider->value, 1.0f);
    EXPECT_EQ(sounds(), "20 0 0");
    // A moved slider keeps the palette name; back stores the moved colour.
    EXPECT_EQ(textOf(screen.colorSelector), L"ORANGE");
    screen.onKeyBack();
    EXPECT_EQ(sounds(), "0 0 1");
    EXPECT_TRUE(screen.isDone());
    EXPECT_EQ(screen.nextScreen(), GameMenu::mainState);
    EXPECT_EQ(std::wstring(app.name.text()), L"Rider!");
    const uint8_t stored[4] = {255, 124, 255, 255};
    EXPECT_TRUE(std::equal(stored, stored + 4, app.colour));
}
