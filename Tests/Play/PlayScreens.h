#pragma once
// What the play tests know of the screens they pass, from the generated data:
// each screen is told by the colours of regions of the window, never by the
// shapes of glyphs.
#include "PlayRun.h"

#include <cstdlib>

namespace Play::Screens {

inline int red(uint32_t p) { return int(p >> 16 & 0xFF); }
inline int green(uint32_t p) { return int(p >> 8 & 0xFF); }
inline int blue(uint32_t p) { return int(p & 0xFF); }

// The first intro page: a square of the window's height in its middle, an
// orange sky over a dark green horizon; black beside it.
inline bool intro(const Frame& f)
{
    const float side = float(f.height) / float(f.width);
    const float left = 0.5f - side / 2.0f;
    const auto orange = [](uint32_t p) { return red(p) > blue(p) + 60 && red(p) > 90; };
    return f.share(left + side * 0.1f, 0.25f, left + side * 0.35f, 0.5f, orange) > 0.8f &&
           f.mean(0.0f, 0.0f, left * 0.8f, 1.0f).brightness() < 20.0f;
}

// Light text: white or light grey.
inline bool light(uint32_t p)
{
    return red(p) > 140 && green(p) > 140 && blue(p) > 140;
}

// Text somewhere on the window.
inline bool hasText(const Frame& f)
{
    return f.share(0.0f, 0.0f, 1.0f, 1.0f, light) > 0.0005f;
}

// A menu over the black backdrop: mostly dark, with text.
inline bool darkMenu(const Frame& f)
{
    return !intro(f) && hasText(f) && f.mean(0.0f, 0.0f, 1.0f, 1.0f).brightness() < 60.0f;
}

// The menu's logo in the top left corner: yellow rings inside a red one.
inline bool logo(const Frame& f)
{
    const auto yellow = [](uint32_t p) { return red(p) > 200 && green(p) > 160 && blue(p) < 90; };
    return f.share(0.01f, 0.01f, 0.15f, 0.2f, yellow) > 0.15f;
}

// The showroom's quad turning on the right of the main screen (red and pink).
inline bool showroomQuad(const Frame& f)
{
    const auto quad = [](uint32_t p) { return red(p) > 120 && red(p) > green(p) + 60; };
    return f.share(0.5f, 0.25f, 0.98f, 0.8f, quad) > 0.005f;
}

// The language screen: a dark menu without the logo (it comes before the
// main screen), its title in the top middle.
inline bool language(const Frame& f)
{
    return darkMenu(f) && !logo(f) && f.mean(0.0f, 0.0f, 0.15f, 0.2f).brightness() < 10.0f &&
           f.share(0.33f, 0.05f, 0.67f, 0.14f, light) > 0.03f;
}

// The pause over the race's dimmed, blurred still: dark where the race's
// sky was, its title and buttons in the middle.
inline bool pause(const Frame& f)
{
    return !logo(f) && f.mean(0.0f, 0.0f, 1.0f, 1.0f).brightness() < 70.0f &&
           f.share(0.35f, 0.15f, 0.65f, 0.6f, light) > 0.01f;
}

inline bool mainScreen(const Frame& f)
{
    return darkMenu(f) && logo(f) && showroomQuad(f);
}

// The map picture of the map choice: the sprint's blue sky, bright when
// its kind is chosen, dimmed otherwise.
inline bool mapPicture(const Frame& f)
{
    const auto sky = [](uint32_t p) { return blue(p) > red(p) + 30 && blue(p) > 70; };
    return f.share(0.3f, 0.25f, 0.8f, 0.7f, sky) > 0.01f;
}

inline bool chooseMap(const Frame& f)
{
    return darkMenu(f) && logo(f) && !showroomQuad(f) && mapPicture(f);
}

inline bool gameMode(const Frame& f)
{
    return darkMenu(f) && logo(f) && !showroomQuad(f) && !mapPicture(f);
}

// The loading ring: red and grey in the middle of a black window.
inline bool loading(const Frame& f)
{
    const auto ring = [](uint32_t p) { return red(p) > 180 && green(p) < 80 && blue(p) < 80; };
    return f.share(0.4f, 0.35f, 0.6f, 0.65f, ring) > 0.03f && f.mean(0.0f, 0.0f, 0.3f, 0.3f).brightness() < 10.0f;
}

// Grey panels of the head-up display and the preview.
inline bool panelGrey(uint32_t p)
{
    return red(p) > 80 && std::abs(red(p) - green(p)) < 12 && std::abs(green(p) - blue(p)) < 12;
}

// The map preview: the map's name on a wide grey banner across the top
// (see-through, so a little tinted by the sky behind it).
inline bool preview(const Frame& f)
{
    const auto banner = [](uint32_t p) {
        return red(p) > 90 && std::abs(red(p) - green(p)) < 25 && std::abs(green(p) - blue(p)) < 25;
    };
    return f.share(0.1f, 0.06f, 0.3f, 0.1f, banner) > 0.6f && f.share(0.7f, 0.06f, 0.9f, 0.1f, banner) > 0.6f;
}

}

namespace Play::Screens {

// The race with its head-up display: the lap's white text in its box at the
// top middle and the speed's at the bottom right, over a picture that is not
// all light. The ground, sky and light of the map and its daytime, and the
// battle items' icons, do not matter.
inline bool race(const Frame& f)
{
    const auto white = [](uint32_t p) { return red(p) > 220 && green(p) > 220 && blue(p) > 220; };
    // The display keeps its size in pixels, so the regions are wide enough for
    // small windows too.
    return f.share(0.35f, 0.03f, 0.65f, 0.17f, white) > 0.025f && f.share(0.65f, 0.84f, 0.97f, 0.97f, white) > 0.015f &&
           f.mean(0.3f, 0.4f, 0.7f, 0.6f).brightness() < 180.0f;
}

// The head-up display's speed: light digits in the bottom right corner of
// the race.
inline bool showsSpeed(const Frame& f)
{
    return race(f) && f.share(0.8f, 0.9f, 0.97f, 0.97f, light) > 0.02f;
}

}
