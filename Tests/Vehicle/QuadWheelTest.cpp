// Wheel units set up from the sample quad's part meshes: probe lengths and
// shock travel by hand, the parts placed by the quad, the axes they turn.
#include "Vehicle/QuadWheel.h"

#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "Entity/Entity.h"

#include "ObjectPackageWriter.h"
#include "QuadSample.h"
#include "QuadSamplePackage.h"

#include "Core/FileArray.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
using Wheel = QuadPhysics::Wheel;

TEST(QuadWheel, SetUpFromThePartMeshes)
{
    {
        Wheel fresh;
        EXPECT_EQ(fresh.index, Wheel::notSetUp);
        EXPECT_EQ(fresh.spring, 60.0f);
        EXPECT_EQ(fresh.damper, 1.8f);
        EXPECT_EQ(fresh.contacts[0].wheel, &fresh);
        EXPECT_EQ(fresh.contacts[1].wheel, &fresh);
    }
    auto package = quadSamplePackage();
    const QuadPhysics& quad = *package->functions.quadPhysics;
    EntityManager entities;
    EntityManager::Entity entity(entities);

    struct Case
    {
        int32_t unit;
        int32_t roles[Wheel::partCount]; // swing arm, shock, steering part, wheel (0: none)
        float rayLength, partLength;     // at scale 5, by hand from the sample's half sizes
    };
    const Case cases[] = {
        {Wheel::frontLeft, {4, 5, 6, 7}, 2 * 0.30f * 5, 2 * 0.18f * 5},
        {Wheel::frontRight, {8, 9, 10, 11}, 2 * 0.30f * 5, 2 * 0.18f * 5},
        {Wheel::rearAxle, {1, 2, 0, 3}, 2 * 0.30f * 5, 2 * 0.20f * 5},
        {Wheel::frontLeft, {4, 0, 6, 0}, 0.0f, 0.0f}, // no wheel, no shock: no lengths
    };
    for (const Case& c : cases) {
        Wheel wheel;
        for (int32_t i = 0; i < Wheel::partCount; ++i) {
            if (!c.roles[i])
                continue;
            wheel.partMeshes[i] = quad.mesh(c.roles[i]);
            wheel.parts[i] = entity.addStoredMesh(*wheel.partMeshes[i], true, true, nullptr, nullptr);
            ASSERT_NE(wheel.parts[i], nullptr);
            EXPECT_EQ(wheel.parts[i]->followsEntity, 1u);
        }
        wheel.setUpWheel(nullptr, c.unit, 5.0f, 70.0f, 2.5f);
        EXPECT_EQ(wheel.index, c.unit);
        EXPECT_EQ(wheel.scale, 5.0f);
        EXPECT_EQ(wheel.spring, 70.0f);
        EXPECT_EQ(wheel.damper, 2.5f);
        EXPECT_NEAR(wheel.contacts[0].rayLength, c.rayLength, 1e-4f) << c.unit;
        EXPECT_NEAR(wheel.contacts[1].rayLength, c.unit == Wheel::rearAxle ? c.rayLength : 0.0f, 1e-4f) << c.unit;
        EXPECT_NEAR(wheel.halfRayLength, c.rayLength / 2, 1e-4f) << c.unit;
        EXPECT_NEAR(wheel.partLength, c.partLength, 1e-4f) << c.unit;
        EXPECT_EQ(wheel.dirAxis, c.unit == Wheel::rearAxle ? &wheel.axisRight : &wheel.axisForward);
        for (EntityManager::SubEntity* part : wheel.parts) {
            if (part) {
                EXPECT_EQ(part->followsEntity, 0u) << "the quad places its parts itself";
            }
        }
    }
}

}
