// The glow over a finished frame on the real device: the effect scene's
// bright excess, blurred, added with the weight alpha / 255.
#include "TestDevice.h"

#include "Render/GpuSmooth.h"
#include "Render/RenderTexture.h"

using namespace TestDevice;

namespace {

class PostEffect : public DeviceSuite
{
protected:
    void TearDown() override
    {
        GpuSmooth::configure(0, gDirectGraphics.record.postEffect, 0, 0);
        client->effectScene = nullptr;
    }

    // One frame over a back buffer of grey 80 whose effect scene is grey 100
    // with a square of squareGrey, by default over texels 16 to 47 of 64.
    static Level frame(uint32_t squareGrey, D3DRECT square = {16, 16, 48, 48})
    {
        client->effectScene = [squareGrey, square] {
            gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF646464, 1.0f, 0);
            gDevice->Clear(1, &square, D3DCLEAR_TARGET, 0xFF000000 | squareGrey * 0x010101, 1.0f, 0);
        };
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF505050, 1.0f, 0);
        c.render(false);
        Level pixels = readSurface(c.targets[0].surface);
        keepView(c.targets[0].surface);
        c.present();
        return pixels;
    }

    // Pixels of the 320 x 240 frame well inside the square's image, and well
    // away from it (the blur reaches four texels, five pixels each across).
    static bool inside(uint32_t x, uint32_t y) { return x >= 110 && x < 210 && y >= 85 && y < 155; }
    static bool outside(uint32_t x, uint32_t y) { return x < 50 || x >= 270 || y < 35 || y >= 205; }
};

TEST_F(PostEffect, BrightExcessIsBlurredAndAddedOverTheFrame)
{
    constexpr uint32_t strength = 120, alpha = 170;
    GpuSmooth::configure(64, gDirectGraphics.record.postEffect, strength, alpha);
    ASSERT_NE(gDirectGraphics.record.postEffect.smoother, nullptr);
    ASSERT_TRUE(gDirectGraphics.record.postEffect.smoother->ready());

    struct Case
    {
        uint32_t squareGrey;
        uint32_t insideGrey; // 80 plus the excess over 255 - strength, times alpha / 255
    };
    for (const Case& c : {Case{255, 80 + (255 - (255 - strength)) * alpha / 255}, Case{130, 80}}) {
        SCOPED_TRACE(c.squareGrey);
        const Level pixels = frame(c.squareGrey);
        ASSERT_EQ(pixels.width, 320u);
        int wrongInside = 0, wrongOutside = 0, lowered = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            for (uint32_t x = 0; x < pixels.width; ++x) {
                const int grey = int(pixels.at(x, y) & 0xFF);
                wrongInside += inside(x, y) && std::abs(grey - int(c.insideGrey)) > 2;
                wrongOutside += outside(x, y) && grey != 80;
                lowered += grey < 80 || grey > int(c.insideGrey) + 2;
            }
        EXPECT_EQ(wrongInside, 0);
        EXPECT_EQ(wrongOutside, 0);
        EXPECT_EQ(lowered, 0);
    }

    // A bright corner glows where it is and does not wrap round to the
    // opposite edges (the square covers pixels 0 to 79 by 0 to 59).
    const Level corner = frame(255, {0, 0, 16, 16});
    EXPECT_GT(int(corner.at(20, 20) & 0xFF), 80 + 40);
    int wrapped = 0;
    for (uint32_t y = 0; y < corner.height; ++y)
        for (uint32_t x = 0; x < corner.width; ++x)
            wrapped += (x >= 280 || y >= 200) && (corner.at(x, y) & 0xFF) != 80;
    EXPECT_EQ(wrapped, 0);
}

TEST_F(PostEffect, SizeZeroSwitchesTheGlowOff)
{
    GpuSmooth::configure(64, gDirectGraphics.record.postEffect, 120, 170);
    GpuSmooth::configure(0, gDirectGraphics.record.postEffect, 120, 170);
    EXPECT_EQ(gDirectGraphics.record.postEffect.smoother, nullptr);
    EXPECT_EQ(gDirectGraphics.record.postEffect.target, nullptr);
    client->calls.clear();
    const Level pixels = frame(255);
    EXPECT_EQ(wrongTexels(pixels, [](uint32_t, uint32_t) { return 0x505050u; }, 0xFFFFFF), 0);
    EXPECT_EQ(std::count(client->calls.begin(), client->calls.end(), "renderEffectScene"), 0);
}

}
