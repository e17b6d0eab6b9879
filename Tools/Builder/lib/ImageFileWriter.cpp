#include "ImageFileWriter.h"

#include <algorithm>
#include <array>

namespace ImageFileWriter {

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, uint32_t v)
{
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}

void put32(Bytes& b, uint32_t v)
{
    put16(b, v);
    put16(b, v >> 16);
}

void put32BigEndian(Bytes& b, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(uint8_t(v >> shift));
}

bool valid(const Image& image)
{
    return image.width > 0 && image.height > 0 && image.argb.size() == size_t(image.width) * image.height;
}

// Info header and 24-bit rows, bottom row first, each padded to 4 bytes.
Bytes bitmapBody(const Image& image)
{
    Bytes b;
    const uint32_t rowBytes = (image.width * 3 + 3) & ~3u;
    put32(b, 40);
    put32(b, image.width);
    put32(b, image.height);
    put16(b, 1);
    put16(b, 24);
    put32(b, 0);
    put32(b, rowBytes * image.height);
    put32(b, 2835);
    put32(b, 2835);
    put32(b, 0);
    put32(b, 0);
    for (uint32_t row = 0; row < image.height; ++row) {
        const uint32_t y = image.height - 1 - row;
        size_t start = b.size();
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint32_t v = image.at(x, y);
            b.push_back(uint8_t(v));
            b.push_back(uint8_t(v >> 8));
            b.push_back(uint8_t(v >> 16));
        }
        b.resize(start + rowBytes, 0);
    }
    return b;
}

uint32_t crc32(const uint8_t* data, size_t n)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i)
        c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void pngChunk(Bytes& out, const char* type, const Bytes& data)
{
    put32BigEndian(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32BigEndian(out, crc32(out.data() + start, out.size() - start));
}

}

std::vector<uint8_t> bmp(const Image& image)
{
    if (!valid(image))
        return {};
    const Bytes body = bitmapBody(image);
    Bytes b;
    b.push_back('B');
    b.push_back('M');
    put32(b, uint32_t(14 + body.size()));
    put32(b, 0);
    put32(b, 14 + 40);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

std::vector<uint8_t> tga(const Image& image)
{
    if (!valid(image))
        return {};
    Bytes b{0, 0, 2, 0, 0, 0, 0, 0};
    put16(b, 0);
    put16(b, 0);
    put16(b, image.width);
    put16(b, image.height);
    b.push_back(32);
    b.push_back(8); // eight alpha bits, bottom row first
    for (uint32_t row = 0; row < image.height; ++row)
        for (uint32_t x = 0; x < image.width; ++x)
            put32(b, image.at(x, image.height - 1 - row));
    return b;
}

namespace {

// A DDS file of A8R8G8B8 texels, one level per surface: a 2D texture, or
// the six faces of a cube map (same square size) in the order +X, -X, +Y,
// -Y, +Z, -Z.
std::vector<uint8_t> ddsOf(const Image* faces, uint32_t count, bool cube)
{
    for (uint32_t i = 0; i < count; ++i)
        if (!valid(faces[i]) || faces[i].width != faces[0].width || faces[i].height != faces[0].height)
            return {};
    const Image& image = faces[0];
    if (cube && image.width != image.height)
        return {};
    Bytes b{'D', 'D', 'S', ' '};
    put32(b, 124);
    put32(b, 0x1 | 0x2 | 0x4 | 0x8 | 0x1000); // caps, height, width, pitch, pixel format
    put32(b, image.height);
    put32(b, image.width);
    put32(b, image.width * 4);
    put32(b, 0); // depth
    put32(b, 0); // mip levels
    for (int i = 0; i < 11; ++i)
        put32(b, 0);
    put32(b, 32);
    put32(b, 0x41); // RGB with alpha
    put32(b, 0);
    put32(b, 32);
    put32(b, 0x00FF0000);
    put32(b, 0x0000FF00);
    put32(b, 0x000000FF);
    put32(b, 0xFF000000);
    put32(b, cube ? 0x1000 | 0x8 : 0x1000); // texture, complex for a cube
    put32(b, cube ? 0x200 | 0xFC00 : 0);    // cube map with all six faces
    for (int i = 0; i < 3; ++i)
        put32(b, 0);
    for (uint32_t i = 0; i < count; ++i)
        for (uint32_t v : faces[i].argb)
            put32(b, v);
    return b;
}

}

std::vector<uint8_t> dds(const Image& image)
{
    return ddsOf(&image, 1, false);
}

std::vector<uint8_t> ddsCube(const Image (&faces)[6])
{
    return ddsOf(faces, 6, true);
}

std::vector<uint8_t> png(const Image& image)
{
    if (!valid(image))
        return {};
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes header;
    put32BigEndian(header, image.width);
    put32BigEndian(header, image.height);
    header.insert(header.end(), {8, 6, 0, 0, 0}); // 8-bit RGBA, no interlace
    pngChunk(out, "IHDR", header);

    Bytes raw;
    for (uint32_t y = 0; y < image.height; ++y) {
        raw.push_back(0); // no filter
        for (uint32_t x = 0; x < image.width; ++x) {
            const uint32_t v = image.at(x, y);
            raw.insert(raw.end(), {uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v), uint8_t(v >> 24)});
        }
    }
    // zlib stream of stored blocks.
    Bytes z{0x78, 0x01};
    size_t done = 0;
    do {
        const size_t n = std::min<size_t>(raw.size() - done, 65535);
        const bool last = done + n == raw.size();
        z.push_back(last ? 1 : 0);
        put16(z, uint32_t(n));
        put16(z, uint32_t(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + ptrdiff_t(done), raw.begin() + ptrdiff_t(done + n));
        done += n;
    } while (done < raw.size());
    uint32_t a = 1, s = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        s = (s + a) % 65521;
    }
    put32BigEndian(z, s << 16 | a);
    pngChunk(out, "IDAT", z);
    pngChunk(out, "IEND", {});
    return out;
}

std::vector<uint8_t> ico(const Image& image)
{
    if (!valid(image) || image.width > 256 || image.height > 256)
        return {};
    // The image: a bitmap header of twice the height (colour and mask), the
    // BGRA texels bottom-up, then the 1-bit mask, rows padded to 32 bits.
    Bytes body;
    put32(body, 40);
    put32(body, image.width);
    put32(body, image.height * 2);
    put16(body, 1);
    put16(body, 32);
    for (int i = 0; i < 6; ++i)
        put32(body, 0);
    for (uint32_t row = 0; row < image.height; ++row)
        for (uint32_t x = 0; x < image.width; ++x)
            put32(body, image.at(x, image.height - 1 - row));
    const uint32_t maskRow = (image.width + 31) / 32 * 4;
    for (uint32_t row = 0; row < image.height; ++row) {
        Bytes bits(maskRow, 0);
        for (uint32_t x = 0; x < image.width; ++x)
            if ((image.at(x, image.height - 1 - row) >> 24) == 0)
                bits[x / 8] |= uint8_t(0x80 >> (x % 8));
        body.insert(body.end(), bits.begin(), bits.end());
    }

    Bytes b;
    put16(b, 0);
    put16(b, 1); // an icon
    put16(b, 1); // one image
    b.push_back(uint8_t(image.width & 0xFF)); // 0 stands for 256
    b.push_back(uint8_t(image.height & 0xFF));
    b.push_back(0);
    b.push_back(0);
    put16(b, 1);
    put16(b, 32);
    put32(b, uint32_t(body.size()));
    put32(b, 6 + 16);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

}
