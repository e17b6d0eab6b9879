#include "Core/BoundingBox.h"
#include "Core/Math.h"
#include "Core/OrientedBox.h"
#include "Core/Quaternion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace
{

OrientedBox axisBox(vec3d center, vec3d half)
{
    OrientedBox box;
    box.center = center;
    box.axes[0] = {1, 0, 0};
    box.axes[1] = {0, 1, 0};
    box.axes[2] = {0, 0, 1};
    box.halfExtents = half;
    return box;
}

OrientedBox rotatedBox(vec3d center, vec3d half, const quaternion& q)
{
    const float x = q.x, y = q.y, z = q.z, w = q.w;
    OrientedBox box;
    box.center = center;
    box.axes[0] = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)};
    box.axes[1] = {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)};
    box.axes[2] = {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)};
    box.halfExtents = half;
    return box;
}

quaternion randomRotation(std::mt19937& random)
{
    std::normal_distribution<float> n(0.0f, 1.0f);
    quaternion q{n(random), n(random), n(random), n(random)};
    const float length = std::sqrt(q.dot(q));
    return {q.x / length, q.y / length, q.z / length, q.w / length};
}

float component(const vec3d& v, int i) { return i == 0 ? v.x : i == 1 ? v.y : v.z; }

// Box coordinates of p along each axis.
vec3d local(const OrientedBox& box, const vec3d& p)
{
    const vec3d rel = p - box.center;
    return {box.axes[0].dot(rel), box.axes[1].dot(rel), box.axes[2].dot(rel)};
}

bool contains(const OrientedBox& box, const vec3d& p, float slack)
{
    const vec3d l = local(box, p);
    for (int i = 0; i < 3; ++i)
        if (std::fabs(component(l, i)) > component(box.halfExtents, i) + slack)
            return false;
    return true;
}

void corners(const OrientedBox& box, vec3d out[8])
{
    for (int c = 0; c < 8; ++c) {
        vec3d p = box.center;
        for (int i = 0; i < 3; ++i)
            p += box.axes[i] * (component(box.halfExtents, i) * ((c >> i & 1) ? 1.0f : -1.0f));
        out[c] = p;
    }
}

// Slab clipping of the ray in box coordinates: entry parameter and face.
bool slabEntry(const OrientedBox& box, const vec3d& origin, const vec3d& direction, float& tEnter, int& face)
{
    const vec3d o = local(box, origin);
    const vec3d d{box.axes[0].dot(direction), box.axes[1].dot(direction), box.axes[2].dot(direction)};
    tEnter = -1e30f;
    float tExit = 1e30f;
    face = -1;
    for (int i = 0; i < 3; ++i) {
        const float oi = component(o, i), di = component(d, i), e = component(box.halfExtents, i);
        if (di == 0.0f) {
            if (oi < -e || oi > e)
                return false;
            continue;
        }
        float t0 = (-e - oi) / di, t1 = (e - oi) / di;
        int f = 2 * i + 1; // entering through the minus face
        if (t0 > t1) {
            std::swap(t0, t1);
            f = 2 * i;
        }
        if (t0 > tEnter) {
            tEnter = t0;
            face = f;
        }
        tExit = std::min(tExit, t1);
    }
    return tEnter <= tExit;
}

TEST(OrientedBoxRay, FacesOfAnAxisAlignedBox)
{
    const OrientedBox box = axisBox({1, 2, 3}, {1, 2, 3});
    float t = -1;
    EXPECT_EQ(box.intersectRay({10, 2, 3}, {-1, 0, 0}, t), 0);
    EXPECT_FLOAT_EQ(t, 8.0f);
    EXPECT_EQ(boxHitNormal, vec3d(1, 0, 0));

    EXPECT_EQ(box.intersectRay({1, -5, 3}, {0, 2, 0}, t), 3);
    EXPECT_FLOAT_EQ(t, 2.5f); // y from -5 to 0 at speed 2
    EXPECT_EQ(boxHitNormal, vec3d(0, -1, 0));

    // Beyond the +x and +z faces, entering through +z.
    EXPECT_EQ(box.intersectRay({3, 2, 10}, {-2, 0, -7}, t), 4);
    EXPECT_FLOAT_EQ(t, 4.0f / 7.0f);
    EXPECT_EQ(boxHitNormal, vec3d(0, 0, 1));

    // From inside no face is crossed from outside.
    EXPECT_EQ(box.intersectRay({1, 2, 3}, {1, 0, 0}, t), 6);
    EXPECT_EQ(t, 0.0f);
    // Beyond +x and +y, running parallel to y's faces, missing the +x face.
    EXPECT_EQ(box.intersectRay({10, 10, 3}, {-1, 0, 0}, t), 7);
    EXPECT_EQ(t, 0.0f);
    // Beyond +y only and parallel to its face: nothing tried.
    EXPECT_EQ(box.intersectRay({1, 10, 3}, {1, 0, 0}, t), 6);
    // Along an edge: hit points on the boundary of a face do not count.
    EXPECT_EQ(box.intersectRay({10, 4, 3}, {-1, 0, 0}, t), 7);
}

TEST(OrientedBoxRay, RotatedBoxFromAlongMinusAxisZero)
{
    const OrientedBox box = rotatedBox({5, -1, 2}, {2, 1, 0.5f}, {0.2f, 0.4f, 0.4f, 0.8f});
    const vec3d origin = box.center + box.axes[0] * 10.0f;
    float t = 0;
    EXPECT_EQ(box.intersectRay(origin, -box.axes[0], t), 0);
    EXPECT_NEAR(t, 8.0f, 1e-4f);
    EXPECT_NEAR(boxHitNormal.x, box.axes[0].x, 1e-6f);
    EXPECT_NEAR(boxHitNormal.y, box.axes[0].y, 1e-6f);
    EXPECT_NEAR(boxHitNormal.z, box.axes[0].z, 1e-6f);
}

TEST(OrientedBoxRay, AgreesWithSlabClippingOnRandomRays)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<float> u(-6.0f, 6.0f);
    std::uniform_real_distribution<float> size(0.3f, 3.0f);
    int hits = 0, checked = 0;
    for (int i = 0; i < 5000; ++i) {
        const OrientedBox box = rotatedBox({u(random), u(random), u(random)}, {size(random), size(random), size(random)},
                                           randomRotation(random));
        const vec3d origin{u(random) * 2, u(random) * 2, u(random) * 2};
        const vec3d target = box.center + vec3d{u(random), u(random), u(random)} * 0.5f;
        const vec3d direction = (target - origin).normalised();
        if (contains(box, origin, 1e-3f))
            continue;
        float expectedT;
        int expectedFace;
        const bool hit = slabEntry(box, origin, direction, expectedT, expectedFace);
        // Skip grazing rays whose answer turns on rounding.
        if (hit && expectedT > 0) {
            const vec3d p = local(box, origin + direction * expectedT);
            bool nearEdge = false;
            for (int a = 0; a < 3; ++a)
                if (a != expectedFace / 2 && std::fabs(component(p, a)) > component(box.halfExtents, a) - 1e-3f)
                    nearEdge = true;
            if (nearEdge)
                continue;
        }
        float t = 0;
        const int face = box.intersectRay(origin, direction, t);
        ++checked;
        if (hit && expectedT > 0) {
            ++hits;
            ASSERT_EQ(face, expectedFace) << i;
            EXPECT_NEAR(t, expectedT, 1e-3f * std::max(1.0f, expectedT));
            const vec3d& axis = box.axes[face / 2];
            const vec3d normal = (face & 1) ? -axis : axis;
            EXPECT_NEAR(boxHitNormal.dot(normal), 1.0f, 1e-5f);
        } else {
            // A miss, or a face reported behind the origin.
            EXPECT_TRUE(face == 7 || face == 6 || t < 0) << i << " face " << face << " t " << t;
        }
    }
    EXPECT_GT(hits, 1000);
    EXPECT_GT(checked, 3000);
}

TEST(BoundingBoxRay, HitsMissesAndInside)
{
    BoundingBox box;
    box.minimum = {0, 0, 0};
    box.maximum = {1, 1, 1};
    box.center = {0.5f, 0.5f, 0.5f};
    float t = -1;
    EXPECT_TRUE(box.intersectRay({0.5f, 0.5f, 0.5f}, {0, 1, 0}, t));
    EXPECT_EQ(t, 0.0f);
    EXPECT_TRUE(box.intersectRay({-5, 0.5f, 0.5f}, {1, 0, 0}, t));
    EXPECT_FLOAT_EQ(t, 5.0f);
    EXPECT_TRUE(box.intersectRay({0.5f, 0.5f, 9}, {0, 0, -2}, t));
    EXPECT_FLOAT_EQ(t, 4.0f);
    // The bounds belong to the box: a ray along an edge hits.
    EXPECT_TRUE(box.intersectRay({-5, 1, 1}, {1, 0, 0}, t));
    EXPECT_FLOAT_EQ(t, 5.0f);
    EXPECT_FALSE(box.intersectRay({-5, 1.01f, 0.5f}, {1, 0, 0}, t));
    EXPECT_EQ(t, 0.0f);
    // Below in y and parallel to that face: nothing can be tried, yet it is outside.
    t = -1;
    EXPECT_FALSE(box.intersectRay({-5, -1, 0.5f}, {1, 0, 0}, t));
    EXPECT_EQ(t, 0.0f);
}

TEST(BoundingBoxRay, AgreesWithSlabClippingOnRandomRays)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> u(-6.0f, 6.0f);
    int hits = 0;
    for (int i = 0; i < 5000; ++i) {
        BoundingBox box;
        const vec3d a{u(random), u(random), u(random)};
        const vec3d b{u(random), u(random), u(random)};
        box.minimum = {std::min(a.x, b.x), std::min(a.y, b.y), std::min(a.z, b.z)};
        box.maximum = {std::max(a.x, b.x), std::max(a.y, b.y), std::max(a.z, b.z)};
        box.center = (box.minimum + box.maximum) * 0.5f;
        const OrientedBox same = axisBox(box.center, (box.maximum - box.minimum) * 0.5f);
        const vec3d origin{u(random) * 2, u(random) * 2, u(random) * 2};
        const vec3d direction = (box.center + vec3d{u(random), u(random), u(random)} * 0.3f - origin).normalised();
        if (contains(same, origin, 1e-3f))
            continue;
        float expectedT;
        int face;
        const bool hit = slabEntry(same, origin, direction, expectedT, face);
        if (!hit || expectedT <= 0)
            continue;
        const vec3d p = local(same, origin + direction * expectedT);
        bool nearEdge = false;
        for (int k = 0; k < 3; ++k)
            if (k != face / 2 && std::fabs(component(p, k)) > component(same.halfExtents, k) - 1e-3f)
                nearEdge = true;
        if (nearEdge)
            continue;
        float t = 0;
        ASSERT_TRUE(box.intersectRay(origin, direction, t)) << i;
        EXPECT_NEAR(t, expectedT, 1e-3f * std::max(1.0f, expectedT));
        ++hits;
    }
    EXPECT_GT(hits, 1000);
}

TEST(BoundingBoxCameraDistance, HorizontalDistanceOnly)
{
    BoundingBox box;
    box.minimum = {0, 0, 0};
    box.maximum = {2, 2, 2};
    box.center = {1, 1, 1};
    vec3d camera{1, 50, 1};
    cameraPosition = &camera;
    EXPECT_EQ(box.distanceSqToCameraXZ(), 0.0f);
    camera = {6, -3, -3}; // 4 beyond max x, 3 below min z
    EXPECT_FLOAT_EQ(box.distanceSqToCameraXZ(), 25.0f);
    camera = {1, 0, 5}; // over the box in x
    EXPECT_FLOAT_EQ(box.distanceSqToCameraXZ(), 9.0f);
    camera = {-1, 7, 0.5f};
    EXPECT_FLOAT_EQ(box.distanceSqToCameraXZ(), 1.0f);
    cameraPosition = nullptr; // the origin stands in
    box.minimum = {3, 0, 4};
    box.maximum = {5, 1, 6};
    box.center = {4, 0.5f, 5};
    EXPECT_FLOAT_EQ(box.distanceSqToCameraXZ(), 25.0f);
}

TEST(OrientedBoxExtend, ToPointGrowsOnlyTheAxesNeeded)
{
    OrientedBox box = rotatedBox({1, 1, 1}, {1, 1, 1}, {0, 0, std::sqrt(0.5f), std::sqrt(0.5f)});
    box.extendToPoint({1, 4, 1.5f}); // 3 along axis 0 (which is +y), 0.5 along z
    EXPECT_NEAR(box.halfExtents.x, 3.0f, 1e-5f);
    EXPECT_EQ(box.halfExtents.y, 1.0f);
    EXPECT_EQ(box.halfExtents.z, 1.0f);
    EXPECT_EQ(box.center, vec3d(1, 1, 1));
}

TEST(OrientedBoxExtend, ToBox)
{
    // A box inside changes nothing.
    OrientedBox b = axisBox({0, 0, 0}, {1, 1, 1});
    b.extendToBox(axisBox({0.2f, 0.1f, 0}, {0.5f, 0.5f, 0.5f}));
    EXPECT_NEAR(b.center.x, 0, 1e-3f);
    EXPECT_NEAR(b.center.y, 0, 1e-3f);
    EXPECT_NEAR(b.halfExtents.x, 1, 1e-3f);
    EXPECT_NEAR(b.halfExtents.y, 1, 1e-3f);
    EXPECT_NEAR(b.halfExtents.z, 1, 1e-3f);

    // A box sticking out along +x: x now spans -1..3.
    b.extendToBox(axisBox({2, 0, 0}, {1, 0.5f, 0.5f}));
    EXPECT_NEAR(b.center.x, 1, 1e-5f);
    EXPECT_NEAR(b.halfExtents.x, 2, 1e-5f);
    EXPECT_NEAR(b.halfExtents.y, 1, 1e-5f);

    // A unit cube turned 45 degrees about z reaches sqrt(2) along x and y.
    OrientedBox c = axisBox({0, 0, 0}, {1, 1, 1});
    c.extendToBox(rotatedBox({0, 0, 0}, {1, 1, 1}, {0, 0, std::sin(0.3926991f), std::cos(0.3926991f)}));
    EXPECT_NEAR(c.halfExtents.x, std::sqrt(2.0f), 1e-4f);
    EXPECT_NEAR(c.halfExtents.y, std::sqrt(2.0f), 1e-4f);
    EXPECT_NEAR(c.halfExtents.z, 1.0f, 1e-5f);
    EXPECT_NEAR(c.center.x, 0.0f, 1e-5f);
}

TEST(OrientedBoxExtend, ToRandomBoxesHoldsBoth)
{
    std::mt19937 random(9);
    std::uniform_real_distribution<float> u(-4.0f, 4.0f);
    std::uniform_real_distribution<float> size(0.1f, 3.0f);
    for (int i = 0; i < 500; ++i) {
        OrientedBox b = rotatedBox({u(random), u(random), u(random)}, {size(random), size(random), size(random)},
                                   randomRotation(random));
        const OrientedBox a = rotatedBox({u(random), u(random), u(random)}, {size(random), size(random), size(random)},
                                         randomRotation(random));
        vec3d before[8], added[8];
        corners(b, before);
        corners(a, added);
        b.extendToBox(a);
        for (int c = 0; c < 8; ++c) {
            EXPECT_TRUE(contains(b, added[c], 2e-3f)) << i;
            EXPECT_TRUE(contains(b, before[c], 2e-3f)) << i;
        }
    }
}

// Exact test for solid boxes: they meet when a corner of one lies in the
// other or an edge of one passes through the other.
bool segmentMeetsBox(const OrientedBox& box, const vec3d& p0, const vec3d& p1)
{
    const vec3d o = local(box, p0);
    const vec3d d = local(box, p1) - o;
    float t0 = 0, t1 = 1;
    for (int i = 0; i < 3; ++i) {
        const float oi = component(o, i), di = component(d, i), e = component(box.halfExtents, i);
        if (di == 0) {
            if (oi < -e || oi > e)
                return false;
            continue;
        }
        float a = (-e - oi) / di, b = (e - oi) / di;
        if (a > b)
            std::swap(a, b);
        t0 = std::max(t0, a);
        t1 = std::min(t1, b);
    }
    return t0 <= t1;
}

bool boxesMeet(const OrientedBox& a, const OrientedBox& b)
{
    const OrientedBox* boxes[2] = {&a, &b};
    for (int k = 0; k < 2; ++k) {
        const OrientedBox& one = *boxes[k];
        const OrientedBox& other = *boxes[1 - k];
        vec3d c[8];
        corners(one, c);
        for (int i = 0; i < 8; ++i)
            for (int bit = 0; bit < 3; ++bit)
                if (!(i >> bit & 1) && segmentMeetsBox(other, c[i], c[i | 1 << bit]))
                    return true;
    }
    return false;
}

OrientedBox scaled(OrientedBox box, float f)
{
    box.halfExtents = box.halfExtents * f;
    return box;
}

TEST(OrientedBoxOverlap, HandPickedCases)
{
    const OrientedBox a = axisBox({0, 0, 0}, {1, 1, 1});
    EXPECT_TRUE(OrientedBox::overlaps(a, axisBox({1.5f, 0, 0}, {1, 1, 1})));
    EXPECT_FALSE(OrientedBox::overlaps(a, axisBox({2.5f, 0, 0}, {1, 1, 1})));
    // Touching faces count as overlapping.
    EXPECT_TRUE(OrientedBox::overlaps(a, axisBox({2, 0, 0}, {1, 1, 1})));
    // A cube turned 45 degrees about z, its edge pointing at a's face.
    const quaternion turn{0, 0, std::sin(0.3926991f), std::cos(0.3926991f)};
    EXPECT_TRUE(OrientedBox::overlaps(a, rotatedBox({2.3f, 0, 0}, {1, 1, 1}, turn)));
    EXPECT_FALSE(OrientedBox::overlaps(a, rotatedBox({2.5f, 0, 0}, {1, 1, 1}, turn)));
}

TEST(OrientedBoxOverlap, AgreesWithEdgeAndCornerTests)
{
    std::mt19937 random(13);
    std::uniform_real_distribution<float> u(-3.0f, 3.0f);
    std::uniform_real_distribution<float> size(0.1f, 2.0f);
    int apart = 0, meeting = 0, edgeOnly = 0;
    for (int i = 0; i < 4000; ++i) {
        const OrientedBox a = rotatedBox({u(random), u(random), u(random)}, {size(random), size(random), size(random)},
                                         randomRotation(random));
        const OrientedBox b = rotatedBox({u(random), u(random), u(random)}, {size(random), size(random), size(random)},
                                         randomRotation(random));
        const bool meet = boxesMeet(a, b);
        // Leave out pairs that only just touch or miss.
        if (meet != boxesMeet(scaled(a, 0.99f), scaled(b, 0.99f)) || meet != boxesMeet(scaled(a, 1.01f), scaled(b, 1.01f)))
            continue;
        ASSERT_EQ(OrientedBox::overlaps(a, b), meet) << i;
        ASSERT_EQ(OrientedBox::overlaps(b, a), meet) << i;
        (meet ? meeting : apart)++;
        // Pairs that no face axis separates but an edge axis does.
        if (!meet) {
            bool faceSeparates = false;
            for (const OrientedBox* box : {&a, &b})
                for (const vec3d& axis : box->axes) {
                    float ra = 0, rb = 0;
                    for (int k = 0; k < 3; ++k) {
                        ra += component(a.halfExtents, k) * std::fabs(a.axes[k].dot(axis));
                        rb += component(b.halfExtents, k) * std::fabs(b.axes[k].dot(axis));
                    }
                    faceSeparates = faceSeparates || std::fabs((b.center - a.center).dot(axis)) > ra + rb;
                }
            edgeOnly += faceSeparates ? 0 : 1;
        }
    }
    EXPECT_GT(apart, 500);
    EXPECT_GT(meeting, 500);
    EXPECT_GT(edgeOnly, 0);
}

}
