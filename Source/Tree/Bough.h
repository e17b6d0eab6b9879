#pragma once

#include "Tree/Tree.h"

#include "Core/ArrayHeap.h"
#include "Core/FileInterface.h"
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

    Box box;
    ArrayHeap<Bone> bones;      // root end first
    ArrayHeap<Root> roots;      // trunk only
    ArrayHeap<Bough> children;
    uint32_t boneCount = 0;
    uint32_t rootCount = 0;
    uint32_t rootBoneCount = 0; // bones per root: the trunk bones inside the root zone
    uint32_t childCount = 0;
    uint32_t level = 0;         // 0 trunk, 1, 2, 3 twigs
    float end = 0.0f;           // the distance at which the bough ends
    uint32_t hit = 0;           // 1 while the box overlapped the last query

    Bough() = default;
    Bough(Bough&&) = default;
    Bough& operator=(Bough&&) = default;

    // Drops bones, roots and children (the box and hit stay).
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
    // left cannot hold, or nested deeper than maxDepth fails the read and
    // leaves the bough empty.
    //   u32 boneCount, rootCount, rootBoneCount, childCount, level; f32 end;
    //   boneCount bones; rootCount x rootBoneCount bones; childCount records.
    bool read(FileInterface& stream);

    // Sets hit where the bough's box overlaps query (touching counts) and
    // clears it elsewhere, visiting children in order until a hit changes.
    // Returns 1 when a hit changed, else 0.
    uint32_t markOverlap(const Box& query);

private:
    bool readRecord(FileInterface& stream, uint32_t depth, std::vector<uint8_t>& scratch);
};

static_assert(sizeof(Tree::Bough::Box) == 11 * sizeof(float));
