// The meadow file: the builder's sample read and written back byte for byte,
// layers with and without a texture, the file's header rules, fields outside
// their rules, and damaged files.
#include "CostlyFiles.h"
#include "LandscapeTestFiles.h"
#include "MeadowFileWriter.h"
#include "MeadowSamples.h"

#include "Landscape/GrasLayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

namespace {

using namespace LandscapeTestFiles;
using Layer = Meadow::GrasLayer;

std::vector<uint8_t> fileOf(const std::vector<MeadowFileWriter::Layer>& layers)
{
    FileArray out(256);
    MeadowFileWriter::write(layers, out);
    return bytesOf(out);
}

// What the game should hold after reading a writer's layer.
Layer::Settings settingsOf(const MeadowFileWriter::Layer& l)
{
    Layer::Settings s;
    s.minimumHeight = l.minimumHeight;
    s.maximumHeight = l.maximumHeight;
    s.width = l.width;
    s.fadeStart = l.fadeStart;
    s.range = l.range;
    s.tilt = l.tilt;
    s.colourVariation = l.colourVariation;
    s.brightness = l.brightness;
    s.lighting = l.lighting;
    s.bladesPerPatch = l.bladesPerPatch;
    s.shape = l.shape;
    s.minimumNormal = l.minimumNormal;
    s.maximumNormal = l.maximumNormal;
    s.minimumGround = l.minimumGround;
    s.maximumGround = l.maximumGround;
    s.onWater = l.onWater;
    s.onWay = l.onWay;
    s.sinkDepth = l.sinkDepth;
    s.colour = Color(l.colour[2], l.colour[1], l.colour[0], l.colour[3]);
    return s;
}

// A layer in which every setting differs from the defaults.
MeadowFileWriter::Layer unusualLayer()
{
    MeadowFileWriter::Layer l;
    l.name = String(L"Clover");
    l.minimumHeight = 2.5f;
    l.maximumHeight = 3.25f;
    l.width = 4.5f;
    l.fadeStart = 210.0f;
    l.range = 333.0f;
    l.tilt = 7;
    l.colourVariation = 0;
    l.brightness = 0.9f;
    l.lighting = 0;
    l.bladesPerPatch = 1024;
    l.shape = 4;
    l.minimumNormal = 0.5f;
    l.maximumNormal = 0.75f;
    l.minimumGround = -20.0f;
    l.maximumGround = 400.0f;
    l.onWater = 1;
    l.onWay = 1;
    l.sinkDepth = 1.5f;
    const uint8_t colour[4] = {10, 20, 30, 40};
    std::memcpy(l.colour, colour, 4);
    return l;
}

class MeadowFile : public testing::Test
{
protected:
    bool read(const std::vector<uint8_t>& bytes)
    {
        FileArray stream;
        return meadow.read(streamOf(stream, bytes));
    }
    std::vector<uint8_t> written() const
    {
        FileArray out(256);
        meadow.write(out);
        return bytesOf(out);
    }
    Layer& layer(int i) const
    {
        auto* node = meadow.layers.head();
        while (i-- > 0)
            node = node->next;
        return *node->item;
    }

    Meadow meadow;
};

TEST_F(MeadowFile, TheSampleReadsAndWritesBackTheSameBytes)
{
    const std::vector<MeadowFileWriter::Layer> sample = MeadowSamples::valley();
    const std::vector<uint8_t> bytes = fileOf(sample);
    read(bytes);
    ASSERT_EQ(meadow.layers.count(), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(layer(i).name.sameText(sample[size_t(i)].name));
        EXPECT_EQ(layer(i).settings, settingsOf(sample[size_t(i)])) << i;
        EXPECT_EQ(layer(i).state, Layer::ready);
        ASSERT_EQ(layer(i).textureFile.size(), sample[size_t(i)].texture.size());
        EXPECT_EQ(std::memcmp(layer(i).textureFile.memory(), sample[size_t(i)].texture.data(),
                              sample[size_t(i)].texture.size()),
                  0);
    }
    EXPECT_EQ(layer(1).settings.onWater, 1u);
    EXPECT_EQ(written(), bytes);

    // Through the disk, as the scene saves and loads it.
    const std::wstring path = freshFolder(L"meadow") + L"Valley.mdw";
    ASSERT_TRUE(meadow.save(String(path.c_str())));
    EXPECT_EQ(AppTestFiles::read(path), bytes);
    meadow.clear();
    EXPECT_TRUE(meadow.load(String(path.c_str())));
    EXPECT_EQ(written(), bytes);
    // A file that is not there leaves the layers alone.
    EXPECT_FALSE(meadow.load(String((path + L".missing").c_str())));
    EXPECT_FALSE(meadow.load(String(L"")));
    EXPECT_EQ(meadow.layers.count(), 2);
}

TEST_F(MeadowFile, EverySettingComesBackWithAndWithoutTexture)
{
    MeadowFileWriter::Layer textured = unusualLayer();
    textured.texture = ImageFileWriter::png(MeadowSamples::tuft());
    MeadowFileWriter::Layer bare = unusualLayer();
    bare.name = String(L"Bare");
    const std::vector<uint8_t> bytes = fileOf({textured, bare});
    read(bytes);
    ASSERT_EQ(meadow.layers.count(), 2);
    EXPECT_EQ(layer(0).settings, settingsOf(textured));
    EXPECT_EQ(layer(1).settings, settingsOf(bare));
    EXPECT_GT(layer(0).textureFile.size(), 0u);
    // A layer without a texture is written with an empty block and read
    // back as one without texture; the layer after it is read whole.
    EXPECT_EQ(layer(1).textureFile.size(), 0u);
    EXPECT_FALSE(layer(1).texture.isBound());
    EXPECT_EQ(written(), bytes);

    // A layer made without any texture writes the empty block too.
    meadow.clear();
    meadow.layers.append(new Layer(&meadow, Layer::Settings{}));
    const std::vector<uint8_t> empty = written();
    read(empty);
    ASSERT_EQ(meadow.layers.count(), 1);
    EXPECT_EQ(layer(0).settings, Layer::Settings{});
    EXPECT_EQ(written(), empty);
}

TEST_F(MeadowFile, HeaderRules)
{
    const std::vector<uint8_t> record = [] {
        const std::vector<uint8_t> all = fileOf({unusualLayer()});
        return std::vector<uint8_t>(all.begin() + 10, all.end() - 1); // the record alone
    }();
    auto file = [&](std::vector<uint8_t> head, int records) {
        std::vector<uint8_t> bytes{'v', '1', '.', '0'};
        bytes.insert(bytes.end(), head.begin(), head.end());
        for (int i = 0; i < records; ++i)
            bytes.insert(bytes.end(), record.begin(), record.end());
        bytes.push_back(0);
        return bytes;
    };
    struct Case
    {
        std::vector<uint8_t> head;
        int records;
        int layers;
        bool whole; // read to the file's last byte
    };
    const Case cases[] = {
        {{}, 0, 0, true},                          // only the version and tag 0
        {{1, 3, 0, 0, 0}, 0, 0, true},             // a count without records
        {{2}, 0, 0, true},                         // tag 2 without a count
        {{1, 1, 0, 0, 0, 2}, 1, 1, true},          // count, records
        {{1, 2, 0, 0, 0, 9, 2}, 2, 2, true},       // an unknown tag is one byte
        {{1, 200, 0, 0, 0, 2}, 1, 1, false},       // a count beyond the data stops at its end
        {{1, 0xFF, 0xFF, 0xFF, 0xFF, 2}, 2, 2, false},
        // The count's tag changed: its value's first byte reads as tag 2 of
        // no records, the next as the end tag, and the records stay unread.
        {{0x55, 2, 0, 0, 0, 2}, 2, 0, false},
    };
    for (const Case& c : cases) {
        // Whatever was there before goes.
        read(fileOf(MeadowSamples::valley()));
        EXPECT_EQ(read(file(c.head, c.records)), c.whole) << c.head.size() << " " << c.records;
        EXPECT_EQ(meadow.layers.count(), c.layers) << c.head.size() << " " << c.records;
        for (auto* node = meadow.layers.head(); node; node = node->next)
            EXPECT_EQ(node->item->settings, settingsOf(unusualLayer()));
    }
    // Records without a count are no layers: their bytes are read as the
    // file's tags (a nameless record without texture ends the file there).
    MeadowFileWriter::Layer nameless;
    const std::vector<uint8_t> bare = fileOf({nameless});
    read(file({2}, 0));
    EXPECT_EQ(meadow.layers.count(), 0);
    std::vector<uint8_t> uncounted{'v', '1', '.', '0', 2};
    uncounted.insert(uncounted.end(), bare.begin() + 10, bare.end());
    read(uncounted);
    EXPECT_EQ(meadow.layers.count(), 0);

    // Fewer bytes than the version mark: no layers, no harm.
    read({'v', '1'});
    EXPECT_EQ(meadow.layers.count(), 0);
    // The mark is passed over unread, whatever its bytes.
    std::vector<uint8_t> otherMark = file({1, 1, 0, 0, 0, 2}, 1);
    std::fill(otherMark.begin(), otherMark.begin() + 4, uint8_t(0));
    EXPECT_TRUE(read(otherMark));
    EXPECT_EQ(meadow.layers.count(), 1);
}

TEST_F(MeadowFile, FieldsOutsideTheirRulesKeepTheirDefaults)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const Layer::Settings defaults;
    struct Case
    {
        const char* what;
        std::function<void(MeadowFileWriter::Layer&)> breakIt;
        std::function<bool(const Layer&)> holds;
    };
    const Case cases[] = {
        {"shape 0", [](auto& l) { l.shape = 0; },
         [](const Layer& l) { return l.state == Layer::disabled && l.settings.shape == 0 && l.verticesPerBlade == 0; }},
        {"shape 6", [](auto& l) { l.shape = 6; }, [](const Layer& l) { return l.state == Layer::disabled; }},
        {"shape 5", [](auto& l) { l.shape = 5; },
         [](const Layer& l) { return l.state == Layer::ready && l.verticesPerBlade == 4; }},
        {"1025 blades", [](auto& l) { l.bladesPerPatch = 1025; },
         [&](const Layer& l) { return l.settings.bladesPerPatch == defaults.bladesPerPatch; }},
        // The range and the fade start keep what the file says (a save writes
        // it back); the drawing holds them within the camera's sight.
        {"range NaN", [&](auto& l) { l.range = nan; },
         [](const Layer& l) { return l.settings.range == 800.0f && l.drawnRange == 800.0f; }},
        {"range beyond the camera", [](auto& l) { l.range = 5000.0f; },
         [](const Layer& l) {
             return l.settings.range == 5000.0f && l.drawnRange == 800.0f && l.drawnFadeStart == 210.0f;
         }},
        {"range 0", [](auto& l) { l.range = 0.0f; },
         [](const Layer& l) { return l.settings.range == 0.0f && l.drawnRange == 800.0f; }},
        {"fade start at the range", [](auto& l) { l.fadeStart = 333.0f; },
         [](const Layer& l) {
             return l.settings.fadeStart == 333.0f && l.drawnFadeStart == 166.5f && l.drawnRange == 333.0f;
         }},
        {"fade start below the range default", [](auto& l) { l.fadeStart = -1.0f; l.range = 500.0f; },
         [](const Layer& l) { return l.settings.fadeStart == -1.0f && l.drawnFadeStart == 400.0f; }},
        {"fade start infinite", [&](auto& l) { l.fadeStart = inf; },
         [](const Layer& l) { return l.settings.fadeStart == 400.0f && l.drawnFadeStart == 166.5f; }},
        {"heights", [&](auto& l) { l.minimumHeight = inf; l.maximumHeight = nan; l.width = -inf; },
         [&](const Layer& l) {
             return l.settings.minimumHeight == defaults.minimumHeight &&
                    l.settings.maximumHeight == defaults.maximumHeight && l.settings.width == defaults.width;
         }},
        {"normals", [&](auto& l) { l.minimumNormal = nan; l.maximumNormal = 3.0f; },
         [&](const Layer& l) { return l.settings.minimumNormal == defaults.minimumNormal && l.settings.maximumNormal == 1.0f; }},
        {"ground and sink", [&](auto& l) { l.minimumGround = -inf; l.maximumGround = nan; l.sinkDepth = inf; },
         [&](const Layer& l) {
             return l.settings.minimumGround == defaults.minimumGround &&
                    l.settings.maximumGround == defaults.maximumGround && l.settings.sinkDepth == 0.0f;
         }},
        {"brightness", [&](auto& l) { l.brightness = nan; }, [](const Layer& l) { return l.settings.brightness == 1.2f; }},
        {"switches", [](auto& l) { l.lighting = 2; l.onWater = 7; l.onWay = 0x80000000u; },
         [](const Layer& l) { return l.settings.lighting == 1 && l.settings.onWater == 0 && l.settings.onWay == 0; }},
    };
    for (const Case& c : cases) {
        MeadowFileWriter::Layer bad = unusualLayer();
        c.breakIt(bad);
        read(fileOf({bad, unusualLayer()}));
        ASSERT_EQ(meadow.layers.count(), 2) << c.what;
        EXPECT_TRUE(c.holds(layer(0))) << c.what;
        // Only the broken field differs, and the next layer is whole.
        EXPECT_EQ(layer(1).settings, settingsOf(unusualLayer())) << c.what;
    }
}

// A range the camera cannot see, or none at all, is kept for the save:
// the file comes back byte for byte, while the grass grows within sight.
TEST_F(MeadowFile, ARangeBeyondSightIsSavedAsStored)
{
    for (float range : {5000.0f, 0.0f, -20.0f}) {
        MeadowFileWriter::Layer distant = unusualLayer();
        distant.range = range;
        const std::vector<uint8_t> bytes = fileOf({distant, unusualLayer()});
        read(bytes);
        ASSERT_EQ(meadow.layers.count(), 2) << range;
        EXPECT_EQ(layer(0).drawnRange, 800.0f) << range;
        EXPECT_EQ(written(), bytes) << range;
    }
}

// What a level's grass may cost stops the file at the first layer past it,
// keeping the layers before; the read tells that it stopped early (MeadowBench
// prints how long the costliest of these reads take).
// Empty records (each a single end tag, a layer of defaults, some 9,000
// blades at most) and 300 records with every setting at its default stop at
// the blades' bound; layers that cannot grow at the layers' bound; one layer
// of 1,024 blades a patch out to the camera's sight alone is past it. The
// game's layers, twelve of them, and the defaults up to the bound read
// whole. Textures: an image wider or higher than 512 texels, or images past
// 8 MB together (at 4 bytes a texel), stop the file before any is decoded,
// whether each layer has one or one layer several.
TEST_F(MeadowFile, LayersStopAtTheBound)
{
    std::vector<uint8_t> empties = {'v', '1', '.', '0', 1};
    putU32(empties, 10000);
    empties.push_back(2);
    empties.resize(empties.size() + 10000, 0);
    empties.push_back(0);
    MeadowFileWriter::Layer still;
    still.shape = 0;
    MeadowFileWriter::Layer dense;
    dense.bladesPerPatch = 1024;
    dense.range = 1800.0f;
    std::vector<MeadowFileWriter::Layer> game;
    for (int i = 0; i < 6; ++i)
        for (const MeadowFileWriter::Layer& l : MeadowSamples::valley())
            game.push_back(l);
    const auto defaults = [](size_t n) { return fileOf(std::vector<MeadowFileWriter::Layer>(n)); };
    const auto textured = [](size_t n, uint32_t width, uint32_t height) {
        MeadowFileWriter::Layer l;
        l.shape = 0;
        l.texture = blankPng(width, height);
        return fileOf(std::vector<MeadowFileWriter::Layer>(n, l));
    };
    // One layer whose record holds nine texture blocks of 512 x 512: eight
    // more before its own, behind its empty name.
    std::vector<uint8_t> blocks = textured(1, 512, 512);
    {
        const std::vector<uint8_t> image = blankPng(512, 512);
        std::vector<uint8_t> block = {2, 1, 0, 0, 0};
        putU32(block, uint32_t(image.size()));
        block.insert(block.end(), image.begin(), image.end());
        const ptrdiff_t texture = 10 + 1 + 4;
        ASSERT_EQ(blocks[size_t(texture)], 2);
        for (int i = 0; i < 8; ++i)
            blocks.insert(blocks.begin() + texture, block.begin(), block.end());
    }
    const struct
    {
        const char* what;
        std::vector<uint8_t> bytes;
        int layers;
        bool whole;
    } cases[] = {
        {"10,000 empty records", empties, 28, false},
        {"300 default records", defaults(300), 28, false},
        {"28 default records", defaults(28), 28, true},
        {"29 default records", defaults(29), 28, false},
        {"100 layers that cannot grow", fileOf(std::vector<MeadowFileWriter::Layer>(100, still)), 64, false},
        {"64 layers that cannot grow", fileOf(std::vector<MeadowFileWriter::Layer>(64, still)), 64, true},
        {"the densest layer in sight", fileOf({dense}), 0, false},
        {"the game's layers", fileOf(game), 12, true},
        {"an image of 8192 x 8192", textured(1, 8192, 8192), 0, false},
        {"an image 513 texels wide", textured(1, 513, 8), 0, false},
        {"an image 513 texels high", textured(1, 8, 513), 0, false},
        {"nine images of 512 x 512", textured(9, 512, 512), 8, false},
        {"eight images of 512 x 512", textured(8, 512, 512), 8, true},
        {"nine images in one layer", blocks, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.bytes), c.whole) << c.what;
        EXPECT_EQ(meadow.layers.count(), c.layers) << c.what;
    }
}

// An image is decoded only when its header tells the size the decoder will
// find; one it cannot size ends the read as an image past the bounds does,
// keeping the layers before. The hostile files the level tests load never
// read whole.
TEST_F(MeadowFile, ImagesTheHeaderCannotSizeEndTheRead)
{
    const auto layerWith = [](const std::vector<uint8_t>& image) {
        MeadowFileWriter::Layer l;
        l.shape = 0;
        l.texture = image;
        return l;
    };
    MeadowFileWriter::Layer tuft = layerWith(ImageFileWriter::png(MeadowSamples::tuft()));
    tuft.name = String(L"Tuft");
    // A restart marker before the frame: the decoder passes over it.
    std::vector<uint8_t> restart = blankJpeg(64, 64);
    restart.insert(restart.begin() + 2, {0xFF, 0xD0});
    const struct
    {
        const char* what;
        std::vector<uint8_t> bytes;
        int layers;
        bool whole;
    } cases[] = {
        {"a JPEG of 512 x 512", fileOf({tuft, layerWith(blankJpeg(512, 512))}), 2, true},
        {"a JPEG of 520 x 8", fileOf({tuft, layerWith(blankJpeg(520, 8))}), 1, false},
        {"a frame behind FF 00", fileOf({tuft, layerWith(hiddenFrameJpeg(64, 64))}), 1, false},
        {"a frame behind a restart", fileOf({tuft, layerWith(restart)}), 1, false},
        {"bytes of no image", fileOf({tuft, layerWith({1, 2, 3, 4, 5, 6, 7, 8})}), 1, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.bytes), c.whole) << c.what;
        ASSERT_EQ(meadow.layers.count(), c.layers) << c.what;
        EXPECT_TRUE(layer(0).name.sameText(String(L"Tuft"))) << c.what;
        if (c.whole) {
            EXPECT_EQ(written(), c.bytes) << c.what;
        }
    }
    for (const auto& [what, bytes] : CostlyFiles::of(L".mdw"))
        EXPECT_FALSE(read(bytes)) << what;
}

TEST_F(MeadowFile, TextureBlocksBeyondTheDataAreRefused)
{
    MeadowFileWriter::Layer l = unusualLayer();
    l.texture = ImageFileWriter::png(MeadowSamples::tuft());
    std::vector<uint8_t> bytes = fileOf({l, unusualLayer()});
    // The block's byte count sits behind the name and the level count.
    const size_t count = 10 + 1 + 4 + 6 + 1 + 4;
    uint32_t stored;
    std::memcpy(&stored, bytes.data() + count, 4);
    ASSERT_EQ(stored, l.texture.size());
    const uint32_t beyond = uint32_t(bytes.size());
    std::memcpy(bytes.data() + count, &beyond, 4);
    read(bytes);
    // The layer keeps what came before the block; nothing after it is read.
    ASSERT_EQ(meadow.layers.count(), 1);
    EXPECT_TRUE(layer(0).name.sameText(String(L"Clover")));
    EXPECT_EQ(layer(0).textureFile.size(), 0u);
    EXPECT_EQ(layer(0).settings, Layer::Settings{});
}

// What every layer the game holds must obey, whatever the file said.
void expectSound(const Layer& l)
{
    const Layer::Settings& s = l.settings;
    EXPECT_TRUE(l.drawnRange > 0.0f && l.drawnRange <= 1800.0f);
    EXPECT_TRUE(l.drawnFadeStart >= 0.0f && l.drawnFadeStart < l.drawnRange);
    EXPECT_LE(s.bladesPerPatch, 1024u);
    EXPECT_LE(s.lighting, 1u);
    EXPECT_LE(s.onWater, 1u);
    EXPECT_LE(s.onWay, 1u);
    for (float v : {s.minimumHeight, s.maximumHeight, s.width, s.brightness, s.minimumGround, s.maximumGround,
                    s.sinkDepth})
        EXPECT_TRUE(std::isfinite(v));
    EXPECT_TRUE(s.minimumNormal >= 0.0f && s.minimumNormal <= 1.0f);
    EXPECT_TRUE(s.maximumNormal >= 0.0f && s.maximumNormal <= 1.0f);
    EXPECT_EQ(l.state == Layer::disabled, Layer::verticesForShape(s.shape) == 0);
}

TEST_F(MeadowFile, DamagedFilesKeepWhatTheyRead)
{
    const std::vector<uint8_t> good = fileOf(MeadowSamples::valley());
    const uint32_t firstRecordEnd = uint32_t(fileOf({MeadowSamples::valley()[0]}).size()) - 1;
    for (size_t cut = 0; cut < good.size(); ++cut) {
        read(std::vector<uint8_t>(good.begin(), good.begin() + ptrdiff_t(cut)));
        ASSERT_LE(meadow.layers.count(), 2) << cut;
        for (auto* node = meadow.layers.head(); node; node = node->next)
            expectSound(*node->item);
        // Cut after the first record, the first layer is whole.
        if (cut >= firstRecordEnd) {
            ASSERT_GE(meadow.layers.count(), 1) << cut;
            EXPECT_EQ(layer(0).settings, settingsOf(MeadowSamples::valley()[0])) << cut;
        }
    }

    std::mt19937 random(25);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int changes = 1 + int(random() % 8);
        for (int k = 0; k < changes; ++k) {
            // Most of the file is the two images: aim most changes at the fields.
            const size_t at = random() % 4 ? random() % 200 : random() % bytes.size();
            bytes[at < bytes.size() ? at : 0] = uint8_t(random());
        }
        read(bytes);
        for (auto* node = meadow.layers.head(); node; node = node->next)
            expectSound(*node->item);
        // What the game holds writes and reads back the same.
        const std::vector<uint8_t> again = written();
        read(again);
        EXPECT_EQ(written(), again) << round;
    }
}

}
