// Dynamic objects: the function manager against a model, forwarded calls,
// the distance hiding and the speed, and the builder's packages placed with
// the physics manager's budget (no device, no physics thread).
#include "DynObjectWorld.h"
#include "ObjectsTestSupport.h"

#include "../Application/AppTestFiles.h"

#include "ObjectPackageSamples.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageGeometry.h"
#include "Objects/PackageMesh.h"

#include "Landscape/Scene.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Render/SwapChain.h"

#include "Core/Math.h"
#include "Core/Timer.h"

#include <cmath>
#include <limits>
#include <map>
#include <random>

using namespace ObjectsTests;
using Functions = DynObject::FunctionManager;

namespace {

// Every call an instance gets, in order, as "id:call".
struct Log
{
    std::vector<std::string> calls;
    std::map<int, int> deleted;
};

class Recording final : public ObjectFuncInstInterface
{
public:
    Recording(Log& log, int id, bool replaces = false) : log_(log), id_(id), replaces_(replaces) {}
    ~Recording() override { ++log_.deleted[id_]; }
    void onLoaded() override { note("loaded"); }
    void frameStep() override { note("frameStep"); }
    void update() override { note("update"); }
    bool replacesEntityUpdate() override
    {
        note("replaces");
        return replaces_;
    }
    void prepareRender() override { note("prepareRender"); }
    void redraw() override { note("redraw"); }
    void setAlpha(float alpha) override { note("alpha" + std::to_string(int(alpha * 10.0f))); }
    void onCollision(EntityManager::Physics::Collision&) override { note("collision"); }
    void renderShadowCaster(const matrix3d&) override { note("shadow"); }
    void beforeRender(const matrix3d&) override { note("before"); }
    void afterRender(const matrix3d&) override { note("after"); }

private:
    void note(const std::string& call) { log_.calls.push_back(std::to_string(id_) + ":" + call); }
    Log& log_;
    int id_;
    bool replaces_;
};


}

// Random adds, removes and clears against a model: the mask is the or of
// the flags, the order is kept, each instance is deleted once.
TEST(DynObjects, FunctionManagerFollowsItsModel)
{
    Log log;
    Functions functions(nullptr);
    std::vector<std::pair<uint32_t, int>> model;
    std::mt19937 random(3901);
    int next = 0;
    std::vector<int> made;
    for (int step = 0; step < 3000; ++step) {
        const uint32_t flag = 1u << (random() % 15);
        const int op = int(random() % 10);
        if (op < 6) {
            auto* instance = new Recording(log, next);
            Functions::Function* entry = functions.add(flag, instance);
            ASSERT_NE(entry, nullptr);
            const auto present = std::find_if(model.begin(), model.end(), [&](const auto& e) { return e.first == flag; });
            if (present == model.end()) {
                model.push_back({flag, next});
                EXPECT_EQ(entry->instance, instance);
            } else {
                EXPECT_NE(entry->instance, instance) << "the first instance of a flag stays";
                delete instance;
            }
            made.push_back(next++);
        } else if (op < 9) {
            functions.remove(flag);
            model.erase(std::remove_if(model.begin(), model.end(), [&](const auto& e) { return e.first == flag; }),
                        model.end());
        } else if (step % 7 == 0) {
            functions.clear();
            model.clear();
        }
        ASSERT_EQ(functions.count, int32_t(model.size())) << step;
        uint32_t mask = 0;
        for (size_t i = 0; i < model.size(); ++i) {
            mask |= model[i].first;
            EXPECT_EQ(functions.entries.at(int32_t(i))->flag, model[i].first) << step;
            ASSERT_NE(functions.find(model[i].first), nullptr);
        }
        EXPECT_EQ(functions.mask, mask) << step;
    }
    for (uint32_t bit = 0; bit < 15; ++bit)
        EXPECT_EQ(functions.find(1u << bit) != nullptr, (functions.mask & (1u << bit)) != 0);
    functions.clear();
    EXPECT_EQ(functions.mask, 0u);
    for (int id : made)
        EXPECT_EQ(log.deleted[id], 1) << id;

    // The vehicle camera added twice keeps the first; removing it keeps the
    // others in order.
    Log second;
    Functions few(nullptr);
    auto* first = new Recording(second, 1);
    few.add(0x2, new Recording(second, 0));
    few.add(0x4, first);
    few.add(0x20, new Recording(second, 2));
    auto* again = new Recording(second, 3);
    EXPECT_EQ(few.add(0x4, again)->instance, first);
    delete again;
    few.remove(0x4);
    few.remove(0x4);
    EXPECT_EQ(second.deleted[1], 1);
    ASSERT_EQ(few.count, 2);
    EXPECT_EQ(few.entries.at(0)->flag, 0x2u);
    EXPECT_EQ(few.entries.at(1)->flag, 0x20u);
    EXPECT_EQ(few.find(0x4), nullptr);
}

// The object's calls reach every instance in the order they were added; an
// instance that places the entity itself stops the prepare's move.
TEST(DynObjects, CallsAreForwardedInOrder)
{
    // The log outlives the world, whose objects delete their instances.
    Log log;
    World world;
    DynObject* object = world.place(L"Camera", {10.0f, 5.0f, -3.0f});
    ASSERT_NE(object, nullptr);
    object->functions->add(0x1, new Recording(log, 1));
    object->functions->add(0x8, new Recording(log, 2));
    object->update();
    object->beforeRender();
    object->afterRender();
    object->setAlpha(0.5f);
    EntityManager::Physics::Collision contact{};
    DynObject::onContact(object, &contact);
    world.scene.notifyObjectFunctions();
    object->world.m[12] += 1.0f;
    const uint32_t changes = object->changeCount;
    object->prepare();
    EXPECT_GT(object->changeCount, changes) << "the entity moves with its prepare";
    EXPECT_EQ(log.calls, (std::vector<std::string>{"1:frameStep", "2:frameStep", "1:before", "2:before", "1:after",
                                                   "2:after", "1:alpha5", "2:alpha5", "1:collision", "2:collision",
                                                   "1:redraw", "2:redraw", "1:update", "2:update", "1:replaces",
                                                   "2:replaces"}));
    const uint32_t unmoved = object->changeCount;
    object->prepare();
    EXPECT_EQ(object->changeCount, unmoved) << "an entity that stayed put";
    log.calls.clear();
    EXPECT_FALSE(object->renderShadowCaster()) << "no cloth";
    const uint32_t beforeRenderPreparation = object->changeCount;
    object->prepareRender();
    EXPECT_EQ(log.calls, (std::vector<std::string>{"1:prepareRender", "2:prepareRender"}));
    EXPECT_GT(object->changeCount, beforeRenderPreparation) << "the entity follows what its instances prepared";
    object->functions->add(0x200, new Recording(log, 4));
    log.calls.clear();
    EXPECT_TRUE(object->renderShadowCaster());
    EXPECT_EQ(log.calls, (std::vector<std::string>{"1:shadow", "2:shadow", "4:shadow"}));
    object->functions->remove(0x200);
    object->functions->add(0x2000, new Recording(log, 3, true));
    log.calls.clear();
    object->world.m[12] += 1.0f;
    const uint32_t before = object->changeCount;
    object->prepare();
    EXPECT_EQ(object->changeCount, before) << "an instance that places the entity";
    EXPECT_EQ(log.calls, (std::vector<std::string>{"1:update", "2:update", "3:update", "1:replaces", "2:replaces",
                                                   "3:replaces"}));
}

// State 254 hides the object beyond the visibility distance, measured
// across the ground from the camera; always-shown packages stay shown.
TEST(DynObjects, DistanceHidingAndSpeed)
{
    World world;
    DynObject* object = world.place(L"Camera", {0.0f, 0.0f, 0.0f});
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(object->getSpeed(), 0.0f) << "right after construction";
    object->object->setState(254);
    object->package->rangeSq = 300.0f * 300.0f;
    vec3d camera;
    cameraPosition.store(&camera);
    const struct
    {
        vec3d at;
        uint32_t hidden;
    } cases[] = {{{301.0f, 0.0f, 0.0f}, 1}, {{299.0f, -80.0f, 0.0f}, 0}, {{0.0f, 500.0f, 299.0f}, 0},
                 {{213.0f, 0.0f, 213.0f}, 1}, {{-211.0f, 9.0f, 211.0f}, 0}};
    for (const auto& c : cases) {
        camera = c.at;
        object->prepare();
        EXPECT_EQ(object->hidden, c.hidden) << c.at.x << " " << c.at.y << " " << c.at.z;
    }
    camera = {400.0f, 0.0f, 0.0f};
    object->package->functions.alwaysShown = 1;
    object->prepare();
    EXPECT_EQ(object->hidden, 0u);
    object->package->functions.alwaysShown = 0;
    object->object->setState(0);
    object->hidden = 0;
    object->prepare();
    EXPECT_EQ(object->hidden, 0u) << "other states are not hidden by distance";
    cameraPosition.store(nullptr);

    // The distance moved since the last prepare over the frame factor.
    const float factor = gFrameFactor.load();
    gFrameFactor.store(2.0f);
    object->world.m[12] += 6.0f;
    object->world.m[14] += 8.0f;
    EXPECT_NEAR(object->getSpeed(), 5.0f, 1e-3f);
    gFrameFactor.store(0.0f);
    EXPECT_NEAR(object->getSpeed(), 10.0f, 1e-3f);
    gFrameFactor.store(factor);
}

// Packages with geometry take a rigid body of their mass; without geometry
// the object keeps its own transform; past the budget objects are hidden.
TEST(DynObjects, BodiesFromThePackages)
{
    World world(4);
    // The first object of an unbuilt package builds it.
    world.package(L"Gate")->unbuild();
    DynObject* gate = world.place(L"Gate", {-50.0f, 0.0f, 0.0f});
    ASSERT_NE(gate, nullptr);
    EXPECT_EQ(gate->package->built, 1u);
    EXPECT_EQ(gate->subEntities.count(), 2);
    ASSERT_NE(gate->physics, nullptr) << "the frame's geometry";
    Object* gateObject = gate->object;
    gateObject->destroyInstance(gate);
    gateObject->instance = nullptr;
    DynObject* marker = world.place(L"Camera", {7.0f, 3.0f, 2.0f}, 2.0f);
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(marker->physics, nullptr);
    EXPECT_EQ(marker->hidden, 0u);
    matrix3d expected = matrix3d::identity();
    marker->object->getTransform(expected, false);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(marker->world.m[i], expected.m[i]) << i;
    ASSERT_EQ(marker->subEntities.count(), 1);
    EXPECT_EQ(marker->subEntities.head()->item->castsShadow, 1u);

    DynObject* crate = world.place(L"Crate", {0.0f, 10.0f, 0.0f});
    ASSERT_NE(crate, nullptr);
    ASSERT_NE(crate->physics, nullptr);
    ASSERT_NE(crate->physics->rigidBody, nullptr);
    neRigidBody* body = crate->physics->rigidBody->body;
    EXPECT_EQ(body->mass, 2.0f);
    EXPECT_EQ(body->inverseMass, 0.5f);
    EXPECT_EQ(crate->body.geometries.count(), 2);
    EXPECT_EQ(crate->physics->collisionHandler, &DynObject::onContact);
    EXPECT_EQ(body->geometryCount, 2);
    // The entity stands where the body was posed: at the placed object.
    // (The placed position raised by the object's height offset.)
    expectNear(crate->world.row(3), crate->object->getPosition(), 1e-4f, "entity");
    expectNear(body->position(), crate->object->getPosition(), 1e-4f, "body");
    // Moving the placed object moves its body.
    crate->object->setPosition({3.0f, 12.0f, -4.0f}, true);
    expectNear(body->position(), crate->object->getPosition(), 1e-4f, "moved body");
    expectNear(crate->world.row(3), crate->object->getPosition(), 1e-4f, "moved entity");
    EXPECT_EQ(crate->object->getPosition().x, 3.0f);
    EXPECT_EQ(crate->physics->forceSync, 1u);
    EXPECT_EQ(crate->package->objectScale, 1.0f);
    ASSERT_EQ(crate->subEntities.count(), 1);
    EXPECT_EQ(crate->subEntities.head()->item->castsShadow, 0u) << "the crate's settings cast no shadow";

    // Objects of one package share its meshes' stored meshes.
    DynObject* second = world.place(L"Crate", {-20.0f, 10.0f, 0.0f});
    ASSERT_NE(second, nullptr);
    ASSERT_EQ(second->subEntities.count(), 1);
    EXPECT_EQ(&second->subEntities.head()->item->mesh(), &crate->subEntities.head()->item->mesh());
    World::destroy(second);

    // A crate at scale 2 has shapes twice the size, also after a second sync.
    DynObject* large = world.place(L"Crate", {40.0f, 10.0f, 0.0f}, 2.0f);
    ASSERT_NE(large, nullptr);
    ASSERT_NE(large->physics, nullptr);
    EXPECT_EQ(large->physics->scale.x, 2.0f);
    auto shapes = [](DynObject* o) {
        std::vector<float> sizes;
        for (auto* node = o->body.geometries.head(); node; node = node->next) {
            const auto& g = *node->item;
            // A box's size, a sphere's diameter, and where it stands.
            sizes.push_back(g.type == EntityManager::CollisionBody::Geometry::box ? g.size.x : g.diameter);
            sizes.push_back(g.position.y);
        }
        return sizes;
    };
    // Its body turns by the placement alone: unit axes.
    const matrix3d& pose = large->physics->rigidBody->body->state().transform;
    for (int row = 0; row < 3; ++row)
        EXPECT_NEAR(pose.row(row).lengthSq(), 1.0f, 1e-4f) << row;
    const std::vector<float> small = shapes(crate), twice = shapes(large);
    ASSERT_EQ(small.size(), twice.size());
    for (size_t i = 0; i < small.size(); ++i)
        EXPECT_NEAR(twice[i], small[i] * 2.0f, 1e-4f) << i;
    large->body.syncTransforms();
    crate->body.syncTransforms();
    EXPECT_EQ(shapes(large), twice);
    EXPECT_EQ(shapes(crate), small);

    // Two more crates use the budget of 4 up (the marker takes none); the
    // next is hidden, without a record.
    ASSERT_NE(world.place(L"Crate", {80.0f, 10.0f, 0.0f}), nullptr);
    DynObject* fourth = world.place(L"Crate", {120.0f, 10.0f, 0.0f});
    ASSERT_NE(fourth, nullptr);
    EXPECT_NE(fourth->physics, nullptr);
    DynObject* over = world.place(L"Crate", {160.0f, 10.0f, 0.0f});
    ASSERT_NE(over, nullptr);
    EXPECT_EQ(over->physics, nullptr);
    EXPECT_EQ(over->hidden, 1u);
    EXPECT_EQ(world.physics().rigidBodyBudget, 0);

    // A destroyed object gives its body back; the package's geometries
    // forget its records.
    Object* owner = fourth->object;
    owner->destroyInstance(fourth);
    owner->instance = nullptr;
    EXPECT_EQ(world.physics().rigidBodyBudget, 1);
    for (auto* node = world.package(L"Crate")->meshes.head(); node; node = node->next)
        for (auto* g = node->item->geometries.head(); g; g = g->next)
            EXPECT_TRUE(g->item->bodyGeometry == nullptr || g->item->bodyGeometry->owner != &fourth->body);
    EXPECT_EQ(world.package(L"Crate")->objectScale, 1.0f);
    DynObject* again = world.place(L"Crate", {200.0f, 10.0f, 0.0f});
    ASSERT_NE(again, nullptr);
    ASSERT_NE(again->physics, nullptr);
    EXPECT_EQ(again->hidden, 0u);
    // The body came back without the geometries of the object before.
    EXPECT_EQ(again->physics->rigidBody->body->geometryCount, 2);

    // A destroyed object leaves its package at scale 1.
    World::destroy(again);
    DynObject* big = world.place(L"Crate", {240.0f, 10.0f, 0.0f}, 3.0f);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->package->objectScale, 3.0f);
    World::destroy(big);
    EXPECT_EQ(world.package(L"Crate")->objectScale, 1.0f);
}

// Placed objects of unsound scale are hidden and take no body; a sound crate
// moved to an unsound scale is hidden and its body keeps a finite pose.
TEST(DynObjects, UnsoundPlacementsAreHiddenWithoutABody)
{
    World world(8);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    for (const float scale : {0.0f, -1.0f, nan, inf, -inf}) {
        SCOPED_TRACE(scale);
        for (const wchar_t* name : {L"Crate", L"Camera"}) {
            const int32_t budget = world.physics().rigidBodyBudget;
            DynObject* object = world.place(name, {10.0f, 5.0f, 10.0f}, scale);
            if (!object)
                continue; // not placed at all
            EXPECT_EQ(object->hidden, 1u);
            EXPECT_EQ(object->physics, nullptr);
            EXPECT_EQ(world.physics().rigidBodyBudget, budget);
            object->prepare();
            EXPECT_EQ(object->hidden, 1u) << "also after a prepare";
        }
    }
    DynObject* crate = world.place(L"Crate", {30.0f, 5.0f, 30.0f});
    ASSERT_NE(crate, nullptr);
    ASSERT_NE(crate->physics, nullptr);
    EXPECT_EQ(crate->hidden, 0u);
    crate->object->scale = nan;
    crate->object->setPosition({31.0f, 5.0f, 30.0f}, true);
    EXPECT_EQ(crate->hidden, 1u);
    for (float value : crate->physics->rigidBody->body->state().transform.m)
        EXPECT_TRUE(std::isfinite(value));
    crate->object->scale = 1.0f;
    crate->object->setPosition({32.0f, 5.0f, 30.0f}, true);
    crate->prepare();
    EXPECT_EQ(crate->hidden, 0u) << "sound again";
    expectNear(crate->physics->rigidBody->body->position(), crate->object->getPosition(), 1e-4f, "body");
}
