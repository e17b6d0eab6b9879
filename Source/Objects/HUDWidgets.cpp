#include "Objects/HUDWidgets.h"

#include "Objects/Compass.h"
#include "Objects/DynObject.h"
#include "Objects/ObjectPackage.h"

#include "Entity/StaticEntity.h"
#include "Landscape/HLod.h"
#include "Landscape/Scene.h"
#include "Menu/UserInterface.h"
#include "Race/GameVehicle.h"
#include "Render/DirectGraphics.h"
#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"
#include "Core/ImageData.h"
#include "Core/Paint.h"

#include <d3d9.h>

#include <algorithm>
#include <cstdarg>
#include <cwchar>

using HUD = ObjPkgManager::Functions::HUD;
using UserInterface::Rect;

namespace {

constexpr float hudFadeTarget = 0.5f;
constexpr float hudFadeSpeed = 0.1f;

D3D::Device::SwapChain* chainOf(const HUD* hud)
{
    return hud && hud->root ? hud->root->swapChain : nullptr;
}

struct BarVertex
{
    float x, y, z, rhw;
};
static_assert(sizeof(BarVertex) == 16);

void formatRow(UserInterface::Text& text, const wchar_t* format, ...)
{
    wchar_t* chars = text.buffer.data();
    if (!chars)
        return;
    wchar_t formatted[UserInterface::Text::bufferSize];
    va_list args;
    va_start(args, format);
    const int written = _vsnwprintf(formatted, UserInterface::Text::bufferSize - 1, format, args);
    va_end(args);
    formatted[written >= 0 && written < UserInterface::Text::bufferSize - 1 ? written
                                                                          : UserInterface::Text::bufferSize - 1] = 0;
    if (std::wcscmp(formatted, chars) != 0) {
        std::wcscpy(chars, formatted);
        text.changed = 1;
    }
}

}

HUD::Level::Level(HUD* hud, int32_t barKind)
    : Widget(chainOf(hud), hudFadeTarget, hudFadeSpeed), owner(hud), kind(barKind)
{
    enable();
    addChild(0);
}

Rect HUD::Level::rectOf(int32_t kind, int32_t screenWidth, int32_t screenHeight)
{
    int32_t x = 0, y = 0;
    if (kind == damageKind) {
        x = 93;
        y = screenHeight - 77;
    } else if (kind == nitroKind) {
        x = screenWidth - 270;
        y = 36;
    } else {
        return {};
    }
    return {x, y, x + width, y + height};
}

float HUD::Level::fillRight(const Rect& bar, float value)
{
    return float(bar.left) + float(width) * value - 1.0f;
}

bool HUD::Level::showsFill(float value)
{
    // The fill runs from one pixel inside the left edge to one inside the
    // right: below 2/250 it would have no width (or a negative one).
    return value >= 2.0f / float(width);
}

void HUD::Level::update()
{
    rect = rectOf(kind, owner ? owner->screenWidth() : 0, owner ? owner->screenHeight() : 0);
}

void HUD::Level::draw()
{
    CRASH_TRACE();
    Widget::draw();
    const Rect bar = rectOf(kind, owner ? owner->screenWidth() : 0, owner ? owner->screenHeight() : 0);
    IDirect3DDevice9* d = gDevice;
    if (d && (kind == damageKind || kind == nitroKind)) {
        const float x = float(bar.left), y = float(bar.top);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_TFACTOR);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_TFACTOR);
        d->SetRenderState(D3DRS_ALPHABLENDENABLE, TRUE);
        d->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        d->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
        d->SetFVF(D3DFVF_XYZRHW);

        d->SetRenderState(D3DRS_TEXTUREFACTOR, D3DCOLOR_ARGB(127, 255, 255, 255));
        const BarVertex outline[5] = {{x, y, 0.0f, 1.0f},
                                      {x + float(width), y, 0.0f, 1.0f},
                                      {x + float(width), y + float(height), 0.0f, 1.0f},
                                      {x, y + float(height), 0.0f, 1.0f},
                                      {x, y, 0.0f, 1.0f}};
        d->DrawPrimitiveUP(D3DPT_LINESTRIP, 4, outline, sizeof(BarVertex));

        const float filled = HudValues::barValue(value);
        if (showsFill(filled)) {
            d->SetRenderState(D3DRS_TEXTUREFACTOR, kind == damageKind ? D3DCOLOR_ARGB(127, 255, 0, 0)
                                                                      : D3DCOLOR_ARGB(180, 205, 17, 141));
            const float right = fillRight(bar, filled);
            const BarVertex fill[4] = {{x + 1.0f, y + 1.0f, 0.0f, 1.0f},
                                       {right, y + 1.0f, 0.0f, 1.0f},
                                       {x + 1.0f, y + float(height - 1), 0.0f, 1.0f},
                                       {right, y + float(height - 1), 0.0f, 1.0f}};
            d->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, fill, sizeof(BarVertex));
            gDirectGraphics.record.primitiveCount += 2;
        }

        d->SetRenderState(D3DRS_ALPHABLENDENABLE, FALSE);
        d->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
        d->SetTextureStageState(0, D3DTSS_COLORARG2, D3DTA_DIFFUSE);
        d->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
        d->SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE);
    }
    rect = bar;
}

HUD::CompassHUD::CompassHUD(HUD* hud) : Widget(chainOf(hud), hudFadeTarget, hudFadeSpeed), owner(hud)
{
    CRASH_TRACE();
    Scene* scene = hud ? hud->scene : nullptr;
    if (scene) {
        // Without a "Compass" package no object is made and nothing draws.
        ObjPkgManager::Package* package = scene->objectPackages.findPackage(String(L"Compass"));
        vec3d at;
        if (hud->player)
            at = hud->player->object ? hud->player->object->position : hud->player->world.row(3);
        object = scene->objectPackages.createObject(package, at, 1.0f);
        if (object) {
            object->setState(StaticEntity::alwaysActive);
            if (D3D::Device::SwapChain* chain = scene->swapChain) {
                if (StaticEntityManager* objects = chain->staticEntities)
                    objects->updateActivation(objects->root);
                if (chain->farField)
                    chain->farField->rerender = 1;
            }
            auto* live = dynamic_cast<DynObject*>(object->instance);
            if (live && live->functions && (live->functions->mask & Compass::flag))
                if (auto* entry = live->functions->find(Compass::flag))
                    instance = static_cast<Compass*>(entry->instance);
        }
    }
    enable();
    addChild(0);
}

HUD::CompassHUD::~CompassHUD()
{
    if (object) {
        object->remove();
        delete object;
    }
}

void HUD::CompassHUD::draw()
{
    if (instance)
        instance->drawOnRequest();
}

HUD::StandingsRow::StandingsRow(HUD* hud, Game::Vehicle* raceVehicle)
    : owner(hud), vehicle(raceVehicle), dot(chainOf(hud), 1, hudFadeTarget, hudFadeSpeed),
      mark(chainOf(hud), 1, hudFadeTarget, hudFadeSpeed),
      text(chainOf(hud), hud ? hud->smallFace : nullptr, 1, -1, -1, hudFadeTarget, hudFadeSpeed)
{
    CRASH_TRACE();
    text.enable();

    // A disc in the vehicle's colour with a soft edge a pixel wide, clear
    // outside.
    const Color colour = vehicle ? vehicle->color : Color(255, 255, 255, 255);
    Color clear = colour;
    clear.a = 0;
    Paint disc;
    disc.drawDisc(colour, colour, clear, 6.0f, 0.5f, 0.5f);
    ImageData image;
    image.fromSurface2d(disc);
    TextureRef texture;
    Texture::createFromImage(texture, String(L"HUDPlayerColor"), image, 1, D3DPOOL_MANAGED, D3DFMT_A8R8G8B8, false,
                             nullptr);
    dot.setTexture(texture);
    dot.shader->alphaBlend = 1;
    dot.enable();

    if (HUD::loadResourceImage(texture, L"HUDEliminated")) {
        mark.setTexture(texture);
        mark.shader->alphaBlend = 1;
        mark.enable();
    }
}

HUD::StandingsRow::~StandingsRow() = default;

Rect HUD::StandingsRow::layout(int32_t index)
{
    const int32_t x = owner ? owner->listOriginX : listX;
    const int32_t y = owner ? owner->listOriginY : listY;
    const Game* game = owner ? owner->game() : nullptr;
    const int32_t goal = game ? game->choice.goal : 0;
    const wchar_t* name = vehicle && vehicle->name.buffer() ? vehicle->name.text() : L"";
    const bool eliminated = vehicle && vehicle->knockedOut;
    switch (owner ? owner->mode() : 0) {
    case Game::KnockOut:
        if (eliminated) {
            formatRow(text, L"% -12ls", name);
            break;
        }
        [[fallthrough]];
    case Game::OffRoadRace:
    case Game::Circuit:
        formatRow(text, L"% -12ls % -2i/% -2i", name, int(vehicle ? vehicle->lap : 0), int(goal));
        break;
    case Game::CaptureTheFlag:
    case Game::Jamboree:
        formatRow(text, L"% -12ls % -3i/% -3i", name, int(vehicle ? std::max(vehicle->points, 0) : 0), int(goal));
        break;
    default:
        break;
    }
    text.x = x + 30;
    text.y = y + 25 * index;
    dot.x = x;
    dot.y = y + 25 * index + 7;
    if (eliminated) {
        mark.x = x + 220;
        mark.y = y + 25 * index - 3;
    }
    // Without its picture the mark stays out.
    mark.enabled = eliminated && mark.shader->textures[0].isBound() ? 1 : 0;
    text.calc();
    const UserInterface::Size size = text.getSize();
    return {x, text.y, x + size.width + 30, text.y + size.height};
}
