#include "Core/BmpDecoder.h"

#include "Core/ByteReader.h"
#include "Core/ImageData.h"

#include <cstring>

bool BmpDecoder::decode(ImageData& image, std::span<const uint8_t> data, bool fileHeader)
{
    image.release();
    const uint8_t* bytes = data.data();
    const size_t size = data.size();
    size_t base = 0;
    uint32_t pixelOffset = 0;
    if (fileHeader) {
        if (size < 14 || bytes[0] != 'B' || bytes[1] != 'M')
            return false;
        pixelOffset = ByteReader::le32(bytes + 10);
        base = 14;
    }
    if (size < base + 40)
        return false;
    const uint8_t* header = bytes + base;
    const uint32_t headerSize = ByteReader::le32(header);
    const int32_t width = int32_t(ByteReader::le32(header + 4));
    const int32_t rawHeight = int32_t(ByteReader::le32(header + 8));
    const uint16_t bitCount = ByteReader::le16(header + 14);
    const uint32_t compression = ByteReader::le32(header + 16);
    const uint32_t colorsUsed = ByteReader::le32(header + 32);
    // Only the 40-byte header and its later extensions are understood.
    if (headerSize < 40 || headerSize > size - base)
        return false;
    if ((bitCount != 8 && bitCount != 24) || compression != 0)
        return false;
    // A negative height marks a top-down image.
    const bool topDown = rawHeight < 0;
    if (rawHeight == INT32_MIN || width < 1 || rawHeight == 0)
        return false;
    const int32_t height = topDown ? -rawHeight : rawHeight;
    if (width > ImageData::maxSide || height > ImageData::maxSide)
        return false;

    size_t position = base + headerSize;
    if (bitCount == 8) {
        // A palette may hold fewer than 256 entries; the rest stay black.
        const uint32_t entries = colorsUsed ? colorsUsed : 256;
        if (entries > 256 || size - position < size_t(entries) * 4)
            return false;
        if (!image.allocatePalette())
            return false;
        std::memcpy(image.palette, bytes + position, size_t(entries) * 4);
        position += size_t(entries) * 4;
    }
    if (fileHeader)
        position = pixelOffset;

    const size_t rowBytes = size_t(bitCount / 8) * size_t(width);
    const size_t padding = (4 - rowBytes % 4) % 4;
    // The padding after the last row may be missing.
    const size_t needed = (rowBytes + padding) * size_t(height - 1) + rowBytes;
    if (position > size || size - position < needed) {
        image.release();
        return false;
    }
    if (!image.allocate(width, height, bitCount == 8 ? ImageData::FormatPalette : ImageData::FormatColor24,
                        rowBytes)) {
        image.release();
        return false;
    }
    for (int32_t y = 0; y < height; ++y) {
        const int32_t row = topDown ? height - 1 - y : y;
        std::memcpy(image.pixels + size_t(row) * rowBytes, bytes + position + size_t(y) * (rowBytes + padding),
                    rowBytes);
    }
    return true;
}
