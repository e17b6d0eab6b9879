#pragma once

// Writers of small BMP, PCX, TGA and TIFF files for the decoder tests, and the
// test pattern they hold. Only tests write these formats: the game reads them
// from its own module resources only.

#include "Core/Color.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace ImageTestFiles
{
using Bytes = std::vector<uint8_t>;

// The test pattern, top row y = 0: flat stretches (with bytes from C0h up, which
// the PCX coder must escape), a flat row 1 longer than any one run, and varied
// pixels elsewhere.
inline bool flatAt(int x, int y)
{
    return y == 1 || ((x / 8 + y) % 3 == 0);
}

inline Color patternColor(int x, int y)
{
    if (flatAt(x, y))
        return Color(200, 10, 0xC5, 0xE0);
    return Color(uint8_t(x * 53 + y * 17), uint8_t(x * 29 + y * 71 + 5), uint8_t((x * 11) ^ (y * 97)),
                 uint8_t(x * 37 + y * 13 + 128));
}

inline uint8_t patternIndex(int x, int y)
{
    return flatAt(x, y) ? 0xC7 : uint8_t(x * 7 + y * 13);
}

inline Color paletteColor(int i)
{
    return Color(uint8_t(i), uint8_t(255 - i), uint8_t(i * 3), 255);
}

inline void put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

inline void put32(Bytes& b, uint32_t v)
{
    put16(b, v & 0xFFFF);
    put16(b, v >> 16);
}

inline void set32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// BMP of 8 (palette) or 24 bits, bottom-up unless topDown; without fileHeader
// it is the form of a bitmap resource.
inline Bytes writeBmp(int w, int h, int bits, bool fileHeader = true, bool topDown = false)
{
    const uint32_t rowBytes = uint32_t(w * bits / 8);
    const uint32_t padded = (rowBytes + 3) & ~3u;
    const uint32_t paletteBytes = bits == 8 ? 1024 : 0;
    const uint32_t offset = (fileHeader ? 14 : 0) + 40 + paletteBytes;
    Bytes b;
    if (fileHeader) {
        b.push_back('B');
        b.push_back('M');
        put32(b, offset + padded * h);
        put32(b, 0);
        put32(b, offset);
    }
    put32(b, 40);
    put32(b, uint32_t(w));
    put32(b, uint32_t(topDown ? -h : h));
    put16(b, 1);
    put16(b, uint32_t(bits));
    put32(b, 0);
    put32(b, padded * h);
    put32(b, 2835);
    put32(b, 2835);
    put32(b, 0);
    put32(b, 0);
    for (uint32_t i = 0; i < paletteBytes / 4; ++i) {
        const Color c = paletteColor(int(i));
        b.insert(b.end(), {c.b, c.g, c.r, 0});
    }
    for (int k = 0; k < h; ++k) {
        const int y = topDown ? k : h - 1 - k;
        for (int x = 0; x < w; ++x) {
            if (bits == 8) {
                b.push_back(patternIndex(x, y));
            } else {
                const Color c = patternColor(x, y);
                b.insert(b.end(), {c.b, c.g, c.r});
            }
        }
        b.insert(b.end(), padded - rowBytes, uint8_t(0));
    }
    return b;
}

// Run-length codes bytes the PCX way: runs of up to 63, single bytes below C0h as themselves.
inline void pcxRuns(Bytes& out, const Bytes& in)
{
    for (size_t i = 0; i < in.size();) {
        size_t n = 1;
        while (i + n < in.size() && in[i + n] == in[i] && n < 63)
            ++n;
        if (n == 1 && in[i] < 0xC0) {
            out.push_back(in[i]);
        } else {
            out.push_back(uint8_t(0xC0 | n));
            out.push_back(in[i]);
        }
        i += n;
    }
}

// PCX version 5 with one plane (and the 256-colour palette at the end) or
// three. Lines are padded to an even length. With acrossLines the whole image
// is coded as one stream, so runs cross line ends.
inline Bytes writePcx(int w, int h, int planes, bool acrossLines = false)
{
    const int bytesPerLine = (w + 1) & ~1;
    Bytes b(128, 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 1;
    b[3] = 8;
    const int xMin = 100, yMin = -7; // the size is max - min + 1
    b[4] = uint8_t(xMin);
    b[5] = uint8_t(xMin >> 8);
    b[6] = uint8_t(yMin);
    b[7] = uint8_t(yMin >> 8);
    b[8] = uint8_t(xMin + w - 1);
    b[9] = uint8_t((xMin + w - 1) >> 8);
    b[10] = uint8_t(yMin + h - 1);
    b[11] = uint8_t((yMin + h - 1) >> 8);
    b[65] = uint8_t(planes);
    b[66] = uint8_t(bytesPerLine);
    b[67] = uint8_t(bytesPerLine >> 8);
    b[68] = 1;
    Bytes all;
    for (int y = 0; y < h; ++y) {
        Bytes line;
        for (int p = 0; p < planes; ++p) {
            for (int x = 0; x < bytesPerLine; ++x) {
                if (x >= w) {
                    line.push_back(0);
                } else if (planes == 1) {
                    line.push_back(patternIndex(x, y));
                } else {
                    const Color c = patternColor(x, y);
                    line.push_back(p == 0 ? c.r : p == 1 ? c.g : c.b);
                }
            }
        }
        if (acrossLines)
            all.insert(all.end(), line.begin(), line.end());
        else
            pcxRuns(b, line);
    }
    if (acrossLines)
        pcxRuns(b, all);
    if (planes == 1) {
        b.push_back(12);
        for (int i = 0; i < 256; ++i) {
            const Color c = paletteColor(i);
            b.insert(b.end(), {c.r, c.g, c.b});
        }
    }
    return b;
}

// TGA true colour, type 2 or 10, with an image id of three bytes. Rows run
// from the bottom up unless topFirst (descriptor bit 5).
inline Bytes writeTga(int w, int h, int bits, int type, bool topFirst = false)
{
    Bytes b(18, 0);
    b[0] = 3;
    b[2] = uint8_t(type);
    b[12] = uint8_t(w);
    b[13] = uint8_t(w >> 8);
    b[14] = uint8_t(h);
    b[15] = uint8_t(h >> 8);
    b[16] = uint8_t(bits);
    b[17] = uint8_t((bits == 32 ? 8 : 0) | (topFirst ? 0x20 : 0));
    b.insert(b.end(), {'i', 'd', '!'});
    const size_t bytes = size_t(bits / 8);
    Bytes pixels;
    for (int k = 0; k < h; ++k) {
        const int y = topFirst ? k : h - 1 - k;
        for (int x = 0; x < w; ++x) {
            const Color c = patternColor(x, y);
            pixels.insert(pixels.end(), {c.b, c.g, c.r, c.a});
            pixels.resize(pixels.size() - (4 - bytes));
        }
    }
    if (type == 2) {
        b.insert(b.end(), pixels.begin(), pixels.end());
        return b;
    }
    // Packets run over row ends: runs of equal pixels, raw stretches between.
    const size_t count = pixels.size() / bytes;
    auto same = [&](size_t i, size_t j) {
        return std::equal(pixels.begin() + i * bytes, pixels.begin() + (i + 1) * bytes, pixels.begin() + j * bytes);
    };
    for (size_t i = 0; i < count;) {
        size_t n = 1;
        while (i + n < count && n < 128 && same(i, i + n))
            ++n;
        if (n >= 2) {
            b.push_back(uint8_t(0x80 | (n - 1)));
            b.insert(b.end(), pixels.begin() + i * bytes, pixels.begin() + (i + 1) * bytes);
            i += n;
            continue;
        }
        size_t m = 1;
        while (i + m < count && m < 128 && !(i + m + 1 < count && same(i + m, i + m + 1)))
            ++m;
        b.push_back(uint8_t(m - 1));
        b.insert(b.end(), pixels.begin() + i * bytes, pixels.begin() + (i + m) * bytes);
        i += m;
    }
    return b;
}

// The 16-bit TIFF pattern pixel.
inline uint16_t pattern565(int x, int y)
{
    return fromColor<ColorR5G6B5>(patternColor(x, y)).value;
}

// Little-endian TIFF with uncompressed strips of rowsPerStrip rows, pixels
// 16-bit (R5G6B5) or 24-bit RGB; threeSamples writes bits per sample as three
// values of 8 (stored away from the entry).
inline Bytes writeTiff(int w, int h, int bits, int rowsPerStrip, bool threeSamples = false)
{
    const int strips = (h + rowsPerStrip - 1) / rowsPerStrip;
    const int entries = 10;
    const uint32_t ifdSize = 2 + entries * 12 + 4;
    const uint32_t extra = 8 + ifdSize; // arrays placed after the directory
    const uint32_t bitsArray = extra;
    const uint32_t offsetsArray = bitsArray + 8;
    const uint32_t countsArray = offsetsArray + 4 * strips;
    const uint32_t pixelStart = countsArray + 4 * strips;
    const uint32_t rowBytes = uint32_t(w * bits / 8);

    Bytes b;
    b.insert(b.end(), {'I', 'I'});
    put16(b, 42);
    put32(b, 8);
    put16(b, entries);
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        put16(b, tag);
        put16(b, type);
        put32(b, count);
        if (type == 3 && count == 1) {
            put16(b, value);
            put16(b, 0);
        } else {
            put32(b, value);
        }
    };
    entry(256, 3, 1, uint32_t(w));
    entry(257, 4, 1, uint32_t(h));
    if (threeSamples)
        entry(258, 3, 3, bitsArray);
    else
        entry(258, 3, 1, uint32_t(bits));
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 2);
    // One strip keeps its offset in the entry; more are stored away from it.
    entry(273, 4, uint32_t(strips), strips == 1 ? pixelStart : offsetsArray);
    entry(277, 3, 1, bits == 24 ? 3 : 1);
    entry(278, 3, 1, uint32_t(rowsPerStrip));
    entry(279, 4, uint32_t(strips),
          strips == 1 ? rowBytes * h : countsArray);
    entry(284, 3, 1, 1);
    put32(b, 0);
    put16(b, 8);
    put16(b, 8);
    put16(b, 8);
    put16(b, 0);
    // Strips are stored last first, so only the offsets tie them to rows.
    std::vector<uint32_t> offsets(strips), counts(strips);
    uint32_t at = pixelStart;
    for (int s = strips - 1; s >= 0; --s) {
        const int rows = std::min(rowsPerStrip, h - s * rowsPerStrip);
        offsets[s] = at;
        counts[s] = rowBytes * rows;
        at += counts[s];
    }
    for (int s = 0; s < strips; ++s)
        put32(b, offsets[s]);
    for (int s = 0; s < strips; ++s)
        put32(b, counts[s]);
    b.resize(at);
    for (int y = 0; y < h; ++y) {
        size_t p = offsets[y / rowsPerStrip] + size_t(y % rowsPerStrip) * rowBytes;
        for (int x = 0; x < w; ++x) {
            if (bits == 16) {
                const uint16_t v = pattern565(x, y);
                b[p++] = uint8_t(v);
                b[p++] = uint8_t(v >> 8);
            } else {
                const Color c = patternColor(x, y);
                b[p++] = c.r;
                b[p++] = c.g;
                b[p++] = c.b;
            }
        }
    }
    return b;
}
}
