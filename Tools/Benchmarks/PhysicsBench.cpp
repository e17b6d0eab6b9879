// Prints the cost of simulator steps, in microseconds per step on one core,
// for named scenes of the game's sizes, and of the physics manager's frame.
#include "ObjectPackageSamples.h"
#include "ObjectPackageWriter.h"
#include "TerrainMapWriter.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Entity/Entity.h"
#include "Landscape/Terrain.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neCollideShapes.h"
#include "Physics/neConvex.h"
#include "Physics/neSimulator.h"
#include "Physics/neTriangle.h"
#include "Landscape/Scene.h"
#include "Render/SwapChain.h"

#include "Core/FileArray.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

namespace
{

double now()
{
    LARGE_INTEGER c, f;
    QueryPerformanceCounter(&c);
    QueryPerformanceFrequency(&f);
    return double(c.QuadPart) / double(f.QuadPart);
}

neRigidBody* addBox(neSimulator& sim, vec3d p, vec3d v)
{
    neRigidBody* b = sim.createRigidBody();
    b->addGeometry()->setBoxSize(1.0f, 0.8f, 2.0f);
    b->updateBounds();
    matrix3d t = matrix3d::identity();
    t.m[12] = p.x;
    t.m[13] = p.y;
    t.m[14] = p.z;
    b->setPose(t);
    b->velocity = v;
    b->setAngularMomentum({0.1f, 0.3f, -0.2f});
    return b;
}

// The quickest and the median of a round's figures (the machine is shared:
// the minimum is what the code costs, the median what a busy core gives).
struct Figures
{
    double minimum;
    double median;
};

Figures figures(std::vector<double> rounds)
{
    std::sort(rounds.begin(), rounds.end());
    return {rounds.front(), rounds[rounds.size() / 2]};
}

// Runs rounds of batches of three steps as the physics thread does and
// prints the cost of one batch; then, from the simulator's stage timer, what
// integration (the velocity update and the position update) and the broad
// phase take of a step.
void measure(const char* name, neSimulator& sim, const char* what)
{
    const int batches = 20;
    std::vector<double> rounds;
    for (int round = 0; round < 301; ++round) {
        const double start = now();
        for (int i = 0; i < batches; ++i)
            sim.advanceThreeSteps(nullptr, 0.05f);
        rounds.push_back((now() - start) / batches * 1e6);
    }
    std::vector<double> motion, broad;
    nePerformanceReport report{};
    report.mode = nePerformanceReport::lastCall;
    for (int round = 0; round < 301; ++round) {
        sim.advanceThreeSteps(&report, 0.05f);
        const float* s = sim.timer.stages;
        motion.push_back((s[PerfTimer::integration] + s[PerfTimer::velocity]) / 3.0 * 1e6);
        broad.push_back(s[PerfTimer::broadPhase] / 3.0 * 1e6);
    }
    const Figures f = figures(rounds), m = figures(motion), b = figures(broad);
    std::printf("%-6s %6.2f us per batch of 3 steps (median %6.2f); per step: integration %5.2f (median %5.2f), "
                "broad phase %5.2f (median %5.2f)   (%s)\n",
                name, f.minimum, f.median, m.minimum, m.median, b.minimum, b.median, what);
}

// Heights of a gently waved ground repeating every 48 m, over cells of 0.75 m.
struct WavedGround
{
    static constexpr int size = 64;
    static constexpr float cell = 0.75f;
    static inline float heights[size][size];
    static inline std::vector<vec3d> vertices;
    static inline std::vector<neTriangle> triangles;
    static inline std::vector<int32_t> candidates;

    static void make()
    {
        for (int x = 0; x < size; ++x)
            for (int z = 0; z < size; ++z)
                heights[x][z] = 0.05f * std::sin(float(x) * 0.9f) * std::cos(float(z) * 0.7f);
        vertices.resize(25);
        triangles.resize(32);
        candidates.resize(32);
        for (int32_t i = 0; i < 32; ++i)
            candidates[size_t(i)] = i;
        for (int z = 0; z < 4; ++z)
            for (int x = 0; x < 4; ++x) {
                const int32_t i = z * 5 + x, t = (z * 4 + x) * 2;
                triangles[size_t(t)] = {{i, i + 5, i + 1}, 1, 0, nullptr};
                triangles[size_t(t) + 1] = {{i + 1, i + 5, i + 6}, 1, 0, nullptr};
            }
    }

    static float height(int x, int z) { return heights[x & (size - 1)][z & (size - 1)]; }

    // The 4 x 4 cells (32 triangles) around the box's centre.
    static void query(const vec3d& lo, const vec3d& hi, neTerrainTriangles& found, neRigidBodyBase*)
    {
        const int x0 = int(std::floor((lo.x + hi.x) * 0.5f / cell)) - 2;
        const int z0 = int(std::floor((lo.z + hi.z) * 0.5f / cell)) - 2;
        for (int z = 0; z <= 4; ++z)
            for (int x = 0; x <= 4; ++x)
                vertices[size_t(z * 5 + x)] = {float(x0 + x) * cell, height(x0 + x, z0 + z), float(z0 + z) * cell};
        found = {candidates.data(), 32, triangles.data(), 32, vertices.data(), 25};
    }
};

neRigidBody* addQuadBox(neSimulator& sim, vec3d p, float mass)
{
    neRigidBody* b = sim.createRigidBody();
    b->addGeometry()->setBoxSize(1.2f, 0.8f, 2.0f);
    b->updateBounds();
    b->mass = mass;
    b->inverseMass = 1.0f / mass;
    b->setInertiaTensor({mass * (0.64f + 4.0f) / 12.0f, mass * (1.44f + 4.0f) / 12.0f, mass * (1.44f + 0.64f) / 12.0f});
    matrix3d t = matrix3d::identity();
    t.m[12] = p.x;
    t.m[13] = p.y;
    t.m[14] = p.z;
    b->setPose(t);
    b->updateDerived();
    return b;
}

// Drives a quad round its circle about the origin at its speed.
struct Driver : neRigidBodyControllerCallback
{
    float speed = 15.0f;
    float radius = 50.0f;
    void onControllerStep(neController* c, float) override
    {
        const neRigidBody* b = c->body;
        const vec3d p = b->position();
        const float r = std::sqrt(p.x * p.x + p.z * p.z);
        if (r < 1.0f)
            return;
        const vec3d inward{-p.x / r, 0, -p.z / r};
        const vec3d ahead{-inward.z, 0, inward.x};
        const vec3d v{b->velocity.x, 0, b->velocity.z};
        const vec3d wanted = ahead * speed + inward * ((r - radius) * 0.5f);
        c->force = ((wanted - v) * 4.0f + inward * (speed * speed / radius)) * b->mass;
    }
};

template <class Call>
void perCall(const char* name, Call call);

// Crates on either side of the quads' circles, at least 3 m apart, the same
// on every run.
std::vector<vec3d> crateSpots(size_t count, float height)
{
    std::mt19937 random(3);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<vec3d> placed;
    while (placed.size() < count) {
        const float angle = u(random) * 3.1415927f, radius = placed.size() % 2 ? 36.0f + u(random) : 65.0f + u(random);
        const vec3d at{radius * std::cos(angle), height, radius * std::sin(angle)};
        bool clear = true;
        for (const vec3d& p : placed)
            clear = clear && (p - at).lengthSq() > 9.0f;
        if (clear)
            placed.push_back(at);
    }
    return placed;
}


void race()
{
    const vec3d gravity{0, -9.81f, 0};
    std::unique_ptr<neSimulator> sim(neSimulator::createSimulator(neSimulatorSizes::game(128), nullptr, &gravity));
    WavedGround::make();
    sim->terrainTriangleQueryCallback = WavedGround::query;
    sim->groupResponse[0][0] = sim->terrainResponse[0] = 3;
    sim->collisionCallback = [](neCollisionReport*) {};
    static Driver drivers[8];
    // Eight quads in a loose pack on circles of 40 to 61 m, between 100
    // crates at rest on either side of their track.
    for (int i = 0; i < 8; ++i) {
        drivers[i].radius = 40.0f + float(i) * 3.0f;
        addQuadBox(*sim, {drivers[i].radius, 0.45f, 0}, 300.0f)->addController(&drivers[i]);
    }
    for (const vec3d& at : crateSpots(100, 0.45f))
        addQuadBox(*sim, at, 50.0f)->putToRest();
    for (int i = 0; i < 16; ++i) {
        neAnimatedBody* a = sim->createAnimatedBody();
        a->addGeometry()->setBoxSize(1, 1, 1);
        a->updateBounds();
        a->switchActive();
    }
    for (int i = 0; i < 100; ++i) // under way
        sim->advanceThreeSteps(nullptr, 0.05f);
    measure("race", *sim, "8 quad boxes driving over 32 triangles a query among 100 resting crates, 16 inactive animated");
}

void crowd()
{
    std::unique_ptr<neSimulator> sim(neSimulator::createSimulator(neSimulatorSizes::game(128), nullptr, nullptr));
    std::mt19937 random(4);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    // 128 bodies milling about in a 40 m square, turning round at its edge.
    std::vector<neRigidBody*> bodies;
    for (int i = 0; i < 128; ++i)
        bodies.push_back(addBox(*sim, {u(random) * 20, u(random) * 2, u(random) * 20}, {u(random) * 5, 0, u(random) * 5}));
    struct Fence : neRigidBodyControllerCallback
    {
        void onControllerStep(neController* c, float) override
        {
            const vec3d p = c->body->position();
            c->force = {-p.x * 2.0f, -p.y * 2.0f, -p.z * 2.0f};
        }
    } fence;
    for (neRigidBody* b : bodies)
        b->addController(&fence);
    measure("crowd", *sim, "128 moving bodies meeting each other, no ground");
}

void stack5()
{
    const vec3d gravity{0, -9.81f, 0};
    std::unique_ptr<neSimulator> sim(neSimulator::createSimulator(neSimulatorSizes::game(128), nullptr, &gravity));
    WavedGround::make();
    for (auto& row : WavedGround::heights)
        for (float& h : row)
            h = 0.0f;
    sim->terrainTriangleQueryCallback = WavedGround::query;
    std::vector<neRigidBody*> boxes;
    for (int i = 0; i < 5; ++i)
        boxes.push_back(addQuadBox(*sim, {0.01f * float(i), 0.4f + 0.82f * float(i), 0.3f}, 20.0f));
    int batches = 0;
    const double start = now();
    for (; batches < 2000; ++batches) {
        bool resting = true;
        for (const neRigidBody* b : boxes)
            resting = resting && b->restState == neAtRest;
        if (resting)
            break;
        sim->advanceThreeSteps(nullptr, 0.05f);
    }
    const double spent = now() - start;
    std::printf("stack5  rests after %d steps (%d batches of 3), %.2f us per batch while settling\n", batches * 3,
                batches, batches ? spent / batches * 1e6 : 0.0);
}

matrix3d pose(float angle, vec3d axis, vec3d at)
{
    axis = axis.normalised();
    const float s = std::sin(angle / 2), c = std::cos(angle / 2);
    const neM3 r = neRotationOf({axis.x * s, axis.y * s, axis.z * s, c});
    matrix3d t = matrix3d::identity();
    for (int i = 0; i < 3; ++i) {
        t.m[i * 4] = r.r[i].x;
        t.m[i * 4 + 1] = r.r[i].y;
        t.m[i * 4 + 2] = r.r[i].z;
    }
    t.m[12] = at.x;
    t.m[13] = at.y;
    t.m[14] = at.z;
    return t;
}

// Prints the cost of one call of a narrow-phase test over rounds of calls.
template <class Call>
void perCall(const char* name, Call call)
{
    // Short rounds: on a shared machine some of them run without a switch.
    const int calls = 2000, roundCount = 301;
    std::vector<double> rounds;
    int hits = 0;
    for (int round = 0; round < roundCount; ++round) {
        const double start = now();
        for (int i = 0; i < calls; ++i)
            hits += call(i);
        rounds.push_back((now() - start) / calls * 1e6);
    }
    const Figures f = figures(rounds);
    std::printf("%-22s %6.3f us per call (median %6.3f; %d contacts)\n", name, f.minimum, f.median, hits / roundCount);
}

// 32 triangles of gently waved ground, cells of the given size, centred on
// the origin, as the terrain query hands them over.
struct Ground
{
    std::vector<vec3d> vertices;
    std::vector<neTriangle> triangles;
    std::vector<int32_t> candidates;
    neGeometry geometry{};

    explicit Ground(float cell)
    {
        for (int z = 0; z <= 4; ++z)
            for (int x = 0; x <= 4; ++x)
                vertices.push_back({(float(x) - 2.0f) * cell, 0.05f * std::sin(float(x * 3 + z)), (float(z) - 2.0f) * cell});
        for (int z = 0; z < 4; ++z)
            for (int x = 0; x < 4; ++x) {
                const int32_t i = z * 5 + x;
                candidates.push_back(int32_t(triangles.size()));
                triangles.push_back({{i, i + 5, i + 1}, 1, 0, nullptr});
                candidates.push_back(int32_t(triangles.size()));
                triangles.push_back({{i + 1, i + 5, i + 6}, 1, 0, nullptr});
            }
        geometry.reset();
        geometry.type = neShapeTerrain;
        geometry.shape.terrain = {candidates.data(), int32_t(candidates.size()), triangles.data(),
                                  int32_t(triangles.size()), vertices.data(), int32_t(vertices.size())};
    }
};

void narrowPhase()
{
    // The triangles of a query around a 1.2 x 0.8 x 2 m box: cells of 0.75 m.
    const Ground ground(0.75f);
    neGeometry box{}, other{}, ball{};
    box.reset();
    box.setBoxSize(1.2f, 0.8f, 2.0f);
    other.reset();
    other.setBoxSize(1.0f, 1.0f, 1.0f);
    ball.reset();
    ball.setSphere(0.4f);
    // Resting tilted on the ground with one corner in it, and sunk into it all over.
    const matrix3d resting = pose(0.12f, {1, 0, 0.3f}, {0.1f, 0.47f, -0.2f});
    const matrix3d sunk = pose(0.12f, {1, 0, 0.3f}, {0.1f, 0.3f, -0.2f});
    const matrix3d otherPose = pose(0.9f, {3, 1, 2}, {0.6f, 1.0f, 0.3f});
    const matrix3d ballPose = pose(0.0f, {0, 1, 0}, {0.2f, 0.38f, 0.1f});
    neCollisionResult r{};
    perCall("box / 32 triangles", [&](int) { neCollideBoxTerrain(r, box, resting, ground.geometry); return int(r.collided); });
    perCall("  (sunk all over)", [&](int) { neCollideBoxTerrain(r, box, sunk, ground.geometry); return int(r.collided); });
    perCall("box / box", [&](int) { neCollideBoxes(r, box, other, resting, otherPose); return int(r.collided); });
    perCall("sphere / 32 triangles", [&](int) { neCollideSphereTerrain(r, ball, ballPose, ground.geometry); return int(r.collided); });

    perCall("convex search, 2 boxes", [&](int) { neCollideConvex(r, box, resting, other, otherPose); return int(r.collided); });
}

// Drives a quad's body round its circle about centre, as a game controller.
struct CircleDriver : EntityManager::Physics::Controller
{
    vec3d centre;
    float speed = 15.0f;
    float radius = 50.0f;
    void step(neRigidBody* b) override
    {
        const vec3d p = b->position() - centre;
        const float r = std::sqrt(p.x * p.x + p.z * p.z);
        force = torque = {};
        if (r < 1.0f)
            return;
        const vec3d inward{-p.x / r, 0, -p.z / r};
        const vec3d ahead{-inward.z, 0, inward.x};
        const vec3d v{b->velocity.x, 0, b->velocity.z};
        const vec3d wanted = ahead * speed + inward * ((r - radius) * 0.5f);
        force = ((wanted - v) * 4.0f + inward * (speed * speed / radius)) * b->mass;
    }
};

// The physics manager as the game runs it: its thread steps 8 driven quads
// and 92 crates at rest on a flat generated ground, all 100 with entity
// records; the main thread's update (the hand-over and the 100 syncs) is
// timed while the thread waits, and the thread's batch from its report; last
// the stop of the running thread.
void manager()
{
    TerrainMapWriter::Map map;
    map.size = 128;
    map.heights.assign(128 * 128, 20000);
    FileArray stream(1 << 16);
    TerrainMapWriter::write(map, stream);
    stream.seek(0, 0);
    gTerrain.load(nullptr, Terrain::Settings(), stream);
    const vec3d centre{gTerrain.box.center.x, gTerrain.getHeight(gTerrain.box.center.x, gTerrain.box.center.z, 3),
                       gTerrain.box.center.z};

    EntityManager entities;
    EntityManager::PhysicsManager& m = *entities.physicsManager;
    m.start(128);
    std::vector<std::unique_ptr<EntityManager::Entity>> owners;
    static CircleDriver drivers[8];
    auto add = [&](vec3d at, float mass) {
        owners.push_back(std::make_unique<EntityManager::Entity>(entities));
        EntityManager::Entity& e = *owners.back();
        e.physics = new EntityManager::Physics(e, mass);
        neRigidBody* b = e.physics->rigidBody->body;
        b->addGeometry()->setBoxSize(1.2f, 0.8f, 2.0f);
        b->updateBounds();
        b->setInertiaTensor({mass * (0.64f + 4.0f) / 12.0f, mass * (1.44f + 4.0f) / 12.0f,
                             mass * (1.44f + 0.64f) / 12.0f});
        matrix3d t = matrix3d::identity();
        t.setRow(3, centre + at);
        b->setPose(t);
        return e.physics;
    };
    for (int i = 0; i < 8; ++i) {
        drivers[i].centre = centre;
        drivers[i].radius = 40.0f + float(i) * 3.0f;
        add({drivers[i].radius, 0.45f, 0}, 300.0f)->rigidBody->addController(&drivers[i]);
    }
    for (const vec3d& at : crateSpots(92, 0.4f))
        add(at, 50.0f);
    m.thread.start();
    for (int frame = 0; frame < 300; ++frame) { // under way, the crates settled
        m.waitForStepEnd();
        m.update();
    }
    const int frames = 20;
    std::vector<double> updates, batches;
    int synced = 0;
    for (int round = 0; round < 301; ++round) {
        double spent = 0.0;
        for (int i = 0; i < frames; ++i) {
            m.waitForStepEnd();
            batches.push_back(double(m.report.values[0]) * 1e6);
            const double start = now();
            m.update();
            spent += now() - start;
        }
        updates.push_back(spent / frames * 1e6);
        for (auto* node = m.entities.head(); node; node = node->next)
            synced += node->item->unchanged == 0;
    }
    m.update();
    const double stopStart = now();
    m.thread.stop();
    const double stopped = now() - stopStart;
    const Figures u1 = figures(updates), b1 = figures(batches);
    std::printf("manager update %6.2f us per frame (median %6.2f; 100 records, %.1f moving per frame)\n", u1.minimum,
                u1.median, double(synced) / 301.0);
    std::printf("manager batch  %6.2f us per batch of 3 steps on the physics thread (median %6.2f)\n", b1.minimum,
                b1.median);
    std::printf("manager stop   %6.2f ms, a batch under way\n", stopped * 1e3);
    owners.clear();
    gTerrain.clear();
}


// Counts the contacts its crate's body reports (on the physics thread).
class ContactCounter final : public ObjectFuncInstInterface
{
public:
    void onCollision(EntityManager::Physics::Collision&) override { contacts.fetch_add(1, std::memory_order_relaxed); }
    static inline std::atomic<uint32_t> contacts{0};
};

// Dynamic objects in the physics manager's world: 8 driven boxes among 100
// crates of the builder's package, at rest on flat generated ground, every
// crate with an instance that counts the contacts forwarded to it; the
// thread's batch from its report.
void objects()
{
    TerrainMapWriter::Map map;
    map.size = 128;
    map.heights.assign(128 * 128, 20000);
    FileArray stream(1 << 16);
    TerrainMapWriter::write(map, stream);
    stream.seek(0, 0);
    gTerrain.load(nullptr, Terrain::Settings(), stream);
    const vec3d centre{gTerrain.box.center.x, gTerrain.getHeight(gTerrain.box.center.x, gTerrain.box.center.z, 3),
                       gTerrain.box.center.z};

    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    const String folder = (String(temp) + L"KorvantaPhysicsBench").addBackslash();
    CreateDirectoryW(folder.text(), nullptr);
    for (const auto& [name, package] : ObjectPackageSamples::all())
        ObjectPackageWriter::save(package, folder + name);
    D3D::Device::SwapChain chain(nullptr);
    {
        Scene scene(String(L"Korvanta"), 3500.0f);
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(folder);
        scene.objectPackages.buildPackages();
        EntityManager& entities = *chain.entities;
        EntityManager::PhysicsManager& m = *entities.physicsManager;
        m.start(128);

        std::vector<std::unique_ptr<EntityManager::Entity>> quads;
        static CircleDriver drivers[8];
        for (int i = 0; i < 8; ++i) {
            quads.push_back(std::make_unique<EntityManager::Entity>(entities));
            EntityManager::Entity& e = *quads.back();
            constexpr float mass = 300.0f;
            e.physics = new EntityManager::Physics(e, mass);
            neRigidBody* b = e.physics->rigidBody->body;
            b->addGeometry()->setBoxSize(1.2f, 0.8f, 2.0f);
            b->updateBounds();
            b->setInertiaTensor({mass * (0.64f + 4.0f) / 12.0f, mass * (1.44f + 4.0f) / 12.0f,
                                 mass * (1.44f + 0.64f) / 12.0f});
            drivers[i].centre = centre;
            drivers[i].radius = 40.0f + float(i) * 3.0f;
            matrix3d t = matrix3d::identity();
            t.setRow(3, centre + vec3d{drivers[i].radius, 0.45f, 0.0f});
            b->setPose(t);
            e.physics->rigidBody->addController(&drivers[i]);
        }
        ObjPkgManager::Package* crate = scene.objectPackages.findPackage(String(L"Crate"));
        int crates = 0;
        for (const vec3d& at : crateSpots(100, 0.0f)) {
            Object* placed = scene.objectPackages.createObject(crate, centre + at, 1.0f);
            placed->instance = placed->createInstance();
            auto* object = dynamic_cast<DynObject*>(placed->instance);
            if (object && object->physics) {
                object->functions->add(0x10, new ContactCounter);
                ++crates;
            }
        }
        m.thread.start();
        for (int frame = 0; frame < 300; ++frame) { // under way, the crates settled
            m.waitForStepEnd();
            m.update();
        }
        const uint32_t before = ContactCounter::contacts.load();
        std::vector<double> batches;
        constexpr int frames = 3000;
        for (int i = 0; i < frames; ++i) {
            m.waitForStepEnd();
            batches.push_back(double(m.report.values[0]) * 1e6);
            m.update();
        }
        m.waitForStepEnd();
        const double forwarded = double(ContactCounter::contacts.load() - before) / frames;
        m.thread.stop();
        const Figures b = figures(batches);
        std::printf("objects batch  %6.2f us per batch of 3 steps on the physics thread (median %6.2f; goal 250 us); "
                    "8 driven boxes, %d crates, %.1f contacts forwarded per frame\n",
                    b.minimum, b.median, crates, forwarded);
        scene.release();
        quads.clear();
    }
    gTerrain.clear();
}

} // namespace

int main()
{
    SetThreadAffinityMask(GetCurrentThread(), 1);
    manager();
    objects();
    race();
    crowd();
    stack5();
    narrowPhase();
    return 0;
}
