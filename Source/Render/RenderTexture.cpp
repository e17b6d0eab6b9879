#include "Render/RenderTexture.h"

#include "Render/D3DDevice.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"

#include <new>

using namespace TextureDevice;
using D3D::releaseInterface;

RenderTexture::List RenderTexture::shared;

RenderTexture* RenderTexture::acquire(List& list, int32_t width, int32_t height, bool lockable, bool depth,
                                      int32_t key, uint32_t format)
{
    CRASH_TRACE();
    if (key != -1)
        for (List::Node* node = list.head(); node; node = node->next) {
            RenderTexture* entry = node->item;
            if (entry && entry->width == width && entry->height == height && entry->format == format &&
                entry->key == key)
                return entry;
        }
    RenderTexture* entry = new (std::nothrow) RenderTexture;
    if (!entry)
        return nullptr;
    entry->width = width;
    entry->height = height;
    entry->key = key;
    entry->format = format;
    entry->depth = depth ? 1 : 0;
    List::Node* node = list.append(entry);
    if (!node) {
        delete entry;
        return nullptr;
    }
    if (!createTarget(*entry) || (lockable && !createLockable(*entry))) {
        release(list, node);
        return nullptr;
    }
    return entry;
}

bool RenderTexture::createTarget(RenderTexture& entry)
{
    CRASH_TRACE();
    entry.renderSurface = nullptr;
    if (entry.width < 2 || entry.height < 2)
        return false;
    if (!Texture::create(entry.renderTexture, String::borrowed(L"Render Texture"), uint32_t(entry.width),
                         uint32_t(entry.height), 1, D3DUSAGE_RENDERTARGET, entry.format, D3DPOOL_DEFAULT))
        return false;
    entry.renderTexture.texture()->texture->GetSurfaceLevel(0, &entry.renderSurface);
    if (entry.depth && !entry.depthSurface)
        gDevice->CreateDepthStencilSurface(uint32_t(entry.width), uint32_t(entry.height), D3DFMT_D24S8,
                                           D3DMULTISAMPLE_NONE, 0, FALSE, &entry.depthSurface, nullptr);
    return true;
}

bool RenderTexture::createLockable(RenderTexture& entry)
{
    CRASH_TRACE();
    entry.lockSurface = nullptr;
    if (!Texture::create(entry.lockTexture, String::borrowed(L"Render Lock Texture"), uint32_t(entry.width),
                         uint32_t(entry.height), 1, 0, entry.format, D3DPOOL_SYSTEMMEM))
        return false;
    entry.lockTexture.texture()->texture->GetSurfaceLevel(0, &entry.lockSurface);
    return entry.lockSurface != nullptr;
}

void RenderTexture::captureBackBuffer(RenderTexture& entry, const TextureRef& destination)
{
    CRASH_TRACE();
    if (!entry.renderSurface || !gDevice)
        return;
    const bool temporary = !entry.lockTexture.isBound();
    if (temporary && !createLockable(entry)) {
        entry.lockTexture.release();
        return;
    }
    if (entry.lockSurface && SUCCEEDED(gDevice->GetRenderTargetData(entry.renderSurface, entry.lockSurface)))
        copyToTexture(entry, destination);
    if (temporary) {
        releaseInterface(entry.lockSurface);
        entry.lockTexture.release();
    }
}

void RenderTexture::copyToTexture(RenderTexture& entry, const TextureRef& destination)
{
    CRASH_TRACE();
    // Only a 2D texture of the destination's own (never the default
    // checkerboard) of the entry's size receives the pixels.
    Texture* target = destination.texture();
    IDirect3DTexture9* lockable = entry.lockTexture.texture()->texture;
    D3DSURFACE_DESC desc{};
    if (!destination.isBound() || !entry.lockTexture.isBound() || !lockable || !target->texture ||
        !levelDesc(target, 0, desc) || int32_t(desc.Width) != entry.width || int32_t(desc.Height) != entry.height)
        return;
    LevelLock from(lockable, 0, D3DLOCK_READONLY);
    if (!from.ok())
        return;
    LevelLock to(target->texture, 0);
    if (!to.ok())
        return;
    copyTexels(to.bits, to.pitch, desc.Format, from.bits, from.pitch, entry.format, desc.Width, desc.Height);
}

void RenderTexture::releaseDeviceObjects(RenderTexture& entry)
{
    CRASH_TRACE();
    releaseInterface(entry.renderSurface);
    releaseInterface(entry.depthSurface);
    // Every reference to the target becomes empty with the record.
    if (entry.renderTexture.isBound())
        abandonRecord(entry.renderTexture.texture());
}

void RenderTexture::destroy(RenderTexture* entry)
{
    if (!entry)
        return;
    releaseDeviceObjects(*entry);
    releaseInterface(entry->lockSurface);
    entry->lockTexture.release();
    entry->renderTexture.release();
    delete entry;
}

void RenderTexture::release(List& list, List::Node* node)
{
    destroy(list.unlink(node));
}

void RenderTexture::releaseByKey(List& list, RenderTexture* entry)
{
    for (List::Node* node = list.head(); node; node = node->next)
        if (node->item == entry) {
            release(list, node);
            return;
        }
}

void RenderTexture::releaseAll()
{
    shared.clearWith([](RenderTexture* entry) { destroy(entry); });
}

void RenderTexture::releaseSharedTargets()
{
    for (List::Node* node = shared.head(); node; node = node->next)
        if (node->item)
            releaseDeviceObjects(*node->item);
}

void RenderTexture::restoreSharedTargets()
{
    for (List::Node* node = shared.head(); node; node = node->next)
        if (node->item)
            createTarget(*node->item);
}
