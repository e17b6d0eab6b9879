// A race paused as the pause screen pauses it, in the game started
// in-process on the builder's valley: behind the pause the quads stand where
// they are and their engines fall silent; the resume lets both go on.
#include "../Application/AppTestFiles.h"
#include "../Application/GameInProcess.h"

#include "Application/Korvanta.h"
#include "Audio/Sound3D.h"
#include "Audio/SoundInterface.h"
#include "Landscape/Scene.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"
#include "Vehicle/QuadInstance.h"

#include "Core/FileInterface.h"
#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring valley() { return std::wstring(getModuleFolder().text()) + L"..\\Data\\Map\\Valley.tee"; }

uint32_t pauseClockNow = 500000;
DWORD WINAPI pauseClock() { return pauseClockNow; }

class RacePause : public testing::Test
{
public:
    static void SetUpTestSuite()
    {
        gameProcess.start(L"PauseSettings", 640, 480, std::wstring(getModuleFolder().text()) + L"..");
        app = gameProcess.app;
    }

    static void TearDownTestSuite()
    {
        gameProcess.stop();
        app = nullptr;
    }

    static inline GameInProcess gameProcess;
    static inline Korvanta* app = nullptr;
};

TEST_F(RacePause, ThePauseHoldsTheQuadsAndTheirEnginesAndTheResumeLetsThemGo)
{
    ASSERT_NE(app, nullptr);
    Scene& scene = app->scene;
    ASSERT_TRUE(scene.load(String(valley().c_str())));
    EntityManager::PhysicsManager* physics = app->physicsManager();
    ASSERT_NE(physics, nullptr);
    // The physics stepped by the frame's own update, so that every frame
    // steps it once: a paused frame must not.
    physics->thread.stop();
    const uint32_t threaded = physics->threaded;
    physics->threaded = 0;
    const RaceClock previousClock = gRaceClock;
    gRaceClock = pauseClock;

    RaceChoice choice;
    choice.mapFile = String(valley().c_str());
    choice.gameMode = Game::TimeTrial;
    choice.courseType = 1;
    choice.vehicleCount = 1;
    Game& game = scene.game;
    game.applyRaceChoice(choice);
    game.setupRace();
    const auto frame = [] {
        pauseClockNow += 40;
        gFrameFactor.store(1.0f);
        app->pumpMessages();
        app->update();
    };
    for (int frames = 0; game.phase < 3 && frames < 12000; ++frames)
        frame();
    ASSERT_EQ(game.phase, 3u);
    Game::Vehicle* player = game.getPlayerVehicle();
    ASSERT_NE(player, nullptr);
    Game::Vehicle::QuadInstance* quad = player->getQuad();
    ASSERT_NE(quad, nullptr);
    ASSERT_NE(player->entity(), nullptr);
    Audio::Sound3D* engine = quad->engineSound.carrier;
    ASSERT_NE(engine, nullptr) << "the race runs with a sound device";

    // Throttle held through the keyboard's binding: the quad drives off.
    uint8_t up = 1;
    const uint8_t* const bound = app->controls.keyboardSet.keys[0];
    app->controls.keyboardSet.keys[0] = &up;
    const vec3d start = player->entity()->world.row(3);
    for (int k = 0; k < 40; ++k)
        frame();
    const vec3d driving = player->entity()->world.row(3);
    EXPECT_GT((driving - start).length(), 0.5f) << "the quad drives before the pause";
    EXPECT_EQ(engine->state, Audio::SoundInterface::playing);

    scene.pause();
    EXPECT_EQ(engine->state, Audio::SoundInterface::paused) << "the engine falls silent";
    const vec3d paused = player->entity()->world.row(3);
    neRigidBody* const body = quad->body();
    const vec3d pausedBody = body ? body->position() : paused;
    for (int k = 0; k < 40; ++k)
        frame();
    const vec3d held = player->entity()->world.row(3);
    EXPECT_EQ(held.x, paused.x);
    EXPECT_EQ(held.y, paused.y);
    EXPECT_EQ(held.z, paused.z);
    if (body) {
        const vec3d at = body->position();
        EXPECT_EQ(at.x, pausedBody.x);
        EXPECT_EQ(at.y, pausedBody.y);
        EXPECT_EQ(at.z, pausedBody.z);
    }
    EXPECT_EQ(engine->state, Audio::SoundInterface::paused) << "and stays silent through the paused frames";

    scene.resume();
    EXPECT_EQ(engine->state, Audio::SoundInterface::playing) << "the engine runs again";
    for (int k = 0; k < 40; ++k)
        frame();
    EXPECT_GT((player->entity()->world.row(3) - held).length(), 0.5f) << "the quad drives on after the resume";

    app->controls.keyboardSet.keys[0] = bound;
    game.removeRaceVehicles();
    game.releaseParkingSlots();
    game.clearRace();
    scene.clear();
    gRaceClock = previousClock;
    physics->threaded = threaded;
    if (threaded)
        physics->thread.start();
}

}
