// The tree object: the stream read into parameters, skeletons and seed, the
// trunk mesh of the selected level built from its skeleton, its box record
// and bounds, and damaged streams.
#include "TreeTestSupport.h"

#include "Tree/Bough.h"
#include "Tree/Foliage.h"
#include "Tree/Tree.h"

#include "Entity/Entity.h"
#include "Entity/EntityManager.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"

#include "TreeSamples.h"
#include "TreeStreamWriter.h"

#include <cstdlib>
#include <cwchar>

namespace {

// The brute-force box of a hierarchy's rings, from the trunk's first bone.
void ringBox(Tree::Bough& trunk, vec3d& lo, vec3d& hi)
{
    lo = hi = trunk.bones.at(0)->position;
    forEachBough(trunk, [&](Tree::Bough& b, Tree::Bough*, uint32_t) {
        for (uint32_t i = 0; i < b.nodeCount; ++i) {
            Tree::Bough::Node& ring = *b.nodes.at(int32_t(i));
            for (int32_t k = 0; k < ring.vertexCount; ++k)
                for (int axis = 0; axis < 3; ++axis) {
                    lo[axis] = std::min(lo[axis], ring.vertices.at(k)->position[axis]);
                    hi[axis] = std::max(hi[axis], ring.vertices.at(k)->position[axis]);
                }
        }
    });
}

// "v1.1", the default parameters, a grown trunk as level 0 and the seed.
Bytes trunkOnly(uint32_t seed)
{
    TreeStreamWriter::Content content;
    Tree::Bough trunk;
    srand(11);
    trunk.genBones(content.param);
    content.levels[0] = &trunk;
    content.seed = seed;
    FileArray stream(4096);
    EXPECT_TRUE(TreeStreamWriter::write(stream, content));
    return contentOf(stream);
}

} // namespace

TEST(TreeObject, AStreamOfOnlyItsVersionGivesDefaultsAndAnEmptyMesh)
{
    srand(1);
    Tree tree;
    const uint32_t seed = tree.seed;
    ByteStream stream(TreeSamples::emptyTree());
    tree.generate(stream);
    EXPECT_EQ(tree.seed, seed);
    EXPECT_EQ(tree.ambient, 0.6f);
    EXPECT_EQ(tree.diffuse, 1.0f);
    EXPECT_EQ(tree.tag3Value, 2u);
    EXPECT_EQ(tree.bough(0).boneCount, 0u);
    EXPECT_EQ(tree.countVertices(), 0u);
    EXPECT_TRUE(tree.hasLevel(0));
    EXPECT_FALSE(tree.hasLevel(1));
    EXPECT_FALSE(tree.hasLevel(2));
    EXPECT_FALSE(tree.hasLevel(3));
    wchar_t expected[16];
    std::swprintf(expected, 16, L"A%X", seed);
    EXPECT_STREQ(tree.meshName(0), expected);
    const BoundingBox bounds = tree.getBounds();
    EXPECT_EQ(bounds.minimum, vec3d());
    EXPECT_EQ(bounds.maximum, vec3d());
    EXPECT_EQ(bounds.radius, 1.0f);
    EXPECT_EQ(bounds.radiusSq, 0.0f);
}

TEST(TreeObject, TheStreamsSeedNamesTheMeshesWithoutReseeding)
{
    Tree tree;
    ByteStream stream(trunkOnly(0x2A0F00Du));
    srand(77);
    const int expectedNext = [] {
        srand(77);
        return rand();
    }();
    srand(77);
    tree.generate(stream);
    EXPECT_EQ(tree.seed, 0x2A0F00Du);
    EXPECT_STREQ(tree.meshName(0), L"A2A0F00D");
    EXPECT_STREQ(tree.meshName(1), L"B2A0F00D");
    EXPECT_STREQ(tree.meshName(2), L"C2A0F00D");
    // The bark roughness drew from the running generator; it was not reseeded.
    EXPECT_NE(rand(), expectedNext);
}

TEST(TreeObject, TheSampleTreesBoxRecordIsItsRingsBox)
{
    for (uint32_t lod : {0u, 1u, 2u}) {
        Tree tree;
        tree.lod = lod;
        ByteStream stream(TreeSamples::sampleTree());
        srand(3);
        tree.generate(stream);
        EXPECT_TRUE(tree.hasLevel(lod));
        EXPECT_EQ(tree.seed, TreeSamples::sampleSeed);
        Tree::Bough& skeleton = tree.bough(lod);
        ASSERT_GT(skeleton.boneCount, 0u) << lod;
        ASSERT_GT(skeleton.nodeCount, 0u) << lod;
        vec3d lo, hi;
        ringBox(skeleton, lo, hi);
        const BoundingBox bounds = tree.getBounds();
        for (int axis = 0; axis < 3; ++axis) {
            EXPECT_NEAR(bounds.minimum[axis], lo[axis], 1e-4f) << lod;
            EXPECT_NEAR(bounds.maximum[axis], hi[axis], 1e-4f) << lod;
        }
        EXPECT_EQ(bounds.center, (bounds.minimum + bounds.maximum) * 0.5f);
    }
    // The levels hold different skeletons.
    Tree tree;
    ByteStream stream(TreeSamples::sampleTree());
    tree.generate(stream);
    EXPECT_NE(tree.bough(0).boneCount, 0u);
    EXPECT_NE(&tree.bough(0), &tree.bough(1));
    EXPECT_NE(&tree.bough(1), &tree.bough(2));
}

TEST(TreeObject, ALevelTheStreamLacksIsBuiltFromLevelZero)
{
    Tree tree;
    tree.lod = 2;
    ByteStream stream(trunkOnly(5));
    tree.generate(stream);
    EXPECT_FALSE(tree.hasLevel(2));
    EXPECT_EQ(&tree.bough(2), &tree.bough(0));
    vec3d lo, hi;
    ringBox(tree.bough(0), lo, hi);
    const BoundingBox level2 = tree.getBounds();
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(level2.minimum[axis], lo[axis], 1e-4f);
        EXPECT_NEAR(level2.maximum[axis], hi[axis], 1e-4f);
    }
    // Level 0's mesh was not built: its bounds are those of its empty record.
    tree.lod = 0;
    EXPECT_EQ(tree.getBounds().maximum, vec3d());
}

TEST(TreeObject, ABarkLargerThanTheDataLeftEndsTheRead)
{
    const Bytes stream = Assembler()
                             .raw('v').raw('1').raw('.').raw('1')
                             .tag(1).f(0.25f)
                             .tag(6).u(0).u(1000000).u(0x474E5089)
                             .tag(9).u(1234)
                             .end()
                             .bytes;
    srand(2);
    Tree tree;
    const uint32_t seed = tree.seed;
    ByteStream data(stream);
    tree.generate(data);
    EXPECT_EQ(tree.ambient, 0.25f);
    EXPECT_EQ(tree.seed, seed);
    EXPECT_FALSE(tree.hasBark());
}

TEST(TreeObject, FoliageBlocksFollowTheirCount)
{
    // A foliage block: its name, then the end (no placements, no texture).
    const Bytes oak = Assembler().tag(1).u(3).raw('O').raw('a').raw('k').end().bytes;
    struct Case
    {
        const char* what;
        Bytes fields;
        uint32_t objects;
        bool seedRead;
    };
    const Case cases[] = {
        {"tag 8 before tag 7: no objects", Assembler().tag(8).tag(7).u(2).bytes, 0, true},
        {"one object", Assembler().tag(7).u(1).tag(8).append(oak).bytes, 1, true},
        {"two objects", Assembler().tag(7).u(2).tag(8).append(oak).append(oak).bytes, 2, true},
        {"a count past the bytes left", Assembler().tag(7).u(1000).tag(8).append(oak).bytes, 0, false},
        {"a block cut short", Assembler().tag(7).u(2).tag(8).append(oak).tag(1).u(50).bytes, 2, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes stream = Assembler().raw('v').raw('1').raw('.').raw('1').tag(2).f(0.5f).append(c.fields).tag(9).u(99).end().bytes;
        Tree tree;
        const uint32_t seed = tree.seed;
        ByteStream data(stream);
        tree.generate(data);
        EXPECT_EQ(tree.diffuse, 0.5f);
        ASSERT_EQ(tree.foliageCount(), c.objects);
        if (c.objects > 0)
            EXPECT_EQ(std::wcscmp(tree.foliage(0)->name.text(), L"Oak"), 0);
        EXPECT_EQ(tree.seed, c.seedRead ? 99u : seed);
        // Generating again starts from no foliage.
        ByteStream again(TreeSamples::emptyTree());
        tree.generate(again);
        EXPECT_EQ(tree.foliageCount(), 0u);
    }
}

TEST(TreeObject, CutAndDamagedStreamsEndWithBoundedMeshes)
{
    const Bytes sample = TreeSamples::sampleTree();
    ASSERT_GT(sample.size(), 1000u);
    // Every cut in the head and the first records, then spread over the rest.
    std::vector<size_t> cuts;
    for (size_t n = 0; n < 600; ++n)
        cuts.push_back(n);
    for (size_t n = 600; n < sample.size(); n += sample.size() / 150)
        cuts.push_back(n);
    for (size_t n : cuts) {
        Tree tree;
        tree.lod = uint32_t(n % 3);
        ByteStream stream(Bytes(sample.begin(), sample.begin() + long(n)));
        tree.generate(stream);
        const BoundingBox b = tree.getBounds();
        EXPECT_TRUE(b.minimum.x <= b.maximum.x || !std::isfinite(b.minimum.x)) << n;
    }
    srand(404);
    for (int round = 0; round < 120; ++round) {
        Bytes damaged = sample;
        for (int k = 0; k < 5; ++k) {
            const size_t at = 4 + size_t(rand()) % (damaged.size() - 4);
            damaged[at] = uint8_t(rand() % 4 == 0 ? 0xFF : rand() & 0xFF);
        }
        Tree tree;
        tree.lod = uint32_t(round % 3);
        ByteStream stream(damaged);
        tree.generate(stream);
        EXPECT_LE(tree.bough(tree.lod).boneCount, 150u * 1000u) << round;
    }
}

TEST(TreeEntities, TheTrunkIsOneSubEntityGrowingTheEntityOnlyWithoutATransform)
{
    Tree tree;
    ByteStream stream(TreeSamples::sampleTree());
    tree.generate(stream);
    EntityManager manager;
    EntityManager::Entity entity(manager);
    int trunkCalls = 0;
    const Tree::StateCallback trunk = [&trunkCalls](Shader&) { ++trunkCalls; };

    tree.createEntities(entity, 0, nullptr, trunk, nullptr);
    ASSERT_EQ(entity.subEntities.count(), 1);
    EXPECT_FALSE(entity.subEntities.head()->item->hasOwnMatrix);
    // Without a device the level had no buffers and was built again.
    const BoundingBox rebuilt = tree.getBounds();
    // The entity's box reaches the mesh's box (and its origin, where it started).
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_LE(entity.localBox.minimum[axis], rebuilt.minimum[axis] + 1e-4f);
        EXPECT_GE(entity.localBox.maximum[axis], rebuilt.maximum[axis] - 1e-4f);
    }
    EXPECT_EQ(entity.localBox.center, (entity.localBox.minimum + entity.localBox.maximum) * 0.5f);
    // The entity is placed by its grown box.
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_LE(entity.worldBounds.minimum[axis], rebuilt.minimum[axis] + 1e-3f);
        EXPECT_GE(entity.worldBounds.maximum[axis], rebuilt.maximum[axis] - 1e-3f);
    }

    // Again, with a transform: the entity holds this call's one sub-entity
    // on its own matrix, and its box is left alone.
    matrix3d placed = matrix3d::identity();
    placed.m[12] = 100.0f;
    tree.createEntities(entity, 0, &placed, trunk, nullptr);
    ASSERT_EQ(entity.subEntities.count(), 1);
    EntityManager::SubEntity& sub = *entity.subEntities.head()->item;
    EXPECT_TRUE(sub.hasOwnMatrix);
    EXPECT_EQ(sub.local.m[12], 100.0f);
    EXPECT_EQ(entity.localBox.minimum, vec3d());
    EXPECT_EQ(entity.localBox.maximum, vec3d());
    // The tree still holds its mesh after the entity let go of it.
    entity.clear();
    tree.createEntities(entity, 0, nullptr, trunk, nullptr);
    EXPECT_EQ(entity.subEntities.count(), 1);
    entity.clear();
}

TEST(TreeEntities, AMissingLevelMeshIsBuiltFromItsSkeleton)
{
    Tree tree;
    ByteStream stream(TreeSamples::sampleTree());
    tree.generate(stream);
    // Level 1 was read but not built: its box record is empty until asked for.
    tree.lod = 1;
    EXPECT_EQ(tree.getBounds().maximum, vec3d());
    EntityManager manager;
    EntityManager::Entity entity(manager);
    tree.createEntities(entity, 1, nullptr, nullptr, nullptr);
    EXPECT_EQ(entity.subEntities.count(), 1);
    vec3d lo, hi;
    ringBox(tree.bough(1), lo, hi);
    const BoundingBox level1 = tree.getBounds();
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_NEAR(level1.minimum[axis], lo[axis], 1e-4f);
        EXPECT_NEAR(level1.maximum[axis], hi[axis], 1e-4f);
    }
    entity.clear();
}

TEST(TreeEntities, IntersectionMarksTheBoughsTheQueryTouches)
{
    Tree tree;
    ByteStream stream(TreeSamples::sampleTree());
    tree.generate(stream);
    const BoundingBox bounds = tree.getBounds();
    const auto query = [](const vec3d& lo, const vec3d& hi) {
        BoundingBox q{(lo + hi) * 0.5f, 1.0f, 0.0f, lo, hi};
        q.radiusSq = (hi - q.center).lengthSq();
        return q;
    };
    const BoundingBox inside = query(bounds.minimum, bounds.maximum);
    EXPECT_EQ(tree.intersect(inside), 1u);
    EXPECT_EQ(tree.hit, 1u);
    EXPECT_EQ(tree.bough(0).hit, 1u);
    // A call stops at the first bough whose mark changed: repeating the
    // query marks the rest, until no mark changes.
    int calls = 1;
    while (tree.intersect(inside) && calls < 1000)
        ++calls;
    EXPECT_GT(calls, 1);
    EXPECT_LT(calls, 1000);
    EXPECT_EQ(tree.hit, 0u);
    forEachBough(tree.bough(0), [](Tree::Bough& b, Tree::Bough*, uint32_t) { EXPECT_EQ(b.hit, 1u); });
    // Far away: no overlap with the tree's box, nothing asked of the boughs.
    const vec3d distant(1000.0f, 1000.0f, 1000.0f);
    EXPECT_EQ(tree.intersect(query(distant, distant + vec3d(1, 1, 1))), 0u);
    EXPECT_EQ(tree.bough(0).hit, 1u);
}

TEST(TreeEntities, TheTrunkMaterialTakesTheTreesLevels)
{
    Tree tree;
    tree.ambient = 0.25f;
    tree.diffuse = 0.75f;
    Shader record;
    tree.setTrunkMaterial(record);
    EXPECT_EQ(record.material.Diffuse.r, 0.75f);
    EXPECT_EQ(record.material.Diffuse.b, 0.75f);
    EXPECT_EQ(record.material.Diffuse.a, 1.0f);
    EXPECT_EQ(record.material.Ambient.g, 0.25f);
    EXPECT_EQ(record.material.Ambient.a, 1.0f);
    EXPECT_FALSE(record.textures[0].isBound());
}

namespace {

// A tree that draws itself: generation fills its entity with its callbacks.
class DrawnTree final : public Tree
{
public:
    explicit DrawnTree(EntityManager::Entity* entity) : entity_(entity) {}
    EntityManager::Entity* getEntity() override { return entity_; }
    StateCallback getTrunkShader() override
    {
        return [this](Shader& record) {
            ++trunkCalls;
            setTrunkMaterial(record);
        };
    }
    int trunkCalls = 0;

private:
    EntityManager::Entity* entity_;
};

}

TEST(TreeEntities, GenerationFillsTheEntityTheTreeGives)
{
    EntityManager manager;
    EntityManager::Entity entity(manager);
    // A plain tree has no entity, no callbacks: generation leaves entities alone.
    Tree plain;
    EXPECT_EQ(plain.getEntity(), nullptr);
    EXPECT_FALSE(plain.getTrunkShader());
    EXPECT_FALSE(plain.getFoliageShader());

    DrawnTree tree(&entity);
    ByteStream stream(TreeSamples::sampleTree());
    tree.lod = 1;
    tree.generate(stream);
    ASSERT_EQ(entity.subEntities.count(), 1);
    EntityManager::SubEntity& trunk = *entity.subEntities.head()->item;
    // Level 0, whatever the tree's selected level, on the entity's transform.
    EXPECT_EQ(std::wcscmp(trunk.mesh().name.text(), tree.meshName(0)), 0);
    EXPECT_FALSE(trunk.hasOwnMatrix);
    ASSERT_TRUE(trunk.recordStates);
    Shader record;
    trunk.recordStates(record);
    EXPECT_EQ(tree.trunkCalls, 1);
    EXPECT_EQ(record.material.Diffuse.r, tree.diffuse);
    entity.clear();
}
