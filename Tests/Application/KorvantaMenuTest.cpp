// The application's side of the game menu: the menu's requests and the one
// cursor helper.
#include "AppTestFiles.h"

#include "Application/GlobalSettings.h"
#include "Application/Korvanta.h"

#include <gtest/gtest.h>

#include <string>

TEST(KorvantaMenu, TheMenuAsksTheApplicationForTheSettingsItChangesInPlace)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"KorvantaMenu");
    GlobalSettings settings(folder.c_str());
    GlobalSettings* previous = gSettings;
    gSettings = &settings;
    {
        Korvanta app;
        GameMenu::Interface& menuSide = app;
        EXPECT_EQ(app.gameMenu.callbacks, &menuSide);
        EXPECT_EQ(menuSide.menu, &app.gameMenu);
        EXPECT_EQ(std::wstring(menuSide.getMapFolder().text()), L"Data\\Map\\");
        EXPECT_EQ(menuSide.getThis(), &app);
        EXPECT_EQ(menuSide.getSettingOptions(), &settings.options.antialiasing);
        EXPECT_EQ(menuSide.getSettingOptions()[5], settings.options.shadowOption) << "the eight words in order";
        EXPECT_EQ(menuSide.getShadowQuality(), &settings.options.shadowOption);
        EXPECT_EQ(menuSide.getSettingOption4(), &settings.options.option3);
        EXPECT_EQ(menuSide.getSettingName(), &settings.name);
        EXPECT_EQ(menuSide.getSettingChar(), settings.fourBytes);
        for (uint32_t retry : {0u, 1u}) {
            app.keyRetry = retry;
            EXPECT_EQ(menuSide.isFirstStart(), retry);
        }
        const std::wstring maps = menuSide.getMapsPage().text();
        const std::wstring donate = menuSide.getDonatePage().text();
        EXPECT_EQ(maps.substr(maps.size() - 13), L"page-maps.php");
        EXPECT_EQ(donate.substr(donate.size() - 15), L"page-donate.php");
        EXPECT_EQ(maps.substr(0, maps.size() - 13), donate.substr(0, donate.size() - 15)) << "one host";
    }
    gSettings = previous;
}

TEST(KorvantaMenu, TheCursorIsShownAndHiddenOnlyOnAChange)
{
    Korvanta app;
    // ShowCursor's answer is the display count after the call.
    const auto count = [] {
        const int after = ShowCursor(TRUE);
        ShowCursor(FALSE);
        return after - 1;
    };
    const int start = count();
    struct Step
    {
        bool shown;
        int change;
    };
    // Loads hide it, returns show it, repeated asks change nothing.
    const Step steps[] = {{false, -1}, {false, -1}, {true, 0}, {true, 0}, {false, -1}, {true, 0}};
    for (const Step& step : steps) {
        app.gameMenu.callbacks->setCursorShown(step.shown);
        EXPECT_EQ(count() - start, step.change);
    }
    // Where races may not hide it, nothing is ever called.
    app.hideCursorInRace = 0;
    app.showCursor(false);
    EXPECT_EQ(count() - start, 0);
}

// The start that has to create the program's registry key is the first: the
// menu shows the language screen after the intro then, and at no later start.
TEST(KorvantaMenu, OnlyTheStartThatCreatesTheRegistryKeyIsTheFirst)
{
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvanta");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Korvanta");
    for (uint32_t first : {1u, 0u}) {
        Korvanta app;
        GameMenu::Interface& menuSide = app;
        EXPECT_EQ(menuSide.isFirstStart(), first);
    }
}
