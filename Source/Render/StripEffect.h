#pragma once
// Strip effects: lit, alpha-tested ribbons (trails, streaks) drawn after the
// terrain. A group holds items under one world matrix and one texture; each
// item writes its own vertices into the streaming ring when the group draws.
// The groups and the ring live in the swap chain's strip-effect manager;
// the effects' owners add and remove groups, and own them. Main thread only.

#include "Render/VertexRing.h"

#include <TextureRecord.h>

#include "Core/ConvexVolume.h"
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

// The streaming ring of the strip effects: batches of 1024 vertices over
// the shared index buffer of strip pieces (two quads sharing an edge: 6
// vertices, 4 triangles) repeated over the batch.
class StripEffectRing : public VertexRing<StripVertex>
{
public:
    static constexpr uint32_t pieceVertices = 6;
    static constexpr uint32_t pieceTriangles = 4;
    static constexpr uint32_t pieceCopies = 682;

    // The strip pieces' index buffer, once (it survives a reset).
    bool createIndices();
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
    // The group's batch: the items in list order whose boxes are not
    // outside volume (every item without one) write into one batch of the
    // ring, which is drawn with the group's texture when it holds vertices.
    // Returns the number of items that wrote. The states are the caller's.
    uint32_t drawBatch(StripEffectRing& ring, const ConvexVolume* volume);

    SCList<StripEffectItem> items;
    TextureRef texture;
    matrix3d world = matrix3d::identity();
    uint32_t hidden = 0;
};
