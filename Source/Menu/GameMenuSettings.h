#pragma once
// The settings hub (state 14): a title and three buttons that lead to the
// control assignment (18), graphics (19) and language (20) screens, which
// come back here. The highlighted button is kept until the screen object is
// deleted (at the next race load). Back returns to the main screen.

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuScreen.h"

class GameMenu::Settings : public GameMenu::Screen
{
public:
    static constexpr int32_t controlValue = 34;
    static constexpr int32_t graphicsValue = 35;
    static constexpr int32_t languageValue = 36;
    static constexpr int32_t widgetLayer = 10;

    explicit Settings(GameMenu& owner);
    ~Settings() override;
    static Screen* make(GameMenu& menu) { return new Settings(menu); }

    // Makes the widgets when they do not exist.
    void build();
    void enter(int32_t returnState) override;
    int32_t nextScreen() override;
    void close() override;
    // Builds while current and not done, then pulses the selected button.
    void update() override;
    void onKeyUp() override;
    void onKeyDown() override;
    void onKeyConfirm() override;
    void onKeyBack() override;

    GameMenu::Text* titleText = nullptr;
    GameMenu::Button* controlButton = nullptr;
    GameMenu::Button* graphicsButton = nullptr;
    GameMenu::Button* languageButton = nullptr;
    int32_t selection = controlValue;

private:
    void deleteWidgets();
};
