// The mesh template: index editing, component accessors, the three views,
// bounds, textures and skinning.
#include "MeshTestSupport.h"

#include "Render/TextureDevice.h"

#include <functional>
#include <string>

namespace {

TEST(MeshTemplate, NewMeshIsEmptyWithItsFormat)
{
    EntityMesh mesh(String(L"box"));
    EXPECT_STREQ(mesh.getName()->text(), L"box");
    EXPECT_EQ(*mesh.getVertexCount(), 0);
    EXPECT_EQ(*mesh.getIndexCount(), 0);
    const BoundingBox& box = *mesh.getBounds();
    EXPECT_EQ(box.center, vec3d());
    EXPECT_EQ(box.minimum, vec3d());
    EXPECT_EQ(box.maximum, vec3d());
    EXPECT_EQ(box.radius, 1.0f);
    EXPECT_EQ(box.radiusSq, 1.0f);
    EXPECT_FALSE(mesh.getTexture()->isBound());
    EXPECT_EQ(mesh.getTriangleTree(), nullptr);

    PointMesh points(String(L"p"));
    JointMesh joints(String(L"j"));
    EXPECT_EQ(points.getFvf(), 2u);
    EXPECT_EQ(joints.getFvf(), 18u);
    EXPECT_EQ(mesh.getFvf(), 274u);
}

TEST(MeshTemplate, IndexEditing)
{
    struct Case
    {
        const char* name;
        std::function<void(MeshTools&)> edit;
        std::vector<uint16_t> expected;
    };
    const uint16_t three[] = {0, 1, 2};
    const auto two = [](MeshTools& m) {
        m.addTriangle(0, 1, 2);
        m.addTriangle(3, 4, 5);
    };
    const std::vector<Case> cases = {
        {"addTriangle", [](MeshTools& m) { m.addTriangle(0, 1, 2); }, {0, 1, 2}},
        {"append", [&](MeshTools& m) { m.appendIndices(three, 3, 4, false); }, {4, 5, 6}},
        {"append reversed", [&](MeshTools& m) { m.appendIndices(three, 3, 4, true); }, {6, 5, 4}},
        {"append nothing", [&](MeshTools& m) { m.appendIndices(three, 0, 4, false); }, {}},
        {"append a negative count", [&](MeshTools& m) { m.appendIndices(three, -3, 4, false); }, {}},
        {"remove first triangle", [&](MeshTools& m) { two(m), m.removeTriangle(0); }, {3, 4, 5}},
        {"remove second triangle", [&](MeshTools& m) { two(m), m.removeTriangle(1); }, {0, 1, 2}},
        {"remove triangles past the ends", [&](MeshTools& m) { two(m), m.removeTriangle(2), m.removeTriangle(-1); },
         {0, 1, 2, 3, 4, 5}},
        {"remove an incomplete triangle", [&](MeshTools& m) { two(m), m.removeIndex(5), m.removeTriangle(1); },
         {0, 1, 2, 3, 4}},
        {"remove index", [&](MeshTools& m) { two(m), m.removeIndex(1); }, {0, 2, 3, 4, 5}},
        {"remove last index", [&](MeshTools& m) { two(m), m.removeIndex(5); }, {0, 1, 2, 3, 4}},
        {"remove indices out of range", [&](MeshTools& m) { two(m), m.removeIndex(6), m.removeIndex(-1), m.removeIndex(600); },
         {0, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        EntityMesh mesh(String(L"m"));
        c.edit(mesh);
        EXPECT_EQ(indicesOf(mesh), c.expected) << c.name;
    }
}

TEST(MeshTemplate, IndexArraysGrowInWholeBlocksAndKeepTheirContent)
{
    EntityMesh mesh(String(L"m"));
    for (int i = 0; i < 1500; ++i)
        mesh.addIndex(uint16_t(i));
    const uint16_t* reserved = mesh.reserveIndices(2000);
    ASSERT_NE(reserved, nullptr);
    ASSERT_NE(mesh.getIndex(2047), nullptr);
    EXPECT_EQ(mesh.getIndex(2047), reserved + 2047) << "2000 indices fill four blocks of 512";
    const std::vector<uint16_t> got = indicesOf(mesh);
    for (int i = 0; i < 1500; ++i)
        ASSERT_EQ(got[size_t(i)], i);
    EXPECT_EQ(mesh.reserveIndices(10), reserved) << "reserving less keeps the storage";
}

// Every element points into its own vertex, or at the placeholder for a
// component its type lacks; values and pointers survive growth.
template <class M>
void expectAccessors(const char* name, bool normal, bool uv)
{
    M mesh(String(L"m"));
    for (int i = 0; i < 600; ++i)
        *mesh.getVertexData(i)->position = vec3d(float(i), 1.0f, 2.0f);
    for (int i = 0; i < 600; ++i) {
        VertexComponents& c = *mesh.getVertexData(i);
        const auto* vertex = reinterpret_cast<const uint8_t*>(c.position);
        const auto inside = [&](const void* p) {
            return p >= vertex && p < vertex + sizeof(typename M::Vertex);
        };
        ASSERT_EQ(c.position->x, float(i)) << name;
        ASSERT_EQ(c.normal == &VertexPlaceholder::normal, !normal) << name;
        ASSERT_EQ(c.uv == &VertexPlaceholder::uv, !uv) << name;
        ASSERT_EQ(c.colour, &VertexPlaceholder::colour) << name;
        if (normal) {
            ASSERT_TRUE(inside(c.normal)) << name;
        }
        if (uv) {
            ASSERT_TRUE(inside(c.uv)) << name;
        }
    }
    EXPECT_EQ(mesh.getVertexData(-1), nullptr);
    EXPECT_EQ(*mesh.getVertexCount(), 0) << "filling vertices does not count them";
}

TEST(MeshTemplate, ComponentAccessorsAndPlaceholders)
{
    expectAccessors<PointMesh>("vec3d", false, false);
    expectAccessors<JointMesh>("joint", true, false);
    expectAccessors<EntityMesh>("entity", true, true);
}

// The same edits through the three views give the same mesh.
TEST(MeshTemplate, EveryViewBehavesTheSame)
{
    const auto build = [](MeshInterface& m) {
        for (int i = 0; i < 4; ++i) {
            *m.getVertexData(i)->position = vec3d(float(i), float(-i), 2.0f);
            *m.getVertexData(i)->uv = vec2d(0.5f, float(i));
        }
        *m.getVertexCount() = 4;
        m.addTriangle(0, 1, 2);
        const uint16_t more[] = {1, 2, 3};
        m.appendIndices(more, 3, 0, true);
        m.removeIndex(0);
        m.calcBounds();
        const uint16_t* indices = m.getIndices();
        return std::make_pair(std::vector<uint16_t>(indices, indices + *m.getIndexCount()), *m.getBounds());
    };
    EntityMesh a(String(L"a")), b(String(L"b")), c(String(L"c"));
    const auto viaTools = build(static_cast<MeshTools&>(a));
    const auto viaShaper = build(static_cast<Shaper&>(b));
    const auto viaFramer = build(static_cast<Framer&>(c));
    EXPECT_EQ(viaTools.first, (std::vector<uint16_t>{1, 2, 3, 2, 1}));
    EXPECT_EQ(viaShaper.first, viaTools.first);
    EXPECT_EQ(viaFramer.first, viaTools.first);
    for (const auto* box : {&viaShaper.second, &viaFramer.second}) {
        EXPECT_EQ(box->minimum, viaTools.second.minimum);
        EXPECT_EQ(box->maximum, viaTools.second.maximum);
    }
    EXPECT_EQ(static_cast<Shaper&>(a).getName(), static_cast<Framer&>(a).getName());
    EXPECT_EQ(static_cast<Shaper&>(a).getVertexData(2), static_cast<MeshTools&>(a).getVertexData(2));
}

TEST(MeshTemplate, CalcBoundsOverTheCountedPositions)
{
    EntityMesh mesh(String(L"m"));
    mesh.getBounds()->minimum = vec3d(-4, -4, -4);
    mesh.getBounds()->maximum = vec3d(2, 0, 0);
    mesh.calcBounds();
    EXPECT_EQ(mesh.getBounds()->center, vec3d(-1, -2, -2)) << "without vertices only the centre moves";
    EXPECT_EQ(mesh.getBounds()->minimum, vec3d(-4, -4, -4));

    position(mesh, 0) = vec3d(1, 2, 3);
    position(mesh, 1) = vec3d(-1, 0, 5);
    position(mesh, 2) = vec3d(100, 100, 100); // filled but not counted
    *mesh.getVertexCount() = 2;
    mesh.getBounds()->radius = 7.0f;
    mesh.calcBounds();
    EXPECT_EQ(mesh.getBounds()->minimum, vec3d(-1, 0, 3));
    EXPECT_EQ(mesh.getBounds()->maximum, vec3d(1, 2, 5));
    EXPECT_EQ(mesh.getBounds()->center, vec3d(0, 1, 4));
    EXPECT_EQ(mesh.getBounds()->radius, 7.0f);

    *mesh.getVertexCount() = 100000; // more than the array holds: only what is there is read
    mesh.calcBounds();
    EXPECT_EQ(mesh.getBounds()->maximum, vec3d(100, 100, 100));
}

TEST(MeshTemplate, SetTextureSharesTheRecord)
{
    Texture* record = TextureDevice::beginRecord();
    ASSERT_NE(record, nullptr);
    TextureRef ref;
    ref.bind(record);
    {
        EntityMesh mesh(String(L"m"));
        mesh.setTexture(ref);
        EXPECT_EQ(mesh.getTexture()->texture(), record);
        EXPECT_EQ(record->references.count(), 2);
        mesh.setTexture(ref);
        EXPECT_EQ(record->references.count(), 2) << "setting the same texture keeps one reference";
        ref.release();
        EXPECT_EQ(record->references.count(), 1) << "the mesh keeps the record alive";
        ref.bind(record);
        mesh.setTexture(TextureRef());
        EXPECT_FALSE(mesh.getTexture()->isBound());
        EXPECT_EQ(record->references.count(), 1);
        mesh.setTexture(ref);
    }
    EXPECT_EQ(record->references.count(), 1) << "the mesh's destructor releases its reference";
}

// Bones for the skinning tests: a root with two children, the later child
// handled first, so the first child's pose wins a vertex both name.
struct Skeleton
{
    Bone* root;
    Bone* first;
    Bone* second;

    static matrix3d translation(float x, float y, float z)
    {
        matrix3d m = matrix3d::identity();
        m.m[12] = x;
        m.m[13] = y;
        m.m[14] = z;
        return m;
    }

    static void name(Bone& bone, std::initializer_list<Bone::Vertex> vertices)
    {
        bone.vertices.resize(int32_t(vertices.size()));
        int32_t k = 0;
        for (const Bone::Vertex& v : vertices)
            *bone.vertices.at(k++) = v;
        bone.vertexCount = k;
    }

    explicit Skeleton(BoneAnim& anim)
    {
        root = new Bone;
        first = new Bone;
        second = new Bone;
        anim.bones.append(root);
        root->children.append(first);
        root->children.append(second);
        first->parent = second->parent = root;
        root->skinMatrix = translation(1, 0, 0);
        first->skinMatrix = translation(0, 2, 0);
        first->jointMatrix = translation(0, 0, 3);
        second->skinMatrix = translation(0, 0, -4);
        // Vertex 0: root only. 1: root, then second, then first (wins).
        // 2: first through its joint matrix. 3: a number past the vertex count.
        name(*root, {{0, 0, 0}, {1, 0, 0}});
        name(*second, {{1, 0, 0}, {70, 0, 0}});
        name(*first, {{1, 0, 0}, {2, 1, 0}, {3, 0, 0}});
    }
};

TEST(MeshTemplate, SkinningPosesThroughTheLastHandledBone)
{
    EntityMesh mesh(String(L"m"));
    for (int i = 0; i < 4; ++i) {
        position(mesh, i) = vec3d(float(i), 0, 0);
        normal(mesh, i) = vec3d(0, 1, 0);
        uv(mesh, i) = vec2d(0.25f * float(i), 0.5f);
    }
    *mesh.getVertexCount() = 3;
    mesh.applyBones();
    EXPECT_EQ(*mesh.getSkinnedVertexData(0)->position, vec3d()) << "without bones nothing is posed";

    const Skeleton skeleton(*mesh.getBoneAnim());
    mesh.getSkinnedVertexData(3)->position->x = 99.0f;
    mesh.applyBones();
    const auto skinned = [&](int i) { return *mesh.getSkinnedVertexData(i)->position; };
    EXPECT_EQ(skinned(0), vec3d(1, 0, 0));
    EXPECT_EQ(skinned(1), vec3d(1, 2, 0)) << "the first child is handled last";
    EXPECT_EQ(skinned(2), vec3d(2, 0, 3)) << "joint vertices follow the joint matrix";
    EXPECT_EQ(skinned(3).x, 99.0f) << "vertex 3 is not counted: left alone";
    EXPECT_EQ(*mesh.getSkinnedVertexData(2)->uv, vec2d(0.5f, 0.5f));
    EXPECT_EQ(*mesh.getSkinnedVertexData(2)->normal, vec3d(0, 1, 0)) << "translations do not move normals";
    EXPECT_EQ(position(mesh, 1), vec3d(1, 0, 0)) << "the source vertices stay";

    // Posed positions beyond 10 on any axis sound the beep; 10 itself does not.
    for (float c : {10.0f, -10.0f, 0.0f})
        EXPECT_FALSE(MeshSkinning::outOfRange(vec3d(c, -c, c)));
    for (const vec3d& p : {vec3d(10.5f, 0, 0), vec3d(0, -10.5f, 0), vec3d(0, 0, 10.5f), vec3d(-10.5f, 0, 0),
                           vec3d(0, 10.5f, 0), vec3d(0, 0, -10.5f)})
        EXPECT_TRUE(MeshSkinning::outOfRange(p));

    // The buffer form poses the same way over the unskinned vertices.
    EntityManager::MeshVertex packed[3];
    mesh.packVertices(packed);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(packed[i].position, skinned(i)) << i;
}

}
