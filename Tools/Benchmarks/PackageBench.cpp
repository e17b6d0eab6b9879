// Prints the per-call work of the object packages on one core: listing a
// folder of 64 package files, building the builder's three sample packages,
// finding a package by name among 64 and placing an object of one; placing
// a package mesh (its two geometries fitted to a collision body's records),
// recomputing a package light's projection and corners, and applying a
// mesh's shader settings into a sub-entity's state record on the device.
// Each figure is the time per call over a batch; minimum and median of
// several batches.
#include "Objects/ObjectPackage.h"
#include "Objects/PackageLight.h"
#include "Objects/PackageMesh.h"
#include "Objects/ShaderSettings.h"

#include "Render/Shader.h"

#include "BenchDevice.h"
#include "BenchFigures.h"
#include "ObjectPackageSamples.h"
#include "PackagePartSamples.h"
#include "PackagePartWriter.h"

#include "Entity/StaticEntity.h"
#include "Landscape/Scene.h"
#include "Render/SwapChain.h"

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

// A fresh folder under the temporary folder, with a backslash.
String benchFolder(const wchar_t* name)
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const String folder = String(temp) + name;
    CreateDirectoryW(folder.text(), nullptr);
    return folder.addBackslash();
}

// Seconds per run of work, over several runs.
BenchFigures::Spread perRun(int runs, const std::function<void()>& work)
{
    return BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int i = 0; i < runs; ++i)
            work();
        return (BenchDevice::seconds() - from) / runs;
    });
}

void packageManager()
{
    const auto samples = ObjectPackageSamples::all();
    const String many = benchFolder(L"KorvantaPackageBench64");
    for (int i = 0; i < 64; ++i) {
        String name;
        name.format(L"P%02d.teo", i);
        ObjectPackageWriter::save(samples[size_t(i % 3)].second, many + name);
    }
    const String three = benchFolder(L"KorvantaPackageBench3");
    for (const auto& [name, package] : samples)
        ObjectPackageWriter::save(package, three + name);

    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    ObjPkgManager& manager = scene.objectPackages;
    BenchFigures::print("listing 64 package files", perRun(20, [&] { manager.loadFolder(many); }), 1000.0, "ms");
    std::printf("%52s (budget 5 ms, %d packages)\n", "", manager.packages.count());
    const String last(L"p63");
    print("findPackage among 64, the last", perCall([&](int) { manager.findPackage(last); }), 2.0);

    manager.loadFolder(three);
    BenchFigures::print("building the three sample packages", perRun(20, [&] {
                            for (auto* node = manager.packages.head(); node; node = node->next)
                                node->item->unbuild();
                            manager.buildPackages();
                        }),
                        1000.0, "ms");
    std::printf("%52s (budget 10 ms)\n", "");
    ObjPkgManager::Package* crate = manager.findPackage(String(L"Crate"));
    print("createObject, a crate", perCall([&](int i) {
              manager.createObject(crate, {float(i % 97) * 30.0f, 0.0f, float(i / 97) * 30.0f}, 1.0f);
          }),
          10.0);
    scene.release();
}

class Client final : public D3D::SwapChainInterface
{
public:
    uint32_t pumpMessages() override { return 1; }
};

}

int main()
{
    packageManager();

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
