// Collision bodies against a real simulator: the geometries' transforms and
// shapes, the editing side's parameters, attachment, the inertia of the
// merged box, and the level barriers' walls.
#include "Entity/CollisionBody.h"

#include "Physics/neRigidBody.h"
#include "Physics/neSimulator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <random>

namespace {

using CollisionBody = EntityManager::CollisionBody;
using Geometry = CollisionBody::Geometry;

struct Simulator
{
    std::unique_ptr<neSimulator> sim{neSimulator::createSimulator(neSimulatorSizes::game(64), nullptr, nullptr)};
};

// Row-vector turns in doubles.
using M3 = std::array<std::array<double, 3>, 3>;

M3 turn(int axis, double degrees)
{
    const double a = degrees * 3.14159265358979323846 / 180.0, c = std::cos(a), s = std::sin(a);
    M3 r{};
    const int i = (axis + 1) % 3, j = (axis + 2) % 3;
    r[size_t(axis)][size_t(axis)] = 1.0;
    r[size_t(i)][size_t(i)] = c;
    r[size_t(i)][size_t(j)] = s;
    r[size_t(j)][size_t(i)] = -s;
    r[size_t(j)][size_t(j)] = c;
    return r;
}

M3 operator*(const M3& a, const M3& b)
{
    M3 r{};
    for (size_t i = 0; i < 3; ++i)
        for (size_t j = 0; j < 3; ++j)
            for (size_t k = 0; k < 3; ++k)
                r[i][j] += a[i][k] * b[k][j];
    return r;
}

BoundingBox boxRecord(const vec3d& minimum, const vec3d& maximum)
{
    BoundingBox box;
    box.minimum = minimum;
    box.maximum = maximum;
    box.center = (minimum + maximum) * 0.5f;
    return box;
}

// Adds offset to every parameter it is handed and records the type.
struct Nudge final : GeometryInterface
{
    explicit Nudge(float by) : offset(by) {}
    void adjust(int32_t type, float (&parameters)[13]) override
    {
        seenType = type;
        for (int i = 0; i < 11; ++i)
            parameters[i] += offset;
        ++calls;
    }
    float offset;
    int32_t seenType = -1;
    int calls = 0;
};

}

TEST(CollisionBody, LocalTransformTurnsYThenXThenZ)
{
    CollisionBody body;
    Geometry& g = *body.addGeometry(nullptr);
    g.position = {1.0f, -2.0f, 3.0f};
    g.updateLocalTransform();
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_FLOAT_EQ(g.local.at(r, c), r == 3 && c < 3 ? g.position[c] : r == c ? 1.0f : 0.0f);

    g.angles = {0.0f, 90.0f, 0.0f};
    g.updateLocalTransform();
    EXPECT_NEAR((g.local.row(0) - vec3d(0, 0, -1)).length(), 0.0f, 1e-6f);
    EXPECT_NEAR((g.local.row(2) - vec3d(1, 0, 0)).length(), 0.0f, 1e-6f);

    std::mt19937 random(5123);
    std::uniform_real_distribution<float> angle(-360.0f, 360.0f);
    for (int i = 0; i < 200; ++i) {
        g.angles = {angle(random), angle(random), angle(random)};
        g.updateLocalTransform();
        const M3 want = turn(1, g.angles.y) * turn(0, g.angles.x) * turn(2, g.angles.z);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(g.local.at(r, c), want[size_t(r)][size_t(c)], 2e-5) << i;
        ASSERT_EQ(g.local.row(3), g.position);
    }
}

TEST(CollisionBody, ShapesFromBoxRecordsAndTheirHalfExtents)
{
    CollisionBody body;
    Geometry& g = *body.addGeometry(nullptr);
    const BoundingBox record = boxRecord({-1.0f, 0.0f, 2.0f}, {1.0f, 4.0f, 5.0f}); // 2 x 4 x 3

    struct Case
    {
        const char* name;
        void (*shape)(Geometry&, const BoundingBox&);
        vec3d halfExtents;
    };
    const Case cases[] = {
        {"box", [](Geometry& x, const BoundingBox& b) { x.setBox(b); }, {1.0f, 2.0f, 1.5f}},
        {"sphere of the largest extent", [](Geometry& x, const BoundingBox& b) { x.setSphere(b); }, {2.0f, 2.0f, 2.0f}},
        {"cylinder 2 across, 6 high",
         [](Geometry& x, const BoundingBox&) {
             x.type = Geometry::cylinder;
             x.position = {0.0f, 2.0f, 3.5f};
             x.diameter = 2.0f;
             x.height = 6.0f;
         },
         {1.0f, 3.0f, 1.0f}},
    };
    for (const Case& c : cases) {
        c.shape(g, record);
        g.angles = {0.0f, 0.0f, 0.0f};
        OrientedBox out;
        g.fillShapeDesc(out);
        EXPECT_EQ(out.center, vec3d(0.0f, 2.0f, 3.5f)) << c.name;
        EXPECT_EQ(out.halfExtents, c.halfExtents) << c.name;
        for (int a = 0; a < 3; ++a)
            EXPECT_EQ(out.axes[a], g.local.row(a)) << c.name;
    }
    EXPECT_EQ(g.diameter, 2.0f);
}

TEST(CollisionBody, InterfacesAdjustTheParametersInTurn)
{
    CollisionBody body;
    Nudge first(1.0f), second(10.0f);
    Geometry& g = *body.addGeometry(&first, &second);
    g.type = Geometry::sphere;
    OrientedBox out;
    g.fillShapeDesc(out);
    EXPECT_EQ(first.seenType, Geometry::sphere);
    EXPECT_EQ(g.position, vec3d(11.0f, 11.0f, 11.0f));
    EXPECT_EQ(g.size, vec3d(12.0f, 12.0f, 12.0f));
    EXPECT_EQ(g.diameter, 12.0f);
    EXPECT_EQ(out.halfExtents, vec3d(6.0f, 6.0f, 6.0f));
    EXPECT_EQ(out.center, g.position);

    // Detached, a geometry keeps what it has.
    g.detach();
    g.sync();
    EXPECT_EQ(g.diameter, 12.0f);
    EXPECT_EQ(first.calls, 1);
    EXPECT_EQ(second.calls, 1);
}

TEST(CollisionBody, AttachSyncAndClearAgainstTheEngine)
{
    Simulator s;
    CollisionBody body;
    Geometry& box = *body.addGeometry(nullptr);
    EXPECT_FALSE(box.attach()) << "no body yet";
    box.setBox(boxRecord({-1.0f, -1.0f, -1.0f}, {3.0f, 1.0f, 1.0f}));

    neRigidBody* rigid = s.sim->createRigidBody();
    neRigidBody* other = s.sim->createRigidBody();
    body.attachToBody(rigid);
    body.attachToBody(other);
    EXPECT_EQ(body.rigidBody, rigid) << "the first body stays";
    EXPECT_EQ(other->geometryCount, 0);
    ASSERT_EQ(rigid->geometryCount, 1);
    ASSERT_EQ(box.engineGeometry, rigid->geometryHead);

    // Added later, attached at once; synchronised, the engine takes each shape.
    Geometry& ball = *body.addGeometry(nullptr);
    ball.type = Geometry::sphere;
    ball.diameter = 3.0f;
    Geometry& can = *body.addGeometry(nullptr);
    can.type = Geometry::cylinder;
    can.diameter = 2.0f;
    can.height = 5.0f;
    can.angles = {90.0f, 0.0f, 0.0f};
    ASSERT_EQ(rigid->geometryCount, 3);
    body.syncTransforms();
    EXPECT_EQ(box.engineGeometry->type, uint32_t(neShapeBox));
    EXPECT_EQ(box.engineGeometry->halfExtents(), vec3d(2.0f, 1.0f, 1.0f));
    EXPECT_EQ(box.engineGeometry->position(), vec3d(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(ball.engineGeometry->type, uint32_t(neShapeSphere));
    EXPECT_EQ(ball.engineGeometry->shape.round.radius, 1.5f);
    EXPECT_EQ(ball.engineGeometry->shape.round.radiusSq, 2.25f);
    EXPECT_EQ(can.engineGeometry->type, uint32_t(neShapeCylinder));
    EXPECT_EQ(can.engineGeometry->shape.round.radius, 1.0f);
    EXPECT_EQ(can.engineGeometry->shape.round.halfLength, 2.5f);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(can.engineGeometry->transform.m[i], can.local.m[i]);

    body.clear();
    EXPECT_EQ(rigid->geometryCount, 0) << "every engine geometry goes back";
    EXPECT_EQ(body.geometries.count(), 0);

    // An animated body takes over from the rigid one.
    neAnimatedBody* animated = s.sim->createAnimatedBody();
    body.addGeometry(nullptr);
    ASSERT_EQ(rigid->geometryCount, 1);
    body.attachToAnimatedBody(animated);
    EXPECT_EQ(body.rigidBody, nullptr);
    EXPECT_EQ(rigid->geometryCount, 0) << "the geometry left the body given up";
    EXPECT_EQ(animated->geometryCount, 1);
    body.clear();
    EXPECT_EQ(animated->geometryCount, 0);
}

TEST(CollisionBody, InertiaOfTheMergedBoxAgainstTransformedCorners)
{
    Simulator s;
    std::mt19937 random(5124);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f), extent(0.2f, 3.0f), angle(-180.0f, 180.0f);
    for (int round = 0; round < 40; ++round) {
        CollisionBody body;
        const int count = 1 + round % 4;
        vec3d low(1e9f, 1e9f, 1e9f), high(-1e9f, -1e9f, -1e9f);
        for (int k = 0; k < count; ++k) {
            Geometry& g = *body.addGeometry(nullptr);
            g.type = k % 3;
            g.position = {unit(random) * 4.0f, unit(random) * 4.0f, unit(random) * 4.0f};
            g.angles = {angle(random), angle(random), angle(random)};
            g.size = {extent(random), extent(random), extent(random)};
            g.diameter = extent(random);
            g.height = extent(random);
            g.updateLocalTransform();
            // Every corner of the shape's box, carried by its transform.
            const vec3d half = g.type == Geometry::box      ? g.size * 0.5f
                               : g.type == Geometry::sphere ? vec3d(1, 1, 1) * (g.diameter * 0.5f)
                                                            : vec3d(g.diameter * 0.5f, g.height * 0.5f,
                                                                    g.diameter * 0.5f);
            for (int corner = 0; corner < 8; ++corner) {
                const vec3d p((corner & 1 ? 1 : -1) * half.x, (corner & 2 ? 1 : -1) * half.y,
                              (corner & 4 ? 1 : -1) * half.z);
                const vec3d q = g.local.transformPoint(p);
                for (int a = 0; a < 3; ++a) {
                    low[a] = std::min(low[a], q[a]);
                    high[a] = std::max(high[a], q[a]);
                }
            }
        }
        neRigidBody* rigid = s.sim->createRigidBody();
        rigid->mass = 2.5f;
        body.attachToBody(rigid);
        const vec3d half = (high - low) * 0.5f;
        const float r = std::max(half.x, std::max(half.y, half.z));
        const float want = 2.0f * r * r * 2.5f / 3.0f;
        for (int a = 0; a < 3; ++a)
            ASSERT_NEAR(rigid->inertiaBody.r[a][a], want, want * 1e-4f) << round;
        body.clear();
        s.sim->freeBody(rigid);
    }

    // No geometry: the body keeps its inertia.
    CollisionBody empty;
    neRigidBody* rigid = s.sim->createRigidBody();
    const float before = rigid->inertiaBody.r[0][0];
    empty.attachToBody(rigid);
    EXPECT_EQ(rigid->inertiaBody.r[0][0], before);
}

TEST(CollisionBody, BarriersStandOnTheTerrainBoxEdges)
{
    Simulator s;
    const BoundingBox terrain = boxRecord({-300.0f, 10.0f, 100.0f}, {500.0f, 240.0f, 900.0f});
    CollisionBody barriers;
    neAnimatedBody* animated = s.sim->createAnimatedBody();
    if (animated->active)
        animated->switchActive();
    // No device: the walls are built even though the band is not.
    EXPECT_FALSE(barriers.buildBarriers(terrain, 1300.0f, Color{0x29, 0x97, 0xFF, 0x7F}, 700.0f, animated));
    ASSERT_NE(barriers.barriers, nullptr);
    EXPECT_EQ(barriers.barriers->vertexCount, 8u);
    EXPECT_EQ(barriers.barriers->triangleCount, 8u);
    EXPECT_EQ(barriers.animatedBody, animated);
    EXPECT_EQ(animated->active, 1u);
    ASSERT_EQ(animated->geometryCount, 4);

    // Each wall: 10 thick across its side line, as long as the side, from
    // the box's bottom to 1300 above its top.
    const float top = 240.0f + 1300.0f;
    const BoundingBox want[4] = {
        boxRecord({-300.0f, 10.0f, 95.0f}, {500.0f, top, 105.0f}),
        boxRecord({495.0f, 10.0f, 100.0f}, {505.0f, top, 900.0f}),
        boxRecord({-300.0f, 10.0f, 895.0f}, {500.0f, top, 905.0f}),
        boxRecord({-305.0f, 10.0f, 100.0f}, {-295.0f, top, 900.0f}),
    };
    int wall = 0;
    for (const neGeometry* g = animated->geometryHead; g; g = g->next, ++wall) {
        ASSERT_EQ(g->type, uint32_t(neShapeBox));
        const vec3d half = g->halfExtents(), centre = g->position();
        EXPECT_EQ(centre - half, want[wall].minimum) << wall;
        EXPECT_EQ(centre + half, want[wall].maximum) << wall;
    }
    EXPECT_NE(animated->regionNode, nullptr) << "an active body with geometry collides";

    // The band's projector shows the texture's middle under the camera and
    // its edge 700 units away across the camera's x-z plane.
    const matrix3d& m = barriers.barriers->projector;
    const auto expectUv = [&](const vec3d& p, float u, float v) {
        const vec3d q = m.transformPoint(p);
        EXPECT_NEAR(q.x, u, 1e-6f);
        EXPECT_NEAR(q.y, v, 1e-6f);
        EXPECT_EQ(p.x * m.at(0, 3) + p.y * m.at(1, 3) + p.z * m.at(2, 3) + m.at(3, 3), 1.0f) << "w stays 1";
    };
    expectUv({0.0f, 0.0f, 0.0f}, 0.5f, 0.5f);
    expectUv({700.0f, 55.0f, 0.0f}, 1.0f, 0.5f);
    expectUv({0.0f, -30.0f, 700.0f}, 0.5f, 0.0f);

    barriers.releaseBarriers();
    EXPECT_EQ(barriers.barriers, nullptr);
    EXPECT_EQ(animated->geometryCount, 0);
    EXPECT_EQ(barriers.animatedBody, nullptr);

    // Degenerate sizes build finite walls and projector, and nothing divides.
    for (float reach : {0.0f, -5.0f, 0.3f, std::nanf("")}) {
        CollisionBody flat;
        flat.buildBarriers(boxRecord({}, {}), 0.0f, Color{}, reach, nullptr);
        for (float v : flat.barriers->projector.m)
            EXPECT_TRUE(std::isfinite(v)) << reach;
        EXPECT_EQ(flat.geometries.count(), 4);
    }
}
