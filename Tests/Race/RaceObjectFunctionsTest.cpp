// What the race asks of the object functions of live objects: a course gate
// shows its marker while marked (also on an instance made later), the
// player's finish turns the vehicle camera to its orbit, and a quad put back
// on the way turns the camera along it.
#include "../Objects/ObjectFunctionsWorld.h"

#include "Race/GameGate.h"
#include "Race/GameVehicle.h"

#include "Objects/HUD.h"
#include "Objects/CollectGate.h"
#include "Objects/VehicleCamera.h"
#include "Physics/neRigidBody.h"
#include "Vehicle/QuadInstance.h"

#include "Entity/SubEntity.h"

#include <gtest/gtest.h>

using namespace ObjectFunctionsTests;
using VehicleCamera = ObjPkgManager::Functions::VehicleCamera;

namespace {

ObjPkgManager::Functions::Gate::Instance* gateOf(StaticEntity::Instance* instance)
{
    auto* dyn = dynamic_cast<DynObject*>(instance);
    auto* entry = dyn ? dyn->functions->find(0x40) : nullptr;
    return entry ? dynamic_cast<ObjPkgManager::Functions::Gate::Instance*>(entry->instance) : nullptr;
}

}

TEST(RaceObjectFunctions, ACourseGateShowsItsMarkerWhileMarked)
{
    World world;
    Game game(&world.scene, nullptr);
    Object* live = world.scene.objectPackages.createObject(world.package(L"Gate"), {}, 1.0f);
    Object* later = world.scene.objectPackages.createObject(world.package(L"Gate"), {0.0f, 0.0f, 100.0f}, 1.0f);
    ASSERT_NE(live, nullptr);
    ASSERT_NE(later, nullptr);
    live->instance = live->createInstance();
    auto* liveGate = game.gates.append(new Game::Gate(&game, live))->item;
    auto* laterGate = game.gates.append(new Game::Gate(&game, later))->item;
    ObjPkgManager::Functions::Gate::Instance* mark = gateOf(live->instance);
    ASSERT_NE(mark, nullptr);
    ASSERT_NE(mark->marker, nullptr);

    for (uint32_t on : {1u, 1u, 0u, 1u, 0u}) {
        liveGate->setMarked(on);
        EXPECT_EQ(liveGate->marked, on);
        EXPECT_EQ(mark->marker->hidden, on ? 0u : 1u) << on;
    }

    // Marked before its object came alive: the new instance shows the mark.
    laterGate->setMarked(1);
    later->instance = later->createInstance();
    ObjPkgManager::Functions::Gate::Instance* laterMark = gateOf(later->instance);
    ASSERT_NE(laterMark, nullptr);
    ASSERT_NE(laterMark->marker, nullptr);
    EXPECT_EQ(laterMark->marker->hidden, 0u);
    laterGate->setMarked(0);
    EXPECT_EQ(laterMark->marker->hidden, 1u);
    game.gates.deleteAll();
}

// The player's quad as a crate carrying the race camera.
struct PlayerQuad
{
    PlayerQuad(World& world, Game& game, const wchar_t* package = L"Crate")
    {
        Object* placed = world.scene.objectPackages.createObject(world.package(package), gTerrain.box.center, 1.0f);
        EXPECT_NE(placed, nullptr);
        vehicle = game.vehicles.append(new Game::Vehicle(&game, placed, 0))->item;
        vehicle->isPlayer = 1;
        placed->instance = placed->createInstance();
        dyn = dynamic_cast<DynObject*>(placed->instance);
        EXPECT_NE(dyn, nullptr);
        camera = new VehicleCamera(world.chain, dyn);
        dyn->functions->add(0x4, camera);
    }

    Game::Vehicle* vehicle = nullptr;
    DynObject* dyn = nullptr;
    VehicleCamera* camera = nullptr;
};

TEST(RaceObjectFunctions, ThePlayersFinishTurnsTheCameraToItsOrbit)
{
    for (int32_t mode : {Game::TimeTrial, Game::OffRoadRace, Game::Jamboree}) {
        World world;
        Game game(&world.scene, nullptr);
        PlayerQuad player(world, game);
        game.choice.gameMode = mode;
        ASSERT_EQ(player.camera->mode, VehicleCamera::chase);
        player.vehicle->finish();
        EXPECT_EQ(player.camera->mode, VehicleCamera::orbit) << mode;
        game.vehicles.deleteAll();
    }
}

TEST(RaceObjectFunctions, AQuadPutBackOnTheWayTurnsTheCameraAlongIt)
{
    TestClock clock(50000);
    Ground ground(TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 20000.0f; }));
    ASSERT_TRUE(ground.loaded);
    World world;
    Game game(&world.scene, nullptr);
    PlayerQuad player(world, game);
    // The crate's body under a quad function of no template.
    auto* quad = new Game::Vehicle::QuadInstance(nullptr, player.dyn, 1.0f);
    ASSERT_EQ(player.dyn->functions->add(0x2, quad)->instance, quad);
    ASSERT_NE(quad->body(), nullptr);
    auto* hud = new ObjPkgManager::Functions::HUD(nullptr, &world.scene, player.dyn);
    player.dyn->functions->add(ObjPkgManager::Functions::HUD::flag, hud);
    game.phase = 3;
    struct Case
    {
        int32_t courseType;
        bool turned;
    };
    for (const Case c : {Case{1, false}, Case{2, true}, Case{3, true}}) {
        game.choice.courseType = c.courseType;
        // Lying upside down, high over the ground, for longer than 2000 ms.
        player.dyn->world = matrix3d::fromAngles({0.0f, 0.0f, 180.0f});
        player.dyn->world.setRow(3, gTerrain.box.center + vec3d{0.0f, 300.0f, 0.0f});
        player.dyn->onMoved();
        ASSERT_TRUE(quad->isOverturned());
        player.vehicle->courseState = 1;
        player.vehicle->overturnTime = 40000;
        // The way runs along -x here.
        player.vehicle->wayPoint.centre = gTerrain.box.center;
        player.vehicle->wayPoint.side = {0.0f, 0.0f, 1.0f};
        player.camera->viewDirection = {0.0f, 0.0f, 1.0f};
        delete hud->flash;
        hud->flash = nullptr;
        player.vehicle->updateOverturn();
        EXPECT_EQ(player.vehicle->courseState, 0u) << c.courseType;
        EXPECT_NE(hud->flash, nullptr) << "the put-back flashes";
        if (c.turned) {
            const vec3d along = quad->body()->state().transform.row(2);
            EXPECT_NEAR(along.x, -1.0f, 1e-4f) << c.courseType;
            EXPECT_NEAR(player.camera->viewDirection.x, along.x, 1e-6f) << c.courseType;
            EXPECT_NEAR(player.camera->viewDirection.z, along.z, 1e-6f) << c.courseType;
        } else {
            EXPECT_EQ(player.camera->viewDirection, (vec3d{0.0f, 0.0f, 1.0f})) << "off the way types keep the view";
        }
    }

    // A quad without a body stays where it lies; the camera turns along its
    // entity.
    game.vehicles.deleteAll();
    PlayerQuad bare(world, game, L"Camera");
    auto* bareQuad = new Game::Vehicle::QuadInstance(nullptr, bare.dyn, 1.0f);
    ASSERT_EQ(bare.dyn->functions->add(0x2, bareQuad)->instance, bareQuad);
    ASSERT_EQ(bareQuad->body(), nullptr);
    game.choice.courseType = 2;
    bare.dyn->world = matrix3d::fromAngles({0.0f, 90.0f, 180.0f});
    bare.dyn->world.setRow(3, gTerrain.box.center + vec3d{0.0f, 300.0f, 0.0f});
    bare.dyn->onMoved();
    ASSERT_TRUE(bareQuad->isOverturned());
    bare.vehicle->courseState = 1;
    bare.vehicle->overturnTime = 40000;
    bare.camera->viewDirection = {0.0f, 0.0f, 1.0f};
    bare.vehicle->updateOverturn();
    EXPECT_EQ(bare.camera->viewDirection, bare.dyn->world.row(2));
    game.vehicles.deleteAll();
}
