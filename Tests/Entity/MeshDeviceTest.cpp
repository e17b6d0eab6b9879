// Meshes on the real device of the test window: buffers drawn and read back.
// The tests share one device and run in the order written.
#include "../Render/TestDevice.h"

#include "MeshTestSupport.h"

#include "Entity/D3DMesh.h"

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

}
