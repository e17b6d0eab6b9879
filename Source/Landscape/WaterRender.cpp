// The water's textures: the sky mask, the areas' reflections, the reflection
// texture matrix and the texture stages of the surfaces.
#include "Landscape/WaterRender.h"

#include "Entity/EntityManager.h"
#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"
#include "Landscape/HLod.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/SceneView.h"
#include "Landscape/SunGlow.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"

#include "Render/DirectGraphics.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"
#include "Way/WayNetwork.h"

#include "Core/ConvexVolume.h"
#include "Core/CrashTrace.h"

#include <utility>

namespace {

constexpr int32_t reflectionKey = 25;
constexpr int32_t skyKey = 26;
constexpr int32_t sunKey = 27;

IDirect3DTexture9* textureOf(const RenderTexture* entry)
{
    return entry && entry->renderTexture.isBound() ? entry->renderTexture.texture()->texture : nullptr;
}

// What a mirrored pass changes on the device and the camera, undone by the
// destructor: the view (pushed on the device's stack), the camera's volumes
// (the pass moves them through the mirror), the swapped cull modes and the
// mirrored mark.
class MirroredPass
{
public:
    MirroredPass(D3D::Device::SwapChain& chain, const matrix3d& mirror)
        : chain_(chain), record_(gDirectGraphics.record), frustum_(chain.frustum),
          directions_(chain.directionVolume), view_(mirror * chain.view), pushed_(D3DTS_VIEW, view_)
    {
        std::swap(record_.frontCull, record_.backCull);
        gDevice->SetRenderState(D3DRS_CULLMODE, record_.frontCull);
        wasMirrored_ = record_.mirrored;
        record_.mirrored = 1;
    }
    ~MirroredPass()
    {
        chain_.frustum = frustum_;
        chain_.directionVolume = directions_;
        std::swap(record_.frontCull, record_.backCull);
        gDevice->SetRenderState(D3DRS_CULLMODE, record_.frontCull);
        record_.mirrored = wasMirrored_;
    }
    MirroredPass(const MirroredPass&) = delete;
    MirroredPass& operator=(const MirroredPass&) = delete;

private:
    D3D::Device::SwapChain& chain_;
    D3D::Device& record_;
    const ConvexVolume frustum_;
    const ConvexVolume directions_;
    const matrix3d view_;
    D3D::PushedTransform pushed_;
    uint32_t wasMirrored_ = 0;
};

void setPlane(DWORD index, const WaterPlane& plane)
{
    const float coefficients[4] = {plane.normal.x, plane.normal.y, plane.normal.z, plane.distance};
    gDevice->SetClipPlane(index, coefficients);
}

// The sky target over the whole target in force, at opacity alpha.
void drawSky(const RenderTexture& sky, uint32_t alpha, bool fog)
{
    IDirect3DDevice9* d = gDevice;
    d->SetTexture(0, textureOf(&sky));
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, alpha << 24);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, alpha < 255 ? TRUE : FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    drawScreenRect(sky.width, sky.height, sky.width, sky.height, 0.0f);
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTexture(0, nullptr);
}

}

namespace WaterTextures {

matrix3d reflectionMatrix = matrix3d::identity();

void computeReflectionMatrix(const matrix3d& projection)
{
    matrix3d toScreen;
    toScreen.m[0] = 0.5f;
    toScreen.m[5] = -0.5f;
    toScreen.m[12] = 0.5f;
    toScreen.m[13] = 0.5f;
    toScreen.m[14] = 1.0f;
    toScreen.m[15] = 1.0f;
    reflectionMatrix = projection * toScreen;
}

matrix3d mirror(float level)
{
    matrix3d m = matrix3d::identity();
    m.m[5] = -1.0f;
    m.m[13] = 2.0f * level;
    return m;
}

}

void WaterSkyMask::acquireTargets()
{
    CRASH_TRACE();
    skyTarget = RenderTexture::acquire(RenderTexture::shared, 512, 512, false, false, skyKey, D3DFMT_A8R8G8B8);
    sunTarget = RenderTexture::acquire(RenderTexture::shared, 64, 64, false, false, sunKey, D3DFMT_A8R8G8B8);
}

void WaterSkyMask::forgetTargets()
{
    skyTarget = nullptr;
    sunTarget = nullptr;
}

void WaterSkyMask::render(D3D::Device::SwapChain& chain)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    MirroredPass mirrored(chain, mirror);
    chain.frustum.transform(mirror);
    chain.directionVolume.transform(mirror);
    if (skyTarget && skyTarget->renderSurface && chain.viewRecord) {
        chain.pushRenderTarget(skyTarget->renderSurface, nullptr);
        SceneView& view = *chain.viewRecord;
        const matrix3d world = view.matrix;
        skyWorld.m[12] = chain.position.x;
        skyWorld.m[13] = -chain.position.y;
        skyWorld.m[14] = chain.position.z;
        view.matrix = skyWorld;
        Scene::renderSky(view);
        view.matrix = world;
        chain.popRenderTarget();
    }
    if (sunTarget && sunTarget->renderSurface) {
        chain.pushRenderTarget(sunTarget->renderSurface, nullptr);
        d->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        if (chain.sunGlow)
            Scene::Sun::renderMaskGlow(*chain.sunGlow, 1);
        chain.popRenderTarget();
    }
}

void WaterReflection::createTarget(const WaterSkyMask& mask)
{
    CRASH_TRACE();
    if (!mask.skyTarget)
        return;
    target = RenderTexture::acquire(RenderTexture::shared, mask.skyTarget->width, mask.skyTarget->height, false, true,
                                    reflectionKey, D3DFMT_A8R8G8B8);
    const float level = owner->level;
    waterPlane = {{0.0f, 1.0f, 0.0f}, -level};
    terrainPlane = {{0.0f, 1.0f, 0.0f}, 0.8f - level};
    matrix = WaterTextures::mirror(level);
    // The outline's hull lifted to the level: (x, y, 0) becomes (x, level, y).
    polygon2d outline;
    for (int32_t i = 0; i < owner->outlineCount; ++i)
        outline.add(*owner->outline.at(i));
    outline.makeConvexHull();
    matrix3d lift;
    lift.m[0] = 1.0f;
    lift.m[6] = 1.0f;
    lift.m[9] = 1.0f;
    lift.m[13] = level;
    lift.m[15] = 1.0f;
    clipPolygon.fromPolygon2d(outline, lift);
}

void WaterReflection::render(float d2, D3D::Device::SwapChain& chain, const WaterSkyMask& mask)
{
    CRASH_TRACE();
    const float range = owner->reflectionRange;
    if (range < d2 || !target || !target->renderSurface || !mask.skyTarget) {
        inUse = mask.skyTarget;
        return;
    }
    float fade = (1.0f - d2 / range) * owner->reflectionGain;
    fade = fade > 255.0f ? 255.0f : fade >= 0.0f ? fade : 0.0f;
    const uint32_t a = uint32_t(fade);
    const bool fog = chain.fogEnabled != 0;
    IDirect3DDevice9* d = gDevice;
    chain.pushRenderTarget(target->renderSurface, target->depthSurface);
    d->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    // The mirrored scene over the sky, then the sky again over it the more
    // the farther the camera is: the reflection fades into the sky mask
    // that shows beyond the range, and wherever the mirrored scene leaves
    // the target empty the sky shows.
    drawSky(*mask.skyTarget, 255, fog);
    renderScene(chain);
    if (a < 255)
        drawSky(*mask.skyTarget, 255 - a, fog);
    chain.popRenderTarget();
    inUse = target;
}

void WaterReflection::renderScene(D3D::Device::SwapChain& chain)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    D3D::Device& record = gDirectGraphics.record;
    MirroredPass mirrored(chain, matrix);
    ConvexVolume narrowed;
    if (narrowed.fromPolygon(clipPolygon.pointData(), clipPolygon.count, chain.frustum, chain.right, chain.up))
        chain.frustum = narrowed;
    chain.frustum.transform(matrix);
    const uint32_t plane = record.clipPlaneCount++;
    d->SetRenderState(D3DRS_CLIPPLANEENABLE, (1u << record.clipPlaneCount) - 1);
    setPlane(plane, terrainPlane);
    record.reflectionPass = 1;

    // The terrain draws its reflection within the level's own level-of-detail
    // limits, which stay as the level set them.
    gTerrain.render(0);
    setPlane(plane, waterPlane);
    // The objects and vehicles on the shore (an entity whose reflection mask
    // is set keeps out), and the roads beside the water, without the
    // projections on them.
    if (chain.entities)
        chain.entities->render(0);
    gWayNetwork.render(0);
    if (chain.meadow)
        chain.meadow->render(1);
    if (chain.farField)
        chain.farField->render();
    if (chain.sprites)
        chain.sprites->render();
    if (chain.particles) {
        d->SetRenderState(D3DRS_COLORWRITEENABLE, 7);
        // Particles move in the frame's own pass only, not once more here.
        chain.particles->render(false);
        d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    }

    record.reflectionPass = 0;
    --record.clipPlaneCount;
    d->SetRenderState(D3DRS_CLIPPLANEENABLE, (1u << record.clipPlaneCount) - 1);
    const matrix3d identity = matrix3d::identity();
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
}

namespace WaterStages {

namespace {

void projectFromCamera(IDirect3DDevice9* d, DWORD stage, D3DTRANSFORMSTATETYPE transform, const matrix3d& m)
{
    d->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
    d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3 | D3DTTFF_PROJECTED);
    d->SetTransform(transform, reinterpret_cast<const D3DMATRIX*>(m.m));
}

void clamp(IDirect3DDevice9* d, DWORD stage, DWORD mode)
{
    d->SetSamplerState(stage, D3DSAMP_ADDRESSU, mode);
    d->SetSamplerState(stage, D3DSAMP_ADDRESSV, mode);
}

void stage(IDirect3DDevice9* d, DWORD s, IDirect3DBaseTexture9* texture, DWORD colourOp, DWORD colourArg2,
           DWORD alphaOp, DWORD alphaArg1, DWORD alphaArg2)
{
    d->SetTexture(s, texture);
    d->SetTextureStageState(s, D3DTSS_COLOROP, colourOp);
    d->SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(s, D3DTSS_COLORARG2, colourArg2);
    d->SetTextureStageState(s, D3DTSS_ALPHAOP, alphaOp);
    d->SetTextureStageState(s, D3DTSS_ALPHAARG1, alphaArg1);
    d->SetTextureStageState(s, D3DTSS_ALPHAARG2, alphaArg2);
}

IDirect3DTexture9* alphaTextureOf(WaterArea& area)
{
    return area.alphaTexture.isBound() ? area.alphaTexture.texture()->texture : nullptr;
}

void disable(IDirect3DDevice9* d, DWORD s)
{
    d->SetTexture(s, nullptr);
    d->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d->SetTextureStageState(s, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
    d->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, s);
    d->SetTextureStageState(s, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    clamp(d, s, D3DTADDRESS_WRAP);
}

void resetFirst(IDirect3DDevice9* d)
{
    d->SetTexture(0, nullptr);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
    clamp(d, 0, D3DTADDRESS_WRAP);
}

}

namespace {

// The stages both surfaces begin with: the reflection (or sky) projected
// from the camera through m plus the texture factor, then the alpha texture
// over the surface's own coordinates.
void reflectionAndAlpha(IDirect3DDevice9* d, WaterArea& area, const matrix3d& m)
{
    stage(d, 0, textureOf(area.reflection.inUse), D3DTOP_ADD, D3DTA_TFACTOR, D3DTOP_SELECTARG1, D3DTA_TFACTOR,
          D3DTA_TFACTOR);
    projectFromCamera(d, 0, D3DTS_TEXTURE0, m);
    stage(d, 1, alphaTextureOf(area), D3DTOP_MODULATE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE,
          D3DTA_CURRENT);
    d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
}

// The sun target added at stage s, projected like the reflection.
void sun(IDirect3DDevice9* d, DWORD s, const matrix3d& m)
{
    stage(d, s, textureOf(gWater.skyMask.sunTarget), D3DTOP_ADD, D3DTA_CURRENT, D3DTOP_ADD, D3DTA_TEXTURE,
          D3DTA_CURRENT);
    projectFromCamera(d, s, D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + s), m);
    clamp(d, s, D3DTADDRESS_CLAMP);
}

}

void setFlat(WaterArea& area)
{
    IDirect3DDevice9* d = gDevice;
    reflectionAndAlpha(d, area, WaterTextures::reflectionMatrix);
    sun(d, 2, WaterTextures::reflectionMatrix);
}

void resetFlat()
{
    IDirect3DDevice9* d = gDevice;
    resetFirst(d);
    disable(d, 1);
    disable(d, 2);
}

void setWaves(WaterArea& area)
{
    IDirect3DDevice9* d = gDevice;
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    const matrix3d w =
        waveTransform(gCamera ? gCamera->view : matrix3d::identity(), area.reflection.matrix) *
        WaterTextures::reflectionMatrix;
    reflectionAndAlpha(d, area, w);
    clamp(d, 0, D3DTADDRESS_CLAMP);
    clamp(d, 1, D3DTADDRESS_CLAMP);
    // The light of the waves' slopes, from the vertex colours.
    stage(d, 2, nullptr, D3DTOP_ADD, D3DTA_CURRENT, D3DTOP_ADD, D3DTA_DIFFUSE, D3DTA_CURRENT);
    d->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
    sun(d, 3, w);
}

void resetWaves()
{
    IDirect3DDevice9* d = gDevice;
    resetFirst(d);
    for (DWORD s = 1; s < 4; ++s)
        disable(d, s);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
}

matrix3d waveTransform(const matrix3d& view, const matrix3d& mirror)
{
    // The view's inverse: the inverse of its 3 x 3 part through cofactors,
    // and the translation taken back through it.
    const float* v = view.m;
    const float c00 = v[5] * v[10] - v[6] * v[9], c01 = v[6] * v[8] - v[4] * v[10], c02 = v[4] * v[9] - v[5] * v[8];
    const float determinant = v[0] * c00 + v[1] * c01 + v[2] * c02;
    matrix3d inverse = matrix3d::identity();
    if (determinant != 0.0f) {
        const float k = 1.0f / determinant;
        inverse.m[0] = c00 * k;
        inverse.m[1] = (v[2] * v[9] - v[1] * v[10]) * k;
        inverse.m[2] = (v[1] * v[6] - v[2] * v[5]) * k;
        inverse.m[4] = c01 * k;
        inverse.m[5] = (v[0] * v[10] - v[2] * v[8]) * k;
        inverse.m[6] = (v[2] * v[4] - v[0] * v[6]) * k;
        inverse.m[8] = c02 * k;
        inverse.m[9] = (v[1] * v[8] - v[0] * v[9]) * k;
        inverse.m[10] = (v[0] * v[5] - v[1] * v[4]) * k;
        const vec3d t = -inverse.transformVector({v[12], v[13], v[14]});
        inverse.m[12] = t.x;
        inverse.m[13] = t.y;
        inverse.m[14] = t.z;
    }
    return inverse * mirror * view;
}

}
