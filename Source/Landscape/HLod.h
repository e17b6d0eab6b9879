#pragma once

#include "Render/D3DDevice.h"
#include "TextureRecord.h"

#include "Core/BoundingBox.h"
#include "Core/ConvexVolume.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/Vector.h"

#include <d3d9.h>

#include <cfloat>
#include <cstdint>

class Terrain;

// The far field: the distant static objects of the level drawn from
// pictures instead of geometry. Four upright panels stand around the viewer
// at the panel distance d, one per direction (+z, -z, -x, +x), each showing
// a picture of the far field that way; three render targets ("HLODRT")
// serve the four panels, so a panel that leaves the view gives its target
// back. Pictures are renewed only when the camera has moved far enough, a
// visible panel has none, or the scene asks (the re-render flag); in between
// the far objects cost one textured rectangle per visible panel.
//
// The swap chain owns one: it restores it after every device creation or
// reset, updates it last among its managers and draws it after the water;
// the water's reflections and the effect scene draw it too. The objects are
// the level's static objects with the far-field meshes of their packages,
// reached through Objects; without it (no object packages yet) the far field
// renews and draws nothing. Main thread only.
class HLod
{
public:
    // A panel vertex: position and texture coordinates.
    struct PanelVertex
    {
        float x, y, z;
        float u, v;
        static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_TEX1;
    };
    static_assert(sizeof(PanelVertex) == 20, "panel vertices are 20 bytes, XYZ | TEX1");

    // The static objects of the level, as the far field needs them.
    class Objects
    {
    public:
        struct Object
        {
            BoundingBox box;     // the object's own box (centre and maximum read)
            matrix3d transform;  // scaled, into the world
            uint32_t farField = 0;
        };
        // Replaces the first entries of out with the objects stored in the
        // octree leaves that meet box; returns their number.
        virtual int32_t collectTouchingBox(const OrientedBox& box, DynArray<Object>& out) = 0;
        // Draws the far-field objects outside their activation areas seen
        // from farField's centre into the target in force.
        virtual void renderFarField(const BoundingBox& farField) = 0;

    protected:
        ~Objects() = default;
    };

    // A render target of the pictures: its texture, level-0 surface and
    // depth-stencil surface (default pool: reset before a device reset).
    struct TargetRecord
    {
        TextureRef texture;
        IDirect3DSurface9* surface = nullptr;
        IDirect3DSurface9* depth = nullptr;
    };

    static constexpr int panelCount = 4;
    static constexpr int targetCount = 3;
    static constexpr int32_t pictureWidth = 1024;
    static constexpr int32_t pictureHeight = 256;
    // The height scale without far-field objects to measure.
    static constexpr float defaultHeightScale = 0.5f;

    explicit HLod(D3D::Device::SwapChain* owner);
    ~HLod();
    HLod(const HLod&) = delete;
    HLod& operator=(const HLod&) = delete;

    // After the device is created or reset: the panels at distance d (the
    // swap chain passes 1150) and the three targets.
    void restore(float distance);
    // The target's texture, surface and depth surface, when it has none.
    void createTarget(TargetRecord& record);
    // Every reference to the target's texture emptied, the texture and the
    // surfaces released.
    void resetEntries(TargetRecord& record);
    // The three targets and the panel buffers.
    void releaseTarget();

    // Panel p as a flat box around the camera: centre at distance d along
    // its direction, half sizes d across and s d upright.
    void panelBox(int panel, BoundingBox& box) const;
    // Per frame, last among the managers: renews the pictures when due.
    void update();
    // The lowest and highest world heights of the far-field objects within
    // d of the camera; without any the heights stay at +-FLT_MAX.
    void measureHeights(float d, float& lowest, float& highest);
    // The picture of the panel being rendered: the terrain's depth, then
    // the far-field objects.
    void renderView();
    // The visible panels that hold a picture (frame, reflections, effects).
    // Without objects neither update nor render does anything.
    void render();

    D3D::Device::SwapChain* owner;
    Terrain* terrain;
    Objects* objects = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    int32_t vertexCount = 16;
    int32_t triangleCount = 8;
    TargetRecord* slots[panelCount] = {};
    TargetRecord targets[targetCount];
    float distance = 500.0f;
    float heightScale = defaultHeightScale;
    float lowestHeight = 0.0f;
    float highestHeight = 0.0f;
    matrix3d world = matrix3d::identity(); // translation: where the pictures were rendered
    vec3d lastGather{-FLT_MAX, -FLT_MAX, -FLT_MAX};
    BoundingBox farField{{}, 1.0f, 1.0f, {}, {}};
    matrix3d projection = matrix3d::identity(); // of the pictures
    matrix3d view = matrix3d::identity();       // of the panel being rendered
    uint32_t rerender = 1;
    // A visible panel that found every target held at the last renewal
    // waits for the camera to move, or for a target to come free.
    uint32_t waiting[panelCount] = {};
    uint32_t renewals = 0; // renewals of the pictures so far
    uint32_t pictures = 0; // panel pictures rendered so far
};
