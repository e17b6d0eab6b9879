#pragma once
// The menu's single-line text input (the player's nickname): it takes the
// characters the menu hands it while it is the active control, holds only
// what fits into its width in pixels, and while highlighted draws a grey
// frame and a caret.

#include "Menu/GameMenu.h"
#include "Menu/Text.h"

class GameMenu::EditField : public UserInterface::Text
{
public:
    // Enabled, in the menu's first button face, unwrapped, at half
    // opacity with the menu's fade, holding text.
    EditField(GameMenu& menu, const String& text, int32_t x, int32_t y, int32_t maxWidth, int32_t id, int32_t layer);

    // A typed character: Escape and Enter are ignored, Backspace removes
    // the last character, anything else is appended unless the text would
    // then be wider than maxWidth.
    void inputChar(wchar_t c);
    void animateHighlight() { GameMenu::highlightStep(phase, colour); }
    // Frame and caret while the colour is not plain white, then the text.
    void draw() override;

    GameMenu* menu = nullptr;
    int32_t id = 0;
    float phase = 0.0f;
    uint32_t highlightable = 1;
    int32_t maxWidth = 0;

private:
    void removeLast();
};
