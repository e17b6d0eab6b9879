// A race set up from objects placed in a scene: the grid by slot number,
// the gates by group and number with Start or Goal, the laps by mode and
// course type, the target times, and the release of it all.
#include "RaceTestSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"

#include "Objects/ObjectPackage.h"

#include "Landscape/CameraPath.h"
#include "Landscape/Scene.h"
#include "Objects/DynObject.h"
#include "Objects/HUD.h"
#include "Objects/Inventory.h"
#include "Objects/CollectGate.h"
#include "Objects/LensFlare.h"
#include "Objects/VehicleCamera.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"
#include "Vehicle/QuadInstance.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"
#include "Way/WaySegment.h"

#include "Core/FileArray.h"

#include "ObjectPackageSamples.h"
#include "WayFileWriter.h"
#include "WaySamples.h"
#include "QuadSample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <vector>

namespace {

using namespace RaceTest;

// The builder's quad and sample packages in a scene whose swap chain has no
// device; crates stand in for the player slots, cameras for Start and Goal.
struct SetupScene
{
    SetupScene()
    {
        const std::wstring folder = AppTestFiles::freshFolder(L"racesetup");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(QuadSample::save(String(folder.c_str())));
        EXPECT_TRUE(ObjectPackageSamples::save(String(folder.c_str())));
        // A package with no part, as one cut short before its first leaves.
        EXPECT_TRUE(ObjectPackageWriter::save({}, String((folder + L"Objects\\Hollow.teo").c_str())));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(32);
        Game& g = game();
        g.packages[Game::QuadPackage] = package(L"Quad");
        g.packages[Game::PlayerSlotPackage] = package(L"Crate");
        g.packages[Game::GatePackage] = package(L"Gate");
        g.packages[Game::StartPackage] = package(L"Camera");
        g.vehicleScale = 1.0f;
    }
    ~SetupScene()
    {
        game().clearRace();
        scene.release();
    }

    Game& game() { return scene.game; }
    ObjPkgManager::Package* package(const wchar_t* name)
    {
        return scene.objectPackages.findPackage(String(name));
    }
    Object* place(const wchar_t* name, const vec3d& at, uint8_t number, uint8_t group)
    {
        Object* object = scene.objectPackages.createObject(package(name), at, 1.0f);
        EXPECT_NE(object, nullptr);
        if (object) {
            object->setState(number);
            object->setFlag(group);
        }
        return object;
    }

    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

}

// Slots numbered 3, 1, 2 give vehicles in slot order with the player first,
// in the player's name; a slot beyond the vehicle count gets none; every
// slot marker leaves the race; the mouse cursor is hidden for it.
TEST(GameSetup, VehiclesFollowTheSlotNumbers)
{
    SetupScene s;
    Game& game = s.game();
    struct Settings final : Game::Interface
    {
        String getSettingNameGame() override { return String(L"Tester"); }
        Color getSettingCharGame() override { return Color(1, 2, 3, 255); }
        void saveSettings() override {}
        void setCursorShown(bool shown) override { cursor = shown ? 1 : 0; }
        int cursor = -1;
    } settings;
    game.callbacks = &settings;
    std::vector<Object*> slots = {s.place(L"Crate", {30.0f, 0.0f, 30.0f}, 0, 3),
                                  s.place(L"Crate", {10.0f, 0.0f, 10.0f}, 0, 1),
                                  s.place(L"Crate", {20.0f, 0.0f, 20.0f}, 0, 2),
                                  s.place(L"Crate", {40.0f, 0.0f, 40.0f}, 0, 4)};
    game.choice.gameMode = Game::OffRoadRace;
    game.choice.vehicleCount = 3;
    game.setupRace();
    EXPECT_EQ(game.phase, 1u);
    ASSERT_EQ(game.vehicles.count(), 3);
    const float xs[3] = {10.0f, 20.0f, 30.0f};
    int i = 0;
    for (auto* node = game.vehicles.head(); node; node = node->next, ++i) {
        EXPECT_NEAR(node->item->object->position.x, xs[i], 1e-3f) << i;
        EXPECT_EQ(node->item->isPlayer, i == 0 ? 1u : 0u);
        EXPECT_EQ(node->item->slot, uint32_t(i));
    }
    for (Object* slot : slots)
        EXPECT_EQ(slot->state, StaticEntity::instanceFlagged);
    EXPECT_EQ(std::wstring(game.getPlayerVehicle()->name.text()), L"Tester");
    const Color colour = game.getPlayerVehicle()->color;
    EXPECT_TRUE(colour.r == 1 && colour.g == 2 && colour.b == 3) << "the player's colour from the settings";
    EXPECT_EQ(settings.cursor, 0);
    game.setupRace();
    EXPECT_EQ(game.vehicles.count(), 3) << "set up once";
    game.clearRace();
    EXPECT_EQ(game.vehicles.count(), 0);
    EXPECT_EQ(game.phase, 0u);
    game.callbacks = nullptr;
}

// Each race projects its own final time from its start: the second of two
// TimeTrials, set up a second after the first ended with 5:00.00 projected,
// projects its own 1:00.00 at once, neither the held nor a smoothed value.
TEST(GameSetup, EachRaceProjectsItsOwnFinalTime)
{
    SetupScene s;
    Game& game = s.game();
    TestClock clock(1000);
    s.place(L"Crate", {10.0f, 0.0f, 10.0f}, 0, 1);
    WayList way(3, 10.0f, false);
    // A third of three laps of 1000 driven in raceMs, at now.
    const auto race = [&](uint32_t now, int32_t raceMs) {
        game.choice.gameMode = Game::TimeTrial;
        game.choice.courseType = 1;
        game.setupRace();
        Game::Vehicle* player = game.getPlayerVehicle();
        EXPECT_NE(player, nullptr);
        if (!player)
            return 0;
        game.course = way.list;
        game.courseLength = 1000.0f;
        player->wayNode = way.node(1);
        player->wayPoint.distance = 1000.0f;
        TestClock::now = now;
        Game::splitRaceTime(raceMs, player->raceTime);
        const int32_t projected = game.estimateFinalTime();
        game.course = nullptr;
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
        return projected;
    };
    EXPECT_EQ(race(10000, 100000), 300000);
    EXPECT_EQ(race(11000, 20000), 60000) << "within the first race's hold";
    EXPECT_EQ(race(20000, 20000), 60000) << "after it";
}

// Gates of group 1 are left out in modes 1, 4, 5, 6 and used in 2 and 3;
// the list follows the gate numbers; course types 2 and 3 append the Goal or
// the Start; TimeTrial races 3, 3 and 1 laps by course type.
TEST(GameSetup, GatesByModeGroupAndCourseType)
{
    struct Case
    {
        int32_t mode, courseType;
        int gates;
        bool startLast;
        int32_t goal;
        int32_t championship = 0;
    };
    const Case cases[] = {
        {Game::OffRoadRace, 1, 3, false, 2}, {Game::KnockOut, 1, 3, false, 2}, {Game::Circuit, 1, 3, false, 2},
        {Game::TimeTrial, 1, 3, false, 3},   {Game::TimeTrial, 2, 3, false, 3}, {Game::TimeTrial, 3, 4, true, 1},
        {Game::TimeTrial, 2, 3, false, 3, 1},
        {Game::CaptureTheFlag, 1, 5, false, 2}, {Game::Jamboree, 1, 5, false, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " course " << c.courseType);
        SetupScene s;
        Game& game = s.game();
        s.place(L"Crate", {10.0f, 0.0f, 10.0f}, 0, 0);
        s.place(L"Crate", {12.0f, 0.0f, 10.0f}, 0, 1);
        s.place(L"Crate", {14.0f, 0.0f, 10.0f}, 0, 2);
        Object* start = s.place(L"Camera", {0.0f, 0.0f, 0.0f}, 0, 0);
        const uint8_t numbers[5] = {7, 2, 5, 1, 9};
        const uint8_t groups[5] = {0, 0, 1, 1, 0};
        for (int i = 0; i < 5; ++i)
            s.place(L"Gate", {50.0f + 20.0f * float(i), 0.0f, 50.0f}, numbers[i], groups[i]);
        game.choice.gameMode = c.mode;
        game.choice.courseType = c.courseType;
        game.choice.vehicleCount = 3;
        game.choice.championship = c.championship;
        game.setupRace();
        EXPECT_EQ(game.gates.count(), c.gates);
        uint8_t last = 0;
        int counted = 0;
        for (auto* node = game.gates.head(); node; node = node->next, ++counted) {
            if (node->item->object == start)
                continue;
            EXPECT_LE(last, node->item->object->state);
            last = node->item->object->state;
        }
        EXPECT_EQ(game.gates.tail() && game.gates.tail()->item->object == start, c.startLast);
        EXPECT_EQ(game.choice.goal, c.goal);
        if (c.mode == Game::TimeTrial) {
            EXPECT_EQ(game.vehicles.count(), 1);
            EXPECT_EQ(game.targetTimeCount, c.championship ? 5u : 0u) << "five target times in a championship only";
        }
        if (c.mode == Game::Jamboree) {
            ASSERT_NE(game.targetGate, nullptr);
            const DynObject* target = dynamic_cast<const DynObject*>(game.targetGate->object->instance);
            ASSERT_NE(target, nullptr);
            EXPECT_NE(target->functions->mask & ObjPkgManager::Functions::LensFlare::flag, 0u) << "marked";
            game.clearRace();
            EXPECT_EQ(game.targetGate, nullptr) << "the release forgets the target with its gates";
            EXPECT_EQ(target->functions->mask & ObjPkgManager::Functions::LensFlare::flag, 0u)
                << "and takes its mark off the gate";
            continue;
        }
        if (c.mode == Game::OffRoadRace) {
            EXPECT_EQ(game.vehicles.head()->item->nextGate, game.gates.head()) << "headed for the first gate";
        }
    }
}

// Target times around a reference lap of 100 s by difficulty, each once,
// for the laps.
TEST(GameSetup, TargetTimesByDifficulty)
{
    Game game(nullptr, nullptr);
    Game::splitRaceTime(100000, game.referenceTime);
    struct Case
    {
        int32_t difficulty;
        int32_t low, step;
    };
    std::srand(3);
    for (const Case& c : {Case{0, 103000, 3000}, Case{1, 101500, 1500}, Case{2, 100000, 1500}, Case{7, 0, 0}}) {
        SCOPED_TRACE(c.difficulty);
        game.choice.difficulty = c.difficulty;
        game.makeTargetTimes(5, 2);
        ASSERT_EQ(game.targetTimeCount, 5u);
        std::vector<int32_t> times;
        for (int i = 0; i < 5; ++i)
            times.push_back(Game::raceTimeMilliseconds(game.targetTimes[i]));
        std::sort(times.begin(), times.end());
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(times[size_t(i)], (c.low + i * c.step) * 2);
    }
    // More than the table holds: eight, each once; fewer than none: none.
    game.choice.difficulty = 2;
    game.makeTargetTimes(12, 1);
    ASSERT_EQ(game.targetTimeCount, 8u);
    std::vector<int32_t> times;
    for (const RaceTime& time : game.targetTimes)
        times.push_back(Game::raceTimeMilliseconds(time));
    std::sort(times.begin(), times.end());
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(times[size_t(i)], 100000 + i * 1500);
    game.makeTargetTimes(-3, 1);
    EXPECT_EQ(game.targetTimeCount, 0u);
}

// Parking slots and the podium leave the race in the lap modes; the pick-ups
// too when items are off; the release takes them out again and puts the
// flag back home. A knock-out keeps the parking slots.
TEST(GameSetup, ObjectsTakenOutOfTheRace)
{
    SetupScene s;
    Game& game = s.game();
    game.packages[Game::PlayerParkingSlotPackage] = s.package(L"CaptureFlag");
    game.packages[Game::PodiumPackage] = s.package(L"RocketPack");
    s.place(L"Crate", {10.0f, 0.0f, 10.0f}, 0, 0);
    Object* slot = s.place(L"CaptureFlag", {60.0f, 0.0f, 60.0f}, 0, 1);
    Object* podium = s.place(L"RocketPack", {70.0f, 0.0f, 60.0f}, 0, 0);
    game.choice.gameMode = Game::OffRoadRace;
    game.setupRace();
    EXPECT_EQ(game.parkingSlots.count(), 0) << "kept for a knock-out only";
    EXPECT_EQ(slot->state, StaticEntity::instanceFlagged);
    EXPECT_EQ(podium->state, StaticEntity::instanceFlagged);
    game.packages[Game::CaptureFlagPackage] = s.package(L"CaptureFlag");
    game.findCaptureFlag();
    EXPECT_EQ(game.captureFlag, slot) << "the flag is found where the map put it";
    game.hideParkingSlots(0);
    EXPECT_EQ(slot->state, 0);
    game.hidePodium(0);
    EXPECT_EQ(podium->state, 0);
    // The release takes them out again, the flag carried off stands at home
    // again, and the championship is forgotten.
    game.choice.championship = 1;
    const vec3d home = slot->getPosition();
    slot->setPosition(vec3d(90.0f, 0.0f, 40.0f), true);
    game.clearRace();
    EXPECT_EQ(slot->state, StaticEntity::instanceFlagged);
    EXPECT_EQ(slot->getPosition().x, home.x);
    EXPECT_EQ(slot->getPosition().z, home.z);
    EXPECT_EQ(podium->state, StaticEntity::instanceFlagged);
    EXPECT_EQ(game.choice.championship, 0);
    game.choice.gameMode = Game::KnockOut;
    game.setupRace();
    ASSERT_EQ(game.parkingSlots.count(), 1);
    EXPECT_EQ(game.parkingSlots.head()->item, slot);
    EXPECT_EQ(slot->state, StaticEntity::instanceFlagged);
}

// An opponent far from the player's quad and the camera, beyond every
// pick-up's activation range, takes a rocket pack and the flag where it
// stands, also after the scene's activation has walked again round the
// player; the items a race takes out stay out.
TEST(GameSetup, OpponentsFarFromTheCameraTakePickUps)
{
    using Inventory = ObjPkgManager::Functions::Inventory;
    using Collect = ObjPkgManager::Functions::Collect;
    SetupScene s;
    Game& game = s.game();
    const wchar_t* const items[] = {L"Nitro", L"RepairKit", L"RocketPack", L"Oil", L"CaptureFlag"};
    const int32_t kinds[] = {Game::NitroPackage, Game::RepairKitPackage, Game::RocketPackPackage, Game::OilPackage,
                             Game::CaptureFlagPackage};
    for (int i = 0; i < 5; ++i)
        game.packages[kinds[i]] = s.package(items[i]);
    const vec3d distant(6000.0f, 0.0f, 6000.0f);
    s.place(L"Crate", {10.0f, 0.0f, 10.0f}, 0, 0);
    // The opponent starts beside the player and drives off (below).
    s.place(L"Crate", {30.0f, 0.0f, 10.0f}, 0, 1);
    Object* pack = s.place(L"RocketPack", distant, 0, 0);
    Object* flag = s.place(L"CaptureFlag", distant, 0, 0);
    Object* nitro = s.place(L"Nitro", distant + vec3d(0.0f, 0.0f, 500.0f), 0, 0);
    ASSERT_NE(pack, nullptr);
    ASSERT_NE(flag, nullptr);
    ASSERT_GT(distant.lengthSq(), s.package(L"RocketPack")->rangeSq) << "beyond the pick-ups' activation";
    ASSERT_GT(distant.lengthSq(), s.package(L"CaptureFlag")->rangeSq);
    game.choice.gameMode = Game::CaptureTheFlag;
    game.choice.vehicleCount = 2;
    game.choice.items = 1;
    game.choice.goal = 100;
    game.setupRace();
    ASSERT_EQ(game.vehicles.count(), 2);
    StaticEntityManager& statics = *s.chain.staticEntities;
    statics.referencePoint = vec3d(10.0f, 0.0f, 10.0f);
    statics.update(1);
    Game::Vehicle& opponent = *game.vehicles.head()->next->item;
    auto* dyn = opponent.getDynObject();
    ASSERT_NE(dyn, nullptr);
    DynObject::FunctionManager::Function* entry = dyn->functions ? dyn->functions->find(Inventory::flag) : nullptr;
    auto* inventory = entry ? dynamic_cast<Inventory::Instance*>(entry->instance) : nullptr;
    ASSERT_NE(inventory, nullptr);
    // It has driven to where the pack and the flag lie, so far from the
    // camera that the view hides it (as DynObject::prepare does).
    dyn->worldBounds.center = distant;
    dyn->hidden = 1;
    // One item a frame.
    inventory->update();
    inventory->update();
    EXPECT_EQ(opponent.rockets, 1);
    EXPECT_EQ(opponent.carriedItem, flag);
    // Carried, the flag goes where its carrier goes, its placed object too
    // (the one a touch or a drop takes it from).
    opponent.update();
    const vec3d carrier = opponent.getQuad()->entity->world.row(3);
    EXPECT_LT((flag->getPosition() - carrier).length(), 5.0f) << "the flag left where it lay";
    ASSERT_NE(nitro->instance, nullptr) << "the one no quad reached lives on";
    auto* nitroDyn = dynamic_cast<DynObject*>(nitro->instance);
    DynObject::FunctionManager::Function* nitroEntry = nitroDyn ? nitroDyn->functions->find(0x8) : nullptr;
    ASSERT_NE(nitroEntry, nullptr);
    EXPECT_EQ(dynamic_cast<Collect::Instance*>(nitroEntry->instance)->state, Collect::Instance::shown);
    game.removeRaceVehicles();
    game.clearRace();

    // Items off: the pick-ups stay out of the race; the flag too in a race
    // of laps.
    game.choice.gameMode = Game::OffRoadRace;
    game.choice.items = 0;
    for (Object* item : {pack, flag, nitro})
        item->setState(0);
    game.setupRace();
    for (Object* item : {pack, flag, nitro})
        EXPECT_EQ(item->state, StaticEntity::instanceFlagged);
}

// The championship's end: the player's quad, the player's own from the
// start, stands on its wheels on the slope 5 units before the podium.
TEST(GameSetup, TheChampionshipsEndStandsThePlayersQuadBeforeThePodium)
{
    ASSERT_TRUE(TerrainTestMaps::loadGlobal(
        TerrainTestMaps::heightMap(128, [](int32_t i, int32_t) { return 8000.0f + 60.0f * float(i); })));
    {
        SetupScene s;
        Game& game = s.game();
        game.packages[Game::PodiumPackage] = s.package(L"RocketPack");
        const vec3d podium{70.0f, gTerrain.getHeight(70.0f, 60.0f, 3), 60.0f};
        s.place(L"RocketPack", podium, 0, 0);
        s.scene.loaded = 1;
        game.placePlayerQuad();
        ASSERT_EQ(game.vehicles.count(), 1);
        Game::Vehicle& player = *game.vehicles.head()->item;
        ASSERT_NE(player.getQuad(), nullptr);
        EXPECT_EQ(player.getQuad()->vehicle, &player);
        const matrix3d& pose = *player.getQuad()->body()->getTransform();
        const vec3d at = pose.row(3);
        EXPECT_NEAR(std::hypot(at.x - 70.0f, at.z - 60.0f), 5.0f, 0.01f);
        const float ground = gTerrain.getHeight(at.x, at.z, 3);
        EXPECT_GT(at.y, ground);
        EXPECT_LT(at.y, ground + 1.5f);
        EXPECT_GT(pose.row(1).dot(Terrain::lastGroundNormal()), 0.999f) << "upright on the slope";
        // Turned 220 degrees on from facing the podium.
        const float turn = std::atan2(pose.row(2).x, pose.row(2).z) - std::atan2(podium.x - at.x, podium.z - at.z);
        constexpr float pi = std::numbers::pi_v<float>;
        EXPECT_NEAR(std::remainder(turn - 220.0f / 180.0f * pi, 2.0f * pi), 0.0f, 0.02f);
        s.scene.loaded = 0;
    }
    gTerrain.clear();
}

// The intro flight: two key frames about the Start (hand values for a Start
// facing +z), then the chase view behind the player's quad.
// At the flight's end the quad gets its vehicle camera and display, which
// the release takes away with the vehicles, showing the grid's slot again.
TEST(GameSetup, TheIntroFliesFromTheStartToThePlayer)
{
    SetupScene s;
    Game& game = s.game();
    const Object* slot = s.place(L"Crate", {10.0f, 0.0f, 10.0f}, 0, 0);
    const vec3d p = s.place(L"Camera", {100.0f, 2.0f, 50.0f}, 0, 0)->getPosition();
    game.choice.gameMode = Game::OffRoadRace;
    game.choice.vehicleCount = 1;
    game.setupRace();
    const CameraPath& path = game.cameraPath;
    ASSERT_EQ(path.keyCount, 3);
    EXPECT_EQ(path.speed, 3.0f);
    EXPECT_EQ(path.finished, 0u);
    EXPECT_EQ(s.scene.camera.path, &game.cameraPath);
    EXPECT_EQ(s.scene.camera.mode, SceneCamera::pathMode);
    struct Key
    {
        vec3d position;
        vec3d rows[3];
    };
    const Key keys[2] = {
        {p + vec3d(10.0f, 5.0f, 10.0f), {{-0.9397f, 0.0f, 0.3420f}, {-0.1170f, 0.9397f, -0.3214f}, {-0.3214f, -0.3420f, -0.8830f}}},
        {p + vec3d(10.0f, 7.0f, -14.0f), {{0.5736f, 0.0f, 0.8192f}, {-0.2802f, 0.9397f, 0.1962f}, {-0.7698f, -0.3420f, 0.5390f}}}};
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(path.keys[k].position[c], keys[k].position[c], 1e-3f) << c;
        const matrix3d turn = path.keys[k].rotation.toMatrix();
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(turn.row(r)[c], keys[k].rows[r][c], 2e-3f) << r << c;
    }
    // Behind the quad, which faces +z from (10, 0, 10), above it, looking on.
    const vec3d chase = path.keys[2].position;
    EXPECT_LT(chase.z, 10.0f);
    EXPECT_GT(chase.y, 0.0f);
    EXPECT_GT(path.keys[2].rotation.toMatrix().row(2).z, 0.5f);

    ASSERT_EQ(game.vehicles.count(), 1);
    Game::Vehicle& player = *game.vehicles.head()->item;
    EXPECT_EQ(player.getCamera(), nullptr);
    game.cameraPath.finished = 1;
    game.update();
    ASSERT_EQ(game.phase, 2u);
    EXPECT_EQ(s.scene.camera.mode, SceneCamera::vehicleMode);
    ASSERT_NE(player.getCamera(), nullptr);
    EXPECT_EQ(player.getCamera()->vehicle, player.getDynObject());
    EXPECT_NE(player.getHUD(), nullptr);
    EXPECT_EQ(slot->state, StaticEntity::instanceFlagged);
    game.removeRaceVehicles();
    EXPECT_EQ(s.scene.camera.mode, SceneCamera::freeMode);
    EXPECT_EQ(game.vehicles.count(), 0);
    EXPECT_EQ(slot->state, 0);
}

// The intro flown again while the vehicle camera follows the player's quad
// (a restart): the camera and display come off the quad and the flight takes
// the scene's camera. When a flight ends while the scene's camera already
// follows a vehicle, the quad is given no camera of its own.
TEST(GameSetup, ANewFlightTakesTheCameraBackAndAFollowedCameraIsNotTakenAgain)
{
    SetupScene s;
    Game& game = s.game();
    s.place(L"Crate", {10.0f, 0.0f, 10.0f}, 0, 0);
    s.place(L"Camera", {100.0f, 2.0f, 50.0f}, 0, 0);
    game.choice.gameMode = Game::OffRoadRace;
    game.choice.vehicleCount = 1;
    game.setupRace();
    ASSERT_EQ(game.vehicles.count(), 1);
    Game::Vehicle& player = *game.vehicles.head()->item;
    game.cameraPath.finished = 1;
    game.update();
    ASSERT_EQ(game.phase, 2u);
    ASSERT_NE(player.getCamera(), nullptr);
    ASSERT_NE(player.getHUD(), nullptr);

    game.setupIntroCamera();
    EXPECT_EQ(player.getCamera(), nullptr);
    EXPECT_EQ(player.getHUD(), nullptr);
    EXPECT_EQ(s.scene.camera.mode, SceneCamera::pathMode);
    EXPECT_EQ(s.scene.camera.path, &game.cameraPath);

    game.phase = 1;
    game.cameraPath.finished = 1;
    s.scene.camera.mode = SceneCamera::vehicleMode;
    game.update();
    ASSERT_EQ(game.phase, 2u);
    EXPECT_EQ(player.getCamera(), nullptr);
    EXPECT_EQ(player.getHUD(), nullptr);
    game.removeRaceVehicles();
    EXPECT_EQ(s.scene.camera.mode, SceneCamera::freeMode);
}

// The course is the road under the Start: the sample valley's closed loop,
// its length the sum of its segments'; every vehicle starts on its first
// segment. Without a road there, no course.
TEST(GameSetup, TheCourseIsTheRoadUnderTheStart)
{
    createWayModelerSet();
    FileArray ways(4096);
    ASSERT_TRUE(WayFileWriter::write(WaySamples::valley([](float, float) { return 0.0f; }), ways));
    ways.seek(0, 0);
    ASSERT_TRUE(gWayNetwork.read(ways));
    for (const float x : {200.0f, -900.0f}) {
        SCOPED_TRACE(x);
        SetupScene s;
        Game& game = s.game();
        s.place(L"Crate", {x + 5.0f, 0.0f, -320.0f}, 0, 0);
        s.place(L"Camera", {x, 0.0f, -300.0f}, 0, 0);
        game.choice.gameMode = Game::OffRoadRace;
        game.choice.vehicleCount = 1;
        // A course left from before is not this race's.
        game.course = gWayNetwork.findSegmentAt({200.0f, -300.0f});
        game.setupRace();
        ASSERT_EQ(game.vehicles.count(), 1);
        if (x < 0.0f) {
            EXPECT_EQ(game.course, nullptr) << "no road under the Start";
            EXPECT_EQ(game.courseLength, 0.0f);
            continue;
        }
        ASSERT_NE(game.course, nullptr);
        EXPECT_EQ(game.course, gWayNetwork.findSegmentAt({200.0f, -300.0f}));
        float length = 0.0f;
        for (auto* node = game.course->head(); node; node = node->next)
            if (node->item && node->item->segment)
                length += node->item->segment->length;
        EXPECT_GT(length, 2000.0f) << "round the loop";
        EXPECT_NEAR(game.courseLength, length, 1e-2f);
        EXPECT_EQ(game.vehicles.head()->item->wayNode, game.course->head());
    }
    WayModelerSet::destroy();
    gWayNetwork.clear();
}

// A race a player can drive needs ground, the quad package, a player slot,
// a Start on a road and gates a quad can pass; a level that lacks any of
// them (its damaged files or packages left them out) holds no race, and the
// menu refuses it.
TEST(GameSetup, ARaceNeedsGroundAGridAStartOnTheCourseAndGates)
{
    FileArray ways(4096);
    ASSERT_TRUE(WayFileWriter::write(WaySamples::valley([](float, float) { return 0.0f; }), ways));
    const std::unique_ptr<Terrain> ground =
        TerrainTestMaps::load(TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 8000.0f; }));
    ASSERT_TRUE(ground && ground->isLoaded());
    Terrain bare;
    const struct
    {
        const char* what;
        bool loaded, hasGround, quad, slot;
        float startX;
        const wchar_t* gate; // the gate's package, none without
        const wchar_t* goal;
        bool races;
    } cases[] = {
        {"all there", true, true, true, true, 200.0f, L"Gate", L"Gate", true},
        {"no Goal", true, true, true, true, 200.0f, L"Gate", nullptr, true},
        {"no level loaded", false, true, true, true, 200.0f, L"Gate", nullptr, false},
        {"no ground", true, false, true, true, 200.0f, L"Gate", nullptr, false},
        {"no quad package", true, true, false, true, 200.0f, L"Gate", nullptr, false},
        {"no player slot", true, true, true, false, 200.0f, L"Gate", nullptr, false},
        {"no road under the Start", true, true, true, true, -900.0f, L"Gate", nullptr, false},
        {"no Start", true, true, true, true, 0.0f, L"Gate", nullptr, false},
        {"no gate", true, true, true, true, 200.0f, nullptr, nullptr, false},
        {"a gate of a package that read no part", true, true, true, true, 200.0f, L"Hollow", nullptr, false},
        {"a Goal of a package that read no part", true, true, true, true, 200.0f, L"Gate", L"Hollow", false},
    };
    for (const auto& c : cases) {
        // The last case's scene took the ways and their modelers with it.
        createWayModelerSet();
        ways.seek(0, 0);
        ASSERT_TRUE(gWayNetwork.read(ways));
        SetupScene s;
        Game& game = s.game();
        if (c.slot)
            s.place(L"Crate", {205.0f, 0.0f, -320.0f}, 0, 0);
        if (c.startX != 0.0f)
            s.place(L"Camera", {c.startX, 0.0f, -300.0f}, 0, 0);
        if (c.gate) {
            game.packages[Game::GatePackage] = s.package(c.gate);
            s.place(c.gate, {200.0f, 0.0f, -250.0f}, 0, 0);
        }
        if (c.goal) {
            game.packages[Game::GoalPackage] = s.package(c.goal);
            s.place(c.goal, {200.0f, 0.0f, -200.0f}, 1, 0);
        }
        if (!c.quad)
            game.packages[Game::QuadPackage] = nullptr;
        s.scene.terrainLayer.terrain = c.hasGround ? ground.get() : &bare;
        s.scene.loaded = c.loaded ? 1 : 0;
        EXPECT_EQ(game.canRace(), c.races) << c.what;
        // The scene's own clear leaves the test's ways and ground alone.
        s.scene.loaded = 0;
        s.scene.terrainLayer.terrain = &gTerrain;
    }
    WayModelerSet::destroy();
    gWayNetwork.clear();
}
