#include "Entity/EntityManager.h"

#include "Entity/CollisionQuery.h"
#include "Entity/Entity.h"
#include "Entity/MeshOctree.h"

#include "Physics/EntityPhysics.h"
#include "Physics/PhysicsManager.h"
#include "Render/TextureProj.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <windows.h>

#include <new>

thread_local vec3d EntityManager::lastHitNormal;

struct EntityManager::ContactStacks
{
    MeshOctree::ContactScratch scratch;
};

EntityManager::Change::Change(EntityManager* manager) : manager_(manager)
{
    if (!manager)
        return;
    // Sequentially consistent on both sides: of the two stores (changing
    // here, physicsBusy in the pass) at least one is seen by the other
    // side's load, so the two are never inside together.
    for (;;) {
        while (manager->physicsBusy.load())
            Sleep(1);
        manager->changing.fetch_add(1);
        if (!manager->physicsBusy.load())
            return;
        manager->changing.fetch_sub(1);
    }
}

EntityManager::Change::~Change()
{
    if (manager_)
        manager_->changing.fetch_sub(1);
}

bool EntityManager::beginContactPass()
{
    if (changing.load())
        return false;
    physicsBusy.store(1);
    if (changing.load()) {
        physicsBusy.store(0);
        return false;
    }
    return true;
}

void EntityManager::endContactPass()
{
    physicsBusy.store(0);
}

EntityManager::EntityManager()
    : physicsManager(std::make_unique<PhysicsManager>()), contactStacks_(new (std::nothrow) ContactStacks)
{
}

EntityManager::~EntityManager()
{
    // The bodies go back while the simulator lives; the entities keep their
    // records, without bodies, until they are cleared below or by their owners.
    physicsManager->release();
    // Links into the entries go first: the entries go below, the entities
    // may live on.
    for (auto* node = entities.head(); node; node = node->next) {
        node->item->forgetLinks();
        for (int32_t i = 0; i < node->item->links.count(); ++i)
            node->item->links.at(i)->entry = nullptr;
    }
    // A projection that outlives the manager must not call back into it.
    projections.clearWith([this](TexProjEntry* entry) {
        if (entry->projection) {
            SCList<TextureProj::Interface>& receivers = entry->projection->receivers;
            for (auto* r = receivers.head(); r; r = r->next)
                if (r->item == this) {
                    receivers.unlink(r);
                    break;
                }
        }
        delete entry;
    });
    while (auto* node = entities.head()) {
        Entity* entity = node->item;
        entity->clear();
        entities.unlink(node);
        entity->listNode = nullptr;
        entity->manager = nullptr;
    }
    while (auto* node = meshOctrees.head()) {
        node->item->users = 1;
        MeshOctree::release(*this, node->item);
    }
    delete contactStacks_;
}

void EntityManager::addTexProj(TextureProj* projection)
{
    if (!projection)
        return;
    for (auto* node = projections.head(); node; node = node->next)
        if (node->item->projection == projection)
            return;
    TexProjEntry* entry = new (std::nothrow) TexProjEntry;
    if (!entry)
        return;
    entry->projection = projection;
    if (!(entry->listNode = projections.append(entry)))
        delete entry;
}

void EntityManager::removeTexProj(TextureProj* projection)
{
    TexProjEntry* entry = nullptr;
    for (auto* node = projections.head(); node && !entry; node = node->next)
        if (node->item->projection == projection)
            entry = node->item;
    if (!entry)
        return;
    for (auto* node = entities.head(); node; node = node->next) {
        DynArray<EntityTexProj>& links = node->item->links;
        for (int32_t i = 0; i < links.count(); ++i)
            if (links.at(i)->entry == entry)
                links.at(i)->entry = nullptr;
    }
    projections.unlink(entry->listNode);
    delete entry;
}

bool EntityManager::listEntity(Entity& entity)
{
    if (entity.manager != this)
        return false;
    if (entity.listNode)
        return true;
    entity.listNode = entities.append(&entity);
    return entity.listNode != nullptr;
}

void EntityManager::update()
{
    for (auto* node = entities.head(); node; node = node->next)
        node->item->update();
}

void EntityManager::assignTexProjs()
{
    CRASH_TRACE();
    for (auto* node = projections.head(); node; node = node->next)
        node->item->count = 0;
    for (auto* node = entities.head(); node; node = node->next) {
        Entity& entity = *node->item;
        entity.prepare();
        if (entity.hidden)
            continue;
        entity.linkCount = 0;
        for (auto* p = projections.head(); p; p = p->next) {
            TexProjEntry& entry = *p->item;
            if (entry.projection->disabled ||
                entry.projection->volume.classifyOrientedBox(entity.worldBox) == ConvexVolume::outside)
                continue;
            EntityTexProj* link = entity.links.at(int32_t(entity.linkCount));
            if (!link)
                break;
            *link = {&entry, &entity};
            ++entity.linkCount;
        }
        // Every link is in place: their addresses hold until the next assignment.
        for (uint32_t i = 0; i < entity.linkCount; ++i) {
            EntityTexProj* link = entity.links.at(int32_t(i));
            TexProjEntry& entry = *link->entry;
            if (EntityTexProj** slot = entry.links.at(int32_t(entry.count))) {
                *slot = link;
                ++entry.count;
            }
        }
        entity.moved = 0;
    }
}

void EntityManager::recordAllStateBlocks()
{
    for (auto* node = entities.head(); node; node = node->next)
        for (auto* sub = node->item->subEntities.head(); sub; sub = sub->next)
            sub->item->recordStateBlocks();
}

void EntityManager::releaseAllStateBlocks()
{
    for (auto* node = entities.head(); node; node = node->next)
        for (auto* sub = node->item->subEntities.head(); sub; sub = sub->next)
            sub->item->releaseStateBlocks();
}

bool EntityManager::intersectRay(const vec3d& origin, vec3d& end, int32_t minLayer, float* distance, SubEntity** hit)
{
    CRASH_TRACE();
    RayQuery query(origin, end, minLayer);
    for (auto* node = meshOctrees.head(); node; node = node->next)
        node->item->intersectRay(query);
    if (!query.hit)
        return false;
    end = query.end;
    if (distance)
        *distance = fastSqrt((end - origin).lengthSq());
    if (hit)
        *hit = query.hit;
    lastHitNormal = query.hitWorld.transformVector(query.triangle->normal);
    return true;
}

bool EntityManager::collideEntities(CollisionQuery& query)
{
    if (!contactStacks_ || !beginContactPass())
        return false;
    for (auto* node = meshOctrees.head(); node; node = node->next)
        node->item->collide(query, contactStacks_->scratch);
    endContactPass();
    return true;
}
