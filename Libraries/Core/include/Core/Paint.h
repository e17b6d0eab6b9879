#pragma once

#include "Core/Color.h"
#include "Core/Surface2d.h"
#include "Core/Vector.h"

// The software painter: a surface2d<Color> (element (x, y) is column x, row y)
// with operations to blend other images onto it, draw lines and four-sided
// outlines, boundary-fill regions and paint soft-edged rings. All operations
// work on whole pixels with integer blending (byte = (s x a + d x (255 - a)) / 255).
// Painted images become textures through ImageData::fromSurface2d.
class Paint : public surface2d<Color>
{
public:
    Paint() = default;
    Paint(int32_t w, int32_t h) : surface2d<Color>(w, h, true) {}

    // Blends source onto this image with its top-left pixel at (ox, oy), using
    // the source's alpha for all four bytes. The image grows to hold the
    // source; a negative offset shifts the old pixels right or down by its size.
    void blend(const surface2d<Color>& source, int32_t ox, int32_t oy);

    // Makes this image (|x1 - x0| + 1) x (|y1 - y0| + 1), fills it with
    // background and draws the line from (x0, y0) to (x1, y1), relative to the
    // image's top-left corner, with Bresenham's algorithm.
    void drawLine(int32_t x0, int32_t y0, int32_t x1, int32_t y1, Color line, Color background);

    // Draws the edges p0-p1, p1-p2, p2-p3, p3-p0. Each is drawn by drawLine on a
    // transparent white background and blended on at the edge's top-left
    // corner; when the image grows to the left or up, later edges follow the shift.
    void drawOutline4(const intvec2d p[4], Color color);
    // The same, with each edge drawn on background instead of transparent
    // white (it shows where an edge's image is wider than its line).
    void drawOutline4(const intvec2d p[4], Color color, Color background);

    // Boundary fill: spreads over 4-connected pixels from (x, y) until it meets
    // pixels that already have the fill colour (all four bytes).
    void floodFill(int32_t x, int32_t y, Color color);
    // The same, stopping also at pixels of the border colour (all four bytes).
    void floodFill(int32_t x, int32_t y, Color color, Color border);

    // Makes this image a square of side 2 x int(radius + border) + 1 and paints
    // a ring of the given radius and half width around its centre: inner colour
    // inside, outer colour outside, the ring colour fading into either side.
    void drawDisc(Color ring, Color inner, Color outer, float radius, float halfWidth, float border);
};
