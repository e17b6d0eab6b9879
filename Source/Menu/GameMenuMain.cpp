#include "Menu/GameMenuMain.h"

#include "Menu/GameMenuButton.h"

#include "Landscape/Scene.h"
#include "Render/DirectGraphics.h"
#include "Render/GpuSmooth.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/Language.h"

#include <windows.h>
#include <shellapi.h>

#include <new>

namespace {

struct ButtonRow
{
    int32_t id;
    const wchar_t* key;
    int32_t y;
};

// Top to bottom; Donate sits under EXIT.
constexpr ButtonRow rows[] = {
    {GameMenu::Main::myQuad, L"MyQuad", 300},      {GameMenu::Main::championship, L"Championship", 350},
    {GameMenu::Main::soloGame, L"SoloGame", 400},  {GameMenu::Main::getMoreMaps, L"GetMoreMaps", 450},
    {GameMenu::Main::settings, L"Settings", 500},  {GameMenu::Main::exit, L"Exit", 550},
    {GameMenu::Main::donate, L"Donate", 600},
};
constexpr int32_t ring[] = {2, 3, 4, 6, 7, 8, 1};
constexpr int32_t ringSize = int32_t(sizeof(ring) / sizeof(ring[0]));

// The post-effect's blur while the main screen is shown.
constexpr int mainSmoothSize = 128;
constexpr uint32_t smoothStrength = 235;
constexpr uint32_t smoothAlpha = 130;

String text(const wchar_t* key)
{
    return gLanguage ? gLanguage->getText(nullptr, String::borrowed(key)) : String(L"");
}

int32_t ringIndex(int32_t id)
{
    for (int32_t i = 0; i < ringSize; ++i)
        if (ring[i] == id)
            return i;
    return -1;
}

}

GameMenu::Main::PageOpener GameMenu::Main::openPage = GameMenu::Main::shellOpen;

bool GameMenu::Main::shellOpen(const String& address)
{
    const HINSTANCE result = ShellExecuteW(nullptr, L"open", address.text(), nullptr, nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

GameMenu::Main::Main(GameMenu& owner)
    : Screen(owner), quadPackage(owner.mainBlock.quadPackage), showroom(new (std::nothrow) Showroom(owner))
{
    for (int i = 0; i < 4; ++i)
        values[i] = owner.mainBlock.values[i];
}

GameMenu::Main::~Main()
{
    if (buttons[myQuad - 1])
        close();
    delete showroom;
}

int32_t GameMenu::Main::above(int32_t id)
{
    const int32_t i = ringIndex(id);
    return i < 0 ? id : ring[(i + ringSize - 1) % ringSize];
}

int32_t GameMenu::Main::below(int32_t id)
{
    const int32_t i = ringIndex(id);
    return i < 0 ? id : ring[(i + 1) % ringSize];
}

void GameMenu::Main::enter(int32_t)
{
    CRASH_TRACE();
    if (quadPackage.length() > 0 && showroom)
        showroom->enter(quadPackage);
    menu->showLogo();
    if (menu->logoPanel)
        menu->logoPanel->enable();
    for (const ButtonRow& row : rows) {
        Button*& slot = buttons[row.id - 1];
        delete slot;
        slot = new (std::nothrow) Button(10, *menu, text(row.key), 60, row.y, row.id, false);
    }
    GpuSmooth::configure(mainSmoothSize, gDirectGraphics.record.postEffect, smoothStrength, smoothAlpha);
    if (menu->callbacks)
        menu->callbacks->setCursorShown(true);
}

void GameMenu::Main::onKeyUp()
{
    selection = above(selection);
    menu->playSound(0);
}

void GameMenu::Main::onKeyDown()
{
    selection = below(selection);
    menu->playSound(0);
}

void GameMenu::Main::onKeyConfirm()
{
    if (selection == donate || selection == getMoreMaps) {
        if (menu->callbacks && openPage)
            openPage(selection == donate ? menu->callbacks->getDonatePage() : menu->callbacks->getMapsPage());
        return;
    }
    close();
    menu->playSound(1);
}

void GameMenu::Main::onKeyBack()
{
    selection = exit;
    close();
    menu->playSound(2);
}

int32_t GameMenu::Main::nextScreen()
{
    switch (selection) {
    case myQuad:
        return myQuadState;
    case championship:
        return chooseCountryState;
    case soloGame:
        return chooseMapState;
    case settings:
        return settingsState;
    case exit:
        return exitState;
    default:
        return noScreen;
    }
}

void GameMenu::Main::close()
{
    CRASH_TRACE();
    if (showroom)
        showroom->leave();
    for (Button*& button : buttons) {
        delete button;
        button = nullptr;
    }
    GpuSmooth::configure(0, gDirectGraphics.record.postEffect, smoothStrength, smoothAlpha);
    done = 1;
}

void GameMenu::Main::onLeftButtonDown()
{
    if (showroom)
        showroom->beginDrag();
}

void GameMenu::Main::onLeftButtonUp()
{
    if (showroom)
        showroom->endDrag();
}

void GameMenu::Main::onViewChanged()
{
    if (showroom && buttons[myQuad - 1])
        showroom->updateCamera();
}

void GameMenu::Main::update()
{
    if (!buttons[myQuad - 1])
        return;
    if (showroom)
        showroom->update();
    for (Button* button : buttons)
        if (button && button->highlightable)
            button->setHighlight(button->id == selection);
}

void GameMenu::Main::draw()
{
    if (!buttons[myQuad - 1])
        return;
    // The menu's black backdrop (black of alpha 0, as its blank rectangle) as
    // a clear: a software rasteriser would shade every pixel of a drawn
    // rectangle, each frame.
    if (gDevice)
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    if (showroom)
        showroom->render(gDevice);
}
