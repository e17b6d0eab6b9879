#pragma once

#include "Render/DirectGraphics.h"

#include <d3d9.h>

#include <set>
#include <utility>
#include <vector>

// An IDirect3D9 that answers the format, mode and multisample questions from
// tables the test fills; everything else fails.
class FakeDirect3D : public IDirect3D9
{
public:
    D3DFORMAT displayFormat = D3DFMT_X8R8G8B8;
    std::set<std::pair<D3DFORMAT, D3DFORMAT>> deviceTypes; // (adapter, back buffer) accepted full screen
    std::set<D3DFORMAT> depthFormats;                      // accepted as depth-stencil surfaces
    std::set<D3DFORMAT> unmatchedDepth;                    // refused by CheckDepthStencilMatch
    std::set<std::pair<D3DFORMAT, int>> multiSample;       // (surface format, type) accepted
    DWORD nonMaskableLevels = 0;
    std::vector<D3DDISPLAYMODE> modes;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE RegisterSoftwareDevice(void*) override { return E_NOTIMPL; }
    UINT STDMETHODCALLTYPE GetAdapterCount() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT, DWORD, D3DADAPTER_IDENTIFIER9*) override { return E_NOTIMPL; }
    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT, D3DFORMAT format) override
    {
        return format == D3DFMT_X8R8G8B8 ? UINT(modes.size()) : 0;
    }
    HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT, D3DFORMAT, UINT mode, D3DDISPLAYMODE* out) override
    {
        if (mode >= modes.size())
            return D3DERR_INVALIDCALL;
        *out = modes[mode];
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT, D3DDISPLAYMODE* out) override
    {
        *out = D3DDISPLAYMODE{1024, 768, 60, displayFormat};
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT, D3DDEVTYPE, D3DFORMAT display, D3DFORMAT backBuffer, WINBOOL) override
    {
        return deviceTypes.count({display, backBuffer}) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD usage, D3DRESOURCETYPE,
                                                D3DFORMAT format) override
    {
        return usage == D3DUSAGE_DEPTHSTENCIL && depthFormats.count(format) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT, D3DDEVTYPE, D3DFORMAT format, WINBOOL,
                                                         D3DMULTISAMPLE_TYPE type, DWORD* levels) override
    {
        if (!multiSample.count({format, int(type)}))
            return D3DERR_NOTAVAILABLE;
        if (levels)
            *levels = type == D3DMULTISAMPLE_NONMASKABLE ? nonMaskableLevels : 1;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckDepthStencilMatch(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT, D3DFORMAT depth) override
    {
        return unmatchedDepth.count(depth) ? D3DERR_NOTAVAILABLE : D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceFormatConversion(UINT, D3DDEVTYPE, D3DFORMAT, D3DFORMAT) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceCaps(UINT, D3DDEVTYPE, D3DCAPS9*) override { return E_NOTIMPL; }
    HMONITOR STDMETHODCALLTYPE GetAdapterMonitor(UINT) override { return nullptr; }
    HRESULT STDMETHODCALLTYPE CreateDevice(UINT, D3DDEVTYPE, HWND, DWORD, D3DPRESENT_PARAMETERS*,
                                           IDirect3DDevice9**) override
    {
        return E_NOTIMPL;
    }
};

// Puts a fake in gDirectGraphics for one test, with fresh present settings.
struct UseFakeDirect3D
{
    explicit UseFakeDirect3D(IDirect3D9* fake) : saved(gDirectGraphics.direct3d)
    {
        gDirectGraphics.direct3d = fake;
        gDirectGraphics.record.presentSettings = D3D::PresentSettings{};
    }
    ~UseFakeDirect3D()
    {
        gDirectGraphics.direct3d = saved;
        gDirectGraphics.record.presentSettings = D3D::PresentSettings{};
        gDirectGraphics.modes.clear();
    }
    IDirect3D9* saved;
};
