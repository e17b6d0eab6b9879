// Package meshes: placement against hand values and brute force, the edge
// cases of the mesh block, the collision geometries fitted to the placed
// mesh and adjusted when a body fetches their shapes.
#include "ObjectsTestSupport.h"

#include "Objects/PackageGeometry.h"
#include "Objects/PackageMesh.h"

#include "MeshSamples.h"
#include "PackagePartWriter.h"
#include "TreeSamples.h"

#include <cctype>
#include <cmath>
#include <random>

using namespace ObjectsTests;
using PackageMesh = ObjPkgManager::Mesh;
using PackageGeometry = ObjPkgManager::Geometry;
using CollisionBody = EntityManager::CollisionBody;

namespace {

// The sample box's block without its texture and geometries.
PackagePartWriter::Mesh plainBox()
{
    PackagePartWriter::Mesh m = PackagePartSamples::box();
    m.textureName.clear();
    m.geometries.clear();
    m.name.clear();
    return m;
}

Bytes bodyBytes(bool marker)
{
    MeshWriter::Record body = MeshSamples::record();
    body.marker = marker;
    return bytesOf(MeshWriter::writeRecord, body);
}

OrientedBox alignedBox(const vec3d& centre, const vec3d& half)
{
    return {centre, 1.0f, 1.0f, {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}, half};
}

}

TEST(PackageMesh, TurnAboutXAtScaleTwoLaysLocalYAlongWorldZ)
{
    PackageMesh mesh(nullptr);
    mesh.rotation = {90.0f, 0.0f, 0.0f};
    mesh.scale = 2.0f;
    mesh.position = {1.0f, 2.0f, 3.0f};
    mesh.updatePlacement();
    expectNear(mesh.world.row(0), {2.0f, 0.0f, 0.0f}, 1e-5f, "row 0");
    expectNear(mesh.world.row(1), {0.0f, 0.0f, 2.0f}, 1e-5f, "row 1");
    expectNear(mesh.world.row(2), {0.0f, -2.0f, 0.0f}, 1e-5f, "row 2");
    expectNear(mesh.world.row(3), {1.0f, 2.0f, 3.0f}, 0.0f, "translation");
    EXPECT_EQ(mesh.world.at(3, 3), 1.0f);
}

TEST(PackageMesh, PlacedBoxesHoldEveryVertexAndTouchTheirExtremes)
{
    // A box of unequal sides, so that turns show in every bound.
    PackagePartWriter::Mesh description = plainBox();
    const vec3d stretch{1.5f, 0.5f, 3.0f};
    for (vec3d& p : description.body.positions)
        p = {p.x * stretch.x, p.y * stretch.y, p.z * stretch.z};
    description.body.box.minimum = {-0.75f, -0.25f, -1.5f};
    description.body.box.maximum = {0.75f, 0.25f, 1.5f};
    PackageMesh mesh(nullptr);
    ASSERT_TRUE(mesh.load(*streamOf(bytesOf(PackagePartWriter::writeMesh, description))));
    ASSERT_EQ(*mesh.getVertexCount(), 24);

    std::mt19937 random(37);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f), scale(0.2f, 5.0f), place(-50.0f, 50.0f);
    for (int n = 0; n < 200; ++n) {
        mesh.rotation = {angle(random), angle(random), angle(random)};
        mesh.scale = scale(random);
        mesh.position = {place(random), place(random), place(random)};
        mesh.updatePlacement();
        BoundingBox aligned = PackageMesh::emptyBounds();
        mesh.extendBounds(aligned);
        const OrientedBox& box = mesh.worldBox;
        const float slack = 2e-4f * (1.0f + mesh.scale * 3.0f);
        vec3d reach, low{1e30f, 1e30f, 1e30f}, high{-1e30f, -1e30f, -1e30f};
        for (int32_t v = 0; v < *mesh.getVertexCount(); ++v) {
            const vec3d w = mesh.world.transformPoint(*mesh.getVertexData(v)->position);
            for (int i = 0; i < 3; ++i) {
                const float along = std::fabs((w - box.center).dot(box.axes[i]));
                EXPECT_LE(along, box.halfExtents[i] + slack) << "placement " << n;
                reach[i] = std::max(reach[i], along);
                low[i] = std::min(low[i], w[i]);
                high[i] = std::max(high[i], w[i]);
            }
        }
        expectNear(reach, box.halfExtents, slack, "the oriented box touches the corners");
        expectNear(aligned.minimum, low, slack, "aligned minimum");
        expectNear(aligned.maximum, high, slack, "aligned maximum");
        expectNear(aligned.center, (low + high) * 0.5f, slack, "aligned centre");
    }
}

TEST(PackageMesh, BlockEdgeCases)
{
    const Bytes marked = bodyBytes(true);
    const auto named = [](BlockBytes& b) -> BlockBytes& { return b << 12u << 5u << 'N' << 'a' << 'm' << 'e' << 'd'; };
    const Bytes geometry = bytesOf(PackagePartWriter::writeGeometry, PackagePartWriter::Geometry{});
    struct Case
    {
        const char* what;
        BlockBytes block;
        bool complete;
        bool renamed;
        int32_t vertices;
        int geometries;
    };
    Case cases[] = {
        {"a body and no name", BlockBytes() << 1u << 1u << 2u, true, false, 24, 0},
        {"tag 11 before tag 10 reads no geometry", BlockBytes() << 11u, true, true, 0, 0},
        {"tag 2 before any tag 1", BlockBytes() << 2u, false, false, 0, 0},
        {"a tree of only its version and end", BlockBytes() << 1u << 0u << 2u, true, true, 0, 0},
        {"another kind reads no content", BlockBytes() << 1u << 7u << 2u, true, true, 0, 0},
        {"a body without its marker", BlockBytes() << 1u << 1u << 2u, false, false, 0, 0},
        {"a count beyond the bytes left", BlockBytes() << 10u << 100000u << 11u, false, false, 0, 0},
        {"two geometries", BlockBytes() << 10u << 2u << 11u, true, true, 0, 2},
    };
    cases[0].block.append(marked) << 0u;
    named(cases[1].block) << 0u;
    named(cases[2].block.append(marked)) << 0u;
    named(cases[3].block << 'v' << '1' << '.' << '1' << char(0)) << 0u;
    named(cases[4].block) << 0u;
    named(cases[5].block.append(bodyBytes(false))) << 0u;
    named(cases[6].block) << 0u;
    named(cases[7].block.append(geometry).append(geometry)) << 0u;
    for (const Case& c : cases) {
        PackageMesh mesh(nullptr);
        const String random = *mesh.getName();
        EXPECT_EQ(mesh.load(*streamOf(c.block.bytes)), c.complete) << c.what;
        EXPECT_EQ(narrow(*mesh.getName()) == "Named", c.renamed) << c.what;
        EXPECT_EQ(*mesh.getVertexCount(), c.vertices) << c.what;
        EXPECT_EQ(mesh.geometries.count(), c.geometries) << c.what;
        if (c.geometries) {
            EXPECT_EQ(mesh.findActiveGeometry(), mesh.geometries.head()->item) << c.what;
            EXPECT_EQ(mesh.geometries.tail()->item->active, 0u) << c.what;
        }
        if (!c.renamed) {
            // Ten letters and digits, drawn with rand.
            const std::string name = narrow(random);
            EXPECT_EQ(name.size(), 10u) << c.what;
            for (char ch : name)
                EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(ch))) << c.what;
            EXPECT_EQ(narrow(*mesh.backup.getName()), name + "Backup") << c.what;
        }
    }
}

TEST(PackageMesh, ABodyIsKeptInTheBackupAndItsTree)
{
    PackageMesh mesh(nullptr);
    ASSERT_TRUE(mesh.load(*streamOf(bytesOf(PackagePartWriter::writeMesh, PackagePartSamples::box()))));
    EXPECT_EQ(narrow(*mesh.backup.getName()), "CrateBoxBackup");
    ASSERT_EQ(*mesh.backup.getVertexCount(), *mesh.getVertexCount());
    ASSERT_EQ(*mesh.backup.getIndexCount(), 36);
    for (int32_t v = 0; v < *mesh.getVertexCount(); ++v) {
        EXPECT_EQ(*mesh.backup.getVertexData(v)->position, *mesh.getVertexData(v)->position);
        EXPECT_EQ(*mesh.backup.getVertexData(v)->normal, *mesh.getVertexData(v)->normal);
        EXPECT_EQ(*mesh.backup.getVertexData(v)->uv, *mesh.getVertexData(v)->uv);
    }
    EXPECT_EQ(std::memcmp(mesh.backup.getIndices(), mesh.getIndices(), 36 * sizeof(uint16_t)), 0);
    const auto leaves = [](const auto& self, const MeshTools::BinaryTiangleTree* node) -> int {
        return !node ? 0 : node->triangle ? 1 : self(self, node->children[0]) + self(self, node->children[1]);
    };
    EXPECT_EQ(leaves(leaves, mesh.getTriangleTree()), 12);
    expectNear(mesh.localBox.halfExtents, {0.5f, 0.5f, 0.5f}, 1e-6f, "local box");
}

TEST(PackageGeometry, FitsTheMeshsPlacedBoxAndAdjustsEachFetchOnce)
{
    CollisionBody body;
    PackageGeometry geometry(&body, nullptr);
    ASSERT_NE(geometry.bodyGeometry, nullptr);
    CollisionBody::Geometry& record = *geometry.bodyGeometry;

    // A box turned by 90 degrees about y: its extents along x and z swap.
    OrientedBox turned = alignedBox({1.0f, 2.0f, 3.0f}, {2.0f, 1.0f, 3.0f});
    turned.axes[0] = {0.0f, 0.0f, -1.0f};
    turned.axes[2] = {1.0f, 0.0f, 0.0f};
    geometry.update(turned);
    EXPECT_EQ(record.type, CollisionBody::Geometry::box);
    expectNear(record.size, {6.0f, 2.0f, 4.0f}, 1e-6f, "box sizes");
    expectNear(record.position, {1.0f, 2.0f, 3.0f}, 0.0f, "box centre");

    geometry.size = {0.5f, 1.0f, 2.0f};
    geometry.position = {1.0f, 0.0f, -1.0f};
    geometry.rotation = {0.0f, 30.0f, 0.0f};
    // The body writes every fetched shape back: fetching again changes nothing.
    for (int fetch = 0; fetch < 3; ++fetch) {
        OrientedBox shape;
        record.fillShapeDesc(shape);
        expectNear(record.size, {3.0f, 2.0f, 8.0f}, 1e-6f, "box sizes times the factors");
        expectNear(record.position, {2.0f, 2.0f, 2.0f}, 1e-6f, "offset added");
        expectNear(record.angles, {0.0f, 30.0f, 0.0f}, 1e-6f, "turn added");
        expectNear(shape.halfExtents, {1.5f, 1.0f, 4.0f}, 1e-6f, "shape");
    }

    // A sphere as wide as the smallest full extent: 4 x 2 x 6 gives 2.
    geometry.kind = PackageGeometry::sphere;
    geometry.update(alignedBox({0.0f, 5.0f, 0.0f}, {2.0f, 1.0f, 3.0f}));
    EXPECT_EQ(record.type, CollisionBody::Geometry::sphere);
    EXPECT_FLOAT_EQ(record.diameter, 2.0f);
    record.sync();
    EXPECT_FLOAT_EQ(record.diameter, 1.0f) << "times the first size factor";
    expectNear(record.position, {1.0f, 5.0f, -1.0f}, 1e-6f, "sphere centre with the offset");
    EXPECT_EQ(geometry.scalableAxes(), 1u);
    geometry.kind = PackageGeometry::box;
    EXPECT_EQ(geometry.scalableAxes(), 7u);
}

TEST(PackageGeometry, KindTwoLeavesTheRecordAndScalesNoAxis)
{
    CollisionBody body;
    PackageGeometry geometry(&body, nullptr);
    geometry.kind = 2;
    geometry.update(alignedBox({4.0f, 4.0f, 4.0f}, {2.0f, 1.0f, 3.0f}));
    const CollisionBody::Geometry& record = *geometry.bodyGeometry;
    EXPECT_EQ(record.type, CollisionBody::Geometry::box);
    expectNear(record.size, {1.0f, 1.0f, 1.0f}, 0.0f, "as the body made it");
    expectNear(record.position, {}, 0.0f, "as the body made it");
    EXPECT_EQ(geometry.scalableAxes(), 0u);
    PackageGeometry detached(nullptr, nullptr);
    EXPECT_EQ(detached.scalableAxes(), 0u);
}

TEST(PackageGeometry, MeshesHandTheirGeometriesToBodiesAndLetThemGo)
{
    CollisionBody body;
    auto mesh = std::make_unique<PackageMesh>(nullptr);
    ASSERT_TRUE(mesh->load(*streamOf(bytesOf(PackagePartWriter::writeMesh, PackagePartSamples::box()))));
    ASSERT_EQ(mesh->geometries.count(), 2);

    mesh->collisionEnabled = 0;
    mesh->attachGeometries(body);
    EXPECT_EQ(body.geometries.count(), 0);
    mesh->collisionEnabled = 1;
    mesh->attachGeometries(body);
    ASSERT_EQ(body.geometries.count(), 2);
    body.syncTransforms();
    // The box geometry of the sample: the placed unit box at scale 2, turned
    // 30 degrees, raised 0.5; its size factors and offset on top.
    const CollisionBody::Geometry& box = *body.geometries.head()->item;
    const float extent = 2.0f * (std::cos(0.5235988f) + std::sin(0.5235988f));
    expectNear(box.size, {extent, 2.0f * 0.9f, extent}, 1e-3f, "box");
    expectNear(box.position, {0.0f, 0.6f, 0.0f}, 1e-5f, "box centre");
    EXPECT_EQ(mesh->geometries.head()->item->bodyGeometry, &box);

    mesh->forgetBody(body);
    EXPECT_EQ(mesh->geometries.head()->item->bodyGeometry, nullptr);
    mesh->attachGeometries(body);
    ASSERT_EQ(body.geometries.count(), 4);
    mesh.reset();
    for (auto* node = body.geometries.head(); node; node = node->next)
        EXPECT_EQ(node->item->first, nullptr) << "a deleted geometry is no longer asked";
    body.syncTransforms();
}

TEST(PackageMesh, ATreeMeshReadsItsStreamToItsEndAndTakesItsBounds)
{
    PackagePartWriter::Mesh written;
    written.kind = 0;
    written.tree = TreeSamples::sampleTree();
    written.displayName = "Sample tree";
    written.position = {4.0f, 0.0f, -2.0f};
    PackageMesh mesh(nullptr);
    ASSERT_TRUE(mesh.load(*streamOf(bytesOf(PackagePartWriter::writeMesh, written))));
    ASSERT_NE(mesh.tree, nullptr);
    // The fields after the tree were read: its stream ended at its own tag 0.
    EXPECT_EQ(narrow(mesh.displayName), "Sample tree");
    expectNear(mesh.position, {4.0f, 0.0f, -2.0f}, 0.0f, "position");
    EXPECT_EQ(mesh.tree->seed, TreeSamples::sampleSeed);
    const BoundingBox bounds = mesh.tree->getBounds();
    EXPECT_GT(bounds.maximum.y - bounds.minimum.y, 10.0f);
    expectNear(mesh.localBox.center, bounds.center, 0.0f, "local box centre");
    expectNear(mesh.localBox.halfExtents, bounds.maximum - bounds.center, 0.0f, "local box extents");

    // A tree mesh without a stream is refused by the writer.
    written.tree.clear();
    FileArray target(256);
    EXPECT_FALSE(PackagePartWriter::writeMesh(target, written));
}
