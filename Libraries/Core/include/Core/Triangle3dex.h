#pragma once

#include "Core/Vector.h"

#include <cstdint>

// One triangle of a mesh as the mesh tools and the bones keep it: its corner
// positions, centroid and unit normal, where its first index stands in the
// mesh's index list, and its three vertex numbers. A new record is zero.
// Copied by value into triangle trees and bone tables, never stored in files
// with pointers: 68 bytes on every platform.
struct triangle3dex
{
    vec3d corners[3];
    vec3d centroid;
    vec3d normal;             // unit length; zero for a triangle without area
    uint16_t firstIndex = 0;  // index-list position of corner 0 (16 bits: meshes of up to 65,536 indices)
    uint16_t vertices[3] = {};
};
static_assert(sizeof(triangle3dex) == 68);
