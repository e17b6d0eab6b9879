#pragma once
// The overlay shown while a map loads: a black screen with a ring of 64
// segments that turn red clockwise from the top as the load progresses, and
// "Loading" under it. Drawn in the swap chain's loading frames; its last
// picture is captured for the transition into the loaded map.

#include "Menu/GameMenu.h"
#include "Menu/Panel.h"

#include "Core/ArrayHeap.h"
#include "Core/Color.h"

#include <TextureRecord.h>

#include <cstdint>

class GameMenu::LoadingScreen : public UserInterface::Panel
{
public:
    static constexpr int32_t segments = 64;

    // Pre-transformed and coloured (XYZRHW | DIFFUSE).
    struct Vertex
    {
        float x, y, z, rhw;
        Color colour;
        static constexpr DWORD format = D3DFVF_XYZRHW | D3DFVF_DIFFUSE;
    };

    // The ring's indices and the "Loading" text (not drawn by the pass);
    // hides the cursor when the application lets a race hide it.
    explicit LoadingScreen(GameMenu& owner);
    ~LoadingScreen() override;

    // Segment i is red once i / 65 <= progress, grey before.
    static Color segmentColour(int32_t segment, float progress);
    // The ring for a width x height screen at progress into vertices.
    void buildRing(int32_t width, int32_t height, float progress);
    // The ring's outer radius: width / 8 (integer division).
    static float outerRadius(int32_t width) { return float(width / 8); }
    void update() override {}
    void draw() override;
    // Draws the overlay into a new width x height texture "ScreenTex"
    // (inside a scene of its own) and binds out to it; false when the
    // target or the texture cannot be made.
    bool capture(int32_t width, int32_t height, TextureRef& out);

    GameMenu* menu;
    GameMenu::Text* text = nullptr;
    ArrayHeap<uint16_t> indices{segments * 6};
    ArrayHeap<Vertex> vertices{segments * 4};
};
static_assert(sizeof(GameMenu::LoadingScreen::Vertex) == 20);
