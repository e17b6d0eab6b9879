// The builder's tree package: loaded from an "Objects" folder as the game
// does, its placed objects come alive as dynamic objects whose entity holds
// the tree's trunk and foliage (no device, no physics thread).
#include "../Application/AppTestFiles.h"
#include "../Landscape/SceneFrames.h"
#include "../Render/TestDevice.h"
#include "DynObjectWorld.h"

#include "ObjectPackageSamples.h"
#include "TreeSamples.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "Tree/Bough.h"
#include "Tree/Foliage.h"

#include "Entity/StoredMesh.h"
#include "Landscape/Scene.h"
#include "Physics/PhysicsManager.h"
#include "Render/Shader.h"
#include "Render/SwapChain.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <tuple>
#include <vector>

namespace {

// The tree package (as the builder writes it, or with its trunk moved)
// listed and built in a scene whose swap chain has no device.
struct TreeWorld
{
    explicit TreeWorld(const ObjectPackageWriter::Package& package)
    {
        const std::wstring folder = AppTestFiles::freshFolder(L"treepackage");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(ObjectPackageWriter::save(package, String((folder + L"Objects\\Tree.teo").c_str())));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(16);
    }
    ~TreeWorld() { scene.release(); }

    ObjPkgManager::Package* package() { return scene.objectPackages.findPackage(String(L"Tree")); }
    DynObject* place(vec3d at)
    {
        Object* object = scene.objectPackages.createObject(package(), at, 1.0f);
        if (!object)
            return nullptr;
        object->instance = object->createInstance();
        return dynamic_cast<DynObject*>(object->instance);
    }

    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

// A stone box, then two trees four units to either side of it.
ObjectPackageWriter::Package grove()
{
    ObjectPackageWriter::Package written;
    written.meshes.push_back(ObjectPackageSamples::unitBox("GroveStone", {0.0f, 0.5f, 0.0f}, 1.0f));
    for (const auto& [name, seed, x] : {std::tuple{"GroveTreeA", TreeSamples::sampleSeed, -4.0f},
                                        std::tuple{"GroveTreeB", ObjectPackageSamples::grownTreeSeed, 4.0f}}) {
        ObjectPackageWriter::Package tree = ObjectPackageSamples::tree(name, seed);
        tree.meshes[0].position = {x, 0.0f, 0.0f};
        written.meshes.push_back(tree.meshes[0]);
    }
    return written;
}

class GroveDevice : public TestDevice::DeviceSuite
{
};

}

TEST(TreePackage, PlacedTreesDrawTrunkAndFoliageOnTheirOwnOrTheMeshsMatrix)
{
    struct Case
    {
        const char* what;
        vec3d position; // of the tree mesh in its package
        bool ownMatrix;
    };
    for (const Case& c : {Case{"the tree at the package's origin", {}, false},
                          Case{"the tree moved within its package", {0.0f, 2.0f, 0.0f}, true}}) {
        SCOPED_TRACE(c.what);
        ObjectPackageWriter::Package written = ObjectPackageSamples::tree();
        written.meshes[0].position = c.position;
        TreeWorld world(written);
        ObjPkgManager::Package* package = world.package();
        ASSERT_NE(package, nullptr);
        ASSERT_EQ(package->built, 1u);
        ASSERT_EQ(package->meshes.count(), 1);
        ObjPkgManager::Mesh& mesh = *package->meshes.head()->item;
        ASSERT_NE(mesh.tree, nullptr);
        EXPECT_EQ(mesh.tree->seed, TreeSamples::sampleSeed);
        EXPECT_GT(mesh.tree->bough(0).boneCount, 0u);
        EXPECT_GT(mesh.tree->getBounds().maximum.y - mesh.tree->getBounds().minimum.y, 1.0f) << "the trunk stands";

        // Without a device each object's trunk is built again (the bark's
        // roughness draws new numbers): the box is the latest build's.
        DynObject* first = world.place({10.0f, 0.0f, 0.0f});
        ASSERT_NE(first, nullptr);
        const BoundingBox bounds = mesh.tree->getBounds();
        DynObject* second = world.place({-10.0f, 0.0f, 5.0f});
        ASSERT_NE(second, nullptr);
        ASSERT_EQ(mesh.tree->foliageCount(), 1u);
        for (DynObject* object : {first, second}) {
            ASSERT_EQ(object->subEntities.count(), 2) << "the trunk, then the foliage";
            EntityManager::SubEntity& trunk = *object->subEntities.head()->item;
            EntityManager::SubEntity& leaves = *object->subEntities.head()->next->item;
            EXPECT_EQ(&leaves.mesh(), mesh.tree->foliage(0)->mesh(0));
            EXPECT_EQ(leaves.hasOwnMatrix, c.ownMatrix);
            Shader leafRecord;
            ASSERT_TRUE(leaves.recordStates);
            leaves.recordStates(leafRecord);
            EXPECT_EQ(leafRecord.alphaTest, 1u) << "the foliage's own material";
            EXPECT_EQ(leafRecord.alphaReference, 190u);
            EXPECT_EQ(std::wcscmp(trunk.mesh().name.text(), mesh.tree->meshName(0)), 0);
            EXPECT_EQ(trunk.hasOwnMatrix, c.ownMatrix);
            if (c.ownMatrix)
                EXPECT_EQ(trunk.local.m[13], 2.0f);
            // The trunk callback gives the tree's material.
            Shader record;
            ASSERT_TRUE(trunk.recordStates);
            trunk.recordStates(record);
            EXPECT_EQ(record.material.Diffuse.r, mesh.tree->diffuse);
            EXPECT_EQ(record.material.Ambient.g, mesh.tree->ambient);
            EXPECT_EQ(object->hidden, 0u) << "no geometry, no rigid body to miss";
        }
        // Both objects draw the tree's one mesh.
        EXPECT_EQ(&first->subEntities.head()->item->mesh(), &second->subEntities.head()->item->mesh());
        if (!c.ownMatrix) {
            // The entity is bounded by the trunk, at the object's place.
            for (int axis = 0; axis < 3; ++axis) {
                EXPECT_LE(first->localBox.minimum[axis], bounds.minimum[axis] + 1e-3f) << axis;
                EXPECT_GE(first->localBox.maximum[axis], bounds.maximum[axis] - 1e-3f) << axis;
            }
            EXPECT_NEAR(first->worldBounds.maximum.x, 10.0f + bounds.maximum.x, 1e-2f);
        }
    }
}

// A package of a plain mesh, then two trees: the sub-entities follow the
// package's mesh list (the box, then each tree's trunk and foliage), each
// tree's trunk on the trunk layer and taking no projected textures, each drawn
// with its own tree's material.
TEST(TreePackage, EveryTreeOfAPackageJoinsTheObjectInListOrder)
{
    TreeWorld world(grove());
    ObjPkgManager::Package* package = world.package();
    ASSERT_NE(package, nullptr);
    ASSERT_EQ(package->meshes.count(), 3);
    ObjPkgManager::Mesh* meshes[3] = {};
    int n = 0;
    for (auto* node = package->meshes.head(); node; node = node->next)
        meshes[n++] = node->item;
    Tree* trees[2] = {meshes[1]->tree.get(), meshes[2]->tree.get()};
    ASSERT_NE(trees[0], nullptr);
    ASSERT_NE(trees[1], nullptr);
    ASSERT_EQ(meshes[0]->tree, nullptr);
    // Told apart by their materials.
    trees[0]->diffuse = 0.25f;
    trees[1]->diffuse = 0.75f;

    DynObject* object = world.place({0.0f, 0.0f, 0.0f});
    ASSERT_NE(object, nullptr);
    std::vector<EntityManager::SubEntity*> subs;
    for (auto* node = object->subEntities.head(); node; node = node->next)
        subs.push_back(node->item);
    ASSERT_EQ(subs.size(), 1u + 2u * 2u) << "the box, then trunk and foliage of each tree";
    EXPECT_EQ(std::wcscmp(subs[0]->mesh().name.text(), L"GroveStone"), 0);
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE(t);
        EntityManager::SubEntity& trunk = *subs[size_t(1 + 2 * t)];
        EntityManager::SubEntity& leaves = *subs[size_t(2 + 2 * t)];
        EXPECT_EQ(static_cast<const void*>(trunk.mesh().name.text()), static_cast<const void*>(trees[t]->meshName(0)))
            << "its own tree's trunk";
        EXPECT_EQ(&leaves.mesh(), trees[t]->foliage(0)->mesh(0));
        EXPECT_EQ(trunk.layer, DynObject::trunkLayer);
        EXPECT_EQ(leaves.layer, 0);
        EXPECT_EQ(trunk.noProjection, 1u);
        EXPECT_EQ(leaves.noProjection, 0u);
        EXPECT_TRUE(trunk.hasOwnMatrix) << "each tree keeps its place in the package";
        EXPECT_EQ(trunk.local.m[12], t == 0 ? -4.0f : 4.0f);
        Shader record;
        ASSERT_TRUE(trunk.recordStates);
        trunk.recordStates(record);
        EXPECT_EQ(record.material.Diffuse.r, trees[t]->diffuse) << "its own tree's material";
        Shader leafRecord;
        ASSERT_TRUE(leaves.recordStates);
        leaves.recordStates(leafRecord);
        EXPECT_EQ(leafRecord.alphaTest, 1u);
    }
    EXPECT_EQ(subs[0]->layer, 0);
    EXPECT_EQ(subs[0]->noProjection, 0u);
}

// A tree of two foliage objects: its trunk and its third sub-entity (the
// second foliage) take no projected textures, the first foliage does; the
// whole tree casts its shadow.
TEST(TreePackage, TheTrunkAndTheThirdPartOfATreeTakeNoProjections)
{
    // "v1.1", two foliage objects named "Oak" and "Elm" (tags 7 and 8), end.
    const std::vector<uint8_t> stream = {'v', '1', '.', '1', 7, 2, 0, 0, 0, 8, 1, 3, 0, 0, 0, 'O', 'a', 'k', 0,
                                         1,   3,   0,   0,   0, 'E', 'l', 'm', 0, 0};
    ObjectPackageWriter::Package written;
    PackagePartWriter::Mesh tree;
    tree.kind = 0;
    tree.tree = stream;
    tree.displayName = tree.name = "TwoFoliageTree";
    written.meshes.push_back(tree);
    TreeWorld world(written);
    ASSERT_NE(world.package(), nullptr);
    ASSERT_EQ(world.package()->meshes.count(), 1);
    ASSERT_EQ(world.package()->meshes.head()->item->tree->foliageCount(), 2u);
    DynObject* object = world.place({});
    ASSERT_NE(object, nullptr);
    std::vector<uint32_t> unprojected, casts;
    for (auto* node = object->subEntities.head(); node; node = node->next) {
        unprojected.push_back(node->item->noProjection);
        casts.push_back(node->item->castsShadow);
    }
    EXPECT_EQ(unprojected, (std::vector<uint32_t>{1u, 0u, 1u}));
    EXPECT_EQ(casts, (std::vector<uint32_t>{1u, 1u, 1u})) << "the tree casts its shadow whole";
}

// Both trees of the package are drawn, each where the package puts it,
// beside the stone between them.
TEST_F(GroveDevice, BothTreesOfAPackageAreDrawn)
{
    constexpr uint32_t clear = 0xFF204060u;
    ObjectsTests::World world(16, &chain(), {{L"Grove.teo", grove()}});
    chain().fogEnabled = 0;
    Object* placed = world.scene.objectPackages.createObject(world.package(L"Grove"), {0.0f, 0.0f, 0.0f}, 1.0f);
    ASSERT_NE(placed, nullptr);
    placed->instance = placed->createInstance();
    auto* object = dynamic_cast<DynObject*>(placed->instance);
    ASSERT_NE(object, nullptr);
    ASSERT_EQ(object->subEntities.count(), 5);
    SceneFrames::look(chain(), {0.0f, 3.0f, -16.0f}, 0.0f, 0.0f);
    const TestDevice::Level frame = SceneFrames::draw(world.scene, chain(), nullptr, clear);
    // Drawn pixels in a column around each trunk's foot and above it.
    const auto drawnAround = [&](float x) {
        int drawn = 0;
        for (float y = 0.5f; y < 4.0f; y += 0.5f) {
            const POINT p = SceneFrames::pixelOf(chain(), {x, y, 0.0f}, frame);
            for (int dx = -6; dx <= 6; ++dx) {
                const int px = int(p.x) + dx;
                if (px >= 0 && p.y >= 0 && px < int(frame.width) && p.y < LONG(frame.height))
                    drawn += (frame.at(uint32_t(px), uint32_t(p.y)) & 0xFFFFFF) != (clear & 0xFFFFFF);
            }
        }
        return drawn;
    };
    EXPECT_GT(drawnAround(-4.0f), 10) << "the first tree";
    EXPECT_GT(drawnAround(4.0f), 10) << "the second tree";
}
