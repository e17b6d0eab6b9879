// The terrain's ".map" file: overlay textures, colour layers, patch height
// ranges and the coded height grid; the layers' blend table and the patches'
// colour texels.
#include "Landscape/Terrain.h"

#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"
#include "Way/WayNetwork.h"

#include "Core/CrashTrace.h"
#include "Core/FileArray.h"
#include "Core/ImageCodec.h"
#include "Core/PixelFormat.h"

#include <windows.h>

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr uint32_t layerSide = 256;
constexpr uint32_t layerBytes = layerSide * layerSide * 2;
constexpr uint32_t maxOverlaySide = 16384;
// A ".map" file beyond this is not one and is not read into memory.
constexpr uint32_t maxMapFileSize = 512u << 20;

// Bytes per stored overlay pixel by Direct3D format code; 0 for a format
// the terrain cannot convert.
uint32_t bytesPerPixel(uint32_t format)
{
    switch (format) {
    case D3DFMT_R8G8B8: return 3;
    case D3DFMT_A8R8G8B8:
    case D3DFMT_X8R8G8B8: return 4;
    case D3DFMT_R5G6B5:
    case D3DFMT_X1R5G5B5:
    case D3DFMT_A1R5G5B5:
    case D3DFMT_A4R4G4B4:
    case D3DFMT_X4R4G4B4: return 2;
    case D3DFMT_A16B16G16R16F: return 8;
    case D3DFMT_A32B32G32R32F: return 16;
    default: return 0;
    }
}

float halfToFloat(uint16_t h)
{
    const uint32_t sign = uint32_t(h >> 15) << 31;
    const int32_t exponent = (h >> 10) & 0x1F;
    const uint32_t mantissa = h & 0x3FF;
    float value;
    if (exponent == 0)
        value = std::ldexp(float(mantissa), -24);
    else if (exponent == 31)
        value = mantissa ? 0.0f : 65504.0f;
    else
        value = std::ldexp(float(mantissa | 0x400), exponent - 25);
    return sign ? -value : value;
}

uint32_t channelByte(float v)
{
    if (!(v > 0.0f))
        return 0;
    return v >= 1.0f ? 255u : uint32_t(v * 255.0f + 0.5f);
}

// One stored pixel as A8R8G8B8.
uint32_t toArgb(const uint8_t* pixel, uint32_t format)
{
    if (format == D3DFMT_A16B16G16R16F || format == D3DFMT_A32B32G32R32F) {
        float rgba[4];
        for (int i = 0; i < 4; ++i) {
            if (format == D3DFMT_A16B16G16R16F) {
                uint16_t half;
                std::memcpy(&half, pixel + 2 * i, 2);
                rgba[i] = halfToFloat(half);
            } else {
                std::memcpy(&rgba[i], pixel + 4 * i, 4);
            }
        }
        return channelByte(rgba[3]) << 24 | channelByte(rgba[0]) << 16 | channelByte(rgba[1]) << 8 |
               channelByte(rgba[2]);
    }
    return convertPixel(pixel, format, D3DFormatCode::A8R8G8B8, 0xFF);
}

// The overlay's level 0 from its stored pixels, resampled to the texture's
// size by the nearest stored pixel; the lower levels follow from it.
void makeOverlay(TextureRef& ref, const std::vector<uint8_t>& pixels, uint32_t width, uint32_t height,
                 uint32_t format)
{
    if (!gDevice)
        return;
    uint32_t textureWidth = width, textureHeight = height;
    const D3D::Device& record = gDirectGraphics.record;
    if (record.limitTextureSize && record.maxTextureSize > 0) {
        textureWidth = textureWidth < record.maxTextureSize ? textureWidth : record.maxTextureSize;
        textureHeight = textureHeight < record.maxTextureSize ? textureHeight : record.maxTextureSize;
    }
    if (textureWidth < 2 || textureHeight < 2 ||
        !Texture::create(ref, String(L""), textureWidth, textureHeight, 0, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED))
        return;
    {
        TextureDevice::LevelLock lock(ref.texture()->texture, 0);
        if (!lock.ok())
            return;
        const uint32_t size = bytesPerPixel(format);
        for (uint32_t y = 0; y < textureHeight; ++y) {
            uint32_t* row = reinterpret_cast<uint32_t*>(lock.row(y));
            const uint32_t sy = uint32_t(uint64_t(y) * height / textureHeight);
            for (uint32_t x = 0; x < textureWidth; ++x) {
                const uint32_t sx = uint32_t(uint64_t(x) * width / textureWidth);
                row[x] = toArgb(pixels.data() + (size_t(sy) * width + sx) * size, format);
            }
        }
    }
    Texture::generateMipLevels(ref);
}

// Level 0 of an overlay texture as stored pixels (A8R8G8B8); empty without one.
bool readOverlay(const TextureRef& ref, uint16_t& width, uint16_t& height, std::vector<uint8_t>& pixels)
{
    width = height = 0;
    pixels.clear();
    IDirect3DTexture9* texture = ref.isBound() ? ref.texture()->texture : nullptr;
    D3DSURFACE_DESC desc{};
    if (!texture || FAILED(texture->GetLevelDesc(0, &desc)) || desc.Format != D3DFMT_A8R8G8B8)
        return true;
    TextureDevice::LevelLock lock(texture, 0, D3DLOCK_READONLY);
    if (!lock.ok())
        return false;
    width = uint16_t(desc.Width);
    height = uint16_t(desc.Height);
    pixels.resize(size_t(desc.Width) * desc.Height * 4);
    for (uint32_t y = 0; y < desc.Height; ++y)
        std::memcpy(pixels.data() + size_t(y) * desc.Width * 4, lock.row(y), size_t(desc.Width) * 4);
    return true;
}

bool isPowerOfTwoMultiple(int32_t s)
{
    for (int32_t valid = Terrain::minSize; valid <= Terrain::maxSize; valid *= 2)
        if (s == valid)
            return true;
    return false;
}

}

bool Terrain::load(D3D::Device::SwapChain* swapChain, const Settings& settings)
{
    CRASH_TRACE();
    if (isLoaded())
        return false;
    FileArray bytes;
    bool read = false;
    if (FileInterface* file = openFile(settings.path, 0, 1, 1)) {
        read = file->isOpen && file->size() <= maxMapFileSize && bytes.loadFrom(*file);
        file->close();
    }
    return read && load(swapChain, settings, bytes) && bytes.remaining() == 0;
}

bool Terrain::load(D3D::Device::SwapChain* swapChain, const Settings& settings, FileInterface& stream)
{
    CRASH_TRACE();
    if (isLoaded())
        return false;
    done = 0.0f;
    auto progress = [&](float p) {
        if (swapChain)
            swapChain->advanceLoadProcess(*this, p);
    };
    auto usable = [](float v) { return std::isfinite(v) && v > 0.0f; };
    if (!usable(settings.horizontalScale) || !usable(settings.verticalScale) || !usable(settings.lodDistance) ||
        !usable(settings.firstRepeat) || !usable(settings.secondRepeat))
        return false;
    for (int i = 0; i < 4; ++i)
        colourOps[i] = settings.colourOps[i];
    overlayScale = 1.0f / settings.firstRepeat;
    secondOverlayScale = 1.0f / settings.secondRepeat;
    horizontalScale = settings.horizontalScale;
    verticalScale = settings.verticalScale;
    lodDistance = settings.lodDistance;
    world = matrix3d::identity();
    world.m[0] = world.m[10] = horizontalScale;
    world.m[5] = verticalScale;

    const bool built = [&] {
        uint16_t overlayWidth[2] = {}, overlayHeight[2] = {}, layerCount = 0, sideSamples = 0;
        uint32_t overlayFormat[2] = {};
        if (!stream.readValue(overlayWidth[0]) || !stream.readValue(overlayWidth[1]) ||
            !stream.readValue(overlayHeight[0]) || !stream.readValue(overlayHeight[1]) ||
            !stream.readValue(overlayFormat[0]) || !stream.readValue(overlayFormat[1]) ||
            !stream.readValue(layerCount) || !stream.readValue(sideSamples))
            return false;
        if (!isPowerOfTwoMultiple(sideSamples))
            return false;

        for (int k = 0; k < 2; ++k) {
            const uint64_t texels = uint64_t(overlayWidth[k]) * overlayHeight[k];
            if (texels == 0)
                continue;
            const uint32_t size = bytesPerPixel(overlayFormat[k]);
            if (size == 0 || overlayWidth[k] > maxOverlaySide || overlayHeight[k] > maxOverlaySide ||
                texels * size > stream.remaining())
                return false;
            std::vector<uint8_t> pixels(size_t(texels * size));
            if (stream.read(pixels.data(), uint32_t(pixels.size())) != pixels.size())
                return false;
            makeOverlay(overlays[k], pixels, overlayWidth[k], overlayHeight[k], overlayFormat[k]);
        }
        progress(0.1f);

        if (uint64_t(layerCount) * (4 + layerBytes + 2) > stream.remaining())
            return false;
        layers.resize(layerCount);
        for (Layer& layer : layers) {
            uint16_t ignored[2];
            layer.pixels.resize(layerSide * layerSide);
            if (stream.read(ignored, 4) != 4 || stream.read(layer.pixels.data(), layerBytes) != layerBytes ||
                !stream.readValue(layer.low) || !stream.readValue(layer.high))
                return false;
        }
        buildLayerBlend();
        progress(0.2f);

        size = sideSamples;
        fineCells = 8 * size;
        patchesPerSide = size / 4;
        patchCount = patchesPerSide * patchesPerSide;
        if (uint64_t(patchCount) * 8 > stream.remaining())
            return false;
        std::vector<float> ranges(size_t(patchCount) * 2);
        if (stream.read(ranges.data(), uint32_t(ranges.size() * 4)) != ranges.size() * 4)
            return false;
        for (float v : ranges)
            if (!std::isfinite(v) || std::fabs(v) > 1.0e6f)
                return false;
        buildPatches(ranges);
        progress(0.3f);
        buildTiles();
        progress(0.4f);

        uint32_t codedSize = 0;
        if (!stream.readValue(codedSize) || codedSize > stream.remaining())
            return false;
        ImageCodec::Description description;
        std::vector<uint8_t> decoded;
        if (!ImageCodec::decompress(description, decoded, stream, codedSize) || description.width != size ||
            description.height != size || description.channels != 1 || description.bytesPerChannel != 2 ||
            decoded.size() != size_t(size) * size * 2)
            return false;
        heights.resize(size_t(size) * size);
        std::memcpy(heights.data(), decoded.data(), decoded.size());
        progress(0.5f);

        createDeviceBuffers();
        buildIndexSets();
        progress(0.6f);
        progress(0.7f);
        return true;
    }();
    if (!built) {
        freeGround();
        return false;
    }
    ownerThread = GetCurrentThreadId();
    loaded.store(true, std::memory_order_seq_cst);
    return true;
}

void Terrain::buildLayerBlend()
{
    for (int v = 0; v < 256; ++v) {
        LayerBlend& entry = blend[v];
        entry = LayerBlend{};
        const Layer* first = nullptr;
        for (const Layer& layer : layers) {
            if (v < layer.low || v > layer.high)
                continue;
            if (!first) {
                first = &layer;
                entry.first = layer.pixels.data();
                entry.firstWeight = 1.0f;
                continue;
            }
            entry.second = layer.pixels.data();
            // Bands that only touch at v leave the whole weight to the first.
            const float span = float(first->high) - float(layer.low);
            const float w = span > 0.0f ? (float(first->high) - float(v)) / span : 1.0f;
            entry.firstWeight = w < 0.0f ? 0.0f : w > 1.0f ? 1.0f : w;
            entry.secondWeight = 1.0f - entry.firstWeight;
            break;
        }
    }
}

void Terrain::colourPatch(PatchData& data, const Patch& patch) const
{
    const int32_t n = patchesPerSide;
    const int32_t r = patch.index / n, c = patch.index % n;
    const uint32_t column0 = 16 * uint32_t(r % 16), row0 = 16 * uint32_t((n - c) % 16);
    for (int i = 0; i < 16; ++i)
        for (int j = 0; j < 16; ++j) {
            float v = data.heights[2 * i][31 - 2 * j];
            v = v < 0.0f ? 0.0f : v > 255.0f ? 255.0f : v;
            const LayerBlend& entry = blend[int(v)];
            const size_t at = size_t(row0 + j) * layerSide + column0 + i;
            uint16_t texel = 0;
            if (entry.first && !entry.second) {
                texel = entry.first[at];
            } else if (entry.first) {
                const uint16_t a = entry.first[at], b = entry.second[at];
                auto mix = [&](int shift, int mask) {
                    const float fa = float((a >> shift) & mask), fb = float((b >> shift) & mask);
                    return uint16_t(int(fb + (fa - fb) * entry.firstWeight) << shift);
                };
                texel = uint16_t(mix(11, 31) | mix(5, 63) | mix(0, 31));
            }
            data.colours[i][j] = texel;
        }
    gWayNetwork.weightNearWays(data.colours, patchBox(patch));
}

bool Terrain::save(const String& path)
{
    CRASH_TRACE();
    FileArray bytes(1 << 20);
    return write(bytes) && FileInterface::replaceFile(bytes, path);
}

bool Terrain::write(FileInterface& stream)
{
    CRASH_TRACE();
    if (!isLoaded())
        return false;
    uint16_t width[2], height[2];
    std::vector<uint8_t> pixels[2];
    for (int k = 0; k < 2; ++k)
        if (!readOverlay(overlays[k], width[k], height[k], pixels[k]))
            return false;
    bool ok = stream.writeValue(width[0]) && stream.writeValue(width[1]) && stream.writeValue(height[0]) &&
              stream.writeValue(height[1]) && stream.writeValue(uint32_t(D3DFMT_A8R8G8B8)) &&
              stream.writeValue(uint32_t(D3DFMT_A8R8G8B8)) && stream.writeValue(uint16_t(layers.size())) &&
              stream.writeValue(uint16_t(size));
    for (int k = 0; k < 2 && ok; ++k)
        ok = pixels[k].empty() || stream.write(pixels[k].data(), uint32_t(pixels[k].size())) == pixels[k].size();
    for (const Layer& layer : layers) {
        const uint16_t side = uint16_t(layerSide);
        ok = ok && stream.writeValue(side) && stream.writeValue(side) &&
             stream.write(layer.pixels.data(), layerBytes) == layerBytes && stream.writeValue(layer.low) &&
             stream.writeValue(layer.high);
    }
    // As read: taken back from the patches' boxes they would come out
    // rounded.
    ok = ok && stream.write(patchRanges.data(), uint32_t(patchRanges.size() * 4)) == patchRanges.size() * 4;
    ImageCodec::Description description;
    description.width = size;
    description.height = size;
    description.channels = 1;
    description.bytesPerChannel = 2;
    description.quality = ImageCodec::maxQuality;
    std::vector<uint8_t> coded;
    ok = ok && ImageCodec::compress(description, reinterpret_cast<const uint8_t*>(heights.data()),
                                    heights.size() * 2, coded);
    return ok && stream.writeValue(uint32_t(coded.size())) &&
           stream.write(coded.data(), uint32_t(coded.size())) == coded.size();
}
