#pragma once

#include "Render/D3DDevice.h"
#include "Render/GaussKernel.h"

#include <TextureRecord.h>

#include "Core/Vector.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

class RenderTexture;

// A separable Gaussian blur on the card: a horizontal pass of weighted,
// shifted copies of the source into one render target, then a vertical pass
// of the same into a second target (mode 0) or into a face of a cube texture
// (mode 1). Each tap is one textured quad whose diffuse alpha is the tap's
// weight in bytes, summed by additive blending:
//   blend mode 0: colour += texel x weight / 255, alpha += weight x weight / 255
//   blend mode 1: colour += texel, alpha += texel alpha x weight / 255
// Sampling is point-filtered and clamped at the edges. The device's glow,
// the menus' blurred backgrounds and the cube shadow maps each own one. The
// pass targets come from the shared render-texture list (restored by the
// device after a reset); the pass buffers are managed. Main thread only.
class GpuSmooth
{
public:
    static constexpr uint32_t maxTaps = 2 * GaussKernel::maxHalfWidth + 1;

    // Nothing made yet: mode 0, blend mode 0, point filter, the kernel {1}.
    explicit GpuSmooth(uint32_t format = D3DFMT_A8R8G8B8);
    ~GpuSmooth() { releasePasses(); }
    GpuSmooth(const GpuSmooth&) = delete;
    GpuSmooth& operator=(const GpuSmooth&) = delete;

    // Builds the passes for a size.x by size.y source: the kernel of radius,
    // the targets (the first with keyB, the second with keyA; in mode 1 the
    // cube texture "CubeSmoothMap<width>", found or made) and the buffers.
    // A format the device cannot blend into falls back to A8R8G8B8.
    // False when a target or buffer could not be made.
    bool create(vec2d size, uint32_t mode, uint32_t blendMode, float radius, int32_t keyA, int32_t keyB);
    // Blurs source (2D or cube texture; nothing is sampled while it is busy)
    // into the result; in mode 1 into face of the cube texture. fillAlpha
    // sets the result's alpha to 255, border draws a one-texel frame of
    // alpha 255. Needs the current swap chain's target stack; nothing
    // happens when the passes are not ready.
    void run(const TextureRef& source, uint32_t face, bool fillAlpha, bool border);
    // True when run can draw: mode 0 with both targets, mode 1 with its cube
    // texture.
    bool ready() const;

    // Mode 0 the second target's texture, mode 1 the cube texture, else null.
    const TextureRef* getResultTexture() const;
    // The result on texture stage 0.
    void bindResult() const;
    // The result's pixels into destination (same size and format) through a
    // lockable copy.
    void copyResultTo(const TextureRef& destination) const;
    // Drops the cube texture, the buffers and private targets; shared
    // targets stay in the shared list.
    void releasePasses();

    // The weights of kernel as bytes (w x 255, a fraction of one half rounding
    // down), the zero ones left out; an all-zero kernel gives the one tap 255.
    // Returns the number of taps written into taps (at most maxTaps).
    static uint32_t tapBytes(const GaussKernel& kernel, uint8_t* taps);

    // The device's glow: size below 1 switches it off (the smoother is
    // deleted); otherwise the size x size scene target (key 16, with depth)
    // and a float-format smoother (radius 1.5, keys 32 and 33) are made when
    // missing, and strength and alpha stored.
    static void configure(int size, D3D::PostEffect& postEffect, uint32_t strength, uint32_t alpha);

    // A menu screen's blurred backdrop: once, a size x size capture target
    // (key 36, with depth) and the smoother's passes for it. False when the
    // target could not be made.
    static bool createForTarget(RenderTexture*& target, GpuSmooth& smoother, int size);
    // Renders the frame's passes without the user interface into target,
    // then blurs it (alpha filled).
    static void renderScene(RenderTexture* target, GpuSmooth& smoother, D3D::Device::SwapChain& chain);

    uint32_t mode = 0;      // 0 two 2D targets, 1 result in a cube texture
    uint32_t blendMode = 0; // see the class comment
    uint32_t format;
    uint32_t filter = D3DTEXF_POINT;
    RenderTexture* first = nullptr;
    RenderTexture* second = nullptr;
    TextureRef cubeTexture;
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    uint32_t verticesPerDirection = 0;
    uint32_t indicesPerDirection = 0;
    float width = 0.0f;
    float height = 0.0f;
    GaussKernel kernel;

private:
    bool buildBuffers(const uint8_t* taps, uint32_t tapCount);
    void drawPass(uint32_t direction) const;
};
