#pragma once

#include "Tree/Bough.h"

#include "Entity/Mesh.h"

#include "Core/ArrayHeap.h"
#include "Core/DynArray.h"
#include "Core/Matrix.h"

#include <TextureRecord.h>

#include <memory>
#include <vector>

// A leafy branch: a small bough hierarchy with leaf cards placed over it. Its
// picture (the bark and the leaves drawn from the front into a texture) is
// shown on a card of its own, which foliage objects repeat over a tree.
// Growth and placement draw on rand() in a fixed order. Main thread only.
class Tree::Branch
{
public:
    class Param; // TreeParameters.h
    class Leaf;  // below
    using SourceMesh = Mesh<EntityManager::MeshVertex, 274>;

    Branch();
    ~Branch();
    Branch(const Branch&) = delete;
    Branch& operator=(const Branch&) = delete;

    // Reads a branch block (tag 1 leaf count, 2 the leaves, 3 placement
    // count, 4 the placements, 5 the bough record) after emptying the
    // leaves and placements. Counts that do not fit the bytes left end the
    // read; false then, or when the data ends before tag 0.
    bool read(FileInterface& stream, uint32_t version);
    // Empties the outline points and the bark buffers.
    void clear();
    // Grows the bough from param, builds its rings, bark and outline, places
    // the leaves anew and makes the cards (the picture into picture when
    // given and a device exists; the card into card).
    void generate(SourceMesh& card, TextureRef* picture, const Param& param, const TextureRef* bark);
    // As generate, from the bough held (stored placements are kept).
    void rebuild(SourceMesh& card, TextureRef* picture, const Param& param, const TextureRef* bark);
    // Places the leaves when there are none, then the outline: the points
    // of every placement's leaf outline, transformed by the placement.
    void placeLeaves(const Param& param);
    // The picture into picture (when given, with a device) and the card
    // into card by the card kind of param.
    void makeCards(SourceMesh& card, TextureRef* picture, const Param& param, const TextureRef* bark);
    // The curved card: rows x columns cells, front and back.
    static void makeCurvedCard(SourceMesh& card, const Param& param);
    // The star card: three upright blades; the first of length u x aspect,
    // the others (1 - u) x aspect.
    static void makeStarCard(SourceMesh& card, float u, float aspect);
    // The 4 x 4 fade texture: the fade colour, alpha rising from row 0 to 3.
    bool makeFadeTexture(const Param& param);

    // Renders the picture of the branch into out (DXT3, A8R8G8B8 when that
    // fails) and gives the picture's aspect and the branch origin's u.
    void renderPicture(TextureRef* out, float& aspect, float& u, const Param& param, const TextureRef* bark);
    // Draws the bark and the leaves with the picture's states.
    void drawForPicture(const Param& param, const TextureRef* bark);
    // Fits a parallel camera to the outline points: the projection, the
    // view and the aspect W / H. False without outline points.
    bool fitPictureCamera(matrix3d& projection, matrix3d& view, float& aspect) const;

    Bough::Box box;
    std::vector<std::unique_ptr<Leaf>> leaves; // the leaf kinds, in stream order
    ArrayHeap<Bough::ObjectInfo> placements;
    uint32_t placementCount = 0;
    Bough bough;
    DynArray<vec3d> points{256}; // the outline
    int32_t pointCount = 0;
    TextureRef fade;
    // The picture's material levels (from the branch parameters).
    float ambient = 0.6f;
    float diffuse = 1.0f;
    // The picture's u of the origin and aspect, as the last picture left them.
    float pictureU = 0.0f;
    float pictureAspect = 1.0f;

private:
    void buildBark(const Param& param);
    struct Bark;
    std::unique_ptr<Bark> bark_;
};

// One kind of leaf card of a branch: a curved rectangle with a leaf texture.
class Tree::Branch::Leaf
{
public:
    class Param; // TreeParameters.h

    Leaf();
    // Defaults, then read.
    Leaf(FileInterface& stream, uint32_t version);
    ~Leaf();
    Leaf(const Leaf&) = delete;
    Leaf& operator=(const Leaf&) = delete;

    // Reads a leaf block: tag 1 the parameters, 2 the texture (v10 a stored
    // surface turned into DXT3, v11 an image file). False when the data ends
    // before tag 0 or a texture block is larger than the bytes left.
    bool read(FileInterface& stream, uint32_t version);
    // The card: (C + 1) x (R + 1) vertices, 6 C R indices, bend heights
    // drawn with six rand(); its buffers when a device exists.
    void buildMesh();
    // Draws the card for one placement (its transform, mirror and tint).
    void draw(const Bough::ObjectInfo& instance);
    // The texture, the outline and the buffers go.
    void release();

    Param& param() { return *param_; }
    const Param& param() const { return *param_; }

    TextureRef texture;
    ArrayHeap<vec3d> positions; // the card's outline, after a build
    std::vector<EntityManager::MeshVertex> vertices;
    std::vector<uint16_t> indices;

private:
    std::unique_ptr<Param> param_;
    struct Buffers;
    std::unique_ptr<Buffers> buffers_;
};
