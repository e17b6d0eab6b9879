#pragma once

#include <cstdint>

struct neGeometry;

// One triangle handed to the collision tests by the terrain query and the
// entity contact pass: three indices into the vertex array that comes with
// it, the triangle's collision material (handed on as user data), its mode
// (0 an ordinary triangle, 1 a height-field triangle; other modes are
// skipped) and the geometry it belongs to (none for the ground).
struct neTriangle
{
    int32_t indices[3] = {0, 0, 0};
    uint32_t userData = 0;
    int32_t mode = 0;
    neGeometry* geometry = nullptr;
};
