// Texture blocks inside other files: the image-file block (written and read
// here) and the raw block of level-0 texels (read only).
#include "Render/TextureDevice.h"

#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"

#include "Core/CrashTrace.h"
#include "Core/FileArray.h"

#include <d3dx9.h>

using namespace TextureDevice;

namespace {

// The level-0 description of a raw block, in the order of D3DSURFACE_DESC.
struct RawDescription
{
    uint32_t format;
    uint32_t type;
    uint32_t usage;
    uint32_t pool;
    uint32_t multiSampleType;
    uint32_t multiSampleQuality;
    uint32_t width;
    uint32_t height;
};
static_assert(sizeof(RawDescription) == 32);

// Largest side a raw block may describe when the device reports none.
constexpr uint32_t fallbackMaxSide = 4096;
// A full chain of a 65536-texel side has 17 levels.
constexpr uint32_t maxLevels = 17;

uint32_t maxRawSide()
{
    const D3DCAPS9& caps = gDirectGraphics.caps;
    uint32_t side = caps.MaxTextureWidth < caps.MaxTextureHeight ? caps.MaxTextureWidth : caps.MaxTextureHeight;
    return side ? side : fallbackMaxSide;
}

// Only what a level file may hold: a lockable texture of a format whose
// texels the block can carry, of a size the device takes.
bool acceptable(const RawDescription& d, uint32_t levels)
{
    const uint32_t maxSide = maxRawSide();
    return bytesPerTexel(d.format) != 0 && d.usage == 0 &&
           (d.pool == D3DPOOL_MANAGED || d.pool == D3DPOOL_SYSTEMMEM) && d.width >= 1 && d.height >= 1 &&
           d.width <= maxSide && d.height <= maxSide && levels <= maxLevels;
}

}

bool Texture::writeToStream(FileInterface& stream, const TextureRef& ref, uint32_t fileFormat)
{
    CRASH_TRACE();
    IDirect3DTexture9* texture = ref.texture()->texture;
    if (!ref.isBound() || !texture)
        return false;
    ID3DXBuffer* encoded = nullptr;
    if (FAILED(D3DXSaveTextureToFileInMemory(&encoded, D3DXIMAGE_FILEFORMAT(fileFormat), texture, nullptr)) ||
        !encoded)
        return false;
    const uint32_t levelCount = texture->GetLevelCount();
    const uint32_t byteCount = encoded->GetBufferSize();
    const bool written = stream.writeValue(levelCount) && stream.writeValue(byteCount) &&
                         stream.write(encoded->GetBufferPointer(), byteCount) == byteCount;
    encoded->Release();
    return written;
}

bool Texture::readFromStream(FileInterface& stream, TextureRef& ref, uint32_t levels)
{
    CRASH_TRACE();
    uint32_t mipLevels = D3DX_DEFAULT;
    if (levels == 0xFFFFFFFFu) {
        uint32_t skipped = 0;
        if (!stream.readValue(skipped))
            return false;
    } else if (!stream.readValue(mipLevels)) {
        return false;
    }
    uint32_t byteCount = 0;
    FileArray bytes(4096);
    if (!stream.readValue(byteCount) || !bytes.loadBytes(stream, byteCount) || byteCount == 0)
        return false;
    if (!gDevice)
        return false;
    Texture* record = beginRecord();
    if (!record)
        return false;
    const HRESULT r = D3DXCreateTextureFromFileInMemoryEx(gDevice, bytes.memory(), byteCount, D3DX_DEFAULT,
                                                          D3DX_DEFAULT, mipLevels, 0, D3DFMT_UNKNOWN, D3DPOOL_MANAGED,
                                                          D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr,
                                                          &record->texture);
    if (r != D3D_OK || !record->texture) {
        logFailure(L"reading a texture block", String::borrowed(L"Empty"), r);
        abandonRecord(record);
        return false;
    }
    finishRecord(record, ref, String::borrowed(L"Empty"));
    return true;
}

bool Texture::readRaw(FileInterface& stream, TextureRef& ref)
{
    CRASH_TRACE();
    if (!deviceReady())
        return false;
    uint32_t levels = 0;
    RawDescription d{};
    if (!stream.readValue(levels) || !stream.readValue(d) || !acceptable(d, levels))
        return false;
    const size_t rowBytes = size_t(d.width) * bytesPerTexel(d.format);
    if (uint64_t(rowBytes) * d.height > stream.remaining())
        return false;
    Texture* record = beginRecord();
    if (!record)
        return false;
    const HRESULT r = gDevice->CreateTexture(d.width, d.height, levels, d.usage, D3DFORMAT(d.format), D3DPOOL(d.pool),
                                             &record->texture, nullptr);
    if (FAILED(r) || !record->texture) {
        abandonRecord(record);
        return false;
    }
    bool filled = false;
    {
        LevelLock lock(record->texture, 0);
        if (lock.ok()) {
            filled = true;
            for (uint32_t y = 0; y < d.height && filled; ++y)
                filled = stream.read(lock.row(y), uint32_t(rowBytes)) == rowBytes;
        }
    }
    if (!filled) {
        abandonRecord(record);
        return false;
    }
    finishRecord(record, ref, String::borrowed(L"Unnamed"));
    generateMipLevels(ref);
    return true;
}
