#pragma once
// The race compass: a 3D arrow floating in front of the camera that turns
// toward where the player has to drive next and goes from grey to green as
// the target comes near. Every dynamic object of a package with the compass
// value (function code 14) carries one instance (flag 0x100); the head-up
// display places such an object and has the instance draw its arrow (the
// last mesh of the package) straight with the device, once before the
// player's object is drawn and once in the user-interface pass. The object
// itself stays hidden from the scene passes. Main thread only.

#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Entity/EntityManager.h"

#include "Core/Color.h"
#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <cstdint>

class Camera;
class DynObject;
class Scene;

class ObjPkgManager::Functions::Compass final : public ObjectFuncInstInterface
{
public:
    static constexpr uint32_t flag = 0x100;
    // Beyond this distance from the target the arrow is plain grey.
    static constexpr float greyDistance = 1000.0f;

    // The arrow and its colour for one camera pose and target.
    struct Pose
    {
        matrix3d world = matrix3d::identity();
        Color colour;
    };

    // Hides owner from the scene passes; its last sub-entity is the arrow.
    // camera and scene may be null (nothing moves then).
    Compass(Camera* camera, Scene* scene, DynObject* owner);
    ~Compass() override = default;

    // Moves the arrow toward the player vehicle's target and colours it.
    void update() override;
    // Draws the arrow (on the head-up display's request).
    void drawOnRequest() override;

    // The arrow's world matrix for a camera: its frame (the view's affine
    // inverse, or the view itself when that is singular) turned so that the
    // arrow's z axis points at the target's direction in the horizontal
    // plane of view space, halved, 5 ahead of and 4.5 below the camera; the
    // colour from the distance of the arrow to the target.
    static Pose pose(const Camera& camera, const vec3d& target);
    // Each colour byte blended toward white by phase.
    static Color blinked(Color colour, float phase);
    // Whether the arrow can be placed and drawn: a sub-entity whose mesh has
    // its vertex and index buffers.
    bool hasArrow() const;

    Camera* camera;
    Scene* scene;
    DynObject* owner;
    EntityManager::SubEntity* arrow = nullptr;
    // Set while the display warns (wrong way, missed gate): the colour
    // pulses toward white.
    uint32_t blink = 0;
    float blinkPhase = 0.0f;
    Color colour;
    matrix3d world = matrix3d::identity();
};
