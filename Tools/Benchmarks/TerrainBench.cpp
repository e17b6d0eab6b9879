// Prints what the terrain's own code takes on one core: loading the sample
// valley with its first level-of-detail pass, the update and draw calls of a
// frame at 1024 x 768 while the camera flies along the valley (the device's
// own drawing and presenting timed apart), the height query and the physics
// query for a quad-sized box on a cached patch. Needs a display and the game
// data ("Data\Map\Valley.map" under the working folder or the build folder).
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"

#include "Entity/CollisionQuery.h"
#include "BenchFigures.h"
#include "BenchWindow.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

String dataPath(const wchar_t* name)
{
    const String local = String(L"Data\\Map\\") + name;
    if (GetFileAttributesW(local.text()) != INVALID_FILE_ATTRIBUTES)
        return local;
    return getModuleFolder() + L"..\\..\\Data\\Map\\" + name;
}

}

int main()
{
    HWND window = BenchWindow::open(L"TerrainBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain* chain = gDirectGraphics.record.firstSwapChain();
    Camera& camera = *chain;

    // The level's settings, then the terrain as the scene builds it.
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.readLevel([] {
        static FileArray bytes;
        FileInterface* file = openFile(dataPath(L"Valley.tee"), 0, 1, 1);
        if (file && file->isOpen)
            bytes.loadFrom(*file);
        if (file)
            file->close();
        return std::ref(bytes);
    }().get());
    const SceneTerrain& level = scene.terrainLayer;
    Terrain::Settings settings;
    settings.path = dataPath(L"Valley.map");
    settings.lodDistance = level.lodDistance;
    settings.horizontalScale = level.horizontalScale;
    settings.verticalScale = level.verticalScale;
    settings.firstRepeat = float(level.firstRepeat);
    settings.secondRepeat = level.secondRepeat;
    for (int i = 0; i < 4; ++i)
        settings.colourOps[i] = level.colourOps[i];
    camera.position = {0.0f, 150.0f, -2000.0f};
    camera.angles = {0.0f, -15.0f, 0.0f};
    camera.setAnglesDeg();
    camera.Camera::update();
    const double loadStart = BenchWindow::now();
    if (!gTerrain.load(nullptr, settings)) {
        std::printf("no sample terrain at %ls\n", settings.path.text());
        return 1;
    }
    const double loaded = BenchWindow::now();
    gTerrain.startLod(static_cast<const Camera&>(camera));
    const double lod = BenchWindow::now();
    // The first frame draws the texels of every patch in view into the tiles.
    chain->beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF7090C0u, 1.0f, 0);
    gDevice->BeginScene();
    gTerrain.update(camera);
    gTerrain.render(1);
    gDevice->EndScene();
    const double firstCalls = BenchWindow::now();
    chain->present();
    const double firstFrame = BenchWindow::now();

    // Driving pace (about 1.5 units a frame) and a fast flight (12), each
    // flown several times from the same start. The first frames after the
    // jump back to the start build a whole view of new patches and are left
    // out of the frame figures.
    struct Flight
    {
        const char* name;
        float pace;
        std::vector<double> runs = {};    // mean own time per frame of each run
        std::vector<double> updates = {}; // mean update time per frame of each run
        std::vector<double> devices = {}; // mean device drawing and present per frame of each run
        std::vector<double> frames = {};  // own time of every frame after the first 5 of a run
    };
    Flight flights[2] = {{"driving", 1.5f}, {"flying", 12.0f}};
    constexpr int frames = 300, runs = 3, settle = 5;
    for (int run = 0; run < runs; ++run)
        for (Flight& flight : flights) {
            double own = 0.0, update = 0.0, device = 0.0;
            for (int i = 0; i < frames; ++i) {
                const float z = -2000.0f + flight.pace * float(i);
                camera.position = {0.0f, gTerrain.getHeight(0.0f, z, 3) + 60.0f, z};
                camera.angles.x = 20.0f * std::sin(float(i) * 0.02f);
                camera.setAnglesDeg();
                camera.Camera::update();
                const double a = BenchWindow::now();
                gTerrain.update(camera);
                const double b = BenchWindow::now();
                chain->beginFrame();
                gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF7090C0u, 1.0f, 0);
                gDevice->BeginScene();
                const double c = BenchWindow::now();
                gTerrain.render(1);
                const double d = BenchWindow::now();
                gDevice->EndScene();
                chain->present();
                const double e = BenchWindow::now();
                if (i >= settle) {
                    own += (b - a) + (d - c);
                    update += b - a;
                    device += e - d;
                    flight.frames.push_back((b - a) + (d - c));
                }
                MSG message;
                while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                    DispatchMessageW(&message);
            }
            flight.runs.push_back(own / (frames - settle));
            flight.updates.push_back(update / (frames - settle));
            flight.devices.push_back(device / (frames - settle));
        }

    std::mt19937 random(1);
    const float half = gTerrain.box.maximum.x;
    std::uniform_real_distribution<float> anywhere(-half, half);
    constexpr int queries = 200000;
    std::vector<vec3d> points(queries);
    for (vec3d& p : points)
        p = {anywhere(random), 0.0f, anywhere(random)};
    float sink = 0.0f;
    auto heights = [&](int32_t resolution) {
        return BenchFigures::repeat(runs, [&] {
            const double start = BenchWindow::now();
            for (const vec3d& p : points)
                sink += gTerrain.getHeight(p.x, p.z, resolution);
            return (BenchWindow::now() - start) / queries;
        });
    };
    const BenchFigures::Spread height = heights(3), coarse = heights(0);

    // A quad of 2 x 1.3 x 3 units resting on the ground of one patch.
    const float y = gTerrain.getHeight(100.0f, 100.0f, 3);
    CollisionQuery query;
    query.boxMin = {99.0f, y - 0.5f, 98.5f};
    query.boxMax = {101.0f, y + 1.3f, 101.5f};
    gTerrain.cachePatchesInBox(query);
    constexpr int boxes = 100000;
    const BenchFigures::Spread box = BenchFigures::repeat(runs, [&] {
        const double start = BenchWindow::now();
        for (int i = 0; i < boxes; ++i) {
            query.triangleCount = query.vertexCount = 0;
            gTerrain.cachePatchesInBox(query);
        }
        return (BenchWindow::now() - start) / boxes;
    });

    std::printf("sample terrain (S = %d) load        %.1f ms\n", gTerrain.size, (loaded - loadStart) * 1000.0);
    std::printf("first level-of-detail pass          %.1f ms (%zu patches in view)\n", (lod - loaded) * 1000.0,
                gTerrain.detailed.size());
    std::printf("first frame after it (every patch's texels) %.1f ms of calls, %.1f ms with the device's drawing\n",
                (firstCalls - lod) * 1000.0, (firstFrame - lod) * 1000.0);
    for (const Flight& flight : flights) {
        char label[96];
        std::snprintf(label, sizeof(label), "frame, %s: update and render calls", flight.name);
        BenchFigures::print(label, BenchFigures::of(flight.runs), 1000.0, "ms");
        std::snprintf(label, sizeof(label), "frame, %s: of which the update", flight.name);
        BenchFigures::print(label, BenchFigures::of(flight.updates), 1000.0, "ms");
        const BenchFigures::Spread each = BenchFigures::of(flight.frames);
        std::printf("frame, %s: single frames: 99th percentile %.3f ms, worst %.3f ms\n", flight.name,
                    each.percentile99 * 1000.0, each.worst * 1000.0);
        std::snprintf(label, sizeof(label), "frame, %s: device drawing and present", flight.name);
        BenchFigures::print(label, BenchFigures::of(flight.devices), 1000.0, "ms");
    }
    BenchFigures::print("getHeight, resolution 3", height, 1.0e6, "us");
    BenchFigures::print("getHeight, resolution 0", coarse, 1.0e6, "us");
    std::printf("cachePatchesInBox, quad on a cached patch (%u triangles)\n", query.triangleCount);
    BenchFigures::print("", box, 1.0e6, "us");
    std::printf("(checksum %g)\n", double(sink));



    gTerrain.clear();
    BenchWindow::close(window);
    return 0;
}
