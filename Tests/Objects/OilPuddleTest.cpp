// The oil puddle: spilling along the dropper's path, growth and draping,
// the final shape, the wheel test against a brute-force test of the ribbon,
// the sinking, and damaged blocks (no device; the race clock and rand set).
#include "EffectsTestSupport.h"

#include "Objects/OilPuddle.h"

#include "Entity/Entity.h"

#include <algorithm>
#include <cmath>
#include <random>

using namespace EffectsTests;
using OilPuddle = ObjPkgManager::Functions::OilPuddle;
using Puddle = OilPuddle::Instance;

namespace {

// A puddle object at the middle of the ground and a dropper standing there,
// driving along +z.
struct Drop
{
    explicit Drop(World& world, const vec3d& at) : dropper(*world.chain.entities), other(*world.chain.entities)
    {
        object = world.place(L"OilPuddle", at);
        puddle = World::instanceOf<Puddle>(object, OilPuddle::flag);
        dropper.world = matrix3d::identity();
        dropper.world.setRow(3, at);
        other.world = dropper.world;
    }
    // The race's drop: the source, then a frozen point.
    void start()
    {
        puddle->source = &dropper;
        puddle->spill(true);
    }
    // frames of dropper moving by step along z, the clock 10 ms a frame.
    void drive(int frames, float step)
    {
        for (int i = 0; i < frames; ++i) {
            Clock::now += 10;
            vec3d at = dropper.world.row(3);
            at.z += step;
            dropper.world.setRow(3, at);
            object->prepare();
        }
    }

    DynObject* object = nullptr;
    Puddle* puddle = nullptr;
    EntityManager::Entity dropper;
    EntityManager::Entity other;
};

// Independent of the index list: where the ribbon's surface lies over the
// world point (x, z), as heights interpolated over its quads; false beside it.
bool ribbonHeight(const Puddle& p, const vec3d& origin, float x, float z, float& y)
{
    const auto inTriangle = [&](const vec3d& a, const vec3d& b, const vec3d& c) {
        const float d = (b.z - c.z) * (a.x - c.x) + (c.x - b.x) * (a.z - c.z);
        if (std::fabs(d) < 1e-6f)
            return false;
        const float px = x - origin.x, pz = z - origin.z;
        const float u = ((b.z - c.z) * (px - c.x) + (c.x - b.x) * (pz - c.z)) / d;
        const float v = ((c.z - a.z) * (px - c.x) + (a.x - c.x) * (pz - c.z)) / d;
        const float w = 1.0f - u - v;
        if (u < 0.0f || v < 0.0f || w < 0.0f)
            return false;
        y = u * a.y + v * b.y + w * c.y + origin.y;
        return true;
    };
    for (int32_t i = 0; i + 1 < p.pointCount; ++i) {
        const Puddle::Point& s = p.points[i];
        const Puddle::Point& t = p.points[i + 1];
        // The strips from the centre outwards on each side.
        const vec3d leftS[4] = {s.centre, s.left[0], s.left[1], s.left[2]};
        const vec3d leftT[4] = {t.centre, t.left[0], t.left[1], t.left[2]};
        const vec3d rightS[4] = {s.centre, s.right[0], s.right[1], s.right[2]};
        const vec3d rightT[4] = {t.centre, t.right[0], t.right[1], t.right[2]};
        for (int k = 0; k < 3; ++k) {
            // Each quad split along the diagonal the mesh uses.
            if (inTriangle(leftS[k], leftS[k + 1], leftT[k]) || inTriangle(leftT[k], leftS[k + 1], leftT[k + 1]) ||
                inTriangle(rightS[k + 1], rightS[k], rightT[k + 1]) || inTriangle(rightT[k + 1], rightS[k], rightT[k]))
                return true;
        }
    }
    return false;
}

}

TEST(OilPuddle, TemplateIndicesAndBlock)
{
    OilPuddle puddle(nullptr);
    // Seven vertices per point: the first segment's hand-written triangles,
    // then every segment the same, seven further on.
    const uint16_t first[36] = {0, 1, 7, 7, 1, 8, 1, 2, 8, 8, 2, 9, 2, 3, 9, 9, 3, 10,
                                6, 5, 13, 13, 5, 12, 5, 4, 12, 12, 4, 11, 4, 0, 11, 11, 0, 7};
    for (int s = 0; s < OilPuddle::segments; ++s)
        for (int i = 0; i < 36; ++i)
            ASSERT_EQ(puddle.indices[s * 36 + i], first[i] + 7 * s) << s << " " << i;
    EXPECT_EQ(puddle.material.Power, 10.0f);
    EXPECT_EQ(puddle.material.Ambient.r, 0.6f);

    struct Case
    {
        const char* what;
        ObjectsTests::Bytes bytes;
        bool whole;
    };
    const Case cases[] = {
        {"tag 0", {0, 0, 0, 0}, true},
        {"tags without fields, then 0", {5, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}, true},
        {"the data ends between tags", {7, 0, 0, 0}, true},
        {"cut inside a tag", {7, 0, 0, 0, 1, 0}, false},
    };
    for (const Case& c : cases) {
        auto stream = ObjectsTests::streamOf(c.bytes);
        EXPECT_EQ(puddle.load(*stream), c.whole) << c.what;
    }
}

TEST(OilPuddle, SpillsAlongTheDroppersPathUntilItIsFinal)
{
    Clock clock;
    Ground ground(Ground::flat());
    ASSERT_TRUE(ground.loaded);
    World world;
    const vec3d middle = ground.middle();
    const float groundY = middle.y;

    struct Case
    {
        const char* what;
        float step;
        int32_t points;
    };
    // 50 frames of 10 ms: the driving dropper moves 1 or 4 a frame.
    const Case cases[] = {
        {"standing: the two frozen ends", 0.0f, 2},
        {"a point past every sqrt(80) of the path", 1.0f, 2 + 5},
        {"fast: 15 growing points at most", 4.0f, 17},
    };
    for (const Case& c : cases) {
        Drop drop(world, middle);
        ASSERT_NE(drop.puddle, nullptr);
        EXPECT_TRUE(drop.puddle->replacesEntityUpdate());
        drop.start();
        drop.drive(51, c.step);
        EXPECT_EQ(drop.puddle->spillEnded, 1u) << c.what;
        EXPECT_EQ(drop.puddle->pointCount, c.points) << c.what;
        const Puddle::Point& last = drop.puddle->points[drop.puddle->pointCount - 1];
        EXPECT_EQ(last.frozen, 1u) << c.what;
        EXPECT_EQ(drop.puddle->points[0].frozen, 1u) << c.what;
        for (int32_t i = 1; i + 1 < drop.puddle->pointCount; ++i)
            EXPECT_EQ(drop.puddle->points[i].frozen, 0u) << c.what << i;
        // Frozen ends lie 0.5 under the ground, growing points 0.7 over it.
        const float ownerY = drop.object->world.m[13];
        EXPECT_NEAR(last.centre.y + ownerY, groundY - 0.5f, 1e-3f) << c.what;
        if (drop.puddle->pointCount > 2)
            EXPECT_NEAR(drop.puddle->points[1].centre.y + ownerY, groundY + 0.7f, 1e-3f) << c.what;
        // Spilling at most 16 segments.
        EXPECT_FALSE(c.points == 17 && drop.puddle->spill(false)) << c.what;
        // Grown out, the puddle's box is the bounds of its points' corners,
        // its vertices, and of nothing beyond its last point.
        Puddle& p = *drop.puddle;
        for (int frames = 0; !p.isFinal() && frames < 200; ++frames)
            drop.drive(1, 0.0f);
        ASSERT_TRUE(p.isFinal()) << c.what;
        ASSERT_EQ(p.vertexCount, 7 * p.pointCount) << c.what;
        vec3d low = p.vertices[0].position, high = low;
        for (int32_t i = 1; i < p.vertexCount; ++i) {
            const vec3d& v = p.vertices[i].position;
            low = {std::min(low.x, v.x), std::min(low.y, v.y), std::min(low.z, v.z)};
            high = {std::max(high.x, v.x), std::max(high.y, v.y), std::max(high.z, v.z)};
        }
        ObjectsTests::expectNear(p.localBox.minimum, low, 1e-4f, c.what);
        ObjectsTests::expectNear(p.localBox.maximum, high, 1e-4f, c.what);
    }
}

TEST(OilPuddle, OutlinesGrowAndDrapeThenTheShapeIsFinal)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle();
    Drop drop(world, middle);
    ASSERT_NE(drop.puddle, nullptr);
    drop.start();
    // Two growing points, then the dropper stands.
    drop.drive(20, 1.0f);
    drop.drive(2, 0.0f);
    Puddle& p = *drop.puddle;
    ASSERT_GE(p.pointCount, 2);
    const Puddle::Point& grown = p.points[1];
    ASSERT_EQ(grown.frozen, 0u);
    // Right after a spill the outline lies on the centre; it widens with growth.
    EXPECT_GT(grown.growth, 0.0f);
    EXPECT_GE(grown.leftWidth, 10.0f);
    EXPECT_LE(grown.leftWidth, 15.0f);
    EXPECT_GE(grown.rightWidth, 10.0f);
    EXPECT_LE(grown.rightWidth, 15.0f);
    const float shares[3] = {1.0f / 3.0f, 2.0f / 3.0f, 1.0f};
    for (int k = 0; k < 3; ++k) {
        // The dropper's side axis is x: the outline spreads along x.
        EXPECT_NEAR(grown.left[k].x, grown.centre.x - grown.leftWidth * grown.growth * shares[k], 1e-3f) << k;
        EXPECT_NEAR(grown.right[k].x, grown.centre.x + grown.rightWidth * grown.growth * shares[k], 1e-3f) << k;
        EXPECT_NEAR(grown.left[k].z, grown.centre.z, 1e-4f) << k;
        // Draped: 0.7 over the ground inside, 0.2 under it at the edge,
        // relative to the owner.
        const float lift = (k < 2 ? 0.7f : -0.2f) + middle.y - drop.object->world.m[13];
        EXPECT_NEAR(grown.left[k].y, lift, 1e-3f) << k;
        EXPECT_NEAR(grown.right[k].y, lift, 1e-3f) << k;
    }
    // Every growing point reaches full size 100 frames after its spill: the
    // last one was spilled at most 20 frames in.
    int frames = 0;
    while (!p.isFinal() && frames < 200) {
        drop.drive(1, 0.0f);
        ++frames;
    }
    EXPECT_TRUE(p.isFinal());
    EXPECT_GE(frames, 75);
    EXPECT_LE(frames, 101);
    for (int32_t i = 0; i < p.pointCount; ++i)
        EXPECT_EQ(p.points[i].growth, p.points[i].frozen ? 0.0f : 1.0f) << i;
    // Final: the shape no longer changes.
    const vec3d before = p.points[1].left[2];
    p.points[1].growth = 0.5f;
    drop.drive(5, 3.0f);
    EXPECT_EQ(p.points[1].left[2], before);
    EXPECT_EQ(p.vertexCount, 7 * p.pointCount);
    // The vertices are the points' corners. On flat ground the inner ones
    // face up; a grown point's outer edges lean in towards its centre, the
    // 0.9 the edge drops below the surface against its width.
    for (int32_t i = 0; i < p.pointCount; ++i) {
        const Puddle::Point& point = p.points[i];
        const Puddle::Vertex* v = &p.vertices[7 * i];
        ObjectsTests::expectNear(v[0].position, point.centre, 0.0f, "centre");
        ObjectsTests::expectNear(v[3].position, point.left[2], 0.0f, "left edge");
        ObjectsTests::expectNear(v[6].position, point.right[2], 0.0f, "right edge");
        for (int k : {0, 1, 2, 4, 5})
            ObjectsTests::expectNear(v[k].normal, vec3d(0.0f, 1.0f, 0.0f), 1e-4f, "inner normal");
        if (point.frozen)
            continue;
        const float left = std::hypot(point.leftWidth, 0.9f), right = std::hypot(point.rightWidth, 0.9f);
        ObjectsTests::expectNear(v[3].normal, vec3d(point.leftWidth / left, 0.9f / left, 0.0f), 1e-3f, "left lean");
        ObjectsTests::expectNear(v[6].normal, vec3d(-point.rightWidth / right, 0.9f / right, 0.0f), 1e-3f,
                                 "right lean");
    }
    // The owner's own box is the puddle's, and a placement keeps it.
    drop.object->onMoved();
    vec3d low, high;
    drop.object->worldBox.alignedBounds(low, high);
    EXPECT_NEAR(low.x, p.worldBox.minimum.x, 1e-3f);
    EXPECT_NEAR(high.z, p.worldBox.maximum.z, 1e-3f);
    EXPECT_NEAR(high.y, p.worldBox.maximum.y, 1e-3f);
}

TEST(OilPuddle, WheelsStandOnTheRibbonOnly)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle();
    Drop drop(world, middle);
    ASSERT_NE(drop.puddle, nullptr);
    drop.start();
    drop.drive(51, 1.2f);
    Puddle& p = *drop.puddle;
    ASSERT_FALSE(p.isFinal());
    const vec3d origin = drop.object->world.row(3);

    // A point on the middle of the ribbon: another vehicle is on the oil,
    // the dropper only once the puddle is final.
    const vec3d onRibbon = (p.points[1].centre + p.points[2].centre) * 0.5f + origin;
    EXPECT_TRUE(p.hitTest(onRibbon, &drop.other));
    EXPECT_FALSE(p.hitTest(onRibbon, &drop.dropper));
    drop.drive(120, 0.0f);
    ASSERT_TRUE(p.isFinal());
    EXPECT_TRUE(p.hitTest(onRibbon, &drop.dropper));

    // Random points over the box and around it against the brute force.
    std::mt19937 random(4502);
    const BoundingBox& box = p.worldBox;
    std::uniform_real_distribution<float> x(box.minimum.x - 3.0f, box.maximum.x + 3.0f);
    std::uniform_real_distribution<float> z(box.minimum.z - 3.0f, box.maximum.z + 3.0f);
    int on = 0, beside = 0;
    for (int i = 0; i < 3000; ++i) {
        const vec3d wheel(x(random), middle.y + 0.3f, z(random));
        float surface = 0.0f;
        const bool inBox = wheel.x > box.minimum.x && wheel.x <= box.maximum.x && wheel.z > box.minimum.z &&
                           wheel.z <= box.maximum.z;
        const bool over = inBox && ribbonHeight(p, origin, wheel.x, wheel.z, surface);
        const bool want = over && surface >= gTerrain.getHeight(wheel.x, wheel.z, 3);
        // Points within a hair of a triangle's edge may fall either way.
        float nearby = 0.0f;
        bool edge = false;
        for (float dx : {-0.02f, 0.02f})
            for (float dz : {-0.02f, 0.02f}) {
                const bool o = ribbonHeight(p, origin, wheel.x + dx, wheel.z + dz, nearby);
                const bool w = o && nearby >= gTerrain.getHeight(wheel.x + dx, wheel.z + dz, 3);
                edge |= w != want;
            }
        if (edge)
            continue;
        EXPECT_EQ(p.hitTest(wheel, &drop.other), want) << wheel.x << " " << wheel.z;
        on += want ? 1 : 0;
        beside += inBox && !over ? 1 : 0;
    }
    EXPECT_GT(on, 300);
    EXPECT_GT(beside, 100);

    // Where the ground rises above the oil, wheels stand on the ground.
    ASSERT_TRUE(ground.load(Ground::flat(20000.0f + 400.0f)));
    EXPECT_GT(gTerrain.getHeight(onRibbon.x, onRibbon.z, 3), onRibbon.y);
    EXPECT_FALSE(p.hitTest(onRibbon, &drop.other));
}

TEST(OilPuddle, SinksTwoUnitsOver200Frames)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle();
    Drop drop(world, middle);
    ASSERT_NE(drop.puddle, nullptr);
    // Without a source nothing happens.
    drop.object->prepare();
    EXPECT_EQ(drop.puddle->pointCount, 0);
    // An update with a source but no point spills the first one.
    drop.puddle->source = &drop.dropper;
    drop.drive(1, 0.0f);
    EXPECT_EQ(drop.puddle->pointCount, 1);
    EXPECT_EQ(drop.puddle->points[0].frozen, 1u);
    // Under two points nothing is hit.
    EXPECT_FALSE(drop.puddle->hitTest(middle, &drop.other));
    drop.drive(60, 0.0f);
    const float base = drop.object->world.m[13];
    drop.puddle->state = Puddle::sinking;
    for (int i = 0; i < 199; ++i)
        drop.drive(1, 0.0f);
    EXPECT_EQ(drop.puddle->state, Puddle::sinking);
    drop.drive(2, 0.0f);
    EXPECT_EQ(drop.puddle->state, Puddle::sunk);
    EXPECT_NEAR(drop.object->world.m[13], base - 2.0f, 1e-3f);
    EXPECT_NEAR(drop.puddle->worldBox.maximum.y, drop.puddle->localBox.maximum.y + base - 2.0f, 1e-3f);
}

// Random bytes through the block reader and an update.
TEST(OilPuddle, FuzzedBlocks)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    std::mt19937 random(4503);
    for (int i = 0; i < 300; ++i) {
        ObjectsTests::Bytes bytes(random() % 40);
        for (uint8_t& b : bytes)
            b = uint8_t(random() % 4 == 0 ? 0 : random());
        OilPuddle templ(nullptr);
        auto stream = ObjectsTests::streamOf(bytes);
        templ.load(*stream);
        EXPECT_LE(stream->tell(), stream->size());
    }
    Drop drop(world, ground.middle());
    ASSERT_NE(drop.puddle, nullptr);
    drop.start();
    drop.drive(3, 1e6f);
    drop.drive(3, 0.0f);
    EXPECT_LE(drop.puddle->pointCount, Puddle::maxPoints);
}
