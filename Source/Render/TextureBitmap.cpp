#include "Render/TextureBitmap.h"

#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"

#include <cstdlib>
#include <cstring>

using namespace TextureDevice;

void StructTexture::copyToBitmap(const TextureRef& ref, StructTexture& target)
{
    CRASH_TRACE();
    CrashTrace::setLastString(L"StructTexture::copyToBitmap");
    if (!ref.isBound() || !ref.texture()->texture || !target.pixels32.pixels)
        return;
    D3DSURFACE_DESC desc{};
    if (FAILED(ref.texture()->texture->GetLevelDesc(0, &desc)))
        return;
    TextureRef converted;
    const TextureRef* source = &ref;
    if (desc.Format != D3DFMT_A8R8G8B8) {
        if (!Texture::createCopyViaMemory(ref, 1, converted, D3DFMT_A8R8G8B8) ||
            FAILED(converted.texture()->texture->GetLevelDesc(0, &desc)))
            return;
        source = &converted;
    }
    {
        LevelLock lock(source->texture()->texture, 0, D3DLOCK_READONLY);
        if (!lock.ok())
            return;
        // The level as a packed image, whatever the lock's pitch.
        surface1d<Color> level(int32_t(desc.Width), int32_t(desc.Height));
        if (!level.pixels)
            return;
        for (uint32_t y = 0; y < desc.Height; ++y)
            std::memcpy(level.row(int32_t(y)), lock.row(y), size_t(desc.Width) * sizeof(Color));
        level.resample(target.pixels32.width, target.pixels32.height, false, &target.pixels32);
        if (target.pixelFormat == 25)
            target.pixels16.convertFrom(target.pixels32);
        CrashTrace::setLastString(L"copyToBitmap");
    }
    const void* bits = target.pixelFormat == 25 ? static_cast<const void*>(target.pixels16.pixels)
                                                : static_cast<const void*>(target.pixels32.pixels);
    if (!bits)
        return;
    HDC dc = GetDC(target.window);
    SetDIBits(dc, target.bitmap, 0, UINT(std::abs(target.info.bmiHeader.biHeight)), bits, &target.info,
              DIB_RGB_COLORS);
    ReleaseDC(target.window, dc);
}
