#include "ScenarioSupport.h"

#include "Physics/PhysicsManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace
{

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
                neRigidBody* box = t.box({-20.0f, size.y * 0.5f, 0.3f}, size);
                box->mass = mass;
                box->inverseMass = 1.0f / mass;
                box->setInertiaTensor(cubeInertiaTensor(6.84f, 4.56f, 5.7f, mass));
                box->updateDerived();
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
