#include "Objects/VehicleCamera.h"

#include "Objects/DynObject.h"

#include "Landscape/Terrain.h"
#include "Race/RaceClock.h"
#include "Render/Camera.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"
#include "Core/Timer.h"

#include <cmath>

namespace {

constexpr float minDirectionLength = 0.001f;
constexpr float uprightY = 0.5f;
constexpr float movingLength = 3.0f;
constexpr uint32_t stillDelay = 500; // ms
constexpr float correctionLimit = 0.4f;
constexpr float turnScale = 3.0f;
constexpr float maxTurnRate = 0.1f;
constexpr float chaseDistance = 45.0f;
constexpr float chaseHeight = 22.5f;
constexpr float clearance = 3.0f;
constexpr float risingRate = 0.1f;
constexpr float fallingRate = 0.03f;
constexpr float minGroundHeight = 0.6f;
constexpr float lookAtHeight = 13.500000953674316f;
constexpr float degreesToRadians = 0.017453292f;
constexpr float driverAhead = 0.2f;
constexpr float driverUp = 2.5f;
constexpr float driverEasing = 0.2f;
// The terrain's detail levels: the coarsest for the chase point, the finest
// under the driver's eye.
constexpr int32_t chaseDetail = 0;
constexpr int32_t driverDetail = 3;

// v scaled to length 1 through the table root; zero stays zero.
vec3d unit(const vec3d& v)
{
    const float lengthSq = v.lengthSq();
    return lengthSq > 0.0f ? v * (1.0f / fastSqrt(lengthSq)) : v;
}

float clampCorrection(float c)
{
    return c < -correctionLimit ? -correctionLimit : c > correctionLimit ? correctionLimit : c;
}

bool isFinite(const matrix3d& m)
{
    for (float v : m.m)
        if (!std::isfinite(v))
            return false;
    return true;
}

// The vehicle's rotation rows, each of length 1 where it has a length.
quaternion rotationOf(const matrix3d& pose)
{
    return quaternion::fromMatrix(unit(pose.row(0)), unit(pose.row(1)), unit(pose.row(2)));
}

// Whether the race clock is past deadline, across its wrap.
bool isPast(uint32_t now, uint32_t deadline)
{
    return int32_t(now - deadline) > 0;
}

}

ObjPkgManager::Functions::VehicleCamera::VehicleCamera(Camera* camera, DynObject* vehicle)
    : camera(camera), vehicle(vehicle)
{
    if (vehicle)
        viewDirection = unit(vehicle->world.row(2));
}

void ObjPkgManager::Functions::VehicleCamera::setMode(int32_t newMode)
{
    mode = newMode;
    if (!vehicle)
        return;
    if (mode == chase)
        viewDirection = unit(vehicle->world.row(2));
    else if (mode == driver)
        orientation = rotationOf(vehicle->world);
}

void ObjPkgManager::Functions::VehicleCamera::update(const vec3d& displacement, matrix3d& out)
{
    if (!vehicle)
        return;
    if (mode == driver)
        updateDriver(vehicle->world, out);
    else
        updateChase(vehicle->world, displacement, out);
}

void ObjPkgManager::Functions::VehicleCamera::updateChase(const matrix3d& pose, const vec3d& displacement,
                                                          matrix3d& out)
{
    const float frameFactor = gFrameFactor.load();
    float length = fastSqrt(displacement.lengthSq());
    vec3d target = length > minDirectionLength ? displacement * (1.0f / length) : displacement;

    // Upright and hardly moving: after a while the view swings round behind
    // the vehicle's forward axis.
    if (pose.m[5] <= uprightY || length >= movingLength) {
        stillTimer = 0;
    } else {
        const uint32_t now = raceNow();
        if (stillTimer == 0) {
            stillTimer = now + stillDelay;
            if (stillTimer == 0)
                stillTimer = 1;
        } else if (isPast(now, stillTimer)) {
            target = pose.row(2);
            length = 1.0f;
        }
    }
    target.y = 0.0f;
    target = unit(target);

    if (mode == orbit) {
        const float a = orbitAngle * degreesToRadians;
        const float c = floatCos(a), s = floatSin(a);
        target = {target.x * c + target.z * s, 0.0f, target.z * c - target.x * s};
        orbitAngle += frameFactor;
        if (orbitAngle >= 360.0f)
            orbitAngle -= 360.0f;
    }

    const vec3d correction{clampCorrection(target.x - viewDirection.x), clampCorrection(target.y - viewDirection.y),
                           clampCorrection(target.z - viewDirection.z)};
    const float squared = length * length;
    float rate = turnScale * squared * squared;
    if (rate > maxTurnRate)
        rate = maxTurnRate;
    viewDirection += correction * Timer::easing(rate, frameFactor);

    const vec3d vehiclePosition = pose.row(3);
    vec3d position = vehiclePosition - viewDirection * chaseDistance;
    position.y += chaseHeight;
    const float ground = gTerrain.getHeight(position.x, position.z, chaseDetail);
    float need = ground + clearance - position.y;
    if (need < 0.0f)
        need = 0.0f;
    const float k = need > heightOffset ? risingRate : fallingRate;
    heightOffset += (need - heightOffset) * Timer::easing(k, frameFactor);
    position.y += heightOffset;
    if (position.y < ground + minGroundHeight)
        position.y = ground + minGroundHeight;

    const vec3d forward = unit({vehiclePosition.x - position.x, vehiclePosition.y + lookAtHeight - position.y,
                                vehiclePosition.z - position.z});
    const vec3d up = unit({-forward.y * forward.x, 1.0f - forward.y * forward.y, -forward.y * forward.z});
    const vec3d right = up.cross(forward);
    out = matrix3d::identity();
    out.setRow(0, right);
    out.setRow(1, up);
    out.setRow(2, forward);
    out.setRow(3, position);
}

void ObjPkgManager::Functions::VehicleCamera::updateDriver(const matrix3d& pose, matrix3d& out)
{
    quaternion q = rotationOf(pose);
    if (q.dot(orientation) < 0.0f)
        q = {-q.x, -q.y, -q.z, -q.w};
    const float step = Timer::easing(driverEasing, gFrameFactor.load());
    orientation.x += (q.x - orientation.x) * step;
    orientation.y += (q.y - orientation.y) * step;
    orientation.z += (q.z - orientation.z) * step;
    orientation.w += (q.w - orientation.w) * step;
    const float lengthSq = orientation.dot(orientation);
    if (lengthSq > 0.0f) {
        const float inverse = 1.0f / floatSqrt(lengthSq);
        orientation = {orientation.x * inverse, orientation.y * inverse, orientation.z * inverse,
                       orientation.w * inverse};
    }
    out = orientation.toMatrix();
    vec3d position = pose.row(3) + pose.row(2) * driverAhead + pose.row(1) * driverUp;
    const float floor = gTerrain.getHeight(position.x, position.z, driverDetail) + minGroundHeight;
    if (position.y < floor)
        position.y = floor;
    out.setRow(3, position);
    out.m[15] = 1.0f;
}

void ObjPkgManager::Functions::VehicleCamera::frameStep()
{
    CRASH_TRACE();
    if (!camera || !vehicle || !isFinite(vehicle->world))
        return;
    vec3d displacement = vehicle->world.row(3) - vehicle->previousPosition;
    if (!std::isfinite(displacement.x) || !std::isfinite(displacement.y) || !std::isfinite(displacement.z))
        displacement = {};
    // A step that came out of range is taken back whole.
    const vec3d keptDirection = viewDirection;
    const uint32_t keptTimer = stillTimer;
    const float keptAngle = orbitAngle, keptOffset = heightOffset;
    const quaternion keptOrientation = orientation;
    matrix3d m = matrix3d::identity();
    update(displacement, m);
    // The view is the transposed rotation with the position carried to the
    // origin.
    matrix3d view = camera->view;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            view.m[c * 4 + r] = m.m[r * 4 + c];
    const vec3d position = m.row(3);
    view.m[12] = -position.dot(m.row(0));
    view.m[13] = -position.dot(m.row(1));
    view.m[14] = -position.dot(m.row(2));
    if (!isFinite(m) || !isFinite(view)) {
        viewDirection = keptDirection;
        stillTimer = keptTimer;
        orbitAngle = keptAngle;
        heightOffset = keptOffset;
        orientation = keptOrientation;
        return;
    }
    camera->view = view;
    camera->position = position;
    camera->update();
}
