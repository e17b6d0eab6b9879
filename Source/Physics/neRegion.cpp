#include "Physics/neRegion.h"

#include "Physics/neRigidBody.h"
#include "Physics/neSimulator.h"

#include <utility>

namespace
{

// Order of the axis lists, largest value first. At equal values a lower end
// comes before an upper end, so that boxes which only touch never count as
// overlapping, whether they were sorted in that way or moved there.
bool precedes(const neRegionEnd* a, const neRegionEnd* b)
{
    return a->value > b->value || (a->value == b->value && a->side == neRegionEnd::lower && b->side == neRegionEnd::upper);
}

bool bothParticles(const neRigidBodyBase* a, const neRigidBodyBase* b) { return a->isParticle() && b->isParticle(); }

template <class T>
T* allocArray(neAllocatorAbstract& allocator, size_t count)
{
    if (count == 0 || count > SIZE_MAX / sizeof(T))
        return nullptr;
    T* p = static_cast<T*>(allocator.alloc(sizeof(T) * count, 0));
    if (p)
        for (size_t i = 0; i < count; ++i)
            new (p + i) T();
    return p;
}

} // namespace

void neRegion::build(neSimulator* sim, neAllocatorAbstract& allocator, int32_t rigid, int32_t animated,
                     int32_t particles, int32_t pairs)
{
    simulator = sim;
    rigidCount = rigid > 0 ? rigid : 0;
    animatedCount = animated > 0 ? animated : 0;
    particleCount = particles > 0 ? particles : 0;
    bodyCount = rigidCount + animatedCount;
    const size_t n = size_t(bodyCount);
    const int32_t all = bodyCount + particleCount;

    triangleTable = allocArray<PairRecord>(allocator, n * (n ? n - 1 : 0) / 2);
    rectangleTable = allocArray<PairRecord>(allocator, n * size_t(particleCount));
    pending = allocArray<Pending>(allocator, size_t(all));
    pendingCapacity = pending ? all : 0;
    pendingUsed = 0;
    nodePool.build(allocator, all);
    pairPool.build(allocator, pairs);
    for (int k = 0; k < 3; ++k) {
        axes[k].pool.build(allocator, 2 * all);
        axes[k].index = k;
        axes[k].bit = uint8_t(1 << k);
    }
}

void neRegion::release(neAllocatorAbstract& allocator)
{
    for (Axis& a : axes) {
        a.pool.release(allocator);
        a.list.clear();
    }
    pairPool.release(allocator);
    nodePool.release(allocator);
    if (pending)
        allocator.free(pending);
    if (rectangleTable)
        allocator.free(rectangleTable);
    if (triangleTable)
        allocator.free(triangleTable);
    pending = nullptr;
    rectangleTable = triangleTable = nullptr;
    pendingCapacity = pendingUsed = 0;
}

neRegion::PairRecord* neRegion::pairRecord(const neRigidBodyBase* x, const neRigidBodyBase* y)
{
    uint32_t lo = x->id, hi = y->id;
    if (lo > hi)
        std::swap(lo, hi);
    if (hi < uint32_t(bodyCount))
        return triangleTable ? &triangleTable[size_t(hi) * (hi - 1) / 2 + lo] : nullptr;
    if (lo >= uint32_t(bodyCount) || !rectangleTable)
        return nullptr;
    return &rectangleTable[size_t(lo) * particleCount + (hi - bodyCount)];
}

bool neRegion::addBody(neRigidBodyBase* body, neRigidBodyBase* hint)
{
    if (body->regionNode)
        return true;
    if (pendingUsed >= pendingCapacity)
        return false;
    neRegionNode* node = nodePool.takeListed();
    if (!node)
        return false;
    node->body = body;
    pending[pendingUsed++] = {body, hint};
    body->regionNode = node;
    body->regionState = neRegionPending;
    return true;
}

void neRegion::dropPending(neRigidBodyBase* body)
{
    int32_t kept = 0;
    for (int32_t i = 0; i < pendingUsed; ++i)
        if (pending[i].body != body)
            pending[kept++] = pending[i];
    pendingUsed = kept;
}

void neRegion::removeBody(neRigidBodyBase* body)
{
    if (!body->regionNode)
        return;
    // A body still waiting for its first update has no ends yet; dropping its
    // entry keeps a later add from queueing it twice.
    if (body->regionState == neRegionPending) {
        body->regionState = neRegionDropped;
        dropPending(body);
    }
    for (Axis& a : axes) {
        for (int side = 0; side < 2; ++side) {
            neRegionEnd*& e = body->ends[a.index + (side == neRegionEnd::upper ? 0 : 3)];
            if (!e)
                continue;
            a.list.remove(e);
            a.pool.give(e);
            e = nullptr;
        }
    }
    nodePool.giveListed(body->regionNode);
    body->regionNode = nullptr;
    for (neOverlapPair* p = pairPool.used.head; p;) {
        neOverlapPair* next = p->next;
        if (p->bodyA == body || p->bodyB == body)
            pairPool.giveListed(p);
        p = next;
    }
}

neOverlapPair* neRegion::takePair(neRigidBodyBase* a, neRigidBodyBase* b)
{
    neOverlapPair* p = pairPool.takeListed();
    if (p) {
        p->bodyA = a;
        p->bodyB = b;
    }
    return p;
}

void neRegion::crossing(neRigidBodyBase* passed, neRigidBodyBase* moving, uint8_t bit)
{
    PairRecord* r = pairRecord(passed, moving);
    if (!r)
        return;
    if (r->flags == axisMask) {
        r->flags ^= bit;
        if (r->pair) {
            pairPool.giveListed(r->pair);
            r->pair = nullptr;
        }
        return;
    }
    r->flags ^= bit;
    if (r->flags != axisMask || simulator->pairResponse(*passed, *moving) == 0)
        return;
    if (pairPool.freeCount() == 0) {
        simulator->log("Overlap Pair buffer full. Increase buffer size.\n");
        return;
    }
    r->pair = takePair(passed, moving);
}

void neRegion::sortAxis(Axis& axis)
{
    neList<neRegionEnd>& list = axis.list;
    neRegionEnd* old = list.tail;
    if (!old)
        return;
    // The new list grows from the old list's last end towards its first.
    neRegionEnd* first = old;
    neRegionEnd* last = old;
    old = old->prev;
    first->prev = first->next = nullptr;
    while (old) {
        neRegionEnd* n = old;
        old = old->prev;
        neRegionEnd* c = first;
        for (;;) {
            const bool own = c->body == n->body;
            if (own ? n->side == neRegionEnd::upper : !precedes(c, n)) {
                n->next = c;
                n->prev = c->prev;
                if (c->prev)
                    c->prev->next = n;
                else
                    first = n;
                c->prev = n;
                break;
            }
            if (!own && c->side != n->side && !bothParticles(c->body, n->body))
                crossing(c->body, n->body, axis.bit);
            if (!c->next) {
                c->next = n;
                n->prev = c;
                n->next = nullptr;
                last = n;
                break;
            }
            c = c->next;
        }
    }
    list.head = first;
    list.tail = last;
}

void neRegion::insertEnds(Axis& axis, neRigidBodyBase* body, neRigidBodyBase* hint)
{
    neRegionEnd* lo = axis.pool.take();
    neRegionEnd* hi = axis.pool.take();
    if (!lo || !hi) {
        if (lo)
            axis.pool.give(lo);
        if (hi)
            axis.pool.give(hi);
        return;
    }
    // (A body is no hint for itself.)
    neRegionEnd* hintEnd = hint && hint != body ? hint->ends[axis.index + 3] : nullptr;
    lo->side = neRegionEnd::lower;
    hi->side = neRegionEnd::upper;
    lo->body = hi->body = body;
    lo->value = body->minBound[axis.index];
    hi->value = body->maxBound[axis.index];
    body->ends[axis.index] = hi;
    body->ends[axis.index + 3] = lo;

    neList<neRegionEnd>& list = axis.list;
    if (hintEnd && hint->minBound[axis.index] != 0.0f) {
        // From the hint's lower end: forward past what precedes the new lower
        // end, or back to the first end that does.
        neRegionEnd* c = hintEnd;
        if (precedes(c, lo)) {
            while (c && precedes(c, lo))
                c = c->next;
            c ? list.insertBefore(c, lo) : list.pushBack(lo);
        } else {
            while (c && !precedes(c, lo))
                c = c->prev;
            c ? list.insertAfter(c, lo) : list.pushFront(lo);
        }
        c = lo->prev;
        while (c && !precedes(c, hi))
            c = c->prev;
        c ? list.insertAfter(c, hi) : list.pushFront(hi);
        return;
    }
    neRegionEnd* c = list.head;
    while (c && precedes(c, hi))
        c = c->next;
    c ? list.insertBefore(c, hi) : list.pushBack(hi);
    c = hi->next;
    while (c && precedes(c, lo))
        c = c->next;
    c ? list.insertBefore(c, lo) : list.pushBack(lo);
}

void neRegion::testNewPair(neRigidBodyBase* s, neRigidBodyBase* o)
{
    PairRecord* r = pairRecord(s, o);
    if (!r)
        return;
    uint8_t flags = 0;
    for (const Axis& a : axes) {
        const neRegionEnd* sHi = s->ends[a.index];
        const neRegionEnd* sLo = s->ends[a.index + 3];
        const neRegionEnd* oHi = o->ends[a.index];
        const neRegionEnd* oLo = o->ends[a.index + 3];
        if (sHi && sLo && oHi && oLo && oHi->value > sLo->value && oLo->value < sHi->value)
            flags |= a.bit;
    }
    r->flags = flags;
    r->pair = nullptr;
    // Recorded whatever the groups say: the contact stage asks the response
    // tables every step, so a table changed while the two overlap takes
    // effect at once.
    if (flags != axisMask)
        return;
    const bool sFirst = (s->isRigid() && !s->isParticle()) || (s->isParticle() && !o->isRigid());
    r->pair = sFirst ? takePair(s, o) : takePair(o, s);
}

void neRegion::update()
{
    for (Axis& a : axes)
        sortAxis(a);

    for (int32_t i = 0; i < pendingUsed; ++i) {
        neRigidBodyBase* body = pending[i].body;
        if (body->regionState != neRegionPending || !body->regionNode)
            continue;
        body->regionState = neRegionSorted;
        body->updateRegionBounds();
        for (Axis& a : axes)
            insertEnds(a, body, pending[i].hint);
        for (neRegionNode* n = nodePool.used.head; n; n = n->next) {
            neRigidBodyBase* other = n->body;
            if (other != body && other->ends[0] && !bothParticles(body, other))
                testNewPair(body, other);
        }
    }
    pendingUsed = 0;
}
