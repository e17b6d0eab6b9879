// Prints what the race logic takes on one core: the standings of eight
// vehicles in an off-road race (laps, gates and distances) and in a circuit
// race (the track progress along a way list of 60 nodes), and a lap entering
// the records with the save of the records file it causes, with the update
// of the list and the save apart. Minimum and median of several runs;
// nothing needs a display.
#include "Race/Game.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"

#include "Way/WayPoint.h"

#include "Core/FileArray.h"

#include "BenchFigures.h"
#include "RaceSamples.h"
#include "RecordsFileWriter.h"

#include <windows.h>

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

    BenchFigures::print("rankVehicles, 8 vehicles, off-road race", offRoad, 1.0e6, "us");
    BenchFigures::print("rankVehicles, 8 vehicles, circuit on 60 way nodes", circuit, 1.0e6, "us");
    BenchFigures::print("Records::insertLap with its save", inserts, 1000.0, "ms");
    BenchFigures::print("  the list's update alone", updates, 1000.0, "ms");
    BenchFigures::print("  Records::save alone", saves, 1000.0, "ms");
    BenchFigures::print("    of which: create and write", writes, 1000.0, "ms");
    BenchFigures::print("    of which: flush to the disk", flushes, 1000.0, "ms");
    BenchFigures::print("    of which: close and move over the old file", moves, 1000.0, "ms");
    std::printf("budgets: rankVehicles 1 us, an insert with its save 2 ms\n");
    gates.deleteAll();
    game.course = nullptr;
    course.deleteAll();
    return 0;
}
