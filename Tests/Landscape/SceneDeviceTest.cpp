// The scene with a real device under Wine: loading frames, fog states, the
// free camera's input, camera tours and the paused clock.
#include "../Render/TestDevice.h"
#include "LandscapeTestFiles.h"
#include "TerrainTestMaps.h"

#include "Landscape/FreeCamera.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <vector>

namespace {

using namespace LandscapeTestFiles;

class SceneDevice : public TestDevice::DeviceSuite
{
protected:
    void SetUp() override
    {
        scene.swapChain = &chain();
        gFrameFactor.store(1.0f);
    }
    void TearDown() override
    {
        client->loadFrame = nullptr;
        scene.release();
        gTimer.paused = 0;
    }

    Scene scene{String(L"Korvanta"), 3500.0f};
};

TEST_F(SceneDevice, LoadingFramesRunUpToTheWholeProgress)
{
    const std::wstring path = freshFolder(L"frames") + L"Quarry.tee";
    ASSERT_TRUE(write(path, levelBytes(unusualLevel())));
    std::vector<float> progress;
    client->loadFrame = [&] { progress.push_back(chain().progress); };
    ASSERT_TRUE(scene.load(String(path.c_str())));
    ASSERT_GE(progress.size(), 4u);
    const size_t withoutGround = progress.size();
    EXPECT_EQ(progress.front(), 0.0f);
    for (size_t i = 1; i < progress.size(); ++i)
        EXPECT_GE(progress[i], progress[i - 1]);
    EXPECT_NEAR(progress.back(), 1.0f, 1e-5f);
    EXPECT_EQ(chain().loadProcesses.count(), 4); // the terrain, the water, the static objects and the scene

    // A failed load leaves no entry behind, also after a loaded level; the
    // level's shadow sectors go with it.
    const int32_t key[2] = {1, 2};
    ASSERT_NE(scene.shadowManager.findSector(key, true), nullptr);
    scene.clear();
    EXPECT_EQ(*scene.shadowManager.sectors.at(0), nullptr);
    // Sectors placed while no level is loaded go when the scene is released.
    ASSERT_NE(scene.shadowManager.findSector(key, true), nullptr);
    scene.release();
    for (int32_t i = 0; i < scene.shadowManager.sectorCount; ++i)
        EXPECT_EQ(*scene.shadowManager.sectors.at(i), nullptr) << i;
    scene.swapChain = &chain();
    progress.clear();
    EXPECT_FALSE(scene.load(String((path + L".missing").c_str())));
    EXPECT_EQ(chain().loadProcesses.count(), 0);
    EXPECT_EQ(progress.size(), 1u); // the first loading frame only
    EXPECT_FALSE(scene.load(String(L"")));
    EXPECT_EQ(chain().loadProcesses.count(), 0);

    // With its ground the terrain draws a frame for each tenth of its load.
    ASSERT_TRUE(write(path.substr(0, path.size() - 4) + L".map",
                      TerrainTestMaps::mapBytes(TerrainTestMaps::randomMap(128, 71))));
    progress.clear();
    ASSERT_TRUE(scene.load(String(path.c_str())));
    EXPECT_EQ(progress.size(), withoutGround + 7);
    EXPECT_NEAR(progress.back(), 1.0f, 1e-5f);
    scene.clear();
}

// The warm-up at the end of a load hands over to the physics once, before
// its first loading frame.
TEST_F(SceneDevice, TheWarmUpUpdatesThePhysicsOnce)
{
    const std::wstring path = freshFolder(L"warmup") + L"Quarry.tee";
    ASSERT_TRUE(write(path, levelBytes(unusualLevel())));
    EntityManager::PhysicsManager& physics = *chain().entities->physicsManager;
    ASSERT_TRUE(physics.start(16));
    physics.updated = 0;
    std::vector<uint32_t> updates;
    client->loadFrame = [&] {
        updates.push_back(physics.updated);
        physics.updated = 0;
    };
    ASSERT_TRUE(scene.load(String(path.c_str())));
    const size_t frames = updates.size();
    ASSERT_GE(frames, 3u);
    EXPECT_EQ(std::count(updates.begin(), updates.end(), 1u), 1) << "of " << frames << " loading frames";
    // The warm-up's frames are its steps from 0.3 on (the 0.1 step is too
    // small for a frame of its own): the update came before the first.
    ASSERT_GE(frames, 4u);
    EXPECT_EQ(updates[frames - 4], 1u);
    EXPECT_EQ(physics.updated, 0u) << "none after the warm-up's frames";
    scene.clear();
    physics.release();
}

TEST_F(SceneDevice, TheGroundGetsItsDetailWhereTheLevelsCameraStands)
{
    const std::wstring folder = freshFolder(L"lodstart");
    LevelFileWriter::Level level;
    level.camera.position[0] = 1400.0f;
    level.camera.position[2] = 1400.0f;
    ASSERT_TRUE(write(folder + L"Corner.tee", levelBytes(level)));
    ASSERT_TRUE(write(folder + L"Corner.map", TerrainTestMaps::mapBytes(TerrainTestMaps::randomMap(128, 70))));
    ASSERT_TRUE(scene.load(String((folder + L"Corner.tee").c_str())));
    ASSERT_TRUE(gTerrain.isLoaded());
    EXPECT_NEAR(chain().position.x, 1400.0f, 1e-3f);
    auto detailAt = [](float x, float z) {
        const int32_t n = gTerrain.patchesPerSide;
        const float width = (gTerrain.box.maximum.x - gTerrain.box.minimum.x) / float(n);
        const int32_t px = int32_t((x - gTerrain.box.minimum.x) / width), pz = int32_t((z - gTerrain.box.minimum.z) / width);
        return gTerrain.patches[size_t(px * n + n - 1 - pz)].detail != nullptr;
    };
    EXPECT_TRUE(detailAt(1450.0f, 1450.0f));
    EXPECT_FALSE(detailAt(-1000.0f, -1000.0f));
    scene.clear();
    EXPECT_FALSE(gTerrain.isLoaded());
}

TEST_F(SceneDevice, FogStatesAreTheLensValues)
{
    for (float amount : {0.0f, 0.3f, 0.9f}) {
        scene.camera.fogAmount = amount;
        scene.camera.fogColour = Color(0x12, 0x34, 0x56, 0xFF);
        scene.camera.apply();
        const float k = (1.0f - (1.0f - amount) * (1.0f - amount)) * 0.9f + 0.07f;
        EXPECT_FLOAT_EQ(chain().fogStart, (0.93f - k) * 700.0f);
        EXPECT_FLOAT_EQ(chain().fogEnd, (1.0f - k) * chain().range * 3.3f);
        DWORD start = 0, end = 0, colour = 0, enabled = 0;
        gDevice->GetRenderState(D3DRS_FOGSTART, &start);
        gDevice->GetRenderState(D3DRS_FOGEND, &end);
        gDevice->GetRenderState(D3DRS_FOGCOLOR, &colour);
        gDevice->GetRenderState(D3DRS_FOGENABLE, &enabled);
        EXPECT_EQ(std::bit_cast<float>(uint32_t(start)), chain().fogStart);
        EXPECT_EQ(std::bit_cast<float>(uint32_t(end)), chain().fogEnd);
        EXPECT_EQ(colour, 0xFF123456u);
        EXPECT_EQ(enabled, DWORD(TRUE));
    }
}

TEST_F(SceneDevice, WheelHoldsTheHeightWithinItsBounds)
{
    UserInput::State input;
    scene.camera.input = &input;
    RECT frame{};
    GetWindowRect(window, &frame);
    ASSERT_TRUE(SetCursorPos((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2));

    input.mousePressed[UserInput::wheelUp] = 1;
    for (int i = 0; i < 400; ++i)
        FreeCamera::update(scene.camera);
    EXPECT_EQ(scene.camera.targetHeight, 600.0f);
    EXPECT_NEAR(scene.camera.currentHeight, 600.0f, 1.0f);
    input.mousePressed[UserInput::wheelUp] = 0;
    input.mousePressed[UserInput::wheelDown] = 1;
    for (int i = 0; i < 400; ++i)
        FreeCamera::update(scene.camera);
    EXPECT_EQ(scene.camera.targetHeight, 2.0f);

    // With the cursor moved away from the window the wheel does nothing.
    ASSERT_TRUE(SetCursorPos(frame.right + 50, frame.bottom + 50));
    input.mouseDeltaX = 40.0f;
    input.mousePressed[UserInput::wheelDown] = 0;
    input.mousePressed[UserInput::wheelUp] = 1;
    FreeCamera::update(scene.camera);
    EXPECT_EQ(scene.camera.targetHeight, 2.0f);

    // While the mouse stands still the answer is kept a moment, then asked
    // again: a window can move under a cursor that does not.
    input.mouseDeltaX = 0.0f;
    ASSERT_TRUE(SetCursorPos((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2));
    FreeCamera::update(scene.camera);
    EXPECT_EQ(scene.camera.targetHeight, 2.0f);
    Sleep(300);
    FreeCamera::update(scene.camera);
    EXPECT_GT(scene.camera.targetHeight, 2.0f);
}

TEST_F(SceneDevice, WithoutGroundTheFreeCameraStays)
{
    ASSERT_FALSE(gTerrain.isLoaded());
    UserInput::State input;
    input.keyHeld[DIK_W] = 1;
    input.keyHeld[DIK_Q] = 1;
    scene.camera.input = &input;
    scene.camera.position = {5, 50, 7};
    chain().position = {1, 2, 3};
    RECT frame{};
    GetWindowRect(window, &frame);
    ASSERT_TRUE(SetCursorPos((frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2));
    for (int i = 0; i < 10; ++i)
        scene.updateCamera();
    EXPECT_EQ(scene.camera.position, vec3d(5, 50, 7));
    EXPECT_EQ(chain().position, vec3d(1, 2, 3));
    EXPECT_LT(scene.camera.turn, 0.0f); // Q still turns the view
}

// Camera objects as the level's static objects will give them.
class StandInCameras final : public Scene::CameraObjects
{
public:
    int32_t collect(DynArray<Scene::CameraObject>& out) override
    {
        int32_t n = 0;
        for (const Scene::CameraObject& object : objects)
            *out.at(n++) = object;
        return n;
    }
    std::vector<Scene::CameraObject> objects;
};

Scene::CameraObject cameraObject(int32_t number, vec3d position)
{
    Scene::CameraObject object;
    object.number = number;
    object.transform.m[12] = position.x;
    object.transform.m[13] = position.y;
    object.transform.m[14] = position.z;
    return object;
}

TEST_F(SceneDevice, ToursFlyThroughTheCameraObjects)
{
    // Without camera objects nothing happens.
    scene.setCameraMode(0, 2, 3.0f);
    EXPECT_EQ(scene.camera.mode, 0u);

    StandInCameras cameras;
    for (int32_t n : {5, 1, 0, 3, 2, 4})
        cameras.objects.push_back(cameraObject(n, {100.0f * float(n), 10.0f, 0.0f}));
    cameras.objects[2].tilt = 0; // object 0 looks straight down
    scene.cameraObjects = &cameras;

    scene.placeCameraAtStart();
    EXPECT_EQ(chain().position, vec3d(0, 10, 0));

    scene.setCameraMode(0, 2, 3.0f);
    EXPECT_EQ(scene.camera.mode, 4u);
    EXPECT_EQ(scene.camera.path, &scene.cameraPath);
    ASSERT_EQ(scene.cameraPath.keyCount, 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(scene.cameraPath.keys[i].position, vec3d(100.0f * float(i), 10.0f, 0.0f));
    EXPECT_EQ(chain().position, vec3d(0, 10, 0));
    EXPECT_NEAR(chain().forward.y, -1.0f, 1e-5f);

    // Tour A moves on to objects 3 to 5 once the path is over; missing numbers are skipped.
    scene.tourA = 2;
    for (int frame = 0; frame < 1000 && scene.tourA == 2; ++frame)
        scene.updateCamera();
    EXPECT_EQ(scene.tourA, 3u);
    ASSERT_EQ(scene.cameraPath.keyCount, 3);
    EXPECT_EQ(scene.cameraPath.keys[0].position.x, 300.0f);
    scene.setCameraMode(2, 0, 1.0f); // either way round
    EXPECT_EQ(scene.cameraPath.keys[0].position.x, 200.0f);
    scene.setCameraMode(-7, 1, 1.0f); // numbers are bytes: from 0
    ASSERT_EQ(scene.cameraPath.keyCount, 2);
    EXPECT_EQ(scene.cameraPath.keys[0].position.x, 0.0f);
    scene.setCameraMode(6, 8, 1.0f);
    EXPECT_EQ(scene.cameraPath.keyCount, 0);
    EXPECT_EQ(scene.camera.mode, 4u);
    scene.cameraObjects = nullptr;
}

TEST_F(SceneDevice, ResumeOnlyUndoesTheScenesOwnPause)
{
    gFrameFactor.store(1.2f);
    scene.pause();
    EXPECT_EQ(gTimer.paused, 1u);
    EXPECT_EQ(gTimer.savedFactor, 1.2f); // the menu's ramps go on at it
    EXPECT_EQ(gFrameFactor.load(), 0.0f);
    EXPECT_EQ(gFrameTime.load(), 0.0f);
    scene.resume();
    EXPECT_EQ(gTimer.paused, 0u);
    // A clock stopped by someone else stays stopped.
    gTimer.paused = 1;
    scene.resume();
    EXPECT_EQ(gTimer.paused, 1u);
    gTimer.paused = 0;
    // Without a swap chain there is nothing to pause.
    Scene idle(String(L"Korvanta"), 3500.0f);
    idle.pause();
    EXPECT_EQ(gTimer.paused, 0u);
}

}
