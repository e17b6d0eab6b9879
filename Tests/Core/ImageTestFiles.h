#pragma once

// Writers of small BMP, PCX, TGA and TIFF files holding one test pattern, and
// the guarded fuzzing loop the decoder tests share. Only tests write these
// formats: the game reads them from its own module resources.

#include "Core/Color.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <vector>

namespace ImageTestFiles
{
using Bytes = std::vector<uint8_t>;

// Top row y = 0. Flat stretches are grey with bytes from C0h up, which PCX must
// escape. Row 1 is flat all along, longer than one PCX run; at a width of 70 the
// stretches at the ends of rows 0 and 1 and the start of row 2 make runs cross
// plane and line ends.
inline bool flatAt(int x, int y) { return y == 1 || (x / 8 + y) % 3 == 2; }

inline Color patternColor(int x, int y)
{
    if (flatAt(x, y))
        return Color(0xC5, 0xC5, 0xC5, 0xE0);
    return Color(uint8_t(x * 53 + y * 17), uint8_t(x * 29 + y * 71 + 5), uint8_t((x * 11) ^ (y * 97)),
                 uint8_t(x * 37 + y * 13 + 128));
}

inline uint8_t patternIndex(int x, int y) { return flatAt(x, y) ? 0xC7 : uint8_t(x * 7 + y * 13); }
inline Color paletteColor(int i) { return Color(uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 255); }
inline uint16_t pattern565(int x, int y) { return fromColor<ColorR5G6B5>(patternColor(x, y)).value; }

// Little-endian field of `size` bytes, appended or written over.
inline void put(Bytes& b, uint32_t v, int size = 4)
{
    for (int i = 0; i < size; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline Bytes patched(Bytes b, size_t at, uint32_t v, int size = 4)
{
    for (int i = 0; i < size; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
    return b;
}

// BMP of 8 (palette) or 24 bits; without fileHeader, the form of a bitmap resource.
inline Bytes writeBmp(int w, int h, int bits, bool fileHeader = true, bool topDown = false)
{
    const uint32_t rowBytes = uint32_t(w * bits / 8), padded = (rowBytes + 3) & ~3u;
    const uint32_t offset = (fileHeader ? 14 : 0) + 40 + (bits == 8 ? 1024 : 0);
    Bytes b;
    if (fileHeader) {
        b = {'B', 'M'};
        for (uint32_t v : {offset + padded * h, 0u, offset})
            put(b, v);
    }
    // One plane; bits; no compression.
    for (uint32_t v : {40u, uint32_t(w), uint32_t(topDown ? -h : h), 1u | uint32_t(bits) << 16, 0u, padded * h, 2835u,
                       2835u, 0u, 0u})
        put(b, v);
    for (int i = 0; bits == 8 && i < 256; ++i)
        b.insert(b.end(), {paletteColor(i).b, paletteColor(i).g, paletteColor(i).r, 0});
    for (int k = 0; k < h; ++k) {
        const int y = topDown ? k : h - 1 - k;
        for (int x = 0; x < w; ++x) {
            const Color c = patternColor(x, y);
            if (bits == 8)
                b.push_back(patternIndex(x, y));
            else
                b.insert(b.end(), {c.b, c.g, c.r});
        }
        b.insert(b.end(), padded - rowBytes, uint8_t(0));
    }
    return b;
}

// PCX version 5 with one plane (and the 256-colour palette at the end) or three,
// lines padded to an even length. With acrossLines runs cross line ends.
inline Bytes writePcx(int w, int h, int planes, bool acrossLines = false)
{
    const int bytesPerLine = (w + 1) & ~1;
    Bytes b{10, 5, 1, 8};
    for (int v : {100, -7, 100 + w - 1, -7 + h - 1}) // the size is max - min + 1
        put(b, uint32_t(v), 2);
    b.resize(65);
    b.push_back(uint8_t(planes));
    put(b, uint32_t(bytesPerLine), 2);
    b.push_back(1);
    b.resize(128);
    Bytes plain;
    auto runs = [&] {
        for (size_t i = 0, n = 1; i < plain.size(); i += n, n = 1) {
            while (i + n < plain.size() && plain[i + n] == plain[i] && n < 63)
                ++n;
            if (n > 1 || plain[i] >= 0xC0)
                b.push_back(uint8_t(0xC0 | n));
            b.push_back(plain[i]);
        }
        plain.clear();
    };
    for (int y = 0; y < h; ++y) {
        for (int p = 0; p < planes; ++p)
            for (int x = 0; x < bytesPerLine; ++x) {
                const Color c = patternColor(x, y);
                plain.push_back(x >= w ? 0 : planes == 1 ? patternIndex(x, y) : p == 0 ? c.r : p == 1 ? c.g : c.b);
            }
        if (!acrossLines)
            runs();
    }
    runs();
    if (planes == 1) {
        b.push_back(12);
        for (int i = 0; i < 256; ++i)
            b.insert(b.end(), {paletteColor(i).r, paletteColor(i).g, paletteColor(i).b});
    }
    return b;
}

// TGA true colour, type 2 or 10, with a 3-byte image id; rows bottom first unless topFirst.
inline Bytes writeTga(int w, int h, int bits, int type, bool topFirst = false)
{
    Bytes b{3, 0, uint8_t(type)};
    b.resize(12);
    put(b, uint32_t(w), 2);
    put(b, uint32_t(h), 2);
    b.insert(b.end(), {uint8_t(bits), uint8_t((bits == 32 ? 8 : 0) | (topFirst ? 0x20 : 0)), 'i', 'd', '!'});
    const size_t bytes = size_t(bits / 8);
    Bytes pixels;
    for (int k = 0; k < h; ++k)
        for (int x = 0; x < w; ++x) {
            const Color c = patternColor(x, topFirst ? k : h - 1 - k);
            pixels.insert(pixels.end(), {c.b, c.g, c.r, c.a});
            pixels.resize(pixels.size() - (4 - bytes));
        }
    if (type == 2) {
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    }
    // Packets run over row ends: runs of equal pixels, raw stretches between.
    const size_t count = pixels.size() / bytes;
    auto at = [&](size_t i) { return pixels.begin() + i * bytes; };
    auto same = [&](size_t i) { return i + 1 < count && std::equal(at(i), at(i + 1), at(i + 1)); };
    for (size_t i = 0, n = 1; i < count; i += n, n = 1) {
        const bool run = same(i);
        while (i + n < count && n < 128 && (run ? same(i + n - 1) : !same(i + n)))
            ++n;
        b.push_back(uint8_t((run ? 0x80 : 0) | (n - 1)));
        b.insert(b.end(), at(i), run ? at(i + 1) : at(i + n));
    }
    return b;
}

// Little-endian TIFF, uncompressed strips of rowsPerStrip rows stored last
// first, pixels R5G6B5 (16) or RGB (24). Arrays of more than four bytes lie
// after the directory: the strip tables when there are several strips, and
// bits per sample when threeSamples writes it as three values of 8.
inline Bytes writeTiff(int w, int h, int bits, int rowsPerStrip, bool threeSamples = false)
{
    const uint32_t strips = uint32_t((h + rowsPerStrip - 1) / rowsPerStrip), rowBytes = uint32_t(w * bits / 8);
    const uint32_t bitsArray = 8 + 2 + 10 * 12 + 4, offsetsArray = bitsArray + 8;
    const uint32_t countsArray = offsetsArray + 4 * strips, pixelStart = countsArray + 4 * strips;
    Bytes b{'I', 'I', 42, 0, 8, 0, 0, 0, 10, 0};
    // Tag, type (3 SHORT, 4 LONG), count, value or offset: SHORT values sit in the entry's low bytes.
    const uint32_t entries[10][4] = {{256, 3, 1, uint32_t(w)},
                                     {257, 4, 1, uint32_t(h)},
                                     {258, 3, threeSamples ? 3u : 1u, threeSamples ? bitsArray : uint32_t(bits)},
                                     {259, 3, 1, 1},
                                     {262, 3, 1, 2},
                                     {273, 4, strips, strips == 1 ? pixelStart : offsetsArray},
                                     {277, 3, 1, bits == 24 ? 3u : 1u},
                                     {278, 3, 1, uint32_t(rowsPerStrip)},
                                     {279, 4, strips, strips == 1 ? rowBytes * h : countsArray},
                                     {284, 3, 1, 1}};
    for (const auto& e : entries)
        for (uint32_t v : {e[0] | e[1] << 16, e[2], e[3]})
            put(b, v);
    for (uint32_t v : {0u, 0x00080008u, 8u})
        put(b, v);
    std::vector<uint32_t> offsets(strips), counts(strips);
    uint32_t end = pixelStart;
    for (uint32_t s = strips; s-- > 0; end += counts[s]) {
        offsets[s] = end;
        counts[s] = rowBytes * std::min<uint32_t>(rowsPerStrip, h - s * rowsPerStrip);
    }
    for (const auto* table : {&offsets, &counts})
        for (uint32_t v : *table)
            put(b, v);
    b.resize(end);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &b[offsets[y / rowsPerStrip] + size_t(y % rowsPerStrip) * rowBytes + x * bits / 8];
            const Color c = patternColor(x, y);
            const uint16_t v = pattern565(x, y);
            const uint8_t rgb[3] = {c.r, c.g, c.b}, low[2] = {uint8_t(v), uint8_t(v >> 8)};
            std::memcpy(p, bits == 16 ? low : rgb, size_t(bits / 8));
        }
    return b;
}

// Hands `rounds` mutated copies of the seeds (random bytes, extreme 16- and 32-bit
// values near the start where sizes and offsets live, cuts, appended bytes) to
// `decode`, which checks the result and says whether the copy decoded. Each copy
// ends at an inaccessible page, so reading one byte past it faults. Returns how many decoded.
template <class Decode>
int fuzz(const std::vector<Bytes>& seeds, uint32_t seed, int rounds, Decode decode)
{
    static const uint32_t extremes[] = {0, 1, 0x7F, 0x80, 0xFF, 0x7FFF, 0x8000, 0xFFFF, 0x4001, 0x7FFFFFFF, ~0u};
    const size_t capacity = 1 << 16;
    auto* guard = static_cast<uint8_t*>(VirtualAlloc(nullptr, capacity + 4096, MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (!guard || !VirtualProtect(guard + capacity, 4096, PAGE_NOACCESS, &old)) {
        ADD_FAILURE() << "no guard page";
        return 0;
    }
    std::mt19937 rng(seed);
    int decoded = 0;
    for (int round = 0; round < rounds && !testing::Test::HasFailure(); ++round) {
        Bytes b = seeds[size_t(round) % seeds.size()];
        for (int m = 1 + int(rng() % 4); m > 0 && !b.empty(); --m) {
            const size_t at = rng() % b.size();
            switch (rng() % 6) {
            case 0: case 1: b[at] = uint8_t(rng()); break;
            case 2:
                if (b.size() >= 4)
                    b = patched(b, std::min<size_t>(at % 160, b.size() - 4), extremes[rng() % 11], 2 << rng() % 2);
                break;
            case 3: b.resize(at); break;
            case 4: b.insert(b.end(), rng() % 64, uint8_t(rng())); break;
            default: b[at] ^= uint8_t(1u << (rng() % 8)); break;
            }
        }
        b.resize(std::min(b.size(), capacity));
        std::copy(b.begin(), b.end(), guard + capacity - b.size());
        decoded += decode(std::span<const uint8_t>(guard + capacity - b.size(), b.size())) ? 1 : 0;
    }
    VirtualFree(guard, 0, MEM_RELEASE);
    return decoded;
}
}
