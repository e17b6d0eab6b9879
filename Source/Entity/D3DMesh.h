#pragma once
// The Direct3D vertex and index buffers made from a mesh.
//
// D3DMeshBuffers is the upload helper every drawable mesh shares (stored
// meshes included): managed, write-only buffers that survive a lost device,
// so an owner uploads again only after its mesh changed. Main thread only.

#include "Entity/Mesh.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>
#include <memory>
#include <new>

class D3DMeshBuffers
{
public:
    D3DMeshBuffers() = default;
    D3DMeshBuffers(const D3DMeshBuffers&) = delete;
    D3DMeshBuffers& operator=(const D3DMeshBuffers&) = delete;
    virtual ~D3DMeshBuffers() { release(); }

    // Releases both buffers and zeroes the counts.
    void release();

    // Replaces the buffers with new ones holding vertexCount vertices of
    // stride bytes in format fvf and indexCount 16-bit indices; a count of 0
    // makes no buffer. On success the counts are stored (triangles = indices
    // / 3) and true returned; on failure nothing is kept (both buffers null,
    // counts 0) and false returned, so passes skip the mesh.
    bool create(const void* vertices, uint32_t vertexCount, uint32_t stride, uint32_t fvf, const uint16_t* indices,
                uint32_t indexCount);

    // Sets the format, stream 0 and the indices on the device; the caller
    // then draws with the counts. Nothing without a device.
    void bind(uint32_t fvf, uint32_t stride) const;

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    uint32_t vertexCount = 0;
    uint32_t indexCount = 0;
    uint32_t startIndex = 0;
    uint32_t triangleCount = 0;
};

template <class V, uint32_t FVF>
class D3DMesh : public D3DMeshBuffers
{
public:
    D3DMesh() = default;
    ~D3DMesh() override = default;

    // Buffers of the mesh's counted vertices, posed through its bones as
    // Mesh::applyBones poses them, and of its counted indices.
    virtual bool upload(Mesh<V, FVF>& mesh)
    {
        const int32_t count = mesh.countedVertices();
        std::unique_ptr<V[]> vertices(count > 0 ? new (std::nothrow) V[size_t(count)] : nullptr);
        if (count > 0 && !vertices) {
            release();
            return false;
        }
        if (count > 0)
            mesh.packVertices(vertices.get());
        return create(vertices.get(), uint32_t(count), sizeof(V), FVF, mesh.getIndices(),
                      uint32_t(mesh.countedIndices()));
    }

    virtual void bind() { D3DMeshBuffers::bind(FVF, sizeof(V)); }
};
