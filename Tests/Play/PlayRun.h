#pragma once
// One run of the built game as a player has it, for the play tests: the
// program and its data copied into a folder of its own whose only map is the
// sprint, started through ProgramRun, driven with keys sent by SendInput and
// watched through the window's pixels (BitBlt and GetDIBits). Frames are kept
// as PNG files in KORVANTA_SCREENSHOTS (the CI keeps them), else beside the copy.
//
// The runs wait by the game's own clock, never the wall's: a busy machine
// draws fewer frames, and the game's clock moves on a fifth of a second at
// most a frame. The tests see the game's frames as turns of its main loop,
// which empties the window's message queue once a frame: a message sent to
// the window comes back at the next.
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

    // Waits for the next turn of the game's main loop; false when the window
    // is gone (the game ended) or the loop stopped turning (the game hangs).
    bool turn();
    // The milliseconds of the game's clock that the turns seen so far took:
    // each turn counts as long as it took on the wall, up to the longest
    // frame the game moves on whole, as the game's clock counts a frame.
    uint64_t clock() const { return gameClock; }
    // Lets the game run for ms of its clock; false when it stopped turning.
    bool play(DWORD ms);

    Frame capture();
    // Captures until the frame is accepted or ms of the game's clock have
    // passed; the last frame either way, kept under name.
    bool waitFor(const std::string& name, const std::function<bool(const Frame&)>& accepts, DWORD ms,
                 Frame* last = nullptr);
    void keep(const Frame& frame, const std::string& name);

    // A key held while one pass of the game's loop reads the keys, then
    // released, and settle ms of the game's clock let pass.
    void tap(Key key, DWORD settle = 400);
    // Taps the key until the screen it leads to shows (a key sent while a
    // screen still fades in may go unseen); false when it never did. Given
    // from (the screen the key is sent on), the key is sent again only while
    // that screen still shows.
    bool tapUntil(Key key, const std::string& name, const std::function<bool(const Frame&)>& accepts,
                  const std::function<bool(const Frame&)>& from = {});
    void press(Key key);
    void release(Key key);
    void releaseAll();

    // The game's exit code once it has ended, or -1000 when it still runs
    // after ms of its clock (or its end stalls).
    long exitWithin(DWORD ms);
    // Asks the program to end (a closed window) and gives its exit code.
    long quit(DWORD ms);

private:
    void countTurn();

    ProgramRun program;
    HWND handle = nullptr;
    std::vector<WORD> held;
    uint64_t gameClock = 0;
    ULONGLONG lastTurn = 0;
    // The wall's milliseconds between the last two turns: about a frame.
    ULONGLONG lastGap = 0;
};

}
