// Pick-ups and gates on the builder's packages with the test's race clock:
// taking an item, its 3000 ms away and 500 ms pop-in with and without a spin,
// the carried flag, the gate's marker, and the scene camera taking the race
// camera off the player's quad.
#include "ObjectFunctionsWorld.h"

#include "Objects/CollectGate.h"
#include "Objects/PackageMesh.h"
#include "Objects/VehicleCamera.h"

#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"

#include "MeshSamples.h"

#include <vector>

using namespace ObjectFunctionsTests;
using Collect = ObjPkgManager::Functions::Collect;
using Gate = ObjPkgManager::Functions::Gate;

namespace {

// An instance under a flag that only marks its place in the order.
class Marker final : public ObjectFuncInstInterface
{
public:
    explicit Marker(std::vector<int>& deleted, int id) : deleted_(deleted), id_(id) {}
    ~Marker() override { deleted_.push_back(id_); }
    int id() const { return id_; }

private:
    std::vector<int>& deleted_;
    int id_;
};

Collect::Instance* collectOf(DynObject* object)
{
    DynObject::FunctionManager::Function* entry = object ? object->functions->find(0x8) : nullptr;
    return entry ? dynamic_cast<Collect::Instance*>(entry->instance) : nullptr;
}

Gate::Instance* gateOf(DynObject* object)
{
    DynObject::FunctionManager::Function* entry = object ? object->functions->find(0x40) : nullptr;
    return entry ? dynamic_cast<Gate::Instance*>(entry->instance) : nullptr;
}

PackagePartWriter::Mesh box(const char* name, vec3d position)
{
    PackagePartWriter::Mesh m;
    m.body = MeshSamples::record();
    m.displayName = name;
    m.name = name;
    m.position = position;
    m.scale = 1.0f;
    return m;
}

// A gate package of meshes by name, marked by markerName.
ObjectPackageWriter::Package gatePackage(const std::vector<const char*>& meshes, const char* markerName)
{
    ObjectPackageWriter::Package p;
    float y = 0.0f;
    for (const char* name : meshes)
        p.meshes.push_back(box(name, {0.0f, y += 2.0f, 0.0f}));
    FunctionsRecordWriter::Record functions;
    functions.gate = FunctionsRecordWriter::Gate{markerName};
    p.functions = functions;
    return p;
}

}

// The builder's pick-ups read back with their items, each object with one
// pick-up instance; made for a state other than 255 the object turns
// distance-hidden, and the parts leave the queries: a vehicle drives through
// a pick-up to take it.
TEST(Collect, ThePickUpPackagesCarryTheirItems)
{
    World world;
    for (const auto& [name, value] : ObjectPackageSamples::pickUpValues()) {
        const std::wstring wide(name);
        SCOPED_TRACE(std::string(wide.begin(), wide.end()));
        ObjPkgManager::Package* package = world.package(name);
        ASSERT_NE(package, nullptr);
        ASSERT_NE(package->functions.collect, nullptr);
        EXPECT_EQ(package->functions.collect->value, value);
        EXPECT_EQ(package->functions.gate, nullptr);
        EXPECT_EQ(package->meshes.count(), 1);

        DynObject* item = world.place(name, {float(value) * 10.0f, 0.0f, 0.0f});
        ASSERT_NE(item, nullptr);
        // The carried flag flies a cloth besides.
        EXPECT_EQ(item->functions->count, value == 5 ? 3 : 2) << "the spin, then the pick-up";
        EXPECT_EQ(item->functions->entries.at(0)->flag, 0x1u);
        EXPECT_EQ(item->functions->find(0x200) != nullptr, value == 5);
        Collect::Instance* collect = collectOf(item);
        ASSERT_NE(collect, nullptr);
        EXPECT_EQ(collect->state, Collect::Instance::shown);
        EXPECT_EQ(item->object->state, StaticEntity::alwaysActive);
        ASSERT_GT(item->subEntities.count(), 0);
        for (auto* node = item->subEntities.head(); node; node = node->next)
            EXPECT_EQ(node->item->layer, value == 5 ? -2 : -1);

        DynObject* flagged = world.place(name, {float(value) * 10.0f, 0.0f, 30.0f}, StaticEntity::instanceFlagged);
        ASSERT_NE(flagged, nullptr);
        EXPECT_EQ(flagged->object->state, StaticEntity::instanceFlagged) << "made with its flag: left so";
    }
    EXPECT_EQ(world.place(L"Crate", {})->functions->find(0x8), nullptr) << "no pick-up without the template";
}

// Taken at t: hidden until t + 3000, returning until t + 3500 with the pop-in
// factor on the axis rows only while a spin is present; a second take
// answers -1 until it is back.
TEST(Collect, ATakenItemHidesThenPopsBackIn)
{
    std::vector<int> deleted;
    World world;
    constexpr uint32_t t = 100000;
    TestClock clock(t);
    for (bool spin : {false, true}) {
        SCOPED_TRACE(spin ? "with a spin" : "without a spin");
        DynObject* item = world.place(L"RocketPack", {spin ? 50.0f : 0.0f, 0.0f, 0.0f});
        ASSERT_NE(item, nullptr);
        // The sample pick-ups spin; the test rebuilds the rotation itself and
        // keeps only the spin's flag, or none.
        item->functions->remove(0x1);
        if (spin)
            item->functions->add(0x1, new Marker(deleted, 1));
        Collect::Instance* collect = collectOf(item);
        ASSERT_NE(collect, nullptr);
        TestClock::now = t;
        EXPECT_EQ(collect->collect(), 4);
        EXPECT_EQ(item->hidden, 1u);
        struct Step
        {
            uint32_t at;
            int32_t state;
            uint32_t hidden;
            float factor; // of the axis rows with a spin
            int32_t take;
        };
        const Step steps[] = {
            {t + 1, Collect::Instance::taken, 1, 1.0f, -1},
            {t + 3000, Collect::Instance::taken, 1, 1.0f, -1},
            {t + 3001, Collect::Instance::returning, 1, 1.0f, -1},
            {t + 3002, Collect::Instance::returning, 0, Collect::Instance::popInFactor(499), -1},
            {t + 3251, Collect::Instance::returning, 0, 1.0877f, -1},
            {t + 3400, Collect::Instance::returning, 0, Collect::Instance::popInFactor(101), -1},
            {t + 3501, Collect::Instance::returning, 0, 1.0f, -1},
            {t + 3502, Collect::Instance::shown, 0, 1.0f, 4},
        };
        for (const Step& s : steps) {
            TestClock::now = s.at;
            // A spin builds the rotation anew each frame.
            item->world = matrix3d::identity();
            item->world.setRow(3, {1.0f, 2.0f, 3.0f});
            item->hidden = 0;
            item->prepare();
            EXPECT_EQ(collect->state, s.state) << s.at - t;
            EXPECT_EQ(item->hidden, s.hidden) << s.at - t;
            const float want = spin ? s.factor : 1.0f;
            for (int r = 0; r < 3; ++r)
                EXPECT_NEAR(item->world.at(r, r), want, 1e-4f) << s.at - t << " row " << r;
            EXPECT_EQ(item->world.at(0, 1), 0.0f);
            EXPECT_EQ(item->world.row(3), (vec3d{1.0f, 2.0f, 3.0f})) << "the position stays";
            EXPECT_EQ(collect->collect(), s.take) << s.at - t;
            if (s.take > 0) {
                EXPECT_EQ(collect->state, Collect::Instance::taken);
            }
        }
    }
    // The pop-in curve: from nothing, over about 1.1, to 1.
    struct Point
    {
        int32_t remaining;
        float factor;
    };
    for (const Point& p : {Point{500, 0.0f}, Point{250, 1.0877f}, Point{0, 1.0f}, Point{-20, 1.0f}})
        EXPECT_NEAR(Collect::Instance::popInFactor(p.remaining < 0 ? 0 : p.remaining), p.factor, 1e-4f);
}

// A carried item (state 3) is left as it is: no take, no return, no hiding.
TEST(Collect, ACarriedFlagIsLeftAlone)
{
    World world;
    TestClock clock(5000);
    DynObject* flag = world.place(L"CaptureFlag", {});
    Collect::Instance* collect = collectOf(flag);
    ASSERT_NE(collect, nullptr);
    collect->state = Collect::Instance::carried;
    for (uint32_t at : {5000u, 9000u, 20000u}) {
        TestClock::now = at;
        flag->hidden = 0;
        collect->update();
        EXPECT_EQ(collect->state, Collect::Instance::carried) << at;
        EXPECT_EQ(flag->hidden, 0u) << at;
        EXPECT_EQ(collect->collect(), -1) << at;
    }
    // The race puts it back: it can be taken again.
    collect->state = Collect::Instance::shown;
    EXPECT_EQ(collect->collect(), 5);
    // Without an owner nothing is taken or touched.
    Collect::Instance orphan(flag->package->functions.collect, nullptr);
    EXPECT_EQ(orphan.collect(), -1);
    orphan.update();
}

// The marker is the last part drawn from the named mesh, hidden at the
// start and shown only while marked; "Unassigned" or a name of no mesh
// gives none, and marking then changes nothing.
TEST(Gate, TheMarkerIsTheLastPartOfTheNamedMesh)
{
    World world({{L"TwoMarks.teo", gatePackage({"TwoMarksFrame", "TwoMarksFlag", "TwoMarksFlag"}, "TwoMarksFlag")},
                 {L"NoMark.teo", gatePackage({"NoMarkFrame"}, "Unassigned")},
                 {L"LostMark.teo", gatePackage({"LostMarkFrame"}, "NoSuchMesh")}});

    DynObject* sample = world.place(L"Gate", {});
    ASSERT_NE(sample, nullptr);
    Gate::Instance* gate = gateOf(sample);
    ASSERT_NE(gate, nullptr);
    ASSERT_NE(gate->marker, nullptr);
    EXPECT_TRUE(gate->marker->mesh().name.sameText(L"GateMarker", 10));
    EXPECT_EQ(gate->swapChain, world.chain);
    EXPECT_EQ(gate->marker->hidden, 1u) << "a new gate starts unmarked";

    DynObject* two = world.place(L"TwoMarks", {50.0f, 0.0f, 0.0f});
    Gate::Instance* twoGate = gateOf(two);
    ASSERT_NE(twoGate, nullptr);
    std::vector<EntityManager::SubEntity*> parts;
    for (auto* node = two->subEntities.head(); node; node = node->next)
        parts.push_back(node->item);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(twoGate->marker, parts[2]) << "the last of the two parts of the name";
    EXPECT_EQ(parts[0]->hidden, 0u);
    EXPECT_EQ(parts[1]->hidden, 0u);
    EXPECT_EQ(parts[2]->hidden, 1u);

    struct Step
    {
        bool on;
        uint32_t hidden;
    };
    for (const Step s : {Step{true, 0}, Step{true, 0}, Step{false, 1}, Step{false, 1}, Step{true, 0}}) {
        twoGate->setMarked(s.on);
        EXPECT_EQ(parts[2]->hidden, s.hidden) << s.on;
        EXPECT_EQ(parts[1]->hidden, 0u) << "the other part of the name stays";
        EXPECT_EQ(two->functions->count, 1) << "marking adds no function without a flare template";
    }

    for (const wchar_t* name : {L"NoMark", L"LostMark"}) {
        DynObject* none = world.place(name, {100.0f, 0.0f, 0.0f});
        Gate::Instance* noneGate = gateOf(none);
        ASSERT_NE(noneGate, nullptr);
        EXPECT_EQ(noneGate->marker, nullptr);
        for (bool on : {true, false}) {
            noneGate->setMarked(on);
            for (auto* node = none->subEntities.head(); node; node = node->next)
                EXPECT_EQ(node->item->hidden, 0u);
        }
    }
}

// Leaving the vehicle view for a camera tour takes the race camera (0x4)
// and the head-up display (0x20) off the player's quad and keeps the rest in
// order; from another mode nothing is taken.
TEST(SceneCamera, ATourFromTheVehicleViewTakesTheRaceCameraOff)
{
    std::vector<int> deleted;
    World world;
    world.scene.setCameraObjectType(String(L"Camera"));
    ASSERT_NE(world.scene.cameraType, nullptr);
    DynObject* bystander = world.place(L"Crate", {200.0f, 0.0f, 0.0f});
    DynObject* quad = world.place(L"Crate", {0.0f, 0.0f, 0.0f});
    ASSERT_NE(quad, nullptr);
    for (auto [flag, id] : {std::pair{0x1u, 1}, std::pair{0x20u, 2}, std::pair{0x10u, 3}, std::pair{0x400u, 5}})
        quad->functions->add(flag, new Marker(deleted, id));
    quad->functions->add(0x4, new ObjPkgManager::Functions::VehicleCamera(world.chain, quad));
    bystander->functions->add(0x10, new Marker(deleted, 9));
    EXPECT_EQ(world.scene.findFlaggedEntity(), quad);

    world.scene.camera.mode = SceneCamera::freeMode;
    world.scene.setCameraMode(0, 2, 3.0f);
    EXPECT_EQ(quad->functions->count, 5) << "not from the free camera";

    world.scene.camera.mode = SceneCamera::vehicleMode;
    world.scene.setCameraMode(0, 2, 3.0f);
    EXPECT_EQ(world.scene.camera.mode, uint32_t(SceneCamera::pathMode));
    std::vector<uint32_t> flags;
    for (int32_t i = 0; i < quad->functions->count; ++i)
        flags.push_back(quad->functions->entries.at(i)->flag);
    EXPECT_EQ(flags, (std::vector<uint32_t>{0x1, 0x10, 0x400}));
    EXPECT_EQ(deleted, (std::vector<int>{2})) << "the display deleted (the camera with it)";
    EXPECT_EQ(bystander->functions->count, 1);
    EXPECT_EQ(world.scene.findFlaggedEntity(), nullptr);

    // A display alone still marks the player's quad.
    quad->functions->add(0x20, new Marker(deleted, 6));
    EXPECT_EQ(world.scene.findFlaggedEntity(), quad);
}
