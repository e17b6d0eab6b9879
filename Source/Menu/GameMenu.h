#pragma once
// The game menu. For now it holds what the menu controls take from it: the
// scene, through which it reaches the swap chain its widgets belong to, and
// the five menu faces (0 and 1 the buttons' faces, 2 the arrows'); the
// screens, the menu file and the state machine join it later. The colour
// ramp along which a selected control pulses lives here too. Main thread
// only.

#include "Menu/UIFont.h"
#include "Render/D3DDevice.h"

#include "Core/Color.h"

#include <d3d9.h>

#include <cstdint>

class Scene;

class GameMenu
{
public:
    class Button;
    class ButtonPrevNext;
    class ColorSlider;
    class EditField;
    class Text;

    static constexpr int fontCount = 5;
    // The faces the controls use.
    static constexpr int buttonFont = 0;
    static constexpr int secondButtonFont = 1;
    static constexpr int arrowFont = 2;

    // Menu widgets start at half opacity and fade by a tenth per frame.
    static constexpr float controlOpacity = 0.5f;
    static constexpr float controlFadeSpeed = 0.1f;

    explicit GameMenu(Scene* menuScene) : scene(menuScene) {}
    GameMenu(const GameMenu&) = delete;
    GameMenu& operator=(const GameMenu&) = delete;

    // The swap chain the menu's widgets belong to; null without a scene or
    // before the device exists.
    D3D::Device::SwapChain* swapChain() const;

    // The ramp of the highlighted control: green, yellow, dark grey and
    // back to green.
    static const D3DCOLORVALUE highlightRamp[4];
    // One step of a highlighted control: colour from the ramp at phase,
    // then phase moves on by 0.08 of the saved frame factor, wrapping
    // past 1.
    static void highlightStep(float& phase, Color& colour);

    Scene* scene = nullptr;
    UserInterface::UIFont::Face* fonts[fontCount] = {};
};

// The colour at t (clamped to 0..1) along four stops a third apart.
D3DCOLORVALUE colorRamp4(const D3DCOLORVALUE stops[4], float t);
