#pragma once

#include "Entity/EntityManager.h"

#include "Core/BoundingBox.h"
#include "Core/Matrix.h"

#include <cstdint>
#include <functional>
#include <memory>

class FileInterface;
class Shader;
class TextureRef;

// A procedural tree, grown from the parameter blocks and stored skeletons of
// a tree parameter stream (".tree") that object packages carry. Its parts are
// nested types, each defined in its own header:
//   Parameter, Bough::Param, Bough::ObjectParam, Branch::Param,
//   Foliage::Param, Branch::Leaf::Param  TreeParameters.h
//   Bone, Bough, Bough::Node             Bough.h (the mesh pass: BoughMesh.h)
//   Branch, Foliage                      Branch.h, Foliage.h
// The tree object itself (Tree.cpp) belongs to the game: it builds the trunk
// meshes of its three levels of detail from the stream's skeletons. The
// parameters and skeletons need no Direct3D and make a library of their own.
// Everything here runs on the main thread. Random numbers come from the
// runtime's rand(), drawn in a fixed order and never seeded by tree code.
class Tree
{
public:
    class Parameter;
    class Bone;
    class Bough;
    class Branch;
    class Foliage;
    class ParamDialog;

    // Stream versions: "v1.0", "v1.1", anything else.
    static constexpr uint32_t version10 = 10;
    static constexpr uint32_t version11 = 11;

    // Defaults; the seed from three rand(); three empty meshes named after it.
    Tree();
    virtual ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    // Reads a tree parameter stream (from its version bytes to its tag 0 or
    // the end of the data) and builds the trunk mesh of the selected level
    // of detail from its skeleton. Fields the stream does not hold keep
    // their values; a stream without a skeleton gives an empty mesh. The
    // foliage objects are read (tag 7 their count, 8 the blocks) and built
    // for the selected level. When getEntity
    // gives an entity, the tree then fills it (level 0, no transform, the
    // render callbacks of getTrunkShader and getFoliageShader).
    void generate(FileInterface& stream);
    // Names the three meshes "A", "B" and "C" followed by the seed in
    // upper-case hexadecimal, and the foliage objects' meshes after them.
    void nameMeshes();
    // Level 0 always; 1 and 2 when the stream held their skeletons.
    bool hasLevel(uint32_t level) const;
    // The box of the selected level's mesh (centre, 1, 0, minimum,
    // maximum); an empty mesh gives its skeleton's box.
    BoundingBox getBounds() const;
    // Vertices and triangles of the selected level's mesh.
    uint32_t countVertices() const;
    uint32_t countTriangles() const;

    // The owner's render callback of a sub-entity (see SubEntity); a
    // foliage sub-entity's also names the foliage object it draws.
    using StateCallback = std::function<void(Shader&)>;
    using FoliageCallback = std::function<void(Shader&, Foliage&)>;

    // The entity a generation fills, and the render callbacks it gives its
    // sub-entities. A plain tree has none: its owner fills an entity of its
    // own through createEntities.
    virtual EntityManager::Entity* getEntity() { return nullptr; }
    virtual StateCallback getTrunkShader() { return {}; }
    virtual FoliageCallback getFoliageShader() { return {}; }

    // Fills entity with the tree's sub-entities (after clearing it): the
    // trunk mesh of level, built first when the level exists and its
    // buffers are missing. With a transform, the sub-entity takes it as its
    // own matrix and the entity's box is left as it is; without, the
    // entity's box grows by the mesh's world box.
    void createEntities(EntityManager::Entity& entity, uint32_t level, const matrix3d* transform,
                        StateCallback trunk, FoliageCallback foliage);
    // The same without clearing: the tree's sub-entities follow those the
    // entity holds (a package's other meshes and trees). The trunk's
    // sub-entity, null when none was made.
    EntityManager::SubEntity* addEntities(EntityManager::Entity& entity, uint32_t level, const matrix3d* transform,
                                          StateCallback trunk, FoliageCallback foliage);
    // The trunk's material on a sub-entity's render record and the device:
    // white at the tree's diffuse and ambient levels, the bark on stage 0.
    virtual void setTrunkMaterial(Shader& record);
    // A foliage sub-entity's material: that of its foliage object.
    virtual void setFoliageMaterial(Shader& record, Foliage& foliage);
    // Whether query (a bounds record) overlaps the selected level's box and,
    // there, changed a bough's hit mark; kept in hit.
    virtual uint32_t intersect(const BoundingBox& query);

    // The skeleton of a level of detail (level 0 for one the stream lacks).
    Bough& bough(uint32_t level);
    // The name of a level's mesh.
    const wchar_t* meshName(uint32_t level) const;
    // Whether the stream held a bark image that made a texture.
    bool hasBark() const;
    // The bark texture (empty without one).
    const TextureRef* barkTexture() const;

    // The foliage objects, in stream order (the automatic "Branch" one last).
    uint32_t foliageCount() const;
    Foliage* foliage(uint32_t index) const;
    // Destroys every foliage object, or one.
    void clearFoliage();
    void removeFoliage(Foliage* object);
    // Keeps the automatic "Branch" object in step with the level records
    // (it exists while a record asks for leaf ribbons) and returns its
    // mesh of lod (an EntityManager::StoredMesh), or null.
    EntityManager::StoredMesh* updateBranchObject(uint32_t lod);
    // The foliage objects of one generation at most (each block takes a byte).
    static constexpr uint32_t maxFoliage = 256;

    // Attaches a parameter dialog bound to this tree's fields and opens it
    // (modeless, owned by parent). False when it cannot be made.
    bool openDialog(struct HWND__* parent);
    // The attached parameter dialog (TreeParamDialog.h), refreshed after
    // every generation and deleted with the tree; null for none.
    std::unique_ptr<ParamDialog> dialog;

    float ambient = 0.6f;   // of the trunk material (stream tag 1)
    float diffuse = 1.0f;   // (tag 2)
    uint32_t seed = 0;      // names the meshes (tag 9)
    uint32_t tag3Value = 2; // kept (tag 3)
    uint32_t lod = 0;       // the selected level of detail
    uint32_t hit = 0;

private:
    // Builds the trunk mesh of a level and its box record from its skeleton.
    void buildLevel(uint32_t level);
    // The stored mesh of a level (an EntityManager::StoredMesh), or null.
    void* storedMesh(uint32_t level) const;

    struct State;
    std::unique_ptr<State> state_;
};
