#include "MenuSamples.h"

#include "ImageFileWriter.h"
#include "SoundSamples.h"

#include <algorithm>
#include <cmath>

namespace MenuSamples {

namespace {

constexpr double pi = 3.14159265358979323846;

uint32_t argb(double r, double g, double b, double a = 1.0)
{
    const auto byte = [](double v) { return uint32_t(std::clamp(v, 0.0, 1.0) * 255.0 + 0.5); };
    return byte(a) << 24 | byte(r) << 16 | byte(g) << 8 | byte(b);
}

// A page of the intro: a sky over a hilly horizon in the page's colours,
// with a sun and a winding track towards it.
ImageFileWriter::Image introPage(int index)
{
    ImageFileWriter::Image image{introSide, introSide, {}};
    image.argb.resize(size_t(introSide) * introSide);
    const double hues[3][3] = {{0.95, 0.55, 0.20}, {0.25, 0.55, 0.95}, {0.85, 0.25, 0.35}};
    const double* sky = hues[index % 3];
    for (uint32_t y = 0; y < introSide; ++y) {
        for (uint32_t x = 0; x < introSide; ++x) {
            const double u = double(x) / introSide;
            const double v = double(y) / introSide;
            const double horizon = 0.62 + 0.05 * std::sin(u * pi * (3.0 + index)) + 0.03 * std::sin(u * 17.0);
            double r, g, b;
            if (v < horizon) {
                const double t = v / horizon;
                r = sky[0] * (0.4 + 0.6 * t);
                g = sky[1] * (0.4 + 0.6 * t);
                b = sky[2] * (0.5 + 0.5 * t);
                const double dx = u - 0.5, dy = v - (horizon - 0.12);
                const double sun = std::exp(-(dx * dx + dy * dy) * 160.0);
                r += sun;
                g += sun * 0.9;
                b += sun * 0.6;
            } else {
                const double t = (v - horizon) / (1.0 - horizon);
                // The track narrows and winds towards the horizon.
                const double centre = 0.5 + 0.15 * std::sin(t * 5.0 + index) * (1.0 - t);
                const double half = 0.02 + 0.25 * t;
                const bool track = std::fabs(u - centre) < half;
                const bool stripe = track && std::fabs(u - centre) < half * 0.05 && std::fmod(t * 12.0, 1.0) < 0.5;
                r = track ? (stripe ? 0.95 : 0.45) : 0.15 + 0.1 * t;
                g = track ? (stripe ? 0.95 : 0.35) : 0.35 + 0.2 * t;
                b = track ? (stripe ? 0.90 : 0.25) : 0.10;
            }
            image.argb[size_t(y) * introSide + x] = argb(r, g, b);
        }
    }
    return image;
}

}

// The logo: a round badge with a ring, a wheel in its middle and a clear
// outside. The menu shows it stretched over its top left corner, and the
// lists of the map choice and the game mode start a little above the square's
// lower edge: the badge stands in the upper part of the square, its lowest
// row at lowestLogoShare of the side.
ImageFileWriter::Image logo()
{
    constexpr double radius = 0.38, centreX = 0.42, centreY = lowestLogoShare - radius - 0.01;
    ImageFileWriter::Image image{logoSide, logoSide, {}};
    image.argb.resize(size_t(logoSide) * logoSide);
    for (uint32_t y = 0; y < logoSide; ++y) {
        for (uint32_t x = 0; x < logoSide; ++x) {
            const double dx = ((double(x) + 0.5) / logoSide - centreX) / radius;
            const double dy = ((double(y) + 0.5) / logoSide - centreY) / radius;
            const double d = std::sqrt(dx * dx + dy * dy);
            const double angle = std::atan2(dy, dx);
            uint32_t c = 0;
            if (d < 0.98) {
                const bool ring = d > 0.82;
                const bool tyre = d > 0.38 && d < 0.55;
                const bool spoke = d < 0.38 && std::fabs(std::sin(angle * 3.0)) < 0.18;
                if (ring)
                    c = argb(1.0, 0.04, 0.13);
                else if (tyre)
                    c = argb(0.1, 0.1, 0.1);
                else if (spoke || d < 0.08)
                    c = argb(0.85, 0.85, 0.85);
                else
                    c = argb(0.98, 0.82, 0.05, 0.9);
            }
            image.argb[size_t(y) * logoSide + x] = c;
        }
    }
    return image;
}

MenuFileWriter::Menu sample()
{
    MenuFileWriter::Menu menu;
    const SoundSamples::Pcm sounds[4] = {SoundSamples::click(), SoundSamples::chime(), SoundSamples::click(),
                                         SoundSamples::tone(0.15, 1)};
    for (int i = 0; i < 4; ++i) {
        menu.sounds[i].type = 1;
        menu.sounds[i].file = SoundSamples::wav(sounds[i]);
    }
    for (int i = 0; i < 3; ++i) {
        menu.pages[i].present = true;
        menu.pages[i].image = ImageFileWriter::bmp(introPage(i));
    }
    menu.main = true;
    menu.quadPackage = "Quad";
    menu.chooseMap = true;
    menu.gameMode = true;
    menu.logo = ImageFileWriter::png(logo());
    return menu;
}

bool save(const String& root)
{
    return MenuFileWriter::save(sample(), root + L"Data\\Menu\\Menu.mnu");
}

}
