#pragma once
// Building way meshes: vertices and panels appended one at a time, the split
// of a mesh by a plane and the merge of two meshes.

#include "Way/WayTypes.h"

#include "Core/ConvexVolume.h"

namespace Way {

// A new vertex (index = the vertex count) with its index appended at once.
void emitVertex(PartMesh& mesh, const Vertex& v);
// Four new vertices a, b, c, d: the triangles (a, b, c) and (d, a, c).
void emitPanel(PartMesh& mesh, const Vertex& a, const Vertex& b, const Vertex& c, const Vertex& d);
// Three new vertices: the triangle (a, b, c).
void emitTriangle(PartMesh& mesh, const Vertex& a, const Vertex& b, const Vertex& c);

// Appends the triangles of source in front of the plane (where
// (plane.point - p) . plane.normal > 0.001) to front and those behind it to
// back, each with vertices of its own; a triangle crossing the plane is cut
// in two. A triangle lying in the plane goes to neither. Either output may
// be null (its triangles are dropped).
void splitMeshByPlane(PartMesh& source, const ConvexVolume::Plane& plane, PartMesh* front, PartMesh* back);

// The most vertices a mesh of 16-bit indices can name.
constexpr int32_t maxMeshVertices = 65536;

// Appends source to target: its vertices after target's, its indices moved
// by target's vertex count, the boxes merged and the textures placed into one
// atlas. False, and target unchanged, when target would pass maxMeshVertices.
bool appendMesh(PartMesh& target, PartMesh& source);

}
