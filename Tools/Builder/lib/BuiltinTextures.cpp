#include "BuiltinTextures.h"

#include <algorithm>
#include <cmath>

namespace BuiltinTextures {

namespace {

using ImageFileWriter::Image;

uint8_t byte(double v)
{
    return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
}

uint32_t argb(double a, double r, double g, double b)
{
    return uint32_t(byte(a)) << 24 | uint32_t(byte(r)) << 16 | uint32_t(byte(g)) << 8 | byte(b);
}

// Distance of a texel centre from the image centre, 1 at the edge's middle.
double radius(uint32_t x, uint32_t y)
{
    const double h = side / 2.0;
    const double dx = (x + 0.5 - h) / h;
    const double dy = (y + 0.5 - h) / h;
    return std::sqrt(dx * dx + dy * dy);
}

// Smooth value noise from a fixed hash: the same image on every build.
double hash(int x, int y)
{
    uint32_t n = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u;
    n = (n << 13) ^ n;
    return double((n * (n * n * 15731u + 789221u) + 1376312589u) & 0x7FFFFFFFu) / double(0x7FFFFFFF);
}

double noise(double x, double y)
{
    const int x0 = int(std::floor(x)), y0 = int(std::floor(y));
    const double fx = x - x0, fy = y - y0;
    const double sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const double top = hash(x0, y0) + (hash(x0 + 1, y0) - hash(x0, y0)) * sx;
    const double bottom = hash(x0, y0 + 1) + (hash(x0 + 1, y0 + 1) - hash(x0, y0 + 1)) * sx;
    return top + (bottom - top) * sy;
}

template <class F>
Image make(F texel)
{
    Image image;
    image.width = side;
    image.height = side;
    for (uint32_t y = 0; y < side; ++y)
        for (uint32_t x = 0; x < side; ++x)
            image.argb.push_back(texel(x, y));
    return image;
}

}

Image lensflare()
{
    // A bright core with a faint ring, white toward the centre. The flares
    // add the colour to the frame, so the shape is in the colour as well
    // as in the alpha: black where nothing shines.
    return make([](uint32_t x, uint32_t y) {
        const double r = radius(x, y);
        const double core = std::pow(std::max(0.0, 1.0 - r), 3.0);
        const double ring = 0.35 * std::exp(-std::pow((r - 0.72) / 0.05, 2.0));
        const double a = std::min(1.0, core + ring);
        return argb(a, a, a * (0.95 + 0.05 * core), a * (0.8 + 0.2 * core));
    });
}

Image fire()
{
    // A flame: wide and hot at the bottom, narrowing and reddening upward.
    // The fires take their alpha from the red channel, so the flame's shape
    // is in its colour too: black where it does not burn.
    return make([](uint32_t x, uint32_t y) {
        const double v = 1.0 - (y + 0.5) / side; // 0 at the bottom row, 1 at the top
        const double u = ((x + 0.5) / side - 0.5) * 2.0;
        const double width = 0.85 * (1.0 - v) + 0.1;
        const double flicker = 0.8 + 0.4 * noise(x / 6.0, y / 4.0);
        const double body = std::max(0.0, 1.0 - std::fabs(u) / width) * flicker * (1.0 - v * 0.6);
        const double heat = std::min(1.0, body * 1.4);
        const double shape = std::min(1.0, body * 1.2);
        return argb(shape, shape, shape * (0.25 + 0.75 * heat), shape * 0.1 * heat * heat);
    });
}

Image smoke()
{
    // A soft grey puff with cloudy density.
    return make([](uint32_t x, uint32_t y) {
        const double r = radius(x, y);
        const double density = noise(x / 8.0, y / 8.0) * 0.6 + noise(x / 4.0 + 17, y / 4.0 + 5) * 0.4;
        const double a = std::max(0.0, 1.0 - r) * (0.4 + 0.6 * density);
        const double grey = 0.55 + 0.25 * density;
        return argb(a, grey, grey, grey);
    });
}

Image light()
{
    // A round light falling off smoothly to the edge, in the red channel
    // (and in green and blue, so the bitmap reads as grey).
    return make([](uint32_t x, uint32_t y) {
        const double r = radius(x, y);
        const double t = std::max(0.0, 1.0 - r);
        const double v = t * t * (3 - 2 * t);
        return argb(1.0, v, v, v);
    });
}

Image icon()
{
    constexpr uint32_t size = 32;
    Image image;
    image.width = size;
    image.height = size;
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            const double dx = x + 0.5 - size / 2.0, dy = y + 0.5 - size / 2.0;
            // A tile with rounded corners.
            const double cx = std::max(0.0, std::fabs(dx) - 11.0), cy = std::max(0.0, std::fabs(dy) - 11.0);
            const double tile = std::clamp(5.5 - std::sqrt(cx * cx + cy * cy), 0.0, 1.0);
            // A knobbly tyre around a silver rim and a dark hub.
            const double r = std::sqrt(dx * dx + dy * dy);
            const double knobs = 0.4 * std::cos(18.0 * std::atan2(dy, dx));
            const double tyre = std::clamp(12.5 + knobs - r, 0.0, 1.0) * std::clamp(r - 7.0, 0.0, 1.0);
            const double rim = std::clamp(7.0 - r, 0.0, 1.0) * std::clamp(r - 2.5, 0.0, 1.0);
            const double hub = std::clamp(2.5 - r, 0.0, 1.0);
            const double shade = 1.0 - 0.25 * (y + 0.5) / size; // lit from above
            double red = 0.93 * shade, green = 0.45 * shade, blue = 0.1 * shade;
            auto over = [&](double amount, double rr, double gg, double bb) {
                red += (rr - red) * amount;
                green += (gg - green) * amount;
                blue += (bb - blue) * amount;
            };
            over(tyre, 0.12, 0.12, 0.13);
            over(rim, 0.82, 0.84, 0.86);
            over(hub, 0.25, 0.25, 0.27);
            image.argb.push_back(argb(tile, red, green, blue));
        }
    return image;
}

std::vector<File> files()
{
    Image cube[6];
    levelEditorCubemap(cube);
    return {
        {L"Lensflare01.dds", ImageFileWriter::dds(lensflare())},
        {L"Fire01.dds", ImageFileWriter::dds(fire())},
        {L"Smoke01.dds", ImageFileWriter::dds(smoke())},
        {L"DefLight.bmp", ImageFileWriter::bmp(light())},
        {L"Korvanta.ico", ImageFileWriter::ico(icon())},
        {L"LevelEditorCubemap.dds", ImageFileWriter::ddsCube(cube)},
    };
}

}
