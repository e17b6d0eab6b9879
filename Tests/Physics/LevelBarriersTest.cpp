// The level's barriers stand on a spare animated body of the scene's physics
// and hold bodies inside the ground's box; cleared, they give it back.
#include "ManagerTestSupport.h"

#include "Landscape/Scene.h"
#include "Render/SwapChain.h"

#include <gtest/gtest.h>

namespace {

using namespace ManagerTest;

TEST(LevelBarriers, WallsOnASpareBodyHoldABoxInside)
{
    D3D::Device::SwapChain chain(nullptr);
    ASSERT_NE(chain.entities, nullptr);
    PhysicsManager& m = *chain.entities->physicsManager;
    ASSERT_TRUE(m.start(8));
    m.threaded = 0;
    FlatGround ground;
    ASSERT_TRUE(ground.loaded);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    SceneTerrain& layer = scene.terrainLayer;

    layer.buildBarriers(1);
    ASSERT_NE(layer.barriers, nullptr);
    neAnimatedBody* walls = layer.barriers->animatedBody;
    ASSERT_NE(walls, nullptr);
    EXPECT_EQ(m.spareAnimatedTop, 15);
    EXPECT_EQ(walls->active, 1u);
    EXPECT_EQ(walls->geometryCount, 4);

    // A box driven at the high-x wall stops at its inner face (5 units in).
    const float face = gTerrain.box.maximum.x - 5.0f;
    BoxEntity box(*chain.entities, {face - 6.0f, ground.height + 0.6f, ground.centre.z});
    box.body()->velocity = {25.0f, 0.0f, 0.0f};
    float farthest = 0.0f;
    for (int frame = 0; frame < 60; ++frame) {
        m.update();
        farthest = std::max(farthest, box.body()->position().x);
    }
    EXPECT_GT(farthest, face - 1.0f) << "it reached the wall";
    EXPECT_LT(farthest, face - 0.3f) << "and did not pass it";

    layer.releaseBarriers();
    EXPECT_EQ(layer.barriers, nullptr);
    EXPECT_EQ(m.spareAnimatedTop, 16);
    EXPECT_EQ(walls->active, 0u);
    EXPECT_EQ(walls->geometryCount, 0);
    // Built again, they take a body again.
    layer.buildBarriers(1);
    EXPECT_EQ(m.spareAnimatedTop, 15);
    scene.release();
    EXPECT_EQ(m.spareAnimatedTop, 16) << "the scene's release takes the barriers down";
}

}
