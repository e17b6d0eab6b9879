#pragma once

#include "Render/TextureProjInterface.h"

#include "Entity/D3DMesh.h"

#include <TextureRecord.h>

#include "Core/ConvexVolume.h"
#include "Core/Matrix.h"
#include "Core/SCList.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

class ShadowMap;
struct BufferRange;

// A texture thrown from a projector (a light's cone or box, a shadow
// sector's map) onto the geometry that receives it. Receivers draw
// themselves a second time with the projection applied: the texture on
// stage 0, coordinates generated from camera-space positions and carried by
// the texture matrix into the projector's texture.
//
// The virtual operations keep their order: destructor, isLight, isShadow,
// apply, invalidate, createStateBlocks, update, then the derived classes'
// matrix update. Main thread only.
class TextureProj
{
public:
    using Interface = TextureProjInterface;

    // The extra states of a derived projection, recorded into its state
    // blocks after the default projection states.
    class InterfaceShader
    {
    public:
        virtual void setShaderStates() = 0;

    protected:
        ~InterfaceShader() = default;
    };

    // A range of a pool of 8192 16-bit indices.
    struct IndexRange
    {
        BufferRange* range = nullptr;
        uint32_t count = 0;
    };

    static constexpr uint32_t poolIndices = 8192;

    // The defaults; the device's scene-wide list becomes the first receiver
    // (owners call addTexProj on their receivers when the projection starts).
    explicit TextureProj(InterfaceShader* shaderStates);
    // releaseResources, then the geometry.
    virtual ~TextureProj();
    TextureProj(const TextureProj&) = delete;
    TextureProj& operator=(const TextureProj&) = delete;

    // Whether the projection is an object light's, and whether it is a
    // shadow projection (which binds its own texture).
    virtual bool isLight() const { return false; }
    virtual bool isShadow() const { return false; }
    // Before receivers draw with the projection, unless it is disabled: the
    // callback between the common blocks, the own blocks (captured, then
    // applied), the texture unless it is a shadow projection, and the
    // texture matrix on stage 0.
    virtual void apply();
    // After a reset: the projection's contents must be made again.
    virtual void invalidate() {}
    // Records the apply and save blocks: the default projection states, then
    // the shader interface's. After construction and every reset.
    virtual void createStateBlocks();
    // The derived projection's own update of its matrices and volume.
    virtual void update() {}
    // A receiver drawing with its own view: a light projection's texture
    // matrix for that view, then apply. Nothing here.
    virtual void applyForView(const matrix3d& receiverView) { (void)receiverView; }

    // Texture matrix := inverse(a x m) x projection x bias, m being the
    // receiver's view (texture coordinates are camera-space positions).
    void computeMatrices(const matrix3d& a, const matrix3d& m);
    // The same with the bias that keeps a border of margin (in texture
    // units) on each side.
    void computeShadowMatrices(const matrix3d& a, const matrix3d& m, float margin);

    // Drops the texture and the state blocks and leaves every receiver.
    void releaseResources();
    // Every receiver removes the projection; the list is emptied.
    void detachFromReceivers();
    // addTexProj on every receiver, in list order.
    void addToReceivers();
    // Releases the projection's own state blocks (before a reset).
    void releaseStateBlocks();

    // The indices of the receiving road pieces: a range of count indices
    // from the pools, filled from indices. A request over 8192 gets no range
    // (count 0). The previous range is given back first.
    void updateGeometryRange(const uint16_t* indices, uint32_t count);
    void freeIndexRange();

    // The geometry: the positions of mesh's vertices, read with the mesh's
    // own vertex size and posed through its bones.
    template <class V, uint32_t FVF>
    bool buildGeometry(Mesh<V, FVF>& mesh);

    // The pair every receiver brackets its projection passes with: camera-
    // space texture coordinates, projected, clamped; no depth writes, fog
    // off, blending on. Device creation and reset record it; release drops it.
    static void createCommonStateBlocks();
    static void releaseCommonStateBlocks();
    static IDirect3DStateBlock9* commonSave;
    static IDirect3DStateBlock9* commonApply;
    // Destroys the index pools (device release).
    static void releaseIndexPools();

    matrix3d transform = matrix3d::identity(); // the projector; its translation is the position
    matrix3d projection{};
    matrix3d view = matrix3d::identity();      // inverse of the transform
    matrix3d textureMatrix = matrix3d::identity();
    ConvexVolume volume;                      // what the projection reaches
    uint32_t kind = 1;                        // 0 box, 1 perspective
    uint32_t disabled = 0;
    uint32_t changed = 1;                     // the contents must be drawn again
    uint32_t active = 1;
    uint32_t still = 0;                       // the projector has not moved
    // Receivers that draw meshes under the projection: with stencil the draw
    // runs with the stencil test on; an additive projected texture modulates
    // the receiver's texture instead of replacing its colour.
    uint32_t stencil = 0;
    uint32_t additive = 0;
    TextureRef texture;
    void (*callback)(void*) = nullptr;
    void* callbackArgument = nullptr;
    D3DMesh<vec3d, D3DFVF_XYZ> geometry;
    IndexRange indexRange;
    IDirect3DStateBlock9* saveBlock = nullptr;
    IDirect3DStateBlock9* applyBlock = nullptr;
    InterfaceShader* shader;
    SCList<Interface> receivers;
    // The shadow map of a light or shadow projection, which the device
    // drops and makes again around a reset.
    ShadowMap* shadowMap = nullptr;
};

// Row-vector matrices: the inverse of an affine matrix (its 3 x 3 block by
// cofactors, the translation carried back); m unchanged when the block is
// singular.
matrix3d inverseAffine(const matrix3d& m);

template <class V, uint32_t FVF>
bool TextureProj::buildGeometry(Mesh<V, FVF>& mesh)
{
    static_assert(sizeof(V) >= sizeof(vec3d), "every vertex starts with its position");
    const int32_t count = mesh.countedVertices();
    std::unique_ptr<V[]> packed(count > 0 ? new (std::nothrow) V[size_t(count)] : nullptr);
    std::unique_ptr<vec3d[]> positions(count > 0 ? new (std::nothrow) vec3d[size_t(count)] : nullptr);
    if (count > 0 && (!packed || !positions)) {
        geometry.release();
        return false;
    }
    if (count > 0)
        mesh.packVertices(packed.get());
    const uint8_t* from = reinterpret_cast<const uint8_t*>(packed.get());
    for (int32_t i = 0; i < count; ++i)
        std::memcpy(&positions[i], from + size_t(i) * sizeof(V), sizeof(vec3d));
    return geometry.create(positions.get(), uint32_t(count), sizeof(vec3d), D3DFVF_XYZ, mesh.getIndices(),
                           uint32_t(mesh.countedIndices()));
}
