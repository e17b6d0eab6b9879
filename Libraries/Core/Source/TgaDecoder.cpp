#include "Core/TgaDecoder.h"

#include "Core/ByteReader.h"
#include "Core/ImageData.h"

#include <cstring>
#include <vector>

namespace
{
constexpr size_t headerSize = 18;

// Expands run-length packets into `out` (pixelCount pixels of `bytes` bytes).
// Packets may cross rows; a packet past the last pixel is cut there.
bool expand(ByteReader& in, uint8_t* out, size_t pixelCount, size_t bytes)
{
    size_t done = 0;
    while (done < pixelCount) {
        uint8_t packet;
        if (!in.u8(packet))
            return false;
        const size_t count = (packet & 0x7F) + 1u;
        const size_t n = count < pixelCount - done ? count : pixelCount - done;
        if (packet & 0x80) {
            uint8_t pixel[4];
            if (!in.read(pixel, bytes))
                return false;
            for (size_t i = 0; i < n; ++i)
                std::memcpy(out + (done + i) * bytes, pixel, bytes);
        } else {
            if (!in.read(out + done * bytes, n * bytes))
                return false;
        }
        done += n;
    }
    return true;
}
}

bool TgaDecoder::decode(ImageData& image, std::span<const uint8_t> data)
{
    image.release();
    if (data.size() < headerSize)
        return false;
    const uint8_t* h = data.data();
    const uint8_t idLength = h[0];
    const uint8_t colorMapType = h[1];
    const uint8_t imageType = h[2];
    const uint16_t colorMapLength = ByteReader::le16(h + 5);
    const uint8_t colorMapEntryBits = h[7];
    const int32_t width = ByteReader::le16(h + 12);
    const int32_t height = ByteReader::le16(h + 14);
    const uint8_t bitsPerPixel = h[16];
    const uint8_t descriptor = h[17];
    if (imageType != 2 && imageType != 10)
        return false;
    if (bitsPerPixel != 24 && bitsPerPixel != 32)
        return false;
    // Checked before the run-length pixels are expanded into a buffer of their own.
    if (!ImageData::sizeAllowed(width, height))
        return false;

    ByteReader in(data);
    // A true-colour file may still carry a colour map; it is not used.
    const size_t colorMapBytes = colorMapType ? size_t(colorMapLength) * ((colorMapEntryBits + 7u) / 8u) : 0;
    if (!in.seek(headerSize) || !in.skip(idLength) || !in.skip(colorMapBytes))
        return false;

    const size_t bytes = bitsPerPixel / 8u;
    const size_t rowBytes = size_t(width) * bytes;
    const size_t pixelCount = size_t(width) * size_t(height);
    // The least data that could fill the image: the rows themselves, or one
    // packet (header and pixel) per 128 pixels.
    const uint64_t leastBytes = imageType == 2 ? uint64_t(rowBytes) * uint64_t(height)
                                               : uint64_t((pixelCount + 127) / 128) * (bytes + 1);
    if (in.remaining() < leastBytes)
        return false;

    const uint8_t* rows = in.current();
    std::vector<uint8_t> expanded;
    if (imageType == 10) {
        expanded.resize(pixelCount * bytes);
        if (!expand(in, expanded.data(), pixelCount, bytes))
            return false;
        rows = expanded.data();
    }
    if (!image.allocate(width, height, bitsPerPixel == 24 ? ImageData::FormatColor24 : ImageData::FormatColor,
                        rowBytes)) {
        image.release();
        return false;
    }
    // Descriptor bit 5 set: the first row in the file is the top one.
    const bool topFirst = (descriptor & 0x20) != 0;
    for (int32_t k = 0; k < height; ++k) {
        const int32_t row = topFirst ? height - 1 - k : k;
        std::memcpy(image.pixels + size_t(row) * rowBytes, rows + size_t(k) * rowBytes, rowBytes);
    }
    return true;
}
