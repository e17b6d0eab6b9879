#pragma once

#include "Render/Antialiasing.h"
#include "Render/D3DDevice.h"
#include "Render/ScreenResolution.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>

// The process-wide Direct3D state: the IDirect3D9 interface, the caps of
// adapter 0 (HAL), the display modes and the device record. One global
// instance (gDirectGraphics). Main thread only.
class DirectGraphics
{
public:
    DirectGraphics() = default;
    DirectGraphics(const DirectGraphics&) = delete;
    DirectGraphics& operator=(const DirectGraphics&) = delete;

    // Checks D3DX, loads Direct3D 9 from the system folder, reads the caps,
    // enumerates the display modes. True at once when already done. On
    // failure shows "Need_Newest_DirectX" (caption "Info") and returns false.
    bool init();
    // Releases the device record's device if still there, then the
    // IDirect3D9 interface and the library; clears the mode list.
    void release();

    IDirect3D9* direct3d = nullptr;
    D3DCAPS9 caps{};
    ScreenResolution modes;
    // 1 when an A16B16G16R16F render-target texture blends after the pixel shader.
    uint32_t floatTargetBlend = 0;
    AntialiasingModes antialiasing;
    D3D::Device record;

private:
    HMODULE library_ = nullptr;
};

extern DirectGraphics gDirectGraphics;

namespace D3D {
// A message box with the language texts of textKey and captionKey.
void showMessage(HWND owner, const wchar_t* textKey, const wchar_t* captionKey, UINT type);
}
