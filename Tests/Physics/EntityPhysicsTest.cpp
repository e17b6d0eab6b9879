// Entity physics records: the pose sync with its motion test and scale, the
// controllers, contacts handed to the entities' handlers, and boxes falling
// onto generated ground and onto a static entity.
#include "ManagerTestSupport.h"

#include "Entity/CollisionQuery.h"
#include "Entity/Mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

namespace {

using namespace ManagerTest;

matrix3d turnedAboutY(float angle, const vec3d& at)
{
    matrix3d t = matrix3d::identity();
    t.at(0, 0) = std::cos(angle);
    t.at(0, 2) = -std::sin(angle);
    t.at(2, 0) = std::sin(angle);
    t.at(2, 2) = std::cos(angle);
    t.setRow(3, at);
    return t;
}

TEST(EntityPhysicsSync, TheMotionTestAndTheScale)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(4));
    BoxEntity box(entities, {});
    Physics& record = *box.physics;
    neRigidBody& body = *box.body();
    struct Case
    {
        const char* what;
        matrix3d pose;
        vec3d velocity, spin;
        uint32_t forceSync;
        bool synced;
    };
    const matrix3d identity = matrix3d::identity();
    const Case cases[] = {
        {"at rest", identity, {}, {}, 0, false},
        {"0.004 over x, y and z", turnedAboutY(0.0f, {0.002f, 0.001f, -0.001f}), {}, {}, 0, false},
        {"0.005 along x", turnedAboutY(0.0f, {0.005f, 0.0f, 0.0f}), {}, {}, 0, true},
        {"an axis turned by 0.004", turnedAboutY(0.004f, {}), {}, {}, 0, false},
        {"an axis turned by 0.005", turnedAboutY(0.005f, {}), {}, {}, 0, true},
        {"speed 0.079", identity, {0.0f, -0.079f, 0.0f}, {}, 0, false},
        {"speed 0.081", identity, {0.0f, 0.0f, 0.081f}, {}, 0, true},
        {"spin 0.081", identity, {}, {0.081f, 0.0f, 0.0f}, 0, true},
        {"forced at rest", identity, {}, {}, 1, true},
    };
    for (const Case& c : cases) {
        record.pose = identity;
        record.forceSync = c.forceSync;
        body.setPose(c.pose);
        body.velocity = c.velocity;
        body.angularVelocity = c.spin;
        box.world = turnedAboutY(1.0f, {7, 7, 7});
        const int moves = box.moves;
        record.update();
        EXPECT_EQ(box.moves - moves, c.synced ? 1 : 0) << c.what;
        EXPECT_EQ(record.unchanged, c.synced ? 0u : 1u) << c.what;
        EXPECT_EQ(record.forceSync, c.synced ? 0u : c.forceSync) << c.what;
        if (c.synced) {
            for (int i = 0; i < 16; ++i)
                EXPECT_EQ(box.world.m[i], c.pose.m[i]) << c.what << " " << i;
            record.update();
            EXPECT_EQ(box.moves - moves, c.synced && c.velocity.lengthSq() + c.spin.lengthSq() > 0 ? 2 : 1)
                << c.what << ": once synced, only motion syncs again";
        }
    }

    // A scale of (1, 1, 2) stretches the z axis only; the fourth column is
    // the transform's own.
    record.scale = {1.0f, 1.0f, 2.0f};
    body.velocity = body.angularVelocity = {};
    matrix3d pose = turnedAboutY(0.5f, {3, 4, 5});
    body.setPose(pose);
    body.getTransform()->m[3] = 9.0f;
    body.getTransform()->m[15] = 0.5f;
    record.update();
    for (int column = 0; column < 3; ++column) {
        EXPECT_EQ(box.world.at(0, column), pose.at(0, column));
        EXPECT_EQ(box.world.at(1, column), pose.at(1, column));
        EXPECT_EQ(box.world.at(2, column), pose.at(2, column) * 2.0f);
        EXPECT_EQ(box.world.at(3, column), pose.at(3, column));
    }
    EXPECT_EQ(box.world.m[3], 0.0f);
    EXPECT_EQ(box.world.m[15], 1.0f);
    EXPECT_EQ(record.pose.at(2, 2), pose.at(2, 2)) << "the pose kept is the body's, unscaled";

    // A record without a body does nothing.
    m.rigidBodyBudget = 0;
    BoxEntity bodiless(entities, {});
    bodiless.physics->forceSync = 1;
    bodiless.physics->update();
    EXPECT_EQ(bodiless.moves, 0);
}

// A controller that pushes its body with a fixed force and torque and notes
// the order it ran in.
class Push : public Physics::Controller
{
public:
    Push(vec3d f, vec3d t, std::vector<Push*>& order) : order_(order)
    {
        force = f;
        torque = t;
    }
    void step(neRigidBody* body) override
    {
        seen = body;
        order_.push_back(this);
    }
    neRigidBody* seen = nullptr;

private:
    std::vector<Push*>& order_;
};

TEST(EntityPhysicsControllers, TheirForcesAddUpOnTheBody)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(4));
    BoxEntity hovering(entities, {0, 0, 0}), falling(entities, {10, 0, 0});
    std::vector<Push*> order;
    const float weight = hovering.body()->mass * 9.81f;
    Push lift({1.0f, weight - 2.0f, 0.0f}, {0.0f, 0.5f, 0.0f}, order);
    Push more({-1.0f, 2.0f, 0.0f}, {0.0f, -0.5f, 0.0f}, order);
    Physics::RigidBody& wrapper = *hovering.physics->rigidBody;
    ASSERT_TRUE(wrapper.addController(&lift));
    ASSERT_TRUE(wrapper.addController(&more));

    wrapper.onControllerStep(wrapper.controller, 0.01f);
    EXPECT_EQ(order, (std::vector<Push*>{&lift, &more}));
    EXPECT_EQ(lift.seen, hovering.body());
    EXPECT_EQ(wrapper.controller->force, vec3d(0.0f, weight, 0.0f));
    EXPECT_EQ(wrapper.controller->torque, vec3d());

    // Stepped, the two carry the body's weight; the other body falls.
    for (int i = 0; i < 75; ++i)
        m.simulator->advance(1.0f / 75.0f, 1.0f / 75.0f, 1.0f / 75.0f);
    EXPECT_NEAR(hovering.body()->position().y, 0.0f, 1e-3f);
    EXPECT_LT(falling.body()->position().y, -4.0f);
    EXPECT_EQ(order.size(), 2u * 76u);

    // One taken out of three: the others keep their order; one that is not
    // there changes nothing.
    Push third({}, {}, order);
    ASSERT_TRUE(wrapper.addController(&third));
    EXPECT_TRUE(wrapper.removeController(&more));
    EXPECT_FALSE(wrapper.removeController(&more));
    order.clear();
    wrapper.onControllerStep(wrapper.controller, 0.01f);
    EXPECT_EQ(order, (std::vector<Push*>{&lift, &third}));
    EXPECT_EQ(wrapper.controllerCount, 2u);
}

// What the collision handlers of two records heard, in order.
struct Heard
{
    EntityManager::Entity* owner;
    Physics::Collision collision;
};
std::vector<Heard> heard;
void listen(EntityManager::Entity* owner, Physics::Collision* c) { heard.push_back({owner, *c}); }

TEST(EntityPhysicsContacts, BothSidesWithRecordsHearInThePairsOrder)
{
    EntityManager entities;
    ASSERT_TRUE(entities.physicsManager->start(8));
    BoxEntity a(entities, {0, 0, 0}), b(entities, {5, 0, 0});
    a.physics->collisionHandler = b.physics->collisionHandler = listen;
    neRigidBody* stranger = entities.physicsManager->simulator->createRigidBody(); // no record
    neAnimatedBody* walls = entities.physicsManager->takeAnimatedBody();
    walls->owner[1] = reinterpret_cast<void*>(uintptr_t(1)); // never read as a record

    neCollisionReport report{};
    report.localPointA = {1, 0, 0};
    report.localPointB = {2, 0, 0};
    report.worldPointA = {3, 0, 0};
    report.worldPointB = {4, 0, 0};
    report.relativeVelocity = {0, -5, 1};
    report.normal = {0, 1, 0};
    struct Case
    {
        const char* what;
        neRigidBodyBase *bodyA, *bodyB;
        uint32_t typeA, typeB;
        std::vector<EntityManager::Entity*> heardBy;
    };
    const Case cases[] = {
        {"two records", a.body(), b.body(), 1, 1, {&a, &b}},
        {"in the other order", b.body(), a.body(), 1, 1, {&b, &a}},
        {"a record on the ground", a.body(), nullptr, 1, 0, {&a}},
        {"a record against walls", b.body(), walls, 1, 2, {&b}},
        {"a body without record on the ground", stranger, nullptr, 1, 0, {}},
        {"a body without record against a record", stranger, a.body(), 1, 1, {&a}},
    };
    for (const Case& c : cases) {
        heard.clear();
        report.bodyA = c.bodyA;
        report.bodyB = c.bodyB;
        report.typeA = c.typeA;
        report.typeB = c.typeB;
        PhysicsManager::onCollision(&report);
        ASSERT_EQ(heard.size(), c.heardBy.size()) << c.what;
        for (size_t i = 0; i < heard.size(); ++i) {
            const bool sideA = c.heardBy[i]->physics->rigidBody->body == c.bodyA;
            const Physics::Collision& got = heard[i].collision;
            EXPECT_EQ(heard[i].owner, c.heardBy[i]) << c.what;
            EXPECT_EQ(got.localPoint, sideA ? report.localPointA : report.localPointB) << c.what;
            EXPECT_EQ(got.worldPoint, sideA ? report.worldPointA : report.worldPointB) << c.what;
            EXPECT_EQ(got.relativeVelocity, report.relativeVelocity) << c.what;
            EXPECT_EQ(got.normal, report.normal) << c.what;
            EXPECT_EQ(got.otherType, sideA ? c.typeB : c.typeA) << c.what;
            neRigidBodyBase* other = sideA ? c.bodyB : c.bodyA;
            EntityManager::Entity* otherOwner = nullptr;
            for (BoxEntity* e : {&a, &b})
                if (other && other == e->body())
                    otherOwner = e;
            EXPECT_EQ(got.otherOwner, otherOwner) << c.what;
        }
    }
    walls->owner[1] = nullptr;
    entities.physicsManager->returnAnimatedBody(walls);
}

// A static entity: a flat square of side 2 * half at height y, around (x, z).
class Floor : public EntityManager::Entity
{
public:
    Floor(EntityManager& manager, float x, float y, float z, float half) : Entity(manager), mesh(String(L"PhysicsFloor"))
    {
        const vec3d corners[6] = {{-half, 0, -half}, {-half, 0, half}, {half, 0, half},
                                  {-half, 0, -half}, {half, 0, half},  {half, 0, -half}};
        for (int i = 0; i < 6; ++i) {
            VertexComponents& v = *mesh.getVertexData(i);
            *v.position = corners[i];
            *v.normal = {0.0f, 1.0f, 0.0f};
        }
        *mesh.getVertexCount() = 6;
        mesh.addTriangle(0, 1, 2);
        mesh.addTriangle(3, 4, 5);
        mesh.calcBounds();
        addStoredMesh(mesh, true, false, nullptr, nullptr);
        world.setRow(3, {x, y, z});
        onMoved();
    }
    SourceMesh mesh;
};

TEST(EntityPhysicsQuery, TheGroundAndTheStaticEntitiesInTheBox)
{
    EntityManager entities;
    ASSERT_TRUE(entities.physicsManager->start(4));
    FlatGround ground;
    ASSERT_TRUE(ground.loaded);
    const vec3d c{ground.centre.x, ground.height, ground.centre.z};
    Floor floor(entities, c.x + 20.0f, c.y + 5.0f, c.z, 3.0f);
    BoxEntity box(entities, c);

    neTerrainTriangles found{};
    const auto query = [&](vec3d low, vec3d high, neRigidBodyBase* body) {
        found = {};
        PhysicsManager::queryTerrainTriangles(c + low, c + high, found, body);
        EXPECT_EQ(gCollisionQuery.triangleCount, 0u) << "the next query starts empty";
        EXPECT_EQ(gCollisionQuery.vertexCount, 0u);
        EXPECT_EQ(found.candidateCount, found.triangleCount);
        return found.triangleCount;
    };
    EXPECT_GT(query({-1, -1, -1}, {1, 1, 1}, box.body()), 0) << "the ground under the box";
    EXPECT_EQ(gCollisionQuery.boxMin, c + vec3d(-1, -1, -1));
    EXPECT_EQ(gCollisionQuery.centre, c);
    EXPECT_NEAR(gCollisionQuery.radius, std::sqrt(3.0f), 1e-3f);
    for (int32_t i = 0; i < found.triangleCount; ++i)
        for (int k = 0; k < 3; ++k)
            EXPECT_NEAR(found.vertices[found.triangles[found.candidates[i]].indices[k]].y, ground.height, 1e-3f);
    EXPECT_EQ(query({-1, 10, -1}, {1, 12, 1}, box.body()), 0) << "nothing high above the ground";
    EXPECT_EQ(query({19, 4, -1}, {21, 6, 1}, box.body()), 2) << "the floor's two triangles";
    EXPECT_NEAR(found.vertices[found.triangles[0].indices[0]].y, c.y + 5.0f, 1e-4f);
    EXPECT_EQ(query({-1, -1, -1}, {1, 1, 1}, nullptr), 0);
    neRigidBody* stranger = entities.physicsManager->simulator->createRigidBody();
    EXPECT_EQ(query({-1, -1, -1}, {1, 1, 1}, stranger), 0) << "a body without an entity manager gets nothing";
    EXPECT_EQ(found.triangles, nullptr);
    EXPECT_EQ(gCollisionQuery.radius, std::sqrt(3.0f)) << "the box was kept all the same";
    PhysicsManager::queryTerrainTriangles(c, c, found, box.body());
    EXPECT_EQ(gCollisionQuery.radius, 0.0f);
}

// Boxes dropped onto the generated ground and onto a static entity come to
// rest on them; their entities follow with the scale, and only while moving.
TEST(EntityPhysicsFalling, BoxesLandOnTheGroundAndOnAStaticEntity)
{
    EntityManager entities;
    PhysicsManager& m = *entities.physicsManager;
    ASSERT_TRUE(m.start(16));
    m.threaded = 0;
    FlatGround ground;
    ASSERT_TRUE(ground.loaded);
    const vec3d c{ground.centre.x, ground.height, ground.centre.z};
    Floor floor(entities, c.x + 20.0f, c.y + 5.0f, c.z, 3.0f);
    BoxEntity onGround(entities, c + vec3d(0, 3, 0)), onFloor(entities, c + vec3d(20, 8, 0));
    onGround.physics->scale = {2.0f, 1.0f, 1.0f};
    onGround.physics->collisionHandler = onFloor.physics->collisionHandler = listen;
    // A body of nobody's: the query finds it no ground.
    neRigidBody* stranger = m.simulator->createRigidBody();
    stranger->addGeometry()->setBoxSize(1, 1, 1);
    stranger->updateBounds();
    stranger->setPose(turnedAboutY(0.0f, c + vec3d(-20, 3, 0)));

    heard.clear();
    int movingFrames = 0, lastMove = 0;
    for (int frame = 0; frame < 300; ++frame) {
        m.update();
        const bool moved = onGround.physics->unchanged == 0;
        movingFrames += moved;
        if (moved)
            lastMove = frame;
        ASSERT_EQ(onGround.moves, movingFrames) << "onMoved exactly when the entity moved";
    }
    EXPECT_LT(lastMove, 250) << "the box came to rest";
    EXPECT_GT(movingFrames, 5);
    EXPECT_NEAR(onGround.position().y, c.y + 0.5f, 0.03f);
    EXPECT_NEAR(onFloor.position().y, c.y + 5.5f, 0.03f);
    EXPECT_LT(stranger->position().y, c.y - 10.0f);
    const matrix3d& t = onGround.physics->pose;
    for (int column = 0; column < 3; ++column) {
        EXPECT_FLOAT_EQ(onGround.world.at(0, column), 2.0f * t.at(0, column));
        EXPECT_FLOAT_EQ(onGround.world.at(1, column), t.at(1, column));
    }
    EXPECT_NEAR(onGround.world.row(0).length(), 2.0f, 1e-3f);

    bool groundHeard = false, floorHeard = false;
    for (const Heard& h : heard) {
        EXPECT_EQ(h.collision.otherType, Physics::terrainContact);
        EXPECT_EQ(h.collision.otherOwner, nullptr);
        groundHeard |= h.owner == &onGround;
        floorHeard |= h.owner == &onFloor;
    }
    EXPECT_TRUE(groundHeard);
    EXPECT_TRUE(floorHeard);

    // Two boxes meeting in the air each hear the other.
    BoxEntity left(entities, c + vec3d(-40, 20, 0)), right(entities, c + vec3d(-39.5f, 20, 0));
    left.physics->collisionHandler = right.physics->collisionHandler = listen;
    heard.clear();
    m.update();
    bool leftHeardRight = false, rightHeardLeft = false;
    for (const Heard& h : heard) {
        leftHeardRight |= h.owner == &left && h.collision.otherOwner == &right && h.collision.otherType == 1;
        rightHeardLeft |= h.owner == &right && h.collision.otherOwner == &left && h.collision.otherType == 1;
    }
    EXPECT_TRUE(leftHeardRight);
    EXPECT_TRUE(rightHeardLeft);
}

}
