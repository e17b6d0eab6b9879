// A new player's championship: the country of the sprint, a new
// championship started, its first race up to the start, then the pause's
// Exit Championship back to the main screen and the way out; and a player's
// race paused, resumed and given up by Escape.
#include "PlayRoads.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Play;

namespace {

// From the main screen a new championship of the sprint's country up to its
// race on: the championship is the main screen's first choice; then the
// country, its difficulty and StartChampionship (each confirm moves one step
// on, so confirms go on until the race loads), the preview and the
// countdown's three seconds.
void mainToChampionshipRace(Game& game, const std::string& run)
{
    ASSERT_TRUE(game.tapUntil(Key::confirm, run + "-04-country", Screens::chooseCountry, Screens::mainScreen));
    game.play(settle);
    ASSERT_TRUE(game.tapUntil(Key::confirm, run + "-05-loading",
                              [](const Frame& f) { return Screens::loading(f) || Screens::preview(f); }));
    ASSERT_TRUE(game.waitFor(run + "-06-preview", Screens::preview, screenWait));
    game.play(1500);
    game.tap(Key::confirm, 0);
    ASSERT_TRUE(game.waitFor(
        run + "-07-countdown", Screens::countdown, screenWait));
    game.play(4000);
}

// The pause's focus moved to row (0 Continue, 1 Give Up, 2 Exit
// Championship). The last frame seen.
Frame focusPauseRow(Game& game, const std::string& name, int row)
{
    return moveFocus(game, name, Screens::pauseFocus, row, Key::up, Key::down);
}

}

TEST(PlayChampionship, ANewPlayerStartsAChampionshipLeavesItFromThePauseAndQuits)
{
    ASSERT_FALSE(programFolder().empty());
    forgetPlayer();
    Game game;
    introToMain(game, "champ", true);
    if (HasFatalFailure())
        return;
    mainToChampionshipRace(game, "champ");
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(game.tapUntil(Key::pause, "champ-08-pause", Screens::pause, Screens::race));
    game.play(settle);
    const Frame focus = focusPauseRow(game, "champ-09-focus", 2);
    game.keep(focus, "champ-09-exit-championship");
    ASSERT_EQ(Screens::pauseFocus(focus), 2);
    ASSERT_TRUE(confirmInThePause(game, "champ-10-main", Screens::mainScreen));
    game.play(settle);
    mainToQuit(game, "champ");
}

// A player who has bound Pause to Escape, the menu's back key, as the
// control screen allows: Escape pauses the championship's race, Escape
// resumes it, Escape pauses it again and the pause's Give Up ends the
// player's race; the results then list the player last, behind every
// opponent.
TEST(PlayChampionship, PauseOnEscapePausesResumesAndGivesUpAndThePlayerIsListedLast)
{
    ASSERT_FALSE(programFolder().empty());
    forgetPlayer();
    HKEY key = nullptr;
    if (RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\Korvanta", &key) == ERROR_SUCCESS)
        RegCloseKey(key);
    {
        Control bindings;
        Control::setDefaultKeys(bindings.keyboardSet);
        Control::setDefaultJoystick(bindings.joystickSet);
        // Pause (the fourth button action) on the key of menu back (the tenth).
        bindings.keyboardSet.keys[7] = bindings.keyboardSet.keys[13];
        GlobalSettings seeded(settingsFolder().c_str());
        seeded.controls = &bindings;
        ASSERT_TRUE(seeded.writeFile());
    }
    Game game;
    introToMain(game, "escape", false);
    if (HasFatalFailure())
        return;
    mainToChampionshipRace(game, "escape");
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(game.tapUntil(Key::back, "escape-08-pause", Screens::pause, Screens::race));
    game.play(settle);
    ASSERT_TRUE(game.tapUntil(Key::back, "escape-09-resumed", Screens::race, Screens::pause));
    game.play(settle);
    ASSERT_TRUE(game.tapUntil(Key::back, "escape-10-pause", Screens::pause, Screens::race));
    game.play(settle);
    const Frame focus = focusPauseRow(game, "escape-11-focus", 1);
    game.keep(focus, "escape-11-give-up");
    ASSERT_EQ(Screens::pauseFocus(focus), 1);
    // The race given up goes on without the player's say; the throttle shows
    // its results.
    ASSERT_TRUE(confirmInThePause(game, "escape-12-race",
                                  [](const Frame& f) { return Screens::race(f) || Screens::results(f); }));
    // Pressed again only when the results never showed: once shown, the
    // throttle would leave them.
    bool results = Screens::results(game.capture());
    for (int tries = 0; tries < 4 && !results; ++tries) {
        game.tap(Key::up, 0);
        results = game.waitFor("escape-13-results", Screens::results, 15000);
    }
    ASSERT_TRUE(results);
    const std::vector<Frame> settled = settledResults(game);
    ASSERT_EQ(settled.size(), 12u) << "the results stood still";
    game.keep(settled.front(), "escape-14-standings");
    const std::vector<Screens::ResultsRow> rows = Screens::resultsRows(settled, 8);
    int shown = 0;
    while (shown < 8 && rows[size_t(shown)].shown)
        ++shown;
    ASSERT_GE(shown, 2) << "the player and the opponents";
    for (int k = 0; k < shown; ++k)
        EXPECT_EQ(rows[size_t(k)].player, k == shown - 1) << "line " << k + 1 << " of " << shown;
    EXPECT_EQ(game.quit(screenWait), 0);
    EXPECT_TRUE(crashProtocols().empty());
}
