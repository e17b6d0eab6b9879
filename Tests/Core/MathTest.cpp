#include "Core/Math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace
{

TEST(FastSqrt, ExactOnEvenPowersOfTwoAndCloseElsewhere)
{
    EXPECT_EQ(fastSqrt(0.0f), 0.0f);
    for (int e = -60; e <= 60; e += 2)
        EXPECT_EQ(fastSqrt(std::ldexp(1.0f, e)), std::ldexp(1.0f, e / 2)) << "2^" << e;

    std::mt19937 random(7);
    std::uniform_real_distribution<float> exponent(-12.0f, 12.0f);
    for (int i = 0; i < 20000; ++i) {
        const float x = std::pow(10.0f, exponent(random));
        const double exact = std::sqrt(double(x));
        ASSERT_NEAR(fastSqrt(x), exact, exact * std::ldexp(1.0, -15)) << x;
    }
}

TEST(RoundHalfDown, AnExactHalfGoesDown)
{
    const std::pair<float, float> cases[] = {{271.5f, 271.0f}, {271.51f, 272.0f}, {271.49f, 271.0f},
                                             {527.5f, 527.0f}, {-0.5f, -1.0f},    {-0.4f, 0.0f},
                                             {-1.6f, -2.0f},   {3.0f, 3.0f}};
    for (const auto& [x, expected] : cases)
        EXPECT_EQ(roundHalfDown(x), expected) << x;
}

TEST(NextPowerOfTwo, RoundsUpToAtLeastTwo)
{
    const std::pair<uint32_t, uint32_t> cases[] = {{0, 2},   {1, 2},     {2, 2},     {3, 4},
                                                   {64, 64}, {65, 128},  {96, 128},  {129, 256},
                                                   {0x80000000u, 0x80000000u}, {0x80000001u, 0}};
    for (const auto& [n, expected] : cases)
        EXPECT_EQ(nextPowerOfTwo(n), expected) << n;
}

}
