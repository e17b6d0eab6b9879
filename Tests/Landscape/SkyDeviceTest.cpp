// The sky and the sun on a real device at 1024 x 768: the dome's buffers,
// its recolouring as the view turns, the frames it draws at noon and at
// sunset, the states the sky pass leaves, and the sun's texture.
#include "SceneFrames.h"

#include "Landscape/AnimatedSky.h"
#include "Landscape/Scene.h"
#include "Landscape/SceneView.h"
#include "Landscape/SkyRecords.h"
#include "Landscape/SunDNC.h"
#include "Landscape/SunGlow.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <tuple>
#include <vector>

namespace {

using TestDevice::Level;

class SkyDevice : public TestDevice::DeviceSuite
{
protected:
    static void SetUpTestSuite() { openDevice(1024, 768); }

    void SetUp() override
    {
        saved = gTimer;
        scene.swapChain = &chain();
        chain().fogEnabled = 0;
        sky().release();
    }
    void TearDown() override
    {
        sky().release();
        scene.release();
        gTimer = saved;
    }

    static AnimatedSky& sky() { return *chain().sky; }

    // The level's time and sky flag applied, as a race start does.
    void startDay(float hours, uint32_t skyFlag = 1)
    {
        scene.timeOfDay = hours;
        scene.animatedSky = skyFlag;
        scene.applyTimeOfDay();
    }

    static void look(float yaw, float pitch, vec3d position = {})
    {
        SceneFrames::look(chain(), position, yaw, pitch);
    }
    void updateFrame() { SceneFrames::update(scene, chain()); }
    Level drawFrame() { return SceneFrames::draw(scene, chain(), &primitives); }

    // The mean of red minus blue (or of one channel) over rows top to bottom.
    static double mean(const Level& frame, uint32_t top, uint32_t bottom, int (*value)(Color))
    {
        double sum = 0.0;
        for (uint32_t y = top; y < bottom; ++y)
            for (uint32_t x = 0; x < frame.width; ++x)
                sum += value(Color::fromArgb(frame.at(x, y)));
        return sum / double((bottom - top) * frame.width);
    }

    Scene scene{String(L"Korvanta"), 3500.0f};
    Timer saved;
    uint32_t primitives = 0;
};

int warmth(Color c) { return int(c.r) - int(c.b); }
int blue(Color c) { return c.b; }
int red(Color c) { return c.r; }

using Ranges = std::vector<std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>>;

Ranges rangesOf(const AnimatedSky& s)
{
    Ranges out;
    for (uint16_t i = 0; i < s.nodeCount; ++i) {
        const AnimatedSky::Patch& p = s.patches[i];
        out.emplace_back(p.vertexBase, p.vertexCount, p.indexBase, p.indexCount);
    }
    return out;
}

TEST_F(SkyDevice, BuildReleaseAndBuildAgain)
{
    ASSERT_TRUE(sky().build(nullptr, -255.0f, 1.2f, 650.0f));
    EXPECT_EQ(sky().nodeCount, 127);
    EXPECT_EQ(sky().totalIndices, 52320u);
    EXPECT_LT(sky().totalVertices, 52320u);
    EXPECT_EQ(sky().radius, 650.0f);
    const Ranges first = rangesOf(sky());
    const uint32_t vertices = sky().totalVertices;

    // Every patch's indices lie within its own vertex range.
    void* data = nullptr;
    ASSERT_TRUE(SUCCEEDED(sky().indexBuffer->Lock(0, 0, &data, D3DLOCK_READONLY)));
    std::vector<uint16_t> indices(static_cast<uint16_t*>(data), static_cast<uint16_t*>(data) + 52320);
    sky().indexBuffer->Unlock();
    int leaves = 0;
    for (const auto& [vertexBase, vertexCount, indexBase, indexCount] : first) {
        if (indexCount == 0)
            continue;
        ++leaves;
        for (uint32_t k = indexBase; k < indexBase + indexCount; ++k)
            ASSERT_TRUE(indices[k] >= vertexBase && indices[k] < vertexBase + vertexCount) << k;
    }
    EXPECT_EQ(leaves, 64);

    sky().release();
    EXPECT_EQ(sky().root, nullptr);
    EXPECT_EQ(sky().vertexBuffer, nullptr);
    EXPECT_EQ(sky().nodeCount, 0);
    ASSERT_TRUE(sky().build(nullptr, -255.0f, 1.2f, 650.0f));
    EXPECT_EQ(sky().totalVertices, vertices);
    EXPECT_EQ(rangesOf(sky()), first);
}

TEST_F(SkyDevice, TheLevelsFlagBuildsTheDome)
{
    startDay(12.0f, 1);
    ASSERT_NE(sky().root, nullptr);
    // The frame's camera step points the swap chain's sun by the clock.
    scene.updateCamera();
    EXPECT_EQ(chain().sun.direction, SunDNC::direction(152.0f, 0.5f));
    EXPECT_EQ(sky().listener, static_cast<AnimatedSky::Interface*>(&scene.sun));
    const uint32_t stamp = sky().frameStamp;
    scene.warmUp(nullptr, 0.0f, 1.0f, 0.5f);
    EXPECT_EQ(sky().frameStamp, stamp + 1);
    // Applying again keeps the dome that stands.
    AnimatedSky::PatchNode* root = sky().root;
    scene.applyTimeOfDay();
    EXPECT_EQ(sky().root, root);
    startDay(12.0f, 0);
    EXPECT_EQ(sky().root, nullptr);
    // A scene that goes takes its dome, which would tell its sun of colours.
    startDay(12.0f, 1);
    scene.release();
    EXPECT_EQ(sky().root, nullptr);
    EXPECT_EQ(sky().listener, nullptr);
}

// The colours written by one recolour of the visible patches, into a copy
// of the buffer whose every colour is a marker.
std::vector<int> recolouredPerPatch(AnimatedSky& s)
{
    std::vector<AnimatedSky::Vertex> buffer(s.totalVertices);
    for (AnimatedSky::Vertex& v : buffer)
        v.colour = Color(1, 2, 3, 4);
    s.recolour(buffer.data());
    std::vector<int> written(s.nodeCount, 0);
    for (uint16_t i = 0; i < s.nodeCount; ++i) {
        const AnimatedSky::Patch& p = s.patches[i];
        for (uint32_t k = 0; k < p.vertexCount; ++k)
            written[i] += buffer[p.vertexBase + k].colour != Color(1, 2, 3, 4);
    }
    return written;
}

TEST_F(SkyDevice, PatchesComingIntoViewAreRecolouredWhole)
{
    ASSERT_TRUE(sky().build(nullptr, -255.0f, 1.2f, 650.0f));
    auto frame = [&](float yaw) {
        look(yaw, 0.0f);
        sky().update();
        sky().updateRate = 0.5f;
        sky().cullPatches(chain().directionVolume);
        return recolouredPerPatch(sky());
    };
    const std::vector<int> ahead = frame(0.0f);
    const std::vector<int> aside = frame(90.0f);
    const std::vector<int> aheadAgain = frame(0.0f);
    const std::vector<int> aheadStill = frame(0.0f);
    int cameBack = 0, stayed = 0;
    for (uint16_t i = 0; i < sky().nodeCount; ++i) {
        const int n = int(sky().patches[i].vertexCount);
        if (ahead[i] > 0 && aside[i] == 0) {
            // Out of view for a frame: all of it is stale.
            ++cameBack;
            EXPECT_EQ(ahead[i], n);
            EXPECT_EQ(aheadAgain[i], n);
            EXPECT_EQ(aheadStill[i], n / 2);
        }
        if (aside[i] > 0 && aheadAgain[i] > 0) {
            // Still in view: the next share from its cursor.
            ++stayed;
            EXPECT_EQ(aheadAgain[i], n / 2);
        }
    }
    EXPECT_GT(cameBack, 4);
    EXPECT_GT(stayed, 2);

    // A second pass in the same frame (a reflection) recolours nothing.
    sky().cullPatches(chain().directionVolume);
    for (int count : recolouredPerPatch(sky()))
        EXPECT_EQ(count, 0);
}

TEST_F(SkyDevice, NoonIsBlueOverheadWhereverTheCameraIs)
{
    startDay(12.0f);
    for (const vec3d& where : {vec3d{}, vec3d{5000.0f, 300.0f, -4000.0f}}) {
        look(0.0f, 10.0f, where);
        const Level frame = drawFrame();
        ASSERT_EQ(frame.width, 1024u);
        EXPECT_GT(mean(frame, 0, 60, blue), mean(frame, 0, 60, red) + 40.0) << where.x;
        // No clear colour shows above the horizon.
        for (uint32_t x = 0; x < 1024; x += 37)
            EXPECT_NE(frame.at(x, 10) & 0xFFFFFF, 0x00FF00u);
    }
    // The sky tints the sun's light white at noon.
    EXPECT_NEAR(chain().sun.diffuse[0], scene.sun.sunStrength, 1e-3f);
    EXPECT_NEAR(chain().sun.diffuse[2], scene.sun.sunStrength, 1e-3f);
}

TEST_F(SkyDevice, SunsetIsWarmerTowardsTheSun)
{
    startDay(18.5f);
    updateFrame();
    const vec3d s = chain().sun.direction;
    const float yaw = std::atan2(-s.x, s.z) * 57.29578f;
    look(yaw, 0.0f);
    const double towards = mean(drawFrame(), 0, 380, warmth);
    look(yaw + 180.0f, 0.0f);
    const double away = mean(drawFrame(), 0, 380, warmth);
    EXPECT_GT(towards, away + 20.0);
    // The sky's tint is white while the sun stands high; just above the
    // horizon it turns the light orange.
    EXPECT_NEAR(chain().sun.diffuse[0], chain().sun.diffuse[2], 1e-3f);
    startDay(19.5f);
    updateFrame();
    EXPECT_GT(chain().sun.diffuse[0], chain().sun.diffuse[2] * 1.5f);
}

TEST_F(SkyDevice, TheSkyPassLeavesTheStatesItFound)
{
    startDay(12.0f);
    look(0.0f, 0.0f);
    updateFrame();
    for (uint32_t fog : {0u, 1u}) {
        chain().fogEnabled = fog;
        chain().beginFrame();
        gDevice->BeginScene();
        gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
        gDevice->SetRenderState(D3DRS_ZENABLE, TRUE);
        gDevice->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
        gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        Scene::renderSky(*chain().viewRecord);
        gDevice->EndScene();
        DWORD lighting = 0, z = 0, zWrite = 0, fogState = 0, colourOp = 0;
        gDevice->GetRenderState(D3DRS_LIGHTING, &lighting);
        gDevice->GetRenderState(D3DRS_ZENABLE, &z);
        gDevice->GetRenderState(D3DRS_ZWRITEENABLE, &zWrite);
        gDevice->GetRenderState(D3DRS_FOGENABLE, &fogState);
        gDevice->GetTextureStageState(0, D3DTSS_COLOROP, &colourOp);
        EXPECT_EQ(lighting, DWORD(TRUE));
        EXPECT_EQ(z, DWORD(TRUE));
        EXPECT_EQ(zWrite, DWORD(TRUE));
        EXPECT_EQ(fogState, DWORD(fog));
        EXPECT_EQ(colourOp, DWORD(D3DTOP_MODULATE));
        D3DMATRIX world{};
        gDevice->GetTransform(D3DTS_WORLD, &world);
        EXPECT_EQ(world._41, 0.0f);
        chain().present();
    }
    chain().fogEnabled = 0;

    // The sky shows over a depth buffer that holds something nearer, and a
    // far square drawn after it is not hidden by it.
    struct Point
    {
        float x, y, z, rhw;
        uint32_t colour;
    };
    const Point square[4] = {{0, 0, 0.9999f, 1, 0xFFFF0000u},
                             {1024, 0, 0.9999f, 1, 0xFFFF0000u},
                             {0, 300, 0.9999f, 1, 0xFFFF0000u},
                             {1024, 300, 0.9999f, 1, 0xFFFF0000u}};
    // A texture an earlier pass left on stage 0 does not tint the sky.
    TextureRef black = TestDevice::makeTexture(8, 8, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0xFF000000u; });
    for (float depth : {0.0f, 1.0f}) {
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF00FF00, depth, 0);
        gDevice->BeginScene();
        gDevice->SetTexture(0, black.texture()->texture);
        Scene::renderSky(*chain().viewRecord);
        if (depth == 1.0f) {
            gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
            gDevice->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
            gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
            gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, square, sizeof(Point));
            gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
            gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
        }
        gDevice->EndScene();
        const Level frame = TestDevice::readSurface(chain().targets[0].surface);
        SceneFrames::keep(chain().targets[0].surface);
        chain().present();
        const uint32_t top = frame.at(512, 100) & 0xFFFFFF;
        if (depth == 1.0f) {
            EXPECT_EQ(top, 0xFF0000u);
        } else {
            EXPECT_NE(top, 0x00FF00u);
            EXPECT_GT(top & 0xFF, 0x80u);
        }
    }
    gDevice->SetTexture(0, nullptr);
    black.release();
}

TEST_F(SkyDevice, OnlyTheDomeCountsTriangles)
{
    // Without the dome the sky records, empty as the swap chain makes them,
    // draw nothing, and the glow passes leave their object as it was.
    startDay(12.0f, 0);
    look(0.0f, 20.0f);
    drawFrame();
    EXPECT_EQ(primitives, 0u);
    EXPECT_TRUE(chain().skyBox->empty() && chain().stars->empty() && chain().skyLayers->empty());

    startDay(12.0f, 1);
    drawFrame();
    uint32_t visibleTriangles = 0;
    for (int32_t i = 0; i < sky().visibleCount; ++i)
        visibleTriangles += sky().visible[i]->indexCount / 3;
    EXPECT_GT(visibleTriangles, 0u);
    EXPECT_LT(visibleTriangles, 17440u);
    EXPECT_EQ(primitives, visibleTriangles);

    const SunGlow fresh;
    const SunGlow& glow = *chain().sunGlow;
    EXPECT_EQ(glow.disc, nullptr);
    EXPECT_EQ(glow.halo, nullptr);
    EXPECT_EQ(glow.glow, nullptr);
    EXPECT_EQ(std::memcmp(&glow.discMode, &fresh.discMode,
                          reinterpret_cast<const char*>(&fresh.rateMaximum + 1) -
                              reinterpret_cast<const char*>(&fresh.discMode)),
              0);
}

TEST_F(SkyDevice, SunTextureIsMadeOnTheDevice)
{
    TextureRef ref;
    Scene::Sun::createTexture(ref);
    ASSERT_TRUE(ref.isBound());
    EXPECT_EQ(std::wstring(ref.texture()->name->text()), L"SunTex");
    ASSERT_NE(ref.texture()->texture, nullptr);
    EXPECT_EQ(ref.texture()->texture->GetLevelCount(), 1u);
    const Level level = TestDevice::readLevel(ref);
    ASSERT_EQ(level.width, 64u);
    ASSERT_EQ(level.height, 64u);
    EXPECT_EQ(level.at(31, 31), 0xF2F2F2F2u);
    for (uint32_t y = 0; y < 64; ++y)
        for (uint32_t x = 0; x < 64; ++x) {
            const uint32_t texel = level.at(x, y);
            EXPECT_EQ(texel, (texel & 0xFF) * 0x01010101u); // grey, alpha alike
            const int dx = int(x) - 31, dy = int(y) - 31;
            if (dx * dx + dy * dy >= 31 * 31) {
                EXPECT_EQ(texel, 0u) << x << "," << y;
            }
            if (x <= 62 && y <= 62) {
                EXPECT_EQ(texel, level.at(62 - x, y));
                EXPECT_EQ(texel, level.at(x, 62 - y));
                EXPECT_EQ(texel, level.at(y, x));
            }
        }
    // It fades outwards.
    for (uint32_t x = 32; x < 63; ++x)
        EXPECT_LE(level.at(x, 31), level.at(x - 1, 31));
    EXPECT_GT(level.at(40, 31), 0u);
    ref.release();
}

}
