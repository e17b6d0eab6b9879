#pragma once

#include "Physics/nePool.h"
#include "Physics/neRigidBodyBase.h"

#include <cstdint>

struct neConstraint;

// Bodies joined by constraints, or gathered by the solver for one stack: a
// record of the simulator's constraint-group pool. The members are linked
// through their own group links and point back through constraintGroup.
struct neConstraintGroup
{
    enum : uint32_t
    {
        stateFresh = 1,      // built, or emptied by the solver
        stateMemberLeft = 2, // a member has left since
    };
    using MemberList = neList<neRigidBodyBase, &neRigidBodyBase::groupNext, &neRigidBodyBase::groupPrev>;

    neConstraint* first = nullptr;
    uint32_t spare = 0;
    uint32_t built = 0;
    uint32_t state = stateFresh;
    MemberList members;

    neConstraintGroup* next = nullptr;
    neConstraintGroup* prev = nullptr;
    uint8_t inUse = 0;

    // Makes a body that is in no group the last member.
    void appendMember(neRigidBodyBase* body)
    {
        members.pushBack(body);
        body->constraintGroup = this;
    }

    // Appends the rows of every enabled constraint to the simulator's row
    // array and queues the stacks of their bodies; the smallest positive
    // tolerance (-1 without one) and the largest iteration count come back.
    void buildRows(float& tolerance, int32_t& iterations);
    // Applies the pending corrections of every rigid member.
    void applyCorrections();
    // Lets every member go (members are rigid bodies) and starts afresh.
    void clearMembers();
};
