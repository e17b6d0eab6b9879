// Prints what a player of the built game waits for and what the game holds,
// with the program started as a player starts it: the play tests' runs (a
// new player in the tests' Wine prefix, keys sent by SendInput, the window's
// pixels read back), full screen at the display's 1024 x 768 on Mesa's
// software renderer with its default threads:
// - Wine's bare start of a program (an empty one, started to its end), and
//   the game's start beyond it up to the intro's first frame;
// - the load of a level of each course type (the first map of its kind in
//   the map choice of the shipped data), from the confirm of the game mode to
//   the preview's first frame;
// - the frames per second of 30 s of a race of four quads on the first race
//   track (Circuit, three opponents) with the throttle held: the frames seen
//   changing, read often enough to see each one (the race clock of the
//   head-up display changes with every frame);
// - the game process's peak working set.
// With --soak MINUTES it races on the play tests' sprint, one race after
// another for that long, each to its finish and results, back through the map
// choice to the main screen, and prints the working set, the handle count and
// the GDI object count at each return to the main screen. Nothing is asserted on
// a figure; the soak ends with 1 only when a screen of its road never showed.
// It forgets the player, so it runs in the tests' prefix only:
//   KORVANTA_WINEPREFIX=build/wineprefix-tests build/wine-run.sh build/Tools/Benchmarks/PlayBench.exe
#include "PlayRoads.h"

#include "BenchFigures.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const std::wstring builtProgram = L"" KORVANTA_EXE_PATH;
const std::wstring emptyProgram = L"" EMPTY_PROGRAM_PATH;

double now()
{
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return double(count.QuadPart) / double(frequency.QuadPart);
}

// A rectangle of the client area in shares of its size.
struct Box
{
    float left, top, right, bottom;
};

// Reads a few small rectangles of the window as the screen shows them, into
// one bitmap kept between reads: cheap enough to be read many times a frame.
class RegionReader
{
public:
    RegionReader(HWND window, std::vector<Box> boxes) : window(window), boxes(std::move(boxes))
    {
        screen = GetDC(nullptr);
        memory = CreateCompatibleDC(screen);
    }
    ~RegionReader()
    {
        drop();
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }
    RegionReader(const RegionReader&) = delete;
    RegionReader& operator=(const RegionReader&) = delete;

    // The rectangles' pixels, one after another; false when not read.
    bool read(std::vector<uint32_t>& out)
    {
        RECT client{};
        if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
            return false;
        std::vector<RECT> rects;
        int width = 1, height = 0;
        for (const Box& b : boxes) {
            RECT r{LONG(b.left * float(client.right)), LONG(b.top * float(client.bottom)),
                   LONG(b.right * float(client.right)), LONG(b.bottom * float(client.bottom))};
            rects.push_back(r);
            width = std::max(width, int(r.right - r.left));
            height += std::max(int(r.bottom - r.top), 1);
        }
        if (width != bitmapWidth || height != bitmapHeight)
            make(width, height);
        if (!bits)
            return false;
        POINT origin{0, 0};
        ClientToScreen(window, &origin);
        int y = 0;
        for (const RECT& r : rects) {
            if (!BitBlt(memory, 0, y, r.right - r.left, r.bottom - r.top, screen, origin.x + r.left, origin.y + r.top,
                        SRCCOPY))
                return false;
            y += std::max(int(r.bottom - r.top), 1);
        }
        GdiFlush();
        out.assign(bits, bits + size_t(bitmapWidth) * size_t(bitmapHeight));
        for (uint32_t& p : out)
            p &= 0x00FFFFFFu;
        return true;
    }

private:
    void make(int width, int height)
    {
        drop();
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* pixels = nullptr;
        bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        if (!bitmap)
            return;
        old = SelectObject(memory, bitmap);
        bits = static_cast<uint32_t*>(pixels);
        bitmapWidth = width;
        bitmapHeight = height;
    }
    void drop()
    {
        if (!bitmap)
            return;
        SelectObject(memory, old);
        DeleteObject(bitmap);
        bitmap = nullptr;
        bits = nullptr;
        bitmapWidth = bitmapHeight = 0;
    }

    HWND window;
    std::vector<Box> boxes;
    HDC screen = nullptr;
    HDC memory = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    uint32_t* bits = nullptr;
    int bitmapWidth = 0;
    int bitmapHeight = 0;
};

// The mean of a channel (16 red, 8 green, 0 blue) over the pixels read.
double meanChannel(const std::vector<uint32_t>& pixels, int shift)
{
    double sum = 0.0;
    for (uint32_t p : pixels)
        sum += double(p >> shift & 0xFF);
    return pixels.empty() ? 0.0 : sum / double(pixels.size());
}

// Reads the boxes until accepts() takes them or the game's main thread has
// worked the time given without (or stalled): the seconds since from when it
// did, -1 otherwise (also when the program ended).
template <class Accepts>
double secondsUntil(Play::Game& game, std::vector<Box> boxes, double from, DWORD milliseconds, Accepts accepts)
{
    RegionReader reader(game.window(), std::move(boxes));
    std::vector<uint32_t> pixels;
    const bool seen = game.run().waitWhileWorking([&] { return reader.read(pixels) && accepts(pixels); },
                                                  milliseconds, 2);
    return seen ? now() - from : -1.0;
}

// The intro's first frame: the warm tint of its sky, however faint, where
// the window was black.
double secondsToIntro(Play::Game& game, double from)
{
    const float side = 0.75f, left = 0.5f - side / 2.0f;
    return secondsUntil(game, {{left + side * 0.1f, 0.25f, left + side * 0.35f, 0.5f}}, from, 60000,
                        [](const std::vector<uint32_t>& p) { return meanChannel(p, 16) >= meanChannel(p, 0) + 4.0; });
}

// The load from the confirm of the game mode: the press, the loading
// screen's red ring, then the preview's first frame, where the level's sky
// lights the top of the window that the loading screen kept black. The
// confirm is held until the ring shows, a second at most (a slow frame must
// see it). A press that no loading screen followed within 6 s of the game's
// main thread's work is given again; the load itself may work 120 s. The
// seconds from the press that started the load to the preview, -1 when none
// did or no preview showed; ring the seconds to the loading screen's first
// frame.
double secondsOfLoad(Play::Game& game, double& ring)
{
    RegionReader middle(game.window(), {{0.4f, 0.35f, 0.6f, 0.65f}});
    RegionReader top(game.window(), {{0.1f, 0.1f, 0.9f, 0.3f}});
    const auto red = [](uint32_t p) {
        return Play::Screens::red(p) > 180 && Play::Screens::green(p) < 80 && Play::Screens::blue(p) < 80;
    };
    std::vector<uint32_t> pixels;
    for (int tries = 0; tries < 3; ++tries) {
        const double pressed = now();
        game.press(Play::Key::confirm);
        bool held = true, loading = false;
        const auto release = [&] {
            if (held && (loading || now() - pressed > 1.0)) {
                game.release(Play::Key::confirm);
                held = false;
            }
        };
        game.run().waitWhileWorking(
            [&] {
                release();
                if (middle.read(pixels)) {
                    loading = double(std::count_if(pixels.begin(), pixels.end(), red)) > 0.03 * double(pixels.size());
                    ring = now() - pressed;
                }
                return loading;
            },
            6000, 2);
        double preview = -1.0;
        if (loading)
            game.run().waitWhileWorking(
                [&] {
                    release();
                    if (top.read(pixels) &&
                        (meanChannel(pixels, 16) + meanChannel(pixels, 8) + meanChannel(pixels, 0)) / 3.0 > 25.0)
                        preview = now() - pressed;
                    return preview >= 0.0;
                },
                120000, 2);
        if (held)
            game.release(Play::Key::confirm);
        if (loading || game.run().waitForExit(0) != -1000)
            return preview;
    }
    return -1.0;
}

struct FrameCount
{
    int frames = 0;
    double seconds = 0.0;
    double longest = 0.0;
    double perSecond() const { return seconds > 0.0 ? double(frames) / seconds : 0.0; }
};

// Counts the frames the window shows for the time given: the race clock's
// box and a band across the road ahead, read every 5 ms or so, count a frame
// whenever they changed.
FrameCount countFrames(Play::Game& game, DWORD milliseconds)
{
    FrameCount count;
    RegionReader reader(game.window(), {{0.015f, 0.195f, 0.2f, 0.23f}, {0.25f, 0.62f, 0.75f, 0.64f}});
    std::vector<uint32_t> previous, current;
    if (!reader.read(previous))
        return count;
    const double start = now();
    double last = start;
    while (now() - start < double(milliseconds) / 1000.0) {
        if (!reader.read(current))
            break;
        if (current != previous) {
            const double t = now();
            ++count.frames;
            count.longest = std::max(count.longest, t - last);
            last = t;
            previous.swap(current);
        }
        // Often enough for 100 frames a second, seldom enough to leave the
        // display to the game.
        Sleep(5);
    }
    count.seconds = now() - start;
    return count;
}

struct Holdings
{
    double workingSet = 0.0; // MB
    double peakWorkingSet = 0.0;
    DWORD handles = 0;
    DWORD gdiObjects = 0;
    DWORD userObjects = 0;
};

// The handles the process holds, from the system's table of all handles
// (Wine answers no process's own handle count but its own).
DWORD handleCount(HANDLE process)
{
    DWORD count = 0;
    if (GetProcessHandleCount(process, &count) && count > 0)
        return count;
    struct Entry
    {
        ULONG owner;
        UCHAR type;
        UCHAR flags;
        USHORT handle;
        void* object;
        ACCESS_MASK access;
    };
    using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return 0;
    const ULONG handleInformation = 16;
    std::vector<uint8_t> buffer(1 << 20);
    ULONG needed = 0;
    LONG status = 0;
    while ((status = query(handleInformation, buffer.data(), ULONG(buffer.size()), &needed)) == LONG(0xC0000004) &&
           buffer.size() < (256u << 20))
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
    if (status != 0)
        return 0;
    const ULONG entries = *reinterpret_cast<const ULONG*>(buffer.data());
    struct Table
    {
        ULONG count;
        Entry entries[1];
    };
    const size_t first = offsetof(Table, entries);
    const DWORD owner = GetProcessId(process);
    for (ULONG i = 0; i < entries && first + (i + 1) * sizeof(Entry) <= buffer.size(); ++i) {
        Entry entry;
        std::memcpy(&entry, buffer.data() + first + i * sizeof(Entry), sizeof(Entry));
        count += entry.owner == owner ? 1 : 0;
    }
    return count;
}

Holdings holdingsOf(HANDLE process)
{
    Holdings h;
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(process, &memory, sizeof(memory))) {
        h.workingSet = double(memory.WorkingSetSize) / (1024.0 * 1024.0);
        h.peakWorkingSet = double(memory.PeakWorkingSetSize) / (1024.0 * 1024.0);
    }
    h.handles = handleCount(process);
    h.gdiObjects = GetGuiResources(process, GR_GDIOBJECTS);
    h.userObjects = GetGuiResources(process, GR_USEROBJECTS);
    return h;
}

// The machine's load average over the last minute (the bench shares it).
double loadAverage()
{
    double load = -1.0;
    if (FILE* file = std::fopen("Z:\\proc\\loadavg", "r")) {
        if (std::fscanf(file, "%lf", &load) != 1)
            load = -1.0;
        std::fclose(file);
    }
    return load;
}

// The seconds from the start of the empty program to its end.
double bareStart()
{
    const double t0 = now();
    ProgramRun run(emptyProgram);
    return run.waitForExit(30000) == 0 ? now() - t0 : -1.0;
}

// The roads report a screen that never showed as a fatal failure of
// GoogleTest's current result (outside any test, the ad hoc one, which keeps
// every failure): a check counts only those after its own start.
class RoadCheck
{
public:
    RoadCheck() : first(parts()) {}
    bool failed() const
    {
        const testing::TestResult& result = testing::UnitTest::GetInstance()->ad_hoc_test_result();
        for (int i = first; i < result.total_part_count(); ++i)
            if (result.GetTestPartResult(i).fatally_failed())
                return true;
        return false;
    }

private:
    static int parts() { return testing::UnitTest::GetInstance()->ad_hoc_test_result().total_part_count(); }
    int first;
};

const char* const kindNames[3] = {"off-road", "race track", "rally"};

struct KindRun
{
    double start = -1.0;   // to the intro's first frame
    double load = -1.0;    // from the confirm to the preview's first frame
    double ring = -1.0;    // from the confirm to the loading screen's first frame
    FrameCount race;       // the race track's only
    double peak = -1.0;    // MB, at the end of the run
    // The working set (MB) at the intro, on the main screen, at the preview
    // and after the race: where the memory goes.
    double atIntro = -1.0, atMain = -1.0, atPreview = -1.0, afterRace = -1.0;
    int width = 0;
    int height = 0;
    const char* lost = nullptr; // the step where the run ended early
};

// From the main screen: the solo map choice of the kind (0 off-road, 1 race
// track, 2 rally) at daytime, its game mode as it comes (the race track:
// Circuit without battle items, three opponents, one lap, as the play tests
// take it), the load and the preview; false (and where in out.lost) when a
// screen did not show.
bool mainToPreview(Play::Game& game, const std::string& name, int kind, KindRun& out)
{
    HANDLE process = game.run().process.hProcess;
    game.tap(Play::Key::down);
    // The map choice: the logo and a title beside it, which the main screen
    // lacks. The built data's map pictures hold reds enough to pass for the
    // showroom's quad, so that test took the map choice for the main screen
    // and sent the confirm that chose the first kind.
    const auto mapChoice = [](const Play::Frame& f) {
        return Play::Screens::logo(f) && f.share(0.5f, 0.05f, 0.98f, 0.2f, Play::Screens::light) > 0.03f;
    };
    if (!game.tapUntil(Play::Key::confirm, name + "-map", mapChoice)) {
        out.lost = "the map choice did not show";
        return false;
    }
    game.play(Play::settle);
    for (int i = 0; i < kind; ++i)
        game.tap(Play::Key::down);
    game.tap(Play::Key::confirm);
    // The daytime's Confirm is sent again only while the map choice still
    // shows: one sent on the game mode screen would start its race.
    if (!game.tapUntil(Play::Key::confirm, name + "-mode-screen", Play::Screens::gameMode, mapChoice)) {
        out.lost = "the game mode did not show";
        return false;
    }
    game.play(Play::settle);
    if (kind == 1) {
        // Circuit, battle items off (the throttle alone keeps the sprint's
        // road), three opponents, one lap.
        Play::circuitOfOneLapWithoutItems(game, name);
    } else {
        for (int row = 0; row < 5; ++row)
            game.tap(Play::Key::down);
    }
    game.keep(game.capture(), name + "-mode");
    out.load = secondsOfLoad(game, out.ring);
    Play::Frame preview;
    game.waitFor(name + "-preview", Play::Screens::preview, 10000, &preview);
    out.width = preview.width;
    out.height = preview.height;
    out.atPreview = holdingsOf(process).workingSet;
    if (out.load < 0.0) {
        out.lost = "no load, or no preview after it";
        return false;
    }
    return true;
}

// One start of the built game for a new player: the intro, the language, the
// main screen, the solo map choice of the kind (0 off-road, 1 race track,
// 2 rally) at daytime, its game mode as it comes (the race track: Circuit
// without battle items, three opponents, one lap, as the play tests take it),
// the load and the preview; on the race track 30 s of race with the throttle
// held.
KindRun runKind(int kind)
{
    KindRun out;
    const std::string name = std::string("Bench-") + (kind == 0 ? "offroad" : kind == 1 ? "track" : "rally");
    Play::forgetPlayer();
    const RoadCheck road;
    const double t0 = now();
    Play::Game game(builtProgram);
    if (!game.window()) {
        out.lost = "no window";
        return out;
    }
    HANDLE process = game.run().process.hProcess;
    out.start = secondsToIntro(game, t0);
    out.atIntro = holdingsOf(process).workingSet;
    Play::introToMain(game, name, true);
    if (road.failed()) {
        out.lost = "the main screen did not show";
        return out;
    }
    out.atMain = holdingsOf(process).workingSet;
    if (mainToPreview(game, name, kind, out) && kind == 1) {
        game.play(1500);
        game.tapUntil(Play::Key::confirm, name + "-race", Play::Screens::countdown);
        game.press(Play::Key::up);
        // The countdown, then the race itself.
        game.play(3500);
        out.race = countFrames(game, 30000);
        out.afterRace = holdingsOf(process).workingSet;
        game.keep(game.capture(), name + "-raced");
        game.release(Play::Key::up);
    }
    out.peak = holdingsOf(process).peakWorkingSet;
    if (game.quit(20000) == -1000)
        std::printf("  (%s: the game did not end within 20 s of its clock after its window's close)\n",
                    kindNames[kind]);
    return out;
}

void printSeconds(const char* label, const std::vector<double>& samples, double shift = 0.0)
{
    std::vector<double> kept;
    for (double s : samples)
        if (s >= 0.0)
            kept.push_back(s - shift);
    if (kept.empty()) {
        std::printf("%-52s not measured (no run got there)\n", label);
        return;
    }
    BenchFigures::print(label, BenchFigures::of(kept), 1.0, "s ");
    if (kept.size() < samples.size())
        std::printf("  (%zu of %zu runs got there)\n", kept.size(), samples.size());
}

int figures(int rounds)
{
    std::vector<double> bare;
    bareStart(); // Wine's first start of a program loads more than any later one.
    for (int i = 0; i < 5; ++i)
        bare.push_back(bareStart());
    std::vector<double> starts, loads[3], rings[3], fps, longest, peaks, racePeaks;
    std::printf("load average at the start: %.1f\n", loadAverage());
    int width = 0, height = 0;
    for (int round = 0; round < rounds; ++round) {
        for (int kind = 0; kind < 3; ++kind) {
            const KindRun run = runKind(kind);
            starts.push_back(run.start);
            loads[kind].push_back(run.load);
            if (run.load >= 0.0)
                rings[kind].push_back(run.ring);
            if (run.peak >= 0.0)
                (kind == 1 ? racePeaks : peaks).push_back(run.peak);
            if (kind == 1 && run.race.frames > 0) {
                fps.push_back(run.race.perSecond());
                longest.push_back(run.race.longest);
            }
            if (run.width) {
                width = run.width;
                height = run.height;
            }
            std::printf("  round %d, %-10s: start %.3f s, load %.3f s (the loading screen after %.3f s)", round + 1,
                        kindNames[kind], run.start, run.load, run.ring);
            if (kind == 1)
                std::printf(", %d frames in %.1f s (longest %.0f ms)", run.race.frames, run.race.seconds,
                            run.race.longest * 1000.0);
            std::printf("\n    working set: intro %.1f, main %.1f, preview %.1f", run.atIntro, run.atMain, run.atPreview);
            if (kind == 1)
                std::printf(", after the race %.1f", run.afterRace);
            std::printf(" MB, peak %.1f MB (load average %.1f)\n", run.peak, loadAverage());
            if (run.lost)
                std::printf("    ended early: %s\n", run.lost);
            std::fflush(stdout);
        }
    }
    std::printf("The game as a player starts it, full screen at %d x %d (Mesa's software renderer):\n", width,
                height);
    printSeconds("Wine's bare start (an empty program to its end)", bare);
    printSeconds("start to the intro's first frame", starts);
    double bareMedian = BenchFigures::of(bare).median;
    printSeconds("  beyond the bare start (goal under 1.5 s)", starts, bareMedian);
    for (int kind = 0; kind < 3; ++kind) {
        const std::string label = std::string("load of the first ") + kindNames[kind] + " (goal under 1 s)";
        printSeconds(label.c_str(), loads[kind]);
        printSeconds("  of it, the confirm to the loading screen", rings[kind]);
    }
    if (fps.empty()) {
        std::printf("%-52s not measured (no race ran)\n", "race of four quads, frames per second");
    } else {
        const BenchFigures::Spread f = BenchFigures::of(fps);
        std::printf("%-52s min %9.2f fps, median %9.2f fps (goal 25 or more)\n",
                    "race of four quads over 30 s, frames per second", f.minimum, f.median);
        BenchFigures::print("  its longest frame", BenchFigures::of(longest), 1000.0, "ms");
    }
    if (!racePeaks.empty())
        BenchFigures::print("peak working set after the race (goal under 300 MB)", BenchFigures::of(racePeaks), 1.0,
                            "MB");
    if (!peaks.empty())
        BenchFigures::print("peak working set after a load alone", BenchFigures::of(peaks), 1.0, "MB");
    std::printf("Physics, race logic and opponents of eight quads a frame: RaceBench's figures.\n");
    std::printf("load average at the end: %.1f\n", loadAverage());
    return 0;
}

void printHoldings(int race, double seconds, const Holdings& h)
{
    std::printf("return %3d at %4.0f s: working set %7.1f MB (peak %7.1f MB), handles %5lu, ", race, seconds,
                h.workingSet, h.peakWorkingSet, (unsigned long)h.handles);
    // A window with a device holds GDI and user objects; none means the
    // system does not count them (Wine).
    if (h.gdiObjects == 0 && h.userObjects == 0)
        std::printf("GDI and user objects not counted\n");
    else
        std::printf("GDI objects %5lu, user objects %5lu\n", (unsigned long)h.gdiObjects, (unsigned long)h.userObjects);
}

// Races on the play tests' sprint for the minutes given: the main screen,
// the map choice, the load, the race with the throttle held to the finish,
// the results, the map choice they lead back to and the main screen.
int soak(double minutes)
{
    Play::forgetPlayer();
    const RoadCheck road;
    Play::Game game;
    const double t0 = now();
    Play::introToMain(game, "Soak", true);
    if (road.failed()) {
        std::printf("The soak did not reach the main screen.\n");
        return 1;
    }
    std::vector<Holdings> returns;
    HANDLE process = game.run().process.hProcess;
    printHoldings(0, now() - t0, holdingsOf(process));
    while (now() - t0 < minutes * 60.0) {
        // The play tests' road: each key checked on the screen it leads to,
        // so a busy machine's late or doubled keys are mended, not followed
        // into another race; the race to the finish and its results, and
        // the way back through the map choice to the main screen.
        Play::mainToRace(game, "Soak");
        if (!road.failed())
            Play::raceToResults(game, "Soak");
        if (!road.failed())
            Play::resultsToMain(game, "Soak");
        if (road.failed()) {
            const long code = game.run().waitForExit(0);
            std::printf("The soak stopped in race %zu: a screen of its road did not show (the game %s %ld).\n",
                        returns.size() + 1, code == -1000 ? "still runs" : "ended with", code == -1000 ? 0L : code);
            return 1;
        }
        returns.push_back(holdingsOf(process));
        printHoldings(int(returns.size()), now() - t0, returns.back());
    }
    Play::mainToQuit(game, "Soak");
    if (returns.size() >= 2) {
        const Holdings& first = returns.front();
        const Holdings& last = returns.back();
        std::printf("after the first return, over %zu more races: working set %+.1f MB, handles %+ld, GDI objects "
                    "%+ld, user objects %+ld (goal under 5 MB and 10 handles after 10 minutes)\n",
                    returns.size() - 1, last.workingSet - first.workingSet, long(last.handles) - long(first.handles),
                    long(last.gdiObjects) - long(first.gdiObjects), long(last.userObjects) - long(first.userObjects));
        // Growth at every return is what a leak looks like; ups and downs are the allocator's.
        bool memoryGrows = true, handlesGrow = true;
        for (size_t i = 1; i < returns.size(); ++i) {
            memoryGrows = memoryGrows && returns[i].workingSet > returns[i - 1].workingSet;
            handlesGrow = handlesGrow && returns[i].handles > returns[i - 1].handles;
        }
        std::printf("grows at every return: working set %s, handles %s\n", memoryGrows ? "yes" : "no",
                    handlesGrow ? "yes" : "no");
    }
    if (road.failed()) {
        std::printf("The soak's game did not quit cleanly.\n");
        return 1;
    }
    std::printf("soak of %.0f min: %zu races, ended cleanly (load average %.1f)\n", minutes, returns.size(),
                loadAverage());
    return 0;
}

}

int main(int argc, char** argv)
{
    // Forgetting the player wipes the application-data folder: never in the
    // player's own prefix.
    const char* prefix = std::getenv("KORVANTA_WINEPREFIX");
    if (!prefix || !std::strstr(prefix, "wineprefix-tests")) {
        std::printf("PlayBench forgets the player; run it in the tests' prefix:\n"
                    "  KORVANTA_WINEPREFIX=build/wineprefix-tests build/wine-run.sh "
                    "build/Tools/Benchmarks/PlayBench.exe [--rounds N | --soak MINUTES]\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--soak") == 0)
            return soak(std::atof(argv[i + 1]));
        if (std::strcmp(argv[i], "--rounds") == 0)
            return figures(std::max(std::atoi(argv[i + 1]), 1));
    }
    return figures(3);
}
