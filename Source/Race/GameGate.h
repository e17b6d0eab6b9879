#pragma once

#include "Race/Game.h"

#include "Entity/StaticEntity.h"

#include "Core/BoundingBox.h"
#include "Core/Matrix.h"
#include "Core/Vector.h"

#include <cstdint>

class DynObject;

// A gate of the course: its placed object and whether it is the target the
// race marked (Jamboree). The race's gate list holds them in course order.
class Game::Gate : public Object::Observer
{
public:
    // Where a quad passes a gate: the gate package's box carried by the
    // gate's transform, as a centre, three unit axes (the transform's rows)
    // and the half extents along them. The passage is the plane through the
    // centre across the third axis, as wide as the box and twice as high
    // above and below its centre.
    struct Window
    {
        // box: the package's bounding box (its centre and maximum corner
        // give the half extents); transform: the gate object's, unscaled.
        Window(const BoundingBox& box, const matrix3d& transform);

        // Whether a sphere of radius whose centre moved from `from` to `to`
        // went through the window. A window without width, height or depth
        // is never passed. share, when given, takes how far along the motion
        // (0 to 1) it crossed the window's plane.
        bool isPassedBy(const vec3d& from, const vec3d& to, float radius, float* share = nullptr) const;
        // It has width, height and depth.
        bool passable() const { return extents[0] > 0.0f && extents[1] > 0.0f && extents[2] > 0.0f; }

        vec3d centre;
        vec3d axes[3];
        float extents[3] = {};
    };

    // Watches placed's instances.
    Gate(Game* owner, Object* placed);
    // No longer watches the object.
    virtual ~Gate();
    // The object made its live instance: its gate function shows the mark.
    void instanceCreated(StaticEntity::Instance& instance) override;
    // Hands marked to the gate function of dyn, when it has one.
    void attachToEntity(DynObject* dyn);
    // Sets marked and shows or hides the mark on the live gate.
    void setMarked(uint32_t on);
    // The passage window of the gate object's package box where the object
    // stands; false, window untouched, without an object or package.
    bool getWindow(Window& window) const { return object && windowOf(*object, window); }
    // The same for any placed object.
    static bool windowOf(const Object& placed, Window& window);
    // The same, kept from the last call while the object stands where it
    // stood then (same package, position, turn and scale); null without
    // an object or package.
    const Window* window();
    Gate(const Gate&) = delete;
    Gate& operator=(const Gate&) = delete;

    Object* object;
    Game* game;
    uint32_t marked = 0;

private:
    // The window kept and the placement it was made for.
    Window kept{BoundingBox{}, matrix3d::identity()};
    const void* keptPackage = nullptr;
    vec3d keptPosition;
    float keptRotation = 0.0f;
    float keptScale = 0.0f;
};
