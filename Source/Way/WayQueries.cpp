// Where things lie relative to the ways: the distance from a segment's edge,
// the hollows and tints under off-road tracks, and the opponents' paths.
#include "Way/WayNetwork.h"

#include "Way/WayModeler.h"

#include "Core/Math.h"

#include <windows.h>

#include <algorithm>
#include <cfloat>
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

void WayNetwork::indexHollows()
{
    hollowBucketStart_.clear();
    hollowBuckets_.clear();
    hollowGridSize_[0] = hollowGridSize_[1] = 0;
    if (hollowSegments.empty())
        return;
    float low[2] = {FLT_MAX, FLT_MAX}, high[2] = {-FLT_MAX, -FLT_MAX};
    for (const Way::Segment* segment : hollowSegments) {
        const BoundingBox& b = segment->bounds;
        low[0] = std::min(low[0], b.minimum.x);
        low[1] = std::min(low[1], b.minimum.z);
        high[0] = std::max(high[0], b.maximum.x);
        high[1] = std::max(high[1], b.maximum.z);
    }
    // Squares of 32 units or more, at most 64 along a side.
    hollowGridCell_ = std::max(32.0f, std::max(high[0] - low[0], high[1] - low[1]) / 64.0f);
    hollowGridPerUnit_ = 1.0f / hollowGridCell_;
    for (int axis = 0; axis < 2; ++axis) {
        hollowGridMin_[axis] = low[axis];
        hollowGridSize_[axis] = std::min(int32_t((high[axis] - low[axis]) / hollowGridCell_) + 1, 65);
    }
    const int32_t across = hollowGridSize_[0], squares = across * hollowGridSize_[1];
    const auto squareOf = [this](float v, int axis) {
        const int32_t i = int32_t((v - hollowGridMin_[axis]) / hollowGridCell_);
        return std::clamp(i, 0, hollowGridSize_[axis] - 1);
    };
    // Each segment in the squares its box reaches into, counted, then placed
    // in walk order.
    std::vector<uint32_t> counts(size_t(squares) + 1, 0);
    for (int pass = 0; pass < 2; ++pass) {
        for (uint32_t n = 0; n < uint32_t(hollowSegments.size()); ++n) {
            const BoundingBox& b = hollowSegments[n]->bounds;
            for (int32_t i = squareOf(b.minimum.x, 0); i <= squareOf(b.maximum.x, 0); ++i)
                for (int32_t k = squareOf(b.minimum.z, 1); k <= squareOf(b.maximum.z, 1); ++k) {
                    const size_t square = size_t(k) * size_t(across) + size_t(i);
                    if (pass == 0)
                        ++counts[square + 1];
                    else
                        hollowBuckets_[counts[square]++] = n;
                }
        }
        if (pass == 0) {
            for (size_t square = 0; square < size_t(squares); ++square)
                counts[square + 1] += counts[square];
            hollowBucketStart_ = counts;
            hollowBuckets_.assign(counts.back(), 0);
        }
    }
}

WayNetwork::HollowBucket WayNetwork::hollowBucket(float x, float z) const
{
    const float u = (x - hollowGridMin_[0]) * hollowGridPerUnit_, v = (z - hollowGridMin_[1]) * hollowGridPerUnit_;
    if (!(u >= 0.0f && v >= 0.0f && u < float(hollowGridSize_[0]) && v < float(hollowGridSize_[1])))
        return {};
    const int32_t column = int32_t(u), row = int32_t(v);
    const size_t square = size_t(row) * size_t(hollowGridSize_[0]) + size_t(column);
    const uint32_t* runs = hollowBuckets_.data();
    return {runs + hollowBucketStart_[square], runs + hollowBucketStart_[square + 1], column, row};
}

const Way::Segment* WayNetwork::hollowAt(float x, float z, float& depth) const
{
    const HollowBucket bucket = hollowBucket(x, z);
    for (const uint32_t* n = bucket.first; n != bucket.last; ++n) {
        const Way::Segment* segment = hollowSegments[*n];
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

[[gnu::always_inline]] inline float WayNetwork::hollowLowering(float x, float z, HollowCache& cache,
                                                               uint32_t generation) const
{
    // Where the hollows of two segments overlap, the deeper lowers the
    // ground: the answer is the same whichever segment a thread found last
    // and in whatever order the grid query meets them.
    const bool cached = cache.segment && cache.network == this && cache.generation == generation;
    // Within its box, where it is the only hollow of the grid's square, or
    // as deep as any hollow lowers, the cached segment answers alone.
    const bool alone = cache.alone[0] < x && x < cache.alone[2] && cache.alone[1] < z && z < cache.alone[3];
    float deepest = 0.0f;
    if (cached && (alone || holdsStrictly(cache.segment->bounds, x, z))) {
        uint32_t inside = 0;
        float along = 0.0f;
        const float d = cache.segment->projectPoint(x, z, inside, along, nullptr);
        deepest = inside ? lowering(d) : 0.0f;
        if (alone || deepest >= hollowDepth)
            return deepest;
    }
    const HollowBucket bucket = hollowBucket(x, z);
    const Way::Segment* before = cache.segment;
    for (const uint32_t* n = bucket.first; n != bucket.last; ++n) {
        const Way::Segment* segment = hollowSegments[*n];
        if ((cached && segment == before) || !holdsStrictly(segment->bounds, x, z))
            continue;
        uint32_t inside = 0;
        float along = 0.0f;
        const float d = segment->projectPoint(x, z, inside, along, nullptr);
        const float by = inside ? lowering(d) : 0.0f;
        if (by > deepest) {
            deepest = by;
            cache = {this, generation, segment};
        }
    }
    // The segment alone in the point's square: the next lookup there asks it only.
    if (bucket.last - bucket.first == 1 && cache.segment == hollowSegments[*bucket.first] && cache.network == this &&
        cache.generation == generation) {
        const BoundingBox& b = cache.segment->bounds;
        const float x0 = hollowGridMin_[0] + float(bucket.column) * hollowGridCell_;
        const float z0 = hollowGridMin_[1] + float(bucket.row) * hollowGridCell_;
        cache.alone[0] = std::max(x0, b.minimum.x);
        cache.alone[1] = std::max(z0, b.minimum.z);
        cache.alone[2] = std::min(x0 + hollowGridCell_, b.maximum.x);
        cache.alone[3] = std::min(z0 + hollowGridCell_, b.maximum.z);
    }
    return deepest;
}

void WayNetwork::applyHollow(float x, float z, float& height) const
{
    QueryScope scope(*this);
    if (!scope || hollowSegments.empty())
        return;
    HollowCache& cache = scope.owner() ? ownerCache_ : hollowCache;
    height -= hollowLowering(x, z, cache, generation_.load(std::memory_order_relaxed));
}

void WayNetwork::applyHollows(const vec2d points[], float heights[], int32_t count) const
{
    QueryScope scope(*this);
    if (!scope || hollowSegments.empty())
        return;
    HollowCache& cache = scope.owner() ? ownerCache_ : hollowCache;
    const uint32_t generation = generation_.load(std::memory_order_relaxed);
    for (int32_t n = 0; n < count; ++n)
        heights[n] -= hollowLowering(points[n].x, points[n].y, cache, generation);
}

void WayNetwork::hollowHeightGrid(float heights[gridSamples][gridSamples], const BoundingBox& box) const
{
    QueryScope scope(*this);
    if (!scope)
        return;
    constexpr int32_t last = gridSamples - 1;
    // Each point is lowered by the deepest of the hollows it lies in, from
    // its height as given (kept where a second hollow holds it), as the
    // single lookup lowers it.
    bool touched[gridSamples][gridSamples];
    float lowered[gridSamples][gridSamples];
    float given[gridSamples][gridSamples];
    bool cleared = false;
    const float width = box.maximum.x - box.minimum.x, depth = box.maximum.z - box.minimum.z;
    // The segments whose boxes reach the grid (a few in place; beyond
    // them all are asked again). Under one alone every point it holds is
    // lowered by it.
    constexpr size_t heldInPlace = 16;
    const Way::Segment* held[heldInPlace];
    size_t reaching = 0;
    for (const Way::Segment* segment : hollowSegments)
        if (overlaps(box, segment->bounds)) {
            if (reaching < heldInPlace)
                held[reaching] = segment;
            ++reaching;
        }
    const bool inPlace = reaching <= heldInPlace;
    const size_t asked = inPlace ? reaching : hollowSegments.size();
    for (size_t n = 0; n < asked; ++n) {
        const Way::Segment* segment = inPlace ? held[n] : hollowSegments[n];
        if (!inPlace && !overlaps(box, segment->bounds))
            continue;
        if (!cleared && reaching > 1) {
            std::memset(touched, 0, sizeof(touched));
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
                if (!inside)
                    continue;
                const float by = lowering(d);
                float& height = heights[i][last - k];
                if (reaching == 1) {
                    height -= by;
                } else if (!touched[i][last - k]) {
                    touched[i][last - k] = true;
                    given[i][last - k] = height;
                    lowered[i][last - k] = by;
                    height -= by;
                } else if (by > lowered[i][last - k]) {
                    lowered[i][last - k] = by;
                    height = given[i][last - k] - by;
                }
            }
        }
    }
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
