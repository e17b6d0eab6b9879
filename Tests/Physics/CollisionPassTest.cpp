#include "CollisionTestSupport.h"

#include <gtest/gtest.h>

namespace
{

neCollisionResult pass(TestSimulator& t, neRigidBody* a, neRigidBody* b)
{
    neCollisionResult r{};
    neCollideBodies(r, a->collisionView(), b->collisionView(), a->state().transform, b->state().transform,
                    t->collisionScratch);
    return r;
}

neGeometry* addSphere(neRigidBodyBase* body, float r, vec3d at, uint32_t userData)
{
    neGeometry* g = body->addGeometry();
    g->setSphere(r);
    g->transform = translation(at);
    g->userData = userData;
    return g;
}

TEST(CollisionPass, DeepestPairWinsAndFirstOnTies)
{
    TestSimulator t;
    neRigidBody* a = t->createRigidBody();
    neRigidBody* b = t->createRigidBody();
    a->setPose(translation({0, 1, 0}));
    b->setPose(translation({0, -1, 0}));
    addSphere(a, 0.5f, {-2, 0, 0}, 11);                           // far from b
    neGeometry* shallow = addSphere(a, 0.5f, {0, -0.6f, 0}, 12); // 0.2 into b's box
    neGeometry* deep = addSphere(a, 0.5f, {1, -0.8f, 0}, 13);    // 0.4 into it
    neGeometry* floor = b->addGeometry();
    floor->setBoxSize(4, 2, 4);
    floor->userData = 20;
    a->updateBounds();
    b->updateBounds();

    neCollisionResult r = pass(t, a, b);
    ASSERT_EQ(r.collided, 1u);
    EXPECT_EQ(r.geometryA, deep);
    EXPECT_EQ(r.geometryB, floor);
    EXPECT_NEAR(r.depth, 0.3f, 1e-5f);
    EXPECT_EQ(r.userDataA, 13u);
    EXPECT_EQ(r.userDataB, 20u);
    // Points relative to each body, with their world and body-frame copies.
    EXPECT_NEAR((r.worldPointA - vec3d(1, -0.3f, 0)).length(), 0.0f, 1e-5f);
    EXPECT_NEAR((r.pointA - vec3d(1, -1.3f, 0)).length(), 0.0f, 1e-5f);
    EXPECT_NEAR((r.pointB - (r.worldPointB - vec3d(0, -1, 0))).length(), 0.0f, 1e-6f);
    EXPECT_NEAR((r.pointABody - r.pointA).length(), 0.0f, 1e-6f); // A is not turned

    // Equal depths: the first in the list.
    deep->transform = translation({1, -0.6f, 0});
    r = pass(t, a, b);
    EXPECT_EQ(r.geometryA, shallow);

    // Swapped bodies: B's geometry list is walked the same way.
    r = pass(t, b, a);
    ASSERT_EQ(r.collided, 1u);
    EXPECT_EQ(r.geometryB, shallow);
    EXPECT_NEAR(r.normal().y, -1.0f, 1e-5f);
}

TEST(CollisionPass, SeveralAgainstSeveralAndMissedBounds)
{
    neSimulatorSizes sizes = TestSimulator::gameSizes();
    sizes.geometriesCount = 400;
    TestSimulator t(sizes);
    neRigidBody* a = t->createRigidBody();
    neRigidBody* b = t->createRigidBody();
    // 150 small spheres in a row on each; only the last of a's meets b's 140th.
    for (int i = 0; i < 150; ++i) {
        addSphere(a, 0.1f, {float(i), 0, 0}, uint32_t(i));
        addSphere(b, 0.1f, {float(i), i == 140 ? 0.0f : 5.0f, 0.15f}, uint32_t(1000 + i));
    }
    neGeometry* last = a->geometryHead;
    while (last->next)
        last = last->next;
    last->transform = translation({140, 0, 0.1f});
    a->updateBounds();
    b->updateBounds();
    neCollisionResult r = pass(t, a, b);
    ASSERT_EQ(r.collided, 1u);
    EXPECT_EQ(r.userDataA, 149u);
    EXPECT_EQ(r.userDataB, 1140u);

    // Bounds that overlap while no geometry touches another: no contact.
    neRigidBody* c = t->createRigidBody();
    neRigidBody* d = t->createRigidBody();
    addSphere(c, 0.5f, {0, 0, 0}, 1);
    addSphere(c, 0.5f, {2, 2, 0}, 2);
    addSphere(d, 0.5f, {2, 0, 0}, 3);
    addSphere(d, 0.5f, {0, 2, 0}, 4);
    c->updateBounds();
    d->updateBounds();
    r = pass(t, c, d);
    EXPECT_EQ(r.collided, 0u);

    // Bounds that miss each other test no pair, whatever the geometries do.
    b->boundingGeometry.transform = translation({0, 50, 0});
    r = pass(t, a, b);
    EXPECT_EQ(r.collided, 0u);

    // A body without geometry meets nothing.
    neRigidBody* empty = t->createRigidBody();
    r = pass(t, empty, b);
    EXPECT_EQ(r.collided, 0u);
}

TEST(CollisionPass, TerrainSideKeepsTheTrianglesMaterial)
{
    TestSimulator t;
    neRigidBody* body = t->createRigidBody();
    body->setPose(translation({0, 0.4f, 0}));
    addSphere(body, 0.5f, {0, 0, 0}, 3);
    addSphere(body, 0.5f, {0.5f, 0, 0}, 4);
    body->updateBounds();
    QueryTriangles ground;
    ground.add({-5, 0, -5}, {0, 0, 5}, {5, 0, -5}, 77);
    neGeometry& terrain = const_cast<neGeometry&>(ground.finish());
    const neCollisionView side{&terrain, &terrain, 1};
    neCollisionResult r{};
    neCollideBodies(r, body->collisionView(), side, body->state().transform, matrix3d::identity(), t->collisionScratch);
    ASSERT_EQ(r.collided, 1u);
    EXPECT_EQ(r.userDataA, 3u);
    EXPECT_EQ(r.userDataB, 77u);
    EXPECT_NEAR(r.depth, 0.1f, 1e-5f);
}

TEST(CollisionPass, RecordOperations)
{
    neCollisionResult r{};
    r.reset();
    r.pointA = {1, 2, 3};
    r.pointB = {4, 5, 6};
    r.setNormal({0, 1, 0});
    neGeometry ga{}, gb{};
    r.geometryA = &ga;
    r.geometryB = &gb;
    r.depth = 0.5f;
    r.swap();
    EXPECT_EQ(r.pointA, vec3d(4, 5, 6));
    EXPECT_EQ(r.pointB, vec3d(1, 2, 3));
    EXPECT_EQ(r.normal(), vec3d(0, -1, 0));
    EXPECT_EQ(r.geometryA, &gb);
    EXPECT_EQ(r.depth, 0.5f);
    r.reset();
    EXPECT_EQ(r.pointA, vec3d());
    EXPECT_EQ(r.normal(), vec3d(0, 0, 1));
    EXPECT_EQ(r.geometryA, &gb); // kept
    EXPECT_EQ(r.depth, 0.5f);

    // A sphere first against a single triangle: no test.
    std::vector<vec3d> v = {{0, 0, 0}, {1, 0, 0}, {0, 0, 1}};
    neGeometry triangle{};
    triangle.reset();
    triangle.type = neShapeTriangle;
    triangle.shape.triangle = {{0, 1, 2}, 3, v.data()};
    EXPECT_EQ(collide(makeSphere(1), matrix3d::identity(), triangle, matrix3d::identity()).collided, 0u);
    // A box on it: triangle indices past its vertices are no triangle.
    EXPECT_EQ(collide(makeBox({1, 1, 1}), matrix3d::identity(), triangle, matrix3d::identity()).collided, 1u);
    triangle.shape.triangle.index[1] = 3;
    EXPECT_EQ(collide(makeBox({1, 1, 1}), matrix3d::identity(), triangle, matrix3d::identity()).collided, 0u);
}

TEST(CollisionPass, RestingSidesOfARow)
{
    TestSimulator t;
    neRigidBody* a = t->createRigidBody();
    neRigidBody* b = t->createRigidBody();
    neAnimatedBody* ground = t->createAnimatedBody();
    struct Case
    {
        const char* name;
        neRigidBodyBase* bodyB;
        bool aRests, bRests;
        float value;
        int skipped;
        bool keepsA, keepsB;
    };
    const Case cases[] = {
        {"A resting on the ground", ground, true, false, 0.0f, 1, true, true},
        {"both resting", b, true, true, 0.0f, 1, true, true},
        {"only A resting", b, true, false, 0.0f, 0, false, true},
        {"only B resting", b, false, true, 0.0f, 0, true, false},
        {"none resting", b, false, false, 0.0f, 0, true, true},
        {"a row past 1.0 is kept whole", b, true, true, 1.5f, 0, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        a->restState = c.aRests ? neAtRest : neMoving;
        b->restState = c.bRests ? neAtRest : neMoving;
        neCollisionResult r{};
        r.bodyA = a;
        r.bodyB = c.bodyB;
        r.weight = c.value;
        EXPECT_EQ(r.dropRestingSides(), c.skipped);
        EXPECT_EQ(r.bodyA != nullptr, c.keepsA);
        EXPECT_EQ(r.bodyB != nullptr, c.keepsB);
    }
}

TEST(CollisionPass, RestingContactSlots)
{
    TestSimulator t;
    neRigidBody* body = t->createRigidBody();
    neRigidBody* rigid = t->createRigidBody();
    neAnimatedBody* animated = t->createAnimatedBody();
    body->setPose(translation({0, 1, 0}));
    rigid->setPose(translation({0, -1, 0}));
    t->stepCount = 9;

    neRestingContact c{};
    neRigidBody::setRestingContact(c, rigid, {0, -0.5f, 0}, {0, 0.5f, 0}, 3, 7, {0, 1, 0}, 2.0f);
    body->recordRestingContact(c);
    neRestingContact& first = body->contact.slots[2]; // the last empty slot
    EXPECT_EQ(first.kind, uint32_t(neRestingOnRigid));
    EXPECT_EQ(first.stepStamp, 9u);
    EXPECT_EQ(first.owner, body);
    EXPECT_EQ(rigid->restingOnThis.count, 1);

    // Brought up to date from both poses: 1.5 apart along the normal, 0.1 across.
    rigid->setPose(translation({0.1f, -1.5f, 0}));
    body->updateRestingContact(first);
    EXPECT_NEAR(first.separation, 1.5f, 1e-6f);
    EXPECT_NEAR(first.slide, 0.01f, 1e-6f);
    EXPECT_EQ(first.worldNormal, vec3d(0, 1, 0));
    EXPECT_EQ(body->refreshRestingContact(first), vec3d(0.1f, -1.0f, 0));

    // Near the same place: the slot is reused.
    c.bodyPoint = {0.03f, -0.5f, 0};
    body->recordRestingContact(c);
    EXPECT_EQ(rigid->restingOnThis.count, 1);
    EXPECT_EQ(first.bodyPoint.x, 0.03f);

    // Elsewhere: the other empty slots fill, then the lowest order goes.
    neRigidBody::setRestingContact(c, animated, {1, -0.5f, 0}, {1, 0, 0}, 0, 0, {0, 1, 0}, 1.0f);
    body->recordRestingContact(c);
    EXPECT_EQ(body->contact.slots[1].kind, uint32_t(neRestingOnAnimated));
    c.bodyPoint = {-1, -0.5f, 0};
    c.order = 3.0f;
    body->recordRestingContact(c);
    c.bodyPoint = {0, -0.5f, 1};
    c.order = 4.0f;
    body->recordRestingContact(c);
    EXPECT_EQ(body->contact.slots[1].order, 4.0f); // order 1 was the lowest
    EXPECT_EQ(animated->restingOnThis.count, 2);

    // Whether the partner rests.
    animated->moved = 0;
    EXPECT_TRUE(neRigidBody::isPartnerResting(body->contact.slots[1]));
    animated->moved = 1;
    EXPECT_FALSE(neRigidBody::isPartnerResting(body->contact.slots[1]));
    rigid->putToRest();
    EXPECT_TRUE(neRigidBody::isPartnerResting(first));
    neRestingContact unchecked{};
    EXPECT_FALSE(neRigidBody::isPartnerResting(unchecked)); // empty
    unchecked.kind = neRestingUnchecked;
    EXPECT_TRUE(neRigidBody::isPartnerResting(unchecked));

    t->freeBody(body);
    EXPECT_EQ(rigid->restingOnThis.count, 0);
    EXPECT_EQ(animated->restingOnThis.count, 0);
}

TEST(CollisionPass, SharedConstraints)
{
    TestSimulator t;
    neRigidBody* x = t->createRigidBody();
    neRigidBody* y = t->createRigidBody();
    EXPECT_EQ(neRigidBodyBase::sharesConstraint(*x, *y), 0);
    neConstraint* joint = reinterpret_cast<neConstraint*>(&t);
    neConstraint* other = reinterpret_cast<neConstraint*>(&joint);
    neConstraintLink lx{joint, nullptr}, ly2{joint, nullptr}, ly1{other, &ly2};
    x->constraintHead = &lx;
    y->constraintHead = &ly1;
    EXPECT_EQ(neRigidBodyBase::sharesConstraint(*x, *y), 1);
    ly2.entry = other;
    EXPECT_EQ(neRigidBodyBase::sharesConstraint(*x, *y), 0);
    x->constraintHead = y->constraintHead = nullptr;
}

} // namespace
