// The race loaders and the way back to the menu, over a recording world.
#include "MenuMapFolder.h"
#include "MenuStandIns.h"
#include "MenuTestSupport.h"

#include "MenuFileWriter.h"
#include "MenuSamples.h"

#include "Menu/GameMenuIntro.h"
#include "Menu/GameMenuLoadingScreen.h"
#include "Menu/GameMenuText.h"

#include "Landscape/Scene.h"

#include <gtest/gtest.h>

using namespace MenuStandIn;

namespace {

class RaceLoading : public testing::Test
{
protected:
    void SetUp() override
    {
        calls.clear();
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        const std::wstring path = std::wstring(folder) + L"KorvantaRaceMenu.mnu";
        ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(path.c_str())));
        useStandIns(menu, overlays);
        menu.world = &world;
        menu.controls = &keys.control;
        menu.load(String(path.c_str()));
        menu.openScreen(GameMenu::chooseMapState);
        calls.clear();
    }

    // All screen and overlay slots but the transition and the preview.
    bool onlyTransitionAndPreviewLeft()
    {
        for (int32_t state = 0; state <= GameMenu::extendedControlState; ++state)
            if (state != GameMenu::pauseState && menu.screenOf(state))
                return false;
        return !menu.congratulationScreen && !menu.logoPanel && !menu.loadingScreen;
    }

    bool overlays = false;
    Clock clock{0};
    World world;
    Application app;
    Keys keys;
    GameMenu menu{nullptr, &app};
};

class RaceLoadingWithOverlays : public RaceLoading
{
protected:
    RaceLoadingWithOverlays() { overlays = true; }
};

}

TEST_F(RaceLoading, ASoloRaceLoadTakesTheChoiceAndLeavesTheSetUpToThePreview)
{
    menu.showLogo();
    menu.openScreen(GameMenu::soloRaceState);
    EXPECT_EQ(menu.menuState, GameMenu::noScreen);
    EXPECT_EQ(world.loadedPath, L"Data\\Map\\Valley.tee");
    // The cursor goes with the loading screen; the hour is set before the
    // screens go and before any race frame.
    EXPECT_NE(joined().find("chooseMap:selection gameMode:selection app:cursorOff world:load"), std::string::npos)
        << joined();
    const std::string tail = joined().substr(joined().find("world:load"));
    EXPECT_EQ(tail.substr(0, tail.find(" main:deleted")), "world:load world:applyRaceChoice");
    EXPECT_NE(tail.find("extendedControl:deleted world:camera2,0,3 world:tour0=2"), std::string::npos) << tail;
    EXPECT_EQ(count("world:setupRace"), 0);
    EXPECT_NE(menu.mapPreviewScreen, nullptr);
    EXPECT_NE(menu.disperseScreen, nullptr);
    const RaceChoice& choice = world.race.choice;
    EXPECT_EQ(choice.courseType, 2);   // RaceTrack
    EXPECT_EQ(choice.daytime, 2);      // Sunset
    EXPECT_EQ(choice.gameMode, 2);
    EXPECT_EQ(choice.difficulty, 2);   // Hard
    EXPECT_EQ(choice.items, 0);        // battle off
    EXPECT_EQ(choice.vehicleCount, 6);
    EXPECT_EQ(choice.goal, 7);
    EXPECT_EQ(choice.championship, 0);
    EXPECT_TRUE(onlyTransitionAndPreviewLeft());
}

TEST_F(RaceLoading, TheSoloChoiceTranslatesTheScreensIds)
{
    struct Case
    {
        int32_t trackKind, daytime, mode, difficulty, battle;
        int32_t courseType, day, level, items;
    };
    const Case cases[] = {{9, 13, 1, 96, 24, 1, 0, 0, 1},  {10, 14, 3, 97, 24, 2, 1, 1, 1},
                          {11, 15, 6, 98, 24, 3, 2, 2, 0}, {12, 16, 4, 99, 25, 1, 0, 0, 0}};
    for (const Case& c : cases) {
        Screen& map = *as(menu.chooseMapScreen);
        Screen& mode = *as(menu.gameModeScreen);
        map.trackKind = c.trackKind;
        map.daytime = c.daytime;
        mode.mode = c.mode;
        mode.difficulty = c.difficulty;
        mode.battle = c.battle;
        RaceChoice choice;
        menu.fillSoloChoice(choice);
        EXPECT_EQ(choice.courseType, c.courseType);
        EXPECT_EQ(choice.daytime, c.day);
        EXPECT_EQ(choice.gameMode, c.mode);
        EXPECT_EQ(choice.difficulty, c.level);
        EXPECT_EQ(choice.items, c.items);
    }
    // Without the game mode screen a solo race takes the record's values in
    // the first mode.
    UserInterface::Panel* gameMode = menu.gameModeScreen;
    menu.gameModeScreen = nullptr;
    RaceChoice defaults;
    menu.fillSoloChoice(defaults);
    EXPECT_EQ(defaults.gameMode, Game::OffRoadRace);
    EXPECT_EQ(defaults.vehicleCount, 3);
    EXPECT_EQ(defaults.goal, 2);
    EXPECT_EQ(defaults.items, 1);
    delete gameMode;
}

// A solo race whose map loads nothing goes back to the map choice, where the
// player chooses another map; without a map choice, to the screen the load
// was asked from.
TEST_F(RaceLoading, ALoadThatLoadsNothingReturnsToTheMapChoice)
{
    // The map choice leads to the game mode screen, which leads to the load.
    as(menu.chooseMapScreen)->next = GameMenu::gameModeState;
    as(menu.gameModeScreen)->next = GameMenu::soloRaceState;
    menu.chooseMapScreen->close();
    menu.update();
    ASSERT_EQ(menu.menuState, GameMenu::gameModeState);
    world.loads = false;
    calls.clear();
    menu.gameModeScreen->close();
    menu.update();
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
    EXPECT_EQ(menu.loadingScreen, nullptr);
    EXPECT_NE(menu.mainScreen, nullptr) << "the screens stay";
    EXPECT_NE(joined().find("app:cursorOff"), std::string::npos);
    EXPECT_NE(joined().find("world:load app:cursorOn chooseMap:enter3"), std::string::npos) << joined();
    // No map choice: nothing at all, back to the state before (the map
    // choice's state, where the refusal left the menu).
    UserInterface::Panel* map = menu.chooseMapScreen;
    menu.chooseMapScreen = nullptr;
    calls.clear();
    menu.openScreen(GameMenu::soloRaceState);
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
    EXPECT_EQ(count("world:load"), 0);
    delete map;
    // An empty map name loads nothing either.
    as(menu.chooseMapScreen = menu.createChooseMap())->mapName = String(L"");
    world.loads = true;
    calls.clear();
    menu.openScreen(GameMenu::soloRaceState);
    EXPECT_EQ(count("world:load"), 0);
}

// A map that loads but holds no race a player can drive (its damaged files
// left no ground, course, start or grid) is cleared again, and the menu
// goes back to the map choice as from a load that failed: no preview, no
// race set up.
TEST_F(RaceLoading, AMapWithoutARaceToDriveIsClearedAndLeft)
{
    as(menu.chooseMapScreen)->next = GameMenu::gameModeState;
    as(menu.gameModeScreen)->next = GameMenu::soloRaceState;
    menu.chooseMapScreen->close();
    menu.update();
    ASSERT_EQ(menu.menuState, GameMenu::gameModeState);
    world.raceRuns = false;
    calls.clear();
    menu.gameModeScreen->close();
    menu.update();
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
    EXPECT_EQ(menu.loadingScreen, nullptr);
    EXPECT_EQ(menu.mapPreviewScreen, nullptr);
    EXPECT_EQ(count("world:applyRaceChoice"), 0);
    EXPECT_EQ(count("world:setupRace"), 0);
    EXPECT_NE(joined().find("world:load world:clear app:cursorOn chooseMap:enter3"), std::string::npos) << joined();
}

TEST_F(RaceLoading, TheWayBackReleasesTheRaceReadsTheMenuAgainAndShowsTheMapChoice)
{
    menu.openScreen(GameMenu::soloRaceState);
    ASSERT_EQ(menu.chooseMapScreen, nullptr);
    calls.clear();
    menu.returnToMenu(GameMenu::chooseMapState);
    EXPECT_EQ(joined().substr(0, joined().find(" main:made")),
              "world:releaseRace app:cursorOn world:clear");
    ASSERT_NE(menu.chooseMapScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
    EXPECT_EQ(as(menu.chooseMapScreen)->entered, GameMenu::noScreen);
    ASSERT_NE(menu.introScreens[0], nullptr);
    EXPECT_EQ(menu.introScreens[0]->shown, 0u) << "the pages are not shown again";
}

TEST_F(RaceLoading, ChampionshipLoadsUseOnlyTheChosenEntry)
{
    menu.openScreen(GameMenu::chooseCountryState);
    calls.clear();
    // No entry chosen: the record keeps its start values, which name no map.
    menu.openScreen(GameMenu::championshipStartState);
    EXPECT_EQ(joined(), "chooseCountry:chosenEntry chooseCountry:enter3");
    EXPECT_EQ(menu.menuState, GameMenu::chooseCountryState);
    // Without the country screen nothing is asked.
    UserInterface::Panel* countries = menu.chooseCountryScreen;
    menu.chooseCountryScreen = nullptr;
    calls.clear();
    EXPECT_FALSE(menu.loadRace(1));
    EXPECT_EQ(joined(), "");
    delete countries;
    // The championship end without a progress record does nothing.
    EXPECT_FALSE(menu.loadChampionshipEnd());
}

TEST_F(RaceLoadingWithOverlays, ThePreviewGoesOnceTheTransitionHasFinishedOrIsGone)
{
    struct Case
    {
        const char* what;
        uint32_t finishAt;  // of the transition
        uint32_t deadline;  // of the preview's close
    };
    const Case cases[] = {{"the transition ends first", 100, 2000}, {"the preview's deadline first", 3000, 2000}};
    for (const Case& c : cases) {
        clockNow = 0;
        menu.returnToMenu(GameMenu::chooseMapState);
        calls.clear();
        menu.openScreen(GameMenu::soloRaceState);
        ASSERT_NE(menu.mapPreviewScreen, nullptr) << c.what;
        ASSERT_NE(menu.disperseScreen, nullptr);
        EXPECT_EQ(count("world:setupRace"), 0) << "the preview's close sets the race up";
        lastDisperse->finishAt = c.finishAt;
        lastPreview->deadline = c.deadline;
        // A key while the transition runs does not start the close.
        keys.set(DIK_RETURN, true);
        clockNow = 50;
        menu.update();
        keys.set(DIK_RETURN, false);
        EXPECT_FALSE(lastPreview->closing);
        calls.clear();
        for (clockNow = 60; clockNow < 5000 && menu.mapPreviewScreen; clockNow += 10) {
            if (!menu.disperseScreen)
                keys.set(DIK_RETURN, clockNow % 20 == 0);
            menu.update();
        }
        keys.set(DIK_RETURN, false);
        EXPECT_EQ(menu.mapPreviewScreen, nullptr) << c.what;
        EXPECT_EQ(count("world:setupRace"), 1) << c.what;
        EXPECT_GT(clockNow, std::max(c.finishAt, c.deadline)) << c.what;
        EXPECT_NE(joined().find("mapPreview:deleted world:tour0=0 world:setupRace"), std::string::npos) << c.what;
    }
}

TEST_F(RaceLoadingWithOverlays, ConfirmBackPauseAndAccelerateEachStartThePreviewsClose)
{
    for (int code : {DIK_RETURN, DIK_ESCAPE, DIK_BACK, DIK_UP, DIK_LEFT}) {
        menu.returnToMenu(GameMenu::chooseMapState);
        menu.openScreen(GameMenu::soloRaceState);
        ASSERT_NE(menu.mapPreviewScreen, nullptr);
        lastDisperse->finishAt = 0;
        lastPreview->deadline = 1u << 30;
        clockNow = 10;
        menu.update(); // the transition goes
        ASSERT_EQ(menu.disperseScreen, nullptr);
        keys.set(code, true);
        menu.update();
        keys.set(code, false);
        menu.update();
        EXPECT_EQ(lastPreview->closing, code != DIK_LEFT) << code;
    }
}

TEST_F(RaceLoadingWithOverlays, TheChampionshipEndShowsTheCongratulationAndReturnsToMain)
{
    Game& race = world.race;
    race.choice.championshipKey[0] = 'D';
    race.choice.championshipKey[1] = 'E';
    ASSERT_NE(race.findChampionshipEntry('D', 'E'), nullptr);
    // No map of that country in the folder: nothing is loaded.
    EXPECT_FALSE(menu.loadChampionshipEnd());
    EXPECT_EQ(count("world:load"), 0);
    EXPECT_EQ(menu.congratulationScreen, nullptr);
    // With its map the quad stands before the podium and the congratulation shows.
    MenuMaps::Folder folder{L"KorvantaChampionshipEnd"};
    ASSERT_TRUE(folder.level(L"de.tee", L"DE Finale", L"DE", 2));
    MenuMaps::Application maps(folder);
    menu.callbacks = &maps;
    EXPECT_TRUE(menu.loadChampionshipEnd());
    menu.callbacks = &app;
    EXPECT_EQ(count("world:placePlayerQuad"), 1);
    EXPECT_EQ(menu.soundCounts[4], 1u) << "the applause, once";
    EXPECT_EQ(count("world:camera11,9,1"), 1);
    ASSERT_NE(menu.congratulationScreen, nullptr);
    delete menu.congratulationScreen;
    // The overlay's way back once the transition is gone.
    menu.congratulationScreen = makeCongratulation(menu, TextureRef());
    lastCongratulation->closing = true;
    clockNow = 10;
    calls.clear();
    menu.update();
    EXPECT_EQ(menu.congratulationScreen, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::mainState);
    EXPECT_NE(joined().find("congratulation:deleted world:tour1=0 world:releaseRace"), std::string::npos) << joined();
}

TEST(MenuWorld, TheMenusWorldWorksOnTheScenesToursAndRaceLogic)
{
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu::World world(&scene);
    EXPECT_EQ(world.game(), &scene.game);
    world.setTour(0, 2);
    world.setTour(1, 3);
    EXPECT_EQ(scene.tourA, 2u);
    EXPECT_EQ(scene.tourB, 3u);
    world.setTour(0, 0);
    EXPECT_EQ(scene.tourA, 0u);
    EXPECT_EQ(scene.tourB, 3u);
    RaceChoice choice;
    choice.daytime = 1;
    choice.gameMode = Game::Circuit;
    world.applyRaceChoice(choice);
    EXPECT_EQ(scene.game.choice.gameMode, Game::Circuit);
    EXPECT_FLOAT_EQ(scene.timeOfDay, 9.2f);
    EXPECT_FALSE(world.loadMap(String(L"Z:\\no such folder\\None.tee")));
    // The camera key swaps chase and driver; the orbit of a finished race stays.
    const int32_t modes[][2] = {{0, 2}, {2, 0}, {1, 1}, {3, 3}};
    for (const auto& m : modes)
        EXPECT_EQ(GameMenu::World::nextCameraMode(m[0]), m[1]) << m[0];
    world.toggleVehicleCamera(); // no player vehicle: nothing
    // The race's release hands the camera back to the menu's free flight.
    scene.camera.mode = SceneCamera::pathMode;
    world.releaseRace();
    EXPECT_EQ(scene.camera.mode, SceneCamera::freeMode);
    // Without a scene nothing is reached.
    GameMenu::World none(nullptr);
    EXPECT_EQ(none.game(), nullptr);
    none.setTour(0, 1);
    none.applyRaceChoice(choice);
    EXPECT_FALSE(none.loadMap(String(L"x.tee")));
}

TEST(LoadingScreenRing, SegmentsTurnRedClockwiseWithTheProgress)
{
    struct Case
    {
        float progress;
        int red;
    };
    const Case cases[] = {{0.0f, 1}, {0.5f, 33}, {62.0f / 65.0f, 63}, {63.0f / 65.0f, 64}, {1.0f, 64}};
    for (const Case& c : cases) {
        int red = 0;
        for (int i = 0; i < GameMenu::LoadingScreen::segments; ++i) {
            const Color colour = GameMenu::LoadingScreen::segmentColour(i, c.progress);
            const bool isRed = colour.r == 255 && colour.g == 9 && colour.b == 32 && colour.a == 255;
            EXPECT_TRUE(isRed || (colour.r == 100 && colour.g == 100 && colour.b == 100 && colour.a == 255));
            if (isRed) {
                EXPECT_EQ(i, red) << "red segments come first";
                ++red;
            }
        }
        EXPECT_EQ(red, c.red) << c.progress;
    }
}

TEST(LoadingScreenRing, TheRingLiesAroundTheCentreAtAnEighthOfTheWidth)
{
    auto face = MenuTest::fakeFace([](wchar_t) { return 10; });
    GameMenu menu{nullptr};
    menu.fonts[0] = face.get();
    GameMenu::LoadingScreen screen(menu);
    // Its text is drawn by the screen only, never by the pass.
    ASSERT_NE(screen.text, nullptr);
    EXPECT_EQ(screen.text->enabled, 0u);
    EXPECT_EQ(screen.text->face, face.get());
    // Without a swap chain there is no window to place the cursor in.
    intvec2d cursor{-7, -7};
    EXPECT_FALSE(menu.getCursorClientPos(cursor));
    EXPECT_EQ(cursor.x, -7);
    struct Case
    {
        int32_t width, height;
        float outer, cx, cy;
    };
    const Case cases[] = {{1024, 768, 128.0f, 512.0f, 384.0f}, {1030, 771, 128.0f, 515.0f, 385.0f}};
    for (const Case& c : cases) {
        screen.buildRing(c.width, c.height, 0.0f);
        const GameMenu::LoadingScreen::Vertex* v = screen.vertices.data();
        // Segment 0 starts at 12 o'clock; segment 16 at 3 o'clock.
        EXPECT_NEAR(v[0].x, c.cx, 1e-3f);
        EXPECT_NEAR(v[0].y, c.cy - c.outer, 1e-3f);
        EXPECT_NEAR(v[2].y, c.cy - (c.outer - 35.0f), 1e-3f);
        EXPECT_NEAR(v[64].x, c.cx + c.outer, 1e-3f);
        EXPECT_NEAR(v[64].y, c.cy, 1e-3f);
        EXPECT_NEAR(v[4 * 63 + 1].x, c.cx, 1e-2f) << "the last segment closes the ring";
    }
    const uint16_t* index = screen.indices.data();
    const uint16_t segment5[6] = {20, 21, 22, 22, 21, 23};
    EXPECT_TRUE(std::equal(segment5, segment5 + 6, index + 30));
}
