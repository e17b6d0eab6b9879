#include "Objects/Compass.h"

#include "Objects/DynObject.h"

#include "Entity/StoredMesh.h"
#include "Entity/SubEntity.h"
#include "Landscape/Scene.h"
#include "Race/GameVehicle.h"
#include "Render/Camera.h"
#include "Render/DirectGraphics.h"

#include "Core/CrashTrace.h"
#include "Core/Timer.h"

#include <d3d9.h>

#include <algorithm>

using Compass = ObjPkgManager::Functions::Compass;

namespace {

// The vehicle the arrow guides, when it has somewhere to go.
Game::Vehicle* guidedVehicle(Scene* scene)
{
    Game::Vehicle* player = scene ? scene->game.getPlayerVehicle() : nullptr;
    if (!player || player->finished || !player->hasTarget())
        return nullptr;
    return player;
}

}

Compass::Compass(Camera* sceneCamera, Scene* raceScene, DynObject* object)
    : camera(sceneCamera), scene(raceScene), owner(object)
{
    if (owner) {
        owner->hidden = 1;
        if (auto* last = owner->subEntities.tail())
            arrow = last->item;
    }
    // The object's prepare may show the entity again; its arrow stays out
    // of the scene passes all the same.
    if (arrow)
        arrow->hidden = 1;
}

bool Compass::hasArrow() const
{
    if (!arrow || !arrow->octree)
        return false;
    const EntityManager::StoredMesh& mesh = arrow->mesh();
    return mesh.vertexBuffer && mesh.indexBuffer;
}

Compass::Pose Compass::pose(const Camera& camera, const vec3d& target)
{
    const vec3d up(0.0f, 1.0f, 0.0f);
    const vec3d d = (target - (camera.position - 30.0f * camera.forward)).normalised();
    matrix3d frame;
    if (!camera.view.inverseAffine(frame))
        frame = camera.view;
    const float* v = camera.view.m;
    const vec3d inView(d.x * v[0] + d.y * v[4] + d.z * v[8], d.x * v[1] + d.y * v[5] + d.z * v[9],
                       d.x * v[2] + d.y * v[6] + d.z * v[10]);
    const vec3d side = up.cross(inView).normalised();
    const vec3d heading = side.cross(up).normalised();
    matrix3d turn = matrix3d::identity();
    turn.setRow(0, side);
    turn.setRow(1, up);
    turn.setRow(2, heading);

    Pose out;
    out.world = turn * frame;
    for (int r = 0; r < 3; ++r)
        out.world.setRow(r, out.world.row(r) * 0.5f);
    out.world.setRow(3, out.world.row(3) + 5.0f * frame.row(2) - 4.5f * frame.row(1));

    const float distance = std::min((out.world.row(3) - target).length(), greyDistance);
    const float f = 1.0f - distance / greyDistance;
    const uint8_t grey = uint8_t((1.0f - f) * 127.0f);
    out.colour = Color(grey, uint8_t(f * 200.0f + (1.0f - f) * 127.0f), grey, 255);
    return out;
}

Color Compass::blinked(Color colour, float phase)
{
    const auto toWhite = [phase](uint8_t c) { return uint8_t(float(c) * (1.0f - phase) + 255.0f * phase); };
    return Color(toWhite(colour.r), toWhite(colour.g), toWhite(colour.b), toWhite(colour.a));
}

void Compass::update()
{
    CRASH_TRACE();
    Game::Vehicle* player = guidedVehicle(scene);
    // An object without its arrow, or an arrow without buffers, stays put.
    if (!player || !camera || !hasArrow())
        return;
    Game::Vehicle::Target target;
    target.position = vec3d();
    player->getTargetPosition(target);
    const Pose placed = pose(*camera, target.position);
    world = placed.world;
    colour = placed.colour;
    if (blink) {
        colour = blinked(colour, blinkPhase);
        blinkPhase += gFrameFactor.load(std::memory_order_relaxed) * 0.1f;
        if (blinkPhase > 1.0f)
            blinkPhase = 0.0f;
    }
    if (owner && owner->object)
        owner->object->setPosition(world.row(3), false);
}

void Compass::drawOnRequest()
{
    CRASH_TRACE();
    IDirect3DDevice9* d = gDevice;
    if (d && guidedVehicle(scene) && hasArrow()) {
        arrow->hidden = 0;
        arrow->mesh().bind();
        DWORD lighting = FALSE;
        d->GetRenderState(D3DRS_LIGHTING, &lighting);
        d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(world.m));
        d->SetMaterial(&arrow->material.material);
        d->SetRenderState(D3DRS_LIGHTING, TRUE);
        arrow->material.setCullMode();
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TFACTOR);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TFACTOR);
        d->SetRenderState(D3DRS_TEXTUREFACTOR, colour.argb());
        arrow->drawClipped();
        d->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
        d->SetRenderState(D3DRS_LIGHTING, lighting);
    }
    // The scene passes never draw the arrow.
    if (arrow)
        arrow->hidden = 1;
}
