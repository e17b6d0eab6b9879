#pragma once
// The extended control screen (state 30, from the control screen's
// "Extended" button): the steering inertia, the bindings record's
// steeringMode, as a value from 1 to 6 that left and right change. Back
// returns to the control screen. A stored value outside 1 to 6 is shown as
// it is until the first press brings it into range.

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuScreen.h"

class GameMenu::ExtendedControl : public GameMenu::Screen
{
public:
    static constexpr int32_t inertiaValue = 101;
    static constexpr int32_t widgetLayer = 15;
    static constexpr int32_t lowestInertia = 1;
    static constexpr int32_t highestInertia = 6;

    explicit ExtendedControl(GameMenu& owner);
    ~ExtendedControl() override;
    static Screen* make(GameMenu& menu) { return new ExtendedControl(menu); }

    void build();
    void enter(int32_t) override { build(); }
    int32_t nextScreen() override { return controlState; }
    void close() override;
    void update() override;
    // The screen panel itself draws nothing.
    void draw() override {}
    void onKeyLeft() override { step(-1); }
    void onKeyRight() override { step(1); }
    void onKeyBack() override;

    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* inertiaLabel = nullptr;
    GameMenu::ButtonPrevNext* inertiaButton = nullptr;
    int32_t selection = inertiaValue;

private:
    void deleteWidgets();
    void step(int32_t by);
    String inertiaText() const;
};
