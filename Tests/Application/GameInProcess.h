#pragma once
// The game's application started inside a test program as the game starts
// it: windowed at a given size with settings of its own in a fresh folder,
// in a given install folder. The globals it takes over come back when it
// stops.
#include "AppTestFiles.h"
#include "BoxAnswerer.h"

#include "Application/GlobalSettings.h"
#include "Application/Globals.h"
#include "Application/Korvanta.h"
#include "Application/Multimonitor.h"
#include "Core/Language.h"
#include "Core/ResourceManager.h"

#include <gtest/gtest.h>

#include <string>

class GameInProcess
{
public:
    // Starts the game; a failed start fails the calling test.
    void start(const wchar_t* settingsName, uint32_t width, uint32_t height, const std::wstring& installFolder)
    {
        settingsFolder_ = AppTestFiles::freshFolder(settingsName);
        settings_ = new GlobalSettings(settingsFolder_.c_str());
        settings_->options.fullScreen = 0;
        settings_->width = width;
        settings_->height = height;
        ASSERT_TRUE(settings_->writeFile());
        monitors_ = new WinShell::Multimonitor;
        monitors_->enumerate();
        previousSettings_ = gSettings;
        previousMonitors_ = WinShell::gMonitors;
        previousLanguage_ = gLanguage;
        previousResources_ = gResourceManager;
        gSettings = settings_;
        WinShell::gMonitors = monitors_;
        gLanguage = nullptr; // shutdown deletes the language and the resources
        gResourceManager = new ResourceManager;
        gInstance = GetModuleHandleW(nullptr);
        wchar_t folder[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, folder);
        previousFolder_ = folder;
        SetCurrentDirectoryW(installFolder.c_str());
        answerer_ = new BoxAnswerer;
        app = new Korvanta;
        ASSERT_EQ(app->init(), 1u);
    }

    void stop()
    {
        if (app)
            app->shutdown();
        delete app;
        app = nullptr;
        delete answerer_;
        answerer_ = nullptr;
        gSettings = previousSettings_;
        WinShell::gMonitors = previousMonitors_;
        gLanguage = previousLanguage_;
        gResourceManager = previousResources_;
        SetCurrentDirectoryW(previousFolder_.c_str());
        delete monitors_;
        monitors_ = nullptr;
        delete settings_;
        settings_ = nullptr;
    }

    Korvanta* app = nullptr;

private:
    BoxAnswerer* answerer_ = nullptr;
    GlobalSettings* settings_ = nullptr;
    WinShell::Multimonitor* monitors_ = nullptr;
    GlobalSettings* previousSettings_ = nullptr;
    WinShell::Multimonitor* previousMonitors_ = nullptr;
    Language* previousLanguage_ = nullptr;
    ResourceManager* previousResources_ = nullptr;
    std::wstring settingsFolder_;
    std::wstring previousFolder_;
};
