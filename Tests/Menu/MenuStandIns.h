#pragma once
// Stand-ins for the menu's neighbours: screens and overlays that record
// what the state machine asks of them, a world that records the scene and
// race calls, an application side, the race clock and the menu keys.
#include "Menu/GameMenu.h"
#include "Menu/GameMenuScreen.h"

#include "Application/ControlBindings.h"
#include "Race/RaceClock.h"

#include <windows.h>
#include <dinput.h>

#include <map>
#include <string>
#include <vector>

namespace MenuStandIn {

// The race clock of the tests.
inline DWORD clockNow = 0;
inline DWORD WINAPI testClock() { return clockNow; }

// Sets the race clock for the life of the object.
struct Clock
{
    Clock(DWORD start = 1000)
    {
        previous = gRaceClock;
        clockNow = start;
        gRaceClock = testClock;
    }
    ~Clock() { gRaceClock = previous; }
    RaceClock previous;
};

// Everything the stand-ins are asked, in order, by "kind:call".
inline std::vector<std::string> calls;
inline std::string joined()
{
    std::string out;
    for (const std::string& c : calls)
        out += (out.empty() ? "" : " ") + c;
    return out;
}
inline int count(const std::string& call)
{
    int n = 0;
    for (const std::string& c : calls)
        n += c == call;
    return n;
}

// A screen of one kind: keys and enters recorded; nextScreen, selection
// and answers set by the test.
class Screen : public GameMenu::Screen
{
public:
    Screen(GameMenu& menu, std::string kindName) : GameMenu::Screen(menu), name(std::move(kindName))
    {
        calls.push_back(name + ":made");
    }
    ~Screen() override { calls.push_back(name + ":deleted"); }

    int32_t nextScreen() override { return next; }
    void enter(int32_t returnState) override
    {
        calls.push_back(name + ":enter" + std::to_string(returnState));
        entered = returnState;
    }
    void onKeyLeft() override { calls.push_back(name + ":left"); }
    void onKeyRight() override { calls.push_back(name + ":right"); }
    void onKeyUp() override { calls.push_back(name + ":up"); }
    void onKeyDown() override { calls.push_back(name + ":down"); }
    void onKeyConfirm() override
    {
        calls.push_back(name + ":confirm");
        if (closeOnConfirm)
            close();
    }
    void onKeyBack() override { calls.push_back(name + ":back"); }
    void inputChar(wchar_t c) override { calls.push_back(name + ":char" + char(c)); }
    bool isCapturing() override { return capturing; }
    void readSelection(Selection& out) override
    {
        calls.push_back(name + ":selection");
        if (name == "chooseMap") {
            out.mapName = mapName;
            out.trackKind = trackKind;
            out.daytime = daytime;
        } else {
            out.mode = mode;
            out.difficulty = difficulty;
            out.battle = battle;
            out.opponents = opponents;
            out.goal = goal;
        }
    }
    Game::ChampionshipEntry* chosenEntry() override
    {
        calls.push_back(name + ":chosenEntry");
        return entry;
    }
    bool givesUp() override { return giveUp; }
    bool exitsChampionship() override { return exitChampionship; }
    bool notQualified() override { return missed; }

    std::string name;
    int32_t next = GameMenu::noScreen;
    int32_t entered = -1;
    bool closeOnConfirm = false;
    bool capturing = false;
    String mapName{L"Data\\Map\\Valley.tee"};
    int32_t trackKind = 10;
    int32_t daytime = 15;
    int32_t mode = 2;
    int32_t difficulty = 98;
    int32_t battle = 25;
    int32_t opponents = 5;
    int32_t goal = 7;
    Game::ChampionshipEntry* entry = nullptr;
    bool giveUp = false;
    bool exitChampionship = false;
    bool missed = false;
};

inline const char* const kindNames[GameMenu::kindCount] = {
    "main",     "chooseMap",   "gameMode",    "exit",          "pause",    "settings", "control",
    "graphics", "language",    "myQuad",      "raceResults",   "points",   "chooseCountry",
    "gameOver", "extendedControl"};

template <int kind>
GameMenu::Screen* makeScreen(GameMenu& menu)
{
    return new Screen(menu, kindNames[kind]);
}

// An overlay whose close and finish the test decides by clock.
class Overlay : public GameMenu::Overlay
{
public:
    Overlay(GameMenu& menu, std::string kindName) : GameMenu::Overlay(menu), name(std::move(kindName))
    {
        calls.push_back(name + ":made");
    }
    ~Overlay() override { calls.push_back(name + ":deleted"); }
    void beginClose() override
    {
        if (!closing)
            calls.push_back(name + ":beginClose");
        closing = true;
    }
    bool closeDue(uint32_t now) override { return closing && int32_t(now - deadline) > 0; }
    bool finished(uint32_t now) override { return int32_t(now - finishAt) > 0; }

    std::string name;
    bool closing = false;
    uint32_t deadline = 0;
    uint32_t finishAt = 0;
};

inline Overlay* lastPreview = nullptr;
inline Overlay* lastDisperse = nullptr;
inline Overlay* lastCongratulation = nullptr;

inline GameMenu::Overlay* makePreview(GameMenu& menu, const TextureRef&)
{
    return lastPreview = new Overlay(menu, "mapPreview");
}
inline GameMenu::Overlay* makeCongratulation(GameMenu& menu, const TextureRef&)
{
    return lastCongratulation = new Overlay(menu, "congratulation");
}
inline GameMenu::Overlay* makeDisperse(GameMenu& menu, const TextureRef&)
{
    return lastDisperse = new Overlay(menu, "disperse");
}

// Every screen kind made by a stand-in.
inline void useStandIns(GameMenu& menu, bool overlays = false)
{
    GameMenu::Maker all[GameMenu::kindCount] = {
        makeScreen<0>, makeScreen<1>, makeScreen<2>,  makeScreen<3>,  makeScreen<4>,
        makeScreen<5>, makeScreen<6>, makeScreen<7>,  makeScreen<8>,  makeScreen<9>,
        makeScreen<10>, makeScreen<11>, makeScreen<12>, makeScreen<13>, makeScreen<14>};
    for (int i = 0; i < GameMenu::kindCount; ++i)
        menu.makers[i] = all[i];
    if (overlays) {
        menu.overlayMakers[GameMenu::mapPreviewKind] = makePreview;
        menu.overlayMakers[GameMenu::congratulationKind] = makeCongratulation;
        menu.overlayMakers[GameMenu::disperseKind] = makeDisperse;
    }
}

inline Screen* as(GameMenu::Screen* screen)
{
    return static_cast<Screen*>(screen);
}

// The scene and race logic, recorded.
class World : public GameMenu::World
{
public:
    World() : GameMenu::World(nullptr) {}

    Game* game() override { return &race; }
    bool loadMap(const String& path) override
    {
        calls.push_back("world:load");
        loadedPath = path.text();
        return loads;
    }
    bool raceCanRun() override { return raceRuns; }
    void applyRaceChoice(const RaceChoice& choice) override
    {
        calls.push_back("world:applyRaceChoice");
        race.choice = choice;
    }
    void applyTimeOfDay() override { calls.push_back("world:applyTimeOfDay"); }
    void setCameraMode(int32_t first, int32_t last, float speed) override
    {
        calls.push_back("world:camera" + std::to_string(first) + "," + std::to_string(last) + "," +
                        std::to_string(int(speed)));
    }
    void setTour(int32_t tour, uint32_t value) override
    {
        calls.push_back("world:tour" + std::to_string(tour) + "=" + std::to_string(value));
    }
    void clearScene() override { calls.push_back("world:clear"); }
    void setupRace() override { calls.push_back("world:setupRace"); }
    void releaseRace() override { calls.push_back("world:releaseRace"); }
    void placePlayerQuad() override { calls.push_back("world:placePlayerQuad"); }
    void giveUpRace() override { calls.push_back("world:giveUpRace"); }
    void advanceChampionship() override { calls.push_back("world:advanceChampionship"); }
    void toggleVehicleCamera() override { calls.push_back("world:camera"); }

    Game race{nullptr, nullptr};
    bool loads = true;
    bool raceRuns = true;
    std::wstring loadedPath;
};

// The application side, recorded.
class Application : public GameMenu::Interface
{
public:
    void quit() override { calls.push_back("app:quit"); }
    // A folder that holds no maps from whatever folder the tests run in
    // (the build's own has the game's).
    String getMapFolder() override { return String(L"NoMapsOfTheMenuTests\\Map\\"); }
    uint32_t isFirstStart() override { return firstStart; }
    void setCursorShown(bool shown) override { calls.push_back(shown ? "app:cursorOn" : "app:cursorOff"); }

    uint32_t firstStart = 0;
};

// The menu keys of the default keyboard bindings over a state block the
// test writes.
struct Keys
{
    Keys()
    {
        control.keyboardSet.base = &state;
        Control::setDefaultKeys(control.keyboardSet);
        control.joystickSet = Control::BindingSet{};
    }
    void set(int code, bool down) { state.keyHeld[code] = down ? 0x80 : 0; }
    UserInput::State state;
    Control control{};
};

}
