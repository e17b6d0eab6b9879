#pragma once
// What the tests of the race screens share: a menu over a widget list
// without a device at 1024 x 768, faces of fixed glyph widths, the English
// texts, the race clock, a world whose race logic the test fills with
// vehicles, records and progress, and the application's settings.
#include "MenuStandIns.h"
#include "MenuTestSupport.h"

#include "Menu/GameMenuText.h"

#include "Application/LanguageSetup.h"
#include "Landscape/Scene.h"
#include "Race/GameVehicle.h"
#include "Render/SwapChain.h"

#include "Core/Language.h"

#include <gtest/gtest.h>

#include <string>

namespace RaceScreenTest {

// The world of a loaded map: name, country code, tour words and the
// scene's pause, recorded.
class World : public MenuStandIn::World
{
public:
    String mapName() override { return map; }
    String countryCode() override { return code; }
    uint32_t tour(int32_t which) override { return tours[which ? 1 : 0]; }
    void pauseScene() override { MenuStandIn::calls.push_back("world:pause"); }
    void resumeScene() override { MenuStandIn::calls.push_back("world:resume"); }

    String map{L"Grönland"};
    String code{L"DE"};
    uint32_t tours[2] = {};
};

// The application's settings: the nickname and the colour bytes (blue,
// green, red, alpha), and the cursor, recorded.
class Application : public MenuStandIn::Application
{
public:
    String* getSettingName() override { return &name; }
    uint8_t* getSettingChar() override { return colour; }

    String name{L"Rider"};
    uint8_t colour[4] = {10, 20, 30, 255};
};

class RaceScreens : public testing::Test
{
protected:
    void SetUp() override
    {
        MenuStandIn::calls.clear();
        resize(1024, 768);
        scene.swapChain = chain.get();
        for (auto*& font : menu.fonts)
            font = face.get();
        menu.world = &world;
        LanguageSetup::run(language, nullptr, 0x0409);
        previousLanguage = gLanguage;
        gLanguage = &language;
    }
    void TearDown() override
    {
        menu.releaseScreens();
        gLanguage = previousLanguage;
        scene.swapChain = nullptr;
    }

    void resize(uint32_t width, uint32_t height)
    {
        chain->presentParameters.BackBufferWidth = width;
        chain->presentParameters.BackBufferHeight = height;
        chain->setProjection({int32_t(width), int32_t(height)});
        chain->Camera::update();
    }
    // A vehicle of the race at the end of the list.
    Game::Vehicle& addVehicle(int32_t place, bool player = false)
    {
        const uint32_t slot = uint32_t(world.race.vehicles.count());
        auto* vehicle = new Game::Vehicle(&world.race, nullptr, slot);
        vehicle->place = place;
        vehicle->isPlayer = player ? 1 : 0;
        world.race.vehicles.append(vehicle);
        return *vehicle;
    }
    // An off-road race of the player's quad alone, over, and no screen
    // showing.
    void raceOver()
    {
        world.race.choice.gameMode = Game::OffRoadRace;
        addVehicle(1, true);
        world.race.phase = 4;
        menu.menuState = GameMenu::noScreen;
    }
    // A championship race of the country "DE" with its progress record.
    Game::ChampionshipEntry& championship(int32_t mode)
    {
        world.race.choice.gameMode = mode;
        world.race.choice.championship = 1;
        world.race.choice.championshipKey[0] = 'D';
        world.race.choice.championshipKey[1] = 'E';
        return *world.race.findChampionshipEntry('D', 'E');
    }
    // Menu sounds asked for since the last call, as "0 1 2" counts.
    std::string sounds()
    {
        std::string out;
        for (int i = 0; i < 3; ++i) {
            out += (i ? " " : "") + std::to_string(menu.soundCounts[i] - counted[i]);
            counted[i] = menu.soundCounts[i];
        }
        return out;
    }
    static std::wstring textOf(UserInterface::Text* text) { return text ? text->text() : L"(none)"; }

    std::unique_ptr<D3D::Device::SwapChain> chain = MenuTest::listOnlyChain();
    Scene scene{String(L"Korvanta"), 3500.0f};
    Application app;
    GameMenu menu{&scene, &app};
    World world;
    std::unique_ptr<UserInterface::UIFont::Face> face =
        MenuTest::fakeFace([](wchar_t c) { return c >= 32 ? 10 : -1; }, 20.0f, 0x25FF);
    Language language;
    Language* previousLanguage = nullptr;
    uint32_t counted[3] = {};
    MenuStandIn::Clock clock{1000};
};

}
