#include "Physics/EntityPhysics.h"

#include "Physics/PhysicsManager.h"
#include "Physics/PhysicsNoise.h"

#include "Entity/Entity.h"
#include "Entity/MeshOctree.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"

#include <cmath>
#include <new>

namespace {

// A sync copies the pose when any row (an axis or the position) moved by
// this much in total over x, y and z, or the body moves this fast.
constexpr float rowTolerance = 0.005f;
constexpr float speedTolerance = 0.08f;

float lengthOf(const vec3d& v)
{
    const float squared = v.lengthSq();
    return squared > 0.0f ? fastSqrt(squared) : 0.0f;
}

}

void EntityManager::Physics::RigidBody::onControllerStep(neController* record, float)
{
    vec3d force, torque;
    Controller* const* list = controllers.data();
    for (uint32_t i = 0; list && i < controllerCount; ++i) {
        Controller* c = list[i];
        if (!c)
            continue;
        c->step(body);
        force += c->force;
        torque += c->torque;
    }
    record->force = force;
    record->torque = torque;
}

bool EntityManager::Physics::RigidBody::addController(Controller* added)
{
    Controller** slot = controllers.at(int32_t(controllerCount));
    if (!slot)
        return false;
    *slot = added;
    ++controllerCount;
    return true;
}

bool EntityManager::Physics::RigidBody::removeController(Controller* removed)
{
    Controller** list = controllers.data();
    for (uint32_t i = 0; list && i < controllerCount; ++i) {
        if (list[i] != removed)
            continue;
        for (uint32_t k = i + 1; k < controllerCount; ++k)
            list[k - 1] = list[k];
        list[--controllerCount] = nullptr;
        return true;
    }
    return false;
}

EntityManager::Physics::Physics(Entity& entity, float mass) : owner(&entity)
{
    CRASH_TRACE();
    // The entity's parts leave the contact walk (once it holds the record).
    EntityManager::MeshOctree::noteContactChange();
    EntityManager* entities = entity.manager;
    manager_ = entities ? entities->physicsManager.get() : nullptr;
    if (!manager_ || !manager_->simulator || manager_->rigidBodyBudget <= 0)
        return;
    --manager_->rigidBodyBudget;
    RigidBody* wrapper = new (std::nothrow) RigidBody;
    neSimulator& simulator = *manager_->simulator;
    if (wrapper && (wrapper->body = simulator.createRigidBody()) != nullptr)
        wrapper->controller = wrapper->body->addController(wrapper);
    if (wrapper && wrapper->controller)
        listNode = manager_->entities.append(this);
    if (!listNode) {
        // No body to be had: the record stays without one, the unit goes back.
        if (wrapper && wrapper->body)
            simulator.freeBody(wrapper->body);
        delete wrapper;
        ++manager_->rigidBodyBudget;
        return;
    }
    rigidBody = wrapper;
    neRigidBody& body = *wrapper->body;
    body.mass = mass;
    body.inverseMass = 1.0f / mass;
    body.owner[0] = entities;
    body.owner[1] = this;
}

EntityManager::Physics::~Physics()
{
    release();
    // The entity's parts may take part in the contact walk again.
    EntityManager::MeshOctree::noteContactChange();
}

void EntityManager::Physics::release()
{
    delete noise;
    noise = nullptr;
    if (listNode) {
        listNode->owner->unlink(listNode);
        listNode = nullptr;
    }
    if (rigidBody) {
        if (manager_->simulator)
            manager_->simulator->freeBody(rigidBody->body);
        delete rigidBody;
        rigidBody = nullptr;
        ++manager_->rigidBodyBudget;
    }
}

void EntityManager::Physics::update()
{
    if (!rigidBody)
        return;
    unchanged = 1;
    Controller* const* list = rigidBody->controllers.data();
    for (uint32_t i = 0; list && i < rigidBody->controllerCount; ++i)
        if (list[i])
            list[i]->sync(*rigidBody->body);
    if (noise)
        noise->update();
    neRigidBody& body = *rigidBody->body;
    matrix3d t = *body.getTransform();
    t.m[3] = t.m[7] = t.m[11] = 0.0f;
    t.m[15] = 1.0f;

    bool still = forceSync == 0 && lengthOf(body.velocity) < speedTolerance &&
                 lengthOf(body.angularVelocity) < speedTolerance;
    for (int row = 0; still && row < 4; ++row) {
        const float moved = std::fabs(t.at(row, 0) - pose.at(row, 0)) + std::fabs(t.at(row, 1) - pose.at(row, 1)) +
                            std::fabs(t.at(row, 2) - pose.at(row, 2));
        still = moved < rowTolerance;
    }
    if (still)
        return;

    pose = t;
    unchanged = 0;
    forceSync = 0;
    if (scale.x != 1.0f || scale.y != 1.0f || scale.z != 1.0f) {
        t.setRow(0, t.row(0) * scale.x);
        t.setRow(1, t.row(1) * scale.y);
        t.setRow(2, t.row(2) * scale.z);
    }
    owner->world = t;
    owner->onMoved();
}
