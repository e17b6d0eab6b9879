#pragma once
// One run of the built game as a player has it, for the play tests: the
// program and its data copied into a folder of its own whose only map is the
// sprint, started through ProgramRun, driven with keys sent by SendInput and
// watched through the window's pixels (BitBlt and GetDIBits). Frames are kept
// as PNG files in KORVANTA_SCREENSHOTS (the CI keeps them), else beside the copy.
#include "ProgramRun.h"

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace Play {

// The folder of the copied program ("...\Play\"); made once per test program.
const std::wstring& programFolder();
// The program's folder in the application data ("...\Korvanta\").
std::wstring settingsFolder();
// A new player: no registry key, no files in the application-data folder.
void forgetPlayer();
// The crash protocols ("<version> in <place> [<tag>].txt") in the application-data folder.
std::vector<std::wstring> crashProtocols();

struct Colour
{
    float r = 0.0f, g = 0.0f, b = 0.0f;
    float brightness() const { return (r + g + b) / 3.0f; }
};

// A picture of the window's client area, top row first, 0x00RRGGBB.
struct Frame
{
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    bool empty() const { return pixels.empty(); }
    // The mean colour of the rectangle given as shares of the size (0..1).
    Colour mean(float left, float top, float right, float bottom) const;
    // The share of the rectangle's pixels that the test accepts.
    float share(float left, float top, float right, float bottom,
                const std::function<bool(uint32_t)>& accepts) const;
    // The mean absolute difference of the two frames' channels (255 when the sizes differ).
    float difference(const Frame& other) const;
};

// Keys as the default bindings have them.
enum class Key : WORD {
    up = VK_UP,
    down = VK_DOWN,
    left = VK_LEFT,
    right = VK_RIGHT,
    confirm = VK_RETURN,
    back = VK_ESCAPE,
    pause = VK_BACK,
};

class Game
{
public:
    // Starts the copied program (or another built one beside its data); a
    // window of the game within the time or a failed start (window() null).
    explicit Game(const std::wstring& program = programFolder() + L"Korvanta.exe");
    ~Game();

    HWND window() const { return handle; }
    // Why no window showed: the folder not made ready, the start refused, the
    // program ended (its code) or no window in time.
    std::string noWindow();
    ProgramRun& run() { return program; }

    Frame capture();
    // Captures until the frame is accepted or the time has passed; the last
    // frame either way, kept under name.
    bool waitFor(const std::string& name, const std::function<bool(const Frame&)>& accepts, DWORD milliseconds,
                 Frame* last = nullptr);
    void keep(const Frame& frame, const std::string& name);

    // A key pressed long enough for a frame to see it, then released.
    void tap(Key key, DWORD settle = 400);
    // Taps the key until the screen it leads to shows (a key sent while a
    // screen still fades in may go unseen); false when it never did.
    bool tapUntil(Key key, const std::string& name, const std::function<bool(const Frame&)>& accepts);
    void press(Key key);
    void release(Key key);
    void releaseAll();

    // Asks the program to end (a closed window) and gives its exit code.
    long quit(DWORD milliseconds);

private:
    ProgramRun program;
    HWND handle = nullptr;
    std::vector<WORD> held;
};

}
