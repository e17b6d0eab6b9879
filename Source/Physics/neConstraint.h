#pragma once

#include "Physics/neController.h"
#include "Physics/neMath.h"
#include "Physics/nePool.h"

#include <cstdint>

class neSimulator;
class neRigidBody;
class neRigidBodyBase;
struct neCollisionResult;

enum neConstraintType : uint32_t
{
    neBallJoint = 0,
    neHinge = 2,
    neSlide = 3,
};

// A limit of a joint: while active, how far the joint's measure lies past it.
struct neConstraintLimit
{
    uint32_t active;
    uint32_t atLower; // the lower limit is the one passed
    uint32_t enabled;
    float violation;
    float upper;
    float lower; // (the twist limit of a ball joint keeps its limit here)
    struct neConstraint* constraint;
};

struct neConstraintMotor
{
    uint32_t enabled;
    uint32_t spare;
    float targetSpeed;
    float maximum; // the largest force or torque it may use
};

// A joint between a rigid body A and a body B, or the world when B is null: a
// record of the simulator's constraint pool, chained into its constraint
// group. Each frame is a transform in its body (the frame in B is a world
// transform without B); the joint holds the frames' points together:
// pointCount points at pointOffsets in both frames. A ball joint holds one
// point, a hinge its points on the frames' y axes (the hinge axis), a slide
// lets A's points run along B's y axis.
struct neConstraint
{
    matrix3d frameA;
    matrix3d frameB;
    matrix3d worldFrameA; // rewritten each step
    matrix3d worldFrameB;
    neSimulator* simulator;
    neList<neController> controllers;
    neRigidBody* bodyA;
    neRigidBodyBase* bodyB;
    int32_t pointCount; // at most maxPoints
    vec3d pointOffsets[3];
    vec3d worldPointsA[3];
    vec3d worldPointsB[3];
    uint32_t enabled;
    float tolerance;
    int32_t iterations;
    float measure[2]; // a hinge's angle over 0 .. 2 pi and over -pi .. pi; a ball joint's swing; a slide's travel
    vec3d axis;
    float damping; // of the relative turning, per step
    neConstraintLimit limit;
    neConstraintLimit twistLimit;
    neConstraintMotor motor;
    uint32_t type;
    neConstraint* nextInGroup;

    neConstraint* next;
    neConstraint* prev;
    uint8_t inUse;

    static constexpr int maxPoints = 3;

    // Brakes the bodies' relative turning (about the hinge axis for a hinge)
    // through their total torque.
    void dampRotation();
    // The world frames, points and measures from the bodies' current poses.
    void update();
    // Appends the joint's rows to the simulator's row array.
    void buildRows();
    // Steps the joint's own controllers and adds their forces to A and B.
    void stepControllers();
};
