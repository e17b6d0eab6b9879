#include "RaceTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace RaceTest;

// A vehicle of the table: the fields the ordering reads. node is an index
// into a ten-node way list, -1 for none (the vehicle is off the course);
// rounds, the times the way tracking carried it over the list's end.
struct Fields
{
    uint32_t slot;
    int32_t place = 1;
    uint32_t finished = 0;
    int32_t lap = 1;
    int gate = 0;
    float distSq = 0.0f;
    int32_t points = 0;
    bool parked = false;
    int node = 5;
    float fraction = 0.0f;
    int32_t passed = 0; // gates
    uint32_t finishOrder = 0;
    int32_t rounds = 0;
};

constexpr uint32_t gaveUp = Game::Vehicle::gaveUp;

struct Case
{
    const char* what;
    int32_t mode;
    uint32_t phase;
    uint32_t raceOver;
    std::vector<Fields> vehicles; // in list order
    std::vector<uint32_t> order;  // slots, first place first
};

TEST(Ranking, OrdersByModeAndPhase)
{
    const std::vector<Case> cases = {
        {"intro keeps the start order", Game::OffRoadRace, 1, 0,
         {{2, 1, 0, 3}, {0, 2, 0, 1}, {1, 3, 0, 2}}, {0, 1, 2}},
        {"countdown too, whatever the progress", Game::Circuit, 2, 0,
         {{1, 3, 0, 1, 0, 0, 0, false, 9}, {0, 1, 0, 1, 0, 0, 0, false, 2}}, {0, 1}},
        {"a decided countdown keeps the places", Game::CaptureTheFlag, 2, 1,
         {{0, 3, 0, 1, 0, 0, 90}, {1, 1, 0, 1, 0, 0, 10}, {2, 2}}, {1, 2, 0}},
        {"higher lap first", Game::OffRoadRace, 3, 0, {{0, 1, 0, 1}, {1, 2, 0, 3}, {2, 3, 0, 2}}, {1, 2, 0}},
        {"same lap, another gate, as many gates passed: the start order", Game::OffRoadRace, 3, 0,
         {{1, 1, 0, 2, 1, 1.0f}, {0, 2, 0, 2, 2, 900.0f}}, {0, 1}},
        {"same lap, another gate: more gates passed first", Game::OffRoadRace, 3, 0,
         {{0, 1, 0, 2, 1, 1.0f, 0, false, 5, 0.0f, 5}, {1, 2, 0, 2, 2, 900.0f, 0, false, 5, 0.0f, 6},
          {2, 3, 0, 2, 3, 900.0f, 0, false, 5, 0.0f, 7}},
         {2, 1, 0}},
        {"same lap, the same gate: the nearer first", Game::OffRoadRace, 3, 0,
         {{0, 1, 0, 2, 3, 100.0f}, {1, 2, 0, 2, 3, 10.0f}, {2, 3, 0, 2, 3, 50.0f}}, {1, 2, 0}},
        {"equal distances by slot", Game::TimeTrial, 3, 0, {{1, 1, 0, 1, 4, 25.0f}, {0, 2, 0, 1, 4, 25.0f}}, {0, 1}},
        {"finished in their order, the rest by lap, a give-up after all", Game::TimeTrial, 3, 0,
         {{0, 99, 1, 2, 0, 0, 0, false, 5, 0, 0, gaveUp},
          {1, 1, 1, 3, 0, 0, 0, false, 5, 0, 0, 2},
          {2, 3, 0, 3},
          {3, 2, 1, 3, 0, 0, 0, false, 5, 0, 0, 1}},
         {3, 1, 2, 0}},
        {"a finisher ahead of one still racing, whatever its lap and place", Game::OffRoadRace, 3, 0,
         {{0, 2, 1, 2, 0, 0, 0, false, 5, 0, 0, 1}, {1, 1, 0, 4}}, {0, 1}},
        {"KnockOut by track progress", Game::KnockOut, 3, 0,
         {{0, 1, 0, 1, 0, 0, 0, false, 3, 0.5f}, {1, 2, 0, 2, 0, 0, 0, false, 2, 0.1f, 0, 0, 1},
          {2, 3, 0, 1, 0, 0, 0, false, 3, 0.75f}},
         {1, 2, 0}},
        {"KnockOut: more gates passed first, whatever the progress", Game::KnockOut, 3, 0,
         {{0, 1, 0, 1, 0, 0, 0, false, 8, 0.5f, 2}, {1, 2, 0, 1, 0, 0, 0, false, 2, 0.0f, 3},
          {2, 3, 0, 1, 0, 0, 0, false, 9, 0.0f, 2}},
         {1, 2, 0}},
        {"past the way list's end before the lap's gate: ahead of those before it", Game::KnockOut, 3, 0,
         {{0, 1, 0, 1, 0, 0, 0, false, 8, 0.5f, 7}, {1, 2, 0, 1, 0, 0, 0, false, 0, 0.3f, 7, 0, 1},
          {2, 3, 0, 1, 0, 0, 0, false, 1, 0.5f, 7, 0, 1}},
         {2, 1, 0}},
        {"the list's head and last node count as the rest: a quad left standing falls back", Game::Circuit, 3, 0,
         {{0, 2, 0, 1, 0, 0, 0, false, 0, 0.1f}, {1, 3, 0, 1, 0, 0, 0, false, 1, 0.2f},
          {2, 1, 0, 1, 0, 0, 0, false, 9, 0.0f, 0, 0, -1}},
         {1, 0, 2}},
        {"eliminated keep their places", Game::KnockOut, 3, 0,
         {{0, 4, 0, 3, 0, 0, 0, true, 8}, {1, 1, 0, 1, 0, 0, 0, false, 4}, {2, 2, 0, 1, 0, 0, 0, false, 3},
          {3, 3, 0, 1, 0, 0, 0, false, 2}},
         {1, 2, 3, 0}},
        {"no way node: by place", Game::Circuit, 3, 0,
         {{0, 2, 0, 3, 0, 0, 0, false, -1}, {1, 1, 0, 1, 0, 0, 0, false, 4}, {2, 3, 0, 2, 0, 0, 0, false, -1}},
         {1, 0, 2}},
        {"one off the course keeps its place, the others pass round it", Game::Circuit, 3, 0,
         {{1, 1, 0, 1, 0, 0, 0, false, 3}, {0, 2, 0, 1, 0, 0, 0, false, -1}, {2, 3, 0, 1, 0, 0, 0, false, 5}},
         {2, 0, 1}},
        {"one off the course keeps its place while three pass round it", Game::Circuit, 3, 0,
         {{0, 1, 0, 1, 0, 0, 0, false, 5}, {1, 2, 0, 1, 0, 0, 0, false, -1}, {2, 3, 0, 1, 0, 0, 0, false, 1},
          {3, 4, 0, 1, 0, 0, 0, false, 6}},
         {3, 1, 0, 2}},
        {"off the course, its place kept among those that passed as many gates", Game::KnockOut, 3, 0,
         {{0, 1, 0, 1, 0, 0, 0, false, -1, 0.0f, 2}, {1, 2, 0, 1, 0, 0, 0, false, 5, 0.0f, 2},
          {2, 3, 0, 1, 0, 0, 0, false, 1, 0.0f, 3}, {3, 4, 0, 1, 0, 0, 0, false, 7, 0.0f, 2}},
         {2, 0, 3, 1}},
        {"finishers first in their order, the knocked out after those racing", Game::KnockOut, 3, 0,
         {{0, 3, 0, 1, 0, 0, 0, true, 8}, {1, 4, 1, 2, 0, 0, 0, false, 2, 0, 0, 2},
          {2, 1, 0, 2, 0, 0, 0, false, 9}, {3, 2, 1, 1, 0, 0, 0, false, 4, 0, 0, 1}},
         {3, 1, 2, 0}},
        {"equal progress by place", Game::Circuit, 3, 0,
         {{0, 2, 0, 1, 0, 0, 0, false, 4, 0.5f}, {1, 1, 0, 1, 0, 0, 0, false, 4, 0.5f}}, {1, 0}},
        {"points first, then slots; a give-up's -1 last", Game::Jamboree, 3, 0,
         {{0, 1, 1, 1, 0, 0, -1}, {1, 1, 0, 1, 0, 0, 4}, {2, 1, 0, 1, 0, 0, 9}, {3, 1, 0, 1, 0, 0, 4}},
         {2, 1, 3, 0}},
        {"points at the start are all 0", Game::CaptureTheFlag, 1, 0, {{2}, {0}, {1}}, {0, 1, 2}},
        {"no mode: the start order", 0, 3, 0, {{1, 1, 0, 5}, {0, 2, 0, 1}}, {0, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Game game(nullptr, nullptr);
        WayList way(10, 50.0f, false);
        game.course = way.list;
        game.choice.gameMode = c.mode;
        game.phase = c.phase;
        game.raceOver = c.raceOver;
        Game::Gate* gates[5] = {};
        for (int g = 1; g < 5; ++g)
            gates[g] = new Game::Gate(&game, nullptr);
        SCList<Game::Gate> gateList;
        std::vector<SCList<Game::Gate>::Node*> gateNodes = {nullptr};
        for (int g = 1; g < 5; ++g)
            gateNodes.push_back(gateList.append(gates[g]));
        std::vector<Object> parking(c.vehicles.size());
        for (size_t i = 0; i < c.vehicles.size(); ++i) {
            const Fields& f = c.vehicles[i];
            Game::Vehicle& v = addVehicle(game, f.slot);
            v.place = f.place;
            v.finished = f.finished;
            v.lap = f.lap;
            v.nextGate = gateNodes[size_t(f.gate)];
            v.nextGateDistSq = f.distSq;
            v.points = f.points;
            v.parkingSlot = f.parked ? &parking[i] : nullptr;
            v.knockedOut = f.parked ? 1 : 0;
            v.wayNode = f.node < 0 ? nullptr : way.node(f.node);
            v.wayPoint.t = f.fraction;
            v.gatesPassed = f.passed;
            v.finishOrder = f.finishOrder;
            v.wayRounds = f.rounds;
        }
        // Asked of two neighbours in the standings before they are drawn up,
        // with the places the vehicles held, the race answers as the table
        // comes out (a quad off the course has no progress of its own to be
        // asked by: the table keeps its place).
        const bool allOnCourse =
            std::none_of(c.vehicles.begin(), c.vehicles.end(), [](const Fields& f) { return f.node < 0; });
        const auto bySlot = [&](uint32_t slot) -> const Game::Vehicle* {
            for (auto* node = game.vehicles.head(); node; node = node->next)
                if (node->item->slot == slot)
                    return node->item;
            return nullptr;
        };
        for (size_t k = 0; allOnCourse && k + 1 < c.order.size(); ++k) {
            const Game::Vehicle* a = bySlot(c.order[k]);
            const Game::Vehicle* b = bySlot(c.order[k + 1]);
            ASSERT_NE(a, nullptr);
            ASSERT_NE(b, nullptr);
            EXPECT_LT(game.compareVehicles(*a, *b), 0) << "slots " << a->slot << " and " << b->slot;
        }
        game.rankVehicles();
        std::vector<uint32_t> order(c.order.size(), 99);
        for (auto* node = game.vehicles.head(); node; node = node->next)
            if (node->item->place >= 1 && size_t(node->item->place) <= order.size())
                order[size_t(node->item->place - 1)] = node->item->slot;
        EXPECT_EQ(order, c.order);
        gateList.deleteAll();
    }
}

TEST(Ranking, ATripleThatIsNotTransitiveAndManyVehiclesSortWithoutFault)
{
    Game game(nullptr, nullptr);
    game.choice.gameMode = Game::OffRoadRace;
    game.phase = 3;
    SCList<Game::Gate> gates;
    auto* first = gates.append(new Game::Gate(&game, nullptr));
    auto* second = gates.append(new Game::Gate(&game, nullptr));
    // a before b (nearer the same gate), b before c and c before a (other gates: by slot).
    Game::Vehicle& a = addVehicle(game, 2);
    Game::Vehicle& b = addVehicle(game, 0);
    Game::Vehicle& c = addVehicle(game, 1);
    a.nextGate = b.nextGate = first;
    c.nextGate = second;
    a.nextGateDistSq = 1.0f;
    b.nextGateDistSq = 5.0f;
    ASSERT_LT(game.compareVehicles(a, b), 0);
    ASSERT_LT(game.compareVehicles(b, c), 0);
    ASSERT_LT(game.compareVehicles(c, a), 0);
    game.rankVehicles();
    std::vector<int32_t> places = {a.place, b.place, c.place};
    std::sort(places.begin(), places.end());
    EXPECT_EQ(places, (std::vector<int32_t>{1, 2, 3}));

    // Random fields in every mode and phase: the first eight get places 1 to
    // 8, the ninth and tenth follow them in list order.
    std::mt19937 random(42);
    for (int i = 0; i < 7; ++i)
        addVehicle(game, uint32_t(3 + i));
    for (int round = 0; round < 300; ++round) {
        game.choice.gameMode = int32_t(random() % 8);
        game.phase = random() % 5;
        game.raceOver = random() % 2;
        for (auto* node = game.vehicles.head(); node; node = node->next) {
            Game::Vehicle& v = *node->item;
            v.place = int32_t(random() % 10);
            v.finished = random() % 2;
            v.lap = int32_t(random() % 3);
            v.nextGate = random() % 2 ? first : second;
            v.nextGateDistSq = float(random() % 3);
            v.points = int32_t(random() % 3);
        }
        game.rankVehicles();
        std::vector<int32_t> got;
        for (auto* node = game.vehicles.head(); node; node = node->next)
            got.push_back(node->item->place);
        EXPECT_EQ(got[8], 9);
        EXPECT_EQ(got[9], 10);
        std::sort(got.begin(), got.begin() + 8);
        for (int p = 0; p < 8; ++p)
            ASSERT_EQ(got[size_t(p)], p + 1);
    }
    gates.deleteAll();
}

TEST(Ranking, LastInRaceSkipsEliminatedVehicles)
{
    Game game(nullptr, nullptr);
    Object parked;
    Game::Vehicle& first = addVehicle(game, 0);
    Game::Vehicle& second = addVehicle(game, 1);
    Game::Vehicle& out = addVehicle(game, 2);
    first.place = 1;
    second.place = 2;
    out.place = 3;
    out.parkingSlot = &parked;
    out.knockedOut = 1;
    EXPECT_EQ(game.isLastInRace(second), 1u);
    EXPECT_EQ(game.isLastInRace(first), 0u);
    out.parkingSlot = nullptr;
    EXPECT_EQ(game.isLastInRace(second), 1u) << "out without a slot";
    out.knockedOut = 0;
    EXPECT_EQ(game.isLastInRace(second), 0u);
    EXPECT_EQ(game.isLastInRace(out), 1u);
}

TEST(Ranking, RivalAheadAheadInPlaceOrTheNearest)
{
    EntityManager entities;
    Game game(nullptr, nullptr);
    game.choice.gameMode = Game::OffRoadRace;
    // The shooter at the origin looks along +z.
    Game::Vehicle& shooter = addVehicleAt(game, entities, 0, vec3d(0.0f, 0.0f, 0.0f));
    Game::Vehicle& behind = addVehicleAt(game, entities, 1, vec3d(0.0f, 0.0f, -5.0f));
    Game::Vehicle& ahead = addVehicleAt(game, entities, 3, vec3d(0.0f, 0.0f, 60.0f));
    Game::Vehicle& aside = addVehicleAt(game, entities, 2, vec3d(30.0f, 0.0f, 20.0f));
    Game::Vehicle& noEntity = addVehicle(game, 4);
    shooter.place = 3;
    behind.place = 4;
    aside.place = 2;
    ahead.place = 1;
    noEntity.place = 5;

    // Ahead within cos 0.5 (60 degrees): aside lies at 56 degrees, nearer.
    EXPECT_EQ(game.findRival(shooter, true, 0.5f), &aside);
    EXPECT_EQ(game.findRival(shooter, true, 0.9f), &ahead);
    EXPECT_EQ(game.findRival(shooter, true, 1.0f), nullptr);
    // Placed before the shooter: the nearer of aside and ahead.
    EXPECT_EQ(game.findRival(shooter, false, 0.5f), &aside);
    // The leader finds nobody placed before it: the nearest of all.
    EXPECT_EQ(game.findRival(ahead, false, 0.5f), &aside);
    // The points modes always look ahead, and fall back only when the caller allows.
    game.choice.gameMode = Game::Jamboree;
    EXPECT_EQ(game.findRival(behind, false, 0.99f), &shooter);
    EXPECT_EQ(game.findRival(ahead, true, 0.5f), nullptr);
    EXPECT_EQ(game.findRival(ahead, false, 0.5f), &aside);
    EXPECT_EQ(game.findRival(noEntity, false, 0.5f), nullptr);
}

TEST(Ranking, TrackProgressAndDrivenDistanceAlongTheWayList)
{
    Game game(nullptr, nullptr);
    WayList way(5, 100.0f, true);
    game.course = way.list;
    game.courseLength = 400.0f;
    Game::Vehicle& v = addVehicle(game, 1);
    EXPECT_EQ(v.getTrackProgress(), -1.0f);
    EXPECT_EQ(v.getDrivenDistance(), 0.0f);
    // Both count the rounds of the way list, not the laps: a lap's gate need
    // not stand at the list's head. The first and last nodes count as any
    // other.
    struct Row
    {
        int32_t lap, rounds;
        int node;
        float progress, driven;
    };
    const Row rows[] = {
        {2, 1, 2, 5.0f + 2.0f + 0.25f, 400.0f + 200.0f + 25.0f},
        {1, 1, 2, 5.0f + 2.0f + 0.25f, 400.0f + 200.0f + 25.0f}, // past the head, before the lap's gate
        {2, 0, 2, 2.0f + 0.25f, 200.0f + 25.0f}, // past the lap's gate, before the head
        {1, 0, 4, 4.0f + 0.25f, 400.0f + 25.0f},
        {2, 1, 0, 5.0f + 0.25f, 400.0f + 25.0f},
        {1, -1, 3, -5.0f + 3.0f + 0.25f, -400.0f + 300.0f + 25.0f}, // on the grid behind the head
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "lap " << row.lap << " rounds " << row.rounds << " node " << row.node);
        v.lap = row.lap;
        v.wayRounds = row.rounds;
        v.wayNode = way.node(row.node);
        v.wayPoint.t = 0.25f;
        v.wayPoint.distance = 25.0f;
        EXPECT_FLOAT_EQ(v.getTrackProgress(), row.progress);
        EXPECT_NEAR(v.getDrivenDistance(), row.driven, 0.01f);
    }
    // A node of another list is not on the course.
    WayList other(3, 100.0f, true);
    v.wayNode = other.node(1);
    EXPECT_EQ(v.getTrackProgress(), -1.0f);
    EXPECT_EQ(v.getDrivenDistance(), 0.0f);
}

}
