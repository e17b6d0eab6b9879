#pragma once
// The game mode screen (menu state 11), the second step of a solo game:
// the mode (among those that suit the chosen map's kind), battle items, the
// number of opponents, the mode's goal and the difficulty.

#include "Menu/GameMenuScreen.h"

#include <cstdint>

class GameMenu::GameMode : public GameMenu::Screen
{
public:
    // Row ids, in focus order.
    enum Row : int32_t { modeRow = 16, battleRow = 23, opponentsRow = 26, goalRow = 27, difficultyRow = 95, startRow = 28 };
    enum Mode : int32_t { offRoadRace = 17, captureTheFlag = 18, jamboree = 19, knockOut = 20, circuit = 21, timeTrial = 22 };
    static constexpr int32_t battleOn = 24;
    static constexpr int32_t battleOff = 25;

    explicit GameMode(GameMenu& menu);
    ~GameMode() override;

    // Nothing while the widgets exist or without the map choice screen.
    void enter(int32_t returnState) override;
    void onKeyLeft() override { change(-1); }
    void onKeyRight() override { change(+1); }
    void onKeyUp() override;
    void onKeyDown() override { moveDown(true); }
    void onKeyConfirm() override;
    void onKeyBack() override;
    int32_t nextScreen() override { return backFlag ? chooseMapState : soloRaceState; }
    void close() override;
    void update() override;
    void draw() override {}
    void readSelection(Selection& out) override;

    // The game mode number 1 to 6 of the mode id (1 for another id).
    int32_t getSelectedMode() const;
    void refreshMode();
    // One step down; the sound only when asked for.
    void moveDown(bool sound);
    // Left (-1) or right (+1) on the focused row.
    void change(int32_t step);
    // The map kind chosen on the map choice screen (9 without one).
    int32_t mapKind() const;

    int32_t focus = modeRow;
    int32_t mode = offRoadRace;
    int32_t battle = battleOn;
    int32_t difficulty = 96;
    int32_t opponents = 3;
    int32_t goal = 2;

    GameMenu::Text* title = nullptr;
    GameMenu::Text* labels[5] = {};
    GameMenu::Text* description = nullptr;
    ButtonPrevNext* rows[5] = {};
    Button* startButton = nullptr;

private:
    void showValues();
};
