// The ways on the real device: pieces uploaded and drawn, the draw distance,
// projection links, the road textures from the resource archive, and the
// sample course seen from above. The views are kept where
// KORVANTA_SCREENSHOTS names a folder.
#include "../Render/TestDevice.h"
#include "ResourceArchiveWriter.h"
#include "WayTestFiles.h"
#include "WayTextures.h"

#include "Landscape/GrasLayer.h"
#include "Landscape/Meadow.h"
#include "Landscape/Scene.h"
#include "Way/WayMesh.h"
#include "Render/TextureProj.h"

#include "Core/ResourceManager.h"
#include "Core/Timer.h"

#include <d3dx9.h>


namespace {

using namespace WayTestFiles;
using TestDevice::Level;
using Parts = std::vector<std::unique_ptr<::Way::PartMesh>>;

constexpr uint32_t clearColour = 0xFF00FF00;

Color colourAt(const Level& frame, const POINT& p)
{
    if (p.x < 0 || p.y < 0 || uint32_t(p.x) >= frame.width || uint32_t(p.y) >= frame.height)
        return Color();
    return Color::fromArgb(frame.at(uint32_t(p.x), uint32_t(p.y)));
}

POINT pixelOf(const D3D::Device::SwapChain& chain, const vec3d& p, const Level& frame)
{
    const float* m = chain.viewProjection.m;
    const float w = p.x * m[3] + p.y * m[7] + p.z * m[11] + m[15];
    const float x = (p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12]) / w;
    const float y = (p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13]) / w;
    return {LONG((x + 1.0f) * 0.5f * float(frame.width)), LONG((1.0f - y) * 0.5f * float(frame.height))};
}

void lookDown(D3D::Device::SwapChain& chain, const vec3d& position)
{
    chain.position = position;
    chain.angles = {0.0f, -89.9f, 0.0f};
    chain.setAnglesDeg();
    chain.Camera::update();
}

// The ways' pass alone over a cleared frame: its pixels, and the triangles.
Level drawWays(D3D::Device::SwapChain& chain, uint32_t& triangles)
{
    chain.beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
    gDevice->BeginScene();
    gWayNetwork.updateProjections();
    gWayNetwork.render(1);
    gDevice->EndScene();
    triangles = gDirectGraphics.record.primitiveCount;
    Level frame = TestDevice::readSurface(chain.targets[0].surface);
    TestDevice::keepView(chain.targets[0].surface);
    chain.present();
    return frame;
}

uint32_t usedRanges(BufferPool::List& list)
{
    uint32_t used = 0;
    for (auto* node = list.pools.head(); node; node = node->next)
        for (const BufferRange* r = node->item->firstRange; r; r = r->next)
            used += r->used ? 1 : 0;
    return used;
}

class WayDevice : public TestDevice::DeviceSuite
{
protected:
    void SetUp() override { createWayModelerSet(); }
    void TearDown() override
    {
        WayModelerSet::destroy();
        gWayNetwork.clear();
        gTerrain.clear();
    }
};

TEST_F(WayDevice, AnUploadedPieceDrawsAndItsPixelsReadBack)
{
    // The modelers recorded their (empty) state blocks with the device.
    EXPECT_NE(gWayModelerSet->simple.drawStateBlock, nullptr);
    EXPECT_NE(gWayModelerSet->simple.restoreStateBlock, nullptr);
    ASSERT_TRUE(read(bytesOf({Route{point(0, -30, L"SimpleWayBorderPaver1", 12.0f),
                                    point(0, 30, L"SimpleWayBorderPaver1", 12.0f)}})));
    ::Way::Segment& s = *gWayNetwork.segments[0];
    ASSERT_EQ(s.meshCount, 2u);
    for (uint32_t i = 0; i < 2; ++i) {
        ASSERT_NE(s.meshes[i].vertices, nullptr);
        ASSERT_NE(s.meshes[i].indices, nullptr);
        EXPECT_NE(s.meshes[i].tree, nullptr);
    }
    // The pieces' vertices as the mesh build made them.
    Parts parts;
    s.buildPartMeshes(parts);
    void* bits = nullptr;
    ASSERT_EQ(s.meshes[0].vertices->pool->vertexBuffer->Lock(s.meshes[0].vertices->start * 32, 32, &bits,
                                                               D3DLOCK_READONLY),
              D3D_OK);
    ::Way::Vertex stored;
    std::memcpy(&stored, bits, 32);
    s.meshes[0].vertices->pool->vertexBuffer->Unlock();
    EXPECT_EQ(stored.position, *parts[0]->getVertexData(0)->position);

    lookDown(chain(), {0.0f, 40.0f, 0.0f});
    uint32_t triangles = 0;
    const Level frame = drawWays(chain(), triangles);
    EXPECT_EQ(triangles, (s.meshes[0].indexCount + s.meshes[1].indexCount) / 3);
    // The road where it lies, the clear colour beside it.
    EXPECT_NE(colourAt(frame, pixelOf(chain(), {0, 0.2f, 0}, frame)).argb() | 0xFF000000, clearColour);
    EXPECT_NE(colourAt(frame, pixelOf(chain(), {-5, 0.1f, 10}, frame)).argb() | 0xFF000000, clearColour);
    EXPECT_EQ(colourAt(frame, pixelOf(chain(), {-12, 0, 0}, frame)).argb() | 0xFF000000, clearColour);
    EXPECT_EQ(colourAt(frame, pixelOf(chain(), {12, 0, -20}, frame)).argb() | 0xFF000000, clearColour);

    // A piece whose indices no pool can take is left empty, and the vertex
    // range it had already taken goes back.
    ::Way::PartMesh huge{String()};
    ::Way::emitTriangle(huge, {}, {{1, 0, 0}, {}, {}}, {{0, 0, 1}, {}, {}});
    huge.reserveIndices((1 << 24) + 3);
    *huge.getIndexCount() = (1 << 24) + 3;
    const uint32_t taken = usedRanges(gWayNetwork.vertexPools);
    ::Way::Segment::Mesh piece;
    EXPECT_FALSE(s.uploadMesh(piece, huge));
    EXPECT_EQ(piece.vertices, nullptr);
    EXPECT_EQ(piece.indices, nullptr);
    EXPECT_EQ(usedRanges(gWayNetwork.vertexPools), taken);
}

TEST_F(WayDevice, ASegmentExactlyAtTheDrawDistanceIsNotDrawn)
{
    ASSERT_TRUE(read(bytesOf({Route{point(0, -20), point(0, 20)}})));
    const ::Way::Segment& s = *gWayNetwork.segments[0];
    ASSERT_EQ(s.bounds.center.x, 0.0f);
    // Looking along -x at the segment from 1500 and from a little nearer.
    const std::pair<float, bool> places[] = {{1500.0f, false}, {1499.5f, true}};
    for (auto [x, drawn] : places) {
        chain().position = {x, 5.0f, s.bounds.center.z};
        chain().angles = {90.0f, 0.0f, 0.0f};
        chain().setAnglesDeg();
        chain().Camera::update();
        uint32_t triangles = 0;
        drawWays(chain(), triangles);
        EXPECT_EQ(triangles > 0, drawn) << x;
    }
    // Behind the camera it is not drawn either.
    chain().angles = {-90.0f, 0.0f, 0.0f};
    chain().setAnglesDeg();
    chain().position = {100.0f, 5.0f, 0.0f};
    chain().Camera::update();
    uint32_t triangles = 0;
    drawWays(chain(), triangles);
    EXPECT_EQ(triangles, 0u);
}

TEST_F(WayDevice, AProjectionMovedOffASegmentLosesItsLink)
{
    ASSERT_TRUE(read(bytesOf({Route{point(0, -30, L"Curbstone1", 12.0f), point(0, 30, L"Curbstone1", 12.0f)},
                              Route{point(200, -30), point(200, 30)}, Route{point(400, 0), point(460, 60)}})));
    ::Way::Segment& nearSegment = *gWayNetwork.segments[0];
    ::Way::Segment& farSegment = *gWayNetwork.segments[1];
    TextureProj lamp(nullptr);
    lamp.createStateBlocks();
    auto boxAround = [&lamp](const vec3d& c, float half) {
        lamp.volume.count = 0;
        const std::pair<vec3d, float> planes[6] = {
            {{1, 0, 0}, c.x - half}, {{-1, 0, 0}, -(c.x + half)}, {{0, 0, 1}, c.z - half},
            {{0, 0, -1}, -(c.z + half)}, {{0, 1, 0}, -1.0e6f}, {{0, -1, 0}, -1.0e6f}};
        for (const auto& [normal, distance] : planes) {
            ConvexVolume::Plane& plane = lamp.volume.planes[lamp.volume.count++];
            plane.normal = normal;
            plane.distance = distance;
            plane.point = normal * distance;
        }
        lamp.changed = 1;
    };
    lamp.receivers.append(&gWayNetwork);
    lamp.addToReceivers();
    ASSERT_EQ(gWayNetwork.projectionRecords.count(), 1);
    const uint32_t piecesOnly = usedRanges(gWayNetwork.indexPools);

    // Over a corner of the near segment: a link, and the triangles there
    // drawn again in ranges of their own.
    boxAround({-4.0f, 0.0f, 20.0f}, 5.0f);
    lookDown(chain(), {0.0f, 60.0f, 0.0f});
    uint32_t withLamp = 0;
    drawWays(chain(), withLamp);
    ASSERT_EQ(nearSegment.projections.count(), 1);
    EXPECT_EQ(farSegment.projections.count(), 0);
    EXPECT_EQ(gWayNetwork.projectionRecords.head()->item->links.count(), 1);
    const ::Way::ProjectionLink& link = *nearSegment.projections.head()->item;
    EXPECT_NE(link.entries[0].range, nullptr);
    EXPECT_LT(link.entries[0].count, nearSegment.meshes[0].indexCount);
    EXPECT_GT(usedRanges(gWayNetwork.indexPools), piecesOnly);
    // Unchanged, the projection keeps its ranges and draws them again.
    lamp.changed = 0;
    uint32_t again = 0;
    drawWays(chain(), again);
    EXPECT_EQ(again, withLamp);

    // Moved to the far segment: the near one loses its link, and the link's
    // ranges go back to the pools.
    boxAround({200.0f, 0.0f, 0.0f}, 5.0f);
    drawWays(chain(), withLamp);
    EXPECT_EQ(nearSegment.projections.count(), 0);
    EXPECT_EQ(farSegment.projections.count(), 1);
    lamp.changed = 0;
    boxAround({900.0f, 0.0f, 0.0f}, 5.0f);
    drawWays(chain(), withLamp);
    EXPECT_EQ(farSegment.projections.count(), 0);
    EXPECT_EQ(usedRanges(gWayNetwork.indexPools), piecesOnly);

    // Over the diagonal road, then in its box's empty corner: the link
    // stays, but no triangle is there to draw again.
    ::Way::Segment& diagonal = *gWayNetwork.segments[2];
    lookDown(chain(), {430.0f, 80.0f, 30.0f});
    boxAround({430.0f, 0.0f, 30.0f}, 4.0f);
    drawWays(chain(), withLamp);
    ASSERT_EQ(diagonal.projections.count(), 1);
    EXPECT_GT(usedRanges(gWayNetwork.indexPools), piecesOnly);
    boxAround({457.0f, 0.0f, 3.0f}, 2.0f);
    drawWays(chain(), withLamp);
    ASSERT_EQ(diagonal.projections.count(), 1);
    EXPECT_EQ(diagonal.projections.head()->item->entries[0].range, nullptr);
    EXPECT_EQ(usedRanges(gWayNetwork.indexPools), piecesOnly);

    // Other ways read over these: the links go with the old ways first.
    boxAround({430.0f, 0.0f, 30.0f}, 4.0f);
    drawWays(chain(), withLamp);
    ASSERT_GT(usedRanges(gWayNetwork.indexPools), piecesOnly);
    ASSERT_TRUE(read(bytesOf({Route{point(0, -30), point(0, 30)}})));
    EXPECT_EQ(gWayNetwork.projectionRecords.head()->item->links.count(), 0);
    EXPECT_EQ(usedRanges(gWayNetwork.indexPools), gWayNetwork.segments[0]->meshCount);
    drawWays(chain(), withLamp);
    // A projection is recorded once, each projection with a record of its own.
    TextureProj other(nullptr);
    gWayNetwork.addTexProj(&lamp);
    gWayNetwork.addTexProj(&other);
    gWayNetwork.addTexProj(&other);
    ASSERT_EQ(gWayNetwork.projectionRecords.count(), 2);
    EXPECT_EQ(gWayNetwork.projectionRecords.tail()->item->projection, &other);
    gWayNetwork.removeTexProj(&other);
    // The projection going takes its record along.
    lamp.detachFromReceivers();
    EXPECT_EQ(gWayNetwork.projectionRecords.count(), 0);
}

// The builder's road textures in an archive of their own.
std::wstring archiveWith(bool all)
{
    ResourceArchiveWriter archive;
    for (const WayTextures::Named& texture : WayTextures::all()) {
        if (!all && std::wstring(texture.name) == L"WayTrack")
            continue;
        const std::vector<uint8_t> bytes = ImageFileWriter::png(texture.image);
        archive.addEntry(String(texture.name), String(texture.name), bytes.data(), uint32_t(bytes.size()), 0, 0);
    }
    const std::wstring path = AppTestFiles::freshFolder(all ? L"way-textures" : L"way-textures-some") + L"Resource.res";
    archive.save(String(path.c_str()));
    return path;
}

TEST_F(WayDevice, AfterAProjectionTheNextModelersRoadsDrawFromTheirOwnPool)
{
    // The modelers with their textures, which the projections draw with too.
    WayModelerSet::destroy();
    ResourceManager resources;
    ASSERT_TRUE(resources.load(String(archiveWith(true).c_str())));
    createWayModelerSet(&resources);
    // Dense roads fill vertex pools: the first road's first segment almost a
    // whole pool (A), its second segment's second part the next (B), and the
    // curbstone road beside them lies in B too.
    Route paved{point(0, -40), point(0, 40), point(0, 120)};
    paved[0].stepsPerLength = 4.0f;
    Route curbed{point(60, -40, L"Curbstone1"), point(60, 40, L"Curbstone1")};
    curbed[0].stepsPerLength = 0.375f;
    ASSERT_TRUE(read(bytesOf({paved, curbed})));
    const ::Way::Segment& dense = *gWayNetwork.segments[0];
    const ::Way::Segment& next = *gWayNetwork.segments[1];
    const ::Way::Segment& curbs = *gWayNetwork.segments[2];
    const BufferPool* a = dense.meshes[1].vertices->pool;
    const BufferPool* b = next.meshes[1].vertices->pool;
    ASSERT_EQ(dense.meshes[0].vertices->pool, a);
    ASSERT_NE(b, a);
    ASSERT_EQ(curbs.meshes[0].vertices->pool, b);

    // A projection on the dense segment alone draws its pieces from A after
    // the paved road's pass, which ended in B; the curbstones draw next.
    TextureProj lamp(nullptr);
    lamp.createStateBlocks();
    const std::pair<vec3d, float> planes[6] = {{{1, 0, 0}, -5.0f},   {{-1, 0, 0}, -5.0f},    {{0, 0, 1}, -25.0f},
                                               {{0, 0, -1}, 15.0f},  {{0, 1, 0}, -1.0e6f}, {{0, -1, 0}, -1.0e6f}};
    for (const auto& [normal, distance] : planes) {
        ConvexVolume::Plane& plane = lamp.volume.planes[lamp.volume.count++];
        plane.normal = normal;
        plane.distance = distance;
        plane.point = normal * distance;
    }
    lamp.changed = 1;
    lamp.receivers.append(&gWayNetwork);
    lamp.addToReceivers();
    lookDown(chain(), {30.0f, 150.0f, 40.0f});
    uint32_t triangles = 0;
    const Level frame = drawWays(chain(), triangles);
    ASSERT_EQ(dense.projections.count(), 1);
    ASSERT_EQ(next.projections.count(), 0);
    for (float z : {-30.0f, 0.0f, 30.0f})
        EXPECT_NE(colourAt(frame, pixelOf(chain(), {60.0f, 0.2f, z}, frame)).argb() | 0xFF000000u, clearColour) << z;
    // The projections' pass leaves no road texture on its stage.
    IDirect3DBaseTexture9* stage1 = nullptr;
    gDevice->GetTexture(1, &stage1);
    EXPECT_EQ(stage1, nullptr);
    if (stage1)
        stage1->Release();
    lamp.detachFromReceivers();
}

TEST_F(WayDevice, TheRoadTexturesLoadFromTheArchive)
{
    WayModelerSet::destroy();
    ResourceManager resources;
    ASSERT_TRUE(resources.load(String(archiveWith(true).c_str())));
    createWayModelerSet(&resources);
    WayModelerSet& set = *gWayModelerSet;
    const struct
    {
        const TextureRef& slot;
        ImageFileWriter::Image image;
    } slots[] = {{set.simple.shader.textures[0], WayTextures::road()},
                 {set.simple.shader.textures[1], WayTextures::borderPaver()},
                 {set.curbstone.shader.textures[0], WayTextures::track()},
                 {set.curbstone.shader.textures[1], WayTextures::curbstone()}};
    for (const auto& s : slots) {
        ASSERT_TRUE(s.slot.isBound());
        const Level level = TestDevice::readLevel(s.slot);
        ASSERT_EQ(level.width, s.image.width);
        // The texels are the image's.
        for (uint32_t y = 0; y < level.height; y += 7)
            for (uint32_t x = 0; x < level.width; x += 5)
                ASSERT_EQ(level.at(x, y) | 0xFF000000u, s.image.at(x, y)) << x << ", " << y;
    }
    EXPECT_FALSE(set.hollow.shader.textures[0].isBound());

    // A missing entry leaves its slot empty: that part draws untextured.
    WayModelerSet::destroy();
    ResourceManager some;
    ASSERT_TRUE(some.load(String(archiveWith(false).c_str())));
    createWayModelerSet(&some);
    EXPECT_FALSE(gWayModelerSet->curbstone.shader.textures[0].isBound());
    EXPECT_TRUE(gWayModelerSet->curbstone.shader.textures[1].isBound());
    ASSERT_TRUE(read(bytesOf({Route{point(0, -30, L"Curbstone1", 12.0f), point(0, 30, L"Curbstone1", 12.0f)}})));
    lookDown(chain(), {0.0f, 30.0f, 0.0f});
    uint32_t triangles = 0;
    const Level frame = drawWays(chain(), triangles);
    EXPECT_NE(colourAt(frame, pixelOf(chain(), {0, 0.2f, 0}, frame)).argb() | 0xFF000000, clearColour);
}

// The sample level as the game loads it, on a window of the game's size.
class WaySample : public TestDevice::DeviceSuite
{
protected:
    static void SetUpTestSuite() { openDevice(1024, 768); }

    void SetUp() override
    {
        // The level's own hour: a clock never started would first step by
        // all the time since the machine started, and light the views by it.
        gTimer.init();
        ASSERT_TRUE(resources.load(getModuleFolder() + L"..\\Data\\Resource\\Resource.res"));
        createWayModelerSet(&resources);
        scene.swapChain = &chain();
        ASSERT_TRUE(scene.load(getModuleFolder() + L"..\\Data\\Map\\Valley.tee"));
        ASSERT_GT(gWayNetwork.segments.size(), 40u);
        // The sample's grass grows over the whole valley floor, roads
        // included: these views show the roads and the ground without it.
        if (chain().meadow)
            chain().meadow->clear();
    }
    void TearDown() override { scene.release(); }

    // A frame of the whole scene.
    Level frame()
    {
        scene.sun.update(gTimer, chain().sun, scene.season, 1.0f, 1.0f);
        chain().update();
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        chain().render(false);
        Level pixels = TestDevice::readSurface(chain().targets[0].surface);
        TestDevice::keepView(chain().targets[0].surface);
        chain().present();
        return pixels;
    }

    ResourceManager resources;
    Scene scene{String(L"Korvanta"), 3500.0f};
};

bool grey(const Color& c) { return std::abs(int(c.r) - int(c.g)) < 14 && std::abs(int(c.g) - int(c.b)) < 14; }
// Red beyond what grey allows, whatever the hour's light does to it.
bool reddish(const Color& c) { return c.r > c.g + 15 && c.r > c.b + 15; }
bool green(const Color& c) { return c.g > c.r + 10 && c.g > c.b; }

TEST_F(WaySample, TheCourseFromAboveShowsRoadBordersCurbsAndGround)
{
    // Above the shortcut's start on the west straight.
    const float x = WaySamples::westX, ground = gTerrain.getHeight(x, 0.0f, 3);
    lookDown(chain(), {x + 12.0f, ground + 45.0f, 0.0f});
    const Level pixels = frame();
    ASSERT_FALSE(pixels.texels.empty());
    auto at = [&](float px, float pz) {
        const float y = gTerrain.getHeight(px, pz, 3) + 0.2f;
        return colourAt(pixels, pixelOf(chain(), {px, y, pz}, pixels));
    };
    // The course's asphalt and the shortcut's, grey.
    EXPECT_TRUE(grey(at(x, 25.0f))) << std::hex << at(x, 25.0f).argb();
    EXPECT_TRUE(grey(at(x + 25.0f, 0.0f))) << std::hex << at(x + 25.0f, 0.0f).argb();
    // The shortcut's border strips: reddish paving stones (with grey joints).
    int paving = 0;
    for (float along = 16.0f; along < 36.0f; along += 0.5f)
        for (float z : {4.0f, -4.0f})
            paving += reddish(at(x + along, z));
    EXPECT_GT(paving, 30);
    // The valley's meadow beside the roads.
    EXPECT_TRUE(green(at(x - 20.0f, 20.0f))) << std::hex << at(x - 20.0f, 20.0f).argb();
    EXPECT_TRUE(green(at(x + 25.0f, 20.0f))) << std::hex << at(x + 25.0f, 20.0f).argb();
    // The curbstones along the course's edge, red or white.
    const float edge = x - WaySamples::courseWidth * 0.5f + 0.15f;
    int curb = 0;
    for (float z = 20.0f; z < 30.0f; z += 0.25f) {
        const Color c = at(edge, z);
        curb += reddish(c) || (c.r > 170 && c.g > 170 && c.b > 170);
    }
    EXPECT_GT(curb, 20);
}

// The valley's grass, grown around the west straight where the shortcut
// leaves it: plenty beside the roads, not one blade on the asphalt or the
// paving of either.
TEST_F(WaySample, GrassGrowsBesideThePavedRoadsAndNotOnThem)
{
    ASSERT_TRUE(chain().meadow && chain().meadow->ways);
    ASSERT_TRUE(chain().meadow->load(getModuleFolder() + L"..\\Data\\Map\\Valley.mdw"));
    const float x = WaySamples::westX;
    ASSERT_EQ(gWayNetwork.isOnPavement(x, 25.0f), 1u);
    ASSERT_EQ(gWayNetwork.isOnPavement(x + 25.0f, 0.0f), 1u);
    EXPECT_EQ(gWayNetwork.isOnPavement(x - 20.0f, 20.0f), 0u);
    int paved = 0, beside = 0;
    for (auto* node = chain().meadow->layers.head(); node; node = node->next) {
        Meadow::GrasLayer& layer = *node->item;
        layer.updatePatchGrid({x, gTerrain.getHeight(x, 0.0f, 3), 0.0f});
        for (auto* patch = layer.patches.head(); patch; patch = patch->next)
            for (uint32_t k = 0; k < patch->item->bladeCount; ++k) {
                const vec3d& p = patch->item->blades[k].position;
                (gWayNetwork.isOnPavement(p.x, p.z) ? paved : beside) += 1;
            }
    }
    EXPECT_EQ(paved, 0);
    EXPECT_GT(beside, 1000);
}

TEST_F(WaySample, TheDirtTrackSinksAndTintsTheGround)
{
    const ::Way::Segment* track = gWayNetwork.hollowSegments[3];
    const vec3d centre = track->positions[track->positions.size() / 2].centre;
    // 10 in from its edges the track lies 9 x 0.6 height units (9.45 world
    // units) below the ground on either side of it.
    const float left = gTerrain.getHeight(centre.x - 30.0f, centre.z, 3);
    const float right = gTerrain.getHeight(centre.x + 30.0f, centre.z, 3);
    // The meadow asks the network where no grass grows.
    ASSERT_TRUE(chain().meadow && chain().meadow->ways);
    EXPECT_EQ(chain().meadow->ways->isOnWay(centre.x, centre.z), 1);
    EXPECT_EQ(chain().meadow->ways->isOnWay(centre.x + 30.0f, centre.z), 0);
    EXPECT_LT(gTerrain.getHeight(centre.x, centre.z, 3), (left + right) * 0.5f - 7.0f);
    lookDown(chain(), {centre.x, right + 60.0f, centre.z});
    const Level pixels = frame();
    const Color on = colourAt(pixels, pixelOf(chain(), {centre.x, centre.y, centre.z}, pixels));
    const Color offLeft = colourAt(pixels, pixelOf(chain(), {centre.x - 30.0f, left, centre.z}, pixels));
    const Color offRight = colourAt(pixels, pixelOf(chain(), {centre.x + 30.0f, right, centre.z}, pixels));
    // Browner on the track: more red against the green.
    const int beside = (int(offLeft.r) - int(offLeft.g) + int(offRight.r) - int(offRight.g)) / 2;
    EXPECT_GT(int(on.r) - int(on.g), beside + 5) << std::hex << on.argb();
}

TEST_F(WaySample, TheLakeReflectsTheRoadsBesideIt)
{
    // Low over the lake, looking east to the course.
    chain().position = {-300.0f, 50.0f, -400.0f};
    chain().angles = {-90.0f, 0.0f, 0.0f};
    chain().setAnglesDeg();
    chain().Camera::update();
    frame();
    frame();
    auto drawnTriangles = [&](uint32_t drawn) {
        for (::Way::Modeler* m : gWayNetwork.modelers)
            m->drawn = drawn;
        frame();
        return gDirectGraphics.record.primitiveCount;
    };
    const uint32_t with = drawnTriangles(1), without = drawnTriangles(0);
    drawnTriangles(1);
    // The ways' own pass from this place.
    gDevice->BeginScene();
    const uint32_t before = gDirectGraphics.record.primitiveCount;
    gWayNetwork.render(1);
    const uint32_t pass = gDirectGraphics.record.primitiveCount - before;
    gDevice->EndScene();
    ASSERT_GT(pass, 0u);
    // The mirrored scene draws roads too.
    EXPECT_GT(with - without, pass);
}

}
