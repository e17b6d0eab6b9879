// The builder's tree package: loaded from an "Objects" folder as the game
// does, its placed objects come alive as dynamic objects whose entity holds
// the tree's trunk and foliage (no device, no physics thread).
#include "../Application/AppTestFiles.h"

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
