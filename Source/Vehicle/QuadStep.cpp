// The quad's simulation step on the physics thread: the forces of its three
// wheel units, its rear drive and the righting torque.
#include "Vehicle/QuadInstance.h"

#include "Physics/neRigidBody.h"
#include "Race/RaceClock.h"

#include "Core/Math.h"

#include <algorithm>
#include <cmath>

namespace {

using QuadPhysics = ObjPkgManager::Functions::QuadPhysics;
using Wheel = QuadPhysics::Wheel;
using Contact = QuadPhysics::Contact;

// Linear damping by the contacts down: the front ones weigh less.
constexpr float frontDampingWeight = 0.013f;
constexpr float rearDampingWeight = 0.06f;
constexpr float dampingScale = 0.012f;
// The drive: the engine's term to force, the spin thresholds against the
// rear contacts' loads, the free spin's pull, the lever of the push.
constexpr float driveScale = 6.0f;
constexpr float spinStart = 0.8f;
constexpr float spinStop = 0.6f;
constexpr float freeSpinFactor = 15.0f;
constexpr float spinSmoothing = 0.009f;
constexpr float driveLever = 0.7f;
constexpr float rightingTorque = 10.0f;

bool finite(const vec3d& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

float limited(float value, float limit)
{
    if (std::isnan(value))
        return 0.0f;
    return std::clamp(value, -limit, limit);
}

vec3d limited(const vec3d& v, float limit)
{
    return {limited(v.x, limit), limited(v.y, limit), limited(v.z, limit)};
}

}

uint32_t QuadPhysics::Instance::stepNow()
{
    if (!stepClockRead) {
        stepClock = raceNow();
        stepClockRead = true;
    }
    return stepClock;
}

void QuadPhysics::Instance::step(neRigidBody* body)
{
    force = vec3d();
    torque = vec3d();
    if (!body)
        return;
    matrix3d& pose = *body->getTransform();
    pose.m[3] = pose.m[7] = pose.m[11] = 0.0f;
    pose.m[15] = 1.0f;

    const Contact& frontLeft = wheels[Wheel::frontLeft].contacts[0];
    const Contact& frontRight = wheels[Wheel::frontRight].contacts[0];
    const Contact& rearLeft = wheels[Wheel::rearAxle].contacts[0];
    const Contact& rearRight = wheels[Wheel::rearAxle].contacts[1];
    const float weight = frontDampingWeight * float(frontLeft.grounded + frontRight.grounded) +
                         rearDampingWeight * float(rearLeft.grounded + rearRight.grounded);
    body->linearDamping = std::fabs(weight * dampingScale);

    const bool held = published.frozen != 0;
    if (held) {
        matrix3d placement;
        for (int i = 0; i < 16; ++i)
            placement.m[i] = published.placement[i];
        body->setPose(placement);
    }
    body->gravityOn = held ? 0 : 1;
    for (int row = 0; row < 4; ++row)
        if (!finite(pose.row(row)))
            return;
    if (!finite(body->velocity) || !finite(body->angularVelocity))
        return;

    stepClockRead = false;
    for (Wheel& wheel : wheels)
        wheel.stepWheel(body, pose, force, torque);

    const vec3d R = pose.row(0), F = pose.row(2), P = pose.row(3);
    Wheel& rear = wheels[Wheel::rearAxle];
    const float drive = driveScale * published.gearRatio;
    const bool leftDown = rearLeft.grounded != 0, rightDown = rearRight.grounded != 0;
    if (rear.hasProbes()) {
        if ((!leftDown && !rightDown) || rear.steep) {
            // The rear wheels spin up freely.
            rear.spin = rear.spin + (freeSpinFactor * drive - rear.spin) * spinSmoothing;
        } else {
            float push = leftDown && rightDown ? 0.5f * drive : drive;
            if (!rear.spinning && (push > spinStart * rearLeft.load || push > spinStart * rearRight.load))
                rear.spinning = 1;
            if (rear.spinning) {
                if (push < spinStop * rearLeft.load || push < spinStop * rearRight.load)
                    rear.spinning = 0;
                push *= 0.5f;
                rear.spin = rear.spin + (freeSpinFactor * published.gearRatio - rear.spin) * spinSmoothing;
            }
            const vec3d thrust = F * push;
            if (leftDown) {
                const vec3d at = rearLeft.contactPoint + R * driveLever;
                force += thrust;
                torque += (at - P).cross(thrust);
            }
            if (rightDown) {
                const vec3d at = rearRight.contactPoint - R * driveLever;
                force += thrust;
                torque += (at - P).cross(thrust);
            }
        }
    }

    if (published.rightingHeld) {
        const float length = F.lengthSq() > 0.0f ? fastSqrt(F.lengthSq()) : 0.0f;
        torque = length > 0.0f ? F * (rightingTorque / length) : vec3d();
    }
    if (held) {
        force = vec3d();
        torque = vec3d();
    }
    force = limited(force, forceLimit);
    torque = limited(torque, forceLimit);
}
