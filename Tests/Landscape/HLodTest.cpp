// The far field without a device: when its pictures are renewed (movement
// limits, panels coming into view, targets to spare), how high its panels
// stand, and which panel holds which target.
#include "Landscape/HLod.h"

#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <vector>

namespace {

using Object = HLod::Objects::Object;

// Stands in for the static-entity manager: a fixed list of objects.
struct StandIns final : HLod::Objects
{
    int32_t collectTouchingBox(const OrientedBox&, DynArray<Object>& out) override
    {
        ++collects;
        for (size_t i = 0; i < list.size(); ++i)
            *out.at(int32_t(i)) = list[i];
        return int32_t(list.size());
    }
    void renderFarField(const BoundingBox&) override {}

    std::vector<Object> list;
    int collects = 0;
};

// An object whose box is centre +- half, placed by translation and scale.
Object object(const vec3d& half, const vec3d& at, float scale, uint32_t farField = 1)
{
    Object o;
    o.box.maximum = half;
    o.box.minimum = -half;
    o.transform = matrix3d::identity();
    for (int i = 0; i < 3; ++i)
        o.transform.at(i, i) = scale;
    o.transform.setRow(3, at);
    o.farField = farField;
    return o;
}

class FarField : public testing::Test
{
protected:
    void SetUp() override
    {
        chain.setProjection({1024, 768});
        hlod.restore(1150.0f);
        hlod.objects = &objects;
        objects.list = {object({20.0f, 50.0f, 20.0f}, {0.0f, 300.0f, 900.0f}, 2.0f)};
        frame = gTimer.frameCount;
        look({0.0f, 100.0f, 0.0f}, 0.0f, 0.0f);
    }
    void TearDown() override { gTimer.frameCount = frame; }

    void look(const vec3d& position, float yaw, float pitch)
    {
        chain.position = position;
        chain.angles = {yaw, pitch, 0.0f};
        chain.setAnglesDeg();
        chain.Camera::update();
    }
    // One update on frame counter n; true when it renewed the pictures.
    bool updateOn(int32_t n)
    {
        gTimer.frameCount = n;
        const uint32_t before = hlod.renewals;
        hlod.update();
        return hlod.renewals != before;
    }
    bool visible(int panel)
    {
        BoundingBox box;
        hlod.panelBox(panel, box);
        return chain.frustum.classifyBox(box) != ConvexVolume::outside;
    }

    D3D::Device::SwapChain chain{nullptr};
    HLod hlod{&chain};
    StandIns objects;
    int32_t frame = 0;
};

TEST_F(FarField, MovingBeyondTheLimitsRenewsThePictures)
{
    // The limits for d = 1150: 14.72 sideways and 16.56 forward, tested on
    // every 12th frame or after more than 800 squared units; 5.98 up or
    // down on every frame.
    struct Case
    {
        vec3d move; // along right, up and forward
        int32_t frame;
        bool renews;
    };
    const Case cases[] = {
        {{14.70f, 0.0f, 0.0f}, 12, false}, {{14.74f, 0.0f, 0.0f}, 12, true},  {{-14.74f, 0.0f, 0.0f}, 24, true},
        {{14.74f, 0.0f, 0.0f}, 13, false}, {{29.0f, 0.0f, 0.0f}, 13, true},   {{0.0f, 0.0f, 16.54f}, 24, false},
        {{0.0f, 0.0f, 16.58f}, 24, true},  {{0.0f, 0.0f, 16.58f}, 25, false}, {{0.0f, 5.97f, 0.0f}, 13, false},
        {{0.0f, 5.99f, 0.0f}, 13, true},   {{0.0f, -5.99f, 0.0f}, 7, true},   {{10.0f, 5.0f, 10.0f}, 36, false},
    };
    for (const Case& c : cases) {
        look({0.0f, 100.0f, 0.0f}, 0.0f, 0.0f);
        hlod.rerender = 1;
        ASSERT_TRUE(updateOn(1));
        ASSERT_FALSE(updateOn(12)); // nothing moved
        look(vec3d{0.0f, 100.0f, 0.0f} + chain.right * c.move.x + chain.up * c.move.y + chain.forward * c.move.z,
             0.0f, 0.0f);
        EXPECT_EQ(updateOn(c.frame), c.renews) << c.move.x << " " << c.move.y << " " << c.move.z << " " << c.frame;
    }
    // Turned, the same move is measured along the turned axes.
    look({0.0f, 100.0f, 0.0f}, 90.0f, 0.0f);
    hlod.rerender = 1;
    updateOn(1);
    look(vec3d{0.0f, 100.0f, 0.0f} + chain.forward * 16.0f + chain.right * 14.0f, 90.0f, 0.0f);
    EXPECT_FALSE(updateOn(12));
}

TEST_F(FarField, ThePanelsReachAsHighAndLowAsTheFarObjects)
{
    // The first update renews and measures; a horizontal move of a tenth of
    // d measures again at the next renewal, a smaller one does not.
    ASSERT_TRUE(updateOn(1));
    EXPECT_EQ(objects.collects, 1);
    // Box 100 high, scaled by 2, centred at 300: 200 to 400, the camera at 100.
    EXPECT_EQ(hlod.lowestHeight, 200.0f);
    EXPECT_EQ(hlod.highestHeight, 400.0f);
    EXPECT_FLOAT_EQ(hlod.heightScale, 300.0f / 1150.0f);
    EXPECT_FLOAT_EQ(hlod.world.m[5], hlod.heightScale);
    EXPECT_EQ(hlod.world.row(3), vec3d(0.0f, 100.0f, 0.0f));
    EXPECT_FLOAT_EQ(hlod.farField.radiusSq, 3.0f * 575.0f * 575.0f);
    look({100.0f, 100.0f, 0.0f}, 0.0f, 0.0f);
    ASSERT_TRUE(updateOn(12));
    EXPECT_EQ(objects.collects, 1);
    look({120.0f, 100.0f, 0.0f}, 0.0f, 0.0f);
    ASSERT_TRUE(updateOn(24));
    EXPECT_EQ(objects.collects, 2);

    // Turned objects reach up by their turned extents; objects outside the
    // far field do not count; without any the panels keep half of d.
    matrix3d tilted = matrix3d::fromAngles({90.0f, 0.0f, 0.0f}); // the box's z points up
    tilted.setRow(3, {0.0f, 500.0f, 0.0f});
    Object lying = object({5.0f, 1.0f, 80.0f}, {}, 1.0f);
    lying.transform = tilted;
    struct Case
    {
        std::vector<Object> list;
        float scale;
    };
    const Case cases[] = {
        {{lying}, (580.0f - 120.0f) / 1150.0f},
        {{lying, object({1, 1, 1}, {0.0f, -5000.0f, 0.0f}, 1.0f, 0)}, (580.0f - 120.0f) / 1150.0f},
        {{}, 0.5f},
        {{object({1, 1, 1}, {0.0f, -5000.0f, 0.0f}, 1.0f, 0)}, 0.5f},
        {{object({50, 0, 50}, {0.0f, 120.0f, 300.0f}, 1.0f)}, 0.5f}, // level with the camera
    };
    float x = 120.0f;
    for (const Case& c : cases) {
        objects.list = c.list;
        x += 200.0f;
        look({x, 120.0f, 0.0f}, 0.0f, 0.0f);
        ASSERT_TRUE(updateOn(36));
        EXPECT_NEAR(hlod.heightScale, c.scale, 1e-5f) << c.list.size();
        BoundingBox box;
        hlod.panelBox(0, box);
        EXPECT_NEAR(box.maximum.y - box.minimum.y, 2.0f * c.scale * 1150.0f, 1e-2f);
    }
}

TEST_F(FarField, ATurningCameraRendersOnlyForNewlyVisiblePanels)
{
    ASSERT_TRUE(updateOn(1));
    EXPECT_EQ(hlod.pictures, 1u); // the panel ahead
    ASSERT_TRUE(visible(0));
    EXPECT_EQ(hlod.slots[0], &hlod.targets[0]);
    for (float yaw : {0.5f, 1.0f, -1.0f}) {
        look({0.0f, 100.0f, 0.0f}, yaw, 0.0f);
        EXPECT_FALSE(updateOn(5)) << yaw;
    }
    // A quarter turn: the panel now ahead has no picture.
    look({0.0f, 100.0f, 0.0f}, 90.0f, 0.0f);
    int ahead = -1;
    for (int p = 0; p < 4; ++p)
        if (visible(p))
            ahead = p;
    ASSERT_NE(ahead, 0);
    ASSERT_NE(ahead, -1);
    ASSERT_TRUE(updateOn(5));
    EXPECT_EQ(hlod.pictures, 2u);
    EXPECT_EQ(hlod.slots[0], nullptr);
    EXPECT_EQ(hlod.slots[ahead], &hlod.targets[0]);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(updateOn(12));
    look({0.0f, 100.0f, 0.0f}, 0.0f, 0.0f);
    EXPECT_TRUE(updateOn(5));
    EXPECT_EQ(hlod.slots[0], &hlod.targets[0]);
}

TEST_F(FarField, FourVisiblePanelsShareThreeTargets)
{
    // Objects far above and below stand the panels tall enough to be seen
    // all four from a camera looking down.
    objects.list = {object({10.0f, 10.0f, 10.0f}, {0.0f, 3000.0f, 800.0f}, 1.0f),
                    object({10.0f, 10.0f, 10.0f}, {0.0f, -3000.0f, -800.0f}, 1.0f)};
    look({0.0f, 100.0f, 0.0f}, 0.0f, -89.0f);
    ASSERT_TRUE(updateOn(1));
    for (int p = 0; p < 4; ++p)
        ASSERT_TRUE(visible(p)) << p;
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(hlod.slots[p], &hlod.targets[p]);
    EXPECT_EQ(hlod.slots[3], nullptr);
    EXPECT_EQ(hlod.pictures, 3u);
    // The fourth waits: not a renewal on every frame.
    for (int32_t n = 2; n < 30; ++n)
        EXPECT_FALSE(updateOn(n)) << n;
    // A renewal for the camera's move draws the three again.
    look({30.0f, 100.0f, 0.0f}, 0.0f, -89.0f);
    EXPECT_TRUE(updateOn(36));
    EXPECT_EQ(hlod.pictures, 6u);
    EXPECT_EQ(hlod.slots[3], nullptr);
    // Turned so that a held panel leaves the view, the waiting one gets its target.
    int out = -1;
    for (float yaw : {90.0f, -90.0f}) {
        look({30.0f, 100.0f, 0.0f}, yaw, -45.0f);
        for (int p = 0; p < 3; ++p)
            if (!visible(p) && visible(3))
                out = p;
        if (out >= 0)
            break;
    }
    ASSERT_NE(out, -1);
    EXPECT_TRUE(updateOn(37));
    EXPECT_EQ(hlod.slots[out], nullptr);
    EXPECT_NE(hlod.slots[3], nullptr);
}

}
