#include "TreeTestSupport.h"

#include "Core/Math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

namespace
{

// The stored layout of a block: field i has tag i + 1 and either size bytes
// or `repeat` nested blocks of another layout.
struct Layout;
struct Field
{
    uint32_t size = 0;
    const Layout* nested = nullptr;
    uint32_t repeat = 1;
};
struct Layout
{
    std::vector<Field> fields;
};
Field nested(const Layout& l, uint32_t repeat = 1) { return Field{0, &l, repeat}; }

const Layout levelLayout{{{4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {12}, {12}, {8}, {8}, {8}, {4}, {4}, {4}}};
const Layout boneLayout{{{12}, {12}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, nested(levelLayout, 4), {4}}};
const Layout meshLayout{{{4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {8}, {8}}};
const Layout rootLayout{{{4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}, {4}}};
const Layout boughLayout{{nested(boneLayout), nested(meshLayout), nested(rootLayout)}};
const Layout objectLayout{{{4}, {4}, {4}, {4}, {4}, {4}, {4}, {12}, {12}, {12}, {12}, {8}, {8}, {4}, {4}, {4}, {4}, {12}, {12}}};
const Layout shapeLayout{{{4}, {4}, {4}, {4}, {4}, {4}}};
const Layout branchLayout{{nested(boughLayout), {4}, {8}, {4}, {4}, nested(objectLayout), {8}, {4}, {4},
                           nested(shapeLayout), {4}, {8}}};
const Layout foliageLayout{{nested(branchLayout), {4}, {4}, {4}, {4}}};
const Layout leafLayout{{{4}, {8}, {24}, {4}}};

// A stream of random field bytes in a layout, with where each field's bytes lie.
struct Generated
{
    Bytes bytes;
    std::vector<std::pair<size_t, size_t>> fields; // [begin, end)
    size_t lastBlock = 0;                          // where the last of the blocks begins
};

void generate(const Layout& layout, std::mt19937& random, Generated& g)
{
    for (size_t i = 0; i < layout.fields.size(); ++i) {
        const Field& field = layout.fields[i];
        g.bytes.push_back(uint8_t(i + 1));
        if (field.nested) {
            for (uint32_t r = 0; r < field.repeat; ++r)
                generate(*field.nested, random, g);
            continue;
        }
        const size_t begin = g.bytes.size();
        for (uint32_t b = 0; b < field.size; ++b)
            g.bytes.push_back(uint8_t(random()));
        g.fields.emplace_back(begin, g.bytes.size());
    }
    g.bytes.push_back(0);
}

struct BlockCase
{
    const char* name;
    std::function<std::unique_ptr<Tree::Parameter>()> make;
    std::vector<const Layout*> blocks; // stored back to back
};

const std::vector<BlockCase>& blockCases()
{
    static const std::vector<BlockCase> cases = {
        {"Level", [] { return std::make_unique<Tree::Bough::Param::BoneParam::Level>(); }, {&levelLayout}},
        {"BoneParam", [] { return std::make_unique<Tree::Bough::Param::BoneParam>(); }, {&boneLayout}},
        {"MeshParam", [] { return std::make_unique<Tree::Bough::Param::MeshParam>(); }, {&meshLayout}},
        {"RootParam", [] { return std::make_unique<Tree::Bough::Param::RootParam>(); }, {&rootLayout}},
        {"Bough::Param", [] { return std::make_unique<Tree::Bough::Param>(); }, {&boughLayout}},
        {"ObjectParam", [] { return std::make_unique<Tree::Bough::ObjectParam>(); }, {&objectLayout}},
        {"Branch::Param", [] { return std::make_unique<Tree::Branch::Param>(); }, {&branchLayout}},
        {"Foliage::Param", [] { return std::make_unique<Tree::Foliage::Param>(); }, {&objectLayout, &foliageLayout}},
        {"Leaf::Param", [] { return std::make_unique<Tree::Branch::Leaf::Param>(); }, {&leafLayout}},
    };
    return cases;
}

Generated randomStream(const BlockCase& c, std::mt19937& random)
{
    Generated g;
    for (const Layout* layout : c.blocks) {
        g.lastBlock = g.bytes.size();
        generate(*layout, random, g);
    }
    return g;
}

std::unique_ptr<Tree::Parameter> readInto(std::unique_ptr<Tree::Parameter> block, const Bytes& bytes)
{
    ByteStream stream(bytes);
    block->read(stream);
    return block;
}

// The default level records, by level.
Assembler& defaultLevel(Assembler& a, int level)
{
    const bool deep = level >= 2;
    return a.tag(1).u(30).tag(2).f(0.7f).tag(3).f(deep ? 0.5f : 0.2f).tag(4).f(level == 0 ? 0.3f : 1.0f)
        .tag(5).f(1.0f).tag(6).f(level == 0 ? 0.4f : 0.5f).tag(7).f(1.0f).tag(8).f(1.0f)
        .tag(9).v3(0, deep ? 0.2f : 0.35f, 0).tag(10).v3(0, 1, 0).tag(11).v2(0, 0).tag(12).v2(0, 0)
        .tag(13).v2(20, 360).tag(14).u(0).tag(15).u(0).tag(16).u(0).end();
}

Bytes defaultBoneBytes()
{
    Assembler a;
    a.tag(1).v3(0, 0, 0).tag(2).v3(0, 1, 0).tag(3).f(20.0f).tag(4).f(1.0f).tag(5).f(1.3f).tag(6).f(0.3f)
        .tag(7).f(2.0f).tag(8).f(1.0f).tag(9).f(0.5f).tag(10).f(0.1f).tag(11).u(0).tag(12);
    for (int level = 0; level < 4; ++level)
        defaultLevel(a, level);
    return a.tag(13).u(3).end().bytes;
}

Bytes defaultMeshBytes()
{
    return Assembler().tag(1).u(12).tag(2).f(0.85f).tag(3).f(0.35f).tag(4).f(0.05f).tag(5).f(0.98f).tag(6).f(0.05f)
        .tag(7).f(0.15f).tag(8).f(0.0f).tag(9).v2(3, 4).tag(10).v2(1, 1).end().bytes;
}

Bytes defaultRootBytes()
{
    return Assembler().tag(1).u(0).tag(2).u(100).tag(3).f(0.5f).tag(4).f(0.5f).tag(5).f(0.2f).tag(6).f(0.2f)
        .tag(7).f(0.3f).tag(8).f(0.6f).tag(9).f(2.1f).tag(10).f(0.2f).tag(11).f(0.5f).tag(12).f(0.5f)
        .tag(13).u(135).tag(14).u(10).end().bytes;
}

Bytes defaultBoughBytes()
{
    return Assembler().tag(1).append(defaultBoneBytes()).tag(2).append(defaultMeshBytes()).tag(3)
        .append(defaultRootBytes()).end().bytes;
}

Bytes defaultObjectBytes(float scale)
{
    return Assembler().tag(1).f(0.35f).tag(2).f(1.0f).tag(3).f(0.7f).tag(4).u(50).tag(5).u(1).tag(6).u(0)
        .tag(7).u(1).tag(8).v3(scale == 1.0f ? 0.3f : scale, scale, scale == 1.0f ? 0.5f : scale)
        .tag(9).v3(0, 0, 0).tag(10).v3(0, 0, -1).tag(11).v3(80, 30, 30).tag(12).v2(0, 1).tag(13).v2(1, 1.4f)
        .tag(14).f(1.0f).tag(15).f(0.0f).tag(16).f(1.0f).tag(17).rgba(175, 155, 100, 255).tag(18).v3(0, 0, 0)
        .tag(19).v3(0, 0, 0).end().bytes;
}

Bytes defaultBranchBytes()
{
    return Assembler().tag(1).append(defaultBoughBytes()).tag(2).u(1).tag(3).u(512).u(512).tag(4).u(3)
        .tag(5).rgba(95, 121, 29, 0).tag(6).append(defaultObjectBytes(1.0f)).tag(7).v2(5, 45).tag(8).f(1.0f)
        .tag(9).f(1.0f).tag(10).tag(1).f(0.4f).tag(2).f(0.7f).tag(3).f(0.4f).tag(4).f(0.2f).tag(5).f(0.5f)
        .tag(6).f(0.2f).end().tag(11).f(0.0f).tag(12).u(4).u(4).end().bytes;
}

}

TEST(TreeParameters, DefaultsAreTheStoredLayoutsOfTheTables)
{
    EXPECT_EQ(written(Tree::Bough::Param::BoneParam()), defaultBoneBytes());
    EXPECT_EQ(written(Tree::Bough::Param::MeshParam()), defaultMeshBytes());
    EXPECT_EQ(written(Tree::Bough::Param::RootParam()), defaultRootBytes());
    EXPECT_EQ(written(Tree::Bough::Param()), defaultBoughBytes());
    EXPECT_EQ(written(Tree::Bough::ObjectParam()), defaultObjectBytes(1.0f));
    EXPECT_EQ(written(Tree::Branch::Param()), defaultBranchBytes());
    EXPECT_EQ(written(Tree::Foliage::Param()),
              Assembler().append(defaultObjectBytes(3.0f)).tag(1).append(defaultBranchBytes()).tag(2).f(1.0f)
                  .tag(3).f(1.0f).tag(4).u(0).tag(5).rgba(255, 255, 255, 0).end().bytes);
    EXPECT_EQ(written(Tree::Branch::Leaf::Param()),
              Assembler().tag(1).rgba(255, 255, 255, 10).tag(2).u(4).u(4).tag(3).f(0.4f).f(0.7f).f(0.4f).f(0.2f)
                  .f(0.5f).f(0.2f).tag(4).f(0.5f).end().bytes);

    // The kind counts are not stored.
    EXPECT_EQ(Tree::Bough::ObjectParam().kindCount, 6u);
    EXPECT_EQ(Tree::Branch::Param().leaves.kindCount, 0u);
}

TEST(TreeParameters, EveryFieldReadsAndWritesBackBitForBit)
{
    std::mt19937 random(58);
    for (const BlockCase& c : blockCases()) {
        SCOPED_TRACE(c.name);
        const Bytes defaults = written(*c.make());
        for (int round = 0; round < 20; ++round) {
            const Generated g = randomStream(c, random);
            ASSERT_EQ(g.bytes.size(), defaults.size()) << "the layout table and the block disagree";
            const auto block = readInto(c.make(), g.bytes);
            ASSERT_EQ(written(*block), g.bytes);
            // The defaults read back over those values restore them exactly.
            EXPECT_EQ(written(*readInto(readInto(c.make(), g.bytes), defaults)), defaults);
        }
    }
}

TEST(TreeParameters, EmptyBlocksAndUnknownTagsKeepWhatIsThere)
{
    std::mt19937 random(5);
    for (const BlockCase& c : blockCases()) {
        SCOPED_TRACE(c.name);
        const Bytes defaults = written(*c.make());
        const Bytes empty(c.blocks.size(), 0);
        EXPECT_EQ(written(*readInto(c.make(), empty)), defaults);
        const Generated g = randomStream(c, random);
        EXPECT_EQ(written(*readInto(readInto(c.make(), g.bytes), empty)), g.bytes);
        // A tag the block does not know is passed over as one byte, in each of the blocks.
        for (size_t at : {size_t(0), g.lastBlock}) {
            Bytes unknownFirst = g.bytes;
            unknownFirst.insert(unknownFirst.begin() + long(at), uint8_t(250));
            EXPECT_EQ(written(*readInto(c.make(), unknownFirst)), g.bytes);
        }
    }

    // An unknown tag is one byte: the next byte is the next tag.
    Tree::Bough::Param::MeshParam mesh;
    ByteStream stream(Assembler().tag(200).tag(1).u(5).tag(77).tag(7).f(0.5f).end().tag(8).f(9.0f).bytes);
    mesh.read(stream);
    EXPECT_EQ(mesh.ringVertexCount, 5u);
    EXPECT_EQ(mesh.barkRoughness, 0.5f);
    EXPECT_EQ(mesh.textureOffsetU, 0.0f) << "tag 0 ends the block";
    EXPECT_EQ(stream.tell(), 13u);

    // A foliage block cut after its placement block keeps the rest's defaults.
    Generated first;
    generate(objectLayout, random, first);
    Tree::Foliage::Param cut;
    ByteStream cutStream(first.bytes);
    cut.read(cutStream);
    Bytes expected = written(Tree::Foliage::Param());
    std::copy(first.bytes.begin(), first.bytes.end(), expected.begin());
    EXPECT_EQ(written(cut), expected);
}

TEST(TreeParameters, ABlockCutAtEveryByteKeepsEveryFieldItCouldNotRead)
{
    std::mt19937 random(13);
    for (const BlockCase& c : blockCases()) {
        SCOPED_TRACE(c.name);
        const Bytes defaults = written(*c.make());
        const Generated g = randomStream(c, random);
        for (size_t cut = 0; cut <= g.bytes.size(); ++cut) {
            // Only fields whose bytes all lie before the cut are read.
            Bytes expected = defaults;
            for (const auto& [begin, end] : g.fields)
                if (end <= cut)
                    std::copy(g.bytes.begin() + long(begin), g.bytes.begin() + long(end), expected.begin() + long(begin));
            const auto block = readInto(c.make(), Bytes(g.bytes.begin(), g.bytes.begin() + long(cut)));
            ASSERT_EQ(written(*block), expected) << "cut at " << cut;
        }
    }
}

TEST(TreeParameters, DamagedBlocksReadToTheirEnd)
{
    std::mt19937 random(60);
    for (const BlockCase& c : blockCases()) {
        SCOPED_TRACE(c.name);
        const size_t storedSize = written(*c.make()).size();
        for (int round = 0; round < 300; ++round) {
            Bytes bytes = randomStream(c, random).bytes;
            for (int hits = 1 + int(random() % 4); hits > 0; --hits) {
                const size_t at = random() % bytes.size();
                switch (random() % 3) {
                case 0: bytes[at] = uint8_t(random() % 24); break;       // a tag, known or not
                case 1: bytes[at] ^= uint8_t(1u << (random() % 8)); break;
                default: bytes.insert(bytes.begin() + long(at), uint8_t(random())); break;
                }
            }
            ByteStream stream(bytes);
            auto block = c.make();
            block->read(stream);
            EXPECT_LE(stream.tell(), bytes.size());
            EXPECT_EQ(written(*block).size(), storedSize);
        }
    }
}

TEST(TreeParameters, ObjectCountRoundsHalvesDownAndStaysBounded)
{
    EXPECT_EQ(roundHalfDown(10.5f), 10.0f);
    EXPECT_EQ(roundHalfDown(10.51f), 11.0f);
    EXPECT_EQ(roundHalfDown(-0.5f), -1.0f);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        uint32_t resolution;
        float density;
        int32_t count;
    } cases[] = {
        {50, 0.7f, 35},  {21, 0.5f, 10},      {10, 1.06f, 11}, {30, 0.7f, 21},        {0, 1.0f, 1},
        {5000, 1.0f, 1000}, {50, nan, 0},     {50, -1.0f, 0},  {1000, 1e30f, 65536}, {7, 0.0f, 0},
    };
    for (const auto& c : cases) {
        Tree::Bough::ObjectParam p;
        p.resolution = c.resolution;
        p.density = c.density;
        EXPECT_EQ(p.getCount(), c.count) << c.resolution << " x " << c.density;
    }
}
