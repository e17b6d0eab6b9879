#pragma once
// The instances of the pick-up (Collect, flag 0x8) and gate (Gate, flag 0x40)
// functions on a dynamic object.
//
// A pick-up is shown until a vehicle's inventory takes it: then it is hidden
// for 3000 ms and pops back in over 500 ms, overshooting a little before it
// settles (the pop-in scales the object only while a spin function rebuilds
// its rotation every frame). An item the inventory carries (the capture
// flag) stays as the race leaves it. Deadlines read the race clock.
//
// A gate shows its marker mesh only while the race marks it as the gate to
// pass next.
//
// Main thread only.

#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include <cstdint>

class DynObject;

class ObjPkgManager::Functions::Collect::Instance final : public ObjectFuncInstInterface
{
public:
    enum State : int32_t { shown = 0, taken = 1, returning = 2, carried = 3 };

    static constexpr uint32_t hiddenTime = 3000; // ms
    static constexpr uint32_t returnTime = 500;  // ms
    // The item value of the carried flag, whose parts no vehicle's queries
    // may hit.
    static constexpr uint32_t flagValue = 5;
    static constexpr int32_t noItem = -1;

    // Puts the owner's placed object in the distance-hidden state unless it
    // was made with its flag; the flag's sub-entities leave the queries'
    // levels.
    Instance(Collect* collect, DynObject* owner);

    // Takes a shown item: hides it and returns its value; noItem for an item
    // already taken, returning or carried, or without owner.
    int32_t collect();
    // Hides a taken item until its time is up, then pops it back in.
    void update() override;

    // The factor the pop-in scales by with remaining milliseconds of the
    // 500: 0 at the start, about 1.1 past the middle, 1 at the end.
    static float popInFactor(int32_t remaining);

    Collect* collectTemplate;
    DynObject* owner;
    uint32_t deadline = 0; // race clock
    int32_t state = shown;
};

class ObjPkgManager::Functions::Gate::Instance final : public ObjectFuncInstInterface
{
public:
    // Finds the marker and hides it: a gate starts unmarked.
    Instance(Gate* gate, D3D::Device::SwapChain* swapChain, DynObject* owner);

    // Shows the marker while on, hides it otherwise; nothing without one.
    void setMarked(bool on);

    Gate* gateTemplate;
    D3D::Device::SwapChain* swapChain;
    DynObject* owner;
    // The last of the owner's sub-entities drawn from the template's mesh, or
    // null (no mesh named, or none of the owner's parts draws it).
    EntityManager::SubEntity* marker = nullptr;
};
