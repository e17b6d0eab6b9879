#pragma once
// The head-up display's own widgets: the nitro and damage bars drawn
// straight with the device, the widget that places the race's compass
// object and has its arrow drawn, and one line of the standings list. The
// display creates, owns and deletes them. Main thread only.

#include "Objects/HUD.h"

#include "Menu/Widget.h"

class Object;

// A bar of 250 x 35 pixels: kind 0 the damage (bottom left, red), kind 1
// the nitro (top right, purple). Its colours are fixed: the widget's colour
// and fade do not tint it.
class ObjPkgManager::Functions::HUD::Level final : public UserInterface::Widget
{
public:
    static constexpr int32_t damageKind = 0;
    static constexpr int32_t nitroKind = 1;
    static constexpr int32_t width = 250;
    static constexpr int32_t height = 35;

    // Listed at layer 0 and enabled.
    Level(HUD* owner, int32_t kind);
    ~Level() override = default;

    UserInterface::Rect getRect() override { return rect; }
    UserInterface::Size getSize() override { return {rect.right - rect.left, rect.bottom - rect.top}; }
    // Stores the rectangle.
    void update() override;
    // Outline and fill, then the rectangle is stored.
    void draw() override;

    // The bar's rectangle on a screen of width x height: kind 0 at
    // (93, height - 77), kind 1 at (width - 270, 36); another kind is empty.
    static UserInterface::Rect rectOf(int32_t kind, int32_t screenWidth, int32_t screenHeight);
    // The fill's right edge for value (within 0 to 1), and whether a fill
    // of at least one pixel shows.
    static float fillRight(const UserInterface::Rect& bar, float value);
    static bool showsFill(float value);

    HUD* owner;
    int32_t kind;
    float value = 0.0f;
    UserInterface::Rect rect;
};

// Places an object of the package "Compass" (always active) at the player
// and keeps its compass instance, whose arrow it has drawn. Without the
// package, or a package without the compass function, it draws nothing.
class ObjPkgManager::Functions::HUD::CompassHUD final : public UserInterface::Widget
{
public:
    // Listed at layer 0 and enabled.
    explicit CompassHUD(HUD* owner);
    // The compass object leaves the scene and goes.
    ~CompassHUD() override;

    UserInterface::Rect getRect() override { return rect; }
    UserInterface::Size getSize() override { return {rect.right - rect.left, rect.bottom - rect.top}; }
    void update() override {}
    // The compass instance's arrow, nothing else (no fade step).
    void draw() override;

    HUD* owner;
    Compass* instance = nullptr;
    Object* object = nullptr;
    UserInterface::Rect rect;
};

// One line of the standings: the vehicle's colour dot, its text (name and
// laps or score by mode) and, once eliminated, the mark.
class ObjPkgManager::Functions::HUD::StandingsRow
{
public:
    StandingsRow(HUD* owner, Game::Vehicle* vehicle);
    // The text, the mark, then the dot.
    ~StandingsRow();
    StandingsRow(const StandingsRow&) = delete;
    StandingsRow& operator=(const StandingsRow&) = delete;

    // Writes the row's text and places it as row index under the list
    // origin; returns the row's rectangle.
    UserInterface::Rect layout(int32_t index);

    HUD* owner;
    Game::Vehicle* vehicle;
    UserInterface::Panel dot;
    UserInterface::Panel mark;
    UserInterface::Text text;
};
