// Races one after another along the player's road through the menu, as the
// game's main loop runs them: the main screen, the map choice, the game mode,
// the load, the preview, the race with pick-ups on (the player's quad driven
// by an opponent's driver), its results or its giving up in the pause, and
// back to the main screen. On the maps of each kind, in each mode, every race
// leaves the game's heap where the first left it, and its device objects and
// sounds where the same race left them a round before.
#include "../Application/AppTestFiles.h"
#include "../Application/GameInProcess.h"
#include "LiveAllocations.h"
#include "SprintLevel.h"

#include "Application/Korvanta.h"
#include "Application/UserInput.h"
#include "Audio/Audio.h"
#include "Audio/AudioFile.h"
#include "Audio/SoundInterface.h"
#include "Landscape/Scene.h"
#include "Menu/GameMenu.h"
#include "Menu/GameMenuChooseMap.h"
#include "Menu/GameMenuGameMode.h"
#include "Menu/GameMenuScreen.h"
#include "Race/GameVehicle.h"
#include "Render/DirectGraphics.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using ChooseMap = GameMenu::ChooseMap;
using GameMode = GameMenu::GameMode;

// The device's objects: each texture, buffer, surface, state block and
// declaration holds a reference to the device.
unsigned long deviceObjects()
{
    if (!gDevice)
        return 0;
    gDevice->AddRef();
    return gDevice->Release();
}

// The sound files and sounds the game keeps, and the DirectSound buffers they
// hold: each file's master and duplicates, and each streamed sound's own.
struct Sounds
{
    int files = 0;
    int sounds = 0;
    int buffers = 0;
};

Sounds sounds()
{
    Sounds held;
    for (auto* node = Audio::AudioFile::list().head(); node; node = node->next) {
        ++held.files;
        held.buffers += (node->item->master ? 1 : 0) + node->item->duplicateCount;
    }
    for (auto* node = Audio::SoundInterface::list().head(); node; node = node->next) {
        ++held.sounds;
        if (node->item->buffer && node->item->file && node->item->file->streamed)
            ++held.buffers;
    }
    return held;
}

struct Holdings
{
    int64_t blocks = 0;
    int64_t bytes = 0;
    unsigned long deviceObjects = 0;
    Sounds sounds;
};

Holdings holdings() { return {LiveAllocations::blocks(), LiveAllocations::bytes(), deviceObjects(), sounds()}; }

struct Race
{
    const char* name;
    const wchar_t* map;  // the level's file, as the map choice lists it
    int32_t kind;        // the map choice's kind
    int32_t mode;        // the game mode screen's mode
    bool toResults;      // driven to its results, else given up after a while
};

// Every mode once, on maps of each kind; the sprint's race is short enough
// to be driven to its results.
const Race races[] = {
    {"sprint, circuit", L"Sprint.tee", ChooseMap::raceTrack, GameMode::circuit, true},
    {"valley, off-road race", L"Valley.tee", ChooseMap::offRoad, GameMode::offRoadRace, false},
    {"Brazilian rain forest, capture the flag", L"BRRegenwald.tee", ChooseMap::offRoad, GameMode::captureTheFlag,
     false},
    {"German north ring, knock-out", L"DENordring.tee", ChooseMap::raceTrack, GameMode::knockOut, false},
    {"African savannah, jamboree", L"AFSavanne.tee", ChooseMap::offRoad, GameMode::jamboree, false},
    {"French rally, time trial", L"FRColduVent.tee", ChooseMap::rally, GameMode::timeTrial, false},
};

// The game started in-process in a copy of the built game's folder whose
// maps are the game's and the play tests' sprint, with its menu read.
class RaceRoad : public testing::Test
{
public:
    static void SetUpTestSuite()
    {
        namespace fs = std::filesystem;
        const fs::path built = fs::path(getModuleFolder().text()) / L"..";
        const std::wstring install = AppTestFiles::freshFolder(L"RaceRoadInstall");
        std::error_code error;
        for (const wchar_t* folder : {L"Data", L"Objects"})
            fs::copy(built / folder, fs::path(install) / folder, fs::copy_options::recursive, error);
        if (error || !SprintLevel::save(String((install + L"Data\\Map\\").c_str())))
            return;
        gameProcess.start(L"RaceRoadSettings", 1024, 768, install);
        app = gameProcess.app;
        if (!app)
            return;
        app->gameMenu.controls = &app->controls;
        app->gameMenu.load(String(L"Data\\Menu\\Menu.mnu"));
        app->gameMenu.openScreen(GameMenu::mainState);
    }

    static void TearDownTestSuite()
    {
        gameProcess.stop();
        app = nullptr;
    }

protected:
    // One pass of the game's main loop.
    static void frame()
    {
        app->pumpMessages();
        Audio::update();
        gTimer.update(0);
        gUserInput.update();
        app->update();
        app->render();
    }

    static void frames(int count)
    {
        for (int i = 0; i < count; ++i)
            frame();
    }

    // Frames until done, at most for the seconds given.
    static bool framesUntil(const std::function<bool()>& done, DWORD seconds = 120)
    {
        for (const DWORD start = GetTickCount(); !done(); frame())
            if (GetTickCount() - start > seconds * 1000)
                return false;
        return true;
    }

    // A key of the menu, and a frame to see it.
    static void key(void (GameMenu::*press)())
    {
        (app->gameMenu.*press)();
        frame();
    }

    static GameMenu& menu() { return app->gameMenu; }

    // The main screen's solo game, the map and its kind, the mode with its
    // other rows as they come, and the load with the preview.
    static void chooseAndLoad(const Race& race)
    {
        GameMenu& menu = app->gameMenu;
        key(&GameMenu::onKeyDown);
        key(&GameMenu::onKeyConfirm);
        ASSERT_TRUE(framesUntil([&] { return menu.menuState == GameMenu::chooseMapState; }));
        auto* maps = dynamic_cast<ChooseMap*>(menu.chooseMapScreen);
        ASSERT_NE(maps, nullptr);
        while (maps->kind < race.kind)
            key(&GameMenu::onKeyDown);
        const int32_t list = ChooseMap::listOf(race.kind);
        int32_t index = 0;
        for (auto* node = maps->lists[list].head();
             node && !node->item->path.getFileName().sameText(String(race.map)); node = node->next)
            ++index;
        ASSERT_LT(index, maps->lists[list].count()) << "the map choice does not list the map";
        while (maps->selected[list] < index)
            key(&GameMenu::onKeyRight);
        key(&GameMenu::onKeyConfirm);
        key(&GameMenu::onKeyConfirm);
        ASSERT_TRUE(framesUntil([&] { return menu.menuState == GameMenu::gameModeState; }));
        auto* mode = dynamic_cast<GameMode*>(menu.gameModeScreen);
        ASSERT_NE(mode, nullptr);
        while (mode->mode < race.mode)
            key(&GameMenu::onKeyRight);
        ASSERT_EQ(mode->mode, race.mode);
        // A race driven to its results takes one lap, the fewest points or
        // checkpoints; one given up keeps its goal, so that no quad wins it
        // before the pause. Pick-ups stay on.
        for (int row = 0; row < 8 && menu.menuState == GameMenu::gameModeState; ++row) {
            if (race.toResults && mode->focus == GameMode::goalRow)
                for (int step = 0; step < 8; ++step)
                    key(&GameMenu::onKeyLeft);
            key(&GameMenu::onKeyConfirm);
        }
        ASSERT_TRUE(framesUntil([&] { return menu.mapPreviewScreen != nullptr; }));
        // A key closes the preview once its transition has gone (unless it
        // has closed by itself meanwhile).
        ASSERT_TRUE(framesUntil([&] { return menu.disperseScreen == nullptr; }));
        if (menu.mapPreviewScreen)
            menu.mapPreviewScreen->beginClose();
    }

    static inline GameInProcess gameProcess;
    static inline Korvanta* app = nullptr;
};

// The races one after another, two rounds and the first two races of a
// third: after each race, back on the main screen, the game's heap holds what
// it held after the first race, within a few hundred blocks that the maps'
// own buffers and lists keep at their largest. The first round made the
// buffer pools, targets and sound pools the game keeps for the next maps; from
// then on a race leaves the device and the sounds as the same race, after the
// same one, left them a round before (a race driven to its results leaves the
// map choice's own behind it).
TEST_F(RaceRoad, RacesOneAfterAnotherLeaveTheHeapAndTheDeviceWhereTheFirstLeftThem)
{
    ASSERT_NE(app, nullptr);
    ASSERT_TRUE(framesUntil([] { return menu().menuState == GameMenu::mainState; }));
    Game& game = app->scene.game;
    constexpr size_t count = std::size(races);
    std::vector<Holdings> after;
    for (size_t i = 0; i < 2 * count + 2; ++i) {
        const Race& race = races[i % count];
        SCOPED_TRACE(race.name);
        chooseAndLoad(race);
        ASSERT_FALSE(HasFatalFailure());
        ASSERT_TRUE(framesUntil([&] { return game.phase >= 1; }));
        EXPECT_EQ(game.choice.items, race.mode == GameMode::timeTrial ? 0 : 1);
        if (Game::Vehicle* player = game.getPlayerVehicle(); player && player->getDynObject())
            player->createAIDriver(player->getDynObject());
        if (race.toResults) {
            ASSERT_TRUE(framesUntil([&] { return game.phase >= 4; }, 240)) << "phase " << game.phase;
            frames(10);
            // The throttle key shows the results and, once they stand,
            // leaves them for the map choice.
            menu().onRaceFinished();
            ASSERT_TRUE(framesUntil(
                [] { return menu().raceResultsScreen && menu().raceResultsScreen->opacity >= 1.0f; }));
            menu().onRaceFinished();
            ASSERT_TRUE(framesUntil([] { return menu().menuState == GameMenu::chooseMapState; }));
            frames(5);
            key(&GameMenu::onKeyBack);
        } else {
            ASSERT_TRUE(framesUntil([&] { return game.phase >= 3; }));
            // Six seconds of the race's own clock, however long the
            // machine takes for them.
            const uint32_t raced = game.worldNow();
            ASSERT_TRUE(framesUntil([&] { return game.worldNow() - raced > 6000 || game.phase >= 4; }));
            // The pause, its second row (giving up), and the confirm.
            key(&GameMenu::onKeyPause);
            ASSERT_NE(menu().pauseScreen, nullptr) << "phase " << game.phase << ", over " << game.raceOver;
            key(&GameMenu::onKeyDown);
            key(&GameMenu::onKeyConfirm);
        }
        ASSERT_TRUE(framesUntil([] { return menu().menuState == GameMenu::mainState; }));
        frames(10);
        EXPECT_EQ(game.vehicles.count(), 0);
        EXPECT_EQ(app->scene.loaded, 0u);
        const Holdings now = holdings();
        after.push_back(now);
        std::printf("race %2zu, after %-42s %8lld blocks, %10lld bytes, %4lu device objects, %3d sound files, "
                    "%3d sounds, %3d sound buffers\n",
                    i + 1, race.name, (long long)now.blocks, (long long)now.bytes, now.deviceObjects,
                    now.sounds.files, now.sounds.sounds, now.sounds.buffers);
        EXPECT_NEAR(double(now.blocks), double(after.front().blocks), 256.0);
        EXPECT_NEAR(double(now.bytes), double(after.front().bytes), 512.0 * 1024.0);
        if (i < 2 * count)
            continue;
        const Holdings& before = after[i - count];
        EXPECT_EQ(now.deviceObjects, before.deviceObjects);
        EXPECT_EQ(now.sounds.files, before.sounds.files);
        EXPECT_EQ(now.sounds.sounds, before.sounds.sounds);
        EXPECT_EQ(now.sounds.buffers, before.sounds.buffers);
    }
}

}
