#pragma once
// The menu's selectable controls: a line of text with an id, and one
// flanked by a previous and a next arrow for cycling through values. The
// screen that owns them highlights the selected one every frame.

#include "Menu/GameMenu.h"
#include "Menu/GameMenuText.h"
#include "Menu/Text.h"

class GameMenu::Button : public UserInterface::Text
{
public:
    // Enabled, in the menu's first button face (its second with
    // secondFace), unwrapped, at half opacity with the menu's fade.
    Button(int32_t layer, GameMenu& menu, const String& text, int32_t x, int32_t y, int32_t id, bool secondFace);

    void animateHighlight() { GameMenu::highlightStep(phase, colour); }
    // On: one highlight step; off: white. Nothing while not highlightable.
    void setHighlight(bool on);

    GameMenu* menu = nullptr;
    int32_t id = 0;
    float phase = 0.0f;
    uint32_t highlightable = 1;
};

class GameMenu::ButtonPrevNext : public GameMenu::Button
{
public:
    static constexpr const wchar_t* previousArrow = L"\u25C4";
    static constexpr const wchar_t* nextArrow = L"\u25BA";

    // The button at (x, y) in the first face; its arrows in the arrow face
    // at x - 40 and x + width, at y 0 until the screen places the control
    // (it writes the same y into the control and both arrows).
    ButtonPrevNext(int32_t y, GameMenu& menu, const String& text, int32_t x, int32_t width, int32_t id, int32_t layer);
    ~ButtonPrevNext() override;

    // The screen's placing, every frame: the control and both arrows at y;
    // a text wider than the span pushes the next arrow out past its end
    // rather than run into it.
    void place(int32_t newY);

    // The least room between the text's end and the next arrow.
    static constexpr int32_t arrowGap = 16;

    GameMenu::Text* previous = nullptr;
    GameMenu::Text* next = nullptr;
    int32_t span;
};
