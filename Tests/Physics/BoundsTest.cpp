#include "PhysicsTestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace
{

bool inside(const neRigidBodyBase& b, const vec3d& p)
{
    const float e = 1e-4f;
    for (int k = 0; k < 3; ++k)
        if (p[k] < b.minBound[k] - e || p[k] > b.maxBound[k] + e)
            return false;
    return true;
}

// Points on the surface of a geometry, in the body's frame.
std::vector<vec3d> surfacePoints(const neGeometry& g, std::mt19937& random)
{
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<vec3d> points;
    for (int i = 0; i < 200; ++i) {
        vec3d p;
        if (g.type == neShapeBox) {
            const vec3d h = g.halfExtents();
            p = {u(random) * h.x, u(random) * h.y, u(random) * h.z};
            const int face = i % 3;
            p[face] = (i % 2 ? 1.0f : -1.0f) * h[face];
        } else {
            vec3d d{u(random), u(random), u(random)};
            d = d.normalised() * g.shape.round.radius;
            p = d;
            if (g.type == neShapeCylinder)
                p.y += (d.y >= 0 ? 1.0f : -1.0f) * g.shape.round.halfLength;
        }
        points.push_back(g.transform.transformPoint(p));
    }
    return points;
}

TEST(Bounds, SurfacePointsLieInTheWorldBox)
{
    TestSimulator t;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::uniform_real_distribution<float> size(0.05f, 2.0f);
    for (int round = 0; round < 60; ++round) {
        neRigidBody* b = t->createRigidBody();
        const int count = 1 + round % 3;
        for (int i = 0; i < count; ++i) {
            neGeometry* g = b->addGeometry();
            switch ((round + i) % 3) {
            case 0: g->setBoxSize(size(random), size(random), size(random)); break;
            case 1: g->setSphere(size(random)); break;
            default: g->setCylinder(size(random), size(random)); break;
            }
            g->transform = rotation({u(random), u(random), u(random)}, u(random) * 3, {u(random), u(random), u(random)});
        }
        b->updateBounds();
        b->setPose(rotation({u(random), u(random), u(random) + 0.1f}, u(random) * 3,
                            {u(random) * 10, u(random) * 10, u(random) * 10}));
        b->updateDerived();
        b->updateRegionBounds();
        const matrix3d& pose = b->state().transform;
        for (const neGeometry* g = b->geometryHead; g; g = g->next)
            for (const vec3d& p : surfacePoints(*g, random))
                ASSERT_TRUE(inside(*b, pose.transformPoint(p))) << "round " << round << " type " << g->type;
        t->freeBody(b);
    }
}

TEST(Bounds, BoundingGeometryOfOneOrSeveralShapes)
{
    TestSimulator t;
    neRigidBody* b = t->createRigidBody();
    neGeometry* box = b->addGeometry();
    box->setBoxSize(2, 4, 6);
    box->transform = rotation({0, 1, 0}, 0.5f, {1, 0, 0});
    b->updateBounds();
    // A lone box bounds itself, rotation and all.
    EXPECT_EQ(b->boundingGeometry.halfExtents(), vec3d(1, 2, 3));
    EXPECT_EQ(b->boundingGeometry.position(), vec3d(1, 0, 0));
    EXPECT_EQ(neAxis(b->boundingGeometry.transform, 0), neAxis(box->transform, 0));
    EXPECT_EQ(b->orientedBox.row(1), vec3d(0, 2, 0));

    // Two shapes: an axis-aligned box around both.
    box->transform = translation({1, 0, 0});
    neGeometry* ball = b->addGeometry();
    ball->setSphere(0.5f);
    ball->transform = translation({-2, 0, 0});
    b->updateBounds();
    EXPECT_EQ(b->boundingGeometry.position(), vec3d(-0.25f, 0, 0));
    EXPECT_EQ(b->boundingGeometry.halfExtents(), vec3d(2.25f, 2, 3));
    EXPECT_NEAR(b->reach, fastSqrt(14.0f) + 1.0f, 1e-5f);

    // A lone rotated box with a sensor: an axis-aligned box around box and sensor.
    b->removeGeometry(ball);
    box->transform = rotation({0, 0, 1}, 0.7853982f);
    neSensor* s = t->sensors.take();
    s->start = {0, 0, 0};
    s->vector = {0, -5, 0};
    s->next = nullptr;
    b->sensorHead = s;
    b->updateBounds();
    EXPECT_EQ(neAxis(b->boundingGeometry.transform, 0), vec3d(1, 0, 0));
    EXPECT_NEAR(b->boundingGeometry.halfExtents().x, 2.1213205f, 1e-5f);
    EXPECT_NEAR(b->boundingGeometry.position().y + b->boundingGeometry.halfExtents().y, 2.1213205f, 1e-5f);
    EXPECT_NEAR(b->boundingGeometry.position().y - b->boundingGeometry.halfExtents().y, -5.0f, 1e-5f);
    t->freeBody(b);
    EXPECT_EQ(t->sensors.usedCount(), 0);
}

TEST(Bounds, ShapeReachAndSizes)
{
    TestSimulator t;
    neRigidBody* b = t->createRigidBody();
    neGeometry* c = b->addGeometry();
    c->setCylinder(0.5f, 1.0f);
    b->updateBounds();
    EXPECT_FLOAT_EQ(b->reach, 1.5f);
    c->setSphere(0.5f);
    c->transform = translation({0, 3, 4});
    b->updateBounds();
    EXPECT_FLOAT_EQ(b->reach, 5.5f);

    // A vertex set reaches (scale + 1) times its farthest vertex and is boxed by its vertices.
    const vec3d vertices[] = {{1, 0, 0}, {0, -2, 0}, {0, 0, 0.5f}};
    neGeometry* v = b->addGeometry();
    v->type = neShapeVertexSet;
    v->shape.vertexSet = {vertices, 3};
    v->radius2 = 0.5f;
    v->transform = translation({0, 0, 10});
    b->removeGeometry(c);
    b->updateBounds();
    EXPECT_FLOAT_EQ(b->reach, 3.0f);
    EXPECT_EQ(b->boundingGeometry.position(), vec3d(0.5f, -1, 10.25f));
    EXPECT_EQ(b->boundingGeometry.halfExtents(), vec3d(0.5f, 1, 0.25f));
    c = b->addGeometry();
    c->setBoxSize(0, 0, 0);
    EXPECT_EQ(c->radius, 0.0f);
    EXPECT_EQ(c->radius2, 0.0f);
}

TEST(Bounds, GeometriesDecideRegionMembership)
{
    TestSimulator t;
    neRigidBody* b = t->createRigidBody();
    EXPECT_EQ(b->regionNode, nullptr);
    neGeometry* g = b->addGeometry();
    neGeometry* h = b->addGeometry();
    EXPECT_NE(b->regionNode, nullptr);

    // Not its geometry: nothing changes.
    neRigidBody* other = t->createRigidBody();
    neGeometry* foreign = other->addGeometry();
    EXPECT_EQ(b->removeGeometry(foreign), 0);
    EXPECT_EQ(b->geometryCount, 2);

    EXPECT_EQ(b->removeGeometry(g), 1);
    EXPECT_NE(b->regionNode, nullptr);
    EXPECT_EQ(b->geometryHead, h);
    EXPECT_EQ(b->removeGeometry(h), 1);
    EXPECT_EQ(b->regionNode, nullptr);
    EXPECT_EQ(b->geometryHead, nullptr);
    EXPECT_EQ(t->geometries.usedCount(), 1);

    // Switching off takes a body out of the region, switching on puts it back.
    other->switchActive();
    EXPECT_EQ(other->regionNode, nullptr);
    EXPECT_EQ(t->inactiveRigidBodies.count, 1);
    other->switchActive();
    EXPECT_NE(other->regionNode, nullptr);
    EXPECT_EQ(t->activeRigidBodies.count, 2);
    EXPECT_EQ(t->inactiveRigidBodies.count, 0);

    // An inactive body gets geometries without entering the region.
    neAnimatedBody* a = t->createAnimatedBody();
    a->switchActive();
    a->addGeometry();
    EXPECT_EQ(a->regionNode, nullptr);
    a->switchActive();
    EXPECT_NE(a->regionNode, nullptr);
    t->freeBody(a);
    EXPECT_EQ(t->animatedBodies.usedCount(), 0);
    EXPECT_EQ(t->activeAnimatedBodies.count, 0);
}

TEST(Bounds, BodyWithoutGeometryKeepsItsBox)
{
    TestSimulator t;
    neRigidBody* b = t.box({1, 1, 1});
    t.step();
    const vec3d lo = b->minBound;
    b->removeGeometry(b->geometryHead);
    b->setPose(translation({50, 50, 50}));
    t.step();
    EXPECT_EQ(b->minBound, lo);
    EXPECT_EQ(b->regionNode, nullptr);
}

} // namespace
