#pragma once

#include "Physics/nePool.h"

#include <cstdint>

class neRigidBodyBase;
class neSimulator;

// One end of a body's box on one axis.
struct neRegionEnd
{
    enum : uint8_t
    {
        lower = 0,
        upper = 1,
    };
    float value;
    uint8_t side;
    uint8_t inUse;
    neRigidBodyBase* body;
    neRegionEnd* prev;
    neRegionEnd* next;
};
static_assert(sizeof(neRegionEnd) <= 32, "two ends to a cache line");

// A body's entry in the region's body list.
struct neRegionNode
{
    neRigidBodyBase* body;
    neRegionNode* next;
    neRegionNode* prev;
    uint8_t inUse;
};

// Two bodies whose world boxes overlap: what the contact stage tests.
struct neOverlapPair
{
    neRigidBodyBase* bodyA;
    neRigidBodyBase* bodyB;
    neOverlapPair* next;
    neOverlapPair* prev;
    uint8_t inUse;
};

// The broad phase: every body with collision geometry, sorted by the ends of
// its world box along x, y and z, and the list of pairs whose boxes overlap
// strictly on all three axes. Each update re-sorts the nearly sorted axis
// lists by insertion; every lower end passing an upper end of another body
// flips that pair's bit of the axis, and a pair gets an overlap record when
// its last bit is set and gives it back when a bit clears.
//
// All storage is taken once by build; nothing is allocated afterwards.
// addBody and removeBody are called between steps, update inside a step.
class neRegion
{
public:
    neRegion() = default;
    neRegion(const neRegion&) = delete;
    neRegion& operator=(const neRegion&) = delete;

    // rigid, animated and particle counts fix the body ids; pairs sizes the
    // overlap-pair pool. A failed allocation leaves that table or pool empty.
    void build(neSimulator* simulator, neAllocatorAbstract& allocator, int32_t rigid, int32_t animated,
               int32_t particles, int32_t pairs);
    void release(neAllocatorAbstract& allocator);

    // Queues the body for the next update; true at once for a body already in
    // the region; false when the pending list or the body list is full. The
    // hint, a body that lies near, speeds up the insertion of its ends.
    bool addBody(neRigidBodyBase* body, neRigidBodyBase* hint);
    // Takes the body's ends out and frees every overlap record that names it.
    void removeBody(neRigidBodyBase* body);
    // Once per step, after the bodies' world boxes were updated.
    void update();

    // The pairs of overlapping bodies, in no particular order.
    const neList<neOverlapPair>& overlapPairs() const { return pairPool.used; }
    const nePool<neOverlapPair>& overlapPairPool() const { return pairPool; }
    // The bodies in the region (sorted in or pending).
    const neList<neRegionNode>& bodies() const { return nodePool.used; }
    // Axis k's ends, largest value first.
    const neList<neRegionEnd>& axisList(int k) const { return axes[k].list; }
    const nePool<neRegionEnd>& axisPool(int k) const { return axes[k].pool; }
    int32_t pendingCount() const { return pendingUsed; }

private:
    struct PairRecord
    {
        uint8_t flags; // bit k: the boxes overlap on axis k
        neOverlapPair* pair;
    };
    struct Pending
    {
        neRigidBodyBase* body;
        neRigidBodyBase* hint;
    };
    struct Axis
    {
        nePool<neRegionEnd> pool;
        neList<neRegionEnd> list; // non-increasing values from head to tail
        int index;
        uint8_t bit;
    };

    PairRecord* pairRecord(const neRigidBodyBase* x, const neRigidBodyBase* y);
    void sortAxis(Axis& axis);
    void crossing(neRigidBodyBase* passed, neRigidBodyBase* moving, uint8_t bit);
    void insertEnds(Axis& axis, neRigidBodyBase* body, neRigidBodyBase* hint);
    void testNewPair(neRigidBodyBase* body, neRigidBodyBase* other);
    neOverlapPair* takePair(neRigidBodyBase* a, neRigidBodyBase* b);
    void dropPending(neRigidBodyBase* body);

    static constexpr uint8_t axisMask = 7;
    neSimulator* simulator = nullptr;
    int32_t rigidCount = 0;
    int32_t animatedCount = 0;
    int32_t bodyCount = 0; // rigid and animated
    int32_t particleCount = 0;
    PairRecord* triangleTable = nullptr;
    PairRecord* rectangleTable = nullptr;
    Pending* pending = nullptr;
    int32_t pendingCapacity = 0;
    int32_t pendingUsed = 0;
    nePool<neRegionNode> nodePool;
    nePool<neOverlapPair> pairPool;
    Axis axes[3];
};
