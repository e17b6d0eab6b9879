#pragma once
// The four stored model encodings that MeshTools::processMode decodes, and
// what they share. Internal to the mesh tools.
//
// Model files are untrusted: every count is checked against the bytes left
// before anything is allocated, every index against its table, and nothing
// reaches the mesh until the model has been read whole, so a damaged model
// leaves the mesh as it was apart from its counts, which the caller zeroes.

#include "Entity/MeshTools.h"

#include "Core/BoundingBox.h"
#include "Core/Vector.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

class FileInterface;
struct matrix3d;

namespace MeshReaders {

enum class Result
{
    done,
    untouched, // not a model of this encoding: the mesh is left alone
    damaged,   // the caller empties the mesh
};

// The 84-byte-header model: versions "3", "4" and "5" (version 5 with
// embedded 16-bit textures), one frame of byte or 16-bit coordinates.
Result readModel(MeshTools& mesh, FileInterface& stream, const matrix3d& transform);
// The 68-byte-header model with skins, texture coordinates and frames.
Result readFramedModel(MeshTools& mesh, FileInterface& stream, const matrix3d& transform);
// The text model of "v", "vt", "vn" and "f" statements.
Result readTextModel(MeshTools& mesh, FileInterface& stream, const matrix3d& transform);
// The engine's own mesh record: stored format, box, indices, vertices.
Result readRecord(MeshTools& mesh, FileInterface& stream, const matrix3d& transform);

// Unshared vertices hold 16-bit indices: at most this many corners.
constexpr uint32_t maxUnsharedVertices = 65535;

// One corner of an unshared triangle.
struct Corner
{
    vec3d position;
    vec2d uv;
};

// Writes count corners (three per triangle; a partial triangle at the end is
// left out) as vertices 0..count-1 with
// index k at position k, and sets both counts to count. Each triangle's
// vertices get normals[t], or without normals its own unit face normal.
// False when the mesh's arrays cannot grow.
bool writeUnsharedTriangles(MeshTools& mesh, const Corner* corners, uint32_t count, const vec3d* normals = nullptr);

// Minimum and maximum over the corners, the centre between them, squared
// radius from the centre to the maximum and its square root; all zero for
// no corner.
BoundingBox cornerBox(const Corner* corners, uint32_t count);

// The next n bytes of the stream in a new buffer; null when the stream
// holds fewer or memory runs out (n may be 0: an empty buffer).
std::unique_ptr<uint8_t[]> readBlock(FileInterface& stream, uint64_t n);

// Three little-endian floats at p.
inline vec3d vec3At(const uint8_t* p)
{
    vec3d v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

// A new array of n value-initialised elements; null when memory runs out.
template <class T>
std::unique_ptr<T[]> newArray(uint64_t n)
{
    if (n > SIZE_MAX / sizeof(T))
        return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[size_t(n ? n : 1)]());
}

}
