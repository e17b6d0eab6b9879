#include "Render/D3DDevice.h"

#include "Entity/CollisionQuery.h"
#include "Entity/SpriteManager.h"
#include "Entity/StoredMesh.h"

#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Menu/UIFont.h"
#include "Way/WayNetwork.h"

#include "Render/DirectGraphics.h"
#include "Render/EnvMap.h"
#include "Render/GpuSmooth.h"
#include "Render/Light.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"

#include <new>

IDirect3DDevice9* gDevice = nullptr;

namespace D3D {

namespace {

// A machine whose adapter refuses the device shows its error within seconds:
// creation is tried this often, 500 ms apart.
constexpr int createAttempts = 10;

void deleteSwapChains(Device& record)
{
    record.swapChains.clearWith([](Device::SwapChain* chain) { delete chain; });
    record.currentSwapChain = nullptr;
}

}

Device::Device() = default;

Device::~Device()
{
    // At exit the clients are gone: the swap chains must not call them.
    swapChains.clearWith([](SwapChain* chain) {
        chain->client = nullptr;
        delete chain;
    });
}

Device::SwapChain* Device::firstSwapChain() const
{
    return swapChains.head() ? swapChains.head()->item : nullptr;
}

bool Device::create(Device& record, HWND window, bool fullScreen, SwapChainInterface* client)
{
    CRASH_TRACE();
    if (!gDirectGraphics.direct3d || !window)
        return false;

    SwapChain* chain = new (std::nothrow) SwapChain(client);
    if (!chain)
        return false;
    deleteSwapChains(record);
    if (!record.swapChains.append(chain)) {
        delete chain;
        return false;
    }
    record.currentSwapChain = chain;

    const DWORD devCaps = gDirectGraphics.caps.DevCaps;
    DWORD flags = D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED;
    if (devCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) {
        flags = D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED;
        if (devCaps & D3DDEVCAPS_PUREDEVICE)
            flags |= D3DCREATE_PUREDEVICE;
    }

    HRESULT hr = E_FAIL;
    for (int attempt = 0; attempt < createAttempts; ++attempt) {
        CRASH_TRACE();
        D3DPRESENT_PARAMETERS parameters;
        fillPresentParameters(record.presentSettings, window, fullScreen, parameters);
        chain->presentParameters = parameters;
        hr = gDirectGraphics.direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window, flags,
                                                    &chain->presentParameters, &record.device);
        if (SUCCEEDED(hr) || hr == E_INVALIDARG)
            break;
        Sleep(500);
    }
    if (FAILED(hr) || !record.device) {
        record.device = nullptr;
        // The swap chain would outlive its client (the application is deleted
        // after a failed start-up) and call it from the exit clean-up.
        deleteSwapChains(record);
        showMessage(window, L"D3D_Init_Error", L"Error", MB_ICONWARNING);
        return false;
    }

    gDevice = record.device;
    chain->restoreBuffers(record.device);
    chain->beginFrame();
    setInitialStates();
    record.sharedTarget256 = RenderTexture::acquire(RenderTexture::shared, 256, 256, true, true, 17, D3DFMT_A8R8G8B8);
    Texture::createDefault();
    SpriteManager::createQuadBuffer();
    UserInterface::UIFont::onDeviceCreate();
    TextureProj::createCommonStateBlocks();
    D3DCAPS9 deviceCaps{};
    Light::initIndexPool(SUCCEEDED(record.device->GetDeviceCaps(&deviceCaps)) ? deviceCaps.MaxActiveLights : 0);
    return true;
}

void Device::release(Device& record)
{
    CRASH_TRACE();
    delete record.postEffect.smoother;
    record.postEffect.smoother = nullptr;
    Light::releaseIndexPool();
    // The terrain's, the water's and the ways' textures, pools and buffers go
    // before the device.
    gTerrain.clear();
    gWater.clear();
    gWater.wavePools.clear();
    gWayNetwork.releaseDeviceObjects();
    deleteSwapChains(record);
    EntityManager::StoredMesh::releaseAll();
    gCollisionQuery.clear();
    RenderTexture::releaseAll();
    record.sharedTarget256 = nullptr;
    record.postEffect.target = nullptr;
    EnvMap::releaseAll();
    SpriteManager::releaseQuadBuffer();
    UserInterface::UIFont::onDeviceRelease();
    Texture::releaseAll();
    Texture::releaseDefault();
    TextureProj::releaseCommonStateBlocks();
    TextureProj::releaseIndexPools();
    record.texProjList.projections.clear(false);
    if (gDevice == record.device)
        gDevice = nullptr;
    releaseInterface(record.device);
    record.resetting = 0;
    record.projectionCount = 1;
    record.viewCount = 1;
}

void Device::setInitialStates()
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    d->SetRenderState(D3DRS_LIGHTING, TRUE);
    d->SetRenderState(D3DRS_AMBIENT, 0);
    d->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    d->SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    for (DWORD sampler = 0; sampler < 4; ++sampler) {
        d->SetSamplerState(sampler, D3DSAMP_MIPFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(sampler, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
        d->SetSamplerState(sampler, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    }
    d->SetTextureStageState(3, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(3, D3DTSS_COLORARG2, D3DTA_CURRENT);
    d->SetTextureStageState(3, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(3, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    d->SetRenderState(D3DRS_ZENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetSamplerState(0, D3DSAMP_MAXANISOTROPY, 4);
    d->LightEnable(0, TRUE);
    if (gSunLight)
        setDirectionalLight(*gSunLight);
}

void Device::pushProjection(const matrix3d* m)
{
    if (projectionCount < stackSize)
        projectionStack[projectionCount++] = m;
}

void Device::popProjection()
{
    if (projectionCount > 1)
        --projectionCount;
}

void Device::pushView(const matrix3d* m)
{
    if (viewCount < stackSize)
        viewStack[viewCount++] = m;
}

void Device::popView()
{
    if (viewCount > 1)
        --viewCount;
}

PushedTransform::PushedTransform(D3DTRANSFORMSTATETYPE which, const matrix3d& m) : which_(which)
{
    Device& record = gDirectGraphics.record;
    if (gDevice)
        gDevice->SetTransform(which, reinterpret_cast<const D3DMATRIX*>(m.m));
    if (which == D3DTS_VIEW)
        record.pushView(&m);
    else
        record.pushProjection(&m);
}

PushedTransform::~PushedTransform()
{
    Device& record = gDirectGraphics.record;
    const matrix3d* below;
    if (which_ == D3DTS_VIEW) {
        record.popView();
        below = record.viewStack[record.viewCount - 1];
    } else {
        record.popProjection();
        below = record.projectionStack[record.projectionCount - 1];
    }
    if (gDevice && below)
        gDevice->SetTransform(which_, reinterpret_cast<const D3DMATRIX*>(below->m));
}

}
