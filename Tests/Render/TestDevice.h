#pragma once
// A real device on a test window (Wine and Xvfb in the test run), a client
// that records the hooks called on it, and helpers that write known texels
// and read textures and render targets back.
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "Core/Timer.h"

#include "ImageFileWriter.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <d3dx9.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace TestDevice {

using Calls = std::vector<std::string>;

class Client final : public D3D::SwapChainInterface
{
public:
    void renderShadowMaps() override { calls.push_back("renderShadowMaps"); }
    void renderAfterScene() override
    {
        calls.push_back("renderAfterScene");
        if (afterScene)
            afterScene();
    }
    void renderEffectScene() override
    {
        calls.push_back("renderEffectScene");
        if (effectScene)
            effectScene();
    }
    // Loading frames are not recorded in calls; a test that counts them sets loadFrame.
    void renderLoadProgress() override
    {
        if (loadFrame)
            loadFrame();
    }
    void beforeUi() override { calls.push_back("beforeUi"); }
    void afterUi() override { calls.push_back("afterUi"); }
    void renderOcclusionPass() override
    {
        calls.push_back("renderOcclusionPass");
        if (occlusionPass)
            occlusionPass();
    }
    void onDeviceLost() override { calls.push_back("onDeviceLost"); }
    void onDeviceReset() override { calls.push_back("onDeviceReset"); }
    void onDeviceRestored() override { calls.push_back("onDeviceRestored"); }
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

    Calls calls;
    std::function<void()> afterScene, effectScene, duringPump, loadFrame, occlusionPass;
    bool quitInPump = false;
};

// One device on a 320 x 240 window for each suite (a suite may open another
// size), released with every texture record.
class DeviceSuite : public testing::Test
{
protected:
    static void SetUpTestSuite() { openDevice(320, 240); }

    static void openDevice(int width, int height)
    {
        // The program starts its clock at start-up; a test program never runs
        // that step, so the first clock step of a scene load would otherwise
        // advance the level's hour by the machine's whole uptime.
        gTimer.init();
        WNDCLASSW wc{};
        wc.lpfnWndProc = DefWindowProcW;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"RenderTest";
        RegisterClassW(&wc);
        // Borderless, so that the client area is the window. A window that
        // covers the whole display counts as full screen, and under parallel
        // runs Wine then fails to unmap it at its destruction: one of the
        // display's size stands a pixel to the right.
        const int left = width >= GetSystemMetrics(SM_CXSCREEN) ? 1 : 0;
        window = CreateWindowExW(0, wc.lpszClassName, L"Render test", WS_POPUP | WS_VISIBLE, left, 0, width, height,
                                 nullptr, nullptr, wc.hInstance, nullptr);
        ASSERT_NE(window, nullptr);
        // The clock as the game's start-up leaves it: a first frame then
        // counts from here, not from the machine's start, and the scenes'
        // sun stands where their time of day puts it.
        gTimer.init();
        ASSERT_TRUE(gDirectGraphics.init());
        client = new Client;
        ASSERT_TRUE(D3D::Device::create(gDirectGraphics.record, window, false, client));
    }

    static void TearDownTestSuite()
    {
        gDirectGraphics.release();
        delete client;
        client = nullptr;
        DestroyWindow(window);
        window = nullptr;
    }

    static D3D::Device::SwapChain& chain() { return *gDirectGraphics.record.firstSwapChain(); }

    static inline HWND window = nullptr;
    static inline Client* client = nullptr;
};

// Texel (x, y) of a test image: every texel differs, alpha varies.
inline uint32_t patternTexel(uint32_t x, uint32_t y, uint32_t seed = 0)
{
    return uint32_t(0x40 + (x * 29 + y * 7 + seed) % 0xC0) << 24 | (x * 37 + seed * 11) % 256 << 16 |
           (y * 53 + 17) % 256 << 8 | (x * y + seed * 3 + 5) % 256;
}

inline std::function<uint32_t(uint32_t, uint32_t)> pattern(uint32_t seed = 0)
{
    return [seed](uint32_t x, uint32_t y) { return patternTexel(x, y, seed); };
}

inline ImageFileWriter::Image patternImage(uint32_t width, uint32_t height, uint32_t seed = 0)
{
    ImageFileWriter::Image image;
    image.width = width;
    image.height = height;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            image.argb.push_back(patternTexel(x, y, seed));
    return image;
}

// A surface's texels as 32-bit values (16-bit texels in the low half), read
// row by row through the pitch; render targets through a system-memory copy.
struct Level
{
    uint32_t width = 0, height = 0;
    int32_t pitch = 0;
    std::vector<uint32_t> texels;
    uint32_t at(uint32_t x, uint32_t y) const { return texels[size_t(y) * width + x]; }
};

inline Level readSurface(IDirect3DSurface9* surface)
{
    Level out;
    D3DSURFACE_DESC desc{};
    if (!surface || FAILED(surface->GetDesc(&desc)))
        return out;
    IDirect3DSurface9* copy = nullptr;
    if (desc.Pool == D3DPOOL_DEFAULT) {
        if (FAILED(gDevice->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM,
                                                        &copy, nullptr)))
            return out;
        gDevice->GetRenderTargetData(surface, copy);
        surface = copy;
    }
    const uint32_t size = TextureDevice::bytesPerTexel(desc.Format);
    D3DLOCKED_RECT locked{};
    if ((size == 2 || size == 4) && SUCCEEDED(surface->LockRect(&locked, nullptr, D3DLOCK_READONLY))) {
        out = {desc.Width, desc.Height, locked.Pitch, {}};
        for (uint32_t y = 0; y < desc.Height; ++y)
            for (uint32_t x = 0; x < desc.Width; ++x) {
                uint32_t v = 0;
                std::memcpy(&v, static_cast<const uint8_t*>(locked.pBits) + y * locked.Pitch + x * size, size);
                out.texels.push_back(v);
            }
        surface->UnlockRect();
    }
    if (copy)
        copy->Release();
    return out;
}

inline Level readLevel(const TextureRef& ref, uint32_t level = 0)
{
    IDirect3DSurface9* surface = nullptr;
    if (!ref.texture()->texture || FAILED(ref.texture()->texture->GetSurfaceLevel(level, &surface)))
        return {};
    Level out = readSurface(surface);
    surface->Release();
    return out;
}

// When the folder KORVANTA_SCREENSHOTS names is given, keeps what surface
// shows there as "<program>-<suite>-<test>-<n>.png" (program: "Render" for
// RenderTests.exe), n counting the views of the test, so that a run leaves
// the views its checks looked at.
inline void keepView(IDirect3DSurface9* surface)
{
    const char* folder = std::getenv("KORVANTA_SCREENSHOTS");
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (!folder || !*folder || !surface || !test)
        return;
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string program = module;
    program = program.substr(program.find_last_of("\\/") + 1);
    program = program.substr(0, program.find("Tests"));
    static std::map<std::string, int> views;
    const std::string name = program + "-" + test->test_suite_name() + "-" + test->name();
    const std::string path = std::string(folder) + "/" + name + "-" + std::to_string(++views[name]) + ".png";
    D3DXSaveSurfaceToFileA(path.c_str(), D3DXIFF_PNG, surface, nullptr, nullptr);
}

// One frame of the chain's passes (UI left out) over a back buffer cleared
// to clear, read back (and kept) before it is presented.
inline Level drawFrame(D3D::Device::SwapChain& chain, uint32_t clear)
{
    D3D::Device::SwapChain& c = *chain.beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clear, 1.0f, 0);
    c.render(false);
    Level pixels = readSurface(c.targets[0].surface);
    keepView(c.targets[0].surface);
    c.present();
    return pixels;
}

// The chain's camera at position looking along +z, its matrices updated
// (SwapChain::update is the managers' frame update, not the camera's).
inline void lookAlongZ(D3D::Device::SwapChain& chain, const vec3d& position)
{
    chain.position = position;
    chain.angles = {};
    chain.setAnglesDeg();
    chain.Camera::update();
}

// Where the chain's camera shows the world point p on a target of the test
// window's size.
inline vec2d screenPoint(const D3D::Device::SwapChain& chain, const vec3d& p, float width = 320.0f,
                         float height = 240.0f)
{
    const matrix3d& m = chain.viewProjection;
    const float w = p.x * m.m[3] + p.y * m.m[7] + p.z * m.m[11] + m.m[15];
    const float x = (p.x * m.m[0] + p.y * m.m[4] + p.z * m.m[8] + m.m[12]) / w;
    const float y = (p.x * m.m[1] + p.y * m.m[5] + p.z * m.m[9] + m.m[13]) / w;
    return {(x + 1.0f) * 0.5f * width, (1.0f - y) * 0.5f * height};
}

// The number of texels whose bits under mask differ from want(x, y); -1 for
// a level that could not be read.
inline int wrongTexels(const Level& level, const std::function<uint32_t(uint32_t, uint32_t)>& want,
                       uint32_t mask = 0xFFFFFFFFu)
{
    if (level.texels.empty())
        return -1;
    int wrong = 0;
    for (uint32_t y = 0; y < level.height; ++y)
        for (uint32_t x = 0; x < level.width; ++x)
            wrong += (level.at(x, y) & mask) != (want(x, y) & mask);
    return wrong;
}

// A managed texture whose level 0 holds value(x, y), written row by row
// through the pitch.
inline TextureRef makeTexture(uint32_t width, uint32_t height, D3DFORMAT format,
                              const std::function<uint32_t(uint32_t, uint32_t)>& value, uint32_t levels = 1)
{
    TextureRef ref;
    EXPECT_TRUE(Texture::create(ref, String(L"test"), width, height, levels, 0, format, D3DPOOL_MANAGED));
    TextureDevice::LevelLock lock(ref.isBound() ? ref.texture()->texture : nullptr, 0);
    EXPECT_TRUE(lock.ok());
    const uint32_t size = TextureDevice::bytesPerTexel(format);
    for (uint32_t y = 0; lock.ok() && y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t v = value(x, y);
            std::memcpy(lock.row(y) + size_t(x) * size, &v, size);
        }
    return ref;
}


// A scene that shows the states passes must leave as they found them: a
// textured, vertex-coloured quad with wrapped coordinates and linear
// filtering, a farther quad half behind it (depth test and depth writes),
// a quad of the other winding (culling) and a quad blended with the blend
// factors in force; alpha testing and fog off. Returns the back buffer's
// pixels, alpha included.
inline Level referenceScene(D3D::Device::SwapChain& chain, const TextureRef& texture)
{
    struct Vertex
    {
        float x, y, z, rhw;
        uint32_t diffuse;
        float u, v;
    };
    const auto quad = [](float x0, float y0, float x1, float y1, float z, uint32_t diffuse, float uv) {
        return std::vector<Vertex>{{x0, y0, z, 1.0f, diffuse, 0.0f, 0.0f},
                                   {x1, y0, z, 1.0f, diffuse, uv, 0.0f},
                                   {x0, y1, z, 1.0f, diffuse, 0.0f, uv},
                                   {x1, y1, z, 1.0f, diffuse, uv, uv}};
    };
    chain.beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x40112233, 1.0f, 0);
    gDevice->BeginScene();
    gDevice->SetTexture(0, texture.texture()->texture);
    gDevice->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    for (const auto& q : {quad(10, 10, 110, 110, 0.3f, 0x80FF8040, 2.5f), quad(60, 60, 160, 160, 0.7f, 0xFF40C0FF, 1.0f),
                          quad(230, 10, 170, 70, 0.5f, 0xFFFFFFFF, 1.0f)})
        gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q.data(), sizeof(Vertex));
    // Blended with the blend factors as found.
    gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    const auto blended = quad(180, 120, 300, 220, 0.5f, 0x90C08020, 1.0f);
    gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, blended.data(), sizeof(Vertex));
    gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    gDevice->SetTexture(0, nullptr);
    gDevice->EndScene();
    Level pixels = readSurface(chain.targets[0].surface);
    keepView(chain.targets[0].surface);
    chain.present();
    return pixels;
}

}
