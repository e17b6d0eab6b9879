// Prints what the race logic takes on one core: the standings of eight
// vehicles in an off-road race (laps, gates and distances) and in a circuit
// race (the track progress along a way list of 60 nodes), and a lap entering
// the records with the save of the records file it causes, with the update
// of the list and the save apart; the per-frame race update of eight
// vehicles on the builder's sample quads driving round a course of 20 gates
// and its road. Minimum and median of several runs; nothing needs a display.
#include "Race/Game.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Race/RaceClock.h"

#include "Objects/DynObject.h"
#include "Vehicle/QuadInstance.h"

#include "Objects/ObjectPackage.h"

#include "Application/ControlBindings.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "Core/FileArray.h"

#include "BenchDevice.h"
#include "BenchFigures.h"
#include "ObjectPackageSamples.h"
#include "QuadSample.h"
#include "RaceSamples.h"
#include "RecordsFileWriter.h"
#include "TerrainMapWriter.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
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
BenchFigures::Spread vehicleUpdates()
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
    const auto figures = BenchFigures::repeat(15, [&] {
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
            for (auto* node = game.vehicles.head(); node; node = node->next)
                node->item->update();
        }
        return (BenchDevice::seconds() - from) / frames;
    });
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

}

int main()
{
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

    const BenchFigures::Spread vehicleFrames = vehicleUpdates();

    BenchFigures::print("rankVehicles, 8 vehicles, off-road race", offRoad, 1.0e6, "us");
    BenchFigures::print("rankVehicles, 8 vehicles, circuit on 60 way nodes", circuit, 1.0e6, "us");
    BenchFigures::print("Records::insertLap with its save", inserts, 1000.0, "ms");
    BenchFigures::print("  the list's update alone", updates, 1000.0, "ms");
    BenchFigures::print("  Records::save alone", saves, 1000.0, "ms");
    BenchFigures::print("    of which: create and write", writes, 1000.0, "ms");
    BenchFigures::print("    of which: flush to the disk", flushes, 1000.0, "ms");
    BenchFigures::print("    of which: close and move over the old file", moves, 1000.0, "ms");
    BenchFigures::print("Game::Vehicle::update, 8 vehicles, 20 gates (per frame)", vehicleFrames, 1.0e6, "us");
    std::printf("budgets: rankVehicles 1 us, an insert with its save 2 ms, the vehicles' update 8 us\n");
    game.vehicles.deleteAll();
    gates.deleteAll();
    game.course = nullptr;
    course.deleteAll();
    return 0;
}
