// The application's start-up and shutdown in the test's own process: what
// init brings up, shutdown lets go of. The file's name makes it run after the
// input-device tests: under Wine, a start-up here followed by a run of the
// program leaves those tests unable to bring their own window to the front.
#include "AppTestFiles.h"

#include "Application/GlobalSettings.h"
#include "Application/Globals.h"
#include "Application/Korvanta.h"
#include "Application/Multimonitor.h"
#include "Application/UserInput.h"
#include "Audio/Audio.h"
#include "Core/Language.h"
#include "Core/ResourceManager.h"
#include "Physics/PhysicsManager.h"
#include "Render/D3DDevice.h"

#include "BoxAnswerer.h"

#include <gtest/gtest.h>

TEST(KorvantaStart, InitBringsUpWindowDeviceSoundAndInputAndShutdownLetsThemGo)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"StartUp");
    GlobalSettings settings(folder.c_str());
    settings.options.fullScreen = 0;
    settings.width = 320;
    settings.height = 240;
    ASSERT_TRUE(settings.writeFile());
    WinShell::Multimonitor monitors;
    monitors.enumerate();
    GlobalSettings* const previousSettings = gSettings;
    WinShell::Multimonitor* const previousMonitors = WinShell::gMonitors;
    Language* const previousLanguage = gLanguage;
    ResourceManager* const previousResources = gResourceManager;
    gSettings = &settings;
    WinShell::gMonitors = &monitors;
    gLanguage = nullptr; // shutdown deletes the language and the resources
    gResourceManager = nullptr;
    gInstance = GetModuleHandleW(nullptr);

    {
        BoxAnswerer answerer;
        Korvanta app;
        ASSERT_EQ(app.init(), 1u);
        EXPECT_EQ(app.active, 1u);
        EXPECT_TRUE(IsWindow(app.window));
        ASSERT_NE(app.swapChain, nullptr);
        EXPECT_EQ(app.scene.swapChain, app.swapChain);
        EXPECT_NE(gDevice, nullptr);
        EXPECT_TRUE(Audio::isEnabled());
        const Audio::FileRef* defaults[] = {&app.defaultCollisionSound, &app.defaultDragSound};
        for (const Audio::FileRef* sound : defaults) {
            EXPECT_NE(sound->source, nullptr);
            EXPECT_EQ(sound->type, Audio::FileRef::typeWav);
        }
        EXPECT_STREQ(app.defaultCollisionSound.name.text(), L"SndDefColl");
        EXPECT_STREQ(app.defaultDragSound.name.text(), L"SndDefDrag");
        EXPECT_NE(gUserInput.keyboard, nullptr);
        // The physics: a simulator for 128 bodies, its thread running; frames hand over with it.
        EntityManager::PhysicsManager* physics = app.physicsManager();
        ASSERT_NE(physics, nullptr);
        ASSERT_NE(physics->simulator, nullptr);
        EXPECT_EQ(physics->rigidBodyBudget, 128);
        EXPECT_EQ(physics->spareAnimatedTop, 16);
        EXPECT_TRUE(physics->thread.isRunning());
        for (int frame = 0; frame < 5; ++frame) {
            app.update();
            physics->waitForStepEnd();
        }
        EXPECT_GE(physics->simulator->stepCount, 5u);

        app.shutdown();
        EXPECT_EQ(app.window, nullptr);
        EXPECT_EQ(gDevice, nullptr);
        EXPECT_FALSE(Audio::isEnabled());
        EXPECT_EQ(gUserInput.keyboard, nullptr);
        // The window's end saved the settings and asked the loop to end.
        GlobalSettings stored(folder.c_str());
        EXPECT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
        EXPECT_EQ(stored.width, 320u);
        MSG message;
        bool quitPosted = false;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            quitPosted = quitPosted || message.message == WM_QUIT;
        EXPECT_TRUE(quitPosted);
    }

    gSettings = previousSettings;
    WinShell::gMonitors = previousMonitors;
    gLanguage = previousLanguage;
    gResourceManager = previousResources;
}
