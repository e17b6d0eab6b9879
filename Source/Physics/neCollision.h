#pragma once

#include "Physics/neGeometry.h"
#include "Physics/neRigidBodyBase.h"

#include <cstdint>

class neAllocatorAbstract;

struct neConstraint;

// One contact between two bodies, or one row of a joint: the narrow phase
// writes the points, the normal and the depth; the collision pass turns the
// points into arms of the two bodies; the constraint code and the resting
// contacts fill rows of their own kinds; the solver reads the rest.
//
// Contact convention: the normal (third row of the frame) is a unit vector
// from B towards A, the depth is positive while the shapes overlap, and
// point B = point A + depth x normal.
struct neCollisionResult
{
    // Row kinds.
    enum : uint32_t
    {
        collision = 1,     // a contact of the contact stage
        contact = 2,       // a resting contact
        point = 3,         // a point of a ball joint or hinge
        pointOnLine = 4,   // a point of a slide
        slideLimit = 5,    // one-sided along the axis
        angularLimit = 6,  // the limit of a ball joint or hinge
        twistLimit = 7,    // the twist limit of a ball joint
        hingeMotor = 8,
        none = 9,
        slideMotor = 10,
    };

    vec3d pointA; // world, from the narrow phase; after the pass relative to A's position
    vec3d pointB;
    vec3d pointABody; // point A in A's frame
    vec3d pointBBody;
    vec3d worldPointA;
    vec3d worldPointB;
    neM3 frame; // row 2 is the normal; rows 0 and 1 the tangents the solver builds
    neM3 frameTransposed;
    vec3d relativeVelocity; // world: A's point minus B's (a side that is no rigid body counts as still)
    vec3d error;            // a joint point's separation, A's point minus B's
    vec3d axis;             // of one-axis and angular rows (A's own axis for twist limits and motors)
    uint32_t userDataA;     // materials of the two sides
    uint32_t userDataB;
    float depth;
    uint32_t collided;
    neRigidBodyBase* bodyA; // only rigid bodies take impulses
    neRigidBodyBase* bodyB;
    float weight; // 1.0, or less for a resting contact that only nearly touches
    float target; // a motor's speed
    neGeometry* geometryA;
    neGeometry* geometryB;
    neM3 kInverse; // the inverse effective mass: in the contact frame for contacts, else in world axes
    neM3 rotation; // a twist limit's turn about the joint's axis
    float effectiveMass; // of the one-axis and angular rows
    uint32_t kind;
    neConstraint* constraint; // the slide whose limit the row holds
    vec3d axisB;              // B's own axis of twist limits and motors
    float normalMass;         // K_nn: the normal-normal entry of the effective mass
    float errorLength;        // a slide point's error across its axis
    // Where corners of a box lie equally deep, the points stand at their
    // middle, so that an impulse there turns a symmetric body neither way;
    // a resting contact needs a corner to find the body's support: it takes
    // the points moved by this (world axes; zero for a single point).
    vec3d restShift;

    vec3d normal() const { return frame.r[2]; }
    void setNormal(const vec3d& n) { frame.r[2] = n; }

    // Points, velocities and axes zero, the matrices identity; the other fields stay.
    void reset();
    void copy(const neCollisionResult& from) { *this = from; }
    // Seen from the other side: the normal negated, points and geometries exchanged.
    void swap();
    // Writes a contact: collided, normal, depth and both points (world).
    void set(const vec3d& normal, float depth, const vec3d& pointA, const vec3d& pointB);

    // Whether the row may be skipped because its bodies rest; a resting side
    // facing a moving one is dropped from the row (it acts as immovable).
    int dropRestingSides();

    // Makes the row ready for the solver: the contact frame, the effective
    // mass of its kind. bImmovable leaves B out, as if it were the ground.
    void prepare(bool bImmovable);
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
// Box corners whose depths differ by less than this share of the box's
// extent count as equally deep; so do contact axes.
constexpr float neDepthTie = 1e-4f;

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
