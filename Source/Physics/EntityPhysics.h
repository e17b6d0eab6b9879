#pragma once
// The game's side of one simulated entity: a rigid body taken from the
// physics manager's budget, the controllers that push it, the copy of its
// pose back into the entity after each step batch, the entity's collision
// handler and an optional physics noise.
//
// Threads: construction, release and update run on the main thread, and
// like every change of the body, the controllers, the handler or the noise
// only between step batches (the caller waits for the step end first).
// onControllerStep and the collision handler run on the physics thread
// inside a step; a handler only records what it needs (in atomic words or a
// bounded queue) for the main thread to act on at the next frame.

#include "Entity/EntityManager.h"

#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include "Physics/neController.h"

#include <cstdint>

class PhysicsNoise;
class neRigidBody;

class EntityManager::Physics
{
public:
    // What a collision handler receives for its side of a contact.
    struct Collision
    {
        vec3d localPoint;       // in this side's body frame
        vec3d worldPoint;       // this side's point in the world
        vec3d relativeVelocity; // of the two bodies at the contact
        vec3d normal;           // from the second body of the pair towards the first
        uint32_t otherType;     // 0 terrain, 1 rigid body, 2 animated body
        Entity* otherOwner;     // the other side's entity when it is a rigid body with a record
    };
    static constexpr uint32_t terrainContact = 0;
    static constexpr uint32_t rigidContact = 1;
    static constexpr uint32_t animatedContact = 2;

    // Physics thread: called for every reported contact of the entity's body.
    using CollisionHandler = void (*)(Entity* owner, Collision* collision);

    // A force provider of the game (the vehicle simulation, say): step
    // refreshes force and torque for the body; physics thread. sync runs on
    // the main thread at the frame's sync, while no step batch runs: what
    // the main thread reads of the body or of the step's results it copies
    // there, never from the body later in the frame.
    class Controller
    {
    public:
        virtual ~Controller() = default;
        virtual void step(neRigidBody* body) = 0;
        virtual void sync(neRigidBody&) {}

        vec3d force;
        vec3d torque;
    };

    // The engine's controller callback of one body: the sum of the game's
    // controllers, in the order they were added.
    class RigidBody : public neRigidBodyControllerCallback
    {
    public:
        void onControllerStep(neController* record, float stepLength) override;
        // Appends a controller; false when memory ran out. Main thread,
        // between step batches.
        bool addController(Controller* added);
        // Takes a controller out, keeping the others' order; false when it
        // was not there. Main thread, between step batches.
        bool removeController(Controller* removed);

        neRigidBody* body = nullptr;
        neController* controller = nullptr;
        DynArray<Controller*> controllers{4};
        uint32_t controllerCount = 0;
    };

    // Takes a rigid body of mass for owner while the owner's physics manager
    // has budget left (and hands the unit back when no body could be had);
    // without one the record has no body and its update does nothing. The
    // body's owner words are owner's entity manager and this record.
    Physics(Entity& owner, float mass);
    // release.
    virtual ~Physics();
    Physics(const Physics&) = delete;
    Physics& operator=(const Physics&) = delete;

    // The noise goes, the record leaves the manager's list, the body goes back
    // to the simulator and its unit to the budget. A second call does nothing.
    void release();
    // The frame's sync (no step batch runs): the controllers' sync, the
    // noise's frame step, then, when the body moved (or forceSync is set),
    // its pose into the entity, the rows scaled by scale, and the entity's
    // onMoved.
    void update();

    Entity* owner;
    PhysicsNoise* noise = nullptr; // owned
    RigidBody* rigidBody = nullptr; // null when no body was had
    CollisionHandler collisionHandler = nullptr;
    SCList<Physics>::Node* listNode = nullptr;
    // The last pose given to the entity.
    matrix3d pose = matrix3d::identity();
    vec3d scale{1.0f, 1.0f, 1.0f};
    // Non-zero: the next sync copies the pose even at rest.
    uint32_t forceSync = 0;
    // 1 while the last sync found no motion (the shadow maps of a caster
    // whose body rests stay as they are).
    uint32_t unchanged = 1;

private:
    PhysicsManager* manager_ = nullptr;
};
