#include "Way/WayModeler.h"

#include "Way/WayNetwork.h"
#include "Way/WaySegment.h"

#include "Render/D3DDevice.h"
#include "Render/RenderHandshake.h"

#include "Core/CrashTrace.h"
#include "Core/ResourceManager.h"

#include <d3dx9.h>

#include <utility>

WayModelerSet* gWayModelerSet = nullptr;

namespace Way {

Modeler::Modeler(String modelerName, uint32_t isDrawn, uint32_t takesProjections)
    : name(std::move(modelerName)), drawn(isDrawn), receivesProjections(takesProjections)
{
}

Modeler::~Modeler() { releaseStateBlocks(); }

void Modeler::releaseStateBlocks()
{
    D3D::releaseInterface(restoreStateBlock);
    D3D::releaseInterface(drawStateBlock);
}

void Modeler::rebuildStateBlocks()
{
    CRASH_TRACE();
    RenderHandshake::Record pause;
    releaseStateBlocks();
    IDirect3DDevice9* d = gDevice;
    if (!d)
        return;
    if (SUCCEEDED(d->BeginStateBlock())) {
        recordStates();
        if (FAILED(d->EndStateBlock(&drawStateBlock)))
            drawStateBlock = nullptr;
    }
    if (SUCCEEDED(d->BeginStateBlock())) {
        recordStates();
        if (FAILED(d->EndStateBlock(&restoreStateBlock)))
            restoreStateBlock = nullptr;
    }
}

void Modeler::setDirections(const Pos& a, const Pos& b)
{
    forward = unit(b.centre - a.centre);
    side = unit(vec3d{forward.z, 0.0f, -forward.x});
}

vec2d Modeler::planarTexCoords(const vec3d& point, const vec3d& origin, const vec3d& axisU, const vec3d& axisV,
                               const vec2d& scale, float offsetU, float offsetV)
{
    const vec3d d = point - origin;
    return {(d.dot(axisU) + offsetU) * scale.x, d.dot(axisV) * scale.y + offsetV};
}

vec2d Modeler::texCoords(const vec3d& point, bool alongWay, const vec2d& scale, const vec3d& origin,
                         float offsetU) const
{
    if (!alongWay)
        return {point.x * scale.x, point.z * scale.y};
    return planarTexCoords(point, origin, forward, side, scale, offsetU, 0.5f);
}

void Modeler::loadTextures(ResourceManager& resources)
{
    CRASH_TRACE();
    for (int part = 0; part < 2; ++part) {
        if (!textureNames[part])
            continue;
        const String entryName(textureNames[part]);
        ResourceManager::Entry& entry = resources.find(entryName);
        if (!entry.name.sameText(entryName) || entry.data.size() == 0)
            continue;
        entry.data.seek(0, 0);
        Texture::loadFromMemory(entry.data, nullptr, shader.textures[part], entryName, D3DX_DEFAULT, D3DX_DEFAULT,
                                D3DX_DEFAULT, D3DFMT_UNKNOWN, D3DPOOL_MANAGED, D3DX_DEFAULT);
        entry.data.seek(0, 0);
    }
}

TerrainHollow::TerrainHollow(String modelerName) : Modeler(std::move(modelerName), 1, 1) { lowersTerrain = 1; }

}

WayModelerSet::WayModelerSet()
{
    for (Way::Modeler* m : {static_cast<Way::Modeler*>(&simple), static_cast<Way::Modeler*>(&curbstone),
                            static_cast<Way::Modeler*>(&hollow)}) {
        m->visibleDistanceSq = 2250000.0f;
        m->drawn = 1;
        m->receivesProjections = 1;
    }
    simple.borderWidth = 2.0f;
    simple.terrainOffset = -0.0001f;
    simple.roadTexScale = {0.35f, 0.35f};
    simple.borderTexScale = {1.7f, 0.36f};
    simple.roadTexAlongWay = 0;
    simple.borderTexAlongWay = 1;
    simple.textureNames[0] = L"WayRoad";
    simple.textureNames[1] = L"WayBorderPaver";
    curbstone.curbHeight = 0.08f;
    curbstone.curbWidth = 0.3f;
    curbstone.roadTexScale = {0.2f, 0.2f};
    curbstone.curbTexScale = {0.6f, 1.5f};
    curbstone.roadTexAlongWay = 0;
    curbstone.curbTexAlongWay = 1;
    curbstone.textureNames[0] = L"WayTrack";
    curbstone.textureNames[1] = L"WayCurbstone";
    hollow.lowersTerrain = 1;
}

void WayModelerSet::destroy()
{
    CRASH_TRACE();
    if (!gWayModelerSet)
        return;
    // The segments name their modelers: the ways go first.
    gWayNetwork.clearWays();
    std::erase_if(gWayNetwork.modelers, [](const Way::Modeler* m) {
        return m == &gWayModelerSet->simple || m == &gWayModelerSet->curbstone || m == &gWayModelerSet->hollow;
    });
    delete gWayModelerSet;
    gWayModelerSet = nullptr;
}

void createWayModelerSet(ResourceManager* resources)
{
    CRASH_TRACE();
    if (gWayModelerSet)
        return;
    gWayModelerSet = new WayModelerSet;
    for (Way::Modeler* m : {static_cast<Way::Modeler*>(&gWayModelerSet->simple),
                            static_cast<Way::Modeler*>(&gWayModelerSet->curbstone),
                            static_cast<Way::Modeler*>(&gWayModelerSet->hollow)}) {
        gWayNetwork.registerModeler(m);
        m->rebuildStateBlocks();
        if (resources)
            m->loadTextures(*resources);
    }
}
