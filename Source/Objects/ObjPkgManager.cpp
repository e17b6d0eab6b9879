#include "Objects/ObjPkgManager.h"

#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Entity/StaticEntity.h"
#include "Landscape/Scene.h"

#include "Core/CrashTrace.h"
#include "Core/Directory.h"

#include <new>

namespace {

bool isPackageFile(const String& name)
{
    String extension(name.getExtension());
    extension.toLower();
    return extension.sameText(L"teo", 3);
}

}

ObjPkgManager::ObjPkgManager(Scene* scene) : owner(scene) {}

ObjPkgManager::~ObjPkgManager()
{
    clear();
}

D3D::Device::SwapChain* ObjPkgManager::swapChain() const
{
    return owner ? owner->swapChain : nullptr;
}

void ObjPkgManager::loadFolder(const String& path)
{
    CRASH_TRACE();
    clear();
    folder = path;
    Directory listing(path, false);
    if (!listing.isOpen)
        return;
    for (auto* node = listing.files.head(); node; node = node->next) {
        const FileInfo& file = *node->item;
        if (!isPackageFile(file.name))
            continue;
        Package* package = new (std::nothrow) Package(this, listing.folder + file.name);
        if (!package)
            continue;
        package->functions.swapChain = swapChain();
        packages.append(package);
    }
}

void ObjPkgManager::buildPackages()
{
    CRASH_TRACE();
    for (auto* node = packages.head(); node; node = node->next)
        node->item->build(nullptr);
}

ObjPkgManager::Package* ObjPkgManager::findPackage(const String& name) const
{
    String lowered = name;
    lowered.toLower();
    for (auto* node = packages.head(); node; node = node->next)
        if (node->item->lowerName.sameText(lowered))
            return node->item;
    return nullptr;
}

Object* ObjPkgManager::createObject(Package* package, const vec3d& position, float scale)
{
    CRASH_TRACE();
    if (!package)
        return nullptr;
    Object* object = new (std::nothrow) PackageObject;
    if (!object)
        return nullptr;
    object->setObject(package);
    object->setState(0);
    object->scale = scale;
    // A package reaching below its origin is lifted so that its box stands
    // on the given height.
    BoundingBox box = Package::originBox();
    package->calcBoundingBox(box);
    const float lift = box.minimum.y < 0.0f ? -box.minimum.y * scale : 0.0f;
    object->setPosition({position.x, position.y + lift, position.z}, true);
    if (!object->node) {
        // Nobody would ever reach an object outside the static scene.
        delete object;
        return nullptr;
    }
    if (object->instance)
        object->instance->onMoved();
    return object;
}

void ObjPkgManager::clear()
{
    CRASH_TRACE();
    // No job of the worker may run on a package that goes.
    threads.stop();
    packages.deleteAll();
}
