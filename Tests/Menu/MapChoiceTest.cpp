// The map choice and the country choice over map folders the tests write,
// and the level heads they read, whole, cut and mutated.
#include "MenuMapFolder.h"
#include "MenuSoundProbe.h"
#include "MenuTestSupport.h"

#include "Menu/GameMenuButton.h"
#include "Menu/GameMenuChooseCountry.h"
#include "Menu/GameMenuChooseMap.h"
#include "Menu/GameMenuGameMode.h"

#include "MenuSamples.h"

#include "Landscape/Scene.h"
#include "Race/GameMapInfo.h"

#include "Core/Directory.h"
#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

std::vector<std::wstring> listed(const SCList<GameMenu::ChooseMap::Map>& list)
{
    std::vector<std::wstring> out;
    for (auto* node = list.head(); node; node = node->next)
        out.push_back(node->item->name.text());
    return out;
}

// The level files of a folder in the order the folder lists them.
std::vector<std::wstring> listing(const MenuMaps::Folder& folder)
{
    std::vector<std::wstring> out;
    Directory d(folder.string(), false);
    d.list();
    for (auto* node = d.files.head(); node; node = node->next)
        out.push_back(node->item->name.text());
    return out;
}

class MapChoice : public testing::Test
{
protected:
    MapChoice() : application(folder) {}
    void SetUp() override { gFrameFactor = 1.0f; }

    GameMenu::ChooseMap& screen()
    {
        auto* s = dynamic_cast<GameMenu::ChooseMap*>(menu.createChooseMap());
        EXPECT_NE(s, nullptr);
        return *s;
    }

    MenuMaps::Folder folder{L"KorvantaMapChoice"};
    MenuMaps::Application application;
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene, &application};
    SoundProbe sounds{menu};
};

}

TEST_F(MapChoice, TheFolderIsListedByKindAndTheChoiceLeadsOn)
{
    ASSERT_TRUE(folder.level(L"a.tee", L"Alpha", L"DE", 1));
    ASSERT_TRUE(folder.level(L"b.TEE", L"Beta", L"DE", 2));
    ASSERT_TRUE(folder.level(L"c.tee", L"Gamma", L"FR", 3));
    ASSERT_TRUE(folder.level(L"d.tee", L"Delta", L"FR", 4));
    ASSERT_TRUE(folder.level(L"e.tee", L"Echo", L"FR", 1));
    ASSERT_TRUE(folder.level(L"f.txt", L"Foxtrot", L"FR", 1));
    ASSERT_TRUE(folder.level(L"h.xee", L"Hotel", L"FR", 1));
    ASSERT_TRUE(folder.raw(L"g.tee", {0x76, 0x31, 0x2E, 0x30, 0x01, 0x00, 0x00}));
    GameMenu::ChooseMap& choice = screen();
    menu.openScreen(GameMenu::chooseMapState);
    sounds.mark();
    ASSERT_NE(choice.title, nullptr);
    std::vector<std::wstring> offRoad, offRoadFiles;
    for (const std::wstring& file : listing(folder))
        if (file == L"a.tee" || file == L"e.tee") {
            offRoad.push_back(file == L"a.tee" ? L"Alpha" : L"Echo");
            offRoadFiles.push_back(file);
        }
    EXPECT_EQ(listed(choice.lists[0]), offRoad);
    EXPECT_EQ(listed(choice.lists[1]), std::vector<std::wstring>{L"Beta"}) << "capitals count";
    EXPECT_EQ(listed(choice.lists[2]), std::vector<std::wstring>{L"Gamma"});

    // Left at the first map stays, silently; right moves with sound 0.
    sounds.mark();
    choice.onKeyLeft();
    EXPECT_EQ(choice.selected[0], 0);
    EXPECT_EQ(sounds.last(), -1);
    choice.onKeyRight();
    EXPECT_EQ(choice.selected[0], 1);
    EXPECT_EQ(sounds.last(), 0);
    sounds.mark();
    choice.onKeyRight();
    EXPECT_EQ(choice.selected[0], 1);
    EXPECT_EQ(sounds.last(), -1);
    // Each kind keeps its own selection.
    choice.onKeyDown();
    EXPECT_EQ(choice.kind, GameMenu::ChooseMap::raceTrack);
    EXPECT_EQ(choice.selected[1], 0);
    choice.onKeyUp();
    choice.onKeyUp();
    EXPECT_EQ(choice.kind, GameMenu::ChooseMap::offRoad);
    EXPECT_EQ(choice.selected[0], 1);

    // The daytime steps within Day and Sunset once the focus is on it.
    choice.onKeyConfirm();
    EXPECT_EQ(choice.focus, 1);
    choice.onKeyLeft();
    EXPECT_EQ(choice.daytime, GameMenu::ChooseMap::day);
    choice.onKeyRight();
    choice.onKeyRight();
    choice.onKeyRight();
    EXPECT_EQ(choice.daytime, GameMenu::ChooseMap::sunset);
    choice.onKeyBack();
    EXPECT_EQ(choice.focus, 0);
    EXPECT_EQ(choice.done, 0u);
    choice.onKeyConfirm();
    choice.onKeyConfirm();
    EXPECT_EQ(choice.done, 1u);
    EXPECT_EQ(choice.nextScreen(), GameMenu::gameModeState);
    EXPECT_EQ(choice.lists[0].count(), 0) << "the tiles go";
    GameMenu::Menu::Selection selection;
    choice.readSelection(selection);
    EXPECT_EQ(std::wstring(selection.mapName.text()), folder.path + offRoadFiles[1]);
    EXPECT_EQ(selection.trackKind, 9);
    EXPECT_EQ(selection.daytime, 15);
}

TEST_F(MapChoice, AnEmptyFolderStillLeadsOnWithAnEmptyName)
{
    GameMenu::ChooseMap& choice = screen();
    menu.openScreen(GameMenu::chooseMapState);
    sounds.mark();
    for (auto& list : choice.lists)
        EXPECT_EQ(list.count(), 0);
    sounds.mark();
    choice.onKeyRight();
    EXPECT_EQ(choice.selected[0], 0);
    EXPECT_EQ(sounds.last(), -1);
    choice.onKeyConfirm();
    choice.onKeyConfirm();
    EXPECT_EQ(choice.nextScreen(), GameMenu::gameModeState);
    EXPECT_EQ(choice.getSelectedMapName().length(), 0);
    // Back from the kinds leads to the main screen.
    choice.reset();
    choice.enter(GameMenu::noScreen);
    choice.onKeyBack();
    EXPECT_EQ(choice.nextScreen(), GameMenu::mainState);
    // Entered again after going back, a choice leads on to the game mode.
    choice.reset();
    choice.enter(GameMenu::noScreen);
    choice.onKeyConfirm();
    choice.onKeyConfirm();
    EXPECT_EQ(choice.done, 1u);
    EXPECT_EQ(choice.nextScreen(), GameMenu::gameModeState);
}

TEST_F(MapChoice, TheLogoStaysAboveTheListsOfTheMapChoiceAndTheGameMode)
{
    // The logo is shown stretched over 300 x 300; its image is clear below
    // its lowest visible row.
    const ImageFileWriter::Image logo = MenuSamples::logo();
    uint32_t lowest = 0;
    for (uint32_t y = 0; y < logo.height; ++y)
        for (uint32_t x = 0; x < logo.width; ++x)
            if (logo.argb[size_t(y) * logo.width + x] >> 24)
                lowest = y;
    GameMenu::ChooseMap& choice = screen();
    menu.openScreen(GameMenu::chooseMapState);
    ASSERT_NE(menu.logoPanel, nullptr);
    const int32_t logoBottom = menu.logoPanel->y + int32_t(std::ceil((lowest + 1) * 300.0 / logo.height));
    ASSERT_NE(choice.tabs[0], nullptr);
    EXPECT_LT(logoBottom, choice.tabs[0]->y);
    // The tabs stand lowest on the smallest screens: never above 250.
    EXPECT_LT(logoBottom, 250);
    auto* mode = dynamic_cast<GameMenu::GameMode*>(menu.createGameMode());
    ASSERT_NE(mode, nullptr);
    mode->enter(GameMenu::noScreen);
    mode->update();
    ASSERT_NE(mode->labels[0], nullptr);
    EXPECT_LT(logoBottom, mode->labels[0]->y);
}

TEST_F(MapChoice, TilesGlideAlongTheCurveAndOnlyNearOnesShow)
{
    for (int i = 0; i < 5; ++i) {
        const std::wstring name = L"Map" + std::to_wstring(i);
        ASSERT_TRUE(folder.level((name + L".tee").c_str(), name.c_str(), L"IT", 1));
    }
    ASSERT_TRUE(folder.level(L"Track.tee", L"Track", L"IT", 2));
    GameMenu::ChooseMap& choice = screen();
    menu.openScreen(GameMenu::chooseMapState);
    sounds.mark();
    // 1024 x 768 without a device: the origin is (487, 259).
    using Map = GameMenu::ChooseMap::Map;
    const Map::Placement centre = Map::placement(487, 259, 0.0f, 0.0f, 0, 0);
    EXPECT_EQ(centre.x, 487);
    EXPECT_EQ(centre.y, 259);
    EXPECT_EQ(centre.width, 250);
    EXPECT_EQ(centre.height, 150);
    EXPECT_FLOAT_EQ(centre.brightness, 1.0f);
    const float pi = 3.14159265f;
    const Map::Placement beside = Map::placement(487, 259, 1.0f, 0.0f, 1, 0);
    const float s = std::cos(pi / 10.0f);
    EXPECT_EQ(beside.width, int32_t(250.0f * s));
    EXPECT_EQ(beside.height, int32_t(float(beside.width) / (5.0f / 3.0f)));
    EXPECT_EQ(beside.x, 487 + int32_t(std::sin(pi / 5.0f) * 280.0f));
    EXPECT_EQ(beside.y, 259 + (150 - beside.height) / 2);
    EXPECT_FLOAT_EQ(beside.brightness, 1.0f - std::pow(0.2f, 0.25f));
    const Map::Placement below = Map::placement(487, 259, 0.0f, 1.0f, 0, 1);
    EXPECT_EQ(below.y, 259 + int32_t(std::sin(pi / 10.0f) * 600.0f) + (150 - below.height) / 2);

    // Snapped on entering: the selected tile at the origin, tiles three or
    // more places away hidden, the race track's row one below.
    int32_t i = 0;
    for (auto* node = choice.lists[0].head(); node; node = node->next, ++i) {
        EXPECT_EQ(node->item->enabled, i < 3 ? 1u : 0u) << i;
        EXPECT_FLOAT_EQ(node->item->px, float(i));
    }
    EXPECT_EQ(choice.lists[0].head()->item->x, 487);
    EXPECT_FLOAT_EQ(choice.lists[1].head()->item->py, 1.0f);
    struct Tile
    {
        const Map* tile;
        Map::Placement want;
    };
    const Tile tiles[] = {{choice.lists[0].head()->item, centre}, {choice.lists[0].head()->next->item, beside}};
    for (const Tile& t : tiles) {
        EXPECT_EQ(t.tile->x, t.want.x);
        EXPECT_EQ(t.tile->y, t.want.y);
        EXPECT_FLOAT_EQ(t.tile->textureWidth, float(t.want.width));
        EXPECT_FLOAT_EQ(t.tile->textureHeight, float(t.want.height));
        const uint8_t grey = uint8_t(t.want.brightness * 255.0f);
        EXPECT_EQ(t.tile->colour, Color(grey, grey, grey, 255));
    }
    // A frame eases a tenth of the way.
    choice.onKeyRight();
    choice.layout(false);
    EXPECT_FLOAT_EQ(choice.lists[0].head()->item->px, -0.1f);
    EXPECT_EQ(choice.lists[0].head()->item->layer, 2);
    choice.close();
}

// The kinds' rows above the chosen one would slide under "Select map": at
// each window size and for each kind, a tile that would reach up into the
// title is hidden, and the chosen kind's selected tile shows.
TEST_F(MapChoice, NoTileReachesUpIntoTheTitle)
{
    for (int kind = 1; kind <= 3; ++kind)
        for (int i = 0; i < 2; ++i) {
            const std::wstring name = L"Map" + std::to_wstring(kind) + std::to_wstring(i);
            ASSERT_TRUE(folder.level((name + L".tee").c_str(), name.c_str(), L"IT", kind));
        }
    // A title face as tall as the game's 40-point face.
    const auto titleFace = MenuTest::fakeFace([](wchar_t c) { return c >= 32 ? 20 : -1; }, 46.0f);
    menu.fonts[GameMenu::titleFont] = titleFace.get();
    const auto chain = MenuTest::listOnlyChain();
    scene.swapChain = chain.get();
    GameMenu::ChooseMap& choice = screen();
    menu.openScreen(GameMenu::chooseMapState);
    struct Size
    {
        uint32_t width, height;
    };
    int hidden = 0;
    for (const Size size : {Size{640, 480}, Size{800, 600}, Size{1024, 768}})
        for (int32_t kind : {9, 10, 11}) {
            SCOPED_TRACE(testing::Message() << size.width << " x " << size.height << ", kind " << kind);
            chain->presentParameters.BackBufferWidth = size.width;
            chain->presentParameters.BackBufferHeight = size.height;
            choice.kind = kind;
            choice.layout(true);
            const int32_t titleBottom = choice.title->y + choice.title->getSize().height;
            ASSERT_GT(titleBottom, choice.title->y);
            for (int32_t k = 0; k < 3; ++k)
                for (auto* node = choice.lists[k].head(); node; node = node->next) {
                    const GameMenu::ChooseMap::Map& tile = *node->item;
                    if (!tile.enabled) {
                        ++hidden;
                        continue;
                    }
                    EXPECT_GE(tile.y, titleBottom) << "list " << k;
                    EXPECT_EQ(tile.nameText ? tile.nameText->enabled : 1u, 1u);
                }
            const GameMenu::ChooseMap::Map& chosen = *choice.lists[kind - 9].head()->item;
            EXPECT_EQ(chosen.enabled, 1u) << "the chosen kind's map shows";
        }
    EXPECT_GT(hidden, 0);
    // Closed, the screen holds no widget, and a second close deletes none
    // again.
    const int32_t listed = chain->userInterface->widgets.count();
    choice.close();
    EXPECT_EQ(choice.title, nullptr);
    EXPECT_EQ(choice.daytimeControl, nullptr);
    EXPECT_EQ(choice.daytimeLabel, nullptr);
    for (GameMenu::Button* tab : choice.tabs)
        EXPECT_EQ(tab, nullptr);
    EXPECT_LT(chain->userInterface->widgets.count(), listed);
    choice.close();
    scene.swapChain = nullptr;
    menu.fonts[GameMenu::titleFont] = nullptr;
}

TEST(MapHeads, CutAndMutatedHeadsGiveCleanTilesAndRecords)
{
    MenuMaps::Folder folder(L"KorvantaMapHeads");
    ASSERT_TRUE(folder.level(L"whole.tee", L"Whole", L"DE", 2));
    std::vector<uint8_t> whole;
    {
        HANDLE h = CreateFileW((folder.path + L"whole.tee").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        whole.resize(GetFileSize(h, nullptr));
        DWORD read = 0;
        ReadFile(h, whole.data(), DWORD(whole.size()), &read, nullptr);
        CloseHandle(h);
    }
    ASSERT_GT(whole.size(), 40u);
    MenuMaps::Application application(folder);
    Scene scene(String(L"Korvanta"), 3500.0f);
    GameMenu menu(&scene, &application);
    auto* choice = dynamic_cast<GameMenu::ChooseMap*>(menu.createChooseMap());
    ASSERT_NE(choice, nullptr);
    const String path = String((folder.path + L"fuzz.tee").c_str());

    auto check = [&](const std::vector<uint8_t>& bytes, const std::string& what) {
        ASSERT_TRUE(folder.raw(L"fuzz.tee", bytes));
        Game::MapInfo info;
        info.load(scene, path);
        EXPECT_LE(info.name.length(), int32_t(bytes.size())) << what;
        EXPECT_LE(info.countryCode.length(), int32_t(bytes.size())) << what;
        GameMenu::ChooseMap::Map tile(*choice, path);
        EXPECT_EQ(tile.mapKind, info.mapKind) << what;
        EXPECT_EQ(std::wstring(tile.name.text()), std::wstring(info.name.text())) << what;
    };
    // Cut at every length.
    for (size_t n = 0; n <= whole.size(); ++n)
        check(std::vector<uint8_t>(whole.begin(), whole.begin() + std::ptrdiff_t(n)), "cut " + std::to_string(n));
    // Mutated heads, fixed seed: lengths and kinds of any value.
    std::srand(55);
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> bytes = whole;
        const int changes = 1 + std::rand() % 6;
        for (int c = 0; c < changes; ++c)
            bytes[size_t(std::rand()) % bytes.size()] = uint8_t(std::rand() % 256);
        check(bytes, "round " + std::to_string(round));
    }
    // The whole head reads back.
    ASSERT_TRUE(folder.raw(L"fuzz.tee", whole));
    Game::MapInfo info;
    EXPECT_TRUE(info.load(scene, path));
    EXPECT_EQ(std::wstring(info.name.text()), L"Whole");
    EXPECT_EQ(std::wstring(info.countryCode.text()), L"DE");
    EXPECT_EQ(info.mapKind, 2);
    // A file that is not there gives an empty record, not the last one's.
    Game::MapInfo missing;
    EXPECT_FALSE(missing.load(scene, String((folder.path + L"missing.tee").c_str())));
    EXPECT_EQ(missing.name.length(), 0);
    EXPECT_EQ(missing.mapKind, 0);
}
