// Meshes on the real device of the test window: buffers drawn and read back.
// The tests share one device and run in the order written.
#include "../Render/TestDevice.h"

#include "MeshTestSupport.h"

#include "Entity/D3DMesh.h"

#include "MeshSamples.h"

using namespace TestDevice;

namespace {

class MeshDevice : public DeviceSuite
{
protected:
    // Clears to clearColour, runs draw inside the frame's passes and returns
    // the frame's pixels.
    static Level drawFrame(const std::function<void()>& draw)
    {
        client->afterScene = [&] {
            IDirect3DDevice9* d = gDevice;
            const matrix3d identity = matrix3d::identity();
            for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION})
                d->SetTransform(t, reinterpret_cast<const D3DMATRIX*>(&identity));
            d->SetRenderState(D3DRS_LIGHTING, FALSE);
            d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            d->SetRenderState(D3DRS_ZENABLE, FALSE);
            d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
            d->SetRenderState(D3DRS_FOGENABLE, FALSE);
            d->SetRenderState(D3DRS_TEXTUREFACTOR, meshColour);
            d->SetTexture(0, nullptr);
            d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
            d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
            d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
            draw();
            d->SetRenderState(D3DRS_LIGHTING, TRUE);
            d->SetRenderState(D3DRS_ZENABLE, TRUE);
            d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        };
        D3D::Device::SwapChain* frame = chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        frame->render(true);
        Level pixels = readSurface(frame->targets[0].surface);
        frame->present();
        client->afterScene = nullptr;
        return pixels;
    }

    // Pixels off the quad's edges: inside the half that shows it, or not.
    static int wrongHalves(const Level& pixels, bool leftDrawn, bool rightDrawn)
    {
        return wrongTexels(pixels, [&](uint32_t x, uint32_t) {
            if (x > 150 && x < 170)
                return pixels.at(x, 0); // the edge: whatever the rasteriser chose
            return (x < 160 ? leftDrawn : rightDrawn) ? meshColour : clearColour;
        }, 0xFFFFFF);
    }

    static constexpr uint32_t meshColour = 0xFFC02040u;
    static constexpr uint32_t clearColour = 0xFF102030u;
};

template <class M>
void drawnMesh(const char* name, const std::function<Level(const std::function<void()>&)>& frame,
               const std::function<int(const Level&, bool, bool)>& wrong)
{
    using Buffers = D3DMesh<typename M::Vertex, M::fvf>;
    M mesh(String(L"quad"));
    const vec3d corners[4] = {{-1, -1, 0.5f}, {-1, 1, 0.5f}, {0, 1, 0.5f}, {0, -1, 0.5f}};
    for (int i = 0; i < 4; ++i)
        *mesh.getVertexData(i)->position = corners[i];
    *mesh.getVertexCount() = 4;
    mesh.addTriangle(0, 1, 2);
    mesh.addTriangle(0, 2, 3);
    Buffers buffers;
    EXPECT_EQ(buffers.vertexCount + buffers.indexCount + buffers.triangleCount, 0u) << "nothing to draw yet";
    ASSERT_TRUE(buffers.upload(mesh)) << name;
    EXPECT_EQ(buffers.vertexCount, 4u) << name;
    EXPECT_EQ(buffers.indexCount, 6u) << name;
    EXPECT_EQ(buffers.triangleCount, 2u) << name;
    const auto drawBuffers = [&] {
        buffers.bind();
        gDevice->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 0, buffers.vertexCount, 0, buffers.triangleCount);
    };
    EXPECT_EQ(wrong(frame(drawBuffers), true, false), 0) << name;

    // A bone moving every vertex one unit right: the buffer holds the pose;
    // a bone vertex past the vertex count is skipped.
    Bone* bone = new Bone;
    bone->skinMatrix.m[12] = 1.0f;
    bone->vertices.resize(5);
    for (int i = 0; i < 5; ++i)
        *bone->vertices.at(i) = {uint16_t(i == 4 ? 4000 : i), 0, 0};
    bone->vertexCount = 5;
    mesh.getBoneAnim()->bones.append(bone);
    ASSERT_TRUE(buffers.upload(mesh)) << name;
    EXPECT_EQ(wrong(frame(drawBuffers), false, true), 0) << name;
    EXPECT_EQ(*mesh.getVertexData(0)->position, corners[0]) << name << ": the mesh keeps its own vertices";

    *mesh.getIndexCount() = 0;
    ASSERT_TRUE(buffers.upload(mesh)) << name;
    EXPECT_EQ(buffers.indexBuffer, nullptr) << name << ": no indices, no index buffer";
    EXPECT_EQ(buffers.indexCount, 0u) << name;
    buffers.release();
    EXPECT_EQ(buffers.vertexBuffer, nullptr);
    EXPECT_EQ(buffers.triangleCount, 0u);
    PointMesh empty(String(L"empty"));
    D3DMesh<vec3d, 2> none;
    EXPECT_TRUE(none.upload(empty)) << "an empty mesh needs no buffers";
    EXPECT_EQ(none.vertexBuffer, nullptr);
}

TEST_F(MeshDevice, UploadedMeshesDrawTheirPose)
{
    drawnMesh<PointMesh>("vec3d", drawFrame, wrongHalves);
    drawnMesh<EntityMesh>("entity", drawFrame, wrongHalves);
}

// A model whose textures are the given ones, and the texture its mesh ends with.
TextureRef decodedTexture(std::vector<MeshWriter::Model::Texture> textures)
{
    MeshWriter::Model model = MeshSamples::model();
    model.textures = std::move(textures);
    EntityMesh mesh(String(L"m"));
    decode(mesh, bytesOf(MeshWriter::writeModel, model), 1);
    EXPECT_EQ(*mesh.getVertexCount(), 36);
    return *mesh.getTexture();
}

std::vector<uint16_t> pixels(uint32_t width, uint32_t height)
{
    std::vector<uint16_t> out;
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            out.push_back(uint16_t(x * 2053u + y * 977u));
    return out;
}

uint16_t expectedTexel(uint16_t stored)
{
    const uint32_t red = stored >> 11, green = (stored >> 6) & 31, blue = stored & 31;
    return uint16_t(0x8000 | red << 10 | green << 5 | blue);
}

TEST_F(MeshDevice, ModelTexturesBecomeManagedA1R5G5B5Textures)
{
    // The sample: a 64 x 64 type-2 texture of red, green, blue and white.
    TextureRef sample = decodedTexture(MeshSamples::model().textures);
    ASSERT_TRUE(sample.isBound());
    IDirect3DTexture9* texture = sample.texture()->texture;
    ASSERT_NE(texture, nullptr);
    EXPECT_EQ(texture->GetLevelCount(), 7u) << "64 x 64: a full chain";
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A1R5G5B5);
    EXPECT_EQ(desc.Pool, D3DPOOL_MANAGED);
    const Level stripes = readLevel(sample);
    const std::vector<uint16_t> stored = MeshSamples::model().textures[0].pixels;
    EXPECT_EQ(stripes.at(0, 0), 0xFC00u) << "pure red 0xF800";
    EXPECT_EQ(stripes.at(8, 0), 0x83E0u) << "pure green 0x07E0";
    EXPECT_EQ(stripes.at(24, 0), 0xFFFFu);
    EXPECT_EQ(wrongTexels(stripes, [&](uint32_t x, uint32_t y) { return expectedTexel(stored[y * 64 + x]); }), 0);
    EXPECT_NE(readLevel(sample, 6).texels.size(), 0u) << "the smallest level is filled";

    struct Case
    {
        uint32_t type, width, height, levels;
    };
    for (const Case& c : {Case{2, 100, 60, 1}, Case{2, 256, 64, 9}, Case{10, 100, 60, 7}, Case{2, 2, 2, 1}}) {
        TextureRef made = decodedTexture({{c.type, c.width, c.height, pixels(c.width, c.height)}});
        ASSERT_TRUE(made.isBound()) << c.width;
        EXPECT_EQ(made.texture()->texture->GetLevelCount(), c.levels) << c.type << " " << c.width << "x" << c.height;
        const std::vector<uint16_t> p = pixels(c.width, c.height);
        EXPECT_EQ(wrongTexels(readLevel(made), [&](uint32_t x, uint32_t y) { return expectedTexel(p[y * c.width + x]); }), 0);
    }
    EXPECT_FALSE(decodedTexture({{3, 64, 64, {}}}).isBound()) << "type 3 carries no image";

    // The mesh keeps the last texture; sides are capped while the limit holds.
    D3D::Device& record = gDirectGraphics.record;
    const uint32_t oldLimit = record.maxTextureSize;
    record.maxTextureSize = 32;
    TextureRef capped = decodedTexture({{2, 16, 16, pixels(16, 16)}, {2, 96, 20, pixels(96, 20)}});
    record.maxTextureSize = oldLimit;
    const Level level = readLevel(capped);
    ASSERT_EQ(level.width, 32u);
    ASSERT_EQ(level.height, 20u);
    const std::vector<uint16_t> last = pixels(96, 20);
    EXPECT_EQ(wrongTexels(level, [&](uint32_t x, uint32_t y) { return expectedTexel(last[y * 96 + x * 3]); }), 0);
}

}
