#include "FakeDirect3D.h"

#include "Render/Antialiasing.h"
#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"

#include <d3dx9.h>
#include <gtest/gtest.h>

namespace {

using D3D::Device;
using D3D::PresentSettings;

TEST(BackBufferFormat, WindowedFollowsTheDesktop)
{
    FakeDirect3D fake;
    UseFakeDirect3D use(&fake);
    PresentSettings settings;
    EXPECT_EQ(Device::chooseBackBufferFormat(settings, false), D3DFMT_A8R8G8B8);
    EXPECT_EQ(settings.adapterFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(settings.want32Bit, 1u);

    // A 16-bit desktop: 16-bit formats and no wish for 32 bits, so a later
    // full-screen choice tries only the 16-bit pairs.
    fake.displayFormat = D3DFMT_R5G6B5;
    EXPECT_EQ(Device::chooseBackBufferFormat(settings, false), D3DFMT_R5G6B5);
    EXPECT_EQ(settings.adapterFormat, D3DFMT_R5G6B5);
    EXPECT_EQ(settings.want32Bit, 0u);
    fake.deviceTypes = {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}, {D3DFMT_X1R5G5B5, D3DFMT_A1R5G5B5}};
    EXPECT_EQ(Device::chooseBackBufferFormat(settings, true), D3DFMT_A1R5G5B5);
    EXPECT_EQ(settings.adapterFormat, D3DFMT_X1R5G5B5);

    // Any other desktop format leaves the settings alone.
    fake.displayFormat = D3DFMT_X1R5G5B5;
    EXPECT_EQ(Device::chooseBackBufferFormat(settings, false), D3DFMT_A1R5G5B5);
}

TEST(BackBufferFormat, FullScreenTakesTheFirstAcceptedPair)
{
    FakeDirect3D fake;
    UseFakeDirect3D use(&fake);
    PresentSettings settings;
    fake.deviceTypes = {{D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8}, {D3DFMT_R5G6B5, D3DFMT_R5G6B5}};
    EXPECT_EQ(Device::chooseBackBufferFormat(settings, true), D3DFMT_X8R8G8B8);

    // No 32-bit pair: the 16-bit ones.
    PresentSettings second;
    fake.deviceTypes = {{D3DFMT_R5G6B5, D3DFMT_R5G6B5}};
    EXPECT_EQ(Device::chooseBackBufferFormat(second, true), D3DFMT_R5G6B5);

    // Nothing accepted: the previous choice stays.
    fake.deviceTypes.clear();
    EXPECT_EQ(Device::chooseBackBufferFormat(second, true), D3DFMT_R5G6B5);
    EXPECT_EQ(second.adapterFormat, D3DFMT_R5G6B5);
}

TEST(DepthFormat, StencilFirstThenByColourDepth)
{
    FakeDirect3D fake;
    UseFakeDirect3D use(&fake);
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

TEST(Antialiasing, DetectsTypesSupportedByBothFormats)
{
    FakeDirect3D fake;
    UseFakeDirect3D use(&fake);
    fake.depthFormats = {D3DFMT_D24S8};
    fake.nonMaskableLevels = 4;
    fake.multiSample = {{D3DFMT_A8R8G8B8, 1}, {D3DFMT_D24S8, 1}, {D3DFMT_A8R8G8B8, 2}, {D3DFMT_D24S8, 2},
                        {D3DFMT_A8R8G8B8, 4}, {D3DFMT_D24S8, 4}, {D3DFMT_A8R8G8B8, 8}};
    AntialiasingModes modes;
    Antialiasing::detectModes(modes, false);
    EXPECT_EQ(modes.nonMaskable, 1u);
    EXPECT_EQ(modes.nonMaskableQualityLevels, 4u);
    EXPECT_EQ(modes.lowestType, 2u);
    EXPECT_EQ(modes.highestType, 4u); // 8 is refused for the depth format

    fake.multiSample.clear();
    Antialiasing::detectModes(modes, false);
    EXPECT_EQ(modes.nonMaskable, 0u);
    EXPECT_EQ(modes.lowestType, 0u);
    EXPECT_EQ(modes.highestType, 0u);

    UseFakeDirect3D none(nullptr);
    modes.highestType = 9;
    Antialiasing::detectModes(modes, false);
    EXPECT_EQ(modes.highestType, 0u);
}

TEST(Antialiasing, ChoiceFromTheSetting)
{
    const AntialiasingModes range{0, 0, 2, 4};
    EXPECT_EQ(Antialiasing::choose(0, range).type, 0u);
    EXPECT_EQ(Antialiasing::choose(1, range).type, 2u);
    EXPECT_EQ(Antialiasing::choose(2, range).type, 4u);
    EXPECT_EQ(Antialiasing::choose(3, range).type, 0u);

    // Non-maskable with quality n only when n is a valid quality value (n
    // below the level count); n equal to the count is refused by the device.
    const AntialiasingModes nonMaskable{1, 8, 2, 4};
    const Antialiasing::Choice c = Antialiasing::choose(3, nonMaskable);
    EXPECT_EQ(c.type, 0u);
    const AntialiasingModes moreLevels{1, 9, 2, 4};
    const Antialiasing::Choice d = Antialiasing::choose(3, moreLevels);
    EXPECT_EQ(d.type, uint32_t(D3DMULTISAMPLE_NONMASKABLE));
    EXPECT_EQ(d.quality, 8u);
    EXPECT_EQ(Antialiasing::choose(1, AntialiasingModes{}).type, 0u);
    EXPECT_EQ(Antialiasing::choose(40, moreLevels).type, 0u);
}

// A borderless window whose client area is width x height.
HWND makeWindow(int width, int height)
{
    return CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

TEST(PresentParameters, WindowedAndFullScreen)
{
    FakeDirect3D fake;
    UseFakeDirect3D use(&fake);
    fake.depthFormats = {D3DFMT_D24S8};
    fake.deviceTypes = {{D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}};
    fake.modes = {{640, 480, 60, D3DFMT_X8R8G8B8}, {1024, 768, 60, D3DFMT_X8R8G8B8},
                  {1024, 768, 75, D3DFMT_X8R8G8B8}, {800, 600, 60, D3DFMT_X8R8G8B8}};
    gDirectGraphics.modes.enumerate(&fake);
    ASSERT_EQ(gDirectGraphics.modes.count(), 3);

    HWND window = makeWindow(1000, 700);
    ASSERT_NE(window, nullptr);
    PresentSettings settings;
    settings.verticalSync = 0;
    settings.multiSampleType = 2;
    D3DPRESENT_PARAMETERS pp;
    Device::fillPresentParameters(settings, window, false, pp);
    EXPECT_EQ(pp.BackBufferWidth, 0u);
    EXPECT_EQ(pp.BackBufferHeight, 0u);
    EXPECT_EQ(pp.Windowed, TRUE);
    EXPECT_EQ(pp.hDeviceWindow, window);
    EXPECT_EQ(pp.BackBufferFormat, D3DFMT_A8R8G8B8);
    EXPECT_EQ(pp.AutoDepthStencilFormat, D3DFMT_D24S8);
    EXPECT_EQ(pp.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(pp.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(pp.MultiSampleType, D3DMULTISAMPLE_2_SAMPLES);
    EXPECT_EQ(pp.Flags, DWORD(D3DPRESENTFLAG_DISCARD_DEPTHSTENCIL));
    // Vertical sync off matters only in full screen.
    EXPECT_EQ(pp.PresentationInterval, UINT(D3DPRESENT_INTERVAL_DEFAULT));

    Device::fillPresentParameters(settings, window, true, pp);
    EXPECT_EQ(pp.BackBufferWidth, 1024u);
    EXPECT_EQ(pp.BackBufferHeight, 768u);
    EXPECT_EQ(pp.Windowed, FALSE);
    EXPECT_EQ(pp.PresentationInterval, UINT(D3DPRESENT_INTERVAL_IMMEDIATE));
    settings.verticalSync = 1;
    Device::fillPresentParameters(settings, window, true, pp);
    EXPECT_EQ(pp.PresentationInterval, UINT(D3DPRESENT_INTERVAL_DEFAULT));
    DestroyWindow(window);
}

TEST(ErrorName, KnownAndUnknownCodes)
{
    EXPECT_STREQ(D3D::getErrorName(D3DERR_DEVICELOST).text(), L"D3DERR_DEVICELOST");
    EXPECT_STREQ(D3D::getErrorName(D3D_OK).text(), L"D3D_OK");
    EXPECT_STREQ(D3D::getErrorName(S_PRESENT_OCCLUDED).text(), L"S_PRESENT_OCCLUDED");
    EXPECT_STREQ(D3D::getErrorName(D3DXERR_INVALIDDATA).text(), L"D3DXERR_INVALIDDATA");
    EXPECT_STREQ(D3D::getErrorName(E_FAIL).text(), L"Unknown Error");
}

}
