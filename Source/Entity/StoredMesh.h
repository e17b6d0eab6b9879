#pragma once
// The drawable, shareable form of an entity mesh: its vertices and indices in
// managed buffers (posed through its bones at upload), its name, box, triangle
// tree, bones and uv pairs. Stored meshes live in one global list, so that
// entities adding a mesh of the same name share one copy; a mesh leaves the
// list and is deleted when the last octree record using it goes, or by
// releaseAll. Main thread only.

#include "Entity/D3DMesh.h"
#include "Entity/EntityManager.h"
#include "Entity/Mesh.h"

#include "Core/OrientedBox.h"
#include "Core/SCList.h"
#include "Core/String.h"

#include <cstdint>
#include <memory>

class EntityManager::StoredMesh : public D3DMesh<EntityManager::MeshVertex, 274>
{
public:
    using Source = Mesh<MeshVertex, 274>;
    using Tree = MeshTools::BinaryTiangleTree;

    // Enters the global list, then builds from source.
    StoredMesh(Source& source, bool takeTree);
    // Leaves the global list; deletes the tree when it owns it.
    ~StoredMesh() override;
    StoredMesh(const StoredMesh&) = delete;
    StoredMesh& operator=(const StoredMesh&) = delete;

    // (Re)builds from source: name, box, triangle tree, bones, uv pairs and
    // buffers. A source without a tree gets one, which this mesh takes over;
    // with takeTree the source's own tree is taken over too (the source has
    // none afterwards), else it is shared and stays the source's. False when
    // the buffers could not be made (the mesh is then skipped by the passes).
    bool build(Source& source, bool takeTree);

    // The first listed mesh named exactly name (length, then characters).
    static StoredMesh* findByName(const String& name);
    // Whether mesh is one of the listed meshes; compares addresses only.
    static bool isListed(const StoredMesh* mesh);
    // Deletes every listed mesh (device release and exit).
    static void releaseAll();
    static SCList<StoredMesh>& list();

    String name;
    // The octree records that use the mesh.
    int32_t recordCount = 0;
    SCList<StoredMesh>::Node* listNode = nullptr;
    // The source's bounds with identity axes.
    OrientedBox box;
    Tree* tree = nullptr;
    bool ownsTree = false;
    // The source's skeleton when it has bones; the source owns it.
    BoneAnim* bones = nullptr;
    // One uv pair per vertex, handed out with ray hits.
    std::unique_ptr<vec2d[]> uvs;

private:
    void releaseData();
};
