#pragma once
// The records every part of the road network shares: the way vertex, the
// cross-section of a segment, and the names of the point lists.

#include "Entity/Mesh.h"

#include "Core/SCList.h"
#include "Core/Vector.h"

#include <cstdint>

namespace Way {

class Modeler;
class Point;
class Segment;

// The vertex of every way mesh: position, normal, one texture coordinate
// pair; flexible vertex format XYZ | NORMAL | TEX1.
struct Vertex
{
    vec3d position;
    vec3d normal;
    vec2d uv;
};
static_assert(sizeof(Vertex) == 32, "way vertices are 32 bytes, as the vertex pools hold them");

constexpr uint32_t vertexFormat = 0x112;

// The meshes the modelers build and the segments upload.
using PartMesh = ::Mesh<Vertex, vertexFormat>;

// One cross-section of a segment: where along the curve it lies, the centre
// and the two edge points of the road there, and its unit directions. The
// keep mark protects it from thinning; the drop mark removes it.
struct Pos
{
    float t = 0.0f;        // curve parameter 0..1
    float distance = 0.0f; // t x the curve's length
    float heightOffset = 0.0f;
    uint32_t keep = 0;
    uint32_t drop = 0;
    vec3d centre;
    vec3d left;
    vec3d right;
    vec3d side;    // horizontal unit vector from the left edge towards the right
    vec3d normal;  // the road surface's normal (the mesh build writes it)
    vec3d forward; // unit vector along the curve
};
static_assert(sizeof(Pos) == 23 * sizeof(float), "a cross-section is 23 words of data");

// A way or a branch: a list of points, each node naming its neighbours.
using PointList = SCList<Point>;
using PointNode = PointList::Node;

}
