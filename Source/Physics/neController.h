#pragma once

#include "Core/Vector.h"

#include <cstdint>

class neRigidBody;
struct neController;
struct neConstraint;

// The owner's side of a controller: called on the stepping thread inside a
// step, it writes the force and torque that the controller adds to its body
// in every step until the next call.
class neRigidBodyControllerCallback
{
public:
    virtual ~neRigidBodyControllerCallback() = default;
    virtual void onControllerStep(neController* controller, float stepLength) = 0;
};

// A record of the simulator's controller pool, in its body's controller list.
// The callback runs when the countdown is 0, which then restarts at the period.
struct neController
{
    uint32_t period;
    uint32_t countdown;
    neRigidBodyControllerCallback* callback;
    neRigidBodyControllerCallback* constraintCallback; // a joint's controller
    neConstraint* constraint;
    neRigidBody* body;
    vec3d force;
    vec3d torque;
    vec3d forceB; // on a constraint's second body
    vec3d torqueB;

    neController* next;
    neController* prev;
    uint8_t inUse;
};
