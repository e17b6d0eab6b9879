// Prints what the water takes on one core: a frame of the sample's water
// (the update and the render with the lake's reflection and the sky mask)
// in wall time and in this thread's CPU time (the device's own threads draw
// the pixels), a wave step of the pond's 64 near macros (N = 8), and the
// point test on an area of 64 triangles, and the reads of the valley's water
// and of water files that ask for much, each with its first frames. Needs a
// display and the game data
// ("Data\Map\Valley.tee" under the working folder or the build folder).
#include "../../Tests/Landscape/CostlyFiles.h"
#include "BenchFigures.h"
#include "BenchWindow.h"

#include "Landscape/Scene.h"
#include "Landscape/Water.h"

#include "Render/Light.h"
#include "Render/SwapChain.h"

#include "Core/Math.h"

#include <windows.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

// Seconds of CPU this thread has used.
double threadTime()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1.0e-7;
    };
    return seconds(kernel) + seconds(user);
}

WaterArea* findArea(const wchar_t* name)
{
    for (Water::AreaList* list : {&gWater.live, &gWater.dormant})
        for (auto* node = list->head(); node; node = node->next)
            if (std::wstring(node->item->name.text()) == name)
                return node->item;
    return nullptr;
}

void look(D3D::Device::SwapChain& chain, const vec3d& position, float yaw, float pitch)
{
    chain.position = position;
    chain.angles = {yaw, pitch, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();
}

}

int main()
{
    HWND window = BenchWindow::open(L"WaterBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain& chain = *gDirectGraphics.record.firstSwapChain();
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    if (!scene.load(BenchWindow::sampleLevel())) {
        std::printf("no sample level\n");
        return 1;
    }

    // The lake's shore, within its reflection range, looking over it.
    look(chain, {0.0f, 60.0f, -400.0f}, 90.0f, -6.0f);
    // Runs of 200 frames (the thread clock ticks coarsely), after 20 that
    // settle the areas.
    constexpr int frames = 200, runs = 5, settle = 20;
    std::vector<double> walls, cpus;
    for (int run = 0; run < runs; ++run) {
        double wall = 0.0, cpu = 0.0;
        for (int i = 0; i < frames + (run == 0 ? settle : 0); ++i) {
            chain.position.x = float(i % 2) * 0.5f; // moved enough for the scan each frame
            chain.Camera::update();
            chain.beginFrame();
            gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
            gDevice->BeginScene();
            const double w0 = BenchWindow::now(), c0 = threadTime();
            gWater.update(0);
            gWater.render(chain);
            const double w1 = BenchWindow::now(), c1 = threadTime();
            gDevice->EndScene();
            chain.present();
            if (run > 0 || i >= settle) {
                wall += w1 - w0;
                cpu += c1 - c0;
            }
        }
        walls.push_back(wall / frames);
        cpus.push_back(cpu / frames);
    }
    WaterArea* lake = findArea(L"Lake");
    const bool reflected = lake && lake->reflection.inUse && lake->reflection.inUse == lake->reflection.target;

    // The pond's 64 macros stepped as one frame of the game steps them.
    WaterArea* pond = findArea(L"Pond");
    BenchFigures::Spread stepTime;
    int macros = 0;
    if (pond && pond->physics.build()) {
        WaterPhysics& physics = pond->physics;
        WaterPhysics::Patch& patch = *physics.patches.head()->item;
        if (patch.macroCount == 0)
            physics.buildMacros(patch);
        const vec3d camera{-200.0f, 50.0f, 800.0f};
        constexpr int steps = 2000;
        bool first = true;
        stepTime = BenchFigures::repeat(runs, [&] {
            const double start = BenchWindow::now();
            for (int s = 0; s < steps; ++s) {
                if (s % 50 == 0)
                    physics.addRipple({-200.0f + float(s % 40), 790.0f}, 0.8f);
                for (int32_t m = 0; m < patch.macroCount; ++m) {
                    WaterPhysics::Macro& macro = *patch.macros.at(m);
                    if (macro.box.maximum.x > macro.box.minimum.x) {
                        macro.simulate(physics, camera, chain.sun);
                        macros += first && s == 0;
                    }
                }
                physics.finishFrame();
            }
            first = false;
            return (BenchWindow::now() - start) / steps;
        });
    }

    // The point test on a fan of 64 triangles.
    WaterArea area(nullptr);
    *area.outline.at(0) = {0.0f, 0.0f};
    for (int i = 0; i < 64; ++i) {
        const float a = 6.2831853f * float(i) / 64.0f;
        *area.outline.at(i + 1) = {100.0f * floatCos(a), 100.0f * floatSin(a)};
        for (int v : {0, i + 1, (i + 1) % 64 + 1})
            *area.triangles.at(area.indexCount++) = uint16_t(v);
    }
    area.outlineCount = 65;
    area.box.minimum = {-100.0f, -10.0f, -100.0f};
    area.box.maximum = {100.0f, 0.0f, 100.0f};
    std::mt19937 random(5);
    std::uniform_real_distribution<float> spread(-100.0f, 100.0f);
    std::vector<vec3d> points(4096);
    for (vec3d& p : points)
        p = {spread(random), -1.0f, spread(random)};
    constexpr int rounds = 200;
    int inside = 0;
    const BenchFigures::Spread pointTime = BenchFigures::repeat(runs, [&] {
        inside = 0;
        const double start = BenchWindow::now();
        for (int r = 0; r < rounds; ++r)
            for (const vec3d& p : points)
                inside += area.isPointInWater(p);
        return (BenchWindow::now() - start) / (rounds * double(points.size()));
    });

    std::printf("water frame: update, sky mask, %s\n", reflected ? "lake reflection" : "no reflection");
    BenchFigures::print("water frame, wall time", BenchFigures::of(walls), 1000.0, "ms");
    BenchFigures::print("water frame, CPU time of this thread", BenchFigures::of(cpus), 1000.0, "ms");
    std::printf("wave step: %d near macros of N = %d\n", macros, pond ? pond->physics.n : 0);
    BenchFigures::print("wave step", stepTime, 1000.0, "ms");
    std::printf("isPointInWater: 64 triangles, %d%% inside\n", int(100.0 * inside / (rounds * double(points.size()))));
    BenchFigures::print("isPointInWater", pointTime, 1.0e6, "us");
    // The valley's water as the builder writes it, then the level tests'
    // costly water files and the files at the bounds, each read as a
    // level's load reads it (textures made on the device; the read stops
    // at the bound), then the first
    // frames by the pond (within its wave range, every patch near, looking
    // at it) as after the load, the warm-up's forced update first.
    FileArray valley(1 << 16);
    WaterFileWriter::write(WaterSamples::valley(), valley);
    std::vector<std::pair<std::string, std::vector<uint8_t>>> files = {
        {"the valley's own", LandscapeTestFiles::bytesOf(valley)}};
    for (auto& file : CostlyFiles::of(L".wtr"))
        files.push_back(std::move(file));
    for (auto& file : CostlyFiles::atTheBounds())
        files.push_back(std::move(file));
    gWater.clear();
    for (const auto& [what, bytes] : files) {
        std::vector<double> firsts;
        const BenchFigures::Spread reads = BenchFigures::repeat(3, [&] {
            FileArray stream;
            LandscapeTestFiles::streamOf(stream, bytes);
            gWater.init();
            const double start = BenchWindow::now();
            gWater.read(&chain, stream);
            const double read = BenchWindow::now() - start;
            look(chain, {-120.0f, 55.0f, 800.0f}, 90.0f, -10.0f);
            const double drawn = BenchWindow::now();
            for (int i = 0; i < 3; ++i) {
                chain.beginFrame();
                gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
                gDevice->BeginScene();
                gWater.update(i == 0);
                gWater.render(chain);
                gDevice->EndScene();
                chain.present();
            }
            firsts.push_back(BenchWindow::now() - drawn);
            gWater.clear();
            return read;
        });
        BenchFigures::print(("read of a water file (" + what + ")").c_str(), reads, 1000.0, "ms");
        BenchFigures::print("  its first three frames by the pond", BenchFigures::of(firsts), 1000.0, "ms");
    }
    scene.release();
    BenchWindow::close(window);
    return 0;
}
