#include "Landscape/Terrain.h"

#include "Render/SwapChain.h"

Terrain gTerrain;

Terrain::Terrain()
{
    weight = 1.0f;
    material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
    material.Ambient = {0.3f, 0.3f, 0.3f, 1.0f};
}

Terrain::~Terrain() { clear(); }

bool Terrain::load(D3D::Device::SwapChain*, const Settings&)
{
    // The ".map" reader comes with the heightfield.
    return false;
}

void Terrain::clear()
{
    if (!loaded)
        return;
    loaded = false;
}

void Terrain::startLod(D3D::Device::SwapChain* swapChain)
{
    if (swapChain)
        swapChain->advanceLoadProcess(*this, 1.0f);
}

float Terrain::getHeight(float, float, int32_t) const { return missing; }
