#include "Application/LanguageSetup.h"
#include "Application/Registry.h"
#include "Core/Language.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr uint16_t germanId = 0x0407;
constexpr uint16_t austrianGermanId = 0x0C07;
constexpr uint16_t englishUsId = 0x0409;
constexpr uint16_t japaneseId = 0x0411;

// A registry key of the test's own, removed again afterwards, so that the
// program's real key is never touched.
class LanguageSetupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        keyName = L"KorvantaTest-" + std::to_wstring(GetCurrentProcessId());
        key = Registry::open(String(keyName.c_str()));
        ASSERT_NE(key, nullptr);
        RegDeleteValueW(key, L"Language");
    }

    void TearDown() override
    {
        RegCloseKey(key);
        RegDeleteKeyW(HKEY_CURRENT_USER, (L"Software\\" + keyName).c_str());
    }

    void saveRaw(DWORD type, const void* data, uint32_t size)
    {
        RegSetValueExW(key, L"Language", 0, type, static_cast<const BYTE*>(data), size);
    }

    // The name of the language current after the start-up choice.
    std::wstring chosen(uint16_t systemLanguageId)
    {
        Language language;
        LanguageSetup::run(language, key, systemLanguageId);
        return language.getName(language.currentIndex()).text();
    }

    std::wstring keyName;
    HKEY key = nullptr;
};

} // namespace

TEST_F(LanguageSetupTest, WithoutASavedChoiceTheWindowsLanguageDecides)
{
    EXPECT_EQ(chosen(germanId), L"German");
    EXPECT_EQ(chosen(austrianGermanId), L"German");
    EXPECT_EQ(chosen(englishUsId), L"English");
    // A language without built-in texts falls back to English.
    EXPECT_EQ(chosen(japaneseId), L"English");
}

TEST_F(LanguageSetupTest, ASavedChoiceWinsOverTheWindowsLanguage)
{
    const uint32_t english = 1;
    saveRaw(REG_BINARY, &english, 4);
    EXPECT_EQ(chosen(germanId), L"English");
    const uint32_t german = 0;
    saveRaw(REG_BINARY, &german, 4);
    EXPECT_EQ(chosen(englishUsId), L"German");
}

TEST_F(LanguageSetupTest, BothLanguagesKnowTheirOwnNamesAndGermanTextsAreCurrent)
{
    Language language;
    LanguageSetup::run(language, key, germanId);
    ASSERT_EQ(language.count(), 2);
    const String& german = language.getText(nullptr, String(L"MyLanguage"), language.find(L"German"));
    const String& english = language.getText(nullptr, String(L"MyLanguage"), language.find(L"English"));
    EXPECT_GT(german.length(), 0);
    EXPECT_GT(english.length(), 0);
    EXPECT_STRNE(german.text(), english.text());
    EXPECT_STREQ(language.getText(nullptr, String(L"MyLanguage")).text(), german.text());
}

TEST_F(LanguageSetupTest, BrokenSavedValuesLeaveAUsableLanguage)
{
    // An index beyond the languages: English stays current.
    const uint32_t beyond = 7;
    saveRaw(REG_BINARY, &beyond, 4);
    EXPECT_EQ(chosen(germanId), L"English");
    const uint32_t negative = 0xFFFFFFFF;
    saveRaw(REG_BINARY, &negative, 4);
    EXPECT_EQ(chosen(germanId), L"English");
    // Values of the wrong size are no saved choice: the Windows language decides.
    const uint8_t shortValue[2] = {1, 0};
    saveRaw(REG_BINARY, shortValue, 2);
    EXPECT_EQ(chosen(germanId), L"German");
    const std::string longValue(300, '\x01');
    saveRaw(REG_BINARY, longValue.data(), uint32_t(longValue.size()));
    EXPECT_EQ(chosen(germanId), L"German");
}

TEST_F(LanguageSetupTest, RegistryQueriesLeaveTheBufferAloneOnFailure)
{
    uint32_t value = 0x55555555;
    EXPECT_EQ(Registry::queryValue(key, L"Language", &value, 4), 0u);
    EXPECT_EQ(value, 0x55555555u);
    EXPECT_EQ(Registry::queryValue(nullptr, L"Language", &value, 4), 0u);
    const uint8_t tooLong[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    saveRaw(REG_BINARY, tooLong, 8);
    EXPECT_EQ(Registry::queryValue(key, L"Language", &value, 4), 0u);
    EXPECT_EQ(value, 0x55555555u);
    const uint32_t two = 2;
    Registry::setValue(key, L"Language", REG_BINARY, &two, 4);
    EXPECT_EQ(Registry::queryValue(key, L"Language", &value, 4), 4u);
    EXPECT_EQ(value, 2u);
}
