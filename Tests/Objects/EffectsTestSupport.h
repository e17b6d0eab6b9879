#pragma once
// The effect functions' tests: the builder's packages placed in a scene
// without a device, the global terrain from a generated map, the race clock
// and the frame factor set by the test.
#include "ObjectsTestSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"

#include "ObjectPackageSamples.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Race/RaceClock.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include <cstdlib>

namespace EffectsTests {

// The race clock at a time the test moves; the frame factor at 1; rand
// seeded. Both clocks and the factor go back at the end.
struct Clock
{
    explicit Clock(uint32_t seed = 4501)
    {
        now = 100000;
        previous = gRaceClock;
        previousFactor = gFrameFactor.load();
        gRaceClock = &read;
        gFrameFactor.store(1.0f);
        std::srand(seed);
    }
    ~Clock()
    {
        gRaceClock = previous;
        gFrameFactor.store(previousFactor);
    }
    static DWORD WINAPI read() { return now; }
    static inline DWORD now = 0;
    RaceClock previous;
    float previousFactor;
};

// The global terrain loaded from a map for as long as this lives.
struct Ground
{
    explicit Ground(const TerrainMapWriter::Map& map) { load(map); }
    ~Ground() { gTerrain.clear(); }
    bool load(const TerrainMapWriter::Map& map)
    {
        gTerrain.clear();
        const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(map);
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        loaded = gTerrain.load(nullptr, TerrainTestMaps::settings(3.0f), stream);
        return loaded;
    }
    // Flat ground at one raw height.
    static TerrainMapWriter::Map flat(float raw = 20000.0f)
    {
        return TerrainTestMaps::heightMap(128, [raw](int32_t, int32_t) { return raw; });
    }
    vec3d middle() const
    {
        const vec3d c = gTerrain.box.center;
        return {c.x, gTerrain.getHeight(c.x, c.z, 3), c.z};
    }
    bool loaded = false;
};

// The builder's packages listed into a scene whose swap chain has no device.
struct World
{
    World()
    {
        const std::wstring folder = AppTestFiles::freshFolder(L"effects");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        ObjectPackageSamples::save(String(folder.c_str()));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(16);
    }
    ~World() { scene.release(); }

    ObjPkgManager::Package* package(const wchar_t* name) { return scene.objectPackages.findPackage(String(name)); }
    DynObject* place(const wchar_t* name, vec3d at, float scale = 1.0f)
    {
        Object* object = scene.objectPackages.createObject(package(name), at, scale);
        if (!object)
            return nullptr;
        object->instance = object->createInstance();
        return dynamic_cast<DynObject*>(object->instance);
    }
    template <class Instance>
    static Instance* instanceOf(DynObject* object, uint32_t flag)
    {
        if (!object || !object->functions)
            return nullptr;
        DynObject::FunctionManager::Function* entry = object->functions->find(flag);
        return entry ? dynamic_cast<Instance*>(entry->instance) : nullptr;
    }

    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

}
