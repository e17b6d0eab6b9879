#pragma once

#include "Landscape/CameraPath.h"
#include "Landscape/HLod.h"
#include "Landscape/SceneCamera.h"
#include "Landscape/SceneSun.h"
#include "Landscape/SceneTerrain.h"

#include "Entity/StaticEntityManager.h"
#include "Objects/ObjPkgManager.h"
#include "Race/Game.h"

#include "Render/D3DDevice.h"
#include "Render/EnvMap.h"
#include "Render/ShadowManager.h"
#include "Render/SwapChainInterface.h"
#include "TextureRecord.h"

#include "Core/DynArray.h"
#include "Core/FileArray.h"
#include "Core/Matrix.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

class DynObject;
struct SceneView;

// The level a race runs on: one instance, a member of the application. load
// reads a level's main file and hands each side file to its reader, drawing
// loading frames on the way; clear empties it again on the way back to the
// menu; release (shutdown) also forgets the swap chain. In between the scene
// keeps the time of day, drives the scene camera with its fog, runs the
// camera tours of the menu background and pauses the race clock.
//
// The scene is also a load-process entry (its first fields). The swap chain
// is handed in once the device exists; until then load, pause and the camera
// steps that need the device do nothing. Main thread only.
class Scene : public EnvMap::Interface, public D3D::LoadProcessInterface
{
public:
    using Sun = SceneSun;
    // A camera object of the level: its number (the object's state byte),
    // its tilt byte b (the view leans 90 - b degrees down) and its transform.
    struct CameraObject
    {
        int32_t number = 0;
        uint8_t tilt = 90;
        matrix3d transform = matrix3d::identity();
    };
    // Where the camera objects of the loaded level come from (the static
    // objects of the camera type). Null while that type is unknown, which
    // makes camera tours and the start view do nothing.
    class CameraObjects
    {
    public:
        // Appends every camera object of the level to out; returns the count.
        virtual int32_t collect(DynArray<CameraObject>& out) = 0;

    protected:
        ~CameraObjects() = default;
    };

    // The level's static objects: it makes the objects a ".obj" file lists
    // and finds the packages they name among the scene's object packages.
    // It also hands the static objects to the far field.
    class ObjectManager final : public StaticEntityManager::Creator,
                                public StaticEntityManager::PackageFinder,
                                public HLod::Objects
    {
    public:
        explicit ObjectManager(Scene* owner) : scene(owner) {}

        ::Object* createObject() override;
        StaticEntityManager::Method* findPackage(const String& name) override;
        // The level's ".obj" file into the swap chain's static objects, then
        // their first activation; the swap chain's far field draws them from
        // then on. Nothing without a swap chain. Whether the file was read
        // whole, every object placed.
        bool load();

        // Each object listed with its package's box (a cube of its radius
        // for another kind of object) and its scaled transform.
        int32_t collectTouchingBox(const OrientedBox& box, DynArray<HLod::Objects::Object>& out) override;
        void renderFarField(const BoundingBox& farField) override;

        Scene* scene;
    };

    // The camera objects: the static objects of the camera package.
    class CameraTypeObjects final : public CameraObjects
    {
    public:
        explicit CameraTypeObjects(Scene* owner) : scene(owner) {}

        int32_t collect(DynArray<CameraObject>& out) override;

        Scene* scene;
    };

    // folderName names the records folder under the user's application data;
    // range is the application's scene range (3500); the race logic reaches
    // the application through gameCallbacks.
    Scene(const String& folderName, float range, Game::Interface* gameCallbacks = nullptr);
    ~Scene();
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    // Reads the level whose main file is path and builds the scene from it.
    // True when the scene holds a loaded level afterwards (also when one was
    // loaded already, which is kept). False when the file cannot be opened:
    // nothing is read and no load-process entry stays registered.
    bool load(const String& path);
    // Writes the main file (and the side files of the parts that have them)
    // under path, which becomes the scene's file name; an empty path writes
    // under the file name. Each file is replaced only once written whole. A
    // file of the level (the main file or a side file) the load did not read
    // to its end, or could not open, is left as it is, whatever path names
    // it; under another name the level writes what it holds.
    bool save(const String& path);
    // Reads tags 1 to 4 of a main file (name, preview, description, race
    // settings up to the course type, which the header word gets too) for
    // the map list and returns the scene name; stops after tag 4.
    String readHeader(const String& path);
    // The file name without its extension; side files append theirs.
    String baseName() const;

    // The sun's time from the time of day (hour at most 23, minute at most 59);
    // the sky dome is built for a level with the sky flag and released for
    // one without.
    void applyTimeOfDay();
    // Stops and restarts the frame clock, the physics steps and the sounds
    // (those not exempt); resume without a pause does nothing.
    void pause();
    void resume();
    // Once per frame: the sun from the clock, the camera of the current mode,
    // then the camera tours.
    void updateCamera();
    // Empties the loaded level (only while loaded); the file name stays.
    void clear();
    // Shutdown: clear, then release the textures and forget the swap chain.
    void release();

    // The camera objects become the static objects of the package of that
    // name; without such a package camera tours and the start view do nothing.
    void setCameraObjectType(const String& name);

    // The device was restored (or the window resized): every object
    // function of the drawn dynamic objects redraws what it keeps.
    void notifyObjectFunctions();

    // The dynamic object that the race's vehicle camera follows: the first
    // of the entity manager's list that carries the vehicle camera (flag
    // 0x4), else the first with a head-up display (0x20); null when none.
    DynObject* findFlaggedEntity() const;

    // A camera tour over camera objects first to last (either way round) at
    // speed: the path runs through their positions and the camera mode
    // becomes 4; a camera that followed the player's vehicle takes its
    // vehicle camera and head-up display off it. Nothing while no camera
    // object type is known.
    void setCameraMode(int32_t first, int32_t last, float speed);
    // The device camera to the camera object number 0, when there is one.
    void placeCameraAtStart();

    // Reports progress p of entry: the 0.09 rule of the swap chain's loading
    // frames. Nothing without a swap chain.
    void setLoadProgress(D3D::LoadProcessInterface& entry, float p);
    // The end of a load: one frame of updates and renders so the world starts
    // warm. Progress goes from base to end over span; no progress without an
    // entry.
    void warmUp(D3D::LoadProcessInterface* entry, float base, float end, float span);

    // The sky of the swap chain that owns view: updateSky (the swap chain's
    // update and the warm-up) moves the sky's frame on and puts its world
    // transform at the camera; renderSky (the first scene pass, the effect
    // pass, the water's sky mask) draws the sky records, the dome and the
    // sun's disc with fog and depth off, then switches fog (when the camera
    // has it), depth test and depth writes back on.
    static void updateSky(SceneView& view);
    static void renderSky(SceneView& view);

    // The level file: the main file's tags (read adds to the fields, so
    // setDefaults comes first), the head of it, and its writing.
    void setDefaults();
    bool readLevel(FileInterface& stream);
    void readHeaderFrom(FileInterface& stream);
    void writeLevel(FileInterface& stream);

    D3D::Device::SwapChain* swapChain = nullptr; // not owned
    // The sun's shadows; it reaches the swap chain through swapChain.
    ShadowManager shadowManager{swapChain, 800.0f, 165.0f};
    String fileName;
    String recordsFolder; // ends with a backslash
    SceneCamera camera;
    // A map of size 0 that nothing enters: it draws no face.
    EnvMap envMap{nullptr, this};
    TextureRef lightTexture; // the default light mask "DefLight"
    float timeOfDay = 12.0f; // hours
    float season = 0.5f;     // 0 to 1
    SceneTerrain terrainLayer;
    Sun sun{this};
    uint32_t animatedSky = 0;
    uint32_t loaded = 0;
    float range = 0.0f;
    String sceneName;
    String description;
    FileArray preview{4096}; // the map list's preview image file
    int32_t headerWord = 0; // the race settings' course type, set by readHeader
    CameraObjects* cameraObjects = nullptr;
    ObjectManager objectManager{this};
    // Every placeable thing of a map; its owner is this scene.
    ObjPkgManager objectPackages{this};
    // The package of the camera objects (setCameraObjectType), or null.
    ObjPkgManager::Package* cameraType = nullptr;
    CameraTypeObjects cameraTypeObjects{this};
    CameraPath cameraPath;
    // Menu background tours: 0 off; the menu starts one with state 2.
    uint32_t tourA = 0;
    uint32_t tourB = 0;
    // The race logic; the level's race settings are its, and the records of
    // the loaded level are read from the records folder.
    Game game;

private:
    void runTours();
    // The camera objects numbered n; null when there is none.
    static const CameraObject* findCameraObject(DynArray<CameraObject>& objects, int32_t count, int32_t n);

    uint32_t pausedByScene = 0;
    // A file as the system knows it, whatever path names it: its volume and
    // index while it exists, and its folder's with its name (which also
    // names a file that is not there).
    struct FileIdentity
    {
        uint32_t volume = 0;
        uint64_t index = 0;
        bool known = false;

        bool operator==(const FileIdentity& other) const
        {
            return known && other.known && volume == other.volume && index == other.index;
        }
    };
    struct KeptFile
    {
        FileIdentity file;
        FileIdentity folder;
        String name;

        bool operator==(const KeptFile& other) const;
    };
    static KeptFile identify(const String& path);
    // The files the last load did not read to their end: a save leaves them
    // as they are.
    std::vector<KeptFile> keptFiles;
    // Keeps path unless the load read it whole.
    void keepUnlessWhole(bool whole, const String& path);
    // Whether path names a kept file (as the system finds it now).
    bool keeps(const String& path) const;
};
