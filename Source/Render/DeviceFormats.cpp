// The format, depth and multisample choices and the present parameters.
#include "Render/Antialiasing.h"
#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"

#include "Core/CrashTrace.h"

namespace D3D {

D3DFORMAT Device::chooseBackBufferFormat(PresentSettings& settings, bool fullScreen)
{
    CRASH_TRACE();
    IDirect3D9* d3d = gDirectGraphics.direct3d;
    if (!d3d)
        return settings.backBufferFormat;

    if (!fullScreen) {
        D3DDISPLAYMODE mode{};
        if (SUCCEEDED(d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode))) {
            if (mode.Format == D3DFMT_X8R8G8B8) {
                settings.backBufferFormat = D3DFMT_A8R8G8B8;
                settings.adapterFormat = D3DFMT_X8R8G8B8;
                settings.want32Bit = 1;
            } else if (mode.Format == D3DFMT_R5G6B5) {
                settings.backBufferFormat = D3DFMT_R5G6B5;
                settings.adapterFormat = D3DFMT_R5G6B5;
                settings.want32Bit = 0;
            }
        }
        return settings.backBufferFormat;
    }

    struct Pair
    {
        D3DFORMAT adapter;
        D3DFORMAT backBuffer;
    };
    static constexpr Pair pairs32[] = {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}, {D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}};
    static constexpr Pair pairs16[] = {
        {D3DFMT_R5G6B5, D3DFMT_R5G6B5}, {D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5}, {D3DFMT_X1R5G5B5, D3DFMT_X1R5G5B5}};
    auto accepted = [d3d](const Pair& p) {
        return SUCCEEDED(d3d->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, p.adapter, p.backBuffer, FALSE));
    };
    const Pair* chosen = nullptr;
    if (settings.want32Bit)
        for (const Pair& p : pairs32)
            if (!chosen && accepted(p))
                chosen = &p;
    if (!chosen)
        for (const Pair& p : pairs16)
            if (!chosen && accepted(p))
                chosen = &p;
    if (chosen) {
        settings.adapterFormat = chosen->adapter;
        settings.backBufferFormat = chosen->backBuffer;
    }
    return settings.backBufferFormat;
}

D3DFORMAT Device::chooseDepthFormat(PresentSettings& settings)
{
    CRASH_TRACE();
    IDirect3D9* d3d = gDirectGraphics.direct3d;
    if (!d3d)
        return D3DFMT_UNKNOWN;
    auto accepted = [&](D3DFORMAT candidate) {
        return SUCCEEDED(d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, settings.adapterFormat,
                                                D3DUSAGE_DEPTHSTENCIL, D3DRTYPE_SURFACE, candidate))
            && SUCCEEDED(d3d->CheckDepthStencilMatch(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, settings.adapterFormat,
                                                     settings.backBufferFormat, candidate));
    };
    static constexpr D3DFORMAT order32[] = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D32, D3DFMT_D24X8, D3DFMT_D16};
    static constexpr D3DFORMAT order16[] = {D3DFMT_D24S8, D3DFMT_D24X4S4, D3DFMT_D16, D3DFMT_D24X8, D3DFMT_D32};
    for (D3DFORMAT candidate : settings.want32Bit ? order32 : order16)
        if (accepted(candidate))
            return candidate;
    return D3DFMT_UNKNOWN;
}

void Device::fillPresentParameters(PresentSettings& settings, HWND window, bool fullScreen,
                                   D3DPRESENT_PARAMETERS& parameters)
{
    CRASH_TRACE();
    parameters = D3DPRESENT_PARAMETERS{};
    RECT client{};
    if (window)
        GetClientRect(window, &client);
    if (fullScreen) {
        const intvec2d mode =
            gDirectGraphics.modes.findNearest({client.right - client.left, client.bottom - client.top});
        parameters.BackBufferWidth = UINT(mode.x);
        parameters.BackBufferHeight = UINT(mode.y);
    }
    parameters.hDeviceWindow = window;
    parameters.Windowed = fullScreen ? FALSE : TRUE;
    parameters.BackBufferFormat = chooseBackBufferFormat(settings, fullScreen);
    parameters.AutoDepthStencilFormat = chooseDepthFormat(settings);
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.BackBufferCount = 1;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.MultiSampleType = D3DMULTISAMPLE_TYPE(settings.multiSampleType);
    parameters.MultiSampleQuality = settings.multiSampleQuality;
    parameters.FullScreen_RefreshRateInHz = 0;
    parameters.Flags = D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL;
    parameters.PresentationInterval =
        fullScreen && !settings.verticalSync ? D3DPRESENT_INTERVAL_IMMEDIATE : D3DPRESENT_INTERVAL_DEFAULT;
}

}

namespace Antialiasing {

void detectModes(AntialiasingModes& out, bool fullScreen)
{
    CRASH_TRACE();
    out = AntialiasingModes{};
    IDirect3D9* d3d = gDirectGraphics.direct3d;
    if (!d3d)
        return;
    D3D::PresentSettings& settings = gDirectGraphics.record.presentSettings;
    const D3DFORMAT backBuffer = D3D::Device::chooseBackBufferFormat(settings, fullScreen);
    const D3DFORMAT depth = D3D::Device::chooseDepthFormat(settings);
    const BOOL windowed = fullScreen ? FALSE : TRUE;
    auto supported = [&](D3DMULTISAMPLE_TYPE type, DWORD* levels) {
        return SUCCEEDED(d3d->CheckDeviceMultiSampleType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, backBuffer, windowed,
                                                         type, levels))
            && SUCCEEDED(d3d->CheckDeviceMultiSampleType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, depth, windowed, type,
                                                         nullptr));
    };
    DWORD levels = 0;
    if (supported(D3DMULTISAMPLE_NONMASKABLE, &levels)) {
        out.nonMaskable = 1;
        out.nonMaskableQualityLevels = levels;
    }
    for (uint32_t type = 2; type <= 16; ++type) {
        if (supported(D3DMULTISAMPLE_TYPE(type), nullptr)) {
            out.lowestType = 2;
            out.highestType = type;
        }
    }
}

Choice choose(uint32_t setting, const AntialiasingModes& modes)
{
    const bool anyType = modes.lowestType != 0 && modes.highestType != 0;
    if (setting == 0 || setting > 4 || (!modes.nonMaskable && !anyType))
        return {};
    const uint32_t n = 1u << setting;
    if (anyType && n >= modes.lowestType && n <= modes.highestType)
        return {n, 0};
    // Quality values run from 0 to levels - 1: n equal to the level count
    // would make the device refuse the present parameters.
    if (modes.nonMaskable && n < modes.nonMaskableQualityLevels)
        return {uint32_t(D3DMULTISAMPLE_NONMASKABLE), n};
    return {};
}

}
