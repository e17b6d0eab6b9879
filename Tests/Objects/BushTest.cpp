// The bush on the builder's sample with real rigid bodies: its block read
// back and refused when damaged, a crate driven as a race vehicle through
// it (graze, middle, leaving), the falling leaves by hand, and the rustle.
#include "ObjectFunctionsWorld.h"

#include "Objects/Bush.h"

#include "Audio/Audio.h"
#include "Audio/Sound3D.h"
#include "Physics/EntityPhysics.h"
#include "Physics/neRigidBody.h"
#include "Race/GameVehicle.h"

#include "EffectPackageSamples.h"
#include "PackagePartSamples.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

using namespace ObjectFunctionsTests;
using Bush = ObjPkgManager::Functions::Bush;

namespace {

Bush::Instance* bushOf(DynObject* dyn)
{
    DynObject::FunctionManager::Function* entry = dyn && dyn->functions ? dyn->functions->find(Bush::flag) : nullptr;
    return entry ? dynamic_cast<Bush::Instance*>(entry->instance) : nullptr;
}

neRigidBody* bodyOf(DynObject* dyn)
{
    return dyn && dyn->physics && dyn->physics->rigidBody ? dyn->physics->rigidBody->body : nullptr;
}

void fill(FileArray& stream, const std::vector<uint8_t>& bytes)
{
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
}

std::vector<uint8_t> blockOf(const FunctionsRecordWriter::Bush& bush)
{
    FileArray out(4096);
    EXPECT_TRUE(FunctionsRecordWriter::writeBush(out, bush));
    return {out.memory(), out.memory() + out.size()};
}

// A crate that drives as a race vehicle, and a bush, over flat ground.
struct BushField
{
    explicit BushField(float crateHeight = 0.0f)
        : ground(TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 20000.0f; }))
    {
        centre = gTerrain.box.center;
        centre.y = gTerrain.getHeight(centre.x, centre.z, 3);
        bush = world.place(L"Bush", centre);
        instance = bushOf(bush);
        Object* placed = world.scene.objectPackages.createObject(
            world.package(L"Crate"), centre + vec3d(30.0f, crateHeight, 0.0f), 1.0f);
        vehicle = world.scene.game.vehicles.append(new Game::Vehicle(&world.scene.game, placed, 0))->item;
        placed->instance = placed->createInstance();
        crate = dynamic_cast<DynObject*>(placed->instance);
    }
    ~BushField() { world.scene.game.vehicles.deleteAll(); }

    // The crate's body posed at `at` with velocity, its entity following.
    void put(const vec3d& at, const vec3d& velocity = {})
    {
        world.chain->entities->physicsManager->waitForStepEnd();
        matrix3d pose = crate->world;
        pose.setRow(3, at);
        neRigidBody* body = bodyOf(crate);
        body->setPose(pose);
        body->velocity = velocity;
        crate->world = pose;
        crate->onMoved();
    }
    // The point the bush measures a vehicle's depth from: the bush's base
    // raised by the crate's height along its up axis.
    vec3d middle() const
    {
        const OrientedBox& region = bush->object ? instance->bushTemplate->box : OrientedBox{};
        const vec3d c = bush->world.transformPoint(region.center);
        const vec3d up = bush->world.transformVector(region.axes[1]).normalised();
        const float h = bush->world.row(1).length() * region.halfExtents.y;
        const OrientedBox& v = crate->worldBox;
        return c - up * h + up * (2.0f * v.halfExtents.y * v.axes[1].length());
    }

    Ground ground;
    World world;
    vec3d centre;
    DynObject* bush = nullptr;
    Bush::Instance* instance = nullptr;
    Game::Vehicle* vehicle = nullptr;
    DynObject* crate = nullptr;
};

}

// The builder's bush read back: sound, leaf path and image, placement, and
// the box rule; a block cut short, sized blocks past the data, values that
// are no numbers and an image or sound that is damaged.
TEST(Bush, TheBlockReadsBackAndKeepsWhatDamageLeaves)
{
    const FunctionsRecordWriter::Bush sample = EffectPackageSamples::bushLeaves();
    const std::vector<uint8_t> block = blockOf(sample);
    FileArray stream(4096);
    fill(stream, block);
    Bush bush(nullptr);
    ASSERT_TRUE(bush.load(stream));
    ASSERT_NE(bush.soundRef, nullptr);
    EXPECT_EQ(bush.soundRef->type, Audio::FileRef::typeWav);
    EXPECT_TRUE(bush.leafPath.sameText(L"Leaf.dds", 8));
    ASSERT_EQ(bush.leafImage.size(), sample.leafImage.size());
    EXPECT_EQ(std::memcmp(bush.leafImage.memory(), sample.leafImage.data(), sample.leafImage.size()), 0);
    EXPECT_EQ(bush.position, vec3d(0.0f, 1.2f, 0.0f));
    EXPECT_EQ(bush.getBox().halfExtents, vec3d(1.6f, 1.2f, 1.6f));
    EXPECT_EQ(bush.getBox().center, vec3d(0.0f, 1.2f, 0.0f));
    EXPECT_EQ(bush.getBox().axes[1], vec3d(0.0f, 1.0f, 0.0f));

    // Turned: the box's axes are the placement's unit rows.
    FunctionsRecordWriter::Bush turned = sample;
    turned.angles = {0.0f, 90.0f, 0.0f};
    turned.scale = {2.0f, 3.0f, 4.0f};
    FileArray turnedStream(4096);
    fill(turnedStream, blockOf(turned));
    Bush turnedBush(nullptr);
    ASSERT_TRUE(turnedBush.load(turnedStream));
    EXPECT_NEAR(turnedBush.box.axes[2].x, 1.0f, 1e-6f);
    EXPECT_NEAR(turnedBush.box.axes[2].length(), 1.0f, 1e-6f);
    EXPECT_EQ(turnedBush.box.halfExtents, vec3d(2.0f, 3.0f, 4.0f));

    // Cut at many bytes: never a crash, false unless the cut falls between
    // two entries.
    int refused = 0;
    for (size_t cut = 0; cut < block.size(); cut += 7) {
        FileArray part(4096);
        fill(part, {block.begin(), block.begin() + std::ptrdiff_t(cut)});
        Bush damaged(nullptr);
        refused += damaged.load(part) ? 0 : 1;
        EXPECT_TRUE(std::isfinite(damaged.placement.at(0, 0))) << cut;
    }
    EXPECT_GT(refused, int(block.size() / 7) - 8);

    struct Case
    {
        const char* what;
        std::vector<uint32_t> words;
        bool whole;
        vec3d scale;
        bool sound;
    };
    const uint32_t nan = 0x7FC00000u, inf = 0x7F800000u;
    const Case cases[] = {
        {"a sound block past the data", {1, 5000, 0x46464952u, 0}, false, {1.0f, 1.0f, 1.0f}, false},
        {"an image block past the data", {3, 70000, 1, 2, 0}, false, {1.0f, 1.0f, 1.0f}, false},
        {"a scale that is no number", {6, nan, 0x40000000u, 0x40000000u, 0}, true, {1.0f, 1.0f, 1.0f}, false},
        {"an infinite scale", {6, inf, inf, inf, 0}, true, {1.0f, 1.0f, 1.0f}, false},
        {"a sound that is no wav", {1, 8, 0x11223344u, 0x55667788u, 0}, true, {1.0f, 1.0f, 1.0f}, false},
        {"a damaged image", {3, 8, 0x20534444u, 0x7Cu, 0}, true, {1.0f, 1.0f, 1.0f}, false},
        {"tags it does not know", {77, 6, 0x40000000u, 0x40000000u, 0x40000000u, 0}, true, {2.0f, 2.0f, 2.0f}, false},
    };
    for (const Case& c : cases) {
        FileArray words(64);
        words.write(c.words.data(), uint32_t(c.words.size() * 4));
        words.seek(0, 0);
        Bush damaged(nullptr);
        EXPECT_EQ(damaged.load(words), c.whole) << c.what;
        EXPECT_EQ(damaged.scale, c.scale) << c.what;
        EXPECT_EQ(damaged.soundRef != nullptr, c.sound) << c.what;
        EXPECT_FALSE(damaged.leafTexture.isBound()) << c.what;
    }
}

// A crate that only grazes the bush (its sphere meets the bush's, its depth
// gives no target) neither bends it nor sheds leaves.
TEST(Bush, AGrazeNeitherBendsNorSheds)
{
    TestClock clock(1000);
    FrameFactor factor(1.0f);
    BushField field;
    ASSERT_TRUE(field.ground.loaded);
    ASSERT_NE(field.instance, nullptr);
    ASSERT_NE(bodyOf(field.crate), nullptr);
    matrix3d placed;
    field.bush->object->getTransform(placed, false);
    const float reach = field.bush->worldBounds.radius + field.crate->worldBounds.radius;
    field.put(field.bush->worldBounds.center + vec3d(reach - 0.05f, 0.0f, 0.0f) - field.crate->worldBox.center +
              field.crate->world.row(3));
    for (int frame = 0; frame < 10; ++frame)
        field.instance->update();
    EXPECT_EQ(field.instance->touching, field.crate) << "the spheres meet";
    EXPECT_EQ(field.instance->shake, 0.0f);
    EXPECT_EQ(field.instance->shedCount, 0u);
    EXPECT_EQ(std::memcmp(&field.bush->world, &placed, sizeof(placed)), 0);
}

// Through the middle: the target is 1, every rising frame sheds and brakes
// (the crate ends slower than one that met no bush), the bend leans away
// from the crate; once it has gone the shake falls 5 % per unit of frame
// factor, and below 0.001 the bush stands as placed.
TEST(Bush, ThroughTheMiddleItBendsShedsBrakesAndSpringsBack)
{
    TestClock clock(1000);
    FrameFactor factor(1.0f);
    BushField field(6.0f);
    ASSERT_NE(field.instance, nullptr);
    neRigidBody* body = bodyOf(field.crate);
    ASSERT_NE(body, nullptr);
    EntityManager::PhysicsManager& physics = *field.world.chain->entities->physicsManager;

    // The crate in flight beside the bush without touching it: its speed.
    const vec3d velocity(6.0f, 0.0f, 0.0f);
    const vec3d offset = field.crate->world.row(3) - field.crate->worldBox.center;
    field.put(field.middle() + offset + vec3d(0.0f, 0.0f, 40.0f), velocity);
    for (int frame = 0; frame < 3; ++frame) {
        physics.update();
        physics.waitForStepEnd();
    }
    const float free = std::fabs(body->velocity.x);
    EXPECT_GT(free, 5.0f);

    // In the middle, coming from -x: pushed along +x.
    const vec3d aside(0.2f, 0.0f, 0.0f);
    ASSERT_GT(field.crate->worldBox.halfExtents.length(), 0.4f) << "deep enough for a target of 1";
    field.put(field.middle() + offset - aside, velocity);
    float previous = 0.0f;
    for (int frame = 0; frame < 12; ++frame) {
        field.put(field.middle() + offset - aside, body->velocity);
        field.instance->update();
        EXPECT_GT(field.instance->shake, previous) << frame;
        EXPECT_EQ(field.instance->shedCount, uint32_t(frame + 1)) << "a shedding each rising frame";
        previous = field.instance->shake;
    }
    EXPECT_NEAR(field.instance->shake, 1.0f - std::pow(0.7f, 12.0f), 1e-4f) << "the target is 1";
    {
        FrameFactor fifth(7.0f);
        field.put(field.middle() + offset - aside, body->velocity);
        field.instance->update();
        EXPECT_NEAR(field.instance->shake, 1.0f - std::pow(0.7f, 19.0f), 1e-4f) << "seven frames' rise, short of 1";
    }
    EXPECT_GT(field.instance->push.x, 0.1f) << "away from the crate";
    EXPECT_EQ(field.instance->push.z, 0.0f);
    for (int frame = 0; frame < 3; ++frame) {
        physics.update();
        physics.waitForStepEnd();
    }
    EXPECT_LT(std::fabs(body->velocity.x), free - 1.0f) << "the brakes of every shedding";
    const vec3d up = field.bush->world.row(1).normalised();
    EXPECT_GT(up.x, 0.5f) << "the bush leans away from the crate";
    EXPECT_NEAR(up.z, 0.0f, 1e-4f);

    // The crate gone: 5 % a frame, 10 % at factor 2.
    field.put(field.middle() + vec3d(0.0f, 0.0f, 60.0f));
    const uint32_t shed = field.instance->shedCount;
    for (float f : {1.0f, 2.0f}) {
        FrameFactor step(f);
        const float before = field.instance->shake;
        field.instance->update();
        EXPECT_NEAR(field.instance->shake, before * (1.0f - 0.05f * f), 1e-6f) << f;
    }
    EXPECT_EQ(field.instance->touching, nullptr);
    matrix3d placed;
    field.bush->object->getTransform(placed, false);
    int frames = 0;
    while (field.instance->shake > 0.001f && frames < 1000) {
        field.instance->update();
        ++frames;
        if (field.instance->shake > 0.001f)
            ASSERT_NE(std::memcmp(&field.bush->world, &placed, sizeof(placed)), 0) << "still bent";
    }
    EXPECT_EQ(std::memcmp(&field.bush->world, &placed, sizeof(placed)), 0) << "the owner's own matrix";
    field.bush->world.setRow(3, placed.row(3) + vec3d(0.0f, 1.0f, 0.0f));
    field.instance->update();
    EXPECT_EQ(field.bush->world.row(3), placed.row(3) + vec3d(0.0f, 1.0f, 0.0f)) << "left to the owner";
    EXPECT_EQ(field.instance->shedCount, shed);

    // A hidden bush does nothing.
    field.bush->hidden = 1;
    field.put(field.middle() + offset);
    field.instance->update();
    EXPECT_EQ(field.instance->touching, nullptr);
}

// The leaves by hand: the first call places a leaf in the upper middle of
// the box, every call swings and sinks it, and a leaf more than 1.0 below
// the ground dies at once. They read only their own copy of the box.
TEST(Bush, LeavesSwingSinkAndDieUnderground)
{
    FrameFactor factor(1.0f);
    Ground ground(TerrainTestMaps::heightMap(128, [](int32_t, int32_t) { return 20000.0f; }));
    ASSERT_TRUE(ground.loaded);
    vec3d c = gTerrain.box.center;
    c.y = gTerrain.getHeight(c.x, c.z, 0);
    D3D::Device::SwapChain chain(nullptr);
    std::srand(52);
    struct Case
    {
        float depth; // of the box's centre above the ground
        uint32_t lives;
    };
    for (const Case& k : {Case{3.0f, 1}, Case{-0.9f, 1}, Case{-1.5f, 0}, Case{-5.0f, 0}}) {
        OrientedBox box;
        box.axes[0] = {1.0f, 0.0f, 0.0f};
        box.axes[1] = {0.0f, 1.0f, 0.0f};
        box.axes[2] = {0.0f, 0.0f, 1.0f};
        box.halfExtents = {2.0f, 0.0f, 1.0f};
        box.center = c + vec3d(0.0f, k.depth, 0.0f);
        auto leaves = std::make_unique<Bush::Instance::Leaves>(chain, TextureRef(), box);
        Particle p;
        p.system = leaves.get();
        EXPECT_EQ(Bush::Instance::leafParticle(p), k.lives) << k.depth;
        EXPECT_EQ(p.hidden, 0u);
        EXPECT_LE(std::fabs(p.position.x - box.center.x), 1.0f) << "within half the half width";
        EXPECT_LE(std::fabs(p.position.z - box.center.z), 0.5f);
        EXPECT_EQ(p.width, 0.4f);
        EXPECT_EQ(p.height, 0.8f);
        EXPECT_EQ(p.colour, Color(180, 180, 180, 255));
    }

    OrientedBox box;
    box.axes[0] = {1.0f, 0.0f, 0.0f};
    box.axes[1] = {0.0f, 1.0f, 0.0f};
    box.axes[2] = {0.0f, 0.0f, 1.0f};
    box.halfExtents = {1.0f, 2.0f, 1.0f};
    box.center = c + vec3d(0.0f, 4.0f, 0.0f);
    Particle p;
    {
        auto leaves = std::make_unique<Bush::Instance::Leaves>(chain, TextureRef(), box);
        box.center = {};
        p.system = leaves.get();
        ASSERT_EQ(Bush::Instance::leafParticle(p), 1u);
        EXPECT_GE(p.position.y, c.y + 4.0f) << "the upper half of the box's middle";
        EXPECT_LE(p.position.y, c.y + 5.0f);
        const float fall = p.values[Bush::Instance::fallFactor];
        EXPECT_GE(fall, 1.0f);
        EXPECT_LE(fall, 2.0f);
        for (float age : {1.0f, 7.0f, 20.0f}) {
            p.age = age;
            const float vy = p.velocity.y;
            ASSERT_EQ(Bush::Instance::leafParticle(p), 1u);
            const float w = std::sin(age * 0.15f);
            const matrix3d turn = matrix3d::fromAngles({45.0f * w + 90.0f, 0.0f, 0.0f}) *
                                  matrix3d::fromAngles({0.0f, p.values[Bush::Instance::spinPhase], 0.0f});
            EXPECT_NEAR(p.velocity.x, fall * w * turn.at(1, 0) * 0.15f, 1e-5f) << age;
            EXPECT_NEAR(p.velocity.z, fall * w * turn.at(1, 2) * 0.15f, 1e-5f) << age;
            EXPECT_NEAR(p.velocity.y, vy + (-0.5f * std::fabs(w) - vy) * 0.07f, 1e-5f) << age;
            EXPECT_LT(p.velocity.y, 0.0f);
        }
    }
}

// The rustle: made on the first rising frame, played again on a later one
// only once it has ended; the instance deletes it.
TEST(Bush, TheRustleRestartsOnlyAfterItEnded)
{
    TestClock clock(1000);
    FrameFactor factor(1.0f);
    Audio::init(GetDesktopWindow());
    ASSERT_TRUE(Audio::isEnabled());
    {
        BushField field(6.0f);
        ASSERT_NE(field.instance, nullptr);
        ASSERT_NE(field.instance->soundFile, nullptr);
        const size_t sounds = Audio::SoundInterface::list().count();
        const vec3d offset = field.crate->world.row(3) - field.crate->worldBox.center;
        field.put(field.middle() + offset);
        field.instance->update();
        Audio::Sound3D* rustle = field.instance->sound;
        ASSERT_NE(rustle, nullptr);
        EXPECT_EQ(rustle->state, Audio::SoundInterface::playing);
        EXPECT_EQ(rustle->maxDistance, 1000.0f);
        EXPECT_EQ(*rustle->positionSource, field.bush->world.row(3));
        EXPECT_EQ(Audio::SoundInterface::list().count(), sounds + 1);
        rustle->playCursor = 77;
        field.instance->update();
        EXPECT_EQ(field.instance->sound, rustle);
        EXPECT_EQ(rustle->playCursor, 77u) << "a playing rustle is not started again";
        rustle->stop();
        field.instance->update();
        EXPECT_EQ(field.instance->sound, rustle) << "the same sound";
        EXPECT_EQ(rustle->state, Audio::SoundInterface::playing) << "ended, it plays again";
        EXPECT_EQ(Audio::SoundInterface::list().count(), sounds + 1);
    }
    Audio::release();
}
