#pragma once

#include "Way/WayTypes.h"

#include "Core/Color.h"
#include "Core/ConvexVolume.h"
#include "Core/String.h"

#include <cstdint>
#include <vector>

namespace Way {

// One point of a way. The segment that starts here, the branch lists that
// leave here and the links to points of other lists that hang from here are
// the point's own. A point hangs from another (parentNode) when it starts a
// branch list or another point links to it: its way then joins the other
// way there. Main thread only, except that the queries read the points of a
// loaded network from any thread.
class Point
{
public:
    // Where ways join at a point: up to two vertical planes through the
    // corners at which the joining way's edges leave the other way's road.
    // The joining way keeps what lies in front of both (flag 0); the way it
    // joins keeps, with the mirrored copy (flag 1), what lies in front of at
    // least one of them.
    struct Cut
    {
        ConvexVolume::Plane planes[2];
        uint32_t planeCount = 0;
        uint32_t flag = 0;
    };

    // A point that hangs from this one: its id in the file, and its list node
    // once the links are resolved.
    struct Link
    {
        int32_t id = -1;
        PointNode* node = nullptr;
    };

    Point() = default;
    // Deletes the segment, the branch lists with their points and the links.
    ~Point();
    Point(const Point&) = delete;
    Point& operator=(const Point&) = delete;

    int32_t id = -1;
    String name{L"Undefined"}; // the modeler of the segment that starts here
    vec3d side;
    // The side the way file gave, which the segments' sampling replaces:
    // written back while it still agrees with the way's shape.
    vec3d fileSide;
    float width = 0.0f;
    float stepsPerLength = 0.0f;
    float thinTolerance = 0.0f;
    uint32_t followGround = 1;
    Color colour{255, 255, 255, 255};
    Segment* segment = nullptr;
    SCList<PointList> branches;
    SCList<Link> links;
    SCList<PointList>::Node* branchNode = nullptr; // of this point's list in its parent's branches
    SCList<Link>::Node* linkNode = nullptr;        // of the link that names this point
    PointNode* parentNode = nullptr;               // the point this one hangs from
    std::vector<Cut> cuts;
    vec3d position;
    float heightOffset = 0.0f;
};

// Deletes every point of list, then list.
void deletePointList(PointList* list);

// The point of a node (null for none).
inline Point* pointOf(const PointNode* node) { return node ? node->item : nullptr; }

}
