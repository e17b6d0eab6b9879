#pragma once

#include "Application/ControlBindings.h"
#include "Application/Multimonitor.h"
#include "Application/WinShell.h"
#include "Landscape/Scene.h"
#include "Menu/GameMenu.h"
#include "Menu/GameMenuScreen.h"
#include "Render/D3DDevice.h"
#include "Render/EnvMap.h"
#include "Render/SwapChainInterface.h"
#include "TextureRecord.h"
#include "Core/AudioFileRef.h"
#include "Core/String.h"
#include "Entity/EntityManager.h"

#include <windows.h>

#include <cstdint>

// The application object: one instance, made by the start-up globals and
// reached through gApp. It owns the window and runs start-up (run, init), the
// main loop and shutdown, in that order, on the main thread.
//
// Failures travel as return values: init shows a message box for the step
// that failed and returns 0; run then returns -1.
class Korvanta final : public WinShell::Window,
                       public D3D::SwapChainInterface,
                       public EnvMap::Interface,
                       public GameMenu::Interface,
                       public Game::Interface
{
public:
    // Opens (or creates) the registry key, builds the application-data folder
    // path and creates the folder.
    Korvanta();
    ~Korvanta();

    // Start-up, main loop and shutdown. Returns 0 after a normal run, -1 when
    // init failed (nothing was shut down then; the destructor cleans up).
    int run(HINSTANCE instance, int showCommand);

    // The start-up steps in order; 1 on success, 0 after a failure message.
    uint32_t init();
    // Registers the built-in languages and makes the player's language current:
    // the one saved in the registry, else the user's Windows language.
    uint32_t setUpLanguages();
    // Empties the message queue; 0 when WM_QUIT was retrieved, else 1. Also
    // the swap chain's hook while a lost device waits.
    uint32_t pumpMessages() override;
    // Runs until the quit message arrives.
    void mainLoop();
    // Releases what start-up made, once; later calls do nothing.
    void shutdown();
    // Saves the settings and posts the quit message.
    void quit() override;
    // The race logic's requests: the player's name and colour from the
    // settings, and saving the settings with the race's championship table.
    String getSettingNameGame() override;
    Color getSettingCharGame() override;
    void saveSettings() override;
    Control* getPlayerControls() override { return &controls; }
    // The crash report's last step: shuts down on the main thread, or makes the
    // main loop end when another thread crashed.
    static void shutdownHook();

    uint32_t chooseMonitor(const String& deviceName);
    uint32_t registerWindowClass(const String& name);
    uint32_t createWindow(const String& title);
    // Device set-up: antialiasing from the settings, then the device on the
    // window; 0 after a failure (the Direct3D object is released then).
    uint32_t createDevice();
    // Opens the sound device (a failure leaves the game silent) and makes the
    // default collision and drag sounds from the program's resources. Never fails.
    void initAudio();
    // The simulator of the device's entity manager, for 128 rigid bodies;
    // nothing without a swap chain.
    void startPhysics();
    // The physics manager of the device's entity manager, or null.
    EntityManager::PhysicsManager* physicsManager() const;
    // One frame of the main loop; nothing while inactive.
    void update();
    void render();
    // The frame's start inside render: depth 1.0 and the target in the fog
    // colour (black without fog).
    void clearFrame();
    // WM_MOVE (moved) and WM_SIZE: the back-buffer size follows the client
    // area; a maximised window, or one restored to a client size other than
    // the back buffer's outside a drag, resets the device.
    void onWindowResized(WPARAM sizeType, bool moved = false);
    // The device and the Direct3D object (shutdown).
    void releaseDevice();

    // The graphics screen's changes take effect and are saved: the display
    // size and mode from the swap chain, the shadows from the shadow option,
    // the glow from the bloom switch.
    void applyDisplaySettings() override;

    // The menu's requests (KorvantaMenu.cpp): the maps folder, the settings'
    // words the screens change in place, whether this is a first start (the
    // registry key needed a second attempt), and the web pages.
    String getMapFolder() override;
    Korvanta* getThis() override { return this; }
    uint32_t* getSettingOptions() override;
    uint32_t* getShadowQuality() override;
    uint32_t* getSettingOption4() override;
    String* getSettingName() override;
    uint8_t* getSettingChar() override;
    uint32_t isFirstStart() override { return keyRetry; }
    String getMapsPage() override;
    String getDonatePage() override;
    void setCursorShown(bool shown) override { showCursor(shown); }
    // The one place that shows and hides the mouse cursor: ShowCursor keeps
    // a count, so it is called only when the wanted state changes, and only
    // while hideCursorInRace lets races hide it.
    void showCursor(bool shown);
    // The menu after the scene passes and in the loading frames; after a
    // reset the menu's screens rebuild what they keep.
    void renderAfterScene() override;
    void renderLoadProgress() override;
    void onDeviceReset() override;

    // Swap-chain hooks: the sun's shadow maps come first; the glow's scene
    // starts on a cleared target with the sky, the ground and the entities;
    // the occluders of the sun-glow test are the ground, the entities and the
    // strip effects.
    void renderShadowMaps() override;
    void renderEffectScene() override;
    void renderOcclusionPass() override;
    // After every device reset: the object functions redraw what they keep.
    void onDeviceRestored() override;
    // The application's environment map has no size: nothing is drawn.
    void renderEnvFace() override {}

    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    uint32_t fullScreen = 0; // the settings' full-screen field when the window was made
    int32_t showCommand = SW_SHOWNORMAL;
    uint32_t keyRetry = 0;   // 1 at the first start: the registry key was created or needed a second attempt
    uint32_t active = 0;     // set by a successful init; gates the frame work
    bool sizing = false;     // inside a drag that moves or sizes the window
    HKEY registryKey = nullptr;
    DWORD mainThreadId = 0;  // the thread that runs the main loop
    String version;
    String programName;
    String appDataFolder;    // ends with a backslash
    String startFolder;
    WinShell::Multimonitor::Monitor chosenMonitor;
    HCURSOR cursor = nullptr;
    D3D::Device::SwapChain* swapChain = nullptr; // null until createDevice succeeds
    // The player's control bindings, stored by the settings (tag 7).
    Control controls;
    // The game menu; declared before the scene, so that the scene goes first
    // when the application is destroyed.
    GameMenu gameMenu{&scene, this};
    // The level; it gets the swap chain once the device exists.
    Scene scene{programName, 3500.0f, this};
    // Whether the cursor is shown, and whether races may hide it.
    uint32_t cursorShown = 1;
    uint32_t hideCursorInRace = 1;
    // The sounds of collisions and drags whose objects name none.
    Audio::FileRef defaultCollisionSound;
    Audio::FileRef defaultDragSound;
    // The fixed cube map "LevelEditorCubemap" (resource 174), loaded at start.
    TextureRef levelEditorCubemap;
    // A map of size 0, entered nowhere: it renders nothing.
    EnvMap envMap{nullptr, this};

private:
    // A start-up failure box: caption "Error", text of the step's key.
    void showError(const wchar_t* key, HWND owner, UINT type);

    bool shutDown = false;
    // Set once the race took its championship table from the settings.
    bool championshipRead = false;
};

// The application object and the module handle of the program.
extern Korvanta* gApp;
extern HINSTANCE gInstance;
