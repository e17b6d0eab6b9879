// When a body lies still on its supports: the tests that put it to rest and
// hold it there, its resting contacts turned into solver records, and its
// place in the stacks of bodies resting on each other.
#include "Physics/neRigidBody.h"

#include "Physics/neSimulator.h"

#include <cmath>

namespace
{

bool isZero(const vec3d& v) { return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f; }

// The average of a ten-step history.
vec3d average(const vec3d (&history)[neHistoryLength])
{
    vec3d sum{};
    for (const vec3d& v : history)
        sum += v;
    return sum * 0.1f;
}

} // namespace

int neRigidBody::restTest()
{
    const float motion = velocity.lengthSq() + angularVelocity.lengthSq();
    if (!(motion < simulator->restThreshold)) {
        clearRest();
        return 0;
    }
    if (particle || supportTest() != 0) {
        stopMotion();
        gatherForces();
        ++simulator->heldAtRest;
        return 1;
    }
    return 0;
}

void neRigidBody::countRest()
{
    const float threshold = simulator->restThreshold;
    if (velocity.lengthSq() < threshold && angularVelocity.lengthSq() * 1.0f < threshold) {
        ++restCounter;
    } else {
        // Quick now, but quiet on the average of the last steps? Falling
        // along the gravity does not count against it.
        vec3d v = average(contact.velocities);
        const float along = v.dot(simulator->gravityDirection);
        if (along > 0.0f)
            v -= simulator->gravityDirection * along;
        if (!(v.lengthSq() <= 2.0f)) {
            restCounter = 0;
            return;
        }
        if (!(average(contact.angularVelocities).lengthSq() <= 1.0f)) {
            restCounter = 0;
            return;
        }
        ++restCounter;
    }
    if (restCounter > 10 && stackElement && checkContactDrift()) {
        const int support = supportTest();
        if (support == 3 || (support == 2 && restCounter > 100))
            putToRest();
    }
}

int neRigidBody::supportTest()
{
    if (isZero(totalForce))
        return 3;
    const float forceLength = neLength(totalForce);
    if (!(forceLength > 0.0f))
        return 0;
    // The contacts seen along the force, about the centre of mass.
    const neM3 frame = neSimulator::basis(totalForce / forceLength);
    const int32_t count = contact.usedCount;
    if (count < 1 || count > 3)
        return 0;
    float px[3], py[3];
    const vec3d centre = position();
    for (int32_t k = 0; k < count; ++k) {
        const int32_t index = contact.usedSlots[k];
        if (index < 0 || index > 2)
            return 0;
        const neRestingContact& slot = contact.slots[index];
        if (slot.kind == neRestingEmpty)
            return 0;
        if (slot.kind != neRestingUnchecked && !isPartnerResting(slot))
            return 0;
        const vec3d d = slot.worldPoint - centre;
        px[k] = d.dot(frame.r[1]);
        py[k] = d.dot(frame.r[2]);
    }
    if (count == 3) {
        // The triangle, grown by a tenth about its centroid, must hold the
        // centre of mass strictly inside.
        const float cx = (px[0] + px[1] + px[2]) / 3.0f, cy = (py[0] + py[1] + py[2]) / 3.0f;
        float x[3], y[3], side[3];
        for (int k = 0; k < 3; ++k) {
            x[k] = cx + (px[k] - cx) * 1.1f;
            y[k] = cy + (py[k] - cy) * 1.1f;
        }
        for (int k = 0; k < 3; ++k) {
            const int n = (k + 1) % 3;
            side[k] = (x[n] - x[k]) * (0.0f - y[k]) - (y[n] - y[k]) * (0.0f - x[k]);
        }
        const bool inside = (side[0] > 0.0f && side[1] > 0.0f && side[2] > 0.0f)
                            || (side[0] < 0.0f && side[1] < 0.0f && side[2] < 0.0f);
        return inside ? 3 : 0;
    }
    if (count == 2) {
        const float ex = px[1] - px[0], ey = py[1] - py[0];
        const float lengthSq = ex * ex + ey * ey;
        const float distance = lengthSq > 0.0f ? absFloat(ex * (0.0f - py[0]) - ey * (0.0f - px[0])) / fastSqrt(lengthSq)
                                               : fastSqrt(px[0] * px[0] + py[0] * py[0]);
        return distance < 0.005f ? 2 : 0;
    }
    return fastSqrt(px[0] * px[0] + py[0] * py[0]) < 0.005f ? 1 : 0;
}

int neRigidBody::checkStillAtRest()
{
    if (stepsSinceSaved < 60)
        return 0;
    const float span = simulator->stepLength * 60.0f;
    const quaternion& q = state().orientation;
    const quaternion& s = saved.orientation;
    // The angle of the turn from the saved orientation to the current one.
    const float cosHalf = absFloat(q.x * s.x + q.y * s.y + q.z * s.z + q.w * s.w);
    const float turn = 2.0f * std::acos(cosHalf > 1.0f ? 1.0f : cosHalf);
    const bool moved = !(neLength(position() - saved.position) / span <= restTolerance)
                       || !(neLength(velocity - saved.velocity) / span <= 5.0f) || !(turn / span <= 10.0f)
                       || !(neLength(angularVelocity - saved.angularVelocity) / span <= 10.5f);
    if (moved) {
        savePose();
        return 0;
    }
    return 1;
}

int neRigidBody::checkContactDrift()
{
    if (!stackElement || stackElement->supportOnly || (contact.usedCount != 2 && contact.usedCount != 3))
        return 0;
    for (int32_t k = 0; k < contact.usedCount; ++k) {
        const int32_t index = contact.usedSlots[k];
        neRestingContact& slot = contact.slots[index >= 0 && index < 3 ? index : 0];
        if (slot.kind == neRestingEmpty) {
            contact.usedCount = 0;
            return 0;
        }
        const vec3d here = neFromFrame(state().transform, slot.bodyPoint);
        if (!((here - refreshRestingContact(slot)).lengthSq() <= 0.002f)) {
            clearRestingContact(slot);
            contact.usedCount = 0;
            return 0;
        }
    }
    return 1;
}

int neRigidBody::validateRestingContacts()
{
    int good = 0;
    if (restState == neAtRest && solverMark == 0) {
        for (const neRestingContact& slot : contact.slots) {
            if (slot.kind == neRestingEmpty)
                continue;
            if (!isPartnerResting(slot))
                break;
            ++good;
        }
        return good;
    }
    bool removed = false;
    for (neRestingContact& slot : contact.slots) {
        if (slot.kind == neRestingEmpty)
            continue;
        updateRestingContact(slot);
        if (slot.worldNormal.dot(simulator->gravityDirection) <= 0.0f && slot.separation <= 0.01f
            && slot.slide <= 0.001f) {
            ++good;
        } else {
            clearRestingContact(slot);
            removed = true;
        }
    }
    if (removed)
        contact.usedCount = 0;
    if (stackElement)
        stackElement->noValidContact = good == 0;
    return good;
}

int neRigidBody::collectRestingContacts(bool force)
{
    neSimulator& sim = *simulator;
    stepped = 0;
    int kept[3];
    float separation[3];
    int keptCount = 0;
    for (int i = 0; i < 3; ++i) {
        neRestingContact& slot = contact.slots[i];
        if (slot.kind == neRestingEmpty)
            continue;
        if (slot.partner != &sim.terrainBody && (!slot.partner || !slot.partner->active)) {
            clearRestingContact(slot);
            continue;
        }
        updateRestingContact(slot);
        // A contact whose points have slid apart across the normal is gone.
        if (!(slot.slide <= 0.025f)) {
            clearRestingContact(slot);
            contact.usedCount = 0;
            continue;
        }
        kept[keptCount] = i;
        separation[keptCount] = slot.separation;
        ++keptCount;
    }
    if (keptCount == 0) {
        contact.usedCount = 0;
        return 0;
    }

    neCollisionResult record;
    const auto offer = [&](int slotIndex, float weight) {
        neRestingContact& slot = contact.slots[slotIndex];
        record = neCollisionResult{};
        record.reset();
        record.kind = neCollisionResult::contact;
        record.weight = weight;
        record.collided = 1;
        record.setNormal(slot.worldNormal);
        record.worldPointA = slot.worldPoint;
        record.worldPointB = slot.partnerWorldPoint;
        record.pointA = slot.worldPoint - position();
        record.pointB = slot.partnerWorldPoint - nePosition(*slot.partner->getTransform());
        record.depth = -slot.separation;
        record.userDataA = slot.materials[0];
        record.userDataB = slot.materials[1];
        record.bodyA = this;
        record.bodyB = slot.partner->isRigid() ? slot.partner : nullptr;
        // (A side dropped because it rests is left out of the effective mass too.)
        if (!force && record.dropRestingSides())
            return;
        record.prepare(false);
        sim.contacts.push(record);
    };

    if (keptCount == 1 && separation[0] < 0.0f) {
        offer(kept[0], 1.0f);
        contact.usedCount = 0;
        return 1;
    }
    int taken = 0;
    vec3d normalSum{};
    for (int k = 0; k < keptCount; ++k) {
        const float s = separation[k];
        float weight;
        if (s <= 0.0f) {
            weight = 1.0f;
        } else if (s <= 0.01f) {
            const float w = (0.01f - s) / 0.01f;
            weight = w * w * w;
        } else {
            continue; // apart: not a support now
        }
        offer(kept[k], weight);
        contact.usedSlots[taken++] = kept[k];
        normalSum += contact.slots[kept[k]].worldNormal;
    }
    contact.usedCount = taken;
    if (taken > 0) {
        vec3d n = taken == 1 ? normalSum : normalSum / fmaxf(neLength(normalSum), 1e-30f);
        if (n.dot(sim.gravityDirection) < 0.0f)
            n = -n;
        contact.restingNormal = n;
    }
    return taken;
}

void neRigidBody::addToStack(const neRestingContact& c)
{
    neSimulator& sim = *simulator;
    neStack* root = &sim.rootStack;
    neRigidBody* partner = c.partner && c.partner->isRigid() ? c.partner->asRigid() : nullptr;

    if (!stackElement) {
        neStackElement* e = sim.takeElement(this, 0);
        if (!e)
            return;
        recordRestingContact(c);
        if (!partner) {
            root->append(e);
            return;
        }
        neStackElement* pe = partner->stackElement;
        if (!pe) {
            // The partner is stacked only to carry this body.
            neStack* stack = sim.takeStack(e);
            if (!stack) {
                root->append(e);
                return;
            }
            if (neStackElement* support = sim.takeElement(partner, 1))
                stack->append(support);
            return;
        }
        if (!pe->stack || pe->stack == root) {
            if (pe->stack)
                root->remove(pe);
            neStack* stack = sim.takeStack(e);
            if (stack) {
                stack->append(pe);
            } else {
                root->append(e);
                root->append(pe);
            }
        } else {
            pe->stack->append(e);
        }
        if (!partner->constraintGroup)
            partner->clearRest();
        return;
    }

    neStackElement* e = stackElement;
    e->supportOnly = 0;
    if (!e->stack)
        root->append(e);
    recordRestingContact(c);
    if (!partner)
        return;
    neStackElement* pe = partner->stackElement;
    if (!pe) {
        neStack* stack = e->stack;
        if (stack == root) {
            root->remove(e);
            stack = sim.takeStack(e);
            if (!stack) {
                root->append(e);
                return;
            }
        }
        if (neStackElement* support = sim.takeElement(partner, 1))
            stack->append(support);
    } else if (!pe->stack || pe->stack == root) {
        if (pe->stack)
            root->remove(pe);
        if (e->stack == root) {
            root->remove(e);
            neStack* stack = sim.takeStack(e);
            if (stack) {
                stack->append(pe);
            } else {
                root->append(e);
                root->append(pe);
            }
        } else {
            e->stack->append(pe);
        }
    } else if (pe->stack != e->stack) {
        if (e->stack == root) {
            root->remove(e);
            pe->stack->append(e);
        } else {
            sim.mergeStacks(e->stack, pe->stack);
        }
    }
}

void neRigidBody::releaseStackElement()
{
    if (stackElement)
        simulator->releaseElement(stackElement);
}

void neRigidBody::queueStack()
{
    if (!stackElement || !stackElement->stack)
        return;
    neSimulator& sim = *simulator;
    neStack* stack = stackElement->stack;
    if (stack == &sim.rootStack) {
        if (stepped)
            collectRestingContacts(false);
        return;
    }
    if (!stack->queued && sim.queuedStacks.push(stack))
        stack->queued = 1;
}
