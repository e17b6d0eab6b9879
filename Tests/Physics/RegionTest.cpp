#include "PhysicsTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

namespace
{

using Pair = std::pair<const neRigidBodyBase*, const neRigidBodyBase*>;

Pair ordered(const neRigidBodyBase* a, const neRigidBodyBase* b) { return a < b ? Pair{a, b} : Pair{b, a}; }

std::set<Pair> usedPairs(neSimulator& sim)
{
    std::set<Pair> pairs;
    for (const neOverlapPair* p = sim.region.overlapPairs().head; p; p = p->next)
        EXPECT_TRUE(pairs.insert(ordered(p->bodyA, p->bodyB)).second) << "pair listed twice";
    return pairs;
}

bool overlapStrictly(const neRigidBodyBase& a, const neRigidBodyBase& b)
{
    for (int k = 0; k < 3; ++k)
        if (!(a.maxBound[k] > b.minBound[k] && a.minBound[k] < b.maxBound[k]))
            return false;
    return true;
}

// Bodies sorted into the region, and the axis lists in order with two ends each.
std::vector<neRigidBodyBase*> checkAxes(neSimulator& sim)
{
    std::vector<neRigidBodyBase*> sorted;
    for (const neRegionNode* n = sim.region.bodies().head; n; n = n->next)
        if (n->body->ends[0])
            sorted.push_back(n->body);
    for (int k = 0; k < 3; ++k) {
        const neList<neRegionEnd>& list = sim.region.axisList(k);
        EXPECT_EQ(list.count, int32_t(2 * sorted.size()));
        EXPECT_EQ(sim.region.axisPool(k).usedCount(), list.count);
        std::map<const neRigidBodyBase*, int> ends;
        int walked = 0;
        for (const neRegionEnd* e = list.head; e; e = e->next, ++walked) {
            ++ends[e->body];
            if (e->next) {
                EXPECT_GE(e->value, e->next->value);
            }
            EXPECT_EQ(e->body->ends[k + (e->side == neRegionEnd::upper ? 0 : 3)], e);
        }
        EXPECT_EQ(walked, list.count);
        for (neRigidBodyBase* b : sorted)
            EXPECT_EQ(ends[b], 2);
    }
    return sorted;
}

neRigidBody* makeParticle(neSimulator& sim)
{
    neRigidBody* p = sim.rigidParticles.take();
    p->reset();
    p->particle = 1;
    p->simulator = &sim;
    p->id = uint32_t(sim.sizes.rigidBodiesCount + sim.sizes.animatedBodiesCount + sim.rigidParticles.indexOf(p));
    sim.activeParticles.pushBack(p);
    return p;
}

struct Scene
{
    TestSimulator t;
    std::mt19937 random{1234};
    std::vector<neRigidBodyBase*> bodies;
    std::map<const neRigidBodyBase*, int> generation; // bumped whenever a body leaves the region
    std::map<const neRigidBodyBase*, vec3d> position;

    explicit Scene(int32_t pairPool) : t(sizes(pairPool))
    {
        t->groupResponse[1][2] = t->groupResponse[2][1] = 0;
        t->terrainResponse[3] = 0;
        for (int i = 0; i < 40; ++i)
            bodies.push_back(t->createRigidBody());
        for (int i = 0; i < 10; ++i)
            bodies.push_back(t->createAnimatedBody());
        for (int i = 0; i < 6; ++i)
            bodies.push_back(makeParticle(*t.sim));
        std::uniform_int_distribution<int> group(-1, 3);
        for (neRigidBodyBase* b : bodies) {
            b->collisionGroup = group(random);
            neGeometry* g = b->addGeometry();
            std::uniform_real_distribution<float> size(0.5f, 4.0f);
            g->setBoxSize(size(random), size(random), size(random));
            b->updateBounds();
            place(b, randomPoint(4.0f));
        }
    }

    static neSimulatorSizes sizes(int32_t pairPool)
    {
        neSimulatorSizes s;
        s.rigidBodiesCount = 40;
        s.animatedBodiesCount = 10;
        s.rigidParticlesCount = 6;
        s.overlappedPairsCount = pairPool;
        s.geometriesCount = 200;
        return s;
    }

    vec3d randomPoint(float range)
    {
        std::uniform_real_distribution<float> u(-range, range);
        return {u(random), u(random), u(random)};
    }

    void place(neRigidBodyBase* b, vec3d p)
    {
        for (int k = 0; k < 3; ++k)
            p[k] = std::clamp(p[k], -4.0f, 4.0f);
        position[b] = p;
        if (b->isRigid()) {
            b->asRigid()->setPose(translation(p));
        } else {
            static_cast<neAnimatedBody*>(b)->transform = translation(p);
            static_cast<neAnimatedBody*>(b)->moved = 1;
        }
    }

    void leave(neRigidBodyBase* b) { ++generation[b]; }

    // Random moves, removals and re-entries between two steps.
    void shake()
    {
        std::uniform_int_distribution<int> pick(0, int(bodies.size()) - 1);
        std::uniform_int_distribution<int> what(0, 9);
        for (int m = 0; m < 25; ++m) {
            neRigidBodyBase* b = bodies[size_t(pick(random))];
            switch (what(random)) {
            case 0: // out and back in before the update
                if (b->regionNode)
                    leave(b);
                b->removeGeometry(b->geometryHead);
                b->addGeometry()->setBoxSize(2.5f, 1.0f, 3.0f);
                b->updateBounds();
                break;
            case 1:
                if (b->regionNode)
                    leave(b);
                b->switchActive();
                if (!b->active && what(random) < 7)
                    b->switchActive();
                break;
            case 2:
                place(b, randomPoint(4.0f)); // a jump
                break;
            case 3: // back in with a neighbour as the hint for its ends
                if (b->regionNode) {
                    leave(b);
                    t->region.removeBody(b);
                    t->region.addBody(b, bodies[size_t(pick(random))]);
                }
                break;
            default:
                place(b, position[b] + randomPoint(0.6f));
                break;
            }
        }
    }
};

// The used pair list against all pairs of strictly overlapping boxes, step by
// step: every listed pair overlaps; a pair that the groups refuse is listed
// only when it came in as its body entered the region (such pairs are left to
// the contact stage), never through a crossing; a pair that overlaps and is
// let through is listed unless the pool refused it, and a refused pair only
// comes in after it has separated.
void runAgainstBruteForce(int32_t pairPool, int steps)
{
    Scene s(pairPool);
    std::set<Pair> previousUsed, previousEligible;
    std::set<const neRigidBodyBase*> previousSorted;
    std::map<const neRigidBodyBase*, int> previousGeneration;
    int refusals = 0, refusedListed = 0;
    for (int step = 0; step < steps; ++step) {
        s.shake();
        const size_t messagesBefore = TestSimulator::messages.size();
        s.t.step();
        const bool poolFull = TestSimulator::messages.size() > messagesBefore
                              || s.t->region.overlapPairPool().usedCount() == pairPool;

        const std::vector<neRigidBodyBase*> sorted = checkAxes(*s.t.sim);
        const std::set<Pair> used = usedPairs(*s.t.sim);
        std::set<Pair> overlapping, eligible;
        for (size_t i = 0; i < sorted.size(); ++i)
            for (size_t j = i + 1; j < sorted.size(); ++j) {
                const neRigidBodyBase *a = sorted[i], *b = sorted[j];
                if (!overlapStrictly(*a, *b) || (a->isParticle() && b->isParticle()))
                    continue;
                overlapping.insert(ordered(a, b));
                if (s.t->pairResponse(*a, *b))
                    eligible.insert(ordered(a, b));
            }
        for (const Pair& p : used) {
            ASSERT_TRUE(overlapping.count(p)) << "step " << step << ": a listed pair does not overlap";
            if (eligible.count(p))
                continue;
            const auto enteredNow = [&](const neRigidBodyBase* b) {
                return !previousSorted.count(b) || previousGeneration[b] != s.generation[b];
            };
            const bool entered = enteredNow(p.first) || enteredNow(p.second);
            ASSERT_TRUE(entered || previousUsed.count(p)) << "step " << step << ": a refused pair came in by crossing";
            ++refusedListed;
        }
        for (const Pair& p : eligible) {
            if (used.count(p))
                continue;
            const bool unbroken = previousGeneration[p.first] == s.generation[p.first]
                                  && previousGeneration[p.second] == s.generation[p.second];
            const bool refusedBefore = unbroken && previousEligible.count(p) && !previousUsed.count(p);
            ASSERT_TRUE(poolFull || refusedBefore) << "step " << step << ": an overlapping pair is missing";
            ++refusals;
        }
        if (pairPool >= 2000) {
            for (const Pair& p : eligible)
                ASSERT_TRUE(used.count(p)) << "step " << step;
        }
        previousUsed = used;
        previousEligible = eligible;
        previousSorted = std::set<const neRigidBodyBase*>(sorted.begin(), sorted.end());
        previousGeneration = s.generation;
    }
    if (pairPool < 2000) {
        EXPECT_GT(refusals, 100); // the small pool was really exercised
    } else {
        EXPECT_GT(s.t->region.overlapPairs().count, 30);
        EXPECT_GT(refusedListed, 100); // pairs the groups refuse came in with their bodies
    }
    EXPECT_EQ(s.t->region.pendingCount(), 0);
}

TEST(Region, MatchesBruteForceWithAnAmplePool) { runAgainstBruteForce(2000, 1500); }

TEST(Region, MatchesBruteForceWithASmallPool) { runAgainstBruteForce(24, 1500); }

TEST(Region, TouchingBoxesAreNoPair)
{
    TestSimulator t;
    t->groupResponse[0][0] = 2; // paired and reported, never pushed apart
    neRigidBody* a = t.box({0, 0, 0});
    neRigidBody* b = t.box({1, 0, 0});
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 0); // sorted in touching
    b->setPose(translation({0.5f, 0, 0}));
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 1);
    b->setPose(translation({1, 0, 0}));
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 0); // moved until touching
    a->setPose(translation({0.001f, 0, 0}));
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 1);
}

TEST(Region, GroupsAndParticlesDecideWhoPairs)
{
    TestSimulator t;
    t->terrainResponse[2] = 0;
    neRigidBody* a = t.box({0, 0, 0});
    neRigidBody* b = t.box({0.5f, 0, 0});
    neRigidBody* c = t.box({0, 0.5f, 0});
    a->collisionGroup = -1;
    b->collisionGroup = -1;
    c->collisionGroup = 2;
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 3); // entered together: the contact stage decides
    c->setPose(translation({0, 5, 0}));
    b->setPose(translation({5, 0, 0}));
    t.step();
    b->setPose(translation({0.5f, 0, 0}));
    c->setPose(translation({0, 0.5f, 0}));
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 0); // crossed in: refused
    c->collisionGroup = 0;
    c->setPose(translation({0, 5, 0}));
    t.step();
    c->setPose(translation({0, 0.5f, 0}));
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 2); // a-c and b-c, through the terrain response of 0

    // A group the tables do not have meets nothing.
    c->collisionGroup = 64;
    b->collisionGroup = 0;
    c->setPose(translation({0, 5, 0}));
    t.step();
    c->setPose(translation({0, 0.5f, 0}));
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 0); // (a-b was refused while both had no group)
    EXPECT_EQ(t->pairResponse(*c, *b), 0u);
    EXPECT_EQ(t->terrainResponseOf(*c), 0u);
}

TEST(Region, FullPoolLogsOnceAndPairsLateComersAfterTheyMeetAgain)
{
    neSimulatorSizes sizes = TestSimulator::gameSizes();
    sizes.overlappedPairsCount = 1;
    TestSimulator t(sizes);
    neRigidBody* a = t.box({0, 0, 0});
    neRigidBody* b = t.box({0.5f, 0, 0});
    neRigidBody* c = t.box({10, 0, 0});
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 1);
    c->setPose(translation({0, 0.5f, 0})); // meets a and b while the pool is full
    t.step();
    EXPECT_EQ(TestSimulator::messages.size(), 2u);
    EXPECT_EQ(TestSimulator::messages[0], "Overlap Pair buffer full. Increase buffer size.\n");
    b->setPose(translation({10, 0, 0})); // a-b and b-c part; a-c stays refused
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 0);
    c->setPose(translation({0, 0.7f, 0}));
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 0);
    c->setPose(translation({0, 5, 0}));
    t.step();
    c->setPose(translation({0, 0.5f, 0}));
    t.step();
    ASSERT_EQ(t->region.overlapPairs().count, 1);
    EXPECT_EQ(ordered(t->region.overlapPairs().head->bodyA, t->region.overlapPairs().head->bodyB), ordered(a, c));
}

TEST(Region, RemovingABodyFreesItsPairsAndPendingBodiesNeverGetEnds)
{
    TestSimulator t;
    std::vector<neRigidBody*> stack;
    for (int i = 0; i < 5; ++i)
        stack.push_back(t.box({0, 0.3f * float(i), 0}));
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 9);
    t->freeBody(stack[2]);
    EXPECT_EQ(t->region.overlapPairs().count, 5);
    for (const neOverlapPair* p = t->region.overlapPairs().head; p; p = p->next)
        EXPECT_TRUE(p->bodyA != stack[2] && p->bodyB != stack[2]);

    // Added and removed before an update: no ends; added, removed and added
    // again: one set of ends.
    neRigidBody* quick = t.box({0, 0, 0});
    quick->removeGeometry(quick->geometryHead);
    EXPECT_EQ(t->region.pendingCount(), 0);
    t.step();
    EXPECT_EQ(quick->ends[0], nullptr);
    EXPECT_EQ(t->region.axisList(0).count, 8);
    quick->addGeometry();
    quick->updateBounds();
    quick->switchActive();
    quick->switchActive();
    t.step();
    EXPECT_EQ(t->region.axisList(0).count, 10);
    checkAxes(*t.sim);
}

TEST(Region, ParticlesNeverPairWithEachOther)
{
    neSimulatorSizes sizes = TestSimulator::gameSizes();
    sizes.rigidParticlesCount = 4;
    TestSimulator t(sizes);
    t->groupResponse[0][0] = 2; // paired and reported, never pushed apart
    neRigidBody* p = makeParticle(*t.sim);
    neRigidBody* q = makeParticle(*t.sim);
    for (neRigidBody* b : {p, q}) {
        b->addGeometry();
        b->updateBounds();
    }
    neRigidBody* r = t.box({0.5f, 0, 0});
    t.step();
    EXPECT_EQ(t->region.overlapPairs().count, 2);
    q->setPose(translation({-0.4f, 0, 0}));
    p->setPose(translation({3, 0, 0}));
    t.step();
    p->setPose(translation({-0.3f, 0, 0}));
    t.step();
    const std::set<Pair> used = usedPairs(*t.sim);
    EXPECT_EQ(used, (std::set<Pair>{ordered(p, r), ordered(q, r)}));
}

} // namespace
