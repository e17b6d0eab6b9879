// The swap chain's entity manager on the real device of the test window:
// the entity pass (culled, hidden and mirror-masked entities), the state
// blocks across a reset, a projected light on one entity, the barrier band,
// and the lens flares' occlusion test; the pixels are read back.
#include "../Render/TestDevice.h"

#include "EntityTestSupport.h"

#include "Entity/CollisionBody.h"
#include "Render/DirectGraphics.h"
#include "Render/LightProj.h"
#include "Render/RenderTexture.h"
#include "Render/ShadowProj.h"

using namespace TestDevice;
using namespace EntityTests;
using Entity = EntityManager::Entity;
using SubEntity = EntityManager::SubEntity;

namespace {

constexpr uint32_t clearColour = 0xFF102030u;

// A unit quad facing the camera (normals along -z) in the x-y plane; rays
// along +z meet its front.
std::unique_ptr<EntityMesh> facingQuad(const wchar_t* name)
{
    auto quad = meshOf(name, {});
    const vec3d corners[4] = {{-1, -1, 0}, {-1, 1, 0}, {1, 1, 0}, {1, -1, 0}};
    for (int i = 0; i < 4; ++i) {
        *quad->getVertexData(i)->position = corners[i];
        *quad->getVertexData(i)->normal = {0.0f, 0.0f, -1.0f};
    }
    *quad->getVertexCount() = 4;
    for (uint16_t index : {0, 2, 1, 0, 3, 2})
        quad->addIndex(index);
    quad->calcBounds();
    return quad;
}

// Unlit, in one colour through the sub-entity's state blocks.
EntityManager::SubEntity::StateCallback flat(uint32_t colour)
{
    return [colour](Shader&) {
        IDirect3DDevice9* d = gDevice;
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetRenderState(D3DRS_TEXTUREFACTOR, colour);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
    };
}

// Clears a shadow map's target (its left half only with leftHalf) to colour.
void fillMap(D3D::Device::SwapChain& c, ShadowMap& map, uint32_t colour, bool leftHalf = false)
{
    c.pushRenderTarget(map.renderTexture->renderSurface, map.depthSurfaces[0]);
    const D3DRECT left{0, 0, map.size / 2, map.size};
    gDevice->Clear(leftHalf ? 1 : 0, leftHalf ? &left : nullptr, D3DCLEAR_TARGET, colour, 1.0f, 0);
    c.popRenderTarget();
}

uint32_t channelSum(uint32_t c)
{
    return (c & 0xFF) + (c >> 8 & 0xFF) + (c >> 16 & 0xFF);
}

class EntityPass : public DeviceSuite
{
protected:
    void SetUp() override
    {
        D3D::Device::SwapChain& c = chain();
        c.fogEnabled = 0;
        c.range = 1800.0f;
        lookAlongZ(c, {0.0f, 0.0f, -10.0f});
        chain().shadowCasters = chain().entities;
    }

    void TearDown() override { client->afterScene = nullptr; }

    static EntityManager& manager() { return *chain().entities; }

    // A quad of colour placed at (x, y, z), its state blocks recorded.
    std::unique_ptr<Entity> place(const vec3d& at, uint32_t colour)
    {
        auto entity = std::make_unique<Entity>(manager());
        SubEntity* sub = entity->addStoredMesh(*quad, false, false, flat(colour), nullptr);
        sub->material.cullMode = Shader::cullNone;
        sub->recordStateBlocks();
        entity->world.setRow(3, at);
        entity->onMoved();
        return entity;
    }

    // The colour where p shows; 0xDEADBEEF when it is off the screen.
    uint32_t pixelAt(const Level& pixels, const vec3d& p) const
    {
        const vec2d s = screenPoint(chain(), p);
        if (!(s.x >= 0.0f && s.y >= 0.0f && s.x < float(pixels.width) && s.y < float(pixels.height)))
            return 0xDEADBEEFu;
        return pixels.at(uint32_t(s.x), uint32_t(s.y)) & 0xFFFFFF;
    }

    std::unique_ptr<EntityMesh> quad = facingQuad(L"facing quad");
};

TEST_F(EntityPass, CulledHiddenAndMirrorMaskedEntitiesAreNotDrawn)
{
    auto shown = place({-3.0f, 0.0f, 0.0f}, 0xFF20C040u);
    auto hidden = place({0.0f, 0.0f, 0.0f}, 0xFFC02040u);
    auto masked = place({3.0f, 0.0f, 0.0f}, 0xFF4020C0u);
    auto behind = place({0.0f, 0.0f, -30.0f}, 0xFFFFFFFFu);
    hidden->hidden = 1;
    masked->reflectionMask = 1;

    gDirectGraphics.record.primitiveCount = 0;
    Level pixels = drawFrame(chain(), clearColour);
    EXPECT_EQ(pixelAt(pixels, {-3.0f, 0.0f, 0.0f}), 0x20C040u);
    EXPECT_EQ(pixelAt(pixels, {0.0f, 0.0f, 0.0f}), clearColour & 0xFFFFFF);
    EXPECT_EQ(pixelAt(pixels, {3.0f, 0.0f, 0.0f}), 0x4020C0u);
    EXPECT_EQ(behind->visibility, uint32_t(ConvexVolume::outside));
    EXPECT_EQ(shown->visibility, uint32_t(ConvexVolume::inside));

    // In the reflection pass the masked one stays out too.
    gDirectGraphics.record.reflectionPass = 1;
    pixels = drawFrame(chain(), clearColour);
    gDirectGraphics.record.reflectionPass = 0;
    EXPECT_EQ(pixelAt(pixels, {-3.0f, 0.0f, 0.0f}), 0x20C040u);
    EXPECT_EQ(pixelAt(pixels, {3.0f, 0.0f, 0.0f}), clearColour & 0xFFFFFF);

    // After a reset the state blocks are recorded again and the colours hold.
    D3D::Device& record = gDirectGraphics.record;
    D3DPRESENT_PARAMETERS pp;
    D3D::Device::fillPresentParameters(record.presentSettings, window, false, pp);
    D3D::Device::reset(record, &pp);
    lookAlongZ(chain(), {0.0f, 0.0f, -10.0f});
    ASSERT_NE(shown->subEntities.head()->item->material.applyBlock, nullptr);
    pixels = drawFrame(chain(), clearColour);
    EXPECT_EQ(pixelAt(pixels, {-3.0f, 0.0f, 0.0f}), 0x20C040u);
    EXPECT_EQ(pixelAt(pixels, {3.0f, 0.0f, 0.0f}), 0x4020C0u);
}

TEST_F(EntityPass, CastersAreDrawnBlackInTheirVolume)
{
    auto left = place({-3.0f, 0.0f, 0.0f}, 0xFF20C040u);
    auto hidden = place({0.0f, 0.0f, 0.0f}, 0xFF20C040u);
    auto outside = place({3.0f, 0.0f, 0.0f}, 0xFF20C040u);
    hidden->hidden = 1;
    // The volume holds the left half of the view only.
    ConvexVolume volume = chain().frustum;
    ConvexVolume::Plane& cut = volume.planes[volume.count++];
    cut.normal = {-1.0f, 0.0f, 0.0f};
    cut.point = {1.5f, 0.0f, 0.0f};
    cut.distance = cut.normal.dot(cut.point);
    uint32_t drawn = 0, still = 0;
    client->afterScene = [&] {
        // Whatever stage 0 held, casters take colour and alpha from the factor.
        gDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
        drawn = manager().renderShadowCasters(volume, &still);
    };
    gDirectGraphics.record.primitiveCount = 0;
    Level pixels = drawFrame(chain(), clearColour);
    EXPECT_EQ(drawn, 1u);
    EXPECT_EQ(still, 1u);
    EXPECT_EQ(pixelAt(pixels, {-3.0f, 0.0f, 0.0f}), 0u) << "a caster is black";
    EXPECT_EQ(pixelAt(pixels, {0.0f, 0.0f, 0.0f}), clearColour & 0xFFFFFF) << "hidden: not drawn";
    EXPECT_EQ(pixelAt(pixels, {3.0f, 0.0f, 0.0f}), 0x20C040u) << "outside the volume: only the entity pass";
    EXPECT_EQ(manager().findCastersInVolume(volume, nullptr, &still), 2) << "the search counts hidden entities";
    DWORD value = 0;
    gDevice->GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
    gDevice->GetTextureStageState(0, D3DTSS_COLORARG1, &value);
    EXPECT_EQ(value, DWORD(D3DTA_TEXTURE));
    gDevice->GetTextureStageState(0, D3DTSS_ALPHAOP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_SELECTARG1));
    gDevice->GetTextureStageState(0, D3DTSS_ALPHAARG1, &value);
    EXPECT_EQ(value, DWORD(D3DTA_TEXTURE));

    // A moved part keeps the map live; none in the volume draws nothing.
    left->subEntities.head()->item->moved = 1;
    pixels = drawFrame(chain(), clearColour);
    EXPECT_EQ(still, 0u);
    cut.point = {-10.0f, 0.0f, 0.0f};
    cut.distance = cut.normal.dot(cut.point);
    pixels = drawFrame(chain(), clearColour);
    EXPECT_EQ(drawn, 0u);
    EXPECT_EQ(still, 1u);
}

TEST_F(EntityPass, AProjectedLightBrightensOnlyItsEntity)
{
    auto lit = place({0.0f, 0.0f, 0.0f}, 0xFF303030u);
    auto other = place({5.0f, 0.0f, 0.0f}, 0xFF303030u);
    lookAlongZ(chain(), {2.5f, 0.0f, -10.0f});
    const Level plain = drawFrame(chain(), clearColour);

    LightProj light(0.0f);
    light.kind = 1;
    light.range = 30.0f;
    light.inverseRange = 1.0f / 30.0f;
    light.transform.setRow(3, {0.0f, 0.0f, -8.0f});
    light.texture = makeTexture(16, 16, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0xFFFFFFFFu; });
    light.update();
    light.receivers.append(&manager());
    light.addToReceivers();
    ASSERT_EQ(manager().projections.count(), 1);

    struct Case
    {
        float intensity;
        bool brighter;
    };
    for (const Case c : {Case{1.0f, true}, Case{0.0009f, false}}) {
        light.intensity = c.intensity;
        chain().update();
        ASSERT_EQ(lit->linkCount, 1u);
        EXPECT_EQ(other->linkCount, 0u) << "the cone does not reach the second quad";
        const Level pixels = drawFrame(chain(), clearColour);
        int brighter = 0, changed = 0;
        for (uint32_t y = 0; y < pixels.height; ++y)
            for (uint32_t x = 0; x < pixels.width; ++x) {
                const uint32_t before = plain.at(x, y) & 0xFFFFFF, after = pixels.at(x, y) & 0xFFFFFF;
                if (before == after)
                    continue;
                ++changed;
                brighter += channelSum(after) > channelSum(before) + 30;
            }
        const vec2d a = screenPoint(chain(), {0.0f, 0.0f, 0.0f}), b = screenPoint(chain(), {5.0f, 0.0f, 0.0f});
        EXPECT_EQ(pixels.at(uint32_t(b.x), uint32_t(b.y)) & 0xFFFFFF, 0x303030u) << "the other quad is untouched";
        if (c.brighter) {
            EXPECT_GT(channelSum(pixels.at(uint32_t(a.x), uint32_t(a.y))), channelSum(0x303030u) + 100);
            // Only the lit quad's pixels (about 37 x 37) change.
            EXPECT_GT(brighter, 800);
            EXPECT_EQ(brighter, changed);
            EXPECT_LT(changed, 2000);
        } else {
            EXPECT_EQ(changed, 0) << "below 0.001 the light adds nothing";
        }
        EXPECT_EQ(light.lightIndex, 0u) << "the light's index goes back after the draw";
        DWORD value = 0;
        gDevice->GetRenderState(D3DRS_ZWRITEENABLE, &value);
        EXPECT_EQ(value, DWORD(TRUE));
        gDevice->GetTextureStageState(0, D3DTSS_COLOROP, &value);
        EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
        gDevice->GetTextureStageState(1, D3DTSS_COLOROP, &value);
        EXPECT_EQ(value, DWORD(D3DTOP_DISABLE));
    }
    // A point light turns to face the entity it lights, weaker with distance.
    light.kind = 0;
    light.intensity = 1.0f;
    light.range = 4.0f;
    light.inverseRange = 0.25f;
    light.transform.setRow(3, {-3.0f, 0.0f, -2.0f});
    light.update();
    chain().update();
    ASSERT_EQ(lit->linkCount, 1u);
    EXPECT_EQ(other->linkCount, 0u);
    const Level pixels = drawFrame(chain(), clearColour);
    const vec3d facing = vec3d(3.0f, 0.0f, 2.0f).normalised();
    EXPECT_NEAR((light.transform.row(2) - facing).length(), 0.0f, 1e-3f);
    EXPECT_NEAR(light.transform.row(0).dot(facing), 0.0f, 1e-4f);
    EXPECT_NEAR(light.transform.row(1).dot(facing), 0.0f, 1e-4f);
    EXPECT_EQ(light.transform.row(3), vec3d(-3.0f, 0.0f, -2.0f));
    const vec2d a = screenPoint(chain(), {0.0f, 0.0f, 0.0f});
    const uint32_t weak = pixels.at(uint32_t(a.x), uint32_t(a.y)) & 0xFFFFFF;
    EXPECT_GT(channelSum(weak), channelSum(0x303030u) + 10);
    EXPECT_LT(channelSum(weak), 3u * 0xF0u) << "0.9 of its range away the light is weaker";
    light.detachFromReceivers();
    EXPECT_EQ(manager().projections.count(), 0);
}

TEST_F(EntityPass, ALightsShadowMapKeepsItsLightOffWhatItHides)
{
    auto lit = place({0.0f, 0.0f, 0.0f}, 0xFF303030u);
    SubEntity& sub = *lit->subEntities.head()->item;
    lookAlongZ(chain(), {0.0f, 0.0f, -10.0f});
    LightProj light(0.0f);
    light.kind = 1;
    light.intensity = 1.0f;
    light.transform.setRow(3, {0.0f, 0.0f, -8.0f});
    light.texture = makeTexture(16, 16, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0xFFFFFFFFu; });
    light.update();
    // A map of its own (lights are made without): one drawn, holding casters.
    light.map.size = 64;
    light.map.createTargets();
    ASSERT_NE(light.map.target, nullptr);
    light.map.active = 1;
    ASSERT_NE(TextureProj::commonSave, nullptr);
    ASSERT_NE(light.saveBlock, nullptr);
    const auto centre = [&](bool nearby) {
        // As the projection pass brackets the draw (it would mask the map
        // itself first, from the casters it finds).
        client->afterScene = [&] {
            TextureProj::commonSave->Capture();
            TextureProj::commonApply->Apply();
            light.applyForView(chain().view);
            sub.mesh().bind();
            gDevice->SetTextureStageState(2, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE); // whatever it held
            sub.renderProjected(light, nearby);
            light.saveBlock->Apply();
            TextureProj::commonSave->Apply();
        };
        const Level pixels = drawFrame(chain(), clearColour);
        return pixelAt(pixels, {0.0f, 0.0f, 0.0f});
    };
    fillMap(chain(), light.map, 0xFFFFFFFFu); // nothing in the light's way
    const uint32_t open = centre(true);
    EXPECT_GT(channelSum(open), channelSum(0x303030u) + 100);
    fillMap(chain(), light.map, 0x00000000u); // the quad is in a caster's shadow
    EXPECT_EQ(centre(true), 0x303030u) << "the shadow map keeps the light off";
    EXPECT_EQ(centre(false), open) << "beyond the shadow range the map is not used";
    DWORD value = 0;
    gDevice->GetTextureStageState(2, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_DISABLE));
    gDevice->GetTextureStageState(2, D3DTSS_TEXCOORDINDEX, &value);
    EXPECT_EQ(value, 2u);
    gDevice->GetSamplerState(2, D3DSAMP_ADDRESSU, &value);
    EXPECT_EQ(value, DWORD(D3DTADDRESS_WRAP));
    light.map.releaseTargets();
}

TEST_F(EntityPass, AProjectedTextureOverAnAlphaTestedMaterial)
{
    // u runs from -0.5 to 1.5 across the quad; the material's clamped
    // texture is clear on its left half.
    auto wide = facingQuad(L"wide uv quad");
    for (int i = 0; i < 4; ++i) {
        const vec3d& p = *wide->getVertexData(i)->position;
        *wide->getVertexData(i)->uv = {p.x + 0.5f, 0.5f - p.y * 0.5f};
    }
    auto entity = std::make_unique<Entity>(manager());
    SubEntity* sub = entity->addStoredMesh(*wide, false, false, flat(0xFF404040u), nullptr);
    sub->material.cullMode = Shader::cullNone;
    sub->material.alphaTest = 1;
    sub->material.addressU[0] = sub->material.addressV[0] = D3DTADDRESS_CLAMP;
    sub->material.textures[0] = makeTexture(16, 16, D3DFMT_A8R8G8B8, [](uint32_t x, uint32_t) {
        return x < 8 ? 0x00FFFFFFu : 0xFFFFFFFFu;
    });
    sub->recordStateBlocks();
    entity->onMoved();
    // A second one below it, under the projection too: each is drawn where it stands.
    auto second = place({0.0f, -2.5f, 0.0f}, 0xFF404040u);
    lookAlongZ(chain(), {0.0f, -1.0f, -6.0f});
    const Level plain = drawFrame(chain(), clearColour);

    TextureProj decal(nullptr);
    decal.texture = makeTexture(16, 16, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0xFFFF0000u; });
    decal.volume = chain().frustum;
    decal.createStateBlocks();
    decal.receivers.append(&manager());
    decal.addToReceivers();
    chain().update();
    ASSERT_EQ(entity->linkCount, 1u);
    ASSERT_EQ(second->linkCount, 1u);

    // The material's alpha test keeps its clear part (all of u < 0.5) free
    // of the projection; the rest gets the red added.
    const auto colourAt = [&](const Level& l, float x) {
        const vec2d s = screenPoint(chain(), {x, 0.0f, 0.0f});
        return l.at(uint32_t(s.x), uint32_t(s.y)) & 0xFFFFFF;
    };
    Level pixels = drawFrame(chain(), clearColour);
    for (float x : {-0.9f, -0.6f, -0.2f}) {
        EXPECT_EQ(colourAt(plain, x), 0x404040u) << x;
        EXPECT_EQ(colourAt(pixels, x), 0x404040u) << x;
    }
    for (float x : {0.2f, 0.9f})
        EXPECT_EQ(colourAt(pixels, x), 0xFF4040u) << x;
    DWORD value = 0;
    gDevice->GetSamplerState(1, D3DSAMP_ADDRESSU, &value);
    EXPECT_EQ(value, DWORD(D3DTADDRESS_WRAP));
    gDevice->GetRenderState(D3DRS_ALPHATESTENABLE, &value);
    EXPECT_EQ(value, DWORD(FALSE));
    gDevice->GetTextureStageState(1, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_DISABLE));
    gDevice->GetTextureStageState(1, D3DTSS_TEXCOORDINDEX, &value);
    EXPECT_EQ(value, 1u);

    // Additive, the projection is modulated by the material's texture, its
    // alpha too: red where the texture is opaque, nothing where it is clear;
    // with alpha-keep the projection keeps its own alpha everywhere.
    decal.additive = 1;
    pixels = drawFrame(chain(), clearColour);
    EXPECT_EQ(colourAt(pixels, -0.6f), 0x404040u);
    EXPECT_EQ(colourAt(pixels, 0.6f), 0xFF4040u);
    sub->material.alphaKeep = 1;
    pixels = drawFrame(chain(), clearColour);
    EXPECT_EQ(colourAt(pixels, -0.6f), 0xFF4040u);
    EXPECT_EQ(colourAt(pixels, 0.6f), 0xFF4040u);
    gDevice->GetTextureStageState(1, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_DISABLE));
    gDevice->GetSamplerState(1, D3DSAMP_ADDRESSU, &value);
    EXPECT_EQ(value, DWORD(D3DTADDRESS_WRAP));

    // No alpha test: the projection covers the whole quad, and the other one.
    decal.additive = 0;
    sub->material.alphaKeep = 0;
    sub->material.alphaTest = 0;
    pixels = drawFrame(chain(), clearColour);
    EXPECT_EQ(colourAt(pixels, -0.6f), 0xFF4040u);
    EXPECT_EQ(pixelAt(pixels, {0.0f, -2.5f, 0.0f}), 0xFF4040u);
    EXPECT_EQ(pixelAt(pixels, {0.0f, -1.25f, 0.0f}), clearColour & 0xFFFFFF) << "between them nothing";
    decal.detachFromReceivers();
    sub->material.textures[0].release();
}

TEST_F(EntityPass, AShadowProjectionDarkensWhereItsMapHoldsACaster)
{
    D3D::Device::SwapChain& c = chain();
    const LightRecord sunBefore = c.sun;
    c.sun.direction = {0.0f, 0.0f, -1.0f}; // lights the quads' fronts, fully
    for (int i = 0; i < 3; ++i) {
        c.sun.diffuse[i] = 1.0f;
        c.sun.ambient[i] = 0.0f;
    }
    auto entity = std::make_unique<Entity>(manager());
    // Lit by the sun, untextured.
    SubEntity* sub = entity->addStoredMesh(*quad, false, false, [](Shader& material) {
        gDevice->SetMaterial(&material.material);
        gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
        gDevice->SetTexture(0, nullptr);
        gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        gDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    }, nullptr);
    sub->material.cullMode = Shader::cullNone;
    sub->recordStateBlocks();
    entity->onMoved();
    lookAlongZ(c, {0.0f, 0.0f, -10.0f});

    ShadowProj shadow(0.0f);
    ASSERT_NE(shadow.map.renderTexture, nullptr);
    // The texture matrix lays the map over the view: camera-space x and y
    // within +-2 across it.
    matrix3d overView{};
    overView.at(0, 0) = 0.25f;
    overView.at(1, 1) = -0.25f;
    overView.at(3, 0) = 0.5f;
    overView.at(3, 1) = 0.5f;
    overView.at(3, 3) = 1.0f;
    shadow.textureMatrix = overView;
    DWORD transformAfter = 0xFFFFFFFFu;
    const auto frame = [&](bool nearby) {
        client->afterScene = [&] {
            sub->mesh().bind();
            sub->renderProjected(shadow, nearby);
            gDevice->GetTextureStageState(0, D3DTSS_TEXTURETRANSFORMFLAGS, &transformAfter);
        };
        return drawFrame(c, clearColour);
    };
    const auto at = [&](const Level& l, float x) { return pixelAt(l, {x, 0.0f, 0.0f}); };

    shadow.map.active = 1;
    fillMap(c, shadow.map, 0xFF000000u); // no caster
    Level pixels = frame(true);
    const uint32_t lit = at(pixels, -0.5f);
    EXPECT_GT(channelSum(lit), 3u * 0xF0u) << "the sun lights the front";
    EXPECT_EQ(at(pixels, 0.5f), lit);
    fillMap(c, shadow.map, 0x00000000u, true); // casters on the left half
    pixels = frame(true);
    const uint32_t darkened = at(pixels, -0.5f);
    EXPECT_NEAR(int(darkened & 0xFF), int(shadow.opacity), 3) << "the darkness of the projection";
    EXPECT_EQ(at(pixels, 0.5f), lit) << "where the map holds no caster nothing changes";
    EXPECT_EQ(transformAfter, DWORD(D3DTTFF_DISABLE)) << "the stage's texture transform goes back";
    EXPECT_EQ(at(frame(false), -0.5f), lit) << "beyond the shadow range nothing is drawn";
    shadow.map.active = 0;
    EXPECT_EQ(at(frame(true), -0.5f), lit) << "a map that is not ready draws nothing";
    DWORD value = 0;
    gDevice->GetRenderState(D3DRS_ALPHABLENDENABLE, &value);
    EXPECT_EQ(value, DWORD(FALSE));
    gDevice->GetTextureStageState(0, D3DTSS_COLOROP, &value);
    EXPECT_EQ(value, DWORD(D3DTOP_MODULATE));
    gDevice->GetTextureStageState(0, D3DTSS_TEXCOORDINDEX, &value);
    EXPECT_EQ(value, 0u);
    c.sun = sunBefore;
}

TEST_F(EntityPass, TheBarrierBandShowsNearTheCameraWhereTheWallsStand)
{
    BoundingBox terrain;
    terrain.minimum = {-40.0f, -5.0f, -300.0f};
    terrain.maximum = {40.0f, 2.0f, 300.0f};
    terrain.center = (terrain.minimum + terrain.maximum) * 0.5f;
    EntityManager::CollisionBody barriers;
    const Color colour{0x29, 0x97, 0xFF, 0x7F};
    ASSERT_TRUE(barriers.buildBarriers(terrain, 1300.0f, colour, 700.0f, nullptr));
    D3D::Device& record = gDirectGraphics.record;
    const auto frameWith = [&](uint32_t frontCull, DWORD& cullAfter) {
        client->afterScene = [&] {
            record.frontCull = frontCull;
            barriers.renderBarrierProjection();
            gDevice->GetRenderState(D3DRS_CULLMODE, &cullAfter);
            record.frontCull = D3DCULL_CCW;
            gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
        };
        return drawFrame(chain(), 0xFF000000u);
    };

    // 200 units from the far wall (z = 300), looking at it.
    lookAlongZ(chain(), {0.0f, 0.0f, 100.0f});
    DWORD cull = 0;
    Level pixels = frameWith(D3DCULL_CCW, cull);
    const uint32_t band = pixelAt(pixels, {0.0f, 0.0f, 300.0f});
    EXPECT_NEAR(int(band >> 16 & 0xFF), 0x29 / 2, 3);
    EXPECT_NEAR(int(band >> 8 & 0xFF), 0x97 / 2, 3);
    EXPECT_NEAR(int(band & 0xFF), 0xFF / 2, 3);
    EXPECT_EQ(pixelAt(pixels, {0.0f, 100.0f, 300.0f}), band) << "the walls rise far above the ground";
    EXPECT_EQ(pixelAt(pixels, {0.0f, -12.0f, 300.0f}), 0u) << "nothing below the terrain box";
    EXPECT_EQ(pixelAt(pixels, {30.0f, -3.0f, 300.0f}), band);
    EXPECT_EQ(pixelAt(pixels, {40.0f, 0.0f, 200.0f}), band) << "the side wall along x = 40";
    // A mirrored pass keeps its own cull mode.
    EXPECT_EQ(cull, DWORD(D3DCULL_CCW));
    frameWith(D3DCULL_CW, cull);
    EXPECT_EQ(cull, DWORD(D3DCULL_CW)) << "the device's cull mode, not counter-clockwise";

    // Far from every wall (more than 700 units) the band does not show.
    lookAlongZ(chain(), {0.0f, 0.0f, -1500.0f});
    pixels = frameWith(D3DCULL_CCW, cull);
    EXPECT_EQ(pixelAt(pixels, {0.0f, 0.0f, -300.0f}), 0u);
    client->afterScene = nullptr;
}

TEST_F(EntityPass, LensFlaresAreOccludedByEntities)
{
    auto wall = place({0.0f, 0.0f, 0.0f}, 0xFF808080u);
    lookAlongZ(chain(), {0.0f, 0.0f, -10.0f});
    DynArray<D3D::Device::OccludePos> points(4);
    points.at(0)->position = {0.0f, 0.0f, 20.0f};  // behind the quad
    points.at(1)->position = {4.0f, 0.0f, 20.0f};  // beside it
    chain().testOcclusion(points, 2);
    EXPECT_EQ(points.at(0)->occluded, 1u);
    EXPECT_EQ(points.at(1)->occluded, 0u);
    chain().testOcclusion(points, 1);
    EXPECT_EQ(points.at(0)->occluded, 1u);
    wall->hidden = 1;
    chain().testOcclusion(points, 1);
    EXPECT_EQ(points.at(0)->occluded, 0u);
}

}
