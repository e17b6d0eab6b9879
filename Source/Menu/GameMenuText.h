#pragma once
// A menu label in a given face, which can glow along the highlight ramp
// like the controls.

#include "Menu/GameMenu.h"
#include "Menu/Text.h"

class GameMenu::Text : public UserInterface::Text
{
public:
    // Enabled, at half opacity with the menu's fade, laid out with text.
    Text(int32_t layer, UserInterface::UIFont::Face* face, GameMenu& menu, const String& text, int32_t x, int32_t y,
         int32_t wrapWidth);

    void animateHighlight() { GameMenu::highlightStep(phase, colour); }

    float phase = 0.0f;
};
