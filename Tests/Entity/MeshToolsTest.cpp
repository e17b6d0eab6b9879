// The mesh tools on meshes built in code: triangle trees, the median split,
// welding, the posed box and the uv copy, each against a brute force.
#include "MeshTestSupport.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <tuple>

namespace {

using Tree = MeshTools::BinaryTiangleTree;

void fillContinuous(EntityMesh& mesh, std::mt19937& random, int triangles)
{
    std::uniform_real_distribution<float> coordinate(-50.0f, 50.0f);
    const int vertices = triangles + 2;
    for (int v = 0; v < vertices; ++v)
        position(mesh, v) = vec3d(coordinate(random), coordinate(random), coordinate(random));
    *mesh.getVertexCount() = vertices;
    for (int t = 0; t < triangles; ++t)
        mesh.addTriangle(uint16_t(random() % vertices), uint16_t(random() % vertices), uint16_t(random() % vertices));
}

bool holds(const BoundingBox& box, const vec3d& p)
{
    return p.x >= box.minimum.x && p.y >= box.minimum.y && p.z >= box.minimum.z && p.x <= box.maximum.x &&
           p.y <= box.maximum.y && p.z <= box.maximum.z;
}

// Checks the subtree under node and collects its leaf triangles.
void walk(const Tree* node, uint32_t depth, std::vector<const triangle3dex*>& leaves, uint32_t& deepest)
{
    ASSERT_NE(node, nullptr);
    deepest = std::max(deepest, depth);
    if (node->triangle) {
        EXPECT_EQ(node->children[0], nullptr);
        EXPECT_EQ(node->children[1], nullptr);
        EXPECT_EQ(node->depth, 0u);
        for (const vec3d& corner : node->triangle->corners)
            EXPECT_TRUE(holds(node->box, corner));
        leaves.push_back(node->triangle);
        return;
    }
    EXPECT_EQ(node->depth, depth);
    const size_t first = leaves.size();
    walk(node->children[0], depth + 1, leaves, deepest);
    const size_t middle = leaves.size();
    walk(node->children[1], depth + 1, leaves, deepest);
    // The median split along the box's longest axis (ties: x, then y, then z).
    const vec3d extent = node->box.maximum - node->box.minimum;
    const int axis = extent.y > extent.x ? (extent.z > extent.y ? 2 : 1) : (extent.z > extent.x ? 2 : 0);
    EXPECT_EQ(middle - first, (leaves.size() - first) / 2);
    for (size_t low = first; low < middle; ++low)
        for (size_t high = middle; high < leaves.size(); ++high)
            ASSERT_LE(leaves[low]->centroid[axis], leaves[high]->centroid[axis]);
    // The box is the tightest one over every corner below.
    vec3d minimum(FLT_MAX, FLT_MAX, FLT_MAX), maximum(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (size_t i = first; i < leaves.size(); ++i)
        for (const vec3d& corner : leaves[i]->corners)
            MeshGeometry::widen(minimum, maximum, corner);
    EXPECT_EQ(node->box.minimum, minimum);
    EXPECT_EQ(node->box.maximum, maximum);
    EXPECT_EQ(node->box.center, (minimum + maximum) * 0.5f);
    EXPECT_EQ(node->box.radius, 1.0f);
}

TEST(MeshTools, TreesOfRandomMeshesHoldEveryTriangleOnceInBoxedLeaves)
{
    std::mt19937 random(16);
    for (int triangles : {1, 2, 3, 5, 37, 600}) {
        SCOPED_TRACE(triangles);
        EntityMesh mesh(String(L"m"));
        fillContinuous(mesh, random, triangles);
        Tree* root = MeshTools::buildTriangleTree(mesh);
        ASSERT_EQ(root, mesh.getTriangleTree());
        std::vector<const triangle3dex*> leaves;
        uint32_t deepest = 0;
        walk(root, 0, leaves, deepest);
        ASSERT_EQ(leaves.size(), size_t(triangles));
        // Median splits: as shallow as a balanced tree.
        EXPECT_LE(deepest, uint32_t(std::ceil(std::log2(double(triangles)))));
        std::set<uint16_t> seen;
        for (const triangle3dex* leaf : leaves) {
            ASSERT_TRUE(seen.insert(leaf->firstIndex).second) << "a triangle twice";
            ASSERT_EQ(leaf->firstIndex % 3, 0);
            const vec3d* p = leaf->corners;
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(leaf->vertices[c], *mesh.getIndex(leaf->firstIndex + c));
                EXPECT_EQ(p[c], position(mesh, leaf->vertices[c]));
            }
            EXPECT_EQ(leaf->centroid, (p[1] + p[0] + p[2]) * 0.33333334f);
            const vec3d n = (p[1] - p[0]).cross(p[2] - p[0]);
            if (n.lengthSq() > 1e-6f) {
                EXPECT_NEAR((leaf->normal - n.normalised()).length(), 0.0f, 1e-3f);
            }
        }
    }

    EntityMesh mesh(String(L"m"));
    fillContinuous(mesh, random, 4);
    Tree* root = MeshTools::buildTriangleTree(mesh);
    *mesh.getIndexCount() = 2;
    EXPECT_EQ(MeshTools::buildTriangleTree(mesh), nullptr) << "no whole triangle";
    EXPECT_EQ(mesh.getTriangleTree(), root) << "the old tree stays";
    Tree* taken = mesh.takeTriangleTree();
    EXPECT_EQ(taken, root);
    EXPECT_EQ(mesh.getTriangleTree(), nullptr);
    delete taken;
}

// Triangles whose centroids lie at the given values along axis.
std::vector<triangle3dex> alongAxis(const std::vector<float>& values, int axis)
{
    std::vector<triangle3dex> triangles;
    for (float value : values) {
        triangle3dex t;
        t.centroid[axis] = value;
        t.firstIndex = uint16_t(triangles.size()); // tells the records apart
        triangles.push_back(t);
    }
    return triangles;
}

TEST(MeshTools, SortTrianglesSplitsAtTheMedianOfTheLongestAxis)
{
    triangle3dex unsorted;
    struct Case
    {
        vec3d extent;
        int axis;
        std::vector<float> centroids; // in input order
        std::vector<float> first, second;
    };
    const std::vector<Case> cases = {
        {{2, 2, 1}, 0, {3, 0, 2, 1}, {0, 1}, {2, 3}},
        {{1, 2, 2}, 1, {3, 0, 2, 1}, {0, 1}, {2, 3}},
        {{1, 1, 3}, 2, {3, 0, 2, 1}, {0, 1}, {2, 3}},
        {{1, 3, 2}, 1, {4, 3, 0, 2, 1}, {0, 1}, {2, 3, 4}},
        {{5, 1, 1}, 0, {1, 0}, {0}, {1}},
        {{1, 0, 1}, 0, {3, -2, 0.5f, -7, -0.0f}, {-7, -2}, {-0.0f, 0.5f, 3}},
    };
    for (const Case& c : cases) {
        BoundingBox box;
        box.maximum = c.extent;
        std::vector<triangle3dex> triangles = alongAxis(c.centroids, c.axis);
        triangle3dex *first, *second;
        int32_t firstCount, secondCount;
        MeshTools::sortTriangles(triangles.data(), int32_t(triangles.size()), box, first, second, firstCount,
                                 secondCount);
        const auto values = [&](const triangle3dex* t, int32_t n) {
            std::vector<float> v;
            for (int32_t i = 0; i < n; ++i)
                v.push_back(t[i].centroid[c.axis]);
            return v;
        };
        EXPECT_EQ(values(first, firstCount), c.first) << c.axis;
        EXPECT_EQ(values(second, secondCount), c.second) << c.axis;
        std::vector<float> all = c.first;
        all.insert(all.end(), c.second.begin(), c.second.end());
        EXPECT_EQ(values(triangles.data(), int32_t(triangles.size())), all) << "sorted in place";
        delete[] first;
        delete[] second;
    }

    triangle3dex *none = &unsorted, *noneSecond = nullptr;
    int32_t noneCount = 5, noneSecondCount = 5;
    MeshTools::sortTriangles(&unsorted, 0, BoundingBox(), none, noneSecond, noneCount, noneSecondCount);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(noneCount + noneSecondCount, 0) << "nothing to split";

    // Any bit pattern sorts: NaN centroids from a damaged model lose nothing.
    std::vector<triangle3dex> triangles = alongAxis({2, NAN, -1, INFINITY, -NAN, 0, 7}, 0);
    BoundingBox box;
    box.maximum = vec3d(1, 0, 0);
    triangle3dex *first, *second;
    int32_t firstCount, secondCount;
    MeshTools::sortTriangles(triangles.data(), 7, box, first, second, firstCount, secondCount);
    ASSERT_EQ(firstCount, 3);
    ASSERT_EQ(secondCount, 4);
    std::multiset<uint16_t> kept;
    for (int32_t i = 0; i < 3; ++i)
        kept.insert(first[i].firstIndex);
    for (int32_t i = 0; i < 4; ++i)
        kept.insert(second[i].firstIndex);
    EXPECT_EQ(kept.size(), 7u);
    delete[] first;
    delete[] second;
}

// What welding merges for a vertex type: the position, and the normal and
// uv where the type has them.
template <class M>
std::tuple<float, float, float, float, float, float, float, float> weldKey(M& mesh, int v)
{
    const VertexComponents& c = *mesh.getVertexData(v);
    const bool normals = c.normal != &VertexPlaceholder::normal, uvs = c.uv != &VertexPlaceholder::uv;
    return {c.position->x, c.position->y, c.position->z, normals ? c.normal->x : 0, normals ? c.normal->y : 0,
            normals ? c.normal->z : 0, uvs ? c.uv->x : 0, uvs ? c.uv->y : 0};
}

template <class M>
void weldAgainstBruteForce(const char* name, std::mt19937& random, int triangles, int gridSteps, bool nan)
{
    SCOPED_TRACE(name);
    M mesh(String(L"m"));
    int32_t v = 0;
    const auto coordinate = [&] { return float(int(random() % gridSteps)) * 0.5f; };
    for (int t = 0; t < triangles; ++t)
        for (int c = 0; c < 3; ++c, ++v) {
            VertexComponents& vertex = *mesh.getVertexData(v);
            *vertex.position = vec3d(coordinate(), coordinate(), nan && random() % 5 == 0 ? NAN : coordinate());
            *vertex.normal = vec3d(0.0f, random() % 2 ? 1.0f : -1.0f, 0.0f);
            *vertex.uv = vec2d(float(random() % 2), 0.0f);
            mesh.addIndex(uint16_t(v));
        }
    // Unused vertices, some equal to used ones: never kept on their own.
    for (int k = 0; k < 20; ++k, ++v)
        *mesh.getVertexData(v) = *mesh.getVertexData(int(random() % (3 * triangles)));
    *mesh.getVertexCount() = v;
    // Shuffle which vertex each corner names, so first appearance differs
    // from index order.
    std::vector<uint16_t> order(size_t(3 * triangles));
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = uint16_t(i);
    std::shuffle(order.begin(), order.end(), random);
    for (size_t i = 0; i < order.size(); ++i)
        *mesh.getIndex(int32_t(i)) = order[i];

    // Brute force: vertices in number order, each referenced key numbered at
    // its first appearance.
    const std::vector<uint16_t> before = indicesOf(mesh);
    std::set<int> referenced(before.begin(), before.end());
    std::map<decltype(weldKey(mesh, 0)), int> numbers;
    std::map<int, decltype(weldKey(mesh, 0))> keyOf;
    for (int i = 0; i < v; ++i) {
        keyOf[i] = weldKey(mesh, i);
        // NaN keys have no order: their meshes are checked for kept corner data only.
        if (!nan && referenced.count(i) && !numbers.count(keyOf[i]))
            numbers.emplace(keyOf[i], int(numbers.size()));
    }
    MeshTools::weldVertices(mesh);
    ASSERT_EQ(*mesh.getVertexCount(), v) << "without a tree nothing happens";
    MeshTools::buildTriangleTree(mesh);
    MeshTools::weldVertices(mesh);

    if (!nan) {
        ASSERT_EQ(*mesh.getVertexCount(), int32_t(numbers.size()));
    }
    expectConsistent(mesh);
    const std::vector<uint16_t> after = indicesOf(mesh);
    ASSERT_EQ(after.size(), before.size());
    for (size_t k = 0; k < after.size(); ++k) {
        const auto wanted = keyOf[before[k]];
        const auto got = weldKey(mesh, after[k]);
        ASSERT_EQ(std::memcmp(&wanted, &got, sizeof(got)), 0) << "corner data kept at index " << k;
        if (!nan) {
            ASSERT_EQ(after[k], numbers[wanted]) << "first-appearance order at index " << k;
        }
    }
    std::set<decltype(weldKey(mesh, 0))> distinct;
    for (int i = 0; !nan && i < *mesh.getVertexCount(); ++i)
        ASSERT_TRUE(distinct.insert(weldKey(mesh, i)).second) << "two kept vertices equal";
}

TEST(MeshTools, WeldingAgainstBruteForce)
{
    std::mt19937 random(7);
    for (int round = 0; round < 4; ++round) {
        weldAgainstBruteForce<EntityMesh>("position, normal, uv", random, 300, 3, false);
        weldAgainstBruteForce<JointMesh>("position, normal", random, 300, 3, false);
        weldAgainstBruteForce<PointMesh>("position", random, 300, 2, false);
        weldAgainstBruteForce<EntityMesh>("NaN coordinates", random, 100, 3, true);
    }
}

TEST(MeshTools, WeldingLeavesMeshesBeyondSixteenBitIndexPositionsAlone)
{
    EntityMesh mesh(String(L"m"));
    for (int i = 0; i < 3; ++i)
        position(mesh, i) = vec3d(float(i), 0, 0);
    *mesh.getVertexCount() = 3;
    for (int t = 0; t < 21846; ++t)
        mesh.addTriangle(0, 1, 2);
    *mesh.getVertexCount() = 4; // an unused vertex welding would drop
    MeshTools::buildTriangleTree(mesh);
    MeshTools::weldVertices(mesh);
    EXPECT_EQ(*mesh.getVertexCount(), 4);
}

TEST(MeshTools, SkinnedBoundsAgainstBruteForce)
{
    EntityMesh mesh(String(L"m"));
    position(mesh, 0) = vec3d(1, 2, 3);
    position(mesh, 1) = vec3d(-1, 0, 5);
    *mesh.getVertexCount() = 2;
    BoundingBox box;
    MeshTools::calcSkinnedBounds(mesh, box);
    EXPECT_EQ(box.minimum, vec3d(-1, 0, 3));
    EXPECT_EQ(box.maximum, vec3d(1, 2, 5));
    EXPECT_EQ(box.center, vec3d(0, 1, 4));

    std::mt19937 random(3);
    std::uniform_real_distribution<float> value(-3.0f, 3.0f);
    for (int v = 0; v < 50; ++v)
        position(mesh, v) = vec3d(value(random), value(random), value(random));
    *mesh.getVertexCount() = 50;
    // A random skeleton; every bone names random vertices, a few past the end.
    std::vector<Bone*> all;
    for (int b = 0; b < 12; ++b) {
        Bone* bone = new Bone;
        for (float& m : bone->skinMatrix.m)
            m = value(random);
        for (float& m : bone->jointMatrix.m)
            m = value(random);
        bone->vertices.resize(8);
        bone->vertexCount = 8;
        for (int k = 0; k < 8; ++k)
            *bone->vertices.at(k) = {uint16_t(random() % 60), uint8_t(random() % 2), 0};
        if (b < 2)
            mesh.getBoneAnim()->bones.append(bone);
        else
            all[random() % all.size()]->children.append(bone);
        all.push_back(bone);
    }
    vec3d minimum(FLT_MAX, FLT_MAX, FLT_MAX), maximum(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    for (const Bone* bone : all)
        for (int k = 0; k < 8; ++k) {
            const Bone::Vertex& reference = *const_cast<Bone*>(bone)->vertices.at(k);
            if (reference.index >= 50)
                continue;
            const matrix3d& m = reference.joint ? bone->jointMatrix : bone->skinMatrix;
            MeshGeometry::widen(minimum, maximum, m.transformPoint(position(mesh, reference.index)));
        }
    MeshTools::calcSkinnedBounds(mesh, box);
    EXPECT_EQ(box.minimum, minimum);
    EXPECT_EQ(box.maximum, maximum);
    EXPECT_EQ(box.center, (minimum + maximum) * 0.5f);
}

TEST(MeshTools, CopyUVsTakesEveryCountedVertex)
{
    EntityMesh mesh(String(L"m"));
    EXPECT_EQ(MeshTools::copyUVs(mesh), nullptr);
    for (int v = 0; v < 300; ++v)
        uv(mesh, v) = vec2d(float(v), 0.5f);
    *mesh.getVertexCount() = 299;
    const std::unique_ptr<vec2d[]> uvs = MeshTools::copyUVs(mesh);
    ASSERT_NE(uvs, nullptr);
    for (int v = 0; v < 299; ++v)
        ASSERT_EQ(uvs[v], vec2d(float(v), 0.5f));
}

}
