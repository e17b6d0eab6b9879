#pragma once
// The overlays over a freshly loaded map: the map preview before a race
// (map and country, mode and goal, in a championship the points to qualify
// and the worst place that still does) and the congratulation over the
// championship's end. Both are translucent grey bars ("HUDBg") laid out
// from the back buffer's size every frame, and both close through the
// disperse transition over "BlackScreen".

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuScreen.h"
#include "Menu/GameMenuText.h"

#include <TextureRecord.h>

#include <cstdint>

namespace GameMenuOverlay {

// A 32 x 32 A8R8G8B8 texture of one colour, made under name (unbound
// without a device).
TextureRef makeFilledTexture(const wchar_t* name, Color colour);
// The bars' grey: 110 with alpha 180.
inline constexpr Color barGrey{110, 110, 110, 180};
// Upper case by the invariant table, whatever the user's locale.
String upperCase(const String& text);
// A bar panel: layer 0, half opacity with the menu's fade, no texture yet.
UserInterface::Panel* makeBar(GameMenu& menu);
// Shows texture stretched over w x h at (x, y), blended and enabled.
void placeBar(UserInterface::Panel& bar, int32_t x, int32_t y, int32_t w, int32_t h);
// The size of a text as laid out.
UserInterface::Size measure(UserInterface::Text& text);
// Fits text into room pixels of width: at its own size when it fits, else
// drawn smaller down to smallest (a share of its size), and at smallest cut
// to one line that ends in an ellipsis. The text is laid out again.
void fitWidth(UserInterface::Text& text, int32_t room, float smallest);
// The closing transition over "BlackScreen" when the menu has none yet.
void startClosingTransition(GameMenu& menu);

}

class GameMenu::MapPreview : public GameMenu::Overlay
{
public:
    static constexpr uint32_t autoClose = 30000;
    static constexpr uint32_t closeHold = 2000;

    explicit MapPreview(GameMenu& owner);
    ~MapPreview() override;
    static Overlay* make(GameMenu& menu, const TextureRef&) { return new MapPreview(menu); }

    // The closing deadline first, then the layout, then the labels' colour.
    void update() override;
    void draw() override {}
    void beginClose() override;
    bool closeDue(uint32_t now) override;
    // The layout of the table at the back buffer's size.
    void layout();

    UserInterface::Panel* titleBar = nullptr;
    UserInterface::Panel* modeBar = nullptr;
    UserInterface::Panel* pointsBox = nullptr;
    UserInterface::Panel* goalBox = nullptr;
    GameMenu::Text* goalText = nullptr;
    GameMenu::Text* titleText = nullptr;
    GameMenu::Text* modeText = nullptr;
    GameMenu::Text* pointsToQualifyLabel = nullptr;
    GameMenu::Text* pointsLabel = nullptr;
    GameMenu::Text* neededPointsText = nullptr;
    GameMenu::Text* currentPointsText = nullptr;
    GameMenu::Button* goalLabel = nullptr;
    GameMenu::Button* minPlaceText = nullptr;
    uint32_t closeDeadline = 0;
    int32_t closing = 0;
    // The title's room when it was last fitted into its bar (-1 none yet).
    int32_t titleRoom = -1;
    // The title keeps this much of its bar clear on either side, and shrinks
    // to no less than this share of its size before it is cut.
    static constexpr int32_t titleMargin = 12;
    static constexpr float smallestTitle = 0.6f;
};

class GameMenu::Congratulation : public GameMenu::Overlay
{
public:
    static constexpr uint32_t closeHold = 1000;
    // The championship end's camera tour has reached its last stage.
    static constexpr uint32_t lastTourStage = 4;

    explicit Congratulation(GameMenu& owner);
    ~Congratulation() override;
    static Overlay* make(GameMenu& menu, const TextureRef&) { return new Congratulation(menu); }

    void update() override;
    void draw() override {}
    // Only once the camera tour is over; every call moves the deadline.
    void beginClose() override;
    bool closeDue(uint32_t now) override;

    UserInterface::Panel* topBar = nullptr;
    UserInterface::Panel* bottomBar = nullptr;
    GameMenu::Text* congratulationText = nullptr;
    GameMenu::Text* youWonText = nullptr;
    uint32_t closeDeadline = 0;
};
