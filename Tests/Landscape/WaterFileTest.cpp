// The water file: the builder's sample read and written back byte for byte,
// the header's rules, and damaged files.
#include "CostlyFiles.h"
#include "LandscapeTestFiles.h"
#include "WaterFileWriter.h"
#include "WaterSamples.h"

#include "Landscape/Water.h"
#include "Render/DirectGraphics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace {

using namespace LandscapeTestFiles;

std::vector<uint8_t> fileOf(const std::vector<WaterFileWriter::Area>& areas)
{
    FileArray out(1 << 16);
    WaterFileWriter::write(areas, out);
    return bytesOf(out);
}

// The water after reading bytes; the areas are dormant.
class WaterFile : public testing::Test
{
protected:
    void TearDown() override { gWater.clear(); }

    bool read(const std::vector<uint8_t>& bytes)
    {
        FileArray stream;
        return gWater.read(nullptr, streamOf(stream, bytes));
    }
    static std::vector<uint8_t> written()
    {
        FileArray out(256);
        gWater.write(out);
        return bytesOf(out);
    }
    static WaterArea& dormant(int i)
    {
        auto* node = gWater.dormant.head();
        while (i-- > 0)
            node = node->next;
        return *node->item;
    }
};

TEST_F(WaterFile, TheSampleReadsAndWritesBackTheSameBytes)
{
    const std::vector<uint8_t> bytes = fileOf(WaterSamples::valley());
    read(bytes);
    ASSERT_EQ(gWater.dormant.count(), 2);
    const WaterArea& lake = dormant(0);
    EXPECT_EQ(std::wstring(lake.name.text()), L"Lake");
    EXPECT_EQ(lake.level, 47.0f);
    EXPECT_EQ(lake.outlineCount, 40);
    EXPECT_EQ(lake.indexCount, 38 * 3);
    EXPECT_EQ(lake.macroSize, 16.0f);
    const WaterArea& pond = dormant(1);
    EXPECT_EQ(pond.physics.n, 8);
    ASSERT_EQ(pond.physics.patches.count(), 1);
    EXPECT_EQ(pond.physics.patches.head()->item->cells.count(), 64);
    EXPECT_TRUE(pond.physics.valid());
    EXPECT_FALSE(lake.physics.valid()); // no grid: the lake stays flat
    EXPECT_EQ(written(), bytes);

    // Through the disk as the scene saves and loads it.
    const std::wstring path = freshFolder(L"water") + L"Valley.wtr";
    ASSERT_TRUE(gWater.save(String(path.c_str())));
    EXPECT_EQ(AppTestFiles::read(path), bytes);
    gWater.clear();
    gWater.load(nullptr, String(path.c_str()));
    EXPECT_EQ(gWater.dormant.count(), 2);
    EXPECT_EQ(written(), bytes);
}

TEST_F(WaterFile, HeaderRules)
{
    const std::vector<uint8_t> area = [] {
        std::vector<uint8_t> all = fileOf({WaterSamples::valley()[0]});
        return std::vector<uint8_t>(all.begin() + 15, all.end() - 1); // the record alone
    }();
    auto file = [&](std::vector<uint8_t> head, bool withArea) {
        std::vector<uint8_t> bytes{'v', '1', '.', '0'};
        bytes.insert(bytes.end(), head.begin(), head.end());
        if (withArea)
            bytes.insert(bytes.end(), area.begin(), area.end());
        bytes.push_back(0);
        return bytes;
    };
    struct Case
    {
        std::vector<uint8_t> head;
        bool withArea;
        int areas;
        bool whole; // read to the file's last byte
    };
    const Case cases[] = {
        {{}, false, 0, true},                         // only the version and tag 0
        {{3}, true, 0, false},                        // no count before the records
        {{2, 1, 0, 0, 0, 3}, true, 1, true},          // count, records
        {{9, 2, 1, 0, 0, 0, 3}, true, 1, true},       // an unknown tag is one byte
        {{1, 0, 0, 0, 0, 2, 1, 0, 0, 0, 3}, true, 1, true},
        {{2, 0, 0, 0, 0x80, 3}, false, 0, true},      // a negative count reads nothing
        {{2, 2, 0, 0, 0, 3}, true, 1, true},          // the header's end is no second record
        {{2, 0xE8, 3, 0, 0, 3}, true, 1, true},       // a count beyond the data keeps the record
        {{2, 0xF0, 0xFF, 0xFF, 0x7F, 3}, true, 1, true},
        {{2, 0, 0, 0, 0, 0}, true, 0, false},         // an end tag before the records
    };
    for (const Case& c : cases) {
        // Whatever was dormant goes; live areas stay.
        read(fileOf(WaterSamples::valley()));
        gWater.live.append(new WaterArea(nullptr));
        EXPECT_EQ(read(file(c.head, c.withArea)), c.whole) << c.head.size();
        EXPECT_EQ(gWater.dormant.count(), c.areas) << c.head.size();
        EXPECT_EQ(gWater.live.count(), 1);
        gWater.clear();
        // What was read is what is written back: no area grows out of a count.
        if (c.areas == 1) {
            read(file(c.head, c.withArea));
            EXPECT_EQ(written(), fileOf({WaterSamples::valley()[0]})) << c.head.size();
            gWater.clear();
        }
    }
    // The version mark is passed over unread, whatever its bytes.
    std::vector<uint8_t> otherMark = file({2, 1, 0, 0, 0, 3}, true);
    std::fill(otherMark.begin(), otherMark.begin() + 4, uint8_t(0));
    EXPECT_TRUE(read(otherMark));
    EXPECT_EQ(gWater.dormant.count(), 1);
}

// The flagged areas in the order of their file, whichever of them the
// camera has woken.
TEST_F(WaterFile, SavingWritesTheFlaggedAreasInTheirFilesOrder)
{
    std::vector<WaterFileWriter::Area> areas = WaterSamples::valley();
    areas.push_back(areas[0]);
    areas[2].name = String(L"Third");
    read(fileOf(areas));
    ASSERT_EQ(gWater.dormant.count(), 3);
    dormant(0).saveFlag = 0;
    WaterArea& third = dormant(2);
    gWater.live.append(&third);
    gWater.dormant.unlink(gWater.dormant.head()->next->next);
    EXPECT_EQ(written(), fileOf({areas[1], areas[2]}));

    // The first area woken (live, and the lists read dormant first) still
    // comes first.
    gWater.clear();
    read(fileOf(areas));
    WaterArea& first = dormant(0);
    gWater.dormant.unlink(gWater.dormant.head());
    gWater.live.append(&first);
    EXPECT_EQ(written(), fileOf(areas));
}

// A record from raw fields, to leave out or break what the writer never would.
std::vector<uint8_t> rawFile(const std::vector<uint8_t>& record, uint32_t count = 1)
{
    std::vector<uint8_t> bytes{'v', '1', '.', '0', 2};
    putU32(bytes, count);
    bytes.push_back(3);
    bytes.insert(bytes.end(), record.begin(), record.end());
    bytes.push_back(0);
    return bytes;
}

void putF32(std::vector<uint8_t>& bytes, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    putU32(bytes, bits);
}

TEST_F(WaterFile, RecordsMissingOrBreakingFields)
{
    // Without a depth gain the area gets 64.
    std::vector<uint8_t> record{4};
    putF32(record, 12.0f);
    record.push_back(0);
    read(rawFile(record));
    ASSERT_EQ(gWater.dormant.count(), 1);
    EXPECT_EQ(dormant(0).depthGain, 64.0f);
    EXPECT_EQ(dormant(0).level, 12.0f);

    // Triangles naming a point the outline lacks are dropped.
    std::vector<WaterFileWriter::Area> areas = WaterSamples::valley();
    areas[0].indices[5] = 40;
    read(fileOf(areas));
    ASSERT_EQ(gWater.dormant.count(), 2);
    EXPECT_EQ(dormant(0).indexCount, 0);
    EXPECT_EQ(dormant(0).isPointInWater({-190.0f, 40.0f, -410.0f}), 0);
    EXPECT_EQ(dormant(1).indexCount, 22 * 3);

    // An area with a box, level or gain that is not a number is dropped; the
    // areas after it are read.
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const std::function<void(WaterFileWriter::Area&)> breaks[] = {
        [&](WaterFileWriter::Area& a) { a.box[6] = nan; },
        [&](WaterFileWriter::Area& a) { a.box[3] = inf; },
        [&](WaterFileWriter::Area& a) { a.level = -inf; },
        [&](WaterFileWriter::Area& a) { a.depthGain = nan; },
        [&](WaterFileWriter::Area& a) { a.reflectionGain = inf; },
        [&](WaterFileWriter::Area& a) { a.reflectionRange = nan; },
    };
    for (const auto& breakIt : breaks) {
        areas = WaterSamples::valley();
        breakIt(areas[0]);
        read(fileOf(areas));
        ASSERT_EQ(gWater.dormant.count(), 1);
        EXPECT_EQ(std::wstring(dormant(0).name.text()), L"Pond");
    }
}

TEST_F(WaterFile, CountsBeyondTheDataEndTheRead)
{
    const std::vector<WaterFileWriter::Area> areas = WaterSamples::valley();
    const std::vector<uint8_t> good = fileOf(areas);
    // Byte offsets of counts in the pond's record, found from its fields.
    auto countAt = [&](const std::vector<uint8_t>& bytes, uint32_t value, size_t from) {
        for (size_t i = from; i + 4 <= bytes.size(); ++i) {
            uint32_t v;
            std::memcpy(&v, bytes.data() + i, 4);
            if (v == value)
                return i;
        }
        return bytes.size();
    };
    const size_t pondStart = fileOf({areas[0]}).size() - 1; // header + lake record
    struct Case
    {
        uint8_t tag;      // the count's tag
        uint32_t value;   // the count written there
        int32_t indices;  // the pond's indices read before it
        uint32_t size;    // the bytes of one of what it counts
    };
    const Case cases[] = {{10, 24, 0, 8}, {12, 66, 0, 2}, {12, 1, 66, 20}};
    for (const Case& c : cases)
        for (const bool justBeyond : {false, true}) {
            std::vector<uint8_t> bytes = good;
            size_t at = countAt(bytes, c.value, pondStart);
            while (at < bytes.size() && bytes[at - 1] != c.tag)
                at = countAt(bytes, c.value, at + 1);
            ASSERT_LT(at, bytes.size());
            // A count far beyond the data, or one more than the rest holds.
            const uint32_t count = justBeyond ? uint32_t(bytes.size() - at - 4) / c.size + 1 : 0x7FFFFFF0u;
            std::memcpy(bytes.data() + at, &count, 4);
            // The pond keeps what came before the count, and nothing after it.
            read(bytes);
            ASSERT_EQ(gWater.dormant.count(), 2) << int(c.tag) << " " << count;
            EXPECT_EQ(std::wstring(dormant(0).name.text()), L"Lake");
            const WaterArea& pond = dormant(1);
            EXPECT_EQ(pond.level, 36.5f);
            EXPECT_EQ(pond.macroSize, 0.0f); // no ground loaded to take a default from
            EXPECT_EQ(pond.indexCount, c.indices) << count;
            EXPECT_EQ(pond.physics.patches.count(), 0) << count;
        }
    // An area count beyond the data keeps the whole records there.
    std::vector<uint8_t> bytes = good;
    const uint32_t huge = 0x7FFFFFF0u;
    std::memcpy(bytes.data() + 10, &huge, 4);
    read(bytes);
    EXPECT_EQ(gWater.dormant.count(), 2);
    EXPECT_EQ(written(), good);
}

TEST_F(WaterFile, DamagedFilesKeepWhatTheyRead)
{
    const std::vector<uint8_t> good = fileOf(WaterSamples::valley());
    for (size_t cut = 0; cut < good.size(); ++cut) {
        read(std::vector<uint8_t>(good.begin(), good.begin() + ptrdiff_t(cut)));
        ASSERT_LE(gWater.dormant.count(), 2) << cut;
        for (auto* node = gWater.dormant.head(); node; node = node->next)
            EXPECT_TRUE(node->item->usable());
    }
    // Cut inside the pond, the lake stays whole.
    read(std::vector<uint8_t>(good.begin(), good.end() - 40));
    ASSERT_GE(gWater.dormant.count(), 1);
    EXPECT_EQ(dormant(0).outlineCount, 40);

    std::mt19937 random(17);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int changes = 1 + int(random() % 8);
        for (int k = 0; k < changes; ++k)
            bytes[random() % bytes.size()] = uint8_t(random());
        read(bytes);
        for (auto* node = gWater.dormant.head(); node; node = node->next) {
            WaterArea& a = *node->item;
            EXPECT_TRUE(a.usable());
            EXPECT_LE(a.outlineCount, a.outline.count());
            EXPECT_LE(a.indexCount, a.triangles.count());
            for (int32_t i = 0; i < a.indexCount; ++i)
                ASSERT_LT(*a.triangles.at(i), a.outlineCount);
            a.isPointInWater({-190.0f, 40.0f, -410.0f});
            a.physics.valid();
        }
    }
}

}

TEST(WaterPhysicsBlock, UnknownTagsArePassedOverAndACutGridFailsTheRead)
{
    WaterPhysics source(nullptr);
    source.gridMinimumX = -40.0f;
    source.gridMinimumZ = -30.0f;
    source.gridMaximumX = 40.0f;
    source.gridMaximumZ = 30.0f;
    source.lightGain = 0.125f;
    source.n = 8;
    const float spare[4] = {0.25f, 0.5f, 0.75f, 2.0f};
    std::copy(spare, spare + 4, source.spare);
    FileArray out(256);
    source.write(out);
    const std::vector<uint8_t> block = bytesOf(out);

    // A tag this reader does not know is passed over as one byte; the fields
    // after it are read.
    std::vector<uint8_t> bytes{0xEE};
    bytes.insert(bytes.end(), block.begin(), block.end());
    FileArray stream;
    WaterPhysics known(nullptr);
    EXPECT_TRUE(known.read(streamOf(stream, bytes)));
    EXPECT_EQ(known.gridMaximumZ, 30.0f);
    EXPECT_EQ(known.lightGain, 0.125f);
    EXPECT_EQ(known.n, 8);
    // Saved, it gives back the block as it came, the values it only keeps too.
    out.close();
    known.write(out);
    EXPECT_EQ(bytesOf(out), block);

    // A block cut inside its grid rectangle fails and keeps no grid.
    const std::vector<uint8_t> cut(block.begin(), block.begin() + 1 + 4 * 5);
    WaterPhysics shortBlock(nullptr);
    EXPECT_FALSE(shortBlock.read(streamOf(stream, cut)));
    EXPECT_EQ(shortBlock.gridMinimumX, 0.0f);
    EXPECT_EQ(shortBlock.gridMaximumZ, 0.0f);
}

namespace {

// What a level's water may cost stops the file at the first area past it,
// keeping the areas before; the read tells that it stopped early (WaterBench
// prints how long the costliest of these reads take).
// Areas of one field (a level) up to the count's bound; areas whose alpha
// textures (one texel for two units, at most 2048 a side) or wave grids come
// to more than the bytes' bound; the valley's water sixteen times reads
// whole. The largest texture is the game's, 2048 a side.
TEST_F(WaterFile, AreasStopAtTheBound)
{
    const uint32_t largest = gDirectGraphics.record.maxTextureSize;
    gDirectGraphics.record.maxTextureSize = 2048;
    const auto levels = [](uint32_t n) {
        std::vector<uint8_t> records;
        for (uint32_t i = 0; i < n; ++i) {
            records.push_back(4);
            putF32(records, float(i));
            records.push_back(0);
        }
        return rawFile(records, n);
    };
    const auto squares = [](uint32_t n, float side) {
        WaterFileWriter::Area a = WaterSamples::lake(L"Square", 0.0f, 0.0f, 10.0f, 10.0f, 40.0f, 10.0f);
        a.setBox(-side * 0.5f, -side * 0.5f, side * 0.5f, side * 0.5f, 10.0f);
        return fileOf(std::vector<WaterFileWriter::Area>(n, a));
    };
    // A grid of 64 x 64 macros of 16 x 16 cells: 963 x 963 cells with its
    // border, some 15 MB.
    WaterFileWriter::Area waves = WaterSamples::lake(L"Waves", 0.0f, 0.0f, 10.0f, 10.0f, 40.0f, 10.0f);
    waves.setBox(-1.0f, -1.0f, 1.0f, 1.0f, 10.0f);
    waves.waves.cellsPerMacro = 16;
    waves.waves.grid[2] = waves.waves.grid[3] = 64.0f * waves.macroSize;
    // 32 x 32 macros: 483 x 483 cells, some 3.7 MB; two fit, the third passes
    // the bound while the three alpha textures stay far below it.
    WaterFileWriter::Area swell = waves;
    swell.waves.grid[2] = swell.waves.grid[3] = 32.0f * swell.macroSize;
    std::vector<WaterFileWriter::Area> game;
    for (int i = 0; i < 16; ++i)
        for (const WaterFileWriter::Area& a : WaterSamples::valley())
            game.push_back(a);
    const struct
    {
        const char* what;
        std::vector<uint8_t> bytes;
        int areas;
        bool whole;
    } cases[] = {
        {"100,000 areas of a level", levels(100000), 64, false},
        {"65 areas of a level", levels(65), 64, false},
        {"64 areas of a level", levels(64), 64, true},
        {"32 boxes of 10,000 units", squares(32, 10000.0f), 0, false},
        {"three textures of 1023 x 1023", squares(3, 2046.0f), 2, false},
        // With their outlines and triangles two textures of 1024 x 1024
        // pass the bound by some 2.7 KB.
        {"two textures of 1024 x 1024", squares(2, 2048.0f), 1, false},
        {"two textures of 1023 x 1023", squares(2, 2046.0f), 2, true},
        {"a grid of 963 x 963 cells", fileOf({waves}), 0, false},
        {"three grids of 483 x 483 cells", fileOf({swell, swell, swell}), 2, false},
        {"two grids of 483 x 483 cells", fileOf({swell, swell}), 2, true},
        {"the valley's water, 16 times", fileOf(game), 32, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.bytes), c.whole) << c.what;
        EXPECT_EQ(gWater.dormant.count(), c.areas) << c.what;
    }
    gDirectGraphics.record.maxTextureSize = largest;
}


// Every part of a record counts in the bounds: the patch records by the
// macros they may build (in bytes, and by the cells these simulate and draw
// a frame when the waves can run), the triangles the point test walks, the
// outline, and records dropped for a field that is not a number. Past a
// bound the read stops, keeps the areas before and is not whole; what reads
// whole writes back the same bytes.
TEST_F(WaterFile, EveryPartOfARecordCountsInTheBounds)
{
    const uint32_t largest = gDirectGraphics.record.maxTextureSize;
    gDirectGraphics.record.maxTextureSize = 2048;
    const WaterFileWriter::Area lake = WaterSamples::valley()[0];
    const WaterFileWriter::Area pond = WaterSamples::valley()[1];
    // The pond's N is 8: a patch without cells may build 256 macros of 64
    // cells, four of them the whole bound of 65,536.
    const auto emptyPatches = [](WaterFileWriter::Area a, size_t count) {
        WaterFileWriter::Patch empty;
        empty.minimum[0] = -232.0f;
        empty.minimum[1] = 768.0f;
        empty.maximum[0] = -168.0f;
        empty.maximum[1] = 832.0f;
        a.waves.patches.assign(count, empty);
        return a;
    };
    // The lake's waves never run: its patches count only by their bytes,
    // some 14.4 KB each.
    const auto triangles = [&](size_t count) {
        WaterFileWriter::Area a = lake;
        a.indices.clear();
        for (size_t i = 0; i < count; ++i)
            a.indices.insert(a.indices.end(), {0, uint16_t(1 + i % 38), uint16_t(2 + i % 38)});
        return a;
    };
    WaterFileWriter::Area points = lake;
    points.outline.resize(400000, points.outline.back());
    const auto dropped = [](uint32_t n) {
        std::vector<uint8_t> records;
        for (uint32_t i = 0; i < n; ++i) {
            records.push_back(4);
            putF32(records, std::numeric_limits<float>::quiet_NaN());
            records.push_back(0);
        }
        return rawFile(records, n);
    };
    const struct
    {
        const char* what;
        std::vector<uint8_t> bytes;
        int areas;
        bool whole;
    } cases[] = {
        {"the pond with four patches without cells", fileOf({lake, emptyPatches(pond, 4)}), 2, true},
        {"the pond with five", fileOf({lake, emptyPatches(pond, 5)}), 1, false},
        {"the pond with 20,000", fileOf({lake, emptyPatches(pond, 20000)}), 1, false},
        {"the lake with 500 patches without cells", fileOf({emptyPatches(lake, 500)}), 1, true},
        {"the lake with 600", fileOf({emptyPatches(lake, 600)}), 0, false},
        {"two lakes with 300 each", fileOf({emptyPatches(lake, 300), emptyPatches(lake, 300)}), 1, false},
        {"1,024 triangles", fileOf({triangles(1024)}), 1, true},
        {"1,025 triangles", fileOf({lake, triangles(1025)}), 1, false},
        {"two areas of 600 triangles", fileOf({triangles(600), triangles(600)}), 1, false},
        {"400,000 outline points", fileOf({lake, points}), 1, false},
        {"64 areas dropped", dropped(64), 0, true},
        {"65 areas dropped", dropped(65), 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(read(c.bytes), c.whole) << c.what;
        EXPECT_EQ(gWater.dormant.count(), c.areas) << c.what;
        if (c.whole && c.areas > 0) {
            EXPECT_EQ(written(), c.bytes) << c.what;
        } else if (c.areas > 0) {
            EXPECT_EQ(std::wstring(dormant(0).name.text()), L"Lake") << c.what;
        }
    }
    // The files the benchmarks load at the bounds read whole.
    for (const auto& [what, bytes] : CostlyFiles::atTheBounds()) {
        EXPECT_TRUE(read(bytes)) << what;
        EXPECT_EQ(gWater.dormant.count(), 2) << what;
    }
    // The hostile files the level tests load: none reads whole, and what is
    // kept is within the bounds.
    for (const auto& [what, bytes] : CostlyFiles::of(L".wtr")) {
        EXPECT_FALSE(read(bytes)) << what;
        EXPECT_LE(uint32_t(gWater.dormant.count()), Water::maxAreas) << what;
        const CostlyFiles::WaterHeld held = CostlyFiles::waterHeld({&gWater.dormant});
        EXPECT_LE(held.cost, Water::maxBytes) << what;
        EXPECT_LE(held.macroCells, Water::maxMacroCells) << what;
        EXPECT_LE(held.triangles, Water::maxTriangles) << what;
    }
    gDirectGraphics.record.maxTextureSize = largest;
}

}
