// Prints what the whole sample level costs at 1024 x 768: the level's load
// through Scene::load (with its loading frames), the frames per second of a
// fixed flight around the valley as the game draws them (update, the
// frame's passes, present), and the time of our code per frame split by
// pass: sky (with the sun's glow), terrain, water with its reflection,
// meadow, far field (and the ways and the rest of the frame's calls). Pass
// times are the wall time of the calls on this thread, which is our code's
// CPU time plus any wait for the device (Wine's thread clock ticks too
// coarsely for single calls); the device's own threads draw the pixels.
// Then the water pass alone, with the level's objects and vehicles mirrored
// in the water and with them masked out of the reflections, run for run.
// Each figure is the minimum and the median of several runs. Last, the load
// of a copy of the level with one side file damaged at a time (empty, cut to
// half, or random bytes), as the level tests damage them, and with each of
// the level tests' costly grass and water files and with the water files at
// the bounds, each with its first frames.
// With a map's file name as its argument it loads and flies that map of
// the map folder instead of the valley.
// Needs a display and the game data ("Data\Map\Valley.tee" under the
// working folder or the build folder).
#include "../../Tests/Landscape/CostlyFiles.h"
#include "BenchDevice.h"
#include "BenchFigures.h"
#include "BenchWindow.h"

#include "Entity/Entity.h"
#include "Entity/EntityManager.h"
#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"
#include "Entity/StaticEntityManager.h"
#include "Landscape/HLod.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/SceneView.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"

#include "Render/StripEffectManager.h"
#include "Way/WayModeler.h"
#include "Way/WayNetwork.h"
#include "Render/SwapChain.h"

#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int pathFrames = 240;
constexpr int runs = 5;

// The flight: a loop over the valley floor around the lake and along the
// course, 20 to 60 above the ground or the water, looking along the way.
void placeOnPath(D3D::Device::SwapChain& chain, int frame)
{
    const float a = 6.2831853f * float(frame) / float(pathFrames);
    const float x = -100.0f + 700.0f * std::cos(a), z = -300.0f + 1300.0f * std::sin(a);
    const float dx = -700.0f * std::sin(a), dz = 1300.0f * std::cos(a);
    float ground = gTerrain.getHeight(x, z, 3);
    ground = ground > 47.0f ? ground : 47.0f;
    chain.position = {x, ground + 40.0f + 20.0f * std::sin(3.0f * a), z};
    chain.angles = {std::atan2(-dx, dz) * 57.29578f, -6.0f, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();
}

// One frame as the application draws it: the scene's camera step, the
// entities and the managers' update, then the frame on the fog colour.
void frame(Scene& scene, D3D::Device::SwapChain& chain)
{
    scene.updateCamera();
    if (chain.entities)
        chain.entities->update();
    chain.update();
    chain.beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, chain.fogColour.argb() | 0xFF000000u, 1.0f, 0);
    chain.render(true);
    chain.present();
}

enum Pass { sky, terrain, water, meadow, farField, ways, rest, present, passCount };
const char* const passNames[passCount] = {"sky",
                                          "terrain",
                                          "water with its reflection",
                                          "meadow",
                                          "far field",
                                          "ways",
                                          "rest of the frame's calls",
                                          "present (the device's frame queue)"};

// Seconds of CPU this thread has used (Wine counts them in ticks of about
// 10 ms: only sums over many frames mean something).
double threadTime()
{
    FILETIME created, exited, kernel, user;
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME& t) {
        return double(uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) * 1.0e-7;
    };
    return seconds(kernel) + seconds(user);
}

// The same frame with each pass's calls (update and draw) timed on their
// own, in the frame's order; adds seconds per pass to times (wall) and cpu
// (this thread's CPU time).
void splitFrame(Scene& scene, D3D::Device::SwapChain& chain, double times[passCount], double cpu[passCount])
{
    double t = BenchDevice::seconds(), c = threadTime();
    auto lap = [&](Pass pass) {
        const double now = BenchDevice::seconds(), used = threadTime();
        times[pass] += now - t;
        cpu[pass] += used - c;
        t = now;
        c = used;
    };
    scene.updateCamera();
    if (chain.entities)
        chain.entities->update();
    lap(rest);
    if (chain.viewRecord)
        Scene::updateSky(*chain.viewRecord);
    lap(sky);
    if (chain.staticEntities)
        chain.staticEntities->update(0);
    if (chain.entities)
        chain.entities->assignTexProjs();
    lap(rest);
    gWayNetwork.updateProjections();
    lap(ways);
    gTerrain.update(chain);
    lap(terrain);
    gWater.update(0);
    lap(water);
    if (chain.meadow)
        chain.meadow->update();
    lap(meadow);
    if (chain.sunGlow)
        Scene::Sun::updateGlow(*chain.sunGlow, chain);
    lap(sky);
    if (chain.stripEffects)
        chain.stripEffects->update();
    lap(rest);
    if (chain.farField)
        chain.farField->update();
    lap(farField);

    chain.beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, chain.fogColour.argb() | 0xFF000000u, 1.0f, 0);
    gDevice->BeginScene();
    lap(rest);
    if (chain.viewRecord)
        Scene::renderSky(*chain.viewRecord);
    lap(sky);
    gTerrain.render(1);
    lap(terrain);
    if (chain.stripEffects)
        chain.stripEffects->render();
    if (chain.entities)
        chain.entities->render(1);
    lap(rest);
    gWayNetwork.render(1);
    lap(ways);
    if (chain.meadow)
        chain.meadow->render(1);
    lap(meadow);
    gWater.render(chain);
    lap(water);
    if (chain.farField)
        chain.farField->render();
    lap(farField);
    if (chain.meadow)
        chain.meadow->render(0);
    lap(meadow);
    if (chain.sprites)
        chain.sprites->render();
    lap(rest);
    if (chain.sunGlow) {
        Scene::Sun::renderGlare(*chain.sunGlow);
        Scene::Sun::renderMaskGlow(*chain.sunGlow, 0);
        Scene::Sun::renderGlow(*chain.sunGlow, chain);
    }
    lap(sky);
    if (chain.particles)
        chain.particles->render(true);
    gDevice->EndScene();
    lap(rest);
    chain.present();
    lap(present);
}

}

std::vector<uint8_t> fileBytes(const std::wstring& path)
{
    std::vector<uint8_t> bytes;
    if (FILE* file = _wfopen(path.c_str(), L"rb")) {
        uint8_t chunk[65536];
        for (size_t n; (n = std::fread(chunk, 1, sizeof(chunk), file)) > 0;)
            bytes.insert(bytes.end(), chunk, chunk + n);
        std::fclose(file);
    }
    return bytes;
}

bool writeBytes(const std::wstring& path, const std::vector<uint8_t>& bytes)
{
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && ok;
}

// The level copied into a folder of its own, each side file in turn empty,
// cut to half or random bytes (the others whole): the loads, the slowest
// named.
void damagedLoads(Scene& scene, const String& level)
{
    D3D::Device::SwapChain& chain = *scene.swapChain;
    const std::wstring source(level.text());
    const std::wstring stem = source.substr(0, source.size() - 4);
    const std::wstring name = stem.substr(stem.find_last_of(L"\\/") + 1);
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + L"LevelBenchDamage\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const wchar_t* const extensions[] = {L".tee", L".map", L".wtr", L".mdw", L".way", L".obj"};
    std::vector<uint8_t> whole[6];
    for (int e = 0; e < 6; ++e) {
        whole[e] = fileBytes(stem + extensions[e]);
        writeBytes(folder + name + extensions[e], whole[e]);
    }
    const char* const damageNames[] = {"empty", "cut", "random"};
    std::mt19937 random(75);
    std::vector<double> loads;
    double slowest = -1.0;
    std::string slowestName;
    for (int e = 1; e < 6; ++e)
        for (int damage = 0; damage < 3; ++damage) {
            std::vector<uint8_t> bytes = whole[e];
            if (damage == 0)
                bytes.clear();
            else if (damage == 1)
                bytes.resize(bytes.size() / 2);
            else
                for (uint8_t& b : bytes)
                    b = uint8_t(random());
            writeBytes(folder + name + extensions[e], bytes);
            const double t0 = BenchDevice::seconds();
            scene.load(String((folder + name + L".tee").c_str()));
            const double t = BenchDevice::seconds() - t0;
            scene.clear();
            writeBytes(folder + name + extensions[e], whole[e]);
            loads.push_back(t);
            if (t > slowest) {
                slowest = t;
                const std::wstring extension(extensions[e] + 1);
                slowestName = std::string(extension.begin(), extension.end()) + " " + damageNames[damage];
            }
        }
    BenchFigures::print("load with a side file damaged (15 kinds)", BenchFigures::of(loads), 1000.0, "ms");
    std::printf("  the slowest: %s, %.1f ms\n", slowestName.c_str(), slowest * 1000.0);
    // The load, then the first frames of the flight as the game draws them
    // (every patch of grass around the camera placed, the water woken).
    std::vector<double> firsts;
    const auto loadOfCopy = [&] {
        firsts.clear();
        return BenchFigures::repeat(3, [&] {
            const double t0 = BenchDevice::seconds();
            scene.load(String((folder + name + L".tee").c_str()));
            const double t = BenchDevice::seconds() - t0;
            const double f0 = BenchDevice::seconds();
            for (int i = 0; i < 3; ++i) {
                placeOnPath(chain, i);
                frame(scene, chain);
            }
            firsts.push_back(BenchDevice::seconds() - f0);
            scene.clear();
            return t;
        });
    };
    BenchFigures::print("load of the copy whole", loadOfCopy(), 1000.0, "ms");
    BenchFigures::print("  its first three frames", BenchFigures::of(firsts), 1000.0, "ms");
    for (const wchar_t* extension : {L".mdw", L".wtr"}) {
        const int e = std::wstring(extension) == L".mdw" ? 3 : 2;
        for (const auto& [what, bytes] : CostlyFiles::of(extension)) {
            writeBytes(folder + name + extension, bytes);
            const BenchFigures::Spread costly = loadOfCopy();
            writeBytes(folder + name + extension, whole[e]);
            const std::wstring wide(extension + 1);
            const std::string label = "  with a costly " + std::string(wide.begin(), wide.end()) + " (" + what + ")";
            BenchFigures::print(label.c_str(), costly, 1000.0, "ms");
            BenchFigures::print("    its first three frames", BenchFigures::of(firsts), 1000.0, "ms");
        }
    }
    for (const auto& [what, bytes] : CostlyFiles::atTheBounds()) {
        writeBytes(folder + name + L".wtr", bytes);
        const BenchFigures::Spread bounded = loadOfCopy();
        writeBytes(folder + name + L".wtr", whole[2]);
        BenchFigures::print(("  with a wtr of " + what).c_str(), bounded, 1000.0, "ms");
        BenchFigures::print("    its first three frames", BenchFigures::of(firsts), 1000.0, "ms");
    }
    for (const wchar_t* extension : extensions)
        DeleteFileW((folder + name + extension).c_str());
    RemoveDirectoryW(folder.c_str());
}

int main(int argc, char** argv)
{
    // The game's hooks are its own business; an empty client still draws
    // (and presents) every loading frame.
    struct Client final : D3D::SwapChainInterface
    {
    } client;
    HWND window = nullptr;
    D3D::Device::SwapChain* opened = BenchDevice::open(L"LevelBench", 1024, 768, client, window);
    if (!opened)
        return 1;
    D3D::Device::SwapChain& chain = *opened;
    // Another level of the map folder by its file name ("LevelBench DEWaldweg"), else the valley.
    String level = BenchWindow::sampleLevel();
    if (argc > 1) {
        const std::string name = argv[1];
        const String file(std::wstring(name.begin(), name.end()).c_str());
        String local = String(L"Data\\Map\\") + file + L".tee";
        if (GetFileAttributesW(local.text()) == INVALID_FILE_ATTRIBUTES)
            local = getModuleFolder() + L"..\\..\\Data\\Map\\" + file + L".tee";
        level = local;
    }
    // The roads' textures come from the game's archive.
    String archive(L"Data\\Resource\\Resource.res");
    if (GetFileAttributesW(archive.text()) == INVALID_FILE_ATTRIBUTES)
        archive = getModuleFolder() + L"..\\..\\Data\\Resource\\Resource.res";
    ResourceManager resources;
    resources.load(archive);
    createWayModelerSet(&resources);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;

    // The load, from the main file to the warm-up, then the way back.
    std::vector<double> loads, clears;
    for (int r = 0; r < runs; ++r) {
        const double t0 = BenchDevice::seconds();
        if (!scene.load(level) || !gTerrain.isLoaded()) {
            std::printf("no sample level\n");
            return 1;
        }
        const double t1 = BenchDevice::seconds();
        if (r + 1 < runs)
            scene.clear();
        clears.push_back(BenchDevice::seconds() - t1);
        loads.push_back(t1 - t0);
    }
    std::printf("sample level at %ux%u: %d water areas, %d meadow layers, %zu way segments\n",
                chain.presentParameters.BackBufferWidth, chain.presentParameters.BackBufferHeight,
                gWater.live.count() + gWater.dormant.count(), chain.meadow ? chain.meadow->layers.count() : 0,
                gWayNetwork.segments.size());
    BenchFigures::print("level load (Scene::load, loading frames)", BenchFigures::of(loads), 1000.0, "ms");
    BenchFigures::print("level clear", BenchFigures::of(clears), 1000.0, "ms");

    scene.camera.mode = SceneCamera::vehicleMode; // the flight places the camera
    gFrameFactor.store(1.0f);
    // Warm: every patch, blade and picture along the path made once.
    for (int i = 0; i < pathFrames; ++i) {
        placeOnPath(chain, i);
        frame(scene, chain);
    }

    std::vector<double> fps, frameTimes;
    std::vector<double> passRuns[passCount], totalRuns, cpuRuns[passCount], cpuTotalRuns;
    for (int r = 0; r < runs; ++r) {
        const double t0 = BenchDevice::seconds();
        for (int i = 0; i < pathFrames; ++i) {
            const double f0 = BenchDevice::seconds();
            placeOnPath(chain, i);
            frame(scene, chain);
            frameTimes.push_back(BenchDevice::seconds() - f0);
        }
        fps.push_back(double(pathFrames) / (BenchDevice::seconds() - t0));

        double times[passCount] = {}, cpu[passCount] = {};
        for (int i = 0; i < pathFrames; ++i) {
            placeOnPath(chain, i);
            splitFrame(scene, chain, times, cpu);
        }
        double total = 0.0, cpuTotal = 0.0;
        for (int p = 0; p < passCount; ++p) {
            passRuns[p].push_back(times[p] / pathFrames);
            cpuRuns[p].push_back(cpu[p] / pathFrames);
            total += p >= ways ? 0.0 : times[p] / pathFrames;
            cpuTotal += p >= ways ? 0.0 : cpu[p] / pathFrames;
        }
        totalRuns.push_back(total);
        cpuTotalRuns.push_back(cpuTotal);
    }

    // What the mirrored objects and vehicles cost the water pass: the flight
    // with every entity in the reflections and with every entity masked out
    // of them (as the water drew before), in turn, run after run.
    std::vector<double> mirrored[2], masked[2];
    auto waterPass = [&](uint32_t mask, std::vector<double> (&out)[2]) {
        double times[passCount] = {}, cpu[passCount] = {};
        for (int i = 0; i < pathFrames; ++i) {
            placeOnPath(chain, i);
            // Objects come alive along the way: each frame's entities.
            if (chain.entities)
                for (auto* node = chain.entities->entities.head(); node; node = node->next)
                    node->item->reflectionMask = mask;
            splitFrame(scene, chain, times, cpu);
        }
        out[0].push_back(times[water] / pathFrames);
        out[1].push_back(cpu[water] / pathFrames);
    };
    for (int r = 0; r < runs; ++r) {
        waterPass(0, mirrored);
        waterPass(1, masked);
    }
    waterPass(0, mirrored);

    const BenchFigures::Spread rate = BenchFigures::of(fps);
    std::printf("%-52s min %9.1f fps, median %9.1f fps (goal: 25 or more)\n", "flight over the valley", rate.minimum,
                rate.median);
    const BenchFigures::Spread frames = BenchFigures::of(frameTimes);
    std::printf("%-52s median %6.2f ms, 99th percentile %6.2f ms, worst %6.2f ms\n", "single frames", frames.median * 1000.0,
                frames.percentile99 * 1000.0, frames.worst * 1000.0);
    std::printf("per frame, wall time of the calls:\n");
    for (int p = 0; p < passCount; ++p) {
        char label[80];
        std::snprintf(label, sizeof(label), "  pass: %s", passNames[p]);
        BenchFigures::print(label, BenchFigures::of(passRuns[p]), 1000.0, "ms");
    }
    BenchFigures::print("  the five passes together", BenchFigures::of(totalRuns), 1000.0, "ms");
    std::printf("per frame, this thread's CPU time:\n");
    for (int p = 0; p < passCount; ++p) {
        char label[80];
        std::snprintf(label, sizeof(label), "  pass: %s", passNames[p]);
        BenchFigures::print(label, BenchFigures::of(cpuRuns[p]), 1000.0, "ms");
    }
    BenchFigures::print("  the five passes together (goal: under 8 ms)", BenchFigures::of(cpuTotalRuns), 1000.0, "ms");
    std::printf("the water pass with the entities mirrored, and with them masked out of the reflections:\n");
    BenchFigures::print("  mirrored, wall time", BenchFigures::of(mirrored[0]), 1000.0, "ms");
    BenchFigures::print("  masked out, wall time", BenchFigures::of(masked[0]), 1000.0, "ms");
    BenchFigures::print("  mirrored, this thread's CPU time", BenchFigures::of(mirrored[1]), 1000.0, "ms");
    BenchFigures::print("  masked out, this thread's CPU time", BenchFigures::of(masked[1]), 1000.0, "ms");
    std::printf("goal for the load: under 1000 ms\n");
    scene.clear();
    damagedLoads(scene, level);

    scene.release();
    WayModelerSet::destroy();
    BenchWindow::close(window);
    return 0;
}
