// Every effect pass leaves the device's states as it found them: a
// reference scene drawn before and after it reads the same.
#include "TestDevice.h"

#include "Entity/ParticleSystem.h"
#include "Entity/SpriteManager.h"
#include "Render/EnvMap.h"
#include "Render/GpuSmooth.h"
#include "Render/RenderTexture.h"
#include "Render/StripEffectManager.h"

using namespace TestDevice;

namespace {

class FlatSprite final : public EnvMap::Sprite
{
public:
    void draw() override {}
};

class Ribbon final : public StripEffectItem
{
public:
    void writeVertices(StripEffectRing& ring) override
    {
        if (StripVertex* v = ring.reserve(6, 4))
            for (int i = 0; i < 6; ++i)
                v[i] = {{float(i / 2), float(i % 2), 5.0f}, {0.0f, 0.0f, -1.0f}, 0.0f, 0.0f};
    }
};

uint32_t showParticle(Particle& particle)
{
    particle.hidden = 0;
    particle.position = {0.0f, 0.0f, 5.0f};
    return 1;
}

class PassStates : public DeviceSuite
{
protected:
    void SetUp() override
    {
        texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, pattern());
        before = referenceScene(chain(), texture);
        ASSERT_EQ(before.width, 320u);
    }

    TextureRef texture;
    Level before;
};

TEST_F(PassStates, TheReferenceSceneShowsEveryStateThatLeaks)
{
    struct Leak
    {
        const char* name;
        std::function<void(IDirect3DDevice9*)> apply;
    };
    const Leak leaks[] = {
        {"depth test", [](auto d) { d->SetRenderState(D3DRS_ZENABLE, FALSE); }},
        {"depth writes", [](auto d) { d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE); }},
        {"blending", [](auto d) { d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE); }},
        {"source blend", [](auto d) { d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE); }},
        {"destination blend", [](auto d) { d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE); }},
        {"culling", [](auto d) { d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE); }},
        {"addressing", [](auto d) { d->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_CLAMP); }},
        {"filter", [](auto d) { d->SetSamplerState(0, D3DSAMP_MAGFILTER, D3DTEXF_POINT); }},
        {"colour operation", [](auto d) { d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1); }},
        {"alpha operation", [](auto d) { d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2); }},
        {"second stage", [](auto d) {
             d->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SUBTRACT);
             d->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_CURRENT);
             d->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_TFACTOR);
             d->SetRenderState(D3DRS_TEXTUREFACTOR, 0x00404040);
         }},
        {"colour writes", [](auto d) { d->SetRenderState(D3DRS_COLORWRITEENABLE, 7); }},
        {"alpha test", [](auto d) {
             d->SetRenderState(D3DRS_ALPHATESTENABLE, TRUE);
             d->SetRenderState(D3DRS_ALPHAREF, 0x80);
         }},
    };
    for (const Leak& leak : leaks) {
        SCOPED_TRACE(leak.name);
        leak.apply(gDevice);
        EXPECT_GT(wrongTexels(referenceScene(chain(), texture), [&](uint32_t x, uint32_t y) { return before.at(x, y); }),
                  0);
        D3D::Device::setInitialStates();
        gDevice->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        gDevice->SetRenderState(D3DRS_ALPHATESTENABLE, FALSE);
        gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        gDevice->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
        gDevice->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP);
        gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        gDevice->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
        gDevice->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        gDevice->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
        ASSERT_EQ(wrongTexels(referenceScene(chain(), texture), [&](uint32_t x, uint32_t y) { return before.at(x, y); }),
                  0);
    }
}

TEST_F(PassStates, EffectPassesLeaveTheStatesAsTheyFoundThem)
{
    D3D::Device& record = gDirectGraphics.record;
    GpuSmooth::configure(64, record.postEffect, 120, 170);
    client->effectScene = [] { gDevice->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFFFFFFFF, 1.0f, 0); };
    GpuSmooth cubeSmoother;
    ASSERT_TRUE(cubeSmoother.create({32.0f, 32.0f}, 1, 1, 1.0f, -1, -1));
    EnvMap map(nullptr, nullptr);
    map.size = 32;
    map.levels = 2;
    map.faceTarget = RenderTexture::acquire(RenderTexture::shared, 32, 32, false, true, -1, D3DFMT_A8R8G8B8);
    ASSERT_TRUE(EnvMap::restore(map));
    map.sunFlag = 1;
    map.sunSprite = new FlatSprite;
    Ribbon ribbon;
    StripEffectGroup group;
    group.items.append(&ribbon);
    StripEffectManager manager;
    manager.createStripIndices();
    manager.createVertices();
    manager.groups.append(&group);
    ConvexVolume everywhere;
    everywhere.setFromMatrix(chain().viewProjection);

    SpriteManager::Sprite sprite;
    SpriteManager::createSprite(sprite, chain(), nullptr, String(), 1);
    sprite.textures[0] = texture;
    auto& spriteSettings = static_cast<SpriteManager::Rendersettings&>(*sprite.settings);
    spriteSettings.alphaBlending = spriteSettings.alphaTest = spriteSettings.twoSided = 1;
    spriteSettings.keepFog = spriteSettings.depthWrite = 0;
    spriteSettings.stage1Operation = D3DTOP_MODULATE;
    sprite.textureRotation[0] = sprite.textureRotation[1] = 30.0f;
    ParticleSystem particles(showParticle, D3DBLEND_ONE, chain(), texture, 3, D3DBLEND_ONE, 1, true, false, false);
    particles.stopped = 0;

    struct Pass
    {
        const char* name;
        std::function<void()> run;
    };
    const Pass passes[] = {
        {"blur, weighted", [&] { record.postEffect.smoother->run(texture, 0, false, false); }},
        {"frame with glow",
         [&] {
             chain().beginFrame();
             chain().render(false);
             chain().present();
         }},
        {"blur into a cube face", [&] { cubeSmoother.run(texture, 1, true, true); }},
        {"environment map", [&] { EnvMap::render(map, {}); }},
        {"strip group", [&] { group.render(chain().stripEffects->ring); }},
        {"strip effects in a volume", [&] { manager.drawInVolume(everywhere); }},
        {"sprites", [&] { chain().sprites->render(); }},
        {"a single sprite", [&] { sprite.renderSingle(); }},
        {"particles", [&] { chain().particles->render(true); }},
    };
    for (const Pass& pass : passes) {
        SCOPED_TRACE(pass.name);
        chain().beginFrame();
        gDevice->BeginScene();
        pass.run();
        gDevice->EndScene();
        chain().present();
        EXPECT_EQ(wrongTexels(referenceScene(chain(), texture), [&](uint32_t x, uint32_t y) { return before.at(x, y); }),
                  0);
    }
    client->effectScene = nullptr;
    GpuSmooth::configure(0, record.postEffect, 0, 0);
}

}
