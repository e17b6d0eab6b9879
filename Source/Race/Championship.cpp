// Points, championship progress and the championship's choice of races.
#include "Race/Game.h"

#include "Race/GameVehicle.h"

#include "Application/GlobalSettings.h"

#include "Core/CrashTrace.h"
#include "Core/Directory.h"

#include <cstring>
#include <cwctype>

namespace {

enum RecordTag : uint32_t { Key = 1, Difficulty = 2, Unlocked = 3, RaceNumber = 4, Points = 5 };

constexpr uint8_t hardest = 2;

// Values the menus index tables with are kept in range.
void keepInRange(Game::ChampionshipEntry& record)
{
    if (record.difficulty > hardest)
        record.difficulty = hardest;
    if (record.unlocked > hardest)
        record.unlocked = hardest;
    if (record.raceNumber > Game::championshipRaces - 1)
        record.raceNumber = Game::championshipRaces - 1;
}

// The seven races of a championship.
struct ScheduledRace
{
    int32_t courseType;
    int32_t gameMode;
    int32_t vehicleCount;
    int32_t goal;
    int32_t daytime;
    int32_t items[3]; // Easy, Medium, Hard
};
constexpr ScheduledRace schedule[Game::championshipRaces] = {
    {2, Game::KnockOut, 6, 6, 0, {0, 1, 1}},       {1, Game::OffRoadRace, 6, 4, 1, {0, 0, 1}},
    {3, Game::TimeTrial, 1, 1, 0, {0, 0, 0}},      {1, Game::Jamboree, 6, 5, 2, {1, 1, 1}},
    {2, Game::TimeTrial, 1, 3, 0, {0, 0, 0}},      {1, Game::CaptureTheFlag, 6, 250, 1, {0, 1, 1}},
    {2, Game::Circuit, 6, 4, 0, {0, 0, 1}},
};

constexpr int32_t neededPoints[3][Game::championshipRaces] = {
    {0, 5, 11, 17, 23, 29, 35},
    {4, 10, 21, 32, 43, 54, 65},
    {7, 15, 31, 47, 63, 79, 95},
};

// The part of a level's head the map search needs: the name (tag 1), the
// country code (tag 3) and the race settings' course type (tag 4). Tag 2 is
// read past.
struct MapHead
{
    String name{L""};
    String code{L""};
    int32_t courseType = 0;
};

// The map's country: its code, as the country choice groups maps by it; a
// map without a code goes by the first two characters of its name.
bool belongsTo(const MapHead& head, const int8_t (&key)[2])
{
    const String& country = head.code.length() >= 2 ? head.code : head.name;
    if (country.length() < 2)
        return false;
    const wchar_t* c = country.text();
    return c[0] == wchar_t(uint8_t(key[0])) && c[1] == wchar_t(uint8_t(key[1]));
}

bool readMapHead(const String& path, MapHead& head)
{
    FileInterface* file = openFile(path, 0, 1, 1);
    if (!file)
        return false;
    bool read = false;
    if (file->isOpen) {
        RaceTime reference;
        uint32_t version = 0;
        uint32_t tag = 0;
        bool more = file->readValue(version);
        while (more && file->readValue(tag) && tag != 0) {
            switch (tag) {
            case 1: more = file->readString(head.name) || file->remaining() > 0; break;
            case 2: {
                uint32_t size = 0;
                more = file->readValue(size) && size <= file->remaining();
                if (more)
                    file->seek(int32_t(size), 1);
                break;
            }
            case 3: more = file->readString(head.code) || file->remaining() > 0; break;
            case 4:
                Game::readRaceSettings(*file, true, head.courseType, reference);
                read = true;
                more = false;
                break;
            default: break;
            }
        }
    }
    file->close();
    return read;
}

bool extensionIsTee(const String& fileName)
{
    const wchar_t* extension = fileName.getExtension();
    const wchar_t tee[] = L"tee";
    for (int i = 0; i < 4; ++i)
        if (std::towlower(extension[i]) != tee[i])
            return false;
    return true;
}

}

void Game::makeChampionshipChoice(const ChampionshipEntry& entry, RaceChoice& choice, const String& folder)
{
    CRASH_TRACE();
    const ScheduledRace& race = schedule[entry.raceNumber < championshipRaces ? entry.raceNumber : 0];
    choice.courseType = race.courseType;
    choice.gameMode = race.gameMode;
    choice.vehicleCount = race.vehicleCount;
    choice.goal = race.goal;
    choice.daytime = race.daytime;
    if (entry.difficulty <= hardest)
        choice.items = race.items[entry.difficulty];
    const int8_t key[2] = {entry.key0, entry.key1};
    choice.mapFile = findChampionshipMap(folder, key, race.courseType);
    choice.difficulty = entry.difficulty;
    choice.championship = 1;
    choice.championshipKey[0] = entry.key0;
    choice.championshipKey[1] = entry.key1;
}

String Game::findChampionshipMap(const String& folder, const int8_t (&key)[2], int32_t courseType)
{
    CRASH_TRACE();
    Directory maps(folder, false);
    for (auto* node = maps.files.head(); node; node = node->next) {
        const FileInfo& file = *node->item;
        if (!extensionIsTee(file.name))
            continue;
        const String path = file.folder + file.name;
        MapHead head;
        if (readMapHead(path, head) && head.courseType == courseType && belongsTo(head, key))
            return path;
    }
    return String(L"");
}

Game::ChampionshipEntry* Game::findChampionshipEntry(int8_t key0, int8_t key1)
{
    // (0, 0) is the key of a free record, never a championship's.
    if (key0 == 0 && key1 == 0)
        return nullptr;
    for (ChampionshipEntry& record : championshipTable)
        if (record.key0 == key0 && record.key1 == key1)
            return &record;
    for (ChampionshipEntry& record : championshipTable)
        if (record.key0 == 0 && record.key1 == 0) {
            record = ChampionshipEntry{};
            record.key0 = key0;
            record.key1 = key1;
            return &record;
        }
    return nullptr;
}

Game::ChampionshipEntry* Game::getChampionshipEntry()
{
    const int8_t key0 = choice.championshipKey[0];
    const int8_t key1 = choice.championshipKey[1];
    if (key0 == 0 && key1 == 0)
        return nullptr;
    for (ChampionshipEntry& record : championshipTable)
        if (record.key0 == key0 && record.key1 == key1)
            return &record;
    return nullptr;
}

int32_t Game::getPointsForPlace(int32_t index)
{
    constexpr int32_t points[6] = {16, 11, 7, 4, 2, 1};
    return index >= 0 && index < 6 ? points[index] : 0;
}

int32_t Game::getNeededPoints(int32_t raceNumber) const
{
    if (choice.difficulty < 0 || choice.difficulty > hardest || raceNumber < 0 || raceNumber >= championshipRaces)
        return 0;
    return neededPoints[choice.difficulty][raceNumber];
}

int32_t Game::getMinPlace()
{
    const ChampionshipEntry* record = getChampionshipEntry();
    const int32_t needed = getNeededPoints(record ? record->raceNumber : 0);
    const int32_t points = record ? record->points[0] : 0;
    if (points >= needed)
        return -1;
    for (int32_t place = 6; place >= 2; --place)
        if (points + getPointsForPlace(place - 1) >= needed)
            return place;
    return 1;
}

void Game::advanceChampionship()
{
    CRASH_TRACE();
    ChampionshipEntry* record = getChampionshipEntry();
    if (!record)
        return;
    if (++record->raceNumber >= championshipRaces) {
        if (record->difficulty == record->unlocked && record->unlocked < hardest)
            ++record->unlocked;
        record->raceNumber = 0;
        std::memset(record->points, 0, sizeof(record->points));
    }
    if (callbacks)
        callbacks->saveSettings();
}

void Game::restartChampionship()
{
    ChampionshipEntry* record = getChampionshipEntry();
    if (!record)
        return;
    record->raceNumber = 0;
    std::memset(record->points, 0, sizeof(record->points));
    if (callbacks)
        callbacks->saveSettings();
}

bool Game::readSettings(FileInterface& stream, ChampionshipEntry& record)
{
    bool whole = true;
    bool cut = false;
    uint32_t tag = 0;
    while (whole && stream.readTag(tag, cut)) {
        switch (tag) {
        case Key: {
            int8_t key[2];
            whole = stream.read(key, 2) == 2;
            if (whole) {
                record.key0 = key[0];
                record.key1 = key[1];
            }
            break;
        }
        case Difficulty: whole = stream.readValue(record.difficulty); break;
        case Unlocked: whole = stream.readValue(record.unlocked); break;
        case RaceNumber: whole = stream.readValue(record.raceNumber); break;
        case Points: {
            uint8_t points[8];
            whole = stream.read(points, 8) == 8;
            if (whole)
                std::memcpy(record.points, points, 8);
            break;
        }
        default: break;
        }
    }
    keepInRange(record);
    return whole && !cut;
}

void Game::writeSettings(FileInterface& stream, const ChampionshipEntry& record)
{
    stream.writeTag(Key);
    stream.writeValue(record.key0);
    stream.writeValue(record.key1);
    stream.writeTag(Difficulty);
    stream.writeValue(record.difficulty);
    stream.writeTag(Unlocked);
    stream.writeValue(record.unlocked);
    stream.writeTag(RaceNumber);
    stream.writeValue(record.raceNumber);
    stream.writeTag(Points);
    stream.write(record.points, sizeof(record.points));
    stream.writeTag(0);
}

void Game::readSettings(const GlobalSettings& settings)
{
    for (int i = 0; i < championshipCount; ++i) {
        const uint8_t* bytes = settings.gameRecords[i].bytes;
        ChampionshipEntry& record = championshipTable[i];
        record.key0 = int8_t(bytes[0]);
        record.key1 = int8_t(bytes[1]);
        record.difficulty = bytes[2];
        record.unlocked = bytes[3];
        record.raceNumber = bytes[4];
        std::memcpy(record.points, bytes + 5, sizeof(record.points));
        keepInRange(record);
    }
}

void Game::writeSettings(GlobalSettings& settings) const
{
    for (int i = 0; i < championshipCount; ++i) {
        uint8_t* bytes = settings.gameRecords[i].bytes;
        const ChampionshipEntry& record = championshipTable[i];
        bytes[0] = uint8_t(record.key0);
        bytes[1] = uint8_t(record.key1);
        bytes[2] = record.difficulty;
        bytes[3] = record.unlocked;
        bytes[4] = record.raceNumber;
        std::memcpy(bytes + 5, record.points, sizeof(record.points));
    }
}
