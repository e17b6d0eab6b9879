// The road network's part in the device's frame: the ways pass among the
// frame's passes, the projection links updated with the engine managers,
// the sun's shadow sectors reaching the roads, the modelers' state blocks
// around a reset, and the ways' pools given back when the device goes.
#include "ShadowStandIns.h"
#include "TestDevice.h"
#include "WayFileWriter.h"

#include "Render/ShadowManager.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

namespace {

constexpr uint32_t clearColour = 0xFF00FF00;

// A road 12 wide along z from (0, -30) to (0, 30) on ground at height 0.
bool readRoad()
{
    WayFileWriter::Way road;
    for (float z : {-30.0f, 30.0f}) {
        WayFileWriter::Point p;
        p.position[2] = z;
        p.width = 12.0f;
        p.heightOffset = 0.2f;
        p.stepsPerLength = 0.5f;
        p.name = String(L"SimpleWayBorderPaver1");
        road.push_back(p);
    }
    FileArray bytes(256);
    WayFileWriter::write({road}, bytes);
    bytes.seek(0, 0);
    return gWayNetwork.read(bytes);
}

void lookDown(D3D::Device::SwapChain& chain)
{
    chain.position = {0.0f, 40.0f, 0.0f};
    chain.angles = {0.0f, -89.9f, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();
}

// A projection over the middle of the road, 10 across, that the ways receive.
void lampOverTheRoad(TextureProj& lamp)
{
    const std::pair<vec3d, float> planes[6] = {{{1, 0, 0}, -5.0f},  {{-1, 0, 0}, -5.0f}, {{0, 0, 1}, -5.0f},
                                               {{0, 0, -1}, -5.0f}, {{0, 1, 0}, -100.0f}, {{0, -1, 0}, -100.0f}};
    for (const auto& [normal, distance] : planes) {
        ConvexVolume::Plane& plane = lamp.volume.planes[lamp.volume.count++];
        plane.normal = normal;
        plane.distance = distance;
        plane.point = normal * distance;
    }
    lamp.receivers.append(&gWayNetwork);
    lamp.addToReceivers();
}

class WaysPass : public TestDevice::DeviceSuite
{
protected:
    void SetUp() override
    {
        createWayModelerSet();
        ASSERT_TRUE(readRoad());
    }
    void TearDown() override
    {
        WayModelerSet::destroy();
        gWayNetwork.clear();
    }
};

TEST_F(WaysPass, TheFrameDrawsTheWays)
{
    lookDown(chain());
    const Way::Segment& road = *gWayNetwork.segments[0];
    ASSERT_EQ(road.meshCount, 2u);
    const TestDevice::Level with = TestDevice::drawFrame(chain(), clearColour);
    const uint32_t drawn = gDirectGraphics.record.primitiveCount;
    gWayModelerSet->simple.drawn = 0;
    const TestDevice::Level without = TestDevice::drawFrame(chain(), clearColour);
    EXPECT_EQ(drawn - gDirectGraphics.record.primitiveCount, (road.meshes[0].indexCount + road.meshes[1].indexCount) / 3);
    const vec2d middle = TestDevice::screenPoint(chain(), {0.0f, 0.2f, 0.0f});
    EXPECT_NE(with.at(uint32_t(middle.x), uint32_t(middle.y)) | 0xFF000000u, clearColour);
    EXPECT_EQ(without.at(uint32_t(middle.x), uint32_t(middle.y)) | 0xFF000000u, clearColour);
}

TEST_F(WaysPass, TheManagersUpdateLinksTheProjections)
{
    TextureProj lamp(nullptr);
    lampOverTheRoad(lamp);
    chain().update();
    EXPECT_EQ(gWayNetwork.segments[0]->projections.count(), 1);
    lamp.detachFromReceivers();
    EXPECT_EQ(gWayNetwork.segments[0]->projections.count(), 0);
}

TEST_F(WaysPass, AResetRecordsTheModelersBlocksAgainAndTheRoadsStillDraw)
{
    ASSERT_NE(gWayModelerSet->curbstone.drawStateBlock, nullptr);
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    EXPECT_NE(gWayModelerSet->curbstone.drawStateBlock, nullptr);
    EXPECT_NE(gWayModelerSet->curbstone.restoreStateBlock, nullptr);
    lookDown(chain());
    const TestDevice::Level frame = TestDevice::drawFrame(chain(), clearColour);
    const vec2d middle = TestDevice::screenPoint(chain(), {0.0f, 0.2f, 0.0f});
    EXPECT_NE(frame.at(uint32_t(middle.x), uint32_t(middle.y)) | 0xFF000000u, clearColour);
}

TEST(ShadowsOnTheRoads, EverySectorReachesTheRoads)
{
    auto chain = std::make_unique<D3D::Device::SwapChain>(nullptr);
    ShadowStandIns::Boxes casters;
    ShadowStandIns::Flat ground;
    ShadowStandIns::Receiving<TextureProjInterface> roads;
    chain->shadowCasters = &casters;
    D3D::Device::SwapChain* owner = chain.get();
    {
        ShadowManager manager(owner, 800.0f, 165.0f);
        manager.ground = &ground;
        manager.roads = &roads;
        chain->sun.direction = vec3d(0.3f, 0.8f, 0.2f).normalised();
        manager.update();
        ASSERT_GT(manager.sectorCount, 0);
        EXPECT_EQ(roads.received.size(), ground.received.size());
    }
    EXPECT_TRUE(roads.received.empty());
}

// Last of all: the device goes, and the ways' pools with it.
class WaysRelease : public WaysPass
{
};

TEST_F(WaysRelease, TheDeviceReleaseGivesBackTheWaysPools)
{
    const Way::Segment& road = *gWayNetwork.segments[0];
    ASSERT_NE(road.meshes[0].vertices, nullptr);
    ASSERT_GT(gWayNetwork.vertexPools.pools.count(), 0);
    // A projection on the road, its triangles copied into a range of their own.
    TextureProj lamp(nullptr);
    lamp.createStateBlocks();
    lampOverTheRoad(lamp);
    lookDown(chain());
    chain().update();
    lamp.changed = 1;
    TestDevice::drawFrame(chain(), clearColour);
    ASSERT_EQ(road.projections.count(), 1);
    ASSERT_NE(road.projections.head()->item->entries[0].range, nullptr);
    D3D::Device::release(gDirectGraphics.record);
    EXPECT_EQ(road.projections.count(), 0);
    EXPECT_EQ(gWayNetwork.projectionRecords.head()->item->links.count(), 0);
    EXPECT_EQ(gWayNetwork.vertexPools.pools.count(), 0);
    EXPECT_EQ(gWayNetwork.indexPools.pools.count(), 0);
    EXPECT_EQ(road.meshes[0].vertices, nullptr);
    EXPECT_EQ(road.meshes[0].tree, nullptr);
    EXPECT_EQ(road.meshCount, 0u);
    EXPECT_EQ(gWayModelerSet->simple.drawStateBlock, nullptr);
    // The ways stay for the queries.
    EXPECT_EQ(gWayNetwork.segments.size(), 1u);
}

}
