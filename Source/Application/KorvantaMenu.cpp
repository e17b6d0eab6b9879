// Korvanta's side of the game menu: its requests, the cursor, and the menu's
// draws inside the frame and the loading frames.
#include "Application/Korvanta.h"

#include "Application/GlobalSettings.h"
#include "Menu/GameMenuLoadingScreen.h"
#include "Render/SwapChain.h"

#ifndef KORVANTA_WEB_HOST
#define KORVANTA_WEB_HOST L""
#endif

String Korvanta::getMapFolder()
{
    return String(L"Data\\Map\\");
}

uint32_t* Korvanta::getSettingOptions()
{
    return gSettings ? &gSettings->options.antialiasing : nullptr;
}

uint32_t* Korvanta::getShadowQuality()
{
    return gSettings ? &gSettings->options.shadowOption : nullptr;
}

uint32_t* Korvanta::getSettingOption4()
{
    return gSettings ? &gSettings->options.option3 : nullptr;
}

String* Korvanta::getSettingName()
{
    return gSettings ? &gSettings->name : nullptr;
}

uint8_t* Korvanta::getSettingChar()
{
    return gSettings ? gSettings->fourBytes : nullptr;
}

// The pages live on the deployment's web host (empty by default: the pages
// are then opened by their paths alone).
String Korvanta::getMapsPage()
{
    return String(KORVANTA_WEB_HOST) + L"page-maps.php";
}

String Korvanta::getDonatePage()
{
    return String(KORVANTA_WEB_HOST) + L"page-donate.php";
}

void Korvanta::showCursor(bool shown)
{
    if (!hideCursorInRace || uint32_t(shown) == cursorShown)
        return;
    cursorShown = shown ? 1 : 0;
    ShowCursor(shown ? TRUE : FALSE);
}

void Korvanta::renderAfterScene()
{
    if (scene.terrainLayer.barriers)
        scene.terrainLayer.barriers->renderBarrierProjection();
    if (gameMenu.menuState != GameMenu::noScreen) {
        gameMenu.render();
        return;
    }
    // The overlays over a race keep the target as it is.
    if (!swapChain || !gDevice || gameMenu.mapPreviewScreen || gameMenu.congratulationScreen ||
        gameMenu.disperseScreen || gameMenu.pauseScreen)
        return;
    // While a race runs: the target's alpha goes to 0 (the colour stays),
    // ready for the sun glare's mask.
    const D3D::Device::SwapChain::RenderTarget& target = swapChain->topTarget();
    DWORD fog = 0;
    gDevice->GetRenderState(D3DRS_FOGENABLE, &fog);
    if (fog)
        gDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    // The rect lies at depth 0: it must leave the depth buffer alone, or the
    // particles and glows drawn after it would be hidden behind it.
    gDevice->SetRenderState(D3DRS_ZENABLE, FALSE);
    gDevice->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    gDevice->SetRenderState(D3DRS_COLORWRITEENABLE, D3DCOLORWRITEENABLE_ALPHA);
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0);
    drawScreenRect(int(target.width), int(target.height), -1, -1, 0.0f);
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    gDevice->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
    gDevice->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    gDevice->SetRenderState(D3DRS_ZENABLE, TRUE);
    if (fog)
        gDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
}

void Korvanta::renderLoadProgress()
{
    if (gameMenu.loadingScreen)
        gameMenu.loadingScreen->draw();
}

void Korvanta::onDeviceReset()
{
    gameMenu.onDeviceReset();
}
