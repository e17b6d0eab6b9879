// Prints the entity and static-entity managers' per-frame and loading work on
// one core: the entity pass over 2,000 parts in 40 meshes (draws left out:
// no device), linking 300 entities to 20 projections, the activation walk
// over 5,000 placed objects, and loading those objects from a ".obj" file;
// what fifty sample trees add to the entity pass.
// Minimum and median of several runs.
#include "Entity/Entity.h"
#include "Entity/StaticEntity.h"
#include "Entity/StaticEntityManager.h"

#include "Render/Camera.h"
#include "Render/TextureProj.h"

#include "Tree/Tree.h"

#include "BenchFigures.h"
#include "StaticObjectWriter.h"
#include "TreeSamples.h"

#include "Core/FileArray.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using EntityMesh = Mesh<EntityManager::MeshVertex, 274>;
using Entity = EntityManager::Entity;

// Seconds of work, run rounds times (prepare before each, not timed).
BenchFigures::Spread time(int rounds, const std::function<void()>& work, const std::function<void()>& prepare = [] {})
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return BenchFigures::repeat(rounds, [&] {
        prepare();
        LARGE_INTEGER from, to;
        QueryPerformanceCounter(&from);
        work();
        QueryPerformanceCounter(&to);
        return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
    });
}

void print(const char* what, const BenchFigures::Spread& figures, double budgetMs)
{
    BenchFigures::print(what, figures, 1e3, "ms");
    std::printf("%52s (budget %.2f ms)\n", "", budgetMs);
}

// A lumpy ball of count triangles, about radius across.
std::unique_ptr<EntityMesh> ball(const std::wstring& name, int count, float radius, std::mt19937& random)
{
    auto mesh = std::make_unique<EntityMesh>(String(name.c_str()));
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int32_t v = 0;
    for (int t = 0; t < count; ++t) {
        const vec3d centre = vec3d(unit(random), unit(random), unit(random)).normalised() * radius;
        for (int c = 0; c < 3; ++c) {
            *mesh->getVertexData(v)->position = centre + vec3d(unit(random), unit(random), unit(random)) * radius * 0.3f;
            *mesh->getVertexData(v)->normal = centre.normalised();
            mesh->addIndex(uint16_t(v++));
        }
    }
    *mesh->getVertexCount() = v;
    mesh->calcBounds();
    return mesh;
}

// A projection's volume: a box of half size around centre.
ConvexVolume boxVolume(const vec3d& centre, float half)
{
    ConvexVolume v;
    for (int a = 0; a < 3; ++a)
        for (int side = 0; side < 2; ++side) {
            ConvexVolume::Plane& p = v.planes[v.count++];
            vec3d n;
            n[a] = side ? -1.0f : 1.0f;
            p.normal = n;
            p.point = centre - n * half;
            p.distance = n.dot(p.point);
        }
    return v;
}

struct Package final : StaticEntityManager::Method
{
    explicit Package(StaticEntityManager* owner) : owner_(owner) {}
    float radius() const override { return 15.0f; }
    StaticEntityManager* manager() const override { return owner_; }
    StaticEntityManager* owner_;
};

struct Packages final : StaticEntityManager::PackageFinder, StaticEntityManager::Creator
{
    StaticEntityManager::Method* findPackage(const String& name) override
    {
        for (auto& p : packages)
            if (p->name.length() == name.length() && lstrcmpiW(p->name.text(), name.text()) == 0)
                return p.get();
        return nullptr;
    }
    Object* createObject() override { return new Object; }
    std::vector<std::unique_ptr<Package>> packages;
};

}

int main()
{
    std::mt19937 random(2019);
    std::uniform_real_distribution<float> across(-1800.0f, 1800.0f), unit(0.0f, 1.0f);
    Camera camera;
    camera.position = {0.0f, 60.0f, 0.0f};
    camera.setProjection({1024, 768});
    camera.update();
    gCamera = &camera;

    // The entity pass: 1,000 entities of two parts each.
    {
        EntityManager manager;
        std::vector<std::unique_ptr<EntityMesh>> meshes;
        for (int m = 0; m < 40; ++m)
            meshes.push_back(ball(L"part" + std::to_wstring(m), 40, 2.0f + float(m % 5), random));
        std::vector<std::unique_ptr<Entity>> entities;
        for (int e = 0; e < 1000; ++e) {
            auto entity = std::make_unique<Entity>(manager);
            for (int p = 0; p < 2; ++p)
                entity->addStoredMesh(*meshes[size_t(e * 3 + p * 7) % meshes.size()], false, false, nullptr, nullptr);
            entity->world.setRow(3, {across(random), unit(random) * 50.0f, across(random)});
            entity->onMoved();
            entities.push_back(std::move(entity));
        }
        const BenchFigures::Spread without = time(41, [&] { manager.render(1); });
        print("entity pass, 2000 parts (no draws)", without, 0.5);

        // Fifty sample trees in front of the camera, each an entity of its own.
        {
            const std::vector<uint8_t> sample = TreeSamples::sampleTree();
            FileArray stream(4096);
            stream.write(sample.data(), uint32_t(sample.size()));
            stream.seek(0, 0);
            Tree tree;
            tree.generate(stream);
            std::vector<std::unique_ptr<Entity>> trees;
            for (int t = 0; t < 50; ++t) {
                auto entity = std::make_unique<Entity>(manager);
                tree.createEntities(*entity, 0, nullptr, nullptr, nullptr);
                entity->world.setRow(3, {across(random) * 0.2f, 50.0f, 50.0f + unit(random) * 400.0f});
                entity->onMoved();
                trees.push_back(std::move(entity));
            }
            const BenchFigures::Spread with = time(41, [&] { manager.render(1); });
            print("entity pass, 2000 parts and 50 trees (no draws)", with, 0.5);
            std::printf("    50 trees add %.4f ms (minimum), %.4f ms (median) (budget 0.30 ms)\n",
                        (with.minimum - without.minimum) * 1e3, (with.median - without.median) * 1e3);
        }

        // 300 of them under 20 projections.
        entities.resize(300);
        std::vector<std::unique_ptr<TextureProj>> projections;
        for (int p = 0; p < 20; ++p) {
            auto projection = std::make_unique<TextureProj>(nullptr);
            projection->volume = boxVolume({across(random), 20.0f, across(random)}, 150.0f);
            manager.addTexProj(projection.get());
            projections.push_back(std::move(projection));
        }
        uint32_t links = 0;
        print("assignTexProjs, 300 entities, 20 projections", time(41, [&] { manager.assignTexProjs(); }), 0.1);
        for (auto& e : entities)
            links += e->linkCount;
        std::printf("    (%u links)\n", links);
        for (auto& p : projections)
            manager.removeTexProj(p.get());
    }

    // 5,000 objects of 10 packages over 12 by 12 km.
    Packages packages;
    StaticEntityManager level(nullptr);
    level.camera = &camera;
    level.creator = &packages;
    for (int p = 0; p < 10; ++p) {
        packages.packages.push_back(std::make_unique<Package>(&level));
        Package& package = *packages.packages.back();
        package.name = String((L"Package" + std::to_wstring(p)).c_str());
        package.areaKind = p % 3 == 2 ? StaticEntityManager::Method::squareArea
                                      : StaticEntityManager::Method::circleArea;
        package.rangeSq = 300.0f * 300.0f;
        package.halfSize = 250.0f;
    }
    std::vector<StaticObjectWriter::Object> objects(5000);
    std::uniform_real_distribution<float> wide(-6000.0f, 6000.0f);
    for (size_t i = 0; i < objects.size(); ++i) {
        StaticObjectWriter::Object& o = objects[i];
        o.package = String((L"package" + std::to_wstring(i % 10)).c_str());
        o.position[0] = wide(random);
        o.position[1] = unit(random) * 200.0f;
        o.position[2] = wide(random);
        o.rotation = unit(random) * 360.0f;
        o.state = i % 50 == 0 ? 254 : 0;
    }
    FileArray file(1024);
    StaticObjectWriter::write(objects, file);
    uint32_t placed = 0;
    print("loading 5000 objects", time(11, [&] {
              file.seek(0, 0);
              placed = level.load(file, &packages);
          }, [&] { level.clear(); }),
          20.0);
    std::printf("    (%u placed)\n", placed);

    int round = 0;
    print("activation walk, 5000 objects", time(41, [&] { level.updateActivation(level.root); }, [&] {
              // A new place each time, within the level.
              camera.position = {float(round % 7) * 900.0f - 2700.0f, 60.0f, float(round % 5) * 1100.0f - 2200.0f};
              level.referencePoint = camera.position;
              ++round;
          }),
          0.2);
    gCamera = nullptr;
    return 0;
}
