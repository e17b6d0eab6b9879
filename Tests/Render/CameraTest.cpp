#include "Render/Camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

TEST(Camera, ProjectionOfA1024By768BackBuffer)
{
    Camera camera;
    camera.setProjection({1024, 768});
    // 1 / tan(35 degrees), x scaled by 3 / 4; depth 0.5 .. 3762.
    const float q = 3762.0f / 3761.5f;
    EXPECT_NEAR(camera.projection.m[0], 1.0711110f, 1e-5f);
    EXPECT_NEAR(camera.projection.m[5], 1.4281480f, 1e-5f);
    EXPECT_NEAR(camera.projection.m[10], q, 1e-6f);
    EXPECT_NEAR(camera.projection.m[14], -q * 0.5f, 1e-6f);
    EXPECT_EQ(camera.projection.m[11], 1.0f);
    EXPECT_EQ(camera.projection.m[15], 0.0f);
    EXPECT_EQ(camera.projectionUnitDepth.m[10], 1.0f);
    EXPECT_NEAR(camera.projectionUnitDepth.m[14], -q * 0.5f, 1e-6f);
}

TEST(Camera, AnglesTurnTheViewAxes)
{
    Camera camera;
    camera.angles = {90.0f, 0.0f, 0.0f};
    camera.setAnglesDeg();
    camera.update();
    EXPECT_NEAR(camera.forward.x, -1.0f, 1e-6f);
    EXPECT_NEAR(camera.forward.z, 0.0f, 1e-6f);
    EXPECT_NEAR(camera.right.z, 1.0f, 1e-6f);

    camera.angles = {0.0f, 30.0f, 0.0f};
    camera.setAnglesDeg();
    camera.update();
    EXPECT_NEAR(camera.forward.y, 0.5f, 1e-6f);
    EXPECT_NEAR(camera.forward.z, std::sqrt(3.0f) / 2.0f, 1e-6f);
    EXPECT_NEAR(camera.up.y, std::sqrt(3.0f) / 2.0f, 1e-6f);
}

TEST(Camera, ViewTranslationAndFrustumFollowThePosition)
{
    Camera camera;
    camera.setProjection({1024, 768});
    camera.position = {10.0f, 0.0f, 0.0f};
    camera.update();
    EXPECT_EQ(camera.view.m[12], -10.0f);

    // At depth 100 the sides lie 100 / 1.071111 = 93.36 and 100 / 1.428148 =
    // 70.02 away; near 0.5, far 3762.
    const struct
    {
        vec3d point;
        bool inside;
    } cases[] = {{{10, 0, 100}, true},    {{10, 0, -5}, false},   {{10, 0, 0.4f}, false}, {{10, 0, 3700}, true},
                 {{10, 0, 3770}, false},  {{102, 0, 100}, true},  {{105, 0, 100}, false}, {{-85, 0, 100}, false},
                 {{10, 69, 100}, true},   {{10, 71, 100}, false}, {{10, -71, 100}, false}};
    for (const auto& c : cases)
        EXPECT_EQ(camera.frustum.classifyPoint(c.point) == ConvexVolume::inside, c.inside)
            << c.point.x << "," << c.point.y << "," << c.point.z;

    // The direction volume holds directions: the lens at the origin, turned
    // with the camera (here toward -x) but not moved with it.
    camera.position = {1000.0f, 0.0f, 0.0f};
    camera.angles = {90.0f, 0.0f, 0.0f};
    camera.setAnglesDeg();
    camera.update();
    for (const auto& [point, inside] : {std::pair{vec3d{-100, 0, 0}, true}, std::pair{vec3d{100, 0, 0}, false},
                                        std::pair{vec3d{0, 0, 100}, false}}) {
        EXPECT_EQ(camera.directionVolume.classifyPoint(point) == ConvexVolume::inside, inside) << point.x << "," << point.z;
        EXPECT_EQ(camera.frustum.classifyPoint(point + camera.position) == ConvexVolume::inside, inside);
    }
}

}

namespace {

// The narrowed frustum holds the point's line of sight and nothing two texels
// (of 256) beside it, at any depth; its near and far planes are the frustum's.
TEST(Camera, NarrowedFrustumIsAThinPyramidAroundAScreenPosition)
{
    Camera camera;
    camera.setProjection({1024, 768});
    camera.position = {5.0f, 2.0f, -3.0f};
    camera.angles = {30.0f, 10.0f, 0.0f};
    camera.setAnglesDeg();
    camera.update();
    // The world point at screen (u, v) and view depth z.
    auto at = [&](float u, float v, float z) {
        const float x = (2.0f * u - 1.0f) / camera.projection.m[0], y = -(2.0f * v - 1.0f) / camera.projection.m[5];
        return camera.position + (camera.right * x + camera.up * y + camera.forward) * z;
    };
    const float step = 2.0f / 256.0f;
    for (const auto& [u, v] : {std::pair{0.5f, 0.5f}, {0.2f, 0.7f}, {0.9f, 0.1f}}) {
        const ConvexVolume narrowed = camera.narrowedFrustum(u, v);
        ASSERT_EQ(narrowed.count, 6);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(narrowed.planes[i].normal, camera.frustum.planes[i].normal);
        for (float z : {1.0f, 50.0f, 3000.0f}) {
            SCOPED_TRACE(testing::Message() << u << "," << v << " at " << z);
            EXPECT_EQ(narrowed.classifyPoint(at(u, v, z)), ConvexVolume::inside);
            for (const auto& [du, dv] : {std::pair{-step, 0.0f}, {step, 0.0f}, {0.0f, -step}, {0.0f, step}})
                EXPECT_EQ(narrowed.classifyPoint(at(u + du, v + dv, z)), ConvexVolume::outside) << du << "," << dv;
        }
        EXPECT_EQ(narrowed.classifyPoint(at(u, v, 4000.0f)), ConvexVolume::outside); // beyond the far plane
    }
}

}

namespace {

// Fog distances from the haze: clear air keeps the fog far away, thick haze
// brings it close; the fog colour and haze are kept.
TEST(Camera, LensSetsTheFogFromTheHaze)
{
    Camera camera;
    camera.range = 1000.0f;
    const struct {
        float haze, start, end;
    } cases[] = {{0.0f, 602.0f, 3069.0f}, {1.0f, -28.0f, 99.0f}, {0.5f, 129.5f, 841.5f}};
    for (const auto& c : cases) {
        camera.setLens(c.haze, Color(1, 2, 3, 4));
        EXPECT_NEAR(camera.fogStart, c.start, 1e-2f) << c.haze;
        EXPECT_NEAR(camera.fogEnd, c.end, 1e-1f) << c.haze;
        EXPECT_EQ(camera.haze, c.haze);
        EXPECT_EQ(camera.fogColour, Color(1, 2, 3, 4));
    }
}

}
