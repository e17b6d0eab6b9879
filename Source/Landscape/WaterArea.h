#pragma once

#include "Landscape/WaterPhysics.h"
#include "Landscape/WaterRender.h"

#include "Render/BufferPool.h"
#include "TextureRecord.h"

#include "Core/BoundingBox.h"
#include "Core/Color.h"
#include "Core/DynArray.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cstdint>

class FileInterface;
class Terrain;

// One body of water of the level (Water::Area): a horizontal surface at a
// fixed level whose shape is an outline in the x/z plane, triangulated by an
// index list, with a box, a colour, an alpha texture ("AlphaTex") that makes
// shallow water clear, a reflection and optionally waves.
//
// The water layer owns the areas and moves them between its dormant and
// live lists by the answers of update (dormant areas) and render (live
// ones). A live area keeps its reflection target and alpha texture; it draws
// a flat surface, or the wave grid while the camera is within its wave
// range. Main thread.
class WaterArea
{
public:
    using Physics = WaterPhysics;
    using Reflection = WaterReflection;

    // Answers of update and render.
    static constexpr int32_t becameLive = 8;
    static constexpr int32_t wentDormant = 9;
    static constexpr int32_t unchanged = 10;

    struct SurfaceVertex
    {
        vec3d position;
        float u, v;
    };
    static_assert(sizeof(SurfaceVertex) == 20);
    static constexpr DWORD surfaceFormat = D3DFVF_XYZ | D3DFVF_TEX1;

    // The depth gain of a record that carries none.
    static constexpr float defaultDepthGain = 64.0f;

    explicit WaterArea(Terrain* ground);
    ~WaterArea();
    WaterArea(const WaterArea&) = delete;
    WaterArea& operator=(const WaterArea&) = delete;

    // Reads an area record; false when the data ended inside it or a count
    // claimed more than the data holds (what was read stays). Afterwards the
    // macro size default; the water builds the alpha texture once it takes
    // the area. fieldsRead (when given) is false for a record that ended
    // before any field: no area at all. A count that asks for more than a
    // level's water may take on its own (Water::maxBytes, maxTriangles) ends
    // the record there and sets pastBound.
    bool read(FileInterface& stream, bool* fieldsRead = nullptr);
    void write(FileInterface& stream);
    // A record whose box, level or gains are not finite numbers is dropped.
    bool usable() const;

    // Dormant: becameLive once the camera is within range (the reflection
    // target and alpha texture are made), else unchanged.
    int32_t update();
    // Live: wentDormant once the camera is out of range (the render data
    // released), else draws the reflection and the surface when in view.
    int32_t render(D3D::Device::SwapChain& chain);

    // 1 when p lies in the water (at or below the level, within the box, in
    // a triangle of the outline), with level - p.y in depth when asked.
    int32_t isPointInWater(const vec3d& p, float* depth = nullptr) const;
    // Drops the alpha texture and the clip polygon; 1 when the area was
    // built, else 0.
    int32_t releaseRenderData();
    // "AlphaTex": one texel per 2 world units over the box, alpha from the
    // depth of the ground under the level (none for an area under 2 units).
    void buildAlphaTexture();
    // The alpha texture's size (0 by 0 for none), with or without a device.
    void alphaTextureSize(uint32_t& width, uint32_t& height) const;
    // The bytes the area takes: its alpha texture, its wave grid (when its
    // settings let the waves run), its outline (with the flat surface's
    // vertices), its triangle list and its patch records with the macros
    // they may build.
    uint64_t cost() const;

    // Squared horizontal distance from the camera to the box (0 over it) and
    // the range beyond which the area sleeps: (1.1 R)^2 for view range R.
    float cameraDistanceSq() const;
    static float rangeLimit(float viewRange);

    Terrain* terrain = nullptr;
    String name;
    float spareHead[2] = {};
    BoundingBox box{{}, 1.0f, 1.0f, {}, {}};
    Reflection reflection{this};
    Color colour{128, 128, 128, 128};
    float macroSize = 0.0f;
    float level = 0.0f;
    float depthGain = defaultDepthGain;
    float reflectionRange = 3600.0f;
    float reflectionGain = 1020.0f;
    float spare = 0.0f;
    Physics physics{this};
    TextureRef alphaTexture;
    uint32_t built = 0;
    uint32_t physicsBuilt = 0;
    uint32_t saveFlag = 1;
    bool pastBound = false;
    // Where the area stood in the water file it came from; areas made
    // otherwise follow the file's.
    uint32_t fileOrder = UINT32_MAX;
    DynArray<vec2d> outline{64};
    int32_t outlineCount = 0;
    DynArray<uint16_t> triangles{64};
    int32_t indexCount = 0;
    BufferRange* surfaceVertices = nullptr;
    BufferRange* surfaceIndices = nullptr;

    // The flat surface's ranges in the water's shared pools: taken (the old
    // ones given back first) and filled from the outline, or given back.
    bool buildSurface();
    void freeSurface();

private:
    void drawSurface(uint32_t& primitiveCount);
};
