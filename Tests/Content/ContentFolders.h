#pragma once
// Where the content tests find the builder and its data, and small readers
// of what they check: a level's head, a built-in text table.
#include "../Application/AppTestFiles.h"
#include "../Application/ProgramRun.h"

#include "Core/FileInterface.h"
#include "Core/String.h"

#include <windows.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace ContentFolders {

// The codes of the country choice's table.
inline const wchar_t* const countryCodes[] = {L"AF", L"DE", L"FR", L"ES", L"IT", L"US", L"CA",
                                              L"GL", L"CN", L"IN", L"AU", L"BR", L"RU"};

// The text keys that the objects, the race and the menus look up.
inline const wchar_t* const textKeys[] = {
    L"Loading", L"MyQuad", L"MyQuad2", L"Championship", L"SoloGame", L"GetMoreMaps", L"Settings", L"Settings2",
    L"Exit", L"ExitGame", L"Donate", L"SelectGameMode", L"GameMode", L"BattleMode", L"Enemy", L"Difficulty",
    L"Easy", L"Medium", L"Hard", L"On", L"Off", L"StartGame", L"OffroadRaceDesc", L"CaptureTheFlagDesc",
    L"ModeJamboreeDesc", L"KnockOutDesc", L"CircuitDesc", L"TimeTrialDesc", L"ChooseMap", L"OffRoad",
    L"RaceTrack", L"Rally", L"Daytime", L"Day", L"Sunrise", L"Sunset", L"ChooseCountry", L"Continue",
    L"StartChampionship", L"PointsToQualify", L"Points", L"MinPlace", L"Start", L"NeededPoints", L"Rank",
    L"Player", L"GameOver", L"RestartChampionship", L"End", L"Congratulation", L"YouWon", L"RaceResults",
    L"LapRecords", L"BestTime", L"Time", L"Date", L"Nickname", L"Color", L"BENUTZER", L"Blue", L"Red",
    L"Yellow", L"Green", L"Rosa", L"Black", L"White", L"Orange", L"Pause", L"GiveUp", L"ExitChampionship",
    L"Control", L"Control2", L"Graphics", L"Graphics2", L"Language", L"Yes", L"No", L"Keyboard", L"Gamepad",
    L"Change", L"Default", L"Extended", L"NotAssigned", L"PressKey", L"ControlLeft", L"ControlRight",
    L"Accelerate", L"Brake", L"UseRocket", L"UseOil", L"UseNitro", L"Camera", L"MenuLeft", L"MenuRight",
    L"MenuUp", L"MenuDown", L"MenuConfirm", L"MenuBack", L"ExtendedControl", L"Interia", L"Resolution",
    L"Fullscreen", L"Antialiasing", L"Shadow", L"Soft", L"Bloom", L"Apply", L"English", L"German",
    // The race's head-up display and results.
    L"TimeTrial2", L"Lap", L"Time2", L"BestTime2", L"BestLap", L"GateMissed", L"WrongWay", L"FinalLap",
    L"WrongGate", L"Laps", L"MaxPoints", L"Checkpoints",
    // The modes' names.
    L"OffRoadRace", L"CaptureTheFlag", L"Jamboree", L"KnockOut", L"Circuit", L"TimeTrial"};

// The build's folder: the program, its data beside it, the tests below.
inline std::wstring installFolder() { return std::wstring(getModuleFolder().text()) + L"..\\"; }

// The builder run into folder; its exit code (-1000 when it stalled or
// worked ten minutes without ending).
inline long runBuilder(const std::wstring& folder)
{
    // A folder without its last backslash, which would escape the quote.
    const std::wstring argument = folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder;
    ProgramRun run(installFolder() + L"Tools\\KorvantaBuilder.exe", L"\"" + argument + L"\"", SW_HIDE);
    return run.started ? run.waitForEnd(600000) : -1001;
}

// A level's name (tag 1), country code (tag 3) and course type (the race
// settings' tag 1 in tag 4).
struct MapHead
{
    std::wstring name;
    std::wstring code;
    int32_t courseType = 0;
};

inline MapHead readHead(const std::wstring& path)
{
    MapHead head;
    const std::vector<uint8_t> bytes = AppTestFiles::read(path);
    size_t at = 4;
    auto u32 = [&](uint32_t& v) {
        if (at + 4 > bytes.size())
            return false;
        v = uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
            uint32_t(bytes[at + 3]) << 24;
        at += 4;
        return true;
    };
    auto text = [&](std::wstring& s) {
        uint32_t n = 0;
        if (!u32(n) || at + n > bytes.size())
            return false;
        s.assign(bytes.begin() + long(at), bytes.begin() + long(at + n));
        at += n;
        return true;
    };
    uint32_t tag = 0;
    while (u32(tag) && tag != 0) {
        uint32_t n = 0;
        switch (tag) {
        case 1:
            if (!text(head.name))
                return head;
            break;
        case 2:
            if (!u32(n) || at + n > bytes.size())
                return head;
            at += n;
            break;
        case 3:
            if (!text(head.code))
                return head;
            break;
        case 4: {
            uint32_t inner = 0, value = 0;
            if (u32(inner) && inner == 1 && u32(value))
                head.courseType = int32_t(value);
            return head;
        }
        default: return head;
        }
    }
    return head;
}

// A built-in text table of this program (UTF-16 with a byte-order mark,
// lines of a key, tabs, "= " and the text) as key to text.
inline std::map<std::wstring, std::wstring> textTable(int id)
{
    std::map<std::wstring, std::wstring> table;
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
    const auto* data = loaded ? static_cast<const wchar_t*>(LockResource(loaded)) : nullptr;
    if (!data)
        return table;
    const std::wstring all(data + 1, SizeofResource(nullptr, found) / 2 - 1);
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find(L"\r\n", start);
        if (end == std::wstring::npos)
            end = all.size();
        const std::wstring line = all.substr(start, end - start);
        start = end + 2;
        const size_t tab = line.find(L'\t'), equals = line.find(L"= ");
        if (tab == std::wstring::npos || equals == std::wstring::npos || equals < tab)
            continue;
        table[line.substr(0, tab)] = line.substr(equals + 2);
    }
    return table;
}

}
