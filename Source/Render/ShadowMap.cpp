#include "Render/ShadowMap.h"

#include "Render/CubeFaceViews.h"
#include "Render/DirectGraphics.h"
#include "Render/RenderHandshake.h"
#include "Render/RenderTexture.h"
#include "Render/ShadowCasters.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"

#include "Entity/Mesh.h"

#include <mmsystem.h>

#include <cmath>

uint32_t (*ShadowMap::clock)() = [] { return uint32_t(timeGetTime()); };

namespace {

IDirect3DSurface9* cubeFace(const TextureRef& cube, int face)
{
    IDirect3DSurface9* surface = nullptr;
    IDirect3DCubeTexture9* texture = cube.texture()->cubeTexture;
    if (!texture || FAILED(texture->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &surface)))
        return nullptr;
    return surface;
}

}

ShadowMap::ShadowMap(TextureProj& projection, int32_t edge, float softness, uint32_t border, uint32_t privateTargets,
                     float margin, float depth)
    : owner(projection),
      size(edge),
      borderFlag(border),
      targetFlag(privateTargets),
      blur(softness),
      boxMargin(margin),
      volumeDepth(depth)
{
    for (ScreenVertex& v : screenRect)
        v = {0.0f, 0.0f, 0.0f, 1.0f};
    if (size == noTargets)
        return;
    createTargets();
    selectTextures();
    Mesh<vec3d, D3DFVF_XYZ> box(String(L"BBoxCube"));
    addBoxToMesh(box, {2.0f, 2.0f, 2.0f}, matrix3d::identity());
    boxMesh.upload(box);
}

ShadowMap::~ShadowMap()
{
    releaseTargets();
}

void ShadowMap::setBlur(D3D::Device::SwapChain& chain, float softness)
{
    blur = softness > maxBlur ? maxBlur : softness > 0.0f ? softness : 0.0f; // NaN gives 0
    if (state == 0)
        return;
    releaseTargets();
    createTargets();
    selectTextures();
    render(chain);
}

void ShadowMap::createTargets()
{
    CRASH_TRACE();
    if (size < 2 || !gDevice)
        return;
    const auto makeDepth = [this](int i) {
        if (FAILED(gDevice->CreateDepthStencilSurface(uint32_t(size), uint32_t(size), D3DFMT_D24S8, D3DMULTISAMPLE_NONE,
                                                      0, FALSE, &depthSurfaces[i], nullptr)))
            depthSurfaces[i] = nullptr;
    };
    if (owner.kind == 1) {
        const int32_t key = blur == 0.0f && targetFlag ? -1 : 29;
        renderTexture = RenderTexture::acquire(RenderTexture::shared, size, size, false, false, key, D3DFMT_A8R8G8B8);
        makeDepth(0);
        kind = 0;
    } else {
        if (blur > 0.0f)
            renderTexture = RenderTexture::acquire(RenderTexture::shared, size, size, false, false, 29, D3DFMT_A8R8G8B8);
        String name;
        name.format(L"CubeShadowMap%i", size);
        if (!Texture::findByName(cubeTexture, name))
            Texture::createCube(cubeTexture, name, uint32_t(size), 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8,
                                D3DPOOL_DEFAULT);
        for (int i = 0; i < 6; ++i)
            makeDepth(i);
        kind = 1;
    }
    if (blur > 0.0f)
        smoother.create({float(size), float(size)}, uint32_t(kind), 1, blur, targetFlag ? -1 : 30, 31);
    owner.changed = 1;
    selectTextures();
}

void ShadowMap::releaseTargets()
{
    cubeTexture.release();
    staticCopy.release();
    smoother.releasePasses();
    // A private target would otherwise stay in the shared list, one more
    // after every reset and every change of the blur.
    if (renderTexture && renderTexture->key == -1)
        RenderTexture::releaseByKey(RenderTexture::shared, renderTexture);
    renderTexture = nullptr;
    sampled = nullptr;
    target = nullptr;
    for (IDirect3DSurface9*& s : depthSurfaces)
        D3D::releaseInterface(s);
}

void ShadowMap::selectTextures()
{
    const TextureRef* drawn = kind == 0 ? (renderTexture ? &renderTexture->renderTexture : nullptr) : &cubeTexture;
    if (state == frozen)
        sampled = &staticCopy;
    else if (state == live)
        sampled = blur > 0.0f ? smoother.getResultTexture() : drawn;
    target = drawn;
}

int32_t ShadowMap::countCasters(D3D::Device::SwapChain& chain, uint32_t& atRest)
{
    ShadowCasters* casters = chain.shadowCasters;
    ShadowEffects* effects = chain.shadowEffects;
    int32_t count = 0;
    atRest = 1;
    const int volumes = kind == 0 ? 1 : 6;
    for (int i = 0; i < volumes; ++i) {
        const ConvexVolume& volume = kind == 0 ? owner.volume : faceVolumes[i];
        uint32_t rest = 1;
        if (casters)
            count += casters->findCastersInVolume(volume, nullptr, &rest);
        if (effects && effects->anySystemInVolume(volume))
            ++count;
        if (!rest)
            atRest = 0;
    }
    return count;
}

int32_t ShadowMap::render(D3D::Device::SwapChain& chain)
{
    CRASH_TRACE();
    uint32_t atRest;
    if (state == frozen) {
        const int32_t count = countCasters(chain, atRest);
        const bool unchanged = !owner.changed && atRest && count == casterCount;
        casterCount = count;
        if (unchanged)
            return count > 0 ? 1 : 0;
        state = live;
        selectTextures();
    }
    if (state != live || !gDevice)
        return 0;
    atRest = 1;
    const int32_t drawn = renderLive(chain, atRest);
    // A map must rest for the whole delay before it freezes: a change or a
    // moving caster puts a pending freeze off.
    if (owner.changed || !atRest)
        freezeTime = 0;
    else if (freezeTime == 0)
        freezeTime = clock() + freezeDelay;
    if (freezeTime != 0 && int32_t(clock() - freezeTime) >= 0) {
        freeze();
        // The frozen map's first check compares with the casters it shows.
        if (state == frozen)
            casterCount = countCasters(chain, atRest);
    }
    return drawn;
}

int32_t ShadowMap::renderLive(D3D::Device::SwapChain& chain, uint32_t& atRest)
{
    ShadowCasters* casters = chain.shadowCasters;
    ShadowEffects* effects = chain.shadowEffects;
    RenderHandshake::Render busy;
    const vec2d edge{float(size), float(size)};
    int32_t drawn = 0;
    if (kind == 0) {
        if (!renderTexture || !renderTexture->renderSurface)
            return 0;
        chain.pushRenderTarget(renderTexture->renderSurface,
                               depthSurfaces[0] ? depthSurfaces[0] : renderTexture->depthSurface);
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        {
            D3D::PushedTransform projection(D3DTS_PROJECTION, owner.projection);
            D3D::PushedTransform view(D3DTS_VIEW, owner.view);
            if (casters)
                drawn = casters->renderShadowCasters(owner.volume, &atRest) ? 1 : 0;
            if (effects && effects->anyParticleInVolume(owner.volume))
                atRest = 0;
            if (blur == 0.0f && borderFlag)
                chain.drawAlphaFrame(edge);
        }
        chain.popRenderTarget();
        if (blur > 0.0f)
            smoother.run(renderTexture->renderTexture, 0, false, borderFlag != 0);
        return drawn;
    }

    Texture* record = cubeTexture.texture();
    record->busy = 1;
    const matrix3d& lens = CubeFaceViews::projection();
    D3D::PushedTransform projection(D3DTS_PROJECTION, lens);
    const vec3d position = owner.transform.row(3);
    for (int face = 0; face < CubeFaceViews::faceCount; ++face) {
        IDirect3DSurface9* surface = nullptr;
        if (renderTexture && renderTexture->renderSurface) {
            surface = renderTexture->renderSurface;
            surface->AddRef();
        } else if (!(surface = cubeFace(cubeTexture, face))) {
            continue;
        }
        chain.pushRenderTarget(surface, depthSurfaces[face]);
        {
            const matrix3d faceView = CubeFaceViews::view(face, position);
            D3D::PushedTransform view(D3DTS_VIEW, faceView);
            faceVolumes[face].setFromMatrix(faceView * lens);
            gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
            if (casters && casters->renderShadowCasters(faceVolumes[face], &atRest))
                drawn = 1;
            if (effects && effects->anyParticleInVolume(faceVolumes[face]))
                atRest = 0;
            if (blur == 0.0f && borderFlag)
                chain.drawAlphaFrame(edge);
        }
        chain.popRenderTarget();
        surface->Release();
        if (renderTexture) // only a blurred cube map draws through a 2D target
            smoother.run(renderTexture->renderTexture, uint32_t(face), false, borderFlag != 0);
    }
    record->busy = 0;
    return drawn;
}

void ShadowMap::freeze()
{
    CRASH_TRACE();
    freezeTime = 0;
    const uint32_t format = blur > 0.0f ? smoother.format : D3DFMT_A8R8G8B8;
    const String name = String::borrowed(L"StaticShadowMap");
    const bool made = kind == 0 ? Texture::create(staticCopy, name, uint32_t(size), uint32_t(size), 1, 0, format,
                                                  D3DPOOL_MANAGED)
                                : Texture::createCube(staticCopy, name, uint32_t(size), 1, 0, format, D3DPOOL_MANAGED);
    if (!made)
        return; // stays live
    if (blur > 0.0f)
        smoother.copyResultTo(staticCopy);
    else if (target)
        Texture::copyRenderTarget(*target, staticCopy);
    state = frozen;
    selectTextures();
}

int32_t ShadowMap::hasCasters(D3D::Device::SwapChain& chain)
{
    uint32_t atRest = 1;
    if (chain.shadowCasters && chain.shadowCasters->findCastersInVolume(owner.volume, nullptr, &atRest) > 0)
        return 1;
    return chain.shadowEffects && chain.shadowEffects->anySystemInVolume(owner.volume) ? 1 : 0;
}

void ShadowMap::bindTexture() const
{
    if (sampled && state != 0)
        TextureDevice::bindTexture(0, sampled->texture());
}

void ShadowMap::bindTextureStage(uint32_t stage) const
{
    if (target && state != 0)
        TextureDevice::bindTexture(stage, target->texture());
}

void ShadowMap::setTextureTransform(const matrix3d& w) const
{
    if (!gDevice)
        return;
    matrix3d placed = w;
    const vec3d at = w.transformPoint(owner.transform.row(3));
    placed.at(3, 0) = at.x;
    placed.at(3, 1) = at.y;
    placed.at(3, 2) = at.z;
    const matrix3d inverse = inverseAffine(placed);
    gDevice->SetTransform(D3DTS_TEXTURE2, reinterpret_cast<const D3DMATRIX*>(inverse.m));
}
