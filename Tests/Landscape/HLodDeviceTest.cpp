// The far field on a real device under Wine: stand-ins for two far objects
// 900 units ahead, one in the open and one behind a nearer ridge, drawn into
// the picture of the panel facing them and shown in the frame; the level's
// limits of the terrain's detail kept; the pictures back after a reset.
#include "LandscapeTestFiles.h"
#include "SceneFrames.h"
#include "TerrainTestMaps.h"

#include "Landscape/HLod.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Landscape/Terrain.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using TestDevice::Level;

// Stands in for the static objects: upright magenta boxes, all far-field.
struct StandIns final : HLod::Objects
{
    struct Vertex
    {
        vec3d position;
        uint32_t colour;
    };

    int32_t collectTouchingBox(const OrientedBox&, DynArray<Object>& out) override
    {
        for (size_t i = 0; i < boxes.size(); ++i) {
            Object& o = *out.at(int32_t(i));
            o.box.center = {};
            o.box.maximum = half;
            o.box.minimum = -half;
            o.transform = matrix3d::identity();
            o.transform.setRow(3, boxes[i]);
            o.farField = 1;
        }
        return int32_t(boxes.size());
    }

    void renderFarField(const BoundingBox&) override
    {
        ++renders;
        IDirect3DDevice9* d = gDevice;
        const matrix3d identity = matrix3d::identity();
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
        d->SetRenderState(D3DRS_LIGHTING, FALSE);
        d->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        d->SetTexture(0, nullptr);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
        d->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        for (const vec3d& c : boxes) {
            // The four upright sides.
            const float x0 = c.x - half.x, x1 = c.x + half.x, y0 = c.y - half.y, y1 = c.y + half.y,
                        z0 = c.z - half.z, z1 = c.z + half.z;
            const vec3d corners[5] = {{x0, 0, z0}, {x1, 0, z0}, {x1, 0, z1}, {x0, 0, z1}, {x0, 0, z0}};
            for (int k = 0; k < 4; ++k) {
                const vec3d& a = corners[k];
                const vec3d& b = corners[k + 1];
                const Vertex face[4] = {{{a.x, y0, a.z}, 0xFFFF00FF}, {{a.x, y1, a.z}, 0xFFFF00FF},
                                        {{b.x, y0, b.z}, 0xFFFF00FF}, {{b.x, y1, b.z}, 0xFFFF00FF}};
                d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, face, sizeof(Vertex));
            }
        }
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
    }

    std::vector<vec3d> boxes;
    vec3d half{30.0f, 60.0f, 30.0f};
    int renders = 0;
};

bool magenta(uint32_t pixel)
{
    const Color c = Color::fromArgb(pixel);
    return c.r > c.g + 60 && c.b > c.g + 60;
}

// Magenta pixels within a few pixels of p.
int magentaAround(const Level& frame, POINT p)
{
    int count = 0;
    for (LONG y = p.y - 3; y <= p.y + 3; ++y)
        for (LONG x = p.x - 3; x <= p.x + 3; ++x)
            if (x >= 0 && y >= 0 && x < LONG(frame.width) && y < LONG(frame.height))
                count += magenta(frame.at(uint32_t(x), uint32_t(y)));
    return count;
}

class HLodDevice : public TestDevice::DeviceSuite
{
protected:
    static void SetUpTestSuite() { openDevice(640, 480); }

    void SetUp() override
    {
        scene.swapChain = &chain();
        gFrameFactor.store(1.0f);
        // Level ground with a ridge 100 high across the left of the way
        // ahead (x from -20 to -460), 380 to 520 units out.
        const std::wstring base = LandscapeTestFiles::freshFolder(L"farfield") + L"Ridge";
        LevelFileWriter::Level level;
        level.camera.fogAmount = 0.0f;
        TerrainMapWriter::Map map = TerrainTestMaps::heightMap(128, [](int32_t i, int32_t j) {
            const float x = -1536.0f + 24.0f * float(i), z = 1536.0f - 24.0f * float(j);
            const float across = std::fmin(1.0f, std::fmax(0.0f, std::fmin((-20.0f - x) / 60.0f, (x + 460.0f) / 60.0f)));
            const float along = std::fmax(0.0f, 1.0f - std::fabs(z - 450.0f) / 80.0f);
            return 8000.0f + 16000.0f * across * std::fmin(1.0f, along * 2.0f);
        });
        map.layers.push_back(TerrainTestMaps::flatLayer(0x2C64, 0, 255));
        ASSERT_TRUE(LevelFileWriter::save(level, String((base + L".tee").c_str())));
        ASSERT_TRUE(TerrainMapWriter::save(map, String((base + L".map").c_str())));
        ASSERT_TRUE(scene.load(String((base + L".tee").c_str())));
        ground = gTerrain.getHeight(100.0f, 0.0f, 2);
        ASSERT_GT(gTerrain.getHeight(-120.0f, 450.0f, 2), ground + 80.0f);
        ASSERT_LT(gTerrain.getHeight(120.0f, 450.0f, 2), ground + 1.0f);
        objects.boxes = {{150.0f, ground + 60.0f, 900.0f}, {-150.0f, ground + 60.0f, 900.0f}};
        farField().objects = &objects;
    }
    void TearDown() override
    {
        farField().objects = nullptr;
        scene.release();
    }

    HLod& farField() { return *chain().farField; }
    Level frame() { return SceneFrames::draw(scene, chain(), nullptr, 0xFF202020); }
    // The back buffer of one frame, kept where KORVANTA_SCREENSHOTS points.
    Level shot()
    {
        SceneFrames::update(scene, chain());
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF202020, 1.0f, 0);
        chain().render(false);
        const Level pixels = TestDevice::readSurface(chain().targets[0].surface);
        SceneFrames::keep(chain().targets[0].surface);
        chain().present();
        return pixels;
    }
    POINT front(const vec3d& centre, const Level& pixels)
    {
        return SceneFrames::pixelOf(chain(), centre - vec3d{0.0f, 0.0f, objects.half.z}, pixels);
    }

    Scene scene{String(L"Korvanta"), 3500.0f};
    StandIns objects;
    float ground = 0.0f;
};

TEST_F(HLodDevice, AFarObjectShowsOnItsPanelUnlessARidgeStandsBeforeIt)
{
    gTerrain.lowestLod = 1;
    gTerrain.highestLod = 4;
    SceneFrames::look(chain(), {0.0f, ground + 10.0f, 0.0f}, 0.0f, 0.0f);
    const Level pixels = shot();
    EXPECT_GT(objects.renders, 0);
    // The panel ahead holds the picture; the level's detail limits stayed.
    ASSERT_NE(farField().slots[0], nullptr);
    EXPECT_EQ(gTerrain.lowestLod, 1);
    EXPECT_EQ(gTerrain.highestLod, 4);
    const POINT open = front(objects.boxes[0], pixels), hidden = front(objects.boxes[1], pixels);
    EXPECT_GT(magentaAround(pixels, open), 30);
    EXPECT_EQ(magentaAround(pixels, hidden), 0);

    // In the picture itself both stand: the ridge is nearer than the far
    // field and draws no depth there.
    const Level picture = TestDevice::readSurface(farField().slots[0]->surface);
    int objectTexels = 0, clear = 0;
    for (uint32_t v : picture.texels) {
        objectTexels += magenta(v) && (v >> 24) == 0xFF;
        clear += (v >> 24) == 0;
    }
    EXPECT_GT(objectTexels, 2 * 100);
    EXPECT_GT(clear, int(picture.texels.size()) / 2);

    // A new time of day or camera asks for new pictures.
    farField().rerender = 0;
    scene.applyTimeOfDay();
    EXPECT_EQ(farField().rerender, 1u);
    farField().rerender = 0;
    scene.camera.apply();
    EXPECT_EQ(farField().rerender, 1u);

    // Without its objects the far field draws nothing.
    farField().objects = nullptr;
    const Level without = frame();
    EXPECT_EQ(magentaAround(without, open), 0);
    farField().objects = &objects;
}

TEST_F(HLodDevice, ThePicturesComeBackAfterAReset)
{
    SceneFrames::look(chain(), {0.0f, ground + 10.0f, 0.0f}, 0.0f, 0.0f);
    const POINT open = front(objects.boxes[0], frame());
    ASSERT_GT(magentaAround(frame(), open), 30);
    const uint32_t pictures = farField().pictures;
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    for (const HLod::TargetRecord& target : farField().targets) {
        EXPECT_TRUE(target.texture.isBound());
        EXPECT_NE(target.surface, nullptr);
        EXPECT_NE(target.depth, nullptr);
    }
    const Level after = frame();
    EXPECT_GT(farField().pictures, pictures);
    EXPECT_GT(magentaAround(after, open), 30);
}

TEST_F(HLodDevice, EveryPanelShowsTheObjectsItFaces)
{
    // Two objects 900 ahead in each direction, one a little to the right of
    // the middle of the panel and one far to its right: each lands on the
    // panel where the camera sees it.
    const vec3d directions[4] = {{0, 0, 1}, {0, 0, -1}, {-1, 0, 0}, {1, 0, 0}};
    for (int panel = 0; panel < 4; ++panel) {
        const vec3d& ahead = directions[panel];
        float yaw = 0.0f;
        for (float candidate : {0.0f, 90.0f, 180.0f, 270.0f}) {
            SceneFrames::look(chain(), {0.0f, ground + 10.0f, 0.0f}, candidate, 0.0f);
            if (chain().forward.dot(ahead) > 0.99f)
                yaw = candidate;
        }
        SceneFrames::look(chain(), {0.0f, ground + 10.0f, 0.0f}, yaw, 0.0f);
        const vec3d right = chain().right;
        objects.boxes = {ahead * 900.0f + right * 120.0f + vec3d{0.0f, ground + 60.0f, 0.0f},
                         ahead * 900.0f + right * 380.0f + vec3d{0.0f, ground + 60.0f, 0.0f}};
        farField().rerender = 1;
        const Level pixels = frame();
        ASSERT_NE(farField().slots[panel], nullptr) << panel;
        for (const vec3d& box : objects.boxes) {
            const POINT p = SceneFrames::pixelOf(chain(), box - ahead * objects.half.z, pixels);
            EXPECT_GT(magentaAround(pixels, p), 30) << panel << " " << box.x << " " << box.z;
        }
    }
}

}
