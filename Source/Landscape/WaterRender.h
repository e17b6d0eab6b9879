#pragma once

#include "Render/D3DDevice.h"

#include "Core/Matrix.h"
#include "Core/Polygon.h"
#include "Core/Vector.h"

#include <cstdint>

class RenderTexture;
class WaterArea;

// The textures water is drawn with: the sky mirrored in the horizontal plane
// (once per frame into a shared 512 x 512 target, with a 64 x 64 target for
// the sun), each near area's reflection of the mirrored scene, and the
// matrix that projects both onto the surface from the camera's view.

namespace WaterTextures {
// The reflection texture matrix: projection x (0.5, -0.5 scale, 0.5 offset),
// which maps camera-space positions to their place on the screen (0 to 1).
// Water::computeReflectionTextureMatrix fills it from the current camera.
extern matrix3d reflectionMatrix;
void computeReflectionMatrix(const matrix3d& projection);
// The reflection in the horizontal plane y = level.
matrix3d mirror(float level);
}

// The sky mask (Water::SkyMask). Its sky target is also the reflection of
// every area beyond its reflection range and the size of the areas' own
// targets; without it no area reflects. Main thread.
struct WaterSkyMask
{
    // Finds or makes the two shared targets (keys 26 and 27); a target that
    // cannot be made stays null.
    void acquireTargets();
    // Forgets the targets (the shared list owns them).
    void forgetTargets();
    // The mirrored sky into the sky target and the sun's halo (none) into
    // the sun target.
    void render(D3D::Device::SwapChain& chain);

    RenderTexture* skyTarget = nullptr;
    RenderTexture* sunTarget = nullptr;
    matrix3d mirror = WaterTextures::mirror(0.0f);
    matrix3d skyWorld = matrix3d::identity();
};

// A D3D clip plane: points with normal . p + distance >= 0 are kept.
struct WaterPlane
{
    vec3d normal{0.0f, 1.0f, 0.0f};
    float distance = 0.0f;
};

// An area's reflection (Water::Area::Reflection): its own target, which of
// the two targets the surface shows, the planes and the mirror of the water
// level, and the outline's convex hull at the level, which narrows the view
// of the mirrored scene.
struct WaterReflection
{
    explicit WaterReflection(WaterArea* area) : owner(area) {}

    // Takes the area's target (the sky target's size, key 25, with depth),
    // sets the planes and the mirror from the level and builds the clip
    // polygon. Nothing without a sky target.
    void createTarget(const WaterSkyMask& mask);
    // The reflection for the camera at squared distance d2: the sky beyond
    // the reflection range, else the mirrored scene faded into the sky as
    // the distance grows.
    void render(float d2, D3D::Device::SwapChain& chain, const WaterSkyMask& mask);
    // The mirrored scene into the target in force.
    void renderScene(D3D::Device::SwapChain& chain);

    WaterArea* owner = nullptr;
    RenderTexture* target = nullptr;
    RenderTexture* inUse = nullptr;
    WaterPlane waterPlane;
    WaterPlane terrainPlane;
    matrix3d matrix = matrix3d::identity();
    polygon3d clipPolygon;
};


// The texture stages of the water's surfaces and their undoing: the flat
// surface (reflection, alpha texture, sun) and the wave grid (reflection,
// alpha texture, vertex light, sun), both over the render states the area's
// draw sets.
namespace WaterStages {
void setFlat(WaterArea& area);
void resetFlat();
void setWaves(WaterArea& area);
void resetWaves();
// The wave grid's reflection lookup: a camera-space position through the
// inverse view, the area's mirror and the view again, to the screen.
matrix3d waveTransform(const matrix3d& view, const matrix3d& mirror);
}
