#include "Vehicle/QuadWheel.h"

#include "Vehicle/QuadInstance.h"

#include "Objects/PackageMesh.h"

#include "Entity/SubEntity.h"
#include "Landscape/Terrain.h"
#include "Physics/neRigidBody.h"

#include "Core/Math.h"

#include <algorithm>
#include <cmath>

namespace {

// Twice the placed half height of a part mesh (its box's y axis and half
// size) at the quad's scale; 0 without the mesh.
float heightOf(const ObjPkgManager::Mesh* mesh, float scale)
{
    if (!mesh)
        return 0.0f;
    const OrientedBox& box = mesh->worldBox;
    return 2.0f * box.axes[1].length() * box.halfExtents.y * scale;
}

}

ObjPkgManager::Functions::QuadPhysics::Wheel::Wheel()
{
    for (Contact& contact : contacts)
        contact.wheel = this;
}

void ObjPkgManager::Functions::QuadPhysics::Wheel::setUpWheel(Instance* owner, int32_t unit, float scaleFactor,
                                                            float springConstant, float damperConstant)
{
    instance = owner;
    index = unit;
    scale = scaleFactor;
    spring = springConstant;
    damper = damperConstant;
    for (EntityManager::SubEntity* part : parts)
        if (part)
            part->followsEntity = 0;
    dirAxis = unit == rearAxle ? &axisRight : &axisForward;
    const float rayLength = heightOf(partMeshes[3], scale);
    contacts[0].rayLength = rayLength;
    if (unit == rearAxle)
        contacts[1].rayLength = rayLength;
    halfRayLength = rayLength * 0.5f;
    partLength = heightOf(partMeshes[1], scale);
    placeProbes();
}

namespace {

using Wheel = ObjPkgManager::Functions::QuadPhysics::Wheel;
using Contact = ObjPkgManager::Functions::QuadPhysics::Contact;
using Instance = ObjPkgManager::Functions::QuadPhysics::Instance;

constexpr float radiansPerDegree = 3.14159265f / 180.0f;
// Below these dot products of the body's up axis and the ground normal the
// ground pushes the unit sideways, and the unit counts as steep.
constexpr float sidePushSlope = 0.8f;
constexpr float steepSlope = 0.7f;
constexpr float sidePushSpring = 30.0f;
constexpr uint32_t landingMilliseconds = 20;
// Friction: lateral grip, rolling resistance on level and steep ground, the
// speeds at which a braked rear wheel locks and unlocks, the lateral speed
// above which a contact slides, the clamp of the lateral velocity.
constexpr float lateralGrip = 2.0f;
constexpr float lockedGrip = 0.7f;
constexpr float levelRolling = 0.4f;
constexpr float steepRolling = 2.0f;
constexpr float lockSpeed = 15.0f;
constexpr float unlockSpeed = 1.0f;
constexpr float slideSpeedLimit = 5.0f;
constexpr float lateralLimit = 8.0f;
constexpr float wobbleStrength = 50.0f;

// The helpers of the step are inlined: it calls them a dozen times.
[[gnu::always_inline]] inline float lengthOf(const vec3d& v)
{
    const float squared = v.lengthSq();
    return squared > 0.0f ? fastSqrt(squared) : 0.0f;
}

[[gnu::always_inline]] inline vec3d unit(const vec3d& v)
{
    const float length = lengthOf(v);
    return length > 0.0f ? v * (1.0f / length) : v;
}

bool passed(uint32_t now, uint32_t deadline)
{
    return int32_t(now - deadline) > 0;
}

// The body's velocity at the point r from its centre of mass, as
// neRigidBodyBase::getVelocityAtPoint gives it for a rigid body, inline.
[[gnu::always_inline]] inline vec3d velocityAt(const neRigidBody* body, const vec3d& r)
{
    return body->velocity + body->angularVelocity.cross(r);
}

void raise(Relaxed<float>& word, float value)
{
    if (value > word)
        word = value;
}

}

bool Wheel::hasProbes() const
{
    const float length = contacts[0].rayLength;
    return index != notSetUp && partMeshes[0] && partMeshes[3] && length > 0.0f && std::isfinite(length);
}

[[gnu::always_inline]] inline void Wheel::probe(Contact& contact)
{
    contact.rayEnd = contact.rayStart + contact.rayDir * contact.rayLength;
    contact.contactPoint = contact.rayEnd;
    vec3d normal;
    const float ground = gTerrain.getHeight(contact.rayEnd.x, contact.rayEnd.z, 3, normal);
    if (!(contact.rayEnd.y <= ground)) {
        contact.grounded = 0;
        return;
    }
    if (!contact.grounded) {
        contact.landed = 1;
        contact.landedUntil = instance->stepNow() + landingMilliseconds;
    }
    if (contact.landed && passed(instance->stepNow(), contact.landedUntil))
        contact.landed = 0;
    contact.grounded = 1;
    contact.contactPoint.y = ground;
    contact.groundDistance = contact.contactPoint.dot(contact.rayDir) - contact.rayStart.dot(contact.rayDir);
    contact.groundNormal = unit(normal);
    if (contact.oiled) {
        contact.sliding = 1;
        if (passed(instance->stepNow(), contact.oiledUntil))
            contact.oiled = 0;
    }
}

void Wheel::placeProbes()
{
    // The probes hang from the top of the wheel mesh, down the body's up
    // axis: the contacts' centres and the probes' tops in the body's frame.
    const Mesh* wheelMesh = partMeshes[3];
    if (!wheelMesh)
        return;
    const OrientedBox& box = wheelMesh->worldBox;
    const vec3d T = wheelMesh->world.row(3), r = wheelMesh->world.row(0), u = wheelMesh->world.row(1);
    const float W = 2.0f * lengthOf(box.axes[0]) * box.halfExtents.x;
    const float H = 2.0f * lengthOf(box.axes[1]) * box.halfExtents.y;
    const vec3d top = T + u * (H * 0.5f);
    const float s = scale;
    if (index == rearAxle) {
        const float A = W - H * 0.5f;
        localCentre[0] = (T - r * (A * 0.5f)) * s;
        localCentre[1] = (T + r * (A * 0.5f)) * s;
        localRayStart[0] = (top - r * (W * 0.5f)) * s;
        localRayStart[1] = (top + r * (W * 0.5f)) * s;
    } else {
        localCentre[0] = T * s;
        localRayStart[0] = (index == frontLeft ? top - r * (W * 0.5f) : top + r * (W * 0.5f)) * s;
    }
}

void Wheel::stepWheel(neRigidBody* body, vec3d& force, vec3d& torque)
{
    if (!hasProbes())
        return;
    matrix3d& pose = *body->getTransform();
    pose.m[3] = pose.m[7] = pose.m[11] = 0.0f;
    pose.m[15] = 1.0f;
    stepWheel(body, pose, force, torque);
}

void Wheel::stepWheel(neRigidBody* body, const matrix3d& pose, vec3d& force, vec3d& torque)
{
    if (!hasProbes())
        return;
    const vec3d R = pose.row(0), U = pose.row(1), F = pose.row(2), P = pose.row(3);
    const auto toWorld = [&](const vec3d& p) { return P + R * p.x + U * p.y + F * p.z; };
    Contact& left = contacts[0];
    Contact& right = contacts[1];
    left.centre = toWorld(localCentre[0]);
    left.rayStart = toWorld(localRayStart[0]);
    if (index == rearAxle) {
        right.centre = toWorld(localCentre[1]);
        right.rayStart = toWorld(localRayStart[1]);
        right.rayDir = -U;
    }
    left.rayDir = -U;
    axisRight = R;
    axisForward = F;

    probe(left);
    vec3d S = left.rayStart, E = left.rayEnd, G = left.contactPoint, N = left.groundNormal;
    if (index == rearAxle) {
        probe(right);
        // The more compressed side carries the axle.
        const float t = std::clamp(0.5f - (left.groundDistance - right.groundDistance), 0.0f, 1.0f);
        const auto blend = [t](const vec3d& a, const vec3d& b) { return a * t + b * (1.0f - t); };
        S = blend(left.rayStart, right.rayStart);
        E = blend(left.rayEnd, right.rayEnd);
        G = blend(left.contactPoint, right.contactPoint);
        N = blend(left.groundNormal, right.groundNormal);
        grounded = left.grounded || right.grounded ? 1 : 0;
    } else {
        grounded = uint32_t(left.grounded);
    }
    suspensionEnd = E;
    groundPoint = G;
    if (!grounded)
        return;

    // Suspension along the body's up axis, at the top of the probe.
    const float rayLength = left.rayLength;
    const float compression = (U.dot(G) - U.dot(E)) / rayLength;
    const float k = spring * compression;
    const float d = damper * U.dot(velocityAt(body, S - P));
    const vec3d suspension = U * (k - d);
    vec3d unitForce = suspension;
    torque += (S - P).cross(suspension);
    const bool landing = left.landed || (index == rearAxle && right.landed);
    if (landing)
        raise(instance->impact, std::fabs(d));
    const float slope = U.dot(N);
    if (slope < sidePushSlope) {
        // Steep ground pushes the wheel back towards its probe's line.
        const float offset = R.dot(G) - R.dot(E);
        const float sideSpeed = R.dot(velocityAt(body, E - P));
        unitForce = suspension + R * (sidePushSpring * offset - sideSpeed);
        torque += (E - P).cross(unitForce);
        if (landing)
            raise(instance->impact, std::fabs(sideSpeed));
    }
    steep = slope < steepSlope ? 1 : 0;
    force += unitForce;

    if (index != rearAxle) {
        const float c = instance->published.steerCos, sn = instance->published.steerSin;
        axisRight = {c * R.x + sn * R.z, R.y, c * R.z - sn * R.x};
        axisForward = {c * F.x + sn * F.z, F.y, c * F.z - sn * F.x};
        friction(left, body, P, force, torque);
    } else {
        friction(left, body, P, force, torque);
        friction(right, body, P, force, torque);
    }

    // A damaged quad rolls with the turn of its wheels, once per posed frame.
    const float damage = instance->published.damage;
    if (damage > 0.0f && visualUpdated)
        torque += F * (wobbleStrength * damage * std::sin(spinAngle * radiansPerDegree));
    visualUpdated = 0;
}

[[gnu::always_inline]] inline void Wheel::friction(Contact& contact, neRigidBody* body, const vec3d& position,
                                                  vec3d& force, vec3d& torque)
{
    const vec3d& Rw = axisRight;
    const vec3d& Fw = axisForward;
    const vec3d N = contact.groundNormal;
    float kl = lateralGrip;
    const float g = steep ? steepRolling : levelRolling;
    float b = 0.0f;
    bool locked = false;
    contact.load = force.y;
    const float wet = std::min(float(contact.waterDepth), 1.0f);
    const vec3d v = velocityAt(body, contact.contactPoint - position);

    if (index == rearAxle) {
        b = 2.0f * instance->published.brake;
        if (b > 0.0f) {
            const float forward = v.dot(Fw);
            if (!contact.sliding && forward > lockSpeed)
                contact.sliding = 1;
            if (contact.sliding) {
                locked = true;
                kl = lockedGrip;
                if (forward < unlockSpeed)
                    contact.sliding = 0;
            }
            if (!contact.sliding)
                b *= 0.3f;
        }
    }

    const vec3d L = unit(Rw - N * Rw.dot(N));
    const vec3d roll = v - N * v.dot(N) - L * v.dot(L);
    contact.rollVelocity = roll;
    const float vr = lengthOf(roll);
    if (locked)
        contact.slideSpeed = vr;
    if (vr > 1.0f)
        kl /= fastSqrt(vr);
    vec3d rolling;
    if (!(roll == vec3d())) {
        if (!locked)
            rolling = roll * -b;
        const vec3d dir = vr > 1.0f ? roll * (1.0f / vr) : roll;
        rolling -= dir * (g + 0.05f * wet * vr + (locked ? b : 0.0f));
    }

    const vec3d K = unit(Fw - N * Fw.dot(N));
    const vec3d lateral = v - N * v.dot(N) - K * v.dot(K);
    contact.lateralVelocity = lateral;
    if (!locked) {
        const float slide = lengthOf(lateral);
        contact.slideSpeed = slide;
        contact.sliding = slide > slideSpeedLimit ? 1 : 0;
    }
    if (contact.oiled)
        kl *= 0.1f;
    const vec3d clamped{std::clamp(lateral.x, -lateralLimit, lateralLimit),
                        std::clamp(lateral.y, -lateralLimit, lateralLimit),
                        std::clamp(lateral.z, -lateralLimit, lateralLimit)};
    const vec3d total = rolling - clamped * kl;
    force += total;
    torque += (contact.contactPoint - position).cross(total);
}

void Wheel::updateWheelSpin(neRigidBody* body, float brake, float frameTime)
{
    if (!hasProbes() || !body)
        return;
    const matrix3d& pose = *body->getTransform();
    const vec3d R = pose.row(0), P = pose.row(3);
    const Contact& first = contacts[0];
    const vec3d v = body->getVelocityAtPoint(first.centre - P);
    const vec3d d = unit(R.cross(first.groundNormal));
    const float rate = (4.0f / scale) * d.dot(v);
    rollRate = rate;
    if (!grounded || steep || spinning)
        spin = spin + (0.0f - spin) * 0.01f * frameTime;
    else if (brake > 0.0f && first.sliding)
        spin = spin + (0.0f - spin) * frameTime * 0.2f;
    else
        spin = rate;
    spinAngle = spinAngle + spin;
    visualUpdated = 1;
}
