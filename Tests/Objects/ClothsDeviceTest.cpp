// A cloth on the real device of the test window: the front shows its image,
// the back the image mirrored on the cloth (so it reads the right way round
// from behind), and the device's states are as the cloth found them.
#include "../Render/TestDevice.h"

#include "ObjectsTestSupport.h"

#include "EffectPackageSamples.h"
#include "FunctionsRecordWriter.h"

#include "Objects/Cloths.h"

#include <d3dx9.h>

using namespace TestDevice;
using Cloths = ObjPkgManager::Functions::Cloths;
using Cloth = Cloths::Instance;

namespace {

constexpr uint32_t clearColour = 0xFF102030u;

// The flag sample, still (no gravity, no wind), lit by itself alone so that
// the pixels are the image's.
struct StillFlag
{
    StillFlag()
    {
        FunctionsRecordWriter::Cloths sample = EffectPackageSamples::flagCloth();
        sample.gravity = 0.0f;
        sample.windStrength = 0.0f;
        sample.position = {};
        for (int i = 12; i < 15; ++i)
            sample.material[size_t(i)] = 1.0f;
        const auto stream = ObjectsTests::streamOf(ObjectsTests::bytesOf(FunctionsRecordWriter::writeCloths, sample));
        cloths.load(*stream);
    }
    ObjPkgManager::Functions::Record record{nullptr};
    Cloths cloths{&record};
};

class ClothDevice : public DeviceSuite
{
protected:
    // The cloth drawn alone with the camera at eye, turned by yaw degrees.
    static Level draw(Cloth& cloth, const vec3d& eye, float yaw)
    {
        D3D::Device::SwapChain& c = chain();
        c.position = eye;
        c.angles = {yaw, 0.0f, 0.0f};
        c.setAnglesDeg();
        c.Camera::update();
        c.beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        gDevice->BeginScene();
        cloth.render(matrix3d::identity());
        gDevice->EndScene();
        Level pixels = readSurface(c.targets[0].surface);
        keepView(c.targets[0].surface);
        c.present();
        return pixels;
    }
    static uint32_t pixelAt(const Level& level, const vec3d& p)
    {
        const vec2d s = screenPoint(chain(), p);
        return level.at(uint32_t(s.x), uint32_t(s.y));
    }
};

uint32_t greenOf(uint32_t argb)
{
    return argb >> 8 & 0xFF;
}
uint32_t redOf(uint32_t argb)
{
    return argb >> 16 & 0xFF;
}

}

TEST_F(ClothDevice, TheFrontShowsTheImageAndTheBackTheImageMirrored)
{
    StillFlag flag;
    Cloth cloth(&flag.cloths, &chain(), nullptr);
    ASSERT_NE(cloth.texture.texture(), &Texture::empty) << "the image is the texture";
    ASSERT_NE(cloth.texture.texture()->texture, nullptr);
    // The flag spans 1.7 by 1.5 on the plane z = 0; the white band lies on
    // the left half of the image, across its middle. The front is seen from
    // -z, where the image's left is on the left; from +z the back shows it
    // mirrored on the cloth, so that it reads the same way round.
    const vec3d left(0.4f, 0.75f, 0.0f), right(1.3f, 0.75f, 0.0f);
    struct View
    {
        const char* what;
        vec3d eye;
        float yaw;
        bool front;
    };
    for (const View& v : {View{"front, from -z", {0.85f, 0.75f, -2.5f}, 0.0f, true},
                          View{"back, from +z", {0.85f, 0.75f, 2.5f}, 180.0f, false}}) {
        SCOPED_TRACE(v.what);
        const Level frame = draw(cloth, v.eye, v.yaw);
        ASSERT_EQ(frame.width, 320u);
        const uint32_t white = pixelAt(frame, v.front ? left : right), red = pixelAt(frame, v.front ? right : left);
        EXPECT_GT(greenOf(white), 200u) << std::hex << white;
        EXPECT_GT(redOf(white), 200u) << std::hex << white;
        EXPECT_GT(redOf(red), 150u) << std::hex << red;
        EXPECT_LT(greenOf(red), 80u) << std::hex << red;
    }
    // Faded to half, the white band lets the ground show through.
    cloth.setAlpha(0.5f);
    const uint32_t faded = pixelAt(draw(cloth, {0.85f, 0.75f, -2.5f}, 0.0f), left);
    EXPECT_GT(greenOf(faded), 90u) << std::hex << faded;
    EXPECT_LT(greenOf(faded), 190u) << std::hex << faded;
}

TEST_F(ClothDevice, EachFaceIsLitFromTheSideItShows)
{
    StillFlag flag;
    for (int i = 12; i < 16; ++i)
        (&flag.cloths.material.Diffuse.r)[i] = 0.0f;
    Cloth cloth(&flag.cloths, &chain(), nullptr);
    // A light shining along +z: it lights what is seen from -z, and what is
    // seen from +z stands in the dark. The chain's frame sets its sun first.
    D3DLIGHT9 light{};
    light.Type = D3DLIGHT_DIRECTIONAL;
    light.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    light.Direction = {0.0f, 0.0f, 1.0f};
    const auto lit = [&](const vec3d& eye, float yaw) {
        D3D::Device::SwapChain& c = chain();
        c.position = eye;
        c.angles = {yaw, 0.0f, 0.0f};
        c.setAnglesDeg();
        c.Camera::update();
        c.beginFrame();
        gDevice->SetLight(0, &light);
        gDevice->SetRenderState(D3DRS_AMBIENT, 0);
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        gDevice->BeginScene();
        cloth.render(matrix3d::identity());
        gDevice->EndScene();
        const Level pixels = readSurface(c.targets[0].surface);
        keepView(c.targets[0].surface);
        c.present();
        return pixelAt(pixels, {0.4f, 0.75f, 0.0f});
    };
    const uint32_t front = lit({0.85f, 0.75f, -2.5f}, 0.0f);
    const uint32_t back = lit({0.85f, 0.75f, 2.5f}, 180.0f);
    EXPECT_GT(redOf(front), 150u) << std::hex << front;
    EXPECT_LT(redOf(back), 40u) << std::hex << back;
    EXPECT_NE(back, clearColour) << "the back is drawn, dark";
}

TEST_F(ClothDevice, TheDeviceStatesAreAsTheClothFoundThem)
{
    TextureRef texture = makeTexture(4, 4, D3DFMT_A8R8G8B8, pattern());
    const Level before = referenceScene(chain(), texture);
    ASSERT_EQ(before.width, 320u);
    StillFlag flag;
    // Half see-through: the blended path with its alpha states.
    flag.cloths.material.Ambient.a = 0.5f;
    Cloth cloth(&flag.cloths, &chain(), nullptr);
    const Level drawn = draw(cloth, {0.85f, 0.75f, -2.5f}, 0.0f);
    EXPECT_GT(wrongTexels(drawn, [](uint32_t, uint32_t) { return clearColour; }), 1000) << "the cloth was drawn";
    EXPECT_EQ(wrongTexels(referenceScene(chain(), texture), [&](uint32_t x, uint32_t y) { return before.at(x, y); }),
              0);
}
