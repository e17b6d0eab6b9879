#pragma once
// The race's head-up display: an object-function instance (flag 0x20) that
// the race attaches to the player's vehicle object when the countdown
// begins. It draws nothing itself: it builds widgets of the user interface
// (panels, texts, its bars, standings rows and the compass widget) on the
// swap chain's widget list and writes the race state into them once a
// frame: speed, lap, race time, best times, standings, item counts, nitro
// and damage bars, the countdown, centred messages, lap times, a white
// flash and the compass. The vehicle race state calls its operations for
// messages, lap times, the compass and the flash.
//
// Deadlines read the race clock (raceNow), fades step by the frame factor.
// Main thread only.

#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Menu/Panel.h"
#include "Menu/Text.h"
#include "Menu/UIFont.h"
#include "Race/Game.h"
#include "Vehicle/QuadPhysics.h"

#include "Core/String.h"

#include <TextureRecord.h>

#include <cstdint>

class DynObject;
class Object;
class Scene;

namespace UserInterface {
class Root;
}

class ObjPkgManager::Functions::HUD final : public ObjectFuncInstInterface
{
public:
    class Level;
    class CompassHUD;
    class StandingsRow;

    static constexpr uint32_t flag = 0x20;
    static constexpr int32_t maxRows = 8;
    static constexpr int32_t listX = 20;
    static constexpr int32_t listY = 300;

    // Builds the widgets of the race's mode under root's list and lays them
    // out. root, scene and player may be null (nothing of theirs is read).
    HUD(UserInterface::Root* root, Scene* scene, DynObject* player);
    // Releases the faces, deletes every widget and the rows.
    ~HUD() override;

    void update() override { refresh(); }
    bool replacesEntityUpdate() override { return false; }
    // The device was restored or the screen changed size.
    void redraw() override { layout(); }
    // Draws the compass arrow before the player's object is drawn.
    void beforeRender(const matrix3d& transform) override;

    // The frame's update of every widget from the race state; nothing while
    // the player object lacks its inventory or its vehicle physics.
    void refresh();
    // Places the fixed widgets (after a refresh).
    void layout();
    // A centred message for durationMs, then a fade; dropped while one shows.
    void showMessage(String text, uint32_t durationMs);
    void hideMessage();
    // A lap time and its difference (0: none) for 2000 ms, then a fade;
    // dropped while one shows.
    void showLapTimes(int32_t lapMs, int32_t differenceMs);
    // The race best-lap text and the two record texts from the race state.
    void updateLapTimeText();
    void updateBestTimeText();
    // Modes 4 to 6 only: shows the compass (and makes its widget), or hides
    // its warning blink (mode 6 also deletes the widget).
    void showCompass(bool show);
    // The white flash over the whole screen (nothing while one fades).
    void createBeam();
    // The place (from 1) the player's projected race time would take among
    // the opponents' generated times or else the race records.
    int32_t projectedPlace();
    // The same from given keys: the estimate among at most eight values
    // (unsigned order); a value equal to the estimate ranks behind it.
    static int32_t projectedPlace(int32_t estimate, const int32_t* values, int32_t count);
    // The row order: true when a's vehicle has the smaller place (equal
    // places are equal).
    static bool compareRowsByPlace(const StandingsRow* a, const StandingsRow* b);

    // The screen size in pixels (the back buffer of root's swap chain).
    int32_t screenWidth() const;
    int32_t screenHeight() const;
    // The race's game, mode, player vehicle (the race vehicle of the player
    // object's placed object) and whether items are on.
    Game* game() const;
    int32_t mode() const;
    Game::Vehicle* playerVehicle() const;
    bool itemsOn() const;

    // A text of face on the list at layer, enabled.
    UserInterface::Text* makeText(UserInterface::UIFont::Face* face, int32_t layer, int32_t wrapWidth = -1,
                                  int32_t maxLines = -1);
    // A panel with texture at its size, blended and enabled.
    UserInterface::Panel* makePanel(const TextureRef& texture, int32_t layer);
    // A texture from the resource archive's image entry of that name; false
    // (ref unbound) when the entry is missing, not an image or unreadable.
    static bool loadResourceImage(TextureRef& ref, const wchar_t* name);

    UserInterface::Root* root;
    Scene* scene;
    DynObject* player;
    ObjectFuncInstInterface* inventory = nullptr;
    QuadPhysics::Instance* vehiclePhysics = nullptr;

    UserInterface::Panel* oilIcon = nullptr;
    UserInterface::Panel* rocketIcon = nullptr;
    UserInterface::Panel* nitroIcon = nullptr;
    UserInterface::Panel* repairIcon = nullptr;
    UserInterface::Panel* lapBackground = nullptr;
    UserInterface::Panel* listBackground = nullptr;
    UserInterface::Panel* timeBackground = nullptr;
    UserInterface::Panel* recordsBackground = nullptr;
    UserInterface::Panel* lapTimeBackground = nullptr;
    UserInterface::Panel* flash = nullptr;

    Level* nitroBar = nullptr;
    Level* damageBar = nullptr;

    UserInterface::UIFont::Face* largeFace = nullptr;
    UserInterface::UIFont::Face* mediumFace = nullptr;
    UserInterface::UIFont::Face* smallFace = nullptr;

    UserInterface::Text* oilCount = nullptr;
    UserInterface::Text* rocketCount = nullptr;
    UserInterface::Text* speed = nullptr;
    UserInterface::Text* lap = nullptr;
    UserInterface::Text* time = nullptr;
    UserInterface::Text* raceBestLap = nullptr;
    UserInterface::Text* bestTimeRecord = nullptr;
    UserInterface::Text* bestLapRecord = nullptr;
    UserInterface::Text* countdown = nullptr;
    UserInterface::Text* message = nullptr;
    UserInterface::Text* lapTime = nullptr;
    UserInterface::Text* lapTimeDifference = nullptr;
    UserInterface::Text* placeText = nullptr;

    CompassHUD* compass = nullptr;

    StandingsRow* rows[maxRows] = {};
    int32_t rowCount = 0;

    int32_t listOriginX = listX;
    int32_t listOriginY = listY;

    float flashFade = 0.0f;
    float messageFade = 0.0f;
    float lapTimeFade = 0.0f;
    uint32_t messageEnd = 0;
    uint32_t lapTimeEnd = 0;

    TextureRef background;

private:
    void refreshRecords();
    void refreshFades();
    void refreshRows();
    void placeBackgrounds(const UserInterface::Rect& listBox, const UserInterface::Rect& timeBox,
                          const UserInterface::Rect& recordsBox);
    void makeRecordText(UserInterface::Text*& text);
    // The compass widget, when there is none.
    void makeCompass();
};

// What the head-up display's faces, texts and alphas need of a value or a
// fade, kept apart so that tests can pin them.
namespace HudValues {

// (1 - fade) x 255, truncated, within 0 to 255.
uint8_t fadeAlpha(float fade);
// (1 - fade^1.8) x 255, within 0 to 255, truncated.
uint8_t flashAlpha(float fade);
// The countdown's alpha: hundredths / 100 x 255, truncated.
uint8_t countdownAlpha(uint8_t hundredths);
// A bar value or a display number: 0 for a non-finite one, else within
// 0 to 1.
float barValue(float value);

}
