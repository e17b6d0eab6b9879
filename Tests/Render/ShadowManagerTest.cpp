// The shadow manager's sectors against a brute-force grid, without a
// device: placement, keys, strengths, re-use and the sun's extremes.
#include "ShadowStandIns.h"

#include "Render/ShadowManager.h"
#include "Render/SwapChain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>

namespace {

using ShadowStandIns::Boxes;
using ShadowStandIns::Flat;

struct Sun
{
    vec3d direction;
};

class ShadowSectors : public testing::Test
{
protected:
    void SetUp() override
    {
        chain = std::make_unique<D3D::Device::SwapChain>(nullptr);
        chain->shadowCasters = &casters;
        owner = chain.get();
        manager = std::make_unique<ShadowManager>(owner, 800.0f, 165.0f);
        manager->ground = &ground;
    }
    void TearDown() override
    {
        manager.reset();
        chain.reset();
    }

    void place(const vec3d& camera, const vec3d& sun)
    {
        chain->position = camera;
        chain->sun.direction = sun;
        manager->update();
    }

    // The sectors placed by the last update, by key.
    std::map<std::pair<int32_t, int32_t>, ShadowManager::ShadowSector*> placed() const
    {
        std::map<std::pair<int32_t, int32_t>, ShadowManager::ShadowSector*> out;
        for (int32_t i = 0; i < manager->sectorCount; ++i)
            if (ShadowManager::ShadowSector* s = *manager->sectors.at(i);
                s && s->lastUsedFrame == manager->frameCounter - 1 && s->key[0] != s->freeKey)
                out[{s->key[0], s->key[1]}] = s;
        return out;
    }

    std::unique_ptr<D3D::Device::SwapChain> chain;
    D3D::Device::SwapChain* owner = nullptr;
    Boxes casters;
    Flat ground;
    std::unique_ptr<ShadowManager> manager;
};

// The lattice of cell corners anchored at -10000 along the sun's horizontal
// axes: every point within range of the area's centre, and its strength.
struct Expected
{
    std::vector<std::pair<vec3d, int32_t>> points; // grid point, strength
    bool nearEdge = false;                         // a point too close to an edge to judge
};

Expected bruteForce(const vec3d& camera, const vec3d& sun, float range)
{
    const float cell = 2.0f * range / 3.0f;
    vec3d centre{camera.x, 180.0f, camera.z};
    const float t = 180.0f / sun.y; // where the line to the sun meets y = 0
    if (t <= 1000.0f) {
        centre.x += sun.x * t;
        centre.z += sun.z * t;
    }
    const double h = std::sqrt(double(sun.x) * sun.x + double(sun.z) * sun.z);
    const double dx = h > 0 ? sun.x / h : 0, dz = h > 0 ? sun.z / h : 0;
    const double cu = centre.x * dx + centre.z * dz, cw = -centre.x * dz + centre.z * dx;
    Expected out;
    const int k0 = int(std::floor((cu - range + 10000.0) / cell)) - 1;
    const int m0 = int(std::floor((cw - range + 10000.0) / cell)) - 1;
    for (int k = k0; k < k0 + 6; ++k)
        for (int m = m0; m < m0 + 6; ++m) {
            const double u = k * double(cell) - 10000.0, w = m * double(cell) - 10000.0;
            const double distance = std::hypot(u - cu, w - cw);
            if (std::fabs(distance - range) < 2.0 || std::fabs(u - (cu - range)) < 2.0 ||
                std::fabs(w - (cw - range)) < 2.0)
                out.nearEdge = true;
            if (distance > range)
                continue;
            const double x = u * dx - w * dz, z = u * dz + w * dx;
            const double weight = std::clamp((range - distance) / (0.1 * range), 0.0, 1.0);
            out.points.push_back({{float(x), 180.0f, float(z)}, int32_t(165.0 * weight)});
        }
    return out;
}

TEST_F(ShadowSectors, SectorsMatchABruteForceGridOverCamerasAndSuns)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> spread(-6000.0f, 6000.0f), height(0.05f, 0.95f), turn(0.0f, 6.2831853f);
    int judged = 0, fullStrength = 0, ramped = 0;
    for (int trial = 0; trial < 300; ++trial) {
        const vec3d camera{spread(random), 40.0f, spread(random)};
        const float y = height(random), a = turn(random), across = std::sqrt(1.0f - y * y);
        const vec3d sun{across * std::cos(a), y, across * std::sin(a)};
        manager->offset = {}; // each trial on its own
        place(camera, sun);
        const Expected want = bruteForce(camera, sun, 800.0f);
        if (want.nearEdge)
            continue;
        ++judged;
        const auto got = placed();
        ASSERT_EQ(got.size(), want.points.size()) << trial;
        for (const auto& [point, strength] : want.points) {
            // The table square root of the sun's direction (15 bits) and
            // single precision put the sector within half a unit of the grid
            // point; its key is its own position's whole part.
            const auto found = std::find_if(got.begin(), got.end(), [&](const auto& entry) {
                return (entry.second->position - point).length() < 0.5f;
            });
            ASSERT_NE(found, got.end()) << trial << ": " << point.x << ", " << point.z;
            const ShadowManager::ShadowSector& s = *found->second;
            EXPECT_EQ(found->first, std::make_pair(int32_t(s.position.x), int32_t(s.position.z)));
            EXPECT_NEAR(s.opacity, strength, 1) << trial;
            fullStrength += strength == 165;
            ramped += strength > 0 && strength < 165;
        }
    }
    EXPECT_GT(judged, 150);
    EXPECT_GT(fullStrength, 0);
    EXPECT_GT(ramped, 0);
}

TEST_F(ShadowSectors, AMoveWithinACellKeepsTheSectorsAndTheirMaps)
{
    casters.casters.push_back({ShadowStandIns::box({100.0f, 5.0f, 100.0f}, {5.0f, 5.0f, 5.0f})});
    const vec3d sun = vec3d{0.3f, 0.8f, 0.2f}.normalised();
    place({100.0f, 40.0f, 120.0f}, sun);
    const auto before = placed();
    ASSERT_FALSE(before.empty());
    place({103.0f, 40.0f, 118.0f}, sun);
    const auto after = placed();
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [key, sector] : before) {
        ASSERT_EQ(after.count(key), 1u);
        EXPECT_EQ(after.at(key), sector);
        EXPECT_EQ(sector->still, 1u);
        EXPECT_EQ(sector->changed, 0u);
    }
    // Sectors receive through the device's list, the casters and the ground;
    // only those over a caster stay enabled.
    int enabled = 0;
    for (const auto& [key, sector] : after) {
        EXPECT_EQ(sector->receivers.count(), 3);
        enabled += sector->disabled == 0;
    }
    EXPECT_GE(enabled, 1);
    EXPECT_LT(enabled, int(after.size()));
    EXPECT_EQ(ground.received.size(), after.size());

    // A new softness reaches every sector's map.
    manager->setQuality(0.5f);
    for (int32_t i = 0; i < manager->sectorCount; ++i)
        EXPECT_EQ((*manager->sectors.at(i))->map.blur, 0.5f) << i;

    // Far away the sectors are re-used for new keys, none made anew.
    const int32_t made = manager->sectorCount;
    place({5000.0f, 40.0f, -3000.0f}, sun);
    EXPECT_EQ(manager->sectorCount, made);
    manager->releaseSectors();
    EXPECT_EQ(manager->sectorCount, made);
    EXPECT_TRUE(ground.received.empty());
    EXPECT_TRUE(casters.received.empty());
}

TEST_F(ShadowSectors, WithoutGroundOrWhileDisabledNothingChanges)
{
    const vec3d sun = vec3d{0.3f, 0.8f, 0.2f}.normalised();
    for (int setting = 0; setting < 3; ++setting) {
        ground.loaded = setting != 0;
        manager->enabled = setting != 1;
        manager->ground = setting == 2 ? nullptr : &ground;
        place({0.0f, 40.0f, 0.0f}, sun);
        EXPECT_EQ(manager->frameCounter, 0);
        EXPECT_EQ(manager->sectorCount, 0);
    }
}

// A sun on the horizon casts nothing (its lens would be infinite); a sun
// straight overhead has no vertical plane of its own and still gives sound
// matrices.
TEST_F(ShadowSectors, HorizonAndVerticalSunsGiveFiniteMatricesOrNoShadows)
{
    const vec3d camera{3000.0f, 40.0f, -2000.0f};
    casters.casters.push_back({ShadowStandIns::box({3000.0f, 5.0f, -2000.0f}, {50.0f, 5.0f, 50.0f})});
    place(camera, {0.0f, 1.0f, 0.0f});
    const auto overhead = placed();
    ASSERT_FALSE(overhead.empty());
    // Around the camera, on whole cells.
    for (const auto& [key, s] : overhead)
        EXPECT_LE(std::hypot(s->position.x - camera.x, s->position.z - camera.z), 800.5f);
    EXPECT_GE(overhead.size(), 4u);
    int enabled = 0;
    for (const auto& [key, s] : overhead) {
        for (const matrix3d* m : {&s->transform, &s->projection, &s->view, &s->textureMatrix})
            for (float v : m->m)
                ASSERT_TRUE(std::isfinite(v)) << key.first << ", " << key.second;
        for (int p = 0; p < s->volume.count; ++p)
            ASSERT_TRUE(std::isfinite(s->volume.planes[p].distance));
        enabled += s->disabled == 0;
    }
    EXPECT_GE(enabled, 1);
    for (const vec3d& low : {vec3d{1.0f, 0.0005f, 0.0f}, vec3d{0.0f, -0.5f, 0.866f}}) {
        const int32_t frames = manager->frameCounter;
        place(camera, low);
        EXPECT_EQ(manager->frameCounter, frames);
        for (int32_t i = 0; i < manager->sectorCount; ++i)
            EXPECT_EQ((*manager->sectors.at(i))->disabled, 1u);
    }
}

}
