// The placeable template base, the spin and the inventory on the builder's
// packages: the editor's scale locks and picking, the spin's motion frame by
// frame, and a vehicle taking pick-ups and handing the flag over.
#include "ObjectFunctionsWorld.h"

#include "Objects/BaseFunction.h"
#include "Objects/Bush.h"
#include "Objects/CollectGate.h"
#include "Objects/Fire.h"
#include "Objects/Inventory.h"
#include "Objects/LensFlare.h"
#include "Objects/Spin.h"

#include "Race/GameVehicle.h"

#include "MeshSamples.h"
#include "EffectPackageSamples.h"
#include "SoundSamples.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
#include <vector>

using namespace ObjectFunctionsTests;
using Functions = ObjPkgManager::Functions;
using Collect = Functions::Collect;
using Inventory = Functions::Inventory;
using Spin = Functions::Spin;

namespace {

// A placeable template that counts the settings it pushed.
class Placeable final : public Functions::BaseFunction
{
public:
    Placeable() : BaseFunction(nullptr) {}
    void applySettings() override { ++applied; }
    int applied = 0;
};

PackagePartWriter::Mesh box(const char* name, float scale)
{
    PackagePartWriter::Mesh m;
    m.body = MeshSamples::record();
    m.displayName = name;
    m.name = name;
    m.position = {0.0f, scale * 0.5f, 0.0f};
    m.scale = scale;
    return m;
}

ObjectPackageWriter::Package spinPackage(const char* mesh, const FunctionsRecordWriter::Spin& spin)
{
    ObjectPackageWriter::Package p;
    p.meshes.push_back(box(mesh, 1.0f));
    FunctionsRecordWriter::Record functions;
    functions.spin = spin;
    p.functions = functions;
    return p;
}

// A race vehicle's package: a box with the inventory (and its chime), no
// quad function and no body.
ObjectPackageWriter::Package kart(bool withSound)
{
    ObjectPackageWriter::Package p;
    p.meshes.push_back(box("KartBody", 2.0f));
    FunctionsRecordWriter::Record functions;
    functions.inventory = FunctionsRecordWriter::Inventory{};
    if (withSound)
        functions.inventory->sound = SoundSamples::wav(SoundSamples::chime());
    p.functions = functions;
    return p;
}

template <class T>
T* functionOf(DynObject* dyn, uint32_t flag)
{
    DynObject::FunctionManager::Function* entry = dyn && dyn->functions ? dyn->functions->find(flag) : nullptr;
    return entry ? dynamic_cast<T*>(entry->instance) : nullptr;
}

void fill(FileArray& stream, const std::vector<uint32_t>& words)
{
    stream.write(words.data(), uint32_t(words.size() * 4));
    stream.seek(0, 0);
}

uint32_t bitsOf(float value)
{
    uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    return bits;
}

// The race's vehicles on kart objects of the world, each placed alive.
struct Karts
{
    Karts(World& world, int count, const wchar_t* package = L"Kart")
    {
        for (int i = 0; i < count; ++i) {
            Object* placed = world.scene.objectPackages.createObject(
                world.package(package), {20.0f * float(i), 0.0f, 0.0f}, 1.0f);
            EXPECT_NE(placed, nullptr);
            vehicles.push_back(world.scene.game.vehicles.append(new Game::Vehicle(&world.scene.game, placed,
                                                                                   uint32_t(i)))->item);
            placed->instance = placed->createInstance();
            dyns.push_back(dynamic_cast<DynObject*>(placed->instance));
            inventories.push_back(functionOf<Inventory::Instance>(dyns.back(), Inventory::flag));
        }
        game = &world.scene.game;
    }
    ~Karts() { game->vehicles.deleteAll(); }

    Game* game = nullptr;
    std::vector<Game::Vehicle*> vehicles;
    std::vector<DynObject*> dyns;
    std::vector<Inventory::Instance*> inventories;
};

EntityManager::Physics::Collision contactWith(DynObject* other)
{
    EntityManager::Physics::Collision contact{};
    contact.otherType = EntityManager::Physics::rigidContact;
    contact.otherOwner = other;
    return contact;
}

}

// setScaleX scales all three components under lock bits 1 and x alone under
// 7; every editor change rebuilds the placement and pushes the settings.
TEST(BaseFunction, ScaleLocksAnglesAndPicking)
{
    Placeable uniform;
    const matrix3d identity = matrix3d::identity();
    EXPECT_EQ(std::memcmp(&uniform.placement, &identity, sizeof(matrix3d)), 0) << "a fresh template";
    uniform.setScaleX(2.0f);
    EXPECT_EQ(uniform.scale, vec3d(2.0f, 2.0f, 2.0f));
    EXPECT_FLOAT_EQ(uniform.placement.at(1, 1), 2.0f);
    uniform.setScaleY(3.0f);
    uniform.setScaleZ(4.0f);
    EXPECT_EQ(uniform.scale, vec3d(2.0f, 3.0f, 4.0f));
    uniform.setPosition({1.0f, 2.0f, 3.0f});
    uniform.setRotation({0.0f, 90.0f, 0.0f});
    EXPECT_EQ(uniform.applied, 5);
    EXPECT_NEAR(uniform.rotation.at(2, 0), 1.0f, 1e-6f);
    EXPECT_NEAR(uniform.rotation.at(2, 2), 0.0f, 1e-6f);
    EXPECT_NEAR(uniform.placement.at(2, 0), 4.0f, 1e-5f) << "row 2 carries scale z";
    EXPECT_EQ(uniform.placement.row(3), vec3d(1.0f, 2.0f, 3.0f));
    vec3d pivot, angles;
    uniform.getPivot(pivot);
    uniform.getAngles(angles);
    EXPECT_EQ(pivot, vec3d(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(angles, vec3d(0.0f, 90.0f, 0.0f));

    Functions::Bush bush(nullptr);
    EXPECT_EQ(bush.scaleLocks(), 7u);
    bush.setScaleX(2.5f);
    EXPECT_EQ(bush.scale, vec3d(2.5f, 1.0f, 1.0f)) << "lock bits 7: x alone";
    EXPECT_EQ(bush.getBox().halfExtents, vec3d(2.5f, 1.0f, 1.0f)) << "the box follows the scale";
    EXPECT_TRUE(bush.canMove() && bush.canRotate() && bush.canScale());
    EXPECT_FALSE(uniform.canMove() || uniform.canRotate() || uniform.canScale());

    // Picking: from inside, from outside towards the box, and past it.
    bush.setPosition({10.0f, 0.0f, 0.0f});
    float t = -1.0f;
    EXPECT_TRUE(bush.hitTest({10.5f, 0.2f, 0.0f}, {0.0f, 0.0f, 1.0f}, t)) << "a ray from inside";
    EXPECT_TRUE(bush.hitTest({0.0f, 0.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, t));
    EXPECT_NEAR(t, 7.5f, 1e-4f);
    EXPECT_FALSE(bush.hitTest({0.0f, 5.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, t));
    bush.markModified();
    EXPECT_EQ(bush.modified, 1u);
}

// Zero parameters keep the placed transform exactly; a turn of 10 about y is
// a degree a frame at frame factor 1, with the sine offsets on top; the
// block skips tags it does not know and keeps values that are no numbers.
TEST(Spin, TurnsAndSwaysFrameByFrame)
{
    FrameFactor factor(1.0f);
    FunctionsRecordWriter::Spin still;
    FunctionsRecordWriter::Spin turning;
    turning.parameters[Spin::turnY] = 10.0f;
    turning.parameters[Spin::amplitudeY] = 0.5f;
    turning.parameters[Spin::frequencyY] = 2.0f;
    World world({{L"Still.teo", spinPackage("StillBox", still)}, {L"Turning.teo", spinPackage("TurnBox", turning)}});

    DynObject* quiet = world.place(L"Still", {5.0f, 1.0f, 7.0f});
    ASSERT_NE(quiet, nullptr);
    auto* quietSpin = functionOf<Spin::Instance>(quiet, Spin::flag);
    ASSERT_NE(quietSpin, nullptr);
    matrix3d placed;
    quiet->object->getTransform(placed, false);
    for (int frame = 0; frame < 20; ++frame) {
        quiet->update();
        ASSERT_EQ(std::memcmp(&quiet->world, &placed, sizeof(placed)), 0) << frame;
    }

    DynObject* turner = world.place(L"Turning", {-3.0f, 2.0f, 4.0f});
    ASSERT_NE(turner, nullptr);
    ASSERT_EQ(turner->functions->entries.at(0)->flag, Spin::flag) << "the spin comes first";
    turner->object->getTransform(placed, false);
    for (int frame = 0; frame < 40; ++frame) {
        turner->update();
        const float t = 0.1f * float(frame);
        const matrix3d turn = matrix3d::fromAngles({0.0f, float(frame), 0.0f});
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                ASSERT_NEAR(turner->world.at(r, c), turn.at(r, c), 1e-4f) << frame;
        const vec3d expected = placed.row(3) + vec3d(0.0f, 0.5f * std::sin(2.0f * t), 0.0f);
        ASSERT_NEAR((turner->world.row(3) - expected).length(), 0.0f, 1e-4f) << frame;
    }

    // The block: an unknown tag, a NaN that leaves p1 at 0, a cut field.
    const float nan = std::nanf("");
    Spin spin(nullptr);
    FileArray known(64);
    fill(known, {99, 7, bitsOf(10.0f), 1, bitsOf(nan), 2, bitsOf(3.0f), 0});
    EXPECT_TRUE(spin.load(known));
    EXPECT_EQ(spin.parameters[Spin::turnY], 10.0f) << "tag 99 carries nothing";
    EXPECT_EQ(spin.parameters[Spin::amplitudeX], 0.0f);
    EXPECT_EQ(spin.parameters[Spin::frequencyX], 3.0f);
    FileArray cut(64);
    fill(cut, {4});
    EXPECT_FALSE(spin.load(cut));
    // The builder's pick-ups turn by its spin.
    const ObjPkgManager::Package* nitro = world.package(L"Nitro");
    ASSERT_NE(nitro, nullptr);
    ASSERT_NE(nitro->functions.spin, nullptr);
    const FunctionsRecordWriter::Spin sample = ObjectPackageSamples::pickUpSpin();
    for (int i = 0; i < Spin::parameterCount; ++i)
        EXPECT_EQ(nitro->functions.spin->parameters[i], sample.parameters[size_t(i)]) << i;
}

// Items within the quad's circle: 100 rockets take a pack and stay 100,
// nitro stops at 1, of two items in reach one goes each frame, one beyond
// the radius stays, and an object that is no race vehicle takes nothing.
TEST(Inventory, AVehicleTakesOneItemAFrame)
{
    TestClock clock(10000);
    FrameFactor factor(1.0f);
    World world({{L"Kart.teo", kart(true)}, {L"Cart.teo", kart(false)}});
    ASSERT_NE(world.package(L"Kart")->functions.inventory, nullptr);
    EXPECT_NE(world.package(L"Kart")->functions.inventory->soundRef, nullptr) << "the chime";
    EXPECT_EQ(world.package(L"Cart")->functions.inventory->soundRef, nullptr) << "no tag 1, no sound";
    Karts karts(world, 1);
    Game::Vehicle& v = *karts.vehicles[0];
    DynObject* dyn = karts.dyns[0];
    Inventory::Instance* inventory = karts.inventories[0];
    ASSERT_NE(inventory, nullptr);
    ASSERT_EQ(inventory->vehicle, &v);
    const vec3d at = dyn->worldBounds.center;

    struct Case
    {
        const wchar_t* item;
        int32_t rockets, oil;
        float nitro;
        int32_t rocketsAfter, oilAfter;
        float nitroAfter;
    };
    const Case cases[] = {
        {L"RocketPack", 100, 0, 0.0f, 100, 0, 0.0f}, {L"RocketPack", 3, 0, 0.0f, 4, 0, 0.0f},
        {L"Oil", 0, 100, 0.0f, 0, 100, 0.0f},        {L"Oil", 0, 7, 0.0f, 0, 8, 0.0f},
        {L"Nitro", 0, 0, 0.9f, 0, 0, 1.0f},          {L"Nitro", 0, 0, 0.5f, 0, 0, 0.75f},
    };
    for (const Case& c : cases) {
        DynObject* item = world.place(c.item, {at.x, 0.0f, at.z});
        ASSERT_NE(item, nullptr);
        v.rockets = uint8_t(c.rockets);
        v.oil = uint8_t(c.oil);
        v.nitro = c.nitro;
        inventory->update();
        EXPECT_EQ(functionOf<Collect::Instance>(item, 0x8)->state, Collect::Instance::taken) << c.item;
        EXPECT_EQ(v.rockets, c.rocketsAfter) << c.item;
        EXPECT_EQ(v.oil, c.oilAfter) << c.item;
        EXPECT_FLOAT_EQ(v.nitro, c.nitroAfter) << c.item;
        item->object->remove();
    }

    // Two in reach: one a frame; beyond the radius: none.
    DynObject* first = world.place(L"RocketPack", {at.x + 0.2f, 0.0f, at.z});
    DynObject* second = world.place(L"RocketPack", {at.x - 0.2f, 0.0f, at.z});
    const float r = dyn->worldBounds.radius;
    DynObject* distant = world.place(L"RocketPack", {at.x + r * 0.8f, 0.0f, at.z + r * 0.8f});
    v.rockets = 0;
    inventory->update();
    EXPECT_EQ(v.rockets, 1);
    const int taken = (functionOf<Collect::Instance>(first, 0x8)->state == Collect::Instance::taken) +
                      (functionOf<Collect::Instance>(second, 0x8)->state == Collect::Instance::taken);
    EXPECT_EQ(taken, 1);
    inventory->update();
    EXPECT_EQ(v.rockets, 2) << "the second one next frame, past the one away";
    inventory->update();
    EXPECT_EQ(v.rockets, 2) << "the one beyond the radius stays";
    EXPECT_EQ(functionOf<Collect::Instance>(distant, 0x8)->state, Collect::Instance::shown);

    // No race vehicle behind the object: the item stays.
    DynObject* stray = world.place(L"Kart", {at.x, 0.0f, at.z + 40.0f});
    ASSERT_NE(stray, nullptr);
    auto* strayInventory = functionOf<Inventory::Instance>(stray, Inventory::flag);
    ASSERT_NE(strayInventory, nullptr);
    EXPECT_EQ(strayInventory->vehicle, nullptr);
    DynObject* left = world.place(L"Nitro", stray->worldBounds.center);
    strayInventory->update();
    EXPECT_EQ(functionOf<Collect::Instance>(left, 0x8)->state, Collect::Instance::shown);
    auto contact = contactWith(karts.dyns[0]);
    strayInventory->onCollision(contact);
    strayInventory->update();
    EXPECT_EQ(strayInventory->touched.load(), nullptr);
}

// The flag: taken half transparent, carried; a carrier touching another
// vehicle loses it to it, which cannot lose it again for 3000 ms; a contact
// from another thread only records until the main thread's update.
TEST(Inventory, TheFlagPassesOnTouchAfterItsHandOver)
{
    TestClock clock(50000);
    FrameFactor factor(1.0f);
    World world({{L"Kart.teo", kart(true)}});
    Karts karts(world, 2);
    Game::Vehicle& a = *karts.vehicles[0];
    Game::Vehicle& b = *karts.vehicles[1];
    Inventory::Instance& ia = *karts.inventories[0];
    Inventory::Instance& ib = *karts.inventories[1];
    DynObject* flag = world.place(L"CaptureFlag", {karts.dyns[0]->worldBounds.center.x, 0.0f, 0.0f});
    ASSERT_NE(flag, nullptr);
    auto* flagCollect = functionOf<Collect::Instance>(flag, 0x8);
    ASSERT_NE(flagCollect, nullptr);

    ia.update();
    EXPECT_EQ(a.carriedItem, flag->object);
    EXPECT_EQ(flagCollect->state, Collect::Instance::carried);
    EXPECT_FLOAT_EQ(flag->alpha, 0.5f);
    ia.update();
    EXPECT_EQ(a.carriedItem, flag->object) << "the carried flag is no pick-up for its carrier";

    // Touched within the 3000 ms: kept.
    auto touchB = contactWith(karts.dyns[1]);
    std::thread physics([&] { ia.onCollision(touchB); });
    physics.join();
    EXPECT_EQ(ia.touched.load(), karts.dyns[1]) << "recorded";
    EXPECT_EQ(a.carriedItem, flag->object) << "only recorded";
    TestClock::now += 2999;
    ia.update();
    EXPECT_EQ(a.carriedItem, flag->object) << "the hand-over still runs";
    EXPECT_EQ(ia.touched.load(), nullptr);
    TestClock::now += 2;
    ia.update();
    EXPECT_EQ(ia.handOver, 0u);
    EXPECT_FLOAT_EQ(flag->alpha, 1.0f);

    // Now it passes, and cannot come straight back.
    std::thread again([&] { ia.onCollision(touchB); });
    again.join();
    ia.update();
    EXPECT_EQ(a.carriedItem, nullptr);
    EXPECT_EQ(b.carriedItem, flag->object);
    EXPECT_FLOAT_EQ(flag->alpha, 0.5f);
    auto touchA = contactWith(karts.dyns[0]);
    ib.onCollision(touchA);
    TestClock::now += 2500;
    ib.update();
    EXPECT_EQ(b.carriedItem, flag->object) << "within 3000 ms of the hand-over";
    TestClock::now += 600;
    ib.update();
    ib.onCollision(touchA);
    ib.update();
    EXPECT_EQ(a.carriedItem, flag->object) << "after the hand-over ran out";

    // A contact with something that has no inventory, or is gone from the
    // race, passes nothing.
    DynObject* crate = world.place(L"Crate", {60.0f, 0.0f, 0.0f});
    auto touchCrate = contactWith(crate);
    TestClock::now += 5000;
    ia.update();
    ia.onCollision(touchCrate);
    EXPECT_EQ(ia.touched.load(), nullptr);
    DynObject* stray = world.place(L"Kart", {80.0f, 0.0f, 0.0f});
    auto touchStray = contactWith(stray);
    ia.onCollision(touchStray);
    ia.update();
    EXPECT_EQ(a.carriedItem, flag->object) << "a kart that is no race vehicle";
}

// The inventory block: the builder's quad chime read back, a block cut at
// every byte, a sound block past the data, and a sound that is no wav.
TEST(Inventory, TheBlockReadsBackAndRefusesDamage)
{
    FileArray written(4096);
    FunctionsRecordWriter::Inventory sample{SoundSamples::wav(SoundSamples::chime())};
    ASSERT_TRUE(FunctionsRecordWriter::writeInventory(written, sample));
    written.seek(0, 0);
    Inventory whole(nullptr);
    ASSERT_TRUE(whole.load(written));
    ASSERT_NE(whole.soundRef, nullptr);
    EXPECT_EQ(whole.soundRef->type, Audio::FileRef::typeWav);
    ASSERT_EQ(whole.sound.size(), sample.sound.size());
    EXPECT_EQ(std::memcmp(whole.sound.memory(), sample.sound.data(), sample.sound.size()), 0);

    for (uint32_t cut = 1; cut + 4 < written.size(); cut += 97) {
        FileArray part(64);
        part.write(written.memory(), cut);
        part.seek(0, 0);
        Inventory damaged(nullptr);
        EXPECT_FALSE(damaged.load(part)) << cut;
    }
    FileArray past(64);
    fill(past, {1, 1000, 0x46464952, 0});
    Inventory overlong(nullptr);
    EXPECT_FALSE(overlong.load(past));
    EXPECT_EQ(overlong.soundRef, nullptr);
    FileArray noise(64);
    fill(noise, {1, 4, 0x12345678, 0});
    Inventory silent(nullptr);
    EXPECT_TRUE(silent.load(noise));
    EXPECT_EQ(silent.soundRef, nullptr) << "neither wav nor Ogg";
}

// The four samples' blocks with random bytes changed and cut (fixed seed)
// through their readers and a few frames of their instances: no crash, no
// hang, and nothing read past what the block holds.
TEST(BaseTemplates, FuzzedSampleBlocks)
{
    TestClock clock(5000);
    FrameFactor factor(1.0f);
    World world({{L"Kart.teo", kart(true)}});
    Karts karts(world, 1);
    DynObject* owner = karts.dyns[0];
    std::mt19937 random(5201);
    const auto bytesOf = [](auto write) {
        FileArray out(4096);
        EXPECT_TRUE(write(out));
        return std::vector<uint8_t>(out.memory(), out.memory() + out.size());
    };
    const std::vector<uint8_t> samples[4] = {
        bytesOf([](FileArray& o) { return FunctionsRecordWriter::writeSpin(o, ObjectPackageSamples::pickUpSpin()); }),
        bytesOf([](FileArray& o) {
            return FunctionsRecordWriter::writeInventory(o, {SoundSamples::wav(SoundSamples::click())});
        }),
        bytesOf([](FileArray& o) { return FunctionsRecordWriter::writeLensFlare(o, ObjectPackageSamples::gateFlares()); }),
        bytesOf([](FileArray& o) { return FunctionsRecordWriter::writeBush(o, EffectPackageSamples::bushLeaves()); }),
    };
    for (int kind = 0; kind < 4; ++kind)
        for (int i = 0; i < 60; ++i) {
            std::vector<uint8_t> bytes = samples[kind];
            const int changes = 1 + int(random() % 6);
            for (int k = 0; k < changes; ++k)
                bytes[random() % bytes.size()] = uint8_t(random());
            if (random() % 3 == 0)
                bytes.resize(random() % bytes.size());
            FileArray stream(4096);
            stream.write(bytes.data(), uint32_t(bytes.size()));
            stream.seek(0, 0);
            if (kind == 0) {
                Spin spin(nullptr);
                spin.load(stream);
                Spin::Instance instance(&spin, owner);
                for (int frame = 0; frame < 3; ++frame)
                    instance.frameStep();
            } else if (kind == 1) {
                Inventory inventory(nullptr);
                inventory.load(stream);
                Inventory::Instance instance(&inventory, world.chain, &world.scene, owner);
                instance.update();
            } else if (kind == 2) {
                Functions::LensFlare flares(nullptr);
                flares.load(stream);
                ASSERT_LE(flares.flares.size(), size_t(Functions::LensFlare::maxFlares));
                Functions::LensFlare::Instance instance(&flares, world.chain, owner);
                for (int frame = 0; frame < 3; ++frame) {
                    world.chain->position = {float(frame), 3.0f, -10.0f};
                    instance.update();
                    instance.prepareRender();
                    instance.beforeRender(owner->world);
                    for (int32_t k = 0; k < instance.builtCount; ++k)
                        for (float v : instance.object(k)->flareSprite->world.m)
                            ASSERT_TRUE(std::isfinite(v)) << i;
                }
            } else {
                Functions::Bush bush(nullptr);
                bush.load(stream);
                auto instance = std::unique_ptr<Functions::Bush::Instance>(
                    bush.createInstance(world.chain, &world.scene, world.place(L"Crate", owner->world.row(3))));
                for (int frame = 0; frame < 3; ++frame)
                    instance->update();
            }
            // The owner stands where it was placed.
            owner->object->getTransform(owner->world, false);
        }
}

// The fire's editing side works on the selected fire: a pick remembers the
// first fire hit, markModified selects it and copies its look, and each
// change re-places the fire and its box; one scale value for all three.
TEST(BaseTemplates, TheFireEditsItsSelectedFire)
{
    FunctionsRecordWriter::Fire three;
    three.flames.assign(3, FunctionsRecordWriter::Fire::Flame{});
    for (size_t i = 0; i < 3; ++i) {
        three.flames[i].position = {10.0f * float(i), 0.0f, 0.0f};
        three.flames[i].look = {0.1f * float(i), 0.5f, 0.2f * float(i), 0.5f, 0.3f, 0.25f * float(i)};
    }
    FileArray block(4096);
    ASSERT_TRUE(FunctionsRecordWriter::writeFire(block, three));
    block.seek(0, 0);
    Functions::Fire fire(nullptr);
    ASSERT_TRUE(fire.load(block));
    ASSERT_EQ(fire.fires.size(), 3u);
    EXPECT_EQ(&fire.getBox(), &fire.fires[0]->box) << "the first fire is selected";
    EXPECT_TRUE(fire.canMove() && fire.canRotate() && fire.canScale());
    EXPECT_EQ(fire.scaleLocks(), 1u);

    // A ray down onto the second fire's box.
    const Functions::Fire::Entry& second = *fire.fires[1];
    float t = 0.0f;
    ASSERT_TRUE(fire.hitTest(second.box.center + vec3d(0.0f, 50.0f, 0.0f), {0.0f, -1.0f, 0.0f}, t));
    EXPECT_EQ(fire.picked, 1);
    EXPECT_EQ(fire.selected, 0) << "picking alone selects nothing";
    fire.markModified();
    EXPECT_EQ(fire.selected, 1);
    EXPECT_EQ(fire.modified, 1u);
    EXPECT_EQ(fire.sliderValues.sizeCurve, second.look.sizeCurve);
    EXPECT_EQ(fire.sliderValues.flicker, second.look.flicker);
    EXPECT_FALSE(fire.hitTest({0.0f, 500.0f, 0.0f}, {1.0f, 0.0f, 0.0f}, t));

    fire.setPosition({1.0f, 2.0f, 3.0f});
    fire.setScaleX(2.0f);
    fire.setRotation({0.0f, 90.0f, 0.0f});
    vec3d position, angles, pivot;
    fire.getPosition(position);
    fire.getAngles(angles);
    fire.getPivot(pivot);
    EXPECT_EQ(position, vec3d(1.0f, 2.0f, 3.0f));
    EXPECT_EQ(pivot, position);
    EXPECT_EQ(angles, vec3d(0.0f, 90.0f, 0.0f));
    EXPECT_EQ(fire.getScaleX(), 2.0f);
    EXPECT_EQ(second.scale, vec3d(2.0f, 2.0f, 2.0f));
    EXPECT_EQ(second.placement.row(3), position);
    EXPECT_NEAR(second.placement.at(2, 0), 2.0f, 1e-5f) << "turned and scaled";
    EXPECT_NEAR((fire.getBox().center - (position + second.placement.row(1) * 0.2f)).length(), 0.0f, 1e-5f);
    EXPECT_EQ(fire.fires[0]->position, vec3d()) << "the others stay";
}

// Picking a box: from inside, into a face ahead, past it, from behind, and
// parallel to a face outside it (which the box's ray test reports like a
// start inside).
TEST(BaseFunction, ARayPicksWhatItEntersOrStartsIn)
{
    OrientedBox box;
    box.center = {1.0f, 2.0f, 3.0f};
    box.axes[0] = {1.0f, 0.0f, 0.0f};
    box.axes[1] = {0.0f, 1.0f, 0.0f};
    box.axes[2] = {0.0f, 0.0f, 1.0f};
    box.halfExtents = {1.0f, 0.5f, 2.0f};
    struct Case
    {
        const char* what;
        vec3d origin, direction;
        bool picked;
    };
    const Case cases[] = {
        {"from inside", {1.5f, 2.2f, 4.0f}, {0.0f, 1.0f, 0.0f}, true},
        {"into a face ahead", {-5.0f, 2.0f, 3.0f}, {1.0f, 0.0f, 0.0f}, true},
        {"past it", {-5.0f, 4.0f, 3.0f}, {1.0f, 0.0f, 0.0f}, false},
        {"parallel above it", {1.0f, 9.0f, 3.0f}, {0.0f, 0.0f, 1.0f}, false},
        {"parallel beside it, in its slab", {5.0f, 2.0f, 3.0f}, {0.0f, 0.0f, 1.0f}, false},
    };
    for (const Case& c : cases) {
        float t = -1.0f;
        EXPECT_EQ(Functions::BaseFuncEditor::picks(box, c.origin, c.direction, t), c.picked) << c.what;
    }
}
