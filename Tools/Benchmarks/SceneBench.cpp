// Prints what the scene's own code takes on one core: reading and writing the
// sample level's main file, one camera update in the free and the path mode,
// and a load and clear of the sample without its side files (and one with
// its terrain), each load building the builder's object packages anew. The
// device has no client, so no loading frames are drawn.
// Needs a display and the game data ("Data\Map\Valley.tee" under the
// working folder or the build folder).
#include "Landscape/Scene.h"
#include "Objects/ObjectPackage.h"

#include "BenchFigures.h"
#include "BenchWindow.h"

#include "Core/File.h"
#include "Core/Timer.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

class Cameras final : public Scene::CameraObjects
{
public:
    int32_t collect(DynArray<Scene::CameraObject>& out) override
    {
        for (int32_t n = 0; n < 3; ++n) {
            Scene::CameraObject* object = out.at(n);
            object->number = n;
            object->transform.m[12] = 400.0f * float(n);
            object->transform.m[14] = 100.0f * float(n * n);
        }
        return 3;
    }
};

}

int main()
{
    HWND window = BenchWindow::open(L"SceneBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    const String path = BenchWindow::sampleLevel();
    FileArray sample;
    {
        File file(path, 0, 1, 1);
        if (!file.isOpen || !sample.loadFrom(file)) {
            std::printf("no sample level at %ls\n", path.text());
            return 1;
        }
    }
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = gDirectGraphics.record.firstSwapChain();
    gFrameFactor.store(1.0f);
    // The objects folder beside the sample's data folder.
    const int32_t levelPart = int32_t(wcslen(L"Data\\Map\\Valley.tee"));
    scene.objectPackages.loadFolder(path.substring(0, uint32_t(path.length() - levelPart)) + L"Objects\\");
    scene.setCameraObjectType(String(L"Camera"));

    constexpr int rounds = 2000, repeats = 7;
    const BenchFigures::Spread read = BenchFigures::repeat(repeats, [&] {
        const double start = BenchWindow::now();
        for (int i = 0; i < rounds; ++i) {
            sample.seek(0, 0);
            scene.setDefaults();
            scene.readLevel(sample);
        }
        return (BenchWindow::now() - start) / rounds;
    });
    FileArray out(4096);
    const BenchFigures::Spread written = BenchFigures::repeat(repeats, [&] {
        const double start = BenchWindow::now();
        for (int i = 0; i < rounds; ++i) {
            out.seek(0, 0);
            scene.writeLevel(out);
        }
        return (BenchWindow::now() - start) / rounds;
    });

    // The free camera over the sample's ground.
    double start = BenchWindow::now();
    const bool withGround = scene.load(path);
    const double loadWithGround = BenchWindow::now() - start;
    auto cameraUpdates = [&](int count) {
        return BenchFigures::repeat(repeats, [&] {
            const double begin = BenchWindow::now();
            for (int i = 0; i < count; ++i)
                scene.updateCamera();
            return (BenchWindow::now() - begin) / count;
        });
    };
    const BenchFigures::Spread freeMode = cameraUpdates(rounds);
    // A key held: the cursor's place matters again.
    UserInput::State held;
    held.keyHeld[DIK_W] = 1;
    scene.camera.input = &held;
    const BenchFigures::Spread freeMoving = cameraUpdates(rounds / 10); // stays over the ground
    scene.camera.input = &gUserInput.state;
    Cameras cameras;
    scene.cameraObjects = &cameras;
    scene.setCameraMode(0, 2, 0.001f);
    const BenchFigures::Spread pathMode = cameraUpdates(rounds);
    scene.cameraObjects = nullptr;
    scene.clear();

    // The main file alone in a folder of its own: no side file to read.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const String folder = String(temp) + L"KorvantaSceneBench";
    CreateDirectoryW(folder.text(), nullptr);
    const String alone = folder + L"\\Valley.tee";
    FileInterface::saveToFile(sample, alone);
    constexpr int loads = 50;
    std::vector<double> loadTimes, clearTimes;
    for (int i = 0; i < loads; ++i) {
        start = BenchWindow::now();
        scene.load(alone);
        const double loaded = BenchWindow::now();
        scene.clear();
        // The next load builds them again.
        for (auto* node = scene.objectPackages.packages.head(); node; node = node->next)
            node->item->unbuild();
        loadTimes.push_back(loaded - start);
        clearTimes.push_back(BenchWindow::now() - loaded);
    }
    std::printf("main file: %u bytes, %d object packages\n", sample.size(), scene.objectPackages.packages.count());
    BenchFigures::print("main file read", read, 1000.0, "ms");
    BenchFigures::print("main file write", written, 1000.0, "ms");
    std::printf("load with the terrain (.map)  %.3f ms%s\n", loadWithGround * 1000.0, withGround ? "" : " (failed)");
    BenchFigures::print("updateCamera, free camera", freeMode, 1.0e6, "us");
    BenchFigures::print("updateCamera, free camera, key held", freeMoving, 1.0e6, "us");
    BenchFigures::print("updateCamera, camera path", pathMode, 1.0e6, "us");
    BenchFigures::print("load without side files, packages built", BenchFigures::of(loadTimes), 1000.0, "ms");
    BenchFigures::print("clear", BenchFigures::of(clearTimes), 1000.0, "ms");
    scene.release();
    BenchWindow::close(window);
    return 0;
}
