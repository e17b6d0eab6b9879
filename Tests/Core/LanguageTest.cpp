#include "Core/Language.h"

#include <gtest/gtest.h>

#include <string>

// Small tables of LanguageTestResources.rc: game tables UTF-16, error tables UTF-8.
namespace
{
constexpr uint32_t kGameEnglish = 5101, kErrorEnglish = 5102, kGameGerman = 5103, kErrorGerman = 5104;
constexpr uint32_t kGameFrench = 5105, kMissing = 5106, kGarbage = 5107, kTruncated = 5108;
const wchar_t* const kDirect3DEnglish = L"Direct3D could not be started.\nPlease install DirectX 9.";

std::wstring text(const String& s)
{
    return std::wstring(s.text(), size_t(s.length()));
}

// German and English as the start-up registers them.
class LanguageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        Language::Pack builtIn[2] = {{kGameGerman, kErrorGerman, L"German"}, {kGameEnglish, kErrorEnglish, L"English"}};
        language.addBuiltInPacks(builtIn, 2);
        german = language.find(L"German");
        english = language.find(L"English");
    }

    std::wstring get(const wchar_t* key, int32_t index = -1) { return text(language.getText(nullptr, key, index)); }

    Language language;
    int32_t german = -1;
    int32_t english = -1;
};
}

TEST_F(LanguageTest, KeysMissingInGermanFallBackToEnglishThenToTheKey)
{
    EXPECT_EQ(language.currentIndex(), english);
    EXPECT_EQ(get(L"ErrorDirect3D"), kDirect3DEnglish);
    language.setCurrent(german);
    EXPECT_EQ(get(L"Hello"), L"Hallo");
    EXPECT_EQ(get(L"ErrorDirect3D"), L"Direct3D ließ sich nicht starten.");
    EXPECT_EQ(get(L"OnlyEnglish"), L"Only in English");
    EXPECT_EQ(get(L"Twice"), L"Erste Zeile") << "the first of two lines wins";
    EXPECT_EQ(get(L"hello"), L"") << "keys compare exactly";

    String prefix(L"Menu.");
    EXPECT_EQ(text(language.getText(&prefix, L"Start")), L"Rennen starten");
    EXPECT_EQ(text(language.getText(&prefix, L"Quit", -1, true)), L"Quit");
    EXPECT_EQ(text(language.getText(&prefix, L"Quit", -1, false)), L"");
}

TEST_F(LanguageTest, IndicesOutsideTheListAskEnglish)
{
    language.setCurrent(german);
    EXPECT_EQ(get(L"Hello", -1), L"Hallo");
    for (int32_t index : {2, 1000, -2, INT32_MIN})
        EXPECT_EQ(get(L"Hello", index), L"Hello") << index;
    language.setCurrent(5);
    EXPECT_EQ(language.currentIndex(), german);
    EXPECT_EQ(text(language.getName(-1)), L"Not Found");
}

TEST_F(LanguageTest, PacksNameThemselvesAndSwitchingReadsTheWholeTable)
{
    language.addPack({kGameFrench, kMissing, L"French"});
    const int32_t french = language.find(L"French");
    const String wanted[1] = {L"MyLanguage"};
    language.loadPacks(wanted, 1);
    EXPECT_EQ(get(L"MyLanguage", french), L"Français");
    EXPECT_EQ(get(L"Hello", french), L"Hello") << "only the wanted key is kept";

    language.setCurrent(french);
    EXPECT_EQ(get(L"Hello"), L"Bonjour");
    EXPECT_EQ(get(L"ErrorDirect3D"), kDirect3DEnglish) << "French has no error table";
    EXPECT_EQ(get(L"MyLanguage", german), L"Deutsch");
}

// With several wanted keys every language that is not current keeps just
// those, read ahead and again after it was current; English keeps its all.
TEST_F(LanguageTest, LanguagesLeftBehindKeepEveryWantedKey)
{
    language.addPack({kGameFrench, kMissing, L"French"});
    const int32_t french = language.find(L"French");
    const String wanted[3] = {L"MyLanguage", L"Hello", L"Menu.Start"};
    language.loadPacks(wanted, 3);
    const auto expectWanted = [&] {
        EXPECT_EQ(get(L"MyLanguage", french), L"Français");
        EXPECT_EQ(get(L"Hello", french), L"Bonjour");
        EXPECT_EQ(get(L"MyLanguage", german), L"Deutsch");
        EXPECT_EQ(get(L"Hello", german), L"Hallo");
        EXPECT_EQ(get(L"Menu.Start", german), L"Rennen starten");
        EXPECT_EQ(get(L"Twice", german), L"First English") << "not wanted: English stands in";
    };
    expectWanted();
    language.setCurrent(german);
    EXPECT_EQ(get(L"Twice"), L"Erste Zeile");
    language.setCurrent(french);
    expectWanted();
    language.setCurrent(english);
    EXPECT_EQ(get(L"Twice", english), L"First English");
    language.setCurrent(french);
    EXPECT_EQ(get(L"OnlyEnglish", english), L"Only in English") << "English keeps everything";
}

TEST(LanguageTables, BrokenMissingOrWithoutEnglish)
{
    Language language;
    Language::Pack packs[3] = {
        {kGarbage, kTruncated, L"Broken"}, {kMissing, 0, L"Empty"}, {kGameEnglish, kErrorEnglish, L"English"}};
    language.addBuiltInPacks(packs, 3);
    language.setCurrent(language.find(L"Broken"));
    EXPECT_EQ(text(language.getText(nullptr, L"Hello")), L"Kaputt");
    EXPECT_EQ(text(language.getText(nullptr, L"Tail")), L"") << "the cut last line is not read";
    language.setCurrent(language.find(L"Empty"));
    EXPECT_EQ(text(language.getText(nullptr, L"Hello")), L"Hello");

    Language none;
    EXPECT_EQ(text(none.getText(nullptr, L"Error", -1, true)), L"Error");
    Language germanOnly;
    Language::Pack pack{kGameGerman, kErrorGerman, L"German"};
    germanOnly.addBuiltInPacks(&pack, 1);
    EXPECT_EQ(text(germanOnly.getText(nullptr, L"Hello", 5, true)), L"Hello");
    EXPECT_EQ(text(germanOnly.getText(nullptr, L"Hello", -7)), L"");
}
