#pragma once

#include "Render/SwapChainInterface.h"
#include "Render/TextureProjInterface.h"

#include "Core/Array.h"
#include "Core/Matrix.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

class RenderTexture;
class GpuSmooth;
class TextureProj;

namespace D3D {

// Back-buffer choices; the two formats are results of the format choice.
struct PresentSettings
{
    uint32_t want32Bit = 1;
    uint32_t verticalSync = 1;
    uint32_t multiSampleType = 0;
    uint32_t multiSampleQuality = 0;
    D3DFORMAT backBufferFormat = D3DFMT_UNKNOWN;
    D3DFORMAT adapterFormat = D3DFMT_UNKNOWN;
};

// The glow added over the finished scene: the shared scene target, the
// smoother (owned; deleted by GpuSmooth::configure with size 0 and by the
// device release), the strength and the alpha of the glow.
struct PostEffect
{
    RenderTexture* target = nullptr;
    GpuSmooth* smoother = nullptr;
    uint32_t strength = 215;
    uint32_t alpha = 255;
};

// The one device record: the Direct3D device, its swap chains, the present
// settings and the render-side switches that many passes read. Lives inside
// gDirectGraphics. Main thread only (the device is created multithreaded,
// but no other thread issues Direct3D calls).
class Device
{
public:
    class SwapChain;

    // A point tested for visibility (lens flares).
    struct OccludePos
    {
        vec3d position;
        float screenU = 0.0f;
        float screenV = 0.0f;
        float inverseW = 0.0f;
        uint32_t occluded = 0;
    };

    static constexpr int stackSize = 32;

    // The texture projections that apply to the whole scene (every
    // projection enters it first). The device drops and restores their
    // device objects around a reset; the list does not own them.
    class TexProjList final : public TextureProjInterface
    {
    public:
        void addTexProj(TextureProj* projection) override;
        void removeTexProj(TextureProj* projection) override;

        // Before a reset the shadow maps of the light and shadow projections
        // drop their targets, then every projection its state blocks. After
        // it every projection is invalidated and records its blocks, and
        // later the shadow maps make their targets again.
        void releaseShadowMaps();
        void releaseTextures();
        void restore();
        void restoreShadowMaps();

        SCList<TextureProj> projections;
    };

    Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    ~Device();

    // Creates the swap chain for client and the device on window (adapter 0,
    // HAL), then restores the swap chain's buffers, begins a frame and sets the
    // initial states. Needs gDirectGraphics.init() first. On failure shows
    // "D3D_Init_Error" (owner window), keeps no swap chain and returns false.
    static bool create(Device& record, HWND window, bool fullScreen, SwapChainInterface* client);
    // Releases the swap chains and the device (shutdown); safe to call twice.
    static void release(Device& record);
    // Brings a lost device back (see DeviceReset.cpp); parameters null
    // rebuilds windowed parameters for the first swap chain's window. When the
    // device refuses both these and the last parameters that worked, it shows
    // "D3D_Init_Error", posts the quit message and returns still lost.
    static void reset(Device& record, const D3DPRESENT_PARAMETERS* parameters);

    // Present parameters for window from settings (sizes by sizeof; windowed:
    // the client size, full screen: the nearest display mode).
    static void fillPresentParameters(PresentSettings& settings, HWND window, bool fullScreen,
                                      D3DPRESENT_PARAMETERS& parameters);
    // Choose and store the formats in settings; see DeviceFormats.cpp.
    static D3DFORMAT chooseBackBufferFormat(PresentSettings& settings, bool fullScreen);
    static D3DFORMAT chooseDepthFormat(PresentSettings& settings);

    // The states every pass may rely on; after creation and every reset.
    static void setInitialStates();

    // The frame's glow: client slot 2 draws the effect scene into the
    // post-effect target, its blur less the threshold 255 - strength per
    // channel is added over the target in force with the weight alpha / 255.
    // Nothing without a client, a target or a ready smoother.
    static void renderPostEffect(SwapChain& chain, PostEffect& postEffect, SwapChainInterface* client);

    SwapChain* firstSwapChain() const;

    // Cull modes passes set with D3DRS_CULLMODE; a mirrored pass swaps the two,
    // sets mirrored and restores all three afterwards.
    uint32_t frontCull = D3DCULL_CCW;
    uint32_t backCull = D3DCULL_CW;
    uint32_t mirrored = 0;
    // 1 while the water draws its reflection; passes kept out of it test it.
    uint32_t reflectionPass = 0;
    TexProjList texProjList;

    IDirect3DDevice9* device = nullptr;
    SCList<SwapChain> swapChains; // owned; the first is the one frames and resets use
    SwapChain* currentSwapChain = nullptr;
    PresentSettings presentSettings;
    uint32_t maxTextureSize = 1024;
    uint32_t limitTextureSize = 1;
    // 1 from the release of the device objects of a loss until the restore.
    uint32_t resetting = 0;
    PostEffect postEffect;
    RenderTexture* sharedTarget256 = nullptr;
    // Triangles drawn since the frame began; every draw adds its own.
    uint32_t primitiveCount = 0;
    // User clip planes in force (D3DRS_CLIPPLANEENABLE = 2^count - 1): a draw
    // that adds one sets plane count - 1 and gives it back afterwards.
    uint32_t clipPlaneCount = 0;

    // Matrices in force. Entry 0 is the current camera's (beginFrame); a pass
    // with matrices of its own stores a pointer at index count, increments the
    // count and decrements it when done. Readers take entry count - 1. Pushes
    // beyond the 32 entries are ignored.
    const matrix3d* projectionStack[stackSize] = {};
    const matrix3d* viewStack[stackSize] = {};
    uint32_t projectionCount = 1;
    uint32_t viewCount = 1;

    void pushProjection(const matrix3d* m);
    void popProjection();
    void pushView(const matrix3d* m);
    void popView();

    // Set while reset runs: a reset asked for from the message pump inside it
    // returns at once instead of nesting.
    bool inReset = false;
};

// Sets D3DTS_VIEW or D3DTS_PROJECTION to a matrix and keeps it on the
// device record's stack for a scope; at its end the entry below is set
// again. The matrix must outlive the scope.
class PushedTransform
{
public:
    PushedTransform(D3DTRANSFORMSTATETYPE which, const matrix3d& m);
    ~PushedTransform();
    PushedTransform(const PushedTransform&) = delete;
    PushedTransform& operator=(const PushedTransform&) = delete;

private:
    D3DTRANSFORMSTATETYPE which_;
};

// The name of a Direct3D 9 or D3DX 9 result code, or "Unknown Error".
String getErrorName(HRESULT hr);

// Releases a COM interface and clears the pointer; nothing for null.
template <class T>
void releaseInterface(T*& object)
{
    if (object) {
        object->Release();
        object = nullptr;
    }
}

}

// The device every pass draws with; set on creation and reset, null without.
extern IDirect3DDevice9* gDevice;

// Draws the bound texture over the screen rectangle (0, 0)-(width, height) at
// depth z, pixel-exact: texel offsets 0.5 / texWidth and 0.5 / texHeight, none
// for a size of -1.
void drawScreenRect(int width, int height, int texWidth, int texHeight, float z);

// A managed 16-bit index buffer of copies x the indices, copy c offset by
// c x (largest index + 1). Null on failure, for no indices or copies, or when
// an offset index would not fit in 16 bits.
IDirect3DIndexBuffer9* createRepeatedIndexBuffer(Array<uint16_t>& indices, int copies);
