// A new player's championship: the country of the sprint, a new
// championship started, its first race up to the start, then the pause's
// Exit Championship back to the main screen and the way out; and a player's
// race paused, resumed and given up by Escape.
#include "PlayRoads.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Play;

TEST(PlayChampionship, ANewPlayerStartsAChampionshipLeavesItFromThePauseAndQuits)
{
    ASSERT_FALSE(programFolder().empty());
    forgetPlayer();
    Game game;
    introToMain(game, "champ", true);
    if (HasFatalFailure())
        return;
    // The championship is the main screen's first choice.
    ASSERT_TRUE(game.tapUntil(Key::confirm, "champ-04-country", Screens::chooseCountry));
    Sleep(settle);
    // The country, its difficulty, then StartChampionship: a new player has
    // no championship to continue. Each confirm moves one step on, so
    // confirms go on until the race loads.
    ASSERT_TRUE(game.tapUntil(Key::confirm, "champ-05-loading",
                              [](const Frame& f) { return Screens::loading(f) || Screens::preview(f); }));
    ASSERT_TRUE(game.waitFor("champ-06-preview", Screens::preview, screenWait));
    Sleep(1500);
    game.tap(Key::confirm, 0);
    ASSERT_TRUE(game.waitFor(
        "champ-07-countdown", [](const Frame& f) { return Screens::race(f) && !Screens::preview(f); }, screenWait));
    // The countdown's three seconds, then the race is on.
    Sleep(4000);
    ASSERT_TRUE(game.tapUntil(Key::pause, "champ-08-pause", Screens::pause));
    Sleep(settle);
    // Continue, Give Up, Exit Championship. Each key waits for the frames to
    // show it: a frame captured just after a tap may still show the focus of
    // before, and a key sent again on its strength went one row too far.
    Frame focus = game.capture();
    for (int tries = 0; tries < 8 && Screens::pauseFocus(focus) != 2; ++tries) {
        const int before = Screens::pauseFocus(focus);
        game.tap(before < 2 ? Key::down : Key::up);
        game.waitFor(
            "champ-09-focus", [before](const Frame& f) { return Screens::pauseFocus(f) != before; }, 3000, &focus);
    }
    game.keep(focus, "champ-09-exit-championship");
    ASSERT_EQ(Screens::pauseFocus(focus), 2);
    ASSERT_TRUE(confirmInThePause(game, "champ-10-main", Screens::mainScreen));
    Sleep(settle);
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
    ASSERT_TRUE(game.tapUntil(Key::confirm, "escape-04-country", Screens::chooseCountry));
    Sleep(settle);
    ASSERT_TRUE(game.tapUntil(Key::confirm, "escape-05-loading",
                              [](const Frame& f) { return Screens::loading(f) || Screens::preview(f); }));
    ASSERT_TRUE(game.waitFor("escape-06-preview", Screens::preview, screenWait));
    Sleep(1500);
    game.tap(Key::confirm, 0);
    ASSERT_TRUE(game.waitFor(
        "escape-07-countdown", [](const Frame& f) { return Screens::race(f) && !Screens::preview(f); }, screenWait));
    Sleep(4000);
    ASSERT_TRUE(game.tapUntil(Key::back, "escape-08-pause", Screens::pause));
    Sleep(settle);
    ASSERT_TRUE(game.tapUntil(Key::back, "escape-09-resumed", Screens::race));
    Sleep(settle);
    ASSERT_TRUE(game.tapUntil(Key::back, "escape-10-pause", Screens::pause));
    Sleep(settle);
    // Continue, then Give Up.
    Frame focus = game.capture();
    for (int tries = 0; tries < 8 && Screens::pauseFocus(focus) != 1; ++tries) {
        const int before = Screens::pauseFocus(focus);
        game.tap(before < 1 ? Key::down : Key::up);
        game.waitFor(
            "escape-11-focus", [before](const Frame& f) { return Screens::pauseFocus(f) != before; }, 3000, &focus);
    }
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
    Sleep(2000);
    std::vector<Frame> settled;
    for (int k = 0; k < 12; ++k, Sleep(150))
        settled.push_back(game.capture());
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
