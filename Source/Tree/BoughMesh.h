#pragma once
// The mesh pass of a bough hierarchy, over the entity meshes of the mesh
// template. Included by the code that builds meshes; the rings, the stitching
// and the growth need no meshes and live in the tree library.

#include "Tree/Bough.h"
#include "Tree/TreeParameters.h"

#include "Core/DynArray.h"

#include <algorithm>
#include <vector>

template <class SourceMesh>
uint32_t Tree::Bough::genMesh(Bough& root, SourceMesh& a, SourceMesh* b, DynArray<vec3d>* points,
                              int32_t* pointCount, const Param& param)
{
    static_assert(sizeof(typename SourceMesh::Vertex) == sizeof(Node::Vertex));
    struct Target
    {
        SourceMesh* mesh;
        DynArray<uint16_t> indices{512};
        int32_t indexCount = 0;
    };
    Target targets[2] = {{&a}, {b}};
    for (Target& target : targets)
        if (target.mesh)
            target.mesh->clear();

    uint32_t leftOut = 0;
    std::vector<Bough*> stack{&root};
    while (!stack.empty()) {
        Bough& bough = *stack.back();
        stack.pop_back();
        for (uint32_t i = std::min(bough.childCount, uint32_t(bough.children.count())); i-- > 0;)
            stack.push_back(bough.children.at(int32_t(i)));

        const Param::BoneParam::Level& rec = param.bone.level(bough.level);
        Target& target = targets[rec.ribbon ? 1 : 0];
        const int32_t rings = std::min(int32_t(bough.nodeCount), bough.nodes.count());
        if (!target.mesh || rings == 0)
            continue;
        int32_t& count = *target.mesh->getVertexCount();
        int64_t wanted = 0;
        for (int32_t i = 0; i < rings; ++i)
            wanted += bough.nodes.at(i)->vertexCount;
        // 16-bit indices reach 65,536 vertices; a bough past them is left out.
        if (int64_t(count) + wanted > maxMeshVertices) {
            ++leftOut;
            continue;
        }
        uint32_t previous = 0;
        for (int32_t i = 0; i < rings; ++i) {
            Node& ring = *bough.nodes.at(i);
            const uint32_t first = uint32_t(count);
            for (int32_t k = 0; k < ring.vertexCount; ++k) {
                auto* vertex = target.mesh->getVertexData(count);
                if (!vertex)
                    break;
                const Node::Vertex& source = *ring.vertices.at(k);
                *vertex->position = source.position;
                *vertex->normal = source.normal;
                *vertex->uv = source.uv;
                ++count;
            }
            if (i > 0) {
                Node& before = *bough.nodes.at(i - 1);
                if (rec.ribbon)
                    stitchRibbons(before, target.indices, target.indexCount, previous);
                else
                    stitchRings(target.indices, target.indexCount, before, ring, previous,
                                rec.cap != 0 && i == rings - 1);
            }
            previous = first;
        }
    }
    for (Target& target : targets)
        if (target.mesh && target.indexCount > 0)
            target.mesh->appendIndices(target.indices.data(), target.indexCount, 0, false);
    if (points && pointCount) {
        const int32_t count = a.countedVertices();
        for (int32_t i = 0; i < count; ++i)
            if (vec3d* point = points->at((*pointCount)))
                *point = *a.getVertexData(i)->position, ++*pointCount;
    }
    return leftOut;
}
