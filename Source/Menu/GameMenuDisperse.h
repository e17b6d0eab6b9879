#pragma once
// The menu's screen transition: a picture that covers the screen (the last
// loading frame, or plain black) cut into 24 x 16 tiles that lie in the
// scene exactly where the picture is seen, two units before the camera.
// The tiles turn about their own centres one after another, starting at
// the top right corner: direction 0 turns them away from the picture and
// uncovers the scene, direction 1 turns them in to build the picture up.
// The menu deletes the transition once it reports itself finished.

#include "Menu/GameMenuScreen.h"

#include "Render/Camera.h"

#include "Core/ArrayHeap.h"
#include "Core/Vector.h"

#include <TextureRecord.h>

#include <windows.h>

#include <cstdint>

class GameMenu::DisperseScreen : public GameMenu::Overlay
{
public:
    static constexpr int32_t columns = 24;
    static constexpr int32_t rows = 16;
    static constexpr int32_t tileCount = columns * rows;
    // The plane's distance before the camera, in world units.
    static constexpr float planeDistance = 2.0f;
    // A tile starts this many seconds later per world unit from the corner.
    static constexpr float delayPerUnit = 0.3f;

    // Position, normal, one texture coordinate pair.
    struct Vertex
    {
        float x, y, z;
        float nx, ny, nz;
        float u, v;
        static constexpr DWORD format = 0x112;
    };
    // A tile's turn: delay (seconds, 0 or less), progress (0 to 1), the
    // start and end angles about x, y and z in degrees.
    struct ElemState
    {
        float delay;
        float progress;
        float start[3];
        float end[3];
    };

    // Tiles laid out from the current camera; picture is taken over.
    DisperseScreen(GameMenu& owner, int32_t direction, const TextureRef& picture);
    ~DisperseScreen() override;
    // The loaders' transition: away from the captured loading frame.
    static Overlay* make(GameMenu& menu, const TextureRef& picture) { return new DisperseScreen(menu, 0, picture); }

    void update() override {}
    // advance at the race clock and the frame factor, then the tiles drawn.
    void draw() override;
    bool finished(uint32_t now) override { return (void)now, finishedFlag != 0; }

    // The world point seen at screen point (u, v) (0 to 1, top left
    // (0, 0)) on the plane two units before camera.
    static vec3d screenToPlane(const Camera& camera, float u, float v);
    // One frame of the turn at now (milliseconds) by frameFactor: finished
    // as the tiles stood before, then each tile's progress, angles and
    // corners.
    void advance(uint32_t now, float frameFactor);
    // A tile's angles (x, y, z) at its progress.
    void anglesOf(const ElemState& tile, float out[3]) const;

    int32_t direction;
    float halfWidth = 0.0f;
    float halfHeight = 0.0f;
    TextureRef picture;
    ArrayHeap<uint16_t> indices{6 * tileCount};
    ArrayHeap<Vertex> vertices{4 * tileCount};
    ArrayHeap<ElemState> tiles{tileCount};
    uint32_t startTime = 0;
    uint32_t finishedFlag = 0;

private:
    const Camera* camera() const;
    vec3d tileCentre(const Camera& camera, int32_t column, int32_t row) const;
    float screenWidth() const;
    float screenHeight() const;
};
static_assert(sizeof(GameMenu::DisperseScreen::Vertex) == 32, "the tile vertex is 32 bytes");
static_assert(sizeof(GameMenu::DisperseScreen::ElemState) == 8 * sizeof(float), "a tile's state is 8 floats");
