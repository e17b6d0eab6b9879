// Checks the built-in text tables as authored: every line readable by the table
// reader, the same keys in both languages, format specifiers that match what the
// program passes, and every key the program looks up present.
#include "Core/Language.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Ids in this test program (TextTables.rc), not the game's.
constexpr int kGameEnglish = 30141;
constexpr int kGameGerman = 30159;
constexpr int kErrorEnglish = 30109;
constexpr int kErrorGerman = 30225;

// The reader's fixed buffers hold 127 key and 2047 text characters.
constexpr size_t kMaxKey = 127;
constexpr size_t kMaxText = 2047;

struct Table {
    std::vector<std::pair<std::wstring, std::wstring>> entries;  // text with "\n" resolved
    std::vector<std::string> faults;

    std::map<std::wstring, std::wstring> byKey() const {
        std::map<std::wstring, std::wstring> result;
        for (const auto& entry : entries) {
            result.emplace(entry.first, entry.second);
        }
        return result;
    }
    std::set<std::wstring> keys() const {
        std::set<std::wstring> result;
        for (const auto& entry : entries) {
            result.insert(entry.first);
        }
        return result;
    }
};

std::string narrow(const std::wstring& text) {
    std::string result;
    for (wchar_t c : text) {
        result += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
    }
    return result;
}

std::string loadResource(int id) {
    HRSRC info = FindResourceW(nullptr, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));
    if (!info) {
        return {};
    }
    HGLOBAL handle = LoadResource(nullptr, info);
    const void* data = handle ? LockResource(handle) : nullptr;
    if (!data) {
        return {};
    }
    return std::string(static_cast<const char*>(data), SizeofResource(nullptr, info));
}

// Splits the decoded table strictly: the format the authoring rules promise, which is
// narrower than what the game's reader tolerates.
void parseLines(const std::wstring& body, bool utf8, Table& table) {
    if (body.size() < 2 || body.compare(body.size() - 2, 2, L"\r\n") != 0) {
        table.faults.push_back("last line does not end with CR LF");
    }
    size_t start = 0;
    int number = 0;
    while (start < body.size()) {
        ++number;
        size_t end = body.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            end = body.size();
        }
        const std::wstring line = body.substr(start, end - start);
        start = end + 2;
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.find_first_of(L"\r\n") != std::wstring::npos) {
            table.faults.push_back(where + "stray CR or LF");
            continue;
        }
        const size_t keyEnd = line.find(L'\t');
        if (keyEnd == 0 || keyEnd == std::wstring::npos) {
            table.faults.push_back(where + "no key followed by a tab: " + narrow(line));
            continue;
        }
        const std::wstring key = line.substr(0, keyEnd);
        const bool keyOk = key.size() <= kMaxKey && std::all_of(key.begin(), key.end(), [](wchar_t c) {
            return c > L' ' && c < 127 && c != L'=';
        });
        const size_t equals = line.find_first_not_of(L'\t', keyEnd);
        if (!keyOk || equals == std::wstring::npos || line.compare(equals, 2, L"= ") != 0) {
            table.faults.push_back(where + "not key, tabs, \"= \", text: " + narrow(line));
            continue;
        }
        std::wstring text = line.substr(equals + 2);
        if (text.empty() || text[0] == L' ' || text[0] == L'\t' || text[0] == L'=') {
            table.faults.push_back(where + "empty text or text starting with a separator");
            continue;
        }
        for (size_t at = text.find(L"\\n"); at != std::wstring::npos; at = text.find(L"\\n", at + 1)) {
            text.replace(at, 2, 1, L'\n');
        }
        // The UTF-8 reader counts bytes, the UTF-16 reader 16-bit units.
        const size_t length = utf8 ? static_cast<size_t>(WideCharToMultiByte(CP_UTF8, 0, text.c_str(),
                                                                             static_cast<int>(text.size()),
                                                                             nullptr, 0, nullptr, nullptr))
                                   : text.size();
        if (length > kMaxText) {
            table.faults.push_back(where + "text too long");
            continue;
        }
        table.entries.emplace_back(key, text);
    }
}

Table loadTable(int id, bool utf8) {
    Table table;
    const std::string bytes = loadResource(id);
    if (bytes.empty()) {
        table.faults.push_back("resource " + std::to_string(id) + " missing");
        return table;
    }
    std::wstring body;
    if (utf8) {
        if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
            table.faults.push_back("no UTF-8 byte-order mark");
            return table;
        }
        const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data() + 3,
                                              static_cast<int>(bytes.size() - 3), nullptr, 0);
        if (units <= 0) {
            table.faults.push_back("invalid UTF-8");
            return table;
        }
        body.resize(units);
        MultiByteToWideChar(CP_UTF8, 0, bytes.data() + 3, static_cast<int>(bytes.size() - 3), body.data(), units);
    } else {
        if (bytes.size() % 2 != 0 || bytes.compare(0, 2, "\xFF\xFE") != 0) {
            table.faults.push_back("no UTF-16LE byte-order mark or odd size");
            return table;
        }
        for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
            body += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8));
        }
    }
    parseLines(body, utf8, table);
    return table;
}

// The printf conversions of a text, in order ("%%" included, so a stray percent sign counts).
std::vector<std::wstring> specifiers(const std::wstring& text) {
    std::vector<std::wstring> result;
    for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 1)) {
        size_t end = at + 1;
        while (end < text.size() && wcschr(L"-+ #0123456789.*hlLIw", text[end])) {
            ++end;
        }
        result.push_back(text.substr(at, end + 1 - at));
        at = end;
    }
    return result;
}

class TextTables : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gameEnglish = loadTable(kGameEnglish, false);
        gameGerman = loadTable(kGameGerman, false);
        errorEnglish = loadTable(kErrorEnglish, true);
        errorGerman = loadTable(kErrorGerman, true);
    }
    static Table gameEnglish, gameGerman, errorEnglish, errorGerman;
};

Table TextTables::gameEnglish;
Table TextTables::gameGerman;
Table TextTables::errorEnglish;
Table TextTables::errorGerman;

TEST_F(TextTables, EveryLineFollowsTheTableFormat) {
    for (const Table* table : {&gameEnglish, &gameGerman, &errorEnglish, &errorGerman}) {
        EXPECT_TRUE(table->faults.empty()) << ::testing::PrintToString(table->faults);
        EXPECT_FALSE(table->entries.empty());
    }
}

TEST_F(TextTables, BothLanguagesHoldTheSameKeysOnce) {
    EXPECT_EQ(gameEnglish.keys(), gameGerman.keys());
    EXPECT_EQ(errorEnglish.keys(), errorGerman.keys());
    // A second line of a key would never be read; a key in both tables shadows the error text.
    for (const Table* table : {&gameEnglish, &gameGerman, &errorEnglish, &errorGerman}) {
        EXPECT_EQ(table->keys().size(), table->entries.size());
    }
    for (const auto& key : errorEnglish.keys()) {
        EXPECT_EQ(gameEnglish.keys().count(key), 0u) << narrow(key);
    }
}

TEST_F(TextTables, FormatSpecifiersMatchBetweenLanguages) {
    const std::pair<const Table*, const Table*> pairs[] = {{&gameEnglish, &gameGerman}, {&errorEnglish, &errorGerman}};
    for (const auto& [english, german] : pairs) {
        const auto germanTexts = german->byKey();
        for (const auto& [key, text] : english->byKey()) {
            const auto other = germanTexts.find(key);
            ASSERT_NE(other, germanTexts.end()) << narrow(key);
            EXPECT_EQ(specifiers(text), specifiers(other->second)) << narrow(key);
        }
    }
}

// Only the crash texts are formats; each takes the program name as often as the crash report passes it.
// Every other text reaches the screen unformatted or as a %s argument and must hold no percent sign.
TEST_F(TextTables, OnlyCrashTextsAreFormatsAndTheyTakeTheProgramName) {
    const std::map<std::wstring, size_t> formats = {
        {L"SoftwareCrashTitle", 1}, {L"SoftwareCrash", 2}, {L"SoftwareCrashProtocol", 1}};
    for (const Table* table : {&gameEnglish, &gameGerman, &errorEnglish, &errorGerman}) {
        for (const auto& [key, text] : table->entries) {
            const auto format = formats.find(key);
            const std::vector<std::wstring> expected(format == formats.end() ? 0 : format->second, L"%s");
            EXPECT_EQ(specifiers(text), expected) << narrow(key);
            if (format == formats.end()) {
                continue;
            }
            wchar_t buffer[4096];
            const int written = _snwprintf(buffer, 4096, text.c_str(), L"Korvanta", L"Korvanta");
            ASSERT_GT(written, 0) << narrow(key);
            const std::wstring result(buffer, written);
            size_t names = 0;
            for (size_t at = result.find(L"Korvanta"); at != std::wstring::npos; at = result.find(L"Korvanta", at + 1)) {
                ++names;
            }
            EXPECT_EQ(names, format->second) << narrow(key);
        }
    }
}

TEST_F(TextTables, EveryLanguageNamesItselfAndTheBuiltInLanguages) {
    const auto english = gameEnglish.byKey();
    const auto german = gameGerman.byKey();
    EXPECT_EQ(english.at(L"MyLanguage"), L"English");
    EXPECT_EQ(german.at(L"MyLanguage"), L"Deutsch");
    EXPECT_EQ(english.at(L"German"), L"German");
    EXPECT_EQ(german.at(L"English"), L"Englisch");
}

TEST_F(TextTables, EveryKeyTheProgramLooksUpIsPresent) {
    const wchar_t* const gameKeys[] = {
        // languages
        L"MyLanguage", L"English", L"German",
        // input names
        L"XAxis1", L"YAxis1", L"ZAxis1", L"XAxis2", L"YAxis2", L"ZAxis2", L"Button", L"POV0Left", L"POV0Right",
        L"POV0Up", L"POV0Down", L"LeftMouse", L"RightMouse", L"MiddleMouse", L"Mouse4", L"Mouse5", L"Mouse6",
        L"Mouse7", L"Mouse8", L"WheelUp", L"WheelDown", L"Back", L"Enter", L"LeftCtrl", L"LeftShift",
        L"RightShift", L"Space", L"Capslock", L"Roll", L"NumpadEnter", L"RightCtrl", L"Printing", L"Up",
        L"PageUp", L"Left", L"Right", L"End", L"Down", L"PageDown", L"Insert", L"Delete", L"LeftWindows",
        L"RightWindows",
        // control assignment
        L"ControlLeft", L"ControlRight", L"Accelerate", L"Brake", L"UseRocket", L"UseOil", L"UseNitro", L"Pause",
        L"Camera", L"MenuLeft", L"MenuRight", L"MenuUp", L"MenuDown", L"MenuConfirm", L"MenuBack", L"Keyboard",
        L"Gamepad", L"Control", L"Control2", L"Change", L"Default", L"Extended", L"NotAssigned", L"PressKey",
        L"ExtendedControl", L"Interia",
        // menu screens
        L"Loading", L"MyQuad", L"MyQuad2", L"Championship", L"SoloGame", L"GetMoreMaps", L"Settings",
        L"Settings2", L"Exit", L"ExitGame", L"Donate", L"Yes", L"No", L"SelectGameMode", L"GameMode",
        L"BattleMode", L"Enemy", L"Difficulty", L"Easy", L"Medium", L"Hard", L"On", L"Off", L"StartGame",
        L"OffroadRaceDesc", L"CaptureTheFlagDesc", L"ModeJamboreeDesc", L"KnockOutDesc", L"CircuitDesc",
        L"TimeTrialDesc", L"ChooseMap", L"OffRoad", L"RaceTrack", L"Rally", L"Daytime", L"Day", L"Sunrise",
        L"Sunset", L"ChooseCountry", L"Continue", L"StartChampionship", L"PointsToQualify", L"Points",
        L"MinPlace", L"Start", L"NeededPoints", L"Rank", L"Player", L"GameOver", L"RestartChampionship",
        L"Congratulation", L"YouWon", L"RaceResults", L"LapRecords", L"BestTime", L"Time", L"Date", L"Nickname",
        L"Color", L"BENUTZER", L"Blue", L"Red", L"Yellow", L"Green", L"Rosa", L"Black", L"White", L"Orange",
        L"GiveUp", L"ExitChampionship", L"Graphics", L"Graphics2", L"Language", L"Resolution", L"Fullscreen",
        L"Antialiasing", L"Shadow", L"Soft", L"Bloom", L"Apply",
        // race logic and head-up display
        L"OffRoadRace", L"CaptureTheFlag", L"Jamboree", L"KnockOut", L"Circuit", L"TimeTrial", L"Laps",
        L"MaxPoints", L"Checkpoints", L"TimeTrial2", L"Lap", L"Time2", L"BestTime2", L"BestLap", L"GateMissed",
        L"WrongWay", L"FinalLap", L"WrongGate"};
    const wchar_t* const errorKeys[] = {L"Error", L"Info", L"ErrorDetectMonitor", L"ErrorWindowClass",
                                        L"ErrorDirect3D", L"ErrorWindowCreate", L"ErrorDirect3DDevice",
                                        L"ErrorAudioDevice", L"Need_Newest_DirectX", L"D3D_Init_Error",
                                        L"SoftwareCrashTitle", L"SoftwareCrash", L"SoftwareCrashProtocolTitle",
                                        L"SoftwareCrashProtocol"};
    for (const wchar_t* key : gameKeys) {
        EXPECT_EQ(gameEnglish.keys().count(key), 1u) << narrow(key);
    }
    for (const wchar_t* key : errorKeys) {
        EXPECT_EQ(errorEnglish.keys().count(key), 1u) << narrow(key);
    }
    // Nothing beyond what the program asks for.
    EXPECT_EQ(gameEnglish.keys().size(), std::size(gameKeys));
    EXPECT_EQ(errorEnglish.keys().size(), std::size(errorKeys));
}

// The game's own reader must deliver every authored line unchanged: no line run into
// the next, no text cut, "\n" and non-ASCII letters decoded in both encodings.
TEST_F(TextTables, TheLanguageReaderDeliversEveryLineAsAuthored) {
    Language language;
    Language::Pack packs[2];
    packs[0].gameTableId = kGameGerman;
    packs[0].errorTableId = kErrorGerman;
    packs[0].name = String(L"German");
    packs[1].gameTableId = kGameEnglish;
    packs[1].errorTableId = kErrorEnglish;
    packs[1].name = String(L"English");
    language.addBuiltInPacks(packs, 2);
    const String wanted[] = {String(L"MyLanguage")};
    language.loadPacks(wanted, 1);

    const int32_t german = language.find(L"German");
    const int32_t english = language.find(L"English");
    ASSERT_GE(german, 0);
    ASSERT_GE(english, 0);
    EXPECT_STREQ(language.getText(nullptr, String(L"MyLanguage"), german).text(), L"Deutsch");

    language.setCurrent(german);
    const std::pair<int32_t, std::vector<const Table*>> languages[] = {{german, {&gameGerman, &errorGerman}},
                                                                       {english, {&gameEnglish, &errorEnglish}}};
    for (const auto& [index, tables] : languages) {
        size_t lines = 0;
        for (const Table* table : tables) {
            lines += table->entries.size();
            for (const auto& [key, text] : table->entries) {
                EXPECT_EQ(std::wstring(language.getText(nullptr, String(key.c_str()), index).text()), text)
                    << narrow(key);
            }
        }
        // The current language was read afresh; "English" also keeps its preloaded name pair.
        if (index == german) {
            EXPECT_EQ(static_cast<size_t>(language.languageAt(index)->pairs.count()), lines);
        }
    }
}

}  // namespace
