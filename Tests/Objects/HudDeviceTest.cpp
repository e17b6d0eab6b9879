// The head-up display in a race on the real device of a 1024 x 768 window:
// the builder's packages (the sample quad as the player's object, the
// compass) and pictures, the player's inventory stood in for, the race
// clock and the frame factor set by the test. Layout at two screen sizes,
// messages, lap times and the flash, the texts of every mode, the compass
// and the pixels of the bars, the dots and the arrow. Frames are saved
// where KORVANTA_SCREENSHOTS points.
#include "../Render/TestDevice.h"

#include "../Application/AppTestFiles.h"
#include "../Race/RaceTestSupport.h"

#include "ObjectsTestSupport.h"

#include "HudSamples.h"
#include "ObjectPackageSamples.h"
#include "QuadSample.h"
#include "ResourceArchiveWriter.h"

#include "Objects/Compass.h"
#include "Objects/DynObject.h"
#include "Objects/HUD.h"
#include "Objects/HUDWidgets.h"
#include "Objects/ObjectPackage.h"

#include "Application/Globals.h"
#include "Entity/StaticEntity.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"
#include "Landscape/Scene.h"
#include "Menu/UserInterface.h"
#include "Physics/PhysicsManager.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Vehicle/QuadInstance.h"

#include "Core/Language.h"
#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <d3dx9.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>

using namespace TestDevice;
using HUD = ObjPkgManager::Functions::HUD;
using Compass = ObjPkgManager::Functions::Compass;
using Vehicle = Game::Vehicle;

namespace {

constexpr uint32_t clearColour = 0xFF102040u;

// Stands for the player's inventory, which the display only needs present.
class InventoryStandIn final : public ObjectFuncInstInterface
{
};

std::wstring textOf(UserInterface::Text* text)
{
    return text ? std::wstring(text->text()) : L"<none>";
}

struct Rgb
{
    int r, g, b;
    explicit Rgb(uint32_t c) : r(int(c >> 16 & 0xFF)), g(int(c >> 8 & 0xFF)), b(int(c & 0xFF)) {}
};

// The built-in English texts as the current language while it lives.
struct English
{
    English()
    {
        const Language::Pack packs[1] = {{141, 109, L"English"}};
        language.addBuiltInPacks(packs, 1);
        previous = gLanguage;
        gLanguage = &language;
    }
    ~English() { gLanguage = previous; }
    Language language;
    Language* previous = nullptr;
};

// How a picture of the archive is spoilt for a test.
enum class Spoilt { missing, damaged, notAnImage };

class HudDevice : public DeviceSuite
{
public:
    static void SetUpTestSuite() { openDevice(1024, 768); }

    void SetUp() override
    {
        gFrameFactor.store(1.0f);
        folder = AppTestFiles::freshFolder(L"hud");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        const String root(folder.c_str());
        ASSERT_TRUE(ObjectPackageSamples::save(root));
        ASSERT_TRUE(QuadSample::save(root));
        ASSERT_TRUE(HudSamples::save(root));
        // A compass package whose objects have no mesh at all.
        ObjectPackageWriter::Package bare;
        FunctionsRecordWriter::Record functions;
        functions.compass = 1;
        bare.functions = functions;
        ASSERT_TRUE(ObjectPackageWriter::save(bare, root + L"Objects\\Bare.teo"));
        previousResources = gResourceManager;
        loadResources({});
        scene.swapChain = &chain();
        scene.objectPackages.loadFolder(root + L"Objects\\");
        scene.objectPackages.buildPackages();
        chain().entities->physicsManager->start(32);
    }

    void TearDown() override
    {
        endRace();
        scene.release();
        gResourceManager = previousResources;
        chain().targets[0].width = 1024;
        chain().targets[0].height = 768;
    }

    // The builder's pictures as the game's resource archive, some spoilt.
    void loadResources(const std::map<std::wstring, Spoilt>& spoilt)
    {
        ResourceArchiveWriter archive;
        for (const HudSamples::Named& image : HudSamples::images()) {
            const auto found = spoilt.find(image.name);
            std::vector<uint8_t> bytes = ImageFileWriter::png(image.image);
            uint32_t type = 0;
            if (found != spoilt.end()) {
                if (found->second == Spoilt::missing)
                    continue;
                if (found->second == Spoilt::damaged)
                    bytes.resize(bytes.size() / 3);
                else
                    type = 1;
            }
            ASSERT_TRUE(archive.addEntry(String(image.name) + L".png", String(image.name), bytes.data(),
                                         uint32_t(bytes.size()), type, 0));
        }
        const String path((folder + L"Resource.res").c_str());
        ASSERT_TRUE(archive.save(path));
        resources = std::make_unique<ResourceManager>();
        ASSERT_TRUE(resources->load(path));
        gResourceManager = resources.get();
    }

    // The player's quad (its object owned by the level's objects) and count
    // vehicles (the player's first), places in list order.
    void placeRace(int32_t mode, int32_t count, int32_t items, int32_t goal)
    {
        Game& game = scene.game;
        game.choice.gameMode = mode;
        game.choice.items = items;
        game.choice.goal = goal;
        game.phase = 3;
        Object* object = scene.objectPackages.createObject(package(L"Quad"), {0.0f, 10.0f, 0.0f}, 1.0f);
        ASSERT_NE(object, nullptr);
        // As the race keeps its quads: alive wherever the camera is.
        object->setState(StaticEntity::alwaysActive);
        object->instance = object->createInstance();
        player = dynamic_cast<DynObject*>(object->instance);
        ASSERT_NE(player, nullptr);
        ASSERT_NE(player->functions->find(0x2), nullptr) << "the sample quad's vehicle physics";
        player->functions->add(0x10, new InventoryStandIn);
        for (int32_t slot = 0; slot < count; ++slot) {
            Vehicle& v = RaceTest::addVehicle(game, uint32_t(slot), slot == 0 ? object : nullptr);
            v.isPlayer = slot == 0 ? 1 : 0;
            v.place = slot + 1;
            v.name = String((L"Rider" + std::to_wstring(slot)).c_str());
        }
        lookAlongZ(chain(), player->world.row(3) + vec3d(0.0f, 3.0f, -10.0f));
    }

    HUD& startRace(int32_t mode, int32_t count, int32_t items = 1, int32_t goal = 3)
    {
        placeRace(mode, count, items, goal);
        hud = new HUD(chain().userInterface, &scene, player);
        player->functions->add(HUD::flag, hud);
        return *hud;
    }

    Vehicle& vehicle(int32_t index)
    {
        auto* node = scene.game.vehicles.head();
        for (int32_t i = 0; i < index; ++i)
            node = node->next;
        return *node->item;
    }

    void endRace()
    {
        if (player && player->functions)
            player->functions->remove(HUD::flag);
        hud = nullptr;
        // The level's objects own the player's quad object.
        for (auto* node = scene.game.vehicles.head(); node; node = node->next)
            node->item->object = nullptr;
        scene.game.vehicles.deleteAll();
        player = nullptr;
    }

    ObjPkgManager::Package* package(const wchar_t* name) { return scene.objectPackages.findPackage(String(name)); }

    // One frame with the user-interface pass, read back before it is presented.
    static Level frame(const char* name)
    {
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        c.render(true);
        Level pixels = readSurface(c.targets[0].surface);
        if (const char* shots = std::getenv("KORVANTA_SCREENSHOTS"); shots && *shots)
            D3DXSaveSurfaceToFileA((std::string(shots) + "/Hud-" + name + ".png").c_str(), D3DXIFF_PNG,
                                   c.targets[0].surface, nullptr, nullptr);
        c.present();
        return pixels;
    }

    std::wstring folder;
    English english;
    RaceTest::TestClock clock{1000};
    std::unique_ptr<ResourceManager> resources;
    ResourceManager* previousResources = nullptr;
    Scene scene{String(L"KorvantaTests"), 3500.0f};
    DynObject* player = nullptr;
    HUD* hud = nullptr;
};

// A parking slot that only marks a vehicle as eliminated.
Object& parkingSlot()
{
    static Object slot;
    return slot;
}

void expectAt(const UserInterface::Widget* widget, int32_t x, int32_t y, const char* what)
{
    ASSERT_NE(widget, nullptr) << what;
    EXPECT_EQ(widget->x, x) << what;
    EXPECT_EQ(widget->y, y) << what;
}

void expectRect(const UserInterface::Rect& r, int32_t left, int32_t top, int32_t right, int32_t bottom,
                const char* what)
{
    EXPECT_EQ(r.left, left) << what;
    EXPECT_EQ(r.top, top) << what;
    EXPECT_EQ(r.right, right) << what;
    EXPECT_EQ(r.bottom, bottom) << what;
}

}

TEST_F(HudDevice, TheLayoutFollowsTheScreenSize)
{
    HUD& h = startRace(Game::OffRoadRace, 4);
    frame("layout-1024");
    expectRect(h.damageBar->getRect(), 93, 691, 343, 726, "damage bar");
    expectRect(h.nitroBar->getRect(), 754, 36, 1004, 71, "nitro bar");
    expectAt(h.speed, 789, 693, "speed");
    expectAt(h.oilIcon, 20, 21, "oil icon");
    expectAt(h.rocketIcon, 160, 21, "rocket icon");
    expectAt(h.nitroIcon, 684, 21, "nitro icon");
    expectAt(h.repairIcon, 20, 678, "repair icon");
    expectAt(h.oilCount, 80, 30, "oil count");
    expectAt(h.rocketCount, 220, 30, "rocket count");
    expectAt(h.time, 20, 150, "time");
    EXPECT_EQ(h.oilIcon->textureWidth, 48.0f);
    ASSERT_EQ(h.rowCount, 4);
    expectAt(&h.rows[0]->text, 50, 300, "row 0");
    expectAt(&h.rows[0]->dot, 20, 307, "dot 0");
    EXPECT_EQ(h.rows[3]->text.y - h.rows[0]->text.y, 75);
    expectAt(&h.rows[3]->dot, 20, 382, "dot 3");
    // The list's background spans the rows, 5 pixels wider on each side;
    // the time's spans its text.
    int32_t right = 0;
    for (int32_t i = 0; i < h.rowCount; ++i)
        right = std::max(right, h.rows[i]->text.x + h.rows[i]->text.getSize().width);
    expectAt(h.listBackground, 15, 300, "list background");
    EXPECT_EQ(h.listBackground->textureWidth, float(right - 20 + 10));
    EXPECT_EQ(h.listBackground->textureHeight, float(h.rows[3]->text.y + h.rows[3]->text.getSize().height - 300));
    expectAt(h.timeBackground, 15, 150, "time background");
    EXPECT_EQ(h.timeBackground->textureWidth, float(h.time->getSize().width + 10));
    EXPECT_EQ(h.timeBackground->textureHeight, float(h.time->getSize().height));
    const int32_t lapWidth = h.lap->getSize().width;
    EXPECT_GT(lapWidth, 40);
    expectAt(h.lap, (1024 - lapWidth) >> 1, 30, "lap");
    expectAt(h.lapBackground, h.lap->x - 5, 25, "lap background");
    EXPECT_EQ(h.lapBackground->textureWidth, float(lapWidth + 6));
    EXPECT_EQ(std::wstring(h.speed->text()), L"  0 km/h");
    // The icons' pictures at their own size and one level.
    IDirect3DTexture9* oil = h.oilIcon->shader->textures[0].texture()->texture;
    ASSERT_NE(oil, nullptr);
    EXPECT_EQ(oil->GetLevelCount(), 1u);
    D3DSURFACE_DESC desc{};
    oil->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    // The layers decide what is drawn over what.
    h.showMessage(String(L"Go"), 1000);
    h.createBeam();
    const std::pair<UserInterface::Widget*, int32_t> layers[] = {
        {h.oilIcon, 0}, {h.oilCount, 0},       {h.nitroBar, 0},      {h.damageBar, 0},     {h.lapBackground, 0},
        {h.speed, 0},   {h.listBackground, 0}, {h.compass, 0},       {h.lap, 1},           {h.time, 1},
        {h.flash, 2},   {h.message, 9},        {&h.rows[0]->dot, 1}, {&h.rows[0]->mark, 1}, {&h.rows[0]->text, 1}};
    for (const auto& [widget, layer] : layers) {
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->layer, layer);
    }
    h.hideMessage();

    // The places decide the rows' order.
    vehicle(0).place = 3;
    vehicle(2).place = 1;
    h.refresh();
    EXPECT_EQ(h.rows[0]->vehicle, &vehicle(2));
    EXPECT_EQ(h.rows[2]->vehicle, &vehicle(0));
    EXPECT_EQ(h.rows[2]->text.y, 350);

    // A reset to 800 x 600 reaches the display through the scene.
    chain().targets[0].width = 800;
    chain().targets[0].height = 600;
    scene.notifyObjectFunctions();
    expectAt(h.speed, 565, 525, "speed at 800");
    expectAt(h.nitroIcon, 460, 21, "nitro icon at 800");
    expectAt(h.repairIcon, 20, 510, "repair icon at 800");
    expectAt(h.lap, (800 - lapWidth) >> 1, 30, "lap at 800");
    h.damageBar->update();
    h.nitroBar->update();
    expectRect(h.damageBar->getRect(), 93, 523, 343, 558, "damage bar at 800");
    expectRect(h.nitroBar->getRect(), 530, 36, 780, 71, "nitro bar at 800");
}

TEST_F(HudDevice, MessagesShowOneAtATimeAndFadeAfterTheirTime)
{
    HUD& h = startRace(Game::OffRoadRace, 2);
    RaceTest::TestClock::now = 5000;
    h.showMessage(String(L"First"), 2000);
    ASSERT_NE(h.message, nullptr);
    EXPECT_EQ(textOf(h.message), L"First");
    EXPECT_EQ(h.messageEnd, 7000u);
    const UserInterface::Size size = h.message->getSize();
    expectAt(h.message, (1024 - size.width) >> 1, (768 - size.height) >> 1, "centred");
    h.showMessage(String(L"Second"), 300000);
    EXPECT_EQ(textOf(h.message), L"First");
    EXPECT_EQ(h.messageEnd, 7000u);

    // Full alpha up to the end time, then a fade by the frame factor.
    RaceTest::TestClock::now = 7000;
    h.refresh();
    EXPECT_EQ(h.message->colour.a, 255);
    EXPECT_EQ(h.messageFade, 0.0f);
    RaceTest::TestClock::now = 7001;
    std::vector<int> alphas;
    while (h.message && alphas.size() < 100) {
        alphas.push_back(h.message->colour.a);
        h.refresh();
        RaceTest::TestClock::now += 29;
    }
    EXPECT_EQ(h.message, nullptr);
    // 1 / (0.03 x 35) = 0.95 s at 35 frames a second.
    EXPECT_EQ(alphas.size(), 34u);
    EXPECT_EQ(alphas[1], 255);
    EXPECT_EQ(alphas[2], 247);

    // hideMessage frees the slot at once.
    h.showMessage(String(L"Third"), 300000);
    h.hideMessage();
    EXPECT_EQ(h.message, nullptr);
    h.showMessage(String(std::wstring(700, L'x').c_str()), 300000);
    EXPECT_EQ(textOf(h.message), std::wstring(511, L'x')) << "cut to the text's buffer";
}

// A fade that reaches exactly 1.0 ends on that frame: the message, the lap
// time with its background and difference, and the flash go together.
TEST_F(HudDevice, AFadeEndsOnTheFrameItReachesOne)
{
    HUD& h = startRace(Game::OffRoadRace, 2);
    RaceTest::TestClock::now = 10000;
    h.showMessage(String(L"Fade"), 1000);
    h.showLapTimes(83450, -1230);
    h.createBeam();
    ASSERT_NE(h.message, nullptr);
    ASSERT_NE(h.lapTime, nullptr);
    ASSERT_NE(h.flash, nullptr);
    RaceTest::TestClock::now = 20000; // past both texts' time
    // The last value before 1.0 that one frame's step takes exactly to 1.0.
    const auto lastBefore = [](float step) {
        float last = 1.0f - step;
        while (last + step > 1.0f)
            last = std::nextafter(last, 0.0f);
        while (last + step < 1.0f)
            last = std::nextafter(last, 1.0f);
        return last;
    };
    const float factor = gFrameFactor.load();
    h.messageFade = lastBefore(0.03f * factor);
    h.lapTimeFade = lastBefore(0.03f * factor);
    h.flashFade = lastBefore(0.027f * factor);
    ASSERT_EQ(h.messageFade + 0.03f * factor, 1.0f);
    ASSERT_EQ(h.flashFade + 0.027f * factor, 1.0f);
    h.refresh();
    EXPECT_EQ(h.message, nullptr);
    EXPECT_EQ(h.lapTime, nullptr);
    EXPECT_EQ(h.lapTimeBackground, nullptr);
    EXPECT_EQ(h.lapTimeDifference, nullptr);
    EXPECT_EQ(h.flash, nullptr);
    endRace();
}

TEST_F(HudDevice, LapTimesShowTheirDifferenceInItsColour)
{
    struct Case
    {
        int32_t difference;
        const wchar_t* text;
        Color colour;
    };
    for (const Case& c : {Case{0, nullptr, {}}, Case{-1230, L"-00:01.23", Color(0, 0, 255, 255)},
                          Case{2500, L"+00:02.50", Color(255, 0, 0, 255)}}) {
        HUD& h = startRace(Game::OffRoadRace, 2);
        RaceTest::TestClock::now = 10000;
        h.showLapTimes(83450, c.difference);
        ASSERT_NE(h.lapTime, nullptr);
        EXPECT_EQ(textOf(h.lapTime), L" 01:23.45");
        const UserInterface::Size size = h.lapTime->getSize();
        expectAt(h.lapTime, (1024 - size.width) >> 1, 350, "lap time");
        expectAt(h.lapTimeBackground, h.lapTime->x - 6, 344, "lap-time background");
        EXPECT_EQ(h.lapTimeBackground->textureWidth, float(size.width + 8));
        EXPECT_EQ(h.lapTimeBackground->textureHeight, float(size.height + 6));
        if (!c.text) {
            EXPECT_EQ(h.lapTimeDifference, nullptr);
        } else {
            EXPECT_EQ(textOf(h.lapTimeDifference), c.text);
            expectAt(h.lapTimeDifference, h.lapTime->x, 390, "difference");
            EXPECT_EQ(h.lapTimeDifference->colour, c.colour);
        }
        // A second one while it shows is dropped.
        UserInterface::Text* shown = h.lapTime;
        h.showLapTimes(1000, 5);
        EXPECT_EQ(h.lapTime, shown);
        EXPECT_EQ(h.lapTimeEnd, 12000u);
        RaceTest::TestClock::now = 12001;
        int frames = 0;
        for (; h.lapTime && frames < 100; ++frames)
            h.refresh();
        EXPECT_EQ(frames, 34);
        EXPECT_EQ(h.lapTimeBackground, nullptr);
        EXPECT_EQ(h.lapTimeDifference, nullptr);
        endRace();
    }
}

TEST_F(HudDevice, TheFlashFadesOverTheWholeScreen)
{
    HUD& h = startRace(Game::OffRoadRace, 2);
    h.createBeam();
    ASSERT_NE(h.flash, nullptr);
    expectAt(h.flash, 0, 0, "flash");
    EXPECT_EQ(h.flash->textureWidth, 1024.0f);
    EXPECT_EQ(h.flash->textureHeight, 768.0f);
    EXPECT_EQ(h.flash->layer, 2);
    const Level white = frame("flash");
    EXPECT_EQ(white.at(512, 100) & 0xFFFFFF, 0xFFFFFFu);
    UserInterface::Panel* first = h.flash;
    h.createBeam();
    EXPECT_EQ(h.flash, first);
    int frames = 0;
    float fade = 0.0f;
    while (h.flash && frames < 100) {
        h.refresh();
        fade += 0.027f;
        ++frames;
        if (h.flash) {
            ASSERT_EQ(h.flash->colour.a, HudValues::flashAlpha(fade)) << frames;
        }
    }
    EXPECT_EQ(frames, 38);
    // The next flash fades from the start again.
    h.createBeam();
    frames = 0;
    while (h.flash && frames < 100) {
        h.refresh();
        ++frames;
    }
    EXPECT_EQ(frames, 38);
}

// Each case starts a race, changes the race state and checks what shows.
TEST_F(HudDevice, TheTextsFollowTheModeAndTheRaceState)
{
    struct Case
    {
        const char* what;
        int32_t mode, vehicles, items, goal;
        std::function<void(HudDevice&)> prepare;
        std::function<void(HudDevice&, HUD&)> check;
    };
    const auto addRecords = [](HudDevice& t) {
        auto& records = t.scene.game.records;
        records.races[0] = RaceRecords::makeEntry(String(L"A"), RaceTest::timeOf(62030));
        records.raceCount = 1;
        records.laps[0] = RaceRecords::makeEntry(String(L"B"), RaceTest::timeOf(21500));
        records.lapCount = 1;
    };
    const Case cases[] = {
        {"no time", Game::OffRoadRace, 2, 1, 3,
         [](HudDevice& t) { t.vehicle(0).raceTime = RaceTest::timeOf(99 * 60000); },
         [](HudDevice&, HUD& h) { EXPECT_EQ(textOf(h.time), L""); }},
        {"a time", Game::OffRoadRace, 2, 1, 3,
         [](HudDevice& t) { t.vehicle(0).raceTime = RaceTest::timeOf(75430); },
         [](HudDevice&, HUD& h) {
             EXPECT_EQ(textOf(h.time), L"Time:  01:15.43");
             EXPECT_EQ(textOf(h.lap), L"Lap 1/3");
         }},
        {"countdown", Game::OffRoadRace, 2, 1, 3,
         [](HudDevice& t) {
             t.scene.game.phase = 2;
             t.vehicle(0).raceTime = RaceTest::timeOf(-2450);
         },
         [](HudDevice& t, HUD& h) {
             EXPECT_EQ(textOf(h.countdown), L"3");
             // The clock runs from the start, so it counts up to it from below zero.
             EXPECT_EQ(textOf(h.time), L"Time: -00:02.45");
             ASSERT_NE(h.countdown, nullptr);
             EXPECT_EQ(h.countdown->colour.a, 114);
             EXPECT_EQ(h.countdown->scale, 1.5f);
             const UserInterface::Size size = h.countdown->getSize();
             expectAt(h.countdown, (1024 - size.width) >> 1, (768 - size.height) >> 1, "countdown");
             t.scene.game.phase = 3;
             h.refresh();
             EXPECT_EQ(h.countdown, nullptr);
         }},
        {"time trial of one lap", Game::TimeTrial, 1, 1, 1, nullptr,
         [](HudDevice& t, HUD& h) {
             EXPECT_EQ(textOf(h.lap), L"Time trial");
             t.vehicle(0).lap = 2;
             h.refresh();
             EXPECT_EQ(textOf(h.lap), L"Time trial");
             EXPECT_EQ(textOf(h.placeText), L"1.");
             expectAt(h.placeText, 60, 0, "the place at the top");
             EXPECT_EQ(h.rowCount, 0);
             EXPECT_EQ(h.listBackground, nullptr);
             EXPECT_EQ(h.compass, nullptr);
         }},
        {"time trial against the opponents' times", Game::TimeTrial, 1, 1, 3,
         [](HudDevice& t) {
             Game& game = t.scene.game;
             for (int32_t ms : {60000, 70000, 65000})
                 game.targetTimes[game.targetTimeCount++] = RaceTest::timeOf(ms);
             // Ten records would rank it last; generated times come first.
             for (int32_t i = 0; i < 10; ++i)
                 game.records.races[i] = RaceRecords::makeEntry(String(L"R"), RaceTest::timeOf(1000));
             game.records.raceCount = 10;
             t.vehicle(0).finished = 1;
             t.vehicle(0).raceTime = RaceTest::timeOf(65000);
         },
         [](HudDevice& t, HUD& h) {
             EXPECT_EQ(textOf(h.placeText), L"2.") << "an equal time ranks behind the player";
             t.scene.game.targetTimeCount = 0;
             h.refresh();
             EXPECT_EQ(textOf(h.placeText), L"9.") << "at most eight records count";
         }},
        {"time trial of three laps", Game::TimeTrial, 1, 1, 3, nullptr,
         [](HudDevice&, HUD& h) { EXPECT_EQ(textOf(h.lap), L"Lap 1/3"); }},
        {"capture the flag", Game::CaptureTheFlag, 2, 1, 5, addRecords,
         [](HudDevice& t, HUD& h) {
             for (UserInterface::Widget* w : std::initializer_list<UserInterface::Widget*>{
                      h.lap, h.time, h.lapBackground, h.timeBackground, h.bestTimeRecord, h.bestLapRecord,
                      h.recordsBackground}) {
                 ASSERT_NE(w, nullptr);
                 EXPECT_EQ(w->enabled, 0u);
             }
             EXPECT_EQ(h.speed->enabled, 1u);
             ASSERT_EQ(h.rowCount, 2);
             EXPECT_EQ(textOf(&h.rows[0]->text), L"Rider0        0 / 5 ");
             t.vehicle(1).points = 4;
             h.refresh();
             EXPECT_EQ(textOf(&h.rows[1]->text), L"Rider1        4 / 5 ");
         }},
        {"jamboree with a negative score", Game::Jamboree, 2, 1, 9,
         [](HudDevice& t) { t.vehicle(0).points = -3; },
         [](HudDevice&, HUD& h) {
             EXPECT_EQ(textOf(&h.rows[0]->text), L"Rider0        0 / 9 ");
             EXPECT_EQ(h.lap->enabled, 0u);
         }},
        {"items off", Game::OffRoadRace, 2, 0, 3, nullptr,
         [](HudDevice&, HUD& h) {
             for (void* p : {(void*)h.oilIcon, (void*)h.rocketIcon, (void*)h.nitroIcon, (void*)h.repairIcon,
                             (void*)h.oilCount, (void*)h.rocketCount, (void*)h.nitroBar, (void*)h.damageBar})
                 EXPECT_EQ(p, nullptr);
         }},
        {"items", Game::OffRoadRace, 2, 1, 3,
         [](HudDevice& t) {
             t.vehicle(0).oil = 2;
             t.vehicle(0).rockets = 7;
             t.vehicle(0).nitro = 0.25f;
             t.vehicle(0).damage = NAN;
         },
         [](HudDevice&, HUD& h) {
             EXPECT_EQ(textOf(h.oilCount), L"2");
             EXPECT_EQ(textOf(h.rocketCount), L"7");
             EXPECT_EQ(h.nitroBar->value, 0.25f);
             EXPECT_EQ(h.damageBar->value, 0.0f);
         }},
        {"knockout", Game::KnockOut, 3, 1, 4,
         // Knocked out where no parking slot was free: out all the same.
         [](HudDevice& t) { t.vehicle(1).knockedOut = 1; },
         [](HudDevice& t, HUD& h) {
             EXPECT_EQ(textOf(&h.rows[0]->text), L"Rider0        1/ 4");
             EXPECT_EQ(textOf(&h.rows[1]->text), L"Rider1      ");
             expectAt(&h.rows[1]->mark, 240, 322, "eliminated mark");
             EXPECT_EQ(h.rows[1]->mark.enabled, 1u);
             EXPECT_EQ(h.rows[0]->mark.enabled, 0u);
             EXPECT_EQ(h.rows[2]->mark.enabled, 0u);
             t.vehicle(1).knockedOut = 0;
         }},
        {"nine vehicles", Game::OffRoadRace, 9, 1, 3, nullptr,
         [](HudDevice&, HUD& h) { EXPECT_EQ(h.rowCount, HUD::maxRows); }},
        {"records", Game::OffRoadRace, 2, 1, 3, addRecords,
         [](HudDevice&, HUD& h) {
             EXPECT_EQ(textOf(h.bestTimeRecord), L"Best time\n 01:02.03");
             EXPECT_EQ(textOf(h.bestLapRecord), L"Best lap\n 00:21.50");
             expectAt(h.bestTimeRecord, 1024 - h.bestTimeRecord->getSize().width - 20, 90, "best time");
             expectAt(h.bestLapRecord, 1024 - h.bestLapRecord->getSize().width - 20, 150, "best lap");
             EXPECT_EQ(h.bestTimeRecord->alignment, UserInterface::Text::alignRight);
             EXPECT_EQ(h.bestLapRecord->wrapWidth, 200);
             EXPECT_EQ(h.bestLapRecord->maxLines, 2);
             ASSERT_NE(h.recordsBackground, nullptr);
             EXPECT_EQ(h.recordsBackground->enabled, 1u);
         }},
        {"no records", Game::OffRoadRace, 2, 1, 3, nullptr,
         [](HudDevice&, HUD& h) {
             EXPECT_EQ(h.bestTimeRecord, nullptr);
             EXPECT_EQ(h.bestLapRecord, nullptr);
             EXPECT_EQ(h.recordsBackground, nullptr);
         }},
        {"a best lap", Game::OffRoadRace, 2, 1, 3,
         [](HudDevice& t) {
             t.vehicle(0).bestLap = 61230;
             t.vehicle(0).raceTime = RaceTest::timeOf(75430);
         },
         [](HudDevice& t, HUD& h) {
             EXPECT_EQ(textOf(h.raceBestLap), L" 01:01.23");
             ASSERT_NE(h.raceBestLap, nullptr);
             EXPECT_EQ(h.raceBestLap->colour, Color(210, 210, 210, 255));
             expectAt(h.raceBestLap, 20 + h.time->getSize().width - h.raceBestLap->getSize().width, 175, "best lap");
             t.vehicle(0).bestLap = 0;
             h.refresh();
             EXPECT_EQ(h.raceBestLap, nullptr);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        placeRace(c.mode, c.vehicles, c.items, c.goal);
        ASSERT_NE(player, nullptr);
        if (c.prepare)
            c.prepare(*this);
        hud = new HUD(chain().userInterface, &scene, player);
        player->functions->add(HUD::flag, hud);
        hud->refresh();
        c.check(*this, *hud);
        frame(c.what);
        endRace();
        scene.game.records.clear();
        scene.game.phase = 3;
    }
}

// A missing, damaged or non-image picture leaves its panel out; the rest show.
TEST_F(HudDevice, SpoiltPicturesLeaveTheirPanelsOut)
{
    struct Case
    {
        Spoilt how;
        const wchar_t* name;
        UserInterface::Panel* HUD::*icon;
    };
    for (const Case& c : {Case{Spoilt::missing, L"HUDOil", &HUD::oilIcon},
                          Case{Spoilt::damaged, L"HUDNitro", &HUD::nitroIcon},
                          Case{Spoilt::notAnImage, L"HUDRepair", &HUD::repairIcon}}) {
        loadResources({{c.name, c.how}, {L"HUDEliminated", c.how}});
        HUD& h = startRace(Game::KnockOut, 2);
        vehicle(1).parkingSlot = &parkingSlot();
        vehicle(1).knockedOut = 1;
        h.refresh();
        EXPECT_EQ(h.*c.icon, nullptr);
        EXPECT_NE(h.rocketIcon, nullptr);
        EXPECT_EQ(h.rows[1]->mark.enabled, 0u) << "no mark without its picture";
        frame("spoilt");
        vehicle(1).parkingSlot = nullptr;
        vehicle(1).knockedOut = 0;
        endRace();
    }
}

TEST_F(HudDevice, TheBarsAndDotsShowOnTheirPixels)
{
    HUD& h = startRace(Game::OffRoadRace, 4);
    vehicle(0).damage = 0.5f;
    vehicle(0).nitro = 1.0f;
    h.refresh();
    const Level pixels = frame("bars");
    // The damage bar at (93, 691): red up to x + 124, then the background.
    const int y = 708;
    EXPECT_GT(Rgb(pixels.at(93 + 110, y)).r, 100);
    EXPECT_GT(Rgb(pixels.at(93 + 123, y)).r, 100);
    EXPECT_LT(Rgb(pixels.at(93 + 126, y)).r, 40);
    EXPECT_LT(Rgb(pixels.at(93 + 200, y)).r, 40);
    // From its first row inside the outline down to its last, nothing above.
    for (int x : {93 + 2, 93 + 60, 93 + 122}) {
        EXPECT_GT(Rgb(pixels.at(uint32_t(x), 691 + 1)).r, 100) << x;
        EXPECT_GT(Rgb(pixels.at(uint32_t(x), 691 + 33)).r, 100) << x;
        EXPECT_EQ(pixels.at(uint32_t(x), 691 - 1) & 0xFFFFFF, clearColour & 0xFFFFFF) << x;
        EXPECT_EQ(pixels.at(uint32_t(x), 691 + 36) & 0xFFFFFF, clearColour & 0xFFFFFF) << x;
    }
    // The full nitro bar from x + 1 to x + 249, purple.
    const Rgb nitroStart(pixels.at(754 + 2, 50)), nitroEnd(pixels.at(754 + 247, 50));
    for (const Rgb& p : {nitroStart, nitroEnd}) {
        EXPECT_GT(p.r, 120);
        EXPECT_GT(p.b, 100);
        EXPECT_LT(p.g, 60);
    }
    // Each row's dot in its vehicle's colour.
    for (int32_t i = 0; i < h.rowCount; ++i) {
        const Color want = h.rows[i]->vehicle->color;
        const Rgb got(pixels.at(uint32_t(h.rows[i]->dot.x + 6), uint32_t(h.rows[i]->dot.y + 6)));
        EXPECT_NEAR(got.r, want.r, 3) << "row " << i;
        EXPECT_NEAR(got.g, want.g, 3) << "row " << i;
        EXPECT_NEAR(got.b, want.b, 3) << "row " << i;
    }
}

TEST_F(HudDevice, TheCompassShowsWhereToGo)
{
    HUD& h = startRace(Game::KnockOut, 2);
    ASSERT_NE(h.compass, nullptr);
    Compass* compass = h.compass->instance;
    ASSERT_NE(compass, nullptr);
    EXPECT_EQ(compass->owner->hidden, 1u);
    ASSERT_TRUE(compass->hasArrow());
    Vehicle& me = vehicle(0);
    me.courseState = Vehicle::offWayWarned;

    // Near its target the arrow is green, far from it grey.
    struct Case
    {
        const char* what;
        float distance;
        bool green;
    };
    for (const Case& c : {Case{"compass-near", 0.0f, true}, Case{"compass-far", 1500.0f, false}}) {
        me.wayPoint.centre = Compass::pose(chain(), {}).world.row(3) + vec3d(c.distance, 0.0f, 0.0f);
        compass->update();
        const Level pixels = frame(c.what);
        const vec3d arrow = compass->world.row(3) + compass->world.row(1) * HudSamples::arrowLift;
        const vec2d at = screenPoint(chain(), arrow, 1024.0f, 768.0f);
        int green = 0, grey = 0;
        for (int dy = -30; dy <= 30; ++dy)
            for (int dx = -60; dx <= 60; ++dx) {
                const Rgb p(pixels.at(uint32_t(at.x + float(dx)), uint32_t(at.y + float(dy))));
                green += p.g > p.r + 40 && p.g > p.b + 40;
                grey += std::abs(p.r - p.g) < 10 && std::abs(p.g - p.b) < 10 && p.r > 50;
            }
        EXPECT_GT(c.green ? green : grey, 100) << c.what;
        EXPECT_EQ(c.green ? grey : green, 0) << c.what;
        EXPECT_EQ(compass->arrow->hidden, 1u);
    }

    // The warning blink: a period of 10 frames at frame factor 1.
    h.showCompass(true);
    EXPECT_EQ(compass->blink, 1u);
    std::vector<uint32_t> colours;
    for (int i = 0; i < 30; ++i) {
        compass->update();
        colours.push_back(compass->colour.argb());
    }
    for (int i = 0; i < 20; ++i)
        EXPECT_EQ(colours[size_t(i)], colours[size_t(i + 10)]) << i;
    EXPECT_NE(colours[0], colours[5]);
    h.showCompass(false);
    EXPECT_EQ(compass->blink, 0u);
    EXPECT_EQ(h.compass->instance, compass) << "KnockOut keeps its compass";

    // No player, a finished player or no target: neither moved nor drawn.
    const std::function<void(Vehicle&, bool)> changes[] = {
        [](Vehicle& v, bool on) { v.isPlayer = on ? 0 : 1; },
        [](Vehicle& v, bool on) { v.finished = on ? 1 : 0; },
        [](Vehicle& v, bool on) { v.courseState = on ? 0 : Vehicle::offWayWarned; },
    };
    for (const auto& change : changes) {
        change(me, true);
        compass->world = matrix3d::identity();
        const vec3d placed = compass->owner->object->position;
        compass->update();
        EXPECT_EQ(compass->world.m[13], 0.0f);
        EXPECT_EQ(compass->owner->object->position.x, placed.x);
        const uint32_t before = gDirectGraphics.record.primitiveCount;
        compass->drawOnRequest();
        EXPECT_EQ(gDirectGraphics.record.primitiveCount, before);
        change(me, false);
    }
    compass->update();
    EXPECT_NE(compass->world.m[13], 0.0f);
}

TEST_F(HudDevice, TheCompassWidgetByModeAndWithoutItsPackage)
{
    // Modes 1 to 3: showCompass changes nothing.
    HUD& race = startRace(Game::OffRoadRace, 2);
    Compass* instance = race.compass ? race.compass->instance : nullptr;
    ASSERT_NE(instance, nullptr);
    race.showCompass(true);
    EXPECT_EQ(instance->blink, 0u);
    endRace();

    // Time trial: shown and hidden with its widget.
    HUD& trial = startRace(Game::TimeTrial, 1);
    EXPECT_EQ(trial.compass, nullptr);
    trial.showCompass(true);
    ASSERT_NE(trial.compass, nullptr);
    ASSERT_NE(trial.compass->instance, nullptr);
    EXPECT_EQ(trial.compass->instance->blink, 1u);
    trial.showCompass(false);
    EXPECT_EQ(trial.compass, nullptr);
    endRace();

    // Without a "Compass" package the widget places nothing and draws nothing.
    package(L"Compass")->lowerName = String(L"renamed");
    HUD& bare = startRace(Game::Circuit, 2);
    ASSERT_NE(bare.compass, nullptr);
    EXPECT_EQ(bare.compass->instance, nullptr);
    EXPECT_EQ(bare.compass->object, nullptr);
    vehicle(0).courseState = Vehicle::offWayWarned;
    frame("no-compass");
}

// An object whose arrow is missing, or whose arrow mesh has no buffers, is
// neither moved nor drawn.
TEST_F(HudDevice, ACompassWithoutItsArrowStaysPut)
{
    placeRace(Game::OffRoadRace, 1, 1, 3);
    vehicle(0).courseState = Vehicle::offWayWarned;
    Object* object = scene.objectPackages.createObject(package(L"Bare"), {0.0f, 5.0f, 0.0f}, 1.0f);
    ASSERT_NE(object, nullptr);
    object->setState(StaticEntity::alwaysActive);
    object->instance = object->createInstance();
    auto* bare = dynamic_cast<DynObject*>(object->instance);
    ASSERT_NE(bare, nullptr);
    auto* entry = bare->functions->find(Compass::flag);
    ASSERT_NE(entry, nullptr);
    auto* empty = static_cast<Compass*>(entry->instance);
    EXPECT_EQ(empty->arrow, nullptr);
    const vec3d placed = object->position;
    empty->update();
    empty->drawOnRequest();
    EXPECT_EQ(empty->world.m[13], 0.0f);
    EXPECT_EQ(object->position.y, placed.y);

    Object* arrowObject = scene.objectPackages.createObject(package(L"Compass"), {0.0f, 5.0f, 0.0f}, 1.0f);
    ASSERT_NE(arrowObject, nullptr);
    arrowObject->setState(StaticEntity::alwaysActive);
    arrowObject->instance = arrowObject->createInstance();
    auto* live = dynamic_cast<DynObject*>(arrowObject->instance);
    ASSERT_NE(live, nullptr);
    auto* compass = static_cast<Compass*>(live->functions->find(Compass::flag)->instance);
    ASSERT_TRUE(compass->hasArrow());
    compass->arrow->mesh().D3DMeshBuffers::release();
    EXPECT_FALSE(compass->hasArrow());
    compass->update();
    const uint32_t before = gDirectGraphics.record.primitiveCount;
    compass->drawOnRequest();
    EXPECT_EQ(gDirectGraphics.record.primitiveCount, before);
    EXPECT_EQ(compass->world.m[13], 0.0f);
}

// The bars and the arrow draw straight with the device and hand it back as
// the interface pass expects it: stage 0 modulating its texture with the
// diffuse colour, blending off, the lighting as it was.
TEST_F(HudDevice, TheBarsAndTheArrowLeaveTheDeviceStatesAsExpected)
{
    HUD& h = startRace(Game::KnockOut, 2);
    vehicle(0).courseState = Vehicle::offWayWarned;
    vehicle(0).damage = 0.5f;
    h.refresh();
    Compass* compass = h.compass ? h.compass->instance : nullptr;
    ASSERT_NE(compass, nullptr);
    compass->update();
    IDirect3DDevice9* d = gDevice;
    const auto state = [d](D3DTEXTURESTAGESTATETYPE type) {
        DWORD v = 0;
        d->GetTextureStageState(0, type, &v);
        return v;
    };
    for (DWORD lighting : {DWORD(FALSE), DWORD(TRUE)}) {
        d->SetRenderState(D3DRS_LIGHTING, lighting);
        d->BeginScene();
        h.damageBar->draw();
        EXPECT_EQ(state(D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE));
        EXPECT_EQ(state(D3DTSS_COLORARG2), DWORD(D3DTA_DIFFUSE));
        EXPECT_EQ(state(D3DTSS_ALPHAOP), DWORD(D3DTOP_SELECTARG1));
        EXPECT_EQ(state(D3DTSS_ALPHAARG2), DWORD(D3DTA_DIFFUSE));
        DWORD blend = TRUE;
        d->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
        EXPECT_EQ(blend, DWORD(FALSE));
        const uint32_t before = gDirectGraphics.record.primitiveCount;
        compass->drawOnRequest();
        EXPECT_GT(gDirectGraphics.record.primitiveCount, before) << "the arrow was drawn";
        DWORD after = 2;
        d->GetRenderState(D3DRS_LIGHTING, &after);
        EXPECT_EQ(after, lighting);
        EXPECT_EQ(state(D3DTSS_COLOROP), DWORD(D3DTOP_MODULATE));
        EXPECT_EQ(state(D3DTSS_COLORARG1), DWORD(D3DTA_TEXTURE));
        EXPECT_EQ(state(D3DTSS_ALPHAARG1), DWORD(D3DTA_TEXTURE));
        d->EndScene();
    }
}
