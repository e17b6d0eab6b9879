// Sun shadows on the real device: a box over a flat ground, the ground drawn
// a second time through the sectors, the maps' border, freeze, blur and the
// rebuild after a reset.
#include "ShadowStandIns.h"
#include "TestDevice.h"

#include "Render/LightProj.h"
#include "Render/RenderTexture.h"
#include "Render/ShadowManager.h"

using namespace TestDevice;

namespace {

using ShadowStandIns::Boxes;
using ShadowStandIns::Flat;

uint32_t fakeClock = 1000;

class SunShadows : public DeviceSuite
{
protected:
    void SetUp() override
    {
        systemClock = ShadowMap::clock;
        ShadowMap::clock = [] { return fakeClock; };
        D3D::Device::SwapChain& c = chain();
        c.position = {0.0f, 40.0f, -23.0f};
        c.angles = {0.0f, -60.0f, 0.0f};
        c.setAnglesDeg();
        c.Camera::update();
        c.sun.direction = {0.0f, 1.0f, 0.0f};
        c.shadowCasters = &boxes;
        owner = &c;
        // A box of 20 x 10 x 20 on the ground at the origin, and a small one
        // across the edge of the cell that holds the big one.
        boxes.casters = {{ShadowStandIns::box({0.0f, 5.0f, 0.0f}, {10.0f, 5.0f, 10.0f})},
                         {ShadowStandIns::box({400.0f, 5.0f, 0.0f}, {6.0f, 5.0f, 6.0f})}};
        manager = std::make_unique<ShadowManager>(owner, 800.0f, 165.0f);
        manager->ground = &ground;
        manager->setQuality(0.0f);
        plain = makeTexture(4, 4, D3DFMT_A8R8G8B8, pattern());
    }

    void TearDown() override
    {
        manager.reset();
        chain().shadowCasters = nullptr;
        ShadowMap::clock = systemClock;
    }

    // One frame: the update, the maps, the ground in grey 128, then the
    // ground again through every sector in use, as a receiver draws it.
    Level frame()
    {
        D3D::Device::SwapChain& c = chain();
        manager->update();
        c.beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        gDevice->BeginScene();
        manager->renderStaticShadowMaps();
        struct Vertex
        {
            float x, y, z;
            uint32_t colour;
        };
        const Vertex ground[4] = {{-60, 0, 60, 0xFF808080}, {60, 0, 60, 0xFF808080}, {-60, 0, -60, 0xFF808080},
                                  {60, 0, -60, 0xFF808080}};
        const matrix3d identity = matrix3d::identity();
        gDevice->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
        gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        gDevice->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, ground, sizeof(Vertex));
        for (int32_t i = 0; i < manager->sectorCount; ++i) {
            ShadowManager::ShadowSector* s = *manager->sectors.at(i);
            if (!s || s->disabled)
                continue;
            TextureProj::commonSave->Capture();
            TextureProj::commonApply->Apply();
            s->apply();
            s->map.bindTexture();
            gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, uint32_t(s->opacity) << 24);
            gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, ground, sizeof(Vertex));
            s->saveBlock->Apply();
            TextureProj::commonSave->Apply();
        }
        gDevice->SetTexture(0, nullptr);
        gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
        gDevice->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
        gDevice->EndScene();
        Level pixels = readSurface(c.targets[0].surface);
        keepView(c.targets[0].surface);
        c.present();
        return pixels;
    }

    // Screen position of a ground point.
    static vec2d screen(float x, float z)
    {
        const matrix3d& m = chain().viewProjection;
        const float w = x * m.at(0, 3) + z * m.at(2, 3) + m.at(3, 3);
        return {(((x * m.at(0, 0) + z * m.at(2, 0) + m.at(3, 0)) / w) + 1.0f) * 160.0f,
                (1.0f - ((x * m.at(0, 1) + z * m.at(2, 1) + m.at(3, 1)) / w)) * 120.0f};
    }

    // Ground pixels well inside the box's footprint that are not 128 darkened
    // by 165 / 255, and pixels of the ground well away from it that are not
    // 128. Returns {wrong inside, wrong outside}.
    static std::pair<int, int> shadowErrors(const Level& pixels)
    {
        const uint32_t dark = 128 * (255 - 165) / 255;
        int inside = 0, outside = 0, insideSeen = 0;
        for (float x = -40.0f; x <= 40.0f; x += 1.0f)
            for (float z = -40.0f; z <= 40.0f; z += 1.0f) {
                const vec2d p = screen(x, z);
                if (p.x < 0 || p.y < 0 || p.x >= 320 || p.y >= 240)
                    continue;
                const int grey = int(pixels.at(uint32_t(p.x), uint32_t(p.y)) & 0xFF);
                const float edge = std::max(std::fabs(x), std::fabs(z));
                if (edge < 7.0f) {
                    ++insideSeen;
                    inside += std::abs(grey - int(dark)) > 3;
                } else if (edge > 14.0f) {
                    outside += grey != 128;
                }
            }
        return {insideSeen > 20 ? inside : -1, outside};
    }

    ShadowManager::ShadowSector* sectorOverTheBox() const
    {
        for (int32_t i = 0; i < manager->sectorCount; ++i)
            if (ShadowManager::ShadowSector* s = *manager->sectors.at(i);
                s && s->volume.classifyPoint({0.0f, 5.0f, 0.0f}) == ConvexVolume::inside)
                return s;
        return nullptr;
    }

    uint32_t (*systemClock)() = nullptr;
    D3D::Device::SwapChain* owner = nullptr;
    Boxes boxes;
    Flat ground;
    std::unique_ptr<ShadowManager> manager;
    TextureRef plain;
};

TEST_F(SunShadows, TheGroundUnderTheBoxIsDarkenedByTheSectorsStrength)
{
    const Level reference = referenceScene(chain(), plain);
    for (float blur : {0.0f, 1.0f}) {
        SCOPED_TRACE(blur);
        manager->setQuality(blur);
        const Level pixels = frame();
        EXPECT_EQ(shadowErrors(pixels), std::make_pair(0, 0));
        ShadowManager::ShadowSector* s = sectorOverTheBox();
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->opacity, 165);
        EXPECT_EQ(s->map.smoother.ready(), blur > 0.0f);
        if (blur == 0.0f) {
            // The border frame: every edge texel of the map is opaque,
            // although the second box lies across the map's edge.
            const Level map = readSurface(s->map.renderTexture->renderSurface);
            ASSERT_EQ(map.width, 512u);
            // The map draws with a depth surface of its own; its target has none.
            EXPECT_NE(s->map.depthSurfaces[0], nullptr);
            EXPECT_EQ(s->map.renderTexture->depthSurface, nullptr);
            int clear = 0, shadowed = 0;
            for (uint32_t i = 0; i < 512; ++i)
                for (uint32_t t : {map.at(i, 0), map.at(i, 511), map.at(0, i), map.at(511, i)})
                    clear += (t >> 24) != 0xFF;
            for (uint32_t t : map.texels)
                shadowed += (t >> 24) == 0;
            EXPECT_EQ(clear, 0);
            EXPECT_GT(shadowed, 300);
        }
        // Nothing leaks out of the passes.
        EXPECT_EQ(wrongTexels(referenceScene(chain(), plain), [&](uint32_t x, uint32_t y) { return reference.at(x, y); }),
                  0);
    }
}

TEST_F(SunShadows, AMapAtRestFreezesAndLivesAgainWhenACasterMoves)
{
    frame();                         // placed: changed
    const Level first = frame();     // at rest: the freeze is pending
    ShadowManager::ShadowSector* s = sectorOverTheBox();
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->map.state, ShadowMap::live);
    EXPECT_NE(s->map.freezeTime, 0u);
    fakeClock += 299;
    frame();
    EXPECT_EQ(s->map.state, ShadowMap::live);
    fakeClock += 1;
    const Level frozen = frame();
    EXPECT_EQ(s->map.state, ShadowMap::frozen);
    EXPECT_EQ(s->map.sampled, &s->map.staticCopy);
    EXPECT_STREQ(s->map.staticCopy.texture()->name->text(), L"StaticShadowMap");
    // One level, the copied one: far ground samples no level left empty.
    EXPECT_EQ(s->map.staticCopy.texture()->texture->GetLevelCount(), 1u);
    EXPECT_EQ(wrongTexels(frozen, [&](uint32_t x, uint32_t y) { return first.at(x, y); }), 0);
    const int renders = boxes.renders;
    frame(); // frozen: the casters are counted, not drawn
    EXPECT_EQ(s->map.state, ShadowMap::frozen);
    EXPECT_EQ(boxes.renders, renders);
    EXPECT_EQ(s->map.render(chain()), 1) << "a frozen map still counts the box it shows";
    EXPECT_EQ(s->map.state, ShadowMap::frozen);

    // The box moves: the map lives and follows it.
    boxes.casters[0].moving = true;
    boxes.casters[0].box.center.x += 20.0f;
    frame();
    EXPECT_EQ(s->map.state, ShadowMap::live);
    EXPECT_EQ(s->map.freezeTime, 0u);
    const Level moved = frame();
    const vec2d oldCentre = screen(0.0f, 0.0f), newCentre = screen(20.0f, 0.0f);
    EXPECT_EQ(moved.at(uint32_t(oldCentre.x), uint32_t(oldCentre.y)) & 0xFF, 128u);
    EXPECT_LT(moved.at(uint32_t(newCentre.x), uint32_t(newCentre.y)) & 0xFF, 50u);
}

TEST_F(SunShadows, AResetBringsTheShadowsBackWithoutLeavingTargetsBehind)
{
    frame();
    frame();
    fakeClock += 400;
    frame(); // frozen
    const auto shared = RenderTexture::shared.count();
    for (int round = 0; round < 2; ++round) {
        D3DPRESENT_PARAMETERS pp;
        D3D::Device::fillPresentParameters(gDirectGraphics.record.presentSettings, window, false, pp);
        D3D::Device::reset(gDirectGraphics.record, &pp);
        ASSERT_EQ(gDirectGraphics.record.resetting, 0u);
        EXPECT_EQ(shadowErrors(frame()), std::make_pair(0, 0));
        manager->setQuality(round == 0 ? 0.0f : 1.0f);
    }
    manager->setQuality(0.0f);
    EXPECT_EQ(RenderTexture::shared.count(), shared);
}

// A stored mesh's box under the caster marks its place in the map: alpha 0
// over its screen rectangle, 255 inside its outline where the caster does
// not hide it; a mesh with nothing between it and the sun leaves the map.
TEST_F(SunShadows, AMeshUnderACasterMarksItsPlaceInTheMap)
{
    frame();
    ShadowManager::ShadowSector* s = sectorOverTheBox();
    ASSERT_NE(s, nullptr);
    ShadowMap& map = s->map;
    const auto texelOf = [&](const vec3d& p) {
        const matrix3d m = s->view * s->projection;
        const vec3d t = m.transformPoint(p);
        const float w = p.x * m.at(0, 3) + p.y * m.at(1, 3) + p.z * m.at(2, 3) + m.at(3, 3);
        return std::make_pair(uint32_t((t.x / w + 1.0f) * 256.0f), uint32_t((1.0f - t.y / w) * 256.0f));
    };
    const auto alphaAt = [&](const Level& level, const vec3d& p) {
        const auto [x, y] = texelOf(p);
        return level.at(x, y) >> 24;
    };
    // A flat box, turned 45 degrees, under the caster and wider than it.
    ShadowMap::MeshBox mesh;
    mesh.worldBox = ShadowStandIns::box({0.0f, -1.0f, 0.0f}, {25.0f, 0.5f, 25.0f});
    const float r = 0.70710678f;
    mesh.worldBox.axes[0] = {r, 0.0f, r};
    mesh.worldBox.axes[2] = {-r, 0.0f, r};
    const vec3d rectCorner{34.0f, -1.0f, 34.0f}; // inside the rectangle, outside the turned box
    const vec3d inOutline{22.0f, -1.0f, 0.0f};   // inside the box, beside the caster
    const Level before = readSurface(map.renderTexture->renderSurface);
    EXPECT_EQ(alphaAt(before, rectCorner), 0xFFu);
    EXPECT_EQ(alphaAt(before, {0.0f, 0.0f, 0.0f}), 0u);

    chain().beginFrame();
    gDevice->BeginScene();
    map.renderMeshShadows(mesh, chain());
    gDevice->EndScene();
    chain().present();
    EXPECT_EQ(map.active, 1);
    const Level after = readSurface(map.renderTexture->renderSurface);
    EXPECT_EQ(alphaAt(after, rectCorner), 0u);
    EXPECT_EQ(alphaAt(after, inOutline), 0xFFu);
    EXPECT_EQ(alphaAt(after, {0.0f, 0.0f, 0.0f}), 0u);

    // Far beside the caster nothing lies between the mesh and the sun.
    mesh.worldBox.center = {150.0f, -1.0f, -100.0f};
    chain().beginFrame();
    gDevice->BeginScene();
    map.renderMeshShadows(mesh, chain());
    gDevice->EndScene();
    chain().present();
    EXPECT_EQ(map.active, 0);
    EXPECT_EQ(wrongTexels(readSurface(map.renderTexture->renderSurface),
                          [&](uint32_t x, uint32_t y) { return after.at(x, y); }),
              0);
}


// A map whose target has no surface (it could not be made) marks nothing,
// and above all not the frame it would otherwise have drawn its mask into.
TEST_F(SunShadows, AMaskWithoutItsTargetSurfaceDrawsNothing)
{
    frame();
    ShadowManager::ShadowSector* s = sectorOverTheBox();
    ASSERT_NE(s, nullptr);
    ShadowMap& map = s->map;
    ASSERT_NE(map.renderTexture, nullptr);
    ShadowMap::MeshBox mesh;
    mesh.worldBox = ShadowStandIns::box({0.0f, -1.0f, 0.0f}, {25.0f, 0.5f, 25.0f});
    IDirect3DSurface9* surface = map.renderTexture->renderSurface;
    const Level mapBefore = readSurface(surface);
    D3D::Device::SwapChain& c = *chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0x80402010, 1.0f, 0);
    gDevice->BeginScene();
    map.renderTexture->renderSurface = nullptr;
    map.renderMeshShadows(mesh, c);
    map.renderTexture->renderSurface = surface;
    gDevice->EndScene();
    EXPECT_EQ(map.active, 1) << "the caster lies between the mesh and the sun";
    EXPECT_EQ(c.targetCount, 1u);
    const Level shown = readSurface(c.targets[0].surface);
    c.present();
    EXPECT_EQ(wrongTexels(shown, [](uint32_t, uint32_t) { return 0x80402010u; }), 0);
    EXPECT_EQ(wrongTexels(readSurface(surface), [&](uint32_t x, uint32_t y) { return mapBefore.at(x, y); }), 0);
}

// A stored mesh drawn with world matrix W under a light's map: stage 2's
// texture transform takes the light's place (carried through W) to the
// origin and W's axes to the unit axes.
TEST_F(SunShadows, TheTextureTransformOfAMeshUnderALightStartsAtTheLight)
{
    LightProj light(0.0f);
    light.transform.at(3, 0) = 2.0f;
    light.transform.at(3, 1) = -1.0f;
    light.transform.at(3, 2) = 4.0f;
    matrix3d w = matrix3d::identity();
    const float c = 0.6f, s = 0.8f;
    w.at(0, 0) = c;
    w.at(0, 1) = s;
    w.at(1, 0) = -s;
    w.at(1, 1) = c;
    w.at(3, 0) = 10.0f;
    w.at(3, 2) = -5.0f;
    light.map.setTextureTransform(w);
    matrix3d got;
    ASSERT_EQ(gDevice->GetTransform(D3DTS_TEXTURE2, reinterpret_cast<D3DMATRIX*>(got.m)), D3D_OK);
    const vec3d at = w.transformPoint(light.transform.row(3));
    EXPECT_LT((got.transformPoint(at)).length(), 1e-4f);
    for (int axis = 0; axis < 3; ++axis) {
        vec3d unit;
        unit[axis] = 1.0f;
        EXPECT_LT((got.transformPoint(at + w.row(axis)) - unit).length(), 1e-4f) << axis;
    }
    const matrix3d identity = matrix3d::identity();
    gDevice->SetTransform(D3DTS_TEXTURE2, reinterpret_cast<const D3DMATRIX*>(identity.m));
}

// An omni light's map is a cube: the caster shows in the face it lies in,
// straight or blurred, and a frozen copy keeps every face.
TEST_F(SunShadows, AnOmniLightsCubeMapShowsTheCasterInItsFace)
{
    LightProj omni(0.0f);
    omni.kind = 0;
    omni.range = 50.0f;
    omni.update();
    boxes.casters = {{ShadowStandIns::box({20.0f, 0.0f, 0.0f}, {3.0f, 3.0f, 3.0f})}};
    for (float blur : {0.0f, 1.0f}) {
        SCOPED_TRACE(blur);
        ShadowMap map(omni, 64, blur, 0, 0, 0.03f, 0.01f);
        ASSERT_EQ(map.kind, 1);
        ASSERT_NE(map.sampled, nullptr);
        const auto render = [&] {
            chain().beginFrame();
            gDevice->BeginScene();
            const int32_t drawn = map.render(chain());
            gDevice->EndScene();
            chain().present();
            return drawn;
        };
        EXPECT_EQ(render(), 1);
        EXPECT_EQ(map.cubeTexture.texture()->busy, 0u);
        // Live, then frozen into a copy of one level: both show the caster.
        for (int32_t state : {ShadowMap::live, ShadowMap::frozen}) {
            SCOPED_TRACE(state);
            ASSERT_EQ(map.state, state);
            IDirect3DCubeTexture9* cube = map.sampled->texture()->cubeTexture;
            ASSERT_NE(cube, nullptr);
            if (state == ShadowMap::frozen) {
                EXPECT_EQ(cube->GetLevelCount(), 1u);
            }
            const auto alphaAt = [&](int face, uint32_t x, uint32_t y) {
                IDirect3DSurface9* surface = nullptr;
                cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), 0, &surface);
                const Level level = readSurface(surface);
                surface->Release();
                return level.at(x, y) >> 24;
            };
            EXPECT_EQ(alphaAt(D3DCUBEMAP_FACE_POSITIVE_X, 32, 32), 0u);
            EXPECT_EQ(alphaAt(D3DCUBEMAP_FACE_POSITIVE_X, 2, 2), 0xFFu);
            EXPECT_EQ(alphaAt(D3DCUBEMAP_FACE_NEGATIVE_X, 32, 32), 0xFFu);
            EXPECT_EQ(alphaAt(D3DCUBEMAP_FACE_POSITIVE_Y, 32, 32), 0xFFu);
            omni.changed = 0;
            render();
            fakeClock += ShadowMap::freezeDelay;
            render();
        }
    }
}

}
