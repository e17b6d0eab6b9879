// The menu's state machine on stand-in screens, world and clock: key
// repeat, keys reaching the screens, the intro's way on, pause and the end
// of a race.
#include "MenuStandIns.h"

#include "Menu/GameMenuIntro.h"

#include <gtest/gtest.h>

using namespace MenuStandIn;

namespace {

class MenuStates : public testing::Test
{
protected:
    void SetUp() override
    {
        calls.clear();
        useStandIns(menu, true);
        menu.world = &world;
        menu.controls = &keys.control;
    }

    // Frames from clockNow to end every step milliseconds, with the key held.
    void holdFor(int code, DWORD end, DWORD step)
    {
        keys.set(code, true);
        for (; clockNow <= end; clockNow += step)
            menu.update();
        keys.set(code, false);
        menu.update();
    }
    void press(int code)
    {
        keys.set(code, true);
        menu.update();
        keys.set(code, false);
        menu.update();
    }

    Clock clock{0};
    World world;
    Application app;
    Keys keys;
    GameMenu menu{nullptr, &app};
};

}

TEST_F(MenuStates, HeldKeysRepeatAfterHalfASecondThenEvery100Or150Milliseconds)
{
    struct Case
    {
        int code;
        const char* call;
        int expected; // calls while held 0..800 ms in 10 ms frames
    };
    // Down: 0, 500, then past 650 (660). Left: 0, 510, 620, 730.
    const Case cases[] = {{DIK_DOWN, "main:down", 3}, {DIK_UP, "main:up", 3}, {DIK_LEFT, "main:left", 4},
                          {DIK_RIGHT, "main:right", 4}};
    menu.createMain();
    menu.openScreen(GameMenu::mainState);
    for (const Case& c : cases) {
        calls.clear();
        clockNow = 0;
        holdFor(c.code, 800, 10);
        EXPECT_EQ(count(c.call), c.expected) << c.call;
    }
    // Confirm and back fire once per press however long they are held.
    calls.clear();
    clockNow = 0;
    holdFor(DIK_RETURN, 2000, 10);
    holdFor(DIK_ESCAPE, 4000, 10);
    EXPECT_EQ(count("main:confirm"), 1);
    EXPECT_EQ(count("main:back"), 1);
}

TEST_F(MenuStates, ThePressesAreSeenByThePollNotBetweenFrames)
{
    menu.createMain();
    menu.openScreen(GameMenu::mainState);
    calls.clear();
    // Pressed and let go between two updates: never down at a poll.
    keys.set(DIK_DOWN, true);
    keys.set(DIK_DOWN, false);
    menu.update();
    EXPECT_EQ(count("main:down"), 0);
    press(DIK_DOWN);
    EXPECT_EQ(count("main:down"), 1);
}

TEST_F(MenuStates, WhileTheControlScreenCapturesOnlyConfirmAndBackReachIt)
{
    menu.createControl();
    as(menu.controlScreen)->capturing = true;
    menu.openScreen(GameMenu::controlState);
    world.race.phase = 2;
    calls.clear();
    for (int code : {DIK_LEFT, DIK_RIGHT, DIK_UP, DIK_DOWN, DIK_BACK, DIK_F1, DIK_RETURN, DIK_ESCAPE})
        press(code);
    EXPECT_EQ(joined(), "control:confirm control:back");
    EXPECT_EQ(menu.pauseScreen, nullptr);
}

TEST_F(MenuStates, TheIntroLeadsToLanguageOnAFirstStartElseToMain)
{
    for (uint32_t firstStart : {0u, 1u}) {
        GameMenu fresh{nullptr, &app};
        useStandIns(fresh);
        fresh.world = &world;
        app.firstStart = firstStart;
        // Pages 0 and 2 only: page 2 follows page 0 directly.
        fresh.createIntro(0);
        fresh.createIntro(2);
        fresh.createLanguage();
        fresh.createMain();
        clockNow = 5000;
        fresh.startIntro();
        EXPECT_EQ(fresh.menuState, 0);
        clockNow += GameMenu::Intro::showMilliseconds;
        fresh.update();
        EXPECT_EQ(fresh.menuState, 0) << "done only past the deadline";
        clockNow += 1;
        fresh.update();
        EXPECT_EQ(fresh.menuState, 2);
        clockNow += 2 * GameMenu::Intro::showMilliseconds;
        fresh.update();
        if (firstStart) {
            EXPECT_EQ(fresh.menuState, GameMenu::languageState);
            EXPECT_EQ(as(fresh.languageScreen)->entered, GameMenu::mainState);
        } else {
            EXPECT_EQ(fresh.menuState, GameMenu::mainState);
        }
    }
}

TEST_F(MenuStates, WithoutIntroPagesTheStartGoesOnAsAfterTheLastPage)
{
    menu.createMain();
    menu.startIntro();
    EXPECT_EQ(menu.menuState, GameMenu::mainState);
    EXPECT_EQ(as(menu.mainScreen)->entered, GameMenu::noScreen);
}

TEST_F(MenuStates, ThePauseKeyOpensAndClosesThePauseScreenOnlyWhileTheRaceRuns)
{
    struct Case
    {
        uint32_t phase;
        uint32_t over;
        bool pauses;
    };
    const Case cases[] = {{0, 0, false}, {1, 0, false}, {2, 0, true}, {3, 0, true}, {3, 1, false}, {4, 0, false}};
    for (const Case& c : cases) {
        world.race.phase = c.phase;
        world.race.raceOver = c.over;
        menu.menuState = GameMenu::noScreen;
        press(DIK_BACK);
        EXPECT_EQ(menu.pauseScreen != nullptr, c.pauses) << "phase " << c.phase;
        press(DIK_BACK);
        EXPECT_EQ(menu.pauseScreen, nullptr);
        menu.showRaceResults(false);
    }
}

TEST_F(MenuStates, KeysDuringARaceReachThePauseScreenButNotPastTheScreensAboveIt)
{
    world.race.phase = 3;
    press(DIK_BACK);
    ASSERT_NE(menu.pauseScreen, nullptr);
    calls.clear();
    for (int code : {DIK_LEFT, DIK_UP, DIK_DOWN, DIK_RETURN})
        press(code);
    EXPECT_EQ(joined(), "pause:up pause:down pause:confirm");
    // Over the graphics screen (opened from the pause screen) up, down,
    // confirm and back stay with it.
    menu.createGraphics();
    menu.openScreen(GameMenu::graphicsState, GameMenu::pauseState);
    calls.clear();
    for (int code : {DIK_UP, DIK_RETURN, DIK_ESCAPE})
        press(code);
    EXPECT_EQ(joined(), "graphics:up graphics:confirm graphics:back");
    // The pause screen's give-up ends a solo race in the main screen.
    menu.menuState = GameMenu::noScreen;
    as(menu.pauseScreen)->giveUp = true;
    menu.pauseScreen->close();
    calls.clear();
    menu.update();
    EXPECT_EQ(menu.pauseScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::mainState);
    EXPECT_NE(joined().find("world:releaseRace app:cursorOn world:clear"), std::string::npos) << joined();
}

TEST_F(MenuStates, AFinishedSoloRaceGoesFromTheResultsToTheMapChoice)
{
    world.race.phase = 4;
    menu.menuState = GameMenu::noScreen;
    press(DIK_UP); // accelerate
    ASSERT_NE(menu.raceResultsScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::raceResultsState);
    // Confirm and back are taken by the results and change nothing; the
    // accelerate key closes them once they are fully shown.
    press(DIK_RETURN);
    press(DIK_UP);
    EXPECT_EQ(menu.menuState, GameMenu::raceResultsState);
    menu.raceResultsScreen->opacity = 1.0f;
    menu.menuFile = String(L"none.mnu");
    press(DIK_UP);
    EXPECT_EQ(menu.raceResultsScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
}

TEST_F(MenuStates, AFinishedChampionshipRaceGoesThroughThePointsToTheNextRace)
{
    world.race.phase = 4;
    world.race.choice.championship = 1;
    world.race.choice.championshipKey[0] = 'F';
    world.race.choice.championshipKey[1] = 'R';
    Game::ChampionshipEntry* entry = world.race.findChampionshipEntry('F', 'R');
    ASSERT_NE(entry, nullptr);
    entry->raceNumber = 2;
    menu.menuState = GameMenu::noScreen;
    press(DIK_UP);
    as(menu.raceResultsScreen)->next = GameMenu::pointsState;
    menu.raceResultsScreen->opacity = 1.0f;
    press(DIK_UP);
    EXPECT_EQ(menu.menuState, GameMenu::pointsState);
    EXPECT_EQ(menu.raceResultsScreen, nullptr);
    ASSERT_NE(menu.pointsScreen, nullptr);
    calls.clear();
    menu.menuFile = String(L"none.mnu");
    press(DIK_UP);
    // The points close, the championship moves on and the next race loads
    // (the stand-in world has no map of that championship: back to Main).
    EXPECT_EQ(count("world:advanceChampionship"), 1);
    EXPECT_EQ(menu.pointsScreen, nullptr);
}

TEST_F(MenuStates, TheGameOverAnswersRestartTheChampionshipOrEndIt)
{
    world.race.choice.championshipKey[0] = 'D';
    world.race.choice.championshipKey[1] = 'E';
    Game::ChampionshipEntry* entry = world.race.findChampionshipEntry('D', 'E');
    for (int32_t answer : {int32_t(GameMenu::mainState), int32_t(GameMenu::championshipRestartState)}) {
        entry->raceNumber = 3;
        entry->points[0] = 20;
        menu.showGameOver(true);
        as(menu.gameOverScreen)->next = answer;
        menu.openScreen(GameMenu::gameOverState);
        menu.gameOverScreen->close();
        menu.menuFile = String(L"none.mnu");
        calls.clear();
        menu.update();
        EXPECT_EQ(entry->raceNumber, 0);
        EXPECT_EQ(entry->points[0], 0);
        EXPECT_EQ(menu.gameOverScreen, nullptr);
        EXPECT_EQ(count("world:releaseRace"), 1);
        EXPECT_EQ(menu.menuState, GameMenu::mainState);
    }
}

TEST_F(MenuStates, FinishedScreensLeadToTheirNextStateAndTheSettingsReturn)
{
    menu.createMain();
    menu.createSettings();
    menu.createControl();
    as(menu.mainScreen)->next = GameMenu::settingsState;
    as(menu.settingsScreen)->next = GameMenu::controlState;
    menu.openScreen(GameMenu::mainState);
    menu.mainScreen->close();
    menu.update();
    EXPECT_EQ(menu.menuState, GameMenu::settingsState);
    EXPECT_EQ(menu.mainScreen->done, 0u);
    menu.settingsScreen->close();
    menu.update();
    EXPECT_EQ(menu.menuState, GameMenu::controlState);
    EXPECT_EQ(as(menu.controlScreen)->entered, GameMenu::settingsState);
    // A state without a screen enters nothing; quit asks the application.
    calls.clear();
    menu.openScreen(GameMenu::quitState);
    EXPECT_EQ(joined(), "app:quit");
    GameMenu::Menu& face = *menu.mainScreen;
    int32_t value = 5;
    EXPECT_EQ(face.clampIndex(value, 0, 3), 0u);
    EXPECT_EQ(value, 3);
    value = -2;
    EXPECT_EQ(face.clampIndex(value, 0, 3), 0u);
    EXPECT_EQ(value, 0);
    value = 2;
    EXPECT_EQ(face.clampIndex(value, 0, 3), 1u);
    EXPECT_EQ(value, 2);
}

TEST_F(MenuStates, FactoriesMakeOnceOrOnAFlagAndTypedCharactersGoToTheQuadScreen)
{
    GameMenu::Screen* first = menu.createExit();
    EXPECT_EQ(menu.createExit(), first);
    EXPECT_EQ(menu.showPoints(false), nullptr);
    EXPECT_EQ(menu.pointsScreen, nullptr);
    EXPECT_NE(menu.showPoints(true), nullptr);
    calls.clear();
    app.onChar(L'a');
    EXPECT_EQ(joined(), "");
    menu.createMyQuad();
    calls.clear();
    app.onChar(L'a');
    EXPECT_EQ(joined(), "myQuad:chara");
    // A kind the game has no maker for is never made.
    GameMenu bare{nullptr};
    bare.makers[GameMenu::mainKind] = nullptr;
    EXPECT_EQ(bare.createMain(), nullptr);
    bare.playSound(5);
    bare.playSound(4);
}
