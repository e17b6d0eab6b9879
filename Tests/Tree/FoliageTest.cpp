// Leaves and foliage without a device: leaf cards, leaves placed over a
// bough, the branch's curved and star cards, the merge of a card over its
// placements, placement records, foliage blocks and the automatic "Branch"
// object, and damaged leafy streams.
#include "TreeTestSupport.h"

#include "Tree/Bough.h"
#include "Tree/Branch.h"
#include "Tree/Foliage.h"
#include "Tree/Tree.h"

#include "Entity/StoredMesh.h"
#include "Render/Shader.h"

#include "TreeSamples.h"
#include "TreeStreamWriter.h"

#include <cmath>
#include <cstdlib>
#include <cwchar>
#include <map>
#include <random>
#include <set>

namespace {

using Info = Tree::Bough::ObjectInfo;
using SourceMesh = Tree::Branch::SourceMesh;

// A straight bough up the y axis: bones every unit, constant radius.
void straightBough(Tree::Bough& b, uint32_t bones, float radius)
{
    b.bones.resize(int32_t(bones));
    for (uint32_t i = 0; i < bones; ++i) {
        Tree::Bone& bone = *b.bones.at(int32_t(i));
        bone.position = vec3d(0.0f, float(i), 0.0f);
        bone.direction = vec3d(0.0f, 1.0f, 0.0f);
        bone.distance = float(i);
        bone.radius = radius;
    }
    b.boneCount = bones;
    b.end = float(bones - 1);
}

std::vector<Info> placed(Tree::Bough& b, const Tree::Bough::ObjectParam& o)
{
    ArrayHeap<Info> out;
    const int32_t n = Tree::Bough::placeObjects(b, out, o);
    std::vector<Info> result;
    for (int32_t i = 0; i < n; ++i)
        result.push_back(*out.at(i));
    return result;
}

vec3d vertexOf(SourceMesh& mesh, int32_t i)
{
    return *mesh.getVertexData(i)->position;
}

vec3d normalOf(SourceMesh& mesh, int32_t i)
{
    return *mesh.getVertexData(i)->normal;
}

Bytes infoBytes(const Info& info)
{
    FileArray stream(256);
    EXPECT_TRUE(TreeStreamWriter::writeObjectInfo(stream, info));
    return contentOf(stream);
}

} // namespace

TEST(LeafCard, TheDefaultGridMakesTheCardOfItsCornersWithAFlatBase)
{
    Tree::Branch::Leaf leaf;
    srand(5);
    leaf.buildMesh();
    EXPECT_EQ(leaf.vertices.size(), 25u);
    EXPECT_EQ(leaf.indices.size(), 96u);
    EXPECT_EQ(leaf.positions.count(), 25);
    for (uint16_t index : leaf.indices)
        EXPECT_LT(index, 25u);

    // Range 0: every build is the same card, though each still draws six numbers.
    leaf.param().bendRange = 0.0f;
    srand(7);
    leaf.buildMesh();
    const auto first = leaf.vertices;
    srand(7);
    (void)rand(), (void)rand(), (void)rand(), (void)rand(), (void)rand(), (void)rand();
    const int next = rand();
    srand(7);
    leaf.buildMesh();
    EXPECT_EQ(rand(), next) << "six numbers drawn";
    srand(99);
    leaf.buildMesh();
    ASSERT_EQ(leaf.vertices.size(), first.size());
    for (size_t i = 0; i < first.size(); ++i)
        EXPECT_EQ(leaf.vertices[i].position, first[i].position) << i;
    // u = 0, v = 0 at (-1, 0, 0) with (0, 1); u = 1, v = 1 at (1, h5, 2) with (1, 0).
    EXPECT_EQ(leaf.vertices[0].position, vec3d(-1.0f, 0.0f, 0.0f));
    EXPECT_EQ(leaf.vertices[0].uv, vec2d(0.0f, 1.0f));
    EXPECT_NEAR(leaf.vertices[24].position.x, 1.0f, 1e-6f);
    EXPECT_NEAR(leaf.vertices[24].position.y, 0.2f, 1e-6f);
    EXPECT_NEAR(leaf.vertices[24].position.z, 2.0f, 1e-6f);
    EXPECT_EQ(leaf.vertices[24].uv, vec2d(1.0f, 0.0f));
    // The middle of the tip row: h3, h4, h5 blended by 1/4, 1/2, 1/4.
    EXPECT_NEAR(leaf.vertices[22].position.y, 0.35f, 1e-6f);
    for (int j = 0; j < 5; ++j)
        EXPECT_EQ(leaf.vertices[size_t(j)].position.y, 0.0f) << "base vertex " << j;
    // Inside the grid, by hand from the control points: along the leaf
    // z = 4u - 2u^2 (the rows crowd towards the tip), across it x = 2v - 1,
    // and the heights blend the middle row 0.4, 0.7, 0.4 and the tip row 0.2,
    // 0.5, 0.2.
    struct Inner
    {
        int i, j;
        vec3d position;
    };
    for (const Inner& want : {Inner{1, 1, {-0.5f, 0.21171875f, 0.875f}}, Inner{1, 2, {0.0f, 0.228125f, 0.875f}},
                              Inner{2, 1, {-0.5f, 0.334375f, 1.5f}}, Inner{2, 2, {0.0f, 0.3625f, 1.5f}},
                              Inner{3, 3, {0.5f, 0.36796875f, 1.875f}}, Inner{3, 2, {0.0f, 0.403125f, 1.875f}}}) {
        const vec3d& p = leaf.vertices[size_t(want.i * 5 + want.j)].position;
        EXPECT_NEAR((p - want.position).length(), 0.0f, 1e-5f) << "column " << want.i << ", row " << want.j << ": " << p.x
                                                                  << ", " << p.y << ", " << p.z;
    }
    // A flat card faces up (the tip's side to the left of the base).
    leaf.param().bends = {0, 0, 0, 0, 0, 0};
    leaf.buildMesh();
    for (const auto& vertex : leaf.vertices)
        EXPECT_NEAR((vertex.normal - vec3d(0.0f, 1.0f, 0.0f)).length(), 0.0f, 1e-4f);

    // Grids are held to 1 to 64 whatever the block says.
    struct Grid
    {
        uint32_t along, across;
        size_t vertices, indices;
    };
    for (const Grid& g : {Grid{0, 0, 4, 6}, Grid{1000, 1, 65 * 2, 64 * 6}, Grid{2, 3, 12, 36}}) {
        leaf.param().segments = {g.along, g.across};
        leaf.buildMesh();
        EXPECT_EQ(leaf.vertices.size(), g.vertices) << g.along << " x " << g.across;
        EXPECT_EQ(leaf.indices.size(), g.indices) << g.along << " x " << g.across;
    }
}

TEST(LeafPlacement, CardsFollowTheBoughOnOneSideOrMirroredOnBoth)
{
    Tree::Bough b;
    straightBough(b, 11, 0.5f);
    Tree::Bough::ObjectParam o;
    o.zoneStart = 0.0f;
    o.density = 1.0f;
    o.resolution = 10;
    o.angleRange = vec3d();
    o.scaleRange = vec2d(1.0f, 1.0f);
    o.axisOffset = 2.0f;
    o.kindCount = 0;

    // One card per distance on side 0, at radius x tag 14 from the axis.
    o.single = 1;
    srand(3);
    const std::vector<Info> single = placed(b, o);
    ASSERT_FALSE(single.empty());
    std::set<float> heights;
    for (const Info& info : single) {
        const vec3d p = info.transform.row(3);
        EXPECT_TRUE(heights.insert(p.y).second) << "one card per distance";
        EXPECT_NEAR(std::sqrt(p.x * p.x + p.z * p.z), 1.0f, 1e-4f) << "0.5 x 2 from the axis";
        EXPECT_EQ(info.kind, 0) << "no kinds: kind 0";
        EXPECT_TRUE(info.flip == 0 || info.flip == 1);
        EXPECT_EQ(info.tint.a, 255);
    }

    // One or two cards per distance; side 1 mirrors side 0's x and z rows.
    o.single = 0;
    o.kindCount = 3;
    srand(3);
    const std::vector<Info> both = placed(b, o);
    std::map<float, std::vector<Info>> byHeight;
    for (const Info& info : both) {
        byHeight[info.transform.row(3).y].push_back(info);
        EXPECT_GE(info.kind, 0);
        EXPECT_LT(info.kind, 3);
    }
    int pairs = 0;
    for (auto& [height, cards] : byHeight) {
        ASSERT_LE(cards.size(), 2u) << height;
        if (cards.size() != 2)
            continue;
        ++pairs;
        const matrix3d& a = cards[0].transform;
        const matrix3d& c = cards[1].transform;
        for (int column = 0; column < 3; ++column) {
            EXPECT_NEAR(c.at(0, column), -a.at(0, column), 1e-5f);
            EXPECT_NEAR(c.at(1, column), a.at(1, column), 1e-5f);
            EXPECT_NEAR(c.at(2, column), -a.at(2, column), 1e-5f);
        }
        // Opposite sides of the axis.
        EXPECT_NEAR(c.at(3, 0), -a.at(3, 0), 1e-4f);
        EXPECT_NEAR(c.at(3, 2), -a.at(3, 2), 1e-4f);
    }
    EXPECT_GT(pairs, 0);

    // Rows: scaled by tag 8 and the scale range, unit axes otherwise.
    o.single = 1;
    o.scale = vec3d(0.5f, 2.0f, 3.0f);
    srand(4);
    for (const Info& info : placed(b, o)) {
        EXPECT_NEAR(std::sqrt(info.transform.row(0).lengthSq()), 0.5f, 1e-4f);
        EXPECT_NEAR(std::sqrt(info.transform.row(1).lengthSq()), 2.0f, 1e-4f);
        EXPECT_NEAR(std::sqrt(info.transform.row(2).lengthSq()), 3.0f, 1e-4f);
    }

    // With tag 6 the end gets a card too, offset by tag 15 radii.
    o.scale = vec3d(1.0f, 1.0f, 1.0f);
    o.atEnd = 1;
    o.endValue = 4.0f;
    srand(4);
    const std::vector<Info> withEnd = placed(b, o);
    bool endCard = false;
    for (const Info& info : withEnd) {
        const vec3d p = info.transform.row(3);
        if (std::fabs(std::sqrt(p.x * p.x + p.z * p.z) - 2.0f) < 1e-3f) {
            endCard = true;
            EXPECT_GT(p.y, 9.9f) << "near the last bone";
        }
    }
    EXPECT_TRUE(endCard);

    // A bough without bones gets none.
    Tree::Bough empty;
    EXPECT_TRUE(placed(empty, o).empty());
}

TEST(BranchCards, CurvedAndStarCardsHaveTheirShape)
{
    Tree::Branch::Param param;
    struct Grid
    {
        uint32_t rows, columns;
    };
    for (const Grid g : {Grid{4, 4}, Grid{1, 3}, Grid{2, 1}}) {
        param.cardGrid = {g.rows, g.columns};
        SourceMesh card{String(L"card")};
        Tree::Branch::makeCurvedCard(card, param);
        const int32_t front = int32_t((g.rows + 1) * (g.columns + 1));
        ASSERT_EQ(card.countedVertices(), 2 * front);
        ASSERT_EQ(card.countedIndices(), int32_t(12 * g.rows * g.columns));
        for (int32_t i = 0; i < front; ++i) {
            EXPECT_EQ(vertexOf(card, i), vertexOf(card, front + i));
            EXPECT_EQ(normalOf(card, front + i), normalOf(card, i) * -1.0f) << "the back faces the other way";
        }
        // Front triangles face along their normals, back ones the other way.
        const uint16_t* index = card.getIndices();
        for (int32_t t = 0; t < card.countedIndices() / 3; ++t) {
            const vec3d a = vertexOf(card, index[3 * t]), b = vertexOf(card, index[3 * t + 1]),
                        c = vertexOf(card, index[3 * t + 2]);
            const vec3d facing = (b - a).cross(c - a);
            const vec3d n = normalOf(card, index[3 * t]);
            EXPECT_GT(facing.dot(n), 0.0f) << "triangle " << t << " winds with its vertices' normal";
        }
        // The base row lies flat; the card spans x -1 to 1, z 0 to 2.
        for (uint32_t j = 0; j <= g.columns; ++j)
            EXPECT_EQ(vertexOf(card, int32_t(j)).y, 0.0f);
        EXPECT_EQ(vertexOf(card, 0), vec3d(-1.0f, 0.0f, 0.0f));
        EXPECT_NEAR(vertexOf(card, front - 1).z, 2.0f, 1e-6f);
    }

    // The star: three blades as a closed band of twelve triangles.
    for (float u : {0.0f, 0.3f}) {
        SourceMesh star{String(L"star")};
        Tree::Branch::makeStarCard(star, u, 2.0f);
        ASSERT_EQ(star.countedVertices(), 12);
        ASSERT_EQ(star.countedIndices(), 36);
        std::map<std::pair<int, int>, int> edges;
        const uint16_t* index = star.getIndices();
        for (int32_t t = 0; t < 12; ++t)
            for (int k = 0; k < 3; ++k) {
                const int a = index[3 * t + k], b = index[3 * t + (k + 1) % 3];
                ++edges[{std::min(a, b), std::max(a, b)}];
            }
        int boundary = 0;
        for (const auto& [edge, uses] : edges)
            boundary += uses == 1;
        EXPECT_EQ(boundary, 12) << "the band's two rims, six edges each";
        EXPECT_NEAR(std::sqrt(vertexOf(star, 0).lengthSq()), u * 2.0f, 1e-5f) << "blade 0 is u x aspect long";
        EXPECT_NEAR(std::sqrt(vertexOf(star, 2).lengthSq()), (1.0f - u) * 2.0f, 1e-5f);
        EXPECT_EQ(vertexOf(star, 1), vec3d()) << "the base";
        EXPECT_EQ(vertexOf(star, 7), vec3d(0.0f, 0.0f, 1.0f)) << "the upper ring stands at z 1";
    }
}

TEST(FoliageMerge, CopiesTheCardAtEveryPlacement)
{
    SourceMesh card{String(L"card")};
    Tree::Branch::makeStarCard(card, 0.4f, 1.0f);
    // One normal zeroed: it stays zero.
    *card.getVertexData(3)->normal = vec3d();
    const int32_t v = card.countedVertices(), n = card.countedIndices();
    std::mt19937 random(6001);
    std::uniform_real_distribution<float> unit(-3.0f, 3.0f);
    ArrayHeap<Info> placements;
    constexpr uint32_t count = 7;
    placements.resize(int32_t(count));
    for (uint32_t k = 0; k < count; ++k) {
        Info& info = *placements.at(int32_t(k));
        for (int row = 0; row < 4; ++row)
            info.transform.setRow(row, vec3d(unit(random), unit(random), unit(random)));
    }
    SourceMesh out{String(L"merged")};
    vec3d lo, hi;
    EXPECT_EQ(Tree::Foliage::merge(card, placements, count, out, lo, hi), 0u);
    ASSERT_EQ(out.countedVertices(), int32_t(count) * v);
    ASSERT_EQ(out.countedIndices(), int32_t(count) * n);
    vec3d bruteLo = vertexOf(out, 0), bruteHi = bruteLo;
    for (uint32_t k = 0; k < count; ++k) {
        const matrix3d& m = placements.at(int32_t(k))->transform;
        for (int32_t j = 0; j < v; ++j) {
            const vec3d p = vertexOf(card, j);
            const vec3d want = m.row(0) * p.x + m.row(1) * p.y + m.row(2) * p.z + m.row(3);
            const vec3d got = vertexOf(out, int32_t(k) * v + j);
            EXPECT_NEAR((got - want).length(), 0.0f, 1e-4f) << k << "/" << j;
            const vec3d normal = normalOf(out, int32_t(k) * v + j);
            if (j == 3)
                EXPECT_EQ(normal, vec3d());
            else
                EXPECT_NEAR(normal.length(), 1.0f, 1e-4f);
            for (int axis = 0; axis < 3; ++axis) {
                bruteLo[axis] = std::min(bruteLo[axis], got[axis]);
                bruteHi[axis] = std::max(bruteHi[axis], got[axis]);
            }
        }
        for (int32_t j = 0; j < n; ++j)
            EXPECT_EQ(*out.getIndex(int32_t(k) * n + j), card.getIndices()[j] + k * uint32_t(v));
    }
    EXPECT_EQ(lo, bruteLo);
    EXPECT_EQ(hi, bruteHi);

    // Placements that are not finite, or past 65,536 vertices, are left out.
    placements.at(2)->transform.m[13] = std::nanf("");
    EXPECT_EQ(Tree::Foliage::merge(card, placements, count, out, lo, hi), 1u);
    EXPECT_EQ(out.countedVertices(), int32_t(count - 1) * v);
    ArrayHeap<Info> many;
    const uint32_t limit = uint32_t(Tree::Foliage::maxVertices / v);
    many.resize(int32_t(limit + 5));
    EXPECT_EQ(Tree::Foliage::merge(card, many, limit + 5, out, lo, hi), 5u);
    EXPECT_EQ(out.countedVertices(), int32_t(limit) * v);
    for (int32_t j = 0; j < out.countedIndices(); ++j)
        ASSERT_LT(int32_t(*out.getIndex(j)), out.countedVertices());
}

TEST(ObjectInfoRecord, ReadsItsFieldsAndRefusesCutRecords)
{
    Info info;
    for (int i = 0; i < 16; ++i)
        info.transform.m[i] = float(i) * 0.5f - 3.0f;
    info.flip = 1;
    info.tint = Color(10, 20, 30, 40);
    info.kind = 5;
    const Bytes bytes = infoBytes(info);
    EXPECT_EQ(bytes.size(), Info::storedSize + 5u) << "76 bytes of fields, four tags and the end";
    Info read;
    ByteStream stream(bytes);
    ASSERT_TRUE(read.read(stream));
    EXPECT_TRUE(sameBits(read.transform.m, info.transform.m, 64));
    EXPECT_EQ(read.flip, 1u);
    EXPECT_EQ(read.tint.argb(), info.tint.argb());
    EXPECT_EQ(read.kind, 5);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        ByteStream part(Bytes(bytes.begin(), bytes.begin() + long(cut)));
        Info partial;
        EXPECT_FALSE(partial.read(part)) << cut;
    }
    // A tag it does not know carries no field.
    Info skipping;
    ByteStream unknown(Assembler().tag(9).tag(4).u(2).end().bytes);
    EXPECT_TRUE(skipping.read(unknown));
    EXPECT_EQ(skipping.kind, 2);
}

TEST(FoliageBlocks, TagsCountsAndTheAutomaticBranchObject)
{
    Tree tree;
    const Bytes info = infoBytes(Info{});
    struct Case
    {
        const char* what;
        Bytes block;
        uint32_t placements0;
        bool stored;
        bool whole;
    };
    const Case cases[] = {
        {"two placements", Assembler().tag(4).u(2).tag(5).append(info).append(info).end().bytes, 2, false, true},
        {"a record cut short", Assembler().tag(4).u(1).tag(5).append(Bytes(info.begin(), info.begin() + 10)).bytes, 0, false, false},
        {"a count past the bytes left", Assembler().tag(4).u(1000000).tag(5).append(info).end().bytes, 0, false, false},
        {"a count past the limit", Assembler().tag(4).u(70000).tag(5).bytes, 0, false, false},
        {"a texture that is no image", Assembler().tag(6).u(0).u(4).u(0xDEADBEEF).end().bytes, 0, true, true},
        {"a texture larger than the data", Assembler().tag(6).u(0).u(400).u(1).end().bytes, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tree::Foliage foliage(tree, String(L""), 0);
        ByteStream stream(c.block);
        EXPECT_EQ(foliage.read(stream, Tree::version11), c.whole);
        EXPECT_EQ(foliage.placementCount(0), c.placements0);
        EXPECT_EQ(foliage.param().textureStored, c.stored ? 1u : 0u) << "tag 6 means no picture is rendered";
        EXPECT_GT(foliage.card.countedVertices(), 0) << "the card is built whatever the block held";
        EXPECT_EQ(std::wcsncmp(foliage.mesh(0)->name.text(), L"A", 1), 0);
    }

    // A level record asking for leaf ribbons brings one automatic "Branch"
    // object; asking again keeps it; a tree without ribbons has none.
    TreeStreamWriter::Content content;
    content.param.bone.levels[3].ribbon = 1;
    Tree::Bough levels[3];
    TreeStreamWriter::grow(content.param, 12, levels);
    content.levels[0] = &levels[0];
    FileArray written(4096);
    ASSERT_TRUE(TreeStreamWriter::write(written, content));
    ByteStream ribbons(contentOf(written));
    srand(8);
    tree.generate(ribbons);
    ASSERT_EQ(tree.foliageCount(), 1u);
    Tree::Foliage* branch = tree.foliage(0);
    EXPECT_EQ(std::wcscmp(branch->name.text(), L"Branch"), 0);
    EXPECT_EQ(branch->automatic, 1u);
    EXPECT_GT(branch->branch.bough.boneCount, 0u) << "the branch was grown";
    EXPECT_EQ(tree.updateBranchObject(0), branch->mesh(0));
    EXPECT_EQ(tree.foliageCount(), 1u);
    ByteStream plain(TreeSamples::sampleTree());
    tree.generate(plain);
    EXPECT_EQ(tree.foliageCount(), 0u);
    EXPECT_EQ(tree.updateBranchObject(0), nullptr);
}

TEST(FoliageBlocks, TheLeafySamplesReadBackWithTheirPlacements)
{
    for (bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "stored picture" : "rendered picture");
        srand(21);
        Tree tree;
        ByteStream stream(TreeSamples::leafyTree(stored));
        tree.generate(stream);
        ASSERT_EQ(tree.foliageCount(), 1u);
        Tree::Foliage& f = *tree.foliage(0);
        EXPECT_EQ(std::wcscmp(f.name.text(), L"Leaves"), 0);
        EXPECT_EQ(f.automatic, 0u);
        EXPECT_EQ(f.param().textureStored, stored ? 1u : 0u);
        EXPECT_EQ(f.branch.leaves.size(), 1u);
        EXPECT_GT(f.branch.placementCount, 0u);
        // The outline (bark and leaves) is made only for a picture to render.
        EXPECT_EQ(f.branch.pointCount > 0, !stored);
        for (uint32_t level = 0; level < 3; ++level)
            EXPECT_GT(f.placementCount(level), 0u) << level;
        EXPECT_EQ(f.skipped, 0u);
        // The curved card (stored picture) or the star (rendered picture).
        EXPECT_EQ(f.card.countedVertices(), stored ? 50 : 12);
        // The foliage's box joins the tree's bounds.
        const BoundingBox bounds = tree.getBounds();
        EXPECT_GE(bounds.maximum.y, f.mesh(0)->box.center.y + f.mesh(0)->box.halfExtents.y - 1e-3f);
        EXPECT_EQ(std::wcscmp(f.mesh(1)->name.text(), (std::wstring(L"B") + std::wstring(tree.meshName(1) + 1) + L"Leaves").c_str()), 0);
    }
}

TEST(FoliageBlocks, CutAndDamagedLeafyStreamsEndBounded)
{
    const Bytes sample = TreeSamples::leafyTree(true);
    // The foliage starts at its count's tag; cut at every byte there, and
    // at a stride elsewhere.
    size_t start = 0;
    for (size_t i = 4; i + 5 < sample.size(); ++i)
        if (sample[i] == 7 && sample[i + 1] == 1 && sample[i + 2] == 0 && sample[i + 5] == 8) {
            start = i;
            break;
        }
    ASSERT_GT(start, 0u);
    std::vector<size_t> cuts;
    for (size_t cut = start; cut < std::min(sample.size(), start + 600); ++cut)
        cuts.push_back(cut);
    for (size_t cut = 0; cut < sample.size(); cut += 997)
        cuts.push_back(cut);
    for (size_t cut : cuts) {
        Tree tree;
        ByteStream stream(Bytes(sample.begin(), sample.begin() + long(cut)));
        tree.generate(stream);
        ASSERT_LE(tree.foliageCount(), 1u) << cut;
    }
    std::mt19937 random(6002);
    for (int round = 0; round < 60; ++round) {
        Bytes copy = sample;
        for (int k = 0; k < 1 + round % 5; ++k) {
            const size_t at = start + random() % (copy.size() - start - 4);
            if (round % 3 == 0)
                copy[at] ^= uint8_t(1 + random() % 255);
            else {
                const uint32_t word = round % 3 == 1 ? 0x7FFFFFFFu : 0x7FC00001u; // huge, NaN
                std::memcpy(&copy[at], &word, 4);
            }
        }
        srand(unsigned(round));
        Tree tree;
        ByteStream stream(copy);
        tree.generate(stream);
        for (uint32_t i = 0; i < tree.foliageCount(); ++i) {
            Tree::Foliage& f = *tree.foliage(i);
            for (uint32_t level = 0; level < 3; ++level)
                EXPECT_LE(f.placementCount(level), uint32_t(Tree::Foliage::maxPlacements)) << round;
            EXPECT_LE(f.card.countedVertices(), 2 * 65 * 65) << round;
        }
    }
}

// The branch's leaf kinds: placed leaves draw on every kind, and the outline
// holds each placed leaf's points.
TEST(BranchLeaves, PlacementsSpreadOverTheLeafKinds)
{
    Tree::Branch branch;
    Tree::Branch::Param param;
    param.bone.extent = 3.0f;
    param.root.count = 0;
    param.leaves.density = 1.0f;
    for (int i = 0; i < 3; ++i) {
        auto leaf = std::make_unique<Tree::Branch::Leaf>();
        leaf->buildMesh();
        branch.leaves.push_back(std::move(leaf));
    }
    srand(17);
    branch.bough.genBones(param);
    Tree::Bough::genNodes(branch.bough, param);
    branch.placeLeaves(param);
    ASSERT_GT(branch.placementCount, 10u);
    std::set<int32_t> kinds;
    for (uint32_t i = 0; i < branch.placementCount; ++i)
        kinds.insert(branch.placements.at(int32_t(i))->kind);
    EXPECT_EQ(kinds, (std::set<int32_t>{0, 1, 2}));
    EXPECT_EQ(branch.pointCount, int32_t(branch.placementCount) * 25);
}

// After the device went (every stored mesh deleted) a tree still answers.
TEST(FoliageBlocks, ATreeWhoseMeshesWentStillAnswers)
{
    Tree tree;
    ByteStream stream(TreeSamples::leafyTree(true));
    tree.generate(stream);
    const BoundingBox before = tree.getBounds();
    EntityManager::StoredMesh::releaseAll();
    EXPECT_EQ(tree.countVertices(), 0u);
    EXPECT_EQ(tree.countTriangles(), 0u);
    const BoundingBox after = tree.getBounds();
    // The skeleton's box remains; it lies within the box with foliage.
    for (int axis = 0; axis < 3; ++axis) {
        EXPECT_GE(after.minimum[axis], before.minimum[axis] - 1e-3f);
        EXPECT_LE(after.maximum[axis], before.maximum[axis] + 1e-3f);
        EXPECT_LT(after.minimum[axis], after.maximum[axis]);
    }
    EXPECT_EQ(tree.foliage(0)->mesh(0), nullptr);
}

// A tree of foliage only: its bounds are the foliage's box.
TEST(FoliageBlocks, ATreeOfFoliageOnlyIsBoundedByIt)
{
    Info moved;
    moved.transform.setRow(3, vec3d(5.0f, 6.0f, 7.0f));
    const Bytes block = Assembler().tag(4).u(1).tag(5).append(infoBytes(moved)).end().bytes;
    const Bytes stream =
        Assembler().raw('v').raw('1').raw('.').raw('1').tag(7).u(1).tag(8).append(block).end().bytes;
    Tree tree;
    ByteStream data(stream);
    tree.generate(data);
    ASSERT_EQ(tree.foliageCount(), 1u);
    const BoundingBox bounds = tree.getBounds();
    // The star card (no picture: its first blade has no length) around (5, 6, 7).
    EXPECT_NEAR(bounds.minimum.x, 5.0f - 0.866f, 1e-3f);
    EXPECT_NEAR(bounds.maximum.x, 5.0f + 0.866f, 1e-3f);
    EXPECT_NEAR(bounds.minimum.y, 6.0f - 0.5f, 1e-3f);
    EXPECT_NEAR(bounds.maximum.z, 8.0f, 1e-3f);
    EXPECT_EQ(bounds.center, (bounds.minimum + bounds.maximum) * 0.5f);
}

// A foliage sub-entity's material: the foliage's levels, its texture on a
// clamped stage 0, alpha tested against 190.
TEST(FoliageBlocks, TheFoliageMaterialTakesItsLevels)
{
    Tree tree;
    Tree::Foliage foliage(tree, String(L"Oak"), 0);
    foliage.param().ambient = 0.25f;
    foliage.param().diffuse = 0.75f;
    Shader record;
    tree.setFoliageMaterial(record, foliage);
    EXPECT_EQ(record.material.Diffuse.r, 0.75f);
    EXPECT_EQ(record.material.Diffuse.a, 1.0f);
    EXPECT_EQ(record.material.Ambient.g, 0.25f);
    EXPECT_EQ(record.material.Ambient.a, 1.0f);
    EXPECT_EQ(record.alphaTest, 1u);
    EXPECT_EQ(record.alphaReference, 190u);
    EXPECT_EQ(record.addressU[0], uint32_t(D3DTADDRESS_CLAMP));
    EXPECT_EQ(record.addressV[0], uint32_t(D3DTADDRESS_CLAMP));
    EXPECT_FALSE(record.textures[0].isBound()) << "no texture, an empty stage 0";
}
