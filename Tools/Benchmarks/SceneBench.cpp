// Prints what the scene's own code takes on one core: reading and writing the
// sample level's main file, one camera update in the free and the path mode,
// and a load and clear of the sample without its side files (and one with
// its terrain). The device has no client, so no loading frames are drawn.
// Needs a display and the game data ("Data\Map\Valley.tee" under the
// working folder or the build folder).
#include "Landscape/Scene.h"

#include "BenchWindow.h"

#include "Core/File.h"
#include "Core/Timer.h"

#include <windows.h>

#include <cstdio>

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

    constexpr int rounds = 2000;
    double start = BenchWindow::now();
    for (int i = 0; i < rounds; ++i) {
        sample.seek(0, 0);
        scene.setDefaults();
        scene.readLevel(sample);
    }
    const double read = (BenchWindow::now() - start) / rounds;
    FileArray out(4096);
    start = BenchWindow::now();
    for (int i = 0; i < rounds; ++i) {
        out.seek(0, 0);
        scene.writeLevel(out);
    }
    const double written = (BenchWindow::now() - start) / rounds;

    // The free camera over the sample's ground.
    start = BenchWindow::now();
    const bool withGround = scene.load(path);
    const double loadWithGround = BenchWindow::now() - start;
    start = BenchWindow::now();
    for (int i = 0; i < rounds; ++i)
        scene.updateCamera();
    const double freeMode = (BenchWindow::now() - start) / rounds;
    // With a key held the cursor is asked where it is every frame.
    UserInput::State held;
    held.keyHeld[DIK_W] = 1;
    scene.camera.input = &held;
    start = BenchWindow::now();
    for (int i = 0; i < rounds / 10; ++i)
        scene.updateCamera();
    const double freeMoving = (BenchWindow::now() - start) / (rounds / 10);
    scene.camera.input = &gUserInput.state;
    Cameras cameras;
    scene.cameraObjects = &cameras;
    scene.setCameraMode(0, 2, 0.001f);
    start = BenchWindow::now();
    for (int i = 0; i < rounds; ++i)
        scene.updateCamera();
    const double pathMode = (BenchWindow::now() - start) / rounds;
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
    double loadTime = 0.0, clearTime = 0.0;
    for (int i = 0; i < loads; ++i) {
        start = BenchWindow::now();
        scene.load(alone);
        const double loaded = BenchWindow::now();
        scene.clear();
        loadTime += loaded - start;
        clearTime += BenchWindow::now() - loaded;
    }
    std::printf("main file (%u bytes) read   %.4f ms\n", sample.size(), read * 1000.0);
    std::printf("main file write              %.4f ms\n", written * 1000.0);
    std::printf("load with the terrain (.map)  %.3f ms%s\n", loadWithGround * 1000.0, withGround ? "" : " (failed)");
    std::printf("updateCamera, free camera    %.3f us\n", freeMode * 1.0e6);
    std::printf("updateCamera, free, key held %.3f us\n", freeMoving * 1.0e6);
    std::printf("updateCamera, camera path    %.3f us\n", pathMode * 1.0e6);
    std::printf("load without side files      %.3f ms\n", loadTime * 1000.0 / loads);
    std::printf("clear                        %.3f ms\n", clearTime * 1000.0 / loads);
    scene.release();
    BenchWindow::close(window);
    return 0;
}
