#include "Core/Language.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

// Test tables of LanguageTestResources.rc.
namespace {

constexpr uint32_t kGameEnglish = 5101;
constexpr uint32_t kErrorEnglish = 5102;
constexpr uint32_t kGameGerman = 5103;
constexpr uint32_t kErrorGerman = 5104;
constexpr uint32_t kGameFrench = 5105;
constexpr uint32_t kMissing = 5106;
constexpr uint32_t kGarbage = 5107;
constexpr uint32_t kTruncated = 5108;

std::wstring text(const String& s)
{
    return std::wstring(s.text(), size_t(s.length()));
}

int32_t pairCount(Language& language, int32_t index)
{
    return language.languageAt(index)->pairs.count();
}

// German and English as the start-up registers them, then French as a pack.
class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Language::Pack builtIn[2] = {{kGameGerman, kErrorGerman, L"German"},
                                     {kGameEnglish, kErrorEnglish, L"English"}};
        language.addBuiltInPacks(builtIn, 2);
        german = language.find(L"German");
        english = language.find(L"English");
    }

    const std::wstring get(const wchar_t* key, int32_t index = -1)
    {
        return text(language.getText(nullptr, key, index));
    }

    Language language;
    int32_t german = -1;
    int32_t english = -1;
};

} // namespace

TEST_F(LanguageTest, BuiltInPacksMakeEnglishCurrent)
{
    EXPECT_EQ(language.count(), 2);
    EXPECT_EQ(german, 0);
    EXPECT_EQ(english, 1);
    EXPECT_EQ(language.currentIndex(), english);
    EXPECT_EQ(get(L"Hello"), L"Hello");
    // Error table: UTF-8 with the line-break escape.
    EXPECT_EQ(get(L"ErrorDirect3D"), L"Direct3D could not be started.\nPlease install DirectX 9.");
    // Only the current language has been read.
    EXPECT_EQ(pairCount(language, german), 0);
    EXPECT_EQ(text(language.getName(german)), L"German");
}

TEST_F(LanguageTest, MissingKeysFallBackToEnglishThenTheKey)
{
    language.setCurrent(german);
    EXPECT_EQ(get(L"Hello"), L"Hallo");
    EXPECT_EQ(get(L"ErrorDirect3D"), L"Direct3D ließ sich nicht starten.");
    EXPECT_EQ(get(L"OnlyEnglish"), L"Only in English");
    // The first of two lines with the same key wins.
    EXPECT_EQ(get(L"Twice"), L"Erste Zeile");
    EXPECT_EQ(get(L"Twice", english), L"First English");
    // Keys are compared exactly.
    EXPECT_EQ(get(L"hello"), L"");
    EXPECT_EQ(get(L"Hell"), L"");

    String prefix(L"Menu.");
    EXPECT_EQ(text(language.getText(&prefix, L"Start")), L"Rennen starten");
    EXPECT_EQ(text(language.getText(&prefix, L"Quit", -1, true)), L"Quit");
    EXPECT_EQ(text(language.getText(&prefix, L"Quit", -1, false)), L"");
}

TEST_F(LanguageTest, LanguageIndexOutsideTheListAsksEnglish)
{
    language.setCurrent(german);
    EXPECT_EQ(get(L"Hello", english), L"Hello");
    EXPECT_EQ(get(L"Hello", 2), L"Hello");
    EXPECT_EQ(get(L"Hello", 1000), L"Hello");
    EXPECT_EQ(get(L"Hello", -2), L"Hello");
    EXPECT_EQ(get(L"Hello", INT32_MIN), L"Hello");
    EXPECT_EQ(get(L"Hello", -1), L"Hallo");
}

TEST_F(LanguageTest, PacksKeepWantedKeysAndSwitchingReloadsInFull)
{
    language.addPack({kGameFrench, kMissing, L"French"});
    language.addPack({kGameGerman, kErrorGerman, L"French"}); // a known name is ignored
    ASSERT_EQ(language.count(), 3);
    int32_t french = language.find(L"French");

    String wanted[1] = {L"MyLanguage"};
    language.loadPacks(wanted, 1);
    // Every language names itself; reading stops at the wanted key.
    EXPECT_EQ(get(L"MyLanguage", german), L"Deutsch");
    EXPECT_EQ(get(L"MyLanguage", french), L"Français");
    EXPECT_EQ(get(L"MyLanguage", english), L"English");
    EXPECT_EQ(pairCount(language, german), 1);
    EXPECT_EQ(pairCount(language, french), 1);
    EXPECT_EQ(get(L"Hello", french), L"Hello");

    language.setCurrent(german);
    EXPECT_EQ(pairCount(language, german), 6);
    // English, left behind, keeps everything: it is the fallback (its seven
    // pairs and the name the preload added again).
    EXPECT_EQ(pairCount(language, english), 8);

    language.setCurrent(french);
    EXPECT_EQ(get(L"Hello"), L"Bonjour");
    EXPECT_EQ(pairCount(language, german), 1);
    EXPECT_EQ(get(L"MyLanguage", german), L"Deutsch");
    // French has no error table: its error texts come from English.
    EXPECT_EQ(get(L"ErrorDirect3D"), L"Direct3D could not be started.\nPlease install DirectX 9.");

    language.setCurrent(german);
    EXPECT_EQ(pairCount(language, german), 6);
    EXPECT_EQ(pairCount(language, french), 1);
    EXPECT_EQ(get(L"Menu.Start"), L"Rennen starten");

    // Indices outside the list are ignored.
    language.setCurrent(3);
    language.setCurrent(-1);
    EXPECT_EQ(language.currentIndex(), german);
}

TEST_F(LanguageTest, NamesAndSearch)
{
    EXPECT_EQ(language.find(L"english"), -1);
    EXPECT_EQ(language.find(L"Englis"), -1);
    EXPECT_EQ(text(language.getName(-1)), L"Not Found");
    EXPECT_EQ(text(language.getName(language.count())), L"Not Found");
}

TEST(LanguageTables, BrokenOrMissingTablesChangeNothing)
{
    Language language;
    Language::Pack packs[3] = {{kGarbage, kTruncated, L"Broken"},
                               {kMissing, 0, L"Empty"},
                               {kGameEnglish, kErrorEnglish, L"English"}};
    language.addBuiltInPacks(packs, 3);
    int32_t broken = language.find(L"Broken");
    language.setCurrent(broken);
    EXPECT_EQ(language.currentIndex(), broken);
    // The complete line of the cut table is read, the cut one is not.
    EXPECT_EQ(text(language.getText(nullptr, L"Hello")), L"Kaputt");
    EXPECT_EQ(text(language.getText(nullptr, L"Tail")), L"");

    language.setCurrent(language.find(L"Empty"));
    EXPECT_EQ(pairCount(language, language.find(L"Empty")), 0);
    EXPECT_EQ(text(language.getText(nullptr, L"Hello")), L"Hello");
}

TEST(LanguageTables, WithoutLanguagesOrWithoutEnglish)
{
    Language none;
    EXPECT_EQ(text(none.getText(nullptr, L"Error")), L"");
    EXPECT_EQ(text(none.getText(nullptr, L"Error", -1, true)), L"Error");
    EXPECT_EQ(text(none.getName(0)), L"Not Found");

    // No "English" to fall back to: the lookup ends in the fallback, not out of bounds.
    Language germanOnly;
    Language::Pack pack{kGameGerman, kErrorGerman, L"German"};
    germanOnly.addBuiltInPacks(&pack, 1);
    EXPECT_EQ(germanOnly.currentIndex(), 0);
    germanOnly.setCurrent(0);
    EXPECT_EQ(text(germanOnly.getText(nullptr, L"Hello")), L"Hallo");
    EXPECT_EQ(text(germanOnly.getText(nullptr, L"Hello", 5, true)), L"Hello");
    EXPECT_EQ(text(germanOnly.getText(nullptr, L"Hello", -7)), L"");
}

TEST(LanguageTables, SystemLanguageIdentifiers)
{
    EXPECT_STREQ(Language::nameForLanguageId(0x407), L"German");
    EXPECT_STREQ(Language::nameForLanguageId(0x1407), L"German");
    EXPECT_STREQ(Language::nameForLanguageId(0x40A), L"Spanish");
    EXPECT_STREQ(Language::nameForLanguageId(0x2C0A), L"Spanish");
    EXPECT_STREQ(Language::nameForLanguageId(0x4C0A), L"Spanish");
    EXPECT_STREQ(Language::nameForLanguageId(0x500A), L"English");
    EXPECT_STREQ(Language::nameForLanguageId(0x00A), L"English");
    EXPECT_STREQ(Language::nameForLanguageId(0x4001), L"Arabic");
    EXPECT_STREQ(Language::nameForLanguageId(0x41A), L"Croatian");
    EXPECT_STREQ(Language::nameForLanguageId(0x81A), L"Serbian");
    EXPECT_STREQ(Language::nameForLanguageId(0x418), L"Romanian");
    EXPECT_STREQ(Language::nameForLanguageId(0x48F), L"Esperanto");
    EXPECT_STREQ(Language::nameForLanguageId(0x409), L"English");
    EXPECT_STREQ(Language::nameForLanguageId(0x40B), L"English"); // Finnish has no table
    EXPECT_STREQ(Language::nameForLanguageId(0), L"English");

    Language language;
    Language::Pack packs[2] = {{kGameGerman, kErrorGerman, L"German"},
                               {kGameEnglish, kErrorEnglish, L"English"}};
    language.addBuiltInPacks(packs, 2);
    EXPECT_EQ(language.systemLanguageName(), language.find(Language::nameForLanguageId(GetUserDefaultLangID())));
}

TEST_F(LanguageTest, SavedChoiceInTheRegistry)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\KorvantaLanguageTest", &key), ERROR_SUCCESS);
    RegDeleteValueW(key, L"Language");
    EXPECT_FALSE(language.readSavedChoice(key, L"Language"));

    language.setCurrent(german);
    language.saveToRegistry(key, L"Language");
    DWORD type = 0;
    BYTE bytes[8] = {};
    DWORD size = sizeof(bytes);
    ASSERT_EQ(RegQueryValueExW(key, L"Language", nullptr, &type, bytes, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(bytes[0], 0);

    language.setCurrent(english);
    EXPECT_TRUE(language.readSavedChoice(key, L"Language"));
    language.applySavedChoice(key, L"Language");
    EXPECT_EQ(language.currentIndex(), german);
    EXPECT_EQ(get(L"Hello"), L"Hallo");

    // A saved index beyond the list leaves the current language.
    int32_t beyond = 7;
    RegSetValueExW(key, L"Language", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&beyond), 4);
    language.setCurrent(english);
    language.applySavedChoice(key, L"Language");
    EXPECT_EQ(language.currentIndex(), english);

    // A value of another size is no saved choice.
    uint16_t shortValue = 1;
    RegSetValueExW(key, L"Language", 0, REG_BINARY, reinterpret_cast<const BYTE*>(&shortValue), 2);
    EXPECT_FALSE(language.readSavedChoice(key, L"Language"));

    // Without a key nothing is read or written; applying then picks index 0.
    EXPECT_FALSE(language.readSavedChoice(nullptr, L"Language"));
    language.saveToRegistry(nullptr, L"Language");
    language.applySavedChoice(nullptr, L"Language");
    EXPECT_EQ(language.currentIndex(), 0);

    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\KorvantaLanguageTest");
}
