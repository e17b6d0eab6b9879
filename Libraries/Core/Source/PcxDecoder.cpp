#include "Core/PcxDecoder.h"

#include "Core/ByteReader.h"
#include "Core/ImageData.h"

#include <cstring>
#include <vector>

namespace
{
constexpr size_t headerSize = 128;
constexpr size_t paletteTail = 769; // marker byte 12 and 256 x {red, green, blue}

// Expands run-length data line by line. A run that goes past the end of a
// line carries on into the next one instead of writing past the line buffer.
class RunLengthReader
{
public:
    explicit RunLengthReader(std::span<const uint8_t> data) : in_(data) {}

    bool readLine(uint8_t* line, size_t lineSize)
    {
        size_t filled = 0;
        while (filled < lineSize) {
            if (pending_ == 0) {
                uint8_t b;
                if (!in_.u8(b))
                    return false;
                if ((b & 0xC0) == 0xC0) {
                    pending_ = b & 0x3F;
                    if (!in_.u8(value_))
                        return false;
                } else {
                    pending_ = 1;
                    value_ = b;
                }
                continue;
            }
            const size_t n = pending_ < lineSize - filled ? pending_ : lineSize - filled;
            std::memset(line + filled, value_, n);
            filled += n;
            pending_ -= uint32_t(n);
        }
        return true;
    }

private:
    ByteReader in_;
    uint32_t pending_ = 0;
    uint8_t value_ = 0;
};
}

bool PcxDecoder::decode(ImageData& image, std::span<const uint8_t> data)
{
    image.release();
    if (data.size() < headerSize)
        return false;
    const uint8_t* h = data.data();
    if (h[0] != 10)
        return false;
    const uint8_t version = h[1];
    const uint8_t bitsPerPixel = h[3];
    const int32_t xMin = int16_t(ByteReader::le16(h + 4));
    const int32_t yMin = int16_t(ByteReader::le16(h + 6));
    const int32_t xMax = int16_t(ByteReader::le16(h + 8));
    const int32_t yMax = int16_t(ByteReader::le16(h + 10));
    const uint8_t planes = h[65];
    const size_t bytesPerLine = ByteReader::le16(h + 66);
    const int32_t width = xMax - xMin + 1;
    const int32_t height = yMax - yMin + 1;
    if (bitsPerPixel != 8 || (planes != 1 && planes != 3))
        return false;
    // Each plane of a line must hold the whole row.
    if (width < 1 || height < 1 || bytesPerLine < size_t(width))
        return false;
    const size_t lineSize = bytesPerLine * planes;
    // No run yields more than 63 bytes from 2, so shorter data cannot fill the image.
    const std::span<const uint8_t> body = data.subspan(headerSize);
    if (uint64_t(body.size()) * 32 < uint64_t(lineSize) * uint64_t(height))
        return false;

    if (version == 5 && data.size() >= headerSize + paletteTail && data[data.size() - paletteTail] == 12) {
        if (!image.allocatePalette())
            return false;
        const uint8_t* rgb = data.data() + data.size() - paletteTail + 1;
        for (int i = 0; i < 256; ++i) {
            image.palette[i * 4 + 0] = rgb[i * 3 + 2];
            image.palette[i * 4 + 1] = rgb[i * 3 + 1];
            image.palette[i * 4 + 2] = rgb[i * 3 + 0];
            image.palette[i * 4 + 3] = 0;
        }
    }
    const size_t rowBytes = size_t(width) * planes;
    if (!image.allocate(width, height, planes == 1 ? ImageData::FormatPalette : ImageData::FormatColor24, rowBytes)) {
        image.release();
        return false;
    }
    std::vector<uint8_t> line(lineSize);
    RunLengthReader reader(body);
    for (int32_t y = 0; y < height; ++y) {
        if (!reader.readLine(line.data(), lineSize)) {
            image.release();
            return false;
        }
        uint8_t* row = image.pixels + size_t(height - 1 - y) * rowBytes;
        if (planes == 1) {
            std::memcpy(row, line.data(), size_t(width));
            continue;
        }
        const uint8_t* red = line.data();
        const uint8_t* green = red + bytesPerLine;
        const uint8_t* blue = green + bytesPerLine;
        for (int32_t x = 0; x < width; ++x) {
            row[x * 3 + 0] = blue[x];
            row[x * 3 + 1] = green[x];
            row[x * 3 + 2] = red[x];
        }
    }
    return true;
}
