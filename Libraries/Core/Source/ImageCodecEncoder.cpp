#include "Core/ImageCodec.h"

#include "Core/CrashTrace.h"

#include <algorithm>
#include <bit>

namespace
{

constexpr int blockSide = 8;
constexpr int blockPixels = blockSide * blockSide;
// Block headers store a bias and the bits above the first value in 4 bits each,
// and the bits saved by differences in 2: differences are used only when they
// save 1 to 3 bits, otherwise the channel keeps its plain values.
constexpr int64_t biasLimit = 16;
constexpr unsigned maxKind = 3;

// Least-significant-bit-first writer; flush() pads the current byte with zeros.
class BitWriter
{
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}

    void write(uint32_t value, unsigned count)
    {
        accumulator_ |= uint64_t(value & static_cast<uint32_t>((uint64_t(1) << count) - 1)) << available_;
        available_ += count;
        while (available_ >= 8)
        {
            out_.push_back(static_cast<uint8_t>(accumulator_));
            accumulator_ >>= 8;
            available_ -= 8;
        }
    }

    void flush()
    {
        if (available_ > 0)
            out_.push_back(static_cast<uint8_t>(accumulator_));
        accumulator_ = 0;
        available_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint64_t accumulator_ = 0;
    unsigned available_ = 0;
};

unsigned bitsFor(uint64_t value)
{
    return value == 0 ? 1u : static_cast<unsigned>(std::bit_width(value));
}

struct ChannelPlan
{
    uint32_t base = 0;
    unsigned storedBits = 1;
    unsigned kind = 0;
    uint32_t high = 0;
    uint32_t bias = 0;
    unsigned width = 1; // bits per stored number
    uint32_t numbers[blockPixels] = {};
};

class Encoder
{
public:
    Encoder(const ImageCodec::Description& description, const uint8_t* pixels, std::vector<uint8_t>& stream)
        : width_(description.width), height_(description.height), channels_(description.channels),
          bytesPerChannel_(description.bytesPerChannel),
          dropBits_(static_cast<unsigned>(ImageCodec::maxQuality - description.quality)),
          pixels_(pixels), stream_(stream)
    {
        widthFieldBits_ = bytesPerChannel_ == 1 ? 3 : bytesPerChannel_ == 2 ? 4 : 5;
    }

    void run()
    {
        BitWriter header(stream_);
        header.write(dropBits_, 3);
        header.write(static_cast<uint32_t>(bytesPerChannel_) & 3u, 2); // 4 is stored as 0
        header.write(static_cast<uint32_t>(channels_), 3);
        header.write(static_cast<uint32_t>(width_), 14);
        header.write(static_cast<uint32_t>(height_), 14);
        header.write(0, 4);
        header.flush();
        for (int by = 0; by < height_; by += blockSide)
            for (int bx = 0; bx < width_; bx += blockSide)
                encodeBlock(bx, by);
    }

private:
    uint32_t sample(int x, int y, int c) const
    {
        const uint8_t* source = pixels_ + (size_t(y) * width_ + x) * channels_ * bytesPerChannel_
                                + size_t(c) * bytesPerChannel_;
        uint32_t value = 0;
        for (int k = 0; k < bytesPerChannel_; ++k)
            value |= uint32_t(source[k]) << (8 * k);
        return value;
    }

    void encodeBlock(int bx, int by)
    {
        bool flat = true;
        for (int c = 0; c < channels_; ++c)
        {
            uint32_t values[blockPixels];
            for (int i = 0; i < blockPixels; ++i)
                values[i] = sample(bx + i % blockSide, by + i / blockSide, c);
            const auto [low, high] = std::minmax_element(values, values + blockPixels);
            ChannelPlan& plan = plans_[c];
            plan.base = *low;
            for (int i = 0; i < blockPixels; ++i)
                values[i] -= plan.base;
            plan.storedBits = bitsFor(*high - *low);
            planChannel(plan, values);
            flat = flat && *high == *low;
        }

        for (int c = 0; c < channels_; ++c)
            for (int k = 0; k < bytesPerChannel_; ++k)
                stream_.push_back(static_cast<uint8_t>(plans_[c].base >> (8 * k)));

        BitWriter bits(stream_);
        bits.write(flat ? 0 : 1, 3);
        if (flat)
        {
            bits.flush();
            return;
        }
        for (int c = 0; c < channels_; ++c)
        {
            const ChannelPlan& plan = plans_[c];
            bits.write(plan.storedBits - 1, widthFieldBits_);
            bits.write(plan.kind, 2);
            if (plan.kind != 0)
            {
                bits.write(plan.high, 4);
                bits.write(plan.bias, 4);
            }
        }
        if (channels_ > 1)
            bits.write(0, 2);
        bits.flush();
        for (int c = 0; c < channels_; ++c)
            for (int i = 0; i < blockPixels; ++i)
                bits.write(plans_[c].numbers[i], plans_[c].width);
        bits.flush();
    }

    // Chooses plain values or differences for one channel; `values` are pixel - base.
    void planChannel(ChannelPlan& plan, const uint32_t* values) const
    {
        const unsigned stored = plan.storedBits;
        unsigned width = stored;
        if (stored > 1)
            width = stored > dropBits_ ? std::max(1u, stored - dropBits_) : 1u;
        const unsigned shift = stored - width;
        plan.kind = 0;
        plan.width = width;
        for (int i = 0; i < blockPixels; ++i)
            plan.numbers[i] = values[i] >> shift;

        // The decoder does not shift differences, so they are used only losslessly.
        if (dropBits_ != 0 || stored == 1)
            return;
        int64_t differences[blockPixels] = {};
        int64_t lowest = 0;
        int64_t highest = 0;
        for (int i = 1; i < blockPixels; ++i)
        {
            // Each row starts from the previous row's first value, as the decoder rebuilds it.
            const int previous = i % blockSide == 0 ? i - blockSide : i - 1;
            differences[i] = int64_t(values[i]) - int64_t(values[previous]);
            lowest = i == 1 ? differences[i] : std::min(lowest, differences[i]);
            highest = i == 1 ? differences[i] : std::max(highest, differences[i]);
        }
        const int64_t bias = std::max<int64_t>(0, -lowest);
        if (bias >= biasLimit)
            return;
        const unsigned needed = bitsFor(uint64_t(highest + bias));
        if (needed >= stored || stored - needed > maxKind)
            return;
        plan.kind = stored - needed;
        plan.width = stored - plan.kind;
        plan.bias = static_cast<uint32_t>(bias);
        plan.high = values[0] >> plan.width;
        plan.numbers[0] = values[0] & ((1u << plan.width) - 1u);
        for (int i = 1; i < blockPixels; ++i)
            plan.numbers[i] = static_cast<uint32_t>(differences[i] + bias);
    }

    int width_;
    int height_;
    int channels_;
    int bytesPerChannel_;
    unsigned dropBits_;
    unsigned widthFieldBits_ = 0;
    const uint8_t* pixels_;
    std::vector<uint8_t>& stream_;
    ChannelPlan plans_[ImageCodec::maxChannels];
};

} // namespace

bool ImageCodec::compress(const Description& description, const uint8_t* pixels, size_t size,
                          std::vector<uint8_t>& stream)
{
    CRASH_TRACE();
    stream.clear();
    const Description& d = description;
    if (!pixels || d.width < blockSide || d.width > maxDimension || d.width % blockSide != 0
        || d.height < blockSide || d.height > maxDimension || d.height % blockSide != 0 || d.channels < 1
        || d.channels > maxChannels || d.bytesPerChannel < 1 || d.bytesPerChannel > maxBytesPerChannel
        || d.quality < 0 || d.quality > maxQuality)
        return false;
    if (size < size_t(d.width) * d.height * d.channels * d.bytesPerChannel)
        return false;
    Encoder(description, pixels, stream).run();
    return true;
}
