// Static entities without a device: the builder's ".obj" through load and
// save, damaged files, the activation walk and the area queries against
// brute force, cells, pruning and the objects' transforms.
#include "StaticEntityTestSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"

#include "ObjectSamples.h"
#include "StaticObjectWriter.h"

#include "Landscape/HLod.h"
#include "Landscape/Terrain.h"

#include "Render/Camera.h"
#include "Render/SwapChain.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <random>
#include <set>

using namespace StaticTests;
using Octree = StaticEntityManager::Octree;

namespace {

// In a comparable order; names as the packages spell them (they are found
// without regard to case).
std::vector<Record> sorted(std::vector<Record> r)
{
    for (Record& record : r)
        for (char& c : record.package)
            c = char(std::tolower(uint8_t(c)));
    std::sort(r.begin(), r.end());
    return r;
}

void fill(FileArray& bytes, const std::vector<StaticObjectWriter::Object>& objects)
{
    StaticObjectWriter::write(objects, bytes);
    bytes.seek(0, 0);
}

// A manager with its own camera, a creator and the sample's packages.
struct Level
{
    Level()
    {
        manager.camera = &camera;
        manager.creator = &creator;
        creator.entities = &entities;
        for (const wchar_t* name : {L"Camera", L"tree", L"ROCK", L"Gate", L"Marker", L"crate", L"Start", L"Goal", L"PlayerSlot",
                                     L"Nitro", L"RepairKit", L"RocketPack", L"Oil", L"CaptureFlag",
                                     L"PlayerParkingSlot", L"Podium"})
            packages.add(&manager, name);
    }
    ~Level()
    {
        manager.clear();
        StaticEntityManager::deleteOctreeList(true);
    }

    std::vector<StaticEntity*> all()
    {
        std::vector<StaticEntity*> out;
        const auto collect = [&](const auto& self, const Octree* node) -> void {
            if (!node)
                return;
            for (auto* item = node->items.head(); item; item = item->next)
                out.push_back(item->item);
            for (const Octree* child : node->children)
                self(self, child);
        };
        collect(collect, manager.root);
        return out;
    }

    EntityManager entities;
    Camera camera;
    StaticEntityManager manager{nullptr};
    Creator creator;
    Packages packages;
};

// Every node holds entities or children; entities sit in size-1 nodes of
// their own cell.
void expectSoundTree(const StaticEntityManager& manager)
{
    const auto check = [&](const auto& self, const Octree* node) -> void {
        ASSERT_TRUE(node->items.count() > 0 || node->hasChildren()) << "an empty node survived";
        for (auto* item = node->items.head(); item; item = item->next) {
            const StaticEntity& e = *item->item;
            ASSERT_EQ(e.node, node);
            ASSERT_EQ(node->size, 1);
            for (int a = 0; a < 3; ++a) {
                ASSERT_EQ(e.cellKey[a], int32_t(std::floor(e.position[a] / 2048.0f)));
                ASSERT_EQ(node->cells.minimum[a], e.cellKey[a]);
            }
        }
        for (const Octree* child : node->children)
            if (child) {
                ASSERT_EQ(child->parent, node);
                self(self, child);
            }
    };
    if (manager.root)
        check(check, manager.root);
}

struct Collect final : StaticEntityManager::Callback
{
    uint32_t found(StaticEntity& entity) override
    {
        seen.push_back(&entity);
        return stopAfter > 0 && int(seen.size()) >= stopAfter ? 1 : 0;
    }
    std::vector<StaticEntity*> seen;
    int stopAfter = 0;
};

}

TEST(StaticEntities, BuilderFileLoadsAndSavesTheSameRecords)
{
    const auto sample = ObjectSamples::valley();
    FileArray file(1024);
    fill(file, sample);
    const std::vector<Record> written = records(file);
    ASSERT_EQ(written.size(), sample.size());
    EXPECT_TRUE(std::any_of(sample.begin(), sample.end(), [](const auto& o) { return o.state == 254; }));
    EXPECT_TRUE(std::any_of(sample.begin(), sample.end(), [](const auto& o) { return !o.laterTags.empty(); }));

    Level level;
    const int before = TestObject::alive;
    EXPECT_EQ(level.manager.load(file, &level.packages), sample.size()) << "every sample object is placed";
    EXPECT_EQ(TestObject::alive - before, int(sample.size()));
    expectSoundTree(level.manager);

    // A vehicle's tree keeps an object of its own, which is not the level's.
    auto vehicle = std::make_unique<StaticEntityManager::OctreeOwner>();
    vehicle->listNode = StaticEntityManager::furtherOctrees().append(vehicle.get());
    TestObject* carried = new TestObject;
    Package& cart = level.packages.add(&level.manager, L"Cart");
    carried->object = &cart;
    ASSERT_TRUE(Octree::place(vehicle->root, CellBox{{0, 0, 0}, {0, 0, 0}}, 2048.0f, true, carried, carried->node,
                              carried->listNode));

    FileArray saved(1024);
    level.manager.save(saved);
    saved.seek(0, 0);
    ASSERT_GE(saved.size(), 4u);
    EXPECT_EQ(std::memcmp(saved.memory(), "v1.0", 4), 0);
    const std::vector<Record> back = records(saved);
    EXPECT_EQ(sorted(back), sorted(written)) << "the same records, the vehicle's left out";

    // Through the disk: the builder's file in, the manager's file out.
    const std::wstring folder = AppTestFiles::freshFolder(L"objects");
    ASSERT_TRUE(StaticObjectWriter::save(sample, String((folder + L"Valley.obj").c_str())));
    Level fromDisk;
    EXPECT_EQ(fromDisk.manager.load(String((folder + L"Valley.obj").c_str()), &fromDisk.packages), sample.size());
    EXPECT_EQ(fromDisk.manager.load(String((folder + L"Missing.obj").c_str()), &fromDisk.packages), 0u);
    ASSERT_TRUE(fromDisk.manager.save(String((folder + L"Saved.obj").c_str())));
    Level reread;
    EXPECT_EQ(reread.manager.load(String((folder + L"Saved.obj").c_str()), &reread.packages), sample.size());

    // Read back, the saved file holds the same again.
    Level again;
    EXPECT_EQ(again.manager.load(saved, &again.packages), sample.size());
    FileArray twice(1024);
    again.manager.save(twice);
    EXPECT_EQ(sorted(records(twice)), sorted(written));
}

TEST(StaticEntities, RecordsThatPlaceNothingAreFreed)
{
    Level level;
    FileArray empty(64);
    level.manager.save(empty);
    EXPECT_EQ(empty.size(), 4u) << "an empty level is the version mark alone";
    empty.seek(0, 0);
    EXPECT_EQ(level.manager.load(empty, &level.packages), 0u);
    EXPECT_EQ(level.creator.made, 0);

    const int before = TestObject::alive;
    std::vector<StaticObjectWriter::Object> objects(6);
    objects[0].package = String(L"Tree");          // placed
    objects[1].package = String(L"Nowhere");       // no such package
    objects[2].package = String(L"Tree");
    objects[2].position[1] = -FLT_MAX;             // taken out of the level
    objects[3].package = String(L"Tree");
    objects[3].position[0] = std::nanf("");
    objects[4].package = String(L"Tree");
    objects[4].scale = 1.0e30f;
    objects[5].package = String(L"tReE");          // names match without case
    objects[5].position[2] = -3000.0f;
    FileArray bytes(1024);
    fill(bytes, objects);
    // A record of an unknown tag and the end tag: no fields at all.
    const uint8_t bare[2] = {9, 0};
    bytes.seek(int32_t(bytes.size()), 0);
    bytes.write(bare, 2);
    bytes.seek(0, 0);
    EXPECT_EQ(level.manager.load(bytes, &level.packages), 2u);
    EXPECT_EQ(level.creator.made, 7);
    EXPECT_EQ(TestObject::alive - before, 2) << "objects the load did not place are deleted";
    expectSoundTree(level.manager);

    // Without a creator nothing is read, from a stream or a file.
    StaticEntityManager bare2(nullptr);
    bytes.seek(0, 0);
    EXPECT_EQ(bare2.load(bytes, &level.packages), 0u);
    const std::wstring folder = AppTestFiles::freshFolder(L"no-creator");
    ASSERT_TRUE(FileInterface::saveToFile(bytes, String((folder + L"Level.obj").c_str())));
    EXPECT_EQ(bare2.load(String((folder + L"Level.obj").c_str()), &level.packages), 0u);
    EXPECT_EQ(bare2.root, nullptr);
}

// The save gives back the file's records in their order, each with the
// state its record gave, whatever the race set since (always active, out of
// the race). The load tells whether it read the file whole: to its end,
// every record placed.
TEST(StaticEntities, SavesGiveBackTheRecordsInTheirOrderWithTheLevelsStates)
{
    const auto lowered = [](std::vector<Record> r) {
        for (Record& record : r)
            for (char& c : record.package)
                c = char(std::tolower(uint8_t(c)));
        return r;
    };
    FileArray file(1024);
    fill(file, ObjectSamples::valley());
    const std::vector<Record> written = lowered(records(file));
    Level level;
    bool whole = false;
    file.seek(0, 0);
    ASSERT_EQ(level.manager.load(file, &level.packages, &whole), written.size());
    EXPECT_TRUE(whole);
    for (StaticEntity* entity : level.all())
        entity->setState(entity->state ? StaticEntity::instanceFlagged : StaticEntity::alwaysActive);
    FileArray saved(1024);
    level.manager.save(saved);
    saved.seek(0, 0);
    EXPECT_EQ(lowered(records(saved)), written);

    std::vector<StaticObjectWriter::Object> unknown(1);
    unknown[0].package = String(L"Nowhere");
    FileArray other(1024);
    fill(other, unknown);
    const std::vector<uint8_t> sample(file.memory(), file.memory() + file.size());
    for (const std::vector<uint8_t>& bytes :
         {std::vector<uint8_t>(sample.begin(), sample.end() - 3), std::vector<uint8_t>(other.memory(), other.memory() + other.size())}) {
        Level damaged;
        FileArray stream(1024);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        whole = true;
        damaged.manager.load(stream, &damaged.packages, &whole);
        EXPECT_FALSE(whole) << bytes.size();
    }
}

TEST(StaticEntities, DamagedFilesKeepTheSoundRecords)
{
    FileArray sample(1024);
    fill(sample, ObjectSamples::valley());
    const std::vector<uint8_t> good(sample.memory(), sample.memory() + sample.size());
    std::mt19937 random(1901);
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = good;
        switch (round % 4) {
        case 0: bytes.resize(std::uniform_int_distribution<size_t>(0, bytes.size())(random)); break;
        case 1:
            for (int k = 0; k < 6; ++k)
                bytes[std::uniform_int_distribution<size_t>(4, bytes.size() - 1)(random)] = uint8_t(random());
            break;
        case 2: {
            // A name that claims far more bytes than there are.
            const size_t at = std::uniform_int_distribution<size_t>(4, bytes.size() - 4)(random);
            const uint32_t huge = 0x7FFFFFF0u;
            std::memcpy(&bytes[at], &huge, 4);
            break;
        }
        default:
            for (int k = 0; k < 20; ++k)
                bytes.insert(bytes.begin() + std::uniform_int_distribution<ptrdiff_t>(4, ptrdiff_t(bytes.size()))(random),
                             uint8_t(random() % 12));
            break;
        }
        Level level;
        const int before = TestObject::alive;
        FileArray stream(1024);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        const uint32_t placed = level.manager.load(stream, &level.packages);
        EXPECT_EQ(TestObject::alive - before, int(placed)) << round;
        for (StaticEntity* e : level.all()) {
            const Object& o = *static_cast<Object*>(e);
            ASSERT_NE(o.object, nullptr) << round;
            for (int a = 0; a < 3; ++a)
                ASSERT_TRUE(std::isfinite(o.position[a]) && std::fabs(o.position[a]) <= 1.0e7f) << round;
            ASSERT_TRUE(std::isfinite(o.scale) && std::isfinite(o.rotation) && std::isfinite(o.heightOffset));
        }
        expectSoundTree(level.manager);
        if (HasFailure())
            return;
    }
}

TEST(StaticEntities, ActivationFollowsTheCameraAsBruteForceSays)
{
    Level level;
    std::mt19937 random(1902);
    std::uniform_real_distribution<float> coordinate(-9000.0f, 9000.0f), unit(0.0f, 1.0f);
    Package& circle = level.packages.add(&level.manager, L"Circle");
    circle.areaKind = StaticEntityManager::Method::circleArea;
    circle.rangeSq = 400.0f * 400.0f;
    Package& square = level.packages.add(&level.manager, L"Square");
    square.areaKind = StaticEntityManager::Method::squareArea;
    square.halfSize = 300.0f;
    Package& never = level.packages.add(&level.manager, L"Never");
    never.areaKind = 7;
    Package* kinds[3] = {&circle, &square, &never};
    std::vector<TestObject*> objects;
    for (int i = 0; i < 600; ++i) {
        TestObject* o = new TestObject(&level.entities);
        o->setObject(kinds[i % 3]);
        o->setState(i % 17 == 0 ? StaticEntity::alwaysActive : uint8_t(i % 3));
        o->setPosition({coordinate(random), unit(random) * 400.0f - 100.0f, coordinate(random)}, false);
        objects.push_back(o);
    }
    expectSoundTree(level.manager);

    Camera& camera = level.camera;
    camera.range = 1800.0f;
    camera.position = {0.0f, 50.0f, 0.0f};
    level.manager.update(0);
    EXPECT_EQ(level.manager.referencePoint, camera.position) << "the first update always walks";

    const auto expectBruteForce = [&](int step) {
        const vec3d ref = level.manager.referencePoint;
        for (TestObject* o : objects) {
            const float dx = o->position.x - ref.x, dz = o->position.z - ref.z;
            if (dx * dx + dz * dz > camera.range * camera.range)
                continue; // beyond the range of the last walk entities keep their state
            const float rx = o->position.x - ref.x, rz = o->position.z - ref.z;
            bool inside = o->state == StaticEntity::alwaysActive;
            if (o->object == &circle)
                inside = inside || rx * rx + rz * rz < circle.rangeSq;
            if (o->object == &square)
                inside = inside || (std::fabs(rx) < 300.0f && std::fabs(rz) < 300.0f);
            ASSERT_EQ(o->instance != nullptr, inside) << "step " << step << " object " << o->id;
        }
    };
    expectBruteForce(0);
    for (int step = 1; step < 120; ++step) {
        camera.position += vec3d(unit(random) - 0.5f, 0.0f, unit(random) - 0.5f) * 900.0f;
        level.manager.update(0);
        expectBruteForce(step);
        if (HasFailure())
            return;
    }
    EXPECT_GT(LiveInstance::alive, 0);

    // The hundredth of the range: exactly that far is no move, beyond it is.
    TestObject* probe = new TestObject(&level.entities);
    probe->setObject(&square);
    probe->setPosition({1024.0f, 0.0f, 1024.0f}, false);
    camera.position = probe->position + vec3d(290.0f, 0.0f, 0.0f);
    level.manager.update(1);
    ASSERT_NE(probe->instance, nullptr);
    camera.position.x += 18.0f; // 308 from it: outside, but only 18 moved
    level.manager.update(0);
    EXPECT_NE(probe->instance, nullptr) << "18 = 0.01 x 1800 is not above the step";
    camera.position.x += 0.01f;
    level.manager.update(0);
    EXPECT_EQ(probe->instance, nullptr);

    // Cleared, every instance goes with its object.
    level.manager.clear();
    EXPECT_EQ(LiveInstance::alive, 0);
    EXPECT_EQ(level.manager.root, nullptr);
}

TEST(StaticEntities, AWalkAsksTheFarFieldForNewPictures)
{
    // Objects that came alive or went change what the far field shows.
    D3D::Device::SwapChain chain(nullptr);
    StaticEntityManager manager(&chain);
    Camera camera;
    manager.camera = &camera;
    Packages packages;
    TestObject* tree = new TestObject;
    tree->setObject(&packages.add(&manager, L"tree"));
    tree->setPosition({0.0f, 0.0f, 0.0f}, false);
    ASSERT_NE(manager.root, nullptr);
    HLod& farField = *chain.farField;
    farField.rerender = 0;
    manager.update(0);
    EXPECT_EQ(farField.rerender, 1u);
    farField.rerender = 0;
    camera.position.x += 10.0f; // not yet a hundredth of the range
    manager.update(0);
    EXPECT_EQ(farField.rerender, 0u);
    camera.position.x += 10.0f;
    manager.update(0);
    EXPECT_EQ(farField.rerender, 1u);
    manager.clear();
}

TEST(StaticEntities, ActivationAtLoadWalksOnceUntilCleared)
{
    Level level;
    Package& gate = level.packages.add(&level.manager, L"Far");
    gate.rangeSq = 100.0f;
    TestObject* o = new TestObject(&level.entities);
    o->setObject(&gate);
    o->setPosition({500.0f, 0.0f, 0.0f}, false);
    level.camera.position = {0.0f, 0.0f, 0.0f};
    level.manager.activateAtLoad();
    EXPECT_EQ(level.manager.loaded, 1u);
    EXPECT_EQ(level.manager.done, 1.0f);
    EXPECT_EQ(o->instance, nullptr);
    o->setState(StaticEntity::alwaysActive);
    level.manager.activateAtLoad();
    EXPECT_EQ(o->instance, nullptr) << "a second call without a clear does not walk";
    level.manager.update(1);
    ASSERT_NE(o->instance, nullptr) << "state 254 is active far outside its area";

    // State 255 flags the instance; the observer sees it.
    struct Watch final : Object::Observer
    {
        void instanceCreated(StaticEntity::Instance& made) override { seen = &made; }
        StaticEntity::Instance* seen = nullptr;
    } watch;
    TestObject* flagged = new TestObject(&level.entities);
    flagged->observer = &watch;
    flagged->setObject(&gate);
    flagged->setState(StaticEntity::instanceFlagged);
    flagged->setPosition({1.0f, 0.0f, 0.0f}, false);
    level.manager.update(1);
    ASSERT_NE(flagged->instance, nullptr);
    EXPECT_EQ(flagged->instance->flagged, 1u);
    EXPECT_EQ(watch.seen, flagged->instance);
    EXPECT_EQ(o->instance->flagged, 0u);

    // Moving with the instance places it and marks its parts moved.
    LiveInstance& live = *static_cast<LiveInstance*>(flagged->instance);
    flagged->setPosition({3.0f, 1.0f, 2.0f}, true);
    EXPECT_EQ(live.placed, 1);
    EXPECT_EQ(live.world.row(3), flagged->getPosition());
    EXPECT_EQ(flagged->position, vec3d(3.0f, 1.0f, 2.0f));
    flagged->setPosition({4.0f, 1.0f, 2.0f}, false);
    EXPECT_EQ(live.placed, 1);

    // Cleared, the next level's load walks again.
    level.manager.clear();
    EXPECT_EQ(level.manager.loaded, 0u);
    TestObject* inside = new TestObject(&level.entities);
    inside->setObject(&gate);
    inside->setPosition({5.0f, 0.0f, 0.0f}, false);
    TestObject* outside = new TestObject(&level.entities);
    outside->setObject(&gate);
    outside->setPosition({500.0f, 0.0f, 0.0f}, false);
    level.manager.activateAtLoad();
    EXPECT_EQ(level.manager.loaded, 1u);
    EXPECT_NE(inside->instance, nullptr) << "inside its area at the second load";
    EXPECT_EQ(outside->instance, nullptr);
}

TEST(StaticEntities, QueriesAgainstBruteForce)
{
    Level level;
    std::mt19937 random(1903);
    std::uniform_real_distribution<float> coordinate(-7000.0f, 7000.0f), unit(0.0f, 1.0f);
    std::vector<Package*> kinds;
    for (int k = 0; k < 4; ++k)
        kinds.push_back(&level.packages.add(&level.manager, std::to_wstring(k).c_str(), 20.0f + 80.0f * float(k)));
    std::vector<TestObject*> objects;
    for (int i = 0; i < 500; ++i) {
        TestObject* o = new TestObject;
        o->setObject(kinds[size_t(i) % kinds.size()]);
        o->scale = 0.5f + unit(random);
        o->setPosition({coordinate(random), coordinate(random) * 0.05f, coordinate(random)}, false);
        objects.push_back(o);
    }
    // Another tree the queries visit too.
    auto vehicle = std::make_unique<StaticEntityManager::OctreeOwner>();
    vehicle->listNode = StaticEntityManager::furtherOctrees().append(vehicle.get());
    TestObject* carried = new TestObject;
    carried->object = kinds[0];
    carried->position = {100.0f, 0.0f, 100.0f};
    ASSERT_TRUE(Octree::place(vehicle->root, CellBox{{0, 0, 0}, {0, 0, 0}}, 2048.0f, true, carried, carried->node,
                              carried->listNode));
    objects.push_back(carried);

    for (int q = 0; q < 150; ++q) {
        const vec3d centre(coordinate(random), 0.0f, coordinate(random));
        const float radius = 50.0f + 1500.0f * unit(random);

        Collect circle;
        EXPECT_EQ(level.manager.findInCircle({centre.x, centre.z, radius}, circle), 0u);
        std::set<StaticEntity*> want, got(circle.seen.begin(), circle.seen.end());
        for (TestObject* o : objects) {
            const float dx = o->position.x - centre.x, dz = o->position.z - centre.z;
            const float reach = radius + o->radius();
            if (dx * dx + dz * dz <= reach * reach)
                want.insert(o);
        }
        ASSERT_EQ(got, want) << "circle " << q;
        ASSERT_EQ(got.size(), circle.seen.size()) << "each once";

        // The sphere finds every entity inside it, and only those of nodes it meets.
        Collect sphere;
        level.manager.findInSphere({centre, radius}, sphere);
        for (TestObject* o : objects) {
            const bool inside = (o->position - centre).lengthSq() <= radius * radius;
            ASSERT_TRUE(!inside || std::count(sphere.seen.begin(), sphere.seen.end(), o)) << "sphere " << q;
        }
        for (StaticEntity* e : sphere.seen) {
            const float reach = e->node->bounds.radius + radius;
            ASSERT_LE((e->node->bounds.center - centre).lengthSq(), reach * reach);
        }

        // The volume: exactly the positions inside, of one object when asked.
        ConvexVolume volume;
        const vec3d normals[4] = {{1, 0, 0}, {-1, 0, 0}, {0, 0, 1}, {0, 0, -1}};
        for (int p = 0; p < 4; ++p) {
            volume.planes[p].normal = normals[p];
            volume.planes[p].point = centre - normals[p] * radius;
            volume.planes[p].distance = normals[p].dot(volume.planes[p].point);
        }
        volume.count = 4;
        const Package* only = q % 2 ? kinds[size_t(q) % kinds.size()] : nullptr;
        DynArray<StaticEntity*> out(16);
        int32_t count = -1;
        const bool any = level.manager.collectInVolume(volume, out, count, only);
        std::set<StaticEntity*> inVolume;
        for (int32_t i = 0; i < count; ++i)
            inVolume.insert(*out.at(i));
        std::set<StaticEntity*> expected;
        for (TestObject* o : objects)
            if ((!only || o->object == only) && volume.classifyPoint(o->position) != ConvexVolume::outside)
                expected.insert(o);
        ASSERT_EQ(inVolume, expected) << "volume " << q;
        ASSERT_EQ(any, !expected.empty());

        // The box: every entity inside it, none from a node it misses.
        OrientedBox box;
        box.center = centre;
        const float turn = unit(random) * 3.0f;
        box.axes[0] = {std::cos(turn), 0.0f, std::sin(turn)};
        box.axes[1] = {0.0f, 1.0f, 0.0f};
        box.axes[2] = {-std::sin(turn), 0.0f, std::cos(turn)};
        box.halfExtents = {radius, 500.0f, radius * 0.5f};
        SCList<StaticEntity> touching;
        touching.append(objects[0]); // emptied first
        level.manager.collectTouchingBox(box, touching);
        std::set<StaticEntity*> listed;
        for (auto* node = touching.head(); node; node = node->next)
            listed.insert(node->item);
        ASSERT_EQ(size_t(touching.count()), listed.size());
        for (TestObject* o : objects) {
            const vec3d d = o->position - centre;
            bool inside = true;
            for (int a = 0; a < 3; ++a)
                inside = inside && std::fabs(d.dot(box.axes[a])) <= box.halfExtents[a];
            if (inside) {
                ASSERT_TRUE(listed.count(o)) << "box " << q;
            }
        }
        if (HasFailure())
            return;
    }

    // By object, in depth order: the brute force in the same order.
    SCList<StaticEntity> byObject;
    StaticEntityManager::collectByObject(level.manager.root, kinds[2], byObject);
    std::vector<StaticEntity*> order;
    for (StaticEntity* e : level.all())
        if (e->object == kinds[2])
            order.push_back(e);
    std::vector<StaticEntity*> listed;
    for (auto* node = byObject.head(); node; node = node->next)
        listed.push_back(node->item);
    EXPECT_EQ(listed, order);
    EXPECT_GT(listed.size(), 100u);

    // A callback that answers 1 ends the whole query.
    Collect first;
    first.stopAfter = 1;
    level.manager.findInCircle({0.0f, 0.0f, 1.0e6f}, first);
    EXPECT_EQ(first.seen.size(), 1u);
    Octree* own = level.manager.root;
    level.manager.root = nullptr;
    Collect vehicleOnly;
    level.manager.findInSphere({{}, 1.0e6f}, vehicleOnly);
    level.manager.root = own;
    EXPECT_EQ(vehicleOnly.seen, std::vector<StaticEntity*>{carried}) << "further trees are visited";
}

TEST(StaticEntities, CellsFloorBelowZeroAndEmptyNodesArePruned)
{
    Level level;
    Package& rock = level.packages.add(&level.manager, L"Stone");
    struct Case
    {
        float x;
        int32_t key;
    };
    const Case cases[] = {{-1.0f, -1}, {0.0f, 0}, {2047.9f, 0}, {2048.0f, 1}, {-2048.0f, -1}, {-2048.5f, -2}};
    std::vector<TestObject*> objects;
    for (const Case& c : cases) {
        TestObject* o = new TestObject;
        o->setObject(&rock);
        o->setPosition({c.x, -0.5f, 0.0f}, false);
        EXPECT_EQ(o->cellKey[0], c.key) << c.x;
        EXPECT_EQ(o->cellKey[1], -1);
        objects.push_back(o);
    }
    expectSoundTree(level.manager);

    // Within its cell an object keeps its node.
    StaticEntityManager::Octree* node = objects[0]->node;
    objects[0]->setPosition({-2000.0f, -100.0f, 5.0f}, false);
    EXPECT_EQ(objects[0]->node, node);

    // Removed one by one, the tree shrinks to nothing.
    std::mt19937 random(1904);
    std::shuffle(objects.begin(), objects.end(), random);
    for (TestObject* o : objects) {
        o->remove();
        EXPECT_EQ(o->node, nullptr);
        EXPECT_EQ(o->object, nullptr);
        EXPECT_EQ(o->position, vec3d());
        expectSoundTree(level.manager);
        delete o;
    }
    EXPECT_EQ(level.manager.root, nullptr) << "the root goes with the last entity";

    // An object deleted while placed leaves no trace in the tree.
    TestObject* gone = new TestObject;
    gone->setObject(&rock);
    gone->setPosition({10.0f, 0.0f, 10.0f}, false);
    ASSERT_NE(level.manager.root, nullptr);
    delete gone;
    EXPECT_EQ(level.manager.root, nullptr);
}

TEST(StaticEntities, TransformsOfObjects)
{
    Object o;
    o.position = {10.0f, 5.0f, -3.0f};
    o.heightOffset = -0.1f;
    EXPECT_NEAR(o.getPosition().y, 4.9f, 1e-6f);
    EXPECT_EQ(o.getPosition().x, 10.0f);

    struct Case
    {
        float rotation, scale;
        bool unscaled;
        vec3d rows[3];
    };
    const Case cases[] = {
        {0.0f, 2.0f, false, {{2, 0, 0}, {0, 2, 0}, {0, 0, 2}}},
        {0.0f, 2.0f, true, {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}},
        {90.0f, 1.0f, false, {{0, 0, -1}, {0, 1, 0}, {1, 0, 0}}},
        {180.0f, 3.0f, false, {{-3, 0, 0}, {0, 3, 0}, {0, 0, -3}}},
        {-90.0f, 1.0f, false, {{0, 0, 1}, {0, 1, 0}, {-1, 0, 0}}},
    };
    for (const Case& c : cases) {
        o.rotation = c.rotation;
        o.scale = c.scale;
        matrix3d m;
        m.m[3] = 7.0f;
        o.getTransform(m, c.unscaled);
        for (int r = 0; r < 3; ++r)
            EXPECT_NEAR((m.row(r) - c.rows[r]).length(), 0.0f, 1e-5f) << c.rotation << " row " << r;
        EXPECT_EQ(m.row(3), o.getPosition());
        EXPECT_EQ(m.m[15], 1.0f);
    }
}

// An object of a package that stands along the ground takes the ground's
// normal where it stands as its up axis, its first axis level across the
// slope and its third along it, all at its scale; a turn turns it about that
// normal. Without ground, or of a package without the flag, it stands upright.
TEST(StaticEntities, ObjectsOfATerrainAlignedPackageStandAlongTheGround)
{
    struct Ground
    {
        const char* name;
        std::function<float(int32_t, int32_t)> height;
    };
    const Ground grounds[] = {
        {"flat", [](int32_t, int32_t) { return 20000.0f; }},
        {"slope along x", [](int32_t i, int32_t) { return 20000.0f + 150.0f * float(i); }},
        {"slope against z", [](int32_t, int32_t j) { return 20000.0f + 150.0f * float(j); }},
        {"hills", [](int32_t i, int32_t j) {
             return 25000.0f + 9000.0f * std::sin(float(i) * 0.17f) * std::cos(float(j) * 0.11f);
         }},
    };
    Package aligned(nullptr, L"Aligned");
    aligned.terrainAligned = 1;
    Package upright(nullptr, L"Upright");
    for (const Ground& ground : grounds) {
        SCOPED_TRACE(ground.name);
        const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(TerrainTestMaps::heightMap(128, ground.height));
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        ASSERT_TRUE(gTerrain.load(nullptr, TerrainTestMaps::settings(), stream));
        const vec3d centre = gTerrain.box.center;
        for (const vec3d offset : {vec3d{0.0f, 0.0f, 0.0f}, vec3d{37.0f, 0.0f, -52.0f}, vec3d{-61.0f, 0.0f, 18.0f}})
            for (const float rotation : {0.0f, 90.0f, -33.0f})
                for (const bool unscaled : {false, true}) {
                    Object o;
                    o.object = &aligned;
                    o.position = centre + offset;
                    o.scale = 2.0f;
                    o.rotation = rotation;
                    matrix3d m;
                    o.getTransform(m, unscaled);
                    vec3d normal;
                    gTerrain.getHeight(o.position.x, o.position.z, 3, normal);
                    normal = normal.normalised();
                    const float s = unscaled ? 1.0f : 2.0f;
                    const vec3d across = m.row(0), up = m.row(1), along = m.row(2);
                    EXPECT_NEAR((up - normal * s).length(), 0.0f, 1e-4f) << rotation;
                    for (const vec3d& axis : {across, up, along})
                        EXPECT_NEAR(axis.length(), s, 1e-4f) << rotation;
                    EXPECT_NEAR(across.dot(up), 0.0f, 1e-4f) << rotation;
                    EXPECT_NEAR(across.dot(along), 0.0f, 1e-4f) << rotation;
                    EXPECT_NEAR(up.dot(along), 0.0f, 1e-4f) << rotation;
                    EXPECT_NEAR(across.cross(up).dot(along), s * s * s, 1e-3f) << "right-handed, " << rotation;
                    if (rotation == 0.0f) {
                        EXPECT_NEAR(across.z, 0.0f, 1e-5f) << "level across the slope";
                        EXPECT_GT(across.x, 0.0f);
                    }
                    EXPECT_EQ(m.row(3), o.getPosition());

                    // Of a package that does not ask for it, the same object stands upright.
                    o.object = &upright;
                    matrix3d straight;
                    o.getTransform(straight, unscaled);
                    EXPECT_NEAR(straight.row(1).x, 0.0f, 1e-6f);
                    EXPECT_NEAR(straight.row(1).y, s, 1e-6f);
                    EXPECT_NEAR(straight.row(1).z, 0.0f, 1e-6f);
                    o.object = nullptr;
                }
        gTerrain.clear();
    }
    // Without ground the flag leaves it upright.
    Object o;
    o.object = &aligned;
    o.scale = 3.0f;
    matrix3d m;
    o.getTransform(m, false);
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(m.at(r, c), r == c ? 3.0f : 0.0f) << r << c;
    o.object = nullptr;
}

// The circle query answers from each node's ground slots. After every kind
// of change it finds what a walk over the entities themselves finds, in the
// same order: a move within a cell or across one, another object, a scale
// set before a move, removal, deletion, a package whose radius changed and
// a newcomer. A move within a cell renews the entity's own slot.
TEST(StaticEntities, CircleQueryFollowsEveryChangeInWalkOrder)
{
    Level level;
    std::mt19937 random(5205);
    std::uniform_real_distribution<float> coordinate(-3000.0f, 3000.0f), unit(0.0f, 1.0f);
    std::vector<Package*> kinds;
    for (int k = 0; k < 3; ++k)
        kinds.push_back(&level.packages.add(&level.manager, (L"Kind" + std::to_wstring(k)).c_str(), 15.0f + 40.0f * float(k)));
    std::vector<TestObject*> objects;
    const auto place = [&](const vec3d& at) {
        TestObject* o = new TestObject;
        o->setObject(kinds[random() % kinds.size()]);
        o->scale = 0.5f + unit(random);
        o->setPosition(at, false);
        objects.push_back(o);
        return o;
    };
    for (int i = 0; i < 300; ++i)
        place({coordinate(random), 0.0f, coordinate(random)});

    // The answer of a walk that asks every entity itself.
    const auto walked = [&](float x, float z, float radius) {
        std::vector<StaticEntity*> out;
        const auto visit = [&](const auto& self, const Octree* node) -> void {
            if (!node)
                return;
            const float dx = node->bounds.center.x - x, dz = node->bounds.center.z - z;
            const float nodeReach = node->bounds.radius + radius;
            if (dx * dx + dz * dz > nodeReach * nodeReach)
                return;
            for (auto* item = node->items.head(); item; item = item->next) {
                StaticEntity& e = *item->item;
                const float ex = e.position.x - x, ez = e.position.z - z, reach = radius + e.radius();
                if (ex * ex + ez * ez <= reach * reach)
                    out.push_back(&e);
            }
            for (const Octree* child : node->children)
                self(self, child);
        };
        visit(visit, level.manager.root);
        return out;
    };
    // Queries around at, and a few anywhere.
    const auto agree = [&](const vec3d& at, const char* change) {
        for (int q = 0; q < 12; ++q) {
            const bool aroundIt = q < 8;
            const float x = aroundIt ? at.x + (unit(random) - 0.5f) * 300.0f : coordinate(random);
            const float z = aroundIt ? at.z + (unit(random) - 0.5f) * 300.0f : coordinate(random);
            const float radius = aroundIt ? 5.0f + 150.0f * unit(random) : 50.0f + 1500.0f * unit(random);
            Collect circle;
            level.manager.findInCircle({x, z, radius}, circle);
            ASSERT_EQ(circle.seen, walked(x, z, radius)) << change << ", query " << q;
            if (!circle.seen.empty()) {
                Collect first;
                first.stopAfter = 1;
                level.manager.findInCircle({x, z, radius}, first);
                ASSERT_EQ(first.seen, std::vector<StaticEntity*>{circle.seen.front()}) << change;
            }
        }
    };
    agree({}, "placed");

    for (int round = 0; round < 40 && !HasFailure(); ++round) {
        TestObject* o = objects[random() % objects.size()];
        const vec3d was = o->position;
        switch (round % 8) {
        case 0: {
            // Within the cell, as a driving quad or a flying rocket moves.
            Octree* node = o->node;
            const vec3d to(std::floor(was.x / 2048.0f) * 2048.0f + 1024.0f + (unit(random) - 0.5f) * 2000.0f, was.y,
                           std::floor(was.z / 2048.0f) * 2048.0f + 1024.0f + (unit(random) - 0.5f) * 2000.0f);
            o->setPosition(to, false);
            ASSERT_EQ(o->node, node);
            agree(to, "moved within its cell");
            o->setPosition(was, false);
            EXPECT_TRUE(o->node->ground.isValid()) << "a move within the cell renews its own slot";
            break;
        }
        case 1: {
            const vec3d to = was + vec3d(2048.0f * float(1 + random() % 2), 0.0f, -2048.0f);
            o->setPosition(to, false);
            agree(to, "moved to another cell");
            agree(was, "left its cell");
            break;
        }
        case 2:
            o->setObject(kinds[(std::find(kinds.begin(), kinds.end(), o->object) - kinds.begin() + 1) % kinds.size()]);
            agree(was, "shows another object");
            break;
        case 3:
            o->scale *= 3.0f;
            o->setPosition(was, false);
            agree(was, "scaled, then placed");
            break;
        case 4:
            o->remove();
            agree(was, "removed");
            o->setObject(kinds[0]);
            o->setPosition(was, false);
            agree(was, "placed again");
            break;
        case 5:
            objects.erase(std::find(objects.begin(), objects.end(), o));
            delete o;
            agree(was, "deleted");
            break;
        case 6:
            kinds[round % kinds.size()]->radius_ *= 1.5f;
            agree(was, "a package's radius grew");
            break;
        case 7:
            place(was + vec3d(5.0f, 0.0f, 5.0f));
            agree(was, "a newcomer beside it");
            break;
        }
    }
}
