#pragma once
// The sample models the build writes: one box per mesh encoding, made from
// code. The descriptions are what the writers store, so tests can check a
// decoded mesh against them value by value.

#include "MeshWriter.h"

#include "Core/String.h"

namespace MeshSamples {

// The box's corner k (bits 0, 1, 2 choose +x, +y, +z) and its six faces,
// each four corner numbers in a turning order.
vec3d corner(int k, float half);
extern const int faces[6][4];

// Version 5 with one 64 x 64 type-2 texture; byte coordinates.
MeshWriter::Model model();
// Two frames, the second a larger box than the first.
MeshWriter::FramedModel framedModel();
// Four-corner faces with uv and normal numbers.
MeshWriter::TextModel textModel();
// Format 274 (position, normal, uv), four vertices per face.
MeshWriter::Record record();

// Writes "Box1.mesh" to "Box4.mesh" (modes 1 to 4) into folder (which ends
// in a backslash). False when a file cannot be written.
bool save(const String& folder);

}
