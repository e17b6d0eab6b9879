#pragma once
// The interfaces through which the level editor's dialogs pick, move, turn
// and scale the things they edit (object-function templates, package
// parts). Each side implements what it lets the editor change; the
// operations that are not pure do nothing by default.

#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/String.h"
#include "Core/Vector.h"

#include <cstdint>

namespace Editor {

// Something the editor can pick and outline.
class Object
{
public:
    Object() = default;
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // The box the editor outlines and picks by.
    virtual const OrientedBox& getBox() = 0;
    // Whether the editor may move, turn and scale it.
    virtual bool canMove() { return false; }
    virtual bool canRotate() { return false; }
    virtual bool canScale() { return false; }
    virtual String getName() { return String(L""); }
    // Whether the ray (origin, direction) picks it; distance is the ray
    // parameter where it does.
    virtual bool hitTest(const vec3d& origin, const vec3d& direction, float& distance) = 0;
    // The editor changed it.
    virtual void markModified() = 0;
};

}

class EditorJustificationInterface
{
public:
    virtual void getPosition(vec3d& out) = 0;
    virtual void setPosition(const vec3d& position) = 0;

protected:
    ~EditorJustificationInterface() = default;
};

class EditorScaleInterface
{
public:
    // Which scale components the editor changes apart: bit 1 x, bit 2 y,
    // bit 4 z. A component whose bit is clear follows x.
    virtual uint32_t scaleLocks() = 0;
    // The box the scale handles sit on.
    virtual const OrientedBox& scaleBox() = 0;
    virtual float getScaleX() { return 0.0f; }
    virtual float getScaleY() { return 0.0f; }
    virtual float getScaleZ() { return 0.0f; }
    virtual void setScaleX(float value) { (void)value; }
    virtual void setScaleY(float value) { (void)value; }
    virtual void setScaleZ(float value) { (void)value; }

protected:
    ~EditorScaleInterface() = default;
};

class EditorRotationInterface
{
public:
    // Angles in degrees.
    virtual void getAngles(vec3d& out) = 0;
    // The frame the angles turn in.
    virtual matrix3d getRotation() { return matrix3d::identity(); }
    // The point the editor turns about.
    virtual void getPivot(vec3d& out) { out = vec3d(); }
    virtual void setRotation(const vec3d& angles) = 0;

protected:
    ~EditorRotationInterface() = default;
};
