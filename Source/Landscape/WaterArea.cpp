// A water area's life near the camera, its flat surface and the point test.
#include "Landscape/WaterArea.h"

#include "Landscape/Terrain.h"
#include "Landscape/Water.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/RenderTexture.h"
#include "Render/TextureDevice.h"

#include "Core/ConvexVolume.h"
#include "Core/CrashTrace.h"

#include <cmath>

WaterArea::WaterArea(Terrain* ground) : terrain(ground) {}

WaterArea::~WaterArea()
{
    physics.release();
    freeSurface();
    releaseRenderData();
}

float WaterArea::cameraDistanceSq() const { return box.distanceSqToCameraXZ(); }

float WaterArea::rangeLimit(float viewRange)
{
    const float r = viewRange * 0.1f + viewRange;
    return r * r;
}

int32_t WaterArea::update()
{
    if (!gCamera || !(cameraDistanceSq() < rangeLimit(gCamera->range)) || built)
        return unchanged;
    reflection.createTarget(gWater.skyMask);
    buildAlphaTexture();
    built = 1;
    return becameLive;
}

int32_t WaterArea::render(D3D::Device::SwapChain& chain)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!gCamera)
        return unchanged;
    const float d2 = cameraDistanceSq();
    if (d2 > rangeLimit(gCamera->range))
        return releaseRenderData() ? wentDormant : unchanged;
    if (!d || gCamera->frustum.classifyBox(box) == ConvexVolume::outside)
        return unchanged;
    reflection.render(d2, chain, gWater.skyMask);

    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_LIGHTING, FALSE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF5A5A5A);
    uint32_t& primitives = gDirectGraphics.record.primitiveCount;
    if (physics.waveRange > d2 && (physicsBuilt || (physicsBuilt = physics.build()))) {
        freeSurface();
        WaterStages::setWaves(*this);
        physics.render();
        WaterStages::resetWaves();
    } else {
        if (physicsBuilt) {
            physics.release();
            physicsBuilt = 0;
        }
        if (surfaceVertices || buildSurface()) {
            WaterStages::setFlat(*this);
            drawSurface(primitives);
            WaterStages::resetFlat();
        }
    }
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    return unchanged;
}

int32_t WaterArea::isPointInWater(const vec3d& p, float* depth) const
{
    if (level < p.y || box.minimum.x > p.x || box.maximum.x < p.x || box.minimum.z > p.z || box.maximum.z < p.z)
        return 0;
    const vec2d* points = const_cast<DynArray<vec2d>&>(outline).data();
    const uint16_t* index = const_cast<DynArray<uint16_t>&>(triangles).data();
    const int32_t count = indexCount / 3;
    for (int32_t t = 0; t < count; ++t, index += 3) {
        const vec2d corners[3] = {points[index[0]], points[index[1]], points[index[2]]};
        bool inside = true;
        for (int e = 0; e < 3 && inside; ++e) {
            const vec2d& a = corners[e];
            const vec2d& b = corners[(e + 1) % 3];
            inside = (b.y - a.y) * (p.x - a.x) - (b.x - a.x) * (p.z - a.y) <= 0.0f;
        }
        if (inside) {
            if (depth)
                *depth = level - p.y;
            return 1;
        }
    }
    return 0;
}

int32_t WaterArea::releaseRenderData()
{
    if (!built)
        return 0;
    alphaTexture.release();
    reflection.clipPolygon.points.setBlocks(0);
    reflection.clipPolygon.count = 0;
    built = 0;
    return 1;
}

void WaterArea::alphaTextureSize(uint32_t& w, uint32_t& h) const
{
    const float width = (box.maximum.x - box.minimum.x) * 0.5f;
    const float height = (box.maximum.z - box.minimum.z) * 0.5f;
    // Under 2 units there is not one texel; a huge box gets the largest side.
    const float limit = float(gDirectGraphics.record.maxTextureSize ? gDirectGraphics.record.maxTextureSize : 2048);
    const bool some = width >= 1.0f && height >= 1.0f;
    w = some ? uint32_t(std::fmin(width, limit)) : 0;
    h = some ? uint32_t(std::fmin(height, limit)) : 0;
}

uint64_t WaterArea::cost() const
{
    uint32_t w = 0, h = 0;
    alphaTextureSize(w, h);
    return uint64_t(w) * h * sizeof(Color) + physics.gridCells() * sizeof(WaterPhysics::Cell) +
           uint64_t(outlineCount) * (sizeof(vec2d) + sizeof(SurfaceVertex)) +
           uint64_t(indexCount) * sizeof(uint16_t) + physics.patchBytes();
}

void WaterArea::buildAlphaTexture()
{
    CRASH_TRACE();
    alphaTexture.release();
    uint32_t w = 0, h = 0;
    alphaTextureSize(w, h);
    if (w == 0 || !gDevice)
        return;
    if (!Texture::create(alphaTexture, String(L"AlphaTex"), w, h, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED))
        return;
    D3DSURFACE_DESC desc{};
    IDirect3DTexture9* texture = alphaTexture.texture()->texture;
    if (!texture || FAILED(texture->GetLevelDesc(0, &desc)) || desc.Width == 0 || desc.Height == 0)
        return;
    TextureDevice::LevelLock lock(texture, 0);
    if (!lock.ok())
        return;
    const float stepX = (box.maximum.x - box.minimum.x) / float(desc.Width);
    const float stepZ = (box.maximum.z - box.minimum.z) / float(desc.Height);
    const float cap = float(colour.a);
    for (uint32_t r = 0; r < desc.Height; ++r) {
        Color* texel = reinterpret_cast<Color*>(lock.row(r));
        // The ground is sampled a macro size further down in z.
        const float z = box.minimum.z + float(r) * stepZ - macroSize;
        for (uint32_t c = 0; c < desc.Width; ++c) {
            const float x = box.minimum.x + float(c) * stepX;
            const float ground = terrain ? terrain->getHeight(x, z, 3) : Terrain::missing;
            const float depth = level - ground + 1.0f;
            float alpha = depth < 0.0f ? 0.0f : std::sqrt(depth) * depthGain;
            alpha = alpha > cap ? cap : alpha >= 0.0f ? alpha : 0.0f;
            texel[c] = Color(colour.r, colour.g, colour.b, uint8_t(alpha));
        }
    }
}

bool WaterArea::buildSurface()
{
    CRASH_TRACE();
    const uint32_t n = uint32_t(outlineCount);
    const uint32_t m = uint32_t(indexCount - indexCount % 3);
    if (n == 0 || m == 0)
        return false;
    freeSurface();
    surfaceVertices = BufferPool::allocRange(gWater.surfacePools, n);
    surfaceIndices = BufferPool::allocRange(gWater.indexPools, m);
    if (!surfaceVertices || !surfaceIndices) {
        freeSurface();
        return false;
    }
    void* bits = nullptr;
    IDirect3DVertexBuffer9* vertices = surfaceVertices->pool->vertexBuffer;
    if (FAILED(vertices->Lock(surfaceVertices->start * sizeof(SurfaceVertex), n * sizeof(SurfaceVertex), &bits, 0))) {
        freeSurface();
        return false;
    }
    const float width = box.maximum.x - box.minimum.x;
    const float depth = box.maximum.z - box.minimum.z;
    SurfaceVertex* out = static_cast<SurfaceVertex*>(bits);
    for (uint32_t i = 0; i < n; ++i) {
        const vec2d& p = *outline.at(int32_t(i));
        out[i] = {{p.x, level, p.y}, width > 0.0f ? (p.x - box.minimum.x) / width : 0.0f,
                  depth > 0.0f ? (p.y - box.minimum.z) / depth : 0.0f};
    }
    vertices->Unlock();
    IDirect3DIndexBuffer9* indices = surfaceIndices->pool->indexBuffer;
    if (FAILED(indices->Lock(surfaceIndices->start * 2, m * 2, &bits, 0))) {
        freeSurface();
        return false;
    }
    std::memcpy(bits, triangles.data(), m * 2);
    indices->Unlock();
    return true;
}

void WaterArea::freeSurface()
{
    freeWaterRange(surfaceVertices);
    freeWaterRange(surfaceIndices);
}

void WaterArea::drawSurface(uint32_t& primitiveCount)
{
    IDirect3DDevice9* d = gDevice;
    const uint32_t triangleCount = uint32_t(indexCount / 3);
    // The outline's triangles run counter-clockwise seen from above (the
    // point test relies on it), the other way round from the wave grid.
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.backCull);
    d->SetFVF(surfaceFormat);
    d->SetIndices(surfaceIndices->pool->indexBuffer);
    d->SetStreamSource(0, surfaceVertices->pool->vertexBuffer, 0, sizeof(SurfaceVertex));
    d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, INT(surfaceVertices->start), 0, uint32_t(outlineCount),
                            surfaceIndices->start, triangleCount);
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    primitiveCount += triangleCount;
}
