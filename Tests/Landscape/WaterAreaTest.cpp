// Water areas without a device: the point test, waking and sleeping around
// the camera, and the waves' integer simulation.
#include "WaterSamples.h"

#include "Landscape/Water.h"

#include "Render/Camera.h"
#include "Render/SwapChain.h"
#include "Render/Light.h"

#include "Core/FileArray.h"
#include "Core/Math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace {

// Crossing-number test against the polygon itself.
bool insidePolygon(const std::vector<vec2d>& polygon, float x, float z)
{
    bool inside = false;
    for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const vec2d& a = polygon[i];
        const vec2d& b = polygon[j];
        if ((a.y > z) != (b.y > z) && x < (b.x - a.x) * (z - a.y) / (b.y - a.y) + a.x)
            inside = !inside;
    }
    return inside;
}

float distanceToEdges(const std::vector<vec2d>& polygon, float x, float z)
{
    float best = 1e30f;
    for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const vec2d a = polygon[j], b = polygon[i];
        const float dx = b.x - a.x, dz = b.y - a.y;
        float t = ((x - a.x) * dx + (z - a.y) * dz) / (dx * dx + dz * dz);
        t = t < 0 ? 0 : t > 1 ? 1 : t;
        best = std::min(best, std::hypot(x - (a.x + t * dx), z - (a.y + t * dz)));
    }
    return best;
}

// An area over a star-shaped outline around (cx, cz): the centre is point 0
// and the triangles fan around it counter-clockwise.
void starArea(WaterArea& area, std::vector<vec2d>& rim, std::mt19937& random, float cx, float cz)
{
    const int points = 5 + int(random() % 20);
    std::uniform_real_distribution<float> radius(10.0f, 60.0f);
    *area.outline.at(0) = {cx, cz};
    rim.clear();
    for (int i = 0; i < points; ++i) {
        const float a = 6.2831853f * (float(i) + 0.5f * float(random() % 100) / 100.0f) / float(points);
        const float r = radius(random);
        rim.push_back({cx + r * std::cos(a), cz + r * std::sin(a)});
        *area.outline.at(i + 1) = rim.back();
    }
    area.outlineCount = points + 1;
    area.indexCount = 0;
    for (int i = 0; i < points; ++i)
        for (int v : {0, i + 1, (i + 1) % points + 1})
            *area.triangles.at(area.indexCount++) = uint16_t(v);
    area.box.minimum = {cx - 60.0f, -5.0f, cz - 60.0f};
    area.box.maximum = {cx + 60.0f, 10.0f, cz + 60.0f};
    area.level = 10.0f;
}

TEST(WaterArea, PointInWaterMatchesThePolygon)
{
    std::mt19937 random(4242);
    std::uniform_real_distribution<float> offset(-70.0f, 70.0f);
    std::vector<vec2d> rim;
    int hits = 0;
    for (int shape = 0; shape < 60; ++shape) {
        WaterArea area(nullptr);
        starArea(area, rim, random, 100.0f, -300.0f);
        for (int k = 0; k < 400; ++k) {
            const float x = 100.0f + offset(random), z = -300.0f + offset(random);
            if (distanceToEdges(rim, x, z) < 1e-3f)
                continue;
            float depth = -1.0f;
            const int32_t in = area.isPointInWater({x, 4.0f, z}, &depth);
            ASSERT_EQ(in != 0, insidePolygon(rim, x, z)) << shape << " " << x << "," << z;
            if (in) {
                EXPECT_EQ(depth, 6.0f);
                ++hits;
            }
            // Above the surface nothing is in the water.
            EXPECT_EQ(area.isPointInWater({x, 10.5f, z}), 0);
        }
    }
    EXPECT_GT(hits, 1000);

    // The level and the box's edges count as inside.
    WaterArea square(nullptr);
    const vec2d corners[4] = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
    for (int i = 0; i < 4; ++i)
        *square.outline.at(i) = corners[i];
    square.outlineCount = 4;
    for (uint16_t v : {0, 1, 2, 0, 2, 3})
        *square.triangles.at(square.indexCount++) = v;
    square.box.minimum = {0, -1, 0};
    square.box.maximum = {10, 2, 10};
    square.level = 2.0f;
    float depth = -1.0f;
    EXPECT_EQ(square.isPointInWater({10.0f, 2.0f, 10.0f}, &depth), 1);
    EXPECT_EQ(depth, 0.0f);
    EXPECT_EQ(square.isPointInWater({0.0f, 1.0f, 5.0f}), 1);
    EXPECT_EQ(square.isPointInWater({10.001f, 1.0f, 5.0f}), 0);
    EXPECT_EQ(square.isPointInWater({5.0f, 1.0f, -0.001f}), 0);
    square.indexCount = 0;
    EXPECT_EQ(square.isPointInWater({5.0f, 1.0f, 5.0f}), 0);
}

// A camera for the water's distance tests, put back afterwards.
class WaterCamera : public testing::Test
{
protected:
    void SetUp() override
    {
        savedCamera = gCamera;
        savedPosition = cameraPosition.load();
        camera.range = 1000.0f;
        gCamera = &camera;
        cameraPosition.store(&camera.position);
        gWater.enabled = 1;
    }
    void TearDown() override
    {
        gWater.clear();
        gCamera = savedCamera;
        cameraPosition.store(savedPosition);
    }

    // An area whose box lies at distance from the origin along +x.
    static WaterArea* areaAt(float distance)
    {
        WaterArea* area = new WaterArea(nullptr);
        area->box.minimum = {distance, 0.0f, -5.0f};
        area->box.maximum = {distance + 10.0f, 0.0f, 5.0f};
        area->box.center = (area->box.minimum + area->box.maximum) * 0.5f;
        return area;
    }
    void moveCamera(float x)
    {
        camera.position = {x, 0.0f, 0.0f};
        gWater.update(0);
    }

    Camera camera;
    Camera* savedCamera = nullptr;
    const vec3d* savedPosition = nullptr;
};

TEST_F(WaterCamera, DormantAreasAreScannedASixteenthAtATime)
{
    struct Case
    {
        int areas, force, woken;
    };
    const Case cases[] = {{40, 0, 2}, {10, 0, 10}, {40, 1, 40}, {17, 0, 1}};
    for (const Case& c : cases) {
        gWater.clear();
        gWater.enabled = 1;
        for (int i = 0; i < c.areas; ++i)
            gWater.dormant.append(areaAt(100.0f));
        camera.position = {float(c.areas), 0.0f, 0.0f};
        gWater.update(c.force);
        EXPECT_EQ(gWater.live.count(), c.woken) << c.areas << " " << c.force;
        EXPECT_EQ(gWater.dormant.count(), c.areas - c.woken);
    }
    // A camera that moved less than 0.00114 of its range scans nothing.
    gWater.clear();
    gWater.enabled = 1;
    for (int i = 0; i < 40; ++i)
        gWater.dormant.append(areaAt(100.0f));
    moveCamera(0.0f);
    moveCamera(1.1f);
    EXPECT_EQ(gWater.live.count(), 2);
    moveCamera(1.2f);
    EXPECT_EQ(gWater.live.count(), 4);
    // Scans go on round the list.
    for (int i = 0; i < 30; ++i)
        moveCamera(1.2f + 1.2f * float(i + 1));
    EXPECT_EQ(gWater.live.count(), 40);
}

TEST_F(WaterCamera, AreasLiveWithinATenthMoreThanTheViewRange)
{
    // (1.1 R)^2 for R = 1000: an area 1100 away is at the limit.
    gWater.dormant.append(areaAt(1100.0f));
    D3D::Device::SwapChain chain(nullptr);
    moveCamera(0.0f);
    ASSERT_EQ(gWater.live.count(), 0); // waking needs the area strictly within
    moveCamera(1.5f);
    ASSERT_EQ(gWater.live.count(), 1);
    WaterArea& area = *gWater.live.head()->item;
    EXPECT_EQ(area.built, 1u);
    camera.position = {0.0f, 0.0f, 0.0f};
    EXPECT_EQ(area.render(chain), WaterArea::unchanged); // at the limit it stays
    camera.position = {-0.1f, 0.0f, 0.0f};
    gWater.render(chain);
    EXPECT_EQ(gWater.live.count(), 0);
    EXPECT_EQ(gWater.dormant.count(), 1);
    EXPECT_EQ(area.built, 0u);
    moveCamera(5.0f);
    EXPECT_EQ(gWater.live.count(), 1);
}

// The pond of the sample with its grid built, its macros placed and all of
// its cells wet; the random numbers are fixed so that no noise enters.
class Waves : public testing::Test
{
protected:
    void SetUp() override
    {
        FileArray file(256);
        WaterFileWriter::write({WaterSamples::valley()[1]}, file);
        gWater.read(nullptr, file);
        ASSERT_EQ(gWater.dormant.count(), 1);
        pond = gWater.dormant.head()->item;
        physics().random = [] { return 16384; };
        ASSERT_TRUE(physics().build());
        patch = physics().patches.head()->item;
        physics().buildMacros(*patch);
        ASSERT_EQ(patch->macroCount, 64);
        for (int32_t ix = 0; ix < physics().nx + 2; ++ix)
            for (int32_t iz = 0; iz < physics().nz + 2; ++iz) {
                WaterPhysics::Cell& c = physics().cell(ix, iz);
                c.height[0] = c.height[1] = 0;
                if (c.stamp == 0)
                    c.stamp = 255;
            }
        light.direction = {0.6f, 0.0f, 0.8f};
    }
    void TearDown() override { gWater.clear(); }

    WaterPhysics& physics() { return pond->physics; }
    // Simulates every placed macro with the camera at the pond, one frame.
    void step()
    {
        for (int32_t i = 0; i < patch->macroCount; ++i) {
            WaterPhysics::Macro& m = *patch->macros.at(i);
            if (m.box.maximum.x > m.box.minimum.x)
                m.simulate(physics(), {-200.0f, 50.0f, 800.0f}, light);
        }
        physics().finishFrame();
    }
    WaterPhysics::Macro& macro(int i) { return *patch->macros.at(i); }

    WaterArea* pond = nullptr;
    WaterPhysics::Patch* patch = nullptr;
    LightRecord light;
};

TEST_F(Waves, AnImpulseSpreadsEvenlyAndDiesOut)
{
    WaterPhysics& p = physics();
    // A cell in the middle of macro 27, well inside the placed macros.
    const WaterPhysics::Macro& m = macro(27);
    const int32_t cx = m.ix0 + 4, cz = m.iz0 + 4;
    // A dry cell farther than the wave gets in these frames.
    WaterPhysics::Cell& dry = p.cell(cx + 20, cz);
    dry.stamp = 0;
    dry.height[0] = dry.height[1] = 7;
    p.cell(cx, cz).velocity = 20000;
    int32_t peak = 0;
    for (int frame = 0; frame < 12; ++frame) {
        step();
        // Mirror images about the impulse agree.
        for (int32_t d = 1; d <= 4; ++d)
            for (int32_t e = 0; e <= 4; ++e) {
                const int16_t h = p.cell(cx + d, cz + e).height[p.other];
                EXPECT_EQ(h, p.cell(cx - d, cz + e).height[p.other]) << frame;
                EXPECT_EQ(h, p.cell(cx + d, cz - e).height[p.other]) << frame;
                EXPECT_EQ(p.cell(cx + e, cz + d).height[p.other], p.cell(cx + d, cz + e).height[p.other]) << frame;
            }
        peak = std::max(peak, int32_t(std::abs(p.cell(cx + 2, cz).height[p.other])));
    }
    EXPECT_GT(peak, 100); // it travelled
    for (int frame = 0; frame < 3000; ++frame)
        step();
    EXPECT_EQ(dry.height[0], 7);
    EXPECT_EQ(dry.height[1], 7);
    EXPECT_EQ(dry.velocity, 0);
    EXPECT_EQ(dry.stamp, 0);
    int32_t rest = 0;
    for (int32_t i = 0; i < patch->macroCount; ++i)
        for (int32_t ix = macro(i).ix0; ix < macro(i).ix0 + p.n; ++ix)
            for (int32_t iz = macro(i).iz0; iz < macro(i).iz0 + p.n; ++iz)
                rest = std::max(rest, int32_t(std::abs(p.cell(ix, iz).height[0])));
    EXPECT_LT(rest, 40);
}

TEST_F(Waves, SlopesTakeTheSunsLight)
{
    WaterPhysics& p = physics();
    const WaterPhysics::Macro& m = macro(27);
    const int32_t ix = m.ix0 + 4, iz = m.iz0 + 4;
    // The row before stands 100 high and the row after 20 deep (the last
    // frame's heights): slopes Sz = 300 - (-60) = 360, Sx = 0.
    for (int32_t d = -1; d <= 1; ++d) {
        p.cell(ix + d, iz - 1).height[p.other] = 100;
        p.cell(ix + d, iz + 1).height[p.other] = -20;
    }
    light.direction = {0.0f, 0.6f, 0.8f};
    light.diffuse[0] = 0.5f;
    light.diffuse[1] = 0.25f;
    light.diffuse[2] = 1.0f;
    macro(27).simulate(p, {m.box.center.x, 50.0f, m.box.center.z}, light);
    // s = 360 x 0.8 x 0.01 + 10 = 12.88 at the macro's centre.
    EXPECT_EQ(p.cell(ix, iz).colour, Color(6, 3, 12, 7));
    // Lit from the other side the slope darkens it: s = 10 - 2.88 = 7.12.
    light.direction = {0.0f, 0.6f, -0.8f};
    p.cell(ix, iz).stamp = 255;
    macro(27).simulate(p, {m.box.center.x, 50.0f, m.box.center.z}, light);
    EXPECT_EQ(p.cell(ix, iz).colour, Color(3, 1, 7, 4));
}

TEST(WaveReflection, ACameraSpacePointTurnsIntoItsMirrorImage)
{
    Camera camera;
    camera.position = {30.0f, 80.0f, -45.0f};
    camera.angles = {35.0f, -20.0f, 5.0f};
    camera.setAnglesDeg();
    camera.update();
    const matrix3d mirror = WaterTextures::mirror(47.0f);
    // The camera's own view, and one that also halves every distance (the
    // inverse must undo the scale too).
    matrix3d halved = camera.view;
    for (int i = 0; i < 16; ++i)
        halved.m[i] *= i % 4 < 3 ? 0.5f : 1.0f;
    for (const matrix3d& view : {camera.view, halved}) {
        const matrix3d w = WaterStages::waveTransform(view, mirror);
        for (const vec3d& q : {vec3d{0.0f, 50.0f, 0.0f}, vec3d{-120.0f, 47.0f, 300.0f}, vec3d{5.0f, 90.0f, -7.0f}}) {
            const vec3d seen = w.transformPoint(view.transformPoint(q));
            const vec3d image = view.transformPoint({q.x, 2.0f * 47.0f - q.y, q.z});
            EXPECT_NEAR(seen.x, image.x, 1e-3f);
            EXPECT_NEAR(seen.y, image.y, 1e-3f);
            EXPECT_NEAR(seen.z, image.z, 1e-3f);
        }
    }
}

TEST_F(Waves, FrameStampsSkipZero)
{
    WaterPhysics& p = physics();
    std::vector<int> seen;
    for (int i = 0; i < 256; ++i) {
        seen.push_back(p.frameStamp);
        p.finishFrame();
    }
    EXPECT_EQ(seen.front(), 1);
    EXPECT_EQ(seen[254], 255);
    EXPECT_EQ(seen[255], 1);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 0), 0);
}

TEST_F(Waves, RipplesPushTheCellUnderThem)
{
    WaterPhysics& p = physics();
    const WaterPhysics::Macro& m = macro(9);
    const float x = m.box.minimum.x + 3.5f, z = m.box.minimum.z + 2.5f;
    const int32_t ix = int32_t(3.5f / 8.0f * 8.0f) + m.ix0, iz = m.iz0 - int32_t(2.5f / 8.0f * 8.0f) + 7;
    const std::pair<float, int16_t> cases[] = {{1.0f, 32767}, {2.0f, 32767}, {0.0f, -1}, {-3.0f, -1}, {0.5f, 16383}};
    for (const auto& [strength, velocity] : cases) {
        p.addRipple({x, z}, strength);
        EXPECT_EQ(p.cell(ix, iz).velocity, velocity) << strength;
    }
    // On the edge between two macros the first of them takes it, for the
    // row beyond its own.
    p.addRipple({x, m.box.maximum.z}, 1.0f);
    EXPECT_EQ(p.cell(ix, m.iz0 - 1).velocity, 32767);
    // A dry cell, and a point outside the patch, take nothing.
    p.cell(ix, iz).stamp = 0;
    p.cell(ix, iz).velocity = 5;
    p.addRipple({x, z}, 1.0f);
    EXPECT_EQ(p.cell(ix, iz).velocity, 5);
    p.addRipple({0.0f, 0.0f}, 1.0f);
}

TEST(WaveSettings, OnlySoundSettingsRun)
{
    FileArray file(256);
    WaterFileWriter::write({WaterSamples::valley()[1]}, file);
    using Break = std::function<void(WaterArea&)>;
    const Break breaks[] = {
        [](WaterArea&) {},
        [](WaterArea& a) { a.physics.n = 1; },
        [](WaterArea& a) { a.physics.n = 17; },
        [](WaterArea& a) { a.physics.shifts[3] = 0; },
        [](WaterArea& a) { a.physics.shifts[0] = 16; },
        [](WaterArea& a) { a.physics.shifts[4] = -1; },
        [](WaterArea& a) { a.physics.noiseShift = 16; },
        [](WaterArea& a) { a.macroSize = 0.0f; },
        [](WaterArea& a) { a.macroSize = std::nanf(""); },
        [](WaterArea& a) { a.physics.gridMaximumX = a.physics.gridMinimumX; },
        [](WaterArea& a) { a.physics.gridMaximumZ = 1e9f; },
    };
    for (size_t k = 0; k < std::size(breaks); ++k) {
        gWater.read(nullptr, file);
        WaterArea& area = *gWater.dormant.head()->item;
        breaks[k](area);
        EXPECT_EQ(area.physics.valid(), k == 0) << k;
        EXPECT_EQ(area.physics.build(), k == 0) << k;
        EXPECT_EQ(area.physics.gridExists(), k == 0) << k;
        gWater.clear();
    }
}

}
