#pragma once
// The steps of the roads through the game the play tests take, each with its
// checks; a step whose screen never shows ends the test (check
// HasFatalFailure after each).
#include "PlayDrive.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Play {

// Milliseconds of the game's clock: how long a screen may take to show, and
// how long a screen that showed is left to settle before the next key.
constexpr DWORD screenWait = 60000;
constexpr DWORD settle = 800;

// The focus moved with the keys back and on until focusOf reads target
// from the screen. Each key waits for the frames to show it: a frame
// captured just after a tap may still show the focus of before, and a key
// sent again on its strength went one row too far. A key lost or counted
// twice on a busy machine is mended by the next. The last frame seen.
inline Frame moveFocus(Game& game, const std::string& name, const std::function<int(const Frame&)>& focusOf,
                       int target, Key back, Key on)
{
    Frame focus = game.capture();
    for (int tries = 0; tries < 12 && focusOf(focus) != target; ++tries) {
        const int before = focusOf(focus);
        if (before < 0) {
            // The pulse's darkest step can pass for no focus.
            game.waitFor(
                name, [&](const Frame& f) { return focusOf(f) >= 0; }, 3000, &focus);
            continue;
        }
        game.tap(before < target ? on : back);
        game.waitFor(
            name, [&](const Frame& f) { return focusOf(f) != before; }, 3000, &focus);
    }
    return focus;
}

// A value of the game-mode screen changed with the key that next reads from
// the frame before and the frame now, until it reads none: a key lost or
// counted twice is mended by the next. The last frame seen.
inline Frame changeValue(Game& game, const std::string& name,
                         const std::function<std::optional<Key>(const Frame& before, const Frame& now)>& next)
{
    const Frame before = game.capture();
    Frame now = before;
    for (int tries = 0; tries < 12; ++tries) {
        const std::optional<Key> key = next(before, now);
        if (!key)
            break;
        game.tap(*key);
        game.waitFor(
            name, [&](const Frame& f) { return !next(before, f); }, 2000, &now);
    }
    return now;
}

// The intro, then on a first start the language screen (left as it is or
// moved one language on), to the main screen.
inline void introToMain(Game& game, const std::string& run, bool firstStart, bool otherLanguage = false)
{
    ASSERT_NE(game.window(), nullptr) << game.noWindow();
    ASSERT_TRUE(game.waitFor(run + "-01-intro", Screens::intro, screenWait));
    if (!firstStart) {
        int languageFrames = 0;
        ASSERT_TRUE(game.waitFor(
            run + "-03-main",
            [&](const Frame& f) {
                languageFrames += Screens::language(f) ? 1 : 0;
                return Screens::mainScreen(f);
            },
            screenWait));
        EXPECT_EQ(languageFrames, 0) << "the language screen shows only at the first start";
        game.play(settle);
        return;
    }
    ASSERT_TRUE(game.waitFor(run + "-02-language", Screens::language, screenWait));
    game.play(settle);
    if (otherLanguage)
        game.tap(Key::right);
    ASSERT_TRUE(game.tapUntil(Key::confirm, run + "-03-main", Screens::mainScreen, Screens::language));
    game.play(settle);
}

// On the game mode screen: Circuit, battle items off, three opponents, one
// lap, each read back from the screen, and the focus on START GAME.
inline void circuitOfOneLapWithoutItems(Game& game, const std::string& run)
{
    // The pulse of the focus moves the ink's edge by a pixel or two.
    // Circuit (the knock-out's next mode: shorter, the rows below still
    // white where the time trial after it greys them); battle items off (no
    // rockets or oil on a road that the throttle alone must keep: "OFF" is
    // wider than "ON"); three opponents; one lap (the least: "1" has less
    // ink than "2"). Each is read back from the screen.
    using namespace Screens;
    const std::string name = run + "-07-game-mode";
    // Rows 0 to 4, then the start button (no value in focus).
    const auto row = [](const Frame& f) {
        const int focus = gameModeFocus(f);
        return focus < 0 ? 5 : focus;
    };
    const auto focus = [&](int target) { EXPECT_EQ(row(moveFocus(game, name, row, target, Key::up, Key::down)), target); };
    const auto lastKey = [](bool done, Key key) { return done ? std::nullopt : std::optional<Key>(key); };
    focus(0);
    Frame f = changeValue(game, name, [&](const Frame& before, const Frame& now) {
        return gameModeWhite(now, 1) ? lastKey(gameModeWidth(now, 0) < gameModeWidth(before, 0) - 20, Key::right)
                                     : std::optional<Key>(Key::left);
    });
    EXPECT_TRUE(gameModeWhite(f, 1)) << "not the circuit";
    focus(1);
    changeValue(game, name, [&](const Frame& before, const Frame& now) {
        return lastKey(gameModeWidth(now, 1) > gameModeWidth(before, 1) + 6, Key::right);
    });
    focus(3);
    f = changeValue(game, name, [&](const Frame& before, const Frame& now) {
        return lastKey(gameModeInk(now, 3) < gameModeInk(before, 3) * 0.75f, Key::left);
    });
    game.keep(f, run + "-07-one-lap");
    focus(5);
}

// Solo game, the race-track kind at sunset, Circuit without battle items
// against three opponents over one lap: the loading ring, the preview (closed by Return) and the countdown.
inline void mainToRace(Game& game, const std::string& run)
{
    // The main screen shows no focus: a Down lost leaves it on the
    // championship, whose country choice is left again.
    const auto mapChoice = [](const Frame& f) { return Screens::chooseMap(f) && Screens::mapKinds(f); };
    const auto country = [](const Frame& f) { return Screens::chooseCountry(f) && !Screens::mapKinds(f); };
    Frame shown;
    for (int tries = 0; tries < 3 && !mapChoice(shown); ++tries) {
        game.tap(Key::down);
        game.tapUntil(
            Key::confirm, run + "-04-choose-map", [&](const Frame& f) { return mapChoice(f) || country(f); },
            Screens::mainScreen);
        shown = game.capture();
        if (country(shown)) {
            ASSERT_TRUE(game.tapUntil(Key::back, run + "-04-main", Screens::mainScreen, Screens::chooseCountry));
            game.play(settle);
        }
    }
    ASSERT_TRUE(mapChoice(shown));
    game.play(settle);
    // The race track (the sprint's kind), then the daytime: sunset is the
    // last, so a Right too many is none.
    ASSERT_EQ(Screens::mapKindFocus(moveFocus(game, run + "-05-kind", Screens::mapKindFocus, 1, Key::up, Key::down)), 1);
    // A Confirm sent again while the daytimes still come in would choose
    // the daytime too: it waits ten seconds of the game's clock first. A
    // press sent twice (its first send answered too late on a busy machine)
    // chooses it all the same and shows the game mode: Back leads to the
    // map choice again, its kinds in focus.
    bool daytime = false;
    for (int tries = 0; tries < 4 && !daytime; ++tries) {
        if (Screens::gameMode(game.capture())) {
            ASSERT_TRUE(game.tapUntil(Key::back, run + "-05-back", Screens::chooseMap, Screens::gameMode));
            game.play(settle);
            moveFocus(game, run + "-05-kind", Screens::mapKindFocus, 1, Key::up, Key::down);
        }
        game.tap(Key::confirm);
        Frame shownNow;
        game.waitFor(
            run + "-05-daytime", [](const Frame& f) { return Screens::daytimeFocus(f) || Screens::gameMode(f); },
            10000, &shownNow);
        daytime = Screens::daytimeFocus(shownNow) && !Screens::gameMode(shownNow);
    }
    ASSERT_TRUE(daytime);
    for (int taps = 0; taps < 4; ++taps)
        game.tap(Key::right);
    game.keep(game.capture(), run + "-05-sunset");
    ASSERT_TRUE(game.tapUntil(Key::confirm, run + "-06-game-mode", Screens::gameMode, Screens::chooseMap));
    game.play(settle);
    circuitOfOneLapWithoutItems(game, run);
    // START GAME: a confirm on the loading screen or the preview changes
    // nothing, so a lost one is sent again.
    ASSERT_TRUE(game.tapUntil(Key::confirm, run + "-08-loading",
                              [](const Frame& f) { return Screens::loading(f) || Screens::preview(f); }));
    ASSERT_TRUE(game.waitFor(run + "-09-preview", Screens::preview, screenWait));
    game.play(1500);
    game.tap(Key::confirm, 0);
    ASSERT_TRUE(game.waitFor(
        run + "-10-countdown", Screens::countdown, screenWait));
}

// Confirms the pause's focus until the screen it leads to shows; a confirm
// lost to a slow frame, the pause still shown, is sent again.
inline bool confirmInThePause(Game& game, const std::string& name, const std::function<bool(const Frame&)>& next)
{
    for (int tries = 0; tries < 4; ++tries) {
        game.tap(Key::confirm, 0);
        if (game.waitFor(name, next, 15000))
            return true;
        if (!Screens::pause(game.capture()))
            return game.waitFor(name, next, screenWait);
    }
    return false;
}

// Up held for a while: the quad drives off, the view moves and the head-up
// display shows a speed; Right and then Left turn the view; then the pause,
// its give-up, and the main screen. A quad at full throttle needs about a
// quarter of a minute of the game's clock to the Goal, so the ten seconds or
// so of it this drive takes, three of them the countdown, always leave the
// race on for the pause.
inline void raceToMain(Game& game, const std::string& run)
{
    const auto never = [](const Frame&) { return false; };
    const Drive drive = driveAlongTheRoad(game, run + "-11-race", 5000, never);
    EXPECT_GT(drive.raceFrames, drive.frames / 2) << drive.frames;
    EXPECT_GT(drive.speedFrames, drive.frames / 2) << drive.frames;
    // The countdown's still frames come first, and the window is often
    // captured more often than the game draws it.
    EXPECT_GT(drive.movingFrames, drive.frames / 8) << drive.frames;
    // On a busy machine the input server may pass a key on two seconds
    // late, so a turn held too long or not at all is tried once more.
    const auto turn = [&](const std::string& name, Key key) {
        const float first = turnOfTheView(game, name, key, 400);
        return first > 0.1f ? first : std::max(first, turnOfTheView(game, name + "-again", key, 400));
    };
    EXPECT_GT(turn(run + "-11-right", Key::right), 0.1f) << "Right did not turn the view";
    driveAlongTheRoad(game, run + "-11-back", 1500, never);
    EXPECT_GT(turn(run + "-11-left", Key::left), 0.1f) << "Left did not turn the view";
    ASSERT_TRUE(game.tapUntil(Key::pause, run + "-12-pause", Screens::pause, Screens::race));
    game.play(settle);
    ASSERT_EQ(Screens::pauseFocus(moveFocus(game, run + "-12-give-up", Screens::pauseFocus, 1, Key::up, Key::down)), 1);
    ASSERT_TRUE(confirmInThePause(game, run + "-13-main", Screens::mainScreen));
    game.play(settle);
}

// The player's quad left standing on the road for the time given, no key
// pressed: the race goes on round it. How many of the frames seen showed the
// race, and how many in all.
inline std::pair<int, int> standOnTheRoad(Game& game, const std::string& name, DWORD milliseconds)
{
    int frames = 0, raceFrames = 0, kept = 0;
    for (uint64_t start = game.clock(), nextKept = start; game.clock() - start < milliseconds;) {
        const Frame f = game.capture();
        if (f.empty())
            break;
        ++frames;
        raceFrames += Screens::race(f) ? 1 : 0;
        if (game.clock() >= nextKept) {
            game.keep(f, name + "-" + std::to_string(kept++));
            nextKept = game.clock() + 5000;
        }
        if (!game.play(500))
            break;
    }
    return {raceFrames, frames};
}

// Up held until the finish: the quad drives off, the view moves and the
// head-up display shows a speed. A finished race shows its results at the
// next press of the throttle, so once the quad may have finished the
// throttle is let go and pressed anew now and then until they show. The
// quad needs about a quarter of a minute of the game's clock to the Goal.
// Once the results have shown, the
// next press leaves them: a slow frame may see the throttle let go between
// two drives and show them before the press meant for them, so that press
// is sent only while they do not show.
inline void raceToResults(Game& game, const std::string& run)
{
    const auto never = [](const Frame&) { return false; };
    const Drive drive = driveAlongTheRoad(game, run + "-11-race", 30000, never);
    EXPECT_GT(drive.raceFrames, drive.frames / 2) << drive.frames;
    EXPECT_GT(drive.speedFrames, drive.frames / 2) << drive.frames;
    // The window is often captured more often than the game draws it.
    EXPECT_GT(drive.movingFrames, drive.frames / 8) << drive.frames;
    bool results = false;
    for (const uint64_t start = game.clock(); !results && game.clock() - start < 90000 && game.turn();) {
        driveAlongTheRoad(game, run + "-12-race", 2500, Screens::results);
        // Long enough for a frame to see the throttle let go, and for
        // results shown by the drive's own press to fade in.
        if (game.waitFor(run + "-13-results", Screens::results, 1500)) {
            results = true;
            break;
        }
        game.press(Key::up);
        results = game.waitFor(run + "-13-results", Screens::results, 2000);
        game.release(Key::up);
    }
    ASSERT_TRUE(results);
    game.play(settle);
}

// Frames of the results once their lines have slid in (about a second and a
// half of the game's time), read over a few cycles of the player's pulse.
// Only frames the game has moved on count: a game slowed by a busy machine
// is read over as many of its own frames as a quick one.
inline std::vector<Frame> settledResults(Game& game)
{
    game.play(2000);
    std::vector<Frame> frames;
    for (const uint64_t start = game.clock(); frames.size() < 12 && game.clock() - start < 20000;) {
        Frame frame = game.capture();
        if (!frame.empty() && (frames.empty() || frame.difference(frames.back()) > 0.0f))
            frames.push_back(std::move(frame));
        if (!game.play(150))
            break;
    }
    return frames;
}

// Accelerate leaves the results, again the map choice, which Escape leaves
// for the main screen.
inline void resultsToMain(Game& game, const std::string& run)
{
    ASSERT_TRUE(game.tapUntil(Key::up, run + "-14-choose-map", Screens::chooseMap, Screens::results));
    game.play(settle);
    ASSERT_TRUE(game.tapUntil(Key::back, run + "-15-main", Screens::mainScreen, Screens::chooseMap));
    game.play(settle);
}

// The window's client area set to width x height as a drag would leave it,
// then a device reset forced by the end of another move: the screen that
// accepts shows at the new size after each.
inline void resizeAndReset(Game& game, const std::string& name, int width, int height,
                           const std::function<bool(const Frame&)>& accepts)
{
    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    SetWindowPos(game.window(), nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageW(game.window(), WM_EXITSIZEMOVE, 0, 0);
    EXPECT_TRUE(game.waitFor(
        name + "-resized", [&](const Frame& f) { return f.width == width && f.height == height && accepts(f); },
        screenWait));
    PostMessageW(game.window(), WM_EXITSIZEMOVE, 0, 0);
    game.play(2000);
    EXPECT_TRUE(game.waitFor(name + "-reset", accepts, screenWait));
}

// Escape on the main screen asks whether to leave; Yes (Left) and Return end
// the game with exit code 0, its settings written and no crash protocol.
inline void mainToQuit(Game& game, const std::string& run)
{
    ASSERT_TRUE(game.tapUntil(Key::back, run + "-19-exit", Screens::exitQuestion, Screens::mainScreen));
    game.play(settle);
    ASSERT_EQ(Screens::exitFocus(moveFocus(game, run + "-20-yes", Screens::exitFocus, 0, Key::left, Key::right)), 0);
    // Yes: a confirm lost to a slow frame is sent again.
    long exitCode = -1000;
    for (int tries = 0; tries < 4 && exitCode == -1000; ++tries) {
        game.tap(Key::confirm, 0);
        exitCode = game.exitWithin(15000);
    }
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(GetFileAttributesW((settingsFolder() + L"gset.dat").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(crashProtocols().empty());
}

}
