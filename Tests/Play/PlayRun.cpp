#include "PlayRun.h"

#include "SprintLevel.h"

#include "ImageFileWriter.h"

#include "Application/WinShell.h"
#include "Core/Timer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

const std::wstring builtProgram = L"" KORVANTA_EXE_PATH;
const wchar_t windowClass[] = L"Korvanta - Korvanta";

std::wstring folderOf(const std::wstring& path)
{
    return path.substr(0, path.find_last_of(L"/\\") + 1);
}

// Copies the tree below from into to (both end with a separator), leaving
// out the folders named in skip (relative, ending with a backslash).
bool copyTree(const std::wstring& from, const std::wstring& to, const std::vector<std::wstring>& skip,
              const std::wstring& relative = L"")
{
    CreateDirectoryW((to + relative).c_str(), nullptr);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + relative + L"*").c_str(), &found);
    bool ok = search != INVALID_HANDLE_VALUE;
    for (bool more = ok; more; more = FindNextFileW(search, &found)) {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            const std::wstring sub = relative + name + L"\\";
            if (std::find(skip.begin(), skip.end(), sub) == skip.end())
                ok = copyTree(from, to, skip, sub) && ok;
        } else {
            ok = CopyFileW((from + relative + name).c_str(), (to + relative + name).c_str(), FALSE) && ok;
        }
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return ok;
}

void removeFiles(const std::wstring& folder, const std::wstring& pattern)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + pattern).c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            SetFileAttributesW((folder + found.cFileName).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW((folder + found.cFileName).c_str());
        }
    }
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
}

uint8_t channel(uint32_t pixel, int shift)
{
    return uint8_t(pixel >> shift);
}

// The keys whose scan codes carry the extended flag (DirectInput tells the
// arrows from the number pad's keys by it).
bool isExtended(WORD key)
{
    return key == VK_UP || key == VK_DOWN || key == VK_LEFT || key == VK_RIGHT;
}

// Sends one key event; false when it took the 2 s that Wine's server gives
// the low-level keyboard hooks to answer, after which it passes the key on
// without them: DirectInput, which reads the keyboard through such a hook,
// then never saw it.
bool sendKey(WORD key, bool down)
{
    INPUT event{};
    event.type = INPUT_KEYBOARD;
    event.ki.wVk = key;
    event.ki.wScan = WORD(MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    event.ki.dwFlags = (down ? 0 : KEYEVENTF_KEYUP) | (isExtended(key) ? KEYEVENTF_EXTENDEDKEY : 0);
    const ULONGLONG start = GetTickCount64();
    SendInput(1, &event, sizeof(INPUT));
    return GetTickCount64() - start < 2000;
}

// A key let go, sent again until the hooks saw it go: one they missed
// would stay held for the game.
void letGo(WORD key)
{
    for (int tries = 0; tries < 4; ++tries)
        if (sendKey(key, false))
            return;
}

}

namespace Play {

const std::wstring& programFolder()
{
    static const std::wstring folder = [] {
        const std::wstring built = folderOf(builtProgram);
        const std::wstring play = built + L"Play\\";
        CreateDirectoryW(play.c_str(), nullptr);
        CreateDirectoryW((play + L"Data\\").c_str(), nullptr);
        CreateDirectoryW((play + L"Data\\Map\\").c_str(), nullptr);
        removeFiles(play + L"Data\\Map\\", L"*");
        bool ok = CopyFileW(builtProgram.c_str(), (play + L"Korvanta.exe").c_str(), FALSE) != 0;
        ok = copyTree(built + L"Data\\", play + L"Data\\", {L"Map\\"}) && ok;
        ok = copyTree(built + L"Objects\\", play + L"Objects\\", {}) && ok;
        ok = SprintLevel::save(String((play + L"Data\\Map\\").c_str())) && ok;
        return ok ? play : std::wstring();
    }();
    return folder;
}

std::wstring settingsFolder()
{
    return std::wstring(WinShell::getAppDataFolder().text()) + L"\\Korvanta\\";
}

void forgetPlayer()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Korvanta");
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Korvanta");
    removeFiles(settingsFolder(), L"*");
}

std::vector<std::wstring> crashProtocols()
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((settingsFolder() + L"* in *.txt").c_str(), &found);
    for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
        names.push_back(found.cFileName);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return names;
}

Colour Frame::mean(float left, float top, float right, float bottom) const
{
    Colour sum;
    int count = 0;
    const int x0 = int(left * float(width)), x1 = int(right * float(width));
    const int y0 = int(top * float(height)), y1 = int(bottom * float(height));
    for (int y = std::max(y0, 0); y < std::min(y1, height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, width); ++x) {
            const uint32_t p = pixels[size_t(y) * size_t(width) + size_t(x)];
            sum.r += channel(p, 16);
            sum.g += channel(p, 8);
            sum.b += channel(p, 0);
            ++count;
        }
    if (count > 0) {
        sum.r /= float(count);
        sum.g /= float(count);
        sum.b /= float(count);
    }
    return sum;
}

float Frame::share(float left, float top, float right, float bottom,
                   const std::function<bool(uint32_t)>& accepts) const
{
    int count = 0, accepted = 0;
    const int x0 = int(left * float(width)), x1 = int(right * float(width));
    const int y0 = int(top * float(height)), y1 = int(bottom * float(height));
    for (int y = std::max(y0, 0); y < std::min(y1, height); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, width); ++x) {
            ++count;
            accepted += accepts(pixels[size_t(y) * size_t(width) + size_t(x)]) ? 1 : 0;
        }
    return count ? float(accepted) / float(count) : 0.0f;
}

float Frame::difference(const Frame& other) const
{
    if (other.width != width || other.height != height || pixels.empty())
        return 255.0f;
    double sum = 0.0;
    for (size_t i = 0; i < pixels.size(); ++i)
        for (int shift : {0, 8, 16})
            sum += std::abs(int(channel(pixels[i], shift)) - int(channel(other.pixels[i], shift)));
    return float(sum / (3.0 * double(pixels.size())));
}

Game::Game(const std::wstring& path) : program(path)
{
    handle = program.waitForWindow(windowClass);
    if (handle)
        SetForegroundWindow(handle);
}

std::string Game::noWindow()
{
    if (handle)
        return {};
    if (programFolder().empty())
        return "the game's folder could not be made ready";
    if (!program.started)
        return "the game did not start (error " + std::to_string(program.startError) + ")";
    const long code = program.waitForExit(0);
    if (code != -1000)
        return "the game ended with code " + std::to_string(code) + " before its window showed";
    return "the game's start-up came to no window";
}

Game::~Game()
{
    releaseAll();
}

Frame Game::capture()
{
    Frame frame;
    RECT client{};
    if (!handle || !GetClientRect(handle, &client) || client.right <= 0 || client.bottom <= 0)
        return frame;
    POINT origin{0, 0};
    ClientToScreen(handle, &origin);
    frame.width = client.right;
    frame.height = client.bottom;
    frame.pixels.resize(size_t(frame.width) * size_t(frame.height));
    BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER), frame.width, -frame.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, frame.width, frame.height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    bool ok = BitBlt(memory, 0, 0, frame.width, frame.height, screen, origin.x, origin.y, SRCCOPY) != 0;
    SelectObject(memory, old);
    ok = ok && GetDIBits(memory, bitmap, 0, UINT(frame.height), frame.pixels.data(),
                         reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS) == frame.height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!ok)
        frame = Frame();
    for (uint32_t& p : frame.pixels)
        p &= 0x00FFFFFFu;
    return frame;
}

bool Game::turn()
{
    // A loop busy with one long pass (a level's load) answers late: it is
    // asked again each second while the game works. No pass takes five
    // minutes of the main thread's work; a loop that works that long without
    // answering spins where it waits for something that never comes (seen
    // once: Direct3D's command thread stuck inside the renderer), and the
    // run ends there rather than at the test's time limit.
    constexpr uint64_t longestPass = 300000;
    bool answered = false;
    program.waitWhileWorking(
        [&] {
            DWORD_PTR answer = 0;
            answered = handle && IsWindow(handle) &&
                       SendMessageTimeoutW(handle, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &answer) != 0;
            return answered || !handle || !IsWindow(handle);
        },
        longestPass, 0);
    if (!answered)
        return false;
    countTurn();
    return true;
}

void Game::countTurn()
{
    const ULONGLONG now = GetTickCount64();
    if (lastTurn) {
        lastGap = now - lastTurn;
        gameClock += std::min<ULONGLONG>(lastGap, ULONGLONG(Timer::longestFrame * 1000.0f));
    }
    lastTurn = now;
}

bool Game::play(DWORD ms)
{
    for (const uint64_t start = gameClock; gameClock - start < ms;)
        if (!turn())
            return false;
    return true;
}

bool Game::waitFor(const std::string& name, const std::function<bool(const Frame&)>& accepts, DWORD ms, Frame* last)
{
    Frame frame;
    bool ok = false;
    for (const uint64_t start = gameClock;;) {
        frame = capture();
        ok = !frame.empty() && accepts(frame);
        if (ok || gameClock - start > ms || !play(150))
            break;
    }
    keep(frame, name);
    if (last)
        *last = frame;
    return ok;
}

void Game::keep(const Frame& frame, const std::string& name)
{
    if (frame.empty())
        return;
    const char* kept = std::getenv("KORVANTA_SCREENSHOTS");
    std::wstring folder;
    if (kept && *kept) {
        for (const char* c = kept; *c; ++c)
            folder += wchar_t(*c == '/' ? '\\' : *c);
        folder = L"Z:" + folder + L"\\";
    } else {
        folder = programFolder();
    }
    ImageFileWriter::Image image{uint32_t(frame.width), uint32_t(frame.height), {}};
    image.argb.reserve(frame.pixels.size());
    for (uint32_t p : frame.pixels)
        image.argb.push_back(0xFF000000u | p);
    const std::vector<uint8_t> png = ImageFileWriter::png(image);
    const std::wstring path = folder + L"Play-" + std::wstring(name.begin(), name.end()) + L".png";
    if (FILE* file = _wfopen(path.c_str(), L"wb")) {
        fwrite(png.data(), 1, png.size(), file);
        fclose(file);
    }
}

void Game::press(Key key)
{
    if (handle && GetForegroundWindow() != handle)
        SetForegroundWindow(handle);
    // A press the hooks missed is let go and sent again.
    for (int tries = 0; tries < 4 && !sendKey(WORD(key), true); ++tries)
        letGo(WORD(key));
    held.push_back(WORD(key));
}

void Game::release(Key key)
{
    letGo(WORD(key));
    held.erase(std::remove(held.begin(), held.end(), WORD(key)), held.end());
}

void Game::releaseAll()
{
    for (WORD key : held)
        letGo(key);
    held.clear();
}

void Game::tap(Key key, DWORD settle)
{
    // The loop reads the keys just after emptying its queue, so the pass
    // that answers the turn after the press reads the key held; the next
    // pass answers only once that read is done. An arrow is let go then:
    // the menus count an arrow that two passes read half a second apart (on
    // the wall's clock) twice, so it is held no longer than needed; the
    // roads check on the screen what the arrows did. Other keys never
    // repeat and are held a pass longer.
    press(key);
    turn();
    turn();
    if (!isExtended(WORD(key)))
        turn();
    release(key);
    play(settle);
}

bool Game::tapUntil(Key key, const std::string& name, const std::function<bool(const Frame&)>& accepts,
                    const std::function<bool(const Frame&)>& from)
{
    for (int tries = 0; tries < 6; ++tries) {
        tap(key, 0);
        if (waitFor(name, accepts, 5000))
            return true;
        // A screen on its way (left the one the key was sent on) is waited
        // for: the key sent again would act on it.
        if (from && !from(capture()))
            return waitFor(name, accepts, 60000);
    }
    return false;
}

long Game::exitWithin(DWORD ms)
{
    // The loop turns until the game closes its window; its shutdown then
    // follows the program's own progress.
    for (const uint64_t start = gameClock; gameClock - start <= ms;)
        if (!turn())
            return program.waitForEnd();
    return program.waitForExit(0);
}

long Game::quit(DWORD ms)
{
    if (handle)
        PostMessageW(handle, WM_CLOSE, 0, 0);
    return exitWithin(ms);
}

}
