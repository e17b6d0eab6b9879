#pragma once

#include "Physics/neGeometry.h"
#include "Physics/nePool.h"
#include "Physics/neRestingContact.h"

#include <cstdint>

class neSimulator;
class neRigidBody;
struct neConstraint;
struct neConstraintGroup;
struct neRegionEnd;
struct neRegionNode;

// A body's geometries as the collision pass sees them: the bounding box that
// encloses them all, the list and its count.
struct neCollisionView
{
    const neGeometry* bounds;
    neGeometry* geometries;
    int32_t count;
};

// A node of a body's constraint list.
struct neConstraintLink
{
    neConstraint* entry;
    neConstraintLink* next;
};

enum neBodyType : uint32_t
{
    neBodyAnimated = 0,
    neBodyRigid = 1, // rigid bodies and rigid particles
};

enum neRegionState : uint32_t
{
    neRegionSorted = 0,  // (or not in the region at all: then regionNode is null)
    neRegionPending = 1, // added, sorted in by the next update
    neRegionDropped = 2, // removed again before that update
};

// The common part of rigid bodies, rigid particles and animated bodies: the
// geometries with the box that bounds them in the body's frame, the body's
// world box and its ends in the broad phase, the lists it belongs to.
//
// Every operation here is called between steps (the owner waits for the end
// of a running step first); none of them takes a lock.
class neRigidBodyBase
{
public:
    // What every step reads comes first.
    uint32_t bodyType;
    uint32_t active;
    int32_t geometryCount;
    uint32_t customCollision;
    neSensor* sensorHead;
    matrix3d orientedBox; // rows: the bounding box's scaled axes, then its centre (body frame)
    vec3d minBound;       // world box
    vec3d maxBound;
    neRegionEnd* ends[6]; // upper x, y, z, then lower x, y, z
    neGeometry* geometryHead;
    float reach;            // the largest bounding radius of the geometries
    int32_t collisionGroup; // 0 .. 63, or -1 for none
    uint32_t id;            // pool index; animated bodies and particles follow the rigid bodies
    uint32_t regionState;
    neRegionNode* regionNode; // null while the body is not in the region
    neSimulator* simulator;
    neConstraintGroup* constraintGroup;
    uint32_t contactWords[2]; // read by the contact stage
    vec3d smoothedDisplacement;

    neGeometry boundingGeometry; // always a box in the body's frame
    // Node of the constraint group's member list.
    neRigidBodyBase* groupNext;
    neRigidBodyBase* groupPrev;
    neConstraintLink* constraintHead;
    neConstraintLink* constraintTail;
    uint32_t constraintCount;
    void* owner[2]; // the game's words (its render device and physics record)
    neList<neRestingContact> restingOnThis; // other bodies' contacts that rest on this one
    uint32_t spare;

    // Clears the common part (body type animated, active, unit bounding box).
    void reset();

    bool isRigid() const { return bodyType == neBodyRigid; }
    bool isParticle() const;
    // This body as a rigid body; only for isRigid() bodies.
    neRigidBody* asRigid();

    // The current pose: the animated transform, or the rigid body's current state.
    matrix3d* getTransform();

    // Velocity of the body's point at r from its centre (world axes); an
    // animated body counts as still.
    vec3d getVelocityAtPoint(const vec3d& r);

    neCollisionView collisionView() { return {&boundingGeometry, geometryHead, geometryCount}; }

    // A reset geometry at the end of the list, or null when the pool is empty.
    // An active body enters the region with its first geometry. The caller
    // sets shape and transform, then calls updateBounds.
    neGeometry* addGeometry();
    // 1 when removed; 0 when the geometry is not this body's.
    int removeGeometry(neGeometry* geometry);
    // Every geometry and sensor back to its pool; the body leaves the region.
    void releaseGeometries();

    // Recomputes reach, bounding box and oriented box after geometries or sensors changed.
    void updateBounds();
    // The world box from the oriented box and the current pose, into the body
    // and its region ends. Nothing for a body without geometry or custom collision.
    void updateRegionBounds();

    // Moves the body between its active and inactive list; only an active
    // body with geometry (or custom collision) is in the region.
    void switchActive();

    void leaveConstraintGroup();
    // Whether the two bodies' constraint lists hold a common entry.
    static int sharesConstraint(const neRigidBodyBase& x, const neRigidBodyBase& y);

    // Clears the contacts of other bodies that rest on this one, before this
    // body's record goes back to its pool.
    void dropRestingPartners();

    // Tests this body's sensors against the other side's geometries (boxes
    // and terrain triangles; other shapes are not seen): each sensor keeps the
    // deepest hit of the step. otherBody is null for the terrain.
    void collideSensors(const neCollisionView& other, neRigidBodyBase* otherBody, const matrix3d& otherTransform);

    bool collidable() const { return geometryCount > 0 || customCollision != 0; }
};

// A body the game places each frame; it moves others but is not moved.
class neAnimatedBody : public neRigidBodyBase
{
public:
    matrix3d transform;
    uint32_t moved; // set by the game when it moved the body; 0 counts as resting

    neAnimatedBody* next;
    neAnimatedBody* prev;
    uint32_t inUse;
};
