// The race screens on the device at 640 x 480: the results over the blurred
// scene (a red scene drawn by the test) with their green bars and the
// player's pulsing line, the background taken again after a device reset,
// and the disperse transition's first frame showing its picture unchanged.
#include "MenuStandIns.h"
#include "RaceScreensSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Render/TestDevice.h"

#include "HudSamples.h"
#include "MenuFileWriter.h"
#include "MenuSamples.h"
#include "ResourceArchiveWriter.h"

#include "Menu/GameMenuControl.h"
#include "Menu/GameMenuDisperse.h"
#include "Menu/GameMenuPause.h"
#include "Menu/GameMenuPoints.h"
#include "Menu/GameMenuRaceResults.h"

#include "Application/Globals.h"
#include "Render/DirectGraphics.h"
#include "Render/RenderTexture.h"

#include "Core/ResourceManager.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace TestDevice;

namespace {

constexpr uint32_t width = 640;
constexpr uint32_t height = 480;

uint8_t red(uint32_t texel)
{
    return uint8_t(texel >> 16);
}

uint8_t green(uint32_t texel)
{
    return uint8_t(texel >> 8);
}

uint8_t blue(uint32_t texel)
{
    return uint8_t(texel);
}

// The colour of the test's "scene".
uint32_t sceneColour = 0xFFFF0000;

class RaceScreensDevice : public DeviceSuite
{
protected:
    static void SetUpTestSuite() { openDevice(int(width), int(height)); }

    void SetUp() override
    {
        MenuStandIn::calls.clear();
        scene.swapChain = &chain();
        menu.world = &world;
        LanguageSetup::run(language, nullptr, 0x0409);
        previousLanguage = gLanguage;
        gLanguage = &language;
        wchar_t folder[MAX_PATH] = {};
        GetTempPathW(MAX_PATH, folder);
        const std::wstring path = std::wstring(folder) + L"KorvantaRaceScreens.mnu";
        ASSERT_TRUE(MenuFileWriter::save(MenuSamples::sample(), String(path.c_str())));
        menu.load(String(path.c_str()));
        lookAlongZ(chain(), {0.0f, 0.0f, 0.0f});
        // The "scene": a red screen drawn in the frame's passes.
        sceneColour = 0xFFFF0000;
        client->afterScene = [] {
            gDevice->SetTexture(0, nullptr);
            gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
            gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
            gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, sceneColour);
            drawScreenRect(int(width), int(height), -1, -1, 0.0f);
            gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        };
    }
    void TearDown() override
    {
        client->afterScene = nullptr;
        menu.releaseSounds();
        menu.releaseSmoothing();
        gLanguage = previousLanguage;
        scene.swapChain = nullptr;
    }

    // A vehicle of the race at the end of the list.
    void addVehicle(int32_t place, bool player)
    {
        auto* vehicle = new Game::Vehicle(&world.race, nullptr, uint32_t(world.race.vehicles.count()));
        vehicle->place = place;
        vehicle->isPlayer = player ? 1 : 0;
        world.race.vehicles.append(vehicle);
    }

    // A menu frame, then the frame with the interface pass, read back.
    Level frame()
    {
        menu.update();
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
        c.render(true);
        Level pixels = readSurface(c.targets[0].surface);
        keepView(c.targets[0].surface);
        c.present();
        return pixels;
    }

    RaceScreenTest::World world;
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene};
    Language language;
    Language* previousLanguage = nullptr;
    MenuStandIn::Clock clock{1000};
};

}

TEST_F(RaceScreensDevice, TheResultsShowGreenBarsOverTheBlurredSceneAlsoAfterAReset)
{
    world.race.choice.gameMode = Game::OffRoadRace;
    for (int32_t i = 0; i < 3; ++i)
        addVehicle(i + 1, i == 1);
    world.race.phase = 4;
    menu.onRaceFinished();
    ASSERT_NE(menu.raceResultsScreen, nullptr);
    auto& results = static_cast<GameMenu::RaceResults&>(*menu.raceResultsScreen);
    // The scene ends on an additive draw (as its particles do): the bars
    // blend by their own alpha all the same.
    client->afterScene = [previous = client->afterScene] {
        previous();
        gDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
    };
    ASSERT_NE(results.titleText, nullptr);
    ASSERT_NE(menu.smoothTarget, nullptr);
    // Faded in at once.
    results.opacity = 1.0f;
    results.colour.a = 255;
    results.fadeMode = UserInterface::Widget::fadeNone;
    frame();
    const Level first = frame();
    ASSERT_EQ(first.width, width);
    const int32_t rowY = results.standings[1]->rank->y;
    const uint32_t inBar = first.at(uint32_t(results.rankColumn - 6), uint32_t(rowY + 4));
    const uint32_t outside = first.at(4, height - 20);
    EXPECT_GT(green(inBar), 60) << std::hex << inBar;
    EXPECT_LT(green(inBar), 160) << "the bar is translucent " << std::hex << inBar;
    EXPECT_LT(green(outside), 30) << std::hex << outside;
    EXPECT_GT(red(outside), 90) << std::hex << outside;
    // Between two rows there is no bar.
    const uint32_t between = first.at(uint32_t(results.rankColumn - 6), uint32_t(rowY + 60 - 15));
    EXPECT_LT(green(between), 30) << std::hex << between;

    // The player's line pulses: its glyphs change colour from frame to frame.
    const auto lineInk = [&](const Level& pixels, int32_t row) {
        const int32_t y = results.standings[row]->name->y;
        uint64_t sum = 0;
        for (int32_t py = y; py < y + 20; ++py)
            for (int32_t px = results.playerColumn; px < results.playerColumn + 60; ++px)
                sum += pixels.at(uint32_t(px), uint32_t(py)) & 0xFFFFFF;
        return sum;
    };
    for (int i = 0; i < 4; ++i)
        frame();
    const Level later = frame();
    EXPECT_NE(lineInk(first, 1), lineInk(later, 1));
    EXPECT_EQ(lineInk(first, 0), lineInk(later, 0));

    // After a reset the background is taken again.
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    menu.onDeviceReset();
    EXPECT_EQ(results.textureRefresh, 1u);
    frame();
    const Level afterReset = frame();
    EXPECT_EQ(results.textureRefresh, 0u);
    const uint32_t background = afterReset.at(4, height - 20);
    EXPECT_GT(red(background), 90) << std::hex << background;
    EXPECT_LT(green(background), 30) << std::hex << background;
    menu.releaseScreens();
}

// A knock-out's results cross out the eliminated with the game's own
// "HUDEliminated" picture, beside their time; the others show no cross.
TEST_F(RaceScreensDevice, TheKnockOutResultsCrossOutTheEliminated)
{
    const String path((AppTestFiles::freshFolder(L"race-screens") + L"Resource.res").c_str());
    ResourceArchiveWriter archive;
    ASSERT_TRUE(HudSamples::addArchiveImages(archive));
    ASSERT_TRUE(archive.save(path));
    ResourceManager resources;
    ASSERT_TRUE(resources.load(path));
    const struct Restore
    {
        ResourceManager* previous = gResourceManager;
        ~Restore() { gResourceManager = previous; }
    } restore;
    gResourceManager = &resources;
    sceneColour = 0xFF0000FF;
    world.race.choice.gameMode = Game::KnockOut;
    for (int32_t i = 0; i < 4; ++i)
        addVehicle(i + 1, i == 3);
    // The winner finished; one still racing; one knocked out into a parking
    // slot; the player knocked out where no slot was free, which finished
    // its race at 02:45.12 of the clock.
    Game::Vehicle& winner = *world.race.vehicles.head()->item;
    Game::Vehicle& racing = *world.race.vehicles.head()->next->item;
    Game::Vehicle& out = *world.race.vehicles.head()->next->next->item;
    Game::Vehicle& player = *world.race.vehicles.tail()->item;
    winner.finished = 1;
    Game::splitRaceTime(201230, winner.raceTime);
    out.parkingSlot = reinterpret_cast<Object*>(&resources);
    out.knockedOut = 1;
    player.knockedOut = 1;
    player.finished = 1;
    Game::splitRaceTime(165120, player.raceTime);
    world.race.phase = 4;
    menu.onRaceFinished();
    ASSERT_NE(menu.raceResultsScreen, nullptr);
    auto& results = static_cast<GameMenu::RaceResults&>(*menu.raceResultsScreen);
    results.opacity = 1.0f;
    results.colour.a = 255;
    results.fadeMode = UserInterface::Widget::fadeNone;
    Level pixels;
    for (int i = 0; i < 12; ++i)
        pixels = frame();
    // Red where the cross's two strokes meet, on the eliminated rows only;
    // the best time column holds the winner's race time, and "-" beside
    // those knocked out and the one still racing: the clock the player went
    // out at is no time of the race.
    for (int32_t row = 0; row < 4; ++row) {
        const GameMenu::RaceResults::StandingRow& standing = *results.standings[row];
        const UserInterface::Panel& icon = *standing.icon;
        const uint32_t texel = pixels.at(uint32_t(icon.x + 12), uint32_t(icon.y + 12));
        EXPECT_EQ(red(texel) > 2 * (green(texel) + 10), standing.vehicle == &out || standing.vehicle == &player)
            << row << " " << std::hex << texel;
        const std::wstring value = standing.value->text();
        EXPECT_EQ(value, standing.vehicle == &winner ? L"03:21.23" : L"-") << row;
    }
    EXPECT_NE(&racing, &winner);
    menu.releaseScreens();
    out.parkingSlot = nullptr;
}

// At the quit the menu's screens go before the device, which then frees
// every render target: nothing of the screens' blur may be left for the menu
// to release after that, whichever screen made it last.
TEST_F(RaceScreensDevice, TheQuitLeavesNoBlurOfTheScreensForAfterTheDevice)
{
    const struct
    {
        const char* road;
        std::function<void()> walk;
    } roads[] = {
        {"the control screen opened from the pause",
         [&] {
             world.race.phase = 3;
             menu.onKeyPause();
             ASSERT_NE(menu.pauseScreen, nullptr);
             static_cast<GameMenu::Pause&>(*menu.pauseScreen).focusValue = GameMenu::Pause::controlValue;
             menu.onKeyConfirm();
             ASSERT_EQ(menu.menuState, GameMenu::controlState);
             ASSERT_NE(static_cast<GameMenu::Control*>(menu.controlScreen)->titleText, nullptr);
         }},
        {"the results of a finished race",
         [&] {
             addVehicle(1, true);
             addVehicle(2, false);
             world.race.phase = 4;
             menu.onRaceFinished();
             ASSERT_NE(menu.raceResultsScreen, nullptr);
         }},
    };
    for (const auto& r : roads) {
        SCOPED_TRACE(r.road);
        menu.menuState = GameMenu::noScreen;
        r.walk();
        if (HasFatalFailure())
            return;
        frame();
        frame();
        ASSERT_NE(menu.smoothTarget, nullptr);
        ASSERT_NE(menu.smooth.first, nullptr);
        // The quit's order: the menu's sounds and screens, later the device.
        menu.releaseSounds();
        EXPECT_EQ(menu.smoothTarget, nullptr);
        EXPECT_EQ(menu.smooth.first, nullptr);
        EXPECT_EQ(menu.smooth.second, nullptr);
        EXPECT_EQ(menu.smooth.vertexBuffer, nullptr);
        EXPECT_EQ(menu.smooth.indexBuffer, nullptr);
    }
}

// The game over's blurred background follows the scene every frame, and
// after a device reset takes the smoothing's new picture.
TEST_F(RaceScreensDevice, TheGameOverBackgroundFollowsTheSceneAlsoAfterAReset)
{
    menu.menuState = GameMenu::gameOverState;
    auto* over = new GameMenu::GameOver(menu);
    menu.gameOverScreen = over;
    over->enter(GameMenu::noScreen);
    ASSERT_NE(over->titleText, nullptr);
    ASSERT_NE(menu.smoothTarget, nullptr);
    over->opacity = 1.0f;
    over->colour.a = 255;
    over->fadeMode = UserInterface::Widget::fadeNone;
    const auto background = [](const Level& pixels) { return pixels.at(4, height - 20); };
    frame();
    const uint32_t first = background(frame());
    EXPECT_GT(red(first), 90) << std::hex << first;
    EXPECT_LT(blue(first), 30) << std::hex << first;

    sceneColour = 0xFF0000FF;
    frame();
    const uint32_t followed = background(frame());
    EXPECT_GT(blue(followed), 90) << std::hex << followed;
    EXPECT_LT(red(followed), 30) << std::hex << followed;

    D3D::Device::reset(gDirectGraphics.record, nullptr);
    menu.onDeviceReset();
    EXPECT_EQ(over->backgroundRefresh, 1u);
    frame();
    const uint32_t afterReset = background(frame());
    EXPECT_EQ(over->backgroundRefresh, 0u);
    EXPECT_GT(blue(afterReset), 90) << std::hex << afterReset;
    EXPECT_LT(red(afterReset), 30) << std::hex << afterReset;
    menu.releaseScreens();
}

// The transition draws through the camera's own view and projection with
// culling and blending off, and gives the device back as it found it.
TEST_F(RaceScreensDevice, TheTransitionGivesBackTheTransformsAndStatesItFound)
{
    client->afterScene = nullptr;
    TextureRef picture = makeTexture(32, 32, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0xFF808080u; });
    GameMenu::DisperseScreen transition(menu, 0, picture);
    D3DMATRIX view{}, projection{};
    for (int i = 0; i < 16; ++i) {
        (&view._11)[i] = float(i + 1);
        (&projection._11)[i] = float(2 * i + 3);
    }
    chain().beginFrame();
    gDevice->SetTransform(D3DTS_VIEW, &view);
    gDevice->SetTransform(D3DTS_PROJECTION, &projection);
    gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    gDevice->BeginScene();
    transition.draw();
    gDevice->EndScene();
    D3DMATRIX viewAfter{}, projectionAfter{};
    gDevice->GetTransform(D3DTS_VIEW, &viewAfter);
    gDevice->GetTransform(D3DTS_PROJECTION, &projectionAfter);
    EXPECT_EQ(std::memcmp(&viewAfter, &view, sizeof(view)), 0);
    EXPECT_EQ(std::memcmp(&projectionAfter, &projection, sizeof(projection)), 0);
    DWORD cull = 0, blend = 0;
    gDevice->GetRenderState(D3DRS_CULLMODE, &cull);
    gDevice->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    EXPECT_EQ(cull, DWORD(D3DCULL_CW));
    EXPECT_EQ(blend, DWORD(TRUE));
    chain().present();
    gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
}

TEST_F(RaceScreensDevice, TheTransitionsFirstFrameShowsItsPictureUnchanged)
{
    client->afterScene = nullptr;
    const auto texel = [](uint32_t x, uint32_t y) {
        return 0xFF000000u | (x * 255 / (width - 1)) << 16 | (y * 255 / (height - 1)) << 8 | 0x40u;
    };
    TextureRef picture = makeTexture(width, height, D3DFMT_A8R8G8B8, texel);
    std::srand(56);
    menu.disperseScreen = new GameMenu::DisperseScreen(menu, 0, picture);
    const Level pixels = frame();
    int wrong = 0, sampled = 0;
    for (uint32_t y = 5; y < height; y += 10)
        for (uint32_t x = 5; x < width; x += 10, ++sampled) {
            const uint32_t got = pixels.at(x, y), want = texel(x, y);
            const int dr = int(red(got)) - int(red(want)), dg = int(green(got)) - int(green(want));
            wrong += std::abs(dr) > 6 || std::abs(dg) > 6;
        }
    EXPECT_LT(wrong, sampled / 100) << wrong << " of " << sampled;
    // The turn goes on and ends: the menu deletes the finished transition.
    for (int i = 0; i < 400 && menu.disperseScreen; ++i) {
        MenuStandIn::clockNow += 100;
        gFrameFactor.store(4.0f);
        frame();
    }
    gFrameFactor.store(1.0f);
    EXPECT_EQ(menu.disperseScreen, nullptr);
}
