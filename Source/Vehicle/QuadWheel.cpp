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
    const float ground = gTerrain.getHeight(contact.rayEnd.x, contact.rayEnd.z, 3, normal, &contact.groundCache);
    // The ground straight above the probe's end carries the wheel only
    // within the probe's reach: no higher up the probe than its top, and no
    // farther across it than its length. Beyond that the probe's end lies in
    // a step or a wall whose ground the wheel cannot reach: a wheel pressed
    // on by it would climb the wall, up to any height.
    const float rise = ground - contact.rayEnd.y;
    const vec3d& down = contact.rayDir;
    const float reach = contact.rayLength;
    if (!(rise >= 0.0f) || -down.y * rise > reach ||
        rise * rise * (down.x * down.x + down.z * down.z) > reach * reach) {
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
    // In the air the unit stands on no ground, steep or level: a flag kept
    // from the last contact would count a quad leaping off a crest as
    // overturned.
    if (!grounded) {
        steep = 0;
        return;
    }

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

namespace {

// The unit's swing in its plane: about the forward axis for the front
// wheels (right-up plane), about the right axis for the rear axle.
vec3d swung(const vec3d& v, float c, float s, bool rear)
{
    if (rear)
        return {v.x, c * v.y - s * v.z, c * v.z + s * v.y};
    return {c * v.x - s * v.y, c * v.y + s * v.x, v.z};
}

matrix3d swingMatrix(float c, float s, bool rear)
{
    matrix3d m = matrix3d::identity();
    for (int r = 0; r < 3; ++r)
        m.setRow(r, swung(m.row(r), c, s, rear));
    return m;
}

vec3d normalisedOrSame(const vec3d& v)
{
    const float length = v.length();
    return length > 0.0f ? v * (1.0f / length) : v;
}

}

void Wheel::poseParts(const matrix3d& B, const matrix3d& steerRotation)
{
    const Mesh* armMesh = partMeshes[0];
    const Mesh* shockMesh = partMeshes[1];
    EntityManager::SubEntity* arm = parts[0];
    if (!arm || !armMesh)
        return;
    const bool rear = index == rearAxle;
    const float s = scale;
    // 1. The swing arm about its pivot: by 1.2 x the angle between the probe's
    // end and the ground, seen from the pivot across the unit's axis.
    const vec3d armPosition = armMesh->world.row(3);
    vec3d E1 = B.transformPoint(armPosition * s), E2 = E1;
    if (shockMesh) {
        const vec3d up = normalisedOrSame(shockMesh->world.row(1)) * (partLength * 0.5f);
        const vec3d shockPosition = shockMesh->world.row(3) * s;
        E1 = B.transformPoint(shockPosition + up);
        E2 = B.transformPoint(shockPosition - up);
    }
    vec3d n;
    if (rear) {
        n = B.row(0);
    } else {
        // The rolling axis as the step turns it.
        const vec3d F = B.row(2);
        const float c = steerRotation.m[0], sn = steerRotation.m[8];
        n = {c * F.x + sn * F.z, F.y, c * F.z - sn * F.x};
    }
    vec3d A = B.transformPoint(armPosition * s);
    const float nn = n.dot(n);
    if (nn > 0.0f)
        A += n * ((E2 - A).dot(n) / nn);
    const vec3d aRest = normalisedOrSame((syncedSuspensionEnd - A).cross(n));
    const vec3d aGround = normalisedOrSame((syncedGroundPoint - A).cross(n));
    float angle = std::acos(std::clamp(aRest.dot(aGround), -1.0f, 1.0f)) * 57.29578f * 1.2f;
    if (index == frontLeft)
        angle = -angle;
    swingAngle = angle;
    const float c = std::cos(angle * radiansPerDegree), sn = std::sin(angle * radiansPerDegree);
    matrix3d local = armMesh->world;
    for (int r = 0; r < 3; ++r)
        local.setRow(r, swung(local.row(r), c, sn, rear));
    if (rear)
        local.setRow(2, normalisedOrSame(local.row(0).cross(local.row(1))));
    else
        local.setRow(0, normalisedOrSame(local.row(1).cross(local.row(2))));
    for (int r = 0; r < 4; ++r)
        local.setRow(r, local.row(r) * s);
    const matrix3d armWorld = local * B;
    arm->own = armWorld;

    // 2. The shock absorber from its upper mount to the lower one, which
    // swings with the arm.
    if (EntityManager::SubEntity* shock = parts[1]; shock && shockMesh) {
        matrix3d toArm;
        vec3d L = E2;
        if (armWorld.inverseAffine(toArm))
            L = (toArm * swingMatrix(c, sn, rear) * armWorld).transformPoint(E2);
        const vec3d U = E1;
        matrix3d frame = shock->own;
        if (rear) {
            frame.setRow(0, B.row(0));
            frame.setRow(2, normalisedOrSame(frame.row(0).cross(frame.row(1))));
        } else {
            frame.setRow(2, B.row(2));
            frame.setRow(0, normalisedOrSame(frame.row(1).cross(frame.row(2))));
        }
        // Half the part length at scale 1: the mesh's own y extent, whatever
        // its width and depth.
        const float rest = heightOf(shockMesh, 1.0f) * 0.5f;
        if (rest > 0.0f)
            frame.setRow(1, (U - L) * (0.5f / rest));
        frame.setRow(3, L + (U - L) * 0.5f);
        frame.setRow(0, frame.row(0) * s);
        frame.setRow(2, frame.row(2) * s);
        frame.m[3] = frame.m[7] = frame.m[11] = 0.0f;
        frame.m[15] = 1.0f;
        shock->own = frame;
    }

    // 3. The wheel turned by its spin (and the steering for the front
    // wheels), on the swung arm; the steering part with it.
    const Mesh* wheelMesh = partMeshes[3];
    EntityManager::SubEntity* wheelPart = parts[3];
    if (!wheelPart || !wheelMesh)
        return;
    const float spinRadians = float(spinAngle) * radiansPerDegree;
    matrix3d spinTurn = matrix3d::identity();
    spinTurn.m[5] = std::cos(spinRadians);
    spinTurn.m[6] = std::sin(spinRadians);
    spinTurn.m[9] = -spinTurn.m[6];
    spinTurn.m[10] = spinTurn.m[5];
    matrix3d turn = wheelMesh->world;
    turn.setRow(3, {});
    turn = turn * spinTurn;
    if (!rear)
        turn = turn * steerRotation;
    matrix3d bodyTurn = B;
    bodyTurn.setRow(3, {});
    matrix3d wheelWorld = turn * bodyTurn;
    for (int r = 0; r < 3; ++r)
        wheelWorld.setRow(r, wheelWorld.row(r) * s);
    wheelWorld.setRow(3, armWorld.transformPoint(wheelMesh->world.row(3) - armPosition));
    wheelPart->own = wheelWorld;
    if (EntityManager::SubEntity* hub = parts[2]; hub && partMeshes[2]) {
        matrix3d hubWorld = steerRotation * bodyTurn;
        for (int r = 0; r < 3; ++r)
            hubWorld.setRow(r, hubWorld.row(r) * s);
        hubWorld.setRow(3, armWorld.transformPoint(partMeshes[2]->world.row(3) - armPosition));
        hub->own = hubWorld;
    }
}

void Wheel::sync()
{
    contacts[0].sync();
    contacts[1].sync();
    syncedSuspensionEnd = suspensionEnd;
    syncedGroundPoint = groundPoint;
}

void Wheel::updateWheelVisual(const QuadBodyCopy& body, const matrix3d& steerRotation, float brake, float frameTime)
{
    if (!hasProbes())
        return;
    const matrix3d& B = body.pose;
    poseParts(B, steerRotation);
    const vec3d R = B.row(0), P = B.row(3);
    const Contact::Synced& first = contacts[0].synced;
    const vec3d v = body.velocityAt(first.centre - P);
    const vec3d d = unit(R.cross(first.groundNormal));
    const float rate = (4.0f / scale) * d.dot(v);
    rollRate = rate;
    if (!grounded || steep || spinning)
        spin = spin + (0.0f - spin) * 0.01f * frameTime;
    else if (brake > 0.0f && contacts[0].sliding)
        spin = spin + (0.0f - spin) * frameTime * 0.2f;
    else
        spin = rate;
    spinAngle = spinAngle + spin;
    visualUpdated = 1;
}
