#pragma once

#include <cstdint>

namespace D3D {

// The swap chain's client (the application): eleven hooks in this slot order,
// each empty by default. All run on the main thread, from inside the frame,
// the loading frame or a device reset.
class SwapChainInterface
{
public:
    // First thing after BeginScene of a frame.
    virtual void renderShadowMaps() {}
    // After the scene passes, before the sun glare.
    virtual void renderAfterScene() {}
    // The scene that feeds the post-effect, into the post-effect target.
    virtual void renderEffectScene() {}
    // Around the user-interface pass when the frame draws it.
    virtual void beforeUi() {}
    virtual void afterUi() {}
    // The occluders, into the shared 256 x 256 target.
    virtual void renderOcclusionPass() {}
    // The whole content of a loading frame (between BeginScene and EndScene).
    virtual void renderLoadProgress() {}
    // First step when the swap chain releases its device objects.
    virtual void onDeviceLost() {}
    // Last step when the swap chain has re-created its device objects.
    virtual void onDeviceReset() {}
    // Empties the window message queue while a lost device waits. Returns 0
    // when the quit message was retrieved: the reset then stops waiting and
    // posts the quit message again for the main loop.
    virtual uint32_t pumpMessages() { return 1; }
    // After the whole restore of a reset, once per swap chain.
    virtual void onDeviceRestored() {}

protected:
    ~SwapChainInterface() = default;
};

// The first fields of every object that reports loading progress.
struct LoadProcessInterface
{
    float weight = 0.0f;
    float done = 0.0f; // 0.0 to 1.0
};

}
