#pragma once

#include "Physics/neMath.h"

#include <cstdint>

struct neTriangle;
struct neConvexBlock;

// Shape codes of a geometry. The game makes boxes, spheres and cylinders; the
// simulator makes the terrain record; the others hold data the engine does not own.
enum neShapeType : uint32_t
{
    neShapeTriangle = 2,  // one triangle: three indices into a vertex array
    neShapeBox = 3,       // half extents
    neShapeSphere = 4,    // radius
    neShapeCylinder = 5,  // radius and half length along the geometry's y axis, rounded ends
    neShapeTerrain = 6,   // the terrain query's triangles, in world coordinates
    neShapeVertexSet = 7, // a vertex array
    neShapeConvex = 8,    // a convex feature block
};

// The terrain's triangles as the terrain query hands them over for one body:
// one candidate index per triangle to test, the triangles and their vertices.
// The last groundCount triangles are the ground's: a height field, solid
// beneath its surface, out of which a box is pushed upwards; the others
// (the static entities' meshes) are triangles with two open sides.
struct neTerrainTriangles
{
    const int32_t* candidates;
    int32_t candidateCount;
    const neTriangle* triangles;
    int32_t triangleCount;
    const vec3d* vertices;
    int32_t vertexCount;
    int32_t groundCount;

    bool isGround(int32_t index) const { return index >= triangleCount - groundCount; }
};

// What a geometry's shape is made of; the geometry's type says which member holds.
union neGeometryShape
{
    struct { float x, y, z; } box;                     // half extents
    struct { float radius, radiusSq, halfLength; } round; // sphere (no half length) and cylinder
    struct { const vec3d* vertices; int32_t count; } vertexSet;
    struct { int32_t index[3]; int32_t vertexCount; const vec3d* vertices; } triangle;
    const neConvexBlock* convex;
    neTerrainTriangles terrain;
};

// One collision shape of a body, placed in the body's frame by its transform.
// A record of the simulator's geometry pool; its links chain the body's
// geometry list or the pool's free list.
struct neGeometry
{
    neGeometryShape shape;
    matrix3d transform;
    float radius;  // bounding radius of a box (the length of its half extents)
    float radius2; // a second copy; for vertex sets the reach is (radius2 + 1) x the farthest vertex
    uint32_t type;
    uint32_t userData; // the game's collision material
    uint32_t spare;
    vec3d inertia;
    vec3d breakNormal;
    float breakMass;
    float breakThreshold;
    float breakShare;
    float breakSpare;
    uint32_t breakKind;

    neGeometry* next;
    neGeometry* prev;
    uint8_t inUse;

    // A unit box at the body's origin with user data 0.
    void reset();
    // Full sizes: the half extents are half of them.
    void setBoxSize(float x, float y, float z);
    void setSphere(float radius);
    void setCylinder(float radius, float halfLength);

    vec3d halfExtents() const { return {shape.box.x, shape.box.y, shape.box.z}; }
    vec3d position() const { return nePosition(transform); }

    // How far the shape reaches from the body's origin; 0 for triangle shapes.
    float boundingRadius() const;
    // The shape's axis-aligned box in the body's frame, grown into lo and hi;
    // false (nothing grown) for triangle shapes.
    bool growBodyBox(vec3d& lo, vec3d& hi) const;
};

// A segment probe of a body, in the body's frame, with the deepest hit of the
// current step. A record of the simulator's sensor pool.
struct neSensor
{
    vec3d start;
    vec3d vector;
    float length;
    float depth;
    vec3d normal;
    vec3d point;
    uint32_t userData;
    struct neRigidBodyBase* detected;

    neSensor* next;
    neSensor* prev;
    uint8_t inUse;
};
