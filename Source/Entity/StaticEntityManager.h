#pragma once
// The objects placed in a level: every StaticEntity (StaticEntity.h) sits in
// an octree over cells of 2048 units. Each frame the manager decides from
// the camera which of them are active (hold a live dynamic instance with
// physics and object functions), answers area queries for the game logic,
// and reads and writes the level's ".obj" file.
//
// The render device's swap chain owns one manager (made and deleted with
// it); the scene loads and clears it with the level. The manager's first two
// floats are its loading-progress entry. Main thread only.

#include <SceneOctree.h>

#include "Render/D3DDevice.h"

#include "Core/ConvexVolume.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/SCList.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cfloat>
#include <cstdint>
#include <vector>

class Camera;
class FileInterface;
class Object;
class StaticEntity;
struct BufferRange;

class StaticEntityManager : public D3D::LoadProcessInterface
{
public:
    class Method;
    class GroundSlots;
    struct LodSpriteSector;
    using Octree = SceneOctree<StaticEntity, LodSpriteSector>;

    // The edge of a cell; an entity's cell is floor(position / edge) per axis.
    static constexpr float defaultCellSize = 2048.0f;
    // Objects of a file placed beyond these (or at non-finite values) are
    // not placed: the cells and transforms would be meaningless.
    static constexpr float maxCoordinate = 1.0e7f;
    static constexpr float maxScale = 1.0e4f;
    // The shared index list of the level-of-detail sprites: this many
    // rectangles of two triangles.
    static constexpr int spriteRectangles = 1524;

    // Makes the objects a level file lists (the object package manager).
    class Creator
    {
    public:
        virtual Object* createObject() = 0;

    protected:
        ~Creator() = default;
    };

    // The packages objects show, found by name without regard to case (the
    // object package manager); null when there is none of that name.
    class PackageFinder
    {
    public:
        virtual Method* findPackage(const String& name) = 0;

    protected:
        ~PackageFinder() = default;
    };

    // A query's answer, entity by entity; a non-zero return ends the query.
    class Callback
    {
    public:
        virtual uint32_t found(StaticEntity& entity) = 0;

    protected:
        ~Callback() = default;
    };

    // An octree of static entities kept by someone else (a vehicle
    // instance), which the queries visit after the manager's own. Deleting
    // it deletes its tree and the entities in it.
    class OctreeOwner
    {
    public:
        OctreeOwner() = default;
        virtual ~OctreeOwner();
        OctreeOwner(const OctreeOwner&) = delete;
        OctreeOwner& operator=(const OctreeOwner&) = delete;

        Octree* root = nullptr;
        SCList<OctreeOwner>::Node* listNode = nullptr;
    };

    struct CircleQuery
    {
        float x = 0.0f, z = 0.0f, radius = 0.0f;
    };
    struct SphereQuery
    {
        vec3d centre;
        float radius = 0.0f;
    };

    // owner: the swap chain whose camera decides the activation and which
    // shows the loading progress; null for neither (camera then reaches the
    // current one).
    explicit StaticEntityManager(D3D::Device::SwapChain* owner);
    // clear.
    ~StaticEntityManager();
    StaticEntityManager(const StaticEntityManager&) = delete;
    StaticEntityManager& operator=(const StaticEntityManager&) = delete;

    // Every instance destroyed, every entity of the octree deleted, the
    // further octrees forgotten (their owners live on), the sprites' pools
    // and index list released; the next load activates again.
    void clear();

    // Reads a ".obj" file: every record becomes an object from the creator,
    // which places itself; objects that were not placed are deleted.
    // Nothing without a creator. Returns the number of objects placed;
    // whole (when given) tells whether the file was read to its end with
    // every record placed.
    uint32_t load(const String& path, PackageFinder* packages, bool* whole = nullptr);
    uint32_t load(FileInterface& stream, PackageFinder* packages, bool* whole = nullptr);
    // Writes the level's own octree (not the further ones) as a ".obj"
    // file: the version mark, then each entity's record, in the order the
    // entities were made (a level saved unchanged gives back its file).
    bool save(const String& path);
    void save(FileInterface& out) const;

    // Once per load: the sprites' index list, the camera as the reference
    // point, one activation walk, the progress complete.
    void activateAtLoad();
    // Per frame: a walk whenever the camera has moved more than a hundredth
    // of its range since the last (or always with force); after a walk the
    // owner's far field renews its pictures.
    void update(uint32_t force);
    // The far field's picture, seen from farField's centre out to its
    // radius: every entity of an object drawn in the far field that has no
    // instance and stands outside its activation area, whose ground circle
    // meets that circle and which the owner's view does not hold outside,
    // drawn as its object's far-field meshes for its state. The view's near
    // plane goes through the centre meanwhile, so nothing in front is cut.
    void renderFarField(const BoundingBox& farField);
    // From start: nodes whose ground circle meets the camera's are visited;
    // in them each entity inside its object's activation area (or in state
    // 254) gets an instance, every other loses it.
    void updateActivation(Octree* start);

    // The queries visit the manager's octree, then each further octree, and
    // stop at the first callback that answers non-zero; they return 0.
    // The circle tests the entities' ground circles; the sphere tests the
    // nodes only. The circle reads each entity's position, scale and object
    // as its last placement (StaticEntity::setPosition) or setObject left
    // them, from its node's ground slots; the objects' radii are asked anew.
    uint32_t findInCircle(const CircleQuery& query, Callback& callback);
    uint32_t findInSphere(const SphereQuery& query, Callback& callback);
    // Empties list, then appends every entity of a node whose box overlaps
    // box; whether any was appended.
    bool collectTouchingBox(const OrientedBox& box, SCList<StaticEntity>& list);
    // Every entity whose node box is not outside volume and whose position
    // is not outside it, of object only when one is given; count is how
    // many went into out. Whether any.
    bool collectInVolume(const ConvexVolume& volume, DynArray<StaticEntity*>& out, int32_t& count,
                         const Method* object);
    // Appends every entity below node showing object, in depth order.
    static void collectByObject(const Octree* node, const Method* object, SCList<StaticEntity>& list);
    // Every instance below node destroyed.
    static void deactivateAll(Octree* node);
    // Every entity below node, in depth order.
    static void collectNode(const Octree* node, std::vector<const StaticEntity*>& out);
    // Deletes a tree and the entities in it (their instances too).
    static void destroyTree(Octree*& root);

    // The octrees others keep; the list never owns them unless
    // deleteOctreeList is told to delete them.
    static SCList<OctreeOwner>& furtherOctrees();
    static void deleteOctreeList(bool deleteOwners);
    // The slot that holds the root of node's tree (the manager's or a
    // further owner's); null when it is neither.
    Octree** rootSlotOf(Octree* node);

    // The camera that activation is measured from.
    const Camera* activationCamera() const;

    // The shared index list of the sprites (made by activateAtLoad).
    static IDirect3DIndexBuffer9* spriteIndices;

    D3D::Device::SwapChain* owner;
    Camera* camera = nullptr; // overrides the owner's camera when set
    DynArray<Octree*> nodeStack{128};
    Creator* creator = nullptr;
    Octree* root = nullptr;
    float cellSize = defaultCellSize;
    // Where the camera stood at the last walk; at first as far as can be, so
    // that the first update always walks.
    vec3d referencePoint{FLT_MAX, FLT_MAX, FLT_MAX};
    uint32_t loaded = 0;
};

// What static entities need of the object they show: the object packages'
// package implements it.
class StaticEntityManager::Method
{
public:
    static constexpr uint32_t circleArea = 0;
    static constexpr uint32_t squareArea = 1;

    virtual ~Method() = default;
    // Moves the live instance of entity (if any) to the entity's placement.
    // 0 without an instance.
    virtual uint32_t applyTransform(StaticEntity& entity);
    // The object's radius, before the entity's scale.
    virtual float radius() const = 0;
    // The manager whose octree the object's entities go into.
    virtual StaticEntityManager* manager() const = 0;
    // Draws the object's far-field meshes for an entity in state, placed by
    // transform (scaled), with the entity pass's states in force; nothing by
    // default.
    virtual void renderFarField(uint8_t state, const matrix3d& transform)
    {
        (void)state;
        (void)transform;
    }

    // The package's name as ".obj" records name it.
    String name;
    // Where entities of the object come alive around the reference point:
    // a circle of squared range, a square of half size; other kinds never.
    uint32_t areaKind = circleArea;
    float rangeSq = 0.0f;
    float halfSize = 0.0f;
    // Non-zero: the far field draws the object's entities that are not alive.
    uint32_t farField = 0;
    // Non-zero: entities stand along the terrain's normal where they are placed
    // (no package field sets it).
    uint32_t terrainAligned = 0;
};

// The ground circles of one node's entities, which the circle query tests
// from packed arrays instead of visiting each entity and asking its object:
// a query passes over many entities to call back few. The slots follow the
// item list's order; a change of the list makes them stale (the next query
// makes them again), and an entity placed anew within its node renews its
// own slot.
class StaticEntityManager::GroundSlots
{
public:
    GroundSlots() = default;
    GroundSlots(const GroundSlots&) = delete;
    GroundSlots& operator=(const GroundSlots&) = delete;

    void markStale() { valid = false; }
    bool isValid() const { return valid; }
    // Made again from items when stale (each entity learns its slot);
    // false when there was no room for them.
    bool renew(const SCList<StaticEntity>& items);
    // Takes entity's position, scale and object into its slot; marks the
    // slots stale when the slot is not the entity's or its object is new.
    void take(const StaticEntity& entity);
    // Hands each entity whose ground circle meets the query's circle to
    // callback, in list order; true when a callback answered non-zero.
    // The slots must be valid.
    bool find(const CircleQuery& query, Callback& callback);

private:
    // What the test reads, packed: the position's x and z and the radius
    // (the object's by the entity's scale).
    struct Circle
    {
        float x = 0.0f, z = 0.0f, radius = 0.0f;
    };
    // What the radius is made of.
    struct Slot
    {
        float scale = 1.0f;
        int32_t kind = 0; // index into objects
    };
    int32_t kindOf(Method* object);

    DynArray<Circle> circles{16};
    DynArray<Slot> slots{16};
    DynArray<StaticEntity*> entities{16};
    // The objects the entities show, each once, and their radii as the
    // circles hold them.
    DynArray<Method*> objects{4};
    DynArray<float> radii{4};
    int32_t count = 0;
    int32_t kinds = 0;
    bool valid = false;
};

// A node of the static-entity octree, its level-of-detail sprites and its
// entities' ground slots. No part of the game fills or draws the sprites
// yet: a sector holds its two sprite records and its sprite array, and
// gives their buffer ranges back.
struct StaticEntityManager::LodSpriteSector
{
    struct LodSprite
    {
        BufferRange* range = nullptr;
    };

    LodSpriteSector() = default;
    ~LodSpriteSector();
    LodSpriteSector(const LodSpriteSector&) = delete;
    LodSpriteSector& operator=(const LodSpriteSector&) = delete;

    LodSprite* sprites[2] = {};
    DynArray<LodSprite*> spriteArray{128};
    GroundSlots ground;
};
