#pragma once

#include "Application/UserInput.h"

#include "Core/Color.h"
#include "Core/Vector.h"

#include <cstdint>

class Camera;
class CameraPath;
class FileInterface;
class Scene;

// How the scene drives the device camera outside the race's own vehicle
// camera, and the level's fog: the camera block of the level file. Mode 0 is
// the free camera (FreeCamera), mode 4 the scene's camera path, mode 3 leaves
// the device camera to the race. Main thread only.
class SceneCamera
{
public:
    enum Mode : uint32_t { freeMode = 0, vehicleMode = 3, pathMode = 4 };

    static constexpr float minHeight = 2.0f;
    static constexpr float maxHeight = 600.0f;

    explicit SceneCamera(Scene* owner);

    // The values of a new scene (fields of the camera block only).
    void setDefaults();
    // The camera block, up to its tag 0. A value out of range keeps the
    // field's current value. False when the data ends inside the block.
    bool read(FileInterface& stream);
    void write(FileInterface& stream) const;

    // Position, angles and fog into the device camera, the fog render states
    // into the device, then the mode's first update. Nothing without a swap
    // chain.
    void apply();
    // Keeps the camera's x and z at least 100 inside the terrain's box (its
    // centre on an axis narrower than that); nothing without terrain.
    void clampToTerrain(Camera& camera) const;

    // The camera of the scene's swap chain, or null.
    Camera* deviceCamera() const;

    Color fogColour;
    float fogAmount = 0.3f; // 0 clear to 1 thick
    Scene* scene = nullptr;
    const UserInput::State* input = nullptr;
    vec3d pivot;            // the point in view that the free camera turns about (x and z)
    uint32_t mode = freeMode;
    float targetHeight = 100.0f;
    float currentHeight = 100.0f;
    CameraPath* path = nullptr;
    vec3d position;
    float turn = 0.0f;  // degrees
    float pitch = 75.0f; // degrees below the horizon

    // The free camera's last answer to whether the cursor is over the device
    // window, and the tick (timeGetTime) it was asked at.
    bool cursorInside = false;
    bool cursorKnown = false;
    uint32_t cursorTick = 0;
};
