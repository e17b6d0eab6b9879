#pragma once
// The collision shape of one object: boxes, spheres and cylinders placed in
// the object's frame, attached to the object's rigid body or to an animated
// body of the rigid-body engine. The editing side (the object packages'
// geometries) may adjust each geometry's parameters through its interfaces
// whenever the shape is fetched.
//
// The same record carries the level barriers: four walls along the edges of
// the terrain, and a translucent band where they stand that shows near the
// camera through the projected texture "BarrierTexProj".
//
// Every engine call happens between simulator steps: the owner waits for the
// physics step to end first. Main thread only.

#include "Entity/EntityManager.h"

#include <TextureRecord.h>

#include "Core/BoundingBox.h"
#include "Core/Color.h"
#include "Core/Matrix.h"
#include "Core/OrientedBox.h"
#include "Core/SCList.h"

#include <windows.h>
#include <d3d9.h>

#include <cstdint>
#include <memory>

class GeometryInterface;
class neAnimatedBody;
class neRigidBody;
struct neGeometry;

class EntityManager::CollisionBody
{
public:
    class Geometry;
    struct BarrierBand;

    CollisionBody() = default;
    // clear, and the barriers' device objects when there are any.
    ~CollisionBody();
    CollisionBody(const CollisionBody&) = delete;
    CollisionBody& operator=(const CollisionBody&) = delete;

    // A box of unit size at the origin, linked to this body (attached at once
    // when the body has an engine body) and appended to the list. Null when
    // memory ran out.
    Geometry* addGeometry(GeometryInterface* first, GeometryInterface* second = nullptr);

    // Takes body (the object's rigid body in the engine) unless a rigid body
    // is set already, attaches every geometry and updates the body's inertia
    // and bounds. Geometries leave the animated body, which is forgotten.
    void attachToBody(neRigidBody* body);
    // Takes body unless an animated body is set already and attaches every
    // geometry. Geometries leave the rigid body, which is forgotten.
    void attachToAnimatedBody(neAnimatedBody* body);
    // Every geometry's parameters fetched, its transform rebuilt and, when
    // attached, its engine shape set.
    void syncTransforms();
    // A rigid body gets the inertia of a cube over the merged box of all
    // geometries (largest half extent, the body's mass) and new bounds; an
    // animated body new bounds. Nothing without geometries.
    void updateRigidBody();
    // Detaches and deletes every geometry.
    void clear();

    // The level barriers around the terrain box: the wall band (8 vertices in
    // colour at the box's corners, low and high, 8 triangles) in two managed
    // buffers, the texture "BarrierTexProj" that shows the band within reach
    // of the camera, and four walls 10 units thick along the box's edges,
    // from the box's bottom to height above its top, as box geometries on
    // body (the physics manager's animated body; null leaves them
    // detached), made active and synchronised. False when the band's buffers
    // or the texture could not be made (the walls are built all the same).
    bool buildBarriers(const BoundingBox& terrainBox, float height, Color colour, float reach, neAnimatedBody* body);
    // Draws the band under its projected texture when its bounding sphere is
    // not outside the view, restoring what it changes (the cull mode to the
    // device's normal one). Nothing without barriers or a device.
    void renderBarrierProjection();
    // The band's buffers, the texture and the painted image go, the geometries
    // are cleared and both bodies forgotten.
    void releaseBarriers();

    SCList<Geometry> geometries;
    neRigidBody* rigidBody = nullptr;
    neAnimatedBody* animatedBody = nullptr;
    std::unique_ptr<BarrierBand> barriers;
};

// What the object packages' geometries implement: given the geometry's type
// and its parameter block {position (3), angles (3), size (3), diameter,
// height, spare, one more}, they may change position, angles, size,
// diameter and height in place.
class GeometryInterface
{
public:
    virtual void adjust(int32_t type, float (&parameters)[13]) = 0;

protected:
    ~GeometryInterface() = default;
};

class EntityManager::CollisionBody::Geometry
{
public:
    using Interface = GeometryInterface;

    static constexpr int32_t box = 0;
    static constexpr int32_t sphere = 1;
    static constexpr int32_t cylinder = 2;

    Geometry(CollisionBody& body, Interface* first, Interface* second);
    // Detaches.
    ~Geometry();
    Geometry(const Geometry&) = delete;
    Geometry& operator=(const Geometry&) = delete;

    // An engine geometry on the owner's rigid body, else on its animated body,
    // unless there is one already. False when the owner has no body (or the
    // engine's geometry pool is empty).
    bool attach();
    // The engine geometry goes back to its body's pool; both interfaces are
    // forgotten.
    void detach();
    // The engine geometry goes back to its body's pool; the interfaces stay.
    void dropEngineGeometry();
    // A box: size the box record's extents, position its centre.
    void setBox(const BoundingBox& bounds);
    // A sphere: diameter the largest extent of the box record, position its centre.
    void setSphere(const BoundingBox& bounds);
    // The shape as an oriented box in the object's frame: centre and axes
    // from the local transform (after a fetch); half extents the box's half
    // size, the sphere's radius on every axis, or the cylinder's radius,
    // half height and radius.
    void fillShapeDesc(OrientedBox& out);
    // Fetch, rebuild, and when attached the engine's shape and transform.
    void sync();

    // The parameters through the interfaces (the first, then the second), or
    // kept as they are without a first interface.
    void fetchParameters();
    // The turn of the angles (degrees, Ry Rx Rz) placed at position.
    void updateLocalTransform();

    vec3d position;
    vec3d angles;
    vec3d size{1.0f, 1.0f, 1.0f};
    float diameter = 1.0f;
    float height = 1.0f;
    float spare = 0.0f;
    CollisionBody* owner;
    neGeometry* engineGeometry = nullptr;
    Interface* first;
    Interface* second;
    matrix3d local = matrix3d::identity();
    int32_t type = box;
    SCList<Geometry>::Node* listNode = nullptr;
};

// The band and texture of the level barriers.
struct EntityManager::CollisionBody::BarrierBand
{
    struct Vertex
    {
        vec3d position;
        uint32_t colour;
    };
    static_assert(sizeof(Vertex) == 16);
    static constexpr DWORD format = D3DFVF_XYZ | D3DFVF_DIFFUSE;

    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DIndexBuffer9* indexBuffer = nullptr;
    uint32_t vertexCount = 0;
    uint32_t triangleCount = 0;
    TextureRef texture;
    // Camera space to the texture: the disc of the texture centred on the
    // camera, size units across, seen from above.
    matrix3d projector = matrix3d::identity();
    float size = 0.0f;
    // Around the band's vertices.
    BoundingBox bounds;
};
