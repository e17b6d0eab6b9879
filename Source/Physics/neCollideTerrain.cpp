// The tests of a sphere, a cylinder and a box against terrain triangles, and
// of a box against one triangle geometry. The normal points from the
// triangle towards the shape.
#include "Physics/neCollideShapes.h"
#include "Physics/neTerrainLoop.h"

#include <algorithm>

void neTriangleWork::build(const vec3d& a, const vec3d& b, const vec3d& c)
{
    v[0] = a;
    v[1] = b;
    v[2] = c;
    edges[0] = b - a;
    edges[1] = c - b;
    edges[2] = a - c;
    normal = edges[0].cross(edges[1]);
    const float length = neLength(normal);
    if (length > 0.0f)
        normal = normal / length;
    d = normal.dot(a);
}

bool neTriangleWork::contains(const vec3d& p) const
{
    for (int k = 0; k < 3; ++k)
        if (edges[k].cross(p - v[k]).dot(normal) < 0.0f)
            return false;
    return true;
}

bool neTriangleWork::containsFromAbove(const vec3d& p) const
{
    for (int k = 0; k < 3; ++k)
        if (edges[k].z * (p.x - v[k].x) - edges[k].x * (p.z - v[k].z) < 0.0f)
            return false;
    return true;
}

namespace
{

// How closely a box or edge axis must follow a ground triangle's normal to
// push a box out of the ground (cos 41 degrees). One turned further pushes
// it along the ground rather than out of it: at a 45 degree wall, across
// the floor, where two such pushes of the two posts of a gate cancel.
// Straight up (as closely) a push always leads out of the ground, which
// lies below its surface: a crest of steep ground under the box, whose
// triangles' normals point across, holds it up.
constexpr float neGroundFacing = 0.75f;

bool leadsOutOfGround(const vec3d& push, const vec3d& normal)
{
    return push.dot(normal) > neGroundFacing || push.y > neGroundFacing;
}

enum Feature
{
    faceInside,
    vertex0, vertex1, vertex2,
    edge0, edge1, edge2, // edge k runs from vertex k to vertex k + 1
};

// The feature of the triangle nearest to p when p's projection misses the triangle.
Feature nearestOutsideFeature(const neTriangleWork& t, const vec3d& p)
{
    const vec3d& a = t.v[0];
    const vec3d& b = t.v[1];
    const vec3d& c = t.v[2];
    const vec3d ab = b - a, ac = c - a;
    const float d1 = ab.dot(p - a), d2 = ac.dot(p - a);
    if (d1 <= 0.0f && d2 <= 0.0f)
        return vertex0;
    const float d3 = ab.dot(p - b), d4 = ac.dot(p - b);
    if (d3 >= 0.0f && d4 <= d3)
        return vertex1;
    if (d1 * d4 - d3 * d2 <= 0.0f && d1 >= 0.0f && d3 <= 0.0f)
        return edge0;
    const float d5 = ab.dot(p - c), d6 = ac.dot(p - c);
    if (d6 >= 0.0f && d5 <= d6)
        return vertex2;
    if (d5 * d2 - d1 * d6 <= 0.0f && d2 >= 0.0f && d6 <= 0.0f)
        return edge2;
    return edge1;
}

// (No contact of a sphere with a triangle lies deeper than its penetration of
// the triangle's plane.)
bool sphereTriangle(const neTriangleWork& t, const vec3d& c, float r, neContactSlot& slot, float floor)
{
    slot.depth = 100000.0f;
    slot.collided = false;
    const float s = t.normal.dot(c) - t.d;
    const float g = s >= 0.0f ? 1.0f : -1.0f;
    const float penetration = r - g * s;
    if (penetration <= 0.0f || penetration <= floor)
        return false;
    if (t.contains(c)) {
        const vec3d n = t.normal * g;
        slot = {c - n * r, c - t.normal * s, n, penetration, true};
        return true;
    }
    const Feature f = nearestOutsideFeature(t, c);
    if (f <= vertex2) {
        const vec3d& corner = t.v[f - vertex0];
        const float distance = neLength(c - corner);
        if (r - distance > 0.0f) {
            const vec3d n = (c - corner) / distance;
            slot = {c - n * r, corner, n, r - distance, true};
        }
        return slot.collided;
    }
    const int k = f - edge0;
    const float length = neLength(t.edges[k]);
    const vec3d e = length < 1e-6f ? vec3d() : t.edges[k] / length;
    const float along = e.dot(c - t.v[k]);
    if (!(along > 0.0f && along < length))
        return false;
    const vec3d q = t.v[k] + e * along;
    const float distance = neLength(c - q);
    const float depth = r - distance;
    if (depth > 0.0f && depth < slot.depth && depth < r) {
        const vec3d n = (c - q) / distance;
        slot = {c - n * r, q, n, depth, true};
    }
    return slot.collided;
}

bool cylinderTriangle(const neTriangleWork& t, const vec3d& position, const vec3d& axis, float r, float h,
                      neContactSlot& slot)
{
    slot.depth = 1000000.0f;
    slot.collided = false;
    float s = t.normal.dot(position) - t.d;
    const vec3d m = s < 0.0f ? t.normal : -t.normal; // from the cylinder towards the plane
    s = -absFloat(s);
    if (r + h <= absFloat(s))
        return false;

    // The face: the end nearer the plane, pushed in by the radius.
    const float k = (axis * h).dot(m);
    const vec3d end = k <= 0.0f ? position - axis * h : position + axis * h;
    const float p0 = k <= 0.0f ? s - k : s + k;
    const vec3d x = end + m * r;
    const float depth = r + p0;
    if (depth <= 0.0f)
        return false;
    if (slot.depth > depth) {
        vec3d crossing;
        const float along = t.normal.dot(x - position);
        if (along != 0.0f) {
            const float u = (t.d - t.normal.dot(position)) / along;
            if (u >= 0.0f && u <= 1.0f)
                crossing = position + (x - position) * u;
        }
        if (t.contains(x - m * depth) && t.contains(crossing)) {
            slot = {x, x - m * depth, -m, depth, true};
            return true;
        }
    }

    // The edges against the axis segment.
    slot.depth = 1000000.0f;
    const vec3d bottom = position - axis * h, top = position + axis * h;
    for (int e = 0; e < 3; ++e) {
        const vec3d& from = t.v[e];
        const vec3d& to = t.v[(e + 1) % 3];
        neSegmentPair pair;
        if (!neSegmentClosestPoints(from, to, bottom, top, pair))
            continue;
        vec3d onAxis = pair.onQ, onEdge = pair.onP, normal;
        if (pair.inside) {
            normal = t.edges[e].cross(axis);
            const float length = neLength(normal);
            if (length == 0.0f)
                continue;
            normal = normal / length;
            if (normal.dot(onAxis - onEdge) < 0.0f)
                normal = -normal;
        } else {
            const vec3d edge = to - from;
            if (!(pair.t > 0.0f && pair.t < 1.0f)) {
                onAxis = pair.t <= 0.0f ? bottom : top;
                if (pair.s > 0.0f && pair.s < 1.0f) {
                    onEdge = from + edge * (edge.dot(onAxis - from) / edge.lengthSq());
                } else {
                    onEdge = pair.s <= 0.0f ? from : to;
                    if ((onAxis - onEdge).lengthSq() >= r * r)
                        continue;
                }
            } else {
                onEdge = pair.s <= 0.0f ? from : to;
                onAxis = bottom + axis * axis.dot(onEdge - bottom);
            }
            const vec3d gap = onAxis - onEdge;
            const float length = neLength(gap);
            // An edge end on the axis itself: out along the face normal, on the cylinder's side.
            normal = length > 0.0f ? gap / length : (t.normal.dot(position) >= t.d ? t.normal : -t.normal);
        }
        // The deepest edge: a shallower one would leave the others overlapping.
        const float depthEdge = r - neLength(onAxis - onEdge);
        if (depthEdge > 0.0f && (!slot.collided || depthEdge > slot.depth))
            slot = {onAxis - normal * r, onEdge, normal, depthEdge, true};
    }
    return slot.collided;
}

// Separating axes of a box and a triangle: the triangle's normal, the box's
// axes and the cross products of box axes and triangle edges, the last two
// worked out in the box's frame (coordinates along its unit axes, from its
// centre). An axis replaces the best only when it overlaps strictly less.
// Every axis after the normal can only make the contact shallower, so a
// triangle stops as soon as its overlap no longer beats floor.
// The triangle's vertices in the box's frame (coordinates along its unit
// axes, from its centre).
void project(const neBoxWork& box, const vec3d& p, float (&out)[3])
{
    const vec3d d = p - box.centre;
    out[0] = d.dot(box.unitAxes[0]);
    out[1] = d.dot(box.unitAxes[1]);
    out[2] = d.dot(box.unitAxes[2]);
}

// projected: the vertices in the box's frame, or null to work them out here.
//
// A ground triangle (see neTerrainTriangles) has the solid ground behind
// it. It pushes a box out to its front only, and along an axis that leads
// out of the ground: an axis across the normal would push the box along
// the surface, into the next triangle, where the surface goes on. A box
// whose centre went under the surface is pushed back out through the
// triangle straight above it; no other triangle whose plane it lies behind
// touches it (on a convex crest, that is the far slope).
bool boxTriangle(const neTriangleWork& t, const neBoxWork& box, neContactSlot& slot, float floor,
                 const neContactSlot* held = nullptr, const float (*projected)[3][3] = nullptr, bool ground = false)
{
    slot.collided = false;

    // The triangle's normal.
    const float s = t.normal.dot(box.centre) - t.d;
    const bool underGround = ground && s < 0.0f;
    if (underGround && !(t.normal.y > 0.0f && t.containsFromAbove(box.centre)))
        return false;
    const vec3d m = s >= 0.0f || ground ? t.normal : -t.normal;
    float p[3], extent = 0.0f;
    for (int i = 0; i < 3; ++i) {
        p[i] = box.axes[i].dot(m);
        extent += absFloat(p[i]);
    }
    const float depthNormal = extent - (underGround ? s : absFloat(s));
    if (depthNormal < 0.0f || depthNormal <= floor)
        return false;
    const float tie = extent * neDepthTie;
    // The box's corners below the triangle's plane, each weighted by how
    // deep it lies there: the contact stands at their middle. A box lying
    // square is pushed at the middle of its face, not at whichever corner
    // the signs name first, which would turn a symmetric body off its line;
    // a tilted or sliding one where it presses hardest, so that the one
    // contact of a step holds it up as its whole face would, however long
    // the step. As a resting contact it stands at the deepest corner.
    const auto faceContact = [&] {
        // Corner k lies 2 |p[i]| higher than the deepest for each bit i of
        // k, and 2 x the half axis across from it.
        vec3d corner = box.centre, up[3];
        for (int i = 0; i < 3; ++i) {
            up[i] = p[i] >= 0.0f ? box.axes[i] : -box.axes[i];
            corner -= up[i];
        }
        float weight = 0.0f, across[3] = {};
        for (int k = 0; k < 8; ++k) {
            float below = depthNormal;
            for (int i = 0; i < 3; ++i)
                below -= (k >> i & 1) ? 2.0f * absFloat(p[i]) : 0.0f;
            if (below <= tie)
                continue;
            weight += below;
            for (int i = 0; i < 3; ++i)
                across[i] += (k >> i & 1) ? below : 0.0f;
        }
        vec3d middle = corner;
        for (int i = 0; i < 3 && weight > 0.0f; ++i)
            middle += up[i] * (2.0f * across[i] / weight);
        return neContactSlot{middle, middle + m * depthNormal, m, depthNormal, true, corner - middle, 0, true};
    };
    // Another triangle under the corner of the contact in hand, as deep (a
    // corner over a shared edge): the axes would find nothing new, only its
    // normal joins.
    if (held && held->fromPlane && absFloat(depthNormal - held->depth) <= tie) {
        const neContactSlot face = faceContact();
        if ((held->pointA - face.pointA).lengthSq() <= tie * tie) {
            slot = face;
            return true;
        }
    }

    if (underGround) {
        slot = faceContact();
        return true;
    }

    float v[3][3]; // the vertices in the box's frame
    for (int k = 0; k < 3; ++k) {
        if (projected)
            for (int i = 0; i < 3; ++i)
                v[k][i] = (*projected)[k][i];
        else
            project(box, t.v[k], v[k]);
    }
    const float h[3] = {box.half.x, box.half.y, box.half.z};

    // The box's axes. An axis must give a shallower contact than the
    // triangle's normal by more than the tie: one nearly along the normal
    // (a box lying all but square) would otherwise win by rounding, with a
    // vertex of the triangle, wherever that lies, as its contact.
    float depth = depthNormal - tie;
    int boxAxis = -1;
    bool boxUp = false;
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        int lowest = 0, highest = 0;
        for (int k = 1; k < 3; ++k) {
            if (v[k][i] < v[lowest][i])
                lowest = k;
            if (v[k][i] > v[highest][i])
                highest = k;
        }
        const float low = v[lowest][i], high = v[highest][i];
        if (h[i] <= low || -h[i] >= high)
            return false;
        const bool up = high + h[i] <= h[i] - low;
        const float overlap = up ? high + h[i] : h[i] - low;
        if (overlap < depth && (!ground || leadsOutOfGround(box.unitAxes[i] * (up ? 1.0f : -1.0f), m))) {
            depth = overlap;
            boxAxis = i;
            boxUp = up;
        }
    }
    if (boxAxis < 0)
        depth = depthNormal;
    if (depth <= floor)
        return false;
    // The triangle's vertex deepest in the box, and its point on the box's
    // face; vertices as deep within the tie give their middle (of the box
    // around them, the same in any vertex order).
    const auto boxAxisContact = [&] {
        const vec3d normal = boxUp ? box.unitAxes[boxAxis] : -box.unitAxes[boxAxis];
        float deepestAt = v[0][boxAxis];
        for (int k = 1; k < 3; ++k)
            deepestAt = boxUp ? std::max(deepestAt, v[k][boxAxis]) : std::min(deepestAt, v[k][boxAxis]);
        vec3d low(1e30f, 1e30f, 1e30f), high(-1e30f, -1e30f, -1e30f);
        for (int k = 0; k < 3; ++k)
            if (absFloat(v[k][boxAxis] - deepestAt) <= tie)
                for (int i = 0; i < 3; ++i) {
                    low[i] = std::min(low[i], t.v[k][i]);
                    high[i] = std::max(high[i], t.v[k][i]);
                }
        const vec3d vertex = (low + high) * 0.5f;
        return neContactSlot{vertex - normal * depth, vertex, normal, depth, true, {}, 1};
    };
    // The box-axis contact in hand again (at a vertex the triangles share):
    // the edges could only make this one shallower.
    if (held && boxAxis >= 0 && held->rank == 1 && absFloat(depth - held->depth) <= tie) {
        const neContactSlot again = boxAxisContact();
        if ((again.pointB - held->pointB).lengthSq() <= tie * tie && again.normal.dot(held->normal) >= 1.0f - 1e-6f) {
            slot = again;
            return true;
        }
    }

    // Box axes against triangle edges, which must be shallower by more than
    // the tie as well.
    float edgeDepth = depth - tie;
    int edgeAxis = -1, edgeIndex = 0;
    float edgeNormal[3] = {};
#pragma GCC unroll 3
    for (int i = 0; i < 3; ++i) {
        const int k1 = (i + 1) % 3, k2 = (i + 2) % 3;
#pragma GCC unroll 3
        for (int j = 0; j < 3; ++j) {
            const float* from = v[j];
            const float* to = v[(j + 1) % 3];
            const float* other = v[(j + 2) % 3];
            // Axis i crossed with the edge, in the box's frame: no part along
            // axis i. Left at its length until it wins: the tests only compare.
            const float a1 = -(to[k2] - from[k2]), a2 = to[k1] - from[k1];
            const float lengthSq = a1 * a1 + a2 * a2;
            if (lengthSq == 0.0f)
                continue;
            const float reach = h[k1] * absFloat(a1) + h[k2] * absFloat(a2);
            const float edgeAt = a1 * from[k1] + a2 * from[k2], opposite = a1 * other[k1] + a2 * other[k2];
            const bool edgeLow = edgeAt <= opposite;
            const float low = edgeLow ? edgeAt : opposite, high = edgeLow ? opposite : edgeAt;
            if (reach <= low || -reach >= high)
                return false;
            const float scaled = edgeLow ? reach - low : high + reach;
            if (scaled * scaled >= edgeDepth * edgeDepth * lengthSq)
                continue;
            const float inverse = 1.0f / fastSqrt(lengthSq);
            const float overlap = scaled * inverse;
            const float sign = edgeLow ? -inverse : inverse;
            if (overlap < edgeDepth
                && (!ground || leadsOutOfGround(box.unitAxes[k1] * (a1 * sign) + box.unitAxes[k2] * (a2 * sign), m))) {
                edgeNormal[i] = 0.0f;
                edgeNormal[k1] = a1 * sign;
                edgeNormal[k2] = a2 * sign;
                edgeDepth = overlap;
                edgeAxis = i;
                edgeIndex = j;
            }
        }
    }
    if (edgeAxis >= 0) {
        // The box edge along the winning axis that lies deepest against the
        // normal, and the triangle's edge: their closest points are the
        // contact. Edges whose closest points lie beyond an end give none,
        // and the face or box axis stands.
        const vec3d normal = box.unitAxes[0] * edgeNormal[0] + box.unitAxes[1] * edgeNormal[1]
                             + box.unitAxes[2] * edgeNormal[2];
        const int i = edgeAxis, k1 = (i + 1) % 3, k2 = (i + 2) % 3;
        const vec3d towards = -normal;
        const vec3d offset = box.axes[k1] * (box.axes[k1].dot(towards) >= 0.0f ? 1.0f : -1.0f)
                             + box.axes[k2] * (box.axes[k2].dot(towards) >= 0.0f ? 1.0f : -1.0f);
        const vec3d middle = box.centre + offset;
        vec3d onBox, onTriangle;
        if (neSegmentClosestPoints(middle + box.axes[i], middle - box.axes[i], t.v[edgeIndex], t.v[(edgeIndex + 1) % 3],
                                   onBox, onTriangle)) {
            slot = {onBox, onTriangle, normal, edgeDepth, true, {}, 2};
            return true;
        }
    }
    if (boxAxis >= 0) {
        slot = boxAxisContact();
        return true;
    }
    slot = faceContact();
    return true;
}

// Mode 1: the corners of the box that stand below the triangle, seen from
// above, are pushed up vertically; the deepest one gives the contact.
bool boxHeightTriangle(const neTriangleWork& t, neBoxWork& box, neContactSlot& slot)
{
    slot.collided = false;
    // A wall gives no height to push a corner up to.
    if (absFloat(t.normal.y) < 1e-4f)
        return false;
    const vec3d up = t.normal.y > 0.0f ? t.normal : -t.normal;
    neBoxCorners(box);
    float best = 0.0f;
    for (const vec3d& corner : box.corners) {
        float side[3];
        for (int k = 0; k < 3; ++k) {
            const vec3d& from = t.v[k == 1 ? 1 : 0];
            side[k] = t.edges[k].x * (corner.z - from.z) - t.edges[k].z * (corner.x - from.x);
        }
        if (!(side[1] * side[2] >= 0.0f && side[0] * side[2] >= 0.0f))
            continue;
        const float y = (t.d - t.normal.x * corner.x - t.normal.z * corner.z) / t.normal.y;
        const float penetration = y - corner.y;
        if (penetration > best) {
            best = penetration;
            slot = {corner, {corner.x, y, corner.z}, up, penetration, true};
        }
    }
    return slot.collided;
}

} // namespace

void neCollideSphereTerrain(neCollisionResult& r, const neGeometry& sphere, const matrix3d& world,
                            const neGeometry& terrain)
{
    const vec3d c = nePosition(world);
    const float radius = sphere.shape.round.radius;
    const vec3d reach{radius, radius, radius};
    neTerrainLoop(r, terrain, c - reach, c + reach, false, [&](const neTriangleWork& t, const neTriangle& triangle, neContactSlot& slot, float floor, const neContactSlot*) {
        return triangle.mode == neTrianglePlain && sphereTriangle(t, c, radius, slot, floor);
    });
}

void neCollideCylinderTerrain(neCollisionResult& r, const neGeometry& cylinder, const matrix3d& world,
                              const neGeometry& terrain)
{
    const vec3d position = nePosition(world), axis = neAxis(world, 1);
    const float radius = cylinder.shape.round.radius, h = cylinder.shape.round.halfLength;
    const vec3d reach{absFloat(axis.x) * h + radius, absFloat(axis.y) * h + radius, absFloat(axis.z) * h + radius};
    neTerrainLoop(r, terrain, position - reach, position + reach, false, [&](const neTriangleWork& t, const neTriangle& triangle, neContactSlot& slot, float, const neContactSlot*) {
        return triangle.mode == neTrianglePlain && cylinderTriangle(t, position, axis, radius, h, slot);
    });
}

namespace
{

// The terrain's vertices in the box's frame, each worked out once per call
// (a vertex is shared by about six triangles). One set for the engine: the
// narrow phase runs on the stepping thread only.
struct ProjectedVertices
{
    static constexpr int32_t capacity = 1024;
    float coordinates[capacity][3];
    uint32_t stamps[capacity] = {};
    uint32_t stamp = 0;
};
ProjectedVertices projectedVertices;

} // namespace

void neCollideBoxTerrain(neCollisionResult& r, const neGeometry& box, const matrix3d& world, const neGeometry& terrain)
{
    neBoxWork work(world, box.halfExtents());
    vec3d lo, hi;
    work.bounds(lo, hi);
    const neTerrainTriangles& t = terrain.shape.terrain;
    ProjectedVertices& cache = projectedVertices;
    if (++cache.stamp == 0) {
        for (uint32_t& s : cache.stamps)
            s = 0;
        cache.stamp = 1;
    }
    const bool cached = t.vertexCount <= ProjectedVertices::capacity;
    const float h[3] = {work.half.x, work.half.y, work.half.z};
    const float tieReach = (h[0] + h[1] + h[2]) * neDepthTie;
    // A triangle's vertices in the box's frame, from the cache.
    const auto projectTriangle = [&](const neTriangle& triangle, float (&v)[3][3]) {
        for (int k = 0; k < 3; ++k) {
            const int32_t index = triangle.indices[k];
            if (cache.stamps[index] != cache.stamp) {
                project(work, t.vertices[index], cache.coordinates[index]);
                cache.stamps[index] = cache.stamp;
            }
            for (int i = 0; i < 3; ++i)
                v[k][i] = cache.coordinates[index][i];
        }
    };
    const auto isGround = [&](const neTriangle& triangle) { return t.isGround(int32_t(&triangle - t.triangles)); };
    neTerrainLoop(
        r, terrain, lo, hi, true,
        [&](const neTriangleWork& tw, const neTriangle& triangle, neContactSlot& slot, float floor, const neContactSlot* held) {
            if (triangle.mode == neTriangleHeightField)
                return boxHeightTriangle(tw, work, slot);
            if (triangle.mode != neTrianglePlain)
                return false;
            if (!cached)
                return boxTriangle(tw, work, slot, floor, held, nullptr, isGround(triangle));
            float v[3][3];
            projectTriangle(triangle, v);
            return boxTriangle(tw, work, slot, floor, held, &v, isGround(triangle));
        },
        [&](const neTriangle& triangle) {
            // No axis gives a deeper contact than the box's own axes do: their
            // overlap bounds the triangle's contact, before it is built.
            if (triangle.mode == neTriangleHeightField || !cached)
                return 1e30f;
            if (triangle.mode != neTrianglePlain)
                return -1e30f;
            float v[3][3];
            projectTriangle(triangle, v);
            // The ground's contact is no deeper than along its normal and the
            // axes that lead out of it (or up); a box under the ground is tested
            // whatever its axes say.
            const bool ground = isGround(triangle);
            vec3d n;
            float nn = 0.0f, deepest = 1e30f;
            if (ground) {
                const vec3d a(v[0][0], v[0][1], v[0][2]), b(v[1][0], v[1][1], v[1][2]), c(v[2][0], v[2][1], v[2][2]);
                n = (b - a).cross(c - b);
                const float below = n.dot(a);
                if (below > 0.0f)
                    return 1e30f;
                nn = n.lengthSq();
                if (nn > 0.0f)
                    deepest = (h[0] * absFloat(n.x) + h[1] * absFloat(n.y) + h[2] * absFloat(n.z) + below) / fastSqrt(nn);
                nn *= neGroundFacing * neGroundFacing;
            }
            for (int i = 0; i < 3; ++i) {
                const float low = std::min({v[0][i], v[1][i], v[2][i]});
                const float high = std::max({v[0][i], v[1][i], v[2][i]});
                if (h[i] <= low || -h[i] >= high)
                    return -1e30f;
                const bool up = high + h[i] <= h[i] - low;
                const float out = up ? n[i] : -n[i];
                const float rise = up ? work.unitAxes[i].y : -work.unitAxes[i].y;
                if (!ground || (out > 0.0f && out * out > nn) || rise > neGroundFacing)
                    deepest = std::min(deepest, up ? high + h[i] : h[i] - low);
            }
            // The triangle's normal wins over a box axis within the tie.
            return deepest + tieReach;
        },
        true);
}

void neCollideBoxTriangle(neCollisionResult& r, const neGeometry& box, const matrix3d& boxWorld,
                          const neGeometry& triangle, const matrix3d& triangleWorld)
{
    r.collided = 0;
    const auto& data = triangle.shape.triangle;
    if (!data.vertices)
        return;
    vec3d v[3];
    for (int k = 0; k < 3; ++k) {
        if (data.index[k] < 0 || data.index[k] >= data.vertexCount)
            return;
        v[k] = neFromFrame(triangleWorld, data.vertices[data.index[k]]);
    }
    neTriangleWork work;
    work.build(v[0], v[1], v[2]);
    if (work.normal.lengthSq() == 0.0f)
        return;
    neContactSlot slot;
    if (!boxTriangle(work, neBoxWork(boxWorld, box.halfExtents()), slot, -1000000.0f))
        return;
    // Both points as every other test gives them: point B the depth along the
    // normal from point A (on a face contact too, not point A twice).
    r.set(slot.normal, slot.depth, slot.pointA, slot.pointB);
}
