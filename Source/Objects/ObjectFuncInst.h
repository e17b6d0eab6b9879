#pragma once
// The base of every object-function instance: the per-object part of one
// function kind (a spin, a pick-up, a vehicle, a head-up display) that a
// dynamic object carries under the kind's flag bit. The dynamic object
// forwards its frame, render, alpha and collision calls to its instances in
// the order they were added; every operation does nothing unless the kind
// overrides it.
//
// Threads: onCollision runs on the physics thread inside a step and only
// records what happened (in atomic words or a bounded queue) for the main
// thread's next frame; sounds, damage, display and inventory effects happen
// there. Every other operation runs on the main thread.

#include "Objects/ObjPkgManager.h"

#include "Entity/SubEntity.h"
#include "Physics/EntityPhysics.h"

#include "Core/Matrix.h"

class ObjectFuncInstInterface
{
public:
    ObjectFuncInstInterface() = default;
    virtual ~ObjectFuncInstInterface() = default;
    ObjectFuncInstInterface(const ObjectFuncInstInterface&) = delete;
    ObjectFuncInstInterface& operator=(const ObjectFuncInstInterface&) = delete;

    // Once, after the object made its instances.
    virtual void onLoaded() {}
    // The entity update, once per frame before rendering.
    virtual void frameStep() {}
    // The entity's prepare, once per frame.
    virtual void update() {}
    // True: the object's prepare does not move the entity (the instance
    // places it itself).
    virtual bool replacesEntityUpdate() { return false; }
    // Before the object is drawn, also for the shadow casters.
    virtual void prepareRender() {}
    // The device was restored or the window resized.
    virtual void redraw() {}
    virtual void setAlpha(float alpha) { (void)alpha; }
    // Physics thread: one contact of the object's body.
    virtual void onCollision(EntityManager::Physics::Collision& contact) { (void)contact; }
    // The object's shadow, when its kind draws one of its own (flag 0x200).
    virtual void renderShadowCaster(const matrix3d& transform) { (void)transform; }
    // Around the object's draw, with the object's transform.
    virtual void beforeRender(const matrix3d& transform) { (void)transform; }
    virtual void afterRender(const matrix3d& transform) { (void)transform; }
    // Drawn on another part's request outside the scene passes (the head-up
    // display has the compass draw its arrow).
    virtual void drawOnRequest() {}
};

// Whoever gives an object's meshes shader constants of their own (the
// vehicle instance on its quad): called before each of the object's
// sub-entities is drawn, with the sub-entity and its render states.
class ObjPkgManager::ShaderInterface
{
public:
    virtual void setShaderConstants(EntityManager::SubEntity& sub, Shader& shader) = 0;

protected:
    ~ShaderInterface() = default;
};
