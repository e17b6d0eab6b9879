#include "Core/ConvexVolume.h"
#include "Core/Math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace
{

ConvexVolume::Plane plane(vec3d normal, vec3d point)
{
    ConvexVolume::Plane p;
    p.normal = normal.normalised();
    p.point = point;
    p.distance = p.normal.dot(point);
    return p;
}

// The box 0..10 on every axis.
ConvexVolume cube()
{
    ConvexVolume v;
    v.planes[0] = plane({1, 0, 0}, {0, 0, 0});
    v.planes[1] = plane({-1, 0, 0}, {10, 0, 0});
    v.planes[2] = plane({0, 1, 0}, {0, 0, 0});
    v.planes[3] = plane({0, -1, 0}, {0, 10, 0});
    v.planes[4] = plane({0, 0, 1}, {0, 0, 0});
    v.planes[5] = plane({0, 0, -1}, {0, 0, 10});
    v.count = 6;
    return v;
}

// Left-handed perspective projection looking along +z.
matrix3d perspective(float fovY, float aspect, float zn, float zf)
{
    const float yScale = 1.0f / std::tan(fovY / 2);
    matrix3d m;
    m.m[0] = yScale / aspect;
    m.m[5] = yScale;
    m.m[10] = zf / (zf - zn);
    m.m[11] = 1.0f;
    m.m[14] = -zn * zf / (zf - zn);
    return m;
}

matrix3d orthographic(float width, float height, float zn, float zf)
{
    matrix3d m;
    m.m[0] = 2 / width;
    m.m[5] = 2 / height;
    m.m[10] = 1 / (zf - zn);
    m.m[14] = -zn / (zf - zn);
    m.m[15] = 1;
    return m;
}

matrix3d translation(vec3d t)
{
    matrix3d m = matrix3d::identity();
    m.m[12] = t.x;
    m.m[13] = t.y;
    m.m[14] = t.z;
    return m;
}

OrientedBox turnedCube(vec3d center, float half, float angleZ)
{
    OrientedBox box;
    box.center = center;
    box.axes[0] = {std::cos(angleZ), std::sin(angleZ), 0};
    box.axes[1] = {-std::sin(angleZ), std::cos(angleZ), 0};
    box.axes[2] = {0, 0, 1};
    box.halfExtents = {half, half, half};
    return box;
}

TEST(ConvexVolume, FreshAndSmallVolumesHoldNothing)
{
    ConvexVolume v;
    EXPECT_EQ(v.count, 0);
    EXPECT_EQ(v.planes[63].normal, vec3d(0, 1, 0));
    EXPECT_EQ(v.planes[0].distance, 0.0f);
    const OrientedBox box = turnedCube({5, 5, 5}, 1, 0);
    for (int count = 0; count < 3; ++count) {
        ConvexVolume c = cube();
        c.count = count;
        EXPECT_EQ(c.classifyPoint({5, 5, 5}), ConvexVolume::outside);
        EXPECT_EQ(c.classifyBox({4, 4, 4}, {6, 6, 6}), ConvexVolume::outside);
        EXPECT_EQ(c.classifyOrientedBox(box), ConvexVolume::outside);
        EXPECT_EQ(c.testPlanes({0, 0, 1}), 0);
    }
}

TEST(ConvexVolume, ClassifiesBoxesInsideOutsideAndAcross)
{
    const ConvexVolume v = cube();
    EXPECT_EQ(v.classifyBox({1, 1, 1}, {9, 9, 9}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyBox({11, 1, 1}, {12, 9, 9}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyBox({-5, 1, 1}, {5, 9, 9}), ConvexVolume::intersecting);
    // Touching a plane from the inside is intersecting, from the outside too.
    EXPECT_EQ(v.classifyBox({0, 1, 1}, {5, 9, 9}), ConvexVolume::intersecting);
    EXPECT_EQ(v.classifyBox({10, 1, 1}, {12, 9, 9}), ConvexVolume::intersecting);

    EXPECT_EQ(v.classifyOrientedBox(turnedCube({5, 5, 5}, 2, 0.5f)), ConvexVolume::inside);
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({-5, 5, 5}, 2, 0.5f)), ConvexVolume::outside);
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({0.5f, 5, 5}, 2, 0.5f)), ConvexVolume::intersecting);
    // Touching x = 0 from the inside (s = r).
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({1, 5, 5}, 1, 0)), ConvexVolume::intersecting);
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({1.01f, 5, 5}, 1, 0)), ConvexVolume::inside);
    // A cube of half size 1 turned 45 degrees reaches sqrt(2) along x.
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({1.4f, 5, 5}, 1, 0.7853982f)), ConvexVolume::intersecting);
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({1.42f, 5, 5}, 1, 0.7853982f)), ConvexVolume::inside);
}

TEST(ConvexVolume, PointToleranceIsOneThousandth)
{
    const ConvexVolume v = cube();
    EXPECT_EQ(v.classifyPoint({5, 5, 5}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyPoint({-0.0005f, 5, 5}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyPoint({-0.002f, 5, 5}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyPoint({5, 10.0005f, 5}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyPoint({5, 5, 10.002f}), ConvexVolume::outside);
}

TEST(ConvexVolume, SetFromIdentity)
{
    ConvexVolume v;
    v.setFromMatrix(matrix3d::identity());
    EXPECT_EQ(v.count, 6);
    EXPECT_EQ(v.planes[0].normal, vec3d(0, 0, 1));
    EXPECT_EQ(v.planes[0].distance, 0.0f);
    EXPECT_EQ(v.planes[1].normal, vec3d(0, 0, -1));
    EXPECT_EQ(v.planes[1].distance, -1.0f);
    EXPECT_EQ(v.planes[1].point, vec3d(0, 0, 1));
    // The unit cube of clip space, z from 0 to 1.
    EXPECT_EQ(v.classifyPoint({0.9f, -0.9f, 0.5f}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyPoint({1.1f, 0, 0.5f}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyPoint({0, 0, -0.1f}), ConvexVolume::outside);
}

TEST(ConvexVolume, SetFromPerspectiveViewProjection)
{
    // Camera at (10, 0, 0) looking along +z, 90 degrees, near 1, far 100.
    ConvexVolume v;
    v.setFromMatrix(translation({-10, 0, 0}) * perspective(1.5707964f, 1.0f, 1.0f, 100.0f));
    EXPECT_NEAR(v.planes[0].distance, 1.0f, 1e-3f);    // near: z >= 1
    EXPECT_NEAR(v.planes[1].distance, -100.0f, 1e-2f); // far: -z >= -100
    EXPECT_NEAR(v.planes[2].normal.x, std::sqrt(0.5f), 1e-4f); // left, facing +x
    EXPECT_NEAR(v.planes[2].normal.z, std::sqrt(0.5f), 1e-4f);
    EXPECT_NEAR(v.planes[3].normal.y, -std::sqrt(0.5f), 1e-4f); // top, facing -y
    EXPECT_NEAR(v.planes[4].normal.x, -std::sqrt(0.5f), 1e-4f); // right, facing -x
    EXPECT_NEAR(v.planes[5].normal.y, std::sqrt(0.5f), 1e-4f); // bottom, facing +y
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR(v.planes[i].normal.length(), 1.0f, 1e-4f);
        EXPECT_NEAR(v.planes[i].normal.dot(v.planes[i].point), v.planes[i].distance,
                    1e-3f + 1e-5f * std::fabs(v.planes[i].distance));
    }
    EXPECT_EQ(v.classifyPoint({10, 0, 50}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyPoint({49, 0, 50}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyPoint({61, 0, 50}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyPoint({10, 45, 50}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyPoint({10, -55, 50}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyPoint({10, 0, 0.5f}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyPoint({10, 0, 101}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyBox({5, -5, 95}, {15, 5, 105}), ConvexVolume::intersecting);
}

// Brute force over the eight corners: outside when all lie outside one
// plane, inside when all lie strictly inside every plane.
int classifyCorners(const ConvexVolume& v, const vec3d corner[8])
{
    int result = ConvexVolume::inside;
    for (int p = 0; p < v.count; ++p) {
        int out = 0, in = 0;
        for (int c = 0; c < 8; ++c) {
            const float s = v.planes[p].normal.dot(corner[c]) - v.planes[p].distance;
            out += s < 0 ? 1 : 0;
            in += s > 0 ? 1 : 0;
        }
        if (out == 8)
            return ConvexVolume::outside;
        if (in != 8)
            result = ConvexVolume::intersecting;
    }
    return result;
}

TEST(ConvexVolume, BoxClassesAgreeWithTheirCorners)
{
    ConvexVolume v;
    v.setFromMatrix(translation({-3, 2, -20}) * perspective(1.0f, 1.5f, 2.0f, 60.0f));
    std::mt19937 random(17);
    std::uniform_real_distribution<float> u(-30.0f, 30.0f);
    std::uniform_real_distribution<float> depth(15.0f, 90.0f); // the camera sits at z = 20
    std::uniform_real_distribution<float> size(0.5f, 10.0f);
    int seen[6] = {};
    for (int i = 0; i < 5000; ++i) {
        const OrientedBox box = turnedCube({u(random), u(random), depth(random)}, size(random), u(random));
        const float h = box.halfExtents.x;
        vec3d corner[8];
        vec3d lo = box.center, hi = box.center;
        for (int c = 0; c < 8; ++c) {
            corner[c] = box.center + box.axes[0] * ((c & 1) ? h : -h) + box.axes[1] * ((c & 2) ? h : -h)
                + box.axes[2] * ((c & 4) ? h : -h);
            lo = {std::min(lo.x, corner[c].x), std::min(lo.y, corner[c].y), std::min(lo.z, corner[c].z)};
            hi = {std::max(hi.x, corner[c].x), std::max(hi.y, corner[c].y), std::max(hi.z, corner[c].z)};
        }
        const int expected = classifyCorners(v, corner);
        ASSERT_EQ(v.classifyOrientedBox(box), expected) << i;
        ++seen[expected];

        vec3d aligned[8];
        for (int c = 0; c < 8; ++c)
            aligned[c] = {(c & 1) ? hi.x : lo.x, (c & 2) ? hi.y : lo.y, (c & 4) ? hi.z : lo.z};
        ASSERT_EQ(v.classifyBox(lo, hi), classifyCorners(v, aligned)) << i;
    }
    EXPECT_GT(seen[ConvexVolume::inside], 50);
    EXPECT_GT(seen[ConvexVolume::outside], 50);
    EXPECT_GT(seen[ConvexVolume::intersecting], 50);
}

TEST(ConvexVolume, TestPlanesLooksAtTheSidePlanesOnly)
{
    ConvexVolume ortho;
    ortho.setFromMatrix(orthographic(20, 10, 1, 50));
    EXPECT_EQ(ortho.testPlanes({0, 0, 1}), 1); // parallel to every side plane

    ConvexVolume persp;
    persp.setFromMatrix(perspective(1.5707964f, 1.0f, 1.0f, 100.0f));
    EXPECT_EQ(persp.testPlanes({0, 0, 1}), 0);
    // Lies in the near and far planes but in no side plane.
    EXPECT_EQ(persp.testPlanes(vec3d{1, 1, 0}.normalised()), 0);
    // Lies in the left plane x = -z.
    EXPECT_EQ(persp.testPlanes(vec3d{1, 0, -1}.normalised()), 1);
    EXPECT_EQ(persp.testPlanes(vec3d{1, 0.0005f, -1}.normalised()), 1);
    EXPECT_EQ(persp.testPlanes(vec3d{1, 0, -0.99f}.normalised()), 0);
}

TEST(ConvexVolume, TransformMovesEveryPlane)
{
    ConvexVolume v = cube();
    // Turn 90 degrees about z (x goes to y), then move by (100, 0, 0).
    matrix3d m = matrix3d::identity();
    m.at(0, 0) = 0;
    m.at(0, 1) = 1;
    m.at(1, 0) = -1;
    m.at(1, 1) = 0;
    m = m * translation({100, 0, 0});
    v.transform(m);
    // The cube now spans x 90..100, y 0..10.
    EXPECT_EQ(v.classifyPoint({95, 2, 5}), ConvexVolume::inside);
    EXPECT_EQ(v.classifyPoint({5, 5, 5}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyPoint({89, 2, 5}), ConvexVolume::outside);
    EXPECT_EQ(v.classifyBox({91, 1, 1}, {99, 9, 9}), ConvexVolume::inside);
    for (int i = 0; i < v.count; ++i)
        EXPECT_NEAR(v.planes[i].distance, v.planes[i].normal.dot(v.planes[i].point), 1e-4f);
}

// Camera at the origin looking along +z with a 90 degree frustum.
struct PolygonScene : ::testing::Test
{
    void SetUp() override
    {
        cameraPosition = &eye;
        view.setFromMatrix(perspective(1.5707964f, 1.0f, 1.0f, 100.0f));
    }
    void TearDown() override { cameraPosition = nullptr; }

    // In the cone from the eye through the convex polygon at z = 10.
    bool inCone(const vec3d* square, const vec3d& p) const
    {
        if (p.z <= 0)
            return false;
        const vec2d q{p.x * 10 / p.z, p.y * 10 / p.z};
        for (int i = 0; i < 4; ++i) {
            const vec2d a{square[i].x, square[i].y}, b{square[(i + 1) % 4].x, square[(i + 1) % 4].y};
            if ((b - a).cross(q - a) < 0)
                return false;
        }
        return true;
    }

    vec3d eye{0, 0, 0};
    ConvexVolume view;
};

TEST_F(PolygonScene, NarrowsToAPolygonInsideTheView)
{
    const vec3d square[4] = {{-1, -1, 10}, {1, -1, 10}, {1, 1, 10}, {-1, 1, 10}};
    ConvexVolume narrowed;
    ASSERT_TRUE(narrowed.fromPolygon(square, 4, view, {1, 0, 0}, {0, 1, 0}));
    EXPECT_EQ(narrowed.count, 6);
    EXPECT_EQ(narrowed.planes[0].distance, view.planes[0].distance);
    EXPECT_EQ(narrowed.planes[1].distance, view.planes[1].distance);
    EXPECT_EQ(narrowed.classifyPoint({0, 0, 50}), ConvexVolume::inside);
    EXPECT_EQ(narrowed.classifyPoint({4.9f, 4.9f, 50}), ConvexVolume::inside);
    EXPECT_EQ(narrowed.classifyPoint({5.5f, 0, 50}), ConvexVolume::outside);
    EXPECT_EQ(narrowed.classifyPoint({0, -5.5f, 50}), ConvexVolume::outside);
    EXPECT_EQ(narrowed.classifyPoint({-20, 0, 50}), ConvexVolume::outside);
    EXPECT_EQ(view.classifyPoint({-20, 0, 50}), ConvexVolume::inside);
}

TEST_F(PolygonScene, NeverCutsAwayWhatBothTheViewAndThePolygonSee)
{
    // The polygon reaches past the left and top of the view.
    const vec3d square[4] = {{-14, -3, 10}, {4, -3, 10}, {4, 15, 10}, {-14, 15, 10}};
    ConvexVolume narrowed;
    ASSERT_TRUE(narrowed.fromPolygon(square, 4, view, {1, 0, 0}, {0, 1, 0}));
    std::mt19937 random(23);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    int both = 0;
    for (int i = 0; i < 20000; ++i) {
        const vec3d p{u(random), u(random), u(random) * 0.5f + 50};
        if (view.classifyPoint(p) == ConvexVolume::inside && inCone(square, p)) {
            ++both;
            ASSERT_EQ(narrowed.classifyPoint(p), ConvexVolume::inside) << p.x << " " << p.y << " " << p.z;
        }
    }
    EXPECT_GT(both, 500);
}

TEST_F(PolygonScene, RefusesTooFewPointsOrAnEmptySource)
{
    const vec3d points[3] = {{0, 0, 10}, {1, 0, 10}, {0, 1, 10}};
    ConvexVolume narrowed = cube();
    EXPECT_FALSE(narrowed.fromPolygon(points, 2, view, {1, 0, 0}, {0, 1, 0}));
    ConvexVolume empty;
    EXPECT_FALSE(narrowed.fromPolygon(points, 3, empty, {1, 0, 0}, {0, 1, 0}));
    EXPECT_EQ(narrowed.classifyPoint({5, 5, 5}), ConvexVolume::inside); // unchanged
}

}
