#include "Landscape/FreeCamera.h"

#include "Landscape/Scene.h"
#include "Landscape/SceneCamera.h"
#include "Landscape/Terrain.h"

#include "Render/SwapChain.h"

#include "Core/Math.h"
#include "Core/Timer.h"

#include <windows.h>
#include <mmsystem.h>

namespace {

bool cursorOver(HWND window)
{
    POINT cursor{};
    RECT frame{};
    if (!window || !GetCursorPos(&cursor) || !GetWindowRect(window, &frame))
        return false;
    return cursor.x >= frame.left && cursor.x <= frame.right && cursor.y >= frame.top && cursor.y <= frame.bottom;
}

float held(uint8_t flag) { return flag ? 1.0f : 0.0f; }

// Asking Windows where the cursor is costs a trip to the window system, far
// more than the rest of the camera. The answer is kept while the mouse stands
// still, for at most this many milliseconds (a window can move under a
// cursor that does not).
constexpr uint32_t cursorAnswerLife = 250;

bool cursorInside(SceneCamera& record, const UserInput::State& state, HWND window)
{
    const uint32_t now = timeGetTime();
    const bool moved = state.mouseDeltaX != 0.0f || state.mouseDeltaY != 0.0f;
    if (!record.cursorKnown || moved || now - record.cursorTick >= cursorAnswerLife) {
        record.cursorInside = cursorOver(window);
        record.cursorKnown = true;
        record.cursorTick = now;
    }
    return record.cursorInside;
}

}

FreeCamera::Input FreeCamera::readInput(const UserInput::State& state, bool inside)
{
    Input input;
    input.forward = held(state.keyHeld[DIK_W]) - held(state.keyHeld[DIK_S]);
    input.sideways = held(state.keyHeld[DIK_D]) - held(state.keyHeld[DIK_A]);
    input.turn = held(state.keyHeld[DIK_Q]) - held(state.keyHeld[DIK_E]);
    input.rise = held(state.mousePressed[UserInput::wheelUp]) - held(state.mousePressed[UserInput::wheelDown]);
    input.fast = state.keyHeld[DIK_LSHIFT] != 0;
    input.inside = inside;
    return input;
}

void FreeCamera::update(SceneCamera& record)
{
    Camera* camera = record.deviceCamera();
    if (!camera || !record.input)
        return;
    Input input = readInput(*record.input, false);
    // The cursor matters only to input that acts, so idle frames do without.
    if (input.forward != 0.0f || input.sideways != 0.0f || input.turn != 0.0f || input.rise != 0.0f)
        input.inside = cursorInside(record, *record.input, record.scene->swapChain->presentParameters.hDeviceWindow);
    step(record, *camera, input, gFrameFactor.load());
}

void FreeCamera::step(SceneCamera& record, Camera& camera, const Input& input, float f)
{
    const float s = f * 0.4f < 1.0f ? f * 0.4f : 1.0f;

    // The ground point in view: where the view meets the plane one current
    // height below the camera (straight below when looking level or up).
    const vec3d forward = camera.forward;
    record.pivot = camera.position;
    if (forward.y < -1.0e-4f)
        record.pivot += forward * (record.currentHeight / -forward.y);

    float u = (record.targetHeight - SceneCamera::minHeight) / (SceneCamera::maxHeight - SceneCamera::minHeight);
    u = u < 0.0f ? 0.0f : u > 1.0f ? 1.0f : u;
    const float root = floatSqrt(u);
    const float g = root > 0.2f ? root : 0.2f;
    const float pace = u * 12.0f + (1.0f - u) * 0.2f;

    if (input.inside)
        record.targetHeight += input.rise * g * 40.0f * f;
    if (record.targetHeight < SceneCamera::minHeight)
        record.targetHeight = SceneCamera::minHeight;
    if (record.targetHeight > SceneCamera::maxHeight)
        record.targetHeight = SceneCamera::maxHeight;
    record.currentHeight += (record.targetHeight - record.currentHeight) * s;

    const vec3d previous = record.position;
    if (input.inside) {
        constexpr float toRadians = 0.017453292f;
        const float a = camera.angles.x * toRadians;
        const vec3d ahead{-floatSin(a), 0.0f, floatCos(a)};
        const vec3d aside{floatCos(a), 0.0f, floatSin(a)};
        const float step = pace * (input.fast ? 2.0f : 1.0f) * f;
        record.position += (ahead * input.forward + aside * input.sideways) * step;
        record.turn -= input.turn * 6.0f * f;
    }
    record.pitch = g * 45.0f + (1.0f - g) * 26.0f;

    // The view eases towards the record's angles; the camera circles the
    // pivot by the turn it made, so the ground point stays in view.
    const float turnBefore = camera.angles.x;
    camera.angles.x += (record.turn - camera.angles.x) * s;
    camera.angles.y += (-record.pitch - camera.angles.y) * s;
    const float turned = (camera.angles.x - turnBefore) * 0.017453292f;
    const float c = floatCos(turned), sn = floatSin(turned);
    const float dx = record.position.x - record.pivot.x, dz = record.position.z - record.pivot.z;
    record.position.x = record.pivot.x + dx * c - dz * sn;
    record.position.z = record.pivot.z + dx * sn + dz * c;

    const Terrain* terrain = record.scene ? record.scene->terrainLayer.terrain : nullptr;
    const float ground = terrain ? terrain->getHeight(record.position.x, record.position.z, 3) : Terrain::missing;
    if (ground == Terrain::missing) {
        record.position = previous;
        return;
    }
    record.position.y = ground + record.currentHeight;
    camera.position = record.position;
    record.clampToTerrain(camera);
    camera.setAnglesDeg();
    camera.update();
}
