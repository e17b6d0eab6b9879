// The application's frame with the glow on: its effect scene draws the
// particles again, but only the frame's own particle pass ages them.
#include "Application/Korvanta.h"
#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"
#include "Render/DirectGraphics.h"
#include "Render/GpuSmooth.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

namespace {

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

TEST(KorvantaEffects, AFrameWithTheEffectSceneAgesParticlesOnce)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KorvantaEffectsTest";
    RegisterClassW(&wc);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"Effects test", WS_POPUP | WS_VISIBLE, 0, 0, 320, 240, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    Korvanta app;
    app.window = window;
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
    DestroyWindow(window);
}
