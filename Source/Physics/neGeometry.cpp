#include "Physics/neGeometry.h"

#include "Physics/neConvex.h"

void neGeometry::reset()
{
    setBoxSize(1.0f, 1.0f, 1.0f);
    transform = matrix3d::identity();
    userData = 0;
    spare = 0;
    inertia = cubeInertiaTensor(1.0f, 1.0f, 1.0f, 1.0f);
    breakNormal = {};
    breakMass = 1.0f;
    breakThreshold = 0.0f;
    breakShare = 0.5f;
    breakSpare = 0.0f;
    breakKind = 0;
}

void neGeometry::setBoxSize(float x, float y, float z)
{
    type = neShapeBox;
    shape.box = {x * 0.5f, y * 0.5f, z * 0.5f};
    radius = radius2 = neLength(halfExtents());
}

void neGeometry::setSphere(float r)
{
    type = neShapeSphere;
    shape.round = {r, r * r, 0.0f};
}

void neGeometry::setCylinder(float r, float halfLength)
{
    type = neShapeCylinder;
    shape.round = {r, r * r, halfLength};
}

namespace
{

// The vertices of a vertex set or convex shape; false for other shapes.
bool shapeVertices(const neGeometry& g, const vec3d*& v, int32_t& n)
{
    if (g.type == neShapeVertexSet) {
        v = g.shape.vertexSet.vertices;
        n = g.shape.vertexSet.count;
    } else if (g.type == neShapeConvex && g.shape.convex) {
        v = g.shape.convex->vertices;
        n = g.shape.convex->vertexCount;
    } else {
        return false;
    }
    return v && n > 0;
}

// The farthest of a vertex array from the geometry's origin.
float farthestVertex(const vec3d* v, int32_t n)
{
    float best = 0.0f;
    for (int32_t i = 0; i < n; ++i) {
        const float d = v[i].lengthSq();
        if (d > best)
            best = d;
    }
    return fastSqrt(best);
}

} // namespace

float neGeometry::boundingRadius() const
{
    const float offset = neLength(position());
    switch (type) {
    case neShapeBox:
        return neLength(halfExtents()) + offset;
    case neShapeSphere:
        return shape.round.radius + offset;
    case neShapeCylinder:
        return shape.round.radius + shape.round.halfLength + offset;
    default: {
        const vec3d* v;
        int32_t n;
        return shapeVertices(*this, v, n) ? farthestVertex(v, n) * (radius2 + 1.0f) : 0.0f;
    }
    }
}

bool neGeometry::growBodyBox(vec3d& lo, vec3d& hi) const
{
    const vec3d p = position();
    vec3d e;
    switch (type) {
    case neShapeBox: {
        const vec3d h = halfExtents();
        for (int k = 0; k < 3; ++k)
            e[k] = absFloat(transform.at(0, k)) * h.x + absFloat(transform.at(1, k)) * h.y
                   + absFloat(transform.at(2, k)) * h.z;
        break;
    }
    case neShapeSphere:
        e = {shape.round.radius, shape.round.radius, shape.round.radius};
        break;
    case neShapeCylinder: {
        const float r = shape.round.radius, h = shape.round.halfLength;
        for (int k = 0; k < 3; ++k)
            e[k] = absFloat(transform.at(1, k)) * (h + r) + (absFloat(transform.at(0, k)) + absFloat(transform.at(2, k))) * r;
        break;
    }
    default: {
        const vec3d* v;
        int32_t n;
        if (!shapeVertices(*this, v, n))
            return false;
        for (int32_t i = 0; i < n; ++i) {
            const vec3d q = transform.transformPoint(v[i]);
            for (int k = 0; k < 3; ++k) {
                if (q[k] < lo[k])
                    lo[k] = q[k];
                if (q[k] > hi[k])
                    hi[k] = q[k];
            }
        }
        return true;
    }
    }
    for (int k = 0; k < 3; ++k) {
        if (p[k] - e[k] < lo[k])
            lo[k] = p[k] - e[k];
        if (p[k] + e[k] > hi[k])
            hi[k] = p[k] + e[k];
    }
    return true;
}
