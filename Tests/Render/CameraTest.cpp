#include "Render/Camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

constexpr float yScale70 = 1.4281480f; // 1 / tan(35 degrees)

TEST(Camera, ProjectionOfA1024By768BackBuffer)
{
    Camera camera;
    camera.setProjection({1024, 768});
    const float q = 3762.0f / 3761.5f;
    EXPECT_NEAR(camera.projection.m[0], 1.0711110f, 1e-5f);
    EXPECT_NEAR(camera.projection.m[5], yScale70, 1e-5f);
    EXPECT_NEAR(camera.projection.m[10], q, 1e-6f);
    EXPECT_NEAR(camera.projection.m[14], -q * 0.5f, 1e-6f);
    EXPECT_EQ(camera.projection.m[11], 1.0f);
    EXPECT_EQ(camera.projection.m[15], 0.0f);
    EXPECT_FLOAT_EQ(Camera::farPlaneFor(camera.range), 3762.0f);

    EXPECT_NEAR(camera.projectionUnitDepth.m[0], 1.0711110f, 1e-5f);
    EXPECT_EQ(camera.projectionUnitDepth.m[10], 1.0f);
    EXPECT_NEAR(camera.projectionUnitDepth.m[14], -q * 0.5f, 1e-6f);
}

TEST(Camera, ZeroAnglesGiveTheIdentityAxesAndEqualVolumesAtTheOrigin)
{
    Camera camera;
    camera.setProjection({800, 600});
    camera.setAnglesDeg();
    camera.update();
    EXPECT_EQ(camera.forward, vec3d(0, 0, 1));
    EXPECT_EQ(camera.up, vec3d(0, 1, 0));
    EXPECT_EQ(camera.right, vec3d(1, 0, 0));
    ASSERT_EQ(camera.frustum.count, 6);
    ASSERT_EQ(camera.directionVolume.count, 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(camera.frustum.planes[i].normal, camera.directionVolume.planes[i].normal) << i;
        EXPECT_EQ(camera.frustum.planes[i].distance, camera.directionVolume.planes[i].distance) << i;
    }
}

TEST(Camera, AnglesTurnTheViewAxes)
{
    Camera camera;
    camera.angles = {90.0f, 0.0f, 0.0f};
    camera.setAnglesDeg();
    camera.update();
    // _13 = -cos b sin a, _23 = sin b, _33 = cos a cos b.
    EXPECT_NEAR(camera.forward.x, -1.0f, 1e-6f);
    EXPECT_NEAR(camera.forward.y, 0.0f, 1e-6f);
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
    EXPECT_EQ(camera.view.m[13], 0.0f);
    EXPECT_EQ(camera.view.m[14], 0.0f);

    const ConvexVolume& f = camera.frustum;
    EXPECT_EQ(f.classifyPoint({10, 0, 100}), ConvexVolume::inside);
    EXPECT_EQ(f.classifyPoint({10, 0, -5}), ConvexVolume::outside);
    EXPECT_EQ(f.classifyPoint({10, 0, 0.4f}), ConvexVolume::outside); // before the near plane
    EXPECT_EQ(f.classifyPoint({10, 0, 3700}), ConvexVolume::inside);
    EXPECT_EQ(f.classifyPoint({10, 0, 3770}), ConvexVolume::outside); // beyond 2.09 x range
    // At depth 100 the sides lie 100 / 1.071111 = 93.36 and 100 / 1.428148 = 70.02 away.
    EXPECT_EQ(f.classifyPoint({10 + 92, 0, 100}), ConvexVolume::inside);
    EXPECT_EQ(f.classifyPoint({10 + 95, 0, 100}), ConvexVolume::outside);
    EXPECT_EQ(f.classifyPoint({10 - 95, 0, 100}), ConvexVolume::outside);
    EXPECT_EQ(f.classifyPoint({10, 69, 100}), ConvexVolume::inside);
    EXPECT_EQ(f.classifyPoint({10, 71, 100}), ConvexVolume::outside);
    EXPECT_EQ(f.classifyPoint({10, -71, 100}), ConvexVolume::outside);

    // The direction volume ignores the position: the same point relative to
    // the origin is inside it.
    EXPECT_EQ(camera.directionVolume.classifyPoint({0, 0, 100}), ConvexVolume::inside);
    EXPECT_EQ(camera.directionVolume.classifyPoint({100, 0, 100}), ConvexVolume::outside);
}

TEST(Camera, LensFogFromHaze)
{
    Camera camera;
    camera.setLens(0.0f, Color(1, 2, 3, 255));
    EXPECT_NEAR(camera.fogStart, 602.0f, 1e-3f);
    EXPECT_NEAR(camera.fogEnd, 3.069f * 1800.0f, 1e-2f);
    EXPECT_EQ(camera.fogColour, Color(1, 2, 3, 255));
    camera.setLens(1.0f, Color());
    EXPECT_NEAR(camera.fogStart, -28.0f, 1e-3f);
    EXPECT_NEAR(camera.fogEnd, 0.099f * 1800.0f, 1e-2f);
    EXPECT_EQ(camera.haze, 1.0f);
}

}
