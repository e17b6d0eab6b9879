#include "Objects/DynObject.h"

#include "Objects/Bush.h"
#include "Objects/Cloths.h"
#include "Objects/CollectGate.h"
#include "Objects/Compass.h"
#include "Objects/Fire.h"
#include "Objects/Inventory.h"
#include "Objects/OilPuddle.h"
#include "Objects/Rocket.h"
#include "Objects/ObjectFunctions.h"
#include "Objects/ObjectPackage.h"
#include "Objects/PackageMesh.h"
#include "Objects/Spin.h"

#include "Vehicle/QuadInstance.h"

#include "Entity/SubEntity.h"
#include "Landscape/Scene.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Render/Camera.h"
#include "Render/SwapChain.h"
#include "Render/TextureDevice.h"

#include "Core/CrashTrace.h"
#include "Core/Math.h"
#include "Core/Timer.h"

#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr uint8_t distanceHidden = 254;
// Without a camera to measure from, the camera's range is this.
constexpr float defaultCameraRange = 1800.0f;

bool isIdentity(const matrix3d& m)
{
    const matrix3d one = matrix3d::identity();
    for (int i = 0; i < 16; ++i)
        if (m.m[i] != one.m[i])
            return false;
    return true;
}

// The rotation of a view matrix, transposed, without its translation.
matrix3d viewRotationTransposed(const matrix3d& view)
{
    matrix3d m = matrix3d::identity();
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            m.m[row * 4 + column] = view.m[column * 4 + row];
    return m;
}

// Each axis row of a non-zero length scaled to length 1.
matrix3d normalisedRows(matrix3d m)
{
    for (int row = 0; row < 3; ++row) {
        const vec3d axis = m.row(row);
        const float length = std::sqrt(axis.lengthSq());
        if (length > 0.0f)
            m.setRow(row, axis * (1.0f / length));
    }
    return m;
}

}

DynObject::DynObject(Object& placed, EntityManager& entities)
    : Instance(entities), object(&placed), package(dynamic_cast<ObjPkgManager::Package*>(placed.getObject())),
      functions(new (std::nothrow) FunctionManager(this))
{
    load();
}

DynObject::~DynObject()
{
    CRASH_TRACE();
    // No contact pass walks the entities while this one goes.
    EntityManager::Change change(manager);
    delete functions;
    functions = nullptr;
    if (physics && manager)
        manager->physicsManager->waitForStepEnd();
    if (package) {
        package->objectScale = 1.0f;
        // The package's geometries forget the records of this body.
        for (auto* node = package->meshes.head(); node; node = node->next)
            node->item->forgetBody(body);
    }
    body.clear();
    clear();
    if (manager && listNode) {
        manager->entities.unlink(listNode);
        listNode = nullptr;
    }
}

void DynObject::load()
{
    CRASH_TRACE();
    // No contact pass walks the entities while this one takes shape.
    EntityManager::Change change(manager);
    if (package) {
        Scene* scene = package->owner ? package->owner->owner : nullptr;
        package->build(scene ? &scene->lightTexture : nullptr);
    }
    int32_t geometries = 0;
    if (package)
        for (auto* node = package->meshes.head(); node; node = node->next)
            if (node->item->collisionEnabled)
                geometries += node->item->geometries.count();
    needsBody = geometries > 0 ? 1 : 0;
    createSubEntities();
    if (functions)
        functions->prepare();
    if (package) {
        const D3D::Device::SwapChain* chain = package->getSwapChain();
        const float reach = package->functions.value20 * (chain ? chain->range : defaultCameraRange);
        shadowRangeSq = reach * reach;
    }
    if (!placementIsSound()) {
        // Nothing sound to draw or to simulate: a zero, negative or
        // non-finite scale, or a position beyond numbers.
        unplaced = 1;
        hidden = 1;
    } else if (geometries < 1) {
        object->getTransform(world, false);
        onMoved();
    } else {
        manager->physicsManager->waitForStepEnd();
        onMoved();
        if (!setupPhysics()) {
            // Past the rigid-body budget the object is not shown.
            hidden = 1;
            return;
        }
        neRigidBody* rigid = physics->rigidBody->body;
        rigid->mass = package->physics.mass;
        rigid->inverseMass = 1.0f / package->physics.mass;
        package->objectScale = object->scale;
        package->addGeometriesTo(body, this);
        body.attachToBody(rigid);
        body.syncTransforms();
        body.updateRigidBody();
        physics->forceSync = 1;
        physics->scale = {object->scale, object->scale, object->scale};
        physics->collisionHandler = &DynObject::onContact;
    }
    if (functions) {
        functions->createInstances();
        for (int32_t i = 0; i < functions->count; ++i)
            functions->entries.at(i)->instance->onLoaded();
    }
    previousPosition = world.row(3);
}

bool DynObject::placementIsSound() const
{
    if (!object || !(object->scale > 0.0f) || !std::isfinite(object->scale))
        return false;
    matrix3d transform = matrix3d::identity();
    object->getTransform(transform, false);
    for (float value : transform.m)
        if (!std::isfinite(value))
            return false;
    return true;
}

bool DynObject::setupPhysics()
{
    if (!manager || !manager->physicsManager)
        return false;
    if (!physics)
        physics = new (std::nothrow) EntityManager::Physics(*this, 1.0f);
    if (!physics || !physics->rigidBody || !physics->rigidBody->body) {
        // A record without a body holds nothing: its budget goes back.
        delete physics;
        physics = nullptr;
        return false;
    }
    matrix3d pose = matrix3d::identity();
    object->getTransform(pose, false);
    physics->rigidBody->body->setPose(normalisedRows(pose));
    // The body's pose is unscaled; the entity's matrix carries the placed
    // scale from this first sync on, not only once the thread has stepped.
    physics->scale = {object->scale, object->scale, object->scale};
    physics->update();
    return true;
}

void DynObject::createSubEntities()
{
    if (!package)
        return;
    const Scene* scene = package->owner ? package->owner->owner : nullptr;
    const EnvMap* environment = scene ? &scene->envMap : nullptr;
    for (auto* node = package->meshes.head(); node; node = node->next) {
        ObjPkgManager::Mesh* mesh = node->item;
        if (Tree* tree = mesh->tree.get()) {
            addTree(*mesh, *tree);
            continue;
        }
        const bool ownMatrix = !isIdentity(mesh->world);
        // A boned mesh is posed per object (a quad's rider): it gets a buffer
        // of its own rather than the one shared by name.
        const bool posedHere = mesh->getBoneAnim()->hasBones();
        EntityManager::SubEntity* sub = addStoredMesh(*mesh, posedHere, ownMatrix, nullptr, nullptr);
        if (!sub)
            continue;
        if (ownMatrix)
            sub->local = mesh->world;
        // The sub-entity's own copy of the texture, which an instance may
        // repaint (the quad's colours).
        sub->material.textures[0] = *mesh->getTexture();
        sub->recordStates = [this, mesh, environment](Shader& state) { recordSubEntityStates(*mesh, environment, state); };
        sub->beforeDraw = [this, sub](Shader& state) { renderSubEntity(*sub, state); };
        sub->castsShadow = mesh->shader.castShadow ? 1 : 0;
        sub->recordStateBlocks();
    }
}

void DynObject::addTree(const ObjPkgManager::Mesh& mesh, Tree& tree)
{
    const bool ownMatrix = !isIdentity(mesh.world);
    Tree* owner = &tree;
    EntityManager::SubEntity* trunk = tree.addEntities(
        *this, tree.lod, ownMatrix ? &mesh.world : nullptr, [owner](Shader& state) { owner->setTrunkMaterial(state); },
        [owner](Shader& state, Tree::Foliage& leaves) {
            owner->setFoliageMaterial(state, leaves);
            // Supersampled alpha testing for the leaves' cut-out edges, where
            // the driver offers it; the state block undoes it after the draw.
            if (gDevice)
                gDevice->SetRenderState(D3DRS_ADAPTIVETESS_Y, MAKEFOURCC('S', 'S', 'A', 'A'));
        });
    if (!trunk)
        return;
    trunk->layer = trunkLayer;
    auto* third = trunk->entityEntry && trunk->entityEntry->next ? trunk->entityEntry->next->next : nullptr;
    trunk->noProjection = 1;
    if (third)
        third->item->noProjection = 1;
}

void DynObject::recordSubEntityStates(const ObjPkgManager::Mesh& mesh, const EnvMap* environment, Shader& state) const
{
    mesh.shader.apply(environment, &state);
    state.material = mesh.shader.material;
    if (alphaSet) {
        state.material.Diffuse.a = state.material.Ambient.a = alpha;
        state.material.Specular.a = state.material.Emissive.a = alpha;
    }
    IDirect3DDevice9* device = gDevice;
    if (!device)
        return;
    device->SetMaterial(&state.material);
    // Faded below full alpha, the object blends over what lies behind it
    // and leaves the target's alpha alone, as a translucent material does.
    if (alphaSet && alpha < 1.0f) {
        device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        device->SetRenderState(D3DRS_COLORWRITEENABLE,
                               D3DCOLORWRITEENABLE_RED | D3DCOLORWRITEENABLE_GREEN | D3DCOLORWRITEENABLE_BLUE);
    }
    TextureDevice::bindTexture(0, state.textures[0].texture());
    // A second texture is laid over by its own alpha on stage 2, which the
    // reflection on stage 1 leaves free.
    if (state.textures[overlaySlot].isBound()) {
        // Without a reflection stage 1 passes the colour on, so that stage 2
        // is reached.
        if (!state.reflection) {
            device->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
            device->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
            device->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
            device->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        }
        TextureDevice::bindTexture(2, state.textures[overlaySlot].texture());
        device->SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_BLENDTEXTUREALPHA);
        device->SetTextureStageState(2, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(2, D3DTSS_COLORARG2, D3DTA_CURRENT);
        device->SetTextureStageState(2, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
        device->SetTextureStageState(2, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        device->SetTextureStageState(2, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
        device->SetTextureStageState(2, D3DTSS_TEXCOORDINDEX, 0);
    }
}

void DynObject::renderSubEntity(EntityManager::SubEntity& sub, Shader& state)
{
    if (IDirect3DDevice9* device = gDevice; device && gCamera) {
        // Reflections come out of the camera's space: the transposed view
        // rotation turns them into the world's, where the cube map lies.
        const matrix3d toWorld = viewRotationTransposed(gCamera->view);
        device->SetTransform(D3DTS_TEXTURE1, reinterpret_cast<const D3DMATRIX*>(toWorld.m));
    }
    if (shaderInterface)
        shaderInterface->setShaderConstants(sub, state);
}

uint32_t DynObject::place(StaticEntity& entity, matrix3d& transform)
{
    if (!placementIsSound()) {
        unplaced = 1;
        hidden = 1;
        return 0;
    }
    // Sound again: shown, unless it has geometry but never got a body.
    if (unplaced && (physics || !needsBody))
        hidden = 0;
    unplaced = 0;
    entity.getTransform(transform, false);
    if (physics && physics->rigidBody && physics->rigidBody->body) {
        manager->physicsManager->waitForStepEnd();
        physics->rigidBody->body->setPose(normalisedRows(transform));
        physics->forceSync = 1;
    }
    onMoved();
    return 1;
}

void DynObject::update()
{
    if (functions)
        functions->callFrameStep();
}

void DynObject::prepare()
{
    if (object && package && object->state == distanceHidden) {
        const vec3d camera = currentCameraPosition();
        const float dx = world.m[12] - camera.x, dz = world.m[14] - camera.z;
        hidden = dx * dx + dz * dz > package->rangeSq ? 1 : 0;
    }
    if (package && package->functions.alwaysShown)
        hidden = package->functions.hiddenOverride;
    if (unplaced)
        hidden = 1;
    if (functions) {
        functions->callUpdate();
        // An entity that stayed where it was placed last has nothing to
        // recompute.
        if (!functions->anyReplacesEntityUpdate() && std::memcmp(&world, &preparedWorld, sizeof(world)) != 0) {
            onMoved();
            preparedWorld = world;
        }
    }
    previousPosition = world.row(3);
}

void DynObject::prepareRender()
{
    // Without instances nothing moved since the prepare.
    if (!functions || functions->count == 0)
        return;
    functions->callPrepareRender();
    onMoved();
}

bool DynObject::renderShadowCaster()
{
    constexpr uint32_t cloths = 0x200;
    if (!functions || !(functions->mask & cloths))
        return false;
    for (int32_t i = 0; i < functions->count; ++i)
        functions->entries.at(i)->instance->renderShadowCaster(world);
    return true;
}

void DynObject::beforeRender()
{
    if (functions)
        functions->callBeforeRender();
}

void DynObject::afterRender()
{
    if (functions)
        functions->callAfterRender();
}

void DynObject::adjust(int32_t type, float (&parameters)[13])
{
    const float s = object ? object->scale : 1.0f;
    for (int i = 0; i < 3; ++i)
        parameters[i] *= s;
    if (type == EntityManager::CollisionBody::Geometry::box)
        for (int i = 6; i < 9; ++i)
            parameters[i] *= s;
    else if (type == EntityManager::CollisionBody::Geometry::sphere)
        parameters[9] *= s;
}

float DynObject::getSpeed() const
{
    const float distance = fastSqrt((world.row(3) - previousPosition).lengthSq());
    const float factor = gFrameFactor.load();
    return factor != 0.0f ? distance / factor : distance;
}

void DynObject::setAlpha(float value)
{
    alpha = value;
    alphaSet = 1;
    for (auto* node = subEntities.head(); node; node = node->next)
        node->item->recordStateBlocks();
    if (functions)
        functions->callSetAlpha(value);
}

void DynObject::onContact(Entity* owner, EntityManager::Physics::Collision* contact)
{
    auto* self = dynamic_cast<DynObject*>(owner);
    if (self && self->functions && contact)
        self->functions->callOnCollision(*contact);
}

DynObject::FunctionManager::~FunctionManager()
{
    clear();
}

void DynObject::FunctionManager::waitForPhysics() const
{
    if (owner && owner->physics && owner->manager)
        owner->manager->physicsManager->waitForStepEnd();
}

DynObject::FunctionManager::Function* DynObject::FunctionManager::add(uint32_t flag, ObjectFuncInstInterface* instance)
{
    if (mask & flag)
        return find(flag);
    waitForPhysics();
    Function* entry = entries.at(count);
    if (!entry)
        return nullptr;
    entry->instance = instance;
    entry->flag = flag;
    ++count;
    mask |= flag;
    return entry;
}

DynObject::FunctionManager::Function* DynObject::FunctionManager::find(uint32_t flag)
{
    for (int32_t i = 0; i < count; ++i)
        if (Function* entry = entries.at(i); entry->flag == flag)
            return entry;
    return nullptr;
}

void DynObject::FunctionManager::remove(uint32_t flag)
{
    int32_t at = -1;
    for (int32_t i = 0; i < count && at < 0; ++i)
        if (entries.at(i)->flag == flag)
            at = i;
    if (at < 0)
        return;
    waitForPhysics();
    ObjectFuncInstInterface* removed = entries.at(at)->instance;
    for (int32_t i = at; i + 1 < count; ++i)
        *entries.at(i) = *entries.at(i + 1);
    --count;
    *entries.at(count) = Function{};
    mask &= ~flag;
    delete removed;
}

void DynObject::FunctionManager::clear()
{
    if (count > 0)
        waitForPhysics();
    const int32_t n = count;
    count = 0;
    mask = 0;
    for (int32_t i = 0; i < n; ++i) {
        Function* entry = entries.at(i);
        delete entry->instance;
        *entry = Function{};
    }
}

void DynObject::FunctionManager::createInstances()
{
    // Each kind's instances are added here, in this order, as the kinds are
    // built: Spin 0x1, QuadPhysics 0x2, Collect 0x8, Inventory 0x10, Gate
    // 0x40, Compass 0x100, Cloths 0x200, Fire 0x800, Rocket 0x1000,
    // OilPuddle 0x2000, Bush 0x4000. The race adds the opponent driver (AI
    // 0x400) to an opponent's quad, the vehicle camera and head-up display to
    // the player's.
    ObjPkgManager::Functions::Record* record = owner && owner->package ? &owner->package->functions : nullptr;
    if (!record)
        return;
    D3D::Device::SwapChain* chain = owner->package->getSwapChain();
    Scene* scene = owner->package->owner ? owner->package->owner->owner : nullptr;
    // An instance the manager does not take is the caller's to delete.
    const auto take = [this](uint32_t flag, ObjectFuncInstInterface* instance) {
        const Function* entry = instance ? add(flag, instance) : nullptr;
        if (!entry || entry->instance != instance)
            delete instance;
    };
    if (record->spin)
        take(ObjPkgManager::Functions::Spin::flag, record->spin->createInstance(owner));
    if (record->quadPhysics)
        take(quadFlag, ObjPkgManager::Functions::QuadPhysics::createInstance(record->quadPhysics,
                                                                             owner->package->getSwapChain(), owner));
    if (record->collect)
        take(0x8, record->collect->createInstance(owner));
    if (record->inventory)
        take(ObjPkgManager::Functions::Inventory::flag, record->inventory->createInstance(chain, scene, owner));
    if (record->gate)
        take(0x40, record->gate->createInstance(record->swapChain, owner));
    if (record->compass) {
        take(ObjPkgManager::Functions::Compass::flag,
             new (std::nothrow) ObjPkgManager::Functions::Compass(owner->package->getSwapChain(), scene, owner));
    }
    if (record->cloths)
        take(ObjPkgManager::Functions::Cloths::flag, record->cloths->createInstance(chain, owner));
    if (record->fire)
        take(ObjPkgManager::Functions::Fire::flag, record->fire->createInstance(chain, owner));
    if (record->rocket)
        take(ObjPkgManager::Functions::Rocket::flag, record->rocket->createInstance(scene, chain, owner));
    if (record->oilPuddle)
        take(ObjPkgManager::Functions::OilPuddle::flag, record->oilPuddle->createInstance(scene, chain, owner));
    if (record->bush)
        take(ObjPkgManager::Functions::Bush::flag, record->bush->createInstance(chain, scene, owner));
}

void DynObject::FunctionManager::prepare()
{
    if (!owner || !owner->package || !owner->package->functions.markSubEntities)
        return;
    for (auto* node = owner->subEntities.head(); node; node = node->next)
        node->item->layer = -1;
}

void DynObject::FunctionManager::callFrameStep()
{
    for (int32_t i = 0; i < count; ++i)
        entries.at(i)->instance->frameStep();
}

void DynObject::FunctionManager::callUpdate()
{
    for (int32_t i = 0; i < count; ++i)
        entries.at(i)->instance->update();
}

bool DynObject::FunctionManager::anyReplacesEntityUpdate()
{
    for (int32_t i = 0; i < count; ++i)
        if (entries.at(i)->instance->replacesEntityUpdate())
            return true;
    return false;
}

void DynObject::FunctionManager::callPrepareRender()
{
    for (int32_t i = 0; i < count; ++i)
        entries.at(i)->instance->prepareRender();
}

void DynObject::FunctionManager::callRedraw()
{
    for (int32_t i = 0; i < count; ++i)
        entries.at(i)->instance->redraw();
}

void DynObject::FunctionManager::callSetAlpha(float alpha)
{
    for (int32_t i = 0; i < count; ++i)
        entries.at(i)->instance->setAlpha(alpha);
}

void DynObject::FunctionManager::callOnCollision(EntityManager::Physics::Collision& contact)
{
    for (int32_t i = 0; i < count; ++i)
        entries.at(i)->instance->onCollision(contact);
}

void DynObject::FunctionManager::callBeforeRender()
{
    for (int32_t i = 0; i < count; ++i)
        entries.at(i)->instance->beforeRender(owner->world);
}

void DynObject::FunctionManager::callAfterRender()
{
    for (int32_t i = 0; i < count; ++i)
        entries.at(i)->instance->afterRender(owner->world);
}

StaticEntity::Instance* PackageObject::buildInstance()
{
    auto* package = dynamic_cast<ObjPkgManager::Package*>(getObject());
    D3D::Device::SwapChain* chain = package ? package->getSwapChain() : nullptr;
    if (!chain || !chain->entities)
        return nullptr;
    return new (std::nothrow) DynObject(*this, *chain->entities);
}
