#include "TreeSamples.h"

#include "TreeStreamWriter.h"

#include "Core/FileArray.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace TreeSamples {

namespace {

// A fixed hash of a texel, for grain that is the same in every build.
uint32_t grain(uint32_t x, uint32_t y)
{
    uint32_t h = x * 374761393u + y * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return h ^ (h >> 16);
}

std::vector<uint8_t> bytesOf(FileArray& stream)
{
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

bool saveBytes(const std::vector<uint8_t>& bytes, const String& path)
{
    FileArray stream(4096);
    return stream.write(bytes.data(), uint32_t(bytes.size())) == bytes.size() &&
           FileInterface::saveToFile(stream, path);
}

}

ImageFileWriter::Image bark()
{
    ImageFileWriter::Image image;
    image.width = 64;
    image.height = 128;
    image.argb.reserve(size_t(image.width) * image.height);
    const float pi = 3.14159265f;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            // Five furrows across the width that wander a little along v.
            const float u = (float(x) + 3.0f * std::sin(float(y) * 2.0f * pi / 128.0f)) / 64.0f;
            const float ridge = 0.5f + 0.5f * std::cos(u * 5.0f * 2.0f * pi);
            const float light = 0.45f + 0.45f * ridge + float(grain(x, y) % 32) / 320.0f;
            const uint32_t r = uint32_t(std::fmin(255.0f, 118.0f * light + 20.0f));
            const uint32_t g = uint32_t(std::fmin(255.0f, 86.0f * light + 14.0f));
            const uint32_t b = uint32_t(std::fmin(255.0f, 58.0f * light + 8.0f));
            image.argb.push_back(0xFF000000u | r << 16 | g << 8 | b);
        }
    return image;
}

namespace {

// The sample's parameters, its three grown levels (which content points
// into), its bark and its seed.
void growSample(TreeStreamWriter::Content& content, Tree::Bough (&levels)[3], uint32_t seed = sampleSeed)
{
    content.param.root.count = sampleRoots;
    TreeStreamWriter::grow(content.param, seed, levels);
    for (int i = 0; i < 3; ++i)
        content.levels[i] = &levels[i];
    content.bark = ImageFileWriter::png(bark());
    content.seed = seed;
}

}

std::vector<uint8_t> sampleTree()
{
    TreeStreamWriter::Content content;
    Tree::Bough levels[3];
    growSample(content, levels);
    FileArray stream(65536);
    if (!TreeStreamWriter::write(stream, content))
        return {};
    return bytesOf(stream);
}

ImageFileWriter::Image leaf()
{
    ImageFileWriter::Image image;
    image.width = 32;
    image.height = 64;
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            // An ellipse narrowing towards the tip (v = 0 is the tip).
            const float v = (float(y) + 0.5f) / 64.0f, u = (float(x) + 0.5f) / 32.0f - 0.5f;
            const float half = 0.48f * std::sqrt(std::fmax(0.0f, v * (1.0f - v))) * 2.0f;
            const bool inside = std::fabs(u) < half;
            const uint32_t vein = std::fabs(u) < 0.03f ? 30u : 0u;
            const uint32_t g = 150 + grain(x, y) % 40 + vein, r = 40 + grain(y, x) % 30, b = 20;
            image.argb.push_back((inside ? 0xFF000000u : 0u) | r << 16 | std::min(g, 255u) << 8 | b);
        }
    return image;
}

ImageFileWriter::Image foliagePicture()
{
    ImageFileWriter::Image image;
    image.width = 64;
    image.height = 64;
    // A fan of leaf blobs around a twig running up the middle.
    const float centres[7][2] = {{32, 10}, {20, 20}, {44, 20}, {14, 34}, {50, 34}, {24, 46}, {40, 46}};
    for (uint32_t y = 0; y < image.height; ++y)
        for (uint32_t x = 0; x < image.width; ++x) {
            bool leafy = false;
            for (const auto& c : centres) {
                const float dx = (float(x) - c[0]) / 9.0f, dy = (float(y) - c[1]) / 7.0f;
                leafy = leafy || dx * dx + dy * dy < 1.0f;
            }
            const bool twig = x >= 31 && x <= 32 && y >= 8;
            uint32_t texel = 0x00304010u; // transparent, its colour near the leaves'
            if (leafy)
                texel = 0xFF000000u | (30 + grain(x, y) % 30) << 16 | (120 + grain(y, x) % 60) << 8 | 25;
            else if (twig)
                texel = 0xFF5A4024u;
            image.argb.push_back(texel);
        }
    return image;
}

std::vector<uint8_t> leafyTree(bool pictureStored, uint32_t seed)
{
    TreeStreamWriter::Content content;
    Tree::Bough levels[3];
    growSample(content, levels, seed);

    TreeStreamWriter::Foliage foliage;
    foliage.name = "Leaves";
    Tree::Foliage::Param& fp = foliage.param;
    // Cards over the outer boughs, a few per bough, large enough to hide
    // the twigs.
    fp.zoneStart = 0.4f;
    fp.density = 0.25f;
    fp.scale = vec3d(2.0f, 2.0f, 2.0f);
    Tree::Branch::Param& bp = fp.branch;
    bp.cardKind = pictureStored ? 0 : 1;
    bp.pictureSize = {128, 128};
    bp.bone.extent = 3.0f;
    bp.bone.startRadius = 0.08f;
    bp.bone.minRadius = 0.02f;
    bp.root.count = 0;
    bp.leaves.scale = vec3d(0.15f, 0.15f, 0.15f);
    bp.leaves.density = 0.5f;

    // The branch: grown, ringed (its box) and leaved after fixed seeds.
    Tree::Bough branch;
    srand(seed + 1);
    branch.genBones(bp);
    branch.genRoots(bp);
    Tree::Bough::genNodes(branch, bp);
    Tree::Bough::ObjectParam spread = bp.leaves;
    spread.kindCount = 1;
    ArrayHeap<Tree::Bough::ObjectInfo> placed;
    srand(seed + 2);
    const int32_t leaves = Tree::Bough::placeObjects(branch, placed, spread);
    for (int32_t i = 0; i < leaves; ++i)
        foliage.branch.placements.push_back(*placed.at(i));
    foliage.branch.bough = &branch;
    TreeStreamWriter::Leaf leafKind;
    leafKind.image = ImageFileWriter::png(leaf());
    foliage.branch.leaves.push_back(leafKind);

    // The cards over each level of the tree.
    for (uint32_t level = 0; level < 3; ++level) {
        const Tree::Bough::Param param = TreeStreamWriter::levelParameters(content.param, level);
        Tree::Bough::genNodes(levels[level], param);
        Tree::Bough::ObjectParam cards = fp;
        cards.kindCount = 0;
        srand(seed + 10 + level);
        const int32_t n = Tree::Bough::placeObjects(levels[level], placed, cards);
        for (int32_t i = 0; i < n; ++i)
            foliage.placements[level].push_back(*placed.at(i));
    }
    if (pictureStored)
        foliage.texture = ImageFileWriter::png(foliagePicture());
    content.foliage.push_back(std::move(foliage));

    FileArray stream(65536);
    if (!TreeStreamWriter::write(stream, content))
        return {};
    return bytesOf(stream);
}

std::vector<uint8_t> emptyTree()
{
    return {'v', '1', '.', '1', 0};
}

bool save(const String& folder)
{
    const std::vector<uint8_t> sample = sampleTree();
    const std::vector<uint8_t> leafy = leafyTree(true), rendered = leafyTree(false);
    return !sample.empty() && !leafy.empty() && !rendered.empty() && saveBytes(sample, folder + L"Sample.tree") &&
           saveBytes(leafy, folder + L"Leafy.tree") && saveBytes(rendered, folder + L"LeafyRendered.tree") &&
           saveBytes(emptyTree(), folder + L"Empty.tree");
}

}
