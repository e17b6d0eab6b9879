#pragma once
// The live form of a placed package object: an entity drawn from its
// package's meshes, with a rigid body when the package has collision
// geometry, and the object-function instances of its package, at most one
// per function kind.
//
// A dynamic object is made when its placed object comes alive
// (PackageObject) and loads itself in its constructor: it builds the
// package when needed, adds a sub-entity per mesh, takes a rigid body of
// the physics manager's budget for a package with geometry (an object that
// gets none is hidden) and makes its instances. Its per-frame calls reach
// the instances in the order they were added.
//
// Threads: main thread, except onContact, which the physics manager calls
// from its step; the function list is changed only between step batches.

#include "Objects/ObjPkgManager.h"
#include "Objects/ObjectFuncInst.h"

#include "Entity/CollisionBody.h"
#include "Entity/StaticEntity.h"

#include "Core/DynArray.h"
#include "Core/Vector.h"

#include <cstdint>

class EnvMap;
class Shader;
class Tree;

class DynObject final : public StaticEntity::Instance, public EntityManager::CollisionBody::Geometry::Interface
{
public:
    class FunctionManager;

    // The entity manager of the package's swap chain (the caller checked it
    // exists), then load.
    DynObject(Object& placed, EntityManager& manager);
    // The instances, the package's object scale, the entity and the body go.
    ~DynObject() override;

    // The placed object's transform into transform (the entity's world), the
    // rigid body posed there; 1.
    uint32_t place(StaticEntity& entity, matrix3d& transform) override;

    // Entity hooks: update forwards frameStep; prepare hides an object in
    // state 254 beyond its package's visibility distance (horizontally from
    // the camera) unless the package is always shown, forwards update and
    // moves the entity unless an instance places it; beforeRender and
    // afterRender forward with the entity's transform.
    void update() override;
    void prepare() override;
    void beforeRender() override;
    void afterRender() override;
    // The instances' render preparation, then the entity moves with it.
    void prepareRender() override;
    // With a cloth (0x200) every instance draws its shadow: true; else false.
    bool renderShadowCaster() override;

    // The collision body's second interface: the object's scale applied
    // once to a geometry's position and to a box's sizes or a sphere's
    // diameter.
    void adjust(int32_t type, float (&parameters)[13]) override;

    // The distance moved since the last prepare over the frame factor (the
    // plain distance while the factor is 0).
    float getSpeed() const;
    // One alpha into the four material colours of every sub-entity (states
    // recorded again), then to every instance.
    void setAlpha(float alpha);

    // The physics record's collision handler: forwards to the instances.
    static void onContact(Entity* owner, EntityManager::Physics::Collision* contact);

    // The material slot of a sub-entity's second texture (a quad's dirt),
    // laid over the first by its own alpha on stage 2.
    static constexpr int overlaySlot = 2;
    // The query layer of a package tree's trunk: ray and contact queries at
    // layer 0 pass it by.
    static constexpr int32_t trunkLayer = -2;

    Object* object;
    ObjPkgManager::Package* package;
    EntityManager::CollisionBody body;
    FunctionManager* functions;
    // Gives the object's meshes their shader constants before each draw
    // (the vehicle instance of a quad); null for none.
    ObjPkgManager::ShaderInterface* shaderInterface = nullptr;
    vec3d previousPosition;
    // The transform the last prepare moved the entity to.
    matrix3d preparedWorld{};
    // The alpha setAlpha gave every material (while alphaSet is non-zero).
    float alpha = 1.0f;
    uint32_t alphaSet = 0;
    // Set while the placed object's scale or transform is unsound: the
    // object stays hidden and its body is not posed.
    uint32_t unplaced = 0;
    // Set when the package has collision geometry.
    uint32_t needsBody = 0;

private:
    void load();
    // Whether the placed object's scale is positive and its transform finite.
    bool placementIsSound() const;
    bool setupPhysics();
    void createSubEntities();
    // The sub-entities of a package tree after those made so far: the trunk
    // on trunkLayer, the trunk and the third taking no projected textures,
    // each drawn with its own tree's materials.
    void addTree(const ObjPkgManager::Mesh& mesh, Tree& tree);
    // The render states of a sub-entity made from mesh: the mesh's settings
    // and material (with the alpha setAlpha gave), the sub-entity's texture
    // on stage 0 and a second texture on stage 2.
    void recordSubEntityStates(const ObjPkgManager::Mesh& mesh, const EnvMap* environment, Shader& state) const;
    // Before each draw of sub: the reflection's texture matrix, then the
    // shader interface's constants.
    void renderSubEntity(EntityManager::SubEntity& sub, Shader& state);
};

// The instances of one dynamic object, one per flag bit, in the order they
// were added; the manager owns them. Changes wait for the running physics
// step batch when the owner has a body, so that a contact never walks a
// list that moves.
class DynObject::FunctionManager
{
public:
    struct Function
    {
        ObjectFuncInstInterface* instance = nullptr;
        uint32_t flag = 0;
    };

    explicit FunctionManager(DynObject* owner) : owner(owner) {}
    // clear.
    ~FunctionManager();
    FunctionManager(const FunctionManager&) = delete;
    FunctionManager& operator=(const FunctionManager&) = delete;

    // Appends instance under flag and takes it, when the flag is new (or
    // memory ran out: null, the caller keeps it); else the entry already
    // there, and the caller keeps instance.
    Function* add(uint32_t flag, ObjectFuncInstInterface* instance);
    // The entry of flag, or null.
    Function* find(uint32_t flag);
    // Deletes the instance of flag and closes the gap; nothing without one.
    void remove(uint32_t flag);
    // Deletes every instance in entry order.
    void clear();
    static constexpr uint32_t quadFlag = 0x2;
    static constexpr uint32_t aiDriverFlag = 0x400;

    // The instances the package's templates make, in the kinds' order.
    void createInstances();
    // Value code 9: every sub-entity on query layer -1.
    void prepare();

    void callFrameStep();
    void callUpdate();
    bool anyReplacesEntityUpdate();
    void callPrepareRender();
    void callRedraw();
    void callSetAlpha(float alpha);
    void callOnCollision(EntityManager::Physics::Collision& contact);
    void callBeforeRender();
    void callAfterRender();

    DynArray<Function> entries{1};
    int32_t count = 0;
    uint32_t mask = 0;
    DynObject* owner;

private:
    // Waits for the running step batch when the owner has a body.
    void waitForPhysics() const;
};

// A placed object whose live instance is a dynamic object of its package
// (the scene's object manager and the package manager make these).
class PackageObject final : public Object
{
protected:
    Instance* buildInstance() override;
};
