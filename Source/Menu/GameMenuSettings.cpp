#include "Menu/GameMenuSettings.h"

#include "Menu/GameMenuTexts.h"

GameMenu::Settings::Settings(GameMenu& owner) : Screen(owner)
{
}

GameMenu::Settings::~Settings()
{
    deleteWidgets();
}

void GameMenu::Settings::build()
{
    if (titleText)
        return;
    GameMenu& owner = *menu;
    titleText = new GameMenu::Text(widgetLayer, owner.fonts[titleFont], owner, GameMenuTexts::lookUp(L"Settings2"),
                                   owner.titleX, owner.titleY, -1);
    titleText->colour = GameMenuTexts::labelGrey;
    controlButton = new GameMenu::Button(widgetLayer, owner, GameMenuTexts::lookUp(L"Control2"), 60, 300, controlValue,
                                         false);
    graphicsButton = new GameMenu::Button(widgetLayer, owner, GameMenuTexts::lookUp(L"Graphics2"), 60, 350,
                                          graphicsValue, false);
    languageButton = new GameMenu::Button(widgetLayer, owner, GameMenuTexts::lookUp(L"Language"), 60, 400,
                                          languageValue, false);
}

void GameMenu::Settings::enter(int32_t)
{
    build();
}

int32_t GameMenu::Settings::nextScreen()
{
    if (backFlag)
        return mainState;
    switch (selection) {
    case controlValue:
        return controlState;
    case graphicsValue:
        return graphicsState;
    case languageValue:
        return languageState;
    default:
        return noScreen;
    }
}

void GameMenu::Settings::deleteWidgets()
{
    delete titleText;
    delete controlButton;
    delete graphicsButton;
    delete languageButton;
    titleText = nullptr;
    controlButton = graphicsButton = languageButton = nullptr;
}

void GameMenu::Settings::close()
{
    deleteWidgets();
    backFlag = 0;
    done = 1;
}

void GameMenu::Settings::update()
{
    if (!done)
        build();
    if (!titleText)
        return;
    for (GameMenu::Button* button : {controlButton, graphicsButton, languageButton})
        if (button && button->enabled)
            button->setHighlight(button->id == selection);
}

void GameMenu::Settings::onKeyUp()
{
    if (selection > controlValue && selection <= languageValue)
        --selection;
    menu->playSound(0);
}

void GameMenu::Settings::onKeyDown()
{
    if (selection >= controlValue && selection < languageValue)
        ++selection;
    menu->playSound(0);
}

void GameMenu::Settings::onKeyConfirm()
{
    close();
    menu->playSound(1);
}

void GameMenu::Settings::onKeyBack()
{
    close();
    backFlag = 1;
    menu->playSound(2);
}
