// The ring and mesh passes over hand-made and damaged skeletons, and the
// stitching of rings against a brute-force check.
#include "TreeTestSupport.h"

#include "Tree/BoughMesh.h"

#include "Entity/Entity.h"
#include "Entity/Mesh.h"

#include "TreeSamples.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <set>

namespace {

using SourceMesh = EntityManager::Entity::SourceMesh;
using Node = Tree::Bough::Node;

// A bough of bones along y at the given distances and radii.
void makeStraight(Tree::Bough& b, const std::vector<float>& distances, const std::vector<float>& radii,
                  uint32_t level = 0)
{
    b.clear();
    b.level = level;
    ASSERT_TRUE(b.bones.resize(int32_t(distances.size())));
    for (size_t i = 0; i < distances.size(); ++i)
        *b.bones.at(int32_t(i)) = Tree::Bone{vec3d(0.0f, distances[i], 0.0f), vec3d(0.0f, 1.0f, 0.0f), distances[i],
                                            radii[i], 0};
    b.boneCount = uint32_t(distances.size());
    b.end = distances.back();
}

// Parameters without bark roughness, so a ring's radius is its curve's.
Tree::Bough::Param smooth()
{
    Tree::Bough::Param p;
    p.mesh.barkRoughness = 0.0f;
    return p;
}

float ringRadius(Node& ring)
{
    const vec3d& p = ring.vertices.at(0)->position;
    return std::sqrt(p.x * p.x + p.z * p.z);
}

struct MeshCheck
{
    int32_t vertices = 0;
    int32_t triangles = 0;
    bool indicesInside = true;
    std::set<uint32_t> used;
};

MeshCheck check(SourceMesh& mesh)
{
    MeshCheck c;
    c.vertices = mesh.countedVertices();
    const int32_t n = mesh.countedIndices();
    c.triangles = n / 3;
    for (int32_t i = 0; i < n; ++i) {
        const uint16_t index = *mesh.getIndex(i);
        c.indicesInside = c.indicesInside && index < c.vertices;
        c.used.insert(index);
    }
    return c;
}

// A ring of n vertices at height y with the radius r, as genRing lays it out.
void makeRing(Node& ring, int32_t n, float y, float r)
{
    ASSERT_TRUE(ring.vertices.resize(n));
    ASSERT_TRUE(ring.angles.resize(n));
    ring.vertexCount = n;
    const float step = n > 1 ? 2.0f * 3.14159265f / float(n - 1) : 0.0f;
    for (int32_t k = 0; k < n; ++k) {
        const float a = step * float(k);
        *ring.angles.at(k) = a;
        const float radius = n > 1 ? r : 0.0f; // one vertex sits on the axis
        ring.vertices.at(k)->position = vec3d(radius * std::sin(a), y, radius * std::cos(a));
    }
}

} // namespace

TEST(BoughMesh, StraightBoughsRingAtTheirStartChildrenAndEndAndWhereTheyNarrow)
{
    const Tree::Bough::Param param = smooth();
    // Constant radius: the first ring, one at the bone with a child, the closing ring.
    Tree::Bough straight;
    makeStraight(straight, {0, 2, 4, 6, 8}, {1, 1, 1, 1, 1});
    straight.bones.at(2)->hasChildren = 1;
    Tree::Bough::genNodes(straight, param);
    ASSERT_EQ(straight.nodeCount, 3u);
    EXPECT_FLOAT_EQ(straight.nodes.at(0)->vertices.at(0)->position.y, 0.0f);
    EXPECT_FLOAT_EQ(straight.nodes.at(1)->vertices.at(0)->position.y, 4.0f);
    EXPECT_FLOAT_EQ(straight.nodes.at(2)->vertices.at(0)->position.y, 8.0f);
    // The closing ring has the minimum radius.
    EXPECT_NEAR(ringRadius(*straight.nodes.at(2)), param.bone.minRadius, 1e-5f);

    // Tapering: a further ring each time the radius dropped by more than the shrink.
    Tree::Bough taper;
    makeStraight(taper, {0, 2, 4, 6, 8}, {1.0f, 0.9f, 0.8f, 0.7f, 0.6f});
    Tree::Bough::genNodes(taper, param);
    ASSERT_GT(taper.nodeCount, 5u);
    for (uint32_t i = 1; i + 1 < taper.nodeCount; ++i) {
        const float drop = ringRadius(*taper.nodes.at(int32_t(i - 1))) - ringRadius(*taper.nodes.at(int32_t(i)));
        EXPECT_GT(drop, param.mesh.radiusShrink) << i;
        EXPECT_LT(drop, param.mesh.radiusShrink + 0.02f) << i;
    }
}

TEST(BoughMesh, RingsCloseTheirSeamAndFollowTheRadius)
{
    Tree::Bough::Param param;
    Tree::Bough b;
    makeStraight(b, {0, 10}, {1.3f, 1.3f});
    b.end = 10.0f;
    const struct
    {
        float radius;
        int32_t vertices;
    } cases[] = {{1.3f, 14}, {0.65f, 8}, {0.01f, 4}, {0.0f, 1}, {-1.0f, 1}, {1e30f, Node::maxVertices},
                 {std::numeric_limits<float>::quiet_NaN(), 1}};
    for (const auto& c : cases) {
        Node ring;
        srand(5);
        ring.genRing(b, param, 0, 0.5f, vec3d(0, 5, 0), vec3d(0, 1, 0), c.radius, 5.0f, false, 0.0f);
        ASSERT_EQ(ring.vertexCount, c.vertices) << c.radius;
        if (c.vertices < 2)
            continue;
        // First and last at one place, 0 and 2 pi apart, different u.
        const Node::Vertex& first = *ring.vertices.at(0);
        const Node::Vertex& last = *ring.vertices.at(c.vertices - 1);
        if (std::isfinite(c.radius) && c.radius < 1e20f) {
            EXPECT_NEAR((first.position - last.position).length(), 0.0f, 1e-4f * c.radius);
        }
        EXPECT_FLOAT_EQ(*ring.angles.at(0), 0.0f);
        EXPECT_NEAR(*ring.angles.at(c.vertices - 1), 2.0f * 3.14159265f, 1e-5f);
        EXPECT_NE(first.uv.x, last.uv.x);
    }
}

TEST(BoughMesh, ATipOfNoRadiusIsAFanAndOnlyCappedLevelsGetACap)
{
    for (uint32_t cap : {0u, 1u}) {
        Tree::Bough::Param param = smooth();
        param.bone.levels[0].cap = cap;
        Tree::Bough b;
        makeStraight(b, {0, 4}, {1, 1});
        Tree::Bough::genNodes(b, param);
        ASSERT_EQ(b.nodeCount, 2u);
        const int32_t na = b.nodes.at(0)->vertexCount, nc = b.nodes.at(1)->vertexCount;
        SourceMesh mesh(L"a");
        Tree::Bough::genMesh(b, mesh, static_cast<SourceMesh*>(nullptr), nullptr, nullptr, param);
        const MeshCheck m = check(mesh);
        EXPECT_EQ(m.triangles, na + nc - 2 + (cap ? nc - 2 : 0)) << cap;

        // A closing radius of 0 ends in one vertex and a fan onto it.
        param.bone.minRadius = 0.0f;
        Tree::Bough::genNodes(b, param);
        ASSERT_EQ(b.nodes.at(1)->vertexCount, 1);
        Tree::Bough::genMesh(b, mesh, static_cast<SourceMesh*>(nullptr), nullptr, nullptr, param);
        const MeshCheck fan = check(mesh);
        EXPECT_EQ(fan.triangles, b.nodes.at(0)->vertexCount - 1);
        EXPECT_EQ(int32_t(fan.used.size()), fan.vertices);
    }
}

TEST(BoughMesh, StitchedBandsUseEveryVertexOnceAroundWithOneWinding)
{
    const int32_t counts[] = {1, 4, 5, 8, 14, 15, 30, 100};
    for (int32_t na : counts)
        for (int32_t nc : counts) {
            if (na == 1 && nc == 1)
                continue;
            Node a, c;
            makeRing(a, na, 0.0f, 2.0f);
            makeRing(c, nc, 1.0f, 1.0f);
            DynArray<uint16_t> indices{512};
            int32_t count = 0;
            const uint32_t base = 7;
            ASSERT_TRUE(Tree::Bough::stitchRings(indices, count, a, c, base, false));
            ASSERT_EQ(count, 3 * (na + nc - 2)) << na << " " << nc;
            std::set<uint32_t> used;
            int positive = 0, negative = 0;
            for (int32_t t = 0; t < count; t += 3) {
                vec3d p[3];
                for (int32_t i = 0; i < 3; ++i) {
                    const uint32_t index = *indices.at(t + i);
                    ASSERT_GE(index, base);
                    ASSERT_LT(index, base + uint32_t(na + nc));
                    used.insert(index);
                    const uint32_t local = index - base;
                    p[i] = local < uint32_t(na) ? a.vertices.at(int32_t(local))->position
                                                : c.vertices.at(int32_t(local) - na)->position;
                }
                const vec3d normal = (p[1] - p[0]).cross(p[2] - p[0]);
                const vec3d middle = (p[0] + p[1] + p[2]) / 3.0f;
                const float outwards = normal.dot(vec3d(middle.x, 0.0f, middle.z));
                if (normal.lengthSq() < 1e-12f)
                    continue; // the seam's two vertices at one place
                (outwards > 0.0f ? positive : negative)++;
            }
            EXPECT_EQ(int32_t(used.size()), na + nc) << na << " " << nc;
            EXPECT_TRUE(positive == 0 || negative == 0) << na << " " << nc << ": " << positive << "/" << negative;
        }
}

TEST(BoughMesh, RibbonBandsAreFourTrianglesAFin)
{
    Tree::Bough::Param param;
    param.bone.finCount = 3;
    param.bone.levels[0].ribbon = 1;
    Tree::Bough b;
    makeStraight(b, {0, 2, 4}, {0.2f, 0.2f, 0.2f});
    Tree::Bough::genNodes(b, param);
    ASSERT_GE(b.nodeCount, 2u);
    for (uint32_t i = 0; i < b.nodeCount; ++i)
        EXPECT_EQ(b.nodes.at(int32_t(i))->vertexCount, 9);
    // Widths shrink from the ribbon start to the end; v runs from 1 to 0.
    EXPECT_FLOAT_EQ(b.nodes.at(0)->vertices.at(0)->uv.y, 1.0f);
    EXPECT_FLOAT_EQ(b.nodes.at(int32_t(b.nodeCount) - 1)->vertices.at(0)->uv.y, 0.0f);
    SourceMesh a(L"a"), ribbons(L"b");
    Tree::Bough::genMesh(b, a, &ribbons, nullptr, nullptr, param);
    EXPECT_EQ(a.countedVertices(), 0);
    const MeshCheck m = check(ribbons);
    EXPECT_EQ(m.vertices, 9 * int32_t(b.nodeCount));
    EXPECT_EQ(m.triangles, 12 * (int32_t(b.nodeCount) - 1));
    EXPECT_TRUE(m.indicesInside);
}

TEST(BoughMesh, ARibbonLevelWithoutASecondMeshDropsItsBoughsNotTheirChildren)
{
    Tree::Bough::Param param = smooth();
    param.bone.levels[1].ribbon = 1;
    Tree::Bough trunk;
    makeStraight(trunk, {0, 4, 8}, {1, 1, 1});
    ASSERT_TRUE(trunk.children.resize(1));
    trunk.childCount = 1;
    Tree::Bough& bough = *trunk.children.at(0);
    makeStraight(bough, {4, 6, 8}, {0.5f, 0.5f, 0.5f}, 1);
    ASSERT_TRUE(bough.children.resize(1));
    bough.childCount = 1;
    makeStraight(*bough.children.at(0), {6, 7, 8}, {0.4f, 0.4f, 0.4f}, 2);

    Tree::Bough::genNodes(trunk, param);
    int32_t trunkVertices = 0, twigVertices = 0;
    for (uint32_t i = 0; i < trunk.nodeCount; ++i)
        trunkVertices += trunk.nodes.at(int32_t(i))->vertexCount;
    Tree::Bough& twig = *bough.children.at(0);
    for (uint32_t i = 0; i < twig.nodeCount; ++i)
        twigVertices += twig.nodes.at(int32_t(i))->vertexCount;
    SourceMesh mesh(L"a");
    Tree::Bough::genMesh(trunk, mesh, static_cast<SourceMesh*>(nullptr), nullptr, nullptr, param);
    EXPECT_EQ(mesh.countedVertices(), trunkVertices + twigVertices);
    EXPECT_TRUE(check(mesh).indicesInside);
}

TEST(BoughMesh, DamagedSkeletonsEndWithBoundedRings)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct
    {
        const char* what;
        std::vector<float> distances;
        std::vector<float> radii;
    } cases[] = {
        {"falling distances", {0, 4, 2, 1, -5}, {1, 1, 1, 1, 1}},
        {"equal distances", {3, 3, 3, 3}, {1, 1, 1, 1}},
        {"NaN distances", {0, nan, 2, nan}, {1, 1, 1, 1}},
        {"infinite distances", {0, inf, -inf}, {1, 1, 1}},
        {"huge distances", {0, 1e30f, 2e30f}, {1, 1, 1}},
        {"huge radii", {0, 1, 2}, {1e30f, inf, nan}},
    };
    for (const auto& c : cases) {
        Tree::Bough b;
        makeStraight(b, c.distances, c.radii);
        Tree::Bough::genNodes(b, Tree::Bough::Param());
        EXPECT_GE(b.nodeCount, 1u) << c.what; // the closing ring at least
        EXPECT_LE(b.nodeCount, 4096u) << c.what;
        SourceMesh mesh(L"a");
        Tree::Bough::genMesh(b, mesh, static_cast<SourceMesh*>(nullptr), nullptr, nullptr, Tree::Bough::Param());
        EXPECT_TRUE(check(mesh).indicesInside) << c.what;
        EXPECT_LE(mesh.countedVertices(), 65536) << c.what;
    }
}

TEST(BoughMesh, RootZoneRingsFollowTheRootsToTheLastBone)
{
    // Every trunk bone inside the root zone: the zone's last segment has no
    // bone after it on the roots, and the zone ends at the last bone.
    Tree::Bough::Param param;
    param.root.count = 3;
    param.root.zone = 1.0f;
    for (uint32_t bones : {1u, 2u, 5u}) {
        Tree::Bough trunk;
        std::vector<float> d, r;
        for (uint32_t i = 0; i < bones; ++i) {
            d.push_back(float(i));
            r.push_back(1.0f);
        }
        makeStraight(trunk, d, r);
        trunk.end = float(bones);
        srand(3);
        trunk.genRoots(param);
        ASSERT_EQ(trunk.rootBoneCount, bones);
        const Tree::Bough::Box box = Tree::Bough::genNodes(trunk, param);
        EXPECT_GE(trunk.nodeCount, 1u);
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_TRUE(std::isfinite(box.minimum[axis]) && std::isfinite(box.maximum[axis])) << bones;
        }
        // The roots push the base rings out beyond the trunk's radius.
        if (bones > 1) {
            float widest = 0.0f;
            Node& ring = *trunk.nodes.at(0);
            for (int32_t k = 0; k < ring.vertexCount; ++k) {
                const vec3d& p = ring.vertices.at(k)->position;
                widest = std::max(widest, std::sqrt(p.x * p.x + p.z * p.z));
            }
            EXPECT_GT(widest, 1.5f) << bones;
            EXPECT_EQ(ring.vertexCount, int32_t(param.root.ringVertexCount));
        }
    }
}

TEST(BoughMesh, TheSampleTreesBoxHoldsEveryRingAndItsMeshesIndexInside)
{
    const Bytes sample = TreeSamples::sampleTree();
    ASSERT_FALSE(sample.empty());
    Tree::Bough::Param param;
    param.root.count = TreeSamples::sampleRoots;
    ByteStream stream(sample);
    // Past "v1.1", tags 1 to 3 and the parameters to the level 0 record.
    stream.seek(4 + 5 + 5 + 5, 0);
    uint8_t tag = 0;
    ASSERT_TRUE(stream.readValue(tag));
    ASSERT_EQ(tag, 4);
    param.read(stream);
    ASSERT_TRUE(stream.readValue(tag));
    ASSERT_EQ(tag, 5);
    Tree::Bough trunk;
    ASSERT_TRUE(trunk.read(stream));

    srand(1);
    const Tree::Bough::Box box = Tree::Bough::genNodes(trunk, param);
    vec3d lo = trunk.bones.at(0)->position, hi = lo;
    forEachBough(trunk, [&](Tree::Bough& b, Tree::Bough*, uint32_t) {
        for (uint32_t i = 0; i < b.nodeCount; ++i) {
            Node& ring = *b.nodes.at(int32_t(i));
            for (int32_t k = 0; k < ring.vertexCount; ++k)
                for (int axis = 0; axis < 3; ++axis) {
                    lo[axis] = std::min(lo[axis], ring.vertices.at(k)->position[axis]);
                    hi[axis] = std::max(hi[axis], ring.vertices.at(k)->position[axis]);
                }
        }
    });
    EXPECT_EQ(box.minimum, lo);
    EXPECT_EQ(box.maximum, hi);
    EXPECT_EQ(box.centre, (lo + hi) * 0.5f);

    SourceMesh mesh(L"a");
    DynArray<vec3d> points{256};
    int32_t pointCount = 0;
    EXPECT_EQ(Tree::Bough::genMesh(trunk, mesh, static_cast<SourceMesh*>(nullptr), &points, &pointCount, param), 0u);
    const MeshCheck m = check(mesh);
    EXPECT_GT(m.vertices, 500);
    EXPECT_TRUE(m.indicesInside);
    EXPECT_EQ(int32_t(m.used.size()), m.vertices);
    EXPECT_EQ(pointCount, m.vertices);
}

TEST(BoughMesh, BoughsPastSixteenBitIndicesAreLeftOut)
{
    // Twenty boughs of rings with 1,024 vertices each, far past 65,536.
    Tree::Bough::Param param = smooth();
    param.mesh.ringVertexCount = 100000;
    param.mesh.radiusShrink = 0.0001f;
    Tree::Bough trunk;
    makeStraight(trunk, {0, 10}, {1.3f, 0.2f});
    ASSERT_TRUE(trunk.children.resize(20));
    trunk.childCount = 20;
    for (int32_t i = 0; i < 20; ++i)
        makeStraight(*trunk.children.at(i), {0, 10}, {1.3f, 0.2f}, 1);
    Tree::Bough::genNodes(trunk, param);
    SourceMesh mesh(L"a");
    const uint32_t leftOut =
        Tree::Bough::genMesh(trunk, mesh, static_cast<SourceMesh*>(nullptr), nullptr, nullptr, param);
    EXPECT_GT(leftOut, 0u);
    const MeshCheck m = check(mesh);
    EXPECT_LE(m.vertices, 65536);
    EXPECT_GT(m.vertices, 65536 / 2);
    EXPECT_TRUE(m.indicesInside);
    EXPECT_EQ(int32_t(m.used.size()), m.vertices);
}

TEST(BoughMesh, DamagedSampleRecordsGiveBoundedMeshes)
{
    const Bytes sample = TreeSamples::sampleTree();
    srand(99);
    for (int round = 0; round < 150; ++round) {
        Bytes damaged = sample;
        for (int k = 0; k < 6; ++k) {
            const size_t at = 19 + size_t(rand()) % (damaged.size() - 19);
            damaged[at] = uint8_t(rand() % 3 == 0 ? 0xFF : rand() & 0xFF);
        }
        ByteStream stream(damaged);
        stream.seek(19, 0);
        uint8_t tag = 0;
        stream.readValue(tag);
        Tree::Bough::Param param;
        param.read(stream);
        stream.readValue(tag);
        Tree::Bough trunk;
        trunk.read(stream);
        Tree::Bough::genNodes(trunk, param);
        SourceMesh a(L"a"), b(L"b");
        Tree::Bough::genMesh(trunk, a, &b, nullptr, nullptr, param);
        EXPECT_TRUE(check(a).indicesInside) << round;
        EXPECT_TRUE(check(b).indicesInside) << round;
    }
}

TEST(BoughMesh, ARootPushesTheRingOntoItsSphereWithItsNormal)
{
    // A trunk along y of radius 1 and one root of thickness 1.5 beside it at
    // x = 3: the ring vertex facing the root (angle 0 faces +x) sits on the
    // far side of the root's sphere, with the sphere's normal there.
    Tree::Bough::Param param;
    Tree::Bough trunk;
    makeStraight(trunk, {0, 2}, {1, 1});
    ASSERT_TRUE(trunk.roots.resize(1));
    Tree::Bough::Root& root = *trunk.roots.at(0);
    ASSERT_TRUE(root.resize(2));
    *root.at(0) = Tree::Bone{vec3d(3, 0, 0), vec3d(0, 1, 0), 0.0f, 1.5f, 0};
    *root.at(1) = Tree::Bone{vec3d(3, 2, 0), vec3d(0, 1, 0), 0.0f, 1.5f, 0};
    trunk.rootCount = 1;
    trunk.rootBoneCount = 2;
    Node ring;
    ring.genRing(trunk, param, 0, 0.0f, vec3d(0, 0, 0), vec3d(0, 1, 0), 1.0f, 0.0f, true, 2.0f);
    ASSERT_GT(ring.vertexCount, 4);
    const Node::Vertex& facing = *ring.vertices.at(0);
    EXPECT_NEAR(facing.position.x, 4.5f, 1e-4f);
    EXPECT_NEAR(facing.position.y, 0.0f, 1e-4f);
    EXPECT_NEAR(facing.position.z, 0.0f, 1e-4f);
    EXPECT_NEAR(facing.normal.x, 1.0f, 1e-4f);
    // The vertex facing away keeps the trunk's radius and its own direction.
    const Node::Vertex& away = *ring.vertices.at((ring.vertexCount - 1) / 2);
    EXPECT_NEAR(away.position.length(), 1.0f, 1e-4f);
    EXPECT_LT(away.position.x, -0.99f);
    EXPECT_NEAR((away.normal - away.position).length(), 0.0f, 1e-4f);
}

TEST(BoughMesh, BarkRoughnessVariesEveryVertexButTheSeam)
{
    Tree::Bough::Param param;
    Tree::Bough b;
    makeStraight(b, {0, 10}, {1.3f, 1.3f});
    const auto flat = [](const vec3d& p) { return std::sqrt(p.x * p.x + p.z * p.z); };
    for (bool key : {false, true}) {
        Node ring;
        srand(21);
        ring.genRing(b, param, 0, 0.5f, vec3d(0, 5, 0), vec3d(0, 1, 0), 1.3f, 5.0f, key, 0.0f);
        ASSERT_EQ(ring.vertexCount, 14);
        std::set<float> radii;
        for (int32_t k = 0; k < ring.vertexCount; ++k) {
            const float r = flat(ring.vertices.at(k)->position);
            EXPECT_GE(r, 1.3f * (1.0f - param.mesh.barkRoughness / 2.0f) - 1e-5f);
            EXPECT_LE(r, 1.3f * (1.0f + param.mesh.barkRoughness / 2.0f) + 1e-5f);
            radii.insert(std::round(r * 1e4f) / 1e4f);
        }
        // Key rings are round; others draw one radius per vertex, the seam's
        // last vertex taking the first one's.
        EXPECT_EQ(radii.size(), key ? 1u : 13u) << key;
        EXPECT_NEAR(flat(ring.vertices.at(13)->position), flat(ring.vertices.at(0)->position), 1e-5f);
    }
}
