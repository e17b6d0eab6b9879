// Drawing a laid-out text: one textured rectangle per character, batched
// into the font's dynamic vertex buffer, one draw per glyph layer change
// or per full batch.
#include "Menu/Text.h"

#include "Menu/UserInterface.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"

namespace UserInterface {

namespace {

// A driver switch for transparency supersampling of alpha-tested texts.
constexpr DWORD transparencySupersampling = MAKEFOURCC('S', 'S', 'A', 'A');

}

float Text::lineStartX(int32_t line)
{
    float penX = float(x) + 0.5f - float(face->glyphLeft) + lineOffset(line);
    // A scaled text grows about its box's centre.
    if (scale != 1.0f)
        penX -= (scale - 1.0f) * (boxRight - boxLeft) * 0.5f;
    return penX;
}

void Text::bindLayer(int32_t layerIndex)
{
    const UIFont::Face::Layer* layer =
        layerIndex >= 0 && layerIndex < UIFont::Face::maxLayers ? face->layers[layerIndex] : nullptr;
    if (layer && layer->texture.isBound())
        TextureDevice::bindTexture(0, layer->texture.texture());
    else if (gDevice)
        gDevice->SetTexture(0, nullptr);
}

void Text::draw()
{
    CRASH_TRACE();
    Widget::draw();
    UIFont* font = UIFont::global();
    IDirect3DDevice9* d = gDevice;
    wchar_t* chars = buffer.data();
    if (charCount <= 0 || !face || !font || !d || !chars)
        return;
    UIFont::VertexBuffer& vb = worldSpace ? font->vertexBuffer3D : font->vertexBuffer2D;
    if (!vb.lockBatch())
        return;
    if (attachedTo)
        followAttached(*attachedTo, savedX, savedY);
    // The box follows the widget: moving a text needs no new layout.
    const float boxWidth = boxRight - boxLeft, boxHeight = boxBottom - boxTop;
    boxLeft = float(x - 1);
    boxTop = float(y - 1);
    boxRight = boxLeft + boxWidth;
    boxBottom = boxTop + boxHeight;
    beforeDraw();

    int32_t line = 0;
    float penX = lineStartX(0);
    float penY = float(y) + 0.5f - float(face->glyphTop + 1);
    if (scale != 1.0f)
        penY -= (scale - 1.0f) * boxHeight * 0.5f;

    if (font->stateBlockSaved)
        font->stateBlockSaved->Capture();
    if (font->stateBlockText)
        font->stateBlockText->Apply();
    d->SetFVF(vb.format);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, colour.argb());
    d->SetRenderState(D3DRS_ZENABLE, zEnable);
    d->SetSamplerState(0, D3DSAMP_MINFILTER, filter);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, filter == D3DTEXF_ANISOTROPIC ? DWORD(D3DTEXF_LINEAR) : filter);
    if (alphaTest) {
        d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        d->SetRenderState(D3DRS_ADAPTIVETESS_Y, transparencySupersampling);
        d->SetRenderState(D3DRS_ALPHAREF, 1);
    }
    if (worldSpace)
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));

    const float h = face->cellHeightF * scale;
    int32_t record = 0;
    int32_t batchLayer = -1;
    for (int32_t i = 0; i < charCount; ++i) {
        bool hidden = false, fullStop = false;
        for (; record < formattingCount && formatting.at(record)->position <= i; ++record) {
            const Formatting& f = *formatting.at(record);
            if (f.position < i)
                continue;
            if (f.kind == Formatting::newLine) {
                penY += face->lineHeight + lineSpacing;
                penX = lineStartX(++line);
            } else if (f.kind == Formatting::hidden) {
                hidden = true;
            } else if (f.kind == Formatting::fullStop) {
                fullStop = true;
            }
        }
        if (hidden && !fullStop)
            continue;
        int32_t layerIndex = -1;
        const UIFont::Face::TexCoord* g = findGlyph(fullStop ? L'.' : chars[i], &layerIndex);
        if (!g)
            continue;
        // A batch draws from one layer and holds at most 255 glyphs.
        if (batchLayer >= 0 && (layerIndex != batchLayer || vb.written >= vb.batchSize - 4)) {
            bindLayer(batchLayer);
            vb.flush(font->indexBuffer);
            if (!vb.lockBatch())
                break;
        }
        batchLayer = layerIndex;
        if (face->fixedPitch)
            penX += g->lead;
        const float w = g->advance * scale;
        if (worldSpace) {
            auto* v = reinterpret_cast<UIFont::WorldVertex*>(vb.locked) + vb.written;
            v[0] = {penX, penY + h, 0.0f, g->uLeft, g->vBottom};
            v[1] = {penX, penY, 0.0f, g->uLeft, g->vTop};
            v[2] = {penX + w, penY, 0.0f, g->uRight, g->vTop};
            v[3] = {penX + w, penY + h, 0.0f, g->uRight, g->vBottom};
        } else {
            auto* v = reinterpret_cast<UIFont::ScreenVertex*>(vb.locked) + vb.written;
            v[0] = {penX, penY + h, z, 1.0f, g->uLeft, g->vBottom};
            v[1] = {penX, penY, z, 1.0f, g->uLeft, g->vTop};
            v[2] = {penX + w, penY, z, 1.0f, g->uRight, g->vTop};
            v[3] = {penX + w, penY + h, z, 1.0f, g->uRight, g->vBottom};
        }
        vb.written += 4;
        vb.triangles += 2;
        penX += (face->fixedPitch ? g->trail : g->width) * scale;
    }
    if (vb.locked) {
        bindLayer(batchLayer);
        vb.flush(font->indexBuffer);
    }

    if (attachedTo)
        leaveAttached(savedX, savedY);
    if (font->stateBlockSaved)
        font->stateBlockSaved->Apply();
    d->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
    d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
    if (alphaTest) {
        d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        d->SetRenderState(D3DRS_ADAPTIVETESS_Y, 0);
    }
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    afterDraw();
}

}
