#include "Menu/GameMenuText.h"

GameMenu::Text::Text(int32_t newLayer, UserInterface::UIFont::Face* textFace, GameMenu& menu, const String& text,
                     int32_t textX, int32_t textY, int32_t wrap)
    : UserInterface::Text(menu.swapChain(), textFace, newLayer, wrap, -1, controlOpacity, controlFadeSpeed)
{
    x = textX;
    y = textY;
    setText(text);
    enabled = 1;
}
