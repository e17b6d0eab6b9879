// The wave grid's geometry: building and releasing it, the rings, the frame
// of near macros, flat rectangles and the far mesh, and the impulses.
#include "Landscape/WaterPhysics.h"

#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Landscape/WaterArea.h"

#include "Render/Camera.h"
#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"
#include "Render/Light.h"

#include "Core/ArrayStack.h"
#include "Core/ConvexVolume.h"
#include "Core/CrashTrace.h"

#include <mmsystem.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

// The grid's side in cells and its whole size, far beyond any level's water.
constexpr int32_t maxGridSide = 4096;
constexpr int64_t maxGridCells = int64_t(1) << 22;

uint32_t systemClock() { return timeGetTime(); }

bool shiftInRange(int32_t shift) { return shift >= 0 && shift <= 15; }

// Grid cells over a length: int((length + S / 2) / S), or -1 for a length
// the grid cannot hold.
int32_t cellsOver(float length, float s)
{
    const float cells = (length + s * 0.5f) / s;
    return cells >= 0.0f && cells < float(maxGridSide) ? int32_t(cells) : -1;
}

// int(v) for a grid position; outOfGrid for one no grid reaches (or NaN).
constexpr int32_t outOfGrid = INT32_MIN;
int32_t truncated(float v) { return v > -float(maxGridSide) && v < float(maxGridSide) ? int32_t(v) : outOfGrid; }

float distanceSqXZ(const vec3d& a, const vec3d& b)
{
    const float dx = a.x - b.x, dz = a.z - b.z;
    return dx * dx + dz * dz;
}

}

WaterPhysics::WaterPhysics(WaterArea* area) : owner(area), random(&std::rand), clock(&systemClock) {}

WaterPhysics::~WaterPhysics()
{
    release();
    patches.deleteAll();
}

bool WaterPhysics::valid() const
{
    const float s = owner->macroSize;
    if (n < 2 || n > 16 || shifts[3] == 0 || !shiftInRange(noiseShift) || !(s > 0.0f) || !std::isfinite(s))
        return false;
    for (int k : {0, 1, 2, 4})
        if (!shiftInRange(shifts[k]))
            return false;
    const int32_t cellsX = cellsOver(gridMaximumX - gridMinimumX, s);
    const int32_t cellsZ = cellsOver(gridMaximumZ - gridMinimumZ, s);
    if (cellsX < 1 || cellsZ < 1)
        return false;
    const int64_t x = int64_t(n - 1) * cellsX + 1, z = int64_t(n - 1) * cellsZ + 1;
    return x <= maxGridSide && z <= maxGridSide && x * z <= maxGridCells;
}

void WaterPhysics::gridSize(int32_t& x, int32_t& z) const
{
    const float s = owner->macroSize;
    x = (n - 1) * cellsOver(gridMaximumX - gridMinimumX, s) + 1;
    z = (n - 1) * cellsOver(gridMaximumZ - gridMinimumZ, s) + 1;
}

uint64_t WaterPhysics::gridCells() const
{
    if (!valid())
        return 0;
    int32_t x = 0, z = 0;
    gridSize(x, z);
    return uint64_t(x + 2) * uint64_t(z + 2);
}

bool WaterPhysics::build()
{
    CRASH_TRACE();
    if (grid)
        return true;
    if (!valid())
        return false;
    gridSize(nx, nz);
    grid = new (std::nothrow) Cell[size_t(nx + 2) * size_t(nz + 2)]();
    if (!grid)
        return false;

    // The grids' indices: a macro's grid, copied for as many macros as one
    // batch can hold, rounded up (each copy steps by the largest index + 1,
    // one macro's vertices).
    const int32_t perMacro = n * n;
    ArrayHeap<uint16_t> macroGrid(6 * (n - 1) * (n - 1));
    uint16_t* index = macroGrid.data();
    for (int32_t r = 0; index && r + 1 < n; ++r)
        for (int32_t c = 0; c + 1 < n; ++c) {
            const int32_t base = n * r + c;
            for (int32_t i : {base, base + 1, base + n, base + 1, base + n + 1, base + n})
                *index++ = uint16_t(i);
        }
    rings[0].createIndices(macroGrid, (int32_t(Ring::batchVertices) + perMacro - 1) / perMacro);
    const uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
    rings[1].createIndices(quad, int(Ring::batchVertices / 4));
    createVertexBuffers();

    world = matrix3d::identity();
    world.m[0] = (gridMaximumX - gridMinimumX) / float(nx - 1);
    world.m[5] = heightScale;
    world.m[10] = (gridMaximumZ - gridMinimumZ) / float(nz - 1);
    world.m[12] = gridMinimumX;
    world.m[13] = owner->level;
    world.m[14] = gridMaximumZ;
    for (auto* node = patches.head(); node; node = node->next) {
        Patch& patch = *node->item;
        patch.box.minimum = {patch.minimum.x, owner->level - 2.0f, patch.minimum.y};
        patch.box.maximum = {patch.maximum.x, owner->level + 2.0f, patch.maximum.y};
        patch.box.center = (patch.box.minimum + patch.box.maximum) * 0.5f;
        patch.isFar = 0;
    }
    dirty = 1;
    return true;
}

void WaterPhysics::release()
{
    for (auto* node = patches.head(); node; node = node->next)
        freeMacros(*node->item);
    delete[] grid;
    grid = nullptr;
    nx = nz = 0;
    for (Ring& ring : rings)
        ring.release();
    freeFarMesh();
}

void WaterPhysics::freeFarMesh()
{
    freeWaterRange(farVertices);
    freeWaterRange(farIndices);
    farTriangles = 0;
}

void WaterPhysics::createVertexBuffers()
{
    if (grid)
        for (Ring& ring : rings)
            ring.createVertices();
}

void WaterPhysics::releaseVertexBuffers()
{
    for (Ring& ring : rings)
        ring.releaseVertices();
}

void WaterPhysics::flush(Ring& ring)
{
    if (const uint32_t triangles = ring.endBatch())
        ring.drawBatch(triangles);
    ring.beginBatch();
}

void WaterPhysics::freeMacros(Patch& patch)
{
    patch.macros.deleteArray();
    patch.macroCount = 0;
}

void WaterPhysics::buildMacros(Patch& patch)
{
    const int32_t cellCount = patch.cells.count();
    const int32_t side = gWater.defaultMacroSide > 0 ? gWater.defaultMacroSide : 16;
    const int32_t count = cellCount ? cellCount : gWater.defaultMacroCount;
    if (count <= 0 || !patch.macros.resize(count))
        return;
    patch.macroCount = count;
    const float s = owner->macroSize;
    const BoundingBox& area = owner->box;
    const float scaleX = world.m[0], scaleZ = world.m[10];
    for (int32_t i = 0; i < count; ++i) {
        const intvec2d spot = cellCount ? *patch.cells.at(i) : intvec2d{i % side, i / side};
        const float x0 = float(spot.x) * s + patch.minimum.x;
        const float z0 = float(spot.y) * s + patch.minimum.y;
        const int32_t column = truncated((x0 - area.minimum.x + s * 0.5f) / s);
        const int32_t row = truncated((area.maximum.z - z0 + s * 0.5f) / s);
        if (column == outOfGrid || row == outOfGrid)
            continue;
        const int32_t ix0 = std::max(column * (n - 1) + 1, 0);
        const int32_t iz0 = std::max(row * (n - 1) - n + 1, 0);
        Macro& macro = *patch.macros.at(i);
        if (ix0 < 0 || iz0 < 0 || ix0 + n >= nx || iz0 + n >= nz)
            continue;
        macro.ix0 = ix0;
        macro.iz0 = iz0;
        macro.box.minimum = {x0, owner->level - 2.0f, z0};
        macro.box.maximum = {x0 + s, owner->level + 2.0f, z0 + s};
        macro.box.center = (macro.box.minimum + macro.box.maximum) * 0.5f;
        for (int32_t ix = ix0; ix < ix0 + n; ++ix)
            for (int32_t iz = iz0; iz < iz0 + n; ++iz) {
                Cell& c = cell(ix, iz);
                c = Cell{};
                c.height[0] = c.height[1] = int16_t(random() & 15);
                const float x = float(ix - 1) * scaleX + gridMinimumX;
                const float z = gridMaximumZ - float(iz) * scaleZ + s;
                const float ground = owner->terrain ? owner->terrain->getHeight(x, z, 3) : -FLT_MAX;
                c.stamp = ground < owner->level ? 255 : 0;
            }
    }
}

void WaterPhysics::render()
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!grid || !d || !gCamera)
        return;
    drawCount = 0;
    const uint32_t now = clock();
    stepping = now - stepTimer > 33 ? 1 : 0;
    if (stepping)
        stepTimer = now;
    const vec3d camera = gCamera->position;
    renderRectangles(gCamera->frustum, camera);
    renderGrids();
    if (dirty) {
        rebuildFarMesh();
        dirty = 0;
    }
    drawFarMesh();
    finishFrame();
}

void WaterPhysics::finishFrame()
{
    std::swap(current, other);
    if (++frameStamp == 0)
        frameStamp = 1;
}

void WaterPhysics::renderRectangles(const ConvexVolume& volume, const vec3d& camera)
{
    IDirect3DDevice9* d = gDevice;
    Ring& ring = rings[1];
    const matrix3d identity = matrix3d::identity();
    d->SetFVF(vertexFormat);
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
    ring.beginBatch();
    const LightRecord* light = gSunLight;
    for (auto* node = patches.head(); node; node = node->next) {
        Patch& patch = *node->item;
        uint32_t isFar = 0;
        if (volume.classifyBox(patch.box) != ConvexVolume::outside) {
            const float d2 = distanceSqXZ(camera, patch.box.center);
            patch.lastDistance = d2;
            isFar = patchRange < d2 ? 1 : 0;
            if (isFar) {
                freeMacros(patch);
            } else {
                if (patch.macroCount == 0)
                    buildMacros(patch);
                for (int32_t i = 0; i < patch.macroCount; ++i) {
                    Macro& macro = *patch.macros.at(i);
                    if (!(macro.box.maximum.x > macro.box.minimum.x) ||
                        volume.classifyBox(macro.box) == ConvexVolume::outside)
                        continue;
                    macro.lod = distanceSqXZ(camera, macro.box.center) * macroFactor;
                    if (macro.lod < 1.0f) {
                        if (stepping && light)
                            macro.simulate(*this, camera, *light);
                        if (Macro** slot = drawList.at(drawCount)) {
                            *slot = &macro;
                            ++drawCount;
                        }
                    } else {
                        writeRectangle(macro.box, owner->level);
                    }
                }
            }
        }
        if (isFar != patch.isFar) {
            dirty = 1;
            patch.isFar = isFar;
        }
    }
    if (const uint32_t triangles = ring.endBatch())
        ring.drawBatch(triangles);
}

void WaterPhysics::writeRectangle(const BoundingBox& box, float level)
{
    Ring& ring = rings[1];
    Vertex* v = ring.reserve(4, 2);
    if (!v && ring.open()) {
        flush(ring);
        v = ring.reserve(4, 2);
    }
    if (!v)
        return;
    const float width = gridMaximumX - gridMinimumX, depth = gridMaximumZ - gridMinimumZ;
    const float xs[4] = {box.minimum.x, box.maximum.x, box.minimum.x, box.maximum.x};
    const float zs[4] = {box.maximum.z, box.maximum.z, box.minimum.z, box.minimum.z};
    for (int i = 0; i < 4; ++i)
        v[i] = {{xs[i], level, zs[i]}, 0, (xs[i] - gridMinimumX) / width, (zs[i] - gridMinimumZ) / depth};
}

void WaterPhysics::renderGrids()
{
    IDirect3DDevice9* d = gDevice;
    Ring& ring = rings[0];
    if (!ring.beginBatch())
        return;
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));
    Macro** list = drawList.data();
    std::sort(list, list + drawCount, [](const Macro* a, const Macro* b) { return a->lod < b->lod; });
    for (int32_t i = 0; i < drawCount; ++i)
        writeGrid(*list[i]);
    if (const uint32_t triangles = ring.endBatch())
        ring.drawBatch(triangles);
    const matrix3d identity = matrix3d::identity();
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
}

void WaterPhysics::writeGrid(const Macro& macro)
{
    Ring& ring = rings[0];
    const uint32_t count = uint32_t(n * n), triangles = uint32_t(2 * (n - 1) * (n - 1));
    Vertex* out = ring.reserve(count, triangles);
    if (!out && ring.open()) {
        flush(ring);
        out = ring.reserve(count, triangles);
    }
    if (!out)
        return;
    const float du = 1.0f / float(nx - 1), dv = 1.0f / float(nz - 1);
    for (int32_t r = 0; r < n; ++r)
        for (int32_t c = 0; c < n; ++c) {
            const Cell& source = cell(macro.ix0 + c, macro.iz0 + r);
            const float x = float(macro.ix0 - 1 + c);
            const float z = -float(macro.iz0 + r - n + 1);
            *out++ = {{x, float(source.displayed), z}, source.colour.argb(), x * du, z * dv + 1.0f};
        }
}

void WaterPhysics::rebuildFarMesh()
{
    freeFarMesh();
    uint32_t count = 0;
    for (auto* node = patches.head(); node; node = node->next)
        count += node->item->isFar;
    if (count == 0)
        return;
    farVertices = BufferPool::allocRange(gWater.wavePools, 4 * count);
    farIndices = BufferPool::allocRange(gWater.indexPools, 6 * count);
    void* vertexBits = nullptr;
    void* indexBits = nullptr;
    if (!farVertices || !farIndices ||
        FAILED(farVertices->pool->vertexBuffer->Lock(farVertices->start * sizeof(Vertex), 4 * count * sizeof(Vertex),
                                                     &vertexBits, 0)))
        return;
    if (FAILED(farIndices->pool->indexBuffer->Lock(farIndices->start * 2, 6 * count * 2, &indexBits, 0))) {
        farVertices->pool->vertexBuffer->Unlock();
        return;
    }
    Vertex* v = static_cast<Vertex*>(vertexBits);
    uint16_t* index = static_cast<uint16_t*>(indexBits);
    const float width = gridMaximumX - gridMinimumX, depth = gridMaximumZ - gridMinimumZ;
    const float level = owner->level;
    uint32_t k = 0;
    for (auto* node = patches.head(); node; node = node->next) {
        const Patch& patch = *node->item;
        if (!patch.isFar)
            continue;
        const float xs[4] = {patch.minimum.x, patch.maximum.x, patch.minimum.x, patch.maximum.x};
        const float zs[4] = {patch.maximum.y, patch.maximum.y, patch.minimum.y, patch.minimum.y};
        for (int i = 0; i < 4; ++i)
            v[4 * k + i] = {{xs[i], level, zs[i]}, 0, (xs[i] - gridMinimumX) / width, (zs[i] - gridMinimumZ) / depth};
        const uint16_t quad[6] = {0, 1, 2, 2, 1, 3};
        for (int i = 0; i < 6; ++i)
            index[6 * k + i] = uint16_t(quad[i] + 4 * k);
        ++k;
    }
    farIndices->pool->indexBuffer->Unlock();
    farVertices->pool->vertexBuffer->Unlock();
    farTriangles = 2 * count;
}

void WaterPhysics::drawFarMesh()
{
    if (!farTriangles || !farVertices || !farIndices)
        return;
    IDirect3DDevice9* d = gDevice;
    d->SetFVF(vertexFormat);
    d->SetIndices(farIndices->pool->indexBuffer);
    d->SetStreamSource(0, farVertices->pool->vertexBuffer, 0, sizeof(Vertex));
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, INT(farVertices->start), 0, farTriangles * 2, farIndices->start,
                            farTriangles);
    gDirectGraphics.record.primitiveCount += farTriangles;
}

void WaterPhysics::addRipple(const vec2d& position, float strength)
{
    if (!grid)
        return;
    // Above 1 the velocity would wrap round to a pull.
    strength = strength > 1.0f ? 1.0f : strength >= 0.0f ? strength : 0.0f;
    const float x = position.x, z = position.y;
    for (auto* node = patches.head(); node; node = node->next) {
        Patch& patch = *node->item;
        if (!(patch.minimum.x <= x && x <= patch.maximum.x && patch.minimum.y <= z && z <= patch.maximum.y))
            continue;
        for (int32_t i = 0; i < patch.macroCount; ++i) {
            const Macro& macro = *patch.macros.at(i);
            const BoundingBox& b = macro.box;
            if (!(b.maximum.x > b.minimum.x) || !(b.minimum.x <= x && x <= b.maximum.x && b.minimum.z <= z &&
                                                  z <= b.maximum.z))
                continue;
            const int32_t ix = int32_t((x - b.minimum.x) / (b.maximum.x - b.minimum.x) * float(n)) + macro.ix0;
            const int32_t iz = macro.iz0 - int32_t((z - b.minimum.z) / (b.maximum.z - b.minimum.z) * float(n)) + n - 1;
            if (ix >= 0 && ix < nx && iz >= 0 && iz < nz && cell(ix, iz).stamp != 0)
                cell(ix, iz).velocity = int16_t(int32_t(strength * 32768.0f - 1.0f));
            return;
        }
        return;
    }
}
