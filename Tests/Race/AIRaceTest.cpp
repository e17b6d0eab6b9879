// Eight opponent drivers (the player's quad handed to one too) race three
// laps of a generated ring course of eight gates on the builder's sample
// quads, at each difficulty, the physics stepped on the test's thread with
// the race clock injected: every lap under twice the reference time, no
// quad stuck for 10 s, and the standings in the order they finished.
#include "RaceTestSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"

#include "Race/AIDriver.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Vehicle/QuadInstance.h"

#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neSimulator.h"
#include "Render/SwapChain.h"

#include "DriverSamples.h"
#include "QuadSample.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <vector>

namespace AIRace {

using RaceTest::TestClock;

struct Callbacks final : Game::Interface
{
    String getSettingNameGame() override { return String(L"Tester"); }
    Color getSettingCharGame() override { return Color(1, 2, 3, 255); }
    void saveSettings() override {}
    Control* getPlayerControls() override { return &controls; }
    Control controls;
};

// The ring course: flat ground, eight gates round a circle, eight quads on
// the grid before the first, an off-road race of three laps.
struct Course
{
    static constexpr int gateCount = 8;
    static constexpr int quadCount = 8;
    static constexpr float radius = 230.0f;
    static constexpr float pi = 3.14159265f;
    static constexpr uint32_t frameMs = 1000 / 35;

    explicit Course(int32_t difficulty) : clock(1000)
    {
        const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(
            TerrainTestMaps::heightMap(512, [](int32_t, int32_t) { return 20000.0f; }));
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        EXPECT_TRUE(gTerrain.load(nullptr, TerrainTestMaps::settings(), stream));
        centre = gTerrain.box.center;
        centre.y = gTerrain.getHeight(centre.x, centre.z, 3);
        gFrameFactor = 1.0f;
        gFrameTime = 1.0f / 35.0f;
        std::srand(7 + uint32_t(difficulty));
        const std::wstring folder = AppTestFiles::freshFolder(L"airace");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(QuadSample::save(String(folder.c_str())));
        EXPECT_TRUE(ObjectPackageWriter::save(DriverSamples::ringGate(), String((folder + L"Objects\\RingGate.teo").c_str())));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(32);

        Game& race = game();
        race.phase = 3;
        race.choice.gameMode = Game::OffRoadRace;
        race.choice.courseType = 1;
        race.choice.goal = 3;
        race.choice.difficulty = difficulty;
        race.choice.items = 0;
        race.choice.vehicleCount = quadCount;
        ObjPkgManager::Package* gates = scene.objectPackages.findPackage(String(L"RingGate"));
        EXPECT_NE(gates, nullptr);
        for (int i = 0; i < gateCount; ++i) {
            const float angle = 2.0f * pi * float(i) / float(gateCount) + 0.3f;
            Object* gate = scene.objectPackages.createObject(gates, ring(angle, 0.0f), 1.0f);
            EXPECT_NE(gate, nullptr);
            if (!gate)
                continue;
            gate->rotation = -angle * 180.0f / pi;
            gate->setState(uint8_t(i));
            race.gates.append(new Game::Gate(&race, gate));
        }
        ObjPkgManager::Package* quads = scene.objectPackages.findPackage(String(L"Quad"));
        EXPECT_NE(quads, nullptr);
        for (int slot = 0; slot < quadCount; ++slot) {
            // Two columns along the ring, 18 apart, 14 across.
            const float angle = -0.08f * float(slot / 2);
            const float across = slot % 2 ? 7.0f : -7.0f;
            const vec3d at = ring(angle, across) + vec3d(0.0f, 2.0f, 0.0f);
            Object* placed = scene.objectPackages.createObject(quads, at, Game::startVehicleScale);
            EXPECT_NE(placed, nullptr);
            if (!placed)
                continue;
            placed->heightOffset = 0.0f;
            placed->rotation = -angle * 180.0f / pi;
            auto* v = new Game::Vehicle(&race, placed, uint32_t(slot));
            v->isPlayer = slot == 0 ? 1 : 0;
            race.vehicles.append(v);
            if (!placed->instance)
                placed->instance = placed->createInstance();
            else
                v->attachToEntity(dynamic_cast<DynObject*>(placed->instance));
            if (v->isPlayer)
                v->createAIDriver(v->getDynObject());
            v->passGate();
            v->raceStart = v->lapStart = raceNow();
        }
    }
    ~Course()
    {
        game().vehicles.deleteAll();
        game().gates.deleteAll();
        scene.release();
        gTerrain.clear();
    }

    Game& game() { return scene.game; }
    // A point on the ring at angle, across units outwards.
    vec3d ring(float angle, float across) const
    {
        return centre + vec3d((radius + across) * std::cos(angle), 0.0f, (radius + across) * std::sin(angle));
    }

    // One frame as the game runs it without the physics thread.
    void frame()
    {
        TestClock::now += frameMs;
        chain.entities->physicsManager->simulator->advance(3.0f / 35.0f, 1.0f / 30.0f, 1.0f / 75.0f);
        for (auto* node = game().vehicles.head(); node; node = node->next) {
            DynObject* dyn = node->item->getDynObject();
            if (!dyn)
                continue;
            if (dyn->physics)
                dyn->physics->update();
            dyn->prepare();
            dyn->prepareRender();
        }
        ++game().frame;
        game().rankVehicles();
        for (auto* node = game().vehicles.head(); node; node = node->next)
            node->item->update();
    }

    TestClock clock;
    Callbacks callbacks;
    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f, &callbacks};
    vec3d centre;
};

}

TEST(AIRace, EightDriversLapTheRingAtEachDifficulty)
{
    using AIRace::Course;
    using RaceTest::TestClock;
    for (int32_t difficulty = 0; difficulty < 3; ++difficulty) {
        SCOPED_TRACE(difficulty);
        Course course(difficulty);
        Game& game = course.game();
        ASSERT_EQ(game.vehicles.count(), Course::quadCount);
        ASSERT_EQ(game.gates.count(), Course::gateCount);

        // The reference lap: the ring's length at 60% of the quad's top
        // speed in third gear (getSpeed 65 is 65 / 2.4 units per simulated
        // second; the simulation runs three frame times a frame).
        const float lapLength = 2.0f * Course::pi * Course::radius;
        const float topPerClockSecond = 65.0f / 2.4f * 3.0f;
        const uint32_t referenceMs = uint32_t(1000.0f * lapLength / (0.6f * topPerClockSecond));

        struct Watch
        {
            Game::Vehicle* vehicle;
            int32_t lap = 1;
            uint32_t lapStart = 0;
            uint32_t worstLap = 0;
            vec3d still;
            uint32_t stillSince = 0;
            uint32_t longestStill = 0;
            int finishedAs = 0;
        };
        std::vector<Watch> watches;
        for (auto* node = game.vehicles.head(); node; node = node->next)
            watches.push_back(Watch{node->item, 1, TestClock::now, 0, vec3d(), TestClock::now, 0, 0});
        int finishers = 0;
        const uint32_t limit = TestClock::now + 3 * 2 * referenceMs + 20000;
        while (finishers < Course::quadCount && TestClock::now < limit) {
            course.frame();
            for (Watch& w : watches) {
                Game::Vehicle& v = *w.vehicle;
                if (v.lap != w.lap || (v.finished && !w.finishedAs)) {
                    w.worstLap = std::max(w.worstLap, TestClock::now - w.lapStart);
                    w.lapStart = TestClock::now;
                    w.lap = v.lap;
                }
                if (v.finished && !w.finishedAs)
                    w.finishedAs = ++finishers;
                const EntityManager::Entity* body = v.entity();
                if (!body || w.finishedAs)
                    continue;
                const vec3d at = body->world.row(3);
                if ((at - w.still).lengthSq() > 5.0f * 5.0f) {
                    w.still = at;
                    w.stillSince = TestClock::now;
                }
                w.longestStill = std::max(w.longestStill, TestClock::now - w.stillSince);
            }
        }
        std::printf("difficulty %d: reference lap %u ms, finished %d of %d at %u ms\n", int(difficulty),
                    unsigned(referenceMs), finishers, Course::quadCount, unsigned(TestClock::now - 1000));
        EXPECT_EQ(finishers, Course::quadCount);
        game.rankVehicles();
        for (const Watch& w : watches) {
            SCOPED_TRACE(w.vehicle->slot);
            std::printf("  slot %u: place %d, finished %d, worst lap %u ms, longest still %u ms\n",
                        unsigned(w.vehicle->slot), int(w.vehicle->place), w.finishedAs, unsigned(w.worstLap),
                        unsigned(w.longestStill));
            EXPECT_LT(w.worstLap, 2 * referenceMs);
            EXPECT_LT(w.longestStill, 10000u);
            EXPECT_EQ(w.vehicle->place, w.finishedAs);
        }
    }
}
