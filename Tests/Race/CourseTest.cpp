#include "RaceTestSupport.h"

#include "Objects/ObjectPackage.h"

#include "ObjectPackageSamples.h"
#include "ObjectPackageWriter.h"

#include "Core/Matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <set>
#include <vector>

namespace {

using namespace RaceTest;
using Window = Game::Gate::Window;

// Cross-sections every tenth of each segment of a straight way list, as the
// way loader samples them (roads 10 wide).
void sample(WayList& way)
{
    for (Way::PointNode* node = way.list->head(); node; node = node->next)
        node->item->width = 10.0f;
    for (Way::PointNode* node = way.list->head(); node; node = node->next) {
        Way::Segment* segment = node->item->segment;
        if (!segment)
            continue;
        segment->positions.resize(11);
        for (int i = 0; i <= 10; ++i)
            Way::Segment::crossSectionAt(segment->positions[size_t(i)], *segment, float(i) / 10.0f);
    }
}

float lengthOf(WayList& way, int segment) { return way.node(segment)->item->segment->length; }

TEST(Course, DistancesAlongTheRoad)
{
    Game game(nullptr, nullptr);
    EXPECT_EQ(game.courseDistanceOf(vec3d(10.0f, 0.0f, 0.0f)), 0.0f);
    EXPECT_EQ(game.courseOffsetFrom(vec3d(10.0f, 0.0f, 0.0f), nullptr), 0.0f);

    // Six points along x, 100 apart: five segments, the last point has none.
    WayList way(6, 100.0f, true);
    sample(way);
    game.course = way.list;
    const float l0 = lengthOf(way, 0), l1 = lengthOf(way, 1), l2 = lengthOf(way, 2);
    float total = 0.0f;
    for (int i = 0; i < 5; ++i)
        total += lengthOf(way, i);
    ASSERT_NEAR(l2, 100.0f, 1.0f);

    struct Case
    {
        vec3d point;
        int from; // way node the offset counts from; -1 for none (the first)
        float distance;
        float offset;
    };
    const Case cases[] = {
        {{250.0f, 0.0f, 0.0f}, -1, l0 + l1 + 0.5f * l2, 2.5f},
        {{230.0f, 0.0f, 2.0f}, 0, l0 + l1 + 0.3f * l2, 2.3f},
        // Behind: the backward walker finds it, counting whole segments.
        {{130.0f, 0.0f, 0.0f}, 3, l0 + 0.3f * l1, -2.3f},
        {{230.0f, 0.0f, 0.0f}, 2, l0 + l1 + 0.3f * l2, 0.3f},
        // Forward past the last point, round to the first segment.
        {{50.0f, 0.0f, -3.0f}, 4, 0.5f * l0, 1.5f},
        // Beside the road: on no segment.
        {{250.0f, 0.0f, 40.0f}, 1, total, 0.0f},
        {{-50.0f, 0.0f, 0.0f}, 2, total, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.point.x << ", " << c.point.z << " from " << c.from);
        EXPECT_NEAR(game.courseDistanceOf(c.point), c.distance, 0.01f);
        EXPECT_NEAR(game.courseOffsetFrom(c.point, c.from < 0 ? nullptr : way.node(c.from)), c.offset, 1e-4f);
    }

    // Segments without cross-sections are passed over; a list of none ends.
    way.node(1)->item->segment->positions.clear();
    EXPECT_NEAR(game.courseOffsetFrom(vec3d(250.0f, 0.0f, 0.0f), way.node(0)), 1.5f, 1e-4f);
    EXPECT_NEAR(game.courseDistanceOf(vec3d(250.0f, 0.0f, 0.0f)), l0 + l1 + 0.5f * l2, 0.01f);
    WayList bare(4, 100.0f, false);
    game.course = bare.list;
    EXPECT_EQ(game.courseOffsetFrom(vec3d(150.0f, 0.0f, 0.0f), bare.node(2)), 0.0f);
    EXPECT_EQ(game.courseDistanceOf(vec3d(150.0f, 0.0f, 0.0f)), 0.0f);
}

// A gate's box (centre, half extents) turned, scaled and moved.
struct GateCase
{
    BoundingBox box;
    matrix3d transform;
};

GateCase gateOf(const vec3d& centre, const vec3d& half, const vec3d& angles, const vec3d& scale, const vec3d& at)
{
    GateCase g;
    g.box.center = centre;
    g.box.minimum = centre - half;
    g.box.maximum = centre + half;
    g.transform = matrix3d::fromAngles(angles);
    g.transform.setRow(0, g.transform.row(0) * scale.x);
    g.transform.setRow(1, g.transform.row(1) * scale.y);
    g.transform.setRow(2, g.transform.row(2) * scale.z);
    g.transform.setRow(3, at);
    g.transform.m[15] = 1.0f;
    return g;
}

TEST(Course, GateWindowByHand)
{
    // A gate 8 wide, 3 high and 1 deep at (0, 1.5, 0), facing z.
    const GateCase g = gateOf({0.0f, 1.5f, 0.0f}, {4.0f, 1.5f, 0.5f}, {}, {1.0f, 1.0f, 1.0f}, {});
    const Window w(g.box, g.transform);
    struct Case
    {
        vec3d from, to;
        float radius;
        bool passed;
    };
    const Case cases[] = {
        {{0.0f, 1.5f, -2.0f}, {0.0f, 1.5f, 2.0f}, 1.0f, true},
        {{0.0f, 1.5f, 2.0f}, {0.0f, 1.5f, -2.0f}, 1.0f, true}, // either way through
        {{3.9f, 0.5f, -0.3f}, {3.9f, 0.5f, 0.4f}, 1.0f, true},
        {{4.1f, 1.5f, -0.3f}, {4.1f, 1.5f, 0.4f}, 1.0f, false}, // beside it
        // Twice the half height above and below the centre.
        {{0.0f, 1.5f + 2.9f, -0.5f}, {0.0f, 1.5f + 2.9f, 0.5f}, 1.0f, true},
        {{0.0f, 1.5f + 3.1f, -0.5f}, {0.0f, 1.5f + 3.1f, 0.5f}, 1.0f, false},
        {{0.0f, 1.5f - 2.9f, -0.5f}, {0.0f, 1.5f - 2.9f, 0.5f}, 1.0f, true},
        // Short of the plane, along it, onto it and off it again.
        {{0.0f, 1.5f, -2.0f}, {0.0f, 1.5f, -0.1f}, 1.0f, false},
        {{-2.0f, 1.5f, 0.2f}, {2.0f, 1.5f, 0.2f}, 1.0f, false},
        {{0.0f, 1.5f, -1.0f}, {0.0f, 1.5f, 0.0f}, 1.0f, true},
        {{0.0f, 1.5f, 0.0f}, {0.0f, 1.5f, 1.0f}, 1.0f, true},
        {{0.0f, 1.5f, 0.0f}, {0.0f, 1.5f, 0.0005f}, 1.0f, false},
        {{0.0f, 1.5f, 0.001f}, {0.0f, 1.5f, 1.0f}, 1.0f, true}, // from a thousandth behind
        // Near enough: the motion, wherever a long frame ends it, comes within
        // the sphere's radius and the box's half diagonal (4.301) of the
        // centre; the window's corner above the box lies beyond that.
        {{0.0f, 1.5f, -1.0f}, {0.0f, 1.5f, 5.35f}, 1.0f, true},
        {{0.0f, 1.5f, -40.0f}, {0.0f, 1.5f, 40.0f}, 1.0f, true},
        {{3.9f, 4.4f, -0.5f}, {3.9f, 4.4f, 0.5f}, 0.5f, false},
        {{3.9f, 4.4f, -0.5f}, {3.9f, 4.4f, 0.5f}, 1.0f, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(w.isPassedBy(c.from, c.to, c.radius), c.passed)
            << c.from.x << " " << c.from.y << " " << c.from.z << " -> " << c.to.x << " " << c.to.y << " " << c.to.z;

    // A gate of no size, or one scaled to nothing, is never passed.
    for (const GateCase& flat : {gateOf({}, {4.0f, 0.0f, 0.5f}, {}, {1.0f, 1.0f, 1.0f}, {}),
                                 gateOf({}, {4.0f, 1.5f, 0.0f}, {}, {1.0f, 1.0f, 1.0f}, {}),
                                 gateOf({}, {4.0f, 1.5f, 0.5f}, {}, {1.0f, 0.0f, 1.0f}, {}),
                                 gateOf({}, {0.0f, 0.0f, 0.0f}, {}, {0.0f, 0.0f, 0.0f}, {})})
        EXPECT_FALSE(Window(flat.box, flat.transform).isPassedBy({0.0f, 0.0f, -1.0f}, {0.0f, 0.0f, 1.0f}, 1.0f));
}

TEST(Course, GateWindowAgainstAStepwiseWalk)
{
    // Random gates and motions: the window against a walk along the motion
    // in small steps, the crossing taken back into the gate's own box.
    std::mt19937 random(42);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    int passed = 0, missed = 0;
    for (int round = 0; round < 12000; ++round) {
        const vec3d half(2.0f + 2.0f * std::abs(unit(random)), 1.0f + std::abs(unit(random)), 0.2f + 0.3f * std::abs(unit(random)));
        const vec3d boxCentre(unit(random), unit(random), unit(random));
        const GateCase g = gateOf(boxCentre, half, {180.0f * unit(random), 30.0f * unit(random), 30.0f * unit(random)},
                                  {1.0f + 0.5f * unit(random), 1.0f + 0.5f * unit(random), 1.0f + 0.5f * unit(random)},
                                  {50.0f * unit(random), 5.0f * unit(random), 50.0f * unit(random)});
        const Window w(g.box, g.transform);
        const vec3d c = g.transform.transformPoint(boxCentre);
        const vec3d from = c + vec3d(unit(random), unit(random), unit(random)) * 5.0f;
        const vec3d to = from + vec3d(unit(random), unit(random), unit(random)) * 6.0f;

        matrix3d inverse;
        ASSERT_TRUE(g.transform.inverseAffine(inverse));
        const vec3d a = inverse.transformPoint(from) - boxCentre, b = inverse.transformPoint(to) - boxCentre;
        // Ends too near the gate's plane tell nothing by steps.
        if (std::abs(a.z) * g.transform.row(2).length() < 0.01f || std::abs(b.z) * g.transform.row(2).length() < 0.01f)
            continue;
        bool walked = false;
        bool nearBorder = false;
        int crossing = 0;
        const int steps = 4096;
        for (int i = 0; i < steps; ++i) {
            const vec3d p = a + (b - a) * (float(i) / steps), q = a + (b - a) * (float(i + 1) / steps);
            if ((p.z < 0.0f) == (q.z < 0.0f))
                continue;
            const vec3d x = (p + q) * 0.5f;
            const float across = std::abs(x.x) / half.x, up = std::abs(x.y) / (2.0f * half.y);
            nearBorder = std::abs(across - 1.0f) < 0.01f || std::abs(up - 1.0f) < 0.01f;
            walked = across <= 1.0f && up <= 1.0f;
            crossing = i;
            break;
        }
        if (nearBorder)
            continue;
        // The sphere is large enough that the gate is always near enough.
        float share = -1.0f;
        EXPECT_EQ(w.isPassedBy(from, to, 30.0f, &share), walked) << round;
        if (walked)
            EXPECT_NEAR(share, (float(crossing) + 0.5f) / steps, 2.0f / steps) << round;
        (walked ? passed : missed) += 1;
    }
    EXPECT_GT(passed, 300);
    EXPECT_GT(missed, 300);
}

TEST(Course, AGateObjectsWindowComesFromItsPackagesBox)
{
    ObjPkgManager::Package package(nullptr, String(L"Gate.teo"));
    FileArray bytes(4096);
    ASSERT_TRUE(ObjectPackageWriter::write(bytes, ObjectPackageSamples::gate()));
    bytes.seek(0, 0);
    ASSERT_TRUE(package.buildFrom(bytes, nullptr));
    BoundingBox box = ObjPkgManager::Package::originBox();
    package.calcBoundingBox(box);
    const vec3d half = box.maximum - box.center;
    ASSERT_GT(half.x, 1.0f);

    // Placed at (100, 0, 50), turned a quarter and twice as large.
    Object object;
    object.setObject(&package);
    object.position = vec3d(100.0f, 0.0f, 50.0f);
    object.heightOffset = 0.0f;
    object.rotation = 90.0f;
    object.scale = 2.0f;
    Game::Gate gate(nullptr, &object);
    Window window({}, matrix3d::identity());
    ASSERT_TRUE(gate.getWindow(window));
    matrix3d placed;
    object.getTransform(placed, false);
    EXPECT_NEAR((window.centre - placed.transformPoint(box.center)).length(), 0.0f, 1e-4f);
    EXPECT_NEAR(window.extents[0], 2.0f * half.x, 1e-4f);
    EXPECT_NEAR(window.extents[1], 2.0f * half.y, 1e-4f);
    EXPECT_NEAR(window.extents[2], 2.0f * half.z, 1e-4f);
    // Through the frame along its own depth axis, and beside it.
    const vec3d through = window.axes[2] * (4.0f * half.z), aside = window.axes[0] * (2.0f * half.x + 0.5f);
    EXPECT_TRUE(window.isPassedBy(window.centre - through, window.centre + through, 1.0f));
    EXPECT_FALSE(window.isPassedBy(window.centre + aside - through, window.centre + aside + through, 1.0f));

    // Without a package, or without an object: no window.
    object.setObject(nullptr);
    EXPECT_FALSE(gate.getWindow(window));
    EXPECT_FALSE(Game::Gate(nullptr, nullptr).getWindow(window));
}

// A race with gates standing at the given places (x, z), their objects kept
// by the test.
struct GateRace
{
    explicit GateRace(const std::vector<vec3d>& places)
    {
        for (const vec3d& p : places) {
            objects.push_back(std::make_unique<Object>());
            objects.back()->position = p;
            objects.back()->heightOffset = 0.0f;
            game.gates.append(new Game::Gate(&game, objects.back().get()));
        }
    }
    // The vehicles go first, as the race's release deletes them.
    ~GateRace()
    {
        game.vehicles.deleteAll();
        game.gates.deleteAll();
    }

    Game::Gate* gate(int index) const
    {
        auto* node = game.gates.head();
        for (int i = 0; i < index; ++i)
            node = node->next;
        return node->item;
    }
    int markedCount() const
    {
        int marked = 0;
        for (auto* node = game.gates.head(); node; node = node->next)
            marked += int(node->item->marked);
        return marked;
    }

    EntityManager entities;
    Game game{nullptr, nullptr};
    std::vector<std::unique_ptr<Object>> objects;
};

TEST(Course, TargetGatesAreDrawnAmongTheOthers)
{
    std::srand(11);
    {
        // No gate at all, and a single gate: nothing to draw, no endless draw.
        GateRace none({});
        none.game.pickTargetGate(-1, nullptr);
        EXPECT_EQ(none.game.targetGate, nullptr);
        GateRace one({{0.0f, 0.0f, 50.0f}});
        one.game.pickTargetGate(-1, nullptr);
        EXPECT_EQ(one.game.targetGate, one.gate(0));
        one.game.pickTargetGate(-1, nullptr);
        one.game.pickTargetGate(5, nullptr);
        EXPECT_EQ(one.game.targetGate, one.gate(0));
        EXPECT_EQ(one.gate(0)->marked, 1u);
    }

    // The player at the origin looking along +z; gates 0 and 1 ahead, 2 and
    // 3 behind.
    GateRace race({{0.0f, 0.0f, 50.0f}, {40.0f, 0.0f, 10.0f}, {0.0f, 0.0f, -50.0f}, {-30.0f, 0.0f, -1.0f}});
    Game::Vehicle& player = addVehicleAt(race.game, race.entities, 0, {});
    player.isPlayer = 1;
    std::set<Game::Gate*> first;
    for (int i = 0; i < 40; ++i) {
        race.game.targetGate = nullptr;
        race.game.pickTargetGate(-1, nullptr);
        first.insert(race.game.targetGate);
    }
    EXPECT_EQ(first, (std::set<Game::Gate*>{race.gate(0), race.gate(1)}));
    // Afterwards any gate but the current one; only the target is marked.
    std::set<Game::Gate*> later;
    for (int i = 0; i < 80; ++i) {
        Game::Gate* previous = race.game.targetGate;
        race.game.pickTargetGate(-1, nullptr);
        EXPECT_NE(race.game.targetGate, previous);
        EXPECT_EQ(race.game.targetGate->marked, 1u);
        EXPECT_EQ(race.markedCount(), 1);
        later.insert(race.game.targetGate);
    }
    EXPECT_EQ(later.size(), 4u);

    // Every gate behind the player at the first draw: all of them count.
    player.entity()->world.m[10] = -1.0f;
    race.game.gates.head()->item->object->position = vec3d(0.0f, 0.0f, -60.0f);
    race.gate(1)->object->position = vec3d(5.0f, 0.0f, -10.0f);
    race.game.targetGate = nullptr;
    race.game.pickTargetGate(-1, nullptr);
    ASSERT_NE(race.game.targetGate, nullptr);
    player.entity()->world.m[10] = 1.0f;

    // Among the two farthest from a vehicle at (0, 0, 45): gates 2 and 3.
    Game::Vehicle& flag = addVehicleAt(race.game, race.entities, 1, {0.0f, 0.0f, 45.0f});
    race.gate(0)->object->position = vec3d(0.0f, 0.0f, 50.0f);
    race.gate(1)->object->position = vec3d(40.0f, 0.0f, 10.0f);
    std::set<Game::Gate*> farthest;
    for (int i = 0; i < 40; ++i) {
        race.game.pickTargetGate(2, &flag);
        farthest.insert(race.game.targetGate);
    }
    EXPECT_EQ(farthest, (std::set<Game::Gate*>{race.gate(2), race.gate(3)}));
    // A limit of one with the target the farthest: it stays.
    race.game.targetGate->marked = 0;
    race.game.targetGate = race.gate(2);
    race.gate(2)->marked = 1;
    race.game.pickTargetGate(1, &flag);
    EXPECT_EQ(race.game.targetGate, race.gate(2));
    EXPECT_EQ(race.markedCount(), 1);
    race.game.pickTargetGate(0, &flag);
    EXPECT_EQ(race.game.targetGate, race.gate(2));

    // The candidates replace what the list held.
    std::vector<Game::Gate*> collected = {nullptr, race.gate(0)};
    race.game.collectGates(collected);
    EXPECT_EQ(collected.size(), 4u);
    EXPECT_EQ(std::count(collected.begin(), collected.end(), nullptr), 0);

    // Sorting keeps equal distances in their order.
    std::vector<Game::Gate*> gates = {race.gate(0), race.gate(1), race.gate(2), race.gate(3)};
    race.gate(3)->object->position = vec3d(0.0f, 0.0f, -50.0f);
    Game::sortGatesByDistance(gates, vec3d(0.0f, 0.0f, 45.0f));
    EXPECT_EQ(gates, (std::vector<Game::Gate*>{race.gate(2), race.gate(3), race.gate(1), race.gate(0)}));

    // Before the first target, the gates ahead of the player where it
    // stands: from (0, 0, 30) only gate 0.
    race.game.targetGate = nullptr;
    player.entity()->world.m[14] = 30.0f;
    race.game.collectGates(collected);
    EXPECT_EQ(collected, (std::vector<Game::Gate*>{race.gate(0)}));
}

TEST(Course, FreeParkingSlots)
{
    Game game(nullptr, nullptr);
    EXPECT_EQ(game.findFreeParkingSlot(), nullptr);
    Object slots[3];
    for (Object& slot : slots)
        game.parkingSlots.append(&slot);
    Game::Vehicle& a = addVehicle(game, 0);
    Game::Vehicle& b = addVehicle(game, 1);
    EXPECT_EQ(game.findFreeParkingSlot(), &slots[0]);
    a.parkingSlot = &slots[0];
    b.parkingSlot = &slots[2];
    EXPECT_EQ(game.findFreeParkingSlot(), &slots[1]);
    addVehicle(game, 2).parkingSlot = &slots[1];
    EXPECT_EQ(game.findFreeParkingSlot(), nullptr);
    game.parkingSlots.clear(false);
}

}

namespace {

TEST(Course, TargetsByModeAndCourseState)
{
    // Gate 0 at (0, 0, 50) facing +z (its target direction is -z), gate 1
    // turned a quarter; a flag and a parking slot.
    GateRace race({{0.0f, 0.0f, 50.0f}, {20.0f, 0.0f, 80.0f}});
    race.gate(1)->object->rotation = 90.0f;
    Object flag, slot;
    flag.position = vec3d(5.0f, 1.0f, 5.0f);
    flag.heightOffset = 0.0f;
    slot.position = vec3d(-30.0f, 0.0f, 0.0f);
    slot.heightOffset = 0.0f;
    Game& game = race.game;
    Game::Vehicle& v = addVehicle(game, 1);
    v.wayPoint.centre = vec3d(1.0f, 2.0f, 3.0f);
    v.wayPoint.forward = vec3d(1.0f, 0.0f, 0.0f);

    using Target = Game::Vehicle::Target;
    const Target prepared{vec3d(9.0f, 9.0f, 9.0f), vec3d(0.0f, 9.0f, 0.0f), 7.0f, &race, 9};
    struct Case
    {
        int32_t mode;
        int nextGate; // -1 none
        bool targetGate, captureFlag, carrying, parked;
        uint32_t courseState;
        bool has;
        const void* object; // null: as prepared
        uint32_t kind;
    };
    const void* gate0 = race.gate(0);
    const void* gate1 = race.gate(1);
    const Case cases[] = {
        {Game::OffRoadRace, 0, false, false, false, false, 0, true, gate0, Target::CourseGate},
        {Game::OffRoadRace, -1, true, true, false, false, 0, false, nullptr, 0},
        {Game::TimeTrial, 0, false, false, false, false, 0, true, gate0, Target::CourseGate},
        {Game::Circuit, 0, false, false, false, false, 0, true, gate0, Target::RaceGate},
        {Game::Circuit, -1, false, false, false, true, 0, false, &slot, Target::ParkingSlot},
        {Game::KnockOut, 0, false, false, false, true, 0, true, &slot, Target::ParkingSlot},
        {Game::KnockOut, -1, false, false, false, true, 0, true, &slot, Target::ParkingSlot},
        {Game::KnockOut, -1, false, false, false, false, 0, false, nullptr, 0},
        {Game::CaptureTheFlag, -1, true, true, false, false, 0, true, &flag, Target::Flag},
        {Game::CaptureTheFlag, -1, true, true, true, false, 0, true, gate1, Target::CourseGate},
        {Game::CaptureTheFlag, -1, true, false, false, false, 0, false, nullptr, 0},
        {Game::CaptureTheFlag, -1, false, true, true, false, 0, true, nullptr, 0},
        {Game::Jamboree, -1, true, false, false, false, 0, true, gate1, Target::CourseGate},
        {Game::Jamboree, 0, false, true, false, false, 0, false, nullptr, 0},
        {0, 0, true, true, false, false, 0, false, nullptr, 0},
        // Led back to the way in any mode.
        {0, -1, false, false, false, false, 3, true, &v.wayPoint, Target::CourseGate},
        {Game::Jamboree, -1, false, false, false, false, 5, true, &v.wayPoint, Target::CourseGate},
        {Game::OffRoadRace, 0, false, false, false, false, 4, true, gate0, Target::CourseGate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " gate " << c.nextGate << " state " << c.courseState);
        game.choice.gameMode = c.mode;
        v.nextGate = c.nextGate < 0 ? nullptr : game.gates.head();
        game.targetGate = c.targetGate ? race.gate(1) : nullptr;
        game.captureFlag = c.captureFlag ? &flag : nullptr;
        v.carriedItem = c.carrying ? &flag : nullptr;
        v.parkingSlot = c.parked ? &slot : nullptr;
        v.knockedOut = c.parked ? 1 : 0;
        v.courseState = c.courseState;
        EXPECT_EQ(v.hasTarget(), c.has);
        Target out = prepared;
        EXPECT_EQ(&v.getTargetPosition(out), &out);
        if (!c.object) {
            EXPECT_EQ(out.object, prepared.object);
            EXPECT_EQ(out.position, prepared.position);
            EXPECT_EQ(out.lead, prepared.lead);
            continue;
        }
        EXPECT_EQ(out.object, c.object);
        EXPECT_EQ(out.kind, c.kind);
        if (c.object == gate0) {
            EXPECT_EQ(out.position, vec3d(0.0f, 0.0f, 50.0f));
            EXPECT_NEAR((out.direction - vec3d(0.0f, 0.0f, -1.0f)).length(), 0.0f, 1e-5f);
            EXPECT_EQ(out.lead, 0.0f);
        } else if (c.object == gate1) {
            EXPECT_EQ(out.position, vec3d(20.0f, 0.0f, 80.0f));
            EXPECT_NEAR(std::abs(out.direction.x), 1.0f, 1e-5f); // turned a quarter
            EXPECT_NEAR(out.direction.z, 0.0f, 1e-5f);
        } else if (c.object == &flag) {
            EXPECT_EQ(out.position, vec3d(5.0f, 1.0f, 5.0f));
            EXPECT_EQ(out.direction, vec3d());
            EXPECT_EQ(out.lead, 0.0f);
        } else if (c.object == &slot) {
            EXPECT_EQ(out.position, vec3d(-30.0f, 0.0f, 0.0f));
        } else {
            const vec3d ahead = c.courseState == 5 ? vec3d(200.0f, 0.0f, 0.0f) : vec3d();
            EXPECT_EQ(out.position, vec3d(1.0f, 2.0f, 3.0f) + ahead);
            EXPECT_EQ(out.direction, vec3d(1.0f, 0.0f, 0.0f));
            EXPECT_EQ(out.lead, 100.0f);
        }
    }
    // The direction comes from the gate as placed: one scaled to nothing
    // gives no direction.
    game.choice.gameMode = Game::OffRoadRace;
    v.courseState = 0;
    v.nextGate = game.gates.head();
    race.gate(0)->object->scale = 0.0f;
    Target flat = prepared;
    EXPECT_EQ(v.getTargetPosition(flat).direction, vec3d());
    race.gate(0)->object->scale = 1.0f;

    // Gates without objects give no target either.
    game.choice.gameMode = Game::Jamboree;
    v.courseState = 0;
    Game::Gate bare(&game, nullptr);
    game.targetGate = &bare;
    Target out = prepared;
    EXPECT_EQ(v.getTargetPosition(out).object, prepared.object);
    game.targetGate = nullptr;
}

TEST(Course, LanesKeepTheStartLaneMoreFirmlyWithVehiclesAlongside)
{
    EntityManager entities;
    Game game(nullptr, nullptr);
    // Quads look along +z with their side axis along +x, placed around a
    // point away from the origin.
    const vec3d centre(30.0f, 2.0f, -20.0f);
    auto quadAt = [&](uint32_t slot, const vec3d& at) -> Game::Vehicle& {
        Game::Vehicle& v = addVehicleAt(game, entities, slot, centre + at);
        v.entity()->world.m[0] = 1.0f;
        return v;
    };
    Game::Vehicle& self = quadAt(0, {});
    self.startLane = 0.1f;
    EXPECT_EQ(self.countVehiclesAlongside(), 0);
    EXPECT_NEAR(self.getLanePreference(), 0.3f * 0.1f + 0.7f * 0.5f, 1e-6f);
    // Straight ahead and behind do not count; beside, or 40 degrees off, do.
    quadAt(1, {0.0f, 0.0f, 10.0f});
    quadAt(2, {0.0f, 0.0f, -10.0f});
    addVehicle(game, 3); // without a quad
    quadAt(4, {-8.0f, 0.0f, 0.0f});
    EXPECT_EQ(self.countVehiclesAlongside(), 1);
    EXPECT_NEAR(self.getLanePreference(), 0.7f * 0.1f + 0.3f * 0.5f, 1e-6f);
    quadAt(5, {8.0f, 0.0f, 6.7f}); // 40 degrees from the side axis
    EXPECT_EQ(self.countVehiclesAlongside(), 2);
    EXPECT_NEAR(self.getLanePreference(), 0.7f * 0.1f + 0.3f * 0.5f, 1e-6f);
    quadAt(6, {8.0f, 0.0f, 8.4f}); // 46 degrees
    EXPECT_EQ(self.countVehiclesAlongside(), 2);
    quadAt(7, {5.0f, 0.0f, 1.0f});
    EXPECT_EQ(self.countVehiclesAlongside(), 3);
    EXPECT_NEAR(self.getLanePreference(), 0.1f, 1e-6f);
    // A quad standing at the same place counts as cosine 0.
    quadAt(8, {});
    EXPECT_EQ(self.countVehiclesAlongside(), 3);
    EXPECT_EQ(addVehicle(game, 9).countVehiclesAlongside(), 0);
}

}
