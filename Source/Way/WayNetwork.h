#pragma once

#include "Way/WayPoint.h"
#include "Way/WaySegment.h"
#include "Way/WayTypes.h"

#include "Render/BufferPool.h"
#include "Render/TextureProjInterface.h"

#include "Core/BoundingBox.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <windows.h>
#include <d3d9.h>

#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

class FileInterface;
class TextureProj;

namespace Way {

// A texture projection that the ways receive, and its links to the segments
// it reaches.
struct ProjectionRecord
{
    TextureProj* projection = nullptr;
    SCList<ProjectionLink> links;
};

// One projection reaching one segment. It sits in the segment's list and in
// the record's list at once. Per mesh piece: the indices of the piece's
// triangles inside the projection's volume, in a range of the network's
// index pools, with the sum of those indices last copied.
struct ProjectionLink
{
    struct Entry
    {
        BufferRange* range = nullptr;
        uint32_t count = 0;
        uint32_t checksum = 0;
    };

    ProjectionRecord* record = nullptr;
    Entry entries[8];
    SCList<ProjectionLink>::Node* segmentNode = nullptr;
    SCList<ProjectionLink>::Node* recordNode = nullptr;
};

}

// The road network of the loaded scene: one global object (gWayNetwork),
// made before the program starts, filled from the scene's ".way" file and
// emptied with the scene. Each top-level way is a tree of point lists; every
// pair of consecutive points of a list is a segment shaped by the modeler
// its first point names.
//
// The ".way" file, little-endian with no header: u32 way count; per way a
// u32 point count and that many point records. A point record: i32 id,
// position (3 f32), side (3 f32), f32 width, f32 height offset, f32 steps
// per length, f32 thinning tolerance, u32 follow-ground, colour (blue, green,
// red, alpha bytes), u32 branch count, u32 link count (60 bytes so far), the
// modeler name (u32 count and 8-bit characters), each branch as a u32 point
// count and its point records, then each link as the i32 id of a point that
// hangs from this one. A save numbers the points depth-first across all ways
// before it writes; links name points by that number.
//
// Threads: everything runs on the main thread except the queries (heights,
// hollows, the grid queries), which the physics thread asks too. Each walk
// has its own stack, the hollow lookup's last segment is kept per thread, and
// a load or clear waits until the queries of other threads have left (they
// find no way while it runs).
class WayNetwork : public TextureProjInterface
{
public:
    // The damaged files a load refuses: points nested deeper than this, and
    // values beyond what a level can hold.
    static constexpr int32_t maxDepth = 64;
    static constexpr float maxCoordinate = 1.0e6f;
    static constexpr float maxWidth = 1.0e5f;
    // Cross-sections of the whole network a load may make: eight times what
    // the largest of the game's maps has (about 1,000), so that a damaged or
    // hostile file cannot stall the load.
    static constexpr uint32_t maxCrossSections = 1u << 13;
    // Edge pieces the junction cuts of a load may test against each other
    // (Segment::cutWork), however the ways lie: room for a junction of
    // segments of the most steps on every side (some 21 million; the game's
    // maps ask for a few dozen), a few tenths of a second where every test
    // must be made.
    static constexpr uint64_t maxCutWork = uint64_t(1) << 25;
    // The hollow's depth (height units) and how it grows from the edge.
    static constexpr float hollowDepth = 9.0f;
    static constexpr float hollowSlope = 0.06f;
    static constexpr int32_t gridSamples = 33;
    static constexpr int32_t colourSamples = 16;

    WayNetwork();
    ~WayNetwork() override;
    WayNetwork(const WayNetwork&) = delete;
    WayNetwork& operator=(const WayNetwork&) = delete;

    // Reads a ".way" file and builds every segment with its mesh. A file
    // that does not open leaves the network as it was (false). A damaged
    // file (a count beyond the data, nesting beyond maxDepth, a value that is
    // not finite or beyond the limits) keeps the ways read whole before the
    // damage (false), as does one whose ways end before its bytes: true only
    // when the read ended with the file's last byte. A network beyond what
    // its segments may ask (a segment of more than Segment::maxSteps steps,
    // more than maxCrossSections in all, junctions of more than maxCutWork)
    // is refused whole and leaves it empty (false). An empty file empties it.
    bool load(const String& path);
    bool read(FileInterface& stream);
    // Numbers the points, then writes the file (replaced only once written
    // whole). A point's name becomes its segment's modeler's, or "Undefined"
    // without a segment; a name that no modeler has is kept as it is.
    bool save(const String& path);
    bool write(FileInterface& stream);

    // The node of the first point, in walk order, whose id is id; null.
    Way::PointNode* findPointNode(int32_t id) const;
    // The registered modeler of that name; the first registered when none
    // has it (null when none is registered).
    Way::Modeler* findModeler(const String& name) const;
    void registerModeler(Way::Modeler* modeler);
    // Deletes the ways and their links to projections; the projection
    // records stay (the scene's clear between levels).
    void clearWays();
    // Everything: the projection records, the ways, both pool lists, the
    // modelers (the scene's release and the exit).
    void clear();

    // The walk of every tree: each way's points in order, the branch lists
    // of a point pushed as it is visited and the list pushed last walked
    // next. visit(node) returns false to stop; walk returns false then.
    template <class Visit>
    bool walk(Visit visit) const;
    template <class Visit>
    static bool walkTree(Way::PointList* root, Visit visit);

    // Queries (WayQueries.cpp), from any thread once loaded; world units.
    // The point list of the first segment, in walk order, whose box holds
    // point (x, z) strictly; null.
    Way::PointList* findSegmentAt(const vec2d& point) const;
    // 1 when (x, z) lies on a segment that lowers the terrain.
    uint32_t isOnWay(float x, float z) const;
    // 1 when (x, z) lies on a segment with a road surface of its own (a
    // modeler that does not lower the terrain).
    uint32_t isOnPavement(float x, float z) const;
    // Lowers height (height units) inside such a segment by up to
    // hollowDepth, growing hollowSlope per unit from its edge; inside
    // several, by the deepest of their hollows.
    void applyHollow(float x, float z, float& height) const;
    // The same for count points (x, z), under one look at the ways.
    void applyHollows(const vec2d points[], float heights[], int32_t count) const;
    // The same for a grid of 33 x 33 heights over box: heights[i][32 - k]
    // at (minimum x + i / 32 x width, minimum z + k / 32 x depth).
    void hollowHeightGrid(float heights[gridSamples][gridSamples], const BoundingBox& box) const;
    // Tints a 16 x 16 grid of R5G6B5 colours over box (colours[i][k] at
    // i / 15 and k / 15 of the box) towards the colours of those segments.
    void weightNearWays(uint16_t colours[colourSamples][colourSamples], const BoundingBox& box) const;
    // An opponent's path: cross-sections from startNode's list towards the
    // segment that holds target, at least sqrt(minSpacingSq) apart; the
    // number appended to out (0 when the target lies on no segment of it).
    static uint32_t findSegmentNear(const vec3d& position, const Way::PointNode* startNode, const vec3d& target,
                                    float minSpacingSq, std::vector<Way::Pos>& out);

    // Drawing (WayRender.cpp), main thread: the projection links follow the
    // projections that changed; the segments in view and in range draw.
    void updateProjections();
    void render(uint32_t withProjections);
    void addTexProj(TextureProj* projection) override;
    void removeTexProj(TextureProj* projection) override;
    // Device reset: the modelers' blocks go before it and come back after.
    void releaseStateBlocks();
    void restoreStateBlocks();
    // Device release: the pieces, the links' ranges and both pools.
    void releaseDeviceObjects();

    SCList<Way::ProjectionRecord> projectionRecords;
    SCList<Way::PointList> ways;
    BufferPool::List vertexPools{BufferPool::meshVertices};
    BufferPool::List indexPools{BufferPool::indices};
    D3DMATERIAL9 material{};
    std::vector<Way::Modeler*> modelers;
    // Every segment in walk order, and those that lower the terrain.
    std::vector<Way::Segment*> segments;
    std::vector<Way::Segment*> hollowSegments;
    // Pieces the mesh build left out (they would have passed 65,536 vertices).
    uint32_t refusedPieces = 0;

    // The segment a thread's last hollow lookup found, and the generation of
    // the ways it belongs to.
    struct HollowCache
    {
        const WayNetwork* network = nullptr;
        uint32_t generation = 0;
        const Way::Segment* segment = nullptr;
        // Where in its box this segment is the only hollow of a square of
        // the hollows' grid (x, z from low to high, borders outside); empty
        // when none is known.
        float alone[4] = {1.0f, 1.0f, 0.0f, 0.0f};
    };

private:
    friend class QueryScope;
    void unlink(Way::ProjectionLink* link);
    bool readWays(FileInterface& stream);
    bool buildSegments();
    void indexSegments();
    // Waits until the queries of other threads have left and keeps new ones
    // out while the ways change.
    void beginChange();
    void endChange();
    const Way::Segment* hollowAt(float x, float z, float& depth) const;
    // How deep the hollows lower the ground at (x, z): the deepest of those
    // that hold it (0 for none), with the thread's last segment in cache.
    float hollowLowering(float x, float z, HollowCache& cache, uint32_t generation) const;
    // The hollow segments whose boxes reach into the square of the hollows'
    // bucket grid that holds (x, z), in walk order; none beyond the grid.
    struct HollowBucket
    {
        const uint32_t* first = nullptr;
        const uint32_t* last = nullptr;
        int32_t column = 0, row = 0; // the square's, along x and z
    };
    HollowBucket hollowBucket(float x, float z) const;
    void indexHollows();

    // The network's own thread keeps its last hollow here; others per thread.
    mutable HollowCache ownerCache_;
    // The segments a ways pass draws.
    std::vector<Way::Segment*> visible_;
    std::atomic<uint32_t> changing_{0};
    mutable std::atomic<int32_t> remoteQueries_{0};
    std::atomic<uint32_t> generation_{0};
    uint32_t ownerThread_ = 0;
    // The hollow segments by the squares of a grid over their boxes, so that
    // a lookup tests only those near it: per square the start of its run in
    // hollowBuckets_ (indices into hollowSegments), squares along x first.
    float hollowGridMin_[2] = {};
    float hollowGridCell_ = 1.0f;
    float hollowGridPerUnit_ = 1.0f;
    int32_t hollowGridSize_[2] = {};
    std::vector<uint32_t> hollowBucketStart_;
    std::vector<uint32_t> hollowBuckets_;
};

template <class Visit>
bool WayNetwork::walkTree(Way::PointList* root, Visit visit)
{
    // A few lists in place; a wide tree takes the heap.
    Way::PointList* inPlace[32];
    std::vector<Way::PointList*> more;
    int32_t top = 0;
    auto push = [&](Way::PointList* list) {
        if (top < 32)
            inPlace[top] = list;
        else
            more.push_back(list);
        ++top;
    };
    auto pop = [&]() {
        --top;
        if (top < 32)
            return inPlace[top];
        Way::PointList* list = more.back();
        more.pop_back();
        return list;
    };
    if (root)
        push(root);
    while (top > 0) {
        Way::PointList* list = pop();
        for (Way::PointNode* node = list->head(); node; node = node->next) {
            if (!visit(node))
                return false;
            if (Way::Point* point = node->item)
                for (auto* branch = point->branches.head(); branch; branch = branch->next)
                    if (branch->item)
                        push(branch->item);
        }
    }
    return true;
}

template <class Visit>
bool WayNetwork::walk(Visit visit) const
{
    for (auto* way = ways.head(); way; way = way->next)
        if (way->item && !walkTree(way->item, visit))
            return false;
    return true;
}

extern WayNetwork gWayNetwork;

// |position - left edge| / |left edge - right edge| of a cross-section: 0 at
// its left edge, 1 at its right edge (0 for one of no width).
float wayDistanceRatio(const vec3d& position, const Way::Pos& crossSection);

// The scene's hooks: the ".way" file beside the level.
bool loadWayFile(const String& path);
bool saveWayFile(const String& path);
