// Where things lie relative to the ways: the distance from a segment's edge,
// the hollows and tints under off-road tracks, and the opponents' paths.
#include "Way/WayNetwork.h"

#include "Way/WayModeler.h"

#include "Core/Math.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include <xmmintrin.h>

namespace {

// The last segment a hollow lookup of another thread than the network's
// found (the physics thread lowers the ground too). It is trusted only for
// the network and the generation of ways it was found in.
thread_local WayNetwork::HollowCache hollowCache;

bool holdsStrictly(const BoundingBox& box, float x, float z)
{
    return box.minimum.x < x && x < box.maximum.x && box.minimum.z < z && z < box.maximum.z;
}

bool overlaps(const BoundingBox& a, const BoundingBox& segment)
{
    for (int axis = 0; axis < 3; ++axis)
        if (!(a.minimum[axis] < segment.maximum[axis] && a.maximum[axis] >= segment.minimum[axis]))
            return false;
    return true;
}

float lowering(float depth)
{
    return WayNetwork::hollowDepth * std::min(1.0f, WayNetwork::hollowSlope * depth);
}

}

// A query from a thread other than the network's holds the ways while it
// reads them; while they change it finds none.
class QueryScope
{
public:
    explicit QueryScope(const WayNetwork& network)
    {
        if (GetCurrentThreadId() == network.ownerThread_) {
            owner_ = true;
            return;
        }
        counter_ = &network.remoteQueries_;
        counter_->fetch_add(1, std::memory_order_seq_cst);
        if (network.changing_.load(std::memory_order_seq_cst))
            open_ = false;
    }
    ~QueryScope()
    {
        if (counter_)
            counter_->fetch_sub(1, std::memory_order_seq_cst);
    }
    QueryScope(const QueryScope&) = delete;
    QueryScope& operator=(const QueryScope&) = delete;

    explicit operator bool() const { return open_; }
    bool owner() const { return owner_; }

private:
    std::atomic<int32_t>* counter_ = nullptr;
    bool open_ = true;
    bool owner_ = false;
};

namespace Way {

float Segment::projectPoint(float x, float z, uint32_t& inside, float& along, Pos* crossSection) const
{
    const size_t count = positions.size();
    if (count == 0)
        return outside;
    along = 0.0f;
    const Pos* p = positions.data();
    auto ahead = [x, z](const Pos& c) { return (c.centre.x - x) * c.forward.x + (c.centre.z - z) * c.forward.z; };
    // Not past the first cross-section, or not before the last.
    if (ahead(p[0]) >= 0.0f || ahead(p[count - 1]) <= 0.0f) {
        inside = 0;
        return outside;
    }
    // The nearest cross-section: the first local minimum of the distance,
    // where the point no longer lies beyond the plane halfway to the next
    // centre. Four planes at a time.
    size_t nearest = 0;
    if (halfways.size() == (count + 3) / 4 * 12) {
        const __m128 px = _mm_set1_ps(x), pz = _mm_set1_ps(z);
        for (const float* block = halfways.data();; block += 12, nearest += 4) {
            const __m128 along = _mm_add_ps(_mm_mul_ps(px, _mm_loadu_ps(block)), _mm_mul_ps(pz, _mm_loadu_ps(block + 4)));
            const int nearer = _mm_movemask_ps(_mm_cmpgt_ps(along, _mm_loadu_ps(block + 8)));
            if (nearer != 15) {
                nearest += size_t(__builtin_ctz(~nearer));
                break;
            }
        }
    } else {
        auto distanceSq = [x, z](const Pos& c) {
            const float dx = c.centre.x - x, dz = c.centre.z - z;
            return dx * dx + dz * dz;
        };
        float best = distanceSq(p[0]);
        for (size_t i = 1; i < count; ++i) {
            const float d = distanceSq(p[i]);
            if (!(d < best))
                break;
            best = d;
            nearest = i;
        }
    }
    along = float(nearest) / float(count - 1);
    if (crossSection)
        *crossSection = p[nearest];

    const Pos& n = p[nearest];
    const bool rightSide = (n.centre.x - x) * n.side.x + (n.centre.z - z) * n.side.z <= 0.0f;
    const vec3d& e = rightSide ? n.right : n.left;
    const Pos* previous = nearest > 0 ? &p[nearest - 1] : nullptr;
    const Pos* next = nearest + 1 < count ? &p[nearest + 1] : nullptr;
    const Pos* before = rightSide ? next : previous;
    const Pos* after = rightSide ? previous : next;
    inside = 1;
    float result = outside;
    // 1 / the length of the edge piece from cross-section piece to piece + 1
    // on the point's side; 0 for a piece of no length (coinciding
    // cross-sections), which tells nothing.
    const bool indexed = edgeScales.size() == 2 * (count - 1);
    auto scale = [&](size_t piece, const vec3d& u, const vec3d& v) {
        if (indexed)
            return edgeScales[2 * piece + (rightSide ? 1 : 0)];
        const float length = fastSqrt((u.x - v.x) * (u.x - v.x) + (u.z - v.z) * (u.z - v.z));
        return length > 0.0f ? 1.0f / length : 0.0f;
    };
    // The distance from the edge pieces on either side of the nearest edge
    // point (positive inside).
    if (before) {
        const vec3d& a = rightSide ? before->right : before->left;
        const float toward = (e.z - a.z) * (x - a.x) - (z - a.z) * (e.x - a.x);
        const float s = scale(rightSide ? nearest : nearest - 1, e, a);
        if (s > 0.0f) {
            if (toward < 0.0f) {
                inside = 0;
                return outside;
            }
            result = std::min(result, toward * s);
        }
    }
    if (after) {
        const vec3d& b = rightSide ? after->right : after->left;
        const float toward = (x - e.x) * (b.z - e.z) - (z - e.z) * (b.x - e.x);
        const float s = scale(rightSide ? nearest - 1 : nearest, e, b);
        if (s > 0.0f) {
            if (toward < 0.0f) {
                inside = 0;
                return outside;
            }
            result = std::min(result, toward * s);
        }
    }
    return result;
}

}

float wayDistanceRatio(const vec3d& position, const Way::Pos& crossSection)
{
    const float width = fastSqrt((crossSection.left - crossSection.right).lengthSq());
    if (!(width > 0.0f))
        return 0.0f;
    return fastSqrt((position - crossSection.left).lengthSq()) / width;
}

Way::PointList* WayNetwork::findSegmentAt(const vec2d& point) const
{
    QueryScope scope(*this);
    if (!scope)
        return nullptr;
    for (const Way::Segment* segment : segments)
        if (holdsStrictly(segment->bounds, point.x, point.y))
            return segment->startNode->owner;
    return nullptr;
}

const Way::Segment* WayNetwork::hollowAt(float x, float z, float& depth) const
{
    for (const Way::Segment* segment : hollowSegments) {
        if (!holdsStrictly(segment->bounds, x, z))
            continue;
        uint32_t inside = 0;
        float along = 0.0f;
        const float d = segment->projectPoint(x, z, inside, along, nullptr);
        if (inside) {
            depth = d;
            return segment;
        }
    }
    return nullptr;
}

uint32_t WayNetwork::isOnWay(float x, float z) const
{
    QueryScope scope(*this);
    float depth = 0.0f;
    return scope && hollowAt(x, z, depth) ? 1 : 0;
}

uint32_t WayNetwork::isOnPavement(float x, float z) const
{
    QueryScope scope(*this);
    if (!scope)
        return 0;
    for (const Way::Segment* segment : segments) {
        if (!segment->modeler || segment->modeler->lowersTerrain || !holdsStrictly(segment->bounds, x, z))
            continue;
        uint32_t inside = 0;
        float along = 0.0f;
        segment->projectPoint(x, z, inside, along, nullptr);
        if (inside)
            return 1;
    }
    return 0;
}

void WayNetwork::applyHollow(float x, float z, float& height) const
{
    QueryScope scope(*this);
    if (!scope || hollowSegments.empty())
        return;
    // Where the hollows of two segments overlap, the deeper lowers the
    // ground: the answer is the same whichever segment a thread found last
    // and in whatever order the grid query meets them.
    HollowCache& cache = scope.owner() ? ownerCache_ : hollowCache;
    const uint32_t generation = generation_.load(std::memory_order_relaxed);
    const bool cached = cache.segment && cache.network == this && cache.generation == generation;
    float deepest = 0.0f;
    if (cached && holdsStrictly(cache.segment->bounds, x, z)) {
        uint32_t inside = 0;
        float along = 0.0f;
        const float d = cache.segment->projectPoint(x, z, inside, along, nullptr);
        if (inside) {
            deepest = lowering(d);
            if (deepest >= hollowDepth) {
                height -= deepest;
                return;
            }
        }
    }
    for (const Way::Segment* segment : hollowSegments) {
        if ((cached && segment == cache.segment) || !holdsStrictly(segment->bounds, x, z))
            continue;
        uint32_t inside = 0;
        float along = 0.0f;
        const float d = segment->projectPoint(x, z, inside, along, nullptr);
        if (inside && lowering(d) > deepest) {
            deepest = lowering(d);
            cache = {this, generation, segment};
        }
    }
    height -= deepest;
}

void WayNetwork::hollowHeightGrid(float heights[gridSamples][gridSamples], const BoundingBox& box) const
{
    QueryScope scope(*this);
    if (!scope)
        return;
    constexpr int32_t last = gridSamples - 1;
    // Each point is lowered once, by the deepest of the hollows it lies in.
    float lowered[gridSamples][gridSamples];
    bool cleared = false;
    const float width = box.maximum.x - box.minimum.x, depth = box.maximum.z - box.minimum.z;
    for (const Way::Segment* segment : hollowSegments) {
        if (!overlaps(box, segment->bounds))
            continue;
        if (!cleared) {
            std::memset(lowered, 0, sizeof(lowered));
            cleared = true;
        }
        for (int32_t i = 0; i <= last; ++i) {
            const float x = float(i) / float(last) * width + box.minimum.x;
            if (!(segment->bounds.minimum.x < x && x < segment->bounds.maximum.x))
                continue;
            for (int32_t k = last; k >= 0; --k) {
                const float z = float(k) / float(last) * depth + box.minimum.z;
                if (!(segment->bounds.minimum.z < z && z < segment->bounds.maximum.z))
                    continue;
                uint32_t inside = 0;
                float along = 0.0f;
                const float d = segment->projectPoint(x, z, inside, along, nullptr);
                if (inside)
                    lowered[i][last - k] = std::max(lowered[i][last - k], lowering(d));
            }
        }
    }
    if (cleared)
        for (int32_t i = 0; i <= last; ++i)
            for (int32_t k = 0; k <= last; ++k)
                heights[i][k] -= lowered[i][k];
}

void WayNetwork::weightNearWays(uint16_t colours[colourSamples][colourSamples], const BoundingBox& box) const
{
    QueryScope scope(*this);
    if (!scope)
        return;
    constexpr int32_t last = colourSamples - 1;
    bool done[colourSamples][colourSamples];
    bool cleared = false;
    const float width = box.maximum.x - box.minimum.x, depth = box.maximum.z - box.minimum.z;
    for (const Way::Segment* segment : hollowSegments) {
        if (!segment->endNode || !overlaps(box, segment->bounds))
            continue;
        if (!cleared) {
            std::memset(done, 0, sizeof(done));
            cleared = true;
        }
        const Color from = segment->startPoint().colour, to = segment->endPoint().colour;
        for (int32_t i = 0; i <= last; ++i) {
            const float x = float(i) / float(last) * width + box.minimum.x;
            for (int32_t k = 0; k <= last; ++k) {
                const float z = float(k) / float(last) * depth + box.minimum.z;
                if (!holdsStrictly(segment->bounds, x, z))
                    continue;
                uint32_t inside = 0;
                float t = 0.0f;
                const float d = segment->projectPoint(x, z, inside, t, nullptr);
                if (!inside || done[i][k])
                    continue;
                done[i][k] = true;
                const int32_t red = int32_t(float(from.r) * (1.0f - t) + float(to.r) * t) >> 3;
                const int32_t green = int32_t(float(from.g) * (1.0f - t) + float(to.g) * t) >> 2;
                const int32_t blue = int32_t(float(from.b) * (1.0f - t) + float(to.b) * t) >> 3;
                const float w = std::min(1.0f, hollowSlope * d) * 0.65f;
                const uint16_t c = colours[i][k];
                auto toward = [w](int32_t channel, int32_t way) {
                    return int32_t(float(channel) + float(way - channel) * w);
                };
                colours[i][k] = uint16_t(toward(c >> 11, red) << 11 | toward((c >> 5) & 63, green) << 5 |
                                         toward(c & 31, blue));
            }
        }
    }
}

uint32_t WayNetwork::findSegmentNear(const vec3d& position, const Way::PointNode* startNode, const vec3d& target,
                                     float minSpacingSq, std::vector<Way::Pos>& out)
{
    if (!startNode || !startNode->owner)
        return 0;
    const Way::PointList& list = *startNode->owner;
    const int32_t count = list.count();
    auto forwardOf = [&list](const Way::PointNode* n) { return n->next ? n->next : list.head(); };
    auto backwardOf = [&list](const Way::PointNode* n) { return n->prev ? n->prev : list.tail(); };
    auto holds = [&target](const Way::PointNode* n) {
        const Way::Segment* segment = n->item->segment;
        if (!segment)
            return false;
        uint32_t inside = 0;
        float along = 0.0f;
        segment->projectPoint(target.x, target.z, inside, along, nullptr);
        return inside != 0;
    };
    // One pass over the list each way, at most: a target on no segment of
    // the list is not found, rather than searched for ever.
    const Way::PointNode* targetNode = nullptr;
    bool forward = true;
    const Way::PointNode* ahead = startNode;
    const Way::PointNode* behind = startNode;
    for (int32_t i = 0; i < count && !targetNode; ++i) {
        ahead = forwardOf(ahead);
        behind = backwardOf(behind);
        if (holds(ahead)) {
            targetNode = ahead;
            forward = true;
        } else if (holds(behind)) {
            targetNode = behind;
            forward = false;
        }
    }
    if (!targetNode)
        return 0;

    uint32_t appended = 0;
    vec3d lastCentre = position;
    auto farEnough = [&](const Way::Pos& c) {
        const vec3d fromLast = c.centre - lastCentre, fromTarget = c.centre - target;
        return fromLast.lengthSq() > minSpacingSq && fromTarget.lengthSq() > minSpacingSq;
    };
    const Way::PointNode* node = startNode;
    for (int32_t i = 0; i <= count; ++i) {
        if (const Way::Segment* segment = node->item->segment) {
            const bool last = node == targetNode;
            for (const Way::Pos& c : segment->positions) {
                if (last) {
                    const float facing = c.forward.dot(Way::unit(c.centre - target));
                    if (forward ? facing > 0.0f : facing < 0.0f)
                        break;
                }
                if (farEnough(c)) {
                    out.push_back(c);
                    lastCentre = c.centre;
                    ++appended;
                }
            }
        }
        if (node == targetNode)
            break;
        node = forward ? forwardOf(node) : backwardOf(node);
    }
    return appended;
}
