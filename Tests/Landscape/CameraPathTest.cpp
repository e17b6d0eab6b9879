#include "Landscape/CameraPath.h"

#include "Render/Camera.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

matrix3d keyAt(vec3d position, float yawDegrees)
{
    const float a = yawDegrees * 0.017453292f;
    matrix3d m = matrix3d::identity();
    // Rotation about y, scaled by 2 to check that the rows are normalised.
    m.m[0] = 2 * std::cos(a);
    m.m[2] = -2 * std::sin(a);
    m.m[5] = 2;
    m.m[8] = 2 * std::sin(a);
    m.m[10] = 2 * std::cos(a);
    m.m[12] = position.x;
    m.m[13] = position.y;
    m.m[14] = position.z;
    return m;
}

vec3d bezier(const vec3d p[3], float t)
{
    return p[0] * ((1 - t) * (1 - t)) + p[1] * (2 * t * (1 - t)) + p[2] * (t * t);
}

float distance(vec3d a, vec3d b) { return (a - b).length(); }

TEST(CameraPath, FollowsTheBezierCurveAtItsSpeed)
{
    const vec3d p[3] = {{0, 10, 0}, {100, 20, 50}, {200, 10, -40}};
    CameraPath path;
    path.reset(3.0f);
    for (int i = 0; i < 3; ++i)
        path.build(keyAt(p[i], 30.0f * float(i)));
    ASSERT_EQ(path.keyCount, 3);

    // The length over 20 chords, and the true arc length it approximates.
    float chords = 0, fine = 0;
    for (int i = 0; i < 20; ++i)
        chords += distance(bezier(p, i * 0.05f), bezier(p, (i + 1) * 0.05f));
    for (int i = 0; i < 20000; ++i)
        fine += distance(bezier(p, i / 20000.0f), bezier(p, (i + 1) / 20000.0f));
    EXPECT_NEAR(chords, fine, fine * 0.01f);

    float expectedT = 0;
    int frames = 0;
    while (!path.finished && frames < 10000) {
        const matrix3d m = path.sample(1.0f);
        if (path.finished)
            break;
        ASSERT_NEAR(distance(m.row(3), bezier(p, expectedT)), 0.0f, 1e-3f) << frames;
        // Rotation rows are orthonormal, from key 0's turn towards key 2's.
        EXPECT_NEAR(m.row(0).cross(m.row(1)).dot(m.row(2)), 1.0f, 1e-4f);
        if (frames == 0) {
            EXPECT_NEAR(distance(m.row(2), {0, 0, 1}), 0.0f, 1e-5f);
        }
        expectedT = std::min(1.0f, expectedT + 0.7f * 3.0f / chords);
        EXPECT_NEAR(path.t, expectedT, 1e-5f);
        ++frames;
    }
    // Each frame covers 2.1 units of the curve.
    EXPECT_NEAR(float(frames), chords / 2.1f, 1.5f);
    ASSERT_EQ(path.finished, 1u);
    const matrix3d last = path.sample(1.0f);
    EXPECT_EQ(last.row(3), p[2]);
    const float a = 60.0f * 0.017453292f;
    EXPECT_NEAR(distance(last.row(2), {std::sin(a), 0, std::cos(a)}), 0.0f, 1e-5f);
    EXPECT_EQ(path.t, 1.0f);
}

TEST(CameraPath, ZeroLengthAndStalePointsFinishCleanly)
{
    CameraPath path;
    path.reset(1.0f);
    for (int i = 0; i < 3; ++i)
        path.build(keyAt({5, 5, 5}, 0));
    path.sample(1.0f);
    EXPECT_EQ(path.finished, 1u);
    EXPECT_TRUE(std::isfinite(path.t) && std::isfinite(path.inverseLength));

    // A tour with one key point after one of three: the old points play no part.
    path.reset(1.0f);
    for (int i = 0; i < 3; ++i)
        path.build(keyAt({100.0f * float(i), 0, 0}, 0));
    path.sample(1.0f);
    path.reset(2.0f);
    path.build(keyAt({7, 8, 9}, 0));
    EXPECT_EQ(path.keyCount, 1);
    const matrix3d m = path.sample(1.0f);
    EXPECT_EQ(m.row(3), vec3d(7, 8, 9));
    EXPECT_EQ(path.finished, 1u);

    // Two points: the last stands in for the third.
    path.reset(1.0f);
    path.build(keyAt({0, 0, 0}, 0));
    path.build(keyAt({10, 0, 0}, 0));
    path.sample(0.0f);
    EXPECT_EQ(path.control[2], vec3d(10, 0, 0));
    EXPECT_EQ(path.finished, 0u);
    // A fourth key point is ignored.
    path.build(keyAt({1, 1, 1}, 0));
    path.build(keyAt({2, 2, 2}, 0));
    EXPECT_EQ(path.keyCount, 3);
    EXPECT_EQ(path.keys[2].position, vec3d(1, 1, 1));
}

TEST(CameraPath, StandsStillAtFrameFactorOrSpeedZero)
{
    CameraPath path;
    path.reset(3.0f);
    path.build(keyAt({0, 0, 0}, 0));
    path.build(keyAt({50, 0, 0}, 0));
    path.build(keyAt({100, 0, 0}, 0));
    path.sample(1.0f);
    const float t = path.t;
    ASSERT_GT(t, 0.0f);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(path.sample(0.0f).row(3), path.sample(0.0f).row(3));
    EXPECT_EQ(path.t, t);
    path.speed = 0.0f;
    path.sample(1.0f);
    EXPECT_EQ(path.t, t);
    EXPECT_EQ(path.finished, 0u);

    // Without key points nothing moves.
    CameraPath empty;
    Camera camera;
    camera.position = {1, 2, 3};
    empty.updateView(camera, 1.0f);
    EXPECT_EQ(camera.position, vec3d(1, 2, 3));
}

TEST(CameraPath, UpdateViewPutsTheCameraOnThePath)
{
    CameraPath path;
    path.reset(1.0f);
    path.build(keyAt({10, 20, 30}, 90));
    Camera camera;
    path.updateView(camera, 1.0f);
    EXPECT_EQ(camera.position, vec3d(10, 20, 30));
    // Yaw 90 degrees: the camera looks along +x.
    EXPECT_NEAR(distance(camera.forward, {1, 0, 0}), 0.0f, 1e-5f);
    EXPECT_NEAR(distance(camera.view.transformPoint({10, 20, 30}), {0, 0, 0}), 0.0f, 1e-4f);
}

}
