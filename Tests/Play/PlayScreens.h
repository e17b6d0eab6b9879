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

inline bool race(const Frame& f);

// The pause over the race's dimmed, blurred still: dark where the race's
// sky was, its title and buttons in the middle, and no head-up display (a
// race at sunset is as dark).
inline bool pause(const Frame& f)
{
    return !logo(f) && !race(f) && f.mean(0.0f, 0.0f, 1.0f, 1.0f).brightness() < 70.0f &&
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

namespace Play::Screens {

// Light text in most of the rows of a column given in pixels (the settings
// screens place their rows in pixels, whatever the window's size).
inline int rowsWithText(const Frame& f, int left, int right, int firstY, int step, int rows)
{
    int found = 0;
    for (int r = 0; r < rows; ++r) {
        const int y = firstY + r * step;
        if (right > f.width || y + 16 > f.height)
            break;
        found += f.share(float(left) / float(f.width), float(y) / float(f.height), float(right) / float(f.width),
                         float(y + 16) / float(f.height), light) > 0.01f
                     ? 1
                     : 0;
    }
    return found;
}

// The control screen (from the pause or the settings): the fifteen actions'
// labels in a column at x 350 and their keyboard keys in one at x 600, row
// below row from y 200.
inline bool controlScreen(const Frame& f)
{
    const int step = (f.height - 225) / 15;
    return step > 0 && rowsWithText(f, 350, 560, 200, step, 15) >= 10 && rowsWithText(f, 600, 760, 200, step, 15) >= 10;
}

// The control and graphics screens opened from the pause: over its dark
// blurred still, without the menu's logo, with text beside the middle where
// the pause has none (the control screen's keys on the right, the graphics
// screen's rows on the left).
inline bool settingsOverPause(const Frame& f)
{
    return !logo(f) && !race(f) && f.mean(0.0f, 0.0f, 1.0f, 1.0f).brightness() < 70.0f &&
           (controlScreen(f) || f.share(0.08f, 0.3f, 0.3f, 0.9f, light) > 0.005f);
}

// The results: translucent green bars, one a row, over the race's blurred
// still, without the head-up display.
inline bool results(const Frame& f)
{
    const auto bar = [](uint32_t p) { return green(p) > red(p) + 30 && green(p) > blue(p) + 30; };
    return !race(f) && f.share(0.2f, 0.3f, 0.8f, 0.7f, bar) > 0.3f;
}

}

namespace Play::Screens {

// The pause's buttons stand at 5/12, 6/12 ... of the height, one a row; the
// row of the focus is drawn in its pulsing colour (green to yellow), the
// others white. The number of rows (four, five in a championship) and the
// focus's row (-1 while none is seen).
inline int pauseRows(const Frame& f)
{
    const auto text = [](uint32_t p) { return green(p) > 140 && (red(p) > 140 || blue(p) < 110); };
    int rows = 0;
    for (int row = 0; row < 5; ++row) {
        const float top = float(5 + row) / 12.0f - 0.01f;
        if (f.share(0.3f, top, 0.7f, top + 0.055f, text) > 0.01f)
            rows = row + 1;
    }
    return rows;
}

inline int pauseFocus(const Frame& f)
{
    const auto coloured = [](uint32_t p) { return green(p) > 140 && blue(p) < 110; };
    for (int row = 0; row < 5; ++row) {
        const float top = float(5 + row) / 12.0f - 0.01f;
        if (f.share(0.3f, top, 0.7f, top + 0.055f, coloured) > 0.005f)
            return row;
    }
    return -1;
}

// The country choice: the carousel's middle picture (the sprint's map, its
// blue sky) right of the middle, under the logo.
inline bool chooseCountry(const Frame& f)
{
    const auto sky = [](uint32_t p) { return blue(p) > red(p) + 30 && blue(p) > 70; };
    return darkMenu(f) && logo(f) && !showroomQuad(f) && f.share(0.47f, 0.33f, 0.72f, 0.54f, sky) > 0.1f;
}

}
