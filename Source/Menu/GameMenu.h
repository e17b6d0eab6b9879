#pragma once
// The game menu: one object, a member of the application, that owns every
// menu screen and overlay, the menu fonts, the menu sounds and the logo. It
// reads the menu file "Data\Menu\Menu.mnu", runs the per-frame state machine
// over the menu state ids with the bound menu keys, and moves the program
// between the menu and a race (the loaders). The colour ramp along which a
// selected control pulses lives here too.
//
// Screens have two faces: the screen logic (GameMenu::Menu) and the widget
// that draws it (UserInterface::Panel); GameMenu::Screen joins them. The
// overlays shown around a race (map preview, congratulation, the disperse
// transition) are panels only (GameMenu::Overlay). The menu makes its
// screens through a table of makers, one per kind; a kind without a maker is
// never made, and every user of a slot tests it.
//
// The menu reaches the scene and the race logic through GameMenu::World and
// the application through GameMenu::Interface. Deadlines are milliseconds of
// the race clock (raceNow). Main thread only.

#include "Menu/UIFont.h"
#include "Render/D3DDevice.h"
#include "Render/GpuSmooth.h"
#include "Race/Game.h"

#include "Core/Color.h"
#include "Core/FileArray.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cstdint>

class Control;
class Korvanta;
class RenderTexture;
class Scene;
class TextureRef;

namespace Audio {
class FileRef;
}
namespace UserInterface {
class Panel;
}

class GameMenu
{
public:
    class Button;
    class ButtonPrevNext;
    class ColorSlider;
    class EditField;
    class Text;
    class Menu;
    class Screen;
    class Overlay;
    class Interface;
    class World;
    class Intro;
    class LoadingScreen;
    class Settings;
    class Control;
    class ExtendedControl;
    class Graphics;
    class Language;
    class Main;
    class GameMode;
    class ChooseMap;
    class ChooseCountry;
    class MapPreview;
    class Congratulation;
    class DisperseScreen;
    class RaceResults;
    class Points;
    class GameOver;
    class Pause;
    class Exit;
    class MyQuad;

    static constexpr int fontCount = 5;
    // The faces the controls use.
    static constexpr int buttonFont = 0;
    static constexpr int secondButtonFont = 1;
    static constexpr int arrowFont = 2;
    static constexpr int titleFont = 4;

    // Menu widgets start at half opacity and fade by a tenth per frame.
    static constexpr float controlOpacity = 0.5f;
    static constexpr float controlFadeSpeed = 0.1f;

    // Menu state ids.
    enum State : int32_t {
        introState0 = 0,
        introState2 = 2,
        noScreen = 3,
        mainState = 4,
        myQuadState = 6,
        chooseMapState = 10,
        gameModeState = 11,
        pauseState = 12,
        settingsState = 14,
        exitState = 15,
        quitState = 16,
        soloRaceState = 17,
        controlState = 18,
        graphicsState = 19,
        languageState = 20,
        raceResultsState = 21,
        pointsState = 22,
        chooseCountryState = 23,
        championshipStartState = 24,
        championshipStartState2 = 25,
        championshipNextState = 26,
        championshipEndState = 27,
        gameOverState = 28,
        championshipRestartState = 29,
        extendedControlState = 30,
    };

    // The kinds of screens the makers build.
    enum Kind : int32_t {
        mainKind,
        chooseMapKind,
        gameModeKind,
        exitKind,
        pauseKind,
        settingsKind,
        controlKind,
        graphicsKind,
        languageKind,
        myQuadKind,
        raceResultsKind,
        pointsKind,
        chooseCountryKind,
        gameOverKind,
        extendedControlKind,
        kindCount
    };
    enum OverlayKind : int32_t { mapPreviewKind, congratulationKind, disperseKind, overlayKindCount };
    using Maker = Screen* (*)(GameMenu& menu);
    // The disperse transition breaks up picture (the loading screen's last
    // frame); the other overlays take no picture.
    using OverlayMaker = Overlay* (*)(GameMenu& menu, const TextureRef& picture);
    // The makers of the game; a null entry is a screen the game does not have.
    static const Maker defaultMakers[kindCount];
    static const OverlayMaker defaultOverlayMakers[overlayKindCount];

    // The menu inputs, in the order of inputHeld, and their action bits.
    enum Input : int32_t { inLeft, inRight, inUp, inDown, inConfirm, inBack, inPause, inCamera, inThrottle, inputCount };
    static const uint32_t inputBits[inputCount];

    // The Main screen's block of the menu file: four values and the name of
    // the quad package (tag 5, "Quad" when the block names none).
    struct MainBlock
    {
        uint32_t values[4] = {};
        String quadPackage{L"Quad"};
    };

    // Nothing is read or made: no screens, no fonts, state 3.
    explicit GameMenu(Scene* menuScene, Interface* menuCallbacks = nullptr);
    // releaseSounds (with releaseScreens and the smoothing).
    ~GameMenu();
    GameMenu(const GameMenu&) = delete;
    GameMenu& operator=(const GameMenu&) = delete;

    // The swap chain the menu's widgets belong to; null without a scene or
    // before the device exists.
    D3D::Device::SwapChain* swapChain() const;
    // The race logic of the world (null without one).
    Game* game() const;

    // The menu file (GameMenuFile.cpp): reads path (the path of the last load
    // when empty; nothing at all when both are empty) and builds the screens.
    void load(const String& path);

    // The state machine (GameMenuStates.cpp).
    // State 0 and the first intro page; without any page the start goes on
    // as after the last one.
    void startIntro();
    void update();
    void openScreen(int32_t id, int32_t returnState = noScreen);
    void render();
    void blankScreen();
    void onLeftButtonDown();
    void onLeftButtonUp();
    void onViewChanged();
    // After a device reset: every screen that exists rebuilds what it keeps.
    void onDeviceReset();
    bool getCursorClientPos(intvec2d& out) const;
    // A typed character: the screen that takes text input gets it.
    void onChar(wchar_t c);
    void onKeyLeft();
    void onKeyRight();
    void onKeyUp();
    void onKeyDown();
    void onKeyConfirm();
    void onKeyBack();
    void onKeyPause();
    void onKeyCamera();
    void onRaceFinished();

    // Race loading and the way back (GameMenuRace.cpp). loadRace and
    // loadChampionshipEnd return false when they loaded nothing (the state
    // is then left to the caller).
    bool loadRace(int32_t kind);
    bool loadChampionshipEnd();
    void returnToMenu(int32_t state);
    // The solo race choice from the map choice and game mode screens.
    void fillSoloChoice(RaceChoice& choice) const;

    // Factories: "once" ones return the slot's screen, made when absent;
    // "show" ones make it (true) or delete it (false). Each returns the slot.
    Intro* createIntro(int32_t index);
    Screen* createMain() { return once(mainScreen, mainKind); }
    Screen* createChooseMap() { return once(chooseMapScreen, chooseMapKind); }
    Screen* createGameMode() { return once(gameModeScreen, gameModeKind); }
    Screen* createExit() { return once(exitScreen, exitKind); }
    Screen* createSettings() { return once(settingsScreen, settingsKind); }
    Screen* createControl() { return once(controlScreen, controlKind); }
    Screen* createGraphics() { return once(graphicsScreen, graphicsKind); }
    Screen* createLanguage() { return once(languageScreen, languageKind); }
    Screen* createMyQuad() { return once(myQuadScreen, myQuadKind); }
    Screen* createChooseCountry() { return once(chooseCountryScreen, chooseCountryKind); }
    Screen* showExtendedControl(bool show) { return this->show(extendedControlScreen, extendedControlKind, show); }
    Screen* showRaceResults(bool show) { return this->show(raceResultsScreen, raceResultsKind, show); }
    Screen* showPoints(bool show) { return this->show(pointsScreen, pointsKind, show); }
    Screen* showGameOver(bool show) { return this->show(gameOverScreen, gameOverKind, show); }
    Screen* showPause(bool show) { return this->show(pauseScreen, pauseKind, show); }
    Overlay* createMapPreview();
    Overlay* createCongratulation();

    // Plays menu sound index once: 0 move, 1 confirm, 2 back, 3 pause, 4
    // applause; another index or an empty slot plays nothing.
    void playSound(int32_t index);
    // How often each of the five sounds was asked for, played or not.
    uint32_t soundCounts[5] = {};
    // The "MainLogo" panel from the menu file's logo, made once.
    void showLogo();

    // The display name of a country code ("DE" gives "Deutschland"); empty
    // for a code outside the table.
    static String getCountryName(const String& code);

    // The blurred still of the race behind the results, points, game over
    // and pause screens: the shared capture target (made once), the scene
    // drawn into it without the user interface and blurred. With
    // takeTexture, panel shows the result over the whole back buffer. False
    // when there is no device or the target could not be made.
    bool renderSmoothBackground(UserInterface::Panel& panel, bool takeTexture);
    // The blur's passes go; the capture target is made again when needed.
    void releaseSmoothing();

    // Deletes every screen and overlay but the loading screen, and the logo;
    // then releaseSmoothing.
    void releaseScreens();
    // Unloads and frees the menu sounds and the applause, then releaseScreens.
    void releaseSounds();

    // The screen of a state (0-2 the intro pages), null without one.
    Screen* screenOf(int32_t state) const;
    // The screen of a state (not the pause screen) when it exists and is
    // not done, else null.
    Screen* activeScreen(int32_t state) const;

    // The ramp of the highlighted control: green, yellow, dark grey and
    // back to green.
    static const D3DCOLORVALUE highlightRamp[4];
    // One step of a highlighted control: colour from the ramp at phase,
    // then phase moves on by 0.08 of the saved frame factor, wrapping
    // past 1.
    static void highlightStep(float& phase, Color& colour);

    String menuFile{L""};
    Scene* scene = nullptr;
    Interface* callbacks = nullptr;
    UserInterface::UIFont::Face* fonts[fontCount] = {};
    String programFolder;
    int32_t menuState = noScreen;
    FileArray soundStreams[4]{FileArray(4096), FileArray(4096), FileArray(4096), FileArray(4096)};
    FileArray tag3Block{4096};
    uint32_t soundTypes[4] = {};
    Audio::FileRef* sounds[4] = {};
    Audio::FileRef* applauseSound = nullptr;
    Intro* introScreens[3] = {};
    Screen* mainScreen = nullptr;
    Screen* chooseMapScreen = nullptr;
    Screen* gameModeScreen = nullptr;
    LoadingScreen* loadingScreen = nullptr;
    Screen* exitScreen = nullptr;
    Screen* pauseScreen = nullptr;
    Screen* settingsScreen = nullptr;
    Screen* controlScreen = nullptr;
    Screen* graphicsScreen = nullptr;
    Screen* languageScreen = nullptr;
    Screen* myQuadScreen = nullptr;
    Screen* raceResultsScreen = nullptr;
    Screen* pointsScreen = nullptr;
    Screen* chooseCountryScreen = nullptr;
    Overlay* disperseScreen = nullptr;
    Overlay* mapPreviewScreen = nullptr;
    Screen* gameOverScreen = nullptr;
    Screen* extendedControlScreen = nullptr;
    Overlay* congratulationScreen = nullptr;
    uint8_t inputHeld[inputCount] = {};
    // Bits (1 << Input) of the inputs down when the pause opened: the pause
    // screen does not read them until they are let go.
    uint32_t keptFromPause = 0;
    uint32_t repeatAt[4] = {};
    FileArray tag9Block{4096};
    UserInterface::Panel* logoPanel = nullptr;
    int32_t titleX = 350;
    int32_t titleY = 50;
    uint32_t smoothSize = 64;
    GpuSmooth smooth;
    RenderTexture* smoothTarget = nullptr;

    // The player's bindings, polled by action bit (nothing without).
    ::Control* controls = nullptr;
    // The Main screen's block as the menu file gave it last.
    MainBlock mainBlock;
    // The state that led to a race load, for a load that loads nothing.
    int32_t previousState = noScreen;
    // Why a map was refused, one line at the foot of whatever screen the
    // menu goes back to, clear of its widgets, for noticeMilliseconds; null
    // while none shows.
    static constexpr uint32_t noticeMilliseconds = 8000;
    // A frame counts at most this much of the notice's time, as the race's
    // world steps at most a fifth of a second a frame: at five frames a
    // second or fewer, and after a long frame, it stays for 40 frames.
    static constexpr uint32_t noticeLongestFrame = 200;
    Text* noticeText = nullptr;
    uint32_t noticeShown = 0; // ms of the notice's time gone
    uint32_t noticeFrameAt = 0; // the clock at its last frame
    // Shows the text of key in the player's language as the notice.
    void showNotice(const wchar_t* key);
    void hideNotice();
    // Where the menu reaches the scene and the race logic: ownWorld (over
    // scene) unless a test puts another in.
    World* world = nullptr;
    Maker makers[kindCount] = {};
    OverlayMaker overlayMakers[overlayKindCount] = {};

private:
    Screen* once(Screen*& slot, Kind kind);
    Screen* show(Screen*& slot, Kind kind, bool show);
    Overlay* makeOverlay(Overlay*& slot, OverlayKind kind);
    void deleteScreen(Screen*& slot);
    void deleteOverlay(Overlay*& slot);
    // The key of one polled input; input is one of the six menu keys.
    void routeKey(Input input);
    // The common end of both loaders: capture, screens out, the transition
    // in; picture is the capture. With race, the map must also hold a race
    // a player can drive.
    bool loadBehindLoadingScreen(const String& map, bool race);
    void captureLoadingPicture(TextureRef& picture);
    void finishLoad(TextureRef& picture);
    // The pause key's press of update, given the inputs newly pressed and
    // held this frame.
    void onPausePress(const bool (&pressed)[inputCount], const bool (&down)[inputCount]);
    // The notice fitted to the frame's width (it finds its place as it
    // draws), and gone once its time has passed.
    void updateNotice(uint32_t now);
    // The overlay steps of update (map preview, congratulation).
    void updateOverlays(const bool (&down)[inputCount], uint32_t now);
    // The points screen closes; the championship moves on when the player
    // qualified.
    void closePoints();
    // The screen that is current has finished: the per-state step.
    void onScreenDone();
    void releaseSound(int32_t index);

    World* ownWorld = nullptr;
};

// The colour at t (clamped to 0..1) along four stops a third apart.
D3DCOLORVALUE colorRamp4(const D3DCOLORVALUE stops[4], float t);
