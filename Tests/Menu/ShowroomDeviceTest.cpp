// The showroom and its mirror on the real device: a package on the turntable
// in the bottom-right viewport with its reflection under the floor, the
// device's cull record as it was afterwards, the platform's ring and the
// mirror's surface seen from above, and the left button that ends a drag.
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
#include <array>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>

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

// The application's side with the settings' colour bytes (blue, green,
// red, alpha) that My Quad changes.
struct ColourSettings final : GameMenu::Interface
{
    uint8_t* getSettingChar() override { return bytes; }
    uint8_t bytes[4] = {};
};

// Pixels of the quad that are clearly red or clearly blue.
struct Tint
{
    int red = 0, blue = 0;
};

Tint tintOf(const Level& pixels, const D3DVIEWPORT9& view)
{
    Tint tint;
    for (uint32_t y = view.Y; y < view.Y + view.Height && y < pixels.height; ++y)
        for (uint32_t x = view.X; x < view.X + view.Width && x < pixels.width; ++x) {
            const uint32_t c = pixels.at(x, y);
            const int r = int((c >> 16) & 0xFF), g = int((c >> 8) & 0xFF), b = int(c & 0xFF);
            tint.red += r > 60 && r > 2 * b && r > 2 * g;
            tint.blue += b > 60 && b > 2 * r && b > 2 * g;
        }
    return tint;
}

// The showroom's record lives until the next race load: entered with a blue
// quad, left, the colour set to red in My Quad, and entered again, the body
// is drawn red.
TEST_F(ShowroomDevice, EachVisitShowsTheColourOfTheSettings)
{
    ColourSettings settings;
    menu.callbacks = &settings;
    GameMenu::Main::Showroom room(menu);
    struct Visit
    {
        const char* name;
        uint8_t bytes[4];
        bool red;
    };
    for (const Visit& visit : {Visit{"Blue", {255, 0, 0, 255}, false}, Visit{"Red", {0, 0, 255, 255}, true}}) {
        SCOPED_TRACE(visit.name);
        std::copy(std::begin(visit.bytes), std::end(visit.bytes), settings.bytes);
        room.enter(String(L"Quad"));
        ASSERT_TRUE(room.hasQuad());
        const Tint tint = tintOf(frame(room, visit.name), room.rect);
        const int wanted = visit.red ? tint.red : tint.blue, other = visit.red ? tint.blue : tint.red;
        EXPECT_GT(wanted, 200);
        EXPECT_LT(other, wanted / 10);
        room.leave();
    }
    menu.callbacks = nullptr;
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

namespace {

// The states the floor tests change, put back as the suite's other tests
// expect them.
void restoreFloorStates()
{
    gDevice->SetRenderState(D3DRS_CULLMODE, gDirectGraphics.record.frontCull);
    gDevice->SetRenderState(D3DRS_ZENABLE, TRUE);
    gDevice->SetRenderState(D3DRS_LIGHTING, TRUE);
    gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    const matrix3d identity = matrix3d::identity();
    gDevice->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
}

// A frame seen from straight above through an orthographic view 8 units
// wide on a square viewport of 240 pixels (+x to the right, +z up), without
// depth test or culling, over what a careless caller may leave behind:
// another vertex format and a world transform far off.
template <typename Draw>
Level fromAbove(const char* name, Draw draw)
{
    D3D::Device::SwapChain& chain = *gDirectGraphics.record.firstSwapChain();
    chain.beginFrame();
    const D3DVIEWPORT9 square{0, 0, 240, 240, 0.0f, 1.0f};
    gDevice->SetViewport(&square);
    D3DXMATRIX view, projection;
    const D3DXVECTOR3 eye(0.0f, 10.0f, 0.0f), at(0.0f, 0.0f, 0.0f), up(0.0f, 0.0f, 1.0f);
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixOrthoLH(&projection, 8.0f, 8.0f, 1.0f, 20.0f);
    gDevice->SetTransform(D3DTS_VIEW, &view);
    gDevice->SetTransform(D3DTS_PROJECTION, &projection);
    gDevice->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER | D3DCLEAR_STENCIL, 0, 1.0f, 0);
    gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    gDevice->SetRenderState(D3DRS_ZENABLE, FALSE);
    gDevice->SetRenderState(D3DRS_STENCILENABLE, FALSE);
    gDevice->SetFVF(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    matrix3d away = matrix3d::identity();
    away.m[12] = 50.0f;
    gDevice->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(away.m));
    gDevice->BeginScene();
    draw();
    gDevice->EndScene();
    Level pixels = readSurface(chain.targets[0].surface);
    keep(name, chain.targets[0].surface);
    chain.present();
    restoreFloorStates();
    return pixels;
}

// The floor point (x, z) under pixel (px, py) of fromAbove's view.
std::pair<float, float> underPixel(uint32_t px, uint32_t py)
{
    return {(2.0f * float(px) / 240.0f - 1.0f) * 4.0f, (1.0f - 2.0f * float(py) / 240.0f) * 4.0f};
}

uint32_t brightest(uint32_t colour)
{
    return std::max({(colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF});
}

}

// Each ring segment shows the image's bar across its middle, from the outer
// to the inner edge, turned with the turntable; the disc inside stays dark.
// Where the bar lies follows from the segment's texture coordinates: a
// pixel counts where it lies clearly on or clearly off the bar.
TEST_F(ShowroomDevice, ThePlatformShowsABarAcrossEachSegmentAndTurnsWithTheTurntable)
{
    GameMenu::Main::Showroom room(menu);
    room.enter(String(L"Quad"));
    ASSERT_TRUE(room.hasQuad());
    room.turnAngle = 20.0f;
    room.update();
    const Level pixels = fromAbove("PlatformFromAbove", [&] { room.drawPlatform(gDevice); });
    ASSERT_EQ(pixels.width, 320u);

    constexpr float pi = 3.14159265f;
    constexpr float step = pi / 16.0f;
    const matrix3d& t = room.turn;
    int onBar = 0, offBar = 0, darkOnBar = 0, litOffBar = 0;
    for (uint32_t py = 0; py < 240; ++py)
        for (uint32_t px = 0; px < 240; ++px) {
            const auto [wx, wz] = underPixel(px, py);
            // Back on the turntable: the turn undone.
            const float x = wx * t.m[0] + wz * t.m[2], z = wx * t.m[8] + wz * t.m[10];
            const float r = std::sqrt(x * x + z * z);
            bool bar = false;
            if (r > 2.1f && r < 2.9f) {
                float a = std::atan2(z, x);
                if (a < 0.0f)
                    a += 2.0f * pi;
                const int i = std::min(int(a / step), 31);
                const float a0 = float(i) * step, a1 = float(i + 1) * step;
                // Outer edge at a1 and a0, inner edge at a1 and a0, in two
                // triangles (0 1 2) and (1 2 3).
                const float cx[4] = {3.0f * std::cos(a1), 3.0f * std::cos(a0), 2.0f * std::cos(a1), 2.0f * std::cos(a0)};
                const float cz[4] = {3.0f * std::sin(a1), 3.0f * std::sin(a0), 2.0f * std::sin(a1), 2.0f * std::sin(a0)};
                const float cu[4] = {0.0f, 1.0f, 1.0f / 6.0f, 5.0f / 6.0f};
                const float cv[4] = {0.0f, 0.0f, 1.0f, 1.0f};
                float u = -1.0f, v = -1.0f;
                for (const auto& tri : {std::array<int, 3>{0, 1, 2}, std::array<int, 3>{1, 2, 3}}) {
                    const int p = tri[0], q = tri[1], s = tri[2];
                    const float d = (cz[q] - cz[s]) * (cx[p] - cx[s]) + (cx[s] - cx[q]) * (cz[p] - cz[s]);
                    const float l0 = ((cz[q] - cz[s]) * (x - cx[s]) + (cx[s] - cx[q]) * (z - cz[s])) / d;
                    const float l1 = ((cz[s] - cz[p]) * (x - cx[s]) + (cx[p] - cx[s]) * (z - cz[s])) / d;
                    const float l2 = 1.0f - l0 - l1;
                    if (l0 >= 0.0f && l1 >= 0.0f && l2 >= 0.0f) {
                        u = l0 * cu[p] + l1 * cu[q] + l2 * cu[s];
                        v = l0 * cv[p] + l1 * cv[q] + l2 * cv[s];
                        break;
                    }
                }
                if (u > 0.43f && u < 0.63f && v > 0.1f && v < 0.9f)
                    bar = true;
                else if (!(u >= 0.0f && (u < 0.32f || u > 0.74f)))
                    continue; // near the bar's edge, or between the triangles
            } else if (r > 1.9f) {
                continue;
            }
            const uint32_t level = brightest(pixels.at(px, py));
            if (bar) {
                ++onBar;
                darkOnBar += level < 25;
            } else {
                ++offBar;
                litOffBar += level > 12;
            }
        }
    EXPECT_GT(onBar, 1000);
    EXPECT_GT(offBar, 5000);
    EXPECT_LT(darkOnBar, onBar / 50) << "of " << onBar;
    EXPECT_LT(litOffBar, offBar / 50) << "of " << offBar;
    room.leave();
}

// The mirror's surface is a square of 20 around the turntable in the floor,
// drawn in its own vertex format (the mirror marks the stencil with it; here
// it is drawn in the texture factor's white).
TEST_F(ShowroomDevice, TheMirrorSurfaceCoversTheFloorAroundTheTurntable)
{
    GameMenu::Main::Showroom room(menu);
    const Level pixels = fromAbove("MirrorSurface", [&] {
        gDevice->SetRenderState(D3DRS_LIGHTING, FALSE);
        gDevice->SetRenderState(D3DRS_TEXTUREFACTOR, 0xFFFFFFFFu);
        gDevice->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
        gDevice->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
        gDevice->SetFVF(D3DFVF_XYZRHW);
        room.drawMirrorSurface();
    });
    int white = 0;
    for (uint32_t py = 0; py < 240; ++py)
        for (uint32_t px = 0; px < 240; ++px)
            white += (pixels.at(px, py) & 0xFFFFFF) == 0xFFFFFF;
    EXPECT_EQ(white, 240 * 240);
}

// A drag ends with the first update that finds the left button up, whether
// or not the button's toggle bit is set.
TEST_F(ShowroomDevice, ADragEndsWhenTheLeftButtonIsUp)
{
    GameMenu::Main::Showroom room(menu);
    room.enter(String(L"Quad"));
    ASSERT_TRUE(room.hasQuad());
    struct Case
    {
        const char* what;
        BYTE button;
        bool ends;
    };
    const Case cases[] = {
        {"up", 0x00, true},
        {"up, toggled", 0x01, true},
        {"down", 0x80, false},
        {"down, toggled", 0x81, false},
    };
    BYTE saved[256] = {};
    ASSERT_TRUE(GetKeyboardState(saved));
    for (const Case& c : cases) {
        BYTE keys[256] = {};
        keys[VK_LBUTTON] = c.button;
        ASSERT_TRUE(SetKeyboardState(keys)) << c.what;
        room.dragging = 1;
        room.update();
        EXPECT_EQ(room.dragging, c.ends ? 0u : 1u) << c.what;
    }
    SetKeyboardState(saved);
    room.leave();
}
