#include "Application/LanguageSetup.h"
#include "Application/Registry.h"
#include "Core/Language.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// The saved choice (registry value "Language", a 4-byte index: German 0,
// English 1) wins over the Windows language; values that name no language
// leave English, values of the wrong size or type count as no choice.
TEST(LanguageSetup, ChoosesFromTheSavedValueOrTheWindowsLanguage)
{
    const std::wstring keyName = L"KorvantaTest-" + std::to_wstring(GetCurrentProcessId());
    HKEY key = Registry::open(keyName.c_str());
    ASSERT_NE(key, nullptr);
    struct Case {
        std::vector<uint8_t> saved; // empty: no value
        uint16_t languageId;
        const wchar_t* expected;
        DWORD type = REG_BINARY;
    };
    const Case cases[] = {
        {{}, 0x0407, L"German"},          {{}, 0x0C07, L"German"},
        {{}, 0x0409, L"English"},         {{}, 0x0411, L"English"}, // no built-in texts
        {{1, 0, 0, 0}, 0x0407, L"English"}, {{0, 0, 0, 0}, 0x0409, L"German"},
        {{7, 0, 0, 0}, 0x0407, L"English"}, {{0xFF, 0xFF, 0xFF, 0xFF}, 0x0407, L"English"},
        {{1, 0}, 0x0407, L"German"},      {std::vector<uint8_t>(300, 1), 0x0407, L"German"},
        // four bytes of another type are no saved choice: a DWORD 0, the text "a"
        {{0, 0, 0, 0}, 0x0409, L"English", REG_DWORD}, {{'a', 0, 0, 0}, 0x0407, L"German", REG_SZ},
        {{1, 0, 0, 0}, 0x0407, L"German", REG_NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.saved.size() << " bytes, language " << c.languageId);
        RegDeleteValueW(key, L"Language");
        if (!c.saved.empty())
            RegSetValueExW(key, L"Language", 0, c.type, c.saved.data(), DWORD(c.saved.size()));
        Language language;
        LanguageSetup::run(language, key, c.languageId);
        EXPECT_STREQ(language.getName(language.currentIndex()).text(), c.expected);
    }
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, (L"Software\\" + keyName).c_str());
}

// Values of the program's key: written and read back whole; a value that does
// not fit leaves the buffer as it was; without a key nothing is read or written.
TEST(Registry, ValuesRoundTripAndMisfitsLeaveTheBufferAlone)
{
    const std::wstring keyName = L"KorvantaTest-Values-" + std::to_wstring(GetCurrentProcessId());
    HKEY key = Registry::open(keyName.c_str());
    ASSERT_NE(key, nullptr);
    const uint8_t value[6] = {1, 2, 3, 4, 5, 6};
    Registry::setValue(key, L"Six", REG_BINARY, value, sizeof(value));
    uint8_t buffer[8] = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(Registry::queryValue(key, L"Six", buffer, sizeof(buffer)), 6u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 8), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 9, 9}));
    uint8_t small[4] = {7, 7, 7, 7};
    EXPECT_EQ(Registry::queryValue(key, L"Six", small, sizeof(small)), 0u);
    EXPECT_EQ(std::vector<uint8_t>(small, small + 4), (std::vector<uint8_t>{7, 7, 7, 7}));
    EXPECT_EQ(Registry::queryValue(key, L"None", buffer, sizeof(buffer)), 0u);
    Registry::setValue(nullptr, L"Six", REG_BINARY, value, 2);
    EXPECT_EQ(Registry::queryValue(nullptr, L"Six", buffer, sizeof(buffer)), 0u);
    EXPECT_EQ(Registry::queryValue(key, L"Six", buffer, sizeof(buffer)), 6u);
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, (L"Software\\" + keyName).c_str());
}
