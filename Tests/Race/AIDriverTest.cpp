// The opponent driver on the builder's sample quad: its controls reach the
// quad, it goes without leaving the quad a dangling record, and its rules
// with an injected clock and seeded rand(): items by place, the speed it
// takes, stalling and backing out, stopping after the finish, detours.
#include "RaceTestSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"

#include "Race/AIDriver.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Vehicle/QuadInstance.h"

#include "Application/ControlBindings.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"

#include "ObjectPackageSamples.h"
#include "QuadSample.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <initializer_list>
#include <utility>
#include <vector>

namespace {

using namespace RaceTest;
using AI = ObjPkgManager::Functions::AI;
using Path = ObjPkgManager::Functions::Path;

struct Callbacks final : Game::Interface
{
    String getSettingNameGame() override { return String(L"Tester"); }
    Color getSettingCharGame() override { return Color(1, 2, 3, 255); }
    void saveSettings() override {}
    Control* getPlayerControls() override { return &controls; }
    Control controls;
};

// Flat ground, the builder's quad, gate and pick-up packages in a scene
// without a device, a running off-road race and the race clock.
struct Field
{
    Field() : clock(1000)
    {
        const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(
            TerrainTestMaps::heightMap(512, [](int32_t, int32_t) { return 20000.0f; }));
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        EXPECT_TRUE(gTerrain.load(nullptr, TerrainTestMaps::settings(), stream));
        gFrameFactor = 1.0f;
        const std::wstring folder = AppTestFiles::freshFolder(L"aidriver");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(QuadSample::save(String(folder.c_str())));
        EXPECT_TRUE(ObjectPackageSamples::save(String(folder.c_str())));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(16);
        game().phase = 3;
        game().choice.gameMode = Game::OffRoadRace;
        game().choice.courseType = 1;
        game().choice.vehicleCount = 4;
        game().choice.items = 0;
        std::srand(51);
    }
    ~Field()
    {
        game().vehicles.deleteAll();
        game().gates.deleteAll();
        scene.release();
        gTerrain.clear();
    }

    Game& game() { return scene.game; }
    static float ground() { return gTerrain.getHeight(200.0f, 200.0f, 3); }

    Game::Vehicle& vehicle(uint32_t slot, bool player, float x, float z)
    {
        Object* placed = scene.objectPackages.createObject(scene.objectPackages.findPackage(String(L"Quad")),
                                                           vec3d(x, ground() + 1.0f, z), 1.0f);
        EXPECT_NE(placed, nullptr);
        auto* v = new Game::Vehicle(&game(), placed, slot);
        v->isPlayer = player ? 1 : 0;
        game().vehicles.append(v);
        if (placed && !placed->instance)
            placed->instance = placed->createInstance();
        else if (placed)
            v->attachToEntity(dynamic_cast<DynObject*>(placed->instance));
        return *v;
    }
    // The pick-ups of a package the race places, in its slot.
    ObjPkgManager::Package* pickUps(int32_t slot, const wchar_t* name)
    {
        ObjPkgManager::Package* package = scene.objectPackages.findPackage(String(name));
        game().packages[slot] = package;
        return package;
    }
    // A gate at (x, z) facing along z, the vehicle's next.
    void gateFor(Game::Vehicle& v, float x, float z)
    {
        Object* gate = scene.objectPackages.createObject(scene.objectPackages.findPackage(String(L"Gate")),
                                                         vec3d(x, ground(), z), 1.0f);
        ASSERT_NE(gate, nullptr);
        gate->setState(uint8_t(game().gates.count()));
        v.nextGate = game().gates.append(new Game::Gate(&game(), gate));
    }
    // The quad stands at (x, z) facing forward, moving at speed (getSpeed
    // units) along it; still = it has not moved since the last frame.
    static void standAt(Game::Vehicle& v, float x, float z, const vec3d& forward, float speed, bool still)
    {
        Game::Vehicle::QuadInstance& quad = *v.getQuad();
        DynObject& dyn = *v.getDynObject();
        const float y = ground() + 1.0f;
        const vec3d up(0.0f, 1.0f, 0.0f);
        dyn.world.setRow(0, up.cross(forward));
        dyn.world.setRow(1, up);
        dyn.world.setRow(2, forward);
        dyn.world.setRow(3, vec3d(x, y, z));
        dyn.worldBounds.center = vec3d(x, y, z);
        dyn.worldBox.center = vec3d(x, y, z);
        dyn.previousPosition = still ? vec3d(x, y, z) : vec3d(x, y, z) - forward * 2.0f;
        quad.wheels[ObjPkgManager::Functions::QuadPhysics::Wheel::rearAxle].contacts[0].synced.groundNormal = up;
        quad.velocity = forward * (speed / 2.4f);
    }

    // The driver's path through the points (x, z) just above the ground,
    // the first passed, and no other built in its place.
    static void pathThrough(AI& driver, std::initializer_list<std::pair<float, float>> points)
    {
        driver.path.count = 0;
        for (const auto& [x, z] : points)
            driver.path.insertPoint(driver.path.count, vec3d(x, ground() + 2.0f, z));
        driver.path.points[0].passed = 1;
        driver.needsPath = 0;
    }

    // Each case's vehicles and gates go at its end.
    struct Scoped
    {
        explicit Scoped(Field& f) : field(f) {}
        ~Scoped()
        {
            field.game().targetGate = nullptr;
            field.game().vehicles.deleteAll();
            field.game().gates.deleteAll();
        }
        Field& field;
    };

    TestClock clock;
    Callbacks callbacks;
    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f, &callbacks};
};

const vec3d north(0.0f, 0.0f, 1.0f);
const vec3d east(1.0f, 0.0f, 0.0f);

// A road along x at z = 200 from x = 100, segments of 100, 20 wide, each
// cut into ten cross-sections.
struct Road
{
    // From its point from on (at x = 100 + 100 from), the road is
    // laterWidth wide, narrowing or widening to it over the segment before.
    explicit Road(float width = 20.0f, float laterWidth = 0.0f, int from = 3)
    {
        int index = 0;
        for (Way::PointNode* node = way.list->head(); node; node = node->next, ++index)
            node->item->width = laterWidth > 0.0f && index >= from ? laterWidth : width;
        for (Way::PointNode* node = way.list->head(); node && node->next; node = node->next) {
            Way::Segment& segment = *node->item->segment;
            segment.positions.resize(11);
            for (int i = 0; i <= 10; ++i)
                Way::Segment::crossSectionAt(segment.positions[size_t(i)], segment, float(i) / 10.0f);
            segment.indexCrossSections();
        }
    }
    WayList way{10, 100.0f, true, vec3d(100.0f, Field::ground(), 200.0f)};
};

}

// An opponent's quad reads its driver's fields through the driver's own
// controls; the player's quad is handed to a driver at the finish; a
// driver that goes leaves the quad no record to read.
TEST(AIDriver, DrivesTheQuadThroughItsOwnControls)
{
    Field field;
    Game::Vehicle& opponent = field.vehicle(1, false, 200.0f, 200.0f);
    Game::Vehicle& player = field.vehicle(0, true, 240.0f, 200.0f);
    AI* driver = opponent.getAIDriver();
    ASSERT_NE(driver, nullptr);
    ASSERT_NE(opponent.getQuad(), nullptr);
    EXPECT_EQ(opponent.getQuad()->controls, &driver->controls);
    EXPECT_TRUE(opponent.getQuad()->isOpponent());
    EXPECT_EQ(player.getAIDriver(), nullptr);
    EXPECT_EQ(player.getQuad()->controls, &field.callbacks.controls);

    struct Binding
    {
        uint32_t action;
        float AI::*axis;
        uint8_t AI::*button;
    };
    const Binding bindings[] = {{Control::Steering, &AI::steering, nullptr},
                                {Control::Throttle, &AI::throttle, nullptr},
                                {Game::Vehicle::rocketAction, nullptr, &AI::fireRocket},
                                {Game::Vehicle::oilAction, nullptr, &AI::dropOil},
                                {Game::Vehicle::nitroAction, nullptr, &AI::useNitro}};
    const Control& controls = *opponent.getQuad()->controls;
    for (const Binding& b : bindings) {
        EXPECT_EQ(controls.getStrongerValue(b.action), 0.0f) << b.action;
        if (b.axis)
            driver->*b.axis = -0.75f;
        else
            driver->*b.button = 1;
        EXPECT_EQ(controls.getStrongerValue(b.action), b.axis ? -0.75f : 1.0f) << b.action;
        if (b.axis)
            driver->*b.axis = 0.0f;
        else
            driver->*b.button = 0;
    }
    opponent.createAIDriver(opponent.getDynObject());
    EXPECT_EQ(opponent.getAIDriver(), driver) << "a second call changes nothing";

    // The player finishes: a driver takes the quad over.
    player.handToDriver();
    ASSERT_NE(player.getAIDriver(), nullptr);
    EXPECT_EQ(player.getQuad()->controls, &player.getAIDriver()->controls);

    // The driver goes alone: the quad no longer points at its record.
    opponent.getDynObject()->functions->remove(AI::flag);
    EXPECT_EQ(opponent.getAIDriver(), nullptr);
    EXPECT_EQ(opponent.getQuad()->controls, nullptr);

    // The course watch puts a stuck quad back: the stall starts over.
    AI* handed = player.getAIDriver();
    handed->reverseState = 2;
    handed->reverseTime = 5000;
    handed->clearStuckTimers();
    EXPECT_EQ(handed->reverseState, 0u);
    EXPECT_EQ(handed->reverseTime, 0u);
}

// A touch is remembered as the quad it hit only when the other side is a
// rigid body with an entity of its own: not the ground, not an animated
// body, whatever record it carries.
TEST(AIDriver, RemembersOnlyTheRigidBodyItHit)
{
    Field field;
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    Game::Vehicle& other = field.vehicle(2, false, 240.0f, 200.0f);
    AI& driver = *v.getAIDriver();
    using Physics = EntityManager::Physics;
    const struct
    {
        uint32_t type;
        bool owner;
        bool remembered;
    } touches[] = {{Physics::rigidContact, true, true},     {Physics::rigidContact, false, false},
                   {Physics::animatedContact, true, false}, {Physics::terrainContact, true, false}};
    for (const auto& touch : touches) {
        driver.lastHit.store(nullptr);
        Physics::Collision collision{};
        collision.otherType = touch.type;
        collision.otherOwner = touch.owner ? other.entity() : nullptr;
        driver.onCollision(collision);
        EXPECT_EQ(driver.lastHit.load() != nullptr, touch.remembered) << touch.type << " " << touch.owner;
    }
}

// The countdown revs at random between 0.5 and 1 and back to 0, leaving the
// steering; a race without a target keeps asking for a path.
TEST(AIDriver, RevsOnTheGrid)
{
    Field field;
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    AI& driver = *v.getAIDriver();
    field.game().phase = 2;
    driver.steering = 0.25f;
    int revs = 0, rests = 0;
    for (int frame = 0; frame < 400; ++frame) {
        TestClock::now += 20;
        const uint32_t state = driver.countdownState;
        driver.update();
        ASSERT_TRUE(driver.throttle == 0.0f || (driver.throttle >= 0.5f && driver.throttle <= 1.0f));
        revs += driver.throttle > 0.0f ? 1 : 0;
        rests += driver.throttle == 0.0f ? 1 : 0;
        // A rest lasts 300 ms and 0 to 4 half seconds more, a rev 500 to 999.
        const uint32_t wait = driver.countdownTime - TestClock::now;
        if (state == 0) {
            ASSERT_EQ(driver.countdownState, 1u);
            EXPECT_EQ((wait - 300u) % 500u, 0u) << wait;
            EXPECT_LE(wait, 2300u);
        } else if (state == 1 && driver.countdownState == 2) {
            EXPECT_GE(wait, 500u);
            EXPECT_LT(wait, 1000u);
        }
    }
    EXPECT_GT(revs, 20);
    EXPECT_GT(rests, 20);
    EXPECT_EQ(driver.steering, 0.25f);

    field.game().phase = 3;
    driver.update();
    EXPECT_EQ(driver.needsPath, 1u) << "no target, no path";
    EXPECT_EQ(driver.path.count, 0);
}

// The driver's rules, frame by frame with the clock and rand() set.
TEST(AIDriver, RulesOfTheRoad)
{
    Field field;
    Game& game = field.game();
    game.choice.difficulty = 1;
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    Game::Vehicle& other = field.vehicle(2, false, 600.0f, 600.0f);
    AI& driver = *v.getAIDriver();
    field.gateFor(v, 200.0f, 500.0f);

    // At a standstill the throttle is full whatever the bend.
    Field::standAt(v, 200.0f, 200.0f, north, 0.0f, false);
    driver.update();
    EXPECT_EQ(driver.needsPath, 0u);
    ASSERT_GE(driver.path.count, 2);
    EXPECT_EQ(driver.throttle, 1.0f);

    // The speed the bend allows at each difficulty: 65, 77, 90 on a
    // straight, 30 through a right angle, a quarter of the way there at
    // 52.5 degrees on Hard (exponent 2); the throttle eases off over 2.
    struct SpeedCase
    {
        int32_t difficulty;
        float bend;
        float speed;
        float throttle;
    };
    const float pi = 3.14159265f;
    for (const SpeedCase& c : {SpeedCase{0, 15.0f, 66.0f, 0.5f}, SpeedCase{2, 15.0f, 66.0f, 1.0f},
                               SpeedCase{1, 15.0f, 78.0f, 0.5f}, SpeedCase{1, 90.0f, 31.0f, 0.5f},
                               SpeedCase{0, 90.0f, 40.0f, 0.0f}, SpeedCase{2, 52.5f, 76.0f, 0.5f},
                               SpeedCase{2, 52.5f, 74.0f, 1.0f}}) {
        game.choice.difficulty = c.difficulty;
        Field::standAt(v, 200.0f, 200.0f, north, c.speed, false);
        Path& path = driver.path;
        const vec3d p0(200.0f, Field::ground() + 2.0f, 200.0f);
        const vec3d p1 = p0 + north * 100.0f;
        const float turn = c.bend * pi / 180.0f;
        path.count = 0;
        path.insertPoint(0, p0);
        path.insertPoint(1, p1);
        path.insertPoint(2, p1 + vec3d(std::sin(turn), 0.0f, std::cos(turn)) * 100.0f);
        driver.needsPath = 0;
        TestClock::now += 10;
        driver.update();
        EXPECT_NEAR(driver.throttle, c.throttle, 1e-3f) << c.difficulty << " " << c.bend << " " << c.speed;
    }

    // Steering at the path's point: towards it while it lies ahead, full
    // lock towards its side once it lies behind, straight on when it lies
    // straight behind.
    // A frame of the driver on a path from where it stands to (x, z).
    const auto driveTowards = [&](float x, float z) {
        Field::pathThrough(driver, {{200.0f, 200.0f}, {x, z}});
        TestClock::now += 10;
        driver.update();
    };
    const struct
    {
        float x, z, steering;
    } aims[] = {{250.0f, 300.0f, 0.4472136f}, {250.0f, 100.0f, 1.0f}, {150.0f, 100.0f, -1.0f}, {200.0f, 100.0f, 0.0f}};
    for (const auto& aim : aims) {
        Field::standAt(v, 200.0f, 200.0f, north, 40.0f, false);
        driveTowards(aim.x, aim.z);
        EXPECT_NEAR(driver.steering, aim.steering, 1e-5f) << aim.x << " " << aim.z;
    }
    // Along roads, within 150 of its point, the driver turns the more along
    // the road's own direction there the nearer it is (the road here runs
    // north), so that it runs on along the road; further off it steers at
    // the point.
    game.choice.courseType = 2;
    const struct
    {
        float x, z, least, most;
    } alongRoad[] = {{250.0f, 300.0f, 0.1f, 0.4f}, {350.0f, 500.0f, 0.4471f, 0.4473f}};
    for (const auto& aim : alongRoad) {
        Field::standAt(v, 200.0f, 200.0f, north, 40.0f, false);
        Field::pathThrough(driver, {{200.0f, 200.0f}, {aim.x, aim.z}});
        driver.path.points[1].direction = -north;
        TestClock::now += 10;
        driver.update();
        EXPECT_GE(driver.steering, aim.least) << aim.x << " " << aim.z;
        EXPECT_LE(driver.steering, aim.most) << aim.x << " " << aim.z;
    }
    game.choice.courseType = 1;
    // At speed (70 units a second) it steers at a point on its path some 30
    // on, and lifts off the throttle where the arc to that point is tighter
    // than its wheels hold at that speed (the ease over 8 units a second);
    // heading straight or nearly at it, it does not. At 7 frames a second
    // as at 35, and heading east as north.
    const float previousFactor = gFrameFactor.load();
    const struct
    {
        float x, z, factor, throttle;
        vec3d forward = north;
    } arcs[] = {{200.0f, 300.0f, 1.0f, 1.0f}, {202.0f, 300.0f, 1.0f, 1.0f}, {215.0f, 240.0f, 1.0f, 0.0f},
                {215.0f, 240.0f, 5.0f, 0.0f}, {204.0f, 260.0f, 1.0f, 1.0f}, {209.0f, 250.0f, 1.0f, 0.4484f},
                {250.0f, 209.0f, 1.0f, 0.4484f, east}};
    for (const auto& arc : arcs) {
        gFrameFactor.store(arc.factor);
        Field::standAt(v, 200.0f, 200.0f, arc.forward, 40.0f, false);
        // 2 units a frame at 35 frames a second: as far in a frame of 1/7 s.
        DynObject& dyn = *v.getDynObject();
        dyn.previousPosition = dyn.world.row(3) - arc.forward * (2.0f * arc.factor);
        driveTowards(arc.x, arc.z);
        EXPECT_NEAR(driver.throttle, arc.throttle, 1e-2f) << arc.x << " " << arc.z << " " << arc.factor;
    }
    gFrameFactor.store(previousFactor);
    driver.path.targetId = nullptr;
    driver.needsPath = 1;

    // Carried far off its path (more than some 25 units off-road), the driver
    // builds a new one from where it stands and eases off by 0.3.
    game.choice.difficulty = 1;
    Field::standAt(v, 200.0f, 200.0f, north, 0.0f, false);
    driver.update();
    ASSERT_GE(driver.path.count, 2);
    Field::standAt(v, 260.0f, 250.0f, north, 40.0f, false);
    TestClock::now += 10;
    driver.update();
    ASSERT_GE(driver.path.count, 2);
    EXPECT_LT(driver.path.distanceSquaredTo(vec3d(260.0f, Field::ground() + 1.0f, 250.0f)), 400.0f);
    EXPECT_LE(driver.throttle, 0.7f);
    driver.path.targetId = nullptr;
    driver.needsPath = 1;

    // A vehicle 19 ahead in the cone caps it at 0.6, 30 ahead at 0.7, 40
    // ahead not at all, even on a straight at speed.
    struct Ahead
    {
        float distance;
        float throttle;
    };
    for (const Ahead& a : {Ahead{19.0f, 0.6f}, Ahead{30.0f, 0.7f}, Ahead{40.0f, 1.0f}}) {
        Field::standAt(v, 200.0f, 200.0f, north, 40.0f, false);
        Field::standAt(other, 200.0f, 200.0f + a.distance, north, 40.0f, false);
        TestClock::now += 10;
        driver.update();
        EXPECT_FLOAT_EQ(driver.throttle, a.throttle) << a.distance;
    }
    Field::standAt(other, 600.0f, 600.0f, north, 0.0f, true);

    // Stalled with throttle for 500 ms, then 1500 ms backing out with the
    // steering mirrored, then driving again.
    Field::standAt(v, 200.0f, 200.0f, vec3d(0.6f, 0.0f, 0.8f), 10.0f, true);
    driver.reverseState = 0;
    driver.update();
    EXPECT_EQ(driver.reverseState, 1u);
    // Moving again within the 500 ms ends the stall.
    Field::standAt(v, 200.0f, 200.0f, vec3d(0.6f, 0.0f, 0.8f), 10.0f, false);
    TestClock::now += 100;
    driver.update();
    EXPECT_EQ(driver.reverseState, 0u);
    Field::standAt(v, 200.0f, 200.0f, vec3d(0.6f, 0.0f, 0.8f), 10.0f, true);
    driver.update();
    EXPECT_EQ(driver.reverseState, 1u);
    const float ahead = driver.steering;
    TestClock::now += 500;
    driver.update();
    EXPECT_EQ(driver.reverseState, 1u) << "not beyond 500 ms yet";
    TestClock::now += 1;
    driver.update();
    EXPECT_EQ(driver.reverseState, 2u);
    TestClock::now += 10;
    driver.update();
    EXPECT_EQ(driver.throttle, -1.0f);
    EXPECT_NEAR(driver.steering, -ahead, 1e-5f);
    // Backing out, it stops short of a quad standing in its line behind;
    // one beside that line, one that drives, or one ahead does not stop it.
    struct Behind
    {
        const char* what;
        float back, aside, speed;
        float throttle;
    };
    const vec3d facing(0.6f, 0.0f, 0.8f), toRight(0.8f, 0.0f, -0.6f);
    for (const Behind& b : {Behind{"standing behind", 4.0f, 0.0f, 0.0f, 0.0f},
                            Behind{"standing behind, beside the line", 4.0f, 8.0f, 0.0f, -1.0f},
                            Behind{"driving behind", 4.0f, 0.0f, 40.0f, -1.0f},
                            Behind{"standing ahead", -4.0f, 0.0f, 0.0f, -1.0f}}) {
        const vec3d at = vec3d(200.0f, 0.0f, 200.0f) - facing * b.back + toRight * b.aside;
        Field::standAt(other, at.x, at.z, facing, b.speed, b.speed == 0.0f);
        TestClock::now += 10;
        driver.update();
        EXPECT_EQ(driver.reverseState, 2u) << b.what;
        EXPECT_EQ(driver.throttle, b.throttle) << b.what;
    }
    Field::standAt(other, 600.0f, 600.0f, north, 0.0f, true);
    TestClock::now += 1451;
    driver.update();
    EXPECT_EQ(driver.reverseState, 0u);

    // Stalled again and again where it stood: the third back-out in a row
    // within 10 of the first is not made, the quad is set back on the way
    // instead (the course watch's state with it). A back-out elsewhere
    // starts the count anew.
    struct Stall
    {
        float x, z;
        uint32_t state; // after the 500 ms stall
    };
    const Stall stalls[] = {{205.0f, 200.0f, 2}, {200.0f, 208.0f, 0}, {200.0f, 200.0f, 2},
                            {260.0f, 200.0f, 2}, {262.0f, 203.0f, 2}, {258.0f, 198.0f, 0}};
    for (const Stall& stall : stalls) {
        Field::standAt(v, stall.x, stall.z, vec3d(0.6f, 0.0f, 0.8f), 10.0f, true);
        v.courseState = 2;
        driver.update();
        ASSERT_EQ(driver.reverseState, 1u);
        TestClock::now += 501;
        driver.update();
        EXPECT_EQ(driver.reverseState, stall.state) << stall.x << " " << stall.z;
        EXPECT_EQ(v.courseState, stall.state == 0 ? 0u : 2u) << stall.x << " " << stall.z;
        if (stall.state == 2) {
            TestClock::now += 1501;
            driver.update();
            EXPECT_EQ(driver.reverseState, 0u);
        }
    }

    // A finished driver stops within 30 of its path's end, at no more than
    // 0.5 throttle on the way there.
    v.finished = 1;
    struct Creep
    {
        float left; // from the path's end
        float speed;
        float throttle;
    };
    driver.update();
    ASSERT_GE(driver.path.count, 2);
    const vec3d end = driver.path.points[driver.path.count - 1].position;
    for (const Creep& c : {Creep{200.0f, 30.0f, 0.5f}, Creep{200.0f, 50.0f, 0.0f}, Creep{100.0f, 15.0f, 0.3f},
                           Creep{50.0f, 8.0f, 0.3f}, Creep{29.0f, 5.0f, 0.0f}}) {
        Field::standAt(v, end.x, end.z - c.left, north, c.speed, false);
        for (int32_t i = 0; i < driver.path.count; ++i)
            driver.path.points[i].passed = 0;
        driver.needsPath = 0;
        driver.reverseState = 0;
        TestClock::now += 10;
        driver.update();
        EXPECT_FLOAT_EQ(driver.throttle, c.throttle) << c.left << " at " << c.speed;
        EXPECT_LE(driver.throttle, 0.5f);
    }
}

// Stalled is moving less than 0.25 units per 1/35 s, whatever the frame
// rate: at seven frames a second (frame factor 4) a quad that crawls up a
// wall at half a unit per 1/35 s still moves, one at a fifth does not.
TEST(AIDriver, StalledIsTheSameSpeedAtEveryFrameRate)
{
    Field field;
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    AI& driver = *v.getAIDriver();
    DynObject& dyn = *v.getDynObject();
    const float previousFactor = gFrameFactor.load();
    struct Row
    {
        float factor, perFrame; // frame factor; units per 1/35 s
        bool stalled;
    };
    for (const Row& row : {Row{1.0f, 0.2f, true}, Row{1.0f, 0.5f, false}, Row{4.0f, 0.2f, true},
                           Row{4.0f, 0.5f, false}, Row{4.0f, 0.9f, false}}) {
        gFrameFactor.store(row.factor);
        Field::standAt(v, 200.0f, 200.0f, north, 10.0f, true);
        dyn.previousPosition = dyn.world.row(3) - north * (row.perFrame * row.factor);
        EXPECT_EQ(driver.isStalled(), row.stalled) << row.factor << " " << row.perFrame;
    }
    gFrameFactor.store(previousFactor);

    // A stall ends when the driver lets go of the throttle, here at a
    // speed above the one the straight allows, though the quad stands.
    field.gateFor(v, 200.0f, 500.0f);
    Field::standAt(v, 200.0f, 200.0f, north, 100.0f, true);
    driver.reverseState = 1;
    driver.reverseTime = TestClock::now + 100000u;
    driver.update();
    EXPECT_EQ(driver.throttle, 0.0f);
    EXPECT_EQ(driver.reverseState, 0u);
}

// Rockets, oil and nitro by place: the leader never fires or burns nitro,
// the last never drops oil; the others do within 16 s, each button for a
// frame or as long as its rule holds.
TEST(AIDriver, ItemsByPlace)
{
    Field field;
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    field.vehicle(2, false, 600.0f, 600.0f);
    AI& driver = *v.getAIDriver();
    // A gate behind to the right keeps the steering at +1 (oil wants a
    // sharp turn); a gate ahead keeps it near 0 (nitro wants a straight).
    struct Case
    {
        const char* what;
        int32_t place;
        float gateX, gateZ;
        bool rocket, oil, nitro;
    };
    // The first case meets the driver as it was made, its item clocks not
    // yet set.
    const Case cases[] = {
        {"second on a straight", 2, 200.0f, 600.0f, true, false, true},
        {"leader in a turn", 1, 350.0f, 100.0f, false, true, false},
        {"second in a turn", 2, 350.0f, 100.0f, true, true, false},
        {"last in a turn", 4, 350.0f, 100.0f, true, false, false},
        {"leader on a straight", 1, 200.0f, 600.0f, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        field.game().gates.deleteAll();
        field.gateFor(v, c.gateX, c.gateZ);
        v.place = c.place;
        v.rockets = 3;
        v.oil = 3;
        v.nitro = 1.0f;
        if (&c != cases) {
            driver.rocketTime = driver.oilTime = driver.nitroTime = 0;
            driver.fireRocket = driver.dropOil = driver.useNitro = 0;
        }
        driver.needsPath = 1;
        driver.path.targetId = nullptr;
        bool rocket = false, oil = false, nitro = false;
        // The first item goes a whole second at least after the driver had
        // its first chance: 1 to 15 s, at random.
        const uint32_t start = TestClock::now + 50;
        uint32_t firstUse = 0;
        for (int frame = 0; frame < 400; ++frame) {
            Field::standAt(v, 200.0f, 200.0f, north, 40.0f, false);
            TestClock::now += 50;
            driver.update();
            rocket = rocket || driver.fireRocket;
            oil = oil || driver.dropOil;
            nitro = nitro || driver.useNitro;
            if (!firstUse && (rocket || oil || nitro)) {
                firstUse = TestClock::now;
                EXPECT_GT(firstUse - start, 1000u);
            }
            if (driver.fireRocket) {
                TestClock::now += 50;
                driver.update();
                EXPECT_EQ(driver.fireRocket, 0) << "held one frame";
            }
        }
        EXPECT_EQ(rocket, c.rocket);
        EXPECT_EQ(oil, c.oil);
        EXPECT_EQ(nitro, c.nitro);
    }
    // A rocket armed while second is disarmed by the lead, so it is not
    // fired the moment the vehicle falls back.
    v.place = 2;
    v.rockets = 1;
    driver.rocketTime = 0;
    driver.update();
    EXPECT_NE(driver.rocketTime, 0u);
    v.place = 1;
    driver.update();
    EXPECT_EQ(driver.rocketTime, 0u);

    // Nitro ends at half of what there was, or in a turn.
    driver.useNitro = 1;
    driver.nitroTime = 0;
    driver.nitroStopLevel = 0.5f;
    v.nitro = 0.4f;
    driver.update();
    EXPECT_EQ(driver.useNitro, 0);

    // Each item's clock is set 1 to 15 whole seconds ahead, every one of
    // them in turn.
    v.place = 2;
    v.rockets = 3;
    std::vector<int> seconds(16, 0);
    for (int arming = 0; arming < 300; ++arming) {
        driver.rocketTime = 0;
        TestClock::now += 50;
        driver.update();
        const uint32_t ahead = driver.rocketTime - TestClock::now;
        ASSERT_EQ(ahead % 1000u, 0u) << ahead;
        ASSERT_GE(ahead, 1000u);
        ASSERT_LE(ahead, 15000u);
        ++seconds[ahead / 1000u];
    }
    for (uint32_t s = 1; s <= 15; ++s)
        EXPECT_GT(seconds[s], 0) << s << " s";
}

// Between the pieces of a long frame the driver drives as a frame does,
// from where the quad stands then, but its items wait for the frame: it
// neither arms them nor lets go of a button it holds for the frame. On the
// grid it leaves everything to the frame.
TEST(AIDriver, BetweenThePiecesOfAFrameItDrivesButItsItemsWait)
{
    Field field;
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    field.vehicle(2, false, 600.0f, 600.0f);
    AI& driver = *v.getAIDriver();
    field.gateFor(v, 350.0f, 100.0f);
    v.place = 2;
    v.rockets = 3;
    v.oil = 3;
    v.nitro = 1.0f;
    field.game().choice.items = 1;
    Field::standAt(v, 200.0f, 200.0f, north, 40.0f, false);
    TestClock::now += 50;
    driver.update();
    const vec3d headings[] = {vec3d(1.0f, 0.0f, -1.0f).normalised(), vec3d(-1.0f, 0.0f, 0.0f), north};
    for (const vec3d& heading : headings) {
        SCOPED_TRACE(heading.x);
        driver.rocketTime = driver.oilTime = driver.nitroTime = 0;
        driver.fireRocket = 1;
        Field::standAt(v, 200.0f, 200.0f, heading, 40.0f, false);
        driver.steering = 5.0f;
        driver.driveBetweenPieces();
        const float between = driver.steering;
        EXPECT_EQ(driver.fireRocket, 1) << "held for the whole frame";
        EXPECT_EQ(driver.rocketTime + driver.oilTime + driver.nitroTime, 0u) << "nothing armed between pieces";
        driver.update();
        EXPECT_EQ(driver.steering, between) << "the frame steers the same from the same place";
        EXPECT_EQ(driver.fireRocket, 0);
        EXPECT_NE(driver.rocketTime, 0u);
    }

    // A quad that stands still is judged by the frame only: a piece has not
    // gone the whole frame's way. A back-out under way goes on between
    // pieces, the steering mirrored.
    Field::standAt(v, 200.0f, 200.0f, north, 0.0f, true);
    driver.update();
    const float forwards = driver.steering;
    const uint32_t states[] = {0, 1, 2};
    for (const uint32_t state : states) {
        SCOPED_TRACE(state);
        driver.reverseState = state;
        driver.reverseTime = TestClock::now - 1;
        driver.driveBetweenPieces();
        EXPECT_EQ(driver.reverseState, state);
        EXPECT_EQ(driver.throttle, state == 2 ? -1.0f : 1.0f);
        EXPECT_EQ(driver.steering, state == 2 ? -forwards : forwards);
    }
    driver.reverseState = 1;
    driver.update();
    EXPECT_EQ(driver.reverseState, 2u) << "the frame judges it stalled";

    field.game().phase = 2;
    driver.steering = 5.0f;
    driver.driveBetweenPieces();
    EXPECT_EQ(driver.steering, 5.0f);
}

// The target plane: a flag (no direction) faces the driver with no
// approach offset; a gate's plane turns from its own direction towards the
// driver as it comes within 800, its approach point 120 in front.
TEST(AIDriver, TargetPlanes)
{
    Field field;
    Game& game = field.game();
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    AI& driver = *v.getAIDriver();
    Field::standAt(v, 200.0f, 200.0f, north, 0.0f, true);
    AI::TargetPlane plane;
    EXPECT_FALSE(driver.targetPlane(plane)) << "no target";

    game.choice.gameMode = Game::CaptureTheFlag;
    Object flag;
    flag.position = vec3d(500.0f, Field::ground(), 600.0f);
    game.captureFlag = &flag;
    ASSERT_TRUE(driver.targetPlane(plane));
    EXPECT_NEAR(plane.plane.normal.x, -0.6f, 1e-4f);
    EXPECT_NEAR(plane.plane.normal.z, -0.8f, 1e-4f);
    EXPECT_EQ(plane.approachPoint, plane.plane.point);
    EXPECT_EQ(plane.kind, uint32_t(Path::FlagTarget));
    EXPECT_EQ(plane.target, &flag);
    EXPECT_NEAR(plane.plane.distance, plane.plane.normal.dot(plane.plane.point), 1e-2f);
    game.captureFlag = nullptr;

    game.choice.gameMode = Game::OffRoadRace;
    field.gateFor(v, 200.0f, 600.0f);
    ASSERT_TRUE(driver.targetPlane(plane));
    EXPECT_EQ(plane.kind, uint32_t(Path::GateTarget));
    EXPECT_NEAR((plane.approachPoint - plane.plane.point).length(), 120.0f, 1e-2f);
    EXPECT_LT(plane.plane.normal.z, -0.99f) << "it faces the driver, whichever way the gate turns";
    game.gates.deleteAll();
    v.nextGate = nullptr;
}

// A capture flag that moves is followed between builds: every 250 ms the
// path's flag point takes the flag's new place, and only that point.
TEST(AIDriver, AMovingFlagIsFollowedBetweenBuilds)
{
    Field field;
    Game& game = field.game();
    game.choice.gameMode = Game::CaptureTheFlag;
    Field::Scoped scoped(field);
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    AI& driver = *v.getAIDriver();
    Field::standAt(v, 200.0f, 200.0f, north, 0.0f, true);
    Object flag;
    flag.position = vec3d(200.0f, Field::ground(), 500.0f);
    game.captureFlag = &flag;
    const auto flagPoint = [&]() -> const Path::Point* {
        for (int32_t i = 0; i < driver.path.count; ++i)
            if (driver.path.points[i].type == Path::FlagTarget)
                return &driver.path.points[i];
        return nullptr;
    };
    driver.update();
    ASSERT_NE(flagPoint(), nullptr);
    EXPECT_EQ(flagPoint()->position.z, 500.0f);
    const uint32_t builds = driver.path.builds;
    struct Step
    {
        uint32_t wait;
        float x;
        float expected;
    };
    // The flag drifts east; the point follows once 250 ms have passed.
    for (const Step& step : {Step{100, 230.0f, 200.0f}, Step{151, 240.0f, 240.0f}, Step{100, 250.0f, 240.0f},
                             Step{151, 260.0f, 260.0f}}) {
        TestClock::now += step.wait;
        flag.position.x = step.x;
        driver.update();
        ASSERT_NE(flagPoint(), nullptr);
        EXPECT_EQ(flagPoint()->position.x, step.expected) << "after " << step.wait << " ms";
    }
    EXPECT_EQ(driver.path.builds, builds) << "followed, not rebuilt";

    // On a detour to a repair kit on the way, the flag's point follows the
    // flag and the kit's point stays at the kit.
    game.choice.items = 1;
    v.damage = 0.81f;
    ObjPkgManager::Package* kits = field.pickUps(Game::RepairKitPackage, L"RepairKit");
    ASSERT_NE(kits, nullptr);
    Object* kit = field.scene.objectPackages.createObject(kits, vec3d(210.0f, Field::ground(), 350.0f), 1.0f);
    ASSERT_NE(kit, nullptr);
    const auto pickUpPoint = [&]() -> const Path::Point* {
        for (int32_t i = 0; i < driver.path.count; ++i)
            if (driver.path.points[i].type == Path::PickUp)
                return &driver.path.points[i];
        return nullptr;
    };
    Field::standAt(v, 200.0f, 200.0f, north, 40.0f, false);
    TestClock::now += 251;
    driver.update();
    ASSERT_EQ(driver.detourActive, 1u);
    ASSERT_NE(pickUpPoint(), nullptr);
    const vec3d kitPoint = pickUpPoint()->position;
    EXPECT_NEAR(kitPoint.x, 210.0f, 1e-3f);
    EXPECT_NEAR(kitPoint.z, 350.0f, 1e-3f);
    TestClock::now += 251;
    flag.position.x = 280.0f;
    driver.update();
    ASSERT_NE(flagPoint(), nullptr);
    EXPECT_EQ(flagPoint()->position.x, 280.0f);
    ASSERT_NE(pickUpPoint(), nullptr);
    EXPECT_EQ(pickUpPoint()->position, kitPoint);
    kit->remove();
    delete kit;
    game.packages[Game::RepairKitPackage] = nullptr;
    game.captureFlag = nullptr;
}

// Pick-ups: a repair kit in view near the path is fetched by a damaged
// driver; outside modes 2 and 3 one 250 from the path never is, in
// Jamboree it is; in a race of one vehicle the leader's oil weight is 1;
// nitro is fetched by the last, not the leader.
TEST(AIDriver, FetchesPickupsItNeeds)
{
    Field field;
    Game& game = field.game();
    game.choice.items = 1;
    struct Case
    {
        const char* what;
        int32_t mode;
        int32_t vehicles;
        const wchar_t* package;
        int32_t slot;
        float damage;
        float x, z; // of the pick-up
        bool fetched;
        int32_t place = 1;
    };
    const Case cases[] = {
        {"repair kit beside the path", Game::OffRoadRace, 4, L"RepairKit", Game::RepairKitPackage, 0.81f, 210.0f, 350.0f, true},
        {"repair kit 250 off the path", Game::OffRoadRace, 4, L"RepairKit", Game::RepairKitPackage, 1.0f, 450.0f, 550.0f, false},
        {"repair kit 250 off in Jamboree", Game::Jamboree, 4, L"RepairKit", Game::RepairKitPackage, 1.0f, 450.0f, 550.0f, true},
        {"undamaged", Game::OffRoadRace, 4, L"RepairKit", Game::RepairKitPackage, 0.0f, 210.0f, 350.0f, false},
        {"oil for the only vehicle", Game::OffRoadRace, 1, L"Oil", Game::OilPackage, 0.0f, 210.0f, 350.0f, true},
        {"oil behind", Game::OffRoadRace, 1, L"Oil", Game::OilPackage, 0.0f, 210.0f, 100.0f, false},
        {"nitro for the last of four", Game::OffRoadRace, 4, L"Nitro", Game::NitroPackage, 0.0f, 210.0f, 350.0f, true, 4},
        {"nitro for the leader", Game::OffRoadRace, 4, L"Nitro", Game::NitroPackage, 0.0f, 210.0f, 350.0f, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Field::Scoped scoped(field);
        Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
        AI& driver = *v.getAIDriver();
        field.gateFor(v, 200.0f, 750.0f);
        game.targetGate = game.gates.head()->item;
        game.choice.gameMode = c.mode;
        game.choice.vehicleCount = c.vehicles;
        v.place = c.place;
        v.damage = c.damage;
        ObjPkgManager::Package* package = field.scene.objectPackages.findPackage(String(c.package));
        ASSERT_NE(package, nullptr);
        game.packages[c.slot] = package;
        Object* pickUp = field.scene.objectPackages.createObject(package, vec3d(c.x, Field::ground(), c.z), 1.0f);
        ASSERT_NE(pickUp, nullptr);
        Field::standAt(v, 200.0f, 200.0f, north, 40.0f, false);
        driver.update();
        EXPECT_EQ(driver.detourActive, c.fetched ? 1u : 0u);
        bool pickUpPoint = false;
        for (int32_t i = 0; i < driver.path.count; ++i)
            pickUpPoint = pickUpPoint || driver.path.points[i].type == Path::PickUp;
        EXPECT_EQ(pickUpPoint, c.fetched);
        if (c.fetched) {
            // Passing the pick-up ends the detour.
            Field::standAt(v, c.x, c.z + 20.0f, north, 40.0f, false);
            TestClock::now += 10;
            driver.update();
            driver.update();
            EXPECT_EQ(driver.detourActive, 0u);
        }
        pickUp->remove();
        delete pickUp;
        game.packages[c.slot] = nullptr;
    }

    // Facing east: the view turns with the quad.
    Field::Scoped scoped(field);
    game.choice.gameMode = Game::OffRoadRace;
    game.choice.vehicleCount = 4;
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    field.gateFor(v, 750.0f, 200.0f);
    v.place = 1;
    v.damage = 0.81f;
    ObjPkgManager::Package* kits = field.scene.objectPackages.findPackage(String(L"RepairKit"));
    game.packages[Game::RepairKitPackage] = kits;
    Object* kit = field.scene.objectPackages.createObject(kits, vec3d(350.0f, Field::ground(), 210.0f), 1.0f);
    ASSERT_NE(kit, nullptr);
    Field::standAt(v, 200.0f, 200.0f, vec3d(1.0f, 0.0f, 0.0f), 40.0f, false);
    v.getAIDriver()->update();
    EXPECT_EQ(v.getAIDriver()->detourActive, 1u);
    // A quad whose frame has collapsed to a point has no view: it sees no
    // pick-up, and what it is given stays as it was.
    AI& driver = *v.getAIDriver();
    vec3d seen;
    EXPECT_TRUE(driver.findPickup(AI::RepairKitKind, seen));
    EXPECT_EQ(seen, kit->getPosition());
    const matrix3d frame = driver.object->world;
    for (int row = 0; row < 3; ++row)
        driver.object->world.setRow(row, vec3d());
    seen = vec3d(-1.0f, -1.0f, -1.0f);
    EXPECT_FALSE(driver.findPickup(AI::RepairKitKind, seen));
    EXPECT_EQ(seen, vec3d(-1.0f, -1.0f, -1.0f));
    driver.object->world = frame;
    // A scene without a swap chain (none yet, or gone): the driver looks
    // among the objects its own quad was placed with.
    field.scene.swapChain = nullptr;
    seen = vec3d();
    const bool seenWithoutChain = driver.findPickup(AI::RepairKitKind, seen);
    field.scene.swapChain = &field.chain;
    EXPECT_TRUE(seenWithoutChain);
    EXPECT_EQ(seen, kit->getPosition());
    // A driver outside any race looks for nothing.
    {
        AI outside(nullptr, driver.object);
        EXPECT_FALSE(outside.findPickup(AI::RepairKitKind, seen));
    }
    kit->remove();
    delete kit;

    // Before the swap chain has a projection of its own the driver sees
    // 4000 units on, and no further.
    ASSERT_EQ(field.chain.projection.m[11], 0.0f);
    for (const float ahead : {3800.0f, 4200.0f}) {
        Object* distant =
            field.scene.objectPackages.createObject(kits, vec3d(200.0f + ahead, Field::ground(), 200.0f), 1.0f);
        ASSERT_NE(distant, nullptr);
        game.gates.deleteAll();
        field.gateFor(v, 300.0f + ahead, 200.0f);
        seen = vec3d();
        EXPECT_EQ(driver.findPickup(AI::RepairKitKind, seen), ahead < 4000.0f) << ahead;
        distant->remove();
        delete distant;
    }

    // That view is 60 degrees high and 4:3 wide: a pick-up 500 ahead is
    // seen up to about 37 degrees to either side and 30 above.
    // (The gate lies ahead to the left, beyond them all.)
    game.gates.deleteAll();
    field.gateFor(v, 1300.0f, 900.0f);
    v.damage = 0.0f;
    ASSERT_TRUE(driver.replan(true));
    struct Bearing
    {
        float aside, above; // degrees
        bool seen;
    };
    const Bearing bearings[] = {{33.0f, 0.0f, true}, {-33.0f, 0.0f, true}, {42.0f, 0.0f, false},
                                {-42.0f, 0.0f, false}, {0.0f, 25.0f, true}, {0.0f, 35.0f, false}};
    const float degree = 3.14159265f / 180.0f;
    for (const Bearing& b : bearings) {
        const float across = 500.0f * std::tan(b.aside * degree);
        const float up = std::hypot(500.0f, across) * std::tan(b.above * degree);
        const vec3d eye = driver.object->world.row(3);
        Object* aside = field.scene.objectPackages.createObject(
            kits, vec3d(eye.x + 500.0f, eye.y + up, eye.z + across), 1.0f);
        ASSERT_NE(aside, nullptr);
        EXPECT_EQ(driver.findPickup(AI::RepairKitKind, seen), b.seen) << b.aside << " aside, " << b.above << " above";
        aside->remove();
        delete aside;
    }

    // Of two pick-ups in view the one nearer the path is fetched, whichever
    // the scene lists first.
    for (const bool nearFirst : {true, false}) {
        const vec3d nearer(458.0f, Field::ground(), 353.0f), further(581.0f, Field::ground(), 347.0f);
        Object* first = field.scene.objectPackages.createObject(kits, nearFirst ? nearer : further, 1.0f);
        Object* second = field.scene.objectPackages.createObject(kits, nearFirst ? further : nearer, 1.0f);
        ASSERT_TRUE(first && second);
        seen = vec3d();
        EXPECT_TRUE(driver.findPickup(AI::RepairKitKind, seen));
        EXPECT_EQ(seen, (nearFirst ? first : second)->getPosition()) << nearFirst;
        for (Object* kitObject : {first, second}) {
            kitObject->remove();
            delete kitObject;
        }
    }
    game.packages[Game::RepairKitPackage] = nullptr;
}

// Where the course watch sets back a quad off the way, a driver fetches
// only pick-ups on the way ahead of it: one beside the road would take it
// off the way. In the points modes it goes across the country for one.
TEST(AIDriver, WhereTheWayIsKeptToOnlyPickupsOnItAreFetched)
{
    Field field;
    Game& game = field.game();
    game.choice.items = 1;
    game.choice.vehicleCount = 1;
    ObjPkgManager::Package* oil = field.pickUps(Game::OilPackage, L"Oil");
    ASSERT_NE(oil, nullptr);
    Road road;
    game.course = road.way.list;
    struct Case
    {
        const char* what;
        int32_t mode, courseType;
        float x, z; // of the oil
        bool fetched;
    };
    const Case cases[] = {
        {"a circuit, on the road ahead", Game::Circuit, 2, 400.0f, 205.0f, true},
        {"a circuit, beside the road", Game::Circuit, 2, 400.0f, 260.0f, false},
        {"a knock-out, on the road beyond the next segment", Game::KnockOut, 2, 640.0f, 195.0f, true},
        {"an off-road race, beside the way", Game::OffRoadRace, 1, 400.0f, 260.0f, false},
        {"a checkpoint race, beside the road", Game::Jamboree, 1, 400.0f, 260.0f, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        game.choice.gameMode = c.mode;
        game.choice.courseType = c.courseType;
        Field::Scoped scoped(field);
        Game::Vehicle& v = field.vehicle(1, false, 150.0f, 200.0f);
        AI& driver = *v.getAIDriver();
        field.gateFor(v, 850.0f, 200.0f);
        game.targetGate = game.gates.head()->item;
        v.wayNode = road.way.node(0);
        v.place = 1;
        Object* can = field.scene.objectPackages.createObject(oil, vec3d(c.x, Field::ground(), c.z), 1.0f);
        ASSERT_NE(can, nullptr);
        Field::standAt(v, 150.0f, 200.0f, east, 40.0f, false);
        driver.update();
        EXPECT_EQ(driver.detourActive, c.fetched ? 1u : 0u);
        can->remove();
        delete can;
    }
    game.course = nullptr;
    game.packages[Game::OilPackage] = nullptr;
}

// A pick-up between the gate's approach point and the gate bends the path
// back on itself: the driver gives it up and keeps to its line (it no
// longer turns to it and away every frame); on the way to the next gate it
// fetches it.
TEST(AIDriver, GivesUpAPickupThatBendsThePathBack)
{
    Field field;
    Game& game = field.game();
    game.choice.items = 1;
    game.choice.vehicleCount = 1;
    ObjPkgManager::Package* oil = field.pickUps(Game::OilPackage, L"Oil");
    ASSERT_NE(oil, nullptr);
    Field::Scoped scoped(field);
    Game::Vehicle& v = field.vehicle(1, false, 200.0f, 200.0f);
    AI& driver = *v.getAIDriver();
    field.gateFor(v, 200.0f, 750.0f);
    v.place = 1;
    Object* can = field.scene.objectPackages.createObject(oil, vec3d(205.0f, Field::ground(), 700.0f), 1.0f);
    ASSERT_NE(can, nullptr);
    const auto pickUpPoints = [&] {
        int n = 0;
        for (int32_t i = 0; i < driver.path.count; ++i)
            n += driver.path.points[i].type == Path::PickUp ? 1 : 0;
        return n;
    };
    Field::standAt(v, 200.0f, 200.0f, north, 40.0f, false);
    driver.update();
    ASSERT_EQ(driver.detourActive, 1u) << "the leader fetches the oil";
    EXPECT_GT(driver.path.bendAngle(), 90.0f);
    for (int frame = 0; frame < 5; ++frame) {
        SCOPED_TRACE(frame);
        TestClock::now += 28;
        Field::standAt(v, 200.0f, 200.0f + 2.0f * float(frame), north, 40.0f, false);
        driver.update();
        EXPECT_EQ(driver.detourActive, 0u);
        EXPECT_EQ(pickUpPoints(), 0);
        EXPECT_LE(driver.path.bendAngle(), 90.0f);
    }

    // The next gate lies beyond the oil: the oil lies on the way.
    field.gateFor(v, 200.0f, 1100.0f);
    TestClock::now += 28;
    driver.update();
    driver.update();
    EXPECT_EQ(driver.detourActive, 1u);
    EXPECT_EQ(pickUpPoints(), 1);
    can->remove();
    delete can;
    game.packages[Game::OilPackage] = nullptr;
}

// A path just built along the road that bends over 90 degrees at once (the
// quad stands beside the road, past the first cross-section the route
// takes) is not built a second time in the same frame for its bend: the
// forced build would make the same path from the same place.
TEST(AIDriver, APathBuiltThisFrameIsNotBuiltAgainForItsBend)
{
    Field field;
    Game& game = field.game();
    game.choice.gameMode = Game::Circuit;
    game.choice.courseType = 2;
    Field::Scoped scoped(field);
    Road road;
    Game::Vehicle& v = field.vehicle(1, false, 450.0f, 400.0f);
    AI& driver = *v.getAIDriver();
    field.gateFor(v, 850.0f, 200.0f);
    v.wayNode = road.way.node(3);
    Field::standAt(v, 450.0f, 400.0f, vec3d(1.0f, 0.0f, 0.0f), 40.0f, false);
    const uint32_t before = driver.path.builds;
    driver.update();
    EXPECT_EQ(driver.needsPath, 0u);
    // The bend at the first road point, before the frame passed it.
    ASSERT_GE(driver.path.count, 3);
    const vec3d into = driver.path.points[1].position - driver.path.points[0].position;
    const vec3d out = driver.path.points[2].position - driver.path.points[1].position;
    ASSERT_LT(into.dot(out), 0.0f) << "a bend over 90 degrees";
    EXPECT_EQ(driver.path.builds - before, 1u);

    // The same path as a forced build from there makes.
    std::vector<Path::Point> built(driver.path.points, driver.path.points + driver.path.count);
    driver.replan(true);
    ASSERT_EQ(size_t(driver.path.count), built.size());
    for (size_t i = 0; i < built.size(); ++i) {
        EXPECT_EQ(driver.path.points[i].position, built[i].position) << i;
        EXPECT_EQ(driver.path.points[i].type, built[i].type) << i;
    }

    // A path not built this frame is built again for its bend.
    const uint32_t later = driver.path.builds;
    TestClock::now += 28;
    driver.update();
    EXPECT_EQ(driver.path.builds - later, 1u);

    // The driver steers along the path built again, not the one it had: a
    // path of a hairpin back to the south-west is forgotten.
    const float steersOnBuilt = driver.steering;
    const vec3d here = driver.object->world.row(3);
    driver.path.points[0].position = here;
    driver.path.points[1].position = here + vec3d(-60.0f, 0.0f, 0.0f);
    driver.path.points[2].position = here + vec3d(-30.0f, 0.0f, -90.0f);
    driver.path.count = 3;
    for (int32_t i = 0; i < driver.path.count; ++i)
        driver.path.points[i].passed = 0;
    ASSERT_GT(driver.path.bendAngle(), 90.0f);
    TestClock::now += 28;
    driver.update();
    EXPECT_NEAR(driver.steering, steersOnBuilt, 0.05f);
}

// A rocket pack weighs the less the nearer the vehicle ahead: the last of
// two fetches one 150 beside its path while the leader is 500 ahead, not
// while it is 100 ahead.
TEST(AIDriver, RocketPacksWeighLessBehindANearLeader)
{
    Field field;
    Game& game = field.game();
    game.choice.items = 1;
    game.choice.gameMode = Game::OffRoadRace;
    game.choice.vehicleCount = 2;
    ObjPkgManager::Package* packs = field.scene.objectPackages.findPackage(String(L"RocketPack"));
    ASSERT_NE(packs, nullptr);
    game.packages[Game::RocketPackPackage] = packs;
    for (const float apart : {500.0f, 100.0f}) {
        SCOPED_TRACE(apart);
        Field::Scoped scoped(field);
        Game::Vehicle& last = field.vehicle(1, false, 200.0f, 200.0f);
        Game::Vehicle& leader = field.vehicle(2, false, 200.0f, 200.0f + apart);
        field.gateFor(last, 200.0f, 750.0f);
        last.place = 2;
        leader.place = 1;
        Object* pack = field.scene.objectPackages.createObject(packs, vec3d(350.0f, Field::ground(), 450.0f), 1.0f);
        ASSERT_NE(pack, nullptr);
        Field::standAt(leader, 200.0f, 200.0f + apart, north, 40.0f, false);
        Field::standAt(last, 200.0f, 200.0f, north, 40.0f, false);
        last.getAIDriver()->update();
        EXPECT_EQ(last.getAIDriver()->detourActive, apart > 400.0f ? 1u : 0u);
        pack->remove();
        delete pack;
    }
    game.packages[Game::RocketPackPackage] = nullptr;
}

// A quad standing in the driver's lane ahead: along a road the driver steers
// round it on the side away from it, or on the other where that one leaves
// the road, and where neither side has room it brakes and then holds behind
// it (no full throttle at a standstill); across the country it passes on
// the side away from it. A quad ahead at the driver's own speed changes
// nothing, nor one standing beside the lane; a standing quad alongside is
// never steered into.
TEST(AIDriver, PassesOrWaitsBehindAQuadStandingInItsLane)
{
    Field field;
    Game& game = field.game();
    game.choice.difficulty = 1;
    // backOut: backing off at full lock away from the side it passes on.
    enum Expect { left, right, same, brake, hold, liftOff, behind, backOut };
    // The speed (in getSpeed units) below which pulling back drives a quad
    // backwards instead of braking it.
    const float brakeLeast = Game::Vehicle::QuadInstance::brakeSpeed * 2.4f;
    struct Case
    {
        const char* what;
        int32_t mode;
        float roadWidth;
        float ownZ;
        float otherAcross; // the other's z beside the own quad's
        float otherSpeed;  // getSpeed units, forwards
        float ownSpeed;
        Expect expect;
        bool touching = false; // the own quad hit it in the frame
        float gap = 40.0f;     // between their boxes along the road
        float otherThrottle = 0.0f;
        bool carrier = false; // the other carries the flag
        // The path bends left 45 degrees 20 units on; the other stands on
        // its far leg, otherAcross off it, off the own heading.
        bool beyondBend = false;
        bool otherOut = false; // the other finished, or was knocked out
        bool backingOff = false; // the driver backs off from it already
        // The road's width from its fourth point on (x = 400), the other on
        // the course where it stands (0: one width, the other off it).
        float roadThere = 0.0f;
        // The path ends 20 units on, and an earlier, longer one went on from
        // there to where the other stands: the points past the path's end
        // are not its own.
        bool staleBeyond = false;
    };
    const Case cases[] = {
        {"standing a little to the left: passed on the right", Game::Circuit, 20.0f, 200.0f, 1.0f, 0.0f, 40.0f, right},
        {"standing a little to the right: passed on the left", Game::Circuit, 20.0f, 200.0f, -1.0f, 0.0f, 40.0f, left},
        {"near the right edge: passed on the left though it stands left", Game::Circuit, 20.0f, 192.0f, 1.0f, 0.0f,
         40.0f, left},
        {"a road with room on neither side: braking", Game::Circuit, 6.0f, 200.0f, 0.0f, 0.0f, 40.0f, brake, false,
         20.0f},
        {"a road with room on neither side: held at a standstill", Game::Circuit, 6.0f, 200.0f, 0.0f, 0.0f, 0.0f,
         hold, false, 2.0f},
        // Pulled back, a quad brakes only while faster than this; slower it
        // would drive backwards.
        {"a road with room on neither side: held once down to the brake's least speed", Game::Circuit, 6.0f, 200.0f,
         0.0f, 0.0f, brakeLeast, hold, false, 2.0f},
        {"across the country: passed on the far side", Game::Jamboree, 20.0f, 200.0f, -1.0f, 0.0f, 40.0f, left},
        {"ahead at the own speed: followed", Game::Circuit, 20.0f, 200.0f, 0.0f, 40.0f, 40.0f, same},
        // Racing rivals keep their lines: the driver eases off behind them.
        {"a slower rival racing ahead: followed", Game::Circuit, 20.0f, 200.0f, 0.0f, 30.0f, 40.0f, same, false,
         5.0f},
        {"a rival under its own throttle touched: followed", Game::Circuit, 20.0f, 200.0f, 0.0f, 40.0f, 40.0f, same,
         true, 25.0f, 1.0f},
        {"standing beside the lane: passed by", Game::Circuit, 20.0f, 200.0f, 7.0f, 0.0f, 40.0f, same},
        // The flag's carrier is what the others head for, to touch it.
        {"the flag's carrier standing ahead: driven at", Game::CaptureTheFlag, 20.0f, 200.0f, 1.0f, 0.0f, 40.0f,
         same, false, 25.0f, 0.0f, true},
        // There every quad heads for the flag, and touches pass it.
        {"a quad standing ahead in the flag race: driven at", Game::CaptureTheFlag, 20.0f, 200.0f, 1.0f, 0.0f, 40.0f,
         same},
        // Pushed along, a standing quad moves at the pusher's speed.
        {"pushed along at the own speed: braked off", Game::Circuit, 20.0f, 200.0f, 0.0f, 40.0f, 40.0f, brake, true},
        {"pushed along at the own speed with no room: braked off", Game::Circuit, 6.0f, 200.0f, 0.0f, 40.0f, 40.0f,
         brake, true},
        // Too close to stop short of it at the own speed, not yet beside it.
        {"close behind at speed: braking while it turns out", Game::Circuit, 20.0f, 200.0f, 1.0f, 0.0f, 40.0f, brake,
         false, 2.0f},
        // At a racing speed it is seen as far off as the driver needs to
        // stop, and more: at the last moment a slow frame's travel carries
        // it past where braking stops it short, and locked wheels turn it
        // out no more.
        {"standing far ahead at a racing speed: lifted off", Game::Circuit, 20.0f, 192.0f, 1.0f, 0.0f, 60.0f, liftOff,
         false, 110.0f},
        {"standing within its stopping distance at a racing speed: braking", Game::Circuit, 20.0f, 192.0f, 1.0f,
         0.0f, 60.0f, brake, false, 70.0f},
        // Whether a side has room is judged by the road where it stands.
        {"standing where a narrow road has widened: passed", Game::Circuit, 3.0f, 200.0f, 0.0f, 0.0f, 30.0f, right,
         false, 30.0f, 0.0f, false, false, false, false, 30.0f},
        {"standing where a wide road has narrowed: waited behind", Game::Circuit, 20.0f, 200.0f, 0.0f, 0.0f, 40.0f,
         behind, false, 60.0f, 0.0f, false, false, false, false, 2.0f},
        // Round a bend it lies off the heading until the driver is nearly
        // on it, too late to stop at speed: the path ahead is looked along.
        {"standing on the path beyond a bend: braking", Game::Circuit, 20.0f, 200.0f, 0.0f, 0.0f, 80.0f, brake, false,
         25.0f, 0.0f, false, true},
        {"standing a little off the path beyond a bend: braking", Game::Circuit, 20.0f, 200.0f, 2.0f, 0.0f, 80.0f,
         brake, false, 25.0f, 0.0f, false, true},
        {"standing beside the path beyond a bend: passed by", Game::Circuit, 20.0f, 200.0f, 7.0f, 0.0f, 40.0f, same,
         false, 25.0f, 0.0f, false, true},
        {"standing beside the lane where an earlier path went on past this one's end: passed by", Game::Circuit,
         20.0f, 200.0f, 7.0f, 0.0f, 60.0f, same, false, 60.0f, 0.0f, false, false, false, false, 0.0f, true},
        // A quad out of the race stands where its driver stopped, on the
        // road before the Goal too: waiting behind it would never end.
        {"finished, standing on a road with no room: driven on", Game::Circuit, 6.0f, 200.0f, 0.0f, 0.0f, 40.0f,
         same, false, 40.0f, 0.0f, false, false, true},
        {"finished, standing close ahead: not braked for", Game::Circuit, 20.0f, 200.0f, 1.0f, 0.0f, 40.0f, same,
         false, 2.0f, 0.0f, false, false, true},
        // Backing off goes on until a quad's length lies between them.
        {"backing off, less than a quad's length behind it: still backing off", Game::Circuit, 20.0f, 200.0f, 1.0f,
         0.0f, 0.0f, brake, false, 2.0f, 0.0f, false, false, false, true},
        {"backing off, the quad driven away: backing off ends", Game::Circuit, 20.0f, 200.0f, 0.0f, 40.0f, 40.0f,
         same, false, 40.0f, 1.0f, false, false, false, true},
        // Down to the brake's least speed the pull back drives the quad
        // backwards: the lock the other way swings its nose out.
        {"backing off, down to the brake's least speed: backing at full lock", Game::Circuit, 20.0f, 200.0f, 1.0f,
         0.0f, brakeLeast, backOut, false, 2.0f, 0.0f, false, false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Road road(c.roadWidth, c.roadThere);
        game.course = road.way.list;
        game.choice.gameMode = c.mode;
        game.choice.courseType = c.mode == Game::Circuit ? 2 : 1;
        uint32_t backingOffAfter = 0;
        bool reversing = false;
        const auto steerAlone = [&](float& steering, float& throttle, bool withOther) {
            Field::Scoped scoped(field);
            // Off the joint of two segments, which lies on neither.
            Game::Vehicle& v = field.vehicle(1, false, 310.0f, c.ownZ);
            Game::Vehicle& other = field.vehicle(2, false, 600.0f, 600.0f);
            AI& driver = *v.getAIDriver();
            // Its lane the road's middle, straight ahead.
            v.startLane = 0.5f;
            field.gateFor(v, 900.0f, c.ownZ);
            game.targetGate = game.gates.head()->item;
            if (c.mode == Game::CaptureTheFlag) {
                game.captureFlag = game.targetGate->object;
                other.carriedItem = c.carrier ? game.captureFlag : nullptr;
            }
            v.wayNode = road.way.node(2);
            const float halfLength = v.entity()->worldBox.halfExtents.z * v.entity()->worldBox.axes[2].length();
            Field::standAt(v, 310.0f, c.ownZ, east, c.ownSpeed, c.ownSpeed == 0.0f);
            v.updateCourse();
            if (c.beyondBend) {
                Field::pathThrough(driver, {{300.0f, c.ownZ}, {330.0f, c.ownZ}, {370.0f, c.ownZ + 40.0f},
                                            {400.0f, c.ownZ + 70.0f}});
            } else if (c.staleBeyond) {
                Field::pathThrough(driver, {{300.0f, c.ownZ}, {330.0f, c.ownZ}});
                Path::Point& stale = driver.path.points[driver.path.count];
                stale.position =
                    vec3d(310.0f + 2.0f * halfLength + c.gap, Field::ground() + 2.0f, c.ownZ + c.otherAcross);
                stale.passed = 0;
            }
            const float diagonal = std::sqrt(0.5f);
            if (withOther && c.beyondBend)
                Field::standAt(other, 350.0f - c.otherAcross * diagonal, c.ownZ + 20.0f + c.otherAcross * diagonal,
                               vec3d(diagonal, 0.0f, diagonal), c.otherSpeed, c.otherSpeed == 0.0f);
            else if (withOther)
                Field::standAt(other, 310.0f + 2.0f * halfLength + c.gap, c.ownZ + c.otherAcross, east, c.otherSpeed,
                               c.otherSpeed == 0.0f);
            if (withOther && c.roadThere > 0.0f) {
                other.wayNode = road.way.node(int((other.entity()->world.row(3).x - 100.0f) / 100.0f));
                other.updateCourse();
            }
            if (withOther && c.touching)
                driver.lastHit.store(other.entity());
            other.getAIDriver()->throttle = c.otherThrottle;
            other.finished = c.otherOut ? 1u : 0u;
            driver.backingOff = c.backingOff ? 1u : 0u;
            driver.update();
            backingOffAfter = driver.backingOff;
            other.finished = 0;
            steering = driver.steering;
            throttle = driver.throttle;
            if (withOther)
                reversing = v.getQuad()->throttleInput() < 0.0f;
            other.carriedItem = nullptr;
            game.captureFlag = nullptr;
        };
        float alone = 0.0f, aloneThrottle = 0.0f, steering = 0.0f, throttle = 0.0f;
        steerAlone(alone, aloneThrottle, false);
        steerAlone(steering, throttle, true);
        switch (c.expect) {
        // Left is towards +z; the path alone may steer either way.
        case left:
            EXPECT_LT(steering, -0.1f);
            EXPECT_NE(steering, alone);
            break;
        case right: EXPECT_GT(steering, 0.1f); break;
        case same:
            EXPECT_FLOAT_EQ(steering, alone);
            // Not held back for it: as fast as alone, where the road ahead
            // lets it go at all (a bend at speed may lift it off alone).
            EXPECT_GE(throttle, 0.0f);
            if (aloneThrottle > 0.0f) {
                EXPECT_GT(throttle, 0.0f);
            }
            break;
        case brake: EXPECT_EQ(throttle, -1.0f); break;
        case hold:
            EXPECT_EQ(throttle, 0.0f);
            EXPECT_FALSE(reversing) << "held, not backing into whatever follows";
            break;
        case behind:
            EXPECT_LE(throttle, 0.0f);
            EXPECT_FLOAT_EQ(steering, alone);
            break;
        case liftOff:
            EXPECT_EQ(throttle, 0.0f);
            EXPECT_GT(aloneThrottle, 0.0f);
            break;
        case backOut:
            EXPECT_EQ(throttle, -1.0f);
            EXPECT_TRUE(reversing);
            EXPECT_EQ(steering, c.otherAcross >= 0.0f ? -1.0f : 1.0f);
            break;
        }
        // Turning out it does not brake; at speed it may lift off for the
        // swerve.
        if (c.expect == left || c.expect == right) {
            EXPECT_GE(throttle, 0.0f);
        }
        if (c.backingOff) {
            EXPECT_EQ(backingOffAfter, c.expect == brake || c.expect == backOut ? 1u : 0u);
        }
    }
    game.course = nullptr;

    // Alongside a standing quad, on the side the path turns to: straight on.
    game.choice.gameMode = Game::Circuit;
    Field::Scoped scoped(field);
    Game::Vehicle& v = field.vehicle(1, false, 300.0f, 200.0f);
    Game::Vehicle& other = field.vehicle(2, false, 600.0f, 600.0f);
    AI& driver = *v.getAIDriver();
    field.gateFor(v, 900.0f, 200.0f);
    const auto turnLeft = [&] {
        Field::standAt(v, 300.0f, 200.0f, east, 40.0f, false);
        Field::pathThrough(driver, {{300.0f, 200.0f}, {340.0f, 240.0f}});
        TestClock::now += 10;
        driver.update();
        return driver.steering;
    };
    EXPECT_LT(turnLeft(), -0.5f) << "the path turns left";
    // Beside it, just outside the clearance the driver passes with.
    const OrientedBox& box = v.entity()->worldBox;
    const float beside = 2.0f * box.halfExtents.x * box.axes[0].length() + AI::passingClearance + 0.25f;
    Field::standAt(other, 301.0f, 200.0f + beside, east, 0.0f, true);
    EXPECT_GE(turnLeft(), 0.0f) << "not into the standing quad";
    Field::standAt(other, 299.0f, 200.0f + beside, east, 0.0f, true);
    EXPECT_GE(turnLeft(), 0.0f) << "not into one standing a little behind alongside";
    Field::standAt(other, 301.0f, 200.0f + beside, east, 40.0f, false);
    EXPECT_LT(turnLeft(), -0.5f) << "one that moves keeps its own line";
    Field::standAt(other, 301.0f, 200.0f - beside, east, 0.0f, true);
    EXPECT_LT(turnLeft(), 0.0f) << "away from one on the other side";
}
