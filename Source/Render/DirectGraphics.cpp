#include "Render/DirectGraphics.h"

#include "Core/CrashTrace.h"
#include "Core/Language.h"

#include <d3dx9.h>

#include <cwchar>

DirectGraphics gDirectGraphics;

namespace D3D {

void showMessage(HWND owner, const wchar_t* textKey, const wchar_t* captionKey, UINT type)
{
    String text;
    String caption;
    if (gLanguage) {
        text = gLanguage->getText(nullptr, String::borrowed(textKey));
        caption = gLanguage->getText(nullptr, String::borrowed(captionKey));
    }
    MessageBoxW(owner, text.text(), caption.text(), type);
}

}

namespace {

// A machine without a usable adapter shows its error within seconds: the caps
// are asked this often, 300 ms apart.
constexpr int capsAttempts = 10;

void needNewestDirectX() { D3D::showMessage(nullptr, L"Need_Newest_DirectX", L"Info", MB_OK); }

}

bool DirectGraphics::init()
{
    CRASH_TRACE();
    if (direct3d)
        return true;
    if (!D3DXCheckVersion(32, 42)) {
        needNewestDirectX();
        return false;
    }

    wchar_t path[261];
    const UINT length = GetSystemDirectoryW(path, 261);
    constexpr wchar_t dllName[] = L"\\d3d9.dll";
    if (length == 0 || length + sizeof(dllName) / sizeof(wchar_t) > 261)
        return false;
    wcscpy(path + length, dllName);
    if (!library_)
        library_ = LoadLibraryW(path);
    using CreateFunction = IDirect3D9*(WINAPI*)(UINT);
    auto create = library_ ? reinterpret_cast<CreateFunction>(
                                 reinterpret_cast<void*>(GetProcAddress(library_, "Direct3DCreate9")))
                           : nullptr;
    if (!create) {
        needNewestDirectX();
        return false;
    }

    for (int attempt = 0; attempt < capsAttempts; ++attempt) {
        CRASH_TRACE();
        direct3d = create(32);
        if (!direct3d) {
            needNewestDirectX();
            return false;
        }
        if (SUCCEEDED(direct3d->GetDeviceCaps(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, &caps)))
            break;
        D3D::releaseInterface(direct3d);
        Sleep(300);
    }
    if (!direct3d) {
        needNewestDirectX();
        return false;
    }

    modes.enumerate(direct3d);
    floatTargetBlend = SUCCEEDED(direct3d->CheckDeviceFormat(
                           D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
                           D3DUSAGE_RENDERTARGET | D3DUSAGE_QUERY_POSTPIXELSHADER_BLENDING, D3DRTYPE_TEXTURE,
                           D3DFMT_A16B16G16R16F))
        ? 1
        : 0;
    return true;
}

void DirectGraphics::release()
{
    CRASH_TRACE();
    if (record.device)
        D3D::Device::release(record);
    D3D::releaseInterface(direct3d);
    modes.clear();
    if (library_) {
        FreeLibrary(library_);
        library_ = nullptr;
    }
}
