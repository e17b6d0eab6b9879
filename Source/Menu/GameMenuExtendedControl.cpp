#include "Menu/GameMenuExtendedControl.h"

#include "Menu/GameMenuTexts.h"

#include "Application/ControlBindings.h"

#include <algorithm>
#include <climits>

GameMenu::ExtendedControl::ExtendedControl(GameMenu& owner) : Screen(owner)
{
}

GameMenu::ExtendedControl::~ExtendedControl()
{
    deleteWidgets();
}

String GameMenu::ExtendedControl::inertiaText() const
{
    String text;
    text.format(L"%i", menu->controls ? int(int32_t(menu->controls->steeringMode)) : 0);
    return text;
}

void GameMenu::ExtendedControl::build()
{
    if (titleText)
        return;
    GameMenu& owner = *menu;
    titleText = new GameMenu::Text(widgetLayer, owner.fonts[titleFont], owner,
                                   GameMenuTexts::lookUp(L"ExtendedControl"), owner.titleX, owner.titleY, -1);
    titleText->colour = GameMenuTexts::labelGrey;
    // The key keeps its historic spelling; its texts read "INERTIA".
    inertiaLabel =
        new GameMenu::Text(widgetLayer, owner.fonts[buttonFont], owner, GameMenuTexts::lookUp(L"Interia"), 100, 0, -1);
    inertiaLabel->colour = GameMenuTexts::labelGrey;
    inertiaButton = new GameMenu::ButtonPrevNext(0, owner, inertiaText(), 100, 300, inertiaValue, widgetLayer);
    done = 0;
    backFlag = 0;
    update();
}

void GameMenu::ExtendedControl::deleteWidgets()
{
    delete titleText;
    delete inertiaLabel;
    delete inertiaButton;
    titleText = inertiaLabel = nullptr;
    inertiaButton = nullptr;
}

void GameMenu::ExtendedControl::close()
{
    deleteWidgets();
    done = 1;
}

void GameMenu::ExtendedControl::update()
{
    if (!done)
        build();
    if (!inertiaButton)
        return;
    inertiaLabel->y = 265;
    inertiaButton->place(300);
    if (inertiaButton->enabled)
        inertiaButton->setHighlight(inertiaButton->id == selection);
}

void GameMenu::ExtendedControl::step(int32_t by)
{
    ::Control* bindings = menu->controls;
    if (selection != inertiaValue || !bindings || !inertiaButton)
        return;
    // The stored word may hold anything: step in 64 bits, then clamp.
    const int64_t stepped = int64_t(int32_t(bindings->steeringMode)) + by;
    int32_t value = int32_t(std::clamp<int64_t>(stepped, INT32_MIN, INT32_MAX));
    const uint32_t inside = clampIndex(value, lowestInertia, highestInertia);
    bindings->steeringMode = uint32_t(value);
    inertiaButton->setText(inertiaText());
    if (inside)
        menu->playSound(0);
}

void GameMenu::ExtendedControl::onKeyBack()
{
    backFlag = 1;
    close();
    menu->playSound(2);
}
