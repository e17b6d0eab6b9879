#include "Core/ImageCodec.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"

#include <algorithm>
#include <new>

namespace
{

constexpr int blockSide = 8;
constexpr int blockPixels = blockSide * blockSide;

// Least-significant-bit-first reader for the stream header and the block headers.
// Reads never leave [data, data + size); a read past the end fails.
class BitReader
{
public:
    BitReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool read(unsigned count, uint32_t& value)
    {
        value = 0;
        for (unsigned i = 0; i < count; ++i, ++bit_)
        {
            const size_t byte = bit_ >> 3;
            if (byte >= size_)
                return false;
            value |= static_cast<uint32_t>((data_[byte] >> (bit_ & 7)) & 1u) << i;
        }
        return true;
    }

    size_t bytesUsed() const { return (bit_ + 7) >> 3; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t bit_ = 0;
};

// Unpacks 64 numbers of `bits` bits (1 to 32) from exactly 8 x `bits` bytes.
void unpackNumbers(const uint8_t* source, unsigned bits, uint32_t* numbers)
{
    const uint64_t mask = (uint64_t(1) << bits) - 1;
    uint64_t accumulator = 0;
    unsigned available = 0;
    for (int i = 0; i < blockPixels; ++i)
    {
        while (available < bits)
        {
            accumulator |= uint64_t(*source++) << available;
            available += 8;
        }
        numbers[i] = static_cast<uint32_t>(accumulator & mask);
        accumulator >>= bits;
        available -= bits;
    }
}

struct ChannelCoding
{
    unsigned kind = 0;
    uint32_t high = 0;
    uint32_t bias = 0;
    unsigned width = 0; // effective bits per stored number, 0 for a missing channel
    unsigned shift = 0;
};

// Turns the stored numbers of one channel into the 64 values added to its base.
// All sums wrap at 32 bits; the writer clamps them to the channel's range.
void buildValues(const ChannelCoding& coding, const uint32_t* numbers, uint32_t* values)
{
    if (coding.kind == 0)
    {
        for (int i = 0; i < blockPixels; ++i)
            values[i] = numbers[i] << coding.shift;
        return;
    }
    uint32_t rowStart = numbers[0] + (coding.high << coding.width);
    values[0] = rowStart;
    for (int y = 0; y < blockSide; ++y)
    {
        uint32_t running = rowStart;
        for (int x = 0; x < blockSide; ++x)
        {
            const int i = y * blockSide + x;
            if (i == 0)
                continue;
            running += numbers[i] - coding.bias;
            if (x == 0)
                rowStart = running;
            values[i] = running;
        }
    }
}

class Decoder
{
public:
    Decoder(const uint8_t* data, size_t size, const ImageCodec::Description& description,
            unsigned dropBits, uint8_t* pixels)
        : data_(data), size_(size), width_(description.width), height_(description.height),
          channels_(description.channels), bytesPerChannel_(description.bytesPerChannel),
          dropBits_(static_cast<int>(dropBits)), pixels_(pixels)
    {
        maxValue_ = bytesPerChannel_ == 4 ? 0xFFFFFFFFu : (1u << (8 * bytesPerChannel_)) - 1u;
        // Stored widths need up to 8 x bytesPerChannel bits: 1 to 8 fit 3 bits, up to 16 fit 4.
        widthFieldBits_ = bytesPerChannel_ == 1 ? 3 : bytesPerChannel_ == 2 ? 4 : 5;
    }

    bool run()
    {
        for (int by = 0; by < height_; by += blockSide)
            for (int bx = 0; bx < width_; bx += blockSide)
                if (!decodeBlock(bx, by))
                    return false;
        return true;
    }

private:
    bool decodeBlock(int bx, int by)
    {
        uint32_t base[ImageCodec::maxChannels] = {};
        const size_t baseBytes = size_t(channels_) * bytesPerChannel_;
        if (size_ - position_ < baseBytes)
            return false;
        for (int c = 0; c < channels_; ++c)
        {
            for (int k = 0; k < bytesPerChannel_; ++k)
                base[c] |= uint32_t(data_[position_ + k]) << (8 * k);
            position_ += bytesPerChannel_;
        }

        BitReader header(data_ + position_, size_ - position_);
        uint32_t mode = 0;
        if (!header.read(3, mode))
            return false;
        ChannelCoding coding[ImageCodec::maxChannels];
        if (mode != 0 && !readCodings(header, coding))
            return false;
        position_ += header.bytesUsed();

        if (mode == 0)
        {
            writeBlock(bx, by, base, nullptr);
            return true;
        }

        size_t dataBytes = 0;
        for (int c = 0; c < channels_; ++c)
            dataBytes += size_t(8) * coding[c].width;
        if (size_ - position_ < dataBytes)
            return false;
        // Modes 2 to 7 carry data like mode 1 but only their base values are written.
        if (mode != 1)
        {
            position_ += dataBytes;
            writeBlock(bx, by, base, nullptr);
            return true;
        }
        for (int c = 0; c < channels_; ++c)
        {
            uint32_t numbers[blockPixels];
            unpackNumbers(data_ + position_, coding[c].width, numbers);
            position_ += size_t(8) * coding[c].width;
            buildValues(coding[c], numbers, values_[c]);
        }
        writeBlock(bx, by, base, values_);
        return true;
    }

    bool readCodings(BitReader& header, ChannelCoding* coding)
    {
        for (int c = 0; c < channels_; ++c)
        {
            uint32_t field = 0;
            uint32_t kind = 0;
            if (!header.read(widthFieldBits_, field) || !header.read(2, kind))
                return false;
            ChannelCoding& channel = coding[c];
            channel.kind = kind;
            if (kind != 0 && (!header.read(4, channel.high) || !header.read(4, channel.bias)))
                return false;
            const int stored = static_cast<int>(field) + 1;
            int effective = stored;
            if (stored > 1)
                effective = std::max(1, stored - dropBits_);
            channel.shift = static_cast<unsigned>(stored - effective);
            if (kind != 0)
                effective = std::max(1, effective - static_cast<int>(kind));
            channel.width = static_cast<unsigned>(effective);
        }
        uint32_t skipped = 0;
        return channels_ == 1 || header.read(2, skipped);
    }

    // Writes the part of the block that lies inside the image; the encoder pads
    // edge blocks, so images of any size decode without writing past the pixels.
    void writeBlock(int bx, int by, const uint32_t* base, const uint32_t (*values)[blockPixels])
    {
        const int columns = std::min(blockSide, width_ - bx);
        const int rows = std::min(blockSide, height_ - by);
        const size_t pixelBytes = size_t(channels_) * bytesPerChannel_;
        for (int y = 0; y < rows; ++y)
        {
            uint8_t* row = pixels_ + (size_t(by + y) * width_ + bx) * pixelBytes;
            for (int c = 0; c < channels_; ++c)
            {
                uint8_t* target = row + size_t(c) * bytesPerChannel_;
                for (int x = 0; x < columns; ++x, target += pixelBytes)
                {
                    uint32_t value = base[c];
                    if (values)
                    {
                        value += values[c][y * blockSide + x];
                        if (value > maxValue_)
                            value = maxValue_;
                    }
                    for (int k = 0; k < bytesPerChannel_; ++k)
                        target[k] = static_cast<uint8_t>(value >> (8 * k));
                }
            }
        }
    }

    const uint8_t* data_;
    size_t size_;
    size_t position_ = ImageCodec::headerSize;
    int width_;
    int height_;
    int channels_;
    int bytesPerChannel_;
    int dropBits_;
    uint8_t* pixels_;
    uint32_t maxValue_ = 0;
    unsigned widthFieldBits_ = 0;
    uint32_t values_[ImageCodec::maxChannels][blockPixels] = {};
};

} // namespace

bool ImageCodec::decompress(Description& description, std::vector<uint8_t>& pixels,
                            const uint8_t* data, size_t size)
{
    CRASH_TRACE();
    pixels.clear();
    if (!data || size < headerSize)
        return false;

    BitReader header(data, headerSize);
    uint32_t dropBits = 0, bytesField = 0, channels = 0, width = 0, height = 0, reserved = 0;
    header.read(3, dropBits);
    header.read(2, bytesField);
    header.read(3, channels);
    header.read(14, width);
    header.read(14, height);
    header.read(4, reserved);
    if (reserved != 0)
        return false;
    // Two bits cannot hold 4 bytes per channel; it is stored as 0.
    const uint32_t bytesPerChannel = bytesField == 0 ? 4 : bytesField;
    if (channels < 1 || channels > uint32_t(maxChannels) || width == 0 || height == 0)
        return false;

    // Every block needs at least its base values and one block-header byte, so a
    // stream too short for its block count is refused before the pixels are allocated.
    const uint64_t blocks = uint64_t((width + 7) / 8) * ((height + 7) / 8);
    if (uint64_t(size - headerSize) / blocks < uint64_t(channels) * bytesPerChannel + 1)
        return false;

    Description decoded;
    decoded.width = static_cast<int32_t>(width);
    decoded.height = static_cast<int32_t>(height);
    decoded.channels = static_cast<int32_t>(channels);
    decoded.bytesPerChannel = static_cast<int32_t>(bytesPerChannel);
    decoded.quality = static_cast<int32_t>(dropBits);

    try
    {
        pixels.assign(size_t(width) * height * channels * bytesPerChannel, 0);
    }
    catch (const std::bad_alloc&)
    {
        pixels.clear();
        return false;
    }

    Decoder decoder(data, size, decoded, dropBits, pixels.data());
    if (!decoder.run())
    {
        pixels.clear();
        pixels.shrink_to_fit();
        return false;
    }
    description = decoded;
    return true;
}

bool ImageCodec::decompress(Description& description, std::vector<uint8_t>& pixels, FileInterface& stream,
                            uint32_t byteCount)
{
    CRASH_TRACE();
    pixels.clear();
    const uint32_t position = stream.tell();
    const uint32_t size = stream.size();
    if (!stream.isOpen || position > size || byteCount > size - position)
        return false;

    // Memory streams are decoded in place; others are read into a buffer of the
    // block's size, which the check above bounds by the stream's own size.
    if (const uint8_t* memory = stream.memory())
    {
        const bool ok = decompress(description, pixels, memory + position, byteCount);
        stream.seek(static_cast<int32_t>(position + byteCount), 0);
        return ok;
    }
    std::vector<uint8_t> coded;
    try
    {
        coded.resize(byteCount);
    }
    catch (const std::bad_alloc&)
    {
        return false;
    }
    if (stream.read(coded.data(), byteCount) != byteCount)
        return false;
    return decompress(description, pixels, coded.data(), coded.size());
}
