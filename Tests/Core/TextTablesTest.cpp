// The built-in text tables as authored, read by the game's table reader: every
// line delivered whole, the same keys in both languages, matching format
// specifiers, and every key the program looks up present.
#include "Core/RelationFile.h"
#include "Core/Resource.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{
struct Table : RelationFile
{
    std::map<std::wstring, std::wstring> texts;
    size_t pairs = 0;
    size_t lines = 0; // line feeds in the stored bytes

    uint32_t addRelation(void*, const wchar_t* key, const wchar_t* text) override
    {
        texts.emplace(key, text);
        return uint32_t(++pairs);
    }
    std::set<std::wstring> keys() const
    {
        std::set<std::wstring> result;
        for (const auto& entry : texts)
            result.insert(entry.first);
        return result;
    }
};

// Ids in this test program (TextTables.rc), not the game's. Game tables are
// UTF-16, error tables UTF-8, both after their byte-order mark.
Table load(uint16_t id, bool utf8)
{
    Table table;
    Resource resource(id, 10);
    const std::string bytes(reinterpret_cast<const char*>(resource.memory()), resource.size());
    for (size_t at = utf8 ? 3 : 2; at + (utf8 ? 0 : 1) < bytes.size(); at += utf8 ? 1 : 2)
        table.lines += bytes[at] == '\n' && (utf8 || bytes[at + 1] == 0);
    // An unterminated last line counts too: the reader never delivers it.
    table.lines += bytes.size() > (utf8 ? 3u : 2u) && bytes[bytes.size() - (utf8 ? 1 : 2)] != '\n';
    RelationFile::parse(resource, nullptr, table);
    return table;
}

const Table gameEnglish = load(30141, false), gameGerman = load(30159, false);
const Table errorEnglish = load(30109, true), errorGerman = load(30225, true);
const Table* const allTables[] = {&gameEnglish, &gameGerman, &errorEnglish, &errorGerman};

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

// Every '%' of a text with the character after it: a stray percent sign or
// another conversion shows as something other than "%s".
std::vector<std::wstring> specifiers(const std::wstring& text)
{
    std::vector<std::wstring> result;
    for (size_t at = text.find(L'%'); at != std::wstring::npos; at = text.find(L'%', at + 2))
        result.push_back(text.substr(at, 2));
    return result;
}
}

TEST(TextTables, EveryLineIsDeliveredWholeAndOnce)
{
    for (const Table* table : allTables) {
        ASSERT_GT(table->lines, 0u);
        EXPECT_EQ(table->pairs, table->lines) << "a line lost or run into the next";
        EXPECT_EQ(table->texts.size(), table->pairs) << "a second line of a key is never read";
        for (const auto& [key, text] : table->texts) {
            const int utf8Length = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0,
                                                       nullptr, nullptr);
            EXPECT_LT(uint32_t(utf8Length), RelationFile::maxTextLength) << narrow(key) << " may be cut";
        }
    }
}

TEST(TextTables, BothLanguagesHoldTheSameKeysWithMatchingSpecifiers)
{
    EXPECT_EQ(gameEnglish.keys(), gameGerman.keys());
    EXPECT_EQ(errorEnglish.keys(), errorGerman.keys());
    for (const auto& key : errorEnglish.keys())
        EXPECT_EQ(gameEnglish.texts.count(key), 0u) << narrow(key) << " would shadow the error text";

    // The crash texts are formats taking the program name; every other text
    // reaches the screen unformatted or as a %s argument and holds no percent sign.
    const std::map<std::wstring, size_t> formats = {
        {L"SoftwareCrashTitle", 1}, {L"SoftwareCrash", 2}, {L"SoftwareCrashProtocol", 1}};
    for (const Table* table : allTables) {
        for (const auto& [key, text] : table->texts) {
            const auto format = formats.find(key);
            const std::vector<std::wstring> expected(format == formats.end() ? 0 : format->second, L"%s");
            EXPECT_EQ(specifiers(text), expected) << narrow(key);
        }
    }
}

TEST(TextTables, EveryKeyTheProgramLooksUpIsPresentAndNothingElse)
{
    const std::pair<const Table*, const wchar_t*> lookedUp[] = {
        {&gameEnglish,
         L"MyLanguage English German XAxis1 YAxis1 ZAxis1 XAxis2 YAxis2 ZAxis2 Button POV0Left POV0Right POV0Up "
         L"POV0Down LeftMouse RightMouse MiddleMouse Mouse4 Mouse5 Mouse6 Mouse7 Mouse8 WheelUp WheelDown Back Enter "
         L"LeftCtrl LeftShift RightShift Space Capslock Roll NumpadEnter RightCtrl Printing Up PageUp Left Right End "
         L"Down PageDown Insert Delete LeftWindows RightWindows ControlLeft ControlRight Accelerate Brake UseRocket "
         L"UseOil UseNitro Pause Camera MenuLeft MenuRight MenuUp MenuDown MenuConfirm MenuBack Keyboard Gamepad "
         L"Control Control2 Change Default Extended NotAssigned PressKey ExtendedControl Interia Loading MyQuad "
         L"MyQuad2 Championship SoloGame GetMoreMaps Settings Settings2 Exit ExitGame Donate Yes No SelectGameMode "
         L"GameMode BattleMode Enemy Difficulty Easy Medium Hard On Off StartGame OffroadRaceDesc CaptureTheFlagDesc "
         L"ModeJamboreeDesc KnockOutDesc CircuitDesc TimeTrialDesc ChooseMap OffRoad RaceTrack Rally Daytime Day "
         L"Sunrise Sunset ChooseCountry Continue StartChampionship PointsToQualify Points MinPlace Start NeededPoints "
         L"Rank Player GameOver RestartChampionship Congratulation YouWon RaceResults LapRecords BestTime Time Date "
         L"Nickname Color BENUTZER Blue Red Yellow Green Rosa Black White Orange GiveUp ExitChampionship Graphics "
         L"Graphics2 Language Resolution Fullscreen Antialiasing Shadow Soft Bloom Apply OffRoadRace CaptureTheFlag "
         L"Jamboree KnockOut Circuit TimeTrial Laps MaxPoints Checkpoints TimeTrial2 Lap Time2 BestTime2 BestLap "
         L"GateMissed WrongWay FinalLap WrongGate MapCannotBeRaced"},
        {&errorEnglish,
         L"Error Info ErrorDetectMonitor ErrorWindowClass ErrorDirect3D ErrorWindowCreate ErrorDirect3DDevice "
         L"ErrorAudioDevice Need_Newest_DirectX D3D_Init_Error SoftwareCrashTitle SoftwareCrash "
         L"SoftwareCrashProtocolTitle SoftwareCrashProtocol"}};
    for (const auto& [table, list] : lookedUp) {
        std::wistringstream words(list);
        std::set<std::wstring> keys;
        for (std::wstring key; words >> key;)
            keys.insert(key);
        EXPECT_EQ(table->keys(), keys);
    }
}
