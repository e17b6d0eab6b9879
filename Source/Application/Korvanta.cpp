#include "Application/Korvanta.h"

#include "Application/CrashProtection.h"
#include "Application/GlobalSettings.h"
#include "Application/Globals.h"
#include "Application/LanguageSetup.h"
#include "Application/Registry.h"
#include "Application/UserInput.h"
#include "Audio/Audio.h"
#include "Physics/PhysicsManager.h"
#include "Render/DirectGraphics.h"
#include "Way/WayModeler.h"
#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/Language.h"
#include "Core/Resource.h"
#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <d3dx9.h>

Korvanta* gApp = nullptr;
HINSTANCE gInstance = nullptr;

Korvanta::Korvanta()
    : version(L"1.0"), programName(L"Korvanta")
{
    // A start that has to create the program's key is the player's first:
    // the menu then asks for the language after the intro.
    bool created = false;
    registryKey = Registry::open(programName, &created);
    keyRetry = created ? 1 : 0;
    appDataFolder = (WinShell::getAppDataFolder().addBackslash() + programName).addBackslash();
    startFolder = getCurrentFolder();
    cursor = LoadCursorW(nullptr, IDC_ARROW);
    if (!registryKey) {
        registryKey = Registry::open(programName);
        keyRetry = 1;
    }
    // An existing folder is no error.
    CreateDirectoryW(appDataFolder.text(), nullptr);
    Control::setDefaultKeys(controls.keyboardSet);
    Control::setDefaultJoystick(controls.joystickSet);
}

Korvanta::~Korvanta()
{
    scene.release();
    EnvMap::destroy(envMap);
    // The window's destruction saves the settings, bindings included: only
    // after it may the settings forget the bindings.
    destroy();
    if (gSettings && gSettings->controls == &controls)
        gSettings->controls = nullptr;
    if (registryKey)
        RegCloseKey(registryKey);
}

int Korvanta::run(HINSTANCE instance, int command)
{
    CRASH_TRACE();
    gInstance = instance;
    showCommand = command;
    mainThreadId = GetCurrentThreadId();
    if (WinShell::gMonitors)
        WinShell::gMonitors->enumerate();
    // The languages are set up before init: init's failure boxes need their
    // texts, and a first start saves the language choice into the registry
    // together with the default settings, so the choice must be made by then.
    setUpLanguages();
    if (!init())
        return -1;
    gameMenu.controls = &controls;
    gameMenu.load(String(L"Data\\Menu\\Menu.mnu"));
    gameMenu.startIntro();
    mainLoop();
    shutdown();
    return 0;
}

uint32_t Korvanta::init()
{
    CRASH_TRACE();
    String primary;
    if (WinShell::gMonitors)
        primary = String(WinShell::gMonitors->getPrimary().deviceName);

    if (gSettings) {
        gSettings->controls = &controls;
        gSettings->load();
        scene.game.readSettings(*gSettings);
        championshipRead = true;
    }

    CRASH_TRACE();
    if (!chooseMonitor(primary)) {
        showError(L"ErrorDetectMonitor", nullptr, MB_ICONASTERISK);
        return 0;
    }
    CRASH_TRACE();
    if (!registerWindowClass(programName)) {
        showError(L"ErrorWindowClass", nullptr, MB_ICONERROR);
        return 0;
    }
    CRASH_TRACE();
    if (!gDirectGraphics.init()) {
        showError(L"ErrorDirect3D", nullptr, MB_OK);
        return 0;
    }
    CRASH_TRACE();
    if (!createWindow(programName)) {
        showError(L"ErrorWindowCreate", nullptr, MB_ICONERROR);
        return 0;
    }
    CRASH_TRACE();
    if (!createDevice()) {
        showError(L"ErrorDirect3DDevice", window, MB_OK);
        return 0;
    }
    CRASH_TRACE();
    initAudio();
    CRASH_TRACE();
    gUserInput.init(window);
    CRASH_TRACE();
    startPhysics();
    scene.swapChain = swapChain;
    CRASH_TRACE();
    if (Texture::loadImageFile(scene.lightTexture, String(L"DefLight"), String(L"bmp"), 169, 1, D3DFMT_A8R8G8B8,
                               D3DPOOL_MANAGED, true, nullptr))
        Texture::whiteFromRed(scene.lightTexture);
    CRASH_TRACE();
    {
        Resource cubemap(174, 10);
        Texture::loadCubeFromMemory(cubemap, nullptr, levelEditorCubemap, String(L"LevelEditorCubemap"), D3DX_DEFAULT,
                                    D3DX_DEFAULT, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT);
    }
    scene.shadowManager.setQuality(gSettings ? gSettings->shadowFactor() : 1.0f);
    CRASH_TRACE();
    if (gResourceManager)
        gResourceManager->load(String(L"Data\\Resource\\Resource.res"));
    CRASH_TRACE();
    scene.objectPackages.loadFolder(String(L"Objects\\"));
    scene.setCameraObjectType(String(L"Camera"));
    scene.game.loadObjectTypes(scene.objectManager, Game::packageNames, Game::startVehicleScale);
    CRASH_TRACE();
    createWayModelerSet(gResourceManager);
    CRASH_TRACE();
    if (EntityManager::PhysicsManager* physics = physicsManager(); physics && physics->threaded)
        physics->thread.start();
    active = 1;
    return 1;
}

void Korvanta::initAudio()
{
    CRASH_TRACE();
    Audio::init(window);
    const auto makeDefault = [](Audio::FileRef& sound, const wchar_t* name) {
        Resource* stream = new Resource(name, RT_RCDATA);
        stream->deleteOnClose = true;
        sound.set(stream, Audio::FileRef::typeWav, String(name), 1);
    };
    makeDefault(defaultCollisionSound, L"SndDefColl");
    makeDefault(defaultDragSound, L"SndDefDrag");
}

uint32_t Korvanta::setUpLanguages()
{
    CRASH_TRACE();
    if (!gLanguage)
        return 0;
    LanguageSetup::run(*gLanguage, registryKey, GetUserDefaultLangID());
    return 1;
}

uint32_t Korvanta::chooseMonitor(const String& deviceName)
{
    if (!WinShell::gMonitors)
        return 0;
    chosenMonitor = WinShell::gMonitors->findByDeviceName(deviceName);
    return chosenMonitor.handle ? 1 : 0;
}

uint32_t Korvanta::registerWindowClass(const String& name)
{
    String classNameText;
    classNameText.format(L"%s - %s", name.text(), name.text());
    windowClass = WNDCLASSW{};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = WinShell::windowProc;
    windowClass.hInstance = gInstance;
    windowClass.hIcon = LoadIconW(gInstance, MAKEINTRESOURCEW(184));
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    return registerClass(classNameText) != 0 ? 1 : 0;
}

uint32_t Korvanta::createWindow(const String& title)
{
    CRASH_TRACE();
    // Without the registry key the first start goes full screen in the
    // largest display mode.
    if (keyRetry && gSettings && gDirectGraphics.modes.count() > 0) {
        const intvec2d mode = gDirectGraphics.modes.modeAt(gDirectGraphics.modes.count() - 1);
        gSettings->width = uint32_t(mode.x);
        gSettings->height = uint32_t(mode.y);
        gSettings->options.fullScreen = 1;
        gSettings->aspect = float(mode.x) / float(mode.y);
    }
    const uint32_t width = gSettings ? gSettings->width : 1024;
    const uint32_t height = gSettings ? gSettings->height : 768;
    constexpr DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE;
    RECT frame{0, 0, LONG(width), LONG(height)};
    AdjustWindowRect(&frame, style, FALSE);

    if (window) {
        DestroyWindow(window);
        window = nullptr;
    }
    HWND created = CreateWindowExW(0, className.text(), title.text(), style, chosenMonitor.monitorRect.left,
                                   chosenMonitor.monitorRect.top, frame.right - frame.left, frame.bottom - frame.top,
                                   nullptr, nullptr, gInstance, this);
    window = created;
    fullScreen = gSettings ? gSettings->options.fullScreen : 1;
    if (!created || !IsWindow(created))
        return 0;
    SetWindowLongPtrW(created, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    ShowWindow(created, showCommand);
    UpdateWindow(created);
    return 1;
}

uint32_t Korvanta::pumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
        if (message.message == WM_QUIT)
            return 0;
    }
    return 1;
}

void Korvanta::mainLoop()
{
    CRASH_TRACE();
    while (pumpMessages()) {
        Audio::update();
        SetThreadExecutionState(ES_DISPLAY_REQUIRED);
        gTimer.update(0);
        gUserInput.update();
        update();
        render();
    }
}

void Korvanta::shutdown()
{
    CRASH_TRACE();
    if (shutDown)
        return;
    shutDown = true;
    // The physics thread ends before anything it may touch goes.
    if (EntityManager::PhysicsManager* physics = physicsManager())
        physics->thread.stop();
    gameMenu.releaseSounds();
    scene.game.releaseSounds();
    scene.release();
    EnvMap::release(envMap);
    destroy();
    releaseDevice();
    gUserInput.release();
    Audio::release();
    if (WinShell::gMonitors)
        WinShell::gMonitors->clear();
    // Deleted here once and the pointers cleared, so that the exit clean-up
    // and a late crash report never touch them again.
    delete gLanguage;
    gLanguage = nullptr;
    delete gResourceManager;
    gResourceManager = nullptr;
}

void Korvanta::shutdownHook()
{
    if (gApp)
        CrashProtection::endApplication(gApp->mainThreadId, [] { gApp->shutdown(); });
}

void Korvanta::quit()
{
    saveSettings();
    PostQuitMessage(0);
}

String Korvanta::getSettingNameGame()
{
    return gSettings ? gSettings->name : String(L"");
}

Color Korvanta::getSettingCharGame()
{
    if (!gSettings)
        return Game::getPlayerColor(1);
    const uint8_t* bytes = gSettings->fourBytes; // blue, green, red, alpha
    return Color(bytes[2], bytes[1], bytes[0], bytes[3]);
}

void Korvanta::saveSettings()
{
    if (!gSettings)
        return;
    // Before the settings were read the race holds no table of its own: the
    // kept records are written as they are.
    if (championshipRead)
        scene.game.writeSettings(*gSettings);
    gSettings->save();
}

LRESULT Korvanta::handleMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (!IsWindow(hwnd))
        return DefWindowProcW(hwnd, message, wParam, lParam);
    switch (message) {
    case WM_SETCURSOR:
        SetCursor(cursor);
        return 1;
    case WM_DESTROY:
        quit();
        break;
    case WM_CHAR:
        GameMenu::Interface::onChar(wchar_t(wParam));
        break;
    case WM_LBUTTONDOWN:
        gameMenu.onLeftButtonDown();
        break;
    case WM_LBUTTONUP:
        gameMenu.onLeftButtonUp();
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            quit();
        break;
    case WM_MOVE:
        onWindowResized(0, true);
        break;
    case WM_SIZE:
        onWindowResized(wParam);
        break;
    case WM_ENTERSIZEMOVE:
        sizing = true;
        break;
    case WM_EXITSIZEMOVE:
        sizing = false;
        D3D::Device::reset(gDirectGraphics.record, nullptr);
        gameMenu.onViewChanged();
        break;
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Korvanta::showError(const wchar_t* key, HWND owner, UINT type)
{
    String text;
    String caption;
    if (gLanguage) {
        text = gLanguage->getText(nullptr, String(key));
        caption = gLanguage->getText(nullptr, String(L"Error"));
    }
    MessageBoxW(owner, text.text(), caption.text(), type);
}
