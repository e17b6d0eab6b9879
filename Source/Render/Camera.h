#pragma once

#include "Core/Color.h"
#include "Core/ConvexVolume.h"
#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <cstdint>

// The viewer of the scene: position, orientation, lens, fog and mip bias, and
// what derives from them (projection, view, their product, the view axes, the
// frustum and a rotation-only volume). Matrices are for row vectors with the
// translation in elements 12 to 14; the projection is left-handed.
//
// The swap chain is a Camera; gCamera designates the one being drawn and every
// culling pass reads its volumes. Controllers move the camera, then call
// update(); nothing updates it per frame on their behalf. Main thread only.
class Camera
{
public:
    Camera();

    // Lens for a back buffer of size.x by size.y; far plane 2.09 x range.
    // Rebuilds viewProjection and the frustum from the current view.
    void setProjection(const intvec2d& size);
    // View rotation from angles (degrees), then apply(). The translation is
    // left for update().
    void setAnglesDeg();
    // Axes, view translation, viewProjection and both volumes from position,
    // view rotation and projection.
    void update();
    // The view matrix into the device (D3DTS_VIEW); nothing without a device.
    void apply();
    // Fog distances from a haze factor (0 clear to 1 thick).
    void setLens(float haze, const Color& fogColour);
    // The frustum narrowed to a thin pyramid around the screen position (u, v)
    // (0 to 1, v downwards): its near and far planes, and four side planes
    // through the camera position that pass one texel of a 256 x 256 target
    // to the left, below, to the right of and above the point.
    ConvexVolume narrowedFrustum(float u, float v) const;

    vec3d position;
    float range = 1800.0f;
    float rangeSquared = 1800.0f * 1800.0f;
    vec3d angles;
    float fieldOfView = 70.0f; // vertical, degrees
    float nearPlane = 0.5f;
    float mipBias = 0.0f;      // D3DSAMP_MIPMAPLODBIAS of samplers 0 to 2

    uint32_t fogEnabled = 0;
    float fogStart = 0.0f;
    float fogEnd = 1800.0f;
    float haze = 0.0f;
    Color fogColour{127, 127, 127, 255};

    ConvexVolume directionVolume; // the rotation alone: things at unlimited distance (sky)
    ConvexVolume frustum;         // world space

    matrix3d projection = matrix3d::identity();
    matrix3d projectionUnitDepth = matrix3d::identity(); // projection with _33 = 1
    matrix3d view = matrix3d::identity();
    matrix3d viewProjection = matrix3d::identity();

    // Columns of the view rotation.
    vec3d forward{0.0f, 0.0f, 1.0f};
    vec3d up{0.0f, 1.0f, 0.0f};
    vec3d right{1.0f, 0.0f, 0.0f};

    // The far plane's distance for a range: 1.09 x range beyond the range.
    static float farPlaneFor(float range) { return range * 1.09f + range; }
};

// The camera of the frame being drawn (set by the swap chain's beginFrame).
extern Camera* gCamera;
