#pragma once

#include "Way/WayTypes.h"

#include "Entity/MeshTools.h"

#include "Core/BoundingBox.h"
#include "Core/ConvexVolume.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <cfloat>
#include <cstdint>
#include <memory>
#include <vector>

struct BufferRange;
struct IDirect3DIndexBuffer9;
struct IDirect3DVertexBuffer9;
struct Texture;

namespace Way {

struct ProjectionLink;

// What a ways pass has set on the device: consecutive segments of one
// modeler draw under one setting of its states, and pieces of one pool
// share its buffers. Main thread only.
struct DrawRun
{
    // The modeler's states: its draw block (the restore block capturing what
    // it replaces) and cull mode.
    void begin(Modeler& m);
    // The pass's states back: the normal cull mode, no texture transforms,
    // the restore block.
    void end();
    // Forgets the buffers and texture set (another pass changed them).
    void forget();

    Modeler* modeler = nullptr;
    bool blocks = false;
    IDirect3DVertexBuffer9* vertices = nullptr;
    IDirect3DIndexBuffer9* indices = nullptr;
    const Texture* texture = nullptr;
    bool textureSet = false;
};

// The cubic curve of a segment from its start point to its end point; its
// inner control points follow the neighbouring points, so consecutive
// segments join with one tangent direction.
struct Curve
{
    vec3d p0;
    vec3d c1;
    vec3d c2;
    vec3d p3;
    // The height offsets of the point before the start (or the start), the
    // start, the end and the point after the end (or the end).
    float heightOffsets[4] = {};
    float length = 0.0f; // ten chords
    float step = 0.0f;   // the parameter step between cross-sections
    uint32_t valid = 0;  // built from two points
    uint32_t steps = 0;  // 1 / step, as far as it counts (saturates)

    vec3d pointAt(float t) const;
};

// A way segment: the curve between two consecutive points of a list, its
// cross-sections, the trims where other ways join it, its mesh pieces in the
// network's buffer pools and its links to the texture projections that reach
// it. The way loader builds every segment in stages (construction, sampling,
// cuts, ground fitting, meshes), each stage over all segments before the
// next. Main thread only; a loaded segment is read by queries on any thread.
class Segment : public Curve
{
public:
    static constexpr int meshEntries = 4;
    // The densest a segment may be sampled.
    static constexpr uint32_t maxSteps = 2048;
    // What a query answers outside every way.
    static constexpr float outside = FLT_MAX;

    // One mesh piece: its ranges in the network's pools (vertices, then
    // 16-bit indices counted from the piece's first vertex) and its
    // triangle tree.
    struct Mesh
    {
        BufferRange* vertices = nullptr;
        BufferRange* indices = nullptr;
        uint32_t vertexCount = 0;
        uint32_t indexCount = 0;
        std::unique_ptr<MeshTools::BinaryTiangleTree> tree;
    };

    // Stage 1: the curve from the two nodes (their neighbours shape it).
    Segment(PointNode* start, PointNode* end, Modeler* shaper);
    // Releases the pieces and the projection links.
    ~Segment();
    Segment(const Segment&) = delete;
    Segment& operator=(const Segment&) = delete;

    // The curve maths. buildCurve fills curve from two nodes (valid 0 when
    // either is missing); initCurve zeroes it first. crossSection writes the
    // unit forward and side vectors and the x and z of the edge points of a
    // cross-section of width at t, looking ahead onto next past t = 0.99.
    static void buildCurve(Curve& curve, const PointNode* start, const PointNode* end);
    static void initCurve(Curve& curve, const PointNode* start, const PointNode* end);
    static void crossSection(const Curve& curve, const Curve* next, float t, float width, vec3d& forward, vec3d& side,
                             vec3d& left, vec3d& right);
    // A cross-section at t with the width blended between the two points
    // (edge heights untouched), and one with its edge heights from the
    // ground (at pos.t).
    static void crossSectionAt(Pos& pos, const Segment& segment, float t);
    static void groundCrossSectionAt(Pos& pos, const Segment& segment, uint32_t followGround);

    // Stage 2: the points' side vectors and the cross-sections, with a
    // lead-in and a lead-out where an end hangs from another way; then the
    // boxes of the edges for stage 3.
    void sample();
    // The x/z boxes of the edge points (left and right together) of every
    // block of edgeBlock pieces, for the edge tests of stage 3; stage 4,
    // which moves and thins the cross-sections, drops them.
    void boxEdges();
    // Stage 3: the trims where other ways join at either end, and the cuts
    // of a hanging end's point and of the point it hangs from.
    void computeCuts();
    // What stage 3 takes (after stage 2): the pieces of the other ways'
    // edges it tests a piece of this segment's edges against, over every
    // piece and both ends. A way joined by several links counts once.
    uint64_t cutWork() const;
    // Stage 4: heights from the ground, then the thinning of straight runs.
    void fitToGround();
    // 1 when the start point asks to follow the ground and neither end takes
    // part in a junction.
    uint32_t followsGround() const;

    // Where the x/z line from line[0] to line[1] first crosses the other
    // segment's left and right edges, and the unit direction of the edge
    // piece crossed.
    struct EdgeHits
    {
        bool left = false;
        bool right = false;
        vec2d leftHit, leftDirection;
        vec2d rightHit, rightDirection;
    };
    static bool intersectEdges(const Segment& other, const vec2d line[2], EdgeHits& hits);

    // The x/z distance of (x, z) from the nearer edge on its side, when the
    // point lies on the segment: inside 1 and along the nearest
    // cross-section's place (0 at the first, 1 at the last); outside when it
    // does not (inside 0). Without cross-sections neither is written. The
    // nearest cross-section is copied to crossSection when given.
    float projectPoint(float x, float z, uint32_t& inside, float& along, Pos* crossSection) const;
    // Whether point's (x, z) lies on the segment; the nearest cross-section
    // is copied to crossSection when given.
    bool holds(const vec3d& point, Pos* crossSection = nullptr) const;
    // Makes the index projectPoint finds the nearest cross-section with
    // (after the cross-sections last changed; ground fitting does it).
    void indexCrossSections();

    // Stage 5: the pieces' meshes (WayMeshBuild.cpp). buildPartMeshes makes
    // the modeler's part meshes, clipped at the junctions and without
    // bounds; buildMeshes uploads them, or sets the bounds of a modeler
    // without parts.
    void buildMeshes();
    void buildPartMeshes(std::vector<std::unique_ptr<PartMesh>>& parts);

    // Copies mesh into new ranges of the network's pools; the piece takes the
    // mesh's tree. False, with the piece left empty, when either range
    // cannot be had or the mesh has no triangles.
    bool uploadMesh(Mesh& piece, PartMesh& mesh);
    // Frees every piece's ranges and tree; meshCount 0.
    void releaseMeshes();
    // Gives a piece's vertex and index ranges back to their pools and empties it.
    static void releasePiece(Mesh& piece);
    // Draws the segment's pieces with its modeler's settings, then, with
    // withProjections, the projections that reach it (WayRender.cpp).
    void render(uint32_t withProjections);
    // The pieces, each with its modeler's texture, under the run's states.
    void drawPieces(DrawRun& run) const;
    void drawPiece(const Mesh& piece, DrawRun& run) const;
    void drawProjectionPiece(const Mesh& piece, const BufferRange* indices, uint32_t indexCount,
                             DrawRun& run) const;
    void renderProjections();
    // Appends the vertex numbers of the triangles of a piece's tree whose
    // boxes the volume does not put outside.
    static void collectProjectedTriangles(const MeshTools::BinaryTiangleTree* node, uint32_t& checksum,
                                          std::vector<uint16_t>& indices, const ConvexVolume& volume);

    Point& startPoint() const { return *startNode->item; }
    Point& endPoint() const { return *endNode->item; }

    std::vector<Pos> positions;
    // Between consecutive cross-sections i and i + 1, the x/z plane halfway
    // between their centres: a point lies nearer to i + 1 than to i where
    // x nx + z nz > offset. In blocks of four (x, z, offset), the last block
    // filled with planes no point passes.
    std::vector<float> halfways;
    // 1 / the length of each piece of the left and of the right edge (0 for
    // a piece of no length), piece by piece.
    std::vector<float> edgeScales;
    std::vector<vec2d> outline;
    // Minimum x, z, maximum x, z of each block (boxEdges); empty outside
    // stage 3.
    static constexpr size_t edgeBlock = 16;
    std::vector<float> edgeBoxes;
    float startTrim = 0.0f;
    float endTrim = 0.0f;
    PointNode* startNode = nullptr;
    PointNode* endNode = nullptr;
    Modeler* modeler = nullptr;
    Mesh meshes[meshEntries];
    uint32_t meshCount = 0;
    BoundingBox bounds{{}, 1.0f, 1.0f, {}, {}};
    SCList<ProjectionLink> projections;

private:
    void cutEnd(bool start, int32_t& remembered);
};

// The segment that starts at the node when it has cross-sections, or null.
const Segment* segmentOf(const PointNode* node);
// The height of the road surface at a point (its ground and height offset),
// 0 for a list of one point.
float wayHeightAtNode(const PointNode* node);
// The ground under (x, z): the terrain's height at its finest resolution,
// 0 where there is no ground.
float groundHeight(float x, float z);
// v at unit length (the table square root); a zero or vanishing vector
// becomes zero.
vec3d unit(const vec3d& v);

}
