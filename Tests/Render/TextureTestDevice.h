#pragma once
// A real device on a test window for the texture tests, and helpers that
// make textures of known texels and read them back.
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "ImageFileWriter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace TextureTest {

class Client final : public D3D::SwapChainInterface
{
public:
    uint32_t pumpMessages() override
    {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT)
                return 0;
            DispatchMessageW(&message);
        }
        return 1;
    }
};

inline HWND makeWindow()
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TextureTest";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, L"Texture test", WS_OVERLAPPEDWINDOW, 0, 0, 200, 160, nullptr,
                           nullptr, wc.hInstance, nullptr);
}

// One device for each suite; released with every texture record.
class DeviceSuite : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        window = makeWindow();
        ASSERT_NE(window, nullptr);
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

    static inline HWND window = nullptr;
    static inline Client* client = nullptr;
};

// Texel (x, y) of a test image: every texel differs, alpha varies.
inline uint32_t patternTexel(uint32_t x, uint32_t y, uint32_t seed = 0)
{
    return uint32_t(0x40 + (x * 29 + y * 7 + seed) % 0xC0) << 24 | (x * 37 + seed * 11) % 256 << 16 |
           (y * 53 + 17) % 256 << 8 | (x * y + seed * 3 + 5) % 256;
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

// Level `level` of a lockable 2D texture as 32-bit values (16-bit texels in
// the low half), read row by row through the pitch.
struct Level
{
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t pitch = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    std::vector<uint32_t> texels;
    uint32_t at(uint32_t x, uint32_t y) const { return texels[size_t(y) * width + x]; }
};

inline Level readLevel(IDirect3DTexture9* texture, uint32_t level = 0)
{
    Level out;
    D3DSURFACE_DESC desc{};
    if (!texture || FAILED(texture->GetLevelDesc(level, &desc)))
        return out;
    const uint32_t size = TextureDevice::bytesPerTexel(desc.Format);
    TextureDevice::LevelLock lock(texture, level, D3DLOCK_READONLY);
    if (!lock.ok() || (size != 2 && size != 4))
        return out;
    out.width = desc.Width;
    out.height = desc.Height;
    out.pitch = lock.pitch;
    out.format = desc.Format;
    for (uint32_t y = 0; y < desc.Height; ++y)
        for (uint32_t x = 0; x < desc.Width; ++x) {
            uint32_t v = 0;
            std::memcpy(&v, lock.row(y) + size_t(x) * size, size);
            out.texels.push_back(v);
        }
    return out;
}

inline Level readLevel(const TextureRef& ref, uint32_t level = 0)
{
    return readLevel(ref.texture()->texture, level);
}

// Fills level 0 with value(x, y), row by row through the pitch.
template <class F>
void writeLevel(IDirect3DTexture9* texture, F value)
{
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    const uint32_t size = TextureDevice::bytesPerTexel(desc.Format);
    TextureDevice::LevelLock lock(texture, 0);
    ASSERT_TRUE(lock.ok());
    for (uint32_t y = 0; y < desc.Height; ++y)
        for (uint32_t x = 0; x < desc.Width; ++x) {
            const uint32_t v = value(x, y);
            std::memcpy(lock.row(y) + size_t(x) * size, &v, size);
        }
}

inline size_t listedRecords()
{
    return size_t(TextureList::records().count());
}

}
