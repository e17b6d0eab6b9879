#pragma once
// The skeleton: a tree of bones owned by a Bone::Root. Each bone is a
// placement in the skeleton's model space (rotation rows 0 to 2, its base in
// row 3, its long axis row 1: the tip lies at base - length x row 1) posed
// by Euler angles relative to its parent, with the two skinning matrices that
// move its mesh vertices, the mesh triangles near it, and its stored record.
// Bones are owned by their parent (children) or by their root list, and
// deleted with it. Main thread, or whichever thread owns the mesh.

#include "Core/ArrayHeap.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/SCList.h"
#include "Core/Triangle3dex.h"
#include "Core/Vector.h"

#include <cstdint>

class FileInterface;
class MeshTools;

// A placement transform (row vectors, translation in row 3) with three angles
// that a bone uses as its Euler angles; bones derive from it.
class Joint : public matrix3d
{
public:
    // The vertex of joint marker meshes: flexible vertex format 18.
    struct Vertex
    {
        vec3d position;
        vec3d normal;
    };

    explicit Joint(const vec3d& position = {});
    virtual ~Joint() = default;
    Joint(const Joint&) = default;
    Joint& operator=(const Joint&) = default;

    // 0 for a plain joint; a bone answers 1 while it is a leaf.
    virtual uint32_t queryFlag() { return 0; }

    vec3d angles; // degrees: x, y, z
};
static_assert(sizeof(Joint::Vertex) == 24);

class Bone : public Joint
{
public:
    class Root;

    // A mesh vertex the bone moves; 4 bytes, also in streams.
    struct Vertex
    {
        uint16_t index = 0; // mesh vertex number
        uint8_t joint = 0;  // non-zero: follows jointMatrix, else skinMatrix
        uint8_t spare = 0;
    };

    // Stored skeletons are untrusted: deeper records or more bones than this
    // are refused (a crafted file could otherwise exhaust the stack).
    static constexpr int32_t maxDepth = 64;
    static constexpr int32_t maxBones = 1024;

    // A bone at position under parent (not linked into the parent's list:
    // the caller appends it), placed by a geometry update.
    explicit Bone(const vec3d& position = {}, Bone* parent = nullptr, float length = 1.0f);
    Bone(const Bone&) = delete;
    Bone& operator=(const Bone&) = delete;
    // Deletes the children.
    ~Bone() override;

    uint32_t queryFlag() override { return children.count() == 0 ? 1 : 0; }
    Bone* getParent() const { return parent; }

    vec3d position() const { return row(3); }
    vec3d tip() const { return row(3) - row(1) * length; }

    // Places the bone from its angles under its parent and refreshes its
    // skinning matrices, box and the parent's joint matrix; then, unless
    // noRecurse, every child (no turn). A root bone keeps its position and
    // ignores turn. With a turn (its 3 x 3 part), the bone's rotation is the
    // turn, then the angles, then the parent, and baseRotation takes the
    // angles-and-parent part.
    void updateGeometry(const matrix3d* turn = nullptr, bool noRecurse = false);
    // Angles clamped per axis to rotationMin..rotationMax, then the update.
    void setAngles(const vec3d& v);
    // Euler angles in degrees of a turn built as Ry x Rx x Rz: x from the
    // sine in r(1, 2); beyond the sine's range (rounding) x follows its sign
    // times 90 and z is 0.
    static vec3d eulerAngles(const matrix3d& r);
    // Gathers the triangles of mesh that have a corner in the bone's box
    // (grown over the bone's vertices) into triangles, then the children's.
    // A bone without vertex storage gathers none.
    void bindMesh(MeshTools& mesh);

    // The bind matrix times the bone's placement: moves its vertices.
    matrix3d skinMatrix = matrix3d::identity();
    // The average of this bone's and its last updated child's skinMatrix
    // (columns 0 to 2): moves joint vertices.
    matrix3d jointMatrix = matrix3d::identity();
    // The rotation the angles alone give under the parent (rows 0 to 2), as
    // the last update with a turn left it; the pose solver starts from it.
    matrix3d baseRotation = matrix3d::identity();
    OrientedBox bounds{{}, 1.0f, 1.0f, {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}, {}};
    float length = 1.0f;
    vec3d rotationMin{-360.0f, -360.0f, -360.0f};
    vec3d rotationMax{360.0f, 360.0f, 360.0f};
    Bone* parent = nullptr;
    SCList<Bone> children;
    ArrayHeap<Vertex> vertices;
    ArrayHeap<triangle3dex> triangles;
    int32_t vertexCount = 0; // entries of vertices in use
    int32_t triangleCount = 0;
    // The inverse of the placement the bone had when it was read.
    matrix3d bindMatrix = matrix3d::identity();

    // Calls visit(vertex number, matrix) for each vertex the bone moves, in
    // order, with the matrix that vertex follows. Numbers at or past
    // meshVertexCount (a damaged file's) are skipped.
    template <class Visit>
    void forEachVertex(int32_t meshVertexCount, Visit visit)
    {
        const int32_t count = vertexCount < vertices.count() ? vertexCount : vertices.count();
        for (int32_t k = 0; k < count; ++k) {
            const Vertex& vertex = *vertices.at(k);
            if (vertex.index < meshVertexCount)
                visit(vertex.index, vertex.joint ? jointMatrix : skinMatrix);
        }
    }

    // The stored bone record and its children's (depth first). read places
    // the children as it goes and sets the bind matrix at the end; it refuses
    // (false) a cut record, a record deeper than maxDepth or one that would
    // take the skeleton past maxBones (*budget counts the bones left).
    bool read(FileInterface& stream, int32_t depth, int32_t* budget);
    bool write(FileInterface& stream);

private:
    // The turn of the angles, kept with the angles it was made from: the
    // pose solver updates bones many times over without changing them.
    const matrix3d& angleTurn();
    matrix3d angleTurn_ = matrix3d::identity();
    vec3d turnAngles_;
};
static_assert(sizeof(Bone::Vertex) == 4);

// The skeleton's root bones, in list order. Bones are numbered in skeleton
// order (forEachBone), which frames and pose chains use.
class Bone::Root
{
public:
    Root() = default;
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
    virtual ~Root();

    // Refreshes bone (a geometry update with its children) when it is in its
    // parent's list, or the root list for a root bone; returns the parent.
    virtual Bone* updateBone(Bone& bone);
    // Without turnSelf, a root bone moves every root bone to target; any
    // other bone turns its parent so that its tip points at target. With
    // turnSelf the bone itself turns. Model space; the angle limits apply.
    virtual void aimBone(Bone& bone, const vec3d& target, bool turnSelf);
    // The stored skeleton, replacing this one (clear first). The first root
    // bone's position goes through transform as a point. False on a damaged
    // record, which leaves no bones.
    virtual bool read(FileInterface& stream, const matrix3d& transform = matrix3d::identity());
    // False when the skeleton does not fit the record (more than 255 roots
    // or children, 65535 vertices of a bone) or a write fails.
    virtual bool write(FileInterface& stream);
    // Deletes every bone.
    virtual void clear() { clearBones(); }
    // The first root bone, only while there is none; else null.
    virtual Bone* addBone(const vec3d& position, float length);
    // A new bone of length under parentBone (asChild), else beside it: under
    // its parent, or for a root bone as a further root bone at the first
    // root's position. Null when memory runs out.
    virtual Bone* addBoneWithGeometry(Bone& parentBone, float length, bool asChild);

    // Deletes every bone (children through their parents) and empties the list.
    void clearBones();
    bool hasBones() const { return bones.count() > 0; }
    // The index-th bone in skeleton order; null past the end.
    Bone* getBoneByIndex(int32_t index);
    int32_t countBones();

    // Calls visit(bone) for every bone in skeleton order: the root bones are
    // pushed in list order, the bone on top is taken and its children pushed
    // in list order in its place, so the last root bone comes first and under
    // each bone its last child. stack is scratch storage; a bone that cannot
    // be pushed (no memory) is skipped with its subtree.
    template <class Visit>
    void forEachBone(DynArray<Bone*>& stack, Visit visit) const
    {
        int32_t top = 0;
        const auto push = [&](Bone* bone) {
            if (Bone** slot = stack.at(top)) {
                *slot = bone;
                ++top;
            }
        };
        for (auto* node = bones.head(); node; node = node->next)
            push(node->item);
        while (top > 0) {
            Bone* bone = *stack.at(--top);
            visit(*bone);
            for (auto* child = bone->children.head(); child; child = child->next)
                push(child->item);
        }
    }

    SCList<Bone> bones;

protected:
    DynArray<Bone*> stack_{32, false};
};
