// A new player's championship: the country of the sprint, a new
// championship started, its first race up to the start, then the pause's
// Exit Championship back to the main screen and the way out.
#include "PlayRoads.h"

#include <gtest/gtest.h>

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
