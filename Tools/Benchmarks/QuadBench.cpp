// Prints the quad bike's work on one core: reading the sample quad's
// template block (its 17 part names looked up among the package's meshes,
// the springs, the nine sound files copied and typed) without its textures;
// building a quad on an entity showing the sample's 17 meshes on a rigid
// body; the speed and overturn test of 8 quads as the race asks them; and 8
// sample quads driving as dynamic objects over a generated terrain: one
// simulation step of a quad (its four ground probes), the quads' share of a
// frame (8 quads x 3 steps), and the simulator's whole step batch with them;
// and the main thread's frame of 8 quads, their riders posed and skinned;
// and the wheel dirt and exhaust smoke of 8 quads, and one wheel soiling and
// its upload.
// Each figure is the time per call over a batch; minimum and median of
// several batches.
#include "Vehicle/QuadInstance.h"
#include "Vehicle/QuadPhysics.h"

#include "Entity/Entity.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Landscape/Terrain.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "Application/ControlBindings.h"
#include "Application/UserInput.h"
#include "Landscape/Scene.h"
#include "Physics/neRigidBody.h"
#include "Physics/neSimulator.h"
#include "Entity/ParticleSystem.h"
#include "Render/SwapChain.h"

#include "Core/Timer.h"

#include "BenchDevice.h"
#include "BenchFigures.h"
#include "FunctionsRecordWriter.h"
#include "ObjectPackageWriter.h"
#include "QuadSample.h"
#include "TerrainMapWriter.h"

#include "Core/FileArray.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>
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
        live[i]->wheels[2].contacts[0].synced.groundNormal = {0.0f, 1.0f, 0.0f};
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

String benchFolder()
{
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const String folder = String(temp) + L"KorvantaQuadBench";
    CreateDirectoryW(folder.text(), nullptr);
    CreateDirectoryW((folder + L"\\Objects").text(), nullptr);
    return folder.addBackslash();
}

// Eight sample quads at scale 5 driving at full throttle in a loose pack
// over rolling ground, stepped as the physics thread steps them.
void driving()
{
    TerrainMapWriter::Map map;
    map.size = 128;
    for (int32_t i = 0; i < 128; ++i)
        for (int32_t j = 0; j < 128; ++j)
            map.heights.push_back(uint16_t(20000.0f + 1500.0f * std::sin(float(i) * 0.2f) * std::cos(float(j) * 0.15f)));
    FileArray mapBytes(1 << 16);
    TerrainMapWriter::write(map, mapBytes);
    mapBytes.seek(0, 0);
    gTerrain.load(nullptr, Terrain::Settings(), mapBytes);
    gFrameFactor = 1.0f;
    gFrameTime = 1.0f / 35.0f;

    const String folder = benchFolder();
    QuadSample::save(folder);
    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain;
    scene.objectPackages.loadFolder(folder + L"Objects\\");
    scene.objectPackages.buildPackages();
    EntityManager::PhysicsManager& physics = *chain.entities->physicsManager;
    physics.start(128);
    ObjPkgManager::Package* package = scene.objectPackages.findPackage(String(L"Quad"));
    auto input = std::make_unique<UserInput>();
    Control control(*input);
    control.joystickSet.axes[1] = &input->state.keyAxisY;
    input->state.keyAxisY = 1.0f;
    std::vector<DynObject*> objects;
    std::vector<ObjPkgManager::Functions::QuadPhysics::Instance*> quads;
    const vec3d centre = gTerrain.box.center;
    for (int i = 0; package && i < 8; ++i) {
        const float x = centre.x + float(i % 4) * 20.0f - 30.0f, z = centre.z + float(i / 4) * 25.0f - 600.0f;
        Object* placed = scene.objectPackages.createObject(package, {x, gTerrain.getHeight(x, z, 3), z}, 5.0f);
        placed->heightOffset = 0.0f;
        placed->instance = placed->createInstance();
        auto* object = dynamic_cast<DynObject*>(placed->instance);
        auto* entry = object ? object->functions->find(DynObject::FunctionManager::quadFlag) : nullptr;
        if (!entry)
            continue;
        auto* quad = dynamic_cast<ObjPkgManager::Functions::QuadPhysics::Instance*>(entry->instance);
        quad->controls = &control;
        objects.push_back(object);
        quads.push_back(quad);
    }
    if (quads.size() != 8) {
        std::printf("the sample quads were not made\n");
        return;
    }
    const auto frame = [&] {
        physics.simulator->advanceThreeSteps(nullptr, 3.0f / 35.0f);
        for (DynObject* object : objects)
            object->physics->update();
        for (auto* quad : quads) {
            quad->update();
            quad->prepareRender();
        }
    };
    for (int i = 0; i < 60; ++i) // under way
        frame();

    // One step of one quad: the four probes, suspension, friction and drive.
    auto* quad = quads[0];
    neRigidBody* body = quad->body();
    const matrix3d pose = *body->getTransform();
    const vec3d velocity = body->velocity;
    const auto one = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int i = 0; i < 2000; ++i)
            quad->step(body);
        return (BenchDevice::seconds() - from) / 2000;
    });
    body->setPose(pose);
    body->velocity = velocity;
    BenchFigures::print("one quad's simulation step (four probes)", one, 1e6, "us");
    std::printf("%52s (budget 0.4 us; %u contacts down)\n", "",
                uint32_t(quad->wheels[0].contacts[0].grounded + quad->wheels[1].contacts[0].grounded +
                         quad->wheels[2].contacts[0].grounded + quad->wheels[2].contacts[1].grounded));

    // Of which the four ground probes.
    const auto probes = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        float sum = 0.0f;
        vec3d normal;
        for (int i = 0; i < 2000; ++i)
            for (const auto& wheel : quad->wheels)
                for (const auto& contact : wheel.contacts)
                    sum += gTerrain.getHeight(contact.rayEnd.x, contact.rayEnd.z, 3, normal) + normal.y;
        static volatile float sink;
        sink = sum;
        return (BenchDevice::seconds() - from) / 2000 * 4.0 / 6.0;
    });
    BenchFigures::print("of which four ground probes", probes, 1e6, "us");

    // The quads' share of a frame: 8 quads x 3 steps, as the batch calls them.
    const auto share = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int round = 0; round < 200; ++round)
            for (int stepOfBatch = 0; stepOfBatch < 3; ++stepOfBatch)
                for (auto* q : quads)
                    q->step(q->body());
        return (BenchDevice::seconds() - from) / 200;
    });
    BenchFigures::print("8 quads x 3 steps (per frame)", share, 1e6, "us");
    std::printf("%52s (budget 10 us)\n", "");

    // The simulator's batch of three steps with the 8 quads driving, and the
    // main thread's frame of the 8 quads (sync, update, wheel visuals).
    const auto batch = BenchFigures::repeat(15, [&] {
        double stepped = 0.0;
        for (int round = 0; round < 20; ++round) {
            const double from = BenchDevice::seconds();
            physics.simulator->advanceThreeSteps(nullptr, 3.0f / 35.0f);
            stepped += BenchDevice::seconds() - from;
            for (DynObject* object : objects)
                object->physics->update();
            for (auto* q : quads) {
                q->update();
                q->prepareRender();
            }
        }
        return stepped / 20;
    });
    BenchFigures::print("batch of 3 steps, 8 sample quads driving", batch, 1e6, "us");
    int32_t fastest = 0;
    for (auto* q : quads)
        fastest = std::max(fastest, q->getSpeed());
    std::printf("%52s (physics 0.06 ms; fastest quad %d)\n", "", fastest);
    const auto mainFrame = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int round = 0; round < 200; ++round)
            for (auto* q : quads) {
                q->update();
                q->prepareRender();
            }
        return (BenchDevice::seconds() - from) / 200;
    });
    BenchFigures::print("8 quads' update and wheel turn (per frame)", mainFrame, 1e6, "us");

    // The same frame with each rider's skinning walk into memory, as it
    // runs between the lock and unlock of its drawn buffer (no device here).
    ObjPkgManager::Mesh* rider = quad->templ->mesh(ObjPkgManager::Functions::QuadPhysics::driver);
    std::vector<EntityManager::MeshVertex> skinned(size_t(rider ? rider->countedVertices() : 0));
    const auto riderFrame = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int round = 0; round < 200; ++round)
            for (auto* q : quads) {
                q->update();
                q->prepareRender();
                if (rider)
                    rider->packVertices(skinned.data());
            }
        return (BenchDevice::seconds() - from) / 200;
    });
    BenchFigures::print("8 quads' frame, riders posed and skinned", riderFrame, 1e6, "us");
    std::printf("%52s (budget 120 us)\n", "");
    BenchFigures::print("of which one quad", riderFrame, 1e6 / 8.0, "us");
    std::printf("%52s (budget 15 us)\n", "");
    scene.release();
    gTerrain.clear();
}


// The wheel dirt and the exhaust smoke of 8 sample quads driving with their
// rear wheels spinning and the throttle open, on the device of a small
// window: their updates and every particle's callback as the particle pass
// advances them (1,720 particles), per frame; and one soiling of a wheel's
// dirt texture at the top rate, and its upload to the device.
void effects()
{
    struct Client final : D3D::SwapChainInterface
    {
    } client;
    HWND window = nullptr;
    D3D::Device::SwapChain* chain = BenchDevice::open(L"QuadBench", 320, 240, client, window);
    if (!chain)
        return;
    FileArray bytes(4096);
    ObjectPackageWriter::write(bytes, QuadSample::package());
    bytes.seek(0, 0);
    auto package = std::make_unique<ObjPkgManager::Package>(nullptr, String(L"Quad.teo"));
    package->buildFrom(bytes, nullptr);
    ObjPkgManager::Functions::QuadPhysics* templ = package->functions.quadPhysics;
    std::unique_ptr<EntityManager::Entity> entities[8];
    std::unique_ptr<ObjPkgManager::Functions::QuadPhysics::Instance> quads[8];
    for (int i = 0; i < 8; ++i) {
        entities[i] = std::make_unique<EntityManager::Entity>(*chain->entities);
        for (auto* node = package->meshes.head(); node; node = node->next)
            entities[i]->addStoredMesh(*node->item, true, true, nullptr, nullptr);
        entities[i]->world.setRow(3, {float(i) * 10.0f, 0.0f, 0.0f});
        quads[i] = std::make_unique<ObjPkgManager::Functions::QuadPhysics::Instance>(templ, entities[i].get(), 1.0f);
        quads[i]->swapChain = chain;
        quads[i]->startEffects();
        quads[i]->engineSound.load = 1.0f;
        for (WheelDirt::Track& track : quads[i]->wheelDirt.tracks) {
            track.contact->grounded = 1;
            track.colour[0] = 96.0f / 255.0f;
        }
    }
    std::srand(50);
    gFrameTime.store(0.02f);
    gFrameFactor.store(1.0f);
    uint32_t frame = 0;
    const auto advance = [](ParticleSystem* system) {
        if (!system)
            return;
        for (auto* node = system->particles.head(); node; node = node->next) {
            Particle& p = *node->item;
            system->callback(p);
            if (!p.frozen)
                p.position += p.velocity;
        }
    };
    const auto frames = BenchFigures::repeat(15, [&] {
        const double from = BenchDevice::seconds();
        for (int round = 0; round < 100; ++round) {
            ++frame;
            for (int i = 0; i < 8; ++i) {
                EntityManager::Entity& e = *entities[i];
                e.world.m[14] = float(frame % 400) * 1.5f;
                for (WheelDirt::Track& track : quads[i]->wheelDirt.tracks) {
                    track.contact->synced.contactPoint = e.world.row(3);
                    track.contact->wheel->spinAngle = float(frame) * 40.0f;
                }
                quads[i]->wheelDirt.update();
                quads[i]->exhaustSmoke.update();
                advance(quads[i]->wheelDirt.dust);
                advance(quads[i]->wheelDirt.clods);
                advance(quads[i]->exhaustSmoke.system);
            }
        }
        return (BenchDevice::seconds() - from) / 100;
    });
    BenchFigures::print("dirt and smoke of 8 quads (per frame)", frames, 1e6, "us");
    std::printf("%52s (budget 150 us)\n", "");
    WheelDirt::Track& track = quads[0]->wheelDirt.tracks[2];
    track.rate = 1.0f;
    // The soiling chooses its texels; the upload paints them in one lock of
    // the texture, at most once a second for each wheel.
    const auto soil = BenchFigures::repeat(15, [&] {
        double spent = 0.0;
        for (int round = 0; round < 100; ++round) {
            const double from = BenchDevice::seconds();
            quads[0]->wheelDirt.soilWheel(track);
            spent += BenchDevice::seconds() - from;
            track.pendingCount = 0;
        }
        return spent / 100;
    });
    BenchFigures::print("soiling a wheel's dirt texture, 40 texels", soil, 1e6, "us");
    std::printf("%52s (budget 20 us)\n", "");
    const auto upload = BenchFigures::repeat(15, [&] {
        double spent = 0.0;
        for (int round = 0; round < 20; ++round) {
            quads[0]->wheelDirt.soilWheel(track);
            const double from = BenchDevice::seconds();
            quads[0]->wheelDirt.uploadSoiling(true);
            spent += BenchDevice::seconds() - from;
        }
        return spent / 20;
    });
    BenchFigures::print("its upload: lock, 40 texels, unlock", upload, 1e6, "us");
    std::printf("%52s (8 quads: at most 24 a second)\n", "");
    for (auto& quad : quads)
        quad.reset();
    for (auto& entity : entities)
        entity.reset();
    package.reset();
    gDirectGraphics.release();
    DestroyWindow(window);
}
}

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    templateLoad();
    instances();
    driving();
    effects();
    return 0;
}
