// Prints the per-call work of the object package parts on one core: placing
// a package mesh (its two geometries fitted to a collision body's records),
// recomputing a package light's projection and corners, and applying a
// mesh's shader settings into a sub-entity's state record on the device.
// Each figure is the time per call over a batch; minimum and median of
// several batches.
#include "Objects/PackageLight.h"
#include "Objects/PackageMesh.h"
#include "Objects/ShaderSettings.h"

#include "Render/Shader.h"

#include "BenchDevice.h"
#include "BenchFigures.h"
#include "PackagePartSamples.h"
#include "PackagePartWriter.h"

#include "Core/FileArray.h"

#include <cstdio>
#include <functional>

namespace {

constexpr int batch = 2000;

// Seconds per call of work, over batches.
BenchFigures::Spread perCall(const std::function<void(int)>& work)
{
    return BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int i = 0; i < batch; ++i)
            work(i);
        return (BenchDevice::seconds() - from) / batch;
    });
}

void print(const char* what, const BenchFigures::Spread& figures, double budgetUs)
{
    BenchFigures::print(what, figures, 1e6, "us");
    std::printf("%52s (budget %.1f us)\n", "", budgetUs);
}

class Client final : public D3D::SwapChainInterface
{
public:
    uint32_t pumpMessages() override { return 1; }
};

}

int main()
{
    PackagePartWriter::Mesh sample = PackagePartSamples::box();
    sample.textureName.clear();
    FileArray bytes(4096);
    PackagePartWriter::writeMesh(bytes, sample);
    bytes.seek(0, 0);
    ObjPkgManager::Mesh mesh(nullptr);
    mesh.load(bytes);
    EntityManager::CollisionBody body;
    mesh.attachGeometries(body);
    print("package mesh placement, two geometries", perCall([&](int i) {
              mesh.rotation.y = float(i % 360);
              mesh.updatePlacement();
          }),
          1.0);

    ObjPkgManager::Light light(nullptr, nullptr);
    light.range = 12.0f;
    light.coneAngle = 50.0f;
    print("package light update, cone", perCall([&](int i) {
              light.rotation.x = float(i % 90);
              light.update();
          }),
          5.0);
    light.kind = 0;
    print("package light update, box", perCall([&](int i) {
              light.position.x = float(i % 90);
              light.update();
          }),
          5.0);

    Client client;
    HWND window = nullptr;
    if (!BenchDevice::open(L"PackageBench", 320, 240, client, window))
        return 0;
    Shader record;
    for (bool reflective : {false, true}) {
        ObjPkgManager::ShaderSettings settings;
        settings.alphaRef = 0x40;
        settings.textureScale = 2.0f;
        settings.reflectionAmount = reflective ? 0x40 : 0;
        print(reflective ? "shader settings into a state record, reflective" : "shader settings into a state record",
              perCall([&](int) { settings.apply(nullptr, &record); }), 1.0);
    }
    gDirectGraphics.release();
    DestroyWindow(window);
    return 0;
}
