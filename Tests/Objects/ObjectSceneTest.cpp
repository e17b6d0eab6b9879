// The scene's object packages and static objects: the builder's packages
// and a level with the sample's placed objects, loaded through the scene
// (a swap chain without a device), the camera objects driving the start
// view and the tours, and everything freed again.
#include "ObjectsTestSupport.h"

#include "../Landscape/LandscapeTestFiles.h"

#include "ObjectPackageSamples.h"
#include "ObjectSamples.h"
#include "StaticObjectWriter.h"

#include "Objects/ObjectPackage.h"

#include <algorithm>

#include "Entity/StaticEntity.h"
#include "Landscape/Scene.h"
#include "Render/SwapChain.h"

using namespace ObjectsTests;

namespace {

// The builder's packages and a level named Valley with the sample objects
// in a fresh folder; returns the level's path.
std::wstring writeSampleLevel(const std::wstring& folder)
{
    CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
    EXPECT_TRUE(ObjectPackageSamples::save(String(folder.c_str())));
    const std::wstring level = folder + L"Valley.tee";
    EXPECT_TRUE(LandscapeTestFiles::write(level, LandscapeTestFiles::levelBytes(LevelFileWriter::Level{})));
    EXPECT_TRUE(StaticObjectWriter::save(ObjectSamples::valley(), String((folder + L"Valley.obj").c_str())));
    return level;
}

int objectsOf(const StaticEntityManager& objects, const ObjPkgManager::Package* package)
{
    SCList<StaticEntity> found;
    StaticEntityManager::collectByObject(objects.root, package, found);
    return found.count();
}

}

TEST(ObjectScene, TheSampleLevelBuildsItsPackagesAndPlacesItsCameraObjects)
{
    const std::wstring level = writeSampleLevel(LandscapeTestFiles::freshFolder(L"objects-scene"));
    const std::wstring folder = level.substr(0, level.find_last_of(L'\\') + 1);
    D3D::Device::SwapChain chain(nullptr);
    Scene scene(String(L"KorvantaTests"), 3500.0f);
    scene.swapChain = &chain;
    ObjPkgManager& packages = scene.objectPackages;
    packages.loadFolder(String((folder + L"Objects\\").c_str()));
    scene.setCameraObjectType(String(L"camera"));
    ASSERT_NE(scene.cameraType, nullptr);
    EXPECT_EQ(scene.cameraType, packages.findPackage(String(L"Camera")));
    EXPECT_EQ(scene.cameraObjects, &scene.cameraTypeObjects);
    EXPECT_EQ(scene.cameraType->built, 0u);

    ASSERT_TRUE(scene.load(String(level.c_str())));
    for (auto* node = packages.packages.head(); node; node = node->next)
        EXPECT_EQ(node->item->built, 1u) << narrow(node->item->name);
    ASSERT_NE(chain.staticEntities, nullptr);
    StaticEntityManager& objects = *chain.staticEntities;
    EXPECT_EQ(objectsOf(objects, scene.cameraType), 9);
    EXPECT_EQ(objectsOf(objects, packages.findPackage(String(L"Crate"))), 4);
    EXPECT_EQ(objectsOf(objects, packages.findPackage(String(L"Rock"))), 4);
    EXPECT_EQ(objectsOf(objects, packages.findPackage(String(L"Marker"))), 1);
    const auto placed = ObjectSamples::valley();
    const auto gates = std::count_if(placed.begin(), placed.end(), [](const auto& o) { return o.package.sameText(L"Gate", 4); });
    EXPECT_EQ(gates, 31) << "the always active one, the course's 28 and the shortcut's two";
    EXPECT_EQ(objectsOf(objects, packages.findPackage(String(L"Gate"))), int(gates));
    EXPECT_EQ(objects.loaded, 1u);

    DynArray<Scene::CameraObject> cameras(16);
    ASSERT_EQ(scene.cameraObjects->collect(cameras), 9);
    std::vector<int32_t> numbers;
    for (int32_t i = 0; i < 9; ++i)
        numbers.push_back(cameras.at(i)->number);
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(numbers, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 8}));

    // The start view stands at camera object 0 (raised by its height offset).
    const auto sample = ObjectSamples::valley();
    const auto start = std::find_if(sample.begin(), sample.end(),
                                    [](const auto& o) { return o.package.sameText(L"Camera", 6) && o.state == 0; });
    ASSERT_NE(start, sample.end());
    expectNear(chain.position, {start->position[0], start->position[1] + start->heightOffset, start->position[2]},
               1e-3f, "start view");

    // A tour over objects 0 to 2 flies through their three positions.
    EXPECT_EQ(scene.cameraType->raceFlag, 0u);
    scene.setCameraMode(0, 2, 3.0f);
    EXPECT_EQ(scene.camera.mode, uint32_t(SceneCamera::pathMode));
    EXPECT_EQ(scene.camera.path, &scene.cameraPath);
    EXPECT_EQ(scene.cameraPath.keyCount, 3);
    EXPECT_EQ(scene.cameraType->raceFlag, 1u);
    scene.setCameraMode(6, 12, 1.0f);
    EXPECT_EQ(scene.cameraPath.keyCount, 3) << "numbers 9 to 12 have no camera object";

    // A clear empties the level's objects; the packages stay built for the next.
    scene.clear();
    EXPECT_EQ(objects.root, nullptr);
    EXPECT_EQ(scene.cameraObjects->collect(cameras), 0);
    EXPECT_EQ(packages.packages.count(), int(ObjectPackageSamples::all().size()));
    EXPECT_EQ(scene.cameraType->built, 1u);
    // Loading again places them again.
    ASSERT_TRUE(scene.load(String(level.c_str())));
    EXPECT_EQ(objectsOf(objects, scene.cameraType), 9);

    // The release frees every object and every package while the device lives.
    scene.release();
    EXPECT_EQ(objects.root, nullptr);
    EXPECT_EQ(packages.packages.count(), 0);
    EXPECT_EQ(scene.cameraType, nullptr);
    EXPECT_EQ(scene.cameraObjects, nullptr);
    EXPECT_EQ(scene.swapChain, nullptr);
}

// Without a camera package the tours and the start view do nothing.
TEST(ObjectScene, WithoutACameraPackageTheCameraStays)
{
    const std::wstring level = writeSampleLevel(LandscapeTestFiles::freshFolder(L"objects-nocamera"));
    D3D::Device::SwapChain chain(nullptr);
    chain.position = {1.0f, 2.0f, 3.0f};
    Scene scene(String(L"KorvantaTests"), 3500.0f);
    scene.swapChain = &chain;
    scene.setCameraObjectType(String(L"Camera"));
    EXPECT_EQ(scene.cameraObjects, nullptr);
    ASSERT_TRUE(scene.load(String(level.c_str())));
    // The level's own camera record, not a camera object, places the view.
    const LevelFileWriter::Level written;
    expectNear(chain.position, {written.camera.position[0], written.camera.position[1], written.camera.position[2]},
               1e-3f, "camera");
    scene.setCameraMode(0, 2, 3.0f);
    EXPECT_NE(scene.camera.mode, uint32_t(SceneCamera::pathMode));
    EXPECT_EQ(chain.staticEntities->root, nullptr) << "no package, no object";
    scene.release();
}
