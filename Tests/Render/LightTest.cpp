// The pool of device light indices that point lights take theirs from.
#include "Render/Light.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

// Index 0 is the sun's: point lights get 1 up to the device's limit less one
// (at most 255), lowest first and each once; a freed index is the next given.
TEST(LightIndexPool, HandsOutEveryIndexBelowTheLimitOnceLowestFirst)
{
    for (const auto& [limit, usable] : {std::pair{0u, 0u}, {1u, 0u}, {2u, 1u}, {8u, 7u}, {0xFFFFFFFFu, 255u}}) {
        SCOPED_TRACE(limit);
        Light::initIndexPool(limit);
        std::vector<Light> lights(usable + 1);
        for (uint32_t i = 0; i < usable; ++i) {
            Light::init(lights[i]);
            EXPECT_TRUE(Light::assignIndex(lights[i]));
            EXPECT_EQ(lights[i].lightIndex, i + 1);
        }
        Light::init(lights[usable]);
        EXPECT_FALSE(Light::assignIndex(lights[usable])) << "the pool is empty";
        EXPECT_EQ(lights[usable].lightIndex, 0u);
        if (usable >= 2) {
            Light::release(lights[1]);
            EXPECT_EQ(lights[1].lightIndex, 0u);
            EXPECT_TRUE(Light::assignIndex(lights[usable]));
            EXPECT_EQ(lights[usable].lightIndex, 2u);
            EXPECT_TRUE(Light::assignIndex(lights[0])) << "a light keeps the index it has";
            EXPECT_EQ(lights[0].lightIndex, 1u);
        }
    }
    Light::releaseIndexPool();
}
