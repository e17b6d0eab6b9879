// The head-up display's arithmetic without a device: the projected place
// against a sort, the compass arrow's pose and colour at random camera
// poses, the bars' rectangles and fills, the fades' alphas, and the
// builder's pictures and compass package read back by the game's readers.
#include "ObjectsTestSupport.h"

#include "../Application/AppTestFiles.h"

#include "HudSamples.h"
#include "ObjectPackageWriter.h"
#include "ResourceArchiveWriter.h"

#include "Objects/Compass.h"
#include "Objects/HUD.h"
#include "Objects/HUDWidgets.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"

#include "Render/Camera.h"

#include "Core/ResourceManager.h"

#include <algorithm>
#include <cmath>
#include <random>

using namespace ObjectsTests;
using HUD = ObjPkgManager::Functions::HUD;
using Compass = ObjPkgManager::Functions::Compass;

namespace {

// The place as written: the estimate and the values sorted as unsigned
// numbers, 1 + the index of the first equal to the estimate.
int32_t placeBySort(int32_t estimate, const std::vector<int32_t>& values)
{
    std::vector<uint32_t> all{uint32_t(estimate)};
    for (size_t i = 0; i < std::min<size_t>(values.size(), 8); ++i)
        all.push_back(uint32_t(values[i]));
    std::sort(all.begin(), all.end());
    return int32_t(std::find(all.begin(), all.end(), uint32_t(estimate)) - all.begin()) + 1;
}

}

TEST(HudValues, ProjectedPlaceMatchesASortOfTheTimes)
{
    std::mt19937 random(4301);
    for (int round = 0; round < 3000; ++round) {
        const int count = int(random() % 12);
        std::vector<int32_t> values;
        // Few distinct keys so that ties are common; now and then one
        // beyond 2^31 (unsigned order) or "no time".
        for (int i = 0; i < count; ++i) {
            const uint32_t kind = random() % 10;
            values.push_back(kind == 0 ? -int32_t(random() % 5 + 1) : kind == 1 ? 5940000 : int32_t(random() % 6) * 1000);
        }
        const int32_t estimate = random() % 4 == 0 ? 5940000 : int32_t(random() % 7) * 1000;
        ASSERT_EQ(HUD::projectedPlace(estimate, values.data(), int32_t(values.size())), placeBySort(estimate, values))
            << "round " << round;
    }
    // Better than every stored time, or nothing stored: first.
    const int32_t stored[3] = {61000, 62000, 60000};
    EXPECT_EQ(HUD::projectedPlace(59000, stored, 3), 1);
    EXPECT_EQ(HUD::projectedPlace(59000, nullptr, 0), 1);
    // An equal stored time ranks behind the player.
    EXPECT_EQ(HUD::projectedPlace(61000, stored, 3), 2);
}

TEST(HudValues, FadesCountdownAndBarValues)
{
    EXPECT_EQ(HudValues::countdownAlpha(45), 114);
    EXPECT_EQ(HudValues::countdownAlpha(0), 0);
    EXPECT_EQ(HudValues::countdownAlpha(99), 252);
    struct Row
    {
        float fade;
        int fadeAlpha, flashAlpha;
    };
    for (const Row& row : {Row{0.0f, 255, 255}, Row{0.5f, 127, int((1.0f - std::pow(0.5f, 1.8f)) * 255.0f)},
                           Row{0.027f, 248, int((1.0f - std::pow(0.027f, 1.8f)) * 255.0f)}, Row{1.0f, 0, 0},
                           Row{1.3f, 0, 0}, Row{-0.2f, 255, 255}}) {
        EXPECT_EQ(HudValues::fadeAlpha(row.fade), row.fadeAlpha) << row.fade;
        EXPECT_EQ(HudValues::flashAlpha(row.fade), row.flashAlpha) << row.fade;
    }
    for (const auto& [in, out] : std::vector<std::pair<float, float>>{{0.4f, 0.4f},
                                                                      {-0.5f, 0.0f},
                                                                      {1.7f, 1.0f},
                                                                      {NAN, 0.0f},
                                                                      {INFINITY, 0.0f},
                                                                      {-INFINITY, 0.0f}})
        EXPECT_EQ(HudValues::barValue(in), out) << in;
}

TEST(HudValues, BarsSitAtTheirCornersAndFillFromTheirValue)
{
    using Level = HUD::Level;
    const auto same = [](const UserInterface::Rect& r, int l, int t, int rr, int b) {
        return r.left == l && r.top == t && r.right == rr && r.bottom == b;
    };
    EXPECT_TRUE(same(Level::rectOf(Level::damageKind, 1024, 768), 93, 691, 343, 726));
    EXPECT_TRUE(same(Level::rectOf(Level::nitroKind, 1024, 768), 754, 36, 1004, 71));
    EXPECT_TRUE(same(Level::rectOf(Level::damageKind, 800, 600), 93, 523, 343, 558));
    EXPECT_TRUE(same(Level::rectOf(Level::nitroKind, 800, 600), 530, 36, 780, 71));
    EXPECT_TRUE(same(Level::rectOf(2, 800, 600), 0, 0, 0, 0));
    const UserInterface::Rect bar = Level::rectOf(Level::damageKind, 1024, 768);
    EXPECT_EQ(Level::fillRight(bar, 0.5f), 93.0f + 124.0f);
    EXPECT_EQ(Level::fillRight(bar, 1.0f), 93.0f + 249.0f);
    EXPECT_FALSE(Level::showsFill(0.0f));
    EXPECT_FALSE(Level::showsFill(1.9f / 250.0f));
    EXPECT_TRUE(Level::showsFill(2.0f / 250.0f));
    EXPECT_TRUE(Level::showsFill(0.5f));
}

// At random camera poses the arrow's axes are orthogonal and half a unit
// long, its y axis is the camera's up, its z axis lies in the camera's
// horizontal plane toward the target, and it stands 5 ahead of and 4.5
// below the camera.
TEST(HudValues, TheCompassArrowFollowsTheCameraAndPointsAtTheTarget)
{
    std::mt19937 random(4302);
    std::uniform_real_distribution<float> angle(-180.0f, 180.0f), pitch(-60.0f, 60.0f), place(-500.0f, 500.0f);
    for (int round = 0; round < 200; ++round) {
        Camera camera;
        camera.position = {place(random), place(random) * 0.2f, place(random)};
        camera.angles = {pitch(random), angle(random), 0.0f};
        camera.setAnglesDeg();
        camera.update();
        const vec3d target{place(random), place(random) * 0.1f, place(random)};
        const Compass::Pose pose = Compass::pose(camera, target);
        const vec3d x = pose.world.row(0), y = pose.world.row(1), z = pose.world.row(2);
        for (const vec3d& axis : {x, y, z})
            EXPECT_NEAR(axis.length(), 0.5f, 1e-3f) << round;
        EXPECT_NEAR(x.dot(y), 0.0f, 1e-3f);
        EXPECT_NEAR(y.dot(z), 0.0f, 1e-3f);
        EXPECT_NEAR(x.dot(z), 0.0f, 1e-3f);
        expectNear(y * 2.0f, camera.up, 1e-3f, "up");
        const vec3d expected = camera.position + 5.0f * camera.forward - 4.5f * camera.up;
        expectNear(pose.world.row(3), expected, 1e-2f, "position");
        // The arrow's heading: the target's direction (from 30 behind the
        // camera) with the camera's up part removed.
        const vec3d d = (target - (camera.position - 30.0f * camera.forward)).normalised();
        const vec3d flat = (d - camera.up * d.dot(camera.up)).normalised();
        expectNear(z * 2.0f, flat, 2e-3f, "heading");
        EXPECT_EQ(pose.world.m[15], 1.0f);
    }
}

TEST(HudValues, TheCompassTurnsFromGreyToGreenNearItsTarget)
{
    Camera camera;
    camera.position = {10.0f, 4.0f, -3.0f};
    camera.angles = {10.0f, 30.0f, 0.0f};
    camera.setAnglesDeg();
    camera.update();
    const vec3d arrow = Compass::pose(camera, {}).world.row(3);
    const vec3d away = vec3d(1.0f, 0.0f, 0.0f);
    struct Row
    {
        float distance;
        Color colour;
    };
    for (const Row& row : {Row{0.0f, Color(0, 200, 0, 255)}, Row{500.0f, Color(63, 163, 63, 255)},
                           Row{1000.0f, Color(127, 127, 127, 255)}, Row{2500.0f, Color(127, 127, 127, 255)}}) {
        const Color c = Compass::pose(camera, arrow + away * row.distance).colour;
        EXPECT_NEAR(c.r, row.colour.r, 1) << row.distance;
        EXPECT_NEAR(c.g, row.colour.g, 1) << row.distance;
        EXPECT_NEAR(c.b, row.colour.b, 1) << row.distance;
        EXPECT_EQ(c.a, 255);
    }
    // The warning blink goes toward white.
    EXPECT_EQ(Compass::blinked(Color(0, 200, 0, 255), 0.0f), Color(0, 200, 0, 255));
    EXPECT_EQ(Compass::blinked(Color(0, 200, 0, 255), 1.0f), Color(255, 255, 255, 255));
    EXPECT_EQ(Compass::blinked(Color(100, 200, 0, 255), 0.5f), Color(177, 227, 127, 255));
}

// The builder's five pictures are PNG image entries of the archive; read
// back by the game's resource manager they keep their names, type and bytes.
TEST(HudValues, TheBuildersPicturesAreImageEntriesOfTheArchive)
{
    ResourceArchiveWriter archive;
    ASSERT_TRUE(HudSamples::addArchiveImages(archive));
    FileArray stream(4096);
    ASSERT_TRUE(archive.write(stream));
    const std::wstring path = AppTestFiles::freshFolder(L"hud-values") + L"Resource.res";
    ASSERT_TRUE(FileInterface::saveToFile(stream, String(path.c_str())));
    ResourceManager resources;
    ASSERT_TRUE(resources.load(String(path.c_str())));
    const auto images = HudSamples::images();
    ASSERT_EQ(images.size(), 5u);
    for (const HudSamples::Named& image : images) {
        ResourceManager::Entry& entry = resources.find(String(image.name));
        EXPECT_EQ(narrow(entry.name), narrow(String(image.name)));
        EXPECT_EQ(entry.type, 0u);
        const std::vector<uint8_t> png = ImageFileWriter::png(image.image);
        ASSERT_EQ(entry.data.size(), png.size());
        EXPECT_TRUE(std::equal(png.begin(), png.end(), entry.data.memory()));
        // Something is drawn, and something is left clear around it.
        const auto& texels = image.image.argb;
        EXPECT_TRUE(std::any_of(texels.begin(), texels.end(), [](uint32_t t) { return t >> 24 == 255; }));
        EXPECT_TRUE(std::any_of(texels.begin(), texels.end(), [](uint32_t t) { return t >> 24 == 0; }));
    }
    EXPECT_EQ(images[0].image.width, 48u);
    EXPECT_EQ(images[4].image.width, 24u);
}

// The compass package read by the game: the arrow is its last mesh and
// its functions record carries the compass value.
TEST(HudValues, TheCompassPackageCarriesItsArrowLast)
{
    FileArray bytes(4096);
    ASSERT_TRUE(ObjectPackageWriter::write(bytes, HudSamples::compass()));
    bytes.seek(0, 0);
    ObjPkgManager::Package package(nullptr, String(L"Compass.teo"));
    ASSERT_TRUE(package.buildFrom(bytes, nullptr));
    EXPECT_EQ(package.functions.compass, 1u);
    ASSERT_NE(package.meshes.tail(), nullptr);
    const ObjPkgManager::Mesh& arrow = *package.meshes.tail()->item;
    EXPECT_EQ(narrow(*const_cast<ObjPkgManager::Mesh&>(arrow).getName()), "CompassArrow");
    const PackagePartWriter::Mesh written = HudSamples::arrow();
    EXPECT_EQ(*const_cast<ObjPkgManager::Mesh&>(arrow).getVertexCount(), int32_t(written.body.positions.size()));
    // The shaft (its first 24 vertices) and the head are convex: every face
    // of each has the whole of its part behind it, so it faces outward and
    // the back faces are the ones culled.
    const auto& body = written.body;
    const size_t shaft = 24;
    for (size_t i = 0; i + 2 < body.indices.size(); i += 3) {
        const vec3d a = body.positions[body.indices[i]];
        const vec3d normal = (body.positions[body.indices[i + 1]] - a).cross(body.positions[body.indices[i + 2]] - a);
        const bool inShaft = body.indices[i] < shaft;
        for (size_t v = inShaft ? 0 : shaft; v < (inShaft ? shaft : body.positions.size()); ++v)
            ASSERT_LE(normal.dot(body.positions[v] - a), 1e-4f) << "triangle " << i / 3 << " vertex " << v;
        expectNear(body.normals[body.indices[i]], normal.normalised(), 1e-4f, "stored normal");
    }
}
