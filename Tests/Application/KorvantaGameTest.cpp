// The application's side of the race logic: the player's name and colour
// from the settings, and saving them.
#include "AppTestFiles.h"

#include "Application/GlobalSettings.h"
#include "Application/Korvanta.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

TEST(KorvantaGame, TheRaceAsksForThePlayersNameAndColourAndSaves)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"KorvantaGame");
    GlobalSettings settings(folder.c_str());
    GlobalSettings* previous = gSettings;
    gSettings = &settings;
    settings.name = String(L"Quad Racer");
    const uint8_t yellow[4] = {0x03, 0xDF, 0xF3, 0xFF};
    std::copy(yellow, yellow + 4, settings.fourBytes);
    const uint8_t progress[13] = {'F', 'R', 0, 0, 2, 11, 16, 7, 4, 2, 1, 0, 0};
    std::copy(progress, progress + 13, settings.gameRecords[4].bytes);
    {
        Korvanta app;
        Game& game = app.scene.game;
        ASSERT_EQ(game.callbacks, static_cast<Game::Interface*>(&app));
        EXPECT_EQ(std::wstring(game.callbacks->getSettingNameGame().text()), L"Quad Racer");
        EXPECT_EQ(Game::findPlayerColorIndex(game.callbacks->getSettingCharGame()), 3);
        // Before start-up read the settings the race holds no table: a save
        // keeps the records as they were.
        game.callbacks->saveSettings();
        GlobalSettings stored(folder.c_str());
        ASSERT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
        EXPECT_TRUE(std::equal(progress, progress + 13, stored.gameRecords[4].bytes));
        EXPECT_EQ(std::wstring(stored.name.text()), L"Quad Racer");
    }
    gSettings = previous;
}
