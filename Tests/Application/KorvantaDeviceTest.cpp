// The application's device on a window of the test: the back buffer follows
// the window's client area through the size messages, and a frame with the
// glow on ages the particles once.
#include "../Landscape/TerrainTestMaps.h"
#include "../Render/TestDevice.h"
#include "AppTestFiles.h"

#include "Application/GlobalSettings.h"
#include "Application/Korvanta.h"
#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"
#include "Landscape/Terrain.h"
#include "Render/GpuSmooth.h"
#include "Render/LightProj.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

// Resizes the window to a client area of width x height.
void setClientSize(HWND window, int width, int height)
{
    RECT frame{0, 0, width, height};
    AdjustWindowRect(&frame, DWORD(GetWindowLongW(window, GWL_STYLE)), FALSE);
    SetWindowPos(window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top, SWP_NOZORDER | SWP_NOMOVE);
}

std::pair<UINT, UINT> backBuffer(const Korvanta& app)
{
    D3DPRESENT_PARAMETERS parameters{};
    if (!app.swapChain || !app.swapChain->swapChain ||
        FAILED(app.swapChain->swapChain->GetPresentParameters(&parameters)))
        return {0, 0};
    return {parameters.BackBufferWidth, parameters.BackBufferHeight};
}

// A window of the test with a client area of width x height, gone with the
// scope.
class TestWindow
{
public:
    TestWindow(const wchar_t* className, int width, int height) : className_(className)
    {
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = className;
        RegisterClassW(&wc);
        window = CreateWindowExW(0, className, L"Device test", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 100, 100,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        if (window)
            setClientSize(window, width, height);
    }
    ~TestWindow()
    {
        DestroyWindow(window);
        UnregisterClassW(className_, GetModuleHandleW(nullptr));
    }
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND window = nullptr;

private:
    const wchar_t* className_;
};

int callbacks = 0;

uint32_t countAndShow(Particle& particle)
{
    ++callbacks;
    particle.hidden = 0;
    return 1;
}

// A sprite that counts its draws.
class CountedSprite final : public SpriteManager::Sprite
{
public:
    void draw() override
    {
        ++drawn;
        Sprite::draw();
    }
    int drawn = 0;
};

} // namespace

// Maximising and un-maximising both reset the device to the client size; a
// move does not, and a drag resets once, at its end.
TEST(KorvantaDevice, TheBackBufferFollowsTheWindowThroughItsSizeMessages)
{
    TestWindow testWindow(L"KorvantaDeviceTest", 640, 480);
    HWND window = testWindow.window;
    ASSERT_NE(window, nullptr);

    Korvanta app;
    app.window = window;
    ASSERT_TRUE(gDirectGraphics.init());
    ASSERT_EQ(app.createDevice(), 1u);
    EXPECT_EQ(backBuffer(app), std::make_pair(640u, 480u));

    // Every reset nudges the camera by 0.001 along x, which tells whether one ran.
    struct Step {
        const char* what;
        int width, height; // the client size before the message
        UINT message;
        WPARAM sizeType;
        std::pair<UINT, UINT> expected;
        bool reset;
    } steps[] = {
        {"maximised", 900, 600, WM_SIZE, SIZE_MAXIMIZED, {900, 600}, true},
        {"un-maximised", 640, 480, WM_SIZE, SIZE_RESTORED, {640, 480}, true},
        {"moved", 640, 480, WM_MOVE, 0, {640, 480}, false},
        {"drag begins", 640, 480, WM_ENTERSIZEMOVE, 0, {640, 480}, false},
        {"dragged", 700, 500, WM_SIZE, SIZE_RESTORED, {640, 480}, false},
        {"drag ends", 700, 500, WM_EXITSIZEMOVE, 0, {700, 500}, true},
        {"restored to the same size", 700, 500, WM_SIZE, SIZE_RESTORED, {700, 500}, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        setClientSize(window, step.width, step.height);
        const float x = app.swapChain->position.x;
        app.handleMessage(window, step.message, step.sizeType, MAKELPARAM(step.width, step.height));
        EXPECT_EQ(backBuffer(app), step.expected);
        EXPECT_EQ(gDirectGraphics.record.resetting, 0u);
        EXPECT_EQ(app.swapChain->position.x != x, step.reset);
    }

    app.releaseDevice();
    app.window = nullptr;
}

// The graphics settings take effect: the glow follows option 3 when the
// device is made, and the display call stores the back buffer's size and
// mode, passes the shadow option to the shadows and the bloom switch to the
// glow, then saves.
TEST(KorvantaDevice, GraphicsSettingsReachTheGlowAndTheShadows)
{
    TestWindow testWindow(L"KorvantaSettingsTest", 480, 360);
    HWND window = testWindow.window;
    ASSERT_NE(window, nullptr);
    const std::wstring folder = AppTestFiles::freshFolder(L"DisplaySettings");
    GlobalSettings settings(folder.c_str());
    GlobalSettings* previous = gSettings;
    gSettings = &settings;

    for (uint32_t glow : {0u, 1u}) {
        SCOPED_TRACE(glow);
        settings.options.option3 = glow;
        Korvanta app;
        app.window = window;
        ASSERT_TRUE(gDirectGraphics.init());
        ASSERT_EQ(app.createDevice(), 1u);
        const D3D::PostEffect& effect = gDirectGraphics.record.postEffect;
        EXPECT_EQ(effect.smoother != nullptr, glow == 1);
        EXPECT_EQ(effect.target != nullptr, glow == 1);
        if (glow) {
            EXPECT_EQ(effect.strength, 120u);
            EXPECT_EQ(effect.alpha, 170u);
        }

        for (uint32_t shadows : {0u, 1u, 2u}) {
            settings.options.shadowOption = shadows;
            settings.width = 1;
            app.applyDisplaySettings();
            EXPECT_EQ(settings.width, 480u);
            EXPECT_EQ(settings.height, 360u);
            EXPECT_FLOAT_EQ(settings.aspect, 480.0f / 360.0f);
            EXPECT_EQ(settings.options.fullScreen, 0u);
            EXPECT_EQ(app.scene.shadowManager.enabled, shadows != 0 ? 1 : 0);
            EXPECT_EQ(app.scene.shadowManager.blur, shadows == 2 ? 1.0f : 0.0f);
            GlobalSettings stored(folder.c_str());
            EXPECT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
            EXPECT_EQ(stored.options.shadowOption, shadows);
        }
        // The bloom switched and applied: the glow follows it at once.
        settings.options.option3 = 1 - glow;
        app.applyDisplaySettings();
        EXPECT_EQ(effect.smoother != nullptr, glow == 0);
        EXPECT_EQ(effect.target != nullptr, glow == 0);
        if (!glow) {
            EXPECT_EQ(effect.strength, 120u);
            EXPECT_EQ(effect.alpha, 170u);
        }
        GpuSmooth::configure(0, gDirectGraphics.record.postEffect, 0, 0);
        app.releaseDevice();
        app.window = nullptr;
    }
    gSettings = previous;
}

// The effect scene draws the particles and sprites again, as they stand.
TEST(KorvantaDevice, AFrameWithTheEffectSceneAgesParticlesOnce)
{
    TestWindow testWindow(L"KorvantaEffectsTest", 320, 240);
    ASSERT_NE(testWindow.window, nullptr);
    Korvanta app;
    app.window = testWindow.window;
    ASSERT_TRUE(gDirectGraphics.init());
    ASSERT_EQ(app.createDevice(), 1u);
    D3D::Device& record = gDirectGraphics.record;
    GpuSmooth::configure(256, record.postEffect, 120, 170);
    ASSERT_NE(record.postEffect.smoother, nullptr);
    app.active = 1;

    {
        TextureRef none;
        ParticleSystem system(countAndShow, D3DBLEND_SRCALPHA, *app.swapChain, none, 4, D3DBLEND_ONE, 1, true, false,
                              false);
        system.stopped = 0;
        CountedSprite sprite;
        SpriteManager::createSprite(sprite, *app.swapChain, nullptr, String(), 1);
        gFrameFactor.store(1.5f);
        for (int frame = 1; frame <= 3; ++frame) {
            app.render();
            EXPECT_EQ(callbacks, 4 * frame);
            EXPECT_EQ(system.particles.head()->item->age, 1.5f * float(frame));
        }
        EXPECT_EQ(sprite.drawn, 6) << "the sprites are drawn in the frame and in the effect scene";
    }

    GpuSmooth::configure(0, record.postEffect, 120, 170);
    app.active = 0;
    app.releaseDevice();
    app.window = nullptr;
}

// The glow's scene draws the ground as it is, without what is projected onto
// it (a light here), which only the frame's own ground pass adds.
TEST(KorvantaDevice, TheGlowSceneDrawsTheGroundWithoutItsProjections)
{
    TestWindow testWindow(L"KorvantaGlowGroundTest", 320, 240);
    ASSERT_NE(testWindow.window, nullptr);
    Korvanta app;
    app.window = testWindow.window;
    ASSERT_TRUE(gDirectGraphics.init());
    ASSERT_EQ(app.createDevice(), 1u);
    D3D::Device::SwapChain& c = *app.swapChain;

    auto map = TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 28.0f * 256.0f; });
    map.layers.push_back(TerrainTestMaps::flatLayer(0x2C64, 0, 255));
    const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(map);
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    ASSERT_TRUE(gTerrain.load(nullptr, TerrainTestMaps::settings(), stream));
    const float ground = gTerrain.getHeight(0.0f, 0.0f, 3);
    c.position = {0.0f, ground + 160.0f, -170.0f};
    c.angles = {0.0f, -45.0f, 0.0f};
    c.setAnglesDeg();
    c.Camera::update();
    gTerrain.startLod(static_cast<const Camera&>(c));
    {
        // A spot light looking straight down onto a few patches in view.
        LightProj light(0.0f);
        light.texture = TestDevice::makeTexture(4, 4, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0x80FFFFFFu; });
        light.coneAngle = 50.0f;
        light.range = 200.0f;
        const vec3d rows[4] = {{1, 0, 0}, {0, 0, 1}, {0, -1, 0}, {40.0f, ground + 120.0f, 60.0f}};
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 3; ++k)
                light.transform.at(r, k) = rows[r][k];
        light.update();
        ASSERT_EQ(light.disabled, 0u);
        light.receivers.append(&gTerrain);
        gTerrain.addTexProj(&light);
        gTerrain.update(c);

        c.beginFrame();
        const uint32_t& count = gDirectGraphics.record.primitiveCount;
        const auto drawn = [&](const std::function<void()>& draw) {
            const uint32_t before = count;
            gDevice->BeginScene();
            draw();
            gDevice->EndScene();
            return count - before;
        };
        const uint32_t plain = drawn([] { gTerrain.render(0); });
        const uint32_t lit = drawn([] { gTerrain.render(1); });
        const uint32_t glow = drawn([&] { app.renderEffectScene(); });
        c.present();
        EXPECT_GT(plain, 0u);
        EXPECT_GT(lit, plain) << "the light reaches some of the patches";
        EXPECT_EQ(glow, plain);
        gTerrain.clear();
    }
    app.releaseDevice();
    app.window = nullptr;
}
