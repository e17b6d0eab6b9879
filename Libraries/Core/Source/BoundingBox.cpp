#include "Core/BoundingBox.h"

#include "Core/Math.h"
#include "Core/Matrix.h"

#include <cmath>

bool BoundingBox::intersectRay(const vec3d& origin, const vec3d& direction, float& t) const
{
    static constexpr int order[3] = {2, 0, 1};
    bool tried = false;
    for (int axis : order) {
        const float o = origin[axis];
        const float d = direction[axis];
        float plane;
        if (o < minimum[axis] && d != 0.0f)
            plane = minimum[axis];
        else if (o > maximum[axis] && d != 0.0f)
            plane = maximum[axis];
        else
            continue;
        tried = true;
        const float hitT = (plane - o) / d;
        const vec3d hit = origin + direction * hitT;
        bool inside = true;
        for (int other = 0; other < 3; ++other) {
            if (other == axis)
                continue;
            const float h = hit[other];
            if (h < minimum[other] || h > maximum[other])
                inside = false;
        }
        if (inside) {
            t = hitT;
            return true;
        }
    }
    t = 0.0f;
    return !tried;
}

float BoundingBox::distanceSqToCameraXZ() const
{
    const vec3d camera = currentCameraPosition();
    auto offset = [](float c, float lo, float hi, float middle) {
        if (c > lo && c < hi)
            return 0.0f;
        return c - (c < middle ? lo : hi);
    };
    const float dx = offset(camera.x, minimum.x, maximum.x, center.x);
    const float dz = offset(camera.z, minimum.z, maximum.z, center.z);
    return dx * dx + dz * dz;
}

BoundingBox BoundingBox::carried(const matrix3d& m) const
{
    const vec3d middle = (minimum + maximum) * 0.5f;
    const vec3d half = (maximum - minimum) * 0.5f;
    vec3d reach;
    for (int k = 0; k < 3; ++k)
        reach[k] = std::fabs(m.at(0, k)) * half.x + std::fabs(m.at(1, k)) * half.y + std::fabs(m.at(2, k)) * half.z;
    BoundingBox out = *this;
    out.center = m.transformPoint(middle);
    out.minimum = out.center - reach;
    out.maximum = out.center + reach;
    return out;
}
