// Sub-entities on the real device of the test window: a stored mesh drawn
// through its state blocks, with and without a user clip plane, and as a
// shadow caster; the pixels are read back.
#include "../Render/TestDevice.h"

#include "EntityTestSupport.h"

#include "Render/DirectGraphics.h"

using namespace TestDevice;
using namespace EntityTests;

namespace {

constexpr uint32_t meshColour = 0xFF20C040u;
constexpr uint32_t otherColour = 0xFF8080FFu;
constexpr uint32_t clearColour = 0xFF102030u;

class EntityDevice : public DeviceSuite
{
protected:
    // Clears, runs draw in the frame's after-scene hook with identity
    // transforms and the texture factor as colour, and returns the pixels.
    static Level drawFrame(const std::function<void()>& draw)
    {
        client->afterScene = [&] {
            IDirect3DDevice9* d = gDevice;
            const matrix3d identity = matrix3d::identity();
            for (D3DTRANSFORMSTATETYPE t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION})
                d->SetTransform(t, reinterpret_cast<const D3DMATRIX*>(&identity));
            d->SetRenderState(D3DRS_LIGHTING, FALSE);
            d->SetRenderState(D3DRS_ZENABLE, FALSE);
            d->SetRenderState(D3DRS_FOGENABLE, FALSE);
            d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
            d->SetRenderState(D3DRS_TEXTUREFACTOR, otherColour);
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

    // Pixels away from the middle lines that differ from colour where
    // shown(x, y) and from the clear colour elsewhere (RGB only).
    static int wrongPixels(const Level& pixels, uint32_t colour, const std::function<bool(uint32_t, uint32_t)>& shown)
    {
        return wrongTexels(pixels, [&](uint32_t x, uint32_t y) {
            if ((x > 150 && x < 170) || (y > 110 && y < 130))
                return pixels.at(x, y);
            return shown(x, y) ? colour : clearColour;
        }, 0xFFFFFF);
    }

    static DWORD renderState(D3DRENDERSTATETYPE state)
    {
        DWORD value = 0;
        gDevice->GetRenderState(state, &value);
        return value;
    }
};

TEST_F(EntityDevice, SubEntityDrawsThroughStateBlocksAndClipPlanes)
{
    // A screen-filling quad; a seventh index that makes no triangle.
    auto quad = meshOf(L"screen quad", {});
    const vec3d corners[4] = {{-1, -1, 0.5f}, {-1, 1, 0.5f}, {1, 1, 0.5f}, {1, -1, 0.5f}};
    for (int i = 0; i < 4; ++i)
        *quad->getVertexData(i)->position = corners[i];
    *quad->getVertexCount() = 4;
    for (uint16_t index : {0, 1, 2, 0, 2, 3, 0})
        quad->addIndex(index);
    quad->calcBounds();

    EntityManager manager;
    EntityManager::Entity entity(manager);
    int draws = 0;
    EntityManager::SubEntity* sub = entity.addStoredMesh(
        *quad, false, false, [](Shader&) { gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, meshColour); },
        [&](Shader&) { ++draws; });
    ASSERT_NE(sub, nullptr);
    const EntityManager::StoredMesh& mesh = sub->mesh();
    EXPECT_EQ(mesh.indexCount, 7u);
    EXPECT_EQ(mesh.triangleCount, 2u) << "an index count not a multiple of 3 rounds down";
    sub->material.cullMode = Shader::cullNone;
    sub->recordStateBlocks();
    ASSERT_NE(sub->material.applyBlock, nullptr);
    ASSERT_NE(sub->material.saveBlock, nullptr);

    uint32_t& clipPlanes = gDirectGraphics.record.clipPlaneCount;
    const auto drawSub = [&] {
        sub->mesh().bind();
        const uint32_t primitives = gDirectGraphics.record.primitiveCount;
        sub->render();
        EXPECT_EQ(gDirectGraphics.record.primitiveCount, primitives + 2);
        EXPECT_EQ(renderState(D3DRS_TEXTUREFACTOR), otherColour) << "the save block restores the states";
        EXPECT_EQ(renderState(D3DRS_CLIPPLANEENABLE), (1u << clipPlanes) - 1u) << "the mask is left as found";
    };

    // Keep x >= 0: the left half stays empty.
    sub->clipPlaneEnabled = 1;
    sub->clipPlane[0] = 1.0f;
    sub->clipPlane[1] = 0.0f;
    Level pixels = drawFrame(drawSub);
    EXPECT_EQ(wrongPixels(pixels, meshColour, [](uint32_t x, uint32_t) { return x >= 160; }), 0);
    EXPECT_EQ(clipPlanes, 0u);

    // Without its plane the next draw covers the screen.
    sub->clipPlaneEnabled = 0;
    pixels = drawFrame(drawSub);
    EXPECT_EQ(wrongPixels(pixels, meshColour, [](uint32_t, uint32_t) { return true; }), 0);

    // Inside a pass that clips already (keep y >= 0, the upper half), the
    // sub-entity's plane comes on top of it.
    sub->clipPlaneEnabled = 1;
    pixels = drawFrame([&] {
        const float upper[4] = {0.0f, 1.0f, 0.0f, 0.0f};
        gDevice->SetClipPlane(0, upper);
        clipPlanes = 1;
        gDevice->SetRenderState(D3DRS_CLIPPLANEENABLE, 1);
        drawSub();
        EXPECT_EQ(clipPlanes, 1u);
        clipPlanes = 0;
        gDevice->SetRenderState(D3DRS_CLIPPLANEENABLE, 0);
    });
    EXPECT_EQ(wrongPixels(pixels, meshColour, [](uint32_t x, uint32_t y) { return x >= 160 && y < 120; }), 0);
    EXPECT_EQ(draws, 3);

    // As a caster the mesh is black; the state blocks play no part.
    sub->clipPlaneEnabled = 0;
    pixels = drawFrame([&] {
        sub->mesh().bind();
        sub->renderShadow();
    });
    EXPECT_EQ(wrongPixels(pixels, 0, [](uint32_t, uint32_t) { return true; }), 0);
    EXPECT_EQ(draws, 3);

    // An alpha-tested caster cuts out its texture's transparent half, with
    // the material's addressing (clamped: no wrapped texels at the edge).
    sub->material.alphaTest = 1;
    sub->material.addressU[0] = sub->material.addressV[0] = D3DTADDRESS_CLAMP;
    sub->material.textures[0] = makeTexture(16, 16, D3DFMT_A8R8G8B8, [](uint32_t x, uint32_t) {
        return x < 8 ? 0x00FFFFFFu : 0xFFFFFFFFu;
    });
    for (int i = 0; i < 4; ++i)
        *quad->getVertexData(i)->uv = {corners[i].x * 0.5f + 0.5f, 0.5f - corners[i].y * 0.5f};
    sub->mesh().build(*quad, false);
    pixels = drawFrame([&] {
        sub->mesh().bind();
        sub->renderShadow();
        EXPECT_EQ(renderState(D3DRS_ALPHATESTENABLE), DWORD(FALSE));
        EXPECT_EQ(renderState(D3DRS_ALPHABLENDENABLE), DWORD(FALSE));
        EXPECT_EQ(renderState(D3DRS_SEPARATEALPHABLENDENABLE), DWORD(FALSE));
        IDirect3DBaseTexture9* left = nullptr;
        gDevice->GetTexture(0, &left);
        EXPECT_EQ(left, nullptr) << "the caster's texture stays behind";
        if (left)
            left->Release();
    });
    EXPECT_EQ(wrongPixels(pixels, 0, [](uint32_t x, uint32_t) { return x >= 160; }), 0);
    sub->material.textures[0].release();

    // The entity drawn outside the octrees: the same pixels as a plain draw.
    sub->material.alphaTest = 0;
    pixels = drawFrame([&] { entity.renderImmediate(); });
    EXPECT_EQ(wrongPixels(pixels, meshColour, [](uint32_t, uint32_t) { return true; }), 0);
    EXPECT_EQ(renderState(D3DRS_NORMALIZENORMALS), DWORD(FALSE));
}

}
