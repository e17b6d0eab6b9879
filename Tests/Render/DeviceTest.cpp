// A real Direct3D 9 device on a test window (Wine and Xvfb in the test run).
#include "Render/BufferPool.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"

#include "Core/ArrayHeap.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Calls = std::vector<std::string>;

class RecordingClient final : public D3D::SwapChainInterface
{
public:
    void renderShadowMaps() override { calls.push_back("renderShadowMaps"); }
    void renderAfterScene() override
    {
        calls.push_back("renderAfterScene");
        if (afterScene)
            afterScene();
    }
    void renderEffectScene() override { calls.push_back("renderEffectScene"); }
    void beforeUi() override { calls.push_back("beforeUi"); }
    void afterUi() override { calls.push_back("afterUi"); }
    void renderOcclusionPass() override
    {
        calls.push_back("renderOcclusionPass");
        if (occlusionPass)
            occlusionPass();
    }
    void renderLoadProgress() override { calls.push_back("renderLoadProgress"); }
    void onDeviceLost() override { calls.push_back("onDeviceLost"); }
    void onDeviceReset() override { calls.push_back("onDeviceReset"); }
    uint32_t pumpMessages() override
    {
        // Consecutive pumps are recorded once: their number depends on timing.
        if (calls.empty() || calls.back() != "pumpMessages")
            calls.push_back("pumpMessages");
        if (duringPump)
            duringPump();
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return 0;
            DispatchMessageW(&message);
        }
        return quitInPump ? 0 : 1;
    }
    void onDeviceRestored() override { calls.push_back("onDeviceRestored"); }

    Calls calls;
    std::function<void()> afterScene;
    std::function<void()> duringPump;
    std::function<void()> occlusionPass;
    bool quitInPump = false;
};

HWND makeWindow(int clientWidth, int clientHeight)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"RenderDeviceTest";
    RegisterClassW(&wc);
    constexpr DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    RECT frame{0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&frame, style, FALSE);
    return CreateWindowExW(0, wc.lpszClassName, L"Render device test", style, 0, 0, frame.right - frame.left,
                           frame.bottom - frame.top, nullptr, nullptr, wc.hInstance, nullptr);
}

// The back buffer's pixels, read before Present.
struct Pixels
{
    UINT width = 0, height = 0;
    std::vector<uint32_t> argb;
    uint32_t rgb(UINT x, UINT y) const { return argb[y * width + x] & 0xFFFFFF; }
};

Pixels readBackBuffer(D3D::Device::SwapChain& chain)
{
    Pixels out;
    IDirect3DSurface9* back = chain.targets[0].surface;
    if (!back)
        return out;
    D3DSURFACE_DESC desc{};
    back->GetDesc(&desc);
    IDirect3DSurface9* copy = nullptr;
    if (FAILED(gDevice->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                    nullptr)))
        return out;
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(gDevice->GetRenderTargetData(back, copy)) && SUCCEEDED(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        out.width = desc.Width;
        out.height = desc.Height;
        out.argb.resize(size_t(desc.Width) * desc.Height);
        for (UINT y = 0; y < desc.Height; ++y)
            std::memcpy(&out.argb[y * desc.Width], static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch,
                        desc.Width * 4);
        copy->UnlockRect();
    }
    copy->Release();
    return out;
}

// A 4 x 4 texture whose texel (x, y) has red 40 x + 20, green 40 y + 20, blue 200.
IDirect3DTexture9* makePatternTexture()
{
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(gDevice->CreateTexture(4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr)))
        return nullptr;
    D3DLOCKED_RECT locked{};
    texture->LockRect(0, &locked, nullptr, 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + y * locked.Pitch)[x] =
                0xFF000000u | uint32_t(40 * x + 20) << 16 | uint32_t(40 * y + 20) << 8 | 200u;
    texture->UnlockRect(0);
    return texture;
}

uint32_t patternAt(int x, int y) { return uint32_t(40 * x + 20) << 16 | uint32_t(40 * y + 20) << 8 | 200u; }

class RenderDevice : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        window = makeWindow(320, 240);
        ASSERT_NE(window, nullptr);
        ASSERT_TRUE(gDirectGraphics.init());
        client = new RecordingClient;
        ASSERT_TRUE(D3D::Device::create(gDirectGraphics.record, window, false, client));
    }

    static void TearDownTestSuite()
    {
        gDirectGraphics.release();
        delete client;
        client = nullptr;
        if (window)
            DestroyWindow(window);
    }

    static D3D::Device::SwapChain& chain() { return *gDirectGraphics.record.firstSwapChain(); }

    static HWND window;
    static RecordingClient* client;
};

HWND RenderDevice::window = nullptr;
RecordingClient* RenderDevice::client = nullptr;

TEST_F(RenderDevice, CreationRestoresTheSwapChainForTheWindow)
{
    ASSERT_NE(gDevice, nullptr);
    EXPECT_EQ(gDevice, gDirectGraphics.record.device);
    ASSERT_EQ(gDirectGraphics.record.swapChains.count(), 1);
    EXPECT_EQ(client->calls, (Calls{"onDeviceReset"}));
    EXPECT_EQ(chain().presentParameters.BackBufferWidth, 320u);
    EXPECT_EQ(chain().presentParameters.BackBufferHeight, 240u);
    EXPECT_EQ(chain().presentParameters.hDeviceWindow, window);
    // The projection fits the back buffer: x scale = 240 / 320 of the y scale.
    EXPECT_NEAR(chain().projection.m[0], 0.75f * chain().projection.m[5], 1e-6f);
    EXPECT_EQ(gCamera, &chain());
    EXPECT_EQ(gSunLight, &chain().sun);
    D3DCAPS9 caps{};
    gDevice->GetDeviceCaps(&caps);
    EXPECT_EQ(Light::freeIndexCount(), int32_t(caps.MaxActiveLights) - 1);
}

TEST_F(RenderDevice, FrameRunsTheHooksInOrderAndDrawsWhatTheyDraw)
{
    IDirect3DTexture9* texture = makePatternTexture();
    ASSERT_NE(texture, nullptr);
    client->calls.clear();
    client->afterScene = [texture] {
        gDevice->SetTexture(0, texture);
        gDevice->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        gDevice->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        drawScreenRect(64, 64, -1, -1, 0.0f);
        gDevice->SetTexture(0, nullptr);
    };

    D3D::Device::SwapChain* frame = chain().beginFrame();
    EXPECT_EQ(frame, &chain());
    EXPECT_EQ(gDirectGraphics.record.currentSwapChain, frame);
    EXPECT_EQ(gDirectGraphics.record.projectionStack[0], &frame->projection);
    EXPECT_EQ(gDirectGraphics.record.viewStack[0], &frame->view);
    EXPECT_EQ(frame->targets[0].width, 320u);
    EXPECT_EQ(frame->targets[0].height, 240u);
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00204060, 1.0f, 0);
    frame->render(true);
    const Pixels pixels = readBackBuffer(*frame);
    frame->present();
    client->afterScene = nullptr;
    texture->Release();

    EXPECT_EQ(client->calls, (Calls{"renderShadowMaps", "renderAfterScene", "beforeUi", "afterUi"}));
    ASSERT_EQ(pixels.width, 320u);
    ASSERT_EQ(pixels.height, 240u);
    int wrong = 0;
    for (UINT y = 0; y < 240; ++y)
        for (UINT x = 0; x < 320; ++x) {
            const uint32_t expected = x < 64 && y < 64 ? patternAt(int(x / 16), int(y / 16)) : 0x204060u;
            if (pixels.rgb(x, y) != expected && ++wrong < 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << pixels.rgb(x, y) << " not "
                              << expected;
        }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(chain().targets[0].surface, nullptr); // present gives the back buffer back

    client->calls.clear();
    chain().beginFrame();
    chain().render(false);
    chain().present();
    EXPECT_EQ(client->calls, (Calls{"renderShadowMaps", "renderAfterScene"}));
}

TEST_F(RenderDevice, RenderTargetStackRestoresTheTargetBelow)
{
    D3D::Device::SwapChain& c = *chain().beginFrame();
    IDirect3DTexture9* target = nullptr;
    ASSERT_TRUE(SUCCEEDED(gDevice->CreateTexture(64, 32, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                                 &target, nullptr)));
    IDirect3DSurface9* surface = nullptr;
    target->GetSurfaceLevel(0, &surface);
    c.pushRenderTarget(surface, nullptr);
    EXPECT_EQ(c.targetCount, 2u);
    EXPECT_EQ(c.topTarget().width, 64u);
    EXPECT_EQ(c.topTarget().height, 32u);
    EXPECT_FLOAT_EQ(c.topTarget().aspect, 2.0f);
    gDevice->BeginScene();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    gDevice->EndScene();
    c.popRenderTarget();
    EXPECT_EQ(c.targetCount, 1u);
    c.popRenderTarget(); // the back buffer stays
    EXPECT_EQ(c.targetCount, 1u);

    // Drawing now lands in the back buffer again.
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x000000FF, 1.0f, 0);
    const Pixels pixels = readBackBuffer(c);
    ASSERT_EQ(pixels.width, 320u);
    EXPECT_EQ(pixels.rgb(10, 10), 0x0000FFu);
    EXPECT_EQ(pixels.rgb(300, 200), 0x0000FFu);
    c.present();
    surface->Release();
    target->Release();
}

TEST_F(RenderDevice, ResetWithNewParametersRestoresInOrder)
{
    D3D::Device& record = gDirectGraphics.record;
    D3DPRESENT_PARAMETERS pp;
    D3D::Device::fillPresentParameters(record.presentSettings, window, false, pp);
    pp.BackBufferWidth = 480;
    pp.BackBufferHeight = 240;
    const float x = chain().position.x;
    client->calls.clear();
    // A reset asked for from inside the message pump (a resize) must not nest.
    int nested = 0;
    client->duringPump = [&] {
        ++nested;
        D3D::Device::reset(record, nullptr);
    };
    D3D::Device::reset(record, &pp);
    client->duringPump = nullptr;

    EXPECT_GT(nested, 0);
    EXPECT_EQ(client->calls, (Calls{"onDeviceLost", "pumpMessages", "onDeviceReset", "onDeviceRestored"}));
    EXPECT_EQ(record.resetting, 0u);
    EXPECT_EQ(gDevice, record.device);
    EXPECT_EQ(chain().presentParameters.BackBufferWidth, 480u);
    EXPECT_NEAR(chain().position.x, x + 0.001f, 1e-6f);
    EXPECT_NEAR(chain().projection.m[0], 0.5f * chain().projection.m[5], 1e-6f);
    RECT clientRect{};
    GetClientRect(window, &clientRect);
    EXPECT_EQ(clientRect.right, 480);
    EXPECT_EQ(clientRect.bottom, 240);

    // The restored device draws a frame of the new size.
    D3D::Device::SwapChain& c = *chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00336699, 1.0f, 0);
    const Pixels pixels = readBackBuffer(c);
    c.present();
    ASSERT_EQ(pixels.width, 480u);
    EXPECT_EQ(pixels.rgb(479, 239), 0x336699u);
}

TEST_F(RenderDevice, QuitWhileWaitingEndsTheWaitAndReachesTheMainLoop)
{
    D3D::Device& record = gDirectGraphics.record;
    client->calls.clear();
    client->quitInPump = true;
    D3D::Device::reset(record, nullptr);
    client->quitInPump = false;
    EXPECT_EQ(record.resetting, 1u); // still lost: nothing was restored
    EXPECT_EQ(client->calls, (Calls{"onDeviceLost", "pumpMessages"}));
    MSG message;
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.message, UINT(WM_QUIT));

    // The next reset skips the releases and restores.
    client->calls.clear();
    D3D::Device::reset(record, nullptr);
    EXPECT_EQ(client->calls, (Calls{"pumpMessages", "onDeviceReset", "onDeviceRestored"}));
    EXPECT_EQ(record.resetting, 0u);
    chain().beginFrame();
    chain().render(true);
    chain().present();
}

TEST_F(RenderDevice, FillAlphaAndLoadingFrames)
{
    D3D::Device::SwapChain& c = *chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00112233, 1.0f, 0);
    gDevice->BeginScene();
    c.fillAlpha(0.0f);
    gDevice->EndScene();
    const Pixels pixels = readBackBuffer(c);
    c.present();
    ASSERT_FALSE(pixels.argb.empty());
    EXPECT_EQ(pixels.argb[0], 0xFF112233u);
    EXPECT_EQ(pixels.argb.back(), 0xFF112233u);

    D3D::LoadProcessInterface a{1.0f, 0.0f}, b{1.0f, 0.0f}, d{2.0f, 0.0f};
    c.loadProcesses.append(&a);
    c.loadProcesses.append(&b);
    c.loadProcesses.append(&d);
    client->calls.clear();
    c.beginLoadProcess();
    EXPECT_FLOAT_EQ(a.weight, 0.25f);
    EXPECT_FLOAT_EQ(d.weight, 0.5f);
    EXPECT_EQ(client->calls, (Calls{"renderLoadProgress"}));
    c.advanceLoadProcess(d, 0.05f); // below the step: nothing
    EXPECT_EQ(c.progress, 0.0f);
    EXPECT_EQ(d.done, 0.0f);
    c.advanceLoadProcess(d, 0.10f);
    EXPECT_FLOAT_EQ(c.progress, 0.05f);
    c.advanceLoadProcess(a, 1.0f);
    EXPECT_FLOAT_EQ(c.progress, 0.3f);
    EXPECT_EQ(client->calls.size(), 3u);
    c.clearLoadProcess();
    EXPECT_EQ(c.loadProcesses.count(), 0);
    EXPECT_EQ(c.progress, 0.0f);
}

TEST_F(RenderDevice, RepeatedIndexBufferAndBufferPools)
{
    uint16_t three[] = {0, 1, 2};
    ArrayHeap<uint16_t> indices{3};
    for (int i = 0; i < 3; ++i)
        *indices.at(i) = three[i];
    IDirect3DIndexBuffer9* buffer = createRepeatedIndexBuffer(indices, 3);
    ASSERT_NE(buffer, nullptr);
    D3DINDEXBUFFER_DESC desc{};
    buffer->GetDesc(&desc);
    EXPECT_EQ(desc.Size, 18u);
    void* data = nullptr;
    ASSERT_TRUE(SUCCEEDED(buffer->Lock(0, 0, &data, D3DLOCK_READONLY)));
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(static_cast<const uint16_t*>(data)[i], i);
    buffer->Unlock();
    buffer->Release();

    // Copies whose indices would pass 65535 are refused, not wrapped.
    *indices.at(2) = 40000;
    EXPECT_EQ(createRepeatedIndexBuffer(indices, 2), nullptr);

    SCList<BufferPool> pools;
    BufferRange* a = BufferPool::allocVertexRange(pools, 100);
    BufferRange* b = BufferPool::allocVertexRange(pools, 200);
    BufferRange* c = BufferPool::allocVertexRange(pools, 100);
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(pools.count(), 1);
    EXPECT_EQ(c->start, 300u);
    ASSERT_NE(BufferPool::allocVertexRange(pools, 3596 - 100), nullptr); // 100 left in the first pool
    BufferRange* big = BufferPool::allocVertexRange(pools, 4000);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(pools.count(), 2);
    EXPECT_NE(big->pool, a->pool);
    // Larger than a pool: a pool of its own size, not a failure.
    BufferRange* huge = BufferPool::allocVertexRange(pools, 5000);
    ASSERT_NE(huge, nullptr);
    EXPECT_EQ(pools.count(), 3);
    EXPECT_EQ(huge->pool->reserved, 5000u);
    D3DVERTEXBUFFER_DESC vdesc{};
    huge->pool->vertexBuffer->GetDesc(&vdesc);
    EXPECT_EQ(vdesc.Size, 5000u * 32u);
    BufferRange* indexRange = BufferPool::allocIndexRange(pools, 10);
    ASSERT_NE(indexRange, nullptr);
    EXPECT_NE(indexRange->pool->indexBuffer, nullptr);
    pools.deleteAll();
}

TEST_F(RenderDevice, VisibilityByColourAndProjectedPoints)
{
    D3D::Device::SwapChain& c = *chain().beginFrame();
    ASSERT_NE(gDirectGraphics.record.sharedTarget256, nullptr);
    client->calls.clear();
    client->occlusionPass = [] {
        const D3DRECT left{0, 0, 128, 256};
        gDevice->Clear(1, &left, D3DCLEAR_TARGET, 0xFFCC2211, 1.0f, 0);
    };
    EXPECT_EQ(c.renderToTarget(0.25f, 0.5f), Color(0xCC, 0x22, 0x11, 0xFF));
    EXPECT_EQ(c.renderToTarget(0.75f, 0.5f), Color());
    EXPECT_EQ(c.renderToTarget(1.0f, 0.5f), Color()); // off the target
    EXPECT_EQ(c.renderToTarget(0.5f, -0.1f), Color());
    client->occlusionPass = nullptr;
    EXPECT_EQ(client->calls.size(), 4u);
    EXPECT_EQ(c.targetCount, 1u);
    c.present();

    c.position = {};
    c.angles = {};
    c.setAnglesDeg();
    c.update();
    DynArray<D3D::Device::OccludePos> points(4);
    points.at(0)->position = {0.0f, 0.0f, 100.0f};
    points.at(1)->position = {1000.0f, 0.0f, 100.0f};
    points.at(2)->position = {0.0f, 0.0f, -1.0f};
    points.at(3)->position = {0.0f, -20.0f, 100.0f};
    c.testOcclusion(points, 4);
    EXPECT_NEAR(points.at(0)->screenU, 0.5f, 1e-6f);
    EXPECT_NEAR(points.at(0)->screenV, 0.5f, 1e-6f);
    EXPECT_NEAR(points.at(0)->inverseW, 0.01f, 1e-6f);
    EXPECT_EQ(points.at(0)->occluded, 0u);
    EXPECT_EQ(points.at(1)->occluded, 1u); // off the screen
    EXPECT_EQ(points.at(2)->occluded, 1u); // behind the camera
    // Below the middle: v grows downwards, by 20 x 1.428148 / 100 / 2.
    EXPECT_NEAR(points.at(3)->screenV, 0.5f + 0.1428148f, 1e-5f);
    EXPECT_EQ(points.at(3)->occluded, 0u);
}

TEST_F(RenderDevice, ReleaseRunsTheLostHookAndClearsTheDevice)
{
    client->calls.clear();
    D3D::Device::release(gDirectGraphics.record);
    EXPECT_EQ(client->calls, (Calls{"onDeviceLost"}));
    EXPECT_EQ(gDevice, nullptr);
    EXPECT_EQ(gDirectGraphics.record.swapChains.count(), 0);
    EXPECT_EQ(gCamera, nullptr);
    D3D::Device::release(gDirectGraphics.record); // twice is harmless
}

}
