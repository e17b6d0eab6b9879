#pragma once
// Files for the landscape tests: levels made with the content builder's
// writers, whole-file reads, and a fresh folder per test.
#include "../Application/AppTestFiles.h"
#include "LevelFileWriter.h"

#include "Core/FileArray.h"

#include <cstdint>
#include <string>
#include <vector>

namespace LandscapeTestFiles {

using AppTestFiles::freshFolder;
using AppTestFiles::putU32;
using AppTestFiles::read;
using AppTestFiles::write;

inline std::vector<uint8_t> bytesOf(FileArray& stream)
{
    const uint8_t* data = stream.memory();
    return data ? std::vector<uint8_t>(data, data + stream.size()) : std::vector<uint8_t>();
}

inline std::vector<uint8_t> levelBytes(const LevelFileWriter::Level& level)
{
    FileArray out(4096);
    LevelFileWriter::write(level, out);
    return bytesOf(out);
}

inline FileArray& streamOf(FileArray& stream, const std::vector<uint8_t>& bytes)
{
    stream.close();
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    return stream;
}

// A PNG of width x height texels of transparent black (8-bit RGBA) whose
// compressed stream is runs of zeros: many megatexels in a file of a few
// megabytes (about a sixtieth of their decoded size at most).
inline std::vector<uint8_t> blankPng(uint32_t width, uint32_t height)
{
    const auto crc = [](const uint8_t* data, size_t n) {
        uint32_t c = 0xFFFFFFFFu;
        for (size_t i = 0; i < n; ++i) {
            c ^= data[i];
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        return c ^ 0xFFFFFFFFu;
    };
    const auto bigEndian = [](std::vector<uint8_t>& out, uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(uint8_t(v >> shift));
    };
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto chunk = [&](const char* type, const std::vector<uint8_t>& data) {
        bigEndian(png, uint32_t(data.size()));
        const size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        bigEndian(png, crc(png.data() + start, png.size() - start));
    };
    std::vector<uint8_t> header;
    bigEndian(header, width);
    bigEndian(header, height);
    header.insert(header.end(), {8, 6, 0, 0, 0});
    chunk("IHDR", header);
    // One block of the fixed codes: a literal 0, then copies of 258 bytes
    // from one back, literals for the rest and the block's end. Codes go out
    // highest bit first, everything else lowest bit first.
    const uint64_t raw = uint64_t(height) * (1 + uint64_t(width) * 4); // a filter byte each row
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t pending = 0;
    int bits = 0;
    const auto put = [&](uint32_t value, int count) {
        pending |= value << bits;
        for (bits += count; bits >= 8; bits -= 8, pending >>= 8)
            z.push_back(uint8_t(pending));
    };
    const auto code = [&](uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i)
            put((value >> i) & 1, 1);
    };
    put(1, 1);
    put(1, 2);
    code(0x30, 8);
    uint64_t left = raw - 1;
    for (; left >= 258; left -= 258) {
        code(0xC5, 8); // length 258
        code(0, 5);    // distance 1
    }
    for (; left > 0; --left)
        code(0x30, 8);
    code(0, 7);
    put(0, 7);
    bigEndian(z, uint32_t(raw % 65521) << 16 | 1); // the check sum of zeros
    chunk("IDAT", z);
    chunk("IEND", {});
    return png;
}

// A baseline JPEG of width x height grey texels (multiples of 8), all of one
// shade: one quantisation table, a frame of one component, Huffman tables of
// a single code each (a difference of 0, the block's end), so that a block
// takes two bits: 4096 x 2688 texels in some 43 KB.
inline std::vector<uint8_t> blankJpeg(uint16_t width, uint16_t height)
{
    std::vector<uint8_t> jpeg = {0xFF, 0xD8};
    const auto segment = [&](uint8_t marker, const std::vector<uint8_t>& data) {
        const size_t length = data.size() + 2;
        jpeg.insert(jpeg.end(), {0xFF, marker, uint8_t(length >> 8), uint8_t(length)});
        jpeg.insert(jpeg.end(), data.begin(), data.end());
    };
    std::vector<uint8_t> table(65, 1);
    table[0] = 0; // 8-bit values, table 0
    segment(0xDB, table);
    segment(0xC0, {8, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width), 1, 1, 0x11, 0});
    for (uint8_t kind : {0x00, 0x10}) { // DC, then AC table 0: one code of one bit, for symbol 0
        std::vector<uint8_t> huffman(18, 0);
        huffman[0] = kind;
        huffman[1] = 1;
        segment(0xC4, huffman);
    }
    segment(0xDA, {1, 1, 0x00, 0, 63, 0});
    const size_t bits = size_t(width / 8) * size_t(height / 8) * 2;
    jpeg.insert(jpeg.end(), bits / 8, 0);
    if (bits % 8)
        jpeg.push_back(uint8_t(0xFF >> (bits % 8))); // padded with ones
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    return jpeg;
}

// The JPEG of a hostile grass file: "FF 00" and a length after the start,
// then a real frame of width x height (blankJpeg's segments up to the
// image's end), then the header of a frame of 16 x 16 where the length
// points. The decoder passes over FF 00 and its length as stray bytes and
// decodes the real frame; a walk that takes every FF xx for a segment with
// a length finds the small one.
inline std::vector<uint8_t> hiddenFrameJpeg(uint16_t width, uint16_t height)
{
    const std::vector<uint8_t> real = blankJpeg(width, height);
    const size_t length = real.size() - 2 + 2;
    std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0xFF, 0x00, uint8_t(length >> 8), uint8_t(length)};
    jpeg.insert(jpeg.end(), real.begin() + 2, real.end());
    jpeg.insert(jpeg.end(), {0xFF, 0xC0, 0, 11, 8, 0, 16, 0, 16, 1, 1, 0x11, 0});
    return jpeg;
}

// A level in which every field differs from a new scene's value.
inline LevelFileWriter::Level unusualLevel()
{
    LevelFileWriter::Level level;
    level.name = String(L"Quarry");
    level.preview = {0x89, 'P', 'N', 'G', 1, 2, 3, 4, 5};
    level.description = String(L"Dust and rocks");
    level.courseType = 3;
    level.referenceTime = 123456;
    LevelFileWriter::Terrain& t = level.terrain;
    t.text1 = String(L"ground");
    t.text2 = String(L"detail");
    t.value3 = 1024;
    t.value4 = 77;
    for (uint32_t i = 0; i < 5; ++i)
        t.layers[i] = {10 + i, String(i % 2 ? L"grass" : L"rock"), 20 + i, 30 + i};
    t.text6 = String(L"six");
    t.text7 = String(L"seven");
    t.firstRepeat = 9;
    t.secondRepeat = 0.75f;
    t.horizontalScale = 2.5f;
    t.verticalScale = 1.25f;
    t.lodDistance = 6.5f;
    t.lowestLod = 1;
    t.highestLod = 4;
    const uint32_t ops[4] = {4, 7, 8, 10};
    const float ambient[4] = {0.2f, 0.3f, 0.4f, 0.5f}, diffuse[4] = {0.9f, 0.8f, 0.7f, 0.6f};
    for (int i = 0; i < 4; ++i) {
        t.colourOps[i] = ops[i];
        t.ambient[i] = ambient[i];
        t.diffuse[i] = diffuse[i];
    }
    t.barrierFlag = 1;
    level.timeOfDay = 18.5f;
    level.season = 0.25f;
    level.animatedSky = 1;
    LevelFileWriter::Camera& c = level.camera;
    c.mode = 4;
    c.targetHeight = 250.0f;
    c.currentHeight = 240.0f;
    c.position[0] = 11.0f;
    c.position[1] = 22.0f;
    c.position[2] = -33.0f;
    c.turn = 45.0f;
    c.pitch = 60.0f;
    const uint8_t fog[4] = {0x10, 0x20, 0x30, 0x40};
    for (int i = 0; i < 4; ++i)
        c.fogColour[i] = fog[i];
    c.fogAmount = 0.9f;
    return level;
}

}
