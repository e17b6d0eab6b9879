#pragma once

#include "Core/Color.h"
#include "Core/Surface1d.h"
#include "Core/Surface2d.h"

#include <cstddef>
#include <cstdint>
#include <span>

class FileInterface;
class String;

// A decoded image file: pixels in one of the engine formats, rows stored
// bottom row first (the BMP order; copyToRect turns them over).
// Decoders fill it from BMP/DIB, PCX, TGA and TIFF data; a failed decode
// leaves it empty (pixels null). All input is treated as untrusted: sizes are
// checked against the data before anything is allocated, and no decoder
// reads or writes outside its buffers.
// Not copyable; the destructor releases owned blocks.
class ImageData
{
public:
    // Image type codes, chosen by the file extension.
    enum Type : int32_t
    {
        TypeNone = 0,
        TypeBmp = 1,         // BMP with file header
        TypeBitmapResource = 2, // BMP without file header (RT_BITMAP)
        TypePcx = 3,
        TypeTga = 4,
        TypeTiff = 5,
        TypeJpeg = 6,        // recognised, not decoded
    };

    // Format codes of the decoded pixels (see enumFormat).
    static constexpr int32_t FormatPalette = 4; // 8-bit index into `palette`
    static constexpr int32_t FormatR5G6B5 = 7;
    static constexpr int32_t FormatColor24 = 8;
    static constexpr int32_t FormatColor = 9;

    // Decoders refuse images with a side above this or more pixels than
    // maxPixels (64 Mpixels, 256 MB as Color).
    static constexpr int32_t maxSide = 16384;
    static constexpr int64_t maxPixels = int64_t(1) << 26;

    // A colour key for copyToRect: pixels whose three channels each lie within
    // tolerance of the key become transparent.
    struct ColorKey
    {
        uint8_t blue = 0;
        uint8_t green = 0;
        uint8_t red = 0;
        uint8_t tolerance = 0;
    };

    ImageData() = default;
    ImageData(const ImageData&) = delete;
    ImageData& operator=(const ImageData&) = delete;
    ~ImageData() { release(); }

    uint8_t* pixels = nullptr;
    uint8_t* palette = nullptr; // 256 entries {blue, green, red, reserved}
    int32_t width = 0;
    int32_t height = 0;
    int32_t formatCode = 0;
    uint32_t ownsPixels = 1;

    // The type code of an extension without its dot, compared exactly
    // ("tif" is TIFF, "TIF" is not).
    static Type imageTypeFromExtension(const wchar_t* extension);

    // Bytes per pixel of an engine format code (0 for unknown codes).
    static int32_t bytesPerPixel(int32_t formatCode);

    // Decodes the stream from its current position to its end as the type
    // that the extension names; unknown types and JPEG leave the record empty.
    // Returns the record.
    ImageData& decode(FileInterface& stream, const wchar_t* extension);
    ImageData& decode(FileInterface& stream, const String& extension);

    // Decodes a whole image file held in memory. Returns true on success; on
    // failure the record is empty.
    bool decode(std::span<const uint8_t> data, Type type);

    // Loads module resource `id`. "pcx" and "tga" name raw data resources
    // (RT_RCDATA) of that format; any other extension, or none ("bmp"), names
    // a bitmap resource (RT_BITMAP), decoded as "res_" and the extension.
    // Id 0 does nothing. Returns the record.
    ImageData& load(uint16_t id, const wchar_t* extension = nullptr);

    // Takes a copy of a painted image: format 9, the source's size, owned.
    void fromSurface2d(const surface2d<Color>& source);

    // Frees owned blocks and empties the record.
    void release();

    // Copies the image into `dest` (top row first) as Color and resamples it to
    // the target size: the image's size, or with powerOfTwo the next powers of
    // two, limited to maxWidth x maxHeight when both are above 0. Without a key
    // pixels are opaque (format 9 keeps its alpha); with one, alpha follows the
    // key. Returns false for an empty record or a palette image without palette.
    bool copyToRect(surface1d<Color>& dest, int32_t maxWidth, int32_t maxHeight, bool powerOfTwo,
                    const ColorKey* key = nullptr) const;

    // For decoders: frees the pixel block (the palette stays), then sets the
    // size and format and allocates a zeroed block of rowBytes x h bytes.
    // Refuses sides outside 1..maxSide and more than maxPixels pixels; on
    // failure pixels is null and the size 0.
    bool allocate(int32_t w, int32_t h, int32_t format, size_t rowBytes);
    // The sizes allocate accepts: sides 1..maxSide, at most maxPixels pixels.
    static bool sizeAllowed(int32_t w, int32_t h)
    {
        return w >= 1 && h >= 1 && w <= maxSide && h <= maxSide && int64_t(w) * h <= maxPixels;
    }
    // For decoders: a zeroed 1024-byte palette. False when memory runs out.
    bool allocatePalette();
};
