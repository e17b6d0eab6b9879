#include "Entity/EntityManager.h"

#include "Entity/Entity.h"
#include "Entity/MeshOctree.h"

#include <windows.h>

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

EntityManager::~EntityManager()
{
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
}
