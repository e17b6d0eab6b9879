#include "Race/AIPath.h"

#include "Objects/DynObject.h"

#include "Landscape/Terrain.h"
#include "Way/WayNetwork.h"

#include <algorithm>
#include <cmath>

namespace {

using Path = ObjPkgManager::Functions::Path;

// Tangents no longer than this are used as they are, at half the length.
constexpr float shortTangent = 0.001f;

// length x the unit vector of v, or length / 2 x v itself when v is short.
vec3d scaledAlong(const vec3d& v, float length)
{
    const float size = v.length();
    return size > shortTangent ? v * (length / size) : v * (length * 0.5f);
}

}

vec3d Path::Curve::at(float t) const
{
    const float u = 1.0f - t;
    return p0 * (u * u * u) + c1 * (3.0f * u * u * t) + c2 * (3.0f * u * t * t) + p3 * (t * t * t);
}

Path::Path(DynObject* driven) : object(driven) {}

Path::~Path()
{
    obstacles.setBlocks(0);
    obstacleCount = 0;
}

bool Path::append(const vec3d& position, const vec3d& direction, uint32_t type)
{
    if (count >= maxPoints)
        return false;
    Point& p = points[count++];
    p.position = position;
    p.direction = direction;
    p.passed = 0;
    p.type = type;
    return true;
}

bool Path::insertPoint(int32_t index, const vec3d& position)
{
    if (count >= maxPoints || index < 0 || index > count)
        return false;
    for (int32_t i = count; i > index; --i)
        points[i] = points[i - 1];
    // The new point is passed like the one it comes before, or at the end
    // like the last: a point without a direction could never be passed.
    vec3d direction;
    if (index < count)
        direction = points[index + 1].direction;
    else if (index > 0)
        direction = points[index - 1].direction;
    points[index] = Point{position, direction, 0, Intermediate};
    ++count;
    return true;
}

void Path::removePoint(int32_t index)
{
    if (index < 0 || index >= count)
        return;
    for (int32_t i = index; i + 1 < count; ++i)
        points[i] = points[i + 1];
    --count;
}

bool Path::build(const vec3d* detour, const vec3d& start, const void* target, const vec3d& approachPoint,
                 const vec3d& targetPosition, const vec3d& normal, uint32_t kind, bool force,
                 const Way::PointNode* wayNode, float lateral)
{
    if (!force && target == targetId)
        return false;
    targetId = target;
    targetPoint = targetPosition;
    count = 0;
    append(start, normal, StartPoint);

    // The pick-up is passed coming from the start, or from the target's
    // side when it lies right at the start.
    vec3d pickUpDirection = normal;
    if (detour && (start - *detour).lengthSq() > 20.0f * 20.0f)
        pickUpDirection = (start - *detour).normalised();

    if (kind == RoadGateTarget) {
        appendRoute(detour, start, targetPosition, wayNode, lateral);
    } else if (detour) {
        append(*detour, pickUpDirection, PickUp);
    }
    const float distance = (start - approachPoint).length();
    if (kind == RoadGateTarget || distance <= stretch) {
        if (!(approachPoint == targetPosition) && !isPointPassed(approachPoint, normal, start))
            append(approachPoint, normal, ApproachPoint);
        append(targetPosition, normal, kind);
    } else {
        const vec3d v = (approachPoint - start) * (stretch / distance);
        const vec3d e = -v.normalised();
        const vec3d halfway = start + v * 0.5f;
        if (!(detour && isPointPassed(halfway, e, *detour)))
            append(halfway, e, HalfwayMark);
        append(start + v, e, StretchEnd);
    }

    if (kind != RoadGateTarget)
        avoidObstacles();
    for (int32_t i = 0; i < count; ++i) {
        vec3d& p = points[i].position;
        p.y = gTerrain.getHeight(p.x, p.z, 3) + lift;
    }
    if (kind != RoadGateTarget)
        smooth();
    ++builds;
    return true;
}

void Path::appendRoute(const vec3d*& detour, const vec3d& start, const vec3d& targetPosition,
                       const Way::PointNode* wayNode, float lateral)
{
    route_.clear();
    const uint32_t found = WayNetwork::findSegmentNear(start, wayNode, targetPosition, routeSpacingSq, route_);
    const size_t n = std::min<size_t>(found, route_.size());
    // The pick-up takes the place of the cross-sections within half the
    // spacing of it along the way; the others stay, before it and after it.
    // Dropped, they would leave the quad a chord of up to two spacings to
    // the pick-up, or from it straight to the target, across the bends: off
    // the way, where the course watch would set it back.
    const float halfSpacing = 0.5f * std::sqrt(routeSpacingSq);
    const auto besidePickUp = [&](const Way::Pos& c, const vec3d& pickUp) {
        return std::abs(c.forward.dot(c.centre - pickUp)) <= halfSpacing;
    };
    const auto appendLane = [&](const Way::Pos& c) {
        return append(c.left * (1.0f - lane(c, lateral)) + c.right * lane(c, lateral), -c.forward, Intermediate);
    };
    vec3d pickedUp;
    bool afterPickUp = false;
    for (size_t i = 0; i < n; ++i) {
        const Way::Pos& c = route_[i];
        if (detour && i + 1 < n) {
            const Way::Pos& next = route_[i + 1];
            if (c.forward.dot(c.centre - *detour) < -0.001f && next.forward.dot(next.centre - *detour) > 0.001f) {
                vec3d direction = (start - *detour).normalised();
                if ((start - *detour).lengthSq() <= 20.0f * 20.0f)
                    direction = -c.forward;
                if (!besidePickUp(c, *detour) && !appendLane(c))
                    return;
                if (!append(*detour, direction, PickUp))
                    return;
                pickedUp = *detour;
                afterPickUp = true;
                detour = nullptr;
                continue;
            }
        }
        if (afterPickUp && besidePickUp(c, pickedUp))
            continue;
        afterPickUp = false;
        if (!appendLane(c))
            return;
    }
}

float Path::lane(const Way::Pos& crossSection, float lateral) const
{
    const float width = (crossSection.right - crossSection.left).length();
    if (!(width > 0.0f))
        return 0.5f;
    float halfWidth = 0.0f;
    if (object)
        halfWidth = object->worldBox.halfExtents.x * object->worldBox.axes[0].length();
    const float inset = std::min((halfWidth + laneMargin) / width, 0.5f);
    return std::clamp(lateral, inset, 1.0f - inset);
}

const Path::Point* Path::currentPoint() const
{
    if (count <= 0)
        return nullptr;
    for (int32_t i = 0; i < count; ++i)
        if (!points[i].passed)
            return &points[i];
    return &points[count - 1];
}

vec3d Path::pointAhead(const vec3d& from, float reach) const
{
    const auto flat = [](const vec3d& v) { return vec3d(v.x, 0.0f, v.z); };
    int32_t i = 0;
    while (i + 1 < count && points[i].passed)
        ++i;
    if (i >= count)
        return from;
    float left = reach - flat(points[i].position - from).length();
    if (left <= 0.0f)
        return points[i].position;
    for (int32_t j = i + 1; j < count; ++j) {
        const vec3d chord = points[j].position - points[j - 1].position;
        const float length = flat(chord).length();
        if (length >= left)
            return points[j - 1].position + chord * (left / length);
        left -= length;
    }
    const vec3d onward = flat(-points[count - 1].direction);
    const float size = onward.length();
    return size > 0.0f ? points[count - 1].position + onward * (left / size) : points[count - 1].position;
}

float Path::bendAngle() const
{
    for (int32_t i = 1; i + 1 < count; ++i) {
        if (points[i].passed)
            continue;
        const vec3d a = points[i].position - points[i - 1].position;
        const vec3d b = points[i + 1].position - points[i].position;
        const float lengths = a.length() * b.length();
        if (!(lengths > 0.0f))
            return 0.0f;
        const float cosine = std::clamp(a.dot(b) / lengths, -1.0f, 1.0f);
        const float angle = std::acos(cosine) * 57.29578f;
        return std::isfinite(angle) ? angle : 0.0f;
    }
    return 0.0f;
}

bool Path::isPointPassed(const vec3d& position, const vec3d& direction, const vec3d& from)
{
    const vec3d u = (position - from).normalised();
    if (u.dot(-direction) < 0.0f)
        return true;
    return (position + direction * 40.0f - from).dot(direction) > 0.001f;
}

bool Path::updatePassed(const vec3d& from)
{
    for (int32_t i = 0; i < count; ++i) {
        Point& p = points[i];
        if (p.passed)
            continue;
        p.passed = isPointPassed(p.position, p.direction, from) ? 1 : 0;
        if (p.passed && (p.type == HalfwayMark || p.type == StretchEnd)) {
            targetId = nullptr;
            return true;
        }
    }
    return count > 0 && points[count - 1].passed != 0;
}

bool Path::detourPassed() const
{
    for (int32_t i = 0; i < count; ++i)
        if (points[i].type == PickUp && points[i].passed)
            return true;
    return false;
}

void Path::setPointOfType(uint32_t type, const vec3d& position)
{
    for (int32_t i = 0; i < count; ++i) {
        if (points[i].type == type && !points[i].passed) {
            points[i].position = position;
            return;
        }
    }
}

Path::Curve Path::curveBetween(const vec3d* prev, const vec3d& p0, const vec3d& p3, const vec3d& next)
{
    const vec3d behind = prev ? *prev : p0 - (p3 - p0).normalised() * 30.0f;
    const float length = (p0 - p3).length() / 3.0f;
    return Curve{p0, p0 + scaledAlong(p3 - behind, length), p3 - scaledAlong(next - p0, length), p3};
}

Path::Curve Path::segmentControlPoints(int32_t i) const
{
    const vec3d& p0 = points[i].position;
    const vec3d& p3 = points[i + 1].position;
    const vec3d& next = i + 2 < count ? points[i + 2].position : p3;
    return curveBetween(i > 0 ? &points[i - 1].position : nullptr, p0, p3, next);
}

float Path::distanceSquaredTo(const vec3d& position) const
{
    for (int32_t i = 0; i + 1 < count; ++i) {
        const Curve curve = segmentControlPoints(i);
        const int32_t n = std::max(1, int32_t((curve.p3 - curve.p0).length() / 5.0f));
        for (int32_t j = 0; j <= n; ++j) {
            const float t = float(j) / float(n);
            const vec3d b = curve.at(t);
            // Only the sign matters: the tangent needs no unit length.
            const vec3d tangent = curve.at(t + 0.01f) - b;
            if ((b - position).dot(tangent) >= 0.0f)
                return (position - b).lengthSq();
        }
    }
    return 0.0f;
}
