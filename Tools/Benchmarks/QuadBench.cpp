// Prints the quad bike's work on one core: reading the sample quad's
// template block (its 17 part names looked up among the package's meshes,
// the springs, the nine sound files copied and typed) without its textures;
// building a quad on an entity showing the sample's 17 meshes on a rigid
// body; the speed and overturn test of 8 quads as the race asks them.
// Each figure is the time per call over a batch; minimum and median of
// several batches.
#include "Vehicle/QuadInstance.h"
#include "Vehicle/QuadPhysics.h"

#include "Entity/Entity.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Landscape/Terrain.h"

#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "BenchDevice.h"
#include "BenchFigures.h"
#include "FunctionsRecordWriter.h"
#include "ObjectPackageWriter.h"
#include "QuadSample.h"
#include "TerrainMapWriter.h"

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

void instances()
{
    FileArray packageBytes(4096);
    ObjectPackageWriter::write(packageBytes, QuadSample::package());
    packageBytes.seek(0, 0);
    ObjPkgManager::Package package(nullptr, String(L"Quad.teo"));
    package.buildFrom(packageBytes, nullptr);
    auto* templ = package.functions.quadPhysics;

    EntityManager entities;
    entities.physicsManager->start(16);
    std::unique_ptr<EntityManager::Entity> quads[8];
    for (auto& entity : quads) {
        entity = std::make_unique<EntityManager::Entity>(entities);
        entity->physics = new EntityManager::Physics(*entity, package.physics.mass);
        for (auto* node = package.meshes.head(); node; node = node->next)
            entity->addStoredMesh(*node->item, false, true, nullptr, nullptr);
    }
    const auto build = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int i = 0; i < 20; ++i)
            ObjPkgManager::Functions::QuadPhysics::Instance quad(templ, quads[i % 8].get(), 5.0f);
        return (BenchDevice::seconds() - from) / 20;
    });
    BenchFigures::print("quad built on its entity and body (per quad)", build, 1e3, "ms");
    std::printf("%52s (budget 5 ms)\n", "");

    // On flat ground, every quad above it: the overturn test asks the ground twice.
    TerrainMapWriter::Map map;
    map.size = 128;
    map.heights.assign(128 * 128, 20000);
    FileArray mapBytes(1 << 16);
    TerrainMapWriter::write(map, mapBytes);
    mapBytes.seek(0, 0);
    gTerrain.load(nullptr, Terrain::Settings(), mapBytes);
    const vec3d centre = gTerrain.box.center;
    const float ground = gTerrain.getHeight(centre.x, centre.z, 3);
    std::unique_ptr<ObjPkgManager::Functions::QuadPhysics::Instance> live[8];
    for (int i = 0; i < 8; ++i) {
        live[i] = std::make_unique<ObjPkgManager::Functions::QuadPhysics::Instance>(templ, quads[i].get(), 5.0f);
        live[i]->velocity = {0.0f, 0.0f, float(i)};
        live[i]->wheels[2].contacts[0].groundNormal = {0.0f, 1.0f, 0.0f};
        quads[i]->world = matrix3d::identity();
        const vec3d at{centre.x + 10.0f * float(i), ground + 1.0f, centre.z};
        quads[i]->world.setRow(3, at);
        quads[i]->worldBox.center = at;
        quads[i]->worldBox.halfExtents = {1.0f, 0.5f, 1.0f};
        // Upside down: every rule is asked.
        quads[i]->world.setRow(1, {0.0f, -1.0f, 0.0f});
        for (auto& wheel : live[i]->wheels)
            wheel.grounded = 1;
    }
    int64_t answers = 0;
    const auto asked = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int round = 0; round < 1000; ++round)
            for (auto& quad : live)
                answers += quad->getSpeed() + int64_t(quad->isOverturned());
        return (BenchDevice::seconds() - from) / 1000;
    });
    BenchFigures::print("getSpeed and isOverturned of 8 quads", asked, 1e6, "us");
    std::printf("%52s (budget 2 us; %lld)\n", "", static_cast<long long>(answers));
    gTerrain.clear();
}

}

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    templateLoad();
    instances();
    return 0;
}
