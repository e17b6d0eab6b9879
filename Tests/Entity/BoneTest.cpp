// Bones: the placement from angles, the tree's geometry, aiming, the stored
// skeleton and binding a mesh.
#include "MeshTestSupport.h"

#include "Core/Math.h"

#include <cmath>

namespace {

constexpr float degrees = 0.017453292f;

matrix3d rotation(int axis, float angle)
{
    const float c = std::cos(angle * degrees), s = std::sin(angle * degrees);
    matrix3d r = matrix3d::identity();
    const int a = (axis + 1) % 3, b = (axis + 2) % 3;
    r.at(a, a) = c;
    r.at(a, b) = s;
    r.at(b, a) = -s;
    r.at(b, b) = c;
    return r;
}

void expectNear(const matrix3d& a, const matrix3d& b, float tolerance, const char* what)
{
    for (int i = 0; i < 16; ++i)
        ASSERT_NEAR(a.m[i], b.m[i], tolerance) << what << ", element " << i;
}

void expectNear(const vec3d& a, const vec3d& b, float tolerance, const char* what)
{
    ASSERT_NEAR((a - b).length(), 0.0f, tolerance) << what << ": (" << a.x << ", " << a.y << ", " << a.z << ")";
}

// A random tree of count bones with random angles, lengths and vertices.
void randomSkeleton(Bone::Root& root, std::mt19937& random, int count)
{
    std::uniform_real_distribution<float> angle(-170.0f, 170.0f), length(0.2f, 2.0f);
    std::vector<Bone*> all{root.addBone(vec3d(1, 2, 3), length(random))};
    while (int(all.size()) < count) {
        Bone* parent = all[random() % all.size()];
        Bone* bone = root.addBoneWithGeometry(*parent, length(random), random() % 5 != 0);
        bone->vertices.resize(int32_t(random() % 4));
        bone->vertexCount = bone->vertices.count();
        for (int k = 0; k < bone->vertexCount; ++k)
            *bone->vertices.at(k) = {uint16_t(random()), uint8_t(random() % 2), 0};
        all.push_back(bone);
    }
    for (Bone* bone : all) {
        bone->rotationMin = {-175.0f, -175.0f, -175.0f};
        bone->setAngles(vec3d(angle(random), angle(random), angle(random)));
    }
}

std::vector<uint8_t> skeletonBytes(Bone::Root& root)
{
    FileArray stream(4096);
    EXPECT_TRUE(root.write(stream));
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

bool readSkeleton(Bone::Root& root, const std::vector<uint8_t>& bytes)
{
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    return root.read(stream);
}

// A bone record with childCount children, nothing else.
void putRecord(std::vector<uint8_t>& bytes, uint8_t childCount)
{
    bytes.push_back(childCount);
    bytes.insert(bytes.end(), 2, 0); // no vertices
    const float fields[10] = {0, 0, 0, 1, -360, -360, -360, 360, 360, 360};
    const auto* p = reinterpret_cast<const uint8_t*>(fields);
    bytes.insert(bytes.end(), p, p + sizeof(fields));
}

std::vector<uint8_t> rootHeader(uint8_t roots)
{
    std::vector<uint8_t> bytes{roots};
    bytes.insert(bytes.end(), 12, 0);
    return bytes;
}

TEST(Bones, AnglesTurnAsRyRxRzAndChildrenHangFromTheParentsTip)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> angle(-360.0f, 360.0f);
    for (int round = 0; round < 50; ++round) {
        const vec3d a(angle(random), angle(random), angle(random));
        Bone::Root root;
        Bone* bone = root.addBone(vec3d(4, 5, 6), 2.0f);
        bone->setAngles(a);
        matrix3d expected = rotation(1, a.y) * rotation(0, a.x) * rotation(2, a.z);
        expected.setRow(3, vec3d(4, 5, 6));
        expectNear(*bone, expected, 1e-5f, "a root bone is its angles' turn at its own position");

        Bone* child = root.addBoneWithGeometry(*bone, 1.5f, true);
        child->setAngles(vec3d(angle(random), angle(random), angle(random)));
        Bone* grandchild = root.addBoneWithGeometry(*child, 1.0f, true);
        bone->setAngles(vec3d(angle(random), angle(random), angle(random)));
        expectNear(bone->position(), vec3d(4, 5, 6), 0.0f, "a root bone keeps its position");
        expectNear(child->position(), bone->tip(), 1e-5f, "a child starts at its parent's tip");
        expectNear(grandchild->position(), child->tip(), 1e-5f, "the update reaches the grandchild");
        matrix3d turn = matrix3d::fromAngles(child->angles) * *bone;
        turn.setRow(3, child->position());
        expectNear(*child, turn, 1e-5f, "a child turns by its angles, then its parent's rotation");
        expectNear(child->skinMatrix, *child, 0.0f, "unbound, the skinning matrix is the placement");
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 3; ++j)
                ASSERT_NEAR(child->jointMatrix.at(i, j), (child->skinMatrix.at(i, j) + grandchild->skinMatrix.at(i, j)) / 2,
                            1e-6f);
        expectNear(child->bounds.center, (child->position() + child->tip()) * 0.5f, 1e-5f, "the box sits mid-bone");
    }

    Bone::Root root;
    Bone* bone = root.addBone(vec3d(0, 3, 0), 1.0f);
    Bone* child = root.addBoneWithGeometry(*bone, 1.0f, true);
    expectNear(*child, [] {
        matrix3d m = matrix3d::identity();
        m.setRow(3, vec3d(0, 2, 0));
        return m;
    }(), 0.0f, "zero angles: the parent's rotation, hanging down its -row 1");
    EXPECT_EQ(child->queryFlag(), 1u);
    EXPECT_EQ(bone->queryFlag(), 0u);
    EXPECT_EQ(root.addBone(vec3d(), 1.0f), nullptr) << "only the first root bone is added this way";
    Bone* further = root.addBoneWithGeometry(*bone, 1.0f, false);
    EXPECT_EQ(further->parent, nullptr);
    EXPECT_EQ(further->position(), vec3d(0, 3, 0)) << "a further root bone starts at the first one";
    Bone* sibling = root.addBoneWithGeometry(*child, 1.0f, false);
    EXPECT_EQ(sibling->parent, bone);

    // noRecurse: the children stay where they were until updated themselves.
    const matrix3d before = *child;
    bone->angles = vec3d(30, 0, 0);
    bone->updateGeometry(nullptr, true);
    expectNear(*child, before, 0.0f, "noRecurse leaves the children");
    EXPECT_EQ(root.updateBone(*child), bone);
    expectNear(child->position(), bone->tip(), 1e-6f, "updateBone refreshes the bone");
}

TEST(Bones, AnglesStayWithinTheirLimits)
{
    struct Case
    {
        vec3d asked, expected;
    };
    const Case cases[] = {
        {{10, -20, 30}, {10, -20, 30}},
        {{-50, 100, 0}, {-45, 90, 0}},
        {{400, -400, 360}, {45, -90, 360}},
    };
    Bone::Root root;
    Bone* bone = root.addBone(vec3d(), 1.0f);
    EXPECT_EQ(bone->rotationMin, vec3d(-360, -360, -360));
    EXPECT_EQ(bone->rotationMax, vec3d(360, 360, 360));
    bone->rotationMin = {-45, -90, -360};
    bone->rotationMax = {45, 90, 360};
    for (const Case& c : cases) {
        bone->setAngles(c.asked);
        EXPECT_EQ(bone->angles, c.expected);
    }
}

TEST(Bones, AimingPointsTheTurnedBonesTipAtTheTarget)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> coordinate(-5.0f, 5.0f);
    for (int round = 0; round < 40; ++round) {
        Bone::Root root;
        randomSkeleton(root, random, 6);
        for (int k = 0; k < 6; ++k) {
            Bone* bone = root.getBoneByIndex(k);
            bone->rotationMin = {-360, -360, -360};
            bone->rotationMax = {360, 360, 360};
        }
        Bone* bone = root.getBoneByIndex(int32_t(1 + random() % 5));
        const vec3d target(coordinate(random), coordinate(random), coordinate(random));
        // A root bone aimed without turnSelf moves instead (below).
        const bool self = round % 2 == 0 || !bone->parent;
        Bone* turned = self ? bone : bone->parent;
        root.aimBone(*bone, target, self);
        const vec3d along = (turned->tip() - turned->position()).normalised();
        expectNear(along, (target - turned->position()).normalised(), 2e-3f, "the tip points at the target");
        for (auto* node = turned->children.head(); node; node = node->next)
            expectNear(node->item->position(), turned->tip(), 1e-4f, "the children follow");
    }

    Bone::Root root;
    Bone* first = root.addBone(vec3d(1, 1, 1), 1.0f);
    first->setAngles(vec3d(10, 20, 30));
    Bone* second = root.addBoneWithGeometry(*first, 1.0f, false);
    root.aimBone(*first, vec3d(7, 8, 9), false);
    EXPECT_EQ(first->position(), vec3d(7, 8, 9));
    EXPECT_EQ(second->position(), vec3d(7, 8, 9)) << "every root bone moves";
    EXPECT_EQ(first->angles, vec3d(10, 20, 30)) << "and nothing turns";

    // A target at the base gives no direction: the pose stays.
    const matrix3d before = *first;
    root.aimBone(*first, first->position(), true);
    expectNear(*first, before, 0.0f, "zero direction");
}

TEST(Bones, EulerAnglesReadBackTheTurnAndHandleTheSinesEdge)
{
    std::mt19937 random(31);
    std::uniform_real_distribution<float> angle(-85.0f, 85.0f);
    for (int round = 0; round < 100; ++round) {
        const vec3d a(angle(random), 2.0f * angle(random), 2.0f * angle(random));
        expectNear(Bone::eulerAngles(matrix3d::fromAngles(a)), a, 2e-3f, "the angles come back");
    }
    // A quarter turn about x after 30 degrees about y: a sine of exactly 1
    // takes the asin branch; rounding past it the other, which reads y from
    // rows 0 and 2.
    struct Case
    {
        float sine, x;
    };
    for (const Case& c : {Case{1.0f, 90.0f}, Case{1.0000001f, 90.000009f}, Case{-1.0000001f, -90.000009f}}) {
        matrix3d r = matrix3d::fromAngles(vec3d(90, 30, 0));
        r.at(1, 2) = c.sine;
        const vec3d got = Bone::eulerAngles(r);
        EXPECT_NEAR(got.x, c.x, 1e-5f) << c.sine;
        if (c.sine != 1.0f) {
            EXPECT_NEAR(got.y, 30.0f, 1e-3f) << c.sine;
            EXPECT_EQ(got.z, 0.0f) << c.sine;
        }
    }
}

TEST(Bones, WriteReadWriteGivesEqualBytes)
{
    std::mt19937 random(21);
    for (int round = 0; round < 20; ++round) {
        Bone::Root root;
        randomSkeleton(root, random, 1 + round);
        const std::vector<uint8_t> first = skeletonBytes(root);
        Bone::Root copy;
        ASSERT_TRUE(readSkeleton(copy, first));
        EXPECT_EQ(skeletonBytes(copy), first) << round;
        ASSERT_EQ(copy.countBones(), root.countBones());
        for (int k = 0; k < root.countBones(); ++k) {
            Bone& read = *copy.getBoneByIndex(k);
            expectNear(read, *root.getBoneByIndex(k), 1e-4f, "the placement comes back");
            // Read bones are bound where they stand, except leaves, which
            // are bound at their placement with their own angles at zero.
            matrix3d bound = read.parent ? static_cast<matrix3d&>(*read.parent) : matrix3d::identity();
            bound.setRow(3, read.position());
            expectNear(read.queryFlag() ? bound * read.skinMatrix : read.skinMatrix,
                       read.queryFlag() ? static_cast<matrix3d&>(read) : matrix3d::identity(), 1e-4f, "bind");
        }
    }

    Bone::Root empty;
    EXPECT_EQ(skeletonBytes(empty), std::vector<uint8_t>{0}) << "no bones: the single byte 0";
}

TEST(Bones, DamagedSkeletonsLeaveNoBones)
{
    std::mt19937 random(4);
    Bone::Root root;
    randomSkeleton(root, random, 12);
    const std::vector<uint8_t> bytes = skeletonBytes(root);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        Bone::Root copy;
        randomSkeleton(copy, random, 3);
        EXPECT_FALSE(readSkeleton(copy, std::vector<uint8_t>(bytes.begin(), bytes.begin() + ptrdiff_t(cut)))) << cut;
        EXPECT_FALSE(copy.hasBones()) << cut;
    }

    // A chain as deep as allowed reads; one more is refused.
    for (int depth : {64, 65}) {
        std::vector<uint8_t> chain = rootHeader(1);
        for (int d = 0; d < depth; ++d)
            putRecord(chain, d + 1 < depth ? 1 : 0);
        Bone::Root copy;
        EXPECT_EQ(readSkeleton(copy, chain), depth <= Bone::maxDepth) << depth;
        EXPECT_EQ(copy.countBones(), depth <= Bone::maxDepth ? depth : 0);
    }
    // As many bones as allowed read; one more is refused.
    for (int count : {1024, 1025}) {
        std::vector<uint8_t> wide = rootHeader(uint8_t(count / 255 + 1));
        int left = count - (count / 255 + 1);
        for (int r = 0; r <= count / 255; ++r) {
            const int children = std::min(left, 255);
            putRecord(wide, uint8_t(children));
            for (int c = 0; c < children; ++c)
                putRecord(wide, 0);
            left -= children;
        }
        Bone::Root copy;
        EXPECT_EQ(readSkeleton(copy, wide), count <= Bone::maxBones) << count;
    }
}

TEST(Bones, BindingGathersTheTrianglesNearEachBoneAsBruteForceDoes)
{
    std::mt19937 random(8);
    std::uniform_real_distribution<float> coordinate(-3.0f, 3.0f);
    EntityMesh mesh(String(L"m"));
    for (int v = 0; v < 60; ++v)
        position(mesh, v) = vec3d(coordinate(random), coordinate(random), coordinate(random));
    *mesh.getVertexCount() = 60;
    for (int i = 0; i < 90; ++i)
        mesh.addIndex(uint16_t(random() % 60));
    BoneAnim& skeleton = *mesh.getBoneAnim();
    randomSkeleton(skeleton, random, 10);
    Bone* bare = skeleton.getBoneByIndex(3);
    bare->vertices.resize(0);
    bare->vertexCount = 0;
    // A triangle with a corner in the middle of the bare bone, where any box
    // of its would reach.
    position(mesh, 59) = bare->bounds.center;
    mesh.addTriangle(59, 0, 1);
    for (int k = 0; k < 10; ++k) {
        Bone& bone = *skeleton.getBoneByIndex(k);
        for (int e = 0; e < bone.vertices.count(); ++e)
            bone.vertices.at(e)->index %= 70; // a few past the vertex count
    }
    for (auto* node = skeleton.bones.head(); node; node = node->next)
        node->item->bindMesh(mesh);

    for (int k = 0; k < 10; ++k) {
        Bone& bone = *skeleton.getBoneByIndex(k);
        std::vector<int> expected;
        if (bone.vertices.count() > 0) {
            OrientedBox box = bone.bounds;
            box.halfExtents = {0.0f, 0.5f * bone.length, 0.0f};
            for (int e = 0; e < bone.vertexCount; ++e)
                if (bone.vertices.at(e)->index < 60)
                    box.extendToPoint(position(mesh, bone.vertices.at(e)->index));
            for (int t = 0; t < 31; ++t) {
                bool near = false;
                for (int c = 0; c < 3; ++c) {
                    const vec3d d = position(mesh, *mesh.getIndex(3 * t + c)) - box.center;
                    bool inside = true;
                    for (int a = 0; a < 3; ++a)
                        inside = inside && std::fabs(d.dot(box.axes[a])) <= box.halfExtents[a];
                    near = near || inside;
                }
                if (near)
                    expected.push_back(t);
            }
        }
        ASSERT_EQ(bone.triangleCount, int32_t(expected.size())) << "bone " << k;
        for (size_t i = 0; i < expected.size(); ++i) {
            const triangle3dex& taken = *bone.triangles.at(int32_t(i));
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(taken.vertices[c], *mesh.getIndex(3 * expected[i] + c));
                EXPECT_EQ(taken.corners[c], position(mesh, taken.vertices[c]));
            }
            const vec3d n = (taken.corners[1] - taken.corners[0]).cross(taken.corners[2] - taken.corners[0]);
            if (n.lengthSq() > 1e-6f)
                expectNear(taken.normal, n.normalised(), 1e-3f, "unit normal");
        }
    }
    EXPECT_EQ(bare->triangleCount, 0) << "a bone without vertex storage gathers nothing";
}

}
