// Operations on the texels of locked levels: mip generation, rectangle
// fills, alpha from red, colour bleeding, procedural fills, duplicates and
// render-target read-back.
#include "Render/TextureDevice.h"

#include "Render/D3DDevice.h"

#include "Core/PixelFormat.h"

#include <algorithm>
#include <cstring>

using namespace TextureDevice;

namespace {

bool hasNoAlpha(uint32_t format)
{
    return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5 || format == D3DFMT_X1R5G5B5 ||
           format == D3DFMT_X4R4G4B4;
}

// The alpha bits a 16-bit format keeps of the centre texel.
uint16_t alphaMask16(uint32_t format)
{
    switch (format) {
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
        return 0x8000;
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
        return 0xF000;
    default:
        return 0;
    }
}

Color readTexel(const uint8_t* p, uint32_t format)
{
    return Color::fromArgb(convertPixel(p, format, D3DFMT_A8R8G8B8, 255));
}

// One texel of the smaller level from five of the larger: each neighbour
// pulls the centre toward it by its opacity.
Color blend(const Color& c, const Color* neighbours, bool opaque)
{
    int sums[3] = {c.r, c.g, c.b};
    for (int i = 0; i < 4; ++i) {
        const Color& n = neighbours[i];
        const double a = (opaque ? 255 : n.a) * (1.0 / 255.0);
        sums[0] += int((1.0 - a) * c.r + a * n.r);
        sums[1] += int((1.0 - a) * c.g + a * n.g);
        sums[2] += int((1.0 - a) * c.b + a * n.b);
    }
    return Color(uint8_t(sums[0] / 5), uint8_t(sums[1] / 5), uint8_t(sums[2] / 5), c.a);
}

void downsample(const LevelLock& from, const D3DSURFACE_DESC& big, const LevelLock& to, const D3DSURFACE_DESC& small,
                uint32_t format)
{
    const uint32_t size = bytesPerTexel(format);
    const bool opaque = hasNoAlpha(format);
    const int32_t w = int32_t(big.Width);
    const int32_t h = int32_t(big.Height);
    auto at = [&](int32_t x, int32_t y) { return from.row(uint32_t(y)) + size_t(x) * size; };
    for (uint32_t y = 0; y < small.Height; ++y) {
        uint8_t* out = to.row(y);
        const int32_t cy = std::min(int32_t(2 * y), h - 1);
        const int32_t below = cy + 1 < h ? cy + 1 : cy;
        const int32_t above = cy - 1 >= 0 ? cy - 1 : 0;
        for (uint32_t x = 0; x < small.Width; ++x, out += size) {
            const int32_t cx = std::min(int32_t(2 * x), w - 1);
            const int32_t right = cx + 1 < w ? cx + 1 : cx;
            const int32_t left = cx - 1 >= 0 ? cx - 1 : 0;
            const uint8_t* centre = at(cx, cy);
            const Color c = readTexel(centre, format);
            const Color n[4] = {readTexel(at(right, cy), format), readTexel(at(left, cy), format),
                                readTexel(at(cx, below), format), readTexel(at(cx, above), format)};
            const Color result = blend(c, n, opaque);
            if (size == 4) {
                // The centre's fourth byte stays as it was, alpha or not.
                std::memcpy(out, centre, 4);
                out[0] = result.b;
                out[1] = result.g;
                out[2] = result.r;
            } else {
                uint16_t centreValue;
                std::memcpy(&centreValue, centre, 2);
                const uint16_t mask = alphaMask16(format);
                const uint16_t value = uint16_t((convertPixel(&result, D3DFMT_A8R8G8B8, format, 255) & ~mask) |
                                                (centreValue & mask));
                std::memcpy(out, &value, 2);
            }
        }
    }
}

}

void Texture::generateMipLevels(const TextureRef& ref)
{
    IDirect3DTexture9* texture = ref.texture()->texture;
    if (!ref.isBound() || !texture)
        return;
    const uint32_t levels = texture->GetLevelCount();
    for (uint32_t level = 0; level + 1 < levels; ++level) {
        D3DSURFACE_DESC big{}, small{};
        if (FAILED(texture->GetLevelDesc(level, &big)) || FAILED(texture->GetLevelDesc(level + 1, &small)))
            return;
        // Texels are read through their own format; formats the conversions
        // do not know keep the levels they have.
        const uint32_t size = bytesPerTexel(big.Format);
        if (size != 2 && size != 4)
            return;
        LevelLock from(texture, level);
        LevelLock to(texture, level + 1);
        if (!from.ok() || !to.ok())
            return;
        downsample(from, big, to, small, big.Format);
    }
}

void Texture::fillRect(const TextureRef& ref, int32_t x0, int32_t x1, int32_t y0, int32_t y1, const uint8_t* colour,
                       uint32_t level, bool subtract, bool writeAlpha)
{
    IDirect3DTexture9* texture = ref.texture()->texture;
    D3DSURFACE_DESC desc{};
    if (!ref.isBound() || !texture || !colour || FAILED(texture->GetLevelDesc(level, &desc)))
        return;
    const int32_t w = int32_t(desc.Width);
    const int32_t h = int32_t(desc.Height);
    if (x0 == -1)
        x0 = 0;
    if (y0 == -1)
        y0 = 0;
    if (x1 == -1)
        x1 = w - 1;
    if (y1 == -1)
        y1 = h - 1;
    x0 = std::clamp(x0, 0, std::max(w - 2, 0));
    y0 = std::clamp(y0, 0, std::max(h - 2, 0));
    x1 = std::clamp(x1, 0, w - 1);
    y1 = std::clamp(y1, 0, h - 1);
    const uint32_t size = bytesPerTexel(desc.Format);
    if (size != 2 && size != 4)
        return;
    LevelLock lock(texture, level);
    if (!lock.ok())
        return;
    const uint16_t value16 = uint16_t(convertPixel(colour, D3DFMT_A8R8G8B8, desc.Format, 255));
    for (int32_t y = y0; y <= y1; ++y) {
        uint8_t* texel = lock.row(uint32_t(y)) + size_t(x0) * size;
        for (int32_t x = x0; x <= x1; ++x, texel += size) {
            if (size == 2) {
                std::memcpy(texel, &value16, 2);
            } else if (subtract) {
                for (int i = 0; i < 4; ++i)
                    texel[i] = uint8_t(std::max(int(texel[i]) - int(colour[i]), 0));
            } else {
                std::memcpy(texel, colour, writeAlpha ? 4 : 3);
            }
        }
    }
}

void Texture::alphaFromRed(const TextureRef& ref)
{
    // A cube record has no 2D level to work on, and only 32-bit texels carry
    // a red and an alpha byte.
    IDirect3DTexture9* texture = ref.texture()->texture;
    D3DSURFACE_DESC desc{};
    if (!ref.isBound() || !texture || FAILED(texture->GetLevelDesc(0, &desc)) || bytesPerTexel(desc.Format) != 4)
        return;
    LevelLock lock(texture, 0);
    if (!lock.ok())
        return;
    for (uint32_t y = 0; y < desc.Height; ++y) {
        uint8_t* texel = lock.row(y);
        for (uint32_t x = 0; x < desc.Width; ++x, texel += 4)
            texel[3] = texel[2];
    }
}

void Texture::whiteFromRed(const TextureRef& ref)
{
    static constexpr uint8_t white[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    alphaFromRed(ref);
    fillRect(ref, -1, -1, -1, -1, white, 0, false, false);
}

void Texture::bleedIntoTransparent(const TextureRef& ref)
{
    Texture* record = ref.texture();
    IDirect3DTexture9* texture = record->texture;
    D3DSURFACE_DESC desc{};
    if (!ref.isBound() || !texture || record->alphaBled || FAILED(texture->GetLevelDesc(0, &desc)) ||
        desc.Format != D3DFMT_A8R8G8B8)
        return;
    const uint32_t levels = texture->GetLevelCount();
    for (uint32_t level = 0; level < levels; ++level) {
        if (FAILED(texture->GetLevelDesc(level, &desc)))
            break;
        LevelLock lock(texture, level);
        if (!lock.ok())
            continue;
        const int32_t w = int32_t(desc.Width);
        const int32_t h = int32_t(desc.Height);
        auto texel = [&](int32_t x, int32_t y) {
            return reinterpret_cast<uint32_t*>(lock.row(uint32_t((y + h) % h))) + (x + w) % w;
        };
        for (int32_t y = 0; y < h; ++y) {
            for (int32_t x = 0; x < w; ++x) {
                const uint32_t value = *texel(x, y);
                if ((value >> 24) == 0)
                    continue;
                for (int32_t dy = -1; dy <= 1; ++dy)
                    for (int32_t dx = -1; dx <= 1; ++dx) {
                        uint32_t* n = texel(x + dx, y + dy);
                        if ((dx || dy) && (*n >> 24) == 0)
                            *n = value & 0x00FFFFFFu;
                    }
            }
        }
    }
    record->alphaBled = 1;
}

void Texture::fillProcedural(const TextureRef& ref, TexelFunction texelFunction)
{
    IDirect3DTexture9* texture = ref.texture()->texture;
    D3DSURFACE_DESC desc{};
    if (!ref.isBound() || !texture || !texelFunction || FAILED(texture->GetLevelDesc(0, &desc)))
        return;
    const uint32_t size = bytesPerTexel(desc.Format);
    if (!size)
        return;
    LevelLock lock(texture, 0);
    if (!lock.ok())
        return;
    for (uint32_t y = 0; y < desc.Height; ++y) {
        uint8_t* texel = lock.row(y);
        for (uint32_t x = 0; x < desc.Width; ++x, texel += size)
            texelFunction(texel, x, y, desc);
    }
}

namespace {

// Bytes and rows of a level as a lock lays them out: texel rows, or rows of
// 4 x 4 blocks for the compressed formats. False for other formats.
bool levelLayout(const D3DSURFACE_DESC& desc, size_t& rowBytes, uint32_t& rows)
{
    const uint32_t size = bytesPerTexel(desc.Format);
    if (size) {
        rowBytes = size_t(desc.Width) * size;
        rows = desc.Height;
        return true;
    }
    uint32_t blockBytes = 0;
    if (desc.Format == D3DFMT_DXT1)
        blockBytes = 8;
    else if (desc.Format == D3DFMT_DXT2 || desc.Format == D3DFMT_DXT3 || desc.Format == D3DFMT_DXT4 ||
             desc.Format == D3DFMT_DXT5)
        blockBytes = 16;
    if (!blockBytes)
        return false;
    rowBytes = size_t((desc.Width + 3) / 4) * blockBytes;
    rows = (desc.Height + 3) / 4;
    return true;
}

}

bool Texture::duplicate(const TextureRef& source, TextureRef& ref)
{
    IDirect3DTexture9* texture = source.texture()->texture;
    D3DSURFACE_DESC desc{};
    if (!source.isBound() || !texture || FAILED(texture->GetLevelDesc(0, &desc)))
        return false;
    TextureRef made;
    if (!create(made, String(), desc.Width, desc.Height, texture->GetLevelCount(), desc.Usage, desc.Format,
                desc.Pool))
        return false;
    // A level that cannot be locked (a render target) or whose layout is
    // unknown gives no copy: the new texture would hold whatever it was
    // made with.
    size_t rowBytes = 0;
    uint32_t rows = 0;
    if (!levelLayout(desc, rowBytes, rows))
        return false;
    {
        LevelLock from(texture, 0);
        LevelLock to(made.texture()->texture, 0);
        if (!from.ok() || !to.ok())
            return false;
        copyRows(to, from, rowBytes, rows);
    }
    generateMipLevels(made);
    ref = std::move(made);
    return true;
}

void Texture::copyRenderTarget(const TextureRef& source, const TextureRef& destination)
{
    Texture* from = source.texture();
    Texture* to = destination.texture();
    D3DSURFACE_DESC a{}, b{};
    // The destination must be a texture of its own (never the default
    // checkerboard) of the same kind, size and format.
    if (!source.isBound() || !destination.isBound() || !gDevice || !levelDesc(from, 0, a) || !levelDesc(to, 0, b) ||
        a.Width != b.Width || a.Height != b.Height || a.Format != b.Format ||
        (from->cubeTexture != nullptr) != (to->cubeTexture != nullptr))
        return;
    const uint32_t size = bytesPerTexel(a.Format);
    TextureRef temporary;
    if (!size || !create(temporary, String::borrowed(L"RenderLockTexture"), a.Width, a.Height, 1, 0, a.Format,
                         D3DPOOL_SYSTEMMEM))
        return;
    IDirect3DTexture9* lockable = temporary.texture()->texture;
    IDirect3DSurface9* lockSurface = nullptr;
    if (FAILED(lockable->GetSurfaceLevel(0, &lockSurface)) || !lockSurface)
        return;
    const uint32_t faces = from->cubeTexture ? 6 : 1;
    for (uint32_t face = 0; face < faces; ++face) {
        IDirect3DSurface9* surface = nullptr;
        const HRESULT got = from->cubeTexture
                                ? from->cubeTexture->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &surface)
                                : from->texture->GetSurfaceLevel(0, &surface);
        if (FAILED(got) || !surface)
            continue;
        if (SUCCEEDED(gDevice->GetRenderTargetData(surface, lockSurface))) {
            LevelLock read(lockable, 0, D3DLOCK_READONLY);
            if (read.ok()) {
                if (to->cubeTexture) {
                    LevelLock write(to->cubeTexture, face, 0);
                    if (write.ok())
                        copyRows(write, read, size_t(a.Width) * size, a.Height);
                } else {
                    LevelLock write(to->texture, 0);
                    if (write.ok())
                        copyRows(write, read, size_t(a.Width) * size, a.Height);
                }
            }
        }
        surface->Release();
    }
    lockSurface->Release();
}
