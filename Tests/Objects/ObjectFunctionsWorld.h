#pragma once
// The builder's packages (and any the test adds) listed from a fresh folder
// into a scene, objects placed alive from them, the race clock and the frame
// factor held, and a generated map as the global terrain: what the object
// function tests stand on.
#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"

#include "ObjectPackageSamples.h"
#include "ObjectPackageWriter.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/FileArray.h"
#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace ObjectFunctionsTests {

// gRaceClock reads now while a TestClock lives.
struct TestClock
{
    static inline uint32_t now = 1;
    static DWORD WINAPI read() { return now; }
    explicit TestClock(uint32_t start) : previous(gRaceClock) { now = start, gRaceClock = read; }
    ~TestClock() { gRaceClock = previous; }
    RaceClock previous;
};

// The frame factor at value while this lives.
struct FrameFactor
{
    explicit FrameFactor(float value) : previous(gFrameFactor.load()) { gFrameFactor.store(value); }
    ~FrameFactor() { gFrameFactor.store(previous); }
    float previous;
};

// The global terrain loaded from map while this lives.
struct Ground
{
    explicit Ground(const TerrainMapWriter::Map& map, float horizontal = 3.0f)
    {
        const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(map);
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        loaded = gTerrain.load(nullptr, TerrainTestMaps::settings(horizontal), stream);
    }
    ~Ground() { gTerrain.clear(); }
    bool loaded = false;
};

// The sample packages and extra ones (file name, package) in a scene drawn
// by chain (a swap chain without device when none is given).
struct World
{
    explicit World(const std::vector<std::pair<std::wstring, ObjectPackageWriter::Package>>& extra = {},
                   D3D::Device::SwapChain* drawing = nullptr)
        : chain(drawing ? drawing : &ownChain)
    {
        const std::wstring folder = AppTestFiles::freshFolder(L"objfunctions");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(ObjectPackageSamples::save(String(folder.c_str())));
        for (const auto& [file, package] : extra)
            EXPECT_TRUE(ObjectPackageWriter::save(package, String((folder + L"Objects\\" + file).c_str())));
        scene.swapChain = chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain->entities->physicsManager->start(16);
    }
    ~World() { scene.release(); }

    ObjPkgManager::Package* package(const wchar_t* name) { return scene.objectPackages.findPackage(String(name)); }
    // An object of the package placed at `at`, alive; state is its state byte
    // before it comes alive.
    DynObject* place(const wchar_t* name, vec3d at, uint8_t state = 0)
    {
        Object* object = scene.objectPackages.createObject(package(name), at, 1.0f);
        if (!object)
            return nullptr;
        object->state = state;
        object->instance = object->createInstance();
        return dynamic_cast<DynObject*>(object->instance);
    }

    D3D::Device::SwapChain ownChain{nullptr};
    D3D::Device::SwapChain* chain;
    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

}
