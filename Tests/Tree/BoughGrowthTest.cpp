#include "TreeTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>

namespace
{

using Param = Tree::Bough::Param;

std::vector<float> valuesOf(ArrayHeap<float>& a)
{
    return std::vector<float>(a.data(), a.data() + a.count());
}

// The rand() that follows `skipped` draws after srand(seed).
int drawAfter(unsigned seed, int skipped)
{
    srand(seed);
    for (int i = 0; i < skipped; ++i)
        rand();
    return rand();
}

// A parameter set drawn from the ranges a tree maker would use, a few of them
// past what the defaults grow.
Param randomParam(std::mt19937& random)
{
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const auto between = [&](float lo, float hi) { return lo + (hi - lo) * unit(random); };
    Param p;
    Param::BoneParam& b = p.bone;
    b.direction = vec3d(between(-0.3f, 0.3f), 1.0f, between(-0.3f, 0.3f));
    b.extent = between(1.0f, 40.0f);
    b.childCountExponent = between(0.3f, 2.5f);
    b.minRadius = between(0.02f, 0.4f);
    b.startRadius = between(0.5f, 2.0f);
    b.taperExponent = between(0.3f, 3.0f);
    b.childPull = between(0.0f, 2.0f);
    b.childWeightMin = between(0.0f, 1.0f);
    b.radiusReduction = between(0.0f, 0.6f);
    b.halfTurnYaw = random() % 4 == 0;
    for (Param::BoneParam::Level& l : b.levels) {
        l.resolution = random() % 6 ? 1 + random() % 80 : 100 + random() % 200;
        l.nodeDensity = between(0.0f, 1.6f);
        l.childZoneStart = between(0.0f, 0.8f);
        l.childZoneEnd = between(l.childZoneStart, 1.0f);
        l.wobble = between(0.0f, 3.0f);
        l.childDensity = between(0.0f, 1.0f);
        l.endAtParentStart = between(0.2f, 1.2f);
        l.endAtParentEnd = between(0.2f, 1.2f);
        l.growthBias = vec3d(between(-0.3f, 0.3f), between(-0.2f, 0.6f), between(-0.3f, 0.3f));
        l.axis = random() % 3 ? vec3d(0, 1, 0) : vec3d(between(-1, 1), between(-1, 1), between(-1, 1)).normalised();
        l.angleStep = vec2d(between(-20, 20), between(-180, 180));
        l.angleBase = vec2d(between(-60, 60), between(0, 360));
        l.angleRange = vec2d(between(0, 90), between(0, 360));
        l.pairs = random() % 3 == 0;
    }
    Param::RootParam& r = p.root;
    r.count = random() % 3 ? random() % 9 : 0;
    r.zone = between(0.0f, 0.6f);
    r.thicknessMin = between(0.1f, 0.5f);
    r.thicknessMax = between(r.thicknessMin, 1.0f);
    r.pushBase = between(0.0f, 4.0f);
    r.pushTop = between(0.0f, 1.0f);
    r.pushExponent = between(0.1f, 2.0f);
    r.pushRandom = between(0.0f, 1.0f);
    r.angleStep = random() % 360;
    r.angleRange = random() % 40;
    return p;
}

Tree::Bough grown(const Param& p, unsigned seed)
{
    srand(seed);
    Tree::Bough b;
    b.genBones(p);
    b.genRoots(p);
    return b;
}

// A straight trunk: no wobble, no bias, no pull of the children.
Param straightTrunk()
{
    Param p;
    p.bone.childPull = 0.0f;
    for (Param::BoneParam::Level& l : p.bone.levels) {
        l.wobble = 0.0f;
        l.growthBias = vec3d();
    }
    return p;
}

}

TEST(BoughGrowth, PickedDistancesMatchHandWorkedLists)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case
    {
        const char* what;
        int32_t count;
        float resolution, exponent, extent, low, high;
        int32_t includeExtent, fixedCount;
        std::vector<float> expected; // empty: only the figures below are checked
        int32_t total;
    };
    const Case cases[] = {
        // s = 1, first 0, last 9, span 9: picked 9 from [1, 10), every step.
        {"whole axis", 10, 10, 1, 10, 0, 10, 1, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 10},
        // s = 0.5, first 5, last 15, span 10: picked 10 from [1, 11).
        {"inner zone", 20, 20, 1, 10, 2.4f, 7.6f, 0, 0, {3, 3.5f, 4, 4.5f, 5, 5.5f, 6, 6.5f, 7, 7.5f}, 10},
        // picked near(0.5 x 5) = 2: an exact half goes down.
        {"half down", 5, 10, 1, 10, 0, 5, 0, 0, {}, 2},
        // picked near(0.25 x 8) = 2.
        {"exponent", 8, 10, 2, 10, 0, 5, 0, 0, {}, 2},
        // Fewer picked (2) than fixed (4): the fixed ones and the extent, nothing drawn.
        {"fixed beyond picked", 2, 10, 1, 10, 0, 10, 1, 4, {1, 2, 3, 4, 10}, 5},
        // Picked 3, fixed 3: no range left to draw from.
        {"fixed use the range", 10, 10, 1, 10, 0, 3, 0, 3, {1, 2, 3}, 3},
        {"fixed past the range", 10, 10, 1, 10, 0, 3, 0, 5, {1, 2, 3, 4, 5}, 5},
        // Picked 30, but the fixed ones leave no step to draw from.
        {"fixed fill the range", 100, 10, 1, 10, 0, 3, 0, 3, {1, 2, 3}, 3},
        {"low above high", 10, 10, 1, 10, 8, 2, 1, 0, {10}, 1},
        {"no length", 10, 10, 1, 0, 0, 0, 1, 0, {}, 0},
        {"negative length", 10, 10, 1, -5, 0, 5, 1, 0, {}, 0},
        {"no low", 10, 10, 1, 10, nan, 5, 1, 0, {}, 0},
        {"no exponent", 10, 10, nan, 10, 0, 5, 1, 0, {}, 0},
        {"negative count", -4, 10, 1, 10, 0, 10, 1, 0, {10}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        srand(11);
        ArrayHeap<float> out(40);
        for (int i = 0; i < 40; ++i)
            *out.at(i) = nan; // guards: whatever is returned must have been written
        const int32_t n = Tree::Bough::pickDistances(out, c.count, c.resolution, c.exponent, c.extent, c.low, c.high,
                                                     c.includeExtent, c.fixedCount);
        EXPECT_EQ(n, c.total);
        ASSERT_EQ(out.count(), n);
        const std::vector<float> values = valuesOf(out);
        if (!c.expected.empty()) {
            EXPECT_EQ(values, c.expected);
        }
        const float step = c.extent / c.resolution;
        for (size_t i = 0; i < values.size(); ++i) {
            EXPECT_FALSE(std::isnan(values[i]));
            EXPECT_TRUE(i == 0 || values[i - 1] < values[i]) << "sorted, no step twice";
            const float k = values[i] / step;
            EXPECT_NEAR(k, std::round(k), 1e-4f) << "on the grid";
            if (std::string(c.what) == "half down" || std::string(c.what) == "exponent") {
                EXPECT_TRUE(k >= 1.0f && k <= 5.0f);
            }
        }
    }
}

TEST(BoughGrowth, ABoneWithoutWobbleOrBiasGoesStraightByTheStep)
{
    Tree::Bough b;
    b.end = 10.0f;
    ASSERT_TRUE(b.bones.resize(int32_t(Tree::Bough::maxBones)));
    b.boneCount = 1;
    const Tree::Bone previous{vec3d(1, 2, 3), vec3d(0, 1, 0), 2.0f, 1.0f, 0};
    srand(3);
    ASSERT_TRUE(b.addBone(previous, 5.0f, 2.0f, 0.0f, 0.7f, vec3d()));
    const int next = rand();
    EXPECT_EQ(next, drawAfter(3, 3)) << "three draws per bone";
    const Tree::Bone& added = *b.bones.at(1);
    EXPECT_EQ(added.position, vec3d(1, 5, 3));
    EXPECT_EQ(added.direction, vec3d(0, 1, 0));
    EXPECT_EQ(added.distance, 5.0f);
    EXPECT_EQ(added.radius, 0.7f);
    EXPECT_EQ(b.boneCount, 2u);

    // Bias pulls the heading; wobble turns it, the step keeps its length.
    srand(4);
    ASSERT_TRUE(b.addBone(added, 8.0f, 5.0f, 0.05f, 0.6f, vec3d(1, -1, 0)));
    const Tree::Bone& bent = *b.bones.at(2);
    const vec3d step = bent.position - added.position;
    EXPECT_NEAR(step.length(), 3.0f, 1e-5f);
    EXPECT_NEAR(bent.direction.length(), 1.0f, 1e-5f);
    EXPECT_GT(bent.direction.x, 0.95f);
    EXPECT_GT(std::fabs(bent.direction.y) + std::fabs(bent.direction.z), 1e-3f) << "wobble turned it";

    // The turn grows with the wobble, the step and the distance along the
    // bough: three angles of at most 1200 x 0.05 x 0.8 x 3 / 10 / 2 = 7.2 degrees.
    const vec3d heading = vec3d(1, 1, 1).normalised();
    const Tree::Bone slanted{vec3d(), heading, 5.0f, 1.0f, 0};
    float widest = 0.0f;
    srand(6);
    for (int i = 0; i < 300; ++i) {
        b.boneCount = 1;
        ASSERT_TRUE(b.addBone(slanted, 8.0f, 5.0f, 0.05f, 0.6f, vec3d()));
        const float turn = std::acos(std::clamp(b.bones.at(1)->direction.dot(heading), -1.0f, 1.0f)) * 180.0f / 3.14159265f;
        EXPECT_LE(turn, 3 * 7.2f + 0.01f);
        widest = std::max(widest, turn);
    }
    EXPECT_GT(widest, 7.2f);

    // A full bough takes no more bones, even with room in its array.
    ASSERT_TRUE(b.bones.resize(int32_t(Tree::Bough::maxBones) + 10));
    b.boneCount = Tree::Bough::maxBones;
    srand(5);
    EXPECT_FALSE(b.addBone(added, 9.0f, 8.0f, 0.0f, 0.5f, vec3d()));
    const int unused = rand();
    EXPECT_EQ(unused, drawAfter(5, 0));
    EXPECT_EQ(b.boneCount, Tree::Bough::maxBones);
}

TEST(BoughGrowth, GrownSkeletonsKeepTheirInvariants)
{
    std::mt19937 random(2024);
    uint32_t withChildren = 0, full = 0;
    for (int set = 0; set < 500; ++set) {
        const Param p = randomParam(random);
        Tree::Bough trunk = grown(p, unsigned(set));
        const HierarchyFigures figures = figuresOf(trunk);
        SCOPED_TRACE("set " + std::to_string(set));
        ASSERT_LE(figures.boughs, Tree::Bough::maxBoughs);
        ASSERT_LE(figures.depth, Tree::Bough::maxDepth);
        withChildren += figures.boughs > 1;
        full += figures.mostBones == Tree::Bough::maxBones;
        bool allPairs = true;
        for (const auto& l : p.bone.levels)
            allPairs = allPairs && l.pairs;
        std::string problem;
        const auto check = [&problem](bool holds, const char* what) {
            if (!holds && problem.empty())
                problem = what;
        };
        forEachBough(trunk, [&](Tree::Bough& b, Tree::Bough* parent, uint32_t) {
            check(b.boneCount <= Tree::Bough::maxBones, "at most 150 bones");
            check(uint32_t(b.bones.count()) == b.boneCount && uint32_t(b.children.count()) == b.childCount,
                  "arrays cut to their counts");
            check(b.level <= 3, "levels at most 3");
            check(!allPairs || b.childCount % 2 == 0, "children in pairs");
            for (uint32_t i = 0; i < b.boneCount; ++i) {
                const Tree::Bone& bone = *b.bones.at(int32_t(i));
                check(bone.radius >= p.bone.minRadius * (1.0f - 1e-6f), "radii not below the minimum");
                if (i > 0) {
                    // A bone's distance is the path length: each step is as long as the distances say.
                    const Tree::Bone& before = *b.bones.at(int32_t(i) - 1);
                    const float step = bone.distance - before.distance;
                    check(step >= 0.0f, "distances never drop");
                    check(std::fabs((bone.position - before.position).length() - step) <= 1e-4f * (1.0f + step),
                          "steps as long as their distances");
                }
                check(std::isfinite(bone.position.x) && std::isfinite(bone.position.y), "finite positions");
            }
            check(!b.boneCount || b.bones.at(int32_t(b.boneCount) - 1)->distance <= b.end * (1.0f + 1e-6f),
                  "bones end at the bough's end");
            if (parent) {
                check(b.level >= std::min(parent->level + 1, 3u), "children a level deeper");
                // A child starts at a bone of its parent, at its position and distance.
                bool found = b.boneCount == 0;
                for (uint32_t i = 0; i < parent->boneCount && !found; ++i) {
                    const Tree::Bone& at = *parent->bones.at(int32_t(i));
                    found = at.hasChildren && at.position == b.bones.at(0)->position &&
                            at.distance == b.bones.at(0)->distance;
                }
                check(found, "a child starts at its parent's bone");
            }
        });
        EXPECT_EQ(problem, "");

        if (set % 50 == 0) {
            Tree::Bough again = grown(p, unsigned(set));
            std::string why;
            EXPECT_TRUE(sameHierarchy(trunk, again, why)) << why;
        }
    }
    // The sets must reach what they test.
    EXPECT_GT(withChildren, 300u);
    EXPECT_GT(full, 0u);
}

TEST(BoughGrowth, TheDefaultTreeGrowsTheSameFromTheSameState)
{
    const Param p;
    Tree::Bough a = grown(p, 77);
    const int after = rand();
    Tree::Bough b = grown(p, 77);
    EXPECT_EQ(rand(), after) << "the same number of draws";
    std::string why;
    EXPECT_TRUE(sameHierarchy(a, b, why)) << why;
    const HierarchyFigures f = figuresOf(a);
    EXPECT_EQ(f.byLevel[0], 1u);
    EXPECT_GT(f.boughs, 20u);
    EXPECT_EQ(a.bones.at(0)->position, vec3d());
    EXPECT_EQ(a.bones.at(0)->radius, 1.3f);
    EXPECT_EQ(a.end, 20.0f);
    EXPECT_EQ(a.bones.at(int32_t(a.boneCount) - 1)->distance, 20.0f) << "a bough ends at its end";
    EXPECT_EQ(a.rootCount, 0u);

    Tree::Bough c = grown(p, 78);
    EXPECT_FALSE(sameHierarchy(a, c, why));
}

TEST(BoughGrowth, HalfTurnYawKeepsChildrenInOnePlane)
{
    for (uint32_t halfTurn : {0u, 1u}) {
        Param p = straightTrunk();
        p.bone.halfTurnYaw = halfTurn;
        float mostOffPlane = 0.0f;
        for (unsigned seed = 1; seed <= 20; ++seed) {
            Tree::Bough trunk = grown(p, seed);
            for (uint32_t i = 0; i < trunk.boneCount; ++i)
                ASSERT_EQ(trunk.bones.at(int32_t(i))->direction, vec3d(0, 1, 0)) << "a straight trunk";
            for (uint32_t c = 0; c < trunk.childCount; ++c) {
                Tree::Bough& child = *trunk.children.at(int32_t(c));
                ASSERT_GT(child.boneCount, 0u);
                mostOffPlane = std::max(mostOffPlane, std::fabs(child.bones.at(0)->direction.z));
            }
        }
        if (halfTurn) {
            EXPECT_LT(mostOffPlane, 1e-6f) << "yaw 0 or 180 degrees";
        } else {
            EXPECT_GT(mostOffPlane, 0.3f);
        }
    }

    // Pairs mirror each other across the plane of the axis and the reference.
    Param p = straightTrunk();
    for (auto& l : p.bone.levels)
        l.pairs = 1;
    Tree::Bough trunk = grown(p, 9);
    ASSERT_GE(trunk.childCount, 2u);
    for (uint32_t c = 0; c + 1 < trunk.childCount; c += 2) {
        const vec3d a = trunk.children.at(int32_t(c))->bones.at(0)->direction;
        const vec3d b = trunk.children.at(int32_t(c) + 1)->bones.at(0)->direction;
        EXPECT_NEAR(a.x, -b.x, 1e-6f);
        EXPECT_NEAR(a.y, b.y, 1e-6f);
        EXPECT_NEAR(a.z, b.z, 1e-6f);
    }
}

TEST(BoughGrowth, ChildAnglesCountFromEachBoughsStart)
{
    // No random share: child k of a bough turns (k + 1) steps of yaw and pitch.
    Param p = straightTrunk();
    for (Param::BoneParam::Level& l : p.bone.levels) {
        l.angleRange = vec2d(0, 0);
        l.angleStep = vec2d(10, 90);
    }
    Tree::Bough trunk = grown(p, 41);
    uint32_t checked = 0;
    forEachBough(trunk, [&](Tree::Bough& b, Tree::Bough*, uint32_t) {
        for (uint32_t k = 0; k < b.childCount; ++k) {
            Tree::Bough& child = *b.children.at(int32_t(k));
            ASSERT_GT(child.boneCount, 0u);
            const Tree::Bone& start = *child.bones.at(0);
            const Tree::Bone* from = nullptr;
            for (uint32_t i = 0; i < b.boneCount && !from; ++i)
                if (b.bones.at(int32_t(i))->position == start.position)
                    from = b.bones.at(int32_t(i));
            ASSERT_NE(from, nullptr);
            // The frame of the parent bone about the axis (0, 1, 0).
            const vec3d axis(0, 1, 0), d = from->direction;
            const bool alongAxis = std::acos(std::clamp(d.dot(axis), -1.0f, 1.0f)) * 180.0f / 3.14159265f < 4.0f;
            const vec3d w = alongAxis ? vec3d(d.x, d.z, d.y) : d;
            const vec3d s = axis.cross(w).normalised(), t = s.cross(axis).normalised();
            const float yaw = 90.0f * float(k + 1) * 3.14159265f / 180.0f;
            const float pitch = 10.0f * float(k + 1) * 3.14159265f / 180.0f;
            const vec3d expected = axis * -std::sin(pitch) + (t * std::sin(yaw) + s * std::cos(yaw)) * std::cos(pitch);
            EXPECT_NEAR((start.direction - expected).length(), 0.0f, 1e-4f) << "child " << k;
            ++checked;
        }
    });
    EXPECT_GT(checked, 20u);
}

TEST(BoughGrowth, RadiiTaperAndFollowTheChildrensWeight)
{
    // Weight 1 whatever the draw: q = 0.3 / 2, a child takes 0.85 of its bone's
    // radius and the bone keeps q^(0.1 x reduction) of it.
    Param p = straightTrunk();
    p.bone.childWeightMin = 1.0f;
    p.bone.radiusReduction = 0.05f;
    p.bone.minRadius = 0.01f;
    // Boughs of level 2 have no children.
    p.bone.levels[2].childDensity = 0.0f;
    p.bone.levels[3].childDensity = 0.0f;
    Tree::Bough trunk = grown(p, 51);
    uint32_t checked = 0, tapered = 0;
    forEachBough(trunk, [&](Tree::Bough& b, Tree::Bough*, uint32_t) {
        // Without children a bough tapers from its first radius to the
        // minimum at its end: g = ((end - x) / (end - start))^2.
        if (b.childCount == 0 && b.boneCount > 2 && b.bones.at(0)->radius > 0.1f) {
            const float start = b.bones.at(0)->distance, first = b.bones.at(0)->radius;
            for (uint32_t i = 1; i < b.boneCount; ++i) {
                const float g = std::pow((b.end - b.bones.at(int32_t(i))->distance) / (b.end - start), 2.0f);
                EXPECT_NEAR(b.bones.at(int32_t(i))->radius, g * first + (1.0f - g) * 0.01f, 1e-5f);
            }
            ++tapered;
        }
        for (uint32_t i = 0; i < b.boneCount; ++i) {
            const Tree::Bone& bone = *b.bones.at(int32_t(i));
            Tree::Bough* only = nullptr;
            uint32_t sprouting = 0;
            for (uint32_t k = 0; k < b.childCount; ++k)
                if (b.children.at(int32_t(k))->bones.at(0)->position == bone.position) {
                    only = b.children.at(int32_t(k));
                    ++sprouting;
                }
            EXPECT_EQ(bone.hasChildren, sprouting > 0 ? 1u : 0u);
            if (sprouting != 1 || only->bones.at(0)->radius <= 0.01f)
                continue;
            const float before = only->bones.at(0)->radius / 0.85f;
            EXPECT_NEAR(bone.radius, before * std::pow(0.15f, 0.005f), 1e-5f * before);
            ++checked;
        }
    });
    EXPECT_GT(checked, 5u);
    EXPECT_GE(tapered, 3u);
}

TEST(BoughGrowth, RootsFollowTheTrunkBonesOfTheirZone)
{
    Param p = straightTrunk();
    p.root.count = 6;
    p.root.pushRandom = 0.0f;
    Tree::Bough trunk = grown(p, 21);
    uint32_t inZone = 0;
    while (inZone < trunk.boneCount && trunk.bones.at(int32_t(inZone))->distance < 0.2f * 20.0f)
        ++inZone;
    ASSERT_GT(inZone, 1u);
    EXPECT_EQ(trunk.rootCount, 6u);
    EXPECT_EQ(trunk.rootBoneCount, inZone);
    ASSERT_EQ(trunk.roots.count(), 6);
    // The zone's fixed steps: every trunk step up to the zone is a node.
    EXPECT_EQ(trunk.bones.at(1)->distance, 20.0f / 30.0f);

    float previousAngle = 0.0f;
    for (uint32_t r = 0; r < 6; ++r) {
        Tree::Bough::Root& root = *trunk.roots.at(int32_t(r));
        ASSERT_EQ(uint32_t(root.count()), inZone);
        const Tree::Bone& base = *root.at(0);
        // Bone 0 is pushed out by the base push-out, level with the trunk's base.
        EXPECT_NEAR((base.position - trunk.bones.at(0)->position).length(), 2.1f, 1e-5f);
        EXPECT_NEAR(base.direction.y, 0.0f, 1e-6f);
        EXPECT_EQ(base.distance, 0.0f);
        EXPECT_GE(base.radius, 0.3f);
        EXPECT_LE(base.radius, 0.6f);
        // Each root turns 135 degrees on, give or take the random range.
        const float angle = std::atan2(base.direction.z, -base.direction.x) * 180.0f / 3.14159265f;
        float turn = std::fmod(angle - previousAngle + 720.0f, 360.0f);
        if (r == 0)
            turn = std::fmod(angle + 720.0f, 360.0f);
        EXPECT_GE(turn, 131.0f - 0.01f);
        EXPECT_LE(turn, 140.0f + 0.01f);
        previousAngle = angle;
        // The top of the zone pushes out by the top value, pointing down the trunk.
        const Tree::Bone& top = *root.at(int32_t(inZone) - 1);
        EXPECT_NEAR((top.position - trunk.bones.at(int32_t(inZone) - 1)->position).length(), 0.2f, 1e-5f);
        EXPECT_NEAR(top.direction.y, -1.0f, 1e-6f);
        for (uint32_t j = 0; j < inZone; ++j)
            EXPECT_EQ(root.at(int32_t(j))->radius, base.radius);
    }

    // A zone of one bone takes no blend instead of dividing by zero.
    p.root.zone = 0.01f;
    Tree::Bough one = grown(p, 22);
    ASSERT_EQ(one.rootBoneCount, 1u);
    for (uint32_t r = 0; r < one.rootCount; ++r) {
        const Tree::Bone& bone = *one.roots.at(int32_t(r))->at(0);
        EXPECT_TRUE(std::isfinite(bone.position.x) && std::isfinite(bone.direction.x));
        EXPECT_NEAR((bone.position - one.bones.at(0)->position).length(), 2.1f, 1e-5f);
    }

    // No zone: roots without bones. No roots, no range: nothing drawn or divided.
    p.root.zone = 0.0f;
    Tree::Bough none = grown(p, 23);
    EXPECT_EQ(none.rootCount, 6u);
    EXPECT_EQ(none.rootBoneCount, 0u);
    p.root.count = 0;
    srand(24);
    none.genRoots(p);
    const int untouched = rand();
    EXPECT_EQ(untouched, drawAfter(24, 0));
    EXPECT_EQ(none.rootCount, 0u);
    EXPECT_EQ(none.roots.count(), 0);
    p.root.count = 3;
    p.root.zone = 0.2f;
    p.root.angleRange = 0;
    Tree::Bough steady = grown(p, 25);
    EXPECT_EQ(steady.rootCount, 3u);
}

TEST(BoughGrowth, DamagedParametersGrowBoundedSkeletons)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case
    {
        const char* what;
        std::function<void(Param&)> damage;
        bool grows;
    };
    const Case cases[] = {
        {"extent NaN", [&](Param& p) { p.bone.extent = nan; }, false},
        {"extent infinite", [&](Param& p) { p.bone.extent = inf; }, false},
        {"extent zero", [](Param& p) { p.bone.extent = 0.0f; }, false},
        {"extent negative", [](Param& p) { p.bone.extent = -5.0f; }, false},
        {"direction NaN", [&](Param& p) { p.bone.direction.y = nan; }, false},
        {"level wobble infinite", [&](Param& p) { p.bone.levels[2].wobble = -inf; }, false},
        {"root push NaN", [&](Param& p) { p.root.pushTop = nan; }, false},
        {"no end", [](Param& p) { p.bone.levels[0].endAtParentStart = 0.0f; }, false},
        {"resolution 0", [](Param& p) { p.bone.levels[0].resolution = 0; }, true},
        {"resolutions huge", [](Param& p) { for (auto& l : p.bone.levels) l.resolution = 0xFFFFFFFFu; }, true},
        {"densities huge", [](Param& p) { for (auto& l : p.bone.levels) l.nodeDensity = l.childDensity = 1e30f; }, true},
        {"child exponent negative", [](Param& p) { p.bone.childCountExponent = -1e30f; }, true},
        {"extent huge", [](Param& p) { p.bone.extent = 3e38f; }, true},
        {"roots many", [](Param& p) { p.root.count = 0xFFFFFFFFu; p.root.zone = 1e30f; }, true},
        {"zones reversed", [](Param& p) { for (auto& l : p.bone.levels) l.childZoneStart = 2.0f, l.childZoneEnd = -1.0f; }, true},
        {"pairs everywhere, dense", [](Param& p) { for (auto& l : p.bone.levels) l.pairs = 1, l.childDensity = 5.0f, l.resolution = 200; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Param p;
        p.root.count = 4;
        c.damage(p);
        Tree::Bough trunk = grown(p, 31);
        // Growing again replaces everything the bough held.
        Tree::Bough reused = grown(Param(), 32);
        srand(31);
        reused.genBones(p);
        reused.genRoots(p);
        std::string why;
        EXPECT_TRUE(sameHierarchy(trunk, reused, why)) << why;
        const HierarchyFigures f = figuresOf(trunk);
        EXPECT_EQ(f.bones > 0, c.grows);
        EXPECT_LE(f.boughs, Tree::Bough::maxBoughs);
        EXPECT_LE(f.depth, Tree::Bough::maxDepth);
        EXPECT_LE(f.mostBones, Tree::Bough::maxBones);
        EXPECT_LE(trunk.rootCount, Tree::Bough::maxRoots);
        if (!c.grows) {
            EXPECT_EQ(trunk.rootBoneCount, 0u);
        }
    }
}
