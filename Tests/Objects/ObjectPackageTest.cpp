// Object packages: the objects folder listed and searched, packages built
// from ".teo" files made by the content builder's writers and by hand, the
// functions record, objects placed on their box, and damaged files.
#include "ObjectsTestSupport.h"

#include "../Application/AppTestFiles.h"

#include "FunctionsRecordWriter.h"
#include "MeshSamples.h"
#include "ObjectPackageSamples.h"
#include "ObjectPackageWriter.h"

#include "Objects/Cloths.h"
#include "Objects/LensFlare.h"
#include "Objects/ObjectFunctions.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageLight.h"
#include "Objects/PackageMesh.h"
#include "Vehicle/QuadPhysics.h"

#include "Entity/StaticEntity.h"
#include "Landscape/HLod.h"
#include "Landscape/Scene.h"
#include "Render/SwapChain.h"

#include "Core/Thread.h"

#include <chrono>
#include <random>
#include <thread>

using namespace ObjectsTests;
using Functions = ObjPkgManager::Functions;
using Package = ObjPkgManager::Package;

namespace {

// A unit box mesh of the mesh samples at centre, scaled to size, named.
PackagePartWriter::Mesh cube(const char* name, vec3d centre, float size)
{
    PackagePartWriter::Mesh m;
    m.body = MeshSamples::record();
    m.name = name;
    m.position = centre;
    m.scale = size;
    return m;
}

Bytes packageBytes(const ObjectPackageWriter::Package& package)
{
    return bytesOf([](FileInterface& target, const auto& p) { return ObjectPackageWriter::write(target, p); },
                   package);
}

Bytes functionsBytes(const FunctionsRecordWriter::Record& record)
{
    return bytesOf([](FileInterface& target, const auto& r) { return FunctionsRecordWriter::write(target, r); },
                   record);
}

// A package of no file, built from bytes in memory.
struct Built
{
    explicit Built(const Bytes& bytes, ObjPkgManager* owner = nullptr) : package(owner, String(L"Test.teo"))
    {
        auto stream = streamOf(bytes);
        built = package.buildFrom(*stream, nullptr);
    }
    Package package;
    bool built = false;
};

std::wstring writePackage(const std::wstring& folder, const wchar_t* name, const Bytes& bytes)
{
    const std::wstring path = folder + name;
    EXPECT_TRUE(AppTestFiles::write(path, bytes));
    return path;
}

// A scene with a swap chain (no device) whose static objects take placed
// objects.
struct SceneWithObjects
{
    SceneWithObjects() { scene.swapChain = &chain; }
    D3D::Device::SwapChain chain{nullptr};
    Scene scene{String(L"KorvantaTests"), 3500.0f};
};

std::vector<std::string> namesOf(const SCList<Package>& packages)
{
    std::vector<std::string> names;
    for (auto* node = packages.head(); node; node = node->next)
        names.push_back(narrow(node->item->name));
    return names;
}

}

TEST(ObjectPackages, VersionTagsGiveTheirNumbers)
{
    const struct
    {
        const char* tag;
        uint32_t version;
    } cases[] = {{"v1.0", 10}, {"v1.1", 11}, {"v1.2", 12}, {"v1.3", 0}, {"v2.0", 0},
                 {"x1.2", 0},  {"v1,2", 0},  {"V1.2", 0},  {"v1.", 0}};
    for (const auto& c : cases) {
        uint8_t tag[4] = {'v', '1', '.', '0'};
        std::memcpy(tag, c.tag, std::strlen(c.tag));
        if (std::strlen(c.tag) < 4)
            tag[3] = 'x';
        EXPECT_EQ(Package::parseVersion(tag), c.version) << c.tag;
    }
}

// The folder is listed by extension (lowered); names are found without
// regard to case, whole; a second listing replaces the first.
TEST(ObjectPackages, TheFolderListsTeoFilesAndFindsThemByName)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"objects-listing");
    const Bytes empty = packageBytes({});
    for (const wchar_t* name : {L"Rock.TEO", L"Rock.teo.bak", L"teo", L"Tree.teo", L"Other.txt"})
        writePackage(folder, name, empty);

    ObjPkgManager manager(nullptr);
    manager.loadFolder(String(folder.c_str()));
    std::vector<std::string> names = namesOf(manager.packages);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Rock", "Tree"}));

    const struct
    {
        const wchar_t* name;
        const char* found;
    } lookups[] = {{L"rock", "Rock"}, {L"ROCK", "Rock"}, {L"Roc", nullptr}, {L"Rocks", nullptr},
                   {L"tree", "Tree"}, {L"", nullptr},    {L"Other", nullptr}};
    for (const auto& l : lookups) {
        Package* package = manager.findPackage(String(l.name));
        if (l.found) {
            ASSERT_NE(package, nullptr) << narrow(String(l.name));
            EXPECT_EQ(narrow(package->name), l.found);
            EXPECT_EQ(package->owner, &manager);
            EXPECT_EQ(package->built, 0u) << "listing builds nothing";
        } else {
            EXPECT_EQ(package, nullptr) << narrow(String(l.name));
        }
    }

    // A folder written with slashes (the listing joins it to its files with
    // a backslash) names its packages alike.
    std::wstring slashed = folder;
    std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
    slashed.pop_back();
    ObjPkgManager other(nullptr);
    other.loadFolder(String(slashed.c_str()));
    ASSERT_NE(other.findPackage(String(L"rock")), nullptr);
    EXPECT_EQ(narrow(other.findPackage(String(L"rock"))->name), "Rock");

    ASSERT_TRUE(DeleteFileW((folder + L"Tree.teo").c_str()));
    manager.loadFolder(String(folder.c_str()));
    EXPECT_EQ(namesOf(manager.packages), (std::vector<std::string>{"Rock"}));
    EXPECT_EQ(manager.findPackage(String(L"tree")), nullptr);

    manager.loadFolder(String((folder + L"missing\\").c_str()));
    EXPECT_EQ(manager.packages.count(), 0);
}

// The walk of the records: the order rule, counts that stay in force, main
// lights, embedded files, later kinds, the radius.
TEST(ObjectPackages, RecordWalkCases)
{
    const Bytes mesh = bytesOf(PackagePartWriter::writeMesh, cube("M", {}, 1.0f));
    const Bytes light = bytesOf(PackagePartWriter::writeLight, PackagePartWriter::Light{});
    const auto head = [](const char* tag) {
        BlockBytes b;
        b.bytes.assign(tag, tag + 4);
        return b;
    };
    const auto memory = [](BlockBytes& b) -> BlockBytes& { return b << 1u << 0u; };
    const auto noFiles = [](BlockBytes& b) -> BlockBytes& { return b << 2u << 0u; };

    struct Case
    {
        const char* what;
        Bytes bytes;
        bool built;
        uint32_t version, meshes, lights;
        std::vector<uint32_t> mainLights;
    };
    std::vector<Case> cases;
    {
        BlockBytes b = head("v1.2");
        memory(b);
        noFiles(b) << 3u << 1 << 4u;
        b.append(mesh) << 0u;
        cases.push_back({"1 2 3 4 0 under v1.2", b.bytes, true, 12, 1, 0, {}});
    }
    {
        BlockBytes b = head("v1.0");
        noFiles(b);
        memory(b) << 3u << 0 << 0u;
        cases.push_back({"kind 2 first", b.bytes, false, 10, 0, 0, {}});
    }
    {
        BlockBytes b = head("v1.0");
        memory(b) << 3u << 0 << 0u;
        cases.push_back({"kind 3 second", b.bytes, false, 10, 0, 0, {}});
    }
    {
        BlockBytes b = head("v1.1");
        memory(b);
        noFiles(b) << 3u << 2 << 4u;
        b.append(mesh).append(mesh) << 3u << 1 << 4u;
        b.append(mesh) << 0u;
        cases.push_back({"3 4 3 4", b.bytes, true, 11, 3, 0, {}});
    }
    {
        BlockBytes b = head("v1.0");
        memory(b);
        noFiles(b) << 3u << 1 << 4u;
        b.append(mesh) << 4u;
        b.append(mesh) << 0u;
        cases.push_back({"a mesh count stays in force", b.bytes, true, 10, 2, 0, {}});
    }
    {
        BlockBytes b = head("v1.0");
        memory(b);
        noFiles(b) << 3u << 0 << 6u << 2 << 7u;
        b.append(light).append(light) << 7u;
        b.append(light).append(light) << 0u;
        cases.push_back({"two kind-7 records", b.bytes, true, 10, 0, 4, {1, 0, 1, 0}});
    }
    {
        BlockBytes b = head("v1.0");
        memory(b);
        noFiles(b) << 3u << -5 << 4u << 6u << 0 << 7u << 9u << 0u;
        cases.push_back({"counts of none and kind 9", b.bytes, true, 10, 0, 0, {}});
    }
    {
        BlockBytes b = head("v1.0");
        memory(b);
        noFiles(b) << 3u << 0 << 4u << 6u << -1 << 7u << 3u << 1 << 4u;
        b.append(mesh) << 0u;
        cases.push_back({"kinds 4 and 7 of none read nothing", b.bytes, true, 10, 1, 0, {}});
    }
    {
        BlockBytes b = head("v1.0");
        memory(b);
        noFiles(b) << 3u << 0x7FFFFFFF << 4u;
        b.append(mesh) << 0u;
        cases.push_back({"a count past the data", b.bytes, true, 10, 0, 0, {}});
    }
    {
        BlockBytes b = head("v1.0");
        memory(b);
        noFiles(b) << 3u << 0 << 6u << 1000000 << 7u;
        b.append(light) << 0u;
        cases.push_back({"a light count past the data", b.bytes, true, 10, 0, 0, {}});
    }
    {
        BlockBytes b = head("v1.0");
        memory(b);
        noFiles(b) << 3u;
        b.bytes.push_back(1);
        cases.push_back({"a mesh count cut", b.bytes, true, 10, 0, 0, {}});
    }
    {
        // A file whose size runs past the data ends the walk: what follows
        // is not read as records.
        BlockBytes b = head("v1.0");
        memory(b) << 2u << 1u << 1u;
        b.bytes.push_back('a');
        b << 0x7FFFFFF0u << 3u << 0 << 6u << 1 << 7u;
        b.append(light) << 0u;
        cases.push_back({"a file past the data", b.bytes, true, 10, 0, 0, {}});
    }
    cases.push_back({"a tag alone", Bytes{'v', '1', '.', '2'}, true, 12, 0, 0, {}});
    cases.push_back({"two bytes", Bytes{'v', '1'}, true, 10, 0, 0, {}});
    cases.push_back({"a wrong tag", Bytes{'w', '1', '.', '2'}, true, 0, 0, 0, {}});

    for (const Case& c : cases) {
        Built built(c.bytes);
        EXPECT_EQ(built.built, c.built) << c.what;
        EXPECT_EQ(built.package.built, c.built ? 1u : 0u) << c.what;
        EXPECT_EQ(built.package.version, c.version) << c.what;
        EXPECT_EQ(built.package.meshes.count(), int(c.meshes)) << c.what;
        EXPECT_EQ(built.package.lights.count(), int(c.lights)) << c.what;
        std::vector<uint32_t> main;
        for (auto* node = built.package.lights.head(); node; node = node->next)
            main.push_back(node->item->mainLight);
        EXPECT_EQ(main, c.mainLights) << c.what;
    }

    // Embedded files of no name and no bytes fill the data to its last byte.
    BlockBytes exact = head("v1.2");
    memory(exact) << 2u << 2u << 0u << 0u << 0u << 0u;
    const Built emptyFiles(exact.bytes);
    EXPECT_EQ(emptyFiles.package.files.count(), 2);
}

// A file that breaks the order rule stays unbuilt and is read again at the
// next build; an unbuilt package keeps its path and builds again.
TEST(ObjectPackages, UnbuiltPackagesBuildAgain)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"objects-rebuild");
    BlockBytes wrong;
    wrong.bytes = {'v', '1', '.', '0'};
    wrong << 2u << 0u << 1u << 0u << 3u << 0 << 0u;
    const std::wstring path = writePackage(folder, L"Crate.teo", wrong.bytes);

    ObjPkgManager manager(nullptr);
    manager.loadFolder(String(folder.c_str()));
    Package* package = manager.findPackage(String(L"crate"));
    ASSERT_NE(package, nullptr);
    manager.buildPackages();
    EXPECT_EQ(package->built, 0u);

    ObjectPackageWriter::Package crate = ObjectPackageSamples::crate();
    crate.memory = {9, 8, 7};
    writePackage(folder, L"Crate.teo", packageBytes(crate));
    manager.buildPackages();
    EXPECT_EQ(package->built, 1u);
    ASSERT_EQ(package->memory.size(), 3u);
    EXPECT_EQ(package->memory.tell(), 0u);
    EXPECT_EQ(package->memory.memory()[2], 7);
    EXPECT_EQ(package->meshes.count(), 1);
    EXPECT_EQ(package->physics.mass, 2.0f);
    ASSERT_NE(package->findFile(String(L"CrateBox.tga")), nullptr);

    package->unbuild();
    EXPECT_EQ(package->built, 0u);
    EXPECT_EQ(package->meshes.count(), 0);
    EXPECT_EQ(package->findFile(String(L"CrateBox.tga")), nullptr);
    EXPECT_EQ(package->physics.mass, 0.5f);
    EXPECT_EQ(package->memory.size(), 0u);
    EXPECT_EQ(narrow(package->path), narrow(String(path.c_str())));
    // The build let go of the file.
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    writePackage(folder, L"Crate.teo", packageBytes(ObjectPackageSamples::crate()));
    package->build(nullptr);
    EXPECT_EQ(package->built, 1u);
    EXPECT_EQ(package->meshes.count(), 1);

    // A missing file and an empty path leave it unbuilt.
    Package missing(&manager, String((folder + L"Missing.teo").c_str()));
    missing.build(nullptr);
    EXPECT_EQ(missing.built, 0u);
    Package unnamed(&manager, String(L""));
    unnamed.build(nullptr);
    EXPECT_EQ(unnamed.built, 0u);
    // A name given to the build replaces the path.
    unnamed.build(nullptr, String(path.c_str()));
    EXPECT_EQ(unnamed.built, 1u);
}

// Boxes, radii, embedded files and the visibility a build gives.
TEST(ObjectPackages, BoxRadiusFilesAndVisibility)
{
    ObjectPackageWriter::Package spread;
    spread.meshes = {cube("A", {-0.5f, -1.5f, -2.5f}, 1.0f), cube("B", {3.5f, -0.5f, -0.5f}, 1.0f)};
    spread.files = {{"a.bin", {1, 2, 3}}, {"b.bin", {}}};
    Built built(packageBytes(spread));
    ASSERT_TRUE(built.built);
    BoundingBox box = Package::originBox();
    built.package.calcBoundingBox(box);
    expectNear(box.minimum, {-1.0f, -2.0f, -3.0f}, 1e-4f, "minimum");
    expectNear(box.maximum, {4.0f, 0.0f, 0.0f}, 1e-4f, "maximum");
    expectNear(box.center, {1.5f, -1.0f, -1.5f}, 1e-4f, "centre");
    EXPECT_NEAR(built.package.getRadius(), 4.0f, 1e-3f);
    EXPECT_NEAR(built.package.radius(), 4.0f, 1e-3f);
    EXPECT_EQ(built.package.findMesh(String(L"B")), built.package.meshes.tail()->item);
    EXPECT_EQ(built.package.findMesh(String(L"b")), nullptr);
    FileArray* file = built.package.findFile(String(L"a.bin"));
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->size(), 3u);
    EXPECT_EQ(file->memory()[2], 3);
    EXPECT_NE(built.package.findFile(String(L"b.bin")), nullptr);
    EXPECT_EQ(built.package.findFile(String(L"A.bin")), nullptr);
    // Without a camera the range is 1800, 0.7 of it by default.
    EXPECT_NEAR(built.package.visibilityDistance, 1260.0f, 1e-2f);
    EXPECT_NEAR(built.package.rangeSq, 1260.0f * 1260.0f, 1.0f);
    EXPECT_EQ(built.package.areaKind, StaticEntityManager::Method::circleArea);

    // A box of no extent gives way to the next mesh's.
    ObjectPackageWriter::Package flat;
    flat.meshes = {cube("Flat", {7.0f, 7.0f, 7.0f}, 0.0f), cube("Next", {0.0f, 2.0f, 0.0f}, 2.0f)};
    Built replaced(packageBytes(flat));
    box = Package::originBox();
    replaced.package.calcBoundingBox(box);
    expectNear(box.minimum, {-1.0f, 1.0f, -1.0f}, 1e-4f, "replaced minimum");
    expectNear(box.maximum, {1.0f, 3.0f, 1.0f}, 1e-4f, "replaced maximum");

    // No meshes: the box stays as given, the radius 0; an empty file list.
    ObjectPackageWriter::Package none;
    none.functions = FunctionsRecordWriter::Record{};
    none.functions->value5 = 0.5f;
    Built bare(packageBytes(none));
    BoundingBox given = Package::originBox();
    given.minimum = {-9.0f, -9.0f, -9.0f};
    bare.package.calcBoundingBox(given);
    EXPECT_EQ(given.minimum.x, -9.0f);
    EXPECT_EQ(bare.package.getRadius(), 0.0f);
    EXPECT_EQ(bare.package.findFile(String(L"a.bin")), nullptr);
    EXPECT_NEAR(bare.package.visibilityDistance, 900.0f, 1e-2f);
    Package unbuilt(nullptr, String(L"X.teo"));
    EXPECT_EQ(unbuilt.getRadius(), 1.0f);
    EXPECT_EQ(unbuilt.rangeSq, 300.0f);
}

// The functions record read from hand-made bytes.
TEST(ObjectPackages, FunctionsRecordCases)
{
    using Record = Functions::Record;
    struct Case
    {
        const char* what;
        Bytes bytes;
        bool whole;
        std::function<void(const Record&)> check;
    };
    const auto defaults = [](const Record& r) {
        EXPECT_EQ(r.value2, 1u);
        EXPECT_EQ(r.value5, 0.7f);
        EXPECT_EQ(r.value6, 0.4f);
        EXPECT_EQ(r.value20, 0.08f);
        EXPECT_EQ(r.compass, 0u);
        EXPECT_EQ(r.collect, nullptr);
        EXPECT_EQ(r.gate, nullptr);
    };
    std::vector<Case> cases;
    cases.push_back({"empty", {}, true, defaults});
    cases.push_back({"code 0", (BlockBytes() << 0u).bytes, true, defaults});
    cases.push_back({"code 22 then 14", (BlockBytes() << 22u << 14u << 1u << 0u).bytes, true,
                     [](const Record& r) { EXPECT_EQ(r.compass, 1u); }});
    cases.push_back({"a gate not present", (BlockBytes() << 12u << 0u << 14u << 1u << 0u).bytes, true,
                     [](const Record& r) {
                         EXPECT_EQ(r.gate, nullptr);
                         EXPECT_EQ(r.compass, 1u);
                     }});
    FunctionsRecordWriter::Record all;
    all.value2 = 7;
    all.value3 = 3;
    all.farField = 0;
    all.value5 = 0.25f;
    all.value6 = 0.5f;
    all.value7 = 9;
    all.markSubEntities = 1;
    all.compass = 2;
    all.value20 = 0.3f;
    all.alwaysShown = 1;
    all.collect = FunctionsRecordWriter::Collect{4};
    all.gate = FunctionsRecordWriter::Gate{"Nothing"};
    all.quadPhysics.emplace();
    all.quadPhysics->frontDamper = 2.25f;
    cases.push_back({"every value and the templates", functionsBytes(all), true, [](const Record& r) {
                         EXPECT_EQ(r.value2, 7u);
                         EXPECT_EQ(r.value3, 3u);
                         EXPECT_EQ(r.value5, 0.25f);
                         EXPECT_EQ(r.value6, 0.5f);
                         EXPECT_EQ(r.value7, 9u);
                         EXPECT_EQ(r.markSubEntities, 1u);
                         EXPECT_EQ(r.compass, 2u);
                         EXPECT_EQ(r.value20, 0.3f);
                         EXPECT_EQ(r.alwaysShown, 1u);
                         ASSERT_NE(r.collect, nullptr);
                         EXPECT_EQ(r.collect->value, 4u);
                         EXPECT_EQ(r.collect->record, &r);
                         ASSERT_NE(r.gate, nullptr);
                         EXPECT_EQ(r.gate->mesh, nullptr);
                         ASSERT_NE(r.quadPhysics, nullptr);
                         EXPECT_EQ(r.quadPhysics->frontDamper, 2.25f);
                     }});
    cases.push_back({"a collect block with a later tag",
                     (BlockBytes() << 10u << 1u << 7u << 1u << 5u << 0u << 14u << 3u << 0u).bytes, true,
                     [](const Record& r) {
                         ASSERT_NE(r.collect, nullptr);
                         EXPECT_EQ(r.collect->value, 5u);
                         EXPECT_EQ(r.compass, 3u);
                     }});
    cases.push_back({"a repeated code: the later template", (BlockBytes() << 10u << 1u << 1u << 2u << 0u << 10u << 1u
                                                                          << 1u << 3u << 0u << 0u)
                                                                 .bytes,
                     true, [](const Record& r) {
                         ASSERT_NE(r.collect, nullptr);
                         EXPECT_EQ(r.collect->value, 3u);
                     }});
    cases.push_back({"a present word without its block", (BlockBytes() << 14u << 1u << 10u << 1u).bytes, true,
                     [](const Record& r) {
                         EXPECT_EQ(r.compass, 1u);
                         ASSERT_NE(r.collect, nullptr);
                         EXPECT_EQ(r.collect->value, 0u);
                     }});
    cases.push_back({"a present word cut", (BlockBytes() << 14u << 1u << 12u << uint16_t(1)).bytes, false,
                     [](const Record& r) {
                         EXPECT_EQ(r.compass, 1u);
                         EXPECT_EQ(r.gate, nullptr);
                     }});
    cases.push_back({"a value cut", (BlockBytes() << 14u << uint16_t(1)).bytes, false,
                     [](const Record& r) { EXPECT_EQ(r.compass, 0u); }});
    cases.push_back({"a code cut", (BlockBytes() << 14u << 1u << uint16_t(0)).bytes, false,
                     [](const Record& r) { EXPECT_EQ(r.compass, 1u); }});
    cases.push_back({"a gate name past the data", (BlockBytes() << 12u << 1u << 1u << 0x7FFFFFF0u << 0u).bytes, false,
                     [](const Record& r) {
                         ASSERT_NE(r.gate, nullptr);
                         EXPECT_EQ(r.gate->mesh, nullptr);
                     }});
    cases.push_back({"a quad template", (BlockBytes() << 8u << 1u << 13u << 70.0f << 0u << 14u << 1u << 0u).bytes,
                     true, [](const Record& r) {
                         EXPECT_EQ(r.compass, 1u);
                         ASSERT_NE(r.quadPhysics, nullptr);
                         EXPECT_EQ(r.quadPhysics->rearSpring, 70.0f);
                         EXPECT_EQ(r.quadPhysics->record, &r);
                     }});
    cases.push_back({"a quad template cut", (BlockBytes() << 8u << 1u << 13u << uint16_t(1)).bytes, false,
                     [](const Record& r) {
                         ASSERT_NE(r.quadPhysics, nullptr);
                         EXPECT_EQ(r.quadPhysics->rearSpring, 60.0f);
                     }});
    cases.push_back({"a cloth template", (BlockBytes() << 15u << 1u << 1u << 5 << 4 << 0u << 14u << 1u << 0u).bytes,
                     true, [](const Record& r) {
                         EXPECT_EQ(r.compass, 1u);
                         ASSERT_NE(r.cloths, nullptr);
                         EXPECT_EQ(r.cloths->columns, 5);
                         EXPECT_EQ(r.cloths->rows, 4);
                     }});
    cases.push_back({"spin, inventory, lens flare and bush with empty blocks",
                     (BlockBytes() << 1u << 1u << 0u << 11u << 1u << 0u << 13u << 1u << 0u << 19u << 1u << 0u << 14u
                                   << 1u << 0u)
                         .bytes,
                     true, [](const Record& r) {
                         EXPECT_EQ(r.compass, 1u);
                         EXPECT_NE(r.spin, nullptr);
                         EXPECT_NE(r.inventory, nullptr);
                         ASSERT_NE(r.lensFlare, nullptr);
                         EXPECT_EQ(r.lensFlare->flares.size(), 0u) << "an empty block reads no flares";
                         EXPECT_NE(r.bush, nullptr);
                     }});
    for (uint32_t kind : {1u, 8u, 11u, 13u, 15u, 16u, 17u, 18u, 19u})
        cases.push_back({"a kind not present", (BlockBytes() << kind << 0u << 14u << 1u << 0u).bytes, true,
                         [](const Record& r) { EXPECT_EQ(r.compass, 1u); }});

    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record record(nullptr);
        auto stream = streamOf(c.bytes);
        EXPECT_EQ(Functions::createTemplates(record, *stream), c.whole);
        c.check(record);
    }

    // The writer's entries, byte for byte: a present word of 1 before a block.
    FunctionsRecordWriter::Record gateOnly;
    gateOnly.gate = FunctionsRecordWriter::Gate{"Ab"};
    const Bytes written = functionsBytes(gateOnly);
    BlockBytes tail;
    tail << 12u << 1u << 1u << 2u;
    tail.bytes.push_back('A');
    tail.bytes.push_back('b');
    tail << 0u << 0u;
    ASSERT_GE(written.size(), tail.bytes.size());
    EXPECT_EQ(Bytes(written.end() - long(tail.bytes.size()), written.end()), tail.bytes);
    FunctionsRecordWriter::Record collectOnly;
    collectOnly.collect = FunctionsRecordWriter::Collect{5};
    const Bytes collectBytes = functionsBytes(collectOnly);
    const Bytes collectTail = (BlockBytes() << 10u << 1u << 1u << 5u << 0u << 0u).bytes;
    EXPECT_EQ(Bytes(collectBytes.end() - long(collectTail.size()), collectBytes.end()), collectTail);

    // A second reading deletes the first's templates; values stay as read.
    Record record(nullptr);
    auto first = streamOf(functionsBytes(all));
    ASSERT_TRUE(Functions::createTemplates(record, *first));
    auto second = streamOf((BlockBytes() << 0u).bytes);
    ASSERT_TRUE(Functions::createTemplates(record, *second));
    EXPECT_EQ(record.collect, nullptr);
    EXPECT_EQ(record.gate, nullptr);
    EXPECT_EQ(record.quadPhysics, nullptr);
    EXPECT_EQ(record.value2, 7u);
    record.release();
    EXPECT_EQ(record.compass, 2u);
}

// The Gate template finds its marker among the meshes of its package.
TEST(ObjectPackages, GateTemplatesFindTheirMarkerMesh)
{
    const struct
    {
        const char* named;
        const char* found;
    } cases[] = {{"GateMarker", "GateMarker"}, {"GateFrame", "GateFrame"}, {"Unassigned", nullptr},
                 {"gatemarker", nullptr},      {"", nullptr}};
    for (const auto& c : cases) {
        ObjectPackageWriter::Package gate = ObjectPackageSamples::gate();
        gate.functions->gate->markerMesh = c.named;
        Built built(packageBytes(gate));
        ASSERT_TRUE(built.built) << c.named;
        ASSERT_NE(built.package.functions.gate, nullptr) << c.named;
        ObjPkgManager::Mesh* mesh = built.package.functions.gate->mesh;
        if (c.found) {
            ASSERT_NE(mesh, nullptr) << c.named;
            EXPECT_EQ(narrow(*mesh->getName()), c.found);
        } else {
            EXPECT_EQ(mesh, nullptr) << c.named;
        }
    }
}

// Each builder package read back equals what the writer was given.
TEST(ObjectPackages, BuilderPackagesRoundTrip)
{
    const std::wstring folder = AppTestFiles::freshFolder(L"objects-samples");
    // The samples land in the folder's "Objects" folder.
    CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
    ASSERT_TRUE(ObjectPackageSamples::save(String(folder.c_str())));
    SceneWithObjects world;
    ObjPkgManager& manager = world.scene.objectPackages;
    manager.loadFolder(String((folder + L"Objects\\").c_str()));
    ASSERT_EQ(manager.packages.count(), int(ObjectPackageSamples::all().size()));
    manager.buildPackages();

    for (const auto& [file, written] : ObjectPackageSamples::all()) {
        const Bytes bytes = packageBytes(written);
        ASSERT_GE(bytes.size(), 8u);
        EXPECT_EQ(Bytes(bytes.end() - 4, bytes.end()), Bytes(4, 0)) << "the records end with kind 0";
        String name(file);
        name.removeExtension();
        SCOPED_TRACE(narrow(name));
        Package* package = manager.findPackage(name);
        ASSERT_NE(package, nullptr);
        ASSERT_EQ(package->built, 1u);
        EXPECT_EQ(package->getSwapChain(), &world.chain);
        EXPECT_EQ(package->manager(), world.chain.staticEntities);
        EXPECT_EQ(package->functions.swapChain, &world.chain);
        const char* tag = written.version.c_str();
        EXPECT_EQ(package->version, Package::parseVersion(reinterpret_cast<const uint8_t*>(tag)));
        ASSERT_EQ(package->meshes.count(), int(written.meshes.size()));
        auto* node = package->meshes.head();
        for (const PackagePartWriter::Mesh& mesh : written.meshes) {
            EXPECT_EQ(narrow(*node->item->getName()), mesh.name);
            EXPECT_EQ(narrow(node->item->displayName), mesh.displayName);
            EXPECT_EQ(node->item->scale, mesh.scale);
            expectNear(node->item->position, mesh.position, 0.0f, "position");
            EXPECT_EQ(node->item->geometries.count(), int(mesh.geometries.size()));
            expectSettings(node->item->shader, mesh.shader);
            EXPECT_EQ(*node->item->getVertexCount(), int32_t(mesh.body.positions.size()));
            node = node->next;
        }
        const PackagePartWriter::PhysicsRecord physics = written.physics.value_or(PackagePartWriter::PhysicsRecord{});
        EXPECT_EQ(package->physics.mass, physics.mass);
        EXPECT_EQ(package->physics.noSound1, physics.noSound1);
        EXPECT_EQ(package->physics.sound1Data.size(), uint32_t(physics.sound1.size()));
        EXPECT_EQ(package->lights.count(), int(written.lights.size()));
        for (const ObjectPackageWriter::File& f : written.files) {
            FileArray* stored = package->findFile(String(std::wstring(f.name.begin(), f.name.end()).c_str()));
            ASSERT_NE(stored, nullptr) << f.name;
            EXPECT_EQ(Bytes(stored->memory(), stored->memory() + stored->size()), f.bytes);
        }
        const FunctionsRecordWriter::Record functions = written.functions.value_or(FunctionsRecordWriter::Record{});
        EXPECT_EQ(package->functions.value5, functions.value5);
        EXPECT_EQ(package->functions.compass, functions.compass);
        EXPECT_EQ(package->functions.collect != nullptr, functions.collect.has_value());
        if (functions.collect && package->functions.collect)
            EXPECT_EQ(package->functions.collect->value, functions.collect->value);
        EXPECT_EQ(package->functions.markSubEntities, functions.markSubEntities);
        EXPECT_EQ(package->functions.gate != nullptr, functions.gate.has_value());
        if (functions.gate) {
            ASSERT_NE(package->functions.gate->mesh, nullptr);
            EXPECT_EQ(narrow(*package->functions.gate->mesh->getName()), functions.gate->markerMesh);
        }
        EXPECT_EQ(package->functions.fire != nullptr, functions.fire.has_value());
        EXPECT_EQ(package->functions.rocket != nullptr, functions.rocket.has_value());
        EXPECT_EQ(package->functions.oilPuddle != nullptr, functions.oilPuddle.has_value());
        // A package without meshes (the oil puddle) has no extent of its own.
        if (!written.meshes.empty())
            EXPECT_GT(package->getRadius(), 0.0f);
    }
    EXPECT_NE(manager.findPackage(String(L"Camera")), nullptr);
}

// Objects stand on the given height with their package's box; the static
// objects own them.
TEST(ObjectPackages, CreatedObjectsStandOnTheirBox)
{
    const struct
    {
        const char* what;
        vec3d centre;
        float size, scale, y, expected;
    } cases[] = {
        {"a box from -2 to 3 at scale 0.5", {0.0f, 0.5f, 0.0f}, 5.0f, 0.5f, 10.0f, 11.0f},
        {"a box from -2 to 3 at scale 2", {0.0f, 0.5f, 0.0f}, 5.0f, 2.0f, 10.0f, 14.0f},
        {"a box bottom at 0.5", {0.0f, 1.0f, 0.0f}, 1.0f, 1.0f, 10.0f, 10.0f},
        {"a box bottom at 0", {0.0f, 1.0f, 0.0f}, 2.0f, 3.0f, -4.0f, -4.0f},
    };
    const std::wstring folder = AppTestFiles::freshFolder(L"objects-placed");
    SceneWithObjects world;
    ObjPkgManager& manager = world.scene.objectPackages;
    int n = 0;
    for (const auto& c : cases) {
        ObjectPackageWriter::Package p;
        p.meshes = {cube("Part", c.centre, c.size)};
        writePackage(folder, (L"P" + std::to_wstring(n++) + L".teo").c_str(), packageBytes(p));
    }
    manager.loadFolder(String(folder.c_str()));
    manager.buildPackages();
    n = 0;
    for (const auto& c : cases) {
        Package* package = manager.findPackage(String((L"p" + std::to_wstring(n++)).c_str()));
        ASSERT_NE(package, nullptr) << c.what;
        Object* object = manager.createObject(package, {5.0f, c.y, -7.0f}, c.scale);
        ASSERT_NE(object, nullptr) << c.what;
        EXPECT_NEAR(object->position.y, c.expected, 1e-4f) << c.what;
        EXPECT_EQ(object->position.x, 5.0f) << c.what;
        EXPECT_EQ(object->position.z, -7.0f) << c.what;
        EXPECT_EQ(object->scale, c.scale) << c.what;
        EXPECT_EQ(object->state, 0u) << c.what;
        EXPECT_EQ(object->getObject(), package) << c.what;
        EXPECT_NE(object->node, nullptr) << c.what;
        EXPECT_EQ(object->placedIn, world.chain.staticEntities) << c.what;
    }
    EXPECT_EQ(manager.createObject(nullptr, {}, 1.0f), nullptr);
    // Without static objects to hold it nothing is made.
    ObjPkgManager loose(nullptr);
    loose.loadFolder(String(folder.c_str()));
    ASSERT_NE(loose.packages.head(), nullptr);
    EXPECT_EQ(loose.createObject(loose.packages.head()->item, {}, 1.0f), nullptr);
}

// The worker of the object functions, held by a job change, is stopped by
// the clear all the same.
TEST(ObjectPackages, ClearStopsAHeldWorker)
{
    struct Job : ThreadManager::Interface
    {
        void cycle() override {}
    };
    ObjPkgManager manager(nullptr);
    Job first, second;
    first.manager = second.manager = &manager.threads;
    first.attach();
    manager.threads.thread.start();
    manager.threads.state.store(ThreadManager::stateRunning);
    second.attach();
    ASSERT_EQ(manager.threads.state.load(), ThreadManager::stateHeld);
    std::atomic<bool> done{false};
    std::thread clearing([&] {
        manager.clear();
        done = true;
    });
    // A minute at most: only a clear that waits for ever takes that long.
    for (int i = 0; i < 6000 && !done; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(done.load());
    clearing.join();
    EXPECT_EQ(manager.threads.state.load(), ThreadManager::stateStopped);
    EXPECT_FALSE(manager.threads.thread.isRunning());
}

// Every cut of the samples, and damaged copies (fixed seed): no crash, hang
// or oversized allocation, and never more parts than the sample holds.
TEST(ObjectPackages, DamagedFilesBuildWhatTheyCan)
{
    for (const auto& [file, written] : ObjectPackageSamples::all()) {
        const Bytes bytes = packageBytes(written);
        SCOPED_TRACE(narrow(String(file)));
        for (size_t cut = 0; cut < bytes.size(); ++cut) {
            Built built(Bytes(bytes.begin(), bytes.begin() + long(cut)));
            EXPECT_TRUE(built.built) << "a cut file keeps what it read: " << cut;
            EXPECT_LE(built.package.meshes.count(), int(written.meshes.size())) << cut;
        }
        std::mt19937 random(3801);
        for (int round = 0; round < 300; ++round) {
            Bytes copy = bytes;
            switch (round % 4) {
            case 0:
                for (int k = 0; k < 1 + round % 6; ++k)
                    copy[4 + random() % (copy.size() - 4)] ^= uint8_t(1 + random() % 255);
                break;
            case 1: {
                const size_t at = (4 + random() % (copy.size() - 8)) & ~size_t(3);
                const uint32_t word = round % 8 == 1 ? 0x7FFFFFF0u : 0xFFFFFFFFu - uint32_t(random() % 16);
                std::memcpy(&copy[at], &word, 4);
                break;
            }
            case 2: {
                const uint32_t code = 22 + random() % 1000;
                const size_t at = (4 + random() % (copy.size() - 8)) & ~size_t(3);
                std::memcpy(&copy[at], &code, 4);
                break;
            }
            default: {
                const size_t from = random() % copy.size(), length = std::min<size_t>(copy.size() - from, 1 + random() % 64);
                copy.insert(copy.begin() + long(random() % copy.size()), copy.begin() + long(from),
                            copy.begin() + long(from + length));
                break;
            }
            }
            Built built(copy);
            EXPECT_LE(built.package.files.count(), int(written.files.size()) + 64) << round;
            EXPECT_TRUE(std::isfinite(built.package.getRadius())) << round;
        }
    }
}

// Packages drawn in the far field get their three far-field objects and the
// far field's reach.
TEST(ObjectPackages, FarFieldPackagesGetTheirObjects)
{
    ObjectPackageWriter::Package distant = ObjectPackageSamples::camera();
    distant.functions = FunctionsRecordWriter::Record{};
    distant.functions->farField = 1;
    const Bytes bytes = packageBytes(distant);

    Built alone(bytes);
    ASSERT_TRUE(alone.built);
    EXPECT_EQ(alone.package.farField, 1u);
    EXPECT_EQ(alone.package.visibilityDistance, 1000.0f) << "no swap chain, no far field";
    for (int state = 0; state < Package::farFieldStates; ++state) {
        Object* object = alone.package.farFieldObjects[state];
        ASSERT_NE(object, nullptr) << state;
        EXPECT_EQ(object->state, uint8_t(state));
        EXPECT_EQ(object->getObject(), &alone.package);
        EXPECT_EQ(object->node, nullptr) << "in no octree";
    }
    alone.package.unbuild();
    EXPECT_EQ(alone.package.farFieldObjects[0], nullptr);
    EXPECT_EQ(alone.package.farField, 0u);

    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"KorvantaTests"), 3500.0f);
    scene.swapChain = &chain;
    ASSERT_NE(chain.farField, nullptr);
    chain.farField->distance = 640.0f;
    Built seen(bytes, &scene.objectPackages);
    EXPECT_EQ(seen.package.visibilityDistance, 640.0f);
    EXPECT_EQ(seen.package.rangeSq, 640.0f * 640.0f);
    chain.range = 1000.0f;
    Built close(packageBytes(ObjectPackageSamples::camera()), &scene.objectPackages);
    EXPECT_NEAR(close.package.visibilityDistance, 700.0f, 1e-3f) << "0.7 of the camera's range";
    EXPECT_EQ(close.package.farField, 0u);
    scene.release();
}

// The writers refuse what they cannot store.
TEST(ObjectPackages, WritersRefuseWhatTheyCannotStore)
{
    const std::string longName(8192, 'x');
    std::vector<std::pair<const char*, ObjectPackageWriter::Package>> cases;
    ObjectPackageWriter::Package p = ObjectPackageSamples::crate();
    p.version = "v1.20";
    cases.push_back({"a version of five characters", p});
    p = ObjectPackageSamples::crate();
    p.files[0].name = longName;
    cases.push_back({"a file name too long", p});
    p = ObjectPackageSamples::crate();
    p.meshes[0].kind = 0;
    cases.push_back({"a tree mesh", p});
    p = ObjectPackageSamples::crate();
    p.lights.push_back(PackagePartSamples::spotLight());
    p.lights.back().textureName = longName;
    cases.push_back({"a light texture name too long", p});
    p = ObjectPackageSamples::gate();
    p.functions->gate->markerMesh = longName;
    cases.push_back({"a gate mesh name too long", p});
    for (const auto& [what, package] : cases) {
        FileArray target(4096);
        EXPECT_FALSE(ObjectPackageWriter::write(target, package)) << what;
    }
    FileArray target(4096);
    EXPECT_TRUE(ObjectPackageWriter::write(target, ObjectPackageSamples::crate()));
}
