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
            if (package == L"Camera")
                cameras.insert(o.state);
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
