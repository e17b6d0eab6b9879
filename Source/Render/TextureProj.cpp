#include "Render/TextureProj.h"

#include "Render/BufferPool.h"
#include "Render/DirectGraphics.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"

IDirect3DStateBlock9* TextureProj::commonSave = nullptr;
IDirect3DStateBlock9* TextureProj::commonApply = nullptr;

namespace {

// Pools of 8192 indices for the receiving road pieces.
BufferPool::List& indexPools()
{
    static BufferPool::List pools(BufferPool::indices);
    return pools;
}

void setCommonReceiverStates(IDirect3DDevice9* d)
{
    d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
    d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT4 | D3DTTFF_PROJECTED);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    d->SetRenderState(D3DRS_FOGENABLE, FALSE);
}

void setDefaultProjectionStates(IDirect3DDevice9* d)
{
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
    d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x00FFFFFF);
    d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    d->SetRenderState(D3DRS_SRCBLENDALPHA, D3DBLEND_ZERO);
    d->SetRenderState(D3DRS_DESTBLENDALPHA, D3DBLEND_ONE);
}

// A state block holding what record sets; null when the device cannot record.
template <class Record>
IDirect3DStateBlock9* recordBlock(Record record)
{
    IDirect3DDevice9* d = gDevice;
    IDirect3DStateBlock9* block = nullptr;
    if (!d || FAILED(d->BeginStateBlock()))
        return nullptr;
    record(d);
    if (FAILED(d->EndStateBlock(&block)))
        return nullptr;
    return block;
}

matrix3d biasMatrix(float margin)
{
    matrix3d b{};
    b.at(0, 0) = 0.5f - margin;
    b.at(1, 1) = margin - 0.5f;
    b.at(3, 0) = 0.5f;
    b.at(3, 1) = 0.5f;
    b.at(3, 2) = 1.0f;
    b.at(3, 3) = 1.0f;
    return b;
}

}

matrix3d inverseAffine(const matrix3d& m)
{
    matrix3d r;
    return m.inverseAffine(r) ? r : m;
}

TextureProj::TextureProj(InterfaceShader* shaderStates) : shader(shaderStates)
{
    receivers.append(&gDirectGraphics.record.texProjList);
}

TextureProj::~TextureProj()
{
    releaseResources();
    freeIndexRange();
}

void TextureProj::apply()
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (disabled || !d)
        return;
    if (callback) {
        if (commonSave)
            commonSave->Apply();
        d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
        callback(callbackArgument);
        if (commonSave)
            commonSave->Capture();
        if (commonApply)
            commonApply->Apply();
    }
    if (saveBlock && applyBlock) {
        saveBlock->Capture();
        applyBlock->Apply();
    }
    if (!isShadow())
        TextureDevice::bindTexture(0, texture.texture());
    d->SetTransform(D3DTS_TEXTURE0, reinterpret_cast<const D3DMATRIX*>(textureMatrix.m));
}

void TextureProj::createStateBlocks()
{
    CRASH_TRACE();
    releaseStateBlocks();
    const auto record = [this](IDirect3DDevice9* d) {
        setDefaultProjectionStates(d);
        if (shader)
            shader->setShaderStates();
    };
    applyBlock = recordBlock(record);
    saveBlock = recordBlock(record);
}

void TextureProj::releaseStateBlocks()
{
    D3D::releaseInterface(saveBlock);
    D3D::releaseInterface(applyBlock);
}

void TextureProj::computeMatrices(const matrix3d& a, const matrix3d& m)
{
    textureMatrix = inverseAffine(a * m) * projection * biasMatrix(0.0f);
}

void TextureProj::computeShadowMatrices(const matrix3d& a, const matrix3d& m, float margin)
{
    textureMatrix = inverseAffine(a * m) * projection * biasMatrix(margin);
}

void TextureProj::releaseResources()
{
    texture.release();
    releaseStateBlocks();
    detachFromReceivers();
}

void TextureProj::detachFromReceivers()
{
    receivers.clearWith([this](Interface* receiver) { receiver->removeTexProj(this); });
}

void TextureProj::addToReceivers()
{
    for (auto* node = receivers.head(); node; node = node->next)
        if (node->item)
            node->item->addTexProj(this);
}

void TextureProj::updateGeometryRange(const uint16_t* indices, uint32_t count)
{
    CRASH_TRACE();
    freeIndexRange();
    if (!indices || count == 0 || count > poolIndices)
        return;
    BufferRange* range = BufferPool::allocRange(indexPools(), count);
    if (!range || !range->pool || !range->pool->indexBuffer)
        return;
    void* bits = nullptr;
    if (FAILED(range->pool->indexBuffer->Lock(range->start * sizeof(uint16_t), count * sizeof(uint16_t), &bits, 0))) {
        BufferPool::freeRange(*range->pool, range);
        return;
    }
    std::memcpy(bits, indices, count * sizeof(uint16_t));
    range->pool->indexBuffer->Unlock();
    indexRange = {range, count};
}

void TextureProj::freeIndexRange()
{
    if (indexRange.range && indexRange.range->pool)
        BufferPool::freeRange(*indexRange.range->pool, indexRange.range);
    indexRange = {};
}

void TextureProj::createCommonStateBlocks()
{
    CRASH_TRACE();
    releaseCommonStateBlocks();
    commonApply = recordBlock(setCommonReceiverStates);
    commonSave = recordBlock(setCommonReceiverStates);
}

void TextureProj::releaseCommonStateBlocks()
{
    D3D::releaseInterface(commonSave);
    D3D::releaseInterface(commonApply);
}

void TextureProj::releaseIndexPools()
{
    indexPools().clear();
}
