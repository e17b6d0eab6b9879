// Input at the wrong moments: random keys through menus and races, a window
// resized and a device reset forced during a race, and a quit from a paused
// race. None of it may crash the game or keep it from a clean quit.
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
    // Escape is left out: with it the keys soon find the exit question and
    // its Yes themselves, and the way back that Escape must still open would
    // go untried.
    const Key keys[] = {Key::up, Key::down, Key::left, Key::right, Key::confirm, Key::pause};
    std::mt19937 random(64);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 30000 && game.run().waitForExit(0) == -1000;) {
        const Key key = keys[random() % 6];
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
    // The way back: a race is left from its pause, by Give Up in a solo
    // game and by Exit Championship in a championship (whose Give Up leads
    // on to the results); other screens by Escape, and the results and the
    // points by the throttle.
    bool main = false;
    bool championship = false;
    for (int tries = 0; tries < 30 && !main; ++tries) {
        const Frame f = game.capture();
        main = Screens::mainScreen(f);
        if (main)
            break;
        if (Screens::race(f)) {
            if (!game.tapUntil(Key::pause, "random-pause", Screens::pause))
                continue;
            Sleep(settle);
            game.tap(Key::down);
            if (championship)
                game.tap(Key::down);
            game.tap(Key::confirm, 0);
            main = game.waitFor("random-main", Screens::mainScreen, 20000);
            // A give-up that does not lead to the main screen was a
            // championship's.
            championship = championship || !main;
        } else {
            game.tap(Key::back, 1500);
            if (!Screens::mainScreen(game.capture()))
                game.tap(Key::up, 1500);
        }
    }
    ASSERT_TRUE(main);
    Sleep(settle);
    mainToQuit(game, "random");
}

// During a race in a window: a resize and a device reset keep the race drawn
// at the new size; a close from the pause ends the game cleanly.
TEST(PlayBadInput, ResizeResetAndAQuitFromThePause)
{
    ASSERT_FALSE(programFolder().empty());
    seedWindowedPlayer(800, 600);
    Game game;
    introToMain(game, "resize", false);
    if (HasFatalFailure())
        return;
    mainToRace(game, "resize");
    if (HasFatalFailure())
        return;
    driveAlongTheRoad(game, "resize-11-race", 4000, [](const Frame&) { return false; });
    RECT frame{0, 0, 640, 480};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    SetWindowPos(game.window(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageW(game.window(), WM_EXITSIZEMOVE, 0, 0);
    Frame resized;
    EXPECT_TRUE(game.waitFor(
        "resize-12-resized", [](const Frame& f) { return f.width == 640 && Screens::race(f); }, screenWait,
        &resized));
    // A reset asked for by the end of a move.
    PostMessageW(game.window(), WM_EXITSIZEMOVE, 0, 0);
    Sleep(2000);
    EXPECT_TRUE(game.waitFor("resize-13-reset", Screens::race, screenWait));
    const Drive drive = driveAlongTheRoad(game, "resize-14-race", 4000, [](const Frame&) { return false; });
    EXPECT_GT(drive.movingFrames, 0) << "the race goes on after the reset";
    EXPECT_TRUE(game.tapUntil(Key::pause, "resize-15-pause", Screens::pause));
    EXPECT_EQ(game.quit(screenWait), 0);
    EXPECT_TRUE(crashProtocols().empty());
}
