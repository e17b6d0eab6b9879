#include "Render/TextureDevice.h"

#include "Render/D3DDevice.h"

#include "Core/PixelFormat.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <new>

bool Texture::deviceReady()
{
    return gDevice && gDevice->TestCooperativeLevel() == D3D_OK;
}

namespace TextureDevice {

uint32_t bytesPerTexel(uint32_t format)
{
    switch (format) {
    case D3DFMT_R8G8B8:
        return 3;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8:
        return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4:
        return 2;
    case D3DFMT_A16B16G16R16F:
        return 8;
    case D3DFMT_A32B32G32R32F:
        return 16;
    default:
        return 0;
    }
}

bool isConvertible(uint32_t format)
{
    const uint32_t size = bytesPerTexel(format);
    return size >= 2 && size <= 4;
}

bool imageSize(const uint8_t* b, uint32_t n, uint32_t& width, uint32_t& height, uint32_t& texelBytes)
{
    const auto big16 = [b](size_t at) { return uint32_t(b[at]) << 8 | b[at + 1]; };
    const auto big32 = [&](size_t at) { return big16(at) << 16 | big16(at + 2); };
    const auto little16 = [b](size_t at) { return uint32_t(b[at + 1]) << 8 | b[at]; };
    const auto little32 = [&](size_t at) { return little16(at + 2) << 16 | little16(at); };
    const auto magnitude = [](uint32_t v) { return int32_t(v) < 0 ? 0u - v : v; };
    texelBytes = 4;
    if (!b)
        return false;
    // PNG: the signature, then the IHDR chunk's width and height.
    if (n >= 24 && std::memcmp(b, "\x89PNG\r\n\x1A\n", 8) == 0 && std::memcmp(b + 12, "IHDR", 4) == 0) {
        width = big32(16);
        height = big32(20);
        return true;
    }
    // DDS: the header's height and width; a format named by its number (the
    // pixel format's FourCC flag) may be wider than 4 bytes.
    if (n >= 128 && std::memcmp(b, "DDS ", 4) == 0) {
        height = little32(12);
        width = little32(16);
        const uint32_t fourCC = little32(84);
        if ((little32(80) & 4) && fourCC < 256)
            texelBytes = std::max(bytesPerTexel(fourCC), 4u);
        return true;
    }
    // BMP: the bitmap header's width and height (a negative height: rows
    // from the top); the oldest header holds them in 16 bits.
    if (n >= 26 && b[0] == 'B' && b[1] == 'M') {
        const bool core = little32(14) == 12;
        width = core ? little16(18) : magnitude(little32(18));
        height = core ? little16(20) : magnitude(little32(22));
        return true;
    }
    // JPEG: the segments up to the first start of a frame, sized only when
    // they follow one another cleanly. The decoder passes over whatever
    // lies between two segments until it meets a marker, so anything there
    // other than fill bytes (FF 00, a restart, a byte that is no marker),
    // any marker that carries no length or that the decoder refuses, the
    // scan or the image's end before a frame, or a length under 2 leaves
    // the image unsized: read past, it could hide the frame the decoder
    // finds.
    if (n >= 4 && b[0] == 0xFF && b[1] == 0xD8) {
        const auto frame = [](uint8_t m) { return m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC; };
        // Huffman and arithmetic tables, quantisation tables, the restart
        // interval, application data and comments.
        const auto segment = [](uint8_t m) {
            return m == 0xC4 || m == 0xCC || m == 0xDB || m == 0xDD || (m >= 0xE0 && m <= 0xEF) || m == 0xFE;
        };
        for (size_t at = 2; at < n && b[at] == 0xFF;) {
            while (at + 1 < n && b[at + 1] == 0xFF)
                ++at;
            if (at + 4 > n)
                return false;
            const uint8_t marker = b[at + 1];
            const uint32_t length = big16(at + 2);
            if (length < 2 || !(frame(marker) || segment(marker)))
                return false;
            if (frame(marker)) {
                if (length < 8 || at + 9 > n)
                    return false;
                height = big16(at + 5);
                width = big16(at + 7);
                return width > 0 && height > 0;
            }
            at += 2 + length;
        }
        return false;
    }
    // TGA has no mark: a colour map type of 0 or 1, an image type of a
    // colour-mapped, true-colour or grey image (plain or run-length coded)
    // and a depth of 8, 15, 16, 24 or 32 bits.
    const uint8_t type = n >= 18 ? b[2] & 0xF7 : 0;
    const uint8_t depth = n >= 18 ? b[16] : 0;
    if (n >= 18 && b[1] <= 1 && type >= 1 && type <= 3 &&
        (depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32)) {
        width = little16(12);
        height = little16(14);
        return true;
    }
    return false;
}

bool levelDesc(const Texture* record, uint32_t level, D3DSURFACE_DESC& desc)
{
    if (!record)
        return false;
    HRESULT r = E_FAIL;
    if (record->cubeTexture)
        r = record->cubeTexture->GetLevelDesc(level, &desc);
    else if (record->texture)
        r = record->texture->GetLevelDesc(level, &desc);
    return SUCCEEDED(r);
}

LevelLock::LevelLock(IDirect3DTexture9* texture, uint32_t level, DWORD flags) : level_(level)
{
    D3DLOCKED_RECT locked{};
    if (texture && SUCCEEDED(texture->LockRect(level, &locked, nullptr, flags)) && locked.pBits) {
        texture_ = texture;
        bits = static_cast<uint8_t*>(locked.pBits);
        pitch = locked.Pitch;
    }
}

LevelLock::LevelLock(IDirect3DCubeTexture9* cube, uint32_t face, uint32_t level, DWORD flags)
    : face_(face), level_(level)
{
    D3DLOCKED_RECT locked{};
    if (cube && SUCCEEDED(cube->LockRect(D3DCUBEMAP_FACES(face), level, &locked, nullptr, flags)) &&
        locked.pBits) {
        cube_ = cube;
        bits = static_cast<uint8_t*>(locked.pBits);
        pitch = locked.Pitch;
    }
}

LevelLock::~LevelLock()
{
    if (texture_)
        texture_->UnlockRect(level_);
    else if (cube_)
        cube_->UnlockRect(D3DCUBEMAP_FACES(face_), level_);
}

void copyRows(const LevelLock& to, const LevelLock& from, size_t rowBytes, uint32_t rows)
{
    for (uint32_t y = 0; y < rows; ++y)
        std::memcpy(to.row(y), from.row(y), rowBytes);
}

bool copyTexels(uint8_t* to, int32_t toPitch, uint32_t toFormat, const uint8_t* from, int32_t fromPitch,
                uint32_t fromFormat, uint32_t width, uint32_t height)
{
    const uint32_t toSize = bytesPerTexel(toFormat);
    const uint32_t fromSize = bytesPerTexel(fromFormat);
    if (toFormat == fromFormat && toSize != 0) {
        for (uint32_t y = 0; y < height; ++y)
            std::memcpy(to + size_t(y) * toPitch, from + size_t(y) * fromPitch, size_t(width) * toSize);
        return true;
    }
    if (!isConvertible(toFormat) || !isConvertible(fromFormat))
        return false;
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* out = to + size_t(y) * toPitch;
        const uint8_t* in = from + size_t(y) * fromPitch;
        for (uint32_t x = 0; x < width; ++x, out += toSize, in += fromSize) {
            const uint32_t value = convertPixel(in, fromFormat, toFormat, 255);
            std::memcpy(out, &value, toSize); // little-endian: the low bytes
        }
    }
    return true;
}

Texture* beginRecord()
{
    Texture* record = new (std::nothrow) Texture;
    if (!record)
        return nullptr;
    record->listNode = TextureList::append(record);
    if (!record->listNode) {
        delete record;
        return nullptr;
    }
    return record;
}

void abandonRecord(Texture* record)
{
    if (!record)
        return;
    if (record->listNode && record->listNode->owner)
        TextureList::removeFromOwner(record->listNode, true);
    else
        Texture::destroy(record);
}

void finishRecord(Texture* record, TextureRef& ref, const String& name)
{
    // A name without a buffer gives an empty name, never null text.
    record->name = new (std::nothrow) String(name.buffer() ? name : String(L""));
    ref.bind(record);
}

void bindTexture(uint32_t stage, const Texture* record)
{
    if (!gDevice)
        return;
    IDirect3DBaseTexture9* texture = nullptr;
    if (record && !record->busy)
        texture = record->texture ? static_cast<IDirect3DBaseTexture9*>(record->texture) : record->cubeTexture;
    gDevice->SetTexture(stage, texture);
}

void logFailure(const wchar_t* what, const String& name, HRESULT result)
{
    const String error = D3D::getErrorName(result);
    wchar_t line[600];
    _snwprintf(line, 600, L"Korvanta: %ls failed for \"%.400ls\" (%ls)\n", what, name.text(), error.text());
    line[599] = 0;
    OutputDebugStringW(line);
}

}
