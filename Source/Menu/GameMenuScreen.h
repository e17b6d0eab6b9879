#pragma once
// The faces of the menu's screens, the application's side of the menu and
// the menu's way to the scene and the race logic.

#include "Menu/GameMenu.h"
#include "Menu/Panel.h"

#include "Core/String.h"

#include <cstdint>

// The screen-logic face of every screen: done flag, next state, the enter
// operation and the six menu keys, which the state machine hands to the
// screen of the current state while it exists and is not done.
class GameMenu::Menu
{
public:
    explicit Menu(GameMenu& owner) : menu(&owner) {}
    virtual ~Menu() = default;
    Menu(const Menu&) = delete;
    Menu& operator=(const Menu&) = delete;

    virtual uint32_t isDone() { return done; }
    // The state this screen leads to once done; 3 (no screen) by default.
    virtual int32_t nextScreen() { return noScreen; }
    virtual void reset() { done = 0; }
    // value kept within lo..hi: 1 when it was inside (unchanged), else 0.
    virtual uint32_t clampIndex(int32_t& value, int32_t lo, int32_t hi);
    virtual void close() { done = 1; }

    // Entering the screen's state; returnState is where the control,
    // graphics and language screens go back to.
    virtual void enter(int32_t returnState) { (void)returnState; }
    virtual void onKeyLeft() {}
    virtual void onKeyRight() {}
    virtual void onKeyUp() {}
    virtual void onKeyDown() {}
    virtual void onKeyConfirm() {}
    virtual void onKeyBack() {}
    // A typed character (the quad customising screen's nickname).
    virtual void inputChar(wchar_t c) { (void)c; }
    virtual void onLeftButtonDown() {}
    virtual void onLeftButtonUp() {}
    // The window or the device changed size.
    virtual void onViewChanged() {}
    virtual void onDeviceReset() {}
    // Whether the control screen waits for an input to assign.
    virtual bool isCapturing() { return false; }
    // What the race loaders read: the map choice fills the map, track kind
    // and daytime ids, the game mode screen the mode, difficulty, battle,
    // opponents and goal; the country choice names the championship chosen.
    struct Selection
    {
        String mapName{L""};
        int32_t trackKind = 0;  // 9 OffRoad, 10 RaceTrack, 11 Rally
        int32_t daytime = 0;    // 13 Day, 14 Sunrise, 15 Sunset
        int32_t mode = 0;       // 1..6
        int32_t difficulty = 0; // 96 Easy, 97 Medium, 98 Hard
        int32_t battle = 24;    // 24 on, 25 off
        int32_t opponents = 2;
        int32_t goal = 2;
    };
    virtual void readSelection(Selection& out) { (void)out; }
    virtual Game::ChampionshipEntry* chosenEntry() { return nullptr; }
    // The pause screen's answers.
    virtual bool givesUp() { return false; }
    virtual bool exitsChampionship() { return false; }
    // The points screen: the goal was missed.
    virtual bool notQualified() { return false; }

    GameMenu* menu;
    uint32_t done = 0;
    // Set by the back key on the screens that tell back from confirm.
    uint32_t backFlag = 0;
};

// A menu screen: the logic face first, the widget face after it. Deleted
// through either face's virtual destructor.
class GameMenu::Screen : public GameMenu::Menu, public UserInterface::Panel
{
public:
    // A panel of the menu's swap chain at layer with the menu's fade.
    explicit Screen(GameMenu& owner, int32_t layer = 0, float targetOpacity = controlOpacity,
                    float fadeSpeed = controlFadeSpeed);
};

// An overlay shown around a race: the map preview, the congratulation and
// the disperse transition.
class GameMenu::Overlay : public UserInterface::Panel
{
public:
    explicit Overlay(GameMenu& owner, int32_t layer = 0, float targetOpacity = controlOpacity,
                     float fadeSpeed = controlFadeSpeed);

    // A key asks the overlay to go (the preview closes, the congratulation
    // is skipped).
    virtual void beginClose() {}
    // Whether the overlay is closing and its deadline has passed at now.
    virtual bool closeDue(uint32_t now) { return (void)now, true; }
    // The transition has run out.
    virtual bool finished(uint32_t now) { return (void)now, true; }

    GameMenu* menu;
};

// The application's side of the menu. Every body of the base is empty (or
// gives nothing); onChar hands the character to the menu.
class GameMenu::Interface
{
public:
    virtual ~Interface() = default;

    virtual void quit() {}
    virtual String getMapFolder() { return String(L""); }
    virtual Korvanta* getThis() { return nullptr; }
    // The settings' eight option words.
    virtual uint32_t* getSettingOptions() { return nullptr; }
    virtual uint32_t* getShadowQuality() { return nullptr; }
    virtual uint32_t* getSettingOption4() { return nullptr; }
    virtual void applyDisplaySettings() {}
    virtual void onChar(wchar_t c)
    {
        if (menu)
            menu->onChar(c);
    }
    virtual String* getSettingName() { return nullptr; }
    virtual uint8_t* getSettingChar() { return nullptr; }
    // Nonzero leads from the intro to the language screen.
    virtual uint32_t isFirstStart() { return 0; }
    virtual String getMapsPage() { return String(L""); }
    virtual String getDonatePage() { return String(L""); }
    // Shows or hides the mouse cursor while the application lets the race
    // hide it.
    virtual void setCursorShown(bool shown) { (void)shown; }

    GameMenu* menu = nullptr;
};

// What the menu asks of the scene and the race logic. The base works on the
// scene it is given (nothing without one); tests put recording ones in.
class GameMenu::World
{
public:
    explicit World(Scene* worldScene) : scene(worldScene) {}
    virtual ~World() = default;

    virtual Game* game();
    // Scene::load: false when nothing was loaded.
    virtual bool loadMap(const String& path);
    // Whether the loaded map holds a race a player can drive (false
    // without a scene).
    virtual bool raceCanRun();
    // The race logic takes the choice and sets the scene's hour by it.
    virtual void applyRaceChoice(const RaceChoice& choice);
    virtual void applyTimeOfDay();
    virtual void setCameraMode(int32_t first, int32_t last, float speed);
    // The camera tour words: tour 0 the tour over the map, 1 the
    // championship end's.
    virtual void setTour(int32_t tour, uint32_t value);
    virtual void clearScene();
    // The race logic's set-up of a race on the loaded map, and its end
    // (vehicles removed, race objects hidden, the race cleared).
    virtual void setupRace();
    virtual void releaseRace();
    virtual void placePlayerQuad();
    virtual void giveUpRace();
    virtual void advanceChampionship();
    virtual void restartChampionship();
    // The loaded map's name and country code (empty without a scene).
    virtual String mapName();
    virtual String countryCode();
    // A camera tour word (0 the tour over the map, 1 the championship end's).
    virtual uint32_t tour(int32_t tour);
    // The scene's clock, sounds and timers stop, and run on.
    virtual void pauseScene();
    virtual void resumeScene();
    // The player's vehicle camera between modes 0 and 2.
    virtual void toggleVehicleCamera();
    // The camera key's next mode: chase (0) and driver (2) swap, any other
    // mode stays.
    static int32_t nextCameraMode(int32_t mode) { return mode == 0 ? 2 : mode == 2 ? 0 : mode; }

    Scene* scene;
};
