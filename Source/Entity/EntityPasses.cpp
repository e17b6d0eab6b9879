// The entity pass of the frame and the two caster passes of the shadow maps.
#include "Entity/Entity.h"
#include "Entity/EntityManager.h"
#include "Physics/EntityPhysics.h"
#include "Entity/MeshOctree.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"

#include "Render/Camera.h"
#include "Render/DirectGraphics.h"

#include "Core/CrashTrace.h"

namespace {

// Whether a counted caster keeps its shadow map live: its body is not at
// rest, or, without a body, one of its parts moved.
bool casterMoves(const EntityManager::Entity& entity)
{
    if (entity.physics)
        return entity.physics->unchanged == 0;
    for (auto* node = entity.subEntities.head(); node; node = node->next)
        if (node->item->moved)
            return true;
    return false;
}

bool bound(const EntityManager::StoredMesh& mesh)
{
    return mesh.vertexBuffer && mesh.indexBuffer;
}

void restoreAfterEntities(IDirect3DDevice9* d)
{
    d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    for (DWORD stage = 0; stage < 3; ++stage)
        d->SetTextureStageState(stage, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
}

}

void EntityManager::setProjectedStates()
{
    if (!gDevice)
        return;
    gDevice->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
}

void EntityManager::resetProjectedStates()
{
    if (!gDevice)
        return;
    gDevice->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
}

void EntityManager::render(uint32_t withProjections)
{
    CRASH_TRACE();
    const Camera* camera = gCamera;
    if (!camera)
        return;
    const ConvexVolume& view = camera->frustum;
    const uint32_t reflectionPass = gDirectGraphics.record.reflectionPass;
    const auto shown = [reflectionPass](const Entity& entity) {
        return !(entity.reflectionMask & reflectionPass) && !entity.hidden &&
               entity.visibility != ConvexVolume::outside;
    };
    for (auto* node = entities.head(); node; node = node->next) {
        Entity& entity = *node->item;
        entity.visibility = uint32_t(view.classifyOrientedBox(entity.worldBox));
        if (shown(entity)) {
            if (entity.preparedFrame != frame_) {
                entity.preparedFrame = frame_;
                entity.prepareRender();
            }
            entity.beforeRender();
        }
    }

    // Without a device the walks still run (and find what would be drawn);
    // only the draws are left out.
    IDirect3DDevice9* d = gDevice;
    setProjectedStates();
    for (auto* node = meshOctrees.head(); node; node = node->next) {
        StoredMesh& mesh = *node->item->mesh;
        if (d && !bound(mesh))
            continue;
        bool bind = d != nullptr;
        node->item->renderWalk(view, reflectionPass, [&](SubEntity& sub) {
            if (bind) {
                mesh.bind();
                bind = false;
            }
            sub.render();
        });
    }
    if (d) {
        restoreAfterEntities(d);
        resetProjectedStates();
        if (withProjections)
            renderProjections();
    }

    for (auto* node = entities.head(); node; node = node->next)
        if (shown(*node->item))
            node->item->afterRender();
}

template <class Mesh, class Visit>
void EntityManager::walkCasters(const ConvexVolume& volume, Mesh mesh, Visit visit)
{
    for (auto* record = meshOctrees.head(); record; record = record->next) {
        const Octree* root = record->item->root;
        if (!root || !mesh(*record->item) || !casterStack_.reserve(1))
            continue;
        uint32_t top = 0;
        casterStack_.data()[top++] = root;
        while (top > 0) {
            const Octree* node = casterStack_.data()[--top];
            if (volume.classifyBox(node->bounds) == ConvexVolume::outside)
                continue;
            for (auto* item = node->items.head(); item; item = item->next) {
                SubEntity& sub = *item->item;
                Entity& entity = *sub.entity;
                if (sub.hidden || !sub.castsShadow ||
                    volume.classifyOrientedBox(entity.worldBox) == ConvexVolume::outside)
                    continue;
                if (!visit(entity, sub))
                    return;
            }
            // Room for all eight children before any is written.
            if (!casterStack_.reserve(top + 8))
                break;
            for (const Octree* child : node->children)
                if (child)
                    casterStack_.data()[top++] = child;
        }
    }
}

int32_t EntityManager::findCastersInVolume(const ConvexVolume& volume, const void* excluded, uint32_t* still)
{
    CRASH_TRACE();
    int32_t count = 0;
    if (still)
        *still = 1;
    walkCasters(volume, [](MeshOctree&) { return true; }, [&](Entity& entity, SubEntity&) {
        if (&entity == excluded)
            return true;
        ++count;
        if (!still)
            return false;
        if (*still && casterMoves(entity))
            *still = 0;
        return true;
    });
    return count;
}

uint32_t EntityManager::renderShadowCasters(const ConvexVolume& volume, uint32_t* still)
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (still)
        *still = 1;
    if (!d)
        return 0;
    d->SetTexture(0, nullptr);
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
    d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    uint32_t drawn = 0;
    StoredMesh* current = nullptr;
    walkCasters(
        volume,
        [&](MeshOctree& record) {
            current = record.mesh;
            if (!bound(*current))
                return false;
            current->bind();
            return true;
        },
        [&](Entity& entity, SubEntity& sub) {
            if (entity.hidden)
                return true;
            sub.renderShadow();
            ++drawn;
            // The hook may have drawn with buffers of its own.
            if (entity.afterShadowDraw(sub)) {
                if (still)
                    *still = 0;
                current->bind();
            }
            if (still && *still && casterMoves(entity))
                *still = 0;
            return true;
        });
    // Entities that draw a shadow of their own (a cloth's).
    for (auto* node = entities.head(); node; node = node->next) {
        Entity& entity = *node->item;
        if (!entity.hidden && volume.classifyOrientedBox(entity.worldBox) != ConvexVolume::outside &&
            entity.renderShadowCaster()) {
            ++drawn;
            if (still)
                *still = 0;
        }
    }
    restoreAfterEntities(d);
    // The alpha operation stays SELECTARG1; its argument goes back.
    d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    return drawn > 0 ? 1 : 0;
}
