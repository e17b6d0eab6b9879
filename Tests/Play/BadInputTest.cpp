// Input at the wrong moments: random keys through menus and races. None of
// it may crash the game or keep it from a clean quit.
#include "PlayRoads.h"

#include "Application/GlobalSettings.h"

#include <gtest/gtest.h>

#include <random>

using namespace Play;

namespace {

// A player who has started before, in a window of the given size.
void seedWindowedPlayer(uint32_t width, uint32_t height)
{
    forgetPlayer();
    HKEY key = nullptr;
    if (RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\Korvanta", &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    GlobalSettings seeded(settingsFolder().c_str());
    seeded.width = width;
    seeded.height = height;
    seeded.options.fullScreen = 0;
    seeded.writeFile();
}

}

// 30 s of keys chosen by a fixed seed, held for random times; then Escape
// (and the pause's give-up when a race is on) still leads to the exit question.
TEST(PlayBadInput, RandomKeysLeaveTheWayOutOpen)
{
    ASSERT_FALSE(programFolder().empty());
    seedWindowedPlayer(800, 600);
    Game game;
    introToMain(game, "random", false);
    if (HasFatalFailure())
        return;
    const Key keys[] = {Key::up, Key::down, Key::left, Key::right, Key::confirm, Key::back, Key::pause};
    std::mt19937 random(64);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000 && game.run().waitForExit(0) == -1000;) {
        const Key key = keys[random() % 7];
        game.press(key);
        Sleep(50 + random() % 400);
        game.release(key);
        Sleep(random() % 300);
    }
    game.keep(game.capture(), "random-after");
    if (game.run().waitForExit(0) != -1000) {
        // The keys found the way out themselves.
        EXPECT_EQ(game.run().waitForExit(0), 0);
        EXPECT_TRUE(crashProtocols().empty());
        return;
    }
    bool main = false;
    for (int tries = 0; tries < 30 && !main; ++tries) {
        const Frame f = game.capture();
        main = Screens::mainScreen(f);
        if (main)
            break;
        if (Screens::race(f)) {
            game.tap(Key::pause, 1500);
            game.tap(Key::down);
            game.tap(Key::confirm, 0);
            main = game.waitFor("random-main", Screens::mainScreen, screenWait);
        } else {
            game.tap(Key::back, 2000);
        }
    }
    ASSERT_TRUE(main);
    Sleep(settle);
    mainToQuit(game, "random");
}
