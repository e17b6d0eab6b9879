#pragma once

#include "Render/Camera.h"
#include "Render/D3DDevice.h"
#include "Render/Light.h"

#include "Core/Color.h"
#include "Core/DynArray.h"
#include "Core/SCList.h"

#include <d3d9.h>

#include <cstdint>

class AnimatedSky;
class EntityManager;
class HLod;
class Meadow;
class ParticleManager;
class ShadowCasters;
class ShadowEffects;
class SpriteManager;
class StaticEntityManager;
class StripEffectManager;
struct SceneView;
struct SkyBox;
struct SkyLayers;
struct StarLayer;
struct SunGlow;
namespace UserInterface {
class Root;
}

// The renderer's frame object: the scene camera, the sun light, the Direct3D
// swap chain with its stored present parameters and depth surface, a stack of
// render targets, the loading progress and the client's hooks.
//
// Each frame the application calls beginFrame, clears the depth buffer, calls
// render and then present; update is the managers' frame update. The device
// record creates the swap chain and owns it; loss and reset call the release
// and restore operations. A null client skips every hook and the loading
// frames. Main thread only.
class D3D::Device::SwapChain : public Camera
{
public:
    using Interface = SwapChainInterface;
    using LoadProcessInterface = D3D::LoadProcessInterface;

    struct RenderTarget
    {
        uint32_t width = 640;
        uint32_t height = 480;
        float aspect = 640.0f / 480.0f;
        IDirect3DSurface9* surface = nullptr; // entry 0 holds a reference; the others borrow
        IDirect3DSurface9* depth = nullptr;
    };

    // No Direct3D calls: buffers arrive with restoreBuffers.
    explicit SwapChain(Interface* client);
    ~SwapChain();
    SwapChain(const SwapChain&) = delete;
    SwapChain& operator=(const SwapChain&) = delete;

    // Takes the device's implicit swap chain and depth surface, makes this the
    // current camera and light, then restoreDeviceObjects.
    void restoreBuffers(IDirect3DDevice9* device);
    // An additional swap chain for the stored parameters' window.
    void restoreAsAdditional(IDirect3DDevice9* device);
    // Client slot 7, then every default-pool object of the swap chain and
    // the entities' state blocks.
    void releaseDeviceObjects();
    // Projection for the back-buffer size, the managers' buffers and the
    // entities' state blocks, then client slot 8.
    void restoreDeviceObjects();

    // Back buffer and depth surface as targets, camera matrices, fog, bias and
    // the sun light; makes this the current swap chain, camera and light,
    // and starts the entities' frame.
    SwapChain* beginFrame();
    // The engine managers' frame update.
    void update();
    // The frame's passes between BeginScene and EndScene.
    void render(bool drawUi);
    // Presents; a lost device (or no swap chain) is reset without parameters.
    void present();

    // Render-target stack; 32 entries including the back buffer. A push
    // beyond it or a pop of the back buffer is ignored.
    void pushRenderTarget(IDirect3DSurface9* surface, IDirect3DSurface9* depth);
    void popRenderTarget();
    const RenderTarget& topTarget() const { return targets[targetCount - 1]; }

    // Visibility by colour: the client's occlusion pass (slot 5) drawn into
    // the device's shared 256 x 256 target, and the pixel at (u, v) of it.
    // Colour 0 without that target, without a client, for u or v outside
    // [0, 1) or when the pixels cannot be read.
    Color renderToTarget(float u, float v);
    // Projects points[0..count) with the camera: screen position and 1 / w,
    // and occluded = 1 for a point behind the camera (inverseW < -0.5), off
    // the screen, or hidden behind the ground or an entity's triangles.
    // Nothing without a client or with count < 1.
    void testOcclusion(DynArray<OccludePos>& points, int count);

    // Alpha 255 into every pixel of the target in force whose depth test
    // passes at depth z (z 0: no depth test).
    void fillAlpha(float z);
    // A one-pixel frame of alpha 255 along the border of a target of size.
    void drawAlphaFrame(vec2d size);

    // Normalises the weights of the entries in loadProcesses, zeroes the
    // progress and draws a loading frame.
    void beginLoadProcess();
    // An entry reports a done fraction: the progress moves and a loading frame
    // is drawn once the increase reaches 0.09 (or done reaches 1).
    void advanceLoadProcess(LoadProcessInterface& entry, float done);
    // Zeroes the progress and forgets the entries (they are not deleted).
    void clearLoadProcess();
    // beginFrame, client slot 6 between BeginScene and EndScene, present.
    void drawLoadFrame();

    LightRecord sun;
    // The sky's managers, made with the swap chain (null when an allocation
    // failed: every step tests its member) and deleted with it.
    SceneView* viewRecord = nullptr;
    AnimatedSky* sky = nullptr;
    SkyBox* skyBox = nullptr;
    StarLayer* stars = nullptr;
    SkyLayers* skyLayers = nullptr;
    SunGlow* sunGlow = nullptr;
    Interface* client = nullptr;
    D3DPRESENT_PARAMETERS presentParameters{};
    IDirect3DSwapChain9* swapChain = nullptr;
    IDirect3DSurface9* depthSurface = nullptr;
    RenderTarget targets[stackSize];
    uint32_t targetCount = 1;
    SCList<LoadProcessInterface> loadProcesses;
    float progress = 0.0f; // 0.0 to 1.0
    // The widgets the frame's user-interface pass draws (their list only;
    // the widgets belong to the menus and the head-up display).
    UserInterface::Root* userInterface = nullptr;
    // The effect managers, made with the swap chain like the sky's: the
    // sprites (drawn after the scene), the particle systems (after the sun)
    // and the strip effects (after the terrain).
    SpriteManager* sprites = nullptr;
    ParticleManager* particles = nullptr;
    StripEffectManager* stripEffects = nullptr;
    // The entities (drawn after the strip effects, their state blocks
    // released and recorded around a reset) and the objects placed in the
    // level (activated around the camera by update), made with the swap
    // chain like the others.
    EntityManager* entities = nullptr;
    StaticEntityManager* staticEntities = nullptr;
    // The grass, made with the swap chain like the effects: updated after the
    // water, drawn in two passes (the layers in water before the water).
    Meadow* meadow = nullptr;
    // The far field: restored with the buffers, updated last, drawn after
    // the water.
    HLod* farField = nullptr;
    // What shadow maps draw and count: set by the entity and effect managers
    // the swap chain owns; null while there are none (nothing casts).
    ShadowCasters* shadowCasters = nullptr;
    ShadowEffects* shadowEffects = nullptr;
};
