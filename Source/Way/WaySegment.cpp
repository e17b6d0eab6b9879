// Segment construction, sampling and the junction cuts.
#include "Way/WaySegment.h"

#include "Way/WayNetwork.h"
#include "Way/WayPoint.h"

#include "Render/BufferPool.h"

#include "Core/Math.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <functional>

namespace Way {

namespace {

vec2d flat(const vec3d& v) { return {v.x, v.z}; }

vec2d unit2(const vec2d& v)
{
    const float lengthSq = v.dot(v);
    if (!(lengthSq > 1.0e-30f))
        return {};
    return v * (1.0f / fastSqrt(lengthSq));
}

// Where segment a0-a1 crosses segment b0-b1 (ends included); false for
// parallel segments.
bool crossing(const vec2d& a0, const vec2d& a1, const vec2d& b0, const vec2d& b1, vec2d& hit)
{
    const vec2d da = a1 - a0, db = b1 - b0;
    const float denominator = da.cross(db);
    if (denominator == 0.0f)
        return false;
    const vec2d w = b0 - a0;
    const float s = w.cross(db) / denominator;
    const float u = w.cross(da) / denominator;
    if (!(s >= 0.0f && s <= 1.0f && u >= 0.0f && u <= 1.0f))
        return false;
    hit = a0 + da * s;
    return true;
}

// A way that joins at a point: a branch's first segment, tested with the
// point's edge on the side it leaves to, or the segment that ends at a point
// linked from it. A way linked more than once joins once.
struct Joining
{
    const Segment* segment;
    bool right;
    bool operator<(const Joining& o) const
    {
        return segment != o.segment ? std::less<const Segment*>()(segment, o.segment) : right < o.right;
    }
    bool operator==(const Joining& o) const { return segment == o.segment && right == o.right; }
};

std::vector<Joining> joiningAt(const Point& p)
{
    std::vector<Joining> joining;
    for (auto* branch = p.branches.head(); branch; branch = branch->next)
        if (PointNode* first = branch->item ? branch->item->head() : nullptr; first && first->item->segment) {
            const Point& q = *first->item;
            joining.push_back({q.segment, q.side.z * p.side.x - q.side.x * p.side.z <= 0.0f});
        }
    for (auto* link = p.links.head(); link; link = link->next)
        if (PointNode* target = link->item->node; target && target->prev && target->prev->item->segment) {
            const Point& q = *target->item;
            joining.push_back({target->prev->item->segment, q.side.z * p.side.x - q.side.x * p.side.z >= 0.0f});
        }
    std::sort(joining.begin(), joining.end());
    joining.erase(std::unique(joining.begin(), joining.end()), joining.end());
    return joining;
}

// The way p hangs from: the segment that starts at the point it hangs from
// and the one that ends there (either may be missing).
void parentsOf(const Point& p, const Segment* (&parents)[2])
{
    parents[0] = parents[1] = nullptr;
    if (!p.parentNode)
        return;
    parents[0] = p.parentNode->item->segment;
    parents[1] = p.parentNode->prev ? p.parentNode->prev->item->segment : nullptr;
}

uint64_t pairsOf(const Segment& segment)
{
    return segment.positions.size() > 1 ? segment.positions.size() - 1 : 0;
}

// A cross-section continued by length beyond `from` away from `towards`
// (the lead-in before the first cross-section, the lead-out after the last).
Pos extended(const Pos& from, const Pos& towards, float length)
{
    Pos p = from;
    p.left = from.left + unit(from.left - towards.left) * length;
    p.right = from.right + unit(from.right - towards.right) * length;
    p.centre = (p.left + p.right) * 0.5f;
    return p;
}

}

Segment::Segment(PointNode* start, PointNode* end, Modeler* shaper) : startNode(start), endNode(end), modeler(shaper)
{
    buildCurve(*this, start, end);
}

Segment::~Segment()
{
    releaseMeshes();
    projections.clearWith([](ProjectionLink* link) {
        // The record's list loses the link too; the ranges go back to the pools.
        if (link->recordNode && link->recordNode->owner)
            link->recordNode->owner->unlink(link->recordNode);
        for (ProjectionLink::Entry& entry : link->entries)
            if (entry.range && entry.range->pool)
                BufferPool::freeRange(*entry.range->pool, entry.range);
        delete link;
    });
}

void Segment::releasePiece(Mesh& piece)
{
    if (piece.vertices && piece.vertices->pool)
        BufferPool::freeRange(*piece.vertices->pool, piece.vertices);
    if (piece.indices && piece.indices->pool)
        BufferPool::freeRange(*piece.indices->pool, piece.indices);
    piece.vertices = piece.indices = nullptr;
    piece.vertexCount = piece.indexCount = 0;
    piece.tree.reset();
}

void Segment::releaseMeshes()
{
    for (Mesh& piece : meshes)
        releasePiece(piece);
    meshCount = 0;
}

uint32_t Segment::followsGround() const
{
    const Point& s = startPoint();
    const Point& e = endPoint();
    auto joined = [](const Point& p) { return p.branches.count() > 0 || p.links.count() > 0 || p.parentNode; };
    return s.followGround && !joined(s) && !joined(e) ? 1 : 0;
}

void Segment::sample()
{
    Point& s = startPoint();
    Point& e = endPoint();
    Pos first, last;
    crossSectionAt(first, *this, 0.0f);
    crossSectionAt(last, *this, 1.0f);
    s.side = first.side;
    e.side = last.side;
    positions.clear();
    // A segment that hangs from another way starts (or ends) with its edges
    // continued through that way: the junction cuts trim them to shape.
    if (s.parentNode) {
        Pos next;
        crossSectionAt(next, *this, step);
        const float length = 2.0f * s.parentNode->item->width;
        Pos lead = extended(first, next, length);
        lead.distance = first.distance - length;
        positions.push_back(lead);
    }
    float t = 0.0f;
    for (uint32_t i = 0; i <= steps && t < step * 0.5f + 1.0f; ++i, t += step) {
        Pos pos;
        crossSectionAt(pos, *this, t);
        positions.push_back(pos);
    }
    if (e.parentNode && positions.size() >= 2) {
        const Pos& l = positions[positions.size() - 1];
        const Pos& k = positions[positions.size() - 2];
        const float length = 2.0f * e.parentNode->item->width;
        Pos lead = extended(l, k, length);
        lead.distance = l.distance + length;
        positions.push_back(lead);
    }
    boxEdges();
}

void Segment::boxEdges()
{
    edgeBoxes.clear();
    const size_t pieces = positions.size() > 1 ? positions.size() - 1 : 0;
    for (size_t first = 0; first < pieces; first += edgeBlock) {
        float box[4] = {FLT_MAX, FLT_MAX, -FLT_MAX, -FLT_MAX};
        for (size_t k = first; k <= std::min(first + edgeBlock, pieces); ++k)
            for (const vec3d& edge : {positions[k].left, positions[k].right}) {
                box[0] = std::min(box[0], edge.x);
                box[1] = std::min(box[1], edge.z);
                box[2] = std::max(box[2], edge.x);
                box[3] = std::max(box[3], edge.z);
            }
        edgeBoxes.insert(edgeBoxes.end(), box, box + 4);
    }
}

bool Segment::intersectEdges(const Segment& other, const vec2d line[2], EdgeHits& hits)
{
    hits = EdgeHits{};
    const std::vector<Pos>& p = other.positions;
    const size_t pieces = p.size() > 1 ? p.size() - 1 : 0;
    // Blocks of pieces whose box the line's box misses cannot be crossed;
    // the boxes are widened by what rounding may add to a crossing.
    const bool boxed = other.edgeBoxes.size() == 4 * ((pieces + edgeBlock - 1) / edgeBlock);
    const float reach = 1.0e-4f + 1.0e-5f * std::max({std::fabs(line[0].x), std::fabs(line[0].y),
                                                      std::fabs(line[1].x), std::fabs(line[1].y)});
    const float low[2] = {std::min(line[0].x, line[1].x) - reach, std::min(line[0].y, line[1].y) - reach};
    const float high[2] = {std::max(line[0].x, line[1].x) + reach, std::max(line[0].y, line[1].y) + reach};
    for (size_t k = 0; k < pieces && !(hits.left && hits.right); ++k) {
        if (boxed && k % edgeBlock == 0) {
            const float* box = &other.edgeBoxes[k / edgeBlock * 4];
            if (box[0] > high[0] || box[1] > high[1] || box[2] < low[0] || box[3] < low[1]) {
                k += edgeBlock - 1;
                continue;
            }
        }
        if (!hits.left && crossing(line[0], line[1], flat(p[k].left), flat(p[k + 1].left), hits.leftHit)) {
            hits.left = true;
            hits.leftDirection = unit2(flat(p[k + 1].left) - flat(p[k].left));
        }
        if (!hits.right && crossing(line[0], line[1], flat(p[k].right), flat(p[k + 1].right), hits.rightHit)) {
            hits.right = true;
            hits.rightDirection = unit2(flat(p[k + 1].right) - flat(p[k].right));
        }
    }
    return hits.left || hits.right;
}

void Segment::computeCuts()
{
    startTrim = endTrim = 0.0f;
    outline.clear();
    int32_t rememberedStart = -1, rememberedEnd = -1;
    cutEnd(true, rememberedStart);
    cutEnd(false, rememberedEnd);
    for (int32_t i : {rememberedStart, rememberedEnd})
        if (i >= 0 && size_t(i) < positions.size())
            positions[size_t(i)].keep = 1;
}

uint64_t Segment::cutWork() const
{
    uint64_t work = 0;
    for (const PointNode* node : {startNode, endNode}) {
        const Point& p = *node->item;
        uint64_t others = 0;
        for (const Joining& j : joiningAt(p))
            others += pairsOf(*j.segment);
        const Segment* parents[2];
        parentsOf(p, parents);
        for (const Segment* parent : parents)
            if (parent)
                others += 2 * pairsOf(*parent);
        work += pairsOf(*this) * others;
    }
    return work;
}

void Segment::cutEnd(bool start, int32_t& remembered)
{
    PointNode* node = start ? startNode : endNode;
    Point& p = *node->item;
    float& trim = start ? startTrim : endTrim;

    const std::vector<Joining> joining = joiningAt(p);
    // The way p hangs from, and the side of it that p's way leaves.
    const Segment* parents[2];
    parentsOf(p, parents);
    bool leftSide = true;
    if (p.parentNode) {
        const Point& parent = *p.parentNode->item;
        const float sign = parent.side.x * p.side.z - parent.side.z * p.side.x;
        leftSide = start ? sign >= 0.0f : sign < 0.0f;
    }
    // One plane per edge of this way: where it leaves the other way's road,
    // the last such place counted from this end.
    struct Corner
    {
        bool found = false;
        float candidate = 0.0f;
        ConvexVolume::Plane plane;
    } corners[2];

    for (size_t i = 0; i + 1 < positions.size(); ++i) {
        const Pos& a = positions[i];
        const Pos& b = positions[i + 1];
        const float candidate = start ? b.t : 1.0f - a.t;
        const vec2d leftLine[2] = {flat(a.left), flat(b.left)};
        const vec2d rightLine[2] = {flat(a.right), flat(b.right)};
        auto raise = [&] {
            if (candidate > trim) {
                trim = candidate;
                remembered = int32_t(start ? i + 1 : i);
            }
        };
        EdgeHits hits;
        for (const Joining& j : joining)
            if (intersectEdges(*j.segment, j.right ? rightLine : leftLine, hits))
                raise();
        for (const Segment* parent : parents) {
            if (!parent)
                continue;
            for (int edge = 0; edge < 2; ++edge) {
                const vec2d* line = edge == 0 ? leftLine : rightLine;
                if (!intersectEdges(*parent, line, hits))
                    continue;
                const bool counted = leftSide ? hits.left : hits.right;
                if (!counted)
                    continue;
                raise();
                Corner& corner = corners[edge];
                if (corner.found && !(candidate > corner.candidate))
                    continue;
                // The miter at the corner where this edge leaves the other
                // way: it halves the angle between this edge running into the
                // other way and the other way's edge running towards this
                // way's road. The plane is vertical through the corner, its
                // normal towards the other way, so that this way keeps the
                // side that runs away from it.
                const vec2d hit = leftSide ? hits.leftHit : hits.rightHit;
                const vec2d along = leftSide ? hits.leftDirection : hits.rightDirection;
                const vec2d back = unit2(line[0] - line[1]);
                const vec2d away = start ? back * -1.0f : back;
                const vec2d body = flat(edge == 0 ? a.side : a.side * -1.0f);
                const vec2d towardsRoad = along.dot(body) >= 0.0f ? along : along * -1.0f;
                const vec2d miter = unit2(away * -1.0f + towardsRoad);
                vec2d normal{-miter.y, miter.x};
                if (normal.dot(away) > 0.0f)
                    normal = normal * -1.0f;
                if (normal.dot(normal) == 0.0f)
                    continue;
                corner.found = true;
                corner.candidate = candidate;
                corner.plane.normal = {normal.x, 0.0f, normal.y};
                corner.plane.point = {hit.x, 0.0f, hit.y};
                corner.plane.distance = corner.plane.normal.dot(corner.plane.point);
            }
        }
    }
    if (!p.parentNode)
        return;
    Point::Cut cut;
    for (const Corner& corner : corners)
        if (corner.found)
            cut.planes[cut.planeCount++] = corner.plane;
    p.cuts.push_back(cut);
    // The way p hangs from keeps the other side of the same planes.
    Point::Cut mirrored = cut;
    for (uint32_t k = 0; k < mirrored.planeCount; ++k) {
        ConvexVolume::Plane& plane = mirrored.planes[k];
        plane.normal = -plane.normal;
        plane.distance = plane.normal.dot(plane.point);
    }
    mirrored.flag = cut.flag ? 0 : 1;
    p.parentNode->item->cuts.push_back(mirrored);
}

const Segment* segmentOf(const PointNode* node)
{
    const Point* point = pointOf(node);
    return point && point->segment && !point->segment->positions.empty() ? point->segment : nullptr;
}

bool Segment::holds(const vec3d& point, Pos* crossSection) const
{
    uint32_t inside = 0;
    float along = 0.0f;
    projectPoint(point.x, point.z, inside, along, crossSection);
    return inside != 0;
}

}
