// Prints what a cloth costs on one core: one step of the default flag
// (18 x 16) and of the largest grid (64 x 64), as the worker runs them off
// the frame, and the main thread's part per cloth and frame: the draw from
// user memory and the box update (1024 x 768; the device's own work is
// queued for the driver's thread, not waited for). Minimum and median over
// runs. Needs a display.
#include "BenchFigures.h"
#include "BenchWindow.h"

#include "EffectPackageSamples.h"
#include "FunctionsRecordWriter.h"

#include "Entity/Entity.h"
#include "Objects/Cloths.h"

#include "Core/FileArray.h"
#include "Core/Timer.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

using Cloths = ObjPkgManager::Functions::Cloths;
using Cloth = Cloths::Instance;

// Seconds per step over runs of steps, the cloth blown about first so that
// every pull is in play.
BenchFigures::Spread stepTime(Cloths& cloths)
{
    Cloth cloth(&cloths, nullptr, nullptr);
    for (int i = 0; i < 300; ++i)
        cloth.step(false);
    return BenchFigures::repeat(15, [&] {
        constexpr int steps = 200;
        const double start = BenchWindow::now();
        for (int i = 0; i < steps; ++i)
            cloth.step(false);
        return (BenchWindow::now() - start) / steps;
    });
}

}

int main()
{
    ObjPkgManager::Functions::Record record(nullptr);
    Cloths cloths(&record);
    FileArray bytes(4096);
    FunctionsRecordWriter::writeCloths(bytes, EffectPackageSamples::flagCloth());
    bytes.seek(0, 0);
    cloths.load(bytes);
    cloths.windStrength = 1.0f;
    cloths.windAngle = 60.0f;
    BenchFigures::print("step, 18 x 16 flag (budget 100 us)", stepTime(cloths), 1e6, "us");
    cloths.setGridSize(64, 64);
    BenchFigures::print("step, 64 x 64 (budget 1500 us)", stepTime(cloths), 1e6, "us");
    cloths.setGridSize(18, 16);

    HWND window = BenchWindow::open(L"ClothBench", 1024, 768);
    if (!window) {
        std::printf("no device\n");
        return 1;
    }
    D3D::Device::SwapChain& chain = *gDirectGraphics.record.firstSwapChain();
    chain.position = {0.85f, 0.75f, -3.0f};
    chain.Camera::update();
    {
        EntityManager::Entity owner(*chain.entities);
        Cloth cloth(&cloths, &chain, &owner);
        for (int i = 0; i < 300; ++i)
            cloth.step(false);
        std::vector<double> draw, update;
        for (int frame = 0; frame < 300; ++frame) {
            cloth.step(false);
            chain.beginFrame();
            gDevice->BeginScene();
            double start = BenchWindow::now();
            cloth.render(owner.world);
            draw.push_back(BenchWindow::now() - start);
            gDevice->EndScene();
            chain.present();
            start = BenchWindow::now();
            cloth.updateBounds();
            update.push_back(BenchWindow::now() - start);
        }
        BenchFigures::print("render per cloth and frame (budget 20 us with the update)",
                            BenchFigures::of(std::move(draw)), 1e6, "us");
        BenchFigures::print("updateBounds per cloth and frame", BenchFigures::of(std::move(update)), 1e6, "us");
    }
    BenchWindow::close(window);
    return 0;
}
