#pragma once
// The pause screen (state 12), made by the pause key during a race and
// deleted once done: the scene stands still behind a blurred still of it
// while the player continues, gives up, leaves the championship or opens
// the control and graphics screens, which come back here. And the exit
// question of the main screen (state 15).

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuText.h"

#include <cstdint>

class GameMenu::Pause : public GameMenu::Screen
{
public:
    static constexpr int32_t continueValue = 31;
    static constexpr int32_t giveUpValue = 32;
    static constexpr int32_t exitChampionshipValue = 33;
    static constexpr int32_t controlValue = 34;
    static constexpr int32_t graphicsValue = 35;

    // The background, the buttons (the championship's own only in one); the
    // scene paused and the cursor shown.
    explicit Pause(GameMenu& owner);
    // The blur released, the scene running again, and the cursor hidden
    // again while the race goes on.
    ~Pause() override;
    static Screen* make(GameMenu& menu) { return new Pause(menu); }

    void onKeyUp() override;
    void onKeyDown() override;
    void onKeyConfirm() override;
    // Back continues the race.
    void onKeyBack() override;
    bool givesUp() override { return giveUp != 0; }
    bool exitsChampionship() override { return exitChampionship != 0; }
    void onDeviceReset() override { backgroundRefresh = 1; }
    // The still, the title and the buttons hidden (while a settings screen
    // is over the pause).
    void setHidden(bool hidden);
    void update() override;
    // The blurred still of the scene over the back buffer.
    void updateBackground();

    GameMenu::Text* titleText = nullptr;
    GameMenu::Button* continueButton = nullptr;
    GameMenu::Button* giveUpButton = nullptr;
    GameMenu::Button* exitChampionshipButton = nullptr;
    GameMenu::Button* controlButton = nullptr;
    GameMenu::Button* graphicsButton = nullptr;
    int32_t focusValue = continueValue;
    uint32_t backgroundRefresh = 0;
    uint32_t giveUp = 0;
    uint32_t exitChampionship = 0;
    uint32_t championship = 0;
};

class GameMenu::Exit : public GameMenu::Screen
{
public:
    static constexpr int32_t yesValue = 29;
    static constexpr int32_t noValue = 30;

    explicit Exit(GameMenu& owner);
    ~Exit() override;
    static Screen* make(GameMenu& menu) { return new Exit(menu); }

    void enter(int32_t returnState) override;
    int32_t nextScreen() override { return focusValue == yesValue ? quitState : mainState; }
    void close() override;
    void onKeyLeft() override { toggleChoice(); }
    void onKeyRight() override { toggleChoice(); }
    void onKeyConfirm() override;
    void onKeyBack() override;
    void toggleChoice();
    void update() override;

    GameMenu::Text* titleText = nullptr;
    GameMenu::Button* yesButton = nullptr;
    GameMenu::Button* noButton = nullptr;
    // Kept between visits (No after the back key).
    int32_t focusValue = noValue;
};
