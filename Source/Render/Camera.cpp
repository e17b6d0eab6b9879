#include "Render/Camera.h"

#include "Render/D3DDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <d3d9.h>

Camera* gCamera = nullptr;

Camera::Camera()
{
    // The volumes hold the identity view until the first update.
    directionVolume.setFromMatrix(viewProjection);
    frustum.setFromMatrix(viewProjection);
}

void Camera::setProjection(const intvec2d& size)
{
    const float h = fieldOfView * 0.008726646f;
    const float yScale = floatCos(h) / floatSin(h);
    const float farPlane = farPlaneFor(range);
    const float q = farPlane / (farPlane - nearPlane);
    const float aspect = size.x != 0 ? float(size.y) / float(size.x) : 1.0f;

    projection.m[0] = aspect * yScale;
    projection.m[5] = yScale;
    projection.m[10] = q;
    projection.m[11] = 1.0f;
    projection.m[14] = -q * nearPlane;
    projection.m[15] = 0.0f;

    projectionUnitDepth = projection;
    projectionUnitDepth.m[10] = 1.0f;

    viewProjection = view * projection;
    frustum.setFromMatrix(viewProjection);
}

void Camera::setAnglesDeg()
{
    constexpr float toRadians = 0.017453292f;
    const float a = angles.x * toRadians;
    const float b = angles.y * toRadians;
    const float c = angles.z * toRadians;
    const float ca = floatCos(a), sa = floatSin(a);
    const float cb = floatCos(b), sb = floatSin(b);
    const float cc = floatCos(c), sc = floatSin(c);

    view.m[0] = cc * ca - sc * sa * sb;
    view.m[4] = -cb * sc;
    view.m[8] = cc * sa + ca * sb * sc;
    view.m[1] = sc * ca + sa * sb * cc;
    view.m[5] = cc * cb;
    view.m[9] = sa * sc - ca * sb * cc;
    view.m[2] = -cb * sa;
    view.m[6] = sb;
    view.m[10] = ca * cb;
    apply();
}

void Camera::update()
{
    forward = {view.m[2], view.m[6], view.m[10]};
    up = {view.m[1], view.m[5], view.m[9]};
    right = {view.m[0], view.m[4], view.m[8]};

    view.m[12] = view.m[13] = view.m[14] = 0.0f;
    viewProjection = view * projection;
    directionVolume.setFromMatrix(viewProjection);

    view.m[12] = -position.dot(right);
    view.m[13] = -position.dot(up);
    view.m[14] = -position.dot(forward);
    viewProjection = view * projection;
    frustum.setFromMatrix(viewProjection);
}

void Camera::apply()
{
    CRASH_TRACE();
    if (gDevice)
        gDevice->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(view.m));
}

ConvexVolume Camera::narrowedFrustum(float u, float v) const
{
    constexpr float texel = 1.0f / 256.0f;
    // The view ray through a screen position, in world space.
    const auto ray = [this](float su, float sv) {
        const float x = (2.0f * su - 1.0f) / projection.m[0];
        const float y = -(2.0f * sv - 1.0f) / projection.m[5];
        return (right * x + up * y + forward).normalised();
    };
    // Each normal points towards the point: crossing the camera axis the
    // other way round for the lower and upper planes would turn them outwards
    // and leave nothing inside.
    const vec3d normals[4] = {up.cross(ray(u - texel, v)).normalised(), (-right).cross(ray(u, v + texel)).normalised(),
                              (-up).cross(ray(u + texel, v)).normalised(), right.cross(ray(u, v - texel)).normalised()};
    ConvexVolume narrowed = frustum;
    for (int i = 0; i < 4; ++i) {
        ConvexVolume::Plane& plane = narrowed.planes[2 + i];
        plane.normal = normals[i];
        plane.point = position;
        plane.distance = normals[i].dot(position);
    }
    return narrowed;
}

void Camera::setLens(float hazeFactor, const Color& colour)
{
    const float t = 1.0f - hazeFactor;
    const float k = (1.0f - t * t) * 0.9f + 0.07f;
    fogStart = (0.93f - k) * 700.0f;
    fogEnd = (1.0f - k) * range * 3.3f;
    haze = hazeFactor;
    fogColour = colour;
}
