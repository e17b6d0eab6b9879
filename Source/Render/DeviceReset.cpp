// Device loss and reset: release the default-pool objects, wait for the
// device while the window stays responsive, reset, restore in a fixed order.
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Menu/UIFont.h"
#include "Render/D3DDevice.h"

#include "Render/DirectGraphics.h"
#include "Render/EnvMap.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"
#include "Render/TextureProj.h"
#include "Way/WayNetwork.h"

#include "Core/CrashTrace.h"

namespace D3D {

namespace {

// Parameters the device keeps refusing end the program with the device error
// within a second instead of being tried for ever.
constexpr int invalidCallAttempts = 10;

// Clears the record's in-reset flag on every way out of reset.
struct InResetScope
{
    explicit InResetScope(Device& r) : record(r) { record.inReset = true; }
    ~InResetScope() { record.inReset = false; }
    Device& record;
};

// Client slot 9 of the first swap chain. False when the quit message was
// retrieved: it is posted again so that the main loop sees it and the
// program ends instead of waiting for a device that may never come back.
bool pump(Device::SwapChain* first)
{
    if (!first || !first->client)
        return true;
    if (first->client->pumpMessages())
        return true;
    PostQuitMessage(0);
    return false;
}

void releaseDeviceObjects(Device& record)
{
    CRASH_TRACE();
    record.texProjList.releaseShadowMaps();
    RenderTexture::releaseSharedTargets();
    EnvMap::releaseForReset();
    UserInterface::UIFont::releaseVertexBuffers();
    record.device->LightEnable(0, FALSE);
    TextureProj::releaseCommonStateBlocks();
    record.texProjList.releaseTextures();
    gTerrain.releaseDeviceBuffers();
    gWater.releaseAreaTextures();
    gWayNetwork.releaseStateBlocks();
    for (auto* node = record.swapChains.head(); node; node = node->next)
        if (node->item)
            node->item->releaseDeviceObjects();
    record.resetting = 1;
}

void resizeWindow(HWND window, const D3DPRESENT_PARAMETERS& parameters)
{
    if (!window)
        return;
    const DWORD style = DWORD(GetWindowLongW(window, GWL_STYLE));
    RECT frame{0, 0, LONG(parameters.BackBufferWidth), LONG(parameters.BackBufferHeight)};
    AdjustWindowRect(&frame, style, FALSE);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_SHOWWINDOW);
}

void restoreDeviceObjects(Device& record)
{
    CRASH_TRACE();
    gDevice = record.device;
    TextureProj::createCommonStateBlocks();
    record.texProjList.restore();
    gTerrain.createDeviceBuffers();
    gWayNetwork.restoreStateBlocks();
    record.device->BeginScene();
    EnvMap::restoreAll();
    record.device->EndScene();
    bool first = true;
    for (auto* node = record.swapChains.head(); node; node = node->next) {
        if (!node->item)
            continue;
        if (first)
            node->item->restoreBuffers(record.device);
        else
            node->item->restoreAsAdditional(record.device);
        first = false;
    }
    if (Device::SwapChain* chain = record.firstSwapChain())
        chain->beginFrame();
    // The camera's projection is the new one from here on.
    gWater.restoreAreas();
    RenderTexture::restoreSharedTargets();
    UserInterface::UIFont::createVertexBuffers();
    record.texProjList.restoreShadowMaps();
    Device::setInitialStates();
    // A camera that moved a little rebuilds everything that caches its position.
    if (gCamera)
        gCamera->position.x += 0.001f;
    record.device->BeginScene();
    EnvMap::renderAll();
    record.device->EndScene();
    for (auto* node = record.swapChains.head(); node; node = node->next)
        if (node->item && node->item->client)
            node->item->client->onDeviceRestored();
    record.resetting = 0;
}

}

void Device::reset(Device& record, const D3DPRESENT_PARAMETERS* parameters)
{
    CRASH_TRACE();
    // Without a swap chain there is no window to reset for, and rebuilt
    // parameters without one would be refused for ever.
    SwapChain* first = record.firstSwapChain();
    if (!record.device || record.inReset || !first)
        return;
    InResetScope scope(record);

    if (!record.resetting)
        releaseDeviceObjects(record);

    HRESULT r;
    do {
        Sleep(80);
        if (!pump(first))
            return;
        r = record.device->TestCooperativeLevel();
    } while (r == D3DERR_DEVICELOST);

    if (r != D3DERR_DRIVERINTERNALERROR) {
        D3DPRESENT_PARAMETERS attempt{};
        if (parameters)
            attempt = *parameters;
        else
            fillPresentParameters(record.presentSettings, first->presentParameters.hDeviceWindow, false, attempt);

        bool done = false;
        int invalidCalls = 0;
        while (!done) {
            CRASH_TRACE();
            if (!pump(first))
                return;
            r = record.device->Reset(&attempt);
            if (r == D3D_OK) {
                done = true;
            } else if (r == D3DERR_DEVICELOST) {
                Sleep(80);
            } else if (r == D3DERR_DRIVERINTERNALERROR || r == D3DERR_OUTOFVIDEOMEMORY) {
                break;
            } else if (r == D3DERR_INVALIDCALL) {
                // Rebuilt parameters the device refuses: fall back to the last
                // ones that worked. When those are refused too, the device
                // cannot come back: say so and let the program end.
                if (++invalidCalls >= invalidCallAttempts) {
                    showMessage(first->presentParameters.hDeviceWindow, L"D3D_Init_Error", L"Error", MB_ICONWARNING);
                    PostQuitMessage(0);
                    return;
                }
                if (invalidCalls <= 2)
                    Sleep(50);
                else
                    attempt = first->presentParameters;
            } else {
                Sleep(50);
            }
        }
        if (done) {
            const HWND window = attempt.hDeviceWindow ? attempt.hDeviceWindow : first->presentParameters.hDeviceWindow;
            if (attempt.Windowed)
                resizeWindow(window, attempt);
            first->presentParameters = attempt;
        }
    }

    if (record.resetting && record.device->TestCooperativeLevel() == D3D_OK)
        restoreDeviceObjects(record);
}

}
