// Prints what the road network's own code takes on one core: the hollow
// lookup on a cache hit and over 100 segments, the terrain's height query on
// a track (from the main thread and from another, as the physics thread asks
// it), the hollows of a terrain patch's height grid, the ways pass for 200
// segments (the CPU of its calls), the mesh build of the sample network per
// km of road, the build of one curbstone segment per step from 64 to 2,048
// steps (flat when it grows linearly), what the sample's ways add to a
// frame of the software device at 1024 x 768, and the read of way files
// that ask for more than any level needs (refused before any mesh is built)
// or repeat a link a thousand times. Needs a display and the game data (the sample level
// and the resource archive under the working folder or the build folder).
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"

#include "BenchFigures.h"
#include "BenchWindow.h"
#include "WayFileWriter.h"
#include "WaySamples.h"

#include "Core/FileArray.h"
#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

String dataPath(const wchar_t* name)
{
    const String local = String(L"Data\\") + name;
    if (GetFileAttributesW(local.text()) != INVALID_FILE_ATTRIBUTES)
        return local;
    return getModuleFolder() + L"..\\..\\Data\\" + name;
}

WayFileWriter::Point point(float x, float z, const wchar_t* modeler, float width)
{
    WayFileWriter::Point p;
    p.position[0] = x;
    p.position[2] = z;
    p.width = width;
    p.heightOffset = 0.25f;
    p.stepsPerLength = 0.1f;
    p.thinTolerance = 0.5f;
    p.name = String(modeler);
    return p;
}

bool readWays(const std::vector<WayFileWriter::Way>& ways)
{
    FileArray bytes(4096);
    WayFileWriter::write(ways, bytes);
    bytes.seek(0, 0);
    return gWayNetwork.read(bytes);
}

// Waits until the device has drawn everything sent so far.
void finish()
{
    IDirect3DQuery9* query = nullptr;
    if (FAILED(gDevice->CreateQuery(D3DQUERYTYPE_EVENT, &query)) || !query)
        return;
    query->Issue(D3DISSUE_END);
    while (query->GetData(nullptr, 0, D3DGETDATA_FLUSH) == S_FALSE)
        Sleep(0);
    query->Release();
}

}

int main()
{
    HWND window = BenchWindow::open(L"WayBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain* chain = gDirectGraphics.record.firstSwapChain();
    constexpr int runs = 5;

    // The sample level as the game loads it, its roads textured.
    ResourceManager resources;
    resources.load(dataPath(L"Resource\\Resource.res"));
    createWayModelerSet(&resources);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = chain;
    if (!scene.load(BenchWindow::sampleLevel()) || gWayNetwork.segments.empty()) {
        std::printf("no sample level with ways at %ls\n", BenchWindow::sampleLevel().text());
        return 1;
    }

    // The mesh build: the whole load of the sample's ways, per km of road.
    FileArray sampleBytes(4096);
    gWayNetwork.write(sampleBytes);
    float roadLength = 0.0f;
    for (const Way::Segment* s : gWayNetwork.segments)
        if (s->modeler && s->modeler->meshPartCount() > 0)
            roadLength += s->length;
    const BenchFigures::Spread build = BenchFigures::repeat(runs, [&] {
        sampleBytes.seek(0, 0);
        const double start = BenchWindow::now();
        gWayNetwork.read(sampleBytes);
        return (BenchWindow::now() - start) / (roadLength / 1000.0);
    });

    // The dirt track's segments: points in their middles.
    std::vector<vec2d> onTrack;
    for (const Way::Segment* s : gWayNetwork.hollowSegments)
        for (size_t i = 1; i + 1 < s->positions.size(); ++i)
            onTrack.push_back({s->positions[i].centre.x, s->positions[i].centre.z});
    constexpr int queries = 200000;
    float sink = 0.0f;
    // The same segment asked again and again (a vehicle driving on it).
    const vec2d one = onTrack[onTrack.size() / 2];
    const BenchFigures::Spread hit = BenchFigures::repeat(runs, [&] {
        const double start = BenchWindow::now();
        for (int i = 0; i < queries; ++i) {
            float h = 0.0f;
            gWayNetwork.applyHollow(one.x + float(i % 7) * 0.3f, one.y + float(i % 5) * 0.3f, h);
            sink += h;
        }
        return (BenchWindow::now() - start) / queries;
    });
    const BenchFigures::Spread hitThere = BenchFigures::repeat(runs, [&] {
        double took = 0.0;
        std::thread([&] {
            const double start = BenchWindow::now();
            for (int i = 0; i < queries; ++i) {
                float h = 0.0f;
                gWayNetwork.applyHollow(one.x + float(i % 7) * 0.3f, one.y + float(i % 5) * 0.3f, h);
                sink += h;
            }
            took = (BenchWindow::now() - start) / queries;
        }).join();
        return took;
    });
    // The terrain's height on the track: from this thread (whose patches in
    // view have the hollows in their grids) and from another thread (the
    // surface and the hollow lookup, as the physics thread asks).
    auto heights = [&](bool otherThread) {
        return BenchFigures::repeat(runs, [&] {
            double took = 0.0;
            auto ask = [&] {
                const double start = BenchWindow::now();
                for (int i = 0; i < queries; ++i)
                    sink += gTerrain.getHeight(one.x + float(i % 7) * 0.3f, one.y + float(i % 5) * 0.3f, 3);
                took = (BenchWindow::now() - start) / queries;
            };
            if (otherThread)
                std::thread(ask).join();
            else
                ask();
            return took;
        });
    };
    const BenchFigures::Spread heightHere = heights(false), heightThere = heights(true);
    // Off the ways, for comparison: the lookup finds no segment.
    const BenchFigures::Spread heightOff = BenchFigures::repeat(runs, [&] {
        double took = 0.0;
        std::thread([&] {
            const double start = BenchWindow::now();
            for (int i = 0; i < queries; ++i)
                sink += gTerrain.getHeight(1500.0f + float(i % 7) * 0.3f, float(i % 5) * 0.3f, 3);
            took = (BenchWindow::now() - start) / queries;
        }).join();
        return took;
    });

    // The terrain alone: the same place with no ways at all.
    FileArray saved(4096);
    gWayNetwork.write(saved);
    gWayNetwork.clearWays();
    const BenchFigures::Spread heightBare = BenchFigures::repeat(runs, [&] {
        double took = 0.0;
        std::thread([&] {
            const double start = BenchWindow::now();
            for (int i = 0; i < queries; ++i)
                sink += gTerrain.getHeight(1500.0f + float(i % 7) * 0.3f, float(i % 5) * 0.3f, 3);
            took = (BenchWindow::now() - start) / queries;
        }).join();
        return took;
    });
    saved.seek(0, 0);
    gWayNetwork.read(saved);

    // The hollows of a patch's 33 x 33 heights, for every patch the track
    // crosses.
    std::vector<BoundingBox> patches;
    const float patchWidth = 32.0f * gTerrain.horizontalScale;
    for (const vec2d& p : onTrack) {
        BoundingBox box;
        box.minimum = {std::floor(p.x / patchWidth) * patchWidth, -1000.0f, std::floor(p.y / patchWidth) * patchWidth};
        box.maximum = {box.minimum.x + patchWidth, 1000.0f, box.minimum.z + patchWidth};
        patches.push_back(box);
    }
    const BenchFigures::Spread grid = BenchFigures::repeat(runs, [&] {
        float heights[33][33] = {};
        const double start = BenchWindow::now();
        for (const BoundingBox& box : patches)
            gWayNetwork.hollowHeightGrid(heights, box);
        sink += heights[16][16];
        return (BenchWindow::now() - start) / double(patches.size());
    });

    // What the sample's ways add to a frame of the whole scene, seen from a
    // driver's place on the course: the whole frame with the device's
    // drawing waited for, with the ways and without them, and the ways pass
    // alone (its calls, and the device drawing it).
    uint32_t waysTriangles = 0;
    std::vector<double> passCalls, passDrawn;
    auto frameTime = [&](bool ways) {
        for (Way::Modeler* m : gWayNetwork.modelers)
            m->drawn = ways ? 1 : 0;
        return BenchFigures::repeat(runs, [&] {
            constexpr int frames = 40;
            double total = 0.0, calls = 0.0, drawn = 0.0;
            for (int i = 0; i < frames; ++i) {
                const float z = -400.0f + 10.0f * float(i);
                chain->position = {WaySamples::westX, gTerrain.getHeight(WaySamples::westX, z, 3) + 3.0f, z};
                chain->angles = {0.0f, -8.0f, 0.0f};
                chain->setAnglesDeg();
                chain->Camera::update();
                scene.sun.update(gTimer, chain->sun, scene.season, 1.0f, 1.0f);
                chain->update();
                finish();
                const double start = BenchWindow::now();
                chain->beginFrame();
                gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF7090C0u, 1.0f, 0);
                chain->render(false);
                finish();
                total += BenchWindow::now() - start;
                if (ways) {
                    // The pass once more over the finished frame.
                    gDevice->BeginScene();
                    const uint32_t before = gDirectGraphics.record.primitiveCount;
                    const double a = BenchWindow::now();
                    gWayNetwork.render(1);
                    const double b = BenchWindow::now();
                    finish();
                    const double c = BenchWindow::now();
                    gDevice->EndScene();
                    calls += b - a;
                    drawn += c - a;
                    waysTriangles = gDirectGraphics.record.primitiveCount - before;
                }
                chain->present();
                MSG message;
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&message);
            }
            if (ways) {
                passCalls.push_back(calls / frames);
                passDrawn.push_back(drawn / frames);
            }
            return total / frames;
        });
    };
    const BenchFigures::Spread withWays = frameTime(true), withoutWays = frameTime(false);
    const size_t sampleSegments = gWayNetwork.segments.size();
    scene.release();
    createWayModelerSet(&resources);

    // 100 hollow segments in a row: points on the last one with the cache
    // on the first (the whole walk), and on segments drawn at random.
    {
        WayFileWriter::Way row;
        for (int i = 0; i <= 100; ++i)
            row.push_back(point(float(i) * 40.0f, 0.0f, L"TerrainHollow1", 16.0f));
        readWays({row});
    }
    const vec2d first{20.0f, 0.0f}, last{3980.0f, 1.0f};
    const BenchFigures::Spread walk = BenchFigures::repeat(runs, [&] {
        const double start = BenchWindow::now();
        for (int i = 0; i < queries / 10; ++i) {
            float h = 0.0f;
            gWayNetwork.applyHollow(first.x, first.y, h);
            gWayNetwork.applyHollow(last.x, last.y, h);
            sink += h;
        }
        return (BenchWindow::now() - start) / (queries / 10 * 2);
    });

    // The ways pass for 200 road segments around the camera: 10 roads of 20
    // segments, the camera above them looking down the middle.
    {
        std::vector<WayFileWriter::Way> roads;
        for (int r = 0; r < 10; ++r) {
            WayFileWriter::Way road;
            for (int i = 0; i <= 20; ++i)
                road.push_back(point(float(r - 5) * 60.0f, float(i) * 50.0f,
                                     r % 2 ? L"Curbstone1" : L"SimpleWayBorderPaver1", 10.0f));
            roads.push_back(road);
        }
        readWays(roads);
    }
    chain->position = {0.0f, 250.0f, -200.0f};
    chain->angles = {0.0f, -35.0f, 0.0f};
    chain->setAnglesDeg();
    chain->Camera::update();
    uint32_t drawnTriangles = 0;
    const BenchFigures::Spread pass = BenchFigures::repeat(runs, [&] {
        constexpr int frames = 100;
        double total = 0.0;
        for (int i = 0; i < frames; ++i) {
            chain->beginFrame();
            gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF7090C0u, 1.0f, 0);
            gDevice->BeginScene();
            const double start = BenchWindow::now();
            gWayNetwork.updateProjections();
            gWayNetwork.render(1);
            total += BenchWindow::now() - start;
            drawnTriangles = gDirectGraphics.record.primitiveCount;
            gDevice->EndScene();
            chain->present();
        }
        return total / frames;
    });

    // One curbstone segment 1,000 units long cut into more and more steps:
    // its load (cross-sections, ground, mesh) per step.
    const uint32_t stepCounts[] = {64, 256, 512, 1024, 2048};
    std::vector<BenchFigures::Spread> perStep;
    for (uint32_t steps : stepCounts) {
        WayFileWriter::Way way{point(0.0f, 0.0f, L"Curbstone1", 10.0f), point(0.0f, 1000.0f, L"Curbstone1", 10.0f)};
        way[0].stepsPerLength = (float(steps) + 0.5f) / 1000.0f;
        way[0].thinTolerance = 0.0f;
        FileArray bytes(4096);
        WayFileWriter::write({way}, bytes);
        // Once unmeasured: the buffer pools grow to the segment's size.
        bytes.seek(0, 0);
        gWayNetwork.read(bytes);
        perStep.push_back(BenchFigures::repeat(runs, [&] {
            bytes.seek(0, 0);
            const double start = BenchWindow::now();
            gWayNetwork.read(bytes);
            return (BenchWindow::now() - start) / double(steps);
        }));
    }

    // Files of a few KB that ask for more than any level needs: 127
    // curbstone segments of about 2,048 steps each, and three short roads
    // whose every end links every other road's end (refused); a link
    // repeated 1,000 times (read whole).
    std::vector<WayFileWriter::Way> crossSections(1);
    for (int i = 0; i <= 127; ++i) {
        crossSections[0].push_back(point(0.0f, 100.0f * float(i), L"Curbstone1", 10.0f));
        crossSections[0].back().stepsPerLength = 20.4f;
    }
    const auto roads = [](int count, size_t links, int32_t target) {
        std::vector<WayFileWriter::Way> file;
        int32_t id = 0;
        for (int r = 0; r < count; ++r) {
            file.emplace_back();
            for (int i = 0; i < (target < 0 ? 2 : 2 + r); ++i) {
                file.back().push_back(point(100.0f * float(r), 100.0f * float(i), L"SimpleWayBorderPaver1", 8.0f));
                file.back().back().stepsPerLength = 20.475f;
                file.back().back().id = id++;
            }
            file.back().back().name = String(L"Undefined");
            file.back().front().links.assign(links, target < 0 ? int32_t(2 * ((r + 1) % count) + 1) : target);
        }
        return file;
    };
    const struct
    {
        const char* what;
        std::vector<WayFileWriter::Way> ways;
    } hostile[] = {{"127 curbstone segments of 2,048 steps (refused)", crossSections},
                   {"every end linked to every road's end (refused)", roads(3, 3, -1)},
                   {"a link repeated 1,000 times", roads(2, 1000, 3)}};
    BenchFigures::Spread hostileReads[3];
    for (size_t i = 0; i < 3; ++i) {
        FileArray bytes(4096);
        WayFileWriter::write(hostile[i].ways, bytes);
        hostileReads[i] = BenchFigures::repeat(runs, [&] {
            bytes.seek(0, 0);
            const double start = BenchWindow::now();
            gWayNetwork.read(bytes);
            return BenchWindow::now() - start;
        });
    }

    std::printf("sample ways: %zu segments, %.2f km of road\n", sampleSegments, roadLength / 1000.0f);
    BenchFigures::print("mesh build (load of the sample's ways), per km", build, 1000.0, "ms");
    for (size_t i = 0; i < perStep.size(); ++i) {
        char label[64];
        std::snprintf(label, sizeof(label), "curbstone segment of %u steps, per step", stepCounts[i]);
        BenchFigures::print(label, perStep[i], 1.0e6, "us");
    }
    BenchFigures::print("applyHollow, cache hit, main thread", hit, 1.0e6, "us");
    BenchFigures::print("applyHollow, cache hit, other thread", hitThere, 1.0e6, "us");

    BenchFigures::print("applyHollow, over 100 segments (first and last)", walk, 1.0e6, "us");
    BenchFigures::print("getHeight on the track, main thread (patch grids)", heightHere, 1.0e6, "us");
    BenchFigures::print("getHeight on the track, other thread (hollow lookup)", heightThere, 1.0e6, "us");
    BenchFigures::print("getHeight off the ways, other thread", heightOff, 1.0e6, "us");
    BenchFigures::print("getHeight with no ways at all, other thread", heightBare, 1.0e6, "us");
    std::printf("hollowHeightGrid, %zu patches along the track\n", patches.size());
    BenchFigures::print("", grid, 1.0e6, "us");
    std::printf("ways pass, 200 segments (%u triangles drawn)\n", drawnTriangles);
    BenchFigures::print("", pass, 1000.0, "ms");
    std::printf("sample's ways in a driver's view (%u triangles)\n", waysTriangles);
    BenchFigures::print("  the pass's calls", BenchFigures::of(passCalls), 1000.0, "ms");
    BenchFigures::print("  the pass drawn (calls and the device)", BenchFigures::of(passDrawn), 1000.0, "ms");
    BenchFigures::print("scene frame with the sample's ways", withWays, 1000.0, "ms");
    BenchFigures::print("scene frame without them", withoutWays, 1000.0, "ms");
    std::printf("the ways add: min %.3f ms, median %.3f ms\n", (withWays.minimum - withoutWays.minimum) * 1000.0,
                (withWays.median - withoutWays.median) * 1000.0);
    std::printf("way files that ask for too much, read:\n");
    for (size_t i = 0; i < 3; ++i) {
        const std::string label = std::string("  ") + hostile[i].what;
        BenchFigures::print(label.c_str(), hostileReads[i], 1000.0, "ms");
    }
    std::printf("(checksum %g)\n", double(sink));

    WayModelerSet::destroy();
    gWayNetwork.clear();
    BenchWindow::close(window);
    return 0;
}
