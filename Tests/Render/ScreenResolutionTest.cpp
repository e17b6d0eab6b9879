#include "Render/ScreenResolution.h"

#include <gtest/gtest.h>

namespace {

TEST(ScreenResolution, ModesAreDistinctAndSorted)
{
    // Reported at several refresh rates and out of order.
    const intvec2d reported[] = {{1024, 768}, {640, 480}, {800, 600}, {1024, 768}, {640, 480}, {1024, 600}};
    ScreenResolution modes;
    modes.setModes(reported, 6);
    ASSERT_EQ(modes.count(), 4);
    const intvec2d expected[] = {{640, 480}, {800, 600}, {1024, 600}, {1024, 768}};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(modes.modeAt(i), expected[i]) << i;
    EXPECT_EQ(modes.indexOf({801, 600}), -1);
    EXPECT_EQ(modes.modeAt(4), intvec2d{});
}

TEST(ScreenResolution, NearestModeBySummedDifference)
{
    const intvec2d reported[] = {{640, 480}, {800, 600}, {1024, 768}, {1600, 1200}};
    ScreenResolution modes;
    modes.setModes(reported, 4);
    EXPECT_EQ(modes.findNearest({1000, 700}), (intvec2d{1024, 768}));
    // 3200 away from the largest: nothing is nearer than 1024, so the first mode.
    EXPECT_EQ(modes.findNearest({3000, 3000}), (intvec2d{640, 480}));
    // 720 x 540 is 140 from both 640 x 480 and 800 x 600: the first wins.
    EXPECT_EQ(modes.findNearest({720, 540}), (intvec2d{640, 480}));
    // Without modes the requested size stays.
    ScreenResolution none;
    none.setModes(nullptr, 3);
    EXPECT_EQ(none.findNearest({1000, 700}), (intvec2d{1000, 700}));
}

}
