// A fast DXT3 encoder: the colour ends are the block's extremes along its
// principal axis, each texel takes the nearest of the four colours.
#include "Core/BlockCompression.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace BlockCompression
{
namespace {

uint16_t toR5G6B5(int32_t r, int32_t g, int32_t b)
{
    return uint16_t((((r * 31 + 127) / 255) << 11) | (((g * 63 + 127) / 255) << 5) | ((b * 31 + 127) / 255));
}

void fromR5G6B5(uint16_t c, int32_t rgb[3])
{
    const int32_t r = (c >> 11) & 31, g = (c >> 5) & 63, b = c & 31;
    rgb[0] = (r << 3) | (r >> 2);
    rgb[1] = (g << 2) | (g >> 4);
    rgb[2] = (b << 3) | (b >> 2);
}

void encodeColour(const uint32_t texels[16], uint8_t out[8])
{
    int32_t rgb[16][3];
    float mean[3] = {0.0f, 0.0f, 0.0f};
    for (int32_t i = 0; i < 16; ++i) {
        rgb[i][0] = int32_t((texels[i] >> 16) & 0xFF);
        rgb[i][1] = int32_t((texels[i] >> 8) & 0xFF);
        rgb[i][2] = int32_t(texels[i] & 0xFF);
        for (int32_t c = 0; c < 3; ++c)
            mean[c] += float(rgb[i][c]);
    }
    for (float& m : mean)
        m /= 16.0f;
    // The covariance, and its principal axis by a few power steps.
    float cov[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    for (const auto& t : rgb) {
        const float r = float(t[0]) - mean[0], g = float(t[1]) - mean[1], b = float(t[2]) - mean[2];
        cov[0] += r * r;
        cov[1] += r * g;
        cov[2] += r * b;
        cov[3] += g * g;
        cov[4] += g * b;
        cov[5] += b * b;
    }
    // Starting from the covariance's longest row, which no principal axis is
    // square to (a fixed start such as grey is, for red against blue).
    const float rows[3][3] = {{cov[0], cov[1], cov[2]}, {cov[1], cov[3], cov[4]}, {cov[2], cov[4], cov[5]}};
    float axis[3] = {1.0f, 1.0f, 1.0f};
    float longest = 0.0f;
    for (const auto& row : rows) {
        const float length = row[0] * row[0] + row[1] * row[1] + row[2] * row[2];
        if (length > longest) {
            longest = length;
            axis[0] = row[0];
            axis[1] = row[1];
            axis[2] = row[2];
        }
    }
    for (int32_t step = 0; step < 6; ++step) {
        const float x = cov[0] * axis[0] + cov[1] * axis[1] + cov[2] * axis[2];
        const float y = cov[1] * axis[0] + cov[3] * axis[1] + cov[4] * axis[2];
        const float z = cov[2] * axis[0] + cov[4] * axis[1] + cov[5] * axis[2];
        const float length = std::max(std::fabs(x), std::max(std::fabs(y), std::fabs(z)));
        if (!(length > 1e-6f))
            break;
        axis[0] = x / length;
        axis[1] = y / length;
        axis[2] = z / length;
    }
    int32_t low = 0, high = 0;
    float lowest = 0.0f, highest = 0.0f;
    for (int32_t i = 0; i < 16; ++i) {
        const float d = float(rgb[i][0]) * axis[0] + float(rgb[i][1]) * axis[1] + float(rgb[i][2]) * axis[2];
        if (i == 0 || d < lowest) {
            lowest = d;
            low = i;
        }
        if (i == 0 || d > highest) {
            highest = d;
            high = i;
        }
    }
    uint16_t c0 = toR5G6B5(rgb[high][0], rgb[high][1], rgb[high][2]);
    uint16_t c1 = toR5G6B5(rgb[low][0], rgb[low][1], rgb[low][2]);
    // The first end the larger, so that every reader takes four colours.
    if (c0 < c1)
        std::swap(c0, c1);
    uint32_t indices = 0;
    if (c0 != c1) {
        int32_t palette[4][3];
        fromR5G6B5(c0, palette[0]);
        fromR5G6B5(c1, palette[1]);
        for (int32_t c = 0; c < 3; ++c) {
            palette[2][c] = (2 * palette[0][c] + palette[1][c]) / 3;
            palette[3][c] = (palette[0][c] + 2 * palette[1][c]) / 3;
        }
        for (int32_t i = 0; i < 16; ++i) {
            int32_t best = 0, bestDistance = 0;
            for (int32_t p = 0; p < 4; ++p) {
                const int32_t dr = rgb[i][0] - palette[p][0], dg = rgb[i][1] - palette[p][1],
                              db = rgb[i][2] - palette[p][2];
                const int32_t distance = dr * dr + dg * dg + db * db;
                if (p == 0 || distance < bestDistance) {
                    best = p;
                    bestDistance = distance;
                }
            }
            indices |= uint32_t(best) << (2 * i);
        }
    }
    out[0] = uint8_t(c0);
    out[1] = uint8_t(c0 >> 8);
    out[2] = uint8_t(c1);
    out[3] = uint8_t(c1 >> 8);
    for (int32_t i = 0; i < 4; ++i)
        out[4 + i] = uint8_t(indices >> (8 * i));
}

} // namespace

void encodeDxt3Block(const uint32_t texels[16], uint8_t block[dxt3BlockBytes])
{
    for (int32_t i = 0; i < 8; ++i) {
        const uint32_t a0 = texels[2 * i] >> 24, a1 = texels[2 * i + 1] >> 24;
        block[i] = uint8_t(((a0 * 15 + 127) / 255) | (((a1 * 15 + 127) / 255) << 4));
    }
    encodeColour(texels, block + 8);
}

bool encodeDxt3(const uint8_t* texels, int32_t pitch, uint32_t width, uint32_t height, uint8_t* blocks,
                int32_t blockPitch)
{
    if (!texels || !blocks || width == 0 || height == 0)
        return false;
    uint32_t block[16];
    for (uint32_t by = 0; by < (height + 3) / 4; ++by) {
        uint8_t* out = blocks + ptrdiff_t(by) * blockPitch;
        for (uint32_t bx = 0; bx < (width + 3) / 4; ++bx, out += dxt3BlockBytes) {
            for (uint32_t y = 0; y < 4; ++y) {
                const uint8_t* row = texels + ptrdiff_t(std::min(by * 4 + y, height - 1)) * pitch;
                for (uint32_t x = 0; x < 4; ++x)
                    std::memcpy(&block[y * 4 + x], row + size_t(std::min(bx * 4 + x, width - 1)) * 4, 4);
            }
            encodeDxt3Block(block, out);
        }
    }
    return true;
}

} // namespace BlockCompression
