#pragma once
// The line an opponent driver follows: up to 200 typed points from the
// opponent's position to its next target, joined by cubic curves. On a
// race gate that is reached along the road the points come from the
// road's cross-sections; other targets are approached in a straight run at
// a point in front of them, in stretches of 700 units for far ones, bent
// around the static objects that stand in the way.
//
// The points and the obstacle parts live in fixed arrays: a build never
// writes past 200 points, an obstacle keeps at most 16 parts, and a build
// makes at most 16 bypasses. Main thread only.

#include "Objects/ObjectFunctions.h"

#include "Entity/MeshTools.h"
#include "Way/WayTypes.h"

#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/Vector.h"

#include <cstdint>
#include <vector>

class DynObject;
class StaticEntityManager;

class ObjPkgManager::Functions::Path
{
public:
    static constexpr int32_t maxPoints = 200;
    static constexpr int32_t maxParts = 16;
    static constexpr int32_t maxBypasses = 16;
    // Far targets are approached in stretches this long.
    static constexpr float stretch = 700.0f;
    // The squared spacing of the road's cross-sections a route takes.
    static constexpr float routeSpacingSq = 30000.0f;
    // Points lie this high above the ground.
    static constexpr float lift = 2.0f;
    // A lane keeps the quad's half width and this much more inside the
    // road's edges.
    static constexpr float laneMargin = 1.0f;

    enum PointType : uint32_t {
        StartPoint = 1,
        Intermediate = 2, // across the road, or a bypass around an obstacle
        ApproachPoint = 3,
        GateTarget = 4,
        FlagTarget = 5,
        PickUp = 6,
        RoadGateTarget = 7, // reached along the road
        ParkingSlotTarget = 8,
        HalfwayMark = 9,
        StretchEnd = 10,
    };

    // direction points back towards the side the driver comes from.
    struct Point
    {
        vec3d position;
        vec3d direction;
        uint32_t passed = 0;
        uint32_t type = 0;
    };

    // The cubic curve of one segment: its ends and two control points.
    struct Curve
    {
        vec3d p0, c1, c2, p3;
        vec3d at(float t) const;
    };

    // One static obstacle near the path: the parts of its meshes that carry
    // a triangle tree and stand near the path.
    class Object
    {
    public:
        struct Part
        {
            matrix3d world = matrix3d::identity();
            OrientedBox box{{}, 0.0f, 0.0f, {vec3d(1, 0, 0), vec3d(0, 1, 0), vec3d(0, 0, 1)}, {}};
            // The mesh's tree (not owned).
            const MeshTools::BinaryTiangleTree* tree = nullptr;
        };
        Part parts[maxParts];
        int32_t count = 0;
    };

    // A path of no points for the driven object (may be null: no speed and
    // no size, so the test boxes are the smallest).
    explicit Path(DynObject* driven);
    ~Path();
    Path(const Path&) = delete;
    Path& operator=(const Path&) = delete;

    // Rebuilds the path from start to the target (see the steps in the
    // source); false, changing nothing, when force is not set and the path
    // was built for targetId already. detour: a pick-up to fetch on the way,
    // or null. kind: the type the target point gets (4, 5, 7 or 8); on kind
    // 7 the points follow the road from wayNode across it at lateral (0..1).
    bool build(const vec3d* detour, const vec3d& start, const void* target, const vec3d& approachPoint,
               const vec3d& targetPosition, const vec3d& normal, uint32_t kind, bool force,
               const Way::PointNode* wayNode, float lateral);

    // The first point not passed; the last when all are; null without points.
    const Point* currentPoint() const;
    // The place reach units on from from along the path: past the current
    // point along the points after it, and past the last along its passing
    // direction; the current point itself when that lies reach or more away.
    vec3d pointAhead(const vec3d& from, float reach) const;
    // Degrees between the chords into and out of the first unpassed point
    // among the inner points; 0 when there is none or a chord has no length.
    float bendAngle() const;
    // Whether a driver at from has passed the point: it lies behind, or the
    // driver is less than 40 units in front of its plane.
    static bool isPointPassed(const vec3d& position, const vec3d& direction, const vec3d& from);
    // Marks the points passed from from. True at once when a halfway or
    // stretch-end mark becomes passed (the target is forgotten, so the next
    // build runs); else whether the last point is passed.
    bool updatePassed(const vec3d& from);
    // Whether the pick-up's point is passed.
    bool detourPassed() const;
    // The first unpassed point of type takes position; nothing without one.
    void setPointOfType(uint32_t type, const vec3d& position);
    // The squared distance from position to the first curve sample ahead of
    // it; 0 with fewer than 2 points or when no sample lies ahead.
    float distanceSquaredTo(const vec3d& position) const;
    // Segment i's curve (0 <= i < count - 1).
    Curve segmentControlPoints(int32_t i) const;
    // The curve from p0 to p3 between the neighbours prev (null: the point
    // 30 units behind p0 on the chord) and next.
    static Curve curveBetween(const vec3d* prev, const vec3d& p0, const vec3d& p3, const vec3d& next);
    // A type-2 point at index, later points moving up, with the direction
    // of the point it comes before (at the end, of the last); false
    // (nothing changed) when the path is full or index is outside 0..count.
    bool insertPoint(int32_t index, const vec3d& position);
    // Takes point index out, later points moving down.
    void removePoint(int32_t index);

    // Obstacle avoidance. boxBetween: the box from a to b, extents
    // (side, up, along) added beyond the half length along.
    static OrientedBox boxBetween(const vec3d& a, const vec3d& b, const vec3d& extents);
    // The static objects whose octree nodes meet the box around the first
    // and last point: their mesh parts with a tree that meet it. The object
    // standing at the target's point is driven through (a gate) or onto (a
    // parking slot), never around.
    void collectObstacles();
    // Whether a kept part's tree meets box.
    bool boxBlocked(const OrientedBox& box) const;
    // Whether the corridor along curve is blocked. With first and second
    // asked for, a blocked place needs free ground on both sides within 20
    // steps (first the side found first), else the segment counts as free.
    bool testSegment(const Curve& curve, vec3d* first, vec3d* second) const;
    // The first blocked segment from from on, with both sides found; -1.
    int32_t firstBlockedSegment(int32_t from, vec3d* first, vec3d* second) const;
    // Up to 16 bypass points where segments are blocked.
    void avoidObstacles();
    // Bypass points between two intermediate points that the curve does not
    // need are removed.
    void smooth();

    // The statics searched for obstacles: the driven object's placement's
    // manager unless one is set here.
    StaticEntityManager* statics() const;

    DynObject* object;
    Point points[maxPoints];
    int32_t count = 0;
    // What the path was built for (null: nothing).
    const void* targetId = nullptr;
    // Where the target of the last build stands.
    vec3d targetPoint;
    // The builds made so far, for the figures.
    uint32_t builds = 0;
    // Grown a block of 8 at a time; obstacleCount are in use.
    mutable DynArray<Object> obstacles{8, true};
    int32_t obstacleCount = 0;
    StaticEntityManager* staticsOverride = nullptr;

private:
    bool append(const vec3d& position, const vec3d& direction, uint32_t type);
    // Appends the road's cross-sections from wayNode towards the target.
    void appendRoute(const vec3d*& detour, const vec3d& start, const vec3d& targetPosition,
                     const Way::PointNode* wayNode, float lateral);
    // The place across the cross-section (0 its left edge, 1 its right) of
    // the lane at lateral: a lane on an edge or beyond it (a start slot
    // beside the road) would have the quad half off the road or wholly.
    float lane(const Way::Pos& crossSection, float lateral) const;
    // The test box's extents and side step from the driven object's box and
    // speed.
    void testExtents(vec3d& extents, float& step) const;

    std::vector<Way::Pos> route_;
};
