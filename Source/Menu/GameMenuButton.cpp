#include "Menu/GameMenuButton.h"

#include <algorithm>
#include <new>

GameMenu::Button::Button(int32_t newLayer, GameMenu& owner, const String& text, int32_t buttonX, int32_t buttonY,
                         int32_t buttonId, bool secondFace)
    : UserInterface::Text(owner.swapChain(), owner.fonts[secondFace ? secondButtonFont : buttonFont], newLayer, -1,
                          -1, controlOpacity, controlFadeSpeed),
      menu(&owner), id(buttonId)
{
    x = buttonX;
    y = buttonY;
    setText(text);
    enabled = 1;
}

void GameMenu::Button::setHighlight(bool on)
{
    if (!highlightable)
        return;
    if (on)
        animateHighlight();
    else
        colour = Color(255, 255, 255, 255);
}

GameMenu::ButtonPrevNext::ButtonPrevNext(int32_t buttonY, GameMenu& owner, const String& text, int32_t buttonX,
                                         int32_t width, int32_t buttonId, int32_t newLayer)
    : Button(newLayer, owner, text, buttonX, buttonY, buttonId, false),
      previous(new (std::nothrow) GameMenu::Text(newLayer, owner.fonts[arrowFont], owner, String(previousArrow),
                                                 buttonX - 40, 0, -1)),
      next(new (std::nothrow) GameMenu::Text(newLayer, owner.fonts[arrowFont], owner, String(nextArrow),
                                             buttonX + width, 0, -1)),
      span(width)
{
}

void GameMenu::ButtonPrevNext::place(int32_t newY)
{
    y = newY;
    if (previous)
        previous->y = newY;
    if (next) {
        next->y = newY;
        next->x = x + std::max(span, getSize().width + arrowGap);
    }
}

GameMenu::ButtonPrevNext::~ButtonPrevNext()
{
    delete previous;
    delete next;
}
