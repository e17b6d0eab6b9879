// A body that is symmetric about its path, on ground symmetric about it,
// keeps to the path: the engine picks no side where the corners of a box
// touch the ground equally deep.
#include "ScenarioSupport.h"

#include "Physics/neMath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

struct Slide
{
    float yaw;      // the turn about the up axis, radians
    float sideways; // how far off the path
    float lowest;   // the lowest the box's centre came
};

// The quad's body as a box (1.0 x 0.36 x 1.8, 250 kg, turning like a cube)
// sliding along z for 2 s of steps of length step, rolled by roll about its
// forward axis: on ground whose cells the plane x = 0 mirrors, or on a long
// flat block (a static body) that it halves.
Slide slideBox(float step, float speed, float roll, bool onBlock)
{
    TestSimulator t = TestGround::make(0.0f, true);
    if (onBlock) {
        t->terrainTriangleQueryCallback = nullptr;
        neAnimatedBody* block = t->createAnimatedBody();
        block->addGeometry()->setBoxSize(40.0f, 1.0f, 200.0f);
        block->updateBounds();
        block->transform = translation({0.0f, -0.5f, 60.0f});
        block->moved = 1;
    }
    const float mass = 250.0f;
    neRigidBody* box = t.box({0.0f, 0.2f, 0.0f}, {1.0f, 0.36f, 1.8f});
    box->mass = mass;
    box->inverseMass = 1.0f / mass;
    box->setInertiaTensor(cubeInertiaTensor(0.5f, 0.18f, 0.9f, mass));
    matrix3d pose = matrix3d::identity();
    const float c = std::cos(roll), s = std::sin(roll);
    neSetRow(pose, 0, {c, s, 0.0f});
    neSetRow(pose, 1, {-s, c, 0.0f});
    neSetRow(pose, 3, {0.0f, 0.2f, 0.0f});
    box->setPose(pose);
    box->velocity = {0.0f, 0.0f, speed};
    box->updateDerived();
    float lowest = 1.0f;
    const int batches = int(std::lround(2.0f / (3.0f * step)));
    for (int i = 0; i < batches; ++i) {
        t->advanceThreeSteps(nullptr, 3.0f * step);
        lowest = std::min(lowest, box->getTransform()->at(3, 1));
    }
    const matrix3d& end = *box->getTransform();
    return {std::atan2(end.at(2, 0), end.at(2, 2)), end.at(3, 0), lowest};
}

// Steps of 1/75 s (the physics at 53 frames a second and above) and 0.021 s
// (16 frames a second); at longer steps a box this thin sinks through what
// it lies on whatever its heading.
TEST(Symmetry, ABoxSlidingStraightOverMirroredGroundKeepsItsHeading)
{
    for (const bool onBlock : {false, true})
        for (const float step : {1.0f / 75.0f, 0.021f})
            for (const float speed : {5.0f, 10.0f}) {
                SCOPED_TRACE(testing::Message() << (onBlock ? "on a block" : "on the ground") << ", step " << step
                                                << ", speed " << speed);
                const Slide level = slideBox(step, speed, 0.0f, onBlock);
                EXPECT_GT(level.lowest, 0.1f) << "on what it slides on";
                EXPECT_LT(std::fabs(level.yaw), 1e-3f);
                EXPECT_LT(std::fabs(level.sideways), 1e-3f);
                // Mirror images turn by mirrored amounts.
                const Slide left = slideBox(step, speed, 0.01f, onBlock), right = slideBox(step, speed, -0.01f, onBlock);
                EXPECT_NEAR(left.yaw, -right.yaw, 1e-4f);
                EXPECT_NEAR(left.sideways, -right.sideways, 1e-4f);
            }
}

} // namespace
