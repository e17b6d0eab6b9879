// Environment maps on the real device: six faces rendered around a point,
// their downsampled levels, the sun sprite and the rebuild after a reset.
#include "TestDevice.h"

#include "Render/CubeFaceViews.h"
#include "Render/EnvMap.h"
#include "Render/RenderHandshake.h"
#include "Render/RenderTexture.h"

#include <cmath>

using namespace TestDevice;

namespace {

// One colour per face direction: +X, -X, +Y, -Y, +Z, -Z.
constexpr uint32_t markerColours[6] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF};

// Draws an 8 x 8 square 10 units out along each world axis from the map's
// position, in that axis's colour, over black.
class MarkerClient final : public EnvMap::Interface
{
public:
    void renderEnvFace() override
    {
        ++faces;
        busyWhileDrawing = busyWhileDrawing && RenderHandshake::renderBusy();
        struct Vertex
        {
            float x, y, z;
            uint32_t colour;
        };
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        gDevice->SetTexture(0, nullptr);
        const matrix3d identity = matrix3d::identity();
        gDevice->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
        gDevice->SetFVF(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        for (int axis = 0; axis < 3; ++axis)
            for (int sign = 0; sign < 2; ++sign) {
                vec3d centre = centreAt;
                centre[axis] += sign ? -10.0f : 10.0f;
                vec3d a, b;
                a[(axis + 1) % 3] = 4.0f;
                b[(axis + 2) % 3] = 4.0f;
                const uint32_t colour = 0xFF000000 | markerColours[axis * 2 + sign];
                const vec3d corners[4] = {centre - a - b, centre + a - b, centre - a + b, centre + a + b};
                Vertex quad[4];
                for (int i = 0; i < 4; ++i)
                    quad[i] = {corners[i].x, corners[i].y, corners[i].z, colour};
                gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Vertex));
            }
        gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
        gDevice->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    }

    vec3d centreAt;
    int faces = 0;
    bool busyWhileDrawing = true;
};

class CountingSprite final : public EnvMap::Sprite
{
public:
    void draw() override { ++draws; }
    int draws = 0;
};

Level readFace(const EnvMap& map, int face, uint32_t level)
{
    IDirect3DSurface9* surface = nullptr;
    IDirect3DCubeTexture9* cube = map.cubeTexture.texture()->cubeTexture;
    if (!cube || FAILED(cube->GetCubeMapSurface(D3DCUBEMAP_FACES(face), level, &surface)))
        return {};
    Level out = readSurface(surface);
    if (level == 0)
        keepView(surface);
    surface->Release();
    return out;
}

// Each face's view is a rotation that looks along its own axis, with the
// 90-degree lens of near plane 0.1 and far plane 3000.
TEST(CubeFaceViews, EachFaceTurnsItsAxisToTheFront)
{
    const vec3d axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
    for (int face = 0; face < 6; ++face) {
        SCOPED_TRACE(face);
        const matrix3d& r = CubeFaceViews::rotation(face);
        for (int i = 0; i < 3; ++i)
            for (int j = 0; j < 3; ++j)
                EXPECT_EQ(r.row(i).dot(r.row(j)), i == j ? 1.0f : 0.0f);
        EXPECT_EQ(r.row(0).cross(r.row(1)).dot(r.row(2)), 1.0f); // a rotation, no mirror
        EXPECT_EQ(r.transformVector(axes[face]), vec3d(0, 0, 1));
        const vec3d p{2.0f, -3.0f, 5.0f};
        EXPECT_EQ(CubeFaceViews::view(face, p).transformPoint(p + axes[face]), vec3d(0, 0, 1));
    }
    const matrix3d& lens = CubeFaceViews::projection();
    EXPECT_EQ(lens.at(0, 0), 1.0f);
    EXPECT_EQ(lens.at(1, 1), 1.0f);
    EXPECT_NEAR(lens.at(2, 2), 1.0000334f, 1e-7f);
    EXPECT_NEAR(lens.at(3, 2), -0.10000334f, 1e-8f);
    EXPECT_EQ(lens.at(2, 3), 1.0f);
    EXPECT_EQ(lens.at(3, 3), 0.0f);
}

class EnvironmentMap : public DeviceSuite
{
protected:
    // A 64 x 64 map of three levels, downsampled from a face target.
    static void makeMap(EnvMap& map)
    {
        map.size = 64;
        map.levels = 3;
        map.kind = EnvMap::downsampled;
        map.faceTarget = RenderTexture::acquire(RenderTexture::shared, 64, 64, false, true, -1, D3DFMT_A8R8G8B8);
        ASSERT_NE(map.faceTarget, nullptr);
        ASSERT_TRUE(EnvMap::restore(map));
        EnvMap::enter(map);
    }

    // Each face shows its own marker in its centre and no other marker; the
    // two smaller levels show the same, downsampled.
    static void expectMarkers(const EnvMap& map)
    {
        for (int face = 0; face < 6; ++face) {
            SCOPED_TRACE(face);
            for (uint32_t level = 0; level < 3; ++level) {
                const Level pixels = readFace(map, face, level);
                const uint32_t edge = 64 >> level;
                ASSERT_EQ(pixels.width, edge);
                EXPECT_EQ(pixels.at(edge / 2, edge / 2) & 0xFFFFFF, markerColours[face]) << "level " << level;
                EXPECT_EQ(pixels.at(0, 0) & 0xFFFFFF, 0u);
                EXPECT_EQ(pixels.at(edge - 1, edge - 1) & 0xFFFFFF, 0u);
                int foreign = 0;
                for (uint32_t t : pixels.texels)
                    for (int other = 0; other < 6; ++other)
                        foreign += other != face && (t & 0xFFFFFF) == markerColours[other];
                EXPECT_EQ(foreign, 0);
            }
        }
    }
};

TEST_F(EnvironmentMap, EachAxisMarkerShowsInItsOwnFaceOnAllLevels)
{
    MarkerClient marker;
    EnvMap map(nullptr, &marker);
    makeMap(map);
    marker.centreAt = {5.0f, 2.0f, -3.0f};
    D3D::Device::SwapChain* camera = gDirectGraphics.record.currentSwapChain;
    ASSERT_NE(camera, nullptr);
    const ConvexVolume direction = camera->directionVolume, frustum = camera->frustum;
    EnvMap::render(map, marker.centreAt);
    EXPECT_EQ(marker.faces, 6);
    EXPECT_TRUE(marker.busyWhileDrawing);
    EXPECT_FALSE(RenderHandshake::renderBusy());
    EXPECT_EQ(map.position, marker.centreAt);
    EXPECT_EQ(map.cubeTexture.texture()->busy, 0u);
    IDirect3DBaseTexture9* bound = nullptr;
    gDevice->GetTexture(0, &bound);
    EXPECT_EQ(bound, nullptr); // not the face target, which a later pass may draw into
    if (bound)
        bound->Release();
    // The frame's transforms and volumes are back.
    D3D::Device& record = gDirectGraphics.record;
    EXPECT_EQ(record.viewCount, 1u);
    EXPECT_EQ(record.projectionCount, 1u);
    record.popProjection(); // the camera's own entries stay
    record.popView();
    EXPECT_EQ(record.viewCount, 1u);
    EXPECT_EQ(record.projectionCount, 1u);
    const auto samePlanes = [](const ConvexVolume& a, const ConvexVolume& b) {
        if (a.count != b.count)
            return false;
        for (int32_t i = 0; i < a.count; ++i)
            if (a.planes[i].normal != b.planes[i].normal || a.planes[i].distance != b.planes[i].distance)
                return false;
        return true;
    };
    EXPECT_TRUE(samePlanes(camera->directionVolume, direction));
    EXPECT_TRUE(samePlanes(camera->frustum, frustum));
    expectMarkers(map);

    // A reset drops the cube texture and renders it again afterwards.
    D3DPRESENT_PARAMETERS pp;
    D3D::Device::fillPresentParameters(record.presentSettings, window, false, pp);
    D3D::Device::reset(record, &pp);
    ASSERT_EQ(record.resetting, 0u);
    EXPECT_EQ(marker.faces, 12);
    expectMarkers(map);

    EnvMap::release(map);
    EnvMap::release(map);
    EXPECT_EQ(EnvMap::maps.count(), 0);
    EXPECT_FALSE(map.cubeTexture.isBound());
}

// Without a face target the faces are drawn straight into the cube texture,
// which makes its own smaller levels.
TEST_F(EnvironmentMap, AMapWithoutFaceTargetDrawsIntoTheCubeAndKeepsNoSurface)
{
    MarkerClient marker;
    EnvMap map(nullptr, &marker);
    map.size = 64;
    map.levels = 0; // the whole chain
    map.kind = EnvMap::autoMipmapped;
    ASSERT_TRUE(EnvMap::restore(map));
    ASSERT_NE(map.depthSurface, nullptr);
    IDirect3DCubeTexture9* cube = map.cubeTexture.texture()->cubeTexture;
    const auto references = [cube] {
        cube->AddRef();
        return cube->Release();
    };
    const ULONG before = references();
    EnvMap::render(map, marker.centreAt);
    EXPECT_EQ(references(), before); // every face surface was given back
    EXPECT_EQ(marker.faces, 6);
    for (int face = 0; face < 6; ++face) {
        const Level pixels = readFace(map, face, 0);
        ASSERT_EQ(pixels.width, 64u);
        EXPECT_EQ(pixels.at(32, 32) & 0xFFFFFF, markerColours[face]);
    }
}

// The device's release takes every entered map's device objects and empties
// the list; the maps themselves stay with their owners and can be made again.
TEST_F(EnvironmentMap, TheDevicesReleaseLetsGoOfEveryEnteredMap)
{
    MarkerClient marker;
    EnvMap maps[2] = {EnvMap(nullptr, &marker), EnvMap(nullptr, &marker)};
    for (EnvMap& map : maps) {
        map.size = 32;
        map.kind = EnvMap::autoMipmapped;
        ASSERT_TRUE(EnvMap::restore(map));
        ASSERT_NE(map.depthSurface, nullptr);
        EnvMap::enter(map);
    }
    EnvMap::enter(maps[0]);
    EXPECT_EQ(EnvMap::maps.count(), 2);
    EnvMap::releaseAll();
    EXPECT_EQ(EnvMap::maps.count(), 0);
    for (EnvMap& map : maps) {
        EXPECT_FALSE(map.cubeTexture.isBound());
        EXPECT_EQ(map.depthSurface, nullptr);
        EXPECT_EQ(map.node, nullptr);
    }
    ASSERT_TRUE(EnvMap::restore(maps[1]));
    EnvMap::enter(maps[1]);
    EnvMap::render(maps[1], {});
    EXPECT_EQ(marker.faces, 6);
    EnvMap::release(maps[1]);
    EXPECT_EQ(EnvMap::maps.count(), 0);
}

TEST_F(EnvironmentMap, MapsWithoutSizeOrTextureOrNotLiveRenderNothing)
{
    MarkerClient marker;
    EnvMap empty(nullptr, &marker);
    EnvMap::render(empty, {});
    EnvMap sleeping(nullptr, &marker);
    makeMap(sleeping);
    sleeping.state = 0;
    EnvMap::render(sleeping, {});
    EnvMap::renderAll();
    EXPECT_EQ(marker.faces, 0);
    EXPECT_EQ(empty.lastRenderTime, 0u);
}

TEST_F(EnvironmentMap, TheSunSpriteFacesTheMapFromTheSun)
{
    for (const vec3d sun : {vec3d{0.6f, 0.48f, 0.64f}, vec3d{0.0f, 1.0f, 0.0f}, vec3d{-1.0f, 0.0f, 0.0f}}) {
        EnvMap map(&chain(), nullptr);
        auto* sprite = new CountingSprite;
        map.sunSprite = sprite;
        chain().sun.direction = sun;
        chain().sun.diffuse[0] = 1.0f;
        chain().sun.diffuse[1] = 0.5f;
        chain().sun.diffuse[2] = 0.25f;
        const vec3d at{1.0f, 2.0f, 3.0f};
        EnvMap::updateSunSprite(map, at);
        const matrix3d& m = sprite->world;
        for (float v : m.m)
            EXPECT_TRUE(std::isfinite(v));
        EXPECT_NEAR(m.row(2).dot(sun), 18.0f, 1e-3f);
        EXPECT_NEAR(m.at(3, 0), at.x + sun.x * 10.0f, 1e-4f);
        EXPECT_NEAR(m.at(3, 2), at.z + sun.z * 10.0f, 1e-4f);
        if (sun.y < 0.9f) {
            EXPECT_NEAR(m.row(0).length(), 18.0f, 1e-3f);
            EXPECT_NEAR(m.row(1).length(), 18.0f, 1e-3f);
            EXPECT_NEAR(m.row(0).dot(m.row(1)), 0.0f, 1e-3f);
            EXPECT_NEAR(m.row(1).dot(sun), 0.0f, 1e-3f);
        }
        EXPECT_EQ(sprite->colour, Color(255, 128, 64, 220));
        // The map's release deletes the sprite once, and a second release
        // finds none.
        EnvMap::release(map);
        EXPECT_EQ(map.sunSprite, nullptr);
        EnvMap::release(map);
    }
    chain().sun = LightRecord();

    // A map with its sun flag draws the sprite into every face.
    MarkerClient marker;
    EnvMap map(nullptr, &marker);
    makeMap(map);
    auto* sprite = new CountingSprite;
    map.sunSprite = sprite;
    map.sunFlag = 1;
    EnvMap::render(map, {});
    EXPECT_EQ(sprite->draws, 6);
}

}
