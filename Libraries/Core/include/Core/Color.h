#pragma once

#include <cmath>
#include <cstdint>

// The engine's pixel types. Every constructor without arguments sets all bits
// to zero. Conversions between them go through Color: narrowing drops the low
// bits of each channel; widening repeats a channel's bits into the low bits, so
// a full channel stays full (31 of 5 bits becomes 255) and zero stays zero.
// Types without alpha read as opaque.

// 32 bits; bytes in memory blue, green, red, alpha (Direct3D A8R8G8B8).
struct Color
{
    uint8_t b = 0;
    uint8_t g = 0;
    uint8_t r = 0;
    uint8_t a = 0;

    constexpr Color() = default;
    constexpr Color(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha)
        : b(blue), g(green), r(red), a(alpha)
    {
    }
    // From an ARGB value as Direct3D writes it (0xAARRGGBB).
    static constexpr Color fromArgb(uint32_t v)
    {
        return Color(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), uint8_t(v >> 24));
    }
    constexpr uint32_t argb() const
    {
        return uint32_t(a) << 24 | uint32_t(r) << 16 | uint32_t(g) << 8 | b;
    }
    constexpr bool operator==(const Color&) const = default;
};
static_assert(sizeof(Color) == 4);

// 16 bits: bit 15 alpha, 10-14 red, 5-9 green, 0-4 blue.
struct ColorA1R5G5B5
{
    uint16_t value = 0;
    constexpr ColorA1R5G5B5() = default;
    constexpr explicit ColorA1R5G5B5(uint16_t v) : value(v) {}
    constexpr bool operator==(const ColorA1R5G5B5&) const = default;
};
static_assert(sizeof(ColorA1R5G5B5) == 2);

// 16 bits: 12-15 alpha, 8-11 red, 4-7 green, 0-3 blue.
struct ColorA4R4G4B4
{
    uint16_t value = 0;
    constexpr ColorA4R4G4B4() = default;
    constexpr explicit ColorA4R4G4B4(uint16_t v) : value(v) {}
    constexpr bool operator==(const ColorA4R4G4B4&) const = default;
};
static_assert(sizeof(ColorA4R4G4B4) == 2);

// 16 bits: 11-15 red, 5-10 green, 0-4 blue.
struct ColorR5G6B5
{
    uint16_t value = 0;
    constexpr ColorR5G6B5() = default;
    constexpr explicit ColorR5G6B5(uint16_t v) : value(v) {}
    constexpr bool operator==(const ColorR5G6B5&) const = default;
};
static_assert(sizeof(ColorR5G6B5) == 2);

// 24 bits: bytes blue, green, red.
struct Color24
{
    uint8_t b = 0;
    uint8_t g = 0;
    uint8_t r = 0;
    constexpr Color24() = default;
    constexpr Color24(uint8_t red, uint8_t green, uint8_t blue) : b(blue), g(green), r(red) {}
    constexpr bool operator==(const Color24&) const = default;
};
static_assert(sizeof(Color24) == 3);

// A colour value of three floats, 0.0 to 1.0 per channel (12 bytes a pixel).
struct ColorValue24
{
    float r = 0.0f;
    float g = 0.0f;
    float b = 0.0f;
    constexpr ColorValue24() = default;
    constexpr ColorValue24(float red, float green, float blue) : r(red), g(green), b(blue) {}
    constexpr bool operator==(const ColorValue24&) const = default;
};
static_assert(sizeof(ColorValue24) == 12);

namespace ColorChannel
{
// Widening by bit repetition: the top bits fill the new low bits.
constexpr uint8_t from1(uint32_t v) { return (v & 1) ? 255 : 0; }
constexpr uint8_t from4(uint32_t v) { return uint8_t((v & 15) * 17); }
constexpr uint8_t from5(uint32_t v) { return uint8_t(((v & 31) << 3) | ((v & 31) >> 2)); }
constexpr uint8_t from6(uint32_t v) { return uint8_t(((v & 63) << 2) | ((v & 63) >> 4)); }

inline uint8_t fromFloat(float v)
{
    if (!(v > 0.0f))
        return 0; // also NaN
    if (v >= 1.0f)
        return 255;
    return uint8_t(std::lround(v * 255.0f));
}
}

constexpr Color toColor(Color c) { return c; }

constexpr Color toColor(ColorA1R5G5B5 c)
{
    const uint32_t v = c.value;
    return Color(ColorChannel::from5(v >> 10), ColorChannel::from5(v >> 5), ColorChannel::from5(v),
                 ColorChannel::from1(v >> 15));
}

constexpr Color toColor(ColorA4R4G4B4 c)
{
    const uint32_t v = c.value;
    return Color(ColorChannel::from4(v >> 8), ColorChannel::from4(v >> 4), ColorChannel::from4(v),
                 ColorChannel::from4(v >> 12));
}

constexpr Color toColor(ColorR5G6B5 c)
{
    const uint32_t v = c.value;
    return Color(ColorChannel::from5(v >> 11), ColorChannel::from6(v >> 5), ColorChannel::from5(v), 255);
}

constexpr Color toColor(Color24 c) { return Color(c.r, c.g, c.b, 255); }

inline Color toColor(ColorValue24 c)
{
    return Color(ColorChannel::fromFloat(c.r), ColorChannel::fromFloat(c.g), ColorChannel::fromFloat(c.b), 255);
}

template <class T>
T fromColor(Color c);

template <>
constexpr Color fromColor<Color>(Color c)
{
    return c;
}

// The alpha bit is set from alpha 128 upward: the top bit of the byte.
template <>
constexpr ColorA1R5G5B5 fromColor<ColorA1R5G5B5>(Color c)
{
    return ColorA1R5G5B5(uint16_t((c.a & 0x80u) << 8 | (c.r & 0xF8u) << 7 | (c.g & 0xF8u) << 2 | c.b >> 3));
}

template <>
constexpr ColorA4R4G4B4 fromColor<ColorA4R4G4B4>(Color c)
{
    return ColorA4R4G4B4(uint16_t((c.a & 0xF0u) << 8 | (c.r & 0xF0u) << 4 | (c.g & 0xF0u) | c.b >> 4));
}

template <>
constexpr ColorR5G6B5 fromColor<ColorR5G6B5>(Color c)
{
    return ColorR5G6B5(uint16_t((c.r & 0xF8u) << 8 | (c.g & 0xFCu) << 3 | c.b >> 3));
}

template <>
constexpr Color24 fromColor<Color24>(Color c)
{
    return Color24(c.r, c.g, c.b);
}

template <>
inline ColorValue24 fromColor<ColorValue24>(Color c)
{
    return ColorValue24(c.r / 255.0f, c.g / 255.0f, c.b / 255.0f);
}

// Converts between any two pixel types.
template <class Dst, class Src>
inline Dst convertColor(const Src& s)
{
    return fromColor<Dst>(toColor(s));
}
