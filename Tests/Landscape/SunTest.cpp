// The sun's day-night cycle, its tint and its texture's texels.
#include "Landscape/Scene.h"
#include "Landscape/SunDNC.h"

#include "Render/Light.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

constexpr float degrees = 57.29578f;

float elevationOf(const vec3d& d) { return std::asin(d.y) * degrees; }

TEST(SunDNC, HourAngleFollowsTheClock)
{
    struct Case
    {
        uint8_t hour, minute, second;
        float angle;
    };
    const Case cases[] = {
        {12, 0, 0, 152.0f}, {1, 52, 0, 360.0f}, {23, 59, 59, 331.996f}, {13, 52, 0, 180.0f}, {0, 0, 0, 332.0f},
        {1, 51, 59, 359.996f}, {1, 52, 1, 0.004f},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(SunDNC::hourAngle(c.hour, c.minute, c.second), c.angle, 5e-4f)
            << int(c.hour) << ":" << int(c.minute) << ":" << int(c.second);
}

TEST(SunDNC, SeasonSetsTheHighestElevation)
{
    const float cases[][2] = {{0.0f, 18.5f}, {0.5f, 42.0f}, {1.0f, 65.5f}, {0.25f, 30.25f}};
    for (const auto& c : cases) {
        const vec3d noon = SunDNC::direction(180.0f, c[0]);
        EXPECT_NEAR(elevationOf(noon), c[1], 1e-3f) << c[0];
        EXPECT_NEAR(noon.length(), 1.0f, 1e-6f);
        EXPECT_NEAR(noon.x, 0.0f, 1e-6f);
        // Twelve hours later the sun is as far below the horizon.
        EXPECT_NEAR(elevationOf(SunDNC::direction(360.0f, c[0])), -c[1], 1e-3f);
    }
    // Morning in the east (+x), evening in the west.
    EXPECT_GT(SunDNC::direction(90.0f, 0.5f).x, 0.9f);
    EXPECT_LT(SunDNC::direction(270.0f, 0.5f).x, -0.9f);
}

TEST(SunDNC, StrengthsFollowTheSunsHeight)
{
    const float cases[][3] = {{-0.3f, 0.0f, 0.18f}, {0.0f, 0.0f, 0.18f}, {0.25f, 0.5f, 0.305f},
                              {0.5f, 1.0f, 0.43f},  {0.9f, 1.0f, 0.43f}};
    SunDNC sun;
    for (const auto& c : cases) {
        sun.strengths(c[0], 1.0f, 1.0f);
        EXPECT_FLOAT_EQ(sun.sunStrength, c[1]) << c[0];
        EXPECT_FLOAT_EQ(sun.ambientStrength, c[2]) << c[0];
        EXPECT_EQ(sun.visibility, 1.0f);
    }
    // A sky that hides half of the sun halves its light.
    sun.strengths(0.5f, 0.5f, 1.0f);
    EXPECT_FLOAT_EQ(sun.sunStrength, 0.5f);
    EXPECT_FLOAT_EQ(sun.ambientStrength, 0.305f);
}

TEST(SunDNC, TheClockPointsTheLight)
{
    Timer clock;
    clock.hour = 13;
    clock.minute = 52;
    LightRecord light;
    SunDNC sun;
    sun.update(clock, light, 0.5f, 1.0f, 1.0f);
    EXPECT_FLOAT_EQ(sun.hourAngleDegrees, 180.0f);
    EXPECT_NEAR(elevationOf(light.direction), 42.0f, 1e-3f);
    EXPECT_EQ(sun.sunStrength, 1.0f);

    clock.hour = 1;
    sun.update(clock, light, 0.5f, 1.0f, 1.0f);
    EXPECT_NEAR(elevationOf(light.direction), -42.0f, 1e-3f);
    EXPECT_EQ(sun.sunStrength, 0.0f);
    EXPECT_FLOAT_EQ(sun.ambientStrength, 0.18f);
}

TEST(SunDNC, TintColoursTheLightByTheStrengths)
{
    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    scene.sun.sunStrength = 0.8f;
    scene.sun.ambientStrength = 0.4f;
    const float tint[4] = {0.5f, 0.25f, 1.0f, 0.0f};
    static_cast<AnimatedSky::Interface&>(scene.sun).onSunTint(tint);
    const LightRecord& light = chain.sun;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FLOAT_EQ(light.diffuse[i], tint[i] * 0.8f);
        EXPECT_FLOAT_EQ(light.specular[i], tint[i] * 0.8f);
        EXPECT_FLOAT_EQ(light.ambient[i], tint[i] * 0.4f);
    }
    EXPECT_EQ(light.diffuse[3], 1.0f);
    EXPECT_EQ(light.ambient[3], 1.0f);

    // Half way between two colours.
    const float white[3] = {1.0f, 1.0f, 1.0f};
    LightRecord other;
    scene.sun.applyTint(other, tint, white, 0.5f);
    EXPECT_FLOAT_EQ(other.diffuse[0], 0.75f * 0.8f);
    EXPECT_FLOAT_EQ(other.ambient[1], 0.625f * 0.4f);
    scene.swapChain = nullptr;
}

// Whatever the level or the clock hold, the light stays a light.
TEST(SunDNC, StaysFiniteForAnyInput)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float inputs[] = {nan, inf, -inf, -5.0f, 30.0f, 0.5f};
    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    const Timer saved = gTimer;
    for (float time : inputs)
        for (float season : inputs) {
            scene.timeOfDay = time;
            scene.applyTimeOfDay();
            scene.sun.update(gTimer, chain.sun, season, 1.0f, 1.0f);
            const float tint[4] = {1.0f, 0.9f, 0.8f, 0.0f};
            static_cast<AnimatedSky::Interface&>(scene.sun).onSunTint(tint);
            const LightRecord& light = chain.sun;
            EXPECT_NEAR(light.direction.length(), 1.0f, 1e-5f) << time << " " << season;
            EXPECT_TRUE(scene.sun.hourAngleDegrees > 0.0f && scene.sun.hourAngleDegrees <= 360.0f);
            for (float v : {scene.sun.sunStrength, scene.sun.ambientStrength, scene.sun.visibility})
                EXPECT_TRUE(v >= 0.0f && v <= 1.0f) << time << " " << season;
            for (int i = 0; i < 4; ++i)
                EXPECT_TRUE(std::isfinite(light.diffuse[i]) && std::isfinite(light.ambient[i]) &&
                            std::isfinite(light.specular[i]));
        }
    // A clock byte past the day still lands on the circle.
    const float late = SunDNC::hourAngle(255, 255, 255);
    EXPECT_TRUE(late > 0.0f && late <= 360.0f) << late;
    gTimer = saved;
    scene.swapChain = nullptr;
}

}
