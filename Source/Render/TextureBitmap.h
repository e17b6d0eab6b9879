#pragma once

#include <TextureRecord.h>

#include "Core/Color.h"
#include "Core/Surface1d.h"

#include <windows.h>

#include <cstdint>

// A window's GDI bitmap that shows a texture (the editing dialogs' previews).
// The caller owns the record: it creates the bitmap, fills the header and
// sizes the pixel surface of its format (32-bit, or 16-bit A1R5G5B5).
struct StructTexture
{
    HWND window = nullptr;
    HBITMAP bitmap = nullptr;
    BITMAPINFO info{};
    uint32_t pixelFormat = 21; // 21 A8R8G8B8 (pixels32) or 25 A1R5G5B5 (pixels16)
    surface1d<Color> pixels32;
    surface1d<ColorA1R5G5B5> pixels16;

    // Resamples level 0 of ref to the size of pixels32 (converted first when
    // it is not A8R8G8B8), further into pixels16 for format 25, and writes
    // the pixels into the bitmap.
    static void copyToBitmap(const TextureRef& ref, StructTexture& target);
};
