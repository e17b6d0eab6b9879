#include "RaceTestSupport.h"

#include "../Application/AppTestFiles.h"

#include "Application/GlobalSettings.h"

#include "LevelFileWriter.h"
#include "ProgressWriter.h"
#include "RaceSamples.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

using namespace RaceTest;

struct SaveCounter : Game::Interface
{
    String getSettingNameGame() override { return String(L"Tester"); }
    Color getSettingCharGame() override { return Color(); }
    void saveSettings() override { ++saves; }
    int saves = 0;
};

Game::ChampionshipEntry entryOf(const ProgressWriter::Record& r)
{
    Game::ChampionshipEntry e;
    e.key0 = int8_t(r.key[0]);
    e.key1 = int8_t(r.key[1]);
    e.difficulty = r.difficulty;
    e.unlocked = r.unlocked;
    e.raceNumber = r.raceNumber;
    std::memcpy(e.points, r.points, 8);
    return e;
}

int freeRecords(const Game& game)
{
    int count = 0;
    for (const Game::ChampionshipEntry& e : game.championshipTable)
        count += e.key0 == 0 && e.key1 == 0;
    return count;
}

TEST(Championship, PointsNeededPointsAndTheWorstPlaceThatQualifies)
{
    const int32_t places[] = {16, 11, 7, 4, 2, 1, 0, 0};
    for (int32_t i = -1; i < 8; ++i)
        EXPECT_EQ(Game::getPointsForPlace(i), i < 0 ? 0 : places[i]);
    struct Case
    {
        int32_t difficulty;
        int32_t raceNumber;
        uint8_t points;
        int32_t needed;
        int32_t minPlace;
    };
    const Case cases[] = {
        {0, 2, 11, 11, -1}, {0, 2, 10, 11, 6}, {2, 6, 0, 95, 1}, {1, 3, 25, 32, 3},
        {1, 0, 0, 4, 4},    {2, 1, 0, 15, 1},  {1, 6, 64, 65, 6}, {0, 0, 0, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.raceNumber);
        Game game(nullptr, nullptr);
        game.choice.difficulty = c.difficulty;
        game.choice.championshipKey[0] = 'D';
        game.choice.championshipKey[1] = 'E';
        Game::ChampionshipEntry* entry = game.findChampionshipEntry('D', 'E');
        ASSERT_NE(entry, nullptr);
        entry->raceNumber = uint8_t(c.raceNumber);
        entry->points[0] = c.points;
        entry->points[1] = 200; // the opponents' points play no part
        EXPECT_EQ(game.getNeededPoints(c.raceNumber), c.needed);
        EXPECT_EQ(game.getMinPlace(), c.minPlace);
    }
    Game game(nullptr, nullptr);
    game.choice.difficulty = 2;
    EXPECT_EQ(game.getNeededPoints(7), 0);
    EXPECT_EQ(game.getNeededPoints(-1), 0);
    EXPECT_EQ(game.getMinPlace(), 3); // no record: race 0 on Hard needs 7
    game.choice.difficulty = 3;
    EXPECT_EQ(game.getNeededPoints(3), 0);
}

TEST(Championship, AdvanceUnlocksOnlyAtTheHighestDifficultyAndSaves)
{
    struct Case
    {
        uint8_t difficulty, unlocked, raceNumber;
        uint8_t nextUnlocked, nextRace;
        bool pointsKept;
    };
    const Case cases[] = {
        {1, 1, 3, 1, 4, true}, {1, 1, 6, 2, 0, false}, {0, 1, 6, 1, 0, false},
        {2, 2, 6, 2, 0, false}, {0, 0, 5, 0, 6, true},
    };
    for (const Case& c : cases) {
        SaveCounter application;
        Game game(nullptr, &application);
        game.choice.championshipKey[0] = 'F';
        game.choice.championshipKey[1] = 'R';
        Game::ChampionshipEntry& e = *game.findChampionshipEntry('F', 'R');
        e.difficulty = c.difficulty;
        e.unlocked = c.unlocked;
        e.raceNumber = c.raceNumber;
        e.points[0] = 40;
        e.points[7] = 3;
        game.advanceChampionship();
        EXPECT_EQ(e.unlocked, c.nextUnlocked);
        EXPECT_EQ(e.raceNumber, c.nextRace);
        EXPECT_EQ(e.points[0], c.pointsKept ? 40 : 0);
        EXPECT_EQ(e.points[7], c.pointsKept ? 3 : 0);
        EXPECT_EQ(e.difficulty, c.difficulty);
        EXPECT_EQ(application.saves, 1);
        // The game over starts it again, keeping what was won, and saves.
        e.points[0] = 9;
        game.restartChampionship();
        EXPECT_EQ(e.unlocked, c.nextUnlocked);
        EXPECT_EQ(e.raceNumber, 0);
        EXPECT_EQ(e.points[0], 0);
        EXPECT_EQ(application.saves, 2);
    }
    SaveCounter application;
    Game game(nullptr, &application);
    game.advanceChampionship(); // not a championship race: nothing, no save
    game.restartChampionship();
    EXPECT_EQ(application.saves, 0);
}

TEST(Championship, KeysClaimRecordsOnlyWhenFoundForTheMenu)
{
    Game game(nullptr, nullptr);
    EXPECT_EQ(game.findChampionshipEntry(0, 0), nullptr);
    game.choice.championshipKey[0] = 'A';
    game.choice.championshipKey[1] = 'A';
    EXPECT_EQ(game.getChampionshipEntry(), nullptr);
    EXPECT_EQ(freeRecords(game), 32); // a lookup claims nothing
    Game::ChampionshipEntry* first = nullptr;
    for (int i = 0; i < 32; ++i) {
        Game::ChampionshipEntry* e = game.findChampionshipEntry('A', int8_t('A' + i));
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->key1, int8_t('A' + i));
        EXPECT_EQ(e->points[0], 0);
        if (i == 0)
            first = e;
    }
    EXPECT_EQ(game.findChampionshipEntry('Z', 'Z'), nullptr); // a 33rd key
    EXPECT_EQ(game.findChampionshipEntry('A', 'A'), first);
    EXPECT_EQ(game.getChampionshipEntry(), first);
    // A record freed in the middle is claimed anew, cleared.
    game.championshipTable[5] = Game::ChampionshipEntry{};
    game.championshipTable[5].points[3] = 9;
    Game::ChampionshipEntry* claimed = game.findChampionshipEntry(-61, 'x');
    EXPECT_EQ(claimed, &game.championshipTable[5]);
    EXPECT_EQ(claimed->points[3], 0);
    game.choice.championshipKey[0] = 0;
    game.choice.championshipKey[1] = 0;
    EXPECT_EQ(game.getChampionshipEntry(), nullptr);
}

// The settings file's tag 10 as the builder writes it, after the head.
std::vector<uint8_t> settingsWith(const std::vector<ProgressWriter::Record>& table)
{
    FileArray out(1024);
    out.write("v1.0", 4);
    out.writeTag(10);
    ProgressWriter::writeTable(table, out);
    out.writeTag(0);
    return bytesOf(out);
}

TEST(Championship, TheBuildersTableReadsBackAndSurvivesASettingsSaveAndLoad)
{
    const std::vector<ProgressWriter::Record> sample = RaceSamples::progressTable();
    FileArray stream;
    streamOf(stream, settingsWith(sample));
    stream.seek(8, 0);
    for (int i = 0; i < Game::championshipCount; ++i) {
        Game::ChampionshipEntry e;
        e.points[2] = 77;
        ASSERT_TRUE(Game::readSettings(stream, e));
        const Game::ChampionshipEntry expected = size_t(i) < sample.size() ? entryOf(sample[size_t(i)]) : Game::ChampionshipEntry{};
        EXPECT_TRUE(e == expected) << i;
    }

    const std::wstring folder = AppTestFiles::freshFolder(L"championship");
    GlobalSettings written(String(folder.c_str()));
    ASSERT_TRUE(written.readFrom(streamOf(stream, settingsWith(sample))));
    Game game(nullptr, nullptr);
    game.readSettings(written);
    game.findChampionshipEntry('N', 'L')->raceNumber = 2;
    game.writeSettings(written);
    ASSERT_TRUE(written.writeFile());

    GlobalSettings read(String(folder.c_str()));
    ASSERT_EQ(read.load(), GlobalSettings::LoadResult::Read);
    Game again(nullptr, nullptr);
    again.readSettings(read);
    for (int i = 0; i < Game::championshipCount; ++i)
        EXPECT_TRUE(again.championshipTable[i] == game.championshipTable[i]) << i;
    EXPECT_EQ(again.championshipTable[3].key0, 'N');
    EXPECT_EQ(again.championshipTable[3].raceNumber, 2);
    EXPECT_EQ(again.championshipTable[0].points[0], 34);

    // The game's writer gives the builder's bytes.
    FileArray gameBytes(1024), builderBytes(1024);
    Game::writeSettings(gameBytes, game.championshipTable[0]);
    ProgressWriter::writeRecord(sample[0], builderBytes);
    EXPECT_EQ(bytesOf(gameBytes), bytesOf(builderBytes));
}

// Out-of-range values (a damaged file or one made elsewhere) are kept in
// range whichever way the records arrive; unknown tags carry no field.
TEST(Championship, DamagedRecordsKeepTheirValuesInRange)
{
    std::vector<ProgressWriter::Record> table = {{{'D', 'E'}, 7, 9, 200, {1, 2, 3, 4, 5, 6, 7, 8}}};
    GlobalSettings settings;
    FileArray stream;
    ASSERT_TRUE(settings.readFrom(streamOf(stream, settingsWith(table))));
    Game game(nullptr, nullptr);
    game.readSettings(settings);
    const Game::ChampionshipEntry& e = game.championshipTable[0];
    EXPECT_EQ(e.difficulty, 2);
    EXPECT_EQ(e.unlocked, 2);
    EXPECT_EQ(e.raceNumber, 6);
    EXPECT_EQ(e.points[7], 8);

    std::vector<uint8_t> bytes = {9, 0, 0, 0, 4, 0, 0, 0, 250, 12, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0, 0};
    Game::ChampionshipEntry read;
    EXPECT_TRUE(Game::readSettings(streamOf(stream, bytes), read));
    EXPECT_EQ(read.raceNumber, 6);
    EXPECT_EQ(read.difficulty, 1);

    // Cut at every byte and mutated: no overrun, values in range, a cut
    // inside a field reported.
    const std::vector<uint8_t> whole = settingsWith(RaceSamples::progressTable());
    std::mt19937 random(7);
    for (size_t round = 0; round < whole.size() + 300; ++round) {
        std::vector<uint8_t> damaged(whole.begin() + 8, whole.end() - 4);
        if (round < damaged.size()) {
            damaged.resize(round);
        } else {
            for (int flips = 1 + int(random() % 6); flips > 0; --flips)
                damaged[random() % damaged.size()] = uint8_t(random());
        }
        streamOf(stream, damaged);
        for (int i = 0; i < Game::championshipCount; ++i) {
            Game::ChampionshipEntry r;
            Game::readSettings(stream, r);
            ASSERT_LE(r.difficulty, 2);
            ASSERT_LE(r.unlocked, 2);
            ASSERT_LE(r.raceNumber, 6);
        }
    }
    streamOf(stream, std::vector<uint8_t>{1, 0, 0, 0, 'D'});
    EXPECT_FALSE(Game::readSettings(stream, read));
}

TEST(Championship, ChoiceOfEachRaceAndItsMap)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"maps");
    auto level = [&](const wchar_t* file, const wchar_t* name, int32_t courseType) {
        LevelFileWriter::Level l;
        l.name = String(name);
        l.preview = {0x89, 'P', 'N', 'G', 2, 0, 0, 0, 4, 0, 0, 0}; // words the head reader must pass over
        l.courseType = courseType;
        ASSERT_TRUE(LevelFileWriter::save(l, String((folder + file).c_str())));
    };
    level(L"Wald.tee", L"DE Wald", 1);
    level(L"Berg.tee", L"DE Berg", 2);
    level(L"See.TEE", L"DE See", 3);
    level(L"Col.tee", L"FR Col", 1);
    level(L"Lower.tee", L"de Klein", 2);
    level(L"Berg.bak", L"DE Alt", 2);
    AppTestFiles::write(folder + L"Cut.tee", {'v', '1', '.', '0', 1, 0, 0, 0, 200});
    const String maps(folder.c_str());
    const String wald((folder + L"Wald.tee").c_str()), berg((folder + L"Berg.tee").c_str()),
        see((folder + L"See.TEE").c_str());

    struct Race
    {
        int32_t courseType, mode, vehicles, goal, daytime, items;
        const String* map;
    };
    const Race races[7] = {
        {2, Game::KnockOut, 6, 6, 0, 1, &berg},     {1, Game::OffRoadRace, 6, 4, 1, 0, &wald},
        {3, Game::TimeTrial, 1, 1, 0, 0, &see},      {1, Game::Jamboree, 6, 5, 2, 1, &wald},
        {2, Game::TimeTrial, 1, 3, 0, 0, &berg},     {1, Game::CaptureTheFlag, 6, 250, 1, 1, &wald},
        {2, Game::Circuit, 6, 4, 0, 0, &berg},
    };
    for (uint8_t n = 0; n < 7; ++n) {
        SCOPED_TRACE(int(n));
        Game::ChampionshipEntry entry;
        entry.key0 = 'D';
        entry.key1 = 'E';
        entry.difficulty = 1;
        entry.raceNumber = n;
        RaceChoice choice;
        Game::makeChampionshipChoice(entry, choice, maps);
        const Race& r = races[n];
        EXPECT_EQ(choice.courseType, r.courseType);
        EXPECT_EQ(choice.gameMode, r.mode);
        EXPECT_EQ(choice.vehicleCount, r.vehicles);
        EXPECT_EQ(choice.goal, r.goal);
        EXPECT_EQ(choice.daytime, r.daytime);
        EXPECT_EQ(choice.items, r.items);
        EXPECT_EQ(std::wstring(choice.mapFile.text()), std::wstring(r.map->text()));
        EXPECT_EQ(choice.difficulty, 1);
        EXPECT_EQ(choice.championship, 1);
        EXPECT_EQ(choice.championshipKey[0], 'D');
        EXPECT_EQ(choice.championshipKey[1], 'E');
    }
    // Items by difficulty; a difficulty outside 0..2 leaves them.
    const int32_t items[4] = {0, 1, 1, 7};
    for (uint8_t d = 0; d < 4; ++d) {
        Game::ChampionshipEntry entry;
        entry.key0 = 'F';
        entry.key1 = 'R';
        entry.difficulty = d;
        RaceChoice choice;
        choice.items = 7;
        Game::makeChampionshipChoice(entry, choice, maps);
        EXPECT_EQ(choice.items, items[d]);
        EXPECT_EQ(choice.mapFile.length(), 0); // France has no map of course type 2
    }
    // A race number beyond the seven (never read from the settings, which
    // keep it in range) takes the first race.
    Game::ChampionshipEntry beyond;
    beyond.key0 = 'D';
    beyond.key1 = 'E';
    beyond.raceNumber = 9;
    RaceChoice first;
    Game::makeChampionshipChoice(beyond, first, maps);
    EXPECT_EQ(first.gameMode, Game::KnockOut);
    EXPECT_EQ(first.goal, 6);
    EXPECT_EQ(std::wstring(first.mapFile.text()), std::wstring(berg.text()));
    const int8_t france[2] = {'F', 'R'};
    EXPECT_EQ(std::wstring(Game::findChampionshipMap(maps, france, 1).text()), folder + L"Col.tee");
    const int8_t lower[2] = {'d', 'e'};
    EXPECT_EQ(std::wstring(Game::findChampionshipMap(maps, lower, 2).text()), folder + L"Lower.tee");
    EXPECT_EQ(Game::findChampionshipMap(String((folder + L"missing").c_str()), france, 1).length(), 0);

    // A map with a country code belongs to that country, whatever its name.
    LevelFileWriter::Level coded;
    coded.name = String(L"DE Grenze");
    coded.description = String(L"FR");
    coded.courseType = 3;
    ASSERT_TRUE(LevelFileWriter::save(coded, String((folder + L"Grenze.tee").c_str())));
    EXPECT_EQ(std::wstring(Game::findChampionshipMap(maps, france, 3).text()), folder + L"Grenze.tee");
    const int8_t germany[2] = {'D', 'E'};
    EXPECT_EQ(std::wstring(Game::findChampionshipMap(maps, germany, 3).text()), std::wstring(see.text()));
}

}
