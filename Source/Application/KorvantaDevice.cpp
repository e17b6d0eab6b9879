// Korvanta's side of the render device: creating it, the frame update and
// render of the main loop, and the window changes that reset it.
#include "Application/Korvanta.h"

#include "Application/GlobalSettings.h"
#include "Landscape/HLod.h"
#include "Landscape/Meadow.h"
#include "Landscape/SceneView.h"
#include "Render/Antialiasing.h"
#include "Render/DirectGraphics.h"
#include "Entity/EntityManager.h"
#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"
#include "Entity/StaticEntityManager.h"
#include "Physics/PhysicsManager.h"
#include "Render/GpuSmooth.h"
#include "Render/StripEffectManager.h"
#include "Render/SwapChain.h"
#include "Landscape/Terrain.h"
#include "Menu/GameMenuMain.h"
#include "Menu/UserInterface.h"

#include "Core/CrashTrace.h"

namespace {

// The glow follows the graphics screen's bloom switch (option 3).
void followBloomSwitch()
{
    GpuSmooth::configure(gSettings && gSettings->options.option3 ? 256 : 0, gDirectGraphics.record.postEffect, 120,
                         170);
}

}

uint32_t Korvanta::createDevice()
{
    CRASH_TRACE();
    D3D::Device& record = gDirectGraphics.record;
    record.presentSettings.verticalSync = 1;
    record.maxTextureSize = 2048;

    record.presentSettings.multiSampleType = 0;
    record.presentSettings.multiSampleQuality = 0;
    Antialiasing::detectModes(gDirectGraphics.antialiasing, false);
    const Antialiasing::Choice choice =
        Antialiasing::choose(gSettings ? gSettings->options.antialiasing : 0, gDirectGraphics.antialiasing);
    record.presentSettings.multiSampleType = choice.type;
    record.presentSettings.multiSampleQuality = choice.quality;

    if (!D3D::Device::create(record, window, fullScreen != 0, this)) {
        gDirectGraphics.release();
        return 0;
    }
    swapChain = record.firstSwapChain();
    followBloomSwitch();
    return 1;
}

void Korvanta::update()
{
    if (!active)
        return;
    gameMenu.update();
    scene.updateCamera();
    if (EntityManager::PhysicsManager* physics = physicsManager()) {
        // A long frame is stepped in pieces with the quads steered between
        // them, so that a slow machine's drivers look as often as a fast one's.
        const int32_t pieces = physics->update();
        for (int32_t piece = 1; piece < pieces; ++piece) {
            scene.game.steerBetweenPieces();
            physics->stepPiece();
        }
    }
    if (swapChain && swapChain->entities)
        swapChain->entities->update();
    // Objects that came within range become instances before the shadow
    // sectors look for casters, or they would draw their first frame
    // without a shadow. The swap chain's own update then finds nothing to do.
    if (swapChain && swapChain->staticEntities)
        swapChain->staticEntities->update(0);
    scene.shadowManager.update();
    if (swapChain)
        swapChain->update();
    scene.game.update();
}

void Korvanta::startPhysics()
{
    CRASH_TRACE();
    if (EntityManager::PhysicsManager* physics = physicsManager())
        physics->start(128);
}

EntityManager::PhysicsManager* Korvanta::physicsManager() const
{
    return swapChain && swapChain->entities ? swapChain->entities->physicsManager.get() : nullptr;
}

void Korvanta::renderShadowMaps()
{
    scene.shadowManager.renderStaticShadowMaps();
}

void Korvanta::applyDisplaySettings()
{
    CRASH_TRACE();
    if (!gSettings)
        return;
    if (swapChain && swapChain->presentParameters.BackBufferHeight) {
        gSettings->width = swapChain->presentParameters.BackBufferWidth;
        gSettings->height = swapChain->presentParameters.BackBufferHeight;
        gSettings->aspect = float(gSettings->width) / float(gSettings->height);
        gSettings->options.fullScreen = swapChain->presentParameters.Windowed ? 0 : 1;
    }
    scene.shadowManager.setEnabled(gSettings->options.shadowOption != 0 ? 1 : 0);
    scene.shadowManager.setQuality(gSettings->shadowFactor());
    // A bloom switched on the graphics screen shows at once, not at the next start.
    if (swapChain)
        followBloomSwitch();
    saveSettings();
}

void Korvanta::render()
{
    CRASH_TRACE();
    if (!active || !swapChain || !gDevice)
        return;
    swapChain->beginFrame();
    clearFrame();
    swapChain->render(true);
    swapChain->present();
}

void Korvanta::onDeviceRestored()
{
    scene.notifyObjectFunctions();
    gameMenu.onViewChanged();
}

void Korvanta::clearFrame()
{
    if (!swapChain || !gDevice)
        return;
    // A discarded back buffer holds anything: where no pass draws (beyond the
    // view range under a camera high above the ground, below the sky dome)
    // the distance shows as the camera's fog.
    const Color fog = swapChain->fogEnabled ? swapChain->fogColour : Color(0, 0, 0, 0xFF);
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, fog.argb() | 0xFF000000u, 1.0f, 0);
}

void Korvanta::renderEffectScene()
{
    CRASH_TRACE();
    if (!gDevice)
        return;
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    // The main screen's glow is its showroom and its widgets, drawn again
    // without stepping their fades. The widgets are laid out in back-buffer
    // pixels: on a smaller effect target they would glow blown up in its
    // corner, so they join only a target of the back buffer's size.
    if (gameMenu.menuState == GameMenu::mainState) {
        if (auto* main = dynamic_cast<GameMenu::Main*>(gameMenu.mainScreen); main && main->showroom) {
            main->showroom->render(gDevice);
            if (swapChain && swapChain->userInterface) {
                const D3D::Device::SwapChain::RenderTarget& target = swapChain->topTarget();
                if (target.width == swapChain->presentParameters.BackBufferWidth &&
                    target.height == swapChain->presentParameters.BackBufferHeight)
                    UserInterface::renderAll(*swapChain->userInterface, false);
            }
            return;
        }
    }
    if (swapChain && swapChain->viewRecord)
        Scene::renderSky(*swapChain->viewRecord);
    gTerrain.render(0);
    if (swapChain && swapChain->entities)
        swapChain->entities->render(1);
    if (swapChain && swapChain->meadow)
        swapChain->meadow->render(1);
    if (swapChain && swapChain->farField)
        swapChain->farField->render();
    if (swapChain && swapChain->sprites)
        swapChain->sprites->render();
    // The frame's own particle pass ages them; here they are drawn as they stand.
    if (swapChain && swapChain->particles)
        swapChain->particles->render(false);
}

void Korvanta::renderOcclusionPass()
{
    gTerrain.render(1);
    if (swapChain && swapChain->entities)
        swapChain->entities->render(0);
    if (swapChain && swapChain->stripEffects)
        swapChain->stripEffects->render();
}

void Korvanta::onWindowResized(WPARAM sizeType, bool moved)
{
    // Moves and sizes also arrive while the window is made and while the
    // device is created, before there is a swap chain.
    if (!swapChain)
        return;
    RECT client{};
    GetClientRect(window, &client);
    const UINT width = UINT(client.right - client.left);
    const UINT height = UINT(client.bottom - client.top);
    D3DPRESENT_PARAMETERS current{};
    const bool otherSize = swapChain->swapChain && SUCCEEDED(swapChain->swapChain->GetPresentParameters(&current)) &&
                           (current.BackBufferWidth != width || current.BackBufferHeight != height);
    swapChain->presentParameters.BackBufferWidth = width;
    swapChain->presentParameters.BackBufferHeight = height;
    if (!gDevice || moved)
        return;
    // Un-maximising, or restoring to another size, needs a back buffer of the
    // new size as much as maximising does; a drag resets once, at its end.
    if (sizeType == SIZE_MAXIMIZED || (sizeType == SIZE_RESTORED && otherSize && !sizing))
        D3D::Device::reset(gDirectGraphics.record, nullptr);
}

void Korvanta::releaseDevice()
{
    CRASH_TRACE();
    swapChain = nullptr;
    D3D::Device::release(gDirectGraphics.record);
    gDirectGraphics.release();
}
