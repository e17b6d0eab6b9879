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
#include <memory>
#include <vector>

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

// The editing side of a template of several placed entries, such as the
// fires of a Fire or the flares of a LensFlare: the editor works on the
// selected entry. A pick remembers the first entry whose box the ray meets;
// what marking it makes of that pick is the template's own. Each change
// re-places the entry (its position, angles and one scale value for all
// three axes). Owner derives from it and lists its entries in entries();
// an entry has position, angles, scale, box and place().
template <class Owner>
class EntriesEditor : public ObjPkgManager::Functions::BaseFuncEditor
{
public:
    const OrientedBox& getBox() override
    {
        static const OrientedBox none{};
        const auto* entry = selectedEntry();
        return entry ? entry->box : none;
    }
    bool canMove() override { return true; }
    bool canRotate() override { return true; }
    bool canScale() override { return true; }
    bool hitTest(const vec3d& origin, const vec3d& direction, float& distance) override
    {
        const auto& list = entryList();
        for (size_t i = 0; i < list.size(); ++i) {
            if (picks(list[i]->box, origin, direction, distance)) {
                picked = int32_t(i);
                return true;
            }
        }
        return false;
    }
    void getPosition(vec3d& out) override
    {
        if (const auto* entry = selectedEntry())
            out = entry->position;
    }
    void setPosition(const vec3d& at) override
    {
        change([&](auto& entry) { entry.position = at; });
    }
    uint32_t scaleLocks() override { return 1; }
    const OrientedBox& scaleBox() override { return getBox(); }
    float getScaleX() override
    {
        const auto* entry = selectedEntry();
        return entry ? entry->scale.x : 0.0f;
    }
    void setScaleX(float value) override
    {
        change([&](auto& entry) { entry.scale = {value, value, value}; });
    }
    void getAngles(vec3d& out) override
    {
        if (const auto* entry = selectedEntry())
            out = entry->angles;
    }
    void getPivot(vec3d& out) override { getPosition(out); }
    void setRotation(const vec3d& degrees) override
    {
        change([&](auto& entry) { entry.angles = degrees; });
    }

    // The selected entry, or null.
    auto* selectedEntry() const { return entryAt(selected); }
    // The last pick when it names an entry, else the selection: what
    // marking the pick selects.
    int32_t pickedOrSelected() const { return entryAt(picked) ? picked : selected; }

    int32_t selected = 0; // index into the entries, -1 for none
    int32_t picked = -1;  // the entry the editor's last pick hit, or -1

private:
    const auto& entryList() const { return static_cast<const Owner*>(this)->entries(); }
    auto* entryAt(int32_t i) const
    {
        const auto& list = entryList();
        return i >= 0 && size_t(i) < list.size() ? list[size_t(i)].get() : nullptr;
    }
    template <class Change>
    void change(Change apply)
    {
        if (auto* entry = selectedEntry()) {
            apply(*entry);
            entry->place();
        }
    }
};

// Whether the objects an instance built still stand one to one for the
// template's entries (each object names its entry through entryOf): the
// editor adds, deletes and reloads entries, and a count that came back to
// the same may still name entries that are gone.
template <class Object, class Entry>
bool followsEntries(const Object* objects, int32_t built, const std::vector<std::unique_ptr<Entry>>& entries,
                    Entry* Object::*entryOf)
{
    if (built != int32_t(entries.size()) || (!objects && built > 0))
        return false;
    for (int32_t i = 0; i < built; ++i)
        if (objects[i].*entryOf != entries[size_t(i)].get())
            return false;
    return true;
}
