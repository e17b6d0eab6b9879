#include "TreeTestSupport.h"

#include "TreeSamples.h"
#include "TreeStreamWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>

namespace
{

// A tree stream read the way the game reads one: the version, then u8 tags
// until 0, the blocks and records through the game's own readers.
struct ReadStream
{
    std::string version;
    std::map<uint8_t, int> tagCount;
    std::vector<uint8_t> order;
    float ambient = 0, diffuse = 0;
    uint32_t tag3 = 0, seed = 0;
    Tree::Bough::Param param;
    Tree::Bough levels[3];
    bool levelsRead[3] = {};
    uint32_t loaderValue = 0;
    Bytes bark;
    bool endedAtZero = false;
    bool atEnd = false;
};

ReadStream readStream(const Bytes& bytes)
{
    ReadStream r;
    ByteStream s(bytes);
    char version[4] = {};
    if (s.read(version, 4) != 4)
        return r;
    r.version.assign(version, 4);
    uint8_t tag = 0;
    while (s.readValue(tag)) {
        if (tag == 0) {
            r.endedAtZero = true;
            break;
        }
        r.order.push_back(tag);
        ++r.tagCount[tag];
        bool ok = true;
        switch (tag) {
        case 1: ok = s.readValue(r.ambient); break;
        case 2: ok = s.readValue(r.diffuse); break;
        case 3: ok = s.readValue(r.tag3); break;
        case 4: r.param.read(s); break;
        case 5: ok = r.levelsRead[0] = r.levels[0].read(s); break;
        case 10: ok = r.levelsRead[1] = r.levels[1].read(s); break;
        case 11: ok = r.levelsRead[2] = r.levels[2].read(s); break;
        case 6: {
            uint32_t n = 0;
            ok = s.readValue(r.loaderValue) && s.readValue(n) && n <= s.remaining();
            if (ok) {
                r.bark.resize(n);
                ok = s.read(r.bark.data(), n) == n;
            }
            break;
        }
        case 9: ok = s.readValue(r.seed); break;
        default: ok = false;
        }
        if (!ok)
            return r;
    }
    r.atEnd = s.remaining() == 0;
    return r;
}

}

TEST(TreeStream, TheSampleTreeReadsBackAsWritten)
{
    const Bytes bytes = TreeSamples::sampleTree();
    ASSERT_FALSE(bytes.empty());
    ReadStream r = readStream(bytes);
    EXPECT_EQ(r.version, "v1.1");
    EXPECT_EQ(r.order, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 9, 10, 11}));
    EXPECT_TRUE(r.endedAtZero);
    EXPECT_TRUE(r.atEnd);
    EXPECT_EQ(r.ambient, 0.6f);
    EXPECT_EQ(r.diffuse, 1.0f);
    EXPECT_EQ(r.tag3, 2u);
    EXPECT_EQ(r.seed, TreeSamples::sampleSeed);

    Tree::Bough::Param expected;
    expected.root.count = TreeSamples::sampleRoots;
    EXPECT_EQ(written(r.param), written(expected));

    // The skeletons are what the game's growth makes from the same seed.
    for (uint32_t level = 0; level < 3; ++level) {
        SCOPED_TRACE("level of detail " + std::to_string(level));
        ASSERT_TRUE(r.levelsRead[level]);
        const Tree::Bough::Param p = TreeStreamWriter::levelParameters(expected, level);
        srand(TreeSamples::sampleSeed);
        Tree::Bough grown;
        grown.genBones(p);
        grown.genRoots(p);
        std::string why;
        EXPECT_TRUE(sameHierarchy(grown, r.levels[level], why)) << why;
        EXPECT_EQ(r.levels[level].rootCount, TreeSamples::sampleRoots);
    }
    const HierarchyFigures lod0 = figuresOf(r.levels[0]), lod1 = figuresOf(r.levels[1]), lod2 = figuresOf(r.levels[2]);
    EXPECT_GT(lod0.byLevel[3], 0u);
    EXPECT_EQ(lod1.byLevel[3], 0u) << "no twigs";
    EXPECT_EQ(lod2.byLevel[3], 0u);
    EXPECT_GT(lod0.bones, lod1.bones);
    EXPECT_GT(lod1.bones, lod2.bones);
    // Every level grows the trunk's nodes at the same distances.
    ASSERT_GT(r.levels[2].boneCount, 0u);
    EXPECT_EQ(r.levels[0].bones.at(1)->distance, r.levels[2].bones.at(1)->distance);

    // The bark is a PNG image as the builder paints it.
    EXPECT_EQ(r.loaderValue, 0u);
    const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    ASSERT_GT(r.bark.size(), 8u);
    EXPECT_EQ(std::memcmp(r.bark.data(), signature, 8), 0);
    EXPECT_EQ(r.bark, ImageFileWriter::png(TreeSamples::bark()));

    // Made again, byte for byte the same.
    EXPECT_EQ(TreeSamples::sampleTree(), bytes);
}

TEST(TreeStream, TheEmptySampleIsTheVersionAndTheEnd)
{
    const Bytes bytes = TreeSamples::emptyTree();
    EXPECT_EQ(bytes, (Bytes{'v', '1', '.', '1', 0}));
    ReadStream r = readStream(bytes);
    EXPECT_TRUE(r.endedAtZero && r.atEnd && r.order.empty());

    // Left-out levels and bark leave their tags out.
    TreeStreamWriter::Content content;
    Tree::Bough only;
    only.genBones(content.param);
    content.levels[0] = &only;
    FileArray stream(4096);
    ASSERT_TRUE(TreeStreamWriter::write(stream, content));
    EXPECT_EQ(readStream(contentOf(stream)).order, (std::vector<uint8_t>{1, 2, 3, 4, 5, 9}));
}

TEST(TreeStream, TheBarkHasFurrows)
{
    const ImageFileWriter::Image bark = TreeSamples::bark();
    ASSERT_EQ(bark.width, 64u);
    ASSERT_EQ(bark.height, 128u);
    uint32_t darkest = 255, lightest = 0;
    for (uint32_t x = 0; x < bark.width; ++x) {
        const uint32_t argb = bark.at(x, 40);
        const uint32_t r = (argb >> 16) & 0xFF, g = (argb >> 8) & 0xFF, b = argb & 0xFF;
        EXPECT_EQ(argb >> 24, 0xFFu);
        EXPECT_TRUE(r > g && g > b) << "brown";
        darkest = std::min(darkest, r);
        lightest = std::max(lightest, r);
    }
    EXPECT_GT(lightest - darkest, 60u);
}
