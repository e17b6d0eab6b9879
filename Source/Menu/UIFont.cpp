#include "Menu/UIFont.h"

#include "Render/D3DDevice.h"
#include "Render/DirectGraphics.h"

#include "Core/ArrayStack.h"
#include "Core/CrashTrace.h"

#include <new>

namespace UserInterface {

UIFont* UIFont::global_ = nullptr;

bool UIFont::VertexBuffer::lockBatch()
{
    written = 0;
    triangles = 0;
    locked = nullptr;
    if (!buffer)
        return false;
    void* bytes = nullptr;
    const DWORD flags = start == 0 ? D3DLOCK_DISCARD : D3DLOCK_NOOVERWRITE;
    if (FAILED(buffer->Lock(start * stride, batchSize * stride, &bytes, flags)) || !bytes)
        return false;
    locked = static_cast<uint8_t*>(bytes);
    return true;
}

void UIFont::VertexBuffer::flush(IDirect3DIndexBuffer9* indices)
{
    if (!locked)
        return;
    buffer->Unlock();
    locked = nullptr;
    IDirect3DDevice9* d = gDevice;
    if (d && indices && triangles > 0) {
        d->SetStreamSource(0, buffer, start * stride, stride);
        d->SetIndices(indices);
        d->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, written, 0, triangles);
        gDirectGraphics.record.primitiveCount += triangles;
    }
    start += batchSize;
    if (start >= capacity)
        start = 0;
    written = 0;
    triangles = 0;
}

UIFont::UIFont()
{
    vertexBuffer2D.stride = sizeof(ScreenVertex);
    vertexBuffer2D.format = ScreenVertex::format;
    vertexBuffer3D.stride = sizeof(WorldVertex);
    vertexBuffer3D.format = WorldVertex::format;
}

UIFont::~UIFont()
{
    releaseFaces();
    releaseDeviceBuffers();
    releaseSurface();
}

void UIFont::initGlobals()
{
    if (!global_)
        global_ = new (std::nothrow) UIFont;
}

void UIFont::exitGlobals()
{
    delete global_;
    global_ = nullptr;
}

void UIFont::onDeviceCreate()
{
    CRASH_TRACE();
    UIFont* font = global_;
    if (!font || !gDevice)
        return;
    if (!font->dc) {
        font->dc = CreateCompatibleDC(nullptr);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = bitmapSize;
        info.bmiHeader.biHeight = -bitmapSize; // rows top to bottom
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* pixels = nullptr;
        font->bitmap = font->dc ? CreateDIBSection(font->dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0) : nullptr;
        if (!font->bitmap || !pixels) {
            font->releaseSurface();
        } else {
            font->bits = static_cast<uint32_t*>(pixels);
            font->previousBitmap = SelectObject(font->dc, font->bitmap);
            SetMapMode(font->dc, MM_TEXT);
            SetTextColor(font->dc, RGB(255, 255, 255));
            SetTextAlign(font->dc, TA_LEFT | TA_TOP);
        }
    }
    createVertexBuffers();
    if (font->vertexBuffer2D.buffer && font->vertexBuffer3D.buffer && !font->indexBuffer) {
        ArrayStack<uint16_t, 6> rectangle;
        const uint16_t pattern[6] = {0, 1, 2, 2, 3, 0};
        for (int i = 0; i < 6; ++i)
            *rectangle.at(i) = pattern[i];
        font->indexBuffer = createRepeatedIndexBuffer(rectangle, int(indexRectangles));
    }
}

void UIFont::onDeviceRelease()
{
    CRASH_TRACE();
    UIFont* font = global_;
    if (!font)
        return;
    font->releaseFaces();
    font->releaseDeviceBuffers();
    font->releaseSurface();
}

void UIFont::createVertexBuffers()
{
    CRASH_TRACE();
    UIFont* font = global_;
    IDirect3DDevice9* d = gDevice;
    if (!font || !d)
        return;
    for (VertexBuffer* vb : {&font->vertexBuffer2D, &font->vertexBuffer3D})
        if (!vb->buffer) {
            vb->start = 0;
            vb->locked = nullptr;
            if (FAILED(d->CreateVertexBuffer(vb->capacity * vb->stride, D3DUSAGE_DYNAMIC | D3DUSAGE_WRITEONLY,
                                             vb->format, D3DPOOL_DEFAULT, &vb->buffer, nullptr)))
                vb->buffer = nullptr;
        }
    if (font->stateBlockSaved || font->stateBlockText)
        return;
    // The text states, recorded twice. The colour operation stays the
    // device's default: a glyph's colour is its texel times the text's.
    for (IDirect3DStateBlock9** block : {&font->stateBlockSaved, &font->stateBlockText}) {
        if (FAILED(d->BeginStateBlock()))
            continue;
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
        d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        d->SetSamplerState(0, D3DSAMP_MIPFILTER, D3DTEXF_POINT);
        if (FAILED(d->EndStateBlock(block)))
            *block = nullptr;
    }
}

void UIFont::releaseVertexBuffers()
{
    if (global_)
        global_->dropVertexBuffers();
}

void UIFont::dropVertexBuffers()
{
    for (VertexBuffer* vb : {&vertexBuffer2D, &vertexBuffer3D}) {
        if (vb->locked && vb->buffer)
            vb->buffer->Unlock();
        vb->locked = nullptr;
        D3D::releaseInterface(vb->buffer);
        vb->start = 0;
    }
    D3D::releaseInterface(stateBlockSaved);
    D3D::releaseInterface(stateBlockText);
}

void UIFont::releaseDeviceBuffers()
{
    dropVertexBuffers();
    D3D::releaseInterface(indexBuffer);
}

void UIFont::releaseSurface()
{
    if (dc && previousBitmap)
        SelectObject(dc, previousBitmap);
    previousBitmap = nullptr;
    if (bitmap)
        DeleteObject(bitmap);
    bitmap = nullptr;
    bits = nullptr;
    if (dc)
        DeleteDC(dc);
    dc = nullptr;
}

UIFont::Face* UIFont::createFace(const String& name, int32_t pointSize, int32_t weight, uint32_t flags,
                                 int32_t fixedAdvance, intvec2d shadowOffset, float shadowExponent,
                                 COLORREF background)
{
    CRASH_TRACE();
    Face* face = new (std::nothrow) Face(this);
    if (!face)
        return nullptr;
    face->node = faces.append(face);
    if (!face->node) {
        delete face;
        return nullptr;
    }
    face->init(name, pointSize, weight, flags, fixedAdvance, shadowOffset, shadowExponent, background);
    return face;
}

void UIFont::releaseFace(Face* face)
{
    if (!face)
        return;
    if (face->node)
        faces.unlink(face->node);
    face->node = nullptr;
    delete face;
}

void UIFont::releaseFaces()
{
    faces.clearWith([](Face* face) {
        face->node = nullptr;
        delete face;
    });
}

}
