// Shader records on the real device: cull modes, texture transforms, the
// state-block pair and the texture references.
#include "TestDevice.h"

#include "Render/Shader.h"

using namespace TestDevice;

namespace {

class ShaderStates : public DeviceSuite
{
protected:
    struct Vertex
    {
        float x, y, z;
        float u, v;
    };

    // Draws, in clip space, a triangle of each winding over the left and
    // right halves, textured with texture; returns the two centre pixels.
    static std::pair<uint32_t, uint32_t> drawWindings(const TextureRef& texture, const std::function<void()>& states)
    {
        const matrix3d identity = matrix3d::identity();
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        gDevice->BeginScene();
        for (auto t : {D3DTS_WORLD, D3DTS_VIEW, D3DTS_PROJECTION})
            gDevice->SetTransform(t, reinterpret_cast<const D3DMATRIX*>(identity.m));
        gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        gDevice->SetTexture(0, texture.texture()->texture);
        states();
        // Clockwise on the screen on the left, counter-clockwise on the right.
        const Vertex left[3] = {{-1, 1, 0.5f, 0, 0}, {0, -1, 0.5f, 1, 1}, {-1, -1, 0.5f, 0, 1}};
        const Vertex right[3] = {{0, 1, 0.5f, 0, 0}, {0, -1, 0.5f, 0, 1}, {1, -1, 0.5f, 1, 1}};
        gDevice->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
        gDevice->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, left, sizeof(Vertex));
        gDevice->DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, right, sizeof(Vertex));
        gDevice->SetTexture(0, nullptr);
        gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
        gDevice->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
        gDevice->SetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        gDevice->EndScene();
        const Level pixels = readSurface(c.targets[0].surface);
        keepView(c.targets[0].surface);
        c.present();
        return {pixels.at(60, 180) & 0xFFFFFF, pixels.at(180, 180) & 0xFFFFFF};
    }
};

TEST_F(ShaderStates, CullModesAndTextureTransforms)
{
    // Left half of the texture white, right half red.
    const TextureRef halves =
        makeTexture(4, 4, D3DFMT_A8R8G8B8, [](uint32_t x, uint32_t) { return x < 2 ? 0xFFFFFFFFu : 0xFFFF0000u; });
    constexpr uint32_t white = 0xFFFFFF, red = 0xFF0000, none = 0;
    struct Case
    {
        uint32_t cullMode;
        uint32_t left, right; // shown colours (none: culled)
    };
    // Entry 0 leaves the cull state as the pass set it (none).
    for (const Case& c : {Case{0, white, white}, Case{Shader::cullNone, white, white}, Case{Shader::cullBack, none, white},
                          Case{Shader::cullFront, white, none}}) {
        SCOPED_TRACE(c.cullMode);
        Shader shader;
        shader.cullMode = c.cullMode;
        const auto shown = drawWindings(halves, [&] {
            gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
            shader.setCullMode();
        });
        EXPECT_EQ(shown.first, c.left);
        EXPECT_EQ(shown.second, c.right);
    }

    // A transform on stage 0 that mirrors u shows the other half; without
    // its flag the matrix is not set.
    for (uint32_t flag : {0u, uint32_t(D3DTTFF_COUNT2)}) {
        Shader shader;
        shader.cullMode = Shader::cullNone;
        shader.textureTransforms[0].at(0, 0) = -1.0f;
        shader.textureTransforms[0].at(2, 0) = 1.0f; // u' = 1 - u (the third row carries the constant)
        shader.transformFlags[0] = flag;
        const auto shown = drawWindings(halves, [&] {
            shader.setCullMode();
            shader.setTextureTransforms();
        });
        EXPECT_EQ(shown.first, flag ? red : white);
    }

    // Each stage's transform goes to that stage and no other: the texture
    // drawn through stage 1 or 2 (from the first coordinates) shows the
    // column mirrored from the one the left centre samples (u 0.375), stage
    // 3, which no shader stage reaches, the column itself.
    const uint32_t columns[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
    const TextureRef fourColumns =
        makeTexture(4, 4, D3DFMT_A8R8G8B8, [&](uint32_t x, uint32_t) { return columns[x]; });
    for (DWORD stage : {1u, 2u, 3u}) {
        SCOPED_TRACE(stage);
        Shader shader;
        if (stage < Shader::stages) {
            shader.cullMode = Shader::cullNone;
            shader.textureTransforms[stage].at(0, 0) = -1.0f;
            shader.textureTransforms[stage].at(2, 0) = 1.0f;
            shader.transformFlags[stage] = D3DTTFF_COUNT2;
        }
        const auto shown = drawWindings(fourColumns, [&] {
            for (DWORD s = 1; s < stage; ++s) {
                gDevice->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
                gDevice->SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_CURRENT);
            }
            gDevice->SetTexture(stage, fourColumns.texture()->texture);
            gDevice->SetSamplerState(stage, D3DSAMP_MAGFILTER, D3DTEXF_POINT);
            gDevice->SetSamplerState(stage, D3DSAMP_MINFILTER, D3DTEXF_POINT);
            gDevice->SetTextureStageState(stage, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
            gDevice->SetTextureStageState(stage, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            gDevice->SetTextureStageState(stage, D3DTSS_TEXCOORDINDEX, 0);
            shader.setCullMode();
            shader.setTextureTransforms();
        });
        for (DWORD s = 1; s <= stage; ++s) {
            gDevice->SetTexture(s, nullptr);
            gDevice->SetSamplerState(s, D3DSAMP_MAGFILTER, D3DTEXF_LINEAR);
            gDevice->SetSamplerState(s, D3DSAMP_MINFILTER, D3DTEXF_LINEAR);
            gDevice->SetTextureStageState(s, D3DTSS_COLOROP, D3DTOP_DISABLE);
            gDevice->SetTextureStageState(s, D3DTSS_COLORARG1, D3DTA_TEXTURE);
            gDevice->SetTextureStageState(s, D3DTSS_TEXCOORDINDEX, s);
            gDevice->SetTextureStageState(s, D3DTSS_TEXTURETRANSFORMFLAGS, D3DTTFF_DISABLE);
        }
        EXPECT_EQ(shown.first, (stage < Shader::stages ? columns[2] : columns[1]) & 0xFFFFFF);
    }
}

TEST_F(ShaderStates, StateBlocksApplyOnlyAsAPairAndTexturesAreLetGo)
{
    const TextureRef white = makeTexture(4, 4, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return ~0u; });
    const auto record = [] {
        IDirect3DStateBlock9* block = nullptr;
        gDevice->BeginStateBlock();
        gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        gDevice->EndStateBlock(&block);
        return block;
    };
    for (int blocks = 1; blocks <= 2; ++blocks) {
        Shader shader;
        shader.applyBlock = record();
        if (blocks == 2)
            shader.saveBlock = record();
        const auto shown = drawWindings(white, [&] { shader.applyStateBlocks(); });
        EXPECT_EQ(shown.first, 0xFFFFFFu); // clockwise is never culled
        EXPECT_EQ(shown.second, blocks == 2 ? 0xFFFFFFu : 0u);
        // The save block took the cull mode in force before the apply.
        if (blocks == 2) {
            const auto restored = drawWindings(white, [&] {
                shader.applyStateBlocks();
                shader.saveBlock->Apply();
            });
            EXPECT_EQ(restored.second, 0u);
        }
        shader.releaseStateBlocks();
        EXPECT_EQ(shader.saveBlock, nullptr);
        EXPECT_EQ(shader.applyBlock, nullptr);
    }

    // The shader's references are the only ones: releasing them destroys the
    // record; empty references stay empty.
    const auto records = TextureList::records().count();
    {
        Shader shader;
        ASSERT_TRUE(Texture::create(shader.textures[1], String(L"only"), 4, 4, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
        EXPECT_EQ(TextureList::records().count(), records + 1);
        shader.releaseTextures();
        EXPECT_EQ(TextureList::records().count(), records);
        EXPECT_FALSE(shader.textures[0].isBound());
        EXPECT_FALSE(shader.textures[1].isBound());
    }
    EXPECT_EQ(TextureList::records().count(), records);
}

}
