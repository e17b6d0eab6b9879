// Package parts on the real device of the test window: the sample box drawn
// by the entity pass through its shader settings (culling, alpha test,
// blending), the states a plain draw leaves after a reflective one, the
// cube map a reflection shows, and the sample light thrown on the box.
// Frames are saved where KORVANTA_SCREENSHOTS points.
#include "../Render/TestDevice.h"

#include "ObjectsTestSupport.h"

#include "Objects/PackageLight.h"
#include "Objects/PackageMesh.h"

#include "Entity/Entity.h"
#include "Entity/SubEntity.h"
#include "Render/EnvMap.h"
#include "Render/Shader.h"

#include <d3dx9.h>

#include <cstdlib>
#include <string>

using namespace TestDevice;
using namespace ObjectsTests;

namespace {

constexpr uint32_t clearColour = 0xFF102030u;

struct Rgb
{
    int r, g, b;
    explicit Rgb(uint32_t c) : r(int(c >> 16 & 0xFF)), g(int(c >> 8 & 0xFF)), b(int(c & 0xFF)) {}
    int sum() const { return r + g + b; }
};

class PackageDevice : public DeviceSuite
{
protected:
    void SetUp() override
    {
        chain().fogEnabled = 0;
        lookAlongZ(chain(), {0.0f, 0.0f, -6.0f});
        // The sample box, unturned at scale 2 around the origin: its front
        // face stands at z = -1 before the camera.
        PackagePartWriter::Mesh sample = PackagePartSamples::box();
        sample.position = {};
        sample.rotation = {};
        mesh = std::make_unique<ObjPkgManager::Mesh>(&files);
        ASSERT_TRUE(mesh->load(*streamOf(bytesOf(PackagePartWriter::writeMesh, sample))));
        mesh->shader.reflectionAmount = 0;
        mesh->shader.textureScale = 1.0f;
    }

    void TearDown() override { entity.reset(); }

    // The box as an entity whose states are recorded through the settings
    // (the sub-entity's Shader as the state record), drawn in one frame.
    Level drawBox(const char* name)
    {
        entity = std::make_unique<EntityManager::Entity>(*chain().entities);
        const auto record = [this](Shader& state) {
            mesh->shader.apply(nullptr, &state);
            gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
            TextureDevice::bindTexture(0, mesh->getTexture()->texture());
        };
        EntityManager::SubEntity* sub = entity->addStoredMesh(*mesh, true, false, record, nullptr);
        EXPECT_NE(sub, nullptr);
        sub->recordStateBlocks();
        entity->world = mesh->world;
        entity->onMoved();
        chain().update();
        D3D::Device::SwapChain& c = *chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColour, 1.0f, 0);
        c.render(false);
        Level pixels = readSurface(c.targets[0].surface);
        if (const char* folder = std::getenv("KORVANTA_SCREENSHOTS"))
            D3DXSaveSurfaceToFileA((std::string(folder) + "/" + name + ".png").c_str(), D3DXIFF_PNG,
                                   c.targets[0].surface, nullptr, nullptr);
        c.present();
        return pixels;
    }

    static uint32_t at(const Level& pixels, const vec3d& p)
    {
        const vec2d s = screenPoint(chain(), p);
        return pixels.at(uint32_t(s.x), uint32_t(s.y)) & 0xFFFFFF;
    }

    FileTable files{PackagePartSamples::files()};
    std::unique_ptr<ObjPkgManager::Mesh> mesh;
    std::unique_ptr<EntityManager::Entity> entity;
};

// States apply sets, read back.
std::vector<DWORD> appliedStates(const Texture* cube)
{
    IDirect3DDevice9* d = gDevice;
    std::vector<DWORD> states;
    DWORD v = 0;
    for (D3DRENDERSTATETYPE s : {D3DRS_ALPHABLENDENABLE, D3DRS_SPECULARENABLE, D3DRS_ALPHATESTENABLE, D3DRS_ALPHAREF,
                                 D3DRS_ADAPTIVETESS_Y, D3DRS_COLORWRITEENABLE, D3DRS_TEXTUREFACTOR, D3DRS_CULLMODE})
        states.push_back((d->GetRenderState(s, &v), v));
    for (DWORD stage : {0u, 1u})
        for (D3DTEXTURESTAGESTATETYPE s : {D3DTSS_COLOROP, D3DTSS_ALPHAOP, D3DTSS_ALPHAARG2,
                                           D3DTSS_TEXTURETRANSFORMFLAGS, D3DTSS_TEXCOORDINDEX})
            states.push_back((d->GetTextureStageState(stage, s, &v), v));
    for (D3DSAMPLERSTATETYPE s : {D3DSAMP_ADDRESSU, D3DSAMP_ADDRESSV})
        states.push_back((d->GetSamplerState(0, s, &v), v));
    D3DMATRIX transform;
    d->GetTransform(D3DTS_TEXTURE0, &transform);
    states.push_back(DWORD(transform._11 * 1000.0f));
    IDirect3DBaseTexture9* bound = nullptr;
    d->GetTexture(1, &bound);
    states.push_back(bound == nullptr ? 0u : bound == cube->cubeTexture ? 1u : 2u);
    if (bound)
        bound->Release();
    return states;
}

}

TEST_F(PackageDevice, TheBoxCullsBackFacesCutsBelowItsAlphaReferenceAndBlendsWhenTranslucent)
{
    ASSERT_TRUE(mesh->getTexture()->isBound()) << "the embedded texture";
    EXPECT_EQ(mesh->getTexture()->texture()->texture->GetLevelCount(), 1u) << "its mip levels";
    // One half of the front face's texture is opaque, the other of alpha 0x40.
    const vec3d upper{-0.5f, 0.5f, -1.0f}, lower{-0.5f, -0.5f, -1.0f};
    const uint32_t background = clearColour & 0xFFFFFF;

    mesh->shader.alphaRef = 0;
    const Level opaque = drawBox("package-box-opaque");
    ASSERT_NE(at(opaque, upper), background);
    ASSERT_NE(at(opaque, lower), background);

    mesh->shader.alphaRef = 0x80;
    const Level cut = drawBox("package-box-cut");
    const bool upperCut = at(cut, upper) == background;
    EXPECT_NE(upperCut, at(cut, lower) == background) << "exactly one half is cut, the back faces culled";
    const vec3d hole = upperCut ? upper : lower, solid = upperCut ? lower : upper;
    EXPECT_EQ(at(cut, solid), at(opaque, solid));

    mesh->shader.cullBackFaces = 0;
    const Level unculled = drawBox("package-box-unculled");
    EXPECT_NE(at(unculled, hole), background) << "the inside of the back face shows through the hole";
    mesh->shader.cullBackFaces = 1;

    mesh->shader.alphaRef = 0;
    mesh->shader.material.Ambient.a = 0.999f;
    const Level blended = drawBox("package-box-blended");
    const Rgb got(at(blended, hole)), box(at(opaque, hole)), clear(background);
    EXPECT_NEAR(got.r, (box.r + 3 * clear.r) / 4, 3);
    EXPECT_NEAR(got.g, (box.g + 3 * clear.g) / 4, 3);
    EXPECT_NEAR(got.b, (box.b + 3 * clear.b) / 4, 3);
    EXPECT_EQ(at(blended, solid), at(opaque, solid));
    mesh->shader.material.Ambient.a = 1.0f;
    EXPECT_EQ(at(drawBox("package-box-ambient-one"), hole), at(opaque, hole)) << "1.0 does not blend";
}

TEST_F(PackageDevice, APlainDrawAfterAReflectiveOneSetsWhatAPlainOneAloneSets)
{
    TextureRef builtIn;
    ASSERT_TRUE(Texture::createCube(builtIn, String(L"LevelEditorCubemap"), 16, 1, 0, D3DFMT_A8R8G8B8,
                                    D3DPOOL_MANAGED));
    EnvMap environment(nullptr, nullptr);
    ObjPkgManager::ShaderSettings plain;
    plain.alphaRef = 0;
    gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    gDevice->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR); // whatever an earlier pass left
    plain.apply(&environment, nullptr);
    const std::vector<DWORD> alone = appliedStates(builtIn.texture());
    constexpr size_t stage0AlphaOp = 9, stage0AlphaArg2 = 10;
    EXPECT_EQ(alone[stage0AlphaOp], DWORD(D3DTOP_MODULATE)) << "texture alpha times the material's";
    EXPECT_EQ(alone[stage0AlphaArg2], DWORD(D3DTA_DIFFUSE));

    struct Case
    {
        uint32_t mode;
        uint8_t amount;
        float ambientAlpha;
        float scale;
        uint32_t environmentState;
        DWORD texture; // 0 none, 1 the built-in cube map
        DWORD colourOp;
        DWORD factor;
    };
    constexpr size_t factorState = 6, stage1ColourOp = 13, stage1AlphaOp = 14;
    for (const Case c : {Case{0, 0x60, 1.0f, 1.0f, EnvMap::live, 1, D3DTOP_BLENDFACTORALPHA, 0x60000000u},
                         Case{1, 0, 0.5f, 3.0f, EnvMap::live, 1, D3DTOP_BLENDCURRENTALPHA, 0xFFFFFFFFu},
                         Case{0, 0x20, 0.5f, 2.0f, 0, 0, D3DTOP_BLENDFACTORALPHA, 0x20000000u}}) {
        ObjPkgManager::ShaderSettings reflective;
        reflective.reflectionMode = c.mode;
        reflective.reflectionAmount = c.amount;
        reflective.material.Ambient.a = c.ambientAlpha;
        reflective.textureScale = c.scale;
        reflective.alphaRef = 0x30;
        reflective.cullBackFaces = 0;
        reflective.addressMode = D3DTADDRESS_WRAP;
        environment.state = c.environmentState;
        reflective.apply(&environment, nullptr);
        const std::vector<DWORD> reflecting = appliedStates(builtIn.texture());
        EXPECT_EQ(reflecting.back(), c.texture) << c.mode;
        EXPECT_EQ(reflecting[stage1ColourOp], c.colourOp) << c.mode;
        EXPECT_EQ(reflecting[stage1AlphaOp], DWORD(D3DTOP_SELECTARG2)) << c.mode;
        EXPECT_EQ(reflecting[factorState], c.factor) << c.mode;
        EXPECT_NE(reflecting, alone);
        plain.apply(&environment, nullptr);
        EXPECT_EQ(appliedStates(builtIn.texture()), alone) << "after mode " << c.mode;
    }
    // The map's own cube texture comes before the built-in one.
    TextureRef own;
    ASSERT_TRUE(Texture::createCube(own, String(L"own"), 16, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED));
    environment.cubeTexture = own;
    environment.state = EnvMap::live;
    ObjPkgManager::ShaderSettings reflective;
    reflective.reflectionMode = 1;
    reflective.apply(&environment, nullptr);
    EXPECT_EQ(appliedStates(own.texture()).back(), 1u);
    plain.apply(&environment, nullptr);
}

TEST_F(PackageDevice, TheSampleLightIsThrownOnTheBox)
{
    mesh->shader.alphaRef = 0;
    const Level dark = drawBox("package-light-off");
    ObjPkgManager::Light light(&files, nullptr);
    ASSERT_TRUE(light.load(*streamOf(bytesOf(PackagePartWriter::writeLight, PackagePartSamples::spotLight()))));
    ASSERT_TRUE(light.texture.isBound()) << "the embedded texture";
    IDirect3DTexture9* texture = light.texture.texture()->texture;
    D3DSURFACE_DESC desc{};
    texture->GetLevelDesc(0, &desc);
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(texture->GetLevelCount(), 1u);
    // Before the box, looking at it.
    light.position = {0.0f, 0.0f, -4.0f};
    light.rotation = {};
    light.intensity = 1.0f;
    light.update();
    light.receivers.append(chain().entities);
    light.addToReceivers();
    const Level lit = drawBox("package-light-on");
    const vec3d centre{-0.3f, -0.3f, -1.0f};
    EXPECT_GT(Rgb(at(lit, centre)).sum(), Rgb(at(dark, centre)).sum() + 30) << "the light's centre";
    EXPECT_EQ(at(lit, {-1.8f, 0.0f, 0.0f}), at(dark, {-1.8f, 0.0f, 0.0f})) << "beside the box";
    light.detachFromReceivers();
}
