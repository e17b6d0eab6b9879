// Light projections without a device: the lens of each kind, values that
// would make infinite matrices, and the flicker's steps.
#include "Render/LightProj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

bool finiteMatrices(const LightProj& p)
{
    for (const matrix3d* m : {&p.projection, &p.view, &p.textureMatrix})
        for (float v : m->m)
            if (!std::isfinite(v))
                return false;
    return true;
}

TEST(LightProjection, LensAndVolumeOfEachKind)
{
    LightProj spot(0.0f);
    spot.transform.at(3, 0) = 5.0f;
    spot.update();
    EXPECT_EQ(spot.disabled, 0u);
    EXPECT_NEAR(spot.projection.at(0, 0), 3.7320508f, 1e-5f); // cot(15 degrees)
    EXPECT_NEAR(spot.projection.at(1, 1), 3.7320508f, 1e-5f);
    EXPECT_NEAR(spot.projection.at(2, 2), 39.0f / 38.9f, 1e-6f);
    EXPECT_EQ(spot.projection.at(2, 3), 1.0f);
    EXPECT_EQ(spot.light.Position.x, 5.0f);
    EXPECT_EQ(spot.changed, 1u);
    // Ahead within the cone and the reach is inside; behind or aside is not.
    EXPECT_EQ(spot.volume.classifyPoint({5.0f, 0.0f, 20.0f}), ConvexVolume::inside);
    EXPECT_EQ(spot.volume.classifyPoint({5.0f, 0.0f, -1.0f}), ConvexVolume::outside);
    EXPECT_EQ(spot.volume.classifyPoint({15.0f, 0.0f, 20.0f}), ConvexVolume::outside);

    LightProj omni(0.0f);
    omni.kind = 0;
    omni.range = 10.0f;
    omni.transform.at(3, 1) = 2.0f;
    omni.update();
    EXPECT_FLOAT_EQ(omni.projection.at(0, 0), 0.1f);
    EXPECT_FLOAT_EQ(omni.projection.at(2, 2), 1.0f / 9.01f);
    EXPECT_FLOAT_EQ(omni.projection.at(3, 2), -1.0f / 9.01f);
    EXPECT_EQ(omni.volume.count, 6);
    EXPECT_EQ(omni.volume.classifyPoint({9.0f, 2.0f, -9.0f}), ConvexVolume::inside);
    EXPECT_EQ(omni.volume.classifyPoint({0.0f, 12.5f, 0.0f}), ConvexVolume::outside);
    EXPECT_TRUE(finiteMatrices(omni));
    // Made a cone, it keeps nothing of the box's lens.
    omni.kind = 1;
    omni.update();
    EXPECT_EQ(omni.projection.at(3, 3), 0.0f);
}

// Values from an object package that would divide by zero or turn the lens
// inside out disable the projection instead.
TEST(LightProjection, UnusableValuesDisableTheProjection)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case
    {
        const char* name;
        uint32_t kind;
        float range, cone, position;
        bool usable;
    };
    const Case cases[] = {
        {"spot", 1, 30.0f, 30.0f, 0.0f, true},         {"box", 0, 30.0f, 0.0f, 0.0f, true},
        {"box of reach 1", 0, 0.99f, 30.0f, 0.0f, false}, {"box of no reach", 0, 0.0f, 30.0f, 0.0f, false},
        {"negative reach", 1, -5.0f, 30.0f, 0.0f, false}, {"closed cone", 1, 30.0f, 0.0f, 0.0f, false},
        {"flat cone", 1, 30.0f, 180.0f, 0.0f, false},      {"wide cone", 1, 30.0f, 250.0f, 0.0f, false},
        {"cone not a number", 1, 30.0f, nan, 0.0f, false}, {"reach not a number", 0, nan, 30.0f, 0.0f, false},
        {"endless reach", 1, inf, 30.0f, 0.0f, false},     {"far away", 1, 30.0f, 30.0f, inf, false},
        {"cone narrower than a float", 1, 30.0f, 1e-39f, 0.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LightProj p(0.0f);
        p.kind = c.kind;
        p.range = c.range;
        p.coneAngle = c.cone;
        p.transform.at(3, 2) = c.position;
        p.update();
        EXPECT_EQ(p.disabled, c.usable ? 0u : 1u);
        EXPECT_TRUE(finiteMatrices(p));
        p.applyForView(matrix3d::identity());
        EXPECT_TRUE(finiteMatrices(p));
    }
}

uint32_t fakeNow = 0;
int draws = 0;

TEST(LightProjection, FlickerStepsEvery200MillisecondsAndRestsAtStrengthZero)
{
    LightProj::Flicker flicker([] { return fakeNow; }, [] { return ++draws; });
    draws = 0;
    fakeNow = 1000;
    flicker.update(0.0f);
    EXPECT_EQ(draws, 2); // one draw per channel
    EXPECT_EQ(flicker.offset, vec3d());
    EXPECT_EQ(flicker.intensityFactor, 1.0f);
    for (fakeNow = 1000; fakeNow <= 1600; fakeNow += 50)
        flicker.update(0.0f);
    EXPECT_EQ(draws, 2 + 2 * 2); // steps at 1250 and 1500 only
    EXPECT_EQ(flicker.lastStep, 1500u);
    // Odd draws walk the first channel toward -1, even ones the second
    // toward +1, a fifth of the way each step: three steps so far.
    const float walked = 1.0f - 0.8f * 0.8f * 0.8f;
    EXPECT_NEAR(flicker.walk[0], -walked, 1e-6f);
    EXPECT_NEAR(flicker.walk[1], walked, 1e-6f);
    EXPECT_NEAR(flicker.angle[1], std::pow(walked, 0.8f) * 3.14159265f, 1e-5f);

    // With strength the light moves by at most a tenth of it and dims by at
    // most three tenths.
    for (fakeNow = 2000; fakeNow < 20000; fakeNow += 70) {
        flicker.update(1.0f);
        ASSERT_LE(flicker.offset.length(), 0.1f + 1e-6f);
        ASSERT_GE(flicker.intensityFactor, 0.7f - 1e-6f);
        ASSERT_LE(flicker.intensityFactor, 1.0f + 1e-6f);
    }
}

}
