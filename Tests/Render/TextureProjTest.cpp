// Texture projections: the texture matrix against brute force, the
// receivers' lists, the pools of receiving indices and the projected
// texture on the real device.
#include "TestDevice.h"

#include "Render/BufferPool.h"
#include "Render/LightProj.h"
#include "Render/TextureProj.h"

#include "Entity/EntityManager.h"

#include <random>

using namespace TestDevice;

namespace {

// (p, 1) x m with its w.
struct Projected
{
    float x, y, z, w;
};
Projected project(const vec3d& p, const matrix3d& m)
{
    const vec3d t = m.transformPoint(p);
    return {t.x, t.y, t.z, p.x * m.at(0, 3) + p.y * m.at(1, 3) + p.z * m.at(2, 3) + m.at(3, 3)};
}

// A rigid motion: a random rotation (from a random quaternion) and a shift.
matrix3d randomPose(std::mt19937& random)
{
    std::normal_distribution<float> n;
    float q[4] = {n(random), n(random), n(random), n(random)};
    const float length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    for (float& c : q)
        c /= length;
    const float x = q[0], y = q[1], z = q[2], w = q[3];
    matrix3d m = matrix3d::identity();
    const float rows[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y + z * w), 2 * (x * z - y * w)},
                              {2 * (x * y - z * w), 1 - 2 * (x * x + z * z), 2 * (y * z + x * w)},
                              {2 * (x * z + y * w), 2 * (y * z - x * w), 1 - 2 * (x * x + y * y)}};
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c)
            m.at(r, c) = rows[r][c];
    std::uniform_real_distribution<float> shift(-50.0f, 50.0f);
    m.at(3, 0) = shift(random);
    m.at(3, 1) = shift(random);
    m.at(3, 2) = shift(random);
    return m;
}

// Records what it is asked to receive.
class Receiver final : public TextureProj::Interface
{
public:
    void addTexProj(TextureProj* p) override { held.push_back(p); }
    void removeTexProj(TextureProj* p) override { std::erase(held, p); }
    std::vector<TextureProj*> held;
};

TEST(TextureProjMatrices, TheAffineInverseUndoesRandomPosesAndLeavesSingularOnes)
{
    std::mt19937 random(17);
    for (int i = 0; i < 200; ++i) {
        matrix3d pose = randomPose(random);
        pose.at(0, 0) *= 2.0f; // not only rigid motions
        const matrix3d product = pose * inverseAffine(pose);
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                ASSERT_NEAR(product.at(r, c), r == c ? 1.0f : 0.0f, 1e-4f);
    }
    matrix3d flat = matrix3d::identity();
    flat.at(2, 2) = 0.0f;
    flat.at(3, 0) = 5.0f;
    const matrix3d same = inverseAffine(flat);
    EXPECT_EQ(std::memcmp(same.m, flat.m, sizeof(flat.m)), 0);
}

// Points inside a projector's volume land inside the texture, within the
// margin, whatever the camera; perspective and box projectors.
TEST(TextureProjMatrices, PointsInsideTheVolumeMapIntoTheTexture)
{
    std::mt19937 random(5);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int kind = 0; kind < 2; ++kind)
        for (int trial = 0; trial < 20; ++trial) {
            TextureProj p(nullptr);
            p.transform = randomPose(random);
            p.view = inverseAffine(p.transform);
            matrix3d& m = p.projection;
            if (kind == 1) { // 40 degrees, near 0.1, far 40
                m.at(0, 0) = m.at(1, 1) = 1.0f / std::tan(0.349066f);
                m.at(2, 2) = 40.0f / 39.9f;
                m.at(3, 2) = -m.at(2, 2) * 0.1f;
                m.at(2, 3) = 1.0f;
            } else { // a box 30 across and 30 deep
                m.at(0, 0) = m.at(1, 1) = 2.0f / 30.0f;
                m.at(2, 2) = 1.0f / 29.01f;
                m.at(3, 2) = -1.0f / 29.01f;
                m.at(3, 3) = 1.0f;
            }
            p.volume.setFromMatrix(p.view * p.projection);
            const matrix3d camera = inverseAffine(randomPose(random));
            const float margin = 1.1f / 512.0f;
            p.computeShadowMatrices(p.transform, camera, margin);
            int inside = 0;
            for (int i = 0; i < 400; ++i) {
                const vec3d local{unit(random) * 20.0f, unit(random) * 20.0f, (unit(random) + 1.0f) * 20.0f};
                const vec3d world = p.transform.transformPoint(local);
                if (p.volume.classifyPoint(world) != ConvexVolume::inside)
                    continue;
                ++inside;
                const Projected t = project(camera.transformPoint(world), p.textureMatrix);
                const float u = t.x / t.w, v = t.y / t.w;
                ASSERT_GE(u, margin - 1e-3f);
                ASSERT_LE(u, 1.0f - margin + 1e-3f);
                ASSERT_GE(v, margin - 1e-3f);
                ASSERT_LE(v, 1.0f - margin + 1e-3f);
            }
            ASSERT_GT(inside, 10);
        }
}

class TextureProjection : public DeviceSuite
{
protected:
    // The camera 10 units before the plane z = 0, looking straight at it.
    static D3D::Device::SwapChain& facePlane()
    {
        D3D::Device::SwapChain& c = chain();
        c.position = {0.0f, 0.0f, -10.0f};
        c.angles = {};
        c.setAnglesDeg();
        c.Camera::update();
        return c;
    }

    // A frame cleared to background in which a receiver draws the plane z = 0
    // through a projection: between the common blocks, after apply, and with
    // the projection's save block applied afterwards.
    static Level receive(TextureProj& p, uint32_t background, const std::function<void()>& apply)
    {
        D3D::Device::SwapChain& c = chain();
        c.beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, background, 1.0f, 0);
        gDevice->BeginScene();
        TextureProj::commonSave->Capture();
        TextureProj::commonApply->Apply();
        apply();
        gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        const vec3d plane[4] = {{-50, 50, 0}, {50, 50, 0}, {-50, -50, 0}, {50, -50, 0}};
        const matrix3d identity = matrix3d::identity();
        gDevice->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
        gDevice->SetFVF(D3DFVF_XYZ);
        gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, plane, sizeof(vec3d));
        gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
        if (p.saveBlock)
            p.saveBlock->Apply();
        TextureProj::commonSave->Apply();
        gDevice->SetTexture(0, nullptr);
        gDevice->EndScene();
        Level pixels = readSurface(c.targets[0].surface);
        keepView(c.targets[0].surface);
        c.present();
        return pixels;
    }
};

TEST_F(TextureProjection, ReceiversAreToldWhenAProjectionStartsAndEnds)
{
    auto& sceneWide = gDirectGraphics.record.texProjList.projections;
    Receiver terrain, entities, stranger;
    auto* p = new TextureProj(nullptr);
    p->receivers.append(&terrain);
    p->receivers.append(&entities);
    EXPECT_EQ(sceneWide.count(), 0);
    p->addToReceivers();
    ASSERT_EQ(sceneWide.count(), 1);
    EXPECT_EQ(sceneWide.head()->item, p);
    EXPECT_EQ(terrain.held, std::vector<TextureProj*>{p});
    stranger.removeTexProj(p); // never received: nothing happens
    gDirectGraphics.record.texProjList.removeTexProj(nullptr);
    EXPECT_EQ(sceneWide.count(), 1);
    delete p;
    EXPECT_EQ(sceneWide.count(), 0);
    EXPECT_TRUE(terrain.held.empty());
    EXPECT_TRUE(entities.held.empty());
}

TEST_F(TextureProjection, IndexRangesComeFromPoolsOf8192)
{
    std::vector<uint16_t> indices(8193);
    for (size_t i = 0; i < indices.size(); ++i)
        indices[i] = uint16_t(i * 7);
    TextureProj small(nullptr), whole(nullptr), tooMany(nullptr);
    small.updateGeometryRange(indices.data(), 300);
    ASSERT_NE(small.indexRange.range, nullptr);
    EXPECT_EQ(small.indexRange.count, 300u);
    // A whole pool's worth fits only a pool with no range in use.
    whole.updateGeometryRange(indices.data(), 8192);
    ASSERT_NE(whole.indexRange.range, nullptr);
    EXPECT_NE(whole.indexRange.range->pool, small.indexRange.range->pool);
    EXPECT_EQ(whole.indexRange.range->start, 0u);
    tooMany.updateGeometryRange(indices.data(), 8193);
    EXPECT_EQ(tooMany.indexRange.range, nullptr);
    EXPECT_EQ(tooMany.indexRange.count, 0u);

    // The indices are in the pool's buffer at the range.
    IDirect3DIndexBuffer9* buffer = small.indexRange.range->pool->indexBuffer;
    void* bits = nullptr;
    ASSERT_EQ(buffer->Lock(small.indexRange.range->start * 2, 600, &bits, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(std::memcmp(bits, indices.data(), 600), 0);
    buffer->Unlock();

    // A freed range is taken again, and a new request replaces the old one.
    const BufferPool* firstPool = small.indexRange.range->pool;
    const uint32_t firstStart = small.indexRange.range->start;
    small.freeIndexRange();
    EXPECT_EQ(small.indexRange.range, nullptr);
    TextureProj again(nullptr);
    for (uint32_t count : {300u, 100u}) {
        again.updateGeometryRange(indices.data(), count);
        ASSERT_NE(again.indexRange.range, nullptr);
        EXPECT_EQ(again.indexRange.count, count);
        EXPECT_EQ(again.indexRange.range->pool, firstPool);
        EXPECT_EQ(again.indexRange.range->start, firstStart);
    }
}

TEST_F(TextureProjection, GeometryHoldsThePositionsOfAnyVertexLayout)
{
    Mesh<EntityManager::MeshVertex, 274> wide(String(L"wide"));
    Mesh<vec3d, D3DFVF_XYZ> narrow(String(L"narrow"));
    const vec3d corners[3] = {{1, 2, 3}, {-4, 5, 6}, {7, -8, 9}};
    for (int i = 0; i < 3; ++i) {
        *wide.getVertexData(i)->position = corners[i];
        *wide.getVertexData(i)->normal = {0, 0, 1};
        *narrow.getVertexData(i)->position = corners[i];
    }
    *wide.getVertexCount() = *narrow.getVertexCount() = 3;
    wide.addTriangle(0, 1, 2);
    narrow.addTriangle(0, 2, 1);
    for (int layout = 0; layout < 2; ++layout) {
        TextureProj p(nullptr);
        ASSERT_TRUE(layout ? p.buildGeometry(wide) : p.buildGeometry(narrow));
        EXPECT_EQ(p.geometry.vertexCount, 3u);
        EXPECT_EQ(p.geometry.triangleCount, 1u);
        void* bits = nullptr;
        ASSERT_EQ(p.geometry.vertexBuffer->Lock(0, 0, &bits, D3DLOCK_READONLY), D3D_OK);
        EXPECT_EQ(std::memcmp(bits, corners, sizeof(corners)), 0);
        p.geometry.vertexBuffer->Unlock();
    }
}

// A receiver drawn with a projection thrown from the camera itself shows
// the projection's texture stretched over the view; a disabled projection
// shows nothing, and the receiver pass leaves the states as it found them.
TEST_F(TextureProjection, TheProjectedTextureLandsWhereTheProjectorLooks)
{
    D3D::Device::SwapChain& c = facePlane();
    const auto quadrant = [](uint32_t x, uint32_t y) {
        return x < 2 ? (y < 2 ? 0xFFFF0000u : 0xFF00FF00u) : (y < 2 ? 0xFF0000FFu : 0xFFFFFF00u);
    };
    TextureRef plain = makeTexture(4, 4, D3DFMT_A8R8G8B8, pattern());
    const Level reference = referenceScene(c, plain);

    TextureProj p(nullptr);
    p.texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, quadrant);
    p.transform = inverseAffine(c.view);
    p.projection = c.projection;
    p.computeMatrices(p.transform, c.view);
    p.createStateBlocks();
    ASSERT_NE(p.applyBlock, nullptr);
    ASSERT_NE(TextureProj::commonApply, nullptr);

    p.addToReceivers();
    struct Case
    {
        const char* name;
        uint32_t disabled;
        bool reset; // a reset first: the blocks are recorded again
    };
    for (const Case& k : {Case{"enabled", 0, false}, Case{"disabled", 1, false}, Case{"after a reset", 0, true}}) {
        SCOPED_TRACE(k.name);
        const bool disabled = k.disabled != 0;
        p.disabled = k.disabled;
        if (k.reset) {
            D3DPRESENT_PARAMETERS pp;
            D3D::Device::fillPresentParameters(gDirectGraphics.record.presentSettings, window, false, pp);
            D3D::Device::reset(gDirectGraphics.record, &pp);
            ASSERT_EQ(gDirectGraphics.record.resetting, 0u);
            ASSERT_NE(p.saveBlock, nullptr);
            ASSERT_NE(TextureProj::commonSave, nullptr);
        }
        const Level pixels = receive(p, 0xFF000000, [&] { p.apply(); });
        for (const auto& [x, y] : {std::pair{80u, 60u}, {240u, 60u}, {80u, 180u}, {240u, 180u}})
            EXPECT_EQ((pixels.at(x, y) & 0xFFFFFF) == (quadrant(x / 80, y / 60) & 0xFFFFFF), !disabled) << x << "," << y;
        // The pass leaves the device as it found it.
        EXPECT_EQ(wrongTexels(referenceScene(c, plain), [&](uint32_t x, uint32_t y) { return reference.at(x, y); }), 0);
    }

    // A projection adds its texture, by the texture's alpha, to what the
    // receiver shows, whatever blend factors the receiver had.
    p.disabled = 0;
    p.texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0x80FF0000u; });
    const Level added = receive(p, 0xFF404040, [&] {
        gDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
        gDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ZERO);
        p.apply();
    });
    gDevice->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    gDevice->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    const uint32_t centre = added.at(160, 120);
    EXPECT_NEAR(int(centre >> 16 & 0xFF), 0x40 + 128, 2);
    EXPECT_EQ(centre & 0xFFFF, 0x4040u);

    // The same whatever stage 0's second colour argument held before the
    // common states (here black: the complement of a white diffuse).
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE | D3DTA_COMPLEMENT);
    const Level dark = receive(p, 0xFF404040, [&] { p.apply(); });
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_CURRENT);
    EXPECT_NEAR(int(dark.at(160, 120) >> 16 & 0xFF), 0x40 + 128, 2);
}

// A spot light thrown from the camera blends its texture over what the
// receiver shows by the texture's alpha (a light's own states).
TEST_F(TextureProjection, ALightBlendsItsTextureOverTheReceiver)
{
    D3D::Device::SwapChain& c = facePlane();
    LightProj light(0.0f);
    light.texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, [](uint32_t, uint32_t) { return 0x80FFFFFFu; });
    light.transform = inverseAffine(c.view);
    light.range = 100.0f;
    light.update();
    ASSERT_EQ(light.disabled, 0u);

    const Level pixels = receive(light, 0xFF404040, [&] { light.applyForView(c.view); });
    // White at alpha 128 over grey 64: 255 x 128 / 255 + 64 x 127 / 255.
    EXPECT_NEAR(int(pixels.at(160, 120) & 0xFF), 160, 2);
}

}
