#include "Core/Paint.h"

#include <gtest/gtest.h>

namespace
{
const Color red(255, 0, 0, 255), blue(0, 0, 255, 255), none;

int countColor(const Paint& p, Color c)
{
    int n = 0;
    for (int x = 0; x < p.width; ++x)
        for (int y = 0; y < p.height; ++y)
            n += p.columns[x][y] == c;
    return n;
}
}

TEST(Paint, BlendWeighsBytesByAlphaAndGrowsForNegativeOffsets)
{
    Paint own(10, 10);
    own.fill(Color(100, 100, 100, 255));
    own.columns[0][0] = blue;
    surface2d<Color> source(10, 10, true);
    source.fill(Color(0, 255, 0, 0)); // alpha 0 leaves the own pixels
    source.columns[9][0] = Color(200, 0, 255, 128);
    own.blend(source, -5, 0);
    ASSERT_EQ(own.width, 15);
    ASSERT_EQ(own.height, 10);
    EXPECT_EQ(own.columns[5][0], blue); // the old pixels moved right by 5
    EXPECT_EQ(own.columns[14][9], Color(100, 100, 100, 255));
    EXPECT_EQ(own.columns[0][0], none); // new area
    EXPECT_EQ(own.columns[9][0], Color(150, 49, 177, 191));

    Paint empty; // at a positive offset the image covers both
    empty.blend(source, 2, 3);
    EXPECT_EQ(empty.width, 12);
    EXPECT_EQ(empty.height, 13);
    EXPECT_EQ(empty.columns[11][3], Color(100, 0, 128, 64));
}

TEST(Paint, DrawLineGivesTheSamePixelsInBothDirections)
{
    for (bool flip : {false, true}) {
        Paint q;
        q.drawLine(flip ? 13 : 10, flip ? 21 : 20, flip ? 10 : 13, flip ? 20 : 21, red, blue);
        ASSERT_EQ(q.width, 4);
        ASSERT_EQ(q.height, 2);
        for (int x = 0; x < 4; ++x)
            for (int y = 0; y < 2; ++y)
                EXPECT_EQ(q.columns[x][y], (x < 2) == (y == 0) ? red : blue) << x << "," << y << " flip " << flip;
    }
    Paint r; // rising to the left
    r.drawLine(3, 0, 0, 3, red, blue);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(r.columns[3 - i][i], red);
    EXPECT_EQ(countColor(r, red), 4);
}

TEST(Paint, OutlineAndFloodFillPaintExactlyTheInside)
{
    Paint p;
    const intvec2d square[4] = {{-2, 1}, {3, 1}, {3, 6}, {-2, 6}}; // left of the origin: the image grows
    p.drawOutline4(square, red);
    ASSERT_EQ(p.width, 6);
    ASSERT_EQ(p.height, 7);
    EXPECT_EQ(countColor(p, red), 20);
    for (int y = 1; y < 7; ++y)
        EXPECT_TRUE(p.columns[0][y] == red && p.columns[5][y] == red) << y;
    p.floodFill(2, 2, red);
    EXPECT_EQ(countColor(p, red), 36);
    p.floodFill(-1, 0, blue); // outside: nothing
    EXPECT_EQ(countColor(p, blue), 0);

    // A column of the fill colour splits the image.
    Paint q(5, 4);
    for (int y = 0; y < 4; ++y)
        q.columns[2][y] = red;
    q.floodFill(4, 0, red);
    EXPECT_EQ(countColor(q, red), 12);
    EXPECT_EQ(q.columns[0][0], none);
}

TEST(Paint, DiscRingFadesIntoBothSides)
{
    Paint p;
    const Color ring(255, 255, 255, 255), inner(0, 0, 255, 255), outer(0, 0, 0, 0);
    p.drawDisc(ring, inner, outer, 4.0f, 1.0f, 1.0f);
    ASSERT_EQ(p.width, 11);
    ASSERT_EQ(p.height, 11);
    // Along the middle row: centre and inner limit, the radius, the outer limit.
    const Color row[5] = {inner, inner, inner, ring, outer};
    for (int x = 6; x < 11; ++x)
        EXPECT_EQ(p.columns[x][5], row[x - 6]) << x;
    EXPECT_EQ(p.columns[0][0], outer);
    const Color between = p.columns[9][7]; // distance 4.47: part ring, part outer
    EXPECT_TRUE(between.r > 100 && between.r < 160 && between.r == between.a) << int(between.r);
    for (int x = 0; x < 11; ++x)
        for (int y = 0; y < 11; ++y)
            EXPECT_EQ(p.columns[x][y], p.columns[10 - x][10 - y]);
}

TEST(Paint, OutlineOnABackgroundAndFillUpToABorder)
{
    const Color grey(220, 220, 220, 255), black(0, 0, 0, 255), white(255, 255, 255, 255), shade(0, 0, 0, 0xAA);
    // A slanted edge's image is wider than its line: the rest of it is the
    // background, blended on like the line.
    const intvec2d slanted[4] = {{0, 0}, {3, 1}, {3, 3}, {0, 3}};
    for (bool withBackground : {false, true}) {
        Paint p(4, 4);
        p.fill(Color(10, 20, 30, 255));
        if (withBackground)
            p.drawOutline4(slanted, grey, black);
        else
            p.drawOutline4(slanted, grey);
        // (3, 0) lies in the first edge's image but off its line.
        EXPECT_EQ(p.columns[3][0], withBackground ? black : Color(10, 20, 30, 255)) << withBackground;
        EXPECT_EQ(p.columns[0][0], grey);
        EXPECT_EQ(p.columns[1][2], Color(10, 20, 30, 255)) << "the inside is left";
    }

    // The platform: a fill stops at the border colour as well as at its own.
    Paint platform(16, 64);
    platform.fill(shade);
    const intvec2d bar[4] = {{6, 3}, {10, 3}, {10, 61}, {6, 61}};
    platform.drawOutline4(bar, grey, black);
    platform.floodFill(8, 32, white, grey);
    EXPECT_EQ(countColor(platform, white), 3 * 57);
    EXPECT_EQ(countColor(platform, grey), 2 * 5 + 2 * 57);
    EXPECT_EQ(countColor(platform, shade), 16 * 64 - 5 * 59);
    Paint spill(4, 4);
    spill.fill(shade);
    spill.columns[2][0] = spill.columns[2][1] = spill.columns[2][2] = spill.columns[2][3] = grey;
    spill.floodFill(0, 0, white, grey);
    EXPECT_EQ(countColor(spill, white), 8);
    spill.floodFill(0, 0, blue);
    EXPECT_EQ(countColor(spill, blue), 16) << "the plain fill stops only at its own colour";
}
