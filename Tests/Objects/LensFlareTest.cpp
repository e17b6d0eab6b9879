// The lens flare on a swap chain without device: the block read back and
// refused when damaged, brightness over the cone, size over distance, the
// occlusion fade, the views that would give no number, and the gate that
// attaches and removes its flares as it is marked.
#include "ObjectFunctionsWorld.h"

#include "Objects/CollectGate.h"
#include "Objects/LensFlare.h"

#include <cmath>
#include <cstring>
#include <vector>

using namespace ObjectFunctionsTests;
using LensFlare = ObjPkgManager::Functions::LensFlare;

namespace {

void fill(FileArray& stream, const std::vector<uint8_t>& bytes)
{
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
}

std::vector<uint8_t> blockOf(const FunctionsRecordWriter::LensFlare& flares)
{
    FileArray out(4096);
    EXPECT_TRUE(FunctionsRecordWriter::writeLensFlare(out, flares));
    return {out.memory(), out.memory() + out.size()};
}

bool finite(const matrix3d& m)
{
    for (float v : m.m)
        if (!std::isfinite(v))
            return false;
    return true;
}

// One flare at the origin, facing +z, of cone, scale and colour, shown by
// an instance without owner on a chain without device.
struct OneFlare
{
    explicit OneFlare(float cone = 40.0f, float scale = 1.0f)
    {
        FunctionsRecordWriter::LensFlare block;
        block.flares[0].coneAngle = cone;
        block.flares[0].scale = scale;
        block.flares[0].colour = {40, 120, 200, 255};
        FileArray stream(256);
        fill(stream, blockOf(block));
        EXPECT_TRUE(flares.load(stream));
        instance.reset(flares.createInstance(&chain, nullptr));
        instance->update();
    }
    LensFlare::Instance::Object& object() { return *instance->object(0); }
    // The viewer at eye, then one frame: update, the frame's preparation and
    // the placement by two passes (the frame's own and the water's mirror).
    void view(const vec3d& eye)
    {
        chain.position = eye;
        instance->update();
        instance->prepareRender();
        instance->beforeRender(matrix3d::identity());
        instance->beforeRender(matrix3d::identity());
    }

    D3D::Device::SwapChain chain{nullptr};
    LensFlare flares{nullptr};
    std::unique_ptr<LensFlare::Instance> instance;
};

}

// The builder's gate flares read back; tag 2 before tag 1 reads none; a
// count past the data, a block cut short and values that are no numbers.
TEST(LensFlare, TheBlockReadsBackAndRefusesDamage)
{
    const FunctionsRecordWriter::LensFlare sample = ObjectPackageSamples::gateFlares();
    const std::vector<uint8_t> block = blockOf(sample);
    FileArray stream(4096);
    fill(stream, block);
    LensFlare flares(nullptr);
    ASSERT_EQ(flares.flares.size(), 1u) << "a new template has one flare";
    ASSERT_TRUE(flares.load(stream));
    ASSERT_EQ(flares.flares.size(), sample.flares.size());
    for (size_t i = 0; i < sample.flares.size(); ++i) {
        const LensFlare::Flare& f = *flares.flares[i];
        const auto& w = sample.flares[i];
        EXPECT_EQ(f.position, vec3d(w.position[0], w.position[1], w.position[2])) << i;
        EXPECT_EQ(f.scale, vec3d(w.scale, w.scale, w.scale)) << i;
        EXPECT_EQ(f.coneAngle, w.coneAngle) << i;
        EXPECT_EQ(f.colour, Color(w.colour[2], w.colour[1], w.colour[0], w.colour[3])) << i;
        EXPECT_EQ(f.box.center, f.position) << i;
        EXPECT_EQ(f.box.halfExtents, vec3d(0.5f, 0.5f, 0.05f)) << i;
    }

    struct Case
    {
        const char* what;
        std::vector<uint32_t> words;
        bool whole;
        size_t count;
        float cone;
    };
    const uint32_t nan = 0x7FC00000u;
    const Case cases[] = {
        {"tag 2 before tag 1", {2, 1, 1, 0}, true, 0, 0.0f},
        {"a count past the data", {1, 200, 2, 4, 0x42000000u, 0}, false, 0, 0.0f},
        {"a count past any sense", {1, 0x7FFFFFFFu, 2, 0}, false, 0, 0.0f},
        {"a cone that is no number", {1, 1, 2, 4, nan, 0, 0}, true, 1, 50.0f},
        {"a flare cut short", {1, 1, 2, 1, 0x3F800000u}, false, 1, 50.0f},
        {"tags either stream skips", {9, 1, 1, 2, 9, 4, 0x42000000u, 0, 0}, true, 1, 32.0f},
    };
    for (const Case& c : cases) {
        FileArray words(64);
        words.write(c.words.data(), uint32_t(c.words.size() * 4));
        words.seek(0, 0);
        LensFlare damaged(nullptr);
        EXPECT_EQ(damaged.load(words), c.whole) << c.what;
        ASSERT_EQ(damaged.flares.size(), c.count) << c.what;
        if (c.count)
            EXPECT_EQ(damaged.flares[0]->coneAngle, c.cone) << c.what;
    }
    for (size_t cut = 0; cut < block.size(); ++cut) {
        FileArray part(4096);
        fill(part, {block.begin(), block.begin() + std::ptrdiff_t(cut)});
        LensFlare damaged(nullptr);
        damaged.load(part);
        ASSERT_LE(damaged.flares.size(), sample.flares.size()) << cut;
    }
}

// Along the forward axis: full brightness; towards the cone angle it dims
// as q^0.22 and at it the flare hides. The size grows as |P - E|^0.4; the
// texture layers turn against each other with the viewer's offset.
TEST(LensFlare, BrightnessFollowsTheConeAndSizeTheDistance)
{
    FrameFactor factor(1.0f);
    OneFlare one(40.0f, 2.0f);
    LensFlare::Instance::Object& o = one.object();
    ASSERT_NE(o.flareSprite, nullptr) << "sprites are made without a sprite manager too";
    ASSERT_NE(o.glowSprite, nullptr);
    EXPECT_EQ(o.flareSprite->hidden, 1u) << "both start hidden";

    one.view({0.0f, 0.0f, -10.0f});
    EXPECT_EQ(o.fade, 0.0f);
    EXPECT_EQ(o.colour, Color(200, 120, 40, 255)) << "full brightness on the axis";
    EXPECT_EQ(o.flareSprite->hidden, 0u);
    EXPECT_EQ(o.glowSprite->hidden, 0u);
    const float close = o.flareSprite->world.row(0).length();
    EXPECT_NEAR(close, std::pow(100.0f, 0.2f) * 2.0f, 1e-4f);
    EXPECT_NEAR(o.glowSprite->world.row(1).length(), close * 2.6f, 1e-4f);
    EXPECT_EQ(o.flareSprite->world.row(3), vec3d());
    auto* glow = dynamic_cast<SpriteManager::Rendersettings*>(o.glowSprite->settings);
    ASSERT_NE(glow, nullptr);
    EXPECT_EQ(glow->textureFactor, Color(200, 120, 40, 255));
    EXPECT_EQ(glow->destinationBlend, uint32_t(D3DBLEND_ONE));
    EXPECT_EQ(glow->depthTest, 0u);
    // The quad faces the viewer: its normal (row 2) runs along the sight line.
    EXPECT_NEAR(o.flareSprite->world.row(2).normalised().z, 1.0f, 1e-6f);

    one.view({0.0f, 0.0f, -100.0f});
    EXPECT_NEAR(o.flareSprite->world.row(0).length() / close, std::pow(10.0f, 0.4f), 1e-3f);
    EXPECT_NEAR(o.flareSprite->textureRotation[0], -0.5f * 1000.0f, 1e-2f);
    EXPECT_NEAR(o.flareSprite->textureRotation[1], 1.5f * 1000.0f, 1e-2f);

    struct Case
    {
        float degrees; // between the forward axis and the sight line
        bool shown;
    };
    for (const Case& c : {Case{20.0f, true}, Case{39.5f, true}, Case{40.5f, false}, Case{90.0f, false},
                          Case{170.0f, false}}) {
        const float a = c.degrees * 0.017453292f;
        one.view({-10.0f * std::sin(a), 0.0f, -10.0f * std::cos(a)});
        const float q = std::max(0.0f, (40.0f - c.degrees) / 40.0f);
        const float b = std::pow(q, 0.22f);
        EXPECT_NEAR(o.colour.r, std::lround(200.0f * b), 1.0f) << c.degrees;
        if (!c.shown)
            EXPECT_EQ(o.colour, Color(0, 0, 0, 0)) << c.degrees;
        EXPECT_EQ(o.flareSprite->hidden, c.shown ? 0u : 1u) << c.degrees;
        EXPECT_EQ(o.glowSprite->hidden, c.shown ? 0u : 1u) << c.degrees;
    }
}

// Reported occluded the flare fades out over about ten frames; cleared it
// is back in the same frame.
TEST(LensFlare, AnOccludedFlareFadesAndComesBackAtOnce)
{
    FrameFactor factor(1.0f);
    OneFlare one;
    LensFlare::Instance::Object& o = one.object();
    one.view({0.0f, 0.0f, -10.0f});
    ASSERT_EQ(o.colour.r, 200);
    one.flares.occlusion.at(0)->occluded = 1;
    int frames = 0;
    for (; frames < 20 && !o.flareSprite->hidden; ++frames)
        one.view({0.0f, 0.0f, -10.0f});
    EXPECT_GE(frames, 9);
    EXPECT_LE(frames, 11);
    one.flares.occlusion.at(0)->occluded = 0;
    one.view({0.0f, 0.0f, -10.0f});
    EXPECT_EQ(o.colour.r, 200) << "back at once";
    EXPECT_EQ(o.flareSprite->hidden, 0u);
    // The point follows the flare sprite's place.
    EXPECT_EQ(one.flares.occlusion.at(0)->position, o.flareSprite->world.row(3));
}

// Seen from straight above or below, at its own place, or with a cone of 0
// or less, the flare hides, and no number that is none reaches a sprite.
TEST(LensFlare, ViewsWithoutADirectionHideTheFlare)
{
    FrameFactor factor(1.0f);
    for (float cone : {40.0f, 0.0f, -5.0f}) {
        OneFlare one(cone);
        LensFlare::Instance::Object& o = one.object();
        for (const vec3d& eye : {vec3d(0.0f, 10.0f, 0.0f), vec3d(0.0f, -3.0f, 0.0f), vec3d(), vec3d(0.0f, 0.0f, -8.0f)}) {
            one.view(eye);
            const bool sound = cone > 0.0f && eye.z != 0.0f;
            EXPECT_EQ(o.flareSprite->hidden, sound ? 0u : 1u) << cone << " " << eye.y;
            EXPECT_TRUE(finite(o.flareSprite->world)) << cone << " " << eye.y;
            EXPECT_TRUE(finite(o.glowSprite->world)) << cone << " " << eye.y;
        }
    }
}

// Marking the sample gate attaches one flare instance of its package's
// flares under 0x80; unmarking removes it; marking twice keeps one.
TEST(LensFlare, AMarkedGateCarriesItsFlares)
{
    World world;
    DynObject* gate = world.place(L"Gate", {});
    ASSERT_NE(gate, nullptr);
    ASSERT_NE(world.package(L"Gate")->functions.lensFlare, nullptr);
    auto* entry = gate->functions->find(0x40);
    ASSERT_NE(entry, nullptr);
    auto* marker = dynamic_cast<ObjPkgManager::Functions::Gate::Instance*>(entry->instance);
    ASSERT_NE(marker, nullptr);
    EXPECT_EQ(gate->functions->find(LensFlare::flag), nullptr);
    marker->setMarked(true);
    auto* flares = gate->functions->find(LensFlare::flag);
    ASSERT_NE(flares, nullptr);
    ObjectFuncInstInterface* first = flares->instance;
    marker->setMarked(true);
    EXPECT_EQ(gate->functions->find(LensFlare::flag)->instance, first);
    EXPECT_EQ(gate->functions->count, 2);
    gate->prepare();
    auto* instance = dynamic_cast<LensFlare::Instance*>(first);
    ASSERT_NE(instance, nullptr);
    EXPECT_EQ(instance->builtCount, 4);
    marker->setMarked(false);
    EXPECT_EQ(gate->functions->find(LensFlare::flag), nullptr);
    EXPECT_EQ(gate->functions->count, 1);

    // A second gate of the package shares the template's points.
    DynObject* other = world.place(L"Gate", {30.0f, 0.0f, 0.0f});
    auto* otherMarker =
        dynamic_cast<ObjPkgManager::Functions::Gate::Instance*>(other->functions->find(0x40)->instance);
    marker->setMarked(true);
    otherMarker->setMarked(true);
    gate->prepare();
    other->prepare();
    EXPECT_EQ(world.package(L"Gate")->functions.lensFlare->occlusion.count() >= 4, true);
}

// The flares' editing side works on the selected flare: a pick remembers
// the first flare hit, markModified selects it and puts its cone angle on
// the slider, and each change re-places that flare and its box; one scale
// value for all three.
TEST(LensFlare, TheEditorEditsItsSelectedFlare)
{
    FunctionsRecordWriter::LensFlare three;
    three.flares.assign(3, FunctionsRecordWriter::LensFlare::Flare{});
    for (size_t i = 0; i < 3; ++i) {
        three.flares[i].position = {10.0f * float(i), 5.0f, 0.0f};
        three.flares[i].coneAngle = 30.0f + 10.0f * float(i);
    }
    FileArray stream(1024);
    fill(stream, blockOf(three));
    LensFlare flares(nullptr);
    ASSERT_TRUE(flares.load(stream));
    ASSERT_EQ(flares.flares.size(), 3u);
    EXPECT_EQ(&flares.getBox(), &flares.flares[0]->box) << "the first flare is selected";
    EXPECT_TRUE(flares.canMove() && flares.canRotate() && flares.canScale());
    EXPECT_EQ(flares.scaleLocks(), 1u);
    EXPECT_EQ(&flares.scaleBox(), &flares.getBox());

    // A ray along -z into the third flare's face.
    const LensFlare::Flare& third = *flares.flares[2];
    float t = 0.0f;
    ASSERT_TRUE(flares.hitTest(third.position + vec3d(0.0f, 0.0f, 40.0f), {0.0f, 0.0f, -1.0f}, t));
    EXPECT_EQ(flares.picked, 2);
    EXPECT_NEAR(t, 39.95f, 1e-3f);
    EXPECT_EQ(flares.selected, 0) << "picking alone selects nothing";
    EXPECT_EQ(flares.modified, 0u);
    flares.markModified();
    EXPECT_EQ(flares.selected, 2);
    EXPECT_EQ(flares.modified, 1u);
    EXPECT_EQ(flares.sliderValue, 50.0f);
    EXPECT_EQ(flares.selectedFlare(), &third);
    EXPECT_FALSE(flares.hitTest({0.0f, 500.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, t)) << "a ray past every flare";
    EXPECT_EQ(flares.picked, 2) << "a miss keeps the last pick";

    flares.setPosition({1.0f, 2.0f, 3.0f});
    flares.setScaleX(2.0f);
    flares.setRotation({0.0f, 90.0f, 0.0f});
    vec3d position, angles, pivot;
    flares.getPosition(position);
    flares.getAngles(angles);
    flares.getPivot(pivot);
    EXPECT_EQ(position, vec3d(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(pivot, position);
    EXPECT_EQ(angles, vec3d(0.0f, 90.0f, 0.0f));
    EXPECT_EQ(flares.getScaleX(), 2.0f);
    EXPECT_EQ(third.scale, vec3d(2.0f, 2.0f, 2.0f));
    EXPECT_EQ(third.placement.row(3), position);
    EXPECT_NEAR(third.placement.at(2, 0), 2.0f, 1e-5f) << "turned and scaled";
    EXPECT_EQ(flares.getBox().center, position);
    EXPECT_NEAR(flares.getBox().axes[2].x, 2.0f, 1e-5f) << "the box turns with the flare";
    EXPECT_EQ(flares.flares[0]->position, vec3d(0.0f, 5.0f, 0.0f)) << "the others stay";
    EXPECT_EQ(flares.flares[1]->scale, vec3d(1.0f, 1.0f, 1.0f));

    // A pick of another flare selects that one.
    ASSERT_TRUE(flares.hitTest(vec3d(10.0f, 5.0f, -30.0f), {0.0f, 0.0f, 1.0f}, t));
    EXPECT_EQ(flares.picked, 1);
    flares.markModified();
    EXPECT_EQ(flares.selected, 1);
    EXPECT_EQ(flares.sliderValue, 40.0f);

    // Without flares every operation leaves what it is given.
    LensFlare none(nullptr);
    none.flares.clear();
    none.selected = -1;
    vec3d kept(7.0f, 8.0f, 9.0f);
    none.getPosition(kept);
    none.getAngles(kept);
    none.setPosition({1.0f, 1.0f, 1.0f});
    none.setScaleX(3.0f);
    none.setRotation({1.0f, 2.0f, 3.0f});
    none.markModified();
    EXPECT_EQ(kept, vec3d(7.0f, 8.0f, 9.0f));
    EXPECT_EQ(none.getScaleX(), 0.0f);
    EXPECT_EQ(none.getBox().halfExtents, vec3d());
    EXPECT_FALSE(none.hitTest({}, {0.0f, 0.0f, 1.0f}, t));
    EXPECT_EQ(none.modified, 1u);
}

// An instance follows its template's flares when they are read again, even
// when there are as many as before: its objects never name a flare that
// went with the earlier read.
TEST(LensFlare, AnInstanceFollowsFlaresReadAgain)
{
    OneFlare one;
    ASSERT_EQ(one.instance->builtCount, 1);
    EXPECT_EQ(one.object().flare, one.flares.flares[0].get());
    FunctionsRecordWriter::LensFlare block;
    block.flares[0].coneAngle = 25.0f;
    FileArray stream(256);
    fill(stream, blockOf(block));
    // The earlier flare stays alive here, so that the new one cannot take
    // its address.
    const std::unique_ptr<LensFlare::Flare> earlier = std::move(one.flares.flares[0]);
    ASSERT_TRUE(one.flares.load(stream));
    one.view({0.0f, 0.0f, 100.0f});
    ASSERT_EQ(one.instance->builtCount, 1);
    EXPECT_EQ(one.object().flare, one.flares.flares[0].get());
    EXPECT_EQ(one.object().flare->coneAngle, 25.0f);
}
