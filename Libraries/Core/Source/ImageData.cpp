#include "Core/ImageData.h"

#include "Core/BmpDecoder.h"
#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/Math.h"
#include "Core/PcxDecoder.h"
#include "Core/Resource.h"
#include "Core/String.h"
#include "Core/TgaDecoder.h"
#include "Core/TiffDecoder.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

namespace
{
// No supported image of at most maxPixels pixels needs a bigger file.
constexpr uint32_t maxStreamBytes = 512u << 20;

constexpr uint16_t resourceBitmap = 2;  // RT_BITMAP
constexpr uint16_t resourceRawData = 10; // RT_RCDATA

bool equals(const wchar_t* a, const wchar_t* b)
{
    return a && std::wcscmp(a, b) == 0;
}

bool inKey(uint8_t value, uint8_t key, uint8_t tolerance)
{
    return int(value) >= int(key) - int(tolerance) && int(value) <= int(key) + int(tolerance);
}
}

ImageData::Type ImageData::imageTypeFromExtension(const wchar_t* extension)
{
    if (equals(extension, L"bmp") || equals(extension, L"dib"))
        return TypeBmp;
    if (equals(extension, L"res_bmp") || equals(extension, L"res_dib"))
        return TypeBitmapResource;
    if (equals(extension, L"pcx"))
        return TypePcx;
    if (equals(extension, L"tga"))
        return TypeTga;
    if (equals(extension, L"tiff") || equals(extension, L"tif"))
        return TypeTiff;
    if (equals(extension, L"jpg") || equals(extension, L"jpeg"))
        return TypeJpeg;
    return TypeNone;
}

int32_t ImageData::bytesPerPixel(int32_t format)
{
    switch (format) {
    case 1: case 4: return 1;
    case 2: case 5: case 6: case 7: return 2;
    case 3: case 9: return 4;
    case 8: return 3;
    case 11: return 12;
    default: return 0;
    }
}

bool ImageData::decode(std::span<const uint8_t> data, Type type)
{
    CRASH_TRACE();
    release();
    // A size the decoders accept may still not fit in memory: that too is a
    // clean failure.
    try {
        switch (type) {
        case TypeBmp: return BmpDecoder::decode(*this, data, true);
        case TypeBitmapResource: return BmpDecoder::decode(*this, data, false);
        case TypePcx: return PcxDecoder::decode(*this, data);
        case TypeTga: return TgaDecoder::decode(*this, data);
        case TypeTiff: return TiffDecoder::decode(*this, data);
        default: return false;
        }
    } catch (const std::bad_alloc&) {
        release();
        return false;
    }
}

ImageData& ImageData::decode(FileInterface& stream, const wchar_t* extension)
{
    release();
    const Type type = imageTypeFromExtension(extension);
    if (type == TypeNone || type == TypeJpeg || !stream.isOpen)
        return *this;
    const uint32_t position = stream.tell();
    const uint32_t size = stream.size();
    if (position >= size || size - position > maxStreamBytes)
        return *this;
    const uint32_t n = size - position;
    if (const uint8_t* memory = stream.memory()) {
        decode(std::span<const uint8_t>(memory + position, n), type);
        return *this;
    }
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[n]);
    if (!buffer)
        return *this;
    const uint32_t got = stream.read(buffer.get(), n);
    if (got == 0 || got > n)
        return *this;
    decode(std::span<const uint8_t>(buffer.get(), got), type);
    return *this;
}

ImageData& ImageData::decode(FileInterface& stream, const String& extension)
{
    return decode(stream, extension.text());
}

ImageData& ImageData::load(uint16_t id, const wchar_t* extension)
{
    CRASH_TRACE();
    release();
    if (id == 0)
        return *this;
    const bool rawData = equals(extension, L"pcx") || equals(extension, L"tga");
    String name;
    if (rawData) {
        name = String(extension);
    } else {
        name = String(L"res_");
        name = name + (extension && *extension ? extension : L"bmp");
    }
    Resource resource(id, rawData ? resourceRawData : resourceBitmap);
    if (resource.isOpen)
        decode(resource, name);
    resource.close();
    return *this;
}

void ImageData::fromSurface2d(const surface2d<Color>& source)
{
    release();
    if (!source.columns)
        return;
    if (!allocate(source.width, source.height, FormatColor, size_t(source.width) * sizeof(Color)))
        return;
    Color* out = reinterpret_cast<Color*>(pixels);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            out[size_t(y) * width + x] = source.columns[x][y];
}

void ImageData::release()
{
    if (ownsPixels) {
        delete[] pixels;
        delete[] palette;
    }
    pixels = nullptr;
    palette = nullptr;
    width = height = formatCode = 0;
    ownsPixels = 1;
}

bool ImageData::allocate(int32_t w, int32_t h, int32_t format, size_t rowBytes)
{
    if (ownsPixels)
        delete[] pixels;
    pixels = nullptr;
    width = height = formatCode = 0;
    if (!sizeAllowed(w, h) || rowBytes == 0 || rowBytes > size_t(w) * 16)
        return false;
    pixels = new (std::nothrow) uint8_t[rowBytes * size_t(h)]();
    if (!pixels)
        return false;
    width = w;
    height = h;
    formatCode = format;
    return true;
}

bool ImageData::allocatePalette()
{
    if (ownsPixels)
        delete[] palette;
    palette = new (std::nothrow) uint8_t[1024]();
    return palette != nullptr;
}

bool ImageData::copyToRect(surface1d<Color>& dest, int32_t maxWidth, int32_t maxHeight, bool powerOfTwo,
                           const ColorKey* key) const
{
    if (!pixels || width < 1 || height < 1)
        return false;
    if (formatCode == FormatPalette && !palette)
        return false;
    if (formatCode != FormatPalette && formatCode != FormatR5G6B5 && formatCode != FormatColor24 &&
        formatCode != FormatColor)
        return false;
    // Sides are at most maxSide, itself a power of two.
    int32_t targetWidth = powerOfTwo ? int32_t(nextPowerOfTwo(uint32_t(width))) : width;
    int32_t targetHeight = powerOfTwo ? int32_t(nextPowerOfTwo(uint32_t(height))) : height;
    if (maxWidth > 0 && maxHeight > 0) {
        targetWidth = targetWidth < maxWidth ? targetWidth : maxWidth;
        targetHeight = targetHeight < maxHeight ? targetHeight : maxHeight;
    }
    if (!dest.resize(width, height))
        return false;
    const size_t bytes = size_t(bytesPerPixel(formatCode));
    const size_t rowBytes = bytes * size_t(width);
    for (int32_t k = 0; k < height; ++k) {
        const uint8_t* source = pixels + size_t(k) * rowBytes;
        Color* out = dest.row(height - 1 - k);
        for (int32_t x = 0; x < width; ++x, source += bytes) {
            Color c;
            switch (formatCode) {
            case FormatPalette: {
                const uint8_t* entry = palette + size_t(source[0]) * 4;
                c = Color(entry[2], entry[1], entry[0], 255);
                break;
            }
            case FormatR5G6B5:
                c = toColor(ColorR5G6B5(uint16_t(source[0] | source[1] << 8)));
                break;
            case FormatColor24:
                c = Color(source[2], source[1], source[0], 255);
                break;
            default:
                c = Color(source[2], source[1], source[0], source[3]);
                break;
            }
            if (key)
                c.a = inKey(c.b, key->blue, key->tolerance) && inKey(c.g, key->green, key->tolerance) &&
                              inKey(c.r, key->red, key->tolerance)
                          ? 0
                          : 255;
            out[x] = c;
        }
    }
    dest.resample(targetWidth, targetHeight, false);
    return dest.width == targetWidth && dest.height == targetHeight;
}

