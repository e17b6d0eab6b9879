#pragma once

#include "Render/D3DDevice.h"

#include "Core/Matrix.h"

// The swap chain's view record for the sky: the sky's world transform, which
// moves with the camera (Scene::updateSky sets it, Scene::renderSky uses it),
// and the swap chain that owns the record and the sky.
struct SceneView
{
    // Stores the owner; the matrix becomes the identity.
    void init(D3D::Device::SwapChain* swapChain);

    D3D::Device::SwapChain* owner = nullptr;
    matrix3d matrix = matrix3d::identity();
};
