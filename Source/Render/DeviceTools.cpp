// Device utilities shared across the renderer.
#include "Render/D3DDevice.h"

#include "Core/CrashTrace.h"

#include <d3dx9.h>

void drawScreenRect(int width, int height, int texWidth, int texHeight, float z)
{
    CRASH_TRACE();
    if (!gDevice)
        return;
    struct Vertex
    {
        float x, y, z, rhw, u, v;
    };
    static_assert(sizeof(Vertex) == 24);
    const float du = texWidth == -1 || texWidth == 0 ? 0.0f : 0.5f / float(texWidth);
    const float dv = texHeight == -1 || texHeight == 0 ? 0.0f : 0.5f / float(texHeight);
    const float w = float(width) - 0.5f;
    const float h = float(height) - 0.5f;
    const Vertex quad[4] = {{-0.5f, -0.5f, z, 1.0f, du, dv},
                            {w, -0.5f, z, 1.0f, 1.0f + du, dv},
                            {-0.5f, h, z, 1.0f, du, 1.0f + dv},
                            {w, h, z, 1.0f, 1.0f + du, 1.0f + dv}};
    gDevice->SetFVF(D3DFVF_XYZRHW | D3DFVF_TEX1);
    gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex));
}

IDirect3DIndexBuffer9* createRepeatedIndexBuffer(Array<uint16_t>& indices, int copies)
{
    CRASH_TRACE();
    const int32_t count = indices.count();
    if (!gDevice || count <= 0 || copies <= 0)
        return nullptr;
    uint32_t largest = 0;
    for (int32_t i = 0; i < count; ++i)
        if (*indices.at(i) > largest)
            largest = *indices.at(i);
    const uint64_t stride = uint64_t(largest) + 1;
    if (uint64_t(copies - 1) * stride + largest > 0xFFFF)
        return nullptr;
    const uint64_t total = uint64_t(count) * uint64_t(copies);
    if (total * 2 > 0x7FFFFFFF)
        return nullptr;

    IDirect3DIndexBuffer9* buffer = nullptr;
    if (FAILED(gDevice->CreateIndexBuffer(UINT(total * 2), D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED,
                                          &buffer, nullptr)))
        return nullptr;
    void* locked = nullptr;
    if (FAILED(buffer->Lock(0, 0, &locked, 0))) {
        buffer->Release();
        return nullptr;
    }
    auto* out = static_cast<uint16_t*>(locked);
    for (int c = 0; c < copies; ++c)
        for (int32_t i = 0; i < count; ++i)
            *out++ = uint16_t(*indices.at(i) + uint64_t(c) * stride);
    buffer->Unlock();
    return buffer;
}

namespace D3D {

String getErrorName(HRESULT hr)
{
    struct Entry
    {
        HRESULT code;
        const wchar_t* name;
    };
#define KORVANTA_RESULT(code) {code, KORVANTA_WIDEN(#code)}
    static const Entry names[] = {
        KORVANTA_RESULT(D3D_OK),
        KORVANTA_RESULT(D3DOK_NOAUTOGEN),
        KORVANTA_RESULT(S_NOT_RESIDENT),
        KORVANTA_RESULT(S_RESIDENT_IN_SHARED_MEMORY),
        KORVANTA_RESULT(S_PRESENT_MODE_CHANGED),
        KORVANTA_RESULT(S_PRESENT_OCCLUDED),
        KORVANTA_RESULT(D3DERR_WRONGTEXTUREFORMAT),
        KORVANTA_RESULT(D3DERR_NOTFOUND),
        KORVANTA_RESULT(D3DERR_MOREDATA),
        KORVANTA_RESULT(D3DERR_DEVICELOST),
        KORVANTA_RESULT(D3DERR_DEVICENOTRESET),
        KORVANTA_RESULT(D3DERR_NOTAVAILABLE),
        KORVANTA_RESULT(D3DERR_OUTOFVIDEOMEMORY),
        KORVANTA_RESULT(D3DERR_INVALIDDEVICE),
        KORVANTA_RESULT(D3DERR_INVALIDCALL),
        KORVANTA_RESULT(D3DERR_DRIVERINVALIDCALL),
        KORVANTA_RESULT(D3DERR_DRIVERINTERNALERROR),
        KORVANTA_RESULT(D3DERR_WASSTILLDRAWING),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDCOLOROPERATION),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDCOLORARG),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDALPHAOPERATION),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDALPHAARG),
        KORVANTA_RESULT(D3DERR_TOOMANYOPERATIONS),
        KORVANTA_RESULT(D3DERR_CONFLICTINGTEXTUREFILTER),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDFACTORVALUE),
        KORVANTA_RESULT(D3DERR_CONFLICTINGRENDERSTATE),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDTEXTUREFILTER),
        KORVANTA_RESULT(D3DERR_CONFLICTINGTEXTUREPALETTE),
        KORVANTA_RESULT(D3DERR_DEVICEREMOVED),
        KORVANTA_RESULT(D3DERR_DEVICEHUNG),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDOVERLAY),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDOVERLAYFORMAT),
        KORVANTA_RESULT(D3DERR_CANNOTPROTECTCONTENT),
        KORVANTA_RESULT(D3DERR_UNSUPPORTEDCRYPTO),
        KORVANTA_RESULT(D3DERR_PRESENT_STATISTICS_DISJOINT),
        KORVANTA_RESULT(D3DXERR_INVALIDDATA),
        KORVANTA_RESULT(D3DXERR_CANNOTMODIFYINDEXBUFFER),
        KORVANTA_RESULT(D3DXERR_INVALIDMESH),
        KORVANTA_RESULT(D3DXERR_CANNOTATTRSORT),
        KORVANTA_RESULT(D3DXERR_SKINNINGNOTSUPPORTED),
        KORVANTA_RESULT(D3DXERR_TOOMANYINFLUENCES),
        KORVANTA_RESULT(D3DXERR_LOADEDMESHASNODATA),
        KORVANTA_RESULT(D3DXERR_DUPLICATENAMEDFRAGMENT),
        KORVANTA_RESULT(D3DXERR_CANNOTREMOVELASTITEM),
    };
#undef KORVANTA_RESULT
    for (const Entry& e : names)
        if (e.code == hr)
            return String(e.name);
    return String(L"Unknown Error");
}

}
