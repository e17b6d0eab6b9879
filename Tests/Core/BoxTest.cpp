#include "Core/BoundingBox.h"
#include "Core/Math.h"
#include "Core/OrientedBox.h"
#include "Core/Quaternion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <tuple>

namespace
{

float component(const vec3d& v, int i) { return i == 0 ? v.x : i == 1 ? v.y : v.z; }

OrientedBox makeBox(vec3d center, vec3d half, const quaternion& q = {})
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

OrientedBox randomBox(std::mt19937& random, float spread, float minHalf, float maxHalf, bool turned = true)
{
    std::uniform_real_distribution<float> u(-spread, spread), size(minHalf, maxHalf);
    std::normal_distribution<float> n(0.0f, 1.0f);
    quaternion q{n(random), n(random), n(random), n(random)};
    const float length = std::sqrt(q.dot(q));
    q = turned ? quaternion{q.x / length, q.y / length, q.z / length, q.w / length} : quaternion{};
    return makeBox({u(random), u(random), u(random)}, {size(random), size(random), size(random)}, q);
}

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
        out[c] = box.center;
        for (int i = 0; i < 3; ++i)
            out[c] += box.axes[i] * (component(box.halfExtents, i) * ((c >> i & 1) ? 1.0f : -1.0f));
    }
}

// Slab clipping in box coordinates: the entry face and parameter; -1 for a
// miss or a face behind the origin, -2 when the hit lies within 0.001 of an
// edge, where the answer turns on rounding. A direction parallel to a slab
// gives infinite parameters, which clip as they should.
int slabEntry(const OrientedBox& box, const vec3d& origin, const vec3d& direction, float& tEnter)
{
    const vec3d o = local(box, origin);
    const vec3d d{box.axes[0].dot(direction), box.axes[1].dot(direction), box.axes[2].dot(direction)};
    float tExit = 1e30f;
    tEnter = -1e30f;
    int face = -1;
    for (int i = 0; i < 3; ++i) {
        const float oi = component(o, i), di = component(d, i), e = component(box.halfExtents, i);
        const float t0 = (-e - oi) / di, t1 = (e - oi) / di;
        if (std::min(t0, t1) > tEnter) {
            tEnter = std::min(t0, t1);
            face = 2 * i + (t0 < t1 ? 1 : 0);
        }
        tExit = std::min(tExit, std::max(t0, t1));
    }
    if (tEnter > tExit || tEnter <= 0)
        return -1;
    const vec3d p = local(box, origin + direction * tEnter);
    for (int a = 0; a < 3; ++a)
        if (a != face / 2 && std::fabs(component(p, a)) > component(box.halfExtents, a) - 1e-3f)
            return -2;
    return face;
}

TEST(BoxRay, HandPickedRays)
{
    // The same box both ways: 0..2, 0..4, 0..6.
    const OrientedBox box = makeBox({1, 2, 3}, {1, 2, 3});
    BoundingBox aligned;
    aligned.maximum = {2, 4, 6};
    // Origin, direction; face and t for the oriented box; hit and t for the aligned one.
    const std::tuple<vec3d, vec3d, int, float, bool, float> cases[] = {
        {{1, -5, 3}, {0, 2, 0}, 3, 2.5f, true, 2.5f}, // t in units of the direction
        {{1, 2, 3}, {1, 0, 0}, 6, 0, true, 0},        // from inside
        {{10, 10, 3}, {-1, 0, 0}, 7, 0, false, 0},    // misses the +x face
        {{10, 4, 3}, {-1, 0, 0}, 7, 0, true, 8},      // along an edge: only the aligned box holds its bounds
    };
    for (const auto& [origin, direction, face, faceT, hit, hitT] : cases) {
        float t = -1;
        EXPECT_EQ(box.intersectRay(origin, direction, t), face) << origin.x << " " << origin.y;
        EXPECT_FLOAT_EQ(t, faceT);
        EXPECT_EQ(aligned.intersectRay(origin, direction, t), hit) << origin.x << " " << origin.y;
        EXPECT_FLOAT_EQ(t, hitT);
    }
    float t = -1;
    EXPECT_EQ(box.intersectRay({1, 10, 3}, {1, 0, 0}, t), 6); // parallel to the face it lies beyond
}

TEST(BoxRay, AgreesWithSlabClippingOnRandomRays)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    int hits = 0;
    for (int i = 0; i < 6000; ++i) {
        const bool turned = i % 2 == 0;
        const OrientedBox box = randomBox(random, 6, 0.3f, 3, turned);
        const vec3d origin{u(random) * 12, u(random) * 12, u(random) * 12};
        const vec3d direction = (box.center + vec3d{u(random), u(random), u(random)} * 3 - origin).normalised();
        float expectedT, t = 0;
        const int expected = slabEntry(box, origin, direction, expectedT);
        if (contains(box, origin, 1e-3f) || expected == -2)
            continue;
        const int face = box.intersectRay(origin, direction, t);
        if (expected < 0) {
            EXPECT_TRUE(face >= 6 || t < 0) << i << " face " << face << " t " << t;
            continue;
        }
        ++hits;
        ASSERT_EQ(face, expected) << i;
        EXPECT_NEAR(t, expectedT, 1e-3f * std::max(1.0f, expectedT)) << i;
        const vec3d normal = (face & 1) ? -box.axes[face / 2] : box.axes[face / 2];
        EXPECT_NEAR(boxHitNormal.dot(normal), 1.0f, 1e-5f) << i;
        if (!turned) {
            BoundingBox aligned;
            aligned.minimum = box.center - box.halfExtents;
            aligned.maximum = box.center + box.halfExtents;
            ASSERT_TRUE(aligned.intersectRay(origin, direction, t)) << i;
            EXPECT_NEAR(t, expectedT, 1e-3f * std::max(1.0f, expectedT)) << i;
        }
    }
    EXPECT_GT(hits, 2000);
}

TEST(BoundingBox, HorizontalDistanceToTheCamera)
{
    BoundingBox box;
    box.maximum = {2, 2, 2};
    box.center = {1, 1, 1};
    vec3d camera;
    cameraPosition = &camera;
    const std::pair<vec3d, float> cases[] = {{{1, 50, 1}, 0}, {{6, -3, -3}, 25}, {{1, 0, 5}, 9}, {{-1, 7, 0.5f}, 1}};
    for (const auto& [at, expected] : cases) {
        camera = at;
        EXPECT_FLOAT_EQ(box.distanceSqToCameraXZ(), expected) << at.x << " " << at.z;
    }
    cameraPosition = nullptr;
}

TEST(OrientedBox, ExtendingKeepsTheAxesAndFitsTightly)
{
    // Turned 90 degrees about z: axis 0 is +y.
    OrientedBox box = makeBox({1, 1, 1}, {1, 1, 1}, {0, 0, std::sqrt(0.5f), std::sqrt(0.5f)});
    box.extendToPoint({1, 4, 1.5f});
    EXPECT_NEAR(box.halfExtents.x, 3.0f, 1e-5f);
    EXPECT_EQ(box.halfExtents.y, 1.0f);
    EXPECT_EQ(box.halfExtents.z, 1.0f);
    EXPECT_EQ(box.center, vec3d(1, 1, 1));

    // Each face of the grown box stays put or moves out to the farthest corner added.
    std::mt19937 random(9);
    for (int i = 0; i < 500; ++i) {
        OrientedBox b = randomBox(random, 4, 0.1f, 3);
        const OrientedBox a = randomBox(random, 4, 0.1f, 3);
        vec3d held[16];
        corners(b, held);
        corners(a, held + 8);
        b.extendToBox(a);
        for (int k = 0; k < 3; ++k) {
            float high = -1e30f, low = 1e30f;
            for (const vec3d& p : held) {
                high = std::max(high, b.axes[k].dot(p));
                low = std::min(low, b.axes[k].dot(p));
            }
            const float c = b.axes[k].dot(b.center), e = component(b.halfExtents, k);
            EXPECT_NEAR(c + e, high, 2e-3f) << i;
            EXPECT_NEAR(c - e, low, 2e-3f) << i;
        }
    }
}

// Solid boxes meet when an edge of one passes through the other.
bool boxesMeet(const OrientedBox& a, const OrientedBox& b, float scale)
{
    OrientedBox boxes[2] = {a, b};
    for (OrientedBox& box : boxes)
        box.halfExtents = box.halfExtents * scale;
    for (int k = 0; k < 2; ++k) {
        vec3d c[8];
        corners(boxes[k], c);
        for (int i = 0; i < 8; ++i)
            for (int bit = 0; bit < 3; ++bit) {
                const vec3d &p0 = c[i], &p1 = c[i | 1 << bit];
                float t;
                if (contains(boxes[1 - k], p0, 0) || (slabEntry(boxes[1 - k], p0, p1 - p0, t) != -1 && t <= 1))
                    return true;
            }
    }
    return false;
}

TEST(OrientedBox, OverlapAgreesWithEdgeTests)
{
    const OrientedBox unit = makeBox({0, 0, 0}, {1, 1, 1});
    EXPECT_TRUE(OrientedBox::overlaps(unit, makeBox({2, 0, 0}, {1, 1, 1}))); // touching faces
    EXPECT_FALSE(OrientedBox::overlaps(unit, makeBox({2.01f, 0, 0}, {1, 1, 1})));

    std::mt19937 random(13);
    int apart = 0, meeting = 0;
    for (int i = 0; i < 4000; ++i) {
        const OrientedBox a = randomBox(random, 3, 0.1f, 2), b = randomBox(random, 3, 0.1f, 2);
        const bool meet = boxesMeet(a, b, 1);
        if (meet != boxesMeet(a, b, 0.99f) || meet != boxesMeet(a, b, 1.01f))
            continue; // only just touching or missing
        ASSERT_EQ(OrientedBox::overlaps(a, b), meet) << i;
        ASSERT_EQ(OrientedBox::overlaps(b, a), meet) << i;
        (meet ? meeting : apart)++;
    }
    EXPECT_GT(apart, 500);
    EXPECT_GT(meeting, 500);
}

}

namespace
{

// A rotation from a random box's axes, scaled per axis, then moved.
matrix3d randomPlacement(std::mt19937& random)
{
    std::uniform_real_distribution<float> scale(0.3f, 3.0f), at(-50.0f, 50.0f);
    const OrientedBox turn = randomBox(random, 1.0f, 1.0f, 1.0f);
    matrix3d m = matrix3d::identity();
    for (int r = 0; r < 3; ++r) {
        const float s = scale(random);
        m.at(r, 0) = turn.axes[r].x * s;
        m.at(r, 1) = turn.axes[r].y * s;
        m.at(r, 2) = turn.axes[r].z * s;
    }
    m.at(3, 0) = at(random), m.at(3, 1) = at(random), m.at(3, 2) = at(random);
    return m;
}

}

// Boxes carried by placements hold every carried corner and touch the
// carried corners on each face; the inverse undoes a placement.
TEST(BoxTransforms, CarriedBoxesAreTightAndInversesUndoPlacements)
{
    std::mt19937 random(123);
    for (int round = 0; round < 200; ++round) {
        const matrix3d m = randomPlacement(random);
        matrix3d inverse;
        ASSERT_TRUE(m.inverseAffine(inverse));
        const matrix3d product = m * inverse;
        for (int i = 0; i < 16; ++i)
            EXPECT_NEAR(product.m[i], matrix3d::identity().m[i], 1e-4f);

        // An oriented box along the placement's own axes stays exact.
        OrientedBox box = makeBox({1.0f, -2.0f, 0.5f}, {0.5f, 2.0f, 1.0f});
        vec3d local[8];
        corners(box, local);
        const OrientedBox carried = box.carried(m);
        float reach[3] = {};
        vec3d low(1e30f, 1e30f, 1e30f), high(-1e30f, -1e30f, -1e30f);
        for (const vec3d& c : local) {
            const vec3d p = m.transformPoint(c);
            EXPECT_TRUE(contains(carried, p, 1e-3f));
            const vec3d l = ::local(carried, p);
            for (int a = 0; a < 3; ++a)
                reach[a] = std::max(reach[a], std::fabs(component(l, a)));
            low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
            high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
        }
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(reach[a], component(carried.halfExtents, a), 1e-3f);
            EXPECT_NEAR(carried.axes[a].lengthSq(), 1.0f, 1e-4f);
        }

        // The aligned bounds of the carried box, and the carried aligned box.
        vec3d minimum, maximum;
        carried.alignedBounds(minimum, maximum);
        BoundingBox aligned;
        aligned.minimum = box.center - box.halfExtents;
        aligned.maximum = box.center + box.halfExtents;
        const BoundingBox moved = aligned.carried(m);
        for (int a = 0; a < 3; ++a) {
            EXPECT_NEAR(component(minimum, a), component(low, a), 1e-3f);
            EXPECT_NEAR(component(maximum, a), component(high, a), 1e-3f);
            EXPECT_NEAR(component(moved.minimum, a), component(low, a), 1e-3f);
            EXPECT_NEAR(component(moved.maximum, a), component(high, a), 1e-3f);
        }
    }
    matrix3d flat = matrix3d::identity(), untouched = matrix3d::identity();
    flat.at(2, 0) = 1.0f;
    flat.at(2, 2) = 0.0f;
    flat.at(0, 0) = 0.0f;
    untouched.m[12] = 7.0f;
    EXPECT_FALSE(flat.inverseAffine(untouched));
    EXPECT_EQ(untouched.m[12], 7.0f) << "a singular matrix leaves the output alone";
}
