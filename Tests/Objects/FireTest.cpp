// Fires: the block's chain of fires and its damaged forms, the instance's
// objects with and without an owner, switching, the flame callback by hand
// (no device; rand seeded).
#include "EffectsTestSupport.h"

#include "EffectPackageSamples.h"
#include "FunctionsRecordWriter.h"
#include "SoundSamples.h"

#include "Objects/Fire.h"

#include "Audio/Sound3D.h"
#include "Audio/SoundInterface.h"

#include <algorithm>
#include <cmath>
#include <random>

using namespace EffectsTests;
using ObjectsTests::Bytes;
using Fire = ObjPkgManager::Functions::Fire;
using Flame = Fire::Instance::Object;

namespace {

Bytes fireBytes(const FunctionsRecordWriter::Fire& fire)
{
    return ObjectsTests::bytesOf(FunctionsRecordWriter::writeFire, fire);
}

// The flicker steps its walk with a strength the test reads back.
class RecordingFlicker final : public LightProj::Flicker
{
public:
    void update(float strength) override
    {
        last = strength;
        offset = {1.0f, 2.0f, 3.0f};
        ++steps;
    }
    float last = -1.0f;
    int steps = 0;
};

}

TEST(Fire, FiresChainThroughTheBlock)
{
    const uint32_t sentinel = 0xC0DE0016u;
    struct Case
    {
        const char* what;
        int flames;
        int kept;
    };
    const Case cases[] = {{"one fire", 1, 1}, {"32 chained", 32, 32}, {"a 33rd is read and dropped", 33, 32}};
    for (const Case& c : cases) {
        FunctionsRecordWriter::Fire written;
        written.flames.assign(size_t(c.flames), FunctionsRecordWriter::Fire::Flame{});
        for (int i = 0; i < c.flames; ++i)
            written.flames[size_t(i)].position = {float(i), 2.0f, 3.0f};
        Bytes bytes = fireBytes(written);
        ObjectsTests::BlockBytes tail;
        tail << sentinel;
        bytes.insert(bytes.end(), tail.bytes.begin(), tail.bytes.end());
        Fire fire(nullptr);
        auto stream = ObjectsTests::streamOf(bytes);
        ASSERT_TRUE(fire.load(*stream)) << c.what;
        ASSERT_EQ(int(fire.fires.size()), c.kept) << c.what;
        EXPECT_EQ(fire.fires.back()->position.x, float(c.kept - 1)) << c.what;
        uint32_t next = 0;
        EXPECT_TRUE(stream->readValue(next)) << c.what;
        EXPECT_EQ(next, sentinel) << c.what << ": what follows the block";
    }
}

TEST(Fire, SampleRoundTripAndPlacement)
{
    const FunctionsRecordWriter::Fire written = EffectPackageSamples::bonfireFlames();
    Fire fire(nullptr);
    auto stream = ObjectsTests::streamOf(fireBytes(written));
    ASSERT_TRUE(fire.load(*stream));
    ASSERT_EQ(fire.fires.size(), written.flames.size());
    for (size_t i = 0; i < written.flames.size(); ++i) {
        const Fire::Entry& e = *fire.fires[i];
        const auto& w = written.flames[i];
        EXPECT_EQ(e.position, vec3d(w.position[0], w.position[1], w.position[2])) << i;
        EXPECT_EQ(e.angles, vec3d(w.angles[0], w.angles[1], w.angles[2])) << i;
        EXPECT_EQ(e.scale, vec3d(w.scale, w.scale, w.scale)) << i;
        const float look[6] = {e.look.brightnessCurve, e.look.spin, e.look.sizeCurve,
                               e.look.endSize, e.look.sizeSpread, e.look.flicker};
        for (int k = 0; k < 6; ++k)
            EXPECT_EQ(look[k], w.look[size_t(k)]) << i << " " << k;
        EXPECT_EQ(e.burningAtStart, w.burningAtStart) << i;
        EXPECT_EQ(e.soundRef != nullptr, !w.sound.empty()) << i;
        // The placement turns and scales; the box sits 0.2 up the fire's
        // own up axis, its axes the placement's rows.
        const matrix3d turn = matrix3d::fromAngles(e.angles);
        for (int r = 0; r < 3; ++r)
            for (int col = 0; col < 3; ++col)
                EXPECT_NEAR(e.placement.at(r, col), turn.at(r, col) * w.scale, 1e-5f) << i;
        EXPECT_EQ(e.placement.row(3), e.position) << i;
        ObjectsTests::expectNear(e.box.center, e.position + e.placement.row(1) * 0.2f, 1e-5f, "box centre");
        EXPECT_EQ(e.box.halfExtents, vec3d(0.2f, 0.2f, 0.2f)) << i;
    }
    // A new template has one fire with the defaults.
    Fire fresh(nullptr);
    ASSERT_EQ(fresh.fires.size(), 1u);
    EXPECT_EQ(fresh.fires[0]->look.spin, 0.5f);
    EXPECT_EQ(fresh.fires[0]->burningAtStart, 1u);
}

TEST(Fire, DamagedBlocks)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const Bytes wav = SoundSamples::wav(SoundSamples::click());
    struct Case
    {
        const char* what;
        ObjectsTests::BlockBytes bytes;
        bool whole;
        float scale;
        bool sound;
    };
    std::vector<Case> cases;
    {
        Case c{"a non-finite scale keeps the default", {}, true, 1.0f, false};
        c.bytes << uint32_t(3) << nan << uint32_t(0);
        cases.push_back(std::move(c));
    }
    {
        Case c{"sound type 1 with 0 bytes burns silently", {}, true, 1.0f, false};
        c.bytes << uint32_t(10) << uint32_t(1) << uint32_t(0) << uint32_t(0);
        cases.push_back(std::move(c));
    }
    {
        Case c{"sound type 3 is silent", {}, true, 1.0f, false};
        c.bytes << uint32_t(10) << uint32_t(3) << uint32_t(wav.size());
        c.bytes.append(wav) << uint32_t(0);
        cases.push_back(std::move(c));
    }
    {
        Case c{"sound type 1 with a wav", {}, true, 1.0f, true};
        c.bytes << uint32_t(10) << uint32_t(1) << uint32_t(wav.size());
        c.bytes.append(wav) << uint32_t(0);
        cases.push_back(std::move(c));
    }
    {
        Case c{"a sized block past the data", {}, false, 2.0f, false};
        c.bytes << uint32_t(3) << 2.0f << uint32_t(10) << uint32_t(1) << uint32_t(5000) << uint32_t(7);
        cases.push_back(std::move(c));
    }
    {
        Case c{"cut inside the position", {}, false, 1.0f, false};
        c.bytes << uint32_t(1) << 1.0f;
        cases.push_back(std::move(c));
    }
    {
        Case c{"unknown tags carry nothing", {}, true, 4.0f, false};
        c.bytes << uint32_t(40) << uint32_t(3) << 4.0f << uint32_t(0);
        cases.push_back(std::move(c));
    }
    for (const Case& c : cases) {
        Fire fire(nullptr);
        auto stream = ObjectsTests::streamOf(c.bytes.bytes);
        EXPECT_EQ(fire.load(*stream), c.whole) << c.what;
        ASSERT_EQ(fire.fires.size(), 1u) << c.what;
        EXPECT_EQ(fire.fires[0]->scale.y, c.scale) << c.what;
        EXPECT_EQ(fire.fires[0]->soundRef != nullptr, c.sound) << c.what;
    }
}

TEST(Fire, FlameColoursSizesAndAgeByHand)
{
    Clock clock;
    World world;
    Fire fire(nullptr);
    Fire::Entry& entry = *fire.fires[0];
    entry.look.brightnessCurve = 0.5f;
    entry.look.sizeCurve = 0.125f; // g = t
    Fire::Instance instance(fire, &world.chain, nullptr);
    Flame* flame = instance.object(0);
    ASSERT_NE(flame, nullptr);
    ASSERT_NE(flame->system, nullptr);
    Flame::System& system = *flame->system;
    system.emitterPosition = {10.0f, 20.0f, 30.0f};
    system.emitterDirection = {0.0f, 1.0f, 0.0f};
    system.emitterValues[0] = 2.0f;
    system.emitterValues[1] = 1.0f; // drift along x

    Particle p;
    p.system = &system;
    // A first respawn scatters the age; later ones keep it.
    Flame::flameParticle(p);
    EXPECT_EQ(p.words[Flame::alive], 1u);
    EXPECT_EQ(p.hidden, 0u);
    EXPECT_GE(Flame::number(p, Flame::fadeExponent), 1.0f);
    EXPECT_LE(Flame::number(p, Flame::fadeExponent), 24.0f);
    EXPECT_GE(Flame::number(p, Flame::riseFactor), 0.75f);
    EXPECT_LE(Flame::number(p, Flame::riseFactor), 1.0f);

    struct Case
    {
        float t, curve;
        uint8_t warm, alpha;
    };
    // Fade exponent 2; green and red = 255 t^(6 curve) + 40 (1 - t), at most
    // 255; alpha = (1 - t^2) ramp 255, ramp = 1.4 t - 0.2 within 0 and 1.
    const Case cases[] = {
        {0.0f, 0.5f, 40, 0},      {0.1f, 0.5f, 36, 0},       {0.5f, 0.5f, 51, 95},
        {0.9f, 0.5f, 189, 48},    {0.5f, 0.0f, 255, 95},     {0.1f, 0.01f, 255, 0},
        {0.9f, 0.01f, 255, 48},   {0.75f, 0.5f, 117, 94},
    };
    for (const Case& c : cases) {
        entry.look.brightnessCurve = c.curve;
        p.words[Flame::alive] = 1;
        Flame::setNumber(p, Flame::age, c.t);
        Flame::setNumber(p, Flame::fadeExponent, 2.0f);
        Flame::setNumber(p, Flame::riseFactor, 1.0f);
        Flame::setNumber(p, Flame::startSize, 0.4f);
        Flame::setNumber(p, Flame::endSize, 0.1f);
        Flame::setNumber(p, Flame::startAngle, 30.0f);
        Flame::setNumber(p, Flame::endAngle, 90.0f);
        EXPECT_EQ(Flame::flameParticle(p), 1u);
        // The texture turns from the start angle to the end angle.
        const float theta = (30.0f * (1.0f - c.t) + 90.0f * c.t) * 3.14159265f / 180.0f;
        EXPECT_NEAR(p.textureTransform[0], std::cos(theta), 1e-5f) << c.t;
        EXPECT_NEAR(p.textureTransform[1], std::sin(theta), 1e-5f) << c.t;
        EXPECT_EQ(p.textureTransform[3], -p.textureTransform[1]);
        EXPECT_EQ(p.colour.b, 255) << c.t;
        EXPECT_EQ(p.colour.g, c.warm) << c.t << " " << c.curve;
        EXPECT_EQ(p.colour.r, c.warm) << c.t << " " << c.curve;
        EXPECT_EQ(p.colour.a, c.alpha) << c.t << " " << c.curve;
        // Position: E + drift t + direction t size (0.8 t + 0.2) rise.
        ObjectsTests::expectNear(p.position,
                                 vec3d(10.0f + c.t, 20.0f + c.t * 2.0f * (0.8f * c.t + 0.2f), 30.0f), 1e-4f,
                                 "flame position");
        EXPECT_NEAR(p.width, (0.1f * c.t + 0.4f * (1.0f - c.t)) * 2.0f, 1e-4f) << c.t;
        EXPECT_EQ(p.width, p.height);
        EXPECT_NEAR(Flame::number(p, Flame::age), c.t + 0.035f, 1e-6f);
        EXPECT_EQ(p.velocity, vec3d());
    }
    // Past the end of its life a flame starts again with the rest of its age.
    Flame::setNumber(p, Flame::age, 0.99f);
    Flame::flameParticle(p);
    EXPECT_EQ(p.words[Flame::alive], 0u);
    EXPECT_NEAR(Flame::number(p, Flame::age), 0.025f, 1e-5f);
    Flame::flameParticle(p);
    EXPECT_EQ(p.words[Flame::alive], 1u);
    EXPECT_NEAR(Flame::number(p, Flame::age), 0.025f + 0.035f, 1e-5f);

    // Each respawn draws its sizes, angles and rise within the look's
    // spreads: the start size 0.45 and the end size 0.2 x endSize, each
    // shrunk by up to sizeSpread; the spin turns by up to 360 x spin either way.
    struct Spread
    {
        float sizeSpread, endSize, spin;
    };
    const Spread spreads[] = {{0.3f, 0.5f, 0.5f}, {0.0f, 2.0f, 0.0f}, {1.0f, 1.0f, 2.0f}};
    for (const Spread& c : spreads) {
        entry.look.sizeSpread = c.sizeSpread;
        entry.look.endSize = c.endSize;
        entry.look.spin = c.spin;
        std::srand(46);
        float lowEnd = 1e9f, highEnd = -1e9f, lowStart = 1e9f, highStart = -1e9f, widestTurn = 0.0f;
        for (int i = 0; i < 400; ++i) {
            p.words[Flame::alive] = 0;
            Flame::flameParticle(p);
            const float end = Flame::number(p, Flame::endSize), start = Flame::number(p, Flame::startSize);
            lowEnd = std::min(lowEnd, end);
            highEnd = std::max(highEnd, end);
            lowStart = std::min(lowStart, start);
            highStart = std::max(highStart, start);
            const float angle = Flame::number(p, Flame::startAngle);
            EXPECT_GE(angle, 0.0f);
            EXPECT_LE(angle, 360.0f);
            widestTurn = std::max(widestTurn, std::fabs(Flame::number(p, Flame::endAngle) - angle));
        }
        const float endTop = 0.2f * c.endSize, endBottom = endTop * (1.0f - c.sizeSpread);
        EXPECT_GE(lowEnd, endBottom - 1e-6f) << c.sizeSpread;
        EXPECT_LE(highEnd, endTop + 1e-6f) << c.sizeSpread;
        EXPECT_NEAR(lowEnd, endBottom, 0.02f * endTop + 1e-6f) << c.sizeSpread;
        EXPECT_NEAR(highEnd, endTop, 0.02f * endTop) << c.sizeSpread;
        EXPECT_GE(lowStart, 0.45f * (1.0f - c.sizeSpread) - 1e-6f) << c.sizeSpread;
        EXPECT_LE(highStart, 0.45f + 1e-6f) << c.sizeSpread;
        EXPECT_NEAR(highStart, 0.45f, 0.01f) << c.sizeSpread;
        EXPECT_LE(widestTurn, 360.0f * c.spin + 1e-3f) << c.spin;
        EXPECT_GE(widestTurn, 0.9f * 360.0f * c.spin) << c.spin;
    }
}

TEST(Fire, SwitchingWithoutAnOwner)
{
    Clock clock;
    World world;
    Fire fire(nullptr);
    auto stream = ObjectsTests::streamOf(fireBytes(EffectPackageSamples::bonfireFlames()));
    ASSERT_TRUE(fire.load(*stream));
    ASSERT_NE(world.chain.particles, nullptr);
    const int32_t sounds = int32_t(Audio::SoundInterface::list().count());
    auto instance = std::make_unique<Fire::Instance>(fire, &world.chain, nullptr);
    ASSERT_EQ(instance->builtCount, 3);
    EXPECT_EQ(instance->object(3), nullptr);
    Flame& first = *instance->object(0);
    ASSERT_TRUE(first.isBurning());
    // Without an owner: no sound, even with one in the package.
    EXPECT_EQ(first.sound, nullptr);
    EXPECT_EQ(int32_t(Audio::SoundInterface::list().count()), sounds);
    const int32_t systems = int32_t(world.chain.particles->systems.count());
    Flame::System* system = first.system;
    first.setBurning(true);
    EXPECT_EQ(first.system, system) << "on twice keeps one system";
    EXPECT_EQ(int32_t(world.chain.particles->systems.count()), systems);
    EXPECT_EQ(int32_t(system->particles.count()), Fire::particleCount);
    EXPECT_EQ(system->destinationBlend, uint32_t(D3DBLEND_ONE));
    first.setBurning(false);
    first.setBurning(false);
    EXPECT_FALSE(first.isBurning());
    EXPECT_EQ(int32_t(world.chain.particles->systems.count()), systems - 1);
    first.setBurning(true);

    // Being edited: a fire burns while it burns at the start or its page is
    // open, and goes out when neither holds.
    struct Edit
    {
        uint32_t atStart;
        bool page;
        bool burns;
    };
    const Edit edits[] = {{0, false, false}, {0, true, true}, {1, false, true}, {1, true, true}};
    fire.editFlag = 1;
    for (const Edit& e : edits) {
        for (auto& entry : fire.fires)
            entry->burningAtStart = e.atStart;
        fire.window = e.page ? GetDesktopWindow() : nullptr;
        instance->update();
        EXPECT_EQ(first.isBurning(), e.burns) << e.atStart << " " << e.page;
    }
    fire.window = nullptr;
    fire.editFlag = 0;
    first.setBurning(true);

    // No culling without an owner; the flicker at a tenth, its offset the
    // drift with y and z swapped; the emitter from the given matrix.
    first.system->stopped = 0;
    auto* flicker = new RecordingFlicker;
    first.flicker.reset(flicker);
    matrix3d m = matrix3d::identity();
    m.setRow(3, {100.0f, 0.0f, 0.0f});
    instance->update();
    instance->prepareRender();
    instance->beforeRender(m);
    instance->beforeRender(m); // the water's mirror: placed again, no second flicker
    EXPECT_EQ(flicker->steps, 1);
    EXPECT_EQ(first.system->stopped, 0u);
    EXPECT_NEAR(flicker->last, fire.fires[0]->look.flicker * 0.1f, 1e-6f);
    EXPECT_EQ(first.system->emitterValues[1], 1.0f);
    EXPECT_EQ(first.system->emitterValues[2], 3.0f);
    EXPECT_EQ(first.system->emitterValues[3], 2.0f);
    ObjectsTests::expectNear(first.system->emitterPosition, m.transformPoint(fire.fires[0]->position), 1e-4f,
                             "emitter");
    EXPECT_NEAR(first.system->emitterValues[0], 0.4f * fire.fires[0]->scale.x, 1e-4f) << "flame size";
    // The size follows the fire's scale across, not its height or depth.
    fire.fires[0]->scale = {3.0f, 1.0f, 0.5f};
    fire.fires[0]->place();
    instance->update();
    EXPECT_NEAR(first.system->emitterValues[0], 0.4f * 3.0f, 1e-4f) << "flame size across";

    // A fire added in the editor: every object is built again.
    fire.fires.push_back(std::make_unique<Fire::Entry>(&fire));
    instance->update();
    EXPECT_EQ(instance->builtCount, 4);
    instance.reset();
    EXPECT_EQ(int32_t(world.chain.particles->systems.count()), systems - 3);
}

TEST(Fire, OwnedFiresSoundAndHideWithTheirObject)
{
    Clock clock;
    Ground ground(Ground::flat());
    World world;
    const vec3d middle = ground.middle();
    const size_t sounds = Audio::SoundInterface::list().count();
    DynObject* bonfire = world.place(L"Bonfire", middle, 2.0f);
    auto* fires = World::instanceOf<Fire::Instance>(bonfire, Fire::flag);
    ASSERT_NE(fires, nullptr);
    ASSERT_EQ(fires->builtCount, 3);
    // The crackle loops at the fire, not at the world's origin.
    Flame& first = *fires->object(0);
    ASSERT_NE(first.sound, nullptr);
    EXPECT_EQ(Audio::SoundInterface::list().count(), sounds + 1);
    fires->beforeRender(bonfire->world);
    ObjectsTests::expectNear(first.soundPosition, bonfire->world.transformPoint(first.fire->position), 1e-3f,
                             "sound");
    EXPECT_GT(first.soundPosition.lengthSq(), 1.0f);
    EXPECT_EQ(first.sound->positionSource, &first.soundPosition);
    // An owner's fires drift not; their flame size takes the object's scale.
    EXPECT_EQ(first.system->emitterValues[1], 0.0f);
    fires->update();
    EXPECT_NEAR(first.system->emitterValues[0], 0.4f * first.fire->scale.x * 2.0f, 1e-4f);

    // Shown while the object is in view and not hidden.
    struct Case
    {
        const char* what;
        vec3d camera;
        uint32_t hidden;
        uint32_t stopped;
    };
    const Case cases[] = {
        {"in view", middle + vec3d(0.0f, 5.0f, -60.0f), 0, 0},
        {"hidden", middle + vec3d(0.0f, 5.0f, -60.0f), 1, 1},
        {"behind the camera", middle + vec3d(0.0f, 5.0f, 60.0f), 0, 1},
    };
    for (const Case& c : cases) {
        world.chain.setProjection({640, 480});
        world.chain.position = c.camera;
        world.chain.angles = {};
        world.chain.setAnglesDeg();
        world.chain.Camera::update();
        bonfire->hidden = c.hidden;
        fires->update();
        for (int32_t i = 0; i < fires->builtCount; ++i)
            EXPECT_EQ(fires->object(i)->system->stopped, c.stopped) << c.what << i;
    }
    // Deleting the object frees its sounds.
    Object* placed = bonfire->object;
    placed->destroyInstance(bonfire);
    placed->instance = nullptr;
    EXPECT_EQ(Audio::SoundInterface::list().count(), sounds);
}

// Random damage to the sample's block through the reader, an instance and
// its frames.
TEST(Fire, FuzzedBlocks)
{
    Clock clock;
    World world;
    const Bytes good = fireBytes(EffectPackageSamples::bonfireFlames());
    std::mt19937 random(4504);
    for (int i = 0; i < 200; ++i) {
        Bytes bytes = good;
        const int changes = 1 + int(random() % 6);
        for (int k = 0; k < changes; ++k)
            bytes[random() % bytes.size()] = uint8_t(random());
        if (random() % 3 == 0)
            bytes.resize(random() % bytes.size());
        Fire fire(nullptr);
        auto stream = ObjectsTests::streamOf(bytes);
        fire.load(*stream);
        ASSERT_LE(fire.fires.size(), size_t(Fire::maxFires));
        Fire::Instance instance(fire, &world.chain, nullptr);
        for (int frame = 0; frame < 3; ++frame) {
            instance.update();
            instance.prepareRender();
            instance.beforeRender(matrix3d::identity());
            world.chain.particles->render(true);
        }
    }
}
