// Moving a rigid body through one step: forces become velocity before the
// solver, the solved velocities become the new pose after it, and the forces
// of the next step are gathered from gravity and the controllers.
#include "Physics/neRigidBody.h"

#include "Physics/neSimulator.h"

namespace
{

bool nonZero(const vec3d& v) { return v.x != 0.0f || v.y != 0.0f || v.z != 0.0f; }

} // namespace

void neRigidBody::advanceVelocity(float dt)
{
    ++stepsSinceSaved;
    linearCorrection = angularCorrection = {};
    linearCorrectionCount = angularCorrectionCount = 0;
    stepWord = 0;

    if (restState == neAtRest) {
        // A controller that pushes wakes the body whatever its supports say.
        if (nonZero(controllerForce) || nonZero(controllerTorque))
            clearRest();
        else if (restTest())
            return;
    }
    if (restState == neSkipVelocity)
        return;

    const uint32_t i = simulator->stepIndexMod10;
    historiesClear = 0;
    velocityChanges[i] = {};
    angularChanges[i] = {};
    totalForce += controllerForce + gravityForce + externalForce;
    velocityChanges[i] = totalForce * (dt * inverseMass);
    acceleration = totalForce * inverseMass;
    velocity = (velocity + acceleration * dt) * (1.0f - linearDamping);
    totalTorque += externalTorque + controllerTorque;
    advanceAngularMomentum(totalTorque, dt);
}

// The midpoint values are what the solver works with in this step: its
// impulses act at the angular velocity of the middle of the step. The
// orientation itself is stepped afterwards, in advancePosition, from the
// momentum at the end of the step (L + T dt) through the inertia of the start
// of the step; the midpoint's quaternion rate is replaced there before it is
// used. Under a constant torque N steps therefore turn a body by (N + 1) / N
// of the exact angle.
void neRigidBody::advanceAngularMomentum(const vec3d& torque, float dt)
{
    neBodyState& s = state();
    const vec3d l = s.angularMomentum * (1.0f - angularDamping);

    // Midpoint: orientation and momentum half a step on.
    quaternion q = neAddScaled(s.orientation, quaternionRate, dt * 0.5f);
    const vec3d lMid = l + torque * (dt * 0.5f);
    const float lengthSq = q.dot(q);
    if (lengthSq > 0.0f) {
        const float inv = 1.0f / floatSqrt(lengthSq);
        q = {q.x * inv, q.y * inv, q.z * inv, q.w * inv};
    }
    const neM3 r = neRotationOf(q);
    const neM3 inertiaMid = r.transposed() * inverseInertiaBody * r;
    const vec3d wMid = inertiaMid * lMid;
    quaternionRate = neQuaternionRate(wMid, q);

    stateIndex = 0;
    states[0].angularMomentum = l + torque * dt;
    angularVelocity = wMid;
}

void neRigidBody::advancePosition(float dt)
{
    const uint32_t i = simulator->stepIndexMod10;
    neBodyState& s = state();
    const vec3d p = nePosition(s.transform);
    // The velocity already holds this step's acceleration (and what the
    // solver made of it): adding half of it again would push a body that
    // rests on the ground into it by half g dt^2 every step, more than the
    // depth correction lifts it by at the longest steps.
    const vec3d moved = p + velocity * dt;
    smoothedDisplacement = smoothedDisplacement * 0.7f + (moved - p) * 0.3f;
    neSetRow(s.transform, 3, moved);
    boundsFresh = 0;

    // The rate of the end-of-step momentum (see advanceAngularMomentum).
    setAngularMomentum(s.angularMomentum);
    s.orientation = neAddScaled(s.orientation, quaternionRate, dt);
    updateDerived();
    gatherForces();

    for (neSensor* sensor = sensorHead; sensor; sensor = sensor->next) {
        sensor->depth = 0.0f;
        sensor->detected = nullptr;
    }
    contact.velocities[i] = velocity;
    contact.angularVelocities[i] = angularVelocity;
    historiesClear = 0;
}

void neRigidBody::updateDerived()
{
    neBodyState& s = state();
    quaternion& q = s.orientation;
    const float lengthSq = q.dot(q);
    if (lengthSq > 0.0f) {
        const float inv = 1.0f / floatSqrt(lengthSq);
        q = {q.x * inv, q.y * inv, q.z * inv, q.w * inv};
    }
    const neM3 r = neRotationOf(q);
    for (int k = 0; k < 3; ++k)
        neSetRow(s.transform, k, r.r[k]);
    // Rows of r are the body's axes: world vectors enter the body frame through r.
    worldInverseInertia = r.transposed() * inverseInertiaBody * r;
    angularVelocity = worldInverseInertia * s.angularMomentum;
    quaternionRate = neQuaternionRate(angularVelocity, q);
}

void neRigidBody::setAngularMomentum(const vec3d& l)
{
    neBodyState& s = state();
    s.angularMomentum = l;
    angularVelocity = worldInverseInertia * l;
    quaternionRate = neQuaternionRate(angularVelocity, s.orientation);
}

void neRigidBody::gatherForces()
{
    gravityForce = (gravityOn && restState != neAtRest) ? simulator->gravity * mass : vec3d();
    controllerForce = controllerTorque = {};
    for (neController* c = controllers.head; c; c = c->next) {
        if (c->countdown == 0) {
            if (c->callback)
                c->callback->onControllerStep(c, simulator->stepLength);
            c->countdown = c->period;
        } else {
            --c->countdown;
        }
        c->body->controllerForce += c->force;
        c->body->controllerTorque += c->torque;
    }
}

int neRigidBody::applyImpulseAtArm(const vec3d& impulse, const vec3d& arm)
{
    const uint32_t i = simulator->stepIndexMod10;
    const vec3d dv = impulse * inverseMass;
    const vec3d moment = arm.cross(impulse);
    velocity += dv;
    velocityChanges[i] += dv;
    angularChanges[i] += worldInverseInertia * moment;
    historiesClear = 0;
    setAngularMomentum(state().angularMomentum + moment);
    return 1;
}

void neRigidBody::applyLinearCorrection()
{
    velocity += linearCorrection / float(linearCorrectionCount);
    linearCorrection = {};
    linearCorrectionCount = 0;
}

void neRigidBody::applyAngularCorrection()
{
    setAngularMomentum(state().angularMomentum + angularCorrection / float(angularCorrectionCount));
    angularCorrection = {};
    angularCorrectionCount = 0;
}
