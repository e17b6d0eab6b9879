// The projection pass: entities drawn once more under the projections that
// reach them (projected lights, shadows, projected textures).
#include "Entity/Entity.h"
#include "Entity/EntityManager.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"
#include "Render/Light.h"
#include "Render/LightProj.h"
#include "Render/ShadowMap.h"
#include "Render/ShadowProj.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>

namespace {

// The view the current pass draws with (the camera's, or a mirrored one).
const matrix3d& currentView()
{
    const D3D::Device& record = gDirectGraphics.record;
    if (record.viewCount > 0 && record.viewStack[record.viewCount - 1])
        return *record.viewStack[record.viewCount - 1];
    return gCamera->view;
}

// A map that has been drawn and holds a caster over the mesh last masked.
bool shadowReady(const ShadowMap* map)
{
    return map && map->state != 0 && map->active && map->target;
}

void setMatrix(D3DTRANSFORMSTATETYPE which, const matrix3d& m)
{
    gDevice->SetTransform(which, reinterpret_cast<const D3DMATRIX*>(m.m));
}

ShadowMap::MeshBox entityBox(const EntityManager::Entity& entity)
{
    ShadowMap::MeshBox box;
    box.object = &entity;
    box.worldBox = entity.worldBox;
    return box;
}

ShadowMap::MeshBox partBox(const EntityManager::SubEntity& sub)
{
    ShadowMap::MeshBox box;
    box.object = &sub;
    box.localBox = sub.localBox;
    box.world = &sub.entity->world;
    return box;
}

// A point light turns its projector to face the entity's centre; a light
// at the centre keeps its aim.
void aimAt(LightProj& light, const vec3d& centre)
{
    const vec3d position = light.transform.row(3);
    const vec3d towards = centre - position;
    const float length = fastSqrt(towards.lengthSq());
    if (!(length > 0.0f))
        return;
    const vec3d d = towards / length;
    vec3d side = std::fabs(d.y) > std::fabs(d.x) ? vec3d(0.0f, d.z, -d.y) : vec3d(-d.z, 0.0f, d.x);
    side = side / fastSqrt(side.lengthSq());
    light.transform.setRow(0, side);
    light.transform.setRow(1, d.cross(side));
    light.transform.setRow(2, d);
    // Its texture matrix for the view follows in applyForView.
    light.update();
}

}

void EntityManager::renderProjections()
{
    CRASH_TRACE();
    for (auto* node = projections.head(); node; node = node->next) {
        TexProjEntry& entry = *node->item;
        if (entry.projection->disabled)
            continue;
        for (uint32_t i = 0; i < entry.count; ++i)
            if (EntityTexProj* link = *entry.links.at(int32_t(i)))
                renderProjection(*link);
    }
}

void EntityManager::renderProjection(EntityTexProj& link)
{
    IDirect3DDevice9* d = gDevice;
    Entity& entity = *link.entity;
    if (!d || !gCamera || !link.entry || !link.entry->projection)
        return;
    TextureProj& projection = *link.entry->projection;
    const bool light = projection.isLight();
    const bool shadow = projection.isShadow();
    if (entity.visibility == ConvexVolume::outside || entity.hidden)
        return;
    const bool nearby = (entity.world.row(3) - gCamera->position).lengthSq() <= entity.shadowRangeSq;
    D3D::Device::SwapChain* swapChain = gDirectGraphics.record.currentSwapChain;
    ShadowMap* map = swapChain ? projection.shadowMap : nullptr;
    if (shadow && !entity.perPartShadow && nearby && entity.subEntities.count() > 0 && map)
        map->renderMeshShadows(entityBox(entity), *swapChain);

    const D3D::Device& record = gDirectGraphics.record;
    for (auto* node = entity.subEntities.head(); node; node = node->next) {
        SubEntity& sub = *node->item;
        if (sub.hidden || sub.noProjection || !sub.octree)
            continue;
        if (entity.visibility == ConvexVolume::intersecting &&
            gCamera->frustum.classifyOrientedBox(sub.localBox.carried(entity.world)) == ConvexVolume::outside)
            continue;
        StoredMesh& mesh = sub.mesh();
        if (!mesh.vertexBuffer || !mesh.indexBuffer)
            continue;
        if (light) {
            LightProj* lamp = dynamic_cast<LightProj*>(&projection);
            if (lamp && lamp->kind == 0)
                aimAt(*lamp, entity.worldBox.center);
            if (nearby && map)
                map->renderMeshShadows(partBox(sub), *swapChain);
        }
        if (entity.perPartShadow && shadow && nearby && map)
            map->renderMeshShadows(partBox(sub), *swapChain);
        d->SetRenderState(D3DRS_CULLMODE, record.backCull);
        if (!shadow) {
            if (TextureProj::commonSave && TextureProj::commonApply) {
                TextureProj::commonSave->Capture();
                TextureProj::commonApply->Apply();
            }
            if (light)
                projection.applyForView(currentView());
            else
                projection.apply();
        }
        mesh.bind();
        if (projection.stencil)
            d->SetRenderState(D3DRS_STENCILENABLE, TRUE);
        sub.renderProjected(projection, nearby);
        if (projection.stencil)
            d->SetRenderState(D3DRS_STENCILENABLE, FALSE);
        if (!shadow) {
            if (projection.saveBlock)
                projection.saveBlock->Apply();
            if (TextureProj::commonSave)
                TextureProj::commonSave->Apply();
        }
        d->SetRenderState(D3DRS_CULLMODE, record.frontCull);
    }
}

void EntityManager::SubEntity::renderProjected(TextureProj& projection, bool nearby)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (!d || !octree)
        return;
    const matrix3d& transform = *world;
    const bool textured = material.textures[0].isBound();

    if (projection.isLight()) {
        LightProj* lamp = dynamic_cast<LightProj*>(&projection);
        if (!lamp || !(lamp->intensity >= 0.001f))
            return;
        const vec3d centre = entity->worldBox.center;
        const vec3d position = lamp->transform.row(3);
        float falloff = 0.0f;
        if (lamp->kind == 0) {
            falloff = fastSqrt((position - centre).lengthSq()) * lamp->inverseRange;
        } else if (lamp->kind == 1) {
            // A cone fades along its axis from the projector's plane.
            const vec3d axis = lamp->transform.row(2);
            const float length = fastSqrt(axis.lengthSq());
            if (length > 0.0f)
                falloff = (centre.dot(axis) - position.dot(axis)) / length * lamp->inverseRange;
        }
        falloff = falloff > 0.0f ? std::min(falloff, 1.0f) : 0.0f; // NaN gives 0
        const float strength = std::min((1.0f - falloff * falloff) * lamp->intensity * 1.5f, 1.0f);
        const float scale = strength / 255.0f;
        const D3DCOLORVALUE colour{scale * lamp->colour.r, scale * lamp->colour.g, scale * lamp->colour.b, 1.0f};
        lamp->light.Diffuse = colour;
        lamp->light.Specular = colour;
        Light held{lamp->light, lamp->lightIndex};
        if (Light::assignIndex(held)) {
            lamp->lightIndex = held.lightIndex;
            d->SetLight(lamp->lightIndex, &lamp->light);
            d->LightEnable(lamp->lightIndex, TRUE);
        }

        d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        // The projected light's colour is the lighting itself; its texture
        // and strength shape the alpha it is blended with.
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
        // The material's texture modulates the light; without one stage 1
        // passes the light on.
        d->SetTextureStageState(1, D3DTSS_COLOROP, textured ? D3DTOP_MODULATE : D3DTOP_SELECTARG2);
        d->SetTextureStageState(1, D3DTSS_ALPHAOP,
                                textured && material.alphaTest ? D3DTOP_MODULATE : D3DTOP_SELECTARG2);
        // Stage 0's texture matrix is the light's for this view already (applyForView).

        ShadowMap* map = projection.shadowMap;
        if (nearby && shadowReady(map)) {
            d->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
            d->SetTextureStageState(2, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
            d->SetTextureStageState(2, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
            d->SetTextureStageState(2, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
            d->SetTextureStageState(2, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
            d->SetSamplerState(2, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
            d->SetSamplerState(2, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
            map->bindTextureStage(2);
            if (lamp->kind == 0) {
                map->setTextureTransform(transform);
                d->SetTextureStageState(2, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT4);
            } else {
                setMatrix(D3DTS_TEXTURE2, projection.textureMatrix);
                d->SetTextureStageState(2, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT4 | D3DTTFF_PROJECTED);
            }
        }

        const float alpha = material.transparencyOverride ? strength * 255.0f
                                                          : float(255 - material.transparency) * strength;
        d->SetRenderState(D3DRS_TEXTUREFACTOR, DWORD(uint32_t(alpha) << 24));
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        d->SetRenderState(D3DRS_SPECULARENABLE, material.material.Power > 0.0f ? TRUE : FALSE);
        if (material.transformFlags[0]) {
            d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, material.transformFlags[0]);
            setMatrix(D3DTS_TEXTURE1, material.textureTransforms[0]);
        }
        d->SetMaterial(&material.material);
        if (textured)
            TextureDevice::bindTexture(1, material.textures[0].texture());
        else
            d->SetTexture(1, nullptr);
        material.setCullMode();
        setMatrix(D3DTS_WORLD, transform);
        drawClipped();

        d->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
        d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
        d->SetTextureStageState(1, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        for (DWORD stage : {1u, 2u}) {
            d->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_DISABLE);
            d->SetTextureStageState(stage, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
            d->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        }
        d->SetTextureStageState(2, D3DTSS_TEXCOORDINDEX, 2);
        d->SetTextureStageState(2, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        d->SetSamplerState(2, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(2, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        for (DWORD stage = 0; stage < 3; ++stage)
            d->SetTexture(stage, nullptr);
        Light::release(held);
        lamp->lightIndex = 0;
        d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        return;
    }

    if (projection.isShadow()) {
        ShadowMap* map = projection.shadowMap;
        const ShadowProj* cast = dynamic_cast<const ShadowProj*>(&projection);
        if (!nearby || !shadowReady(map) || !cast)
            return;
        material.applyStateBlocks();
        if (beforeDraw)
            beforeDraw(material);
        EntityManager::setProjectedStates();
        d->SetRenderState(D3DRS_SPECULARENABLE, FALSE);
        const float grey = float(cast->opacity) / 255.0f;
        D3DMATERIAL9 darkness{};
        darkness.Diffuse = {grey, grey, grey, 1.0f};
        darkness.Ambient = darkness.Diffuse;
        d->SetMaterial(&darkness);

        // The stage after the material's textures; stage 0 for a material
        // without any.
        DWORD stage = 0;
        while (stage < DWORD(Shader::stages) && material.textures[stage].isBound())
            ++stage;
        const bool clear = material.alphaTest || material.transparency > 32;
        map->bindTextureStage(stage);
        setMatrix(D3DTRANSFORMSTATETYPE(D3DTS_TEXTURE0 + stage), projection.textureMatrix);
        d->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        d->SetTextureStageState(stage, D3DTSS_ALPHAOP,
                                !material.alphaTest && material.transparency > 32 ? D3DTOP_SELECTARG1
                                                                                  : D3DTOP_MODULATE);
        d->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT);
        if (!clear)
            d->SetTextureStageState(stage, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
        d->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP);
        d->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_CLAMP);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, D3DTSS_TCI_CAMERASPACEPOSITION);
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_COUNT4 | D3DTTFF_PROJECTED);
        d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, material.alphaTest ? TRUE : FALSE);
        d->SetRenderState(D3DRS_ALPHAREF, material.alphaReference);

        material.setCullMode();
        setMatrix(D3DTS_WORLD, transform);
        drawClipped();

        EntityManager::resetProjectedStates();
        d->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, stage);
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        // Stage 0 goes back to the device's usual operations rather than off.
        d->SetTextureStageState(stage, D3DTSS_COLOROP, stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE);
        d->SetTextureStageState(stage, D3DTSS_ALPHAOP, stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE);
        d->SetTextureStageState(stage, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(stage, D3DTSS_ALPHAARG2, stage == 0 ? D3DTA_DIFFUSE : D3DTA_CURRENT);
        d->SetSamplerState(stage, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(stage, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        d->SetTexture(stage, nullptr);
        if (gCamera && gCamera->fogEnabled)
            d->SetRenderState(D3DRS_FOGENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        if (material.saveBlock)
            material.saveBlock->Apply();
        return;
    }

    // A plain projected texture, on stage 0 from the projection.
    if (projection.additive) {
        if (material.alphaTest) {
            d->SetSamplerState(1, D3DSAMP_ADDRESSU, material.addressU[0]);
            d->SetSamplerState(1, D3DSAMP_ADDRESSV, material.addressV[0]);
        }
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(1, D3DTSS_ALPHAOP, material.alphaKeep ? D3DTOP_SELECTARG2 : D3DTOP_MODULATE);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        TextureDevice::bindTexture(1, material.textures[0].texture());
        material.setCullMode();
        setMatrix(D3DTS_WORLD, transform);
        drawClipped();
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        if (material.alphaTest) {
            d->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
            d->SetSamplerState(1, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        }
        d->SetTexture(0, nullptr);
        d->SetTexture(1, nullptr);
        return;
    }
    if (material.alphaTest) {
        // Stage 1 takes its alpha from the material alone; stage 0's alpha
        // stays on, as Direct3D wants it while its colour is.
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
        d->SetRenderState(D3DRS_ALPHAREF, material.alphaReference);
        d->SetSamplerState(1, D3DSAMP_ADDRESSU, material.addressU[0]);
        d->SetSamplerState(1, D3DSAMP_ADDRESSV, material.addressV[0]);
        TextureDevice::bindTexture(1, material.textures[0].texture());
        material.setCullMode();
        setMatrix(D3DTS_WORLD, transform);
        drawClipped();
        d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_DISABLE);
        d->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
        d->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        d->SetSamplerState(1, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        d->SetSamplerState(1, D3DSAMP_ADDRESSV, D3DTADDRESS_WRAP);
        d->SetTexture(0, nullptr);
        d->SetTexture(1, nullptr);
        return;
    }
    material.setCullMode();
    setMatrix(D3DTS_WORLD, transform);
    drawClipped();
}
