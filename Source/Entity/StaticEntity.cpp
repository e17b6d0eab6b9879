#include "Entity/StaticEntity.h"

#include "Landscape/Terrain.h"

#include "Core/CrashTrace.h"
#include "Core/FileInterface.h"
#include "Core/Math.h"

#include <cfloat>
#include <cmath>

uint32_t StaticEntity::nextId = 0;

namespace {

enum Tag : uint8_t { End = 0, Name, Position, Scale, HeightOffset, Rotation, State, Flag };

bool sound(float v, float limit)
{
    return std::isfinite(v) && std::fabs(v) <= limit;
}

}

StaticEntity::StaticEntity() : id(nextId++) {}

StaticEntity::~StaticEntity()
{
    removeFromOctree();
}

void StaticEntity::getTransform(matrix3d& transform, bool unscaled) const
{
    const float s = unscaled ? 1.0f : scale;
    transform.m[0] = s;
    transform.m[5] = s;
    transform.m[10] = s;
    transform.m[12] = position.x;
    transform.m[13] = position.y;
    transform.m[14] = position.z;
}

void StaticEntity::remove()
{
    removeFromOctree();
    object = nullptr;
    if (instance)
        destroyInstance(instance);
    instance = nullptr;
    position = vec3d();
    scale = 1.0f;
}

void StaticEntity::setObject(Method* shown)
{
    object = shown;
    if (node)
        node->ground.take(*this);
}

void StaticEntity::setPosition(const vec3d& at, bool moveInstance)
{
    if (!object)
        return;
    position = at;
    if (node)
        node->ground.take(*this);
    if (moveInstance && instance) {
        object->applyTransform(*this);
        instance->markSubEntitiesMoved();
    }
    StaticEntityManager* manager = object->manager();
    if (!manager)
        return;
    const float edge = manager->cellSize;
    const int32_t key[3] = {SceneCells::floored(at.x, edge), SceneCells::floored(at.y, edge),
                            SceneCells::floored(at.z, edge)};
    if (node && key[0] == cellKey[0] && key[1] == cellKey[1] && key[2] == cellKey[2])
        return;
    // An entity of another manager's tree moves over whole.
    if (node && placedIn != manager)
        removeFromOctree();
    CellBox cells;
    for (int a = 0; a < 3; ++a)
        cells.minimum[a] = cells.maximum[a] = key[a];
    StaticEntityManager::Octree** rootSlot = node ? manager->rootSlotOf(node) : &manager->root;
    if (!rootSlot)
        return;
    // Both nodes' lists change: first the one left, which may be pruned.
    if (node)
        node->ground.markStale();
    if (!StaticEntityManager::Octree::place(*rootSlot, cells, edge, true, this, node, listNode))
        return;
    node->ground.markStale();
    placedIn = manager;
    for (int a = 0; a < 3; ++a)
        cellKey[a] = key[a];
}

void StaticEntity::removeFromOctree()
{
    if (node)
        node->ground.markStale();
    if (node && listNode) {
        StaticEntityManager::Octree** rootSlot = placedIn ? placedIn->rootSlotOf(node) : nullptr;
        if (rootSlot) {
            StaticEntityManager::Octree::remove(*rootSlot, node, listNode);
        } else {
            // A tree nobody is known to hold: leave it, prune nothing.
            node->items.unlink(listNode);
        }
    }
    node = nullptr;
    listNode = nullptr;
    placedIn = nullptr;
    groundSlot = -1;
    for (int32_t& k : cellKey)
        k = CellBox::unplaced;
}

StaticEntity::Bounds StaticEntity::getBounds() const
{
    const float r = radius();
    return {position.x, position.z, r, r * r};
}

float StaticEntity::radius() const
{
    return object ? object->radius() * scale : 0.0f;
}

uint32_t StaticEntityManager::Method::applyTransform(StaticEntity& entity)
{
    return entity.instance ? entity.instance->place(entity, entity.instance->world) : 0;
}

Object::~Object()
{
    if (instance)
        destroyInstance(instance);
    instance = nullptr;
}

vec3d Object::getPosition() const
{
    return {position.x, position.y + heightOffset, position.z};
}

StaticEntity::Instance* Object::createInstance()
{
    CRASH_TRACE();
    Instance* made = buildInstance();
    if (!made)
        return nullptr;
    if (state == instanceFlagged)
        made->flagged = 1;
    if (observer)
        observer->instanceCreated(*made);
    return made;
}

void Object::destroyInstance(Instance* live)
{
    delete live;
}

bool Object::save(FileInterface& out) const
{
    const String empty(L"");
    bool ok = out.writeValue(uint8_t(Name)) && out.writeString(object ? object->name : empty);
    ok = ok && out.writeValue(uint8_t(Position)) && out.writeValue(position);
    ok = ok && out.writeValue(uint8_t(Scale)) && out.writeValue(scale);
    ok = ok && out.writeValue(uint8_t(HeightOffset)) && out.writeValue(heightOffset);
    ok = ok && out.writeValue(uint8_t(Rotation)) && out.writeValue(rotation);
    ok = ok && out.writeValue(uint8_t(State)) && out.writeValue(levelState >= 0 ? uint8_t(levelState) : state);
    ok = ok && out.writeValue(uint8_t(Flag)) && out.writeValue(flag);
    return ok && out.writeValue(uint8_t(End));
}

bool Object::load(StaticEntityManager::PackageFinder* packages, FileInterface& in)
{
    String name(L"");
    vec3d at = position;
    recordEnded = false;
    for (;;) {
        uint8_t tag = End;
        if (!in.readValue(tag))
            break;
        if (tag == End) {
            recordEnded = true;
            break;
        }
        bool read = true;
        switch (tag) {
        case Name: read = in.readString(name); break;
        case Position: read = in.readValue(at); break;
        case Scale: read = in.readValue(scale); break;
        case HeightOffset: read = in.readValue(heightOffset); break;
        case Rotation: read = in.readValue(rotation); break;
        case State: read = in.readValue(state); break;
        case Flag: read = in.readValue(flag); break;
        default: break; // no field to skip
        }
        if (!read)
            break;
    }
    Method* package = packages ? packages->findPackage(name) : nullptr;
    // A y at the lowest float marks an object taken out of the level; values
    // no cell or transform can hold are not placed either.
    const bool placeable = at.y > -FLT_MAX && sound(at.x, StaticEntityManager::maxCoordinate) &&
                           sound(at.y, StaticEntityManager::maxCoordinate) &&
                           sound(at.z, StaticEntityManager::maxCoordinate) &&
                           sound(scale, StaticEntityManager::maxScale) && std::isfinite(rotation) &&
                           sound(heightOffset, StaticEntityManager::maxCoordinate);
    if (!placeable) {
        remove();
        return false;
    }
    if (!package)
        return false;
    setObject(package);
    setPosition(at, false);
    levelState = state;
    return node != nullptr;
}

void Object::getTransform(matrix3d& transform, bool unscaled) const
{
    const float s = unscaled ? 1.0f : scale;
    transform = matrix3d::identity();
    if (object && object->terrainAligned && gTerrain.isLoaded()) {
        // Up along the ground's normal, the first axis across the slope.
        vec3d normal;
        gTerrain.getHeight(position.x, position.z, 3, normal);
        normal = normal.normalised();
        const vec3d across = normal.cross({0.0f, 0.0f, 1.0f}).normalised();
        const vec3d along = across.cross(normal).normalised();
        transform.setRow(0, across * s);
        transform.setRow(1, normal * s);
        transform.setRow(2, along * s);
    } else {
        for (int i = 0; i < 3; ++i)
            transform.at(i, i) = s;
    }
    if (rotation != 0.0f) {
        const float angle = rotation * 3.14159265358979f / 180.0f;
        const float c = floatCos(angle), n = floatSin(angle);
        for (int column = 0; column < 4; ++column) {
            const float r0 = transform.at(0, column), r2 = transform.at(2, column);
            transform.at(0, column) = c * r0 - n * r2;
            transform.at(2, column) = n * r0 + c * r2;
        }
    }
    transform.setRow(3, getPosition());
}

void Object::remove()
{
    StaticEntity::remove();
    rotation = 0.0f;
    heightOffset = -0.1f;
}
