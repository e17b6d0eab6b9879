#include "Physics/neRigidBody.h"

#include "Physics/neConstraintGroup.h"
#include "Physics/neSimulator.h"

void neRigidBody::reset()
{
    neRigidBodyBase::reset();
    bodyType = neBodyRigid;
    mass = inverseMass = 1.0f;
    inverseInertiaBody = inertiaBody = neM3::identity();
    externalForce = externalTorque = {};
    restState = neMoving;
    gravityOn = 1;
    gravityForce = controllerForce = controllerTorque = {};
    totalTorque = totalForce = acceleration = {};
    linearDamping = angularDamping = 0.0f;
    stateIndex = 0;
    for (neBodyState& s : states) {
        s.orientation = quaternion();
        s.spare[0] = s.spare[1] = s.spare[2] = 0.0f;
        s.angularMomentum = {};
        s.transform = matrix3d::identity();
    }
    velocity = angularVelocity = {};
    quaternionRate = {0.0f, 0.0f, 0.0f, 0.0f};
    worldInverseInertia = neM3::zero();
    stoppedValue = 0.0f;
    restCounter = 0;
    stackElement = nullptr;
    solverMark = 0;
    separated = 0;
    controllers.clear();
    solverWord = stepWord = 0;
    for (neRestingContact& slot : contact.slots) {
        if (slot.partner)
            clearRestingContact(slot);
        slot = neRestingContact();
        slot.owner = this;
    }
    for (int i = 0; i < neHistoryLength; ++i) {
        contact.velocities[i] = contact.angularVelocities[i] = {};
        velocityChanges[i] = angularChanges[i] = {};
    }
    historiesClear = 1;
    boundsFresh = 0;
    contact.usedCount = 0;
    contact.usedSlots[0] = contact.usedSlots[1] = contact.usedSlots[2] = 0;
    contact.restingNormal = {};
    particle = 0;
    stepped = 0;
    linearCorrection = angularCorrection = {};
    linearCorrectionCount = angularCorrectionCount = 0;
    solverSeen = 0;
    restTolerance = 0.2f;
    savePose();
}

void neRigidBody::setPose(const matrix3d& transform)
{
    neBodyState& s = state();
    s.transform = transform;
    boundsFresh = 0;
    s.orientation = quaternion::fromMatrix(transform);
    restState = neMoving;
    restCounter = 0;
    savePose();
}

void neRigidBody::setInertiaTensor(const vec3d& d)
{
    inertiaBody = neM3::diagonal(d);
    // The inverse by cofactors: only a non-zero determinant writes it.
    const float c00 = d.y * d.z, c11 = d.x * d.z, c22 = d.x * d.y;
    const float determinant = d.x * c00;
    if (determinant != 0.0f)
        inverseInertiaBody = neM3::diagonal({c00 / determinant, c11 / determinant, c22 / determinant});
}

void neRigidBody::applyImpulse(const vec3d& impulse)
{
    velocity += impulse * inverseMass;
    wakeUp();
}

void neRigidBody::applyImpulseAtPosition(const vec3d& impulse, const vec3d& p)
{
    velocity += impulse * inverseMass;
    setAngularMomentum(state().angularMomentum + (p - position()).cross(impulse));
    restState = neMoving;
    restCounter = 0;
    savePose();
}

neController* neRigidBody::addController(neRigidBodyControllerCallback* callback)
{
    neController* c = simulator->controllers.take();
    if (!c) {
        simulator->log("Run out of Controllers. Increase 'constraintSetsCount'.\n");
        return nullptr;
    }
    controllers.pushBack(c);
    c->body = this;
    c->callback = callback;
    c->constraintCallback = nullptr;
    c->constraint = nullptr;
    c->period = c->countdown = 0;
    c->force = c->torque = c->forceB = c->torqueB = {};
    return c;
}

void neRigidBody::savePose()
{
    saved.position = position();
    saved.orientation = state().orientation;
    saved.velocity = velocity;
    saved.angularVelocity = angularVelocity;
    stepsSinceSaved = 0;
}

void neRigidBody::clearRest()
{
    restState = neMoving;
    restCounter = 0;
    savePose();
}

void neRigidBody::wakeUp()
{
    if (!constraintGroup) {
        clearRest();
        return;
    }
    for (neRigidBodyBase* m = constraintGroup->members.head; m; m = m->groupNext)
        if (m->isRigid())
            m->asRigid()->clearRest();
}

void neRigidBody::putToRest()
{
    restState = neAtRest;
    stopMotion();
}

void neRigidBody::stopMotion()
{
    // A body held at rest step after step has nothing left to stop.
    const bool still = historiesClear && velocity == vec3d() && angularVelocity == vec3d()
                       && state().angularMomentum == vec3d() && quaternionRate.x == 0.0f && quaternionRate.y == 0.0f
                       && quaternionRate.z == 0.0f && quaternionRate.w == 0.0f && stoppedValue == 0.0f;
    if (still)
        return;
    historiesClear = 1;
    velocity = angularVelocity = {};
    quaternionRate = {0.0f, 0.0f, 0.0f, 0.0f};
    stoppedValue = 0.0f;
    state().angularMomentum = {};
    for (int i = 0; i < neHistoryLength; ++i) {
        contact.velocities[i] = contact.angularVelocities[i] = {};
        velocityChanges[i] = angularChanges[i] = {};
    }
}

void neRigidBody::clearRestingContact(neRestingContact& slot)
{
    slot.kind = neRestingEmpty;
    slot.stepStamp = 0;
    if (slot.partner)
        slot.partner->restingOnThis.remove(&slot);
    slot.partner = nullptr;
}

void neRigidBody::release()
{
    releaseGeometries();
    while (neController* c = controllers.head) {
        controllers.remove(c);
        simulator->controllers.give(c);
    }
    leaveConstraintGroup();
    releaseStackElement();
    for (neRestingContact& slot : contact.slots)
        clearRestingContact(slot);
    dropRestingPartners();
}
