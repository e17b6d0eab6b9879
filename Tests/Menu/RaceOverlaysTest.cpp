// The overlays around a race without a device: the map preview's layout,
// texts and closing, the congratulation's closing, and the disperse
// transition's tiles.
#include "RaceScreensSupport.h"

#include "Menu/GameMenuDisperse.h"
#include "Menu/GameMenuOverlays.h"

#include <cmath>
#include <cstdlib>
#include <cwchar>

using namespace RaceScreenTest;
using MenuStandIn::calls;
using MenuStandIn::clockNow;

namespace {

using Overlays = RaceScreens;

struct Box
{
    int32_t x, y, w, h;
};

Box boxOf(const UserInterface::Panel* panel)
{
    return {panel->x, panel->y, int32_t(panel->textureWidth), int32_t(panel->textureHeight)};
}

bool operator==(const Box& a, const Box& b)
{
    return a.x == b.x && a.y == b.y && a.w == b.w && a.h == b.h;
}

std::ostream& operator<<(std::ostream& out, const Box& b)
{
    return out << "(" << b.x << ", " << b.y << ", " << b.w << " x " << b.h << ")";
}

int32_t widthOf(UserInterface::Text* text)
{
    return GameMenuOverlay::measure(*text).width;
}

int32_t heightOf(UserInterface::Text* text)
{
    return GameMenuOverlay::measure(*text).height;
}

}

TEST_F(Overlays, TheTitleIsUpperCasedByTheInvariantTable)
{
    struct Case
    {
        const wchar_t* text;
        const wchar_t* upper;
    };
    const Case cases[] = {{L"Grönland", L"GRÖNLAND"}, {L"istanbul", L"ISTANBUL"}, {L"", L""}, {L"Æble-ø 2", L"ÆBLE-Ø 2"}};
    for (const Case& c : cases)
        EXPECT_EQ(std::wstring(GameMenuOverlay::upperCase(String(c.text)).text()), c.upper) << c.upper;
}

TEST_F(Overlays, ThePreviewLaysItselfOutFromTheBackBufferSize)
{
    struct Case
    {
        uint32_t width, height;
        bool championship;
    };
    const Case cases[] = {{1024, 768, false}, {1280, 1024, false}, {1024, 768, true}, {1280, 1024, true}};
    for (const Case& c : cases) {
        resize(c.width, c.height);
        world.race.choice = RaceChoice{};
        world.race.choice.gameMode = Game::OffRoadRace;
        world.race.choice.goal = 3;
        if (c.championship)
            championship(Game::OffRoadRace);
        GameMenu::MapPreview preview(menu);
        const int32_t W = int32_t(c.width), H = int32_t(c.height), a = W >> 4, b = H >> 5;
        SCOPED_TRACE(testing::Message() << W << " x " << H << (c.championship ? " championship" : " solo"));
        EXPECT_EQ(textOf(preview.titleText), L"GRÖNLAND - DEUTSCHLAND");
        EXPECT_EQ(textOf(preview.modeText), L"OFF-ROAD RACE");
        EXPECT_EQ(textOf(preview.goalText), L"LAPS: 3");
        EXPECT_EQ(boxOf(preview.titleBar), (Box{a, b, 14 * a, 3 * b}));
        EXPECT_EQ(preview.titleText->x, a + ((14 * a - widthOf(preview.titleText)) >> 1));
        EXPECT_EQ(preview.titleText->y, b + ((3 * b - heightOf(preview.titleText)) >> 1));
        EXPECT_EQ(boxOf(preview.modeBar), (Box{a, b + 3 * b + (H >> 6), 14 * a, 2 * b}));
        EXPECT_EQ(preview.modeText->x, a + 10);
        EXPECT_EQ(preview.goalText->x, a + 14 * a - widthOf(preview.goalText) - 10);
        const int32_t goalW = 7 * (W >> 5);
        EXPECT_EQ(boxOf(preview.goalBox), (Box{W - goalW - a, H - 5 * b, goalW, c.championship ? 4 * b : 2 * b}));
        const int32_t labelH = heightOf(preview.goalLabel);
        EXPECT_EQ(preview.goalLabel->x, W - goalW - a + ((goalW - widthOf(preview.goalLabel)) >> 1));
        if (!c.championship) {
            EXPECT_EQ(textOf(preview.goalLabel), L"START");
            EXPECT_EQ(preview.goalLabel->y, H - 5 * b + ((2 * b - labelH) >> 1));
            EXPECT_EQ(preview.pointsBox, nullptr);
            EXPECT_EQ(preview.minPlaceText, nullptr);
            continue;
        }
        EXPECT_EQ(textOf(preview.goalLabel), L"MIN");
        EXPECT_EQ(preview.goalLabel->y, H - 5 * b + (4 * b - labelH) / 7);
        EXPECT_EQ(preview.minPlaceText->y, H - 5 * b + 6 * (4 * b - heightOf(preview.minPlaceText)) / 7);
        EXPECT_EQ(boxOf(preview.pointsBox), (Box{a, H - 5 * b, 10 * a, 4 * b}));
        const int32_t h = heightOf(preview.pointsToQualifyLabel);
        EXPECT_EQ(preview.pointsToQualifyLabel->y, H - 5 * b + (4 * b - h) / 7);
        EXPECT_EQ(preview.pointsLabel->y, H - 5 * b + 6 * (4 * b - h) / 7);
        EXPECT_EQ(preview.neededPointsText->x, a + 10 * a - widthOf(preview.neededPointsText) - 10);
        EXPECT_EQ(preview.currentPointsText->y, preview.pointsLabel->y);
    }
}

// Every championship race of each difficulty: the preview, made before the
// race is set up, shows the goal the race is set up with; the first race, a
// KnockOut of six, runs five laps.
TEST_F(Overlays, ThePreviewShowsTheGoalEachChampionshipRaceIsSetUpWith)
{
    for (uint8_t difficulty = 0; difficulty <= 2; ++difficulty)
        for (uint8_t number = 0; number < 7; ++number) {
            SCOPED_TRACE(testing::Message() << "difficulty " << int(difficulty) << ", race " << int(number));
            Game::ChampionshipEntry entry;
            entry.key0 = 'D';
            entry.key1 = 'E';
            entry.difficulty = difficulty;
            entry.raceNumber = number;
            RaceChoice choice;
            Game::makeChampionshipChoice(entry, choice, String(L"Z:\\no maps\\"));
            world.race.applyRaceChoice(choice);
            std::wstring shown;
            {
                GameMenu::MapPreview preview(menu);
                shown = textOf(preview.goalText);
            }
            world.race.phase = 0;
            world.race.setupRace();
            wchar_t expected[64];
            std::swprintf(expected, 64, L"%ls: %i", Game::getModeGoalText(choice.gameMode).text(),
                          int(world.race.choice.goal));
            EXPECT_EQ(shown, expected);
            if (number == 0)
                EXPECT_EQ(shown, L"LAPS: 5");
            world.race.phase = 0;
        }
}

TEST_F(Overlays, ALongTitleShrinksAndThenIsCutToStayInsideItsBar)
{
    // Glyphs of 10 pixels: the bar of 14/16 of the width keeps 12 pixels
    // clear on either side.
    struct Case
    {
        uint32_t width, height;
        int32_t mapLength; // characters of the map's name
        bool shrunk, cut;
    };
    const Case cases[] = {{1024, 768, 8, false, false},  {1024, 768, 60, false, false},
                          {1024, 768, 90, true, false},  {800, 600, 60, true, false},
                          {800, 600, 120, true, true},   {640, 480, 400, true, true}};
    for (const Case& c : cases) {
        resize(c.width, c.height);
        world.map = String(std::wstring(size_t(c.mapLength), L'a').c_str());
        GameMenu::MapPreview preview(menu);
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", " << c.mapLength);
        UserInterface::Text& title = *preview.titleText;
        const int32_t length = c.mapLength + int32_t(std::wcslen(L" - DEUTSCHLAND"));
        ASSERT_EQ(int32_t(textOf(&title).size()), length);
        const int32_t a = int32_t(c.width) >> 4;
        const float drawn = float(widthOf(&title)) * title.scale;
        EXPECT_LE(drawn, float(14 * a - 24));
        EXPECT_EQ(title.scale < 1.0f, c.shrunk);
        EXPECT_GE(title.scale, 0.6f);
        // Cut: fewer characters drawn, the last three of them full stops.
        EXPECT_EQ(title.charCount < length, c.cut);
        if (c.cut)
            EXPECT_GT(drawn, float(14 * a - 24 - 40));
        // Centred in the bar as drawn.
        EXPECT_NEAR(float(title.x) + float(widthOf(&title)) * 0.5f, float(a + 7 * a), 1.0f);
    }
    // The same preview laid out again at another size fits its title again.
    resize(800, 600);
    world.map = String(std::wstring(70, L'a').c_str());
    GameMenu::MapPreview preview(menu);
    EXPECT_LT(preview.titleText->scale, 1.0f);
    resize(1280, 1024);
    preview.layout();
    EXPECT_EQ(preview.titleText->scale, 1.0f);
    EXPECT_EQ(preview.titleText->charCount, 70 + 14);
}

TEST_F(Overlays, TheChampionshipBoxShowsThePointsAndTheWorstPlaceThatStillQualifies)
{
    struct Case
    {
        bool record;
        int32_t raceNumber;
        int32_t pointsAboveNeeded; // the player's points minus the needed ones
        const wchar_t* place;
    };
    const Case cases[] = {{true, 3, 0, L"-"},   {true, 3, 5, L"-"},   {true, 6, -100, L"1."},
                          {true, 3, -1, L"6."}, {true, 3, -16, L"1."}, {false, 0, 0, L""}};
    world.race.choice.difficulty = 2;
    for (const Case& c : cases) {
        world.race.choice.championship = 1;
        world.race.choice.championshipKey[0] = 'D';
        world.race.choice.championshipKey[1] = 'E';
        Game::ChampionshipEntry* entry = c.record ? world.race.findChampionshipEntry('D', 'E') : nullptr;
        const int32_t needed = world.race.getNeededPoints(c.raceNumber);
        if (entry) {
            entry->raceNumber = uint8_t(c.raceNumber);
            entry->points[0] = uint8_t(std::max(0, needed + c.pointsAboveNeeded));
        } else {
            world.race.choice.championshipKey[0] = 'X';
        }
        GameMenu::MapPreview preview(menu);
        EXPECT_EQ(textOf(preview.minPlaceText), c.place) << c.raceNumber << " " << c.pointsAboveNeeded;
        EXPECT_EQ(textOf(preview.neededPointsText), std::to_wstring(needed));
        EXPECT_EQ(textOf(preview.currentPointsText), std::to_wstring(entry ? int32_t(entry->points[0]) : 0));
        if (entry)
            *entry = Game::ChampionshipEntry{};
    }
    // Reading the record claims none.
    for (const Game::ChampionshipEntry& record : world.race.championshipTable)
        EXPECT_EQ(record.key0, 0);
}

TEST_F(Overlays, ThePreviewClosesOnceAfterThirtySecondsOrAKeyAndPulsesItsLabels)
{
    GameMenu::MapPreview preview(menu);
    EXPECT_EQ(preview.closeDeadline, 1000u + 30000u);
    clockNow = 31000;
    preview.update();
    EXPECT_FALSE(preview.closing);
    EXPECT_EQ(preview.goalLabel->colour, Color(255, 255, 255, 255));
    clockNow = 31001;
    preview.update();
    EXPECT_TRUE(preview.closing);
    EXPECT_EQ(preview.closeDeadline, 31001u + 2000u);
    EXPECT_EQ(sounds(), "0 1 0");
    ASSERT_NE(menu.disperseScreen, nullptr);
    EXPECT_EQ(static_cast<GameMenu::DisperseScreen*>(menu.disperseScreen)->direction, 1);
    EXPECT_NE(preview.goalLabel->colour, Color(255, 255, 255, 255));
    // A second close changes nothing.
    GameMenu::Overlay* transition = menu.disperseScreen;
    clockNow = 32000;
    preview.beginClose();
    EXPECT_EQ(preview.closeDeadline, 33001u);
    EXPECT_EQ(menu.disperseScreen, transition);
    EXPECT_EQ(sounds(), "0 0 0");
    EXPECT_FALSE(preview.closeDue(33001));
    EXPECT_TRUE(preview.closeDue(33002));
}

TEST_F(Overlays, ThePreviewGoesAfterTwoSecondsAndTheTransitionInEitherOrderThenTheRaceIsSetUp)
{
    struct Case
    {
        uint32_t transitionEnds; // ms after the key
        bool gone;               // the transition deleted when it ended
        uint32_t setUpAt;        // the first frame without the preview
    };
    // Frames every 500 ms after the key at 2000; the preview may go after 4000.
    const Case cases[] = {{1000, true, 4500}, {1000, false, 4500}, {3000, false, 5000}, {3000, true, 5000}};
    for (const Case& c : cases) {
        calls.clear();
        clockNow = 1000;
        menu.mapPreviewScreen = new GameMenu::MapPreview(menu);
        clockNow = 2000;
        menu.mapPreviewScreen->beginClose();
        auto* transition = static_cast<GameMenu::DisperseScreen*>(menu.disperseScreen);
        ASSERT_NE(transition, nullptr);
        uint32_t setUp = 0;
        for (uint32_t t = 2500; t <= 7000 && !setUp; t += 500) {
            clockNow = t;
            if (menu.disperseScreen && t - 2000 >= c.transitionEnds)
                transition->finishedFlag = 1;
            if (c.gone && menu.disperseScreen && transition->finishedFlag) {
                delete menu.disperseScreen;
                menu.disperseScreen = nullptr;
            }
            menu.update();
            if (!menu.mapPreviewScreen)
                setUp = t;
        }
        EXPECT_EQ(setUp, c.setUpAt) << c.transitionEnds << (c.gone ? " gone" : "");
        EXPECT_EQ(MenuStandIn::joined(), "world:tour0=0 world:setupRace");
        menu.releaseScreens();
    }
}

TEST_F(Overlays, TheCongratulationClosesOnlyAfterTheTourAndEachPressMovesItsDeadline)
{
    GameMenu::Congratulation overlay(menu);
    EXPECT_EQ(textOf(overlay.congratulationText), L"CONGRATULATIONS");
    const int32_t a = 1024 >> 4, b = 768 >> 5;
    EXPECT_EQ(boxOf(overlay.bottomBar), (Box{a, 768 - 3 * b - b, 14 * a, 3 * b}));
    world.tours[1] = 3;
    overlay.beginClose();
    EXPECT_EQ(overlay.closeDeadline, 0u);
    EXPECT_EQ(menu.disperseScreen, nullptr);
    EXPECT_FALSE(overlay.closeDue(100000));
    world.tours[1] = 4;
    overlay.beginClose();
    EXPECT_EQ(overlay.closeDeadline, 2000u);
    GameMenu::Overlay* transition = menu.disperseScreen;
    ASSERT_NE(transition, nullptr);
    clockNow = 1500;
    overlay.beginClose();
    EXPECT_EQ(overlay.closeDeadline, 2500u);
    EXPECT_EQ(menu.disperseScreen, transition);
    EXPECT_EQ(sounds(), "0 2 0");
    EXPECT_FALSE(overlay.closeDue(2500));
    EXPECT_TRUE(overlay.closeDue(2501));
    // The next frame follows a new back-buffer size.
    resize(1280, 1024);
    overlay.update();
    EXPECT_EQ(boxOf(overlay.topBar), (Box{1280 >> 4, 1024 >> 5, 14 * (1280 >> 4), 3 * (1024 >> 5)}));
}

// The disperse transition.

namespace {

// Where a world point appears on the screen, in pixels.
vec2d project(const Camera& camera, const vec3d& point, float width, float height)
{
    const matrix3d m = camera.view * camera.projection;
    const float x = point.x * m.m[0] + point.y * m.m[4] + point.z * m.m[8] + m.m[12];
    const float y = point.x * m.m[1] + point.y * m.m[5] + point.z * m.m[9] + m.m[13];
    const float w = point.x * m.m[3] + point.y * m.m[7] + point.z * m.m[11] + m.m[15];
    return {(x / w * 0.5f + 0.5f) * width, (0.5f - y / w * 0.5f) * height};
}

}

TEST_F(Overlays, ScreenPointsLieOnThePlaneWhereTheyAreSeen)
{
    chain->position = {12.0f, 40.0f, -7.0f};
    chain->angles = {20.0f, 135.0f, 5.0f};
    chain->setAnglesDeg();
    chain->Camera::update();
    const float corners[3][2] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {0.0f, 1.0f}};
    for (const auto& corner : corners) {
        const vec3d point = GameMenu::DisperseScreen::screenToPlane(*chain, corner[0], corner[1]);
        const vec2d seen = project(*chain, point, 1024.0f, 768.0f);
        EXPECT_NEAR(seen.x, corner[0] * 1024.0f, 0.5f);
        EXPECT_NEAR(seen.y, corner[1] * 768.0f, 0.5f);
        // Two units before the camera.
        EXPECT_NEAR((point - chain->position).dot(chain->forward), 2.0f, 1e-3f);
    }
}

TEST_F(Overlays, TilesStartLaterTheFartherTheyLieFromTheTopRightCorner)
{
    std::srand(56);
    GameMenu::DisperseScreen transition(menu, 0, TextureRef());
    const auto& tile = [&](int32_t column, int32_t row) { return *transition.tiles.at(24 * row + column); };
    const vec3d corner = GameMenu::DisperseScreen::screenToPlane(*chain, 1.0f, 0.0f);
    for (int32_t row = 0; row < 16; row += 5) {
        for (int32_t column = 0; column < 24; column += 7) {
            const vec3d centre = GameMenu::DisperseScreen::screenToPlane(
                *chain, column / 24.0f - 0.5f / 1024.0f + 1.0f / 48.0f, row / 16.0f - 0.5f / 768.0f + 1.0f / 32.0f);
            EXPECT_NEAR(tile(column, row).delay, -0.3f * (centre - corner).length(), 1e-3f);
        }
    }
    for (int32_t column = 0; column < 23; ++column)
        EXPECT_LT(tile(column, 0).delay, tile(column + 1, 0).delay) << column;
    for (int32_t row = 0; row < 15; ++row)
        EXPECT_GT(tile(23, row).delay, tile(23, row + 1).delay) << row;
    // The tile vertices carry the picture's cell.
    const GameMenu::DisperseScreen::Vertex& v = *transition.vertices.at(4 * (24 * 2 + 3) + 3);
    EXPECT_NEAR(v.u, 4.0f / 24.0f - 0.5f / 1024.0f, 1e-6f);
    EXPECT_NEAR(v.v, 3.0f / 16.0f - 0.5f / 768.0f, 1e-6f);
    EXPECT_EQ(*transition.indices.at(6 * 5 + 3), 22);
    EXPECT_EQ(*transition.indices.at(6 * 5 + 5), 23);
}

TEST_F(Overlays, TheTurnRunsFromStartToEndAnglesAndFinishesOneFrameAfterTheLastTile)
{
    std::srand(56);
    for (int32_t direction : {0, 1}) {
        GameMenu::DisperseScreen transition(menu, direction, TextureRef());
        transition.advance(5000, 1.0f);
        int32_t turned = 0;
        for (int32_t i = 0; i < GameMenu::DisperseScreen::tileCount; ++i) {
            const auto& tile = *transition.tiles.at(i);
            float angles[3];
            transition.anglesOf(tile, angles);
            EXPECT_LE(std::fabs(tile.end[2] + tile.start[2]), 360.0f);
            // The first frame: direction 0 shows the picture unchanged, 1
            // has every tile turned half round and by its own angle.
            if (direction == 0) {
                EXPECT_EQ(angles[0], 0.0f);
                EXPECT_EQ(angles[2], 0.0f);
            } else {
                EXPECT_EQ(angles[0], 180.0f);
                turned += angles[2] != 0.0f;
            }
        }
        if (direction == 1) {
            EXPECT_GT(turned, 380);
        }
        // Untouched tiles lie flat where the picture's cell is seen.
        if (direction == 0) {
            const auto& v = *transition.vertices.at(0);
            const vec2d seen = project(*chain, {v.x, v.y, v.z}, 1024.0f, 768.0f);
            EXPECT_NEAR(seen.x, 0.0f, 1.0f);
            EXPECT_NEAR(seen.y, 0.0f, 1.0f);
        }
        uint32_t now = 5000;
        int32_t frames = 0;
        int32_t lastTileFrame = -1;
        while (!transition.finished(now) && frames < 1000) {
            now += 40;
            ++frames;
            transition.advance(now, 1.0f);
            int32_t complete = 0;
            for (int32_t i = 0; i < GameMenu::DisperseScreen::tileCount; ++i)
                complete += transition.tiles.at(i)->progress == 1.0f;
            if (complete == GameMenu::DisperseScreen::tileCount && lastTileFrame < 0)
                lastTileFrame = frames;
        }
        EXPECT_EQ(frames, lastTileFrame + 1) << direction;
        float angles[3];
        transition.anglesOf(*transition.tiles.at(100), angles);
        EXPECT_EQ(angles[0], direction == 0 ? 180.0f : 0.0f);
    }
}

TEST_F(Overlays, ATileWaitsForItsDelayThenReachesFullSpeedWithinATenthOfASecond)
{
    std::srand(56);
    GameMenu::DisperseScreen transition(menu, 0, TextureRef());
    auto& tile = *transition.tiles.at(0);
    tile.delay = -0.5f;
    transition.advance(1000, 1.0f);
    transition.advance(1400, 1.0f);
    EXPECT_EQ(tile.progress, 0.0f);
    transition.advance(1550, 1.0f); // half speed
    EXPECT_NEAR(tile.progress, 0.025f, 1e-5f);
    transition.advance(1700, 2.0f); // full speed at twice the frame time
    EXPECT_NEAR(tile.progress, 0.125f, 1e-5f);
}
