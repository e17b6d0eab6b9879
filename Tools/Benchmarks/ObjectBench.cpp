// Prints what dynamic objects take on one core (no device, no physics
// thread): a frame of 300 objects with two object functions each (update,
// prepare and the render forwarding), building one object of a package of
// three meshes with a rigid body, finding a function by its flag, and the
// race's object functions: a vehicle camera step with its ground query, 100
// pick-up updates, marking a gate, an oil puddle's update while it grows and
// once it is final, 32 wheel tests against two puddles, and a flying
// rocket's update among 300 objects and 500 placed ones; a frame of 40
// bushes no vehicle touches, 20 spins and two marked gates of four flares,
// and 8 vehicles' inventories among all the placed objects and among 500 of
// them. Minimum and median of several runs; nothing is asserted.
#include "Objects/Bush.h"
#include "Objects/CollectGate.h"
#include "Objects/DynObject.h"
#include "Objects/Inventory.h"
#include "Objects/LensFlare.h"
#include "Objects/ObjectPackage.h"
#include "Objects/OilPuddle.h"
#include "Objects/Rocket.h"
#include "Objects/Spin.h"
#include "Objects/VehicleCamera.h"

#include "BenchFigures.h"
#include "ObjectPackageSamples.h"
#include "ObjectPackageWriter.h"
#include "PackagePartSamples.h"
#include "TerrainMapWriter.h"

#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/FileArray.h"
#include "Core/Timer.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// An instance with a little state to touch in its per-frame calls.
class Counter final : public ObjectFuncInstInterface
{
public:
    void frameStep() override { ++steps; }
    void update() override { ++updates; }
    void beforeRender(const matrix3d& transform) override { sum += transform.m[12]; }
    uint32_t steps = 0, updates = 0;
    float sum = 0.0f;
};

// The race clock of the puddles: a spill's 500 ms pass at once.
DWORD benchClock = 0;
DWORD WINAPI readBenchClock()
{
    return benchClock;
}

// A puddle dropped at at by dropper driving along +z: 15 growing points
// between its frozen ends.
ObjPkgManager::Functions::OilPuddle::Instance* dropPuddle(ObjPkgManager& packages, EntityManager::Entity& dropper,
                                                          const vec3d& at)
{
    Object* placed = packages.createObject(packages.findPackage(String(L"OilPuddle")), at, 1.0f);
    placed->instance = placed->createInstance();
    auto* object = dynamic_cast<DynObject*>(placed->instance);
    auto* puddle = dynamic_cast<ObjPkgManager::Functions::OilPuddle::Instance*>(
        object->functions->find(ObjPkgManager::Functions::OilPuddle::flag)->instance);
    dropper.world = matrix3d::identity();
    dropper.world.setRow(3, at);
    puddle->source = &dropper;
    puddle->spill(true);
    for (int i = 0; i < 15; ++i) {
        dropper.world.m[14] += 9.5f;
        puddle->spill(false);
    }
    puddle->spill(true);
    puddle->spillEnded = 1;
    return puddle;
}

String benchFolder()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const String folder = String(temp) + L"KorvantaObjectBench";
    CreateDirectoryW(folder.text(), nullptr);
    return folder.addBackslash();
}

}

int main()
{
    const String folder = benchFolder();
    for (const auto& [name, package] : ObjectPackageSamples::all())
        ObjectPackageWriter::save(package, folder + name);
    // Three meshes with geometry and the crate's mass.
    ObjectPackageWriter::Package three = ObjectPackageSamples::crate();
    for (const char* name : {"BenchBoxB", "BenchBoxC"}) {
        PackagePartWriter::Mesh mesh = PackagePartSamples::box();
        mesh.name = name;
        three.meshes.push_back(mesh);
    }
    ObjectPackageWriter::save(three, folder + L"Three.teo");
    // A race vehicle's stand-in: a box with the inventory.
    ObjectPackageWriter::Package kart;
    kart.meshes.push_back(ObjectPackageSamples::unitBox("BenchKart", {0.0f, 0.5f, 0.0f}, 1.0f));
    FunctionsRecordWriter::Record kartFunctions;
    kartFunctions.inventory = FunctionsRecordWriter::Inventory{};
    kart.functions = kartFunctions;
    ObjectPackageWriter::save(kart, folder + L"Kart.teo");

    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    ObjPkgManager& packages = scene.objectPackages;
    packages.loadFolder(folder);
    packages.buildPackages();
    chain.entities->physicsManager->start(128);

    std::vector<DynObject*> objects;
    for (int i = 0; i < 300; ++i) {
        Object* placed =
            packages.createObject(packages.findPackage(String(L"Camera")), {float(i % 20) * 40.0f, 0.0f, float(i / 20) * 40.0f}, 1.0f);
        placed->instance = placed->createInstance();
        auto* object = dynamic_cast<DynObject*>(placed->instance);
        object->functions->add(0x1, new Counter);
        object->functions->add(0x8, new Counter);
        objects.push_back(object);
    }
    const BenchFigures::Spread frame = BenchFigures::repeat(15, [&] {
        constexpr int frames = 200;
        const double start = now();
        for (int f = 0; f < frames; ++f)
            for (DynObject* object : objects) {
                object->update();
                object->prepare();
                object->beforeRender();
                object->afterRender();
            }
        return (now() - start) / frames;
    });
    BenchFigures::print("a frame of 300 objects, two functions each", frame, 1.0e6, "us");
    std::printf("%52s (budget 30 us)\n", "");

    ObjPkgManager::Package* threeMeshes = packages.findPackage(String(L"Three"));
    const BenchFigures::Spread build = BenchFigures::repeat(15, [&] {
        constexpr int builds = 50;
        double spent = 0.0;
        for (int i = 0; i < builds; ++i) {
            const double start = now();
            Object* placed = packages.createObject(threeMeshes, {float(i) * 50.0f, 0.0f, -500.0f}, 1.0f);
            placed->instance = placed->createInstance();
            spent += now() - start;
            // Its body goes back to the budget for the next.
            placed->destroyInstance(placed->instance);
            placed->instance = nullptr;
        }
        return spent / builds;
    });
    BenchFigures::print("building one object, three meshes and a body", build, 1000.0, "ms");
    std::printf("%52s (budget 0.5 ms)\n", "");

    DynObject::FunctionManager& functions = *objects.front()->functions;
    volatile uint32_t found = 0;
    const BenchFigures::Spread find = BenchFigures::repeat(15, [&] {
        constexpr int finds = 100000;
        const double start = now();
        for (int i = 0; i < finds; ++i)
            found = found + (functions.find(i & 1 ? 0x8 : 0x1) != nullptr);
        return (now() - start) / finds;
    });
    BenchFigures::print("find by flag, two functions", find, 1.0e9, "ns");
    std::printf("%52s (budget 20 ns)\n", "");

    // Rolling ground of 256 x 256 samples for the camera's height queries.
    TerrainMapWriter::Map map;
    map.size = 256;
    for (int i = 0; i < map.size; ++i)
        for (int j = 0; j < map.size; ++j)
            map.heights.push_back(uint16_t(25000.0f + 12000.0f * std::sin(float(i) * 0.11f) * std::cos(float(j) * 0.07f)));
    FileArray mapFile(1 << 16);
    TerrainMapWriter::write(map, mapFile);
    mapFile.seek(0, 0);
    Terrain::Settings ground;
    ground.horizontalScale = 3.0f;
    ground.verticalScale = 1.75f;
    gTerrain.load(nullptr, ground, mapFile);
    gFrameFactor.store(1.0f);

    Object* quadPlaced = packages.createObject(packages.findPackage(String(L"Camera")), gTerrain.box.center, 1.0f);
    quadPlaced->instance = quadPlaced->createInstance();
    auto* quad = dynamic_cast<DynObject*>(quadPlaced->instance);
    auto* camera = new ObjPkgManager::Functions::VehicleCamera(&chain, quad);
    quad->functions->add(0x4, camera);
    const BenchFigures::Spread cameraStep = BenchFigures::repeat(15, [&] {
        constexpr int frames = 20000;
        const double start = now();
        for (int f = 0; f < frames; ++f) {
            // The quad drives a circle, so the chase point moves over the ground.
            const float a = float(f) * 0.01f;
            quad->previousPosition = quad->world.row(3);
            quad->world.setRow(3, gTerrain.box.center + vec3d{std::cos(a) * 60.0f, 0.0f, std::sin(a) * 60.0f});
            quad->world.setRow(2, {-std::sin(a), 0.0f, std::cos(a)});
            quad->world.setRow(0, {std::cos(a), 0.0f, std::sin(a)});
            camera->frameStep();
        }
        return (now() - start) / frames;
    });
    BenchFigures::print("vehicle camera step with its ground query", cameraStep, 1.0e6, "us");
    std::printf("%52s (budget 1 us)\n", "");

    std::vector<ObjPkgManager::Functions::Collect::Instance*> items;
    for (int i = 0; i < 100; ++i) {
        Object* placed =
            packages.createObject(packages.findPackage(String(L"Nitro")), {float(i % 10) * 20.0f, 0.0f, float(i / 10) * 20.0f}, 1.0f);
        placed->instance = placed->createInstance();
        auto* item = dynamic_cast<DynObject*>(placed->instance);
        items.push_back(dynamic_cast<ObjPkgManager::Functions::Collect::Instance*>(item->functions->find(0x8)->instance));
    }
    // Every third item taken, so that the updates meet all three states.
    for (size_t i = 0; i < items.size(); i += 3)
        items[i]->collect();
    const BenchFigures::Spread collectStep = BenchFigures::repeat(15, [&] {
        constexpr int frames = 2000;
        const double start = now();
        for (int f = 0; f < frames; ++f)
            for (auto* item : items)
                item->update();
        return (now() - start) / frames;
    });
    BenchFigures::print("100 pick-up updates", collectStep, 1.0e6, "us");
    std::printf("%52s (budget 5 us)\n", "");

    Object* gatePlaced = packages.createObject(packages.findPackage(String(L"Gate")), {0.0f, 0.0f, 400.0f}, 1.0f);
    gatePlaced->instance = gatePlaced->createInstance();
    auto* gate = dynamic_cast<ObjPkgManager::Functions::Gate::Instance*>(
        dynamic_cast<DynObject*>(gatePlaced->instance)->functions->find(0x40)->instance);
    const BenchFigures::Spread mark = BenchFigures::repeat(15, [&] {
        constexpr int marks = 100000;
        const double start = now();
        for (int i = 0; i < marks; ++i)
            gate->setMarked((i & 1) != 0);
        return (now() - start) / marks;
    });
    BenchFigures::print("marking a gate", mark, 1.0e6, "us");
    std::printf("%52s (budget 1 us)\n", "");
    // Oil puddles over the rolling ground.
    std::srand(4506);
    gRaceClock = &readBenchClock;
    gFrameFactor.store(1.0f);
    const vec3d middle = gTerrain.box.center;
    EntityManager::Entity dropper(*chain.entities);
    const BenchFigures::Spread growing = BenchFigures::repeat(15, [&] {
        auto* puddle = dropPuddle(packages, dropper, middle);
        constexpr int updates = 90;
        const double start = now();
        for (int i = 0; i < updates; ++i)
            puddle->update();
        return (now() - start) / updates;
    });
    BenchFigures::print("a growing puddle's update, 17 points", growing, 1.0e6, "us");
    std::printf("%52s (budget 15 us)\n", "");
    ObjPkgManager::Functions::OilPuddle::Instance* puddles[2] = {
        dropPuddle(packages, dropper, middle), dropPuddle(packages, dropper, middle + vec3d(40.0f, 0.0f, 0.0f))};
    for (auto* puddle : puddles)
        for (int i = 0; i < 110; ++i)
            puddle->update();
    const BenchFigures::Spread final = BenchFigures::repeat(15, [&] {
        constexpr int updates = 10000;
        const double start = now();
        for (int i = 0; i < updates; ++i)
            puddles[0]->update();
        return (now() - start) / updates;
    });
    BenchFigures::print("a final puddle's update", final, 1.0e6, "us");
    std::printf("%52s (budget 1 us)\n", "");
    EntityManager::Entity other(*chain.entities);
    std::vector<vec3d> wheels;
    for (int i = 0; i < 32; ++i) {
        const vec3d at = middle + vec3d(float(std::rand() % 80) - 20.0f, 0.0f, float(std::rand() % 160));
        wheels.push_back({at.x, gTerrain.getHeight(at.x, at.z, 3) + 0.3f, at.z});
    }
    volatile int hits = 0;
    const BenchFigures::Spread wheelTests = BenchFigures::repeat(15, [&] {
        constexpr int rounds = 2000;
        const double start = now();
        for (int r = 0; r < rounds; ++r)
            for (const vec3d& wheel : wheels)
                for (auto* puddle : puddles)
                    hits = hits + (puddle->hitTest(wheel, &other) ? 1 : 0);
        return (now() - start) / rounds;
    });
    BenchFigures::print("32 wheel tests against two puddles", wheelTests, 1.0e6, "us");
    std::printf("%52s (budget 10 us)\n", "");

    // A rocket flying over the ground, away from 300 live objects and 200
    // more placed ones.
    for (int i = 0; i < 200; ++i)
        packages.createObject(packages.findPackage(String(L"Camera")),
                              {float(i % 20) * 40.0f, 0.0f, 900.0f + float(i / 20) * 40.0f}, 1.0f);
    Object* placedRocket = packages.createObject(packages.findPackage(String(L"Rocket")), middle, 1.0f);
    placedRocket->instance = placedRocket->createInstance();
    auto* rocketObject = dynamic_cast<DynObject*>(placedRocket->instance);
    auto* rocket = dynamic_cast<ObjPkgManager::Functions::Rocket::Instance*>(
        rocketObject->functions->find(ObjPkgManager::Functions::Rocket::flag)->instance);
    EntityManager::Entity launcher(*chain.entities), target(*chain.entities);
    const BenchFigures::Spread flight = BenchFigures::repeat(15, [&] {
        launcher.world = matrix3d::identity();
        launcher.world.setRow(3, middle);
        target.worldBox.center = middle + vec3d(0.0f, 0.0f, 5000.0f);
        rocket->fire(&launcher, &target, 0.0f, 3.0f);
        rocket->state = ObjPkgManager::Functions::Rocket::Instance::flying;
        // A run whose rocket meets an object counts the updates it flew.
        int updates = 0;
        const double start = now();
        for (; updates < 200 && !rocket->isFinished(); ++updates) {
            rocket->update();
            rocketObject->onMoved();
        }
        return (now() - start) / std::max(updates, 1);
    });
    BenchFigures::print("a flying rocket's update and placement", flight, 1.0e6, "us");
    std::printf("%52s (budget 15 us)\n", "");

    // Eight race vehicles among the placed objects, far from the bushes:
    // every bush looks at each.
    for (uint32_t i = 0; i < 8; ++i) {
        Object* placed = packages.createObject(packages.findPackage(String(L"Kart")),
                                               {20.0f + float(i) * 40.0f, 0.0f, 300.0f}, 1.0f);
        scene.game.vehicles.append(new Game::Vehicle(&scene.game, placed, i));
        placed->instance = placed->createInstance();
    }
    std::vector<ObjPkgManager::Functions::Bush::Instance*> bushes;
    for (int i = 0; i < 40; ++i) {
        Object* placed = packages.createObject(packages.findPackage(String(L"Bush")),
                                               {float(i % 10) * 15.0f, 0.0f, 1400.0f + float(i / 10) * 15.0f}, 1.0f);
        placed->instance = placed->createInstance();
        bushes.push_back(dynamic_cast<ObjPkgManager::Functions::Bush::Instance*>(
            dynamic_cast<DynObject*>(placed->instance)->functions->find(ObjPkgManager::Functions::Bush::flag)->instance));
    }
    std::vector<DynObject*> spinning;
    for (int i = 0; i < 20; ++i) {
        Object* placed = packages.createObject(packages.findPackage(String(L"RocketPack")),
                                               {float(i) * 10.0f, 0.0f, 1300.0f}, 1.0f);
        placed->instance = placed->createInstance();
        spinning.push_back(dynamic_cast<DynObject*>(placed->instance));
    }
    std::vector<std::pair<DynObject*, ObjPkgManager::Functions::LensFlare::Instance*>> flares;
    for (int i = 0; i < 2; ++i) {
        Object* placed = packages.createObject(packages.findPackage(String(L"Gate")),
                                               {float(i) * 30.0f, 0.0f, 1200.0f}, 1.0f);
        placed->instance = placed->createInstance();
        auto* dyn = dynamic_cast<DynObject*>(placed->instance);
        dynamic_cast<ObjPkgManager::Functions::Gate::Instance*>(dyn->functions->find(0x40)->instance)->setMarked(true);
        flares.push_back({dyn, dynamic_cast<ObjPkgManager::Functions::LensFlare::Instance*>(
                                   dyn->functions->find(ObjPkgManager::Functions::LensFlare::flag)->instance)});
    }
    chain.position = {30.0f, 4.0f, 1100.0f};
    const BenchFigures::Spread decoration = BenchFigures::repeat(15, [&] {
        constexpr int frames = 500;
        const double start = now();
        for (int f = 0; f < frames; ++f) {
            gFrameCounter.store(uint32_t(f + 1));
            for (auto* bush : bushes)
                bush->update();
            for (DynObject* spin : spinning)
                spin->functions->entries.at(0)->instance->frameStep();
            for (auto& [dyn, flare] : flares) {
                flare->update();
                flare->beforeRender(dyn->world);
            }
        }
        return (now() - start) / frames;
    });
    BenchFigures::print("40 bushes, 20 spins, 2 gates of 4 flares", decoration, 1.0e6, "us");
    std::printf("%52s (budget 50 us)\n", "");

    std::vector<ObjPkgManager::Functions::Inventory::Instance*> inventories;
    for (auto* node = scene.game.vehicles.head(); node; node = node->next)
        inventories.push_back(dynamic_cast<ObjPkgManager::Functions::Inventory::Instance*>(
            node->item->getDynObject()->functions->find(ObjPkgManager::Functions::Inventory::flag)->instance));
    const BenchFigures::Spread pickUps = BenchFigures::repeat(15, [&] {
        constexpr int frames = 2000;
        const double start = now();
        for (int f = 0; f < frames; ++f)
            for (auto* inventory : inventories)
                inventory->update();
        return (now() - start) / frames;
    });
    BenchFigures::print("8 inventories among the placed objects", pickUps, 1.0e6, "us");
    std::printf("%52s (budget 10 us)\n", "");
    // Where their time goes: the static objects' circle queries alone, with
    // a callback that takes nothing, over the objects in the query's cell.
    struct Nothing final : StaticEntityManager::Callback
    {
        uint32_t found(StaticEntity&) override { return 0; }
    } nothing;
    const BenchFigures::Spread queries = BenchFigures::repeat(15, [&] {
        constexpr int frames = 2000;
        const double start = now();
        for (int f = 0; f < frames; ++f)
            for (auto* inventory : inventories) {
                const BoundingBox& sphere = inventory->owner->worldBounds;
                StaticEntityManager::CircleQuery circle;
                circle.x = sphere.center.x;
                circle.z = sphere.center.z;
                circle.radius = sphere.radius;
                chain.staticEntities->findInCircle(circle, nothing);
            }
        return (now() - start) / frames;
    });
    struct Count final : StaticEntityManager::Callback
    {
        uint32_t found(StaticEntity&) override { return ++count, 0; }
        int count = 0;
    } placed;
    StaticEntityManager::CircleQuery everywhere;
    everywhere.radius = 1.0e6f;
    chain.staticEntities->findInCircle(everywhere, placed);
    BenchFigures::print("their 8 circle queries alone", queries, 1.0e6, "us");
    std::printf("%52s (%d placed objects, one cell of 2048)\n", "", placed.count);

    // The scene the budget is set for: the same eight among 500 placed
    // objects. Objects that are no vehicle's go until 500 are left.
    struct Gather final : StaticEntityManager::Callback
    {
        uint32_t found(StaticEntity& entity) override { return all.push_back(&entity), 0; }
        std::vector<StaticEntity*> all;
    } gather;
    chain.staticEntities->findInCircle(everywhere, gather);
    std::vector<const StaticEntity*> karts;
    for (auto* node = scene.game.vehicles.head(); node; node = node->next)
        karts.push_back(node->item->object);
    size_t left = gather.all.size();
    for (StaticEntity* entity : gather.all) {
        if (left <= 500)
            break;
        if (std::find(karts.begin(), karts.end(), entity) != karts.end())
            continue;
        delete entity;
        --left;
    }
    const BenchFigures::Spread fewer = BenchFigures::repeat(15, [&] {
        constexpr int frames = 2000;
        const double start = now();
        for (int f = 0; f < frames; ++f)
            for (auto* inventory : inventories)
                inventory->update();
        return (now() - start) / frames;
    });
    BenchFigures::print("8 inventories among 500 placed objects", fewer, 1.0e6, "us");
    std::printf("%52s (budget 10 us; %zu placed objects)\n", "", left);

    scene.game.vehicles.deleteAll();
    gTerrain.clear();
    scene.release();
    return 0;
}
