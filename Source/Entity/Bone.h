#pragma once
// The skeleton as far as mesh skinning reads it: every bone's two skinning
// matrices, the mesh vertices it moves and its children; the root list that a
// mesh's BoneAnim holds. Bones are owned by their parent (children) or by
// their root list, and deleted with it.

#include "Core/ArrayHeap.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <cstdint>

// A placement transform (row vectors, translation in row 3); bones derive
// from it.
class Joint : public matrix3d
{
public:
    // The vertex of joint marker meshes: flexible vertex format 18.
    struct Vertex
    {
        vec3d position;
        vec3d normal;
    };

    Joint() : matrix3d(matrix3d::identity()) {}
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

    Bone() = default;
    Bone(const Bone&) = delete;
    Bone& operator=(const Bone&) = delete;
    // Deletes the children.
    virtual ~Bone();

    // The bind matrix times the bone's placement: moves its vertices.
    matrix3d skinMatrix = matrix3d::identity();
    // The average of this bone's and a child's skinMatrix: moves joint vertices.
    matrix3d jointMatrix = matrix3d::identity();
    Bone* parent = nullptr;
    SCList<Bone> children;
    ArrayHeap<Vertex> vertices;
    int32_t vertexCount = 0; // entries of vertices in use

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
};
static_assert(sizeof(Bone::Vertex) == 4);

// The skeleton's root bones, in list order.
class Bone::Root
{
public:
    Root() = default;
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
    virtual ~Root();

    // Deletes every bone (children through their parents) and empties the list.
    void clearBones();
    bool hasBones() const { return bones.count() > 0; }

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
};
