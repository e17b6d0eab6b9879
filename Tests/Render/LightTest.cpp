#include "Render/GaussKernel.h"
#include "Render/Light.h"

#include <gtest/gtest.h>

namespace {

TEST(Light, IndexPoolHandsOutLowestFirstAndTakesIndicesBack)
{
    Light::initIndexPool(8);
    EXPECT_EQ(Light::freeIndexCount(), 7);
    Light lights[8];
    for (int i = 0; i < 7; ++i) {
        Light::init(lights[i]);
        ASSERT_TRUE(Light::assignIndex(lights[i]));
        EXPECT_EQ(lights[i].lightIndex, uint32_t(i + 1));
    }
    Light::init(lights[7]);
    EXPECT_FALSE(Light::assignIndex(lights[7]));
    EXPECT_EQ(lights[7].lightIndex, 0u);

    Light::release(lights[2]);
    EXPECT_EQ(lights[2].lightIndex, 0u);
    ASSERT_TRUE(Light::assignIndex(lights[7]));
    EXPECT_EQ(lights[7].lightIndex, 3u);

    // Releasing twice gives the index back once.
    Light::release(lights[7]);
    Light::release(lights[7]);
    EXPECT_EQ(Light::freeIndexCount(), 1);
    Light::releaseIndexPool();
}

TEST(Light, DeviceWithOneLightHasNoPointLights)
{
    Light::initIndexPool(1);
    Light l;
    Light::init(l);
    EXPECT_FALSE(Light::assignIndex(l));
    // An index from an earlier pool does not overflow the empty one.
    l.lightIndex = 5;
    Light::release(l);
    EXPECT_EQ(Light::freeIndexCount(), 0);
    Light::releaseIndexPool();
}

TEST(Light, PointLightDefaultsAndSunRecord)
{
    Light l;
    l.light.Range = 9.0f;
    l.lightIndex = 4;
    Light::init(l);
    EXPECT_EQ(l.light.Type, D3DLIGHT_POINT);
    EXPECT_EQ(l.light.Range, 0.0f);
    EXPECT_EQ(l.light.Attenuation1, 1.0f);
    EXPECT_EQ(l.lightIndex, 0u);

    LightRecord sun;
    sun.direction = {0.0f, 0.6f, 0.8f};
    const D3DLIGHT9 d = D3D::directionalLight(sun);
    EXPECT_EQ(d.Type, D3DLIGHT_DIRECTIONAL);
    EXPECT_EQ(d.Direction.y, -0.6f);
    EXPECT_EQ(d.Direction.z, -0.8f);
    EXPECT_EQ(d.Ambient.r, 0.6f);
    EXPECT_EQ(d.Specular.g, 0.7f);
    EXPECT_EQ(d.Attenuation0, 1.0f);
}

TEST(GaussKernel, RadiusOneAndAHalf)
{
    GaussKernel k;
    k.build(1.5f);
    ASSERT_EQ(k.halfWidth, 6);
    float sum = 0.0f;
    for (int i = 0; i < 13; ++i) {
        sum += k.weights[i];
        EXPECT_FLOAT_EQ(k.weights[i], k.weights[12 - i]);
        if (i < 6) {
            EXPECT_LT(k.weights[i], k.weights[i + 1]);
        }
    }
    EXPECT_NEAR(sum, 1.0f, 1e-6f);
    EXPECT_EQ(k.weights[13], 0.0f);

    k.build(1000.0f); // the kernel stays within its 255 weights
    EXPECT_EQ(k.halfWidth, GaussKernel::maxHalfWidth);
    k.build(0.0f);
    EXPECT_EQ(k.halfWidth, 0);
    EXPECT_EQ(k.weights[0], 1.0f);
}

}
