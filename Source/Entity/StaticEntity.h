#pragma once
// One object placed in a level (StaticEntity) and the concrete kind that
// levels, the menu's showroom and the race logic place (Object): a position,
// a scale, a state and the package it shows. Placed, it sits in a cell of its
// manager's octree; near the camera it holds a live instance, the dynamic
// object that carries its meshes, physics and functions.
//
// Objects read and write their ".obj" records:
//     u8 tag 1  package name (u32 count, 8-bit characters)
//            2  position x, y, z (f32)
//            3  scale (f32)
//            4  height offset (f32)
//            5  rotation about the vertical axis, degrees (f32)
//            6  state (u8; 254 always active, 255 instance made with its flag)
//            7  flag (u8)
//            0  end of the record
// A tag outside 1 to 7 carries nothing; tag 0 or a cut field ends the
// record. Main thread only.

#include "Entity/Entity.h"
#include "Entity/StaticEntityManager.h"

#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <cstdint>

class FileInterface;

class StaticEntity
{
public:
    using Method = StaticEntityManager::Method;
    class Instance;

    static constexpr uint8_t alwaysActive = 254;
    static constexpr uint8_t instanceFlagged = 255;

    // The next id of the running counter.
    StaticEntity();
    // Leaves its octree when it is still placed.
    virtual ~StaticEntity();
    StaticEntity(const StaticEntity&) = delete;
    StaticEntity& operator=(const StaticEntity&) = delete;

    // The object shown; a placed entity's ground slot takes it.
    virtual void setObject(Method* shown);
    virtual vec3d getPosition() const { return position; }
    virtual void setState(uint8_t value) { state = value; }
    virtual void setFlag(uint8_t value) { flag = value; }
    // The live instance: made when the entity comes alive, deleted when it
    // goes.
    virtual Instance* createInstance() = 0;
    virtual void destroyInstance(Instance* live) = 0;
    virtual bool save(FileInterface& out) const = 0;
    // One record from in; packages finds what it names. Whether the entity
    // was placed.
    virtual bool load(StaticEntityManager::PackageFinder* packages, FileInterface& in) = 0;
    virtual Method* getObject() const { return object; }
    // Scale (1 when unscaled) into elements 0, 5 and 10, the position into
    // 12 to 14; the rest of transform as it was.
    virtual void getTransform(matrix3d& transform, bool unscaled) const;
    // Out of the octree, without object or instance, at the origin, scale 1.
    virtual void remove();

    // Nothing without an object. Stores the position (moving the instance
    // with moveInstance) and, when the cell changed, places the entity in
    // its object's manager's octree. The circle query reads the position,
    // the scale and the object as this leaves them: a scale set later takes
    // effect with the next setPosition.
    void setPosition(const vec3d& at, bool moveInstance);
    // Leaves the node and prunes the nodes left empty.
    void removeFromOctree();

    struct Bounds
    {
        float x = 0.0f, z = 0.0f, radius = 0.0f, radiusSq = 0.0f;
    };
    // The ground circle: the position's x and z, the object's radius by the scale.
    Bounds getBounds() const;
    float radius() const;

    uint32_t id;
    vec3d position;
    float scale = 1.0f;
    int32_t cellKey[3] = {CellBox::unplaced, CellBox::unplaced, CellBox::unplaced};
    uint8_t state = 0;
    uint8_t flag = 0;
    Method* object = nullptr;
    Instance* instance = nullptr;
    StaticEntityManager::Octree* node = nullptr;
    SCList<StaticEntity>::Node* listNode = nullptr;
    // The manager whose octree the entity was placed in.
    StaticEntityManager* placedIn = nullptr;
    // The entity's index among its node's ground slots while they are valid.
    int32_t groundSlot = -1;

    static uint32_t nextId;
};

// The live form of a static entity: an entity of the entity manager with
// the object's meshes, physics and functions (the object packages build it).
class StaticEntity::Instance : public EntityManager::Entity
{
public:
    using EntityManager::Entity::Entity;

    // Takes the entity's placement into transform (the instance's world
    // matrix) and moves itself there; non-zero when it moved.
    virtual uint32_t place(StaticEntity& entity, matrix3d& transform) = 0;

    // Set when the entity's state made the instance with its flag.
    uint32_t flagged = 0;
};

class Object : public StaticEntity
{
public:
    // Told of every instance an object makes.
    class Observer
    {
    public:
        virtual void instanceCreated(Instance& instance) = 0;

    protected:
        ~Observer() = default;
    };

    Object() = default;
    // The instance goes; then the octree is left.
    ~Object() override;

    // The position raised by the height offset.
    vec3d getPosition() const override;
    // The instance the object packages build, flagged for state 255, shown
    // to the observer; null when none could be made.
    Instance* createInstance() override;
    void destroyInstance(Instance* live) override;
    bool save(FileInterface& out) const override;
    // Reads the record; placed at the position read when its package exists
    // and the values are sound.
    bool load(StaticEntityManager::PackageFinder* packages, FileInterface& in) override;
    // Scale on the diagonal (1 unscaled), turned by the rotation about the
    // vertical axis, at the position raised by the height offset.
    void getTransform(matrix3d& transform, bool unscaled) const override;
    void remove() override;

    float rotation = 0.0f;
    float heightOffset = -0.1f;
    // The state the level file gave, which the save writes: the race changes
    // the state as it goes (a pick-up becomes always active, a grid slot or a
    // taken pick-up leaves the race). None (-1) for an object made otherwise,
    // which saves its state.
    int32_t levelState = -1;
    // Whether the last load met the record's end tag (the data did not end
    // inside the record).
    bool recordEnded = false;
    Observer* observer = nullptr;

protected:
    // The dynamic object built from this one; the object packages provide
    // it through the objects their creator makes. None here.
    virtual Instance* buildInstance() { return nullptr; }
};
