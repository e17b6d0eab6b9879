// The level's static objects and the camera objects among them.
#include "Landscape/Scene.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Entity/StaticEntity.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

#include <new>

Object* Scene::ObjectManager::createObject()
{
    return new (std::nothrow) PackageObject;
}

StaticEntityManager::Method* Scene::ObjectManager::findPackage(const String& name)
{
    return scene->objectPackages.findPackage(name);
}

bool Scene::ObjectManager::load()
{
    CRASH_TRACE();
    StaticEntityManager* objects = scene->swapChain ? scene->swapChain->staticEntities : nullptr;
    if (!objects)
        return false;
    objects->creator = this;
    bool whole = false;
    objects->load(scene->baseName() + L".obj", this, &whole);
    objects->activateAtLoad();
    if (HLod* farField = scene->swapChain->farField)
        farField->objects = this;
    return whole;
}

int32_t Scene::ObjectManager::collectTouchingBox(const OrientedBox& box, DynArray<HLod::Objects::Object>& out)
{
    StaticEntityManager* objects = scene->swapChain ? scene->swapChain->staticEntities : nullptr;
    if (!objects)
        return 0;
    SCList<StaticEntity> found;
    objects->collectTouchingBox(box, found);
    int32_t count = 0;
    for (auto* node = found.head(); node; node = node->next) {
        const StaticEntity& entity = *node->item;
        HLod::Objects::Object* listed = out.at(count);
        if (!listed)
            break;
        if (const auto* package = dynamic_cast<const ObjPkgManager::Package*>(entity.object)) {
            listed->box = ObjPkgManager::Package::originBox();
            package->calcBoundingBox(listed->box);
        } else {
            const float r = entity.object ? entity.object->radius() : 0.0f;
            listed->box = BoundingBox{};
            listed->box.minimum = {-r, -r, -r};
            listed->box.maximum = {r, r, r};
        }
        listed->transform = matrix3d::identity();
        entity.getTransform(listed->transform, false);
        listed->farField = entity.object ? entity.object->farField : 0;
        ++count;
    }
    return count;
}

void Scene::ObjectManager::renderFarField(const BoundingBox& farField)
{
    if (StaticEntityManager* objects = scene->swapChain ? scene->swapChain->staticEntities : nullptr)
        objects->renderFarField(farField);
}

int32_t Scene::CameraTypeObjects::collect(DynArray<CameraObject>& out)
{
    StaticEntityManager* objects = scene->swapChain ? scene->swapChain->staticEntities : nullptr;
    if (!objects || !scene->cameraType)
        return 0;
    SCList<StaticEntity> found;
    StaticEntityManager::collectByObject(objects->root, scene->cameraType, found);
    int32_t count = 0;
    for (auto* node = found.head(); node; node = node->next) {
        CameraObject* object = out.at(count);
        if (!object)
            break;
        const StaticEntity& entity = *node->item;
        object->number = entity.state;
        object->tilt = entity.flag;
        object->transform = matrix3d::identity();
        entity.getTransform(object->transform, true);
        ++count;
    }
    return count;
}

void Scene::setCameraObjectType(const String& name)
{
    cameraType = objectPackages.findPackage(name);
    cameraObjects = cameraType ? &cameraTypeObjects : nullptr;
}

void Scene::notifyObjectFunctions()
{
    EntityManager* entities = swapChain ? swapChain->entities : nullptr;
    if (!entities)
        return;
    for (auto* node = entities->entities.head(); node; node = node->next)
        if (auto* object = dynamic_cast<DynObject*>(node->item); object && object->functions)
            object->functions->callRedraw();
}
