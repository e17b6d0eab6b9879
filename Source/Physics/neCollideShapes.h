#pragma once

#include "Physics/neCollision.h"

// The shape-pair tests of the narrow phase. Each takes its first shape as A
// and its second as B, writes collided (and, on contact, the normal from B
// towards A, the depth and both points in world coordinates) and relies on
// nothing else in the record. A contact always has a finite unit normal, also
// where the shapes meet at exactly zero distance.

// Box A given by its world transform and half extents; sphere B.
void neCollideBoxSphere(neCollisionResult& r, const matrix3d& boxWorld, const vec3d& halfExtents,
                        const neGeometry& sphere, const matrix3d& sphereWorld);
void neCollideBoxCylinder(neCollisionResult& r, const neGeometry& box, const matrix3d& boxWorld,
                          const neGeometry& cylinder, const matrix3d& cylinderWorld);
// The closest points of the segment a-b and the box of half extents h centred
// at the origin, all in the box's frame.
void neSegmentBoxClosest(const vec3d& h, const vec3d& a, const vec3d& b, vec3d& onSegment, vec3d& onBox);

void neCollideSphereSphere(neCollisionResult& r, const neGeometry& a, const neGeometry& b, const matrix3d& worldA,
                           const matrix3d& worldB);
void neCollideCylinderSphere(neCollisionResult& r, const neGeometry& cylinder, const matrix3d& cylinderWorld,
                             const neGeometry& sphere, const matrix3d& sphereWorld);
void neCollideCylinderCylinder(neCollisionResult& r, const neGeometry& a, const matrix3d& worldA,
                               const neGeometry& b, const matrix3d& worldB);

// Against the terrain's triangles (B, in world coordinates): the deepest
// contact over the candidates, with the triangle's user data.
void neCollideSphereTerrain(neCollisionResult& r, const neGeometry& sphere, const matrix3d& world,
                            const neGeometry& terrain);
void neCollideCylinderTerrain(neCollisionResult& r, const neGeometry& cylinder, const matrix3d& world,
                              const neGeometry& terrain);
void neCollideBoxTerrain(neCollisionResult& r, const neGeometry& box, const matrix3d& world, const neGeometry& terrain);
// Against one triangle geometry (its vertices in its own frame).
void neCollideBoxTriangle(neCollisionResult& r, const neGeometry& box, const matrix3d& boxWorld,
                          const neGeometry& triangle, const matrix3d& triangleWorld);
