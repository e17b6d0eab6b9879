#pragma once
// The editing side of object-function templates that the level editor can
// place, turn, scale and pick inside a package.
//
// BaseFuncEditor joins the editor's interfaces and keeps the modified flag;
// BaseFunction makes it a placeable template: a position, angles (degrees)
// and a scale in the package's own frame, the placement matrix made from
// them and the box the editor picks by. The bush and the cloth templates
// derive from it and push each change to their instances in applySettings.
// Main thread only.

#include "Objects/ObjectFunctions.h"

#include "Core/EditorInterfaces.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/Vector.h"

#include <cstdint>

class ObjPkgManager::Functions::BaseFuncEditor : public Editor::Object,
                                                 public EditorJustificationInterface,
                                                 public EditorScaleInterface,
                                                 public EditorRotationInterface
{
public:
    void markModified() override { modified = 1; }

    // Whether the ray picks box: it enters a face ahead, or starts inside.
    // A ray outside that runs parallel to the face it lies beyond misses
    // (the box's ray test reports it alike with a start inside).
    static bool picks(const OrientedBox& box, const vec3d& origin, const vec3d& direction, float& distance);

    uint32_t modified = 0;
};

class ObjPkgManager::Functions::BaseFunction : public BaseFuncEditor
{
public:
    explicit BaseFunction(Record* owner);

    const OrientedBox& getBox() override { return box; }
    // Hit unless the ray misses the box; a ray from inside hits.
    bool hitTest(const vec3d& origin, const vec3d& direction, float& distance) override;
    Record* getOwner() const { return owner; }
    // The rotation of the angles, and the placement: its rows scaled by the
    // scale's components, the position as translation.
    virtual void updateTransform();
    // The derived template's parameters to its instances.
    virtual void applySettings() = 0;

    void getPosition(vec3d& out) override { out = position; }
    void setPosition(const vec3d& at) override;

    uint32_t scaleLocks() override { return 1; }
    const OrientedBox& scaleBox() override { return box; }
    float getScaleX() override { return scale.x; }
    float getScaleY() override { return scale.y; }
    float getScaleZ() override { return scale.z; }
    // x, and y and z too while their lock bits (2, 4) are clear.
    void setScaleX(float value) override;
    void setScaleY(float value) override;
    void setScaleZ(float value) override;

    void getAngles(vec3d& out) override { out = angles; }
    void getPivot(vec3d& out) override { out = position; }
    void setRotation(const vec3d& degrees) override;

    matrix3d placement = matrix3d::identity();
    matrix3d rotation = matrix3d::identity();
    vec3d position;
    vec3d angles;
    vec3d scale{1.0f, 1.0f, 1.0f};
    Record* owner;
    OrientedBox box;

private:
    void changed();
};
