#pragma once

#include "Physics/nePool.h"

#include <cstdint>

class neRigidBody;
class neSimulator;
struct neStack;

// A rigid body's place in the stacks: bodies that rest on one another share
// a stack, which the solver settles as a whole; bodies that rest on the ground
// or on animated bodies alone are elements of the simulator's root stack. A
// record of the simulator's element pool.
struct neStackElement
{
    uint32_t walked;         // visited by the current stack walk
    uint32_t supportOnly;    // stacked only because something rests on the body
    uint32_t noValidContact; // the last contact validation found none
    neStack* stack;          // null while in none
    neRigidBody* body;
    uint32_t words[2];

    neStackElement* next;
    neStackElement* prev;
    uint8_t inUse;
};

// Bodies that rest on each other. A record of the simulator's stack pool (the
// root stack has the same form and is never freed).
struct neStack
{
    neSimulator* simulator;
    neList<neStackElement> elements;
    uint32_t root;
    uint32_t allAtRest;
    uint32_t queued; // queued for solving in this step

    neStack* next;
    neStack* prev;
    uint8_t inUse;

    // Links the element after the last one and records the stack in it.
    void append(neStackElement* element)
    {
        elements.pushBack(element);
        element->stack = this;
    }
    void remove(neStackElement* element)
    {
        elements.remove(element);
        element->stack = nullptr;
    }
};
