// Prints the quad bike's work on one core: reading the sample quad's
// template block (its 17 part names looked up among the package's meshes,
// the springs, the nine sound files copied and typed) without its textures.
// Each figure is the time per call over a batch; minimum and median of
// several batches.
#include "Vehicle/QuadPhysics.h"

#include "Objects/ObjectPackage.h"

#include "BenchDevice.h"
#include "BenchFigures.h"
#include "FunctionsRecordWriter.h"
#include "ObjectPackageWriter.h"
#include "QuadSample.h"

#include "Core/FileArray.h"

#include <windows.h>

#include <cstdio>
#include <memory>

namespace {

constexpr int batch = 200;

void templateLoad()
{
    ObjectPackageWriter::Package sample = QuadSample::package();
    FunctionsRecordWriter::QuadPhysics block = *sample.functions->quadPhysics;
    block.dust.clear();
    block.dirt.clear();
    sample.functions->quadPhysics.reset();
    FileArray packageBytes(4096);
    ObjectPackageWriter::write(packageBytes, sample);
    packageBytes.seek(0, 0);
    ObjPkgManager::Package package(nullptr, String(L"Quad.teo"));
    package.buildFrom(packageBytes, nullptr);
    FileArray blockBytes(4096);
    FunctionsRecordWriter::writeQuadPhysics(blockBytes, block);

    int found = 0;
    const auto figures = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int i = 0; i < batch; ++i) {
            blockBytes.seek(0, 0);
            auto quad = std::make_unique<ObjPkgManager::Functions::QuadPhysics>(&package.functions);
            quad->load(blockBytes);
            found += quad->mesh(ObjPkgManager::Functions::QuadPhysics::body) != nullptr;
        }
        return (BenchDevice::seconds() - from) / batch;
    });
    BenchFigures::print("quad template block, no textures (per load)", figures, 1e3, "ms");
    std::printf("%52s (budget 0.2 ms; %u bytes, %d of %d found their body)\n", "", blockBytes.size(), found,
                15 * batch);
}

}

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    templateLoad();
    return 0;
}
