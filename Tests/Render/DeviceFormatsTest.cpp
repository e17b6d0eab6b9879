// The back-buffer and depth choices against a Direct3D object whose answers
// the test sets, and the multisample choice.
#include "Render/Antialiasing.h"
#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"

#include <d3d9.h>
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <tuple>
#include <utility>

namespace {

using D3D::Device;
using D3D::PresentSettings;

// Answers the format and multisample questions from its tables; everything
// else fails.
class FakeDirect3D : public IDirect3D9
{
public:
    D3DFORMAT displayFormat = D3DFMT_X8R8G8B8;
    std::set<std::pair<D3DFORMAT, D3DFORMAT>> deviceTypes; // (adapter, back buffer) accepted full screen
    std::set<D3DFORMAT> depthFormats;                      // accepted as depth-stencil surfaces
    std::set<D3DFORMAT> unmatchedDepth;                    // refused by CheckDepthStencilMatch
    std::set<std::pair<bool, int>> multisample;            // (depth format, sample type) supported
    DWORD nonMaskableLevels = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE RegisterSoftwareDevice(void*) override { return E_NOTIMPL; }
    UINT STDMETHODCALLTYPE GetAdapterCount() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetAdapterIdentifier(UINT, DWORD, D3DADAPTER_IDENTIFIER9*) override { return E_NOTIMPL; }
    UINT STDMETHODCALLTYPE GetAdapterModeCount(UINT, D3DFORMAT) override { return 0; }
    HRESULT STDMETHODCALLTYPE EnumAdapterModes(UINT, D3DFORMAT, UINT, D3DDISPLAYMODE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAdapterDisplayMode(UINT, D3DDISPLAYMODE* out) override
    {
        *out = D3DDISPLAYMODE{1024, 768, 60, displayFormat};
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceType(UINT, D3DDEVTYPE, D3DFORMAT adapter, D3DFORMAT back, WINBOOL) override
    {
        return deviceTypes.count({adapter, back}) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceFormat(UINT, D3DDEVTYPE, D3DFORMAT, DWORD usage, D3DRESOURCETYPE,
                                                D3DFORMAT format) override
    {
        return usage == D3DUSAGE_DEPTHSTENCIL && depthFormats.count(format) ? D3D_OK : D3DERR_NOTAVAILABLE;
    }
    HRESULT STDMETHODCALLTYPE CheckDeviceMultiSampleType(UINT, D3DDEVTYPE, D3DFORMAT format, WINBOOL,
                                                         D3DMULTISAMPLE_TYPE type, DWORD* levels) override
    {
        const bool depth = format == D3DFMT_D24S8 || format == D3DFMT_D16 || format == D3DFMT_D32;
        if (!multisample.count({depth, int(type)}))
            return D3DERR_NOTAVAILABLE;
        if (levels)
            *levels = nonMaskableLevels;
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

// The fake in gDirectGraphics for one test.
class DeviceFormats : public testing::Test
{
protected:
    void SetUp() override { saved = std::exchange(gDirectGraphics.direct3d, &fake); }
    void TearDown() override { gDirectGraphics.direct3d = saved; }
    FakeDirect3D fake;
    IDirect3D9* saved = nullptr;
};

TEST_F(DeviceFormats, BackBufferFollowsTheDesktopOrTheFirstAcceptedPair)
{
    PresentSettings wide;
    fake.deviceTypes = {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}, {D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5}};
    EXPECT_EQ(Device::chooseBackBufferFormat(wide, true), D3DFMT_X8R8G8B8);
    // A 16-bit desktop wants no 32 bits: full screen tries only the 16-bit pairs.
    PresentSettings narrow;
    fake.displayFormat = D3DFMT_R5G6B5;
    EXPECT_EQ(Device::chooseBackBufferFormat(narrow, false), D3DFMT_R5G6B5);
    EXPECT_EQ(Device::chooseBackBufferFormat(narrow, true), D3DFMT_A1R5G5B5);
    // Nothing accepted: the previous choice stays.
    fake.deviceTypes.clear();
    EXPECT_EQ(Device::chooseBackBufferFormat(narrow, true), D3DFMT_A1R5G5B5);
}

TEST_F(DeviceFormats, DepthWithStencilFirstThenByColourDepth)
{
    PresentSettings settings;
    settings.adapterFormat = D3DFMT_X8R8G8B8;
    settings.backBufferFormat = D3DFMT_A8R8G8B8;
    fake.depthFormats = {D3DFMT_D16, D3DFMT_D32, D3DFMT_D24X4S4, D3DFMT_D24S8};
    EXPECT_EQ(Device::chooseDepthFormat(settings), D3DFMT_D24S8);
    fake.unmatchedDepth = {D3DFMT_D24S8};
    EXPECT_EQ(Device::chooseDepthFormat(settings), D3DFMT_D24X4S4);
    fake.depthFormats = {D3DFMT_D16, D3DFMT_D32};
    EXPECT_EQ(Device::chooseDepthFormat(settings), D3DFMT_D32);
    settings.want32Bit = 0;
    EXPECT_EQ(Device::chooseDepthFormat(settings), D3DFMT_D16);
    fake.unmatchedDepth = {D3DFMT_D16};
    EXPECT_EQ(Device::chooseDepthFormat(settings), D3DFMT_D32);
    fake.depthFormats.clear();
    EXPECT_EQ(Device::chooseDepthFormat(settings), D3DFMT_UNKNOWN);
}

// A sample type counts only when both the back buffer and the depth format
// take it.
TEST_F(DeviceFormats, MultisampleModesNeedTheBackBufferAndTheDepthFormat)
{
    fake.deviceTypes = {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}};
    fake.depthFormats = {D3DFMT_D24S8};
    gDirectGraphics.record.presentSettings = PresentSettings();
    fake.nonMaskableLevels = 3;
    const int nonMaskable = int(D3DMULTISAMPLE_NONMASKABLE);
    const struct {
        std::set<int> back, depth;
        AntialiasingModes expected;
    } cases[] = {
        {{2, 4, 8, nonMaskable}, {2, 4, nonMaskable}, {1, 3, 2, 4}},
        {{2, 4}, {4, 8}, {0, 0, 2, 4}},
        {{2, 4, nonMaskable}, {}, {0, 0, 0, 0}},
        {{}, {2, 4, nonMaskable}, {0, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        fake.multisample.clear();
        for (int type : c.back)
            fake.multisample.insert({false, type});
        for (int type : c.depth)
            fake.multisample.insert({true, type});
        AntialiasingModes modes{9, 9, 9, 9};
        Antialiasing::detectModes(modes, false);
        EXPECT_EQ(std::tuple(modes.nonMaskable, modes.nonMaskableQualityLevels, modes.lowestType, modes.highestType),
                  std::tuple(c.expected.nonMaskable, c.expected.nonMaskableQualityLevels, c.expected.lowestType,
                             c.expected.highestType));
    }
    gDirectGraphics.record.presentSettings = PresentSettings();
}

TEST(Antialiasing, ChoiceFromTheSetting)
{
    EXPECT_EQ(Antialiasing::choose(2, AntialiasingModes{0, 0, 2, 4}).type, 4u);
    EXPECT_EQ(Antialiasing::choose(3, AntialiasingModes{0, 0, 2, 4}).type, 0u);
    // Non-maskable with quality n only while n is below the level count: n
    // equal to the count is refused by the device.
    EXPECT_EQ(Antialiasing::choose(3, AntialiasingModes{1, 8, 2, 4}).type, 0u);
    const Antialiasing::Choice c = Antialiasing::choose(3, AntialiasingModes{1, 9, 2, 4});
    EXPECT_EQ(c.type, uint32_t(D3DMULTISAMPLE_NONMASKABLE));
    EXPECT_EQ(c.quality, 8u);
}

}

// The present parameters of a window and of full screen: one back buffer
// discarded at each present, an automatic depth surface, the display's own
// refresh rate (a window must ask for 0), and the interval that vertical
// sync asks for.
TEST_F(DeviceFormats, PresentParametersForAWindowAndForFullScreen)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PresentParametersTest";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 200, 100, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    fake.deviceTypes = {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}};
    fake.depthFormats = {D3DFMT_D24S8};
    const struct {
        bool fullScreen;
        uint32_t verticalSync;
        UINT interval;
    } cases[] = {{false, 1, D3DPRESENT_INTERVAL_DEFAULT},
                 {false, 0, D3DPRESENT_INTERVAL_DEFAULT},
                 {true, 1, D3DPRESENT_INTERVAL_DEFAULT},
                 {true, 0, D3DPRESENT_INTERVAL_IMMEDIATE}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "full screen " << c.fullScreen << ", vertical sync " << c.verticalSync);
        PresentSettings settings;
        settings.verticalSync = c.verticalSync;
        settings.multiSampleType = 2;
        settings.multiSampleQuality = 1;
        D3DPRESENT_PARAMETERS pp;
        std::memset(&pp, 0xCD, sizeof(pp));
        Device::fillPresentParameters(settings, window, c.fullScreen, pp);
        EXPECT_EQ(pp.hDeviceWindow, window);
        EXPECT_EQ(pp.Windowed, c.fullScreen ? FALSE : TRUE);
        if (!c.fullScreen) { // 0 x 0: Direct3D takes the window's client area
            EXPECT_EQ(std::pair(pp.BackBufferWidth, pp.BackBufferHeight), std::pair(0u, 0u));
        }
        EXPECT_EQ(pp.BackBufferFormat, settings.backBufferFormat);
        EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D24S8);
        EXPECT_EQ(pp.EnableAutoDepthStencil, TRUE);
        EXPECT_EQ(pp.BackBufferCount, 1u);
        EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
        EXPECT_EQ(pp.MultiSampleType, D3DMULTISAMPLE_2_SAMPLES);
        EXPECT_EQ(pp.MultiSampleQuality, 1u);
        EXPECT_EQ(pp.FullScreen_RefreshRateInHz, 0u);
        EXPECT_EQ(pp.Flags, DWORD(D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL));
        EXPECT_EQ(pp.PresentationInterval, c.interval);
    }
    DestroyWindow(window);
    UnregisterClassW(wc.lpszClassName, wc.hInstance);
}
