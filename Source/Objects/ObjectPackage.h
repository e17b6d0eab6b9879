#pragma once
// One object package, read from its ".teo" file (all numbers little-endian):
//     4 bytes   the version tag: "v1.0", "v1.1" or "v1.2" (10, 11, 12; any
//               other tag gives 0)
//     then records, each a u32 kind and its payload, until kind 0 or the
//     end of the data:
//     1  u32 N, then N bytes for the package's memory stream
//     2  u32 C, then C embedded files, each a stored text name (u32 count,
//        8-bit characters), a u32 size S and S bytes; the list is replaced
//     3  i32 M: the number of meshes each later kind-4 record holds
//     4  M mesh blocks (PackageMesh.h)
//     5  the physics record block (PhysicsRecord.h)
//     6  i32 L: the number of lights each later kind-7 record holds
//     7  L light blocks (PackageLight.h); the first of each record is a
//        main light
//     8  the functions record (ObjectFunctions.h)
//     9 and above carry nothing
// The first three records are of kinds 1, 2 and 3, in this order; a file
// that breaks this rule is not built and is read again at the next build.
// Part blocks carry no length: a record cut short, or a part that cannot
// read its block to the end, ends the reading, and what was read stays.
//
// The manager lists a package unbuilt; the next level load (or the first
// dynamic object of the package) builds it once. Static entities read of it
// its radius, its activation circle (the square of its visibility
// distance), its far-field and terrain-alignment flags; the race logic and
// the scene's camera tours set its race flag. Main thread only.

#include "Objects/ObjPkgManager.h"
#include "Objects/ObjectFunctions.h"
#include "Objects/PhysicsRecord.h"

#include "Entity/CollisionBody.h"
#include "Entity/StaticEntityManager.h"

#include "Core/BoundingBox.h"
#include "Core/FileArray.h"
#include "Core/ResourceManager.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <cstdint>

class TextureRef;

class ObjPkgManager::Package final : public StaticEntityManager::Method, public ObjPkgManager::FileFinder
{
public:
    using FileEntry = ResourceManager::Entry;

    // Far-field objects, one per state byte 0 to 2.
    static constexpr int farFieldStates = 3;
    // Package files are a few megabytes at most; a longer file is not read.
    static constexpr uint32_t maxFileSize = 64u << 20;

    // An unbuilt package of the file at path, listed by owner; its name is
    // the file name without folder and extension.
    Package(ObjPkgManager* owner, const String& path);
    // unbuild, then the parts go.
    ~Package() override;

    // Reads the file when the package is not built yet (a built package
    // returns at once). A non-empty path replaces the package's. Each light
    // is made with the scene's light texture (may be null). Returns this.
    Package* build(const TextureRef* sceneContext, const String& path = String(L""));
    // The reading of build over a whole file's bytes in memory: whether the
    // package is built afterwards.
    bool buildFrom(FileArray& bytes, const TextureRef* sceneContext);
    // Back to the unbuilt state: meshes, lights, templates, embedded files
    // and far-field objects deleted, the physics record and the memory
    // stream emptied. The path stays, so that the package builds again.
    void unbuild();

    // The first mesh whose name is exactly name, or null.
    Mesh* findMesh(const String& name) const;
    // The first embedded file whose name is exactly name, or null.
    FileArray* findFile(const String& name) override;
    // The union of the meshes' boxes in the package's frame: the first
    // mesh's box, widened by each later one (a box of no extent at all is
    // replaced). Without meshes box is left as given. Returns box.
    BoundingBox& calcBoundingBox(BoundingBox& box) const;
    // The box every build starts from: centre and corners at the origin.
    static BoundingBox originBox();
    // Every mesh hands its geometries to body (with second, the body's
    // second interface, when given), in mesh order.
    void addGeometriesTo(EntityManager::CollisionBody& body,
                         EntityManager::CollisionBody::Geometry::Interface* second = nullptr);
    // The larger distance from the package's origin to its box's corners.
    float getRadius() const { return objectRadius; }
    // The swap chain of the owner manager's scene, or null.
    D3D::Device::SwapChain* getSwapChain() const;
    // An object of this package in state, with its instance (when one can be
    // made) hidden, for the far field's pictures. Not placed in any octree.
    Object* createFarFieldObject(uint8_t state);

    // 10, 11 or 12 for the tags "v1.0", "v1.1" and "v1.2"; 0 for any other.
    static uint32_t parseVersion(const uint8_t tag[4]);

    float radius() const override { return objectRadius; }
    // The static objects of the owner's swap chain, or null.
    StaticEntityManager* manager() const override;
    // The sub-entities of far-field object state (0 to 2; other states have
    // none) drawn at their place under transform.
    void renderFarField(uint8_t state, const matrix3d& transform) override;

    Object* farFieldObjects[farFieldStates] = {};
    // Objects come alive within this distance of the camera; its square is
    // the activation circle's (rangeSq).
    float visibilityDistance = 300.0f;
    FileArray memory{1024};
    SCList<Mesh> meshes;
    PhysicsRecord physics{this};
    SCList<Light> lights;
    Functions::Record functions{this};
    // The scale of the last dynamic object of the package loaded with physics.
    float objectScale = 1.0f;
    float spareDistance = 0.0f;
    ObjPkgManager* owner;
    SCList<FileEntry> files;
    String path;
    // The name lowered, for the manager's lookups.
    String lowerName;
    uint32_t built = 0;
    uint32_t version = 10;
    float objectRadius = 1.0f;
    // Set by the race logic, and to 1 by the scene's camera tours for the
    // camera objects' package.
    uint32_t raceFlag = 0;

private:
    // The record walk over the file's bytes; false when the first three
    // records are not of kinds 1, 2 and 3.
    bool readRecords(FileArray& stream, const TextureRef* sceneContext);
    // One record's payload; false when it stops short (the walk ends).
    bool readRecord(uint32_t kind, FileArray& stream, const TextureRef* sceneContext, int32_t& meshCount,
                    int32_t& lightCount);
    bool readFiles(FileArray& stream);
    bool readCount(FileArray& stream, int32_t& count);
    // Visibility, far-field objects and radius of a package just built.
    void finishBuild();
};
