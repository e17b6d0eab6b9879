#pragma once

#include "Render/D3DDevice.h"
#include "Render/GpuSmooth.h"

#include <TextureRecord.h>

#include "Core/ConvexVolume.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"

#include "Entity/D3DMesh.h"
#include "Entity/MeshInterface.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

class RenderTexture;
class TextureProj;

// The shadow texture of one projection: the casters' silhouettes seen from
// the light, colour and alpha 0 on a cleared black target of alpha 255. A
// 2D map (perspective or box projector: a sun sector, a spot light) or a
// cube map of six faces around the light (an omni light). Receivers sample
// the map with the projection's texture matrix and darken where its alpha is
// low.
//
// A live map (state 2) is drawn on every render; one whose casters all rest
// freezes 300 ms after its last change into the managed copy
// "StaticShadowMap" (state 1), which it then samples until a caster moves,
// the count of casters changes or the owner changes. An optional blur
// softens the map. The targets live in the default pool: the device drops
// them before a reset (releaseTargets) and makes them again after it
// (createTargets), which brings the map back to live. Main thread only.
class ShadowMap
{
public:
    static constexpr int32_t noTargets = -1;
    static constexpr int32_t frozen = 1;
    static constexpr int32_t live = 2;
    static constexpr uint32_t freezeDelay = 300; // milliseconds at rest
    static constexpr float maxBlur = 5.0f;

    // What a stored mesh hands the mask pass: its object (left out of the
    // caster test), the local box and the object's world matrix, or, for an
    // object without a transform of its own, its world box.
    struct MeshBox
    {
        const void* object = nullptr;
        OrientedBox localBox;
        const matrix3d* world = nullptr;
        OrientedBox worldBox;
    };

    // With a size (not noTargets) the targets are made and the unit box
    // "BBoxCube" built.
    ShadowMap(TextureProj& owner, int32_t size, float blur, uint32_t borderFlag, uint32_t targetFlag, float boxMargin,
              float volumeDepth);
    ~ShadowMap();
    ShadowMap(const ShadowMap&) = delete;
    ShadowMap& operator=(const ShadowMap&) = delete;

    // Blur clamped to 0..5; a map in use makes its targets again and renders.
    void setBlur(D3D::Device::SwapChain& chain, float blur);
    // The targets for the owner's kind: a 2D target with one depth surface
    // (perspective or box projector), or a cube texture "CubeShadowMap<size>"
    // with six depth surfaces (omni light); the blur passes; the owner is
    // marked changed.
    void createTargets();
    // Drops every target, the static copy and the blur passes.
    void releaseTargets();
    // What receivers sample and what the map draws into, for its state.
    void selectTextures();
    // A frozen map checks whether it must live again; a live one draws its
    // casters and may freeze. 1 when casters were drawn or counted.
    int32_t render(D3D::Device::SwapChain& chain);
    // 1 when a caster or an effect system lies in the owner's volume.
    int32_t hasCasters(D3D::Device::SwapChain& chain);

    // The sampled texture on stage 0, or on stage the live target; nothing
    // for a map not in use, none while the target is being drawn.
    void bindTexture() const;
    void bindTextureStage(uint32_t stage) const;
    // D3DTS_TEXTURE2 for an object drawn with world matrix w: the inverse of
    // w's rotation placed at the owner's position carried through w.
    void setTextureTransform(const matrix3d& w) const;

    // The mesh mask pass: where a caster lies between the light and the
    // mesh's box, alpha 0 over the box's screen rectangle and 255 inside
    // its outline, on the map (each face of a cube map).
    void renderMeshShadows(const MeshBox& mesh, D3D::Device::SwapChain& chain);
    // Six planes bounding the space between the light and the box of the
    // eight corners; 0 when the light lies within 0.1 of the box.
    int32_t buildCasterVolume(const vec3d (&corners)[8], float depth, ConvexVolume& out) const;
    // The corners' screen rectangle through m, in texels of the map.
    void computeScreenRect(const matrix3d& m, const vec3d (&corners)[8]);
    // Alpha 0 over the screen rectangle, then 255 inside the box.
    void renderBoxMask(const matrix3d& view);

    struct ScreenVertex
    {
        float x, y, z, rhw;
    };

    TextureProj& owner;
    int32_t kind = 0;  // 0 a 2D map, 1 a cube map
    int32_t state = live;
    int32_t size;
    RenderTexture* renderTexture = nullptr;
    TextureRef cubeTexture;
    const TextureRef* sampled = nullptr;
    const TextureRef* target = nullptr;
    IDirect3DSurface9* depthSurfaces[6] = {};
    ConvexVolume faceVolumes[6];
    GpuSmooth smoother{D3DFMT_A8R8G8B8};
    D3DMesh<vec3d, D3DFVF_XYZ> boxMesh;
    matrix3d boxMatrix = matrix3d::identity();
    ScreenVertex screenRect[4] = {};
    int32_t active = 0;
    uint32_t borderFlag;
    uint32_t targetFlag;
    float blur;
    float boxMargin;
    float volumeDepth;
    uint32_t freezeTime = 0; // when a pending freeze happens; 0 none
    int32_t casterCount = 0;
    TextureRef staticCopy;

    // The clock of the freeze (timeGetTime); tests may replace it.
    static uint32_t (*clock)();

private:
    int32_t renderLive(D3D::Device::SwapChain& chain, uint32_t& atRest);
    int32_t countCasters(D3D::Device::SwapChain& chain, uint32_t& atRest);
    void freeze();
};

// Appends a box of full edge lengths size, turned and placed by m (rows 0
// to 2 its axes, row 3 its centre), to mesh: 24 vertices (four per face,
// outward normals, unit-square texture coordinates) and 36 indices; the
// mesh's bounds grow to hold the box's extent.
void addBoxToMesh(Shaper& mesh, const vec3d& size, const matrix3d& m);
