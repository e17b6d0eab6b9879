#include "Core/Paint.h"

#include <gtest/gtest.h>

namespace
{
const Color red(255, 0, 0, 255);
const Color blue(0, 0, 255, 255);
const Color none;

int countColor(const Paint& p, Color c)
{
    int n = 0;
    for (int x = 0; x < p.width; ++x)
        for (int y = 0; y < p.height; ++y)
            n += p.columns[x][y] == c;
    return n;
}
}

TEST(Paint, BlendAtNegativeOffsetGrowsAndShiftsTheOldPixels)
{
    Paint own(10, 10);
    own.fill(red);
    own.columns[0][0] = blue;
    surface2d<Color> source(10, 10, true);
    source.fill(Color(0, 255, 0, 0)); // alpha 0: leaves the own pixels
    source.columns[9][0] = Color(0, 255, 0, 255);
    own.blend(source, -5, 0);
    ASSERT_EQ(own.width, 15);
    ASSERT_EQ(own.height, 10);
    EXPECT_EQ(own.columns[5][0], blue);
    EXPECT_EQ(own.columns[14][9], red);
    EXPECT_EQ(own.columns[0][0], none); // new area, nothing blended there
    EXPECT_EQ(own.columns[9][0], Color(0, 255, 0, 255));
    EXPECT_EQ(own.columns[6][0], red);
}

TEST(Paint, BlendWeighsEveryByteByTheSourceAlpha)
{
    Paint own(1, 1);
    own.fill(Color(100, 100, 100, 255));
    surface2d<Color> source(1, 1, true);
    source.fill(Color(200, 0, 255, 128));
    own.blend(source, 0, 0);
    EXPECT_EQ(own.columns[0][0], Color(150, 49, 177, 191));
    source.fill(Color(1, 2, 3, 255));
    own.blend(source, 0, 0);
    EXPECT_EQ(own.columns[0][0], Color(1, 2, 3, 255));

    // Onto an empty image at a positive offset: the image covers both.
    Paint empty;
    empty.blend(source, 2, 3);
    ASSERT_EQ(empty.width, 3);
    ASSERT_EQ(empty.height, 4);
    EXPECT_EQ(empty.columns[2][3], Color(1, 2, 3, 255));
}

TEST(Paint, DrawLineSizesTheImageAndDrawsBresenham)
{
    Paint p;
    p.drawLine(5, 5, 5, 5, red, blue);
    ASSERT_EQ(p.width, 1);
    ASSERT_EQ(p.height, 1);
    EXPECT_EQ(p.columns[0][0], red);

    // Both directions give the same pixels.
    for (int flip = 0; flip < 2; ++flip) {
        Paint q;
        if (flip)
            q.drawLine(13, 21, 10, 20, red, blue);
        else
            q.drawLine(10, 20, 13, 21, red, blue);
        ASSERT_EQ(q.width, 4);
        ASSERT_EQ(q.height, 2);
        const bool want[2][4] = {{true, true, false, false}, {false, false, true, true}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x)
                EXPECT_EQ(q.columns[x][y], want[y][x] ? red : blue) << x << "," << y << " flip " << flip;
    }
    // Rising to the left.
    Paint r;
    r.drawLine(3, 0, 0, 3, red, blue);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(r.columns[3 - i][i], red);
    EXPECT_EQ(countColor(r, red), 4);
}

TEST(Paint, OutlineAndBoundaryFillPaintExactlyTheInside)
{
    Paint p;
    const intvec2d square[4] = {{1, 1}, {6, 1}, {6, 6}, {1, 6}};
    p.drawOutline4(square, red);
    ASSERT_EQ(p.width, 7);
    ASSERT_EQ(p.height, 7);
    EXPECT_EQ(countColor(p, red), 20);
    p.floodFill(3, 3, red);
    EXPECT_EQ(countColor(p, red), 36);
    EXPECT_EQ(p.columns[0][3], none);
    EXPECT_EQ(p.columns[3][0], none);

    // A corner left of the origin: the image grows and the later edges follow.
    Paint q;
    const intvec2d wide[4] = {{-2, 0}, {3, 0}, {3, 3}, {-2, 3}};
    q.drawOutline4(wide, red);
    ASSERT_EQ(q.width, 6);
    ASSERT_EQ(q.height, 4);
    EXPECT_EQ(countColor(q, red), 16);
    for (int y = 0; y < 4; ++y) {
        EXPECT_EQ(q.columns[0][y], red);
        EXPECT_EQ(q.columns[5][y], red);
    }
    q.floodFill(2, 1, red);
    EXPECT_EQ(countColor(q, red), 24);
}

TEST(Paint, FloodFillStopsAtTheFillColour)
{
    Paint p(5, 4);
    p.fill(blue);
    p.floodFill(2, 2, blue);
    EXPECT_EQ(countColor(p, blue), 20);
    p.fill(none);
    p.floodFill(0, 0, red);
    EXPECT_EQ(countColor(p, red), 20);
    // A column of the fill colour splits the image.
    p.fill(none);
    for (int y = 0; y < 4; ++y)
        p.columns[2][y] = red;
    p.floodFill(4, 0, red);
    EXPECT_EQ(countColor(p, red), 12);
    EXPECT_EQ(p.columns[0][0], none);
    p.floodFill(-1, 0, red); // outside: nothing
    EXPECT_EQ(countColor(p, red), 12);
}

TEST(Paint, DiscRingFadesIntoBothSides)
{
    Paint p;
    const Color ring(255, 255, 255, 255);
    const Color inner(0, 0, 255, 255);
    const Color outer(0, 0, 0, 0);
    p.drawDisc(ring, inner, outer, 4.0f, 1.0f, 1.0f);
    ASSERT_EQ(p.width, 11);
    ASSERT_EQ(p.height, 11);
    EXPECT_EQ(p.columns[5][5], inner);
    EXPECT_EQ(p.columns[0][0], outer);
    EXPECT_EQ(p.columns[9][5], ring);  // on the radius
    EXPECT_EQ(p.columns[5][1], ring);
    EXPECT_EQ(p.columns[8][5], inner); // on the inner limit
    EXPECT_EQ(p.columns[10][5], outer); // on the outer limit
    // Between the radius and the outer limit: part ring, part outer.
    const Color between = p.columns[9][7]; // distance sqrt(20) = 4.47
    EXPECT_GT(between.r, 100);
    EXPECT_LT(between.r, 160);
    EXPECT_EQ(between.r, between.a);
    // Symmetric about the centre.
    for (int x = 0; x < 11; ++x)
        for (int y = 0; y < 11; ++y)
            EXPECT_EQ(p.columns[x][y], p.columns[10 - x][10 - y]);
}
