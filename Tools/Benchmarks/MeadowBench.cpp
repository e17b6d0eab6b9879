// Prints what the meadow takes on one core: the update and both render
// passes of the sample's two layers (grass and reeds) per frame, with the
// camera standing on the valley floor and with it driving along the valley,
// in this thread's CPU time and in wall time (the device's own threads draw
// the pixels). Each figure is the minimum and the median of several runs.
// Needs a display and the game data ("Data\Map\Valley.tee" under the
// working folder or the build folder).
#include "BenchWindow.h"

#include "Landscape/GrasLayer.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"

#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
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

void look(D3D::Device::SwapChain& chain, const vec3d& position, float yaw, float pitch)
{
    chain.position = position;
    chain.angles = {yaw, pitch, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();
}

struct Figures
{
    std::vector<double> cpu, wall; // ms per frame, one entry per run
    void print(const char* what) const
    {
        std::vector<double> c = cpu, w = wall;
        std::sort(c.begin(), c.end());
        std::sort(w.begin(), w.end());
        std::printf("%-44s CPU min %.3f median %.3f ms, wall min %.3f median %.3f ms\n", what, c.front(),
                    c[c.size() / 2], w.front(), w[w.size() / 2]);
    }
};

// runs of frames: each frame moves the camera (when driving), then the
// meadow's update and its two passes are timed inside a whole frame.
Figures measure(D3D::Device::SwapChain& chain, Meadow& meadow, bool driving, int runs, int frames)
{
    Figures figures;
    const vec3d start{0.0f, 0.0f, -900.0f};
    float z = start.z;
    for (int run = 0; run < runs; ++run) {
        double cpu = 0.0, wall = 0.0;
        for (int i = 0; i < frames; ++i) {
            if (driving || i == 0) {
                z = driving ? z + 3.0f : start.z;
                if (z > 1100.0f)
                    z = start.z;
                const float x = driving ? 40.0f * floatSin(z * 0.004f) : 0.0f;
                look(chain, {x, gTerrain.getHeight(x, z, 2) + 12.0f, z}, driving ? 8.0f * floatCos(z * 0.004f) : 0.0f,
                     -8.0f);
            }
            chain.beginFrame();
            gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
            gDevice->BeginScene();
            gTerrain.render(1);
            const double w0 = BenchWindow::now(), c0 = threadTime();
            meadow.update();
            meadow.render(1);
            meadow.render(0);
            const double w1 = BenchWindow::now(), c1 = threadTime();
            gDevice->EndScene();
            chain.present();
            cpu += c1 - c0;
            wall += w1 - w0;
        }
        figures.cpu.push_back(cpu * 1000.0 / frames);
        figures.wall.push_back(wall * 1000.0 / frames);
    }
    return figures;
}

}

int main()
{
    HWND window = BenchWindow::open(L"MeadowBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain& chain = *gDirectGraphics.record.firstSwapChain();
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    if (!scene.load(BenchWindow::sampleLevel()) || !chain.meadow || chain.meadow->layers.count() != 2) {
        std::printf("no sample level with its meadow\n");
        return 1;
    }
    gFrameFactor.store(1.0f);
    Meadow& meadow = *chain.meadow;

    // Warm: every patch near the start made once.
    measure(chain, meadow, false, 1, 20);
    const Figures steady = measure(chain, meadow, false, 7, 100);
    uint32_t vertices = 0;
    for (auto* node = meadow.layers.head(); node; node = node->next)
        for (uint32_t i = 0; i < node->item->drawCount; ++i)
            vertices += (*node->item->drawList.at(int32_t(i)))->visibleCount * node->item->verticesPerBlade;
    const Figures driving = measure(chain, meadow, true, 7, 100);

    std::printf("meadow of the sample (%d layers), %u grass vertices in view on the valley floor\n",
                meadow.layers.count(), vertices);
    steady.print("update + both passes, steady camera");
    driving.print("update + both passes, driving camera");
    std::printf("budgets: 2 ms steady, 4 ms driving (CPU of this thread)\n");
    scene.release();
    BenchWindow::close(window);
    return 0;
}
