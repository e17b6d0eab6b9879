#include "Core/Paint.h"

#include "Core/DynArray.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace
{
uint8_t mixByte(uint32_t source, uint32_t own, uint32_t a)
{
    return uint8_t((source * a + own * (255 - a)) / 255);
}

// Weighted mix of a side colour and the ring colour, t from 0 (side) to 255 (ring).
Color ringMix(Color side, Color ring, uint32_t t)
{
    return Color(mixByte(ring.r, side.r, t), mixByte(ring.g, side.g, t), mixByte(ring.b, side.b, t),
                 mixByte(ring.a, side.a, t));
}
}

void Paint::blend(const surface2d<Color>& source, int32_t ox, int32_t oy)
{
    if (!source.columns)
        return;
    const int32_t shiftX = ox < 0 ? -ox : 0;
    const int32_t shiftY = oy < 0 ? -oy : 0;
    const int32_t ownWidth = columns ? width : 0;
    const int32_t ownHeight = columns ? height : 0;
    const int64_t neededWidth = std::max<int64_t>(int64_t(source.width) + ox, ownWidth) + shiftX;
    const int64_t neededHeight = std::max<int64_t>(int64_t(source.height) + oy, ownHeight) + shiftY;
    if (neededWidth > maxSide || neededHeight > maxSide)
        return;
    if (!columns || neededWidth != width || neededHeight != height) {
        surface2d<Color> grown(int32_t(neededWidth), int32_t(neededHeight), true);
        if (!grown.columns)
            return;
        for (int32_t x = 0; x < ownWidth; ++x)
            for (int32_t y = 0; y < ownHeight; ++y)
                grown.columns[x + shiftX][y + shiftY] = columns[x][y];
        surface2d<Color>::operator=(std::move(grown));
    }
    const int32_t baseX = ox + shiftX;
    const int32_t baseY = oy + shiftY;
    for (int32_t x = 0; x < source.width; ++x) {
        for (int32_t y = 0; y < source.height; ++y) {
            const Color s = source.columns[x][y];
            Color& d = columns[x + baseX][y + baseY];
            d = Color(mixByte(s.r, d.r, s.a), mixByte(s.g, d.g, s.a), mixByte(s.b, d.b, s.a), mixByte(s.a, d.a, s.a));
        }
    }
}

void Paint::drawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Color line, Color background)
{
    if (y1 < y0) {
        std::swap(x0, x1);
        std::swap(y0, y1);
    }
    const int64_t w = std::llabs(int64_t(x1) - x0) + 1;
    const int64_t h = int64_t(y1) - y0 + 1;
    if (w > maxSide || h > maxSide || !resize(int32_t(w), int32_t(h)))
        return;
    fill(background);
    const int32_t left = std::min(x0, x1);
    int32_t x = x0 - left;
    int32_t y = 0;
    const int32_t endX = x1 - left;
    const int32_t endY = y1 - y0;
    const int32_t dx = std::abs(endX - x);
    const int32_t dy = endY;
    const int32_t stepX = endX >= x ? 1 : -1;
    int32_t error = dx - dy;
    for (;;) {
        columns[x][y] = line;
        if (x == endX && y == endY)
            break;
        const int32_t e2 = 2 * error;
        if (e2 > -dy) {
            error -= dy;
            x += stepX;
        }
        if (e2 < dx) {
            error += dx;
            y += 1;
        }
    }
}

void Paint::drawOutline4(const intvec2d p[4], Color color)
{
    drawOutline4(p, color, Color::fromArgb(0x00FFFFFFu));
}

void Paint::drawOutline4(const intvec2d p[4], Color color, Color clear)
{
    // Where the original origin now lies, after growth to the left or up.
    int32_t originX = 0;
    int32_t originY = 0;
    for (int i = 0; i < 4; ++i) {
        const intvec2d& a = p[i];
        const intvec2d& b = p[(i + 1) % 4];
        Paint edge;
        edge.drawLine(a.x, a.y, b.x, b.y, color, clear);
        const int32_t ox = std::min(a.x, b.x) + originX;
        const int32_t oy = std::min(a.y, b.y) + originY;
        blend(edge, ox, oy);
        if (ox < 0)
            originX -= ox;
        if (oy < 0)
            originY -= oy;
    }
}

void Paint::floodFill(int32_t x, int32_t y, Color color)
{
    floodFill(x, y, color, color);
}

void Paint::floodFill(int32_t x, int32_t y, Color color, Color border)
{
    if (!contains(x, y))
        return;
    DynArray<intvec2d> stack(1024);
    int32_t top = 0;
    intvec2d* first = stack.at(top);
    if (!first)
        return;
    *first = intvec2d{x, y};
    ++top;
    while (top > 0) {
        const intvec2d p = stack.data()[--top];
        if (!contains(p.x, p.y) || columns[p.x][p.y] == color || columns[p.x][p.y] == border)
            continue;
        columns[p.x][p.y] = color;
        const intvec2d next[4] = {{p.x, p.y + 1}, {p.x, p.y - 1}, {p.x + 1, p.y}, {p.x - 1, p.y}};
        for (const intvec2d& n : next) {
            intvec2d* slot = stack.at(top);
            if (!slot)
                return; // out of memory: stop filling, the image stays valid
            *slot = n;
            ++top;
        }
    }
}

void Paint::drawDisc(Color ring, Color inner, Color outer, float radius, float halfWidth, float border)
{
    const float reach = radius + border;
    if (!(reach >= 0.0f) || reach > float(maxSide / 2 - 1))
        return;
    const int32_t centre = int32_t(reach);
    if (!resize(2 * centre + 1, 2 * centre + 1))
        return;
    const float innerLimit = std::max(radius - halfWidth, 0.0f);
    const float outerLimit = radius + halfWidth;
    for (int32_t x = 0; x < width; ++x) {
        for (int32_t y = 0; y < height; ++y) {
            const float dx = float(x - centre);
            const float dy = float(y - centre);
            const float d2 = dx * dx + dy * dy;
            Color& pixel = columns[x][y];
            if (d2 > outerLimit * outerLimit) {
                pixel = outer;
            } else if (d2 < innerLimit * innerLimit) {
                pixel = inner;
            } else {
                // Full ring colour on the radius, fading linearly to the limits.
                const float d = std::sqrt(d2);
                const float off = std::fabs(d - radius);
                const float share = halfWidth > 0.0f ? 1.0f - off / halfWidth : 1.0f;
                const uint32_t t = uint32_t(std::lround(std::clamp(share, 0.0f, 1.0f) * 255.0f));
                pixel = ringMix(d < radius ? inner : outer, ring, t);
            }
        }
    }
}
