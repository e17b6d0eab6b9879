// The game mode screen's rows over the kind chosen on the map choice.
#include "MenuSoundProbe.h"
#include "MenuStandIns.h"

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuChooseMap.h"
#include "Menu/GameMenuGameMode.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class GameModeScreen : public testing::Test
{
protected:
    GameMenu::GameMode& enterWithKind(int32_t kind)
    {
        auto* map = dynamic_cast<GameMenu::ChooseMap*>(menu.createChooseMap());
        EXPECT_NE(map, nullptr);
        map->kind = kind;
        auto* screen = dynamic_cast<GameMenu::GameMode*>(menu.createGameMode());
        EXPECT_NE(screen, nullptr);
        if (screen->title)
            screen->close();
        screen->reset();
        screen->enter(GameMenu::noScreen);
        return *screen;
    }

    GameMenu menu{nullptr};
    SoundProbe sounds{menu};
};

}

TEST_F(GameModeScreen, TheMapKindPresetsTheModeAndTheRows)
{
    struct Case
    {
        int32_t kind, mode, battle, opponents, goal, number;
    };
    const Case cases[] = {
        {9, 17, 24, 3, 2, 1},  // OffRoad: OffRoadRace, two laps
        {10, 20, 24, 3, 3, 4}, // RaceTrack: KnockOut, the goal is the opponents
        {11, 22, 25, 0, 1, 6}, // Rally: TimeTrial alone, one lap
    };
    for (const Case& c : cases) {
        GameMenu::GameMode& screen = enterWithKind(c.kind);
        EXPECT_EQ(screen.mode, c.mode) << c.kind;
        EXPECT_EQ(screen.battle, c.battle) << c.kind;
        EXPECT_EQ(screen.opponents, c.opponents) << c.kind;
        EXPECT_EQ(screen.goal, c.goal) << c.kind;
        // The rows show the numbers.
        EXPECT_EQ(std::wstring(screen.rows[2]->text()), std::to_wstring(c.opponents)) << c.kind;
        EXPECT_EQ(std::wstring(screen.rows[3]->text()), std::to_wstring(c.goal)) << c.kind;
        EXPECT_EQ(screen.getSelectedMode(), c.number) << c.kind;
        EXPECT_EQ(screen.focus, GameMenu::GameMode::modeRow);
        GameMenu::Menu::Selection selection;
        screen.readSelection(selection);
        EXPECT_EQ(selection.mode, c.number);
        EXPECT_EQ(selection.opponents, c.opponents);
    }
    // Any other id counts as OffRoadRace.
    GameMenu::GameMode& screen = enterWithKind(9);
    screen.mode = 40;
    EXPECT_EQ(screen.getSelectedMode(), 1);
}

TEST_F(GameModeScreen, RallyIsATimeTrialWhoseRowsCannotBeReached)
{
    GameMenu::GameMode& screen = enterWithKind(11);
    ASSERT_NE(screen.rows[1], nullptr);
    EXPECT_EQ(screen.rows[1]->highlightable, 0u);
    EXPECT_EQ(screen.rows[2]->colour, Color(150, 150, 150, 255));
    screen.onKeyLeft();
    screen.onKeyRight();
    EXPECT_EQ(screen.mode, GameMenu::GameMode::timeTrial) << "the only mode of a rally";
    sounds.mark();
    screen.onKeyDown();
    EXPECT_EQ(screen.focus, GameMenu::GameMode::startRow);
    EXPECT_EQ(sounds.last(), 0);
    sounds.mark();
    screen.onKeyDown();
    EXPECT_EQ(screen.focus, GameMenu::GameMode::startRow);
    EXPECT_EQ(sounds.last(), -1) << "staying plays nothing";
    screen.onKeyUp();
    EXPECT_EQ(screen.focus, GameMenu::GameMode::modeRow);
    sounds.mark();
    screen.onKeyUp();
    EXPECT_EQ(sounds.last(), -1);
}

TEST_F(GameModeScreen, KnockOutSkipsTheGoalWhichFollowsTheOpponents)
{
    GameMenu::GameMode& screen = enterWithKind(10);
    const int32_t down[] = {23, 26, 95, 28};
    for (int32_t row : down) {
        screen.onKeyDown();
        EXPECT_EQ(screen.focus, row);
    }
    const int32_t up[] = {95, 26, 23, 16};
    for (int32_t row : up) {
        screen.onKeyUp();
        EXPECT_EQ(screen.focus, row);
    }
    screen.focus = GameMenu::GameMode::opponentsRow;
    // Opponents stop at 1 and 7, silently.
    for (int i = 0; i < 6; ++i)
        screen.onKeyLeft();
    EXPECT_EQ(screen.opponents, 1);
    EXPECT_EQ(screen.goal, 1);
    sounds.mark();
    screen.onKeyLeft();
    EXPECT_EQ(screen.opponents, 1);
    EXPECT_EQ(sounds.last(), -1);
    for (int i = 0; i < 9; ++i)
        screen.onKeyRight();
    EXPECT_EQ(screen.opponents, 7);
    EXPECT_EQ(screen.goal, 7);
    screen.focus = GameMenu::GameMode::goalRow;
    screen.onKeyLeft();
    EXPECT_EQ(screen.goal, 7) << "KnockOut's goal is not set by hand";
    // The modes of a race track: KnockOut, Circuit, TimeTrial.
    screen.focus = GameMenu::GameMode::modeRow;
    sounds.mark();
    screen.onKeyLeft();
    EXPECT_EQ(screen.mode, GameMenu::GameMode::knockOut);
    EXPECT_EQ(sounds.last(), -1) << "the first mode stays, silently";
    screen.onKeyRight();
    EXPECT_EQ(screen.mode, GameMenu::GameMode::circuit);
    EXPECT_EQ(sounds.last(), 0);
    EXPECT_EQ(screen.goal, 2);
    EXPECT_EQ(screen.opponents, 3);
    screen.onKeyRight();
    EXPECT_EQ(screen.mode, GameMenu::GameMode::timeTrial);
    EXPECT_EQ(screen.goal, 3) << "a time trial off a rally map has three laps";
    EXPECT_EQ(screen.opponents, 0);
    screen.onKeyRight();
    EXPECT_EQ(screen.mode, GameMenu::GameMode::timeTrial);
}

TEST_F(GameModeScreen, CaptureTheFlagStepsItsGoalAndTheOtherRows)
{
    GameMenu::GameMode& screen = enterWithKind(9);
    screen.onKeyRight();
    ASSERT_EQ(screen.mode, GameMenu::GameMode::captureTheFlag);
    EXPECT_EQ(screen.goal, 100);
    screen.focus = GameMenu::GameMode::goalRow;
    const int32_t lefts[] = {50, 50};
    for (int32_t goal : lefts) {
        screen.onKeyLeft();
        EXPECT_EQ(screen.goal, goal);
    }
    const int32_t rights[] = {100, 200, 300, 400, 500, 500};
    for (int32_t goal : rights) {
        sounds.mark();
        screen.onKeyRight();
        EXPECT_EQ(screen.goal, goal);
    }
    EXPECT_EQ(sounds.last(), -1) << "no sound past 500";
    // Jamboree and OffRoadRace count 1 to 16.
    screen.focus = GameMenu::GameMode::modeRow;
    screen.onKeyRight();
    ASSERT_EQ(screen.mode, GameMenu::GameMode::jamboree);
    EXPECT_EQ(screen.goal, 5);
    screen.focus = GameMenu::GameMode::goalRow;
    for (int i = 0; i < 20; ++i)
        screen.onKeyRight();
    EXPECT_EQ(screen.goal, 16);
    for (int i = 0; i < 20; ++i)
        screen.onKeyLeft();
    EXPECT_EQ(screen.goal, 1);

    // Battle toggles; the difficulty steps within Easy to Hard.
    screen.focus = GameMenu::GameMode::battleRow;
    screen.onKeyLeft();
    EXPECT_EQ(screen.battle, GameMenu::GameMode::battleOff);
    screen.onKeyRight();
    EXPECT_EQ(screen.battle, GameMenu::GameMode::battleOn);
    screen.focus = GameMenu::GameMode::difficultyRow;
    screen.onKeyLeft();
    EXPECT_EQ(screen.difficulty, 96);
    screen.onKeyRight();
    screen.onKeyRight();
    screen.onKeyRight();
    EXPECT_EQ(screen.difficulty, 98);

    // Confirm on a row moves down without its sound; on start it closes.
    sounds.mark();
    screen.onKeyConfirm();
    EXPECT_EQ(screen.focus, GameMenu::GameMode::startRow);
    EXPECT_EQ(sounds.last(), 1);
    screen.onKeyConfirm();
    EXPECT_EQ(screen.done, 1u);
    EXPECT_EQ(screen.nextScreen(), GameMenu::soloRaceState);
    EXPECT_EQ(screen.title, nullptr);
    // The values survive for the loader.
    GameMenu::Menu::Selection selection;
    screen.readSelection(selection);
    EXPECT_EQ(selection.mode, 3);
    EXPECT_EQ(selection.difficulty, 98);
    EXPECT_EQ(selection.battle, 24);
    EXPECT_EQ(selection.goal, 1);

    // Back returns to the map choice.
    screen.reset();
    screen.enter(GameMenu::noScreen);
    screen.onKeyBack();
    EXPECT_EQ(screen.nextScreen(), GameMenu::chooseMapState);
    // Entered again after going back, start leads to the race once more.
    screen.reset();
    screen.enter(GameMenu::noScreen);
    screen.focus = GameMenu::GameMode::startRow;
    screen.onKeyConfirm();
    EXPECT_EQ(screen.done, 1u);
    EXPECT_EQ(screen.nextScreen(), GameMenu::soloRaceState);
}

TEST_F(GameModeScreen, WithoutTheMapChoiceNothingIsBuilt)
{
    auto* screen = dynamic_cast<GameMenu::GameMode*>(menu.createGameMode());
    ASSERT_NE(screen, nullptr);
    screen->enter(GameMenu::noScreen);
    EXPECT_EQ(screen->title, nullptr);
    EXPECT_EQ(screen->rows[0], nullptr);
}
