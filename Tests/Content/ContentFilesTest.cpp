// The builder's whole data set as files: two builds into fresh folders give
// the same bytes, the championship's maps are named and tagged by their
// countries, and the built-in text tables hold every key the game's
// objects, race and menus look up, in English and German.
#include "ContentFolders.h"

#include "MapGenerator.h"
#include "ObjectPackageSamples.h"
#include "ObjectSamples.h"
#include "TerrainSamples.h"
#include "WaySamples.h"

#include "Race/Game.h"

#include "Core/String.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <array>
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

// A build into a folder an earlier builder filled leaves exactly what a
// fresh build writes: the maps, side files and packages the builder no
// longer writes are gone; a folder of the player's own below stays.
TEST(ContentFiles, ABuildOverAnEarlierOneLeavesOnlyWhatItWrites)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"ContentBuildStale");
    for (const wchar_t* made : {L"Data", L"Data\\Map", L"Data\\Map\\Mine", L"Objects"})
        ASSERT_TRUE(CreateDirectoryW((folder + made).c_str(), nullptr));
    const std::vector<uint8_t> stale(64, 0x5A);
    for (const wchar_t* file : {L"Data\\Map\\XXOld.tee", L"Data\\Map\\XXOld.map", L"Data\\Map\\XXOld.obj",
                                L"Data\\Map\\Valley.tee", L"Objects\\Boulder.teo", L"Data\\Map\\Mine\\Mine.tee"})
        ASSERT_TRUE(AppTestFiles::write(folder + file, stale));
    ASSERT_EQ(runBuilder(folder), 0);
    std::vector<std::wstring> expected = dataFiles(freshBuild());
    expected.push_back(L"Data\\Map\\Mine\\Mine.tee");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dataFiles(folder), expected);
    EXPECT_TRUE(AppTestFiles::read(folder + L"Data\\Map\\Valley.tee") ==
                AppTestFiles::read(freshBuild() + L"Data\\Map\\Valley.tee"));
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
        // Off-road loops hold more gates, numbered from 1 without a gap.
        if (maps[m].courseType == 1) {
            EXPECT_GT(gates0.size(), 8u);
            EXPECT_LE(gates0.size(), size_t(MapGenerator::mostOffRoadGates));
        } else {
            EXPECT_EQ(gates0.size(), 8u);
        }
        EXPECT_EQ(*gates0.begin(), 1);
        EXPECT_EQ(*gates0.rbegin(), int(gates0.size()));
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

// The valley's trees, rocks and crates keep off its course road and the
// shortcut across it: a quad put back on the road beside one it was wedged
// against would be wedged again.
TEST(ContentFiles, TheValleysObjectsKeepOffItsRoads)
{
    const WaySamples::Ground flat = [](float, float) { return 50.0f; };
    const std::vector<WayFileWriter::Way> ways = WaySamples::valley(flat);
    ASSERT_FALSE(ways.empty());
    std::vector<WayFileWriter::Way> roads = {ways[0]};
    for (const WayFileWriter::Point& p : ways[0])
        roads.insert(roads.end(), p.branches.begin(), p.branches.end());
    ASSERT_EQ(roads.size(), 2u) << "the course and its shortcut";
    int standing = 0;
    for (const StaticObjectWriter::Object& o : ObjectSamples::valley(flat)) {
        const std::wstring package = o.package.text();
        if (package != L"Tree" && package != L"Rock" && package != L"Crate")
            continue;
        for (const WayFileWriter::Way& road : roads)
            EXPECT_GT(distanceToWay(road, o.position[0], o.position[2]), road[0].width)
                << std::string(package.begin(), package.end()) << " at " << o.position[0] << ", " << o.position[2];
        ++standing;
    }
    EXPECT_EQ(standing, 24);
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
        // Just before the first leg's end, off the joint of two road pieces.
        if (package == L"Start")
            EXPECT_NEAR(o.position[2], -710.0f, 0.5f);
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

namespace {

// The ground height of a generated map at world (x, z).
float groundOf(const MapGenerator::Map& map, float x, float z)
{
    return TerrainSamples::groundHeight(map.terrain, LevelFileWriter::Terrain(), x, z);
}

// The race objects of package name in a generated map.
std::vector<const StaticObjectWriter::Object*> objectsOf(const MapGenerator::Map& map, const wchar_t* name)
{
    std::vector<const StaticObjectWriter::Object*> found;
    for (const StaticObjectWriter::Object& o : map.objects)
        if (o.package.sameText(String::borrowed(name)))
            found.push_back(&o);
    return found;
}

}

// The course road of every kind is wide enough for a race of eight, and
// the ground lies level across it: at each step along the road the ground
// beside the middle, out to the road's edges, stands within a small step
// of the middle's height.
TEST(ContentFiles, CourseRoadsAreWideWithTheGroundLevelAcross)
{
    const std::vector<MapGenerator::Settings> maps = MapGenerator::championship();
    // The roughest floors (off-road), a race track and a rally course of
    // countries with high hills.
    for (size_t m : {size_t(0), size_t(13), size_t(18), size_t(22), size_t(26)}) {
        const MapGenerator::Map map = MapGenerator::generate(maps[m]);
        SCOPED_TRACE(m);
        ASSERT_EQ(map.ways.size(), 1u);
        const WayFileWriter::Way& road = map.ways[0];
        for (const WayFileWriter::Point& p : road)
            EXPECT_EQ(p.width, MapGenerator::wayWidth(maps[m].courseType));
        float worst = 0.0f;
        for (size_t i = 1; i < road.size(); ++i) {
            const float ax = road[i - 1].position[0], az = road[i - 1].position[2];
            const float dx = road[i].position[0] - ax, dz = road[i].position[2] - az;
            const float length = std::hypot(dx, dz);
            for (float s = 0.0f; s < length; s += 20.0f) {
                const float x = ax + dx * s / length, z = az + dz * s / length;
                const float middle = groundOf(map, x, z);
                for (float side = -0.5f; side <= 0.5f; side += 0.125f) {
                    const float off = side * MapGenerator::courseWidth;
                    worst = std::max(worst, std::fabs(groundOf(map, x + dz / length * off, z - dx / length * off) -
                                                      middle));
                }
            }
        }
        EXPECT_LT(worst, 0.3f) << "the ground across the road rises or falls";
    }
}

// An off-road race drives straight from gate to gate: on every off-road
// map the line from each grid slot to the first gate, from each gate to the
// next and from the last back to the first keeps on the road, with room
// for a quad to its edge.
TEST(ContentFiles, OffRoadGateLinesKeepOnTheRoad)
{
    const std::vector<MapGenerator::Settings> maps = MapGenerator::championship();
    for (size_t m = 0; m < maps.size(); m += 3) {
        ASSERT_EQ(maps[m].courseType, 1);
        const MapGenerator::Map map = MapGenerator::generate(maps[m]);
        SCOPED_TRACE(m);
        std::map<int, std::pair<float, float>> gates;
        for (const StaticObjectWriter::Object* o : objectsOf(map, L"Gate"))
            if (o->flag == 0)
                gates[o->state] = {o->position[0], o->position[2]};
        ASSERT_GT(gates.size(), 8u);
        std::vector<std::pair<std::pair<float, float>, std::pair<float, float>>> lines;
        for (const StaticObjectWriter::Object* o : objectsOf(map, L"PlayerSlot"))
            lines.push_back({{o->position[0], o->position[2]}, gates.begin()->second});
        for (auto g = gates.begin(); g != gates.end(); ++g) {
            auto next = std::next(g);
            lines.push_back({g->second, next == gates.end() ? gates.begin()->second : next->second});
        }
        const WayFileWriter::Way& road = map.ways[0];
        float worst = 0.0f;
        for (const auto& [from, to] : lines) {
            const float length = std::hypot(to.first - from.first, to.second - from.second);
            EXPECT_LT(length, 450.0f);
            for (float s = 0.0f; s <= length; s += 5.0f) {
                const float t = length > 0.0f ? s / length : 0.0f;
                worst = std::max(worst, distanceToWay(road, from.first + (to.first - from.first) * t,
                                                      from.second + (to.second - from.second) * t));
            }
        }
        EXPECT_LT(worst, MapGenerator::courseWidth * 0.5f - 4.0f);
    }
}

namespace {

// The triangles of a package's meshes in the package's own units: each
// mesh's record placed at its position and scale.
std::vector<std::array<vec3d, 3>> trianglesOf(const ObjectPackageWriter::Package& package)
{
    std::vector<std::array<vec3d, 3>> triangles;
    for (const PackagePartWriter::Mesh& mesh : package.meshes) {
        const MeshWriter::Record& r = mesh.body;
        for (size_t i = 0; i + 2 < r.indices.size(); i += 3) {
            std::array<vec3d, 3> t;
            for (int k = 0; k < 3; ++k)
                t[k] = mesh.position + r.positions[r.indices[i + k]] * mesh.scale;
            triangles.push_back(t);
        }
    }
    return triangles;
}

}

// The gate and the Start and Goal arches, as the builder writes them: no
// triangle stands in the passage between their posts and below their bar
// (what a quad or an opponent's path tests meet there), while the posts and
// the bar are solid; their box, which the race takes as the passage, spans
// a course road of the generated maps at the scale the maps place them.
TEST(ContentFiles, GatesAndArchesLeaveTheirPassageFree)
{
    std::map<std::wstring, ObjectPackageWriter::Package> packages;
    for (const auto& [file, package] : ObjectPackageSamples::all())
        packages[file] = package;
    float gateScale = 0.0f;
    for (const StaticObjectWriter::Object* o :
         objectsOf(MapGenerator::generate(MapGenerator::championship()[1]), L"Gate"))
        gateScale = o->scale;
    const struct
    {
        const wchar_t* file;
        float scale;       // as the maps place it
        float passageHalf; // across, from the middle
        float passageTop;
    } rows[] = {
        {L"Gate.teo", gateScale, 1.5f, 3.5f},
        {L"Start.teo", 1.0f, ObjectPackageSamples::archWidth * 0.5f - 1.0f, ObjectPackageSamples::archHeight - 1.1f},
        {L"Goal.teo", 1.0f, ObjectPackageSamples::archWidth * 0.5f - 1.0f, ObjectPackageSamples::archHeight - 1.1f},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::wstring(row.file).size());
        ASSERT_EQ(packages.count(row.file), 1u);
        const std::vector<std::array<vec3d, 3>> triangles = trianglesOf(packages[row.file]);
        vec3d low(1e30f, 1e30f, 1e30f), high(-1e30f, -1e30f, -1e30f);
        int inPassage = 0, posts = 0, bar = 0;
        for (const auto& t : triangles) {
            vec3d a = t[0], b = t[0];
            for (const vec3d& p : t)
                for (int k = 0; k < 3; ++k) {
                    a[k] = std::min(a[k], p[k]);
                    b[k] = std::max(b[k], p[k]);
                    low[k] = std::min(low[k], p[k]);
                    high[k] = std::max(high[k], p[k]);
                }
            // The triangle's box against the passage's (all of it along z).
            inPassage += a.x < row.passageHalf && b.x > -row.passageHalf && a.y < row.passageTop;
            posts += a.y < row.passageTop && std::fabs(a.x) >= row.passageHalf && std::fabs(b.x) >= row.passageHalf;
            bar += a.y >= row.passageTop && a.x <= -row.passageHalf && b.x >= row.passageHalf;
        }
        EXPECT_EQ(inPassage, 0);
        EXPECT_GE(posts, 16) << "two posts";
        EXPECT_GE(bar, 2) << "a bar across";
        EXPECT_GE((high.x - low.x) * 0.5f * row.scale, MapGenerator::courseWidth * 0.5f) << "spans the road";
        EXPECT_GE(high.y - low.y, 3.0f);
    }
}
