// A body that is symmetric about its path, on ground symmetric about it,
// keeps to the path: the engine picks no side where the corners of a box
// touch the ground equally deep.
#include "ScenarioSupport.h"

#include "Physics/neMath.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

// The plane y = 0 in cells of one unit, each cut by a diagonal that the
// plane x = 0 mirrors: the ground looks the same from either side of a path
// along z.
struct MirroredGround
{
    static inline std::vector<vec3d> vertices;
    static inline std::vector<neTriangle> triangles;
    static inline std::vector<int32_t> candidates;

    static void query(const vec3d& lo, const vec3d& hi, neTerrainTriangles& found, neRigidBodyBase*)
    {
        vertices.clear();
        triangles.clear();
        candidates.clear();
        const int x0 = int(std::floor(lo.x)) - 1, x1 = int(std::ceil(hi.x)) + 1;
        const int z0 = int(std::floor(lo.z)) - 1, z1 = int(std::ceil(hi.z)) + 1;
        for (int x = x0; x < x1; ++x)
            for (int z = z0; z < z1; ++z) {
                const int32_t first = int32_t(vertices.size());
                for (int k = 0; k < 4; ++k)
                    vertices.push_back({float(x + (k & 1)), 0.0f, float(z + (k >> 1))});
                // Corners 0 (x, z), 1 (x + 1, z), 2 (x, z + 1), 3 (x + 1, z + 1):
                // the diagonal runs away from the line x = 0 on both sides,
                // wound to face up.
                const bool right = x >= 0;
                const neTriangle cut[2] = {
                    right ? neTriangle{{first, first + 3, first + 1}, 0, 0, nullptr}
                          : neTriangle{{first, first + 2, first + 1}, 0, 0, nullptr},
                    right ? neTriangle{{first, first + 2, first + 3}, 0, 0, nullptr}
                          : neTriangle{{first + 1, first + 2, first + 3}, 0, 0, nullptr}};
                for (const neTriangle& t : cut) {
                    candidates.push_back(int32_t(triangles.size()));
                    triangles.push_back(t);
                }
            }
        found = {candidates.data(), int32_t(candidates.size()), triangles.data(), int32_t(triangles.size()),
                 vertices.data(), int32_t(vertices.size())};
    }
};

struct Slide
{
    float yaw;      // the turn about the up axis, radians
    float sideways; // how far off the path
    float lowest;   // the lowest the box's centre came
};

// The quad's body as a box (1.0 x 0.36 x 1.8, 250 kg, turning like a cube)
// sliding along z for 2 s of steps of length step, rolled by roll about its
// forward axis: on the mirrored ground, or on a long flat block (a static
// body) that the plane x = 0 halves.
Slide slideBox(float step, float speed, float roll, bool onBlock)
{
    TestSimulator t{TestSimulator::gameSizes(), {0, -9.81f, 0}};
    if (onBlock) {
        neAnimatedBody* block = t->createAnimatedBody();
        block->addGeometry()->setBoxSize(40.0f, 1.0f, 200.0f);
        block->updateBounds();
        block->transform = translation({0.0f, -0.5f, 60.0f});
        block->moved = 1;
    } else {
        t->terrainTriangleQueryCallback = MirroredGround::query;
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
