#pragma once
// The builder's packages listed from a fresh folder into a scene of the
// dynamic-object tests, and objects of them placed alive.
#include "../Application/AppTestFiles.h"

#include "ObjectPackageSamples.h"
#include "ObjectPackageWriter.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Landscape/Scene.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ObjectsTests {

// The scene draws through chain (the test's own, without a device, unless
// one is given); the physics manager takes bodies up to budget.
struct World
{
    // more: packages of the test's own besides the builder's, by file name.
    using Packages = std::vector<std::pair<std::wstring, ObjectPackageWriter::Package>>;
    explicit World(int32_t budget = 128, D3D::Device::SwapChain* device = nullptr, const Packages& more = {})
        : chain(device ? *device : ownChain)
    {
        const std::wstring folder = AppTestFiles::freshFolder(L"dynobjects");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        ObjectPackageSamples::save(String(folder.c_str()));
        for (const auto& [name, package] : more)
            ObjectPackageWriter::save(package, String((folder + L"Objects\\" + name).c_str()));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        if (budget > 0)
            physics().start(budget);
    }
    ~World() { scene.release(); }

    EntityManager::PhysicsManager& physics() { return *chain.entities->physicsManager; }
    ObjPkgManager::Package* package(const wchar_t* name) { return scene.objectPackages.findPackage(String(name)); }
    // An object of the package placed at y above the ground, alive.
    DynObject* place(const wchar_t* name, vec3d at, float scale = 1.0f)
    {
        Object* object = scene.objectPackages.createObject(package(name), at, scale);
        if (!object)
            return nullptr;
        object->instance = object->createInstance();
        return dynamic_cast<DynObject*>(object->instance);
    }
    // The object's instance goes; the placed object stays.
    static void destroy(DynObject* instance)
    {
        Object* owner = instance->object;
        owner->destroyInstance(instance);
        owner->instance = nullptr;
    }

    D3D::Device::SwapChain ownChain{nullptr};
    D3D::Device::SwapChain& chain;
    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

}
