// The tests with curved shapes: box against sphere and cylinder, and the
// sphere and cylinder pairs. A cylinder is the set of points within its
// radius of its axis segment, so every test here is a distance between
// points, segments and boxes.
#include "Physics/neCollideShapes.h"

#include <utility>

namespace
{

// The face of a box (half extents h) that a point p in the box's frame lies
// least deep behind: its axis, the point's side of it, and how deep.
struct NearestFace
{
    int axis;
    float side;
    float depth;
};

NearestFace nearestFace(const vec3d& p, const vec3d& h)
{
    const float e0 = h.x - absFloat(p.x), e1 = h.y - absFloat(p.y), e2 = h.z - absFloat(p.z);
    int k;
    if (e1 <= e0)
        k = e1 < e2 ? 1 : 2;
    else
        k = e0 < e2 ? 0 : 2;
    const float e[3] = {e0, e1, e2};
    return {k, p[k] >= 0.0f ? 1.0f : -1.0f, e[k]};
}

// A round shape of radius r around the point c (box frame p) that reaches
// into the box past its nearest face: the contact pushes it out through that face.
void faceContact(neCollisionResult& r, const matrix3d& box, const vec3d& p, const vec3d& h, const vec3d& c,
                 float radius)
{
    const NearestFace f = nearestFace(p, h);
    const vec3d normal = neAxis(box, f.axis) * -f.side;
    const float depth = f.depth + radius;
    const vec3d onB = c + normal * radius;
    r.set(normal, depth, onB - normal * depth, onB);
}

// The unit vector from b to a, or the fallback when they coincide.
vec3d directionOr(const vec3d& a, const vec3d& b, const vec3d& fallback)
{
    const vec3d d = a - b;
    const float l = neLength(d);
    return l > 0.0f ? d / l : fallback;
}

} // namespace

void neCollideBoxSphere(neCollisionResult& r, const matrix3d& box, const vec3d& h, const neGeometry& sphere,
                        const matrix3d& sphereWorld)
{
    r.collided = 0;
    const float radius = sphere.shape.round.radius;
    const vec3d c = nePosition(sphereWorld);
    const vec3d p = neToFrame(box, c);
    float s[3], d[3];
    int outside = 0, inAxis = 0;
    for (int i = 0; i < 3; ++i) {
        s[i] = p[i] >= 0.0f ? 1.0f : -1.0f;
        d[i] = absFloat(p[i]) - h[i];
        if (d[i] >= 0.0f)
            ++outside;
        else
            inAxis = i;
    }
    if (outside == 0) {
        faceContact(r, box, p, h, c, radius);
        return;
    }
    if (outside == 1) {
        int k = 0;
        while (d[k] < 0.0f)
            ++k;
        const float depth = h[k] + radius - absFloat(p[k]);
        if (depth > 0.0f) {
            const vec3d normal = neAxis(box, k) * -s[k];
            const vec3d onB = c + normal * radius;
            r.set(normal, depth, onB - normal * depth, onB);
        }
        return;
    }
    // Edge (the axis inside keeps the centre's coordinate) or corner.
    vec3d q{s[0] * h.x, s[1] * h.y, s[2] * h.z};
    if (outside == 2)
        q[inAxis] = p[inAxis];
    const vec3d toBox = q - p;
    const float distanceSq = toBox.lengthSq();
    if (distanceSq > radius * radius)
        return;
    if (distanceSq == 0.0f) {
        // The centre lies on the edge or corner itself.
        faceContact(r, box, p, h, c, radius);
        return;
    }
    const float distance = fastSqrt(distanceSq);
    const vec3d normal = neDirectionFromFrame(box, toBox / distance);
    r.set(normal, radius - distance, neFromFrame(box, q), c + normal * radius);
}

void neSegmentBoxClosest(const vec3d& h, const vec3d& a, const vec3d& b, vec3d& onSegment, vec3d& onBox)
{
    // Mirrored so that the segment runs towards + on every axis.
    vec3d start = a, v = b - a, sign{1, 1, 1};
    for (int i = 0; i < 3; ++i)
        if (v[i] < 0.0f) {
            sign[i] = -1.0f;
            start[i] = -start[i];
            v[i] = -v[i];
        }
    // Half the slope of the squared distance at parameter t: it grows with t
    // (the distance is convex) and is linear between the points where the
    // segment crosses a face plane.
    const auto slope = [&](float t) {
        float g = 0.0f;
        for (int i = 0; i < 3; ++i) {
            const float x = start[i] + t * v[i];
            if (x > h[i])
                g += (x - h[i]) * v[i];
            else if (x < -h[i])
                g += (x + h[i]) * v[i];
        }
        return g;
    };
    float breaks[7];
    int count = 0;
    for (int i = 0; i < 3; ++i) {
        if (!(v[i] > 0.0f))
            continue;
        for (float plane : {-h[i], h[i]}) {
            const float t = (plane - start[i]) / v[i];
            if (t > 0.0f && t < 1.0f)
                breaks[count++] = t;
        }
    }
    breaks[count++] = 1.0f;
    for (int i = 1; i < count; ++i)
        for (int j = i; j > 0 && breaks[j] < breaks[j - 1]; --j)
            std::swap(breaks[j], breaks[j - 1]);

    float t = 0.0f, g = slope(0.0f);
    if (g < 0.0f) {
        t = 1.0f;
        float tPrevious = 0.0f, gPrevious = g;
        for (int k = 0; k < count; ++k) {
            const float gk = slope(breaks[k]);
            if (gk >= 0.0f) {
                t = tPrevious - gPrevious * (breaks[k] - tPrevious) / (gk - gPrevious);
                break;
            }
            tPrevious = breaks[k];
            gPrevious = gk;
        }
    }
    for (int i = 0; i < 3; ++i) {
        const float x = start[i] + t * v[i];
        onSegment[i] = x * sign[i];
        onBox[i] = (x > h[i] ? h[i] : x < -h[i] ? -h[i] : x) * sign[i];
    }
}

void neCollideBoxCylinder(neCollisionResult& r, const neGeometry& box, const matrix3d& boxWorld,
                          const neGeometry& cylinder, const matrix3d& cylinderWorld)
{
    r.collided = 0;
    const float radius = cylinder.shape.round.radius;
    const vec3d half = neAxis(cylinderWorld, 1) * cylinder.shape.round.halfLength;
    const vec3d centre = nePosition(cylinderWorld);
    const vec3d h = box.halfExtents();
    vec3d onSegment, onBox;
    neSegmentBoxClosest(h, neToFrame(boxWorld, centre - half), neToFrame(boxWorld, centre + half), onSegment, onBox);
    const vec3d gap = onBox - onSegment;
    const float distance = neLength(gap);
    if (!(distance <= radius))
        return;
    if (distance == 0.0f) {
        // The axis touches or crosses the box.
        faceContact(r, boxWorld, onSegment, h, neFromFrame(boxWorld, onSegment), radius);
        return;
    }
    const vec3d normal = neDirectionFromFrame(boxWorld, gap / distance);
    r.set(normal, radius - distance, neFromFrame(boxWorld, onBox), neFromFrame(boxWorld, onSegment) + normal * radius);
}

void neCollideSphereSphere(neCollisionResult& r, const neGeometry& a, const neGeometry& b, const matrix3d& wa,
                           const matrix3d& wb)
{
    r.collided = 0;
    const vec3d d = nePosition(wa) - nePosition(wb);
    const float q = d.lengthSq();
    const float ra = a.shape.round.radius, rb = b.shape.round.radius, reach = ra + rb;
    // Touching spheres do not collide; nor do coinciding centres, which give no direction.
    if (!(reach * reach > q) || q < 1e-6f)
        return;
    const float distance = fastSqrt(q);
    const vec3d normal = d / distance;
    r.set(normal, reach - distance, nePosition(wa) - normal * ra, nePosition(wb) + normal * rb);
}

void neCollideCylinderSphere(neCollisionResult& r, const neGeometry& cylinder, const matrix3d& cw,
                             const neGeometry& sphere, const matrix3d& sw)
{
    r.collided = 0;
    const float rc = cylinder.shape.round.radius, h = cylinder.shape.round.halfLength, rs = sphere.shape.round.radius;
    const vec3d axis = neAxis(cw, 1), c = nePosition(sw);
    const vec3d bottom = nePosition(cw) - axis * h;
    const float s = axis.dot(c - bottom);
    if (s >= rc + 2 * h + rs || s <= -(rc + rs))
        return;
    const vec3d q = s < 0.0f ? bottom : s <= 2 * h ? bottom + axis * s : nePosition(cw) + axis * h;
    const float distance = neLength(q - c);
    if (!(rc + rs > distance))
        return;
    const vec3d normal = distance < 1e-6f ? neAxis(cw, 0) : (q - c) / distance;
    r.set(normal, rs + rc - distance, q - normal * rc, c + normal * rs);
}

namespace
{

struct CylinderPair
{
    neCollisionResult& r;
    float ra, rb;
    vec3d fallback; // the direction for points that coincide
    float best = -1000000.0f;

    void offer(const vec3d& onA, const vec3d& onB, float distance, const vec3d& normal)
    {
        const float depth = ra + rb - distance;
        if (depth > 0.0f && depth > best) {
            best = depth;
            r.set(normal, depth, onA - normal * ra, onB + normal * rb);
        }
    }

    // An end of one cylinder against the other's axis line.
    void endToAxis(const vec3d& end, const vec3d& first, const vec3d& second, bool endOfA)
    {
        const vec3d line = second - first;
        const float lengthSq = line.lengthSq();
        const vec3d q = lengthSq > 0.0f ? first + line * ((end - first).dot(line) / lengthSq) : first;
        const vec3d onA = endOfA ? end : q, onB = endOfA ? q : end;
        offer(onA, onB, neLength(end - q), directionOr(onA, onB, fallback));
    }

    void endToEnd(const vec3d& onA, const vec3d& onB)
    {
        offer(onA, onB, neLength(onA - onB), directionOr(onA, onB, fallback));
    }
};

} // namespace

void neCollideCylinderCylinder(neCollisionResult& r, const neGeometry& a, const matrix3d& wa, const neGeometry& b,
                               const matrix3d& wb)
{
    r.collided = 0;
    const vec3d axisA = neAxis(wa, 1), axisB = neAxis(wb, 1);
    const float ha = a.shape.round.halfLength, hb = b.shape.round.halfLength;
    const vec3d topA = nePosition(wa) + axisA * ha, bottomA = nePosition(wa) - axisA * ha;
    const vec3d topB = nePosition(wb) + axisB * hb, bottomB = nePosition(wb) - axisB * hb;
    const float ra = a.shape.round.radius, rb = b.shape.round.radius;
    const vec3d w = axisB.cross(axisA);
    const float wLength = neLength(w);
    // Where the axes meet, the common perpendicular turned from B towards A.
    vec3d across = wLength > 0.0f ? w / wLength : neAxis(wa, 0);
    if (across.dot(nePosition(wa) - nePosition(wb)) < 0.0f)
        across = -across;

    if (wLength >= 1e-6f) {
        neSegmentPair pair;
        if (neSegmentClosestPoints(topA, bottomA, topB, bottomB, pair) && pair.inside) {
            const float depth = ra + rb - pair.distance;
            if (depth <= 0.0f)
                return;
            const vec3d normal = directionOr(pair.onP, pair.onQ, across);
            r.set(normal, depth, pair.onP - normal * ra, pair.onQ + normal * rb);
            return;
        }
    }
    // Nearly parallel axes, or closest points beyond an end: the ends decide.
    CylinderPair ends{r, ra, rb, directionOr(nePosition(wa), nePosition(wb), neAxis(wa, 0))};
    const float lengthA = 2 * ha, lengthB = 2 * hb;
    for (const vec3d& end : {topA, bottomA}) {
        const float t = axisB.dot(end - bottomB);
        if (t >= 0.0f && t <= lengthB)
            ends.endToAxis(end, bottomB, topB, true);
        else
            ends.endToEnd(end, t < 0.0f ? bottomB : topB);
    }
    for (const vec3d& end : {topB, bottomB}) {
        const float t = axisA.dot(end - bottomA);
        if (t >= 0.0f && t <= lengthA)
            ends.endToAxis(end, bottomA, topA, false);
        else
            ends.endToEnd(t < 0.0f ? bottomA : topA, end);
    }
}
