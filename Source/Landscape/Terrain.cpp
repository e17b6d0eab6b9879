#include "Landscape/Terrain.h"

#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"

#include <windows.h>

#include <cmath>
#include <cstdlib>

Terrain gTerrain;

Terrain::Terrain()
{
    weight = 1.0f;
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.3f, 0.3f, 0.3f, 1.0f};
}

Terrain::~Terrain()
{
    clear();
    projections.clear(false);
    for (CellCacheEntry* entry : cache)
        delete entry;
}

void Terrain::clear()
{
    CRASH_TRACE();
    if (!loaded.exchange(false, std::memory_order_seq_cst))
        return;
    // Queries of other threads that began before the flag fell still read
    // the ground; the collision cache is theirs until they have left.
    while (remoteQueries.load(std::memory_order_seq_cst) > 0)
        Sleep(0);
    freeGround();
}

void Terrain::freeGround()
{
    for (CellCacheEntry* entry : cache)
        delete entry;
    cache.clear();
    cacheStamp = 0;

    for (Patch& patch : patches)
        deleteDetail(patch);
    freeRestedRanges(true);
    detailed.clear();
    waiting.clear();
    sunDirection = {};
    for (float& c : sunColours)
        c = 0.0f;
    freeTree(root);
    root = Quadtree{};
    projections.clear(false);
    tiles.clear();
    tilesPerSide = 0;
    releaseDeviceBuffers();
    for (TextureRef& overlay : overlays)
        overlay.release();
    heights.clear();
    heights.shrink_to_fit();
    heightsGeneration.fetch_add(1, std::memory_order_relaxed);
    for (IndexSet& set : indexSets) {
        D3D::releaseInterface(set.buffer);
        set = IndexSet{};
    }
    patches.clear();
    patchRanges.clear();
    patches.shrink_to_fit();
    vertexPools.clear();
    layers.clear();
    for (LayerBlend& entry : blend)
        entry = LayerBlend{};
    size = fineCells = patchesPerSide = patchCount = 0;
    box = BoundingBox{};
    lastLodCamera = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    boundTile = nullptr;
}

void Terrain::freeTree(Quadtree& node)
{
    for (Quadtree*& child : node.children) {
        if (!child)
            continue;
        freeTree(*child);
        delete child;
        child = nullptr;
    }
    if (node.tile)
        releaseTileTextures(*node.tile);
    node.tile = nullptr;
    node.items.clear();
}

void Terrain::PatchLight::init(float factor)
{
    *this = PatchLight{};
    const float r1 = float(rand()), r2 = float(rand()), r3 = float(rand()), r4 = float(rand());
    directionThreshold = (r1 + r2 + r3) * 5.0e-11f / factor;
    colourThreshold = (0.062f + 0.04f * r4 / 32767.0f) / factor;
}

bool Terrain::PatchLight::trackSunChange(const vec3d& sunDirection, const float sunDiffuse[4], const float sunAmbient[4])
{
    bool changed = false;
    if (1.0f - direction.dot(sunDirection) > directionThreshold) {
        direction = sunDirection;
        changed = true;
    }
    auto follow = [&](float* cached, const float* sun) {
        const float moved = std::fabs(cached[0] - sun[0]) + std::fabs(cached[1] - sun[1]) + std::fabs(cached[2] - sun[2]);
        if (moved > colourThreshold) {
            for (int i = 0; i < 4; ++i)
                cached[i] = sun[i];
            changed = true;
        }
    };
    follow(diffuse, sunDiffuse);
    follow(ambient, sunAmbient);
    return changed;
}
