#pragma once
// One visible part of an object package: an editable triangle mesh with its
// texture (an embedded file of the package), its shader settings, its
// placement inside the package (position, turn, uniform scale) and the
// collision geometries that stand for it in the rigid-body world.
//
// The package constructs each mesh and has it read its block of the package
// stream (load); dynamic objects made from the package hand the geometries
// to their collision bodies (attachGeometries); the package's bounding box
// grows over every mesh (extendBounds); function templates find meshes by
// name. A mesh lives until its package clears it. Main thread only.

#include "Objects/ObjPkgManager.h"
#include "Objects/ShaderSettings.h"

#include "Entity/CollisionBody.h"
#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"

#include "Tree/Tree.h"

#include "Core/BoundingBox.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <cstdint>
#include <memory>

class FileInterface;

class ObjPkgManager::Mesh : public ::Mesh<EntityManager::MeshVertex, 274>
{
public:
    using Base = ::Mesh<EntityManager::MeshVertex, 274>;

    // Content kinds of tag 1.
    static constexpr uint32_t treeKind = 0;
    static constexpr uint32_t meshKind = 1;

    // A mesh with a random name of 10 letters and digits (rand), belonging to
    // package (which finds its embedded files; may be null: no texture).
    explicit Mesh(FileFinder* package);
    // Deletes the geometries; the base frees the mesh data and the texture.
    ~Mesh() override;

    // Reads one mesh block (tags 1 to 12; later tags carry no field), then
    // loads the texture and places the mesh. True when the block ended at
    // its tag 0 or where the data ends between entries. False, keeping what
    // was read, when:
    // - a field is cut, or a count of geometries exceeds the bytes left;
    // - tag 2 comes before any tag 1 (it has no content kind to read by);
    // A tree (kind 0) is read by the tree itself, which builds its trunk
    // mesh and gives the mesh its box; its stream carries no length and ends
    // at its own tag 0.
    // - the mesh body lacks its leading marker byte (only a marked body ends
    //   where its data ends inside a package) or is damaged.
    // Non-finite or huge values keep what was held.
    bool load(FileInterface& stream);

    // world from position, rotation (degrees; Ry Rx Rz) and scale, worldBox
    // as localBox under world, then every geometry fitted to worldBox.
    void updatePlacement();

    // When collisionEnabled is set, every geometry gets a record of body
    // (second: the body's second interface, or null) fitted to worldBox.
    void attachGeometries(EntityManager::CollisionBody& body,
                          EntityManager::CollisionBody::Geometry::Interface* second = nullptr);
    // The records of body stop asking this mesh's geometries, which forget
    // them: before either the body or the mesh goes.
    void forgetBody(const EntityManager::CollisionBody& body);

    // Grows box (minimum and maximum; the centre follows) over the mesh's
    // axis-aligned bounds under world. Start from emptyBounds().
    void extendBounds(BoundingBox& box) const;
    static BoundingBox emptyBounds();

    // The first geometry marked active, or null.
    Geometry* findActiveGeometry() const;

    // Makes target an exact copy of this mesh's vertices, indices and
    // texture reference, releasing what target held.
    void copyTo(Base& target);

    FileFinder* package;
    String displayName;
    String textureName;
    matrix3d world = matrix3d::identity();
    OrientedBox localBox{};
    OrientedBox worldBox{};
    Base backup;
    uint32_t textureMipLevels = 0;
    vec3d position;
    vec3d rotation;
    float scale = 1.0f;
    ShaderSettings shader;
    SCList<Geometry> geometries;
    uint32_t collisionEnabled = 1;
    // The tree of a mesh of content kind 0, else null.
    std::unique_ptr<Tree> tree;

private:
    bool readBody(FileInterface& stream);
    bool readTree(FileInterface& stream);
    // The local box: the bounds' centre and extents on unturned axes.
    void placeLocalBoxOn(const BoundingBox& bounds);
    bool readGeometries(FileInterface& stream, uint32_t count);
    void loadTexture();
};
