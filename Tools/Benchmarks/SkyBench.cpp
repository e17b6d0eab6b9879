// Prints what the sky takes on one core: building the scene's dome with its
// patches and buffers, the first full recolour of the patches in view, and a
// frame of update and recolour while the sun moves one scene minute per
// second at 60 frames per second. Needs a display (the buffers are the
// device's).
#include "BenchFigures.h"
#include "BenchWindow.h"

#include "Landscape/AnimatedSky.h"
#include "Landscape/SunDNC.h"

#include "Render/SwapChain.h"

#include <windows.h>

#include <cstdio>
#include <vector>

namespace {

// Culls and recolours through a lock of the dome's buffer, as render does.
void recolourInView(AnimatedSky& sky, const ConvexVolume& volume)
{
    sky.cullPatches(volume);
    void* locked = nullptr;
    if (SUCCEEDED(sky.vertexBuffer->Lock(0, 0, &locked, 0))) {
        sky.recolour(static_cast<AnimatedSky::Vertex*>(locked));
        sky.vertexBuffer->Unlock();
    }
}

}

int main()
{
    HWND window = BenchWindow::open(L"SkyBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain& chain = *gDirectGraphics.record.firstSwapChain();
    AnimatedSky& sky = *chain.sky;
    chain.angles = {30.0f, 10.0f, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();

    constexpr int builds = 20;
    std::vector<double> buildTimes;
    for (int i = 0; i < builds; ++i) {
        sky.release();
        const double start = BenchWindow::now();
        if (!sky.build(nullptr, -255.0f, 1.2f, 650.0f)) {
            std::printf("build failed\n");
            return 1;
        }
        buildTimes.push_back(BenchWindow::now() - start);
    }

    // The sun at 16:00, moving a scene minute (0.25 degrees) per second.
    float hourAngle = 212.0f;
    auto placeSun = [&] { chain.sun.direction = SunDNC::direction(hourAngle, 0.5f); };
    placeSun();
    constexpr int firsts = 20;
    std::vector<double> firstTimes;
    uint32_t firstVertices = 0;
    for (int i = 0; i < firsts; ++i) {
        sky.update();
        for (uint16_t n = 0; n < sky.nodeCount; ++n)
            sky.patches[n].dirty = 1;
        const double start = BenchWindow::now();
        recolourInView(sky, chain.directionVolume);
        firstTimes.push_back(BenchWindow::now() - start);
    }
    for (int32_t i = 0; i < sky.visibleCount; ++i)
        firstVertices += sky.visible[i]->vertexCount;

    constexpr int frames = 3000;
    for (int i = 0; i < 120; ++i) {
        hourAngle += 0.25f / 60.0f;
        placeSun();
        sky.update();
        recolourInView(sky, chain.directionVolume);
    }
    const BenchFigures::Spread frameTime = BenchFigures::repeat(7, [&] {
        const double start = BenchWindow::now();
        for (int i = 0; i < frames; ++i) {
            hourAngle += 0.25f / 60.0f;
            placeSun();
            sky.update();
            recolourInView(sky, chain.directionVolume);
        }
        return (BenchWindow::now() - start) / frames;
    });
    std::printf("dome: %u vertices, %u indices; first recolour: %d patches, %u vertices; rate %.4f\n",
                sky.totalVertices, sky.totalIndices, sky.visibleCount, firstVertices, sky.updateRate);
    BenchFigures::print("dome build", BenchFigures::of(buildTimes), 1000.0, "ms");
    BenchFigures::print("first recolour of the patches in view", BenchFigures::of(firstTimes), 1000.0, "ms");
    BenchFigures::print("frame, update and recolour", frameTime, 1000.0, "ms");
    sky.release();
    BenchWindow::close(window);
    return 0;
}
