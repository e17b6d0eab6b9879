// The showroom and its mirror on the real device: a package on the turntable
// in the bottom-right viewport with its reflection under the floor, and the
// device's cull record as it was afterwards.
#include "MenuStandIns.h"

#include "../Application/AppTestFiles.h"
#include "../Render/TestDevice.h"

#include "ObjectPackageSamples.h"
#include "QuadSample.h"

#include "Menu/GameMenuMain.h"

#include "Entity/EntityManager.h"
#include "Entity/StaticEntity.h"
#include "Landscape/Scene.h"
#include "Objects/DynObject.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Race/GameVehicle.h"
#include "Vehicle/QuadInstance.h"

#include <d3dx9.h>

#include <algorithm>
#include <cstdlib>
#include <string>

using namespace TestDevice;

namespace {

void keep(const char* name, IDirect3DSurface9* surface)
{
    const char* folder = std::getenv("KORVANTA_SCREENSHOTS");
    if (folder && *folder)
        D3DXSaveSurfaceToFileA((std::string(folder) + "/Showroom-" + name + ".png").c_str(), D3DXIFF_PNG, surface,
                               nullptr, nullptr);
}

class ShowroomDevice : public DeviceSuite
{
protected:
    static void SetUpTestSuite()
    {
        DeviceSuite::SetUpTestSuite();
        folder = AppTestFiles::freshFolder(L"showroom");
        CreateDirectoryW((folder + L"Objects").c_str(), nullptr);
        QuadSample::save(String(folder.c_str()));
        ObjectPackageSamples::save(String(folder.c_str()));
    }
    void SetUp() override
    {
        scene.swapChain = &chain();
        scene.objectPackages.loadFolder(String((folder + L"Objects\\").c_str()));
        scene.objectPackages.buildPackages();
        menu.world = &world;
        chain().entities->physicsManager->start(16);
    }
    void TearDown() override
    {
        scene.release();
        scene.swapChain = nullptr;
    }

    // One frame of the showroom alone, read back.
    Level frame(GameMenu::Main::Showroom& room, const char* name)
    {
        room.update();
        chain().beginFrame();
        gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
        gDevice->BeginScene();
        room.render(gDevice);
        gDevice->EndScene();
        Level pixels = readSurface(chain().targets[0].surface);
        keep(name, chain().targets[0].surface);
        chain().present();
        return pixels;
    }

    static inline std::wstring folder;
    MenuStandIn::World world;
    Scene scene{String(L"Korvanta"), 3500.0f};
    GameMenu menu{&scene};
};

// Where a floor point lands in the showroom's viewport.
intvec2d onScreen(const vec3d& p, const D3DVIEWPORT9& view)
{
    const matrix3d& m = gCamera->viewProjection;
    float c[4];
    for (int j = 0; j < 4; ++j)
        c[j] = p.x * m.m[j] + p.y * m.m[4 + j] + p.z * m.m[8 + j] + m.m[12 + j];
    return {int32_t(float(view.X) + (c[0] / c[3] + 1.0f) * 0.5f * float(view.Width)),
            int32_t(float(view.Y) + (1.0f - c[1] / c[3]) * 0.5f * float(view.Height))};
}

int inkIn(const Level& pixels, int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    int ink = 0;
    for (int32_t y = std::max(top, 0); y < std::min(bottom, int32_t(pixels.height)); ++y)
        for (int32_t x = std::max(left, 0); x < std::min(right, int32_t(pixels.width)); ++x)
            ink += (pixels.at(uint32_t(x), uint32_t(y)) & 0xFFFFFF) != 0;
    return ink;
}

}

TEST_F(ShowroomDevice, TheQuadStandsOnTheTurntable)
{
    GameMenu::Main::Showroom room(menu);
    room.enter(String(L"Quad"));
    ASSERT_TRUE(room.hasQuad());
    // The quad's own controls drive nothing, and its centre sits on the axis.
    EXPECT_EQ(room.control.enabledActions & 3u, 0u);
    EXPECT_FLOAT_EQ(room.pivot.y, 0.63f);
    const Level pixels = frame(room, "Quad");
    const D3DVIEWPORT9 view = room.rect;
    EXPECT_EQ(view.X, 80u);
    EXPECT_EQ(view.Y, 60u);
    const intvec2d origin = onScreen({0.0f, 0.0f, 0.0f}, view);
    EXPECT_GT(inkIn(pixels, origin.x - 8, int32_t(view.Y), origin.x + 8, origin.y), 100) << "the quad";
    EXPECT_EQ(inkIn(pixels, 0, 0, 320, int32_t(view.Y)), 0) << "nothing above the viewport";
    EXPECT_EQ(inkIn(pixels, 0, 0, int32_t(view.X), 240), 0) << "nothing left of it";
    room.leave();
    EXPECT_FALSE(room.hasQuad());
}

// The turntable alone draws the quad: the scene's passes leave it out. A
// step between two frames lets the quad fall (there is no ground under it);
// the turntable takes it back, stopped, and poses the wheels from there, so
// that a step running while the frame draws does not carry them away.
TEST_F(ShowroomDevice, TheTurntableHoldsTheQuadAndPosesItsWheelsItself)
{
    GameMenu::Main::Showroom room(menu);
    room.enter(String(L"Quad"));
    ASSERT_TRUE(room.hasQuad());
    auto* dyn = dynamic_cast<DynObject*>(room.object->instance);
    ASSERT_NE(dyn, nullptr);
    neRigidBody* body = dyn->body.rigidBody;
    ASSERT_NE(body, nullptr);
    DynObject::FunctionManager::Function* function = dyn->functions->find(DynObject::FunctionManager::quadFlag);
    auto* quad = function ? dynamic_cast<Game::Vehicle::QuadInstance*>(function->instance) : nullptr;
    ASSERT_NE(quad, nullptr);
    EXPECT_EQ(dyn->hidden, 1u);

    chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    gDevice->BeginScene();
    chain().entities->render(0);
    gDevice->EndScene();
    const Level scenePass = readSurface(chain().targets[0].surface);
    chain().present();
    EXPECT_EQ(inkIn(scenePass, 0, 0, int32_t(scenePass.width), int32_t(scenePass.height)), 0)
        << "the scene's entity pass draws the quad";

    matrix3d fallen = *body->getTransform();
    fallen.m[13] -= 200.0f;
    const auto fall = [&] {
        body->setPose(fallen);
        body->velocity = {0.0f, -1500.0f, 0.0f};
    };
    fall();
    for (auto& wheel : quad->wheels)
        wheel.visualUpdated = 0;
    room.update();
    const matrix3d held = *body->getTransform();
    EXPECT_FLOAT_EQ(held.m[13], 0.63f);
    EXPECT_EQ(body->velocity, vec3d());
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(dyn->world.m[i], held.m[i]) << i;
    int posed = 0;
    for (auto& wheel : quad->wheels)
        if (wheel.hasProbes()) {
            EXPECT_EQ(uint32_t(wheel.visualUpdated), 1u) << wheel.index;
            ++posed;
        }
    EXPECT_EQ(posed, 3);

    fall();
    chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    gDevice->BeginScene();
    room.render(gDevice);
    gDevice->EndScene();
    chain().present();
    for (auto& wheel : quad->wheels)
        if (const EntityManager::SubEntity* part = wheel.parts[3])
            EXPECT_LT((part->own.row(3) - held.row(3)).length(), 2.0f) << wheel.index;
    room.leave();
}

// Over a target of white at the nearest depth, the main screen's draw leaves
// its black backdrop and the quad, whole, in front of the cleared depth.
TEST_F(ShowroomDevice, TheMainScreenDrawsOnABlackBackdropWithAFreshDepthBuffer)
{
    auto* main = dynamic_cast<GameMenu::Main*>(menu.createMain());
    ASSERT_NE(main, nullptr);
    main->enter(GameMenu::noScreen);
    ASSERT_TRUE(main->showroom && main->showroom->hasQuad());
    main->update();
    chain().beginFrame();
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0xFFFFFFFF, 0.0f, 0xFF);
    gDevice->BeginScene();
    main->draw();
    gDevice->EndScene();
    const Level pixels = readSurface(chain().targets[0].surface);
    keep("MainDraw", chain().targets[0].surface);
    chain().present();
    int white = 0;
    for (uint32_t y = 0; y < pixels.height; ++y)
        for (uint32_t x = 0; x < pixels.width; ++x)
            white += (pixels.at(x, y) & 0xFFFFFF) == 0xFFFFFF;
    EXPECT_EQ(white, 0);
    const D3DVIEWPORT9 view = main->showroom->rect;
    const intvec2d origin = onScreen({0.0f, 0.0f, 0.0f}, view);
    EXPECT_GT(inkIn(pixels, origin.x - 8, int32_t(view.Y), origin.x + 8, origin.y), 100) << "the quad";
    EXPECT_EQ(inkIn(pixels, 0, 0, 320, int32_t(view.Y)), 0) << "black above the showroom";
    main->close();
}

TEST_F(ShowroomDevice, TheReflectionLiesUnderTheFloorAndTheCullRecordIsKept)
{
    GameMenu::Main::Showroom room(menu);
    room.enter(String(L"Quad"));
    ASSERT_TRUE(room.hasQuad());
    const D3D::Device& record = gDirectGraphics.record;
    const uint32_t front = record.frontCull, back = record.backCull, mirrored = record.mirrored;
    // The light stands still between the two frames.
    const float factor = gFrameFactor.load();
    gFrameFactor = 0.0f;
    const Level withMirror = frame(room, "Mirrored");
    EXPECT_EQ(record.frontCull, front);
    EXPECT_EQ(record.backCull, back);
    EXPECT_EQ(record.mirrored, mirrored);
    DWORD stencil = 1;
    gDevice->GetRenderState(D3DRS_STENCILENABLE, &stencil);
    EXPECT_EQ(stencil, 0u);

    room.mirror.owner = nullptr;
    const Level plain = frame(room, "NoMirror");
    room.mirror.owner = &room;
    gFrameFactor = factor;
    const D3DVIEWPORT9 view = room.rect;
    // What the mirror adds lies under the floor, inside the viewport: below
    // the floor's line behind the quad (the inner disc's far edge).
    const intvec2d farEdge = onScreen({0.0f, 0.0f, 2.0f}, view);
    int above = 0, below = 0;
    for (uint32_t y = 0; y < 240; ++y)
        for (uint32_t x = 0; x < 320; ++x)
            if ((withMirror.at(x, y) & 0xFFFFFF) != (plain.at(x, y) & 0xFFFFFF)) {
                (int32_t(y) > farEdge.y ? below : above) += 1;
                EXPECT_TRUE(x >= view.X && y >= view.Y) << x << "," << y;
            }
    EXPECT_GT(below, 50) << "the reflection";
    EXPECT_EQ(above, 0);
    EXPECT_EQ(inkIn(withMirror, 0, 0, 320, int32_t(view.Y)), 0);
    room.leave();
}

namespace {
struct ViewProbe final : Mirror::Interface
{
    void drawMirrorSurface() override {}
    void drawReflection(IDirect3DDevice9* device) override
    {
        D3DMATRIX m;
        device->GetTransform(D3DTS_VIEW, &m);
        memcpy(view.m, &m, 64);
        device->GetRenderState(D3DRS_CULLMODE, &cull);
        mirrored = gDirectGraphics.record.mirrored;
    }
    matrix3d view;
    DWORD cull = 0;
    uint32_t mirrored = 0;
};
}

TEST_F(ShowroomDevice, TheReflectionIsDrawnThroughTheMirroredViewWithTheWindingTurned)
{
    ViewProbe probe;
    Mirror mirror(&probe);
    mirror.setPlane({0.0f, -1.0f, 0.0f}, 0.0f, {});
    chain().beginFrame();
    gDevice->BeginScene();
    mirror.render(gDevice);
    gDevice->EndScene();
    chain().present();
    const matrix3d want = mirror.reflection * chain().view;
    for (int i = 0; i < 16; ++i)
        EXPECT_FLOAT_EQ(probe.view.m[i], want.m[i]) << i;
    EXPECT_EQ(probe.cull, DWORD(gDirectGraphics.record.backCull));
    EXPECT_EQ(probe.mirrored, 1u);
    D3DMATRIX after;
    gDevice->GetTransform(D3DTS_VIEW, &after);
    EXPECT_EQ(memcmp(&after, chain().view.m, 64), 0);
}

TEST_F(ShowroomDevice, AMirrorWithoutAnOwnerDrawsNothingAndKeepsTheStencilOff)
{
    Mirror mirror(nullptr);
    chain().beginFrame();
    gDevice->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    gDevice->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_NEVER);
    gDevice->BeginScene();
    mirror.render(gDevice);
    gDevice->EndScene();
    DWORD func = 0;
    gDevice->GetRenderState(D3DRS_STENCILFUNC, &func);
    EXPECT_EQ(func, DWORD(D3DCMP_NEVER));
    gDevice->SetRenderState(D3DRS_STENCILFUNC, D3DCMP_ALWAYS);
    chain().present();
}
