// The built-in environment cube map "LevelEditorCubemap".
#include "BuiltinTextures.h"

#include <algorithm>
#include <cmath>

namespace BuiltinTextures {

namespace {

uint32_t argb(double r, double g, double b)
{
    const auto byte = [](double v) { return uint32_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
    return 0xFF000000u | byte(r) << 16 | byte(g) << 8 | byte(b);
}

double mix(double a, double b, double t)
{
    return a + (b - a) * t;
}

// Sky overhead to a pale horizon, then a green-brown plain darkening below.
uint32_t environment(const double (&d)[3])
{
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    const double height = length > 0.0 ? d[1] / length : 0.0; // sine of the elevation
    if (height >= 0.0) {
        const double t = std::pow(height, 0.45);
        return argb(mix(0.78, 0.25, t), mix(0.85, 0.45, t), mix(0.92, 0.85, t));
    }
    const double t = std::pow(-height, 0.6);
    return argb(mix(0.55, 0.24, t), mix(0.55, 0.30, t), mix(0.45, 0.16, t));
}

// The world direction (not normalised) through the centre of texel (x, y)
// of face f of a cube map of side texels.
void cubeDirection(uint32_t face, uint32_t x, uint32_t y, uint32_t side, double (&direction)[3])
{
    const double u = 2.0 * (x + 0.5) / side - 1.0;
    const double v = 2.0 * (y + 0.5) / side - 1.0;
    const double table[6][3] = {
        {1.0, -v, -u}, {-1.0, -v, u}, {u, 1.0, v}, {u, -1.0, -v}, {u, -v, 1.0}, {-u, -v, -1.0},
    };
    const uint32_t f = face < 6 ? face : 0;
    for (int i = 0; i < 3; ++i)
        direction[i] = table[f][i];
}

}

void levelEditorCubemap(ImageFileWriter::Image (&faces)[6])
{
    for (uint32_t f = 0; f < 6; ++f) {
        ImageFileWriter::Image& image = faces[f];
        image.width = cubeSide;
        image.height = cubeSide;
        image.argb.clear();
        image.argb.reserve(size_t(cubeSide) * cubeSide);
        for (uint32_t y = 0; y < cubeSide; ++y)
            for (uint32_t x = 0; x < cubeSide; ++x) {
                double d[3];
                cubeDirection(f, x, y, cubeSide, d);
                image.argb.push_back(environment(d));
            }
    }
}

}
