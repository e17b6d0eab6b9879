#pragma once

#include "Tree/Tree.h"

#include "Core/ArrayHeap.h"
#include "Core/Color.h"
#include "Core/DynArray.h"
#include "Core/FileInterface.h"
#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <cstdint>
#include <vector>

// One point of a skeleton. Stored as 36 bytes, field by field in this order.
class Tree::Bone
{
public:
    static constexpr uint32_t storedSize = 36;

    vec3d position;       // on the bough's axis
    vec3d direction;      // unit growth direction
    float distance = 0.0f; // path length from the trunk base
    float radius = 0.0f;
    uint32_t hasChildren = 0; // 1 when a child bough sprouts here
};

// A bough with its sub-boughs: a chain of bones along its axis, the roots of
// a trunk, and the child boughs nested inside it. Grown from a bough parameter
// block (genBones, then genRoots) or read from a stored record.
//
// Every bone carries its distance: the path length from the trunk base, a
// child continuing its parent's at the bone it sprouts from. The lengths of
// the parameter blocks are in this unit.
//
// Growth draws rand() in a fixed order and never seeds it, so a parameter
// block and a generator state give one skeleton. Whatever a block holds, a
// bough has at most maxBones bones, a hierarchy at most maxBoughs boughs and
// maxDepth nesting, and values that are not finite grow nothing.
class Tree::Bough
{
public:
    class Param;       // TreeParameters.h
    class ObjectParam; // TreeParameters.h
    class Node;        // below
    struct ObjectInfo; // below
    // The bones of one root.
    using Root = ArrayHeap<Bone>;

    // The bounds of a bough; the query of markOverlap has the same layout.
    struct Box
    {
        vec3d centre;
        float unit[2] = {1.0f, 1.0f}; // unused here
        vec3d minimum;
        vec3d maximum;
    };

    static constexpr uint32_t maxBones = 150;
    // A bough and its nested children, the top one counted as 1.
    static constexpr uint32_t maxDepth = 64;
    // Ten times the most the default parameters grow (74 boughs over 200 seeds).
    static constexpr uint32_t maxBoughs = 750;
    // Roots of one trunk, and the picks of one distance list.
    static constexpr uint32_t maxRoots = 1000;
    static constexpr int32_t maxPicks = 4096;
    // The resolution of a level, and of an object spread, is held to this.
    static constexpr uint32_t maxResolution = 1000;
    // The vertices one mesh can index with 16 bits.
    static constexpr int64_t maxMeshVertices = 65536;

    Box box;
    ArrayHeap<Bone> bones;      // root end first
    ArrayHeap<Root> roots;      // trunk only
    ArrayHeap<Node> nodes;      // mesh rings, root end first
    ArrayHeap<Bough> children;
    uint32_t boneCount = 0;
    uint32_t rootCount = 0;
    uint32_t rootBoneCount = 0; // bones per root: the trunk bones inside the root zone
    uint32_t nodeCount = 0;     // rings in use
    uint32_t childCount = 0;
    uint32_t level = 0;         // 0 trunk, 1, 2, 3 twigs
    float end = 0.0f;           // the distance at which the bough ends
    uint32_t hit = 0;           // 1 while the box overlapped the last query

    Bough() = default;
    Bough(Bough&&) = default;
    Bough& operator=(Bough&&) = default;

    // Drops bones, roots, rings and children (the box and hit stay).
    void clear();

    // Grows this bough as a trunk with all its descendants, replacing what it
    // held. Parameters that are not finite, or a trunk of no length, grow no
    // bones.
    void genBones(const Param& param);
    // Builds the roots of this trunk from its bones; call right after genBones.
    void genRoots(const Param& param);

    // Picks distances on the axis [0, extent] cut into resolution steps:
    // fixedCount fixed steps from low, the extent itself when includeExtent is
    // set, and about count x (span / resolution)^exponent steps in all, the
    // rest drawn at random without repetition; sorted ascending into out,
    // which is sized to what is written. Returns that number (0, with out
    // emptied, for an axis of no length or values that are not finite).
    static int32_t pickDistances(ArrayHeap<float>& out, int32_t count, float resolution, float exponent, float extent,
                                 float low, float high, int32_t includeExtent, int32_t fixedCount);

    // Appends the bone at distance that follows previous (at previousDistance):
    // one step along previous's direction pulled by bias, turned at random by
    // an amount that grows with wobble, the step and the distance along the
    // bough. Draws three rand(). False, appending nothing, when the bough
    // already has maxBones bones or its bone array has no room.
    bool addBone(const Bone& previous, float distance, float previousDistance, float wobble, float radius,
                 const vec3d& bias);

    // Reads a stored hierarchy (the record below, children depth first),
    // replacing what the bough held. A record cut short, with counts the bytes
    // left cannot hold beside what its ancestors still promise, more than
    // maxBoughs boughs, or nested deeper than maxDepth fails the read and
    // leaves the bough empty. Children are made as they are read: what a
    // damaged record claims costs nothing before its bytes are there.
    //   u32 boneCount, rootCount, rootBoneCount, childCount, level; f32 end;
    //   boneCount bones; rootCount x rootBoneCount bones; childCount records.
    bool read(FileInterface& stream);

    // Sets hit where the bough's box overlaps query (touching counts) and
    // clears it elsewhere, visiting children in order until a hit changes.
    // Returns 1 when a hit changed, else 0.
    uint32_t markOverlap(const Box& query);

    // The ring pass over a grown or read hierarchy: rings along a smooth
    // curve through each bough's bones, where the bough has children, turns,
    // narrows or spreads into its roots, and one closing it at its last bone.
    // Fills every bough's rings and box and returns the box of the whole
    // hierarchy. Damaged skeletons (distances that do not grow, values that
    // are not finite) end with fewer rings, never an endless pass.
    static Box genNodes(Bough& root, const Param& param);

    // The mesh pass (BoughMesh.h): the rings of every bough into mesh a, or
    // into b for ribbon levels (left out without b; their children are not),
    // stitched band by band. A bough that would take its mesh past
    // maxMeshVertices is left out; returns how many were. With points given,
    // mesh a's vertex positions are appended there after the pass.
    template <class SourceMesh>
    static uint32_t genMesh(Bough& root, SourceMesh& a, SourceMesh* b, DynArray<vec3d>* points,
                            int32_t* pointCount, const Param& param);

    // The triangles between ring a and the ring c after it (a's first vertex
    // at base, c's right after a's), every vertex of both used, one winding;
    // with cap, a fan closes ring c. False when the index array cannot grow.
    static bool stitchRings(DynArray<uint16_t>& indices, int32_t& indexCount, Node& a, Node& c, uint32_t base,
                            bool cap);
    // The four triangles of every fin between a ribbon ring at base and the
    // next one after it.
    static bool stitchRibbons(Node& ring, DynArray<uint16_t>& indices, int32_t& indexCount, uint32_t base);

    // Places objects (leaf cards) over the hierarchy of root as param
    // spreads them, replacing what out held; after the ring pass (the
    // root's box). At most ObjectParam::maxCount. Returns their number.
    static int32_t placeObjects(Bough& root, ArrayHeap<ObjectInfo>& out, const ObjectParam& param);

private:
    // One record and its children. reserved: the bytes the records still to
    // come after this one (the later children of its ancestors) take at the
    // least, which this record may not claim; boughs: those read so far.
    bool readRecord(FileInterface& stream, uint32_t depth, uint64_t reserved, uint32_t& boughs,
                    std::vector<uint8_t>& scratch);
};

// One cross-section ring of a bough's mesh: its vertices around the axis and
// the angle of each, by which rings of different vertex counts are stitched.
class Tree::Bough::Node
{
public:
    // Laid out as the vertex of entity meshes: position, normal, one uv pair.
    struct Vertex
    {
        vec3d position;
        vec3d normal;
        vec2d uv;
    };

    // A ring never has more vertices, whatever radius or count a package gives.
    static constexpr int32_t maxVertices = 1024;

    ArrayHeap<Vertex> vertices;
    ArrayHeap<float> angles; // radians around the ring, 0 to 2 pi
    int32_t vertexCount = 0;

    Node() = default;
    Node(Node&&) = default;
    Node& operator=(Node&&) = default;

    // A circular ring around centre, in the plane across tangent, for the
    // segment from bone `bone` of the bough at curve parameter t (the root
    // zone's rings follow the roots there). The vertex count follows the
    // radius; a radius that is not positive gives one vertex. Off the key
    // rings and the root zone, the bark roughness draws one rand() per
    // vertex. rootZoneEnd is the distance at which the root zone ends. Grows
    // the bough's box by the vertices.
    void genRing(Bough& bough, const Param& param, uint32_t bone, float t, const vec3d& centre,
                 const vec3d& tangent, float radius, float distance, bool key, float rootZoneEnd);
    // A ribbon ring of flat fins around centre, its width blending from the
    // ribbon start (at distance ribbonStart) to the bough's end. Grows the
    // bough's box by the vertices.
    void genRibbon(Bough& bough, const Param& param, const vec3d& centre, const vec3d& tangent, float ribbonStart,
                   float distance);
};

static_assert(sizeof(Tree::Bough::Box) == 11 * sizeof(float));

// One placed object: its axes (rows 0 to 2, scaled) and position (row 3),
// whether its picture is mirrored, its tint and its kind. Stored as a tagged
// block (tag 1 the 64 bytes of the transform, 2 flip, 3 tint, 4 kind, each
// four bytes; other tags carry no field; tag 0 ends), 76 bytes of fields.
struct Tree::Bough::ObjectInfo
{
    static constexpr uint32_t storedSize = 76;

    matrix3d transform = matrix3d::identity();
    uint32_t flip = 0;
    Color tint{255, 255, 255, 255};
    int32_t kind = 0;

    // Reads the block field by field; false when the data ends first.
    bool read(FileInterface& stream);
    // Whether the transform holds only finite values.
    bool finite() const;
};
