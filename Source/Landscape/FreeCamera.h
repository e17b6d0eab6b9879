#pragma once

#include "Application/UserInput.h"

class Camera;
class SceneCamera;

// The free camera of the scene (mode 0): W, A, S and D move it over the
// ground, left shift doubles the pace, Q and E turn it, the mouse wheel raises
// and lowers it between 2 and 600 units above the ground. Keys and wheel act
// only while the cursor is over the device window. Over a point without
// terrain the camera stays where it was. Main thread only.
class FreeCamera
{
public:
    // One frame with the global input, frame factor and cursor.
    static void update(SceneCamera& record);

    struct Input
    {
        float forward = 0.0f;  // W - S
        float sideways = 0.0f; // D - A
        float turn = 0.0f;     // Q - E
        float rise = 0.0f;     // wheel up - wheel down
        bool fast = false;     // left shift
        bool inside = false;   // the cursor is over the device window
    };
    // The keys of the input state; inside as given.
    static Input readInput(const UserInput::State& state, bool inside);
    // One frame of frame factor f on camera.
    static void step(SceneCamera& record, Camera& camera, const Input& input, float f);
};
