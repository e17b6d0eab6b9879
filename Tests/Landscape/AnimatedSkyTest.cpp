// The sky dome, its patch tree, its colour model and its progressive
// recolouring, without a device.
#include "Landscape/AnimatedSky.h"

#include "Render/Camera.h"
#include "Render/D3DDevice.h"
#include "Render/Light.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <set>
#include <vector>

namespace {

using Dome = AnimatedSky::DomeMesh;
using Node = AnimatedSky::PatchNode;

// The scene's dome: centre 255 below the camera, 650 wide, 650 / 1.2 high.
void makeSceneDome(Dome& dome) { makeDome(dome, {0.0f, -255.0f, 0.0f}, {650.0f, 650.0f / 1.2f, 650.0f}, 0.58f); }

const vec3d& positionOf(Dome& mesh, int32_t i) { return *mesh.getVertexData(i)->position; }

TEST(SkyDome, RingsAroundTheTop)
{
    Dome dome(String(L"Dome"));
    makeSceneDome(dome);
    ASSERT_EQ(*dome.getVertexCount(), 8801);
    ASSERT_EQ(*dome.getIndexCount(), 52320);

    EXPECT_NEAR(positionOf(dome, 0).y, 286.67f, 0.01f);
    // The last ring: 120.3 below the camera, 629.6 away.
    for (int32_t n : {8641, 8700, 8800}) {
        const vec3d p = positionOf(dome, n);
        EXPECT_NEAR(p.y, -120.3f, 0.1f);
        EXPECT_NEAR(std::sqrt(p.x * p.x + p.z * p.z), 629.6f, 0.1f);
    }
    const uint16_t* index = dome.getIndices();
    for (int32_t i = 0; i < 52320; ++i)
        ASSERT_LT(index[i], 8801);
    // The first ring fans around the top; the last triangle closes ring 55.
    EXPECT_EQ((std::array<uint16_t, 3>{index[0], index[1], index[2]}), (std::array<uint16_t, 3>{0, 1, 2}));
    EXPECT_EQ((std::array<uint16_t, 3>{index[477], index[478], index[479]}), (std::array<uint16_t, 3>{0, 160, 1}));
    EXPECT_EQ((std::array<uint16_t, 3>{index[52317], index[52318], index[52319]}),
              (std::array<uint16_t, 3>{8800, 8641, 8481}));

    const BoundingBox& box = *dome.getBounds();
    EXPECT_NEAR(box.maximum.y, 286.67f, 0.01f);
    EXPECT_NEAR(box.minimum.y, -120.3f, 0.1f);
    EXPECT_NEAR(box.maximum.x, 629.6f, 0.1f);
    EXPECT_NEAR(box.minimum.z, -629.6f, 0.1f);
    EXPECT_NEAR(box.radius, (box.maximum - box.center).length(), 1e-3f);
}

TEST(SkyDome, BoxOfTheShaperGrowsOverTheDome)
{
    Dome dome(String(L"Dome"));
    BoundingBox start{{}, 7.0f, 49.0f, {-1000.0f, 0.0f, 0.0f}, {0.0f, 1000.0f, 0.0f}};
    dome.setBounds(start);
    makeDome(dome, {}, {1.0f, 1.0f, 1.0f}, 0.5f);
    const BoundingBox& box = *dome.getBounds();
    EXPECT_EQ(box.minimum.x, -1000.0f);
    EXPECT_EQ(box.maximum.y, 1000.0f);
    EXPECT_NEAR(box.maximum.x, 1.0f, 1e-6f);
    EXPECT_NEAR(box.minimum.y, 0.0f, 1e-6f); // a cut of 0.5 reaches the horizontal
    EXPECT_NEAR(box.center.x, -499.5f, 1e-3f);
    EXPECT_EQ(box.radius, 7.0f);
    EXPECT_EQ(box.radiusSq, 49.0f);
}

struct TreeCount
{
    int nodes = 0, leaves = 0;
    int32_t vertices = 0, indices = 0;
    std::vector<uint16_t> numbers;
};

void walk(Node* node, TreeCount& count)
{
    if (!node)
        return;
    ++count.nodes;
    count.numbers.push_back(node->number);
    if (node->mesh) {
        ++count.leaves;
        const int32_t triangles = *node->mesh->getIndexCount() / 3;
        EXPECT_TRUE(triangles == 272 || triangles == 273) << triangles;
        count.vertices += *node->mesh->getVertexCount();
        count.indices += *node->mesh->getIndexCount();
        EXPECT_EQ(node->children[0], nullptr);
    }
    walk(node->children[0], count);
    walk(node->children[1], count);
}

TEST(SkyPatches, SixtyFourWeldedLeaves)
{
    Dome dome(String(L"Dome"));
    makeSceneDome(dome);
    uint16_t nodes = 0;
    std::unique_ptr<Node> root(AnimatedSky::buildPatches(dome, nodes));
    ASSERT_TRUE(root);
    EXPECT_EQ(nodes, 127);
    TreeCount count;
    walk(root.get(), count);
    EXPECT_EQ(count.nodes, 127);
    EXPECT_EQ(count.leaves, 64);
    EXPECT_EQ(count.indices, 52320);
    EXPECT_LT(count.vertices, 52320);
    EXPECT_GT(count.vertices, 8801);
    for (size_t i = 0; i < count.numbers.size(); ++i)
        EXPECT_EQ(count.numbers[i], i); // pre-order

    // Every leaf triangle is a dome triangle, corner for corner, and a leaf
    // holds each position once.
    using Key = std::array<float, 9>;
    auto keyOf = [](const vec3d& a, const vec3d& b, const vec3d& c) {
        return Key{a.x, a.y, a.z, b.x, b.y, b.z, c.x, c.y, c.z};
    };
    std::set<Key> domeTriangles;
    const uint16_t* index = dome.getIndices();
    for (int32_t t = 0; t < 17440; ++t)
        domeTriangles.insert(keyOf(positionOf(dome, index[3 * t]), positionOf(dome, index[3 * t + 1]),
                                   positionOf(dome, index[3 * t + 2])));
    std::vector<Node*> stack{root.get()};
    while (!stack.empty()) {
        Node* node = stack.back();
        stack.pop_back();
        if (!node->mesh) {
            stack.push_back(node->children[0]);
            stack.push_back(node->children[1]);
            continue;
        }
        Dome& leaf = *node->mesh;
        const int32_t vertices = *leaf.getVertexCount();
        std::set<std::array<float, 3>> positions;
        for (int32_t v = 0; v < vertices; ++v) {
            const vec3d& p = positionOf(leaf, v);
            positions.insert({p.x, p.y, p.z});
            EXPECT_TRUE(p.x >= node->box.minimum.x && p.x <= node->box.maximum.x && p.y >= node->box.minimum.y &&
                        p.y <= node->box.maximum.y);
        }
        EXPECT_EQ(int32_t(positions.size()), vertices);
        const uint16_t* li = leaf.getIndices();
        for (int32_t t = 0; t < *leaf.getIndexCount() / 3; ++t) {
            ASSERT_LT(std::max({li[3 * t], li[3 * t + 1], li[3 * t + 2]}), vertices);
            EXPECT_TRUE(domeTriangles.count(keyOf(positionOf(leaf, li[3 * t]), positionOf(leaf, li[3 * t + 1]),
                                                  positionOf(leaf, li[3 * t + 2]))));
        }
    }
}

TEST(SkyPatches, MeshWithoutTrianglesGivesNoTree)
{
    Dome empty(String(L"Empty"));
    uint16_t nodes = 9;
    EXPECT_EQ(AnimatedSky::buildPatches(empty, nodes), nullptr);
    EXPECT_EQ(nodes, 0);

    // Triangles naming vertices the mesh lacks are left out.
    Dome broken(String(L"Broken"));
    for (int32_t i = 0; i < 3; ++i)
        *broken.getVertexData(i)->position = {float(i), float(i * i), 1.0f};
    *broken.getVertexCount() = 3;
    broken.addTriangle(0, 1, 2);
    broken.addTriangle(0, 1, 7);
    std::unique_ptr<Node> root(AnimatedSky::buildPatches(broken, nodes));
    ASSERT_TRUE(root);
    EXPECT_EQ(nodes, 1);
    ASSERT_TRUE(root->mesh);
    EXPECT_EQ(*root->mesh->getIndexCount(), 3);
}

TEST(SkyPatches, WithoutBuffersTheDomeStaysReleased)
{
    ASSERT_EQ(gDevice, nullptr);
    LightRecord light;
    AnimatedSky sky(light);
    EXPECT_FALSE(sky.build(nullptr, -255.0f, 1.2f, 650.0f));
    EXPECT_EQ(sky.root, nullptr);
    EXPECT_EQ(sky.nodeCount, 0);
    EXPECT_EQ(sky.patches, nullptr);
}

// A sky on a light of its own, with the colours it reports.
struct SkyUnderSun : AnimatedSky::Interface
{
    explicit SkyUnderSun(vec3d direction) : sky(light)
    {
        light.direction = direction;
        sky.listener = this;
        sky.update();
    }
    void onSunTint(const float* c) override { tint = {c[0], c[1], c[2], c[3]}; }
    void onHorizonColour(const float* c) override { horizon = {c[0], c[1], c[2], c[3]}; }

    void expectTerm(float r, float g, float b)
    {
        EXPECT_NEAR(sky.term[0], r, 1e-5f);
        EXPECT_NEAR(sky.term[1], g, 1e-5f);
        EXPECT_NEAR(sky.term[2], b, 1e-5f);
    }

    LightRecord light;
    AnimatedSky sky;
    std::array<float, 4> tint{}, horizon{};
};

// The sunset glow colour B.
constexpr float glow[3] = {209.0f / 255.0f, 121.0f / 255.0f, 38.0f / 255.0f};

TEST(SkyColour, SunOverhead)
{
    SkyUnderSun s({0.0f, 1.0f, 0.0f});
    EXPECT_EQ(s.sky.elevation, 1.0f);
    EXPECT_EQ(s.sky.brightness, 1.0f);
    EXPECT_FLOAT_EQ(s.sky.band, 0.2f);
    EXPECT_EQ(s.tint, (std::array<float, 4>{1.0f, 1.0f, 1.0f, 0.0f}));
    const vec3d horizon{1.0f, 0.0f, 0.0f};
    s.sky.colourDirection(horizon);
    s.sky.sunsetTerm(horizon);
    s.expectTerm(glow[0] * 0.06f, glow[1] * 0.06f, glow[2] * 0.06f);

    // Straight up, into the sun: the day sky, the halo and the glare.
    s.sky.colourDirection({0.0f, 1.0f, 0.0f});
    const Color c = s.sky.vertexColour();
    EXPECT_NEAR(c.r, (33.0f / 255.0f + 0.25f + 0.15f) * 255.0f, 1.0f);
    EXPECT_NEAR(c.g, (103.0f / 255.0f + 0.25f + 0.15f) * 255.0f, 1.0f);
    EXPECT_NEAR(c.b, (171.0f / 255.0f + 0.15f) * 255.0f, 1.0f);
    EXPECT_EQ(c.a, 255);
    EXPECT_EQ(s.sky.accumulated[3], 0.0f);
}

TEST(SkyColour, SunOnTheHorizon)
{
    SkyUnderSun s({1.0f, 0.0f, 0.0f});
    EXPECT_EQ(s.sky.elevation, 0.0f);
    EXPECT_FLOAT_EQ(s.sky.brightness, 0.51f);
    EXPECT_EQ(s.sky.band, 1.0f);
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(s.tint[c], glow[c] * 0.65f + 0.35f, 1e-5f);
    EXPECT_EQ(s.tint[3], 0.0f);

    // The horizon report is the mean of the camera's level forward (here +z)
    // and the directions 44 degrees to either side.
    Camera camera;
    camera.forward = {0.0f, 0.6f, 0.8f};
    Camera* saved = gCamera;
    gCamera = &camera;
    s.sky.update();
    gCamera = saved;
    float sum[3] = {};
    for (float a : {-0.767944872f, 0.0f, 0.767944872f}) {
        s.sky.colourDirection({std::sin(a), 0.0f, std::cos(a)});
        for (int c = 0; c < 3; ++c)
            sum[c] += s.sky.accumulated[c];
    }
    for (int c = 0; c < 3; ++c)
        EXPECT_NEAR(s.horizon[c], sum[c] / 3.0f, 1e-5f);
    EXPECT_EQ(s.horizon[3], 0.0f);
    // The sunset warms the sun's side of the horizon.
    s.sky.colourDirection({1.0f, 0.0f, 0.0f});
    const Color towards = s.sky.vertexColour();
    s.sky.colourDirection({-1.0f, 0.0f, 0.0f});
    const Color away = s.sky.vertexColour();
    EXPECT_GT(towards.r - towards.b, away.r - away.b + 40);
}

TEST(SkyColour, SunBelow)
{
    SkyUnderSun s({0.0f, -1.0f, 0.0f});
    EXPECT_EQ(s.sky.elevation, -1.0f);
    EXPECT_EQ(s.sky.brightness, 0.0f);
    EXPECT_EQ(s.sky.band, 0.0f);
    for (const vec3d& d : {vec3d{1.0f, 0.0f, 0.0f}, vec3d{0.0f, 1.0f, 0.0f}, vec3d{0.6f, -0.8f, 0.0f}}) {
        s.sky.hazeTerm(d);
        s.expectTerm(0.0f, 0.0f, 0.0f);
    }

    // In the twilight the sunset turns towards the blue side.
    const float below = -9.0f / 57.29578f;
    SkyUnderSun t({std::cos(below), std::sin(below), 0.0f});
    EXPECT_NEAR(t.sky.elevation, -0.1f, 1e-5f);
    const float g = 1.0f - 0.9f * 0.9f * 0.9f;
    EXPECT_NEAR(t.sky.band, 1.0f - g, 1e-5f);
    const vec3d towards{1.0f, 0.0f, 0.0f};
    t.sky.colourDirection(towards);
    t.sky.sunsetTerm(towards);
    const float v = (1.0f - std::acos(std::cos(below)) / 3.14159265f * 1.4f) * (1.0f - g);
    const float blueSide[3] = {39.0f / 255.0f, 96.0f / 255.0f, 171.0f / 255.0f};
    t.expectTerm((glow[0] * (1.0f - g) + blueSide[0] * g) * v, (glow[1] * (1.0f - g) + blueSide[1] * g) * v,
                 (glow[2] * (1.0f - g) + blueSide[2] * g) * v);
}

TEST(SkyColour, StraightAtTheSun)
{
    SkyUnderSun s(vec3d{0.6f, 0.8f, 0.0f});
    s.sky.colourDirection({0.6f, 0.8f, 0.0f});
    EXPECT_NEAR(s.sky.sunAngle, 0.0f, 1e-3f);
    s.sky.sunAngle = 0.0f;
    s.sky.haloTerm();
    s.expectTerm(0.25f, 0.25f, 0.0f);
    s.sky.glareTerm();
    s.expectTerm(0.15f, 0.15f, 0.15f);
    // Opposite the sun neither halo nor glare remain.
    s.sky.sunAngle = 1.0f;
    s.sky.haloTerm();
    s.expectTerm(0.0f, 0.0f, 0.0f);
    s.sky.glareTerm();
    s.expectTerm(0.0f, 0.0f, 0.0f);
}

TEST(SkyColour, RateFollowsTheSunsTurn)
{
    SkyUnderSun s({0.0f, 1.0f, 0.0f});
    EXPECT_EQ(s.sky.updateRate, 0.0f);
    const float w = 0.004f;
    s.light.direction = {std::sin(w), std::cos(w), 0.0f};
    s.sky.update();
    EXPECT_NEAR(s.sky.updateRate, w * 130.0f * 0.5f, 1e-3f);
    const float moving = s.sky.updateRate;
    s.sky.update();
    EXPECT_FLOAT_EQ(s.sky.updateRate, moving * 0.99f);
    s.light.direction = {1.0f, 0.0f, 0.0f};
    s.sky.update();
    EXPECT_EQ(s.sky.updateRate, 1.0f);
    EXPECT_EQ(s.sky.lastSunDirection, s.light.direction);
    EXPECT_EQ(s.sky.frameStamp, 4u);
}

// One patch of n vertices recoloured frame after frame at rate 0.5: the
// vertices each frame writes.
std::vector<int> recolouredPerFrame(uint32_t n, int frames, bool dirty)
{
    LightRecord light;
    AnimatedSky sky(light);
    sky.update();
    sky.updateRate = 0.5f;
    AnimatedSky::Patch patch;
    patch.vertexCount = n;
    patch.vertexBase = 3;
    patch.dirty = dirty;
    patch.directions.reset(new vec3d[n]);
    for (uint32_t k = 0; k < n; ++k)
        patch.directions[k] = {0.0f, 1.0f, 0.0f};
    std::vector<AnimatedSky::Vertex> buffer(n + 6);
    std::vector<int> written;
    for (int f = 0; f < frames; ++f) {
        for (AnimatedSky::Vertex& v : buffer)
            v.colour = Color(1, 2, 3, 4);
        patch.recolouredThisFrame = 0;
        sky.recolourPatch(patch, buffer.data());
        EXPECT_EQ(patch.recolouredThisFrame, 1u);
        int count = 0;
        for (size_t k = 0; k < buffer.size(); ++k)
            if (buffer[k].colour != Color(1, 2, 3, 4)) {
                EXPECT_TRUE(k >= 3 && k < n + 3) << k;
                ++count;
            }
        written.push_back(count);
    }
    return written;
}

TEST(SkyRecolour, AShareOfTheVerticesPerFrame)
{
    EXPECT_EQ(recolouredPerFrame(816, 4, false), (std::vector<int>{408, 408, 408, 408}));
    // 819 x 0.5 gives 409 a frame; the third frame finishes the last vertex
    // and starts the patch over.
    EXPECT_EQ(recolouredPerFrame(819, 4, false), (std::vector<int>{409, 409, 1, 409}));
    // A dirty patch is recoloured whole, then goes on from its cursor.
    EXPECT_EQ(recolouredPerFrame(819, 3, true), (std::vector<int>{819, 409, 409}));
}


// Whether a frame's recolouring writes anything (and so locks the buffer):
// a visible patch not yet recoloured this frame that is dirty or whose share
// is at least one vertex.
TEST(SkyRecolour, PendingOnlyWithVerticesToWrite)
{
    struct PatchState
    {
        uint32_t vertexCount;
        uint32_t dirty;
        uint32_t recoloured;
    };
    struct Case
    {
        const char* name;
        float rate;
        std::vector<PatchState> patches;
        bool pending;
    } cases[] = {
        {"nothing visible", 1.0f, {}, false},
        {"a share of one vertex", 0.1f, {{10, 0, 0}}, true},
        {"a share of less than one", 0.05f, {{10, 0, 0}}, false},
        {"a dirty patch at rate 0", 0.0f, {{10, 1, 0}}, true},
        {"recoloured already, dirty", 1.0f, {{10, 1, 1}}, false},
        {"the second patch pending", 1.0f, {{10, 0, 1}, {10, 0, 0}}, true},
        {"both done", 1.0f, {{10, 0, 1}, {10, 1, 1}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LightRecord light;
        AnimatedSky sky(light);
        sky.updateRate = c.rate;
        std::vector<AnimatedSky::Patch> patches(c.patches.size());
        sky.visible.reset(new AnimatedSky::Patch*[c.patches.size() + 1]);
        sky.visibleCount = int32_t(c.patches.size());
        for (size_t i = 0; i < c.patches.size(); ++i) {
            patches[i].vertexCount = c.patches[i].vertexCount;
            patches[i].dirty = c.patches[i].dirty;
            patches[i].recolouredThisFrame = c.patches[i].recoloured;
            sky.visible[i] = &patches[i];
        }
        EXPECT_EQ(sky.recolourPending(), c.pending);
    }
}

}
