// The mask pass's geometry without a device: the caster volume between a
// light and a box, the box's screen rectangle and the box primitive.
#include "Render/LightProj.h"
#include "Render/ShadowMap.h"

#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// A projector at a random pose: perspective (a spot light), or parallel
// (the sun's orthographic lens), its view volume built as the owners do.
void aim(TextureProj& p, std::mt19937& random, bool parallel)
{
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    const vec3d forward = vec3d{unit(random), unit(random), unit(random)}.normalised();
    const vec3d up0 = std::fabs(forward.y) < 0.9f ? vec3d{0, 1, 0} : vec3d{1, 0, 0};
    const vec3d side = up0.cross(forward).normalised();
    const vec3d up = forward.cross(side);
    const vec3d rows[4] = {side, up, forward, {unit(random) * 50, unit(random) * 50, unit(random) * 50}};
    p.transform = matrix3d::identity();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 3; ++c)
            p.transform.at(r, c) = rows[r][c];
    p.view = inverseAffine(p.transform);
    p.projection = {};
    if (parallel) {
        p.projection.at(0, 0) = p.projection.at(1, 1) = 2.0f / 80.0f;
        p.projection.at(2, 2) = 5.00225e-4f;
        p.projection.at(3, 2) = -5.00225e-4f;
        p.projection.at(3, 3) = 1.0f;
    } else {
        p.projection.at(0, 0) = p.projection.at(1, 1) = 1.0f;
        p.projection.at(2, 2) = 200.0f / 199.9f;
        p.projection.at(3, 2) = -0.1f * 200.0f / 199.9f;
        p.projection.at(2, 3) = 1.0f;
    }
    p.volume.setFromMatrix(p.view * p.projection);
}

TEST(ShadowMask, TheCasterVolumeHoldsExactlyWhatLiesBetweenLightAndBox)
{
    std::mt19937 random(23);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), extent(0.5f, 6.0f), distance(8.0f, 40.0f);
    struct Case
    {
        const char* name;
        bool parallel;
        int32_t mapKind; // 0 a 2D map, 1 a cube map (near plane through the light)
    };
    int insideSeen = 0, outsideSeen = 0;
    for (const Case& k : {Case{"perspective", false, 0}, Case{"parallel", true, 0}, Case{"cube", false, 1}}) {
        SCOPED_TRACE(k.name);
        for (int trial = 0; trial < 40; ++trial) {
            TextureProj owner(nullptr);
            aim(owner, random, k.parallel);
            ShadowMap map(owner, ShadowMap::noTargets, 0.0f, 0, 0, 0.03f, 0.01f);
            map.kind = k.mapKind;
            // A box ahead of the light, turned at random.
            const vec3d local{unit(random) * 5.0f, unit(random) * 5.0f, distance(random)};
            const vec3d half{extent(random), extent(random), extent(random)};
            const vec3d centre = owner.transform.transformPoint(local);
            const vec3d a0 = vec3d{unit(random), unit(random), unit(random)}.normalised();
            const vec3d a1 = a0.cross(vec3d{unit(random), unit(random), unit(random)}).normalised();
            const vec3d axes[3] = {a0, a1, a0.cross(a1)};
            vec3d corners[8];
            for (int c = 0; c < 8; ++c)
                corners[c] = centre + axes[0] * (c & 1 ? half.x : -half.x) + axes[1] * (c & 2 ? half.y : -half.y) +
                             axes[2] * (c & 4 ? half.z : -half.z);
            constexpr float depth = 0.25f;
            ConvexVolume volume;
            ASSERT_EQ(map.buildCasterVolume(corners, depth, volume), 1);
            ASSERT_EQ(volume.count, 6);

            // Brute force in the light's frame: nearer than the box's
            // nearest corner by depth, past the light's near plane, inside
            // the box's outline (across for a parallel lens, by direction
            // for a perspective one).
            float lo[2] = {1e9f, 1e9f}, hi[2] = {-1e9f, -1e9f}, nearest = 1e9f;
            for (const vec3d& c : corners) {
                const vec3d q = owner.view.transformPoint(c);
                nearest = std::min(nearest, q.z);
                for (int i = 0; i < 2; ++i) {
                    const float s = (k.parallel ? q[i] : q[i] / q.z);
                    lo[i] = std::min(lo[i], s);
                    hi[i] = std::max(hi[i], s);
                }
            }
            const float nearPlane = k.mapKind == 1 ? 0.0f : k.parallel ? 1.0f : 0.1f;
            for (int i = 0; i < 300; ++i) {
                const vec3d q{unit(random) * 30.0f, unit(random) * 30.0f, (unit(random) + 1.0f) * 30.0f - 5.0f};
                float margins[6] = {q.z - nearPlane, nearest - depth - q.z};
                for (int j = 0; j < 2; ++j) {
                    const float s = k.parallel ? q[j] : q.z > 0.0f ? q[j] / q.z : -1e9f;
                    margins[2 + 2 * j] = s - lo[j];
                    margins[3 + 2 * j] = hi[j] - s;
                }
                const float least = *std::min_element(margins, margins + 6);
                if (std::fabs(least) < 0.02f)
                    continue; // too close to a face to judge in single precision
                const bool between = least > 0.0f;
                const bool inside =
                    volume.classifyPoint(owner.transform.transformPoint(q)) == ConvexVolume::inside;
                ASSERT_EQ(inside, between) << trial << " at " << q.x << ", " << q.y << ", " << q.z;
                (between ? insideSeen : outsideSeen) += 1;
            }
        }
    }
    EXPECT_GT(insideSeen, 100);
    EXPECT_GT(outsideSeen, 100);

    // A light inside the box builds no volume.
    TextureProj owner(nullptr);
    ShadowMap map(owner, ShadowMap::noTargets, 0.0f, 0, 0, 0.03f, 0.01f);
    map.kind = 1;
    vec3d corners[8];
    for (int c = 0; c < 8; ++c)
        corners[c] = {c & 1 ? 1.0f : -1.0f, c & 2 ? 1.0f : -1.0f, c & 4 ? 1.0f : -1.0f};
    ConvexVolume volume;
    EXPECT_EQ(map.buildCasterVolume(corners, 0.01f, volume), 0);
}

TEST(ShadowMask, TheScreenRectangleIsTheTightBoundOfTheBox)
{
    std::mt19937 random(29);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    TextureProj owner(nullptr);
    ShadowMap map(owner, ShadowMap::noTargets, 0.0f, 0, 0, 0.03f, 0.01f);
    map.size = 512;
    for (int trial = 0; trial < 50; ++trial) {
        aim(owner, random, trial % 2 == 0);
        const matrix3d m = owner.view * owner.projection;
        const vec3d centre = owner.transform.transformPoint({unit(random) * 4, unit(random) * 4, 20.0f});
        const vec3d half{2.0f + unit(random), 2.0f + unit(random), 2.0f + unit(random)};
        vec3d corners[8];
        for (int c = 0; c < 8; ++c)
            corners[c] = centre + vec3d{c & 1 ? half.x : -half.x, c & 2 ? half.y : -half.y, c & 4 ? half.z : -half.z};
        map.computeScreenRect(m, corners);
        const auto texel = [&](const vec3d& p) {
            const vec3d t = m.transformPoint(p);
            const float w = p.x * m.at(0, 3) + p.y * m.at(1, 3) + p.z * m.at(2, 3) + m.at(3, 3);
            return vec2d{(t.x / w + 1.0f) * 0.5f * 512.0f, (1.0f - (t.y / w + 1.0f) * 0.5f) * 512.0f};
        };
        const ShadowMap::ScreenVertex* r = map.screenRect;
        // Strip order: top left, top right, bottom left, bottom right.
        EXPECT_EQ(r[0].x, r[2].x);
        EXPECT_EQ(r[1].x, r[3].x);
        EXPECT_EQ(r[0].y, r[1].y);
        EXPECT_EQ(r[2].y, r[3].y);
        for (int i = 0; i < 200; ++i) {
            const vec2d t = texel(centre + vec3d{unit(random) * half.x, unit(random) * half.y, unit(random) * half.z});
            ASSERT_GE(t.x, r[0].x - 1e-2f);
            ASSERT_LE(t.x, r[1].x + 1e-2f);
            ASSERT_GE(t.y, r[0].y - 1e-2f);
            ASSERT_LE(t.y, r[2].y + 1e-2f);
        }
        float bounds[4] = {1e9f, -1e9f, 1e9f, -1e9f};
        for (const vec3d& c : corners) {
            const vec2d t = texel(c);
            bounds[0] = std::min(bounds[0], t.x);
            bounds[1] = std::max(bounds[1], t.x);
            bounds[2] = std::min(bounds[2], t.y);
            bounds[3] = std::max(bounds[3], t.y);
        }
        EXPECT_NEAR(r[0].x, bounds[0], 1e-2f);
        EXPECT_NEAR(r[1].x, bounds[1], 1e-2f);
        EXPECT_NEAR(r[0].y, bounds[2], 1e-2f);
        EXPECT_NEAR(r[2].y, bounds[3], 1e-2f);
        EXPECT_EQ(r[3].z, 0.0f);
        EXPECT_EQ(r[3].rhw, 1.0f);
    }
}

TEST(ShadowMask, BoxesAddTwentyFourVerticesFacingOutwardAndGrowTheBounds)
{
    Mesh<EntityManager::MeshVertex, 274> mesh(String(L"boxes"));
    matrix3d m = matrix3d::identity();
    const float c = 0.6f, s = 0.8f; // turned about y
    m.at(0, 0) = c;
    m.at(0, 2) = -s;
    m.at(2, 0) = s;
    m.at(2, 2) = c;
    m.at(3, 0) = 10.0f;
    m.at(3, 1) = -2.0f;
    m.at(3, 2) = 3.0f;
    const vec3d size{2.0f, 4.0f, 6.0f};
    addBoxToMesh(mesh, size, m);
    ASSERT_EQ(*mesh.getVertexCount(), 24);
    ASSERT_EQ(*mesh.getIndexCount(), 36);
    const vec3d centre = m.row(3);
    for (int t = 0; t < 12; ++t) {
        const vec3d a = *mesh.getVertexData(*mesh.getIndex(3 * t))->position;
        const vec3d b = *mesh.getVertexData(*mesh.getIndex(3 * t + 1))->position;
        const vec3d d = *mesh.getVertexData(*mesh.getIndex(3 * t + 2))->position;
        const vec3d outward = (a + b + d) / 3.0f - centre;
        EXPECT_GT((b - a).cross(d - a).dot(outward), 0.0f) << t;
    }
    // Four corners on each of the six faces.
    int perFace[6] = {};
    for (int v = 0; v < 24; ++v) {
        const vec3d n = *mesh.getVertexData(v)->normal;
        for (int axis = 0; axis < 3; ++axis)
            for (int sign = 0; sign < 2; ++sign)
                perFace[axis * 2 + sign] += n.dot(m.row(axis).normalised() * (sign ? -1.0f : 1.0f)) > 0.99f;
    }
    for (int f = 0; f < 6; ++f)
        EXPECT_EQ(perFace[f], 4) << f;
    for (int v = 0; v < 24; ++v) {
        const VertexComponents& vertex = *mesh.getVertexData(v);
        const vec3d local = inverseAffine(m).transformPoint(*vertex.position);
        // On the surface: one coordinate at its half size, the others within.
        int onFace = 0;
        for (int i = 0; i < 3; ++i) {
            EXPECT_LE(std::fabs(local[i]), size[i] * 0.5f + 1e-4f);
            onFace += std::fabs(std::fabs(local[i]) - size[i] * 0.5f) < 1e-4f;
        }
        EXPECT_GE(onFace, 1);
        EXPECT_NEAR(vertex.normal->length(), 1.0f, 1e-5f);
        EXPECT_GT(vertex.normal->dot(*vertex.position - centre), 0.0f);
    }
    // The extent of the turned box: x and z from both turned axes.
    const BoundingBox& bounds = *mesh.getBounds();
    const vec3d extent{c * 1.0f + s * 3.0f, 2.0f, s * 1.0f + c * 3.0f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(bounds.minimum[i], centre[i] - extent[i], 1e-4f);
        EXPECT_NEAR(bounds.maximum[i], centre[i] + extent[i], 1e-4f);
    }
    // A second box grows the bounds and centres them between the two.
    addBoxToMesh(mesh, {1.0f, 1.0f, 1.0f}, matrix3d::identity());
    EXPECT_EQ(*mesh.getVertexCount(), 48);
    EXPECT_EQ(*mesh.getIndexCount(), 72);
    EXPECT_NEAR(mesh.getBounds()->minimum.x, -0.5f, 1e-5f);
    EXPECT_NEAR(mesh.getBounds()->maximum.x, centre.x + extent.x, 1e-4f);
    EXPECT_NEAR(mesh.getBounds()->center.x, (centre.x + extent.x - 0.5f) * 0.5f, 1e-4f);

    // A box whose last vertex would not have a 16-bit index is not added.
    for (const auto& [before, added] : {std::pair{65511, true}, std::pair{65520, false}}) {
        SCOPED_TRACE(before);
        Mesh<vec3d, D3DFVF_XYZ> full(String(L"full"));
        ASSERT_NE(full.getVertexData(before - 1), nullptr);
        *full.getVertexCount() = before;
        addBoxToMesh(full, {1.0f, 1.0f, 1.0f}, matrix3d::identity());
        EXPECT_EQ(*full.getVertexCount(), added ? before + 24 : before);
        EXPECT_EQ(*full.getIndexCount(), added ? 36 : 0);
    }
}

}
