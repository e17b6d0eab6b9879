// The free camera over real ground: it keeps its height above the terrain,
// moves and turns with the keys, stays inside and stands still when paused.
#include "TerrainTestMaps.h"

#include "Landscape/FreeCamera.h"
#include "Landscape/Scene.h"

#include "Render/Camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct Flight
{
    Flight() : terrain(TerrainTestMaps::load(TerrainTestMaps::randomMap(128, 61)))
    {
        scene.terrainLayer.terrain = terrain.get();
        scene.camera.position = {0.0f, 0.0f, 0.0f};
        camera.angles = {0.0f, -75.0f, 0.0f};
        camera.setAnglesDeg();
        camera.update();
    }
    void steps(int count, const FreeCamera::Input& input, float f = 1.0f)
    {
        for (int i = 0; i < count; ++i)
            FreeCamera::step(scene.camera, camera, input, f);
    }

    std::unique_ptr<Terrain> terrain;
    Scene scene{String(L"Korvanta"), 3500.0f};
    Camera camera;
};

TEST(FreeCamera, TheKeysMoveAlongTheViewsTurn)
{
    // A view turned by 90 degrees looks along -x, one turned by -90 along +x
    // (ahead is (-sin a, 0, cos a)); D moves to the right of the view.
    for (float turn : {90.0f, -90.0f, 30.0f}) {
        Flight flight;
        flight.camera.angles.x = turn;
        flight.scene.camera.turn = turn;
        flight.camera.setAnglesDeg();
        flight.camera.update();
        FreeCamera::Input ahead;
        ahead.forward = 1.0f;
        ahead.inside = true;
        const vec3d before = flight.scene.camera.position;
        flight.steps(1, ahead);
        const vec3d moved = flight.scene.camera.position - before;
        const float a = turn * 0.017453292f;
        const float pace = 98.0f / 598.0f * 12.0f + 500.0f / 598.0f * 0.2f;
        EXPECT_NEAR(moved.x, -std::sin(a) * pace, 1e-3f) << turn;
        EXPECT_NEAR(moved.z, std::cos(a) * pace, 1e-3f) << turn;
        FreeCamera::Input right;
        right.sideways = 1.0f;
        right.inside = true;
        const vec3d start = flight.scene.camera.position;
        flight.steps(1, right);
        const vec3d aside = flight.scene.camera.position - start;
        EXPECT_NEAR(aside.x, std::cos(a) * pace, 1e-3f) << turn;
        EXPECT_NEAR(aside.z, std::sin(a) * pace, 1e-3f) << turn;
    }
}

TEST(FreeCamera, RidesAboveTheGroundWithTheKeys)
{
    Flight flight;
    FreeCamera::Input ahead;
    ahead.forward = 1.0f;
    ahead.inside = true;
    flight.steps(1, ahead);
    const vec3d first = flight.camera.position;
    EXPECT_NEAR(first.y, flight.terrain->getHeight(first.x, first.z, 3) + flight.scene.camera.currentHeight, 1e-3f);
    flight.steps(30, ahead);
    const vec3d later = flight.camera.position;
    // Turn 0 looks along +z: the keys move the camera that way, at the pace of
    // its height (100 of 2..600 gives about 2.2 units a frame).
    EXPECT_NEAR(later.x, first.x, 1e-3f);
    EXPECT_NEAR(later.z - first.z, 30.0f * (98.0f / 598.0f * 12.0f + 500.0f / 598.0f * 0.2f), 0.5f);
    EXPECT_NEAR(later.y, flight.terrain->getHeight(later.x, later.z, 3) + flight.scene.camera.currentHeight, 1e-3f);
    // Left shift doubles the pace; Q turns the view to the left.
    FreeCamera::Input fast = ahead;
    fast.fast = true;
    flight.steps(1, fast);
    EXPECT_NEAR(flight.camera.position.z - later.z, 2.0f * (98.0f / 598.0f * 12.0f + 500.0f / 598.0f * 0.2f), 0.01f);
    fast.turn = 1.0f;
    flight.steps(1, fast);
    EXPECT_FLOAT_EQ(flight.scene.camera.turn, -6.0f);
    EXPECT_FLOAT_EQ(flight.camera.angles.x, -6.0f * 0.4f);
    // The turn circles the ground point in view: one current height below
    // the camera along its view.
    const vec3d eye = flight.camera.position, forward = flight.camera.forward;
    const vec3d pivot = eye + forward * (flight.scene.camera.currentHeight / -forward.y);
    const float reach = std::hypot(flight.scene.camera.position.x - pivot.x, flight.scene.camera.position.z - pivot.z);
    FreeCamera::Input turning;
    turning.turn = 1.0f;
    turning.inside = true;
    flight.steps(1, turning);
    EXPECT_NEAR(flight.scene.camera.pivot.x, pivot.x, 1e-3f);
    EXPECT_NEAR(flight.scene.camera.pivot.z, pivot.z, 1e-3f);
    EXPECT_NEAR(std::hypot(flight.scene.camera.position.x - pivot.x, flight.scene.camera.position.z - pivot.z), reach,
                1e-3f);
    // The pitch follows the height: 75 + ... is replaced by the height's own angle.
    EXPECT_NEAR(flight.scene.camera.pitch, 45.0f * 0.40483f + 26.0f * (1.0f - 0.40483f), 0.01f);

    // With the cursor elsewhere the keys and the wheel do nothing.
    const float turn = flight.scene.camera.turn;
    FreeCamera::Input outside = fast;
    outside.inside = false;
    outside.rise = 1.0f;
    const float height = flight.scene.camera.targetHeight;
    flight.steps(5, outside);
    EXPECT_EQ(flight.scene.camera.turn, turn);
    EXPECT_EQ(flight.scene.camera.targetHeight, height);
    // A frame factor of 0 (a paused scene) stands still.
    const vec3d before = flight.camera.position;
    const vec3d angles = flight.camera.angles;
    fast.rise = 1.0f;
    flight.steps(5, fast, 0.0f);
    EXPECT_EQ(flight.camera.position, before);
    EXPECT_EQ(flight.camera.angles, angles);
    EXPECT_EQ(flight.scene.camera.turn, turn);
    EXPECT_EQ(flight.scene.camera.targetHeight, height);
}

TEST(FreeCamera, KeepsAHundredUnitsInsideTheTerrain)
{
    Flight flight;
    const float edge = flight.terrain->box.maximum.z;
    flight.scene.camera.position = {0.0f, 0.0f, edge - 120.0f};
    FreeCamera::Input ahead;
    ahead.forward = 1.0f;
    ahead.inside = true;
    for (int i = 0; i < 40; ++i) {
        flight.steps(1, ahead);
        EXPECT_LE(flight.camera.position.z, edge - 100.0f + 1e-3f);
    }
    // Beyond the edge there is no ground: the record stays where it was.
    flight.scene.camera.position = {0.0f, 0.0f, edge - 1.0f};
    flight.steps(1, ahead);
    EXPECT_EQ(flight.scene.camera.position, vec3d(0.0f, 0.0f, edge - 1.0f));
}

}
