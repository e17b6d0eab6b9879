#include "Menu/GameMenuPause.h"

#include "Menu/GameMenuOverlays.h"
#include "Menu/GameMenuTexts.h"

#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <initializer_list>

using GameMenuOverlay::measure;

namespace {

constexpr int32_t pauseLayer = 15;
// Below the settings screens' widgets, above the race's.
constexpr int32_t stillUnderSettings = pauseLayer - 1;

void focusLook(GameMenu::Button* button, int32_t focus)
{
    if (button)
        button->setHighlight(button->id == focus);
}

}

// Pause.

GameMenu::Pause::Pause(GameMenu& owner) : Screen(owner, pauseLayer, controlOpacity, controlFadeSpeed)
{
    CRASH_TRACE();
    Game* race = owner.game();
    championship = race && race->choice.championship ? 1 : 0;
    updateBackground();
    titleText = new GameMenu::Text(pauseLayer, owner.fonts[titleFont], owner, GameMenuTexts::lookUp(L"Pause"), 350,
                                   100, -1);
    const auto button = [&](const wchar_t* key, int32_t value) {
        return new GameMenu::Button(pauseLayer, owner, GameMenuTexts::lookUp(key), 0, 0, value, false);
    };
    continueButton = button(L"Continue", continueValue);
    giveUpButton = button(L"GiveUp", giveUpValue);
    if (championship)
        exitChampionshipButton = button(L"ExitChampionship", exitChampionshipValue);
    controlButton = button(L"Control2", controlValue);
    graphicsButton = button(L"Graphics2", graphicsValue);
    if (owner.world)
        owner.world->pauseScene();
    if (owner.callbacks)
        owner.callbacks->setCursorShown(true);
}

GameMenu::Pause::~Pause()
{
    menu->releaseSmoothing();
    for (UserInterface::Widget* widget : std::initializer_list<UserInterface::Widget*>{
             titleText, continueButton, giveUpButton, exitChampionshipButton, controlButton, graphicsButton})
        delete widget;
    if (menu->world)
        menu->world->resumeScene();
    // Leaving the race keeps the cursor the menu shows.
    const bool raceGoesOn = !exitChampionship && (!giveUp || championship);
    if (menu->callbacks && raceGoesOn)
        menu->callbacks->setCursorShown(false);
}

void GameMenu::Pause::updateBackground()
{
    menu->renderSmoothBackground(*this, true);
    if (const D3D::Device::SwapChain* chain = menu->swapChain()) {
        textureWidth = float(chain->presentParameters.BackBufferWidth);
        textureHeight = float(chain->presentParameters.BackBufferHeight);
    }
    colour = Color(127, 127, 127, 255);
    enable();
}

void GameMenu::Pause::onKeyDown()
{
    switch (focusValue) {
    case continueValue:
        focusValue = giveUpValue;
        break;
    case giveUpValue:
        focusValue = exitChampionshipButton ? exitChampionshipValue : controlValue;
        break;
    case exitChampionshipValue:
        focusValue = controlValue;
        break;
    case controlValue:
        focusValue = graphicsValue;
        break;
    default:
        focusValue = continueValue;
        break;
    }
    menu->playSound(0);
}

void GameMenu::Pause::onKeyUp()
{
    switch (focusValue) {
    case continueValue:
        focusValue = graphicsValue;
        break;
    case giveUpValue:
        focusValue = continueValue;
        break;
    case exitChampionshipValue:
        focusValue = giveUpValue;
        break;
    case controlValue:
        focusValue = exitChampionshipButton ? exitChampionshipValue : giveUpValue;
        break;
    default:
        focusValue = controlValue;
        break;
    }
    menu->playSound(0);
}

void GameMenu::Pause::onKeyConfirm()
{
    menu->playSound(1);
    switch (focusValue) {
    case continueValue:
        done = 1;
        break;
    case giveUpValue:
        done = 1;
        giveUp = 1;
        break;
    case exitChampionshipValue:
        done = 1;
        exitChampionship = 1;
        break;
    case controlValue:
        setHidden(true);
        menu->createControl();
        menu->openScreen(controlState, pauseState);
        break;
    case graphicsValue:
        setHidden(true);
        menu->createGraphics();
        menu->openScreen(graphicsState, pauseState);
        break;
    default:
        break;
    }
}

void GameMenu::Pause::onKeyBack()
{
    done = 1;
    menu->playSound(2);
}

void GameMenu::Pause::setHidden(bool hidden)
{
    // The still stays as the settings screens' background: it moves below
    // their widgets' layer, under which it keeps covering the race and its
    // head-up display (without it their texts stood over the bright race).
    enabled = 1;
    if (hidden && layer != stillUnderSettings)
        addChild(stillUnderSettings);
    for (UserInterface::Widget* widget : std::initializer_list<UserInterface::Widget*>{
             titleText, continueButton, giveUpButton, exitChampionshipButton, controlButton, graphicsButton})
        if (widget)
            widget->enabled = hidden ? 0 : 1;
}

void GameMenu::Pause::update()
{
    if (!titleText)
        return;
    // Shown again once a settings screen has come back.
    if (menu->menuState == pauseState)
        setHidden(false);
    if (backgroundRefresh) {
        updateBackground();
        backgroundRefresh = 0;
    }
    const D3D::Device::SwapChain* chain = menu->swapChain();
    const int32_t W = chain ? int32_t(chain->presentParameters.BackBufferWidth) : 0;
    const int32_t H = chain ? int32_t(chain->presentParameters.BackBufferHeight) : 0;
    titleText->x = (W - measure(*titleText).width) / 2;
    titleText->y = 80;
    int32_t twelfth = 5;
    for (GameMenu::Button* button :
         {continueButton, giveUpButton, exitChampionshipButton, controlButton, graphicsButton}) {
        if (!button)
            continue;
        const UserInterface::Size size = measure(*button);
        button->x = (W - size.width) / 2;
        button->y = (H - size.height) * twelfth++ / 12;
        focusLook(button, focusValue);
    }
}

// Exit.

GameMenu::Exit::Exit(GameMenu& owner) : Screen(owner)
{
}

GameMenu::Exit::~Exit()
{
    delete titleText;
    delete yesButton;
    delete noButton;
}

void GameMenu::Exit::enter(int32_t)
{
    if (titleText)
        return;
    GameMenu& owner = *menu;
    titleText = new GameMenu::Text(10, owner.fonts[titleFont], owner, GameMenuTexts::lookUp(L"ExitGame"), owner.titleX,
                                   owner.titleY, -1);
    yesButton = new GameMenu::Button(1, owner, GameMenuTexts::lookUp(L"Yes"), 0, 0, yesValue, false);
    noButton = new GameMenu::Button(1, owner, GameMenuTexts::lookUp(L"No"), 0, 0, noValue, false);
    update();
}

void GameMenu::Exit::close()
{
    delete titleText;
    delete yesButton;
    delete noButton;
    titleText = nullptr;
    yesButton = noButton = nullptr;
    done = 1;
}

void GameMenu::Exit::onKeyConfirm()
{
    close();
    menu->playSound(1);
}

void GameMenu::Exit::onKeyBack()
{
    focusValue = noValue;
    close();
    menu->playSound(2);
}

void GameMenu::Exit::toggleChoice()
{
    if (focusValue == yesValue)
        focusValue = noValue;
    else if (focusValue == noValue)
        focusValue = yesValue;
    menu->playSound(0);
}

void GameMenu::Exit::update()
{
    if (!titleText)
        return;
    const D3D::Device::SwapChain* chain = menu->swapChain();
    const int32_t W = chain ? int32_t(chain->presentParameters.BackBufferWidth) : 0;
    const int32_t H = chain ? int32_t(chain->presentParameters.BackBufferHeight) : 0;
    const UserInterface::Size yes = measure(*yesButton);
    yesButton->x = 2 * (W - yes.width) / 5;
    yesButton->y = (H - yes.height) / 2;
    noButton->x = 3 * (W - measure(*noButton).width) / 5;
    noButton->y = yesButton->y;
    focusLook(yesButton, focusValue);
    focusLook(noButton, focusValue);
}
