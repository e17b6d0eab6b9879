#include "Landscape/Water.h"

#include "Render/Camera.h"

#include "Core/CrashTrace.h"

Water gWater;

Water::Water()
{
    weight = 1.0f;
    done = 0.0f;
}

Water::~Water() { clear(); }

void Water::init()
{
    CRASH_TRACE();
    skyMask.acquireTargets();
    computeReflectionTextureMatrix();
    enabled = 1;
    fullScan = 1;
    scanCursor = nullptr;
    defaultMacroSide = 16;
    defaultMacroCount = 256;
}

void Water::computeReflectionTextureMatrix()
{
    if (gCamera)
        WaterTextures::computeReflectionMatrix(gCamera->projection);
}

void Water::update(int32_t force)
{
    CRASH_TRACE();
    if (!force) {
        if (!enabled || !gCamera)
            return;
        const vec3d c = gCamera->position;
        const float step = float(double(gCamera->range) * 0.0011449200101196766);
        if ((c - lastCamera).lengthSq() < step * step)
            return;
        lastCamera = c;
    } else {
        fullScan = 1;
    }
    int32_t n = dormant.count();
    if (!fullScan) {
        n >>= 4;
        if (n == 0)
            n = dormant.count();
    }
    fullScan = 0;
    for (int32_t k = 0; k < n; ++k) {
        if (!scanCursor)
            scanCursor = dormant.head();
        if (!scanCursor)
            break;
        AreaList::Node* node = scanCursor;
        scanCursor = node->next;
        if (node->item && node->item->update() == Area::becameLive) {
            live.append(node->item);
            dormant.unlink(node);
        }
    }
}

void Water::render(D3D::Device::SwapChain& chain)
{
    CRASH_TRACE();
    if (!enabled)
        return;
    skyMask.render(chain);
    for (AreaList::Node* node = live.head(); node;) {
        AreaList::Node* next = node->next;
        if (node->item && node->item->render(chain) == Area::wentDormant) {
            dormant.append(node->item);
            live.unlink(node);
        }
        node = next;
    }
}

void Water::clear()
{
    CRASH_TRACE();
    deleteAreas(dormant);
    deleteAreas(live);
    surfacePools.clear();
    indexPools.clear();
    skyMask.forgetTargets();
    enabled = 0;
}

void Water::deleteAreas(AreaList& list)
{
    if (&list == &dormant)
        scanCursor = nullptr;
    list.deleteAll();
}

void Water::releaseAreaTextures()
{
    for (auto* node = live.head(); node; node = node->next)
        if (node->item && node->item->physicsBuilt)
            node->item->physics.releaseVertexBuffers();
}

void Water::restoreAreas()
{
    computeReflectionTextureMatrix();
    for (auto* node = live.head(); node; node = node->next)
        if (node->item && node->item->physicsBuilt)
            node->item->physics.createVertexBuffers();
}
