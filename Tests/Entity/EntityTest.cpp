// Entities and stored meshes without a device: sharing by name, tree
// ownership, boxes and cells, placement in the mesh octrees, and the
// handshake between entity changes and the physics thread's contact pass.
#include "EntityTestSupport.h"

#include "Entity/CollisionQuery.h"

#include <atomic>
#include <chrono>
#include <cfloat>
#include <thread>

using namespace EntityTests;
using Entity = EntityManager::Entity;
using StoredMesh = EntityManager::StoredMesh;

namespace {

std::vector<vec3d> cube(float half, const vec3d& centre = {})
{
    std::vector<vec3d> corners;
    for (float s : {-half, half}) {
        corners.push_back(centre + vec3d(s, -half, -half));
        corners.push_back(centre + vec3d(s, half, -half));
        corners.push_back(centre + vec3d(s, half, half));
    }
    return corners;
}

TEST(StoredMesh, SharedByNameWithOneTreeOwner)
{
    EntityManager manager;
    const int before = storedMeshCount();
    auto rocks = meshOf(L"rocks", cube(1.0f));
    auto rock = meshOf(L"rock", cube(2.0f));
    Entity a(manager), b(manager);

    // A source without a tree: the stored mesh builds one and takes it.
    rocks->getBounds()->radiusSq = 3.0f;
    EntityManager::SubEntity* first = a.addStoredMesh(*rocks, false, false, nullptr, nullptr);
    ASSERT_NE(first, nullptr);
    StoredMesh& rocksMesh = first->mesh();
    EXPECT_EQ(rocks->getTriangleTree(), nullptr) << "the tree has one owner";
    EXPECT_TRUE(rocksMesh.ownsTree);
    ASSERT_NE(rocksMesh.tree, nullptr);
    EXPECT_EQ(rocksMesh.box.center, vec3d());
    EXPECT_EQ(rocksMesh.box.halfExtents, vec3d(1.0f, 1.0f, 1.0f));
    EXPECT_EQ(rocksMesh.box.radius, 1.0f);
    EXPECT_EQ(rocksMesh.box.radiusSq, 3.0f) << "the bounds' squared radius";
    ASSERT_NE(rocksMesh.uvs, nullptr);
    EXPECT_EQ(rocksMesh.uvs[4].x, 4.0f);

    // Names compare by length first: "rock" is not "rocks".
    MeshTools::buildTriangleTree(*rock);
    const MeshTools::BinaryTiangleTree* rockTree = rock->getTriangleTree();
    EntityManager::SubEntity* second = b.addStoredMesh(*rock, false, false, nullptr, nullptr);
    StoredMesh& rockMesh = second->mesh();
    EXPECT_NE(&rockMesh, &rocksMesh);
    EXPECT_EQ(StoredMesh::findByName(String(L"rock")), &rockMesh);
    EXPECT_EQ(rockMesh.tree, rockTree) << "a source's own tree is shared";
    EXPECT_FALSE(rockMesh.ownsTree);

    // The same name again shares; force-new makes another copy.
    EXPECT_EQ(&b.addStoredMesh(*rocks, false, false, nullptr, nullptr)->mesh(), &rocksMesh);
    StoredMesh& copy = a.addStoredMesh(*rock, true, false, nullptr, nullptr)->mesh();
    EXPECT_NE(&copy, &rockMesh);
    EXPECT_EQ(storedMeshCount(), before + 3);
    EXPECT_EQ(manager.meshOctrees.count(), 3);

    // Taking the tree over clears the source's; a rebuild frees only its own.
    copy.build(*rock, true);
    EXPECT_EQ(rock->getTriangleTree(), nullptr);
    EXPECT_EQ(copy.tree, rockTree);
    EXPECT_TRUE(copy.ownsTree);
    copy.build(*rock, false);
    EXPECT_EQ(rock->getTriangleTree(), nullptr);
    EXPECT_NE(copy.tree, nullptr);
    EXPECT_TRUE(copy.ownsTree);

    // The last record of a mesh deletes it; a shared one lives on.
    a.clear();
    EXPECT_EQ(storedMeshCount(), before + 2) << "the forced copy went with its record";
    EXPECT_EQ(StoredMesh::findByName(String(L"rocks")), &rocksMesh) << "b still uses it";
    b.clear();
    EXPECT_EQ(storedMeshCount(), before);
    EXPECT_EQ(manager.meshOctrees.count(), 0);
}

TEST(StoredMesh, ReleaseAllEmptiesTheList)
{
    auto source = meshOf(L"loose", cube(1.0f));
    const int before = storedMeshCount();
    new StoredMesh(*source, false);
    new StoredMesh(*source, false);
    EXPECT_EQ(storedMeshCount(), before + 2);
    StoredMesh::releaseAll();
    EXPECT_EQ(storedMeshCount(), 0);
    EXPECT_EQ(StoredMesh::findByName(String(L"loose")), nullptr);
}

TEST(Entity, BoxesCellsAndPlacement)
{
    EntityManager manager;
    Entity entity(manager);
    EXPECT_FALSE(entity.cells.isPlaced());
    // A new entity's world box: at the origin, no extent, identity axes.
    EXPECT_EQ(entity.worldBox.center, vec3d());
    EXPECT_EQ(entity.worldBox.halfExtents, vec3d());
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(entity.worldBox.axes[k], vec3d(k == 0, k == 1, k == 2)) << k;
    auto small = meshOf(L"small", cube(1.0f, {2.0f, 0.0f, 0.0f}));
    auto large = meshOf(L"large", cube(3.0f));
    EntityManager::SubEntity* sub = entity.addStoredMesh(*small, false, false, nullptr, nullptr);
    EXPECT_EQ(entity.localBox.minimum, vec3d(1.0f, -1.0f, -1.0f)) << "the first mesh replaces the empty box";
    EXPECT_EQ(entity.localBox.maximum, vec3d(3.0f, 1.0f, 1.0f));
    entity.addStoredMesh(*large, false, false, nullptr, nullptr);
    EXPECT_EQ(entity.localBox.minimum, vec3d(-3.0f, -3.0f, -3.0f)) << "the second extends it";
    EXPECT_EQ(entity.localBox.maximum, vec3d(3.0f, 3.0f, 3.0f));
    EXPECT_EQ(entity.localBox.center, vec3d());
    EXPECT_EQ(manager.entities.count(), 1);
    expectPlaced(manager);

    // Turned a quarter about y, doubled and moved: the world boxes follow.
    entity.world = placement(1.5707964f, 0.0f, 2.0f, {1000.0f, 10.0f, -700.0f});
    entity.onMoved();
    EXPECT_EQ(entity.changeCount, 1u);
    EXPECT_NEAR(entity.worldBox.halfExtents.x, 6.0f, 1e-4f);
    EXPECT_NEAR(entity.worldBounds.minimum.x, 994.0f, 1e-3f);
    EXPECT_NEAR(entity.worldBounds.maximum.z, -694.0f, 1e-3f);
    const int32_t expected[6] = {1, 0, -2, 1, 0, -2};
    for (int a = 0; a < 3; ++a) {
        EXPECT_EQ(entity.cells.minimum[a], expected[a]);
        EXPECT_EQ(entity.cells.maximum[a], expected[a + 3]);
    }
    expectPlaced(manager);

    // Within its cells: the boxes move, no link changes.
    const EntityManager::Octree* node = sub->node;
    const auto* entry = sub->nodeEntry;
    entity.world.at(3, 0) = 1010.0f;
    entity.onMoved();
    EXPECT_NEAR(entity.worldBounds.minimum.x, 1004.0f, 1e-3f);
    EXPECT_EQ(sub->node, node);
    EXPECT_EQ(sub->nodeEntry, entry);

    // Far away: relinked, and the old nodes pruned.
    entity.world.at(3, 0) = -90000.0f;
    entity.onMoved();
    EXPECT_NE(sub->node, node);
    expectPlaced(manager);
    EXPECT_EQ(entity.moved, 0u) << "no own matrix moved";

    // A coordinate no float cell can hold is clamped, never a runaway tree.
    for (float x : {FLT_MAX, -FLT_MAX, NAN, 0.0f}) {
        entity.world.at(3, 0) = x;
        entity.onMoved();
        expectPlaced(manager);
    }
}

TEST(Entity, OwnMatricesFollowTheEntityAndReportMoves)
{
    EntityManager manager;
    Entity entity(manager);
    auto wheel = meshOf(L"wheel", cube(0.5f));
    EntityManager::SubEntity* own = entity.addStoredMesh(*wheel, false, true, nullptr, nullptr);
    EXPECT_EQ(own->world, &own->own);
    EXPECT_EQ(entity.localBox.maximum, vec3d()) << "an own-matrix part leaves the local box";
    own->local.at(3, 0) = 4.0f;
    entity.world.at(3, 1) = 2.0f;
    entity.onMoved();
    EXPECT_EQ(entity.moved, 1u);
    EXPECT_EQ(own->own.at(3, 0), 4.0f);
    EXPECT_EQ(own->own.at(3, 1), 2.0f);
    EXPECT_NEAR(entity.worldBounds.maximum.x, 4.5f, 1e-5f) << "the part's box bounds the entity";
    entity.moved = 0;
    entity.onMoved();
    EXPECT_EQ(entity.moved, 0u) << "an unchanged matrix does not move";
    EXPECT_EQ(own->moved, 0u);
    entity.markSubEntitiesMoved();
    EXPECT_EQ(own->moved, 1u);

    // A part that no longer follows keeps the matrix it was given.
    own->followsEntity = 0;
    entity.world.at(3, 1) = 50.0f;
    entity.onMoved();
    EXPECT_EQ(own->own.at(3, 1), 2.0f);

    // Clearing resets the entity for reuse: a turned world box goes back to
    // the unit axes, empty at the origin, and the reflection mask to 0.
    entity.hidden = 1;
    entity.reflectionMask = 1;
    entity.worldBox.axes[0] = {0.0f, 0.0f, 2.0f};
    entity.worldBox.axes[1] = {0.0f, 3.0f, 0.0f};
    entity.worldBox.axes[2] = {-4.0f, 0.0f, 0.0f};
    entity.worldBox.center = {1.0f, 2.0f, 3.0f};
    entity.worldBox.halfExtents = {1.0f, 1.0f, 1.0f};
    entity.clear();
    EXPECT_EQ(entity.worldBox.axes[0], vec3d(1.0f, 0.0f, 0.0f));
    EXPECT_EQ(entity.worldBox.axes[1], vec3d(0.0f, 1.0f, 0.0f));
    EXPECT_EQ(entity.worldBox.axes[2], vec3d(0.0f, 0.0f, 1.0f));
    EXPECT_EQ(entity.worldBox.center, vec3d());
    EXPECT_EQ(entity.worldBox.halfExtents, vec3d());
    EXPECT_EQ(entity.reflectionMask, 0u);
    EXPECT_EQ(entity.subEntities.count(), 0);
    EXPECT_FALSE(entity.cells.isPlaced());
    EXPECT_EQ(entity.hidden, 0u);
    EXPECT_EQ(entity.changeCount, 0u);
    EXPECT_EQ(entity.visibility, Entity::unseen);
    EXPECT_EQ(manager.meshOctrees.count(), 0);
    EXPECT_NE(entity.addStoredMesh(*wheel, false, false, nullptr, nullptr), nullptr);
}

TEST(EntityManager, OutlivedEntitiesAreEmptiedAndDetached)
{
    auto mesh = meshOf(L"orphan", cube(1.0f));
    const int before = storedMeshCount();
    auto manager = std::make_unique<EntityManager>();
    Entity entity(*manager);
    entity.addStoredMesh(*mesh, false, false, nullptr, nullptr);
    manager.reset();
    EXPECT_EQ(entity.manager, nullptr);
    EXPECT_EQ(entity.subEntities.count(), 0);
    EXPECT_EQ(storedMeshCount(), before);
    EXPECT_EQ(entity.addStoredMesh(*mesh, false, false, nullptr, nullptr), nullptr);
}

// The physics thread runs contact passes while the main thread clears and
// refills entities: while a pass is inside, no change may be under way.
TEST(EntityManager, ClearAndTheContactPassNeverOverlap)
{
    EntityManager manager;
    std::mt19937 random(7);
    auto meshA = randomMesh(L"clearA", 40, random, 4.0f);
    auto meshB = randomMesh(L"clearB", 40, random, 4.0f);
    std::vector<std::unique_ptr<Entity>> entities;
    for (int i = 0; i < 8; ++i)
        entities.push_back(std::make_unique<Entity>(manager));
    const auto fill = [&](Entity& entity, int i) {
        EntityManager::Change change(&manager);
        entity.addStoredMesh(i % 2 ? *meshA : *meshB, false, false, nullptr, nullptr);
        entity.addStoredMesh(*meshB, false, false, nullptr, nullptr);
        entity.world.at(3, 0) = float(i * 3);
        entity.onMoved();
    };
    for (int i = 0; i < 8; ++i)
        fill(*entities[size_t(i)], i);

    // What the main thread changes: it may only change while no pass runs.
    const auto census = [&] {
        int parts = 1000 * manager.meshOctrees.count();
        for (auto* node = manager.entities.head(); node; node = node->next)
            parts += node->item->subEntities.count();
        return parts;
    };
    std::atomic<bool> stop{false}, finished{false};
    std::atomic<int> passes{0}, overlaps{0}, withTriangles{0};
    std::thread physics([&] {
        CollisionQuery query;
        EntityManager::MeshOctree::ContactScratch scratch;
        query.boxMin = {-50.0f, -50.0f, -50.0f};
        query.boxMax = {50.0f, 50.0f, 50.0f};
        while (!stop.load()) {
            // Bursts of passes, then a pause, as simulator steps come.
            for (int burst = 0; burst < 8; ++burst) {
                if (!manager.beginContactPass())
                    continue;
                // Counts read safely whatever happens; the walk only runs
                // while they hold still.
                const int before = census();
                bool steady = true;
                for (int spin = 0; spin < 40 && steady; ++spin)
                    steady = census() == before;
                query.triangleCount = query.vertexCount = 0;
                if (steady)
                    for (auto* node = manager.meshOctrees.head(); node; node = node->next)
                        node->item->collide(query, scratch);
                if (!steady || census() != before)
                    ++overlaps;
                manager.endContactPass();
                withTriangles += query.triangleCount > 0;
                ++passes;
            }
            const auto pause = std::chrono::steady_clock::now() + std::chrono::microseconds(300);
            while (std::chrono::steady_clock::now() < pause)
                std::this_thread::yield();
        }
        finished = true;
    });
    // Changes go on until many passes ran beside them (a minute at most:
    // only passes that stopped take that long, however busy the machine).
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    for (int round = 0; round < 3000 || passes.load() < 400; ++round) {
        const int i = round % 8;
        entities[size_t(i)]->clear();
        fill(*entities[size_t(i)], i);
        if (std::chrono::steady_clock::now() > limit)
            break;
    }
    stop = true;
    // A pass that walked into a change may never come back.
    const auto patience = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!finished.load() && std::chrono::steady_clock::now() < patience)
        std::this_thread::yield();
    if (!finished.load()) {
        physics.detach();
        FAIL() << "the contact pass did not return";
    }
    physics.join();
    EXPECT_GE(passes.load(), 400);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_GT(withTriangles.load(), 0);
    EXPECT_EQ(manager.changing.load(), 0u);

    // A change under way keeps the pass out, and nested changes too.
    {
        EntityManager::Change outer(&manager);
        {
            EntityManager::Change inner(&manager);
        }
        EXPECT_FALSE(manager.beginContactPass());
        EXPECT_EQ(manager.physicsBusy.load(), 0u);
    }
    EXPECT_TRUE(manager.beginContactPass());
    manager.endContactPass();
}

}
