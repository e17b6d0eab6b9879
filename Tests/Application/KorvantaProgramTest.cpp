// End to end: the built Korvanta.exe starts in this test's Wine prefix, shows
// its window, keeps its settings and quits cleanly when the window is closed.
// The program's files live in the prefix's own application-data folder;
// every test seeds or removes them first.
#include "AppTestFiles.h"
#include "ProgramRun.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"
#include "Application/WinShell.h"
#include "Core/FileArray.h"
#include "Core/Language.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef KORVANTA_EXE_PATH
#error "KORVANTA_EXE_PATH names the built Korvanta.exe"
#endif

namespace {

const std::wstring programPath = L"" KORVANTA_EXE_PATH;
const wchar_t windowClassName[] = L"Korvanta - Korvanta";

std::wstring settingsFolder()
{
    return std::wstring(WinShell::getAppDataFolder().text()) + L"\\Korvanta\\";
}

// The program stores its default control bindings with the settings.
std::vector<uint8_t> storedForm(const GlobalSettings& settings)
{
    Control controls;
    Control::setDefaultKeys(controls.keyboardSet);
    Control::setDefaultJoystick(controls.joystickSet);
    GlobalSettings withControls(settings);
    withControls.controls = &controls;
    FileArray stream(256);
    withControls.writeTo(stream);
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

// The registry value "Language": its type and bytes (empty when missing).
std::vector<uint8_t> languageValue(DWORD* type)
{
    std::vector<uint8_t> bytes;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Korvanta", 0, KEY_READ, &key) != ERROR_SUCCESS)
        return bytes;
    DWORD size = 0;
    if (RegQueryValueExW(key, L"Language", nullptr, type, nullptr, &size) == ERROR_SUCCESS) {
        bytes.resize(size);
        if (size && RegQueryValueExW(key, L"Language", nullptr, type, bytes.data(), &size) != ERROR_SUCCESS)
            bytes.clear();
    }
    RegCloseKey(key);
    return bytes;
}

void setLanguageValue(const std::vector<uint8_t>& bytes)
{
    HKEY key = nullptr;
    if (RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\Korvanta", &key) != ERROR_SUCCESS)
        return;
    if (bytes.empty())
        RegDeleteValueW(key, L"Language");
    else
        RegSetValueExW(key, L"Language", 0, REG_BINARY, bytes.data(), DWORD(bytes.size()));
    RegCloseKey(key);
}

class KorvantaProgram : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = settingsFolder();
        CreateDirectoryW(folder.c_str(), nullptr);
        path = folder + L"gset.dat";
        DeleteFileW(path.c_str());
        DeleteFileW((path + L".bad").c_str());
    }

    // A windowed 640 x 480 settings file.
    void seedWindowed()
    {
        GlobalSettings seeded(String(folder.c_str()));
        seeded.width = 640;
        seeded.height = 480;
        seeded.options.fullScreen = 0;
        ASSERT_TRUE(seeded.writeFile());
    }

    std::wstring folder;
    std::wstring path;
};

} // namespace

TEST_F(KorvantaProgram, StartsWindowedFromItsSettingsAndQuitsWhenClosed)
{
    seedWindowed();
    ProgramRun run(programPath);
    ASSERT_TRUE(run.started);
    HWND window = run.waitForWindow(windowClassName);
    ASSERT_NE(window, nullptr) << "no window of class " << "Korvanta - Korvanta";

    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"Korvanta");
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 640);
    EXPECT_EQ(client.bottom - client.top, 480);

    EXPECT_EQ(run.closeAndWait(window), 0);

    GlobalSettings stored(String(folder.c_str()));
    EXPECT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(stored.width, 640u);
    EXPECT_EQ(stored.options.fullScreen, 0u);
    DWORD type = 0;
    const std::vector<uint8_t> language = languageValue(&type);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(language.size(), 4u);
}

TEST_F(KorvantaProgram, FirstStartWritesTheDefaultsAndTheWindowsLanguage)
{
    setLanguageValue({});
    ProgramRun run(programPath);
    HWND window = run.waitForWindow(windowClassName);
    ASSERT_NE(window, nullptr);
    // Written at start-up already, before the window is closed.
    EXPECT_EQ(AppTestFiles::read(path), storedForm(GlobalSettings()));
    EXPECT_EQ(run.closeAndWait(window), 0);
    EXPECT_EQ(AppTestFiles::read(path), storedForm(GlobalSettings()));

    // The saved language is the user's Windows language (German is index 0,
    // English 1), not whatever index the language object held before the
    // languages were set up.
    const bool german = wcscmp(Language::nameForLanguageId(GetUserDefaultLangID()), L"German") == 0;
    DWORD type = 0;
    const std::vector<uint8_t> language = languageValue(&type);
    ASSERT_EQ(language.size(), 4u);
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(language, (std::vector<uint8_t>{uint8_t(german ? 0 : 1), 0, 0, 0}));
}

TEST_F(KorvantaProgram, BrokenSettingsAndLanguageValueStillStartWithDefaults)
{
    std::vector<uint8_t> garbage;
    for (int i = 0; i < 333; ++i)
        garbage.push_back(uint8_t(i * 37 + 11));
    ASSERT_TRUE(AppTestFiles::write(path, garbage));
    setLanguageValue(std::vector<uint8_t>(300, 0x7F));

    ProgramRun run(programPath);
    HWND window = run.waitForWindow(windowClassName);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(run.closeAndWait(window), 0);

    EXPECT_EQ(AppTestFiles::read(path + L".bad"), garbage);
    EXPECT_EQ(AppTestFiles::read(path), storedForm(GlobalSettings()));
    DWORD type = 0;
    EXPECT_EQ(languageValue(&type).size(), 4u);
}

// A maximised start and a maximise later on send WM_SIZE and WM_MOVE, the
// first ones while start-up is still under way: the program must take them
// and run on. (Whether Wine maximises without a window manager is its own
// business, so the messages are also sent directly.)
TEST_F(KorvantaProgram, TakesSizeAndMoveMessagesFromTheStartOn)
{
    seedWindowed();
    ProgramRun run(programPath, L"", SW_SHOWMAXIMIZED);
    HWND window = run.waitForWindow(windowClassName);
    ASSERT_NE(window, nullptr);
    DWORD_PTR result = 0;
    EXPECT_NE(SendMessageTimeoutW(window, WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(1024, 700), SMTO_NORMAL, 5000, &result),
              0);
    EXPECT_NE(SendMessageTimeoutW(window, WM_MOVE, 0, MAKELPARAM(0, 0), SMTO_NORMAL, 5000, &result), 0);
    EXPECT_NE(SendMessageTimeoutW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480), SMTO_NORMAL, 5000, &result),
              0);
    EXPECT_EQ(WaitForSingleObject(run.process.hProcess, 200), DWORD(WAIT_TIMEOUT));
    EXPECT_EQ(run.closeAndWait(window), 0);
}
