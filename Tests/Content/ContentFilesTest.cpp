// The builder's whole data set as files: two builds into fresh folders give
// the same bytes, the championship's maps are named and tagged by their
// countries, and the built-in text tables hold every key the game's
// objects, race and menus look up, in English and German.
#include "ContentFolders.h"

#include "MapGenerator.h"

#include "Race/Game.h"

#include "Core/String.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace ContentFolders;

// Every file under folder (relative names, sub-folders first-level and deeper).
void listFiles(const std::wstring& folder, const std::wstring& prefix, std::vector<std::wstring>& out)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + prefix + L"*").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            listFiles(folder, prefix + name + L"\\", out);
        else
            out.push_back(prefix + name);
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

// A data set built by this test program into a fresh folder, once: the
// build's own folder may hold files an earlier builder wrote.
const std::wstring& freshBuild()
{
    static const std::wstring folder = [] {
        const std::wstring made = AppTestFiles::freshFolder(L"ContentBuildA");
        EXPECT_EQ(runBuilder(made), 0);
        return made;
    }();
    return folder;
}

std::vector<std::wstring> dataFiles(const std::wstring& root)
{
    std::vector<std::wstring> files;
    listFiles(root, L"Data\\", files);
    listFiles(root, L"Objects\\", files);
    std::sort(files.begin(), files.end());
    return files;
}

}

// The builder run twice into two fresh folders: the same files with the
// same bytes, each also in the build's own data folder.
TEST(ContentFiles, TwoBuildsAreByteIdentical)
{
    const std::wstring& first = freshBuild();
    const std::wstring second = AppTestFiles::freshFolder(L"ContentBuildB");
    ASSERT_EQ(runBuilder(second), 0);
    const std::vector<std::wstring> files = dataFiles(first);
    ASSERT_EQ(files, dataFiles(second));
    const std::vector<std::wstring> installed = dataFiles(installFolder());
    for (const std::wstring& file : files)
        EXPECT_TRUE(std::binary_search(installed.begin(), installed.end(), file));
    ASSERT_GT(files.size(), 39u * 6u);
    for (const std::wstring& file : files) {
        SCOPED_TRACE(std::string(file.begin(), file.end()));
        const std::vector<uint8_t> bytes = AppTestFiles::read(first + file);
        EXPECT_FALSE(bytes.empty());
        EXPECT_TRUE(bytes == AppTestFiles::read(second + file));
    }
}

// For every country of the country table and each of the seven races of
// its championship, the championship's choice names a map of the race's
// course type whose name starts with the country's code and whose tag 3 is
// that code.
TEST(ContentFiles, EveryChampionshipRaceFindsItsMap)
{
    const String maps((freshBuild() + L"Data\\Map\\").c_str());
    for (const wchar_t* code : countryCodes) {
        SCOPED_TRACE(std::string(code, code + 2));
        std::set<std::wstring> used;
        for (uint8_t race = 0; race < Game::championshipRaces; ++race) {
            SCOPED_TRACE(race);
            Game::ChampionshipEntry entry;
            entry.key0 = int8_t(code[0]);
            entry.key1 = int8_t(code[1]);
            entry.raceNumber = race;
            RaceChoice choice;
            Game::makeChampionshipChoice(entry, choice, maps);
            const std::wstring path = choice.mapFile.text();
            ASSERT_FALSE(path.empty());
            const MapHead head = readHead(path);
            EXPECT_EQ(head.courseType, choice.courseType);
            EXPECT_EQ(head.name.substr(0, 3), std::wstring(code) + L" ");
            EXPECT_EQ(head.code, code);
            used.insert(path);
        }
        EXPECT_EQ(used.size(), 3u) << "a map of each course type";
    }
}

// The map folder: 13 championship maps of each course type, each country
// with one of each, and the solo valley with no country.
TEST(ContentFiles, TheMapFolderHoldsThirteenCountriesOfThreeMaps)
{
    std::map<std::wstring, std::set<int32_t>> countries;
    int32_t kinds[4] = {};
    int32_t solo = 0;
    std::vector<std::wstring> files;
    listFiles(freshBuild(), L"Data\\Map\\", files);
    for (const std::wstring& file : files) {
        if (file.size() < 4 || file.substr(file.size() - 4) != L".tee")
            continue;
        const MapHead head = readHead(freshBuild() + file);
        ASSERT_GE(head.courseType, 1);
        ASSERT_LE(head.courseType, 3);
        if (head.code.empty()) {
            ++solo;
            continue;
        }
        ++kinds[head.courseType];
        EXPECT_TRUE(countries[head.code].insert(head.courseType).second) << "one map of a kind per country";
    }
    EXPECT_EQ(solo, 1) << "the valley";
    EXPECT_EQ(countries.size(), std::size(countryCodes));
    for (const wchar_t* code : countryCodes)
        EXPECT_EQ(countries[code].size(), 3u);
    for (int kind = 1; kind <= 3; ++kind)
        EXPECT_EQ(kinds[kind], 13) << kind;
}

// Every text key that the objects, the race and the menus look up has a
// text in the English and in the German built-in table.
TEST(ContentFiles, EveryTextKeyHasAnEnglishAndAGermanText)
{
    const std::map<std::wstring, std::wstring> english = textTable(141), german = textTable(159);
    ASSERT_FALSE(english.empty());
    ASSERT_FALSE(german.empty());
    for (const wchar_t* key : textKeys) {
        SCOPED_TRACE(std::string(key, key + wcslen(key)));
        const auto e = english.find(key), g = german.find(key);
        ASSERT_NE(e, english.end());
        ASSERT_NE(g, german.end());
        EXPECT_FALSE(e->second.empty());
        EXPECT_FALSE(g->second.empty());
    }
}

// The generator's maps on paper: their race objects as the race asks for
// them, in numbers below the gate table's 32.
TEST(ContentFiles, GeneratedMapsHoldWhatTheirRacesNeed)
{
    const std::vector<MapGenerator::Settings> maps = MapGenerator::championship();
    ASSERT_EQ(maps.size(), 39u);
    std::set<std::wstring> names, bases;
    for (const MapGenerator::Settings& settings : maps) {
        names.insert(settings.name.text());
        bases.insert(settings.base.text());
    }
    EXPECT_EQ(names.size(), 39u);
    EXPECT_EQ(bases.size(), 39u);
    for (size_t m = 0; m < maps.size(); m += 7) {
        const MapGenerator::Map map = MapGenerator::generate(maps[m]);
        SCOPED_TRACE(std::wstring(maps[m].name.text()).size());
        std::map<std::wstring, int> counts;
        std::set<int> slots, parking, gates0, gates1, cameras;
        for (const StaticObjectWriter::Object& o : map.objects) {
            const std::wstring package = o.package.text();
            ++counts[package];
            if (package == L"PlayerSlot")
                slots.insert(o.flag);
            if (package == L"PlayerParkingSlot")
                parking.insert(o.flag);
            if (package == L"Gate") {
                EXPECT_LT(o.state, 32);
                (o.flag == 0 ? gates0 : gates1).insert(o.state);
            }
            if (package == L"Camera") {
                cameras.insert(o.state);
                // Each view looks a little down: a tilt of 90 - flag degrees.
                EXPECT_GE(o.flag, 70);
                EXPECT_LT(o.flag, 90);
            }
        }
        EXPECT_EQ(slots, (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7}));
        EXPECT_EQ(parking.size(), 7u);
        EXPECT_EQ(gates0.size(), 8u);
        EXPECT_EQ(gates1.size(), 3u);
        EXPECT_EQ(cameras.size(), 18u);
        for (const wchar_t* one : {L"Start", L"Goal", L"Podium", L"CaptureFlag", L"Bonfire"})
            EXPECT_EQ(counts[one], 1);
        for (const wchar_t* item : {L"Nitro", L"Oil", L"RepairKit", L"RocketPack"})
            EXPECT_EQ(counts[item], 2);
        for (const wchar_t* plant : {L"Tree", L"GrownTree", L"Bush"})
            EXPECT_GT(counts[plant], 15);
        EXPECT_EQ(map.ways.size(), 1u);
        EXPECT_EQ(map.water.size(), 1u);
        EXPECT_GT(map.courseLength, 3000.0f);
        EXPECT_EQ(map.level.description.text(), std::wstring(maps[m].code.text()));
    }
}

namespace {

// The distance from (x, z) to the nearest segment of a way's points.
float distanceToWay(const WayFileWriter::Way& way, float x, float z)
{
    float best = 1e30f;
    for (size_t i = 1; i < way.size(); ++i) {
        const float ax = way[i - 1].position[0], az = way[i - 1].position[2];
        const float bx = way[i].position[0] - ax, bz = way[i].position[2] - az;
        const float lengthSq = bx * bx + bz * bz;
        const float t = lengthSq > 0.0f ? std::clamp(((x - ax) * bx + (z - az) * bz) / lengthSq, 0.0f, 1.0f) : 0.0f;
        best = std::min(best, std::hypot(x - ax - bx * t, z - az - bz * t));
    }
    return best;
}

}

// Trees and bushes keep off the course road; the road runs on the rolling
// floor, below the hills beyond it.
TEST(ContentFiles, PlantsKeepOffTheRoadWhichRunsBelowTheHills)
{
    const std::vector<MapGenerator::Settings> maps = MapGenerator::championship();
    for (size_t m : {size_t(1), size_t(20), size_t(35)}) {
        const MapGenerator::Map map = MapGenerator::generate(maps[m]);
        SCOPED_TRACE(m);
        ASSERT_EQ(map.ways.size(), 1u);
        const WayFileWriter::Way& road = map.ways[0];
        int plants = 0;
        for (const StaticObjectWriter::Object& o : map.objects) {
            const std::wstring package = o.package.text();
            if (package != L"Tree" && package != L"GrownTree" && package != L"Bush")
                continue;
            EXPECT_GT(distanceToWay(road, o.position[0], o.position[2]), road[0].width) << plants;
            ++plants;
        }
        EXPECT_GT(plants, 60);
        float lowest = 1e30f, highest = -1e30f;
        for (const WayFileWriter::Point& p : road) {
            lowest = std::min(lowest, p.position[1]);
            highest = std::max(highest, p.position[1]);
        }
        // The floor rises and falls by its rolling (at most 9 height units, 1.75 world units each).
        EXPECT_LT(highest - lowest, 2.0f * 9.0f * 1.75f + 2.0f);
    }
}

// A course of given corners (an open sprint on flat ground with hills far
// off): its road follows the corners, the floor stays level along it, the
// grid stands on its first leg behind the Start and the Goal near its end.
TEST(ContentFiles, AGivenSprintKeepsItsCornersAndALevelFloor)
{
    MapGenerator::Settings sprint;
    sprint.name = String(L"Sprint");
    sprint.courseType = 2;
    sprint.course = {{0.0f, -900.0f}, {0.0f, -700.0f}, {0.0f, -200.0f}, {0.0f, 300.0f}, {0.0f, 800.0f}};
    sprint.closed = false;
    sprint.rolling = 0.0f;
    sprint.hills = 100.0f;
    sprint.lake = false;
    const MapGenerator::Map map = MapGenerator::generate(sprint);
    ASSERT_EQ(map.ways.size(), 1u);
    ASSERT_EQ(map.ways[0].size(), sprint.course.size());
    for (size_t i = 0; i < sprint.course.size(); ++i) {
        EXPECT_EQ(map.ways[0][i].position[0], sprint.course[i].first);
        EXPECT_EQ(map.ways[0][i].position[2], sprint.course[i].second);
        EXPECT_NEAR(map.ways[0][i].position[1], map.ways[0][0].position[1], 0.5f) << i;
    }
    EXPECT_NEAR(map.courseLength, 1700.0f, 0.5f);
    EXPECT_TRUE(map.water.empty());
    for (const StaticObjectWriter::Object& o : map.objects) {
        const std::wstring package = o.package.text();
        if (package == L"Start")
            EXPECT_NEAR(o.position[2], -700.0f, 0.5f);
        if (package == L"Goal")
            EXPECT_NEAR(o.position[2], 780.0f, 0.5f);
        if (package == L"PlayerSlot") {
            EXPECT_LT(o.position[2], -700.0f);
            EXPECT_GT(o.position[2], -900.0f);
            EXPECT_NEAR(std::fabs(o.position[0]), 3.5f, 0.01f);
        }
        if (package == L"Gate")
            EXPECT_NEAR(o.position[0], 0.0f, 0.01f);
    }
}
