#pragma once
// The object packages: every placeable thing of a map (a gate, a pick-up, a
// vehicle, a tree) is a package read from its own ".teo" file in the objects
// folder (ObjectPackage.h). A package is made of parts, each read from its
// block of the package stream: meshes with their collision geometries and
// shader settings (PackageMesh.h, PackageGeometry.h, ShaderSettings.h), one
// physics record (PhysicsRecord.h), projected lights (PackageLight.h) and the
// functions record naming the object functions of its objects
// (ObjectFunctions.h).
//
// Part blocks are tagged (a u32 tag and its field, repeated, ended by tag 0)
// and carry no length of their own, so a part that cannot read its block to
// the end says so and the package stops reading there.
//
// The manager is the scene's registry of packages: start-up lists the
// folder once, every level load builds the packages that are not built yet,
// the game finds them by name and places static objects of them. It also
// owns the thread manager on whose worker the object functions' background
// jobs run. Main thread only.

#include "Render/D3DDevice.h"

#include "Core/SCList.h"
#include "Core/String.h"
#include "Core/ThreadManager.h"
#include "Core/Vector.h"

class FileArray;
class Object;
class Scene;

class ObjPkgManager
{
public:
    class FileFinder;
    class ShaderSettings;
    class Geometry;
    class Mesh;
    class PhysicsRecord;
    class Light;
    class Package;
    class Functions;
    class ShaderInterface;

    // owner: the scene holding the manager, through whose swap chain the
    // packages reach the render device; may be null (no swap chain).
    explicit ObjPkgManager(Scene* owner);
    // clear.
    ~ObjPkgManager();
    ObjPkgManager(const ObjPkgManager&) = delete;
    ObjPkgManager& operator=(const ObjPkgManager&) = delete;

    // Deletes the packages of an earlier listing, then makes one unbuilt
    // package for every file of folder whose extension is "teo" (any case),
    // in the order the folder lists them. A folder that cannot be listed
    // leaves no packages.
    void loadFolder(const String& folder);
    // Builds every listed package that is not built yet, in list order.
    void buildPackages();
    // The first package whose name equals name without regard to case, or null.
    Package* findPackage(const String& name) const;
    // A static object of package at position with scale, placed in the
    // level's static objects so that the package's box does not reach below
    // the given height; the static objects own it. Null (nothing made) without
    // a package, or when the object cannot be placed.
    Object* createObject(Package* package, const vec3d& position, float scale);
    // Stops the worker thread (also a held one), then deletes every package.
    void clear();

    // The owner scene's swap chain, or null.
    D3D::Device::SwapChain* swapChain() const;

    Scene* owner;
    String folder;
    SCList<Package> packages;
    // The worker of the object functions' background jobs; its owner's
    // per-frame camera step resumes it when a job change holds it.
    ThreadManager threads;
};

// The one lookup the parts make in their package: the embedded file of a
// name (an exact, case-sensitive match), or null. Meshes and lights load
// their textures from these files. The package implements it.
class ObjPkgManager::FileFinder
{
public:
    virtual FileArray* findFile(const String& name) = 0;

protected:
    ~FileFinder() = default;
};
