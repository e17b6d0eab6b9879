#include "Landscape/SkyRecords.h"

#include "Render/D3DDevice.h"

SkyBox::~SkyBox()
{
    D3D::releaseInterface(vertexBuffer);
    for (TextureRef& face : faces)
        face.release();
}

// The records are never filled (see SkyRecords.h), so each pass ends at its
// emptiness test.
void SkyBox::render() const
{
    if (empty())
        return;
}

StarLayer::~StarLayer() { D3D::releaseInterface(vertexBuffer); }

void StarLayer::render() const
{
    if (empty())
        return;
}

SkyLayers::Layer::~Layer()
{
    D3D::releaseInterface(vertexBuffer);
    D3D::releaseInterface(indexBuffer);
}

SkyLayers::~SkyLayers()
{
    layers.deleteAll();
    texture.release();
}

void SkyLayers::update()
{
    if (empty())
        return;
}

void SkyLayers::render()
{
    if (empty())
        return;
}
