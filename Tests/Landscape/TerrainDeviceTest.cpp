// The terrain drawn by a real device under Wine: a valley and a hill over a
// magenta clear, lit by the sun, through a device reset, and its overlay
// textures through the ".map" writer.
#include "../Render/TestDevice.h"
#include "LandscapeTestFiles.h"
#include "TerrainTestMaps.h"

#include "Landscape/Scene.h"
#include "Landscape/SceneView.h"
#include "Render/DirectGraphics.h"
#include "Render/Light.h"
#include "Render/TextureProj.h"

#include "Core/Timer.h"

#include <gtest/gtest.h>

#include <d3dx9.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <set>

namespace {

using namespace TerrainTestMaps;

constexpr uint32_t magenta = 0xFFFF00FFu;
constexpr uint16_t meadow = 0x2C64; // green
constexpr uint16_t rock = 0xC618;   // light grey

// Low ground (20 units) for x < 0, a hill (200 units) for x > 0.
TerrainMapWriter::Map valleyAndHill()
{
    auto map = heightMap(128, [](int32_t i, int32_t) { return i < 64 ? 20.0f * 256 : 200.0f * 256; });
    map.layers.push_back(flatLayer(meadow, 0, 100));
    map.layers.push_back(flatLayer(rock, 101, 255));
    return map;
}

// Rolling ground in the valley's bands.
TerrainMapWriter::Map coloured(TerrainMapWriter::Map map)
{
    map.layers.push_back(flatLayer(meadow, 0, 100));
    map.layers.push_back(flatLayer(rock, 101, 255));
    return map;
}

class TerrainDevice : public TestDevice::DeviceSuite
{
protected:
    void SetUp() override
    {
        D3D::Device::SwapChain& camera = chain();
        // A noon sun of the default colours, whatever an earlier scene left.
        camera.sun = LightRecord{};
        camera.sun.direction = {0.0f, 1.0f, 0.0f};
        camera.range = 1800.0f;
        camera.fogEnabled = 0;
        Terrain::Settings s = settings();
        s.lodDistance = 3.0f; // levels 0 to 5 within the view
        const std::vector<uint8_t> bytes = mapBytes(valleyAndHill());
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        ASSERT_TRUE(gTerrain.load(nullptr, s, stream));
        lookDown({0.0f, 500.0f, -150.0f});
        gTerrain.startLod(static_cast<const Camera&>(camera));
    }
    void TearDown() override { gTerrain.clear(); }

    // The camera 70 degrees down towards +z from position.
    static void lookDown(vec3d position)
    {
        Camera& camera = chain();
        camera.position = position;
        camera.angles = {0.0f, -70.0f, 0.0f};
        camera.setAnglesDeg();
        camera.update();
    }

    // One frame over a magenta clear, read back before it is presented.
    static TestDevice::Level frame(const char* name)
    {
        D3D::Device::SwapChain& camera = chain();
        gTerrain.update(camera);
        camera.beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, magenta, 1.0f, 0);
        gDevice->BeginScene();
        gTerrain.render(1);
        gDevice->EndScene();
        TestDevice::Level pixels = TestDevice::readSurface(camera.targets[0].surface);
        if (const char* folder = std::getenv("KORVANTA_SCREENSHOTS")) {
            const std::string path = std::string(folder) + "/" + name + ".png";
            D3DXSaveSurfaceToFileA(path.c_str(), D3DXIFF_PNG, camera.targets[0].surface, nullptr, nullptr);
        }
        camera.present();
        return pixels;
    }

    static int count(const TestDevice::Level& level, const std::function<bool(uint32_t)>& want, uint32_t x0,
                     uint32_t x1)
    {
        int n = 0;
        for (uint32_t y = 0; y < level.height; ++y)
            for (uint32_t x = x0; x < x1; ++x)
                n += want(level.at(x, y) | 0xFF000000u) ? 1 : 0;
        return n;
    }
    static float brightness(const TestDevice::Level& level)
    {
        double sum = 0;
        for (uint32_t v : level.texels)
            sum += ((v >> 16) & 255) + ((v >> 8) & 255) + (v & 255);
        return float(sum / (3.0 * double(level.texels.size())));
    }
};

bool isMagenta(uint32_t c) { return c == magenta; }
bool isGreen(uint32_t c) { return ((c >> 8) & 255) > ((c >> 16) & 255) + 30 && ((c >> 8) & 255) > (c & 255) + 30; }
bool isGrey(uint32_t c)
{
    const int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
    return r > 120 && std::abs(r - g) < 24 && std::abs(r - b) < 24;
}

TEST_F(TerrainDevice, TheGroundCoversTheViewInItsBands)
{
    // Patches at every level of detail are in view, fine ones from pools and
    // coarse ones in the batch.
    std::set<int> levels;
    for (const Terrain::Patch& patch : gTerrain.patches)
        if (patch.detail)
            levels.insert(patch.level);
    EXPECT_GE(levels.size(), 4u);
    gDirectGraphics.record.primitiveCount = 0;
    const TestDevice::Level pixels = frame("terrain-overhead");
    ASSERT_FALSE(pixels.texels.empty());
    EXPECT_GT(gDirectGraphics.record.primitiveCount, 1000u);
    EXPECT_EQ(count(pixels, isMagenta, 0, pixels.width), 0);
    // The valley floor (x < 0, the left half) in the low band, the hill in the high one.
    const uint32_t half = pixels.width / 2;
    EXPECT_GT(count(pixels, isGreen, 0, half - 20), int((half - 20) * pixels.height * 9 / 10));
    EXPECT_GT(count(pixels, isGrey, half + 20, pixels.width), int((half - 20) * pixels.height * 9 / 10));
    EXPECT_GT(gTerrain.vertexPools.pools.count(), 0);
    // The batch walks through its buffer a window at a time, wrapping round.
    std::set<uint32_t> windows;
    for (int k = 0; k < 5; ++k) {
        frame("terrain-window");
        EXPECT_EQ(gTerrain.windowStart % Terrain::batchWindow, 0u);
        EXPECT_LT(gTerrain.windowStart, uint32_t(Terrain::batchCapacity));
        windows.insert(gTerrain.windowStart);
    }
    EXPECT_GT(windows.size(), 1u);

    // A sun below the horizon leaves the ambient light only.
    const float lit = brightness(pixels);
    chain().sun.direction = {0.0f, -1.0f, 0.0f};
    const TestDevice::Level night = frame("terrain-night");
    EXPECT_LT(brightness(night), lit * 0.5f);
    // Every patch in view follows the sun, drawn or not: drawn patches sample
    // their neighbours' edge texels, and no daylight may shine through there.
    EXPECT_EQ(count(night, [](uint32_t c) { return ((c >> 16) & 255) > 100; }, 0, night.width), 0);
    chain().sun.direction = {0.0f, 1.0f, 0.0f};

    // After a device reset the ground is drawn as before.
    D3D::Device::reset(gDirectGraphics.record, nullptr);
    ASSERT_NE(gTerrain.batchVertices, nullptr);
    lookDown({0.0f, 500.0f, -150.0f});
    const TestDevice::Level after = frame("terrain-after-reset");
    EXPECT_EQ(count(after, isMagenta, 0, after.width), 0);
    EXPECT_NEAR(brightness(after), lit, 2.0f);
}

TEST_F(TerrainDevice, TheSampleValleyLoadsAndDraws)
{
    gTerrain.clear();
    const String path = getModuleFolder() + L"..\\Data\\Map\\Valley.tee";
    Scene scene(String(L"Korvanta"), 3500.0f);
    scene.swapChain = &chain();
    ASSERT_TRUE(scene.load(path));
    ASSERT_TRUE(gTerrain.isLoaded());
    EXPECT_EQ(gTerrain.size, 256);
    EXPECT_TRUE(gTerrain.overlays[0].isBound());
    // A view from the valley floor up to the hills on its side, the horizon
    // at the top.
    Camera& camera = chain();
    camera.position = {900.0f, gTerrain.getHeight(900.0f, 0.0f, 3) + 60.0f, 0.0f};
    camera.angles = {-90.0f, -12.0f, 0.0f};
    camera.setAnglesDeg();
    camera.update();
    // Lit by the scene's own sun at the level's time of day (half past noon),
    // coloured by its sky, as a frame's camera and sky updates leave it.
    scene.sun.update(gTimer, chain().sun, scene.season, 1.0f, 1.0f);
    ASSERT_NE(chain().viewRecord, nullptr);
    Scene::updateSky(*chain().viewRecord);
    ASSERT_GT(chain().sun.direction.y, 0.5f);
    ASSERT_GT(chain().sun.diffuse[1], 0.5f);
    const TestDevice::Level pixels = frame("valley");
    ASSERT_FALSE(pixels.texels.empty());
    // Below the horizon everything is ground: no crack between patches.
    int holes = 0, ground = 0;
    for (uint32_t x = 0; x < pixels.width; ++x) {
        bool below = false;
        for (uint32_t y = 0; y < pixels.height; ++y) {
            const bool clear = (pixels.at(x, y) | 0xFF000000u) == magenta;
            below = below || !clear;
            holes += below && clear ? 1 : 0;
            ground += clear ? 0 : 1;
        }
    }
    EXPECT_EQ(holes, 0);
    EXPECT_GT(ground, int(pixels.width * pixels.height / 2));
    // The ground in the sun: its slopes face the light differently, none is
    // left black.
    int dark = 0;
    std::set<uint32_t> shades;
    for (uint32_t v : pixels.texels)
        if ((v | 0xFF000000u) != magenta) {
            const uint32_t sum = ((v >> 16) & 255) + ((v >> 8) & 255) + (v & 255);
            dark += sum < 90 ? 1 : 0;
            shades.insert(sum / 8);
        }
    EXPECT_LT(dark, ground / 20);
    EXPECT_GT(shades.size(), 8u);
    scene.clear();
    EXPECT_FALSE(gTerrain.isLoaded());
}

TEST_F(TerrainDevice, ACoarsePatchAProjectionReachesGetsItsOwnVertices)
{
    // The coarse patches in view: drawn from the batch, without a range.
    frame("terrain-projection-before");
    const Terrain::Patch* coarse = nullptr;
    for (const Terrain::Patch& patch : gTerrain.patches)
        if (patch.detail && patch.level > 2 && patch.centre.z > 150.0f && patch.centre.z < 400.0f &&
            patch.centre.x < 0.0f && patch.centre.x > -200.0f) {
            coarse = &patch;
            break;
        }
    ASSERT_NE(coarse, nullptr);
    EXPECT_EQ(coarse->detail->range, nullptr);
    TextureProj lamp(nullptr);
    const vec3d c = coarse->centre;
    const std::pair<vec3d, float> planes[6] = {{{1, 0, 0}, c.x - 10}, {{-1, 0, 0}, -(c.x + 10)}, {{0, 0, 1}, c.z - 10},
                                               {{0, 0, -1}, -(c.z + 10)}, {{0, 1, 0}, -1.0e6f}, {{0, -1, 0}, -1.0e6f}};
    for (const auto& [normal, distance] : planes) {
        ConvexVolume::Plane& plane = lamp.volume.planes[lamp.volume.count++];
        plane.normal = normal;
        plane.distance = distance;
        plane.point = normal * distance;
    }
    gTerrain.addTexProj(&lamp);
    const TestDevice::Level pixels = frame("terrain-projection");
    EXPECT_NE(coarse->detail->range, nullptr);
    EXPECT_EQ(count(pixels, isMagenta, 0, pixels.width), 0);
    // The valley floor in view, lit in its band's green.
    EXPECT_GT(count(pixels, isGreen, 0, pixels.width / 2 - 20), int((pixels.width / 2 - 20) * pixels.height * 9 / 10));
    gTerrain.removeTexProj(&lamp);
}

TEST_F(TerrainDevice, TilesHoldTexturesOnlyWithinTheViewRange)
{
    gTerrain.clear();
    const std::vector<uint8_t> bytes = mapBytes(randomMap(256, 53));
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    ASSERT_TRUE(gTerrain.load(nullptr, settings(), stream));
    ASSERT_EQ(gTerrain.tiles.size(), 4u);
    // Tiles: rows along z, columns along x; the camera over the low-x, low-z one.
    Camera& camera = chain();
    camera.range = 600.0f;
    auto cameraOver = [&](float x, float z) {
        camera.position = {x, 400.0f, z};
        camera.Camera::update();
        gTerrain.update(camera);
    };
    cameraOver(-2500.0f, -2500.0f);
    EXPECT_TRUE(gTerrain.tiles[0].hasTextures());
    EXPECT_FALSE(gTerrain.tiles[3].hasTextures());
    cameraOver(2500.0f, 2500.0f);
    EXPECT_TRUE(gTerrain.tiles[3].hasTextures());
    for (const Terrain::Tile* tile : {&gTerrain.tiles[0], &gTerrain.tiles[1], &gTerrain.tiles[2]}) {
        EXPECT_EQ(tile->light, nullptr);
        EXPECT_EQ(tile->colour, nullptr);
    }
    // Their patches' detail records went with them.
    EXPECT_EQ(gTerrain.patches[0].detail, nullptr);
    camera.range = 1800.0f;
}

// The texels of a tile texture (a render target), read back through system
// memory as 16-bit values of the texture's own format (32-bit light texels
// are folded to A4R4G4B4).
std::vector<uint16_t> tileTexels(IDirect3DTexture9* texture)
{
    std::vector<uint16_t> texels;
    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* copy = nullptr;
    D3DSURFACE_DESC desc{};
    if (!texture || FAILED(texture->GetSurfaceLevel(0, &target)) || FAILED(target->GetDesc(&desc)) ||
        FAILED(gDevice->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM, &copy,
                                                    nullptr)) ||
        FAILED(gDevice->GetRenderTargetData(target, copy))) {
        D3D::releaseInterface(target);
        D3D::releaseInterface(copy);
        return texels;
    }
    D3DLOCKED_RECT lock{};
    if (SUCCEEDED(copy->LockRect(&lock, nullptr, D3DLOCK_READONLY))) {
        for (uint32_t y = 0; y < desc.Height; ++y)
            for (uint32_t x = 0; x < desc.Width; ++x) {
                const uint8_t* row = static_cast<const uint8_t*>(lock.pBits) + y * lock.Pitch;
                if (desc.Format == D3DFMT_A8R8G8B8) {
                    const uint32_t c = reinterpret_cast<const uint32_t*>(row)[x];
                    texels.push_back(uint16_t((c >> 28) << 12 | ((c >> 20) & 15) << 8 | ((c >> 12) & 15) << 4 |
                                              ((c >> 4) & 15)));
                } else {
                    texels.push_back(reinterpret_cast<const uint16_t*>(row)[x]);
                }
            }
        copy->UnlockRect();
    }
    target->Release();
    copy->Release();
    return texels;
}

TEST_F(TerrainDevice, EveryPatchsTexelsLandInItsTileWithTheEdgeCopies)
{
    gTerrain.clear();
    const std::vector<uint8_t> bytes = mapBytes(coloured(randomMap(256, 29)));
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    ASSERT_TRUE(gTerrain.load(nullptr, settings(), stream));
    ASSERT_EQ(gTerrain.tiles.size(), 4u);
    // A sun off the vertical, so that the light texels differ from patch to patch.
    chain().sun.direction = vec3d{0.5f, 0.6f, -0.4f}.normalised();
    lookDown({0.0f, 2500.0f, -300.0f});
    chain().range = 4000.0f;
    gTerrain.startLod(static_cast<const Camera&>(chain()));
    frame("terrain-tiles");
    for (bool light : {false, true}) {
        std::vector<std::vector<uint16_t>> tiles;
        for (const Terrain::Tile& tile : gTerrain.tiles) {
            ASSERT_TRUE(tile.hasTextures());
            tiles.push_back(tileTexels(light ? tile.light : tile.colour));
            ASSERT_EQ(tiles.back().size(), size_t(Terrain::tileTexels * Terrain::tileTexels));
        }
        const int32_t n = gTerrain.patchesPerSide;
        int checked = 0;
        for (const Terrain::Patch& patch : gTerrain.patches) {
            if (!patch.detail)
                continue;
            const Terrain::PatchData& data = *patch.detail;
            const auto& block = light ? data.lightTexels : data.colours;
            const size_t t = size_t(data.tile - gTerrain.tiles.data());
            const int32_t column = patch.index / n % 32, row = (n - 1 - patch.index % n) % 32;
            auto at = [](const std::vector<uint16_t>& texels, int32_t x, int32_t y) {
                return texels[size_t(y * Terrain::tileTexels + x)];
            };
            // Column 0 and row 0 of a tile belong to its low-x and low-z neighbours.
            for (int32_t j = row == 0 ? 1 : 0; j < 16; ++j)
                for (int32_t i = column == 0 ? 1 : 0; i < 16; ++i)
                    ASSERT_EQ(at(tiles[t], 16 * column + i, 16 * row + j), block[i][j])
                        << light << " patch " << patch.index << " " << i << " " << j;
            const size_t higherColumn = size_t(data.tile->higherColumn - gTerrain.tiles.data());
            const size_t higherRow = size_t(data.tile->higherRow - gTerrain.tiles.data());
            for (int32_t k = 0; k < 16; ++k) {
                if (column == 31 && (row > 0 || k > 0))
                    ASSERT_EQ(at(tiles[higherColumn], 0, 16 * row + k), block[15][k]) << light << " " << patch.index;
                if (row == 31 && (column > 0 || k > 0))
                    ASSERT_EQ(at(tiles[higherRow], 16 * column + k, 0), block[k][15]) << light << " " << patch.index;
            }
            ++checked;
        }
        EXPECT_GT(checked, gTerrain.patchCount * 9 / 10);
    }
    chain().range = 1800.0f;
}

TEST_F(TerrainDevice, AGivenUpVertexRangeRestsThreeFramesBeforeItIsFree)
{
    frame("terrain-resting");
    Terrain::PatchData* fine = nullptr;
    for (const Terrain::Patch& patch : gTerrain.patches)
        if (patch.detail && patch.detail->range) {
            fine = patch.detail;
            break;
        }
    ASSERT_NE(fine, nullptr);
    BufferRange* range = fine->range;
    gTerrain.retireRange(fine->range);
    EXPECT_EQ(fine->range, nullptr);
    for (int k = 0; k < 2; ++k) {
        gTerrain.update(chain());
        EXPECT_NE(range->used, 0u) << k; // still taken: the device may draw from it
    }
    gTerrain.update(chain());
    EXPECT_TRUE(gTerrain.restingRanges.empty());
    // The next frame gives the patch a range of its own again.
    frame("terrain-resting-after");
    EXPECT_NE(fine->range, nullptr);
}

TEST_F(TerrainDevice, TexelsDrawnIntoTheTilesLeaveTheTargetAndItsStates)
{
    // The load left every patch's texels waiting for the first terrain pass.
    ASSERT_FALSE(gTerrain.pendingTexels.empty());
    D3D::Device::SwapChain& camera = chain();
    camera.beginFrame();
    gDevice->BeginScene();
    IDirect3DSurface9* target = nullptr;
    IDirect3DSurface9* depth = nullptr;
    gDevice->GetRenderTarget(0, &target);
    gDevice->GetDepthStencilSurface(&depth);
    const D3DVIEWPORT9 part{20, 10, 200, 150, 0.0f, 1.0f};
    gDevice->SetViewport(&part);
    gDevice->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    gDevice->SetRenderState(D3DRS_FOGENABLE, TRUE);
    gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    gTerrain.render(1);
    EXPECT_TRUE(gTerrain.pendingTexels.empty());
    D3DVIEWPORT9 viewport{};
    gDevice->GetViewport(&viewport);
    EXPECT_EQ(std::memcmp(&viewport, &part, sizeof(part)), 0);
    IDirect3DSurface9* targetAfter = nullptr;
    IDirect3DSurface9* depthAfter = nullptr;
    gDevice->GetRenderTarget(0, &targetAfter);
    gDevice->GetDepthStencilSurface(&depthAfter);
    EXPECT_EQ(targetAfter, target);
    EXPECT_EQ(depthAfter, depth);
    DWORD z = 0, fog = 0, blend = 0, argument = 0;
    gDevice->GetRenderState(D3DRS_ZENABLE, &z);
    gDevice->GetRenderState(D3DRS_FOGENABLE, &fog);
    gDevice->GetRenderState(D3DRS_ALPHABLENDENABLE, &blend);
    gDevice->GetTextureStageState(0, D3DTSS_COLORARG1, &argument);
    EXPECT_EQ(z, DWORD(D3DZB_TRUE));
    EXPECT_EQ(fog, DWORD(TRUE));
    EXPECT_EQ(blend, DWORD(TRUE));
    EXPECT_EQ(argument, DWORD(D3DTA_TEXTURE));
    gDevice->SetRenderState(D3DRS_FOGENABLE, FALSE);
    gDevice->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    for (IDirect3DSurface9* surface : {target, depth, targetAfter, depthAfter})
        D3D::releaseInterface(surface);
    gDevice->EndScene();
    camera.present();
}

TEST_F(TerrainDevice, APassDrawsEachPatchAtMostOnceThroughManyBatches)
{
    // Four tiles and every patch in view: the coarse patches fill the batch
    // window several times and the tiles change, each a flush.
    gTerrain.clear();
    const std::vector<uint8_t> bytes = mapBytes(coloured(randomMap(256, 31)));
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    ASSERT_TRUE(gTerrain.load(nullptr, settings(), stream));
    lookDown({0.0f, 2500.0f, -300.0f});
    chain().range = 4000.0f;
    gTerrain.startLod(static_cast<const Camera&>(chain()));
    frame("terrain-batches");
    uint32_t all = 0, coarse = 0;
    for (int32_t p : gTerrain.detailed) {
        const Terrain::Patch& patch = gTerrain.patches[size_t(p)];
        const uint32_t triangles =
            gTerrain.indexSets[Terrain::indexSetOf(patch.level, patch.lowerFlag, patch.leftFlag)].triangles;
        all += triangles;
        coarse += patch.level > 2 ? uint32_t(gTerrain.indexSets[Terrain::indexSetOf(patch.level, patch.lowerFlag, patch.leftFlag)].table.size()) : 0;
    }
    ASSERT_GT(coarse, 3u * Terrain::batchWindow);
    gDirectGraphics.record.primitiveCount = 0;
    frame("terrain-batches");
    EXPECT_LE(gDirectGraphics.record.primitiveCount, all);
    EXPECT_GT(gDirectGraphics.record.primitiveCount, all / 3);
    chain().range = 1800.0f;
}

TEST_F(TerrainDevice, OverlaysOfEveryStoredFormatBecomeA8R8G8B8)
{
    auto halfOf = [](float v) { return v == 1.0f ? uint16_t(0x3C00) : v == 0.5f ? uint16_t(0x3800) : uint16_t(0); };
    struct Case
    {
        uint32_t format;
        std::vector<uint8_t> pixel;
        uint32_t argb;
    };
    std::vector<Case> cases = {
        {20, {0x30, 0x20, 0x10}, 0xFF102030u},     // R8G8B8: blue, green, red
        {23, {0x00, 0xF8}, 0xFFF80000u},           // R5G6B5 red, as the core converts it
        {26, {0x0F, 0x8F}, 0x88FF00FFu},           // A4R4G4B4
        {113, {}, 0xFFFF8000u},                    // half floats: red 1, green 0.5, blue 0, alpha 1
        {116, {}, 0x8040FF00u},                    // floats: red 0.25, green 2, blue -1, alpha 0.5
    };
    for (float v : {1.0f, 0.5f, 0.0f, 1.0f}) {
        const uint16_t h = halfOf(v);
        cases[3].pixel.push_back(uint8_t(h));
        cases[3].pixel.push_back(uint8_t(h >> 8));
    }
    for (float v : {0.25f, 2.0f, -1.0f, 0.5f}) {
        uint8_t bytes[4];
        std::memcpy(bytes, &v, 4);
        cases[4].pixel.insert(cases[4].pixel.end(), bytes, bytes + 4);
    }
    auto map = randomMap(128, 52);
    map.layers.push_back(flatLayer(meadow, 0, 255));
    const std::vector<uint8_t> plain = mapBytes(map);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        std::vector<uint8_t> bytes = plain;
        const uint16_t two = 2;
        std::memcpy(&bytes[0], &two, 2);
        std::memcpy(&bytes[4], &two, 2);
        std::memcpy(&bytes[8], &c.format, 4);
        std::vector<uint8_t> pixels;
        for (int k = 0; k < 4; ++k)
            pixels.insert(pixels.end(), c.pixel.begin(), c.pixel.end());
        bytes.insert(bytes.begin() + 20, pixels.begin(), pixels.end());
        gTerrain.clear();
        FileArray stream(4096);
        stream.write(bytes.data(), uint32_t(bytes.size()));
        stream.seek(0, 0);
        ASSERT_TRUE(gTerrain.load(nullptr, settings(), stream));
        const TestDevice::Level level = TestDevice::readLevel(gTerrain.overlays[0]);
        ASSERT_EQ(level.texels.size(), 4u);
        EXPECT_EQ(level.at(1, 1), c.argb);
    }
}

TEST_F(TerrainDevice, OverlaysTravelThroughTheMapFile)
{
    auto map = randomMap(128, 51);
    map.layers.push_back(flatLayer(meadow, 0, 255));
    map.overlays[0].width = 16;
    map.overlays[0].height = 8;
    for (uint32_t k = 0; k < 128; ++k)
        map.overlays[0].argb.push_back(0xFF000000u | k * 0x010203u);
    map.overlays[1].width = map.overlays[1].height = 4;
    map.overlays[1].argb.assign(16, 0x80402010u);
    const std::vector<uint8_t> bytes = mapBytes(map);
    gTerrain.clear();
    FileArray stream(4096);
    stream.write(bytes.data(), uint32_t(bytes.size()));
    stream.seek(0, 0);
    ASSERT_TRUE(gTerrain.load(nullptr, settings(), stream));
    ASSERT_TRUE(gTerrain.overlays[0].isBound());
    FileArray out(1 << 16);
    ASSERT_TRUE(gTerrain.write(out));
    const std::vector<uint8_t> saved = LandscapeTestFiles::bytesOf(out);
    ASSERT_EQ(saved.size(), bytes.size());
    const size_t ranges = 20 + 16 * 8 * 4 + 4 * 4 * 4 + 131078;
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + ptrdiff_t(ranges), saved.begin()));
    EXPECT_TRUE(std::equal(bytes.end() - 1000, bytes.end(), saved.end() - 1000));
}

}
