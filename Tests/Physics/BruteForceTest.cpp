#include "CollisionTestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace
{

// The closest point of a triangle to p: the projection when it falls inside,
// else the nearest point of the three edges.
vec3d closestOnTriangle(const vec3d& p, const vec3d& a, const vec3d& b, const vec3d& c)
{
    const vec3d n = (b - a).cross(c - a).normalised();
    const vec3d q = p - n * n.dot(p - a);
    const vec3d corners[3] = {a, b, c};
    bool inside = true;
    for (int k = 0; k < 3; ++k)
        inside = inside && (corners[(k + 1) % 3] - corners[k]).cross(q - corners[k]).dot(n) >= 0.0f;
    if (inside)
        return q;
    vec3d best;
    float bestSq = 1e30f;
    for (int k = 0; k < 3; ++k) {
        const vec3d e = corners[(k + 1) % 3] - corners[k];
        const float t = std::clamp(e.dot(p - corners[k]) / e.dot(e), 0.0f, 1.0f);
        const vec3d x = corners[k] + e * t;
        if ((x - p).lengthSq() < bestSq) {
            bestSq = (x - p).lengthSq();
            best = x;
        }
    }
    return best;
}

TEST(BruteForce, SphereAgainstTerrainFindsTheNearestTriangle)
{
    std::mt19937 random(31);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int contacts = 0;
    for (int round = 0; round < 400; ++round) {
        QueryTriangles t;
        for (int k = 0; k < 32; ++k) {
            const vec3d centre{u(random) * 3, u(random) * 0.5f, u(random) * 3};
            vec3d v[3];
            for (vec3d& x : v)
                x = centre + vec3d{u(random), u(random) * 0.3f, u(random)};
            if ((v[1] - v[0]).cross(v[2] - v[0]).length() < 0.05f)
                continue;
            t.add(v[0], v[1], v[2], uint32_t(k));
        }
        const float radius = 0.2f + (u(random) + 1.0f) * 0.3f;
        const vec3d c{u(random) * 3, u(random) * 0.8f, u(random) * 3};
        float nearest = 1e30f;
        for (const neTriangle& tri : t.triangles)
            nearest = std::min(nearest, (closestOnTriangle(c, t.vertices[size_t(tri.indices[0])], t.vertices[size_t(tri.indices[1])],
                                                           t.vertices[size_t(tri.indices[2])]) - c).length());
        const neCollisionResult r = collide(makeSphere(radius), translation(c), t.finish(), matrix3d::identity());
        if (absFloat(radius - nearest) < 1e-3f)
            continue; // within the table root's reach of touching
        ASSERT_EQ(r.collided, uint32_t(radius > nearest)) << round;
        if (!r.collided)
            continue;
        ++contacts;
        EXPECT_NEAR(r.depth, radius - nearest, 2e-4f) << round;
        EXPECT_NEAR((r.pointB - (c - r.normal() * nearest)).length(), 0.0f, 2e-3f) << round;
    }
    EXPECT_GT(contacts, 100);
}

// A box over many triangles gets the deepest of the contacts it has with
// each triangle alone (the first of equal ones), with that triangle's material.
TEST(BruteForce, BoxAgainstTerrainTakesTheDeepestTriangle)
{
    std::mt19937 random(37);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int contacts = 0;
    for (int round = 0; round < 300; ++round) {
        QueryTriangles t;
        for (int k = 0; k < 32; ++k) {
            const vec3d centre{u(random) * 2, u(random) * 0.4f, u(random) * 2};
            t.add(centre + vec3d{u(random), u(random) * 0.3f, u(random)}, centre + vec3d{u(random), u(random) * 0.3f, u(random)},
                  centre + vec3d{u(random), u(random) * 0.3f, u(random)}, uint32_t(k));
        }
        const neGeometry box = makeBox({0.3f + 0.3f * (u(random) + 1), 0.2f + 0.2f * (u(random) + 1), 0.5f});
        const matrix3d pose = rotation({u(random), 1, u(random)}, u(random), {u(random), 0.3f + u(random) * 0.5f, u(random)});
        float deepest = -1.0f;
        uint32_t material = 0;
        for (size_t k = 0; k < t.triangles.size(); ++k) {
            QueryTriangles one;
            const neTriangle& tri = t.triangles[k];
            one.add(t.vertices[size_t(tri.indices[0])], t.vertices[size_t(tri.indices[1])], t.vertices[size_t(tri.indices[2])]);
            const neCollisionResult single = collide(box, pose, one.finish(), matrix3d::identity());
            if (single.collided && single.depth > deepest) {
                deepest = single.depth;
                material = tri.userData;
            }
        }
        const neCollisionResult r = collide(box, pose, t.finish(), matrix3d::identity());
        ASSERT_EQ(r.collided, uint32_t(deepest >= 0.0f)) << round;
        if (!r.collided)
            continue;
        ++contacts;
        EXPECT_EQ(r.depth, deepest) << round;
        EXPECT_EQ(r.userDataB, material) << round;
    }
    EXPECT_GT(contacts, 100);
}

// The feature search on blocks that describe two boxes answers as the box
// test does: the same contact flag and the same depth.
TEST(BruteForce, BoxesAgainstTheFeatureSearchOnBlocks)
{
    std::mt19937 random(77);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const vec3d halfA{0.4f, 0.7f, 0.5f}, halfB{0.9f, 0.2f, 0.6f};
    const ConvexBlock blockA = ConvexBlock::box(halfA), blockB = ConvexBlock::box(halfB);
    const neGeometry boxA = makeBox(halfA), boxB = makeBox(halfB);
    int contacts = 0;
    for (int i = 0; i < 3000; ++i) {
        const matrix3d wa = rotation({u(random), u(random), u(random) + 0.01f}, u(random) * 3,
                                     {u(random) * 1.4f, u(random) * 1.4f, u(random) * 1.4f});
        const matrix3d wb = rotation({u(random), u(random), u(random) + 0.01f}, u(random) * 3, {});
        const neCollisionResult boxes = collide(boxA, wa, boxB, wb);
        const neCollisionResult blocks = collide(blockA.geometry, wa, blockB.geometry, wb);
        const neCollisionResult mixed = collide(boxA, wa, blockB.geometry, wb);
        ASSERT_EQ(blocks.collided, boxes.collided) << i;
        ASSERT_EQ(mixed.collided, boxes.collided) << i;
        if (!boxes.collided)
            continue;
        ++contacts;
        EXPECT_NEAR(blocks.depth, boxes.depth, 1e-3f) << i;
        EXPECT_NEAR(mixed.depth, boxes.depth, 1e-3f) << i;
    }
    EXPECT_GT(contacts, 1000);
}

// A box block on one terrain triangle finds the same separating axes as the
// box test does (the triangle's edges among them).
TEST(BruteForce, BoxBlockAgainstATriangle)
{
    std::mt19937 random(8);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    const vec3d half{0.5f, 0.3f, 0.7f};
    const ConvexBlock block = ConvexBlock::box(half);
    const neGeometry box = makeBox(half);
    int contacts = 0;
    for (int i = 0; i < 3000; ++i) {
        QueryTriangles t;
        t.add({u(random) * 2, u(random), u(random) * 2}, {u(random) * 2, u(random), u(random) * 2},
              {u(random) * 2, u(random), u(random) * 2});
        const matrix3d pose = rotation({u(random), u(random), u(random) + 0.01f}, u(random) * 3,
                                       {u(random) * 0.8f, u(random) * 0.8f, u(random) * 0.8f});
        const neCollisionResult viaBox = collide(box, pose, t.finish(), matrix3d::identity());
        const neCollisionResult viaBlock = collide(block.geometry, pose, t.finish(), matrix3d::identity());
        ASSERT_EQ(viaBlock.collided, viaBox.collided) << i;
        contacts += viaBox.collided;
    }
    EXPECT_GT(contacts, 500);
}

// The closest points of a segment and a box against a fine search along the segment.
TEST(BruteForce, SegmentAgainstBox)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int i = 0; i < 3000; ++i) {
        const vec3d h{0.1f + (u(random) + 1.0f), 0.1f + (u(random) + 1.0f), (u(random) + 1.0f) * 0.5f};
        const vec3d a{u(random) * 4, u(random) * 4, u(random) * 4};
        const vec3d b = i % 10 == 0 ? a : vec3d{u(random) * 4, u(random) * 4, u(random) * 4};
        vec3d onSegment, onBox;
        neSegmentBoxClosest(h, a, b, onSegment, onBox);
        const auto distance = [&](float t) {
            const vec3d p = a + (b - a) * t;
            const vec3d q{std::clamp(p.x, -h.x, h.x), std::clamp(p.y, -h.y, h.y), std::clamp(p.z, -h.z, h.z)};
            return (p - q).length();
        };
        // The distance along the segment is convex: a ternary search finds its least value.
        float lo = 0.0f, hi = 1.0f;
        for (int k = 0; k < 100; ++k) {
            const float m1 = lo + (hi - lo) / 3, m2 = hi - (hi - lo) / 3;
            if (distance(m1) < distance(m2))
                hi = m2;
            else
                lo = m1;
        }
        const float best = std::min({distance(0.0f), distance(1.0f), distance((lo + hi) / 2)});
        ASSERT_NEAR((onSegment - onBox).length(), best, 1e-4f) << i;
        ASSERT_LE(absFloat(onBox.x), h.x);
        ASSERT_LE(absFloat(onBox.y), h.y);
        ASSERT_LE(absFloat(onBox.z), h.z);
    }
}

} // namespace
