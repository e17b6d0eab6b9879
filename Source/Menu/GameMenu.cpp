#include "Menu/GameMenu.h"

#include "Menu/GameMenuIntro.h"
#include "Menu/GameMenuLoadingScreen.h"
#include "Menu/GameMenuScreen.h"

#include "Audio/AudioFile.h"
#include "Audio/Sound2D.h"
#include "Landscape/Scene.h"
#include "Objects/DynObject.h"
#include "Objects/VehicleCamera.h"
#include "Race/GameVehicle.h"
#include "Render/RenderTexture.h"
#include "Render/SwapChain.h"

#include "Core/AudioFileRef.h"
#include "Core/CrashTrace.h"
#include "Core/Timer.h"

#include <d3dx9.h>

#include <algorithm>

const D3DCOLORVALUE GameMenu::highlightRamp[4] = {{0.0f, 1.0f, 0.0f, 1.0f},
                                                  {1.0f, 1.0f, 0.0f, 1.0f},
                                                  {63.0f / 255.0f, 63.0f / 255.0f, 63.0f / 255.0f, 1.0f},
                                                  {0.0f, 1.0f, 0.0f, 1.0f}};

// Left, right, up, down, confirm, back, pause, camera, throttle.
const uint32_t GameMenu::inputBits[inputCount] = {0x40, 0x80, 0x100, 0x200, 0x400, 0x800, 0x20, 0x1000, 0x2};

GameMenu::GameMenu(Scene* menuScene, Interface* menuCallbacks)
    : scene(menuScene), callbacks(menuCallbacks), programFolder(getModuleFolder())
{
    ownWorld = new World(menuScene);
    world = ownWorld;
    std::copy(std::begin(defaultMakers), std::end(defaultMakers), makers);
    std::copy(std::begin(defaultOverlayMakers), std::end(defaultOverlayMakers), overlayMakers);
    if (callbacks)
        callbacks->menu = this;
}

GameMenu::~GameMenu()
{
    releaseSounds();
    if (loadingScreen) {
        delete loadingScreen;
        loadingScreen = nullptr;
    }
    delete ownWorld;
    if (callbacks && callbacks->menu == this)
        callbacks->menu = nullptr;
}

D3D::Device::SwapChain* GameMenu::swapChain() const
{
    return scene ? scene->swapChain : nullptr;
}

Game* GameMenu::game() const
{
    return world ? world->game() : nullptr;
}

void GameMenu::highlightStep(float& phase, Color& colour)
{
    const D3DCOLORVALUE c = colorRamp4(highlightRamp, phase);
    colour = Color(uint8_t(c.r * 255.0f), uint8_t(c.g * 255.0f), uint8_t(c.b * 255.0f), uint8_t(c.a * 255.0f));
    // The factor of the last pause: the ramp keeps pulsing in the pause
    // screen, where the frame factor is 0.
    phase += gTimer.savedFactor * 0.08f;
    if (phase > 1.0f)
        phase -= 1.0f;
}

D3DCOLORVALUE colorRamp4(const D3DCOLORVALUE stops[4], float t)
{
    t = std::clamp(t, 0.0f, 1.0f);
    const int i = int(3.0f * t);
    const int j = std::min(i + 1, 3);
    const float local = (t - float(i) * (1.0f / 3.0f)) * 3.0f;
    const D3DCOLORVALUE& a = stops[i];
    const D3DCOLORVALUE& b = stops[j];
    return {a.r * (1.0f - local) + b.r * local, a.g * (1.0f - local) + b.g * local,
            a.b * (1.0f - local) + b.b * local, a.a * (1.0f - local) + b.a * local};
}

// Faces.

uint32_t GameMenu::Menu::clampIndex(int32_t& value, int32_t lo, int32_t hi)
{
    if (value < lo) {
        value = lo;
        return 0;
    }
    if (value > hi) {
        value = hi;
        return 0;
    }
    return 1;
}

GameMenu::Screen::Screen(GameMenu& owner, int32_t layer, float targetOpacity, float fadeSpeed)
    : Menu(owner), Panel(owner.swapChain(), layer, targetOpacity, fadeSpeed)
{
}

GameMenu::Overlay::Overlay(GameMenu& owner, int32_t layer, float targetOpacity, float fadeSpeed)
    : Panel(owner.swapChain(), layer, targetOpacity, fadeSpeed), menu(&owner)
{
}

// Factories.

GameMenu::Intro* GameMenu::createIntro(int32_t index)
{
    if (index < 0 || index > 2)
        return nullptr;
    if (!introScreens[index])
        introScreens[index] = new Intro(*this);
    return introScreens[index];
}

GameMenu::Screen* GameMenu::once(Screen*& slot, Kind kind)
{
    if (!slot && makers[kind])
        slot = makers[kind](*this);
    return slot;
}

GameMenu::Screen* GameMenu::show(Screen*& slot, Kind kind, bool shown)
{
    if (shown)
        return once(slot, kind);
    deleteScreen(slot);
    return nullptr;
}

GameMenu::Overlay* GameMenu::makeOverlay(Overlay*& slot, OverlayKind kind)
{
    if (!slot && overlayMakers[kind])
        slot = overlayMakers[kind](*this, TextureRef());
    return slot;
}

GameMenu::Overlay* GameMenu::createMapPreview()
{
    return makeOverlay(mapPreviewScreen, mapPreviewKind);
}

GameMenu::Overlay* GameMenu::createCongratulation()
{
    return makeOverlay(congratulationScreen, congratulationKind);
}

void GameMenu::deleteScreen(Screen*& slot)
{
    // Through the widget face, as every screen goes.
    UserInterface::Panel* panel = slot;
    slot = nullptr;
    delete panel;
}

void GameMenu::deleteOverlay(Overlay*& slot)
{
    Overlay* overlay = slot;
    slot = nullptr;
    delete overlay;
}

void GameMenu::releaseScreens()
{
    for (Intro*& intro : introScreens) {
        UserInterface::Panel* panel = intro;
        intro = nullptr;
        delete panel;
    }
    for (Screen** slot : {&mainScreen, &chooseMapScreen, &gameModeScreen, &exitScreen, &pauseScreen, &settingsScreen,
                          &controlScreen, &graphicsScreen, &languageScreen, &myQuadScreen, &raceResultsScreen,
                          &pointsScreen, &chooseCountryScreen})
        deleteScreen(*slot);
    deleteOverlay(disperseScreen);
    deleteOverlay(mapPreviewScreen);
    deleteScreen(gameOverScreen);
    deleteScreen(extendedControlScreen);
    deleteOverlay(congratulationScreen);
    delete logoPanel;
    logoPanel = nullptr;
    hideNotice();
    // The screens' blur goes with them. The results and the points leave it
    // made, and at the quit the device frees its targets next: a blur kept
    // until the menu itself goes would release targets already freed.
    releaseSmoothing();
}

bool GameMenu::renderSmoothBackground(UserInterface::Panel& panel, bool takeTexture)
{
    D3D::Device::SwapChain* chain = swapChain();
    if (!chain || !gDevice || !GpuSmooth::createForTarget(smoothTarget, smooth, int(smoothSize)))
        return false;
    GpuSmooth::renderScene(smoothTarget, smooth, *chain);
    if (takeTexture) {
        // Without a result the panel keeps the picture it had.
        if (const TextureRef* result = smooth.getResultTexture(); result && result->isBound())
            panel.setTexture(*result);
        panel.textureWidth = float(chain->presentParameters.BackBufferWidth);
        panel.textureHeight = float(chain->presentParameters.BackBufferHeight);
    }
    return true;
}

void GameMenu::releaseSmoothing()
{
    smooth.releasePasses();
    smoothTarget = nullptr;
}

void GameMenu::releaseSound(int32_t index)
{
    Audio::FileRef*& ref = sounds[index];
    if (!ref)
        return;
    // The file is found by the reference's name, which the release frees.
    Audio::AudioFile::unloadByRef(*ref);
    ref->release();
    delete ref;
    ref = nullptr;
}

void GameMenu::releaseSounds()
{
    for (int32_t i = 0; i < 4; ++i)
        releaseSound(i);
    if (applauseSound) {
        applauseSound->release();
        delete applauseSound;
        applauseSound = nullptr;
    }
    releaseScreens();
}

void GameMenu::playSound(int32_t index)
{
    CRASH_TRACE();
    if (index >= 0 && index < 5)
        ++soundCounts[index];
    Audio::FileRef* ref = nullptr;
    float volume = 0.9f;
    if (index >= 0 && index < 4)
        ref = sounds[index];
    else if (index == 4)
        ref = applauseSound;
    if (index == 0)
        volume = 0.8f;
    if (!ref || ref->type == Audio::FileRef::typeNone)
        return;
    Audio::AudioFile* file = Audio::AudioFile::get(ref, 7, 7, 7);
    if (!file)
        return;
    // Volume control, position notify, global focus, deferred location; a
    // file above the stream buffer's size streams through one of that size.
    if (!file->description.dwSize)
        file->setupBuffers(true, false, false, false);
    else
        file->createBuffers();
    Audio::Sound2D::create(file)->setVolume(volume)->play(false);
}

void GameMenu::showLogo()
{
    if (logoPanel)
        return;
    logoPanel = new UserInterface::Panel(swapChain(), -1, controlOpacity, controlFadeSpeed);
    TextureRef logo;
    tag9Block.seek(0, 0);
    if (tag9Block.size() > 0)
        Texture::loadFromMemory(tag9Block, nullptr, logo, String(L"MainLogo"), D3DX_DEFAULT_NONPOW2,
                                D3DX_DEFAULT_NONPOW2, 1, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, D3DX_DEFAULT);
    logoPanel->setTexture(logo);
    logoPanel->textureWidth = 300.0f;
    logoPanel->textureHeight = 300.0f;
    logoPanel->x = 10;
    logoPanel->enable();
}

// The world over the scene.

Game* GameMenu::World::game()
{
    return scene ? &scene->game : nullptr;
}

bool GameMenu::World::loadMap(const String& path)
{
    return scene && scene->load(path);
}

bool GameMenu::World::raceCanRun()
{
    return scene && scene->game.canRace();
}

void GameMenu::World::applyRaceChoice(const RaceChoice& choice)
{
    if (scene)
        scene->game.applyRaceChoice(choice);
}

void GameMenu::World::applyTimeOfDay()
{
    if (scene)
        scene->applyTimeOfDay();
}

void GameMenu::World::setCameraMode(int32_t first, int32_t last, float speed)
{
    if (scene)
        scene->setCameraMode(first, last, speed);
}

void GameMenu::World::setTour(int32_t tour, uint32_t value)
{
    if (!scene)
        return;
    (tour == 0 ? scene->tourA : scene->tourB) = value;
}

void GameMenu::World::clearScene()
{
    if (scene)
        scene->clear();
}

void GameMenu::World::setupRace()
{
    if (scene)
        scene->game.setupRace();
}

// The vehicles go first, then everything else of the race (its objects
// taken out with it).
void GameMenu::World::releaseRace()
{
    if (!scene)
        return;
    scene->game.removeRaceVehicles();
    scene->game.clearRace();
}

void GameMenu::World::placePlayerQuad()
{
    if (scene)
        scene->game.placePlayerQuad();
}

void GameMenu::World::giveUpRace()
{
    if (scene)
        scene->game.giveUpRace();
}

void GameMenu::World::toggleVehicleCamera()
{
    Game::Vehicle* player = scene ? scene->game.getPlayerVehicle() : nullptr;
    DynObject* quad = player ? player->getDynObject() : nullptr;
    DynObject::FunctionManager::Function* function =
        quad && quad->functions ? quad->functions->find(Game::Vehicle::cameraFlag) : nullptr;
    auto* camera = function ? static_cast<ObjPkgManager::Functions::VehicleCamera*>(function->instance) : nullptr;
    if (!camera)
        return;
    const int32_t next = nextCameraMode(camera->mode);
    if (next != camera->mode)
        camera->setMode(next);
}

String GameMenu::World::mapName()
{
    return scene ? scene->sceneName : String(L"");
}

String GameMenu::World::countryCode()
{
    return scene ? scene->description : String(L"");
}

uint32_t GameMenu::World::tour(int32_t tour)
{
    return scene ? (tour == 0 ? scene->tourA : scene->tourB) : 0;
}

void GameMenu::World::pauseScene()
{
    if (scene)
        scene->pause();
}

void GameMenu::World::resumeScene()
{
    if (scene)
        scene->resume();
}

void GameMenu::World::advanceChampionship()
{
    if (scene)
        scene->game.advanceChampionship();
}

void GameMenu::World::restartChampionship()
{
    if (Game* race = game())
        race->restartChampionship();
}
