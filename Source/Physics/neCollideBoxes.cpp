// The box / box test: separating axes over the three face normals of each
// box, then over the nine cross products of their edges. The axes of B are
// taken in A's frame once (the products a_i . b_j), so that every axis is
// measured from that table.
#include "Physics/neCollision.h"

#include <utility>

namespace
{

struct Box
{
    vec3d centre;
    vec3d axes[3];   // unit
    vec3d scaled[3]; // times the half extent
    float half[3];

    Box(const matrix3d& world, const vec3d& h) : centre(nePosition(world)), half{h.x, h.y, h.z}
    {
        for (int i = 0; i < 3; ++i) {
            axes[i] = neAxis(world, i);
            scaled[i] = axes[i] * h[i];
        }
    }

    // The sum of the scaled axes other than skip (-1: all), each turned
    // towards n. An axis across n within the tie adds nothing: the vertices
    // it tells apart lie equally deep, and their middle stands for them;
    // single, when given, takes it turned away, as one vertex of them.
    vec3d towards(const vec3d& n, int skip, vec3d* single = nullptr) const
    {
        const float tie = (half[0] + half[1] + half[2]) * neDepthTie;
        vec3d t{}, one{};
        for (int i = 0; i < 3; ++i) {
            if (i == skip)
                continue;
            const float along = scaled[i].dot(n);
            const vec3d turned = along > 0.0f ? scaled[i] : -scaled[i];
            one += turned;
            if (absFloat(along) > tie)
                t += turned;
        }
        if (single)
            *single = one;
        return t;
    }
};

struct Work
{
    vec3d p, q, normal;
    vec3d restShift; // from the points to a single vertex of tied ones
    float depth = 100000.0f;
    bool found = false;
};

// The face axes of f against the other box o, with r[k][j] = f's axis k . o's
// axis j and t[k] = f's axis k . (o's centre - f's centre); false when one
// separates them.
bool testFaces(const Box& f, const Box& o, const float r[3][3], const float t[3], Work& w)
{
    for (int k = 0; k < 3; ++k) {
        const float depth = f.half[k] - absFloat(t[k]) + absFloat(o.half[0] * r[k][0])
                            + absFloat(o.half[1] * r[k][1]) + absFloat(o.half[2] * r[k][2]);
        if (depth <= 0.0f)
            return false;
        const bool better = depth + 0.0001f < w.depth;
        if (!better && !(absFloat(depth - w.depth) < 1e-6f))
            continue;
        const vec3d n = t[k] < 0.0f ? -f.axes[k] : f.axes[k];
        vec3d single;
        const vec3d reach = o.towards(n, -1, &single);
        const vec3d q = o.centre - reach; // o's vertex deepest towards f
        if (!better) {
            // Equal depths: the face wins only where the vertex lies within it.
            const int j1 = (k + 1) % 3, j2 = (k + 2) % 3;
            if (!(absFloat((q - f.centre).dot(f.axes[j1])) <= f.half[j1] * 1.001f
                  && absFloat((q - f.centre).dot(f.axes[j2])) <= f.half[j2] * 1.001f))
                continue;
        }
        w.p = q;
        w.q = q + n * depth;
        w.restShift = reach - single;
        w.normal = n;
        w.depth = depth;
        w.found = true;
    }
    return true;
}

} // namespace

void neCollideBoxes(neCollisionResult& r, const neGeometry& ga, const neGeometry& gb, const matrix3d& wa,
                    const matrix3d& wb)
{
    r.collided = 0;
    const Box a(wa, ga.halfExtents()), b(wb, gb.halfExtents());
    const vec3d d = b.centre - a.centre;
    float ab[3][3], ba[3][3], ta[3], tb[3];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            ab[i][j] = ba[j][i] = a.axes[i].dot(b.axes[j]);
        ta[i] = a.axes[i].dot(d);
        tb[i] = -b.axes[i].dot(d);
    }
    Work w;
    if (!testFaces(a, b, ab, ta, w))
        return;
    // From here on P lies on A, Q on B and the normal points from B towards A.
    w.normal = -w.normal;
    std::swap(w.p, w.q);
    if (!testFaces(b, a, ba, tb, w))
        return;

    // Edge axes a_i x b_j, in A's frame (n[k] = a_k . axis), left at their
    // length until one wins: the depths only compare.
    float edgeDepth = w.depth;
    vec3d edgeNormal;
    int edgeI = -1, edgeJ = -1;
    for (int i = 0; i < 3; ++i) {
        const int i1 = (i + 1) % 3, i2 = (i + 2) % 3;
        for (int j = 0; j < 3; ++j) {
            const int j1 = (j + 1) % 3, j2 = (j + 2) % 3;
            float n[3];
            n[i] = 0.0f;
            n[i1] = -ab[i2][j];
            n[i2] = ab[i1][j];
            const float lengthSq = n[i1] * n[i1] + n[i2] * n[i2];
            if (lengthSq < 1e-12f)
                continue;
            // B's axis l . (a_i x b_j) is +-(a_i . b_m) for the third axis m of B.
            const float depthScaled = -absFloat(n[i1] * ta[i1] + n[i2] * ta[i2]) + absFloat(a.half[i1] * n[i1])
                                      + absFloat(a.half[i2] * n[i2]) + absFloat(b.half[j1] * ab[i][j2])
                                      + absFloat(b.half[j2] * ab[i][j1]);
            if (depthScaled <= 0.0f)
                return;
            if (depthScaled * depthScaled >= edgeDepth * edgeDepth * lengthSq)
                continue;
            const float length = fastSqrt(lengthSq);
            const float depth = depthScaled / length;
            if (depth < edgeDepth) {
                edgeDepth = depth;
                edgeI = i;
                edgeJ = j;
                edgeNormal = (a.axes[i1] * n[i1] + a.axes[i2] * n[i2]) / length;
                if (edgeNormal.dot(d) < 0.0f)
                    edgeNormal = -edgeNormal; // from A towards B
            }
        }
    }
    if (edgeI >= 0) {
        // The edge of A lies on A's side towards B, the edge of B on B's side towards A.
        // Each edge as the single one of its kind: a tie here would put it
        // inside its box.
        vec3d towardsB, towardsA;
        a.towards(edgeNormal, edgeI, &towardsB);
        b.towards(edgeNormal, edgeJ, &towardsA);
        const vec3d ea = a.centre + towardsB, eb = b.centre - towardsA;
        vec3d onA, onB;
        if (neSegmentClosestPoints(ea + a.scaled[edgeI], ea - a.scaled[edgeI], eb + b.scaled[edgeJ],
                                   eb - b.scaled[edgeJ], onA, onB)) {
            w.p = onA;
            w.q = onB;
            w.restShift = {};
        }
        w.depth = edgeDepth;
        w.normal = -edgeNormal;
        w.found = true;
    }
    if (w.found) {
        r.set(w.normal, w.depth, w.p, w.q);
        r.restShift = w.restShift;
    }
}
