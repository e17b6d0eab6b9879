// End to end: the built Korvanta.exe under Wine and Xvfb, with its files in
// the prefix's application-data folder and registry key.
#include "AppTestFiles.h"
#include "ProgramRun.h"

#include "Application/ControlBindings.h"
#include "Application/GlobalSettings.h"
#include "Application/WinShell.h"
#include "Core/FileArray.h"
#include "Core/Language.h"
#include "Landscape/Scene.h"
#include "Objects/ObjectPackage.h"

#include <gtest/gtest.h>
#include <process.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

namespace {

const std::wstring programPath = L"" KORVANTA_EXE_PATH;
const wchar_t windowClass[] = L"Korvanta - Korvanta";

// The default settings with the default control bindings, as the program stores them.
std::vector<uint8_t> storedDefaults()
{
    Control controls;
    Control::setDefaultKeys(controls.keyboardSet);
    Control::setDefaultJoystick(controls.joystickSet);
    GlobalSettings settings;
    settings.controls = &controls;
    FileArray stream(256);
    settings.writeTo(stream);
    return std::vector<uint8_t>(stream.memory(), stream.memory() + stream.size());
}

// The window's client area as the screen shows it, as a 24-bit BMP file.
bool saveScreenshot(HWND window, const std::wstring& path)
{
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), client.right, client.bottom, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    const uint32_t pixelBytes = ((uint32_t(client.right) * 3 + 3) & ~3u) * uint32_t(client.bottom);
    std::vector<uint8_t> file{'B', 'M'};
    for (uint32_t word : {uint32_t(14 + sizeof(header) + pixelBytes), 0u, uint32_t(14 + sizeof(header))})
        AppTestFiles::putU32(file, word);
    file.insert(file.end(), reinterpret_cast<uint8_t*>(&header), reinterpret_cast<uint8_t*>(&header + 1));
    file.resize(file.size() + pixelBytes);
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool ok = pixelBytes && BitBlt(memory, 0, 0, client.right, client.bottom, screen, origin.x, origin.y, SRCCOPY);
    SelectObject(memory, old);
    ok = ok && GetDIBits(memory, bitmap, 0, UINT(client.bottom), file.data() + 14 + sizeof(header),
                         reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == client.bottom;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok && AppTestFiles::write(path, file);
}

// The program's folder in the prefix's application data.
std::wstring settingsFolder()
{
    const std::wstring folder = std::wstring(WinShell::getAppDataFolder().text()) + L"\\Korvanta\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// Where a thread began: the routine its creator handed to Windows.
void* startAddressOf(HANDLE thread)
{
    using Query = NTSTATUS(NTAPI*)(HANDLE, THREADINFOCLASS, PVOID, ULONG, PULONG);
    static const auto query =
        reinterpret_cast<Query>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationThread"));
    void* address = nullptr;
    if (!query || query(thread, ThreadQuerySetWin32StartAddress, &address, sizeof(address), nullptr) != 0)
        return nullptr;
    return address;
}

// The threads of a process that the C run-time library started (the
// program's own threads; Windows and its libraries start theirs otherwise).
int runtimeThreadsOf(DWORD process)
{
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE probe = reinterpret_cast<HANDLE>(_beginthreadex(
        nullptr, 0, [](void* event) -> unsigned { return WaitForSingleObject(event, INFINITE); }, go, 0, nullptr));
    Sleep(50);
    void* const runtimeStart = startAddressOf(probe);
    SetEvent(go);
    WaitForSingleObject(probe, INFINITE);
    CloseHandle(probe);
    CloseHandle(go);
    int count = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != process)
            continue;
        HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
        if (thread && runtimeStart && startAddressOf(thread) == runtimeStart)
            ++count;
        if (thread)
            CloseHandle(thread);
    }
    CloseHandle(snapshot);
    return count;
}

} // namespace

// The physics thread runs beside the main loop from the end of the start-up
// and ends before the program does: a close ends the program at once.
TEST(KorvantaProgram, StartsItsPhysicsThreadAndQuitsCleanly)
{
    const std::wstring folder = settingsFolder();
    GlobalSettings seeded(folder.c_str());
    seeded.width = 320;
    seeded.height = 240;
    seeded.options.fullScreen = 0;
    ASSERT_TRUE(seeded.writeFile());

    ProgramRun run(programPath);
    HWND window = run.waitForWindow(windowClass);
    ASSERT_NE(window, nullptr);
    // The window shows before the start-up ends; the thread comes at its end.
    int threads = 0;
    run.waitWhileWorking([&] { return (threads = runtimeThreadsOf(run.process.dwProcessId)) != 0; });
    EXPECT_EQ(threads, 1);
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.waitForEnd(), 0);
}

// Size and move messages arrive from the start on (a maximised start, then
// sent directly, as Wine need not maximise without a window manager); frames
// run on the device, which survives a reset asked for by the end of a move.
// The run leaves "korvanta-frames.bmp" beside the program as an artefact.
TEST(KorvantaProgram, RunsWindowedFromItsSettingsThroughResizeAndResetAndQuits)
{
    const std::wstring folder = settingsFolder();
    GlobalSettings seeded(folder.c_str());
    seeded.width = 640;
    seeded.height = 480;
    seeded.options.fullScreen = 0;
    seeded.options.option3 = 1; // the glow runs through the frames and the resets
    // A championship under way, its race number beyond the seven races: the
    // race logic takes the table at start and gives it back in range.
    const uint8_t progress[13] = {'D', 'E', 1, 1, 9, 34, 20, 18, 25, 9, 4, 12, 0};
    std::copy(progress, progress + 13, seeded.gameRecords[2].bytes);
    ASSERT_TRUE(seeded.writeFile());

    ProgramRun run(programPath, L"", SW_SHOWMAXIMIZED);
    HWND window = run.waitForWindow(windowClass);
    ASSERT_NE(window, nullptr);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"Korvanta");
    // The window shows early in the start-up, which goes on (device, sound,
    // packages, the menu file) before the main loop answers.
    EXPECT_TRUE(run.answers(window, WM_NULL));
    for (const auto& [message, wParam, lParam] : {std::tuple{WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(1024, 700)},
                                                  std::tuple{WM_MOVE, 0, MAKELPARAM(0, 0)},
                                                  std::tuple{WM_SIZE, SIZE_RESTORED, MAKELPARAM(640, 480)}})
        EXPECT_TRUE(run.answers(window, message, wParam, lParam));
    // The main loop answers once a frame: thirty frames rendered.
    for (int frame = 0; frame < 30; ++frame)
        ASSERT_TRUE(run.answers(window, WM_NULL)) << "the main loop does not answer while rendering";
    const std::wstring programFolder = programPath.substr(0, programPath.find_last_of(L"/\\"));
    EXPECT_TRUE(saveScreenshot(window, programFolder + L"\\korvanta-frames.bmp"));
    PostMessageW(window, WM_EXITSIZEMOVE, 0, 0);
    for (int frame = 0; frame < 30; ++frame)
        ASSERT_TRUE(run.answers(window, WM_NULL)) << "the program does not answer after a device reset";

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.waitForEnd(), 0);
    GlobalSettings stored(folder.c_str());
    EXPECT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(stored.width, 640u);
    EXPECT_EQ(stored.options.fullScreen, 0u);
    EXPECT_EQ(stored.options.option3, 1u);
    EXPECT_EQ(languageValue().size(), 4u);
    std::vector<uint8_t> expected(progress, progress + 13);
    expected[4] = 6;
    EXPECT_EQ(std::vector<uint8_t>(stored.gameRecords[2].bytes, stored.gameRecords[2].bytes + 13), expected);
}

// Without a settings file, or with a broken one (kept aside under a free name)
// and a broken language value, the program starts with the defaults and saves
// the Windows language (German 0, English 1), not whatever index it held
// before the set-up.
TEST(KorvantaProgram, FirstStartAndBrokenFilesGiveTheDefaultsAndTheWindowsLanguage)
{
    const std::wstring path = settingsFolder() + L"gset.dat";
    const bool german = wcscmp(Language::nameForLanguageId(GetUserDefaultLangID()), L"German") == 0;
    const std::vector<uint8_t> windowsLanguage = {uint8_t(german ? 0 : 1), 0, 0, 0};
    std::vector<uint8_t> garbage;
    for (int i = 0; i < 333; ++i)
        garbage.push_back(uint8_t(i * 37 + 11));
    for (bool broken : {false, true}) {
        SCOPED_TRACE(broken ? "broken" : "first start");
        for (const wchar_t* name : {L"", L".bad", L".bad.1"})
            DeleteFileW((path + name).c_str());
        RemoveDirectoryW((path + L".bad").c_str());
        RegDeleteKeyValueW(HKEY_CURRENT_USER, L"Software\\Korvanta", L"Language");
        if (broken) {
            ASSERT_TRUE(AppTestFiles::write(path, garbage));
            // The usual name for a damaged file is taken: the next free one is used.
            ASSERT_TRUE(CreateDirectoryW((path + L".bad").c_str(), nullptr));
            const std::string tooLong(300, '\x7F');
            RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Korvanta", L"Language", REG_BINARY, tooLong.data(), 300);
        }

        ProgramRun run(programPath);
        HWND window = run.waitForWindow(windowClass);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(AppTestFiles::read(path), storedDefaults()); // written at start-up already
        PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.waitForEnd(), 0);
        EXPECT_EQ(AppTestFiles::read(path), storedDefaults());
        EXPECT_EQ(languageValue(), windowsLanguage);
        EXPECT_EQ(AppTestFiles::read(path + L".bad.1"), broken ? garbage : std::vector<uint8_t>());
    }
    RemoveDirectoryW((path + L".bad").c_str());
}

// A start that fails on the device (Wine's Direct3D turned off for the
// program) closes the window, which saves the settings: with the player's
// bindings, not without them.
TEST(KorvantaProgram, AFailedStartKeepsThePlayersBindings)
{
    const wchar_t wineDirect3D[] = L"Software\\Wine\\AppDefaults\\Korvanta.exe\\Direct3D";
    struct NoDirect3D {
        explicit NoDirect3D(const wchar_t* key)
        {
            ok = RegSetKeyValueW(HKEY_CURRENT_USER, key, L"renderer", REG_SZ, L"no3d", 10) == ERROR_SUCCESS;
        }
        ~NoDirect3D() { RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Korvanta.exe"); }
        bool ok = false;
    } noDirect3D(wineDirect3D);
    ASSERT_TRUE(noDirect3D.ok);

    // A returning player's start: the program's registry key exists. Without
    // it the start is the first, which takes the largest display mode full
    // screen and so saves other settings; whether the key is there must not
    // depend on which program ran in the prefix before (the play runs and
    // the menu's first-start test delete it).
    HKEY programKey = nullptr;
    ASSERT_EQ(RegCreateKeyW(HKEY_CURRENT_USER, L"Software\\Korvanta", &programKey), ERROR_SUCCESS);
    RegCloseKey(programKey);

    const std::wstring folder = settingsFolder();
    Control custom;
    Control::setDefaultKeys(custom.keyboardSet);
    Control::setDefaultJoystick(custom.joystickSet);
    custom.keyboardSet.keys[0] = &gUserInput.state.keyHeld[DIK_W];
    custom.steeringMode = 4;
    GlobalSettings seeded(folder.c_str());
    seeded.options.fullScreen = 0;
    seeded.controls = &custom;
    ASSERT_TRUE(seeded.writeFile());
    const std::vector<uint8_t> before = AppTestFiles::read(folder + L"gset.dat");

    ProgramRun run(programPath);
    // Answer the failure boxes until the program ends.
    run.waitWhileWorking([&] {
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
            DWORD owner = 0;
            GetWindowThreadProcessId(box, &owner);
            if (owner == run.process.dwProcessId)
                PostMessageW(box, WM_COMMAND, IDOK, 0);
        }
        return false;
    });
    const long code = run.waitForExit(0);
    EXPECT_NE(code, -1000) << "the program did not end";
    EXPECT_NE(code, 0);

    Control read;
    GlobalSettings stored(folder.c_str());
    stored.controls = &read;
    EXPECT_EQ(stored.load(), GlobalSettings::LoadResult::Read);
    EXPECT_EQ(read.keyboardSet.keys[0], custom.keyboardSet.keys[0]);
    EXPECT_EQ(read.steeringMode, 4u);
    EXPECT_EQ(AppTestFiles::read(folder + L"gset.dat"), before);
}

// These runs write the program's settings, registry values and damaged files:
// they must do so in the tests' own Wine prefix, never in the player's.
TEST(KorvantaProgram, TestsRunInAWinePrefixOfTheirOwn)
{
    char prefix[1024] = {};
    const DWORD n = GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix));
    ASSERT_TRUE(n > 0 && n < sizeof(prefix));
    // "wineprefix-tests", or one of a test program's own ("wineprefix-tests-<program>").
    const std::string path(prefix);
    const size_t name = path.rfind('/');
    ASSERT_NE(name, std::string::npos) << prefix;
    EXPECT_TRUE(path.compare(name, std::string::npos, "/wineprefix-tests") == 0 ||
                path.compare(name, 18, "/wineprefix-tests-") == 0)
        << prefix;
}

// The start-up lists the objects folder the builder made beside the program
// and takes its "Camera" package as the camera objects' type, then the
// program quits cleanly.
TEST(KorvantaProgram, ListsTheBuildersObjectsAndFindsTheCameraPackage)
{
    const std::wstring objects = programPath.substr(0, programPath.find_last_of(L"/\\") + 1) + L"Objects\\";
    ASSERT_NE(GetFileAttributesW((objects + L"Camera.teo").c_str()), INVALID_FILE_ATTRIBUTES);
    // What the start-up does with that folder, here in the test's process.
    Scene scene(String(L"KorvantaTests"), 3500.0f);
    scene.objectPackages.loadFolder(String(objects.c_str()));
    scene.setCameraObjectType(String(L"Camera"));
    EXPECT_GE(scene.objectPackages.packages.count(), 3) << std::string(objects.begin(), objects.end());
    ASSERT_NE(scene.cameraType, nullptr);

    const std::wstring folder = settingsFolder();
    GlobalSettings seeded(folder.c_str());
    seeded.width = 320;
    seeded.height = 240;
    seeded.options.fullScreen = 0;
    ASSERT_TRUE(seeded.writeFile());
    ProgramRun run(programPath);
    HWND window = run.waitForWindow(windowClass);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(run.answers(window, WM_NULL)) << "the start-up did not come to the main loop";
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.waitForEnd(), 0);
}
