#pragma once
// The horizontal slider of one colour channel of the player's quad: a
// generated gradient from black to the channel's full colour stretched over
// 300 x 30 pixels, with a 4-pixel marker at the value that glows along the
// highlight ramp while the slider is selected.

#include "Menu/GameMenu.h"
#include "Menu/Panel.h"

class GameMenu::ColorSlider : public UserInterface::Panel
{
public:
    // Channels 1 red, 2 green, 3 blue, 4 white, 5 yellow; another channel
    // gives a black gradient.
    static constexpr int32_t gradientSize = 32;
    static constexpr float width = 300.0f;
    static constexpr float height = 30.0f;

    // Enabled at (100, 0), layer 0, half opacity with the menu's fade; the
    // "Gradient" texture made and filled.
    ColorSlider(GameMenu& menu, int32_t channel, int32_t id);

    // The gradient's end colour of a channel.
    static Color endColour(int32_t channel);

    void animateMarker() { GameMenu::highlightStep(phase, markerColour); }
    void draw() override;

    GameMenu* menu = nullptr;
    int32_t id = 0;
    float phase = 0.0f;
    // 0 at the left edge, 1 at the right; set by the owning screen.
    float value = 0.0f;
    Color markerColour;
};
