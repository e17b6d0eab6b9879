#include "Physics/neRigidBodyBase.h"

#include "Physics/neRigidBody.h"
#include "Physics/neSimulator.h"

void neRigidBodyBase::reset()
{
    groupNext = groupPrev = nullptr;
    constraintHead = constraintTail = nullptr;
    constraintCount = 0;
    owner[0] = owner[1] = nullptr;
    boundingGeometry.reset();
    geometryHead = nullptr;
    geometryCount = 0;
    reach = 0.0f;
    collisionGroup = 0;
    constraintGroup = nullptr;
    bodyType = neBodyAnimated;
    active = 1;
    contactWords[0] = contactWords[1] = 0;
    sensorHead = nullptr;
    regionState = neRegionSorted;
    regionNode = nullptr;
    simulator = nullptr;
    orientedBox = matrix3d::identity();
    customCollision = 0;
    minBound = maxBound = {};
    for (neRegionEnd*& e : ends)
        e = nullptr;
    smoothedDisplacement = {};
    restingOnThis.clear();
    spare = 0;
}

bool neRigidBodyBase::isParticle() const
{
    return isRigid() && static_cast<const neRigidBody*>(this)->particle != 0;
}

neRigidBody* neRigidBodyBase::asRigid() { return static_cast<neRigidBody*>(this); }

matrix3d* neRigidBodyBase::getTransform()
{
    if (isRigid())
        return &asRigid()->state().transform;
    return &static_cast<neAnimatedBody*>(this)->transform;
}

vec3d neRigidBodyBase::getVelocityAtPoint(const vec3d& r)
{
    if (!isRigid())
        return {};
    const neRigidBody* b = asRigid();
    return b->velocity + b->angularVelocity.cross(r);
}

neGeometry* neRigidBodyBase::addGeometry()
{
    neGeometry* g = simulator->geometries.take();
    if (!g) {
        simulator->log("Run out of Geometries. Increase 'geometriesCount'.\n");
        return nullptr;
    }
    g->reset();
    g->next = nullptr;
    g->prev = nullptr;
    if (!geometryHead) {
        geometryHead = g;
    } else {
        neGeometry* last = geometryHead;
        while (last->next)
            last = last->next;
        last->next = g;
        g->prev = last;
    }
    ++geometryCount;
    if (active && !regionNode)
        simulator->region.addBody(this, nullptr);
    return g;
}

int neRigidBodyBase::removeGeometry(neGeometry* geometry)
{
    neGeometry* g = geometryHead;
    while (g && g != geometry)
        g = g->next;
    if (!g)
        return 0;
    if (g->prev)
        g->prev->next = g->next;
    else
        geometryHead = g->next;
    if (g->next)
        g->next->prev = g->prev;
    simulator->geometries.give(g);
    if (--geometryCount == 0) {
        geometryHead = nullptr;
        if (regionNode && !customCollision)
            simulator->region.removeBody(this);
    }
    return 1;
}

void neRigidBodyBase::releaseGeometries()
{
    while (sensorHead) {
        neSensor* s = sensorHead;
        sensorHead = s->next;
        simulator->sensors.give(s);
    }
    while (geometryHead) {
        neGeometry* g = geometryHead;
        geometryHead = g->next;
        simulator->geometries.give(g);
    }
    geometryCount = 0;
    if (regionNode)
        simulator->region.removeBody(this);
}

namespace
{

void growBox(vec3d& lo, vec3d& hi, const vec3d& p)
{
    for (int k = 0; k < 3; ++k) {
        if (p[k] < lo[k])
            lo[k] = p[k];
        if (p[k] > hi[k])
            hi[k] = p[k];
    }
}

void setAxisAlignedBox(neGeometry& box, const vec3d& lo, const vec3d& hi)
{
    const vec3d h = (hi - lo) * 0.5f;
    box.shape.box = {h.x, h.y, h.z};
    box.transform = matrix3d::identity();
    neSetRow(box.transform, 3, lo + h);
}

} // namespace

void neRigidBodyBase::updateBounds()
{
    reach = 0.0f;
    for (const neGeometry* g = geometryHead; g; g = g->next) {
        const float r = g->boundingRadius();
        if (r > reach)
            reach = r;
    }

    // A lone box bounds itself, axes and all; anything else gets an axis-aligned
    // box in the body's frame around every geometry and sensor. Growing a lone
    // rotated box by its sensors would keep its axes with extents that no
    // longer enclose it, so with sensors it is bounded like the rest.
    if (geometryCount == 1 && geometryHead->type == neShapeBox && !sensorHead) {
        boundingGeometry.shape = geometryHead->shape;
        boundingGeometry.transform = geometryHead->transform;
        boundingGeometry.radius = geometryHead->radius;
        boundingGeometry.radius2 = geometryHead->radius2;
    } else {
        vec3d lo{1e6f, 1e6f, 1e6f}, hi{-1e6f, -1e6f, -1e6f};
        for (const neGeometry* g = geometryHead; g; g = g->next)
            g->growBodyBox(lo, hi);
        for (const neSensor* s = sensorHead; s; s = s->next) {
            growBox(lo, hi, s->start);
            growBox(lo, hi, s->start + s->vector);
        }
        setAxisAlignedBox(boundingGeometry, lo, hi);
    }

    const vec3d h = boundingGeometry.halfExtents();
    for (int i = 0; i < 3; ++i)
        neSetRow(orientedBox, i, neAxis(boundingGeometry.transform, i) * h[i]);
    neSetRow(orientedBox, 3, boundingGeometry.position());
    if (isRigid())
        asRigid()->boundsFresh = 0;
}

void neRigidBodyBase::updateRegionBounds()
{
    if (!collidable())
        return;
    const float* r = getTransform()->m;
    const float* o = orientedBox.m;
    // Centre and half extents of the oriented box carried into world axes.
    float c[3], e[3];
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        c[k] = r[12 + k] + o[12] * r[k] + o[13] * r[4 + k] + o[14] * r[8 + k];
        e[k] = absFloat(o[0] * r[k] + o[1] * r[4 + k] + o[2] * r[8 + k])
               + absFloat(o[4] * r[k] + o[5] * r[4 + k] + o[6] * r[8 + k])
               + absFloat(o[8] * r[k] + o[9] * r[4 + k] + o[10] * r[8 + k]);
    }
    minBound = {c[0] - e[0], c[1] - e[1], c[2] - e[2]};
    maxBound = {c[0] + e[0], c[1] + e[1], c[2] + e[2]};
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        if (ends[k])
            ends[k]->value = c[k] + e[k];
        if (ends[k + 3])
            ends[k + 3]->value = c[k] - e[k];
    }
}

void neRigidBodyBase::switchActive()
{
    neSimulator& sim = *simulator;
    if (isRigid()) {
        neRigidBody* body = asRigid();
        neList<neRigidBody>& on = body->particle ? sim.activeParticles : sim.activeRigidBodies;
        neList<neRigidBody>& off = body->particle ? sim.inactiveParticles : sim.inactiveRigidBodies;
        (active ? on : off).remove(body);
        (active ? off : on).pushBack(body);
    } else {
        neAnimatedBody* body = static_cast<neAnimatedBody*>(this);
        neList<neAnimatedBody>& from = active ? sim.activeAnimatedBodies : sim.inactiveAnimatedBodies;
        neList<neAnimatedBody>& to = active ? sim.inactiveAnimatedBodies : sim.activeAnimatedBodies;
        from.remove(body);
        to.pushBack(body);
    }
    if (active) {
        if (regionNode)
            sim.region.removeBody(this);
        active = 0;
    } else {
        active = 1;
        if (collidable())
            sim.region.addBody(this, nullptr);
    }
}

void neRigidBodyBase::leaveConstraintGroup()
{
    neConstraintGroup* group = constraintGroup;
    if (!group)
        return;
    group->members.remove(this);
    group->state = neConstraintGroup::stateMemberLeft;
    constraintGroup = nullptr;
    nePool<neConstraintGroup>& pool = simulator->constraintGroups;
    if (group->members.count == 0 && pool.used.count > 0 && pool.holds(group))
        pool.giveListed(group);
}

void neRigidBodyBase::dropRestingPartners()
{
    while (restingOnThis.head)
        restingOnThis.head->owner->clearRestingContact(*restingOnThis.head);
}
