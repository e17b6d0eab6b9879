// A rigid body's resting contacts: up to three points at which it lies on
// partners, kept in the partners' frames so that they follow them.
#include "Physics/neRigidBody.h"

#include "Physics/neSimulator.h"

void neRigidBody::setRestingContact(neRestingContact& c, neRigidBodyBase* partner, const vec3d& bodyPoint,
                                    const vec3d& partnerPoint, uint32_t material0, uint32_t material1,
                                    const vec3d& partnerNormal, float depth)
{
    c.partner = partner;
    c.bodyPoint = bodyPoint;
    c.partnerPoint = partnerPoint;
    c.materials[0] = material0;
    c.materials[1] = material1;
    c.partnerNormal = partnerNormal;
    c.order = depth;
}

void neRigidBody::recordRestingContact(const neRestingContact& contact)
{
    neRestingContact* chosen = nullptr;
    for (neRestingContact& slot : this->contact.slots)
        if (slot.kind != neRestingEmpty && (slot.bodyPoint - contact.bodyPoint).lengthSq() < 0.0025f) {
            chosen = &slot;
            break;
        }
    if (!chosen)
        for (neRestingContact& slot : this->contact.slots)
            if (slot.kind == neRestingEmpty)
                chosen = &slot;
    if (!chosen) {
        chosen = &this->contact.slots[0];
        for (neRestingContact& slot : this->contact.slots)
            if (slot.order < chosen->order)
                chosen = &slot;
    }
    clearRestingContact(*chosen);
    fillRestingContact(*chosen, contact);
}

void neRigidBody::fillRestingContact(neRestingContact& slot, const neRestingContact& contact)
{
    slot.bodyPoint = contact.bodyPoint;
    slot.partnerPoint = contact.partnerPoint;
    slot.partnerNormal = contact.partnerNormal;
    slot.order = contact.order;
    slot.materials[0] = contact.materials[0];
    slot.materials[1] = contact.materials[1];
    slot.owner = this;
    slot.stepStamp = simulator->stepCount;
    slot.partner = contact.partner;
    if (slot.partner) {
        slot.kind = slot.partner->isRigid() ? neRestingOnRigid : neRestingOnAnimated;
        slot.partner->restingOnThis.pushBack(&slot);
    }
}

vec3d neRigidBody::refreshRestingContact(neRestingContact& slot)
{
    if (!slot.partner)
        return {};
    const matrix3d& t = *slot.partner->getTransform();
    slot.worldNormal = neDirectionFromFrame(t, slot.partnerNormal);
    return neFromFrame(t, slot.partnerPoint);
}

void neRigidBody::updateRestingContact(neRestingContact& slot)
{
    if (!slot.partner)
        return;
    slot.worldPoint = neFromFrame(state().transform, slot.bodyPoint);
    slot.partnerWorldPoint = refreshRestingContact(slot);
    slot.difference = slot.worldPoint - slot.partnerWorldPoint;
    slot.separation = slot.difference.dot(slot.worldNormal);
    slot.slide = (slot.difference - slot.worldNormal * slot.separation).lengthSq();
}

bool neRigidBody::isPartnerResting(const neRestingContact& slot)
{
    if (slot.kind == neRestingUnchecked)
        return true;
    if (!slot.partner)
        return false;
    if (slot.partner->isRigid())
        return slot.partner->asRigid()->restState == neAtRest;
    return static_cast<const neAnimatedBody*>(slot.partner)->moved == 0;
}

int neRigidBodyBase::sharesConstraint(const neRigidBodyBase& x, const neRigidBodyBase& y)
{
    for (const neConstraintLink* a = x.constraintHead; a; a = a->next)
        for (const neConstraintLink* b = y.constraintHead; b; b = b->next)
            if (a->entry == b->entry)
                return 1;
    return 0;
}
