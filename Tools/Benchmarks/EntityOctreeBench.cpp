// Prints the per-frame work of the sub-entity octrees on one core: moving
// 1,000 entities a little and into other cells (every part relinked), the render walk over 2,000
// sub-entities in 40 meshes (draws counted, not issued), a ray query, and
// contact queries meeting nothing and beside a 500-triangle object. No
// device: the meshes have trees but no buffers. Minimum and median of
// several runs.
#include "Entity/CollisionQuery.h"
#include "Entity/Entity.h"
#include "Entity/MeshOctree.h"

#include "Render/Camera.h"

#include "BenchFigures.h"

#include "Core/Math.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using EntityMesh = Mesh<EntityManager::MeshVertex, 274>;
using Entity = EntityManager::Entity;

// Seconds of each of rounds runs of work.
BenchFigures::Spread timed(int rounds, const std::function<void()>& work)
{
    LARGE_INTEGER frequency, from, to;
    QueryPerformanceFrequency(&frequency);
    return BenchFigures::repeat(rounds, [&] {
        QueryPerformanceCounter(&from);
        work();
        QueryPerformanceCounter(&to);
        return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
    });
}

// A lumpy ball of count triangles around the origin, about radius across.
std::unique_ptr<EntityMesh> ball(const std::wstring& name, int count, float radius, std::mt19937& random)
{
    auto mesh = std::make_unique<EntityMesh>(String(name.c_str()));
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int32_t v = 0;
    for (int t = 0; t < count; ++t) {
        const vec3d centre = vec3d(unit(random), unit(random), unit(random)).normalised() * radius;
        for (int c = 0; c < 3; ++c) {
            VertexComponents& vertex = *mesh->getVertexData(v);
            *vertex.position = centre + vec3d(unit(random), unit(random), unit(random)) * (radius * 0.3f);
            *vertex.normal = centre.normalised();
            mesh->addIndex(uint16_t(v++));
        }
    }
    *mesh->getVertexCount() = v;
    mesh->calcBounds();
    return mesh;
}

}

int main()
{
    std::mt19937 random(2024);
    std::uniform_real_distribution<float> across(-1800.0f, 1800.0f), unit(0.0f, 1.0f);

    EntityManager manager;
    std::vector<std::unique_ptr<EntityMesh>> meshes;
    for (int m = 0; m < 40; ++m)
        meshes.push_back(ball(L"mesh" + std::to_wstring(m), 60, 2.0f, random));
    std::vector<std::unique_ptr<Entity>> entities;
    for (int e = 0; e < 1000; ++e) {
        auto entity = std::make_unique<Entity>(manager);
        for (int p = 0; p < 2; ++p)
            entity->addStoredMesh(*meshes[size_t((e + p * 17) % 40)], false, false, nullptr, nullptr);
        entity->world.at(3, 0) = across(random);
        entity->world.at(3, 1) = unit(random) * 30.0f;
        entity->world.at(3, 2) = across(random);
        entity->onMoved();
        entities.push_back(std::move(entity));
    }

    // Moving: every entity steps 2 units (a few cross into other cells),
    // then every entity hops 600 units into other cells (each relinked).
    const auto moveAll = [&](float step) {
        return timed(20, [&] {
            for (auto& entity : entities) {
                entity->world.at(3, 0) += step;
                entity->onMoved();
            }
            step = -step;
        });
    };
    const BenchFigures::Spread stepped = moveAll(2.0f);
    const BenchFigures::Spread relink = moveAll(600.0f);

    // Render walk: a camera at the edge of the field looking across it.
    Camera camera;
    camera.position = {0.0f, 40.0f, -1900.0f};
    camera.angles = {0.0f, 5.0f, 0.0f};
    camera.setProjection({1024, 768});
    camera.setAnglesDeg();
    camera.update();
    for (auto& entity : entities)
        entity->visibility = uint32_t(camera.frustum.classifyOrientedBox(entity->worldBox));
    int drawn = 0;
    const BenchFigures::Spread walk = timed(50, [&] {
        drawn = 0;
        for (auto* node = manager.meshOctrees.head(); node; node = node->next)
            node->item->renderWalk(camera.frustum, 0, [&](EntityManager::SubEntity&) { ++drawn; });
    });

    // Rays of 100 units from just above the field toward an entity.
    std::vector<std::pair<vec3d, vec3d>> rays;
    for (int r = 0; r < 1000; ++r) {
        const vec3d target = entities[size_t(r)]->worldBox.center;
        const vec3d from = target + vec3d(unit(random) * 60.0f - 30.0f, 20.0f, unit(random) * 60.0f - 30.0f);
        rays.push_back({from, from + (target - from).normalised() * 100.0f});
    }
    int hits = 0;
    const BenchFigures::Spread ray = timed(10, [&] {
        hits = 0;
        for (const auto& [from, to] : rays) {
            EntityManager::RayQuery query(from, to, 0);
            for (auto* node = manager.meshOctrees.head(); node; node = node->next)
                node->item->intersectRay(query);
            hits += query.hit != nullptr;
        }
    });

    // Contacts: a quad-sized box in open space, then beside a 500-triangle object.
    CollisionQuery query;
    EntityManager::MeshOctree::ContactScratch scratch;
    const auto contact = [&](const vec3d& centre) {
        query.boxMin = centre - vec3d(1.2f, 0.8f, 1.2f);
        query.boxMax = centre + vec3d(1.2f, 0.8f, 1.2f);
        query.vertexCount = query.triangleCount = 0;
        if (manager.beginContactPass()) {
            for (auto* node = manager.meshOctrees.head(); node; node = node->next)
                node->item->collide(query, scratch);
            manager.endContactPass();
        }
    };
    const BenchFigures::Spread empty = timed(10, [&] {
        for (int i = 0; i < 1000; ++i)
            contact({3000.0f, 10.0f, 3000.0f});
    });
    auto big = ball(L"rock", 500, 4.0f, random);
    Entity rock(manager);
    rock.addStoredMesh(*big, false, false, nullptr, nullptr);
    rock.world.at(3, 0) = 2500.0f;
    rock.onMoved();
    const BenchFigures::Spread beside = timed(10, [&] {
        for (int i = 0; i < 1000; ++i)
            contact({2500.0f + 4.5f, 0.0f, 0.0f});
    });
    const uint32_t found = query.triangleCount;

    BenchFigures::print("1000 entities moved 2 units", stepped, 1e3, "ms");
    BenchFigures::print("1000 entities moved to other cells (budget 0.2 ms)", relink, 1e3, "ms");
    BenchFigures::print("render walk, 2000 parts, 40 meshes (budget 0.3 ms)", walk, 1e3, "ms");
    std::printf("  %d parts drawn\n", drawn);
    // The query figures are per query: each run makes 1000.
    BenchFigures::print("ray query, 100 units (budget 10 us)", ray, 1e3, "us");
    std::printf("  %d of 1000 rays hit\n", hits);
    BenchFigures::print("contact query meeting nothing (budget 1 us)", empty, 1e3, "us");
    BenchFigures::print("contact query by 500 triangles (budget 5 us)", beside, 1e3, "us");
    std::printf("  %u triangles found\n", found);
    return 0;
}
