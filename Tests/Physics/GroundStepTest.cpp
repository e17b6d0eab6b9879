#include "ScenarioSupport.h"

#include "Physics/PhysicsManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

namespace
{

// A quad's box at p, its forward axis along forward (level), with the
// game's quad's mass and inertia.
neRigidBody* quadBox(TestSimulator& t, const vec3d& p, const vec3d& size, float mass, const vec3d& forward)
{
    neRigidBody* box = t.box(p, size);
    matrix3d pose = matrix3d::identity();
    const vec3d across = forward.cross(vec3d(0.0f, 1.0f, 0.0f));
    for (int i = 0; i < 3; ++i) {
        pose.m[i] = forward[i];
        pose.m[8 + i] = across[i];
        pose.m[12 + i] = p[i];
    }
    box->setPose(pose);
    box->mass = mass;
    box->inverseMass = 1.0f / mass;
    box->setInertiaTensor(cubeInertiaTensor(6.84f, 4.56f, 5.7f, mass));
    box->updateDerived();
    return box;
}

// A quad's box (of the game's quads, at their scale, with their mass and
// inertia, its forward axis along x) driven along
// +x on level ground into a step that rises by its height over its run
// (0: within one of the ground's three-unit cells), at every step length
// of 60 down to 5 frames a second: it climbs, slides or stops, but never
// rises faster than it drove, its lowest corner never stands higher over
// the ground beneath it than a few units (a step of two units throws a box
// at full speed some three), and its middle never sinks below the lowest
// ground under it. The 8 unit step over 7 units is the off-road maps'
// steepest; 30 over 30 a 45 degree slope. At 70, the speed at which quads
// meet such steps, a box leaves the step's top as off a ramp: it flies, but
// no higher than a body carried up the step's face at its speed would.
TEST(GroundStep, ABoxDrivenIntoStepsAndSlopesIsNeverThrownUp)
{
    using Manager = EntityManager::PhysicsManager;
    struct Step
    {
        float height, run;
    };
    const vec3d size{8.5f, 1.8f, 4.5f};
    const float mass = 0.8f;
    for (const Step shape : {Step{8, 7}, Step{2, 1}, Step{8, 2}, Step{16, 7}, Step{8, 0}, Step{30, 30}})
        for (const float speed : {5.0f, 15.0f, 30.0f, 70.0f})
            for (const float fps : {60.0f, 35.0f, 7.0f, 5.0f}) {
                SCOPED_TRACE(std::to_string(shape.height) + " over " + std::to_string(shape.run) + " at " +
                             std::to_string(speed) + ", " + std::to_string(fps) + " fps");
                const float frame = std::max(1.0f / fps, Manager::shortestFrame);
                const float step = frame / std::ceil(frame / Manager::longestBatch - 1e-3f) * 1.4f;
                TestSimulator t = TestGround::make();
                TestGround::cell = 3.0f;
                TestGround::stepHeight = shape.height;
                TestGround::stepRun = shape.run;
                neRigidBody* box = quadBox(t, {-20.0f, size.y * 0.5f, 0.3f}, size, mass, {1.0f, 0.0f, 0.0f});
                box->velocity = {speed, 0.0f, 0.0f};
                box->externalForce = {mass * 6.0f, 0.0f, 0.0f}; // its drive, against the friction
                float fastest = speed, climb = 0.0f, highest = -1e30f, lowest = 1e30f;
                for (int batch = 0; batch < int(6.0f / (3.0f * step)); ++batch) {
                    t->advanceThreeSteps(nullptr, 3.0f * step);
                    const matrix3d& world = box->state().transform;
                    float corner = 1e30f;
                    for (int k = 0; k < 8; ++k) {
                        vec3d c = box->position();
                        for (int i = 0; i < 3; ++i)
                            c += neAxis(world, i) * ((k >> i & 1) ? 0.5f : -0.5f) * size[i];
                        corner = std::min(corner, c.y - TestGround::height(c.x));
                    }
                    const vec3d p = box->position();
                    fastest = std::max(fastest, box->velocity.x);
                    climb = std::max(climb, box->velocity.y);
                    highest = std::max(highest, corner);
                    lowest = std::min(lowest, p.y - std::min(TestGround::height(p.x - 5.0f), TestGround::height(p.x)));
                }
                EXPECT_LE(climb, fastest) << "thrown up";
                const float carried = speed * shape.height / std::hypot(shape.height, std::max(shape.run, 3.0f));
                const float flight = speed > 30.0f ? carried * carried / (2.0f * 9.81f) : 0.0f;
                EXPECT_LT(highest, 6.0f + flight) << "above the ground";
                EXPECT_GT(lowest, 0.0f) << "under the ground";
            }
}

}

namespace
{

// A quad's box (as above) driven at ground it cannot climb: a thin ridge 16
// units high falling to level ground one ground cell of 3 units on either
// side (the hollows left such ridges where two of them met), and the steps
// of 8 and 16 units over 7, head on and slanted (its line of travel 60
// degrees from the ridge's), from 5 to 70 units a second at 60, 35 and 5
// frames a second. It meets them as a wall: it stops, slides along or
// climbs. Its middle never lies more than 6 units under the ground straight
// beneath it (a box passing into or through the ridge does) nor more than
// 40 over it.
TEST(GroundStep, ABoxMeetsGroundItCannotClimbAsAWall)
{
    using Manager = EntityManager::PhysicsManager;
    struct Ground
    {
        const char* name;
        float ridge, stepHeight, stepRun;
    };
    const vec3d size{8.5f, 1.8f, 4.5f};
    const float mass = 0.8f;
    constexpr float degrees = 3.14159265f / 180.0f;
    for (const Ground ground : {Ground{"ridge", 16, 0, 0}, Ground{"8 over 7", 0, 8, 7}, Ground{"16 over 7", 0, 16, 7}})
        for (const float heading : {0.0f, 30.0f})
            for (const float speed : {5.0f, 30.0f, 70.0f})
                for (const float fps : {60.0f, 35.0f, 5.0f}) {
                    SCOPED_TRACE(std::string(ground.name) + ", heading " + std::to_string(heading) + " at " +
                                 std::to_string(speed) + ", " + std::to_string(fps) + " fps");
                    const float frame = std::max(1.0f / fps, Manager::shortestFrame);
                    const float step = frame / std::ceil(frame / Manager::longestBatch - 1e-3f) * 1.4f;
                    TestSimulator t = TestGround::make();
                    TestGround::cell = 3.0f;
                    TestGround::ridgeHeight = ground.ridge;
                    TestGround::ridgeHalf = 3.0f;
                    TestGround::stepHeight = ground.stepHeight;
                    TestGround::stepRun = ground.stepRun;
                    const vec3d forward{std::cos(heading * degrees), 0.0f, std::sin(heading * degrees)};
                    neRigidBody* box =
                        quadBox(t, forward * -20.0f + vec3d(0.0f, size.y * 0.5f, 0.3f), size, mass, forward);
                    box->velocity = forward * speed;
                    float highest = -1e30f, lowest = 1e30f;
                    for (int batch = 0; batch < int(6.0f / (3.0f * step)); ++batch) {
                        // Its drive along its own forward axis, against the friction.
                        box->externalForce = neAxis(box->state().transform, 0) * (mass * 6.0f);
                        t->advanceThreeSteps(nullptr, 3.0f * step);
                        const vec3d p = box->position();
                        const float over = p.y - TestGround::height(p.x);
                        highest = std::max(highest, over);
                        lowest = std::min(lowest, over);
                    }
                    EXPECT_GT(lowest, -6.0f) << "into the ground";
                    EXPECT_LT(highest, 40.0f) << "thrown up";
                }
}

}

namespace
{

// A quad's box dropped onto the crest of the thin ridge above (its crest
// line across the box or along it, the box a little beside it, falling at 0
// or 10 units a second) at 60, 35 and 5 frames a second: the ridge's steep
// sides push only across, yet the crest holds the box up, or the box slides
// off to one side. The crest never goes more than half a unit into the box
// (before, the box fell onto the floor through it).
TEST(GroundStep, ABoxDroppedOnARidgeRestsOnItsCrestOrSlidesOff)
{
    using Manager = EntityManager::PhysicsManager;
    const vec3d size{8.5f, 1.8f, 4.5f};
    const float mass = 0.8f;
    constexpr float degrees = 3.14159265f / 180.0f;
    for (const float offset : {0.0f, 1.0f, 2.0f})
        for (const float turn : {0.0f, 30.0f, 90.0f})
            for (const float fall : {0.0f, 10.0f})
                for (const float fps : {60.0f, 35.0f, 5.0f}) {
                    SCOPED_TRACE(std::to_string(offset) + " beside, turned " + std::to_string(turn) + ", falling at " +
                                 std::to_string(fall) + ", " + std::to_string(fps) + " fps");
                    const float frame = std::max(1.0f / fps, Manager::shortestFrame);
                    const float step = frame / std::ceil(frame / Manager::longestBatch - 1e-3f) * 1.4f;
                    TestSimulator t = TestGround::make();
                    TestGround::cell = 3.0f;
                    TestGround::ridgeHeight = 16.0f;
                    TestGround::ridgeHalf = 3.0f;
                    const vec3d forward{std::cos(turn * degrees), 0.0f, std::sin(turn * degrees)};
                    const vec3d start{offset, 16.0f + size.y * 0.5f + 0.2f, 0.3f};
                    neRigidBody* box = quadBox(t, start, size, mass, forward);
                    box->velocity = {0.0f, -fall, 0.0f};
                    float deepest = 0.0f;
                    for (int batch = 0; batch < int(4.0f / (3.0f * step)); ++batch) {
                        t->advanceThreeSteps(nullptr, 3.0f * step);
                        // The crest's points inside the box's outline from
                        // above: how far above its bottom face.
                        const matrix3d& w = box->state().transform;
                        const vec3d c = box->position();
                        for (float z = -10.0f; z <= 10.0f; z += 0.5f) {
                            const vec3d d = vec3d(0.0f, 16.0f, z) - c;
                            if (std::fabs(d.dot(neAxis(w, 0))) < size.x * 0.5f && std::fabs(d.dot(neAxis(w, 2))) < size.z * 0.5f)
                                deepest = std::max(deepest, d.dot(neAxis(w, 1)) + size.y * 0.5f);
                        }
                    }
                    EXPECT_LT(deepest, 0.5f) << "the crest into the box";
                }
}

}
