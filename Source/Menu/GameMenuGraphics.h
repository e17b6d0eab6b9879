#pragma once
// The graphics screen (state 19): display mode, full screen, antialiasing,
// shadows and bloom as five rows that left and right change, and "Apply",
// which resets the device with the chosen mode and multisampling and stores
// and saves the display settings. Antialiasing and shadows are changed in
// the settings at once; mode, full screen and bloom wait for Apply. After
// Apply the settings hold what the device runs.

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuScreen.h"

#include "Render/Antialiasing.h"

class ScreenResolution;

class GameMenu::Graphics : public GameMenu::Screen
{
public:
    static constexpr int32_t rowCount = 5;
    static constexpr int32_t resolutionValue = 70;
    static constexpr int32_t fullscreenValue = 71;
    static constexpr int32_t antialiasingValue = 72;
    static constexpr int32_t shadowValue = 73;
    static constexpr int32_t bloomValue = 74;
    static constexpr int32_t applyValue = 79;
    static constexpr int32_t windowChoice = 75;
    static constexpr int32_t fullscreenChoiceValue = 76;
    static constexpr int32_t bloomOff = 77;
    static constexpr int32_t bloomOn = 78;
    static constexpr int32_t widgetLayer = 15;
    static constexpr int32_t maxEntries = 16;

    // One antialiasing level: the multisample type and quality.
    struct Entry
    {
        uint32_t type = 0;
        uint32_t quality = 0;
    };

    explicit Graphics(GameMenu& owner);
    ~Graphics() override;
    static Screen* make(GameMenu& menu) { return new Graphics(menu); }

    void build(int32_t returnTo);
    void enter(int32_t returnTo) override { build(returnTo); }
    int32_t nextScreen() override { return returnState; }
    void close() override;
    void update() override;
    void onKeyLeft() override { change(-1); }
    void onKeyRight() override { change(1); }
    void onKeyUp() override;
    void onKeyDown() override;
    // Apply, on its button.
    void onKeyConfirm() override;
    void onKeyBack() override;

    // The five levels offered for what the device reports: off, then 2, 4,
    // 8 and 16 samples where the device has them, the non-maskable type
    // where it has exactly that many quality levels (at its highest valid
    // quality), else none.
    void fillAntialiasing(const AntialiasingModes& found);
    // The display mode, the window state and the bloom choice from the
    // device and the settings.
    void readDisplay();
    // Every row's value text.
    void refreshValues();

    // The display modes offered.
    ScreenResolution* modes = nullptr;
    int32_t returnState = noScreen;
    int32_t selection = resolutionValue;
    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* labels[rowCount] = {};
    GameMenu::ButtonPrevNext* rows[rowCount] = {};
    GameMenu::Button* applyButton = nullptr;
    int32_t modeWidth = 0;
    int32_t modeHeight = 0;
    int32_t fullscreenChoice = windowChoice;
    int32_t bloomChoice = bloomOff;
    Entry aaModes[maxEntries];
    int32_t aaCount = 0;

private:
    void deleteWidgets();
    void layOut();
    void change(int32_t direction);
    void apply();
    String valueText(int32_t row) const;
};
