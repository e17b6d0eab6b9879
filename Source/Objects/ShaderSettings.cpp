#include "Objects/ShaderSettings.h"

#include "Objects/PackageFields.h"

#include "Render/DirectGraphics.h"
#include "Render/EnvMap.h"
#include "Render/Shader.h"
#include "Render/TextureDevice.h"

#include "Core/FileInterface.h"

namespace {

constexpr DWORD alphaToCoverage = MAKEFOURCC('S', 'S', 'A', 'A');
constexpr DWORD colourWritesRgb = D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE;
constexpr DWORD colourWritesAll = colourWritesRgb | D3DCOLORWRITEENABLE_ALPHA;

// The listed record of that name, without taking a reference to it.
const Texture* findRecord(const wchar_t* name)
{
    const String wanted = String::borrowed(name);
    for (auto* node = TextureList::records().head(); node; node = node->next)
        if (node->item && node->item->name && node->item->name->sameText(wanted))
            return node->item;
    return nullptr;
}

}

const Texture* ObjPkgManager::ShaderSettings::reflectionTexture(const EnvMap* environment)
{
    if (!environment || environment->state != EnvMap::live)
        return nullptr;
    if (environment->cubeTexture.isBound() && environment->cubeTexture.texture()->cubeTexture)
        return environment->cubeTexture.texture();
    return findRecord(L"LevelEditorCubemap");
}

namespace {

bool finiteMaterial(const D3DMATERIAL9& m)
{
    const float* values = &m.Diffuse.r;
    for (int i = 0; i < 17; ++i)
        if (!PackageFields::within(values[i], 1.0e6f))
            return false;
    return true;
}

matrix3d scaleMatrix(float scale)
{
    matrix3d m = matrix3d::identity();
    m.at(0, 0) = scale;
    m.at(1, 1) = scale;
    return m;
}

}

ObjPkgManager::ShaderSettings::ShaderSettings()
{
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.6f, 0.6f, 0.6f, 1.0f};
    material.Specular = {1.0f, 1.0f, 1.0f, 1.0f};
}

bool ObjPkgManager::ShaderSettings::load(FileInterface& stream)
{
    return PackageFields::readBlock(stream, [&](uint32_t tag) {
        switch (tag) {
        case 1: {
            uint32_t mode = 0;
            if (!stream.readValue(mode))
                return false;
            if (mode >= D3DTADDRESS_WRAP && mode <= D3DTADDRESS_MIRRORONCE)
                addressMode = mode;
            return true;
        }
        case 2: {
            D3DMATERIAL9 stored{};
            if (!stream.readValue(stored))
                return false;
            if (finiteMaterial(stored))
                material = stored;
            return true;
        }
        case 3: return stream.readValue(alphaRef);
        case 4: return stream.readValue(reflectionMode);
        case 5: return stream.readValue(reflectionAmount);
        case 6: return stream.readValue(value6);
        case 7: return stream.readValue(cullBackFaces);
        case 8: return PackageFields::readFloat(stream, textureScale, PackageFields::maxFactor);
        case 9: return stream.readValue(castShadow);
        case 10: return stream.readValue(value10);
        default: return true; // later tags carry no field
        }
    });
}

void ObjPkgManager::ShaderSettings::apply(const EnvMap* environment, Shader* stateRecord) const
{
    const bool translucent = material.Ambient.a < 1.0f;
    const bool reflection = reflects();
    const bool scaled = textureScale != 1.0f;
    if (stateRecord) {
        stateRecord->reflection = reflection;
        stateRecord->cullMode = cullBackFaces ? Shader::cullFront : Shader::cullNone;
        stateRecord->textureTransforms[0] = scaled ? scaleMatrix(textureScale) : matrix3d::identity();
        stateRecord->transformFlags[0] = scaled ? D3DTTFF_COUNT2 : D3DTTFF_DISABLE;
    }
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    d->SetMaterial(&material);
    d->SetRenderState(D3DRS_ALPHABLENDENABLE, translucent);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    d->SetRenderState(D3DRS_SPECULARENABLE, material.Power > 0.0f);
    d->SetRenderState(D3DRS_ALPHATESTENABLE, alphaRef != 0);
    d->SetRenderState(D3DRS_ALPHAREF, alphaRef);
    d->SetRenderState(D3DRS_ADAPTIVETESS_Y, alphaRef ? alphaToCoverage : 0);
    d->SetSamplerState(0, D3DSAMP_ADDRESSU, addressMode);
    d->SetSamplerState(0, D3DSAMP_ADDRESSV, addressMode);
    // Stage 1's alpha passes the current alpha on in both reflective modes:
    // an alpha operation left disabled under an enabled colour operation is
    // undefined in Direct3D.
    if (reflection) {
        if (reflectionMode == 0) {
            d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BLENDFACTORALPHA);
            d->SetRenderState(D3DRS_TEXTUREFACTOR, DWORD(reflectionAmount) << 24);
        } else {
            d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_BLENDCURRENTALPHA);
        }
        d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    }
    if (translucent)
        d->SetRenderState(D3DRS_COLORWRITEENABLE, colourWritesRgb);
    if (!stateRecord) {
        const D3D::Device& record = gDirectGraphics.record;
        d->SetRenderState(D3DRS_CULLMODE, cullBackFaces ? record.frontCull : DWORD(D3DCULL_NONE));
        const matrix3d transform = scaled ? scaleMatrix(textureScale) : matrix3d::identity();
        d->SetTransform(D3DTS_TEXTURE0, reinterpret_cast<const D3DMATRIX*>(transform.m));
        d->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, scaled ? D3DTTFF_COUNT2 : D3DTTFF_DISABLE);
        // The plain branches put back what the others set.
        if (!translucent)
            d->SetRenderState(D3DRS_COLORWRITEENABLE, colourWritesAll);
        if (!reflection) {
            d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
            d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            d->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu);
            d->SetTexture(1, nullptr);
            d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
            d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
        }
    }
    if (reflection) {
        const Texture* cube = reflectionTexture(environment);
        if (cube)
            TextureDevice::bindTexture(1, cube);
        else
            d->SetTexture(1, nullptr);
        d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT3);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR | 1);
    }
}
