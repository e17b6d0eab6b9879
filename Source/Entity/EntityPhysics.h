#pragma once
// What the entity subsystem reads of an entity's physics record; the physics
// manager builds the rest of the record on it.

#include "Entity/EntityManager.h"

#include <atomic>
#include <cstdint>

class EntityManager::Physics
{
public:
    virtual ~Physics() = default;

    // Non-zero while the entity's body rests; written by the physics thread.
    // Shadow maps of moving casters stay live.
    std::atomic<uint32_t> resting{0};
};
