// The builder's whole level through the game's own start-up, level loading
// and frames at 1024 x 768 under Wine: the valley at noon, in the morning and
// in the evening from fixed places, saved again, loaded a second time, drawn
// through a device reset, and loaded with damaged side files.
#include "../Landscape/SceneFrames.h"
#include "../Landscape/CostlyFiles.h"
#include "../Landscape/LandscapeTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"
#include "../Application/AppTestFiles.h"
#include "../Application/GameInProcess.h"
#include "CourseRace.h"

#include "Application/GlobalSettings.h"
#include "Application/Globals.h"
#include "Application/Korvanta.h"
#include "Application/Multimonitor.h"
#include "Landscape/Scene.h"
#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"
#include "Vehicle/QuadInstance.h"
#include "Physics/neRigidBody.h"
#include "Physics/PhysicsManager.h"
#include "Race/AIDriver.h"
#include "Vehicle/WheelDirt.h"
#include "Vehicle/ExhaustSmoke.h"
#include "Objects/Fire.h"
#include "Objects/Rocket.h"
#include "Objects/PackageMesh.h"
#include "Audio/Sound3D.h"
#include "Audio/SoundInterface.h"
#include "Entity/Entity.h"
#include "Entity/ParticleSystem.h"
#include "Landscape/GrasLayer.h"
#include "Landscape/HLod.h"
#include "Landscape/Meadow.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Way/WayNetwork.h"
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"
#include "Menu/GameMenu.h"
#include "Menu/GameMenuScreen.h"
#include "Render/DirectGraphics.h"
#include "MapGenerator.h"
#include "MeadowFileWriter.h"
#include "ObjectSamples.h"
#include "StaticObjectWriter.h"
#include "SprintLevel.h"
#include "WaterSamples.h"

#include "Core/Color.h"
#include "Core/FileInterface.h"
#include "Core/Language.h"
#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <d3dx9.h>
#include <psapi.h>

#include <algorithm>
#include <climits>
#include <atomic>
#include <iterator>
#include <cmath>
#include <map>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using TestDevice::Level;
using namespace AppTestFiles;


constexpr uint32_t clearColour = 0xFFFF00FFu; // magenta: no pass drew the pixel
const wchar_t* const sideFiles[] = {L".map", L".wtr", L".mdw"};

// A fixed place to look from: over the ground at (x, z), turned by yaw and
// looking down by pitch (degrees).
struct View
{
    const char* name;
    float x, z, height, yaw, pitch;
    // A dry ground point ahead, this far from the camera, whose layer colour
    // is checked.
    float nearGround;
    // At least this many of every fourth pixel (in x and y) show the lake.
    int lakePixels = 0;
    // Looking along the dirt track, which the grass keeps off.
    bool alongTheTrack = false;
};

// On the valley floor over the lake, on the eastern hills looking down the
// valley, low over the lake's water.
const View noonViews[] = {
    {"floor", -150.0f, -900.0f, 30.0f, 0.0f, -8.0f, 90.0f, 500},
    {"hill", 1150.0f, -1500.0f, 40.0f, 35.0f, -12.0f, 60.0f, 0},
    {"water", -190.0f, -450.0f, 10.0f, 10.0f, -4.0f, 0.0f, 5000},
    {"track", -720.0f, -1020.0f, 30.0f, -15.0f, -16.0f, 0.0f, 0, true},
};

int channelSum(uint32_t pixel)
{
    const Color c = Color::fromArgb(pixel);
    return int(c.r) + int(c.g) + int(c.b);
}

int difference(uint32_t a, uint32_t b)
{
    const Color x = Color::fromArgb(a), y = Color::fromArgb(b);
    return std::abs(int(x.r) - int(y.r)) + std::abs(int(x.g) - int(y.g)) + std::abs(int(x.b) - int(y.b));
}

// The mean colour of a square of pixels around (x, y).
Color meanAround(const Level& frame, int x, int y, int half)
{
    int r = 0, g = 0, b = 0, n = 0;
    for (int j = y - half; j <= y + half; ++j)
        for (int i = x - half; i <= x + half; ++i)
            if (i >= 0 && j >= 0 && i < int(frame.width) && j < int(frame.height)) {
                const Color c = Color::fromArgb(frame.at(uint32_t(i), uint32_t(j)));
                r += c.r;
                g += c.g;
                b += c.b;
                ++n;
            }
    n = n ? n : 1;
    return Color(uint8_t(r / n), uint8_t(g / n), uint8_t(b / n), 0xFF);
}

bool insideOutline(const std::vector<WaterFileWriter::Point>& outline, float x, float z)
{
    bool inside = false;
    for (size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++) {
        const auto& a = outline[i];
        const auto& b = outline[j];
        if ((a.z > z) != (b.z > z) && x < (b.x - a.x) * (z - a.z) / (b.z - a.z) + a.x)
            inside = !inside;
    }
    return inside;
}

// The level as the builder made it, and copies of it to damage.
std::wstring builtLevel(const wchar_t* extension = L".tee")
{
    return std::wstring(getModuleFolder().text()) + L"..\\Data\\Map\\Valley" + extension;
}

std::wstring copyOfLevel(const std::wstring& folder)
{
    for (const wchar_t* extension : {L".tee", L".map", L".wtr", L".mdw", L".way", L".obj"})
        EXPECT_TRUE(write(folder + L"Valley" + extension, read(builtLevel(extension))));
    return folder + L"Valley.tee";
}

// Sets up a race of mode on the level file's course type with count vehicles.
void setUpRace(Game& game, const std::wstring& level, int32_t mode, int32_t courseType, int32_t count)
{
    RaceChoice choice;
    choice.mapFile = String(level.c_str());
    choice.gameMode = mode;
    choice.courseType = courseType;
    choice.vehicleCount = count;
    game.applyRaceChoice(choice);
    game.setupRace();
}

// The application started as the game starts it, on a 1024 x 768 window,
// shared by the suite's tests; each test loads the builder's level afresh.
class LevelViews : public testing::Test
{
public:
    static void SetUpTestSuite()
    {
        gameProcess.start(L"LevelSettings", 1024, 768, std::wstring(getModuleFolder().text()) + L"..");
        app = gameProcess.app;
        if (!app)
            return;
        // The window's frame around a client of 1024 x 768 may not fit on the
        // test display; the back buffer keeps the game's size all the same.
        D3DPRESENT_PARAMETERS parameters = app->swapChain->presentParameters;
        if (parameters.BackBufferWidth != 1024 || parameters.BackBufferHeight != 768) {
            parameters.BackBufferWidth = 1024;
            parameters.BackBufferHeight = 768;
            D3D::Device::reset(gDirectGraphics.record, &parameters);
        }
    }

    static void TearDownTestSuite()
    {
        gameProcess.stop();
        app = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(app, nullptr);
        ASSERT_NE(app->swapChain, nullptr);
        gFrameFactor.store(1.0f);
        ASSERT_TRUE(load(builtLevel()));
    }

    void TearDown() override
    {
        chain().client = app;
        app->scene.clear();
    }

    static D3D::Device::SwapChain& chain() { return *app->swapChain; }
    static Scene& scene() { return app->scene; }

    // The level through Scene::load; the camera then stays where the test
    // puts it (the race's camera mode leaves it alone).
    static bool load(const std::wstring& path) { return CourseRace::loadLevel(*app, path); }

    static void setTime(float hours)
    {
        scene().timeOfDay = hours;
        scene().applyTimeOfDay();
    }

    static void place(const View& view)
    {
        const float ground = gTerrain.isLoaded() ? gTerrain.getHeight(view.x, view.z, 3) : 40.0f;
        const float base = ground > 47.0f || !gTerrain.isLoaded() ? ground : 47.0f;
        SceneFrames::look(chain(), {view.x, base + view.height, view.z}, view.yaw, view.pitch);
    }

    // One frame as the main loop makes it: the application's update, then
    // its render (a target filled with magenta first, which no pixel may
    // keep); the back buffer is read before it is presented and kept as a PNG.
    static Level frame(const std::string& name)
    {
        app->pumpMessages();
        app->update();
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        app->clearFrame();
        chain().render(true);
        Level pixels = TestDevice::readSurface(chain().targets[0].surface);
        keep(chain().targets[0].surface, name);
        chain().present();
        return pixels;
    }

    static void keep(IDirect3DSurface9* surface, const std::string& name)
    {
        const char* folder = std::getenv("KORVANTA_SCREENSHOTS");
        if (!folder || !*folder || !surface)
            return;
        const std::string path = std::string(folder) + "/Level-" + name + ".png";
        D3DXSaveSurfaceToFileA(path.c_str(), D3DXIFF_PNG, surface, nullptr, nullptr);
    }

    // The screen row of the horizon straight ahead.
    static int horizonRow(const Level& frame)
    {
        vec3d ahead = chain().forward;
        ahead.y = 0.0f;
        const float length = std::sqrt(ahead.x * ahead.x + ahead.z * ahead.z);
        const vec3d distant = chain().position + ahead * (20000.0f / length);
        return int(SceneFrames::pixelOf(chain(), distant, frame).y);
    }

    // Where the view ray through pixel (x, y) of frame starts and points.
    static void ray(const Level& frame, int x, int y, vec3d& origin, vec3d& direction)
    {
        D3DXMATRIX m, inverse;
        std::memcpy(&m, chain().viewProjection.m, sizeof(m));
        D3DXMatrixInverse(&inverse, nullptr, &m);
        const float sx = (float(x) + 0.5f) / float(frame.width) * 2.0f - 1.0f;
        const float sy = 1.0f - (float(y) + 0.5f) / float(frame.height) * 2.0f;
        D3DXVECTOR3 nearPoint(sx, sy, 0.0f), farPoint(sx, sy, 1.0f), a, b;
        D3DXVec3TransformCoord(&a, &nearPoint, &inverse);
        D3DXVec3TransformCoord(&b, &farPoint, &inverse);
        origin = {a.x, a.y, a.z};
        direction = {b.x - a.x, b.y - a.y, b.z - a.z};
    }

    static inline GameInProcess gameProcess;
    static inline Korvanta* app = nullptr;
};

// The colour of the frame's own clear: the camera's fog.
uint32_t fogPixel() { return LevelViews::chain().fogColour.argb() | 0xFF000000u; }

// What a pixel of a view shows of the lake: its water (first met before any
// ground, over ground at least a little below the level), something else,
// or too close to the lake's outline to say.
enum class LakePart { water, elsewhere, unsure };

LakePart lakePart(const Level& frame, int x, int y)
{
    static const WaterFileWriter::Area lake = WaterSamples::valley()[0];
    static const WaterFileWriter::Area pond = WaterSamples::valley()[1];
    vec3d origin, direction;
    LevelViews::ray(frame, x, y, origin, direction);
    // The water planes of the lake and the pond.
    auto meets = [&](float level, vec3d& at) {
        if (direction.y >= -1.0e-6f)
            return false;
        const float t = (level - origin.y) / direction.y;
        if (t <= 0.0f || t > 1.0f)
            return false;
        at = origin + direction * t;
        return true;
    };
    vec3d atPond;
    if (meets(pond.level, atPond) && std::hypot(atPond.x + 200.0f, atPond.z - 800.0f) < 60.0f)
        return LakePart::unsure;
    vec3d at;
    if (!meets(lake.level, at))
        return LakePart::elsewhere;
    const float margin = 12.0f;
    bool inside = insideOutline(lake.outline, at.x, at.z);
    for (float dx : {-margin, margin})
        for (float dz : {-margin, margin})
            if (insideOutline(lake.outline, at.x + dx, at.z + dz) != inside)
                return LakePart::unsure;
    if (!inside)
        return LakePart::elsewhere;
    // Far water may be asleep (the areas wake near the camera), and nothing
    // is drawn beyond the view range.
    const vec3d seen = at - LevelViews::chain().position;
    if (seen.x * seen.x + seen.z * seen.z > 0.25f * LevelViews::chain().rangeSquared)
        return LakePart::unsure;
    if (!gTerrain.isLoaded())
        return LakePart::water;
    vec3d hit;
    if (gTerrain.intersectSegment(origin, at, hit))
        return std::hypot(hit.x - at.x, hit.z - at.z) < 20.0f ? LakePart::unsure : LakePart::elsewhere;
    return gTerrain.getHeight(at.x, at.z, 3) < lake.level - 3.0f ? LakePart::water : LakePart::unsure;
}

struct LakeChange
{
    int water = 0, waterChanged = 0, elsewhere = 0, elsewhereChanged = 0;
};

// Every fourth pixel of two frames of one view, by what it shows of the lake.
LakeChange compareLake(const Level& with, const Level& without)
{
    LakeChange out;
    for (uint32_t y = 0; y < with.height; y += 4)
        for (uint32_t x = 0; x < with.width; x += 4) {
            const bool changed = difference(with.at(x, y), without.at(x, y)) > 6;
            switch (lakePart(with, int(x), int(y))) {
            case LakePart::water:
                ++out.water;
                out.waterChanged += changed ? 1 : 0;
                break;
            case LakePart::elsewhere:
                ++out.elsewhere;
                out.elsewhereChanged += changed ? 1 : 0;
                break;
            case LakePart::unsure: break;
            }
        }
    return out;
}

// The layer colours of the ground by height units (the builder's bands):
// green on the floor, earth on the slopes, grey rock on the hills.
bool showsBand(const Color& c, float units)
{
    if (units < 50.0f)
        return c.g > c.r + 10 && c.g > c.b + 10;
    if (units > 70.0f && units < 110.0f)
        return c.r > c.b + 15 && c.g > c.b + 5;
    if (units > 130.0f)
        return std::max({c.r, c.g, c.b}) - std::min({c.r, c.g, c.b}) < 30 && c.r + c.g + c.b > 90;
    return true; // where two bands blend
}

// The pixels of the rows from first to last that hold colour.
int countIn(const Level& frame, int first, int last, const std::function<bool(uint32_t)>& test)
{
    int n = 0;
    for (int y = std::max(first, 0); y < std::min(last, int(frame.height)); ++y)
        for (uint32_t x = 0; x < frame.width; ++x)
            n += test(frame.at(x, uint32_t(y))) ? 1 : 0;
    return n;
}

bool isClear(uint32_t pixel) { return (pixel | 0xFF000000u) == clearColour; }

// Three views at noon: sky above the horizon, ground below it coloured by
// its height, the lake's water inside its outline only, and the meadow's
// grass in front of the camera.
TEST_F(LevelViews, NoonViewsShowSkyGroundWaterAndGrass)
{
    EXPECT_EQ(chain().presentParameters.BackBufferWidth, 1024u);
    EXPECT_EQ(chain().presentParameters.BackBufferHeight, 768u);
    // The frames compared are of a still scene: what the load left settling
    // (the gates' bodies) would move their edges on between two frames.
    struct StillPhysics
    {
        EntityManager::PhysicsManager& physics = *app->physicsManager();
        StillPhysics() { physics.paused = 1; }
        ~StillPhysics() { physics.paused = 0; }
    };
    for (const View& view : noonViews) {
        SCOPED_TRACE(view.name);
        scene().clear();
        ASSERT_TRUE(load(builtLevel()));
        setTime(12.5f);
        place(view);
        const StillPhysics still;
        const Level full = frame(std::string("noon-") + view.name);
        ASSERT_EQ(full.width, 1024u);
        const int horizon = horizonRow(full);
        ASSERT_GT(horizon, 150);
        ASSERT_LT(horizon, 700);
        const uint32_t fog = fogPixel();
        EXPECT_EQ(countIn(full, 0, int(full.height), isClear), 0);
        // Above the hills the sky; below the horizon never the frame's clear.
        const int sky = countIn(full, 0, 100, [](uint32_t p) {
            const Color c = Color::fromArgb(p);
            return c.b > c.r + 20;
        });
        EXPECT_EQ(sky, 100 * int(full.width));
        EXPECT_EQ(countIn(full, horizon + 12, int(full.height), [fog](uint32_t p) { return (p | 0xFF000000u) == fog; }),
                  0);

        // The meadow's grass stands before the camera.
        chain().meadow->clear();
        const Level bare = frame(std::string("noon-") + view.name + "-bare");
        int grass = 0, lower = 0;
        for (uint32_t y = full.height / 2 + 40; y < full.height; y += 2)
            for (uint32_t x = 0; x < full.width; x += 2, ++lower)
                grass += difference(full.at(x, y), bare.at(x, y)) > 12 ? 1 : 0;
        EXPECT_GT(grass, lower / 100) << "grass pixels " << grass << " of " << lower;
        if (view.alongTheTrack) {
            // Ground well inside the track, 20 to 250 ahead: the meadow grows
            // beside it.
            int track = 0, covered = 0;
            const float a = view.yaw * 0.017453292f;
            const vec3d ahead{-std::sin(a), 0.0f, std::cos(a)}, side{ahead.z, 0.0f, -ahead.x};
            for (float d = 20.0f; d < 250.0f; d += 2.0f) {
                const vec3d p = vec3d{view.x, 0.0f, view.z} + ahead * d;
                bool inside = true;
                for (float s : {-6.0f, 0.0f, 6.0f})
                    inside = inside && gWayNetwork.isOnWay(p.x + side.x * s, p.z + side.z * s) != 0;
                if (!inside)
                    continue;
                const POINT at = SceneFrames::pixelOf(chain(), {p.x, gTerrain.getHeight(p.x, p.z, 3), p.z}, full);
                ++track;
                covered += difference(full.at(uint32_t(at.x), uint32_t(at.y)),
                                      bare.at(uint32_t(at.x), uint32_t(at.y))) > 12
                               ? 1
                               : 0;
            }
            EXPECT_GT(track, 30);
            EXPECT_LT(covered, track / 10) << covered << " of " << track << " points of the track under grass";
        }

        // Near the camera the ground has its band's colour.
        if (view.nearGround > 0.0f) {
            vec3d ahead = chain().forward;
            ahead.y = 0.0f;
            ahead = ahead * (1.0f / std::sqrt(ahead.x * ahead.x + ahead.z * ahead.z));
            vec3d point = chain().position + ahead * view.nearGround;
            point.y = gTerrain.getHeight(point.x, point.z, 3);
            const POINT at = SceneFrames::pixelOf(chain(), point, bare);
            ASSERT_TRUE(at.x > 10 && at.y > horizon && at.x < 1014 && at.y < 758) << at.x << " " << at.y;
            const Color c = meanAround(bare, int(at.x), int(at.y), 6);
            const float units = point.y / gTerrain.verticalScale;
            EXPECT_TRUE(showsBand(c, units)) << "height units " << units << ": " << int(c.r) << " " << int(c.g)
                                             << " " << int(c.b);
        }

        // The lake: its pixels change without the water, no other does.
        gWater.clear();
        const Level dry = frame(std::string("noon-") + view.name + "-dry");
        const LakeChange lake = compareLake(bare, dry);
        EXPECT_GE(lake.water, view.lakePixels);
        EXPECT_GE(lake.waterChanged, lake.water * 95 / 100)
            << lake.waterChanged << " of " << lake.water << " water pixels changed";
        EXPECT_LE(lake.elsewhereChanged, lake.elsewhere / 500)
            << lake.elsewhereChanged << " of " << lake.elsewhere << " other pixels changed";
    }
}

// High above the southern floor the ground ends at the view range before
// the sky dome reaches down to it: the distance shows as fog there.
TEST_F(LevelViews, HighAboveTheValleyTheDistanceIsFog)
{
    setTime(12.5f);
    place({"high", 0.0f, -2900.0f, 600.0f, 0.0f, -15.0f, 0.0f});
    const Level high = frame("noon-high");
    EXPECT_EQ(countIn(high, 0, int(high.height), isClear), 0);
    const uint32_t fog = fogPixel();
    EXPECT_GT(countIn(high, 0, int(high.height), [fog](uint32_t p) { return (p | 0xFF000000u) == fog; }), 0);
}

// The light of the daytimes: in the evening the sky toward the sun is
// warmer than away from it; in the morning the lit ground is darker than at
// noon.
TEST_F(LevelViews, DaytimesLightTheSkyAndTheGround)
{
    setTime(18.5f);
    app->update();
    const vec3d sun = chain().sun.direction;
    ASSERT_GT(sun.y, 0.0f);
    const float yawToSun = std::atan2(-sun.x, sun.z) * 57.29578f;
    auto warmth = [](const Level& frame) {
        long sum = 0, n = 0;
        for (uint32_t y = 0; y < 300; y += 2)
            for (uint32_t x = 0; x < frame.width; x += 2, ++n) {
                const Color c = Color::fromArgb(frame.at(x, y));
                sum += int(c.r) - int(c.b);
            }
        return double(sum) / double(n);
    };
    const View toward{"evening-sun", -150.0f, -1050.0f, 30.0f, yawToSun, 2.0f, 0.0f};
    const View away{"evening-away", -150.0f, -1050.0f, 30.0f, yawToSun + 180.0f, 2.0f, 0.0f};
    place(toward);
    const double warmToward = warmth(frame("evening-sun"));
    place(away);
    const double warmAway = warmth(frame("evening-away"));
    EXPECT_GT(warmToward, warmAway + 10.0);

    // The floor view's ground, lit at noon and at 9.2 hours.
    auto brightness = [](const Level& frame, int from) {
        long sum = 0, n = 0;
        for (uint32_t y = uint32_t(from); y < frame.height; y += 2)
            for (uint32_t x = 0; x < frame.width; x += 2, ++n)
                sum += channelSum(frame.at(x, y));
        return double(sum) / double(n);
    };
    setTime(12.5f);
    place(noonViews[0]);
    const Level noon = frame("daytime-noon");
    const int from = horizonRow(noon) + 60;
    setTime(9.2f);
    place(noonViews[0]);
    const Level morning = frame("daytime-morning");
    EXPECT_LT(brightness(morning, from), brightness(noon, from) - 15.0);
}

// Scene::save writes the builder's files back: the main and the water file
// byte for byte, the ground and the meadow with the same content.
TEST_F(LevelViews, SaveWritesTheBuildersLevelBack)
{
    // Loaded as the game loads it, with its own camera, and a frame drawn.
    scene().clear();
    ASSERT_TRUE(scene().load(String(builtLevel().c_str())));
    frame("save");
    const std::wstring folder = freshFolder(L"LevelSave");
    ASSERT_TRUE(scene().save(String((folder + L"Valley.tee").c_str())));
    EXPECT_EQ(read(folder + L"Valley.tee"), read(builtLevel()));
    EXPECT_EQ(read(folder + L"Valley.wtr"), read(builtLevel(L".wtr")));

    const auto built = TerrainTestMaps::load(read(builtLevel(L".map")));
    const auto saved = TerrainTestMaps::load(read(folder + L"Valley.map"));
    ASSERT_TRUE(built->isLoaded());
    ASSERT_TRUE(saved->isLoaded());
    EXPECT_EQ(saved->size, 256);
    EXPECT_EQ(saved->heights, built->heights);
    ASSERT_EQ(saved->layers.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(saved->layers[i].pixels, built->layers[i].pixels) << i;
        EXPECT_EQ(saved->layers[i].low, built->layers[i].low) << i;
        EXPECT_EQ(saved->layers[i].high, built->layers[i].high) << i;
    }
    for (size_t p = 0; p < built->patches.size(); ++p) {
        EXPECT_NEAR(saved->patches[p].leaf->minimum.y, built->patches[p].leaf->minimum.y, 0.01f) << p;
        EXPECT_NEAR(saved->patches[p].leaf->maximum.y, built->patches[p].leaf->maximum.y, 0.01f) << p;
    }

    Meadow builtMeadow, savedMeadow;
    ASSERT_TRUE(builtMeadow.load(String(builtLevel(L".mdw").c_str())));
    ASSERT_TRUE(savedMeadow.load(String((folder + L"Valley.mdw").c_str())));
    FileArray a(4096), b(4096);
    builtMeadow.write(a);
    savedMeadow.write(b);
    EXPECT_EQ(LandscapeTestFiles::bytesOf(b), LandscapeTestFiles::bytesOf(a));
    EXPECT_EQ(savedMeadow.layers.count(), 2);
}

// A ".obj" file as the game writes what it read: the tags of a later
// writer, which carry nothing, left out.
std::vector<uint8_t> withoutLaterTags(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> out(bytes.begin(), bytes.begin() + std::min<ptrdiff_t>(4, ptrdiff_t(bytes.size())));
    for (size_t at = 4; at < bytes.size();) {
        const uint8_t tag = bytes[at];
        uint32_t name = 0;
        if (tag == 1)
            std::memcpy(&name, &bytes[at + 1], 4);
        const size_t size = tag == 1 ? 4 + name : tag == 2 ? 12 : tag >= 3 && tag <= 5 ? 4 : tag >= 6 && tag <= 7 ? 1 : 0;
        if (tag <= 7)
            out.insert(out.end(), bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(at + 1 + size));
        at += 1 + size;
    }
    return out;
}

// Every level the builder makes, loaded from a copy and saved over it (by
// an empty name), leaves each of its files byte for byte as it was; of the
// valley's objects, the one with a later writer's tag loses that byte.
// Saved under another name it writes the same bytes: every file was read
// whole.
TEST_F(LevelViews, ASaveOverEveryBuiltLevelLeavesItsFilesAsTheyWere)
{
    scene().clear();
    const std::wstring maps = std::wstring(getModuleFolder().text()) + L"..\\Data\\Map\\";
    std::vector<std::wstring> levels;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((maps + L"*.tee").c_str(), &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do
        levels.push_back(std::wstring(found.cFileName, wcslen(found.cFileName) - 4));
    while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_EQ(levels.size(), 40u);
    const wchar_t* const extensions[] = {L".tee", L".map", L".wtr", L".mdw", L".way", L".obj"};
    for (const std::wstring& level : levels) {
        SCOPED_TRACE(std::string(level.begin(), level.end()));
        const std::wstring folder = freshFolder(L"LevelResave");
        for (const wchar_t* extension : extensions)
            ASSERT_TRUE(write(folder + level + extension, read(maps + level + extension)));
        ASSERT_TRUE(scene().load(String((folder + level + L".tee").c_str())));
        for (const std::wstring& name : {level, std::wstring(L"Resaved")}) {
            EXPECT_TRUE(scene().save(String(name == level ? L"" : (folder + name + L".tee").c_str())));
            for (const wchar_t* extension : extensions) {
                const std::vector<uint8_t> built = read(maps + level + extension);
                EXPECT_TRUE(read(folder + name + extension) ==
                            (std::wstring(extension) == L".obj" ? withoutLaterTags(built) : built))
                    << std::string(name.begin(), name.end()) << std::string(extension, extension + 4);
            }
        }
        scene().clear();
    }
}

// The same pixels after the level was cleared and loaded again, and after
// the device was reset between two frames. The world is held still across
// the reset: the reset's frame is long, and what the load left settling
// would move on by up to a fifth of a second in it.
TEST_F(LevelViews, ASecondLoadAndADeviceResetDrawTheSamePixels)
{
    auto differing = [](const Level& a, const Level& b) {
        int n = 0;
        // A patch of ground takes a new light only when the sun moved by more
        // than its own small random margin (the load's warm-up runs on the
        // real clock): such shades may differ, nothing else.
        for (size_t i = 0; i < a.texels.size() && i < b.texels.size(); ++i)
            n += difference(a.texels[i], b.texels[i]) > 24 ? 1 : 0;
        return a.texels.size() == b.texels.size() ? n : -1;
    };
    setTime(12.5f);
    place(noonViews[0]);
    const Level first = frame("again-first");
    scene().clear();
    EXPECT_FALSE(gTerrain.isLoaded());
    ASSERT_TRUE(load(builtLevel()));
    setTime(12.5f);
    place(noonViews[0]);
    const Level second = frame("again-second");
    EXPECT_EQ(differing(first, second), 0);

    EntityManager::PhysicsManager& physics = *app->physicsManager();
    physics.paused = 1;
    D3DPRESENT_PARAMETERS parameters = chain().presentParameters;
    D3D::Device::reset(gDirectGraphics.record, &parameters);
    place(noonViews[0]);
    const Level reset = frame("again-reset");
    physics.paused = 0;
    EXPECT_EQ(differing(second, reset), 0);
}

// The game's loading frames: the progress grows frame by frame to the
// whole, and the entries are the terrain's, the water's, the static
// objects' and the scene's.
TEST_F(LevelViews, LoadingFramesRunToTheWholeProgress)
{
    // The application's own hooks, with the loading frames counted.
    class Recorder final : public D3D::SwapChainInterface
    {
    public:
        void renderLoadProgress() override
        {
            progress.push_back(LevelViews::chain().progress);
            app->renderLoadProgress();
        }
        void renderShadowMaps() override { app->renderShadowMaps(); }
        void renderEffectScene() override { app->renderEffectScene(); }
        void renderOcclusionPass() override { app->renderOcclusionPass(); }
        uint32_t pumpMessages() override { return app->pumpMessages(); }
        std::vector<float> progress;
    } recorder;
    scene().clear();
    chain().client = &recorder;
    ASSERT_TRUE(load(builtLevel()));
    chain().client = app;
    ASSERT_GE(recorder.progress.size(), 10u);
    EXPECT_EQ(recorder.progress.front(), 0.0f);
    for (size_t i = 1; i < recorder.progress.size(); ++i)
        EXPECT_GE(recorder.progress[i], recorder.progress[i - 1]) << i;
    EXPECT_NEAR(recorder.progress.back(), 1.0f, 1e-5f);
    EXPECT_EQ(chain().loadProcesses.count(), 4);
}

// The memory the process holds, as the system counts it.
size_t memoryHeld()
{
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return size_t(counters.PagefileUsage);
}

// The level with one side file missing, cut short or full of random bytes
// still loads and draws what is sound; a damaged main file loads what it
// holds. Nothing is left registered for the next load. With a costly grass
// or water file, three frames later (the water's last two by the pond,
// where its waves run) the process holds at most 128 MB more than with the
// level's own after the same frames, the water it kept is within its
// bounds, and a save over the level leaves the file as it was (LevelBench
// prints how long these loads and their first frames take).
TEST_F(LevelViews, DamagedFilesLoadWhatIsSound)
{
    const View pond = {"pond", -120.0f, 800.0f, 8.0f, 90.0f, -10.0f, 0.0f};
    enum Damage { missing, truncated, random, costly };
    const char* const damageNames[] = {"missing", "truncated", "random", "costly"};
    struct Variant
    {
        Damage damage;
        std::string costlyName;
        std::vector<uint8_t> costlyBytes;
    };
    const auto variants = [](const wchar_t* extension) {
        std::vector<Variant> out = {{missing, "", {}}, {truncated, "", {}}, {random, "", {}}};
        for (auto& [what, content] : CostlyFiles::of(extension))
            out.push_back({costly, "-" + what, std::move(content)});
        return out;
    };
    std::mt19937 bytes(32);
    scene().clear();
    for (const wchar_t* extension : {L".map", L".wtr", L".mdw", L".way", L".obj", L".tee"})
        for (const Variant& variant : variants(extension)) {
            const Damage damage = variant.damage;
            const std::vector<uint8_t>& costlyBytes = variant.costlyBytes;
            const std::string name = std::string(extension, extension + 4).substr(1) + "-" + damageNames[damage] +
                                     variant.costlyName;
            SCOPED_TRACE(name);
            const std::wstring path = copyOfLevel(freshFolder(L"LevelDamage"));
            const std::wstring file = path.substr(0, path.size() - 4) + extension;
            std::vector<uint8_t> content = read(file);
            if (damage == missing && std::wstring(extension) == L".tee")
                continue; // a level that is not there: its own test below
            size_t soundMemory = 0;
            // After the first frame on the floor, the water's two go where
            // the pond's waves run.
            const View& after = std::wstring(extension) == L".wtr" ? pond : noonViews[0];
            if (damage == costly) {
                ASSERT_TRUE(load(path));
                setTime(12.5f);
                place(noonViews[0]);
                frame("sound-" + name);
                place(after);
                for (int k = 0; k < 2; ++k)
                    frame("sound-" + name);
                soundMemory = memoryHeld();
                scene().clear();
            }
            if (damage == missing)
                ASSERT_TRUE(DeleteFileW(file.c_str()));
            else if (damage == truncated)
                ASSERT_TRUE(write(file, std::vector<uint8_t>(content.begin(), content.begin() + content.size() / 2)));
            else if (damage == random) {
                for (uint8_t& b : content)
                    b = uint8_t(bytes());
                ASSERT_TRUE(write(file, content));
            } else {
                ASSERT_TRUE(write(file, costlyBytes));
            }
            const bool loaded = load(path);
            EXPECT_NEAR(chain().progress, 1.0f, 1e-5f);
            EXPECT_EQ(chain().loadProcesses.count(), 4);
            ASSERT_TRUE(loaded);
            setTime(12.5f);
            place(noonViews[0]);
            const Level view = frame("damaged-" + name);
            EXPECT_EQ(countIn(view, 0, int(view.height), isClear), 0);
            EXPECT_EQ(countIn(view, 0, 100, [](uint32_t p) {
                          const Color c = Color::fromArgb(p);
                          return c.b > c.r + 20;
                      }),
                      100 * int(view.width));
            int waterArea = 0;
            for (Water::AreaList* list : {&gWater.live, &gWater.dormant})
                waterArea += list->count();
            const std::wstring which = extension;
            if (which == L".map") {
                // Sky and water over no ground.
                EXPECT_FALSE(gTerrain.isLoaded());
                EXPECT_EQ(waterArea, 2);
                int water = 0;
                for (uint32_t y = 0; y < view.height; y += 4)
                    for (uint32_t x = 0; x < view.width; x += 4)
                        water += lakePart(view, int(x), int(y)) == LakePart::water &&
                                         (view.at(x, y) | 0xFF000000u) != fogPixel()
                                     ? 1
                                     : 0;
                EXPECT_GT(water, 500);
            } else {
                EXPECT_TRUE(gTerrain.isLoaded());
            }
            if (which == L".wtr" && damage == costly)
                EXPECT_LE(waterArea, int(Water::maxAreas));
            else if (which == L".wtr" && damage != truncated)
                EXPECT_EQ(waterArea, 0); // a dry valley
            if (which == L".mdw" && (damage == missing || damage == random)) {
                EXPECT_EQ(chain().meadow->layers.count(), 0); // bare ground
            }
            if (damage == costly) {
                if (variant.costlyName == "-defaults") {
                    EXPECT_GT(chain().meadow->layers.count(), 0);
                }
                place(after);
                for (int k = 0; k < 2; ++k)
                    frame("damaged-" + name);
                // The bounds let a file take some 8 MB of water and as much
                // of grass textures, and 300 grass layers of defaults take
                // some 40 MB; the heap's and the driver's own growth from
                // one load to the next is up to some 45 MB more.
                EXPECT_LT(memoryHeld(), soundMemory + (size_t(128) << 20));
                const CostlyFiles::WaterHeld held = CostlyFiles::waterHeld({&gWater.live, &gWater.dormant});
                EXPECT_LE(held.cost, Water::maxBytes);
                EXPECT_LE(held.macroCells, Water::maxMacroCells);
                EXPECT_LE(held.triangles, Water::maxTriangles);
                EXPECT_TRUE(scene().save(String(L"")));
                EXPECT_TRUE(read(file) == costlyBytes);
            }
            scene().clear();
        }

    // A level that cannot be opened fails and leaves nothing registered.
    EXPECT_FALSE(scene().load(String((freshFolder(L"LevelDamage") + L"Valley.tee").c_str())));
    EXPECT_EQ(chain().loadProcesses.count(), 0);
    EXPECT_EQ(scene().loaded, 0u);
    ASSERT_TRUE(load(builtLevel()));
    EXPECT_EQ(chain().loadProcesses.count(), 4);
}

// The valley's tree on the lake's western shore, seen across the water from
// the eastern one: upside down in the water below its base, unless its
// entity asks to be left out of reflections; above the water it shows
// either way.
TEST_F(LevelViews, TheLakeMirrorsTheTreeOnItsShore)
{
    const float level = 47.0f;
    setTime(12.5f);
    chain().meadow->clear();
    SceneFrames::look(chain(), {0.0f, 52.0f, -480.0f}, 90.0f, -3.0f);
    // A first frame wakes the objects around the camera.
    frame("mirror-first");
    EntityManager::Entity* tree = nullptr;
    float nearest = 30.0f * 30.0f;
    for (auto* node = chain().entities->entities.head(); node; node = node->next) {
        const vec3d at = node->item->world.row(3);
        const float dx = at.x + 163.2f, dz = at.z + 480.0f;
        if (dx * dx + dz * dz < nearest) {
            nearest = dx * dx + dz * dz;
            tree = node->item;
        }
    }
    ASSERT_NE(tree, nullptr) << "the tree by the lake is alive";
    const Level shown = frame("mirror-tree");
    tree->hidden = 1;
    const Level gone = frame("mirror-none");
    tree->hidden = 0;
    tree->reflectionMask = 1;
    const Level masked = frame("mirror-masked");
    tree->reflectionMask = 0;

    // The screen rectangle of the tree's box, and of the box mirrored in
    // the water; the rows between the base and the lowest mirrored row
    // show the water below the tree.
    const OrientedBox& box = tree->worldBox;
    LONG left = LONG_MAX, right = LONG_MIN, top = LONG_MAX, bottom = LONG_MIN;
    for (int corner = 0; corner < 8; ++corner) {
        vec3d p = box.center;
        for (int axis = 0; axis < 3; ++axis)
            p += box.axes[axis] * (box.halfExtents[axis] * ((corner >> axis) & 1 ? 1.0f : -1.0f));
        for (float y : {p.y, 2.0f * level - p.y}) {
            const POINT q = SceneFrames::pixelOf(chain(), {p.x, y, p.z}, shown);
            left = std::min(left, q.x);
            right = std::max(right, q.x);
            top = std::min(top, q.y);
            bottom = std::max(bottom, q.y);
        }
    }
    const POINT base = SceneFrames::pixelOf(chain(), {box.center.x, level, box.center.z}, shown);
    ASSERT_GT(left, 0);
    ASSERT_LT(right, 1024);
    ASSERT_GT(top, 0);
    ASSERT_LT(bottom, 768);
    ASSERT_GT(bottom, base.y + 20) << "the mirrored tree reaches below its base";
    auto changed = [&](const Level& a, const Level& b, LONG first, LONG last) {
        int n = 0;
        for (LONG y = first; y < last; ++y)
            for (LONG x = left; x <= right; ++x)
                n += difference(a.at(uint32_t(x), uint32_t(y)), b.at(uint32_t(x), uint32_t(y))) > 12;
        return n;
    };
    const LONG below = base.y + 4;
    EXPECT_GT(changed(shown, gone, top, base.y - 4), 200) << "the tree itself";
    EXPECT_GT(changed(shown, gone, below, bottom), 100) << "its reflection in the water";
    EXPECT_GT(changed(masked, gone, top, base.y - 4), 200) << "masked, the tree itself still shows";
    EXPECT_LT(changed(masked, gone, below, bottom), 10) << "but not in the water";
}

// Trees and rocks beyond the distance at which they come alive stand in
// the far field's pictures: seen from the western slope, the valley's far
// trees show where they stand with the far field, and not without it.
TEST_F(LevelViews, TheFarFieldShowsTheDistantTrees)
{
    setTime(12.5f);
    chain().meadow->clear();
    place({"west", -1400.0f, -800.0f, 40.0f, -90.0f, -3.0f, 0.0f});
    HLod* farField = chain().farField;
    ASSERT_NE(farField, nullptr);
    frame("farfield-first");
    const Level with = frame("farfield-on");
    chain().farField = nullptr;
    const Level without = frame("farfield-off");
    chain().farField = farField;

    OrientedBox everywhere;
    everywhere.halfExtents = {1.0e6f, 1.0e6f, 1.0e6f};
    DynArray<HLod::Objects::Object> objects(64);
    const int32_t count = scene().objectManager.collectTouchingBox(everywhere, objects);
    int distant = 0, shown = 0;
    const float radius = std::sqrt(3.0f) * 0.5f * farField->distance;
    for (int32_t i = 0; i < count; ++i) {
        const HLod::Objects::Object& o = *objects.at(i);
        if (!o.farField)
            continue;
        const vec3d at = o.transform.transformPoint(o.box.center);
        const vec3d seen = at - chain().position;
        if (seen.length() < radius + 50.0f || seen.length() > 0.9f * chain().range)
            continue;
        const POINT p = SceneFrames::pixelOf(chain(), at, with);
        if (p.x < 4 || p.y < 4 || p.x >= int(with.width) - 4 || p.y >= int(with.height) - 4)
            continue;
        ++distant;
        int changed = 0;
        for (int y = p.y - 3; y <= p.y + 3; ++y)
            for (int x = p.x - 3; x <= p.x + 3; ++x)
                changed += difference(with.at(uint32_t(x), uint32_t(y)), without.at(uint32_t(x), uint32_t(y))) > 12;
        shown += changed > 0 ? 1 : 0;
    }
    EXPECT_GE(distant, 5);
    EXPECT_GE(shown, distant - 1);
}

// The meadow asks the level's own road network: a layer that grows only on
// ways puts its blades on the dirt track, one that grows off them keeps off.
TEST_F(LevelViews, GrassAsksTheLevelsRoads)
{
    for (uint32_t onWay : {1u, 0u}) {
        Meadow::GrasLayer::Settings s;
        s.bladesPerPatch = 60;
        s.minimumNormal = 0.0f;
        s.minimumGround = -1.0e6f;
        s.maximumGround = 1.0e6f;
        s.range = 300.0f;
        s.fadeStart = 200.0f;
        s.onWay = onWay;
        Meadow::GrasLayer layer(chain().meadow, s);
        layer.state = Meadow::GrasLayer::ready;
        layer.updatePatchGrid({-640.0f, 100.0f, -720.0f}); // on the track
        int blades = 0, onTheTrack = 0;
        for (auto* node = layer.patches.head(); node; node = node->next)
            for (uint32_t k = 0; k < node->item->bladeCount; ++k, ++blades) {
                const vec3d& p = node->item->blades[k].position;
                onTheTrack += gWayNetwork.isOnWay(p.x, p.z) ? 1 : 0;
            }
        ASSERT_GT(blades, 50) << onWay;
        EXPECT_EQ(onTheTrack, onWay ? blades : 0) << onWay;
    }
}


using CourseRace::raceClock;
using CourseRace::raceClockNow;

// For as long as it lives, the race runs frame by frame as the test steps
// it: the physics stepped by each frame's own update (its thread stopped)
// and the race's clock moved 40 ms a frame; throttle holds the player's
// accelerator down.
class SteppedRace
{
public:
    SteppedRace() : physics_(LevelViews::app->physicsManager()), previousClock_(gRaceClock)
    {
        if (physics_) {
            physics_->thread.stop();
            threaded_ = physics_->threaded;
            physics_->threaded = 0;
        }
        gRaceClock = raceClock;
    }
    ~SteppedRace()
    {
        throttle(false);
        gRaceClock = previousClock_;
        if (physics_) {
            physics_->threaded = threaded_;
            if (threaded_)
                physics_->thread.start();
        }
    }
    SteppedRace(const SteppedRace&) = delete;
    SteppedRace& operator=(const SteppedRace&) = delete;

    bool running() const { return physics_ != nullptr; }
    static void step()
    {
        raceClockNow += 40;
        gFrameFactor.store(1.0f);
        LevelViews::app->pumpMessages();
        LevelViews::app->update();
    }
    void throttle(bool held)
    {
        const uint8_t*& key = LevelViews::app->controls.keyboardSet.keys[0];
        if (held && !bound_) {
            bound_ = key;
            key = &up_;
        } else if (!held && bound_) {
            key = bound_;
            bound_ = nullptr;
        }
    }

private:
    EntityManager::PhysicsManager* physics_;
    uint32_t threaded_ = 0;
    const RaceClock previousClock_;
    const uint8_t* bound_ = nullptr;
    uint8_t up_ = 1;
};

// A TimeTrial on the builder's valley, twice: set up from the level's
// objects, the intro flight, the countdown (a frame kept as a picture), three
// laps with the player's quad set down before and after each gate, the end,
// the records, and the release in the menu's order.
TEST_F(LevelViews, ATimeTrialRunsFromSetUpToRelease)
{
    Game& game = scene().game;
    const RaceClock previousClock = gRaceClock;
    gRaceClock = raceClock;
    const auto step = [] {
        gFrameFactor.store(1.0f);
        app->pumpMessages();
        app->update();
    };
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        setUpRace(game, builtLevel(), Game::TimeTrial, 1, 4);
        ASSERT_EQ(game.phase, 1u);
        ASSERT_EQ(game.vehicles.count(), 1u) << "TimeTrial: the player alone";
        EXPECT_EQ(game.gates.count(), 28u) << "group 0 only";
        EXPECT_EQ(game.choice.goal, 3);
        ASSERT_NE(game.course, nullptr) << "the Start stands on the course";
        Game::Vehicle* player = game.getPlayerVehicle();
        ASSERT_NE(player, nullptr);
        Game::Vehicle::QuadInstance* quad = player->getQuad();
        ASSERT_NE(quad, nullptr);
        EXPECT_EQ(quad->frozen, 1u) << "held on the grid";

        int frames = 0;
        while (game.phase == 1 && frames++ < 4000)
            step();
        ASSERT_EQ(game.phase, 2u) << "the intro flight ended";
        EXPECT_EQ(scene().camera.mode, uint32_t(SceneCamera::vehicleMode));
        ASSERT_NE(player->getHUD(), nullptr);
        bool kept = false;
        while (game.phase == 2 && frames++ < 8000) {
            raceClockNow += 40;
            if (!kept && run == 0) {
                frame("RaceCountdown");
                kept = true;
            } else {
                step();
            }
        }
        ASSERT_EQ(game.phase, 3u);
        EXPECT_EQ(quad->frozen, 0u) << "released at the start";

        // Three laps: before and after each gate along its facing.
        for (int lap = 0; lap < 3 && game.phase == 3; ++lap)
            for (auto* node = game.gates.head(); node; node = node->next) {
                matrix3d transform;
                node->item->object->getTransform(transform, true);
                const vec3d at = transform.row(3), along = transform.row(2).normalised();
                const vec3d side = transform.row(0).normalised();
                for (float offset : {-20.0f, 20.0f}) {
                    raceClockNow += 150;
                    quad->placeOnTerrain(at + along * offset, &side);
                    step();
                }
            }
        EXPECT_EQ(player->lap, 3) << player->gatesPassed << " gates passed";
        EXPECT_EQ(player->finished, 1u);
        step();
        EXPECT_EQ(game.phase, 4u) << "over a frame after the finish";
        ASSERT_NE(game.records.laps[0], nullptr);
        ASSERT_NE(game.records.races[0], nullptr);
        EXPECT_NE(GetFileAttributesW(game.records.fileName.text()), INVALID_FILE_ATTRIBUTES) << "records saved";

        // The menu's release: vehicles, parking slots, the race.
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
        EXPECT_EQ(game.phase, 0u);
        EXPECT_EQ(game.vehicles.count(), 0u);
        EXPECT_EQ(game.gates.count(), 0u);
        EXPECT_EQ(game.rockets.count() + game.oilPuddles.count(), 0u);
        EXPECT_EQ(scene().camera.mode, uint32_t(SceneCamera::freeMode));
        for (int k = 0; k < 5; ++k)
            step();
    }
    gRaceClock = previousClock;
}


// A race paused as the pause screen pauses it: behind the pause the
// player's quad, driving off with the throttle held, stands where it is and
// its engine falls silent; the resume lets both go on. The physics is
// stepped by the frame's own update, so that every frame steps it once.
TEST_F(LevelViews, ThePauseHoldsTheQuadsAndTheirEnginesAndTheResumeLetsThemGo)
{
    SteppedRace race;
    ASSERT_TRUE(race.running());
    const auto step = SteppedRace::step;
    Game& game = scene().game;
    setUpRace(game, builtLevel(), Game::TimeTrial, 1, 1);
    for (int frames = 0; game.phase < 3 && frames < 12000; ++frames)
        step();
    ASSERT_EQ(game.phase, 3u);
    Game::Vehicle* player = game.getPlayerVehicle();
    ASSERT_NE(player, nullptr);
    Game::Vehicle::QuadInstance* quad = player->getQuad();
    ASSERT_NE(quad, nullptr);
    ASSERT_NE(player->entity(), nullptr);
    Audio::Sound3D* engine = quad->engineSound.carrier;
    ASSERT_NE(engine, nullptr) << "the race runs with a sound device";

    race.throttle(true);
    const vec3d start = player->entity()->world.row(3);
    for (int k = 0; k < 40; ++k)
        step();
    EXPECT_GT((player->entity()->world.row(3) - start).length(), 0.5f) << "the quad drives before the pause";
    EXPECT_EQ(engine->state, Audio::SoundInterface::playing);

    scene().pause();
    EXPECT_EQ(engine->state, Audio::SoundInterface::paused) << "the engine falls silent";
    const vec3d paused = player->entity()->world.row(3);
    neRigidBody* const body = quad->body();
    const vec3d pausedBody = body ? body->position() : paused;
    for (int k = 0; k < 40; ++k)
        step();
    const vec3d held = player->entity()->world.row(3);
    EXPECT_EQ(held, paused) << "the quad stands where it was";
    if (body)
        EXPECT_EQ(body->position(), pausedBody) << "and so does its body";
    EXPECT_EQ(engine->state, Audio::SoundInterface::paused) << "silent through the paused frames";

    scene().resume();
    EXPECT_EQ(engine->state, Audio::SoundInterface::playing) << "the engine runs again";
    for (int k = 0; k < 40; ++k)
        step();
    EXPECT_GT((player->entity()->world.row(3) - held).length(), 0.5f) << "the quad drives on after the resume";

    race.throttle(false);
    game.removeRaceVehicles();
    game.releaseParkingSlots();
    game.clearRace();
}

// Each side file of the valley empty, cut to half or full of random bytes,
// the damaged object file first (it once left a race frozen on its first
// frame): the level loads (LevelBench prints how long), and the menu either
// refuses the race (no ground, course, start or grid is left) or sets it up,
// and then the player's quad, held at full throttle, drives off over the
// ground.
TEST_F(LevelViews, DamagedSideFilesGiveARaceThatDrivesOrNone)
{
    SteppedRace race;
    ASSERT_TRUE(race.running());
    enum Damage { empty, cut, random };
    const char* const damageNames[] = {"empty", "cut", "random"};
    std::mt19937 bytes(75);
    Game& game = scene().game;
    GameMenu::World world(&scene());
    for (const wchar_t* extension : {L".obj", L".way", L".wtr", L".mdw", L".map"})
        for (Damage damage : {empty, cut, random}) {
            const std::string name = std::string(extension, extension + 4).substr(1) + "-" + damageNames[damage];
            SCOPED_TRACE(name);
            scene().clear();
            const std::wstring path = copyOfLevel(freshFolder(L"LevelSideDamage"));
            const std::wstring file = path.substr(0, path.size() - 4) + extension;
            std::vector<uint8_t> content = read(file);
            if (damage == empty)
                content.clear();
            else if (damage == cut)
                content.resize(content.size() / 2);
            else
                for (uint8_t& b : content)
                    b = uint8_t(bytes());
            ASSERT_TRUE(write(file, content));
            ASSERT_TRUE(load(path));
            if (!world.raceCanRun()) {
                EXPECT_NE(std::wstring(extension), L".wtr") << "water alone never keeps a race from running";
                EXPECT_NE(std::wstring(extension), L".mdw") << "nor does grass";
                continue;
            }
            // Half the objects keep the grid, the Start and the first gates
            // of the course (the race's objects come last, and the course
            // has 28 gates): that race drives; less leaves nothing to race.
            if (damage != cut) {
                EXPECT_NE(std::wstring(extension), L".obj") << "no grid, no start: nothing to race";
            }
            setUpRace(game, path, Game::OffRoadRace, 1, 4);
            ASSERT_EQ(game.phase, 1u);
            for (int frames = 0; game.phase < 3 && frames < 1000; ++frames)
                SteppedRace::step();
            ASSERT_EQ(game.phase, 3u) << "the race starts";
            Game::Vehicle* player = game.getPlayerVehicle();
            ASSERT_NE(player, nullptr);
            ASSERT_NE(player->entity(), nullptr);
            race.throttle(true);
            const vec3d from = player->entity()->world.row(3);
            for (int k = 0; k < 60; ++k)
                SteppedRace::step();
            race.throttle(false);
            const vec3d to = player->entity()->world.row(3);
            EXPECT_GT(std::hypot(to.x - from.x, to.z - from.z), 5.0f) << "the quad drives off";
            EXPECT_NEAR(to.y, gTerrain.getHeight(to.x, to.z, 3), 3.0f) << "on the ground";
            game.removeRaceVehicles();
            game.releaseParkingSlots();
            game.clearRace();
        }
    scene().clear();
    ASSERT_TRUE(load(builtLevel()));
    EXPECT_TRUE(world.raceCanRun()) << "the whole level holds its race";
}

// The valley's objects shuffled with a fixed seed (numbers and groups
// anywhere in 0 to 255, objects dropped, repeated, moved or given another
// package, a dozen more player slots, then a few random bytes): races in
// four modes set up from what loads, run and are released; the off-road
// race runs 600 frames.
TEST_F(LevelViews, AMutatedObjectFileSetsUpAndRunsRaces)
{
    const auto ground = [](float x, float z) { return gTerrain.getHeight(x, z, 3); };
    std::mt19937 draw(48);
    const wchar_t* const packages[] = {L"Start",  L"Goal", L"PlayerSlot", L"Gate", L"PlayerParkingSlot",
                                       L"Podium", L"Oil",  L"Nitro",      L"Quad", L"CaptureFlag", L"NoSuchPackage"};
    std::vector<StaticObjectWriter::Object> objects;
    for (StaticObjectWriter::Object o : ObjectSamples::valley(ground)) {
        switch (draw() % 8) {
        case 0: continue;
        case 1: objects.push_back(o); break;
        case 2: o.state = uint8_t(draw()); break;
        case 3: o.flag = uint8_t(draw()); break;
        case 4: o.package = String(packages[draw() % std::size(packages)]); break;
        case 5:
            o.position[0] += float(int(draw() % 401) - 200);
            o.position[2] += float(int(draw() % 401) - 200);
            break;
        default: break;
        }
        objects.push_back(o);
    }
    for (int i = 0; i < 12; ++i) {
        StaticObjectWriter::Object slot;
        slot.package = String(L"PlayerSlot");
        slot.position[0] = 190.0f + float(draw() % 20);
        slot.position[2] = -450.0f + float(draw() % 100);
        slot.position[1] = ground(slot.position[0], slot.position[2]) + 3.0f;
        slot.flag = uint8_t(draw() % 6);
        objects.push_back(slot);
    }
    const std::wstring folder = freshFolder(L"LevelMutated");
    const std::wstring level = copyOfLevel(folder);
    ASSERT_TRUE(StaticObjectWriter::save(objects, String((folder + L"Valley.obj").c_str())));
    std::vector<uint8_t> bytes = read(folder + L"Valley.obj");
    ASSERT_GT(bytes.size(), 64u);
    for (int i = 0; i < 6; ++i)
        bytes[8 + draw() % (bytes.size() - 8)] = uint8_t(draw());
    ASSERT_TRUE(write(folder + L"Valley.obj", bytes));
    scene().clear();
    ASSERT_TRUE(load(level));

    Game& game = scene().game;
    const RaceClock previousClock = gRaceClock;
    gRaceClock = raceClock;
    struct Run
    {
        int32_t mode;
        int32_t courseType;
        int frames;
    };
    for (const Run& run : {Run{Game::OffRoadRace, 1, 600}, Run{Game::KnockOut, 2, 100},
                           Run{Game::CaptureTheFlag, 3, 100}, Run{Game::Jamboree, 1, 100}}) {
        SCOPED_TRACE(run.mode);
        setUpRace(game, level, run.mode, run.courseType, 8);
        EXPECT_EQ(game.phase, 1u);
        EXPECT_EQ(game.vehicles.count(), 8) << "eight at most, whatever the slots";
        for (int frame = 0; frame < run.frames; ++frame) {
            raceClockNow += 40;
            gFrameFactor.store(1.0f);
            app->pumpMessages();
            app->update();
            ASSERT_GE(game.phase, 1u) << frame;
            ASSERT_LE(game.phase, 4u) << frame;
        }
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
        EXPECT_EQ(game.phase, 0u);
        EXPECT_EQ(game.vehicles.count(), 0);
        EXPECT_EQ(game.gates.count(), 0);
        EXPECT_EQ(game.rockets.count() + game.oilPuddles.count(), 0);
    }
    gRaceClock = previousClock;
}


// The frame as it stands drawn again, without the application's update:
// with every particle system held back when heldBack.
Level redraw(const std::string& name, bool heldBack)
{
    std::vector<std::pair<ParticleSystem*, uint32_t>> stopped;
    for (auto* node = LevelViews::chain().particles->systems.head(); heldBack && node; node = node->next) {
        stopped.emplace_back(node->item, node->item->stopped);
        node->item->stopped = 1;
    }
    LevelViews::chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
    LevelViews::app->clearFrame();
    LevelViews::chain().render(true);
    Level pixels = TestDevice::readSurface(LevelViews::chain().targets[0].surface);
    LevelViews::keep(LevelViews::chain().targets[0].surface, name);
    LevelViews::chain().present();
    for (const auto& [system, flag] : stopped)
        system->stopped = flag;
    return pixels;
}

// What the effect's particles do to the square of pixels around a point.
struct EffectChange
{
    int changed = 0;     // pixels that differ
    int brightened = 0;  // of them, made brighter
};

EffectChange effectChange(const Level& with, const Level& without, POINT centre, int half)
{
    EffectChange out;
    for (int y = centre.y - half; y <= centre.y + half; ++y)
        for (int x = centre.x - half; x <= centre.x + half; ++x) {
            if (x < 0 || y < 0 || x >= int(with.width) || y >= int(with.height))
                continue;
            const uint32_t a = with.at(uint32_t(x), uint32_t(y)), b = without.at(uint32_t(x), uint32_t(y));
            if (difference(a, b) <= 24)
                continue;
            ++out.changed;
            out.brightened += channelSum(a) > channelSum(b) ? 1 : 0;
        }
    return out;
}

// The builder's quad driven north through the shallow western edge of the
// valley's lake, a unit a frame, its wheels spinning: the tracks take the
// lit ground's colour, each wheel stands in the water and tells its contact
// the depth, the splash plays at least half loud, the spray flies
// blue-white; the frames are kept as pictures, with and without the wheel
// dirt.
TEST_F(LevelViews, AQuadDrivingThroughTheLakeSplashes)
{
    using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
    ObjPkgManager::Package* quadPackage = scene().objectPackages.findPackage(String(L"Quad"));
    ASSERT_NE(quadPackage, nullptr);
    ASSERT_NE(quadPackage->functions.quadPhysics, nullptr);
    const WaterFileWriter::Area lake = WaterSamples::valley()[0];
    // Westwards from the lake's middle to where the water is a unit deep.
    const float startZ = -450.0f;
    float x = -190.0f;
    while (x > -420.0f && gTerrain.getHeight(x, -410.0f, 3) < lake.level - 1.0f)
        x -= 0.2f;
    ASSERT_GT(x, -420.0f) << "a shallow edge west of the middle";
    const RaceClock previousClock = gRaceClock;
    gRaceClock = raceClock;

    EntityManager::Entity body(*chain().entities);
    for (auto* node = quadPackage->meshes.head(); node; node = node->next)
        body.addStoredMesh(*node->item, true, true, nullptr, nullptr);
    const auto groundAt = [](float px, float pz) { return vec3d(px, gTerrain.getHeight(px, pz, 3), pz); };
    body.world.setRow(3, groundAt(x, startZ));
    body.onMoved();
    auto quad = std::make_unique<QuadPhysics::Instance>(quadPackage->functions.quadPhysics, &body, 1.0f);
    quad->swapChain = &chain();
    quad->startEffects();
    WheelDirt& dirt = quad->wheelDirt;
    ASSERT_NE(dirt.dust, nullptr);
    ASSERT_NE(dirt.clods, nullptr);
    // The frames run on a steady clock: 25 a second, whatever the machine
    // takes to draw them.
    const auto steadyFrame = [](const std::string& name) {
        app->pumpMessages();
        app->update();
        gFrameFactor.store(1.0f);
        gFrameTime.store(0.04f);
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        app->clearFrame();
        chain().render(true);
        Level pixels = TestDevice::readSurface(chain().targets[0].surface);
        keep(chain().targets[0].surface, name);
        chain().present();
        return pixels;
    };
    // Seen from behind and above, without the reeds of the shore.
    setTime(12.5f);
    chain().meadow->clear();
    const auto follow = [&](float z) { SceneFrames::look(chain(), {x, lake.level + 12.0f, z - 24.0f}, 0.0f, -25.0f); };
    follow(startZ);
    steadyFrame("LakeStart");
    // Standing, the tracks take the lit ground's colour under their contacts
    // where its patch is in view.
    for (WheelDirt::Track& track : dirt.tracks) {
        track.contact->synced.contactPoint = groundAt(x, startZ);
        std::fill(std::begin(track.colour), std::end(track.colour), -1.0f);
    }
    dirt.update();
    uint32_t ground = 0;
    ASSERT_TRUE(gTerrain.sampleLight(x, startZ, ground)) << "the quad's patch is in view";
    for (const WheelDirt::Track& track : dirt.tracks)
        for (int k = 0; k < 4; ++k)
            EXPECT_EQ(track.colour[k], float((ground >> (k == 3 ? 24 : 16 - 8 * k)) & 0xFF) / 255.0f) << k;

    // One frame of the drive: the quad a unit further north, its four wheel
    // contacts on the lake's floor, the wheels turning 40 degrees.
    int step = 0;
    float deepest = 0.0f, shallowest = 1e9f;
    int inWater = 0, sprays = 0;
    const auto drive = [&](const std::string& name) {
        ++step;
        const float z = startZ + float(step);
        raceClockNow += 40;
        gFrameFactor.store(1.0f);
        gFrameTime.store(0.04f);
        body.world.setRow(3, groundAt(x, z) + vec3d(0.0f, 0.5f, 0.0f));
        body.onMoved();
        const float corners[4][2] = {{-0.6f, 0.8f}, {0.6f, 0.8f}, {-0.6f, -0.8f}, {0.6f, -0.8f}};
        for (int i = 0; i < WheelDirt::trackCount; ++i) {
            QuadPhysics::Contact* contact = dirt.tracks[i].contact;
            contact->synced.contactPoint = groundAt(x + corners[i][0], z + corners[i][1]);
            contact->synced.centre = contact->synced.contactPoint + vec3d(0.0f, 0.4f, 0.0f);
            contact->grounded = 1;
            contact->wheel->spinAngle = float(step) * 40.0f;
        }
        dirt.update();
        for (const WheelDirt::Track& track : dirt.tracks) {
            EXPECT_EQ(float(track.contact->waterDepth), track.waterDepth);
            deepest = std::max(deepest, track.waterDepth);
            shallowest = std::min(shallowest, track.waterDepth);
            inWater += track.inWater;
        }
        follow(z);
        const Level pixels = steadyFrame(name);
        for (auto* node = dirt.dust->particles.head(); node; node = node->next) {
            const Particle& p = *node->item;
            sprays += !p.hidden && p.colour.r == 200 && p.colour.g == 220 && p.colour.b == 238 ? 1 : 0;
        }
        return pixels;
    };
    // The drive, each frame kept as a picture, and the same frame drawn
    // again with the wheel dirt held back.
    int sprayed = 0, mostSprayed = 0;
    for (int i = 0; i < 24; ++i) {
        const Level splash = drive("LakeSplash");
        const Level quiet = redraw("LakeQuiet", true);
        int changed = 0;
        for (uint32_t y = 0; y < splash.height; ++y)
            for (uint32_t x = 0; x < splash.width; ++x)
                changed += difference(splash.at(x, y), quiet.at(x, y)) > 24 ? 1 : 0;
        sprayed += changed > 0 ? 1 : 0;
        mostSprayed = std::max(mostSprayed, changed);
    }
    // The spray shows on the picture, over more than a few pixels.
    EXPECT_GE(sprayed, 12);
    EXPECT_GE(mostSprayed, 300);
    EXPECT_GT(shallowest, 0.2f);
    EXPECT_LE(deepest, 2.5f);
    EXPECT_EQ(inWater, 24 * WheelDirt::trackCount) << "every wheel in the water every frame";
    EXPECT_GE(dirt.splashLevel, 0.5f);
    if (dirt.splashSound) {
        EXPECT_EQ(dirt.splashSound->state, Audio::SoundInterface::playing);
        EXPECT_NEAR(dirt.splashSound->volume, dirt.splashLevel * 0.9f, 1e-6f);
    }
    EXPECT_GT(sprays, 0) << "blue-white spray";

    quad.reset();
    gRaceClock = previousClock;
}

}


// A bonfire, a rocket's explosion and an exhaust's smoke in front of the
// camera over the valley floor at noon, through the game's whole frame:
// each shows on a region of the picture around its place (the frame drawn
// again with every particle system held back is the one to compare with):
// the flames and the blast's burst brighten it, and the fire and the smoke
// leave the picture beside them alone.
TEST_F(LevelViews, ParticleEffectsShowInTheGamesFrame)
{
    using Fire = ObjPkgManager::Functions::Fire;
    using Rocket = ObjPkgManager::Functions::Rocket;
    const RaceClock previousClock = gRaceClock;
    gRaceClock = raceClock;
    setTime(12.5f);
    chain().meadow->clear();
    // Each effect 60 units further north than the one before, the camera
    // behind it: the earlier ones lie behind the camera.
    float z = -960.0f;
    const float x = -150.0f;
    const auto createInstance = [](const wchar_t* name, const vec3d& at) -> DynObject* {
        Object* object =
            scene().objectPackages.createObject(scene().objectPackages.findPackage(String(name)), at, 1.0f);
        if (!object)
            return nullptr;
        object->instance = object->createInstance();
        return dynamic_cast<DynObject*>(object->instance);
    };
    const auto functionOf = [](DynObject* object, uint32_t flag) -> ObjectFuncInstInterface* {
        if (!object || !object->functions)
            return nullptr;
        DynObject::FunctionManager::Function* entry = object->functions->find(flag);
        return entry ? entry->instance : nullptr;
    };
    const auto steps = [](int frames) {
        for (int f = 0; f < frames; ++f) {
            raceClockNow += 40;
            gFrameFactor.store(1.0f);
            gFrameTime.store(0.04f);
            frame("EffectRun");
        }
    };

    struct Case
    {
        const char* name;
        // Starts the effect at the point; the frames it runs before the look.
        std::function<bool(const vec3d&)> start;
        int frames;
        vec3d lookAt; // from the point
        float distance; // of the camera behind the point
        int minimumChanged;
        int minimumBrightened; // of them, made brighter
        bool alone; // nothing 350 pixels to the side changes
    };
    ExhaustSmoke smoke;
    EntityManager::Entity exhaustOwner(*chain().entities);
    const Case cases[] = {
        {"Bonfire",
         [&](const vec3d& at) {
             auto* fires = dynamic_cast<Fire::Instance*>(functionOf(createInstance(L"Bonfire", at), Fire::flag));
             return fires && fires->builtCount > 0;
         },
         20, {0.0f, 1.5f, 0.0f}, 22.0f, 1500, 1350, true},
        {"Explosion",
         [&](const vec3d& at) {
             auto* rocket = dynamic_cast<Rocket::Instance*>(
                 functionOf(createInstance(L"Rocket", at + vec3d(0.0f, 2.0f, 0.0f)), Rocket::flag));
             if (!rocket)
                 return false;
             rocket->explode();
             return true;
         },
         4, {0.0f, 2.0f, 0.0f}, 45.0f, 3000, 500, false},
        {"Exhaust",
         [&](const vec3d& at) {
             exhaustOwner.world.setRow(3, at + vec3d(0.0f, 0.5f, 0.0f));
             smoke.init(&chain(), &exhaustOwner, nullptr);
             smoke.create(matrix3d::identity());
             smoke.throttleLevel = 1.0f;
             return smoke.system != nullptr;
         },
         30, {0.0f, 1.5f, 0.0f}, 22.0f, 150, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        z += 60.0f;
        const vec3d ground(x, gTerrain.getHeight(x, z, 3), z);
        SceneFrames::look(chain(), ground + vec3d(0.0f, 4.0f, -c.distance), 0.0f, -4.0f);
        std::srand(45);
        ASSERT_TRUE(c.start(ground));
        steps(c.frames);
        const Level with = redraw(std::string("Effect") + c.name, false);
        const Level without = redraw(std::string("Effect") + c.name + "HeldBack", true);
        const POINT centre = SceneFrames::pixelOf(chain(), ground + c.lookAt, with);
        const EffectChange change = effectChange(with, without, centre, 60);
        EXPECT_GE(change.changed, c.minimumChanged);
        EXPECT_GE(change.brightened, c.minimumBrightened) << change.brightened << " of " << change.changed;
        if (c.alone)
            EXPECT_EQ(effectChange(with, without, {centre.x + 350, centre.y}, 40).changed, 0);
    }
    smoke.release();
    gRaceClock = previousClock;
}

// The grid's quads are released onto the road: they stand on their wheels,
// not on their slots' pads, and the opponents drive away.
TEST_F(LevelViews, TheGridsQuadsStandOnTheirWheelsAndDriveOff)
{
    scene().clear();
    ASSERT_TRUE(load(builtLevel()));
    Game& game = scene().game;
    const RaceClock previousClock = gRaceClock;
    gRaceClock = raceClock;
    setUpRace(game, builtLevel(), Game::OffRoadRace, 1, 8);
    std::vector<vec3d> starts;
    std::vector<bool> grounded;
    float farthest = 0.0f;
    for (int frame = 0; frame < 900 && game.phase >= 1; ++frame) {
        raceClockNow += 40;
        gFrameFactor.store(1.0f);
        app->pumpMessages();
        app->update();
        Sleep(5);
        if (game.phase != 3 || frame % 10)
            continue;
        size_t k = 0;
        for (auto* node = game.vehicles.head(); node; node = node->next, ++k) {
            Game::Vehicle::QuadInstance* quad = node->item->getQuad();
            ASSERT_NE(quad, nullptr);
            neRigidBody* body = quad->body();
            ASSERT_NE(body, nullptr);
            const vec3d at = body->getTransform()->row(3);
            if (starts.size() <= k) {
                starts.push_back(at);
                grounded.push_back(false);
            }
            const auto& rear = quad->wheels[2];
            if (rear.contacts[0].grounded && rear.contacts[1].grounded)
                grounded[k] = true;
            if (k > 0)
                farthest = std::max(farthest, (at - starts[k]).length());
        }
    }
    ASSERT_EQ(grounded.size(), 8u);
    for (size_t k = 0; k < grounded.size(); ++k)
        EXPECT_TRUE(grounded[k]) << "quad " << k << " never stood on its rear wheels";
    EXPECT_GT(farthest, 10.0f) << "no opponent drove off the grid";
    game.removeRaceVehicles();
    game.releaseParkingSlots();
    game.clearRace();
    gRaceClock = previousClock;
}

using CourseRace::CourseRun;
using CourseRace::eightQuadRace;
using CourseRace::Pace;
using CourseRace::PhysicsOnTestThread;
using CourseRace::steady35;
using CourseRace::steady7;
using CourseRace::steady5;
using CourseRace::uneven;

static RaceChoice deChampionshipChoice(uint8_t raceNumber) { return CourseRace::championshipChoice("DE", raceNumber); }

// How far the player's quad left standing on the grid has been moved from
// where it stood when the race began (horizontally), over the frames from
// the start until it is knocked out or until `until` ms of world clock; and
// of that the way it went faster than a crawl (a unit a second), pushed or
// rolling on after a push: a quad standing alone creeps off slowly too, its
// wheels' rolling resistance fading to nothing at a standstill.
struct StandingWatch
{
    // Drivers pass or wait behind it; in the crowd at the start one may
    // still touch it: 0 to 3.5 units over two minutes at 35, 7 and uneven
    // frame rates, where they shoved it hundreds before (until it was set
    // back). Its own creep adds some 7 on DE's grid: 7 to 12 in all.
    static constexpr float shovedFar = 10.0f;
    static constexpr float movedFar = 20.0f;
    static constexpr float crawl = 1.0f; // units a second
    uint32_t until = 0xFFFFFFFFu;
    uint32_t startedAt = 0;
    uint32_t lastAt = 0;
    vec3d grid, last;
    float moved = 0.0f;
    float shoved = 0.0f;
    int frames = 0;

    void look(const Game& game, uint32_t worldNow)
    {
        const Game::Vehicle* player = game.getPlayerVehicle();
        if (!player || !player->entity() || player->knockedOut || game.phase != 3)
            return;
        const vec3d at = player->entity()->world.row(3);
        if (frames == 0) {
            grid = last = at;
            startedAt = lastAt = worldNow;
        }
        if (worldNow - startedAt > until)
            return;
        ++frames;
        moved = std::max(moved, vec3d(at.x - grid.x, 0.0f, at.z - grid.z).length());
        const float step = vec3d(at.x - last.x, 0.0f, at.z - last.z).length();
        if (worldNow != lastAt && step * 1000.0f > crawl * float(worldNow - lastAt))
            shoved += step;
        last = at;
        lastAt = worldNow;
    }
};

// Seven opponents race the race on its map, eight quads with the player's
// standing on the grid, at each pace: each passes every gate of every lap
// in turn and finishes within ten minutes of the world's time. What each
// did is printed: its finish time, put-backs, overturns, back-outs and the
// gates it missed. With standingFor (ms of world clock), the player's quad
// is not moved more than a few units by the others for so long.
static void opponentsFinishTheRace(const char* name, const RaceChoice& race, std::initializer_list<Pace> paces,
                                   uint32_t standingFor = 0)
{
    SCOPED_TRACE(name);
    for (const Pace& pace : paces) {
        SCOPED_TRACE(pace.name);
        StandingWatch standing;
        standing.until = standingFor;
        CourseRace::Extras extras;
        extras.afterFrame = [&standing](Game& game) {
            standing.look(game, game.worldNow());
            return true;
        };
        const CourseRun run = CourseRace::raceCourse(*LevelViews::app, race, pace, 10u * 60u * 1000u, extras);
        EXPECT_EQ(run.failure, "");
        EXPECT_EQ(run.opponents.size(), 7u);
        if (standingFor) {
            EXPECT_LT(standing.shoved, StandingWatch::shovedFar) << "the standing player's quad was shoved along by others";
            EXPECT_LT(standing.moved, StandingWatch::movedFar);
            EXPECT_GT(standing.frames, 100) << "frames watched";
            std::printf("%s at %s: the player's quad moved %.2f units in the first %u ms, %.2f of them faster than a crawl\n",
                        name, pace.name, standing.moved, standingFor, standing.shoved);
        }
        CourseRace::print(stdout, name, pace, run);
        for (const CourseRun::Opponent& opponent : run.opponents) {
            EXPECT_EQ(opponent.gates, run.everyGate()) << "opponent " << opponent.name;
            EXPECT_NE(opponent.finishedAt, 0u) << "opponent " << opponent.name << " did not finish";
        }
        // At a steady pace the course watch sets an opponent back less than
        // once a lap on average, and the world keeps pace with the race
        // clock: a frame of up to 0.2 s is stepped whole, piece by piece
        // (within 2 %: on a loaded machine the frames' own measure wavers).
        if (pace.frame > 0.0f) {
            EXPECT_LT(run.puttingsPerLap(), 1.0);
            EXPECT_NEAR(double(run.worldMs), double(run.raceMs), 0.02 * double(run.raceMs));
        }
    }
}

// Each country's championship has a map of each course type, each a map
// of its own, and the eight-quad race on it is chosen at the difficulty
// asked for: the rally course as a circuit of two laps, the others with
// their schedule's goal.
TEST_F(LevelViews, EveryCountryHasARaceOfEightOnEachCourseTypeAtEachDifficulty)
{
    std::vector<std::wstring> maps;
    for (const char* country : CourseRace::countries)
        for (int32_t courseType = 1; courseType <= 3; ++courseType)
            for (int32_t difficulty = 0; difficulty <= 2; ++difficulty) {
                SCOPED_TRACE(std::string(country) + " " + std::to_string(courseType) + " " +
                             std::to_string(difficulty));
                const RaceChoice race = eightQuadRace(country, courseType, difficulty);
                ASSERT_NE(race.mapFile.length(), 0u);
                EXPECT_EQ(race.courseType, courseType);
                EXPECT_EQ(race.difficulty, difficulty);
                EXPECT_EQ(race.vehicleCount, 8);
                EXPECT_EQ(race.championshipKey[0], country[0]);
                if (courseType == 3) {
                    EXPECT_EQ(race.gameMode, Game::Circuit);
                    EXPECT_EQ(race.goal, 2);
                }
                if (difficulty == 0)
                    maps.emplace_back(race.mapFile.text());
                else
                    EXPECT_EQ(std::wstring(race.mapFile.text()), maps.back());
            }
    std::sort(maps.begin(), maps.end());
    EXPECT_EQ(std::unique(maps.begin(), maps.end()), maps.end()) << "a map serves two races";
    EXPECT_EQ(maps.size(), 39u);
}

// The "DE" championship's circuit (course type 2, four laps); the player's
// quad standing on the grid is passed, lap after lap, and left where it
// stood for the first two minutes.
TEST_F(LevelViews, OpponentsFinishTheChampionshipCircuit)
{
    opponentsFinishTheRace("DE circuit", eightQuadRace("DE", 2), {steady35, steady7, uneven}, 2u * 60u * 1000u);
}

// The "DE" championship's off-road race (course type 1, four laps of 31
// gates), also at five frames a second, the slowest pace the race keeps.
TEST_F(LevelViews, OpponentsFinishTheChampionshipOffRoadRace)
{
    opponentsFinishTheRace("DE off-road", eightQuadRace("DE", 1), {steady35, steady7, steady5, uneven});
}

// Two laps of the "DE" rally course (course type 3).
TEST_F(LevelViews, OpponentsFinishTheRallyCourse)
{
    opponentsFinishTheRace("DE rally", eightQuadRace("DE", 3), {steady35, steady7, uneven});
}

// The valley as the map choice offers it (a map of the off-road kind), with
// four quads, the player's standing on the grid: its off-road race and its
// circuit, two laps each, end with every opponent through every gate in
// turn, set back less than once a lap over the two races, as on the
// championship's maps (its gates stand every 15 degrees on its turns of
// radius 225: drivers that steered at a point a few units ahead, at full
// speed, swung off its road some 7 times a lap). Seen: 0 to 1 a lap in one
// race, 0.2 to 0.6 over both. With pick-ups on, the oil dropped on its turns
// sets some back too: 0.7 to 1.8 a lap seen, less than three over both.
TEST_F(LevelViews, TheValleysRacesRunLikeTheChampionshipMaps)
{
    for (const uint8_t items : {0, 1}) {
        int puttings = 0, laps = 0;
        for (const int32_t mode : {Game::OffRoadRace, Game::Circuit}) {
            RaceChoice race;
            race.mapFile = String((std::wstring(getModuleFolder().text()) + L"..\\Data\\Map\\Valley.tee").c_str());
            race.courseType = 1;
            race.gameMode = mode;
            race.difficulty = 1;
            race.items = items;
            race.vehicleCount = 4;
            race.goal = 2;
            const std::string name = std::string(mode == Game::OffRoadRace ? "valley off-road race" : "valley circuit") +
                                     (items ? ", pick-ups on" : ", pick-ups off");
            SCOPED_TRACE(name);
            const CourseRun run = CourseRace::raceCourse(*app, race, steady35, 10u * 60u * 1000u);
            CourseRace::print(stdout, name.c_str(), steady35, run);
            EXPECT_EQ(run.failure, "");
            EXPECT_EQ(run.opponents.size(), 3u);
            EXPECT_EQ(run.gateCount, 28);
            for (const CourseRun::Opponent& opponent : run.opponents) {
                EXPECT_EQ(opponent.gates, run.everyGate()) << "opponent " << opponent.name;
                EXPECT_NE(opponent.finishedAt, 0u) << "opponent " << opponent.name << " did not finish";
            }
            puttings += run.puttings();
            laps += int(run.opponents.size()) * run.laps;
        }
        ASSERT_GT(laps, 0);
        const double perLap = double(puttings) / double(laps);
        std::printf("the valley's two races, pick-ups %s: %.2f put-backs a lap\n", items ? "on" : "off", perLap);
        EXPECT_LT(perLap, items ? 3.0 : 1.0);
    }
}

// Where a point lies along the race's course from the head of its way
// list, found on the way itself; false off the way.
static bool courseDistance(const Game& game, const vec3d& point, float& distance)
{
    float before = 0.0f;
    for (const Way::PointNode* node = game.course ? game.course->head() : nullptr; node; node = node->next) {
        const Way::Segment* segment = node->item ? node->item->segment : nullptr;
        if (!segment || segment->positions.empty())
            continue;
        uint32_t inside = 0;
        float along = 0.0f;
        Way::Pos crossSection;
        segment->projectPoint(point.x, point.z, inside, along, &crossSection);
        if (inside) {
            distance = before + crossSection.distance;
            return true;
        }
        before += segment->length;
    }
    return false;
}

// Each championship's knock-out race (the first of the schedule, on its race
// track; a lap for each quad but one) with four quads, the player's driven by
// an opponent's driver, to its end: the frame after the player is knocked out
// or wins. Whenever a lap knocks a quad out, no quad still racing is behind
// it: each has passed as many gates or more, and one that passed as many
// lies as far on past the lap's gate. A round ends when all but one have
// completed its lap: the "DE" race with the player's quad left standing on
// the grid takes the player out at the first round and ends.
TEST_F(LevelViews, EveryKnockOutTakesTheLastQuadStillRacing)
{
    // The country's knock-out of four to the frame after the race is over,
    // calling afterFrame after every frame; the race is left set up.
    const auto knockOut = [&](const char* country, bool playerDriven, const std::function<void(Game&)>& afterFrame) {
        RaceChoice race = CourseRace::championshipChoice(country, 0);
        EXPECT_EQ(race.gameMode, Game::KnockOut);
        race.vehicleCount = 4;
        const RaceClock previousClock = gRaceClock;
        gRaceClock = CourseRace::raceClock;
        scene().clear();
        CourseRun run;
        if (!load(std::wstring(race.mapFile.text()))) {
            run.failure = "the map did not load";
            gRaceClock = previousClock;
            return run;
        }
        std::srand(51);
        CourseRace::Extras extras;
        extras.playerDriven = playerDriven;
        extras.afterFrame = [&](Game& game) {
            afterFrame(game);
            return game.phase < 4;
        };
        CourseRace::raceOpponentsToTheFinish(*app, race, steady35, 10u * 60u * 1000u, run, extras);
        gRaceClock = previousClock;
        return run;
    };
    const auto clear = [&] {
        Game& game = scene().game;
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
    };
    for (const char* country : CourseRace::countries) {
        SCOPED_TRACE(country);
        std::map<const Game::Vehicle*, bool> out;
        int knockOuts = 0;
        const CourseRun run = knockOut(country, true, [&](Game& game) {
            const Game::Gate* lapGate = game.gates.tail() ? game.gates.tail()->item : nullptr;
            float lapMark = 0.0f;
            const bool marked = lapGate && courseDistance(game, lapGate->object->getPosition(), lapMark);
            // How far past the lap's gate a quad lies, when it lies on the way.
            const auto pastLapGate = [&](const Game::Vehicle& v, float& past) {
                float at = 0.0f;
                if (!marked || !v.entity() || !courseDistance(game, v.entity()->world.row(3), at))
                    return false;
                past = std::fmod(at - lapMark + 2.0f * game.courseLength, game.courseLength);
                return true;
            };
            for (auto* node = game.vehicles.head(); node; node = node->next) {
                const Game::Vehicle& v = *node->item;
                if (!v.knockedOut || out[&v])
                    continue;
                out[&v] = true;
                ++knockOuts;
                float vPast = 0.0f;
                const bool vOnWay = pastLapGate(v, vPast);
                for (auto* other = game.vehicles.head(); other; other = other->next) {
                    const Game::Vehicle& w = *other->item;
                    if (&w == &v || w.knockedOut || w.finished)
                        continue;
                    EXPECT_GE(w.gatesPassed, v.gatesPassed)
                        << "slot " << v.slot << " went out ahead of slot " << w.slot;
                    float wPast = 0.0f;
                    if (w.gatesPassed == v.gatesPassed && vOnWay && pastLapGate(w, wPast)) {
                        EXPECT_GE(wPast, vPast) << "slot " << v.slot << " went out ahead of slot " << w.slot;
                    }
                }
            }
        });
        EXPECT_EQ(run.failure, "");
        EXPECT_EQ(run.opponents.size(), 4u);
        std::printf("%s knock-out: %d out when the race ended\n", country, knockOuts);
        CourseRace::print(stdout, country, steady35, run);
        Game& game = scene().game;
        EXPECT_TRUE(game.phase == 4 || game.raceOver) << "the race did not end";
        EXPECT_GE(knockOuts, 1);
        clear();
    }

    // The opponents drive off the grid round the player's quad and leave it
    // standing where it stood until it is out: not shoved along, not set
    // back.
    SCOPED_TRACE("DE, the player standing");
    StandingWatch standing;
    const CourseRun run = knockOut("DE", false, [&standing](Game& game) { standing.look(game, game.worldNow()); });
    EXPECT_EQ(run.failure, "");
    EXPECT_LT(standing.shoved, StandingWatch::shovedFar) << "the standing player's quad was shoved along by others";
    EXPECT_LT(standing.moved, StandingWatch::movedFar);
    EXPECT_GT(standing.frames, 100) << "frames watched";
    std::printf("the standing player's quad moved %.2f units before it went out, %.2f of them faster than a crawl\n",
                standing.moved, standing.shoved);
    CourseRace::print(stdout, "DE, the player standing,", steady35, run);
    Game& game = scene().game;
    EXPECT_EQ(game.phase, 4u) << "the race did not end";
    const Game::Vehicle* player = game.getPlayerVehicle();
    ASSERT_NE(player, nullptr);
    EXPECT_EQ(player->knockedOut, 1u);
    EXPECT_NE(player->parkingSlot, nullptr);
    EXPECT_EQ(player->finished, 1u);
    EXPECT_EQ(player->place, 4);
    EXPECT_EQ(player->lapsDone, 0);
    EXPECT_EQ(game.knockOuts, 1) << "the player went out at the first round";
    std::printf("the player standing went out at %u ms of world clock\n", run.worldMs);
    clear();
}

// Every championship map of every country, each an eight-quad race at 35
// frames a second: some ten minutes under Wine, so run only when
// KORVANTA_ALL_MAPS is set; it prints each vehicle's figures.
TEST_F(LevelViews, OpponentsFinishEveryChampionshipMap)
{
    if (!std::getenv("KORVANTA_ALL_MAPS"))
        GTEST_SKIP() << "set KORVANTA_ALL_MAPS to race all 39 maps";
    for (const char* country : CourseRace::countries)
        for (int32_t courseType = 1; courseType <= 3; ++courseType) {
            const RaceChoice race = eightQuadRace(country, courseType);
            const std::string name = std::string(country) + " " + std::to_string(courseType) + " " +
                                     std::string(race.mapFile.text(), race.mapFile.text() + race.mapFile.length());
            opponentsFinishTheRace(name.c_str(), race, {steady35});
        }
}

// The off-road course of the "DE" championship as a race finds it, the
// ground sunk in its dirt hollow: across each gate the floor lies level
// for a pair of quads side by side, and the gate stands on it.
TEST_F(LevelViews, OffRoadGatesStandOnALevelFloor)
{
    const RaceChoice choice = deChampionshipChoice(1);
    ASSERT_EQ(choice.courseType, 1);
    scene().clear();
    ASSERT_TRUE(load(std::wstring(choice.mapFile.text())));
    Game& game = scene().game;
    game.applyRaceChoice(choice);
    game.setupRace();
    int gates = 0;
    for (auto* node = game.gates.head(); node; node = node->next) {
        Game::Gate* gate = node->item;
        if (!gate || !gate->object)
            continue;
        ++gates;
        SCOPED_TRACE(gates);
        const vec3d at = gate->object->getPosition();
        matrix3d placed;
        gate->object->getTransform(placed, true);
        const vec3d across = vec3d(placed.m[0], 0.0f, placed.m[2]).normalised();
        const float middle = gTerrain.getHeight(at.x, at.z, 3);
        // Its posts too, out to their outer faces: clear of the walls.
        const float posts = gate->window() ? gate->window()->extents[0] : 0.0f;
        EXPECT_GT(posts, 10.0f);
        for (const float side : {-posts, -10.0f, -5.0f, 5.0f, 10.0f, posts}) {
            const vec3d p = at + across * side;
            EXPECT_NEAR(gTerrain.getHeight(p.x, p.z, 3), middle, 0.5f) << side << " across";
        }
        EXPECT_NEAR(at.y, middle, 3.0f) << "the gate stands on the ground";
    }
    EXPECT_GT(gates, 8);
    game.removeRaceVehicles();
    game.releaseParkingSlots();
    game.clearRace();
}

// The "DE" championship's off-road race run for 20 s of world time at 35
// and at 5 frames a second: the body of every gate near enough to be live
// stands where the gate was placed, within a unit.
TEST_F(LevelViews, OffRoadGateBodiesStandWhereTheyWerePlaced)
{
    const RaceChoice race = eightQuadRace("DE", 1);
    ASSERT_EQ(race.courseType, 1);
    for (const Pace& pace : {steady35, Pace{"5 fps", 0.2f}}) {
        SCOPED_TRACE(pace.name);
        const RaceClock previousClock = gRaceClock;
        gRaceClock = raceClock;
        scene().clear();
        ASSERT_TRUE(load(std::wstring(race.mapFile.text())));
        std::srand(51);
        CourseRun run;
        CourseRace::raceOpponentsToTheFinish(*app, race, pace, 20000, run);
        EXPECT_EQ(run.failure, "");
        Game& game = scene().game;
        int bodies = 0;
        for (auto* node = game.gates.head(); node; node = node->next) {
            const Object* object = node->item ? node->item->object : nullptr;
            const EntityManager::Entity* live = object ? object->instance : nullptr;
            if (!live || !live->physics || !live->physics->rigidBody)
                continue;
            ++bodies;
            const vec3d placed = object->getPosition();
            const vec3d now = live->physics->rigidBody->body->position();
            EXPECT_NEAR(now.y, placed.y, 1.0f) << "gate " << bodies << " at " << placed.x << " " << placed.z;
        }
        EXPECT_GT(bodies, 8);
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
        gRaceClock = previousClock;
    }
}

// The player's quad on the grid of a flat open sprint, with only the
// throttle held through the keyboard's binding: the road lies ahead of its
// slot, and the quad drives along it, keeping its slot's heading. The first
// pick-up lies on its line; at slow frame rates the quad reaches it between
// two frames, before it can take it, and drives through it all the same.
TEST_F(LevelViews, ThrottleAloneDrivesThePlayersQuadStraightOn)
{
    MapGenerator::Settings sprint;
    sprint.base = L"Sprint";
    sprint.name = L"Sprint";
    sprint.courseType = 2;
    sprint.size = 128;
    sprint.hills = 0.0f;
    sprint.rolling = 0.0f;
    sprint.lake = false;
    sprint.course = {{0.0f, -500.0f}, {0.0f, 700.0f}};
    sprint.closed = false;
    const std::wstring folder = freshFolder(L"LevelSprint");
    ASSERT_TRUE(MapGenerator::save(MapGenerator::generate(sprint), String(folder.c_str()), L"Sprint"));
    // frameTime 0: steady frames of 1/35 s stepped as the tests' physics
    // steps them; else frames of that length stepped as the physics thread
    // steps them.
    struct Row
    {
        const char* name;
        std::wstring level;
        int32_t mode, courseType;
        float frameTime, seconds;
        bool uneven = false; // each frame 0.6 to 1.4 times as long, as a loaded machine draws them
    };
    const std::wstring level = folder + L"Sprint.tee";
    const Row rows[] = {
        {"flat sprint", level, Game::Circuit, 2, 0.0f, 10.0f},
        {"flat sprint, threaded at 35 fps", level, Game::Circuit, 2, 1.0f / 35.0f, 10.0f},
        {"flat sprint, threaded at 15 fps", level, Game::Circuit, 2, 1.0f / 15.0f, 10.0f},
        {"flat sprint, threaded at 10 fps", level, Game::Circuit, 2, 0.1f, 10.0f},
        {"flat sprint, threaded at uneven 9 fps", level, Game::Circuit, 2, 1.0f / 9.0f, 9.5f, true},
        {"flat sprint, threaded at uneven 15 fps", level, Game::Circuit, 2, 1.0f / 15.0f, 9.5f, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        scene().clear();
        ASSERT_TRUE(load(row.level));
        Game& game = scene().game;
        PhysicsOnTestThread physics(*app);
        ASSERT_TRUE(physics.ready());
        const RaceClock previousClock = gRaceClock;
        gRaceClock = raceClock;
        setUpRace(game, row.level, row.mode, row.courseType, 1);
        ASSERT_EQ(game.vehicles.count(), 1u);
        Game::Vehicle* player = game.vehicles.head()->item;
        ASSERT_TRUE(player->isPlayer);
        const float frameTime = row.frameTime > 0.0f ? row.frameTime : 1.0f / 35.0f;
        uint32_t seed = 64;
        const auto frame = [&] {
            float length = frameTime;
            if (row.uneven) {
                seed = seed * 1664525u + 1013904223u;
                length *= 0.6f + 0.8f * float(seed >> 8) / 16777216.0f;
            }
            raceClockNow += uint32_t(length * 1000.0f);
            gFrameFactor.store(row.frameTime > 0.0f ? length * 35.0f : 1.0f);
            gFrameTime.store(length);
            if (row.frameTime > 0.0f)
                physics.stepThreaded(length);
            else
                physics.step();
            app->pumpMessages();
            app->update();
        };
        for (int frames = 0; game.phase < 3 && frames < 20000; ++frames)
            frame();
        ASSERT_EQ(game.phase, 3u);
        uint8_t up = 1;
        const uint8_t* const bound = app->controls.keyboardSet.keys[0];
        app->controls.keyboardSet.keys[0] = &up;
        ASSERT_NE(player->entity(), nullptr);
        const vec3d startAt = player->entity()->world.row(3);
        const vec3d ahead = player->entity()->world.row(2).normalised();
        float worstSide = 0.0f, worstTurn = 0.0f;
        const int frames = int(row.seconds / frameTime + 0.5f);
        for (int k = 0; k < frames; ++k) {
            frame();
            const matrix3d& world = player->entity()->world;
            const vec3d at = world.row(3);
            const vec3d dir = world.row(2).normalised();
            const float side = (at - startAt).cross(ahead).y;
            worstSide = std::max(worstSide, std::fabs(side));
            worstTurn = std::max(worstTurn, std::fabs(dir.cross(ahead).y));
            if (k % std::max(frames / 35, 1) == 0)
                printf("%s t=%.2f at=(%.1f %.1f %.1f) heading=(%.4f %.4f) side=%.2f\n", row.name,
                       float(k) * frameTime, at.x, at.y, at.z, dir.x, dir.z, side);
        }
        app->controls.keyboardSet.keys[0] = bound;
        EXPECT_LT(worstSide, 0.1f) << "the quad drifted sideways from its slot's heading";
        EXPECT_LT(worstTurn, 0.002f) << "the quad turned away from its slot's heading";
        const vec3d at = player->entity()->world.row(3);
        EXPECT_GT((at - startAt).dot(ahead), 60.0f) << "the quad did not drive on along the road";
        EXPECT_LT(std::fabs(at.x), 6.0f) << "the quad left the road";
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
        gRaceClock = previousClock;
    }
}

// The play runs' sprint, a Circuit of one lap with three opponents, the
// player's quad left standing beside their lanes, at each pace: every
// opponent passes every gate and finishes, and the standings put the quad
// that stood last (the game's results list them by place).
TEST_F(LevelViews, OpponentsFinishThePlaySprintAheadOfAQuadThatStood)
{
    const std::wstring folder = freshFolder(L"LevelPlaySprint");
    ASSERT_TRUE(SprintLevel::save(String(folder.c_str())));
    RaceChoice choice;
    choice.mapFile = String((folder + L"Sprint.tee").c_str());
    choice.gameMode = Game::Circuit;
    choice.courseType = 2;
    choice.items = 0;
    choice.vehicleCount = 4;
    choice.goal = 1;
    for (const Pace& pace : {steady35, steady7, uneven}) {
        SCOPED_TRACE(pace.name);
        const RaceClock previousClock = gRaceClock;
        gRaceClock = raceClock;
        scene().clear();
        ASSERT_TRUE(load(folder + L"Sprint.tee"));
        CourseRun run;
        CourseRace::raceOpponentsToTheFinish(*app, choice, pace, 3u * 60u * 1000u, run);
        ASSERT_EQ(run.opponents.size(), 3u);
        std::printf("play sprint at %s: %u ms of world clock\n", pace.name, run.worldMs);
        for (const CourseRun::Opponent& opponent : run.opponents) {
            std::printf("  opponent %s: finished at %u ms, %d put back\n", opponent.name.c_str(), opponent.finishedAt,
                        opponent.puttings);
            EXPECT_EQ(opponent.gates.size(), size_t(run.gateCount)) << "opponent " << opponent.name;
            EXPECT_NE(opponent.finishedAt, 0u) << "opponent " << opponent.name << " did not finish";
        }
        Game& game = scene().game;
        const Game::Vehicle* player = game.getPlayerVehicle();
        ASSERT_NE(player, nullptr);
        EXPECT_FALSE(player->finished);
        EXPECT_EQ(player->place, 4);
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
        gRaceClock = previousClock;
    }
}
