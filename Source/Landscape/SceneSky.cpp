// The sky's frame steps: its update and the sky pass.
#include "Landscape/Scene.h"

#include "Landscape/AnimatedSky.h"
#include "Landscape/SceneView.h"
#include "Landscape/SkyRecords.h"
#include "Landscape/SunGlow.h"

#include "Render/SwapChain.h"

#include "Core/CrashTrace.h"

void SceneView::init(D3D::Device::SwapChain* swapChain)
{
    owner = swapChain;
    matrix = matrix3d::identity();
}

void Scene::updateSky(SceneView& view)
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = view.owner;
    if (!chain)
        return;
    if (chain->sky && chain->sky->root)
        chain->sky->update();
    if (chain->skyLayers)
        chain->skyLayers->update();
    view.matrix = matrix3d::identity();
    view.matrix.m[12] = chain->position.x;
    view.matrix.m[13] = chain->position.y;
    view.matrix.m[14] = chain->position.z;
}

void Scene::renderSky(SceneView& view)
{
    CRASH_TRACE();
    D3D::Device::SwapChain* chain = view.owner;
    IDirect3DDevice9* d = gDevice;
    if (!chain || !d)
        return;
    const bool fog = chain->fogEnabled != 0;
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(view.matrix.m));
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, FALSE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, FALSE);
    d->SetRenderState(D3DRS_ZENABLE, FALSE);
    if (chain->skyBox)
        chain->skyBox->render();
    if (chain->sky && chain->sky->root)
        chain->sky->render();
    if (chain->stars)
        chain->stars->render();
    if (chain->sunGlow)
        Sun::renderDisc(*chain->sunGlow);
    if (chain->skyLayers)
        chain->skyLayers->render();
    if (fog)
        d->SetRenderState(D3DRS_FOGENABLE, TRUE);
    d->SetRenderState(D3DRS_ZWRITEENABLE, TRUE);
    d->SetRenderState(D3DRS_ZENABLE, TRUE);
    // The passes after the sky draw in world space.
    const matrix3d identity = matrix3d::identity();
    d->SetTransform(D3DTS_WORLD, reinterpret_cast<const D3DMATRIX*>(identity.m));
}
