#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

// Bounds-checked little-endian reads from a byte span, for the image decoders.
// A read past the end fails (returns false, leaves the position) instead of
// reading outside the span.
class ByteReader
{
public:
    explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}

    size_t size() const { return data_.size(); }
    size_t position() const { return position_; }
    size_t remaining() const { return data_.size() - position_; }
    const uint8_t* current() const { return data_.data() + position_; }

    bool seek(size_t offset)
    {
        if (offset > data_.size())
            return false;
        position_ = offset;
        return true;
    }
    bool skip(size_t n)
    {
        if (n > remaining())
            return false;
        position_ += n;
        return true;
    }
    bool read(void* out, size_t n)
    {
        if (n > remaining())
            return false;
        if (n)
            std::memcpy(out, current(), n);
        position_ += n;
        return true;
    }
    bool u8(uint8_t& v) { return read(&v, 1); }
    bool u16(uint16_t& v)
    {
        uint8_t b[2];
        if (!read(b, 2))
            return false;
        v = uint16_t(b[0] | b[1] << 8);
        return true;
    }
    bool u32(uint32_t& v)
    {
        uint8_t b[4];
        if (!read(b, 4))
            return false;
        v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        return true;
    }

    // Little-endian values at a fixed offset of a header already known to be in range.
    static uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
    static uint32_t le32(const uint8_t* p)
    {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }

private:
    std::span<const uint8_t> data_;
    size_t position_ = 0;
};
