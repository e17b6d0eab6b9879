#pragma once
// A planar stencil mirror: the owner draws the mirror's surface (which only
// marks the stencil buffer) and the objects it reflects; the mirror sets the
// reflected view, the flipped winding and the light for them, and restores
// what it changed. Main thread only, inside a scene.

#include "Core/ConvexVolume.h"
#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <cstdint>

struct IDirect3DDevice9;

class Mirror
{
public:
    // What the mirror asks of its owner, in drawing order.
    class Interface
    {
    public:
        // The mirror's shape; only its stencil marks are kept.
        virtual void drawMirrorSurface() = 0;
        // The reflected objects; the reflected view is already set.
        virtual void drawReflection(IDirect3DDevice9* device) = 0;

    protected:
        ~Interface() = default;
    };

    explicit Mirror(Interface* owner) : owner(owner) {}

    // The plane through point with the unit normal; the clip form and the
    // reflection matrix follow.
    void setPlane(const vec3d& normal, float distance, const vec3d& point);
    // The reflection in the plane n . x = distance, for row vectors.
    static matrix3d reflectionMatrix(const vec3d& n, float distance);

    // Draws the reflection where the surface lies. Nothing without an owner,
    // without a device or without a stencil buffer (the stencil state is then
    // left untouched).
    void render(IDirect3DDevice9* device);

    Interface* owner;
    vec3d normal{0.0f, 1.0f, 0.0f};
    float distance = 0.0f;
    vec3d point;
    // The clip form: the normal, the negated distance and that distance times
    // the normal.
    vec3d clipNormal{0.0f, 1.0f, 0.0f};
    float clipDistance = 0.0f;
    vec3d clipPoint;
    matrix3d reflection = matrix3d::identity();
    matrix3d reflectedView = matrix3d::identity();
    // Set: the camera's frustum is reflected for the reflection pass.
    uint32_t cullReflected = 1;
    ConvexVolume savedFrustum;
};
