// The cloth: its block read back from the builder's writer and from damaged
// bytes, the grid a build makes (indices, texture coordinates and pins
// against brute force), the rules of a step, a flag hanging and blowing for
// 2000 steps, and the boxes it gives its owner (no device, no worker).
#include "EffectsTestSupport.h"

#include "EffectPackageSamples.h"
#include "FunctionsRecordWriter.h"

#include "Objects/Cloths.h"

#include "Entity/Entity.h"

#include "Core/Math.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <set>

using namespace ObjectsTests;
using Cloths = ObjPkgManager::Functions::Cloths;
using Cloth = Cloths::Instance;

namespace {

Bytes clothBytes(const FunctionsRecordWriter::Cloths& description)
{
    return bytesOf(FunctionsRecordWriter::writeCloths, description);
}

// A template outside any package (no worker: the test steps) read from
// bytes, and its cloths.
struct Bench
{
    explicit Bench(const Bytes& bytes = {})
    {
        if (!bytes.empty()) {
            auto stream = streamOf(bytes);
            whole = cloths.load(*stream);
        }
    }
    Cloth* make(D3D::Device::SwapChain* chain = nullptr, DynObject* owner = nullptr)
    {
        made.emplace_back(cloths.createInstance(chain, owner));
        return made.back().get();
    }

    ObjPkgManager::Functions::Record record{nullptr};
    Cloths cloths{&record};
    bool whole = true;
    std::vector<std::unique_ptr<Cloth>> made;
};

std::set<std::pair<int, int>> pinnedPoints(Cloth& cloth)
{
    std::set<std::pair<int, int>> points;
    for (int c = 0; c < cloth.columns; ++c)
        for (int r = 0; r < cloth.rows; ++r)
            if (cloth.working(c, r).pinned)
                points.insert({c, r});
    return points;
}

// The grid points of the line from a to b by its closed form: along the
// longer span, the other coordinate rounded half up from the exact line.
std::set<std::pair<int, int>> lineByFormula(Cloths::GridPoint a, Cloths::GridPoint b)
{
    if (b.row < a.row)
        std::swap(a, b);
    const int dc = b.column - a.column, dr = b.row - a.row;
    std::set<std::pair<int, int>> points{{a.column, a.row}};
    if (dr >= std::abs(dc)) {
        for (int i = 1; i <= dr; ++i) {
            const int offset = (2 * i * std::abs(dc) + dr) / (2 * dr);
            points.insert({a.column + (dc < 0 ? -offset : offset), a.row + i});
        }
    } else {
        const int span = std::abs(dc);
        for (int i = 1; i <= span; ++i)
            points.insert({a.column + (dc < 0 ? -i : i), a.row + (2 * i * dr + span) / (2 * span)});
    }
    return points;
}

float linkLength(Cloth& cloth, int c, int r, int dc, int dr)
{
    return (cloth.working(c + dc, r + dr).position - cloth.working(c, r).position).length();
}

// One step of the rules written out plainly on copies of the cloth's
// records, with the given wind: the working records it leaves and each front
// vertex's normal.
struct Expected
{
    std::vector<Cloth::Particle> working;
    std::vector<vec3d> frontNormals;
};
Expected referenceStep(Cloth& cloth, const Cloths& t, const vec3d& wind)
{
    const int w = cloth.columns, h = cloth.rows;
    const Cloth::Particle* buffer = (cloth.stamp & 1) ? cloth.bufferB.get() : cloth.bufferA.get();
    const std::vector<Cloth::Particle> read(buffer, buffer + w * h);
    Expected e{{cloth.workingRecords.get(), cloth.workingRecords.get() + w * h}, std::vector<vec3d>(size_t(w * h))};
    const auto at = [h](auto& records, int c, int r) -> auto& { return records[size_t(c * h + r)]; };
    const float gravityY = t.gravity / 9.81f * -0.005f, dampK = t.damping * 0.03f;
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const int right = c == w - 1 ? w - 2 : c + 1, below = r == h - 1 ? h - 2 : r + 1;
            Cloth::Particle& p = at(e.working, c, r);
            const Cloth::Particle& q = at(read, c, r);
            vec3d normal = (at(read, right, r).position - q.position).cross(at(read, c, below).position - q.position);
            if ((c == w - 1) != (r == h - 1))
                normal = -normal;
            p.normal = normal.lengthSq() > 0.0f ? normal * (1.0f / std::sqrt(normal.lengthSq())) : vec3d();
            if (!p.pinned) {
                vec3d force(0.0f, gravityY, 0.0f);
                for (int cn = std::max(c - 2, 0); cn <= std::min(c + 2, w - 1); ++cn)
                    for (int rn = std::max(r - 2, 0); rn <= std::min(r + 2, h - 1); ++rn) {
                        if (cn == c && rn == r)
                            continue;
                        const Cloth::Particle& other = at(read, cn, rn);
                        const vec3d d = other.position - q.position;
                        const Cloths::Spring& spring = t.rest[std::abs(cn - c) * 5 + std::abs(rn - r)];
                        // Lengths through the core library's table, as the rules ask.
                        const float k = (fastSqrt(d.lengthSq()) - spring.restLength) * spring.stiffness;
                        force += d * k - (q.dampedVelocity - other.dampedVelocity);
                    }
                const vec3d push = p.normal * wind.dot(p.normal);
                p.velocity += push;
                at(e.working, right, r).velocity += push;
                at(e.working, c, below).velocity += push;
                for (int axis = 0; axis < 3; ++axis)
                    force[axis] = std::clamp(force[axis], -0.1f, 0.1f);
                p.velocity += force;
                p.velocity -= p.velocity * 0.01f;
                p.dampedVelocity = p.velocity * dampK;
                p.position += p.velocity;
            }
            e.frontNormals[size_t(r * w + c)] =
                -(at(e.working, std::min(c + 1, w - 1), r).normal + p.normal + at(e.working, c, std::min(r + 1, h - 1)).normal) /
                3.0f;
        }
    return e;
}

}

TEST(ClothBlock, TheWrittenSampleReadsBackAndDamagedValuesKeepTheirFields)
{
    FunctionsRecordWriter::Cloths sample = EffectPackageSamples::bannerCloth();
    sample.windAngle = 33.0f;
    sample.windFromMotion = 1;
    sample.damping = 0.7f;
    sample.gravity = 4.0f;
    sample.angles = {0.0f, 90.0f, 0.0f};
    sample.material[16] = 22.0f;
    Bench bench(clothBytes(sample));
    const Cloths& t = bench.cloths;
    EXPECT_TRUE(bench.whole);
    EXPECT_EQ(t.columns, 24);
    EXPECT_EQ(t.rows, 10);
    EXPECT_EQ(t.triangleCount, 4 * 23 * 9);
    EXPECT_EQ(t.vertexCount, 2 * 24 * 10);
    EXPECT_EQ(t.pinC, (Cloths::GridPoint{23, 0}));
    EXPECT_EQ(t.pinD, (Cloths::GridPoint{23, 9}));
    EXPECT_EQ(t.plane, 7);
    EXPECT_EQ(t.windAngle, 33.0f);
    EXPECT_EQ(t.windStrength, 0.3f);
    EXPECT_EQ(t.windFromMotion, 1u);
    EXPECT_EQ(t.damping, 0.7f);
    EXPECT_EQ(t.gravity, 4.0f);
    EXPECT_EQ(t.material.Power, 22.0f);
    EXPECT_EQ(t.specularPower, 22.0f);
    EXPECT_EQ(t.material.Ambient.r, 0.6f);
    EXPECT_EQ(narrow(t.textureName), "Banner.tga");
    EXPECT_EQ(bench.cloths.image.size(), sample.image.size());
    EXPECT_EQ(t.scale.z, 2.0f);
    // The placement: turned a quarter about y, doubled, then moved.
    expectNear(t.placement.row(0) * 0.5f, matrix3d::fromAngles({0.0f, 90.0f, 0.0f}).row(0), 1e-5f, "x axis");
    expectNear(t.placement.row(3), {-2.3f, 3.0f, -0.9f}, 1e-6f, "position");

    const float nan = std::nanf("");
    const float inf = INFINITY;
    struct Case
    {
        const char* what;
        Bytes bytes;
        bool whole;
        int columns, rows;
        float windStrength, gravity;
        uint32_t pinLine;
    };
    const Case cases[] = {
        {"no grid size: the smallest grid", (BlockBytes() << 4u << 0u << 0u).bytes, true, 2, 2, 0.6f, 9.81f, 0},
        {"an empty grid", (BlockBytes() << 1u << 0 << 0 << 0u).bytes, true, 2, 2, 0.6f, 9.81f, 1},
        {"a grid past 16-bit indices", (BlockBytes() << 1u << 1000 << 70000 << 0u).bytes, true, 64, 64, 0.6f, 9.81f,
         1},
        {"negative sizes", (BlockBytes() << 1u << -5 << 3 << 0u).bytes, true, 2, 3, 0.6f, 9.81f, 1},
        {"tag 99 carries nothing, tag 4 is read", (BlockBytes() << 1u << 5 << 6 << 99u << 4u << 0u << 0u).bytes, true,
         5, 6, 0.6f, 9.81f, 0},
        {"floats that are not finite or absurd",
         (BlockBytes() << 6u << nan << 18u << inf << 8u << -1.0e30f << 0u).bytes, true, 2, 2, 0.6f, 9.81f, 1},
        {"cut inside the grid size", (BlockBytes() << 1u << 7).bytes, false, 2, 2, 0.6f, 9.81f, 1},
        {"cut inside a float", (BlockBytes() << 18u << uint16_t(1)).bytes, false, 2, 2, 0.6f, 9.81f, 1},
        {"an image longer than the data", (BlockBytes() << 6u << 0.5f << 12u << 1000u << 1u << 2u).bytes, false, 2, 2,
         0.5f, 9.81f, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench damaged(c.bytes);
        EXPECT_EQ(damaged.whole, c.whole);
        EXPECT_EQ(damaged.cloths.columns, c.columns);
        EXPECT_EQ(damaged.cloths.rows, c.rows);
        EXPECT_EQ(damaged.cloths.windStrength, c.windStrength);
        EXPECT_EQ(damaged.cloths.gravity, c.gravity);
        EXPECT_EQ(damaged.cloths.pinLine, c.pinLine);
        EXPECT_EQ(damaged.cloths.triangleCount, 4 * (c.rows - 1) * (c.columns - 1));
        EXPECT_EQ(damaged.cloths.vertexCount, 2 * c.columns * c.rows);
    }
}

TEST(ClothBlock, AMaterialIsTakenWholeOrNotAtAll)
{
    for (const float odd : {2.0f, std::nanf("")}) {
        SCOPED_TRACE(odd);
        BlockBytes block;
        block << 10u;
        for (int i = 0; i < 16; ++i)
            block << (i == 5 ? odd : 0.25f);
        block << 40.0f << 0u;
        Bench bench(block.bytes);
        EXPECT_TRUE(bench.whole);
        const bool taken = !std::isnan(odd);
        EXPECT_EQ(bench.cloths.material.Power, taken ? 40.0f : 15.0f);
        EXPECT_EQ(bench.cloths.specularPower, taken ? 40.0f : 15.0f);
        EXPECT_EQ(bench.cloths.material.Ambient.g, taken ? 2.0f : 0.6f);
        EXPECT_EQ(bench.cloths.material.Diffuse.r, taken ? 0.25f : 1.0f);
    }
}

TEST(ClothGrid, TheDefaultFlagPinsItsFirstColumnAndItsIndicesAndCoordinatesMatchBruteForce)
{
    Bench bench;
    const Cloths& t = bench.cloths;
    EXPECT_EQ(t.columns, 18);
    EXPECT_EQ(t.rows, 16);
    EXPECT_EQ(t.triangleCount, 1020);
    EXPECT_EQ(t.vertexCount, 576);
    EXPECT_EQ(t.plane, 8);
    EXPECT_NEAR(t.rest[1 * 5 + 1].restLength, std::sqrt(2.0f), 1e-6f);
    EXPECT_NEAR(t.rest[2 * 5 + 1].stiffness, 0.093f / std::sqrt(5.0f), 1e-7f);
    EXPECT_EQ(t.material.Power, 15.0f);

    Cloth* cloth = bench.make();
    ASSERT_NE(cloth, nullptr);
    EXPECT_EQ(t.edited, cloth) << "the new cloth is the edited one";
    EXPECT_EQ(cloth->indexCount / 3, 1020);
    std::set<std::pair<int, int>> column;
    for (int r = 0; r < 16; ++r)
        column.insert({0, r});
    EXPECT_EQ(pinnedPoints(*cloth), column);

    // Every cell is two triangles on each face; the back face's winding is
    // the front's turned over, its texture mirrored.
    const int w = 18, h = 16, n = w * h;
    std::multiset<std::array<int, 3>> want, got;
    const auto sorted = [](std::array<int, 3> t) {
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        return t;
    };
    for (int r = 0; r + 1 < h; ++r)
        for (int c = 0; c + 1 < w; ++c) {
            const int a = r * w + c, b = a + 1, d = a + w, e = d + 1;
            want.insert(sorted({b, a, d}));
            want.insert(sorted({b, d, e}));
            want.insert(sorted({n + a, n + b, n + d}));
            want.insert(sorted({n + d, n + b, n + e}));
        }
    const uint16_t* index = cloth->indices.data();
    for (int i = 0; i < cloth->indexCount; i += 3)
        got.insert(sorted({index[i], index[i + 1], index[i + 2]}));
    EXPECT_EQ(got, want);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const vec2d front = cloth->vertices[r * w + c].uv, back = cloth->vertices[n + r * w + c].uv;
            EXPECT_FLOAT_EQ(front.x, float(c) / 17.0f);
            EXPECT_FLOAT_EQ(front.y, float(15 - r) / 15.0f);
            EXPECT_FLOAT_EQ(back.x, 1.0f - front.x);
            EXPECT_FLOAT_EQ(back.y, front.y);
        }
}

TEST(ClothGrid, PinsOffTheLineAndOutsideTheGrid)
{
    struct Case
    {
        const char* what;
        uint32_t pinLine;
        Cloths::GridPoint a, b, c, d;
        std::set<std::pair<int, int>> pinned;
    };
    const Case cases[] = {
        {"the line off: A and B alone", 0, {0, 0}, {0, 15}, {-1, -1}, {-1, -1}, {{0, 0}, {0, 15}}},
        {"C and D beside the line", 1, {0, 0}, {0, 2}, {17, 0}, {5, 7}, {{0, 0}, {0, 1}, {0, 2}, {17, 0}, {5, 7}}},
        {"an end outside the grid pins no line", 1, {0, 0}, {0, 16}, {-1, 3}, {18, 0}, {}},
        {"outside pins pin nothing", 0, {-1, 0}, {3, -2}, {99, 99}, {17, 16}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench bench;
        bench.cloths.pinLine = c.pinLine;
        bench.cloths.pinA = c.a;
        bench.cloths.pinB = c.b;
        bench.cloths.pinC = c.c;
        bench.cloths.pinD = c.d;
        EXPECT_EQ(pinnedPoints(*bench.make()), c.pinned);
    }

    // The line between random ends against its closed form.
    std::mt19937 random(5301);
    Bench bench;
    bench.cloths.setGridSize(23, 17);
    Cloth* cloth = bench.make();
    for (int i = 0; i < 300; ++i) {
        const Cloths::GridPoint a{int(random() % 23), int(random() % 17)}, b{int(random() % 23), int(random() % 17)};
        bench.cloths.pinA = a;
        bench.cloths.pinB = b;
        ASSERT_TRUE(cloth->build(false));
        ASSERT_EQ(pinnedPoints(*cloth), lineByFormula(a, b)) << a.column << "," << a.row << " to " << b.column << ","
                                                             << b.row;
    }
}

TEST(ClothStep, TheRulesOfOneStep)
{
    // At rest without gravity or wind nothing moves and every pull is 0.
    {
        Bench bench;
        bench.cloths.gravity = 0.0f;
        bench.cloths.windStrength = 0.0f;
        Cloth* cloth = bench.make();
        for (int i = 0; i < 20; ++i)
            cloth->step(false);
        for (int c = 0; c < 18; ++c)
            for (int r = 0; r < 16; ++r) {
                const Cloth::Particle& p = cloth->working(c, r);
                ASSERT_EQ(p.position, vec3d(float(c), float(r), 0.0f));
                for (const Cloth::Link& link : p.links)
                    ASSERT_EQ(link.k, 0.0f);
            }
    }

    // Each plane's normals agree everywhere: past the last column or row the
    // neighbour lies behind and the cross product turns over, at the last
    // corner twice. Each face's vertices carry the normal of the side it is
    // seen from (the front's is the particles' turned over); an unknown
    // plane is the vertical one.
    struct Plane
    {
        int32_t plane;
        vec3d normal;
        vec3d corner;
    };
    for (const Plane& p : {Plane{6, {1.0f, 0.0f, 0.0f}, {0.0f, 17.0f, 15.0f}},
                           Plane{7, {0.0f, -1.0f, 0.0f}, {17.0f, 0.0f, 15.0f}},
                           Plane{8, {0.0f, 0.0f, 1.0f}, {17.0f, 15.0f, 0.0f}},
                           Plane{3, {0.0f, 0.0f, 1.0f}, {17.0f, 15.0f, 0.0f}}}) {
        SCOPED_TRACE(p.plane);
        Bench bench;
        bench.cloths.gravity = 0.0f;
        bench.cloths.windStrength = 0.0f;
        bench.cloths.plane = p.plane;
        Cloth* cloth = bench.make();
        cloth->step(false);
        EXPECT_EQ(cloth->working(17, 15).position, p.corner);
        for (int c = 0; c < 18; ++c)
            for (int r = 0; r < 16; ++r) {
                expectNear(cloth->working(c, r).normal, p.normal, 1e-4f, "particle");
                expectNear(cloth->vertices[r * 18 + c].normal, -p.normal, 1e-4f, "front vertex");
                expectNear(cloth->vertices[288 + r * 18 + c].normal, p.normal, 1e-4f, "back vertex");
            }
    }

    // The force is clamped before it reaches the velocity (the first step,
    // the constructor's, has no pulls).
    struct Clamp
    {
        float gravity;
        float velocity;
    };
    for (const Clamp& c : {Clamp{98.1f, -0.0495f}, Clamp{981.0f, -0.099f}, Clamp{-981.0f, 0.099f}}) {
        SCOPED_TRACE(c.gravity);
        Bench bench;
        bench.cloths.gravity = c.gravity;
        bench.cloths.windStrength = 0.0f;
        bench.cloths.pinLine = 0;
        bench.cloths.pinA = bench.cloths.pinB = {-1, -1};
        Cloth* cloth = bench.make();
        EXPECT_NEAR(cloth->working(5, 5).velocity.y, c.velocity, 1e-6f);
        EXPECT_NEAR(cloth->working(5, 5).position.y, 5.0f + c.velocity, 1e-5f);
    }
}

TEST(ClothStep, FreshLinksPullNothingInTheirFirstStepAndEachPairIsEvaluatedOnce)
{
    Bench bench;
    bench.cloths.gravity = 0.0f;
    bench.cloths.windStrength = 0.0f;
    Cloth* cloth = bench.make();
    // A rebuild at stamp 0 has fresh links of stamp 0: its next step uses
    // k = 0 for every pair, so a particle pulled from its place stays apart.
    cloth->stamp = 0;
    ASSERT_TRUE(cloth->build(false));
    const vec3d moved(9.0f, 8.0f, 1.0f);
    cloth->working(9, 8).position = moved;
    cloth->bufferA[9 * 16 + 8].position = moved;
    cloth->step(false);
    EXPECT_EQ(cloth->working(10, 8).position, vec3d(10.0f, 8.0f, 0.0f)) << "no pull in the first step";
    EXPECT_EQ(cloth->stamp, 1);
    cloth->step(false);
    EXPECT_GT(cloth->working(10, 8).position.z, 0.0f) << "pulled towards the moved particle";

    // Blown about, the two entries of every pair hold the same pull.
    bench.cloths.windStrength = 1.0f;
    bench.cloths.windAngle = 90.0f;
    for (int i = 0; i < 30; ++i)
        cloth->step(false);
    const uint32_t last = uint8_t(cloth->stamp - 1);
    int pairs = 0;
    for (int c = 0; c < 18; ++c)
        for (int r = 0; r < 16; ++r)
            for (int dc = -2; dc <= 2; ++dc)
                for (int dr = -2; dr <= 2; ++dr) {
                    const int c2 = c + dc, r2 = r + dr;
                    if ((dc == 0 && dr == 0) || c2 < 0 || c2 >= 18 || r2 < 0 || r2 >= 16)
                        continue;
                    const Cloth::Link& here = cloth->working(c, r).links[12 + 5 * dc + dr];
                    const Cloth::Link& there = cloth->working(c2, r2).links[12 - 5 * dc - dr];
                    if (cloth->working(c, r).pinned && cloth->working(c2, r2).pinned)
                        continue;
                    ASSERT_EQ(here.stamp, last);
                    ASSERT_EQ(there.stamp, last);
                    ASSERT_EQ(here.k, there.k);
                    ++pairs;
                }
    EXPECT_GT(pairs, 5000);
}

TEST(ClothScenario, AFlagHangsUnderGravityAndLeansDownwind)
{
    Bench calm;
    calm.cloths.windStrength = 0.0f;
    Cloth* flag = calm.make();
    for (int i = 0; i < 2000; ++i)
        flag->step(false);
    for (int r = 0; r < 16; ++r)
        EXPECT_EQ(flag->working(0, r).position, vec3d(0.0f, float(r), 0.0f)) << "the pinned column stays";
    EXPECT_LT(flag->working(17, 15).position.y, 15.0f - 3.0f) << "the free corner sinks";
    float sum = 0.0f;
    int links = 0;
    for (int c = 0; c < 18; ++c)
        for (int r = 0; r < 16; ++r) {
            if (c + 1 < 18)
                sum += linkLength(*flag, c, r, 1, 0), ++links;
            if (r + 1 < 16)
                sum += linkLength(*flag, c, r, 0, 1), ++links;
        }
    EXPECT_NEAR(sum / float(links), 1.0f, 0.1f) << "the mean link keeps its rest length";
    for (int c = 0; c < 18; ++c)
        for (int r = 0; r < 16; ++r)
            ASSERT_NEAR(flag->working(c, r).position.z, 0.0f, 1e-3f) << "nothing blows it off its plane";

    // A wind along +z (90 degrees) blows the free part downwind.
    Bench windy;
    windy.cloths.windStrength = 1.0f;
    windy.cloths.windAngle = 90.0f;
    Cloth* blown = windy.make();
    for (int i = 0; i < 2000; ++i)
        blown->step(false);
    float z = 0.0f;
    for (int r = 0; r < 16; ++r)
        z += blown->working(17, r).position.z;
    EXPECT_GT(z / 16.0f, 2.0f);
    EXPECT_EQ(blown->working(0, 7).position, vec3d(0.0f, 7.0f, 0.0f));
}

// On a cloth the wind has crumpled, a step agrees with the rules written out
// plainly: every normal (from the right and lower neighbours, or the left
// and upper ones past the last column and row), every wind push, pull and
// move, and each vertex's smoothed normal. The wind is the fixed one, or the
// owner's motion carried into its frame and capped, or none for a singular
// owner.
TEST(ClothStep, ACrumpledClothStepsByTheRules)
{
    EffectsTests::World world;
    const float windK = 0.8f * 0.018f;
    matrix3d turned = matrix3d::identity();
    // A quarter turn about y: the world's +x is the owner's +z, the world's
    // +z its -x.
    turned.setRow(0, {0.0f, 0.0f, -1.0f});
    turned.setRow(2, {1.0f, 0.0f, 0.0f});
    matrix3d flat = matrix3d::identity();
    flat.setRow(1, {});
    // Turned about all three axes: the motion's part along each of the
    // owner's unit axes, uncapped.
    const matrix3d oblique = matrix3d::fromAngles({30.0f, 40.0f, 50.0f});
    const vec3d obliqueMotion = vec3d(0.2f, 0.3f, -0.1f) * 1.5f;
    const vec3d obliqueWind = vec3d(obliqueMotion.dot(oblique.row(0)), obliqueMotion.dot(oblique.row(1)),
                                    obliqueMotion.dot(oblique.row(2))) *
                              -windK;
    struct Case
    {
        const char* name;
        bool fromMotion;
        const matrix3d* turn;
        vec3d moved;
        vec3d wind; // for the motion cases
    };
    const Case cases[] = {
        {"fixed wind", false, nullptr, {}, {}},
        {"motion, turned owner", true, &turned, {0.5f, 0.0f, 0.0f}, {0.0f, 0.0f, -0.75f * windK}},
        {"motion, capped", true, &turned, {0.0f, 3.0f, 4.0f}, vec3d(0.8f, -0.6f, 0.0f) * (1.3f * windK)},
        {"motion, singular owner", true, &flat, {1.0f, 0.0f, 0.0f}, {}},
        {"motion, oblique owner", true, &oblique, {0.2f, 0.3f, -0.1f}, obliqueWind},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        Bench bench;
        bench.cloths.windStrength = 0.8f;
        bench.cloths.windAngle = 70.0f;
        bench.cloths.pinLine = 0;
        bench.cloths.pinC = {5, 9};
        EntityManager::Entity owner(*world.chain.entities);
        Cloth cloth(&bench.cloths, nullptr, &owner);
        for (int i = 0; i < 300; ++i)
            cloth.step(false);
        ASSERT_GT(std::fabs(cloth.working(17, 15).position.z), 1.0f) << "crumpled";

        vec3d wind;
        if (k.fromMotion) {
            cloth.windFromMotion.store(1);
            matrix3d pose = *k.turn;
            pose.setRow(3, {10.0f, 2.0f, 5.0f});
            owner.world = pose;
            cloth.updateBounds();
            cloth.step(false);
            pose.setRow(3, pose.row(3) + k.moved);
            owner.world = pose;
            cloth.updateBounds();
            wind = k.wind;
        } else {
            const float angle = std::sin(cloth.phase) * 0.3f + 70.0f * 3.14159265f / 180.0f;
            wind = {std::cos(angle) * windK, 0.0f, std::sin(angle) * windK};
        }
        const Expected expected = referenceStep(cloth, bench.cloths, wind);
        cloth.step(false);
        const int w = 18, h = 16, n = w * h;
        for (int c = 0; c < w; ++c)
            for (int r = 0; r < h; ++r) {
                SCOPED_TRACE(testing::Message() << c << ", " << r);
                const Cloth::Particle& want = expected.working[size_t(c * h + r)];
                const Cloth::Particle& got = cloth.working(c, r);
                expectNear(got.normal, want.normal, 1e-4f, "normal");
                expectNear(got.velocity, want.velocity, 1e-5f, "velocity");
                expectNear(got.position, want.position, 1e-4f, "position");
                expectNear(got.dampedVelocity, want.dampedVelocity, 1e-6f, "damped velocity");
                expectNear(cloth.vertices[r * w + c].normal, expected.frontNormals[size_t(r * w + c)], 1e-4f,
                           "front vertex");
                expectNear(cloth.vertices[n + r * w + c].normal, -expected.frontNormals[size_t(r * w + c)], 1e-4f,
                           "back vertex");
                expectNear(cloth.vertices[r * w + c].position, want.position * 0.1f, 1e-5f, "vertex");
                if (::testing::Test::HasFailure())
                    return;
            }
    }
}

TEST(ClothStep, OnlyAVisibleClothNearTheCameraIsStepped)
{
    D3D::Device::SwapChain chain{nullptr};
    chain.setProjection({320, 240});
    chain.position = {};
    chain.angles = {};
    chain.setAnglesDeg();
    chain.Camera::update();
    EntityManager::Entity owner(*chain.entities);
    struct Case
    {
        const char* what;
        vec3d at;
        bool stepped;
    };
    const Case cases[] = {
        {"999 ahead", {0.0f, 0.0f, 999.0f}, true},
        {"1001 ahead", {0.0f, 0.0f, 1001.0f}, false},
        {"999 away, beside the view", {0.0f, 0.0f, -999.0f}, false},
        {"near, beside the view", {-50.0f, 0.0f, 5.0f}, false},
        {"near, in view", {0.0f, 1.0f, 20.0f}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bench bench;
        bench.cloths.windStrength = 0.0f;
        owner.world = matrix3d::identity();
        owner.world.setRow(3, c.at);
        owner.worldBox.center = c.at;
        owner.worldBox.axes[0] = {1.0f, 0.0f, 0.0f};
        owner.worldBox.axes[1] = {0.0f, 1.0f, 0.0f};
        owner.worldBox.axes[2] = {0.0f, 0.0f, 1.0f};
        owner.worldBox.halfExtents = {1.0f, 1.0f, 1.0f};
        Cloth cloth(&bench.cloths, &chain, &owner);
        const float before = cloth.working(17, 15).position.y;
        cloth.updateBounds();
        cloth.step(false);
        EXPECT_EQ(cloth.working(17, 15).position.y < before, c.stepped);
    }
}

TEST(ClothBounds, TheOwnersBoxesHoldTheClothBox)
{
    EffectsTests::World world;
    Bench bench;
    bench.cloths.angles = {0.0f, 30.0f, 10.0f};
    bench.cloths.scale = {2.0f, 2.0f, 2.0f};
    bench.cloths.position = {1.0f, 2.0f, 3.0f};
    bench.cloths.updateTransform();

    // Against the eight corners of the step's box through the placement.
    EntityManager::Entity bare(*world.chain.entities);
    Cloth cloth(&bench.cloths, nullptr, &bare);
    for (int i = 0; i < 50; ++i)
        cloth.step(false);
    cloth.updateBounds();
    vec3d low, high;
    cloth.bounds(low, high);
    vec3d wantLow(1e9f, 1e9f, 1e9f), wantHigh(-1e9f, -1e9f, -1e9f);
    for (int k = 0; k < 8; ++k) {
        const vec3d corner(k & 1 ? high.x : low.x, k & 2 ? high.y : low.y, k & 4 ? high.z : low.z);
        const vec3d p = bench.cloths.placement.transformPoint(corner);
        wantLow = {std::min(wantLow.x, p.x), std::min(wantLow.y, p.y), std::min(wantLow.z, p.z)};
        wantHigh = {std::max(wantHigh.x, p.x), std::max(wantHigh.y, p.y), std::max(wantHigh.z, p.z)};
    }
    expectNear(bare.localBox.minimum, wantLow, 1e-4f, "minimum");
    expectNear(bare.localBox.maximum, wantHigh, 1e-4f, "maximum");
    expectNear(bare.localBox.center, (wantLow + wantHigh) * 0.5f, 1e-4f, "centre");
    // The step's box is the four corners' grown by 0.1.
    const int n = 18 * 16;
    for (int axis = 0; axis < 3; ++axis) {
        float lo = 1e9f, hi = -1e9f;
        for (int v : {0, 17, n - 1, n - 18}) {
            lo = std::min(lo, cloth.vertices[v].position[axis]);
            hi = std::max(hi, cloth.vertices[v].position[axis]);
        }
        EXPECT_FLOAT_EQ(low[axis], lo - 0.1f);
        EXPECT_FLOAT_EQ(high[axis], hi + 0.1f);
    }

    // A placed banner: its posts' boxes grow to hold the cloth.
    DynObject* banner = world.place(L"Banner", {10.0f, 0.0f, 10.0f});
    ASSERT_NE(banner, nullptr);
    auto* placed = EffectsTests::World::instanceOf<Cloth>(banner, Cloths::flag);
    ASSERT_NE(placed, nullptr);
    for (int i = 0; i < 100; ++i)
        placed->step(true);
    // The second prepare does not move the banner: the boxes the cloth gave
    // stay.
    banner->prepare();
    banner->prepare();
    placed->bounds(low, high);
    const matrix3d& placement = placed->clothTemplate->placement;
    int subs = 0;
    for (auto* node = banner->subEntities.head(); node; node = node->next, ++subs) {
        const OrientedBox& box = node->item->localBox;
        for (int k = 0; k < 8; ++k) {
            const vec3d corner(k & 1 ? high.x : low.x, k & 2 ? high.y : low.y, k & 4 ? high.z : low.z);
            const vec3d d = placement.transformPoint(corner) - box.center;
            for (int axis = 0; axis < 3; ++axis)
                EXPECT_LE(std::fabs(d.dot(box.axes[axis])), box.halfExtents[axis] + 1e-3f);
        }
    }
    EXPECT_EQ(subs, 8);
    EXPECT_GE(banner->localBox.maximum.y, placement.transformPoint(high).y - 1e-4f);
}

TEST(ClothBlock, DamagedSamplesLoadBuildAndStepSafely)
{
    const Bytes sample = clothBytes(EffectPackageSamples::bannerCloth());
    std::mt19937 random(5303);
    for (int round = 0; round < 200; ++round) {
        Bytes bytes = sample;
        const int flips = 1 + int(random() % 8);
        for (int i = 0; i < flips; ++i) {
            // Mostly the fields before the image, where the grid and pins are.
            const size_t at = random() % 3 ? random() % std::min<size_t>(bytes.size(), 200) : random() % bytes.size();
            bytes[at] = uint8_t(random());
        }
        if (random() % 4 == 0)
            bytes.resize(random() % bytes.size());
        Bench bench(bytes);
        ASSERT_GE(bench.cloths.columns, 2);
        ASSERT_LE(bench.cloths.columns, 64);
        ASSERT_GE(bench.cloths.rows, 2);
        ASSERT_LE(bench.cloths.rows, 64);
        Cloth* cloth = bench.make();
        ASSERT_NE(cloth, nullptr);
        const int vertices = 2 * cloth->columns * cloth->rows;
        for (int i = 0; i < cloth->indexCount; ++i)
            ASSERT_LT(cloth->indices.data()[i], vertices);
        for (int i = 0; i < 200; ++i)
            cloth->step(false);
    }
}
