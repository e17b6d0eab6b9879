#pragma once
// The quad customising screen (state 6): the player's nickname in a text
// field, a choice of nine colours (the player's own and the race's eight
// palette colours) and three sliders for red, green and blue beside a
// square that shows the colour. Back stores the nickname and the sliders'
// colour in the settings and returns to the main screen.

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuColorSlider.h"
#include "Menu/GameMenuEditField.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuText.h"

#include <cstdint>

class GameMenu::MyQuad : public GameMenu::Screen
{
public:
    // Control ids, in focus order.
    static constexpr int32_t nicknameId = 80;
    static constexpr int32_t selectorId = 81;
    static constexpr int32_t redId = 82;
    static constexpr int32_t greenId = 83;
    static constexpr int32_t blueId = 84;
    // Colour ids: the settings' own, then the palette's eight.
    static constexpr int32_t ownColorId = 85;
    static constexpr int32_t lastColorId = 93;
    static constexpr float sliderStep = 0.05f;

    explicit MyQuad(GameMenu& owner);
    ~MyQuad() override;
    static Screen* make(GameMenu& menu) { return new MyQuad(menu); }

    // The language text naming a colour id; empty for another id.
    static String colorName(int32_t id);
    // The settings' colour (opaque white without settings).
    Color settingsColor() const;

    void enter(int32_t returnState) override;
    int32_t nextScreen() override { return mainState; }
    // Nickname and slider colour into the settings; the widgets go.
    void close() override;
    void onKeyLeft() override;
    void onKeyRight() override;
    void onKeyUp() override;
    void onKeyDown() override;
    void onKeyBack() override;
    void inputChar(wchar_t c) override;
    void update() override;
    void draw() override;

    // The sliders from the colour of colorId.
    void applyColorId();
    // The sliders' colour, alpha 255; all zero without the sliders.
    Color sliderColor() const;

    int32_t focusId = nicknameId;
    int32_t colorId = ownColorId;
    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* nicknameLabel = nullptr;
    GameMenu::Text* colorLabel = nullptr;
    GameMenu::EditField* nicknameField = nullptr;
    GameMenu::ButtonPrevNext* colorSelector = nullptr;
    GameMenu::ColorSlider* redSlider = nullptr;
    GameMenu::ColorSlider* greenSlider = nullptr;
    GameMenu::ColorSlider* blueSlider = nullptr;

private:
    void stepSlider(float delta);
    void stepColor(int32_t delta);
    void deleteWidgets();
};
