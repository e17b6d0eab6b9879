#pragma once

#include <TextureRecord.h>

#include "Core/SCList.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

// An off-screen render target that owners share by size, format and sharing
// key: the target texture with its level-0 surface, an optional depth-stencil
// surface and an optional lockable system-memory copy for reading pixels
// back. Key -1 marks a private entry that no search finds.
// Keys in use: 16 post-effect scene, 17 the device's 256 x 256 target,
// 29 cube shadow maps, 30/31 shadow smoothing, 32/33 post-effect smoothing,
// 36 menu scene captures.
// The render target lives in the default pool: around a device reset the
// device releases it (releaseSharedTargets) and re-creates it
// (restoreSharedTargets); the lockable copy survives. Main thread only.
class RenderTexture
{
public:
    using List = SCList<RenderTexture>;

    // The device's shared list.
    static List shared;

    int32_t width = 0;
    int32_t height = 0;
    int32_t key = -1;
    uint32_t format = D3DFMT_A8R8G8B8;
    uint32_t depth = 0;
    TextureRef renderTexture;
    TextureRef lockTexture;
    IDirect3DSurface9* renderSurface = nullptr;
    IDirect3DSurface9* lockSurface = nullptr;
    IDirect3DSurface9* depthSurface = nullptr;

    // The first entry of list with this size, format and key (never for key
    // -1), whatever its lockable and depth choices; otherwise a new entry
    // appended to list. Null, list unchanged, when creation fails.
    static RenderTexture* acquire(List& list, int32_t width, int32_t height, bool lockable, bool depth, int32_t key,
                                  uint32_t format);
    // The render texture (default pool) and, with the depth flag, its
    // depth-stencil surface. False when the render texture cannot be made.
    static bool createTarget(RenderTexture& entry);
    // The lockable copy (system memory). False when it cannot be made.
    static bool createLockable(RenderTexture& entry);
    // Reads the target back into destination (same size) through the
    // lockable copy, made for this call when the entry has none.
    static void captureBackBuffer(RenderTexture& entry, const TextureRef& destination);
    // The lockable copy's pixels into destination's level 0, converted when
    // the formats differ. Nothing for another size or a failed lock.
    static void copyToTexture(RenderTexture& entry, const TextureRef& destination);
    // Releases the surfaces of the target and its depth surface and destroys
    // the render texture record (references to it become empty).
    static void releaseDeviceObjects(RenderTexture& entry);
    static void destroy(RenderTexture* entry);
    static void release(List& list, List::Node* node);
    // Releases the node of list that holds entry; nothing when it is not there.
    static void releaseByKey(List& list, RenderTexture* entry);
    // Destroys every entry of the shared list (device release and exit).
    static void releaseAll();

    // Device reset: every shared entry's default-pool objects before, and
    // its render target again after.
    static void releaseSharedTargets();
    static void restoreSharedTargets();
};
