// The course watch: which gate a moving quad passes, the laps, splits,
// points and finishes that follow by mode, and the race's sounds.
#include "RaceTestSupport.h"

#include "Objects/ObjectPackage.h"

#include "ObjectPackageSamples.h"
#include "ObjectPackageWriter.h"

#include "Core/Matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

namespace {

using namespace RaceTest;
using Window = Game::Gate::Window;

// A course of gates of the builder's Gate package, numbered in list order,
// standing across +z at z = 100, 200, ...; a vehicle whose quad is a bare
// entity of a given sphere.
struct GateCourse
{
    explicit GateCourse(int count, int32_t mode = Game::OffRoadRace, int32_t laps = 3)
    {
        FileArray bytes(4096);
        EXPECT_TRUE(ObjectPackageWriter::write(bytes, ObjectPackageSamples::gate()));
        bytes.seek(0, 0);
        EXPECT_TRUE(package.buildFrom(bytes, nullptr));
        for (int i = 0; i < count; ++i) {
            objects.push_back(std::make_unique<Object>());
            Object& gate = *objects.back();
            gate.setObject(&package);
            gate.position = vec3d(0.0f, 0.0f, 100.0f * float(i + 1));
            gate.heightOffset = 0.0f;
            gate.state = uint8_t(i);
            game.gates.append(new Game::Gate(&game, &gate));
        }
        game.choice.gameMode = mode;
        game.choice.goal = laps;
        game.phase = 3;
        Game::Gate::Window window({}, matrix3d::identity());
        if (count > 0 && gate(0)->getWindow(window))
            height = window.centre.y;
    }
    ~GateCourse()
    {
        game.vehicles.deleteAll();
        game.gates.deleteAll();
    }

    Game::Gate* gate(int index) const
    {
        auto* node = game.gates.head();
        for (int i = 0; i < index && node; ++i)
            node = node->next;
        return node ? node->item : nullptr;
    }
    int markedCount() const
    {
        int marked = 0;
        for (auto* node = game.gates.head(); node; node = node->next)
            marked += int(node->item->marked);
        return marked;
    }
    Game::Vehicle& vehicle(uint32_t slot, bool player)
    {
        Game::Vehicle& v = addVehicleAt(game, entities, slot, vec3d(0.0f, height, 0.0f));
        v.isPlayer = player ? 1 : 0;
        v.entity()->worldBounds.radius = 1.0f;
        moveTo(v, vec3d(0.0f, height, 0.0f));
        return v;
    }
    // The quad's sphere moves to at, from where the last update left it.
    static void moveTo(Game::Vehicle& v, const vec3d& at)
    {
        v.position = v.entity()->worldBounds.center;
        v.entity()->worldBounds.center = at;
    }
    // The quad, set down before gate i, drives through its centre (in the
    // +z direction).
    void driveThrough(Game::Vehicle& v, int i)
    {
        const float z = gate(i)->object->position.z;
        v.entity()->worldBounds.center = vec3d(0.0f, height, z - 2.0f);
        moveTo(v, vec3d(0.0f, height, z + 2.0f));
        v.checkGates();
    }

    ObjPkgManager::Package package{nullptr, String(L"Gate.teo")};
    EntityManager entities;
    Game game{nullptr, nullptr};
    std::vector<std::unique_ptr<Object>> objects;
    float height = 0.0f;
};

}

// Random motions over a course of gates turned every way: checkGates passes
// a gate exactly when the first gate in list order whose window the motion
// went through is the target, and not twice.
TEST(CourseWatch, GatesPassedAgainstTheirWindowsOverRandomMotions)
{
    GateCourse course(6);
    std::mt19937 random(4711);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int i = 0; i < 6; ++i) {
        Object& gate = *course.gate(i)->object;
        gate.position = vec3d(30.0f * unit(random), 0.0f, 30.0f * unit(random));
        gate.rotation = 180.0f * unit(random);
    }
    Game::Vehicle& v = course.vehicle(0, true);
    v.passGate();
    int passes = 0;
    for (int step = 0; step < 20000; ++step) {
        const vec3d from(35.0f * unit(random), course.height + 3.0f * unit(random), 35.0f * unit(random));
        const vec3d to = from + vec3d(12.0f * unit(random), 2.0f * unit(random), 12.0f * unit(random));
        v.entity()->worldBounds.center = from;
        GateCourse::moveTo(v, to);
        Game::Gate* first = nullptr;
        for (auto* node = course.game.gates.head(); node && !first; node = node->next) {
            Window window({}, matrix3d::identity());
            ASSERT_TRUE(node->item->getWindow(window));
            if (window.isPassedBy(from, to, 1.0f))
                first = node->item;
        }
        Game::Gate* target = v.nextGate->item;
        Game::Gate* last = v.lastGate;
        const int32_t before = v.gatesPassed;
        v.checkGates();
        const bool expected = first == target && first != last;
        ASSERT_EQ(v.gatesPassed - before, expected ? 1 : 0) << "step " << step;
        if (expected) {
            ++passes;
            ASSERT_EQ(v.lastGate, target);
        }
    }
    EXPECT_GT(passes, 20);
}

// Passing the gates in order: the next gate moves on, back and forth
// through the gate just passed changes nothing, a gate out of order is not
// passed; three laps end on the third pass of the last gate.
TEST(CourseWatch, LapsSplitsAndTheFinish)
{
    TestClock clock(10000);
    GateCourse course(3);
    Game::Vehicle& v = course.vehicle(0, true);
    Game& game = course.game;
    v.passGate();
    ASSERT_EQ(v.nextGate, game.gates.head());
    EXPECT_EQ(v.gatesPassed, 0) << "the start is no passage";
    EXPECT_EQ(course.gate(0)->marked, 1u);
    v.lapStart = v.raceStart = TestClock::now;

    // Gate 1 before gate 0: nothing.
    course.driveThrough(v, 1);
    EXPECT_EQ(v.nextGate->item, course.gate(0));
    EXPECT_EQ(v.lastGate, nullptr);

    TestClock::now += 4000;
    course.driveThrough(v, 0);
    EXPECT_EQ(v.nextGate->item, course.gate(1));
    EXPECT_EQ(v.gatesPassed, 1);
    EXPECT_EQ(course.gate(0)->marked, 0u);
    EXPECT_EQ(course.gate(1)->marked, 1u);
    // The split of the gate now ahead is taken: the first one is the record.
    EXPECT_EQ(Game::raceTimeMilliseconds(game.records.splits[1]), 4000);

    // Back and forth through gate 0: nothing.
    GateCourse::moveTo(v, vec3d(0.0f, course.height, 98.5f));
    v.checkGates();
    GateCourse::moveTo(v, vec3d(0.0f, course.height, 101.5f));
    v.checkGates();
    EXPECT_EQ(v.nextGate->item, course.gate(1));
    EXPECT_EQ(v.gatesPassed, 1);

    const int32_t laps = game.choice.goal;
    for (int lap = 1; lap <= laps; ++lap) {
        SCOPED_TRACE(lap);
        EXPECT_EQ(v.lap, lap);
        EXPECT_EQ(v.finished, 0u);
        EXPECT_EQ(game.raceOver, 0u);
        if (lap > 1) {
            // A slower pass keeps the record of the split.
            TestClock::now += 5000;
            course.driveThrough(v, 0);
            EXPECT_EQ(Game::raceTimeMilliseconds(game.records.splits[1]), 4000);
        }
        TestClock::now += 3000;
        course.driveThrough(v, 1);
        TestClock::now += 3000;
        course.driveThrough(v, 2);
        EXPECT_EQ(v.nextGate, game.gates.head()) << "the last gate closes the lap";
    }
    EXPECT_EQ(v.lap, laps);
    EXPECT_EQ(v.finished, 1u);
    EXPECT_EQ(game.raceOver, 1u);
    EXPECT_EQ(v.gatesPassed, 3 * laps);
    EXPECT_EQ(v.bestLap, 10000u);
    EXPECT_EQ(game.records.lapCount, 0u) << "only TimeTrial stores records";
}

// Laps, records and split tables by mode and player.
TEST(CourseWatch, RecordsOnlyInTimeTrialAndSplitsOnlyForTheFirst32Gates)
{
    TestClock clock(500);
    struct Case
    {
        int32_t mode;
        bool player;
        uint32_t laps, races;
    };
    const Case cases[] = {
        {Game::TimeTrial, true, 2, 1},
        {Game::TimeTrial, false, 0, 0},
        {Game::Circuit, true, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode << " player " << c.player);
        GateCourse course(2, c.mode, 2);
        course.gate(1)->object->state = Game::Records::splitCount; // the first number beyond the split table
        Game::Vehicle& v = course.vehicle(0, c.player);
        v.passGate();
        for (int pass = 0; pass < 4; ++pass) {
            TestClock::now += 1000;
            v.passGate();
            // Nothing beside the table is written: the race goes on.
            if (pass < 3)
                EXPECT_EQ(course.game.raceOver, 0u) << pass;
        }
        EXPECT_EQ(v.finished, 1u);
        EXPECT_EQ(course.game.records.lapCount, c.laps);
        EXPECT_EQ(course.game.records.raceCount, c.races);
        for (const RaceTime& split : course.game.records.splits)
            EXPECT_TRUE(Game::isZeroTime(split));
    }
}

// KnockOut, frame by frame: a round ends when every quad still in the race
// but one has completed its lap, and that one is knocked out at once, into
// the next free parking slot and the last place of those in the race; the
// player knocked out finishes. Of those that complete the lap in one frame,
// the one that crossed the line later in it is behind, whatever the order in
// which the race updates them (the player first). A lap completed stays
// completed wherever the quad goes after it.
TEST(CourseWatch, KnockOutParksTheLastAndFinishesThePlayer)
{
    // A crossing of the lap's gate (at z = 200) from z = from to 204, after
    // gate 0; from 0: the quad goes back through the lap's gate instead.
    struct Crossing
    {
        uint32_t slot;
        float from;
    };
    struct Frame
    {
        std::vector<Crossing> crossings;
        std::vector<uint32_t> out; // slots knocked out after the frame, in turn
    };
    struct Row
    {
        const char* what;
        uint32_t vehicles;
        std::vector<Frame> frames;
        bool playerWon = false;
        size_t slots = 7; // parking slots of the level
    };
    const std::vector<Row> rows = {
        {"the player left standing goes out once the others have completed the lap", 4,
         {{{{1, 190.0f}}, {}}, {{{2, 190.0f}}, {}}, {{{3, 190.0f}}, {0}}}},
        {"two complete the lap in one frame: the player crossed later and is out", 3,
         {{{{1, 190.0f}}, {}}, {{{0, 190.0f}, {2, 199.0f}}, {0}}}},
        {"two complete the lap in one frame: the opponent crossed later and is out", 3,
         {{{{1, 190.0f}}, {}}, {{{0, 199.0f}, {2, 190.0f}}, {2}}}},
        {"a lap completed counts though the quad went back over the line", 3,
         {{{{1, 190.0f}, {1, 0.0f}}, {}}, {{{2, 190.0f}}, {0}}}},
        {"a quad a lap ahead: the rounds end in turn, the winner's finish ends the last", 4,
         {{{{1, 190.0f}}, {}},
          {{{1, 190.0f}}, {}},
          {{{0, 190.0f}}, {}},
          {{{2, 190.0f}}, {3}},
          {{{0, 190.0f}}, {3, 2}},
          {{{1, 190.0f}}, {3, 2, 0}}}},
        {"two rounds end in one frame", 4,
         {{{{1, 190.0f}}, {}},
          {{{1, 190.0f}, {2, 190.0f}}, {}},
          {{{2, 190.0f}}, {}},
          {{{0, 190.0f}}, {3, 0}}}},
        {"the player wins: the last round takes the other", 3,
         {{{{0, 190.0f}}, {}}, {{{2, 190.0f}}, {1}}, {{{0, 190.0f}}, {1, 2}}},
         true},
        // A level with fewer parking slots than quads knocked out: the quad
        // out without one is out all the same.
        {"no slot free: the player left standing is out, last, behind those racing", 3,
         {{{{1, 190.0f}}, {}}, {{{2, 190.0f}}, {0}}},
         false,
         0},
        {"one slot: the rounds after the first knock out quads that stand where they are", 4,
         {{{{1, 190.0f}}, {}},
          {{{1, 190.0f}}, {}},
          {{{0, 190.0f}}, {}},
          {{{2, 190.0f}}, {3}},
          {{{0, 190.0f}}, {3, 2}},
          {{{1, 190.0f}}, {3, 2, 0}}},
         false,
         1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TestClock clock(100);
        GateCourse course(2, Game::KnockOut, int32_t(row.vehicles) - 1);
        Game& game = course.game;
        Object slots[7];
        for (size_t i = 0; i < row.slots; ++i)
            game.parkingSlots.append(&slots[i]);
        std::vector<Game::Vehicle*> vehicles;
        for (uint32_t slot = 0; slot < row.vehicles; ++slot)
            vehicles.push_back(&course.vehicle(slot, slot == 0));
        for (Game::Vehicle* v : vehicles)
            v->passGate();
        for (size_t f = 0; f < row.frames.size(); ++f) {
            SCOPED_TRACE(testing::Message() << "frame " << f);
            const Frame& frame = row.frames[f];
            for (const Crossing& crossing : frame.crossings) {
                Game::Vehicle& v = *vehicles[crossing.slot];
                if (crossing.from == 0.0f) {
                    GateCourse::moveTo(v, vec3d(0.0f, course.height, 150.0f));
                    v.checkGates();
                    continue;
                }
                course.driveThrough(v, 0);
                v.entity()->worldBounds.center = vec3d(0.0f, course.height, crossing.from);
                GateCourse::moveTo(v, vec3d(0.0f, course.height, 204.0f));
                v.checkGates();
            }
            game.update();
            for (size_t i = 0; i < row.vehicles; ++i) {
                const auto turn = std::find(frame.out.begin(), frame.out.end(), uint32_t(i));
                const size_t k = size_t(turn - frame.out.begin());
                Object* expected = turn == frame.out.end() || k >= row.slots ? nullptr : &slots[k];
                EXPECT_EQ(vehicles[i]->parkingSlot, expected) << "slot " << i;
                EXPECT_EQ(vehicles[i]->knockedOut, turn == frame.out.end() ? 0u : 1u) << "slot " << i;
            }
            EXPECT_EQ(game.knockOuts, int32_t(frame.out.size()));
        }
        const std::vector<uint32_t>& out = row.frames.back().out;
        const bool playerOut = std::find(out.begin(), out.end(), 0u) != out.end();
        EXPECT_EQ(vehicles[0]->finished, playerOut || row.playerWon ? 1u : 0u);
        game.update();
        EXPECT_EQ(game.phase, playerOut || row.playerWon ? 4u : 3u);
        // The knocked out keep the places they went out on: the first out
        // is last.
        for (size_t k = 0; k < out.size(); ++k)
            EXPECT_EQ(vehicles[out[k]]->place, int32_t(row.vehicles - k)) << "slot " << out[k];
        game.parkingSlots.clear(false);
    }
}

// Quads that cross the line in one frame finish in the order they crossed
// it, not in the order the race updates them (the player first), however
// the millisecond clock ticks between their updates; a finish in an earlier
// frame stays ahead, and the standings follow.
TEST(CourseWatch, SameFrameFinishersRankByWhenTheyCrossed)
{
    struct Row
    {
        int32_t mode;
        float playerFrom, opponentFrom; // z before the frame; the line at 100, both end at 104
        uint32_t clockMs;               // ms the clock moved between the player's update and the opponent's
        uint32_t frames;                // frames between them
        uint32_t playerPlace;
    };
    const Row rows[] = {
        {Game::OffRoadRace, 90.0f, 99.0f, 0, 0, 2}, {Game::Circuit, 90.0f, 99.0f, 0, 0, 2},
        {Game::KnockOut, 90.0f, 99.0f, 0, 0, 2},    {Game::OffRoadRace, 99.0f, 90.0f, 0, 0, 1},
        {Game::OffRoadRace, 90.0f, 99.0f, 1, 0, 2}, {Game::Circuit, 90.0f, 99.0f, 30, 0, 2},
        {Game::Circuit, 90.0f, 99.0f, 0, 1, 1},     {Game::Circuit, 90.0f, 99.0f, 30, 1, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << row.mode << " from " << row.playerFrom << " later "
                                        << row.clockMs << " ms, " << row.frames << " frames");
        TestClock clock(5000);
        GateCourse course(1, row.mode, 1);
        Game::Vehicle& player = course.vehicle(0, true);
        Game::Vehicle& opponent = course.vehicle(1, false);
        for (Game::Vehicle* v : {&player, &opponent})
            v->passGate();
        const auto cross = [&](Game::Vehicle& v, float from) {
            v.entity()->worldBounds.center = vec3d(0.0f, course.height, from);
            GateCourse::moveTo(v, vec3d(0.0f, course.height, 104.0f));
            v.checkGates();
        };
        cross(player, row.playerFrom);
        TestClock::now += row.clockMs;
        course.game.frame += row.frames;
        cross(opponent, row.opponentFrom);
        ASSERT_EQ(player.finished, 1u);
        ASSERT_EQ(opponent.finished, 1u);
        EXPECT_EQ(player.finishOrder, row.playerPlace);
        EXPECT_EQ(opponent.finishOrder, 3 - row.playerPlace);
        course.game.rankVehicles();
        EXPECT_EQ(player.place, int32_t(row.playerPlace));
    }
}

// Jamboree, a goal of one: two quads pass the checkpoint in one frame, each
// at its share of the frame's motion. The one that passed it earlier scores
// and wins, whichever the race updates first (the player is first in the
// list, as in the game, or last); the other, judged against the checkpoint
// the frame began with, scores nothing and is not finished.
TEST(CourseWatch, SameFrameCheckpointPassesScoreTheEarlierQuad)
{
    struct Row
    {
        bool playerFirst;
        float fps;
        float playerShare, opponentShare; // where in the frame's motion each crosses
    };
    const Row rows[] = {
        {true, 35.0f, 10.0f / 14.0f, 3.0f / 7.0f}, {true, 5.0f, 10.0f / 14.0f, 3.0f / 7.0f},
        {false, 35.0f, 10.0f / 14.0f, 3.0f / 7.0f}, {false, 5.0f, 10.0f / 14.0f, 3.0f / 7.0f},
        {true, 35.0f, 3.0f / 7.0f, 10.0f / 14.0f},  {true, 5.0f, 3.0f / 7.0f, 10.0f / 14.0f},
        {false, 35.0f, 3.0f / 7.0f, 10.0f / 14.0f}, {false, 5.0f, 3.0f / 7.0f, 10.0f / 14.0f},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << (row.playerFirst ? "the player" : "the opponent") << " first in the list, "
                                        << row.fps << " fps, the player at " << row.playerShare
                                        << " of its motion, the opponent at " << row.opponentShare);
        std::srand(7);
        TestClock clock(5000);
        GateCourse course(4, Game::Jamboree, 1);
        Game& game = course.game;
        Game::Vehicle& first = course.vehicle(0, row.playerFirst);
        Game::Vehicle& second = course.vehicle(1, !row.playerFirst);
        Game::Vehicle& player = row.playerFirst ? first : second;
        Game::Vehicle& opponent = row.playerFirst ? second : first;
        game.pickTargetGate(-1, nullptr);
        Game::Gate* const checkpoint = game.targetGate;
        ASSERT_NE(checkpoint, nullptr);
        // 40 units a second, the frame's motion through the checkpoint.
        const float motion = 40.0f / row.fps;
        const float z = checkpoint->object->position.z;
        const auto cross = [&](Game::Vehicle& v, float share) {
            v.entity()->worldBounds.center = vec3d(0.0f, course.height, z - share * motion);
            GateCourse::moveTo(v, vec3d(0.0f, course.height, z + (1.0f - share) * motion));
            v.checkGates();
        };
        cross(first, row.playerFirst ? row.playerShare : row.opponentShare);
        cross(second, row.playerFirst ? row.opponentShare : row.playerShare);
        game.update();
        Game::Vehicle& earlier = row.playerShare < row.opponentShare ? player : opponent;
        Game::Vehicle& later = &earlier == &player ? opponent : player;
        EXPECT_EQ(earlier.points, 1);
        EXPECT_EQ(earlier.finished, 1u);
        EXPECT_EQ(earlier.finishOrder, 1u);
        EXPECT_EQ(later.points, 0);
        EXPECT_EQ(later.finishOrder, 0u);
        EXPECT_EQ(game.raceOver, 1u);
        EXPECT_NE(game.targetGate, checkpoint) << "the next checkpoint is drawn once";
        EXPECT_EQ(course.markedCount(), 1);
        game.rankVehicles();
        EXPECT_EQ(earlier.place, 1);
    }
}

// CaptureTheFlag scores 15 for every target gate after the first, none in
// phase 4; Jamboree scores one per gate. Both finish at the goal.
TEST(CourseWatch, PointsModes)
{
    std::srand(5);
    GateCourse flag(4, Game::CaptureTheFlag, 100);
    Game::Vehicle& carrier = flag.vehicle(0, true);
    carrier.passGate();
    EXPECT_NE(flag.game.targetGate, nullptr);
    EXPECT_EQ(carrier.points, 0) << "the first target gives nothing";
    Game::Gate* first = flag.game.targetGate;
    carrier.passGate();
    EXPECT_EQ(carrier.points, 15);
    EXPECT_NE(flag.game.targetGate, first);
    EXPECT_EQ(carrier.nextGate, nullptr);
    EXPECT_EQ(carrier.finished, 0u) << "15 of the goal's 100";
    flag.game.phase = 4;
    carrier.passGate();
    EXPECT_EQ(carrier.points, 15);

    // The bonus that reaches the goal wins the race.
    GateCourse nearGoal(4, Game::CaptureTheFlag, 20);
    Game::Vehicle& scorer = nearGoal.vehicle(0, true);
    scorer.passGate();
    scorer.passGate();
    EXPECT_EQ(scorer.finished, 0u);
    scorer.passGate();
    EXPECT_EQ(scorer.points, 30);
    EXPECT_EQ(scorer.finished, 1u);
    EXPECT_EQ(nearGoal.game.raceOver, 1u);

    GateCourse jamboree(3, Game::Jamboree, 2);
    Game::Vehicle& runner = jamboree.vehicle(1, false);
    Game::Vehicle& player = jamboree.vehicle(0, true);
    runner.passGate();
    EXPECT_EQ(runner.points, 1);
    EXPECT_EQ(jamboree.game.raceOver, 0u);
    EXPECT_EQ(jamboree.markedCount(), 1) << "one target gate at a time";
    runner.passGate();
    EXPECT_EQ(runner.finished, 1u);
    EXPECT_EQ(jamboree.game.raceOver, 1u) << "any vehicle decides the race";
    EXPECT_EQ(player.finished, 0u);
}

// A gate scaled to nothing is never passed; a course without gates or
// target makes checkGates do nothing.
TEST(CourseWatch, GatesThatCannotBePassed)
{
    GateCourse course(2);
    course.gate(0)->object->scale = 0.0f;
    Game::Vehicle& v = course.vehicle(0, true);
    v.passGate();
    course.driveThrough(v, 0);
    EXPECT_EQ(v.nextGate->item, course.gate(0));
    EXPECT_EQ(v.lastGate, nullptr);

    GateCourse empty(0);
    Game::Vehicle& alone = empty.vehicle(0, true);
    alone.passGate();
    EXPECT_EQ(alone.nextGate, nullptr);
    GateCourse::moveTo(alone, vec3d(0.0f, 0.0f, 500.0f));
    alone.checkGates();
    EXPECT_EQ(alone.lastGate, nullptr);
}
