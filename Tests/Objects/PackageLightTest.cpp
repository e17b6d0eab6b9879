// Package lights: the defaults of an empty block, the projector's turn, the
// corners of the projection volume against a brute-force solve of three
// planes, and kinds that compute no projection.
#include "ObjectsTestSupport.h"

#include "Objects/PackageLight.h"

#include <array>
#include <cmath>
#include <cstring>
#include <random>

using namespace ObjectsTests;
using PackageLight = ObjPkgManager::Light;

namespace {

// The point on three planes (normal . x = distance) by elimination with
// pivoting, in doubles.
vec3d solvePlanes(const ConvexVolume::Plane* (&planes)[3])
{
    std::array<std::array<double, 4>, 3> m{};
    for (int r = 0; r < 3; ++r)
        m[r] = {planes[r]->normal.x, planes[r]->normal.y, planes[r]->normal.z, planes[r]->distance};
    for (int c = 0; c < 3; ++c) {
        int pivot = c;
        for (int r = c + 1; r < 3; ++r)
            if (std::fabs(m[r][c]) > std::fabs(m[pivot][c]))
                pivot = r;
        std::swap(m[c], m[pivot]);
        for (int r = 0; r < 3; ++r)
            if (r != c) {
                const double f = m[r][c] / m[c][c];
                for (int k = c; k < 4; ++k)
                    m[r][k] -= f * m[c][k];
            }
    }
    return {float(m[0][3] / m[0][0]), float(m[1][3] / m[1][1]), float(m[2][3] / m[2][2])};
}

}

TEST(PackageLight, AnEmptyBlockGivesTheDefaultConeAtTheOrigin)
{
    PackageLight light(nullptr, nullptr);
    EXPECT_TRUE(light.load(*streamOf({0, 0, 0, 0})));
    light.update();
    EXPECT_EQ(light.range, 30.0f);
    EXPECT_EQ(light.coneAngle, 30.0f);
    EXPECT_EQ(light.colour, Color(255, 245, 235, 255));
    EXPECT_EQ(light.kind, 1u);
    EXPECT_EQ(light.value9, 256u);
    EXPECT_EQ(light.value7 + light.value13 + light.mainLight, 0u);
    EXPECT_EQ(light.value11, 0.0f);
    EXPECT_EQ(light.disabled, 0u);
    for (int r = 0; r < 4; ++r)
        EXPECT_EQ(light.transform.row(r), matrix3d::identity().row(r)) << "looking along the unturned axes";
    EXPECT_FLOAT_EQ(light.inverseRange, 1.0f / 30.0f);
    EXPECT_FALSE(light.texture.isBound());
}

TEST(PackageLight, TheProjectorTurnsAsTheMeshesDo)
{
    PackageLight light(nullptr, nullptr);
    light.rotation = {0.0f, 90.0f, 0.0f};
    light.position = {3.0f, 4.0f, 5.0f};
    light.update();
    expectNear(light.transform.row(0), {0.0f, 0.0f, -1.0f}, 1e-6f, "x row");
    expectNear(light.transform.row(2), {1.0f, 0.0f, 0.0f}, 1e-6f, "z row");
    expectNear(light.transform.row(3), {3.0f, 4.0f, 5.0f}, 0.0f, "position");
}

TEST(PackageLight, CornersMeetTheFirstPlaneAndTwoNeighbouringSides)
{
    std::mt19937 random(205);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f), place(-100.0f, 100.0f), range(2.0f, 100.0f),
        cone(5.0f, 170.0f);
    for (int n = 0; n < 200; ++n) {
        PackageLight light(nullptr, nullptr);
        light.kind = uint32_t(n % 2);
        light.rotation = {angle(random), angle(random), angle(random)};
        light.position = {place(random), place(random), place(random)};
        light.range = range(random);
        light.coneAngle = cone(random);
        light.update();
        ASSERT_EQ(light.disabled, 0u);
        ASSERT_EQ(light.volume.count, 6);
        for (int i = 0; i < 4; ++i) {
            const ConvexVolume::Plane* planes[3] = {&light.volume.planes[0], &light.volume.planes[2 + i],
                                                    &light.volume.planes[2 + (i + 1) % 4]};
            const vec3d want = solvePlanes(planes);
            const float slack = 1e-3f * (1.0f + std::fabs(want.x) + std::fabs(want.y) + std::fabs(want.z));
            expectNear(light.corners[i], want, slack, "corner");
            // On the light: the box's far face, the cone's near plane 0.1 ahead.
            const vec3d offset = light.corners[i] - light.position;
            if (light.kind == 0) {
                expectNear({std::fabs(offset.x), std::fabs(offset.y), offset.z},
                           {light.range, light.range, light.range}, slack, "box corner");
            } else {
                const float half = light.coneAngle * 0.008726646f, tangent = std::tan(half);
                EXPECT_NEAR(offset.dot(light.transform.row(2)), 0.1f, 1e-4f * (1.0f + tangent));
                EXPECT_NEAR(offset.length(), 0.1f * std::sqrt(1.0f + 2.0f * tangent * tangent), 1e-3f);
            }
        }
    }
}

TEST(PackageLight, KindsBeyondOneComputeNoProjection)
{
    PackageLight light(nullptr, nullptr);
    const matrix3d projection = light.projection;
    const ConvexVolume::Plane first = light.volume.planes[0];
    vec3d corners[4];
    std::copy(std::begin(light.corners), std::end(light.corners), corners);
    BlockBytes block;
    block << 10u << 2u << 1u << 50.0f << 0.0f << 9.0f << 3u << 60.0f << 0u;
    ASSERT_TRUE(light.load(*streamOf(block.bytes)));
    light.update();
    EXPECT_EQ(light.disabled, 1u) << "nothing is thrown";
    EXPECT_EQ(std::memcmp(light.projection.m, projection.m, sizeof(matrix3d)), 0);
    EXPECT_EQ(light.volume.planes[0].distance, first.distance);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(light.corners[i], corners[i]);
    // Back to a cone, the light shines again.
    light.kind = 1;
    light.update();
    EXPECT_EQ(light.disabled, 0u);
    expectNear(light.transform.row(3), {50.0f, 0.0f, 9.0f}, 0.0f, "position");
    EXPECT_FLOAT_EQ(light.inverseRange, 1.0f / 60.0f);
}
