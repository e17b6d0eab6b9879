#pragma once
// The country choice (menu state 23), where a championship begins: the maps
// of the map folder grouped by the country code of their heads, one picture
// panel per country in a carousel, the difficulty, and "Continue" (the
// championship in progress) or "StartChampionship" (a new one). What it
// hands on is the chosen country's progress record.

#include "Menu/GameMenuScreen.h"

#include "Race/GameMapInfo.h"

#include "Core/SCList.h"

#include <cstdint>

class RenderTexture;

class GameMenu::ChooseCountry : public GameMenu::Screen
{
public:
    class Country;

    static constexpr int32_t panelWidth = 300;
    static constexpr int32_t panelHeight = 180;
    // The maps a country keeps for its picture.
    static constexpr int32_t mapsPerCountry = 3;
    enum Focus : int32_t { carousel = 0, selector = 1, continueFocus = 2, startFocus = 3 };

    explicit ChooseCountry(GameMenu& menu);
    ~ChooseCountry() override;

    // Nothing while the title exists; else the countries and the widgets.
    void enter(int32_t returnState) override;
    void buildCountryList();
    void layout(bool snap);
    void update() override { layout(false); }
    void draw() override {}
    void selectCountry(int32_t delta);
    void updateContinueButton();
    void onKeyLeft() override;
    void onKeyRight() override;
    void onKeyUp() override;
    void onKeyDown() override;
    void onKeyConfirm() override;
    void onKeyBack() override;
    // The progress record chosen; "StartChampionship" starts it anew first.
    void close() override;
    int32_t nextScreen() override;
    Game::ChampionshipEntry* chosenEntry() override { return chosen; }
    // The device or the view changed: the pictures are bound again.
    void onViewChanged() override;
    void onDeviceReset() override { onViewChanged(); }

    Country* selectedCountry() const;
    bool continueShown() const;
    // The entry's difficulty byte (0 to 2) of a difficulty id.
    static int32_t difficultyByte(int32_t id) { return id == 97 ? 1 : id == 98 ? 2 : 0; }

    int32_t focus = carousel;
    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* difficultyLabel = nullptr;
    SCList<Game::MapInfo> maps;
    SCList<Country> countries;
    int32_t selected = 0;
    ButtonPrevNext* difficultySelector = nullptr;
    Button* continueButton = nullptr;
    Button* startButton = nullptr;
    int32_t difficulty = 96;
    Game::ChampionshipEntry* chosen = nullptr;

private:
    void deleteLists();
    void showDifficulty();
};

// One country of the carousel: a picture that cross-fades between the
// previews of its maps, and its name.
class GameMenu::ChooseCountry::Country : public UserInterface::Panel
{
public:
    static constexpr int32_t pictureSize = 256;

    // A country of the first map's code: its own picture target and its
    // progress record (none when the table is full).
    Country(ChooseCountry& screen, Game::MapInfo* first);
    ~Country() override;

    // Takes one more map while it has a free slot; false when it is full.
    bool addMap(Game::MapInfo* map);
    // Places the panel offset places from the selection around (cx, cy).
    void update(int32_t cx, int32_t cy, int32_t offset, bool snap);
    // Draws the picture: the preview of pictureIndex with the next one over
    // it by fade. Nothing without a device or a target.
    void renderPicture();
    // Binds the picture to the panel again (after the device changed).
    void reloadTexture();
    // The slot shown after index: the maps the country has, in a cycle.
    int32_t nextIndex(int32_t index) const { return mapCount > 0 ? (index + 1) % mapCount : 0; }

    // Where a panel goes for an eased position, and its grey.
    struct Placement
    {
        int32_t x, y, width, height;
        float scale;
        uint8_t grey;
    };
    static Placement placement(int32_t cx, int32_t cy, float position, int32_t offset);

    ChooseCountry* screen;
    RenderTexture* picture = nullptr;
    Button* label = nullptr;
    String code{L""};
    Game::MapInfo* maps[mapsPerCountry] = {};
    int32_t mapCount = 0;
    int32_t pictureIndex = 0;
    float fade = 0.0f;
    uint32_t nextChange = 0;
    float position = 0.0f;
    int32_t isSelected = 0;
    Game::ChampionshipEntry* entry = nullptr;
    // What the picture shows now; drawn again only when it changes.
    int32_t drawnIndex = -1;
    int32_t drawnFade = -1;
};
