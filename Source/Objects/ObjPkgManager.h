#pragma once
// The object packages: every placeable thing of a map (a gate, a pick-up, a
// vehicle, a tree) is a package read from its own file in the objects folder.
// A package is made of parts, each read from its block of the package
// stream: meshes with their collision geometries and shader settings
// (PackageMesh.h, PackageGeometry.h, ShaderSettings.h), one physics record
// (PhysicsRecord.h) and projected lights (PackageLight.h).
//
// Part blocks are tagged (a u32 tag and its field, repeated, ended by tag 0)
// and carry no length of their own, so a part that cannot read its block to
// the end says so and the package stops reading there. Main thread only.

class FileArray;
class String;

class ObjPkgManager
{
public:
    class FileFinder;
    class ShaderSettings;
    class Geometry;
    class Mesh;
    class PhysicsRecord;
    class Light;
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
