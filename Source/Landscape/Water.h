#pragma once

#include "Landscape/WaterArea.h"
#include "Landscape/WaterRender.h"

#include "Render/BufferPool.h"
#include "Render/SwapChainInterface.h"

#include "Core/SCList.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cfloat>
#include <cstdint>

class FileInterface;

// The water of the loaded level: one global object (gWater), made before the
// program starts without touching the device. It owns every area, keeps the
// areas near the camera live (drawn, with render data) and the others
// dormant, and reads and writes the level's ".wtr" file.
//
// The scene's load calls init and then load; update and render run every
// frame while enabled (from init to clear). Its first fields are a
// load-process entry. Main thread.
class Water : public D3D::LoadProcessInterface
{
public:
    using Area = WaterArea;
    using SkyMask = WaterSkyMask;
    using AreaList = SCList<Area>;

    // The water file's tags.
    static constexpr char versionMark[4] = {'v', '1', '.', '0'};
    // What a level's water may cost. Each area builds its alpha texture, one
    // texel for two units of its box (up to the largest texture), when read
    // and again when the camera comes near, and its wave grid there; each
    // patch of the grid that comes near builds its macros (256 for a patch
    // that lists none); the grass and the wheels ask every area's triangles
    // whether a point lies in water: a record of a few bytes can ask for
    // megabytes and seconds. A file gives at most maxAreas area records
    // (those dropped as unusable too), whose alpha textures, wave grids,
    // outlines, triangle lists, patch records and the macros these may build
    // come to at most maxBytes together (WaterArea::cost), sixteen times the
    // largest water of the game's maps; whose triangles come to at most
    // maxTriangles (some seventeen times the valley's), and whose macros
    // simulate and draw at most maxMacroCells grid cells a frame (sixteen
    // times the valley's pond). The read stops at the first area past any
    // bound.
    static constexpr uint32_t maxAreas = 64;
    static constexpr uint64_t maxBytes = 8u << 20;
    static constexpr uint32_t maxTriangles = 1024;
    static constexpr uint64_t maxMacroCells = 1u << 16;

    Water();
    ~Water();
    Water(const Water&) = delete;
    Water& operator=(const Water&) = delete;

    // A new scene: the sky mask's targets, the reflection texture matrix, the
    // flags that start the scans.
    void init();
    // Reads the water file at path into dormant areas (the old dormant ones
    // go), reporting progress through the swap chain (none without). An
    // empty path or a file that does not open changes no area and reports
    // the water's share of the loading done. A damaged file keeps the areas
    // read before the damage, as does one past the bounds above. True only
    // when the read ended with the file's last byte, its end tag.
    bool load(D3D::Device::SwapChain* swapChain, const String& path);
    // The same from a memory stream of the whole file.
    bool read(D3D::Device::SwapChain* swapChain, FileInterface& stream);
    // Writes every area whose save flag is set (dormant ones first); the
    // file is replaced only once written whole.
    bool save(const String& path) const;
    void write(FileInterface& stream) const;
    // Wakes dormant areas near the camera: a sixteenth of them per update
    // once the camera moved, all of them when forced (the warm-up).
    void update(int32_t force);
    // The sky mask, then every live area; areas out of range go dormant.
    void render(D3D::Device::SwapChain& chain);
    // Frees every area and the shared pools, forgets the sky mask's targets
    // and disables the layer (scene clear, device release).
    void clear();
    // Device reset: the wave rings live in the default pool.
    void releaseAreaTextures();
    void restoreAreas();

    // The first live area whose water holds p; null when none does.
    Area* findArea(const vec3d& p, float* depth = nullptr);

    static void computeReflectionTextureMatrix();

    SkyMask skyMask;
    AreaList dormant;
    AreaList live;
    uint32_t enabled = 0;
    uint32_t fullScan = 0;
    vec3d lastCamera{-FLT_MAX, -FLT_MAX, -FLT_MAX};
    AreaList::Node* scanCursor = nullptr;
    int32_t defaultMacroSide = 16;
    int32_t defaultMacroCount = 256;

    // The shared pools of the areas' meshes: flat surfaces (20-byte
    // vertices), far wave patches (24-byte vertices) and their indices.
    BufferPool::List surfacePools{BufferPool::Layout{sizeof(WaterArea::SurfaceVertex), WaterArea::surfaceFormat,
                                                     BufferPool::verticesPerPool}};
    BufferPool::List wavePools{
        BufferPool::Layout{sizeof(WaterPhysics::Vertex), WaterPhysics::vertexFormat, BufferPool::verticesPerPool}};
    BufferPool::List indexPools{BufferPool::indices};

private:
    void deleteAreas(AreaList& list);
};

// The one water of the program.
extern Water gWater;
