#include "Application/GlobalSettings.h"
#include "Application/Globals.h"
#include "Application/Korvanta.h"
#include "Application/Multimonitor.h"
#include "Application/OSVersion.h"
#include "Application/ShellWindows.h"
#include "Core/Language.h"
#include "Core/ResourceManager.h"

#include <gtest/gtest.h>

#include <cwchar>

TEST(Globals, AreMadeInOrderBeforeTheRunAndReleasedInReverse)
{
    Globals::create();
    EXPECT_EQ(Globals::createdSteps(), 9);
    ASSERT_NE(gApp, nullptr);
    ASSERT_NE(gSettings, nullptr);
    EXPECT_NE(gLanguage, nullptr);
    EXPECT_NE(gResourceManager, nullptr);
    EXPECT_NE(WinShell::gMonitors, nullptr);
    EXPECT_NE(gOSVersion, nullptr);

    // The settings exist with their defaults before anything was read, and
    // their file lies in the application's folder, which exists.
    EXPECT_EQ(gSettings->width, 1024u);
    EXPECT_EQ(gSettings->height, 768u);
    EXPECT_FLOAT_EQ(gSettings->aspect, 1.3333334f);
    const std::wstring expectedPath = std::wstring(gApp->appDataFolder.text()) + L"gset.dat";
    EXPECT_STREQ(gSettings->filePath.text(), expectedPath.c_str());
    const size_t folderLength = wcslen(gApp->appDataFolder.text());
    ASSERT_GT(folderLength, 10u);
    EXPECT_STREQ(gApp->appDataFolder.text() + folderLength - 10, L"\\Korvanta\\");
    EXPECT_NE(GetFileAttributesW(gApp->appDataFolder.text()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(gApp->registryKey, nullptr);
    EXPECT_STREQ(gApp->programName.text(), L"Korvanta");
    EXPECT_STREQ(gApp->version.text(), L"1.0");

    // A second create changes nothing.
    Korvanta* application = gApp;
    Globals::create();
    EXPECT_EQ(gApp, application);

    // Shutdown has already released the language object: the exit clean-up skips it.
    delete gLanguage;
    gLanguage = nullptr;
    Globals::destroy();
    EXPECT_EQ(Globals::createdSteps(), 0);
    EXPECT_EQ(gApp, nullptr);
    EXPECT_EQ(gSettings, nullptr);
    EXPECT_EQ(gResourceManager, nullptr);
    EXPECT_EQ(WinShell::gMonitors, nullptr);
    EXPECT_EQ(gOSVersion, nullptr);
}

TEST(ShellWindows, FindsTheShellOrStopsQuietlyAndLeavesNoHelperBehind)
{
    ShellWindows shell;
    EXPECT_EQ(shell.rootWindow, GetDesktopWindow());
    if (!shell.shellWindow) {
        EXPECT_EQ(shell.viewWindow, nullptr);
        EXPECT_EQ(shell.listWindow, nullptr);
    }
    if (!shell.viewWindow) {
        EXPECT_EQ(shell.listWindow, nullptr);
    }
    EXPECT_EQ(FindWindowW(L"Pellwick Helper Window Class", nullptr), nullptr);
    WNDCLASSW helper{};
    EXPECT_FALSE(GetClassInfoW(nullptr, L"Pellwick Helper Window Class", &helper));
}
