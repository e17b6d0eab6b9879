#include "Entity/CollisionBody.h"

#include "Physics/neRigidBody.h"
#include "Physics/neRigidBodyBase.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace {

vec3d extentsOf(const BoundingBox& bounds)
{
    return bounds.maximum - bounds.minimum;
}

}

EntityManager::CollisionBody::~CollisionBody()
{
    releaseBarriers();
}

EntityManager::CollisionBody::Geometry* EntityManager::CollisionBody::addGeometry(GeometryInterface* first,
                                                                                  GeometryInterface* second)
{
    Geometry* geometry = new (std::nothrow) Geometry(*this, first, second);
    if (!geometry)
        return nullptr;
    if (rigidBody || animatedBody)
        geometry->attach();
    if (!(geometry->listNode = geometries.append(geometry))) {
        delete geometry;
        return nullptr;
    }
    return geometry;
}

void EntityManager::CollisionBody::attachToBody(neRigidBody* body)
{
    if (rigidBody || !body)
        return;
    // Geometries on the body given up leave it first.
    for (auto* node = geometries.head(); node; node = node->next)
        node->item->dropEngineGeometry();
    rigidBody = body;
    animatedBody = nullptr;
    for (auto* node = geometries.head(); node; node = node->next)
        node->item->attach();
    updateRigidBody();
}

void EntityManager::CollisionBody::attachToAnimatedBody(neAnimatedBody* body)
{
    if (animatedBody || !body)
        return;
    for (auto* node = geometries.head(); node; node = node->next)
        node->item->dropEngineGeometry();
    rigidBody = nullptr;
    animatedBody = body;
    for (auto* node = geometries.head(); node; node = node->next)
        node->item->attach();
}

void EntityManager::CollisionBody::syncTransforms()
{
    for (auto* node = geometries.head(); node; node = node->next)
        node->item->sync();
}

void EntityManager::CollisionBody::updateRigidBody()
{
    if (animatedBody && !rigidBody) {
        animatedBody->updateBounds();
        return;
    }
    if (!rigidBody || geometries.count() == 0)
        return;
    vec3d low, high;
    bool first = true;
    for (auto* node = geometries.head(); node; node = node->next) {
        OrientedBox shape;
        node->item->fillShapeDesc(shape);
        vec3d minimum, maximum;
        shape.alignedBounds(minimum, maximum);
        if (first) {
            low = minimum;
            high = maximum;
            first = false;
            continue;
        }
        for (int a = 0; a < 3; ++a) {
            low[a] = std::min(low[a], minimum[a]);
            high[a] = std::max(high[a], maximum[a]);
        }
    }
    const vec3d half = (high - low) * 0.5f;
    rigidBody->setInertiaTensor(cubeInertiaTensor(half.x, half.y, half.z, rigidBody->mass));
    rigidBody->updateBounds();
}

void EntityManager::CollisionBody::clear()
{
    geometries.clearWith([](Geometry* geometry) {
        geometry->listNode = nullptr;
        delete geometry;
    });
}

EntityManager::CollisionBody::Geometry::Geometry(CollisionBody& body, Interface* firstSource, Interface* secondSource)
    : owner(&body), first(firstSource), second(secondSource)
{
}

EntityManager::CollisionBody::Geometry::~Geometry()
{
    detach();
}

bool EntityManager::CollisionBody::Geometry::attach()
{
    if (!engineGeometry) {
        if (owner->rigidBody)
            engineGeometry = owner->rigidBody->addGeometry();
        else if (owner->animatedBody)
            engineGeometry = owner->animatedBody->addGeometry();
    }
    return engineGeometry != nullptr;
}

void EntityManager::CollisionBody::Geometry::detach()
{
    dropEngineGeometry();
    first = nullptr;
    second = nullptr;
}

void EntityManager::CollisionBody::Geometry::dropEngineGeometry()
{
    if (engineGeometry) {
        // The geometry is on one of the two; the other answers 0.
        if (!(owner->rigidBody && owner->rigidBody->removeGeometry(engineGeometry)) && owner->animatedBody)
            owner->animatedBody->removeGeometry(engineGeometry);
    }
    engineGeometry = nullptr;
}

void EntityManager::CollisionBody::Geometry::setBox(const BoundingBox& bounds)
{
    type = box;
    size = extentsOf(bounds);
    position = bounds.center;
    updateLocalTransform();
}

void EntityManager::CollisionBody::Geometry::setSphere(const BoundingBox& bounds)
{
    type = sphere;
    const vec3d extents = extentsOf(bounds);
    diameter = std::max(extents.x, std::max(extents.y, extents.z));
    position = bounds.center;
    updateLocalTransform();
}

void EntityManager::CollisionBody::Geometry::fillShapeDesc(OrientedBox& out)
{
    fetchParameters();
    updateLocalTransform();
    out.center = local.row(3);
    for (int a = 0; a < 3; ++a)
        out.axes[a] = local.row(a);
    const float radius = diameter * 0.5f;
    switch (type) {
    case box: out.halfExtents = size * 0.5f; break;
    case sphere: out.halfExtents = {radius, radius, radius}; break;
    case cylinder: out.halfExtents = {radius, height * 0.5f, radius}; break;
    default: out.halfExtents = vec3d(); break;
    }
}

void EntityManager::CollisionBody::Geometry::sync()
{
    fetchParameters();
    updateLocalTransform();
    if (!engineGeometry)
        return;
    switch (type) {
    case box: engineGeometry->setBoxSize(size.x, size.y, size.z); break;
    case sphere: engineGeometry->setSphere(diameter * 0.5f); break;
    case cylinder: engineGeometry->setCylinder(diameter * 0.5f, height * 0.5f); break;
    default: break;
    }
    engineGeometry->transform = local;
}

void EntityManager::CollisionBody::Geometry::fetchParameters()
{
    if (!first)
        return;
    float block[13] = {position.x, position.y, position.z, angles.x, angles.y, angles.z, size.x,
                       size.y,     size.z,     diameter,   height,   spare,    0.0f};
    first->adjust(type, block);
    if (second)
        second->adjust(type, block);
    position = {block[0], block[1], block[2]};
    angles = {block[3], block[4], block[5]};
    size = {block[6], block[7], block[8]};
    diameter = block[9];
    height = block[10];
    spare = block[11];
}

void EntityManager::CollisionBody::Geometry::updateLocalTransform()
{
    // The turn of the angles as the skeleton keeps them: Ry(y) Rx(x) Rz(z).
    local = matrix3d::fromAngles(angles);
    local.setRow(3, position);
}
