#include "Application/GlobalSettings.h"
#include "Application/Globals.h"
#include "Application/Korvanta.h"
#include "Core/Language.h"

#include <gtest/gtest.h>

#include <string>

TEST(Globals, AreMadeOnceAndReleasedEvenAfterShutdownFreedTheLanguage)
{
    Globals::create();
    ASSERT_NE(gApp, nullptr);
    ASSERT_NE(gSettings, nullptr);
    Korvanta* application = gApp;
    Globals::create();
    EXPECT_EQ(gApp, application);
    // The settings file lies in the program's application-data folder, which exists.
    EXPECT_EQ(std::wstring(gSettings->filePath.text()), std::wstring(gApp->appDataFolder.text()) + L"gset.dat");
    EXPECT_NE(GetFileAttributesW(gApp->appDataFolder.text()), INVALID_FILE_ATTRIBUTES);

    // Shutdown has already released the language object: the exit clean-up must skip it.
    delete gLanguage;
    gLanguage = nullptr;
    Globals::destroy();
    EXPECT_EQ(Globals::createdSteps(), 0);
    EXPECT_EQ(gApp, nullptr);
    EXPECT_EQ(gSettings, nullptr);
}
