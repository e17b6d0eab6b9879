// What the race asks of the object functions of live objects: a course gate
// shows its marker while marked (also on an instance made later), and the
// player's finish turns the vehicle camera to its orbit.
#include "../Objects/ObjectFunctionsWorld.h"

#include "Race/GameGate.h"
#include "Race/GameVehicle.h"

#include "Objects/CollectGate.h"
#include "Objects/VehicleCamera.h"

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
    PlayerQuad(World& world, Game& game)
    {
        Object* placed = world.scene.objectPackages.createObject(world.package(L"Crate"), gTerrain.box.center, 1.0f);
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
