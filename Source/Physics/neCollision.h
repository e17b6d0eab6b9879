#pragma once

#include "Physics/neGeometry.h"
#include "Physics/neRigidBodyBase.h"

#include <cstdint>

class neAllocatorAbstract;

// One contact between two bodies, or one row of a joint: the narrow phase
// writes the points, the normal and the depth; the collision pass turns the
// points into arms of the two bodies; the solver reads the rest.
//
// Contact convention: the normal (third row of the frame) is a unit vector
// from B towards A, the depth is positive while the shapes overlap, and
// point B = point A + depth x normal.
struct neCollisionResult
{
    vec3d pointA; // world, from the narrow phase; after the pass relative to A's position
    vec3d pointB;
    vec3d pointABody; // point A in A's frame
    vec3d pointBBody;
    vec3d worldPointA;
    vec3d worldPointB;
    neM3 frame; // row 2 is the normal; the other rows are the solver's
    neM3 frameTransposed;
    float terms[9];
    uint32_t userDataA;
    uint32_t userDataB;
    float depth;
    uint32_t collided;
    neRigidBodyBase* bodyA;
    neRigidBodyBase* bodyB;
    float values[2];
    neGeometry* geometryA;
    neGeometry* geometryB;
    neM3 matrices[2];
    float last;
    uint32_t kind;
    uint32_t spare;

    vec3d normal() const { return frame.r[2]; }
    void setNormal(const vec3d& n) { frame.r[2] = n; }

    // Points zero and the matrices identity; the other fields stay.
    void reset();
    void copy(const neCollisionResult& from) { *this = from; }
    // Seen from the other side: the normal negated, points and geometries exchanged.
    void swap();
    // Writes a contact: collided, normal, depth and both points (world).
    void set(const vec3d& normal, float depth, const vec3d& pointA, const vec3d& pointB);

    // Whether the row may be skipped because its bodies rest; a resting side
    // facing a moving one is dropped from the row (it acts as immovable).
    int dropRestingSides();
};

// Working lists of the several-against-several case, sized for the largest
// geometry count a body can have (the geometry pool's size).
struct neCollisionScratch
{
    const neGeometry** first = nullptr;
    const neGeometry** second = nullptr;
    int32_t capacity = 0;

    void build(neAllocatorAbstract& allocator, int32_t geometries);
    void release(neAllocatorAbstract& allocator);
};

// The narrow-phase test of two geometries at their world transforms, picked
// by their shape types; a pair without a test leaves collided 0.
void neCollideGeometries(neCollisionResult& result, const neGeometry& a, const neGeometry& b,
                         const matrix3d& worldA, const matrix3d& worldB);

// The deepest touching pair of geometries of two bodies (the first of equal
// depths). A terrain side has the terrain record as its bounds and as its one
// geometry, and is not moved by its transform. Afterwards the points are
// relative to the bodies' positions, with their world and body-frame copies.
void neCollideBodies(neCollisionResult& result, const neCollisionView& a, const neCollisionView& b,
                     const matrix3d& transformA, const matrix3d& transformB, neCollisionScratch& scratch);

// The box / box test: separating axes over the faces of both boxes and the
// pairs of their edges.
void neCollideBoxes(neCollisionResult& result, const neGeometry& a, const neGeometry& b, const matrix3d& worldA,
                    const matrix3d& worldB);

// Closest points of the segments P1-P2 and Q1-Q2 as parameters s and t along
// them; false for a segment of no length or (nearly) parallel lines.
bool neSegmentParameters(const vec3d& p1, const vec3d& p2, const vec3d& q1, const vec3d& q2, float& s, float& t);

// The closest points, written only when both lie inside their segments
// (0 <= s <= 1, 0 <= t < 1).
bool neSegmentClosestPoints(const vec3d& p1, const vec3d& p2, const vec3d& q1, const vec3d& q2, vec3d& onP, vec3d& onQ);

struct neSegmentPair
{
    vec3d onP;
    vec3d onQ;
    float s;
    float t;
    float distance;
    bool inside;
};
// The closest points of the two lines whether inside the segments or not.
bool neSegmentClosestPoints(const vec3d& p1, const vec3d& p2, const vec3d& q1, const vec3d& q2, neSegmentPair& out);

// A box's centre, scaled axes and, once asked for, its eight corners in the
// order (+a +b +c), (+a +b -c), (+a -b +c), (+a -b -c), (-a +b +c) ... (-a -b -c).
struct neBoxWork
{
    vec3d centre;
    vec3d axes[3]; // unit axis times half extent
    vec3d unitAxes[3];
    vec3d half;
    vec3d corners[8];
    bool cornersReady = false;

    neBoxWork(const matrix3d& world, const vec3d& halfExtents);
    // The world box around it.
    void bounds(vec3d& lo, vec3d& hi) const;
};
void neBoxCorners(neBoxWork& box);
