#pragma once
// The championship's two screens after a race's results: the standings of
// the championship points (state 22), which slide in over the blurred race
// and highlight the points needed to qualify while the player is below
// them; and the game over (state 28) for a player who missed them, which
// offers to start the championship again or to leave it.

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuRaceResults.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuText.h"

#include <cstdint>

class GameMenu::Points : public GameMenu::Screen
{
public:
    static constexpr int32_t maxRows = 8;
    static constexpr int32_t rowHeight = 60;
    static constexpr int32_t vertexCount = 66;

    struct Row
    {
        Row(Points& owner, const String& driver, Color driverColour, bool player, int32_t rowSlot, int32_t rowOrder,
            int32_t rowPoints);
        ~Row();
        Points* owner;
        Color color;
        uint32_t isPlayer;
        // The driver slot whose points the row shows.
        int32_t slot;
        int32_t order;
        int32_t points;
        int32_t offset = 0;
        GameMenu::Text* rank = nullptr;
        GameMenu::Text* name = nullptr;
        GameMenu::Text* pointsText = nullptr;
    };

    // The rows of the championship's progress record (none without one).
    explicit Points(GameMenu& owner);
    ~Points() override;
    static Screen* make(GameMenu& menu) { return new Points(menu); }

    void enter(int32_t returnState) override;
    int32_t nextScreen() override { return gameOverState; }
    void close() override;
    bool notQualified() override { return notQualifiedFlag != 0; }
    void onDeviceReset() override { backgroundRefresh = 1; }
    void update() override;
    void draw() override;
    // Rows and boxes where the next draw puts them; returns the boxes.
    uint32_t layoutRows();

    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* rankHeader = nullptr;
    GameMenu::Text* playerHeader = nullptr;
    GameMenu::Text* pointsHeader = nullptr;
    GameMenu::Button* neededLabel = nullptr;
    GameMenu::Button* neededValue = nullptr;
    Row* rows[maxRows] = {};
    int32_t rowCount = 0;
    GameMenuBars::Vertex boxVertices[vertexCount];
    int32_t rankColumn = 0;
    int32_t nameColumn = 0;
    int32_t pointsColumn = 0;
    int32_t neededPoints = 0;
    int32_t notQualifiedFlag = 0;
    uint32_t backgroundRefresh = 0;

private:
    void deleteWidgets();
};

class GameMenu::GameOver : public GameMenu::Screen
{
public:
    static constexpr int32_t restartId = 100;
    static constexpr int32_t endId = 8;

    explicit GameOver(GameMenu& owner);
    ~GameOver() override;
    static Screen* make(GameMenu& menu) { return new GameOver(menu); }

    void enter(int32_t returnState) override;
    int32_t nextScreen() override;
    // The blur released and the widgets deleted.
    void close() override;
    void onKeyUp() override;
    void onKeyDown() override;
    void onKeyConfirm() override;
    void onDeviceReset() override { backgroundRefresh = 1; }
    void update() override;
    void draw() override;

    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* neededLabel = nullptr;
    GameMenu::Text* neededValue = nullptr;
    GameMenu::Text* pointsLabel = nullptr;
    GameMenu::Text* pointsValue = nullptr;
    GameMenu::Button* restartButton = nullptr;
    GameMenu::Button* endButton = nullptr;
    int32_t selection = restartId;
    uint32_t backgroundRefresh = 0;

private:
    void deleteWidgets();
};
