#include "Render/SwapChain.h"

#include "Entity/EntityManager.h"
#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"
#include "Entity/StaticEntityManager.h"
#include "Landscape/AnimatedSky.h"
#include "Landscape/HLod.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/SceneView.h"
#include "Landscape/SkyRecords.h"
#include "Landscape/SunGlow.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Menu/UserInterface.h"
#include "Render/DirectGraphics.h"
#include "Render/RenderTexture.h"
#include "Render/StripEffectManager.h"
#include "Way/WayNetwork.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <cstring>
#include <new>
#include <optional>

using SwapChain = D3D::Device::SwapChain;

namespace {

DWORD floatBits(float f)
{
    DWORD d;
    static_assert(sizeof(d) == sizeof(f));
    std::memcpy(&d, &f, sizeof(d));
    return d;
}

void describeTarget(SwapChain::RenderTarget& target)
{
    D3DSURFACE_DESC description{};
    if (target.surface && SUCCEEDED(target.surface->GetDesc(&description)) && description.Height != 0) {
        target.width = description.Width;
        target.height = description.Height;
        target.aspect = float(description.Width) / float(description.Height);
    }
}

// The alpha-only state of fillAlpha and drawAlphaFrame, and its undoing.
void setAlphaOnlyStates(IDirect3DDevice9* d, bool depthTest)
{
    d->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_ALPHA);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_ZENABLE, depthTest ? TRUE : FALSE);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFF000000);
}

void restoreAlphaOnlyStates(IDirect3DDevice9* d)
{
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRS_ZENABLE, TRUE);
}

}

SwapChain::SwapChain(Interface* clientInterface)
    : viewRecord(new (std::nothrow) SceneView), sky(new (std::nothrow) AnimatedSky(sun)),
      skyBox(new (std::nothrow) SkyBox), stars(new (std::nothrow) StarLayer),
      skyLayers(new (std::nothrow) SkyLayers), sunGlow(new (std::nothrow) SunGlow), client(clientInterface),
      userInterface(new (std::nothrow) UserInterface::Root(this)), sprites(new (std::nothrow) SpriteManager),
      particles(new (std::nothrow) ParticleManager),
      stripEffects(new (std::nothrow) StripEffectManager), entities(new (std::nothrow) EntityManager),
      staticEntities(new (std::nothrow) StaticEntityManager(this)), meadow(new (std::nothrow) Meadow),
      farField(new (std::nothrow) HLod(this))
{
    if (viewRecord)
        viewRecord->init(this);
    shadowEffects = stripEffects;
    shadowCasters = entities;
}

SwapChain::~SwapChain()
{
    releaseDeviceObjects();
    if (sky)
        sky->release();
    delete viewRecord;
    delete sky;
    delete skyBox;
    delete stars;
    delete skyLayers;
    delete sunGlow;
    // The widgets outlive the list: they only lose their nodes.
    if (userInterface)
        userInterface->release();
    delete userInterface;
    delete particles;
    delete stripEffects;
    shadowEffects = nullptr;
    delete sprites;
    // The live instances of the placed objects are entities: they go first.
    delete staticEntities;
    if (shadowCasters == entities)
        shadowCasters = nullptr;
    delete entities;
    delete meadow;
    delete farField;
    if (gCamera == this)
        gCamera = nullptr;
    if (gSunLight == &sun)
        gSunLight = nullptr;
    if (cameraPosition.load() == &position)
        cameraPosition.store(nullptr);
    if (gDirectGraphics.record.currentSwapChain == this)
        gDirectGraphics.record.currentSwapChain = nullptr;
}

void SwapChain::restoreBuffers(IDirect3DDevice9* device)
{
    CRASH_TRACE();
    if (!device)
        return;
    if (!swapChain)
        device->GetSwapChain(0, &swapChain);
    if (!depthSurface)
        device->GetDepthStencilSurface(&depthSurface);
    gCamera = this;
    gSunLight = &sun;
    if (stripEffects)
        stripEffects->createStripIndices();
    if (farField)
        farField->restore(1150.0f);
    restoreDeviceObjects();
}

void SwapChain::restoreAsAdditional(IDirect3DDevice9* device)
{
    CRASH_TRACE();
    if (!device)
        return;
    releaseDeviceObjects();
    presentParameters.BackBufferWidth = 0;
    presentParameters.BackBufferHeight = 0;
    if (FAILED(device->CreateAdditionalSwapChain(&presentParameters, &swapChain)))
        swapChain = nullptr;
    device->CreateDepthStencilSurface(presentParameters.BackBufferWidth, presentParameters.BackBufferHeight,
                                      presentParameters.AutoDepthStencilFormat, presentParameters.MultiSampleType,
                                      presentParameters.MultiSampleQuality, FALSE, &depthSurface, nullptr);
    if (stripEffects)
        stripEffects->createStripIndices();
    restoreDeviceObjects();
}

void SwapChain::releaseDeviceObjects()
{
    CRASH_TRACE();
    if (client)
        client->onDeviceLost();
    D3D::releaseInterface(targets[0].surface);
    targets[0].depth = nullptr;
    D3D::releaseInterface(depthSurface);
    if (stripEffects)
        stripEffects->releaseVertices();
    if (particles)
        particles->releaseVertices();
    if (entities)
        entities->releaseAllStateBlocks();
    if (meadow)
        meadow->releaseDeviceBuffers();
    if (farField)
        for (HLod::TargetRecord& target : farField->targets)
            farField->resetEntries(target);
    D3D::releaseInterface(swapChain);
    clearLoadProcess();
}

void SwapChain::restoreDeviceObjects()
{
    CRASH_TRACE();
    setProjection({int32_t(presentParameters.BackBufferWidth), int32_t(presentParameters.BackBufferHeight)});
    if (stripEffects)
        stripEffects->createVertices();
    if (particles)
        particles->createBuffers();
    if (entities)
        entities->recordAllStateBlocks();
    if (meadow)
        meadow->restoreDeviceBuffers();
    if (farField)
        farField->rerender = 1;
    if (client)
        client->onDeviceReset();
}

SwapChain* SwapChain::beginFrame()
{
    CRASH_TRACE();
    D3D::Device& record = gDirectGraphics.record;
    IDirect3DDevice9* d = gDevice;
    if (!targets[0].surface && swapChain)
        swapChain->GetBackBuffer(0, D3DBACKBUFFER_TYPE_MONO, &targets[0].surface);
    if (d && targets[0].surface) {
        d->SetRenderTarget(0, targets[0].surface);
        d->SetDepthStencilSurface(depthSurface);
    }
    targets[0].depth = depthSurface;
    describeTarget(targets[0]);

    record.currentSwapChain = this;
    record.primitiveCount = 0;
    if (entities)
        entities->beginFrame();
    gCamera = this;
    gSunLight = &sun;
    cameraPosition.store(&position, std::memory_order_release);
    record.projectionStack[0] = &projection;
    record.viewStack[0] = &view;

    if (d) {
        d->SetTransform(D3DTS_PROJECTION, reinterpret_cast<const D3DMATRIX*>(projection.m));
        apply();
        d->SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_LINEAR);
        d->SetRenderState(D3DRS_RANGEFOGENABLE, TRUE);
        d->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_NONE);
        d->SetRenderState(D3DRS_FOGSTART, floatBits(fogStart));
        d->SetRenderState(D3DRS_FOGEND, floatBits(fogEnd));
        d->SetRenderState(D3DRS_FOGCOLOR, fogColour.argb());
        d->SetRenderState(D3DRS_FOGENABLE, fogEnabled ? TRUE : FALSE);
        for (DWORD sampler = 0; sampler < 3; ++sampler)
            d->SetSamplerState(sampler, D3DSAMP_MIPMAPLODBIAS, floatBits(mipBias));
    }
    D3D::setDirectionalLight(sun);
    return this;
}

void SwapChain::update()
{
    if (viewRecord)
        Scene::updateSky(*viewRecord);
    if (staticEntities)
        staticEntities->update(0);
    if (entities)
        entities->assignTexProjs();
    gWayNetwork.updateProjections();
    gTerrain.update(*this);
    gWater.update(0);
    if (meadow)
        meadow->update();
    if (sunGlow)
        Scene::Sun::updateGlow(*sunGlow, *this);
    if (stripEffects)
        stripEffects->update();
    if (farField)
        farField->update();
}

void SwapChain::render(bool drawUi)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    d->BeginScene();
    if (client)
        client->renderShadowMaps();
    if (viewRecord)
        Scene::renderSky(*viewRecord);
    gTerrain.render(1);
    if (stripEffects)
        stripEffects->render();
    if (entities)
        entities->render(1);
    gWayNetwork.render(1);
    if (meadow)
        meadow->render(1);
    gWater.render(*this);
    if (farField)
        farField->render();
    if (meadow)
        meadow->render(0);
    if (sprites)
        sprites->render();
    if (client)
        client->renderAfterScene();
    if (sunGlow) {
        Scene::Sun::renderGlare(*sunGlow);
        Scene::Sun::renderMaskGlow(*sunGlow, 0);
        Scene::Sun::renderGlow(*sunGlow, *this);
    }
    // The one pass that ages the particles: the effect scene and the
    // reflections draw them as they stand.
    if (particles)
        particles->render(true);
    if (client) {
        D3D::Device::renderPostEffect(*this, gDirectGraphics.record.postEffect, client);
        if (drawUi) {
            client->beforeUi();
            if (userInterface)
                UserInterface::renderAll(*userInterface);
            client->afterUi();
        }
    }
    d->EndScene();
}

void SwapChain::present()
{
    CRASH_TRACE();
    D3D::releaseInterface(targets[0].surface);
    HRESULT hr = D3D_OK;
    if (swapChain)
        hr = swapChain->Present(nullptr, nullptr, presentParameters.hDeviceWindow, nullptr, 0);
    if (!swapChain || hr == D3DERR_DEVICELOST)
        D3D::Device::reset(gDirectGraphics.record, nullptr);
}

void SwapChain::pushRenderTarget(IDirect3DSurface9* surface, IDirect3DSurface9* depth)
{
    CRASH_TRACE();
    if (targetCount >= uint32_t(stackSize))
        return;
    if (gDevice) {
        gDevice->SetRenderTarget(0, surface);
        gDevice->SetDepthStencilSurface(depth);
    }
    RenderTarget& entry = targets[targetCount];
    entry.surface = surface;
    entry.depth = depth;
    describeTarget(entry);
    ++targetCount;
}

void SwapChain::popRenderTarget()
{
    CRASH_TRACE();
    if (targetCount <= 1)
        return;
    --targetCount;
    const RenderTarget& entry = targets[targetCount - 1];
    if (gDevice && entry.surface) {
        gDevice->SetRenderTarget(0, entry.surface);
        gDevice->SetDepthStencilSurface(entry.depth);
    }
}

Color SwapChain::renderToTarget(float u, float v)
{
    CRASH_TRACE();
    RenderTexture* target = gDirectGraphics.record.sharedTarget256;
    IDirect3DDevice9* d = gDevice;
    if (!target || !client || !d || !target->renderSurface)
        return Color();
    pushRenderTarget(target->renderSurface, target->depthSurface);
    d->BeginScene();
    d->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    client->renderOcclusionPass();
    d->EndScene();
    popRenderTarget();

    // A position off the target (the sun beside the screen) would read
    // outside the locked pixels.
    if (!(u >= 0.0f && u < 1.0f && v >= 0.0f && v < 1.0f) || !target->lockSurface)
        return Color();
    if (FAILED(d->GetRenderTargetData(target->renderSurface, target->lockSurface)))
        return Color();
    D3DLOCKED_RECT locked{};
    if (FAILED(target->lockSurface->LockRect(&locked, nullptr, D3DLOCK_READONLY)))
        return Color();
    const int column = int(float(target->width) * u);
    const int row = int(float(target->height) * v);
    uint32_t pixel = 0;
    std::memcpy(&pixel, static_cast<const uint8_t*>(locked.pBits) + row * locked.Pitch + column * 4, 4);
    target->lockSurface->UnlockRect();
    return Color::fromArgb(pixel);
}

void SwapChain::testOcclusion(DynArray<OccludePos>& points, int count)
{
    CRASH_TRACE();
    if (!client || count < 1)
        return;
    const float* m = viewProjection.m;
    for (int i = 0; i < count; ++i) {
        OccludePos& p = *points.at(i);
        const vec3d& q = p.position;
        const float w = q.x * m[3] + q.y * m[7] + q.z * m[11] + m[15];
        const float x = q.x * m[0] + q.y * m[4] + q.z * m[8] + m[12];
        const float y = q.x * m[1] + q.y * m[5] + q.z * m[9] + m[13];
        p.inverseW = 1.0f / w;
        p.screenU = (x * p.inverseW + 1.0f) * 0.5f;
        p.screenV = 1.0f - (y * p.inverseW + 1.0f) * 0.5f;
    }
    // A single point is tested against what lies on its own line of sight:
    // the culling frustum is narrowed around it for the tests, then put back.
    std::optional<ConvexVolume> saved;
    if (count == 1) {
        saved = frustum;
        const OccludePos& p = *points.at(0);
        frustum = narrowedFrustum(p.screenU, p.screenV);
    }
    for (int i = 0; i < count; ++i) {
        OccludePos& p = *points.at(i);
        const bool offScreen = p.screenU < 0.0f || p.screenU > 1.0f || p.screenV < 0.0f || p.screenV > 1.0f;
        vec3d hit = p.position;
        p.occluded = p.inverseW < -0.5f || offScreen || gTerrain.intersectSegment(position, hit, nullptr, 3) ? 1 : 0;
        vec3d end = p.position;
        if (!p.occluded && entities && entities->intersectRay(position, end, 0))
            p.occluded = 1;
    }
    if (saved)
        frustum = *saved;
}

void SwapChain::fillAlpha(float z)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    const RenderTarget& top = topTarget();
    setAlphaOnlyStates(d, z != 0.0f);
    drawScreenRect(int(top.width), int(top.height), -1, -1, z);
    restoreAlphaOnlyStates(d);
}

void SwapChain::drawAlphaFrame(vec2d size)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    struct Point
    {
        float x, y, z, rhw;
    };
    static_assert(sizeof(Point) == 16);
    const float w = size.x, h = size.y;
    const Point frame[5] = {{0.5f, 0.5f, 0.0f, 1.0f},
                            {w - 0.5f, 0.5f, 0.0f, 1.0f},
                            {w - 0.5f, h - 0.5f, 0.0f, 1.0f},
                            {0.5f, h - 0.5f, 0.0f, 1.0f},
                            {0.5f, 0.5f, 0.0f, 1.0f}};
    setAlphaOnlyStates(d, false);
    d->SetFVF(D3DFVF_XYZRHW);
    d->DrawPrimitiveUP(D3DPT_LINESTRIP, 4, frame, sizeof(Point));
    restoreAlphaOnlyStates(d);
}

void SwapChain::beginLoadProcess()
{
    float sum = 0.0f;
    for (auto* node = loadProcesses.head(); node; node = node->next)
        if (node->item)
            sum += node->item->weight;
    // All-zero weights would turn every weight into NaN.
    if (sum > 0.0f)
        for (auto* node = loadProcesses.head(); node; node = node->next)
            if (node->item)
                node->item->weight /= sum;
    progress = 0.0f;
    drawLoadFrame();
}

void SwapChain::advanceLoadProcess(LoadProcessInterface& entry, float done)
{
    const float step = done - entry.done;
    if (step < 0.09f && done != 1.0f)
        return;
    progress += step * entry.weight;
    drawLoadFrame();
    entry.done = done;
}

void SwapChain::clearLoadProcess()
{
    progress = 0.0f;
    loadProcesses.clear(false);
}

void SwapChain::drawLoadFrame()
{
    CRASH_TRACE();
    if (!client || !gDevice)
        return;
    beginFrame();
    gDevice->BeginScene();
    client->renderLoadProgress();
    gDevice->EndScene();
    present();
}
