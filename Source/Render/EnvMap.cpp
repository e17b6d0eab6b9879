#include "Render/EnvMap.h"

#include "Render/CubeFaceViews.h"
#include "Render/DirectGraphics.h"
#include "Render/RenderHandshake.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "Core/ConvexVolume.h"
#include "Core/CrashTrace.h"

#include <mmsystem.h>

#include <cmath>

SCList<EnvMap> EnvMap::maps;

namespace {

// Both culling volumes of a camera, put back when the scope ends.
class SavedVolumes
{
public:
    explicit SavedVolumes(Camera& camera) : camera_(camera)
    {
        direction_.copyPlanes(camera.directionVolume);
        direction_.count = camera.directionVolume.count;
        frustum_.copyPlanes(camera.frustum);
        frustum_.count = camera.frustum.count;
    }
    ~SavedVolumes()
    {
        camera_.directionVolume.copyPlanes(direction_);
        camera_.directionVolume.count = direction_.count;
        camera_.frustum.copyPlanes(frustum_);
        camera_.frustum.count = frustum_.count;
    }
    SavedVolumes(const SavedVolumes&) = delete;
    SavedVolumes& operator=(const SavedVolumes&) = delete;

private:
    Camera& camera_;
    ConvexVolume direction_;
    ConvexVolume frustum_;
};

}

EnvMap::EnvMap(D3D::Device::SwapChain* owner, Interface* mapClient) : swapChain(owner), client(mapClient) {}

void EnvMap::render(EnvMap& map, const vec3d& where)
{
    CRASH_TRACE();
    Texture* record = map.cubeTexture.texture();
    D3D::Device::SwapChain* chain = map.swapChain ? map.swapChain : gDirectGraphics.record.currentSwapChain;
    if (map.state != live || map.size == 0 || !record->cubeTexture || !gDevice || !chain)
        return;
    RenderHandshake::Render busy;
    map.position = where;
    map.lastRenderTime = timeGetTime();
    record->busy = 1;

    const matrix3d& projection = CubeFaceViews::projection();
    {
        D3D::PushedTransform lens(D3DTS_PROJECTION, projection);
        if (map.sunFlag)
            updateSunSprite(map, where);
        SavedVolumes saved(*chain);
        for (int face = 0; face < CubeFaceViews::faceCount; ++face) {
            chain->directionVolume.setFromMatrix(CubeFaceViews::rotation(face) * projection);
            const matrix3d view = CubeFaceViews::view(face, where);
            D3D::PushedTransform placed(D3DTS_VIEW, view);
            chain->frustum.setFromMatrix(view * projection);
            renderFace(map, *chain, face);
        }
    }

    record->busy = 0;
    if (map.kind == autoMipmapped && record->cubeTexture)
        record->cubeTexture->GenerateMipSubLevels();
}

void EnvMap::renderFace(EnvMap& map, D3D::Device::SwapChain& chain, int face)
{
    IDirect3DCubeTexture9* cube = map.cubeTexture.texture()->cubeTexture;
    if (!map.faceTarget) {
        IDirect3DSurface9* surface = nullptr;
        if (FAILED(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &surface)) || !surface)
            return;
        chain.pushRenderTarget(surface, map.depthSurface);
        if (map.client)
            map.client->renderEnvFace();
        if (map.sunFlag)
            drawSunSprite(map);
        chain.popRenderTarget();
        surface->Release();
        return;
    }
    if (!map.faceTarget->renderSurface)
        return;
    chain.pushRenderTarget(map.faceTarget->renderSurface,
                           map.faceTarget->depthSurface ? map.faceTarget->depthSurface : map.depthSurface);
    if (map.client)
        map.client->renderEnvFace();
    if (map.sunFlag)
        drawSunSprite(map);
    chain.popRenderTarget();
    downsampleFace(map, chain, face);
}

void EnvMap::downsampleFace(EnvMap& map, D3D::Device::SwapChain& chain, int face)
{
    IDirect3DDevice9* d = gDevice;
    IDirect3DCubeTexture9* cube = map.cubeTexture.texture()->cubeTexture;
    TextureDevice::bindTexture(0, map.faceTarget->renderTexture.texture());
    const uint32_t levelCount = cube->GetLevelCount();
    for (uint32_t level = 0; level < levelCount; ++level) {
        IDirect3DSurface9* surface = nullptr;
        if (FAILED(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &surface)) || !surface)
            continue;
        chain.pushRenderTarget(surface, nullptr);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        d->SetRenderState(D3DRS_ZENABLE, FALSE);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        d->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN |
                                                      D3DCOLORWRITEENABLE_BLUE);
        // Without texel offsets each pixel of level i samples between the
        // texels it covers: the linear filter averages them.
        const int edge = int(map.size >> level);
        drawScreenRect(edge, edge, -1, -1, 0.0f);
        d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        d->SetRenderState(D3DRS_ZENABLE, TRUE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        chain.popRenderTarget();
        surface->Release();
    }
    d->SetTexture(0, nullptr);
}

void EnvMap::renderAll()
{
    for (auto* n = maps.head(); n; n = n->next)
        if (n->item && n->item->state == live)
            render(*n->item, n->item->position);
}

void EnvMap::releaseForReset()
{
    for (auto* n = maps.head(); n; n = n->next)
        if (n->item && n->item->state == live) {
            D3D::releaseInterface(n->item->cubeTexture.texture()->cubeTexture);
            D3D::releaseInterface(n->item->depthSurface);
        }
}

bool EnvMap::restore(EnvMap& map)
{
    CRASH_TRACE();
    if (map.size == 0 || !gDevice)
        return false;
    const uint32_t usage = D3DUSAGE_RENDERTARGET | (map.kind == autoMipmapped ? D3DUSAGE_AUTOGENMIPMAP : 0);
    // The record stays across resets; only its Direct3D object is made again.
    if (map.cubeTexture.isBound())
        Texture::createCubeObject(map.cubeTexture.texture(), map.size, map.levels, usage, D3DFMT_A8R8G8B8,
                                  D3DPOOL_DEFAULT);
    else
        Texture::createCube(map.cubeTexture, String::borrowed(L"EnvMap"), map.size, map.levels, usage,
                            D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT);
    D3D::releaseInterface(map.depthSurface);
    if (map.levels == 1 || map.kind != downsampled)
        if (FAILED(gDevice->CreateDepthStencilSurface(map.size, map.size, D3DFMT_D24S8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                                      &map.depthSurface, nullptr)))
            map.depthSurface = nullptr;
    return map.cubeTexture.texture()->cubeTexture != nullptr;
}

void EnvMap::restoreAll()
{
    for (auto* n = maps.head(); n; n = n->next)
        if (n->item && n->item->state == live)
            restore(*n->item);
}

void EnvMap::release(EnvMap& map)
{
    map.cubeTexture.release();
    D3D::releaseInterface(map.depthSurface);
    if (map.node) {
        maps.unlink(map.node);
        map.node = nullptr;
    }
    delete map.sunSprite;
    map.sunSprite = nullptr;
}

void EnvMap::releaseAll()
{
    maps.clearWith([](EnvMap* map) {
        map->cubeTexture.release();
        D3D::releaseInterface(map->depthSurface);
        map->faceTarget = nullptr; // the shared targets go with the device
        map->node = nullptr;
    });
}

void EnvMap::destroyAll(bool deleteMaps)
{
    maps.clearWith([deleteMaps](EnvMap* map) {
        map->node = nullptr;
        if (deleteMaps)
            delete map;
    });
}

void EnvMap::enter(EnvMap& map)
{
    if (!map.node)
        map.node = maps.append(&map);
}

void EnvMap::updateSunSprite(EnvMap& map, const vec3d& where)
{
    const D3D::Device::SwapChain* chain =
        map.swapChain ? map.swapChain : gDirectGraphics.record.currentSwapChain;
    if (!map.sunSprite || !chain)
        return;
    const LightRecord& sun = chain->sun;
    const vec3d d = sun.direction;
    // Perpendicular to the sun in its vertical plane; a vertical sun has no
    // such axis and leaves a flat sprite.
    vec3d side{-d.y * d.x, 1.0f - d.y * d.y, -d.y * d.z};
    side = side.normalised();
    const vec3d third = side.cross(d);
    constexpr float across = 18.0f;
    matrix3d& m = map.sunSprite->world;
    m = matrix3d::identity();
    const vec3d rows[3] = {third * across, side * across, d * across};
    for (int r = 0; r < 3; ++r) {
        m.at(r, 0) = rows[r].x;
        m.at(r, 1) = rows[r].y;
        m.at(r, 2) = rows[r].z;
    }
    const vec3d at = where + d * 10.0f;
    m.at(3, 0) = at.x;
    m.at(3, 1) = at.y;
    m.at(3, 2) = at.z;
    const auto channel = [](float v) { return uint8_t(std::lround(std::fmin(std::fmax(v, 0.0f), 1.0f) * 255.0f)); };
    map.sunSprite->colour = Color(channel(sun.diffuse[0]), channel(sun.diffuse[1]), channel(sun.diffuse[2]), 0xDC);
}

void EnvMap::drawSunSprite(EnvMap& map)
{
    if (!map.sunSprite || !gDevice)
        return;
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE2X);
    map.sunSprite->draw();
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
}
