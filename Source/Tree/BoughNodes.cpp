#include "Tree/Bough.h"

#include "Tree/TreeParameters.h"

#include "Core/DynArray.h"
#include "Core/Math.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

namespace {

using Node = Tree::Bough::Node;
using Level = Tree::Bough::Param::BoneParam::Level;

constexpr float twoPi = 2.0f * 3.14159265358979323846f;
// The step of the tangent's difference quotient along a curve.
constexpr float tangentStep = 0.001f;
// A segment is cut into at most this many steps, whatever its length and
// density, and a bough has at most maxRings rings.
constexpr float smallestStep = 1.0f / 1024.0f;
constexpr uint32_t maxRings = 2048;
// Ring vertices of one pass over a hierarchy, four times what one mesh can
// index: rings past it are not made, so damaged skeletons cost bounded memory.
constexpr int64_t passVertexBudget = 4 * 65536;

float uniform()
{
    return float(rand()) * (1.0f / 32767.0f);
}


// A point, tangent and radius of the curve through a chain of bones.
struct CurvePoint
{
    vec3d position;
    vec3d tangent;
    float radius = 0.0f;
};

// The cubic curve of segment k of bones[0..count): from bone k to bone k + 1
// (the last bone when k + 1 is past it), its handles along the chords of the
// neighbouring bones, a third of the segment long.
class Segment
{
public:
    Segment(const Tree::Bone* bones, uint32_t count, uint32_t k)
    {
        const auto at = [bones, count](int64_t i) -> const Tree::Bone& {
            return bones[std::clamp<int64_t>(i, 0, int64_t(count) - 1)];
        };
        const Tree::Bone& b0 = at(k);
        const Tree::Bone& b1 = at(int64_t(k) + 1);
        p0_ = b0.position;
        p3_ = b1.position;
        r0_ = b0.radius;
        r1_ = b1.radius;
        const float handle = (p0_ - p3_).length() / 3.0f;
        const vec3d t0 = b1.position - at(int64_t(k) - 1).position;
        const vec3d t1 = at(int64_t(k) + 2).position - b0.position;
        p1_ = p0_ + t0.normalised() * handle;
        p2_ = p3_ - t1.normalised() * handle;
    }

    vec3d point(float t) const
    {
        const float s = 1.0f - t;
        return p0_ * (s * s * s) + p1_ * (3.0f * t * s * s) + p2_ * (3.0f * t * t * s) + p3_ * (t * t * t);
    }

    CurvePoint at(float t) const
    {
        const float s = 1.0f - t;
        CurvePoint c;
        c.position = point(t);
        c.tangent = (point(t + tangentStep) - c.position).normalised();
        c.radius = (s * s * s + 3.0f * t * s * s) * r0_ + (3.0f * t * t * s + t * t * t) * r1_;
        return c;
    }

private:
    vec3d p0_, p1_, p2_, p3_;
    float r0_ = 0.0f, r1_ = 0.0f;
};

// The frame across a tangent: the direction of angle a around the ring is
// sin(a) * A + cos(a) * C. A tangent along z has no part of z across it; the
// frame then starts from y, so the ring keeps its size.
struct RingFrame
{
    vec3d a, c;

    explicit RingFrame(const vec3d& tangent)
    {
        const vec3d z(0.0f, 0.0f, 1.0f);
        a = (z - tangent * z.dot(tangent)).normalised();
        if (a.lengthSq() < 1e-12f) {
            const vec3d y(0.0f, 1.0f, 0.0f);
            a = (y - tangent * y.dot(tangent)).normalised();
        }
        c = tangent.cross(a);
    }

    vec3d direction(float angle) const { return a * floatSin(angle) + c * floatCos(angle); }
};

void grow(Tree::Bough::Box& box, const vec3d& p)
{
    for (int axis = 0; axis < 3; ++axis) {
        box.minimum[axis] = std::min(box.minimum[axis], p[axis]);
        box.maximum[axis] = std::max(box.maximum[axis], p[axis]);
    }
}

bool prepare(Node& node, int32_t count)
{
    if (!node.vertices.resize(count) || !node.angles.resize(count)) {
        node.vertices.deleteArray();
        node.angles.deleteArray();
        node.vertexCount = 0;
        return false;
    }
    node.vertexCount = count;
    return true;
}

// The ring pass over one bough.
class RingPass
{
public:
    RingPass(const Tree::Bough::Param& param, float& ribbonStart, int64_t& budget)
        : param_(param), ribbonStart_(ribbonStart), budget_(budget)
    {
    }

    void run(Tree::Bough& bough);

private:
    // Fills the next ring slot; false when the bough or the pass has no room.
    bool addRing(Tree::Bough& bough, const Level& rec, uint32_t bone, float t, const vec3d& centre,
                 const vec3d& tangent, float radius, float distance, bool key, float rootZoneEnd);

    const Tree::Bough::Param& param_;
    float& ribbonStart_;
    int64_t& budget_;
    DynArray<Node> rings_{32};
};

bool RingPass::addRing(Tree::Bough& bough, const Level& rec, uint32_t bone, float t, const vec3d& centre,
                       const vec3d& tangent, float radius, float distance, bool key, float rootZoneEnd)
{
    if (bough.nodeCount >= maxRings || budget_ <= 0)
        return false;
    Node* ring = rings_.at(int32_t(bough.nodeCount));
    if (!ring)
        return false;
    if (rec.ribbon)
        ring->genRibbon(bough, param_, centre, tangent, ribbonStart_, distance);
    else
        ring->genRing(bough, param_, bone, t, centre, tangent, radius, distance, key, rootZoneEnd);
    budget_ -= ring->vertexCount;
    ++bough.nodeCount;
    return true;
}

void RingPass::run(Tree::Bough& bough)
{
    const Tree::Bough::Param::BoneParam& bp = param_.bone;
    const Tree::Bough::Param::MeshParam& mp = param_.mesh;
    const Tree::Bough::Param::RootParam& rp = param_.root;
    bough.nodes.deleteArray();
    bough.nodeCount = 0;
    const uint32_t boneCount = std::min(bough.boneCount, uint32_t(bough.bones.count()));
    if (boneCount == 0)
        return;
    const Tree::Bone* bones = bough.bones.data();
    bough.box.minimum = bough.box.maximum = bones[0].position;

    const Level& rec = bp.level(bough.level);
    const float length = bp.extent;
    const float resolution = float(rec.resolution);
    const float density = (resolution * (1.0f - mp.fixedRingShare) + mp.fixedRingShare * 1000.0f) / length;
    const float rootDensity = (resolution * (1.0f - rp.fixedRingShare) + rp.fixedRingShare * 1000.0f) / length;
    const float quarterDensity = float(rec.resolution / 4) / length;
    // Where the root zone ends: the first bone past it, or the last bone when
    // every bone lies in the zone.
    const uint32_t rootBones = bough.rootCount ? bough.rootBoneCount : 0;
    const float rootZoneEnd = rootBones ? bones[std::min(rootBones, boneCount - 1)].distance : 0.0f;
    if (rec.ribbon && ribbonStart_ == std::numeric_limits<float>::lowest())
        ribbonStart_ = bones[0].distance;

    vec3d lastTangent = bones[boneCount - 1].direction;
    float lastRadius = 0.0f;
    bool room = true;
    for (uint32_t k = 0; k + 1 < boneCount && room; ++k) {
        const bool inRoot = k < rootBones;
        bool key = bones[k].hasChildren != 0 || k == 0;
        const float d0 = bones[k].distance;
        const float span = bones[k + 1].distance - d0;
        // A segment whose distance does not grow has no rings inside it.
        if (!(span > 0.0f && std::isfinite(span)))
            continue;
        const Segment segment(bones, boneCount, k);
        const auto stepFor = [span](float ringDensity) {
            const float step = 1.0f / (span * ringDensity);
            return std::isfinite(step) && step > 0.0f ? std::max(step, smallestStep) : 2.0f;
        };
        float step = stepFor(inRoot ? rootDensity : density);
        for (float t = 0.0f; t < 1.0f - step / 2.0f; t += step) {
            const CurvePoint c = segment.at(t);
            const bool turned = c.tangent.dot(lastTangent) < mp.directionThreshold;
            const bool shrank = lastRadius - c.radius > mp.radiusShrink;
            if (!(inRoot || key || bough.nodeCount == 0 || turned || shrank))
                continue;
            const float x = d0 + span * t;
            if (inRoot) {
                const float w = floatPow(x / rootZoneEnd, rp.ringStepExponent);
                step = stepFor(rootDensity * (1.0f - w) + quarterDensity * w);
            }
            if (!addRing(bough, rec, k, t, c.position, c.tangent, c.radius, x, key, rootZoneEnd)) {
                room = false;
                break;
            }
            key = false;
            lastTangent = c.tangent;
            lastRadius = c.radius;
        }
    }
    // The closing ring at the last bone.
    if (bough.nodeCount < maxRings && budget_ > 0)
        addRing(bough, rec, boneCount - 1, 0.0f, bones[boneCount - 1].position, lastTangent, bp.minRadius, bough.end,
                false, rootZoneEnd);

    const int32_t made = int32_t(bough.nodeCount);
    bough.nodes.resize(made);
    for (int32_t i = 0; i < made; ++i)
        *bough.nodes.at(i) = std::move(*rings_.at(i));
}

} // namespace

void Tree::Bough::Node::genRing(Bough& bough, const Param& param, uint32_t bone, float t, const vec3d& centre,
                                const vec3d& tangent, float radius, float distance, bool key, float rootZoneEnd)
{
    const Param::MeshParam& mp = param.mesh;
    const Param::RootParam& rp = param.root;
    const float startRadius = param.bone.startRadius;
    const float tipShare = distance / bough.end;
    const bool inRoot = bone < (bough.rootCount ? bough.rootBoneCount : 0);

    int32_t n = 1;
    if (radius > 0.0f) {
        float wanted;
        if (inRoot) {
            const float w = floatPow(distance / rootZoneEnd, rp.vertexBlendExponent);
            wanted = (1.0f - w) * float(rp.ringVertexCount) + w * float(mp.ringVertexCount);
        } else {
            wanted = roundHalfDown(radius / startRadius * float(mp.ringVertexCount)) + 2.0f;
        }
        // NaN and small counts take the least a ring needs.
        n = wanted >= 4.0f ? int32_t(std::min(wanted, float(maxVertices))) : 4;
    }
    if (!prepare(*this, n))
        return;

    const RingFrame frame(tangent);
    const float angleStep = n > 1 ? twoPi / float(n - 1) : 0.0f;
    const float scale = floatPow(radius / startRadius, mp.textureExponent.x);
    const float u0 = (0.5f - 0.5f * scale) * mp.textureRepeat.x + mp.textureOffsetU * tipShare;
    const float v = -floatPow(tipShare, mp.textureExponent.y) * mp.textureRepeat.y;
    const bool rough = !key && !inRoot;
    float firstRadius = radius;
    for (int32_t k = 0; k < n; ++k) {
        const float angle = float(k) * angleStep;
        const vec3d d = frame.direction(angle);
        float r = radius > 0.0f ? radius : 0.0f;
        if (rough && n > 1) {
            // The seam's two vertices share one radius.
            if (k < n - 1)
                r = (mp.barkRoughness * uniform() + (1.0f - mp.barkRoughness / 2.0f)) * radius;
            else
                r = firstRadius;
        }
        vec3d normal = d;
        if (inRoot) {
            for (uint32_t j = 0; j < bough.rootCount && j < uint32_t(bough.roots.count()); ++j) {
                Root& root = *bough.roots.at(int32_t(j));
                const uint32_t count = std::min(bough.rootBoneCount, uint32_t(root.count()));
                if (bone >= count)
                    continue;
                const vec3d q = Segment(root.data(), count, bone).point(t);
                const float rho = root.at(int32_t(bone))->radius;
                const vec3d e = q - centre;
                const float p = e.dot(d);
                const float reach = p * p - e.dot(e) + rho * rho;
                if (!(reach > 0.0f))
                    continue;
                const float far = p + floatSqrt(reach);
                if (far > r) {
                    r = far;
                    normal = (centre + d * far - q) / rho;
                }
            }
        }
        if (k == 0)
            firstRadius = r;
        Vertex& vertex = *vertices.at(k);
        vertex.position = centre + d * r;
        vertex.normal = normal;
        vertex.uv = vec2d(angle * scale * mp.textureRepeat.x / twoPi + u0, v);
        *angles.at(k) = angle;
        grow(bough.box, vertex.position);
    }
}

void Tree::Bough::Node::genRibbon(Bough& bough, const Param& param, const vec3d& centre, const vec3d& tangent,
                                  float ribbonStart, float distance)
{
    const Param::MeshParam& mp = param.mesh;
    const int32_t fins = int32_t(std::clamp(param.bone.finCount, 1u, uint32_t(maxVertices / 3)));
    if (!prepare(*this, 3 * fins))
        return;
    const float h = 1.0f - (distance - ribbonStart) / (bough.end - ribbonStart);
    const float width = h * mp.ribbonWidthStart + (1.0f - h) * mp.ribbonWidthEnd;
    const RingFrame frame(tangent);
    float side = 0.0f;
    for (int32_t j = 0; j < fins; ++j) {
        const float a0 = twoPi * float(j) / float(fins);
        const float a1 = twoPi * float(j + 1) / float(fins);
        const vec3d normal = frame.direction((a0 + a1) / 2.0f);
        const vec3d points[3] = {centre + frame.direction(a0) * width, centre, centre + frame.direction(a1) * width};
        const float u[3] = {side, 0.5f, 1.0f - side};
        const float a[3] = {a0, (a0 + a1) / 2.0f, a1};
        for (int32_t i = 0; i < 3; ++i) {
            Vertex& vertex = *vertices.at(3 * j + i);
            vertex.position = points[i];
            vertex.normal = normal;
            vertex.uv = vec2d(u[i], h);
            *angles.at(3 * j + i) = a[i];
            grow(bough.box, points[i]);
        }
        side = 1.0f - side;
    }
}

Tree::Bough::Box Tree::Bough::genNodes(Bough& root, const Param& param)
{
    Box result;
    float ribbonStart = std::numeric_limits<float>::lowest();
    int64_t budget = passVertexBudget;
    // Depth first, child 0 first: children are pushed last first.
    std::vector<Bough*> stack{&root};
    while (!stack.empty()) {
        Bough& bough = *stack.back();
        stack.pop_back();
        RingPass(param, ribbonStart, budget).run(bough);
        if (bough.boneCount > 0) {
            bough.box.centre = (bough.box.minimum + bough.box.maximum) * 0.5f;
            if (result.minimum == result.maximum) {
                result.minimum = bough.box.minimum;
                result.maximum = bough.box.maximum;
            } else {
                grow(result, bough.box.minimum);
                grow(result, bough.box.maximum);
            }
        }
        for (uint32_t i = std::min(bough.childCount, uint32_t(bough.children.count())); i-- > 0;)
            stack.push_back(bough.children.at(int32_t(i)));
    }
    result.centre = (result.minimum + result.maximum) * 0.5f;
    return result;
}

namespace {

// Appends one triangle; the room was made before.
void triangle(uint16_t* out, int32_t& count, uint32_t a, uint32_t b, uint32_t c)
{
    out[count++] = uint16_t(a);
    out[count++] = uint16_t(b);
    out[count++] = uint16_t(c);
}

}

bool Tree::Bough::stitchRings(DynArray<uint16_t>& indices, int32_t& indexCount, Node& a, Node& c, uint32_t base,
                              bool cap)
{
    const int32_t na = a.vertexCount;
    const int32_t nc = c.vertexCount;
    if (na < 1 || nc < 1)
        return true;
    const int32_t needed = 3 * (na + nc - 2) + (cap && nc > 2 ? 3 * (nc - 2) : 0);
    if (!indices.reserve(uint32_t(indexCount) + uint32_t(needed)))
        return false;
    uint16_t* out = indices.data();
    const uint32_t first = base + uint32_t(na); // ring c's first vertex
    if (nc == 1) {
        // The tip: a fan onto its single vertex.
        for (int32_t i = 0; i + 1 < na; ++i)
            triangle(out, indexCount, base + i + 1, base + i, first);
        return true;
    }
    const float* angleA = a.angles.data();
    const float* angleC = c.angles.data();
    const float half = 3.14159265358979323846f / float(nc - 1);
    int32_t j = 0;
    uint32_t last = base;
    for (int32_t i = 0; i + 1 < nc; ++i) {
        const float theta = angleC[i + 1];
        while (j + 1 < na && angleA[j + 1] < theta - half) {
            triangle(out, indexCount, last, first + i, base + j + 1);
            last = base + ++j;
        }
        triangle(out, indexCount, first + i, first + i + 1, last);
        while (j + 1 < na && angleA[j + 1] < theta + half) {
            triangle(out, indexCount, last, first + i + 1, base + j + 1);
            last = base + ++j;
        }
    }
    if (cap)
        for (int32_t k = 0; k + 2 < nc; ++k)
            triangle(out, indexCount, first, first + k + 2, first + k + 1);
    return true;
}

bool Tree::Bough::stitchRibbons(Node& ring, DynArray<uint16_t>& indices, int32_t& indexCount, uint32_t base)
{
    const int32_t n = ring.vertexCount;
    if (!indices.reserve(uint32_t(indexCount) + 4u * uint32_t(n)))
        return false;
    uint16_t* out = indices.data();
    for (int32_t g = 0; g < n / 3; ++g) {
        const uint32_t q = base + 3 * uint32_t(g);
        const uint32_t m = uint32_t(n);
        triangle(out, indexCount, q, q + m, q + 1);
        triangle(out, indexCount, q + 1, q + m, q + m + 1);
        triangle(out, indexCount, q + 1, q + m + 1, q + 2);
        triangle(out, indexCount, q + 2, q + m + 1, q + m + 2);
    }
    return true;
}

bool Tree::Bough::ObjectInfo::read(FileInterface& stream)
{
    uint8_t tag = 0;
    while (stream.readValue(tag)) {
        switch (tag) {
        case 0: return true;
        case 1:
            for (float& value : transform.m)
                if (!stream.readValue(value))
                    return false;
            break;
        case 2:
            if (!stream.readValue(flip))
                return false;
            break;
        case 3:
            if (!stream.readValue(tint.b) || !stream.readValue(tint.g) || !stream.readValue(tint.r) ||
                !stream.readValue(tint.a))
                return false;
            break;
        case 4:
            if (!stream.readValue(kind))
                return false;
            break;
        default: break; // a tag without a field
        }
    }
    return false;
}

bool Tree::Bough::ObjectInfo::finite() const
{
    for (float value : transform.m)
        if (!std::isfinite(value))
            return false;
    return true;
}

namespace {

// A 3 x 3 matrix for row vectors, row by row.
struct Turn
{
    vec3d rows[3];

    static Turn aboutX(float a)
    {
        const float c = floatCos(a), s = floatSin(a);
        return {{{1.0f, 0.0f, 0.0f}, {0.0f, c, s}, {0.0f, -s, c}}};
    }
    static Turn aboutY(float a)
    {
        const float c = floatCos(a), s = floatSin(a);
        return {{{c, 0.0f, -s}, {0.0f, 1.0f, 0.0f}, {s, 0.0f, c}}};
    }
    static Turn aboutZ(float a)
    {
        const float c = floatCos(a), s = floatSin(a);
        return {{{c, s, 0.0f}, {-s, c, 0.0f}, {0.0f, 0.0f, 1.0f}}};
    }
    // This turn, then other: the product this x other.
    Turn then(const Turn& other) const
    {
        Turn out;
        for (int i = 0; i < 3; ++i)
            out.rows[i] = other.rows[0] * rows[i].x + other.rows[1] * rows[i].y + other.rows[2] * rows[i].z;
        return out;
    }
};

constexpr float degrees = 3.14159265358979323846f / 180.0f;

// The frame of an object at a curve point: row 0 across, row 1 up, row 2 out.
Turn objectFrame(const Tree::Bough::ObjectParam& o, const CurvePoint& c, const vec3d& rootExtent)
{
    Turn frame;
    vec3d up, out;
    if (o.frameMode == 0) {
        const vec3d w = c.position - vec3d(o.centreOffset.x * rootExtent.x, o.centreOffset.y * rootExtent.y,
                                           o.centreOffset.z * rootExtent.z);
        out = w.normalised();
        const vec3d y(0.0f, 1.0f, 0.0f);
        up = (y - out * y.dot(out)).normalised();
    } else {
        vec3d t = c.tangent;
        const float along = std::clamp(t.dot(o.referenceAxis), -1.0f, 1.0f);
        if (std::acos(along) < 8.0f * degrees)
            std::swap(t.y, t.z);
        out = t.cross(o.referenceAxis).normalised();
        up = o.referenceAxis;
    }
    frame.rows[0] = up.cross(out);
    frame.rows[1] = up;
    frame.rows[2] = out;
    return frame;
}

} // namespace

int32_t Tree::Bough::placeObjects(Bough& root, ArrayHeap<ObjectInfo>& out, const ObjectParam& o)
{
    out.deleteArray();
    std::vector<ObjectInfo> placed;
    const vec3d rootExtent = root.box.maximum - root.box.minimum;
    const float base[4] = {float(o.tint.r) / 255.0f, float(o.tint.g) / 255.0f, float(o.tint.b) / 255.0f,
                           float(o.tint.a) / 255.0f};
    vec3d accumulated;
    const int32_t count = o.getCount();

    std::vector<Bough*> stack{&root};
    while (!stack.empty() && placed.size() < size_t(ObjectParam::maxCount)) {
        Bough& bough = *stack.back();
        stack.pop_back();
        for (uint32_t i = std::min(bough.childCount, uint32_t(bough.children.count())); i-- > 0;)
            stack.push_back(bough.children.at(int32_t(i)));
        const uint32_t boneCount = std::min(bough.boneCount, uint32_t(bough.bones.count()));
        if (boneCount == 0)
            continue;
        const Bone* bones = bough.bones.data();
        const float e = bough.end;
        const float lo = std::max(e * o.zoneStart, bones[0].distance);
        const float hi = std::min(e * o.zoneEnd, bones[boneCount - 1].distance);
        if (!(lo < hi))
            continue;
        ArrayHeap<float> distances;
        const int32_t n = pickDistances(distances, count, float(o.resolution), 1.0f, e, lo, hi,
                                        int32_t(o.atEnd), 0);
        uint32_t k = 0;
        for (int32_t d = 0; d < n && placed.size() < size_t(ObjectParam::maxCount); ++d) {
            const float x = *distances.at(d);
            // The segment holding x; the bough's end takes the last one near
            // its far end, and the end's own offset.
            while (k + 2 < boneCount && bones[k + 1].distance <= x)
                ++k;
            const bool atEnd = o.atEnd && x == e;
            float t = 0.999f;
            if (boneCount > 1 && !atEnd) {
                const float span = bones[k + 1].distance - bones[k].distance;
                t = span > 0.0f ? std::clamp((x - bones[k].distance) / span, 0.0f, 1.0f) : 0.0f;
            }
            const CurvePoint c = Segment(bones, boneCount, boneCount > 1 ? k : 0).at(t);
            const Turn frame = objectFrame(o, c, rootExtent);
            const float offset = c.radius * (atEnd ? o.endValue : o.axisOffset);

            const int sides = o.single ? 0 : rand() % 3;
            for (int side = 0; side < 2; ++side) {
                if ((side == 0 && sides == 1) || (side == 1 && sides == 0))
                    continue;
                float angle[3];
                for (int i = 0; i < 3; ++i)
                    angle[i] = (o.baseAngles[i] + accumulated[i] + (0.5f - uniform()) * o.angleRange[i]) * degrees;
                accumulated = accumulated + o.angleStep;
                const Turn turn = Turn::aboutX(angle[0]).then(Turn::aboutY(angle[1])).then(Turn::aboutZ(angle[2]));
                const Turn card = turn.then(frame);
                const float s = (o.scaleRange.y - o.scaleRange.x) * uniform() + o.scaleRange.x;
                const float f = (o.tintRange.y - o.tintRange.x) * uniform() + o.tintRange.x;
                const float mirror = side == 0 ? 1.0f : -1.0f;
                const vec3d scale(s * o.scale.x * mirror, s * o.scale.y, s * o.scale.z * mirror);

                ObjectInfo info;
                for (int row = 0; row < 3; ++row)
                    info.transform.setRow(row, card.rows[row] * scale[row]);
                info.transform.setRow(3, c.position + card.rows[2] * (offset * mirror));
                info.transform.m[15] = 1.0f;
                info.flip = uint32_t(rand() % 2);
                uint8_t channel[4];
                for (int i = 0; i < 4; ++i)
                    channel[i] = uint8_t(std::clamp(255.0f * (f * base[i] + (1.0f - f)), 0.0f, 255.0f));
                info.tint = Color(channel[0], channel[1], channel[2], channel[3]);
                info.kind = o.kindCount ? int32_t(uint32_t(rand()) % o.kindCount) : 0;
                placed.push_back(info);
            }
        }
    }
    if (!out.resize(int32_t(placed.size())))
        return 0;
    for (size_t i = 0; i < placed.size(); ++i)
        *out.at(int32_t(i)) = placed[i];
    return int32_t(placed.size());
}
