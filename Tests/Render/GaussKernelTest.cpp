#include "Render/GaussKernel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

// Half widths by radius, each kernel symmetric, normalised and Gaussian in
// shape, with nothing beyond its last weight.
TEST(GaussKernel, HalfWidthShapeAndSumByRadius)
{
    const struct {
        float radius;
        int32_t halfWidth;
    } cases[] = {{1.5f, 6}, {0.3f, 2}, {0.25f, 1}, {2.0f, 8}, {100.0f, GaussKernel::maxHalfWidth},
                 {0.0f, 0}, {-1.0f, 0}, {std::numeric_limits<float>::quiet_NaN(), 0}};
    GaussKernel kernel;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.radius);
        kernel.build(7.0f); // a wider kernel before: nothing of it may stay
        kernel.build(c.radius);
        ASSERT_EQ(kernel.halfWidth, c.halfWidth);
        const int n = kernel.halfWidth;
        double sum = 0.0;
        for (int i = 0; i <= 2 * n; ++i) {
            sum += kernel.weights[i];
            EXPECT_FLOAT_EQ(kernel.weights[i], kernel.weights[2 * n - i]);
            if (n > 0 && i > 0) {
                const double d = i - n, before = i - 1 - n, r = c.radius;
                const double ratio = std::exp(-0.5 * (d * d - before * before) / (r * r));
                EXPECT_NEAR(kernel.weights[i] / kernel.weights[i - 1], ratio, ratio * 1e-4);
            }
        }
        EXPECT_NEAR(sum, 1.0, 1e-5);
        for (int i = 2 * n + 1; i < 2 * GaussKernel::maxHalfWidth + 2; ++i)
            EXPECT_EQ(kernel.weights[i], 0.0f) << i;
    }
    kernel.build(1.5f);
    EXPECT_NEAR(kernel.weights[6], 0.2659643f, 1e-6f);
}
