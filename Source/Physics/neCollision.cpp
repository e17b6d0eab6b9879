#include "Physics/neCollision.h"

#include "Physics/neAllocator.h"
#include "Physics/neCollideShapes.h"
#include "Physics/neConvex.h"
#include "Physics/neRigidBody.h"

#include <utility>

void neCollisionResult::reset()
{
    pointA = pointB = pointABody = pointBBody = worldPointA = worldPointB = restShift = {};
    frame = frameTransposed = neM3::identity();
    relativeVelocity = error = axis = {};
    kInverse = rotation = neM3::identity();
}

void neCollisionResult::swap()
{
    setNormal(-normal());
    std::swap(pointA, pointB);
    std::swap(geometryA, geometryB);
}

void neCollisionResult::set(const vec3d& n, float d, const vec3d& a, const vec3d& b)
{
    collided = 1;
    setNormal(n);
    depth = d;
    pointA = a;
    pointB = b;
    restShift = {};
}

int neCollisionResult::dropRestingSides()
{
    if (!(weight <= 1.0f))
        return 0;
    const auto rigid = [](const neRigidBodyBase* b) { return b && b->isRigid(); };
    const auto resting = [&](neRigidBodyBase* b) { return rigid(b) && b->asRigid()->restState == neAtRest; };
    const bool aRests = resting(bodyA), bRests = resting(bodyB);
    if (aRests && (!rigid(bodyB) || bRests))
        return 1;
    if (aRests)
        bodyA = nullptr;
    else if (bRests && bodyA)
        bodyB = nullptr;
    return 0;
}

void neCollisionScratch::build(neAllocatorAbstract& allocator, int32_t geometries)
{
    if (geometries <= 0)
        return;
    void* block = allocator.alloc(sizeof(const neGeometry*) * 2 * size_t(geometries), 0);
    if (!block)
        return;
    first = static_cast<const neGeometry**>(block);
    second = first + geometries;
    capacity = geometries;
}

void neCollisionScratch::release(neAllocatorAbstract& allocator)
{
    if (first)
        allocator.free(first);
    first = second = nullptr;
    capacity = 0;
}

void neCollideGeometries(neCollisionResult& r, const neGeometry& a, const neGeometry& b, const matrix3d& wa,
                         const matrix3d& wb)
{
    r.collided = 0;
    switch (a.type) {
    case neShapeBox:
        switch (b.type) {
        case neShapeTriangle: neCollideBoxTriangle(r, a, wa, b, wb); return;
        case neShapeBox: neCollideBoxes(r, a, b, wa, wb); return;
        case neShapeSphere: neCollideBoxSphere(r, wa, a.halfExtents(), b, wb); return;
        case neShapeCylinder: neCollideBoxCylinder(r, a, wa, b, wb); return;
        case neShapeTerrain: neCollideBoxTerrain(r, a, wa, b); return;
        case neShapeConvex: neCollideConvex(r, a, wa, b, wb); return;
        default: return;
        }
    case neShapeSphere:
        switch (b.type) {
        case neShapeBox: neCollideBoxSphere(r, wb, b.halfExtents(), a, wa); break;
        case neShapeSphere: neCollideSphereSphere(r, a, b, wa, wb); return;
        case neShapeCylinder: neCollideCylinderSphere(r, b, wb, a, wa); break;
        case neShapeTerrain: neCollideSphereTerrain(r, a, wa, b); return;
        default: return;
        }
        break;
    case neShapeCylinder:
        switch (b.type) {
        case neShapeBox: neCollideBoxCylinder(r, b, wb, a, wa); break;
        case neShapeSphere: neCollideCylinderSphere(r, a, wa, b, wb); return;
        case neShapeCylinder: neCollideCylinderCylinder(r, a, wa, b, wb); return;
        case neShapeTerrain: neCollideCylinderTerrain(r, a, wa, b); return;
        default: return;
        }
        break;
    case neShapeConvex:
        switch (b.type) {
        case neShapeBox: neCollideConvex(r, b, wb, a, wa); break;
        case neShapeConvex: neCollideConvex(r, a, wa, b, wb); return;
        case neShapeTerrain: neCollideConvexTerrain(r, a, wa, b); return;
        default: return;
        }
        break;
    default:
        return;
    }
    // The test ran with the pair exchanged: turn the contact back.
    if (r.collided)
        r.swap();
}

namespace
{

// A geometry's world transform: its place in the body, then the body's pose.
// Terrain triangles are in world coordinates already.
matrix3d worldOf(const neGeometry& g, const matrix3d& body)
{
    return g.type == neShapeTerrain ? matrix3d::identity() : neCompose(g.transform, body);
}

struct Best
{
    neCollisionResult records[2];
    int best = 0;

    neCollisionResult& bestRecord() { return records[best]; }
    neCollisionResult& spare() { return records[1 - best]; }

    // The spare record's contact replaces the best when strictly deeper.
    void offer(const neGeometry* a, const neGeometry* b)
    {
        neCollisionResult& s = spare();
        if (s.collided && s.depth > bestRecord().depth) {
            s.geometryA = const_cast<neGeometry*>(a);
            s.geometryB = const_cast<neGeometry*>(b);
            best = 1 - best;
        }
    }
};

} // namespace

void neCollideBodies(neCollisionResult& result, const neCollisionView& a, const neCollisionView& b,
                     const matrix3d& ta, const matrix3d& tb, neCollisionScratch& scratch)
{
    result.collided = 0;
    if (a.count == 0 || b.count == 0 || !a.geometries || !b.geometries)
        return;
    Best best;
    best.records[0].reset();
    best.records[1].reset();
    best.bestRecord().depth = 0.0f;
    best.bestRecord().collided = 0;

    if (a.count == 1 && b.count == 1) {
        neCollisionResult& r = best.bestRecord();
        neCollideGeometries(r, *a.geometries, *b.geometries, worldOf(*a.geometries, ta), worldOf(*b.geometries, tb));
        if (!r.collided)
            return;
        r.geometryA = a.geometries;
        r.geometryB = b.geometries;
    } else {
        const matrix3d boundsA = worldOf(*a.bounds, ta), boundsB = worldOf(*b.bounds, tb);
        neCollideGeometries(best.spare(), *a.bounds, *b.bounds, boundsA, boundsB);
        if (!best.spare().collided)
            return;
        if (a.count == 1) {
            const matrix3d wa = worldOf(*a.geometries, ta);
            for (const neGeometry* g = b.geometries; g; g = g->next) {
                neCollideGeometries(best.spare(), *a.geometries, *g, wa, worldOf(*g, tb));
                best.offer(a.geometries, g);
            }
        } else if (b.count == 1) {
            const matrix3d wb = worldOf(*b.geometries, tb);
            for (const neGeometry* g = a.geometries; g; g = g->next) {
                neCollideGeometries(best.spare(), *g, *b.geometries, worldOf(*g, ta), wb);
                best.offer(g, b.geometries);
            }
        } else {
            // Only the geometries that touch the other body's bounds meet each other.
            int32_t firstCount = 0, secondCount = 0;
            for (const neGeometry* g = a.geometries; g && firstCount < scratch.capacity; g = g->next) {
                neCollideGeometries(best.spare(), *g, *b.bounds, worldOf(*g, ta), boundsB);
                if (best.spare().collided)
                    scratch.first[firstCount++] = g;
            }
            for (const neGeometry* g = b.geometries; g && secondCount < scratch.capacity; g = g->next) {
                neCollideGeometries(best.spare(), *a.bounds, *g, boundsA, worldOf(*g, tb));
                if (best.spare().collided)
                    scratch.second[secondCount++] = g;
            }
            for (int32_t i = 0; i < firstCount; ++i) {
                const neGeometry* ga = scratch.first[i];
                const matrix3d wa = worldOf(*ga, ta);
                for (int32_t j = 0; j < secondCount; ++j) {
                    const neGeometry* gb = scratch.second[j];
                    neCollideGeometries(best.spare(), *ga, *gb, wa, worldOf(*gb, tb));
                    best.offer(ga, gb);
                }
            }
        }
        if (!best.bestRecord().collided)
            return;
    }

    const neCollisionResult& found = best.bestRecord();
    result.copy(found);
    const vec3d positionA = nePosition(ta), positionB = nePosition(tb);
    result.worldPointA = found.pointA;
    result.worldPointB = found.pointB;
    result.pointA = found.pointA - positionA;
    result.pointB = found.pointB - positionB;
    result.pointABody = neDirectionToFrame(ta, result.pointA);
    result.pointBBody = neDirectionToFrame(tb, result.pointB);
    result.userDataA = found.geometryA ? found.geometryA->userData : 0;
    if (b.bounds->type != neShapeTerrain && b.bounds->type != neShapeTriangle)
        result.userDataB = found.geometryB ? found.geometryB->userData : 0;
}

bool neSegmentParameters(const vec3d& p1, const vec3d& p2, const vec3d& q1, const vec3d& q2, float& s, float& t)
{
    const vec3d p = p2 - p1, q = q2 - q1, r = p1 - q1;
    const float pp = p.dot(p), qq = q.dot(q), pq = p.dot(q);
    if (pp == 0.0f || qq == 0.0f)
        return false;
    const float denominator = pp * qq - pq * pq;
    if (!(absFloat(denominator) >= 1e-6f))
        return false;
    const float rq = r.dot(q), rp = r.dot(p);
    s = (rq * pq - qq * rp) / denominator;
    t = (rq + s * pq) / qq;
    return true;
}

bool neSegmentClosestPoints(const vec3d& p1, const vec3d& p2, const vec3d& q1, const vec3d& q2, vec3d& onP, vec3d& onQ)
{
    float s, t;
    if (!neSegmentParameters(p1, p2, q1, q2, s, t) || !(s >= 0.0f && s <= 1.0f && t >= 0.0f && t < 1.0f))
        return false;
    onP = p1 + (p2 - p1) * s;
    onQ = q1 + (q2 - q1) * t;
    return true;
}

bool neSegmentClosestPoints(const vec3d& p1, const vec3d& p2, const vec3d& q1, const vec3d& q2, neSegmentPair& out)
{
    if (!neSegmentParameters(p1, p2, q1, q2, out.s, out.t))
        return false;
    out.onP = p1 + (p2 - p1) * out.s;
    out.onQ = q1 + (q2 - q1) * out.t;
    out.distance = neLength(out.onP - out.onQ);
    out.inside = out.s >= 0.0f && out.s <= 1.0f && out.t >= 0.0f && out.t < 1.0f;
    return true;
}

neBoxWork::neBoxWork(const matrix3d& world, const vec3d& h) : centre(nePosition(world)), half(h)
{
    for (int i = 0; i < 3; ++i) {
        unitAxes[i] = neAxis(world, i);
        axes[i] = unitAxes[i] * h[i];
    }
}

void neBoxWork::bounds(vec3d& lo, vec3d& hi) const
{
    const vec3d e{absFloat(axes[0].x) + absFloat(axes[1].x) + absFloat(axes[2].x),
                  absFloat(axes[0].y) + absFloat(axes[1].y) + absFloat(axes[2].y),
                  absFloat(axes[0].z) + absFloat(axes[1].z) + absFloat(axes[2].z)};
    lo = centre - e;
    hi = centre + e;
}

void neBoxCorners(neBoxWork& box)
{
    if (box.cornersReady)
        return;
    for (int k = 0; k < 8; ++k)
        box.corners[k] = box.centre + box.axes[0] * (k & 4 ? -1.0f : 1.0f) + box.axes[1] * (k & 2 ? -1.0f : 1.0f)
                         + box.axes[2] * (k & 1 ? -1.0f : 1.0f);
    box.cornersReady = true;
}
