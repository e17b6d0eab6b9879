// The box / box test: separating axes over the three face normals of each
// box, then over the nine cross products of their edges.
#include "Physics/neCollision.h"

#include <utility>

namespace
{

struct Box
{
    vec3d centre;
    vec3d axes[3];   // unit
    vec3d scaled[3]; // times the half extent
    vec3d half;

    Box(const matrix3d& world, const vec3d& h) : centre(nePosition(world)), half(h)
    {
        for (int i = 0; i < 3; ++i) {
            axes[i] = neAxis(world, i);
            scaled[i] = axes[i] * h[i];
        }
    }

    // The box's reach along n over the scaled axes other than skip (-1: all),
    // and the sum of those axes turned towards n.
    float reach(const vec3d& n, int skip, vec3d& towards) const
    {
        float r = 0.0f;
        towards = {};
        for (int i = 0; i < 3; ++i) {
            if (i == skip)
                continue;
            const float p = scaled[i].dot(n);
            const float sign = p > 0.0f ? 1.0f : -1.0f;
            r += sign * p;
            towards += scaled[i] * sign;
        }
        return r;
    }
};

struct Work
{
    vec3d p, q, normal;
    float depth = 100000.0f;
    bool found = false;
};

// The face axes of f against the other box o; false when one separates them.
bool testFaces(const Box& f, const Box& o, Work& w)
{
    for (int k = 0; k < 3; ++k) {
        vec3d n = f.axes[k];
        const float d = n.dot(o.centre - f.centre);
        if (d < 0.0f)
            n = -n;
        vec3d towards;
        const float depth = f.half[k] - absFloat(d) + o.reach(n, -1, towards);
        if (depth <= 0.0f)
            return false;
        const vec3d q = o.centre - towards; // o's vertex deepest towards f
        bool better = depth + 0.0001f < w.depth;
        if (!better && absFloat(depth - w.depth) < 1e-6f) {
            // Equal depths: the face wins only where the vertex lies within it.
            const int j1 = (k + 1) % 3, j2 = (k + 2) % 3;
            better = absFloat((q - f.centre).dot(f.axes[j1])) <= f.half[j1] * 1.001f
                     && absFloat((q - f.centre).dot(f.axes[j2])) <= f.half[j2] * 1.001f;
        }
        if (better) {
            w.p = q;
            w.q = q + n * depth;
            w.normal = n;
            w.depth = depth;
            w.found = true;
        }
    }
    return true;
}

} // namespace

void neCollideBoxes(neCollisionResult& r, const neGeometry& ga, const neGeometry& gb, const matrix3d& wa,
                    const matrix3d& wb)
{
    r.collided = 0;
    const Box a(wa, ga.halfExtents()), b(wb, gb.halfExtents());
    Work w;
    if (!testFaces(a, b, w))
        return;
    // From here on P lies on A, Q on B and the normal points from B towards A.
    w.normal = -w.normal;
    std::swap(w.p, w.q);
    if (!testFaces(b, a, w))
        return;

    float edgeDepth = w.depth;
    vec3d edgeNormal, edgeA[2], edgeB[2];
    bool edgeWon = false;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            vec3d n = a.axes[i].cross(b.axes[j]);
            const float length = neLength(n);
            if (length < 1e-6f)
                continue;
            n = n / length;
            const float d = n.dot(b.centre - a.centre);
            if (d < 0.0f)
                n = -n;
            vec3d towardsA, towardsB;
            const float depth = -absFloat(d) + a.reach(n, i, towardsA) + b.reach(n, j, towardsB);
            if (depth <= 0.0f)
                return;
            if (depth < edgeDepth) {
                edgeDepth = depth;
                edgeNormal = n;
                const vec3d ea = a.centre + towardsA, eb = b.centre - towardsB;
                edgeA[0] = ea + a.scaled[i];
                edgeA[1] = ea - a.scaled[i];
                edgeB[0] = eb + b.scaled[j];
                edgeB[1] = eb - b.scaled[j];
                edgeWon = true;
            }
        }
    }
    if (edgeWon) {
        vec3d onA, onB;
        if (neSegmentClosestPoints(edgeA[0], edgeA[1], edgeB[0], edgeB[1], onA, onB)) {
            w.p = onA;
            w.q = onB;
        }
        w.depth = edgeDepth;
        w.normal = -edgeNormal;
        w.found = true;
    }
    if (w.found)
        r.set(w.normal, w.depth, w.p, w.q);
}
