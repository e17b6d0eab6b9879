#include "RaceTestSupport.h"

#include "../Application/AppTestFiles.h"

#include "Landscape/Scene.h"

#include "RaceSamples.h"
#include "RecordsFileWriter.h"

#include "Core/Language.h"
#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <bit>
#include <iterator>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace RaceTest;

std::wstring text(const String& s) { return s.text(); }

TEST(GameState, ModeTextsComeFromTheLanguage)
{
    Language language;
    const Language::Pack english[1] = {{141, 109, L"English"}};
    language.addBuiltInPacks(english, 1);
    Language* previous = gLanguage;
    gLanguage = &language;
    const wchar_t* names[] = {L"", L"OFF-ROAD RACE", L"CAPTURE THE FLAG", L"JAMBOREE", L"KNOCKOUT", L"CIRCUIT",
                              L"TIME TRIAL", L""};
    const wchar_t* goals[] = {L"", L"LAPS", L"MAX POINTS", L"CHECKPOINTS", L"LAPS", L"LAPS", L"LAPS", L""};
    for (int32_t mode = 0; mode < 8; ++mode) {
        EXPECT_EQ(text(Game::getModeName(mode)), names[mode]);
        EXPECT_EQ(text(Game::getModeGoalText(mode)), goals[mode]);
    }
    gLanguage = nullptr;
    EXPECT_EQ(text(Game::getModeName(1)), L"");
    gLanguage = previous;
}

TEST(GameState, PlayerTables)
{
    const uint8_t bytes[8][4] = {{0xFF, 0x5A, 0x09, 0xFF}, {0x20, 0x09, 0xFF, 0xFF}, {0x03, 0xDF, 0xF3, 0xFF},
                                 {0x10, 0xB4, 0x0C, 0xFF}, {0xB0, 0x0B, 0xD3, 0xFF}, {0x10, 0x10, 0x10, 0xFF},
                                 {0xE6, 0xFF, 0xE6, 0xFF}, {0x00, 0x7C, 0xFA, 0xFF}};
    std::set<std::wstring> names;
    for (int32_t slot = 0; slot < 8; ++slot) {
        const Color color = Game::getPlayerColor(slot);
        EXPECT_EQ(std::memcmp(&color, bytes[slot], 4), 0) << slot;
        EXPECT_EQ(Game::findPlayerColorIndex(color), slot + 1);
        EXPECT_EQ(Game::getPlayerNumber(slot), slot + 1);
        names.insert(text(Game::getOpponentName(slot)));
    }
    EXPECT_EQ(names.size(), 8u);
    EXPECT_EQ(names.count(L""), 0u);
    EXPECT_EQ(Game::findPlayerColorIndex(Color(0x09, 0x5A, 0xFF, 0xFE)), 0);
    // Outside slots 0..7: slot 0's colour, number 1 and no name.
    for (int32_t slot : {-1, 8, 1000}) {
        EXPECT_EQ(Game::getPlayerColor(slot), Game::getPlayerColor(0)) << slot;
        EXPECT_EQ(Game::getPlayerNumber(slot), 1) << slot;
        EXPECT_EQ(text(Game::getOpponentName(slot)), L"") << slot;
    }

    // A vehicle takes its slot's colour and name; a slot above 7 slot 0's
    // colour and no name.
    Game game(nullptr, nullptr);
    const Game::Vehicle& third = addVehicle(game, 3);
    EXPECT_EQ(third.color, Game::getPlayerColor(3));
    EXPECT_EQ(text(third.name), text(Game::getOpponentName(3)));
    const Game::Vehicle& tenth = addVehicle(game, 9);
    EXPECT_EQ(tenth.color, Game::getPlayerColor(0));
    EXPECT_EQ(text(tenth.name), L"");
    EXPECT_EQ(game.getPlayerVehicle(), nullptr);
    addVehicle(game, 0).isPlayer = 1;
    EXPECT_EQ(game.getPlayerVehicle()->slot, 0u);
}

TEST(GameState, RaceChoiceSetsTheSceneTime)
{
    // A new game's choice: no map or mode, items on, three vehicles, two laps.
    const RaceChoice fresh = Game(nullptr, nullptr).choice;
    EXPECT_EQ(text(fresh.mapFile), L"");
    const int32_t values[] = {fresh.courseType, fresh.gameMode, fresh.difficulty, fresh.items, fresh.vehicleCount,
                              fresh.goal, fresh.daytime, fresh.championship, fresh.championshipKey[0],
                              fresh.championshipKey[1]};
    const int32_t expected[] = {0, 0, 0, 1, 3, 2, 0, 0, 0, 0};
    for (size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(values[i], expected[i]) << i;

    Scene scene(String(L"Korvanta"), 3500.0f);
    RaceChoice choice;
    choice.mapFile = String(L"Data\\Map\\Valley.tee");
    choice.championshipKey[1] = 'E';
    const float hours[] = {12.5f, 9.2f, 18.5f};
    for (int32_t daytime = 0; daytime < 3; ++daytime) {
        choice.daytime = daytime;
        scene.game.applyRaceChoice(choice);
        EXPECT_EQ(scene.timeOfDay, hours[daytime]);
    }
    EXPECT_EQ(gTimer.hour, 18);
    EXPECT_EQ(gTimer.minute, 30);
    choice.daytime = 3;
    scene.timeOfDay = 7.0f;
    scene.game.applyRaceChoice(choice);
    EXPECT_EQ(scene.timeOfDay, 7.0f);
    EXPECT_EQ(gTimer.hour, 7);
    EXPECT_EQ(text(scene.game.choice.mapFile), L"Data\\Map\\Valley.tee");
    EXPECT_EQ(scene.game.choice.daytime, 3);
    EXPECT_EQ(scene.game.choice.championshipKey[1], 'E');
}

TEST(GameState, RaceSettingsBlock)
{
    struct Case
    {
        const char* what;
        std::vector<uint32_t> words;
        bool headerOnly;
        bool result;
        int32_t courseType;
        uint32_t reference;
        uint32_t position; // words read
    };
    const uint32_t time = std::bit_cast<uint32_t>(RaceTime{' ', 1, 23, 45});
    const Case cases[] = {
        {"whole", {1, 2, 2, time, 0, 99}, false, true, 2, time, 5},
        {"header mode stops after tag 1", {1, 3, 2, time, 0}, true, true, 3, 0, 2},
        {"unknown tags carry no field; an unknown course type is kept", {7, 2, time, 1, 9, 0}, false, true, 9, time, 6},
        {"header mode without tag 1 reads to the end", {2, time, 0, 5}, true, true, 0, time, 3},
        {"cut", {1, 2, 2}, false, false, 2, 0, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bytes(c.words.size() * 4);
        std::memcpy(bytes.data(), c.words.data(), bytes.size());
        FileArray stream;
        Game game(nullptr, nullptr);
        EXPECT_EQ(game.readSceneSettings(streamOf(stream, bytes), c.headerOnly), c.result);
        EXPECT_EQ(game.choice.courseType, c.courseType);
        EXPECT_EQ(std::bit_cast<uint32_t>(game.referenceTime), c.reference ? c.reference : std::bit_cast<uint32_t>(RaceTime{}));
        EXPECT_EQ(stream.tell(), c.position * 4);
    }
    Game game(nullptr, nullptr);
    game.choice.courseType = 3;
    game.referenceTime = RaceTime{' ', 1, 23, 45};
    FileArray out(64);
    game.writeSceneSettings(out);
    std::vector<uint8_t> expected(20);
    const uint32_t words[5] = {1, 3, 2, time, 0};
    std::memcpy(expected.data(), words, 20);
    EXPECT_EQ(bytesOf(out), expected);
}

TEST(GameState, ObjectTypesAreLookedUpByName)
{
    struct Finder : StaticEntityManager::PackageFinder
    {
        StaticEntityManager::Method* findPackage(const String& name) override
        {
            asked.push_back(name.text());
            return name.sameText(String(L"Gate")) ? &gate : (name.sameText(String(L"Podium")) ? &podium : nullptr);
        }
        struct Package : StaticEntityManager::Method
        {
            float radius() const override { return 1.0f; }
            StaticEntityManager* manager() const override { return nullptr; }
        } gate, podium;
        std::vector<std::wstring> asked;
    } finder;
    Game game(nullptr, nullptr);
    game.loadObjectTypes(finder, Game::packageNames, Game::startVehicleScale);
    EXPECT_EQ(game.vehicleScale, 5.0f);
    ASSERT_EQ(finder.asked.size(), size_t(Game::packageCount));
    EXPECT_EQ(finder.asked.front(), L"Quad");
    EXPECT_EQ(finder.asked.back(), L"Podium");
    for (int i = 0; i < Game::packageCount; ++i)
        EXPECT_EQ(game.packages[i], i == Game::GatePackage ? &finder.gate
                                    : i == Game::PodiumPackage ? &finder.podium
                                                               : nullptr);
}

// Where the race settings block of a level's main file ends: after the
// version, tags 1 to 3 with their fields, tag 4 and the block's words to its 0.
size_t raceSettingsEnd(const std::vector<uint8_t>& bytes)
{
    auto word = [&](size_t at) {
        uint32_t w = 0;
        if (at + 4 <= bytes.size())
            std::memcpy(&w, bytes.data() + at, 4);
        return w;
    };
    size_t at = 4;
    for (uint32_t tag = 1; tag <= 3; ++tag)
        at += 8 + word(at + 4);
    for (at += 4; at < bytes.size(); at += 4)
        if (word(at) == 0)
            return at + 4;
        else if (word(at) == 1 || word(at) == 2)
            at += 4;
    return 0;
}

std::wstring builtValley() { return std::wstring(getModuleFolder().text()) + L"..\\Data\\Map\\Valley.tee"; }

TEST(GameState, TheSampleValleyKeepsItsRaceSettingsByteForByte)
{
    const std::vector<uint8_t> original = AppTestFiles::read(builtValley());
    ASSERT_FALSE(original.empty()) << "the builder's valley is missing";
    Scene scene(String(L"Korvanta"), 3500.0f);
    FileArray stream;
    ASSERT_TRUE(scene.readLevel(streamOf(stream, original)));
    EXPECT_EQ(scene.game.choice.courseType, 1);
    EXPECT_TRUE(scene.game.referenceTime == timeOf(int32_t(RaceSamples::valleyReferenceLap)));
    EXPECT_EQ(text(Game::formatRaceTime(scene.game.referenceTime)), L"01:23.45");
    FileArray saved(4096);
    scene.writeLevel(saved);
    const std::vector<uint8_t> written = bytesOf(saved);
    // The head (name, preview, description) and the race settings block.
    const size_t end = raceSettingsEnd(original);
    ASSERT_EQ(end, raceSettingsEnd(written));
    EXPECT_EQ(std::vector<uint8_t>(written.begin(), written.begin() + long(end)),
              std::vector<uint8_t>(original.begin(), original.begin() + long(end)));

    // The map list's head: the course type into the header word.
    scene.headerWord = 0;
    EXPECT_EQ(text(scene.readHeader(String(builtValley().c_str()))), L"Valley");
    EXPECT_EQ(scene.headerWord, 1);

    // A level without race settings has none of the level before.
    scene.game.referenceTime = RaceTime{' ', 2, 0, 0};
    const std::vector<uint8_t> nameOnly = {'v', '1', '.', '0', 1, 0, 0, 0, 1, 0, 0, 0, 'N', 0, 0, 0, 0};
    scene.setDefaults();
    ASSERT_TRUE(scene.readLevel(streamOf(stream, nameOnly)));
    EXPECT_EQ(scene.game.choice.courseType, 0);
    EXPECT_TRUE(scene.game.referenceTime == RaceTime{});
    const std::wstring headOnly = AppTestFiles::freshFolder(L"head") + L"N.tee";
    AppTestFiles::write(headOnly, nameOnly);
    scene.headerWord = 5;
    scene.game.choice.courseType = 2;
    EXPECT_EQ(text(scene.readHeader(String(headOnly.c_str()))), L"N");
    EXPECT_EQ(scene.headerWord, 0); // no race settings: no course type
    EXPECT_EQ(scene.game.choice.courseType, 0);
}

TEST(GameState, LoadingALevelReadsItsRecordsFromTheRecordsFolder)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"level");
    ASSERT_TRUE(AppTestFiles::write(folder + L"Valley.tee", AppTestFiles::read(builtValley())));
    Scene scene(String(L"Korvanta"), 3500.0f);
    CreateDirectoryW(scene.recordsFolder.text(), nullptr);
    const std::wstring records = std::wstring(scene.recordsFolder.text()) + L"Valley.rec";
    ASSERT_TRUE(RecordsFileWriter::save(RaceSamples::valleyRecords(), String(records.c_str())));
    ASSERT_TRUE(scene.load(String((folder + L"Valley.tee").c_str())));
    EXPECT_EQ(text(scene.game.records.fileName), records);
    EXPECT_EQ(scene.game.records.lapCount, 10u);
    EXPECT_EQ(scene.game.records.raceCount, 3u);
    scene.clear();
    DeleteFileW(records.c_str());
}

}
