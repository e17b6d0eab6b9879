#include "Render/TextureDevice.h"

#include "Render/D3DDevice.h"

#include "Core/PixelFormat.h"

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
