#pragma once
// The map choice screen (menu state 10), the first step of a solo game: the
// track kind, one map of that kind from a carousel of preview tiles (one row
// per kind, the chosen kind's row in the middle) and the daytime.

#include "Menu/GameMenuScreen.h"
#include "Menu/Text.h"

#include "Core/SCList.h"

#include <TextureRecord.h>

#include <cstdint>

class GameMenu::ChooseMap : public GameMenu::Screen
{
public:
    class Map;

    static constexpr int32_t tileWidth = 250;
    static constexpr int32_t tileHeight = 150;
    enum Kind : int32_t { offRoad = 9, raceTrack = 10, rally = 11 };
    enum Daytime : int32_t { day = 13, sunrise = 14, sunset = 15 };

    explicit ChooseMap(GameMenu& menu);
    ~ChooseMap() override;

    // Nothing while the title exists; else the lists from the map folder
    // and the widgets.
    void enter(int32_t returnState) override;
    // Every frame (snap 0) and on entering (snap 1).
    void layout(bool snap);
    void update() override { layout(false); }
    void draw() override {}
    void onKeyLeft() override { onSide(-1); }
    void onKeyRight() override { onSide(+1); }
    void onKeyUp() override;
    void onKeyDown() override;
    void onKeyConfirm() override;
    void onKeyBack() override;
    int32_t nextScreen() override { return backFlag ? mainState : gameModeState; }
    // Keeps the selected map's path; the widgets and tiles go.
    void close() override;
    void readSelection(Selection& out) override;

    // The map folder's levels, listed by kind.
    void buildMapList();
    void deleteTiles();
    // Moves the kind's selected index; false (no sound) at either end.
    bool moveSelection(int32_t step);
    String getSelectedMapName() const { return selectedMapName; }
    // The list index (0 to 2) of a kind id.
    static int32_t listOf(int32_t kind) { return kind == raceTrack ? 1 : kind == rally ? 2 : 0; }

    int32_t focus = 0;
    GameMenu::Text* title = nullptr;
    Button* tabs[3] = {};
    ButtonPrevNext* daytimeControl = nullptr;
    GameMenu::Text* daytimeLabel = nullptr;
    SCList<Map> lists[3];
    int32_t selected[3] = {};
    int32_t kind = offRoad;
    int32_t daytime = day;
    String selectedMapName{L""};

private:
    void onSide(int32_t step);
};

// One level of the map folder: a preview tile with the map's name.
class GameMenu::ChooseMap::Map : public UserInterface::Panel
{
public:
    // The tile of the level at path: its head gives the name, the kind and
    // the preview (none when the head has no readable image).
    Map(ChooseMap& screen, const String& path);
    ~Map() override;

    // Places the tile column places beside the selection, row rows from the
    // chosen kind's row, gliding there unless snap; shown only near the
    // selection and with its top not above top (the title's bottom edge).
    void place(int32_t originX, int32_t originY, int32_t column, int32_t row, bool snap, int32_t top);

    // Where a tile's corner and size go for an eased position; brightness too.
    struct Placement
    {
        int32_t x, y, width, height;
        float scale;
        float brightness;
    };
    static Placement placement(int32_t originX, int32_t originY, float px, float py, int32_t column, int32_t row);

    ChooseMap* screen;
    UserInterface::Text* nameText = nullptr;
    String path;
    String name{L""};
    TextureRef preview;
    int32_t mapKind = 0;
    float px = 0.0f;
    float py = 0.0f;
};
