#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace CodingDetail
{
constexpr uint8_t rotateLeft3(uint32_t v)
{
    return static_cast<uint8_t>(((v << 3) | (v >> 5)) & 0xFF);
}

// An odd multiplier makes the affine step a permutation; rotating and
// xoring keep it one.
constexpr std::array<uint8_t, 256> makeTable()
{
    std::array<uint8_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i)
        t[i] = static_cast<uint8_t>(rotateLeft3((i * 173u + 0x5Bu) & 0xFFu) ^ 0xA6u);
    return t;
}

constexpr std::array<uint8_t, 256> makeInverse(const std::array<uint8_t, 256>& t)
{
    std::array<uint8_t, 256> inv{};
    for (uint32_t i = 0; i < 256; ++i)
        inv[t[i]] = static_cast<uint8_t>(i);
    return inv;
}
}

// The byte substitution of package files. Every byte of a package (mark,
// counts, names and data alike) is stored as table[b]; readers map each
// byte back through inverse. Packages written by the content builder and
// read by the game must agree on the table, so it never changes.
class Coding
{
public:
    static constexpr std::array<uint8_t, 256> table = CodingDetail::makeTable();
    static constexpr std::array<uint8_t, 256> inverse = CodingDetail::makeInverse(table);

    static constexpr uint8_t encode(uint8_t b) { return table[b]; }
    static constexpr uint8_t decode(uint8_t b) { return inverse[b]; }

    static void encode(uint8_t* bytes, size_t n);
    static void decode(uint8_t* bytes, size_t n);
};
