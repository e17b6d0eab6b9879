// The builder's data through the game's own loaders, in the program started
// as the game starts it: every level with its side files and the counts the
// builder wrote, the races each championship map holds (the grid, gates,
// parking slots, podium, and an opponent's route from each grid slot to the
// first gate), every object package, tree, sound, the menu file and the
// resource archive; and a damaged copy of each kind of file.
#include "ContentFolders.h"

#include "../Landscape/SceneFrames.h"

#include "../Application/GameInProcess.h"

#include "Application/GlobalSettings.h"
#include "Application/Globals.h"
#include "Application/Korvanta.h"
#include "Application/Multimonitor.h"
#include "Audio/AudioFile.h"
#include "Entity/MeshTools.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"
#include "Landscape/Water.h"
#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"
#include "Race/AIDriver.h"
#include "Race/AIPath.h"
#include "Race/GameGate.h"
#include "Race/GameVehicle.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"
#include "Tree/Tree.h"
#include "Vehicle/QuadInstance.h"
#include "Way/WayNetwork.h"
#include "Way/WayPoint.h"
#include "Way/WaySegment.h"

#include "MapGenerator.h"
#include "ObjectSamples.h"
#include "WaySamples.h"

#include "Core/Color.h"
#include "Core/FileArray.h"
#include "Core/Language.h"
#include "Core/ResourceManager.h"
#include "Core/Timer.h"
#include "TextureRecord.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace ContentFolders;

const wchar_t* const sideFiles[] = {L".tee", L".map", L".wtr", L".mdw", L".way", L".obj"};

std::wstring levelFile(const String& base, const wchar_t* extension)
{
    return installFolder() + L"Data\\Map\\" + base.text() + extension;
}

std::wstring mapPath(const String& base) { return levelFile(base, L".tee"); }

// The program started as the game starts it, in the build's folder beside
// its data, on a small window.
class ContentLoad : public testing::Test
{
public:
    static void SetUpTestSuite()
    {
        gameProcess.start(L"ContentSettings", 640, 480, installFolder());
        app = gameProcess.app;
        if (!app)
            return;
    }

    static void TearDownTestSuite()
    {
        gameProcess.stop();
        app = nullptr;
    }

    void SetUp() override
    {
        ASSERT_NE(app, nullptr);
        gFrameFactor.store(1.0f);
    }

    void TearDown() override
    {
        Game& game = scene().game;
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
        app->scene.clear();
    }

    static Scene& scene() { return app->scene; }
    static D3D::Device::SwapChain& chain() { return *app->swapChain; }

    static void setUpRace(const std::wstring& level, int32_t mode, int32_t courseType, int32_t count)
    {
        RaceChoice choice;
        choice.mapFile = String(level.c_str());
        choice.gameMode = mode;
        choice.courseType = courseType;
        choice.vehicleCount = count;
        scene().game.applyRaceChoice(choice);
        scene().game.setupRace();
    }

    static void endRace()
    {
        Game& game = scene().game;
        game.removeRaceVehicles();
        game.releaseParkingSlots();
        game.clearRace();
    }

    static int waterAreas()
    {
        int areas = 0;
        for (Water::AreaList* list : {&gWater.live, &gWater.dormant})
            areas += list->count();
        return areas;
    }

    // The loaded grass as a save writes it.
    static std::vector<uint8_t> grassHeld()
    {
        FileArray out(4096);
        chain().meadow->write(out);
        return std::vector<uint8_t>(out.memory(), out.memory() + out.size());
    }

    static int cameraObjects()
    {
        DynArray<Scene::CameraObject> found(8, true);
        return scene().cameraObjects ? scene().cameraObjects->collect(found) : 0;
    }

    // Whether a quad's box (as the opponents' path tests take it) driving
    // through the placed object along its depth axis, side units across its
    // middle, meets one of the object's triangles.
    static bool quadMeets(const Object& placed, float side)
    {
        const auto* package = dynamic_cast<const ObjPkgManager::Package*>(placed.getObject());
        if (!package)
            return false;
        matrix3d placement = matrix3d::identity();
        placed.getTransform(placement, false);
        const vec3d across = placement.row(0).normalised(), along = placement.row(2).normalised();
        const vec3d middle = placement.row(3) + across * side + vec3d(0.0f, 1.5f, 0.0f);
        const OrientedBox box = ObjPkgManager::Functions::Path::boxBetween(middle - along * 20.0f,
                                                                           middle + along * 20.0f, quadExtents);
        for (auto* mesh = package->meshes.head(); mesh; mesh = mesh->next) {
            const MeshTools::BinaryTiangleTree* tree = mesh->item->getTriangleTree();
            if (tree && tree->intersectsBox(mesh->item->world * placement, box))
                return true;
        }
        return false;
    }
    static constexpr vec3d quadExtents{1.2f, 1.0f, 1.5f};

    // The cross-section of the level's roads (a way or a branch of one) that
    // the point stands on.
    static bool roadAt(const vec3d& point, Way::Pos& crossSection)
    {
        return !gWayNetwork.walk([&](const Way::PointNode* node) {
            const Way::Segment* segment = node->item ? node->item->segment : nullptr;
            if (!segment || segment->positions.empty())
                return true;
            uint32_t inside = 0;
            float along = 0.0f;
            segment->projectPoint(point.x, point.z, inside, along, &crossSection);
            return inside == 0;
        });
    }

    // Every gate of the race set up stands on a road and spans it: a quad
    // driving along either edge of the road, all of it on the road, passes
    // between the posts. A gate always active (the valley's finish gate)
    // marks a place off the course.
    static void expectGatesSpanTheirRoads()
    {
        int gates = 0;
        for (auto* node = scene().game.gates.head(); node; node = node->next, ++gates) {
            SCOPED_TRACE(gates);
            const Object& gate = *node->item->object;
            if (gate.state == StaticEntity::alwaysActive)
                continue;
            matrix3d placement = matrix3d::identity();
            gate.getTransform(placement, false);
            const vec3d foot = placement.row(3), across = placement.row(0).normalised();
            // A point where two segments join lies on neither: a step along
            // the road finds it.
            const vec3d step = placement.row(2).normalised();
            Way::Pos road;
            ASSERT_TRUE(roadAt(foot, road) || roadAt(foot + step, road) || roadAt(foot - step, road))
                << "the gate at " << foot.x << " " << foot.z << " stands on no road";
            float edges[2] = {(road.left - foot).dot(across), (road.right - foot).dot(across)};
            if (edges[0] > edges[1])
                std::swap(edges[0], edges[1]);
            EXPECT_FALSE(quadMeets(gate, edges[0] + quadExtents.x)) << "the left edge, " << edges[0];
            EXPECT_FALSE(quadMeets(gate, edges[1] - quadExtents.x)) << "the right edge, " << edges[1];
        }
        EXPECT_GT(gates, 0);
    }

    // The fine points of the loaded level's ground that stand as a thin
    // ridge in a hollow: more than ridgeRise above a point on either side
    // along one of the grid's four lines, one or two fine cells away (a
    // ridge up to three points across), both of which lie in a hollow. A
    // hollow's wall rises at most 9 height units over some 17, about one
    // unit per cell, and only on one side; a ridge rises far more.
    static std::vector<vec3d> thinRidges()
    {
        constexpr float ridgeRise = 6.0f;
        std::vector<vec3d> ridges;
        const BoundingBox& ground = gTerrain.box;
        const int32_t cells = gTerrain.fineCells;
        const float cell = (ground.maximum.x - ground.minimum.x) / float(cells);
        std::vector<uint8_t> seen(size_t(cells + 1) * size_t(cells + 1), 0);
        const auto at = [&](int32_t i, int32_t k) {
            return vec3d(ground.minimum.x + float(i) * cell, 0.0f, ground.minimum.z + float(k) * cell);
        };
        const auto height = [&](int32_t i, int32_t k) {
            const vec3d p = at(i, k);
            return gTerrain.getHeight(p.x, p.z, 3);
        };
        // Below h by more than ridgeRise in a hollow, one or two cells from (i, k) along (di, dk).
        const auto fallsInAHollow = [&](int32_t i, int32_t k, int32_t di, int32_t dk, float h) {
            for (int32_t s = 1; s <= 2; ++s) {
                const vec3d p = at(i + s * di, k + s * dk);
                if (h - height(i + s * di, k + s * dk) > ridgeRise && gWayNetwork.isOnWay(p.x, p.z))
                    return true;
            }
            return false;
        };
        const auto clampCell = [cells](float v) { return std::clamp(int32_t(v), 2, cells - 2); };
        for (const Way::Segment* segment : gWayNetwork.hollowSegments) {
            const BoundingBox& b = segment->bounds;
            const int32_t i0 = clampCell((b.minimum.x - ground.minimum.x) / cell);
            const int32_t i1 = clampCell((b.maximum.x - ground.minimum.x) / cell + 1.0f);
            const int32_t k0 = clampCell((b.minimum.z - ground.minimum.z) / cell);
            const int32_t k1 = clampCell((b.maximum.z - ground.minimum.z) / cell + 1.0f);
            for (int32_t i = i0; i <= i1; ++i)
                for (int32_t k = k0; k <= k1; ++k) {
                    uint8_t& done = seen[size_t(i) * size_t(cells + 1) + size_t(k)];
                    if (done)
                        continue;
                    done = 1;
                    const float h = height(i, k);
                    for (const auto& [di, dk] : {std::pair{1, 0}, std::pair{0, 1}, std::pair{1, 1}, std::pair{1, -1}}) {
                        if (fallsInAHollow(i, k, -di, -dk, h) && fallsInAHollow(i, k, di, dk, h)) {
                            ridges.push_back(at(i, k) + vec3d(0.0f, h, 0.0f));
                            break;
                        }
                    }
                }
        }
        return ridges;
    }

    static void expectNoThinRidge(const char* map)
    {
        const std::vector<vec3d> ridges = thinRidges();
        std::printf("  %s: %zu fine points of thin ridges in its hollows\n", map, ridges.size());
        for (size_t n = 0; n < ridges.size() && n < 3; ++n)
            ADD_FAILURE() << "a thin ridge at " << ridges[n].x << ", " << ridges[n].z << ", " << ridges[n].y
                          << " high";
    }

    static inline GameInProcess gameProcess;
    static inline Korvanta* app = nullptr;
};

}

// Every championship map through Scene::load with the counts the builder
// wrote, its hollows without a thin ridge between them; a race of eight sets up on its grid with the course under its
// Start and the eight course gates, each opponent's route from its grid
// slot ends at the first gate; the flag modes add the three flag gates,
// KnockOut parks on seven slots, the championship's end finds the podium.
TEST_F(ContentLoad, EveryChampionshipMapLoadsAndHoldsItsRaces)
{
    for (const MapGenerator::Settings& settings : MapGenerator::championship()) {
        const std::wstring name = settings.name.text();
        SCOPED_TRACE(std::string(name.begin(), name.end()));
        const MapGenerator::Map built = MapGenerator::generate(settings);
        const std::wstring path = mapPath(settings.base);
        ASSERT_TRUE(scene().load(String(path.c_str())));
        EXPECT_TRUE(gTerrain.isLoaded());
        EXPECT_TRUE(scene().sceneName.sameText(settings.name));
        EXPECT_TRUE(scene().description.sameText(settings.code));
        EXPECT_EQ(waterAreas(), int(built.water.size()));
        EXPECT_EQ(chain().meadow->layers.count(), int(built.meadow.size()));
        EXPECT_EQ(grassHeld(), AppTestFiles::read(levelFile(settings.base, L".mdw"))) << "the grass the builder made";
        EXPECT_EQ(gWayNetwork.ways.count(), int(built.ways.size()));
        EXPECT_EQ(cameraObjects(), MapGenerator::cameraObjects);
        expectNoThinRidge(std::string(name.begin(), name.end()).c_str());

        Game& game = scene().game;
        EXPECT_TRUE(game.canRace()) << "the menu lets the race start";
        setUpRace(path, Game::Circuit, settings.courseType, MapGenerator::gridSlots);
        ASSERT_EQ(game.vehicles.count(), MapGenerator::gridSlots);
        ASSERT_NE(game.course, nullptr) << "the Start stands on the course";
        EXPECT_GE(game.gates.count(), MapGenerator::courseGates);
        ASSERT_NE(game.gates.head(), nullptr);
        matrix3d gate;
        game.gates.head()->item->object->getTransform(gate, true);
        const vec3d firstGate = gate.row(3);
        int routes = 0;
        for (auto* node = game.vehicles.head(); node; node = node->next) {
            ObjPkgManager::Functions::AI* ai = node->item->getAIDriver();
            if (!ai)
                continue;
            ai->replan(true);
            const auto& path = ai->path;
            ASSERT_GE(path.count, 2);
            const vec3d end = path.points[path.count - 1].position;
            EXPECT_LT(std::hypot(end.x - firstGate.x, end.z - firstGate.z), 30.0f) << "route " << routes;
            // The route keeps to the ground it runs over.
            for (int32_t i = 0; i < path.count; ++i) {
                const vec3d p = path.points[i].position;
                ASSERT_TRUE(std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z));
                EXPECT_LT(std::fabs(p.y - gTerrain.getHeight(p.x, p.z, 3)), 25.0f) << i;
            }
            ++routes;
        }
        EXPECT_EQ(routes, MapGenerator::gridSlots - 1) << "an opponent on each slot but the player's";
        // Every gate of the race (the Goal of a race track, the Start of a
        // rally course among them) spans the road. A quad's box driving
        // through it, in the middle or a lane beside it, meets no triangle
        // the opponents' path tests see; one driving into a post does. On a
        // race track or a rally course the road's edges pass too; an
        // off-road course's gates stand on its hollow's floor, clear of its
        // walls.
        int gates = 0;
        for (auto* node = game.gates.head(); node; node = node->next, ++gates) {
            SCOPED_TRACE(gates);
            Game::Gate& g = *node->item;
            const Game::Gate::Window* window = g.window();
            ASSERT_NE(window, nullptr);
            EXPECT_GE(window->extents[0], MapGenerator::courseWidth * 0.5f);
            for (float side : {-10.0f, -5.0f, 0.0f, 5.0f, 10.0f})
                EXPECT_FALSE(quadMeets(*g.object, side)) << side;
            EXPECT_TRUE(quadMeets(*g.object, window->extents[0] - 0.3f)) << "a post";
        }
        EXPECT_GE(gates, MapGenerator::courseGates);
        if (settings.courseType != 1)
            expectGatesSpanTheirRoads();
        endRace();

        setUpRace(path, Game::CaptureTheFlag, settings.courseType, 2);
        EXPECT_GE(game.gates.count(), MapGenerator::courseGates + MapGenerator::flagGates);
        if (settings.courseType != 1)
            expectGatesSpanTheirRoads();
        endRace();
        setUpRace(path, Game::KnockOut, settings.courseType, 6);
        EXPECT_EQ(game.parkingSlots.count(), MapGenerator::parkingSlots);
        endRace();
        game.placePlayerQuad();
        EXPECT_EQ(game.vehicles.count(), 1) << "the player's quad before the podium";
        endRace();
        scene().clear();
    }
}

// A map of each course type seen from behind its grid at noon: every pixel
// drawn, sky above and ground below; the frames are kept as pictures.
TEST_F(ContentLoad, TheGridsViewShowsSkyAndGround)
{
    const std::vector<MapGenerator::Settings> maps = MapGenerator::championship();
    for (size_t m : {size_t(3), size_t(22), size_t(38)}) {
        const MapGenerator::Settings& settings = maps[m];
        SCOPED_TRACE(m);
        const MapGenerator::Map built = MapGenerator::generate(settings);
        ASSERT_TRUE(scene().load(String(mapPath(settings.base).c_str())));
        scene().timeOfDay = 12.5f;
        scene().applyTimeOfDay();
        vec3d start, last;
        for (const StaticObjectWriter::Object& o : built.objects) {
            if (o.package.sameText(String::borrowed(L"Start")))
                start = {o.position[0], o.position[1], o.position[2]};
            if (o.package.sameText(String::borrowed(L"PlayerSlot")) && o.flag == 7)
                last = {o.position[0], o.position[1], o.position[2]};
        }
        const vec3d along = start - last;
        const vec3d eye = last - along.normalised() * 40.0f;
        const float ground = gTerrain.getHeight(eye.x, eye.z, 3);
        SceneFrames::look(chain(), {eye.x, ground + 12.0f, eye.z}, std::atan2(-along.x, along.z) * 57.29578f, -6.0f);
        constexpr uint32_t magenta = 0xFFFF00FFu;
        TestDevice::Level frame = SceneFrames::draw(scene(), chain(), nullptr, magenta);
        frame = SceneFrames::draw(scene(), chain(), nullptr, magenta);
        int cleared = 0;
        for (uint32_t y = 0; y < frame.height; y += 4)
            for (uint32_t x = 0; x < frame.width; x += 4)
                cleared += (frame.at(x, y) | 0xFF000000u) == magenta;
        EXPECT_EQ(cleared, 0);
        const Color sky = Color::fromArgb(frame.at(frame.width / 2, 4));
        const Color road = Color::fromArgb(frame.at(frame.width / 2, frame.height - 8));
        EXPECT_GT(int(sky.b), int(sky.r)) << "a blue sky";
        EXPECT_GT(std::abs(int(sky.b) - int(road.b)) + std::abs(int(sky.r) - int(road.r)), 40) << "ground below";
        scene().clear();
    }
}

// The solo valley loads and belongs to no country, its dirt track's hollow
// without a thin ridge; every object it places
// finds its package, and its rock and marker stand without a rigid body.
TEST_F(ContentLoad, TheValleyIsASoloMap)
{
    ASSERT_TRUE(scene().load(String((installFolder() + L"Data\\Map\\Valley.tee").c_str())));
    EXPECT_TRUE(gTerrain.isLoaded());
    EXPECT_EQ(scene().description.length(), 0);
    EXPECT_EQ(grassHeld(), AppTestFiles::read(levelFile(String(L"Valley"), L".mdw"))) << "the grass the builder made";
    expectNoThinRidge("Valley");
    // Across its course road the ground lies level, turns too: the gates
    // standing on it stand still, and no quad meets a slope across it.
    const MapGenerator::Track course(WaySamples::valleyCourse(), false);
    float worst = 0.0f;
    for (float s = 0.0f; s < course.length(); s += 10.0f) {
        const MapGenerator::Track::Place p = course.onRoad(s);
        const float middle = gTerrain.getHeight(p.x, p.z, 3);
        for (float side = -0.5f; side <= 0.5f; side += 0.125f) {
            const auto [x, z] = p.beside(side * WaySamples::courseWidth);
            worst = std::max(worst, std::fabs(gTerrain.getHeight(x, z, 3) - middle));
        }
    }
    EXPECT_LT(worst, 0.5f) << "the ground across the valley's course rises or falls";
    ObjPkgManager& packages = scene().objectPackages;
    for (const StaticObjectWriter::Object& placed : ObjectSamples::valley())
        EXPECT_NE(packages.findPackage(placed.package), nullptr) << std::wstring(placed.package.text()).size();
    const struct
    {
        const wchar_t* name;
        int geometries;
    } solid[] = {{L"Rock", 0}, {L"Marker", 0}};
    for (const auto& expected : solid) {
        ObjPkgManager::Package* package = packages.findPackage(String(expected.name));
        ASSERT_NE(package, nullptr);
        ASSERT_NE(package->build(nullptr), nullptr);
        ASSERT_EQ(package->meshes.count(), 1);
        EXPECT_EQ(package->meshes.head()->item->geometries.count(), expected.geometries);
    }
    // The course's gates and the flag modes' gates on the shortcut span
    // their roads.
    const std::wstring valley = installFolder() + L"Data\\Map\\Valley.tee";
    for (int32_t mode : {Game::Circuit, Game::CaptureTheFlag}) {
        SCOPED_TRACE(mode);
        setUpRace(valley, mode, 2, 2);
        expectGatesSpanTheirRoads();
        endRace();
    }
}

// Every package of the objects folder builds through the package manager
// with at least one mesh, and the packages the races look up by name exist.
TEST_F(ContentLoad, EveryPackageBuilds)
{
    ObjPkgManager& packages = scene().objectPackages;
    int built = 0;
    for (auto* node = packages.packages.head(); node; node = node->next) {
        ObjPkgManager::Package& package = *node->item;
        SCOPED_TRACE(std::wstring(package.path.text()).size());
        ASSERT_NE(package.build(nullptr), nullptr);
        EXPECT_EQ(package.built, 1u);
        // The oil puddle's package is its template alone.
        if (!package.lowerName.sameText(String::borrowed(L"oilpuddle")))
            EXPECT_GT(package.meshes.count(), 0);
        ++built;
    }
    EXPECT_GE(built, 20);
    for (const wchar_t* name : Game::packageNames)
        EXPECT_NE(packages.findPackage(String(name)), nullptr) << std::string(name, name + wcslen(name));
    for (const wchar_t* name : {L"Compass", L"Camera", L"Tree", L"GrownTree", L"Bush"})
        EXPECT_NE(packages.findPackage(String(name)), nullptr);
}

// An object of every package, placed as a level places it, wears a texture
// of its own on each part it draws: no part falls back to the device's
// stand-in pattern. The race paints the quad's body and helmet first.
TEST_F(ContentLoad, EveryPackagesPartsWearTheirTextures)
{
    ObjPkgManager& packages = scene().objectPackages;
    int parts = 0;
    float x = 0.0f;
    for (auto* node = packages.packages.head(); node; node = node->next) {
        ObjPkgManager::Package* package = node->item;
        const std::string name(package->lowerName.text(), package->lowerName.text() + package->lowerName.length());
        Object* placed = packages.createObject(package, vec3d(x += 40.0f, 0.0f, 0.0f), 1.0f);
        ASSERT_NE(placed, nullptr) << name;
        placed->instance = placed->createInstance();
        auto* object = dynamic_cast<DynObject*>(placed->instance);
        ASSERT_NE(object, nullptr) << name;
        if (auto* entry = object->functions ? object->functions->find(DynObject::FunctionManager::quadFlag) : nullptr)
            dynamic_cast<ObjPkgManager::Functions::QuadPhysics::Instance&>(*entry->instance).setColors(0x00C04020u);
        for (auto* sub = object->subEntities.head(); sub; sub = sub->next, ++parts) {
            const TextureRef& texture = sub->item->material.textures[0];
            const std::string mesh(sub->item->mesh().name.text(),
                                   sub->item->mesh().name.text() + sub->item->mesh().name.length());
            EXPECT_TRUE(texture.isBound() && texture.texture()->texture) << name << ": " << mesh;
        }
    }
    EXPECT_GE(parts, 40);
}

// Trees and rocks show from afar: their packages are drawn in the far
// field's pictures beyond the distance at which they come alive; the race's
// objects are not.
TEST_F(ContentLoad, TreesAndRocksStandInTheFarField)
{
    const std::pair<const wchar_t*, uint32_t> packages[] = {
        {L"Tree", 1}, {L"GrownTree", 1}, {L"Rock", 1}, {L"Gate", 0}, {L"Crate", 0}, {L"Start", 0}, {L"PlayerSlot", 0}};
    for (const auto& [name, farField] : packages) {
        SCOPED_TRACE(std::string(name, name + wcslen(name)));
        ObjPkgManager::Package* package = scene().objectPackages.findPackage(String(name));
        ASSERT_NE(package, nullptr);
        ASSERT_NE(package->build(nullptr), nullptr);
        EXPECT_EQ(package->functions.farField, farField);
        EXPECT_EQ(package->farField, farField);
    }
}

// Every tree of the tree folder grows through Tree::generate; every sound of
// the sound folder opens through the audio files; the resource archive
// loads with the race's sounds and the head-up display's images; the menu
// file gives four sounds, three intro pages and the logo.
TEST_F(ContentLoad, TreesSoundsArchiveAndMenuLoad)
{
    std::vector<std::wstring> trees, sounds;
    for (auto [folder, out] : {std::pair{L"Data\\Tree\\", &trees}, std::pair{L"Data\\Sound\\", &sounds}}) {
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((installFolder() + folder + L"*.*").c_str(), &found);
        for (bool more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found))
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                out->push_back(installFolder() + folder + found.cFileName);
        if (search != INVALID_HANDLE_VALUE)
            FindClose(search);
    }
    ASSERT_FALSE(trees.empty());
    for (const std::wstring& path : trees) {
        const std::vector<uint8_t> bytes = AppTestFiles::read(path);
        FileArray stream(4096);
        if (!bytes.empty())
            stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        Tree tree;
        tree.generate(stream);
        if (path.find(L"Empty") == std::wstring::npos)
            EXPECT_GT(tree.countTriangles(), 0u) << std::string(path.begin(), path.end());
    }
    ASSERT_FALSE(sounds.empty());
    for (const std::wstring& path : sounds) {
        const std::vector<uint8_t> bytes = AppTestFiles::read(path);
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        Audio::FileRef ref;
        const bool ogg = path.substr(path.size() - 3) == L"ogg";
        ref.set(&stream, ogg ? Audio::FileRef::typeOgg : Audio::FileRef::typeWav, String(L"content"), 0);
        Audio::AudioFile* file = Audio::AudioFile::get(&ref, 0, 8, 1);
        ASSERT_NE(file, nullptr);
        EXPECT_GT(file->dataSize, 0u) << std::string(path.begin(), path.end());
        Audio::AudioFile::unloadByRef(ref);
    }

    ResourceManager archive;
    ASSERT_TRUE(archive.load(String((installFolder() + L"Data\\Resource\\Resource.res").c_str())));
    for (const wchar_t* name : {L"SNDStart", L"SNDDing", L"SNDGateOK", L"SNDWrongGate", L"SNDRepair", L"SNDNitro",
                                L"SNDWrongWay", L"SNDApplause", L"HUDOil", L"HUDRocket", L"HUDNitro", L"HUDRepair",
                                L"HUDEliminated"}) {
        ResourceManager::Entry& entry = archive.find(String(name));
        EXPECT_TRUE(entry.name.sameText(String(name))) << std::string(name, name + wcslen(name));
    }

    GameMenu& menu = app->gameMenu;
    menu.load(String((installFolder() + L"Data\\Menu\\Menu.mnu").c_str()));
    for (Audio::FileRef* sound : menu.sounds)
        EXPECT_NE(sound, nullptr);
    for (auto* intro : menu.introScreens)
        EXPECT_NE(intro, nullptr);
    EXPECT_GT(menu.tag9Block.size(), 0u) << "the logo";
}

namespace {

enum class Damage { cut, random };

// The bytes of file cut to a third, or overwritten with random bytes of a
// fixed seed (the first four kept, so that a versioned file still looks
// like one).
std::vector<uint8_t> damaged(std::vector<uint8_t> bytes, Damage damage, std::mt19937& draw)
{
    if (damage == Damage::cut) {
        bytes.resize(bytes.size() / 3);
        return bytes;
    }
    for (size_t i = 4; i < bytes.size(); ++i)
        bytes[i] = uint8_t(draw());
    return bytes;
}

}

// A copy of a championship map with one damaged file of each kind: the
// load gives a level or fails, and a race set up on what loaded runs a few
// frames; nothing crashes or hangs.
TEST_F(ContentLoad, DamagedLevelFilesFailCleanly)
{
    std::mt19937 draw(63);
    const MapGenerator::Settings settings = MapGenerator::championship()[4];
    for (const wchar_t* extension : sideFiles)
        for (Damage damage : {Damage::cut, Damage::random}) {
            SCOPED_TRACE(std::string(extension, extension + 4) + (damage == Damage::cut ? " cut" : " random"));
            const std::wstring folder = AppTestFiles::freshFolder(L"ContentDamagedLevel");
            for (const wchar_t* side : sideFiles) {
                std::vector<uint8_t> bytes =
                    AppTestFiles::read(installFolder() + L"Data\\Map\\" + settings.base.text() + side);
                if (std::wstring(side) == extension)
                    bytes = damaged(bytes, damage, draw);
                ASSERT_TRUE(AppTestFiles::write(folder + settings.base.text() + side, bytes));
            }
            const std::wstring path = folder + settings.base.text() + L".tee";
            if (!scene().load(String(path.c_str()))) {
                EXPECT_EQ(scene().loaded, 0u);
                continue;
            }
            setUpRace(path, Game::Circuit, settings.courseType, 4);
            for (int frame = 0; frame < 20; ++frame) {
                gFrameFactor.store(1.0f);
                app->pumpMessages();
                app->update();
            }
            endRace();
            scene().clear();
        }
}

// Damaged packages are left out, the sound ones still build; a damaged menu
// file shows no intro; a damaged archive holds no head-up display icons.
TEST_F(ContentLoad, DamagedPackagesMenuAndArchiveLeaveTheirPartsOut)
{
    std::mt19937 draw(64);
    const std::wstring objects = AppTestFiles::freshFolder(L"ContentDamagedObjects");
    for (const wchar_t* name : {L"Gate", L"Nitro", L"Podium", L"Quad"}) {
        std::vector<uint8_t> bytes = AppTestFiles::read(installFolder() + L"Objects\\" + name + L".teo");
        const std::wstring which = name;
        if (which == L"Gate")
            bytes = damaged(bytes, Damage::cut, draw);
        else if (which == L"Nitro")
            bytes = damaged(bytes, Damage::random, draw);
        ASSERT_TRUE(AppTestFiles::write(objects + name + L".teo", bytes));
    }
    {
        ObjPkgManager packages(&scene());
        packages.loadFolder(String(objects.c_str()));
        packages.buildPackages();
        // The cut package keeps what it could read; the one of random
        // bytes is left out.
        ObjPkgManager::Package* nitro = packages.findPackage(String(L"Nitro"));
        if (nitro)
            EXPECT_EQ(nitro->built, 0u);
        for (const wchar_t* name : {L"Podium", L"Quad"}) {
            ObjPkgManager::Package* package = packages.findPackage(String(name));
            ASSERT_NE(package, nullptr);
            EXPECT_EQ(package->built, 1u);
        }
        packages.clear();
    }

    const std::wstring folder = AppTestFiles::freshFolder(L"ContentDamagedMenu");
    for (Damage damage : {Damage::random, Damage::cut}) {
        const std::wstring path = folder + L"Menu.mnu";
        ASSERT_TRUE(AppTestFiles::write(
            path, damaged(AppTestFiles::read(installFolder() + L"Data\\Menu\\Menu.mnu"), damage, draw)));
        GameMenu menu(&scene(), nullptr);
        menu.load(String(path.c_str()));
        if (damage == Damage::random)
            EXPECT_EQ(menu.introScreens[0], nullptr) << "no intro";
    }
    {
        GameMenu menu(&scene(), nullptr);
        menu.load(String((installFolder() + L"Data\\Menu\\Menu.mnu").c_str()));
        EXPECT_NE(menu.introScreens[0], nullptr);
    }

    for (Damage damage : {Damage::random, Damage::cut}) {
        const std::wstring path = folder + L"Resource.res";
        ASSERT_TRUE(AppTestFiles::write(
            path, damaged(AppTestFiles::read(installFolder() + L"Data\\Resource\\Resource.res"), damage, draw)));
        ResourceManager archive;
        archive.load(String(path.c_str()));
        if (damage == Damage::random)
            for (const wchar_t* icon : {L"HUDOil", L"HUDRocket", L"HUDNitro", L"HUDRepair"})
                EXPECT_EQ(archive.find(String(icon)).name.length(), 0);
    }
}
