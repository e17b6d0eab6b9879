#include "Core/BoundingBox.h"

#include "Core/Math.h"

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
