#include "Menu/GameMenuMain.h"

#include "Entity/EntityManager.h"
#include "Landscape/Scene.h"
#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"
#include "Physics/PhysicsManager.h"
#include "Physics/neRigidBody.h"
#include "Race/GameVehicle.h"
#include "Render/D3DDevice.h"
#include "Render/SwapChain.h"
#include "Vehicle/QuadInstance.h"

#include "Core/CrashTrace.h"
#include "Core/ImageData.h"
#include "Core/Timer.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <new>

namespace {

constexpr float pi = 3.14159265f;
constexpr int32_t ringSegments = 32;
constexpr float outerRadius = 3.0f;
constexpr float innerRadius = 2.0f;

// Floor vertices: the platform's (with a texture coordinate) and the
// mirror surface's (position only).
struct PlatformVertex
{
    float x, y, z;
    float u, v;
};
static_assert(sizeof(PlatformVertex) == 20);
struct SurfaceVertex
{
    float x, y, z;
};
static_assert(sizeof(SurfaceVertex) == 12);

EntityManager::PhysicsManager* physicsOf(GameMenu& menu)
{
    D3D::Device::SwapChain* chain = menu.swapChain();
    return chain && chain->entities ? chain->entities->physicsManager.get() : nullptr;
}

}

GameMenu::Main::Showroom::Showroom(GameMenu& owner) : menu(&owner)
{
}

GameMenu::Main::Showroom::~Showroom()
{
    leave();
    delete vehicle; // and with it the object
    vehicle = nullptr;
    object = nullptr;
}

bool GameMenu::Main::Showroom::hasQuad() const
{
    return object && object->instance;
}

void GameMenu::Main::Showroom::enter(const String& name)
{
    CRASH_TRACE();
    Scene* scene = menu->scene;
    ObjPkgManager::Package* package = scene ? scene->objectPackages.findPackage(name) : nullptr;
    if (!package)
        return;
    if (!object) {
        object = new (std::nothrow) PackageObject;
        if (!object)
            return;
        vehicle = new (std::nothrow) Game::Vehicle(menu->game(), object, 0);
    }
    // The record outlives a visit: My Quad may have changed the colour since.
    if (vehicle) {
        vehicle->isPlayer = 1;
        if (menu->callbacks)
            if (const uint8_t* bytes = menu->callbacks->getSettingChar())
                vehicle->color = Color(bytes[2], bytes[1], bytes[0], bytes[3]);
    }
    object->setObject(package);
    // The turntable is no place of the scene: the object stays out of its
    // octree, at the origin.
    object->position = vec3d{};
    object->scale = 1.0f;
    object->rotation = 0.0f;
    object->heightOffset = 0.0f;
    if (!object->instance)
        object->instance = object->createInstance();

    // Nothing drives the quad on the turntable.
    control.enabledActions &= ~3u;
    auto* dyn = dynamic_cast<DynObject*>(object->instance);
    DynObject::FunctionManager::Function* quadFunction =
        dyn && dyn->functions ? dyn->functions->find(DynObject::FunctionManager::quadFlag) : nullptr;
    if (auto* quad = quadFunction ? dynamic_cast<Game::Vehicle::QuadInstance*>(quadFunction->instance) : nullptr) {
        quad->controls = &control;
        quad->engineSound.release();
        // The turntable draws the quad itself, in its own viewport and in
        // the mirror: the scene's passes leave it out (and so no longer pose
        // it before drawing; update does).
        dyn->hidden = 1;
        dyn->onMoved();
        const vec3d centre = dyn->worldBounds.center;
        pivot = {-centre.x, 0.63f, -centre.z};
        if (EntityManager::PhysicsManager* physics = physicsOf(*menu))
            physics->stepOnce();
    }

    if (!platform.isBound()) {
        Paint image(16, 64);
        paintPlatform(image);
        ImageData data;
        data.fromSurface2d(image);
        Texture::createFromImage(platform, String(L"Platform"), data, 1, D3DPOOL_MANAGED, D3DFMT_A8R8G8B8, false,
                                 nullptr);
    }
    mirror.setPlane({0.0f, -1.0f, 0.0f}, 0.0f, {});
    mirror.cullReflected = 0;
    update();
}

void GameMenu::Main::Showroom::leave()
{
    if (object && object->instance) {
        if (EntityManager::PhysicsManager* physics = physicsOf(*menu))
            physics->waitForStepEnd();
        object->destroyInstance(object->instance);
        object->instance = nullptr;
        object->removeFromOctree();
    }
    dragging = 0;
}

void GameMenu::Main::Showroom::paintPlatform(Paint& image)
{
    image.resize(16, 64);
    image.fill(Color(0, 0, 0, 0xAA));
    const intvec2d corners[4] = {{6, 3}, {10, 3}, {10, 61}, {6, 61}};
    const Color border(220, 220, 220, 255);
    image.drawOutline4(corners, border, Color(0, 0, 0, 255));
    image.floodFill(8, 32, Color(255, 255, 255, 255), border);
}

D3DVIEWPORT9 GameMenu::Main::Showroom::viewportFor(uint32_t width, uint32_t height, float aspect)
{
    D3DVIEWPORT9 view{};
    const uint32_t w = uint32_t(float(width) * 0.75f);
    const uint32_t h = aspect > 0.0f ? uint32_t(float(w) / aspect) : 0;
    view.Width = w;
    view.Height = std::min(h, height);
    view.X = width - w;
    view.Y = height - view.Height;
    view.MinZ = 0.0f;
    view.MaxZ = 1.0f;
    return view;
}

matrix3d GameMenu::Main::Showroom::turnMatrix(float degrees)
{
    const float a = degrees * pi / 180.0f;
    const float c = std::cos(a);
    const float s = std::sin(a);
    matrix3d m = matrix3d::identity();
    m.m[0] = c;
    m.m[2] = -s;
    m.m[8] = s;
    m.m[10] = c;
    return m;
}

float GameMenu::Main::Showroom::segmentLevel(float a0, float a1, float light)
{
    const float lx = std::cos(light);
    const float ly = std::sin(light);
    const float mx = (std::cos(a0) + std::cos(a1)) * 0.5f;
    const float my = (std::sin(a0) + std::sin(a1)) * 0.5f;
    const float d2 = (lx - mx) * (lx - mx) + (ly - my) * (ly - my);
    return std::clamp(1.0f - std::pow(d2, 0.3f), 0.2f, 0.9f);
}

bool GameMenu::Main::Showroom::startDragAt(int32_t cx, int32_t cy)
{
    if (rect.Width == 0 || rect.Height == 0)
        return false;
    const int32_t left = int32_t(rect.X);
    const int32_t top = int32_t(rect.Y);
    if (cx < left || cy < top || cx > left + int32_t(rect.Width) || cy > top + int32_t(rect.Height))
        return false;
    dragX = cx;
    dragY = cy;
    dragging = 1;
    return true;
}

void GameMenu::Main::Showroom::beginDrag()
{
    if (!hasQuad())
        return;
    intvec2d cursor;
    if (menu->getCursorClientPos(cursor))
        startDragAt(cursor.x, cursor.y);
}

void GameMenu::Main::Showroom::endDrag()
{
    dragging = 0;
    turnAngle += dragAngle;
    dragAngle = 0.0f;
}

void GameMenu::Main::Showroom::update()
{
    if (!hasQuad())
        return;
    if (dragging) {
        intvec2d cursor;
        if (menu->getCursorClientPos(cursor))
            dragTo(cursor.x);
        if (GetKeyState(VK_LBUTTON) >= 0)
            endDrag();
    }
    turn = turnMatrix(turnAngle + dragAngle);
    auto* dyn = dynamic_cast<DynObject*>(object->instance);
    if (neRigidBody* body = dyn ? dyn->body.rigidBody : nullptr) {
        matrix3d pose = matrix3d::identity();
        pose.m[12] = pivot.x;
        pose.m[13] = pivot.y;
        pose.m[14] = pivot.z;
        pose = pose * turn;
        if (EntityManager::PhysicsManager* physics = physicsOf(*menu))
            physics->waitForStepEnd();
        body->setPose(pose);
        // The turntable holds the quad. In the air above no ground, each
        // step lets it fall, faster from frame to frame: nothing of that
        // motion is kept.
        body->stopMotion();
        // Wheels, handlebar and rider are posed here, from the pose just set
        // and while no step moves the body: the frame's step, running while
        // the showroom draws, never shows. The entity takes the pose that
        // the step's hand-over gives it anyway.
        dyn->world = pose;
        dyn->prepareRender();
    }
    updateCamera();
    lightAngle += gFrameFactor.load() * 0.1f;
}

void GameMenu::Main::Showroom::updateCamera()
{
    D3D::Device::SwapChain* chain = menu->swapChain();
    if (!chain)
        return;
    chain->position = {0.0f, 3.5f, -4.0f};
    chain->angles = {0.0f, -28.0f, 0.0f};
    chain->setAnglesDeg();
    // The camera's update: the swap chain's own update is its managers'.
    chain->Camera::update();
    chain->apply();
}

void GameMenu::Main::Showroom::render(IDirect3DDevice9* device)
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = menu->swapChain();
    if (!hasQuad() || !device || !chain)
        return;
    const D3D::Device::SwapChain::RenderTarget& target = chain->topTarget();
    const D3DVIEWPORT9 view = viewportFor(target.width, target.height, target.aspect);
    if (view.Width == 0 || view.Height == 0)
        return;
    if (chain->targetCount == 1)
        rect = view;
    device->GetViewport(&savedViewport);
    // Target and depth are cleared over the whole target, which holds only
    // the callers' black backdrop: a software rasteriser shades a clear cut
    // to a viewport like a drawn rectangle, and clears a whole target for a
    // fraction of that.
    const D3DVIEWPORT9 whole{0, 0, target.width, target.height, 0.0f, 1.0f};
    device->SetViewport(&whole);
    device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0);
    device->SetViewport(&view);
    const matrix3d identity = matrix3d::identity();
    device->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
    object->instance->renderImmediate();
    mirror.render(device);
    drawPlatform(device);
    device->SetViewport(&savedViewport);
}

void GameMenu::Main::Showroom::drawPlatform(IDirect3DDevice9* device)
{
    device->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
    device->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
    device->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    device->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
    device->SetFVF(D3DFVF_XYZ | D3DFVF_TEX1);
    device->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(turn.m));
    Texture* record = platform.texture();
    device->SetTexture(0, record ? record->texture : nullptr);
    DWORD lighting = 0;
    device->GetRenderState(D3DRS_LIGHTING, &lighting);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    for (int32_t i = 0; i < ringSegments; ++i) {
        const float a0 = float(i) * pi / 16.0f;
        const float a1 = float(i + 1) * pi / 16.0f;
        const PlatformVertex strip[5] = {
            {outerRadius * std::cos(a1), 0.0f, outerRadius * std::sin(a1), 0.0f, 0.0f},
            {outerRadius * std::cos(a0), 0.0f, outerRadius * std::sin(a0), 1.0f, 0.0f},
            {innerRadius * std::cos(a1), 0.0f, innerRadius * std::sin(a1), 1.0f / 6.0f, 1.0f},
            {innerRadius * std::cos(a0), 0.0f, innerRadius * std::sin(a0), 5.0f / 6.0f, 1.0f},
            {0.0f, 0.0f, 0.0f, 1.0f, 1.0f},
        };
        const uint32_t level = uint32_t(segmentLevel(a0, a1, lightAngle) * 255.0f);
        device->SetRenderState(D3DRS_TEXTUREFACTOR, 0xAA000000u | level << 16 | level << 8 | level);
        device->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 3, strip, sizeof(PlatformVertex));
    }
    device->SetRenderState(D3DRS_LIGHTING, lighting);
    device->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
    device->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    device->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
    const matrix3d identity = matrix3d::identity();
    device->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
}

void GameMenu::Main::Showroom::drawMirrorSurface()
{
    if (!gDevice)
        return;
    const matrix3d identity = matrix3d::identity();
    gDevice->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
    gDevice->SetFVF(D3DFVF_XYZ);
    const SurfaceVertex square[4] = {{10.0f, 0.0f, -10.0f}, {-10.0f, 0.0f, -10.0f}, {10.0f, 0.0f, 10.0f},
                                     {-10.0f, 0.0f, 10.0f}};
    DWORD cull = 0;
    gDevice->GetRenderState(D3DRS_CULLMODE, &cull);
    gDevice->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    gDevice->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, square, sizeof(SurfaceVertex));
    gDevice->SetRenderState(D3DRS_CULLMODE, cull);
}

void GameMenu::Main::Showroom::drawReflection(IDirect3DDevice9*)
{
    if (hasQuad())
        object->instance->renderImmediate();
}
