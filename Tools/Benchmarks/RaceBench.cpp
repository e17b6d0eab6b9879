// Prints what the race logic takes on one core: the standings of eight
// vehicles in an off-road race (laps, gates and distances) and in a circuit
// race (the track progress along a way list of 60 nodes), and a lap entering
// the records with the save of the records file it causes, with the update
// of the list and the save apart; the per-frame race update of eight
// vehicles on the builder's sample quads driving round a course of 20 gates
// and its road; and 60 s of a race of eight quads, each steered by an
// opponent driver, round a ring of eight gates with the physics stepped on
// the same thread: the shares of each frame (the simulation's steps, the
// hand-over to the entities, the drivers, the race's update), the worst
// frame and the mean path build; the frame's budget takes the simulation,
// the entities' hand-over, the drivers and the race, while the quads' render
// hand-over (wheels posed, riders posed and skinned: the entity pass runs it
// for the quads in view) is timed apart. Minimum and median of several runs;
// nothing needs a display.
#include "Race/Game.h"
#include "Race/GameGate.h"
#include "Race/AIDriver.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Objects/DynObject.h"
#include "Objects/PackageMesh.h"
#include "Vehicle/QuadInstance.h"

#include "Objects/ObjectPackage.h"

#include "Application/ControlBindings.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neSimulator.h"
#include "Render/SwapChain.h"
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/FileArray.h"
#include "Core/Timer.h"

#include "BenchDevice.h"
#include "BenchFigures.h"
#include "DriverSamples.h"
#include "ObjectPackageWriter.h"
#include "ObjectPackageSamples.h"
#include "QuadSample.h"
#include "RaceSamples.h"
#include "RecordsFileWriter.h"
#include "TerrainMapWriter.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

double seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
}

// Seconds per call of rank over calls calls, each after the distances moved.
BenchFigures::Spread rankings(Game& game, std::mt19937& random, int calls)
{
    std::vector<Game::Vehicle*> vehicles;
    for (auto* node = game.vehicles.head(); node; node = node->next)
        vehicles.push_back(node->item);
    std::uniform_real_distribution<float> step(-30.0f, 30.0f);
    std::vector<float> moves(size_t(calls) * vehicles.size());
    for (float& m : moves)
        m = step(random);
    return BenchFigures::repeat(15, [&] {
        LARGE_INTEGER from, to;
        size_t m = 0;
        QueryPerformanceCounter(&from);
        for (int call = 0; call < calls; ++call) {
            for (Game::Vehicle* v : vehicles) {
                v->nextGateDistSq += moves[m];
                v->wayPoint.t = v->wayPoint.t > 0.9f ? 0.05f : v->wayPoint.t + 0.01f;
                ++m;
            }
            game.rankVehicles();
        }
        QueryPerformanceCounter(&to);
        return seconds(from, to) / calls;
    });
}

struct Callbacks final : Game::Interface
{
    String getSettingNameGame() override { return String(L"Bench"); }
    Color getSettingCharGame() override { return Color(255, 0, 0, 255); }
    void saveSettings() override {}
    Control* getPlayerControls() override { return &controls; }
    Control controls;
};

uint32_t benchNow = 1000;
DWORD WINAPI benchClock()
{
    return benchNow;
}

// Seconds per frame of Game::Vehicle::update for eight vehicles on sample
// quads going round a ring of 20 gates across a closed road of 40
// segments, each vehicle 1.5 units further per frame.
BenchFigures::Spread vehicleUpdates(BenchFigures::Spread& gameFrames)
{
    TerrainMapWriter::Map map;
    map.size = 128;
    map.heights.assign(128 * 128, 20000);
    FileArray mapBytes(1 << 16);
    TerrainMapWriter::write(map, mapBytes);
    mapBytes.seek(0, 0);
    gTerrain.load(nullptr, Terrain::Settings(), mapBytes);
    const vec3d centre = gTerrain.box.center;
    const float ground = gTerrain.getHeight(centre.x, centre.z, 3);
    constexpr float radius = 150.0f;
    constexpr float pi = 3.14159265f;
    auto ring = [&](float angle, float lift) {
        return vec3d(centre.x + radius * std::cos(angle), ground + lift, centre.z + radius * std::sin(angle));
    };

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"RaceBench-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
    QuadSample::save(String(folder.c_str()));
    ObjectPackageSamples::save(String(folder.c_str()));
    Callbacks callbacks;
    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"RaceBench"), 3500.0f, &callbacks);
    scene.swapChain = &chain;
    scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
    scene.objectPackages.buildPackages();
    chain.entities->physicsManager->start(32);
    RaceClock previousClock = gRaceClock;
    gRaceClock = benchClock;
    Game& game = scene.game;
    game.phase = 3;
    game.choice.gameMode = Game::OffRoadRace;
    game.choice.goal = 1000;
    game.choice.courseType = 1;

    // The road round the ring, its last point on its first.
    Way::PointList road;
    for (int i = 0; i <= 40; ++i) {
        auto* point = new Way::Point;
        point->position = ring(2.0f * pi * float(i % 40) / 40.0f, 0.0f);
        point->width = 12.0f;
        road.append(point);
    }
    for (Way::PointNode* node = road.head(); node && node->next; node = node->next) {
        node->item->segment = new Way::Segment(node, node->next, nullptr);
        node->item->segment->positions.resize(11);
        for (int i = 0; i <= 10; ++i)
            Way::Segment::crossSectionAt(node->item->segment->positions[size_t(i)], *node->item->segment,
                                         float(i) / 10.0f);
        node->item->segment->indexCrossSections();
    }
    game.course = &road;
    // The gates across the road, numbered round the ring.
    ObjPkgManager::Package* gatePackage = scene.objectPackages.findPackage(String(L"Gate"));
    for (int i = 0; i < 20; ++i) {
        const float angle = 2.0f * pi * (float(i) + 0.5f) / 20.0f;
        Object* gate = scene.objectPackages.createObject(gatePackage, ring(angle, 0.0f), 3.0f);
        if (!gate)
            continue;
        gate->rotation = -angle * 180.0f / pi;
        gate->setState(uint8_t(i));
        game.gates.append(new Game::Gate(&game, gate));
    }
    ObjPkgManager::Package* quadPackage = scene.objectPackages.findPackage(String(L"Quad"));
    float angles[8];
    for (uint32_t slot = 0; slot < 8; ++slot) {
        angles[slot] = 0.02f * float(slot);
        Object* placed = scene.objectPackages.createObject(quadPackage, ring(angles[slot], 1.0f), 1.0f);
        auto* v = new Game::Vehicle(&game, placed, slot);
        v->isPlayer = slot == 0 ? 1 : 0;
        v->place = int32_t(slot) + 1;
        v->wayNode = road.head();
        game.vehicles.append(v);
        if (placed && !placed->instance)
            placed->instance = placed->createInstance();
        else if (placed)
            v->attachToEntity(dynamic_cast<DynObject*>(placed->instance));
        v->passGate();
    }

    int32_t passed = 0;
    // The vehicles' own updates, then the race's whole frame in phase 3
    // (standings, vehicles, rockets and oil).
    bool wholeFrame = false;
    const auto run = [&] {
        constexpr int frames = 2000;
        const double from = BenchDevice::seconds();
        for (int frame = 0; frame < frames; ++frame) {
            benchNow += 16;
            int32_t slot = 0;
            for (auto* node = game.vehicles.head(); node; node = node->next, ++slot) {
                Game::Vehicle& v = *node->item;
                Game::Vehicle::QuadInstance* quad = v.getQuad();
                if (!quad)
                    continue;
                angles[slot] += 1.5f / radius;
                const vec3d at = ring(angles[slot], 1.0f);
                const vec3d along(-std::sin(angles[slot]), 0.0f, std::cos(angles[slot]));
                EntityManager::Entity& body = *quad->entity;
                body.worldBounds.center = at;
                body.world.setRow(2, along);
                body.world.setRow(3, at);
            }
            if (wholeFrame)
                game.update();
            else
                for (auto* node = game.vehicles.head(); node; node = node->next)
                    node->item->update();
        }
        return (BenchDevice::seconds() - from) / frames;
    };
    const auto figures = BenchFigures::repeat(15, run);
    wholeFrame = true;
    gameFrames = BenchFigures::repeat(15, run);
    for (auto* node = game.vehicles.head(); node; node = node->next)
        passed += node->item->gatesPassed;
    std::printf("vehicles passed %d gates in all\n", int(passed));
    game.vehicles.deleteAll();
    game.gates.deleteAll();
    game.course = nullptr;
    road.deleteAll();
    gRaceClock = previousClock;
    scene.release();
    gTerrain.clear();
    return figures;
}

// Seconds per Game::setupRace of an off-road race of 8 vehicles on the
// builder's sample valley (the level as the builder wrote it beside this
// program), each race released in the menu's order; 0 without the level.
BenchFigures::Spread raceSetups()
{
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::wstring folder(module);
    folder = folder.substr(0, folder.find_last_of(L'\\') + 1);
    std::wstring root;
    for (const wchar_t* up : {L"", L"..\\", L"..\\..\\"})
        if (GetFileAttributesW((folder + up + L"Data\\Map\\Valley.tee").c_str()) != INVALID_FILE_ATTRIBUTES) {
            root = folder + up;
            break;
        }
    if (root.empty())
        return {};
    Callbacks callbacks;
    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"RaceBench"), 3500.0f, &callbacks);
    scene.swapChain = &chain;
    scene.objectPackages.loadFolder(String((root + L"Objects\\").c_str()));
    chain.entities->physicsManager->start(32);
    Game& game = scene.game;
    game.loadObjectTypes(scene.objectManager, Game::packageNames, Game::startVehicleScale);
    if (!scene.load(String((root + L"Data\\Map\\Valley.tee").c_str())))
        return {};
    RaceChoice choice;
    choice.gameMode = Game::OffRoadRace;
    choice.courseType = 1;
    choice.vehicleCount = 8;
    const auto figures = BenchFigures::repeat(9, [&] {
        game.applyRaceChoice(choice);
        const double from = BenchDevice::seconds();
        game.setupRace();
        const double took = BenchDevice::seconds() - from;
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
        return took;
    });
    scene.release();
    gTerrain.clear();
    return figures;
}

}

// The shares of one race frame, each the mean over a run of frames, and the
// worst whole frame.
struct RaceFrames
{
    double physics = 0.0;  // the simulator's three steps with the quads' steps
    double handOver = 0.0; // the entities take their bodies, the quads update
    double drivers = 0.0;  // the eight drivers
    double race = 0.0;     // the standings and the vehicles' update
    // The quads made ready to draw (wheels, handlebar, riders posed) with each
    // rider's skinning walk into memory, as between the lock and unlock of its
    // drawn buffer (no device here).
    double render = 0.0;
    double worst = 0.0;
    int32_t laps = 0;
    // The bits of the quads' bodies at the end (pose and velocities), folded:
    // two builds that step alike print the same value.
    uint64_t fingerprint = 0;
};

// 60 s of clock (2100 frames) of eight driven quads at scale 5 round a ring
// of eight gates 230 from the middle of a flat map, the physics stepped
// here; run runs times, the course made anew each run.
std::vector<RaceFrames> driverRaces(int runs, BenchFigures::Spread& builds, double& meanBuild, int& buildCount)
{
    TerrainMapWriter::Map map;
    map.size = 512;
    map.heights.assign(512 * 512, 20000);
    FileArray mapBytes(1 << 16);
    TerrainMapWriter::write(map, mapBytes);
    mapBytes.seek(0, 0);
    Terrain::Settings settings;
    settings.horizontalScale = 3.0f;
    settings.verticalScale = 1.75f;
    gTerrain.load(nullptr, settings, mapBytes);
    vec3d centre = gTerrain.box.center;
    centre.y = gTerrain.getHeight(centre.x, centre.z, 3);
    constexpr float radius = 230.0f, pi = 3.14159265f;
    auto ring = [&](float angle, float across) {
        return centre + vec3d((radius + across) * std::cos(angle), 0.0f, (radius + across) * std::sin(angle));
    };
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"RaceBenchDrivers-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
    QuadSample::save(String(folder.c_str()));
    ObjectPackageWriter::save(DriverSamples::ringGate(), String((folder + L"Objects\\RingGate.teo").c_str()));
    RaceClock previousClock = gRaceClock;
    gRaceClock = benchClock;
    gFrameFactor = 1.0f;
    gFrameTime = 1.0f / 35.0f;

    std::vector<RaceFrames> results;
    std::vector<double> buildTimes;
    for (int run = 0; run < runs; ++run) {
        std::srand(11 + uint32_t(run));
        Callbacks callbacks;
        D3D::Device::SwapChain chain(nullptr);
        Scene scene(String(L"RaceBench"), 3500.0f, &callbacks);
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(32);
        Game& game = scene.game;
        game.phase = 3;
        game.choice.gameMode = Game::OffRoadRace;
        game.choice.courseType = 1;
        game.choice.goal = 1000;
        game.choice.difficulty = run % 3;
        game.choice.items = 0;
        game.choice.vehicleCount = 8;
        ObjPkgManager::Package* gatePackage = scene.objectPackages.findPackage(String(L"RingGate"));
        for (int i = 0; i < 8; ++i) {
            const float angle = 2.0f * pi * float(i) / 8.0f + 0.3f;
            Object* gate = scene.objectPackages.createObject(gatePackage, ring(angle, 0.0f), 1.0f);
            if (!gate)
                continue;
            gate->rotation = -angle * 180.0f / pi;
            gate->setState(uint8_t(i));
            game.gates.append(new Game::Gate(&game, gate));
        }
        ObjPkgManager::Package* quadPackage = scene.objectPackages.findPackage(String(L"Quad"));
        std::vector<DynObject*> objects;
        std::vector<ObjPkgManager::Functions::AI*> drivers;
        std::vector<Game::Vehicle::QuadInstance*> quads;
        std::vector<EntityManager::MeshVertex> skinned;
        for (uint32_t slot = 0; slot < 8; ++slot) {
            const float angle = -0.08f * float(slot / 2);
            const vec3d at = ring(angle, slot % 2 ? 7.0f : -7.0f) + vec3d(0.0f, 2.0f, 0.0f);
            Object* placed = scene.objectPackages.createObject(quadPackage, at, Game::startVehicleScale);
            if (!placed)
                continue;
            placed->heightOffset = 0.0f;
            placed->rotation = -angle * 180.0f / pi;
            auto* v = new Game::Vehicle(&game, placed, slot);
            v->isPlayer = slot == 0 ? 1 : 0;
            game.vehicles.append(v);
            if (!placed->instance)
                placed->instance = placed->createInstance();
            else
                v->attachToEntity(dynamic_cast<DynObject*>(placed->instance));
            if (v->isPlayer)
                v->createAIDriver(v->getDynObject());
            v->passGate();
            v->raceStart = v->lapStart = benchNow;
            if (v->getDynObject() && v->getAIDriver() && v->getQuad()) {
                objects.push_back(v->getDynObject());
                drivers.push_back(v->getAIDriver());
                quads.push_back(v->getQuad());
            }
        }

        ObjPkgManager::Mesh* rider =
            quads.empty() ? nullptr : quads[0]->templ->mesh(ObjPkgManager::Functions::QuadPhysics::driver);
        skinned.resize(size_t(rider ? rider->countedVertices() : 0));
        RaceFrames frames;
        constexpr int frameCount = 60 * 35;
        for (int frame = 0; frame < frameCount; ++frame) {
            benchNow += 1000 / 35;
            const double t0 = BenchDevice::seconds();
            chain.entities->physicsManager->simulator->advance(3.0f / 35.0f, 1.0f / 30.0f, 1.0f / 75.0f);
            const double t1 = BenchDevice::seconds();
            for (size_t i = 0; i < objects.size(); ++i) {
                if (objects[i]->physics)
                    objects[i]->physics->update();
                quads[i]->update();
            }
            const double t2 = BenchDevice::seconds();
            // The render hand-over, where the race has always made it.
            for (Game::Vehicle::QuadInstance* quad : quads) {
                quad->prepareRender();
                if (rider)
                    rider->packVertices(skinned.data());
            }
            const double t2r = BenchDevice::seconds();
            for (size_t i = 0; i < objects.size(); ++i) {
                const uint32_t wanted = drivers[i]->needsPath;
                const double b0 = BenchDevice::seconds();
                drivers[i]->update();
                objects[i]->previousPosition = objects[i]->world.row(3);
                if (wanted && !drivers[i]->needsPath)
                    buildTimes.push_back(BenchDevice::seconds() - b0);
            }
            const double t3 = BenchDevice::seconds();
            game.rankVehicles();
            for (auto* node = game.vehicles.head(); node; node = node->next)
                node->item->update();
            const double t4 = BenchDevice::seconds();
            frames.physics += t1 - t0;
            frames.handOver += t2 - t1;
            frames.render += t2r - t2;
            frames.drivers += t3 - t2r;
            frames.race += t4 - t3;
            frames.worst = std::max(frames.worst, t4 - t0);
        }
        frames.physics /= frameCount;
        frames.handOver /= frameCount;
        frames.drivers /= frameCount;
        frames.race /= frameCount;
        frames.render /= frameCount;
        for (auto* node = game.vehicles.head(); node; node = node->next)
            frames.laps += node->item->lap - 1;
        frames.fingerprint = 1469598103934665603ull;
        const auto fold = [&](float value) {
            uint32_t bits;
            std::memcpy(&bits, &value, sizeof bits);
            frames.fingerprint = (frames.fingerprint ^ bits) * 1099511628211ull;
        };
        for (DynObject* object : objects)
            if (object->physics && object->physics->rigidBody) {
                neRigidBody* body = object->physics->rigidBody->body;
                for (float value : body->getTransform()->m)
                    fold(value);
                for (const vec3d& v : {body->velocity, body->angularVelocity})
                    for (float value : {v.x, v.y, v.z})
                        fold(value);
            }
        results.push_back(frames);
        game.vehicles.deleteAll();
        game.gates.deleteAll();
        scene.release();
    }
    builds = BenchFigures::of(buildTimes);
    meanBuild = 0.0;
    buildCount = int(buildTimes.size());
    for (double t : buildTimes)
        meanBuild += t / double(buildTimes.size());
    gRaceClock = previousClock;
    gTerrain.clear();
    return results;
}


// Seconds per forced build of a path 300 long across a wall of 9 crates
// (and 40 more scattered near the line), with the avoidance's bypasses and
// smoothing; repeated on a scene of the builder's crates.
BenchFigures::Spread obstacleBuilds(int32_t& bypasses)
{
    TerrainMapWriter::Map map;
    map.size = 256;
    map.heights.assign(256 * 256, 20000);
    FileArray mapBytes(1 << 16);
    TerrainMapWriter::write(map, mapBytes);
    mapBytes.seek(0, 0);
    Terrain::Settings settings;
    settings.horizontalScale = 3.0f;
    settings.verticalScale = 1.75f;
    gTerrain.load(nullptr, settings, mapBytes);
    vec3d origin = gTerrain.box.center;
    origin.y = gTerrain.getHeight(origin.x, origin.z, 3);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"RaceBenchCrates-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
    ObjectPackageSamples::save(String(folder.c_str()));
    Callbacks callbacks;
    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"RaceBench"), 3500.0f, &callbacks);
    scene.swapChain = &chain;
    scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
    scene.objectPackages.buildPackages();
    ObjPkgManager::Package* crates = scene.objectPackages.findPackage(String(L"Crate"));
    auto at = [&](float x, float z) { return origin + vec3d(x, 0.0f, z); };
    Object* driven = scene.objectPackages.createObject(crates, at(-900.0f, -900.0f), 1.0f);
    if (driven && !driven->instance)
        driven->instance = driven->createInstance();
    for (int i = 0; i < 9; ++i)
        scene.objectPackages.createObject(crates, at(150.0f, -6.0f + 1.5f * float(i)), 1.0f);
    std::mt19937 random(5);
    std::uniform_real_distribution<float> spot(-40.0f, 340.0f), side(-60.0f, 60.0f);
    for (int i = 0; i < 40; ++i) {
        const float x = spot(random), z = side(random);
        if (std::abs(z) > 12.0f)
            scene.objectPackages.createObject(crates, at(x, z), 1.0f);
    }
    ObjPkgManager::Functions::Path path(driven ? dynamic_cast<DynObject*>(driven->instance) : nullptr);
    const vec3d none;
    const BenchFigures::Spread figures = BenchFigures::repeat(15, [&] {
        constexpr int builds = 200;
        const double from = BenchDevice::seconds();
        for (int b = 0; b < builds; ++b)
            path.build(nullptr, at(0.0f, 0.0f), &path, at(300.0f, 0.0f), at(300.0f, 0.0f), none, 4, true, nullptr,
                       0.5f);
        return (BenchDevice::seconds() - from) / builds;
    });
    bypasses = 0;
    for (int32_t i = 0; i < path.count; ++i)
        bypasses += path.points[i].type == ObjPkgManager::Functions::Path::Intermediate ? 1 : 0;
    scene.release();
    gTerrain.clear();
    return figures;
}

// The race of driven quads with the physics on this thread, and the forced
// path build: the frame's shares against their budgets.
void printRaces()
{
    BenchFigures::Spread builds;
    double meanBuild = 0.0;
    int buildCount = 0;
    const std::vector<RaceFrames> races = driverRaces(5, builds, meanBuild, buildCount);
    int32_t bypasses = 0;
    const BenchFigures::Spread crateBuilds = obstacleBuilds(bypasses);
    auto spreadOf = [&](double RaceFrames::*share) {
        std::vector<double> values;
        for (const RaceFrames& r : races)
            values.push_back(r.*share);
        return BenchFigures::of(values);
    };
    std::printf("race: 60 s of 8 driven quads round 8 gates, physics on this thread (%d runs)\n", int(races.size()));
    BenchFigures::print("  physics: the simulator's steps with the quads'", spreadOf(&RaceFrames::physics), 1.0e6, "us");
    BenchFigures::print("  hand-over: entity sync and the quads' update", spreadOf(&RaceFrames::handOver), 1.0e6, "us");
    BenchFigures::print("  the 8 drivers", spreadOf(&RaceFrames::drivers), 1.0e6, "us");
    BenchFigures::print("  race: standings and the vehicles' update", spreadOf(&RaceFrames::race), 1.0e6, "us");
    std::vector<double> budgeted, totals;
    for (const RaceFrames& r : races) {
        budgeted.push_back(r.physics + r.handOver + r.drivers + r.race);
        totals.push_back(r.physics + r.handOver + r.drivers + r.race + r.render);
    }
    BenchFigures::print("  physics, race and drivers (the budget's frame)", BenchFigures::of(budgeted), 1.0e6, "us");
    std::printf("%52s (budget 100 us)\n", "");
    BenchFigures::print("  render hand-over: 8 quads posed, riders skinned", spreadOf(&RaceFrames::render), 1.0e6, "us");
    std::printf("%52s (the entity pass, for the quads in view)\n", "");
    BenchFigures::print("  mean frame, all shares", BenchFigures::of(totals), 1.0e6, "us");
    BenchFigures::print("  worst frame", spreadOf(&RaceFrames::worst), 1.0e6, "us");
    std::printf("  path builds in the race: %d, mean %.2f us, median %.2f us, 99th percentile %.2f us, worst %.2f us\n",
                buildCount, meanBuild * 1.0e6, builds.median * 1.0e6,
                builds.percentile99 * 1.0e6, builds.worst * 1.0e6);
    BenchFigures::print("path build 300 across a wall of crates (forced)", crateBuilds, 1.0e6, "us");
    std::printf("  the wall's bypass points kept: %d\n", int(bypasses));
    for (const RaceFrames& r : races)
        std::printf("  run: %d laps completed by the 8 quads, bodies at the end %016llx\n", int(r.laps),
                    static_cast<unsigned long long>(r.fingerprint));
    std::printf("budgets: physics, race and drivers 100 us a frame (about 45 us engine and manager, 10 us quad steps,\n"
                "  10 us race, 15 us drivers), the render hand-over apart; a path build at most 100 us\n");
}

// "RaceBench race" runs the race alone (for a profiler); with no argument
// every figure is printed.
int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "race") == 0) {
        printRaces();
        return 0;
    }
    std::mt19937 random(17);

    Game game(nullptr, nullptr);
    game.phase = 3;
    SCList<Game::Gate> gates;
    std::vector<SCList<Game::Gate>::Node*> gateNodes;
    for (int i = 0; i < 20; ++i)
        gateNodes.push_back(gates.append(new Game::Gate(&game, nullptr)));
    Way::PointList course;
    for (int i = 0; i < 60; ++i)
        course.append(new Way::Point);
    game.course = &course;
    std::vector<Way::PointNode*> wayNodes;
    for (auto* node = course.head(); node; node = node->next)
        wayNodes.push_back(node);
    for (uint32_t slot = 0; slot < 8; ++slot) {
        auto* v = new Game::Vehicle(&game, nullptr, slot);
        v->lap = 2 + int32_t(slot % 2);
        v->wayRounds = v->lap - 1;
        v->nextGate = gateNodes[(slot * 3) % 4 + 5];
        v->nextGateDistSq = 400.0f + 900.0f * float(slot);
        v->wayNode = wayNodes[10 + 5 * slot];
        v->wayPoint.t = 0.1f * float(slot);
        game.vehicles.append(v);
    }
    game.choice.gameMode = Game::OffRoadRace;
    const BenchFigures::Spread offRoad = rankings(game, random, 20000);
    game.choice.gameMode = Game::Circuit;
    const BenchFigures::Spread circuit = rankings(game, random, 20000);

    // Inserts into a full list of ten laps, each saved: half of the times
    // enter it, half are too slow.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const String path = String(temp) + L"RaceBench.rec";
    RecordsFileWriter::save(RaceSamples::valleyRecords(), path);
    Game::Records records;
    records.load(path);
    std::uniform_int_distribution<int32_t> lapTime(75000, 95000);
    const BenchFigures::Spread inserts = BenchFigures::repeat(40, [&] {
        RaceTime time;
        Game::splitRaceTime(lapTime(random), time);
        LARGE_INTEGER from, to;
        QueryPerformanceCounter(&from);
        records.insertLap(String(L"Bench"), time);
        QueryPerformanceCounter(&to);
        return seconds(from, to);
    });
    // Where the time goes: the list's update alone (a list without a file
    // saves nothing), and the save alone (written, flushed and moved over
    // the old file).
    const BenchFigures::Spread saves = BenchFigures::repeat(40, [&] {
        LARGE_INTEGER from, to;
        QueryPerformanceCounter(&from);
        records.save();
        QueryPerformanceCounter(&to);
        return seconds(from, to);
    });
    // The save's system calls apart: a records file written to a new file
    // and closed, the flush to the disk, and the move over the old file.
    FileArray written(1024);
    RecordsFileWriter::write(RaceSamples::valleyRecords(), written);
    const String temporary = path + L".tmp";
    BenchFigures::Spread writes, flushes, moves;
    {
        std::vector<double> writeRuns, flushRuns, moveRuns;
        for (int r = 0; r < 40; ++r) {
            LARGE_INTEGER t0, t1, t2, t3;
            QueryPerformanceCounter(&t0);
            HANDLE file =
                CreateFileW(temporary.text(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            DWORD done = 0;
            WriteFile(file, written.memory(), written.size(), &done, nullptr);
            QueryPerformanceCounter(&t1);
            FlushFileBuffers(file);
            QueryPerformanceCounter(&t2);
            CloseHandle(file);
            MoveFileExW(temporary.text(), path.text(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            QueryPerformanceCounter(&t3);
            writeRuns.push_back(seconds(t0, t1));
            flushRuns.push_back(seconds(t1, t2));
            moveRuns.push_back(seconds(t2, t3));
        }
        writes = BenchFigures::of(writeRuns);
        flushes = BenchFigures::of(flushRuns);
        moves = BenchFigures::of(moveRuns);
    }
    DeleteFileW(path.text());
    records.fileName = String(L"");
    const BenchFigures::Spread updates = BenchFigures::repeat(40, [&] {
        RaceTime time;
        Game::splitRaceTime(lapTime(random), time);
        LARGE_INTEGER from, to;
        QueryPerformanceCounter(&from);
        records.insertLap(String(L"Bench"), time);
        QueryPerformanceCounter(&to);
        return seconds(from, to);
    });

    BenchFigures::Spread gameFrames;
    const BenchFigures::Spread vehicleFrames = vehicleUpdates(gameFrames);
    const BenchFigures::Spread setups = raceSetups();

    BenchFigures::print("rankVehicles, 8 vehicles, off-road race", offRoad, 1.0e6, "us");
    BenchFigures::print("rankVehicles, 8 vehicles, circuit on 60 way nodes", circuit, 1.0e6, "us");
    BenchFigures::print("Records::insertLap with its save", inserts, 1000.0, "ms");
    BenchFigures::print("  the list's update alone", updates, 1000.0, "ms");
    BenchFigures::print("  Records::save alone", saves, 1000.0, "ms");
    BenchFigures::print("    of which: create and write", writes, 1000.0, "ms");
    BenchFigures::print("    of which: flush to the disk", flushes, 1000.0, "ms");
    BenchFigures::print("    of which: close and move over the old file", moves, 1000.0, "ms");
    BenchFigures::print("Game::Vehicle::update, 8 vehicles, 20 gates (per frame)", vehicleFrames, 1.0e6, "us");
    BenchFigures::print("Game::update in phase 3, 8 vehicles, 20 gates (per frame)", gameFrames, 1.0e6, "us");
    if (setups.minimum > 0.0)
        BenchFigures::print("Game::setupRace on the sample valley, 8 vehicles", setups, 1000.0, "ms");
    else
        std::printf("Game::setupRace: no sample level (Data\\Map\\Valley.tee) found\n");
    std::printf("budgets: rankVehicles 1 us, an insert with its save 2 ms, the vehicles' update 8 us, "
                "Game::update 10 us, Game::setupRace 20 ms\n");

    printRaces();
    game.vehicles.deleteAll();
    gates.deleteAll();
    game.course = nullptr;
    course.deleteAll();
    return 0;
}
