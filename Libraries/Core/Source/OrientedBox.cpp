#include "Core/OrientedBox.h"

#include "Core/Math.h"
#include "Core/Matrix.h"

#include <cmath>

thread_local vec3d boxHitNormal;

namespace {

// Where three planes n . x = d meet (Cramer's rule); false when two of them
// are parallel.
bool intersectPlanes(const vec3d n[3], const float d[3], vec3d& out)
{
    const vec3d c12 = n[1].cross(n[2]);
    const float det = n[0].dot(c12);
    if (det == 0.0f)
        return false;
    out = (c12 * d[0] + n[2].cross(n[0]) * d[1] + n[0].cross(n[1]) * d[2]) / det;
    return true;
}

bool insideOtherSlabs(const OrientedBox& box, int axis, const vec3d& p)
{
    for (int other = 0; other < 3; ++other) {
        if (other == axis)
            continue;
        const float s = box.axes[other].dot(p);
        const float e = box.halfExtents[other];
        if (!(s > -e && s < e))
            return false;
    }
    return true;
}

}

void OrientedBox::extendToPoint(const vec3d& point)
{
    const vec3d rel = point - center;
    for (int i = 0; i < 3; ++i) {
        const float e = std::fabs(axes[i].dot(rel));
        if (e > halfExtents[i])
            halfExtents[i] = e;
    }
}

void OrientedBox::extendToBox(const OrientedBox& other)
{
    vec3d corners[8];
    for (int c = 0; c < 8; ++c) {
        vec3d p = other.center;
        for (int i = 0; i < 3; ++i) {
            const vec3d scaled = other.axes[i] * other.halfExtents[i];
            p += (c >> i & 1) ? scaled : -scaled;
        }
        corners[c] = p;
    }

    // Planes 2i and 2i+1: the plus and minus faces of axis i, outward normals.
    vec3d normal[6];
    vec3d point[6];
    for (int i = 0; i < 3; ++i) {
        const vec3d n = axes[i].normalised();
        const vec3d offset = axes[i] * halfExtents[i];
        normal[2 * i] = n;
        point[2 * i] = center + offset;
        normal[2 * i + 1] = -n;
        point[2 * i + 1] = center - offset;
    }
    for (int k = 0; k < 6; ++k)
        for (const vec3d& corner : corners)
            if ((point[k] - corner).dot(normal[k]) < -0.001f)
                point[k] = corner;

    vec3d sum;
    for (int c = 0; c < 8; ++c) {
        vec3d n[3];
        float d[3];
        for (int i = 0; i < 3; ++i) {
            const int k = 2 * i + ((c >> i & 1) ? 0 : 1);
            n[i] = normal[k];
            d[i] = normal[k].dot(point[k]);
        }
        vec3d corner;
        if (!intersectPlanes(n, d, corner))
            return; // axes that span no volume define no box to grow
        sum += corner;
    }
    center = sum * 0.125f;
    for (int i = 0; i < 3; ++i)
        halfExtents[i] = (point[2 * i] - center).dot(normal[2 * i]);
}

int OrientedBox::intersectRay(const vec3d& origin, const vec3d& direction, float& t) const
{
    static constexpr int order[3] = {0, 2, 1};
    const vec3d rel = origin - center;
    bool tried = false;
    for (int axis : order) {
        const vec3d& a = axes[axis];
        const float e = halfExtents[axis];
        const float along = a.dot(direction);
        const float plus = e - a.dot(rel);
        const float minus = -e - a.dot(rel);
        int face;
        float d;
        if (plus < 0.0f && along != 0.0f) {
            face = 2 * axis;
            d = plus;
        } else if (minus > 0.0f && along != 0.0f) {
            face = 2 * axis + 1;
            d = minus;
        } else {
            continue;
        }
        tried = true;
        const float hitT = d / along;
        if (insideOtherSlabs(*this, axis, rel + direction * hitT)) {
            boxHitNormal = (face & 1) ? -a : a;
            t = hitT;
            return face;
        }
    }
    t = 0.0f;
    return tried ? 7 : 6;
}

bool OrientedBox::overlaps(const OrientedBox& a, const OrientedBox& b)
{
    const vec3d between = b.center - a.center;
    auto separates = [&](const vec3d& axis) {
        float ra = 0.0f;
        float rb = 0.0f;
        for (int i = 0; i < 3; ++i) {
            ra += a.halfExtents[i] * std::fabs(a.axes[i].dot(axis));
            rb += b.halfExtents[i] * std::fabs(b.axes[i].dot(axis));
        }
        return std::fabs(between.dot(axis)) > ra + rb;
    };
    for (int i = 0; i < 3; ++i)
        if (separates(a.axes[i]) || separates(b.axes[i]))
            return false;
    // A cross product of parallel axes is zero and separates nothing.
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            if (separates(a.axes[i].cross(b.axes[j])))
                return false;
    return true;
}

void OrientedBox::alignedBounds(vec3d& minimum, vec3d& maximum) const
{
    vec3d reach;
    for (int k = 0; k < 3; ++k)
        reach[k] = std::fabs(axes[0][k]) * halfExtents.x + std::fabs(axes[1][k]) * halfExtents.y +
                   std::fabs(axes[2][k]) * halfExtents.z;
    minimum = center - reach;
    maximum = center + reach;
}

OrientedBox OrientedBox::carried(const matrix3d& m) const
{
    OrientedBox out = *this;
    out.center = m.transformPoint(center);
    for (int k = 0; k < 3; ++k) {
        const vec3d axis = m.transformVector(axes[k]);
        const float length = fastSqrt(axis.lengthSq());
        out.axes[k] = length > 0.0f ? axis / length : axis;
        out.halfExtents[k] = halfExtents[k] * length;
    }
    return out;
}
