#include "Entity/MeshTools.h"

#include "Entity/BoneAnim.h"
#include "Entity/MeshReaders.h"

#include "Core/CrashTrace.h"
#include "Core/DynArray.h"
#include "Core/FileInterface.h"
#include "Core/Math.h"
#include "Core/Matrix.h"

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstring>
#include <new>

namespace {

// A sort key with the order of the float's value and a total order over
// every bit pattern: sorting never meets an inconsistent comparison, whatever
// values a model file put into the positions (NaN sorts to an end).
uint32_t orderKey(float value)
{
    const uint32_t bits = std::bit_cast<uint32_t>(value);
    return (bits & 0x80000000u) ? ~bits : bits | 0x80000000u;
}

// Exact equality of welded components; a value also equals itself when it is
// NaN, so that every vertex at least meets its own corners.
bool same(float a, float b)
{
    return a == b || std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

bool same(const vec3d& a, const vec3d& b)
{
    return same(a.x, b.x) && same(a.y, b.y) && same(a.z, b.z);
}

bool same(const vec2d& a, const vec2d& b)
{
    return same(a.x, b.x) && same(a.y, b.y);
}

// Outside only when a comparison says so: NaN coordinates are never pruned.
bool outside(const vec3d& p, const BoundingBox& box)
{
    return p.x < box.minimum.x || p.x > box.maximum.x || p.y < box.minimum.y || p.y > box.maximum.y ||
           p.z < box.minimum.z || p.z > box.maximum.z;
}

vec3d positionOf(MeshTools& mesh, uint16_t vertex)
{
    const VertexComponents* c = mesh.getVertexData(vertex);
    return c ? *c->position : vec3d();
}

using Tree = MeshTools::BinaryTiangleTree;

// Sorts count triangles in place, ascending by centroid along the longest
// axis of box (ties choose x before y before z). keys and scratch hold count
// elements each. The records are 68 bytes: the keys carry their positions
// (which also break ties, so the order is total) and every record moves once.
void orderAlongLongestAxis(triangle3dex* triangles, int32_t count, const BoundingBox& box, uint64_t* keys,
                           triangle3dex* scratch)
{
    const vec3d extent = box.maximum - box.minimum;
    int axis = 0;
    if (extent.y > extent.x)
        axis = extent.z > extent.y ? 2 : 1;
    else if (extent.z > extent.x)
        axis = 2;
    for (int32_t i = 0; i < count; ++i)
        keys[i] = uint64_t(orderKey(triangles[i].centroid[axis])) << 32 | uint32_t(i);
    std::sort(keys, keys + count);
    for (int32_t i = 0; i < count; ++i)
        scratch[i] = triangles[uint32_t(keys[i])];
    std::memcpy(static_cast<void*>(triangles), scratch, sizeof(triangle3dex) * size_t(count));
}

// One node over count triangles: a leaf for one, else the lower and upper
// halves of the median split, each ordered in place.
Tree* split(triangle3dex* triangles, int32_t count, uint32_t depth, uint64_t* keys, triangle3dex* scratch)
{
    Tree* node = new (std::nothrow) Tree;
    if (!node)
        return nullptr;
    MeshTools::boundTriangles(triangles, count, node->box);
    if (count == 1) {
        node->triangle = new (std::nothrow) triangle3dex(triangles[0]);
        return node;
    }
    orderAlongLongestAxis(triangles, count, node->box, keys, scratch);
    node->depth = depth;
    const int32_t half = count / 2;
    node->children[0] = split(triangles, half, depth + 1, keys, scratch);
    node->children[1] = split(triangles + half, count - half, depth + 1, keys, scratch);
    return node;
}

}

MeshTools::BinaryTiangleTree::~BinaryTiangleTree()
{
    delete triangle;
    delete children[0];
    delete children[1];
}

MeshTools::~MeshTools() = default;

MeshTools::BinaryTiangleTree* MeshTools::buildTriangleTree(MeshTools& mesh)
{
    CRASH_TRACE();
    const int32_t count = *mesh.getIndexCount() / 3;
    // Touching the last index makes sure the array holds every counted one.
    if (count <= 0 || !mesh.getIndex(3 * count - 1))
        return nullptr;
    mesh.triangleTree_.reset();
    std::unique_ptr<triangle3dex[]> triangles(new (std::nothrow) triangle3dex[size_t(count)]);
    if (!triangles)
        return nullptr;
    const uint16_t* indices = mesh.getIndices();
    for (int32_t t = 0; t < count; ++t) {
        triangle3dex& triangle = triangles[t];
        for (int c = 0; c < 3; ++c) {
            triangle.vertices[c] = indices[3 * t + c];
            triangle.corners[c] = positionOf(mesh, triangle.vertices[c]);
        }
        const vec3d* p = triangle.corners;
        triangle.firstIndex = uint16_t(3 * t);
        triangle.centroid = (p[1] + p[0] + p[2]) * 0.33333334f;
        triangle.normal = MeshGeometry::faceNormal(p[0], p[1], p[2]);
    }
    std::unique_ptr<uint64_t[]> keys(new (std::nothrow) uint64_t[size_t(count)]);
    std::unique_ptr<triangle3dex[]> scratch(new (std::nothrow) triangle3dex[size_t(count)]);
    if (!keys || !scratch)
        return nullptr;
    mesh.triangleTree_.reset(split(triangles.get(), count, 0, keys.get(), scratch.get()));
    return mesh.triangleTree_.get();
}

void MeshTools::sortTriangles(triangle3dex* triangles, int32_t count, const BoundingBox& box, triangle3dex*& first,
                              triangle3dex*& second, int32_t& firstCount, int32_t& secondCount)
{
    first = second = nullptr;
    firstCount = secondCount = 0;
    if (!triangles || count <= 0)
        return;
    const int32_t half = count / 2;
    std::unique_ptr<uint64_t[]> keys(new (std::nothrow) uint64_t[size_t(count)]);
    std::unique_ptr<triangle3dex[]> scratch(new (std::nothrow) triangle3dex[size_t(count)]);
    first = new (std::nothrow) triangle3dex[size_t(half)];
    second = new (std::nothrow) triangle3dex[size_t(count - half)];
    if (!keys || !scratch || !first || !second) {
        delete[] first;
        delete[] second;
        first = second = nullptr;
        return;
    }
    orderAlongLongestAxis(triangles, count, box, keys.get(), scratch.get());
    std::memcpy(static_cast<void*>(first), triangles, sizeof(triangle3dex) * size_t(half));
    std::memcpy(static_cast<void*>(second), triangles + half, sizeof(triangle3dex) * size_t(count - half));
    firstCount = half;
    secondCount = count - half;
}

void MeshTools::boundTriangles(const triangle3dex* triangles, int32_t count, BoundingBox& box)
{
    if (!triangles || count <= 0)
        return;
    vec3d minimum = triangles[0].corners[0], maximum = minimum;
    for (int32_t t = 0; t < count; ++t)
        for (const vec3d& corner : triangles[t].corners)
            MeshGeometry::widen(minimum, maximum, corner);
    MeshGeometry::setCorners(box, minimum, maximum);
}

void MeshTools::weldVertices(MeshTools& mesh)
{
    CRASH_TRACE();
    Tree* root = mesh.getTriangleTree();
    const int32_t indexCount = *mesh.getIndexCount();
    const int32_t vertexCount = *mesh.getVertexCount();
    // Index positions in the tree are 16 bits: beyond 65,536 indices they
    // would name the wrong ones.
    if (!root || indexCount > 65536 || vertexCount <= 0)
        return;
    const VertexComponents* lastVertex = mesh.getVertexData(vertexCount - 1);
    std::unique_ptr<bool[]> marked(new (std::nothrow) bool[size_t(vertexCount)]());
    if (!lastVertex || !marked)
        return;
    const bool compareNormals = lastVertex->normal != &VertexPlaceholder::normal;
    const bool compareUvs = lastVertex->uv != &VertexPlaceholder::uv;

    DynArray<Tree*> stack(32);
    DynArray<uint32_t> matches(64); // index position << 16 | old vertex number
    int32_t kept = 0;
    for (int32_t i = 0; i < vertexCount; ++i) {
        if (marked[i])
            continue;
        const VertexComponents& vertex = *mesh.getVertexData(i);
        const vec3d position = *vertex.position, normal = *vertex.normal;
        const Color colour = *vertex.colour;
        const vec2d uv = *vertex.uv;

        int32_t matchCount = 0;
        int32_t top = 0;
        *stack.at(top++) = root;
        while (top > 0) {
            const Tree* node = *stack.at(--top);
            if (outside(position, node->box))
                continue;
            if (const triangle3dex* triangle = node->triangle) {
                for (int c = 0; c < 3; ++c) {
                    const uint16_t v = triangle->vertices[c];
                    if (v >= vertexCount || marked[v])
                        continue;
                    const VertexComponents& other = *mesh.getVertexData(v);
                    if (!same(*other.position, position) || (compareNormals && !same(*other.normal, normal)) ||
                        (compareUvs && !same(*other.uv, uv)))
                        continue;
                    if (uint32_t* slot = matches.at(matchCount)) {
                        *slot = uint32_t(triangle->firstIndex + c) << 16 | v;
                        ++matchCount;
                    }
                }
                continue;
            }
            for (Tree* child : node->children)
                if (child) {
                    if (Tree** slot = stack.at(top)) {
                        *slot = child;
                        ++top;
                    }
                }
        }
        if (matchCount == 0)
            continue;
        for (int32_t k = 0; k < matchCount; ++k) {
            const uint32_t match = *matches.at(k);
            const int32_t indexPosition = int32_t(match >> 16);
            marked[match & 0xFFFFu] = true;
            uint16_t* index = indexPosition < indexCount ? mesh.getIndex(indexPosition) : nullptr;
            if (index)
                *index = uint16_t(kept);
        }
        const VertexComponents& slot = *mesh.getVertexData(kept);
        *slot.position = position;
        *slot.normal = normal;
        *slot.colour = colour;
        *slot.uv = uv;
        ++kept;
    }
    *mesh.getVertexCount() = kept;
}

void MeshTools::calcSkinnedBounds(MeshTools& mesh, BoundingBox& box)
{
    vec3d minimum(FLT_MAX, FLT_MAX, FLT_MAX), maximum(-FLT_MAX, -FLT_MAX, -FLT_MAX);
    const int32_t count = *mesh.getVertexCount();
    BoneAnim* bones = mesh.getBoneAnim();
    if (!bones || !bones->hasBones()) {
        for (int32_t i = 0; i < count; ++i) {
            const VertexComponents* vertex = mesh.getVertexData(i);
            if (!vertex)
                break;
            MeshGeometry::widen(minimum, maximum, *vertex->position);
        }
    } else {
        DynArray<Bone*> stack(32);
        bones->forEachBone(stack, [&](Bone& bone) {
            bone.forEachVertex(count, [&](uint16_t index, const matrix3d& m) {
                MeshGeometry::widen(minimum, maximum, m.transformPoint(positionOf(mesh, index)));
            });
        });
    }
    MeshGeometry::setCorners(box, minimum, maximum);
}

std::unique_ptr<vec2d[]> MeshTools::copyUVs(MeshTools& mesh)
{
    const int32_t count = *mesh.getVertexCount();
    if (count <= 0 || !mesh.getVertexData(count - 1))
        return nullptr;
    std::unique_ptr<vec2d[]> uvs(new (std::nothrow) vec2d[size_t(count)]);
    if (uvs)
        for (int32_t i = 0; i < count; ++i)
            uvs[i] = *mesh.getVertexData(i)->uv;
    return uvs;
}

MeshTools& MeshTools::processMode(MeshTools& mesh, FileInterface* stream, const matrix3d& transform, int32_t mode)
{
    CRASH_TRACE();
    if (!stream || !stream->isOpen)
        return mesh;
    using Reader = MeshReaders::Result (*)(MeshTools&, FileInterface&, const matrix3d&);
    static constexpr Reader readers[] = {MeshReaders::readModel, MeshReaders::readFramedModel,
                                         MeshReaders::readTextModel, MeshReaders::readRecord};
    if (mode < 1 || mode > 4)
        return mesh;
    const MeshReaders::Result result = readers[mode - 1](mesh, *stream, transform);
    if (result == MeshReaders::Result::damaged) {
        *mesh.getVertexCount() = 0;
        *mesh.getIndexCount() = 0;
    }
    return mesh;
}
