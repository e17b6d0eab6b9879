// Prints the loading work of the mesh tools on one core: the triangle tree
// and the weld of a 20,000-triangle mesh of unshared vertices (a rippled
// sheet, as the text and frame models give), and the decode of a
// 10,000-vertex engine mesh record, and a 500-triangle object package mesh
// block read through the package mesh (decode, tree, backup; no texture).
// Minimum and median of several runs, wall time.
#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"
#include "Objects/PackageMesh.h"

#include "BenchFigures.h"
#include "MeshWriter.h"
#include "PackagePartSamples.h"
#include "PackagePartWriter.h"

#include "Core/FileArray.h"
#include "Core/Matrix.h"

#include <windows.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

using EntityMesh = Mesh<EntityManager::MeshVertex, 274>;

// Seconds of work, each run after its own preparation.
BenchFigures::Spread timed(const std::function<void()>& prepare, const std::function<void()>& work)
{
    LARGE_INTEGER frequency, from, to;
    QueryPerformanceFrequency(&frequency);
    return BenchFigures::repeat(9, [&] {
        prepare();
        QueryPerformanceCounter(&from);
        work();
        QueryPerformanceCounter(&to);
        return double(to.QuadPart - from.QuadPart) / double(frequency.QuadPart);
    });
}

vec3d sheet(int x, int z)
{
    return vec3d(float(x), std::sin(float(x) * 0.3f) * std::cos(float(z) * 0.2f), float(z));
}

// 100 x 100 quads, two triangles each, every corner a vertex of its own.
void fillSheet(EntityMesh& mesh)
{
    *mesh.getVertexCount() = 0;
    *mesh.getIndexCount() = 0;
    int32_t v = 0;
    for (int z = 0; z < 100; ++z)
        for (int x = 0; x < 100; ++x) {
            const int corners[6][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 0}, {1, 1}, {0, 1}};
            for (const auto& c : corners) {
                VertexComponents& vertex = *mesh.getVertexData(v);
                *vertex.position = sheet(x + c[0], z + c[1]);
                *vertex.normal = vec3d(0, 1, 0);
                *vertex.uv = vec2d(float(x + c[0]) / 100.0f, float(z + c[1]) / 100.0f);
                mesh.addIndex(uint16_t(v++));
            }
        }
    *mesh.getVertexCount() = v;
}

}

int main()
{
    EntityMesh mesh(String(L"sheet"));
    const BenchFigures::Spread tree = timed([&] { fillSheet(mesh); }, [&] { MeshTools::buildTriangleTree(mesh); });
    const BenchFigures::Spread weld = timed(
        [&] {
            fillSheet(mesh);
            MeshTools::buildTriangleTree(mesh);
        },
        [&] { MeshTools::weldVertices(mesh); });
    BenchFigures::print("tree of 20000 triangles (budget 25 ms)", tree, 1e3, "ms");
    BenchFigures::print("weld of the same mesh (budget 25 ms)", weld, 1e3, "ms");
    std::printf("  60000 vertices welded to %d\n", *mesh.getVertexCount());

    MeshWriter::Record record;
    for (int z = 0; z < 100; ++z)
        for (int x = 0; x < 100; ++x) {
            record.positions.push_back(sheet(x, z));
            record.normals.push_back(vec3d(0, 1, 0));
            record.uvs.push_back(vec2d(float(x) / 99.0f, float(z) / 99.0f));
            if (x < 99 && z < 99)
                for (int k : {0, 1, 101, 0, 101, 100})
                    record.indices.push_back(uint16_t(z * 100 + x + k));
        }
    FileArray bytes(1 << 20);
    MeshWriter::writeRecord(bytes, record);
    EntityMesh decoded(String(L"record"));
    const matrix3d transform = matrix3d::identity();
    const BenchFigures::Spread decode = timed([&] { bytes.seek(0, 0); },
                                              [&] { MeshTools::processMode(decoded, &bytes, transform, 4); });
    BenchFigures::print("mode-4 decode of 10000 vertices (budget 3 ms)", decode, 1e3, "ms");
    std::printf("  %d vertices, %d indices\n", *decoded.getVertexCount(), *decoded.getIndexCount());

    // The sample crate's block with a body of 25 x 10 quads.
    PackagePartWriter::Mesh block = PackagePartSamples::box();
    block.textureName.clear();
    block.body = MeshWriter::Record();
    for (int z = 0; z <= 10; ++z)
        for (int x = 0; x <= 25; ++x) {
            block.body.positions.push_back(sheet(x, z));
            block.body.normals.push_back(vec3d(0, 1, 0));
            block.body.uvs.push_back(vec2d(float(x) / 25.0f, float(z) / 10.0f));
            if (x < 25 && z < 10)
                for (int k : {0, 1, 27, 0, 27, 26})
                    block.body.indices.push_back(uint16_t(z * 26 + x + k));
        }
    block.body.box = {{12.5f, 0.0f, 5.0f}, 1.0f, 1.0f, {0.0f, -1.0f, 0.0f}, {25.0f, 1.0f, 10.0f}};
    FileArray packageBytes(1 << 16);
    PackagePartWriter::writeMesh(packageBytes, block);
    std::unique_ptr<ObjPkgManager::Mesh> packageMesh;
    const BenchFigures::Spread package = timed(
        [&] {
            packageBytes.seek(0, 0);
            packageMesh = std::make_unique<ObjPkgManager::Mesh>(nullptr);
        },
        [&] { packageMesh->load(packageBytes); });
    BenchFigures::print("package mesh block of 500 triangles (budget 0.5 ms)", package, 1e3, "ms");
    std::printf("  %d triangles, %d geometries, backup of %d vertices\n", *packageMesh->getIndexCount() / 3,
                packageMesh->geometries.count(), *packageMesh->backup.getVertexCount());
    return 0;
}
