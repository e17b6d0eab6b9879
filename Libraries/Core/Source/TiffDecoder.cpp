#include "Core/TiffDecoder.h"

#include "Core/ByteReader.h"
#include "Core/ImageData.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace
{
constexpr uint16_t TagWidth = 256;
constexpr uint16_t TagHeight = 257;
constexpr uint16_t TagBitsPerSample = 258;
constexpr uint16_t TagCompression = 259;
constexpr uint16_t TagStripOffsets = 273;
constexpr uint16_t TagStripByteCounts = 279;

size_t typeSize(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1; // BYTE, ASCII, SBYTE, UNDEFINED
    case 3: case 8: return 2;                 // SHORT, SSHORT
    case 4: case 9: case 11: return 4;        // LONG, SLONG, FLOAT
    case 5: case 10: case 12: return 8;       // RATIONAL, SRATIONAL, DOUBLE
    default: return 0;
    }
}

int64_t roundedValue(double v)
{
    if (!std::isfinite(v) || v < -2147483648.0 || v > 4294967295.0)
        return -1;
    return int64_t(std::llround(v));
}

int64_t elementValue(uint16_t type, const uint8_t* p)
{
    switch (type) {
    case 1: case 2: case 7: return p[0];
    case 6: return int8_t(p[0]);
    case 3: return ByteReader::le16(p);
    case 8: return int16_t(ByteReader::le16(p));
    case 4: return ByteReader::le32(p);
    case 9: return int32_t(ByteReader::le32(p));
    case 11: {
        float f;
        const uint32_t bits = ByteReader::le32(p);
        std::memcpy(&f, &bits, 4);
        return roundedValue(f);
    }
    case 12: {
        double d;
        const uint64_t bits = uint64_t(ByteReader::le32(p)) | uint64_t(ByteReader::le32(p + 4)) << 32;
        std::memcpy(&d, &bits, 8);
        return roundedValue(d);
    }
    case 5: case 10: {
        const double num = type == 5 ? double(ByteReader::le32(p)) : double(int32_t(ByteReader::le32(p)));
        const double den = type == 5 ? double(ByteReader::le32(p + 4)) : double(int32_t(ByteReader::le32(p + 4)));
        return den == 0.0 ? -1 : roundedValue(num / den);
    }
    default: return -1;
    }
}

// The values of a directory entry. They sit in the entry itself when all of
// them fit in its four value bytes, else at the offset those bytes hold.
bool entryValues(std::span<const uint8_t> data, const uint8_t* entry, std::vector<int64_t>& values)
{
    const uint16_t type = ByteReader::le16(entry + 2);
    const uint32_t count = ByteReader::le32(entry + 4);
    const size_t elementSize = typeSize(type);
    if (elementSize == 0 || count == 0)
        return false;
    const uint64_t total = uint64_t(count) * elementSize;
    const uint8_t* p = entry + 8;
    if (total > 4) {
        const uint32_t offset = ByteReader::le32(entry + 8);
        if (offset > data.size() || total > data.size() - offset)
            return false;
        p = data.data() + offset;
    }
    values.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
        values[i] = elementValue(type, p + size_t(i) * elementSize);
        if (values[i] < 0)
            return false;
    }
    return true;
}
}

bool TiffDecoder::decode(ImageData& image, std::span<const uint8_t> data)
{
    image.release();
    if (data.size() < 8)
        return false;
    const uint8_t* bytes = data.data();
    if (bytes[0] != 'I' || bytes[1] != 'I' || ByteReader::le16(bytes + 2) != 42)
        return false;
    ByteReader in(data);
    uint16_t entryCount = 0;
    if (!in.seek(ByteReader::le32(bytes + 4)) || !in.u16(entryCount))
        return false;

    int64_t width = 0, height = 0, bits = 0, compression = 1;
    std::vector<int64_t> offsets, counts, values;
    for (uint16_t i = 0; i < entryCount; ++i) {
        uint8_t entry[12];
        if (!in.read(entry, sizeof entry))
            return false;
        const uint16_t tag = ByteReader::le16(entry);
        if (tag != TagWidth && tag != TagHeight && tag != TagBitsPerSample && tag != TagCompression &&
            tag != TagStripOffsets && tag != TagStripByteCounts)
            continue;
        if (!entryValues(data, entry, values))
            return false;
        switch (tag) {
        case TagWidth: width = values[0]; break;
        case TagHeight: height = values[0]; break;
        case TagCompression: compression = values[0]; break;
        case TagStripOffsets: offsets = values; break;
        case TagStripByteCounts: counts = values; break;
        case TagBitsPerSample:
            if (values.size() == 1)
                bits = values[0];
            else if (values.size() == 3 && values[0] == 8 && values[1] == 8 && values[2] == 8)
                bits = 24;
            else
                bits = 0;
            break;
        }
    }
    // Only uncompressed images decode; others would come out as noise.
    if (compression != 1 || (bits != 16 && bits != 24))
        return false;
    if (width < 1 || height < 1 || width > ImageData::maxSide || height > ImageData::maxSide)
        return false;
    if (offsets.empty() || offsets.size() != counts.size())
        return false;
    const size_t pixelBytes = size_t(bits / 8);
    const size_t rowBytes = size_t(width) * pixelBytes;
    const size_t total = rowBytes * size_t(height);
    // Uncompressed pixels cannot take more room than the file.
    if (total > data.size())
        return false;

    std::vector<uint8_t> strips(total);
    size_t filled = 0;
    for (size_t s = 0; s < offsets.size() && filled < total; ++s) {
        const uint64_t offset = uint64_t(offsets[s]);
        const uint64_t count = uint64_t(counts[s]);
        if (offset > data.size() || count > data.size() - offset)
            return false;
        const size_t n = count < total - filled ? size_t(count) : total - filled;
        std::memcpy(strips.data() + filled, bytes + offset, n);
        filled += n;
    }
    if (filled < total)
        return false;

    if (!image.allocate(int32_t(width), int32_t(height),
                        bits == 16 ? ImageData::FormatR5G6B5 : ImageData::FormatColor24, rowBytes)) {
        image.release();
        return false;
    }
    // The file's first row is the top one; the record keeps the bottom row first.
    for (int64_t k = 0; k < height; ++k) {
        const uint8_t* source = strips.data() + size_t(k) * rowBytes;
        uint8_t* row = image.pixels + size_t(height - 1 - k) * rowBytes;
        if (bits == 16) {
            std::memcpy(row, source, rowBytes);
            continue;
        }
        for (int64_t x = 0; x < width; ++x) {
            row[x * 3 + 0] = source[x * 3 + 2];
            row[x * 3 + 1] = source[x * 3 + 1];
            row[x * 3 + 2] = source[x * 3 + 0];
        }
    }
    return true;
}
