// Creating the Direct3D objects behind texture records: the default
// checkerboard, D3DX loads from files, memory and module resources, cube
// textures, empty textures, the engine's image reader and converted copies.
#include "Render/TextureDevice.h"

#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"

#include "Core/BlockCompression.h"
#include "Core/Color.h"
#include "Core/CrashTrace.h"
#include "Core/FileArray.h"
#include "Core/ImageData.h"
#include "Core/Resource.h"

#include <d3dx9.h>

#include <algorithm>
#include <cwchar>
#include <new>

using namespace TextureDevice;

namespace {

constexpr uint32_t defaultSize = 32;
constexpr uint32_t defaultLevels = 3;
constexpr uint32_t checkerBlue = 0xFF000084;
constexpr uint32_t checkerRed = 0xFFFF0000;

// The file types D3DX reads for us.
constexpr const wchar_t* fileExtensions[] = {L"bmp", L"dds", L"dib", L"hdr", L"jpg",
                                             L"jpeg", L"pfm", L"png", L"ppm", L"tga"};

bool isFileExtension(const wchar_t* text)
{
    for (const wchar_t* extension : fileExtensions)
        if (std::wcscmp(text, extension) == 0)
            return true;
    return false;
}

bool isEmptyName(const String& name)
{
    return !name.buffer() || name.buffer()[0] == 0;
}

D3DCOLOR keyColour(const Color24* key)
{
    return key ? D3DCOLOR(0xFF000000u | uint32_t(key->r) << 16 | uint32_t(key->g) << 8 | key->b) : 0;
}

// Memory and size of a stream; a disk stream is read into holder first.
bool streamBytes(FileInterface& stream, FileArray& holder, const uint8_t*& bytes, uint32_t& size)
{
    if (stream.memory()) {
        bytes = stream.memory();
        size = stream.size();
    } else {
        if (!holder.loadFrom(stream))
            return false;
        bytes = holder.memory();
        size = holder.size();
    }
    return bytes && size > 0;
}

// The stream's bytes handed to create(bytes, size, record), which makes the
// record's Direct3D object; what names the load in the failure line.
template <class Create>
bool createFromStream(FileInterface& stream, TextureRef& ref, const String& name, const wchar_t* what,
                      Create create)
{
    FileArray holder;
    const uint8_t* bytes = nullptr;
    uint32_t size = 0;
    if (!gDevice)
        return false;
    if (!streamBytes(stream, holder, bytes, size)) {
        logFailure(what, name, D3DXERR_INVALIDDATA);
        return false;
    }
    Texture* record = beginRecord();
    if (!record)
        return false;
    CrashTrace::setLastString(name.text());
    const HRESULT r = create(bytes, size, *record);
    if (r != D3D_OK || (!record->texture && !record->cubeTexture)) {
        logFailure(what, name, r);
        abandonRecord(record);
        return false;
    }
    finishRecord(record, ref, name);
    return true;
}

}

void Texture::createDefault()
{
    CRASH_TRACE();
    if (!deviceReady())
        return;
    releaseDefault();
    IDirect3DTexture9* texture = nullptr;
    if (FAILED(gDevice->CreateTexture(defaultSize, defaultSize, defaultLevels, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED,
                                      &texture, nullptr)) ||
        !texture)
        return;
    empty.texture = texture;
    empty.name = new (std::nothrow) String(L"default.bmp");
    const uint32_t levels = texture->GetLevelCount();
    for (uint32_t level = 0; level < levels; ++level) {
        const uint32_t size = defaultSize >> level;
        const uint32_t bit = levels - 1 - level;
        LevelLock lock(texture, level);
        if (!lock.ok())
            continue;
        for (uint32_t y = 0; y < size; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(lock.row(y));
            for (uint32_t x = 0; x < size; ++x)
                row[x] = ((x >> bit) & 1) != ((y >> bit) & 1) ? checkerBlue : checkerRed;
        }
    }
}

void Texture::releaseDefault()
{
    D3D::releaseInterface(empty.texture);
    delete empty.name;
    empty.name = nullptr;
}

bool Texture::createFromFileByName(TextureRef& ref, String name, const Color24* colourKey, uint32_t mipLevels,
                                   uint32_t format, uint32_t pool, uint32_t width, uint32_t height, bool reload)
{
    return loadFromFile(ref, std::move(name), width, height, colourKey, mipLevels, format, pool, D3DX_DEFAULT, reload);
}

bool Texture::loadFromFile(TextureRef& ref, String name, uint32_t width, uint32_t height, const Color24* colourKey,
                           uint32_t mipLevels, uint32_t format, uint32_t pool, uint32_t filter, bool reload)
{
    CRASH_TRACE();
    if (isEmptyName(name))
        return false;
    if (!reload && findByName(ref, name))
        return true;
    String extension(name.getExtension());
    extension.toLower();
    if (!isFileExtension(extension.text()) || !gDevice)
        return false;
    Texture* record = beginRecord();
    if (!record)
        return false;
    CrashTrace::setLastString(name.text());
    const HRESULT r = D3DXCreateTextureFromFileExW(gDevice, name.text(), width, height, mipLevels, 0,
                                                   D3DFORMAT(format), D3DPOOL(pool), filter, D3DX_DEFAULT,
                                                   keyColour(colourKey), nullptr, nullptr, &record->texture);
    if (r != D3D_OK || !record->texture) {
        logFailure(L"loading a texture file", name, r);
        abandonRecord(record);
        return false;
    }
    finishRecord(record, ref, name);
    return true;
}

bool Texture::loadFromMemory(FileInterface& stream, const Color24* colourKey, TextureRef& ref, String name,
                             uint32_t width, uint32_t height, uint32_t mipLevels, uint32_t format, uint32_t pool,
                             uint32_t filter)
{
    CRASH_TRACE();
    return createFromStream(
        stream, ref, name, L"loading a texture from memory", [&](const uint8_t* bytes, uint32_t size, Texture& record) {
            return D3DXCreateTextureFromFileInMemoryEx(gDevice, bytes, size, width, height, mipLevels, 0,
                                                       D3DFORMAT(format), D3DPOOL(pool), filter, D3DX_DEFAULT,
                                                       keyColour(colourKey), nullptr, nullptr, &record.texture);
        });
}

bool Texture::loadFromResource(TextureRef& ref, String name, const String& type, uint16_t id, uint32_t width,
                               uint32_t height, const Color24* colourKey, uint32_t mipLevels, uint32_t format,
                               uint32_t pool, uint32_t filter, bool reload)
{
    CRASH_TRACE();
    if (isEmptyName(name))
        return false;
    CrashTrace::setLastString(name.text());
    if (!reload && findByName(ref, name))
        return true;
    if (!isFileExtension(type.text()))
        return false;
    Resource resource(id, 10);
    const bool made =
        loadFromMemory(resource, colourKey, ref, std::move(name), width, height, mipLevels, format, pool, filter);
    resource.close();
    return made;
}

bool Texture::loadCubeFromMemory(FileInterface& stream, const Color24* colourKey, TextureRef& ref, String name,
                                 uint32_t size, uint32_t mipLevels, uint32_t format, uint32_t pool, uint32_t filter)
{
    CRASH_TRACE();
    return createFromStream(
        stream, ref, name, L"loading a cube texture", [&](const uint8_t* bytes, uint32_t byteCount, Texture& record) {
            return D3DXCreateCubeTextureFromFileInMemoryEx(gDevice, bytes, byteCount, size, mipLevels, 0,
                                                           D3DFORMAT(format), D3DPOOL(pool), filter, D3DX_DEFAULT,
                                                           keyColour(colourKey), nullptr, nullptr,
                                                           &record.cubeTexture);
        });
}

long Texture::createCubeObject(Texture* record, uint32_t edge, uint32_t levels, uint32_t usage, uint32_t format,
                               uint32_t pool)
{
    CRASH_TRACE();
    if (!record || !deviceReady())
        return 0;
    D3D::releaseInterface(record->cubeTexture);
    return gDevice->CreateCubeTexture(edge, levels, usage, D3DFORMAT(format), D3DPOOL(pool), &record->cubeTexture,
                                      nullptr);
}

bool Texture::createCube(TextureRef& ref, String name, uint32_t edge, uint32_t levels, uint32_t usage,
                         uint32_t format, uint32_t pool)
{
    Texture* record = beginRecord();
    if (!record)
        return false;
    if (createCubeObject(record, edge, levels, usage, format, pool) < 0) {
        abandonRecord(record);
        return false;
    }
    finishRecord(record, ref, name);
    return true;
}

bool Texture::create(TextureRef& ref, String name, uint32_t width, uint32_t height, uint32_t levels, uint32_t usage,
                     uint32_t format, uint32_t pool)
{
    CRASH_TRACE();
    if (!deviceReady() || width < 2 || height < 2)
        return false;
    CrashTrace::setLastString(name.text());
    CrashTrace::setLastValues(intptr_t(width), intptr_t(height));
    Texture* record = beginRecord();
    if (!record)
        return false;
    const HRESULT r = gDevice->CreateTexture(width, height, levels, usage, D3DFORMAT(format), D3DPOOL(pool),
                                             &record->texture, nullptr);
    if (FAILED(r) || !record->texture) {
        abandonRecord(record);
        return false;
    }
    finishRecord(record, ref, name);
    return true;
}

bool Texture::loadImageFile(TextureRef& ref, String name, const String& type, uint16_t id, uint32_t levels,
                            uint32_t format, uint32_t pool, bool powerOfTwo, const Color24* colourKey)
{
    ImageData image;
    image.load(id, type.text());
    return createFromImage(ref, std::move(name), image, levels, pool, format, powerOfTwo, colourKey);
}

bool Texture::createFromImage(TextureRef& ref, String name, const ImageData& image, uint32_t levels, uint32_t pool,
                              uint32_t format, bool powerOfTwo, const Color24* colourKey)
{
    CRASH_TRACE();
    if (!deviceReady())
        return false;
    const D3D::Device& device = gDirectGraphics.record;
    const int32_t limit = device.limitTextureSize ? int32_t(device.maxTextureSize) : -1;
    ImageData::ColorKey key;
    if (colourKey) {
        key.blue = colourKey->b;
        key.green = colourKey->g;
        key.red = colourKey->r;
    }
    surface1d<Color> texels;
    // Only formats a texel can be converted into are filled correctly.
    if (!isConvertible(format) || !image.copyToRect(texels, limit, limit, powerOfTwo, colourKey ? &key : nullptr) ||
        !texels.pixels) {
        CrashTrace::setLastString(name.text());
        logFailure(L"decoding an image", name, D3DXERR_INVALIDDATA);
        return false;
    }
    Texture* record = beginRecord();
    if (!record)
        return false;
    const HRESULT r = gDevice->CreateTexture(uint32_t(texels.width), uint32_t(texels.height), levels, 0,
                                             D3DFORMAT(format), D3DPOOL(pool), &record->texture, nullptr);
    if (FAILED(r) || !record->texture) {
        CrashTrace::setLastValues(intptr_t(r), -1);
        abandonRecord(record);
        return false;
    }
    {
        LevelLock lock(record->texture, 0);
        if (!lock.ok()) {
            logFailure(L"filling an image texture", name, D3DERR_INVALIDCALL);
            abandonRecord(record);
            return false;
        }
        copyTexels(lock.bits, lock.pitch, format, reinterpret_cast<const uint8_t*>(texels.pixels),
                   texels.width * int32_t(sizeof(Color)), D3DFMT_A8R8G8B8, uint32_t(texels.width),
                   uint32_t(texels.height));
    }
    finishRecord(record, ref, name);
    generateMipLevels(ref);
    CrashTrace::setLastString(name.text());
    return true;
}

namespace {

// DXT3 from A8R8G8B8 by the engine's own encoder, level by level: far
// quicker than D3DX's, whose search for the best ends takes tens of
// milliseconds for a 512 x 512 picture. False when a level cannot be read
// or the device makes no such texture; the caller then goes through D3DX.
bool createDxt3Copy(IDirect3DTexture9* texture, uint32_t levels, TextureRef& ref)
{
    D3DSURFACE_DESC desc{};
    if (FAILED(texture->GetLevelDesc(0, &desc)) || desc.Format != D3DFMT_A8R8G8B8)
        return false;
    levels = std::min(levels, uint32_t(texture->GetLevelCount()));
    Texture* record = beginRecord();
    if (!record)
        return false;
    if (FAILED(gDevice->CreateTexture(desc.Width, desc.Height, levels, 0, D3DFMT_DXT3, D3DPOOL_MANAGED,
                                      &record->texture, nullptr)) ||
        !record->texture) {
        abandonRecord(record);
        return false;
    }
    bool encoded = true;
    for (uint32_t level = 0; level < levels && encoded; ++level) {
        D3DSURFACE_DESC from{};
        if (FAILED(texture->GetLevelDesc(level, &from)))
            encoded = false;
        LevelLock source(texture, level, D3DLOCK_READONLY);
        LevelLock target(record->texture, level);
        encoded = encoded && source.ok() && target.ok() &&
                  BlockCompression::encodeDxt3(source.bits, source.pitch, from.Width, from.Height, target.bits,
                                               target.pitch);
    }
    if (!encoded) {
        abandonRecord(record);
        return false;
    }
    finishRecord(record, ref, String::borrowed(L"Empty"));
    return true;
}

} // namespace

bool Texture::createCopyViaMemory(const TextureRef& source, uint32_t levels, TextureRef& ref, uint32_t format)
{
    CRASH_TRACE();
    IDirect3DTexture9* texture = source.texture()->texture;
    if (!source.isBound() || !texture || !gDevice)
        return false;
    if (format == D3DFMT_DXT3 && createDxt3Copy(texture, levels, ref))
        return true;
    ID3DXBuffer* encoded = nullptr;
    // Some D3DX builds cannot write DDS files; PNG then carries the texels
    // (the top level, 8 bits per channel).
    if ((FAILED(D3DXSaveTextureToFileInMemory(&encoded, D3DXIFF_DDS, texture, nullptr)) || !encoded) &&
        (FAILED(D3DXSaveTextureToFileInMemory(&encoded, D3DXIFF_PNG, texture, nullptr)) || !encoded))
        return false;
    if (levels == 0xFFFFFFFFu)
        levels = texture->GetLevelCount();
    bool made = false;
    if (Texture* record = beginRecord()) {
        const HRESULT r = D3DXCreateTextureFromFileInMemoryEx(
            gDevice, encoded->GetBufferPointer(), encoded->GetBufferSize(), D3DX_DEFAULT, D3DX_DEFAULT, levels, 0,
            D3DFORMAT(format), D3DPOOL_MANAGED, D3DX_DEFAULT, D3DX_DEFAULT, 0, nullptr, nullptr, &record->texture);
        // D3DX quietly makes a format the device refuses into another one
        // (DXT1 as like as not): a copy in a format other than the one asked
        // for is no copy, its callers read its texels as the asked format.
        D3DSURFACE_DESC desc{};
        if (r == D3D_OK && record->texture && SUCCEEDED(record->texture->GetLevelDesc(0, &desc)) &&
            (format == D3DFMT_UNKNOWN || desc.Format == D3DFORMAT(format))) {
            finishRecord(record, ref, String::borrowed(L"Empty"));
            made = true;
        } else {
            abandonRecord(record);
        }
    }
    encoded->Release();
    return made;
}
