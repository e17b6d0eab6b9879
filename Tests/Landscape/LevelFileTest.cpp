#include "LandscapeTestFiles.h"

#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Entity/StaticEntityManager.h"
#include "Render/SwapChain.h"
#include "Way/WayNetwork.h"

#include "MeadowFileWriter.h"
#include "MeadowSamples.h"
#include "TerrainTestMaps.h"
#include "WaterFileWriter.h"
#include "WaterSamples.h"
#include "WayFileWriter.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

namespace {

using namespace LandscapeTestFiles;

std::wstring text(const String& s) { return s.text(); }

void putF32(std::vector<uint8_t>& bytes, float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, 4);
    putU32(bytes, bits);
}

std::vector<uint8_t> versionOnly() { return {'v', '1', '.', '0'}; }

// The fields of a scene that a new scene has (F15: nothing may leak from
// the level before).
void expectNewSceneValues(const Scene& scene)
{
    EXPECT_EQ(scene.timeOfDay, 12.0f);
    EXPECT_EQ(scene.season, 0.5f);
    EXPECT_EQ(scene.animatedSky, 0u);
    EXPECT_EQ(scene.game.choice.courseType, 0);
    EXPECT_EQ(text(scene.description), L"");
    const SceneTerrain& t = scene.terrainLayer;
    EXPECT_EQ(t.value3, 512);
    EXPECT_EQ(t.value4, 400);
    EXPECT_EQ(t.horizontalScale, 3.0f);
    EXPECT_EQ(t.verticalScale, 1.75f);
    EXPECT_EQ(t.lodDistance, 4.0f);
    EXPECT_EQ(t.firstRepeat, 4);
    EXPECT_EQ(t.secondRepeat, 0.4f);
    EXPECT_EQ(t.lowestLod, 0);
    EXPECT_EQ(t.highestLod, 5);
    EXPECT_EQ(t.colourOps[3], 11u);
    EXPECT_EQ(t.ambient[0], 0.45f);
    EXPECT_EQ(t.barrierFlag, 0u);
    EXPECT_EQ(text(t.layers[4].text), L"");
    const SceneCamera& c = scene.camera;
    EXPECT_EQ(c.mode, 0u);
    EXPECT_EQ(c.targetHeight, 100.0f);
    EXPECT_EQ(c.currentHeight, 100.0f);
    EXPECT_EQ(c.position, vec3d());
    EXPECT_EQ(c.turn, 0.0f);
    EXPECT_EQ(c.pitch, 75.0f);
    EXPECT_EQ(c.fogColour, Color(0xCD, 0xF7, 0xFF, 0xFF));
    EXPECT_EQ(c.fogAmount, 0.3f);
}

TEST(LevelFile, BuildersLevelLoadsWithEveryValueAndSavesTheSameBytes)
{
    const std::wstring folder = freshFolder(L"roundtrip");
    const std::vector<uint8_t> original = levelBytes(unusualLevel());
    ASSERT_TRUE(write(folder + L"Quarry.tee", original));

    Scene scene(String(L"Korvanta"), 3500.0f);
    ASSERT_TRUE(scene.load(String((folder + L"Quarry.tee").c_str())));
    EXPECT_EQ(scene.loaded, 1u);
    EXPECT_EQ(text(scene.sceneName), L"Quarry");
    EXPECT_EQ(text(scene.description), L"Dust and rocks");
    EXPECT_EQ(scene.preview.size(), 9u);
    EXPECT_EQ(scene.game.choice.courseType, 3);
    EXPECT_EQ(std::bit_cast<uint32_t>(scene.game.referenceTime), 123456u);
    EXPECT_EQ(scene.timeOfDay, 18.5f);
    EXPECT_EQ(scene.season, 0.25f);
    EXPECT_EQ(scene.animatedSky, 1u);
    const SceneTerrain& t = scene.terrainLayer;
    EXPECT_EQ(text(t.text1), L"ground");
    EXPECT_EQ(text(t.text2), L"detail");
    EXPECT_EQ(t.value3, 1024);
    EXPECT_EQ(t.value4, 77);
    for (uint32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(t.layers[i].first, 10 + i);
        EXPECT_EQ(text(t.layers[i].text), i % 2 ? L"grass" : L"rock");
        EXPECT_EQ(t.layers[i].third, 20 + i);
        EXPECT_EQ(t.layers[i].fourth, 30 + i);
    }
    EXPECT_EQ(text(t.text6), L"six");
    EXPECT_EQ(text(t.text7), L"seven");
    EXPECT_EQ(t.firstRepeat, 9);
    EXPECT_EQ(t.secondRepeat, 0.75f);
    EXPECT_EQ(t.horizontalScale, 2.5f);
    EXPECT_EQ(t.verticalScale, 1.25f);
    EXPECT_EQ(t.lodDistance, 6.5f);
    EXPECT_EQ(t.lowestLod, 1);
    EXPECT_EQ(t.highestLod, 4);
    EXPECT_EQ(t.colourOps[0], 4u);
    EXPECT_EQ(t.colourOps[3], 10u);
    EXPECT_EQ(t.ambient[2], 0.4f);
    EXPECT_EQ(t.diffuse[3], 0.6f);
    EXPECT_EQ(t.barrierFlag, 1u);
    const SceneCamera& c = scene.camera;
    EXPECT_EQ(c.mode, 4u);
    EXPECT_EQ(c.targetHeight, 250.0f);
    EXPECT_EQ(c.currentHeight, 240.0f);
    EXPECT_EQ(c.position, vec3d(11.0f, 22.0f, -33.0f));
    EXPECT_EQ(c.turn, 45.0f);
    EXPECT_EQ(c.pitch, 60.0f);
    EXPECT_EQ(c.fogColour, Color(0x30, 0x20, 0x10, 0x40));
    EXPECT_EQ(c.fogAmount, 0.9f);
    EXPECT_EQ(text(scene.baseName()), folder + L"Quarry");
    EXPECT_EQ(text(scene.terrainLayer.mapFileName()), folder + L"Quarry.map");

    ASSERT_TRUE(scene.save(String((folder + L"Copy.tee").c_str())));
    EXPECT_EQ(read(folder + L"Copy.tee"), original);
    EXPECT_EQ(text(scene.fileName), folder + L"Copy.tee");
    // An empty name writes under the file name again.
    ASSERT_TRUE(scene.save(String(L"")));
    EXPECT_EQ(read(folder + L"Copy.tee"), original);
}

TEST(LevelFile, TheBarrierFlagIsSavedFromTheBarriers)
{
    // The terrain block ends with tag 21, its value and tag 0.
    auto savedFlag = [](const SceneTerrain& t) {
        FileArray out(256);
        t.write(out);
        uint32_t value = 0xDEAD;
        std::memcpy(&value, out.memory() + out.size() - 8, 4);
        return value;
    };
    Scene scene(String(L"Korvanta"), 3500.0f);
    SceneTerrain& t = scene.terrainLayer;
    t.barrierFlag = 1;
    EXPECT_EQ(savedFlag(t), 0u); // read, not built: no barriers to save
    t.buildBarriers(1);
    ASSERT_NE(t.barriers, nullptr);
    EXPECT_EQ(savedFlag(t), 1u);
    EntityManager::CollisionBody* first = t.barriers;
    t.buildBarriers(1);
    EXPECT_EQ(t.barriers, first); // never a second set
    EXPECT_EQ(t.barriers->geometries.count(), 4);
    t.buildBarriers(0);
    EXPECT_EQ(t.barriers, nullptr);
    EXPECT_EQ(savedFlag(t), 0u);

    // A loaded level with the flag has its barriers until the scene is cleared.
    const std::wstring folder = freshFolder(L"barriers");
    ASSERT_TRUE(write(folder + L"Quarry.tee", levelBytes(unusualLevel())));
    ASSERT_TRUE(scene.load(String((folder + L"Quarry.tee").c_str())));
    EXPECT_NE(t.barriers, nullptr);
    scene.clear();
    EXPECT_EQ(t.barriers, nullptr);
}

TEST(LevelFile, ALevelAfterAnotherKeepsNothingOfIt)
{
    const std::wstring folder = freshFolder(L"twolevels");
    ASSERT_TRUE(write(folder + L"A.tee", levelBytes(unusualLevel())));
    std::vector<uint8_t> b = versionOnly();
    putU32(b, 1);
    putU32(b, 1);
    b.push_back('B');
    putU32(b, 0);
    ASSERT_TRUE(write(folder + L"B.tee", b));

    Scene scene(String(L"Korvanta"), 3500.0f);
    ASSERT_TRUE(scene.load(String((folder + L"A.tee").c_str())));
    ASSERT_EQ(scene.camera.fogAmount, 0.9f);
    // A second load while loaded keeps the level it has.
    EXPECT_TRUE(scene.load(String((folder + L"B.tee").c_str())));
    EXPECT_EQ(text(scene.sceneName), L"Quarry");
    scene.clear();
    EXPECT_EQ(scene.loaded, 0u);
    EXPECT_EQ(text(scene.fileName), folder + L"A.tee");
    ASSERT_TRUE(scene.load(String((folder + L"B.tee").c_str())));
    EXPECT_EQ(text(scene.sceneName), L"B");
    EXPECT_EQ(scene.preview.size(), 0u);
    expectNewSceneValues(scene);
}

TEST(LevelFile, MissingOrEmptyNamesLoadNothing)
{
    Scene scene(String(L"Korvanta"), 3500.0f);
    EXPECT_FALSE(scene.load(String(L"")));
    EXPECT_FALSE(scene.load(String((freshFolder(L"missing") + L"None.tee").c_str())));
    EXPECT_EQ(scene.loaded, 0u);
    EXPECT_FALSE(scene.save(String(L"")));
}

TEST(LevelFile, TagsNameTheirFieldsInAnyOrder)
{
    // Unknown tags carry no field: the next word is read as a tag.
    std::vector<uint8_t> bytes = versionOnly();
    putU32(bytes, 42);
    putU32(bytes, 7);
    putF32(bytes, 0.75f);
    putU32(bytes, 6);
    putF32(bytes, 20.0f);
    putU32(bytes, 9); // camera block with an unknown tag inside
    putU32(bytes, 13);
    putU32(bytes, 7);
    putF32(bytes, 0.6f);
    putU32(bytes, 0);
    putU32(bytes, 0);
    Scene scene(String(L"Korvanta"), 3500.0f);
    FileArray stream;
    EXPECT_TRUE(scene.readLevel(streamOf(stream, bytes)));
    EXPECT_EQ(scene.season, 0.75f);
    EXPECT_EQ(scene.timeOfDay, 20.0f);
    EXPECT_EQ(scene.camera.fogAmount, 0.6f);
}

TEST(LevelFile, HeaderStopsAfterTheRaceSettings)
{
    const std::vector<uint8_t> bytes = levelBytes(unusualLevel());
    // Everything after tag 4's first field is garbage to the header reader.
    std::vector<uint8_t> head = versionOnly();
    putU32(head, 1);
    putU32(head, 4);
    for (char ch : std::string("Hill"))
        head.push_back(uint8_t(ch));
    putU32(head, 4);
    putU32(head, 1);
    putU32(head, 5);
    for (int i = 0; i < 64; ++i)
        head.push_back(uint8_t(0xA5 ^ i));

    const std::wstring folder = freshFolder(L"header");
    ASSERT_TRUE(write(folder + L"Hill.tee", head));
    ASSERT_TRUE(write(folder + L"Quarry.tee", bytes));
    Scene scene(String(L"Korvanta"), 3500.0f);
    EXPECT_EQ(text(scene.readHeader(String((folder + L"Hill.tee").c_str()))), L"Hill");
    EXPECT_EQ(scene.headerWord, 5);
    EXPECT_TRUE(DeleteFileW((folder + L"Hill.tee").c_str())) << "the reader closed it";

    // A whole level: the head only, race tag 2 and tags 5 to 9 unread.
    EXPECT_EQ(text(scene.readHeader(String((folder + L"Quarry.tee").c_str()))), L"Quarry");
    EXPECT_EQ(text(scene.description), L"Dust and rocks");
    EXPECT_EQ(scene.preview.size(), 9u);
    EXPECT_EQ(scene.headerWord, 3);
    EXPECT_TRUE(scene.game.referenceTime == RaceTime{}); // tag 2 unread
    EXPECT_EQ(scene.timeOfDay, 12.0f);
    EXPECT_EQ(scene.camera.fogAmount, 0.3f);
    EXPECT_EQ(scene.terrainLayer.horizontalScale, 3.0f);
}

// Values the build divides by, turns into integers or bounds: a level that
// holds one out of range keeps the default of that field and reads on.
TEST(LevelFile, OutOfRangeValuesKeepTheirDefaults)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    using Level = LevelFileWriter::Level;
    const std::vector<std::pair<std::function<void(Level&)>, std::function<void(const Scene&)>>> cases = {
        {[&](Level& l) { l.terrain.horizontalScale = 0.0f; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.horizontalScale, 3.0f); }},
        {[&](Level& l) { l.terrain.horizontalScale = nan; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.horizontalScale, 3.0f); }},
        {[&](Level& l) { l.terrain.verticalScale = -1.0f; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.verticalScale, 1.75f); }},
        {[&](Level& l) { l.terrain.verticalScale = inf; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.verticalScale, 1.75f); }},
        {[&](Level& l) { l.terrain.lodDistance = 0.0f; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.lodDistance, 4.0f); }},
        {[&](Level& l) { l.terrain.secondRepeat = 0.0f; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.secondRepeat, 0.4f); }},
        {[&](Level& l) { l.terrain.firstRepeat = 0; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.firstRepeat, 4); }},
        {[&](Level& l) { l.terrain.colourOps[1] = 0; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.colourOps[1], 4u); }},
        {[&](Level& l) { l.terrain.colourOps[2] = 99; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.colourOps[2], 4u); }},
        {[&](Level& l) { l.terrain.ambient[1] = nan; }, [](const Scene& s) { EXPECT_EQ(s.terrainLayer.ambient[0], 0.45f); }},
        {[&](Level& l) { l.timeOfDay = 30.0f; }, [](const Scene& s) { EXPECT_EQ(s.timeOfDay, 12.0f); }},
        {[&](Level& l) { l.timeOfDay = -1.0f; }, [](const Scene& s) { EXPECT_EQ(s.timeOfDay, 12.0f); }},
        {[&](Level& l) { l.timeOfDay = nan; }, [](const Scene& s) { EXPECT_EQ(s.timeOfDay, 12.0f); }},
        {[&](Level& l) { l.season = 2.0f; }, [](const Scene& s) { EXPECT_EQ(s.season, 0.5f); }},
        {[&](Level& l) { l.camera.fogAmount = 1.5f; }, [](const Scene& s) { EXPECT_EQ(s.camera.fogAmount, 0.3f); }},
        {[&](Level& l) { l.camera.targetHeight = 1000.0f; }, [](const Scene& s) { EXPECT_EQ(s.camera.targetHeight, 100.0f); }},
        {[&](Level& l) { l.camera.currentHeight = 1.0f; }, [](const Scene& s) { EXPECT_EQ(s.camera.currentHeight, 100.0f); }},
        {[&](Level& l) { l.camera.position[1] = inf; }, [](const Scene& s) { EXPECT_EQ(s.camera.position, vec3d()); }},
        {[&](Level& l) { l.camera.pitch = nan; }, [](const Scene& s) { EXPECT_EQ(s.camera.pitch, 75.0f); }},
        {[&](Level& l) { l.camera.mode = 7; }, [](const Scene& s) { EXPECT_EQ(s.camera.mode, 0u); }},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        Level level = unusualLevel();
        cases[i].first(level);
        Scene scene(String(L"Korvanta"), 3500.0f);
        FileArray stream;
        EXPECT_TRUE(scene.readLevel(streamOf(stream, levelBytes(level))));
        cases[i].second(scene);
        // The fields after the bad one are still read.
        EXPECT_EQ(scene.camera.fogColour, Color(0x30, 0x20, 0x10, 0x40));
    }
}

// Every float the build uses lies in its range, whatever the bytes.
void expectUsableValues(const Scene& scene)
{
    const SceneTerrain& t = scene.terrainLayer;
    for (float v : {t.horizontalScale, t.verticalScale, t.lodDistance, t.secondRepeat})
        EXPECT_TRUE(std::isfinite(v) && v > 0.0f);
    EXPECT_GT(t.firstRepeat, 0);
    EXPECT_TRUE(scene.timeOfDay >= 0.0f && scene.timeOfDay <= 24.0f);
    EXPECT_TRUE(scene.camera.fogAmount >= 0.0f && scene.camera.fogAmount <= 1.0f);
    EXPECT_TRUE(scene.camera.targetHeight >= 2.0f && scene.camera.targetHeight <= 600.0f);
}

TEST(LevelFile, DamagedFilesReadWhatTheyHold)
{
    const std::vector<uint8_t> whole = levelBytes(unusualLevel());
    // Cut at every byte: the fields before the cut are read, nothing after.
    for (size_t cut = 0; cut < whole.size(); ++cut) {
        Scene scene(String(L"Korvanta"), 3500.0f);
        FileArray stream;
        EXPECT_FALSE(scene.readLevel(streamOf(stream, std::vector<uint8_t>(whole.begin(), whole.begin() + cut))));
        expectUsableValues(scene);
        if (cut >= 18) {
            EXPECT_EQ(text(scene.sceneName), L"Quarry");
        }
        if (cut < whole.size() - 40) {
            EXPECT_EQ(scene.camera.fogAmount, 0.3f) << cut;
        }
    }
    // Random damage with a fixed seed.
    std::mt19937 random(21);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = whole;
        const int changes = 1 + int(random() % 8);
        for (int i = 0; i < changes; ++i)
            bytes[random() % bytes.size()] = uint8_t(random());
        Scene scene(String(L"Korvanta"), 3500.0f);
        FileArray stream;
        scene.readLevel(streamOf(stream, bytes));
        expectUsableValues(scene);
    }
}

TEST(LevelFile, SizesBeyondTheDataEndTheRead)
{
    const std::vector<std::vector<uint8_t>> bad = [] {
        std::vector<std::vector<uint8_t>> out;
        std::vector<uint8_t> preview = versionOnly();
        putU32(preview, 2);
        putU32(preview, 0xFFFFFFF0u);
        putU32(preview, 6);
        out.push_back(preview);
        std::vector<uint8_t> name = versionOnly();
        putU32(name, 1);
        putU32(name, 0x7FFFFFFFu);
        out.push_back(name);
        std::vector<uint8_t> layer = versionOnly();
        putU32(layer, 5);
        putU32(layer, 5);
        putU32(layer, 2);
        putU32(layer, 100000);
        out.push_back(layer);
        return out;
    }();
    for (const std::vector<uint8_t>& bytes : bad) {
        Scene scene(String(L"Korvanta"), 3500.0f);
        FileArray stream;
        EXPECT_FALSE(scene.readLevel(streamOf(stream, bytes)));
        EXPECT_EQ(scene.preview.size(), 0u);
        EXPECT_EQ(text(scene.sceneName), L"");
        EXPECT_EQ(scene.timeOfDay, 12.0f);
    }
}

// A side file the load did not read to its end, or could not open, is left
// as it was by a save over the level, whatever path names it: the level is
// loaded as "Track.tee" from its folder and saved by its full path, then by
// its name again. A file read whole is written anew by such a save, and
// under another name the level writes what it holds there, over what stood
// there (another map's files). Way files: cut after their first whole way,
// a way between two whose width is no number, a point count beyond the
// data, a segment of a million steps, a way count of 1 before two ways,
// none; meadow files: nine of the game's layers, 200 empty records (past
// what a level's grass may cost), cut in the middle, the layer count's tag
// changed (its value read as tags, the end tag met early); water and
// terrain files whole and cut, or with a byte after the terrain; the main
// file whole and with a byte after its end tag; object files without
// objects, with one whose package the game lacks, none.
TEST(LevelFile, SavesKeepFilesReadInPartAndWriteWhatTheLevelHolds)
{
    WayFileWriter::Way way(2);
    for (size_t i = 0; i < way.size(); ++i) {
        way[i].position[2] = 40.0f * float(i);
        way[i].width = 8.0f;
        way[i].stepsPerLength = 0.5f;
        way[i].name = String(L"SimpleWayBorderPaver1");
    }
    FileArray out(256);
    const auto wayFile = [&out](const std::vector<WayFileWriter::Way>& ways) {
        out.close();
        WayFileWriter::write(ways, out);
        return bytesOf(out);
    };
    std::vector<uint8_t> saysThree = wayFile({way}), saysOne = wayFile({way, way});
    saysThree[0] = 3;
    saysOne[0] = 1;
    WayFileWriter::Way noWidth = way, dense = way;
    noWidth[0].width = std::nanf("");
    dense[0].stepsPerLength = 1.0e4f;
    std::vector<uint8_t> tooManyPoints, emptyRecords = {'v', '1', '.', '0', 1};
    for (uint32_t v : {1, 5000, 7})
        putU32(tooManyPoints, v);
    putU32(emptyRecords, 200);
    emptyRecords.resize(emptyRecords.size() + 202, 0);
    emptyRecords[9] = 2;
    std::vector<MeadowFileWriter::Layer> nine;
    while (nine.size() < 9)
        nine.push_back(MeadowSamples::valley()[nine.size() % 2]);
    out.close();
    MeadowFileWriter::write(nine, out);
    const std::vector<uint8_t> nineLayers = bytesOf(out), cut(nineLayers.begin(), nineLayers.begin() + nineLayers.size() / 2);
    out.close();
    MeadowFileWriter::write(MeadowSamples::valley(), out);
    std::vector<uint8_t> countTagChanged = bytesOf(out);
    ASSERT_EQ(countTagChanged[4], 1);
    countTagChanged[4] = 0x55;
    out.close();
    WaterFileWriter::write(WaterSamples::valley(), out);
    const std::vector<uint8_t> water = bytesOf(out), waterCut(water.begin(), water.end() - 40);
    const std::vector<uint8_t> map = TerrainTestMaps::mapBytes(TerrainTestMaps::randomMap(128, 40));
    std::vector<uint8_t> mapAndMore = map;
    mapAndMore.push_back(0);
    const std::vector<uint8_t> level = levelBytes(LevelFileWriter::Level{});
    std::vector<uint8_t> levelAndMore = level;
    levelAndMore.push_back(5);
    const std::vector<uint8_t> noObjects = {'v', '1', '.', '0'};
    std::vector<uint8_t> unknownObject = noObjects;
    unknownObject.insert(unknownObject.end(), {1, 7, 0, 0, 0, 'N', 'o', 'w', 'h', 'e', 'r', 'e', 0});
    const struct
    {
        const wchar_t* extension;
        std::vector<uint8_t> bytes; // none: no file
        int held;                   // ways, layers, areas or terrains the level holds
        bool whole;
    } cases[] = {
        {L".way", saysThree, 1, false},        {L".way", wayFile({way, noWidth, way}), 1, false},
        {L".way", tooManyPoints, 0, false},    {L".way", wayFile({dense}), 0, false},
        {L".way", saysOne, 1, false},          {L".way", {}, 0, false},
        {L".way", wayFile({way, way}), 2, true}, {L".mdw", nineLayers, 9, true},
        {L".mdw", emptyRecords, 28, false},    {L".mdw", cut, 5, false},
        {L".mdw", countTagChanged, 0, false},  {L".wtr", water, 2, true},
        {L".wtr", waterCut, 2, false},         {L".map", map, 1, true},
        {L".map", mapAndMore, 1, false},       {L".tee", level, 1, true},
        {L".tee", levelAndMore, 1, false},     {L".obj", noObjects, 0, true},
        {L".obj", unknownObject, 0, false},    {L".obj", {}, 0, false},
    };
    const std::vector<uint8_t> marker = {7, 7, 7, 7};
    wchar_t here[MAX_PATH];
    ASSERT_GT(GetCurrentDirectoryW(MAX_PATH, here), 0u);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << &c - cases);
        const std::wstring ext = c.extension;
        const std::wstring folder = freshFolder(L"sidesaved");
        ASSERT_TRUE(write(folder + L"Track.tee", levelBytes(LevelFileWriter::Level{})));
        ASSERT_TRUE(c.bytes.empty() || write(folder + L"Track" + ext, c.bytes));
        for (const wchar_t* stale : {L"Copy.way", L"Copy.mdw", L"Copy.wtr", L"Copy.map", L"Copy.obj"})
            ASSERT_TRUE(write(folder + stale, {9, 9, 9, 9}));
        D3D::Device::SwapChain chain(nullptr);
        Scene scene(String(L"Korvanta"), 3500.0f);
        scene.swapChain = &chain;
        ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
        const bool loaded = scene.load(String(L"Track.tee"));
        ASSERT_TRUE(SetCurrentDirectoryW(here));
        ASSERT_TRUE(loaded);
        std::vector<const StaticEntity*> objects;
        StaticEntityManager::collectNode(chain.staticEntities->root, objects);
        const int held = ext == L".way"   ? gWayNetwork.ways.count()
                         : ext == L".mdw" ? chain.meadow->layers.count()
                         : ext == L".wtr" ? gWater.dormant.count() + gWater.live.count()
                         : ext == L".tee" ? int(scene.loaded)
                         : ext == L".obj" ? int(objects.size())
                                          : int(gTerrain.isLoaded());
        EXPECT_EQ(held, c.held);
        out.close();
        ext == L".way"   ? void(gWayNetwork.write(out))
        : ext == L".mdw" ? chain.meadow->write(out)
        : ext == L".wtr" ? gWater.write(out)
        : ext == L".tee" ? scene.writeLevel(out)
        : ext == L".obj" ? chain.staticEntities->save(out)
                         : void(gTerrain.write(out));
        const std::vector<uint8_t> holds = bytesOf(out);
        const std::wstring file = folder + L"Track" + ext;
        EXPECT_TRUE(scene.save(String((folder + L"Track.tee").c_str())));
        EXPECT_EQ(read(file), c.whole ? holds : c.bytes);
        // Changed on the disk since the load: written anew only when read whole.
        ASSERT_TRUE(write(file, marker));
        EXPECT_TRUE(scene.save(String(L"")));
        EXPECT_EQ(read(file), c.whole ? holds : marker);
        EXPECT_TRUE(scene.save(String((folder + L"Copy.tee").c_str())));
        EXPECT_EQ(read(folder + L"Copy" + ext), holds);
        scene.clear();
        scene.swapChain = nullptr;
    }
}

// The files of a level read in part (the main file with a byte after its
// end, the ways cut after their first) or not at all (every other side
// file) stay as they were, and no file comes beside them, when the level is
// saved by other spellings of its path: the long path's prefix, the drive
// that maps the system's root (under Wine), the folders' short names, a
// trailing dot.
TEST(LevelFile, KeptFilesAreKnownByWhatTheyAreHoweverThePathSpellsThem)
{
    const std::wstring folder = freshFolder(L"kept by what they are");
    const std::wstring path = folder + L"Track.tee";
    std::vector<uint8_t> level = levelBytes(LevelFileWriter::Level{});
    level.push_back(5);
    WayFileWriter::Way way(2);
    way[1].position[2] = 40.0f;
    FileArray out(256);
    WayFileWriter::write({way}, out);
    std::vector<uint8_t> ways = bytesOf(out);
    ways[0] = 3;
    ASSERT_TRUE(write(path, level));
    ASSERT_TRUE(write(folder + L"Track.way", ways));
    const auto names = [&folder] {
        std::vector<std::wstring> found;
        WIN32_FIND_DATAW entry;
        const HANDLE search = FindFirstFileW((folder + L"*").c_str(), &entry);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &entry))
            if (entry.cFileName[0] != L'.')
                found.push_back(entry.cFileName);
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
        std::sort(found.begin(), found.end());
        return found;
    };
    std::vector<std::wstring> spellings = {L"\\\\?\\" + path, path + L"."};
    wchar_t shortPath[MAX_PATH];
    const DWORD shortLength = GetShortPathNameW(path.c_str(), shortPath, MAX_PATH);
    ASSERT_TRUE(shortLength > 0 && shortLength < MAX_PATH);
    EXPECT_NE(std::wstring(shortPath), path);
    spellings.push_back(shortPath);
    using UnixName = char*(CDECL*)(const wchar_t*);
    if (const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")))) {
        char* name = unixName(path.c_str());
        ASSERT_NE(name, nullptr);
        std::wstring root = L"Z:";
        for (const char* c = name; *c; ++c)
            root += *c == '/' ? L'\\' : wchar_t(*c);
        HeapFree(GetProcessHeap(), 0, name);
        spellings.push_back(root);
    }

    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    ASSERT_TRUE(scene.load(String(path.c_str())));
    ASSERT_EQ(gWayNetwork.ways.count(), 1);
    for (const std::wstring& spelling : spellings) {
        SCOPED_TRACE(testing::Message() << std::string(spelling.begin(), spelling.end()));
        EXPECT_TRUE(scene.save(String(spelling.c_str())));
        EXPECT_EQ(names(), (std::vector<std::wstring>{L"Track.tee", L"Track.way"}));
        EXPECT_EQ(read(path), level);
        EXPECT_EQ(read(folder + L"Track.way"), ways);
    }
    scene.clear();
    scene.swapChain = nullptr;
}

TEST(Scene, TimeOfDayBecomesTheSunsClock)
{
    const std::vector<std::tuple<float, int, int>> cases = {
        {12.5f, 12, 30}, {23.99f, 23, 59}, {24.5f, 23, 30}, {0.0f, 0, 0}, {9.2f, 9, 11}, {-3.0f, 0, 0}};
    Scene scene(String(L"Korvanta"), 3500.0f);
    for (const auto& [time, hour, minute] : cases) {
        scene.timeOfDay = time;
        gTimer.second = 7;
        scene.applyTimeOfDay();
        EXPECT_EQ(gTimer.hour, hour) << time;
        EXPECT_EQ(gTimer.minute, minute) << time;
        EXPECT_EQ(gTimer.second, 0);
    }
}

}
