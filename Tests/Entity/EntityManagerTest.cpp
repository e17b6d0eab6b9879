// The entity manager without a device: projection links against their
// volumes, the caster search and its still rule, rays through every mesh
// with layers against brute force, the contact pass, and the entity pass's
// classes and hooks.
#include "EntityTestSupport.h"

#include "Entity/CollisionQuery.h"
#include "Physics/EntityPhysics.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureProj.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <map>
#include <optional>
#include <functional>
#include <iterator>
#include <set>
#include <thread>

using namespace EntityTests;
using Entity = EntityManager::Entity;
using SubEntity = EntityManager::SubEntity;

namespace {

// An entity that counts its hooks.
struct Counted final : Entity
{
    using Entity::Entity;
    void prepareRender() override { ++preparedDrawings; }
    void beforeRender() override { ++before; }
    void afterRender() override { ++after; }
    void update() override { ++updates; }
    void prepare() override { ++prepares; }
    int preparedDrawings = 0, before = 0, after = 0, updates = 0, prepares = 0;
};

// A box volume of six planes around centre.
ConvexVolume boxVolume(const vec3d& centre, const vec3d& half)
{
    ConvexVolume v;
    for (int a = 0; a < 3; ++a)
        for (int side = 0; side < 2; ++side) {
            ConvexVolume::Plane& p = v.planes[v.count++];
            vec3d n;
            n[a] = side ? -1.0f : 1.0f;
            p.normal = n;
            p.point = centre - n * half[a];
            p.distance = n.dot(p.point);
        }
    return v;
}

struct Scene
{
    explicit Scene(uint32_t seed, int count = 40) : random(seed)
    {
        meshes.push_back(randomMesh(L"m0", 12, random, 2.0f));
        meshes.push_back(randomMesh(L"m1", 20, random, 3.0f));
        meshes.push_back(randomMesh(L"m2", 8, random, 1.0f));
        std::uniform_real_distribution<float> unit(0.0f, 1.0f);
        for (int e = 0; e < count; ++e) {
            auto entity = std::make_unique<Counted>(manager);
            for (int p = 0; p < 1 + e % 3; ++p) {
                EntityMesh& source = *meshes[size_t(e + p) % meshes.size()];
                SubEntity* sub = entity->addStoredMesh(source, false, false, nullptr, nullptr);
                sources[sub] = &source;
                sub->layer = (e + p) % 4 == 0 ? -1 : (e + p) % 5 == 0 ? 2 : 0;
                sub->hidden = (e + 2 * p) % 9 == 0;
                sub->material.cullMode = 1 + uint32_t(e + p) % 3;
            }
            entity->world = placement(unit(random) * 6.2f, unit(random) - 0.5f, 1.0f + unit(random),
                                      {unit(random) * 200.0f - 100.0f, unit(random) * 20.0f,
                                       unit(random) * 200.0f - 100.0f});
            entity->onMoved();
            entities.push_back(std::move(entity));
        }
    }

    std::mt19937 random;
    EntityManager manager;
    std::vector<std::unique_ptr<EntityMesh>> meshes;
    std::vector<std::unique_ptr<Counted>> entities;
    std::map<const SubEntity*, EntityMesh*> sources;
};

// Distance along the unit direction to a one-sided triangle, in doubles
// (facing along (c - a) x (b - a), or the other way for clockwise).
std::optional<double> rayTriangle(const vec3d (&c)[3], const vec3d& o, const vec3d& d, bool clockwise, double limit)
{
    const auto sub = [](const vec3d& x, const vec3d& y) {
        return std::array<double, 3>{double(x.x) - y.x, double(x.y) - y.y, double(x.z) - y.z};
    };
    const auto cross = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        return std::array<double, 3>{a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    };
    const auto dot = [](const std::array<double, 3>& a, const std::array<double, 3>& b) {
        return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
    };
    const std::array<double, 3> dir{d.x, d.y, d.z};
    const auto n = cross(sub(c[1], c[0]), sub(c[2], c[0]));
    const double facing = dot(dir, n);
    if (clockwise ? !(facing < 0.0) : !(facing > 0.0))
        return std::nullopt;
    const double t = dot(n, sub(c[0], o)) / facing;
    if (!(t > 0.0 && t < limit))
        return std::nullopt;
    const vec3d p(float(o.x + d.x * t), float(o.y + d.y * t), float(o.z + d.z * t));
    for (int k = 0; k < 3; ++k)
        if (dot(cross(sub(c[(k + 1) % 3], c[k]), sub(p, c[k])), n) < -1e-9 * dot(n, n))
            return std::nullopt;
    return t;
}

}

TEST(EntityManagerLinks, EachEntityIsLinkedToTheProjectionsThatReachIt)
{
    Scene scene(2001);
    std::vector<std::unique_ptr<TextureProj>> lights;
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int i = 0; i < 6; ++i) {
        auto p = std::make_unique<TextureProj>(nullptr);
        p->volume = boxVolume({unit(scene.random) * 200.0f - 100.0f, 10.0f, unit(scene.random) * 200.0f - 100.0f},
                              {40.0f, 40.0f, 40.0f});
        p->disabled = i == 4;
        p->receivers.append(&scene.manager);
        p->addToReceivers();
        scene.manager.addTexProj(p.get()); // a second time changes nothing
        lights.push_back(std::move(p));
    }
    ASSERT_EQ(scene.manager.projections.count(), 6);
    scene.entities[3]->hidden = 1;

    const auto expectLinks = [&](const char* when) {
        for (auto& e : scene.entities) {
            if (e->hidden)
                continue;
            EXPECT_EQ(e->moved, 0u);
            std::vector<TextureProj*> want, got;
            for (auto& p : lights)
                if (!p->disabled && p->volume.classifyOrientedBox(e->worldBox) != ConvexVolume::outside)
                    want.push_back(p.get());
            for (uint32_t i = 0; i < e->linkCount; ++i) {
                EntityManager::EntityTexProj& link = *e->links.at(int32_t(i));
                ASSERT_NE(link.entry, nullptr) << when;
                EXPECT_EQ(link.entity, e.get());
                got.push_back(link.entry->projection);
                // Its entry lists it once.
                int listed = 0;
                for (uint32_t k = 0; k < link.entry->count; ++k)
                    listed += *link.entry->links.at(int32_t(k)) == &link;
                EXPECT_EQ(listed, 1) << when;
            }
            EXPECT_EQ(got, want) << when;
        }
        uint32_t total = 0, entries = 0;
        for (auto& e : scene.entities)
            total += e->hidden ? 0 : e->linkCount;
        for (auto* node = scene.manager.projections.head(); node; node = node->next)
            entries += node->item->count;
        EXPECT_EQ(entries, total) << when;
    };

    for (auto& e : scene.entities)
        e->moved = 1;
    scene.manager.assignTexProjs();
    expectLinks("first");
    uint32_t linked = 0;
    for (auto& e : scene.entities)
        linked += e->linkCount;
    EXPECT_GT(linked, 5u) << "some entities should be lit";
    EXPECT_EQ(scene.entities[3]->linkCount, 0u) << "hidden: no links";
    for (auto& e : scene.entities)
        EXPECT_EQ(e->prepares, 1);

    // Moved entities and a moved light: the links follow.
    for (int i = 0; i < 10; ++i) {
        scene.entities[size_t(i)]->world.at(3, 0) += 37.0f;
        scene.entities[size_t(i)]->onMoved();
    }
    lights[0]->volume = boxVolume({0.0f, 10.0f, 0.0f}, {90.0f, 60.0f, 90.0f});
    scene.manager.assignTexProjs();
    expectLinks("moved");

    // A cleared entity leaves its entries' slots empty; a removed projection
    // leaves its links without entry.
    Counted& cleared = *scene.entities[5];
    const uint32_t before = cleared.linkCount;
    std::vector<EntityManager::TexProjEntry*> itsEntries;
    for (uint32_t i = 0; i < cleared.linkCount; ++i)
        itsEntries.push_back(cleared.links.at(int32_t(i))->entry);
    ASSERT_GT(before, 0u) << "the cleared entity should have been lit";
    cleared.clear();
    EXPECT_EQ(cleared.linkCount, 0u);
    for (EntityManager::TexProjEntry* entry : itsEntries)
        for (uint32_t k = 0; k < entry->count; ++k) {
            EntityManager::EntityTexProj* slot = *entry->links.at(int32_t(k));
            EXPECT_TRUE(!slot || slot->entity != &cleared);
        }

    TextureProj* removed = lights[0].get();
    std::vector<Entity*> reached;
    for (auto& e : scene.entities)
        for (uint32_t i = 0; i < e->linkCount; ++i)
            if (e->links.at(int32_t(i))->entry && e->links.at(int32_t(i))->entry->projection == removed)
                reached.push_back(e.get());
    ASSERT_FALSE(reached.empty());
    lights[0].reset(); // its destructor removes it from every receiver
    EXPECT_EQ(scene.manager.projections.count(), 5);
    for (Entity* e : reached) {
        bool nulled = false;
        for (uint32_t i = 0; i < e->linkCount; ++i)
            nulled |= e->links.at(int32_t(i))->entry == nullptr;
        EXPECT_TRUE(nulled);
    }
    scene.manager.renderProjections(); // no device: nothing drawn, nothing touched
    lights.erase(lights.begin());
    scene.manager.assignTexProjs();
    expectLinks("after removal");
    scene.manager.removeTexProj(removed); // not received any more: nothing happens
    EXPECT_EQ(scene.manager.projections.count(), 5);

    // The manager going first: the projections forget it.
    {
        auto early = std::make_unique<EntityManager>();
        TextureProj p(nullptr);
        p.volume = boxVolume({}, {1000.0f, 1000.0f, 1000.0f});
        p.receivers.append(early.get());
        p.addToReceivers();
        auto mesh = meshOf(L"early", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}});
        auto entity = std::make_unique<Entity>(*early);
        entity->addStoredMesh(*mesh, false, false, nullptr, nullptr);
        early->assignTexProjs();
        ASSERT_EQ(entity->linkCount, 1u);
        const TextureProj::Interface* gone = early.get();
        early.reset();
        EXPECT_EQ(p.receivers.count(), 1) << "only the device's list receives it now";
        for (auto* r = p.receivers.head(); r; r = r->next)
            EXPECT_NE(r->item, gone);
        EXPECT_EQ(entity->links.at(0)->entry, nullptr);
        entity.reset(); // its clear must not reach the gone entries
    }
}

TEST(EntityManagerCasters, SearchCountsWhatTheVolumeHoldsAndTheStillRule)
{
    Scene scene(2002);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::vector<std::unique_ptr<EntityManager::Physics>> bodies;
    for (size_t i = 0; i < scene.entities.size(); i += 4) {
        bodies.push_back(std::make_unique<EntityManager::Physics>(*scene.entities[i], 1.0f));
        bodies.back()->unchanged = 1;
        scene.entities[i]->physics = bodies.back().get();
    }
    scene.entities[7]->hidden = 1;
    int found = 0, moving = 0, resting = 0;
    for (int round = 0; round < 60; ++round) {
        const ConvexVolume volume = boxVolume({unit(scene.random) * 200.0f - 100.0f, 10.0f,
                                               unit(scene.random) * 200.0f - 100.0f},
                                              {10.0f + 60.0f * unit(scene.random), 30.0f, 30.0f});
        const Entity* excluded = scene.entities[size_t(round) % scene.entities.size()].get();
        for (auto& e : scene.entities)
            for (auto* s = e->subEntities.head(); s; s = s->next)
                s->item->moved = (round + int(s->item->layer)) % 7 == 0 ? 1 : 0;
        for (auto& b : bodies)
            b->unchanged = round % 3 ? 1 : 0;

        int32_t count = 0;
        bool moves = false;
        for (auto& e : scene.entities) {
            if (e.get() == excluded || volume.classifyOrientedBox(e->worldBox) == ConvexVolume::outside)
                continue;
            bool any = false;
            for (auto* s = e->subEntities.head(); s; s = s->next)
                if (!s->item->hidden) {
                    ++count;
                    any = true;
                }
            if (!any)
                continue;
            bool partMoved = false;
            for (auto* s = e->subEntities.head(); s; s = s->next)
                partMoved |= s->item->moved != 0;
            moves |= e->physics ? e->physics->unchanged == 0 : partMoved;
        }
        uint32_t still = 7;
        EXPECT_EQ(scene.manager.findCastersInVolume(volume, excluded, &still), count) << round;
        EXPECT_EQ(still, moves ? 0u : 1u) << round;
        EXPECT_EQ(scene.manager.findCastersInVolume(volume, excluded, nullptr), count ? 1 : 0)
            << "without the flag the first caster ends the search";
        found += count > 0;
        moving += count > 0 && moves;
        resting += count > 0 && !moves;
        if (HasFailure())
            break;
    }
    EXPECT_GT(moving, 5);
    EXPECT_GT(resting, 5);
    for (auto& e : scene.entities)
        e->physics = nullptr;
}

TEST(EntityManagerRays, TheNearestTriangleOfEveryMeshWithLayers)
{
    Scene scene(2003, 60);
    scene.entities[2]->hidden = 1;
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    int hits = 0;
    for (int r = 0; r < 300; ++r) {
        const Entity& aimed = *scene.entities[size_t(r * 7) % scene.entities.size()];
        const vec3d from = aimed.worldBox.center + vec3d(unit(scene.random) - 0.5f, 1.0f, unit(scene.random) - 0.5f) * 12.0f;
        const vec3d towards = aimed.worldBox.center + vec3d(unit(scene.random) - 0.5f, unit(scene.random) - 0.5f,
                                                            unit(scene.random) - 0.5f) * 3.0f;
        const vec3d to = from + (towards - from) * 3.0f;
        const int32_t minLayer = r % 3 - 1;

        std::optional<double> nearest;
        const SubEntity* nearestSub = nullptr;
        vec3d nearestCorners[3];
        const double length = (to - from).length();
        const vec3d direction = (to - from) / float(length);
        for (auto& e : scene.entities) {
            if (e->hidden)
                continue;
            for (auto* s = e->subEntities.head(); s; s = s->next) {
                const SubEntity& sub = *s->item;
                if (sub.layer < minLayer)
                    continue;
                EntityMesh& editable = *scene.sources.at(&sub);
                for (int32_t i = 0; i + 2 < *editable.getIndexCount(); i += 3) {
                    vec3d c[3];
                    for (int k = 0; k < 3; ++k)
                        c[k] = sub.world->transformPoint(position(editable, *editable.getIndex(i + k)));
                    const auto t = rayTriangle(c, from, direction, sub.material.cullMode == Shader::cullFront, length);
                    if (t && (!nearest || *t < *nearest)) {
                        nearest = t;
                        nearestSub = &sub;
                        std::copy(c, c + 3, nearestCorners);
                    }
                }
            }
        }

        vec3d end = to;
        float distance = -1.0f;
        SubEntity* hit = nullptr;
        const bool found = scene.manager.intersectRay(from, end, minLayer, &distance, &hit);
        ASSERT_EQ(found, nearest.has_value()) << r;
        if (!found) {
            EXPECT_EQ(end, to) << "no hit leaves the end";
            continue;
        }
        ++hits;
        EXPECT_EQ(hit, nearestSub) << r;
        EXPECT_NEAR(distance, *nearest, 1e-3 * std::max(1.0, *nearest)) << r;
        EXPECT_NEAR((end - (from + direction * float(*nearest))).length(), 0.0f, 2e-3f) << r;
        // The normal turned into the world is the hit triangle's normal.
        const vec3d n = (nearestCorners[1] - nearestCorners[0]).cross(nearestCorners[2] - nearestCorners[0]);
        const vec3d got = EntityManager::lastHitNormal;
        EXPECT_NEAR(std::fabs(got.dot(n)) / (got.length() * n.length()), 1.0f, 1e-3f) << r;
    }
    EXPECT_GT(hits, 60);

    // A segment of length 0 finds nothing.
    vec3d point = scene.entities[0]->worldBox.center;
    EXPECT_FALSE(scene.manager.intersectRay(point, point, -10));
}

TEST(EntityManagerContacts, OnlyStaticPartsAtLayerZeroAndNeverDuringAChange)
{
    EntityManager manager;
    auto quad = meshOf(L"floor", {{-1, 0, -1}, {-1, 0, 1}, {1, 0, 1}, {-1, 0, -1}, {1, 0, 1}, {1, 0, -1}});
    Entity ground(manager), moving(manager), below(manager);
    EntityManager::Physics body(moving, 1.0f);
    for (Entity* e : {&ground, &moving, &below}) {
        e->addStoredMesh(*quad, false, false, nullptr, nullptr);
        e->world = placement(0.0f, 0.0f, 10.0f, {100.0f, 5.0f, 100.0f});
        e->onMoved();
    }
    moving.physics = &body;
    below.subEntities.head()->item->layer = -1;

    CollisionQuery query;
    query.boxMin = {95.0f, 4.0f, 95.0f};
    query.boxMax = {105.0f, 6.0f, 105.0f};
    manager.changing = 1;
    manager.collideEntities(query);
    EXPECT_EQ(query.triangleCount, 0u) << "no contact pass while an entity changes";
    EXPECT_EQ(manager.physicsBusy.load(), 0u);
    manager.changing = 0;

    manager.collideEntities(query);
    ASSERT_EQ(query.triangleCount, 2u) << "the ground's two triangles only";
    EXPECT_EQ(query.vertexCount, 6u);
    for (uint32_t v = 0; v < 6; ++v) {
        const vec3d& p = *query.vertices.at(int32_t(v));
        EXPECT_EQ(p.y, 5.0f);
        EXPECT_EQ(std::fabs(p.x - 100.0f), 10.0f);
    }
    EXPECT_EQ(manager.physicsBusy.load(), 0u);
    moving.physics = nullptr;
}

// The contact walk skips a mesh whose parts all belong to entities with a
// physics record, and learns again of every change that can end that: a
// record gone, a new part placed. The physics thread reads the parts anew
// each time.
TEST(EntityManagerContacts, PartsOfBodiesAloneGiveNothingUntilTheyChange)
{
    EntityManager manager;
    auto quad = meshOf(L"floor", {{-1, 0, -1}, {-1, 0, 1}, {1, 0, 1}, {-1, 0, -1}, {1, 0, 1}, {1, 0, -1}});
    std::vector<std::unique_ptr<Entity>> entities;
    const auto add = [&](float x, bool withBody) {
        entities.push_back(std::make_unique<Entity>(manager));
        Entity& e = *entities.back();
        if (withBody)
            e.physics = new EntityManager::Physics(e, 1.0f);
        e.addStoredMesh(*quad, false, false, nullptr, nullptr);
        e.world = placement(0.0f, 0.0f, 10.0f, {100.0f + x, 5.0f, 100.0f});
        e.onMoved();
        return &e;
    };
    Entity* first = add(0.0f, true);
    Entity* second = add(4.0f, true);
    const auto contacts = [&](bool fromAnotherThread) {
        CollisionQuery query;
        query.boxMin = {95.0f, 4.0f, 95.0f};
        query.boxMax = {105.0f, 6.0f, 105.0f};
        if (fromAnotherThread)
            std::thread([&] { manager.collideEntities(query); }).join();
        else
            manager.collideEntities(query);
        return query.triangleCount;
    };

    struct Step
    {
        const char* what;
        std::function<void()> change;
        uint32_t triangles;
    };
    const Step steps[] = {
        {"two bodies", [] {}, 0},
        {"again, the mesh known to hold bodies only", [] {}, 0},
        {"the first body's record gone", [&] { delete first->physics; first->physics = nullptr; }, 2},
        {"a record for it again", [&] { first->physics = new EntityManager::Physics(*first, 1.0f); }, 0},
        {"a third part without a body placed", [&] { add(-4.0f, false); }, 2},
        {"a record for the third", [&] { entities.back()->physics = new EntityManager::Physics(*entities.back(), 1.0f); }, 0},
    };
    for (const Step& step : steps) {
        step.change();
        EXPECT_EQ(contacts(false), step.triangles) << step.what;
        EXPECT_EQ(contacts(true), step.triangles) << step.what << ", from another thread";
    }

    // A record taken away without a word: the making thread keeps its skip
    // until the next change, the physics thread reads the parts as they are.
    Entity* third = entities.back().get();
    EntityManager::Physics* kept = second->physics;
    second->physics = nullptr;
    EXPECT_EQ(contacts(false), 0u) << "the mesh is known to hold bodies only";
    EXPECT_EQ(contacts(true), 2u);
    second->physics = kept;
    for (Entity* e : {first, second, third}) {
        delete e->physics;
        e->physics = nullptr;
    }
    EXPECT_EQ(contacts(false), 6u) << "every part without a body";
}

// The physics thread's contact pass beside the main thread moving parts of
// the same mesh across cell borders (in and out of the node of the parts
// standing in the pass's box, whose list they lead after each round; through
// nodes that are pruned and recycled) and making and clearing entities of
// another mesh: every pass that runs sees the standing parts, each exactly
// once.
TEST(EntityManagerContacts, APassBesideMovesAcrossCellsSeesExactlyThePartsStandingInItsBox)
{
    EntityManager manager;
    auto quad = meshOf(L"floor", {{-1, 0, -1}, {-1, 0, 1}, {1, 0, 1}, {-1, 0, -1}, {1, 0, 1}, {1, 0, -1}});
    auto other = meshOf(L"other", {{-1, 0, -1}, {-1, 0, 1}, {1, 0, 1}});
    // The standing parts lie at four heights inside the box, told apart by
    // height; the movers pass above the box or far from it.
    constexpr int standingCount = 4;
    std::vector<std::unique_ptr<Entity>> standing, moving;
    const vec3d places[] = {{100.0f, 50.0f, 100.0f}, {-300.0f, 50.0f, 100.0f}, {100.0f, 50.0f, 100.0f},
                            {700.0f, 50.0f, -300.0f}, {100.0f, 50.0f, 100.0f}, {-3000.0f, 700.0f, 5000.0f}};
    constexpr size_t placeCount = std::size(places);
    const auto moveAll = [&](size_t round) {
        for (size_t i = 0; i < moving.size(); ++i) {
            moving[i]->world = placement(0.0f, 0.0f, 3.0f, places[round % placeCount] + vec3d(float(i), 0.0f, 0.0f));
            moving[i]->onMoved();
        }
    };
    // Made again as one change behind the movers in their node's list.
    const auto placeStanding = [&] {
        EntityManager::Change change(&manager);
        standing.clear();
        for (int i = 0; i < standingCount; ++i) {
            standing.push_back(std::make_unique<Entity>(manager));
            standing.back()->addStoredMesh(*quad, false, false, nullptr, nullptr);
            standing.back()->world = placement(0.0f, 0.0f, 2.0f, {100.0f + float(i), 5.0f + 0.2f * float(i), 100.0f});
            standing.back()->onMoved();
        }
    };
    for (int i = 0; i < 12; ++i) {
        moving.push_back(std::make_unique<Entity>(manager));
        moving.back()->addStoredMesh(*quad, false, false, nullptr, nullptr);
    }
    moveAll(0);
    placeStanding();

    std::atomic<bool> stop{false};
    std::atomic<int> passes{0}, skipped{0}, wrong{0};
    std::thread physics([&] {
        CollisionQuery query;
        while (!stop.load()) {
            query.boxMin = {95.0f, 4.0f, 95.0f};
            query.boxMax = {105.0f, 6.0f, 105.0f};
            query.triangleCount = 0;
            query.vertexCount = 0;
            if (!manager.collideEntities(query)) {
                ++skipped; // a change was under way
                continue;
            }
            int seen[standingCount] = {};
            for (uint32_t t = 0; t < query.triangleCount; ++t) {
                const int height = int(std::lround((query.vertices.at(int32_t(3 * t))->y - 5.0f) / 0.2f));
                if (height >= 0 && height < standingCount)
                    ++seen[height];
            }
            bool exact = query.triangleCount == 2 * standingCount;
            for (int count : seen)
                exact = exact && count == 2;
            exact ? ++passes : ++wrong;
        }
    });

    // Changes for a second and a half, and on until a hundred passes ran
    // beside them (a minute at most: only passes that stopped take that long).
    const auto start = std::chrono::steady_clock::now();
    const auto changing = [&] {
        const auto spent = std::chrono::steady_clock::now() - start;
        return spent < std::chrono::milliseconds(1500) ||
               (passes.load() + wrong.load() <= 100 && spent < std::chrono::minutes(1));
    };
    for (size_t round = 1; changing(); ++round) {
        moveAll(round);
        if (round % placeCount == 0)
            placeStanding();
        // Parts of another mesh come and go, and its octree record with them.
        if (round % 8 == 0) {
            Entity passing(manager);
            passing.addStoredMesh(*other, false, false, nullptr, nullptr);
            passing.world = placement(0.0f, 0.0f, 1.0f, places[round % placeCount]);
            passing.onMoved();
        }
    }
    stop = true;
    physics.join();
    EXPECT_EQ(wrong.load(), 0) << "of " << passes.load() + wrong.load() << " passes that ran";
    EXPECT_GT(passes.load(), 100) << skipped.load() << " passes found a change under way";
    expectPlaced(manager);
}

// An entity without sub-entities that draws itself joins the list when it
// asks, once; one of another manager does not.
TEST(EntityManagerList, AnEntityWithoutPartsJoinsWhenItAsks)
{
    EntityManager manager, other;
    Counted puddle(manager), stranger(other);
    manager.update();
    EXPECT_EQ(puddle.updates, 0) << "not listed before it asks";
    EXPECT_TRUE(manager.listEntity(puddle));
    EXPECT_TRUE(manager.listEntity(puddle));
    EXPECT_FALSE(manager.listEntity(stranger));
    manager.update();
    EXPECT_EQ(puddle.updates, 1) << "listed once";
    EXPECT_EQ(stranger.updates, 0);
    EXPECT_EQ(manager.entities.count(), 1);
}

TEST(EntityManagerPass, ClassesAndHooksWithoutADevice)
{
    Scene scene(2004, 30);
    Camera camera;
    camera.position = {0.0f, 10.0f, -150.0f};
    camera.setProjection({320, 240});
    camera.update();
    Camera* previous = gCamera;
    gCamera = &camera;
    scene.entities[1]->hidden = 1;
    scene.entities[2]->reflectionMask = 1;

    const auto frame = [&](uint32_t reflection) {
        gDirectGraphics.record.reflectionPass = reflection;
        scene.manager.update();
        scene.manager.render(1);
        gDirectGraphics.record.reflectionPass = 0;
    };
    frame(0);
    frame(1);
    for (auto& e : scene.entities) {
        const int32_t where = camera.frustum.classifyOrientedBox(e->worldBox);
        EXPECT_EQ(e->visibility, uint32_t(where));
        const int shown = where == ConvexVolume::outside || e->hidden ? 0 : e->reflectionMask ? 1 : 2;
        EXPECT_EQ(e->before, shown);
        EXPECT_EQ(e->after, shown);
        EXPECT_EQ(e->updates, 2);
    }
    int outside = 0;
    for (auto& e : scene.entities)
        outside += e->visibility == ConvexVolume::outside;
    EXPECT_GT(outside, 0);
    EXPECT_LT(outside, int(scene.entities.size()));
    // A device frame's passes (its own, the mirror, the effect scene) each
    // bracket a shown entity; the first prepares its drawing, once a frame.
    for (auto& e : scene.entities)
        e->preparedDrawings = 0;
    scene.manager.beginFrame();
    for (uint32_t mirror : {0u, 1u, 0u})
        frame(mirror);
    for (auto& e : scene.entities)
        EXPECT_EQ(e->preparedDrawings, e->visibility == ConvexVolume::outside || e->hidden ? 0 : 1);
    gCamera = previous;
}

