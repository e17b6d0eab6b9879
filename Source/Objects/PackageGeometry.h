#pragma once
// The collision shape of one package mesh: a box or a sphere fitted to the
// mesh's placed bounds, with an offset, size factors and a turn of its own.
// The geometry drives a record of a collision body: update fits the record
// to the mesh, and the body asks the geometry (adjustShape) each time it
// fetches the record's shape.
//
// The body writes each fetched shape back into its record, so the shape is
// fetched again and again from what the previous fetch made. adjustShape
// therefore starts every time from the shape update last fitted (or, before
// any fit, from the first shape it was handed): the offset and the factors
// are applied once however often the body fetches. The placed object's own
// scale is the body's second interface (the dynamic object's), applied
// after this one.
//
// A geometry may feed the records of several bodies (one per dynamic object
// of the package) and keeps the handle of the last it was given. The owner
// of a body lets the meshes forget it (Mesh::forgetBody) before either of
// them goes; a geometry deleted first unhooks only its last record. Main
// thread only.

#include "Objects/ObjPkgManager.h"

#include "Entity/CollisionBody.h"

#include "Core/OrientedBox.h"
#include "Core/SCList.h"
#include "Core/Vector.h"

#include <cstdint>

class FileInterface;

class ObjPkgManager::Geometry final : public EntityManager::CollisionBody::Geometry::Interface
{
public:
    using BodyGeometry = EntityManager::CollisionBody::Geometry;

    static constexpr uint32_t box = 0;
    static constexpr uint32_t sphere = 1;

    // With a body, a record of it is made for this geometry (body null: none
    // until the mesh attaches its geometries).
    Geometry(EntityManager::CollisionBody* body, Mesh* owner);
    // The record, if any, keeps its last shape and no longer asks this
    // geometry.
    ~Geometry();
    Geometry(const Geometry&) = delete;
    Geometry& operator=(const Geometry&) = delete;

    // Reads the tagged block (tags 1 to 4; later tags carry no field). True
    // when it ended at its tag 0 or where the data ends between entries;
    // false when a field is cut. Non-finite or huge values keep what was held.
    bool load(FileInterface& stream);

    // Fits the record to the mesh's placed box: a box around its axis-aligned
    // extent (kind 0), a sphere at its centre as wide as the smallest full
    // extent (kind 1); other kinds leave the record alone. Nothing without a
    // record.
    void update(const OrientedBox& meshWorldBox);

    // The body's fetch: from the fitted shape, box sizes (type 0) or the
    // sphere's diameter (type 1) times the size factors, the offset added to
    // the position and the turn to the angles.
    void adjust(int32_t type, float (&parameters)[13]) override { adjustShape(type, parameters); }
    void adjustShape(int32_t type, float (&parameters)[13]);

    // Takes body's new record for this geometry (second: the body's second
    // interface, or null) and fits it.
    void attachTo(EntityManager::CollisionBody& body, const OrientedBox& meshWorldBox,
                  EntityManager::CollisionBody::Geometry::Interface* second);

    // The editing side's view: 7 (three axes) for a box, 1 for a sphere, 0
    // for other kinds or without a record.
    uint32_t scalableAxes() const;
    // The record's shape in the object's frame (unchanged without a record).
    const OrientedBox& getWorldBox();

    uint32_t active = 0;
    Mesh* mesh;
    BodyGeometry* bodyGeometry = nullptr;
    vec3d position;
    vec3d size{1.0f, 1.0f, 1.0f};
    vec3d rotation;
    uint32_t kind = box;
    OrientedBox worldBox{{}, 1.0f, 1.0f, {{1.0f, 0.0f, 0.0f}, {0.0f, 1.0f, 0.0f}, {0.0f, 0.0f, 1.0f}}, {}};
    SCList<Geometry>::Node* listNode = nullptr;

private:
    // The shape adjustShape starts from.
    struct Shape
    {
        vec3d position;
        vec3d angles;
        vec3d size;
        float diameter = 1.0f;
    };
    Shape fitted_;
    bool hasFitted_ = false;
};
