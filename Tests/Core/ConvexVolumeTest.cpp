#include "Core/ConvexVolume.h"
#include "Core/Math.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <random>
#include <vector>

namespace
{

constexpr int inside = ConvexVolume::inside, outside = ConvexVolume::outside, across = ConvexVolume::intersecting;

// The box 0..10 on every axis.
ConvexVolume cube()
{
    ConvexVolume v;
    const vec3d normals[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int i = 0; i < 6; ++i) {
        v.planes[i].normal = normals[i];
        v.planes[i].point = i % 2 ? normals[i] * -10.0f : vec3d{};
        v.planes[i].distance = normals[i].dot(v.planes[i].point);
    }
    v.count = 6;
    return v;
}

// Left-handed perspective projection looking along +z.
matrix3d perspective(float fovY, float aspect, float zn, float zf)
{
    matrix3d m;
    m.m[5] = 1.0f / std::tan(fovY / 2);
    m.m[0] = m.m[5] / aspect;
    m.m[10] = zf / (zf - zn);
    m.m[11] = 1.0f;
    m.m[14] = -zn * zf / (zf - zn);
    return m;
}

matrix3d affine(float angleZ, vec3d move)
{
    matrix3d m = matrix3d::identity();
    m.at(0, 0) = m.at(1, 1) = std::cos(angleZ);
    m.at(0, 1) = std::sin(angleZ);
    m.at(1, 0) = -std::sin(angleZ);
    m.m[12] = move.x;
    m.m[13] = move.y;
    m.m[14] = move.z;
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

// Brute force over the corners: outside when all lie outside one plane,
// inside when all lie strictly inside every plane.
int classifyCorners(const ConvexVolume& v, const vec3d corner[8])
{
    int result = inside;
    for (int p = 0; p < v.count; ++p) {
        int out = 0, in = 0;
        for (int c = 0; c < 8; ++c) {
            const float s = v.planes[p].normal.dot(corner[c]) - v.planes[p].distance;
            out += s < 0;
            in += s > 0;
        }
        if (out == 8)
            return outside;
        if (in != 8)
            result = across;
    }
    return result;
}

TEST(ConvexVolume, HandPickedPointsAndBoxes)
{
    // Touching a plane from either side is across it; a cube turned 45 degrees reaches sqrt(2) along x.
    ConvexVolume v = cube();
    EXPECT_EQ(v.classifyBox({0, 1, 1}, {5, 9, 9}), across);
    EXPECT_EQ(v.classifyBox({10, 1, 1}, {12, 9, 9}), across);
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({1, 5, 5}, 1, 0)), across);
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({1.01f, 5, 5}, 1, 0)), inside);
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({1.4f, 5, 5}, 1, 0.7853982f)), across);
    EXPECT_EQ(v.classifyOrientedBox(turnedCube({1.42f, 5, 5}, 1, 0.7853982f)), inside);
    // Points up to 0.001 outside still count as inside.
    EXPECT_EQ(v.classifyPoint({-0.0005f, 5, 5}), inside);
    EXPECT_EQ(v.classifyPoint({5, 5, 10.002f}), outside);
    // Turned so that x goes to y, then moved: x 90..100, y 0..10.
    ConvexVolume moved = cube();
    moved.transform(affine(1.5707964f, {100, 0, 0}));
    EXPECT_EQ(moved.classifyBox({91, 1, 1}, {99, 9, 9}), inside);
    EXPECT_EQ(moved.classifyPoint({89, 2, 5}), outside);
    EXPECT_EQ(moved.classifyPoint({95, -1, 5}), outside);
    v.count = 2; // fewer than 3 planes hold nothing
    EXPECT_EQ(v.classifyPoint({5, 5, 5}), outside);
    EXPECT_EQ(v.classifyBox({4, 4, 4}, {6, 6, 6}), outside);
}

TEST(ConvexVolume, PlanesOfAViewProjection)
{
    // Camera at (10, 0, 0) looking along +z, 90 degrees, near 1, far 100.
    ConvexVolume v;
    v.setFromMatrix(affine(0, {-10, 0, 0}) * perspective(1.5707964f, 1.0f, 1.0f, 100.0f));
    ASSERT_EQ(v.count, 6);
    const float s = std::sqrt(0.5f);
    const vec3d normals[6] = {{0, 0, 1}, {0, 0, -1}, {s, 0, s}, {0, -s, s}, {-s, 0, s}, {0, s, s}};
    for (int i = 0; i < 6; ++i) {
        EXPECT_NEAR((v.planes[i].normal - normals[i]).length(), 0.0f, 1e-4f) << i;
        EXPECT_NEAR(v.planes[i].normal.dot(v.planes[i].point), v.planes[i].distance, 2e-3f) << i;
    }
    for (const vec3d& p : {vec3d{61, 0, 50}, vec3d{10, -55, 50}, vec3d{10, 0, 0.5f}, vec3d{10, 0, 101}})
        EXPECT_EQ(v.classifyPoint(p), outside) << p.x << " " << p.y << " " << p.z;
    EXPECT_EQ(v.classifyPoint({49, 45, 99}), inside);

    // (1, 1, 0) lies in the near and far planes, which do not count.
    EXPECT_EQ(v.testPlanes(vec3d{1, 1, 0}.normalised()), 0);
    EXPECT_EQ(v.testPlanes(vec3d{1, 0.0005f, -1}.normalised()), 1); // within 0.001 of the left plane
    EXPECT_EQ(v.testPlanes(vec3d{1, 0, -0.99f}.normalised()), 0);
}

TEST(ConvexVolume, BoxClassesAgreeWithTheirCorners)
{
    ConvexVolume v;
    v.setFromMatrix(affine(0, {-3, 2, -20}) * perspective(1.0f, 1.5f, 2.0f, 60.0f));
    std::mt19937 random(17);
    std::uniform_real_distribution<float> u(-30.0f, 30.0f), depth(15.0f, 90.0f), size(0.5f, 10.0f);
    int seen[6] = {};
    for (int i = 0; i < 5000; ++i) {
        const OrientedBox box = turnedCube({u(random), u(random), depth(random)}, size(random), u(random));
        const float h = box.halfExtents.x;
        vec3d corner[8], aligned[8];
        vec3d lo = box.center, hi = box.center;
        for (int c = 0; c < 8; ++c) {
            corner[c] = box.center + box.axes[0] * ((c & 1) ? h : -h) + box.axes[1] * ((c & 2) ? h : -h)
                + box.axes[2] * ((c & 4) ? h : -h);
            lo = {std::min(lo.x, corner[c].x), std::min(lo.y, corner[c].y), std::min(lo.z, corner[c].z)};
            hi = {std::max(hi.x, corner[c].x), std::max(hi.y, corner[c].y), std::max(hi.z, corner[c].z)};
        }
        for (int c = 0; c < 8; ++c)
            aligned[c] = {(c & 1) ? hi.x : lo.x, (c & 2) ? hi.y : lo.y, (c & 4) ? hi.z : lo.z};
        const int expected = classifyCorners(v, corner);
        ASSERT_EQ(v.classifyOrientedBox(box), expected) << i;
        ASSERT_EQ(v.classifyBox(lo, hi), classifyCorners(v, aligned)) << i;
        ++seen[expected];
    }
    EXPECT_GT(seen[inside], 50);
    EXPECT_GT(seen[outside], 50);
    EXPECT_GT(seen[across], 50);
}

TEST(ConvexVolume, NarrowingToAPolygonLeavesWhatBothSee)
{
    vec3d eye{0, 0, 0};
    cameraPosition = &eye;
    ConvexVolume view, narrowed;
    view.setFromMatrix(perspective(1.5707964f, 1.0f, 1.0f, 100.0f));
    std::mt19937 random(23);
    std::uniform_real_distribution<float> u(-16.0f, 16.0f), depth(0.5f, 110.0f);
    // Rectangles at z = 10 (left, bottom, right, top). Inside the view the narrowed volume is exactly the
    // pyramid through the rectangle; the last reaches past the view and must only keep what both see.
    for (const auto& [l, b, r, t] : {std::array{-1.0f, -1.0f, 1.0f, 1.0f}, std::array{-6.0f, 2.0f, 3.0f, 8.0f},
                                     std::array{-14.0f, -3.0f, 4.0f, 15.0f}}) {
        const vec3d polygon[4] = {{l, b, 10}, {r, b, 10}, {r, t, 10}, {l, t, 10}};
        ASSERT_TRUE(narrowed.fromPolygon(polygon, 4, view, {1, 0, 0}, {0, 1, 0}));
        int seen = 0;
        for (int i = 0; i < 20000; ++i) {
            const float x = u(random), y = u(random), z = depth(random); // where the ray from the eye meets z = 10
            if (std::min({std::fabs(x - l), std::fabs(x - r), std::fabs(y - b), std::fabs(y - t)}) < 0.01f)
                continue;
            const vec3d p{x * z / 10, y * z / 10, z};
            const bool both = view.classifyPoint(p) == inside && x > l && x < r && y > b && y < t;
            seen += both;
            if (both || t < 10) {
                ASSERT_EQ(narrowed.classifyPoint(p), both ? inside : outside) << x << " " << y << " " << z;
            }
        }
        EXPECT_GT(seen, 50);
    }
    const vec3d three[3] = {{0, 0, 10}, {1, 0, 10}, {0, 1, 10}};
    ConvexVolume kept = cube(), empty;
    EXPECT_FALSE(kept.fromPolygon(three, 2, view, {1, 0, 0}, {0, 1, 0}));
    EXPECT_FALSE(kept.fromPolygon(three, 3, empty, {1, 0, 0}, {0, 1, 0}));
    EXPECT_EQ(kept.classifyPoint({5, 5, 5}), inside); // unchanged
    cameraPosition = nullptr;
}

}

TEST(ConvexVolume, FittingAParallelVolumeToPointsProjectsThemOntoTheSquare)
{
    // The parallel projection a picture camera starts from (depth 100), its
    // volume's planes then moved onto the outermost points.
    matrix3d start;
    start.m[0] = start.m[5] = 2.0f;
    start.m[10] = 1.0f / 100.0f;
    start.m[14] = -1.0f / 100.0f;
    start.m[15] = 1.0f;
    std::mt19937 random(41);
    for (int round = 0; round < 40; ++round) {
        std::uniform_real_distribution<float> spread(0.2f, 30.0f), shift(-20.0f, 20.0f);
        const float sx = spread(random), sy = spread(random), cx = shift(random), cy = shift(random);
        std::uniform_real_distribution<float> ux(cx - sx, cx + sx), uy(cy - sy, cy + sy), uz(1.0f, 50.0f);
        std::vector<vec3d> points(3 + round * 5);
        for (vec3d& p : points)
            p = {ux(random), uy(random), uz(random)};
        ConvexVolume volume;
        volume.setFromMatrix(start);
        for (int k = 0; k < 6; ++k) {
            ConvexVolume::Plane& plane = volume.planes[k];
            plane.point = points[0];
            plane.distance = plane.normal.dot(plane.point);
            for (const vec3d& p : points)
                if ((plane.point - p).dot(plane.normal) > 0.001f) {
                    plane.point = p;
                    plane.distance = plane.normal.dot(p);
                }
        }
        matrix3d projection;
        vec3d centre;
        float width = 0.0f, height = 0.0f;
        ASSERT_TRUE(matrix3d::fitToVolume(volume, projection, centre, width, height)) << round;
        EXPECT_FLOAT_EQ(projection.m[0], 2.0f / width);
        EXPECT_FLOAT_EQ(projection.m[5], 2.0f / height);
        EXPECT_EQ(projection.m[12], 0.0f);
        // The centre lies at the near plane's depth.
        EXPECT_NEAR(centre.z, volume.planes[0].distance, 1e-4f);
        float lowX = 2.0f, highX = -2.0f, lowY = 2.0f, highY = -2.0f;
        for (const vec3d& p : points) {
            const vec3d q = projection.transformPoint(p - centre);
            lowX = std::min(lowX, q.x);
            highX = std::max(highX, q.x);
            lowY = std::min(lowY, q.y);
            highY = std::max(highY, q.y);
        }
        EXPECT_NEAR(lowX, -1.0f, 1e-4f) << round;
        EXPECT_NEAR(highX, 1.0f, 1e-4f) << round;
        EXPECT_NEAR(lowY, -1.0f, 1e-4f) << round;
        EXPECT_NEAR(highY, 1.0f, 1e-4f) << round;
    }
}

TEST(ConvexVolume, FittingAWideningVolumeTakesTheFarCornersAndRefusesBrokenOnes)
{
    ConvexVolume frustum;
    frustum.setFromMatrix(perspective(1.5707964f, 2.0f, 1.0f, 100.0f));
    matrix3d projection;
    vec3d centre{7, 7, 7};
    float width = -1.0f, height = -1.0f;
    ASSERT_TRUE(matrix3d::fitToVolume(frustum, projection, centre, width, height));
    EXPECT_NEAR(width, 400.0f, 0.05f);
    EXPECT_NEAR(height, 200.0f, 0.05f);
    EXPECT_NEAR(centre.x, 0.0f, 1e-3f);
    EXPECT_NEAR(centre.y, 0.0f, 1e-3f);
    EXPECT_NEAR(centre.z, 100.0f, 1e-3f);

    // Too few planes, or two side planes that never meet the cut: outputs untouched.
    ConvexVolume five = frustum;
    five.count = 5;
    ConvexVolume flat = frustum;
    flat.planes[3].normal = flat.planes[2].normal;
    flat.planes[3].distance = flat.planes[2].distance;
    for (const ConvexVolume* broken : {&five, &flat}) {
        vec3d untouched{1, 2, 3};
        float w = -1.0f, h = -1.0f;
        EXPECT_FALSE(matrix3d::fitToVolume(*broken, projection, untouched, w, h));
        EXPECT_EQ(untouched, vec3d(1, 2, 3));
        EXPECT_EQ(w, -1.0f);
    }
}
