// The device's scene-wide list of texture projections and its part in a
// device reset.
#include "Render/D3DDevice.h"

#include "Render/ShadowMap.h"
#include "Render/TextureProj.h"

namespace D3D {

void Device::TexProjList::addTexProj(TextureProj* projection)
{
    if (projection)
        projections.append(projection);
}

void Device::TexProjList::removeTexProj(TextureProj* projection)
{
    for (auto* node = projections.head(); node; node = node->next)
        if (node->item == projection) {
            projections.unlink(node);
            return;
        }
}

namespace {

template <class Step>
void forEachShadowMap(SCList<TextureProj>& projections, Step step)
{
    for (auto* node = projections.head(); node; node = node->next)
        if (TextureProj* p = node->item; p && p->shadowMap && (p->isLight() || p->isShadow()))
            step(*p->shadowMap);
}

}

void Device::TexProjList::releaseShadowMaps()
{
    forEachShadowMap(projections, [](ShadowMap& map) { map.releaseTargets(); });
}

void Device::TexProjList::restoreShadowMaps()
{
    forEachShadowMap(projections, [](ShadowMap& map) { map.createTargets(); });
}

void Device::TexProjList::releaseTextures()
{
    for (auto* node = projections.head(); node; node = node->next)
        if (node->item)
            node->item->releaseStateBlocks();
}

void Device::TexProjList::restore()
{
    for (auto* node = projections.head(); node; node = node->next)
        if (TextureProj* p = node->item) {
            p->invalidate();
            p->createStateBlocks();
        }
}

}
