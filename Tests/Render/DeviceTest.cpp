// Frames, resets and buffers on the real device of the test window. The
// tests share one device and run in the order written.
#include "TestDevice.h"

#include "Render/BufferPool.h"

#include "Core/ArrayHeap.h"

#include <atomic>
#include <cmath>
#include <iterator>
#include <cstring>
#include <set>
#include <thread>
#include <tuple>

using namespace TestDevice;

namespace {

class RenderDevice : public DeviceSuite
{
};

// Without a window there is no device to make; the one there is stays.
TEST_F(RenderDevice, ADeviceNeedsAWindow)
{
    D3D::Device& record = gDirectGraphics.record;
    D3D::Device::SwapChain* first = record.firstSwapChain();
    EXPECT_FALSE(D3D::Device::create(record, nullptr, false, client));
    EXPECT_EQ(record.firstSwapChain(), first);
    EXPECT_EQ(record.swapChains.count(), 1);
}

TEST_F(RenderDevice, FrameRunsTheHooksInOrderAndDrawsAScreenRect)
{
    EXPECT_EQ(client->calls, (Calls{"onDeviceReset"}));
    // A 4 x 4 texture drawn over 64 x 64 pixels with point sampling.
    const auto opaque = [](uint32_t x, uint32_t y) { return 0xFF000000u | patternTexel(x, y); };
    TextureRef texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, opaque);
    client->calls.clear();
    client->afterScene = [&] {
        gDevice->SetTexture(0, texture.texture()->texture);
        gDevice->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_POINT);
        gDevice->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
        drawScreenRect(64, 64, -1, -1, 0.0f);
        gDevice->SetTexture(0, nullptr);
    };
    D3D::Device::SwapChain* frame = chain().beginFrame();
    ASSERT_EQ(frame, &chain());
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00204060, 1.0f, 0);
    frame->render(true);
    const Level pixels = readSurface(frame->targets[0].surface);
    frame->present();
    client->afterScene = nullptr;

    EXPECT_EQ(client->calls, (Calls{"renderShadowMaps", "renderAfterScene", "beforeUi", "afterUi"}));
    ASSERT_EQ(pixels.width, 320u);
    ASSERT_EQ(pixels.height, 240u);
    const auto expected = [&](uint32_t x, uint32_t y) { return x < 64 && y < 64 ? opaque(x / 16, y / 16) : 0x204060u; };
    EXPECT_EQ(wrongTexels(pixels, expected, 0xFFFFFF), 0);
}

// Pushed targets describe themselves and popping returns drawing to the one
// below; the back buffer is never popped and the stack holds 32 entries.
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
    EXPECT_EQ(std::tuple(c.topTarget().width, c.topTarget().height, c.topTarget().aspect), std::tuple(64u, 32u, 2.0f));
    gDevice->BeginScene();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF00FF00, 1.0f, 0);
    gDevice->EndScene();
    EXPECT_EQ(readSurface(surface).at(63, 31), 0xFF00FF00u);
    for (int i = 0; i < 40; ++i)
        c.pushRenderTarget(surface, nullptr);
    EXPECT_EQ(c.targetCount, 32u);
    for (int i = 0; i < 40; ++i)
        c.popRenderTarget();
    EXPECT_EQ(c.targetCount, 1u);

    // Drawing lands in the back buffer again.
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x000000FF, 1.0f, 0);
    const Level pixels = readSurface(c.targets[0].surface);
    c.present();
    ASSERT_EQ(pixels.width, 320u);
    EXPECT_EQ(pixels.at(10, 10) & 0xFFFFFF, 0x0000FFu);
    EXPECT_EQ(pixels.at(300, 200) & 0xFFFFFF, 0x0000FFu);
    surface->Release();
    target->Release();
}

// fillAlpha sets the alpha of every pixel to 255 and keeps the colour; the
// loading frames normalise the weights and draw once a step reaches 0.09.
TEST_F(RenderDevice, FillAlphaAndLoadingFrames)
{
    D3D::Device::SwapChain& c = *chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00112233, 1.0f, 0);
    gDevice->BeginScene();
    c.fillAlpha(0.0f);
    gDevice->EndScene();
    const Level pixels = readSurface(c.targets[0].surface);
    c.present();
    EXPECT_EQ(wrongTexels(pixels, [](uint32_t, uint32_t) { return 0xFF112233u; }), 0);

    D3D::LoadProcessInterface a{1.0f, 0.0f}, b{1.0f, 0.0f}, d{2.0f, 0.0f};
    for (D3D::LoadProcessInterface* entry : {&a, &b, &d})
        c.loadProcesses.append(entry);
    size_t frames = 0;
    client->loadFrame = [&] { ++frames; };
    c.beginLoadProcess();
    EXPECT_EQ(std::tuple(a.weight, b.weight, d.weight), std::tuple(0.25f, 0.25f, 0.5f));
    const struct {
        D3D::LoadProcessInterface* entry;
        float done, progress;
        size_t frames;
    } steps[] = {{&d, 0.05f, 0.0f, 1},   // below the step: nothing
                 {&d, 0.10f, 0.05f, 2},  // from 0 to 0.1, half the weight
                 {&d, 0.15f, 0.05f, 2},  // 0.05 more: nothing
                 {&a, 1.0f, 0.3f, 3},    // done always draws
                 {&b, 1.0f, 0.55f, 4}};
    for (const auto& step : steps) {
        c.advanceLoadProcess(*step.entry, step.done);
        EXPECT_NEAR(c.progress, step.progress, 1e-6f) << step.done;
        EXPECT_EQ(frames, step.frames) << step.done;
    }
    client->loadFrame = nullptr;
    EXPECT_FLOAT_EQ(d.done, 0.10f);
    c.clearLoadProcess();
    EXPECT_EQ(c.loadProcesses.count(), 0);
    EXPECT_EQ(c.progress, 0.0f);
}

// The occluders' colour under a screen position, and points projected with
// the camera; one point narrows the frustum only for the test.
TEST_F(RenderDevice, VisibilityByColourAndProjectedPoints)
{
    D3D::Device::SwapChain& c = *chain().beginFrame();
    ASSERT_NE(gDirectGraphics.record.sharedTarget256, nullptr);
    client->calls.clear();
    client->occlusionPass = [] {
        const D3DRECT left{0, 0, 128, 256};
        gDevice->Clear(1, &left, D3DCLEAR_TARGET, 0xFFCC2211, 1.0f, 0);
    };
    const std::pair<float, float> positions[] = {{0.25f, 0.5f}, {0.75f, 0.5f}, {1.0f, 0.5f}, {0.5f, -0.1f}};
    const Color colours[] = {Color(0xCC, 0x22, 0x11, 0xFF), Color(), Color(), Color()};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(c.renderToTarget(positions[i].first, positions[i].second), colours[i]) << i;
    client->occlusionPass = nullptr;
    EXPECT_EQ(client->calls, Calls(4, "renderOcclusionPass"));
    EXPECT_EQ(c.targetCount, 1u);
    c.present();

    c.position = {};
    c.angles = {};
    c.setAnglesDeg();
    c.update();
    const ConvexVolume frustum = c.frustum;
    const struct {
        vec3d position;
        float u, v, inverseW;
        uint32_t occluded;
    } cases[] = {
        {{0.0f, 0.0f, 100.0f}, 0.5f, 0.5f, 0.01f, 0},
        {{1000.0f, 0.0f, 100.0f}, -1.0f, 0.5f, 0.01f, 1}, // off the screen (u not compared)
        {{0.0f, 0.0f, -1.0f}, -1.0f, -1.0f, -1.0f, 1},    // behind the camera
        {{0.0f, -20.0f, 100.0f}, 0.5f, 0.5f + 0.1428148f, 0.01f, 0}, // v grows downwards: 20 x 1.428148 / 100 / 2
        {{-30.0f, 0.0f, 100.0f}, 0.5f - 0.15f * 1.0711110f, 0.5f, 0.01f, 0},
    };
    DynArray<D3D::Device::OccludePos> points(5);
    for (int i = 0; i < 5; ++i)
        points.at(i)->position = cases[i].position;
    c.testOcclusion(points, 5);
    for (int i = 0; i < 5; ++i) {
        const D3D::Device::OccludePos& p = *points.at(i);
        if (cases[i].u >= 0.0f) {
            EXPECT_NEAR(p.screenU, cases[i].u, 1e-5f) << i;
        }
        if (cases[i].v >= 0.0f) {
            EXPECT_NEAR(p.screenV, cases[i].v, 1e-5f) << i;
        }
        if (cases[i].inverseW >= 0.0f) {
            EXPECT_NEAR(p.inverseW, cases[i].inverseW, 1e-6f) << i;
        }
        EXPECT_EQ(p.occluded, cases[i].occluded) << i;
    }
    // A turned camera: every row of the projection takes the point's depth, so
    // a point straight ahead lands in the middle of the screen at its distance.
    c.angles = {10.0f, 35.0f, 0.0f};
    c.setAnglesDeg();
    c.position = {5.0f, 2.0f, -3.0f};
    c.Camera::update();
    DynArray<D3D::Device::OccludePos> ahead(1);
    ahead.at(0)->position = c.position + c.forward * 100.0f;
    c.testOcclusion(ahead, 1);
    EXPECT_NEAR(ahead.at(0)->screenU, 0.5f, 1e-4f);
    EXPECT_NEAR(ahead.at(0)->screenV, 0.5f, 1e-4f);
    EXPECT_NEAR(ahead.at(0)->inverseW, 0.01f, 1e-5f);
    c.position = {};
    c.angles = {};
    c.setAnglesDeg();
    c.Camera::update();

    DynArray<D3D::Device::OccludePos> one(1);
    one.at(0)->position = {0.0f, -20.0f, 100.0f};
    c.testOcclusion(one, 1);
    EXPECT_NEAR(one.at(0)->screenV, 0.5f + 0.1428148f, 1e-5f);
    EXPECT_EQ(std::memcmp(&c.frustum, &frustum, sizeof(frustum)), 0) << "the narrowed frustum is put back";
    // Without a client nothing is projected.
    D3D::SwapChainInterface* owner = c.client;
    c.client = nullptr;
    one.at(0)->screenU = 7.0f;
    c.testOcclusion(one, 1);
    EXPECT_EQ(one.at(0)->screenU, 7.0f);
    EXPECT_EQ(c.renderToTarget(0.25f, 0.5f), Color());
    c.client = owner;
}

// A point exactly on an edge of the screen is on it; a little beyond, off it.
// The view-projection is the identity, so a point's x and y are its screen
// position from -1 to 1 and its w is 1.
TEST_F(RenderDevice, PointsOnTheScreensEdgesAreOnIt)
{
    D3D::Device::SwapChain& c = chain();
    c.position = {};
    c.angles = {};
    c.setAnglesDeg();
    c.Camera::update();
    const matrix3d viewProjection = c.viewProjection;
    c.viewProjection = matrix3d::identity();
    const float beyond = 1.001f;
    const struct {
        vec3d position;
        uint32_t occluded;
    } cases[] = {
        {{0.2f, 1.0f, 0.0f}, 0},     // the top edge: v = 0
        {{0.2f, -1.0f, 0.0f}, 0},    // the bottom edge: v = 1
        {{-1.0f, 0.3f, 0.0f}, 0},    // the left edge: u = 0
        {{1.0f, 0.3f, 0.0f}, 0},     // the right edge: u = 1
        {{0.2f, beyond, 0.0f}, 1},   // above the top
        {{0.2f, -beyond, 0.0f}, 1},  // below the bottom
        {{-beyond, 0.3f, 0.0f}, 1},  // left of the left
        {{beyond, 0.3f, 0.0f}, 1},   // right of the right
    };
    constexpr int count = int(std::size(cases));
    DynArray<D3D::Device::OccludePos> points(count);
    for (int i = 0; i < count; ++i)
        points.at(i)->position = cases[i].position;
    c.testOcclusion(points, count);
    c.viewProjection = viewProjection;
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(points.at(i)->occluded, cases[i].occluded) << i;
    EXPECT_EQ(points.at(0)->screenV, 0.0f);
    EXPECT_EQ(points.at(2)->screenU, 0.0f);
}

TEST_F(RenderDevice, ResetWithNewParametersRestoresWithoutNesting)
{
    D3D::Device& record = gDirectGraphics.record;
    D3DPRESENT_PARAMETERS pp;
    D3D::Device::fillPresentParameters(record.presentSettings, window, false, pp);
    pp.BackBufferWidth = 480;
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
    // The restored device draws a frame of the new size.
    D3D::Device::SwapChain& c = *chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x00336699, 1.0f, 0);
    const Level pixels = readSurface(c.targets[0].surface);
    c.present();
    ASSERT_EQ(pixels.width, 480u);
    EXPECT_EQ(pixels.at(479, 239) & 0xFFFFFF, 0x336699u);
}

// After a windowed reset to another size the window holds the new back
// buffer exactly in its client area, with or without a frame round it.
TEST_F(RenderDevice, AWindowedResetFitsTheClientAreaToTheBackBuffer)
{
    D3D::Device& record = gDirectGraphics.record;
    const DWORD style = DWORD(GetWindowLongW(window, GWL_STYLE));
    struct Case
    {
        DWORD style;
        UINT width, height;
    };
    for (const Case& c : {Case{WS_POPUP | WS_VISIBLE, 400, 300}, Case{WS_OVERLAPPEDWINDOW | WS_VISIBLE, 288, 352},
                          Case{style, 320, 240}}) {
        SCOPED_TRACE(c.width);
        SetWindowLongW(window, GWL_STYLE, LONG(c.style));
        SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
        D3DPRESENT_PARAMETERS pp;
        D3D::Device::fillPresentParameters(record.presentSettings, window, false, pp);
        pp.BackBufferWidth = c.width;
        pp.BackBufferHeight = c.height;
        D3D::Device::reset(record, &pp);
        ASSERT_EQ(record.resetting, 0u);
        RECT area{};
        GetClientRect(window, &area);
        EXPECT_EQ(area.right - area.left, LONG(c.width));
        EXPECT_EQ(area.bottom - area.top, LONG(c.height));
        EXPECT_EQ(chain().presentParameters.BackBufferHeight, c.height);
    }
}

// Parameters the device refuses are tried three times (after the first two
// with a pause); then the last parameters that worked are used, at once.
TEST_F(RenderDevice, RefusedParametersFallBackToTheLastThatWorked)
{
    D3D::Device& record = gDirectGraphics.record;
    const D3DPRESENT_PARAMETERS before = chain().presentParameters;
    D3DPRESENT_PARAMETERS refused = before;
    refused.SwapEffect = D3DSWAPEFFECT(0);
    refused.BackBufferWidth = 200;
    int pumps = 0;
    client->duringPump = [&] { ++pumps; };
    D3D::Device::reset(record, &refused);
    client->duringPump = nullptr;
    EXPECT_EQ(record.resetting, 0u);
    EXPECT_EQ(pumps, 1 + 3 + 1) << "one wait, three refused attempts, the fallback";
    EXPECT_EQ(chain().presentParameters.SwapEffect, before.SwapEffect);
    EXPECT_EQ(chain().presentParameters.BackBufferWidth, before.BackBufferWidth);
}

TEST_F(RenderDevice, QuitWhileWaitingEndsTheWait)
{
    D3D::Device& record = gDirectGraphics.record;
    client->calls.clear();
    client->quitInPump = true;
    D3D::Device::reset(record, nullptr);
    client->quitInPump = false;
    EXPECT_EQ(record.resetting, 1u); // still lost: nothing was restored
    EXPECT_EQ(client->calls, (Calls{"onDeviceLost", "pumpMessages"}));
    // The quit is posted again for the main loop.
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));

    // The next reset skips the releases and restores.
    client->calls.clear();
    D3D::Device::reset(record, nullptr);
    EXPECT_EQ(client->calls, (Calls{"pumpMessages", "onDeviceReset", "onDeviceRestored"}));
    EXPECT_EQ(record.resetting, 0u);
}

// The device is back, but the quit arrives in the pump before the reset is
// tried: nothing is reset, and the quit, with its code 0, is posted again.
TEST_F(RenderDevice, QuitBeforeTheResetAttemptEndsTheReset)
{
    D3D::Device& record = gDirectGraphics.record;
    D3DPRESENT_PARAMETERS pp;
    D3D::Device::fillPresentParameters(record.presentSettings, window, false, pp);
    const UINT width = chain().presentParameters.BackBufferWidth;
    pp.BackBufferWidth = width + 80;
    int pumps = 0;
    // The wait's pump lets it go on; the attempt's pump sees the quit.
    client->duringPump = [&] { client->quitInPump = ++pumps >= 2; };
    D3D::Device::reset(record, &pp);
    client->duringPump = nullptr;
    client->quitInPump = false;
    EXPECT_EQ(pumps, 2);
    EXPECT_EQ(record.resetting, 1u);
    EXPECT_EQ(chain().presentParameters.BackBufferWidth, width) << "the new parameters were not taken";
    MSG message{};
    ASSERT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);

    D3D::Device::reset(record, nullptr);
    EXPECT_EQ(record.resetting, 0u);
}

// Closes the message boxes of this process from a thread of its own while it
// lives; stop() gives the number closed.
class BoxAnswerer
{
public:
    BoxAnswerer()
        : thread_([this] {
              while (!done_) {
                  HWND box = nullptr;
                  while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
                      DWORD owner = 0;
                      GetWindowThreadProcessId(box, &owner);
                      if (owner == GetCurrentProcessId() && closed_.insert(box).second)
                          PostMessageW(box, WM_COMMAND, IDOK, 0);
                  }
                  Sleep(20);
              }
          })
    {
    }
    ~BoxAnswerer() { stop(); }
    size_t stop()
    {
        done_ = true;
        if (thread_.joinable())
            thread_.join();
        return closed_.size();
    }

private:
    std::atomic<bool> done_{false};
    std::set<HWND> closed_;
    std::thread thread_;
};

// A default-pool object the reset does not release makes the device refuse
// every Reset: the reset gives up at once with the device error and the quit
// message instead of trying until the player quits; once the object is gone
// the next reset brings the device back.
TEST_F(RenderDevice, ResetThatTheDeviceKeepsRefusingEndsWithTheDeviceError)
{
    D3D::Device& record = gDirectGraphics.record;
    IDirect3DTexture9* blocker = nullptr;
    ASSERT_TRUE(SUCCEEDED(gDevice->CreateTexture(16, 16, 1, D3DUSAGE_RENDERTARGET, D3DFMT_A8R8G8B8, D3DPOOL_DEFAULT,
                                                 &blocker, nullptr)));
    // A reset that never gives up is ended from its message pump.
    int pumps = 0;
    client->duringPump = [&] { client->quitInPump = ++pumps > 100; };
    BoxAnswerer answerer;
    D3D::Device::reset(record, nullptr);
    const size_t boxes = answerer.stop();
    client->duringPump = nullptr;
    client->quitInPump = false;
    EXPECT_EQ(boxes, 1u);
    EXPECT_LE(pumps, 12);
    EXPECT_EQ(record.resetting, 1u);
    MSG message;
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));

    blocker->Release();
    D3D::Device::reset(record, nullptr);
    EXPECT_EQ(record.resetting, 0u);
}

TEST_F(RenderDevice, RepeatedIndexBufferAndBufferPools)
{
    ArrayHeap<uint16_t> indices{3};
    for (int i = 0; i < 3; ++i)
        *indices.at(i) = uint16_t(i);
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
    // Copies whose indices would pass 65535 are refused, not wrapped,
    // wherever the largest index stands.
    for (int at : {0, 2}) {
        for (int i = 0; i < 3; ++i)
            *indices.at(i) = uint16_t(i);
        *indices.at(at) = 40000;
        EXPECT_EQ(createRepeatedIndexBuffer(indices, 2), nullptr) << at;
    }

    // A buffer made from an array holds the array, whole.
    const uint16_t array[7] = {9, 8, 7, 60000, 5, 4, 3};
    IDirect3DIndexBuffer9* copy = createIndexBufferFrom(array, 7);
    ASSERT_NE(copy, nullptr);
    copy->GetDesc(&desc);
    EXPECT_EQ(desc.Size, 14u);
    ASSERT_TRUE(SUCCEEDED(copy->Lock(0, 0, &data, D3DLOCK_READONLY)));
    EXPECT_EQ(std::memcmp(data, array, sizeof(array)), 0);
    copy->Unlock();
    copy->Release();

    // A range larger than a pool gets a pool of its own size, not a failure.
    SCList<BufferPool> pools;
    BufferRange* huge = BufferPool::allocVertexRange(pools, 5000);
    ASSERT_NE(huge, nullptr);
    D3DVERTEXBUFFER_DESC vdesc{};
    huge->pool->vertexBuffer->GetDesc(&vdesc);
    EXPECT_EQ(vdesc.Size, 5000u * 32u);
    pools.deleteAll();
    // Past 2^24 entries nothing is made.
    EXPECT_EQ(BufferPool::allocVertexRange(pools, (1u << 24) + 1), nullptr);
    EXPECT_EQ(pools.count(), 0);
}

// A swap chain that goes stops being the current one; another chain's going
// leaves the current one as it is.
TEST_F(RenderDevice, ASwapChainThatGoesIsNoLongerCurrent)
{
    D3D::Device& record = gDirectGraphics.record;
    D3D::Device::SwapChain* first = record.currentSwapChain;
    ASSERT_NE(first, nullptr);
    delete new D3D::Device::SwapChain(nullptr);
    EXPECT_EQ(record.currentSwapChain, first);
    D3D::Device::SwapChain* other = new D3D::Device::SwapChain(nullptr);
    record.currentSwapChain = other;
    delete other;
    EXPECT_EQ(record.currentSwapChain, nullptr);
    record.currentSwapChain = first;
}

}
