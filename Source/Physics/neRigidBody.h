#pragma once

#include "Physics/neController.h"
#include "Physics/neRigidBodyBase.h"

struct neStackElement;

// One of a rigid body's two state records.
struct neBodyState
{
    quaternion orientation;
    float spare[3];
    vec3d angularMomentum;
    matrix3d transform; // rotation rows from the orientation; row 3 the centre of mass
};

// The pose against which rest is judged (with the body's stepsSinceSaved).
struct neSavedPose
{
    vec3d position;
    quaternion orientation;
    vec3d velocity;
    vec3d angularVelocity;
};

enum neRestState : uint32_t
{
    neMoving = 0,
    neAtRest = 1,
    neSkipVelocity = 2, // the velocity update leaves the body alone; integration still moves it
};

// A dynamic body (or a rigid particle): mass, inertia, forces, the state that
// the steps integrate, and the rest bookkeeping. A record of the simulator's
// rigid-body (or particle) pool.
//
// The game calls the operations between steps; the step calls the motion
// operations on the stepping thread.
class neRigidBody : public neRigidBodyBase
{
public:
    // What every step reads comes first, and what the step of a body held at
    // rest reads first of all.
    uint32_t restState;
    uint32_t stateIndex;
    uint32_t stepWord;
    uint32_t stepped; // set for every active body by the integration stage
    uint32_t particle;
    uint32_t gravityOn;
    int32_t stepsSinceSaved; // steps since the pose was saved
    int32_t linearCorrectionCount;
    int32_t angularCorrectionCount;
    uint32_t historiesClear; // the four histories are all zero (set when the motion is stopped)
    uint32_t boundsFresh;    // the world box holds the pose (a body at rest keeps it from step to step)
    float stoppedValue;
    neStackElement* stackElement;
    vec3d linearCorrection;
    vec3d angularCorrection;
    vec3d controllerForce; // gathered at the end of a step, used by the next
    vec3d controllerTorque;
    vec3d totalForce;
    vec3d totalTorque;
    vec3d velocity;
    vec3d angularVelocity;
    vec3d gravityForce;
    quaternion quaternionRate;
    neList<neController> controllers;
    neBodyState states[2];
    float mass;
    float inverseMass;
    float linearDamping;
    float angularDamping;
    vec3d externalForce; // act in every step until changed
    vec3d externalTorque;
    vec3d acceleration;
    neSavedPose saved;
    neM3 worldInverseInertia;
    neM3 inverseInertiaBody;
    int32_t restCounter;
    float restTolerance; // position tolerance of the rest test

    neM3 inertiaBody;
    uint32_t solverMark;
    uint32_t separated; // set by the contact stage when it pushed the body out of an overlap
    uint32_t solverWord;
    uint32_t solverSeen;
    neContactRecord contact;
    vec3d velocityChanges[neHistoryLength];
    vec3d angularChanges[neHistoryLength];

    neRigidBody* next;
    neRigidBody* prev;
    uint32_t inUse;

    // Body type rigid, unit mass and inertia, identity pose, no motion, no
    // controllers; the pose is saved.
    void reset();

    neBodyState& state() { return states[stateIndex]; }
    const neBodyState& state() const { return states[stateIndex]; }
    vec3d position() const { return nePosition(state().transform); }

    // --- operations used by the game ---

    // Places the body; the orientation comes from the transform's rotation rows.
    void setPose(const matrix3d& transform);
    void setInertiaTensor(const vec3d& diagonal);
    void applyImpulse(const vec3d& impulse);
    void applyImpulseAtPosition(const vec3d& impulse, const vec3d& position);
    // A controller at the end of the list (period 0: called every step), or
    // null when the pool is empty. It goes back to the pool with the body.
    neController* addController(neRigidBodyControllerCallback* callback);

    // --- motion within a step ---

    void advanceVelocity(float dt);
    void advanceAngularMomentum(const vec3d& torque, float dt);
    void advancePosition(float dt);
    void gatherForces();
    void updateDerived();
    void setAngularMomentum(const vec3d& angularMomentum);
    int applyImpulseAtArm(const vec3d& impulse, const vec3d& arm);
    void applyLinearCorrection();
    void applyAngularCorrection();

    // --- rest and wake ---

    void savePose();
    void clearRest();
    // Clears the rest of this body, or of every rigid member of its constraint group.
    void wakeUp();
    void putToRest();
    void stopMotion();

    // --- resting contacts ---

    // Fills a contact before it is recorded (points in this body's and the
    // partner's frame, the normal in the partner's frame; the depth orders it
    // for replacement).
    static void setRestingContact(neRestingContact& contact, neRigidBodyBase* partner, const vec3d& bodyPoint,
                                  const vec3d& partnerPoint, uint32_t material0, uint32_t material1,
                                  const vec3d& partnerNormal, float depth);
    // Takes the contact into the slot at the same place, else the last empty
    // slot, else the slot that orders lowest.
    void recordRestingContact(const neRestingContact& contact);
    void fillRestingContact(neRestingContact& slot, const neRestingContact& contact);
    void clearRestingContact(neRestingContact& slot);
    // The partner's contact point in world coordinates, with the slot's world normal.
    vec3d refreshRestingContact(neRestingContact& slot);
    // World points, difference, separation and slide from both bodies' poses.
    void updateRestingContact(neRestingContact& slot);
    static bool isPartnerResting(const neRestingContact& slot);

    // --- rest and stacks ---

    // For a body at rest, at the start of its velocity update: 1 while it is
    // quiet and supported (its motion is stopped again), else 0; a body that
    // moves leaves rest.
    int restTest();
    // For a moving body in no constraint group, before it is integrated:
    // counts its quiet steps and puts it to rest once it lies still on its supports.
    void countRest();
    // How well the resting contacts carry the body against its total force:
    // 3 the force is zero or three contacts surround the centre of mass, 2 two
    // contacts in line with it, 1 one contact under it, 0 none of these.
    int supportTest();
    // 1 when the body has kept its saved pose for 60 steps; else the pose is saved again.
    int checkStillAtRest();
    // 1 while two or three resting contacts still meet their partners' points.
    int checkContactDrift();
    // The resting contacts that still hold (bad ones are removed).
    int validateRestingContacts();
    // Turns the resting contacts into solver records; force keeps rows of
    // resting sides. The number of contacts in use comes back.
    int collectRestingContacts(bool force);
    // Records a resting contact of this body on its partner and joins the
    // stacks of the two.
    void addToStack(const neRestingContact& contact);
    void releaseStackElement();
    // Queues the body's stack for solving (a body alone on the ground has its
    // resting contacts collected at once).
    void queueStack();

    // Returns geometries, sensors and controllers to their pools, leaves the
    // constraint group and clears the resting contacts (the simulator frees the body next).
    void release();
};
