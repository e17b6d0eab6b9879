// The application's effect scene while the main screen is shown: the
// showroom and, only on a target of the back buffer's size, the widgets,
// which are laid out in back-buffer pixels.
#include "../Render/TestDevice.h"

#include "Application/Korvanta.h"
#include "Menu/GameMenuMain.h"
#include "Menu/Panel.h"
#include "Render/DirectGraphics.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"

#include <gtest/gtest.h>

namespace {

int whitePixels(const TestDevice::Level& pixels)
{
    int n = 0;
    for (uint32_t y = 0; y < pixels.height; ++y)
        for (uint32_t x = 0; x < pixels.width; ++x)
            n += (pixels.at(x, y) & 0xFFFFFF) == 0xFFFFFF;
    return n;
}

}

TEST(KorvantaMainScreen, TheGlowTakesTheWidgetsOnlyOnATargetOfTheBackBuffersSize)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvantaMainScreenTest";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"Main screen test", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    {
        Korvanta app;
        app.window = window;
        ASSERT_TRUE(gDirectGraphics.init());
        ASSERT_EQ(app.createDevice(), 1u);
        D3D::Device::SwapChain& c = *app.swapChain;
        ASSERT_NE(app.gameMenu.createMain(), nullptr);
        app.gameMenu.menuState = GameMenu::mainState;
        // A white square of 20 x 20 at (4, 4).
        UserInterface::Panel square(&c, 5, 1.0f, 0.0f);
        square.x = 4;
        square.y = 4;
        square.textureWidth = 20.0f;
        square.textureHeight = 20.0f;
        square.colour = Color(255, 255, 255, 255);
        square.opacity = 1.0f;
        square.enabled = 1;

        c.beginFrame();
        gDevice->BeginScene();
        app.renderEffectScene();
        gDevice->EndScene();
        const TestDevice::Level whole = TestDevice::readSurface(c.targets[0].surface);
        EXPECT_EQ(whitePixels(whole), 400) << "the widgets on the back buffer";

        RenderTexture* small =
            RenderTexture::acquire(RenderTexture::shared, 64, 64, true, true, -1, D3DFMT_A8R8G8B8);
        ASSERT_NE(small, nullptr);
        c.pushRenderTarget(small->renderSurface, small->depthSurface);
        gDevice->BeginScene();
        app.renderEffectScene();
        gDevice->EndScene();
        const TestDevice::Level glow = TestDevice::readSurface(small->renderSurface);
        c.popRenderTarget();
        EXPECT_EQ(glow.width, 64u);
        EXPECT_EQ(whitePixels(glow), 0) << "no widgets on a smaller target";
        RenderTexture::releaseByKey(RenderTexture::shared, small);
        c.present();
        app.gameMenu.releaseScreens();
        app.releaseDevice();
        app.window = nullptr;
    }
    DestroyWindow(window);
}
