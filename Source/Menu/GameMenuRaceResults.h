#pragma once
// The screen that ends every race (state 21): over a blurred still of the
// race it lists the standings (modes 1 to 5), the map's lap records (a time
// trial outside a championship) or the player against the opponents' times
// (a time trial in a championship). Lines slide in alternately from the
// sides behind translucent green bars; the player's line pulses. Closing
// pays each driver slot the points of its place in a championship; the
// state machine then leads to the points (22) or to the map choice (10).

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuText.h"

#include "Race/GameVehicle.h"

#include <TextureRecord.h>

#include <windows.h>

#include <cstdint>

namespace GameMenuBars {

// A pre-transformed vertex of the translucent bars and colour squares.
struct Vertex
{
    float x, y, z, rhw;
};
// Two triangles over (left, top)..(right, bottom) into out[0..5].
void rectangle(Vertex* out, float left, float top, float right, float bottom);
// The bars as one triangle list in translucent green (alpha 80), then the
// stage and blending set back.
void drawBars(const Vertex* vertices, uint32_t rectangles);
// A square filled with colour as a strip of four vertices.
void drawSquare(float left, float top, float side, Color colour);
// The ease of the slides: 2.70158 t^3 + 1.70158 t^2 + 1 with t = f - 1,
// overshooting slightly before it settles at 1.
float ease(float fade);
// The bars' colour: green with alpha 80.
inline constexpr uint32_t barColour = 0x5000FF00;

}
static_assert(sizeof(GameMenuBars::Vertex) == 16, "the bar vertex is 16 bytes");

class GameMenu::RaceResults : public GameMenu::Screen
{
public:
    static constexpr int32_t maxStandings = 8;
    static constexpr int32_t maxRecords = 9;
    static constexpr int32_t maxTimeTrials = 8;
    static constexpr int32_t rowHeight = 60;
    static constexpr int32_t vertexCount = 66;

    struct StandingRow
    {
        StandingRow(RaceResults& owner, Game::Vehicle* raceVehicle, int32_t rowSlot);
        ~StandingRow();
        RaceResults* owner;
        Game::Vehicle* vehicle;
        int32_t slot;
        int32_t place;
        int32_t offset = 0;
        GameMenu::Text* rank = nullptr;
        GameMenu::Text* name = nullptr;
        GameMenu::Text* value = nullptr;
        UserInterface::Panel* icon = nullptr;
    };
    struct RecordRow
    {
        RecordRow(RaceResults& owner, const RaceRecords::Entry* record, int32_t rowIndex, bool isCurrent);
        ~RecordRow();
        RaceResults* owner;
        const RaceRecords::Entry* entry;
        int32_t index;
        uint32_t current;
        GameMenu::Text* rank = nullptr;
        GameMenu::Text* name = nullptr;
        GameMenu::Text* date = nullptr;
        GameMenu::Text* time = nullptr;
    };
    struct TimeTrialRow
    {
        TimeTrialRow(RaceResults& owner, const String& driver, Color rowColour, bool player, int32_t rowSlot,
                     const RaceTime& raceTime);
        ~TimeTrialRow();
        RaceResults* owner;
        Color colour;
        uint32_t isPlayer;
        int32_t slot;
        int32_t place = 0;
        uint32_t gaveUp = 0;
        int32_t offset = 0;
        uint32_t sortKey;
        String name;
        GameMenu::Text* rank = nullptr;
        GameMenu::Text* nameText = nullptr;
        GameMenu::Text* time = nullptr;
        GameMenu::Text* points = nullptr;
    };

    explicit RaceResults(GameMenu& owner);
    ~RaceResults() override;
    static Screen* make(GameMenu& menu) { return new RaceResults(menu); }

    // The headers and the background on the first call.
    void enter(int32_t returnState) override;
    int32_t nextScreen() override;
    // Pays the places in a championship, then everything goes.
    void close() override;
    void onDeviceReset() override { textureRefresh = 1; }
    // layoutHeaders, then the background drawn and blurred again.
    void update() override;
    // The title, headers and min-place line at the fade's slide.
    void layoutHeaders();
    void draw() override;

    // Sorts the standings by the race's places (equal places keep their
    // order) and fills every row with its new place.
    void sortStandings();
    // Time-trial order: time, then slot.
    static bool compareTimeTrial(const TimeTrialRow& a, const TimeTrialRow& b);
    // The rows' offsets, places, texts and colours as the next draw shows them.
    void layoutRows();
    // The bars' rectangles into barVertices; returns how many.
    uint32_t buildBars();

    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* rankHeader = nullptr;
    GameMenu::Text* dateHeader = nullptr;
    GameMenu::Text* playerHeader = nullptr;
    GameMenu::Text* timeHeader = nullptr;
    GameMenu::Text* valueHeader = nullptr;
    GameMenu::Button* minPlaceButton = nullptr;
    StandingRow* standings[maxStandings] = {};
    int32_t standingCount = 0;
    RecordRow* records[maxRecords] = {};
    int32_t recordCount = 0;
    TimeTrialRow* timeTrials[maxTimeTrials] = {};
    int32_t timeTrialCount = 0;
    int32_t rankColumn = 0;
    int32_t dateColumn = 0;
    int32_t playerColumn = 0;
    int32_t timeColumn = 0;
    int32_t valueColumn = 0;
    GameMenuBars::Vertex barVertices[vertexCount];
    uint32_t textureRefresh = 0;
    int32_t mode = 0;
    uint32_t championship = 0;
    // The eliminated mark, read once for every row.
    TextureRef eliminatedTexture;

private:
    void fillStanding(StandingRow& row, int32_t place);
    void fillTimeTrial(TimeTrialRow& row, int32_t place);
    void deleteAll();
    int32_t screenWidth() const;
};
