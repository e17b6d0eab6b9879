// The camera key: the player's vehicle camera between the chase and the
// driver's view; the race's end orbit and a race without a camera are left.
#include "../Objects/ObjectFunctionsWorld.h"

#include "Menu/GameMenuScreen.h"

#include "Objects/VehicleCamera.h"
#include "Race/GameVehicle.h"

#include <gtest/gtest.h>

using namespace ObjectFunctionsTests;
using VehicleCamera = ObjPkgManager::Functions::VehicleCamera;

TEST(MenuWorld, TheCameraKeyTogglesThePlayersChaseAndDriverViews)
{
    World world;
    GameMenu::World menuWorld(&world.scene);
    Game& game = world.scene.game;
    menuWorld.toggleVehicleCamera(); // no vehicle: nothing

    Object* placed = world.scene.objectPackages.createObject(world.package(L"Crate"), {}, 1.0f);
    ASSERT_NE(placed, nullptr);
    Game::Vehicle* player = game.vehicles.append(new Game::Vehicle(&game, placed, 0))->item;
    placed->instance = placed->createInstance();
    auto* quad = dynamic_cast<DynObject*>(placed->instance);
    ASSERT_NE(quad, nullptr);
    auto* camera = new VehicleCamera(world.chain, quad);
    quad->functions->add(0x4, camera);
    menuWorld.toggleVehicleCamera();
    EXPECT_EQ(camera->mode, VehicleCamera::chase) << "an opponent's camera is not the player's";

    player->isPlayer = 1;
    for (int32_t want : {VehicleCamera::driver, VehicleCamera::chase, VehicleCamera::driver}) {
        menuWorld.toggleVehicleCamera();
        EXPECT_EQ(camera->mode, want);
    }
    camera->setMode(VehicleCamera::orbit);
    menuWorld.toggleVehicleCamera();
    EXPECT_EQ(camera->mode, VehicleCamera::orbit) << "the end's orbit stays";

    quad->functions->remove(0x4);
    menuWorld.toggleVehicleCamera(); // no camera: nothing
    game.vehicles.deleteAll();
}
