#include "Core/ConvexVolume.h"

#include "Core/Math.h"

#include <cmath>

namespace {

// Plane (a, b, c, d) with a x + b y + c z + d >= 0 inside, made unit length.
ConvexVolume::Plane makePlane(float a, float b, float c, float d)
{
    ConvexVolume::Plane plane;
    const float length = fastSqrt(a * a + b * b + c * c);
    // A degenerate matrix gives a zero normal: that plane then holds everything
    // rather than spreading NaN through every later test.
    const float scale = length > 0.0f ? 1.0f / length : 0.0f;
    plane.normal = {a * scale, b * scale, c * scale};
    plane.distance = -d * scale;
    plane.point = plane.normal * plane.distance;
    return plane;
}

ConvexVolume::Plane planeThrough(const vec3d& point, const vec3d& eye, const vec3d& direction)
{
    ConvexVolume::Plane plane;
    plane.normal = (eye - point).cross(direction).normalised();
    plane.distance = plane.normal.dot(point);
    plane.point = point;
    return plane;
}

bool beyond(const ConvexVolume::Plane& plane, const vec3d& p) { return (plane.point - p).dot(plane.normal) > 0.001f; }

}

void ConvexVolume::setFromMatrix(const matrix3d& m)
{
    // Column c of m, optionally plus sign times column 3 of m.
    auto plane = [&m](int c, float sign, float ownSign) {
        return makePlane(sign * m.at(0, 3) + ownSign * m.at(0, c), sign * m.at(1, 3) + ownSign * m.at(1, c),
                         sign * m.at(2, 3) + ownSign * m.at(2, c), sign * m.at(3, 3) + ownSign * m.at(3, c));
    };
    planes[0] = plane(2, 0.0f, 1.0f);  // near: z >= 0
    planes[1] = plane(2, 1.0f, -1.0f); // far: z <= w
    planes[2] = plane(0, 1.0f, 1.0f);  // left: x >= -w
    planes[3] = plane(1, 1.0f, -1.0f); // top: y <= w
    planes[4] = plane(0, 1.0f, -1.0f); // right: x <= w
    planes[5] = plane(1, 1.0f, 1.0f);  // bottom: y >= -w
    count = 6;
}

void ConvexVolume::copyPlanes(const ConvexVolume& other)
{
    for (int i = 0; i < maxPlanes; ++i)
        planes[i] = other.planes[i];
}

int32_t ConvexVolume::classifyOrientedBox(const OrientedBox& box) const
{
    if (count < 3)
        return outside;
    bool crossing = false;
    for (int i = 0; i < count; ++i) {
        const Plane& plane = planes[i];
        const float r = box.halfExtents.x * std::fabs(box.axes[0].dot(plane.normal))
            + box.halfExtents.y * std::fabs(box.axes[1].dot(plane.normal))
            + box.halfExtents.z * std::fabs(box.axes[2].dot(plane.normal));
        const float s = box.center.dot(plane.normal) - plane.distance;
        if (s < -r)
            return outside;
        if (s <= r)
            crossing = true;
    }
    return crossing ? intersecting : inside;
}

int32_t ConvexVolume::classifyBox(const vec3d& minimum, const vec3d& maximum) const
{
    if (count < 3)
        return outside;
    bool crossing = false;
    for (int i = 0; i < count; ++i) {
        const Plane& plane = planes[i];
        const vec3d& n = plane.normal;
        const vec3d farthest{n.x > 0.0f ? maximum.x : minimum.x, n.y > 0.0f ? maximum.y : minimum.y,
                             n.z > 0.0f ? maximum.z : minimum.z};
        const vec3d nearest{n.x > 0.0f ? minimum.x : maximum.x, n.y > 0.0f ? minimum.y : maximum.y,
                            n.z > 0.0f ? minimum.z : maximum.z};
        if (plane.distance - n.dot(farthest) > 0.0f)
            return outside;
        if (plane.distance - n.dot(nearest) >= 0.0f)
            crossing = true;
    }
    return crossing ? intersecting : inside;
}

int32_t ConvexVolume::classifyPoint(const vec3d& p) const
{
    if (count < 3)
        return outside;
    for (int i = 0; i < count; ++i)
        if (beyond(planes[i], p))
            return outside;
    return inside;
}

int32_t ConvexVolume::testPlanes(const vec3d& direction) const
{
    if (count <= 2)
        return 0;
    for (int i = 2; i < count; ++i)
        if (std::fabs(planes[i].normal.dot(direction)) <= 0.001f)
            return 1;
    return 0;
}

void ConvexVolume::transform(const matrix3d& m)
{
    for (int i = 0; i < count; ++i) {
        Plane& plane = planes[i];
        plane.point = m.transformPoint(plane.point);
        plane.normal = m.transformVector(plane.normal);
        plane.distance = plane.normal.dot(plane.point);
    }
}

bool ConvexVolume::fromPolygon(const vec3d* points, int pointCount, const ConvexVolume& source, const vec3d& right,
                               const vec3d& up)
{
    if (!points || pointCount < 3 || source.count == 0)
        return false;
    const vec3d eye = currentCameraPosition();
    const vec3d directions[4] = {-right, -up, right, up};
    Plane sides[4];
    for (int k = 2; k < 6; ++k) {
        const Plane& original = source.planes[k];
        bool reachesBeyond = false;
        for (int i = 0; i < pointCount && !reachesBeyond; ++i)
            reachesBeyond = beyond(original, points[i]);
        if (reachesBeyond) {
            sides[k - 2] = original;
            continue;
        }
        const vec3d& direction = directions[k - 2];
        Plane plane = planeThrough(points[0], eye, direction);
        for (int i = 1; i < pointCount; ++i)
            if (beyond(plane, points[i]))
                plane = planeThrough(points[i], eye, direction);
        sides[k - 2] = plane;
    }
    planes[0] = source.planes[0];
    planes[1] = source.planes[1];
    for (int k = 2; k < 6; ++k)
        planes[k] = sides[k - 2];
    count = source.count;
    return true;
}
