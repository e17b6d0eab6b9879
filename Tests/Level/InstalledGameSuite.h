#pragma once
// A suite of races in the game started as it starts, once for the suite, in
// the built game's install folder, with settings of its own named by the
// suite (Suite::settingsName).
#include "../Application/GameInProcess.h"

#include "Core/FileInterface.h"

#include <gtest/gtest.h>

#include <string>

template <class Suite>
class InstalledGameSuite : public testing::Test
{
public:
    static void SetUpTestSuite()
    {
        gameProcess.start(Suite::settingsName, 1024, 768, std::wstring(getModuleFolder().text()) + L"..");
        app = gameProcess.app;
    }

    static void TearDownTestSuite()
    {
        gameProcess.stop();
        app = nullptr;
    }

    void SetUp() override { ASSERT_NE(app, nullptr); }

    static inline GameInProcess gameProcess;
    static inline Korvanta* app = nullptr;
};
