// The sample tree on the real device of the test window: its stream read with
// the bark loaded as a texture, its entity drawn outside the octrees under a
// parallel camera, before and after a device reset; the pixels are read back.
#include "../Render/TestDevice.h"

#include "TreeTestSupport.h"

#include "Tree/Bough.h"
#include "Tree/Foliage.h"
#include "Tree/Tree.h"
#include "Tree/TreeParameters.h"

#include "Entity/Entity.h"
#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"
#include "Render/DirectGraphics.h"
#include "Render/RenderHandshake.h"
#include "Render/Shader.h"

#include "TreeSamples.h"

#include <cwchar>

using namespace TestDevice;

namespace {

constexpr uint32_t clearColour = 0xFF1030A0u;
constexpr float width = 320.0f, height = 240.0f;

// Whether a pixel shows the sample's bark: brown, red over green over blue.
bool isBark(uint32_t pixel)
{
    const uint32_t r = pixel >> 16 & 0xFF, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
    return r > g && g > b && r >= 50;
}

// Whether a pixel shows leaves: green above red and blue.
bool isLeaf(uint32_t pixel)
{
    const uint32_t r = pixel >> 16 & 0xFF, g = pixel >> 8 & 0xFF, b = pixel & 0xFF;
    return g > r + 20 && g > b + 20;
}

// A picture's top level decoded into plain 32-bit texels.
Level decodePicture(const TextureRef& picture)
{
    D3DSURFACE_DESC desc{};
    IDirect3DSurface9* packed = nullptr;
    IDirect3DSurface9* plain = nullptr;
    Level texels;
    if (SUCCEEDED(picture.texture()->texture->GetLevelDesc(0, &desc)) &&
        SUCCEEDED(picture.texture()->texture->GetSurfaceLevel(0, &packed)) &&
        SUCCEEDED(gDevice->CreateOffscreenPlainSurface(desc.Width, desc.Height, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM,
                                                       &plain, nullptr)) &&
        SUCCEEDED(D3DXLoadSurfaceFromSurface(plain, nullptr, nullptr, packed, nullptr, nullptr, D3DX_FILTER_NONE, 0)))
        texels = readSurface(plain);
    if (plain)
        plain->Release();
    if (packed)
        packed->Release();
    return texels;
}

class TreeDevice : public DeviceSuite
{
protected:
    // The parallel camera: the tree's box seen along +z, a margin around it.
    void frame(const BoundingBox& box)
    {
        const float mx = (box.maximum.x - box.minimum.x) * 0.1f, my = (box.maximum.y - box.minimum.y) * 0.1f;
        left = box.minimum.x - mx;
        right = box.maximum.x + mx;
        bottom = box.minimum.y - my;
        top = box.maximum.y + my;
        D3DXMatrixOrthoOffCenterLH(&projection, left, right, bottom, top, box.minimum.z - 1.0f, box.maximum.z + 1.0f);
    }

    // Where the camera shows world point p, in pixels.
    vec2d pixelOf(const vec3d& p) const
    {
        return {(p.x - left) / (right - left) * width, (top - p.y) / (top - bottom) * height};
    }

    // One frame drawing entity outside the octrees: unlit (the bark as it
    // is), depth tested.
    Level draw(EntityManager::Entity& entity)
    {
        client->afterScene = [&] {
            IDirect3DDevice9* d = gDevice;
            const matrix3d identity = matrix3d::identity();
            d->SetTransform(D3DTS_VIEW, reinterpret_cast<const D3DMATRIX*>(&identity));
            d->SetTransform(D3DTS_PROJECTION, &projection);
            d->SetRenderState(D3DRS_LIGHTING, FALSE);
            d->SetRenderState(D3DRS_FOGENABLE, FALSE);
            d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
            d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            entity.renderImmediate();
            d->SetRenderState(D3DRS_LIGHTING, TRUE);
        };
        D3D::Device::SwapChain* target = chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        target->render(true);
        Level pixels = readSurface(target->targets[0].surface);
        keepView(target->targets[0].surface);
        target->present();
        client->afterScene = nullptr;
        return pixels;
    }

    // Bark where the trunk's lower bones stand (thick enough to cover a few
    // pixels), the clear colour outside the tree's box, bark over a fair
    // part of the box.
    void expectTree(const Level& pixels, Tree::Bough& trunk, const BoundingBox& box)
    {
        ASSERT_EQ(pixels.texels.size(), size_t(width * height));
        int trunkPoints = 0;
        for (uint32_t i = 1; i < trunk.boneCount; ++i) {
            const Tree::Bone& bone = *trunk.bones.at(int32_t(i));
            if (bone.radius / (right - left) * width < 3.0f)
                continue;
            const vec2d at = pixelOf(bone.position);
            ++trunkPoints;
            EXPECT_TRUE(isBark(pixels.at(uint32_t(at.x), uint32_t(at.y))))
                << "bone " << i << " at " << at.x << ", " << at.y << ": " << std::hex << pixels.at(uint32_t(at.x), uint32_t(at.y));
        }
        EXPECT_GE(trunkPoints, 3);
        const vec2d low = pixelOf({box.minimum.x, box.maximum.y, 0.0f}), high = pixelOf({box.maximum.x, box.minimum.y, 0.0f});
        int outsideWrong = 0, inside = 0, bark = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            for (uint32_t x = 0; x < pixels.width; ++x) {
                const bool within = float(x) >= low.x - 1.0f && float(x) <= high.x + 1.0f && float(y) >= low.y - 1.0f &&
                                    float(y) <= high.y + 1.0f;
                const uint32_t pixel = pixels.at(x, y) & 0xFFFFFF;
                if (!within)
                    outsideWrong += pixel != (clearColour & 0xFFFFFF);
                else {
                    ++inside;
                    bark += isBark(pixel);
                }
            }
        EXPECT_EQ(outsideWrong, 0);
        EXPECT_GT(bark * 20, inside) << "bark on more than a twentieth of the tree's box";
        EXPECT_LT(bark, inside) << "the clear colour shows between the boughs";
    }

    D3DXMATRIX projection;
    float left = 0, right = 1, bottom = 0, top = 1;
};

}

TEST_F(TreeDevice, TheSampleTreeShowsItsBarkBeforeAndAfterAReset)
{
    Tree tree;
    ByteStream stream(TreeSamples::sampleTree());
    tree.generate(stream);
    ASSERT_TRUE(tree.hasBark());
    EXPECT_GT(tree.countVertices(), 0u);
    EXPECT_GT(tree.countTriangles(), 0u);

    EntityManager manager;
    EntityManager::Entity entity(manager);
    int materials = 0;
    tree.createEntities(entity, 0, nullptr,
                        [&](Shader& record) {
                            ++materials;
                            tree.setTrunkMaterial(record);
                        },
                        nullptr);
    ASSERT_EQ(entity.subEntities.count(), 1);
    EntityManager::SubEntity& trunk = *entity.subEntities.head()->item;
    EXPECT_NE(trunk.material.applyBlock, nullptr) << "the trunk's states are recorded";
    EXPECT_TRUE(trunk.material.textures[0].isBound()) << "the bark is on stage 0";
    EXPECT_GT(materials, 0);

    const BoundingBox box = tree.getBounds();
    frame(box);
    {
        SCOPED_TRACE("drawn");
        expectTree(draw(entity), tree.bough(0), box);
    }

    // The mesh's buffers and the bark are managed: a reset keeps them.
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    ASSERT_NE(gDevice, nullptr);
    {
        SCOPED_TRACE("after a reset");
        expectTree(draw(entity), tree.bough(0), box);
    }
    entity.clear();
}

// The leafy samples: a foliage object whose picture is stored, and one whose
// picture is rendered from its branch at load. Both draw leaves over the
// trunk, with the background showing between the cards.
TEST_F(TreeDevice, TheLeafySamplesDrawTheirFoliageOverTheTrunk)
{
    for (bool stored : {true, false}) {
        SCOPED_TRACE(stored ? "picture stored" : "picture rendered");
        Tree tree;
        ByteStream stream(TreeSamples::leafyTree(stored));
        tree.generate(stream);
        ASSERT_EQ(tree.foliageCount(), 1u);
        Tree::Foliage& leaves = *tree.foliage(0);
        EXPECT_EQ(std::wcscmp(leaves.name.text(), L"Leaves"), 0);
        EXPECT_TRUE(leaves.texture.isBound()) << "the picture exists either way";
        EXPECT_EQ(leaves.param().textureStored, stored ? 1u : 0u);
        EXPECT_GT(leaves.placementCount(0), 0u);
        ASSERT_NE(leaves.mesh(0), nullptr);
        EXPECT_GT(leaves.mesh(0)->vertexCount, 0u);
        EXPECT_EQ(RenderHandshake::renderBusy(), false);

        EntityManager manager;
        EntityManager::Entity entity(manager);
        tree.createEntities(entity, 0, nullptr, [&](Shader& record) { tree.setTrunkMaterial(record); },
                            [&](Shader& record, Tree::Foliage& f) { tree.setFoliageMaterial(record, f); });
        ASSERT_EQ(entity.subEntities.count(), 2) << "the trunk and one foliage object";
        EXPECT_EQ(tree.countTriangles(), leaves.mesh(0)->triangleCount + tree.countTriangles() - leaves.mesh(0)->triangleCount);

        const BoundingBox box = tree.getBounds();
        frame(box);
        const Level pixels = draw(entity);
        ASSERT_EQ(pixels.texels.size(), size_t(width * height));
        int leafy = 0, bark = 0, clear = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            for (uint32_t x = 0; x < pixels.width; ++x) {
                const uint32_t pixel = pixels.at(x, y) & 0xFFFFFF;
                leafy += isLeaf(pixel);
                bark += isBark(pixel);
                clear += pixel == (clearColour & 0xFFFFFF);
            }
        EXPECT_GT(leafy, 500) << "leaves show";
        EXPECT_GT(bark, 50) << "the trunk shows";
        EXPECT_GT(clear, 1000) << "the background shows around and between the cards";
        entity.clear();
    }
}

// One green leaf with a transparent border, standing upright on the picture
// plane, rendered into a 128 x 128 picture: transparent around the leaf,
// green where it shows, the colours bled into the clear texels, stored as
// DXT3; the fade texture's rows; the handshake left as it was found.
TEST_F(TreeDevice, ABranchPictureShowsItsLeafOnATransparentGround)
{
    Tree::Branch branch;
    auto leaf = std::make_unique<Tree::Branch::Leaf>();
    leaf->param().bendRange = 0.0f;
    leaf->param().bends = {0, 0, 0, 0, 0, 0};
    leaf->texture = makeTexture(16, 16, D3DFMT_A8R8G8B8, [](uint32_t x, uint32_t y) {
        const bool inner = x >= 4 && x < 12 && y >= 4 && y < 12;
        return inner ? 0xFF20C030u : 0x00000000u;
    });
    leaf->buildMesh();
    branch.leaves.push_back(std::move(leaf));
    Tree::Bough::ObjectInfo upright;
    upright.transform.setRow(1, vec3d(0.0f, 0.0f, -1.0f));
    upright.transform.setRow(2, vec3d(0.0f, 1.0f, 0.0f));
    branch.placements.resize(1);
    *branch.placements.at(0) = upright;
    branch.placementCount = 1;
    Tree::Branch::Param param;
    param.pictureSize = {128, 128};
    param.cardKind = 1;
    branch.placeLeaves(param);
    EXPECT_EQ(branch.pointCount, 25) << "the leaf's outline";

    Tree::Branch::SourceMesh card{String(L"card")};
    TextureRef picture;
    // The device's transforms are left as they were found.
    matrix3d before = matrix3d::identity();
    before.m[0] = 0.5f;
    before.m[14] = 3.0f;
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_WORLD})
        gDevice->SetTransform(t, reinterpret_cast<const D3DMATRIX*>(before.m));
    branch.makeCards(card, &picture, param, nullptr);
    for (D3DTRANSFORMSTATETYPE t : {D3DTS_VIEW, D3DTS_PROJECTION, D3DTS_WORLD}) {
        matrix3d after;
        gDevice->GetTransform(t, reinterpret_cast<D3DMATRIX*>(after.m));
        EXPECT_TRUE(sameBits(after.m, before.m, 64)) << t;
    }
    ASSERT_TRUE(picture.isBound());
    EXPECT_FALSE(RenderHandshake::renderBusy());
    EXPECT_NEAR(branch.pictureAspect, 1.0f, 1e-3f) << "the leaf is as wide as it is high";
    EXPECT_NEAR(branch.pictureU, 0.5f, 1e-3f) << "the origin in the middle";
    EXPECT_EQ(card.countedVertices(), 12) << "the star card";
    D3DSURFACE_DESC desc{};
    picture.texture()->texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_DXT3);
    EXPECT_EQ(desc.Width, 128u);

    const Level texels = decodePicture(picture);
    ASSERT_EQ(texels.texels.size(), 128u * 128u);
    // The leaf's opaque middle (u from 0.25 to 0.75, where the card runs
    // from z = 0.875 to 1.875 of its 2) covers the middle half across and,
    // the tip at the top, rows 8 to 72 of the picture.
    int green = 0, transparentBled = 0;
    for (uint32_t y = 0; y < 128; ++y)
        for (uint32_t x = 0; x < 128; ++x) {
            const uint32_t t = texels.at(x, y);
            const bool middle = x >= 40 && x < 88 && y >= 16 && y < 64;
            const bool border = x < 24 || x >= 104 || y >= 80;
            if (middle) {
                EXPECT_EQ(t >> 24, 255u) << x << ", " << y;
                green += isLeaf(t & 0xFFFFFF);
            }
            if (border)
                EXPECT_EQ(t >> 24, 0u) << x << ", " << y;
            if (t >> 24 == 0)
                transparentBled += isLeaf(t & 0xFFFFFF);
        }
    EXPECT_EQ(green, 48 * 48);
    EXPECT_GT(transparentBled, 0) << "clear texels take the leaf's colour";
    const Level fade = readLevel(branch.fade);
    ASSERT_EQ(fade.texels.size(), 16u);
    const uint32_t alphas[4] = {0, 49, 138, 255};
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x)
            EXPECT_EQ(fade.at(x, y) >> 24, alphas[y]) << y;

    // Inside a recorder's scope of the same thread the picture does not wait.
    {
        RenderHandshake::Record recording;
        TextureRef again;
        branch.makeCards(card, &again, param, nullptr);
        EXPECT_TRUE(again.isBound());
        EXPECT_TRUE(RenderHandshake::pauseRequested());
    }
    EXPECT_FALSE(RenderHandshake::renderBusy());

    // A leaf without its texture is drawn in its colour; the stage-0 alpha
    // is the texture's again for whatever draws next.
    branch.leaves[0]->texture.release();
    TextureRef plain;
    branch.makeCards(card, &plain, param, nullptr);
    DWORD alphaArgument = 0;
    gDevice->GetTextureStageState(0, D3DTSS_ALPHAARG1, &alphaArgument);
    EXPECT_EQ(alphaArgument, DWORD(D3DTA_TEXTURE));
}

// The leafy sample's branch pictured with its bark: the bark and leaves are
// lit by the picture's light through the branch's material, so a material
// without ambient or diffuse light leaves every opaque texel dark.
TEST_F(TreeDevice, ABranchPictureLightsItsBarkAndLeavesThroughTheMaterial)
{
    Tree tree;
    ByteStream stream(TreeSamples::leafyTree(false));
    tree.generate(stream);
    ASSERT_EQ(tree.foliageCount(), 1u);
    Tree::Foliage& leaves = *tree.foliage(0);
    struct Case
    {
        float ambient, diffuse;
        bool lit;
    };
    for (const Case& c : {Case{0.6f, 1.0f, true}, Case{0.0f, 0.0f, false}}) {
        SCOPED_TRACE(testing::Message() << "ambient " << c.ambient << ", diffuse " << c.diffuse);
        Tree::Branch::Param param = leaves.param().branch;
        param.pictureSize = {128, 128};
        param.ambient = c.ambient;
        param.diffuse = c.diffuse;
        Tree::Branch::SourceMesh card{String(L"card")};
        TextureRef picture;
        leaves.branch.makeCards(card, &picture, param, tree.barkTexture());
        ASSERT_TRUE(picture.isBound());
        const Level texels = decodePicture(picture);
        ASSERT_EQ(texels.texels.size(), 128u * 128u);
        int opaque = 0, bark = 0, bright = 0;
        for (uint32_t t : texels.texels) {
            if (t >> 24 != 255)
                continue;
            ++opaque;
            bark += isBark(t & 0xFFFFFF);
            bright += (t >> 16 & 0xFF) > 24 || (t >> 8 & 0xFF) > 24 || (t & 0xFF) > 24;
        }
        EXPECT_GT(opaque, 200) << "the branch covers the picture";
        if (c.lit) {
            EXPECT_GT(bark, 20) << "bark-brown texels";
        } else {
            EXPECT_EQ(bright, 0) << "unlit texels stay dark";
        }
    }
}
