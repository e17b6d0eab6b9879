#pragma once
// What the play tests know of the screens they pass, from the generated data:
// each screen is told by the colours of regions of the window, never by the
// shapes of glyphs.
#include "PlayRun.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <vector>

namespace Play::Screens {

inline int red(uint32_t p) { return int(p >> 16 & 0xFF); }
inline int green(uint32_t p) { return int(p >> 8 & 0xFF); }
inline int blue(uint32_t p) { return int(p & 0xFF); }

// The first intro page: a square of the window's height in its middle, an
// orange sky over a dark green horizon; black beside it. The page shows for
// a second of the wall's clock while it fades in frame by frame: a slow
// game draws it faint (a tenth of its colour after a few frames), so any
// warm tint of the sky counts.
inline bool intro(const Frame& f)
{
    const float side = float(f.height) / float(f.width);
    const float left = 0.5f - side / 2.0f;
    const auto orange = [](uint32_t p) { return red(p) > blue(p) + 10; };
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

// The race clock's box of the head-up display ("Time:" and the time, light
// on grey), 15 to 205 pixels from the left, 150 to 177 from the top whatever
// the window's size; the preview has none (battle modes neither).
inline bool raceClock(const Frame& f)
{
    if (f.width < 205 || f.height < 177)
        return false;
    return f.share(15.0f / float(f.width), 150.0f / float(f.height), 205.0f / float(f.width), 177.0f / float(f.height),
                   light) > 0.05f;
}

// A race under way or counting down, its preview closed: a gate post or a
// quad behind the preview's banners can make them pass for no preview at
// all, so the race clock's box must show too.
inline bool countdown(const Frame& f)
{
    return race(f) && !preview(f) && raceClock(f);
}

// The head-up display's speed: light digits in the bottom right corner of
// the race.
inline bool showsSpeed(const Frame& f)
{
    return race(f) && f.share(0.8f, 0.9f, 0.97f, 0.97f, light) > 0.02f;
}

// The sprint's asphalt: grey, neither black nor light; the meadow's greens
// have less blue than green, the kerbs and the quads are coloured.
inline bool asphalt(uint32_t p)
{
    const int high = std::max({red(p), green(p), blue(p)});
    const int low = std::min({red(p), green(p), blue(p)});
    const int mean = (red(p) + green(p) + blue(p)) / 3;
    return high - low <= 14 && mean >= 18 && mean <= 150 && blue(p) + 4 >= green(p);
}

// Where the road lies on one row: the stretch of asphalt, small gaps (dirt,
// a gate's post) bridged, that holds the window's middle or lies nearest to
// it; its ends in pixels, or nothing without a stretch wider than 1/20 of
// the window.
inline std::optional<std::pair<int, int>> roadOnRow(const Frame& f, int y)
{
    const int gap = std::max(4, f.width / 60);
    const int middle = f.width / 2;
    std::optional<std::pair<int, int>> best;
    int bestDistance = 0;
    for (int x = 0; x < f.width;) {
        if (!asphalt(f.pixels[size_t(y) * size_t(f.width) + size_t(x)])) {
            ++x;
            continue;
        }
        const int first = x;
        int last = x;
        for (; x < f.width && x - last <= gap; ++x)
            if (asphalt(f.pixels[size_t(y) * size_t(f.width) + size_t(x)]))
                last = x;
        if (last - first <= f.width / 20)
            continue;
        const int distance = middle < first ? first - middle : middle > last ? middle - last : 0;
        if (!best || distance < bestDistance) {
            best = std::make_pair(first, last);
            bestDistance = distance;
        }
    }
    return best;
}

// Where the asphalt lies across the ground between the display's panels and
// the speed: the mean column of its pixels, as a share of the window's width
// from its middle (positive to the right). A turn that takes the road ahead
// out of sight in one slow frame still leaves its near part at the window's
// edge. Nothing with too little asphalt in sight (off the road).
inline std::optional<float> asphaltCentre(const Frame& f)
{
    if (f.empty())
        return std::nullopt;
    double sum = 0.0;
    size_t count = 0, seen = 0;
    for (int y = int(0.56f * float(f.height)); y < int(0.9f * float(f.height)); y += 2)
        for (int x = 0; x < f.width; x += 2, ++seen)
            if (asphalt(f.pixels[size_t(y) * size_t(f.width) + size_t(x)])) {
                sum += x;
                ++count;
            }
    if (count * 50 < seen)
        return std::nullopt;
    return float(sum / double(count)) / float(f.width) - 0.5f;
}

// Where the road lies a little beyond the player's quad, on rows at half the
// height and just below (above the quad, below the display's panels): the
// offset of its middle from the window's middle as a share of its width,
// positive to the right. The chase view looks along the quad, so the road
// lies to the right when the quad heads left of it or has left its middle to
// the left. Nothing while the rows do not agree on a road (the countdown's
// digits, a quad in the way, off the road).
inline std::optional<float> roadOffset(const Frame& f)
{
    if (f.empty())
        return std::nullopt;
    std::vector<float> offsets;
    for (const float row : {0.50f, 0.52f, 0.54f}) {
        const auto road = roadOnRow(f, int(row * float(f.height)));
        if (!road)
            continue;
        // The road's width on these rows, whatever the window's size; a
        // narrower stretch is asphalt between dust, a wider one the road
        // seen across.
        const float width = float(road->second - road->first);
        if (width < 0.09f * float(f.width) || width > 0.32f * float(f.width))
            continue;
        offsets.push_back((float(road->first + road->second) * 0.5f - float(f.width) * 0.5f) / width);
    }
    if (offsets.size() < 2)
        return std::nullopt;
    std::sort(offsets.begin(), offsets.end());
    if (offsets.back() - offsets.front() > 0.15f)
        return std::nullopt;
    return offsets[offsets.size() / 2];
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

// The results' translucent green bars.
inline bool resultsBar(uint32_t p)
{
    return green(p) > red(p) + 30 && green(p) > blue(p) + 30;
}

// The results: the bars, one a row, over the race's blurred still, without
// the head-up display.
inline bool results(const Frame& f)
{
    return !race(f) && f.share(0.2f, 0.3f, 0.8f, 0.7f, resultsBar) > 0.3f;
}

// The player's line of the results pulses green, yellow and dark grey; the
// others are white. Over the dimmed still the translucent bars stay darker
// than the pulse's green.
inline bool resultsHighlight(uint32_t p)
{
    return green(p) > 200 && blue(p) < 100;
}

// One line of the results' standings as the player reads it.
struct ResultsRow
{
    bool shown = false;
    // Drawn in the pulse of the player's line.
    bool player = false;
    // A race time in the time column, where an unfinished vehicle has a dash:
    // a time has several times the light pixels of the rank ("1.").
    bool timed = false;
};

// The standings' first rows, read from frames of the settled results (the
// player's line in its dark grey step shows no text, so several frames are
// read). The lines stand 60 pixels apart from y 190 whatever the window's
// size; the rank stands near the left edge, the time in the last third. The
// two cells read are as wide.
inline std::vector<ResultsRow> resultsRows(const std::vector<Frame>& frames, int count)
{
    const auto text = [](uint32_t p) { return light(p) || resultsHighlight(p); };
    constexpr float rankLeft = 0.05f, timeLeft = 0.66f, cell = 0.25f;
    std::vector<ResultsRow> rows(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k) {
        ResultsRow& row = rows[size_t(k)];
        float rank = 0.0f, time = 0.0f;
        size_t shown = 0;
        for (const Frame& f : frames) {
            const float top = float(190 + 60 * k) / float(f.height), bottom = float(238 + 60 * k) / float(f.height);
            if (bottom > 1.0f || f.share(0.3f, top, 0.6f, bottom, resultsBar) < 0.5f)
                continue;
            ++shown;
            rank = std::max(rank, f.share(rankLeft, top, rankLeft + cell, bottom, text));
            time = std::max(time, f.share(timeLeft, top, timeLeft + cell, bottom, text));
            const float pulse = f.share(rankLeft, top, rankLeft + cell, bottom, resultsHighlight) +
                                f.share(timeLeft, top, timeLeft + cell, bottom, resultsHighlight);
            row.player = row.player || pulse > 0.002f;
        }
        row.shown = !frames.empty() && shown == frames.size();
        row.timed = rank > 0.0f && time > 2.0f * rank;
    }
    return rows;
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

// The exit question: the menu's logo, its two answers side by side across
// the middle, and neither the showroom nor the main screen's column of
// choices (a showroom quad seen edge on can pass for none).
inline bool exitQuestion(const Frame& f)
{
    return darkMenu(f) && logo(f) && !showroomQuad(f) && f.share(0.3f, 0.45f, 0.7f, 0.55f, light) > 0.005f &&
           f.share(0.04f, 0.55f, 0.3f, 0.85f, light) < 0.001f;
}

// The country choice: the carousel's middle picture (the sprint's map, its
// blue sky) right of the middle, under the logo.
inline bool chooseCountry(const Frame& f)
{
    const auto sky = [](uint32_t p) { return blue(p) > red(p) + 30 && blue(p) > 70; };
    return darkMenu(f) && logo(f) && !showroomQuad(f) && f.share(0.47f, 0.33f, 0.72f, 0.54f, sky) > 0.1f;
}

}

namespace Play::Screens {

// The focus's pulsing colour on the menus: green, yellow, dark green and
// olive, never grey or white.
inline bool focusColour(uint32_t p)
{
    return green(p) > 80 && green(p) > blue(p) + 40;
}

// The game-mode screen's five values (mode, battle items, opponents, laps,
// difficulty) stand one under the other at fixed pixels whatever the
// window's size: x 100 to 290, 87 pixels apart from y 305, 30 high. The
// share of a value's cell given as pixels.
inline float gameModeCell(const Frame& f, int row, const std::function<bool(uint32_t)>& accepts)
{
    const int top = 305 + 87 * row;
    if (f.width < 290 || f.height < top + 30)
        return 0.0f;
    return f.share(100.0f / float(f.width), float(top) / float(f.height), 290.0f / float(f.width),
                   float(top + 30) / float(f.height), accepts);
}

// The row of the value in focus, -1 while none is (the start button).
inline int gameModeFocus(const Frame& f)
{
    for (int row = 0; row < 5; ++row)
        if (gameModeCell(f, row, focusColour) > 0.005f)
            return row;
    return -1;
}

// How much ink a value has: "OFF" has more than "ON", "1" less than "2",
// "CIRCUIT" less than "KNOCKOUT", in focus or not.
inline float gameModeInk(const Frame& f, int row)
{
    return gameModeCell(f, row, [](uint32_t p) { return std::max({red(p), green(p), blue(p)}) > 60; });
}

// How far right a value's ink reaches, in pixels from its left: "OFF"
// reaches further than "ON".
inline int gameModeWidth(const Frame& f, int row)
{
    const int top = 305 + 87 * row;
    int width = 0;
    for (int y = top; y < std::min(top + 30, f.height); ++y)
        for (int x = 100; x < std::min(290, f.width); ++x) {
            const uint32_t p = f.pixels[size_t(y) * size_t(f.width) + size_t(x)];
            if (std::max({red(p), green(p), blue(p)}) > 60)
                width = std::max(width, x - 99);
        }
    return width;
}

// A value drawn in white: a row that can be changed (the time trial greys
// the rows below the mode).
inline bool gameModeWhite(const Frame& f, int row)
{
    return gameModeCell(f, row, [](uint32_t p) { return red(p) > 220 && green(p) > 220 && blue(p) > 220; }) > 0.005f;
}

// The map choice's kinds (off road, race track, rally) stand one under the
// other at fixed pixels, x 100 to 300, 50 pixels apart from y 262, 30 high:
// the one in focus (-1 while none is), and whether the daytime's value, 100
// pixels above the bottom, has the focus (after a kind was confirmed).
inline int mapKindFocus(const Frame& f)
{
    for (int row = 0; row < 3; ++row) {
        const int top = 262 + 50 * row;
        if (f.width >= 300 && f.height >= top + 30 &&
            f.share(100.0f / float(f.width), float(top) / float(f.height), 300.0f / float(f.width),
                    float(top + 30) / float(f.height), focusColour) > 0.005f)
            return row;
    }
    return -1;
}

// The kinds' first row has text (the country choice has none there).
inline bool mapKinds(const Frame& f)
{
    return f.width >= 300 && f.height >= 292 &&
           f.share(100.0f / float(f.width), 262.0f / float(f.height), 300.0f / float(f.width), 292.0f / float(f.height),
                   [](uint32_t p) { return light(p) || focusColour(p); }) > 0.01f;
}

inline bool daytimeFocus(const Frame& f)
{
    return f.width >= 300 && f.height >= 100 &&
           f.share(100.0f / float(f.width), float(f.height - 100) / float(f.height), 300.0f / float(f.width),
                   float(f.height - 64) / float(f.height), focusColour) > 0.005f;
}

// The exit question's answer in focus: 0 Yes (left of the middle), 1 No,
// -1 while neither shows the focus's colour.
inline int exitFocus(const Frame& f)
{
    if (f.share(0.3f, 0.45f, 0.5f, 0.55f, focusColour) > 0.002f)
        return 0;
    if (f.share(0.5f, 0.45f, 0.7f, 0.55f, focusColour) > 0.002f)
        return 1;
    return -1;
}

}
