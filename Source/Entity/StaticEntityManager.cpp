#include "Entity/StaticEntityManager.h"

#include "Entity/StaticEntity.h"
#include "Landscape/HLod.h"

#include "Render/BufferPool.h"
#include "Render/Camera.h"
#include "Render/SwapChain.h"

#include "Core/ArrayStack.h"
#include "Core/CrashTrace.h"
#include "Core/FileArray.h"

#include <algorithm>
#include <bit>
#include <cmath>

IDirect3DIndexBuffer9* StaticEntityManager::spriteIndices = nullptr;

namespace {

// Far more than any level holds; a longer file is not a level's.
constexpr uint32_t maxFileSize = 64u << 20;
constexpr uint8_t versionMark[4] = {0x76, 0x31, 0x2E, 0x30};

using Octree = StaticEntityManager::Octree;

// The pools the sprites' vertex ranges come from.
BufferPool::List& spritePools()
{
    static BufferPool::List pools(BufferPool::meshVertices);
    return pools;
}

// Whether the node's ground circle meets the circle of radius around (x, z).
bool meetsCircle(const Octree& node, float x, float z, float radius)
{
    const float dx = node.bounds.center.x - x, dz = node.bounds.center.z - z;
    const float reach = node.bounds.radius + radius;
    return dx * dx + dz * dz <= reach * reach;
}

// Calls visit(entity) for every entity below node whose node passes
// enter(node), children in order 0 to 7; visit returns non-zero to stop.
template <class Enter, class Visit>
bool walk(Octree* node, Enter& enter, Visit& visit)
{
    if (!node || !enter(*node))
        return false;
    for (auto* item = node->items.head(); item; item = item->next)
        if (visit(*item->item))
            return true;
    for (Octree* child : node->children)
        if (walk(child, enter, visit))
            return true;
    return false;
}

// The circle query below node: the entities whose ground circle meets the
// circle, children in order 0 to 7; true when a callback stopped it.
bool circleWalk(Octree* node, const StaticEntityManager::CircleQuery& query, StaticEntityManager::Callback& callback)
{
    if (!node || !meetsCircle(*node, query.x, query.z, query.radius))
        return false;
    if (node->items.count() > 0) {
        if (node->ground.renew(node->items)) {
            if (node->ground.find(query, callback))
                return true;
        } else {
            // No room for the slots: each entity asked itself.
            for (auto* item = node->items.head(); item; item = item->next) {
                StaticEntity& entity = *item->item;
                const float dx = entity.position.x - query.x, dz = entity.position.z - query.z;
                const float reach = query.radius + entity.radius();
                if (dx * dx + dz * dz <= reach * reach && callback.found(entity) != 0)
                    return true;
            }
        }
    }
    for (Octree* child : node->children)
        if (circleWalk(child, query, callback))
            return true;
    return false;
}

// The manager's own tree, then each further tree, until visit stops.
template <class Enter, class Visit>
void walkAll(Octree* root, Enter enter, Visit visit)
{
    if (walk(root, enter, visit))
        return;
    for (auto* owner = StaticEntityManager::furtherOctrees().head(); owner; owner = owner->next)
        if (walk(owner->item->root, enter, visit))
            return;
}

}

StaticEntityManager::OctreeOwner::~OctreeOwner()
{
    if (listNode)
        furtherOctrees().unlink(listNode);
    destroyTree(root);
}

StaticEntityManager::LodSpriteSector::~LodSpriteSector()
{
    for (LodSprite*& sprite : sprites) {
        if (sprite && sprite->range && sprite->range->pool)
            BufferPool::freeRange(*sprite->range->pool, sprite->range);
        delete sprite;
        sprite = nullptr;
    }
}

StaticEntityManager::StaticEntityManager(D3D::Device::SwapChain* swapChain) : owner(swapChain)
{
    weight = 1.0f;
    done = 0.0f;
}

StaticEntityManager::~StaticEntityManager()
{
    clear();
}

const Camera* StaticEntityManager::activationCamera() const
{
    if (camera)
        return camera;
    if (owner)
        return owner;
    return gCamera;
}

SCList<StaticEntityManager::OctreeOwner>& StaticEntityManager::furtherOctrees()
{
    static SCList<OctreeOwner> owners;
    return owners;
}

void StaticEntityManager::deleteOctreeList(bool deleteOwners)
{
    furtherOctrees().clearWith([deleteOwners](OctreeOwner* owner) {
        owner->listNode = nullptr;
        if (deleteOwners)
            delete owner;
    });
}

StaticEntityManager::Octree** StaticEntityManager::rootSlotOf(Octree* node)
{
    if (!node)
        return nullptr;
    while (node->parent)
        node = node->parent;
    if (node == root)
        return &root;
    for (auto* owner = furtherOctrees().head(); owner; owner = owner->next)
        if (owner->item->root == node)
            return &owner->item->root;
    return nullptr;
}

void StaticEntityManager::destroyTree(Octree*& tree)
{
    if (!tree)
        return;
    const auto destroy = [](const auto& self, Octree* node) -> void {
        for (Octree*& child : node->children) {
            if (child)
                self(self, child);
            child = nullptr;
        }
        // The entities forget the node first, so that theirs and the
        // node's teardown do not meet.
        node->items.clearWith([node](StaticEntity* entity) {
            entity->node = nullptr;
            entity->listNode = nullptr;
            entity->placedIn = nullptr;
            entity->groundSlot = -1;
            for (int32_t& k : entity->cellKey)
                k = CellBox::unplaced;
            if (node->deleteItems)
                delete entity;
        });
        delete node;
    };
    destroy(destroy, tree);
    tree = nullptr;
}

void StaticEntityManager::clear()
{
    CRASH_TRACE();
    deactivateAll(root);
    destroyTree(root);
    deleteOctreeList(false);
    spritePools().clear();
    D3D::releaseInterface(spriteIndices);
    loaded = 0;
}

uint32_t StaticEntityManager::load(const String& path, PackageFinder* packages, bool* whole)
{
    CRASH_TRACE();
    if (whole)
        *whole = false;
    if (!creator)
        return 0;
    FileInterface* file = path.length() > 0 ? openFile(path, 0, 1, 1) : nullptr;
    FileArray bytes;
    const bool opened = file && file->isOpen && file->size() <= maxFileSize && bytes.loadFrom(*file);
    if (file)
        file->close();
    return opened ? load(bytes, packages, whole) : 0;
}

uint32_t StaticEntityManager::load(FileInterface& stream, PackageFinder* packages, bool* whole)
{
    CRASH_TRACE();
    done = 0.0f;
    if (whole)
        *whole = false;
    if (!creator)
        return 0;
    const uint32_t size = stream.size();
    stream.seek(4, 0);
    uint32_t placed = 0;
    // Read whole: every record placed, each to its end tag.
    bool allPlaced = true;
    // Every record reads at least its first tag byte, so the loop ends.
    while (stream.tell() < size) {
        const float progress = 0.7f * float(stream.tell()) / float(size);
        if (owner)
            owner->advanceLoadProcess(*this, progress);
        Object* object = creator->createObject();
        if (!object) {
            allPlaced = false;
            break;
        }
        const uint32_t before = stream.tell();
        if (object->load(packages, stream) && object->node) {
            ++placed;
            allPlaced = allPlaced && object->recordEnded;
        } else {
            delete object; // not placed: nothing would ever reach it
            allPlaced = false;
        }
        if (stream.tell() == before)
            break;
    }
    if (whole)
        *whole = allPlaced && size >= 4;
    return placed;
}

bool StaticEntityManager::save(const String& path)
{
    CRASH_TRACE();
    FileArray bytes(1024);
    save(bytes);
    return FileInterface::replaceFile(bytes, path);
}

void StaticEntityManager::save(FileInterface& out) const
{
    out.write(versionMark, sizeof(versionMark));
    // Only the level's own objects: those in trees of vehicles are not the
    // level's.
    std::vector<const StaticEntity*> entities;
    collectNode(root, entities);
    std::stable_sort(entities.begin(), entities.end(),
                     [](const StaticEntity* a, const StaticEntity* b) { return a->id < b->id; });
    for (const StaticEntity* entity : entities)
        entity->save(out);
}

void StaticEntityManager::collectNode(const Octree* node, std::vector<const StaticEntity*>& out)
{
    if (!node)
        return;
    for (auto* item = node->items.head(); item; item = item->next)
        out.push_back(item->item);
    for (const Octree* child : node->children)
        collectNode(child, out);
}

void StaticEntityManager::activateAtLoad()
{
    CRASH_TRACE();
    if (loaded)
        return;
    D3D::releaseInterface(spriteIndices);
    ArrayStack<uint16_t, 6> rectangle;
    const uint16_t corners[6] = {0, 1, 2, 2, 1, 3};
    for (int i = 0; i < 6; ++i)
        *rectangle.at(i) = corners[i];
    spriteIndices = createRepeatedIndexBuffer(rectangle, spriteRectangles);
    if (const Camera* c = activationCamera())
        referencePoint = c->position;
    updateActivation(root);
    if (owner)
        owner->advanceLoadProcess(*this, 1.0f);
    else
        done = 1.0f;
    loaded = 1;
}

void StaticEntityManager::update(uint32_t force)
{
    const Camera* c = activationCamera();
    if (!root || !c)
        return;
    const float step = c->range * 0.01f;
    if (!force && (c->position - referencePoint).lengthSq() <= step * step)
        return;
    referencePoint = c->position;
    updateActivation(root);
    // Objects came alive or went: the far field's pictures show the others.
    if (owner && owner->farField)
        owner->farField->rerender = 1;
}

void StaticEntityManager::updateActivation(Octree* start)
{
    const Camera* c = activationCamera();
    if (!start || !c || !nodeStack.reserve(1))
        return;
    const vec3d eye = c->position;
    const float range = c->range;
    uint32_t top = 0;
    nodeStack.data()[top++] = start;
    while (top > 0) {
        Octree* node = nodeStack.data()[--top];
        if (!meetsCircle(*node, eye.x, eye.z, range))
            continue; // what lies below keeps its state
        if (node->items.count() == 0) {
            if (!nodeStack.reserve(top + 8))
                return;
            for (Octree* child : node->children)
                if (child)
                    nodeStack.data()[top++] = child;
            continue;
        }
        for (auto* item = node->items.head(); item; item = item->next) {
            StaticEntity& entity = *item->item;
            const Method* object = entity.object;
            const float dx = entity.position.x - referencePoint.x, dz = entity.position.z - referencePoint.z;
            bool inside = false;
            if (object && object->areaKind == Method::circleArea)
                inside = dx * dx + dz * dz < object->rangeSq;
            else if (object && object->areaKind == Method::squareArea)
                inside = std::fabs(dx) < object->halfSize && std::fabs(dz) < object->halfSize;
            if (inside || entity.state == StaticEntity::alwaysActive) {
                if (!entity.instance)
                    entity.instance = entity.createInstance();
            } else if (entity.instance) {
                entity.destroyInstance(entity.instance);
                entity.instance = nullptr;
            }
        }
    }
}

void StaticEntityManager::renderFarField(const BoundingBox& farField)
{
    CRASH_TRACE();
    Camera* camera = owner ? static_cast<Camera*>(owner) : gCamera;
    if (!root || !camera)
        return;
    ConvexVolume& view = camera->frustum;
    const ConvexVolume::Plane nearPlane = view.planes[0];
    view.planes[0].point = farField.center;
    view.planes[0].distance = nearPlane.normal.dot(farField.center);
    IDirect3DDevice9* d = gDevice;
    if (d) {
        const matrix3d identity = matrix3d::identity();
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
        d->SetRenderState(D3DRS_NORMALIZENORMALS, TRUE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    }
    // The far-field objects come alive out to the far field's distance, which
    // lies beyond the record's radius: the circle reaches as far as the
    // camera sees, and the view decides the rest.
    const float x = farField.center.x, z = farField.center.z;
    const float range = std::fmax(farField.radius, Camera::farPlaneFor(camera->range));
    auto enter = [&](const Octree& node) {
        return meetsCircle(node, x, z, range) && view.classifyBox(node.bounds) != ConvexVolume::outside;
    };
    auto visit = [&](StaticEntity& entity) {
        Method* object = entity.object;
        if (!object || !object->farField || entity.instance)
            return false;
        const StaticEntity::Bounds circle = entity.getBounds();
        const float dx = circle.x - x, dz = circle.z - z, reach = circle.radius + range;
        if (dx * dx + dz * dz > reach * reach)
            return false;
        const vec3d r{circle.radius, circle.radius, circle.radius};
        if (view.classifyBox(entity.position - r, entity.position + r) == ConvexVolume::outside)
            return false;
        // Inside its area the entity is alive and the entity pass draws it.
        const float ax = entity.position.x - referencePoint.x, az = entity.position.z - referencePoint.z;
        if ((object->areaKind == Method::circleArea && ax * ax + az * az < object->rangeSq) ||
            (object->areaKind == Method::squareArea && std::fabs(ax) < object->halfSize &&
             std::fabs(az) < object->halfSize))
            return false;
        matrix3d transform = matrix3d::identity();
        entity.getTransform(transform, false);
        object->renderFarField(entity.state, transform);
        return false;
    };
    walk(root, enter, visit);
    if (d) {
        d->SetRenderState(D3DRS_NORMALIZENORMALS, FALSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    }
    view.planes[0] = nearPlane;
}

void StaticEntityManager::deactivateAll(Octree* node)
{
    if (!node)
        return;
    for (auto* item = node->items.head(); item; item = item->next) {
        StaticEntity& entity = *item->item;
        if (entity.instance) {
            entity.destroyInstance(entity.instance);
            entity.instance = nullptr;
        }
    }
    for (Octree* child : node->children)
        deactivateAll(child);
}

uint32_t StaticEntityManager::findInCircle(const CircleQuery& query, Callback& callback)
{
    if (circleWalk(root, query, callback))
        return 0;
    for (auto* owner = furtherOctrees().head(); owner; owner = owner->next)
        if (circleWalk(owner->item->root, query, callback))
            return 0;
    return 0;
}

int32_t StaticEntityManager::GroundSlots::kindOf(Method* object)
{
    for (int32_t k = kinds - 1; k >= 0; --k)
        if (objects.data()[k] == object)
            return k;
    return -1;
}

bool StaticEntityManager::GroundSlots::renew(const SCList<StaticEntity>& items)
{
    const int32_t n = items.count();
    if (valid && count == n)
        return true;
    valid = false;
    count = kinds = 0;
    if (!circles.reserve(uint32_t(n)) || !slots.reserve(uint32_t(n)) || !entities.reserve(uint32_t(n)))
        return false;
    int32_t index = 0;
    for (auto* item = items.head(); item && index < n; item = item->next, ++index) {
        StaticEntity& entity = *item->item;
        int32_t kind = kinds > 0 && objects.data()[kinds - 1] == entity.object ? kinds - 1 : kindOf(entity.object);
        if (kind < 0) {
            Method** added = objects.at(kinds);
            float* radius = radii.at(kinds);
            if (!added || !radius)
                return false;
            *added = entity.object;
            *radius = entity.object ? entity.object->radius() : 0.0f;
            kind = kinds++;
        }
        circles.data()[index] = {entity.position.x, entity.position.z, radii.data()[kind] * entity.scale};
        slots.data()[index] = {entity.scale, kind};
        entities.data()[index] = &entity;
        entity.groundSlot = index;
    }
    count = index;
    valid = true;
    return true;
}

void StaticEntityManager::GroundSlots::take(const StaticEntity& entity)
{
    const int32_t i = entity.groundSlot;
    if (!valid || i < 0 || i >= count || entities.data()[i] != &entity) {
        valid = false;
        return;
    }
    const int32_t kind = kindOf(entity.object);
    if (kind < 0) {
        valid = false;
        return;
    }
    circles.data()[i] = {entity.position.x, entity.position.z, radii.data()[kind] * entity.scale};
    slots.data()[i] = {entity.scale, kind};
}

bool StaticEntityManager::GroundSlots::find(const CircleQuery& query, Callback& callback)
{
    // An object whose radius changed since the circles were made (its
    // package was built anew) gives its entities their radii again.
    bool changed = false;
    for (int32_t k = 0; k < kinds; ++k) {
        const float radius = objects.data()[k] ? objects.data()[k]->radius() : 0.0f;
        if (!(radius == radii.data()[k])) {
            radii.data()[k] = radius;
            changed = true;
        }
    }
    Circle* circle = circles.data();
    if (changed)
        for (int32_t i = 0; i < count; ++i)
            circle[i].radius = radii.data()[slots.data()[i].kind] * slots.data()[i].scale;
    // A block of circles is tested at once, then its hits are called back
    // in order.
    constexpr int32_t block = 64;
    for (int32_t first = 0; first < count; first += block) {
        const int32_t n = std::min(block, count - first);
        uint64_t hits = 0;
        for (int32_t j = 0; j < n; ++j) {
            const Circle& c = circle[first + j];
            const float dx = c.x - query.x, dz = c.z - query.z;
            const float reach = query.radius + c.radius;
            hits |= uint64_t(dx * dx + dz * dz <= reach * reach) << j;
        }
        while (hits) {
            const int32_t j = std::countr_zero(hits);
            hits &= hits - 1;
            if (callback.found(*entities.data()[first + j]) != 0)
                return true;
        }
    }
    return false;
}

uint32_t StaticEntityManager::findInSphere(const SphereQuery& query, Callback& callback)
{
    walkAll(
        root,
        [&](const Octree& node) {
            const float reach = node.bounds.radius + query.radius;
            return (node.bounds.center - query.centre).lengthSq() <= reach * reach;
        },
        [&](StaticEntity& entity) { return callback.found(entity) != 0; });
    return 0;
}

bool StaticEntityManager::collectTouchingBox(const OrientedBox& box, SCList<StaticEntity>& list)
{
    list.clear(false);
    walkAll(
        root,
        [&](const Octree& node) {
            OrientedBox cell;
            cell.center = node.bounds.center;
            cell.axes[0] = {1.0f, 0.0f, 0.0f};
            cell.axes[1] = {0.0f, 1.0f, 0.0f};
            cell.axes[2] = {0.0f, 0.0f, 1.0f};
            cell.halfExtents = (node.bounds.maximum - node.bounds.minimum) * 0.5f;
            return OrientedBox::overlaps(cell, box);
        },
        [&](StaticEntity& entity) {
            list.append(&entity);
            return false;
        });
    return list.count() > 0;
}

bool StaticEntityManager::collectInVolume(const ConvexVolume& volume, DynArray<StaticEntity*>& out, int32_t& count,
                                          const Method* object)
{
    count = 0;
    walkAll(
        root, [&](const Octree& node) { return volume.classifyBox(node.bounds) != ConvexVolume::outside; },
        [&](StaticEntity& entity) {
            if ((object && entity.object != object) ||
                volume.classifyPoint(entity.position) == ConvexVolume::outside)
                return false;
            if (StaticEntity** slot = out.at(count)) {
                *slot = &entity;
                ++count;
            }
            return false;
        });
    return count > 0;
}

void StaticEntityManager::collectByObject(const Octree* node, const Method* object, SCList<StaticEntity>& list)
{
    if (!node)
        return;
    for (auto* item = node->items.head(); item; item = item->next)
        if (item->item->object == object)
            list.append(item->item);
    for (const Octree* child : node->children)
        collectByObject(child, object, list);
}
