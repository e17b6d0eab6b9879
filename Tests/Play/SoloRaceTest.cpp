// The whole game as a player meets it: the intro, the language at the first
// start, the main screen, a solo race on the sprint against three opponents
// from its preview and countdown to the finish and the results, back to the
// map choice, and the way out through the exit question; a race given up from
// its pause; the next start; the road again in a window of 800 x 600.
#include "PlayRoads.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"
#include "Application/UserInput.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Play;

TEST(PlaySolo, ANewPlayerRacesASprintToTheResultsAndQuits)
{
    ASSERT_FALSE(programFolder().empty()) << "the program and its data could not be copied";
    forgetPlayer();
    Game game;
    introToMain(game, "solo", true);
    if (HasFatalFailure())
        return;
    mainToRace(game, "solo");
    if (HasFatalFailure())
        return;
    raceToResults(game, "solo");
    if (HasFatalFailure())
        return;
    resultsToMain(game, "solo");
    if (HasFatalFailure())
        return;
    mainToQuit(game, "solo");
}

// A race of the first start given up from the pause; the second start skips
// the language screen and keeps the language chosen at the first, the
// player's bindings and nickname.
TEST(PlaySolo, TheFirstStartGivesUpARaceTheSecondSkipsTheLanguageAndKeepsTheSettings)
{
    ASSERT_FALSE(programFolder().empty());
    forgetPlayer();
    {
        Game first;
        introToMain(first, "first", true, true);
        if (HasFatalFailure())
            return;
        // A race given up from the pause leads back to the main screen.
        mainToRace(first, "first");
        if (HasFatalFailure())
            return;
        raceToMain(first, "first");
        if (HasFatalFailure())
            return;
        mainToQuit(first, "first");
        if (HasFatalFailure())
            return;
    }
    const std::vector<uint8_t> language = languageValue();
    ASSERT_EQ(language.size(), 4u);
    {
        Control controls;
        Control::setDefaultKeys(controls.keyboardSet);
        Control::setDefaultJoystick(controls.joystickSet);
        GlobalSettings settings(settingsFolder().c_str());
        settings.controls = &controls;
        ASSERT_EQ(settings.load(), GlobalSettings::LoadResult::Read);
        controls.keyboardSet.keys[0] = &gUserInput.state.keyHeld[DIK_W];
        settings.name = String(L"Tester");
        ASSERT_TRUE(settings.writeFile());
    }
    {
        Game second;
        introToMain(second, "second", false);
        if (HasFatalFailure())
            return;
        mainToQuit(second, "second");
    }
    EXPECT_EQ(languageValue(), language);
    Control controls;
    Control::setDefaultKeys(controls.keyboardSet);
    GlobalSettings stored(settingsFolder().c_str());
    stored.controls = &controls;
    ASSERT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(controls.keyboardSet.keys[0], &gUserInput.state.keyHeld[DIK_W]);
    EXPECT_EQ(std::wstring(stored.name.text()), L"Tester");
}

// The same road in a window of 800 x 600: every screen is told by the same
// regions, laid out for that size.
TEST(PlaySolo, TheSoloRoadInAWindowOf800By600)
{
    ASSERT_FALSE(programFolder().empty());
    forgetPlayer();
    // A player who has started before (no language screen), with a window.
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\Korvanta", &key), ERROR_SUCCESS);
    RegCloseKey(key);
    {
        GlobalSettings seeded(settingsFolder().c_str());
        seeded.width = 800;
        seeded.height = 600;
        seeded.options.fullScreen = 0;
        ASSERT_TRUE(seeded.writeFile());
    }
    Game game;
    ASSERT_NE(game.window(), nullptr);
    introToMain(game, "window", false);
    if (HasFatalFailure())
        return;
    const Frame main = game.capture();
    EXPECT_EQ(main.width, 800);
    EXPECT_EQ(main.height, 600);
    mainToRace(game, "window");
    if (HasFatalFailure())
        return;
    raceToResults(game, "window");
    if (HasFatalFailure())
        return;
    // A resize and a forced device reset keep the results drawn.
    resizeAndReset(game, "window-results", 640, 480, Screens::results);
    resultsToMain(game, "window");
    if (HasFatalFailure())
        return;
    mainToQuit(game, "window");
    GlobalSettings stored(settingsFolder().c_str());
    EXPECT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(stored.width, 800u);
    EXPECT_EQ(stored.options.fullScreen, 0u);
}
