// The blur passes on the real device, against a brute-force sum of the
// byte taps as the device blends them.
#include "TestDevice.h"

#include "Render/GpuSmooth.h"
#include "Render/RenderTexture.h"

#include <algorithm>
#include <cmath>

using namespace TestDevice;

namespace {

struct Rgba
{
    double r = 0, g = 0, b = 0, a = 0;
};
using Pixels = std::vector<Rgba>;

double halfToDouble(uint16_t h)
{
    const int exponent = (h >> 10) & 0x1F;
    const int mantissa = h & 0x3FF;
    const double sign = h & 0x8000 ? -1.0 : 1.0;
    if (exponent == 0)
        return sign * std::ldexp(mantissa, -24);
    return sign * std::ldexp(1024 + mantissa, exponent - 25);
}

// A render target's pixels as 0..1 channels (A8R8G8B8 or A16B16G16R16F).
Pixels readPixels(IDirect3DSurface9* surface)
{
    Pixels out;
    D3DSURFACE_DESC desc{};
    IDirect3DSurface9* copy = nullptr;
    if (!surface || FAILED(surface->GetDesc(&desc)) ||
        FAILED(gDevice->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                    nullptr)))
        return out;
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(gDevice->GetRenderTargetData(surface, copy)) &&
        SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        for (uint32_t y = 0; y < desc.Height; ++y)
            for (uint32_t x = 0; x < desc.Width; ++x) {
                const uint8_t* row = static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch;
                Rgba p;
                if (desc.Format == D3DFMT_A16B16G16R16F) {
                    uint16_t h[4];
                    std::memcpy(h, row + x * 8, 8);
                    p = {halfToDouble(h[0]), halfToDouble(h[1]), halfToDouble(h[2]), halfToDouble(h[3])};
                } else {
                    const Color c = Color::fromArgb(*reinterpret_cast<const uint32_t*>(row + x * 4));
                    p = {c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0};
                }
                out.push_back(p);
            }
        copy->UnlockRect();
    }
    copy->Release();
    return out;
}

Pixels fromTexels(uint32_t width, uint32_t height, const std::function<uint32_t(uint32_t, uint32_t)>& texel)
{
    Pixels out;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const Color c = Color::fromArgb(texel(x, y));
            out.push_back({c.r / 255.0, c.g / 255.0, c.b / 255.0, c.a / 255.0});
        }
    return out;
}

// One pass as the card draws it: each tap adds the source shifted by
// (k - half) texels, point-sampled and clamped at the edges, into a cleared
// target; an 8-bit target rounds and saturates after every tap.
Pixels blurPass(const Pixels& source, int width, int height, const std::vector<uint8_t>& taps, bool vertical,
                uint32_t blendMode, bool eightBit)
{
    Pixels out(source.size());
    const int half = (int(taps.size()) - 1) / 2;
    const auto settle = [eightBit](double v) {
        v = std::clamp(v, 0.0, 1.0);
        return eightBit ? std::round(v * 255.0) / 255.0 : v;
    };
    for (size_t k = 0; k < taps.size(); ++k) {
        const double w = taps[k] / 255.0;
        const int shift = int(k) - half;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const int sx = vertical ? x : std::clamp(x + shift, 0, width - 1);
                const int sy = vertical ? std::clamp(y + shift, 0, height - 1) : y;
                const Rgba& s = source[size_t(sy) * width + sx];
                Rgba& d = out[size_t(y) * width + x];
                const double colourFactor = blendMode == 0 ? w : 1.0;
                d.r = settle(d.r + s.r * colourFactor);
                d.g = settle(d.g + s.g * colourFactor);
                d.b = settle(d.b + s.b * colourFactor);
                d.a = settle(d.a + (blendMode == 0 ? w * w : s.a * w));
            }
    }
    return out;
}

// The largest difference of any channel, in 1/255 steps.
double largestDifference(const Pixels& a, const Pixels& b)
{
    if (a.size() != b.size() || a.empty())
        return 1e9;
    double worst = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
        worst = std::max({worst, std::fabs(a[i].r - b[i].r), std::fabs(a[i].g - b[i].g), std::fabs(a[i].b - b[i].b),
                          std::fabs(a[i].a - b[i].a)});
    return worst * 255.0;
}

class GpuSmoothing : public DeviceSuite
{
};

TEST(GpuSmoothTaps, BytesOfTheKernelWithoutZeros)
{
    GaussKernel kernel;
    kernel.build(1.5f);
    EXPECT_EQ(kernel.halfWidth, 6);
    uint8_t taps[GpuSmooth::maxTaps];
    ASSERT_EQ(GpuSmooth::tapBytes(kernel, taps), 9u);
    EXPECT_EQ(std::vector<uint8_t>(taps, taps + 9), (std::vector<uint8_t>{2, 9, 28, 54, 68, 54, 28, 9, 2}));

    // Weights that all round to zero still draw one full tap: a plain copy.
    GaussKernel flat;
    flat.halfWidth = 3;
    for (int i = 0; i < 7; ++i)
        flat.weights[i] = 0.0015f;
    ASSERT_EQ(GpuSmooth::tapBytes(flat, taps), 1u);
    EXPECT_EQ(taps[0], 255);
}

TEST_F(GpuSmoothing, PassesMatchTheBruteForceSumOfTheTaps)
{
    constexpr uint32_t side = 32;
    const auto whiteTexel = [](uint32_t x, uint32_t y) { return x == 13 && y == 17 ? 0xFFFFFFFFu : 0x40000000u; };
    const auto ramp = [](uint32_t x, uint32_t y) {
        return uint32_t(255 - y * 7) << 24 | (x * 8) << 16 | (y * 8) << 8 | ((x + y) * 4 % 256);
    };
    struct Case
    {
        const char* name;
        std::function<uint32_t(uint32_t, uint32_t)> image;
        uint32_t format;
        uint32_t mode;
        uint32_t blendMode;
        float radius;
        bool border = false; // a frame of alpha 255 round the result
    };
    const Case cases[] = {
        {"white texel, weighted", whiteTexel, D3DFMT_A16B16G16R16F, 0, 0, 1.5f},
        {"white texel, additive", whiteTexel, D3DFMT_A8R8G8B8, 0, 1, 1.5f},
        {"ramp, weighted", ramp, D3DFMT_A8R8G8B8, 0, 0, 1.5f},
        {"ramp, weighted, float", ramp, D3DFMT_A16B16G16R16F, 0, 0, 1.5f},
        {"ramp, copy", ramp, D3DFMT_A8R8G8B8, 0, 0, 0.0f},
        {"ramp into a cube face", ramp, D3DFMT_A8R8G8B8, 1, 1, 1.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextureRef source = makeTexture(side, side, D3DFMT_A8R8G8B8, c.image);
        GpuSmooth smoother(c.format);
        ASSERT_TRUE(smoother.create({float(side), float(side)}, c.mode, c.blendMode, c.radius, -1, -1));
        const bool eightBit = smoother.format == D3DFMT_A8R8G8B8;
        constexpr uint32_t face = 3;
        ASSERT_EQ(gDevice->BeginScene(), D3D_OK);
        smoother.run(source, face, false, c.border);
        gDevice->EndScene();

        uint8_t tapArray[GpuSmooth::maxTaps];
        const std::vector<uint8_t> taps(tapArray, tapArray + GpuSmooth::tapBytes(smoother.kernel, tapArray));
        const Pixels across = blurPass(fromTexels(side, side, c.image), side, side, taps, false, c.blendMode, eightBit);
        Pixels expected = blurPass(across, side, side, taps, true, c.blendMode, eightBit);
        for (uint32_t i = 0; c.border && i < side * side; ++i)
            if (i % side == 0 || i % side == side - 1 || i / side == 0 || i / side == side - 1)
                expected[i].a = 1.0;

        IDirect3DSurface9* result = nullptr;
        if (c.mode == 0)
            result = smoother.second->renderSurface, result->AddRef();
        else
            smoother.cubeTexture.texture()->cubeTexture->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &result);
        ASSERT_NE(result, nullptr);
        EXPECT_LE(largestDifference(readPixels(result), expected), 2.0);
        result->Release();
    }
}

TEST_F(GpuSmoothing, FloatTargetsFallBackWhenTheDeviceCannotBlendThem)
{
    const uint32_t offered = gDirectGraphics.floatTargetBlend;
    for (uint32_t blend : {0u, 1u}) {
        gDirectGraphics.floatTargetBlend = blend;
        GpuSmooth smoother(D3DFMT_A16B16G16R16F);
        ASSERT_TRUE(smoother.create({64.0f, 32.0f}, 0, 0, 1.5f, -1, -1));
        const uint32_t want = blend ? D3DFMT_A16B16G16R16F : D3DFMT_A8R8G8B8;
        EXPECT_EQ(smoother.format, want);
        EXPECT_EQ(smoother.first->format, want);
        EXPECT_EQ(smoother.second->format, want);
        EXPECT_EQ(smoother.first->width, 64);
        EXPECT_EQ(smoother.second->height, 32);
        // The passes never read their targets back: no system-memory copies.
        EXPECT_FALSE(smoother.first->lockTexture.isBound());
        EXPECT_FALSE(smoother.second->lockTexture.isBound());
    }
    gDirectGraphics.floatTargetBlend = offered;
}

// Passes are ready, and create says so, only with a place for the result:
// the second target (mode 0) or the cube texture (mode 1).
TEST_F(GpuSmoothing, CreateReportsWhetherThePassesCanRun)
{
    struct Case
    {
        float side;
        uint32_t mode;
        bool ready;
    };
    for (const Case& c : {Case{32, 0, true}, Case{32, 1, true}, Case{32, 2, false}, Case{0, 0, false}}) {
        SCOPED_TRACE(c.mode * 100 + uint32_t(c.side));
        GpuSmooth smoother;
        EXPECT_EQ(smoother.create({c.side, c.side}, c.mode, 0, 1.5f, -1, -1), c.ready);
        EXPECT_EQ(smoother.ready(), c.ready);
        EXPECT_EQ(smoother.getResultTexture() != nullptr, c.mode < 2 && c.side > 0);
    }
}

TEST_F(GpuSmoothing, AMenuBackdropCapturesTheFrameOnceAndBlursIt)
{
    RenderTexture* target = nullptr;
    GpuSmooth smoother;
    ASSERT_TRUE(GpuSmooth::createForTarget(target, smoother, 64));
    RenderTexture* first = target;
    ASSERT_TRUE(GpuSmooth::createForTarget(target, smoother, 64));
    EXPECT_EQ(target, first);
    EXPECT_EQ(target->key, 36);
    EXPECT_NE(target->depthSurface, nullptr);

    // The frame's scene: a white square over texels 16 to 47, on black,
    // drawn behind a depth the capture held before (cleared for the frame).
    chain().pushRenderTarget(target->renderSurface, target->depthSurface);
    gDevice->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0, 0.0f, 0);
    chain().popRenderTarget();
    client->afterScene = [] {
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET, 0x00000000, 1.0f, 0);
        struct Corner
        {
            float x, y, z, rhw;
            uint32_t colour;
        };
        const Corner square[4] = {{15.5f, 15.5f, 0.5f, 1.0f, 0xFFFFFFFF},
                                  {47.5f, 15.5f, 0.5f, 1.0f, 0xFFFFFFFF},
                                  {15.5f, 47.5f, 0.5f, 1.0f, 0xFFFFFFFF},
                                  {47.5f, 47.5f, 0.5f, 1.0f, 0xFFFFFFFF}};
        gDevice->SetTexture(0, nullptr);
        gDevice->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
        gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, square, sizeof(Corner));
    };
    client->calls.clear();
    GpuSmooth::renderScene(target, smoother, *chain().beginFrame());
    client->afterScene = nullptr;
    EXPECT_EQ(std::count(client->calls.begin(), client->calls.end(), "beforeUi"), 0);

    IDirect3DSurface9* result = smoother.second->renderSurface;
    const Pixels blurred = readPixels(result);
    ASSERT_EQ(blurred.size(), 64u * 64u);
    const auto at = [&](int x, int y) { return blurred[size_t(y) * 64 + x]; };
    EXPECT_GT(at(32, 32).r, 0.99); // inside the square
    EXPECT_EQ(at(2, 2).r, 0.0);    // far from it
    EXPECT_GT(at(16, 32).r, 0.2);  // its edge, blurred
    EXPECT_LT(at(16, 32).r, 0.8);
    for (int x : {0, 31, 63})
        EXPECT_EQ(at(x, 5).a, 1.0); // alpha filled
}

}
