// The main screen's buttons and the showroom's arithmetic, without a device.
#include "MenuSoundProbe.h"
#include "MenuStandIns.h"

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuMain.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::wstring> opened;
bool recordPage(const String& address)
{
    opened.push_back(address.text());
    return true;
}

class Pages : public MenuStandIn::Application
{
public:
    String getMapsPage() override { return String(L"https://example.test/page-maps.php"); }
    String getDonatePage() override { return String(L"https://example.test/page-donate.php"); }
};

class MainScreen : public testing::Test
{
protected:
    void SetUp() override
    {
        opened.clear();
        previous = GameMenu::Main::openPage;
        GameMenu::Main::openPage = recordPage;
    }
    void TearDown() override { GameMenu::Main::openPage = previous; }

    GameMenu::Main& mainScreen()
    {
        auto* screen = dynamic_cast<GameMenu::Main*>(menu.createMain());
        EXPECT_NE(screen, nullptr);
        return *screen;
    }

    GameMenu::Main::PageOpener previous = nullptr;
    Pages application;
    GameMenu menu{nullptr, &application};
    SoundProbe sounds{menu};
};

}

TEST_F(MainScreen, TheRingOfButtonsAndWhereEachLeads)
{
    GameMenu::Main& screen = mainScreen();
    menu.openScreen(GameMenu::mainState);
    sounds.mark();
    EXPECT_EQ(screen.selection, GameMenu::Main::championship);
    for (int32_t id : {2, 3, 4, 6, 7, 8, 1})
        ASSERT_NE(screen.buttons[id - 1], nullptr) << id;
    EXPECT_EQ(screen.buttons[4], nullptr) << "there is no button 5";
    EXPECT_EQ(screen.buttons[GameMenu::Main::donate - 1]->y, 600);
    EXPECT_EQ(screen.buttons[GameMenu::Main::myQuad - 1]->x, 60);

    // Up twice from CHAMPIONSHIP wraps to Donate, at the bottom.
    screen.onKeyUp();
    EXPECT_EQ(screen.selection, GameMenu::Main::myQuad);
    EXPECT_EQ(sounds.last(), 0);
    screen.onKeyUp();
    EXPECT_EQ(screen.selection, GameMenu::Main::donate);
    screen.onKeyDown();
    EXPECT_EQ(screen.selection, GameMenu::Main::myQuad);
    const int32_t ringDown[][2] = {{2, 3}, {3, 4}, {4, 6}, {6, 7}, {7, 8}, {8, 1}, {1, 2}};
    for (const auto& step : ringDown) {
        EXPECT_EQ(GameMenu::Main::below(step[0]), step[1]);
        EXPECT_EQ(GameMenu::Main::above(step[1]), step[0]);
    }

    const int32_t next[][2] = {{2, GameMenu::myQuadState},    {3, GameMenu::chooseCountryState},
                               {4, GameMenu::chooseMapState}, {7, GameMenu::settingsState},
                               {8, GameMenu::exitState},      {5, GameMenu::noScreen}};
    for (const auto& row : next) {
        screen.selection = row[0];
        EXPECT_EQ(screen.nextScreen(), row[1]) << row[0];
    }
}

TEST_F(MainScreen, ThePagesOpenSilentlyAndTheScreenStays)
{
    GameMenu::Main& screen = mainScreen();
    menu.openScreen(GameMenu::mainState);
    sounds.mark();
    for (int32_t id : {int32_t(GameMenu::Main::donate), int32_t(GameMenu::Main::getMoreMaps)}) {
        sounds.mark();
        screen.selection = id;
        screen.onKeyConfirm();
        EXPECT_EQ(sounds.last(), -1) << "no sound";
        EXPECT_EQ(screen.done, 0u);
        EXPECT_EQ(screen.selection, id);
        EXPECT_NE(screen.buttons[0], nullptr);
    }
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0], L"https://example.test/page-donate.php");
    EXPECT_EQ(opened[1], L"https://example.test/page-maps.php");

    // Confirm elsewhere closes with the confirm sound; the selection stays
    // for the next visit, whose buttons are made anew.
    screen.selection = GameMenu::Main::soloGame;
    screen.onKeyConfirm();
    EXPECT_EQ(sounds.last(), 1);
    EXPECT_EQ(screen.done, 1u);
    for (GameMenu::Button* button : screen.buttons)
        EXPECT_EQ(button, nullptr);
    EXPECT_EQ(menu.menuState, GameMenu::mainState);
    menu.update();
    EXPECT_EQ(menu.menuState, GameMenu::chooseMapState);
    screen.reset();
    screen.enter(GameMenu::noScreen);
    EXPECT_EQ(screen.selection, GameMenu::Main::soloGame);
    EXPECT_NE(screen.buttons[GameMenu::Main::soloGame - 1], nullptr);

    // Back asks whether to leave the game.
    screen.onKeyBack();
    EXPECT_EQ(screen.selection, GameMenu::Main::exit);
    EXPECT_EQ(screen.nextScreen(), GameMenu::exitState);
    EXPECT_EQ(sounds.last(), 2);
}

TEST_F(MainScreen, WithoutThePackageThereIsNoQuadAndNoDrag)
{
    menu.mainBlock.quadPackage = String(L"");
    GameMenu::Main& screen = mainScreen();
    screen.enter(GameMenu::noScreen);
    ASSERT_NE(screen.showroom, nullptr);
    EXPECT_FALSE(screen.showroom->hasQuad());
    EXPECT_FALSE(screen.showroom->platform.isBound());
    screen.showroom->beginDrag();
    EXPECT_EQ(screen.showroom->dragging, 0u);
    screen.showroom->enter(String(L"NoSuchPackage"));
    EXPECT_FALSE(screen.showroom->hasQuad());
}

TEST(Showroom, TheMirrorReflectsInTheFloorAndTheDragTurnsHalfADegreeAPixel)
{
    // The showroom's plane: normal (0, -1, 0) through the origin.
    const matrix3d r = Mirror::reflectionMatrix({0.0f, -1.0f, 0.0f}, 0.0f);
    const vec3d p = r.transformPoint({1.5f, 2.0f, -3.0f});
    EXPECT_FLOAT_EQ(p.x, 1.5f);
    EXPECT_FLOAT_EQ(p.y, -2.0f);
    EXPECT_FLOAT_EQ(p.z, -3.0f);
    // A plane off the origin: y = 1 reflects y = 3 to y = -1.
    const matrix3d lifted = Mirror::reflectionMatrix({0.0f, 1.0f, 0.0f}, 1.0f);
    EXPECT_FLOAT_EQ(lifted.transformPoint({0.0f, 3.0f, 0.0f}).y, -1.0f);
    Mirror mirror(nullptr);
    mirror.setPlane({0.0f, -1.0f, 0.0f}, 2.0f, {});
    EXPECT_FLOAT_EQ(mirror.clipDistance, -2.0f);
    EXPECT_FLOAT_EQ(mirror.clipPoint.y, 2.0f);

    GameMenu menu(nullptr);
    GameMenu::Main::Showroom room(menu);
    EXPECT_FLOAT_EQ(room.turnAngle, 220.0f);
    // No rectangle before the first draw: no drag.
    EXPECT_FALSE(room.startDragAt(10, 10));
    room.rect = GameMenu::Main::Showroom::viewportFor(1024, 768, 1024.0f / 768.0f);
    EXPECT_EQ(room.rect.X, 256u);
    EXPECT_EQ(room.rect.Y, 192u);
    EXPECT_EQ(room.rect.Width, 768u);
    EXPECT_EQ(room.rect.Height, 576u);
    const int32_t outside[][2] = {{255, 500}, {600, 191}, {1025, 500}, {600, 769}};
    for (const auto& at : outside)
        EXPECT_FALSE(room.startDragAt(at[0], at[1])) << at[0] << "," << at[1];
    EXPECT_TRUE(room.startDragAt(256, 192)) << "the edges count";
    EXPECT_TRUE(room.startDragAt(600, 500));
    room.dragTo(500);
    EXPECT_FLOAT_EQ(room.dragAngle, 50.0f);
    room.endDrag();
    EXPECT_FLOAT_EQ(room.turnAngle, 270.0f);
    EXPECT_FLOAT_EQ(room.dragAngle, 0.0f);
    EXPECT_EQ(room.dragging, 0u);

    // The turn about y: 90 degrees takes x to -z.
    const vec3d turned = GameMenu::Main::Showroom::turnMatrix(90.0f).transformPoint({1.0f, 0.0f, 0.0f});
    EXPECT_NEAR(turned.x, 0.0f, 1e-6f);
    EXPECT_NEAR(turned.z, -1.0f, 1e-6f);
}

TEST(Showroom, ThePlatformImageAndTheLitRing)
{
    Paint image;
    GameMenu::Main::Showroom::paintPlatform(image);
    ASSERT_EQ(image.width, 16);
    ASSERT_EQ(image.height, 64);
    const Color shade(0, 0, 0, 0xAA), border(220, 220, 220, 255), white(255, 255, 255, 255);
    for (int32_t x = 0; x < 16; ++x) {
        for (int32_t y = 0; y < 64; ++y) {
            const bool inside = x >= 7 && x <= 9 && y >= 4 && y <= 60;
            const bool onBorder = !inside && x >= 6 && x <= 10 && y >= 3 && y <= 61;
            const Color want = inside ? white : onBorder ? border : shade;
            ASSERT_EQ(image.columns[x][y], want) << x << "," << y;
        }
    }
    // The segment under the light is brightest, the one across darkest.
    const float pi = 3.14159265f;
    EXPECT_FLOAT_EQ(GameMenu::Main::Showroom::segmentLevel(pi, pi, 0.0f), 0.2f);
    EXPECT_FLOAT_EQ(GameMenu::Main::Showroom::segmentLevel(0.0f, 0.0f, 0.0f), 0.9f);
    const float a0 = 4.0f * pi / 16.0f, a1 = 5.0f * pi / 16.0f;
    const float mx = (std::cos(a0) + std::cos(a1)) / 2.0f, my = (std::sin(a0) + std::sin(a1)) / 2.0f;
    const float d2 = (1.0f - mx) * (1.0f - mx) + my * my;
    EXPECT_FLOAT_EQ(GameMenu::Main::Showroom::segmentLevel(a0, a1, 0.0f),
                    std::clamp(1.0f - std::pow(d2, 0.3f), 0.2f, 0.9f));
}
