#pragma once
// Strip effects: lit, alpha-tested ribbons (trails, streaks) drawn after the
// terrain. A group holds items under one world matrix and one texture; each
// item writes its own vertices into the streaming ring when the group draws.
// The groups and the ring live in the swap chain; the effects' owners add
// and remove groups, and own them. Main thread only.

#include <TextureRecord.h>

#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

// A vertex of a strip: position, normal, texture coordinates
// (D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1).
struct StripVertex
{
    vec3d position;
    vec3d normal;
    float u = 0.0f;
    float v = 0.0f;

    static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_TEX1;
};
static_assert(sizeof(StripVertex) == 32, "strip vertices are 32 bytes on the device");

// The streaming vertex ring of the strip effects: a dynamic write-only
// buffer of 4096 vertices (default pool), filled one batch of 1024 vertices
// per drawn group, and the shared index buffer of strip pieces (two quads
// sharing an edge: 6 vertices, 4 triangles) repeated over the batch.
// A batch that starts at vertex 0 is locked with discard, any other with
// no-overwrite, so the card keeps drawing earlier batches meanwhile.
class StripEffectRing
{
public:
    static constexpr uint32_t batchVertices = 1024;
    static constexpr uint32_t ringVertices = 4096;
    static constexpr uint32_t pieceVertices = 6;
    static constexpr uint32_t pieceTriangles = 4;
    static constexpr uint32_t pieceCopies = 682;

    StripEffectRing() = default;
    ~StripEffectRing() { release(); }
    StripEffectRing(const StripEffectRing&) = delete;
    StripEffectRing& operator=(const StripEffectRing&) = delete;

    // The managed index buffer, once (it survives a reset). False when it
    // cannot be made.
    bool createIndices();
    // The vertex buffer when missing, once the indices exist (device
    // creation and after a reset); the next batch starts the ring. False
    // when there is no buffer afterwards.
    bool createVertices();
    // The vertex buffer (before a reset).
    void releaseVertices();
    // Both buffers (device release).
    void release();

    // Locks the next batch for writing; nothing is written and false comes
    // back without buffers or when the lock fails.
    bool beginBatch();
    // Unlocks; returns the triangles written (0 when no batch was open).
    uint32_t endBatch();
    // Moves the batch start on by a batch, back to 0 at the ring's end.
    void advance();

    // For the items: room for vertexCount more vertices in the open batch.
    // Returns where to write them and counts them with their triangles;
    // null, counting nothing, when they do not fit (or no batch is open).
    StripVertex* reserve(uint32_t vertexCount, uint32_t triangleCount);
    // Vertices still free in the open batch (0 when none is open).
    uint32_t room() const;

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    uint32_t start = 0;     // first vertex of the current batch
    uint32_t vertices = 0;  // written into the open batch
    uint32_t triangles = 0; // likewise
    // The flags of the last lock (D3DLOCK_DISCARD or D3DLOCK_NOOVERWRITE).
    DWORD lastLockFlags = 0;

private:
    StripVertex* locked_ = nullptr;
};

// One strip effect. The operations are, in this order, the destructor, the
// per-frame update and the vertex writer: writeVertices reserves its
// vertices in the ring and stops when the batch has no more room.
class StripEffectItem
{
public:
    virtual ~StripEffectItem() = default;
    virtual void update() {}
    virtual void writeVertices(StripEffectRing& ring) = 0;

    // The box the effect occupies (for volume tests): centred on origin plus
    // half the length along the second axis, with the three axes and half
    // sizes length, length / 2 and length.
    OrientedBox box() const;

    vec3d origin;
    vec3d axes[3] = {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}};
    float length = 0.0f;
};

// Items drawn together under one world matrix and texture. The group does
// not own its items.
class StripEffectGroup
{
public:
    StripEffectGroup() = default;
    StripEffectGroup(const StripEffectGroup&) = delete;
    StripEffectGroup& operator=(const StripEffectGroup&) = delete;

    // The frame pass of the group: the white material and the world matrix;
    // then, unless hidden, alpha-tested (reference 0x80), unculled, clamped
    // and lit, one batch of the ring written by every item in list order and
    // drawn in one call when it holds vertices. Every state it changes is
    // put back.
    void render(StripEffectRing& ring);

    SCList<StripEffectItem> items;
    TextureRef texture;
    matrix3d world = matrix3d::identity();
    uint32_t hidden = 0;
};
