// Frames, resets and buffers on the real device of the test window. The
// tests share one device and run in the order written.
#include "TestDevice.h"

#include "Render/BufferPool.h"

#include "Core/ArrayHeap.h"

#include <atomic>
#include <set>
#include <thread>

using namespace TestDevice;

namespace {

class RenderDevice : public DeviceSuite
{
};

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
    // Copies whose indices would pass 65535 are refused, not wrapped.
    *indices.at(2) = 40000;
    EXPECT_EQ(createRepeatedIndexBuffer(indices, 2), nullptr);

    // A range larger than a pool gets a pool of its own size, not a failure.
    SCList<BufferPool> pools;
    BufferRange* huge = BufferPool::allocVertexRange(pools, 5000);
    ASSERT_NE(huge, nullptr);
    D3DVERTEXBUFFER_DESC vdesc{};
    huge->pool->vertexBuffer->GetDesc(&vdesc);
    EXPECT_EQ(vdesc.Size, 5000u * 32u);
    pools.deleteAll();
}

}
