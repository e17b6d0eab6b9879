#pragma once

#include "Tree/Branch.h"

#include "Core/String.h"

#include <TextureRecord.h>

#include <memory>

class Shader;

// One foliage object of a tree: a leafy branch whose picture, on the
// branch's card, is repeated at placements over the tree, merged into one
// mesh per level of detail. Main thread only.
class Tree::Foliage
{
public:
    class Param; // TreeParameters.h
    using SourceMesh = Branch::SourceMesh;

    // Placements a level holds at most.
    static constexpr int32_t maxPlacements = 65536;
    // Vertices a merged mesh holds at most (16-bit indices).
    static constexpr int64_t maxVertices = 65536;

    // An empty object of tree named name (automatic: the tree's own
    // "Branch" object); its three meshes named.
    Foliage(Tree& tree, const String& name, uint32_t automatic);
    // An unnamed object, then read.
    Foliage(Tree& tree, FileInterface& stream, uint32_t version);
    ~Foliage();
    Foliage(const Foliage&) = delete;
    Foliage& operator=(const Foliage&) = delete;

    // Reads a foliage block (tags 1 to 11), then makes the card (and, when
    // the block holds no texture, the picture) and builds the tree's level.
    // False when the block was cut or refused.
    bool read(FileInterface& stream, uint32_t version);
    // Merges the card at the level's placements into the level's mesh.
    void build(uint32_t lod);
    // The merge: card copied to the first count placements into out (its
    // vertices moved, normals turned and normalised unless zero, indices
    // offset by the copies before), bounded by low and high. Placements
    // that are not finite or would pass maxVertices are left out and
    // counted in the result.
    static uint32_t merge(SourceMesh& card, ArrayHeap<Bough::ObjectInfo>& placements, uint32_t count,
                          SourceMesh& out, vec3d& low, vec3d& high);
    // The material and states of a foliage sub-entity on record and the device.
    void setMaterial(Shader& record);
    // "A%X%s", "B%X%s", "C%X%s" with the tree's seed and the name.
    void nameMeshes();
    // The branch, the texture and the meshes go.
    void clear();

    // The merged mesh of a level (an EntityManager::StoredMesh), or null.
    EntityManager::StoredMesh* mesh(uint32_t lod) const;
    uint32_t placementCount(uint32_t lod) const { return counts[lod < 3 ? lod : 0]; }
    Param& param() { return *param_; }

    Tree* tree;
    String name;
    uint32_t automatic = 0;
    Branch branch;
    SourceMesh card{String(L"")}; // the template every placement copies
    ArrayHeap<Bough::ObjectInfo> placements[3];
    uint32_t counts[3] = {};
    TextureRef texture;
    // Placements the last build left out: past the vertex limit, or not finite.
    uint32_t skipped = 0;

private:
    std::unique_ptr<Param> param_;
    EntityManager::StoredMesh* meshes_[3] = {};
};
