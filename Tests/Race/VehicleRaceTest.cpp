// A vehicle's race state on the builder's sample quad: binding the quad,
// the course states along a way with a scripted position and clock, the
// recovery of an overturned quad, the items, damage and repair, the flag's
// points, and a lap of a generated course.
#include "RaceTestSupport.h"

#include "../Application/AppTestFiles.h"
#include "../Landscape/TerrainTestMaps.h"

#include "Race/AIDriver.h"

#include "Objects/Cloths.h"
#include "Objects/CollectGate.h"
#include "Objects/DynObject.h"
#include "Objects/Fire.h"
#include "Objects/HUD.h"
#include "Objects/OilPuddle.h"
#include "Objects/Rocket.h"
#include "Objects/ObjectPackage.h"
#include "Vehicle/QuadInstance.h"

#include "Application/ControlBindings.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Physics/PhysicsManager.h"
#include "Render/SwapChain.h"
#include "Way/WayNetwork.h"

#include "ObjectPackageSamples.h"
#include "QuadSample.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using namespace RaceTest;
using QuadInstance = Game::Vehicle::QuadInstance;

struct Callbacks final : Game::Interface
{
    String getSettingNameGame() override { return String(L"Tester"); }
    Color getSettingCharGame() override { return Color(1, 2, 3, 255); }
    void saveSettings() override {}
    Control* getPlayerControls() override { return &controls; }
    Control controls;
};

// Flat ground at the height the map gives, the builder's quad and gate
// packages in a scene whose swap chain has no device, and the race clock.
struct Track
{
    Track() : clock(1000)
    {
        const std::vector<uint8_t> bytes = TerrainTestMaps::mapBytes(
            TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 20000.0f; }));
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        EXPECT_TRUE(gTerrain.load(nullptr, TerrainTestMaps::settings(), stream));
        gFrameFactor = 1.0f;
        const std::wstring folder = AppTestFiles::freshFolder(L"vehiclerace");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        EXPECT_TRUE(QuadSample::save(String(folder.c_str())));
        EXPECT_TRUE(ObjectPackageSamples::save(String(folder.c_str())));
        scene.swapChain = &chain;
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        chain.entities->physicsManager->start(16);
        game().phase = 3;
        game().choice.gameMode = Game::OffRoadRace;
        game().choice.goal = 3;
        for (uint8_t& b : buttons)
            b = 0;
        callbacks.controls.keyboardSet.keys[4] = &buttons[0]; // rocket
        callbacks.controls.keyboardSet.keys[5] = &buttons[1]; // oil
        callbacks.controls.keyboardSet.keys[6] = &buttons[2]; // nitro
    }
    ~Track()
    {
        game().vehicles.deleteAll();
        game().gates.deleteAll();
        scene.release();
        gTerrain.clear();
    }

    Game& game() { return scene.game; }
    float ground() const { return gTerrain.getHeight(100.0f, 100.0f, 3); }

    // A vehicle of slot on a new object of package at (x, z), alive.
    Game::Vehicle& vehicle(uint32_t slot, bool player, float x = 100.0f, float z = 100.0f,
                           const wchar_t* package = L"Quad")
    {
        Object* placed = scene.objectPackages.createObject(scene.objectPackages.findPackage(String(package)),
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
    // The quad's sphere moves to (x, ground + 1, z), facing along forward.
    static void moveTo(Game::Vehicle& v, float x, float z, const vec3d& forward, float lift = 1.0f)
    {
        EntityManager::Entity& body = *v.getQuad()->entity;
        const float y = gTerrain.getHeight(x, z, 3) + lift;
        body.worldBounds.center = vec3d(x, y, z);
        body.worldBox.center = vec3d(x, y, z);
        const vec3d up(0.0f, 1.0f, 0.0f);
        body.world.setRow(0, up.cross(forward));
        body.world.setRow(1, up);
        body.world.setRow(2, forward);
        body.world.setRow(3, vec3d(x, y - 0.5f, z));
    }

    TestClock clock;
    Callbacks callbacks;
    uint8_t buttons[3];
    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f, &callbacks};
};

// Where a set-back quad landed from (x, z), across and along north, with
// its box's half width and half length.
struct Landing
{
    float across, along, halfWidth, halfLength;
};

Landing landing(Game::Vehicle& v, float x, float z)
{
    const vec3d landed = v.getQuad()->body()->getTransform()->row(3);
    const OrientedBox& own = v.getQuad()->entity->worldBox;
    return {landed.x - x, landed.z - z, own.halfExtents.x * own.axes[0].length(),
            own.halfExtents.z * own.axes[2].length()};
}

}

// The object's instance binds the quad: the player's reads the application's
// controls, an opponent's its driver's; a package without the quad function
// makes a vehicle that updates nothing.
TEST(VehicleRace, AttachBindsTheQuad)
{
    Track track;
    Game::Vehicle& player = track.vehicle(0, true);
    Game::Vehicle& opponent = track.vehicle(1, false, 120.0f);
    ASSERT_NE(player.getQuad(), nullptr);
    ASSERT_NE(opponent.getQuad(), nullptr);
    EXPECT_EQ(player.getQuad()->vehicle, &player);
    EXPECT_EQ(player.getQuad()->controls, &track.callbacks.controls);
    EXPECT_EQ(opponent.getQuad()->vehicle, &opponent);
    ASSERT_NE(opponent.getAIDriver(), nullptr);
    EXPECT_EQ(opponent.getQuad()->controls, &opponent.getAIDriver()->controls);
    EXPECT_EQ(player.position, player.getQuad()->entity->worldBounds.center);

    Game::Vehicle& crate = track.vehicle(2, false, 140.0f, 100.0f, L"Gate");
    EXPECT_NE(crate.getDynObject(), nullptr);
    EXPECT_EQ(crate.getQuad(), nullptr);
    crate.update();
    EXPECT_TRUE(Game::isZeroTime(crate.raceTime)) << "no quad, no update";

    // enableControls sets and clears the steering and throttle bits unless
    // finished, and holds or releases the quad.
    player.enableControls(0, 1);
    EXPECT_EQ(track.callbacks.controls.enabledActions & 3u, 0u);
    EXPECT_EQ(player.getQuad()->frozen, 1u);
    player.enableControls(1, 0);
    EXPECT_EQ(track.callbacks.controls.enabledActions & 3u, 3u);
    EXPECT_EQ(player.getQuad()->frozen, 0u);
    player.finished = 1;
    player.enableControls(0, 1);
    EXPECT_EQ(track.callbacks.controls.enabledActions & 3u, 3u);
    EXPECT_EQ(player.getQuad()->frozen, 1u);
    opponent.enableControls(0, 1);
    EXPECT_EQ(opponent.getAIDriver()->controls.enabledActions & 3u, 0u);
    EXPECT_EQ(opponent.getQuad()->frozen, 1u);
    opponent.getDynObject()->functions->remove(Game::Vehicle::aiDriverFlag);
    opponent.enableControls(1, 0);
    EXPECT_EQ(opponent.getQuad()->frozen, 1u) << "no controls: nothing written";
}

// The course states with a scripted position and clock, one step a row:
// off the way, the wrong way, a missed gate, for the player and an
// opponent; the way node wraps from the last to the head.
namespace {

// The way's points 10 wide and each segment cut into pieces (ten)
// cross-sections.
void cutCrossSections(WayList& way, int pieces = 10)
{
    for (Way::PointNode* node = way.list->head(); node; node = node->next)
        node->item->width = 10.0f;
    for (Way::PointNode* node = way.list->head(); node && node->next; node = node->next) {
        Way::Segment& segment = *node->item->segment;
        segment.positions.resize(size_t(pieces + 1));
        for (int i = 0; i <= pieces; ++i)
            Way::Segment::crossSectionAt(segment.positions[size_t(i)], segment, float(i) / float(pieces));
    }
}

// The track with a way along +x from x = 40 as the race's course: points
// 40 apart, 10 wide, each segment cut into ten cross-sections.
struct WayTrack
{
    WayTrack()
    {
        cutCrossSections(way);
        track.game().course = way.list;
    }
    ~WayTrack() { track.game().course = nullptr; }

    // Stands object on the way at x as the course's next gate.
    void placeGate(Object& object, float x)
    {
        object.position = vec3d(x, track.ground(), 100.0f);
        track.game().gates.append(new Game::Gate(&track.game(), &object));
    }

    Track track;
    WayList way{5, 40.0f, true, vec3d(40.0f, track.ground(), 100.0f)};
};

// A step of a quad along the way track: wait ms, then stand at (x, z)
// facing east (west when set), and the course state the update gives.
struct CourseStep
{
    uint32_t wait;
    float x, z;
    bool west;
    uint32_t state;
    bool compass = false; // shown after the step (looked at with a display)
    bool message = false; // the same
};

void walkCourse(Game::Vehicle& v, const std::vector<CourseStep>& steps,
                const ObjPkgManager::Functions::HUD* hud = nullptr)
{
    const vec3d east(1.0f, 0.0f, 0.0f), west(-1.0f, 0.0f, 0.0f);
    for (const CourseStep& s : steps) {
        TestClock::now += s.wait;
        Track::moveTo(v, s.x, s.z, s.west ? west : east);
        v.updateCourse();
        EXPECT_EQ(v.courseState, s.state) << "at x " << s.x << " z " << s.z << " after " << s.wait;
        if (hud) {
            EXPECT_EQ(hud->compass != nullptr, s.compass) << "after " << s.wait;
            EXPECT_EQ(hud->message != nullptr, s.message) << "after " << s.wait;
        }
    }
}

}

TEST(VehicleRace, CourseStatesFollowThePositionAndTheClock)
{
    WayTrack road;
    Track& track = road.track;
    WayList& way = road.way;
    Game& game = track.game();
    const vec3d east(1.0f, 0.0f, 0.0f), west(-1.0f, 0.0f, 0.0f);

    struct Case
    {
        const char* what;
        bool player;
        std::vector<CourseStep> steps;
        int32_t mode = Game::OffRoadRace;
    };
    const Case cases[] = {
        {"off the way: warned after 1000 ms, put back 2800 ms later",
         true,
         {{0, 100.0f, 100.0f, false, 0},
          {10, 100.0f, 130.0f, false, 2},
          {1000, 100.0f, 130.0f, false, 2},
          {1, 100.0f, 130.0f, false, 3},
          {2800, 100.0f, 130.0f, false, 3},
          {1, 100.0f, 130.0f, false, 0}}},
        {"an opponent is put back 2000 ms after leaving the way",
         false,
         {{0, 100.0f, 130.0f, false, 2},
          {1001, 100.0f, 130.0f, false, 3},
          {1000, 100.0f, 130.0f, false, 3},
          {1, 100.0f, 130.0f, false, 0}}},
        {"back on the way within the 1000 ms is no warning", true,
         {{0, 100.0f, 130.0f, false, 2}, {500, 100.0f, 100.0f, false, 0}, {501, 100.0f, 100.0f, false, 0}}},
        {"back on the way ends the warning", true,
         {{0, 100.0f, 130.0f, false, 2}, {1001, 100.0f, 130.0f, false, 3}, {5, 100.0f, 100.0f, false, 0}}},
        {"the wrong way after 1000 ms, ended by leaving the way",
         true,
         {{0, 100.0f, 100.0f, true, 4},
          {1000, 100.0f, 100.0f, true, 4},
          {1, 100.0f, 100.0f, true, 5},
          {5000, 100.0f, 100.0f, true, 5},
          {1, 100.0f, 130.0f, true, 0}}},
        {"turning round ends the wrong way", true,
         {{0, 100.0f, 100.0f, true, 4}, {1001, 100.0f, 100.0f, true, 5}, {1, 100.0f, 100.0f, false, 0}}},
        {"turning round within the 1000 ms is no wrong way", true,
         {{0, 100.0f, 100.0f, true, 4}, {500, 100.0f, 100.0f, false, 0}, {501, 100.0f, 100.0f, false, 0}}},
        {"opponents are never told of the wrong way", false,
         {{0, 100.0f, 100.0f, true, 0}, {2000, 100.0f, 100.0f, true, 0}}},
        // The flag and the checkpoints are reached across the country.
        {"in the flag race the player off the way is neither warned nor put back",
         true,
         {{0, 100.0f, 100.0f, false, 0}, {10, 100.0f, 130.0f, false, 0}, {1001, 100.0f, 130.0f, false, 0},
          {2801, 100.0f, 130.0f, false, 0}, {60000, 100.0f, 130.0f, false, 0}},
         Game::CaptureTheFlag},
        {"nor an opponent in the checkpoint race", false,
         {{0, 100.0f, 130.0f, false, 0}, {1001, 100.0f, 130.0f, false, 0}, {1001, 100.0f, 130.0f, false, 0}},
         Game::Jamboree},
        {"in the checkpoint race no way is the wrong one", true,
         {{0, 100.0f, 100.0f, true, 0}, {1001, 100.0f, 100.0f, true, 0}, {5000, 100.0f, 100.0f, true, 0}},
         Game::Jamboree},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        game.choice.gameMode = c.mode;
        Game::Vehicle& v = track.vehicle(c.player ? 0 : 1, c.player);
        v.wayNode = way.node(1);
        walkCourse(v, c.steps);
        game.vehicles.deleteAll();
    }
    game.choice.gameMode = Game::OffRoadRace;

    // Only in the running phase does a warning begin.
    Game::Vehicle& v = track.vehicle(0, true);
    v.wayNode = way.node(1);
    game.phase = 2;
    Track::moveTo(v, 100.0f, 130.0f, east);
    v.updateCourse();
    EXPECT_EQ(v.courseState, 0u);
    game.phase = 3;

    // The way node follows the quad, and from the last node of the list on
    // to its head: a round of the list, and the progress goes on growing.
    // Back over the list's head, the round is taken back.
    Track::moveTo(v, 130.0f, 100.0f, east);
    v.updateCourse();
    EXPECT_EQ(v.wayNode, way.node(2));
    v.wayNode = way.node(3);
    Track::moveTo(v, 190.0f, 100.0f, east);
    v.updateCourse();
    const float beforeTheHead = v.getTrackProgress();
    Track::moveTo(v, 50.0f, 100.0f, east);
    v.updateCourse();
    EXPECT_EQ(v.wayNode, way.node(0));
    EXPECT_EQ(v.wayRounds, 1);
    EXPECT_GT(v.getTrackProgress(), beforeTheHead);
    EXPECT_EQ(v.courseState, 0u);
    Track::moveTo(v, 170.0f, 100.0f, west);
    v.updateCourse();
    EXPECT_EQ(v.wayNode, way.node(3));
    EXPECT_EQ(v.wayRounds, 0);
    v.courseState = 0;
    // Back on the node before (a quad that backed out): still on the way.
    v.wayNode = way.node(2);
    Track::moveTo(v, 100.0f, 100.0f, east);
    v.updateCourse();
    EXPECT_EQ(v.wayNode, way.node(1));
    EXPECT_EQ(v.wayRounds, 0);
    EXPECT_EQ(v.courseState, 0u);

    // A gate left behind on the way: missed, shown 1000 ms later.
    Object gateObject;
    road.placeGate(gateObject, 60.0f);
    v.nextGate = game.gates.head();
    v.wayNode = way.node(1);
    Track::moveTo(v, 110.0f, 100.0f, east);
    v.updateCourse();
    EXPECT_EQ(v.courseState, 6u);
    TestClock::now += 1001;
    v.updateCourse();
    EXPECT_EQ(v.courseState, 7u);
    v.nextGate = nullptr;
    v.updateCourse();
    EXPECT_EQ(v.courseState, 0u) << "no gate to miss";
    // A miss taken back within the second: before the gate again, the
    // warning is called off.
    v.nextGate = game.gates.head();
    Track::moveTo(v, 110.0f, 100.0f, east);
    v.updateCourse();
    EXPECT_EQ(v.courseState, 6u);
    Track::moveTo(v, 50.0f, 100.0f, east);
    v.updateCourse();
    EXPECT_EQ(v.courseState, 0u) << "before the gate again";
    game.vehicles.deleteAll();
    game.gates.deleteAll();
    game.course = nullptr;
}

// A gate is missed only once the quad is nearer a later cross-section than
// the gate's: waiting on the gate's own cross-section is no miss, however
// long; a cross-section past it is.
TEST(VehicleRace, AQuadOnItsGatesCrossSectionHasNotMissedIt)
{
    WayTrack road;
    Track& track = road.track;
    WayList& way = road.way;
    Game& game = track.game();
    const vec3d east(1.0f, 0.0f, 0.0f);
    // The gate halfway along the second segment (x 80 to 120).
    Object gateObject;
    road.placeGate(gateObject, 100.0f);
    struct Case
    {
        const char* what;
        float x;
        uint32_t first, afterASecond; // course states
    };
    const Case cases[] = {
        {"on the gate's cross-section", 100.0f, 0, 0},
        {"nearest the gate's cross-section, past the gate", 101.5f, 0, 0},
        {"nearest the cross-section before it", 97.0f, 0, 0},
        {"nearest the next cross-section", 103.0f, 6, 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Game::Vehicle& v = track.vehicle(0, true);
        v.nextGate = game.gates.head();
        v.wayNode = way.node(1);
        uint32_t waited = 0;
        for (uint32_t wait : {0u, 600u, 600u, 600u}) {
            TestClock::now += wait;
            waited += wait;
            Track::moveTo(v, c.x, 100.0f, east);
            v.updateCourse();
            EXPECT_EQ(v.courseState, waited > 1000 ? c.afterASecond : c.first) << "after " << waited << " ms";
        }
        game.vehicles.deleteAll();
    }
    game.gates.deleteAll();
}

// An overturned quad is put back after 2000 ms, only while the race runs
// or is over, in the points modes too; one that rights itself first is left
// alone.
TEST(VehicleRace, OverturnedQuadsArePutBack)
{
    Track track;
    Game::Vehicle& v = track.vehicle(0, true);
    const vec3d east(1.0f, 0.0f, 0.0f);
    const struct
    {
        int32_t mode;
        uint32_t phase;
    } rows[] = {{Game::OffRoadRace, 2},    {Game::OffRoadRace, 3}, {Game::OffRoadRace, 4},
                {Game::CaptureTheFlag, 2}, {Game::CaptureTheFlag, 3}, {Game::Jamboree, 4}};
    for (const auto& [mode, phase] : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << mode << ", phase " << phase);
        track.game().choice.gameMode = mode;
        track.game().phase = phase;
        Track::moveTo(v, 100.0f, 100.0f, east, -2.0f); // the ground covers its centre
        v.updateOverturn();
        if (phase == 2) {
            EXPECT_EQ(v.courseState, 0u);
            continue;
        }
        EXPECT_EQ(v.courseState, 1u);
        TestClock::now += 2000;
        v.updateOverturn();
        EXPECT_EQ(v.courseState, 1u);
        TestClock::now += 1;
        v.updateOverturn();
        EXPECT_EQ(v.courseState, 0u);
        const vec3d placed = v.getQuad()->body()->getTransform()->row(3);
        EXPECT_GT(placed.y, track.ground()) << "set back on the ground";
    }
    Track::moveTo(v, 100.0f, 100.0f, east, -2.0f);
    v.updateOverturn();
    Track::moveTo(v, 100.0f, 100.0f, east, 1.0f);
    v.updateOverturn();
    EXPECT_EQ(v.courseState, 0u) << "righted by itself";
}

// The 2000 ms an overturned quad waits are the world's: while the world
// lags behind the race clock (frames longer than the physics steps), the
// quad is given the time the world did not run.
TEST(VehicleRace, AnOverturnedQuadWaitsOnTheWorldsClock)
{
    Track track;
    Game::Vehicle& v = track.vehicle(0, true);
    EntityManager::PhysicsManager& physics = *track.chain.entities->physicsManager;
    const vec3d east(1.0f, 0.0f, 0.0f);
    struct Wait
    {
        uint32_t raceMs;
        double lag; // seconds the world falls behind meanwhile
        uint32_t state;
    };
    Track::moveTo(v, 100.0f, 100.0f, east, -2.0f); // the ground covers its centre
    v.updateOverturn();
    ASSERT_EQ(v.courseState, 1u);
    for (const Wait& w : {Wait{2001, 1.5, 1}, Wait{1498, 0.0, 1}, Wait{3, 0.0, 0}}) {
        TestClock::now += w.raceMs;
        physics.worldLag += w.lag;
        v.updateOverturn();
        EXPECT_EQ(v.courseState, w.state) << w.raceMs;
    }
    EXPECT_EQ(track.game().worldNow(), TestClock::now - 1500u);
}

// A quad set back on the way lands where nothing stands: on the way
// point's centre when it is free, else beside the quads and crates there,
// on the road, and a little further back when the road is full across.
// The same for an overturned quad and one that left the way.
TEST(VehicleRace, AQuadSetBackLandsWhereNothingStands)
{
    Track track;
    Game& game = track.game();
    game.choice.courseType = 2;
    const vec3d north(0.0f, 0.0f, 1.0f), east(1.0f, 0.0f, 0.0f);
    const float roadHalf = 9.0f;
    struct Case
    {
        const char* what;
        std::vector<float> quads;  // quads standing across the way point, by offset along its side
        std::vector<float> crates; // crates likewise
        bool atCentre, behind;
        std::vector<float> postsAhead = {}; // crates 8 units ahead along the way, by offset along its side
    };
    const Case cases[] = {
        {"a free road", {}, {}, true, false},
        {"a quad on the centre", {0.0f}, {}, false, false},
        {"a quad on the centre, crates on one side", {0.0f}, {2.0f, 4.0f}, false, false},
        {"the road full across", {-8.0f, -6.0f, -4.0f, -2.0f, 0.0f, 2.0f, 4.0f, 6.0f, 8.0f}, {}, false, true},
        {"a post just ahead of the centre", {}, {}, false, false, {0.0f}},
        {"a quad on the centre, a post ahead of the place beside it", {0.0f}, {}, false, false, {3.0f}},
    };
    // Off the way: the quad stands far from a way of its own.
    WayList way(3, 40.0f, true, vec3d(40.0f, track.ground(), 330.0f));
    for (Way::PointNode* node = way.list->head(); node && node->next; node = node->next) {
        Way::Segment& segment = *node->item->segment;
        segment.positions.resize(5);
        for (int i = 0; i <= 4; ++i)
            Way::Segment::crossSectionAt(segment.positions[size_t(i)], segment, float(i) / 4.0f);
    }
    float x = 20.0f;
    for (const bool overturned : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << (overturned ? ", overturned" : ", off the way"));
            // Each case at a way point of its own, the way running north,
            // its side pointing east.
            x += 40.0f;
            const float z = 150.0f;
            Game::Vehicle& v = track.vehicle(1, false, x, z + 80.0f);
            for (size_t i = 0; i < c.quads.size(); ++i) {
                Game::Vehicle& other = track.vehicle(uint32_t(2 + i), false, x + c.quads[i], z);
                Track::moveTo(other, x + c.quads[i], z, north);
            }
            for (const float offset : c.crates)
                ASSERT_NE(track.scene.objectPackages.createObject(
                              track.scene.objectPackages.findPackage(String(L"Crate")),
                              vec3d(x + offset, track.ground(), z), 1.0f),
                          nullptr);
            for (const float offset : c.postsAhead)
                ASSERT_NE(track.scene.objectPackages.createObject(
                              track.scene.objectPackages.findPackage(String(L"Crate")),
                              vec3d(x + offset, track.ground(), z + 8.0f), 1.0f),
                          nullptr);
            Way::Pos& at = v.wayPoint;
            at.centre = vec3d(x, track.ground(), z);
            at.forward = north;
            at.side = east;
            at.left = at.centre - east * roadHalf;
            at.right = at.centre + east * roadHalf;
            TestClock::now += 10;
            if (overturned) {
                Track::moveTo(v, x, z + 80.0f, north, -2.0f);
                v.courseState = 1;
                v.overturnTime = TestClock::now - 1;
                v.updateOverturn();
            } else {
                Track::moveTo(v, x, z + 80.0f, north);
                game.course = way.list;
                v.wayNode = way.node(1);
                v.courseState = 3;
                v.offWayTime = TestClock::now - 1;
                v.updateCourse();
                game.course = nullptr;
            }
            EXPECT_EQ(v.courseState, 0u);
            const auto [across, along, halfWidth, halfLength] = landing(v, x, z);
            if (c.atCentre) {
                EXPECT_NEAR(across, 0.0f, 1e-3f);
                EXPECT_NEAR(along, 0.0f, 1e-3f);
            }
            EXPECT_LE(std::abs(across), roadHalf) << "on the road";
            EXPECT_EQ(along < -halfLength, c.behind) << "along " << along;
            for (const float offset : c.quads) {
                const bool apart =
                    std::abs(across - offset) >= 2.0f * halfWidth || std::abs(along) >= 2.0f * halfLength;
                EXPECT_TRUE(apart) << "on the quad at " << offset << ": landed at " << across << ", " << along;
            }
            for (const float offset : c.crates)
                EXPECT_TRUE(std::abs(across - offset) >= halfWidth + 0.5f || std::abs(along) >= halfLength + 0.5f)
                    << "on the crate at " << offset << ": landed at " << across << ", " << along;
            // Throttle alone drives the quad on: no post stands in its lane.
            for (const float offset : c.postsAhead)
                EXPECT_GE(std::abs(across - offset), halfWidth + 0.5f)
                    << "behind the post at " << offset << ": landed at " << across << ", " << along;
            game.vehicles.deleteAll();
        }
    }
}

// A straight that the way keeps as a cross-section at each end: a quad on
// it has driven as far as it stands along it, and its lane is where it
// stands across the road; a quad that leaves it is put back beside where it
// left, on the road, however far the nearest cross-section lies; one that
// comes back to it is on the way.
TEST(VehicleRace, AQuadThatLeavesALongStraightIsPutBackBesideWhereItLeft)
{
    Track track;
    Game& game = track.game();
    game.choice.courseType = 2;
    const vec3d east(1.0f, 0.0f, 0.0f);
    const float z = 100.0f;
    WayList way(3, 200.0f, true, vec3d(40.0f, track.ground(), z));
    for (Way::PointNode* node = way.list->head(); node; node = node->next)
        node->item->width = 10.0f;
    for (Way::PointNode* node = way.list->head(); node && node->next; node = node->next) {
        Way::Segment& segment = *node->item->segment;
        segment.positions.resize(2);
        Way::Segment::crossSectionAt(segment.positions[0], segment, 0.0f);
        Way::Segment::crossSectionAt(segment.positions[1], segment, 1.0f);
    }
    game.course = way.list;
    // Where along the second straight (x 240 to 440) the quad left it.
    for (const float share : {0.05f, 0.2f, 0.45f, 0.55f, 0.8f, 0.95f}) {
        SCOPED_TRACE(share);
        const float x = 240.0f + 200.0f * share;
        Game::Vehicle& v = track.vehicle(1, false, x, z);
        v.wayNode = way.node(1);
        Track::moveTo(v, x, z, east);
        v.updateCourse();
        ASSERT_EQ(v.courseState, 0u);
        EXPECT_NEAR(v.getDrivenDistance(), 200.0f + 200.0f * share, 0.5f);
        const Way::Pos beside = v.wayPointBesideQuad();
        EXPECT_NEAR(wayDistanceRatio(vec3d(x, beside.left.y, z), beside), 0.5f, 0.01f) << "the middle";
        // Off to the side, on past where it left: warned, then put back.
        Track::moveTo(v, x + 10.0f, z + 30.0f, east);
        for (const uint32_t state : {2u, 3u, 0u}) {
            v.updateCourse();
            EXPECT_EQ(v.courseState, state);
            TestClock::now += 1001;
        }
        const auto [across, along, halfWidth, halfLength] = landing(v, x, z);
        EXPECT_LT(std::abs(across), 2.0f * halfLength) << "along the way";
        EXPECT_LE(std::abs(along), 5.0f - halfWidth) << "across the road";
        // Where it was put it is on the way.
        Track::moveTo(v, x + across, z + along, east);
        v.updateCourse();
        EXPECT_EQ(v.courseState, 0u);
        EXPECT_EQ(v.wayNode, way.node(1));
        game.vehicles.deleteAll();
    }
    game.course = nullptr;
}

// A driver wedged off the way is set back on the way where it was last on
// it; in the points modes, where no way is followed and that may be far
// off, on the way nearest to where it stands.
TEST(VehicleRace, AWedgedDriverIsSetBackOnTheWayNearestInThePointsModes)
{
    WayTrack road;
    Track& track = road.track;
    Game& game = track.game();
    const vec3d east(1.0f, 0.0f, 0.0f);
    for (const int32_t mode : {Game::OffRoadRace, Game::CaptureTheFlag, Game::Jamboree}) {
        SCOPED_TRACE(mode);
        game.choice.gameMode = mode;
        Game::Vehicle& v = track.vehicle(1, false);
        v.wayNode = road.way.node(0);
        Track::moveTo(v, 50.0f, 100.0f, east);
        v.updateCourse();
        Track::moveTo(v, 170.0f, 130.0f, east);
        v.freeWedgedQuad(*v.getQuad());
        const float lastOnTheWay = mode == Game::OffRoadRace ? 50.0f : 170.0f;
        // The way runs along x here.
        const auto [alongTheWay, acrossTheWay, halfWidth, halfLength] = landing(v, lastOnTheWay, 100.0f);
        EXPECT_LT(std::abs(alongTheWay), 2.0f * halfLength);
        EXPECT_LE(std::abs(acrossTheWay), 5.0f) << "on the road";
        game.vehicles.deleteAll();
    }
    game.choice.gameMode = Game::OffRoadRace;
}

// Off the roads an overturned quad is set back where it lies, unless a
// static object stands there: then beside it, near where it lay. So it is
// in the points modes on any course: no way is followed there, and the way
// point lies where the quad last crossed a road.
TEST(VehicleRace, AnOverturnedQuadOffTheRoadsLandsBesideAnObject)
{
    Track track;
    Game& game = track.game();
    game.phase = 3;
    const vec3d north(0.0f, 0.0f, 1.0f), east(1.0f, 0.0f, 0.0f);
    struct Case
    {
        const char* what;
        int32_t courseType, mode;
        bool crate;
    };
    const Case cases[] = {
        {"on free ground", 1, Game::OffRoadRace, false},
        {"on a crate", 1, Game::OffRoadRace, true},
        {"in the flag race, by a race track", 2, Game::CaptureTheFlag, false},
        {"in the checkpoint race, by a rally course, on a crate", 3, Game::Jamboree, true},
    };
    float x = 40.0f;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        game.choice.courseType = c.courseType;
        game.choice.gameMode = c.mode;
        x += 60.0f;
        const float z = 150.0f;
        Game::Vehicle& v = track.vehicle(1, false, x, z);
        if (c.crate) {
            ASSERT_NE(track.scene.objectPackages.createObject(
                          track.scene.objectPackages.findPackage(String(L"Crate")), vec3d(x, track.ground(), z), 1.0f),
                      nullptr);
        }
        // The road it crossed last, far behind it.
        v.wayPoint.centre = vec3d(x, track.ground(), z - 300.0f);
        v.wayPoint.forward = north;
        v.wayPoint.side = east;
        v.wayPoint.left = v.wayPoint.centre - east * 9.0f;
        v.wayPoint.right = v.wayPoint.centre + east * 9.0f;
        TestClock::now += 10;
        Track::moveTo(v, x, z, north, -2.0f);
        v.courseState = 1;
        v.overturnTime = TestClock::now - 1;
        v.updateOverturn();
        EXPECT_EQ(v.courseState, 0u);
        const auto [across, along, halfWidth, halfLength] = landing(v, x, z);
        if (c.crate) {
            EXPECT_TRUE(std::abs(across) >= halfWidth + 0.5f || std::abs(along) >= halfLength + 0.5f)
                << "on the crate: landed at " << across << ", " << along;
            EXPECT_LT(std::hypot(across, along), 8.0f * (halfWidth + halfLength)) << "near where it lay";
        } else {
            EXPECT_NEAR(across, 0.0f, 1e-3f);
            EXPECT_NEAR(along, 0.0f, 1e-3f);
        }
        game.vehicles.deleteAll();
    }
}

// Items by mode and place, nitro, damage, repair and the motor factor.
TEST(VehicleRace, ItemsDamageAndRepair)
{
    Track track;
    Game& game = track.game();
    Game::Vehicle& v = track.vehicle(0, true);
    Game::Vehicle& other = track.vehicle(1, false, 130.0f, 100.0f);
    (void)other;
    const float& factor = v.getQuad()->engineSound.speedScale;

    // One rocket per press; none for the leader or in TimeTrial.
    struct RocketCase
    {
        int32_t mode;
        int32_t place;
        int presses;
        uint8_t spent;
    };
    const RocketCase rockets[] = {
        {Game::OffRoadRace, 2, 1, 1}, {Game::OffRoadRace, 2, 3, 3}, {Game::OffRoadRace, 1, 2, 0},
        {Game::TimeTrial, 2, 2, 0},   {Game::Circuit, 3, 1, 1},
    };
    for (const RocketCase& c : rockets) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " place " << c.place);
        game.choice.gameMode = c.mode;
        v.place = c.place;
        v.rockets = 10;
        for (int press = 0; press < c.presses; ++press) {
            track.buttons[0] = 1;
            v.update();
            v.update(); // held: no second rocket
            track.buttons[0] = 0;
            v.update();
        }
        EXPECT_EQ(10 - v.rockets, c.spent);
    }
    game.choice.gameMode = Game::OffRoadRace;
    v.oil = 2;
    for (int press = 0; press < 3; ++press) {
        track.buttons[1] = 1;
        v.update();
        track.buttons[1] = 0;
        v.update();
    }
    EXPECT_EQ(v.oil, 0);

    // Nitro from 1.0 burns 250 frames at frame factor 1; the motor factor
    // is 0.625 while it burns.
    EXPECT_FLOAT_EQ(factor, 1.0f);
    v.nitro = 1.0f;
    track.buttons[2] = 1;
    int frames = 0;
    while (v.nitroOn || frames == 0) {
        v.update();
        if (v.nitroOn) {
            ++frames;
            EXPECT_FLOAT_EQ(factor, 0.625f);
        }
        ASSERT_LT(frames, 400);
    }
    EXPECT_NEAR(frames, 250, 1);
    EXPECT_EQ(v.nitro, 0.0f);
    EXPECT_FLOAT_EQ(factor, 1.0f);
    v.update();
    EXPECT_FLOAT_EQ(factor, 1.0f) << "empty: nothing burns";
    track.buttons[2] = 0;

    // Hits within 1000 ms count once; full damage gives 1/0.6.
    v.addDamage(0.5f);
    v.addDamage(0.5f);
    EXPECT_FLOAT_EQ(v.damage, 0.5f);
    TestClock::now += 1001;
    v.addDamage(0.9f);
    EXPECT_FLOAT_EQ(v.damage, 1.0f);
    EXPECT_FLOAT_EQ(factor, 1.0f / 0.6f);

    // A repair kit at 0.8 heals 0.5 over the frames.
    v.damage = 0.8f;
    v.repair();
    EXPECT_FLOAT_EQ(v.repairLeft, 0.5f);
    for (int frame = 0; frame < 200 && v.repairLeft > 0.0f; ++frame)
        v.update();
    EXPECT_EQ(v.repairLeft, 0.0f);
    EXPECT_NEAR(v.damage, 0.3f, 1e-4f);
    v.damage = 0.04f;
    v.repair();
    for (int frame = 0; frame < 50; ++frame)
        v.update();
    EXPECT_NEAR(v.damage, 0.0f, 1e-6f);
    EXPECT_EQ(game.repairSound, nullptr) << "not loaded, never played";

    // Carrying the flag: 1.25 without damage; a point 1000 ms after the
    // pick-up, then every 2000; none in phase 4.
    v.damage = 0.0f;
    game.choice.gameMode = Game::CaptureTheFlag;
    game.choice.goal = 100;
    Object* flag = track.scene.objectPackages.createObject(track.scene.objectPackages.findPackage(String(L"Crate")),
                                                           vec3d(50.0f, track.ground(), 50.0f), 1.0f);
    ASSERT_NE(flag, nullptr);
    flag->instance = flag->createInstance();
    v.setCarriedItem(flag);
    EXPECT_FLOAT_EQ(factor, 1.25f);
    const uint32_t start = TestClock::now;
    const int32_t before = v.points;
    struct FlagStep
    {
        uint32_t at;
        int32_t points;
    };
    for (const FlagStep& s : {FlagStep{1000, 0}, FlagStep{1001, 1}, FlagStep{3000, 1}, FlagStep{3001, 2},
                              FlagStep{5001, 3}}) {
        TestClock::now = start + s.at;
        v.update();
        EXPECT_EQ(v.points - before, s.points) << "at " << s.at;
    }
    game.phase = 4;
    TestClock::now = start + 9000;
    v.update();
    EXPECT_EQ(v.points - before, 3);
    v.setCarriedItem(nullptr);
    flag->remove();
    delete flag;
}

// The sample quad set down before and after each gate of a ring course in
// turn laps it: each split is taken, the best lap kept, the laps and the
// race entered in the records, and the third lap finishes the race.
TEST(VehicleRace, TheSampleQuadLapsAGeneratedCourse)
{
    Track track;
    Game& game = track.game();
    game.choice.gameMode = Game::TimeTrial;
    game.choice.goal = 3;
    const float pi = 3.14159265f, radius = 60.0f;
    const vec3d centre(190.0f, track.ground(), 190.0f);
    auto ring = [&](float angle) { return centre + vec3d(radius * std::cos(angle), 0.0f, radius * std::sin(angle)); };
    constexpr int gateCount = 6;
    ObjPkgManager::Package* gates = track.scene.objectPackages.findPackage(String(L"Gate"));
    for (int i = 0; i < gateCount; ++i) {
        const float angle = 2.0f * pi * (float(i) + 0.5f) / float(gateCount);
        Object* gate = track.scene.objectPackages.createObject(gates, ring(angle), 3.0f);
        ASSERT_NE(gate, nullptr);
        gate->rotation = -angle * 180.0f / pi;
        gate->setState(uint8_t(i));
        game.gates.append(new Game::Gate(&game, gate));
    }
    Game::Vehicle& v = track.vehicle(0, true, ring(0.0f).x, ring(0.0f).z);
    QuadInstance* quad = v.getQuad();
    ASSERT_NE(quad, nullptr);
    ASSERT_NE(quad->body(), nullptr);
    v.passGate();
    v.raceStart = v.lapStart = TestClock::now;
    auto setDown = [&](float angle) {
        const vec3d side(std::cos(angle), 0.0f, std::sin(angle)); // outwards: right of a quad going round
        quad->placeOnTerrain(ring(angle), &side);
        quad->entity->physics->update();
        TestClock::now += 1500;
        v.update();
    };
    const uint32_t lapMs = 2 * 1500 * gateCount;
    for (int lap = 1; lap <= 3; ++lap) {
        SCOPED_TRACE(lap);
        for (int i = 0; i < gateCount; ++i) {
            const float angle = 2.0f * pi * (float(i) + 0.5f) / float(gateCount);
            setDown(angle - 0.05f);
            setDown(angle + 0.05f);
            EXPECT_EQ(v.gatesPassed, (lap - 1) * gateCount + i + 1) << "gate " << i;
        }
        if (lap < 3) {
            EXPECT_EQ(v.lap, lap + 1);
        }
    }
    EXPECT_EQ(v.finished, 1u);
    EXPECT_EQ(game.raceOver, 1u);
    EXPECT_EQ(v.bestLap, lapMs);
    EXPECT_EQ(game.records.lapCount, 3u);
    EXPECT_EQ(game.records.raceCount, 1u);
    for (int i = 1; i < gateCount; ++i)
        EXPECT_EQ(Game::raceTimeMilliseconds(game.records.splits[i]), int32_t(2 * 1500 * i)) << "split " << i;
    EXPECT_EQ(Game::raceTimeMilliseconds(game.records.races[0]->time), int32_t(3 * lapMs));
}

// Gates of the course in a line northwards on x = 100, 30 apart from z = 120,
// in the order of their states.
static void placeGatesNorth(Track& track, int count)
{
    Game& game = track.game();
    ObjPkgManager::Package* gates = track.scene.objectPackages.findPackage(String(L"Gate"));
    for (int i = 0; i < count; ++i) {
        Object* gate = track.scene.objectPackages.createObject(
            gates, vec3d(100.0f, track.ground(), 120.0f + 30.0f * float(i)), 3.0f);
        ASSERT_NE(gate, nullptr);
        gate->setState(uint8_t(i));
        game.gates.append(new Game::Gate(&game, gate));
    }
}

// The player's head-up display on the vehicle's quad.
static void giveDisplay(Track& track, Game::Vehicle& v, ObjPkgManager::Functions::HUD*& hud)
{
    DynObject* dyn = v.getDynObject();
    ASSERT_NE(dyn, nullptr);
    hud = new ObjPkgManager::Functions::HUD(nullptr, &track.scene, dyn);
    ASSERT_NE(dyn->functions->add(Game::Vehicle::hudFlag, hud), nullptr);
    ASSERT_EQ(v.getHUD(), hud);
}

// The player on the way track's second node, with its display; null when
// the display could not be given.
static Game::Vehicle* playerOnTheWay(WayTrack& road, ObjPkgManager::Functions::HUD*& hud)
{
    Game::Vehicle& v = road.track.vehicle(0, true);
    giveDisplay(road.track, v, hud);
    if (testing::Test::HasFatalFailure())
        return nullptr;
    v.wayNode = road.way.node(1);
    return &v;
}

// The player's head-up display tells of a gate taken out of order, once
// per crossing; back and forth through the gate passed last tells nothing.
TEST(VehicleRace, TheDisplayWarnsOfTheWrongGate)
{
    Track track;
    Game& game = track.game();
    placeGatesNorth(track, 3);
    if (testing::Test::HasFatalFailure())
        return;
    Game::Vehicle& v = track.vehicle(0, true);
    ObjPkgManager::Functions::HUD* hud = nullptr;
    giveDisplay(track, v, hud);
    if (testing::Test::HasFatalFailure())
        return;
    v.passGate();
    const vec3d north(0.0f, 0.0f, 1.0f), south(0.0f, 0.0f, -1.0f);
    auto drive = [&](float z, const vec3d& facing) {
        Track::moveTo(v, 100.0f, z, facing);
        v.position = v.getQuad()->entity->worldBounds.center;
    };
    auto cross = [&](float from, float to) {
        drive(from, to > from ? north : south);
        Track::moveTo(v, 100.0f, to, to > from ? north : south);
        v.checkGates();
    };
    drive(110.0f, north);
    cross(118.5f, 121.5f); // gate 0, the target
    EXPECT_EQ(v.nextGate->item, game.gates.head()->next->item);
    EXPECT_EQ(hud->message, nullptr);
    cross(121.5f, 118.5f); // back through it
    cross(118.5f, 121.5f);
    EXPECT_EQ(hud->message, nullptr) << "the gate passed last";
    cross(178.5f, 181.5f); // gate 2, out of order
    ASSERT_NE(hud->message, nullptr);
    EXPECT_EQ(hud->messageEnd, TestClock::now + 2000);
    hud->hideMessage();
    cross(181.5f, 183.5f);
    EXPECT_EQ(hud->message, nullptr) << "once per crossing";
    cross(181.5f, 178.5f);
    EXPECT_NE(hud->message, nullptr) << "the next crossing";
    EXPECT_EQ(v.gatesPassed, 1);
    // With no gate to aim at, no gate is the wrong one.
    hud->hideMessage();
    v.nextGate = nullptr;
    game.targetGate = nullptr;
    cross(178.5f, 181.5f);
    EXPECT_EQ(hud->message, nullptr);
}

// In a time trial the compass comes with each warning the player is shown
// and goes with its end: back on the way, put back, turned round, or the
// missed gate no longer missed; the wrong way and the missed gate are told
// in a message while they last.
TEST(VehicleRace, TheCompassComesAndGoesWithTheWarnings)
{
    WayTrack road;
    Track& track = road.track;
    Game& game = track.game();
    game.choice.gameMode = Game::TimeTrial;
    Object gateObject;
    road.placeGate(gateObject, 60.0f);
    struct Case
    {
        const char* what;
        bool gate;
        std::vector<CourseStep> steps;
    };
    const Case cases[] = {
        {"off the way, then back on it", false,
         {{0, 100.0f, 130.0f, false, 2, false}, {1001, 100.0f, 130.0f, false, 3, true},
          {5, 100.0f, 100.0f, false, 0, false}}},
        {"off the way, then put back", false,
         {{0, 100.0f, 130.0f, false, 2, false}, {1001, 100.0f, 130.0f, false, 3, true},
          {2801, 100.0f, 130.0f, false, 0, false}}},
        {"the wrong way, then turned round", false,
         {{0, 100.0f, 100.0f, true, 4, false}, {1001, 100.0f, 100.0f, true, 5, true, true},
          {1, 100.0f, 100.0f, false, 0, false}}},
        {"a gate missed, then before it again", true,
         {{0, 110.0f, 100.0f, false, 6, false}, {1001, 110.0f, 100.0f, false, 7, true, true},
          {1, 50.0f, 100.0f, false, 0, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ObjPkgManager::Functions::HUD* hud = nullptr;
        Game::Vehicle* player = playerOnTheWay(road, hud);
        if (!player)
            return;
        Game::Vehicle& v = *player;
        v.nextGate = c.gate ? game.gates.head() : nullptr;
        walkCourse(v, c.steps, hud);
        game.vehicles.deleteAll();
    }
    game.gates.deleteAll();
}

// In the flag and checkpoint races the player drives where it likes: off
// the way for a minute or backwards along it, it is told nothing and stays
// where it drove.
TEST(VehicleRace, InThePointsModesThePlayerIsNeverToldOfTheWay)
{
    WayTrack road;
    Track& track = road.track;
    Game& game = track.game();
    const vec3d east(1.0f, 0.0f, 0.0f), west(-1.0f, 0.0f, 0.0f);
    for (const int32_t mode : {Game::CaptureTheFlag, Game::Jamboree}) {
        SCOPED_TRACE(mode);
        game.choice.gameMode = mode;
        ObjPkgManager::Functions::HUD* hud = nullptr;
        Game::Vehicle* player = playerOnTheWay(road, hud);
        if (!player)
            return;
        Game::Vehicle& v = *player;
        const vec3d placed = v.getQuad()->body()->getTransform()->row(3);
        for (const bool backwards : {false, true}) {
            for (int second = 0; second < 60; ++second) {
                Track::moveTo(v, 100.0f, backwards ? 100.0f : 130.0f, backwards ? west : east);
                v.updateOverturn();
                v.updateCourse();
                TestClock::now += 1000;
            }
            EXPECT_EQ(v.courseState, 0u);
            EXPECT_EQ(hud->message, nullptr);
            EXPECT_EQ(hud->flash, nullptr) << "no beam: not put back";
            EXPECT_EQ(v.getQuad()->body()->getTransform()->row(3), placed) << "not put back";
        }
        game.vehicles.deleteAll();
    }
    game.choice.gameMode = Game::OffRoadRace;
}

// The player's display shows the split at each gate until the finish, and
// no split after it.
TEST(VehicleRace, SplitsShowOnlyBeforeTheFinish)
{
    for (const bool finished : {false, true}) {
        SCOPED_TRACE(finished ? "finished" : "racing");
        Track track;
        Game& game = track.game();
        placeGatesNorth(track, 2);
        if (testing::Test::HasFatalFailure())
            return;
        Game::Vehicle& v = track.vehicle(0, true);
        ObjPkgManager::Functions::HUD* hud = nullptr;
        giveDisplay(track, v, hud);
        if (testing::Test::HasFatalFailure())
            return;
        v.passGate();
        v.finished = finished ? 1 : 0;
        const vec3d north(0.0f, 0.0f, 1.0f);
        Track::moveTo(v, 100.0f, 118.5f, north);
        v.position = v.getQuad()->entity->worldBounds.center;
        Track::moveTo(v, 100.0f, 121.5f, north);
        v.checkGates();
        EXPECT_EQ(v.nextGate->item, game.gates.head()->next->item) << "the first gate passed";
        EXPECT_EQ(hud->lapTime != nullptr, !finished);
    }
}

// A time trial of three laps round a ring course whose way list begins a
// fifth of a lap behind the grid, the lap's line (the Goal) 35 ahead of the
// grid, driven at a steady 25 units a second at seven frames a second and at
// frames of mixed length: through the way list's head and its last node and
// through the line, the projected final time stays within 3% of the time the
// quad finishes in once a tenth of the race is driven, and the projected
// place among the opponents' times stays third.
TEST(VehicleRace, TheTimeTrialsEstimateHoldsThroughTheStartLine)
{
    const float pi = 3.14159265f, radius = 150.0f, speed = 25.0f;
    constexpr int points = 24, gateCount = 5;
    const std::vector<uint32_t> paces[] = {{143}, {29, 143, 200, 57, 333, 100}};
    for (const std::vector<uint32_t>& frames : paces) {
        SCOPED_TRACE(testing::Message() << frames.size() << " frame lengths");
        Track track;
        Game& game = track.game();
        game.choice.gameMode = Game::TimeTrial;
        game.choice.courseType = 2;
        game.choice.goal = 3;
        const vec3d centre(190.0f, track.ground(), 190.0f);
        const auto ring = [&](float angle) {
            return centre + vec3d(radius * std::cos(angle), 0.0f, radius * std::sin(angle));
        };
        std::vector<vec3d> corners;
        for (int i = 0; i <= points; ++i)
            corners.push_back(ring(2.0f * pi * float(i % points) / float(points)));
        WayList way(corners, true);
        cutCrossSections(way, 1);
        game.course = way.list;
        for (Way::PointNode* node = way.list->head(); node && node->next; node = node->next)
            game.courseLength += node->item->segment->length;

        const float grid = 2.0f * pi * 0.2f, line = grid + 35.0f / radius;
        ObjPkgManager::Package* gates = track.scene.objectPackages.findPackage(String(L"Gate"));
        for (int i = 0; i <= gateCount; ++i) {
            const float angle = line + 2.0f * pi * float((i + 1) % (gateCount + 1)) / float(gateCount + 1);
            Object* gate = track.scene.objectPackages.createObject(gates, ring(angle), 3.0f);
            ASSERT_NE(gate, nullptr);
            gate->rotation = -angle * 180.0f / pi;
            gate->setState(uint8_t(i));
            game.gates.append(new Game::Gate(&game, gate));
        }
        const float raceLength = 35.0f + 3.0f * 2.0f * pi * radius;
        const int32_t expected = int32_t(raceLength / speed * 1000.0f);
        const float shares[5] = {0.85f, 0.92f, 1.08f, 1.15f, 1.25f};
        for (int i = 0; i < 5; ++i)
            Game::splitRaceTime(int32_t(float(expected) * shares[i]), game.targetTimes[i]);
        game.targetTimeCount = 5;

        Game::Vehicle& v = track.vehicle(0, true, ring(grid).x, ring(grid).z);
        ObjPkgManager::Functions::HUD* hud = nullptr;
        giveDisplay(track, v, hud);
        if (testing::Test::HasFatalFailure())
            return;
        const auto driveTo = [&](float angle) {
            Track::moveTo(v, ring(angle).x, ring(angle).z, vec3d(-std::sin(angle), 0.0f, std::cos(angle)));
            v.update();
        };
        v.wayNode = way.node(int(0.2f * float(points)));
        v.lastGate = game.gates.tail()->item;
        v.passGate();
        driveTo(grid);
        v.raceStart = v.lapStart = TestClock::now;
        game.startVehicles();

        struct Seen
        {
            float driven;
            int32_t estimate, place;
        };
        std::vector<Seen> seen;
        uint32_t elapsed = 0;
        for (size_t f = 0; !v.finished && elapsed < 2u * uint32_t(expected); ++f) {
            const uint32_t ms = frames[f % frames.size()];
            TestClock::now += ms;
            elapsed += ms;
            const float driven = speed * float(elapsed) / 1000.0f;
            driveTo(grid + driven / radius);
            if (!v.finished)
                seen.push_back({driven, game.estimateFinalTime(), hud->projectedPlace()});
        }
        ASSERT_EQ(v.finished, 1u);
        EXPECT_EQ(v.lapsDone, 3);
        const int32_t final = Game::raceTimeMilliseconds(v.raceTime);
        EXPECT_NEAR(final, expected, 400);
        int checked = 0;
        for (const Seen& s : seen) {
            if (s.driven < raceLength / 10.0f)
                continue;
            ++checked;
            RaceTime estimate;
            estimate.minutes = uint8_t(s.estimate / 60000);
            estimate.seconds = uint8_t(s.estimate / 1000 % 60);
            estimate.hundredths = uint8_t(s.estimate % 1000);
            ASSERT_NEAR(Game::raceTimeMilliseconds(estimate), final, final * 3 / 100) << "at " << s.driven;
            ASSERT_EQ(s.place, 3) << "at " << s.driven;
        }
        EXPECT_GT(checked, 100);
        game.course = nullptr;
    }
}

namespace {

template <class T>
T* instanceOf(const DynObject* dyn, uint32_t flag)
{
    DynObject::FunctionManager::Function* found = dyn && dyn->functions ? dyn->functions->find(flag) : nullptr;
    return found ? dynamic_cast<T*>(found->instance) : nullptr;
}

template <class T>
T* instanceOf(const Object* placed, uint32_t flag)
{
    return instanceOf<T>(placed ? dynamic_cast<DynObject*>(placed->instance) : nullptr, flag);
}

using Fire = ObjPkgManager::Functions::Fire;
using Rocket = ObjPkgManager::Functions::Rocket;
using OilPuddle = ObjPkgManager::Functions::OilPuddle;

bool burning(const Game::Vehicle& v, int32_t i)
{
    auto* fires = instanceOf<Fire::Instance>(v.getDynObject(), Fire::flag);
    return fires && fires->object(i) && fires->object(i)->isBurning();
}

void usePackages(Track& track)
{
    ObjPkgManager& packages = track.scene.objectPackages;
    track.game().packages[Game::RocketPackage] = packages.findPackage(String(L"Rocket"));
    track.game().packages[Game::OilPuddlePackage] = packages.findPackage(String(L"OilPuddle"));
    ASSERT_NE(track.game().packages[Game::RocketPackage], nullptr);
    ASSERT_NE(track.game().packages[Game::OilPuddlePackage], nullptr);
}

// The player's vehicle in second place with the item packages in use, kept
// alive wherever the activation goes, as the race keeps its quads.
Game::Vehicle& secondPlacePlayer(Track& track)
{
    usePackages(track);
    Game::Vehicle& v = track.vehicle(0, true);
    v.object->setState(StaticEntity::alwaysActive);
    v.place = 2;
    return v;
}

}

// The items reach their objects: a rocket is sent from the shooter at the
// rival found for it, whose race state a hit damages; a lone shooter's
// rocket stays unfired; the puddle spills under the dropper; nitro lights
// fire 2 and heavy damage fires 0 and 1 of the quad's package.
TEST(VehicleRace, ItemsReachRocketOilAndFires)
{
    Track track;
    Game::Vehicle& v = secondPlacePlayer(track);
    Game& game = track.game();

    // Alone: the rocket is spent and kept, but flies at nobody.
    v.rockets = 2;
    track.buttons[0] = 1;
    v.update();
    track.buttons[0] = 0;
    v.update();
    ASSERT_EQ(game.rockets.count(), 1u);
    auto* lone = instanceOf<Rocket::Instance>(game.rockets.head()->item, Rocket::flag);
    ASSERT_NE(lone, nullptr);
    EXPECT_EQ(lone->target, nullptr);
    EXPECT_EQ(lone->victim, nullptr);

    // Behind a rival the rocket goes for it, the nearest of two; the
    // shooter moved 3 since its last update.
    Game::Vehicle& farRival = track.vehicle(2, false, 100.0f, 160.0f);
    Game::Vehicle& nearRival = track.vehicle(1, false, 100.0f, 130.0f);
    farRival.place = nearRival.place = 1;
    farRival.object->setState(StaticEntity::alwaysActive);
    nearRival.object->setState(StaticEntity::alwaysActive);
    ASSERT_NE(v.getQuad(), nullptr);
    const vec3d at = v.getQuad()->entity->worldBounds.center;
    v.position = at - vec3d(0.0f, 0.0f, 3.0f);
    track.buttons[0] = 1;
    v.update();
    track.buttons[0] = 0;
    ASSERT_EQ(game.rockets.count(), 2u);
    auto* sent = instanceOf<Rocket::Instance>(game.rockets.tail()->item, Rocket::flag);
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(sent->launcher, v.getQuad()->entity);
    EXPECT_EQ(sent->target, nearRival.getDynObject());
    EXPECT_EQ(sent->victim, static_cast<Rocket::Victim*>(&nearRival));
    EXPECT_FLOAT_EQ(sent->speed, 3.0f + 8.0f) << "the launcher's 3 on the rocket's own 8";
    EXPECT_FLOAT_EQ(sent->scale, 3.0f);
    EXPECT_EQ(sent->state, Rocket::Instance::launching);

    // A hit on the target damages its race state by 0.5; only the player's
    // state asks for force feedback.
    sent->targetHit = 1;
    sent->explode();
    EXPECT_FLOAT_EQ(nearRival.damage, 0.5f);
    EXPECT_FLOAT_EQ(farRival.damage, 0.0f);
    EXPECT_EQ(v.forceFeedback(), 1u);
    EXPECT_EQ(nearRival.forceFeedback(), 0u);

    // Oil: a puddle of one frozen point under the dropper, which feeds it.
    v.oil = 1;
    track.buttons[1] = 1;
    v.update();
    track.buttons[1] = 0;
    ASSERT_EQ(game.oilPuddles.count(), 1u);
    auto* puddle = instanceOf<OilPuddle::Instance>(game.oilPuddles.head()->item, OilPuddle::flag);
    ASSERT_NE(puddle, nullptr);
    EXPECT_EQ(puddle->source, v.getQuad()->entity);
    EXPECT_EQ(puddle->pointCount, 1);
    EXPECT_EQ(puddle->points[0].frozen, 1u);

    // The fires: none burns at the start; nitro lights 2 while it burns;
    // damage above 0.7 lights 0 and 1 until it falls back.
    struct FireStep
    {
        const char* what;
        uint8_t nitroKey;
        float damage;
        bool fires[3];
    };
    const FireStep steps[] = {
        {"nothing", 0, 0.0f, {false, false, false}},   {"nitro", 1, 0.0f, {false, false, true}},
        {"nitro released", 0, 0.0f, {false, false, false}}, {"damage 0.7", 0, 0.7f, {false, false, false}},
        {"damage 0.75", 0, 0.75f, {true, true, false}}, {"both", 1, 0.75f, {true, true, true}},
        {"repaired", 0, 0.2f, {false, false, false}},
    };
    v.nitro = 1.0f;
    for (const FireStep& s : steps) {
        track.buttons[2] = s.nitroKey;
        v.damage = s.damage;
        v.update();
        for (int32_t i = 0; i < 3; ++i)
            EXPECT_EQ(burning(v, i), s.fires[i]) << s.what << ", fire " << i;
    }
    // The other quads' fires stay out.
    for (int32_t i = 0; i < 3; ++i)
        EXPECT_FALSE(burning(nearRival, i));
    game.clearRace();
}

// At every steady rate from 5 to 60 frames a second a tank of nitro burns,
// a repair heals, a rocket flies and an opponent's stall bar stands alike
// in world time, within 5 %; a rocket takes its launcher's speed per 1/35 s.
TEST(VehicleRace, NitroRepairRocketsAndTheStallBarKeepOnePaceFromFiveToSixtyFramesASecond)
{
    Track track;
    Game::Vehicle& v = secondPlacePlayer(track);
    Game::Vehicle& rival = track.vehicle(1, false, 100.0f, 2100.0f);
    rival.object->setState(StaticEntity::alwaysActive);
    DynObject& dyn = *v.getDynObject();
    ObjPkgManager::Functions::AI driver(&track.scene, &dyn);
    const vec3d north(0.0f, 0.0f, 1.0f);
    float rocketAt35 = 0.0f;
    for (const uint32_t ms : {29u, 17u, 143u, 200u}) {
        SCOPED_TRACE(testing::Message() << ms << " ms frames");
        Timer clock; // on the millisecond clock
        clock.lastCounter = TestClock::now;
        const auto frame = [&] { clock.advance(TestClock::now += ms, 0); };
        for (int k = 0; k < 40; ++k)
            frame(); // the factor follows by 8 % a frame
        // Milliseconds of the frames in which amount fell while going holds.
        const auto spent = [&](const float& amount, auto going) {
            uint32_t sum = 0;
            for (int k = 0; k < 2000 && going(); ++k) {
                frame();
                const float before = amount;
                v.update();
                sum += amount < before ? ms : 0;
            }
            return float(sum);
        };
        v.nitro = 1.0f;
        track.buttons[2] = 1;
        EXPECT_NEAR(spent(v.nitro, [&] { return v.nitro > 0.0f; }), 250.0f / 0.035f, 357.0f) << "250 frames";
        track.buttons[2] = 0;
        v.damage = 0.8f;
        v.repair();
        EXPECT_NEAR(spent(v.damage, [&] { return v.repairLeft > 0.0f; }), 125.0f / 0.035f, 178.0f) << "125 frames";

        // Fired by a shooter that moved 35 units a world second; flown from
        // its first world second to its third.
        v.rockets = 1;
        v.position = v.getQuad()->entity->worldBounds.center - north * (0.035f * float(ms));
        track.buttons[0] = 1;
        v.update();
        track.buttons[0] = 0;
        ASSERT_EQ(track.game().rockets.count(), 1u);
        Object* fired = track.game().rockets.head()->item;
        auto* rocket = instanceOf<Rocket::Instance>(fired, Rocket::flag);
        ASSERT_NE(rocket, nullptr);
        EXPECT_NEAR(rocket->speed, 1.0f + 8.0f, 0.02f);
        vec3d oneSecond;
        uint32_t flown = 0;
        for (; flown < 3000; flown += ms) {
            if (flown <= 1000)
                oneSecond = rocket->position();
            frame();
            dynamic_cast<DynObject*>(fired->instance)->prepare();
        }
        const float perSecond = (rocket->position() - oneSecond).length() / (0.001f * float(flown - 1000 / ms * ms));
        rocketAt35 = ms == 29u ? perSecond : rocketAt35;
        EXPECT_NEAR(perSecond, rocketAt35, 0.05f * rocketAt35);
        fired->remove();
        SCList<Object>::removeAndDelete(track.game().rockets.head());

        // The stall bar: 0.25 units per 1/35 s of world time.
        for (const float share : {0.95f, 1.05f}) {
            dyn.previousPosition = dyn.world.row(3) - north * (share * 0.25f * 0.035f * float(ms));
            EXPECT_EQ(driver.isStalled(), share < 1.0f) << share << " of the bar";
        }
    }
}

// The race's frame over the items: a wheel on a puddle stays oiled 3000 ms
// after its last touch and starts the puddle sinking; a sunk puddle and a
// rocket whose flight is over go that frame; a rocket in flight stays; the
// release takes rockets and puddles out before the vehicles.
TEST(VehicleRace, TheFrameOilsWheelsAndClearsSpentItems)
{
    Track track;
    usePackages(track);
    Game& game = track.game();
    Game::Vehicle& v = track.vehicle(0, true);
    Game::Vehicle& dropper = track.vehicle(1, false, 130.0f, 100.0f);
    v.object->setState(StaticEntity::alwaysActive);
    dropper.object->setState(StaticEntity::alwaysActive);

    // The dropper spills and drives on along +z until the puddle is final.
    dropper.dropOil();
    ASSERT_EQ(game.oilPuddles.count(), 1u);
    Object* puddleObject = game.oilPuddles.head()->item;
    auto* puddle = instanceOf<OilPuddle::Instance>(puddleObject, OilPuddle::flag);
    ASSERT_NE(puddle, nullptr);
    auto* puddleDyn = dynamic_cast<DynObject*>(puddleObject->instance);
    EntityManager::Entity& body = *dropper.getQuad()->entity;
    for (int frame = 0; frame < 400 && !puddle->isFinal(); ++frame) {
        TestClock::now += 10;
        vec3d at = body.world.row(3);
        at.z += 0.5f;
        body.world.setRow(3, at);
        puddleDyn->prepare();
    }
    ASSERT_TRUE(puddle->isFinal());
    ASSERT_GE(puddle->pointCount, 3);
    const vec3d onOil = (puddle->points[1].centre + puddle->points[2].centre) * 0.5f + puddleDyn->world.row(3);
    ASSERT_TRUE(puddle->hitTest(onOil, v.getQuad()->entity));

    // The player's rear right wheel touches it, then leaves it.
    auto& wheel = v.getQuad()->wheels[2].contacts[1];
    auto& other = v.getQuad()->wheels[0].contacts[0];
    wheel.synced.contactPoint = onOil;
    other.synced.contactPoint = onOil + vec3d(0.0f, 0.0f, -500.0f);
    const uint32_t touched = TestClock::now;
    game.update();
    EXPECT_EQ(uint32_t(wheel.oiled), 1u);
    EXPECT_EQ(uint32_t(wheel.oiledUntil), touched + 3000);
    EXPECT_EQ(uint32_t(other.oiled), 0u);
    EXPECT_EQ(puddle->state, OilPuddle::Instance::sinking);
    TestClock::now += 1000;
    wheel.synced.contactPoint = other.synced.contactPoint;
    game.update();
    EXPECT_EQ(uint32_t(wheel.oiledUntil), touched + 3000) << "3000 ms after the last touch";
    EXPECT_EQ(game.oilPuddles.count(), 1u);
    puddle->state = OilPuddle::Instance::sunk;
    wheel.synced.contactPoint = onOil;
    game.update();
    EXPECT_EQ(game.oilPuddles.count(), 0u) << "sunk: gone that frame";

    // Two rockets at the dropper: the one whose flight is over goes.
    v.place = 2;
    v.fireRocket();
    v.fireRocket();
    ASSERT_EQ(game.rockets.count(), 2u);
    auto* ended = instanceOf<Rocket::Instance>(game.rockets.head()->item, Rocket::flag);
    auto* flying = instanceOf<Rocket::Instance>(game.rockets.tail()->item, Rocket::flag);
    ASSERT_NE(ended, nullptr);
    ASSERT_NE(flying, nullptr);
    ended->state = Rocket::Instance::finished;
    game.update();
    ASSERT_EQ(game.rockets.count(), 1u);
    EXPECT_EQ(instanceOf<Rocket::Instance>(game.rockets.head()->item, Rocket::flag), flying);

    // Released with a rocket in flight and a fresh puddle: all goes.
    dropper.dropOil();
    game.clearRace();
    EXPECT_EQ(game.rockets.count(), 0u);
    EXPECT_EQ(game.oilPuddles.count(), 0u);
    EXPECT_EQ(game.vehicles.count(), 0u);
}

// A pause of 5 s: the scene's pause and resume shift the race's stamps, so
// lap time, race time and the flag's points come out as without it.
TEST(VehicleRace, APauseCostsNoTimeAndEarnsNoPoints)
{
    struct Run
    {
        int32_t points;
        RaceTime lapTime;
        RaceTime raceTime;
    };
    auto run = [](bool pause) {
        Track track;
        Game& game = track.game();
        game.choice.gameMode = Game::CaptureTheFlag;
        game.choice.goal = 100;
        Game::Vehicle& v = track.vehicle(0, true);
        v.raceStart = v.lapStart = game.startTime = TestClock::now;
        Object* flag = track.scene.objectPackages.createObject(
            track.scene.objectPackages.findPackage(String(L"Crate")), vec3d(50.0f, track.ground(), 50.0f), 1.0f);
        flag->instance = flag->createInstance();
        v.setCarriedItem(flag);
        const uint32_t start = TestClock::now;
        TestClock::now = start + 1500;
        game.update();
        if (pause) {
            track.scene.pause();
            EXPECT_EQ(game.paused, 1u);
            TestClock::now += 5000;
            game.update();
            track.scene.resume();
            EXPECT_EQ(game.paused, 0u);
            EXPECT_EQ(game.startTime, start + 5000);
            gFrameFactor = 1.0f;
        }
        for (uint32_t step : {600u, 1000u, 2000u}) {
            TestClock::now += step;
            game.update();
        }
        Run result{v.points, v.lapTime, v.raceTime};
        v.setCarriedItem(nullptr);
        flag->remove();
        delete flag;
        return result;
    };
    const Run plain = run(false);
    const Run paused = run(true);
    EXPECT_EQ(plain.points, 3);
    EXPECT_EQ(paused.points, plain.points);
    EXPECT_EQ(Game::raceTimeKey(paused.lapTime), Game::raceTimeKey(plain.lapTime));
    EXPECT_EQ(Game::raceTimeKey(paused.raceTime), Game::raceTimeKey(plain.raceTime));
    EXPECT_EQ(Game::raceTimeKey(plain.raceTime), 5010) << "5.10 s";
}

// A pause of 60 s while an off-way warning, a put-back, an oiled wheel, an
// opponent's armed rocket, a display message and the countdown are pending:
// after the resume each runs out the time it had left, not before.
TEST(VehicleRace, APauseMovesEveryPendingDeadlineOnByThePausedTime)
{
    using AI = ObjPkgManager::Functions::AI;
    WayTrack road;
    Track& track = road.track;
    WayList& way = road.way;
    Game& game = track.game();
    const vec3d east(1.0f, 0.0f, 0.0f);
    Game::Vehicle& player = track.vehicle(0, true);
    player.wayNode = way.node(1);
    ObjPkgManager::Functions::HUD* hud = nullptr;
    giveDisplay(track, player, hud);
    Game::Vehicle& rival = track.vehicle(1, false, 140.0f, 100.0f);
    ASSERT_NE(rival.getAIDriver(), nullptr);
    AI& driver = *rival.getAIDriver();

    const uint32_t start = TestClock::now;
    game.startTime = start + 3000;
    Track::moveTo(player, 100.0f, 130.0f, east);
    player.updateCourse();
    ASSERT_EQ(player.courseState, 2u) << "off the way: warned at start + 1000";
    Track::moveTo(rival, 140.0f, 100.0f, east, -2.0f);
    rival.updateOverturn();
    ASSERT_EQ(rival.courseState, 1u) << "overturned: put back at start + 2000";
    auto& wheel = player.getQuad()->wheels[2].contacts[1];
    wheel.setOiled(start + 3000);
    driver.rocketTime = start + 1500;
    driver.oilTime = 0; // not armed
    ASSERT_NE(hud, nullptr);
    hud->messageEnd = start + 2000;
    player.addDamage(0.1f);
    // A rocket leaving its launcher, a puddle spilling and a nitro pick-up
    // taken, each waiting for its time.
    usePackages(track);
    ObjPkgManager::Package* nitroPackage = track.scene.objectPackages.findPackage(String(L"Nitro"));
    game.packages[Game::NitroPackage] = nitroPackage;
    player.object->setState(StaticEntity::alwaysActive);
    rival.object->setState(StaticEntity::alwaysActive);
    ASSERT_NE(player.getQuad(), nullptr);
    player.fireRocket();
    rival.dropOil();
    ASSERT_EQ(game.rockets.count(), 1u);
    ASSERT_EQ(game.oilPuddles.count(), 1u);
    auto* rocket = instanceOf<Rocket::Instance>(game.rockets.head()->item, Rocket::flag);
    auto* puddle = instanceOf<OilPuddle::Instance>(game.oilPuddles.head()->item, OilPuddle::flag);
    Object* nitro =
        track.scene.objectPackages.createObject(nitroPackage, vec3d(60.0f, track.ground(), 60.0f), 1.0f);
    ASSERT_NE(nitro, nullptr);
    if (!nitro->instance)
        nitro->instance = nitro->createInstance();
    using Collect = ObjPkgManager::Functions::Collect;
    auto* pickup = instanceOf<Collect::Instance>(nitro, 0x8);
    ASSERT_NE(rocket, nullptr);
    ASSERT_NE(puddle, nullptr);
    ASSERT_NE(pickup, nullptr);
    ASSERT_NE(pickup->collect(), Collect::Instance::noItem);
    const uint32_t launch = rocket->launchTime, spill = puddle->spillDeadline, back = pickup->deadline;

    TestClock::now = start + 400;
    track.scene.pause();
    TestClock::now += 60000;
    game.update();
    track.scene.resume();
    gFrameFactor = 1.0f;
    EXPECT_EQ(game.startTime, start + 63000);
    EXPECT_EQ(uint32_t(wheel.oiledUntil), start + 63000);
    EXPECT_EQ(driver.rocketTime, start + 61500);
    EXPECT_EQ(driver.oilTime, 0u) << "an item not armed stays so";
    EXPECT_EQ(hud->messageEnd, start + 62000);
    EXPECT_EQ(player.damageTime, start + 61000);
    EXPECT_EQ(rocket->launchTime, launch + 60000);
    EXPECT_EQ(puddle->spillDeadline, spill + 60000);
    EXPECT_EQ(pickup->deadline, back + 60000);

    struct Step
    {
        uint32_t at; // ms after start, the pause left out
        uint32_t playerState, rivalState;
    };
    for (const Step& step : {Step{999, 2, 1}, Step{1001, 3, 1}, Step{2000, 3, 1}, Step{2001, 3, 0}}) {
        TestClock::now = start + 60000 + step.at;
        Track::moveTo(player, 100.0f, 130.0f, east);
        player.updateCourse();
        rival.updateOverturn();
        EXPECT_EQ(player.courseState, step.playerState) << step.at;
        EXPECT_EQ(rival.courseState, step.rivalState) << step.at;
    }
    nitro->remove();
    delete nitro;
}

// The capture flag's cloth blows back from its carrier's motion while the
// flag is carried, and no longer once the flag is put back home.
TEST(VehicleRace, TheCarriedFlagsClothFollowsItsCarrier)
{
    using Cloths = ObjPkgManager::Functions::Cloths;
    Track track;
    Game& game = track.game();
    Game::Vehicle& v = track.vehicle(0, true);
    game.choice.gameMode = Game::CaptureTheFlag;
    game.choice.goal = 100;
    const vec3d home(50.0f, track.ground(), 50.0f);
    Object* flag =
        track.scene.objectPackages.createObject(track.scene.objectPackages.findPackage(String(L"CaptureFlag")), home, 1.0f);
    ASSERT_NE(flag, nullptr);
    if (!flag->instance)
        flag->instance = flag->createInstance();
    auto* dyn = dynamic_cast<DynObject*>(flag->instance);
    ASSERT_NE(dyn, nullptr);
    const DynObject::FunctionManager::Function* entry = dyn->functions->find(Cloths::flag);
    ASSERT_NE(entry, nullptr) << "the sample flag flies a cloth";
    auto* cloth = dynamic_cast<Cloths::Instance*>(entry->instance);
    ASSERT_NE(cloth, nullptr);
    EXPECT_EQ(cloth->windFromMotion.load(), 0u) << "standing at home";
    v.update();
    EXPECT_EQ(cloth->windFromMotion.load(), 0u) << "not carried";
    v.setCarriedItem(flag);
    v.update();
    EXPECT_EQ(cloth->windFromMotion.load(), 1u) << "carried";
    v.setCarriedItem(nullptr);
    game.captureFlag = flag;
    game.captureFlagHome = home;
    game.hideCaptureFlag(0);
    EXPECT_EQ(cloth->windFromMotion.load(), 0u) << "home again";
    game.captureFlag = nullptr;
    flag->remove();
    delete flag;
}
