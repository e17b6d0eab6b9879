#pragma once
// The race's camera on the player's quad (flag 0x4): each frame it places the
// scene camera behind the quad (chase, mode 0), circling it (orbit, mode 1,
// the race's end) or in the driver's seat (mode 2). The chase view follows
// the quad's horizontal motion with a smoothed direction; a quad that stands
// upright and still for 500 ms pulls the view round behind its forward axis.
// The chase point keeps clear of the ground.
//
// Its easings close the same share of a gap per 1/35 s at any frame rate
// (Timer::easing); the orbit turns by the frame factor; the still timer
// reads the race clock.
// Main thread only.

#include "Objects/ObjectFuncInst.h"
#include "Objects/ObjectFunctions.h"

#include "Core/Matrix.h"
#include "Core/Quaternion.h"
#include "Core/Vector.h"

#include <cstdint>

class Camera;
class DynObject;

class ObjPkgManager::Functions::VehicleCamera final : public ObjectFuncInstInterface
{
public:
    enum Mode : int32_t { chase = 0, orbit = 1, driver = 2 };

    // Drives camera (not owned) from vehicle (not owned). The view starts
    // along the vehicle's forward axis, in chase mode.
    VehicleCamera(Camera* camera, DynObject* vehicle);

    // Chase resets the view to the forward axis; driver starts from the
    // vehicle's present rotation, so that the view does not jump.
    void setMode(int32_t newMode);
    // One step of the camera for the vehicle having moved by displacement
    // since its last prepare: the camera's rows right, up, forward and its
    // position (fourth element 1) into out.
    void update(const vec3d& displacement, matrix3d& out);
    // The step for this frame into the camera's view and position. A vehicle
    // whose pose is not finite leaves the view as it was.
    void frameStep() override;

    Camera* camera;
    DynObject* vehicle;
    // The smoothed horizontal direction from the camera toward the vehicle.
    vec3d viewDirection;
    // Race-clock deadline of the still vehicle; 0 while not running.
    uint32_t stillTimer = 0;
    float orbitAngle = 0.0f; // degrees
    // The smoothed lift over the plain chase point.
    float heightOffset = 0.0f;
    int32_t mode = chase;
    // The smoothed rotation of the driver view.
    quaternion orientation{0.0f, 0.0f, 0.0f, 1.0f};

private:
    void updateChase(const matrix3d& pose, const vec3d& displacement, matrix3d& out);
    void updateDriver(const matrix3d& pose, matrix3d& out);
};
