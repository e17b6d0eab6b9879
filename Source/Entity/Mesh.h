#pragma once
// The one editable triangle mesh of the engine over a vertex type V and its
// flexible vertex format code FVF: a name, vertex data with component
// accessors, 16-bit triangle indices, a box, one shared texture, a skeleton
// for skinning and (through MeshTools) an optional triangle tree.
//
// Instances in use: Mesh<vec3d, 2> (shadow geometry), Mesh<Joint::Vertex, 18>
// (joint markers) and Mesh<EntityManager::MeshVertex, 274> (entities and
// packages). Arrays grow in whole blocks (256 vertex-data elements, 512
// indices, 32 bone pointers) and keep their storage when growth fails.

#include "Entity/BoneAnim.h"
#include "Entity/MeshTools.h"
#include "Entity/VertexData.h"

#include "Core/BoundingBox.h"
#include "Core/DynArray.h"
#include "Core/String.h"

#include <TextureRecord.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace MeshSkinning {
// True when a coordinate of a posed position lies outside -10 to 10; the
// skinning then sounds the system's default beep (a skeleton that throws
// vertices far off is an authoring error worth hearing) and goes on.
inline bool outOfRange(const vec3d& p)
{
    return p.x < -10.0f || p.x > 10.0f || p.y < -10.0f || p.y > 10.0f || p.z < -10.0f || p.z > 10.0f;
}
// Counts the warning (outOfRangeCount); the beep sounds in debug builds.
void beep();
// Skinned positions found out of range since the start.
uint32_t outOfRangeCount();
}

template <class V, uint32_t FVF>
class Mesh : public MeshTools, public Shaper, public Framer
{
public:
    using Vertex = V;
    using Element = VertexData<V, FVF>;
    static constexpr uint32_t fvf = FVF;

    explicit Mesh(String name) : name_(std::move(name)) {}
    Mesh(const Mesh&) = delete;
    Mesh& operator=(const Mesh&) = delete;
    ~Mesh() override { clear(); }

    String* getName() override { return &name_; }
    uint32_t getFvf() override { return FVF; }

    VertexComponents* getVertexData(int32_t i) override { return accessor(vertexData_, i); }
    VertexComponents* getSkinnedVertexData(int32_t i) override { return accessor(skinnedVertexData_, i); }
    int32_t* getVertexCount() override { return &vertexCount_; }

    uint16_t* addIndex(uint16_t index) override
    {
        uint16_t* slot = indices_.at(indexCount_);
        if (!slot)
            return nullptr;
        *slot = index;
        ++indexCount_;
        return slot;
    }

    void appendIndices(const uint16_t* source, int32_t n, uint16_t offset, bool reverse) override
    {
        if (!source || n <= 0 || indexCount_ < 0 || !indices_.reserve(uint32_t(indexCount_) + uint32_t(n)))
            return;
        uint16_t* target = indices_.data() + indexCount_;
        for (int32_t k = 0; k < n; ++k)
            target[k] = uint16_t(source[reverse ? n - 1 - k : k] + offset);
        indexCount_ += n;
    }

    void removeIndex(int32_t i) override
    {
        const int32_t count = countedIndices();
        if (i < 0 || i >= count)
            return;
        uint16_t* data = indices_.data();
        std::memmove(data + i, data + i + 1, size_t(count - i - 1) * sizeof(uint16_t));
        indexCount_ = count - 1;
    }

    uint16_t* getIndex(int32_t i) override { return indices_.at(i); }
    uint16_t* getIndices() override { return indices_.data(); }

    uint16_t* reserveIndices(int32_t n) override
    {
        if (n > 0)
            indices_.reserve(uint32_t(n));
        return indices_.data();
    }

    int32_t* getIndexCount() override { return &indexCount_; }

    // Room for n vertices at once (never shrinks): a mesh built up piece by
    // piece would otherwise copy its vertices again at every block it
    // grows. False when the array cannot grow.
    bool reserveVertices(int32_t n) { return n <= 0 || vertexData_.reserve(uint32_t(n)); }

    uint16_t* addTriangle(uint16_t a, uint16_t b, uint16_t c) override
    {
        addIndex(a);
        addIndex(b);
        return addIndex(c);
    }

    void removeTriangle(int32_t n) override
    {
        const int32_t count = countedIndices();
        if (n < 0 || n > (count - 3) / 3 || count < 3)
            return;
        uint16_t* data = indices_.data();
        const int32_t first = 3 * n;
        std::memmove(data + first, data + first + 3, size_t(count - first - 3) * sizeof(uint16_t));
        indexCount_ = count - 3;
    }

    void setBounds(const BoundingBox& box) override { box_ = box; }
    BoundingBox* getBounds() override { return &box_; }

    void calcBounds() override
    {
        const int32_t count = countedVertices();
        Element* data = vertexData_.data();
        vec3d minimum = box_.minimum, maximum = box_.maximum;
        if (count > 0)
            minimum = maximum = *data[0].components.position;
        for (int32_t i = 1; i < count; ++i)
            MeshGeometry::widen(minimum, maximum, *data[i].components.position);
        MeshGeometry::setCorners(box_, minimum, maximum);
    }

    void setTexture(const TextureRef& texture) override { texture_.bind(texture.isBound() ? texture.texture() : nullptr); }
    TextureRef* getTexture() override { return &texture_; }
    BoneAnim* getBoneAnim() override { return &bones_; }

    void applyBones() override
    {
        poseThroughBones([this](uint16_t index, const V& posed) {
            if (Element* element = skinnedVertexData_.at(index))
                element->vertex = posed;
        });
    }

    // The counted vertices' vertex parts into out (room for countedVertices()
    // vertices), then the bones' vertices posed over them: what a vertex
    // buffer of the mesh holds.
    void packVertices(V* out)
    {
        const int32_t count = countedVertices();
        const Element* data = vertexData_.data();
        for (int32_t i = 0; i < count; ++i)
            out[i] = data[i].vertex;
        poseThroughBones([out](uint16_t index, const V& posed) { out[index] = posed; });
    }

    // The vertex and index counts, limited to what the arrays hold.
    int32_t countedVertices() { return std::clamp(vertexCount_, 0, vertexData_.count()); }
    int32_t countedIndices() { return std::clamp(indexCount_, 0, indices_.count()); }

    // Frees the vertex data and indices, zeroes both counts, releases the
    // texture and deletes the bones; the name, box and tree stay.
    void clear()
    {
        vertexData_.setBlocks(0);
        skinnedVertexData_.setBlocks(0);
        indices_.setBlocks(0);
        boneStack_.setBlocks(0);
        vertexCount_ = 0;
        indexCount_ = 0;
        texture_.release();
        bones_.clearBones();
    }

private:
    static VertexComponents* accessor(DynArray<Element>& array, int32_t i)
    {
        Element* element = array.at(i);
        return element ? &element->components : nullptr;
    }

    // The skinning walk: root bones pushed in list order, the bone on top
    // handled first, its children pushed after it, so that later siblings come
    // first and a vertex two bones name takes the pose of the one handled
    // last. Each bone vertex below the vertex count is posed from its element
    // (position through the whole matrix, normal through its 3 x 3 part,
    // uv copied, any colour zero) and handed to write(index, vertex).
    template <class Write>
    void poseThroughBones(Write write)
    {
        if (!bones_.hasBones())
            return;
        const int32_t count = countedVertices();
        Element* data = vertexData_.data();
        Element posed;
        bones_.forEachBone(boneStack_, [&](Bone& bone) {
            bone.forEachVertex(count, [&](uint16_t index, const matrix3d& m) {
                const VertexComponents& source = data[index].components;
                posed.vertex = V{};
                *posed.components.uv = *source.uv;
                *posed.components.position = m.transformPoint(*source.position);
                *posed.components.normal = m.transformVector(*source.normal);
                if (MeshSkinning::outOfRange(*posed.components.position))
                    MeshSkinning::beep();
                write(index, posed.vertex);
            });
        });
    }

    String name_;
    DynArray<Element> vertexData_{256, true};
    DynArray<Element> skinnedVertexData_{256, true};
    DynArray<uint16_t> indices_{512, false};
    int32_t vertexCount_ = 0;
    int32_t indexCount_ = 0;
    BoundingBox box_{{}, 1.0f, 1.0f, {}, {}};
    TextureRef texture_;
    BoneAnim bones_;
    DynArray<Bone*> boneStack_{32, false};
};
